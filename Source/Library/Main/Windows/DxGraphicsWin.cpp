// The graphics front end's Windows half: the back-end tables and the Backend_ dispatchers, the
// choice of back end, the vertical-blank waiter, the display table and full-screen display modes,
// and the presentation of the software screen into the window through GDI.
#include <cstring>

#include "Main/DxBaseFunc.h"
#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"
#include "platform/Gdi32.h"

namespace ZiDaz {

namespace {

const GraphicsBackendTable* gTables[3] = {nullptr, nullptr, nullptr};

const GraphicsBackendTable* Active() {
    int kind = GraphicsBackendKind;
    return kind == 1 || kind == 2 ? gTables[kind] : nullptr;
}

ScreenModeSettingsData& Screen() {
    return GraphicsSystemState.ScreenModeSettings;
}

// The entries of the system table that are kept untyped there.
template <typename F>
F Entry(FARPROC entry) {
    return reinterpret_cast<F>(entry);
}

}  // namespace

int SetGraphicsBackendTable(int kind, const GraphicsBackendTable* table) {
    if (kind != 1 && kind != 2) return -1;
    gTables[kind] = table;
    return 0;
}

const GraphicsBackendTable* GetGraphicsBackendTable(int kind) {
    return kind == 1 || kind == 2 ? gTables[kind] : nullptr;
}

// ---- The dispatchers ----

#define VELK_DEFINE_DISPATCHER(R, Name, Params, Args, Default)  \
    R Backend_##Name Params {                                   \
        const GraphicsBackendTable* t = Active();               \
        if (t == nullptr || t->Name == nullptr) return Default; \
        return t->Name Args;                                    \
    }
#define VELK_DEFINE_DISPATCHER_VOID(Name, Params, Args)       \
    void Backend_##Name Params {                              \
        const GraphicsBackendTable* t = Active();             \
        if (t != nullptr && t->Name != nullptr) t->Name Args; \
    }
VELK_GRAPHICS_DISPATCHERS(VELK_DEFINE_DISPATCHER, VELK_DEFINE_DISPATCHER_VOID)
#undef VELK_DEFINE_DISPATCHER
#undef VELK_DEFINE_DISPATCHER_VOID

int Backend_WriteIndexBufferData(BufferRecord* buffer, int first, const void* data, int count) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    auto entry = GraphicsBackendKind == 1 ? t->WriteIndexBufferData : t->WriteBufferData;
    return entry ? entry(buffer, first, data, count) : 0;
}

int Backend_WriteVertexBufferData(BufferRecord* buffer, int first, const void* data, int count) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    auto entry = GraphicsBackendKind == 1 ? t->WriteVertexBufferData : t->WriteBufferData;
    return entry ? entry(buffer, first, data, count) : 0;
}

int Backend_ApplyWorldMatrix(const Matrix4F* matrix) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    // Direct3D 9 has one world-matrix operation for both.
    auto entry = GraphicsBackendKind == 1 ? t->ChangeWorldMatrix : t->ApplyWorldMatrix;
    return entry ? entry(matrix) : 0;
}

int Backend_FlushVertexBatch(int flag) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    if (GraphicsBackendKind == 1) return t->FlushVertexBatch ? t->FlushVertexBatch(flag) : 0;
    // -1 keeps the batch's vertex type.
    return t->FlushVertexBatchOfType ? t->FlushVertexBatchOfType(-1, flag) : 0;
}

int Backend_ApplyDrawTarget(HandleValue target, int oldFace, int oldMip, GraphHandleRecord* graph,
                            GraphHandleRecord* oldGraph, ShadowMapRecord* map,
                            ShadowMapRecord* oldMap) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr || t->ApplyDrawTarget == nullptr) return 0;
    // The old shadow map concerns Direct3D 11 only.
    return t->ApplyDrawTarget(target, oldFace, oldMip, graph, oldGraph, map,
                              GraphicsBackendKind == 2 ? oldMap : nullptr);
}

int Backend_FinishDrawTargetChange(HandleValue target) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) {
        if (GraphicsBackendKind == 0 && target == DX_TARGET_FRONT_SCREEN) ArmFrontScreenTimer();
        return 0;
    }
    return t->FinishDrawTargetChange ? t->FinishDrawTargetChange(target) : 0;
}

int Backend_BindRenderTargetSlot(int slot, HandleValue graph, int face, int mip) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    if (GraphicsBackendKind == 1)
        return t->BindRenderTargetSlotFace ? t->BindRenderTargetSlotFace(slot, graph, face) : 0;
    return t->BindRenderTargetSlot ? t->BindRenderTargetSlot(slot, graph, face, mip) : 0;
}

int Backend_ApplyTextureTransform(int enable, const Matrix4F* matrix, int stage) {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr) return 0;
    if (GraphicsBackendKind == 1)
        return t->ApplyTextureTransform ? t->ApplyTextureTransform(enable, matrix, stage) : 0;
    return t->ApplyTextureTransformNoStage ? t->ApplyTextureTransformNoStage(enable, matrix) : 0;
}

