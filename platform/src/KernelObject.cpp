#include "platform/KernelObject.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 0x100;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // never destroyed: handles may be closed at exit
    return *table;
}

std::uintptr_t Key(HANDLE handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object) {
    if (!object) return nullptr;
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::uintptr_t key = table.next;
    table.next += 4;
    table.objects.emplace(key, std::move(object));
    return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(Key(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

std::shared_ptr<KernelObject> UnregisterHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(Key(handle));
    if (found == table.objects.end()) return nullptr;
    std::shared_ptr<KernelObject> object = std::move(found->second);
    table.objects.erase(found);
    return object;
}

std::size_t OpenHandleCount() {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.objects.size();
}

namespace kernel32 {

BOOL CloseHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> object = UnregisterHandle(handle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return object->Close();
}

namespace {
const ModuleExports kExports("kernel32.dll", {{"CloseHandle", Export(&CloseHandle)}});
}

}  // namespace kernel32

}  // namespace platform
