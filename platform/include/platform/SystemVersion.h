// The system's version, debugger output, the kernel32 string helpers, the DPI awareness switch and
// the timer's capabilities. This platform reports itself as Windows 10 (10.0, build 19045): a
// program without a compatibility manifest sees 6.2 (build 9200) through GetVersionEx, as on the
// real system, and the true version through RtlGetVersion and VerifyVersionInfo.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

namespace kernel32 {
BOOL GetVersionExA(OSVERSIONINFOA* info);
BOOL GetVersionExW(OSVERSIONINFOW* info);
ULONGLONG VerSetConditionMask(ULONGLONG mask, DWORD typeBit, BYTE condition);
BOOL VerifyVersionInfoA(OSVERSIONINFOEXA* info, DWORD typeMask, ULONGLONG conditionMask);
BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask);
// Written to standard error when VELK_DEBUG_OUTPUT is set to 1, else dropped.
void OutputDebugStringA(LPCSTR text);
void OutputDebugStringW(LPCWSTR text);
int lstrlenA(LPCSTR text);
int lstrlenW(LPCWSTR text);
int lstrcmpA(LPCSTR a, LPCSTR b);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int count);
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int count);
int MulDiv(int number, int numerator, int denominator);
}  // namespace kernel32

namespace ntdll {
LONG RtlGetVersion(OSVERSIONINFOW* info);
}

namespace shcore {
// Accepted and remembered; the layer draws at 96 DPI whatever the setting.
HRESULT SetProcessDpiAwareness(int awareness);
HRESULT GetProcessDpiAwareness(HANDLE process, int* awareness);
}  // namespace shcore

namespace winmm {
MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size);
}

}  // namespace platform
