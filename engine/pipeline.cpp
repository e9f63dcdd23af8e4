// A whole run: frames are read into slots, worker threads compute the
// single-frame indicators of several frames at once and the temporal
// indicators' work on each frame and the one before it, and the calling
// thread applies the temporal indicators' state changes and hands every
// record to the consumer in frame order. A source that reads frames by their
// number (a file) is read by the workers themselves, each frame by the worker
// that analyses it, so that reading is spread over the cores; any other is
// read in order by a reader thread that fills the slots ahead of the workers.
// When that reader decodes, decoding is what limits the run: the workers are
// then threads of their own that yield the cores to the reader's and the
// decoder's threads, and the calling thread only hands frames on.
// Slots are reused, so memory stays bounded by the frames in flight. A
// source that lends its frames (a decoder) is analysed in place: a slot then
// holds the loan instead of a copy until the slot is freed.
#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/analyzer.h"
#include "engine/frame_buffer.h"

namespace nrvq {

namespace {

// How far below the decoder's priority the workers analyse: enough that a
// decoding thread which wakes takes a core from them at once, not so far
// that the analysis starves beside other programs.
constexpr int kAnalysisNice = 10;

// Lowers the calling thread's priority by kAnalysisNice. Only threads that a
// run creates call it, so the caller's thread is never changed; a failure
// leaves the priority as it was, since it only orders the run's threads.
void yieldToDecoder() {
#if defined(__linux__)
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, self);
    if (errno == 0) {
        setpriority(PRIO_PROCESS, self, nice + kAnalysisNice);
    }
#endif
}

// A plane that the source lent, given back when the loan is given up,
// replaced or destroyed.
class Loan {
public:
    explicit Loan(FrameSource& source) : source_(&source) {}
    ~Loan() { giveBack(); }
    Loan(const Loan&) = delete;
    Loan& operator=(const Loan&) = delete;
    Loan(Loan&& other) noexcept
        : source_(other.source_), token_(other.token_), held_(std::exchange(other.held_, false)) {}
    Loan& operator=(Loan&& other) noexcept {
        if (this != &other) {
            giveBack();
            source_ = other.source_;
            token_ = other.token_;
            held_ = std::exchange(other.held_, false);
        }
        return *this;
    }

    // Reads the next frame: lent, when the source lends it, and held here
    // (a loan held before is given back first); else copied into buffer.
    // Returns the result and sets image to where the frame is.
    ReadResult read(uint8_t* buffer, Image& image) {
        giveBack();
        const uint8_t* plane = nullptr;
        void* token = nullptr;
        ReadResult result = source_->lend(buffer, plane, token);
        image.data = buffer;
        if (plane != nullptr) {
            token_ = token;
            held_ = true;
            // The analysis only reads the frame.
            image.data = const_cast<uint8_t*>(plane);
        }
        return result;
    }
    void giveBack() noexcept {
        if (held_) {
            held_ = false;
            source_->giveBack(token_);
        }
    }

private:
    FrameSource* source_;
    void* token_ = nullptr;
    bool held_ = false;
};

struct Slot {
    FrameBuffer frame;  // the slot's own buffer, for frames copied in
    Image image;        // the frame: in that buffer, or lent by the source
    Loan loan;
    FrameRecord record;
    Timings timings;
    double sourceSeconds = 0;  // the source's timestamp of the frame
    TemporalInputs temporal;  // against the frame before, when there is one
    enum State { Free, Reading, Read, Done } state = Free;
    Slot(FrameSource& source, FrameBuffer buffer, int32_t width, int32_t height)
        : frame(std::move(buffer)), image(frame.image()), loan(source), temporal(width, height) {}
};

// The frames of one run in flight, and the one lock that guards their states.
// The calling thread is one of the workers, unless the reader decodes: between
// the frames it analyses it hands on every frame that is done, in order, so
// that a run has no more threads busy than it has workers (and, for a source
// read only in order, the reader).
class Pipeline {
public:
    Pipeline(FrameSource& source, const AnalyzerOptions& options, unsigned workers)
        : source_(source), options_(options) {
        const SourceInfo& info = source.info();
        workersRead_ = source.prepareReaders(workers);
        decoding_ = !workersRead_ && info.kind == "decoded";
        // Every worker may hold a frame and the consumer keeps the previous
        // one; a reader thread may run ahead by as many frames as there are
        // workers, and workers that read take one frame more, so that they
        // go on while the calling thread analyses a frame before handing on
        // the ones done. Fewer frames in flight stay in the caches. A
        // decoder runs in bursts, both cores decoding at one moment and one
        // waiting on a reference at the next; the reader runs a frame
        // further ahead of it than of other sources, so that the analysis,
        // which yields the cores to decoding, has frames to fill the waits
        // with. Their memory is what the decoder saves by keeping one thread
        // a processor and lending luma planes without their chroma (see the
        // decoder module).
        const size_t count = static_cast<size_t>(workers) * (workersRead_ ? 1 : 2) + (workersRead_ ? 3 : 2) +
                             (decoding_ ? 1 : 0);
        slots_.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            slots_.emplace_back(source,
                                FrameBuffer(static_cast<uint64_t>(info.width), static_cast<uint64_t>(info.height)),
                                info.width, info.height);
        }
        for (unsigned i = 0; i < workers; ++i) {
            workers_.emplace_back(info.width, info.height, options.reference, options.indicators);
        }
    }

