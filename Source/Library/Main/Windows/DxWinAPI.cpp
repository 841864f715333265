#include "Main/Windows/DxWinAPI.h"

#include <cstddef>
#include <cstring>
#include <iterator>
#include <mutex>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxMemory.h"
#include "platform/Modules.h"

namespace ZiDaz {

SystemApiTable SystemApi;

namespace {

struct ApiEntry {
    const char* name;
    std::size_t offset;
};

struct ApiGroup {
    const char* dll;  // exactly as passed to LoadLibraryA
    std::size_t moduleOffset;
    // The DLLs that are always there on the original system have their entries looked up without
    // testing the handle (a null module simply gives null entries).
    bool lookUpWithoutTest;
    const ApiEntry* entries;
    std::size_t count;
};

const ApiEntry kWs2_32Entries[] = {
    {"WSAGetLastError", offsetof(SystemApiTable, WSAGetLastError)},
    {"WSAStartup", offsetof(SystemApiTable, WSAStartup)},
    {"WSACleanup", offsetof(SystemApiTable, WSACleanup)},
    {"WSAAsyncSelect", offsetof(SystemApiTable, WSAAsyncSelect)},
    {"getaddrinfo", offsetof(SystemApiTable, getaddrinfo)},
    {"freeaddrinfo", offsetof(SystemApiTable, freeaddrinfo)},
    {"gethostbyaddr", offsetof(SystemApiTable, gethostbyaddr)},
    {"gethostbyname", offsetof(SystemApiTable, gethostbyname)},
    {"gethostname", offsetof(SystemApiTable, gethostname)},
    {"ntohs", offsetof(SystemApiTable, ntohs)},
    {"htons", offsetof(SystemApiTable, htons)},
    {"connect", offsetof(SystemApiTable, connect)},
    {"socket", offsetof(SystemApiTable, socket)},
    {"send", offsetof(SystemApiTable, send)},
    {"sendto", offsetof(SystemApiTable, sendto)},
    {"recvfrom", offsetof(SystemApiTable, recvfrom)},
    {"accept", offsetof(SystemApiTable, accept)},
    {"closesocket", offsetof(SystemApiTable, closesocket)},
    {"shutdown", offsetof(SystemApiTable, shutdown)},
    {"listen", offsetof(SystemApiTable, listen)},
    {"bind", offsetof(SystemApiTable, bind)},
    {"inet_addr", offsetof(SystemApiTable, inet_addr)},
    {"recv", offsetof(SystemApiTable, recv)},
    {"setsockopt", offsetof(SystemApiTable, setsockopt)},
};
const ApiEntry kImm32Entries[] = {
    {"ImmAssociateContext", offsetof(SystemApiTable, ImmAssociateContext)},
    {"ImmGetContext", offsetof(SystemApiTable, ImmGetContext)},
    {"ImmReleaseContext", offsetof(SystemApiTable, ImmReleaseContext)},
    {"ImmGetOpenStatus", offsetof(SystemApiTable, ImmGetOpenStatus)},
    {"ImmGetConversionStatus", offsetof(SystemApiTable, ImmGetConversionStatus)},
    {"ImmNotifyIME", offsetof(SystemApiTable, ImmNotifyIME)},
    {"ImmSetOpenStatus", offsetof(SystemApiTable, ImmSetOpenStatus)},
    {"ImmGetCandidateListW", offsetof(SystemApiTable, ImmGetCandidateListW)},
    {"ImmGetCandidateListCountW", offsetof(SystemApiTable, ImmGetCandidateListCountW)},
    {"ImmGetCompositionStringW", offsetof(SystemApiTable, ImmGetCompositionStringW)},
    {"ImmSetCompositionStringW", offsetof(SystemApiTable, ImmSetCompositionStringW)},
};
const ApiEntry kWinmmEntries[] = {
    {"timeSetEvent", offsetof(SystemApiTable, timeSetEvent)},
    {"timeKillEvent", offsetof(SystemApiTable, timeKillEvent)},
    {"timeBeginPeriod", offsetof(SystemApiTable, timeBeginPeriod)},
    {"timeEndPeriod", offsetof(SystemApiTable, timeEndPeriod)},
    {"timeGetTime", offsetof(SystemApiTable, timeGetTime)},
    {"timeGetDevCaps", offsetof(SystemApiTable, timeGetDevCaps)},
    {"joyGetPosEx", offsetof(SystemApiTable, joyGetPosEx)},
    {"joyGetDevCapsW", offsetof(SystemApiTable, joyGetDevCapsW)},
    {"mciSendCommandW", offsetof(SystemApiTable, mciSendCommandW)},
    {"waveOutOpen", offsetof(SystemApiTable, waveOutOpen)},
    {"waveOutClose", offsetof(SystemApiTable, waveOutClose)},
    {"waveOutPrepareHeader", offsetof(SystemApiTable, waveOutPrepareHeader)},
    {"waveOutUnprepareHeader", offsetof(SystemApiTable, waveOutUnprepareHeader)},
    {"waveOutWrite", offsetof(SystemApiTable, waveOutWrite)},
    {"waveOutReset", offsetof(SystemApiTable, waveOutReset)},
};
const ApiEntry kKernel32Entries[] = {
    {"GetModuleHandleA", offsetof(SystemApiTable, GetModuleHandleA)},
    {"GetModuleHandleW", offsetof(SystemApiTable, GetModuleHandleW)},
    {"VerifyVersionInfoA", offsetof(SystemApiTable, VerifyVersionInfoA)},
    {"VerifyVersionInfoW", offsetof(SystemApiTable, VerifyVersionInfoW)},
    {"VerSetConditionMask", offsetof(SystemApiTable, VerSetConditionMask)},
    {"CreateEventA", offsetof(SystemApiTable, CreateEventA)},
    {"SetEvent", offsetof(SystemApiTable, SetEvent)},
    {"ResetEvent", offsetof(SystemApiTable, ResetEvent)},
    {"CreateThread", offsetof(SystemApiTable, CreateThread)},
    {"SetThreadPriority", offsetof(SystemApiTable, SetThreadPriority)},
    {"GetThreadPriority", offsetof(SystemApiTable, GetThreadPriority)},
    {"ExitThread", offsetof(SystemApiTable, ExitThread)},
    {"GetExitCodeThread", offsetof(SystemApiTable, GetExitCodeThread)},
    {"GetCurrentThread", offsetof(SystemApiTable, GetCurrentThread)},
    {"GetCurrentThreadId", offsetof(SystemApiTable, GetCurrentThreadId)},
    {"SuspendThread", offsetof(SystemApiTable, SuspendThread)},
    {"ResumeThread", offsetof(SystemApiTable, ResumeThread)},
    {"WaitForSingleObject", offsetof(SystemApiTable, WaitForSingleObject)},
    {"WaitForMultipleObjects", offsetof(SystemApiTable, WaitForMultipleObjects)},
    {"GetProcessHeap", offsetof(SystemApiTable, GetProcessHeap)},
    {"HeapAlloc", offsetof(SystemApiTable, HeapAlloc)},
    {"HeapFree", offsetof(SystemApiTable, HeapFree)},
    {"VirtualAlloc", offsetof(SystemApiTable, VirtualAlloc)},
    {"VirtualFree", offsetof(SystemApiTable, VirtualFree)},
    {"VirtualQuery", offsetof(SystemApiTable, VirtualQuery)},
    {"GlobalAlloc", offsetof(SystemApiTable, GlobalAlloc)},
    {"GlobalFree", offsetof(SystemApiTable, GlobalFree)},
    {"GlobalLock", offsetof(SystemApiTable, GlobalLock)},
    {"GlobalUnlock", offsetof(SystemApiTable, GlobalUnlock)},
    {"GlobalSize", offsetof(SystemApiTable, GlobalSize)},
    {"CreateSemaphoreA", offsetof(SystemApiTable, CreateSemaphoreA)},
    {"ReleaseSemaphore", offsetof(SystemApiTable, ReleaseSemaphore)},
    {"GetVersionExA", offsetof(SystemApiTable, GetVersionExA)},
    {"GetVersionExW", offsetof(SystemApiTable, GetVersionExW)},
    {"GetSystemInfo", offsetof(SystemApiTable, GetSystemInfo)},
    {"lstrlenA", offsetof(SystemApiTable, lstrlenA)},
    {"lstrlenW", offsetof(SystemApiTable, lstrlenW)},
    {"lstrcmpA", offsetof(SystemApiTable, lstrcmpA)},
    {"lstrcmpW", offsetof(SystemApiTable, lstrcmpW)},
    {"lstrcpyA", offsetof(SystemApiTable, lstrcpyA)},
    {"lstrcpyW", offsetof(SystemApiTable, lstrcpyW)},
    {"lstrcpynA", offsetof(SystemApiTable, lstrcpynA)},
    {"lstrcpynW", offsetof(SystemApiTable, lstrcpynW)},
    {"GetTickCount", offsetof(SystemApiTable, GetTickCount)},
    {"QueryPerformanceCounter", offsetof(SystemApiTable, QueryPerformanceCounter)},
    {"QueryPerformanceFrequency", offsetof(SystemApiTable, QueryPerformanceFrequency)},
    {"CloseHandle", offsetof(SystemApiTable, CloseHandle)},
    {"GetTempPathA", offsetof(SystemApiTable, GetTempPathA)},
    {"GetTempPathW", offsetof(SystemApiTable, GetTempPathW)},
    {"GetTempFileNameA", offsetof(SystemApiTable, GetTempFileNameA)},
    {"GetTempFileNameW", offsetof(SystemApiTable, GetTempFileNameW)},
    {"CreateFileA", offsetof(SystemApiTable, CreateFileA)},
    {"CreateFileW", offsetof(SystemApiTable, CreateFileW)},
    {"DeleteFileA", offsetof(SystemApiTable, DeleteFileA)},
    {"DeleteFileW", offsetof(SystemApiTable, DeleteFileW)},
    {"GetFileSize", offsetof(SystemApiTable, GetFileSize)},
    {"WriteFile", offsetof(SystemApiTable, WriteFile)},
    {"ReadFile", offsetof(SystemApiTable, ReadFile)},
    {"SetFilePointer", offsetof(SystemApiTable, SetFilePointer)},
    {"FindFirstFileA", offsetof(SystemApiTable, FindFirstFileA)},
    {"FindFirstFileW", offsetof(SystemApiTable, FindFirstFileW)},
    {"FindNextFileA", offsetof(SystemApiTable, FindNextFileA)},
    {"FindNextFileW", offsetof(SystemApiTable, FindNextFileW)},
    {"FindClose", offsetof(SystemApiTable, FindClose)},
    {"SetCurrentDirectoryA", offsetof(SystemApiTable, SetCurrentDirectoryA)},
    {"SetCurrentDirectoryW", offsetof(SystemApiTable, SetCurrentDirectoryW)},
    {"GetCurrentDirectoryA", offsetof(SystemApiTable, GetCurrentDirectoryA)},
    {"GetCurrentDirectoryW", offsetof(SystemApiTable, GetCurrentDirectoryW)},
    {"Sleep", offsetof(SystemApiTable, Sleep)},
    {"InitializeCriticalSection", offsetof(SystemApiTable, InitializeCriticalSection)},
    {"DeleteCriticalSection", offsetof(SystemApiTable, DeleteCriticalSection)},
    {"EnterCriticalSection", offsetof(SystemApiTable, EnterCriticalSection)},
    {"LeaveCriticalSection", offsetof(SystemApiTable, LeaveCriticalSection)},
    {"ExitProcess", offsetof(SystemApiTable, ExitProcess)},
    {"LoadResource", offsetof(SystemApiTable, LoadResource)},
    {"FindResourceA", offsetof(SystemApiTable, FindResourceA)},
    {"FindResourceW", offsetof(SystemApiTable, FindResourceW)},
    {"LockResource", offsetof(SystemApiTable, LockResource)},
    {"SizeofResource", offsetof(SystemApiTable, SizeofResource)},
    {"GetOEMCP", offsetof(SystemApiTable, GetOEMCP)},
    {"OutputDebugStringA", offsetof(SystemApiTable, OutputDebugStringA)},
    {"OutputDebugStringW", offsetof(SystemApiTable, OutputDebugStringW)},
    {"GlobalMemoryStatus", offsetof(SystemApiTable, GlobalMemoryStatus)},
    {"MulDiv", offsetof(SystemApiTable, MulDiv)},
    {"GetLocalTime", offsetof(SystemApiTable, GetLocalTime)},
    {"GetSystemPowerStatus", offsetof(SystemApiTable, GetSystemPowerStatus)},
    {"FileTimeToLocalFileTime", offsetof(SystemApiTable, FileTimeToLocalFileTime)},
    {"FileTimeToSystemTime", offsetof(SystemApiTable, FileTimeToSystemTime)},
    {"GetLastError", offsetof(SystemApiTable, GetLastError)},
    {"MultiByteToWideChar", offsetof(SystemApiTable, MultiByteToWideChar)},
    {"WideCharToMultiByte", offsetof(SystemApiTable, WideCharToMultiByte)},
};
const ApiEntry kOle32Entries[] = {
    {"CoCreateInstance", offsetof(SystemApiTable, CoCreateInstance)},
    {"CoTaskMemAlloc", offsetof(SystemApiTable, CoTaskMemAlloc)},
    {"CoTaskMemFree", offsetof(SystemApiTable, CoTaskMemFree)},
    {"CoInitializeEx", offsetof(SystemApiTable, CoInitializeEx)},
    {"CoFreeUnusedLibraries", offsetof(SystemApiTable, CoFreeUnusedLibraries)},
    {"CoUninitialize", offsetof(SystemApiTable, CoUninitialize)},
    {"CLSIDFromString", offsetof(SystemApiTable, CLSIDFromString)},
};
const ApiEntry kOleaut32Entries[] = {
    {"SysAllocString", offsetof(SystemApiTable, SysAllocString)},
    {"SysFreeString", offsetof(SystemApiTable, SysFreeString)},
    {"VariantClear", offsetof(SystemApiTable, VariantClear)},
    {"VariantInit", offsetof(SystemApiTable, VariantInit)},
};
const ApiEntry kComctl32Entries[] = {
    {"InitCommonControls", offsetof(SystemApiTable, InitCommonControls)},
};
const ApiEntry kOle32SecondEntries[] = {
    {"CoSetProxyBlanket", offsetof(SystemApiTable, CoSetProxyBlanket)},
    {"PropVariantClear", offsetof(SystemApiTable, PropVariantClear)},
};
const ApiEntry kUser32Entries[] = {
    {"WINNLSEnableIME", offsetof(SystemApiTable, WINNLSEnableIME)},
    {"UpdateLayeredWindow", offsetof(SystemApiTable, UpdateLayeredWindow)},
    {"CreateWindowExA", offsetof(SystemApiTable, CreateWindowExA)},
    {"CreateWindowExW", offsetof(SystemApiTable, CreateWindowExW)},
    {"DestroyWindow", offsetof(SystemApiTable, DestroyWindow)},
    {"IsWindow", offsetof(SystemApiTable, IsWindow)},
    {"ShowWindow", offsetof(SystemApiTable, ShowWindow)},
    {"UpdateWindow", offsetof(SystemApiTable, UpdateWindow)},
    {"BringWindowToTop", offsetof(SystemApiTable, BringWindowToTop)},
    {"SetForegroundWindow", offsetof(SystemApiTable, SetForegroundWindow)},
    {"GetWindowThreadProcessId", offsetof(SystemApiTable, GetWindowThreadProcessId)},
    {"SetActiveWindow", offsetof(SystemApiTable, SetActiveWindow)},
    {"GetForegroundWindow", offsetof(SystemApiTable, GetForegroundWindow)},
    {"GetDesktopWindow", offsetof(SystemApiTable, GetDesktopWindow)},
    {"FindWindowA", offsetof(SystemApiTable, FindWindowA)},
    {"FindWindowW", offsetof(SystemApiTable, FindWindowW)},
    {"MoveWindow", offsetof(SystemApiTable, MoveWindow)},
    {"SetWindowPos", offsetof(SystemApiTable, SetWindowPos)},
    {"GetClientRect", offsetof(SystemApiTable, GetClientRect)},
    {"AdjustWindowRectEx", offsetof(SystemApiTable, AdjustWindowRectEx)},
    {"GetWindowRect", offsetof(SystemApiTable, GetWindowRect)},
    {"SetWindowLongA", offsetof(SystemApiTable, SetWindowLongA)},
    {"SetWindowLongW", offsetof(SystemApiTable, SetWindowLongW)},
    {"SetWindowLongPtrA", offsetof(SystemApiTable, SetWindowLongPtrA)},
    {"SetWindowLongPtrW", offsetof(SystemApiTable, SetWindowLongPtrW)},
    {"GetWindowLongA", offsetof(SystemApiTable, GetWindowLongA)},
    {"GetWindowLongW", offsetof(SystemApiTable, GetWindowLongW)},
    {"GetWindowLongPtrA", offsetof(SystemApiTable, GetWindowLongPtrA)},
    {"GetWindowLongPtrW", offsetof(SystemApiTable, GetWindowLongPtrW)},
    {"SetWindowTextA", offsetof(SystemApiTable, SetWindowTextA)},
    {"SetWindowTextW", offsetof(SystemApiTable, SetWindowTextW)},
    {"ClientToScreen", offsetof(SystemApiTable, ClientToScreen)},
    {"EnumDisplayDevicesA", offsetof(SystemApiTable, EnumDisplayDevicesA)},
    {"EnumDisplayDevicesW", offsetof(SystemApiTable, EnumDisplayDevicesW)},
    {"ShutdownBlockReasonCreate", offsetof(SystemApiTable, ShutdownBlockReasonCreate)},
    {"ShutdownBlockReasonDestroy", offsetof(SystemApiTable, ShutdownBlockReasonDestroy)},
    {"SetTimer", offsetof(SystemApiTable, SetTimer)},
    {"PostThreadMessageA", offsetof(SystemApiTable, PostThreadMessageA)},
    {"PostThreadMessageW", offsetof(SystemApiTable, PostThreadMessageW)},
    {"PeekMessageA", offsetof(SystemApiTable, PeekMessageA)},
    {"PeekMessageW", offsetof(SystemApiTable, PeekMessageW)},
    {"GetMessageA", offsetof(SystemApiTable, GetMessageA)},
    {"GetMessageW", offsetof(SystemApiTable, GetMessageW)},
    {"SendMessageA", offsetof(SystemApiTable, SendMessageA)},
    {"SendMessageW", offsetof(SystemApiTable, SendMessageW)},
    {"PostMessageA", offsetof(SystemApiTable, PostMessageA)},
    {"PostMessageW", offsetof(SystemApiTable, PostMessageW)},
    {"PostQuitMessage", offsetof(SystemApiTable, PostQuitMessage)},
    {"DefWindowProcA", offsetof(SystemApiTable, DefWindowProcA)},
    {"DefWindowProcW", offsetof(SystemApiTable, DefWindowProcW)},
    {"TranslateAcceleratorA", offsetof(SystemApiTable, TranslateAcceleratorA)},
    {"TranslateAcceleratorW", offsetof(SystemApiTable, TranslateAcceleratorW)},
    {"TranslateMessage", offsetof(SystemApiTable, TranslateMessage)},
    {"DispatchMessageA", offsetof(SystemApiTable, DispatchMessageA)},
    {"DispatchMessageW", offsetof(SystemApiTable, DispatchMessageW)},
    {"MsgWaitForMultipleObjects", offsetof(SystemApiTable, MsgWaitForMultipleObjects)},
    {"GetQueueStatus", offsetof(SystemApiTable, GetQueueStatus)},
    {"RegisterWindowMessageA", offsetof(SystemApiTable, RegisterWindowMessageA)},
    {"RegisterWindowMessageW", offsetof(SystemApiTable, RegisterWindowMessageW)},
    {"RegisterClassA", offsetof(SystemApiTable, RegisterClassA)},
    {"RegisterClassW", offsetof(SystemApiTable, RegisterClassW)},
    {"RegisterClassExA", offsetof(SystemApiTable, RegisterClassExA)},
    {"RegisterClassExW", offsetof(SystemApiTable, RegisterClassExW)},
    {"UnregisterClassA", offsetof(SystemApiTable, UnregisterClassA)},
    {"UnregisterClassW", offsetof(SystemApiTable, UnregisterClassW)},
    {"SetClassLongA", offsetof(SystemApiTable, SetClassLongA)},
    {"SetClassLongW", offsetof(SystemApiTable, SetClassLongW)},
    {"SetClassLongPtrA", offsetof(SystemApiTable, SetClassLongPtrA)},
    {"SetClassLongPtrW", offsetof(SystemApiTable, SetClassLongPtrW)},
    {"GetDC", offsetof(SystemApiTable, GetDC)},
    {"ReleaseDC", offsetof(SystemApiTable, ReleaseDC)},
    {"BeginPaint", offsetof(SystemApiTable, BeginPaint)},
    {"EndPaint", offsetof(SystemApiTable, EndPaint)},
    {"MessageBoxA", offsetof(SystemApiTable, MessageBoxA)},
    {"MessageBoxW", offsetof(SystemApiTable, MessageBoxW)},
    {"GetSystemMetrics", offsetof(SystemApiTable, GetSystemMetrics)},
    {"ChangeDisplaySettingsA", offsetof(SystemApiTable, ChangeDisplaySettingsA)},
    {"ChangeDisplaySettingsW", offsetof(SystemApiTable, ChangeDisplaySettingsW)},
    {"ShowCursor", offsetof(SystemApiTable, ShowCursor)},
    {"SetCursorPos", offsetof(SystemApiTable, SetCursorPos)},
    {"GetCursorPos", offsetof(SystemApiTable, GetCursorPos)},
    {"SetCursor", offsetof(SystemApiTable, SetCursor)},
    {"LoadCursorA", offsetof(SystemApiTable, LoadCursorA)},
    {"LoadCursorW", offsetof(SystemApiTable, LoadCursorW)},
    {"LoadIconA", offsetof(SystemApiTable, LoadIconA)},
    {"LoadIconW", offsetof(SystemApiTable, LoadIconW)},
    {"ClipCursor", offsetof(SystemApiTable, ClipCursor)},
    {"LoadMenuA", offsetof(SystemApiTable, LoadMenuA)},
    {"LoadMenuW", offsetof(SystemApiTable, LoadMenuW)},
    {"CreateMenu", offsetof(SystemApiTable, CreateMenu)},
    {"DeleteMenu", offsetof(SystemApiTable, DeleteMenu)},
    {"DestroyMenu", offsetof(SystemApiTable, DestroyMenu)},
    {"EnableMenuItem", offsetof(SystemApiTable, EnableMenuItem)},
    {"GetSubMenu", offsetof(SystemApiTable, GetSubMenu)},
    {"SetMenuItemInfoA", offsetof(SystemApiTable, SetMenuItemInfoA)},
    {"SetMenuItemInfoW", offsetof(SystemApiTable, SetMenuItemInfoW)},
    {"GetMenuItemInfoA", offsetof(SystemApiTable, GetMenuItemInfoA)},
    {"GetMenuItemInfoW", offsetof(SystemApiTable, GetMenuItemInfoW)},
    {"SetMenu", offsetof(SystemApiTable, SetMenu)},
    {"DrawMenuBar", offsetof(SystemApiTable, DrawMenuBar)},
    {"GetMenuItemCount", offsetof(SystemApiTable, GetMenuItemCount)},
    {"InsertMenuItemA", offsetof(SystemApiTable, InsertMenuItemA)},
    {"InsertMenuItemW", offsetof(SystemApiTable, InsertMenuItemW)},
    {"SetWindowRgn", offsetof(SystemApiTable, SetWindowRgn)},
    {"FillRect", offsetof(SystemApiTable, FillRect)},
    {"SystemParametersInfoA", offsetof(SystemApiTable, SystemParametersInfoA)},
    {"SystemParametersInfoW", offsetof(SystemApiTable, SystemParametersInfoW)},
    {"AttachThreadInput", offsetof(SystemApiTable, AttachThreadInput)},
    {"UnhookWindowsHookEx", offsetof(SystemApiTable, UnhookWindowsHookEx)},
    {"GetKeyboardState", offsetof(SystemApiTable, GetKeyboardState)},
    {"KillTimer", offsetof(SystemApiTable, KillTimer)},
    {"EnumDisplaySettingsA", offsetof(SystemApiTable, EnumDisplaySettingsA)},
    {"EnumDisplaySettingsW", offsetof(SystemApiTable, EnumDisplaySettingsW)},
    {"EnumDisplayMonitors", offsetof(SystemApiTable, EnumDisplayMonitors)},
    {"IsDialogMessageA", offsetof(SystemApiTable, IsDialogMessageA)},
    {"IsDialogMessageW", offsetof(SystemApiTable, IsDialogMessageW)},
    {"OpenClipboard", offsetof(SystemApiTable, OpenClipboard)},
    {"CloseClipboard", offsetof(SystemApiTable, CloseClipboard)},
    {"EmptyClipboard", offsetof(SystemApiTable, EmptyClipboard)},
    {"SetClipboardData", offsetof(SystemApiTable, SetClipboardData)},
    {"GetClipboardData", offsetof(SystemApiTable, GetClipboardData)},
    {"IsClipboardFormatAvailable", offsetof(SystemApiTable, IsClipboardFormatAvailable)},
    {"CreateAcceleratorTableA", offsetof(SystemApiTable, CreateAcceleratorTableA)},
    {"CreateAcceleratorTableW", offsetof(SystemApiTable, CreateAcceleratorTableW)},
    {"DestroyAcceleratorTable", offsetof(SystemApiTable, DestroyAcceleratorTable)},
    {"CopyAcceleratorTableA", offsetof(SystemApiTable, CopyAcceleratorTableA)},
    {"CopyAcceleratorTableW", offsetof(SystemApiTable, CopyAcceleratorTableW)},
    {"GetMonitorInfoA", offsetof(SystemApiTable, GetMonitorInfoA)},
    {"GetMonitorInfoW", offsetof(SystemApiTable, GetMonitorInfoW)},
    {"CharLowerBuffA", offsetof(SystemApiTable, CharLowerBuffA)},
    {"CharLowerBuffW", offsetof(SystemApiTable, CharLowerBuffW)},
    {"GetRawInputDeviceList", offsetof(SystemApiTable, GetRawInputDeviceList)},
    {"GetRawInputDeviceInfoA", offsetof(SystemApiTable, GetRawInputDeviceInfoA)},
    {"CloseTouchInputHandle", offsetof(SystemApiTable, CloseTouchInputHandle)},
    {"GetTouchInputInfo", offsetof(SystemApiTable, GetTouchInputInfo)},
    {"IsTouchWindow", offsetof(SystemApiTable, IsTouchWindow)},
    {"RegisterTouchWindow", offsetof(SystemApiTable, RegisterTouchWindow)},
    {"UnregisterTouchWindow", offsetof(SystemApiTable, UnregisterTouchWindow)},
};
const ApiEntry kGdi32Entries[] = {
    {"AddFontMemResourceEx", offsetof(SystemApiTable, AddFontMemResourceEx)},
    {"RemoveFontMemResourceEx", offsetof(SystemApiTable, RemoveFontMemResourceEx)},
    {"GetFontUnicodeRanges", offsetof(SystemApiTable, GetFontUnicodeRanges)},
    {"GetDeviceCaps", offsetof(SystemApiTable, GetDeviceCaps)},
    {"EnumFontFamiliesExA", offsetof(SystemApiTable, EnumFontFamiliesExA)},
    {"EnumFontFamiliesExW", offsetof(SystemApiTable, EnumFontFamiliesExW)},
    {"CreateFontA", offsetof(SystemApiTable, CreateFontA)},
    {"CreateFontW", offsetof(SystemApiTable, CreateFontW)},
    {"GetTextMetricsA", offsetof(SystemApiTable, GetTextMetricsA)},
    {"GetTextMetricsW", offsetof(SystemApiTable, GetTextMetricsW)},
    {"GetTextExtentPoint32A", offsetof(SystemApiTable, GetTextExtentPoint32A)},
    {"GetTextExtentPoint32W", offsetof(SystemApiTable, GetTextExtentPoint32W)},
    {"GetCharacterPlacementA", offsetof(SystemApiTable, GetCharacterPlacementA)},
    {"GetCharacterPlacementW", offsetof(SystemApiTable, GetCharacterPlacementW)},
    {"GetGlyphOutlineA", offsetof(SystemApiTable, GetGlyphOutlineA)},
    {"GetGlyphOutlineW", offsetof(SystemApiTable, GetGlyphOutlineW)},
    {"TextOutA", offsetof(SystemApiTable, TextOutA)},
    {"TextOutW", offsetof(SystemApiTable, TextOutW)},
    {"SetTextColor", offsetof(SystemApiTable, SetTextColor)},
    {"SetBkColor", offsetof(SystemApiTable, SetBkColor)},
    {"SetBkMode", offsetof(SystemApiTable, SetBkMode)},
    {"CreateCompatibleDC", offsetof(SystemApiTable, CreateCompatibleDC)},
    {"CreateDCA", offsetof(SystemApiTable, CreateDCA)},
    {"CreateDCW", offsetof(SystemApiTable, CreateDCW)},
    {"GetObjectA", offsetof(SystemApiTable, GetObjectA)},
    {"GetObjectW", offsetof(SystemApiTable, GetObjectW)},
    {"GetStockObject", offsetof(SystemApiTable, GetStockObject)},
    {"SelectObject", offsetof(SystemApiTable, SelectObject)},
    {"DeleteObject", offsetof(SystemApiTable, DeleteObject)},
    {"DeleteDC", offsetof(SystemApiTable, DeleteDC)},
    {"CreateSolidBrush", offsetof(SystemApiTable, CreateSolidBrush)},
    {"Rectangle", offsetof(SystemApiTable, Rectangle)},
    {"BitBlt", offsetof(SystemApiTable, BitBlt)},
    {"CreateDIBSection", offsetof(SystemApiTable, CreateDIBSection)},
    {"StretchDIBits", offsetof(SystemApiTable, StretchDIBits)},
    {"SetDIBitsToDevice", offsetof(SystemApiTable, SetDIBitsToDevice)},
    {"CreateRectRgn", offsetof(SystemApiTable, CreateRectRgn)},
    {"CombineRgn", offsetof(SystemApiTable, CombineRgn)},
    {"GetKerningPairsW", offsetof(SystemApiTable, GetKerningPairsW)},
};
const ApiEntry kAdvapi32Entries[] = {
    {"RegOpenKeyA", offsetof(SystemApiTable, RegOpenKeyA)},
    {"RegOpenKeyW", offsetof(SystemApiTable, RegOpenKeyW)},
    {"RegEnumKeyA", offsetof(SystemApiTable, RegEnumKeyA)},
    {"RegEnumKeyW", offsetof(SystemApiTable, RegEnumKeyW)},
    {"RegOpenKeyExA", offsetof(SystemApiTable, RegOpenKeyExA)},
    {"RegOpenKeyExW", offsetof(SystemApiTable, RegOpenKeyExW)},
    {"RegQueryValueExA", offsetof(SystemApiTable, RegQueryValueExA)},
    {"RegQueryValueExW", offsetof(SystemApiTable, RegQueryValueExW)},
};
const ApiEntry kShell32Entries[] = {
    {"DragQueryFileA", offsetof(SystemApiTable, DragQueryFileA)},
    {"DragQueryFileW", offsetof(SystemApiTable, DragQueryFileW)},
    {"DragFinish", offsetof(SystemApiTable, DragFinish)},
    {"DragAcceptFiles", offsetof(SystemApiTable, DragAcceptFiles)},
};
const ApiEntry kNtdllEntries[] = {
    {"RtlGetVersion", offsetof(SystemApiTable, RtlGetVersion)},
};
const ApiEntry kMfplatEntries[] = {
    {"MFStartup", offsetof(SystemApiTable, MFStartup)},
    {"MFShutdown", offsetof(SystemApiTable, MFShutdown)},
    {"MFCreateMediaType", offsetof(SystemApiTable, MFCreateMediaType)},
    {"MFCreateWaveFormatExFromMFMediaType",
     offsetof(SystemApiTable, MFCreateWaveFormatExFromMFMediaType)},
    {"MFCreateAttributes", offsetof(SystemApiTable, MFCreateAttributes)},
    {"MFCreateAsyncResult", offsetof(SystemApiTable, MFCreateAsyncResult)},
    {"MFInvokeCallback", offsetof(SystemApiTable, MFInvokeCallback)},
};
const ApiEntry kMfreadwriteEntries[] = {
    {"MFCreateSourceReaderFromURL", offsetof(SystemApiTable, MFCreateSourceReaderFromURL)},
    {"MFCreateSourceReaderFromByteStream",
     offsetof(SystemApiTable, MFCreateSourceReaderFromByteStream)},
};
const ApiEntry kPropsysEntries[] = {
    {"PropVariantToInt64", offsetof(SystemApiTable, PropVariantToInt64)},
};
const ApiEntry kUsp10Entries[] = {
    {"ScriptItemize", offsetof(SystemApiTable, ScriptItemize)},
    {"ScriptShape", offsetof(SystemApiTable, ScriptShape)},
};
const ApiEntry kShcoreEntries[] = {
    {"SetProcessDpiAwareness", offsetof(SystemApiTable, SetProcessDpiAwareness)},
    {"GetProcessDpiAwareness", offsetof(SystemApiTable, GetProcessDpiAwareness)},
    {"GetDpiForMonitor", offsetof(SystemApiTable, GetDpiForMonitor)},
};
const ApiEntry kDwmapiEntries[] = {
    {"DwmEnableComposition", offsetof(SystemApiTable, DwmEnableComposition)},
    {"DwmGetWindowAttribute", offsetof(SystemApiTable, DwmGetWindowAttribute)},
};

// In load order.
const ApiGroup kGroups[] = {
    {"ws2_32.dll", offsetof(SystemApiTable, ws2_32Module), true, kWs2_32Entries,
     std::size(kWs2_32Entries)},
    {"Imm32.dll", offsetof(SystemApiTable, imm32Module), true, kImm32Entries,
     std::size(kImm32Entries)},
    {"winmm.dll", offsetof(SystemApiTable, winmmModule), true, kWinmmEntries,
     std::size(kWinmmEntries)},
    {"kernel32.dll", offsetof(SystemApiTable, kernel32Module), true, kKernel32Entries,
     std::size(kKernel32Entries)},
    {"ole32.dll", offsetof(SystemApiTable, ole32Module), true, kOle32Entries,
     std::size(kOle32Entries)},
    {"oleaut32.dll", offsetof(SystemApiTable, oleaut32Module), true, kOleaut32Entries,
     std::size(kOleaut32Entries)},
    {"comctl32.dll", offsetof(SystemApiTable, comctl32Module), false, kComctl32Entries,
     std::size(kComctl32Entries)},
    {"Ole32.dll", offsetof(SystemApiTable, ole32SecondModule), false, kOle32SecondEntries,
     std::size(kOle32SecondEntries)},
    {"User32.dll", offsetof(SystemApiTable, user32Module), true, kUser32Entries,
     std::size(kUser32Entries)},
    {"gdi32.dll", offsetof(SystemApiTable, gdi32Module), false, kGdi32Entries,
     std::size(kGdi32Entries)},
    {"advapi32.dll", offsetof(SystemApiTable, advapi32Module), false, kAdvapi32Entries,
     std::size(kAdvapi32Entries)},
    {"shell32.dll", offsetof(SystemApiTable, shell32Module), false, kShell32Entries,
     std::size(kShell32Entries)},
    {"ntdll.dll", offsetof(SystemApiTable, ntdllModule), false, kNtdllEntries,
     std::size(kNtdllEntries)},
    {"Mfplat.dll", offsetof(SystemApiTable, mfplatModule), false, kMfplatEntries,
     std::size(kMfplatEntries)},
    {"Mfreadwrite.dll", offsetof(SystemApiTable, mfreadwriteModule), false, kMfreadwriteEntries,
     std::size(kMfreadwriteEntries)},
    {"Propsys.dll", offsetof(SystemApiTable, propsysModule), false, kPropsysEntries,
     std::size(kPropsysEntries)},
    {"usp10.dll", offsetof(SystemApiTable, usp10Module), false, kUsp10Entries,
     std::size(kUsp10Entries)},
    {"shcore.dll", offsetof(SystemApiTable, shcoreModule), false, kShcoreEntries,
     std::size(kShcoreEntries)},
    {"dwmapi.dll", offsetof(SystemApiTable, dwmapiModule), false, kDwmapiEntries,
     std::size(kDwmapiEntries)},
};

// ReleaseSystemApiTable frees the groups in this order (indexes into kGroups).
const int kReleaseOrder[] = {18, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 1};

HMODULE& ModuleSlot(const ApiGroup& group) {
    return *reinterpret_cast<HMODULE*>(reinterpret_cast<char*>(&SystemApi) + group.moduleOffset);
}

FARPROC& EntrySlot(const ApiEntry& entry) {
    return *reinterpret_cast<FARPROC*>(reinterpret_cast<char*>(&SystemApi) + entry.offset);
}

}  // namespace

namespace {

// Serialises filling and emptying the table: the first library calls may come from several
// threads at once, and none may see a module handle before its entries are looked up.
std::recursive_mutex& TableMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

bool TableLoaded() {
    return __atomic_load_n(&SystemApi.loaded, __ATOMIC_ACQUIRE) != 0;
}

}  // namespace

void LoadSystemApiTable() {
    if (TableLoaded()) return;
    std::lock_guard lock(TableMutex());
    if (SystemApi.loaded) return;
    for (const ApiGroup& group : kGroups) {
        HMODULE& module = ModuleSlot(group);
        if (module != nullptr) continue;
        module = LoadLibraryA(group.dll);
        if (module == nullptr && !group.lookUpWithoutTest) continue;
        for (std::size_t i = 0; i < group.count; ++i) {
            EntrySlot(group.entries[i]) = GetProcAddress(module, group.entries[i].name);
        }
    }

    // Wide test: a working GetCurrentDirectoryW overwrites the first unit of the buffer.
    char16_t directory[1024];
    directory[0] = 0xFFFF;
    if (SystemApi.GetCurrentDirectoryW != nullptr) SystemApi.GetCurrentDirectoryW(1024, directory);
    SystemApi.wideCalls = directory[0] != 0xFFFF ? 1 : 0;

    __atomic_store_n(&SystemApi.loaded, 1, __ATOMIC_RELEASE);
}

int ReleaseSystemApiTable() {
    std::lock_guard lock(TableMutex());
    if (!SystemApi.loaded) return 0;
    for (int index : kReleaseOrder) {
        const ApiGroup& group = kGroups[index];
        HMODULE& module = ModuleSlot(group);
        if (module == nullptr) continue;
        FreeLibrary(module);
        module = nullptr;
        for (std::size_t i = 0; i < group.count; ++i) EntrySlot(group.entries[i]) = nullptr;
    }
    __atomic_store_n(&SystemApi.loaded, 0, __ATOMIC_RELEASE);
    return 0;
}

void EnsureSystemApiTable() {
    if (TableLoaded()) return;
    LoadSystemApiTable();
    constexpr int kProcessSystemDpiAware = 1;
    if (SystemApi.SetProcessDpiAwareness != nullptr) {
        SystemApi.SetProcessDpiAwareness(kProcessSystemDpiAware);
    }
}

namespace {

constexpr const char* kSourceFile = "DxWinAPI";

void EnsureEncodings() {
    if (NarrowEncoding == 0 || WideEncoding == 0) EnsureDefaultCharCodes();
}

// A wide text converted to the narrow encoding for a narrow call: in a 512-byte stack buffer when
// it fits, else in a tracked block. A null text stays null.
class NarrowText {
  public:
    NarrowText(LPCWSTR text, int line) {
        if (text == nullptr) return;
        EnsureEncodings();
        int units = CountCodeStringUnits(WideEncoding, text);
        int bytes = units * 6 + 16;
        text_ = stack_;
        if (bytes > static_cast<int>(sizeof(stack_))) {
            heap_ = static_cast<char*>(
                AllocateTrackedMemory(static_cast<std::size_t>(bytes), kSourceFile, line));
            text_ = heap_;
            if (heap_ == nullptr) {
                failed_ = true;
                return;
            }
        }
        TranscodeString(text, -1, WideEncoding, text_, bytes, NarrowEncoding);
    }
    ~NarrowText() { FreeTrackedMemory(heap_); }
    NarrowText(const NarrowText&) = delete;
    NarrowText& operator=(const NarrowText&) = delete;

