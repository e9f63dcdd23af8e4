// Image toolkit: the three picture containers and the image arithmetic that
// the indicators share.
//
// A container is a plain value of three words (width, height, sample pointer)
// that does not own its buffer by itself. Buffers come from the alloc/calloc
// constructors and go back through the matching free operation; OwnedImage
// below ties that release to a scope. Operations take their images by
// pointer and never allocate their destinations: the caller supplies them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

struct Image {
    uint64_t w;
    uint64_t h;
    uint8_t* data;
};

struct Image32 {
    uint64_t w;
    uint64_t h;
    int32_t* data;
};

struct ImageDouble {
    uint64_t w;
    uint64_t h;
    double* data;
};

// Side of the square blocks most indicators work on.
inline constexpr int32_t BLOCKSIZE = 8;

// 32-bit signed addition and multiplication that wrap around, as the
// integer sums of the toolkit and the indicators do, without the undefined
// behaviour of signed overflow.
inline int32_t wrapAdd(int32_t a, int64_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// ---- Life cycle -----------------------------------------------------------
// The alloc and calloc constructors throw std::bad_alloc when a buffer of a
// non-zero size cannot be had (or its byte count does not fit 64 bits).

Image makeImage(uint64_t w, uint64_t h, uint8_t* data);
Image allocImage(uint64_t w, uint64_t h);
Image callocImage(uint64_t w, uint64_t h);
void freeImage(Image* image);

Image32 makeImage32(uint64_t w, uint64_t h, int32_t* data);
Image32 allocImage32(uint64_t w, uint64_t h);
Image32 callocImage32(uint64_t w, uint64_t h);
void freeImage32(Image32* image);

ImageDouble makeImageDouble(uint64_t w, uint64_t h, double* data);
ImageDouble allocImageDouble(uint64_t w, uint64_t h);
ImageDouble callocImageDouble(uint64_t w, uint64_t h);
void freeImageDouble(ImageDouble* image);

// Where the constructors take buffers from and the free operations give them
// back to: the allocator installed for the calling thread, or the system
// when none is. An analysis installs its working memory here, so that a
// frame allocates nothing once the first frame has sized every buffer.
class ImageAllocator {
public:
    // A buffer of size bytes (not 0), zeroed when asked; throws
    // std::bad_alloc when none can be had.
    virtual void* acquire(size_t size, bool zeroed) = 0;
    // False when data is not one of this allocator's buffers.
    virtual bool release(void* data) = 0;

protected:
    ~ImageAllocator() = default;
};

// Installs allocator (null: the system) for the calling thread and returns
// the one installed before.
ImageAllocator* installImageAllocator(ImageAllocator* allocator);

inline void releaseImage(Image* image) { freeImage(image); }
inline void releaseImage(Image32* image) { freeImage32(image); }
inline void releaseImage(ImageDouble* image) { freeImageDouble(image); }

// Owns the buffer of one container for the lifetime of a scope:
//   OwnedImage<Image32> sums(callocImage32(w, h));
//   blockSums(frame, sums.get(), 8, 8);
template <typename Img>
class OwnedImage {
public:
    explicit OwnedImage(Img image) : image_(image) {}
    ~OwnedImage() { releaseImage(&image_); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
    // A moved-from owner keeps its size and holds no buffer.
    OwnedImage(OwnedImage&& other) noexcept : image_(other.image_) { other.image_.data = nullptr; }
    OwnedImage& operator=(OwnedImage&& other) noexcept {
        if (this != &other) {
            releaseImage(&image_);
            image_ = other.image_;
            other.image_.data = nullptr;
        }
        return *this;
    }

    Img* get() { return &image_; }
    const Img* get() const { return &image_; }
    Img* operator->() { return &image_; }
    const Img* operator->() const { return &image_; }
    Img& operator*() { return image_; }
    const Img& operator*() const { return image_; }

private:
    Img image_;
};

// ---- Pixel sums, block sums and block deviations --------------------------

// Sum of all samples, each sign-extended, in 64 bits.
int64_t sumPixels32(const Image32* image);
// Adds the sum of every blockWidth x blockHeight block of src into the
// matching cell of dest; dest's size is the block grid.
void blockSums(const Image* src, Image32* dest, uint64_t blockWidth, uint64_t blockHeight);
// Adds block sums and sums of squares into sums and squares (grid = sums'
// size) and overwrites deviations with each block's sample standard deviation.
void calculateStdDevs(const Image* src, Image32* sums, Image32* squares, ImageDouble* deviations,
                      uint64_t blockWidth, uint64_t blockHeight);

// ---- Gradient and edge operators ------------------------------------------

// Backward differences: destX = p(y,x) - p(y,x-1), destY = p(y,x) - p(y-1,x).
void gradient(const Image* src, Image32* destX, Image32* destY);
// Roberts cross: destX = p(y-1,x-1) - p(y,x), destY = p(y-1,x) - p(y,x-1).
void roberts(const Image* src, Image32* destX, Image32* destY);
// Roberts cross evaluated at source row y*stepY, column x*stepX only.
void robertsSkip(const Image* src, Image32* destX, Image32* destY, int32_t stepX, int32_t stepY);
// dest(i) = a(i)^2 + b(i)^2, 32-bit.
void addSquares32(const Image32* a, const Image32* b, Image32* dest);
// dest(i) = a(i) * b(i), 32-bit.
void multiply(const Image32* a, const Image32* b, Image32* dest);

// ---- Kernel filter --------------------------------------------------------

// Correlates the inner part of each of nBlocks blocks laid side by side in
// src with kernel, writing into dest. Returns 0, or -1 after printing why
// the images do not fit.
int32_t filter(const Image* src, ImageDouble* dest, const ImageDouble* kernel, uint32_t nBlocks,
               uint32_t blockWidth, uint32_t blockHeight);

// ---- Auxiliary operations -------------------------------------------------

uint32_t sumPixels(const Image* image);
uint32_t sumH(const uint8_t* data, int32_t w, int32_t h);
uint32_t sumV(const uint8_t* data, int32_t w, int32_t h);
void integrate(const Image* src, Image32* dest);
void blockSumsInteg(const Image32* integral, Image32* dest, uint64_t blockWidth, uint64_t blockHeight);
void blockSumsInteg2(const Image* integral, Image32* dest, uint64_t blockWidth, uint64_t blockHeight);
void onlyCopy(const Image* src, Image* dest);
bool areEqual(const Image* a, const Image* b);
double sobel(const Image* src, Image32* destX, Image32* destY);
int32_t sobel2(const Image* src, Image* destX, Image* destY);
void absGradient(const Image* src, Image32* destX, Image32* destY);
void addSquares(const Image* a, const Image* b, Image32* dest);
void divide(const Image32* a, const Image32* b, ImageDouble* dest);
void imageSqrt(const ImageDouble* src, ImageDouble* dest);
void convU8toI32(const Image* src, Image32* dest);
void convI32toU8(const Image32* src, Image* dest);
void printRange(const Image* image, int32_t x0, int32_t x1, int32_t y0, int32_t y1);
void printRange32(const Image32* image, int32_t x0, int32_t x1, int32_t y0, int32_t y1);

// ---- Operations that serve a single indicator -----------------------------

// Block loss: counts runs of at least minLength samples above threshold
// along rows (H) or down columns (V), adding one count per run to the
// region of counts that holds it. columnRuns holds one run length per energy
// column and is all zero on entry and on return.
void countSeqsH(const Image32* energy, Image32* counts, uint64_t blockWidth, uint64_t blockHeight,
                int32_t minLength, double threshold);
void countSeqsV(const Image32* energy, Image32* counts, Image32* columnRuns, uint64_t blockWidth,
                uint64_t blockHeight, int32_t minLength, double threshold);

// Contrast: sum (32-bit) and sum of squares (64-bit) of all samples.
void sumAndSquareSum(const Image* frame, int32_t* sum, int64_t* squareSum);

// Noise: per-block deviation of a double image, leaving out a frame of
// kernel-width / 2 samples around each block.
void calculateStdDevsDouble_ommitZeros(const ImageDouble* src, ImageDouble* sums, ImageDouble* squares,
                                       ImageDouble* deviations, const ImageDouble* kernel,
                                       uint64_t blockWidth, uint64_t blockHeight);

// Slice: dest = 1 where src at a linear index equals src at index + offset.
void compareShifted(const Image* src, Image* dest, int32_t offset);
// Slice: dest(i) = a(i) / b(i) in plain double division.
void divideDouble(const ImageDouble* a, const ImageDouble* b, ImageDouble* dest);

// Flickering: classifies every block as changing or still against the
// previous frame and counts the switches.
void calculateFlickering(const Image* current, const Image* previous, Image* transitionCounts,
                         Image* blockStates, ImageDouble* blockDiffs, int32_t blockSize,
                         double threshold);

// Spatial activity: square root of the summed 3x3 Sobel energy of the interior.
double spatialAct(const Image* frame);
// Temporal activity: square root of the summed squared sample differences.
double temporalAct(const Image* frame, const Image* previous);