int Backend_ReleaseConstantBuffer(ConstantBufferRecord* buffer) {
    if (GraphicsBackendKind == 1) return -1;  // Direct3D 9 has no constant buffers
    const GraphicsBackendTable* t = Active();
    if (t == nullptr || t->ReleaseConstantBuffer == nullptr) return 0;
    return t->ReleaseConstantBuffer(buffer);
}

void Backend_ExpireSysMemCaches() {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr || GraphicsBackendKind != 1) return;
    if (t->ExpireSysMemSurfaces) t->ExpireSysMemSurfaces();
    if (t->ExpireSysMemTextures) t->ExpireSysMemTextures();
}

int Backend_SetDialogBoxMode(int flag) {
    // Whatever the kind: the Direct3D 9 operation does nothing without its device.
    const GraphicsBackendTable* t = gTables[1];
    if (t != nullptr && t->SetDialogBoxMode != nullptr) t->SetDialogBoxMode(flag);
    return 0;
}

int Backend_FinishSetup() {
    const GraphicsBackendTable* t = Active();
    if (t == nullptr || t->FinishSetup == nullptr) return 0;
    return t->FinishSetup() < 0 ? -1 : 0;
}

// ---- The choice of back end ----

int SelectGraphicsBackend() {
    GraphicsSystemStateData& g = GraphicsSystemState;
    if (!g.HardwareForbidden) {
        if (!Direct3D11Forbidden) {
            GraphicsBackendKind = DX_GRAPHICS_BACKEND_D3D11;
            if (gTables[2] && gTables[2]->Start && gTables[2]->Start() == 0) return 0;
            g.DevicePresent = 0;
        }
        GraphicsBackendKind = DX_GRAPHICS_BACKEND_D3D9;
        if (gTables[1] && gTables[1]->Start && gTables[1]->Start() == 0) return 0;
        g.DevicePresent = 0;
        GraphicsBackendKind = DX_GRAPHICS_BACKEND_SOFTWARE;
    } else {
        GraphicsBackendKind = DX_GRAPHICS_BACKEND_SOFTWARE;
    }
    // Software path.
    CreateVBlankWaiter();
    if (!IsWindowedMode() && Screen().FullScreenResolutionMode != 0) {
        if (ChangeDisplayResolution() != 0) {
            ReleaseVBlankWaiter();
            return -1;
        }
    }
    CalibrateVBlankWait();
    return 0;
}

int TerminateGraphicsBackend() {
    const GraphicsBackendTable* t = Active();
    if (t && t->TerminateBackEnd) t->TerminateBackEnd();
    if (GraphicsBackendKind == 0) ReleaseVBlankWaiter();
    FreeDisplayTable();
    return 0;
}

// ---- The vertical-blank waiter ----

namespace {

// The few methods of IDirectDraw7 the waiter calls, at their places in its method table.
struct DirectDraw7 {
    void** methods;
};
constexpr int kDdRelease = 2;
constexpr int kDdInitialize = 18;
constexpr int kDdSetCooperativeLevel = 20;
constexpr int kDdWaitForVerticalBlank = 22;
constexpr DWORD DDWAITVB_BLOCKBEGIN = 1;
constexpr DWORD DDSCL_NORMAL = 8;

const GUID kClsidDirectDraw7 = {
    0x3C305196, 0x50DB, 0x11D3, {0x9C, 0xFE, 0x00, 0xC0, 0x4F, 0xD9, 0x30, 0xC5}};
const GUID kIidDirectDraw7 = {
    0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};

struct VBlankWaiter {
    DirectDraw7* object;
    std::int64_t interval;  // ticks; -1 = not measured
    std::int64_t lastBlank;
} gWaiter = {nullptr, -1, 0};

std::int64_t Ticks() {
    return static_cast<std::int64_t>(ReadTickCounter());
}

template <typename F>
F Method(DirectDraw7* object, int index) {
    return reinterpret_cast<F>(object->methods[index]);
}

void ReleaseObject(DirectDraw7* object) {
    Method<ULONG (*)(DirectDraw7*)>(object, kDdRelease)(object);
}

void BlockForBlank() {
    Method<HRESULT (*)(DirectDraw7*, DWORD, HANDLE)>(gWaiter.object, kDdWaitForVerticalBlank)(
        gWaiter.object, DDWAITVB_BLOCKBEGIN, nullptr);
}

}  // namespace

int CreateVBlankWaiter() {
    EnsureSystemApiTable();
    if (gWaiter.object) {
        ReleaseObject(gWaiter.object);
        gWaiter.object = nullptr;
    }
    WriteLogTextUtf16(u"DirectDraw オブジェクトの取得を行います....  ");
    void* object = nullptr;
    HRESULT hr = WinCoCreateInstance(kClsidDirectDraw7, nullptr, 0x17, kIidDirectDraw7, &object, 0);
    if (hr < 0 || object == nullptr) {
        WriteLogTextUtf16WithError(kErrorD3D9Object, u"オブジェクトの取得に失敗しました\n");
        return -1;
    }
    auto* dd = static_cast<DirectDraw7*>(object);
    WriteLogTextUtf16(u"成功\n");
    WriteLogTextUtf16(u"引き続き初期化処理... ");
    if (Method<HRESULT (*)(DirectDraw7*, const GUID*)>(dd, kDdInitialize)(dd, nullptr) < 0) {
        WriteLogTextUtf16WithError(kErrorDirectDrawObject,
                                   u"DirectDrawオブジェクトの初期化に失敗しました\n");
        ReleaseObject(dd);
        return -1;
    }
    WriteLogTextUtf16(u"初期化に成功しました\n");
    Method<HRESULT (*)(DirectDraw7*, HWND, DWORD)>(dd, kDdSetCooperativeLevel)(
        dd, QueryMainWindow(), DDSCL_NORMAL);
    gWaiter.object = dd;
    return 0;
}

