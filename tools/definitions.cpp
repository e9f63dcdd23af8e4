// Image toolkit: containers and shared image arithmetic.
#undef NDEBUG  // size assertions stay active in every build type
#include "tools/definitions.h"

#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

thread_local ImageAllocator* installedAllocator = nullptr;

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
    // Inside an analysis context the buffers come from its working memory,
    // which hands the same buffers out again on the next frame.
    if (installedAllocator != nullptr && count != 0) {
        return Img{w, h, static_cast<Sample*>(installedAllocator->acquire(count * sizeof(Sample), zeroed))};
    }
    void* data = zeroed ? std::calloc(count, sizeof(Sample)) : std::malloc(count * sizeof(Sample));
    if (data == nullptr && count != 0) {
        throw std::bad_alloc();
    }
    return Img{w, h, static_cast<Sample*>(data)};
}

// Sample count of an image taken as a signed 32-bit product, as the
// element-wise operations use it.
inline int32_t count32(uint64_t w, uint64_t h) {
    return static_cast<int32_t>(static_cast<uint32_t>(w * h));
}

// Gives a buffer back to the installed allocator it came from, or to the
// system.
void release(void* data) {
    if (installedAllocator == nullptr || !installedAllocator->release(data)) {
        std::free(data);
    }
}

}  // namespace

ImageAllocator* installImageAllocator(ImageAllocator* allocator) {
    ImageAllocator* const previous = installedAllocator;
    installedAllocator = allocator;
    return previous;
}

// ===== Life cycle ============================================================

Image makeImage(uint64_t w, uint64_t h, uint8_t* data) { return Image{w, h, data}; }
Image allocImage(uint64_t w, uint64_t h) { return allocate<Image, uint8_t>(w, h, false); }
Image callocImage(uint64_t w, uint64_t h) { return allocate<Image, uint8_t>(w, h, true); }
void freeImage(Image* image) { release(image->data); }

Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data) { return Image32{w, h, data}; }
Image32 allocImage32(uint64_t w, uint64_t h) { return allocate<Image32, int32_t>(w, h, false); }
Image32 callocImage32(uint64_t w, uint64_t h) { return allocate<Image32, int32_t>(w, h, true); }
void freeImage32(Image32* image) { release(image->data); }

ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data) { return ImageDouble{w, h, data}; }
ImageDouble allocImageDouble(uint64_t w, uint64_t h) { return allocate<ImageDouble, double>(w, h, false); }
ImageDouble callocImageDouble(uint64_t w, uint64_t h) { return allocate<ImageDouble, double>(w, h, true); }
void freeImageDouble(ImageDouble* image) { release(image->data); }

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

// Backward differences of src, each passed through `combine` before it is
// stored: destX(y, x) from p(y, x) - p(y, x - 1), destY(y, x) from
// p(y, x) - p(y - 1, x); row 0 and column 0 are zero.
template <typename Combine>
void backwardDifferences(const Image* src, Image32* destX, Image32* destY, Combine combine) {
    clearFirstRowAndColumn(destX);
    clearFirstRowAndColumn(destY);
    const uint64_t w = src->w;
    for (uint64_t y = 1; y < src->h; ++y) {
        const uint8_t* above = src->data + (y - 1) * w;
        const uint8_t* row = src->data + y * w;
        for (uint64_t x = 1; x < w; ++x) {
            destY->data[y * w + x] = combine(int32_t{row[x]} - int32_t{above[x]});
            destX->data[y * w + x] = combine(int32_t{row[x]} - int32_t{row[x - 1]});
        }
    }
}

}  // namespace

