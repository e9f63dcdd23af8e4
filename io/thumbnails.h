// Small pictures of the frames the report shows: for every event its first
// frame and its worst one, and for every indicator the frame of its most
// extreme value. The sink keeps only downscaled copies of the luma plane, in
// buffers made once before the first frame, so memory stays bounded whatever
// the length of the input and no frame allocates.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/registry.h"
#include "io/sink.h"

struct Image;

namespace nrvq {

class EventLog;

// One kept picture: a gray image of the collector's thumbnail size.
struct Picture {
    int64_t frame = -1;  // -1: none kept
    double seconds = 0;
    double value = 0;  // the indicator's value on that frame
    std::vector<uint8_t> pixels;
    // Where the indicator found the fault, for a picture of block loss or
    // slice: the regions of 256 x 256 samples with lost blocks (nonzero,
    // regionColumns wide), the slice band (rows 16 * band ... + 31), or -1.
    std::vector<int32_t> regions;
    int32_t band = -1;
    // For a picture of blur or blockiness, a flag per picture pixel, row
    // after row: whether blur's measured edges or blockiness's showing grid
    // pass through it.
    std::vector<bool> marks;
    bool kept() const { return frame >= 0; }
};

// Which way an indicator's values are worse: what its extreme frame is.
enum class Worse { Higher, Lower, Apart };  // Apart: away from mid-grey (exposure)
Worse worseDirection(Column column);

// Turns a gray picture into an image file. The report needs no more of an
// image library than this.
class ThumbnailEncoder {
public:
    virtual ~ThumbnailEncoder() = default;
    // A PNG file; throws OutputError when the encoder fails.
    virtual std::string png(const uint8_t* gray, int width, int height) = 0;
};
// FFmpeg's PNG encoder.
std::unique_ptr<ThumbnailEncoder> makePngEncoder();

class ThumbnailCollector : public FrameSink {
public:
    // Pictures of at most eventLimit events; once full, an event takes the
    // place of one of a lower severity, or of one of its own severity whose
    // indicator has two pictures more than its own.
    ThumbnailCollector(const EventLog& events, ColumnSet columns, size_t eventLimit = 64, int longestSide = 192);
    void begin(const SourceInfo& info) override;
    void frame(const FrameRecord& record) override;
    void finish(const RunSummary& summary) override;

    int width() const { return width_; }
    int height() const { return height_; }
    int sourceWidth() const { return sourceWidth_; }
    int sourceHeight() const { return sourceHeight_; }
    int regionColumns() const { return sourceWidth_ / 256; }
    const Picture& extreme(size_t column) const { return extremes_[column]; }
    // The first and the worst frame of an event (by its index in the
    // tracker's list); null when none was kept.
    const Picture* eventFirst(size_t event) const;
    const Picture* eventWorst(size_t event) const;
    size_t eventLimit() const { return slots_.size(); }

private:
    struct Run {  // a rule's condition holding, as the tracker follows it
        bool holding = false;
        size_t event = SIZE_MAX;  // the event it opened, once it has
        Picture first;
        Picture worst;
    };
    struct Slot {
        size_t event = SIZE_MAX;  // SIZE_MAX: free
        uint64_t order = 0;       // when it was stored
        Picture first;
        Picture worst;
    };
    const uint8_t* scaled(const FrameRecord& record);
    // Takes the frame's picture, and where block loss, slice, blur or
    // blockiness found their fault when the picture is one of theirs.
    void keep(Picture& into, const FrameRecord& record, double value, Column column);
    void store(size_t event, const Run& run);
    void locate(const Image& frame, Column column);

    const EventLog& events_;
    ColumnSet columns_;
    int longestSide_;
    int sourceWidth_ = 0, sourceHeight_ = 0;
    int width_ = 0, height_ = 0;
    std::vector<uint8_t> scratch_;
    int64_t scratchFrame_ = -1;
    std::vector<int32_t> regions_;  // of the frame located last
    int32_t band_ = -1;
    int64_t regionsFrame_ = -1, bandFrame_ = -1;
    std::vector<bool> marks_;  // of the frame and column located last
    int64_t marksFrame_ = -1;
    Column marksColumn_ = kBlur;
    std::array<Picture, kIndicatorCount> extremes_;
    std::vector<Run> runs_;          // one per rule
    std::vector<Slot> slots_;        // eventLimit
    std::vector<size_t> slotOf_;     // per event: its slot, SIZE_MAX when none
    size_t seenEvents_ = 0;
    std::array<int64_t, kIndicatorCount> kept_{};  // events with a picture, per indicator
    uint64_t stored_ = 0;
};

}  // namespace nrvq
