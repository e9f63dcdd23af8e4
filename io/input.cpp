#include "io/input.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "io/byte_stream.h"
#include "io/decoder.h"
#include "io/layout.h"
#include "io/live_source.h"
#include "io/raw_source.h"
#include "io/y4m.h"
#include "nrvq/nrvq.h"

namespace nrvq {

namespace {

bool startsWith(std::span<const uint8_t> head, size_t at, std::string_view bytes) {
    return head.size() >= at + bytes.size() && std::memcmp(head.data() + at, bytes.data(), bytes.size()) == 0;
}

// MPEG transport stream: a sync byte every 188 bytes. A flat raw picture of
// luma 0x47 has them too, so some byte between must differ.
bool looksLikeTransportStream(std::span<const uint8_t> head) {
    constexpr size_t kPacket = 188;
    constexpr size_t kPackets = 4;
    if (head.size() <= kPacket * (kPackets - 1)) {
        return false;
    }
    for (size_t p = 0; p < kPackets; ++p) {
        if (head[p * kPacket] != 0x47) {
            return false;
        }
    }
    return std::any_of(head.begin(), head.begin() + kPacket * (kPackets - 1), [](uint8_t b) { return b != 0x47; });
}

// 10-bit little-endian samples read as 8-bit ones: every second byte is a
// high byte of 0 ... 3, while the others are not all that small.
bool looksLikeTenBit(std::span<const uint8_t> head) {
    if (head.size() < 64) {
        return false;
    }
    bool large = false;
    for (size_t i = 0; i + 1 < head.size(); i += 2) {
        if (head[i + 1] > 3) {
            return false;
        }
        large = large || head[i] > 3;
    }
    return large;
}

// 8-bit samples read as wider ones: little-endian samples above the
// largest value of that many bits.
bool looksLikeEightBit(std::span<const uint8_t> head, int bits) {
    for (size_t i = 0; i + 1 < head.size(); i += 2) {
        if ((head[i] | (head[i + 1] << 8)) >= (1 << bits)) {
            return true;
        }
    }
    return false;
}

// Whether FFmpeg's probe is worth asking about a file without one of the
// fixed signatures. The probe loads FFmpeg's libraries, which cost a short
// run more than its analysis, so a file whose first bytes hold none of the
// marks of the other inputs FFmpeg reads is taken for raw video straight
// away: elementary video streams (MPEG-1/2/4, H.264, H.265, H.266, VC-1,
// AVS: a start code 00 00 01 near the beginning; H.263: 00 00 8x), pictures
// and rarer containers by their signatures.
bool mayHoldCompressedVideo(std::span<const uint8_t> head) {
    const size_t scan = std::min<size_t>(head.size(), 4096);
    for (size_t i = 0; i + 2 < scan; ++i) {
        if (head[i] == 0 && head[i + 1] == 0 && (head[i + 2] == 1 || (head[i + 2] & 0xfc) == 0x80)) return true;
    }
    static constexpr std::string_view kAtStart[] = {
        "GIF8", "\x89PNG", "\xff\xd8\xff", "BM", "BBCD", "RIFF", "FORM", ".RMF", "BIK", "KB2", "nut/multimedia",
        std::string_view("\x06\x0e\x2b\x34", 4), std::string_view("\x00\x00\x00\x0cjP", 6),
        std::string_view("\x12\x00", 2), "\xff\x4f\xff\x51", "II*", "MM", "SIMPLE", "P5", "P6", "P7", "#?RADIANCE",
        "DHAV", "AMV", "SMJPEG", "CDXA", "MVhd", "\x8aMNG"};
    static constexpr std::string_view kAtFour[] = {"moov", "mdat", "wide", "free", "skip", "pnot", "jP  "};
    for (std::string_view magic : kAtStart) {
        if (startsWith(head, 0, magic)) return true;
    }
    for (std::string_view magic : kAtFour) {
        if (startsWith(head, 4, magic)) return true;
    }
    return false;
}

// A container or compressed stream, decoded with FFmpeg's libraries, which
// open the file themselves: a pipe's bytes cannot be handed to them yet.
std::unique_ptr<FrameSource> openContainer(std::unique_ptr<ByteStream> stream, const InputRequest& request) {
    const std::string path = stream->path();
    if (!stream->seekable()) {
        throw InputError((path == "-" ? std::string("Standard input") : path) +
                         " holds compressed video, which is decoded from files only. Save it to a file, or "
                         "pipe it as YUV4MPEG2:\n  ffmpeg -i IN -f yuv4mpegpipe - | nrvq -");
    }
    stream.reset();
    if (!request.pixFmt.empty()) {
        throw InputError(std::string(request.names.pixFmt) + " applies to raw video, and " + path + " is decoded");
    }
    DecoderOptions options;
    options.stream = request.stream.value_or(-1);
    options.fps = request.fps.value_or(0);
    options.startFrame = request.start;
    options.frameCount = request.frames ? std::max<int32_t>(*request.frames, 0) : -1;
    std::unique_ptr<DecoderSource> source;
    try {
        source = openDecoderSource(path, options);
    } catch (const SourceError& e) {
        throw InputError(e.what());
    }
    const SourceInfo& info = source->info();
    if ((request.width && *request.width != info.width) || (request.height && *request.height != info.height)) {
        throw InputError("The frames of " + path + " are " + std::to_string(info.width) + " x " +
                         std::to_string(info.height) + ", not the " + std::to_string(request.width.value_or(0)) +
                         " x " + std::to_string(request.height.value_or(0)) + " given");
    }
    return source;
}

std::unique_ptr<FrameSource> openLive(const InputRequest& request) {
    if (!request.pixFmt.empty()) {
        throw InputError(std::string(request.names.pixFmt) + " applies to raw video, and " + request.path +
                         " is decoded");
    }
    if (request.start != 0) {
        throw InputError(std::string(request.names.start) + " applies to files, and " + request.path +
                         " is a live stream");
    }
    LiveOptions options;
    options.stream = request.stream.value_or(-1);
    options.inputOptions = request.inputOptions;
    options.once = request.once;
    options.frames = request.frames ? std::max<int32_t>(*request.frames, 0) : -1;
    // HTTP (HLS, DASH, progressive) is pulled: segments come in bursts, a
    // few seconds apart, and wait on the server while the analysis catches up.
    if (request.path.rfind("http://", 0) == 0 || request.path.rfind("https://", 0) == 0) {
        options.dropWhenBehind = false;
        options.stallSeconds = 20;
    }
    options.waiting = [](const std::string& reason) {
        std::fprintf(stderr, "Waiting for the stream (%s); trying again until it opens\n", reason.c_str());
    };
    std::unique_ptr<LiveSource> source;
    try {
        source = std::make_unique<LiveSource>(request.path, options);
    } catch (const SourceError& e) {
        throw InputError(e.what());
    }
    const SourceInfo& info = source->info();
    if ((request.width && *request.width != info.width) || (request.height && *request.height != info.height)) {
        throw InputError("The frames of " + request.path + " are " + std::to_string(info.width) + " x " +
                         std::to_string(info.height) + ", not the " + std::to_string(request.width.value_or(0)) +
                         " x " + std::to_string(request.height.value_or(0)) + " given");
    }
    return source;
}

// The parts of the two readers that the notes describe.
template <typename Source>
std::string notesAtOpen(const Source& source, const std::string& name, bool seekable) {
    std::string notes;
    const SourceInfo& info = source.info();
    if (seekable && source.endedBeforeStart()) {
        notes += "Warning: the start frame " + std::to_string(info.startFrame) + " is past the end of " + name + "\n";
    }
    if (seekable && source.leftoverBytes() > 0) {
        notes += "Warning: " + name + " ends with " + std::to_string(source.leftoverBytes()) +
                 " bytes that are not a whole frame of " + describeFrame(info.width, info.height, source.layout()) +
                 "; they are not examined\n";
    }
    if (source.layout().bits > 8) {
        notes += "Note: the " + std::to_string(source.layout().bits) + "-bit luma samples are narrowed to 8 bits: (v + " +
                 std::to_string(1 << (source.layout().bits - 9)) + ") >> " + std::to_string(source.layout().bits - 8) +
                 ", at most 255\n";
    }
    return notes;
}

template <typename Source>
std::string notesAtEnd(const Source& source, const std::string& name, bool seekable) {
    std::string notes;
    const SourceInfo& info = source.info();
    if (source.missingFrames() > 0) {
        notes += "Warning: " + std::to_string(source.missingFrames()) + " of the " + std::to_string(info.frameCount) +
                 " requested frames are not in the " + (seekable ? "file" : "input") + "\n";
    } else if (!seekable && source.endedBeforeStart()) {
        notes += "Warning: " + name + " ends before the start frame " + std::to_string(info.startFrame) + "\n";
    } else if (!seekable && source.leftoverBytes() > 0) {
        notes += "Warning: " + name + " ends with " + std::to_string(source.leftoverBytes()) +
                 " bytes that are not a whole frame of " + describeFrame(info.width, info.height, source.layout()) +
                 "; they are not examined\n";
    }
    return notes;
}

}  // namespace

InputFormat detectInputFormat(std::span<const uint8_t> head) {
    if (startsWith(head, 0, kY4mSignature)) {
        return InputFormat::Y4m;
    }
    if (startsWith(head, 0, "\x1a\x45\xdf\xa3")) {
        return InputFormat::Matroska;
    }
    if (startsWith(head, 4, "ftyp")) {
        return InputFormat::Mp4;
    }
    if (startsWith(head, 0, "RIFF") && startsWith(head, 8, "AVI ")) {
        return InputFormat::Avi;
    }
    if (startsWith(head, 0, "OggS")) {
        return InputFormat::Ogg;
    }
    if (startsWith(head, 0, "FLV\x01")) {
        return InputFormat::Flv;
    }
    if (startsWith(head, 0, "DKIF")) {
        return InputFormat::Ivf;
    }
    if (startsWith(head, 0, "\x30\x26\xb2\x75\x8e\x66\xcf\x11")) {
        return InputFormat::Asf;
    }
    if (startsWith(head, 0, std::string_view("\x00\x00\x01\xba", 4))) {
        return InputFormat::MpegPs;
    }
    if (looksLikeTransportStream(head)) {
        return InputFormat::MpegTs;
    }
    return InputFormat::Raw;
}

std::string_view formatName(InputFormat format) {
    switch (format) {
        case InputFormat::Raw: return "raw video";
        case InputFormat::Y4m: return "YUV4MPEG2";
        case InputFormat::Matroska: return "Matroska/WebM";
        case InputFormat::Mp4: return "MP4/MOV";
        case InputFormat::Avi: return "AVI";
        case InputFormat::MpegTs: return "an MPEG transport stream";
        case InputFormat::MpegPs: return "an MPEG program stream";
        case InputFormat::Ogg: return "Ogg";
        case InputFormat::Flv: return "FLV";
        case InputFormat::Ivf: return "IVF (VP8/VP9/AV1)";
        case InputFormat::Asf: return "ASF/WMV";
    }
    return "unknown";
}

std::optional<std::string> requestProblem(const InputRequest& request) {
    if (request.width || request.height) {
        const int64_t width = request.width.value_or(1);
        const int64_t height = request.height.value_or(1);
        if (width <= 0 || height <= 0) {
            return "the frame size must be positive, not " + std::to_string(width) + " x " + std::to_string(height);
        }
        if (!frameSizeFits(width, height)) {
            return "the frame size " + std::to_string(width) + " x " + std::to_string(height) +
                   " is too large: a 4:2:0 frame of it is over 2^31 - 1 bytes";
        }
    }
    if (request.fps && !(*request.fps >= kMinFrameRate && *request.fps <= kMaxFrameRate)) {
        return "the frame rate must be from 0.001 to 100000";
    }
    if (request.start < 0) {
        return "the start frame must be a whole number that is not negative";
    }
    if (!request.pixFmt.empty() && findLayout(request.pixFmt) == nullptr) {
        return "Invalid " + std::string(request.names.pixFmt) + " \"" + request.pixFmt + "\": expected one of " +
               layoutNames();
    }
    if (request.stream && *request.stream < 0) {
        return "the stream index must not be negative";
    }
    return std::nullopt;
}

std::unique_ptr<FrameSource> openInput(const InputRequest& request) {
    if (const std::optional<std::string> problem = requestProblem(request)) {
        throw InputError(*problem);
    }
    const PixelLayout* layout = request.pixFmt.empty() ? nullptr : findLayout(request.pixFmt);
    if (isNetworkInput(request.path)) {
        return openLive(request);
    }
    if (!request.inputOptions.empty()) {
        throw InputError(std::string(request.names.inputOptions) + " applies to network inputs, and " +
                         request.path + " is not one");
    }
    auto stream = std::make_unique<ByteStream>(request.path);
    const InputFormat format = detectInputFormat(stream->peek(1024));
    if (format == InputFormat::Y4m) {
        Y4mOptions y4m;
        y4m.width = request.width;
        y4m.height = request.height;
        y4m.fps = request.fps;
        y4m.defaultFps = kDefaultFps;
        y4m.start = request.start;
        y4m.frames = request.frames;
        y4m.layout = layout;
        return std::make_unique<Y4mSource>(std::move(stream), y4m);
    }
    // The fixed signatures, then FFmpeg's own probe of a file's first bytes
    // (elementary streams and the rarer containers) when they might be one,
    // or when the size is missing, without which they cannot be raw video.
    const bool probe = stream->seekable() && (!request.width || !request.height ||
                                              mayHoldCompressedVideo(stream->peek(4096)));
    if (format != InputFormat::Raw || (probe && looksLikeContainer(request.path))) {
        return openContainer(std::move(stream), request);
    }
    if (request.stream) {
        throw InputError(std::string(request.names.stream) + " applies to container files, and " + request.path +
                         " is not one");
    }
    if (!request.width || !request.height) {
        throw InputError(std::string("raw video needs ") + request.names.size, InputError::NeedsSize);
    }
    RawOptions raw;
    raw.width = *request.width;
    raw.height = *request.height;
    raw.fps = request.fps.value_or(kDefaultFps);
    raw.start = request.start;
    raw.frames = request.frames;
    raw.layout = layout;
    const std::span<const uint8_t> head = stream->peek(std::min<size_t>(
        size_t{1} << 16, static_cast<size_t>(*request.width) * static_cast<size_t>(*request.height) *
                             static_cast<size_t>(layout != nullptr ? layout->bytesPerSample() : 1)));
    const bool tenBit = layout == nullptr && looksLikeTenBit(head);
    const bool eightBit = layout != nullptr && layout->bits > 8 && looksLikeEightBit(head, layout->bits);
    const std::string name = request.path == "-" ? std::string("standard input") : request.path;
    auto source = std::make_unique<RawSource>(std::move(stream), raw);
    if (tenBit) {
        source->setNote("Warning: " + name +
                        " looks like 10-bit samples (every second byte is 0 ... 3); if it is, give --pix-fmt "
                        "yuv420p10le\n");
    }
    if (eightBit) {
        source->setNote("Warning: " + name + " holds values above " + std::to_string((1 << layout->bits) - 1) +
                        ", which " + std::to_string(layout->bits) + "-bit samples cannot be; if it is 8-bit video, "
                        "leave out --pix-fmt " + std::string(layout->name) + "\n");
    }
    return source;
}

std::string openingNotes(const FrameSource& source) {
    const std::string name = source.info().path == "-" ? "standard input" : source.info().path;
    if (const auto* raw = dynamic_cast<const RawSource*>(&source)) {
        std::string notes = raw->note() + notesAtOpen(*raw, name, raw->stream().seekable());
        if (raw->stream().seekable() && raw->leftoverBytes() > 0) {
            notes += sizeHint(raw->stream().size(), raw->info().width, raw->info().height, raw->layout());
        }
        return notes;
    }
    if (const auto* y4m = dynamic_cast<const Y4mSource*>(&source)) {
        return notesAtOpen(*y4m, name, y4m->seekable());
    }
    return "";
}

std::string endOfInputNotes(const FrameSource& source) {
    const std::string name = source.info().path == "-" ? "standard input" : source.info().path;
    if (const auto* raw = dynamic_cast<const RawSource*>(&source)) {
        std::string notes = notesAtEnd(*raw, name, raw->stream().seekable());
        if (!raw->stream().seekable() && raw->leftoverBytes() > 0 && raw->missingFrames() == 0) {
            notes += sizeHint(raw->stream().position(), raw->info().width, raw->info().height, raw->layout());
        }
        return notes;
    }
    if (const auto* y4m = dynamic_cast<const Y4mSource*>(&source)) {
        return notesAtEnd(*y4m, name, y4m->seekable());
    }
    if (const auto* live = dynamic_cast<const LiveSource*>(&source)) {
        std::string notes;
        if (live->droppedFrames() > 0) {
            notes += "Warning: " + std::to_string(live->droppedFrames()) +
                     " frames arrived while the analysis was behind and were dropped\n";
        }
        if (live->damagedPackets() > 0 || live->damagedFrames() > 0) {
            notes += "Warning: damaged input: " + std::to_string(live->damagedPackets()) +
                     " packets could not be decoded and " + std::to_string(live->damagedFrames()) +
                     " frames came out damaged\n";
        }
        if (live->reconnects() > 0) {
            notes += "Note: " + name + " was opened again " + std::to_string(live->reconnects()) + " times\n";
        }
        return notes;
    }
    const auto* decoded = dynamic_cast<const DecoderSource*>(&source);
    if (decoded == nullptr) {
        return "";
    }
    // As for raw input: frames asked for that are not there, a start past
    // the end, and a file that ends before its container said it would.
    std::string notes;
    const int64_t start = source.info().startFrame;
    const int64_t got = std::max<int64_t>(0, decoded->decodedFrames() - start);
    if (decoded->endReached() && decoded->requestedFrames() > got) {
        notes += "Warning: " + std::to_string(decoded->requestedFrames() - got) + " of the " +
                 std::to_string(decoded->requestedFrames()) + " requested frames are not in the file\n";
    } else if (decoded->endReached() && start > 0 && decoded->decodedFrames() <= start) {
        notes += "Warning: the start frame " + std::to_string(start) + " is past the end of " + name + "\n";
    } else if (decoded->endReached() && decoded->decodedFrames() < decoded->announcedFrames()) {
        notes += "Warning: " + name + " ends after " + std::to_string(decoded->decodedFrames()) +
                 " frames; its container announced " + std::to_string(decoded->announcedFrames()) + "\n";
    }
    if (decoded->damagedPackets() > 0 || decoded->damagedFrames() > 0) {
        notes += "Warning: damaged input: " + std::to_string(decoded->damagedPackets()) +
                 " packets could not be decoded and " + std::to_string(decoded->damagedFrames()) +
                 " frames came out damaged\n";
    }
    return notes;
}

}  // namespace nrvq