    bool failed() const { return failed_; }
    LPCSTR get() const { return text_; }
    LPSTR buffer() { return text_; }

  private:
    char stack_[512];
    char* heap_ = nullptr;
    char* text_ = nullptr;
    bool failed_ = false;
};

// Narrow text returned by a narrow call, converted back into the caller's wide buffer.
void WidenInto(LPCSTR narrow, LPWSTR wide, int wideBytes) {
    if (wide == nullptr || wideBytes <= 0) return;
    TranscodeString(narrow, -1, NarrowEncoding, wide, wideBytes, WideEncoding);
}

void CopyFindData(const WIN32_FIND_DATAA& narrow, WIN32_FIND_DATAW* wide) {
    wide->dwFileAttributes = narrow.dwFileAttributes;
    wide->ftCreationTime = narrow.ftCreationTime;
    wide->ftLastAccessTime = narrow.ftLastAccessTime;
    wide->ftLastWriteTime = narrow.ftLastWriteTime;
    wide->nFileSizeHigh = narrow.nFileSizeHigh;
    wide->nFileSizeLow = narrow.nFileSizeLow;
    wide->dwReserved0 = narrow.dwReserved0;
    wide->dwReserved1 = narrow.dwReserved1;
    WidenInto(narrow.cFileName, wide->cFileName, 520);
    WidenInto(narrow.cAlternateFileName, wide->cAlternateFileName, 28);
}

}  // namespace

HANDLE WinCreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                      DWORD creation, DWORD flags, HANDLE templateFile) {
    if (SystemApi.wideCalls) {
        return SystemApi.CreateFileW(path, access, shareMode, security, creation, flags,
                                     templateFile);
    }
    NarrowText narrow(path, __LINE__);
    if (narrow.failed()) return nullptr;
    return SystemApi.CreateFileA(narrow.get(), access, shareMode, security, creation, flags,
                                 templateFile);
}