    RunOutcome run(const FrameConsumer& consumer, const std::atomic<bool>* stop) {
        const SourceInfo& info = source_.info();
        TemporalState temporal(info.width, info.height, info.fps, options_.reference, options_.indicators);
        RunOutcome outcome;
        std::vector<std::thread> threads;
        if (!workersRead_) {
            threads.emplace_back([this] { readLoop(); });
        }
        for (unsigned i = decoding_ ? 0 : 1; i < workers_.size(); ++i) {
            threads.emplace_back([this, i] { workLoop(i); });
        }
        try {
            consume(consumer, stop, temporal, outcome);
        } catch (...) {
            shutDown(threads);
            throw;
        }
        shutDown(threads);
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        return outcome;
    }

private:
    Slot& slotOf(int64_t n) { return slots_[static_cast<size_t>(n) % slots_.size()]; }

    // Whether a worker can take the next frame: the reader thread has read
    // it, or (the workers reading) its slot is free and the input has not
    // ended before it. Under the lock.
    bool claimable() {
        return workersRead_ ? nextWork_ < endFrame_ && slotOf(nextWork_).state == Slot::Free : nextWork_ < readCount_;
    }
    // Takes the next frame. Under the lock, when claimable().
    int64_t claim() {
        const int64_t n = nextWork_++;
        if (workersRead_) {
            slotOf(n).state = Slot::Reading;
        }
        return n;
    }

    void readLoop() {
        for (int64_t n = 0;; ++n) {
            Slot* slot = nullptr;
            {
                std::unique_lock lock(mutex_);
                slotFreed_.wait(lock, [&] { return quit_ || slotOf(n).state == Slot::Free; });
                if (quit_) {
                    return;
                }
                slot = &slotOf(n);
            }
            ReadResult result;
            try {
                result = slot->loan.read(slot->frame.data(), slot->image);
            } catch (...) {
                fail(std::current_exception());
                return;
            }
            std::lock_guard lock(mutex_);
            if (result.status != ReadStatus::Frame) {
                end_ = result;
                endFrame_ = n;
                frameDone_.notify_all();
                return;
            }
            slot->sourceSeconds = result.seconds;
            slot->state = Slot::Read;
            readCount_ = n + 1;
            wake();
        }
    }

    // Wakes a thread that can take the frame that became claimable: a
    // waiting worker, else the calling thread.
    void wake() {
        if (idleWorkers_ > 0) {
            workReady_.notify_one();
        } else if (consumerWaits_ && !decoding_) {
            frameDone_.notify_one();
        }
    }

    void workLoop(unsigned index) {
        if (decoding_) {
            yieldToDecoder();
        }
        for (;;) {
            int64_t n = 0;
            {
                std::unique_lock lock(mutex_);
                ++idleWorkers_;
                workReady_.wait(lock, [&] { return quit_ || claimable() || (workersRead_ && nextWork_ >= endFrame_); });
                --idleWorkers_;
                if (quit_ || !claimable()) {
                    return;
                }
                n = claim();
            }
            try {
                process(index, n);
            } catch (...) {
                fail(std::current_exception());
                return;
            }
        }
    }

