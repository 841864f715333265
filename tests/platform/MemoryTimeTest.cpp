#include <gtest/gtest.h>

#include <cstring>
#include <ctime>

#include "platform/Kernel32.h"
#include "platform/Modules.h"
#include "platform/Winmm.h"

namespace {

using namespace platform::kernel32;

TEST(VirtualMemory, CommitQueryReserveAndRelease) {
    auto* block =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 5'242'912, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    block[5'242'911] = 2;
    MEMORY_BASIC_INFORMATION info;
    ASSERT_EQ(VirtualQuery(block, &info, sizeof(info)), sizeof(info));
    EXPECT_EQ(info.BaseAddress, block);
    EXPECT_EQ(info.AllocationBase, block);
    EXPECT_EQ(info.State, MEM_COMMIT);
    EXPECT_EQ(info.Protect, PAGE_READWRITE);
    EXPECT_GE(info.RegionSize, 5'242'912u);
    EXPECT_LT(info.RegionSize, 5'242'912u + 65536);
    EXPECT_FALSE(VirtualFree(block + 4096, 0, MEM_RELEASE));
    EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(block, 0, MEM_RELEASE));
    ASSERT_EQ(VirtualQuery(block, &info, sizeof(info)), sizeof(info));
    EXPECT_EQ(info.State, MEM_FREE);

    const SIZE_T page = 4096;
    auto* reserved =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 16 * page, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(reserved, nullptr);
    ASSERT_EQ(VirtualAlloc(reserved + 4 * page, 2 * page, MEM_COMMIT, PAGE_READWRITE),
              reserved + 4 * page);
    reserved[4 * page] = 7;
    VirtualQuery(reserved, &info, sizeof(info));
    EXPECT_EQ(info.State, MEM_RESERVE);
    EXPECT_EQ(info.RegionSize, 4 * page);
    VirtualQuery(reserved + 5 * page + 10, &info, sizeof(info));
    EXPECT_EQ(info.State, MEM_COMMIT);
    EXPECT_EQ(info.BaseAddress, reserved + 5 * page);
    EXPECT_EQ(info.RegionSize, page);
    EXPECT_TRUE(VirtualFree(reserved + 4 * page, 2 * page, MEM_DECOMMIT));
    VirtualQuery(reserved, &info, sizeof(info));
    EXPECT_EQ(info.RegionSize, 16 * page);
    EXPECT_TRUE(VirtualFree(reserved, 0, MEM_RELEASE));
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
}

TEST(ProcessHeap, ZeroedAndPlainBlocks) {
    HANDLE heap = GetProcessHeap();
    auto* zeroed = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 64));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(zeroed[i], 0);
    EXPECT_TRUE(HeapFree(heap, 0, zeroed));
    EXPECT_EQ(HeapAlloc(nullptr, 0, 8), nullptr);
}

TEST(SystemFigures, ProcessorsPagesAndMemory) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_GE(info.dwNumberOfProcessors, 1u);
    EXPECT_GE(info.dwPageSize, 4096u);
    EXPECT_EQ(info.dwAllocationGranularity, 65536u);

    MEMORYSTATUSEX ex{};
    EXPECT_FALSE(GlobalMemoryStatusEx(&ex));  // the length must be set
    ex.dwLength = sizeof(ex);
    ASSERT_TRUE(GlobalMemoryStatusEx(&ex));
    EXPECT_GT(ex.ullTotalPhys, 0u);
    EXPECT_LE(ex.ullAvailPhys, ex.ullTotalPhys);
    EXPECT_LE(ex.dwMemoryLoad, 100u);
    MEMORYSTATUS plain{};
    GlobalMemoryStatus(&plain);
    EXPECT_EQ(plain.dwLength, sizeof(plain));
    EXPECT_GT(plain.dwTotalPhys, 0u);
}

TEST(Clocks, CounterTicksAndLocalTime) {
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10'000'000);
    QueryPerformanceCounter(&a);
    DWORD tick = GetTickCount();
    DWORD mm = platform::winmm::timeGetTime();
    Sleep(15);
    QueryPerformanceCounter(&b);
    EXPECT_GE(b.QuadPart - a.QuadPart, 150'000);
    EXPECT_LE(mm - tick, 2u);
    EXPECT_GE(GetTickCount() - tick, 14u);
    Sleep(0);  // yields and returns

    std::time_t before = std::time(nullptr);
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::tm local{};
    localtime_r(&before, &local);
    EXPECT_EQ(now.wYear, local.tm_year + 1900);
    EXPECT_EQ(now.wMonth, local.tm_mon + 1);
    EXPECT_LT(now.wMilliseconds, 1000);
    EXPECT_EQ(platform::winmm::timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(platform::winmm::timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(platform::winmm::timeBeginPeriod(0), TIMERR_NOCANDO);

    HMODULE winmm = LoadLibraryA("winmm.dll");
    ASSERT_NE(winmm, nullptr);
    EXPECT_NE(GetProcAddress(winmm, "timeGetTime"), nullptr);
    FreeLibrary(winmm);
}

}  // namespace
