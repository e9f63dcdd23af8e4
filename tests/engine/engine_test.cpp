// The engine: the indicator table against the tool's fixed texts, whole runs
// that must not depend on the thread count, independent contexts, and no
// allocation once the first frame has sized the working memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

#include "clips/clip.h"
#include "engine/analyzer.h"
#include "engine/frame_buffer.h"
#include "engine/registry.h"
#include "io/text_output.h"
#include "testing.h"

namespace {

std::atomic<uint64_t> allocations{0};

}  // namespace

// Counts every allocation of the test program (GCC takes the malloc and free
// below for a mismatched pair).
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using clips::Plane;
using nrvq::FrameRecord;

// Frames held in memory: a moving texture with repeats (freezing), a cut, a
// flat stretch (blackout) and noise, long enough for two flickering periods.
std::vector<Plane> testFrames(int32_t w, int32_t h) {
    std::vector<Plane> frames = testing_support::textureFrames(w, h, 6, 2, 1, 3);
    frames.insert(frames.end(), 5, frames.back());
    frames.insert(frames.end(), 3, Plane(w, h, 16));
    for (int t = 0; t < 8; ++t) frames.push_back(clips::randomPlane(w, h, static_cast<uint64_t>(t)));
    return frames;
}

// Frames in memory, read in order or, byNumber, by the workers themselves.
// With lends set it is taken for a decoder, and two frames in three are lent
// from copies of their own that are overwritten and freed when given back (a
// frame used after that shows in the records, and to the sanitizers).
class MemorySource : public nrvq::FrameSource {
public:
    MemorySource(const std::vector<Plane>& frames, int64_t start, int64_t failAt = -1, bool byNumber = false,
                 bool lends = false)
        : lends(lends), frames_(frames), failAt_(failAt), byNumber_(byNumber) {
        info_.kind = lends ? "decoded" : "raw";
        info_.width = frames.front().w;
        info_.height = frames.front().h;
        info_.startFrame = start;
        info_.frameCount = static_cast<int64_t>(frames.size());
    }
    const nrvq::SourceInfo& info() const override { return info_; }
    nrvq::ReadResult next(uint8_t* luma) override { return readFrame(0, next_++, luma); }
    bool prepareReaders(unsigned) override { return byNumber_; }
    nrvq::ReadResult readFrame(unsigned, int64_t k, uint8_t* luma) override {
        if (k == failAt_) throw std::runtime_error("source failed");
        nrvq::ReadResult r;
        if (k < static_cast<int64_t>(frames_.size())) {
            std::memcpy(luma, frames_[k].samples.data(), frames_[k].samples.size());
        } else {
            r.status = failsAtEnd ? nrvq::ReadStatus::Error : nrvq::ReadStatus::End;
        }
        return r;
    }
    nrvq::ReadResult lend(uint8_t* luma, const uint8_t*& plane, void*& loan) override {
        plane = nullptr;
        loan = nullptr;
        if (!lends || next_ % 3 == 2) return next(luma);
        auto copy = std::make_unique<std::vector<uint8_t>>(frames_.front().samples.size());
        const nrvq::ReadResult r = next(copy->data());
        if (r.status == nrvq::ReadStatus::Frame) {
            plane = copy->data();
            loan = copy.release();
            ++outstanding;
        }
        return r;
    }
    void giveBack(void* loan) noexcept override {
        const std::unique_ptr<std::vector<uint8_t>> copy(static_cast<std::vector<uint8_t>*>(loan));
        std::fill(copy->begin(), copy->end(), uint8_t{0x5A});
        --outstanding;
    }
    bool failsAtEnd = false;  // the read after the last frame fails
    const bool lends;
    std::atomic<int> outstanding{0};  // loans not given back

private:
    const std::vector<Plane>& frames_;
    nrvq::SourceInfo info_;
    int64_t next_ = 0;
    int64_t failAt_;
    bool byNumber_;
};

std::vector<FrameRecord> runAll(const std::vector<Plane>& frames, unsigned threads, bool reference,
                                int64_t start = 0, bool byNumber = false, bool lends = false) {
    MemorySource source(frames, start, -1, byNumber, lends);
    std::vector<FrameRecord> records;
    const auto keep = [&](const FrameRecord& r) {
        records.push_back(r);
        return true;
    };
    const nrvq::RunOutcome outcome = nrvq::runAnalysis(source, {.threads = threads, .reference = reference}, keep);
    EXPECT_EQ(outcome.examined, static_cast<int64_t>(frames.size()));
    EXPECT_EQ(outcome.end.status, nrvq::ReadStatus::End);
    EXPECT_EQ(source.outstanding, 0);
    return records;
}

// Same index, same measured flag and the same bits in every column.
void expectSameRecords(const std::vector<FrameRecord>& a, const std::vector<FrameRecord>& b, const char* what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].index, b[i].index) << what;
        EXPECT_EQ(a[i].hasPrevious, b[i].hasPrevious) << what;
        EXPECT_EQ(std::memcmp(a[i].values.data(), b[i].values.data(), sizeof a[i].values), 0)
            << what << ": frame " << i;
    }
}

