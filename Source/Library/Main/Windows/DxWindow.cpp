#include "Main/Windows/DxWindow.h"

#include <cstdarg>
#include <cstring>
#include <mutex>

#include "Main/DxChar.h"
#include "Main/DxCharFormat.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

LibraryCallLock CallLock;
SystemReportState SystemReport;

namespace {

constexpr DWORD kInfinite = 0xFFFFFFFF;

std::mutex& CreationMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void EnterLibraryCallLock() {
    EnsureSystemApiTable();
    if (__atomic_load_n(&CallLock.eventsCreated, __ATOMIC_ACQUIRE) == 0) {
        // Two threads making the first call at once must not both create the pool, nor may one
        // of them use the guard before it exists.
        std::lock_guard creation(CreationMutex());
        if (CallLock.eventsCreated == 0) {
            for (LibraryCallLockWaiter& waiter : CallLock.queue) {
                waiter.event = SystemApi.CreateEventA(nullptr, TRUE, FALSE, nullptr);
            }
            InitTracedLock(&CallLock.guard);
            __atomic_store_n(&CallLock.eventsCreated, 1, __ATOMIC_RELEASE);
        }
    }
    int self = static_cast<int>(SystemApi.GetCurrentThreadId());
    for (;;) {
        AcquireTracedLock(&CallLock.guard, "DxWindow", 1666);
        if (CallLock.owned == 0) {
            if (CallLock.count == 0) break;
            if (CallLock.queue[0].threadId == self) {
                // The head takes the lock; its event goes to the end of the pool.
                if (CallLock.count > 1) {
                    HANDLE event = CallLock.queue[0].event;
                    std::memmove(
                        &CallLock.queue[0], &CallLock.queue[1],
                        sizeof(CallLock.queue[0]) * static_cast<std::size_t>(CallLock.count - 1));
                    CallLock.queue[CallLock.count - 1].event = event;
                    CallLock.queue[CallLock.count - 1].threadId = 0;
                }
                --CallLock.count;
                break;
            }
        } else if (CallLock.owner == self) {
            break;  // re-entry
        }
        if (CallLock.count == kLibraryCallLockQueueSize) {
            ReleaseTracedLock(&CallLock.guard);
            SystemApi.Sleep(1);
            continue;
        }
        LibraryCallLockWaiter& waiter = CallLock.queue[CallLock.count++];
        waiter.threadId = self;
        HANDLE event = waiter.event;
        ReleaseTracedLock(&CallLock.guard);
        SystemApi.WaitForSingleObject(event, kInfinite);
        SystemApi.ResetEvent(event);
    }
    ++CallLock.depth;
    CallLock.owned = 1;
    CallLock.owner = self;
    ReleaseTracedLock(&CallLock.guard);
}

void LeaveLibraryCallLock() {
    EnsureSystemApiTable();
    AcquireTracedLock(&CallLock.guard, "DxWindow", 1842);
    bool wake = false;
    if (CallLock.depth == 1) {
        CallLock.owned = 0;
        CallLock.owner = -1;
        wake = CallLock.count > 0;
    }
    --CallLock.depth;
    HANDLE head = CallLock.queue[0].event;
    ReleaseTracedLock(&CallLock.guard);
    if (wake) {
        SystemApi.SetEvent(head);
        SystemApi.Sleep(0);
    }
}

void CloseLibraryCallLock() {
    std::lock_guard creation(CreationMutex());
    if (CallLock.eventsCreated == 0) return;
    CallLock.eventsCreated = 0;
    for (LibraryCallLockWaiter& waiter : CallLock.queue) {
        if (waiter.event != nullptr) SystemApi.CloseHandle(waiter.event);
        waiter.event = nullptr;
    }
    DeleteTracedLock(&CallLock.guard);
}

namespace {

// The Windows name of the version record's numbers, and its WindowsVersionCode.
struct WindowsName {
    const char16_t* name;
    int code;
};

WindowsName NameOfNtVersion(DWORD major, DWORD minor) {
    switch (major) {
        case 3:
            return {u"NT 3.51", WINDOWS_VERSION_NT31};
        case 4:
            return {u"4.0", WINDOWS_VERSION_NT40};
        case 5:
            if (minor == 0) return {u"2000", WINDOWS_VERSION_2000};
            if (minor == 1) return {u"XP", WINDOWS_VERSION_XP};
            break;
        case 6:
            if (minor == 0) return {u"Vista", WINDOWS_VERSION_VISTA};
            if (minor == 1) return {u"7", WINDOWS_VERSION_7};
            if (minor == 2) return {u"8", WINDOWS_VERSION_8};
            if (minor == 3) return {u"8.1", WINDOWS_VERSION_8_1};
            if (minor == 4) return {u"10", WINDOWS_VERSION_10};
            break;
        case 10:
            if (minor == 0) return {u"10", WINDOWS_VERSION_10};
            break;
        default:
            break;
    }
    return {u"", -1};
}

BOOL VersionAtLeast(DWORD major, DWORD minor, BYTE condition) {
    OSVERSIONINFOEXW query{};
    query.dwOSVersionInfoSize = sizeof(query);
    query.dwMajorVersion = major;
    query.dwMinorVersion = minor;
    ULONGLONG mask = SystemApi.VerSetConditionMask(0, VER_MAJORVERSION, condition);
    mask = SystemApi.VerSetConditionMask(mask, VER_MINORVERSION, condition);
    return WinVerifyVersionInfoW(&query, VER_MAJORVERSION | VER_MINORVERSION, mask);
}

void FormatInto(char16_t* buffer, int units, const char16_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    FormatCodeStringV(CharEncoding::Utf16Le, 1, NarrowEncoding, CharEncoding::Utf16Le, buffer,
                      units, format, arguments);
    va_end(arguments);
}

}  // namespace

int LogSystemReport() {
    EnsureSystemApiTable();
    WriteLogTextUtf16(u"システムの情報を出力します\n");
    IncreaseLogIndent();

    WriteLogTextUtf16(u"RAvoraz Ver3.24a\n");

    SYSTEM_INFO system{};
    if (SystemApi.GetSystemInfo != nullptr) SystemApi.GetSystemInfo(&system);
    SystemReport.logicalProcessorCount = static_cast<int>(system.dwNumberOfProcessors);
    WriteLogFormatUtf16(u"論理プロセッサの数 : %d", SystemReport.logicalProcessorCount);

    WriteLogTextUtf16(u"ＯＳ  ");
    char16_t name[64] = u"Windows";
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    WinGetVersionExW(&version);
    int build = static_cast<int>(version.dwBuildNumber);
    char16_t servicePack[128];
    CopyCodeStringBounded(CharEncoding::Utf16Le, servicePack, sizeof(servicePack),
                          version.szCSDVersion);
    int code = -1;
    const char16_t* suffix = u"";
    switch (version.dwPlatformId) {
        case VER_PLATFORM_WIN32s:
            suffix = u"3.1";
            code = WINDOWS_VERSION_31;
            break;
        case VER_PLATFORM_WIN32_WINDOWS:
            if (version.dwMinorVersion == 0) {
                suffix = servicePack[1] == u'C' ? u"95OSR2" : u"95";
                code = WINDOWS_VERSION_95;
            } else if (version.dwMinorVersion == 10) {
                suffix = servicePack[1] == u'A' ? u"98SE" : u"98";
                code = WINDOWS_VERSION_98;
            } else if (version.dwMinorVersion == 90) {
                suffix = u"Me";
                code = WINDOWS_VERSION_ME;
            }
            break;
        case VER_PLATFORM_WIN32_NT: {
            bool newer = version.dwMajorVersion > 5 && version.dwMinorVersion > 1;
            bool canVerify =
                SystemApi.VerifyVersionInfoW != nullptr && SystemApi.VerSetConditionMask != nullptr;
            if (newer && SystemApi.RtlGetVersion != nullptr) {
                OSVERSIONINFOEXW exact{};
                exact.dwOSVersionInfoSize = sizeof(exact);
                SystemApi.RtlGetVersion(reinterpret_cast<OSVERSIONINFOW*>(&exact));
                build = static_cast<int>(exact.dwBuildNumber);
                CopyCodeStringBounded(CharEncoding::Utf16Le, servicePack, sizeof(servicePack),
                                      exact.szCSDVersion);
                if (exact.dwMajorVersion == 10 && exact.dwMinorVersion == 0) {
                    bool eleven = build >= 22000;
                    suffix = eleven ? u"11" : u"10";
                    code = eleven ? WINDOWS_VERSION_11 : WINDOWS_VERSION_10;
                } else {
                    WindowsName known = NameOfNtVersion(exact.dwMajorVersion, exact.dwMinorVersion);
                    suffix = known.name;
                    code = known.code;
                }
            } else if (newer && canVerify) {
                build = 0;
                servicePack[0] = 0;
                if (VersionAtLeast(10, 0, VER_GREATER)) {
                    suffix = u"10 After";
                    code = WINDOWS_VERSION_10;
                } else if (VersionAtLeast(10, 0, VER_GREATER_EQUAL) ||
                           VersionAtLeast(6, 4, VER_GREATER_EQUAL)) {
                    suffix = u"10";
                    code = WINDOWS_VERSION_10;
                } else if (VersionAtLeast(6, 3, VER_GREATER_EQUAL)) {
                    suffix = u"8.1";
                    code = WINDOWS_VERSION_8_1;
                } else {
                    suffix = u"8";
                    code = WINDOWS_VERSION_8;
                }
            } else {
                WindowsName known = NameOfNtVersion(version.dwMajorVersion, version.dwMinorVersion);
                suffix = known.name;
                code = known.code;
            }
            break;
        }
        default:
            break;
    }
    AppendCodeStringBounded(CharEncoding::Utf16Le, name, sizeof(name), suffix);
    SystemReport.windowsVersionCode = code;
    if (build != 0) {
        FormatInto(SystemReport.windowsDescription, 256, u"%s ( Build %d %s )", name, build,
                   servicePack);
    } else {
        FormatInto(SystemReport.windowsDescription, 256, u"%s", name);
    }
    WriteLogFormatUtf16(u"%s", SystemReport.windowsDescription);

    SystemReport.directXVersionCode = 0x70000;
    TIMECAPS caps{};
    if (SystemApi.timeGetDevCaps != nullptr &&
        SystemApi.timeGetDevCaps(&caps, sizeof(caps)) == TIMERR_NOERROR &&
        SystemApi.timeBeginPeriod != nullptr) {
        SystemApi.timeBeginPeriod(caps.wPeriodMin);
    }
    DecreaseLogIndent();
    return 0;
}

}  // namespace ZiDaz
