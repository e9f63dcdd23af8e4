// The outputs of a run, checked together before any of them is touched: no
// output may be the input or another output, and each must be creatable.
// Only when every check has passed are files created, locked or emptied, so
// that a refused run leaves every existing file as it was.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "io/sink.h"

namespace nrvq {

enum class WriteMode {
    // Written through as the run goes (the results log): created, locked and
    // emptied once the whole plan has passed.
    Streaming,
    // Written whole (JSON, CSV, the report): into a temporary file in the
    // same folder, renamed over the path when complete. A run that fails
    // leaves the earlier file as it was.
    WholeFile,
};

// One output as the command line names it.
struct PlannedOutput {
    std::string option;  // "--json": names the output in messages
    std::string path;    // "-": standard output
    WriteMode mode = WriteMode::WholeFile;
};

// An output that passed the plan, open for writing.
class PreparedOutput {
public:
    PreparedOutput(const PreparedOutput&) = delete;
    PreparedOutput& operator=(const PreparedOutput&) = delete;
    // Removes a temporary file that was never committed.
    ~PreparedOutput();

    const std::string& option() const { return option_; }
    const std::string& path() const { return path_; }
    bool toStandardOutput() const { return path_ == "-"; }
    // The descriptor to write to; standard output's for "-". Stays open
    // until commit() (or the end of the run).
    int fd() const { return fd_; }
    // Hands the descriptor over (the caller closes it); commit() then only
    // renames.
    int release();
    // Closes the file and, for a whole file, renames it into place. Throws
    // OutputError naming the path when that fails.
    void commit();

private:
    friend std::vector<std::unique_ptr<PreparedOutput>> prepareOutputs(const std::vector<PlannedOutput>&,
                                                                       const std::string&);
    PreparedOutput(std::string option, std::string path) : option_(std::move(option)), path_(std::move(path)) {}
    std::string option_;
    std::string path_;
    std::string target_;     // the file renamed over (symbolic links resolved)
    std::string temporary_;  // "" when written in place
    bool created_ = false;   // a streaming file that did not exist before
    int fd_ = -1;
    bool ownsFd_ = false;
};

// Checks every output against the input (inputPath, "-" for standard input)
// and against each other, and standard output against the input, then opens
// them in the order given. Throws
// OutputError naming the output's option, its path and the reason when any
// check or opening fails; nothing existing has then been changed.
std::vector<std::unique_ptr<PreparedOutput>> prepareOutputs(const std::vector<PlannedOutput>& outputs,
                                                            const std::string& inputPath);

// The one writer of every output file: an output of the plan, or standard
// output for the path "-". Every failed write throws OutputError naming the
// output ("Cannot write the JSON output out.json: ...").
class OutputFile {
public:
    // target stays with the caller, who puts it in place (commit) once
    // every output is complete.
    OutputFile(PreparedOutput& target, const std::string& what);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void write(const std::string& text);
    void flush();
    // Flushes and closes (standard output is only flushed).
    void close();

private:
    [[noreturn]] void fail(int error);
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::string what_;
};

// An output written whole once the run is over (the JSON document, the HTML
// report, the events CSV): the text goes to the plan's temporary file, which
// commit() renames into place when every output is complete.
class WholeFileOutput : public FrameSink {
public:
    WholeFileOutput(PreparedOutput& target, const std::string& what) : file_(target, what) {}
    void frame(const FrameRecord&) override {}
    void finish(const RunSummary& summary) final;

private:
    // Writes the whole text (in pieces where it is long).
    virtual void write(OutputFile& file) = 0;
    OutputFile file_;
};

}  // namespace nrvq