void gradient(const Image* src, Image32* destX, Image32* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    backwardDifferences(src, destX, destY, [](int32_t difference) { return difference; });
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

namespace {

// Block sums read from a summed-area table by its four corners, in 32-bit
// wrap-around arithmetic. A block of zero width or height holds no samples
// and sums to 0 (its corners would lie before the table).
template <typename Table>
void blockSumsFromTable(const Table* integral, Image32* dest, uint64_t blockWidth, uint64_t blockHeight) {
    const uint64_t stride = integral->w;
    const auto at = [&](uint64_t r, uint64_t c) { return static_cast<uint32_t>(integral->data[r * stride + c]); };
    for (uint64_t i = 0; i < dest->h; ++i) {
        for (uint64_t j = 0; j < dest->w; ++j) {
            uint32_t sum = 0;
            if (blockWidth != 0 && blockHeight != 0) {
                const uint64_t top = i * blockHeight;
                const uint64_t left = j * blockWidth;
                const uint64_t bottom = top + blockHeight - 1;
                const uint64_t right = left + blockWidth - 1;
                sum = at(bottom, right);
                if (i > 0) {
                    sum -= at(top - 1, right);
                }
                if (j > 0) {
                    sum -= at(bottom, left - 1);
                }
                if (i > 0 && j > 0) {
                    sum += at(top - 1, left - 1);
                }
            }
            dest->data[i * dest->w + j] = static_cast<int32_t>(sum);
        }
    }
}

template <typename Img>
void clearRow(Img* dest, uint64_t y) {
    for (uint64_t x = 0; x < dest->w; ++x) {
        dest->data[y * dest->w + x] = 0;
    }
}

// Walks the 3 x 3 Sobel operator over the interior of src (rows and columns
// 1 ... size - 2) and zeroes the one-sample frame of both destinations:
// row 0, then per interior row column 0, the interior and column w - 1, then
// row h - 1. visit(index, gx, gy) stores one interior sample. An image
// without samples is left alone; a one-row image has that row cleared once.
template <typename Img, typename Visit>
void sobelWalk(const Image* src, Img* destX, Img* destY, Visit visit) {
    const uint64_t w = src->w;
    const uint64_t h = src->h;
    if (w == 0 || h == 0) {
        return;
    }
    clearRow(destX, 0);
    clearRow(destY, 0);
    for (uint64_t y = 1; y + 1 < h; ++y) {
        const uint8_t* a = src->data + (y - 1) * w;
        const uint8_t* c = a + w;
        const uint8_t* b = c + w;
        destX->data[y * w] = 0;
        destY->data[y * w] = 0;
        for (uint64_t x = 1; x + 1 < w; ++x) {
            const int32_t gx = (a[x + 1] + 2 * c[x + 1] + b[x + 1]) - (a[x - 1] + 2 * c[x - 1] + b[x - 1]);
            const int32_t gy = (b[x - 1] + 2 * b[x] + b[x + 1]) - (a[x - 1] + 2 * a[x] + a[x + 1]);
            visit(y * w + x, gx, gy);
        }
        destX->data[y * w + w - 1] = 0;
        destY->data[y * w + w - 1] = 0;
    }
    if (h > 1) {
        clearRow(destX, h - 1);
        clearRow(destY, h - 1);
    }
}

// Truncates toward zero; a total beyond the 32-bit range stays at the
// largest value instead of being undefined.
int32_t truncateToInt32(double value) {
    if (value >= 2147483648.0) {
        return INT32_MAX;
    }
    if (value <= -2147483649.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// Prints (y1 - y0 + 1) lines of (x1 - x0 + 1) consecutive samples from the
// start of the buffer, whatever the image's width. Samples past the end of
// the image are not printed; each line still ends with its newline.
template <typename Img>
void printSamples(const Img* image, int32_t x0, int32_t x1, int32_t y0, int32_t y1, const char* format) {
    if (y0 > y1) {
        return;
    }
    const uint64_t n = image->w * image->h;
    const int64_t lines = int64_t{y1} - y0 + 1;
    const int64_t perLine = x0 <= x1 ? int64_t{x1} - x0 + 1 : 0;
    uint64_t next = 0;
    for (int64_t line = 0; line < lines; ++line) {
        for (int64_t k = 0; k < perLine && next < n; ++k) {
            std::printf(format, static_cast<int>(image->data[next++]));
        }
        std::putchar('\n');
    }
}

}  // namespace

uint32_t sumPixels(const Image* image) {
    const uint64_t n = image->w * image->h;
    uint32_t total = 0;
    for (uint64_t i = 0; i < n; ++i) {
        total += image->data[i];
    }
    return total;
}

uint32_t sumH(const uint8_t* data, int32_t w, int32_t h) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(w) * static_cast<uint32_t>(h));
    uint32_t total = 0;
    for (int32_t i = 0; i < n; ++i) {
        total += data[i];
    }
    return total;
}

uint32_t sumV(const uint8_t* data, int32_t w, int32_t h) {
    uint32_t total = 0;
    if (w <= 0 || h <= 0) {
        return total;
    }
    for (int64_t x = 0; x < w; ++x) {
        for (int64_t y = 0; y < h; ++y) {
            total += data[y * w + x];
        }
    }
    return total;
}

void integrate(const Image* src, Image32* dest) {
    const uint64_t w = src->w;
    for (uint64_t y = 0; y < src->h; ++y) {
        uint32_t s = 0;
        for (uint64_t x = 0; x < w; ++x) {
            s += src->data[y * w + x];
            const uint32_t above = y == 0 ? 0 : static_cast<uint32_t>(dest->data[(y - 1) * w + x]);
            dest->data[y * w + x] = static_cast<int32_t>(above + s);
        }
    }
}

void blockSumsInteg(const Image32* integral, Image32* dest, uint64_t blockWidth, uint64_t blockHeight) {
    blockSumsFromTable(integral, dest, blockWidth, blockHeight);
}

void blockSumsInteg2(const Image* integral, Image32* dest, uint64_t blockWidth, uint64_t blockHeight) {
    blockSumsFromTable(integral, dest, blockWidth, blockHeight);
}

void onlyCopy(const Image* src, Image* dest) {
    const uint64_t n = src->w * src->h;
    for (uint64_t i = 0; i < n; ++i) {
        dest->data[i] = src->data[i];
    }
}

bool areEqual(const Image* a, const Image* b) {
    if (a == b) {
        return true;
    }
    if (a->w != b->w || a->h != b->h) {
        return false;
    }
    const uint64_t n = a->w * a->h;
    if (a->data == b->data || n == 0) {
        return true;
    }
    for (uint64_t i = 0; i < n; ++i) {
        if (a->data[i] != b->data[i]) {
            return false;
        }
    }
    return true;
}

double sobel(const Image* src, Image32* destX, Image32* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    double total = 0.0;
    sobelWalk(src, destX, destY, [&](uint64_t i, int32_t gx, int32_t gy) {
        destX->data[i] = gx;
        destY->data[i] = gy;
        const double dx = gx;
        const double dy = gy;
        total += dx * dx + dy * dy;
    });
    return std::sqrt(total);
}

int32_t sobel2(const Image* src, Image* destX, Image* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    int32_t total = 0;
    sobelWalk(src, destX, destY, [&](uint64_t i, int32_t gx, int32_t gy) {
        // The 8-bit destinations keep the low byte of each gradient, and
        // the magnitude is taken from those stored bytes.
        const uint8_t bx = static_cast<uint8_t>(gx);
        const uint8_t by = static_cast<uint8_t>(gy);
        destX->data[i] = bx;
        destY->data[i] = by;
        const double magnitude = std::sqrt(static_cast<double>(bx * bx + by * by));
        total = truncateToInt32(static_cast<double>(total) + magnitude);
    });
    return total;
}

void absGradient(const Image* src, Image32* destX, Image32* destY) {
    assert(src->h == destX->h && src->w == destX->w);
    assert(src->h == destY->h && src->w == destY->w);
    backwardDifferences(src, destX, destY, [](int32_t difference) { return std::abs(difference); });
}

void addSquares(const Image* a, const Image* b, Image32* dest) {
    const int32_t n = count32(a->w, a->h);
    for (int32_t i = 0; i < n; ++i) {
        dest->data[i] = int32_t{a->data[i]} * a->data[i] + int32_t{b->data[i]} * b->data[i];
    }
}

void divide(const Image32* a, const Image32* b, ImageDouble* dest) {
    const int32_t n = count32(a->w, a->h);
    for (int32_t i = 0; i < n; ++i) {
        dest->data[i] = static_cast<double>(a->data[i]) / static_cast<double>(b->data[i]);
    }
}

void imageSqrt(const ImageDouble* src, ImageDouble* dest) {
    assert(src->w * src->h == dest->w *dest->h);
    const uint64_t n = src->w * src->h;
    for (uint64_t i = 0; i < n; ++i) {
        dest->data[i] = std::sqrt(src->data[i]);
    }
}

void convU8toI32(const Image* src, Image32* dest) {
    assert(src->w * src->h == dest->w *dest->h);
    const uint64_t n = src->w * src->h;
    for (uint64_t i = 0; i < n; ++i) {
        dest->data[i] = src->data[i];
    }
}

void convI32toU8(const Image32* src, Image* dest) {
    assert(src->w * src->h == dest->w *dest->h);
    const uint64_t n = src->w * src->h;
    for (uint64_t i = 0; i < n; ++i) {
        dest->data[i] = static_cast<uint8_t>(src->data[i]);  // low 8 bits, no clamping
    }
}

void printRange(const Image* image, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    printSamples(image, x0, x1, y0, y1, "%03i ");
}

void printRange32(const Image32* image, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    printSamples(image, x0, x1, y0, y1, "%i  ");
}

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

void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squares,
                                       ImageDouble* deviations, const ImageDouble* kernel,
                                       uint64_t blockWidth, uint64_t blockHeight) {
    if (kernel->w != kernel->h) {
        std::printf("Provided kernel is not symmetric!");
        return;
    }
    const uint64_t half = kernel->w / 2;
    const double n = static_cast<double>((blockHeight - 2 * half) * (blockWidth - 2 * half));
    const uint64_t gridW = sums->w;
    for (uint64_t r = 0; r < sums->h; ++r) {
        // The frame of `half` samples around each block is left out.
        for (uint64_t y = half; y < blockHeight && blockHeight - y > half; ++y) {
            const double* row = src->data + (r * blockHeight + y) * src->w;
            for (uint64_t k = 0; k < gridW; ++k) {
                double& sum = sums->data[r * gridW + k];
                double& square = squares->data[r * gridW + k];
                for (uint64_t x = half; x < blockWidth && blockWidth - x > half; ++x) {
                    const double v = row[k * blockWidth + x];
                    sum = v + sum;
                    square = v * v + square;
                }
            }
        }
        for (uint64_t k = 0; k < gridW; ++k) {
            double t = sums->data[r * gridW + k] * sums->data[r * gridW + k];
            t = t / n;
            double u = squares->data[r * gridW + k] - t;
            u = u / (n - 1.0);
            deviations->data[r * gridW + k] = std::sqrt(u);
        }
    }
}

