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
// Moves a file or folder; never replaces what exists at `to` (ERROR_ALREADY_EXISTS), as Windows'
// MoveFile does not.
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL MoveFileA(LPCSTR from, LPCSTR to);

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

// Threads over pthreads. Suspension is counted as on Windows: SuspendThread and ResumeThread
// return the previous suspend count, so a resume that comes before the thread has suspended itself
// returns 0 and changes nothing. A thread can suspend itself at any time; another thread can only
// be suspended further while it is already suspended (Linux cannot stop a running thread safely),
// otherwise SuspendThread fails with ERROR_NOT_SUPPORTED. A thread handle is signalled when the
// thread has ended; its exit code reads STILL_ACTIVE (259) until then.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD threadId);
[[noreturn]] void ExitThread(DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
HANDLE GetCurrentThread();  // the pseudo handle (HANDLE)-2
DWORD GetCurrentThreadId();
DWORD SuspendThread(HANDLE thread);
DWORD ResumeThread(HANDLE thread);
// Priorities are kept as given and applied as nice values as far as Linux allows (raising needs
// privileges; a refused change keeps the recorded priority).
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// Critical sections (re-entrant) over a futex.
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);

// Events (manual or automatic reset), semaphores and the waits on them and on threads. Names are
// not supported: a named object is created unnamed.
HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCSTR name);
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES attributes, LONG initialCount, LONG maximumCount,
                        LPCSTR name);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);

// Virtual memory over mmap. Regions are reserved and committed whole: VirtualAlloc takes a null
// address (MEM_RESERVE, MEM_COMMIT or both); MEM_COMMIT of pages inside a reserved region and
// MEM_DECOMMIT of pages make them accessible or not again. VirtualFree with MEM_RELEASE takes the
// region's base and size 0.
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect);
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType);
SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* info, SIZE_T length);

// The process heap over malloc.
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID block);

// System figures from sysconf and /proc/meminfo.
void GetSystemInfo(SYSTEM_INFO* info);
// Test hook: GetSystemInfo reports this many logical processors (0: the machine's own count).
void SetLogicalProcessorCountForTests(int count);
void GlobalMemoryStatus(MEMORYSTATUS* status);
BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status);

// Clocks over CLOCK_MONOTONIC (the counter runs at 10 MHz), the local time, and Sleep (0 yields
// the rest of the time slice).
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
DWORD GetTickCount();
void GetLocalTime(SYSTEMTIME* time);
void Sleep(DWORD milliseconds);

}  // namespace platform::kernel32
