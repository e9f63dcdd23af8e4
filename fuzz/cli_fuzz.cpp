// Fuzz target: the command-line parser, on arguments split from the input at
// NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"nrvq"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    const nrvq::cli::ParseResult result = nrvq::cli::parseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (result.status == nrvq::cli::ParseResult::Ok) {
        // A parsed command line has a usable frame geometry.
        const auto& o = result.options;
        if (o.width && (*o.width <= 0 || !o.height || *o.height <= 0)) {
            __builtin_trap();
        }
    }
    return 0;
}
