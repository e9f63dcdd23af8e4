// Frames of compressed video (MP4, Matroska, AVI, MPEG-TS and whatever else
// the installed FFmpeg libraries read), decoded and reduced to their luma
// plane.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/source.h"

namespace nrvq {

// Frame sizes the decoder accepts: at most this many samples on a side and
// kMaxDecodedSamples in all.
inline constexpr int32_t kMaxDecodedSide = 32768;
inline constexpr int64_t kMaxDecodedSamples = int64_t{1} << 28;

// An opening that fails however often it is tried: an input option that no
// demuxer or protocol takes, a protocol the libraries do not have.
class LastingSourceError : public SourceError {
    using SourceError::SourceError;
};

struct DecoderOptions {
    int stream = -1;          // index of the video stream; -1: the first one
    double fps = 0;           // frame rate to report; <= 0: the stream's own
    int64_t startFrame = 0;   // decoded frames to drop before the first one delivered
    int64_t frameCount = -1;  // frames to deliver; -1: to the end of the stream
    int threads = 0;          // decoding threads; 0: one a processor
    // Streams of larger frames are refused, before the libraries allocate
    // pictures for them while probing.
    int64_t maxSamples = kMaxDecodedSamples;
    // Options of the demuxer and the protocol (network inputs), as KEY=VALUE
    // pairs; one that none of them takes is an error.
    std::vector<std::pair<std::string, std::string>> inputOptions{};
    // Asked again and again while a read or an opening waits; true ends it
    // (the read then fails). Set for network inputs, which can wait forever.
    std::function<bool()> interrupted{};
};


// Delivers every decoded frame once, in the decoder's output (presentation)
// order, with no frame-rate conversion. Damage that the decoder recovers
// from is counted and the run goes on.
class DecoderSource : public FrameSource {
public:
    // Packets the decoder rejected (or whose decoding failed) so far.
    virtual int64_t damagedPackets() const = 0;
    // Frames the decoder flagged as corrupt or reported errors for while
    // making them (a concealed slice, say); frames dropped before the start
    // included.
    virtual int64_t damagedFrames() const = 0;
    // The stream's end has been reached (not a count or a stop).
    virtual bool endReached() const = 0;
    // Frames decoded so far, those before the start included.
    virtual int64_t decodedFrames() const = 0;
    // The count asked for (-1: to the end), and the container's own count
    // of the stream's frames (-1: it gives none).
    virtual int64_t requestedFrames() const = 0;
    virtual int64_t announcedFrames() const = 0;
};

// Opens path and its video stream's decoder. Throws SourceError naming the
// file and the cause when the file cannot be opened, holds no video stream
// (or not the one asked for), or has no usable decoder or frame size, and
// when the decoder module cannot be loaded.
std::unique_ptr<DecoderSource> openDecoderSource(const std::string& path, const DecoderOptions& options = {});

// True when the libraries recognise path's first bytes as a container or
// compressed stream. Raw sample files (which carry no signature) and
// YUV4MPEG2 files are not recognised. Without the decoder module nothing is.
bool looksLikeContainer(const std::string& path);

// The decoder lives in a shared module, nrvq-decoder.so, opened on the first
// call of either function above: only then are FFmpeg's libraries loaded.
// It is looked for beside the running program (or the shared object that
// holds this library), in lib/nrvq next to the program's bin folder, and in
// the library folder of the installation. Returns the module, or nullptr
// with why in *why.
struct DecoderModule;
const DecoderModule* decoderModule(std::string* why = nullptr);

// What the module hands the library. abi and the sizes guard against a
// module of another build; abi goes up whenever the table or the sources'
// entry points change (5: sources lend their decoded planes).
inline constexpr int kDecoderModuleAbi = 5;
struct DecoderModule {
    int abi;
    size_t optionsSize;
    size_t infoSize;
    std::unique_ptr<DecoderSource> (*open)(const std::string& path, const DecoderOptions& options);
    bool (*looksLikeContainer)(const std::string& path);
    // A grey picture of width x height samples as a PNG file; throws
    // OutputError when the encoder fails.
    std::string (*encodePng)(const uint8_t* gray, int width, int height);
};

}  // namespace nrvq

// The module's one entry point.
extern "C" const nrvq::DecoderModule* nrvq_decoder_module();
