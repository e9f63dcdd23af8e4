#include "metrics/noise.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint64_t kBlock = 8;
constexpr uint64_t kSelectionWidth = kBlock * MAX_CONTAINER_WIDTH;

// Histogram bin of a block deviation: rounded half away from zero, with
// everything from the last bin up counted in the last bin.
inline int32_t binOf(double sigma) {
    const double rounded = std::round(sigma);
    if (!(rounded < HISTOGRAM_ENTRIES - 1)) {
        return HISTOGRAM_ENTRIES - 1;
    }
    return static_cast<int32_t>(rounded);
}

}  // namespace

double noise(const Image* frame) {
    const uint32_t bw = static_cast<uint32_t>(frame->w >> 3);
    const uint32_t bh = static_cast<uint32_t>(frame->h >> 3);
    const uint64_t blocks = uint64_t{bw} * bh;

    OwnedImage<Image32> sums(callocImage32(bw, bh));
    OwnedImage<Image32> squares(callocImage32(bw, bh));
    OwnedImage<ImageDouble> sigmas(callocImageDouble(bw, bh));
    calculateStdDevs(frame, sums.get(), squares.get(), sigmas.get(), kBlock, kBlock);

    NoiseHistogram histogram;
    for (uint64_t i = 0; i < blocks; ++i) {
        histogram.add(binOf(sigmas->data[i]));
    }
    const auto [target, floorTarget] = histogram.level();
    if (target == 0) {
        return 0.0;
    }

    // Gather up to MAX_CONTAINER_WIDTH blocks at the target level side by side.
    OwnedImage<Image> selection(callocImage(kSelectionWidth, kBlock));
    uint32_t n = 0;
    const double level = static_cast<double>(target);
    for (uint32_t by = 0; by < bh; ++by) {
        for (uint32_t bx = 0; bx < bw; ++bx) {
            const double sigma = sigmas->data[uint64_t{by} * bw + bx];
            // Below one half the estimate keeps blocks at or just above its
            // integer part; from one half on, blocks around the rounded value.
            const bool qualifies =
                floorTarget == target ? std::floor(sigma) == level : std::round(sigma) == level;
            if (!qualifies || n >= static_cast<uint32_t>(MAX_CONTAINER_WIDTH)) {
                continue;
            }
            for (uint64_t r = 0; r < kBlock; ++r) {
                const uint8_t* from = frame->data + (by * kBlock + r) * frame->w + bx * kBlock;
                uint8_t* to = selection->data + r * kSelectionWidth + n * kBlock;
                for (uint64_t c = 0; c < kBlock; ++c) {
                    to[c] = from[c];
                }
            }
            ++n;
        }
    }

    // Gaussian of spread T, with 6.28 for 2 pi and without normalisation.
    const double t2 = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(target) *
                                                               static_cast<uint32_t>(target)));
    const double centre = 1.0 / (t2 * 6.28);
    const double edge = centre * std::exp(-1.0 / (2.0 * t2));
    const double corner = std::exp(-2.0 / (2.0 * t2)) * centre;
    OwnedImage<ImageDouble> kernel(callocImageDouble(GAUSSIAN_MASK_SIZE, GAUSSIAN_MASK_SIZE));
    const double weights[9] = {corner, edge, corner, edge, centre, edge, corner, edge, corner};
    for (int i = 0; i < 9; ++i) {
        kernel->data[i] = weights[i];
    }

    OwnedImage<ImageDouble> filtered(callocImageDouble(kSelectionWidth, kBlock));
    if (filter(selection.get(), filtered.get(), kernel.get(), n, kBlock, kBlock) != 0) {
        std::printf("Cannot filter the selected blocks! ");
        std::puts("Check the string above to see what is the problem.");
        return -1.0;
    }

    // What the smoothing removed.
    const uint64_t residualWidth = kBlock * n;
    OwnedImage<ImageDouble> residual(callocImageDouble(residualWidth, kBlock));
    for (uint64_t y = 0; y < kBlock; ++y) {
        for (uint64_t x = 0; x < residualWidth; ++x) {
            residual->data[y * residualWidth + x] =
                static_cast<double>(selection->data[y * kSelectionWidth + x]) -
                filtered->data[y * kSelectionWidth + x];
        }
    }
    OwnedImage<ImageDouble> residualSums(callocImageDouble(n, 1));
    OwnedImage<ImageDouble> residualSquares(callocImageDouble(n, 1));
    OwnedImage<ImageDouble> residualSigmas(callocImageDouble(n, 1));
    calculateStdDevsDouble_ommitZeros(residual.get(), residualSums.get(), residualSquares.get(),
                                      residualSigmas.get(), kernel.get(), kBlock, kBlock);

    double total = 0.0;
    const uint64_t selected = residualSigmas->w * residualSigmas->h;
    for (uint64_t i = 0; i < selected; ++i) {
        total += residualSigmas->data[i];
    }
    return total / static_cast<double>(selected);
}

NoiseLevel NoiseHistogram::level() const {
    // A neighbour past the last bin counts nothing.
    const auto count = [this](int32_t bin) -> uint32_t {
        return bin < HISTOGRAM_ENTRIES ? counters[bin] : 0;
    };
    const int32_t m = mode == 0 ? 1 : mode;
    const int32_t lo = m - 1;
    const int32_t hi = m + 1;
    const uint32_t numerator = static_cast<uint32_t>(lo) * count(lo) + static_cast<uint32_t>(m) * count(m) +
                               static_cast<uint32_t>(hi) * count(hi);
    const uint32_t denominator = count(lo) + count(m) + count(hi);
    // No block (or no count around the mode): the estimate is 0 / 0.
    if (denominator == 0) {
        return {0, 0};
    }
    const double estimate = static_cast<double>(numerator) / static_cast<double>(denominator);
    return {static_cast<int32_t>(std::round(estimate)), static_cast<int32_t>(std::floor(estimate))};
}
