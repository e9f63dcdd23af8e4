#include "io/raw_source.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "io/convert.h"
#include "io/input.h"

namespace nrvq {

FrameReader::FrameReader(const PixelLayout& layout, int32_t width, int32_t height)
    : layout_(layout), lumaBytes_(layout.lumaBytes(width, height)), frameBytes_(layout.frameBytes(width, height)) {
    if (layout.bits > 8) {
        // Wide samples are read a piece at a time, each narrowed into its
        // place.
        wide_.resize(std::min<size_t>(static_cast<size_t>(width) * static_cast<size_t>(height), size_t{1} << 17));
    }
}

void FrameReader::narrow(uint8_t* luma, size_t count) {
    if constexpr (std::endian::native == std::endian::big) {
        for (size_t i = 0; i < count; ++i) {
            wide_[i] = static_cast<uint16_t>((wide_[i] >> 8) | (wide_[i] << 8));
        }
    }
    narrowSamples(wide_.data(), layout_.bits, luma, count);
}

int64_t FrameReader::read(ByteStream& stream, uint8_t* luma) {
    size_t got = 0;
    if (wide_.empty()) {
        got = stream.read(luma, static_cast<size_t>(lumaBytes_));
    } else {
        const size_t piece = wide_.size() * sizeof(uint16_t);
        while (got < static_cast<size_t>(lumaBytes_)) {
            const size_t want = std::min(piece, static_cast<size_t>(lumaBytes_) - got);
            const size_t n = stream.read(reinterpret_cast<uint8_t*>(wide_.data()), want);
            if (n < want) {
                got += n;
                break;
            }
            narrow(luma + got / sizeof(uint16_t), want / sizeof(uint16_t));
            got += n;
        }
    }
    if (got < static_cast<size_t>(lumaBytes_) || stream.error() != 0) {
        return static_cast<int64_t>(got);
    }
    return lumaBytes_ + stream.skip(frameBytes_ - lumaBytes_);
}

int64_t FrameReader::readAt(const ByteStream& stream, int64_t offset, uint8_t* luma, int& error) {
    error = 0;
    const auto whole = static_cast<size_t>(lumaBytes_);
    size_t got = 0;
    if (wide_.empty()) {
        got = stream.readAt(offset, luma, whole, &error);
    } else {
        const size_t piece = wide_.size() * sizeof(uint16_t);
        while (got < whole && error == 0) {
            const size_t want = std::min(piece, whole - got);
            const size_t n = stream.readAt(offset + static_cast<int64_t>(got),
                                           reinterpret_cast<uint8_t*>(wide_.data()), want, &error);
            if (n == want && error == 0) {
                narrow(luma + got / sizeof(uint16_t), want / sizeof(uint16_t));
            }
            got += n;
            if (n < want) {
                break;
            }
        }
    }
    // The chroma planes are not read: a whole luma plane is a whole frame, as
    // positioning past them is for read().
    return got < whole || error != 0 ? static_cast<int64_t>(got) : frameBytes_;
}

std::string describeFrame(int32_t width, int32_t height, const PixelLayout& layout) {
    return std::to_string(width) + "x" + std::to_string(height) + " " + std::string(layout.name) + " (" +
           std::to_string(layout.frameBytes(width, height)) + " bytes)";
}

std::string shrunkMessage(const std::string& name, int64_t frame, int64_t got, int64_t frameBytes) {
    return name + " became shorter while it was read: frame " + std::to_string(frame) + " ends after " +
           std::to_string(got) + " of its " + std::to_string(frameBytes) + " bytes";
}

std::string sizeHint(int64_t total, int32_t width, int32_t height, const PixelLayout& layout) {
    std::vector<std::string> fits;
    for (const PixelLayout& other : pixelLayouts()) {
        const int64_t bytes = other.frameBytes(width, height);
        if (&other != &layout && total >= bytes && total % bytes == 0) {
            fits.push_back("--pix-fmt " + std::string(other.name) + " (" + std::to_string(total / bytes) +
                           " frames)");
        }
    }
    // Sizes a few samples off, nearest first, in the same layout.
    for (int32_t d = 1; d <= 16 && fits.size() < 3; ++d) {
        for (const auto& [w, h] : {std::pair{width - d, height}, std::pair{width + d, height},
                                   std::pair{width, height - d}, std::pair{width, height + d}}) {
            if (!frameSizeFits(w, h)) {
                continue;
            }
            const int64_t bytes = layout.frameBytes(w, h);
            if (total >= 2 * bytes && total % bytes == 0 && fits.size() < 3) {
                fits.push_back(std::to_string(w) + "x" + std::to_string(h) + " (" + std::to_string(total / bytes) +
                               " frames)");
            }
        }
    }
    if (fits.empty()) {
        return "";
    }
    std::string hint = "Hint: the size would divide exactly with ";
    for (size_t i = 0; i < fits.size(); ++i) {
        hint += (i == 0 ? "" : i + 1 == fits.size() ? " or " : ", ") + fits[i];
    }
    return hint + "\n";
}

RawSource::RawSource(std::unique_ptr<ByteStream> stream, const RawOptions& options)
    : stream_(std::move(stream)),
      name_(stream_->path() == "-" ? std::string("Standard input") : stream_->path()),
      layout_(options.layout != nullptr ? *options.layout : defaultLayout()),
      reader_(layout_, options.width, options.height) {
    info_.path = stream_->path();
    info_.kind = "raw";
    info_.layout = std::string(layout_.name);
    info_.width = options.width;
    info_.height = options.height;
    info_.fps = options.fps;
    info_.startFrame = options.start;
    const int64_t frameBytes = reader_.frameBytes();
    const std::string& name = name_;
    if (options.frames) {
        info_.frameCount = std::max(*options.frames, 0);  // 0 or less examines none
    }
    if (stream_->seekable()) {
        // A file that holds no frame of this size is taken for a wrong size
        // or layout, whatever count and start were asked for.
        const int64_t size = stream_->size();
        if (size < frameBytes) {
            std::string hint = sizeHint(size, options.width, options.height, layout_);
            if (!hint.empty()) {
                hint.pop_back();
                hint.insert(0, "\n");
            }
            throw InputError(name + (size == 0 ? std::string(" is empty") :
                                     " holds " + std::to_string(size) + " bytes, less than one frame of " +
                                     describeFrame(options.width, options.height, layout_)) +
                             hint);
        }
    }
    if (!options.frames && stream_->seekable()) {
        const int64_t size = stream_->size();
        const int64_t frames = size / frameBytes - options.start;
        info_.frameCount = std::clamp<int64_t>(frames, 0, INT32_MAX);
        progress_.leftover = size % frameBytes;
        progress_.endedBeforeStart = frames <= 0;
    }
    const int64_t offset = int64_t{options.start} * frameBytes;
    if (stream_->seekable()) {
        if (!stream_->seek(offset)) {
            throw InputError("Cannot position " + name + " at frame " + std::to_string(options.start) +
                             " (byte " + std::to_string(offset) + "): " + std::strerror(stream_->error()));
        }
    } else if (offset > 0) {
        const int64_t skipped = stream_->skip(offset);
        if (stream_->error() != 0) {
            throw InputError("Error reading " + name + " before frame " + std::to_string(options.start) + ": " +
                             std::strerror(stream_->error()));
        }
        if (skipped < frameBytes) {
            throw InputError(name + (skipped == 0 ? std::string(" is empty") :
                                     " holds " + std::to_string(skipped) + " bytes, less than one frame of " +
                                     describeFrame(options.width, options.height, layout_)));
        }
        if (skipped < offset) {
            progress_.endedBeforeStart = true;
            progress_.endOfInput(info_, 0);
        }
    }
}

ReadResult RawSource::readFileFrame(FrameReader& reader, int64_t k, uint8_t* luma, ReadProgress& progress) const {
    ReadResult result;
    if (progress.done(info_)) {
        result.status = ReadStatus::End;
        return result;
    }
    const int64_t frame = info_.startFrame + k;
    const int64_t frameBytes = reader.frameBytes();
    const int64_t offset = frame * frameBytes;
    if (offset + frameBytes > stream_->size()) {
        // Only whole frames are examined, from a file as from a pipe.
        progress.endOfInput(info_, std::max<int64_t>(0, stream_->size() - offset));
        result.status = ReadStatus::End;
        return result;
    }
    int error = 0;
    const int64_t got = reader.readAt(*stream_, offset, luma, error);
    if (error != 0) {
        result.status = ReadStatus::Error;
        result.error = error;
        result.bytesRead = static_cast<size_t>(std::min(got, reader.lumaBytes()));
        return result;
    }
    if (got < frameBytes && stream_->shrunk()) {
        progress.ended = true;
        result.status = ReadStatus::Error;
        result.message = shrunkMessage(name_, frame, got, frameBytes);
        return result;
    }
    if (got < frameBytes) {
        progress.endOfInput(info_, got);
        result.status = ReadStatus::End;
        if (k == 0 && info_.startFrame == 0) {
            result.status = ReadStatus::Error;
            result.message = name_ + (got == 0 ? std::string(" is empty") :
                                                 " holds " + std::to_string(got) + " bytes, less than one frame of " +
                                                     describeFrame(info_.width, info_.height, layout_));
        }
        return result;
    }
    ++progress.delivered;
    return result;
}

bool RawSource::prepareReaders(unsigned readers) {
    if (!stream_->seekable()) {
        return false;
    }
    readers_.clear();
    readers_.reserve(readers);
    for (unsigned i = 0; i < readers; ++i) {
        readers_.emplace_back(layout_, info_.width, info_.height);
    }
    opened_ = progress_;
    endedAt_ = INT64_MAX;
    return true;
}

ReadResult RawSource::readFrame(unsigned reader, int64_t k, uint8_t* luma) {
    ReadProgress progress = opened_;
    progress.delivered = k;
    ReadResult result = readFileFrame(readers_.at(reader), k, luma, progress);
    if (result.status != ReadStatus::Frame) {
        // The run ends at the lowest frame that did not come; reads past it
        // (by threads that ran ahead) change nothing.
        std::lock_guard lock(endMutex_);
        if (k < endedAt_) {
            endedAt_ = k;
            progress_ = progress;
        }
    }
    return result;
}

ReadResult RawSource::next(uint8_t* luma) {
    if (stream_->seekable()) {
        return readFileFrame(reader_, progress_.delivered, luma, progress_);
    }
    ReadResult result;
    if (progress_.done(info_)) {
        result.status = ReadStatus::End;
        return result;
    }
    const int64_t frameBytes = reader_.frameBytes();
    const int64_t got = reader_.read(*stream_, luma);
    if (stream_->error() != 0) {
        result.status = ReadStatus::Error;
        result.error = stream_->error();
        result.bytesRead = static_cast<size_t>(std::min(got, reader_.lumaBytes()));
        return result;
    }
    if (got < frameBytes) {
        progress_.endOfInput(info_, got);
        result.status = ReadStatus::End;
        // Input that ends before one whole frame (not after a start that it
        // reached) is an error, with or without a count.
        if (progress_.delivered == 0 && info_.startFrame == 0) {
            const int64_t total = stream_->position();
            result.status = ReadStatus::Error;
            result.message = name_ +
                             (total == 0 ? std::string(" is empty") :
                                           " holds " + std::to_string(total) + " bytes, less than one frame of " +
                                               describeFrame(info_.width, info_.height, layout_));
        }
        return result;
    }
    ++progress_.delivered;
    return result;
}

}  // namespace nrvq
