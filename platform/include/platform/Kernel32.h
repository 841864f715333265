// kernel32 entry points implemented by the platform layer. The library reaches them by name through
// GetProcAddress; these declarations are for the layer itself and its tests.
#pragma once

#include "platform/WinTypes.h"

namespace platform::kernel32 {

DWORD GetLastError();
void SetLastError(DWORD error);

// Code pages over glibc iconv (UTF-8 converted directly): 0 (the ANSI code page), 1 (the OEM code
// page), 932, 936, 949, 950, 1252 and 65001.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out,
                        int outUnits);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR out,
                        int outBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar);
// The system's code pages follow LANG: "ja*" gives 932, anything else 1252.
UINT GetOEMCP();
UINT GetACP();

// Closes any kernel object handle (files, searches, threads, events: see KernelObject.h).
BOOL CloseHandle(HANDLE handle);

// Files over POSIX. Paths go through HostPathFromWide (either separator, names matched
// case-insensitively when the spelling does not exist); narrow paths are in the ANSI code page.
// Sharing modes are accepted and not enforced; overlapped calls are refused.
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD bytesRead, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID data, DWORD bytes, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL DeleteFileW(LPCWSTR path);
BOOL DeleteFileA(LPCSTR path);

// Folder searches with Windows wildcards ("*", "?", and the DOS rules for "." next to them: a
// "?" before a dot or at the end may match nothing, "*.*" matches every name). Names compare
// case-insensitively and come back sorted as NTFS lists them ("." and ".." first).
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE search);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out);

// The current folder is the host's ("/home/..."), reported with "/" separators.
DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer);
DWORD GetCurrentDirectoryA(DWORD length, LPSTR buffer);
BOOL SetCurrentDirectoryW(LPCWSTR path);
BOOL SetCurrentDirectoryA(LPCSTR path);
// TMPDIR (else "/tmp") with a final "/"; GetTempFileName makes "<folder><prefix><hex>.tmp" and,
// when unique is 0, creates the file.
DWORD GetTempPathW(DWORD length, LPWSTR buffer);
DWORD GetTempPathA(DWORD length, LPSTR buffer);
UINT GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);
UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR name);
// Every module lives in the executable, so any module gives the path of /proc/self/exe.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD length);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD length);

}  // namespace platform::kernel32
