// The HTML report: one self-contained page with the input's properties, the
// summary table and a chart of every indicator over the frame index, the
// blackout and freezing spans shaded on each chart. Inline SVG and CSS only,
// nothing fetched from anywhere.
#pragma once

#include <string>

#include "io/data_output.h"
#include "io/results.h"
#include "io/sink.h"

namespace nrvq {

std::string htmlReport(const ResultTable& table, const std::string& version);

// Writes the page once the run is over.
class HtmlReport : public FrameSink {
public:
    HtmlReport(PreparedOutput& target, const ResultTable& table, std::string version);
    void frame(const FrameRecord&) override {}
    void finish(const RunSummary& summary) override;

private:
    OutputFile file_;
    const ResultTable& table_;
    std::string version_;
};

}  // namespace nrvq
