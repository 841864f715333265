// The library-wide state record.
#pragma once

#include <cstdint>

namespace ZiDaz {

struct LibrarySystemState {
    int endRequested;              // set by RequestLibraryEnd
    int lastErrorCode;             // a LibraryErrorCode stored by RecordLastError
    char16_t lastErrorText[4096];  // 8,192 bytes in the WideEncoding, always terminated
};

// The one instance; zero at program start.
extern LibrarySystemState LibrarySystem;

// Stores the code and a copy of the text (in the WideEncoding; null stores an empty text) as the
// library's last error. Only stored: nothing in the library reads them back. 0.
int RecordLastError(std::int32_t code, const char16_t* text);

// The message pump's body, for callers that already hold the library call lock: 0 = go on,
// nonzero = the quit message has arrived.
int PumpMessagesUnlocked();

}  // namespace ZiDaz
