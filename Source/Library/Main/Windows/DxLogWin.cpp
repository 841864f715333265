// The log file on the system side: its path, its creation and the per-entry append.
#include "Main/Windows/DxLogWin.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxLogWin";
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kCreateNew = 1;
constexpr DWORD kOpenAlways = 4;
constexpr DWORD kFileAttributeNormal = 0x80;
constexpr DWORD kFileEnd = 2;

int Units(const char16_t* text) {
    int units = 0;
    while (text[units] != 0) ++units;
    return units;
}

// Whether the log's folder holds a file of exactly the log's name. The system finds names
// ignoring case, and recreating the log must never delete another file (such as "log.txt")
// in its place.
bool LogFileExists(const char16_t* path) {
    WIN32_FIND_DATAW data;
    HANDLE search = WinFindFirstFileW(path, &data);
    if (search == INVALID_HANDLE_VALUE || search == nullptr) return false;
    bool exact = false;
    do {
        int i = 0;
        while (data.cFileName[i] != 0 && data.cFileName[i] == LibraryLog.fileName[i]) ++i;
        exact = data.cFileName[i] == 0 && LibraryLog.fileName[i] == 0;
    } while (!exact && WinFindNextFileW(search, &data));
    SystemApi.FindClose(search);
    return exact;
}

}  // namespace

int ComposeLogFilePath(char16_t* buffer, int bytes) {
    int wide = WideEncoding;
    if (LibraryLog.folder[0] == 0) {
        buffer[0] = 0;
        StreamGetCurrentDir(buffer, static_cast<std::size_t>(bytes));
        CopyCodeStringBounded(wide, LibraryLog.folder, sizeof(LibraryLog.folder), buffer);
    } else {
        CopyCodeStringBounded(wide, buffer, bytes, LibraryLog.folder);
    }
    int length = Units(buffer);
    if (length == 0 || (buffer[length - 1] != u'\\' && buffer[length - 1] != u'/')) {
        AppendCodeStringBounded(wide, buffer, bytes, u"\\");
    }
    AppendCodeStringBounded(wide, buffer, bytes, LibraryLog.fileName);
    return 0;
}

int CreateLogFile(const char16_t* path) {
    static const std::uint8_t kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};
    EnsureSystemApiTable();
    if (LogFileExists(path)) WinDeleteFileW(path);
    HANDLE file =
        WinCreateFileW(path, kGenericWrite, 0, nullptr, kCreateNew, kFileAttributeNormal, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        SystemApi.WriteFile(file, kByteOrderMark, 3, &written, nullptr);
        SystemApi.CloseHandle(file);
    }
    return 0;
}

int AppendLogFileInto(const char16_t* path, const char16_t* text, std::uint8_t* utf8, int bytes) {
    EnsureSystemApiTable();
    if (SystemApi.winmmModule == nullptr) return -1;
    HANDLE file =
        WinCreateFileW(path, kGenericWrite, 0, nullptr, kOpenAlways, kFileAttributeNormal, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SystemApi.SetFilePointer(file, 0, nullptr, kFileEnd);
        int written = TranscodeString(text, -1, WideEncoding, utf8, bytes, CharEncoding::Utf8);
        if (written > 1) {
            DWORD done = 0;
            SystemApi.WriteFile(file, utf8, static_cast<DWORD>(written - 1), &done, nullptr);
        }
    }
    WinOutputDebugStringW(text);
    if (file != INVALID_HANDLE_VALUE) SystemApi.CloseHandle(file);
    return 0;
}

int AppendLogFile(const char16_t* path, const char16_t* text) {
    EnsureSystemApiTable();
    if (SystemApi.winmmModule == nullptr) return -1;
    int bytes = Units(text) * 8 + 8;
    auto* utf8 = static_cast<std::uint8_t*>(
        AllocateTrackedMemory(static_cast<std::size_t>(bytes), kSourceFile, __LINE__));
    if (utf8 == nullptr) return -1;
    int result = AppendLogFileInto(path, text, utf8, bytes);
    FreeTrackedMemory(utf8);
    return result;
}

}  // namespace ZiDaz
