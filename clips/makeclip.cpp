// Writes a raw YUV 4:2:0 clip of moving textured content.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "clips/clip.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "Usage: %s OUTPUT.yuv WIDTH HEIGHT FRAMES\n", argv[0]);
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    const int frames = std::atoi(argv[4]);
    if (width <= 0 || height <= 0 || frames < 0 || width > 8192 || height > 8192) {
        std::fprintf(stderr, "%s: WIDTH and HEIGHT must be 1 ... 8192 and FRAMES not negative\n", argv[0]);
        return 2;
    }
    try {
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