    // Analyses frame n with worker `index`: reads it into its slot first when
    // the workers read, and runs the pair steps on it and the frame before
    // it once that one is read too (perhaps by another worker at this
    // moment). Marks it done, unless its read ended the input or the run is
    // ending.
    void process(unsigned index, int64_t n) {
        FrameWorker& worker = workers_[index];
        Slot& slot = slotOf(n);
        slot.timings = Timings{};
        if (workersRead_) {
            const ReadResult result = source_.readFrame(index, n, slot.frame.data());
            std::lock_guard lock(mutex_);
            if (result.status != ReadStatus::Frame) {
                // The lowest frame that did not come ends the run; frames
                // after it that were read are never handed on.
                if (n < endFrame_) {
                    endFrame_ = n;
                    end_ = result;
                }
                frameDone_.notify_all();
                frameRead_.notify_all();
                workReady_.notify_all();
                return;
            }
            slot.sourceSeconds = result.seconds;
            slot.state = Slot::Read;
            if (pairWaiting_ > 0) {
                frameRead_.notify_all();
            }
        }
        // The frame before, when it is read already, goes into the frame's
        // walk; else the pair steps below wait for it.
        const Image* before = nullptr;
        if (n > 0) {
            Slot& slotBefore = slotOf(n - 1);
            if (!workersRead_) {
                before = &slotBefore.image;  // read in order, before this one
            } else {
                std::lock_guard lock(mutex_);
                if (slotBefore.state == Slot::Read || slotBefore.state == Slot::Done) {
                    before = &slotBefore.image;
                }
            }
        }
        worker.analyze(&slot.image, slot.record, slot.timings, before, &slot.temporal);
        const Image* previous = nullptr;
        if (n > 0) {
            // The frame before stays in its slot until this one is consumed.
            Slot& before = slotOf(n - 1);
            if (workersRead_) {
                std::unique_lock lock(mutex_);
                ++pairWaiting_;
                frameRead_.wait(lock, [&] {
                    return quit_ || failure_ || n - 1 >= endFrame_ || before.state == Slot::Read ||
                           before.state == Slot::Done;
                });
                --pairWaiting_;
                if (quit_ || failure_ || n - 1 >= endFrame_) {
                    return;
                }
            }
            previous = &before.image;
        }
        worker.analyzeTemporal(&slot.image, previous, slot.temporal, slot.timings);
        std::lock_guard lock(mutex_);
        slot.state = Slot::Done;
        if (consumerWaits_) {
            frameDone_.notify_one();
        }
    }

    // Hands every frame on in order; analyses a frame itself (unless the
    // reader decodes) whenever the next one to hand on is not done yet and
    // another can be taken.
    void consume(const FrameConsumer& consumer, const std::atomic<bool>* stop, TemporalState& temporal,
                 RunOutcome& outcome) {
        const int64_t first = source_.info().startFrame;
        for (int64_t n = 0;;) {
            int64_t mine = -1;
            {
                std::unique_lock lock(mutex_);
                consumerWaits_ = true;
                frameDone_.wait(lock, [&] {
                    return failure_ || slotOf(n).state == Slot::Done || n >= endFrame_ ||
                           (!decoding_ && claimable());
                });
                consumerWaits_ = false;
                if (failure_) {
                    return;
                }
                if (slotOf(n).state != Slot::Done) {
                    if (n >= endFrame_) {
                        outcome.end = end_;
                        return;
                    }
                    mine = claim();
                }
            }
            if (mine >= 0) {
                process(0, mine);
                continue;
            }
            Slot& slot = slotOf(n);
            slot.record.index = first + n;
            slot.record.seconds = frameTime(slot.sourceSeconds, slot.record.index, source_.info().fps);
            temporal.analyze(&slot.image, n > 0 ? &slotOf(n - 1).image : nullptr, slot.record,
                             slot.timings, &slot.temporal);
            outcome.timings += slot.timings;
            ++outcome.examined;
            slot.record.luma = slot.image.data;
            const bool more = consumer(slot.record);
            slot.record.luma = nullptr;
            if (n > 0) {
                // Nothing uses the previous frame now (the next frame's pair
                // step uses this one), and the reader takes its slot only
                // once it is free.
                slotOf(n - 1).loan.giveBack();
            }
            {
                // The previous frame is no longer needed; this one is, by the
                // next frame.
                std::lock_guard lock(mutex_);
                if (n > 0) {
                    slotOf(n - 1).state = Slot::Free;
                }
                if (workersRead_) {
                    if (idleWorkers_ > 0) {
                        workReady_.notify_one();
                    }
                } else {
                    slotFreed_.notify_all();
                }
            }
            if (!more || (stop != nullptr && stop->load())) {
                outcome.stopped = true;
                return;
            }
            ++n;
        }
    }

