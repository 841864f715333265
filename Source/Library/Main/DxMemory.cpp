// The tracked allocator over two TLSF heaps.
#include "Main/DxMemory.h"

#include "Main/DxBaseFunc.h"

#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

TrackedMemoryState TrackedMemory;

namespace {

// The heaps' system memory: committed read-write regions, measured with VirtualQuery.
void* RegionBase(HeapSystemHandle* handle) {
    void* base;
    CopyByteBlock(&base, handle->bytes, sizeof(base));
    return base;
}

int AllocateRegion(void*, HeapSystemHandle* handle, std::size_t size) {
    EnsureSystemApiTable();
    void* base = SystemApi.VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    if (base == nullptr) return -1;
    CopyByteBlock(handle->bytes, &base, sizeof(base));
    return 0;
}

std::size_t RegionSize(HeapSystemHandle* handle) {
    MEMORY_BASIC_INFORMATION info{};
    SystemApi.VirtualQuery(RegionBase(handle), &info, sizeof(info));
    return info.RegionSize;
}

int FreeRegion(HeapSystemHandle* handle) {
    SystemApi.VirtualFree(RegionBase(handle), 0, MEM_RELEASE);
    return 0;
}

void LockAllocator() {
    // Created once, by whichever thread allocates first.
    static const bool created = [] {
        InitTracedLock(&TrackedMemory.lock);
        TrackedMemory.lockCreated = 1;
        return true;
    }();
    (void)created;
    DX_LOCK(&TrackedMemory.lock);
}

void UnlockAllocator() {
    DX_UNLOCK(&TrackedMemory.lock);
}

int InitUnlocked() {
    if (TrackedMemory.heapsReady) return 0;
    SetUpTlsfHeap(&TrackedMemory.smallHeap, 1, 16, 1, kSmallHeapGrowth, nullptr, &AllocateRegion,
                  &RegionBase, &RegionSize, &FreeRegion);
    SetUpTlsfHeap(&TrackedMemory.largeHeap, 1, 16, 1, kLargeHeapGrowth, nullptr, &AllocateRegion,
                  &RegionBase, &RegionSize, &FreeRegion);
    TrackedMemory.heapsReady = 1;
    return 0;
}

void TotalLine(HeapLogLine& text, std::int64_t size, int count) {
    text.Text(u"\tTotal size:")
        .Int(size)
        .Text(u"(")
        .Fixed3(static_cast<float>(size) / 1024.0f)
        .Text(u"kb)  Alloc num:")
        .Int(count);
}

}  // namespace

int InitTrackedMemory() {
    LockAllocator();
    InitUnlocked();
    UnlockAllocator();
    return 0;
}

void* AllocateTrackedMemoryBase(std::size_t size, std::uint32_t alignment, const char* file,
                                int line) {
    LockAllocator();
    InitUnlocked();
    if (size == 0) size = 1;
    TlsfHeap* heap = size <= kSmallBlockLimit ? &TrackedMemory.smallHeap : &TrackedMemory.largeHeap;
    void* block = AllocateHeapBlock(heap, size, alignment, 0, file, line, 0);
    if (block == nullptr) {
        UnlockAllocator();
        DumpTrackedMemory();
        CheckTrackedMemory();
        return nullptr;
    }
    TrackedMemory.liveSize += static_cast<std::int64_t>(size);
    TrackedMemory.liveCount += 1;
    UnlockAllocator();
    return block;
}

void* AllocateTrackedMemory(std::size_t size, const char* file, int line) {
    return AllocateTrackedMemoryBase(size, 0, file, line);
}

void* AllocateTrackedMemoryZeroed(std::size_t size, const char* file, int line) {
    void* block = AllocateTrackedMemoryBase(size, 0, file, line);
    if (block != nullptr) FillByteBlock(block, 0, size == 0 ? 1 : size);
    return block;
}

void* ReallocateTrackedMemoryBase(void* block, std::size_t size, std::uint32_t alignment,
                                  const char* file, int line) {
    if (block == nullptr) return AllocateTrackedMemoryBase(size, alignment, file, line);
    if (size == 0) {
        DumpTrackedMemory();
        return nullptr;
    }
    LockAllocator();
    if (!TrackedMemory.heapsReady) {
        UnlockAllocator();
        return nullptr;
    }
    std::size_t before = GetAllocSize(block);
    void* moved = ReallocMemory(block, size, alignment, file, line);
    if (moved != nullptr) {
        TrackedMemory.liveSize +=
            static_cast<std::int64_t>(size) - static_cast<std::int64_t>(before);
    }
    UnlockAllocator();
    if (moved == nullptr) DumpTrackedMemory();
    return moved;
}

