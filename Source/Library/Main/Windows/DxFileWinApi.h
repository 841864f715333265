// The Windows entry points the file layer calls, looked up by name once.
#pragma once

#include <type_traits>

#include "platform/Modules.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

struct FileApiTable {
    HANDLE (*CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL (*ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL (*WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD (*SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
    DWORD (*GetFileSize)(HANDLE, LPDWORD);
    BOOL (*CloseHandle)(HANDLE);
    BOOL (*DeleteFileW)(LPCWSTR);
    HANDLE (*FindFirstFileW)(LPCWSTR, WIN32_FIND_DATAW*);
    BOOL (*FindNextFileW)(HANDLE, WIN32_FIND_DATAW*);
    BOOL (*FindClose)(HANDLE);
    BOOL (*FileTimeToLocalFileTime)(const FILETIME*, FILETIME*);
    BOOL (*FileTimeToSystemTime)(const FILETIME*, SYSTEMTIME*);
    DWORD (*GetCurrentDirectoryW)(DWORD, LPWSTR);
    BOOL (*SetCurrentDirectoryW)(LPCWSTR);
    DWORD (*GetTempPathW)(DWORD, LPWSTR);
    UINT (*GetTempFileNameW)(LPCWSTR, LPCWSTR, UINT, LPWSTR);
    DWORD (*GetLastError)();
};

inline const FileApiTable& FileApi() {
    static const FileApiTable table = [] {
        FileApiTable t{};
        HMODULE kernel = LoadLibraryA("kernel32.dll");
        auto get = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
                GetProcAddress(kernel, name));
        };
        get(t.CreateFileW, "CreateFileW");
        get(t.ReadFile, "ReadFile");
        get(t.WriteFile, "WriteFile");
        get(t.SetFilePointer, "SetFilePointer");
        get(t.GetFileSize, "GetFileSize");
        get(t.CloseHandle, "CloseHandle");
        get(t.DeleteFileW, "DeleteFileW");
        get(t.FindFirstFileW, "FindFirstFileW");
        get(t.FindNextFileW, "FindNextFileW");
        get(t.FindClose, "FindClose");
        get(t.FileTimeToLocalFileTime, "FileTimeToLocalFileTime");
        get(t.FileTimeToSystemTime, "FileTimeToSystemTime");
        get(t.GetCurrentDirectoryW, "GetCurrentDirectoryW");
        get(t.SetCurrentDirectoryW, "SetCurrentDirectoryW");
        get(t.GetTempPathW, "GetTempPathW");
        get(t.GetTempFileNameW, "GetTempFileNameW");
        get(t.GetLastError, "GetLastError");
        return t;
    }();
    return table;
}

}  // namespace ZiDaz
