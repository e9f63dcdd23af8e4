// Fuzz target: YUV4MPEG2 input. The first line goes through the stream header
// parser and every later line through the frame header parser; then, for
// small frames, the whole input is read through the Y4M source as the
// command line would read it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/input.h"
#include "io/y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const size_t newline = bytes.find('\n');
    const nrvq::Y4mStreamHeader header = nrvq::parseY4mStreamHeader(bytes.substr(0, newline));
    for (size_t at = newline; at != std::string_view::npos && at + 1 < bytes.size();) {
        const size_t next = bytes.find('\n', at + 1);
        nrvq::parseY4mFrameHeader(bytes.substr(at + 1, next == std::string_view::npos ? next : next - at - 1));
        at = next;
    }
    if (!header.error.empty() || int64_t{header.width} * header.height > 64 * 64) {
        return 0;
    }
    const int fd = memfd_create("y4m", 0);
    if (fd < 0) {
        return 0;
    }
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        nrvq::InputRequest request;
        request.path = "/proc/self/fd/" + std::to_string(fd);
        try {
            auto source = nrvq::openInput(request);
            const nrvq::SourceInfo& info = source->info();
            std::vector<uint8_t> luma(static_cast<size_t>(info.width) * static_cast<size_t>(info.height));
            for (int frames = 0; frames < 64; ++frames) {
                if (source->next(luma.data()).status != nrvq::ReadStatus::Frame) {
                    break;
                }
            }
        } catch (const nrvq::InputError&) {
            // A clear refusal is the expected end of most inputs.
        }
    }
    close(fd);
    return 0;
}
