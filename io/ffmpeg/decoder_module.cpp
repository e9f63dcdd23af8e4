// The decoder module: everything of the tool that uses FFmpeg's libraries.
// It is built as a shared module that the library opens on first need, so
// that runs on raw and YUV4MPEG2 input never load FFmpeg (and the hundred
// or so shared objects its libraries pull in).
#include "io/decoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <atomic>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <set>
#include <new>
#include <vector>

#include "io/convert.h"
#include "io/sink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/error.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace nrvq {
namespace {

// Decode errors in a row, without a frame or an accepted packet in between,
// after which the stream counts as undecodable.
constexpr int kMaxErrorsInARow = 1024;
// Demuxer failures in a row after which the rest of the file is given up.
constexpr int kMaxReadFailures = 64;
// Bytes the container probe looks at, at first and at most.
constexpr size_t kProbeFirst = 2048;
constexpr size_t kProbeLast = size_t{1} << 20;

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The open decoders whose error reports are counted, keyed by the opaque
// pointer of their codec context (which frame threads copy to theirs).
std::mutex& registryMutex() {
    static std::mutex m;
    return m;
}
std::set<std::atomic<int64_t>*>& registry() {
    static std::set<std::atomic<int64_t>*> r;
    return r;
}

// The libraries print their own diagnostics to standard error by default.
// The tool reports what went wrong itself, so nothing is printed; instead,
// error reports of an open decoder are counted: many decoders conceal damage
// (a failed slice checksum, a broken macroblock) and say so only there.
void countLibraryErrors(void* context, int level, const char*, va_list) {
    if (context == nullptr || (level & 0xff) > AV_LOG_ERROR) return;
    if (*static_cast<const AVClass* const*>(context) != avcodec_get_class()) return;
    auto* counter = static_cast<std::atomic<int64_t>*>(static_cast<AVCodecContext*>(context)->opaque);
    const std::lock_guard<std::mutex> lock(registryMutex());
    if (registry().count(counter) != 0) counter->fetch_add(1, std::memory_order_relaxed);
}

void silenceLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(countLibraryErrors); });
}

