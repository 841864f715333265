// The TLSF heap. Sizes are classed by their highest set bit (first level) and the five bits below
// it (second level); a bitmap per level finds the smallest non-empty class that surely fits in a
// couple of instructions.
#include "Main/DxHeap.h"

#include <cstddef>
#include <cstdlib>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Main/DxBaseFunc.h"

#include "Main/DxLog.h"

namespace ZiDaz {

namespace {

constexpr std::size_t kTagSize = sizeof(MemTag);
// The user data starts at the first aligned address after the tag and the 4-byte distance word.
constexpr std::size_t kUserOffsetMinimum = kTagSize + 4;
// Room a free block needs to be worth keeping, and the slack added to a request before it is
// classed (both cover a tag, its distance word, the guards and the alignment padding).
constexpr std::size_t kMinimumSplit = kTagSize + 56;
constexpr std::size_t kMegabyte = 1024 * 1024;
constexpr std::size_t kLargestUserSize = 0x7FFF0000;
constexpr std::size_t kRegionInfoSize = (sizeof(HeapMemInfo) + 15) / 16 * 16;

// The small steps of an allocation and a free, inlined into them (each is a handful of loads and
// stores; the calls cost as much as the work).
#define HOT_PATH [[gnu::always_inline]] inline

static_assert(sizeof(MemTag) % 16 == 0, "tags keep the blocks 16-aligned");

HeapLogSink logSink = nullptr;

std::uintptr_t Address(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

std::uint8_t* AlignUp(std::uint8_t* p, std::size_t alignment) {
    return reinterpret_cast<std::uint8_t*>((Address(p) + alignment - 1) & ~(alignment - 1));
}

std::size_t AlignUp(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

std::uint8_t* BlockStart(MemTag* tag) {
    return reinterpret_cast<std::uint8_t*>(tag);
}
std::uint8_t* BlockEnd(MemTag* tag) {
    return BlockStart(tag) + tag->Size;
}

bool IsUsed(const MemTag* tag) {
    return (tag->flags & kTagUsed) != 0;
}
MemTag* NextTag(const MemTag* tag) {
    return (tag->flags & kTagHasNext) ? tag->Next : nullptr;
}
MemTag* PrevTag(const MemTag* tag) {
    return (tag->flags & kTagHasPrev) ? tag->Prev : nullptr;
}

// The tag in front of a user pointer, through the distance word stored just before the data.
MemTag* TagOf(void* user) {
    std::uint32_t distance;
    __builtin_memcpy(&distance, static_cast<std::uint8_t*>(user) - 4, 4);
    return reinterpret_cast<MemTag*>(static_cast<std::uint8_t*>(user) - distance);
}

// ---- Classes and free lists -----------------------------------------------------------------

HOT_PATH void Mapping(std::size_t size, int& fli, int& sli) {
    fli = 63 - __builtin_clzll(static_cast<unsigned long long>(size));
    std::size_t rest = size ^ (std::size_t{1} << fli);
    sli = fli < 5 ? static_cast<int>(rest << (5 - fli)) : static_cast<int>(rest >> (fli - 5));
}

int ClassIndex(std::size_t size) {
    int fli, sli;
    Mapping(size, fli, sli);
    return fli * kTlsfSecondLevels + sli;
}

// The prefetch hints (below) read the free lists' heads and bitmaps and the neighbour link of the
// caller's own block without the lock. Those fields are stored as relaxed atomics: the same plain
// store in the machine code, but no data race with the hints' reads.
template <typename T, typename V>
HOT_PATH void Publish(T& field, V value) {
    __atomic_store_n(&field, static_cast<T>(value), __ATOMIC_RELAXED);
}

HOT_PATH void MarkFreeListUsed(TlsfHeap* heap, int fli, int sli) {
    Publish(heap->secondLevelBitmaps[fli], heap->secondLevelBitmaps[fli] | (1u << sli));
    Publish(heap->firstLevelBitmap, heap->firstLevelBitmap | (1u << fli));
}

HOT_PATH void InsertFree(TlsfHeap* heap, MemTag* tag) {
    int fli, sli;
    Mapping(tag->Size, fli, sli);
    tag->FLI = static_cast<std::uint8_t>(fli);
    tag->SLI = static_cast<std::uint8_t>(sli);
    MemTag*& head = heap->freeLists[fli][sli];
    tag->listPrev = nullptr;
    tag->listNext = head;
    if (head != nullptr) head->listPrev = tag;
    Publish(head, tag);
    MarkFreeListUsed(heap, fli, sli);
    heap->FreeTagNum += 1;
    heap->TotalFreeSize += tag->Size;
}

HOT_PATH void RemoveFree(TlsfHeap* heap, MemTag* tag) {
    int fli = tag->FLI, sli = tag->SLI;
    if (tag->listPrev != nullptr) {
        tag->listPrev->listNext = tag->listNext;
    } else {
        Publish(heap->freeLists[fli][sli], tag->listNext);
    }
    if (tag->listNext != nullptr) tag->listNext->listPrev = tag->listPrev;
    tag->listPrev = tag->listNext = nullptr;
    if (heap->freeLists[fli][sli] == nullptr) {
        Publish(heap->secondLevelBitmaps[fli], heap->secondLevelBitmaps[fli] & ~(1u << sli));
        if (heap->secondLevelBitmaps[fli] == 0) {
            Publish(heap->firstLevelBitmap, heap->firstLevelBitmap & ~(1u << fli));
        }
    }
    heap->FreeTagNum -= 1;
    heap->TotalFreeSize -= tag->Size;
}

// Bytes to search for a request: its user size with room for the tag, its distance word, the
// guards and the alignment padding.
HOT_PATH std::size_t NeededSize(std::size_t userSize, std::size_t alignment) {
    return (userSize + kMinimumSplit + 2 * alignment - 1) & ~(alignment - 1);
}

// A free block of the class above that of `needed` (so any block found fits), or null. `read`
// reads the heap's bitmaps and list heads: plainly under the lock, or as a hint without it.
template <typename Read>
HOT_PATH MemTag* SearchFree(TlsfHeap* heap, std::size_t needed, Read read) {
    if (needed >= (std::size_t{1} << 32)) return nullptr;
    int fli, sli;
    Mapping(needed, fli, sli);
    if (++sli == kTlsfSecondLevels) {
        sli = 0;
        if (++fli == kTlsfFirstLevels) return nullptr;
    }
    std::uint32_t second = read(heap->secondLevelBitmaps[fli]) & (~0u << sli);
    if (second == 0) {
        std::uint32_t first =
            fli + 1 < kTlsfFirstLevels ? read(heap->firstLevelBitmap) & (~0u << (fli + 1)) : 0;
        if (first == 0) return nullptr;
        fli = __builtin_ctz(first);
        second = read(heap->secondLevelBitmaps[fli]);
        if (second == 0) return nullptr;  // only seen without the lock
    }
    return read(heap->freeLists[fli][__builtin_ctz(second)]);
}

HOT_PATH MemTag* FindFree(TlsfHeap* heap, std::size_t needed) {
    return SearchFree(heap, needed, [](const auto& field) { return field; });
}

// ---- Tags -----------------------------------------------------------------------------------

HOT_PATH void WriteGuards(MemTag* tag) {
    __builtin_memset(tag->guard, kGuardByte, kGuardSize);
    __builtin_memset(BlockEnd(tag) - kGuardSize, kGuardByte, kGuardSize);
}

HOT_PATH bool GuardsIntact(MemTag* tag) {
    constexpr std::uint64_t kGuardWord = 0xAAAAAAAAAAAAAAAAull;
    std::uint64_t words[4];
    __builtin_memcpy(words, tag->guard, 16);
    __builtin_memcpy(words + 2, BlockEnd(tag) - kGuardSize, 16);
    return ((words[0] ^ kGuardWord) | (words[1] ^ kGuardWord) | (words[2] ^ kGuardWord) |
            (words[3] ^ kGuardWord)) == 0;
}

// The tag's form of a file name: its last 17 characters, zero-padded; "NoName" for none.
void CutFileName(const char* file, char (&name)[18]) {
    if (file == nullptr) file = "NoName";
    std::size_t length = 0;
    while (file[length] != '\0') ++length;
    if (length > sizeof(name) - 1) {
        file += length - (sizeof(name) - 1);
        length = sizeof(name) - 1;
    }
    __builtin_memset(name, 0, sizeof(name));
    for (std::size_t i = 0; i < length; ++i) name[i] = file[i];
}

HOT_PATH void SetTagFile(TlsfHeap* heap, MemTag* tag, const char* file) {
    auto& entry = heap->fileNameCache[(reinterpret_cast<std::uintptr_t>(file) >> 3) % 32];
    if (entry.pointer != file || file == nullptr) {
        CutFileName(file, entry.name);
        entry.pointer = file;
    }
    __builtin_memcpy(tag->file, entry.name, sizeof(tag->file));
}

// Gives `tag` the fields of a free tag (file "Free", no line, ID, time or user data). Its guards
// are not rewritten: a block only becomes free with both guards intact (checked when it was
// freed, written when it was cut), and the bytes at a free block's end are always the trailing
// guard of the block that ended there. Rewriting them would touch the block's last cache line,
// often far from the tag, on every free and every split.
HOT_PATH void MarkTagFree(MemTag* tag) {
    static constexpr char kFreeName[18] = "Free";
    __builtin_memcpy(tag->file, kFreeName, sizeof(tag->file));
    tag->flags &= kTagHasNext | kTagHasPrev;
    tag->idHigh = 0;
    tag->idLow = 0;
    tag->time = 0;
    tag->line = 0;
    tag->AllocAddress = nullptr;
    tag->UserAddress = nullptr;
    tag->userSize = 0;
}

// Writes a free tag where there was none (already linked to its neighbours, with its size set).
// Its trailing guard is that of the block whose end it shares, so only the leading one is new.
HOT_PATH void WriteNewFreeTag(TlsfHeap* heap, MemTag* tag, HeapMemInfo* region) {
    tag->MagicID = kMemTagMagic;
    MarkTagFree(tag);
    tag->heap = heap;
    tag->UseHeapMem = region;
    __builtin_memset(tag->guard, kGuardByte, kGuardSize);
}

// Writes a whole new free tag at `tag` (as WriteNewFreeTag and InsertFree together would) and
// links it at the head of its free list. The tag lies in memory not touched for a long time, so
// its stores wait for their cache lines in the store queue: eight 16-byte stores instead of a
// few dozen narrow ones keep the queue from filling up behind them.
HOT_PATH void WriteFreshFreeTag(TlsfHeap* heap, MemTag* tag, std::uint32_t size, std::uint8_t flags,
                                MemTag* prev, MemTag* next, HeapMemInfo* region) {
    static_assert(offsetof(MemTag, file) == 4 && offsetof(MemTag, flags) == 22 &&
                      offsetof(MemTag, FLI) == 23 && offsetof(MemTag, SLI) == 24 &&
                      offsetof(MemTag, Size) == 32 && offsetof(MemTag, AllocAddress) == 40 &&
                      offsetof(MemTag, UserAddress) == 48 && offsetof(MemTag, userSize) == 56 &&
                      offsetof(MemTag, Prev) == 64 && offsetof(MemTag, Next) == 72 &&
                      offsetof(MemTag, listPrev) == 80 && offsetof(MemTag, listNext) == 88 &&
                      offsetof(MemTag, heap) == 96 && offsetof(MemTag, UseHeapMem) == 104 &&
                      offsetof(MemTag, guard) == 112 && sizeof(MemTag) == 128,
                  "the words below follow the tag's layout");
    int fli, sli;
    Mapping(size, fli, sli);
    MemTag*& head = heap->freeLists[fli][sli];
    MemTag* oldHead = head;
    // Little-endian words: the magic and "Free" (the rest of the name zero), then flags, FLI and
    // SLI with no ID, time or line, the size, no user data, the links, the owners and the guard.
    const std::uint64_t words[16] = {
        kMemTagMagic | (std::uint64_t{0x65657246} << 32),  // "DMEM", "Free"
        0,
        (std::uint64_t{flags} << 48) | (static_cast<std::uint64_t>(fli) << 56),
        static_cast<std::uint64_t>(sli),
        size,
        0,
        0,
        0,
        reinterpret_cast<std::uintptr_t>(prev),
        reinterpret_cast<std::uintptr_t>(next),
        0,
        reinterpret_cast<std::uintptr_t>(oldHead),
        reinterpret_cast<std::uintptr_t>(heap),
        reinterpret_cast<std::uintptr_t>(region),
        0xAAAAAAAAAAAAAAAAull,
        0xAAAAAAAAAAAAAAAAull};
#if defined(__SSE2__)
    auto* lines = reinterpret_cast<__m128i*>(tag);
    for (int i = 0; i < 8; ++i) {
        _mm_store_si128(lines + i, _mm_set_epi64x(static_cast<long long>(words[2 * i + 1]),
                                                  static_cast<long long>(words[2 * i])));
    }
#else
    __builtin_memcpy(tag, words, sizeof(words));
#endif
    if (oldHead != nullptr) oldHead->listPrev = tag;
    Publish(head, tag);
    MarkFreeListUsed(heap, fli, sli);
    heap->FreeTagNum += 1;
    heap->TotalFreeSize += size;
}

HOT_PATH void StampTag(TlsfHeap* heap, MemTag* tag, const char* file, int line) {
    SetTagFile(heap, tag, file);
    std::uint32_t storedLine = line < 0 ? 0 : static_cast<std::uint32_t>(line) & 0x3FFFF;
    tag->line = static_cast<std::uint16_t>(storedLine);
    tag->flags = static_cast<std::uint8_t>((tag->flags & ~kTagLineHighBits) | (storedLine >> 16));
    tag->idHigh = static_cast<std::uint8_t>(heap->idCounter >> 16);
    tag->idLow = static_cast<std::uint16_t>(heap->idCounter);
    heap->idCounter = (heap->idCounter + 1) & 0xFFFFFF;
    tag->time = heap->time;
}

std::uint32_t TagLine(const MemTag* tag) {
    return tag->line | (static_cast<std::uint32_t>(tag->flags & kTagLineHighBits) << 16);
}

std::uint32_t TagId(const MemTag* tag) {
    return (static_cast<std::uint32_t>(tag->idHigh) << 16) | tag->idLow;
}

// Splits the block of a used `tag` after its data ends; the rest, when big enough, becomes a
// free block (merged with a free block that follows it).
HOT_PATH void SplitUsedBlock(TlsfHeap* heap, MemTag* tag, std::size_t roundedUser) {
    std::uint8_t* usedEnd = AlignUp(tag->UserAddress + roundedUser + kGuardSize, 16);
    std::uint8_t* blockEnd = BlockEnd(tag);
    if (static_cast<std::size_t>(blockEnd - usedEnd) < kMinimumSplit) return;
    auto* rest = reinterpret_cast<MemTag*>(usedEnd);
    auto restSize = static_cast<std::uint32_t>(blockEnd - usedEnd);
    std::uint8_t restFlags = kTagHasPrev;
    MemTag* following = NextTag(tag);
    if (following != nullptr && !IsUsed(following)) {
        RemoveFree(heap, following);
        restSize += following->Size;
        following = NextTag(following);
    }
    if (following != nullptr) {
        restFlags |= kTagHasNext;
        Publish(following->Prev, rest);
    }
    tag->Size = static_cast<std::uint32_t>(usedEnd - BlockStart(tag));
    tag->flags |= kTagHasNext;
    tag->Next = rest;
    WriteFreshFreeTag(heap, rest, restSize, restFlags, tag, following, tag->UseHeapMem);
}

// ---- Regions --------------------------------------------------------------------------------

int AddRegionUnlocked(TlsfHeap* heap, void* address, std::size_t size) {
    HeapSystemHandle handle{};
    std::uint8_t* base = static_cast<std::uint8_t*>(address);
    std::size_t regionSize = size;
    bool fromSystem = address == nullptr;
    if (fromSystem) {
        std::size_t systemSize = ((size < kMegabyte ? kMegabyte : size) + 31) & ~std::size_t{15};
        if (heap->allocateSystem == nullptr ||
            heap->allocateSystem(heap->systemUserData, &handle, systemSize) != 0) {
            WriteHeapLogText(u"ヒープ用メモリの確保に失敗しました\n");
            return -1;
        }
        base = static_cast<std::uint8_t*>(heap->systemAddress(&handle));
        regionSize = heap->systemSize(&handle);
    }
    std::uint8_t* start = AlignUp(base, 16);
    std::uint8_t* firstTagAddress = start + kRegionInfoSize;
    std::uint8_t* end =
        reinterpret_cast<std::uint8_t*>(Address(base + regionSize) & ~std::uintptr_t{15});
    if (end < firstTagAddress + kMinimumSplit || end - firstTagAddress >= 0xFFFFFFF0) {
        if (fromSystem) heap->freeSystem(&handle);
        return -1;
    }
    auto* info = reinterpret_cast<HeapMemInfo*>(start);
    FillByteBlock(info, 0, sizeof(*info));
    info->base = base;
    info->regionSize = regionSize;
    info->alignedStart = start;
    info->usableSize = static_cast<std::size_t>(end - firstTagAddress);
    info->flags = fromSystem ? 1 : 0;
    info->systemHandle = handle;
    auto* tag = reinterpret_cast<MemTag*>(firstTagAddress);
    FillByteBlock(tag, 0, kTagSize);
    tag->Size = static_cast<std::uint32_t>(info->usableSize);
    WriteNewFreeTag(heap, tag, info);
    WriteGuards(tag);
    info->firstTag = tag;
    info->next = heap->regions;
    if (heap->regions != nullptr) heap->regions->prev = info;
    heap->regions = info;
    InsertFree(heap, tag);
    return 0;
}

int GrowHeap(TlsfHeap* heap, std::size_t userSize, std::size_t alignment, std::size_t needed) {
    std::size_t extent = AlignUp(userSize, alignment);
    auto step = [](std::size_t e) { return e / 100 > kMegabyte ? e / 100 : kMegabyte; };
    extent += step(extent);
    // Until a region of this extent surely holds a block of the class searched for the request.
    while (ClassIndex(extent) <= ClassIndex(needed)) extent += step(extent);
    std::size_t growth = heap->growthSize;
    for (;;) {
        if (AddRegionUnlocked(heap, nullptr, extent + growth) == 0) return 0;
        if (growth < 2 * kMegabyte) return -1;
        growth /= 2;
    }
}

void WriteTagLineUnlocked(MemTag* tag);

int SubRegionUnlocked(TlsfHeap* heap, HeapMemInfo* info) {
    if (info->UseMemTagCount != 0) {
        HeapLogLine text;
        text.Text(
                u"SubHeapMemory Error : "
                u"使用しているメモリタグがある状態でヒープメモリを外そうとしました  "
                u"HeapMemInfo->UseMemTagCount:")
            .Int(info->UseMemTagCount);
        StopOnHeapDamage(text.c_str());
    }
    MemTag* tag = info->firstTag;
    const char16_t* problem = nullptr;
    HeapLogLine text;
    if (IsUsed(tag)) {
        problem =
            u"SubHeapMemory Error : ヒープメモリを使用している先頭タグが使用メモリタグでした\n";
    } else if (tag->UseHeapMem != info) {
        text.Text(
                u"SubHeapMemory Error : "
                u"ヒープメモリを使用している先頭タグが使用しているヒープメモリ情報と一致しません "
                u"MemTag->UseHeapMem:0x")
            .Hex(Address(tag->UseHeapMem), 16)
            .Text(u"  HeapMemInfo:0x")
            .Hex(Address(info), 16)
            .Text(u"\n");
        problem = text.c_str();
    } else if (tag->flags & kTagHasNext) {
        problem =
            u"SubHeapMemory Error : ヒープメモリを使用している使用メモリタグが二つ以上あります\n";
    }
    if (problem != nullptr) {
        WriteHeapLogText(problem);
        WriteTagLineUnlocked(tag);
        return -1;
    }
    RemoveFree(heap, tag);
    if (info->prev != nullptr) {
        info->prev->next = info->next;
    } else {
        heap->regions = info->next;
    }
    if (info->next != nullptr) info->next->prev = info->prev;
    if (info->flags & 1) {
        HeapSystemHandle handle = info->systemHandle;
        heap->freeSystem(&handle);
    }
    return 0;
}

// ---- Allocation -----------------------------------------------------------------------------

std::size_t EffectiveAlignment(TlsfHeap* heap, std::uint32_t alignment) {
    if (alignment == 0) return heap->Aligned;
    std::size_t a = 16;
    while (a < alignment) a <<= 1;
    return a;
}

void* AllocateUnlocked(TlsfHeap* heap, std::size_t userSize, std::size_t alignment,
                       const char* file, int line, int hidden) {
    if (userSize == 0 || userSize > kLargestUserSize) return nullptr;
    std::size_t needed = NeededSize(userSize, alignment);
    MemTag* tag = FindFree(heap, needed);
    if (tag == nullptr) {
        if (!heap->growthAllowed || GrowHeap(heap, userSize, alignment, needed) != 0)
            return nullptr;
        tag = FindFree(heap, needed);
        if (tag == nullptr) return nullptr;
    }
    if (tag->Size < needed) {
        HeapLogLine text;
        text.Text(u"TLSF カテゴリ構造エラー 2  MemTag->Size ").Int(tag->Size);
        StopOnHeapDamage(text.c_str());
    }
    RemoveFree(heap, tag);
    std::uint8_t* user = AlignUp(BlockStart(tag) + kUserOffsetMinimum, alignment);
    auto distance = static_cast<std::uint32_t>(user - BlockStart(tag));
    __builtin_memcpy(user - 4, &distance, 4);
    tag->UserAddress = user;
    tag->userSize = static_cast<std::uint32_t>(userSize);
    tag->flags |= kTagUsed | (hidden ? kTagHidden : 0);
    tag->heap = heap;
    StampTag(heap, tag, file, line);
    SplitUsedBlock(heap, tag, AlignUp(userSize, alignment));
    WriteGuards(tag);
    heap->TotalUseSize += tag->Size;
    heap->UseTagNum += 1;
    tag->UseHeapMem->UseMemTagCount += 1;
    return user;
}

// Validates a user pointer's tag for an operation; stops the program on damage.
HOT_PATH void CheckTagForUse(MemTag* tag, const char16_t* magicMessage,
                             const char16_t* guardMessage, const char16_t* freeMessage) {
    if (tag->MagicID != kMemTagMagic) StopOnHeapDamage(magicMessage);
    if (guardMessage != nullptr && !GuardsIntact(tag)) StopOnHeapDamage(guardMessage);
    if (!IsUsed(tag)) StopOnHeapDamage(freeMessage);
}

void FreeUnlocked(TlsfHeap* heap, MemTag* tag) {
    HeapMemInfo* region = tag->UseHeapMem;
    heap->TotalUseSize -= tag->Size;
    heap->UseTagNum -= 1;
    region->UseMemTagCount -= 1;
    tag->flags &= ~(kTagUsed | kTagHidden);
    MemTag* before = PrevTag(tag);
    bool alreadyFree = false;  // merged into a free tag, which keeps its free fields
    if (before != nullptr && !IsUsed(before)) {
        alreadyFree = true;
        RemoveFree(heap, before);
        before->Size += tag->Size;
        before->flags =
            static_cast<std::uint8_t>((before->flags & ~kTagHasNext) | (tag->flags & kTagHasNext));
        before->Next = tag->Next;
        if (before->flags & kTagHasNext) Publish(before->Next->Prev, before);
        tag = before;
    }
    MemTag* after = NextTag(tag);
    if (after != nullptr && !IsUsed(after)) {
        RemoveFree(heap, after);
        tag->Size += after->Size;
        tag->flags =
            static_cast<std::uint8_t>((tag->flags & ~kTagHasNext) | (after->flags & kTagHasNext));
        tag->Next = after->Next;
        if (tag->flags & kTagHasNext) Publish(tag->Next->Prev, tag);
    }
    if (!alreadyFree) MarkTagFree(tag);
    InsertFree(heap, tag);
    if (region->UseMemTagCount == 0 && (region->flags & 1)) SubRegionUnlocked(heap, region);
}

// ---- Dump lines -----------------------------------------------------------------------------

void ComposeTagLine(MemTag* tag, HeapLogLine& text) {
    text.Text(u"\tsize:")
        .Int(tag->Size, 10)
        .Text(u"(")
        .Fixed3(static_cast<float>(tag->Size) / 1024.0f, 10)
        .Text(u"kb)  user size:")
        .Int(tag->userSize, 10)
        .Text(u"(")
        .Fixed3(static_cast<float>(tag->userSize) / 1024.0f, 10)
        .Text(u"kb)  time:")
        .Int(tag->time, 5, true)
        .Text(u"  file:")
        .Ascii(tag->file, 26, true)
        .Text(u"  line:")
        .Int(TagLine(tag), 6, false, true)
        .Text(u"  ID:")
        .Int(TagId(tag), 5, false, true)
        .Text(u"  addr:")
        .Hex(Address(tag->UserAddress), 8)
        .Text(u"  data:[");
    std::uint32_t shown = tag->userSize < 16 ? tag->userSize : 16;
    for (std::uint32_t i = 0; i < shown; ++i) {
        text.Hex(tag->UserAddress[i], 2);
        if (i + 1 < shown) text.Text(u" ");
    }
    text.Text(u"]\n");
}

void WriteTagLineUnlocked(MemTag* tag) {
    HeapLogLine text;
    ComposeTagLine(tag, text);
    WriteHeapLogText(text.c_str());
}

void CopyLine(const char16_t* from, HeapDumpLine& to) {
    int i = 0;
    for (; from[i] != 0 && i < kHeapDumpLineUnits - 1; ++i) to[i] = from[i];
    to[i] = 0;
}

// Calls `visit` for every used, unhidden tag in address order: the regions from the lowest
// address up (found by selection; a heap has few regions), each along its tag chain.
template <typename Visit>
void ForEachShownBlock(TlsfHeap* heap, Visit visit) {
    const HeapMemInfo* previous = nullptr;
    for (;;) {
        HeapMemInfo* next = nullptr;
        for (HeapMemInfo* info = heap->regions; info != nullptr; info = info->next) {
            if ((previous == nullptr || info->base > previous->base) &&
                (next == nullptr || info->base < next->base)) {
                next = info;
            }
        }
        if (next == nullptr) return;
        for (MemTag* tag = next->firstTag; tag != nullptr; tag = NextTag(tag)) {
            if (IsUsed(tag) && !(tag->flags & kTagHidden)) {
                if (!visit(tag)) return;
            }
        }
        previous = next;
    }
}

int ComposeLinesUnlocked(TlsfHeap* heap, HeapDumpLine* lines, int capacity) {
    int count = 0;
    ForEachShownBlock(heap, [&](MemTag* tag) {
        if (count == capacity) return false;
        HeapLogLine text;
        ComposeTagLine(tag, text);
        CopyLine(text.c_str(), lines[count++]);
        return true;
    });
    return count;
}

}  // namespace

// ---- Log lines ------------------------------------------------------------------------------

void SetHeapLogSink(HeapLogSink sink) {
    logSink = sink;
}

void WriteHeapLogText(const char16_t* text) {
    if (logSink != nullptr) {
        logSink(text);
    } else {
        WriteLogTextUtf16(text);
    }
}

void StopOnHeapDamage(const char16_t* message) {
    HeapLogLine line;
    line.Text(message);
    const char16_t* text = line.c_str();
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    if (length == 0 || text[length - 1] != u'\n') line.Text(u"\n");
    WriteHeapLogText(line.c_str());
    std::abort();
}

HeapLogLine& HeapLogLine::Text(const char16_t* text) {
    for (; *text != 0; ++text) Put(*text);
    return *this;
}

HeapLogLine& HeapLogLine::Ascii(const char* text, int width, bool leftAlign) {
    int length = 0;
    while (text[length] != '\0') ++length;
    if (!leftAlign) {
        for (int i = length; i < width; ++i) Put(u' ');
    }
    for (int i = 0; i < length; ++i) Put(static_cast<unsigned char>(text[i]));
    if (leftAlign) {
        for (int i = length; i < width; ++i) Put(u' ');
    }
    return *this;
}

HeapLogLine& HeapLogLine::Int(long long value, int width, bool zeroPad, bool leftAlign) {
    char digits[24];
    int count = 0;
    unsigned long long magnitude = value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int length = count + (value < 0 ? 1 : 0);
    if (!leftAlign && !zeroPad) {
        for (int i = length; i < width; ++i) Put(u' ');
    }
    if (value < 0) Put(u'-');
    if (!leftAlign && zeroPad) {
        for (int i = length; i < width; ++i) Put(u'0');
    }
    while (count > 0) Put(static_cast<char16_t>(digits[--count]));
    if (leftAlign) {
        for (int i = length; i < width; ++i) Put(u' ');
    }
    return *this;
}

HeapLogLine& HeapLogLine::Hex(unsigned long long value, int minDigits) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value != 0);
    for (int i = count; i < minDigits; ++i) Put(u'0');
    while (count > 0) Put(static_cast<char16_t>(digits[--count]));
    return *this;
}

HeapLogLine& HeapLogLine::Fixed3(float value, int width) {
    // The product of a float (24 significant bits) and 1000 is exact in a double, so the rounding
    // below is the exact round-half-even of the decimal expansion, as printf does it.
    double scaled = static_cast<double>(value) * 1000.0;
    bool negative = scaled < 0;
    if (negative) scaled = -scaled;
    double whole = static_cast<double>(static_cast<unsigned long long>(scaled));
    double fraction = scaled - whole;
    auto thousandths = static_cast<unsigned long long>(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (thousandths & 1))) ++thousandths;
    char digits[32];
    int count = 0;
    unsigned long long integer = thousandths / 1000;
    unsigned long long decimals = thousandths % 1000;
    for (int i = 0; i < 3; ++i) {
        digits[count++] = static_cast<char>('0' + decimals % 10);
        decimals /= 10;
    }
    digits[count++] = '.';
    do {
        digits[count++] = static_cast<char>('0' + integer % 10);
        integer /= 10;
    } while (integer != 0);
    if (negative) digits[count++] = '-';
    for (int i = count; i < width; ++i) Put(u' ');
    while (count > 0) Put(static_cast<char16_t>(digits[--count]));
    return *this;
}

