// Finds and opens the decoder module on first need.
#include "io/decoder.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

namespace nrvq {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModuleFile = "nrvq-decoder.so";

#ifndef NRVQ_DECODER_BUILTIN
// Folders to look in, most specific first: beside the program and beside
// the shared object holding this code (a Python extension, say), then the
// installed layout relative to each, then the installation's own folder.
std::vector<fs::path> searchFolders() {
    std::vector<fs::path> homes;
    std::error_code ec;
    const fs::path program = fs::canonical("/proc/self/exe", ec);
    if (!ec) homes.push_back(program.parent_path());
    Dl_info here{};
    if (dladdr(reinterpret_cast<void*>(&searchFolders), &here) != 0 && here.dli_fname != nullptr &&
        std::string_view(here.dli_fname).find('/') != std::string_view::npos) {
        const fs::path object = fs::canonical(here.dli_fname, ec);
        if (!ec && object.parent_path() != program.parent_path()) homes.push_back(object.parent_path());
    }
    std::vector<fs::path> folders = homes;
    for (const fs::path& home : homes) folders.push_back((home / NRVQ_MODULE_FROM_BIN).lexically_normal());
    folders.emplace_back(NRVQ_MODULE_DIR);
    return folders;
}

struct Loaded {
    const DecoderModule* module = nullptr;
    std::string why;
};

Loaded load() {
    Loaded loaded;
    std::string looked;
    for (const fs::path& folder : searchFolders()) {
        const fs::path file = folder / kModuleFile;
        looked += "\n  " + file.string();
        std::error_code ec;
        if (!fs::exists(file, ec)) continue;
        // Kept open for the rest of the process: its sources outlive any
        // one call.
        void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* error = dlerror();
            loaded.why = "the decoder module " + file.string() + " cannot be loaded: " + (error ? error : "unknown error");
            return loaded;
        }
        using Entry = const DecoderModule* (*)();
        const auto entry = reinterpret_cast<Entry>(dlsym(handle, "nrvq_decoder_module"));
        const DecoderModule* module = entry != nullptr ? entry() : nullptr;
        if (module == nullptr || module->abi != kDecoderModuleAbi || module->optionsSize != sizeof(DecoderOptions) ||
            module->infoSize != sizeof(SourceInfo)) {
            loaded.why = "the decoder module " + file.string() + " belongs to another build of nrvq";
            return loaded;
        }
        loaded.module = module;
        return loaded;
    }
    loaded.why = "the decoder module " + std::string(kModuleFile) + " is not installed; looked for:" + looked;
    return loaded;
}
#endif

}  // namespace

const DecoderModule* decoderModule(std::string* why) {
#ifdef NRVQ_DECODER_BUILTIN
    (void)why;
    return nrvq_decoder_module();
#else
    static const Loaded loaded = load();
    if (why != nullptr) *why = loaded.why;
    return loaded.module;
#endif
}

std::unique_ptr<DecoderSource> openDecoderSource(const std::string& path, const DecoderOptions& options) {
    std::string why;
    const DecoderModule* module = decoderModule(&why);
    if (module == nullptr) throw SourceError("cannot decode " + path + ": " + why);
    return module->open(path, options);
}

bool looksLikeContainer(const std::string& path) {
    const DecoderModule* module = decoderModule();
    return module != nullptr && module->looksLikeContainer(path);
}

}  // namespace nrvq