// Keeps a counter in the registry for as long as it lives.
class Registration {
public:
    explicit Registration(std::atomic<int64_t>* counter) : counter_(counter) {
        const std::lock_guard<std::mutex> lock(registryMutex());
        registry().insert(counter_);
    }
    ~Registration() {
        const std::lock_guard<std::mutex> lock(registryMutex());
        registry().erase(counter_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    std::atomic<int64_t>* counter_;
};

struct FormatCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct ScalerFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct AvFreer {
    void operator()(uint8_t* p) const { av_free(p); }
};
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// True when the picture's luma can be read straight from its first
// component: YUV and gray formats, planar or packed, of 8 to 16 bits per
// sample in whole bytes or 16-bit words. RGB, paletted, Bayer, XYZ, float
// and bit-packed formats have no stored luma and go through swscale.
bool hasStoredLuma(AVPixelFormat format, const AVPixFmtDescriptor* desc) {
    constexpr uint64_t kNotYuv = AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                                 AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_BAYER;
    if ((desc->flags & kNotYuv) != 0 || desc->nb_components < 1) return false;
    if (format == AV_PIX_FMT_XYZ12LE || format == AV_PIX_FMT_XYZ12BE) return false;
    const AVComponentDescriptor& c = desc->comp[0];
    if (c.step < 1 || c.offset < 0 || c.shift < 0) return false;
    if (c.depth == 8) return c.shift == 0;
    return c.depth > 8 && c.depth <= 16 && c.shift + c.depth <= 16 && c.step % 2 == 0 && c.offset % 2 == 0;
}

struct State {
    SourceInfo info;
    std::function<bool()> interrupted;  // read by the libraries' interrupt callback
    // Error reports of the decoder, counted from its threads; registered
    // before the decoder opens and removed after it is freed (members are
    // destroyed in reverse order).
    std::atomic<int64_t> loggedErrors{0};
    int64_t seenErrors = 0;  // loggedErrors when the last frame came out
    Registration registration{&loggedErrors};
    std::unique_ptr<AVFormatContext, FormatCloser> format;
    std::unique_ptr<AVCodecContext, CodecFreer> codec;
    std::unique_ptr<AVPacket, PacketFreer> packet;
    std::unique_ptr<AVFrame, FrameFreer> frame;
    // Frames that hold the pictures lent to the caller, made only when none
    // is spare: a run of lent frames allocates none per frame. Spare ones
    // hold no picture; the list has room for every frame made, so that a
    // frame given back never needs memory. Guarded by loansMutex, as loans
    // come back from other threads.
    std::mutex loansMutex;
    std::vector<std::unique_ptr<AVFrame, FrameFreer>> loanFrames;
    std::vector<AVFrame*> spareFrames;
    std::unique_ptr<SwsContext, ScalerFreer> scaler;  // made on the first picture without stored luma
    std::unique_ptr<uint8_t, AvFreer> gray;           // swscale's aligned output
    int grayStride = 0;
    std::vector<uint16_t> wide;  // one row of samples wider than 8 bits

    int streamIndex = -1;
    // Presentation times: the stream's time base and the timestamp of its
    // start (AV_NOPTS_VALUE until known); off when the rate is overridden.
    bool timestamps = false;
    AVRational timeBase{0, 1};
    int64_t origin = AV_NOPTS_VALUE;
    double lastSeconds = std::numeric_limits<double>::quiet_NaN();  // of the last frame delivered
    int64_t toSkip = 0;      // decoded frames still to drop before the start
    int64_t remaining = -1;  // frames still to deliver; -1: no limit
    int64_t decoded = 0;     // frames out of the decoder, dropped ones included
    int64_t requested = -1;  // frames asked for; -1: to the end
    int64_t announced = -1;  // frames the container says the stream has; -1: it does not say
    int64_t damagedPackets = 0;
    int64_t damagedFrames = 0;
    int lastError = 0;          // the most recent decode error
    int errorsInARow = 0;
    int readFailures = 0;
    int refusals = 0;  // packets refused in a row, without a frame in between
    bool packetPending = false;  // packet holds data the decoder has not taken yet
    bool inputEnded = false;     // the decoder has been told that no packet follows
    bool ended = false;
    std::string failure;  // once set, every later read fails with it

    ReadResult fail(std::string message) {
        failure = std::move(message);
        return error();
    }
    ReadResult error() const {
        ReadResult r;
        r.status = ReadStatus::Error;
        r.message = failure;
        return r;
    }
    static ReadResult end() {
        ReadResult r;
        r.status = ReadStatus::End;
        return r;
    }

    // A decode error, counted. Memory the decoder cannot have for a packet
    // counts too: damaged input asks it for absurd sizes, and errors that go
    // on end the run with the frames before them kept.
    void damaged(int code) {
        ++damagedPackets;
        ++errorsInARow;
        lastError = code;
    }

    // Hands the decoder its next packet of the stream, or the end of input.
    // Returns false with failure set when the input cannot be read.
    bool feed() {
        while (!packetPending) {
            const int rc = av_read_frame(format.get(), packet.get());
            // An interrupted read (a network input that stalled or a stop)
            // ends the input: the frames the decoder holds still come out.
            if (rc == AVERROR_EOF || rc == AVERROR_EXIT) {
                avcodec_send_packet(codec.get(), nullptr);
                inputEnded = true;
                return true;
            }
            if (rc == AVERROR_INVALIDDATA || rc == AVERROR(EAGAIN)) {
                // The demuxer met damage; it resynchronises on the next call
                // unless the damage goes on, which ends the input.
                if (rc == AVERROR_INVALIDDATA) ++damagedPackets;
                if (++readFailures > kMaxReadFailures) {
                    avcodec_send_packet(codec.get(), nullptr);
                    inputEnded = true;
                    return true;
                }
                continue;
            }
            if (rc < 0) {
                failure = "cannot read " + info.path + ": " + errorText(rc);
                return false;
            }
            readFailures = 0;
            if (packet->stream_index == streamIndex) {
                packetPending = true;
            } else {
                av_packet_unref(packet.get());
            }
        }
        const int rc = avcodec_send_packet(codec.get(), packet.get());
        if (rc == AVERROR(EAGAIN)) {
            // Frames must be taken first; the packet waits. A decoder that
            // neither takes input nor gives output is stuck.
            if (++refusals > 2) {
                failure = "the decoder of " + info.path + " stopped taking input";
                return false;
            }
            return true;
        }
        av_packet_unref(packet.get());
        packetPending = false;
        if (rc < 0) {
            damaged(rc);
        } else {
            errorsInARow = 0;
        }
        return true;
    }

    // Writes the luma plane of the decoded frame into luma.
    ReadResult extract(uint8_t* luma) {
        const AVFrame& f = *frame;
        const int32_t w = info.width;
        const int32_t h = info.height;
        if (f.width != w || f.height != h) {
            return fail("frame " + std::to_string(decoded - 1) + " of " + info.path + " is " +
                        std::to_string(f.width) + " x " + std::to_string(f.height) + ", the stream started at " +
                        std::to_string(w) + " x " + std::to_string(h));
        }
        const auto pixfmt = static_cast<AVPixelFormat>(f.format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixfmt);
        if (desc == nullptr) return fail("a frame of " + info.path + " has no known pixel format");
        const auto width = static_cast<size_t>(w);
        if (hasStoredLuma(pixfmt, desc)) {
            const AVComponentDescriptor& c = desc->comp[0];
            const uint8_t* base = f.data[c.plane] + c.offset;
            const ptrdiff_t linesize = f.linesize[c.plane];
            const auto step = static_cast<size_t>(c.step);
            const bool bigEndian = (desc->flags & AV_PIX_FMT_FLAG_BE) != 0;
            const auto mask = static_cast<uint16_t>((1u << c.depth) - 1);
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* row = base + y * linesize;
                uint8_t* out = luma + static_cast<size_t>(y) * width;
                if (c.depth == 8 && step == 1) {
                    std::memcpy(out, row, width);
                } else if (c.depth == 8) {
                    for (size_t x = 0; x < width; ++x) out[x] = row[x * step];
                } else {
                    for (size_t x = 0; x < width; ++x) {
                        const unsigned v = bigEndian ? AV_RB16(row + x * step) : AV_RL16(row + x * step);
                        wide[x] = static_cast<uint16_t>((v >> c.shift) & mask);
                    }
                    narrowSamples(wide.data(), c.depth, out, width);
                }
            }
        } else {
            // No stored luma: swscale computes 8-bit gray (full range,
            // BT.601 weights), bit-exact whatever the processor.
            scaler.reset(sws_getCachedContext(scaler.release(), w, h, pixfmt, w, h, AV_PIX_FMT_GRAY8,
                                              SWS_POINT | SWS_BITEXACT | SWS_ACCURATE_RND, nullptr, nullptr,
                                              nullptr));
            if (!scaler) {
                return fail(std::string("cannot convert the ") + desc->name + " frames of " + info.path +
                            " to luma");
            }
            if (!gray) {
                grayStride = (w + 63) / 64 * 64;
                gray.reset(static_cast<uint8_t*>(av_malloc(static_cast<size_t>(grayStride) * h)));
                if (!gray) throw std::bad_alloc();
            }
            uint8_t* planes[4] = {gray.get(), nullptr, nullptr, nullptr};
            int strides[4] = {grayStride, 0, 0, 0};
            if (sws_scale(scaler.get(), f.data, f.linesize, 0, h, planes, strides) != h) {
                return fail(std::string("cannot convert the ") + desc->name + " frames of " + info.path +
                            " to luma");
            }
            for (int32_t y = 0; y < h; ++y) {
                std::memcpy(luma + static_cast<size_t>(y) * width,
                            gray.get() + static_cast<size_t>(y) * static_cast<size_t>(grayStride), width);
            }
        }
        ReadResult r;
        r.bytesRead = width * static_cast<size_t>(h);
        return r;
    }

    // The decoded frame's luma plane when it can be analysed where the
    // decoder put it: the frame's size, 8-bit samples side by side and rows
    // back to back. Null otherwise (extract() copies or converts it).
    const uint8_t* inPlace() const {
        const AVFrame& f = *frame;
        if (f.width != info.width || f.height != info.height || f.buf[0] == nullptr) return nullptr;
        const auto pixfmt = static_cast<AVPixelFormat>(f.format);
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pixfmt);
        if (desc == nullptr || !hasStoredLuma(pixfmt, desc)) return nullptr;
        const AVComponentDescriptor& c = desc->comp[0];
        if (c.depth != 8 || c.step != 1 || f.linesize[c.plane] != info.width) return nullptr;
        return f.data[c.plane] + c.offset;
    }