void CalibrateVBlankWait() {
    gWaiter.interval = -1;
    if (gWaiter.object) {
        std::int64_t tolerance = MillisecondsToTicks(1);
        BlockForBlank();
        std::int64_t previous = Ticks(), previousInterval = 0, sum = 0;
        int run = 0;
        for (int round = 0; round < 60 && run < 10; ++round) {
            BlockForBlank();
            std::int64_t now = Ticks(), interval = now - previous;
            std::int64_t difference = interval - previousInterval;
            if (difference < tolerance && -difference < tolerance) {
                sum += interval;
                ++run;
            } else {
                sum = 0;
                run = 0;
            }
            previousInterval = interval;
            previous = now;
            if (run == 10)
                gWaiter.interval = static_cast<std::int64_t>(static_cast<std::uint64_t>(sum) / 10u);
            SleepMilliseconds(5);
        }
    }
    WaitVBlank();
}

void WaitVBlank() {
    if (gWaiter.object == nullptr) return;
    std::int64_t threshold =
        gWaiter.interval < 0 ? MillisecondsToTicks(4) : gWaiter.interval - MillisecondsToTicks(3);
    if (Ticks() - gWaiter.lastBlank >= threshold) {
        BlockForBlank();
        gWaiter.lastBlank = Ticks();
        SleepMilliseconds(0);
        return;
    }
    SleepMilliseconds(0);
    while (Ticks() - gWaiter.lastBlank < threshold) SleepMilliseconds(1);
    BlockForBlank();
    gWaiter.lastBlank = Ticks();
}

int ReleaseVBlankWaiter() {
    if (gWaiter.object) ReleaseObject(gWaiter.object);
    gWaiter.object = nullptr;
    return 0;
}

void* GetVBlankWaiterObject() {
    return gWaiter.object;
}

// ---- Displays ----