void* ReallocateTrackedMemory(void* block, std::size_t size, const char* file, int line) {
    return ReallocateTrackedMemoryBase(block, size, 0, file, line);
}

void FreeTrackedMemory(void* block) {
    if (block == nullptr) return;
    LockAllocator();
    if (TrackedMemory.heapsReady) {
        TrackedMemory.liveSize -= static_cast<std::int64_t>(GetAllocSize(block));
        TrackedMemory.liveCount -= 1;
        FreeMemory(block);
    }
    UnlockAllocator();
}

int GetTrackedMemoryCount() {
    return TrackedMemory.liveCount;
}

std::int64_t GetTrackedMemorySize() {
    return TrackedMemory.liveSize;
}

int LogTrackedMemoryTotal() {
    LockAllocator();
    HeapLogLine text;
    TotalLine(text, TrackedMemory.liveSize, TrackedMemory.liveCount);
    UnlockAllocator();
    WriteHeapLogText(text.c_str());
    return 0;
}

int DumpTrackedMemory() {
    // The lines are composed under the locks into system memory of their own and written to
    // the log once the locks are released: the log may allocate while it holds its own lock.
    LockAllocator();
    HeapLogLine total;
    TotalLine(total, TrackedMemory.liveSize, TrackedMemory.liveCount);
    HeapDumpLine* lines = nullptr;
    int count = 0;
    int capacity = TrackedMemory.heapsReady
                       ? TrackedMemory.smallHeap.UseTagNum + TrackedMemory.largeHeap.UseTagNum
                       : 0;
    HeapSystemHandle handle{};
    bool direct = false;
    if (capacity > 0) {
        if (AllocateRegion(nullptr, &handle,
                           static_cast<std::size_t>(capacity) * sizeof(HeapDumpLine)) == 0) {
            lines = static_cast<HeapDumpLine*>(RegionBase(&handle));
            count = ComposeHeapBlockLines(&TrackedMemory.smallHeap, lines, capacity);
            count +=
                ComposeHeapBlockLines(&TrackedMemory.largeHeap, lines + count, capacity - count);
        } else {
            direct = true;  // no memory even for the lines: write them as they come
        }
    }
    if (direct) {
        WriteHeapLogText(u"\n");
        WriteHeapLogText(u"Alloc memory dump\n");
        DumpHeapBlocks(&TrackedMemory.smallHeap);
        DumpHeapBlocks(&TrackedMemory.largeHeap);
        UnlockAllocator();
    } else {
        UnlockAllocator();
        WriteHeapLogText(u"\n");
        WriteHeapLogText(u"Alloc memory dump\n");
        for (int i = 0; i < count; ++i) WriteHeapLogText(lines[i]);
        if (lines != nullptr) FreeRegion(&handle);
    }
    WriteHeapLogText(total.c_str());
    WriteHeapLogText(u"\n");
    return 0;
}

int CheckTrackedMemory() {
    LockAllocator();
    if (TrackedMemory.heapsReady) {
        HeapErrorCheck(&TrackedMemory.smallHeap);
        HeapErrorCheck(&TrackedMemory.largeHeap);
    }
    UnlockAllocator();
    return 0;
}

int UpdateTrackedMemory() {
    int seconds = (ReadMillisecondClock() / 1000) & 0xFFFF;
    LockAllocator();
    if (TrackedMemory.heapsReady) {
        SetHeapTime(&TrackedMemory.smallHeap, seconds);
        SetHeapTime(&TrackedMemory.largeHeap, seconds);
    }
    UnlockAllocator();
    return 0;
}

int EndTrackedMemory() {
    LockAllocator();
    if (TrackedMemory.heapsReady) {
        CloseTlsfHeap(&TrackedMemory.smallHeap);
        CloseTlsfHeap(&TrackedMemory.largeHeap);
        TrackedMemory.heapsReady = 0;
        TrackedMemory.liveSize = 0;
        TrackedMemory.liveCount = 0;
    }
    UnlockAllocator();
    return 0;
}

}  // namespace ZiDaz