BOOL WinDeleteFileW(LPCWSTR path) {
    if (SystemApi.wideCalls) return SystemApi.DeleteFileW(path);
    NarrowText narrow(path, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.DeleteFileA(narrow.get());
}

DWORD WinGetCurrentDirectoryW(DWORD length, LPWSTR buffer) {
    if (SystemApi.wideCalls) return SystemApi.GetCurrentDirectoryW(length, buffer);
    EnsureEncodings();
    char narrow[1024];
    DWORD result = SystemApi.GetCurrentDirectoryA(sizeof(narrow), narrow);
    if (result == 0 || result >= sizeof(narrow)) return result;
    WidenInto(narrow, buffer, static_cast<int>(length));
    return static_cast<DWORD>(CountCodeStringUnits(NarrowEncoding, narrow) * 2);
}

BOOL WinSetCurrentDirectoryW(LPCWSTR path) {
    if (SystemApi.wideCalls) return SystemApi.SetCurrentDirectoryW(path);
    NarrowText narrow(path, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.SetCurrentDirectoryA(narrow.get());
}

DWORD WinGetTempPathW(DWORD length, LPWSTR buffer) {
    if (SystemApi.wideCalls) return SystemApi.GetTempPathW(length, buffer);
    EnsureEncodings();
    char narrow[261];
    DWORD result = SystemApi.GetTempPathA(sizeof(narrow), narrow);
    if (result == 0 || result >= sizeof(narrow)) return result;
    WidenInto(narrow, buffer, static_cast<int>(length));
    return result;
}

UINT WinGetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
    if (SystemApi.wideCalls) return SystemApi.GetTempFileNameW(folder, prefix, unique, name);
    NarrowText narrowFolder(folder, __LINE__);
    NarrowText narrowPrefix(prefix, __LINE__);
    if (narrowFolder.failed() || narrowPrefix.failed()) return 0;
    char result[1040];
    UINT number =
        SystemApi.GetTempFileNameA(narrowFolder.get(), narrowPrefix.get(), unique, result);
    if (number != 0) WidenInto(result, name, 260 * 2);
    return number;
}

HANDLE WinFindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    if (SystemApi.wideCalls) return SystemApi.FindFirstFileW(pattern, data);
    NarrowText narrow(pattern, __LINE__);
    if (narrow.failed()) return nullptr;
    WIN32_FIND_DATAA found{};
    HANDLE search = SystemApi.FindFirstFileA(narrow.get(), &found);
    if (search != INVALID_HANDLE_VALUE) CopyFindData(found, data);
    return search;
}

