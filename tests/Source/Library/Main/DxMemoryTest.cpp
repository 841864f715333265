#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Main/DxMemory.h"
#include "platform/Kernel32.h"

namespace {

using namespace ZiDaz;

std::vector<std::string> lines;
void Capture(const char16_t* text) {
    std::string out;
    for (; *text; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    lines.push_back(out);
}

struct SinkGuard {
    SinkGuard() {
        lines.clear();
        SetHeapLogSink(&Capture);
    }
    ~SinkGuard() { SetHeapLogSink(nullptr); }
};

TEST(TrackedMemory, SizesPickTheHeapAndBlocksAreAlignedAndCounted) {
    int count = GetTrackedMemoryCount();
    std::int64_t size = GetTrackedMemorySize();
    void* zero = AllocateTrackedMemory(0, "t.cpp", 1);
    ASSERT_NE(zero, nullptr);
    std::memset(zero, 0xFF, 1);
    EXPECT_EQ(GetTrackedMemorySize(), size + 1);
    void* small = AllocateTrackedMemory(65536, "t.cpp", 2);
    void* large = AllocateTrackedMemory(65537, "t.cpp", 3);
    EXPECT_EQ(GetHeapOfBlock(small), &TrackedMemory.smallHeap);
    EXPECT_EQ(GetHeapOfBlock(large), &TrackedMemory.largeHeap);
    for (void* p : {zero, small, large}) EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 16, 0u);
    EXPECT_EQ(GetTrackedMemoryCount(), count + 3);
    FreeTrackedMemory(small);
    EXPECT_EQ(GetTrackedMemoryCount(), count + 2);
    EXPECT_EQ(GetTrackedMemorySize(), size + 1 + 65537);
    FreeTrackedMemory(nullptr);
    auto* zeroed = static_cast<unsigned char*>(AllocateTrackedMemoryZeroed(300, "t.cpp", 4));
    for (int i = 0; i < 300; ++i) ASSERT_EQ(zeroed[i], 0);
    FreeTrackedMemory(zeroed);
    FreeTrackedMemory(zero);
    FreeTrackedMemory(large);
    EXPECT_EQ(GetTrackedMemoryCount(), count);
    EXPECT_EQ(GetTrackedMemorySize(), size);
}

TEST(TrackedMemory, ReallocationOfNullAllocatesAndToZeroKeepsTheBlockAndDumps) {
    int count = GetTrackedMemoryCount();
    auto* block = static_cast<char*>(ReallocateTrackedMemory(nullptr, 10, "r.cpp", 1));
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "abcdefghij", 10);
    EXPECT_EQ(GetTrackedMemoryCount(), count + 1);
    {
        SinkGuard sink;
        EXPECT_EQ(ReallocateTrackedMemory(block, 0, "r.cpp", 2), nullptr);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], "\n");
        EXPECT_EQ(lines[1], "Alloc memory dump\n");
    }
    EXPECT_EQ(std::memcmp(block, "abcdefghij", 10), 0);
    block = static_cast<char*>(ReallocateTrackedMemory(block, 100000, "r.cpp", 3));
    EXPECT_EQ(std::memcmp(block, "abcdefghij", 10), 0);
    EXPECT_EQ(GetTrackedMemoryCount(), count + 1);
    FreeTrackedMemory(block);
    EXPECT_EQ(GetTrackedMemoryCount(), count);
}