    // Lets go of the frame's buffers other than the one that holds plane, so
    // that a lent frame keeps only its luma: the decoder keeps each plane in
    // a buffer of its own, and its chroma goes back to the decoder's pool
    // once the decoder no longer refers to it. The data pointers into the
    // buffers let go are cleared.
    static void keepOnlyBufferOf(AVFrame& f, const uint8_t* plane) {
        const auto holds = [](const AVBufferRef* buffer, const uint8_t* at) {
            return buffer != nullptr && at >= buffer->data && at < buffer->data + buffer->size;
        };
        size_t kept = AV_NUM_DATA_POINTERS;
        for (size_t i = 0; i < AV_NUM_DATA_POINTERS && kept == AV_NUM_DATA_POINTERS; ++i) {
            if (holds(f.buf[i], plane)) kept = i;
        }
        // A plane in an extended buffer, or in none: everything is kept.
        if (kept == AV_NUM_DATA_POINTERS || f.extended_buf != nullptr) return;
        for (size_t i = 0; i < AV_NUM_DATA_POINTERS; ++i) {
            if (f.data[i] != nullptr && !holds(f.buf[kept], f.data[i])) {
                f.data[i] = nullptr;
                f.linesize[i] = 0;
            }
        }
        std::swap(f.buf[0], f.buf[kept]);
        for (size_t i = 1; i < AV_NUM_DATA_POINTERS; ++i) {
            av_buffer_unref(&f.buf[i]);
        }
    }

