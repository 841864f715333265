#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main/DxHeap.h"

namespace {

using namespace ZiDaz;

// System memory for test heaps from the C heap, with every request recorded.
struct SystemLog {
    std::vector<std::size_t> requests;
    int freed = 0;
};

struct TestHandle {
    void* base;
    std::size_t size;
};

int TestAllocate(void* userData, HeapSystemHandle* handle, std::size_t size) {
    static_cast<SystemLog*>(userData)->requests.push_back(size);
    TestHandle h{std::aligned_alloc(4096, (size + 4095) / 4096 * 4096), size};
    std::memcpy(handle->bytes, &h, sizeof(h));
    return h.base != nullptr ? 0 : -1;
}
TestHandle Read(HeapSystemHandle* handle) {
    TestHandle h;
    std::memcpy(&h, handle->bytes, sizeof(h));
    return h;
}
void* TestAddress(HeapSystemHandle* handle) {
    return Read(handle).base;
}
std::size_t TestSize(HeapSystemHandle* handle) {
    return Read(handle).size;
}
int TestFree(HeapSystemHandle* handle) {
    std::free(Read(handle).base);
    return 0;
}
SystemLog* lastSystemLog = nullptr;
int CountingFree(HeapSystemHandle* handle) {
    if (lastSystemLog != nullptr) ++lastSystemLog->freed;
    return TestFree(handle);
}

std::vector<std::u16string> capturedLines;
void Capture(const char16_t* text) {
    capturedLines.push_back(text);
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// A sink that shows the heap's messages on standard error (UTF-8), for the death tests.
void ToStderr(const char16_t* text) {
    std::string out;
    for (; *text; ++text) {
        char32_t c = *text;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    std::fputs(out.c_str(), stderr);
}

class TlsfHeapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lastSystemLog = &system;
        SetUpTlsfHeap(&heap, 1, 16, 1, 4194304, &system, &TestAllocate, &TestAddress, &TestSize,
                      &CountingFree);
        capturedLines.clear();
    }
    void TearDown() override {
        CloseTlsfHeap(&heap);
        SetHeapLogSink(nullptr);
        lastSystemLog = nullptr;
    }
    SystemLog system;
    TlsfHeap heap;
};

constexpr std::size_t kTagBytes = sizeof(MemTag);
constexpr std::size_t kUserOffset = (kTagBytes + 4 + 15) / 16 * 16;

TEST_F(TlsfHeapTest, FirstAllocationGrowsTheHeapByTheRequestPlusOneMegabytePlusTheGrowthStep) {
    auto* user = static_cast<std::uint8_t*>(AllocateHeapBlock(&heap, 1, 0, 0, "a.cpp", 1, 0));
    ASSERT_NE(user, nullptr);
    ASSERT_EQ(system.requests.size(), 1u);
    EXPECT_EQ(system.requests[0], (1'048'592u + 4'194'304u + 31u) / 16 * 16);  // 5,242,912
    EXPECT_EQ(system.requests[0], 5'242'912u);
    HeapMemInfo* region = heap.regions;
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(user, reinterpret_cast<std::uint8_t*>(region->firstTag) + kUserOffset);
    EXPECT_EQ(GetAllocSize(user), 1u);
    EXPECT_EQ(heap.UseTagNum, 1);
    // A used block is the user offset, the user size rounded up to 16 and the trailing guard.
    EXPECT_EQ(heap.TotalUseSize, static_cast<std::int64_t>(kUserOffset + 16 + 16));
    HeapErrorCheck(&heap);
}

TEST_F(TlsfHeapTest, FreedNeighboursMergeAndAnEmptyRegionGoesBackToTheSystem) {
    void* a = AllocateHeapBlock(&heap, 100, 0, 0, "a", 1, 0);
    void* b = AllocateHeapBlock(&heap, 200, 0, 0, "b", 2, 0);
    void* c = AllocateHeapBlock(&heap, 300, 0, 0, "c", 3, 0);
    EXPECT_EQ(heap.FreeTagNum, 1);  // the rest of the region
    FreeMemory(a);
    EXPECT_EQ(heap.FreeTagNum, 2);
    FreeMemory(b);  // merges with a's free block
    EXPECT_EQ(heap.FreeTagNum, 2);
    HeapErrorCheck(&heap);
    EXPECT_EQ(system.freed, 0);
    FreeMemory(c);  // merges with both sides: the region is empty and is given back
    EXPECT_EQ(system.freed, 1);
    EXPECT_EQ(heap.regions, nullptr);
    EXPECT_EQ(heap.FreeTagNum, 0);
    EXPECT_EQ(heap.TotalFreeSize, 0);
    EXPECT_EQ(heap.firstLevelBitmap, 0u);
    HeapErrorCheck(&heap);
}

TEST(TlsfHeap, ARemainderTooSmallForATagStaysWithTheUsedBlock) {
    // One fixed region that the heap may not grow: find sizes on both sides of the split rule.
    alignas(16) static std::uint8_t region[8192];
    int split = 0, whole = 0;
    for (std::size_t size = 1; size < 8192; size += 7) {
        TlsfHeap heap;
        SetUpTlsfHeap(&heap, 1, 16, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, region,
                      sizeof(region));
        std::int64_t usable = heap.TotalFreeSize;
        void* user = AllocateHeapBlock(&heap, size, 0, 0, "x", 1, 0);
        if (user == nullptr) {
            CloseTlsfHeap(&heap);
            continue;
        }
        std::int64_t used = static_cast<std::int64_t>(kUserOffset + (size + 15) / 16 * 16 + 16);
        if (usable - used < static_cast<std::int64_t>(kTagBytes + 56)) {
            ++whole;
            EXPECT_EQ(heap.TotalUseSize, usable) << size;
            EXPECT_EQ(heap.FreeTagNum, 0);
        } else {
            ++split;
            EXPECT_EQ(heap.TotalUseSize, used) << size;
            EXPECT_EQ(heap.FreeTagNum, 1);
        }
        HeapErrorCheck(&heap);
        FreeMemory(user);
        EXPECT_EQ(heap.TotalFreeSize, usable);
        HeapErrorCheck(&heap);
        CloseTlsfHeap(&heap);
    }
    EXPECT_GT(split, 0);
    EXPECT_GT(whole, 0);
}

TEST_F(TlsfHeapTest, DumpLineShowsTheBlockWithTheFileNamesLast17Characters) {
    SetHeapLogSink(&Capture);
    SetHeapTime(&heap, 7);
    auto* user = static_cast<std::uint8_t*>(
        AllocateHeapBlock(&heap, 5, 0, 0, "abcdefghijklmnopqrstuvwxyz0123", 70000, 0));
    for (int i = 0; i < 5; ++i) user[i] = static_cast<std::uint8_t>(0xA0 + i);
    void* hidden = AllocateHeapBlock(&heap, 20, 0, 0, nullptr, -5, 1);
    void* second = AllocateHeapBlock(&heap, 3000, 0, 0, nullptr, -5, 0);
    std::memset(second, 0, 3000);
    DumpHeapBlocks(&heap);
    ASSERT_EQ(capturedLines.size(), 2u);  // the hidden block is left out
    char address[32];
    std::snprintf(address, sizeof(address), "%08llx",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(user)));
    std::string expected = std::string(
                               "\tsize:       176(     0.172kb)  user size:         5(     0.005kb)"
                               "  time:00007  file:nopqrstuvwxyz0123         "
                               "  line:70000   ID:0      addr:") +
                           address + "  data:[a0 a1 a2 a3 a4]\n";
    EXPECT_EQ(Narrow(capturedLines[0]), expected);
    std::string second_line = Narrow(capturedLines[1]);
    EXPECT_NE(second_line.find("user size:      3000(     2.930kb)"), std::string::npos)
        << second_line;
    EXPECT_NE(second_line.find("file:NoName                      line:0       ID:2    "),
              std::string::npos)
        << second_line;
    EXPECT_NE(second_line.find("data:[00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00]\n"),
              std::string::npos);
    FreeMemory(user);
    FreeMemory(hidden);
    FreeMemory(second);
}

