// The library's tracked allocator: every library allocation carries its caller's source file and
// line. (Interim: plain heap blocks until the tracked heaps land; the signatures are final.)
#pragma once

#include <cstddef>

namespace ZiDaz {

void* AllocateTrackedMemory(std::size_t size, const char* file, int line);
void* AllocateTrackedMemoryZeroed(std::size_t size, const char* file, int line);
void* ReallocateTrackedMemory(void* block, std::size_t size, const char* file, int line);
void FreeTrackedMemory(void* block);

}  // namespace ZiDaz

// Call-site helpers that pass the caller's own file and line.
#define DX_ALLOC(size) ::ZiDaz::AllocateTrackedMemory((size), __FILE__, __LINE__)
#define DX_ALLOC_ZEROED(size) ::ZiDaz::AllocateTrackedMemoryZeroed((size), __FILE__, __LINE__)
#define DX_REALLOC(block, size) ::ZiDaz::ReallocateTrackedMemory((block), (size), __FILE__, __LINE__)
#define DX_FREE(block) ::ZiDaz::FreeTrackedMemory(block)
