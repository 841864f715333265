// A test fixture whose test runs in a folder of its own, which becomes the library log's folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Main/DxChar.h"
#include "Main/DxLog.h"

namespace ZiDaz {

class LogCaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        folder_ = std::filesystem::temp_directory_path() /
                  ("velk-log-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
        CloseLogFile();
        LibraryLog.folder[0] = 0;
        outputWasOff_ = LibraryLog.outputOff;
        EnableLogOutput(1);
        SetNarrowCharCode(CharEncoding::Utf8);
    }
    void TearDown() override {
        CloseLogFile();
        LibraryLog.folder[0] = 0;
        EnableLogOutput(outputWasOff_ ? 0 : 1);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }
    std::string LogBytes() const {
        std::ifstream in(folder_ / "Log.txt", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // The file with every line's "<milliseconds>:" prefix replaced by "T:".
    std::string Normalised() const {
        std::string bytes = LogBytes();
        std::string out;
        bool lineStart = true;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (lineStart) {
                if (bytes.compare(i, 3, "\xEF\xBB\xBF") == 0) {
                    out += bytes.substr(i, 3);
                    i += 2;
                    continue;
                }
                std::size_t end = i;
                while (end < bytes.size() && bytes[end] >= '0' && bytes[end] <= '9') ++end;
                if (end > i && end < bytes.size() && bytes[end] == ':') {
                    out += "T";
                    i = end;
                }
            }
            out += bytes[i];
            lineStart = bytes[i] == '\n';
        }
        return out;
    }
    std::filesystem::path previous_;
    std::filesystem::path folder_;
    int outputWasOff_ = 0;
};

}  // namespace ZiDaz
