#include "io/output_plan.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#include "io/sink.h"

namespace nrvq {

namespace fs = std::filesystem;

namespace {

// What a path names: a file by device and inode once it exists, else its
// absolute name with the folders' symbolic links resolved.
struct Identity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name;
    bool operator==(const Identity& o) const {
        return exists == o.exists && (exists ? dev == o.dev && ino == o.ino : name == o.name);
    }
};

std::string normalName(const std::string& path) {
    std::error_code error;
    const fs::path name = fs::weakly_canonical(fs::absolute(path, error), error);
    return error ? path : name.string();
}

std::optional<Identity> identityOf(const struct stat& s) { return Identity{true, s.st_dev, s.st_ino, ""}; }

std::string folderOf(const std::string& path) {
    const std::string folder = fs::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

[[noreturn]] void refuse(const PlannedOutput& output, const std::string& reason, int error = 0) {
    // The console rows are named by where they go.
    const std::string name = output.path == "-" && output.option.rfind("--", 0) != 0 ? "Standard output"
                                                                                       : output.option + " " + output.path;
    throw OutputError(name + ": " + reason, error);
}

std::string realPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// A zero-length write reports a device that can take nothing (/dev/full)
// without writing anything.
void probeDevice(const PlannedOutput& output, int fd) {
    struct stat s {};
    if (::fstat(fd, &s) == 0 && S_ISCHR(s.st_mode) && ::write(fd, "", 0) < 0) {
        const int error = errno;
        refuse(output, std::strerror(error), error);
    }
}

// The checks that need nothing opened: returns the output's identity.
Identity check(const PlannedOutput& output, const std::optional<Identity>& input, const std::string& inputName) {
    if (output.path.empty()) {
        throw OutputError("Invalid " + output.option + " \"\": expected a path");
    }
    if (output.path == "-") {
        // Standard output is the file or pipe it is connected to, so that
        // another output naming that (/dev/stdout, the file it was redirected
        // to) is seen to share it.
        struct stat out {};
        if (::fstat(STDOUT_FILENO, &out) == 0 && (S_ISREG(out.st_mode) || S_ISFIFO(out.st_mode))) {
            return *identityOf(out);
        }
        return Identity{false, 0, 0, "-"};
    }
    struct stat s {};
    if (::stat(output.path.c_str(), &s) == 0) {
        if (S_ISDIR(s.st_mode)) {
            refuse(output, "is a folder; give the path of a file");
        }
        if (input && *identityOf(s) == *input) {
            refuse(output, "is the input itself; give another path");
        }
        if (::access(output.path.c_str(), W_OK) != 0) {
            refuse(output, std::string("cannot be written: ") + std::strerror(errno));
        }
        const std::string folder = folderOf(realPath(output.path));
        if (output.mode == WriteMode::WholeFile && S_ISREG(s.st_mode) && ::access(folder.c_str(), W_OK | X_OK) != 0) {
            refuse(output, "cannot create a file in the folder " + folder + ": " + std::strerror(errno));
        }
        return *identityOf(s);
    }
    if (errno != ENOENT) {
        refuse(output, std::strerror(errno));
    }
    struct stat link {};
    if (::lstat(output.path.c_str(), &link) == 0) {
        refuse(output, "is a symbolic link to a missing file");
    }
    const std::string folder = folderOf(output.path);
    struct stat f {};
    if (::stat(folder.c_str(), &f) != 0) {
        refuse(output, "the folder " + folder + " does not exist");
    }
    if (!S_ISDIR(f.st_mode)) {
        refuse(output, folder + " is not a folder");
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        refuse(output, "cannot create a file in the folder " + folder + ": " + std::strerror(errno));
    }
    Identity identity{false, 0, 0, normalName(output.path)};
    if (identity.name == inputName) {
        refuse(output, "is the input itself; give another path");
    }
    return identity;
}

}  // namespace

PreparedOutput::~PreparedOutput() {
    if (ownsFd_ && fd_ >= 0) {
        ::close(fd_);
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
    }
    if (created_) {
        ::unlink(target_.c_str());
    }
}

int PreparedOutput::release() {
    ownsFd_ = false;
    return fd_;
}

void PreparedOutput::commit() {
    if (ownsFd_) {
        ownsFd_ = false;
        if (::close(fd_) != 0) {
            const int error = errno;
            throw OutputError("Cannot write " + option_ + " " + path_ + ": " + std::strerror(error), error);
        }
    }
    if (!temporary_.empty()) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            throw OutputError("Cannot write " + option_ + " " + path_ + ": " + std::strerror(error), error);
        }
        temporary_.clear();
    }
}

