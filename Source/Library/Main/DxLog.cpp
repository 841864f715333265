#include "Main/DxLog.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxLogWin.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

LogState LibraryLog;

namespace {

constexpr const char* kSourceFile = "DxLog";
constexpr int kStackUnits = 512;

int CountUnits16(const char16_t* text) {
    int units = 0;
    while (text[units] != 0) ++units;
    return units;
}

std::mutex& OpeningMutex() {
    static std::mutex mutex;
    return mutex;
}

void EnsureEncodings() {
    if (NarrowEncoding == 0 || WideEncoding == 0) EnsureDefaultCharCodes();
}

// Converts text of the given encoding to the WideEncoding and hands it to WriteLogCore: in a stack
// buffer of 512 units when the text is short, else in a tracked block.
int WriteConverted(int libraryMessage, int errorCode, const void* text, int encoding) {
    EnsureEncodings();
    int wide = WideEncoding;
    if (text == nullptr || encoding == wide) {
        return WriteLogCore(libraryMessage, errorCode, static_cast<const char16_t*>(text));
    }
    int length = CountCodeStringUnits(encoding, text);
    char16_t stackBuffer[kStackUnits];
    char16_t* buffer = stackBuffer;
    int bytes = static_cast<int>(sizeof(stackBuffer));
    if (length + 16 > kStackUnits) {
        bytes = length * 2 + 32;
        buffer = static_cast<char16_t*>(
            AllocateTrackedMemory(static_cast<std::size_t>(bytes), kSourceFile, __LINE__));
        if (buffer == nullptr) {
            if (errorCode != 0) RecordLastError(errorCode, nullptr);
            return -1;
        }
    }
    TranscodeString(text, -1, encoding, buffer, bytes, wide);
    int result = WriteLogCore(libraryMessage, errorCode, buffer);
    if (buffer != stackBuffer) FreeTrackedMemory(buffer);
    return result;
}

// Appends the decimal digits of a non-negative value.
int AppendDecimal(char16_t* out, int value) {
    char16_t digits[12];
    int count = 0;
    unsigned int v = value < 0 ? 0u : static_cast<unsigned int>(value);
    do {
        digits[count++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (int i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    return count;
}

int FormatUtf16Entry(int errorCode, const char16_t* format, va_list arguments) {
    EnsureEncodings();
    char16_t buffer[1024];
    FormatCodeStringV(CharEncoding::Utf16Le, 1, NarrowEncoding, CharEncoding::Utf16Le, buffer, 1024,
                      format, arguments);
    AppendCodeStringBounded(CharEncoding::Utf16Le, buffer, 2048, u"\n");
    return WriteConverted(1, errorCode, buffer, CharEncoding::Utf16Le);
}

}  // namespace

int WriteLogCore(int, int errorCode, const char16_t* text) {
    if (errorCode != 0) RecordLastError(errorCode, text);
    if (LibraryLog.outputOff != 0) return errorCode != 0 ? -1 : 0;
    if (LibraryLog.opened == 0 && OpenLogFile() != 0) return -1;
    if (text == nullptr) text = u"";

    // Both blocks are taken before the log's lock: the allocator writes to the log while it holds
    // its own lock, so allocating inside ours could deadlock against it.
    int length = CountUnits16(text);
    int indent = LibraryLog.indent;
    // Room for the time prefix, the tabs and every line feed doubled.
    long long capacity = static_cast<long long>(indent) + 2LL * (length + 8) + 1;
    long long utf8Bytes = capacity * 3 + 8;
    char16_t stackBuffer[1024];
    std::uint8_t stackUtf8[1024 * 3 + 8];
    char16_t* buffer = stackBuffer;
    std::uint8_t* utf8 = stackUtf8;
    if (capacity > 1024) {
        buffer = static_cast<char16_t*>(AllocateTrackedMemory(
            static_cast<std::size_t>(capacity) * sizeof(char16_t), kSourceFile, __LINE__));
        utf8 = static_cast<std::uint8_t*>(
            AllocateTrackedMemory(static_cast<std::size_t>(utf8Bytes), kSourceFile, __LINE__));
        if (buffer == nullptr || utf8 == nullptr) {
            FreeTrackedMemory(buffer);
            FreeTrackedMemory(utf8);
            return -1;
        }
    }

    AcquireTracedLock(&LibraryLog.lock, kSourceFile, __LINE__);
    int out = 0;
    if (LibraryLog.lineOpen == 0) {
        out += AppendDecimal(buffer,
                             MillisecondsElapsed(ReadMillisecondClock(), LibraryLog.startTime));
        buffer[out++] = u':';
        // The indent may have been raised since it was read (it changes without the lock).
        int tabs = LibraryLog.indent < indent ? LibraryLog.indent : indent;
        for (int i = 0; i < tabs; ++i) buffer[out++] = u'\t';
    }
    for (int i = 0; i < length; ++i) {
        char16_t c = text[i];
        if (c == u'\n') {
            if (i > 0 && text[i - 1] == u'\r') {
                // The entry already carries CR LF: the rest goes out unchanged.
                for (; i < length; ++i) buffer[out++] = text[i];
                break;
            }
            buffer[out++] = u'\r';
        }
        buffer[out++] = c;
    }
    buffer[out] = 0;
    LibraryLog.lineOpen = out == 0 || buffer[out - 1] != u'\n' ? 1 : 0;

    char16_t path[1536];
    ComposeLogFilePath(path, static_cast<int>(sizeof(path)));
    AppendLogFileInto(path, buffer, utf8, static_cast<int>(utf8Bytes));
    ReleaseTracedLock(&LibraryLog.lock);
    if (buffer != stackBuffer) {
        FreeTrackedMemory(buffer);
        FreeTrackedMemory(utf8);
    }
    return errorCode != 0 ? -1 : 0;
}

int WriteLogText(const char* text) {
    return WriteConverted(0, 0, text, NarrowEncoding);
}

int LogTextAndFail(const char* text) {
    WriteLogText(text);
    return -1;
}

int WriteLogTextCp932(const char* text) {
    return WriteConverted(1, 0, text, CharEncoding::ShiftJis);
}

int WriteLogTextUtf16(const char16_t* text) {
    return WriteConverted(1, 0, text, CharEncoding::Utf16Le);
}

int WriteLogTextWide(const char16_t* text) {
    return WriteLogCore(1, 0, text);
}

int WriteLogTextUtf16WithError(int code, const char16_t* text) {
    return WriteConverted(1, code, text, CharEncoding::Utf16Le);
}

int WriteLogFormatCp932(const char* format, ...) {
    EnsureEncodings();
    char buffer[2048];
    va_list arguments;
    va_start(arguments, format);
    FormatCodeStringV(CharEncoding::ShiftJis, 0, CharEncoding::ShiftJis, WideEncoding, buffer, 2048,
                      format, arguments);
    va_end(arguments);
    AppendCodeStringBounded(CharEncoding::ShiftJis, buffer, 2048, "\n");
    return WriteLogTextCp932(buffer);
}

int WriteLogFormatUtf16(const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = FormatUtf16Entry(0, format, arguments);
    va_end(arguments);
    return result;
}

int WriteLogFormatWide(const char16_t* format, ...) {
    EnsureEncodings();
    char16_t buffer[2048];
    va_list arguments;
    va_start(arguments, format);
    FormatWideStringV(buffer, 2048, format, arguments);
    va_end(arguments);
    AppendCodeStringBounded(WideEncoding, buffer, 4096, u"\n");
    return WriteLogCore(1, 0, buffer);
}

int WriteLogFormatUtf16WithError(int code, const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int result = FormatUtf16Entry(code, format, arguments);
    va_end(arguments);
    return result;
}

int IncreaseLogIndent() {
    ++LibraryLog.indent;
    return 0;
}

int DecreaseLogIndent() {
    if (LibraryLog.indent > 0) --LibraryLog.indent;
    return 0;
}

int OpenLogFile() {
    if (__atomic_load_n(&LibraryLog.opened, __ATOMIC_ACQUIRE) != 0 || LibraryLog.outputOff != 0) {
        return 0;
    }
    // The first entries may come from several threads at once: only one of them creates the
    // file and the lock, and none writes before both exist.
    std::lock_guard opening(OpeningMutex());
    if (LibraryLog.opened != 0) return 0;
    EnsureSystemApiTable();
    EnsureEncodings();
    CopyCodeStringBounded(CharEncoding::Utf16Le, LibraryLog.fileName, sizeof(LibraryLog.fileName),
                          u"Log.txt");
    char16_t path[1024];
    ComposeLogFilePath(path, static_cast<int>(sizeof(path)));
    InitTracedLock(&LibraryLog.lock);
    CreateLogFile(path);
    LibraryLog.indent = 0;
    LibraryLog.lineOpen = 0;
    LibraryLog.startTime = ReadMillisecondClock();
    __atomic_store_n(&LibraryLog.opened, 1, __ATOMIC_RELEASE);
    return 0;
}

int CloseLogFile() {
    std::lock_guard opening(OpeningMutex());
    if (LibraryLog.opened != 0) DeleteTracedLock(&LibraryLog.lock);
    LibraryLog.opened = 0;
    return 0;
}

int EnableLogOutput(int flag) {
    LibraryLog.outputOff = flag == 0 ? 1 : 0;
    return 0;
}

namespace {
struct OnScreenLogState {
    int initialised;
    int fontHandle;  // -1 when none was made
    int shown;
};
OnScreenLogState OnScreenLog = {0, -1, 0};
}  // namespace

int IsOnScreenLogUsable() {
    // The area draws through the Direct3D 11 device or, otherwise, through the DirectDraw object of
    // the vertical-blank waiter; this platform offers neither.
    return 0;
}

int InitOnScreenLog() {
    OnScreenLog = OnScreenLogState{1, -1, 0};
    return IsOnScreenLogUsable() != 0 ? 0 : -1;
}

int IsOnScreenLogShown() {
    return 0;
}

int EndOnScreenLog() {
    // The area's font is made only when a line is drawn, and no line ever is.
    OnScreenLog.fontHandle = -1;
    OnScreenLog.initialised = 0;
    return 0;
}

}  // namespace ZiDaz