    // Lends the decoded frame's plane, which inPlace() gave: the picture's
    // reference moves to a frame of the loan list until giveBack().
    ReadResult lendFrame(const uint8_t* inPlacePlane, const uint8_t*& plane, void*& loan) {
        AVFrame* holder = nullptr;
        {
            const std::lock_guard<std::mutex> lock(loansMutex);
            if (spareFrames.empty()) {
                loanFrames.reserve(loanFrames.size() + 1);
                spareFrames.reserve(loanFrames.size() + 1);
                std::unique_ptr<AVFrame, FrameFreer> made(av_frame_alloc());
                if (!made) throw std::bad_alloc();
                holder = made.get();
                loanFrames.push_back(std::move(made));
            } else {
                holder = spareFrames.back();
                spareFrames.pop_back();
            }
        }
        av_frame_move_ref(holder, frame.get());
        keepOnlyBufferOf(*holder, inPlacePlane);
        plane = inPlacePlane;
        loan = holder;
        ReadResult r;
        r.bytesRead = static_cast<size_t>(info.width) * static_cast<size_t>(info.height);
        return r;
    }

    void giveBack(void* loan) noexcept {
        auto* holder = static_cast<AVFrame*>(loan);
        av_frame_unref(holder);
        const std::lock_guard<std::mutex> lock(loansMutex);
        spareFrames.push_back(holder);
    }