TEST(TrackedMemory, DumpListsExactlyTheLiveBlocksWithFileAndLine) {
    void* a = AllocateTrackedMemory(24, "Source/Library/Main/DxAlpha.cpp", 101);
    void* b = AllocateTrackedMemory(100000, "DxBeta.cpp", 202);
    void* c = AllocateTrackedMemory(8, "DxGamma.cpp", 303);
    FreeTrackedMemory(c);
    SinkGuard sink;
    DumpTrackedMemory();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines.front(), "\n");
    EXPECT_EQ(lines[1], "Alloc memory dump\n");
    EXPECT_EQ(lines.back(), "\n");
    std::string total = lines[lines.size() - 2];
    EXPECT_EQ(total.rfind("\tTotal size:", 0), 0u) << total;
    EXPECT_NE(total.find("  Alloc num:" + std::to_string(GetTrackedMemoryCount())),
              std::string::npos)
        << total;
    // One line per live block, and ours among them.
    EXPECT_EQ(static_cast<int>(lines.size()) - 4, GetTrackedMemoryCount());
    int seen = 0;
    for (const std::string& line : lines) {
        if (line.find("file:/Main/DxAlpha.cpp ") != std::string::npos) {
            EXPECT_NE(line.find("line:101 "), std::string::npos) << line;
            ++seen;
        }
        if (line.find("file:DxBeta.cpp ") != std::string::npos) {
            EXPECT_NE(line.find("line:202 "), std::string::npos) << line;
            EXPECT_NE(line.find("user size:    100000("), std::string::npos) << line;
            ++seen;
        }
        EXPECT_EQ(line.find("DxGamma"), std::string::npos);
    }
    EXPECT_EQ(seen, 2);
    lines.clear();
    LogTrackedMemoryTotal();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], total);
    FreeTrackedMemory(a);
    FreeTrackedMemory(b);
}

// Many thousands of allocations, reallocations and frees of mixed sizes over both heaps, with the
// consistency check after every step and every block's contents verified.
TEST(TrackedMemory, RandomisedStressKeepsBothHeapsConsistent) {
    std::mt19937 random(12345);
    struct Live {
        unsigned char* block;
        std::size_t size;
        unsigned char seed;
    };
    std::vector<Live> live;
    int count = GetTrackedMemoryCount();
    std::int64_t bytes = GetTrackedMemorySize();
    auto pickSize = [&]() -> std::size_t {
        switch (random() % 4) {
            case 0:
                return random() % 64;
            case 1:
                return random() % 4096;
            case 2:
                return 60000 + random() % 10000;  // on both sides of the heaps' boundary
            default:
                return random() % 400000;
        }
    };
    auto fill = [](Live& l) {
        for (std::size_t i = 0; i < l.size; ++i)
            l.block[i] = static_cast<unsigned char>(l.seed + i);
    };
    auto verify = [](const Live& l, std::size_t upTo) {
        for (std::size_t i = 0; i < upTo; ++i) {
            if (l.block[i] != static_cast<unsigned char>(l.seed + i)) return false;
        }
        return true;
    };
    std::int64_t model = bytes;
    for (int step = 0; step < 6000; ++step) {
        unsigned action = random() % 10;
        if (action < 5 || live.empty()) {
            Live l{nullptr, pickSize(), static_cast<unsigned char>(random())};
            l.block =
                static_cast<unsigned char*>(AllocateTrackedMemory(l.size, "stress.cpp", step));
            ASSERT_NE(l.block, nullptr);
            fill(l);
            model += l.size == 0 ? 1 : static_cast<std::int64_t>(l.size);
            live.push_back(l);
        } else if (action < 8) {
            std::size_t index = random() % live.size();
            ASSERT_TRUE(verify(live[index], live[index].size)) << step;
            model -= live[index].size == 0 ? 1 : static_cast<std::int64_t>(live[index].size);
            FreeTrackedMemory(live[index].block);
            live[index] = live.back();
            live.pop_back();
        } else {
            Live& l = live[random() % live.size()];
            std::size_t newSize = pickSize() + 1;
            auto* moved = static_cast<unsigned char*>(
                ReallocateTrackedMemory(l.block, newSize, "stress.cpp", step));
            ASSERT_NE(moved, nullptr);
            l.block = moved;
            std::size_t kept = l.size < newSize ? l.size : newSize;
            Live check{moved, kept, l.seed};
            ASSERT_TRUE(verify(check, kept)) << step;
            model += static_cast<std::int64_t>(newSize) -
                     (l.size == 0 ? 1 : static_cast<std::int64_t>(l.size));
            l.size = newSize;
            fill(l);
        }
        CheckTrackedMemory();
        ASSERT_EQ(GetTrackedMemorySize(), model) << step;
        ASSERT_EQ(GetTrackedMemoryCount(), count + static_cast<int>(live.size()));
    }
    for (Live& l : live) {
        ASSERT_TRUE(verify(l, l.size));
        FreeTrackedMemory(l.block);
    }
    CheckTrackedMemory();
    EXPECT_EQ(GetTrackedMemoryCount(), count);
    EXPECT_EQ(GetTrackedMemorySize(), bytes);
}