namespace {

void* HeapBlock(std::size_t bytes) {
    if (SystemApi.GetProcessHeap && SystemApi.HeapAlloc)
        return SystemApi.HeapAlloc(SystemApi.GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
    return nullptr;
}

void FreeHeapBlock(void* block) {
    if (block && SystemApi.GetProcessHeap && SystemApi.HeapFree)
        SystemApi.HeapFree(SystemApi.GetProcessHeap(), 0, block);
}

using CreateDcW = HDC (*)(LPCWSTR, LPCWSTR, LPCWSTR, const DEVMODEW*);
using EnumDevicesW = BOOL (*)(LPCWSTR, DWORD, DISPLAY_DEVICEW*, DWORD);
using EnumSettingsW = BOOL (*)(LPCWSTR, DWORD, DEVMODEW*);
using DpiForMonitor = HRESULT (*)(HMONITOR, int, UINT*, UINT*);

// The callback counts while the table does not exist, and fills one entry per call once it does.
int gEnumerateIndex = 0;

void ReadDeviceCaps(HDC dc, DisplayInfo* d) {
    d->Width = SystemApi.GetDeviceCaps(dc, HORZRES);
    d->Height = SystemApi.GetDeviceCaps(dc, VERTRES);
    d->DesktopWidth = SystemApi.GetDeviceCaps(dc, 118);   // DESKTOPHORZRES
    d->DesktopHeight = SystemApi.GetDeviceCaps(dc, 117);  // DESKTOPVERTRES
    if (d->DesktopWidth < 1 || d->DesktopHeight < 1) {
        d->DesktopWidth = d->Width;
        d->DesktopHeight = d->Height;
    }
    d->ColorBits = SystemApi.GetDeviceCaps(dc, PLANES) * SystemApi.GetDeviceCaps(dc, BITSPIXEL);
    d->RefreshRate = SystemApi.GetDeviceCaps(dc, VREFRESH);
}

bool LegacyDisplayPath() {
    OSVERSIONINFOW v{};
    v.dwOSVersionInfoSize = sizeof(v);
    if (!WinGetVersionExW(&v)) return SystemApi.EnumDisplayMonitors == nullptr;
    return v.dwPlatformId != 2 || v.dwMajorVersion < 5 || SystemApi.EnumDisplayMonitors == nullptr;
}

}  // namespace

BOOL EnumerateDisplaysMonitorCallback(HMONITOR monitor, HDC, RECT*, LPARAM) {
    ScreenModeSettingsData& s = Screen();
    if (s.Displays != nullptr && gEnumerateIndex < s.DisplayCount) {
        int index = gEnumerateIndex;
        DisplayInfo* d = &s.Displays[index];
        MONITORINFOEXW info{};
        info.cbSize = sizeof(info);
        if (WinGetMonitorInfoW(monitor, reinterpret_cast<MONITORINFO*>(&info))) {
            d->Primary = (info.dwFlags & 1) ? 1 : 0;
            if (d->Primary) s.PrimaryDisplay = index;
            d->DesktopRect = info.rcMonitor;
            int i = 0;
            for (; i < 31 && info.szDevice[i]; ++i) d->DeviceName[i] = info.szDevice[i];
            d->DeviceName[i] = 0;
        }
        if (SystemApi.CreateDCW && SystemApi.DeleteDC) {
            HDC dc =
                Entry<CreateDcW>(SystemApi.CreateDCW)(d->DeviceName, nullptr, nullptr, nullptr);
            if (dc) {
                ReadDeviceCaps(dc, d);
                SystemApi.DeleteDC(dc);
            }
        }
        d->Monitor = monitor;
        if (SystemApi.GetDpiForMonitor) {
            UINT x = 0, y = 0;
            if (Entry<DpiForMonitor>(SystemApi.GetDpiForMonitor)(monitor, 0, &x, &y) >= 0) {
                d->DpiX = static_cast<int>(x);
                d->DpiY = static_cast<int>(y);
            }
            WriteLogFormatUtf16(u"No.%d  モニター名：%s　%dx%d　%dbit　%dHz  %dx%ddpi", index,
                                d->DeviceName, d->DesktopWidth, d->DesktopHeight, d->ColorBits,
                                d->RefreshRate, d->DpiX, d->DpiY);
        } else {
            WriteLogFormatUtf16(u"No.%d  モニター名：%s　%dx%d　%dbit　%dHz", index, d->DeviceName,
                                d->DesktopWidth, d->DesktopHeight, d->ColorBits, d->RefreshRate);
        }
    }
    ++gEnumerateIndex;
    return TRUE;
}

int FreeDisplayTable() {
    ScreenModeSettingsData& s = Screen();
    if (s.Displays) {
        for (int i = 0; i < s.DisplayCount; ++i) FreeHeapBlock(s.Displays[i].Modes);
        FreeHeapBlock(s.Displays);
    }
    s.Displays = nullptr;
    s.DisplayCount = 0;
    s.PrimaryDisplay = 0;
    return 0;
}

int EnumerateDisplays() {
    EnsureSystemApiTable();
    ScreenModeSettingsData& s = Screen();
    FreeDisplayTable();
    WriteLogFormatUtf16(u"ディスプレイ情報のセットアップ開始");
    IncreaseLogIndent();
    bool legacy = LegacyDisplayPath();
    int monitors = 1, devices = 1;
    if (!legacy) {
        gEnumerateIndex = 0;
        SystemApi.EnumDisplayMonitors(nullptr, nullptr, &EnumerateDisplaysMonitorCallback, 0);
        monitors = gEnumerateIndex;
        devices = 0;
        if (SystemApi.EnumDisplayDevicesW) {
            DISPLAY_DEVICEW dev{};
            dev.cb = sizeof(dev);
            while (Entry<EnumDevicesW>(SystemApi.EnumDisplayDevicesW)(
                nullptr, static_cast<DWORD>(devices), &dev, 0))
                ++devices;
        }
    }
    WriteLogFormatUtf16(u"モニターの数：%d  ディスプレイデバイスの数：%d", monitors, devices);
    auto* table = static_cast<DisplayInfo*>(
        monitors > 0 ? HeapBlock(sizeof(DisplayInfo) * static_cast<std::size_t>(monitors))
                     : nullptr);
    if (table == nullptr) {
        WriteLogFormatUtf16(u"[エラー]ディスプレイ情報保存用のメモリ確保に失敗しました");
        DecreaseLogIndent();
        return -1;
    }
    s.Displays = table;
    s.DisplayCount = monitors;
    s.PrimaryDisplay = 0;
    if (legacy) {
        DisplayInfo* d = &table[0];
        d->Primary = 1;
        HDC dc = SystemApi.GetDC ? SystemApi.GetDC(nullptr) : nullptr;
        if (dc) {
            ReadDeviceCaps(dc, d);
            SystemApi.ReleaseDC(nullptr, dc);
        }
        d->DesktopRect = RECT{0, 0, d->Width, d->Height};
        const char16_t name[] = u"DISPLAY";
        std::memcpy(d->DeviceName, name, sizeof(name));
        WriteLogFormatUtf16(u"No.%d  モニター名：%s　%dx%d　%dbit　%dHz", 0, d->DeviceName,
                            d->DesktopWidth, d->DesktopHeight, d->ColorBits, d->RefreshRate);
    } else {
        gEnumerateIndex = 0;
        SystemApi.EnumDisplayMonitors(nullptr, nullptr, &EnumerateDisplaysMonitorCallback, 0);
    }
    // The mode lists.
    auto settings = Entry<EnumSettingsW>(SystemApi.EnumDisplaySettingsW);
    for (int dev = 0; dev < devices && settings; ++dev) {
        DisplayInfo* d = nullptr;
        const char16_t* name = nullptr;
        if (legacy) {
            d = &table[0];
        } else {
            DISPLAY_DEVICEW info{};
            info.cb = sizeof(info);
            if (!Entry<EnumDevicesW>(SystemApi.EnumDisplayDevicesW)(
                    nullptr, static_cast<DWORD>(dev), &info, 0))
                continue;
            for (int i = 0; i < monitors; ++i) {
                if (CompareWideString(table[i].DeviceName, info.DeviceName) == 0) d = &table[i];
            }
            if (d == nullptr) continue;
            name = d->DeviceName;
        }
        int count = 0;
        DEVMODEW mode{};
        mode.dmSize = sizeof(mode);
        for (DWORD i = 0; settings(name, i, &mode); ++i) {
            if (mode.dmBitsPerPel >= 16) ++count;
        }
        if (count == 0) continue;
        auto* modes = static_cast<DisplayMode*>(
            HeapBlock(sizeof(DisplayMode) * static_cast<std::size_t>(count)));
        if (modes == nullptr) {
            DecreaseLogIndent();
            return -1;
        }
        d->Modes = modes;
        d->ModeCount = 0;
        for (DWORD i = 0; settings(name, i, &mode) && d->ModeCount < count; ++i) {
            if (mode.dmBitsPerPel < 16) continue;
            DisplayMode m{static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight),
                          static_cast<int>(mode.dmBitsPerPel),
                          static_cast<int>(mode.dmDisplayFrequency)};
            bool known = false;
            for (int k = 0; k < d->ModeCount && !known; ++k) {
                const DisplayMode& o = modes[k];
                known = o.Width == m.Width && o.Height == m.Height && o.ColorBits == m.ColorBits &&
                        o.RefreshRate == m.RefreshRate;
            }
            if (!known) modes[d->ModeCount++] = m;
        }
    }
    DecreaseLogIndent();
    WriteLogFormatUtf16(u"ディスプレイ情報のセットアップ完了");
    return 0;
}