    // The next frame into luma; or, with plane and loan given, lent when
    // inPlace() allows (see FrameSource::lend).
    ReadResult next(uint8_t* luma, const uint8_t** plane = nullptr, void** loan = nullptr) {
        if (plane != nullptr) {
            *plane = nullptr;
            *loan = nullptr;
        }
        if (!failure.empty()) return error();
        if (ended || remaining == 0) return end();
        for (;;) {
            const int rc = avcodec_receive_frame(codec.get(), frame.get());
            if (rc == 0) {
                ++decoded;
                errorsInARow = 0;
                refusals = 0;
                const int64_t logged = loggedErrors.load(std::memory_order_relaxed);
                if ((frame->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame->decode_error_flags != 0 ||
                    logged != seenErrors) {
                    ++damagedFrames;
                }
                seenErrors = logged;
                if (toSkip > 0) {
                    --toSkip;
                    av_frame_unref(frame.get());
                    continue;
                }
                const int64_t pts = frame->best_effort_timestamp;
                if (origin == AV_NOPTS_VALUE) origin = pts;
                const uint8_t* lendable = plane != nullptr ? inPlace() : nullptr;
                ReadResult r = lendable != nullptr ? lendFrame(lendable, *plane, *loan) : extract(luma);
                if (timestamps) {
                    // A frame without a timestamp follows the last one by a
                    // frame period.
                    r.seconds = pts != AV_NOPTS_VALUE && origin != AV_NOPTS_VALUE
                                    ? static_cast<double>(pts - origin) * av_q2d(timeBase)
                                    : lastSeconds + 1.0 / info.fps;
                    lastSeconds = r.seconds;
                }
                av_frame_unref(frame.get());
                if (r.status == ReadStatus::Frame && remaining > 0) --remaining;
                return r;
            }
            if (rc == AVERROR_EOF || (rc == AVERROR(EAGAIN) && inputEnded)) {
                ended = true;
                if (decoded == 0 && damagedPackets > 0) {
                    return fail("no frame of " + info.path + " could be decoded: " + errorText(lastError));
                }
                return end();
            }
            if (rc != AVERROR(EAGAIN)) {
                damaged(rc);
            } else if (!feed()) {
                return error();
            }
            if (errorsInARow > kMaxErrorsInARow) {
                return fail("the video of " + info.path + " cannot be decoded: " + errorText(lastError));
            }
        }
    }
};

class FfmpegSource final : public DecoderSource {
public:
    explicit FfmpegSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
    const SourceInfo& info() const override { return state_->info; }
    ReadResult next(uint8_t* luma) override { return state_->next(luma); }
    ReadResult lend(uint8_t* luma, const uint8_t*& plane, void*& loan) override {
        return state_->next(luma, &plane, &loan);
    }
    void giveBack(void* loan) noexcept override { state_->giveBack(loan); }
    int64_t damagedPackets() const override { return state_->damagedPackets; }
    int64_t damagedFrames() const override { return state_->damagedFrames; }
    bool endReached() const override { return state_->ended; }
    int64_t decodedFrames() const override { return state_->decoded; }
    int64_t requestedFrames() const override { return state_->requested; }
    int64_t announcedFrames() const override { return state_->announced; }

private:
    std::unique_ptr<State> state_;
};

std::unique_ptr<DecoderSource> openSource(const std::string& path, const DecoderOptions& options) {
    silenceLibraries();
    if (options.startFrame < 0) throw SourceError("the start frame for " + path + " is negative");
    auto state = std::make_unique<State>();
    SourceInfo& info = state->info;
    info.path = path;
    info.kind = "decoded";

    AVFormatContext* opened = avformat_alloc_context();
    if (opened == nullptr) throw std::bad_alloc();
    if (options.interrupted) {
        state->interrupted = options.interrupted;
        opened->interrupt_callback.callback = [](void* opaque) {
            return static_cast<State*>(opaque)->interrupted() ? 1 : 0;
        };
        opened->interrupt_callback.opaque = state.get();
    }
    AVDictionary* dictionary = nullptr;
    for (const auto& [key, value] : options.inputOptions) av_dict_set(&dictionary, key.c_str(), value.c_str(), 0);
    const std::unique_ptr<AVDictionary*, void (*)(AVDictionary**)> dictionaryOwner(&dictionary, av_dict_free);
    // On failure the context is freed by the call.
    int rc = avformat_open_input(&opened, path.c_str(), nullptr, &dictionary);
    if (rc == AVERROR_PROTOCOL_NOT_FOUND) throw LastingSourceError("cannot open " + path + ": " + errorText(rc));
    if (rc < 0) throw SourceError("cannot open " + path + ": " + errorText(rc));
    state->format.reset(opened);
    if (const AVDictionaryEntry* unused = av_dict_get(dictionary, "", nullptr, AV_DICT_IGNORE_SUFFIX)) {
        throw LastingSourceError(std::string("--input-option ") + unused->key + ": no option of that name for " + path);
    }
    AVFormatContext* format = opened;
    // The probe decodes a few frames of every stream; frames larger than
    // accepted are refused there too, not allocated.
    const int64_t maxSamples = std::min(options.maxSamples, kMaxDecodedSamples);
    // Frame sizes that the container states, kept for the message: a
    // refused probe leaves a stream's size unknown.
    std::vector<std::pair<int, int>> statedSizes;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        statedSizes.emplace_back(format->streams[i]->codecpar->width, format->streams[i]->codecpar->height);
    }
    std::vector<AVDictionary*> probeOptions(format->nb_streams, nullptr);
    for (AVDictionary*& o : probeOptions) av_dict_set_int(&o, "max_pixels", maxSamples, 0);
    rc = avformat_find_stream_info(format, probeOptions.data());
    for (AVDictionary*& o : probeOptions) av_dict_free(&o);
    if (rc < 0) throw SourceError("cannot read the streams of " + path + ": " + errorText(rc));

