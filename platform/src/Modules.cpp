#include "platform/Modules.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"

struct PlatformModule {
    std::string name;  // as registered, lower case, without ".dll"
    std::map<std::string, FARPROC> entries;
    int loadCount = 0;
};

namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<PlatformModule>> modules;
    std::set<std::string> hiddenModules;
    std::set<std::pair<std::string, std::string>> hiddenEntries;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // never destroyed: lookups may run at exit
    return *registry;
}

// "C:\\Windows\\System32\\KERNEL32.DLL" -> "kernel32".
std::string ModuleKey(std::string_view fileName) {
    auto slash = fileName.find_last_of("\\/");
    if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
    std::string key(fileName);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0) key.resize(key.size() - 4);
    return key;
}

std::string Utf16ToUtf8(const char16_t* text) {
    std::string out;
    platform::Utf16ToUtf8(text, out);
    return out;
}

}  // namespace

namespace platform {

ModuleExports::ModuleExports(const char* dllName, std::initializer_list<ExportEntry> entries) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::string key = ModuleKey(dllName);
    auto& module = registry.modules[key];
    if (!module) {
        module = std::make_unique<PlatformModule>();
        module->name = key;
    }
    for (const ExportEntry& entry : entries) module->entries[entry.name] = entry.proc;
}

void HideModule(const char* dllName, bool hidden) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (hidden) {
        registry.hiddenModules.insert(ModuleKey(dllName));
    } else {
        registry.hiddenModules.erase(ModuleKey(dllName));
    }
}

void HideEntry(const char* dllName, const char* procName, bool hidden) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto key = std::make_pair(ModuleKey(dllName), std::string(procName));
    if (hidden) {
        registry.hiddenEntries.insert(key);
    } else {
        registry.hiddenEntries.erase(key);
    }
}

void ResetHiddenModules() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.hiddenModules.clear();
    registry.hiddenEntries.clear();
}

int ModuleLoadCount(const char* dllName) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.modules.find(ModuleKey(dllName));
    return it == registry.modules.end() ? -1 : it->second->loadCount;
}

}  // namespace platform

HMODULE LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr) {
        platform::kernel32::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    std::string key = ModuleKey(fileName);
    auto it = registry.modules.find(key);
    if (it == registry.modules.end() || registry.hiddenModules.count(key)) {
        platform::kernel32::SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++it->second->loadCount;
    return it->second.get();
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    if (fileName == nullptr) {
        platform::kernel32::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryA(Utf16ToUtf8(fileName).c_str());
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
    if (module == nullptr || procName == nullptr) {
        platform::kernel32::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = module->entries.find(procName);
    if (it == module->entries.end() ||
        registry.hiddenEntries.count(std::make_pair(module->name, std::string(procName)))) {
        platform::kernel32::SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return it->second;
}

BOOL FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        platform::kernel32::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (module->loadCount > 0) --module->loadCount;
    return TRUE;
}

namespace {
const platform::ModuleExports kLoaderExports(
    "kernel32.dll", {{"LoadLibraryA", platform::Export(&LoadLibraryA)},
                     {"LoadLibraryW", platform::Export(&LoadLibraryW)},
                     {"GetProcAddress", platform::Export(&GetProcAddress)},
                     {"FreeLibrary", platform::Export(&FreeLibrary)}});
}  // namespace
