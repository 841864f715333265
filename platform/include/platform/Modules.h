// The module registry: what LoadLibrary and GetProcAddress find. Each platform source file
// registers the entry points it implements under the DLL name a caller asks for; a DLL or entry
// point that nobody registered resolves to null, and the caller's own fallback runs.
#pragma once

#include <initializer_list>

#include "platform/WinTypes.h"

HMODULE LoadLibraryA(LPCSTR fileName);
HMODULE LoadLibraryW(LPCWSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);

namespace platform {

struct ExportEntry {
    const char* name;
    FARPROC proc;
};

// Casts any function to the stored entry type.
template <typename F>
FARPROC Export(F* function) {
    return reinterpret_cast<FARPROC>(function);
}

// Registers entry points of one DLL at static initialisation:
//   static const platform::ModuleExports kExports("kernel32.dll", {{"Sleep", Export(&Sleep)}});
// A DLL may be registered from several files; names are matched case-insensitively, the DLL name
// with or without its ".dll" ending.
class ModuleExports {
public:
    ModuleExports(const char* dllName, std::initializer_list<ExportEntry> entries);
};

// Test hooks: make a whole module, or one entry of it, look absent; and undo all of that.
void HideModule(const char* dllName, bool hidden);
void HideEntry(const char* dllName, const char* procName, bool hidden);
void ResetHiddenModules();

// How many LoadLibrary handles are open for the module (FreeLibrary lowers it); -1 when unknown.
int ModuleLoadCount(const char* dllName);

}  // namespace platform
