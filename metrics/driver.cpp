#include "metrics/driver.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <utility>

#include "metrics/blackout.h"
#include "metrics/blockLoss.h"
#include "metrics/blockiness.h"
#include "metrics/blur.h"
#include "metrics/contrast.h"
#include "metrics/exposure.h"
#include "metrics/flickering.h"
#include "metrics/freezing.h"
#include "metrics/interlace.h"
#include "metrics/letterbox.h"
#include "metrics/noise.h"
#include "metrics/pillarbox.h"
#include "metrics/slice.h"
#include "metrics/spatialActivity.h"
#include "metrics/temporalActivity.h"
#include "tools/definitions.h"

namespace {

constexpr const char* kLogName = "metricsResultsCSV.csv";

constexpr const char kUsage[] =
    "Usage : %s nameOfTheMovie.yuv WIDTH HEIGHT [FPS] [NumberOfFrames] [startFrame]\n"
    ", where [***] is optional parameter.\n\n";

constexpr const char kConsoleHeader[] =
    "Frame: \tBlockiness: \tSpatial Activity: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: "
    "\t\tTemporalAct: \tBlackout: \tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: "
    "\t\tSlice: \t\tFlickering:";

constexpr const char kLogHeader[] =
    "Frame: \tBlockiness: \tSA: \tLetterbox: \tPillarbox: \tBlockloss: \tBlur: \tTA: \tBlackout: "
    "\tFreezing: \tExposure(bri): \tContrast: \tInterlace: \tNoise: \tSlice: \tFlickering:\n";
static_assert(sizeof(kLogHeader) - 1 == 163, "the log header is a block of 163 bytes");

constexpr const char kConsoleRow[] =
    "%05i \t%-5.5f \t%-5.5f \t\t%-5.5f \t%-5.5f \t%-5.5f \t%-7.3f \t%-5.5f \t%-d \t\t%-d \t\t%-6i "
    "\t\t%-5.5f \t%-5.5f \t%-8.4f \t%-7.3f \t%-5.5f\n";

constexpr const char kLogRow[] =
    "%05i \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.5f \t%-5.3f \t%-5.5f \t%-d \t%-d \t%-6i \t%-5.5f "
    "\t%-5.5f \t%-8.4f \t%-7.3f \t%-5.5f\n";

constexpr const char kTimingPerMetric[] =
    "\tBlockiness: %02.6f ms \tSpatialAct: %02.6f ms \tLetterbox: %02.6f ms \n"
    "\tPillarbox: %02.6f ms \t\tBlockLoss: %02.6f ms \t\tBlur: %02.6f ms \n"
    " \tExposure: %02.6f ms \t\tInterlace: %02.6f ms \t\tNoise: %02.6f ms \n"
    " \tSlice: %02.6f ms\t\tBlackout: %02.6f ms \t\tTemporal: %02.6f ms \n"
    " \tFreezing : %02.6f ms\t\tFlickering: %02.6f ms \tContrast: %02.6f ms\n";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// ---- Command line -----------------------------------------------------------

// Parses text that is entirely a base-10 integer (an optional sign, then
// digits) within the range of a 32-bit signed int.
bool parseInt32(const char* text, int32_t* value) {
    if (text[0] == '\0' || !(text[0] == '+' || text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    *value = static_cast<int32_t>(parsed);
    return true;
}

// Parses text that is entirely a positive finite decimal number.
bool parsePositiveNumber(const char* text, double* value) {
    if (text[0] == '\0' || !(text[0] == '+' || text[0] == '.' || (text[0] >= '0' && text[0] <= '9'))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(parsed) || !(parsed > 0.0)) {
        return false;
    }
    *value = parsed;
    return true;
}

struct Arguments {
    const char* moviePath = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    double frameRate = DEFAULT_FPS;
    bool hasFrameRate = false;
    int32_t numberOfFrames = 0;
    bool hasNumberOfFrames = false;
    int32_t startFrame = 0;
};

// Checks every argument before anything is opened. On a bad argument, prints
// one line naming it on standard error and returns false.
bool parseArguments(int argc, char** argv, Arguments* args) {
    args->moviePath = argv[1];
    const auto reject = [](const char* name, const char* text, const char* problem) {
        std::fprintf(stderr, "Invalid %s \"%s\": %s\n", name, text, problem);
        return false;
    };
    if (!parseInt32(argv[2], &args->width) || args->width <= 0) {
        return reject("WIDTH", argv[2], "expected a positive whole number");
    }
    if (!parseInt32(argv[3], &args->height) || args->height <= 0) {
        return reject("HEIGHT", argv[3], "expected a positive whole number");
    }
    const int64_t lumaSize = int64_t{args->width} * args->height;
    if (lumaSize > INT32_MAX || (3 * lumaSize) / 2 > INT32_MAX) {
        return reject("HEIGHT", argv[3], "a frame of WIDTH x HEIGHT is too large (over 2^31 - 1 bytes)");
    }
    if (argc >= 5) {
        args->hasFrameRate = true;
        if (!parsePositiveNumber(argv[4], &args->frameRate)) {
            return reject("FPS", argv[4], "expected a positive finite number");
        }
    }
    if (argc >= 6) {
        args->hasNumberOfFrames = true;
        if (!parseInt32(argv[5], &args->numberOfFrames)) {
            return reject("NumberOfFrames", argv[5], "expected a whole number");
        }
    }
    if (argc >= 7) {
        if (!parseInt32(argv[6], &args->startFrame) || args->startFrame < 0) {
            return reject("startFrame", argv[6], "expected a whole number that is not negative");
        }
    }
    return true;
}

// ---- Timing -------------------------------------------------------------------

float clockReading() { return static_cast<float>(static_cast<unsigned long>(std::clock())); }

// Calls f, adding its processor time in seconds to accumulator.
template <typename F>
auto timed(float* accumulator, F&& f) {
    const float before = clockReading();
    auto result = f();
    const float after = clockReading();
    *accumulator += (after - before) / 1000000;
    return result;
}

// Double to 32-bit int by truncation; values out of range or not a number
// give INT32_MIN, as the processor's own conversion does.
int32_t truncateToInt(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

// Processor seconds spent in each indicator, in call order.
struct Timings {
    float blockiness = 0, spatialActivity = 0, letterbox = 0, pillarbox = 0, blockLoss = 0, blur = 0,
          exposure = 0, interlace = 0, noise = 0, slice = 0, blackout = 0, contrast = 0,
          temporalActivity = 0, freezing = 0, flickering = 0;
};

void printReport(const Timings& t, float start, int32_t frames) {
    const float overall = (clockReading() - start) / 1000000;
    const float perFrame = static_cast<float>(frames);
    const float msPerFrame = overall / perFrame * 1000;
    std::printf("Calculation time: \t%f seconds overall \n \t\t\t%f milliseconds per frame",
                static_cast<double>(overall), static_cast<double>(msPerFrame));
    std::printf("\n\nAverage calculation time per frame for each metric: \n");
    const auto ms = [perFrame](float total) { return static_cast<double>(total / perFrame * 1000); };
    std::printf(kTimingPerMetric, ms(t.blockiness), ms(t.spatialActivity), ms(t.letterbox), ms(t.pillarbox),
                ms(t.blockLoss), ms(t.blur), ms(t.exposure), ms(t.interlace), ms(t.noise), ms(t.slice),
                ms(t.blackout), ms(t.temporalActivity), ms(t.freezing), ms(t.flickering), ms(t.contrast));
}

int run(int argc, char** argv) {
    if (argc <= 3) {
        std::puts("Not enough parameters\n");
        std::printf(kUsage, argc > 0 ? argv[0] : "nrvq");
        return -1;
    }
    Arguments args;
    if (!parseArguments(argc, argv, &args)) {
        std::printf(kUsage, argv[0]);
        return -1;
    }

    File video(std::fopen(args.moviePath, "rb"));
    const int videoErrno = errno;
    File log(std::fopen(kLogName, "w"));
    const int logErrno = errno;
    if (!video) {
        std::fprintf(stderr, "Error opening the file %s: %s \n", args.moviePath, std::strerror(videoErrno));
        return -1;
    }

    const int32_t width = args.width;
    const int32_t height = args.height;
    auto currentFrame = std::make_unique<OwnedImage<Image>>(callocImage(width, height));
    auto previousFrame = std::make_unique<OwnedImage<Image>>(callocImage(width, height));
    OwnedImage<Image> transitionCounts(callocImage((*currentFrame)->w / 8, (*currentFrame)->h / 8));
    OwnedImage<Image> blockStates(callocImage((*currentFrame)->w / 8, (*currentFrame)->h / 8));

    const int32_t lumaSize = width * height;
    const int32_t frameSize = static_cast<int32_t>((3 * int64_t{lumaSize}) / 2);
    const double frameRate = args.frameRate;
    int32_t numberOfFrames = args.numberOfFrames;
    const int32_t startFrame = args.startFrame;
    if (!args.hasNumberOfFrames) {
        std::fseek(video.get(), 0, SEEK_END);
        const int64_t fileSize = std::ftell(video.get());
        const int64_t frames = fileSize / int64_t{frameSize};
        numberOfFrames = static_cast<int32_t>(frames > INT32_MAX ? INT32_MAX : frames);
    }

    std::printf("Video file %s opened successfully!\n\n", args.moviePath);
    std::printf("Width = %d, Height = %d, FPS = %2.2f, Number of Frames = %d, Start Frame = %d\n\n", width,
                height, frameRate, numberOfFrames, startFrame);

    std::printf("%s\n", kConsoleHeader);
    if (!log) {
        errno = logErrno;
        std::perror("Cannot create the log file");
    } else {
        std::fwrite(kLogHeader, 1, sizeof(kLogHeader) - 1, log.get());
        std::fflush(log.get());
    }

    const float start = clockReading();
    Timings timings;
    FrameResults results;
    int32_t examined = 0;
    const int64_t endFrame = int64_t{startFrame} + numberOfFrames;
    int64_t offset = int64_t{startFrame} * frameSize;
    for (int64_t k = startFrame; k < endFrame && k <= INT32_MAX; ++k, offset += frameSize) {
        const int32_t frame = static_cast<int32_t>(k);
        Image* current = currentFrame->get();
        Image* previous = previousFrame->get();

        std::fseek(video.get(), offset, SEEK_SET);
        const size_t bytesRead = std::fread(current->data, 1, static_cast<size_t>(lumaSize), video.get());
        if (std::ferror(video.get())) {
            const int error = errno;
            std::printf("Some error occurred when reading the %d frame\n", frame);
            std::printf("Byte read = %d, Frame size = %d\n\n", static_cast<int>(bytesRead), lumaSize);
            std::printf("Error code: %d \n", error);
            std::printf("Error description: %s \n", std::strerror(error));
            return -1;
        }
        if (bytesRead < static_cast<size_t>(lumaSize)) {
            // The file ends before this frame does: the frames from here on
            // are not in it, and examining stale buffers would report frames
            // that do not exist.
            std::fprintf(stderr, "Warning: %lld of the %d requested frames are not in the file\n",
                         static_cast<long long>(endFrame - k), numberOfFrames);
            break;
        }

        results.blockiness = timed(&timings.blockiness, [&] { return blockiness(current); });
        results.spatialActivity = timed(&timings.spatialActivity, [&] { return spatialActivity(current); });
        results.letterbox = timed(&timings.letterbox, [&] { return letterbox(current); });
        results.pillarbox = timed(&timings.pillarbox, [&] { return pillarbox(current); });
        results.blockLoss = timed(&timings.blockLoss, [&] { return blockLoss(current); });
        results.blur = timed(&timings.blur, [&] { return blur(current); });
        results.exposure = timed(&timings.exposure, [&] { return exposure(current); });
        results.interlace = timed(&timings.interlace, [&] { return interlace(current); });
        results.noise = timed(&timings.noise, [&] { return noise(current); });
        results.slice = timed(&timings.slice, [&] { return slice(current); });
        results.blackout = timed(&timings.blackout, [&] { return blackout(current); });
        results.contrast = timed(&timings.contrast, [&] { return contrastRMS(current); });
        if (k > startFrame) {
            results.temporalActivity =
                timed(&timings.temporalActivity, [&] { return temporalActivity(current, previous); });
            results.freezing = timed(&timings.freezing, [&] {
                return freezing(results.blackout, results.temporalActivity, frameRate);
            });
            results.flickering = timed(&timings.flickering, [&] {
                return flickering(current, previous, transitionCounts.get(), blockStates.get());
            });
        }
        ++examined;

        writeConsoleRow(stdout, frame, results);
        if (log) {
            writeLogRow(log.get(), frame, results);
            std::fflush(log.get());
        }
        std::swap(current->data, previous->data);
    }

    // A run cut short by the end of the file reports per examined frame.
    printReport(timings, start, numberOfFrames > examined ? examined : numberOfFrames);

    currentFrame.reset();
    previousFrame.reset();
    video.reset();
    log.reset();
    std::puts("\nFile stream closed\n");
    return 0;
}

}  // namespace

namespace {

void writeRow(std::FILE* out, const char* format, int32_t frame, const FrameResults& r) {
    std::fprintf(out, format, frame, r.blockiness, r.spatialActivity, r.letterbox, r.pillarbox, r.blockLoss,
                 r.blur, r.temporalActivity, static_cast<int>(r.blackout), static_cast<int>(r.freezing),
                 truncateToInt(r.exposure), r.contrast, r.interlace, r.noise, r.slice, r.flickering);
}

}  // namespace

void writeConsoleRow(std::FILE* out, int32_t frame, const FrameResults& results) {
    writeRow(out, kConsoleRow, frame, results);
}

void writeLogRow(std::FILE* out, int32_t frame, const FrameResults& results) {
    writeRow(out, kLogRow, frame, results);
}

int runNrvq(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "Out of memory: the images for this frame size cannot be allocated\n");
        return -1;
    }
}
