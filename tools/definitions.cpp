// Image toolkit: containers and shared image arithmetic.
#undef NDEBUG  // size assertions stay active in every build type
#include "tools/definitions.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Element count w * h, refusing products that do not fit 64 bits.
uint64_t elementCount(uint64_t w, uint64_t h, uint64_t sampleSize) {
    uint64_t count = 0;
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(w, h, &count) || __builtin_mul_overflow(count, sampleSize, &bytes)) {
        throw std::bad_alloc();
    }
    return count;
}

template <typename Img, typename Sample>
Img allocate(uint64_t w, uint64_t h, bool zeroed) {
    const uint64_t count = elementCount(w, h, sizeof(Sample));
    void* data = zeroed ? std::calloc(count, sizeof(Sample)) : std::malloc(count * sizeof(Sample));
    if (data == nullptr && count != 0) {
        throw std::bad_alloc();
    }
    return Img{w, h, static_cast<Sample*>(data)};
}

// 32-bit wrap-around addition without signed overflow.
inline int32_t wrapAdd(int32_t a, int64_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t wrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Sample count of an image taken as a signed 32-bit product, as the
// element-wise operations use it.
inline int32_t count32(uint64_t w, uint64_t h) {
    return static_cast<int32_t>(static_cast<uint32_t>(w * h));
}

}  // namespace

// ===== Life cycle ============================================================

Image makeImage(uint64_t w, uint64_t h, uint8_t* data) { return Image{w, h, data}; }
Image allocImage(uint64_t w, uint64_t h) { return allocate<Image, uint8_t>(w, h, false); }
Image callocImage(uint64_t w, uint64_t h) { return allocate<Image, uint8_t>(w, h, true); }
void freeImage(Image* image) { std::free(image->data); }

Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data) { return Image32{w, h, data}; }
Image32 allocImage32(uint64_t w, uint64_t h) { return allocate<Image32, int32_t>(w, h, false); }
Image32 callocImage32(uint64_t w, uint64_t h) { return allocate<Image32, int32_t>(w, h, true); }
void freeImage32(Image32* image) { std::free(image->data); }

ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data) { return ImageDouble{w, h, data}; }
ImageDouble allocImageDouble(uint64_t w, uint64_t h) { return allocate<ImageDouble, double>(w, h, false); }
ImageDouble callocImageDouble(uint64_t w, uint64_t h) { return allocate<ImageDouble, double>(w, h, true); }
void freeImageDouble(ImageDouble* image) { std::free(image->data); }

// ===== Pixel sums, block sums and block deviations ===========================

int64_t sumPixels32(const Image32* image) {
    const uint64_t n = image->w * image->h;
    int64_t total = 0;
    for (uint64_t i = 0; i < n; ++i) {
        total += image->data[i];
    }
    return total;
}

void blockSums(const Image* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight) {
    for (uint64_t by = 0; by < dest->h; ++by) {
        for (uint64_t r = 0; r < blockHeight; ++r) {
            const uint8_t* row = src->data + (by * blockHeight + r) * src->w;
            for (uint64_t bx = 0; bx < dest->w; ++bx) {
                int32_t& cell = dest->data[by * dest->w + bx];
                for (uint64_t x = 0; x < blockWidth; ++x) {
                    cell = wrapAdd(cell, row[bx * blockWidth + x]);
                }
            }
        }
    }
}

void calculateStdDevs(const Image* src, Image32* sums, Image32* squares, ImageDouble* deviations,
                      uint64_t blockWidth, uint64_t blockHeight) {
    const uint64_t gridW = sums->w;
    const double n = static_cast<double>(blockWidth * blockHeight);
    for (uint64_t by = 0; by < sums->h; ++by) {
        for (uint64_t r = 0; r < blockHeight; ++r) {
            const uint8_t* row = src->data + (by * blockHeight + r) * src->w;
            for (uint64_t bx = 0; bx < gridW; ++bx) {
                int32_t& sum = sums->data[by * gridW + bx];
                int32_t& square = squares->data[by * gridW + bx];
                for (uint64_t x = 0; x < blockWidth; ++x) {
                    const int32_t v = row[bx * blockWidth + x];
                    sum = wrapAdd(sum, v);
                    square = wrapAdd(square, v * v);
                }
            }
        }
        for (uint64_t bx = 0; bx < gridW; ++bx) {
            const int64_t s = sums->data[by * gridW + bx];
            const int32_t q = squares->data[by * gridW + bx];
            const double mean = static_cast<double>(s * s) / n;
            deviations->data[by * gridW + bx] = std::sqrt((static_cast<double>(q) - mean) / (n - 1.0));
        }
    }
}

// ===== Gradient and edge operators ===========================================

