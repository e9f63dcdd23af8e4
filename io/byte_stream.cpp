#include "io/byte_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "io/input.h"
#include "io/interrupt.h"

namespace nrvq {

namespace {

constexpr size_t kBufferSize = 1 << 16;

}  // namespace

ByteStream::ByteStream(const std::string& path) : path_(path), buffer_(kBufferSize) {
    if (path == "-") {
        fd_ = STDIN_FILENO;
        ownsFd_ = false;
    } else {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            throw InputError("Error opening the file " + path + ": " + std::strerror(errno) + " ",
                             InputError::CannotOpen);
        }
    }
    const std::string name = path == "-" ? std::string("Standard input") : path;
    if (::fstat(fd_, &stat_) != 0) {
        const int error = errno;
        if (ownsFd_) {
            ::close(fd_);
        }
        throw InputError("Error opening the file " + path + ": " + std::strerror(error) + " ",
                         InputError::CannotOpen);
    }
    const auto refuse = [&](const std::string& what) {
        if (ownsFd_) {
            ::close(fd_);
        }
        throw InputError(name + " " + what);
    };
    if (S_ISDIR(stat_.st_mode)) {
        refuse("is a directory, not a video file");
    }
    if (S_ISREG(stat_.st_mode)) {
        seekable_ = true;
    } else if (!S_ISFIFO(stat_.st_mode) && !S_ISSOCK(stat_.st_mode)) {
        refuse("is neither a regular file nor a pipe (a terminal or a device cannot be measured)");
    }
}

bool ByteStream::shrunk() const {
    struct stat now {};
    return seekable_ && ::fstat(fd_, &now) == 0 && now.st_size < stat_.st_size;
}

ByteStream::~ByteStream() {
    if (ownsFd_ && fd_ >= 0) {
        ::close(fd_);
    }
}

size_t ByteStream::fill() {
    // Moves what is left to the front, then reads until the buffer is full or
    // the input ends; from a pipe only what one read gives, so that frames
    // that have arrived are not held back waiting for more.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    while (end_ < buffer_.size() && !eof_ && error_ == 0) {
        if (!seekable_ && !waitReadable(fd_)) {
            error_ = EINTR;
            break;
        }
        const ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error_ = errno;
        } else if (n == 0) {
            eof_ = true;
        } else {
            end_ += static_cast<size_t>(n);
            if (!seekable_) {
                break;
            }
        }
    }
    return end_ - begin_;
}

std::span<const uint8_t> ByteStream::peek(size_t count) {
    count = std::min(count, buffer_.size());
    while (end_ - begin_ < count && !eof_ && error_ == 0) {
        fill();
    }
    return {buffer_.data() + begin_, std::min(count, end_ - begin_)};
}

size_t ByteStream::read(uint8_t* out, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (begin_ < end_) {
            const size_t n = std::min(count - done, end_ - begin_);
            std::memcpy(out + done, buffer_.data() + begin_, n);
            begin_ += n;
            done += n;
            continue;
        }
        if (eof_ || error_ != 0) {
            break;
        }
        if (count - done >= buffer_.size()) {
            // Large reads go straight to the caller's memory.
            if (!seekable_ && !waitReadable(fd_)) {
                error_ = EINTR;
                break;
            }
            const ssize_t n = ::read(fd_, out + done, count - done);
            if (n < 0) {
                if (errno != EINTR) {
                    error_ = errno;
                }
            } else if (n == 0) {
                eof_ = true;
            } else {
                done += static_cast<size_t>(n);
            }
        } else {
            begin_ = end_ = 0;
            fill();
        }
    }
    position_ += static_cast<int64_t>(done);
    return done;
}

bool ByteStream::seek(int64_t offset) {
    const off_t reached = ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET);
    if (reached < 0 || reached != static_cast<off_t>(offset)) {
        error_ = reached < 0 ? errno : EINVAL;
        return false;
    }
    begin_ = end_ = 0;
    eof_ = false;
    position_ = offset;
    return true;
}

size_t ByteStream::readAt(int64_t offset, uint8_t* out, size_t count, int* error) const {
    size_t done = 0;
    int failure = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd_, out + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failure = errno;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (error != nullptr) {
        *error = failure;
    }
    return done;
}

int64_t ByteStream::skip(int64_t count) {
    if (count <= 0) {
        return 0;
    }
    if (seekable_) {
        return seek(position_ + count) ? count : 0;
    }
    int64_t done = 0;
    while (done < count) {
        if (begin_ == end_ && fill() == 0) {
            break;
        }
        const size_t n = static_cast<size_t>(std::min<int64_t>(count - done, static_cast<int64_t>(end_ - begin_)));
        begin_ += n;
        done += static_cast<int64_t>(n);
    }
    position_ += done;
    return done;
}

}  // namespace nrvq