// ---- Prefetching --------------------------------------------------------------------------

namespace {

// The blocks of a working heap are spread over megabytes, so most tags an operation touches are
// not in the cache, and the lock's atomic release waits until every store made under the lock
// has reached its cache line. So before the lock is taken, the lines the operation will need are
// requested all at once; they arrive while the lock is taken instead of one after another under
// it. The reads that find them run beside other threads' writes under the lock: their values are
// only hints for the prefetches (a stale address costs a wasted request, never a fault), so they
// are atomic relaxed reads of fields written as relaxed atomics (Publish), and everything the
// operation itself uses is read again under the lock.
template <typename T>
T Peek(const T& field) {
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

void PrefetchTagForWrite(const MemTag* tag) {
    __builtin_prefetch(&tag->flags, 1);
    __builtin_prefetch(&tag->Prev, 1);
    __builtin_prefetch(&tag->guard[kGuardSize - 1], 1);
}

// Freeing reads the trailing guard and both neighbours.
void PrefetchForFree(MemTag* tag) {
    std::uint8_t* end = BlockStart(tag) + Peek(tag->Size);
    __builtin_prefetch(end - kGuardSize, 0);
    PrefetchTagForWrite(reinterpret_cast<MemTag*>(end));
    std::uint8_t flags = Peek(tag->flags);
    if (flags & kTagHasPrev) PrefetchTagForWrite(Peek(tag->Prev));
}

// Allocation takes the head of a free list, writes its tag, the distance word and the trailing
// guard, and cuts a new free tag after the used part.
void PrefetchForAllocation(TlsfHeap* heap, std::size_t userSize, std::size_t alignment) {
    if (userSize == 0 || userSize > kLargestUserSize) return;
    MemTag* tag = SearchFree(heap, NeededSize(userSize, alignment),
                             [](const auto& field) { return Peek(field); });
    if (tag == nullptr) return;
    PrefetchTagForWrite(tag);
    std::uint8_t* user = AlignUp(BlockStart(tag) + kUserOffsetMinimum, alignment);
    __builtin_prefetch(user - 4, 1);
    std::uint8_t* usedEnd = AlignUp(user + AlignUp(userSize, alignment) + kGuardSize, 16);
    __builtin_prefetch(usedEnd - kGuardSize, 1);
    PrefetchTagForWrite(reinterpret_cast<MemTag*>(usedEnd));
}

}  // namespace

// ---- Interface ------------------------------------------------------------------------------

int SetUpTlsfHeap(TlsfHeap* heap, int freeListKind, std::uint32_t alignment, int growthAllowed,
                  std::size_t growthSize, void* userData, HeapSystemAllocate allocateSystem,
                  HeapSystemAddress systemAddress, HeapSystemSize systemSize,
                  HeapSystemFree freeSystem, void* initialMemory, std::size_t initialSize,
                  int useSeparateInfo) {
    (void)useSeparateInfo;  // tags always live in front of their blocks
    FillByteBlock(static_cast<void*>(heap), 0, sizeof(*heap));
    InitTracedLock(&heap->lock);
    heap->freeListKind = freeListKind;
    heap->Aligned =
        alignment == 0 ? 16 : static_cast<std::uint32_t>(EffectiveAlignment(heap, alignment));
    heap->growthAllowed = growthAllowed;
    heap->growthSize = growthSize;
    heap->systemUserData = userData;
    heap->allocateSystem = allocateSystem;
    heap->systemAddress = systemAddress;
    heap->systemSize = systemSize;
    heap->freeSystem = freeSystem;
    if (initialMemory != nullptr && initialSize != 0) {
        AddRegionUnlocked(heap, initialMemory, initialSize);
    }
    return 0;
}

void* AllocateHeapBlock(TlsfHeap* heap, std::size_t userSize, std::uint32_t alignment, int,
                        const char* file, int line, int hidden) {
    std::size_t effective = EffectiveAlignment(heap, alignment);
    PrefetchForAllocation(heap, userSize, effective);
    DX_LOCK(&heap->lock);
    void* user = AllocateUnlocked(heap, userSize, effective, file, line, hidden);
    DX_UNLOCK(&heap->lock);
    return user;
}

void PrefetchHeapAllocation(TlsfHeap* heap, std::size_t userSize, std::uint32_t alignment) {
    // Read without the lock: a heap not set up yet (or closed) has no alignment and nothing free.
    std::uint32_t heapAlignment = Peek(heap->Aligned);
    if (heapAlignment == 0) return;
    PrefetchForAllocation(heap, userSize,
                          alignment == 0 ? heapAlignment : EffectiveAlignment(heap, alignment));
}

void PrefetchHeapBlock(const void* user) {
    // The tag of a block of 16-byte alignment (nearly every block) lies a fixed distance before
    // its data; asking for its lines now overlaps their arrival with the read of the distance
    // word, which would otherwise have to arrive before the tag could even be asked for.
    constexpr std::size_t kUsualOffset = (kUserOffsetMinimum + 15) & ~std::size_t{15};
    const auto* tag = static_cast<const std::uint8_t*>(user) - kUsualOffset;
    __builtin_prefetch(tag, 1);
    __builtin_prefetch(tag + 64, 1);
}

int FreeMemory(void* user) {
    if (user == nullptr) return 0;
    PrefetchHeapBlock(user);
    MemTag* tag = TagOf(user);
    if (tag->MagicID != kMemTagMagic) {
        StopOnHeapDamage(
            u"FreeMemory Error : メモリタグの MagicID "
            u"が不正です、誤ったメモリアドレスが渡されたか、メモリが破壊されています");
    }
    TlsfHeap* heap = tag->heap;
    PrefetchForFree(tag);
    DX_LOCK(&heap->lock);
    CheckTagForUse(
        tag,
        u"FreeMemory Error : メモリタグの MagicID "
        u"が不正です、誤ったメモリアドレスが渡されたか、メモリが破壊されています",
        u"FreeMemory Error : "
        u"デバッグ領域の破壊を確認しました、メモリの不正なアクセスが発生したことが考えられます",
        u"FreeMemory Error : 解放済みのメモリに対して再度解放しようとしました");
    FreeUnlocked(heap, tag);
    DX_UNLOCK(&heap->lock);
    return 0;
}

void* ReallocMemory(void* user, std::size_t newSize, std::uint32_t alignment, const char* file,
                    int line) {
    if (user == nullptr || newSize == 0) return nullptr;
    static const char16_t kMagic[] =
        u"ReallocMemory Error : メモリタグの MagicID "
        u"が不正です、誤ったメモリアドレスが渡されたか、メモリが破壊されています";
    MemTag* tag = TagOf(user);
    if (tag->MagicID != kMemTagMagic) StopOnHeapDamage(kMagic);
    TlsfHeap* heap = tag->heap;
    DX_LOCK(&heap->lock);
    CheckTagForUse(
        tag, kMagic,
        u"ReallocMemory Error : "
        u"デバッグ領域の破壊を確認しました、メモリの不正なアクセスが発生したことが考えられます",
        u"ReallocMemory Error : 解放済みのメモリに対して再確保をしようとしました");
    void* result = nullptr;
    std::size_t a = EffectiveAlignment(heap, alignment);
    std::size_t rounded = AlignUp(newSize, a);
    auto roomInBlock = [&] {
        return static_cast<std::size_t>(BlockEnd(tag) - kGuardSize - tag->UserAddress) & ~(a - 1);
    };
    if (newSize > kLargestUserSize) {
        result = nullptr;
    } else if (newSize == tag->userSize) {
        StampTag(heap, tag, file, line);
        result = user;
    } else {
        MemTag* following = NextTag(tag);
        bool fits = rounded <= roomInBlock();
        if (!fits && following != nullptr && !IsUsed(following) &&
            rounded <=
                ((static_cast<std::size_t>(BlockEnd(following) - kGuardSize - tag->UserAddress)) &
                 ~(a - 1))) {
            // Take the free block that follows.
            RemoveFree(heap, following);
            heap->TotalUseSize += following->Size;
            tag->Size += following->Size;
            tag->flags = static_cast<std::uint8_t>((tag->flags & ~kTagHasNext) |
                                                   (following->flags & kTagHasNext));
            tag->Next = following->Next;
            if (tag->flags & kTagHasNext) Publish(tag->Next->Prev, tag);
            fits = true;
        }
        if (fits) {
            std::uint32_t before = tag->Size;
            tag->userSize = static_cast<std::uint32_t>(newSize);
            StampTag(heap, tag, file, line);
            SplitUsedBlock(heap, tag, rounded);
            heap->TotalUseSize -= before - tag->Size;
            WriteGuards(tag);
            result = user;
        } else {
            result = AllocateUnlocked(heap, newSize, a, file, line, (tag->flags & kTagHidden) != 0);
            if (result != nullptr) {
                std::size_t keep =
                    static_cast<std::size_t>(BlockEnd(tag) - kGuardSize - tag->UserAddress);
                if (keep > rounded) keep = rounded;
                CopyByteBlock(result, user, keep);
                FreeUnlocked(heap, tag);
            }
        }
    }
    DX_UNLOCK(&heap->lock);
    return result;
}

std::size_t GetAllocSize(void* user) {
    MemTag* tag = TagOf(user);
    CheckTagForUse(
        tag,
        u"GetAllocSize Error : メモリタグの MagicID "
        u"が不正です、誤ったメモリアドレスが渡されたか、メモリが破壊されています",
        nullptr,
        u"GetAllocSize Error : 解放済みのメモリに対して確保メモリサイズの取得を行おうとしました");
    return tag->userSize;
}

TlsfHeap* GetHeapOfBlock(void* user) {
    MemTag* tag = TagOf(user);
    return tag->MagicID == kMemTagMagic ? tag->heap : nullptr;
}

int AddHeapRegion(TlsfHeap* heap, void* address, std::size_t size) {
    DX_LOCK(&heap->lock);
    int result = AddRegionUnlocked(heap, address, size);
    DX_UNLOCK(&heap->lock);
    return result;
}

int SubHeapMemory(TlsfHeap* heap, void* regionAddress) {
    DX_LOCK(&heap->lock);
    int result = -1;
    for (HeapMemInfo* info = heap->regions; info != nullptr; info = info->next) {
        if (info->base == regionAddress || static_cast<void*>(info) == regionAddress) {
            result = SubRegionUnlocked(heap, info);
            break;
        }
    }
    DX_UNLOCK(&heap->lock);
    return result;
}

int CloseTlsfHeap(TlsfHeap* heap) {
    DX_LOCK(&heap->lock);
    HeapMemInfo* info = heap->regions;
    while (info != nullptr) {
        HeapMemInfo* next = info->next;
        if (info->flags & 1) {
            HeapSystemHandle handle = info->systemHandle;
            heap->freeSystem(&handle);
        }
        info = next;
    }
    DX_UNLOCK(&heap->lock);
    DeleteTracedLock(&heap->lock);
    FillByteBlock(static_cast<void*>(heap), 0, sizeof(*heap));
    return 0;
}

namespace {

// Calls `visit` for every used tag, region by region along the tag chains.
template <typename Visit>
void ForEachUsedTag(TlsfHeap* heap, Visit visit) {
    for (HeapMemInfo* info = heap->regions; info != nullptr; info = info->next) {
        for (MemTag* tag = info->firstTag; tag != nullptr; tag = NextTag(tag)) {
            if (IsUsed(tag)) visit(tag);
        }
    }
}

// A check failure whose message carries two numbers.
[[noreturn]] void StopWithTwoNumbers(const char16_t* first, long long a, const char16_t* second,
                                     long long b) {
    HeapLogLine text;
    text.Text(first).Int(a).Text(second).Int(b);
    StopOnHeapDamage(text.c_str());
}

}  // namespace

int HeapErrorCheck(TlsfHeap* heap) {
    DX_LOCK(&heap->lock);
    std::int64_t total = 0;
    std::int64_t usable = 0;
    for (HeapMemInfo* info = heap->regions; info != nullptr; info = info->next) {
        usable += static_cast<std::int64_t>(info->usableSize);
        std::uint8_t* regionEnd = info->base + info->regionSize;
        for (MemTag* tag = info->firstTag; tag != nullptr; tag = NextTag(tag)) {
            if (tag->MagicID != kMemTagMagic) {
                StopOnHeapDamage(
                    u"HeapErrorCheck Error : メモリタグの MagicID "
                    u"が不正です、誤ったメモリアドレスが渡されたか、メモリが破壊されています");
            }
            if (BlockStart(tag) < info->alignedStart || BlockEnd(tag) > regionEnd ||
                BlockEnd(tag) <= BlockStart(tag)) {
                StopOnHeapDamage(
                    u"HeapErrorCheck Error : メモリタグが確保したヒープメモリの範囲にありません  "
                    u"Heap->UseSeparateInfo = FALSE");
            }
            if (!GuardsIntact(tag)) {
                StopOnHeapDamage(
                    u"HeapErrorCheck Error : "
                    u"デバッグ領域の破壊を確認しました、メモリの不正なアクセスが発生したことが考え"
                    u"られます");
            }
            if (Address(tag) % 16 != 0) {
                StopOnHeapDamage(
                    u"HeapErrorCheck Error : メモリタグのアラインが不正です  Heap->UseSeparateInfo "
                    u"= FALSE");
            }
            total += tag->Size;
            MemTag* before = PrevTag(tag);
            if (before != nullptr && BlockEnd(before) != BlockStart(tag)) {
                HeapLogLine text;
                text.Text(
                        u"HeapErrorCheck Error : メモリタグの連結情報が不正です  ( MemTag->Prev + "
                        u"MemTag->Prev->Size ):0x")
                    .Hex(Address(BlockEnd(before)), 16)
                    .Text(u"  MemTag:0x")
                    .Hex(Address(tag), 16);
                StopOnHeapDamage(text.c_str());
            }
            MemTag* after = NextTag(tag);
            if (after != nullptr && BlockEnd(tag) != BlockStart(after)) {
                HeapLogLine text;
                text.Text(u"HeapErrorCheck Error : メモリタグの連結情報が不正です  MemTag->Next:0x")
                    .Hex(Address(after), 16)
                    .Text(u"  ( MemTag + MemTag->Size ):0x")
                    .Hex(Address(BlockEnd(tag)), 16);
                StopOnHeapDamage(text.c_str());
            }
            if (!IsUsed(tag)) {
                if (before != nullptr && !IsUsed(before)) {
                    StopOnHeapDamage(
                        u"HeapErrorCheck Error : "
                        u"空きメモリタグが下位メモリアドレス方向に連続しています");
                }
                if (after != nullptr && !IsUsed(after)) {
                    StopOnHeapDamage(
                        u"HeapErrorCheck Error : "
                        u"空きメモリタグが上位メモリアドレス方向に連続しています");
                }
            }
        }
    }
    if (total != heap->TotalUseSize + heap->TotalFreeSize) {
        StopWithTwoNumbers(u"HeapErrorCheck Error : 総メモリサイズが一致しません  TotalSize:",
                           total, u"   ( Heap->TotalUseSize + Heap->TotalFreeSize ):",
                           heap->TotalUseSize + heap->TotalFreeSize);
    }
    if (total != usable) {
        StopWithTwoNumbers(u"HeapErrorCheck Error : 総メモリサイズが一致しません  TotalSize:",
                           total, u"   TotalSize2:", usable);
    }
    // The used tags are those of the tag chains with the used flag (the heap keeps no list of
    // its own of them: unlinking a block from such a list on every free would touch two other
    // blocks' tags, far apart in memory).
    int useNum = 0;
    std::int64_t useSize = 0;
    ForEachUsedTag(heap, [&](MemTag* tag) {
        ++useNum;
        useSize += tag->Size;
    });
    if (useNum != heap->UseTagNum) {
        StopWithTwoNumbers(u"HeapErrorCheck Error : 使用メモリタグの数が一致しません  UseNum:",
                           useNum, u"  Heap->UseTagNum:", heap->UseTagNum);
    }
    if (useSize != heap->TotalUseSize) {
        StopWithTwoNumbers(
            u"HeapErrorCheck Error : 使用メモリのサイズが一致しません  TotalUseSize:", useSize,
            u"  Heap->TotalUseSize:", heap->TotalUseSize);
    }
    int freeNum = 0;
    std::int64_t freeSize = 0;
    for (int i = 0; i < kTlsfFirstLevels; ++i) {
        if ((heap->firstLevelBitmap >> i) & 1) {
            if (heap->secondLevelBitmaps[i] == 0) {
                StopOnHeapDamage(u"HeapErrorCheck Error : TLSFエラー　　カテゴリ１テーブルエラー");
            }
        }
        for (int j = 0; j < kTlsfSecondLevels; ++j) {
            if (((heap->secondLevelBitmaps[i] >> j) & 1) == 0) continue;
            if (heap->freeLists[i][j] == nullptr) {
                StopOnHeapDamage(u"HeapErrorCheck Error : TLSFエラー　　カテゴリ２テーブルエラー");
            }
            for (MemTag* tag = heap->freeLists[i][j]; tag != nullptr; tag = tag->listNext) {
                int msb, sli;
                Mapping(tag->Size, msb, sli);
                if (msb != i || sli != j) {
                    HeapLogLine text;
                    text.Text(
                            u"HeapErrorCheck Error : TLSFエラー　　空きメモリタグサイズエラー  "
                            u"MSB:")
                        .Int(msb)
                        .Text(u"  i:")
                        .Int(i)
                        .Text(u"  SLI:")
                        .Int(sli)
                        .Text(u"  j:")
                        .Int(j);
                    StopOnHeapDamage(text.c_str());
                }
                if (tag->FLI != msb || tag->SLI != sli) {
                    HeapLogLine text;
                    text.Text(
                            u"HeapErrorCheck Error : "
                            u"TLSFエラー　　空きメモリタグカテゴリ情報エラー  MemTag->FLI:")
                        .Int(tag->FLI)
                        .Text(u"  MSB:")
                        .Int(msb)
                        .Text(u"  MemTag->SLI:")
                        .Int(tag->SLI)
                        .Text(u"  SLI:")
                        .Int(sli);
                    StopOnHeapDamage(text.c_str());
                }
                if (IsUsed(tag)) {
                    StopOnHeapDamage(
                        u"HeapErrorCheck Error : "
                        u"TLSFエラー　　空きメモリタグリストに使用メモリタグが含まれていました");
                }
                ++freeNum;
                freeSize += tag->Size;
            }
        }
    }
    if (freeNum != heap->FreeTagNum) {
        StopWithTwoNumbers(u"HeapErrorCheck Error : 空きメモリタグの数が一致しません  FreeNum:",
                           freeNum, u"  Heap->FreeTagNum:", heap->FreeTagNum);
    }
    if (freeSize != heap->TotalFreeSize) {
        StopWithTwoNumbers(
            u"HeapErrorCheck Error : 空きメモリのサイズが一致しません  TotalFreeSize:", freeSize,
            u"  Heap->TotalFreeSize:", heap->TotalFreeSize);
    }
    ForEachUsedTag(heap, [&](MemTag* tag) {
        if (Address(tag->UserAddress) % heap->Aligned != 0) {
            HeapLogLine text;
            text.Text(
                    u"HeapErrorCheck Error : "
                    u"ユーザーメモリのアラインが指定されたアラインと異なります  "
                    u"MemTag->UserAddress:0x")
                .Hex(Address(tag->UserAddress), 16)
                .Text(u"  Heap->Aligned:0x")
                .Hex(heap->Aligned, 8);
            StopOnHeapDamage(text.c_str());
        }
        if (tag->UserAddress < BlockStart(tag) + kUserOffsetMinimum ||
            tag->UserAddress + tag->userSize > BlockEnd(tag) - kGuardSize ||
            TagOf(tag->UserAddress) != tag) {
            StopOnHeapDamage(
                u"HeapErrorCheck Error : ユーザーメモリが確保したヒープメモリの範囲にありません  "
                u"Heap->UseSeparateInfo = FALSE");
        }
    });
    DX_UNLOCK(&heap->lock);
    return 0;
}

int ComposeHeapBlockLines(TlsfHeap* heap, HeapDumpLine* lines, int capacity) {
    DX_LOCK(&heap->lock);
    int count = ComposeLinesUnlocked(heap, lines, capacity);
    DX_UNLOCK(&heap->lock);
    return count;
}

int DumpHeapBlocks(TlsfHeap* heap) {
    DX_LOCK(&heap->lock);
    // The lines go into system memory of their own (never this heap), then to the log unlocked.
    HeapSystemHandle handle{};
    int capacity = heap->UseTagNum;
    HeapDumpLine* lines = nullptr;
    if (capacity > 0 && heap->allocateSystem != nullptr &&
        heap->allocateSystem(heap->systemUserData, &handle,
                             static_cast<std::size_t>(capacity) * sizeof(HeapDumpLine)) == 0) {
        lines = static_cast<HeapDumpLine*>(heap->systemAddress(&handle));
    }
    if (lines == nullptr) {
        // No memory for the lines: write them as they come.
        ForEachShownBlock(heap, [](MemTag* tag) {
            WriteTagLineUnlocked(tag);
            return true;
        });
        DX_UNLOCK(&heap->lock);
        return 0;
    }
    int count = ComposeLinesUnlocked(heap, lines, capacity);
    HeapSystemFree freeSystem = heap->freeSystem;
    DX_UNLOCK(&heap->lock);
    for (int i = 0; i < count; ++i) WriteHeapLogText(lines[i]);
    freeSystem(&handle);
    return 0;
}

int WriteHeapBlockLine(void* user) {
    WriteTagLineUnlocked(TagOf(user));
    return 0;
}

int SetHeapTime(TlsfHeap* heap, int seconds) {
    heap->time = static_cast<std::uint16_t>(seconds);
    return 0;
}

}  // namespace ZiDaz