namespace {

// Zeroes row 0 and column 0 of a destination, the samples that the
// difference operators have no neighbour for.
void clearFirstRowAndColumn(Image32* dest) {
    if (dest->w == 0 || dest->h == 0) {
        return;
    }
    for (uint64_t x = 0; x < dest->w; ++x) {
        dest->data[x] = 0;
    }
    for (uint64_t y = 1; y < dest->h; ++y) {
        dest->data[y * dest->w] = 0;
    }
}

}  // namespace

void gradient(const Image* src, Image32* destX, Image32* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    clearFirstRowAndColumn(destX);
    clearFirstRowAndColumn(destY);
    const uint64_t w = src->w;
    for (uint64_t y = 1; y < src->h; ++y) {
        const uint8_t* above = src->data + (y - 1) * w;
        const uint8_t* row = src->data + y * w;
        for (uint64_t x = 1; x < w; ++x) {
            destY->data[y * w + x] = int32_t{row[x]} - int32_t{above[x]};
            destX->data[y * w + x] = int32_t{row[x]} - int32_t{row[x - 1]};
        }
    }
}

void roberts(const Image* src, Image32* destX, Image32* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    clearFirstRowAndColumn(destX);
    clearFirstRowAndColumn(destY);
    const uint64_t w = src->w;
    for (uint64_t y = 1; y < src->h; ++y) {
        const uint8_t* above = src->data + (y - 1) * w;
        const uint8_t* row = src->data + y * w;
        for (uint64_t x = 1; x < w; ++x) {
            destX->data[y * w + x] = int32_t{above[x - 1]} - int32_t{row[x]};
            destY->data[y * w + x] = int32_t{above[x]} - int32_t{row[x - 1]};
        }
    }
}

void robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY) {
    const uint64_t w = destX->w;
    const uint64_t h = destX->h;
    clearFirstRowAndColumn(destX);
    clearFirstRowAndColumn(destY);
    for (uint64_t y = 1; y < h; ++y) {
        const uint64_t s = y * static_cast<uint64_t>(stepY);
        const uint8_t* above = src->data + (s - 1) * src->w;
        const uint8_t* row = src->data + s * src->w;
        for (uint64_t x = 1; x < w; ++x) {
            const uint64_t t = x * static_cast<uint64_t>(stepX);
            destX->data[y * w + x] = int32_t{above[t - 1]} - int32_t{row[t]};
            destY->data[y * w + x] = int32_t{above[t]} - int32_t{row[t - 1]};
        }
    }
}

void addSquares32(const Image32* a, const Image32* b, Image32* dest) {
    const int32_t n = count32(a->w, a->h);
    for (int32_t i = 0; i < n; ++i) {
        dest->data[i] = wrapAdd(wrapMul(a->data[i], a->data[i]), wrapMul(b->data[i], b->data[i]));
    }
}

void multiply(const Image32* a, const Image32* b, Image32* dest) {
    const int32_t n = count32(a->w, a->h);
    for (int32_t i = 0; i < n; ++i) {
        dest->data[i] = wrapMul(a->data[i], b->data[i]);
    }
}

// ===== Kernel filter =========================================================

int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, uint32_t nBlocks,
               uint32_t blockWidth, uint32_t blockHeight) {
    if (src->w != dest->w || src->h != dest->h) {
        std::puts("Source and destination images do not match with their size!");
        return -1;
    }
    if (src->h < kernel->h) {
        std::puts("Source image is to small for that kernel!");
        return -1;
    }
    const int64_t half = static_cast<int64_t>(kernel->w / 2);
    if (nBlocks == 0) {
        return 0;
    }
    const int64_t kw = static_cast<int64_t>(kernel->w);
    const int64_t kh = static_cast<int64_t>(kernel->h);
    const int64_t srcW = static_cast<int64_t>(src->w);
    const int64_t srcH = static_cast<int64_t>(src->h);
    for (int64_t b = 0; b < nBlocks; ++b) {
        for (int64_t y = half; y < int64_t{blockHeight} - half; ++y) {
            for (int64_t x = half; x < int64_t{blockWidth} - half; ++x) {
                const int64_t c = b * blockWidth + x;
                // A window that would reach outside the source (a block
                // past the source's edge, or a kernel that is not centred)
                // leaves its sample unwritten.
                if (y >= srcH || c >= srcW || y - half + kh > srcH || c - half + kw > srcW) {
                    continue;
                }
                double acc = 0.0;
                for (int64_t i = 0; i < kh; ++i) {
                    const uint8_t* srcRow = src->data + (y - half + i) * srcW + (c - half);
                    const double* kernelRow = kernel->data + i * kw;
                    for (int64_t j = 0; j < kw; ++j) {
                        acc = static_cast<double>(srcRow[j]) * kernelRow[j] + acc;
                    }
                }
                dest->data[y * srcW + c] = acc;
            }
        }
    }
    return 0;
}

// ===== Auxiliary operations ==================================================

