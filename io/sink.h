// Where a run's results go: the console rows, the tab-separated log, and the
// machine-readable outputs. Sinks see records in frame order and know nothing
// about how an indicator works.
#pragma once

#include <stdexcept>
#include <string>

#include "engine/frame.h"
#include "engine/source.h"

namespace nrvq {

// A sink could not write (a full disk, a closed pipe).
class OutputError : public std::runtime_error {
public:
    explicit OutputError(const std::string& what, int error = 0) : std::runtime_error(what), error_(error) {}
    // The errno of the failed write (EPIPE: the reader went away).
    int error() const { return error_; }

private:
    int error_;
};

// The end of a run, for the sinks that summarise it.
struct RunSummary {
    int64_t examined = 0;       // frames analysed
    Timings timings;            // processor seconds per indicator
    double processSeconds = 0;  // processor seconds of the whole run
    bool stopped = false;       // ended before the input did (a signal, a reader gone)
    // No read failed and every reader took every frame; a run stopped by a
    // signal is complete up to where it stopped.
    bool complete = true;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Once, before the first frame.
    virtual void begin(const SourceInfo& /*info*/) {}
    // Every examined frame, in order. Throws OutputError when it cannot write.
    virtual void frame(const FrameRecord& record) = 0;
    // Once, after the last frame (also after a run cut short).
    virtual void finish(const RunSummary& /*summary*/) {}
};

}  // namespace nrvq
