// Uses the installed library through its public header only: pushes frames,
// reads a file holding the same frames, and checks that both agree.
#include <nrvq/nrvq.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: consumer SCRATCH.yuv\n");
        return 2;
    }
    const int w = 64, h = 48, frames = 4;
    std::vector<std::vector<uint8_t>> planes;
    std::ofstream file(argv[1], std::ios::binary);
    const std::vector<char> chroma(w * h / 2, char(128));
    for (int t = 0; t < frames; ++t) {
        std::vector<uint8_t> plane(w * h);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                plane[y * w + x] = static_cast<uint8_t>((x * 7 + y * 3 + t * 11 + (x / 8 + y / 8) * 40) & 255);
            }
        }
        file.write(reinterpret_cast<const char*>(plane.data()), w * h);
        file.write(chroma.data(), static_cast<std::streamsize>(chroma.size()));
        planes.push_back(std::move(plane));
    }
    file.close();

    nrvq::Analysis analysis(w, h, 25.0, {.threads = 1});
    std::vector<std::vector<double>> pushed;
    for (const auto& plane : planes) {
        const nrvq::FrameResult r = analysis.push(plane.data(), w);
        pushed.emplace_back(r.values().begin(), r.values().end());
    }
    const nrvq::FileResults results = nrvq::analyzeFile(argv[1], {.width = w, .height = h, .threads = 2});
    if (results.size() != static_cast<size_t>(frames)) {
        std::fprintf(stderr, "expected %d frames, got %zu\n", frames, results.size());
        return 1;
    }
    for (int t = 0; t < frames; ++t) {
        for (size_t c = 0; c < nrvq::indicatorCount; ++c) {
            const double a = results[t][c], b = pushed[t][c];
            if (a != b && !(std::isnan(a) && std::isnan(b))) {
                std::fprintf(stderr, "frame %d, %s: %g pushed, %g from the file\n", t,
                             std::string(nrvq::indicatorKeys()[c]).c_str(), pushed[t][c], results[t][c]);
                return 1;
            }
        }
    }
    if (results[0].measured("temporal_activity") || !results[1].measured("temporal_activity")) {
        std::fprintf(stderr, "temporal activity is measured from the second frame on\n");
        return 1;
    }
    std::printf("nrvq %s: %zu frames, blur %.3f\n", std::string(nrvq::version()).c_str(), results.size(),
                results[frames - 1]["blur"]);
    return 0;
}
