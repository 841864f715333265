// Shared fixture of the data-file tests: records what the readers show and report instead of
// showing it, keeps the program running after a damaged file, and gives each test its own
// folder.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

struct DataRecorder {
    static inline std::vector<std::string> messageBoxes;
    static inline std::vector<std::string> reports;
    static inline std::vector<int> exitCodes;
};

class DataFileTest : public ::testing::Test {
  protected:
    std::filesystem::path dir;

    void SetUp() override {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string& text, const std::string& caption) {
            DataRecorder::messageBoxes.push_back(caption + "|" + text);
        };
        s.reportRuntimeError = [](const std::string& a, const std::string& b,
                                  const std::string& c) {
            DataRecorder::reports.push_back(a + "|" + b + "|" + c);
        };
        s.scriptLocation = []() { return std::string("LOCATION"); };
        s.exitProgram = [](int code) { DataRecorder::exitCodes.push_back(code); };
        savedLanguage_ = UiLanguage;
        savedCharSet_ = GameCharSetIndex;
        UiLanguage = 0;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("velk_data_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
               std::to_string(::getpid()));
        StartCase();
    }

    // Starts one case of a table: nothing recorded, an empty folder.
    void StartCase() {
        DataRecorder::messageBoxes.clear();
        DataRecorder::reports.clear();
        DataRecorder::exitCodes.clear();
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }

    void TearDown() override {
        ResetDataFileServices();
        UiLanguage = savedLanguage_;
        GameCharSetIndex = savedCharSet_;
        std::filesystem::remove_all(dir);
    }

    std::string PathOf(const std::string& name) const { return (dir / name).string(); }

  private:
    std::int32_t savedLanguage_ = 0;
    std::int32_t savedCharSet_ = 1;
};
