// TrueType fixtures made at test time by tools/fonts/make-test-font.py (fontTools), and the
// installed fonts the font tests compare against.
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

extern char** environ;

namespace velk::test {

// Writes a font described by the script's JSON into path; false when the tool failed.
inline bool MakeTestFont(const std::string& path, const std::string& json) {
    std::string python = VELK_FONT_PYTHON, tool = VELK_FONT_TOOL;
    char* argv[] = {python.data(), tool.data(), const_cast<char*>(path.c_str()),
                    const_cast<char*>(json.c_str()), nullptr};
    pid_t pid;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && std::filesystem::exists(path);
}

// A folder of this test process for fixture fonts.
inline std::string FontFixtureFolder() {
    struct Folder {
        std::string path;
        Folder() {
            auto dir = std::filesystem::temp_directory_path() /
                       ("velk-font-fixtures-" + std::to_string(::getpid()));
            std::filesystem::create_directories(dir);
            path = dir.string();
        }
        ~Folder() {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
    };
    static Folder folder;
    return folder.path;
}

inline constexpr const char* kIpaGothicFile = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";
inline constexpr const char* kLiberationSansFile =
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

}  // namespace velk::test
