#include "io/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/sink.h"

namespace nrvq {

std::FILE* openResultsLog(const std::string& path, const std::string& inputPath) {
    // Not O_TRUNC: the checks below come before anything is emptied.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    const auto fail = [fd](const std::string& message) {
        ::close(fd);
        throw OutputError(message);
    };
    struct stat log {};
    struct stat input {};
    const int inputStatus = inputPath == "-" ? ::fstat(STDIN_FILENO, &input) : ::stat(inputPath.c_str(), &input);
    if (::fstat(fd, &log) == 0 && inputStatus == 0 && log.st_dev == input.st_dev && log.st_ino == input.st_ino) {
        fail("The log " + path + " is the input itself; give another path with --log, or --no-log");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            fail("The log " + path + " is being written by another run; give another path with --log, or --no-log");
        }
        fail("Cannot lock the log " + path + ": " + std::strerror(errno));
    }
    if (S_ISREG(log.st_mode) && ::ftruncate(fd, 0) != 0) {
        fail("Cannot empty the log " + path + ": " + std::strerror(errno));
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        fail("Cannot open the log " + path + ": " + std::strerror(errno));
    }
    return file;
}

}  // namespace nrvq
