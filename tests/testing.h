// Shared by the tests: images built from sample lists or functions,
// clips and files, temporary folders, and runs of the tool as a separate
// process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "clips/clip.h"
#include "tools/definitions.h"

namespace testing_support {

// A zero-filled 8-bit image owned by the test.
OwnedImage<Image> makeImage8(uint64_t w, uint64_t h);
// An 8-bit image holding the given samples, row after row.
OwnedImage<Image> makeImage8(uint64_t w, uint64_t h, std::initializer_list<int> samples);
// An 8-bit image whose sample at (row, column) is f(row, column).
OwnedImage<Image> makeImage8(uint64_t w, uint64_t h, const std::function<int(uint64_t, uint64_t)>& f);
// An 8-bit image of independent random samples.
OwnedImage<Image> randomImage8(uint64_t w, uint64_t h, uint64_t seed);

// A fresh folder that is removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int status = 0;  // exit status, 0 ... 255
    std::string out;
    std::string err;
};

// Runs the tool with the given arguments (not counting its name) in folder
// dir, capturing standard output and standard error. shellPrefix is shell
// text run before it in the same shell (a resource limit, say); stdinFrom
// is a file, relative to dir, for standard input, or "|command" to pipe
// that command's output into the tool.
RunResult runTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                  const std::string& shellPrefix = "", const std::string& stdinFrom = "/dev/null");

// Runs a bash script in folder dir; its exit status, or -1 if it was killed.
int shell(const std::filesystem::path& dir, const std::string& script);

// Frames 0 ... count - 1 of clips::texture(w, h, t, dx, dy, seed).
std::vector<clips::Plane> textureFrames(int32_t w, int32_t h, int count, int32_t dx = 2, int32_t dy = 1,
                                        uint32_t seed = 1);
// Writes the frames as a raw YUV 4:2:0 clip.
void writeRawClip(const std::filesystem::path& path, const std::vector<clips::Plane>& frames);
void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
std::vector<std::string> splitLines(const std::string& text);
// The fields of a row, separated by blanks and tabs.
std::vector<std::string> splitFields(const std::string& row);
// The frame rows among the lines of a run's output or log: those that start
// with a digit and hold a tab.
std::vector<std::string> frameRows(const std::string& text);

}  // namespace testing_support