TEST(TrackedMemory, EightThreadsAllocateAndFreeWithoutLosingCounts) {
    int count = GetTrackedMemoryCount();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            std::mt19937 random(t);
            std::vector<void*> mine;
            for (int i = 0; i < 3000; ++i) {
                if (mine.size() < 50 && random() % 3 != 0) {
                    std::size_t size = random() % 3 == 0 ? 70000 + random() % 1000 : random() % 500;
                    void* p = AllocateTrackedMemory(size, "threads.cpp", i);
                    std::memset(p, t, size == 0 ? 1 : size);
                    mine.push_back(p);
                } else if (!mine.empty()) {
                    FreeTrackedMemory(mine.back());
                    mine.pop_back();
                }
            }
            for (void* p : mine) FreeTrackedMemory(p);
        });
    }
    for (auto& t : threads) t.join();
    CheckTrackedMemory();
    EXPECT_EQ(GetTrackedMemoryCount(), count);
}

TEST(TrackedMemory, EndReturnsEverythingAndALaterAllocationStartsAgain) {
    // Run in a child process: ending the heaps takes every block of this process with them.
    EXPECT_EXIT(
        {
            void* kept = AllocateTrackedMemory(100, "end.cpp", 1);
            (void)kept;
            EndTrackedMemory();
            bool ok = TrackedMemory.heapsReady == 0 && GetTrackedMemoryCount() == 0;
            FreeTrackedMemory(kept);  // the heaps are gone: ignored
            void* again = AllocateTrackedMemory(100, "end.cpp", 2);
            ok = ok && again != nullptr && TrackedMemory.heapsReady == 1;
            CheckTrackedMemory();
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(HeapRegions, ARegionGivenBackIsKeptForTheNextGrowthAndReleasedAtTheEnd) {
    ReleaseKeptHeapRegions();  // regions other tests' heaps gave back
    TlsfHeap heap;
    SetUpTlsfHeap(&heap, 1, 16, 1, kSmallHeapGrowth, nullptr, &AllocateHeapRegion,
                  &HeapRegionAddress, &HeapRegionSize, &FreeHeapRegion);
    void* first = AllocateHeapBlock(&heap, 100, 0, 0, "k.cpp", 1, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(heap.regions, nullptr);
    std::uint8_t* base = heap.regions->base;
    EXPECT_EQ(heap.regions->regionSize % (2u << 20), 0u);  // whole 2 MB steps
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(base) % (2u << 20), 0u);
    std::memset(first, 0x5C, 100);
    FreeMemory(first);  // the heap empties and gives its region back
    EXPECT_EQ(heap.regions, nullptr);

    void* second = AllocateHeapBlock(&heap, 200, 0, 0, "k.cpp", 2, 0);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(heap.regions, nullptr);
    EXPECT_EQ(heap.regions->base, base);  // the kept region, not a fresh mapping
    EXPECT_EQ(second, first);
    HeapErrorCheck(&heap);
    FreeMemory(second);
    CloseTlsfHeap(&heap);

    ReleaseKeptHeapRegions();
    MEMORY_BASIC_INFORMATION info{};
    platform::kernel32::VirtualQuery(base, &info, sizeof(info));
    EXPECT_EQ(info.State, MEM_FREE);
}

}  // namespace