BOOL WinFindNextFileW(HANDLE search, WIN32_FIND_DATAW* data) {
    if (SystemApi.wideCalls) return SystemApi.FindNextFileW(search, data);
    WIN32_FIND_DATAA found{};
    BOOL result = SystemApi.FindNextFileA(search, &found);
    if (result) CopyFindData(found, data);
    return result;
}

HMODULE WinGetModuleHandleW(LPCWSTR name) {
    if (SystemApi.wideCalls) return SystemApi.GetModuleHandleW(name);
    NarrowText narrow(name, __LINE__);
    if (narrow.failed()) return nullptr;
    return SystemApi.GetModuleHandleA(narrow.get());
}

void WinOutputDebugStringW(LPCWSTR text) {
    if (SystemApi.wideCalls) {
        if (SystemApi.OutputDebugStringW != nullptr) SystemApi.OutputDebugStringW(text);
        return;
    }
    NarrowText narrow(text, __LINE__);
    if (narrow.failed() || SystemApi.OutputDebugStringA == nullptr) return;
    SystemApi.OutputDebugStringA(narrow.get());
}

BOOL WinGetVersionExW(OSVERSIONINFOW* info) {
    if (info == nullptr) return FALSE;
    if (SystemApi.wideCalls) return SystemApi.GetVersionExW(info);
    OSVERSIONINFOA narrow{};
    narrow.dwOSVersionInfoSize = sizeof(narrow);
    BOOL result = SystemApi.GetVersionExA(&narrow);
    info->dwMajorVersion = narrow.dwMajorVersion;
    info->dwMinorVersion = narrow.dwMinorVersion;
    info->dwBuildNumber = narrow.dwBuildNumber;
    info->dwPlatformId = narrow.dwPlatformId;
    EnsureEncodings();
    WidenInto(narrow.szCSDVersion, info->szCSDVersion, sizeof(info->szCSDVersion));
    return result;
}

