#include "Main/Windows/DxWinAPI.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxChar.h"
#include "platform/Modules.h"

namespace ZiDaz {
namespace {

namespace fs = std::filesystem;

class SystemApiTableTest : public ::testing::Test {
  protected:
    void SetUp() override { ReleaseSystemApiTable(); }
    void TearDown() override {
        ReleaseSystemApiTable();
        platform::ResetHiddenModules();
        SystemApi.wideCalls = 0;
    }
};

TEST_F(SystemApiTableTest, HoldsNineteenModulesAnd361EntriesBesideTheFlags) {
    // Two flags, then only pointers: 19 module handles, 361 entry points and the code-page
    // builder's WideCharToMultiByte.
    EXPECT_EQ(sizeof(SystemApiTable), 2 * sizeof(int) + (19 + 361 + 1) * sizeof(void*));
}

TEST_F(SystemApiTableTest, LoadsOnceAndReleasesEverything) {
    int before = platform::ModuleLoadCount("kernel32.dll");
    EnsureSystemApiTable();
    EnsureSystemApiTable();
    LoadSystemApiTable();
    EXPECT_EQ(SystemApi.loaded, 1);
    EXPECT_EQ(SystemApi.wideCalls, 1);
    EXPECT_EQ(platform::ModuleLoadCount("kernel32.dll"), before + 1);
    EXPECT_NE(SystemApi.kernel32Module, nullptr);
    EXPECT_NE(SystemApi.CreateFileW, nullptr);
    EXPECT_NE(SystemApi.GetCurrentThreadId, nullptr);
    EXPECT_NE(SystemApi.RtlGetVersion, nullptr);
    EXPECT_NE(SystemApi.SetProcessDpiAwareness, nullptr);
    // Offered by no module of this platform: null, and their callers take their own way.
    EXPECT_EQ(SystemApi.dwmapiModule, nullptr);
    EXPECT_EQ(SystemApi.DwmEnableComposition, nullptr);
    EXPECT_EQ(SystemApi.MFStartup, nullptr);
    EXPECT_EQ(SystemApi.RegisterTouchWindow, nullptr);

    EXPECT_EQ(ReleaseSystemApiTable(), 0);
    EXPECT_EQ(SystemApi.loaded, 0);
    EXPECT_EQ(SystemApi.wideCalls, 1);  // kept
    EXPECT_EQ(SystemApi.kernel32Module, nullptr);
    EXPECT_EQ(SystemApi.CreateFileW, nullptr);
    EXPECT_EQ(SystemApi.RtlGetVersion, nullptr);
    EXPECT_EQ(platform::ModuleLoadCount("kernel32.dll"), before);
    EXPECT_EQ(ReleaseSystemApiTable(), 0);

    EnsureSystemApiTable();  // the next use loads it again
    EXPECT_NE(SystemApi.CreateFileW, nullptr);
}

TEST_F(SystemApiTableTest, FirstUseFromManyThreadsAtOnceSeesAFullTable) {
    for (int round = 0; round < 50; ++round) {
        ReleaseSystemApiTable();
        std::atomic<int> ready{0};
        std::atomic<int> missing{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&] {
                ++ready;
                while (ready.load() < 8) {
                }
                EnsureSystemApiTable();
                if (SystemApi.InitializeCriticalSection == nullptr ||
                    SystemApi.GetCurrentThreadId == nullptr || SystemApi.CreateFileW == nullptr)
                    ++missing;
            });
        }
        for (auto& t : threads) t.join();
        ASSERT_EQ(missing.load(), 0) << "round " << round;
    }
}

TEST_F(SystemApiTableTest, AHiddenModuleLeavesItsGroupNull) {
    platform::HideModule("ntdll.dll", true);
    platform::HideModule("shcore.dll", true);
    platform::HideEntry("kernel32.dll", "VerSetConditionMask", true);
    EnsureSystemApiTable();  // DPI awareness skipped: no crash without shcore
    EXPECT_EQ(SystemApi.ntdllModule, nullptr);
    EXPECT_EQ(SystemApi.RtlGetVersion, nullptr);
    EXPECT_EQ(SystemApi.SetProcessDpiAwareness, nullptr);
    EXPECT_EQ(SystemApi.VerSetConditionMask, nullptr);
    EXPECT_NE(SystemApi.VerifyVersionInfoW, nullptr);
}

