// The table of system entry points the library calls. Every entry is looked up by name at run
// time (LoadLibraryA / GetProcAddress), so a missing DLL or entry point leaves a null pointer and
// the caller's own fallback runs. Callers test optional entries for null before calling them.
#pragma once

#include "platform/WinTypes.h"

namespace ZiDaz {

struct SystemApiTable {
    int loaded;     // 1 once LoadSystemApiTable has run
    int wideCalls;  // 1 when the wide (W) entry points really work

    // "kernel32.dll"
    HMODULE kernel32Module;
    DWORD (*GetCurrentDirectoryW)(DWORD bufferLength, LPWSTR buffer);
    UINT (*GetOEMCP)();
    int (*MultiByteToWideChar)(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out,
                               int outUnits);
    // Not used by the older code-page builder: asked only to settle which of several codes that
    // give the same character the system itself writes for it.
    int (*WideCharToMultiByte)(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR out,
                               int outBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar);
};

// The one table; zero at program load.
extern SystemApiTable SystemApi;

// Fills the table once; never fails as a whole.
void LoadSystemApiTable();
// Frees the module handles and empties the table; the wide-calls flag keeps its value. Returns 0.
int ReleaseSystemApiTable();
// What every function that calls through the table does first: load it when it is not loaded yet
// (and, once the table holds SetProcessDpiAwareness, make the process system-DPI aware).
void EnsureSystemApiTable();

}  // namespace ZiDaz
