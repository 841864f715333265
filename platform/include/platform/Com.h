// The few COM pieces the library uses beside the GUID of WinTypes.h: IUnknown, HRESULT values, and
// ole32's object creation. COM classes are registered by the platform source file that implements
// them, like module entry points; CoCreateInstance of a class nobody registered fails with
// REGDB_E_CLASSNOTREG, and the caller's fallback runs.
#pragma once

#include <cstring>

#include "platform/WinTypes.h"

using REFGUID = const GUID&;

inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
inline constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
inline constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
inline constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD COINIT_MULTITHREADED = 0x0;
inline constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

namespace platform::ole32 {

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid,
                         LPVOID* object);

}  // namespace platform::ole32

namespace platform {

// Makes a new object of a class for an interface: S_OK with *object set, or an error with null.
using ComClassFactory = HRESULT (*)(REFIID iid, void** object);

// Registers a COM class served by a DLL at static initialisation:
//   static const platform::ComClassExport kClass("dinput8.dll", CLSID_DirectInput8, &Create);
// The class is there only while its DLL is (a hidden module hides its classes too).
class ComClassExport {
  public:
    ComClassExport(const char* dllName, const CLSID& clsid, ComClassFactory factory);
};

}  // namespace platform