TEST_F(SystemApiTableTest, WithoutWideCallsTheWrappersGoNarrow) {
    platform::HideEntry("kernel32.dll", "GetCurrentDirectoryW", true);
    platform::HideEntry("kernel32.dll", "CreateFileW", true);
    platform::HideEntry("kernel32.dll", "DeleteFileW", true);
    platform::HideEntry("kernel32.dll", "lstrlenW", true);
    EnsureSystemApiTable();
    ASSERT_EQ(SystemApi.wideCalls, 0);

    fs::path folder = fs::temp_directory_path() / ("velk-winapi-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::u16string base = folder.u16string() + u"/";
    // 82 units fit the stack buffer (82 x 6 + 16 = 508 bytes), longer ones take a heap block.
    for (std::size_t length :
         {std::size_t{10}, std::size_t{82}, std::size_t{83}, std::size_t{200}}) {
        std::u16string name = base;
        name.resize(std::max(length, base.size() + 1), u'a');
        HANDLE file = WinCreateFileW(name.c_str(), 0x40000000, 0, nullptr, 1, 0x80, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << length;
        SystemApi.CloseHandle(file);
        EXPECT_TRUE(fs::exists(fs::path(name))) << length;
        EXPECT_TRUE(WinDeleteFileW(name.c_str())) << length;
        EXPECT_FALSE(fs::exists(fs::path(name))) << length;
    }
    fs::remove_all(folder);

    char16_t directory[512];
    DWORD result = WinGetCurrentDirectoryW(512, directory);
    std::string narrow = fs::current_path().string();
    EXPECT_EQ(result, narrow.size() * 2);  // twice the narrow length, as the narrow form says
    EXPECT_EQ(fs::path(std::u16string(directory)), fs::current_path());

    EXPECT_EQ(WinLstrlenW(u"abc"), 3);
    char16_t lower[] = u"MiXeD";
    EXPECT_EQ(WinCharLowerBuffW(lower, 5), 5u);
    EXPECT_EQ(std::u16string(lower), u"mixed");
    EXPECT_EQ(WinLstrcmpW(u"abc", u"abd"), -1);
}

UINT lastMessage = 0;
LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 0x8001) {
        lastMessage = message;
        return static_cast<LRESULT>(wParam + lParam);
    }
    return WinDefWindowProc(window, message, wParam, lParam);
}

TEST_F(SystemApiTableTest, WindowCallsWorkThroughTheNarrowForms) {
    for (const char* name :
         {"RegisterClassExW", "CreateWindowExW", "SendMessageW", "PeekMessageW", "DispatchMessageW",
          "DefWindowProcW", "GetCurrentDirectoryW", "FindWindowW", "UnregisterClassW"}) {
        platform::HideEntry("User32.dll", name, true);
    }
    platform::HideEntry("kernel32.dll", "GetCurrentDirectoryW", true);
    EnsureSystemApiTable();
    ASSERT_EQ(SystemApi.wideCalls, 0);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &RecordingProcedure;
    windowClass.lpszClassName = u"NarrowClass";
    ASSERT_NE(WinRegisterClassExW(&windowClass), 0);
    HWND window = WinCreateWindowExW(0, u"NarrowClass", u"Narrow", 0, 0, 0, 64, 64, nullptr,
                                     nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(WinSendMessage(window, 0x8001, 40, 2), 42);
    EXPECT_EQ(lastMessage, 0x8001u);
    MSG message{};
    while (WinPeekMessage(&message, nullptr, 0, 0, 1)) WinDispatchMessage(&message);
    if (SystemApi.DestroyWindow != nullptr) {
        reinterpret_cast<BOOL (*)(HWND)>(SystemApi.DestroyWindow)(window);
    }
    EXPECT_TRUE(WinUnregisterClassW(u"NarrowClass", nullptr));
}

TEST_F(SystemApiTableTest, VersionQueriesAnswerAsWindowsTen) {
    EnsureSystemApiTable();
    OSVERSIONINFOW legacy{};
    legacy.dwOSVersionInfoSize = sizeof(legacy);
    ASSERT_TRUE(WinGetVersionExW(&legacy));
    EXPECT_EQ(legacy.dwMajorVersion, 6u);
    EXPECT_EQ(legacy.dwMinorVersion, 2u);
    EXPECT_FALSE(WinGetVersionExW(nullptr));

    struct Case {
        DWORD major, minor;
        BYTE condition;
        bool expected;
    };
    const Case cases[] = {{10, 0, VER_GREATER, false},
                          {10, 0, VER_GREATER_EQUAL, true},
                          {6, 4, VER_GREATER_EQUAL, true},
                          {6, 3, VER_GREATER, true},
                          {11, 0, VER_GREATER_EQUAL, false},
                          {10, 0, VER_EQUAL, true},
                          {10, 1, VER_LESS, true}};
    for (const Case& c : cases) {
        OSVERSIONINFOEXW query{};
        query.dwOSVersionInfoSize = sizeof(query);
        query.dwMajorVersion = c.major;
        query.dwMinorVersion = c.minor;
        ULONGLONG mask = SystemApi.VerSetConditionMask(0, VER_MAJORVERSION, c.condition);
        mask = SystemApi.VerSetConditionMask(mask, VER_MINORVERSION, c.condition);
        EXPECT_EQ(WinVerifyVersionInfoW(&query, VER_MAJORVERSION | VER_MINORVERSION, mask) != 0,
                  c.expected)
            << c.major << "." << c.minor << " condition " << int(c.condition);
    }
}

}  // namespace
}  // namespace ZiDaz