TEST_F(TlsfHeapTest, ReallocationKeepsContentsInPlaceIntoTheNextFreeBlockOrMoved) {
    auto* a = static_cast<std::uint8_t*>(AllocateHeapBlock(&heap, 100, 0, 0, "a", 1, 0));
    for (int i = 0; i < 100; ++i) a[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(ReallocMemory(a, 0, 0, "a", 2), nullptr);
    EXPECT_EQ(ReallocMemory(a, 40, 0, "a", 3), a);  // shrinks in place
    EXPECT_EQ(GetAllocSize(a), 40u);
    EXPECT_EQ(ReallocMemory(a, 2000, 0, "a", 4), a);  // takes the free block that follows
    HeapErrorCheck(&heap);
    auto* b = static_cast<std::uint8_t*>(AllocateHeapBlock(&heap, 16, 0, 0, "b", 1, 0));
    auto* moved = static_cast<std::uint8_t*>(ReallocMemory(a, 5000, 0, "a", 5));  // b is in the way
    ASSERT_NE(moved, nullptr);
    EXPECT_NE(moved, a);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(moved[i], i);
    EXPECT_EQ(GetAllocSize(moved), 5000u);
    HeapErrorCheck(&heap);
    FreeMemory(b);
    FreeMemory(moved);
    EXPECT_EQ(heap.UseTagNum, 0);
}

TEST_F(TlsfHeapTest, AlignedBlocksAndLargeRequests) {
    for (std::uint32_t alignment : {16u, 32u, 64u, 256u, 4096u}) {
        void* p = AllocateHeapBlock(&heap, 33, alignment, 0, "x", 1, 0);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignment, 0u);
    }
    void* big = AllocateHeapBlock(&heap, 40 * 1024 * 1024, 0, 0, "big", 1, 0);
    ASSERT_NE(big, nullptr);
    std::memset(big, 1, 40 * 1024 * 1024);
    HeapErrorCheck(&heap);
    EXPECT_EQ(AllocateHeapBlock(&heap, 0, 0, 0, "zero", 1, 0), nullptr);
    EXPECT_EQ(AllocateHeapBlock(&heap, std::size_t{3} << 30, 0, 0, "huge", 1, 0), nullptr);
    FreeMemory(big);
    HeapErrorCheck(&heap);
}

