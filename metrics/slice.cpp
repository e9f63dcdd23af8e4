#include "metrics/slice.h"

#include <cmath>
#include <cstdlib>

namespace {

// Three bands are the least that gives two vertical band pairs. A frame not
// wider than the horizontal shift has nothing to compare across; and the
// vertical shift, 16 rows as a linear offset, must fit 32 bits.
bool measurable(const Image* frame) {
    const uint64_t shift = static_cast<uint64_t>(SLICE_BLOCKSIZE);
    return frame->h >= 3 * shift && frame->w > shift && frame->w <= static_cast<uint64_t>(INT32_MAX) / shift;
}

// The ratio of vertical to horizontal matches of every band, top to bottom.
OwnedImage<ImageDouble> bandRatios(const Image* frame) {
    const uint64_t w = frame->w;
    const uint64_t h = frame->h;
    const uint64_t shift = static_cast<uint64_t>(SLICE_BLOCKSIZE);
    const uint64_t bandsV = (h - shift) >> 4;
    const uint64_t bandsH = h >> 4;
    OwnedImage<Image> matchV(callocImage(w, h - shift));
    OwnedImage<Image> matchH(callocImage(w - shift, h));
    OwnedImage<Image32> countsV(callocImage32(1, bandsV));
    OwnedImage<Image32> countsH(callocImage32(1, bandsH));
    OwnedImage<ImageDouble> fractionsV(callocImageDouble(countsV->w, countsV->h));
    OwnedImage<ImageDouble> fractionsH(callocImageDouble(countsH->w, countsH->h));
    OwnedImage<ImageDouble> ratios(callocImageDouble(fractionsV->w, fractionsV->h));

    compareShifted(frame, matchV.get(), static_cast<int32_t>(static_cast<uint32_t>(w) << 4));
    compareShifted(frame, matchH.get(), SLICE_BLOCKSIZE);
    blockSums(matchV.get(), countsV.get(), matchV->w, shift);
    blockSums(matchH.get(), countsH.get(), matchH->w, shift);

    // Samples in one band of each match image.
    const double divisorV =
        static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(shift)));
    const double divisorH = static_cast<double>(
        static_cast<int32_t>(static_cast<uint32_t>(w - shift) * static_cast<uint32_t>(shift)));
    const uint32_t nV = static_cast<uint32_t>(countsV->w * countsV->h);
    for (uint32_t k = 0; k < nV; ++k) {
        fractionsV->data[k] = static_cast<double>(countsV->data[k]) / divisorV;
    }
    // The horizontal counts hold one band more than the vertical ones; it is
    // computed like the others and not used.
    const uint32_t nH = static_cast<uint32_t>(countsH->w * countsH->h);
    for (uint32_t k = 0; k < nH; ++k) {
        fractionsH->data[k] = static_cast<double>(countsH->data[k]) / divisorH;
    }
    divideDouble(fractionsV.get(), fractionsH.get(), ratios.get());
    return ratios;
}

}  // namespace

double slice(const Image* frame) {
    if (!measurable(frame)) {
        return -1.0;
    }
    OwnedImage<ImageDouble> ratios = bandRatios(frame);
    const int32_t count = static_cast<int32_t>(ratios->h);
    std::qsort(ratios->data, static_cast<size_t>(count), sizeof(double), compare_Double_asc);
    return 1.0 / ratios->data[0];
}

int32_t sliceBand(const Image* frame) {
    if (!measurable(frame)) {
        return -1;
    }
    OwnedImage<ImageDouble> ratios = bandRatios(frame);
    int32_t band = -1;
    for (uint64_t k = 0; k < ratios->h; ++k) {
        if (band < 0 || std::isnan(ratios->data[band]) || ratios->data[k] < ratios->data[band]) {
            band = static_cast<int32_t>(k);
        }
    }
    return band;
}

int compare_Double_asc(const void* x, const void* y) {
    const double a = *static_cast<const double*>(x);
    const double b = *static_cast<const double*>(y);
    if (a < b) {
        return -1;
    }
    if (a > b) {
        return 1;
    }
    return 0;
}