BOOL WinVerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask) {
    if (SystemApi.wideCalls) return SystemApi.VerifyVersionInfoW(info, typeMask, conditionMask);
    OSVERSIONINFOEXA narrow{};
    narrow.dwOSVersionInfoSize = sizeof(narrow);
    narrow.dwMajorVersion = info->dwMajorVersion;
    narrow.dwMinorVersion = info->dwMinorVersion;
    narrow.dwBuildNumber = info->dwBuildNumber;
    narrow.dwPlatformId = info->dwPlatformId;
    EnsureEncodings();
    TranscodeString(info->szCSDVersion, -1, WideEncoding, narrow.szCSDVersion,
                    sizeof(narrow.szCSDVersion), NarrowEncoding);
    narrow.wServicePackMajor = info->wServicePackMajor;
    narrow.wServicePackMinor = info->wServicePackMinor;
    narrow.wSuiteMask = info->wSuiteMask;
    narrow.wProductType = info->wProductType;
    narrow.wReserved = info->wReserved;
    return SystemApi.VerifyVersionInfoA(&narrow, typeMask, conditionMask);
}

int WinLstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (SystemApi.wideCalls) return SystemApi.lstrcmpW(a, b);
    EnsureEncodings();
    return CompareCodeStrings(WideEncoding, a, b);
}

