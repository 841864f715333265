// The library log "Log.txt": UTF-8 with a byte-order mark, recreated when the log opens, each line
// starting with the milliseconds since the log opened, ":" and one tab per indent level, CR LF line
// ends. Every entry is appended at once (the file is opened and closed per entry, so the log
// survives a crash) and also handed to the debugger output. An entry that does not end with a line
// feed leaves its line open, and the next entry continues it.
#pragma once

#include "Main/DxThread.h"

namespace ZiDaz {

struct LogState {
    int opened;
    int outputOff;           // 1: nothing is written and no file is created
    int startTime;           // the millisecond clock when the file was created
    char16_t folder[1536];   // 3,072 bytes; empty until the first path is composed
    char16_t fileName[256];  // 512 bytes: "Log.txt"
    int indent;
    int lineOpen;  // 1 when the last entry did not end with a line feed
    TracedLock lock;
};

extern LogState LibraryLog;

// Text in the current NarrowEncoding.
int WriteLogText(const char* text);
// As WriteLogText; always -1 (the game's report of a failure).
int LogTextAndFail(const char* text);
int WriteLogTextCp932(const char* text);
int WriteLogTextUtf16(const char16_t* text);
int WriteLogTextWide(const char16_t* text);
// Also records code and text as the library's last error; -1 whenever code is nonzero.
int WriteLogTextUtf16WithError(int code, const char16_t* text);
// The formatted forms add a line feed.
int WriteLogFormatCp932(const char* format, ...);
// The form every module uses for its messages; "%s" takes a UTF-16 string.
int WriteLogFormatUtf16(const char16_t* format, ...);
int WriteLogFormatWide(const char16_t* format, ...);
int WriteLogFormatUtf16WithError(int code, const char16_t* format, ...);
int IncreaseLogIndent();
int DecreaseLogIndent();

// The writer behind every entry point; text in the WideEncoding (null counts as empty).
int WriteLogCore(int libraryMessage, int errorCode, const char16_t* text);
int OpenLogFile();
int CloseLogFile();
// Output is on until the first call; 0 switches it off (no file is created at all).
int EnableLogOutput(int flag);

// The log file on the system side: the folder (the current directory when the path is first
// composed), the file's creation with its byte-order mark, and the per-entry append.
int ComposeLogFilePath(char16_t* buffer, int bytes);
int CreateLogFile(const char16_t* path);
int AppendLogFile(const char16_t* path, const char16_t* text);

// The on-screen log area. No operation stores a line in it or shows it; it is only set up and torn
// down with the library.
int InitOnScreenLog();
int IsOnScreenLogUsable();
int IsOnScreenLogShown();
int EndOnScreenLog();

}  // namespace ZiDaz
