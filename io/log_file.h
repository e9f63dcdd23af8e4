// Opening the results log safely: never the input itself, never a log that
// another run is writing, and emptied only once both are ruled out.
#pragma once

#include <cstdio>
#include <string>

namespace nrvq {

// Opens path for writing and locks it for the life of the stream. Throws
// OutputError (io/sink.h) when path is the input (inputPath, "-" for
// standard input) or another process holds the lock; both leave the file as
// it was. Returns null with errno set when the file cannot be created.
std::FILE* openResultsLog(const std::string& path, const std::string& inputPath);

}  // namespace nrvq
