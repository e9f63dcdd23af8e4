// The command-line tool: parses the command line, opens the input and the
// outputs, runs the analysis and writes the report.
#pragma once

namespace nrvq::cli {

// Runs the whole tool (argv[0] is the program's name). Returns 0 after a
// complete run, 3 after a complete run in which a fatal event opened, 128 +
// the signal after a stop by SIGINT, SIGTERM or a closed standard output,
// and -1 after an early stop.
int runNrvq(int argc, char** argv);

}  // namespace nrvq::cli
