#include "io/live_source.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "io/decoder.h"
#include "io/interrupt.h"

namespace nrvq {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes of luma the ring may hold at most, and its frames at least and at most.
constexpr size_t kRingBytes = size_t{64} << 20;
constexpr size_t kMinRing = 4;
constexpr size_t kMaxRing = 50;
constexpr double kFirstBackoff = 0.25;
// How often a waiting analysis looks whether reads were interrupted.
constexpr auto kPoll = std::chrono::milliseconds(50);

}  // namespace

bool isNetworkInput(const std::string& path) {
    const size_t colon = path.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (size_t i = 0; i < colon; ++i) {
        const char c = path[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
    }
    return path.compare(0, colon, "file") != 0;
}

struct LiveSource::State {
    std::string url;
    LiveOptions options;
    SourceInfo info;
    Clock::time_point origin;
    std::unique_ptr<DecoderSource> decoder;
    // Until when the current opening or read may wait (steady clock ticks):
    // read by the libraries' interrupt callback on the receiving thread.
    std::atomic<Clock::rep> deadline{0};
    std::atomic<bool> quit{false};
    std::atomic<bool> timedOut{false};  // the last read waited too long
    std::function<void(const SignalChange&)> listener;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> ring;
    std::vector<double> arrival;  // per ring slot
    double lastArrival = 0;  // of the latest frame, on the receiving thread
    size_t head = 0;
    size_t count = 0;
    int64_t delivered = 0;
    std::vector<uint8_t> incoming;
    bool finished = false;
    ReadResult end;  // once finished
    std::atomic<int64_t> dropped{0};
    std::atomic<int64_t> reconnects{0};
    std::atomic<int64_t> damagedPackets{0};
    std::atomic<int64_t> damagedFrames{0};
    int64_t earlierPackets = 0;  // of the decoders before the current one
    int64_t earlierFrames = 0;

    void countDamage() {
        damagedPackets.store(earlierPackets + decoder->damagedPackets());
        damagedFrames.store(earlierFrames + decoder->damagedFrames());
    }
    std::atomic<bool> connected{false};
    std::thread receiver;

    double now() const { return std::chrono::duration<double>(Clock::now() - origin).count(); }
    bool stopping() const { return quit.load() || readsInterrupted(); }
    void allow(double seconds) {
        deadline.store((Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds)))
                           .time_since_epoch()
                           .count());
    }

    std::unique_ptr<DecoderSource> open() {
        DecoderOptions d;
        d.stream = options.stream;
        // One decoding thread: frame threads would hold frames back, and
        // each frame's wait until its line is written is what a monitor
        // is about.
        d.threads = 1;
        d.inputOptions = options.inputOptions;
        d.interrupted = [this] {
            if (stopping()) return true;
            if (Clock::now().time_since_epoch().count() <= deadline.load()) return false;
            timedOut.store(true);
            return true;
        };
        timedOut.store(false);
        allow(options.openSeconds);
        std::unique_ptr<DecoderSource> source;
        try {
            source = openDecoderSource(url, d);
        } catch (const LastingSourceError&) {
            throw;
        } catch (const SourceError&) {
            if (!timedOut.load()) throw;
            char text[64];
            std::snprintf(text, sizeof text, "nothing came within %.3g s", options.openSeconds);
            throw SourceError(text);
        }
        allow(options.stallSeconds);
        return source;
    }

    // Pauses before the next opening; false when the run stops meanwhile.
    bool pause(double seconds) {
        const auto until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(seconds));
        std::unique_lock lock(mutex);
        while (!stopping()) {
            if (changed.wait_until(lock, std::min(until, Clock::now() + kPoll)) == std::cv_status::timeout &&
                Clock::now() >= until) {
                return true;
            }
        }
        return false;
    }

    void finish(ReadResult result) {
        std::lock_guard lock(mutex);
        finished = true;
        end = std::move(result);
        changed.notify_all();
    }

    void receive() {
        for (;;) {
            const ReadResult r = decoder->next(incoming.data());
            countDamage();
            if (r.status == ReadStatus::Frame) {
                std::unique_lock lock(mutex);
                while (!options.dropWhenBehind && count == ring.size() && !stopping()) {
                    changed.wait_for(lock, kPoll);
                }
                allow(options.stallSeconds);
                if (count == ring.size()) {
                    // The analysis is behind: the oldest frame waiting goes.
                    head = (head + 1) % ring.size();
                    --count;
                    dropped.fetch_add(1);
                }
                const size_t slot = (head + count) % ring.size();
                std::swap(ring[slot], incoming);
                arrival[slot] = now();
                lastArrival = arrival[slot];
                ++count;
                changed.notify_all();
                continue;
            }
            if (stopping()) {
                finish(interruptedRead());
                return;
            }
            if (options.once) {
                finish(r);
                return;
            }
            char stalled[64];
            std::snprintf(stalled, sizeof stalled, "no frame for %.3g s", options.stallSeconds);
            const std::string reason = timedOut.load() ? stalled
                                       : r.status == ReadStatus::End                              ? "the stream ended"
                                                                                                  : r.message;
            connected.store(false);
            // The signal is gone since its last frame (or since it opened).
            const double lostAt = lastArrival;
            if (listener) listener(SignalChange{true, lostAt, 0, reason});
            earlierPackets += decoder->damagedPackets();
            earlierFrames += decoder->damagedFrames();
            decoder.reset();
            double backoff = kFirstBackoff;
            while (!decoder) {
                try {
                    auto source = open();
                    const SourceInfo& again = source->info();
                    if (again.width != info.width || again.height != info.height) {
                        finish(failure("the frames of " + url + " changed from " + std::to_string(info.width) +
                                       " x " + std::to_string(info.height) + " to " + std::to_string(again.width) +
                                       " x " + std::to_string(again.height)));
                        return;
                    }
                    decoder = std::move(source);
                } catch (const SourceError&) {
                    if (!pause(backoff)) {
                        finish(interruptedRead());
                        return;
                    }
                    backoff = std::min(backoff * 2, options.maxBackoff);
                }
                if (stopping()) {
                    finish(interruptedRead());
                    return;
                }
            }
            reconnects.fetch_add(1);
            connected.store(true);
            const double backAt = now();
            if (listener) listener(SignalChange{false, backAt, backAt - lostAt, ""});
        }
    }

    static ReadResult interruptedRead() {
        ReadResult r;
        r.status = ReadStatus::Error;
        r.error = EINTR;
        return r;
    }
    static ReadResult failure(std::string message) {
        ReadResult r;
        r.status = ReadStatus::Error;
        r.message = std::move(message);
        return r;
    }
};

