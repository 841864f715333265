// Interim allocator over the C heap, 16-byte aligned; replaced by the tracked TLSF heaps.
#include "Main/DxMemory.h"

#include <cstdlib>
#include <cstring>

namespace ZiDaz {

namespace {
struct alignas(16) BlockHeader {
    std::size_t size;
};
}  // namespace

void* AllocateTrackedMemory(std::size_t size, const char*, int) {
    if (size == 0) size = 1;
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (header == nullptr) return nullptr;
    header->size = size;
    return header + 1;
}

void* AllocateTrackedMemoryZeroed(std::size_t size, const char* file, int line) {
    void* block = AllocateTrackedMemory(size, file, line);
    if (block != nullptr) std::memset(block, 0, size == 0 ? 1 : size);
    return block;
}

void* ReallocateTrackedMemory(void* block, std::size_t size, const char* file, int line) {
    if (block == nullptr) return AllocateTrackedMemory(size, file, line);
    if (size == 0) return nullptr;
    BlockHeader* old = static_cast<BlockHeader*>(block) - 1;
    void* moved = AllocateTrackedMemory(size, file, line);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, old->size < size ? old->size : size);
    std::free(old);
    return moved;
}

void FreeTrackedMemory(void* block) {
    if (block != nullptr) std::free(static_cast<BlockHeader*>(block) - 1);
}

}  // namespace ZiDaz
