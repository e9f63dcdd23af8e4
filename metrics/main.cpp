#include "metrics/driver.h"

int main(int argc, char** argv) { return runNrvq(argc, argv); }