    // The first video stream that is not a still picture attached to the
    // file (cover art), unless a stream is asked for.
    int index = options.stream;
    const auto streams = static_cast<int>(format->nb_streams);
    if (index >= 0) {
        if (index >= streams) {
            throw SourceError("no stream " + std::to_string(index) + " in " + path + " (it has " +
                              std::to_string(streams) + ")");
        }
        if (format->streams[index]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
            throw SourceError("stream " + std::to_string(index) + " of " + path + " is not a video stream");
        }
    } else {
        for (int i = 0; i < streams && index < 0; ++i) {
            const AVStream* s = format->streams[i];
            if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && (s->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0) {
                index = i;
            }
        }
        if (index < 0) throw SourceError("no video stream in " + path);
    }
    for (int i = 0; i < streams; ++i) {
        if (i != index) format->streams[i]->discard = AVDISCARD_ALL;
    }
    state->streamIndex = index;
    AVStream* stream = format->streams[index];
    const AVCodecParameters* par = stream->codecpar;

    const auto [statedWidth, statedHeight] =
        static_cast<size_t>(index) < statedSizes.size() ? statedSizes[index] : std::pair<int, int>{0, 0};
    const int width = par->width > 0 ? par->width : statedWidth;
    const int height = par->height > 0 ? par->height : statedHeight;
    if (width > kMaxDecodedSide || height > kMaxDecodedSide || static_cast<int64_t>(width) * height > maxSamples) {
        throw SourceError("the frames of " + path + " are " + std::to_string(width) + " x " + std::to_string(height) +
                          ", larger than the " + std::to_string(kMaxDecodedSide) + " samples a side and " +
                          (maxSamples == kMaxDecodedSamples ? std::string("2^28") : std::to_string(maxSamples)) +
                          " samples in all that are accepted");
    }
    if (par->width <= 0 || par->height <= 0) {
        throw SourceError("the frame size of stream " + std::to_string(index) + " of " + path + " is unknown");
    }
    info.width = par->width;
    info.height = par->height;

    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (decoder == nullptr) {
        throw SourceError(std::string("no decoder for the ") + avcodec_get_name(par->codec_id) + " video of " +
                          path);
    }
    state->codec.reset(avcodec_alloc_context3(decoder));
    AVCodecContext* codec = state->codec.get();
    if (codec == nullptr) throw std::bad_alloc();
    rc = avcodec_parameters_to_context(codec, par);
    if (rc < 0) throw SourceError("cannot set up the decoder for " + path + ": " + errorText(rc));
    codec->opaque = &state->loggedErrors;
    codec->pkt_timebase = stream->time_base;
    codec->max_pixels = maxSamples;
    // By default one thread a processor. The libraries' own choice adds one
    // more, whose frame in flight costs a picture's memory and only keeps
    // the cores busy while the others wait on their references; in a run,
    // the analysis fills those waits instead, from decoded frames held ahead
    // in its slots.
    codec->thread_count = options.threads > 0 ? options.threads : av_cpu_count();
    if (codec->thread_count != 1) {
        codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    // Damaged frames are delivered (and counted) rather than dropped.
    codec->flags |= AV_CODEC_FLAG_OUTPUT_CORRUPT;
    rc = avcodec_open2(codec, decoder, nullptr);
    if (rc < 0) {
        throw SourceError(std::string("cannot open the ") + decoder->name + " decoder for " + path + ": " +
                          errorText(rc));
    }

    const char* layout = av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format));
    if (layout == nullptr) layout = av_get_pix_fmt_name(codec->pix_fmt);
    info.layout = layout != nullptr ? layout : "unknown";

    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream->r_frame_rate;
    info.fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : kDefaultFps;
    if (options.fps > 0) info.fps = options.fps;
    state->timestamps = options.fps <= 0 && stream->time_base.num > 0 && stream->time_base.den > 0;
    state->timeBase = stream->time_base;
    state->origin = stream->start_time;

    info.startFrame = options.startFrame;
    if (stream->nb_frames > 0) {
        info.frameCount = std::max<int64_t>(0, stream->nb_frames - options.startFrame);
        if (options.frameCount >= 0) info.frameCount = std::min(info.frameCount, options.frameCount);
    } else {
        info.frameCount = options.frameCount >= 0 ? options.frameCount : -1;
    }
    state->toSkip = options.startFrame;
    state->remaining = options.frameCount >= 0 ? options.frameCount : -1;
    state->requested = state->remaining;
    state->announced = stream->nb_frames > 0 ? stream->nb_frames : -1;

    state->packet.reset(av_packet_alloc());
    state->frame.reset(av_frame_alloc());
    if (!state->packet || !state->frame) throw std::bad_alloc();
    state->wide.resize(static_cast<size_t>(info.width));
    return std::make_unique<FfmpegSource>(std::move(state));
}

