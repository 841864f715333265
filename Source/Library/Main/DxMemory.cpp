// The tracked allocator over two TLSF heaps.
#include "Main/DxMemory.h"

#include "Main/DxBaseFunc.h"

#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

TrackedMemoryState TrackedMemory;

namespace {

// ---- The heaps' system memory ----------------------------------------------------------------
//
// A heap gives a region back as soon as its last block is freed, and a heap that empties and
// fills again (a frame making a temporary image in an otherwise idle heap, a load that frees
// everything it read) would map and unmap the same megabytes again and again: every page of a
// fresh mapping costs a fault and a cleared page on first touch (far more on a virtual machine
// whose host reclaimed the memory), every unmapping a TLB flush. So the regions given back are
// kept, committed and already touched, and handed out again to the next request they fit; only
// what goes beyond a limit is returned to the system at once (the rest at the end of the heaps).
// Regions are whole multiples of 2 MB, which the platform places on 2 MB boundaries and backs
// with huge pages where it can.

constexpr std::size_t kRegionGranule = std::size_t{2} << 20;
// Kept regions: at most this many, of at most this many bytes together.
constexpr int kKeptRegionSlots = 8;
constexpr std::size_t kKeptRegionBytes = std::size_t{96} << 20;

struct RegionRecord {
    void* base;
    std::size_t size;  // the committed size, as VirtualQuery measured it
};
static_assert(sizeof(RegionRecord) <= sizeof(HeapSystemHandle), "a region fits its handle");

struct KeptRegions {
    TracedLock lock;  // taken inside a heap's lock; nothing is taken inside it
    RegionRecord slot[kKeptRegionSlots];
    int count;
    std::size_t bytes;
};

KeptRegions& TheKeptRegions() {
    static KeptRegions* kept = [] {
        static KeptRegions record{};
        InitTracedLock(&record.lock);
        return &record;
    }();
    return *kept;
}

RegionRecord ReadRecord(const HeapSystemHandle* handle) {
    RegionRecord record;
    CopyByteBlock(&record, handle->bytes, sizeof(record));
    return record;
}

void WriteRecord(HeapSystemHandle* handle, const RegionRecord& record) {
    FillByteBlock(handle->bytes, 0, sizeof(handle->bytes));
    CopyByteBlock(handle->bytes, &record, sizeof(record));
}

void ReleaseToSystem(const RegionRecord& record) {
    SystemApi.VirtualFree(record.base, 0, MEM_RELEASE);
}

// Takes the smallest kept region that holds `size` and is at most twice as large (of equal ones
// the one kept last, whose lines are likeliest still in the caches).
bool TakeKeptRegion(std::size_t size, RegionRecord* out) {
    KeptRegions& kept = TheKeptRegions();
    DX_LOCK(&kept.lock);
    int best = -1;
    for (int i = 0; i < kept.count; ++i) {
        std::size_t have = kept.slot[i].size;
        if (have >= size && have / 2 <= size && (best < 0 || have <= kept.slot[best].size))
            best = i;
    }
    if (best >= 0) {
        *out = kept.slot[best];
        kept.bytes -= out->size;
        for (int i = best + 1; i < kept.count; ++i)
            kept.slot[i - 1] = kept.slot[i];  // oldest first
        --kept.count;
    }
    DX_UNLOCK(&kept.lock);
    return best >= 0;
}

// Keeps a region given back; the oldest kept ones go to the system to make room under the limits
// (a region larger than the whole limit goes at once).
void KeepRegion(const RegionRecord& record) {
    KeptRegions& kept = TheKeptRegions();
    RegionRecord released[kKeptRegionSlots + 1];
    int releasedCount = 0;
    DX_LOCK(&kept.lock);
    if (record.size > kKeptRegionBytes) {
        released[releasedCount++] = record;
    } else {
        while (kept.count == kKeptRegionSlots || kept.bytes + record.size > kKeptRegionBytes) {
            released[releasedCount++] = kept.slot[0];
            kept.bytes -= kept.slot[0].size;
            for (int i = 1; i < kept.count; ++i) kept.slot[i - 1] = kept.slot[i];
            --kept.count;
        }
        kept.slot[kept.count++] = record;
        kept.bytes += record.size;
    }
    DX_UNLOCK(&kept.lock);
    for (int i = 0; i < releasedCount; ++i) ReleaseToSystem(released[i]);
}

}  // namespace

