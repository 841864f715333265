// The download command (an HTTP request handed to the download worker, or an address opened in
// the browser) and the file command (screenshots, folders, copies and deletes inside the game
// folder, and an extra wait of the frame loop). Every path they take stays inside the game
// folder.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/shell/DownloadWorker.h"

class Game_Interpreter;

inline constexpr std::int32_t kDownloadCode = 260;
inline constexpr std::int32_t kFileOperationCode = 1000;

bool CommandDownload(Game_Interpreter& interpreter);
bool CommandFileOperation(Game_Interpreter& interpreter);

// What the commands reach outside the script. By default the library and the download worker;
// tests may put doubles in. `openUrl` left null means no browser can be opened (nothing happens).
struct FileCommandServices {
    bool (*startDownload)(const DownloadRequest& request, std::int32_t* waitFlag);
    void (*openUrl)(const std::string& url);
    // The whole screen saved as JPEG (quality 85) or PNG (level 6); false on failure.
    bool (*saveScreenJpeg)(const std::string& name);
    bool (*saveScreenPng)(const std::string& name);
};
FileCommandServices& GetFileCommandServices();
void ResetFileCommandServices();

// Lets pictures showing a file load it again after a screenshot replaced it. The picture cache
// installs it; null does nothing.
extern void (*DropCachedPictureImageHook)(const std::string& name);

// Plugs both handlers into the dispatcher's table.
void InstallFileCommands();