bool probeContainer(const std::string& path) {
    silenceLibraries();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    std::vector<uint8_t> bytes;
    size_t have = 0;
    // Larger and larger beginnings of the file until a format is recognised
    // with confidence; the name is left out so that no guess rests on the
    // extension alone.
    for (size_t size = kProbeFirst;; size *= 2) {
        bytes.resize(size + AVPROBE_PADDING_SIZE);
        have += std::fread(bytes.data() + have, 1, size - have, file.get());
        std::fill(bytes.begin() + static_cast<ptrdiff_t>(have), bytes.end(), uint8_t{0});
        if (have == 0) return false;
        // YUV4MPEG2 files have a reader of their own.
        if (have >= 9 && std::memcmp(bytes.data(), "YUV4MPEG2", 9) == 0) return false;
        AVProbeData probe{};
        probe.filename = "";
        probe.buf = bytes.data();
        probe.buf_size = static_cast<int>(have);
        int score = AVPROBE_SCORE_RETRY;
        const AVInputFormat* found = av_probe_input_format2(&probe, 1, &score);
        if (found != nullptr) {
            return std::strcmp(found->name, "rawvideo") != 0 && std::strcmp(found->name, "yuv4mpegpipe") != 0;
        }
        if (have < size || size >= kProbeLast) return false;
    }
}

// The report's thumbnails: a grey picture as a PNG file, through FFmpeg's
// PNG encoder.
std::string encodePng(const uint8_t* gray, int width, int height) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (codec == nullptr) {
        throw OutputError("Cannot draw the report's thumbnails: FFmpeg has no PNG encoder");
    }
    std::unique_ptr<AVCodecContext, CodecFreer> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    if (!context || !frame || !packet) {
        throw std::bad_alloc();
    }
    context->width = width;
    context->height = height;
    context->pix_fmt = AV_PIX_FMT_GRAY8;
    context->time_base = AVRational{1, 25};
    frame->format = AV_PIX_FMT_GRAY8;
    frame->width = width;
    frame->height = height;
    if (avcodec_open2(context.get(), codec, nullptr) < 0 || av_frame_get_buffer(frame.get(), 0) < 0) {
        throw OutputError("Cannot draw the report's thumbnails: the PNG encoder does not start");
    }
    for (int y = 0; y < height; ++y) {
        std::memcpy(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0],
                    gray + static_cast<ptrdiff_t>(y) * width, static_cast<size_t>(width));
    }
    std::string file;
    if (avcodec_send_frame(context.get(), frame.get()) < 0 || avcodec_send_frame(context.get(), nullptr) < 0) {
        throw OutputError("Cannot draw the report's thumbnails: the PNG encoder refused a picture");
    }
    while (avcodec_receive_packet(context.get(), packet.get()) == 0) {
        file.append(reinterpret_cast<const char*>(packet->data), static_cast<size_t>(packet->size));
        av_packet_unref(packet.get());
    }
    if (file.empty()) {
        throw OutputError("Cannot draw the report's thumbnails: the PNG encoder gave nothing");
    }
    return file;
}

const DecoderModule kModule{kDecoderModuleAbi, sizeof(DecoderOptions), sizeof(SourceInfo), openSource,
                            probeContainer, encodePng};

}  // namespace
}  // namespace nrvq

extern "C" __attribute__((visibility("default"))) const nrvq::DecoderModule* nrvq_decoder_module() {
    return &nrvq::kModule;
}
