// The graphics front end's state, the settings before start, the start, end and rebuild of the
// graphics system, the screen mode with its change and the frame present, and the draw target,
// draw area, reset and draw-state snapshot.
#include "Main/DxGraphics.h"

#include <cstring>
#include <initializer_list>
#include <utility>

#include "Main/DxASyncLoad.h"
#include "Main/DxFont.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

GraphicsSystemStateData GraphicsSystemState;
std::int32_t GraphicsBackendKind = 0;
std::int32_t Direct3D11Forbidden = 0;
std::int32_t GdiDrawingFlag = 0;
std::int32_t Direct3D9ExAllowed = 0;

namespace {

constexpr const char* kSourceFile = "DxGraphics";

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}
ScreenModeSettingsData& Screen() {
    return GraphicsSystemState.ScreenModeSettings;
}
DrawSettingsData& Draw() {
    return GraphicsSystemState.DrawSettings;
}

bool LibraryStarted() {
    return LibrarySystem.initialised != 0;
}

bool DeviceInUse() {
    return GraphicsSystemState.DevicePresent != 0;
}

// The refill of every graph after a device rebuild, as registered when no callback is given.
void BuiltInGraphRestore() {
    RestoreAllGraphs();
}

bool IsGraphTargetValue(HandleValue target) {
    return target >= 0 && ((target & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_GRAPH;
}

int EffectiveBits() {
    return Screen().ColorBitDepth ? Screen().ColorBitDepth : 16;
}

}  // namespace

// ---- Settings before start ----

int SetUseHardwareDrawing(int flag) {
    if (LibraryStarted()) return -1;
    G().HardwareForbidden = flag == 0;
    return 0;
}

int SetAllowDirect3D11(int flag) {
    if (LibraryStarted()) return -1;
    Direct3D11Forbidden = flag == 0;
    return 0;
}

int SelectDirect3D9(int useEx) {
    if (LibraryStarted()) return -1;
    G().HardwareForbidden = 0;
    Direct3D11Forbidden = 1;
    Direct3D9ExAllowed = useEx != 0;
    return 0;
}

int SelectGraphicsMode(int mode) {
    if (LibraryStarted()) return -1;
    switch (mode) {
        case 0:
            // "No device": the device is forbidden (applying mode 1 afterwards, as the mode once
            // did, would allow it again and end on Direct3D 9).
            G().HardwareForbidden = 1;
            Direct3D11Forbidden = 1;
            return 0;
        case 1:
            SetUseHardwareDrawing(1);
            return SelectDirect3D9(0);
        case 2:
            SetUseHardwareDrawing(1);
            return SelectDirect3D9(1);
        case 3:
            G().HardwareForbidden = 0;
            Direct3D11Forbidden = 0;
            return 0;
        default:
            return -1;
    }
}

int SetUseHardwareDrawingMode(int flag) {
    if (LibraryStarted()) return -1;
    if (flag == 0) return SelectGraphicsMode(0);  // the device stays forbidden
    G().HardwareForbidden = 0;
    return 0;
}

int SetFlipWaitVSync(int flag) {
    if (LibraryStarted()) return -1;
    G().FlipWaitVSyncOff = flag == 0;
    return 0;
}

int GetFlipWaitVSync() {
    return G().FlipWaitVSyncOff ? 0 : 1;
}

int IsHardwareDrawing() {
    if (!LibraryStarted()) return G().HardwareForbidden ? 0 : 1;
    return G().DevicePresent ? 1 : 0;
}

int HasExactPixelCenters() {
    return G().NoHalfPixelOffset;
}

int GetGdiDrawingFlag() {
    return GdiDrawingFlag;
}

int SetGdiDrawingFlag(int flag) {
    GdiDrawingFlag = flag;
    const GraphicsBackendTable* t = GetGraphicsBackendTable(1);
    if (G().DevicePresent && GraphicsBackendKind == 1 && t && t->DeviceExists &&
        t->DeviceExists()) {
        Backend_SetDialogBoxMode(0);
        if (flag) Backend_SetDialogBoxMode(1);
    }
    return 0;
}

int EnsureGraphicsWorkBuffer(int slot, std::size_t bytes) {
    if (slot < 0 || slot > 2) return -1;
    GraphicsSystemStateData& g = G();
    if (g.WorkBuffers[slot] != nullptr && g.WorkBufferSizes[slot] >= bytes) return 0;
    void* grown = ReallocateTrackedMemory(g.WorkBuffers[slot], bytes, kSourceFile, __LINE__);
    if (grown == nullptr) {
        // The slot no longer holds a buffer, so it must not claim any bytes either: the next
        // request allocates again.
        g.WorkBuffers[slot] = nullptr;
        g.WorkBufferSizes[slot] = 0;
        return -1;
    }
    g.WorkBuffers[slot] = grown;
    g.WorkBufferSizes[slot] = bytes;
    return 0;
}

// ---- Start, end and rebuild ----

int StartGraphicsSystem() {
    GraphicsSystemStateData& g = G();
    ScreenModeSettingsData& s = Screen();
    if (g.Initialised) return 0;
    if (s.RequestedWidth == 0 || s.RequestedHeight == 0) {
        s.RequestedWidth = s.Width = 640;
        s.RequestedHeight = s.Height = 480;
        StoreScreenSizeForProjection(640, 480);
    }
    if (s.ColorBitDepth == 0) {
        s.ColorBitDepth = 16;
        SetDefaultMemImgColorType(0);
    }
    // The records of these types join with the modules that build them.
    RegisterHandleType(DX_HANDLETYPE_GRAPH, static_cast<int>(sizeof(GraphHandleRecord)),
                       kMaxGraphHandles, InitGraphRecord, DestroyGraphRecord, LogGraphHandle,
                       u"Graph");
    RegisterShaderHandleTypes();
    ResetShaderDrawState();
    if (SelectGraphicsBackend() != 0) {
        EndGraphicsSystem();
        return -1;
    }
    g.Initialised = 1;
    if (g.DevicePresent) {
        // A new device: every filter program is made again on first use.
        ResetFilterShaderCache();
        Backend_SetDefaultStates();
    } else {
        CreateSoftwareScreenImages();
    }
    ResetDrawSettings();
    InitMemImgModule();
    InitMaskModule();
    StartFontSystem();
    if (Backend_FinishSetup() != 0) {
        EndGraphicsSystem();
        return -1;
    }
    for (int i = 0; i < 6; ++i) {
        ClearDrawTarget(nullptr);
        g.FlipInProgress = 1;
        PresentBackBuffer();
        g.FlipInProgress = 0;
    }
    return 0;
}

int EndGraphicsSystem() {
    GraphicsSystemStateData& g = G();
    ShutdownFontSystem();
    if (!g.Initialised) {
        // Unregister what a failed start registered.
        for (int type :
             {DX_HANDLETYPE_SHADOWMAP, DX_HANDLETYPE_VERTEX_BUFFER, DX_HANDLETYPE_INDEX_BUFFER,
              DX_HANDLETYPE_SHADER, DX_HANDLETYPE_SHADER_CONSTANT_BUFFER, DX_HANDLETYPE_GRAPH}) {
            if (HandleTypeTable[type].registered) UnregisterHandleType(type);
        }
        return 0;
    }
    g.Terminating = 1;
    EndMaskModule();
    // The graphs kept always (the font caches' pages) go with the type below.
    DeleteAllHandlesOfType(DX_HANDLETYPE_GRAPH, IsGraphKeptByDeleteAll);
    DeleteAllHandlesOfType(DX_HANDLETYPE_SHADOWMAP, nullptr);
    Backend_ReleaseSysMemCaches();
    DeleteAllHandlesOfType(DX_HANDLETYPE_VERTEX_BUFFER, nullptr);
    DeleteAllHandlesOfType(DX_HANDLETYPE_INDEX_BUFFER, nullptr);
    DeleteAllHandlesOfType(DX_HANDLETYPE_SHADER_CONSTANT_BUFFER, nullptr);
    DeleteAllHandlesOfType(DX_HANDLETYPE_SHADER, nullptr);
    DeleteEveryLight();
    ReleaseSoftwareScreenImages();
    TerminateGraphicsBackend();
    g.DevicePresent = 0;
    for (int type :
         {DX_HANDLETYPE_SHADOWMAP, DX_HANDLETYPE_VERTEX_BUFFER, DX_HANDLETYPE_INDEX_BUFFER,
          DX_HANDLETYPE_SHADER, DX_HANDLETYPE_SHADER_CONSTANT_BUFFER, DX_HANDLETYPE_GRAPH}) {
        UnregisterHandleType(type);
    }
    ReleaseDrawWorkBuffers();
    for (int i = 0; i < 3; ++i) {
        FreeTrackedMemory(g.WorkBuffers[i]);
        g.WorkBuffers[i] = nullptr;
        g.WorkBufferSizes[i] = 0;
    }
    g.Terminating = 0;
    g.Initialised = 0;
    return 0;
}

int StartGraphicsModule() {
    return StartGraphicsSystem();
}

int EndGraphicsModule() {
    return EndGraphicsSystem();
}

int RebuildGraphicsSystem(int mode, int width, int height, int colorBits, int refreshRate) {
    GraphicsSystemStateData& g = G();
    ScreenModeSettingsData& s = Screen();
    while (CountQueuedASyncLoadJobs() > 0) {
        ServeMainThreadCalls();
        SleepMilliseconds(SystemReport.logicalProcessorCount > 1 ? 0 : 2);
    }
    if (g.DevicePresent) {
        const GraphicsBackendTable* t = GetGraphicsBackendTable(GraphicsBackendKind);
        if (GraphicsBackendKind == 1 && t && t->RebuildDevice) {
            ResetFilterShaderCache();
            return t->RebuildDevice(mode, width, height, colorBits, refreshRate);
        }
        return 0;
    }
    bool graphicsOff = LibrarySystem.noGraphics != 0;
    if (!graphicsOff) ReleaseVBlankWaiter();
    if (mode == 1) {
        StoreScreenSize(width, height);
        s.ColorBitDepth = colorBits;
        s.RefreshRate = refreshRate;
    }
    if (!graphicsOff) {
        s.FullScreenResolutionMode = s.RequestedFullScreenResolutionMode;
        if (CreateVBlankWaiter() != 0) return -1;
        if (!IsWindowedMode() && s.FullScreenResolutionMode != 0 &&
            ChangeDisplayResolution() != 0) {
            ReleaseVBlankWaiter();
            return -1;
        }
    }
    CalibrateVBlankWait();
    return 0;
}

int RebuildAfterDeviceLoss() {
    RebuildGraphicsSystem(0, -1, -1, -1, -1);
    return 0;
}

int RunGraphicsRestore() {
    int async = IsASyncLoadEnabled();
    EnableASyncLoad(0);
    if (G().RestoreCallback)
        G().RestoreCallback();
    else
        BuiltInGraphRestore();
    RecreateAllFonts();
    EnableASyncLoad(async);
    return 0;
}

int SetGraphicsRestoreCallback(void (*callback)()) {
    G().RestoreCallback = callback ? callback : &BuiltInGraphRestore;
    return 0;
}

int HasGraphicsRestoreCallback() {
    return G().RestoreCallback ? 1 : 0;
}

int FlushPendingDraws() {
    Backend_FlushVertexBatch(0);
    return 0;
}

// ---- Screen mode ----

int StoreScreenSize(int width, int height) {
    ScreenModeSettingsData& s = Screen();
    s.RequestedWidth = width;
    s.RequestedHeight = height;
    s.Width = width ? width : 640;
    s.Height = height ? height : 480;
    StoreScreenSizeForProjection(s.Width, s.Height);
    return 0;
}

int SetScreenMode(int width, int height, int colorBits, int refreshRate) {
    ScreenModeSettingsData& s = Screen();
    if (s.Emulate320x240) {
        width = 320;
        height = 240;
    }
    if (width <= 0 || height <= 0) return -1;
    if (colorBits == 0) colorBits = 16;
    if (colorBits != 8 && colorBits != 16 && colorBits != 32) return -1;
    if (!LibraryStarted()) {
        StoreScreenSize(width, height);
        s.ColorBitDepth = colorBits;
        s.RefreshRate = refreshRate;
        SetDefaultMemImgColorType(colorBits == 32 ? 1 : 0);
        return 0;
    }
    int oldW = s.Width, oldH = s.Height, oldBits = EffectiveBits(), oldRate = s.RefreshRate;
    RunScreenModeChange(width, height, colorBits, 0, refreshRate, 0);
    bool fullScreenScaled = !IsWindowedMode() && s.FullScreenResolutionMode != 0;
    if (s.Width == width && s.Height == height) {
        if (fullScreenScaled) return 0;
        if (EffectiveBits() == colorBits && s.RefreshRate == refreshRate) return 0;
    }
    if (s.Width == oldW && s.Height == oldH && EffectiveBits() == oldBits &&
        s.RefreshRate == oldRate)
        return -1;
    if (s.Width != 640 || s.Height != 480) return -1;
    if (fullScreenScaled || (EffectiveBits() == 16 && s.RefreshRate == 0)) return -2;
    return -1;
}

int SetScreen320x240Emulation(int flag) {
    if (LibraryStarted()) return -1;
    Screen().Emulate320x240 = flag;
    if (flag) {
        SetScreenMode(320, 240, Screen().ColorBitDepth, Screen().RefreshRate);
        SetFullScreenScalingFilter(1, 0);
    }
    return 0;
}

int RunScreenModeChange(int width, int height, int colorBits, int force, int refreshRate,
                        int force2) {
    GraphicsSystemStateData& g = G();
    ScreenModeSettingsData& s = Screen();
    g.ScreenModeChangeInProgress = 1;
    FlushPendingDraws();
    if (width == -1) width = s.Width;
    if (height == -1) height = s.Height;
    if (colorBits == -1) colorBits = EffectiveBits();
    if (refreshRate == -1) refreshRate = s.RefreshRate;
    if (width == s.Width && height == s.Height && colorBits == EffectiveBits() &&
        refreshRate == s.RefreshRate && !force && !force2) {
        g.ScreenModeChangeInProgress = 0;
        return 0;
    }
    WriteLogTextUtf16(u"画面モード変更処理を開始します\n");
    IncreaseLogIndent();
    int result = 0;
    int previousW = s.Width, previousH = s.Height, previousBits = EffectiveBits(),
        previousRate = s.RefreshRate;
    s.PreviousWidth = s.Width;
    s.PreviousHeight = s.Height;
    s.ScreenModeChangedOnce = 1;
    // Only the default font's settings outlive the restart.
    struct {
        char16_t face[256];
        int size, thickness, fontType, charSet, edgeSize, italic, spacing;
    } font{};
    const bool keepFont = g.Initialised && IsFontHandleUsable(-2) &&
                          QueryFontState(font.face, &font.size, &font.thickness, -2, &font.fontType,
                                         &font.charSet, &font.edgeSize, &font.italic) == 0;
    if (keepFont) font.spacing = QueryFontCharSpacing(-2);
    if (LibrarySystem.initialising || LibrarySystem.initialised) {
        if (g.Initialised) EndGraphicsSystem();
        auto apply = [&](int w, int h, int bits, int rate) {
            StoreScreenSize(w, h);
            s.FullScreenResolutionMode = s.RequestedFullScreenResolutionMode;
            s.RefreshRate = rate;
            s.ColorBitDepth = bits;
            SetDefaultMemImgColorType(bits == 32 ? 1 : 0);
        };
        apply(width, height, colorBits, refreshRate);
        bool started = StartGraphicsSystem() == 0;
        if (!started && width == 320 && height == 240) {
            apply(640, 480, colorBits, refreshRate);
            started = StartGraphicsSystem() == 0;
        }
        if (!started) {
            apply(previousW, previousH, previousBits, previousRate);
            started = StartGraphicsSystem() == 0;
        }
        if (!started) {
            apply(640, 480, 16, 0);
            started = StartGraphicsSystem() == 0;
        }
        if (!started) {
            apply(640, 480, 32, 0);
            started = StartGraphicsSystem() == 0;
        }
        if (!started) {
            DecreaseLogIndent();
            WriteLogTextUtf16(u"予期せぬ画面モード変更不能現象が起きました2\n");
            g.ScreenModeChangeInProgress = 0;
            return -1;
        }
        if (keepFont) {
            ConfigureDefaultFont(font.face, font.size, font.thickness, font.fontType, font.charSet,
                                 font.edgeSize, font.italic);
            SetDefaultCharSpacing(font.spacing);
        }
        if (IsWindowedMode() || s.FullScreenResolutionMode == 0) ApplyWindowStyle(1);
        DecreaseLogIndent();
        WriteLogTextUtf16(u"画面モード変更処理は正常に終了しました\n");
        PumpMessagesUnlocked();
        if (g.DevicePresent) Backend_UpdateAlphaTargetFlag();
        ApplyFileDropSetting();
    } else {
        DecreaseLogIndent();
    }
    g.ScreenModeChangeInProgress = 0;
    return result;
}

int GetScreenSize(int* width, int* height) {
    const ScreenModeSettingsData& s = Screen();
    if (width) *width = s.Width > 0 ? s.Width : 640;
    if (height) *height = s.Height > 0 ? s.Height : 480;
    return 0;
}

int GetScreenColorBits() {
    return EffectiveBits();
}

int GetScreenState(int* width, int* height, int* colorBits) {
    GetScreenSize(width, height);
    if (colorBits) *colorBits = EffectiveBits();
    return 0;
}

int PresentFrame() {
    GraphicsSystemStateData& g = G();
    g.FlipInProgress = 1;
    if (g.OnScreenLogDrawing) return 0;
    int result = -1;
    if (LibraryStarted() && !IsLibraryEndRequested() && g.Initialised) {
        // A masked draw left open is closed before the frame is shown.
        CloseDeferredMaskedDraw();
        result = PresentBackBuffer();
    }
    g.FlipInProgress = 0;
    return result;
}

int FlipScreen() {
    return PresentFrame();
}

int RepaintScreen() {
    if (DeviceInUse()) Backend_EnsureScalingBackBuffer();
    return PresentFrame();
}

int GetDrawColorOffset(int* red, int* green, int* blue) {
    const DrawSettingsData& d = Draw();
    if (red) *red = d.ColorOffsetRed;
    if (green) *green = d.ColorOffsetGreen;
    if (blue) *blue = d.ColorOffsetBlue;
    return 0;
}

int GetBlendMode(int* mode, int* param) {
    if (mode) *mode = Draw().BlendMode;
    if (param) *param = Draw().BlendParam;
    return 0;
}

int SetLoadAlphaCompanionImages(int flag) {
    G().NoAlphaCompanionImages = flag == 0;
    return 0;
}

int SetUsePaletteGraphs(int flag) {
    G().NoPaletteGraphs = flag == 0;
    return 0;
}

const COLORFORMAT* GetFixedColorFormat(int kind) {
    static COLORFORMAT formats[5];
    static bool built = false;
    if (kind < 0 || kind > 4) return nullptr;
    if (!built) {
        InitColorFormatFromMasks(&formats[0], 16, 0xF800, 0x07E0, 0x001F, 0, 0, 0, 0);
        InitColorFormatFromMasks(&formats[1], 16, 0xF800, 0x07C0, 0x003E, 0, 0, 0, 0);
        InitColorFormatFromMasks(&formats[2], 16, 0x7C00, 0x03E0, 0x001F, 0, 0, 0, 0);
        InitColorFormatFromMasks(&formats[3], 32, 0xFF, 0xFF00, 0xFF0000, 0, 0, 0, 0);
        InitColorFormatFromMasks(&formats[4], 32, 0xFF0000, 0xFF00, 0xFF, 0, 0, 0, 0);
        built = true;
    }
    return &formats[kind];
}

// ---- Draw target, draw area, reset and snapshot ----

int GetDrawTargetSize(HandleValue target, int* width, int* height) {
    if (target == DX_TARGET_BACK_SCREEN || target == DX_TARGET_FRONT_SCREEN) {
        return GetScreenSize(width, height);
    }
    if (target >= 0 &&
        ((target & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_SHADOWMAP) {
        ShadowMapRecord* map = LookUpShadowMapRecord(target, 0);
        if (map == nullptr) return -1;
        if (width) *width = map->Width;
        if (height) *height = map->Height;
        return 0;
    }
    if (!IsGraphTargetValue(target)) return -1;
    GraphHandleRecord* r = LookUpGraphRecord(target, 0);
    if (r == nullptr) return -1;
    return ComputeMipLevelSize(r->Width, r->Height, Draw().TargetMipLevel, width, height);
}

int SetDrawClipRect(RECT rect) {
    DrawSettingsData& d = Draw();
    FlushPendingDraws();
    CloseDeferredMaskedDraw();
    d.RequestedDrawArea = rect;
    int width = 0, height = 0;
    if (GetDrawTargetSize(d.DrawTarget, &width, &height) != 0) return -1;
    if (rect.right < rect.left) std::swap(rect.left, rect.right);
    if (rect.bottom < rect.top) std::swap(rect.top, rect.bottom);
    auto clamp = [](LONG v, int high) -> LONG { return v < 0 ? 0 : (v > high ? high : v); };
    rect.left = clamp(rect.left, width);
    rect.right = clamp(rect.right, width);
    rect.top = clamp(rect.top, height);
    rect.bottom = clamp(rect.bottom, height);
    d.DrawArea = rect;
    d.DrawAreaF[0] = static_cast<float>(rect.left);
    d.DrawAreaF[1] = static_cast<float>(rect.top);
    d.DrawAreaF[2] = static_cast<float>(rect.right);
    d.DrawAreaF[3] = static_cast<float>(rect.bottom);
    SetMemImgDrawArea(&d.DrawArea);
    if (rect.left == rect.right || rect.top == rect.bottom) {
        d.DrawingSuppressed = 1;
        return 0;
    }
    d.DrawingSuppressed = 0;
    MatrixChainState& m = G().Matrices;
    double w = rect.right - rect.left, h = rect.bottom - rect.top;
    MakeScreenMappingMatrixDouble(&m.AreaViewport, rect.left + w * 0.5, rect.top + h * 0.5, w, h);
    InvertMatrixDouble(&m.AreaViewportInverse, &m.AreaViewport);
    NarrowMatrixToFloat(&m.AreaViewportF, &m.AreaViewport);
    NarrowMatrixToFloat(&m.AreaViewportInverseF, &m.AreaViewportInverse);
    d.TwoDimModeInEffect = 0;
    m.ThreeDStateApplied = 0;
    m.ProjectionApplied = 0;
    if (DeviceInUse()) Backend_ApplyClipRect();
    return 0;
}

int GetDrawClipRect(RECT* out) {
    if (out) *out = Draw().DrawArea;
    return 0;
}

int SetDrawTarget(HandleValue target) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = Draw();
    if (!g.Initialised) return -1;
    WaitWhileWindowInactive();
    MEMIMG* targetImage = nullptr;
    GraphHandleRecord* targetGraph = nullptr;
    bool screen = target == DX_TARGET_BACK_SCREEN || target == DX_TARGET_FRONT_SCREEN ||
                  target == -3 || target == -16;
    if (!screen) {
        // A drawable graph; without a device its image must have no alpha channel.
        if (!IsGraphTargetValue(target)) return -1;
        targetGraph = LookUpGraphRecord(target, 0);
        if (targetGraph == nullptr || targetGraph->Image == nullptr ||
            !targetGraph->Image->Format.Drawable)
            return -1;
        if (!DeviceInUse()) {
            targetImage = &targetGraph->View;
            if (!IsMemImgValid(targetImage) || targetImage->Shared->UseAlpha) return -1;
        }
    }
    if (d.DrawTarget == DX_TARGET_FRONT_SCREEN) {
        if (DeviceInUse()) Backend_EnsureScalingBackBuffer();
        PresentFrame();
    }
    if (ShadowMapDrawingActive()) EndShadowMapDrawing();
    // Masking is off while the target changes; the layer grows to cover the new target.
    const int maskRequested = d.MaskLayerRequested;
    SetMaskLayerActive(0);
    if (MaskLayerState.Bytes != nullptr) {
        int w = 0, h = 0;
        if (targetGraph != nullptr) {
            w = targetGraph->Width;
            h = targetGraph->Height;
        } else {
            GetScreenSize(&w, &h);
        }
        EnsureMaskLayerStorage(1, w, h);
    }
    HandleValue oldTarget = d.DrawTarget;
    int oldFace = d.TargetCubeFace, oldMip = d.TargetMipLevel;
    d.DrawTarget = target;
    d.TargetCubeFace = 0;
    d.TargetMipLevel = 0;
    if (target != -3 && target != -16) {
        int w = 0, h = 0;
        GetDrawTargetSize(target, &w, &h);
        d.DrawTargetWidth = w;
        d.DrawTargetHeight = h;
    }
    Backend_UpdateAlphaTargetFlag();
    if (DeviceInUse()) {
        GraphHandleRecord* oldGraph =
            IsGraphTargetValue(oldTarget) ? LookUpGraphRecord(oldTarget, 1) : nullptr;
        if (targetGraph) targetGraph = LookUpGraphRecord(target, 1);
        Backend_ApplyDrawTarget(target, oldFace, oldMip, targetGraph, oldGraph, nullptr, nullptr);
    } else {
        g.SoftwareDrawDestination = targetImage ? targetImage : &g.ScreenImage;
    }
    (void)oldTarget;
    ResetCameraForTarget(oldTarget);
    SetMaskLayerActive(maskRequested);
    Backend_FinishDrawTargetChange(target);
    return 0;
}

HandleValue GetDrawTarget() {
    return Draw().DrawTarget;
}

int ClearDrawTarget(const RECT* rect) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = Draw();
    CloseDeferredMaskedDraw();
    if (rect && (rect->left < 0 || rect->top < 0)) rect = nullptr;
    if (DeviceInUse()) {
        Backend_ClearDrawTarget(rect);
        return 0;
    }
    MEMIMG* image = &g.ScreenImage;
    if (IsGraphTargetValue(d.DrawTarget)) {
        if (MEMIMG* graph = GetGraphMemImg(d.DrawTarget)) image = graph;
    }
    if (!IsMemImgValid(image)) return 0;
    FillMemImgRect(image, rect,
                   ComposeFormatColor(image->Shared->Format, g.BackgroundRed, g.BackgroundGreen,
                                      g.BackgroundBlue, g.BackgroundAlpha));
    return 0;
}

int ClearWholeDrawTarget() {
    return ClearDrawTarget(nullptr);
}

int SetBackgroundColor(int red, int green, int blue, int alpha) {
    GraphicsSystemStateData& g = G();
    g.BackgroundRed = red;
    g.BackgroundGreen = green;
    g.BackgroundBlue = blue;
    g.BackgroundAlpha = alpha;
    g.BackgroundColorSet = 1;
    return 0;
}

int ResetDrawSettings() {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = g.DrawSettings;
    RECT requested = d.RequestedDrawArea;
    std::memset(&d, 0, sizeof(d));
    std::memset(&g.Matrices, 0, sizeof(g.Matrices));
    std::memset(&g.Camera, 0, sizeof(g.Camera));
    std::memset(&g.Material, 0, sizeof(g.Material));
    g.Lights.LightingDisabled = 0;
    d.RequestedDrawArea = requested;
    for (int i = 0; i < 16; ++i) {
        d.TextureAddressU[i] = d.TextureAddressV[i] = d.TextureAddressW[i] = 3;
    }
    d.BlendGraph = -1;
    for (int i = 0; i < 2; ++i) {
        d.DepthEnable[i] = 0;
        d.DepthWrite[i] = 0;
        d.DepthFunction[i] = 4;
    }
    d.DrawSettingsChanged = 1;
    d.TwoDimDepth = 0.2f;
    d.FillMode = 3;
    d.TextureFilter = DX_TEXFILTER_POINT;
    d.MaxAnisotropy = 1;
    d.BlendMode = DX_BLEND_NONE;
    d.AlphaTestMode = -1;
    g.GraphCreateSetting = 1;
    g.ImageLoadSetting = 1;
    // Brightness, colour offset and fog, as their setters would send them.
    d.BrightRed = d.BrightGreen = d.BrightBlue = 255;
    d.FogMode = 3;
    d.FogColor = 0xFFFFFFFF;
    d.FogStart = 0.0f;
    d.FogEnd = 1500.0f;
    if (DeviceInUse()) {
        Backend_RefreshDrawColor();
        Backend_ApplyColorOffset(0, 0, 0);
        FlushPendingDraws();
        Backend_ApplyFogMode(3);
        FlushPendingDraws();
        Backend_ApplyFogColor(static_cast<int>(0xFFFFFFFF));
        FlushPendingDraws();
        Backend_ApplyFogRange(0.0f, 1500.0f);
    } else {
        SetMemImgDrawBright(0xFFFFFF);
        SetMemImgBlendMode(DX_BLEND_NONE, 0);
    }
    d.MaskLayerRequested = 1;
    d.MaskLayerInUse = 0;
    d.DrawTarget = DX_TARGET_BACK_SCREEN;
    d.TargetCubeFace = 0;
    d.TargetMipLevel = 0;
    SetDrawTarget(DX_TARGET_FRONT_SCREEN);
    int w, h;
    GetScreenSize(&w, &h);
    SetDrawClipRect(RECT{0, 0, w, h});
    // The default light, identity matrices and the default projection and material.
    DeleteEveryLight();
    g.Lights.DefaultLight = CreateDirectionalLight(Vector3F{1.0f, -1.0f, 1.0f});
    MatrixChainState& m = g.Matrices;
    for (Matrix4D* x :
         {&m.World, &m.View, &m.Projection, &m.Viewport, &m.WorldToScreen, &m.ScreenToWorld})
        SetIdentityMatrixDouble(x);
    for (Matrix4F* x : {&m.WorldF, &m.ViewF, &m.ProjectionF, &m.ViewportF, &m.ScreenToWorldF})
        SetIdentityMatrix(x);
    CameraSettingsData& c = g.Camera;
    c.ProjectionKind = 0;
    c.FieldOfView = 1.0471975803375244;
    c.Near = 10.0;
    c.Far = 10000.0;
    c.ProjectionScale = 1.0;
    c.OrthoSize = 1.0;
    SetIdentityMatrixDouble(&c.Projection);
    MaterialData& mat = g.Material;
    for (int i = 0; i < 3; ++i) mat.Diffuse[i] = mat.Specular[i] = 0.8f;
    mat.Diffuse[3] = 1.0f;
    mat.Power = 20.0f;
    d.DrawSettingsChanged = 1;
    return 0;
}

int SaveDrawState(DrawStateSnapshot* s) {
    const GraphicsSystemStateData& g = G();
    const DrawSettingsData& d = g.DrawSettings;
    std::memset(s, 0, sizeof(*s));
    s->DeviceInUse = LibraryStarted() ? (g.DevicePresent ? 1 : 0) : (g.HardwareForbidden ? 0 : 1);
    s->BackgroundRed = g.BackgroundRed;
    s->BackgroundGreen = g.BackgroundGreen;
    s->BackgroundBlue = g.BackgroundBlue;
    s->BackgroundAlpha = g.BackgroundAlpha;
    s->BlendMode = d.BlendMode;
    s->BlendParam = d.BlendParam;
    s->TextureFilter = d.TextureFilter;
    s->WaitVSync = g.FlipWaitVSyncOff ? 0 : 1;
    s->DrawTarget = d.DrawTarget;
    s->View = g.Matrices.View;
    s->Projection = g.Matrices.Projection;
    s->Viewport = g.Matrices.Viewport;
    s->World = g.Matrices.World;
    s->ProjectionKind = g.Camera.ProjectionKind;
    s->FieldOfView = g.Camera.FieldOfView;
    s->OrthoSize = g.Camera.OrthoSize;
    s->Near = g.Camera.Near;
    s->Far = g.Camera.Far;
    s->ProjectionScale = g.Camera.ProjectionScale;
    s->UserProjection = g.Camera.Projection;
    s->DrawArea = d.DrawArea;
    for (int i = 0; i < 16; ++i) {
        s->TextureAddress[0][i] = d.TextureAddressU[i];
        s->TextureAddress[1][i] = d.TextureAddressV[i];
        s->TextureAddress[2][i] = d.TextureAddressW[i];
    }
    s->MaxAnisotropy = d.MaxAnisotropy;
    s->CullMode = d.CullMode;
    return 0;
}

int RestoreDrawState(const DrawStateSnapshot* s) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = g.DrawSettings;
    SetBackgroundColor(s->BackgroundRed, s->BackgroundGreen, s->BackgroundBlue, s->BackgroundAlpha);
    if (d.BlendMode != s->BlendMode || d.BlendParam != s->BlendParam) {
        FlushPendingDraws();
        d.BlendMode = s->BlendMode;
        d.BlendParam = s->BlendParam;
        d.DrawSettingsChanged = 1;
        if (DeviceInUse())
            Backend_RefreshDrawColor();
        else
            SetMemImgBlendMode(d.BlendMode, d.BlendParam);
    }
    if (d.TextureFilter != s->TextureFilter) {
        d.TextureFilter = s->TextureFilter;
        d.DrawSettingsChanged = 1;
        Backend_ApplyTextureFilter(s->TextureFilter);
    }
    if (!LibraryStarted()) g.FlipWaitVSyncOff = s->WaitVSync ? 0 : 1;
    SetDrawTarget(s->DrawTarget);
    if (!LibraryStarted()) g.HardwareForbidden = s->DeviceInUse ? 0 : 1;
    SetDrawClipRect(s->DrawArea);
    ApplyWorldMatrix(&s->World);
    ApplyViewMatrix(&s->View);
    CameraSettingsData& c = g.Camera;
    c.ProjectionKind = s->ProjectionKind;
    c.FieldOfView = s->FieldOfView;
    c.OrthoSize = s->OrthoSize;
    c.Projection = s->UserProjection;
    c.Near = s->Near;
    c.Far = s->Far;
    c.ProjectionScale = s->ProjectionScale;
    RebuildProjectionMatrix();
    ApplyViewportMatrix(&s->Viewport);
    for (int i = 0; i < 16; ++i) {
        if (d.TextureAddressU[i] != s->TextureAddress[0][i] ||
            d.TextureAddressV[i] != s->TextureAddress[1][i]) {
            d.TextureAddressU[i] = s->TextureAddress[0][i];
            d.TextureAddressV[i] = s->TextureAddress[1][i];
            d.DrawSettingsChanged = 1;
            Backend_ApplyTextureAddressUV(d.TextureAddressU[i], d.TextureAddressV[i], i);
        }
        d.TextureAddressW[i] = s->TextureAddress[2][i];
    }
    if (d.CullMode != s->CullMode) {
        d.CullMode = s->CullMode;
        d.DrawSettingsChanged = 1;
    }
    if (d.MaxAnisotropy != s->MaxAnisotropy) {
        d.MaxAnisotropy = s->MaxAnisotropy;
        d.DrawSettingsChanged = 1;
        Backend_ApplyMaxAnisotropy(s->MaxAnisotropy);
    }
    return 0;
}