uint32_t sumPixels(const Image*) { return 0; }
uint32_t sumH(const uint8_t*, int32_t, int32_t) { return 0; }
uint32_t sumV(const uint8_t*, int32_t, int32_t) { return 0; }
void integrate(const Image*, Image32*) {}
void blockSumsInteg(const Image32*, Image32*, uint64_t, uint64_t) {}
void blockSumsInteg2(const Image*, Image32*, uint64_t, uint64_t) {}
void onlyCopy(const Image*, Image*) {}
bool areEqual(const Image*, const Image*) { return false; }
double sobel(const Image*, Image32*, Image32*) { return 0.0; }
int32_t sobel2(const Image*, Image*, Image*) { return 0; }
void absGradient(const Image*, Image32*, Image32*) {}
void addSquares(const Image*, const Image*, Image32*) {}
void divide(const Image32*, const Image32*, ImageDouble*) {}
void imageSqrt(const ImageDouble*, ImageDouble*) {}
void convU8toI32(const Image*, Image32*) {}
void convI32toU8(const Image32*, Image*) {}
void printRange(const Image*, int32_t, int32_t, int32_t, int32_t) {}
void printRange32(const Image32*, int32_t, int32_t, int32_t, int32_t) {}

// ===== Block loss: run counters ==============================================

void countSeqsH(const Image32* energy, Image32* counts, uint64_t blockWidth, uint64_t blockHeight,
                int32_t minLength, double threshold) {
    const uint64_t stride = energy->w;
    for (uint64_t by = 0; by < counts->h; ++by) {
        for (uint64_t r = 0; r < blockHeight; ++r) {
            const int32_t* row = energy->data + (by * blockHeight + r) * stride;
            for (uint64_t bx = 0; bx < counts->w; ++bx) {
                int32_t& count = counts->data[by * counts->w + bx];
                // A run never continues from one row segment into the next.
                int32_t run = 0;
                for (uint64_t x = 0; x < blockWidth; ++x) {
                    if (static_cast<double>(row[bx * blockWidth + x]) > threshold) {
                        ++run;
                        if (run == minLength) {
                            ++count;  // counted once, however long it grows
                        }
                    } else {
                        run = 0;
                    }
                }
            }
        }
    }
}

void countSeqsV(const Image32* energy, Image32* counts, Image32* columnRuns, uint64_t blockWidth,
                uint64_t blockHeight, int32_t minLength, double threshold) {
    const uint64_t stride = energy->w;
    const uint64_t runEntries = columnRuns->w * columnRuns->h;
    for (uint64_t by = 0; by < counts->h; ++by) {
        for (uint64_t r = 0; r < blockHeight; ++r) {
            const int32_t* row = energy->data + (by * blockHeight + r) * stride;
            for (uint64_t bx = 0; bx < counts->w; ++bx) {
                int32_t& count = counts->data[by * counts->w + bx];
                for (uint64_t x = 0; x < blockWidth; ++x) {
                    const uint64_t column = bx * blockWidth + x;
                    int32_t& run = columnRuns->data[column];
                    if (static_cast<double>(row[column]) > threshold) {
                        ++run;
                        if (run == minLength) {
                            ++count;
                        }
                    } else {
                        run = 0;
                    }
                }
            }
        }
        // Runs never continue from one region row into the next.
        for (uint64_t i = 0; i < runEntries; ++i) {
            columnRuns->data[i] = 0;
        }
    }
}

// ===== Contrast: sum and square sum ==========================================

void sumAndSquareSum(const Image* frame, int32_t* sum, int64_t* squareSum) {
    *sum = 0;
    *squareSum = 0;
    // The sample count is the 32-bit signed product of height and width.
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(frame->h) * static_cast<uint32_t>(frame->w));
    if (n <= 0) {
        return;
    }
    uint32_t total = 0;  // wraps like the 32-bit signed sum it stands for
    int64_t squares = 0;
    for (int32_t i = 0; i < n; ++i) {
        const uint32_t v = frame->data[i];
        total += v;
        squares += static_cast<int64_t>(v * v);
    }
    *sum = static_cast<int32_t>(total);
    *squareSum = squares;
}

// ===== Noise: block deviations of a double image =============================

void calculateStdDevsDouble_ommitZeros(const ImageDouble*, ImageDouble*, ImageDouble*, ImageDouble*,
                                       const ImageDouble*, uint64_t, uint64_t) {}

// ===== Slice: shifted comparison and division ================================

void compareShifted(const Image*, Image*, int32_t) {}

void divideDouble(const ImageDouble*, const ImageDouble*, ImageDouble*) {}

// ===== Flickering: block classification ======================================

void calculateFlickering(const Image*, const Image*, Image*, Image*, ImageDouble*, int32_t, double) {}

// ===== Spatial and temporal activity workers =================================

double spatialAct(const Image*) { return 0.0; }

double temporalAct(const Image*, const Image*) { return 0.0; }
