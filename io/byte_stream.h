// An input opened for reading: a file, a pipe or standard input. Reads come
// through a buffer so that the first bytes can be looked at before a reader
// is chosen, and a pipe can then be read from its very first byte.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nrvq {

class ByteStream {
public:
    // Opens path ("-": standard input). Throws InputError (io/input.h) when
    // it cannot be opened, is a directory, or is neither a regular file nor
    // a pipe.
    explicit ByteStream(const std::string& path);
    ~ByteStream();
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    const std::string& path() const { return path_; }
    // A regular file: it has a size and can be positioned.
    bool seekable() const { return seekable_; }
    // Size in bytes of a seekable input; -1 for a pipe.
    int64_t size() const { return seekable_ ? static_cast<int64_t>(stat_.st_size) : -1; }
    // A seekable input that is now smaller than when it was opened: cut
    // short by another program while it was read.
    bool shrunk() const;
    // Device and inode, to tell whether another path names the same file.
    const struct stat& status() const { return stat_; }

    // The first bytes (up to count), without consuming them. Only before
    // anything has been read; valid until the next read.
    std::span<const uint8_t> peek(size_t count);

    // Reads up to count bytes; fewer only at the end of the input. Returns
    // the number read; sets error() (an errno) and returns what arrived when
    // the read fails.
    size_t read(uint8_t* out, size_t count);
    // Skips count bytes: positions a seekable input, reads and drops bytes of
    // a pipe. Returns the bytes skipped (fewer at the end of a pipe). A
    // failed positioning sets error().
    int64_t skip(int64_t count);
    // Positions a seekable input at offset from its start; false (with
    // error() set) when the system refuses.
    bool seek(int64_t offset);
    // Reads up to count bytes at offset of a seekable input without moving
    // its position: the number read, fewer at the end of the input or when a
    // read fails (its errno then in *error when error is given; 0 otherwise).
    // Several threads may read at once; it changes nothing of the stream.
    size_t readAt(int64_t offset, uint8_t* out, size_t count, int* error = nullptr) const;
    // Offset of the next byte to be read, counted from the start.
    int64_t position() const { return position_; }
    int error() const { return error_; }

private:
    size_t fill();
    std::string path_;
    int fd_ = -1;
    bool ownsFd_ = true;
    bool seekable_ = false;
    struct stat stat_ {};
    std::vector<uint8_t> buffer_;  // bytes read ahead, from begin_ to end_
    size_t begin_ = 0;
    size_t end_ = 0;
    int64_t position_ = 0;
    int error_ = 0;
    bool eof_ = false;
};

}  // namespace nrvq
