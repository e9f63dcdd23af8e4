#include "io/input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <algorithm>

#include "io/decoder.h"
#include "io/raw_source.h"

namespace nrvq {

namespace {

std::unique_ptr<FrameSource> openDecoded(const InputRequest& request) {
    DecoderOptions options;
    options.stream = request.stream.value_or(-1);
    options.fps = request.fps.value_or(0);
    options.startFrame = request.start;
    options.frameCount = request.frames ? std::max<int32_t>(*request.frames, 0) : -1;
    std::unique_ptr<DecoderSource> source;
    try {
        source = openDecoderSource(request.path, options);
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

}  // namespace

std::unique_ptr<FrameSource> openInput(const InputRequest& request) {
    if (looksLikeContainer(request.path)) {
        return openDecoded(request);
    }
    if (request.stream) {
        throw InputError("--stream applies to container files, and " + request.path + " is not one");
    }
    if (!request.width || !request.height) {
        throw MissingFrameSize("The raw file " + request.path + " needs WIDTH and HEIGHT");
    }
    std::FILE* file = std::fopen(request.path.c_str(), "rb");
    if (file == nullptr) {
        throw InputError("Error opening the file " + request.path + ": " + std::strerror(errno) + " ");
    }
    RawOptions raw;
    raw.width = request.width.value_or(0);
    raw.height = request.height.value_or(0);
    raw.fps = request.fps.value_or(kDefaultFps);
    raw.start = request.start;
    raw.frames = request.frames;
    return std::make_unique<RawSource>(file, request.path, raw);
}

std::string endOfInputNotes(const FrameSource& source) {
    if (const auto* raw = dynamic_cast<const RawSource*>(&source); raw != nullptr && raw->missingFrames() > 0) {
        return "Warning: " + std::to_string(raw->missingFrames()) + " of the " +
               std::to_string(raw->info().frameCount) + " requested frames are not in the file\n";
    }
    if (const auto* decoded = dynamic_cast<const DecoderSource*>(&source);
        decoded != nullptr && (decoded->damagedPackets() > 0 || decoded->damagedFrames() > 0)) {
        return "Warning: damaged input: " + std::to_string(decoded->damagedPackets()) +
               " packets could not be decoded and " + std::to_string(decoded->damagedFrames()) +
               " frames came out damaged\n";
    }
    return "";
}

}  // namespace nrvq
