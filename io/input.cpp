#include "io/input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/raw_source.h"

namespace nrvq {

std::unique_ptr<FrameSource> openInput(const InputRequest& request) {
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
    return "";
}

}  // namespace nrvq
