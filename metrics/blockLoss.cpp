#include "metrics/blockLoss.h"

#include <cstdint>

namespace {

// The products of the regions; w and h at least 256.
void regionProducts(const Image* frame, Image32* products) {
    const uint32_t w = static_cast<uint32_t>(frame->w);
    const uint32_t h = static_cast<uint32_t>(frame->h);

    const uint32_t gridRows = h / 16;
    const uint32_t gridCols = w / 16;
    const uint32_t regionCols = w / 256;
    const uint32_t regionRows = h / 256;

    // Roberts cross across every horizontal line of the 16 x 16 grid ...
    OwnedImage<Image32> rowDiag1(callocImage32(w, gridRows));
    OwnedImage<Image32> rowDiag2(callocImage32(w, gridRows));
    OwnedImage<Image32> rowEnergy(callocImage32(w, gridRows));
    // ... across every vertical grid line ...
    OwnedImage<Image32> colDiag1(callocImage32(gridCols, h));
    OwnedImage<Image32> colDiag2(callocImage32(gridCols, h));
    OwnedImage<Image32> colEnergy(callocImage32(gridCols, h));
    // ... and over the whole frame, for the threshold.
    OwnedImage<Image32> frameDiag1(callocImage32(w, h));
    OwnedImage<Image32> frameDiag2(callocImage32(w, h));
    OwnedImage<Image32> frameEnergy(callocImage32(w, h));
    OwnedImage<Image32> rowRuns(callocImage32(regionCols, regionRows));
    OwnedImage<Image32> colRuns(callocImage32(regionCols, regionRows));
    OwnedImage<Image32> columnRunLengths(callocImage32(w, 1));

    robertsSkip(frame, rowDiag1.get(), rowDiag2.get(), 1, 16);
    robertsSkip(frame, colDiag1.get(), colDiag2.get(), 16, 1);
    roberts(frame, frameDiag1.get(), frameDiag2.get());

    addSquares32(rowDiag1.get(), rowDiag2.get(), rowEnergy.get());
    addSquares32(colDiag1.get(), colDiag2.get(), colEnergy.get());
    addSquares32(frameDiag1.get(), frameDiag2.get(), frameEnergy.get());

    // Six times the mean Roberts energy of the whole frame.
    const double threshold = static_cast<double>(sumPixels32(frameEnergy.get())) /
                             static_cast<double>(w * h) * 6.0;

    countSeqsH(rowEnergy.get(), rowRuns.get(), 256, 16, 12, threshold);
    countSeqsV(colEnergy.get(), colRuns.get(), columnRunLengths.get(), 16, 256, 12, threshold);

    // A region scores only when it holds runs along both directions.
    multiply(rowRuns.get(), colRuns.get(), products);
}

}  // namespace

double blockLoss(const Image* frame) {
    if (frame->w < 256 || frame->h < 256) {
        return -1.0;  // no whole 256 x 256 region
    }
    const uint32_t regionCols = static_cast<uint32_t>(frame->w) / 256;
    const uint32_t regionRows = static_cast<uint32_t>(frame->h) / 256;
    OwnedImage<Image32> products(callocImage32(regionCols, regionRows));
    regionProducts(frame, products.get());
    return static_cast<double>(sumPixels32(products.get())) /
           static_cast<double>(regionCols * regionRows);
}

std::vector<int32_t> blockLossRegions(const Image* frame) {
    if (frame->w < 256 || frame->h < 256) {
        return {};
    }
    OwnedImage<Image32> products(callocImage32(frame->w / 256, frame->h / 256));
    regionProducts(frame, products.get());
    return std::vector<int32_t>(products->data, products->data + products->w * products->h);
}