// ===== Slice: shifted comparison and division ================================

void compareShifted(const Image* src, Image* dest, int32_t offset) {
    const uint64_t shift = static_cast<uint64_t>(static_cast<int64_t>(offset));
    for (uint64_t y = 0; y < dest->h; ++y) {
        for (uint64_t x = 0; x < dest->w; ++x) {
            const uint64_t i = y * src->w + x;
            dest->data[y * dest->w + x] = src->data[i] == src->data[i + shift] ? 1 : 0;
        }
    }
}

void divideDouble(const ImageDouble* a, const ImageDouble* b, ImageDouble* dest) {
    const int32_t n = count32(a->w, a->h);
    for (int32_t i = 0; i < n; ++i) {
        dest->data[i] = a->data[i] / b->data[i];
    }
}

// ===== Flickering: block classification ======================================

void calculateFlickering(const Image* current, const Image* previous, Image* transitionCounts,
                         Image* blockStates, ImageDouble* blockDiffs, int32_t blockSize,
                         double threshold) {
    const uint64_t bw = transitionCounts->w;
    const uint64_t bh = transitionCounts->h;
    // The block grid has to lie inside both frames, and the per-block images
    // have to hold one entry per block of the grid.
    assert(blockSize > 0);
    const uint64_t bs = static_cast<uint64_t>(blockSize);
    assert(bw <= current->w / bs && bh <= current->h / bs);
    assert(previous->w == current->w && previous->h == current->h);
    assert(blockStates->w * blockStates->h >= bw * bh);
    assert(blockDiffs->w * blockDiffs->h >= bw * bh);

    // Sum of absolute differences per block, row by row through the frame;
    // samples right of and below the last whole block are not visited.
    const uint64_t stride = current->w;
    for (uint64_t by = 0; by < bh; ++by) {
        for (uint64_t r = by * bs; r < by * bs + bs; ++r) {
            const uint8_t* cur = current->data + r * stride;
            const uint8_t* prev = previous->data + r * stride;
            double* diffs = blockDiffs->data + by * bw;
            for (uint64_t bx = 0; bx < bw; ++bx) {
                for (uint64_t c = bx * bs; c < bx * bs + bs; ++c) {
                    const int32_t d = static_cast<int32_t>(cur[c]) - static_cast<int32_t>(prev[c]);
                    diffs[bx] += static_cast<double>(d < 0 ? -d : d);
                }
            }
        }
    }

    const uint32_t n = static_cast<uint32_t>(bw * bh);
    const double samplesPerBlock = static_cast<double>(wrapMul(blockSize, blockSize));
    for (uint32_t i = 0; i < n; ++i) {
        blockDiffs->data[i] /= samplesPerBlock;
    }

    // A block starts changing when its mean difference reaches the threshold
    // and stands still again only when it repeats exactly; a mean in between
    // keeps the class it has. Every change of class is one switch.
    for (uint32_t i = 0; i < n; ++i) {
        const double mean = blockDiffs->data[i];
        if (mean >= threshold && blockStates->data[i] == 0) {
            blockStates->data[i] = 1;
            ++transitionCounts->data[i];
        } else if (mean == 0.0 && blockStates->data[i] == 1) {
            blockStates->data[i] = 0;
            ++transitionCounts->data[i];
        }
    }
}

