#include "Main/Windows/DxSystemWin.h"

#include "Main/DxChar.h"

namespace ZiDaz {

LibrarySystemState LibrarySystem;

int RecordLastError(std::int32_t code, const char16_t* text) {
    LibrarySystem.lastErrorCode = code;
    if (text == nullptr) {
        LibrarySystem.lastErrorText[0] = 0;
    } else {
        if (WideEncoding == 0) EnsureDefaultCharCodes();
        CopyCodeStringBounded(WideEncoding, LibrarySystem.lastErrorText,
                              sizeof(LibrarySystem.lastErrorText), text);
    }
    return 0;
}

// Interim body until the main window and its message queue exist: there is nothing to drain and
// no quit message can arrive.
int PumpMessagesUnlocked() {
    return 0;
}

}  // namespace ZiDaz