namespace {

bool EnsureDisplayTable() {
    return Screen().Displays != nullptr || EnumerateDisplays() == 0;
}

}  // namespace

int DisplayInUse() {
    const ScreenModeSettingsData& s = Screen();
    if (s.Displays == nullptr) return -1;
    if (s.DisplayChosen && s.ChosenDisplay >= 0 && s.ChosenDisplay < s.DisplayCount)
        return s.ChosenDisplay;
    return s.PrimaryDisplay;
}

int GetDisplayCount() {
    if (!EnsureDisplayTable()) return -1;
    return Screen().DisplayCount;
}

int GetDisplayModeCount(int display) {
    if (!EnsureDisplayTable()) return -1;
    if (display < 0 || display >= Screen().DisplayCount) return -1;
    return Screen().Displays[display].ModeCount;
}

DisplayMode* GetDisplayModeEntry(DisplayMode* out, int mode, int display) {
    *out = DisplayMode{-1, -1, -1, -1};
    if (!EnsureDisplayTable()) return out;
    const ScreenModeSettingsData& s = Screen();
    if (display < 0 || display >= s.DisplayCount) return out;
    const DisplayInfo& d = s.Displays[display];
    if (mode < 0 || mode >= d.ModeCount) return out;
    *out = d.Modes[mode];
    return out;
}

int SelectDisplay(int display) {
    ScreenModeSettingsData& s = Screen();
    if (!EnsureDisplayTable()) return -1;
    if (display < 0) {
        POINT p{};
        if (SystemApi.GetCursorPos == nullptr || !SystemApi.GetCursorPos(&p)) return -1;
        for (int i = 0; i < s.DisplayCount; ++i) {
            const RECT& r = s.Displays[i].DesktopRect;
            if (r.left <= p.x && p.x < r.right && r.top <= p.y && p.y < r.bottom) {
                s.DisplayChosen = 1;
                s.ChosenDisplay = i;
                return 0;
            }
        }
        return -1;
    }
    if (display >= s.DisplayCount) return -1;
    s.DisplayChosen = 1;
    s.ChosenDisplay = display;
    return 0;
}

int SelectFullScreenResolutionMode(int mode) {
    ScreenModeSettingsData& s = Screen();
    if (mode == s.RequestedFullScreenResolutionMode && mode == s.FullScreenResolutionMode) return 0;
    s.RequestedFullScreenResolutionMode = mode;
    s.FullScreenResolutionMode = mode;
    if (!IsWindowedMode() && QueryMainWindow() != nullptr) {
        ApplyWindowStyle(1);
        RunScreenModeChange(-1, -1, -1, 1, -1, 0);
    }
    return 0;
}

int GetFullScreenResolutionModeInEffect() {
    return Screen().FullScreenResolutionMode;
}

int IsScaledFullScreen() {
    return !IsWindowedMode() && Screen().FullScreenResolutionMode != 0 ? 1 : 0;
}

int SetFullScreenScalingFilter(int filter, int) {
    Screen().ScalingFilter = filter;
    return 0;
}

