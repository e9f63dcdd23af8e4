// Writes raw YUV 4:2:0 clips: the demonstration clip with its labelled
// segments, or plain moving textured content of any size.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "clips/clip.h"

namespace {

int usage(const char* name) {
    std::fprintf(stderr,
                 "Usage: %s demo OUTPUT.yuv\n"
                 "       %s OUTPUT.yuv WIDTH HEIGHT FRAMES\n",
                 name, name);
    return 2;
}

void writeDemo(const std::string& path) {
    const clips::DemoClip clip = clips::demoClip();
    clips::ClipWriter writer(path);
    for (int32_t t = 0; t < clip.frames(); ++t) {
        writer.write(clips::demoFrame(clip, t));
    }
    writer.close();
    std::printf("%s: %d x %d, %d frames\n\n", path.c_str(), clip.w, clip.h, clip.frames());
    std::printf("  frames       segment              exercises\n");
    for (const clips::Segment& segment : clip.segments) {
        std::printf("  %05d-%05d  %-20s %s\n", segment.first, segment.first + segment.count - 1,
                    segment.name.c_str(), segment.columns.c_str());
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 3 && std::string(argv[1]) == "demo") {
            writeDemo(argv[2]);
            return 0;
        }
        if (argc != 5) {
            return usage(argv[0]);
        }
        const int width = std::atoi(argv[2]);
        const int height = std::atoi(argv[3]);
        const int frames = std::atoi(argv[4]);
        if (width <= 0 || height <= 0 || frames < 0 || width > 8192 || height > 8192) {
            std::fprintf(stderr, "%s: WIDTH and HEIGHT must be 1 ... 8192 and FRAMES not negative\n", argv[0]);
            return 2;
        }
        clips::ClipWriter writer(argv[1]);
        for (int t = 0; t < frames; ++t) {
            writer.write(clips::texture(width, height, t));
        }
        writer.close();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
