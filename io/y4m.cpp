#include "io/y4m.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "io/input.h"

namespace nrvq {

namespace {

// Text from the input, made printable and short for a message.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size() && i < 40; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out + (text.size() > 40 ? "...\"" : "\"");
}

// A whole number written with digits only, 1 ... max.
bool parsePositive(std::string_view text, int64_t max, int64_t* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > max) {
        return false;
    }
    *value = v;
    return true;
}

std::string supportedColourSpaces() {
    std::string names = "420jpeg, 420paldv, 420mpeg2, 420";
    for (const PixelLayout& layout : pixelLayouts()) {
        if (layout.y4mName != "420jpeg") {
            names += ", " + std::string(layout.y4mName);
        }
    }
    return names;
}

const PixelLayout* layoutOfColourSpace(std::string_view cs) {
    if (cs == "420jpeg" || cs == "420paldv" || cs == "420mpeg2" || cs == "420") {
        return &defaultLayout();
    }
    for (const PixelLayout& layout : pixelLayouts()) {
        if (layout.y4mName == cs) {
            return &layout;
        }
    }
    return nullptr;
}

}  // namespace

Y4mStreamHeader parseY4mStreamHeader(std::string_view line) {
    Y4mStreamHeader h;
    if (line.size() >= kY4mMaxHeader) {
        h.error = "the YUV4MPEG2 header is longer than " + std::to_string(kY4mMaxHeader) + " bytes";
        return h;
    }
    if (line.substr(0, kY4mSignature.size()) != kY4mSignature ||
        (line.size() > kY4mSignature.size() && line[kY4mSignature.size()] != ' ')) {
        h.error = "not a YUV4MPEG2 header: " + quoted(line);
        return h;
    }
    bool haveW = false;
    bool haveH = false;
    std::string_view rest = line.substr(kY4mSignature.size());
    while (!rest.empty()) {
        const size_t space = rest.find(' ');
        const std::string_view token = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        if (token.empty()) {
            continue;
        }
        const std::string_view value = token.substr(1);
        int64_t number = 0;
        switch (token[0]) {
            case 'W':
            case 'H':
                if (!parsePositive(value, INT32_MAX, &number)) {
                    h.error = std::string("invalid ") + (token[0] == 'W' ? "width " : "height ") + quoted(token) +
                              " in the YUV4MPEG2 header";
                    return h;
                }
                (token[0] == 'W' ? h.width : h.height) = static_cast<int32_t>(number);
                (token[0] == 'W' ? haveW : haveH) = true;
                break;
            case 'F': {
                const size_t colon = value.find(':');
                int64_t den = 0;
                if (value == "0:0") {
                    // An unknown rate, as some writers put it: the caller's must do.
                    h.fpsNum = 0;
                    h.fpsDen = 0;
                    h.rateUnknown = true;
                    break;
                }
                if (colon == std::string_view::npos || !parsePositive(value.substr(0, colon), INT32_MAX, &number) ||
                    !parsePositive(value.substr(colon + 1), INT32_MAX, &den)) {
                    h.error = "invalid frame rate " + quoted(token) + " in the YUV4MPEG2 header (expected Fn:d)";
                    return h;
                }
                h.fpsNum = number;
                h.fpsDen = den;
                break;
            }
            case 'C':
                h.colourSpace = std::string(value);
                h.layout = layoutOfColourSpace(value);
                if (h.layout == nullptr) {
                    h.error = "unsupported colour space " + quoted(token) + " in the YUV4MPEG2 header (supported: " +
                              supportedColourSpaces() + ")";
                    return h;
                }
                break;
            default:
                // Interlacing (I), aspect ratio (A), extensions (X) and any
                // other parameter do not change how frames are read.
                break;
        }
    }
    if (!haveW || !haveH) {
        h.error = std::string("the YUV4MPEG2 header gives no ") + (!haveW ? "width (W)" : "height (H)");
        return h;
    }
    if (!frameSizeFits(h.width, h.height)) {
        h.error = "the YUV4MPEG2 header's frame size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                  " is too large (over 2^31 - 1 bytes)";
        return h;
    }
    if (h.layout == nullptr) {
        h.layout = &defaultLayout();
    }
    return h;
}

