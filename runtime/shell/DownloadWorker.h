// The download worker: one HTTP request (or file download) at a time, run off the main thread and
// polled every frame, its received text written to a string variable.
//
// Until the worker itself is built, a request ends at once as failed: the state reads -1, the
// waiting interpreter is released, and nothing is written.
#pragma once

#include <cstdint>
#include <string>

struct DownloadRequest {
    std::string url;
    // Folder or file, relative to the game folder.
    std::string path;
    std::int32_t flag = 0;
    // The string variable that receives the text (0 or less for none).
    std::int32_t resultVariable = 0;
    bool post = false;
    std::string body;
    // The received text is in the game's code page (else UTF-8).
    bool codePageText = true;
};

// 0 idle, 1 running, 2 finished, -1 failed.
extern std::int32_t DownloadState;

// False when a request is still running; otherwise the request starts and `waitFlag` (when
// given) stays set until it finishes.
bool StartDownload(const DownloadRequest& request, std::int32_t* waitFlag);