LPWSTR WinLstrcpyW(LPWSTR dst, LPCWSTR src) {
    if (SystemApi.wideCalls) return SystemApi.lstrcpyW(dst, src);
    EnsureEncodings();
    CopyCodeString(WideEncoding, dst, src);
    return dst;
}

LPWSTR WinLstrcpynW(LPWSTR dst, LPCWSTR src, int count) {
    if (SystemApi.wideCalls) return SystemApi.lstrcpynW(dst, src, count);
    EnsureEncodings();
    CopyCodeStringN(WideEncoding, dst, src, count);
    return dst;
}

int WinLstrlenW(LPCWSTR text) {
    if (SystemApi.wideCalls) return SystemApi.lstrlenW(text);
    EnsureEncodings();
    return CountCodeStringUnits(WideEncoding, text);
}

DWORD WinCharLowerBuffW(LPWSTR text, DWORD length) {
    if (SystemApi.wideCalls) return SystemApi.CharLowerBuffW(text, length);
    EnsureEncodings();
    LowerCaseCodeString(WideEncoding, text);
    return length;
}

int WinMessageBoxW(HWND window, LPCWSTR text, LPCWSTR caption, UINT type) {
    if (SystemApi.wideCalls) return SystemApi.MessageBoxW(window, text, caption, type);
    NarrowText narrowText(text, __LINE__);
    NarrowText narrowCaption(caption, __LINE__);
    if (narrowText.failed() || narrowCaption.failed()) return 0;
    return SystemApi.MessageBoxA(window, narrowText.get(), narrowCaption.get(), type);
}

HWND WinFindWindowW(LPCWSTR className, LPCWSTR title) {
    if (SystemApi.wideCalls) return SystemApi.FindWindowW(className, title);
    NarrowText narrowClass(className, __LINE__);
    NarrowText narrowTitle(title, __LINE__);
    if (narrowClass.failed() || narrowTitle.failed()) return nullptr;
    return SystemApi.FindWindowA(narrowClass.get(), narrowTitle.get());
}

BOOL WinSetWindowTextW(HWND window, LPCWSTR text) {
    if (SystemApi.wideCalls) return SystemApi.SetWindowTextW(window, text);
    NarrowText narrow(text, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.SetWindowTextA(window, narrow.get());
}

BOOL WinUnregisterClassW(LPCWSTR className, HINSTANCE instance) {
    if (SystemApi.wideCalls) return SystemApi.UnregisterClassW(className, instance);
    NarrowText narrow(className, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.UnregisterClassA(narrow.get(), instance);
}

LONG WinRegOpenKeyW(HKEY key, LPCWSTR subKey, HKEY* result) {
    if (SystemApi.wideCalls) return SystemApi.RegOpenKeyW(key, subKey, result);
    NarrowText narrow(subKey, __LINE__);
    if (narrow.failed()) return -1;
    return SystemApi.RegOpenKeyA(key, narrow.get(), result);
}

LONG WinRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result) {
    if (SystemApi.wideCalls) return SystemApi.RegOpenKeyExW(key, subKey, options, access, result);
    NarrowText narrow(subKey, __LINE__);
    if (narrow.failed()) return -1;
    return SystemApi.RegOpenKeyExA(key, narrow.get(), options, access, result);
}

LONG WinRegEnumKeyW(HKEY key, DWORD index, LPWSTR name, DWORD length) {
    if (SystemApi.wideCalls) return SystemApi.RegEnumKeyW(key, index, name, length);
    // The narrow name can take up to three bytes for each wide unit the caller has room for.
    std::size_t bytes = static_cast<std::size_t>(length) * 3 + 1;
    auto* narrow = static_cast<char*>(AllocateTrackedMemory(bytes, kSourceFile, __LINE__));
    if (narrow == nullptr) return -1;
    LONG result = SystemApi.RegEnumKeyA(key, index, narrow, static_cast<DWORD>(bytes));
    if (result == 0) {
        EnsureEncodings();
        WidenInto(narrow, name, static_cast<int>(length) * 2);
    }
    FreeTrackedMemory(narrow);
    return result;
}

LONG WinRegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                         LPDWORD dataBytes) {
    if (SystemApi.wideCalls) {
        return SystemApi.RegQueryValueExW(key, valueName, reserved, type, data, dataBytes);
    }
    NarrowText narrow(valueName, __LINE__);
    if (narrow.failed()) return -1;
    return SystemApi.RegQueryValueExA(key, narrow.get(), reserved, type, data, dataBytes);
}

HWND WinCreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y,
                        int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                        LPVOID parameter) {
    if (SystemApi.wideCalls) {
        return SystemApi.CreateWindowExW(exStyle, className, title, style, x, y, width, height,
                                         parent, menu, instance, parameter);
    }
    NarrowText narrowClass(className, __LINE__);
    NarrowText narrowTitle(title, __LINE__);
    if (narrowClass.failed() || narrowTitle.failed()) return nullptr;
    return SystemApi.CreateWindowExA(exStyle, narrowClass.get(), narrowTitle.get(), style, x, y,
                                     width, height, parent, menu, instance, parameter);
}

