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

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    char path[PATH_MAX];
    const char* fault = std::getenv("NRVQ_FAULT");
    if (fault != nullptr && faultyFile(fd, path)) {
        const off_t limit = std::atoll(std::getenv("NRVQ_FAULT_AT"));
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= 0 && at + static_cast<off_t>(count) > limit) {
            if (std::strcmp(fault, "eio") == 0) {
                if (at >= limit) {
                    errno = EIO;
                    return -1;
                }
                count = static_cast<size_t>(limit - at);
            } else if (::truncate(path, limit) != 0) {
                return -1;
            }
        }
    }
    return real(fd, buffer, count);
}
