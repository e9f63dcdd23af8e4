// Shared modules that the library and the command line open on first need,
// so that a run which never uses them loads none of the libraries they
// bring in (FFmpeg's for decoding, an HTTP server's for --listen).
#pragma once

#include <string>

namespace nrvq {

// Opens the module `file` (kept open for the rest of the process) and
// returns the address of its function `entry`; nullptr with the reason in
// *why when it is not installed, cannot be loaded or lacks the entry.
// The module is looked for beside the running program (or the shared
// object that holds this library, a Python extension say), in lib/nrvq next
// to the program's bin folder, and in the library folder of the
// installation. `what` names it in messages ("the decoder module").
void* openModuleEntry(const char* file, const char* entry, const std::string& what, std::string* why);

// A module's table, or why there is none.
template <class Table>
struct LoadedModule {
    const Table* table = nullptr;
    std::string why;
};

// The table that the module's entry (a function taking nothing) returns,
// when ofThisBuild(table) holds: a module of another build of nrvq is
// refused, not called.
template <class Table, class Check>
LoadedModule<Table> loadModule(const char* file, const char* entry, const std::string& what, Check ofThisBuild) {
    LoadedModule<Table> loaded;
    using Entry = const Table* (*)();
    const auto address = reinterpret_cast<Entry>(openModuleEntry(file, entry, what, &loaded.why));
    if (address == nullptr) return loaded;
    const Table* table = address();
    if (table == nullptr || !ofThisBuild(*table)) {
        loaded.why = what + " " + file + " belongs to another build of nrvq";
        return loaded;
    }
    loaded.table = table;
    return loaded;
}

}  // namespace nrvq
