#include "io/progress.h"

namespace nrvq {

namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

}  // namespace

void ProgressLine::start(int64_t total) {
    total_ = total;
    done_ = 0;
    started_ = Clock::now();
    drawn_ = started_ - kRedrawInterval;  // the first frame shows the line at once
}

void ProgressLine::advance() {
    ++done_;
    const Clock::time_point now = Clock::now();
    if (now - drawn_ < kRedrawInterval) {
        return;
    }
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0.0;
    char line[128];
    int n = 0;
    if (total_ > 0) {
        const double left = rate > 0 && total_ > done_ ? static_cast<double>(total_ - done_) / rate : 0.0;
        const long long whole = static_cast<long long>(left + 0.5);
        n = std::snprintf(line, sizeof line, "\r\033[Kframe %lld of %lld (%.0f%%), %.1f fps, %lld:%02lld left",
                          static_cast<long long>(done_), static_cast<long long>(total_),
                          100.0 * static_cast<double>(done_) / static_cast<double>(total_), rate, whole / 60,
                          whole % 60);
    } else {
        n = std::snprintf(line, sizeof line, "\r\033[Kframe %lld, %.1f fps", static_cast<long long>(done_), rate);
    }
    // A line the terminal cannot take is not worth stopping the run for.
    std::fwrite(line, 1, static_cast<size_t>(n), out_);
    std::fflush(out_);
    shown_ = true;
}

void ProgressLine::clear() {
    if (shown_) {
        std::fputs("\r\033[K", out_);
        std::fflush(out_);
        shown_ = false;
    }
}

}  // namespace nrvq
