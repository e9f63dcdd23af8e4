#include "metrics/contrast.h"

#include <cmath>
#include <cstdint>

double contrastRMS(const Image* frame) {
    const int32_t n = static_cast<int32_t>(static_cast<uint32_t>(frame->h) * static_cast<uint32_t>(frame->w));
    int32_t sum = 0;
    int64_t squareSum = 0;
    sumAndSquareSum(frame, &sum, &squareSum);
    return contrastFromSums(n, sum, squareSum);
}

double contrastFromSums(int32_t n, int32_t sum, int64_t squareSum) {
    const double q = static_cast<double>(squareSum);
    const double count = static_cast<double>(n);
    const double s = static_cast<double>(sum);
    const double countLessOne = static_cast<double>(static_cast<int32_t>(static_cast<uint32_t>(n) - 1u));

    // Sample standard deviation, (Q - S^2/N) / (N - 1) under the root, in
    // exactly this order of operations.
    const double a = 1.0 / count;
    const double b = (a * s) * s;
    const double c = q - b;
    const double d = 1.0 / countLessOne;
    const double e = d * c;
    return std::sqrt(e);
}
