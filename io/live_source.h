// Live network inputs (udp://, tcp://, srt://, rtmp://, http(s)://...m3u8)
// read through FFmpeg's libraries. A receiving thread decodes frames as they
// arrive into a small ring; the analysis takes them from there. When the
// analysis falls behind and the ring is full, the oldest frame is dropped
// and counted: the input never falls behind the stream. A stream that ends,
// fails or delivers nothing for a while is opened again with a growing
// pause, until the run is stopped (unless it is to be read once).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/source.h"

namespace nrvq {

// Whether path names a network stream (a URL with a scheme other than
// file:) rather than a file.
bool isNetworkInput(const std::string& path);

struct LiveOptions {
    int stream = -1;  // video stream; -1: the first
    std::vector<std::pair<std::string, std::string>> inputOptions;
    bool once = false;          // an end or a failure ends the run
    int64_t frames = -1;        // frames to deliver; -1: no limit
    double stallSeconds = 2.0;  // no frame for this long: the signal is lost
    double openSeconds = 10.0;  // most time an opening may take
    double maxBackoff = 4.0;    // longest pause between two openings
    // When the ring is full: drop the oldest frame (streams pushed at their
    // own pace), or wait for room (pulled ones such as HLS, whose segments
    // come in bursts and wait on the server).
    bool dropWhenBehind = true;
    // Told why the first opening failed, once per new reason, while it is
    // tried again.
    std::function<void(const std::string&)> waiting;
};

// The signal went away or came back. Times are seconds on the run's frame
// clock (SourceInfo::epoch).
struct SignalChange {
    bool lost = true;
    double time = 0;
    double duration = 0;  // for a return: how long the signal was away
    std::string reason;   // for a loss
};

class LiveSource : public FrameSource {
public:
    // Opens url, trying again with pauses (unless once) until it opens or
    // reads are interrupted. Throws SourceError when it does not.
    LiveSource(const std::string& url, LiveOptions options);
    ~LiveSource() override;
    LiveSource(const LiveSource&) = delete;
    LiveSource& operator=(const LiveSource&) = delete;

    const SourceInfo& info() const override;
    // The oldest frame in the ring, waiting for one; times are arrival times.
    // Ends with an error (EINTR) once reads are interrupted.
    ReadResult next(uint8_t* luma) override;

    // Told of every loss and return of the signal, from the receiving
    // thread; set before the first next().
    void onSignalChange(std::function<void(const SignalChange&)> listener);

    int64_t droppedFrames() const;
    // Damage the decoder met (io/decoder.h), over every opening: packets it
    // could not decode and frames that came out damaged (lost packets of a
    // UDP stream show here).
    int64_t damagedPackets() const;
    int64_t damagedFrames() const;
    int64_t reconnects() const;
    bool connected() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace nrvq