// ===== Spatial and temporal activity workers =================================

double spatialAct(const Image* frame) {
    const uint64_t w = frame->w;
    const uint64_t h = frame->h;
    // Without three rows (or without any sample) there is no interior sample
    // for the 3x3 operator; the border is never extended.
    if (w == 0 || h == 0 || h - 1 < 2) {
        return std::sqrt(0.0);
    }
    double energy = 0.0;
    for (uint64_t y = 1; y < h - 1; ++y) {
        const uint8_t* above = frame->data + (y - 1) * w;
        const uint8_t* row = above + w;
        const uint8_t* below = row + w;
        for (uint64_t x = 1; x < w - 1; ++x) {
            const int32_t gx = (above[x + 1] + 2 * row[x + 1] + below[x + 1]) -
                               (above[x - 1] + 2 * row[x - 1] + below[x - 1]);
            const int32_t gy = (below[x - 1] + 2 * below[x] + below[x + 1]) -
                               (above[x - 1] + 2 * above[x] + above[x + 1]);
            energy += static_cast<double>(gx * gx + gy * gy);
        }
    }
    return std::sqrt(energy);
}

double temporalAct(const Image* frame, const Image* previous) {
    // The sample count comes from the current frame alone.
    const uint64_t n = frame->w * frame->h;
    if (n == 0) {
        return std::sqrt(0.0);
    }
    uint64_t sum = 0;
    for (uint64_t i = 0; i < n; ++i) {
        const int32_t d = static_cast<int32_t>(frame->data[i]) - static_cast<int32_t>(previous->data[i]);
        sum += static_cast<uint64_t>(d * d);
    }
    return std::sqrt(static_cast<double>(sum));
}
