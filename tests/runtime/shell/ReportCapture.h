// Records runtime-error reports instead of logging, showing and waiting, with the game running
// (reports are made only then) and the UI in Japanese, for tests of code that reports.
#pragma once

#include <string>
#include <vector>

#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"

namespace shell_test {

struct CapturedReport {
    std::string first, second, third;
    bool operator==(const CapturedReport&) const = default;
};

class ReportCapture {
  public:
    ReportCapture()
        : previousHook_(SetRuntimeErrorCaptureHook(&Record)),
          previousState_(TheGameSystem.gameState),
          previousLanguage_(UiLanguage) {
        reports().clear();
        TheGameSystem.gameState = GameState::Run;
        UiLanguage = 0;
    }
    ~ReportCapture() {
        SetRuntimeErrorCaptureHook(previousHook_);
        TheGameSystem.gameState = previousState_;
        UiLanguage = previousLanguage_;
    }
    ReportCapture(const ReportCapture&) = delete;
    ReportCapture& operator=(const ReportCapture&) = delete;

    static std::vector<CapturedReport>& reports() {
        static std::vector<CapturedReport> value;
        return value;
    }

  private:
    static void Record(const std::string& a, const std::string& b, const std::string& c) {
        reports().push_back({a, b, c});
    }
    RuntimeErrorCaptureHook previousHook_;
    GameState previousState_;
    std::int32_t previousLanguage_;
};

}  // namespace shell_test