ATOM WinRegisterClassExW(const WNDCLASSEXW* windowClass) {
    if (SystemApi.wideCalls) return SystemApi.RegisterClassExW(windowClass);
    NarrowText narrowMenu(windowClass->lpszMenuName, __LINE__);
    NarrowText narrowClass(windowClass->lpszClassName, __LINE__);
    if (narrowMenu.failed() || narrowClass.failed()) return 0;
    WNDCLASSEXA narrow{};
    narrow.cbSize = sizeof(narrow);
    narrow.style = windowClass->style;
    narrow.lpfnWndProc = windowClass->lpfnWndProc;
    narrow.cbClsExtra = windowClass->cbClsExtra;
    narrow.cbWndExtra = windowClass->cbWndExtra;
    narrow.hInstance = windowClass->hInstance;
    narrow.hIcon = windowClass->hIcon;
    narrow.hCursor = windowClass->hCursor;
    narrow.hbrBackground = windowClass->hbrBackground;
    narrow.lpszMenuName = narrowMenu.get();
    narrow.lpszClassName = narrowClass.get();
    narrow.hIconSm = windowClass->hIconSm;
    return SystemApi.RegisterClassExA(&narrow);
}

LRESULT WinDefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SystemApi.wideCalls ? SystemApi.DefWindowProcW(window, message, wParam, lParam)
                               : SystemApi.DefWindowProcA(window, message, wParam, lParam);
}

LRESULT WinDispatchMessage(const MSG* message) {
    return SystemApi.wideCalls ? SystemApi.DispatchMessageW(message)
                               : SystemApi.DispatchMessageA(message);
}

BOOL WinPeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    return SystemApi.wideCalls ? SystemApi.PeekMessageW(message, window, first, last, remove)
                               : SystemApi.PeekMessageA(message, window, first, last, remove);
}

BOOL WinPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SystemApi.wideCalls ? SystemApi.PostMessageW(window, message, wParam, lParam)
                               : SystemApi.PostMessageA(window, message, wParam, lParam);
}

LRESULT WinSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SystemApi.wideCalls ? SystemApi.SendMessageW(window, message, wParam, lParam)
                               : SystemApi.SendMessageA(window, message, wParam, lParam);
}

int WinTranslateAccelerator(HWND window, HACCEL table, MSG* message) {
    return SystemApi.wideCalls ? SystemApi.TranslateAcceleratorW(window, table, message)
                               : SystemApi.TranslateAcceleratorA(window, table, message);
}

BOOL WinIsDialogMessage(HWND dialog, MSG* message) {
    return SystemApi.wideCalls ? SystemApi.IsDialogMessageW(dialog, message)
                               : SystemApi.IsDialogMessageA(dialog, message);
}

LONG WinGetWindowLong(HWND window, int index) {
    return SystemApi.wideCalls ? SystemApi.GetWindowLongW(window, index)
                               : SystemApi.GetWindowLongA(window, index);
}

LONG WinSetWindowLong(HWND window, int index, LONG value) {
    return SystemApi.wideCalls ? SystemApi.SetWindowLongW(window, index, value)
                               : SystemApi.SetWindowLongA(window, index, value);
}

DWORD WinSetClassLong(HWND window, int index, LONG value) {
    return SystemApi.wideCalls ? SystemApi.SetClassLongW(window, index, value)
                               : SystemApi.SetClassLongA(window, index, value);
}

// The names are resource numbers (MAKEINTRESOURCE) and pass through unchanged.
HCURSOR WinLoadCursor(HINSTANCE instance, LPCWSTR name) {
    return SystemApi.wideCalls ? SystemApi.LoadCursorW(instance, name)
                               : SystemApi.LoadCursorA(instance, reinterpret_cast<LPCSTR>(name));
}

HICON WinLoadIcon(HINSTANCE instance, LPCWSTR name) {
    return SystemApi.wideCalls ? SystemApi.LoadIconW(instance, name)
                               : SystemApi.LoadIconA(instance, reinterpret_cast<LPCSTR>(name));
}

BOOL WinSystemParametersInfo(UINT action, UINT parameter, LPVOID data, UINT winIni) {
    return SystemApi.wideCalls ? SystemApi.SystemParametersInfoW(action, parameter, data, winIni)
                               : SystemApi.SystemParametersInfoA(action, parameter, data, winIni);
}

namespace {

// A CoCreateInstance call packed for the main thread; the ids are copied so that the load thread's
// own records need not outlive anything.
struct DeferredCoCreateInstance {
    MainThreadCallRequest request;
    CLSID classId;
    void* outer;
    DWORD context;
    IID interfaceId;
    void** object;
};

HRESULT CallCoCreateInstance(REFCLSID classId, void* outer, DWORD context, REFIID interfaceId,
                             void** object) {
    if (SystemApi.CoCreateInstance == nullptr) return REGDB_E_CLASSNOTREG;
    return SystemApi.CoCreateInstance(classId, outer, context, interfaceId, object);
}

int RunDeferredCoCreateInstance(MainThreadCallRequest* request) {
    auto* call = reinterpret_cast<DeferredCoCreateInstance*>(request);
    CLSID classId = call->classId;
    IID interfaceId = call->interfaceId;
    return CallCoCreateInstance(classId, call->outer, call->context, interfaceId, call->object);
}

}  // namespace

HRESULT WinCoCreateInstance(REFCLSID classId, void* outer, DWORD context, REFIID interfaceId,
                            void** object, int onLoadThread) {
    if (onLoadThread == 0)
        return CallCoCreateInstance(classId, outer, context, interfaceId, object);
    DeferredCoCreateInstance call{};
    call.request.function = &RunDeferredCoCreateInstance;
    call.classId = classId;
    call.outer = outer;
    call.context = context;
    call.interfaceId = interfaceId;
    call.object = object;
    return RequestMainThreadCall(&call.request);
}

UINT WinDragQueryFileW(HDROP drop, UINT index, LPWSTR buffer, UINT length) {
    if (SystemApi.wideCalls) {
        return SystemApi.DragQueryFileW ? SystemApi.DragQueryFileW(drop, index, buffer, length) : 0;
    }
    if (SystemApi.DragQueryFileA == nullptr) return 0;
    if (buffer == nullptr) return SystemApi.DragQueryFileA(drop, index, nullptr, 0);
    char narrow[1024];
    UINT n = SystemApi.DragQueryFileA(drop, index, narrow, sizeof(narrow));
    if (n == 0 || length == 0) return 0;
    EnsureEncodings();
    TranscodeString(narrow, -1, NarrowEncoding, buffer, static_cast<int>(length) * 2, WideEncoding);
    return static_cast<UINT>(CountCodeStringUnits(WideEncoding, buffer));
}

BOOL WinGetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) {
    if (SystemApi.wideCalls) {
        return SystemApi.GetMonitorInfoW ? SystemApi.GetMonitorInfoW(monitor, info) : FALSE;
    }
    if (info == nullptr || SystemApi.GetMonitorInfoA == nullptr) return FALSE;
    if (info->cbSize < sizeof(MONITORINFOEXW)) return SystemApi.GetMonitorInfoA(monitor, info);
    MONITORINFOEXA narrow{};
    narrow.cbSize = sizeof(narrow);
    if (!SystemApi.GetMonitorInfoA(monitor, reinterpret_cast<MONITORINFO*>(&narrow))) return FALSE;
    auto* wide = reinterpret_cast<MONITORINFOEXW*>(info);
    wide->rcMonitor = narrow.rcMonitor;
    wide->rcWork = narrow.rcWork;
    wide->dwFlags = narrow.dwFlags;
    EnsureEncodings();
    TranscodeString(narrow.szDevice, -1, NarrowEncoding, wide->szDevice,
                    static_cast<int>(sizeof(wide->szDevice)), WideEncoding);
    return TRUE;
}

// ---- GDI text calls ----

namespace {

// UTF-16 text of a given length as a terminated copy in the NarrowEncoding.
class CountedNarrowText {
  public:
    CountedNarrowText(LPCWSTR text, int count, int line) {
        if (text == nullptr || count < 0) {
            failed_ = true;
            return;
        }
        EnsureEncodings();
        auto* wide = static_cast<char16_t*>(AllocateTrackedMemory(
            static_cast<std::size_t>(count + 1) * 2 + static_cast<std::size_t>(count) * 6 + 16,
            kSourceFile, line));
        if (wide == nullptr) {
            failed_ = true;
            return;
        }
        std::memcpy(wide, text, static_cast<std::size_t>(count) * 2);
        wide[count] = 0;
        block_ = wide;
        text_ = reinterpret_cast<char*>(wide + count + 1);
        TranscodeString(wide, -1, WideEncoding, text_, count * 6 + 16, NarrowEncoding);
        bytes_ = static_cast<int>(std::strlen(text_));
    }
    ~CountedNarrowText() { FreeTrackedMemory(block_); }
    CountedNarrowText(const CountedNarrowText&) = delete;
    CountedNarrowText& operator=(const CountedNarrowText&) = delete;
    bool failed() const { return failed_; }
    LPCSTR get() const { return text_; }
    int bytes() const { return bytes_; }