std::string parseY4mFrameHeader(std::string_view line) {
    constexpr std::string_view frame = "FRAME";
    if (line.size() >= kY4mMaxHeader) {
        return "a frame header longer than " + std::to_string(kY4mMaxHeader) + " bytes";
    }
    if (line.substr(0, frame.size()) != frame || (line.size() > frame.size() && line[frame.size()] != ' ')) {
        return "expected a FRAME header, found " + quoted(line);
    }
    return "";
}

Y4mSource::Y4mSource(std::unique_ptr<ByteStream> stream, const Y4mOptions& options)
    : stream_(std::move(stream)), name_(stream_->path() == "-" ? std::string("Standard input") : stream_->path()) {
    line_.reserve(kY4mMaxHeader);
    // The stream header line.
    uint8_t c = 0;
    while (line_.size() < kY4mMaxHeader && stream_->read(&c, 1) == 1 && c != '\n') {
        line_ += static_cast<char>(c);
    }
    if (stream_->error() != 0) {
        throw InputError("Error reading " + name_ + ": " + std::strerror(stream_->error()));
    }
    if (c != '\n' && line_.size() < kY4mMaxHeader) {
        throw InputError(name_ + ": the YUV4MPEG2 header is cut off (no end of line)");
    }
    const Y4mStreamHeader header = parseY4mStreamHeader(line_);
    if (!header.error.empty()) {
        throw InputError(name_ + ": " + header.error);
    }
    if ((options.width && *options.width != header.width) || (options.height && *options.height != header.height)) {
        throw InputError("WIDTH x HEIGHT " + std::to_string(options.width.value_or(header.width)) + "x" +
                         std::to_string(options.height.value_or(header.height)) + " disagree with the header of " +
                         name_ + ", which says " + std::to_string(header.width) + "x" +
                         std::to_string(header.height));
    }
    if (options.layout != nullptr && options.layout != header.layout) {
        throw InputError("--pix-fmt " + std::string(options.layout->name) + " disagrees with the header of " + name_ +
                         ", which says C" + (header.colourSpace.empty() ? "420jpeg" : header.colourSpace) + " (" +
                         std::string(header.layout->name) + ")");
    }
    if (header.rateUnknown && !options.fps) {
        throw InputError(name_ + ": the YUV4MPEG2 header says the frame rate is unknown (F0:0); give it with --fps");
    }
    layout_ = header.layout;
    reader_ = std::make_unique<FrameReader>(*layout_, header.width, header.height);
    info_.path = stream_->path();
    info_.kind = "y4m";
    info_.layout = std::string(layout_->name);
    info_.width = header.width;
    info_.height = header.height;
    info_.fps = options.fps ? *options.fps
                : header.fpsNum > 0 ? static_cast<double>(header.fpsNum) / static_cast<double>(header.fpsDen)
                                    : options.defaultFps;
    info_.startFrame = options.start;

    const int64_t frameBytes = reader_->frameBytes();
    if (options.frames) {
        info_.frameCount = std::max(*options.frames, 0);  // 0 or less examines none
    } else if (stream_->seekable()) {
        // Counts the whole frames, checking each frame header on the way.
        std::string head(kY4mMaxHeader, '\0');
        int64_t offset = stream_->position();
        int64_t count = 0;
        for (;;) {
            const size_t got = stream_->readAt(offset, reinterpret_cast<uint8_t*>(head.data()), head.size());
            if (got == 0) {
                break;
            }
            const size_t end = std::string_view(head.data(), got).find('\n');
            if (end >= got && got < head.size()) {
                progress_.leftover = static_cast<int64_t>(got);
                break;
            }
            // A damaged frame header ends the count: the frames before it
            // are measured, then the run stops with the damage, as on a pipe.
            if (const std::string problem = parseY4mFrameHeader(std::string_view(head.data(), std::min(end, got)));
                !problem.empty()) {
                damage_ = name_ + ": frame " + std::to_string(count) + ": " + problem;
                break;
            }
            if (offset + static_cast<int64_t>(end) + 1 + frameBytes > stream_->size()) {
                progress_.leftover = stream_->size() - offset;
                break;
            }
            offset += static_cast<int64_t>(end) + 1 + frameBytes;
            ++count;
        }
        if (!damage_.empty() && count <= options.start) {
            throw InputError(damage_);
        }
        if (count == 0) {
            throw InputError(name_ + " holds no whole frame of " + describeFrame(info_.width, info_.height, *layout_));
        }
        info_.frameCount = std::clamp<int64_t>(count - options.start, 0, INT32_MAX);
        progress_.endedBeforeStart = count <= options.start;
        if (progress_.endedBeforeStart) {
            progress_.ended = true;
            return;
        }
    }
    // Reaches the start frame through the frames before it.
    for (int32_t k = 0; k < options.start; ++k) {
        int64_t partial = 0;
        std::string problem;
        const Header read = readFrameHeader(&partial, &problem);
        if (read == Header::Malformed) {
            throw InputError(name_ + ": frame " + std::to_string(k) + ": " + problem);
        }
        if (read == Header::End || stream_->skip(frameBytes) < frameBytes) {
            if (stream_->error() != 0) {
                throw InputError("Error reading " + name_ + " before frame " + std::to_string(options.start) + ": " +
                                 std::strerror(stream_->error()));
            }
            progress_.endedBeforeStart = true;
            progress_.endOfInput(info_, 0);
            return;
        }
    }
}