TEST(Registry, GeneratesTheToolsFixedTexts) {
    EXPECT_EQ(nrvq::consoleHeader(),
              "Frame: \tBlockiness: \tSpatial Activity: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: "
              "\t\tTemporalAct: \tBlackout: \tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: "
              "\t\tSlice: \t\tFlickering:");
    EXPECT_EQ(nrvq::logHeader(),
              "Frame: \tBlockiness: \tSA: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \tTA: \tBlackout: "
              "\tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: \tSlice: \tFlickering:\n");
    EXPECT_EQ(nrvq::logHeader().size(), 163u);
    EXPECT_EQ(nrvq::consoleRowFormat(),
              "%05i \t%-5.5f \t%-5.5f \t\t%-5.5f \t%-5.5f \t%-5.5f \t%-7.3f \t%-5.5f \t%-d \t\t%-d \t\t%-6i "
              "\t\t%-5.5f \t%-5.5f \t%-8.4f \t%-7.3f \t%-5.5f\n");
    EXPECT_EQ(nrvq::logRowFormat(),
              "%05i \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.3f \t%-5.5f \t%-d \t%-d \t%-6i \t%-5.5f "
              "\t%-5.5f \t%-8.4f \t%-7.3f \t%-5.5f\n");
    std::string report;
    for (const nrvq::Column c : nrvq::reportOrder()) report += nrvq::kIndicators[c].reportField;
    EXPECT_EQ(report,
              "\tBlockiness: %02.6f ms \tSpatialAct: %02.6f ms \tLetterbox: %02.6f ms \n"
              "\tPillarbox: %02.6f ms \t\tBlockLoss: %02.6f ms \t\tBlur: %02.6f ms \n"
              " \tExposure: %02.6f ms \t\tInterlace: %02.6f ms \t\tNoise: %02.6f ms \n"
              " \tSlice: %02.6f ms\t\tBlackout: %02.6f ms \t\tTemporal: %02.6f ms \n"
              " \tFreezing : %02.6f ms\t\tFlickering: %02.6f ms \tContrast: %02.6f ms\n");
    EXPECT_EQ(nrvq::columnOf("block_loss"), nrvq::kBlockLoss);
    EXPECT_FALSE(nrvq::columnOf("Blur").has_value());
}

TEST(Engine, RunsAreTheSameForEveryThreadCountAndPath) {
    for (const auto& [w, h] : std::vector<std::pair<int32_t, int32_t>>{{64, 48}, {33, 17}, {2, 3}}) {
        const std::vector<Plane> frames = testFrames(w, h);
        const std::vector<FrameRecord> reference = runAll(frames, 1, true, 7);
        EXPECT_EQ(reference.front().index, 7);
        EXPECT_FALSE(reference.front().hasPrevious);
        EXPECT_TRUE(reference.back().hasPrevious);
        for (const unsigned threads : {1u, 2u, 3u, 8u}) {
            for (const auto& [byNumber, lends] : {std::pair{false, false}, {true, false}, {false, true}}) {
                expectSameRecords(runAll(frames, threads, false, 7, byNumber, lends), reference, "fast");
                expectSameRecords(runAll(frames, threads, true, 7, byNumber, lends), reference, "literal");
            }
        }
    }
}

// Frame buffers: zeroed, owned, and a plane of about 2 MiB or more on a huge
// page boundary; runs on frames that large stay exact.
TEST(Engine, FrameBuffersOfLargeFramesKeepRunsExact) {
    for (const auto& [w, h] : std::vector<std::pair<uint64_t, uint64_t>>{{0, 0}, {16, 16}, {1920, 1080}, {3840, 2161}}) {
        nrvq::FrameBuffer buffer(w, h);
        ASSERT_NE(buffer.data(), nullptr);
        const size_t bytes = static_cast<size_t>(w * h);
        EXPECT_TRUE(std::all_of(buffer.data(), buffer.data() + bytes, [](uint8_t v) { return v == 0; }));
        std::memset(buffer.data(), 0xFF, bytes);
        EXPECT_EQ(bytes >= 1920 * 1080, reinterpret_cast<uintptr_t>(buffer.data()) % (size_t{2} << 20) == 0) << w;
        uint8_t* const data = buffer.data();
        nrvq::FrameBuffer moved(std::move(buffer));
        EXPECT_EQ(moved.data(), data);
        EXPECT_EQ(buffer.data(), nullptr);
        EXPECT_EQ(moved.image().w, w);
    }
    EXPECT_THROW(nrvq::FrameBuffer(uint64_t{1} << 33, uint64_t{1} << 33), std::bad_alloc);
    const std::vector<Plane> frames = testing_support::textureFrames(1920, 1080, 3);
    const std::vector<FrameRecord> reference = runAll(frames, 1, true);
    for (const unsigned threads : {1u, 2u}) {
        expectSameRecords(runAll(frames, threads, false), reference, "fast");
    }
}

