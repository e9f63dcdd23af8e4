#include "metrics/blur.h"

#include <cmath>
#include <cstdint>

namespace {

inline int32_t absValue(int32_t v) { return v < 0 ? -v : v; }

// The mean edge width, and each edge's span when edges is not null.
double measure(const Image* frame, std::vector<BlurEdge>* edges) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);
    const uint32_t block = static_cast<uint32_t>(BLUR_BLOCKSIZE);
    const uint32_t gridW = w / block;
    const uint32_t gridH = h / block;

    // Deviation of every whole 16 x 16 block; it sets the walk threshold.
    OwnedImage<ImageDouble> deviations(callocImageDouble(gridW, gridH));
    OwnedImage<Image32> blockSum(callocImage32(gridW, gridH));
    OwnedImage<Image32> blockSquares(callocImage32(gridW, gridH));
    calculateStdDevs(frame, blockSum.get(), blockSquares.get(), deviations.get(), block, block);

    OwnedImage<Image32> gxImage(callocImage32(w, h));
    OwnedImage<Image32> gyImage(callocImage32(w, h));
    OwnedImage<Image32> energyImage(callocImage32(w, h));
    gradient(frame, gxImage.get(), gyImage.get());
    const int32_t* gx = gxImage->data;
    const int32_t* gy = gyImage->data;
    int32_t* m = energyImage->data;
    const uint32_t count = w * h;
    if (count != 0) {
        for (uint32_t i = 0; i < count; ++i) {
            m[i] = gx[i] * gx[i];
        }
    }

    // Sixteen times the mean horizontal energy of the whole frame.
    const double edgeThreshold =
        static_cast<double>(sumPixels32(energyImage.get())) / (static_cast<double>(w) * static_cast<double>(h)) * 16.0;

    if (h < 3) {
        return 0.0;
    }

    // Indices stay below w * h, which the caller keeps below 2^31; they are
    // formed in 64 bits so that no product can overflow on the way.
    const int64_t stride = w;
    int32_t edgePixels = 0;
    int32_t widthSum = 0;
    for (int64_t y = 1; y + 1 < int64_t{h}; ++y) {
        for (int64_t x = 1; x + 1 < int64_t{w}; ++x) {
            const int64_t i = y * stride + x;
            const int32_t mi = m[i];
            if (!(static_cast<double>(mi) > edgeThreshold)) {
                continue;
            }
            // Ties pass on the left or upper side, not on the right or lower.
            const bool horizontalMax = absValue(gx[i]) >= absValue(gy[i]) && m[i - 1] <= mi && mi > m[i + 1];
            const bool verticalMax = m[i - stride] <= mi && mi > m[i + stride];
            if (!horizontalMax && !verticalMax) {
                continue;
            }

            // Pixels outside every whole block walk with threshold 0.
            double t = 0.0;
            const uint32_t bx = static_cast<uint32_t>(x) / block;
            const uint32_t by = static_cast<uint32_t>(y) / block;
            if (bx < gridW && by < gridH) {
                t = deviations->data[int64_t{by} * gridW + bx] * 0.0009765625;
            }

            // A rising pixel whose right neighbour falls is measured as falling.
            const int32_t sign = (gx[i] < 0 || gx[i + 1] < 0) ? -1 : 1;
            const int32_t* row = gx + y * stride;
            auto qualifies = [&](int64_t k) { return static_cast<double>(sign * row[k]) > t; };

            int64_t right = x;
            while (right < int64_t{w} - 2 && qualifies(right + 1)) {
                ++right;
            }
            int64_t left = x;
            if (x > 1 && qualifies(x)) {
                left = x - 1;
                while (left > 1 && qualifies(left)) {
                    --left;
                }
            }

            edgePixels = wrapAdd(edgePixels, 1);
            widthSum = wrapAdd(widthSum, right - left);
            if (edges != nullptr) {
                edges->push_back({y, left, right});
            }
        }
    }

    if (widthSum == 0) {
        return 0.0;
    }
    return static_cast<double>(widthSum) / static_cast<double>(edgePixels);
}

}  // namespace

double blur(const Image* frame) { return measure(frame, nullptr); }

std::vector<BlurEdge> blurEdges(const Image* frame) {
    std::vector<BlurEdge> edges;
    measure(frame, &edges);
    return edges;
}

double blurToMOS(double value) {
    const double e = std::exp(value * (-1.5) + 2.87);
    const double score = std::pow(e / (1.0 + e), 0.14) * 5.0;
    if (score > 0) {
        return score;
    }
    return 0.0;
}
