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

#include "io/data_output.h"
#include "io/results.h"
#include "io/sink.h"
#include "io/thumbnails.h"

namespace nrvq {

// thumbnails and encoder may be null: a page without pictures.
std::string htmlReport(const ResultTable& table, const std::string& version,
                       const ThumbnailCollector* thumbnails = nullptr, ThumbnailEncoder* encoder = nullptr);

// Writes the page once the run is over.
class HtmlReport : public WholeFileOutput {
public:
    HtmlReport(PreparedOutput& target, const ResultTable& table, std::string version,
               const ThumbnailCollector* thumbnails = nullptr);

private:
    void write(OutputFile& file) override;
    const ResultTable& table_;
    std::string version_;
    const ThumbnailCollector* thumbnails_;
};

}  // namespace nrvq
