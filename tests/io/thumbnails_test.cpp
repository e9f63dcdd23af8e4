// The pictures the report keeps: each frame of these runs is one grey level
// (ten times its index), so a kept picture names its frame. An event keeps
// its first frame and its worst, also when it opens after its minimum
// duration or is still open at the end; a full store gives way to a more
// severe event, or to a kind of event that has no picture; each indicator keeps its most extreme frame; the PNG
// encoder writes a PNG; blockiness's picture marks the grid where it shows,
// blur's the edges it measures.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "engine/events.h"
#include "io/events_output.h"
#include "io/thumbnails.h"
#include "metrics/blur.h"

namespace {

using namespace nrvq;

struct Kept {
    int64_t first, worst;  // frames of the pictures, -1 for none
};

struct Collected {
    std::unique_ptr<EventLog> events;
    std::unique_ptr<ThumbnailCollector> thumbs;
    std::vector<Kept> kept;  // per event
};

// Feeds blur values (and blockiness 1 - blur / 100) on 8 x 4 frames, keeping
// pictures of at most `limit` events in 4 x 2.
Collected run(const std::vector<EventRule>& rules, const std::vector<double>& blur, size_t limit) {
    auto events = std::make_unique<EventLog>(rules);
    auto thumbs = std::make_unique<ThumbnailCollector>(*events, ColumnSet(kAllColumns), limit, 4);
    SourceInfo info;
    info.width = 8, info.height = 4, info.fps = 25;
    events->begin(info);
    thumbs->begin(info);
    std::vector<uint8_t> luma(32);
    for (size_t i = 0; i < blur.size(); ++i) {
        FrameRecord record;
        record.index = static_cast<int64_t>(i);
        record.seconds = static_cast<double>(i) / 25;
        record.hasPrevious = i > 0;
        record.values[kBlur] = blur[i];
        record.values[kBlockiness] = 1 - blur[i] / 100;
        std::fill(luma.begin(), luma.end(), static_cast<uint8_t>(10 * i));
        record.luma = luma.data();
        events->frame(record);
        thumbs->frame(record);
    }
    thumbs->finish(RunSummary{});
    EXPECT_EQ(thumbs->width(), 4);
    EXPECT_EQ(thumbs->height(), 2);
    std::vector<Kept> kept;
    for (size_t e = 0; e < events->tracker().events().size(); ++e) {
        const Picture* first = thumbs->eventFirst(e);
        const Picture* worst = thumbs->eventWorst(e);
        kept.push_back({first ? first->frame : -1, worst ? worst->frame : -1});
        EXPECT_TRUE(first == nullptr || first->pixels[5] == 10 * first->frame);
        EXPECT_TRUE(worst == nullptr || worst->pixels[0] == 10 * worst->frame);
    }
    return {std::move(events), std::move(thumbs), kept};
}

EventRule blurAbove(double threshold, double frames, Severity severity) {
    EventRule r;
    r.column = kBlur;
    r.op = Comparison::Greater;
    r.threshold = threshold;
    r.minimum = {frames, true};
    r.severity = severity;
    return r;
}

bool operator==(const Kept& a, const Kept& b) { return a.first == b.first && a.worst == b.worst; }

TEST(Thumbnails, EventsKeepTheirFirstAndWorstFrames) {
    const auto warning = blurAbove(9, 3, Severity::Warning);
    const auto fatal = blurAbove(20, 1, Severity::Fatal);
    auto blockinessBelow = blurAbove(0.6, 0, Severity::Warning);
    blockinessBelow.column = kBlockiness;
    blockinessBelow.op = Comparison::Less;
    struct Case {
        std::vector<EventRule> rules;
        std::vector<double> blur;
        size_t limit;
        std::vector<Kept> kept;
    } cases[] = {
        // Opens on frame 3, after three frames; closed by frame 4; the second is open at the end.
        {{warning}, {0, 10, 12, 11, 0, 10, 11, 15}, 4, {{1, 2}, {5, 7}}},
        // One place: the fatal event takes it, the later warning does not.
        {{warning, fatal}, {0, 10, 12, 11, 0, 25, 30, 0, 10, 11, 12, 0}, 1, {{-1, -1}, {5, 6}, {-1, -1}}},
        // Two places, three warnings: the first two keep theirs...
        {{warning}, {10, 10, 10, 0, 10, 10, 10, 0, 10, 10, 10}, 2, {{0, 0}, {4, 4}, {-1, -1}}},
        // ... unless the third is of a kind with none: it takes the place of the blur kept last.
        {{warning, blockinessBelow}, {10, 10, 10, 0, 10, 10, 10, 0, 50, 0}, 2, {{0, 0}, {-1, -1}, {8, 8}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.rules, c.blur, c.limit).kept, c.kept);
    }
}

TEST(Thumbnails, IndicatorsKeepTheirExtremeFrameAndPicturesBecomePng) {
    const Collected r = run({}, {3, 9, 2, 9, 4}, 4);
    const ThumbnailCollector* thumbs = r.thumbs.get();
    EXPECT_EQ(thumbs->extreme(kBlur).frame, 1);  // the first of the highest
    EXPECT_EQ(thumbs->extreme(kBlur).value, 9);
    EXPECT_EQ(thumbs->extreme(kBlockiness).frame, 1);  // lower is worse
    const std::string png = makePngEncoder()->png(thumbs->extreme(kBlur).pixels.data(), 4, 2);
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
}

// Pictures kept at full size. A checkerboard of 8 x 8 blocks: the grid
// shows on every border and nowhere else. A step: blur's marked spans are
// the edges whose mean width it gives.
TEST(Thumbnails, BlockinessAndBlurPicturesMarkWhereTheyFoundIt) {
    const auto marks = [](int32_t w, const std::vector<uint8_t>& luma, Column column) {
        EventLog events({});
        ThumbnailCollector thumbs(events, ColumnSet(kAllColumns), 4, w);
        SourceInfo info;
        info.width = w, info.height = 16, info.fps = 25;
        events.begin(info);
        thumbs.begin(info);
        FrameRecord record;
        record.values[column] = 1;
        record.luma = luma.data();
        events.frame(record);
        thumbs.frame(record);
        return thumbs.extreme(column).marks;
    };
    std::vector<uint8_t> board(32 * 16), step(64 * 16);
    for (size_t i = 0; i < board.size(); ++i) board[i] = (i % 32 / 8 + i / 32 / 8) % 2 ? 200 : 20;
    for (size_t i = 0; i < step.size(); ++i) step[i] = i % 64 < 32 ? 20 : 200;
    const std::vector<bool> grid = marks(32, board, kBlockiness);
    ASSERT_EQ(grid.size(), board.size());
    for (size_t i = 0; i < grid.size(); ++i) {
        EXPECT_EQ(grid[i], i / 32 == 8 || (i % 32 != 0 && i % 8 == 0)) << i % 32 << "," << i / 32;
    }
    Image frame{64, 16, step.data()};
    const std::vector<BlurEdge> edges = blurEdges(&frame);
    const std::vector<bool> marked = marks(64, step, kBlur);
    ASSERT_FALSE(edges.empty());
    double width = 0;
    for (const BlurEdge& e : edges) {
        width += static_cast<double>(e.right - e.left);
        for (int64_t x = e.left; x <= e.right; ++x) EXPECT_TRUE(marked[static_cast<size_t>(e.y * 64 + x)]);
    }
    EXPECT_EQ(width / static_cast<double>(edges.size()), blur(&frame));
    EXPECT_EQ(std::count(marked.begin(), marked.end(), true), 14 * 2);  // rows 1 ... 14, columns 31 and 32
}

}  // namespace