namespace {

// The current mode of display d, or of the primary screen when there is no table.
DisplayMode CurrentModeOf(int d) {
    const ScreenModeSettingsData& s = Screen();
    if (d >= 0 && s.Displays) {
        const DisplayInfo& info = s.Displays[d];
        return DisplayMode{info.Width, info.Height, info.ColorBits, info.RefreshRate};
    }
    DisplayMode m{0, 0, 32, 0};
    if (SystemApi.GetSystemMetrics) {
        m.Width = SystemApi.GetSystemMetrics(SM_CXSCREEN);
        m.Height = SystemApi.GetSystemMetrics(SM_CYSCREEN);
    }
    if (SystemApi.GetDC && SystemApi.GetDeviceCaps) {
        HDC dc = SystemApi.GetDC(nullptr);
        m.ColorBits = SystemApi.GetDeviceCaps(dc, BITSPIXEL) * SystemApi.GetDeviceCaps(dc, PLANES);
        m.RefreshRate = SystemApi.GetDeviceCaps(dc, VREFRESH);
        SystemApi.ReleaseDC(nullptr, dc);
    }
    return m;
}

void ChooseLargestMode(int d) {
    ScreenModeSettingsData& s = Screen();
    s.FullScreenResolutionMode = 3;
    DisplayMode none{-1, -1, -1, -1};
    if (d < 0 || s.Displays == nullptr || s.Displays[d].ModeCount == 0) {
        s.FullScreenMode = none;
        return;
    }
    const DisplayInfo& info = s.Displays[d];
    int bits = s.ColorBitDepth ? s.ColorBitDepth : 16;
    const DisplayMode* largest = nullptr;
    const DisplayMode* largestOfDepth = nullptr;
    auto area = [](const DisplayMode* m) { return static_cast<long long>(m->Width) * m->Height; };
    for (int i = 0; i < info.ModeCount; ++i) {
        const DisplayMode* m = &info.Modes[i];
        if (largest == nullptr || area(m) > area(largest)) largest = m;
        if (m->ColorBits == bits && (largestOfDepth == nullptr || area(m) > area(largestOfDepth)))
            largestOfDepth = m;
    }
    s.FullScreenMode =
        largestOfDepth && area(largestOfDepth) >= area(largest) ? *largestOfDepth : *largest;
}

}  // namespace

int SelectFullScreenDisplayMode() {
    ScreenModeSettingsData& s = Screen();
    if (s.RequestedWidth == 0 || s.RequestedHeight == 0) {
        s.RequestedWidth = s.Width = 640;
        s.RequestedHeight = s.Height = 480;
    }
    EnsureDisplayTable();
    int d = DisplayInUse();
    if (s.ColorBitDepth == 0) {
        s.ColorBitDepth = 16;
        SetDefaultMemImgColorType(0);
    }
    s.FullScreenResolutionMode = s.RequestedFullScreenResolutionMode;
    int mode = s.FullScreenResolutionMode;
    if (mode > 3 || mode < 0) return 0;
    if (mode == 0) {
        s.FullScreenMode = CurrentModeOf(d);
        return 0;
    }
    if (mode == 2) {
        if (d >= 0) {
            const DisplayInfo& info = s.Displays[d];
            const DisplayMode* any = nullptr;
            const DisplayMode* ofDepth = nullptr;
            const DisplayMode* exact = nullptr;
            int kAny = 0, kDepth = 0, kExact = 0;
            for (int i = 0; i < info.ModeCount; ++i) {
                const DisplayMode* m = &info.Modes[i];
                if (m->Width % s.Width != 0 || m->Height % s.Height != 0) continue;
                int k = m->Width / s.Width;
                if (k < 1 || m->Height / s.Height != k) continue;
                if (any == nullptr || k < kAny) any = m, kAny = k;
                if (m->ColorBits != s.ColorBitDepth) continue;
                if (ofDepth == nullptr || k < kDepth) ofDepth = m, kDepth = k;
                if (s.RefreshRate != 0 && m->RefreshRate != s.RefreshRate) continue;
                if (exact == nullptr || k < kExact) exact = m, kExact = k;
                if (kExact == 1) break;
            }
            if (exact) {
                s.FullScreenMode = *exact;
                if (kExact != 1) s.FullScreenResolutionMode = 3;
                return 0;
            }
            if (ofDepth || any) {
                s.FullScreenMode = ofDepth ? *ofDepth : *any;
                s.FullScreenResolutionMode = 3;
                return 0;
            }
        }
        s.FullScreenResolutionMode = 1;
        mode = 1;
    }
    if (mode == 1) {
        if (d >= 0 && s.Displays[d].Width >= s.Width && s.Displays[d].Height >= s.Height) {
            s.FullScreenMode = CurrentModeOf(d);
            return 0;
        }
    }
    ChooseLargestMode(d);
    return 0;
}

int ComputeFullScreenPresentRect() {
    ScreenModeSettingsData& s = Screen();
    int mode = s.FullScreenResolutionMode;
    if (mode != 0 && mode != 1 && mode != 3) return 0;
    int W, H;
    if (mode == 3) {
        W = s.FullScreenMode.Width;
        H = s.FullScreenMode.Height;
    } else {
        DisplayMode current = CurrentModeOf(EnsureDisplayTable() ? DisplayInUse() : -1);
        W = current.Width;
        H = current.Height;
    }
    if (s.Width == 0 || s.Height == 0) {
        s.Width = 640;
        s.Height = 480;
    }
    int w = s.Width, h = s.Height;
    int pictureW, pictureH;
    int fw = w * H / h;
    if (fw < W) {
        pictureW = fw;
        pictureH = H;
    } else {
        pictureW = W;
        pictureH = h * W / w;
    }
    s.PresentRect.left = (W - pictureW) / 2;
    s.PresentRect.top = (H - pictureH) / 2;
    s.PresentRect.right = s.PresentRect.left + pictureW;
    s.PresentRect.bottom = s.PresentRect.top + pictureH;
    return 0;
}

