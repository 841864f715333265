// The TLSF heap: a two-level segregated-fit allocator over large regions of system memory. Every
// block, free or used, starts with a MemTag that carries a magic number, the allocating source
// file and line, a serial ID and a time stamp, and is fenced by 16 guard bytes on each side of its
// data. Freed blocks merge with free neighbours at once; a region taken from the system is given
// back as soon as its last used block is freed. Damage (bad tag, overwritten guard, double free)
// is logged and stops the program.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxThread.h"

namespace ZiDaz {

struct TlsfHeap;
struct HeapMemInfo;

// What the system-memory callbacks keep about one region they handed out.
struct HeapSystemHandle {
    std::uint8_t bytes[32];
};
using HeapSystemAllocate = int (*)(void* userData, HeapSystemHandle* handle, std::size_t size);
using HeapSystemAddress = void* (*)(HeapSystemHandle* handle);
using HeapSystemSize = std::size_t (*)(HeapSystemHandle* handle);
using HeapSystemFree = int (*)(HeapSystemHandle* handle);

inline constexpr std::uint32_t kMemTagMagic = 0x4D454D44;  // "DMEM"
inline constexpr std::uint8_t kTagLineHighBits = 0x03;
inline constexpr std::uint8_t kTagUsed = 0x04;
inline constexpr std::uint8_t kTagHasNext = 0x08;
inline constexpr std::uint8_t kTagHasPrev = 0x10;
inline constexpr std::uint8_t kTagHidden = 0x20;
inline constexpr std::uint8_t kGuardByte = 0xAA;
inline constexpr std::size_t kGuardSize = 16;

struct MemTag {
    std::uint32_t MagicID;
    char file[18];  // last 17 characters of the file name; "NoName"; "Free" in a free tag
    std::uint8_t flags;
    std::uint8_t FLI;
    std::uint8_t SLI;
    std::uint8_t idHigh;  // bits 16-23 of the serial number
    std::uint16_t idLow;  // bits 0-15
    std::uint16_t time;   // seconds, as set by SetHeapTime
    std::uint16_t line;   // bits 0-15 of the source line (bits 16-17 in flags)
    std::uint32_t Size;   // the whole block, tag included, a multiple of 16
    void* AllocAddress;   // unused here: tags always live in front of their blocks
    std::uint8_t* UserAddress;
    std::uint32_t userSize;
    MemTag* Prev;  // neighbours in memory (valid when kTagHasPrev / kTagHasNext)
    MemTag* Next;
    MemTag* listPrev;  // in a free list (a used block is in no list: the tag chains find it)
    MemTag* listNext;
    TlsfHeap* heap;
    HeapMemInfo* UseHeapMem;
    std::uint8_t guard[kGuardSize];
};

struct HeapMemInfo {
    std::uint8_t* base;
    std::size_t regionSize;
    std::uint8_t* alignedStart;
    std::size_t usableSize;
    MemTag* firstTag;
    int UseMemTagCount;
    HeapMemInfo* prev;
    HeapMemInfo* next;
    std::uint32_t flags;  // bit 0: taken from the system, to be given back
    HeapSystemHandle systemHandle;
};

inline constexpr int kTlsfFirstLevels = 32;
inline constexpr int kTlsfSecondLevels = 32;

struct TlsfHeap {
    int growthAllowed;
    std::size_t growthSize;
    void* systemUserData;
    HeapSystemAllocate allocateSystem;
    HeapSystemAddress systemAddress;
    HeapSystemSize systemSize;
    HeapSystemFree freeSystem;
    int freeListKind;  // 1: two-level segregated fit
    std::uint32_t Aligned;
    std::uint32_t idCounter;  // 24 bits
    std::uint16_t time;
    int UseSeparateInfo;   // always 0: tags live in front of their blocks
    HeapMemInfo* regions;  // newest first
    int FreeTagNum;
    std::int64_t TotalFreeSize;
    int UseTagNum;
    std::int64_t TotalUseSize;
    std::uint32_t firstLevelBitmap;
    std::uint32_t secondLevelBitmaps[kTlsfFirstLevels];
    MemTag* freeLists[kTlsfFirstLevels][kTlsfSecondLevels];
    TracedLock lock;
    // Tag file names already cut to their last 17 characters, by the caller's name pointer
    // (allocation sites pass literals, so a pointer seen before means the same text).
    struct FileNameCacheEntry {
        const char* pointer;
        char name[18];
    } fileNameCache[32];
};

int SetUpTlsfHeap(TlsfHeap* heap, int freeListKind, std::uint32_t alignment, int growthAllowed,
                  std::size_t growthSize, void* userData, HeapSystemAllocate allocateSystem,
                  HeapSystemAddress systemAddress, HeapSystemSize systemSize,
                  HeapSystemFree freeSystem, void* initialMemory = nullptr,
                  std::size_t initialSize = 0, int useSeparateInfo = 0);
// The from-end flag is accepted for the interface's sake; blocks are always cut from the start
// of the free block chosen.
void* AllocateHeapBlock(TlsfHeap* heap, std::size_t userSize, std::uint32_t alignment, int fromEnd,
                        const char* file, int line, int hidden);
int FreeMemory(void* user);
void* ReallocMemory(void* user, std::size_t newSize, std::uint32_t alignment, const char* file,
                    int line);
std::size_t GetAllocSize(void* user);
// Asks the processor for the lines of a used block's tag (a hint only: nothing is read), so that
// a caller about to free or measure the block waits for one cache miss instead of two in a row.
void PrefetchHeapBlock(const void* user);
// The same for the free block an allocation from `heap` would take now (read without the heap's
// lock, so only a hint), for a caller that takes another lock first.
void PrefetchHeapAllocation(TlsfHeap* heap, std::size_t userSize, std::uint32_t alignment);
// The heap that owns a used block, or null for a damaged tag.
TlsfHeap* GetHeapOfBlock(void* user);
int AddHeapRegion(TlsfHeap* heap, void* address, std::size_t size);
int SubHeapMemory(TlsfHeap* heap, void* regionAddress);
int CloseTlsfHeap(TlsfHeap* heap);
int HeapErrorCheck(TlsfHeap* heap);
// Writes one line per used block (not hidden) in address order. The lines are composed under the
// heap's lock and written to the log after it is released, so that a dump never holds a heap
// lock while it waits for the log's (the log itself may allocate while holding its own).
int DumpHeapBlocks(TlsfHeap* heap);
// The same lines composed into `lines` (at most `capacity`); returns how many. Takes the heap's
// lock. Callers that dump several heaps at once compose first and write afterwards.
inline constexpr int kHeapDumpLineUnits = 320;
using HeapDumpLine = char16_t[kHeapDumpLineUnits];
int ComposeHeapBlockLines(TlsfHeap* heap, HeapDumpLine* lines, int capacity);
int WriteHeapBlockLine(void* user);
int SetHeapTime(TlsfHeap* heap, int seconds);

// Where the heaps' and the allocator's log lines go: the library log by default. A test can
// install its own sink (null restores the log) to see the exact lines.
using HeapLogSink = void (*)(const char16_t* text);
void SetHeapLogSink(HeapLogSink sink);
void WriteHeapLogText(const char16_t* text);
// Logs a heap-damage message (with a line feed) and stops the program.
[[noreturn]] void StopOnHeapDamage(const char16_t* message);

// A small fixed-size text builder for log lines composed without allocating: the heaps cannot
// allocate while they report on themselves.
class HeapLogLine {
  public:
    HeapLogLine& Text(const char16_t* text);
    HeapLogLine& Ascii(const char* text, int width = 0, bool leftAlign = false);
    HeapLogLine& Int(long long value, int width = 0, bool zeroPad = false, bool leftAlign = false);
    HeapLogLine& Hex(unsigned long long value, int minDigits);
    // "%W.3f" of a single-precision value.
    HeapLogLine& Fixed3(float value, int width = 0);
    const char16_t* c_str() const { return buffer_; }

  private:
    void Put(char16_t c) {
        if (length_ + 1 < kCapacity) buffer_[length_++] = c;
        buffer_[length_] = 0;
    }
    static constexpr int kCapacity = 768;
    char16_t buffer_[kCapacity] = {};
    int length_ = 0;
};

}  // namespace ZiDaz
