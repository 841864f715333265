// Helpers shared by the shell service tests: a scratch folder and a captured message box.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/ShellMessages.h"

namespace shell_test {

// A fresh folder removed with everything in it at the end; the current directory and the UI
// language are restored too.
class ScratchFolder {
  public:
    ScratchFolder() {
        char pattern[] = "/tmp/velk_shell_XXXXXX";
        path_ = mkdtemp(pattern);
        previous_ = std::filesystem::current_path();
        language_ = UiLanguage;
    }
    ~ScratchFolder() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(path_);
        UiLanguage = language_;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
    std::int32_t language_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Records the last message box while alive.
class MessageBoxCapture {
  public:
    MessageBoxCapture() : previous_(SetShellMessageBoxHandler(&Record)) {
        text() = u"";
        caption() = u"";
        count() = 0;
    }
    ~MessageBoxCapture() { SetShellMessageBoxHandler(previous_); }
    MessageBoxCapture(const MessageBoxCapture&) = delete;
    MessageBoxCapture& operator=(const MessageBoxCapture&) = delete;

    static std::u16string& text() {
        static std::u16string value;
        return value;
    }
    static std::u16string& caption() {
        static std::u16string value;
        return value;
    }
    static int& count() {
        static int value = 0;
        return value;
    }

  private:
    static void Record(const std::u16string& t, const std::u16string& c) {
        text() = t;
        caption() = c;
        ++count();
    }
    ShellMessageBoxHandler previous_;
};

}  // namespace shell_test
