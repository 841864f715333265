// The library-wide state record, the library's start, end and message pump, the end request, the
// last-error record, the fatal stop, the asynchronous-loading setting and the clipboard text.
#pragma once

#include <cstdint>

namespace ZiDaz {

struct LibrarySystemState {
    int initialised;   // 1 from the point of the start where the modules are up until the end
    int initialising;  // 1 while StartLibraryUnlocked runs
    // Exist for the modules that test them; nothing sets them, so every module takes its
    // ordinary path.
    int noWindow;
    int noGraphics;
    int noSound;
    int noInput;
    int skipDisplayChecks;          // skips the colour-depth and double-start checks; stays 0
    int endRequested;               // set by RequestLibraryEnd
    int asyncLoadEnabled;           // read through IsASyncLoadEnabled
    int lastErrorCode;              // a LibraryErrorCode stored by RecordLastError
    char16_t lastErrorText[4096];   // 8,192 bytes in the WideEncoding, always terminated
    char16_t startDirectory[1536];  // 3,072 bytes: the current folder when the library started
};

// The one instance; zero at program start.
extern LibrarySystemState LibrarySystem;

// LibraryErrorCode values.
inline constexpr std::int32_t kErrorColorDepth24 = 0x01010001;
inline constexpr std::int32_t kErrorDoubleStart = 0x01010002;
inline constexpr std::int32_t kErrorWindowCreation = 0x01010003;
inline constexpr std::int32_t kErrorLoadThreads = 0x01010004;
inline constexpr std::int32_t kErrorD3D9Object = 0x01020001;
inline constexpr std::int32_t kErrorDirectDrawObject = 0x01020002;
inline constexpr std::int32_t kErrorScreenColorMode = 0x01020003;
inline constexpr std::int32_t kErrorScreenModeChange = 0x01020004;

// The public entry points: 0 running (StartLibrary) / go on (PumpMessages), -1 failed / the quit
// message has arrived. StartLibrary returns 0 at once when the library is running; EndLibrary
// does nothing unless it is.
int StartLibrary();
int EndLibrary();
int PumpMessages();
// Their bodies, for callers already inside a library entry point.
int StartLibraryUnlocked();
int EndLibraryUnlocked();
// The message pump's body: 0 = go on, -1 = the window was closed or the library is ending.
int PumpMessagesUnlocked();

// RequestLibraryEnd (in DxBaseFunc.h) sets the end request; these read and clear it. Both 0.
int IsLibraryEndRequested();
int ClearLibraryEndRequest();

// Stores the code and a copy of the text (in the WideEncoding; null stores an empty text) as the
// library's last error. Only stored: nothing in the library reads them back. 0.
int RecordLastError(std::int32_t code, const char16_t* text);

// The fatal stop: logs the text and a line feed, ends the library and the process (exit code -1).
[[noreturn]] void AbortLibraryWithMessage(const char16_t* text);
// From UTF-16LE text (-1 when its conversion buffer cannot be had; otherwise it does not return).
int AbortLibraryWithMessageUtf16(const char16_t* text);
int AbortLibraryWithFormatUtf16(const char16_t* format, ...);

int IsASyncLoadEnabled();
int EnableASyncLoad(int flag);

// The clipboard's Unicode text. Read: -1 when it cannot be opened or holds no Unicode text; with
// a null buffer the text block's size in bytes plus one; else copies the text and returns 0. The
// caller sizes the buffer with the first call; a clipboard that changed in between is cut to the
// size it reported then. Write: 0, also when the clipboard could not be opened.
int ReadClipboardWideText(char16_t* buffer);
int WriteClipboardWideText(const char16_t* text);

}  // namespace ZiDaz
