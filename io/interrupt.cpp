#include "io/interrupt.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace nrvq {

namespace {

std::atomic<int> wakeRead{-1};
std::atomic<int> wakeWrite{-1};
std::atomic<bool> interrupted{false};

}  // namespace

void enableReadInterrupts() {
    if (wakeRead.load() >= 0) {
        return;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeWrite.store(fds[1]);
        wakeRead.store(fds[0]);
    }
}

void interruptReads() {
    interrupted.store(true);
    const int fd = wakeWrite.load();
    if (fd >= 0) {
        const int saved = errno;
        [[maybe_unused]] const ssize_t n = ::write(fd, "x", 1);
        errno = saved;
    }
}

bool readsInterrupted() { return interrupted.load(); }

bool waitReadable(int fd) {
    const int wake = wakeRead.load();
    if (wake < 0) {
        return true;
    }
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return true;  // the read itself reports the failure
        }
        if (fds[1].revents != 0) {
            errno = EINTR;
            return false;
        }
        if (fds[0].revents != 0) {
            return true;
        }
    }
}

}  // namespace nrvq
