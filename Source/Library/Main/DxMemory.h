// The library's tracked allocator: every library allocation carries its caller's source file and
// line. Blocks of up to 65,536 bytes live in a small-block TLSF heap, larger ones in a large-block
// heap; both take their memory from the system in big regions and give a region back as soon as
// its last block is freed, to a pool that keeps it for the next growth (up to a limit). The
// allocator keeps the live total and lists every live block in the log at library end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxHeap.h"
#include "Main/DxThread.h"

namespace ZiDaz {

inline constexpr std::size_t kSmallBlockLimit = 65536;
inline constexpr std::size_t kSmallHeapGrowth = 4194304;
inline constexpr std::size_t kLargeHeapGrowth = 33554432;

struct TrackedMemoryState {
    std::int64_t liveSize;  // sum of the user sizes of all live blocks
    int liveCount;
    int heapsReady;
    TlsfHeap smallHeap;
    TlsfHeap largeHeap;
    TracedLock lock;  // guards everything above; created on first use
    int lockCreated;
};

extern TrackedMemoryState TrackedMemory;

// A size of 0 counts as 1. Blocks are aligned to 16 bytes and not cleared.
void* AllocateTrackedMemory(std::size_t size, const char* file, int line);
void* AllocateTrackedMemoryZeroed(std::size_t size, const char* file, int line);
// A null block allocates. A size of 0 returns null, leaves the block as it was and writes the
// allocation dump to the log. The block may move; contents up to the smaller size are kept.
void* ReallocateTrackedMemory(void* block, std::size_t size, const char* file, int line);
// Null is ignored, and so is any block freed after the heaps have ended (they took it with them).
void FreeTrackedMemory(void* block);
// The bodies; alignment 0 means the heaps' 16.
void* AllocateTrackedMemoryBase(std::size_t size, std::uint32_t alignment, const char* file,
                                int line);
void* ReallocateTrackedMemoryBase(void* block, std::size_t size, std::uint32_t alignment,
                                  const char* file, int line);

int GetTrackedMemoryCount();
std::int64_t GetTrackedMemorySize();
// "\tTotal size:%d(%.3fkb)  Alloc num:%d".
int LogTrackedMemoryTotal();
// A line feed, "Alloc memory dump\n", one line per live block (small heap, then large heap), the
// total line and another line feed.
int DumpTrackedMemory();
// The consistency check of both heaps; a damaged heap stops the program. 0.
int CheckTrackedMemory();
int InitTrackedMemory();
// Stamps the time in seconds (the millisecond clock / 1,000, low 16 bits) into both heaps.
int UpdateTrackedMemory();
// Returns all of both heaps' memory to the system. 0.
int EndTrackedMemory();

// The heaps' system-memory callbacks: regions committed with VirtualAlloc in whole multiples of
// 2 MB, measured once with VirtualQuery. A region given back is kept (committed, its pages
// already touched) for the next request it fits, up to a limit; the oldest kept regions go back
// to the system when the limit is reached. Any heap may use them.
int AllocateHeapRegion(void* userData, HeapSystemHandle* handle, std::size_t size);
void* HeapRegionAddress(HeapSystemHandle* handle);
std::size_t HeapRegionSize(HeapSystemHandle* handle);
int FreeHeapRegion(HeapSystemHandle* handle);
// Returns every kept region to the system. 0.
int ReleaseKeptHeapRegions();

}  // namespace ZiDaz

// Call-site helpers that pass the caller's own file and line.
#define DX_ALLOC(size) ::ZiDaz::AllocateTrackedMemory((size), __FILE__, __LINE__)
#define DX_ALLOC_ZEROED(size) ::ZiDaz::AllocateTrackedMemoryZeroed((size), __FILE__, __LINE__)
#define DX_REALLOC(block, size) \
    ::ZiDaz::ReallocateTrackedMemory((block), (size), __FILE__, __LINE__)
#define DX_FREE(block) ::ZiDaz::FreeTrackedMemory(block)
