// Test programs run with the library's log switched off, so that no "Log.txt" appears in the
// folder the tests run in. The library's own default stays on; the log's tests switch it on for
// themselves in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include "Main/DxLog.h"

namespace velk::test {

class LogOffEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ZiDaz::EnableLogOutput(0); }
};

// One registration per test program: include this header from one source file of the program and
// define the registration there with VELK_TESTS_RUN_WITHOUT_LOG().
#define VELK_TESTS_RUN_WITHOUT_LOG()                                           \
    [[maybe_unused]] static ::testing::Environment* const kLogOffEnvironment = \
        ::testing::AddGlobalTestEnvironment(new ::velk::test::LogOffEnvironment)

}  // namespace velk::test