int ChangeDisplayResolution() {
    EnsureSystemApiTable();
    ScreenModeSettingsData& s = Screen();
    int bits = s.ColorBitDepth ? s.ColorBitDepth : 16;
    WriteLogFormatUtf16(u"画面モードの変更処理を開始します %u x %u  %u bit ", s.Width, s.Height,
                        bits);
    IncreaseLogIndent();
    SelectFullScreenDisplayMode();
    bits = s.ColorBitDepth ? s.ColorBitDepth : 16;
    if (s.FullScreenMode.ColorBits != 16 && s.FullScreenMode.ColorBits != 32) {
        WriteLogTextUtf16(u"失敗しました\n");
        WriteLogTextUtf16WithError(kErrorScreenColorMode,
                                   u"RAvorazが対応していない画面カラーモードが指定されました\n");
        DecreaseLogIndent();
        return -1;
    }
    WriteLogTextUtf16(u"画面解像度を変更します... ");
    DEVMODEA request{};
    request.dmSize = sizeof(request);
    request.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    request.dmBitsPerPel = static_cast<DWORD>(bits);
    request.dmPelsWidth = static_cast<DWORD>(s.FullScreenMode.Width);
    request.dmPelsHeight = static_cast<DWORD>(s.FullScreenMode.Height);
    if (s.RefreshRate != 0) {
        request.dmFields |= DM_DISPLAYFREQUENCY;
        request.dmDisplayFrequency = static_cast<DWORD>(s.RefreshRate);
    }
    auto change = SystemApi.ChangeDisplaySettingsA;
    bool ok = change && change(&request, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
    if (!ok && change) {
        request.dmFields &= ~DM_DISPLAYFREQUENCY;
        request.dmDisplayFrequency = 0;
        s.RefreshRate = 0;
        ok = change(&request, 0) == DISP_CHANGE_SUCCESSFUL;
        if (!ok && GraphicsSystemState.HardwareForbidden) {
            request.dmBitsPerPel = 32;
            ok = change(&request, 0) == DISP_CHANGE_SUCCESSFUL;
        }
    }
    if (!ok) {
        WriteLogTextUtf16WithError(kErrorScreenModeChange, u"画面モードの変更に失敗しました\n");
        DecreaseLogIndent();
        return -1;
    }
    WriteLogTextUtf16(u"成功しました\n");
    DecreaseLogIndent();
    s.BlackFillCountdown = 10;
    return 0;
}

int QueryDisplayRefreshRate() {
    EnsureSystemApiTable();
    if (SystemApi.GetDC == nullptr || SystemApi.GetDeviceCaps == nullptr) return -1;
    HDC dc = SystemApi.GetDC(QueryMainWindow());
    if (dc == nullptr) return -1;
    int rate = SystemApi.GetDeviceCaps(dc, VREFRESH);
    SystemApi.ReleaseDC(QueryMainWindow(), dc);
    return rate < 20 ? -1 : rate;
}

// ---- Point mappings ----

int WindowPointToScreenPoint(int x, int y, int* outX, int* outY) {
    ScreenModeSettingsData& s = Screen();
    int mode = s.FullScreenResolutionMode;
    if (mode < 0 || mode > 3) return 0;
    x -= s.DisplayRect.left;
    y -= s.DisplayRect.top;
    if (mode != 2) {
        ComputeFullScreenPresentRect();
        const RECT& r = s.PresentRect;
        int w = r.right - r.left, h = r.bottom - r.top;
        if (w > 0 && h > 0) {
            x = (x - r.left) * s.Width / w;
            y = (y - r.top) * s.Height / h;
        }
    }
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}

int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY) {
    ScreenModeSettingsData& s = Screen();
    int mode = s.FullScreenResolutionMode;
    if (mode < 0 || mode > 3) return 0;
    if (mode != 2) {
        ComputeFullScreenPresentRect();
        const RECT& r = s.PresentRect;
        int w = s.Width > 0 ? s.Width : 640, h = s.Height > 0 ? s.Height : 480;
        x = x * (r.right - r.left) / w + r.left;
        y = y * (r.bottom - r.top) / h + r.top;
    }
    if (outX) *outX = x;
    if (outY) *outY = y;
    return 0;
}

// ---- Presentation ----

namespace {

using SetDIBitsToDeviceProc = int (*)(HDC, int, int, DWORD, DWORD, int, int, UINT, UINT,
                                      const void*, const BITMAPINFO*, UINT);
using StretchDIBitsProc = int (*)(HDC, int, int, int, int, int, int, int, int, const void*,
                                  const BITMAPINFO*, UINT, DWORD);

struct BitfieldBitmapInfo {
    BITMAPINFOHEADER header;
    DWORD masks[3];
};

}  // namespace

