// Test programs run with the library's log switched off, so that no "Log.txt" appears in the
// folder the tests run in. The library's own default stays on; the log's tests switch it on for
// themselves in a folder of their own.
#pragma once

#include <gtest/gtest.h>

#include "Main/DxChar.h"
#include "Main/DxLog.h"

namespace velk::test {

class LogOffEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { ZiDaz::EnableLogOutput(0); }
};

// The runtime's programs also hand the library UTF-8 paths and texts, as the player sets the
// library's narrow encoding to UTF-8 before anything else.
class RuntimeEnvironment : public LogOffEnvironment {
  public:
    void SetUp() override {
        LogOffEnvironment::SetUp();
        ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
    }
};

}  // namespace velk::test

// One registration per test program: include this header from one source file of the program and
// register there with one of these.
#define VELK_TESTS_RUN_WITHOUT_LOG()                                         \
    [[maybe_unused]] static ::testing::Environment* const kTestEnvironment = \
        ::testing::AddGlobalTestEnvironment(new ::velk::test::LogOffEnvironment)
#define VELK_TESTS_RUN_AS_THE_RUNTIME()                                      \
    [[maybe_unused]] static ::testing::Environment* const kTestEnvironment = \
        ::testing::AddGlobalTestEnvironment(new ::velk::test::RuntimeEnvironment)