TEST(Engine, InterleavedContextsMatchSeparateRuns) {
    const std::vector<Plane> a = testFrames(48, 40);
    const std::vector<Plane> b = testFrames(72, 24);
    nrvq::Analyzer first(48, 40, 25.0);
    nrvq::Analyzer second(72, 24, 25.0);
    std::vector<FrameRecord> gotA;
    std::vector<FrameRecord> gotB;
    for (size_t i = 0; i < a.size(); ++i) {
        gotA.push_back(first.push(a[i].samples.data(), 48));
        gotB.push_back(second.push(b[i].samples.data(), 72));
    }
    expectSameRecords(gotA, runAll(a, 1, false), "first video");
    expectSameRecords(gotB, runAll(b, 1, false), "second video");
}

TEST(Engine, NothingIsAllocatedOnceTheBuffersHaveTheirSizes) {
    const std::vector<Plane> frames = testFrames(96, 80);
    for (const bool reference : {false, true}) {
        nrvq::Analyzer analyzer(96, 80, 25.0, {.reference = reference});
        // Some working images are sized by what a frame holds: once every
        // kind of frame has been seen, the buffers are large enough.
        for (const Plane& frame : frames) analyzer.push(frame.samples.data(), 96);
        const uint64_t before = allocations.load();
        const uint64_t buffersBefore = analyzer.systemAllocations();
        for (const Plane& frame : frames) analyzer.push(frame.samples.data(), 96);
        EXPECT_EQ(allocations.load() - before, 0u) << (reference ? "literal" : "fast");
        EXPECT_EQ(analyzer.systemAllocations(), buffersBefore) << (reference ? "literal" : "fast");
    }
}

// On a thread of its own, so that no earlier context left buffers behind.
TEST(Engine, ALaterContextOnTheThreadTakesTheLargeBuffersOfAnEndedOne) {
    const std::vector<Plane> frames = testFrames(96, 80);
    std::vector<uint64_t> taken;
    std::vector<std::vector<FrameRecord>> records(2);
    std::thread([&] {
        for (int run = 0; run < 2; ++run) {
            nrvq::Analyzer analyzer(96, 80, 25.0, {.reference = true});
            for (const Plane& frame : frames) records[run].push_back(analyzer.push(frame.samples.data(), 96));
            taken.push_back(analyzer.systemAllocations());
        }
    }).join();
    EXPECT_LT(taken[1], taken[0]);
    expectSameRecords(records[1], records[0], "second context");
}

// A context that lives in thread-local storage made before the thread's
// kept buffers is destroyed after them, at the thread's exit: its buffers
// are freed then (the leak checker of the sanitizer build would see them).
TEST(Engine, AContextDestroyedAtItsThreadsExitFreesItsBuffers) {
    std::thread([] {
        thread_local std::optional<nrvq::Analyzer> late;
        late.emplace(96, 80, 25.0, nrvq::AnalyzerOptions{.reference = true});
        for (const Plane& frame : testFrames(96, 80)) late->push(frame.samples.data(), 96);
    }).join();
}

TEST(Engine, FailuresAndStopsEndTheRunCleanly) {
    const std::vector<Plane> frames = testFrames(32, 32);
    // Lent frames are all given back however the run ends.
    const std::vector<std::tuple<unsigned, bool, bool>> runs = {{1u, false, false}, {3u, false, false},
                                                                {2u, true, false},  {3u, true, false},
                                                                {1u, false, true},  {3u, false, true}};
    for (const auto& [threads, byNumber, lends] : runs) {
        const nrvq::AnalyzerOptions options{.threads = threads};
        MemorySource failing(frames, 0, 9, byNumber, lends);
        int seen = 0;
        const auto count = [&](const FrameRecord&) { return ++seen > 0; };
        EXPECT_THROW(nrvq::runAnalysis(failing, options, count), std::runtime_error);
        EXPECT_LE(seen, 9);
        EXPECT_EQ(failing.outstanding, 0);

        // A failed read ends the run after every frame before it.
        const std::vector<Plane> nine(frames.begin(), frames.begin() + 9);
        MemorySource truncated(nine, 0, -1, byNumber, lends);
        truncated.failsAtEnd = true;
        seen = 0;
        const nrvq::RunOutcome failed = nrvq::runAnalysis(truncated, options, count);
        EXPECT_EQ(seen, 9);
        EXPECT_EQ(failed.examined, 9);
        EXPECT_EQ(failed.end.status, nrvq::ReadStatus::Error);
        EXPECT_EQ(truncated.outstanding, 0);

        MemorySource source(frames, 0, -1, byNumber, lends);
        std::atomic<bool> stop{false};
        std::vector<int64_t> indices;
        const auto record = [&](const FrameRecord& r) {
            indices.push_back(r.index);
            if (r.index == 4) stop = true;
            return r.index < 10;
        };
        const nrvq::RunOutcome outcome = nrvq::runAnalysis(source, options, record, &stop);
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(indices, (std::vector<int64_t>{0, 1, 2, 3, 4}));
        EXPECT_EQ(outcome.examined, 5);
        EXPECT_EQ(source.outstanding, 0);
    }
}

}  // namespace
