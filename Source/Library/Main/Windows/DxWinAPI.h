// The table of system entry points the library calls. Every entry is looked up by name at run
// time (LoadLibraryA / GetProcAddress), so a missing DLL or entry point leaves a null pointer and
// the caller's own fallback runs. Callers test optional entries for null before calling them.
//
// 19 DLL groups with 361 entry points. An entry that no caller of ours uses yet is kept untyped
// (FARPROC); its caller gives it its type when it is built. The Win... wrappers call the wide (W)
// form when wide calls work and otherwise convert their texts and call the narrow (A) form.
#pragma once

#include "platform/Com.h"
#include "platform/Gdi32Font.h"
#include "platform/Usp10.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// Entry types too long for one line of the table.
using CreateFontAProc = HFONT (*)(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                  DWORD, DWORD, LPCSTR);
using CreateFontWProc = HFONT (*)(int, int, int, int, int, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD,
                                  DWORD, DWORD, LPCWSTR);
using ScriptItemizeProc = HRESULT (*)(const WCHAR*, int, int, const SCRIPT_CONTROL*,
                                      const SCRIPT_STATE*, SCRIPT_ITEM*, int*);
using ScriptShapeProc = HRESULT (*)(HDC, SCRIPT_CACHE*, const WCHAR*, int, int, SCRIPT_ANALYSIS*,
                                    WORD*, WORD*, SCRIPT_VISATTR*, int*);

struct SystemApiTable {
    int loaded;     // 1 once LoadSystemApiTable has run
    int wideCalls;  // 1 when the wide (W) entry points really work

    // "ws2_32.dll"
    HMODULE ws2_32Module;
    FARPROC WSAGetLastError;
    FARPROC WSAStartup;
    FARPROC WSACleanup;
    FARPROC WSAAsyncSelect;
    FARPROC getaddrinfo;
    FARPROC freeaddrinfo;
    FARPROC gethostbyaddr;
    FARPROC gethostbyname;
    FARPROC gethostname;
    FARPROC ntohs;
    FARPROC htons;
    FARPROC connect;
    FARPROC socket;
    FARPROC send;
    FARPROC sendto;
    FARPROC recvfrom;
    FARPROC accept;
    FARPROC closesocket;
    FARPROC shutdown;
    FARPROC listen;
    FARPROC bind;
    FARPROC inet_addr;
    FARPROC recv;
    FARPROC setsockopt;

    // "Imm32.dll"
    HMODULE imm32Module;
    FARPROC ImmAssociateContext;
    FARPROC ImmGetContext;
    FARPROC ImmReleaseContext;
    FARPROC ImmGetOpenStatus;
    FARPROC ImmGetConversionStatus;
    FARPROC ImmNotifyIME;
    FARPROC ImmSetOpenStatus;
    FARPROC ImmGetCandidateListW;
    FARPROC ImmGetCandidateListCountW;
    FARPROC ImmGetCompositionStringW;
    FARPROC ImmSetCompositionStringW;

    // "winmm.dll"
    HMODULE winmmModule;
    FARPROC timeSetEvent;
    FARPROC timeKillEvent;
    MMRESULT (*timeBeginPeriod)(UINT);
    MMRESULT (*timeEndPeriod)(UINT);
    DWORD (*timeGetTime)();
    MMRESULT (*timeGetDevCaps)(TIMECAPS*, UINT);
    MMRESULT (*joyGetPosEx)(UINT, JOYINFOEX*);
    MMRESULT (*joyGetDevCapsW)(UINT_PTR, JOYCAPSW*, UINT);
    FARPROC mciSendCommandW;
    FARPROC waveOutOpen;
    FARPROC waveOutClose;
    FARPROC waveOutPrepareHeader;
    FARPROC waveOutUnprepareHeader;
    FARPROC waveOutWrite;
    FARPROC waveOutReset;

