#include "io/thumbnails.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "engine/events.h"
#include "io/events_output.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/slice.h"

namespace nrvq {

namespace {

void copyPicture(Picture& into, const Picture& from) {
    into.frame = from.frame;
    into.seconds = from.seconds;
    into.value = from.value;
    into.band = from.band;
    std::copy(from.marks.begin(), from.marks.end(), into.marks.begin());
    std::copy(from.pixels.begin(), from.pixels.end(), into.pixels.begin());
    std::copy(from.regions.begin(), from.regions.end(), into.regions.begin());
}

bool worse(Worse direction, double value, double than) {
    switch (direction) {
        case Worse::Higher: return value > than;
        case Worse::Lower: return value < than;
        case Worse::Apart: return std::fabs(value - 128) > std::fabs(than - 128);
    }
    return false;
}

}  // namespace

Worse worseDirection(Column column) {
    switch (column) {
        case kBlockiness:
        case kSpatialActivity:
        case kContrast: return Worse::Lower;
        case kExposure: return Worse::Apart;
        default: return Worse::Higher;
    }
}

ThumbnailCollector::ThumbnailCollector(const EventLog& events, ColumnSet columns, size_t eventLimit, int longestSide)
    : events_(events), columns_(columns), longestSide_(longestSide), slots_(eventLimit) {}

void ThumbnailCollector::begin(const SourceInfo& info) {
    sourceWidth_ = info.width;
    sourceHeight_ = info.height;
    const double w = info.width, h = info.height;
    const double scale = std::min(1.0, longestSide_ / std::max(w, h));
    width_ = std::max(1, static_cast<int>(std::lround(w * scale)));
    height_ = std::max(1, static_cast<int>(std::lround(h * scale)));
    const size_t size = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    const size_t regions = info.width >= 256 && info.height >= 256
                               ? static_cast<size_t>(info.width / 256) * static_cast<size_t>(info.height / 256)
                               : 0;
    scratch_.assign(size, 0);
    scratchFrame_ = regionsFrame_ = bandFrame_ = marksFrame_ = -1;
    marks_.assign(size, false);
    const auto make = [&](Picture& p) {
        p = Picture{};
        p.pixels.assign(size, 0);
        p.regions.assign(regions, 0);
        p.marks.assign(size, false);
    };
    for (Picture& p : extremes_) {
        make(p);
    }
    runs_.assign(events_.tracker().rules().size(), Run{});
    for (Run& r : runs_) {
        make(r.first);
        make(r.worst);
    }
    for (Slot& s : slots_) {
        s = Slot{};
        make(s.first);
        make(s.worst);
    }
    slotOf_.clear();
    seenEvents_ = 0;
    kept_.fill(0);
    stored_ = 0;
}

// The frame scaled down by averaging the samples under each thumbnail pixel;
// once per frame however many pictures take it.
const uint8_t* ThumbnailCollector::scaled(const FrameRecord& record) {
    if (scratchFrame_ == record.index) {
        return scratch_.data();
    }
    const auto W = static_cast<int64_t>(sourceWidth_), H = static_cast<int64_t>(sourceHeight_);
    for (int64_t y = 0; y < height_; ++y) {
        const int64_t y0 = y * H / height_, y1 = std::max(y0 + 1, (y + 1) * H / height_);
        for (int64_t x = 0; x < width_; ++x) {
            const int64_t x0 = x * W / width_, x1 = std::max(x0 + 1, (x + 1) * W / width_);
            uint64_t sum = 0;
            for (int64_t sy = y0; sy < y1; ++sy) {
                const uint8_t* row = record.luma + sy * W;
                for (int64_t sx = x0; sx < x1; ++sx) {
                    sum += row[sx];
                }
            }
            const auto count = static_cast<uint64_t>((y1 - y0) * (x1 - x0));
            scratch_[static_cast<size_t>(y * width_ + x)] = static_cast<uint8_t>((sum + count / 2) / count);
        }
    }
    scratchFrame_ = record.index;
    return scratch_.data();
}

// Blur's edges or blockiness's showing grid on a frame, scaled to the
// picture: every picture pixel that a marked sample falls in.
void ThumbnailCollector::locate(const Image& frame, Column column) {
    std::fill(marks_.begin(), marks_.end(), false);
    const int64_t W = sourceWidth_, H = sourceHeight_;
    // The samples of row y from x0 to x1, both included.
    const auto mark = [&](int64_t y, int64_t x0, int64_t x1) {
        const int64_t row = y * height_ / H;
        for (int64_t x = x0 * width_ / W; x <= x1 * width_ / W; ++x) {
            marks_[static_cast<size_t>(row * width_ + x)] = true;
        }
    };
    if (column == kBlur) {
        for (const BlurEdge& e : blurEdges(&frame)) {
            mark(e.y, e.left, e.right);
        }
        return;
    }
    const std::vector<uint8_t> grid = blockinessGrid(&frame);
    const int64_t block = BLOCKSIZE, across = (W + block - 1) / block, down = (H + block - 1) / block;
    const int64_t rowBorders = H >= 2 * block ? H / block - 1 : 0;
    for (size_t i = 0; i < grid.size(); ++i) {
        if (grid[i] == 0) {
            continue;
        }
        const auto k = static_cast<int64_t>(i);
        if (k < rowBorders * across) {  // along the top row of block row k / across + 1
            const int64_t x = k % across * block;
            mark((k / across + 1) * block, x, std::min(x + block, W) - 1);
        } else {  // down the left column of block column k' / down + 1
            const int64_t at = k - rowBorders * across, x = (at / down + 1) * block;
            for (int64_t y = at % down * block; y < std::min(at % down * block + block, H); ++y) {
                mark(y, x, x);
            }
        }
    }
}

// Block loss, slice, blur and blockiness are run again, the literal
// versions, on the frames whose pictures they keep: not on every frame,
// only when a picture changes.
void ThumbnailCollector::keep(Picture& into, const FrameRecord& record, double value, Column column) {
    const uint8_t* pixels = scaled(record);
    std::copy(pixels, pixels + scratch_.size(), into.pixels.begin());
    into.frame = record.index;
    into.seconds = record.seconds;
    into.value = value;
    into.band = -1;
    std::fill(into.regions.begin(), into.regions.end(), 0);
    std::fill(into.marks.begin(), into.marks.end(), false);
    const Image frame{static_cast<uint64_t>(sourceWidth_), static_cast<uint64_t>(sourceHeight_),
                      const_cast<uint8_t*>(record.luma)};
    if (column == kBlockLoss && !into.regions.empty()) {
        if (regionsFrame_ != record.index) {
            regions_ = blockLossRegions(&frame);
            regionsFrame_ = record.index;
        }
        std::copy(regions_.begin(), regions_.end(), into.regions.begin());
    } else if (column == kSlice) {
        if (bandFrame_ != record.index) {
            band_ = sliceBand(&frame);
            bandFrame_ = record.index;
        }
        into.band = band_;
    } else if (column == kBlur || column == kBlockiness) {
        if (marksFrame_ != record.index || marksColumn_ != column) {
            locate(frame, column);
            marksFrame_ = record.index;
            marksColumn_ = column;
        }
        std::copy(marks_.begin(), marks_.end(), into.marks.begin());
    }
}

void ThumbnailCollector::frame(const FrameRecord& record) {
    if (record.luma == nullptr || scratch_.empty()) {
        return;
    }
    for (size_t c = 0; c < kIndicatorCount; ++c) {
        const auto column = static_cast<Column>(c);
        const double v = record.values[c];
        if (!columns_[c] || !isMeasured(record, column) || !std::isfinite(v)) {
            continue;
        }
        Picture& p = extremes_[c];
        if (!p.kept() || worse(worseDirection(column), v, p.value)) {
            keep(p, record, v, column);
        }
    }
    // Each rule's condition as the tracker (a sink before this one) found it
    // on this frame, so that the first and the worst frame of a run are at
    // hand when its event opens, after its minimum duration.
    const EventTracker& tracker = events_.tracker();
    const std::vector<EventRule>& rules = tracker.rules();
    const std::vector<Event>& events = tracker.eventsSoFar();
    for (; seenEvents_ < events.size(); ++seenEvents_) {
        runs_[events[seenEvents_].rule].event = seenEvents_;
        slotOf_.push_back(SIZE_MAX);
    }
    for (size_t i = 0; i < rules.size(); ++i) {
        const EventRule& r = rules[i];
        Run& run = runs_[i];
        const bool measured = isMeasured(record, r.column);
        const double v = record.values[r.column];
        if (!tracker.holding(i)) {
            if (run.event != SIZE_MAX) {
                store(run.event, run);
            }
            run.holding = false;
            run.event = SIZE_MAX;
            run.first.frame = run.worst.frame = -1;
            continue;
        }
        if (!run.holding) {
            run.holding = true;
            keep(run.first, record, v, r.column);
        }
        if (measured && (!run.worst.kept() || (r.watchesLow() ? v < run.worst.value : v > run.worst.value))) {
            keep(run.worst, record, v, r.column);
        }
    }
}

// A free place, or else the place of a kept event of a lower severity, or of
// the same severity whose indicator has at least two pictures more than this
// one's: so that every kind of fault keeps a picture before one kind has
// many. Of several, the one kept last gives way.
void ThumbnailCollector::store(size_t event, const Run& run) {
    const std::vector<Event>& events = events_.tracker().eventsSoFar();
    const Event& e = events[event];
    const auto rank = [&](const Slot& s) {
        const Event& k = events[s.event];
        return std::tuple(k.severity, -kept_[k.column], -static_cast<int64_t>(s.order));
    };
    Slot* target = nullptr;
    for (Slot& s : slots_) {
        if (s.event == SIZE_MAX) {
            target = &s;
            break;
        }
        if (target == nullptr || rank(s) < rank(*target)) {
            target = &s;
        }
    }
    if (target != nullptr && target->event != SIZE_MAX) {
        const Event& k = events[target->event];
        if (!(k.severity < e.severity || (k.severity == e.severity && kept_[k.column] > kept_[e.column] + 1))) {
            return;
        }
        slotOf_[target->event] = SIZE_MAX;
        --kept_[k.column];
    }
    if (target == nullptr) {
        return;
    }
    target->event = event;
    target->order = ++stored_;
    ++kept_[e.column];
    copyPicture(target->first, run.first);
    copyPicture(target->worst, run.worst.kept() ? run.worst : run.first);
    slotOf_[event] = static_cast<size_t>(target - slots_.data());
}

void ThumbnailCollector::finish(const RunSummary&) {
    // Events still open at the last frame.
    for (Run& run : runs_) {
        if (run.event != SIZE_MAX && run.event < slotOf_.size()) {
            store(run.event, run);
            run.event = SIZE_MAX;
        }
    }
}

const Picture* ThumbnailCollector::eventFirst(size_t event) const {
    return event < slotOf_.size() && slotOf_[event] != SIZE_MAX ? &slots_[slotOf_[event]].first : nullptr;
}

const Picture* ThumbnailCollector::eventWorst(size_t event) const {
    return event < slotOf_.size() && slotOf_[event] != SIZE_MAX ? &slots_[slotOf_[event]].worst : nullptr;
}

}  // namespace nrvq
