#include "platform/SystemVersion.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform {

namespace {

constexpr DWORD kMajor = 10;
constexpr DWORD kMinor = 0;
constexpr DWORD kBuild = 19045;
// What GetVersionEx tells a program that declares no compatibility with newer systems.
constexpr DWORD kLegacyMajor = 6;
constexpr DWORD kLegacyMinor = 2;
constexpr DWORD kLegacyBuild = 9200;

constexpr HRESULT kOk = 0;
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT kInvalidArgument = static_cast<HRESULT>(0x80070057u);

template <typename Info>
void FillVersion(Info* info, DWORD major, DWORD minor, DWORD build) {
    info->dwMajorVersion = major;
    info->dwMinorVersion = minor;
    info->dwBuildNumber = build;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
}

int Compare(ULONGLONG a, ULONGLONG b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

bool Holds(int comparison, BYTE condition) {
    switch (condition) {
        case VER_EQUAL:
            return comparison == 0;
        case VER_GREATER:
            return comparison > 0;
        case VER_GREATER_EQUAL:
            return comparison >= 0;
        case VER_LESS:
            return comparison < 0;
        case VER_LESS_EQUAL:
            return comparison <= 0;
        default:
            return false;
    }
}

BYTE ConditionOf(ULONGLONG mask, DWORD typeBit) {
    int index = 0;
    while (index < 32 && (typeBit >> index) != 1) ++index;
    return static_cast<BYTE>((mask >> (index * 3)) & 7);
}

// The version fields compare as one number, most significant first, under the condition of the
// most significant field asked for; the build number is compared on its own.
template <typename Info>
BOOL Verify(const Info* info, DWORD typeMask, ULONGLONG conditionMask) {
    if (info == nullptr || typeMask == 0 || conditionMask == 0) {
        kernel32::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD order[] = {VER_MAJORVERSION, VER_MINORVERSION, VER_SERVICEPACKMAJOR,
                           VER_SERVICEPACKMINOR};
    const ULONGLONG mine[] = {kMajor, kMinor, 0, 0};
    const ULONGLONG theirs[] = {info->dwMajorVersion, info->dwMinorVersion, info->wServicePackMajor,
                                info->wServicePackMinor};
    bool ok = true;
    BYTE condition = 0;
    int comparison = 0;
    for (int i = 0; i < 4; ++i) {
        if ((typeMask & order[i]) == 0) continue;
        if (condition == 0) condition = ConditionOf(conditionMask, order[i]);
        if (comparison == 0) comparison = Compare(mine[i], theirs[i]);
    }
    if (condition != 0) ok = Holds(comparison, condition);
    if (ok && (typeMask & VER_BUILDNUMBER) != 0) {
        ok = Holds(Compare(kBuild, info->dwBuildNumber),
                   ConditionOf(conditionMask, VER_BUILDNUMBER));
    }
    if (!ok) kernel32::SetLastError(ERROR_OLD_WIN_VERSION);
    return ok ? TRUE : FALSE;
}

bool DebugOutputOn() {
    const char* setting = std::getenv("VELK_DEBUG_OUTPUT");
    return setting != nullptr && std::strcmp(setting, "1") == 0;
}

// Set once per process; the first library calls of several threads may all try to set it.
std::atomic<int> awarenessSetting{0};

}  // namespace

namespace kernel32 {

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FillVersion(info, kLegacyMajor, kLegacyMinor, kLegacyBuild);
    return TRUE;
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FillVersion(info, kLegacyMajor, kLegacyMinor, kLegacyBuild);
    return TRUE;
}

ULONGLONG VerSetConditionMask(ULONGLONG mask, DWORD typeBit, BYTE condition) {
    if (typeBit == 0 || (typeBit & (typeBit - 1)) != 0) return mask;
    int index = 0;
    while ((typeBit >> index) != 1) ++index;
    return (mask & ~(7ULL << (index * 3))) | (static_cast<ULONGLONG>(condition & 7) << (index * 3));
}

BOOL VerifyVersionInfoA(OSVERSIONINFOEXA* info, DWORD typeMask, ULONGLONG conditionMask) {
    return Verify(info, typeMask, conditionMask);
}

BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask) {
    return Verify(info, typeMask, conditionMask);
}

void OutputDebugStringA(LPCSTR text) {
    if (text != nullptr && DebugOutputOn()) std::fputs(text, stderr);
}

void OutputDebugStringW(LPCWSTR text) {
    if (text == nullptr || !DebugOutputOn()) return;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
    std::fputs(utf8.c_str(), stderr);
}

int lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(std::strlen(text));
}

