#include <gtest/gtest.h>

#include "platform/Modules.h"

namespace {

using MultiByteToWideCharFn = int (*)(UINT, DWORD, LPCSTR, int, LPWSTR, int);

TEST(ModuleRegistry, FindsModulesByFileNameAndEntriesByName) {
    HMODULE a = LoadLibraryA("kernel32.dll");
    HMODULE b = LoadLibraryA("C:\\Windows\\System32\\KERNEL32.DLL");
    HMODULE c = LoadLibraryW(u"Kernel32");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    auto convert = reinterpret_cast<MultiByteToWideCharFn>(GetProcAddress(a, "MultiByteToWideChar"));
    ASSERT_NE(convert, nullptr);
    char16_t out[4] = {};
    EXPECT_EQ(convert(65001, 0, "ab", -1, out, 4), 3);
    EXPECT_EQ(out[1], u'b');
    EXPECT_EQ(GetProcAddress(a, "multibytetowidechar"), nullptr);  // entry names keep their case
    EXPECT_EQ(GetProcAddress(a, "NoSuchEntry"), nullptr);
    EXPECT_EQ(LoadLibraryA("d3d11.dll"), nullptr);
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(b));
    EXPECT_TRUE(FreeLibrary(c));
}

TEST(ModuleRegistry, TestHooksHideModulesAndEntries) {
    platform::HideModule("KERNEL32.dll", true);
    EXPECT_EQ(LoadLibraryA("kernel32.dll"), nullptr);
    platform::HideModule("kernel32", false);
    HMODULE k = LoadLibraryA("kernel32.dll");
    ASSERT_NE(k, nullptr);
    platform::HideEntry("kernel32.dll", "GetOEMCP", true);
    EXPECT_EQ(GetProcAddress(k, "GetOEMCP"), nullptr);
    EXPECT_NE(GetProcAddress(k, "GetACP"), nullptr);
    platform::ResetHiddenModules();
    EXPECT_NE(GetProcAddress(k, "GetOEMCP"), nullptr);
    FreeLibrary(k);
}

}  // namespace
