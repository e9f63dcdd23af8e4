#include "io/module.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

namespace nrvq {
namespace {

namespace fs = std::filesystem;

// Folders to look in, most specific first: beside the program and beside
// the shared object holding this code, then the installed layout relative
// to each, then the installation's own folder.
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

}  // namespace

void* openModuleEntry(const char* file, const char* entry, const std::string& what, std::string* why) {
    std::string looked;
    for (const fs::path& folder : searchFolders()) {
        const fs::path path = folder / file;
        looked += "\n  " + path.string();
        std::error_code ec;
        if (!fs::exists(path, ec)) continue;
        // Kept open for the rest of the process: what it hands out may
        // outlive any one call.
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* error = dlerror();
            *why = what + " " + path.string() + " cannot be loaded: " + (error ? error : "unknown error");
            return nullptr;
        }
        void* address = dlsym(handle, entry);
        if (address == nullptr) *why = what + " " + path.string() + " belongs to another build of nrvq";
        return address;
    }
    *why = what + " " + file + " is not installed; looked for:" + looked;
    return nullptr;
}

}  // namespace nrvq