int AllocateHeapRegion(void*, HeapSystemHandle* handle, std::size_t size) {
    EnsureSystemApiTable();
    std::size_t wanted = (size + kRegionGranule - 1) / kRegionGranule * kRegionGranule;
    RegionRecord record{};
    if (!TakeKeptRegion(wanted, &record)) {
        record.base = SystemApi.VirtualAlloc(nullptr, wanted, MEM_COMMIT, PAGE_READWRITE);
        if (record.base == nullptr) {
            // No fresh memory: the kept regions (none of them fits) go back, and once more.
            ReleaseKeptHeapRegions();
            record.base = SystemApi.VirtualAlloc(nullptr, wanted, MEM_COMMIT, PAGE_READWRITE);
            if (record.base == nullptr) return -1;
        }
        MEMORY_BASIC_INFORMATION info{};
        SystemApi.VirtualQuery(record.base, &info, sizeof(info));
        record.size = info.RegionSize;
    }
    WriteRecord(handle, record);
    return 0;
}

void* HeapRegionAddress(HeapSystemHandle* handle) {
    return ReadRecord(handle).base;
}

std::size_t HeapRegionSize(HeapSystemHandle* handle) {
    return ReadRecord(handle).size;
}

int FreeHeapRegion(HeapSystemHandle* handle) {
    KeepRegion(ReadRecord(handle));
    return 0;
}

int ReleaseKeptHeapRegions() {
    KeptRegions& kept = TheKeptRegions();
    RegionRecord released[kKeptRegionSlots];
    DX_LOCK(&kept.lock);
    int count = kept.count;
    for (int i = 0; i < count; ++i) released[i] = kept.slot[i];
    kept.count = 0;
    kept.bytes = 0;
    DX_UNLOCK(&kept.lock);
    for (int i = 0; i < count; ++i) ReleaseToSystem(released[i]);
    return 0;
}

namespace {

// Memory for the dump's lines: straight from the system, never kept.
void* AllocateDumpLines(std::size_t bytes) {
    EnsureSystemApiTable();
    return SystemApi.VirtualAlloc(nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
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
    SetUpTlsfHeap(&TrackedMemory.smallHeap, 1, 16, 1, kSmallHeapGrowth, nullptr,
                  &AllocateHeapRegion, &HeapRegionAddress, &HeapRegionSize, &FreeHeapRegion);
    SetUpTlsfHeap(&TrackedMemory.largeHeap, 1, 16, 1, kLargeHeapGrowth, nullptr,
                  &AllocateHeapRegion, &HeapRegionAddress, &HeapRegionSize, &FreeHeapRegion);
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
    if (size == 0) size = 1;
    TlsfHeap* heap = size <= kSmallBlockLimit ? &TrackedMemory.smallHeap : &TrackedMemory.largeHeap;
    PrefetchHeapAllocation(heap, size, alignment);  // the block arrives while the lock is taken
    LockAllocator();
    InitUnlocked();
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
    PrefetchHeapBlock(block);  // its tag arrives while the lock is taken
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
    bool direct = false;
    if (capacity > 0) {
        lines = static_cast<HeapDumpLine*>(
            AllocateDumpLines(static_cast<std::size_t>(capacity) * sizeof(HeapDumpLine)));
        if (lines != nullptr) {
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
        if (lines != nullptr) SystemApi.VirtualFree(lines, 0, MEM_RELEASE);
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
        ReleaseKeptHeapRegions();
        TrackedMemory.heapsReady = 0;
        TrackedMemory.liveSize = 0;
        TrackedMemory.liveCount = 0;
    }
    UnlockAllocator();
    return 0;
}

}  // namespace ZiDaz
