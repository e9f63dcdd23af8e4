#include "cli/run.h"

int main(int argc, char** argv) { return nrvq::cli::runNrvq(argc, argv); }
