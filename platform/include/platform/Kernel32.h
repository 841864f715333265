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

}  // namespace platform::kernel32
