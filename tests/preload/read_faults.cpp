// Preloaded into the tool by tests to make the reads of one file misbehave
// at a byte offset, as a failing disk or another program would:
//   NRVQ_FAULT_FILE   the file (the end of its path)
//   NRVQ_FAULT_AT     the offset
//   NRVQ_FAULT        "eio": reads of bytes from the offset on fail with EIO;
//                     "shrink": the first read that reaches past the offset
//                     cuts the file there first.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The path of fd when it is the file named by NRVQ_FAULT_FILE; "" otherwise.
bool faultyFile(int fd, char (&path)[PATH_MAX]) {
    const char* name = std::getenv("NRVQ_FAULT_FILE");
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = name == nullptr ? -1 : ::readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = '\0';
    const size_t length = std::strlen(name);
    return static_cast<size_t>(n) >= length && std::strcmp(path + n - length, name) == 0;
}

}  // namespace

// The bytes of a read of count bytes at offset at that may go through: all of
// them, fewer up to the offset of the fault, or -1 (EIO) past it.
static ssize_t allowed(int fd, off_t at, size_t count) {
    char path[PATH_MAX];
    const char* fault = std::getenv("NRVQ_FAULT");
    if (fault == nullptr || at < 0 || !faultyFile(fd, path)) return static_cast<ssize_t>(count);
    const off_t limit = std::atoll(std::getenv("NRVQ_FAULT_AT"));
    if (at + static_cast<off_t>(count) <= limit) return static_cast<ssize_t>(count);
    if (std::strcmp(fault, "eio") == 0) {
        if (at >= limit) {
            errno = EIO;
            return -1;
        }
        return static_cast<ssize_t>(limit - at);
    }
    return ::truncate(path, limit) == 0 ? static_cast<ssize_t>(count) : -1;
}

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    const ssize_t n = allowed(fd, ::lseek(fd, 0, SEEK_CUR), count);
    return n < 0 ? n : real(fd, buffer, static_cast<size_t>(n));
}

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    using Read = ssize_t (*)(int, void*, size_t, off_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "pread"));
    const ssize_t n = allowed(fd, offset, count);
    return n < 0 ? n : real(fd, buffer, static_cast<size_t>(n), offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) { return pread(fd, buffer, count, offset); }
