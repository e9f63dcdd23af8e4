// The HTML report: one self-contained page that leads with the verdict (pass,
// warning or fail from the events' severities) and the counts of events, then
// the input's properties, a timeline of the events, a picture of every event
// and of every indicator's extreme frame, and a chart of every indicator over
// time. The charts are inline SVG, drawn down to one minimum and maximum per
// pixel column; a little embedded script shows the value under the pointer
// and zooms all charts on a range. Nothing is fetched from anywhere.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "io/data_output.h"
#include "io/results.h"
#include "io/sink.h"
#include "io/thumbnails.h"

namespace nrvq {

// thumbnails and encoder may be null: a page without pictures. compared:
// further inputs (--compare), whose lines each chart draws beside the main
// input's, on one time axis, each with its verdict and timeline of events.
std::string htmlReport(const ResultTable& table, const std::string& version,
                       const ThumbnailCollector* thumbnails = nullptr, ThumbnailEncoder* encoder = nullptr,
                       const std::vector<const ResultTable*>& compared = {});

// Writes the page once the run is over.
class HtmlReport : public WholeFileOutput {
public:
    HtmlReport(PreparedOutput& target, const ResultTable& table, std::string version,
               const ThumbnailCollector* thumbnails = nullptr);
    // Adds a compared input's values and events; the table must last until finish.
    void compare(const ResultTable& table) { compared_.push_back(&table); }

private:
    void write(OutputFile& file) override;
    const ResultTable& table_;
    std::string version_;
    const ThumbnailCollector* thumbnails_;
    std::vector<const ResultTable*> compared_;
};

}  // namespace nrvq