    void notifyEveryone() {
        slotFreed_.notify_all();
        workReady_.notify_all();
        frameRead_.notify_all();
        frameDone_.notify_all();
    }

    void fail(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (!failure_) {
            failure_ = error;
        }
        notifyEveryone();
    }

    void shutDown(std::vector<std::thread>& threads) {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
            notifyEveryone();
        }
        for (std::thread& t : threads) {
            t.join();
        }
    }

    FrameSource& source_;
    AnalyzerOptions options_;
    std::vector<Slot> slots_;
    std::deque<FrameWorker> workers_;  // the first is the calling thread's

    std::mutex mutex_;
    // Each waits for one kind of change, so that a change wakes only the
    // threads that wait for it.
    std::condition_variable slotFreed_;  // the reader thread
    std::condition_variable workReady_;  // the worker threads, for a frame to take
    std::condition_variable frameRead_;  // workers, for the frame before theirs to be read
    std::condition_variable frameDone_;  // the calling thread
    bool workersRead_ = false;  // the workers read the frames; no reader thread
    bool decoding_ = false;     // the reader thread decodes
    int64_t readCount_ = 0;     // frames read so far, by the reader thread
    int64_t nextWork_ = 0;      // next frame for a worker
    int idleWorkers_ = 0;       // worker threads waiting for a frame to take
    int pairWaiting_ = 0;       // workers waiting for the frame before theirs to be read
    bool consumerWaits_ = false;
    // The first frame that did not come, and why; until then past any frame.
    int64_t endFrame_ = std::numeric_limits<int64_t>::max();
    ReadResult end_;
    bool quit_ = false;
    std::exception_ptr failure_;
};

// One thread doing everything in order.
RunOutcome runInOrder(FrameSource& source, const AnalyzerOptions& options, const FrameConsumer& consumer,
                      const std::atomic<bool>* stop) {
    const SourceInfo& info = source.info();
    const auto w = static_cast<uint64_t>(info.width);
    const auto h = static_cast<uint64_t>(info.height);
    // Buffers for frames that are copied in, swapped after each frame, and
    // where the frame and the one before it are: in those buffers or lent
    // by the source (the previous frame's loan is kept until the next
    // frame's pair step is done).
    FrameBuffer current(w, h);
    FrameBuffer previous(w, h);
    Image frame = current.image();
    Image before = previous.image();
    Loan currentLoan(source);
    Loan previousLoan(source);
    FrameWorker worker(info.width, info.height, options.reference, options.indicators);
    TemporalState temporal(info.width, info.height, info.fps, options.reference, options.indicators);
    TemporalInputs inputs(info.width, info.height);
    RunOutcome outcome;
    FrameRecord record;
    for (int64_t n = 0;; ++n) {
        const ReadResult result = currentLoan.read(current.data(), frame);
        if (result.status != ReadStatus::Frame) {
            outcome.end = result;
            break;
        }
        record.index = info.startFrame + n;
        record.seconds = frameTime(result.seconds, record.index, info.fps);
        Timings timings;
        worker.analyze(&frame, record, timings, n > 0 ? &before : nullptr, &inputs);
        // The temporal columns' work on the two frames as the workers do it.
        worker.analyzeTemporal(&frame, n > 0 ? &before : nullptr, inputs, timings);
        temporal.analyze(&frame, n > 0 ? &before : nullptr, record, timings, &inputs);
        outcome.timings += timings;
        ++outcome.examined;
        std::swap(current, previous);
        before = frame;
        previousLoan = std::move(currentLoan);  // gives the older loan back
        record.luma = before.data;
        const bool more = consumer(record);
        record.luma = nullptr;
        if (!more || (stop != nullptr && stop->load())) {
            outcome.stopped = true;
            break;
        }
    }
    return outcome;
}

}  // namespace

RunOutcome runAnalysis(FrameSource& source, const AnalyzerOptions& options, const FrameConsumer& consumer,
                       const std::atomic<bool>* stop) {
    const double start = processSeconds();
    const unsigned threads = resolveThreads(options.threads);
    RunOutcome outcome;
    if (threads <= 1) {
        outcome = runInOrder(source, options, consumer, stop);
    } else {
        Pipeline pipeline(source, options, threads);
        outcome = pipeline.run(consumer, stop);
    }
    outcome.processSeconds = processSeconds() - start;
    return outcome;
}

}  // namespace nrvq
