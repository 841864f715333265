// This test program runs as the runtime does (UTF-8 paths for the library) and without the
// library's log file.
#include "LogOffEnvironment.h"

VELK_TESTS_RUN_AS_THE_RUNTIME();
