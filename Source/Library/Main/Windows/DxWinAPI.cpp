#include "Main/Windows/DxWinAPI.h"

#include "platform/Modules.h"

namespace ZiDaz {

SystemApiTable SystemApi;

namespace {

template <typename F>
void LookUp(HMODULE module, const char* name, F& slot) {
    slot = reinterpret_cast<F>(GetProcAddress(module, name));
}

void LookUpKernel32(HMODULE module) {
    LookUp(module, "GetCurrentDirectoryW", SystemApi.GetCurrentDirectoryW);
    LookUp(module, "GetOEMCP", SystemApi.GetOEMCP);
    LookUp(module, "MultiByteToWideChar", SystemApi.MultiByteToWideChar);
    LookUp(module, "WideCharToMultiByte", SystemApi.WideCharToMultiByte);
}

void ClearKernel32() {
    SystemApi.kernel32Module = nullptr;
    SystemApi.GetCurrentDirectoryW = nullptr;
    SystemApi.GetOEMCP = nullptr;
    SystemApi.MultiByteToWideChar = nullptr;
    SystemApi.WideCharToMultiByte = nullptr;
}

}  // namespace

void LoadSystemApiTable() {
    if (SystemApi.loaded) return;

    if (SystemApi.kernel32Module == nullptr) {
        SystemApi.kernel32Module = LoadLibraryA("kernel32.dll");
        // kernel32 is always there on the original system, so its entries are looked up without
        // testing the handle (a null module simply gives null entries).
        LookUpKernel32(SystemApi.kernel32Module);
    }

    // Wide test: a working GetCurrentDirectoryW overwrites the first unit of the buffer.
    char16_t directory[1024];
    directory[0] = 0xFFFF;
    if (SystemApi.GetCurrentDirectoryW != nullptr) SystemApi.GetCurrentDirectoryW(1024, directory);
    SystemApi.wideCalls = directory[0] != 0xFFFF ? 1 : 0;

    SystemApi.loaded = 1;
}

int ReleaseSystemApiTable() {
    if (!SystemApi.loaded) return 0;
    if (SystemApi.kernel32Module != nullptr) {
        FreeLibrary(SystemApi.kernel32Module);
        ClearKernel32();
    }
    SystemApi.loaded = 0;
    return 0;
}

void EnsureSystemApiTable() {
    if (!SystemApi.loaded) LoadSystemApiTable();
}

}  // namespace ZiDaz
