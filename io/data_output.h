// Machine-readable outputs: a JSON document of the whole run and a CSV file
// (RFC 4180) with one row per frame. Both give every value at full double
// precision, exposure untruncated, and nothing where a value is missing.
#pragma once

#include <array>
#include <string_view>
#include <string>

#include "io/output_plan.h"
#include "io/results.h"
#include "io/sink.h"

namespace nrvq {

// Appends the shortest text that reads back as exactly value (JSON and CSV
// both accept it); value must be finite.
void appendNumber(std::string& out, double value);
// Appends `, "key": value` to a JSON object being written, null where value
// is not finite.
void appendJsonField(std::string& out, std::string_view key, double value);

// The opinion-score keys that follow the indicators in the data outputs (when
// blockiness and blur are among them), and their values for a frame's
// blockiness and blur (not finite where the indicator has no finite value).
extern const std::array<std::string_view, 2> kOpinionKeys;
inline constexpr std::array<Column, 2> kOpinionColumns = {kBlockiness, kBlur};
std::array<double, 2> opinionScores(double blockiness, double blur);

// The JSON document, written once the run is over from the collected values.
class JsonOutput : public WholeFileOutput {
public:
    JsonOutput(PreparedOutput& target, const ResultTable& table, std::string version);

private:
    void write(OutputFile& file) override;
    const ResultTable& table_;
    std::string version_;
};

// The CSV file, one row per frame as it is measured.
class CsvOutput : public FrameSink {
public:
    // columns: the indicators it holds (--only, --skip).
    explicit CsvOutput(PreparedOutput& target, ColumnSet columns = ColumnSet(kAllColumns));
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;

private:
    OutputFile file_;
    ColumnSet columns_;
    std::string row_;
};

}  // namespace nrvq
