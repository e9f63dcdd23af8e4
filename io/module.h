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

}  // namespace nrvq
