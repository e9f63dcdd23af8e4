#include "testing.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testing_support {

OwnedImage<Image> makeImage8(uint64_t w, uint64_t h) { return OwnedImage<Image>(callocImage(w, h)); }

OwnedImage<Image> makeImage8(uint64_t w, uint64_t h, std::initializer_list<int> samples) {
    if (samples.size() != w * h) throw std::invalid_argument("sample count does not match the image size");
    OwnedImage<Image> image(callocImage(w, h));
    uint64_t i = 0;
    for (int sample : samples) image->data[i++] = static_cast<uint8_t>(sample);
    return image;
}

OwnedImage<Image> makeImage8(uint64_t w, uint64_t h, const std::function<int(uint64_t, uint64_t)>& f) {
    OwnedImage<Image> image(callocImage(w, h));
    for (uint64_t y = 0; y < h; ++y) {
        for (uint64_t x = 0; x < w; ++x) image->data[y * w + x] = static_cast<uint8_t>(f(y, x));
    }
    return image;
}

OwnedImage<Image> randomImage8(uint64_t w, uint64_t h, uint64_t seed) {
    std::mt19937_64 random(seed);
    OwnedImage<Image> image(callocImage(w, h));
    for (uint64_t i = 0; i < w * h; ++i) image->data[i] = static_cast<uint8_t>(random() >> 56);
    return image;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "nrvq-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

RunResult runTool(const std::filesystem::path& dir, const std::vector<std::string>& args,
                  const std::string& shellPrefix, const std::string& stdinFrom) {
    static int counter = 0;
    const std::string tag = std::to_string(getpid()) + "-" + std::to_string(counter++);
    const std::filesystem::path outPath = std::filesystem::temp_directory_path() / ("nrvq-out-" + tag);
    const std::filesystem::path errPath = std::filesystem::temp_directory_path() / ("nrvq-err-" + tag);
    const bool piped = !stdinFrom.empty() && stdinFrom[0] == '|';
    std::string command = "cd " + shellQuote(dir.string()) + " && " + shellPrefix +
                          (piped ? " " + stdinFrom.substr(1) + " | " : " exec ") + shellQuote(NRVQ_BINARY);
    for (const std::string& arg : args) command += " " + shellQuote(arg);
    command += " >" + shellQuote(outPath.string()) + " 2>" + shellQuote(errPath.string());
    if (!piped) command += " <" + shellQuote(stdinFrom);
    const int raw = std::system(command.c_str());
    const RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(outPath), readFile(errPath)};
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

int shell(const std::filesystem::path& dir, const std::string& script) {
    const int raw = std::system(("cd " + shellQuote(dir.string()) + " && bash -c " + shellQuote(script)).c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::vector<clips::Plane> textureFrames(int32_t w, int32_t h, int count, int32_t dx, int32_t dy, uint32_t seed) {
    std::vector<clips::Plane> frames;
    for (int t = 0; t < count; ++t) frames.push_back(clips::texture(w, h, t, dx, dy, seed));
    return frames;
}

void writeRawClip(const std::filesystem::path& path, const std::vector<clips::Plane>& frames) {
    clips::ClipWriter writer(path.string());
    for (const clips::Plane& frame : frames) writer.write(frame);
    writer.close();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> splitFields(const std::string& row) {
    std::vector<std::string> fields;
    for (size_t at = row.find_first_not_of(" \t\n"); at != std::string::npos; at = row.find_first_not_of(" \t\n", at)) {
        const size_t end = row.find_first_of(" \t\n", at);
        fields.push_back(row.substr(at, end - at));
        at = end;
    }
    return fields;
}

std::vector<std::string> frameRows(const std::string& text) {
    std::vector<std::string> rows;
    for (const std::string& line : splitLines(text)) {
        if (line.size() > 5 && line[0] >= '0' && line[0] <= '9' && line.find('\t') != std::string::npos) {
            rows.push_back(line);
        }
    }
    return rows;
}

}  // namespace testing_support
