// Virtual memory over mmap, the process heap over malloc, and the system's memory figures.
#include <sys/mman.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::kernel32 {

namespace {

std::size_t PageSize() {
    static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// One region per VirtualAlloc with a null address; every page is either reserved (no access)
// or committed with a protection.
struct Region {
    std::size_t size;
    DWORD allocationProtect;
    std::vector<DWORD> pageProtect;  // 0: reserved only
};

struct Regions {
    std::mutex mutex;
    std::map<std::uintptr_t, Region> byBase;
};

Regions& TheRegions() {
    static Regions* regions = new Regions;
    return *regions;
}

int PosixProtection(DWORD protect) {
    switch (protect) {
        case PAGE_NOACCESS:
            return PROT_NONE;
        case PAGE_READONLY:
            return PROT_READ;
        case PAGE_READWRITE:
            return PROT_READ | PROT_WRITE;
        case PAGE_EXECUTE:
            return PROT_EXEC;
        case PAGE_EXECUTE_READ:
            return PROT_READ | PROT_EXEC;
        case PAGE_EXECUTE_READWRITE:
            return PROT_READ | PROT_WRITE | PROT_EXEC;
        default:
            return -1;
    }
}

// Regions of at least this size start on a boundary of it and ask the kernel for huge pages: a
// heap spreads its blocks over megabytes, and with 4 KB pages nearly every block it touches costs
// a TLB miss besides the cache miss.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Maps `bytes` of fresh anonymous memory; from kHugePage up the start is aligned to kHugePage
// (more is mapped, and the ends are trimmed) and the range is advised for huge pages, which the
// kernel then uses for every aligned 2 MB stretch of it.
void* MapFresh(std::size_t bytes, int prot, int flags) {
    if (bytes < kHugePage) return mmap(nullptr, bytes, prot, flags, -1, 0);
    std::size_t padded = bytes + kHugePage - PageSize();
    void* mapped = mmap(nullptr, padded, prot, flags, -1, 0);
    if (mapped == MAP_FAILED) return MAP_FAILED;
    auto start = reinterpret_cast<std::uintptr_t>(mapped);
    std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    std::uintptr_t end = start + padded;
    if (end > aligned + bytes)
        munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
    madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

// The region holding `address`, or end().
std::map<std::uintptr_t, Region>::iterator FindRegion(Regions& regions, std::uintptr_t address) {
    auto it = regions.byBase.upper_bound(address);
    if (it == regions.byBase.begin()) return regions.byBase.end();
    --it;
    return address < it->first + it->second.size ? it : regions.byBase.end();
}

}  // namespace

LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
    int prot = PosixProtection(protect);
    if (size == 0 || prot < 0 || (allocationType & (MEM_COMMIT | MEM_RESERVE)) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::size_t page = PageSize();
    Regions& regions = TheRegions();
    std::lock_guard<std::mutex> lock(regions.mutex);
    if (address == nullptr) {
        std::size_t bytes = (size + page - 1) / page * page;
        bool commit = (allocationType & MEM_COMMIT) != 0;
        void* base = MapFresh(bytes, commit ? prot : PROT_NONE,
                              MAP_PRIVATE | MAP_ANONYMOUS | (commit ? 0 : MAP_NORESERVE));
        if (base == MAP_FAILED) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        regions.byBase[reinterpret_cast<std::uintptr_t>(base)] =
            Region{bytes, protect, std::vector<DWORD>(bytes / page, commit ? protect : 0)};
        return base;
    }
    // Committing pages of a region reserved earlier.
    auto start = reinterpret_cast<std::uintptr_t>(address) / page * page;
    auto it = FindRegion(regions, start);
    if ((allocationType & MEM_COMMIT) == 0 || it == regions.byBase.end() ||
        reinterpret_cast<std::uintptr_t>(address) + size > it->first + it->second.size) {
        SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(address) + size + page - 1) / page * page;
    if (mprotect(reinterpret_cast<void*>(start), end - start, prot) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    for (std::uintptr_t p = start; p < end; p += page) {
        it->second.pageProtect[(p - it->first) / page] = protect;
    }
    return reinterpret_cast<LPVOID>(start);
}

BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    const std::size_t page = PageSize();
    Regions& regions = TheRegions();
    std::lock_guard<std::mutex> lock(regions.mutex);
    auto base = reinterpret_cast<std::uintptr_t>(address);
    if (freeType == MEM_RELEASE) {
        auto it = regions.byBase.find(base);
        if (it == regions.byBase.end() || size != 0) {
            SetLastError(it == regions.byBase.end() ? ERROR_INVALID_ADDRESS
                                                    : ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        munmap(address, it->second.size);
        regions.byBase.erase(it);
        return TRUE;
    }
    if (freeType == MEM_DECOMMIT) {
        auto it = FindRegion(regions, base);
        if (it == regions.byBase.end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        std::uintptr_t start = base / page * page;
        std::uintptr_t end =
            size == 0 ? it->first + it->second.size : (base + size + page - 1) / page * page;
        if (end > it->first + it->second.size) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        // Fresh zero pages without access, as a decommitted range reads back on Windows.
        mmap(reinterpret_cast<void*>(start), end - start, PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED | MAP_NORESERVE, -1, 0);
        // The new mapping takes the region's huge-page advice again (so it merges back with the
        // rest of the region and a later commit gets huge pages).
        if (it->second.size >= kHugePage) {
            madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
        }
        for (std::uintptr_t p = start; p < end; p += page) {
            it->second.pageProtect[(p - it->first) / page] = 0;
        }
        return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

SIZE_T VirtualQuery(LPCVOID address, MEMORY_BASIC_INFORMATION* info, SIZE_T length) {
    if (info == nullptr || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    const std::size_t page = PageSize();
    Regions& regions = TheRegions();
    std::lock_guard<std::mutex> lock(regions.mutex);
    auto at = reinterpret_cast<std::uintptr_t>(address) / page * page;
    std::memset(info, 0, sizeof(*info));
    info->BaseAddress = reinterpret_cast<LPVOID>(at);
    auto it = FindRegion(regions, at);
    if (it == regions.byBase.end()) {
        // Memory this layer did not hand out: one page of free (or foreign) address space.
        info->RegionSize = page;
        info->State = MEM_FREE;
        info->Protect = PAGE_NOACCESS;
        return sizeof(*info);
    }
    const Region& region = it->second;
    std::size_t first = (at - it->first) / page;
    std::size_t last = first;
    while (last + 1 < region.pageProtect.size() &&
           region.pageProtect[last + 1] == region.pageProtect[first]) {
        ++last;
    }
    info->AllocationBase = reinterpret_cast<LPVOID>(it->first);
    info->AllocationProtect = region.allocationProtect;
    info->RegionSize = (last - first + 1) * page;
    info->State = region.pageProtect[first] != 0 ? MEM_COMMIT : MEM_RESERVE;
    info->Protect = region.pageProtect[first];
    info->Type = MEM_PRIVATE;
    return sizeof(*info);
}

// ---- The process heap -----------------------------------------------------------------------

namespace {
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x7E0000));
}

HANDLE GetProcessHeap() {
    return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    if (heap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (bytes == 0) bytes = 1;
    void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(1, bytes) : std::malloc(bytes);
    if (block == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

BOOL HeapFree(HANDLE heap, DWORD, LPVOID block) {
    if (heap != kProcessHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::free(block);
    return TRUE;
}

// ---- System figures -------------------------------------------------------------------------

namespace {

// Fields of /proc/meminfo in bytes (0 when absent).
std::map<std::string, ULONGLONG> ReadMemInfo() {
    std::map<std::string, ULONGLONG> fields;
    std::ifstream file("/proc/meminfo");
    std::string name;
    ULONGLONG kilobytes = 0;
    std::string unit;
    while (file >> name >> kilobytes) {
        if (!name.empty() && name.back() == ':') name.pop_back();
        fields[name] = kilobytes * 1024;
        file.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    return fields;
}

void FillMemoryStatus(MEMORYSTATUSEX& status) {
    auto info = ReadMemInfo();
    ULONGLONG total = info["MemTotal"];
    ULONGLONG available = info.count("MemAvailable") ? info["MemAvailable"] : info["MemFree"];
    if (total == 0) {
        struct sysinfo si {};
        sysinfo(&si);
        total = static_cast<ULONGLONG>(si.totalram) * si.mem_unit;
        available = static_cast<ULONGLONG>(si.freeram) * si.mem_unit;
    }
    if (available > total) available = total;
    status.dwMemoryLoad = total == 0 ? 0 : static_cast<DWORD>((total - available) * 100 / total);
    status.ullTotalPhys = total;
    status.ullAvailPhys = available;
    status.ullTotalPageFile = total + info["SwapTotal"];
    status.ullAvailPageFile = available + info["SwapFree"];
    // A 64-bit process: 128 TB of user address space.
    status.ullTotalVirtual = 0x7FFFFFFE0000ULL;
    status.ullAvailVirtual = status.ullTotalVirtual;
    status.ullAvailExtendedVirtual = 0;
}

}  // namespace

namespace {
std::atomic<int> gProcessorCountOverride{0};
}  // namespace

void SetLogicalProcessorCountForTests(int count) {
    gProcessorCountOverride = count;
}

void GetSystemInfo(SYSTEM_INFO* info) {
    std::memset(info, 0, sizeof(*info));
#if defined(__x86_64__)
    info->u.s.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    info->dwProcessorType = PROCESSOR_AMD_X8664;
#elif defined(__aarch64__)
    info->u.s.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_ARM64;
#else
    info->u.s.wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
#endif
    info->dwPageSize = static_cast<DWORD>(PageSize());
    info->lpMinimumApplicationAddress = reinterpret_cast<LPVOID>(0x10000);
    info->lpMaximumApplicationAddress = reinterpret_cast<LPVOID>(0x7FFFFFFEFFFFULL);
    long processors = sysconf(_SC_NPROCESSORS_ONLN);
    if (gProcessorCountOverride > 0) processors = gProcessorCountOverride;
    if (processors < 1) processors = 1;
    info->dwNumberOfProcessors = static_cast<DWORD>(processors);
    info->dwActiveProcessorMask =
        processors >= 64 ? ~DWORD_PTR{0} : (DWORD_PTR{1} << processors) - 1;
    info->dwAllocationGranularity = 65536;
    info->wProcessorLevel = 6;
}

BOOL GlobalMemoryStatusEx(MEMORYSTATUSEX* status) {
    if (status == nullptr || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    FillMemoryStatus(*status);
    return TRUE;
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
    MEMORYSTATUSEX ex{};
    FillMemoryStatus(ex);
    status->dwLength = sizeof(MEMORYSTATUS);
    status->dwMemoryLoad = ex.dwMemoryLoad;
    status->dwTotalPhys = static_cast<SIZE_T>(ex.ullTotalPhys);
    status->dwAvailPhys = static_cast<SIZE_T>(ex.ullAvailPhys);
    status->dwTotalPageFile = static_cast<SIZE_T>(ex.ullTotalPageFile);
    status->dwAvailPageFile = static_cast<SIZE_T>(ex.ullAvailPageFile);
    status->dwTotalVirtual = static_cast<SIZE_T>(ex.ullTotalVirtual);
    status->dwAvailVirtual = static_cast<SIZE_T>(ex.ullAvailVirtual);
}

namespace {
const ModuleExports kExports("kernel32.dll",
                             {{"VirtualAlloc", Export(&VirtualAlloc)},
                              {"VirtualFree", Export(&VirtualFree)},
                              {"VirtualQuery", Export(&VirtualQuery)},
                              {"GetProcessHeap", Export(&GetProcessHeap)},
                              {"HeapAlloc", Export(&HeapAlloc)},
                              {"HeapFree", Export(&HeapFree)},
                              {"GetSystemInfo", Export(&GetSystemInfo)},
                              {"GlobalMemoryStatus", Export(&GlobalMemoryStatus)},
                              {"GlobalMemoryStatusEx", Export(&GlobalMemoryStatusEx)}});
}  // namespace

}  // namespace platform::kernel32