  private:
    void* block_ = nullptr;
    char* text_ = nullptr;
    int bytes_ = 0;
    bool failed_ = false;
};

void WidenFace(const char* narrow, char16_t* wide, int units) {
    EnsureEncodings();
    TranscodeString(narrow, -1, NarrowEncoding, wide, units * 2, WideEncoding);
    wide[units - 1] = 0;
}

void CopyTextMetrics(const TEXTMETRICA& narrow, TEXTMETRICW* wide) {
    std::memcpy(wide, &narrow, offsetof(TEXTMETRICA, tmFirstChar));
    wide->tmFirstChar = narrow.tmFirstChar;
    wide->tmLastChar = narrow.tmLastChar;
    wide->tmDefaultChar = narrow.tmDefaultChar;
    wide->tmBreakChar = narrow.tmBreakChar;
    wide->tmItalic = narrow.tmItalic;
    wide->tmUnderlined = narrow.tmUnderlined;
    wide->tmStruckOut = narrow.tmStruckOut;
    wide->tmPitchAndFamily = narrow.tmPitchAndFamily;
    wide->tmCharSet = narrow.tmCharSet;
}

struct NarrowEnumContext {
    FONTENUMPROCW callback;
    LPARAM data;
};

int NarrowEnumCallback(const LOGFONTA* font, const TEXTMETRICA* metrics, DWORD type, LPARAM data) {
    auto* context = reinterpret_cast<NarrowEnumContext*>(data);
    const auto* narrow = reinterpret_cast<const ENUMLOGFONTEXA*>(font);
    ENUMLOGFONTEXW wide{};
    std::memcpy(&wide.elfLogFont, &narrow->elfLogFont, offsetof(LOGFONTA, lfFaceName));
    WidenFace(narrow->elfLogFont.lfFaceName, wide.elfLogFont.lfFaceName, LF_FACESIZE);
    WidenFace(reinterpret_cast<const char*>(narrow->elfFullName), wide.elfFullName,
              LF_FULLFACESIZE);
    WidenFace(reinterpret_cast<const char*>(narrow->elfStyle), wide.elfStyle, LF_FACESIZE);
    WidenFace(reinterpret_cast<const char*>(narrow->elfScript), wide.elfScript, LF_FACESIZE);
    NEWTEXTMETRICEXW wideMetrics{};
    if (metrics) CopyTextMetrics(*metrics, &wideMetrics.ntmTm.tm);
    return context->callback(&wide.elfLogFont, &wideMetrics.ntmTm.tm, type, context->data);
}

}  // namespace

HFONT WinCreateFontW(int height, int width, int escapement, int orientation, int weight,
                     DWORD italic, DWORD underline, DWORD strikeOut, DWORD charSet,
                     DWORD outPrecision, DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily,
                     LPCWSTR face) {
    if (SystemApi.wideCalls) {
        if (SystemApi.CreateFontW == nullptr) return nullptr;
        return SystemApi.CreateFontW(height, width, escapement, orientation, weight, italic,
                                     underline, strikeOut, charSet, outPrecision, clipPrecision,
                                     quality, pitchAndFamily, face);
    }
    if (SystemApi.CreateFontA == nullptr) return nullptr;
    NarrowText narrow(face, __LINE__);
    if (narrow.failed()) return nullptr;
    return SystemApi.CreateFontA(height, width, escapement, orientation, weight, italic, underline,
                                 strikeOut, charSet, outPrecision, clipPrecision, quality,
                                 pitchAndFamily, face ? narrow.get() : nullptr);
}

BOOL WinGetTextMetricsW(HDC dc, TEXTMETRICW* metrics) {
    if (SystemApi.wideCalls) {
        return SystemApi.GetTextMetricsW ? SystemApi.GetTextMetricsW(dc, metrics) : FALSE;
    }
    if (SystemApi.GetTextMetricsA == nullptr || metrics == nullptr) return FALSE;
    TEXTMETRICA narrow{};
    if (!SystemApi.GetTextMetricsA(dc, &narrow)) return FALSE;
    CopyTextMetrics(narrow, metrics);
    return TRUE;
}

int WinGetGlyphOutlineW(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                        LPVOID buffer, const MAT2* matrix) {
    DWORD result = GDI_ERROR;
    if (SystemApi.wideCalls) {
        if (SystemApi.GetGlyphOutlineW) {
            result = SystemApi.GetGlyphOutlineW(dc, code, format, metrics, size, buffer, matrix);
        }
    } else if (SystemApi.GetGlyphOutlineA) {
        UINT narrowCode = code;
        if (!(format & GGO_GLYPH_INDEX)) {
            // The character in the NarrowEncoding, its lead byte high.
            char16_t wide[3] = {static_cast<char16_t>(code), 0, 0};
            if (code > 0xFFFF) {
                wide[0] = static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                wide[1] = static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            }
            char narrow[16] = {};
            EnsureEncodings();
            TranscodeString(wide, -1, WideEncoding, narrow, sizeof(narrow), NarrowEncoding);
            narrowCode = 0;
            for (int i = 0; i < 4 && narrow[i] != 0; ++i) {
                narrowCode = narrowCode << 8 | static_cast<unsigned char>(narrow[i]);
            }
        }
        result = SystemApi.GetGlyphOutlineA(dc, narrowCode, format, metrics, size, buffer, matrix);
    }
    return result == GDI_ERROR ? -1 : static_cast<int>(result);
}

int WinEnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW callback, LPARAM data,
                           DWORD flags) {
    if (SystemApi.wideCalls) {
        if (SystemApi.EnumFontFamiliesExW == nullptr) return 0;
        return SystemApi.EnumFontFamiliesExW(dc, font, callback, data, flags);
    }
    if (SystemApi.EnumFontFamiliesExA == nullptr || font == nullptr) return 0;
    LOGFONTA narrow{};
    std::memcpy(&narrow, font, offsetof(LOGFONTA, lfFaceName));
    NarrowText face(font->lfFaceName, __LINE__);
    if (face.failed()) return 0;
    std::strncpy(narrow.lfFaceName, face.get() ? face.get() : "", LF_FACESIZE - 1);
    NarrowEnumContext context{callback, data};
    return SystemApi.EnumFontFamiliesExA(dc, &narrow, &NarrowEnumCallback,
                                         reinterpret_cast<LPARAM>(&context), flags);
}

DWORD WinGetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int maxExtent,
                                GCP_RESULTSW* results, DWORD flags) {
    if (SystemApi.wideCalls) {
        if (SystemApi.GetCharacterPlacementW == nullptr) return 0;
        return SystemApi.GetCharacterPlacementW(dc, text, count, maxExtent, results, flags);
    }
    if (SystemApi.GetCharacterPlacementA == nullptr || results == nullptr) return 0;
    CountedNarrowText narrow(text, count, __LINE__);
    if (narrow.failed()) return 0;
    GCP_RESULTSA narrowResults{};
    narrowResults.lStructSize = sizeof(narrowResults);
    narrowResults.lpOrder = results->lpOrder;
    narrowResults.lpDx = results->lpDx;
    narrowResults.lpCaretPos = results->lpCaretPos;
    narrowResults.lpClass = results->lpClass;
    narrowResults.lpGlyphs = results->lpGlyphs;
    narrowResults.nGlyphs = results->nGlyphs;
    DWORD result = SystemApi.GetCharacterPlacementA(dc, narrow.get(), narrow.bytes(), maxExtent,
                                                    &narrowResults, flags);
    results->nGlyphs = narrowResults.nGlyphs;
    results->nMaxFit = narrowResults.nMaxFit;
    return result;
}

BOOL WinGetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size) {
    if (SystemApi.wideCalls) {
        return SystemApi.GetTextExtentPoint32W
                   ? SystemApi.GetTextExtentPoint32W(dc, text, count, size)
                   : FALSE;
    }
    if (SystemApi.GetTextExtentPoint32A == nullptr) return FALSE;
    CountedNarrowText narrow(text, count, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.GetTextExtentPoint32A(dc, narrow.get(), narrow.bytes(), size);
}

BOOL WinTextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
    if (SystemApi.wideCalls) {
        return SystemApi.TextOutW ? SystemApi.TextOutW(dc, x, y, text, count) : FALSE;
    }
    if (SystemApi.TextOutA == nullptr) return FALSE;
    CountedNarrowText narrow(text, count, __LINE__);
    if (narrow.failed()) return FALSE;
    return SystemApi.TextOutA(dc, x, y, narrow.get(), narrow.bytes());
}

}  // namespace ZiDaz