Y4mSource::Header Y4mSource::readFrameHeader(int64_t* partial, std::string* problem) {
    line_.clear();
    uint8_t c = 0;
    bool newline = false;
    while (line_.size() < kY4mMaxHeader && stream_->read(&c, 1) == 1) {
        if (c == '\n') {
            newline = true;
            break;
        }
        line_ += static_cast<char>(c);
    }
    *partial = static_cast<int64_t>(line_.size());
    if (!newline && line_.size() < kY4mMaxHeader) {
        return Header::End;
    }
    *problem = parseY4mFrameHeader(line_);
    return problem->empty() ? Header::Frame : Header::Malformed;
}

ReadResult Y4mSource::next(uint8_t* luma) {
    ReadResult result;
    const int64_t frame = info_.startFrame + progress_.delivered;
    if (!damage_.empty() && progress_.delivered >= info_.frameCount) {
        result.status = ReadStatus::Error;
        result.message = damage_;
        return result;
    }
    if (progress_.done(info_)) {
        result.status = ReadStatus::End;
        return result;
    }
    int64_t partial = 0;
    std::string problem;
    const Header header = readFrameHeader(&partial, &problem);
    int64_t got = 0;
    if (header == Header::Frame) {
        got = reader_->read(*stream_, luma);
    }
    if (stream_->error() != 0) {
        result.status = ReadStatus::Error;
        result.error = stream_->error();
        result.bytesRead = static_cast<size_t>(std::min(got, reader_->lumaBytes()));
        return result;
    }
    if (header == Header::Malformed) {
        progress_.ended = true;
        result.status = ReadStatus::Error;
        result.message = name_ + ": frame " + std::to_string(frame) + ": " + problem;
        return result;
    }
    if ((header == Header::End || got < reader_->frameBytes()) && stream_->shrunk()) {
        progress_.ended = true;
        result.status = ReadStatus::Error;
        result.message = shrunkMessage(name_, frame, header == Header::End ? 0 : got, reader_->frameBytes());
        return result;
    }
    if (header == Header::End || got < reader_->frameBytes()) {
        progress_.endOfInput(info_, header == Header::End ? partial : partial + 1 + got);
        result.status = ReadStatus::End;
        if (progress_.delivered == 0 && info_.startFrame == 0) {
            result.status = ReadStatus::Error;
            result.message =
                name_ + " holds no whole frame of " + describeFrame(info_.width, info_.height, *layout_);
        }
        return result;
    }
    ++progress_.delivered;
    return result;
}

}  // namespace nrvq
