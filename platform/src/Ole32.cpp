// ole32: object creation from the classes that platform source files register, and the per-thread
// initialisation count (there are no apartments to set up on this platform).
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/Com.h"
#include "platform/Mmdevapi.h"
#include "platform/Modules.h"

namespace platform {

namespace {

struct ComClass {
    const char* dll;
    CLSID clsid;
    ComClassFactory factory;
};

struct ClassRegistry {
    std::mutex mutex;
    std::vector<ComClass> classes;
};

ClassRegistry& Classes() {
    static ClassRegistry registry;
    return registry;
}

thread_local int tInitCount = 0;

}  // namespace

ComClassExport::ComClassExport(const char* dllName, const CLSID& clsid, ComClassFactory factory) {
    ClassRegistry& r = Classes();
    std::lock_guard lock(r.mutex);
    r.classes.push_back({dllName, clsid, factory});
}

namespace ole32 {

HRESULT CoInitializeEx(LPVOID, DWORD) {
    return tInitCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (tInitCount > 0) --tInitCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID iid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ComClassFactory factory = nullptr;
    const char* dll = nullptr;
    {
        ClassRegistry& r = Classes();
        std::lock_guard lock(r.mutex);
        for (const ComClass& c : r.classes) {
            if (c.clsid == clsid) {
                factory = c.factory;
                dll = c.dll;
                break;
            }
        }
    }
    if (factory == nullptr) return REGDB_E_CLASSNOTREG;
    HMODULE module = LoadLibraryA(dll);
    if (module == nullptr) return REGDB_E_CLASSNOTREG;
    FreeLibrary(module);
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return factory(iid, object);
}

LPVOID CoTaskMemAlloc(SIZE_T bytes) {
    return std::malloc(bytes ? bytes : 1);
}

void CoTaskMemFree(LPVOID block) {
    std::free(block);
}

// Frees what the value owns (the text of a VT_LPWSTR value) and leaves it VT_EMPTY.
HRESULT PropVariantClear(PROPVARIANT* value) {
    if (value == nullptr) return S_OK;
    if (value->vt == VT_LPWSTR) CoTaskMemFree(value->pwszVal);
    std::memset(value, 0, sizeof(*value));
    return S_OK;
}

namespace {
const ModuleExports kExports("ole32.dll", {{"CoInitializeEx", Export(&CoInitializeEx)},
                                           {"CoInitialize", Export(&CoInitialize)},
                                           {"CoUninitialize", Export(&CoUninitialize)},
                                           {"CoCreateInstance", Export(&CoCreateInstance)},
                                           {"CoTaskMemAlloc", Export(&CoTaskMemAlloc)},
                                           {"CoTaskMemFree", Export(&CoTaskMemFree)},
                                           {"PropVariantClear", Export(&PropVariantClear)}});
}  // namespace

}  // namespace ole32

}  // namespace platform