int CreateSoftwareScreenImages() {
    GraphicsSystemStateData& g = G();
    int w, h;
    GetScreenSize(&w, &h);
    int type = EffectiveBits() == 16 ? 0 : 1;
    if (SetupMemImgDefault(&g.ScreenImage, w, h, type) != 0) {
        WriteLogTextUtf16(u"仮画面用の MEMIMG の作成に失敗しました\n");
        return -1;
    }
    if (SetupMemImgDefault(&g.PresentImage, w, h, type) != 0) {
        WriteLogTextUtf16(u"補助用の MEMIMG の作成に失敗しました\n");
        return -1;
    }
    std::memset(&g.FontWorkImage, 0, sizeof(MEMIMG));
    std::memset(&g.FontWorkAlphaImage, 0, sizeof(MEMIMG));
    SetupMemImg(&g.FontWorkImage, w, h, -1, 0, type, 0, 0, 0, nullptr);
    SetupMemImg(&g.FontWorkAlphaImage, w, h, -1, 0, type, 0, 1, 0, nullptr);
    FillMemImgRect(&g.ScreenImage, nullptr,
                   ComposeFormatColor(g.ScreenImage.Shared->Format, g.BackgroundRed,
                                      g.BackgroundGreen, g.BackgroundBlue, g.BackgroundAlpha));
    g.SoftwareDrawDestination = &g.ScreenImage;
    return 0;
}

int ReleaseSoftwareScreenImages() {
    GraphicsSystemStateData& g = G();
    ReleaseMemImg(&g.ScreenImage);
    ReleaseMemImg(&g.PresentImage);
    ReleaseMemImg(&g.FontWorkImage);
    ReleaseMemImg(&g.FontWorkAlphaImage);
    g.SoftwareDrawDestination = nullptr;
    return 0;
}

}  // namespace ZiDaz
