// Fuzz target: the decoder source on arbitrary bytes, as a file. Up to eight
// frames of at most 256 x 256 samples are decoded; streams of larger frames
// are refused. Each run stays small: zeroing the libraries' picture buffers
// for large frames took most of the time.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = memfd_create("decoder", 0);
    if (fd < 0) {
        return 0;
    }
    if (write(fd, data, size) == static_cast<ssize_t>(size)) {
        try {
            nrvq::DecoderOptions options;
            options.frameCount = 8;
            options.threads = 1;  // no thread start-up in every run
            options.maxSamples = 256 * 256;
            auto source = nrvq::openDecoderSource("/proc/self/fd/" + std::to_string(fd), options);
            const nrvq::SourceInfo& info = source->info();
            std::vector<uint8_t> luma(static_cast<size_t>(info.width) * static_cast<size_t>(info.height));
            while (source->next(luma.data()).status == nrvq::ReadStatus::Frame) {
            }
        } catch (const nrvq::SourceError&) {
            // A clear refusal is the expected end of most inputs.
        }
    }
    close(fd);
    return 0;
}