int PresentBackBuffer() {
    GraphicsSystemStateData& g = GraphicsSystemState;
    ScreenModeSettingsData& s = g.ScreenModeSettings;
    if (g.DevicePresent) {
        const GraphicsBackendTable* t = Active();
        return t && t->PresentBackBuffer ? t->PresentBackBuffer() : 0;
    }
    EnsureSystemApiTable();
    int width = s.Width > 0 ? s.Width : 640, height = s.Height > 0 ? s.Height : 480;
    bool scaledFullScreen = !IsWindowedMode() && s.FullScreenResolutionMode != 0;
    int destW = width, destH = height;
    if (!scaledFullScreen) {
        double sx = 1.0, sy = 1.0;
        GetWindowScaleFactors(&sx, &sy);
        destW = static_cast<int>(width * sx);
        destH = static_cast<int>(height * sy);
        if (MainWindow.toolbarExists) destH = height;
    }
    if (!IsMemImgValid(&g.ScreenImage) || !IsMemImgValid(&g.PresentImage)) return 0;
    if (!g.FlipWaitVSyncOff) WaitVBlank();
    // The layered-window present is never taken: the window module keeps layered output off.

    const MEMIMG& image = g.ScreenImage;
    const COLORFORMAT* format = image.Shared->Format;
    int bits = format->BitsPerPixel;
    BitfieldBitmapInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    int rowPixels = image.Shared->Pitch / (bits / 8);
    info.header.biWidth = bits == 16 ? (width + 7) / 8 * 8 : (width + 3) / 4 * 4;
    // The rows are laid out by the image's pitch, which is at least as wide.
    if (rowPixels > info.header.biWidth) info.header.biWidth = rowPixels;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bits);
    info.header.biCompression = BI_BITFIELDS;
    info.masks[0] = format->RedMask;
    info.masks[1] = format->GreenMask;
    info.masks[2] = format->BlueMask;
    const auto* bmi = reinterpret_cast<const BITMAPINFO*>(&info);

    HWND window = GetDrawTargetWindow();
    if (window == nullptr || SystemApi.GetDC == nullptr) return 0;
    HDC dc = SystemApi.GetDC(window);
    if (dc == nullptr) return 0;
    auto setBits = Entry<SetDIBitsToDeviceProc>(SystemApi.SetDIBitsToDevice);
    auto stretch = Entry<StretchDIBitsProc>(SystemApi.StretchDIBits);
    const void* pixels = image.Pixels;
    auto copy1to1 = [&] {
        if (setBits)
            setBits(dc, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                    static_cast<UINT>(height), pixels, bmi, DIB_RGB_COLORS);
    };
    auto stretchTo = [&](int x, int y, int w, int h) {
        if (stretch)
            stretch(dc, x, y, w, h, 0, 0, width, height, pixels, bmi, DIB_RGB_COLORS, SRCCOPY);
    };
    if (!scaledFullScreen && s.Emulate320x240) {
        stretchTo(0, 0, 640, 480);
    } else if (!IsWindowedMode()) {
        if (s.BlackFillCountdown > 0) {
            --s.BlackFillCountdown;
            SetWindowClientPosition(0, 0);
            RECT all{0, 0, s.FullScreenMode.Width, s.FullScreenMode.Height};
            if (SystemApi.FillRect && SystemApi.GetStockObject)
                SystemApi.FillRect(dc, &all,
                                   static_cast<HBRUSH>(SystemApi.GetStockObject(BLACK_BRUSH)));
        }
        if (s.FullScreenResolutionMode == 2) {
            copy1to1();
        } else {
            ComputeFullScreenPresentRect();
            const RECT& r = s.PresentRect;
            stretchTo(r.left, r.top, r.right - r.left, r.bottom - r.top);
        }
    } else if (destW == width && destH == height) {
        copy1to1();
    } else {
        RECT client{};
        if (SystemApi.GetClientRect) SystemApi.GetClientRect(window, &client);
        int cw = client.right - client.left, ch = client.bottom - client.top;
        stretchTo((cw - destW) / 2, (ch - destH) / 2, destW, destH);
    }
    SystemApi.ReleaseDC(window, dc);
    return 0;
}

int ArmFrontScreenTimer() {
    EnsureSystemApiTable();
    HWND window = QueryMainWindow();
    if (window == nullptr || SystemApi.SetTimer == nullptr) return -1;
    Entry<UINT_PTR (*)(HWND, UINT_PTR, UINT, TIMERPROC)>(SystemApi.SetTimer)(
        window, kFrontScreenTimerId, kFrontScreenTimerPeriod, &FrontScreenRefreshTimer);
    return 0;
}

void FrontScreenRefreshTimer(HWND window, UINT, UINT_PTR id, DWORD) {
    EnsureSystemApiTable();
    if (SystemApi.KillTimer) Entry<BOOL (*)(HWND, UINT_PTR)>(SystemApi.KillTimer)(window, id);
    const DrawSettingsData& d = GraphicsSystemState.DrawSettings;
    bool layered = MainWindow.layeredColorKeyMode && MainWindow.layeredAlphaMode;
    if (d.DrawTarget != DX_TARGET_FRONT_SCREEN || d.TargetCubeFace != 0 || layered) return;
    if (IsMainWindowActive()) RepaintScreen();
    ArmFrontScreenTimer();
}

}  // namespace ZiDaz