LiveSource::LiveSource(const std::string& url, LiveOptions options) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.url = url;
    s.options = std::move(options);
    double backoff = kFirstBackoff;
    std::string reason;
    for (;;) {
        try {
            s.decoder = s.open();
            break;
        } catch (const LastingSourceError&) {
            throw;
        } catch (const SourceError& e) {
            if (s.options.once || s.stopping()) throw;
            if (reason != e.what() && s.options.waiting) s.options.waiting(e.what());
            reason = e.what();
        }
        if (!s.pause(backoff)) throw SourceError("stopped while waiting for " + url);
        backoff = std::min(backoff * 2, s.options.maxBackoff);
    }
    s.origin = Clock::now();
    s.info = s.decoder->info();
    s.info.path = url;
    s.info.kind = "live";
    s.info.frameCount = -1;
    s.info.epoch = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const size_t frameBytes = static_cast<size_t>(s.info.width) * static_cast<size_t>(s.info.height);
    const size_t slots = std::clamp(kRingBytes / std::max<size_t>(frameBytes, 1), kMinRing, kMaxRing);
    s.ring.assign(slots, std::vector<uint8_t>(frameBytes));
    s.arrival.assign(slots, 0.0);
    s.incoming.resize(frameBytes);
    s.connected.store(true);
}

LiveSource::~LiveSource() {
    state_->quit.store(true);
    state_->changed.notify_all();
    if (state_->receiver.joinable()) state_->receiver.join();
}

const SourceInfo& LiveSource::info() const { return state_->info; }

void LiveSource::onSignalChange(std::function<void(const SignalChange&)> listener) {
    state_->listener = std::move(listener);
}

ReadResult LiveSource::next(uint8_t* luma) {
    State& s = *state_;
    if (!s.receiver.joinable() && !s.finished && s.options.frames != 0) {
        s.receiver = std::thread([&s] { s.receive(); });
    }
    std::unique_lock lock(s.mutex);
    if (s.options.frames >= 0 && s.delivered >= s.options.frames) {
        ReadResult end;
        end.status = ReadStatus::End;
        return end;
    }
    for (;;) {
        if (s.count > 0) {
            ++s.delivered;
            std::memcpy(luma, s.ring[s.head].data(), s.ring[s.head].size());
            ReadResult r;
            r.bytesRead = s.ring[s.head].size();
            r.seconds = s.arrival[s.head];
            s.head = (s.head + 1) % s.ring.size();
            --s.count;
            s.changed.notify_all();
            return r;
        }
        if (s.finished) return s.end;
        if (readsInterrupted()) return State::interruptedRead();
        s.changed.wait_for(lock, kPoll);
    }
}

int64_t LiveSource::droppedFrames() const { return state_->dropped.load(); }
int64_t LiveSource::damagedPackets() const { return state_->damagedPackets.load(); }
int64_t LiveSource::damagedFrames() const { return state_->damagedFrames.load(); }
int64_t LiveSource::reconnects() const { return state_->reconnects.load(); }
bool LiveSource::connected() const { return state_->connected.load(); }

}  // namespace nrvq