int lstrlenW(LPCWSTR text) {
    int units = 0;
    if (text != nullptr) {
        while (text[units] != 0) ++units;
    }
    return units;
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    int result = std::strcmp(a != nullptr ? a : "", b != nullptr ? b : "");
    return result < 0 ? -1 : result > 0 ? 1 : 0;
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
    if (a == nullptr) a = u"";
    if (b == nullptr) b = u"";
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : *a > *b ? 1 : 0;
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
    if (dst == nullptr || src == nullptr) return nullptr;
    return std::strcpy(dst, src);
}

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
    if (dst == nullptr || src == nullptr) return nullptr;
    LPWSTR out = dst;
    while ((*out++ = *src++) != 0) {
    }
    return dst;
}

// Copies at most count - 1 characters and always terminates.
LPSTR lstrcpynA(LPSTR dst, LPCSTR src, int count) {
    if (dst == nullptr || src == nullptr || count <= 0) return nullptr;
    int i = 0;
    for (; i < count - 1 && src[i] != 0; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int count) {
    if (dst == nullptr || src == nullptr || count <= 0) return nullptr;
    int i = 0;
    for (; i < count - 1 && src[i] != 0; ++i) dst[i] = src[i];
    dst[i] = 0;
    return dst;
}

// number * numerator / denominator with a 64-bit product, rounded half away from zero.
int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    long long product = static_cast<long long>(number) * numerator;
    bool negative = (product < 0) != (denominator < 0);
    long long a = product < 0 ? -product : product;
    long long d = denominator < 0 ? -static_cast<long long>(denominator) : denominator;
    long long result = (a + d / 2) / d;
    if (result > 0x7FFFFFFF) return -1;
    return static_cast<int>(negative ? -result : result);
}

namespace {
const ModuleExports kExports("kernel32.dll", {{"GetVersionExA", Export(&GetVersionExA)},
                                              {"GetVersionExW", Export(&GetVersionExW)},
                                              {"VerSetConditionMask", Export(&VerSetConditionMask)},
                                              {"VerifyVersionInfoA", Export(&VerifyVersionInfoA)},
                                              {"VerifyVersionInfoW", Export(&VerifyVersionInfoW)},
                                              {"OutputDebugStringA", Export(&OutputDebugStringA)},
                                              {"OutputDebugStringW", Export(&OutputDebugStringW)},
                                              {"lstrlenA", Export(&lstrlenA)},
                                              {"lstrlenW", Export(&lstrlenW)},
                                              {"lstrcmpA", Export(&lstrcmpA)},
                                              {"lstrcmpW", Export(&lstrcmpW)},
                                              {"lstrcpyA", Export(&lstrcpyA)},
                                              {"lstrcpyW", Export(&lstrcpyW)},
                                              {"lstrcpynA", Export(&lstrcpynA)},
                                              {"lstrcpynW", Export(&lstrcpynW)},
                                              {"MulDiv", Export(&MulDiv)}});
}  // namespace

}  // namespace kernel32

namespace ntdll {

LONG RtlGetVersion(OSVERSIONINFOW* info) {
    if (info == nullptr) return static_cast<LONG>(0xC000000Du);  // STATUS_INVALID_PARAMETER
    FillVersion(info, kMajor, kMinor, kBuild);
    return 0;
}

namespace {
const ModuleExports kExports("ntdll.dll", {{"RtlGetVersion", Export(&RtlGetVersion)}});
}

}  // namespace ntdll

namespace shcore {

HRESULT SetProcessDpiAwareness(int awareness) {
    if (awareness < 0 || awareness > 2) return kInvalidArgument;
    // Set once per process, as on the system: only the first setter changes it.
    int unset = 0;
    if (!awarenessSetting.compare_exchange_strong(unset, awareness)) return kAccessDenied;
    return kOk;
}

HRESULT GetProcessDpiAwareness(HANDLE, int* awareness) {
    if (awareness == nullptr) return kInvalidArgument;
    *awareness = awarenessSetting.load();
    return kOk;
}

namespace {
const ModuleExports kExports("shcore.dll",
                             {{"SetProcessDpiAwareness", Export(&SetProcessDpiAwareness)},
                              {"GetProcessDpiAwareness", Export(&GetProcessDpiAwareness)}});
}

}  // namespace shcore

namespace winmm {

MMRESULT timeGetDevCaps(TIMECAPS* caps, UINT size) {
    if (caps == nullptr || size < sizeof(TIMECAPS)) return TIMERR_NOCANDO;
    caps->wPeriodMin = 1;
    caps->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}

namespace {
const ModuleExports kExports("winmm.dll", {{"timeGetDevCaps", Export(&timeGetDevCaps)}});
}

}  // namespace winmm

}  // namespace platform
