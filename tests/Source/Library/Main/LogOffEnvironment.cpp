// This test program runs without the library's log file.
#include "LogOffEnvironment.h"

VELK_TESTS_RUN_WITHOUT_LOG();
