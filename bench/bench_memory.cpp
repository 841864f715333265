// The TLSF heap and the tracked allocator against glibc malloc on one mixed workload (a pool of
// 4,096 live blocks, each step freeing a random slot and allocating a new block of a mixed size),
// a temporary memory image made and freed in a loop with tracked and with malloc'd pixels, and
// the traced lock against std::mutex. Compare the times per iteration of each pair; malloc is
// measured both single-threaded (no arena lock at all) and once the process has had a thread.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "Main/DxHeap.h"
#include "Main/DxMemImg.h"
#include "Main/DxMemory.h"
#include "Main/DxThread.h"

namespace {

constexpr int kSlots = 4096;
constexpr int kSteps = 1 << 16;

struct Workload {
    Workload() {
        std::mt19937 random(99);
        for (int i = 0; i < kSteps; ++i) {
            slot.push_back(static_cast<int>(random() % kSlots));
            switch (random() % 8) {
                case 0:
                    size.push_back(1 + random() % 16);
                    break;
                case 1:
                case 2:
                case 3:
                    size.push_back(16 + random() % 240);
                    break;
                case 4:
                case 5:
                    size.push_back(256 + random() % 1792);
                    break;
                case 6:
                    size.push_back(2048 + random() % 14336);
                    break;
                default:
                    size.push_back(16384 + random() % 49152);
                    break;
            }
        }
    }
    std::vector<int> slot;
    std::vector<std::size_t> size;
};

const Workload& TheWorkload() {
    static const Workload workload;
    return workload;
}

template <typename Allocate, typename Free>
void RunMixed(benchmark::State& state, Allocate allocate, Free release) {
    const Workload& w = TheWorkload();
    std::vector<void*> live(kSlots, nullptr);
    int step = 0;
    for (auto _ : state) {
        int s = w.slot[step];
        if (live[s] != nullptr) release(live[s]);
        live[s] = allocate(w.size[step]);
        static_cast<char*>(live[s])[0] = 1;
        benchmark::DoNotOptimize(live[s]);
        step = (step + 1) & (kSteps - 1);
    }
    for (void* p : live) {
        if (p != nullptr) release(p);
    }
}

void MixedMalloc(benchmark::State& state) {
    RunMixed(
        state, [](std::size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}
BENCHMARK(MixedMalloc);

// The heap alone, with the tracked allocator's system-memory callbacks (regions committed with
// VirtualAlloc, kept for reuse when the heap gives them back).
void MixedTlsfHeap(benchmark::State& state) {
    static ZiDaz::TlsfHeap heap;
    ZiDaz::SetUpTlsfHeap(&heap, 1, 16, 1, 4194304, nullptr, &ZiDaz::AllocateHeapRegion,
                         &ZiDaz::HeapRegionAddress, &ZiDaz::HeapRegionSize, &ZiDaz::FreeHeapRegion);
    RunMixed(
        state,
        [](std::size_t n) {
            return ZiDaz::AllocateHeapBlock(&heap, n, 0, 0, __FILE__, __LINE__, 0);
        },
        [](void* p) { ZiDaz::FreeMemory(p); });
    ZiDaz::CloseTlsfHeap(&heap);
}
BENCHMARK(MixedTlsfHeap);

void MixedTrackedAllocator(benchmark::State& state) {
    RunMixed(
        state, [](std::size_t n) { return DX_ALLOC(n); }, [](void* p) { DX_FREE(p); });
}
BENCHMARK(MixedTrackedAllocator);

// Makes the process one that has had a second thread (glibc's malloc and mutex skip their locks
// or atomic instructions until then). Only for benchmarks registered after the single-threaded
// ones: the thread is never undone.
void HaveHadAThread() {
    static const bool threaded = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)threaded;
}

// glibc's malloc skips its arena lock while the process has only ever had one thread, as this
// benchmark program has until here; the player always runs other threads. So malloc again, once
// a second thread has existed: its lock is then taken on every operation that misses the
// per-thread cache, as the TLSF heap takes its own on every operation. Registered after the
// others so that they still run single-threaded.
void MixedMallocOnceThreaded(benchmark::State& state) {
    HaveHadAThread();
    MixedMalloc(state);
}
BENCHMARK(MixedMallocOnceThreaded);

// A frame that makes a temporary image: create a 32 x 32 memory image, fill it, draw it once
// onto a screen image and free it, with the pixels from the tracked allocator and, to compare,
// from malloc (the image's shared record comes from the tracked allocator in both).
struct ImageLoopScreen {
    ImageLoopScreen() {
        ZiDaz::InitMemImgModule();
        ZiDaz::SetupMemImgDefault(&screen, 640, 480, 1);
        const RECT area{0, 0, 640, 480};
        ZiDaz::SetMemImgDrawArea(&area);
        ZiDaz::SetMemImgBlendMode(ZiDaz::DX_BLEND_NONE, 255);
        ZiDaz::SetMemImgDrawBright(0xFFFFFF);
    }
    ZiDaz::MEMIMG screen{};
};

ZiDaz::MEMIMG& ImageLoopTarget() {
    static ImageLoopScreen screen;
    return screen.screen;
}

template <typename MakePixels, typename FreePixels>
void RunImageLoop(benchmark::State& state, MakePixels makePixels, FreePixels freePixels) {
    constexpr int kSide = 32;
    ZiDaz::MEMIMG& screen = ImageLoopTarget();
    std::uint32_t colour = 0;
    int spot = 0;
    for (auto _ : state) {
        ZiDaz::MEMIMG image{};
        void* pixels = makePixels(std::size_t{kSide} * kSide * 4);
        ZiDaz::SetupMemImg(&image, kSide, kSide, -1, 0, 1, 0, 0, 0, pixels);
        ZiDaz::FillMemImgRect(&image, nullptr, ++colour & 0xFFFFFF);
        ZiDaz::DrawMemImg(&screen, &image, spot % 600, spot % 440, 0, nullptr);
        ZiDaz::ReleaseMemImg(&image);
        freePixels(pixels);
        spot += 7;
    }
}

void MemImgLoopTracked(benchmark::State& state) {
    RunImageLoop(
        state, [](std::size_t) -> void* { return nullptr; }, [](void*) {});
}
BENCHMARK(MemImgLoopTracked);

void MemImgLoopMallocPixels(benchmark::State& state) {
    RunImageLoop(
        state, [](std::size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}
BENCHMARK(MemImgLoopMallocPixels);

// Lock, count, release: one thread, and eight threads on one lock. Each lock and the counter it
// guards lie on cache lines of their own, on both sides alike: a counter sharing its lock's line
// would travel from core to core with the lock for free, which only the smaller lock could have.
// Both run once the process has had a thread, whichever benchmarks are selected: until then
// glibc's mutex skips its atomic instructions, which the player, always threaded, never sees.
struct alignas(64) GuardedCount {
    long value = 0;
};

alignas(64) ZiDaz::TracedLock tracedLock;
GuardedCount tracedCount;
alignas(64) std::mutex plainMutex;
GuardedCount plainCount;

void TracedLockPair(benchmark::State& state) {
    HaveHadAThread();
    static const bool ready = [] {
        ZiDaz::InitTracedLock(&tracedLock);
        return true;
    }();
    (void)ready;
    for (auto _ : state) {
        DX_LOCK(&tracedLock);
        ++tracedCount.value;
        DX_UNLOCK(&tracedLock);
    }
}
BENCHMARK(TracedLockPair);
BENCHMARK(TracedLockPair)->Threads(8)->UseRealTime();

void StdMutexPair(benchmark::State& state) {
    HaveHadAThread();
    for (auto _ : state) {
        std::lock_guard<std::mutex> lock(plainMutex);
        ++plainCount.value;
    }
}
BENCHMARK(StdMutexPair);
BENCHMARK(StdMutexPair)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