TEST_F(TlsfHeapTest, GrowthFallsBackToSmallerStepsAndFailsCleanly) {
    TlsfHeap limited;
    SetUpTlsfHeap(
        &limited, 1, 16, 1, 4194304, nullptr,
        [](void*, HeapSystemHandle*, std::size_t) { return -1; }, &TestAddress, &TestSize,
        &TestFree);
    SetHeapLogSink(&Capture);
    EXPECT_EQ(AllocateHeapBlock(&limited, 10, 0, 0, "x", 1, 0), nullptr);
    // +4 MB, +2 MB and +1 MB were tried, each failure logged.
    ASSERT_EQ(capturedLines.size(), 3u);
    EXPECT_EQ(capturedLines[0], u"ヒープ用メモリの確保に失敗しました\n");
    CloseTlsfHeap(&limited);
}

using TlsfHeapDeathTest = TlsfHeapTest;

TEST_F(TlsfHeapDeathTest, GuardOverrunsAndDoubleFreesStopTheProgramWithTheirMessages) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    SetHeapLogSink(&ToStderr);
    auto* keep = static_cast<std::uint8_t*>(AllocateHeapBlock(&heap, 10, 0, 0, "k", 1, 0));
    auto* victim = static_cast<std::uint8_t*>(AllocateHeapBlock(&heap, 20, 0, 0, "v", 1, 0));
    EXPECT_DEATH(
        {
            victim[32] = 0;  // the first trailing guard byte after 20 rounded up to 16
            FreeMemory(victim);
        },
        "FreeMemory Error : デバッグ領域の破壊を確認しました");
    EXPECT_DEATH(
        {
            victim[33] = 1;
            HeapErrorCheck(&heap);
        },
        "HeapErrorCheck Error : デバッグ領域の破壊を確認しました");
    EXPECT_DEATH(
        {
            keep[-kUserOffset + 20] = 'X';          // inside the tag's file name: harmless
            std::memset(keep - kUserOffset, 0, 4);  // the magic
            FreeMemory(keep);
        },
        "FreeMemory Error : メモリタグの MagicID が不正です");
    FreeMemory(victim);
    EXPECT_DEATH(FreeMemory(victim),
                 "FreeMemory Error : 解放済みのメモリに対して再度解放しようとしました");
    EXPECT_DEATH(ReallocMemory(victim, 50, 0, "x", 1),
                 "ReallocMemory Error : 解放済みのメモリに対して再確保をしようとしました");
    EXPECT_DEATH(
        GetAllocSize(victim),
        "GetAllocSize Error : 解放済みのメモリに対して確保メモリサイズの取得を行おうとしました");
    EXPECT_DEATH(
        {
            heap.TotalUseSize += 16;
            HeapErrorCheck(&heap);
        },
        "HeapErrorCheck Error : 総メモリサイズが一致しません");
    FreeMemory(keep);
}

}  // namespace
