// The analysis of one video: the indicators' implementations (fast or
// literal), their working memory sized once for the frame size, and the
// state that freezing and flickering carry from frame to frame. Contexts are
// independent: one process may analyse any number of videos at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "engine/frame.h"
#include "engine/frame_buffer.h"
#include "engine/source.h"
#include "kernels/scratch.h"
#include "metrics/flickering.h"
#include "metrics/freezing.h"
#include "nrvq/nrvq.h"
#include "tools/definitions.h"

namespace nrvq {

// What a run is asked: threads and the literal or fast indicators. The
// public nrvq::Options, so that the library's callers and the command line
// speak the same type.
using AnalyzerOptions = Options;

// The threads a run uses for AnalyzerOptions::threads.
unsigned resolveThreads(unsigned threads);

// Reads a thread's own processor clock, in seconds.
double threadSeconds();
// Reads the whole process's processor clock, in seconds.
double processSeconds();

// What the temporal columns' pair steps (IndicatorInfo::literal/fast.pair)
// found on a frame and the one before it, done by a worker ahead of the
// ordered steps or by the ordered state itself.
struct TemporalInputs {
    TemporalInputs(int32_t width, int32_t height);
    bool ready = false;      // the pair steps ran for this frame
    // Temporal activity and the changed blocks came with the frame's walk in
    // FrameWorker::analyze; the pair steps leave them as they are.
    bool walked = false;
    double activity = 0.0;   // temporal activity
    std::vector<uint8_t> changed;  // flickering's changed blocks
};

// The state the temporal columns carry from frame to frame of one video.
struct TemporalMemory {
    TemporalMemory(int32_t width, int32_t height, double fps);
    double fps;
    FreezingState freezing;
    FlickeringState flickering;
    OwnedImage<Image> transitionCounts;  // flickering's per-block state, (w / 8) x (h / 8)
    OwnedImage<Image> blockStates;
};

// The single-frame indicators of one frame, with the working memory of the
// thread that computes them.
class FrameWorker {
public:
    // Computes the columns in indicators and what they need.
    FrameWorker(int32_t width, int32_t height, bool reference, uint32_t indicators = kAllColumns);
    // Computes every single-frame column of record and adds the time each
    // took to timings. With the frame before and the frame's inputs given,
    // its walk over the frame may also take the temporal columns' work on
    // the two frames along (into inputs, which analyzeTemporal completes).
    void analyze(const Image* frame, FrameRecord& record, Timings& timings, const Image* previous = nullptr,
                 TemporalInputs* inputs = nullptr);
    // Runs the temporal columns' pair steps on frame and the frame before it
    // into inputs (ready unless previous is null) and adds their times to
    // timings.
    void analyzeTemporal(const Image* frame, const Image* previous, TemporalInputs& inputs, Timings& timings);
    Scratch& scratch() { return scratch_; }
    const Scratch& scratch() const { return scratch_; }

private:
    bool reference_;
    ColumnSet columns_;
    Scratch scratch_;
};

// The temporal columns, which look at the previous frame or keep state and
// so run on the frames in order.
class TemporalState {
public:
    TemporalState(int32_t width, int32_t height, double fps, bool reference, uint32_t indicators = kAllColumns);
    // Computes the temporal columns of frame against previous (null on the
    // first frame: the columns keep their start values, 0.0) into record, in
    // call order, after the single-frame ones they need, and adds their times
    // to timings. Ready inputs computed by a worker for the same two frames
    // stand for the pair steps.
    void analyze(const Image* frame, const Image* previous, FrameRecord& record, Timings& timings,
                 const TemporalInputs* inputs = nullptr);
    const Scratch& scratch() const { return scratch_; }
    const TemporalMemory& memory() const { return memory_; }

private:
    bool reference_;
    ColumnSet columns_;
    Scratch scratch_;
    TemporalInputs inputs_;  // for frames whose pair steps no worker ran
    TemporalMemory memory_;
};

// Frame-by-frame analysis of one video that the caller feeds (the library
// API): each pushed plane is analysed at once, on the calling thread.
class Analyzer {
public:
    Analyzer(int32_t width, int32_t height, double fps, const AnalyzerOptions& options = {});
    // Analyses the plane whose rows start stride bytes apart; the frame
    // index counts the pushed frames from 0.
    const FrameRecord& push(const uint8_t* luma, ptrdiff_t stride);
    const Timings& timings() const { return timings_; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // Buffers taken from the system for working memory so far.
    uint64_t systemAllocations() const {
        return worker_.scratch().systemAllocations() + temporal_.scratch().systemAllocations();
    }

private:
    int32_t width_;
    int32_t height_;
    double fps_;
    FrameWorker worker_;
    TemporalState temporal_;
    FrameBuffer current_;
    FrameBuffer previous_;
    FrameRecord record_;
    Timings timings_;
    int64_t pushed_ = 0;
};

// What a whole run ended with.
struct RunOutcome {
    int64_t examined = 0;    // frames analysed and handed to the consumer
    Timings timings;         // per indicator, over the examined frames
    double processSeconds = 0;
    ReadResult end;          // the read that ended the run (End or Error)
    bool stopped = false;    // the consumer or the stop flag ended it early
};

// Called with every frame in order, on the thread that called runAnalysis.
// Returning false stops the run after this frame.
using FrameConsumer = std::function<bool(const FrameRecord&)>;

// Analyses every frame of source, frames in parallel where options allow,
// handing the records to consumer in frame order. The output is the same
// for every thread count. A set stop flag ends the run after the frame in
// progress. Exceptions from the source or the indicators (std::bad_alloc)
// reach the caller.
RunOutcome runAnalysis(FrameSource& source, const AnalyzerOptions& options, const FrameConsumer& consumer,
                       const std::atomic<bool>* stop = nullptr);

}  // namespace nrvq