    // "kernel32.dll"
    HMODULE kernel32Module;
    HMODULE (*GetModuleHandleA)(LPCSTR);
    HMODULE (*GetModuleHandleW)(LPCWSTR);
    BOOL (*VerifyVersionInfoA)(OSVERSIONINFOEXA*, DWORD, ULONGLONG);
    BOOL (*VerifyVersionInfoW)(OSVERSIONINFOEXW*, DWORD, ULONGLONG);
    ULONGLONG (*VerSetConditionMask)(ULONGLONG, DWORD, BYTE);
    HANDLE (*CreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
    BOOL (*SetEvent)(HANDLE);
    BOOL (*ResetEvent)(HANDLE);
    HANDLE(*CreateThread)
    (LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD);
    BOOL (*SetThreadPriority)(HANDLE, int);
    int (*GetThreadPriority)(HANDLE);
    void (*ExitThread)(DWORD);
    BOOL (*GetExitCodeThread)(HANDLE, LPDWORD);
    HANDLE (*GetCurrentThread)();
    DWORD (*GetCurrentThreadId)();
    DWORD (*SuspendThread)(HANDLE);
    DWORD (*ResumeThread)(HANDLE);
    DWORD (*WaitForSingleObject)(HANDLE, DWORD);
    DWORD (*WaitForMultipleObjects)(DWORD, const HANDLE*, BOOL, DWORD);
    HANDLE (*GetProcessHeap)();
    LPVOID (*HeapAlloc)(HANDLE, DWORD, SIZE_T);
    BOOL (*HeapFree)(HANDLE, DWORD, LPVOID);
    LPVOID (*VirtualAlloc)(LPVOID, SIZE_T, DWORD, DWORD);
    BOOL (*VirtualFree)(LPVOID, SIZE_T, DWORD);
    SIZE_T (*VirtualQuery)(LPCVOID, MEMORY_BASIC_INFORMATION*, SIZE_T);
    HGLOBAL (*GlobalAlloc)(UINT, SIZE_T);
    HGLOBAL (*GlobalFree)(HGLOBAL);
    LPVOID (*GlobalLock)(HGLOBAL);
    BOOL (*GlobalUnlock)(HGLOBAL);
    SIZE_T (*GlobalSize)(HGLOBAL);
    HANDLE (*CreateSemaphoreA)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCSTR);
    BOOL (*ReleaseSemaphore)(HANDLE, LONG, LONG*);
    BOOL (*GetVersionExA)(OSVERSIONINFOA*);
    BOOL (*GetVersionExW)(OSVERSIONINFOW*);
    void (*GetSystemInfo)(SYSTEM_INFO*);
    int (*lstrlenA)(LPCSTR);
    int (*lstrlenW)(LPCWSTR);
    int (*lstrcmpA)(LPCSTR, LPCSTR);
    int (*lstrcmpW)(LPCWSTR, LPCWSTR);
    LPSTR (*lstrcpyA)(LPSTR, LPCSTR);
    LPWSTR (*lstrcpyW)(LPWSTR, LPCWSTR);
    LPSTR (*lstrcpynA)(LPSTR, LPCSTR, int);
    LPWSTR (*lstrcpynW)(LPWSTR, LPCWSTR, int);
    DWORD (*GetTickCount)();
    BOOL (*QueryPerformanceCounter)(LARGE_INTEGER*);
    BOOL (*QueryPerformanceFrequency)(LARGE_INTEGER*);
    BOOL (*CloseHandle)(HANDLE);
    DWORD (*GetTempPathA)(DWORD, LPSTR);
    DWORD (*GetTempPathW)(DWORD, LPWSTR);
    UINT (*GetTempFileNameA)(LPCSTR, LPCSTR, UINT, LPSTR);
    UINT (*GetTempFileNameW)(LPCWSTR, LPCWSTR, UINT, LPWSTR);
    HANDLE (*CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    HANDLE (*CreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL (*DeleteFileA)(LPCSTR);
    BOOL (*DeleteFileW)(LPCWSTR);
    DWORD (*GetFileSize)(HANDLE, LPDWORD);
    BOOL (*WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL (*ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    DWORD (*SetFilePointer)(HANDLE, LONG, PLONG, DWORD);
    HANDLE (*FindFirstFileA)(LPCSTR, WIN32_FIND_DATAA*);
    HANDLE (*FindFirstFileW)(LPCWSTR, WIN32_FIND_DATAW*);
    BOOL (*FindNextFileA)(HANDLE, WIN32_FIND_DATAA*);
    BOOL (*FindNextFileW)(HANDLE, WIN32_FIND_DATAW*);
    BOOL (*FindClose)(HANDLE);
    BOOL (*SetCurrentDirectoryA)(LPCSTR);
    BOOL (*SetCurrentDirectoryW)(LPCWSTR);
    DWORD (*GetCurrentDirectoryA)(DWORD, LPSTR);
    DWORD (*GetCurrentDirectoryW)(DWORD bufferLength, LPWSTR buffer);
    void (*Sleep)(DWORD);
    void (*InitializeCriticalSection)(LPCRITICAL_SECTION);
    void (*DeleteCriticalSection)(LPCRITICAL_SECTION);
    void (*EnterCriticalSection)(LPCRITICAL_SECTION);
    void (*LeaveCriticalSection)(LPCRITICAL_SECTION);
    void (*ExitProcess)(UINT);
    FARPROC LoadResource;
    FARPROC FindResourceA;
    FARPROC FindResourceW;
    FARPROC LockResource;
    FARPROC SizeofResource;
    UINT (*GetOEMCP)();
    void (*OutputDebugStringA)(LPCSTR);
    void (*OutputDebugStringW)(LPCWSTR);
    void (*GlobalMemoryStatus)(MEMORYSTATUS*);
    int (*MulDiv)(int, int, int);
    void (*GetLocalTime)(SYSTEMTIME*);
    FARPROC GetSystemPowerStatus;
    BOOL (*FileTimeToLocalFileTime)(const FILETIME*, FILETIME*);
    BOOL (*FileTimeToSystemTime)(const FILETIME*, SYSTEMTIME*);
    DWORD (*GetLastError)();
    int (*MultiByteToWideChar)(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out,
                               int outUnits);
    // Beyond the system's own list: the code-page builder asks it which of several codes that
    // give the same character the system itself writes for it.
    int (*WideCharToMultiByte)(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR out,
                               int outBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar);

    // "ole32.dll"
    HMODULE ole32Module;
    HRESULT(*CoCreateInstance)
    (REFCLSID classId, void* outer, DWORD context, REFIID interfaceId, void** object);
    FARPROC CoTaskMemAlloc;
    FARPROC CoTaskMemFree;
    HRESULT (*CoInitializeEx)(LPVOID, DWORD);
    FARPROC CoFreeUnusedLibraries;
    void (*CoUninitialize)();
    FARPROC CLSIDFromString;

    // "oleaut32.dll"
    HMODULE oleaut32Module;
    FARPROC SysAllocString;
    FARPROC SysFreeString;
    FARPROC VariantClear;
    FARPROC VariantInit;

    // "comctl32.dll"
    HMODULE comctl32Module;
    FARPROC InitCommonControls;

    // "User32.dll"
    HMODULE user32Module;
    BOOL (*WINNLSEnableIME)(HWND, BOOL);
    FARPROC UpdateLayeredWindow;
    HWND(*CreateWindowExA)
    (DWORD, LPCSTR, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID);
    HWND(*CreateWindowExW)
    (DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE, LPVOID);
    BOOL (*DestroyWindow)(HWND);
    BOOL (*IsWindow)(HWND);
    BOOL (*ShowWindow)(HWND, int);
    BOOL (*UpdateWindow)(HWND);
    BOOL (*BringWindowToTop)(HWND);
    BOOL (*SetForegroundWindow)(HWND);
    DWORD (*GetWindowThreadProcessId)(HWND, LPDWORD);
    HWND (*SetActiveWindow)(HWND);
    HWND (*GetForegroundWindow)();
    FARPROC GetDesktopWindow;
    HWND (*FindWindowA)(LPCSTR, LPCSTR);
    HWND (*FindWindowW)(LPCWSTR, LPCWSTR);
    BOOL (*MoveWindow)(HWND, int, int, int, int, BOOL);
    BOOL (*SetWindowPos)(HWND, HWND, int, int, int, int, UINT);
    BOOL (*GetClientRect)(HWND, RECT*);
    BOOL (*AdjustWindowRectEx)(RECT*, DWORD, BOOL, DWORD);
    BOOL (*GetWindowRect)(HWND, RECT*);
    LONG (*SetWindowLongA)(HWND, int, LONG);
    LONG (*SetWindowLongW)(HWND, int, LONG);
    FARPROC SetWindowLongPtrA;
    FARPROC SetWindowLongPtrW;
    LONG (*GetWindowLongA)(HWND, int);
    LONG (*GetWindowLongW)(HWND, int);
    FARPROC GetWindowLongPtrA;
    FARPROC GetWindowLongPtrW;
    BOOL (*SetWindowTextA)(HWND, LPCSTR);
    BOOL (*SetWindowTextW)(HWND, LPCWSTR);
    BOOL (*ClientToScreen)(HWND, POINT*);
    FARPROC EnumDisplayDevicesA;
    FARPROC EnumDisplayDevicesW;
    FARPROC CloseTouchInputHandle;
    FARPROC GetTouchInputInfo;
    FARPROC IsTouchWindow;
    BOOL (*RegisterTouchWindow)(HWND, ULONG);
    FARPROC UnregisterTouchWindow;
    FARPROC ShutdownBlockReasonCreate;
    FARPROC ShutdownBlockReasonDestroy;
    FARPROC SetTimer;
    FARPROC PostThreadMessageA;
    FARPROC PostThreadMessageW;
    BOOL (*PeekMessageA)(MSG*, HWND, UINT, UINT, UINT);
    BOOL (*PeekMessageW)(MSG*, HWND, UINT, UINT, UINT);
    FARPROC GetMessageA;
    FARPROC GetMessageW;
    LRESULT (*SendMessageA)(HWND, UINT, WPARAM, LPARAM);
    LRESULT (*SendMessageW)(HWND, UINT, WPARAM, LPARAM);
    BOOL (*PostMessageA)(HWND, UINT, WPARAM, LPARAM);
    BOOL (*PostMessageW)(HWND, UINT, WPARAM, LPARAM);
    void (*PostQuitMessage)(int);
    LRESULT (*DefWindowProcA)(HWND, UINT, WPARAM, LPARAM);
    LRESULT (*DefWindowProcW)(HWND, UINT, WPARAM, LPARAM);
    int (*TranslateAcceleratorA)(HWND, HACCEL, MSG*);
    int (*TranslateAcceleratorW)(HWND, HACCEL, MSG*);
    BOOL (*TranslateMessage)(const MSG*);
    LRESULT (*DispatchMessageA)(const MSG*);
    LRESULT (*DispatchMessageW)(const MSG*);
    FARPROC MsgWaitForMultipleObjects;
    FARPROC GetQueueStatus;
    FARPROC RegisterWindowMessageA;
    FARPROC RegisterWindowMessageW;
    FARPROC RegisterClassA;
    FARPROC RegisterClassW;
    ATOM (*RegisterClassExA)(const WNDCLASSEXA*);
    ATOM (*RegisterClassExW)(const WNDCLASSEXW*);
    BOOL (*UnregisterClassA)(LPCSTR, HINSTANCE);
    BOOL (*UnregisterClassW)(LPCWSTR, HINSTANCE);
    DWORD (*SetClassLongA)(HWND, int, LONG);
    DWORD (*SetClassLongW)(HWND, int, LONG);
    ULONG_PTR (*SetClassLongPtrA)(HWND, int, LONG_PTR);
    ULONG_PTR (*SetClassLongPtrW)(HWND, int, LONG_PTR);
    HDC (*GetDC)(HWND);
    int (*ReleaseDC)(HWND, HDC);
    HDC (*BeginPaint)(HWND, PAINTSTRUCT*);
    BOOL (*EndPaint)(HWND, const PAINTSTRUCT*);
    int (*MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
    int (*MessageBoxW)(HWND, LPCWSTR, LPCWSTR, UINT);
    int (*GetSystemMetrics)(int);
    LONG (*ChangeDisplaySettingsA)(DEVMODEA*, DWORD);
    FARPROC ChangeDisplaySettingsW;
    int (*ShowCursor)(BOOL);
    BOOL (*SetCursorPos)(int, int);
    BOOL (*GetCursorPos)(POINT*);
    HCURSOR (*SetCursor)(HCURSOR);
    HCURSOR (*LoadCursorA)(HINSTANCE, LPCSTR);
    HCURSOR (*LoadCursorW)(HINSTANCE, LPCWSTR);
    HICON (*LoadIconA)(HINSTANCE, LPCSTR);
    HICON (*LoadIconW)(HINSTANCE, LPCWSTR);
    BOOL (*ClipCursor)(const RECT*);
    FARPROC LoadMenuA;
    FARPROC LoadMenuW;
    FARPROC CreateMenu;
    FARPROC DeleteMenu;
    BOOL (*DestroyMenu)(HMENU);
    FARPROC EnableMenuItem;
    FARPROC GetSubMenu;
    FARPROC SetMenuItemInfoA;
    FARPROC SetMenuItemInfoW;
    FARPROC GetMenuItemInfoA;
    FARPROC GetMenuItemInfoW;
    BOOL (*SetMenu)(HWND, HMENU);
    FARPROC DrawMenuBar;
    FARPROC GetMenuItemCount;
    FARPROC InsertMenuItemA;
    FARPROC InsertMenuItemW;
    int (*SetWindowRgn)(HWND, HRGN, BOOL);
    int (*FillRect)(HDC, const RECT*, HBRUSH);
    BOOL (*SystemParametersInfoA)(UINT, UINT, LPVOID, UINT);
    BOOL (*SystemParametersInfoW)(UINT, UINT, LPVOID, UINT);
    BOOL (*AttachThreadInput)(DWORD, DWORD, BOOL);
    FARPROC UnhookWindowsHookEx;
    BOOL (*GetKeyboardState)(BYTE*);
    FARPROC KillTimer;
    FARPROC EnumDisplaySettingsA;
    FARPROC EnumDisplaySettingsW;
    BOOL (*EnumDisplayMonitors)(HDC, const RECT*, MONITORENUMPROC, LPARAM);
    BOOL (*IsDialogMessageA)(HWND, MSG*);
    BOOL (*IsDialogMessageW)(HWND, MSG*);
    BOOL (*OpenClipboard)(HWND);
    BOOL (*CloseClipboard)();
    BOOL (*EmptyClipboard)();
    HANDLE (*SetClipboardData)(UINT, HANDLE);
    HANDLE (*GetClipboardData)(UINT);
    FARPROC IsClipboardFormatAvailable;
    FARPROC CreateAcceleratorTableA;
    FARPROC CreateAcceleratorTableW;
    FARPROC DestroyAcceleratorTable;
    FARPROC CopyAcceleratorTableA;
    FARPROC CopyAcceleratorTableW;
    BOOL (*GetMonitorInfoA)(HMONITOR, MONITORINFO*);
    BOOL (*GetMonitorInfoW)(HMONITOR, MONITORINFO*);
    DWORD (*CharLowerBuffA)(LPSTR, DWORD);
    DWORD (*CharLowerBuffW)(LPWSTR, DWORD);
    FARPROC GetRawInputDeviceList;
    FARPROC GetRawInputDeviceInfoA;

    // "gdi32.dll"
    HMODULE gdi32Module;
    HANDLE (*AddFontMemResourceEx)(LPVOID, DWORD, LPVOID, DWORD*);
    BOOL (*RemoveFontMemResourceEx)(HANDLE);
    DWORD (*GetFontUnicodeRanges)(HDC, void*);
    int (*GetDeviceCaps)(HDC, int);
    int (*EnumFontFamiliesExA)(HDC, LOGFONTA*, FONTENUMPROCA, LPARAM, DWORD);
    int (*EnumFontFamiliesExW)(HDC, LOGFONTW*, FONTENUMPROCW, LPARAM, DWORD);
    CreateFontAProc CreateFontA;
    CreateFontWProc CreateFontW;
    BOOL (*GetTextMetricsA)(HDC, TEXTMETRICA*);
    BOOL (*GetTextMetricsW)(HDC, TEXTMETRICW*);
    BOOL (*GetTextExtentPoint32A)(HDC, LPCSTR, int, SIZE*);
    BOOL (*GetTextExtentPoint32W)(HDC, LPCWSTR, int, SIZE*);
    DWORD (*GetCharacterPlacementA)(HDC, LPCSTR, int, int, GCP_RESULTSA*, DWORD);
    DWORD (*GetCharacterPlacementW)(HDC, LPCWSTR, int, int, GCP_RESULTSW*, DWORD);
    DWORD (*GetGlyphOutlineA)(HDC, UINT, UINT, GLYPHMETRICS*, DWORD, LPVOID, const MAT2*);
    DWORD (*GetGlyphOutlineW)(HDC, UINT, UINT, GLYPHMETRICS*, DWORD, LPVOID, const MAT2*);
    BOOL (*TextOutA)(HDC, int, int, LPCSTR, int);
    BOOL (*TextOutW)(HDC, int, int, LPCWSTR, int);
    COLORREF (*SetTextColor)(HDC, COLORREF);
    COLORREF (*SetBkColor)(HDC, COLORREF);
    int (*SetBkMode)(HDC, int);
    HDC (*CreateCompatibleDC)(HDC);
    FARPROC CreateDCA;
    FARPROC CreateDCW;
    int (*GetObjectA)(HGDIOBJ, int, LPVOID);
    int (*GetObjectW)(HGDIOBJ, int, LPVOID);
    HGDIOBJ (*GetStockObject)(int);
    HGDIOBJ (*SelectObject)(HDC, HGDIOBJ);
    BOOL (*DeleteObject)(HGDIOBJ);
    BOOL (*DeleteDC)(HDC);
    HBRUSH (*CreateSolidBrush)(COLORREF);
    FARPROC Rectangle;
    FARPROC BitBlt;
    HBITMAP (*CreateDIBSection)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
    FARPROC StretchDIBits;
    FARPROC SetDIBitsToDevice;
    FARPROC CreateRectRgn;
    FARPROC CombineRgn;
    DWORD (*GetKerningPairsW)(HDC, DWORD, KERNINGPAIR*);

    // "advapi32.dll"
    HMODULE advapi32Module;
    LONG (*RegOpenKeyA)(HKEY, LPCSTR, HKEY*);
    LONG (*RegOpenKeyW)(HKEY, LPCWSTR, HKEY*);
    LONG (*RegEnumKeyA)(HKEY, DWORD, LPSTR, DWORD);
    LONG (*RegEnumKeyW)(HKEY, DWORD, LPWSTR, DWORD);
    LONG (*RegOpenKeyExA)(HKEY, LPCSTR, DWORD, DWORD, HKEY*);
    LONG (*RegOpenKeyExW)(HKEY, LPCWSTR, DWORD, DWORD, HKEY*);
    LONG (*RegQueryValueExA)(HKEY, LPCSTR, LPDWORD, LPDWORD, BYTE*, LPDWORD);
    LONG (*RegQueryValueExW)(HKEY, LPCWSTR, LPDWORD, LPDWORD, BYTE*, LPDWORD);

    // "shell32.dll"
    HMODULE shell32Module;
    UINT (*DragQueryFileA)(HDROP, UINT, LPSTR, UINT);
    UINT (*DragQueryFileW)(HDROP, UINT, LPWSTR, UINT);
    void (*DragFinish)(HDROP);
    void (*DragAcceptFiles)(HWND, BOOL);

    // "ntdll.dll"
    HMODULE ntdllModule;
    LONG (*RtlGetVersion)(OSVERSIONINFOW*);

    // "Mfplat.dll"
    HMODULE mfplatModule;
    FARPROC MFStartup;
    FARPROC MFShutdown;
    FARPROC MFCreateMediaType;
    FARPROC MFCreateWaveFormatExFromMFMediaType;
    FARPROC MFCreateAttributes;
    FARPROC MFCreateAsyncResult;
    FARPROC MFInvokeCallback;

    // "Mfreadwrite.dll"
    HMODULE mfreadwriteModule;
    FARPROC MFCreateSourceReaderFromURL;
    FARPROC MFCreateSourceReaderFromByteStream;

    // "Propsys.dll"
    HMODULE propsysModule;
    FARPROC PropVariantToInt64;

    // "usp10.dll"
    HMODULE usp10Module;
    ScriptItemizeProc ScriptItemize;
    ScriptShapeProc ScriptShape;

    // "shcore.dll"
    HMODULE shcoreModule;
    HRESULT (*SetProcessDpiAwareness)(int);
    FARPROC GetProcessDpiAwareness;
    FARPROC GetDpiForMonitor;

    // "Ole32.dll" (a second group with its own handle)
    HMODULE ole32SecondModule;
    FARPROC CoSetProxyBlanket;
    FARPROC PropVariantClear;

    // "dwmapi.dll"
    HMODULE dwmapiModule;
    HRESULT (*DwmEnableComposition)(UINT);
    FARPROC DwmGetWindowAttribute;
};

// The one table; zero at program load.
extern SystemApiTable SystemApi;

// Fills the table once; never fails as a whole.
void LoadSystemApiTable();
// Frees the module handles and empties the table; the wide-calls flag keeps its value. Returns 0.
int ReleaseSystemApiTable();
// What every function that calls through the table does first: load it when it is not loaded yet,
// and on that first load make the process system-DPI aware.
void EnsureSystemApiTable();

// ---- Wide-or-narrow wrappers: the arguments and result of the wide function they are named
// after. Without working wide calls, a conversion buffer that cannot be had makes them fail (0, a
// null handle or FALSE; -1 for the registry wrappers) without calling the system.

HANDLE WinCreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                      DWORD creation, DWORD flags, HANDLE templateFile);
BOOL WinDeleteFileW(LPCWSTR path);
DWORD WinGetCurrentDirectoryW(DWORD length, LPWSTR buffer);
BOOL WinSetCurrentDirectoryW(LPCWSTR path);
DWORD WinGetTempPathW(DWORD length, LPWSTR buffer);
UINT WinGetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name);
HANDLE WinFindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL WinFindNextFileW(HANDLE search, WIN32_FIND_DATAW* data);
HMODULE WinGetModuleHandleW(LPCWSTR name);
void WinOutputDebugStringW(LPCWSTR text);
BOOL WinGetVersionExW(OSVERSIONINFOW* info);
BOOL WinVerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask);
int WinLstrcmpW(LPCWSTR a, LPCWSTR b);
LPWSTR WinLstrcpyW(LPWSTR dst, LPCWSTR src);
LPWSTR WinLstrcpynW(LPWSTR dst, LPCWSTR src, int count);
int WinLstrlenW(LPCWSTR text);
DWORD WinCharLowerBuffW(LPWSTR text, DWORD length);
int WinMessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type);
HWND WinFindWindowW(LPCWSTR className, LPCWSTR title);
BOOL WinSetWindowTextW(HWND window, LPCWSTR text);
BOOL WinUnregisterClassW(LPCWSTR className, HINSTANCE instance);
LONG WinRegOpenKeyW(HKEY key, LPCWSTR subKey, HKEY* result);
LONG WinRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result);
LONG WinRegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD length);
HWND WinCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                        int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID parameter);
ATOM WinRegisterClassExW(const WNDCLASSEXW* windowClass);
// The message calls take no text: without wide calls they go to the narrow form unchanged.
LRESULT WinDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WinDispatchMessage(const MSG* message);
BOOL WinPeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove);
BOOL WinPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WinSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int WinTranslateAccelerator(HWND window, HACCEL table, MSG* message);
BOOL WinIsDialogMessage(HWND dialog, MSG* message);
LONG WinGetWindowLong(HWND window, int index);
LONG WinSetWindowLong(HWND window, int index, LONG value);
DWORD WinSetClassLong(HWND window, int index, LONG value);
HCURSOR WinLoadCursor(HINSTANCE instance, LPCWSTR name);
HICON WinLoadIcon(HINSTANCE instance, LPCWSTR name);
BOOL WinSystemParametersInfo(UINT action, UINT parameter, LPVOID data, UINT winIni);
// CoCreateInstance; on a load thread (onLoadThread nonzero) the call is handed to the main thread,
// whose COM apartment the objects live in, and the load thread waits for its result. Without the
// COM library: REGDB_E_CLASSNOTREG.
HRESULT WinCoCreateInstance(REFCLSID classId, void* outer, DWORD context, REFIID interfaceId,
                            void** object, int onLoadThread);
LONG WinRegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                         LPDWORD dataBytes);

// Dropped files and monitors.
UINT WinDragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT length);
BOOL WinGetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);

// GDI text calls. Without wide calls the texts go through the NarrowEncoding and the narrow
// records are copied into the wide ones.
HFONT WinCreateFontW(int height, int width, int escapement, int orientation, int weight,
                     DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                     DWORD outPrecision, DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily,
                     LPCWSTR face);
BOOL WinGetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
// The size, or -1 for GDI_ERROR (also when neither form is there).
int WinGetGlyphOutlineW(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                        LPVOID buffer, const MAT2* matrix);
int WinEnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW callback, LPARAM data,
                           DWORD flags);
DWORD WinGetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int maxExtent,
                                GCP_RESULTSW* results, DWORD flags);
BOOL WinGetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size);
BOOL WinTextOutW(HDC dc, int x, int y, LPCWSTR text, int count);

}  // namespace ZiDaz