std::vector<std::unique_ptr<PreparedOutput>> prepareOutputs(const std::vector<PlannedOutput>& outputs,
                                                            const std::string& inputPath) {
    struct stat in {};
    std::optional<Identity> input;
    if (inputPath == "-" ? ::fstat(STDIN_FILENO, &in) == 0 : ::stat(inputPath.c_str(), &in) == 0) {
        input = identityOf(in);
    }
    const std::string inputName = inputPath == "-" ? std::string() : normalName(inputPath);

    // Every check first. Standard output takes the rows or an output on "-":
    // never the input's bytes.
    struct stat out {};
    if (input && ::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && *identityOf(out) == *input) {
        throw OutputError("Standard output is the input itself; send it elsewhere");
    }
    std::vector<Identity> identities;
    for (size_t i = 0; i < outputs.size(); ++i) {
        identities.push_back(check(outputs[i], input, inputName));
        for (size_t j = 0; j < i; ++j) {
            if (identities[j] == identities[i]) {
                refuse(outputs[i], outputs[j].option + " writes there too; give each output its own path");
            }
        }
    }

    // Then the files: whole files into temporaries (or devices written in
    // place), then the streaming ones, locked; emptied only at the very end.
    std::vector<std::unique_ptr<PreparedOutput>> prepared(outputs.size());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const WriteMode mode : {WriteMode::WholeFile, WriteMode::Streaming}) {
        for (size_t i = 0; i < outputs.size(); ++i) {
            const PlannedOutput& output = outputs[i];
            if (output.mode != mode) {
                continue;
            }
            prepared[i].reset(new PreparedOutput(output.option, output.path));
            PreparedOutput& p = *prepared[i];
            if (output.path == "-") {
                p.fd_ = STDOUT_FILENO;
                probeDevice(output, STDOUT_FILENO);
                continue;
            }
            struct stat s {};
            const bool exists = ::stat(output.path.c_str(), &s) == 0;
            p.target_ = exists ? realPath(output.path) : output.path;
            if (mode == WriteMode::WholeFile && (!exists || S_ISREG(s.st_mode))) {
                std::string name = (fs::path(folderOf(p.target_)) /
                                    ("." + fs::path(p.target_).filename().string() + ".XXXXXX")).string();
                const int fd = ::mkostemp(name.data(), O_CLOEXEC);
                if (fd < 0) {
                    const int error = errno;
                    refuse(output, "cannot create a file in the folder " + folderOf(p.target_) + ": " +
                                       std::strerror(error), error);
                }
                p.fd_ = fd;
                p.ownsFd_ = true;
                p.temporary_ = name;
                ::fchmod(fd, exists ? (s.st_mode & 07777) : (0666 & ~mask));
                continue;
            }
            // Not O_TRUNC: a refused run must leave the file as it was. A FIFO
            // is opened without waiting for its reader, which must be there.
            const bool fifo = exists && S_ISFIFO(s.st_mode);
            const int fd = ::open(output.path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fifo ? O_NONBLOCK : 0), 0666);
            if (fd < 0) {
                const int error = errno;
                refuse(output, error == ENXIO && fifo ? std::string("is a FIFO that no program reads; start its reader first")
                                                      : std::string("cannot be created: ") + std::strerror(error),
                       error);
            }
            if (fifo) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            }
            p.fd_ = fd;
            p.ownsFd_ = true;
            p.created_ = !exists;
            struct stat now {};
            if (input && ::fstat(fd, &now) == 0 && *identityOf(now) == *input) {
                refuse(output, "is the input itself; give another path");
            }
            probeDevice(output, fd);
            if (mode == WriteMode::Streaming && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                const int error = errno;
                refuse(output, error == EWOULDBLOCK ? "is being written by another run; give another path with " +
                                                          output.option
                                                    : std::string("cannot be locked: ") + std::strerror(error));
            }
        }
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        PreparedOutput& p = *prepared[i];
        struct stat s {};
        if (outputs[i].mode == WriteMode::Streaming && !p.toStandardOutput() && ::fstat(p.fd_, &s) == 0 &&
            S_ISREG(s.st_mode) && ::ftruncate(p.fd_, 0) != 0) {
            refuse(outputs[i], std::string("cannot be emptied: ") + std::strerror(errno));
        }
    }
    for (auto& p : prepared) {
        p->created_ = false;
    }
    return prepared;
}

// ---- OutputFile ----------------------------------------------------------------

OutputFile::OutputFile(PreparedOutput& target, const std::string& what) : what_(what + " " + target.path()) {
    if (target.toStandardOutput()) {
        file_ = stdout;
        what_ = what + " on standard output";
        return;
    }
    file_ = ::fdopen(target.fd(), "w");
    if (file_ == nullptr) {
        throw OutputError("Cannot write " + what_ + ": " + std::strerror(errno), errno);
    }
    target.release();
    owned_ = true;
}

OutputFile::~OutputFile() {
    if (owned_ && file_ != nullptr) {
        std::fclose(file_);
    }
}

void OutputFile::fail(int error) { throw OutputError("Cannot write " + what_ + ": " + std::strerror(error), error); }

void OutputFile::write(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
        fail(errno);
    }
}

void OutputFile::flush() {
    if (std::fflush(file_) != 0) {
        fail(errno);
    }
}

void OutputFile::close() {
    flush();
    if (owned_) {
        std::FILE* file = std::exchange(file_, nullptr);
        owned_ = false;
        if (std::fclose(file) != 0) {
            fail(errno);
        }
    }
}

// ---- WholeFileOutput -----------------------------------------------------------

void WholeFileOutput::finish(const RunSummary&) {
    write(file_);
    file_.close();
}

}  // namespace nrvq
