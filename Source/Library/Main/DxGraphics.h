// The graphics front end: its one state record, the settings that steer the choice of back end,
// the start, end and rebuild of the graphics system, the screen mode and presentation, the
// displays, the draw target and draw area, and the 3D matrices, camera and lights. Every device
// operation goes through a Backend_ dispatcher (Main/Windows/DxGraphicsWin.cpp) that forwards its
// arguments to the entry of the active back end's table; without a device (kind 0) drawing goes
// into the software screen images.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "Main/DxMath.h"
#include "Main/DxMemImg.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// GraphicsBackendKind values.
inline constexpr int DX_GRAPHICS_BACKEND_SOFTWARE = 0;
inline constexpr int DX_GRAPHICS_BACKEND_D3D9 = 1;
inline constexpr int DX_GRAPHICS_BACKEND_D3D11 = 2;

// The special draw targets.
inline constexpr int DX_TARGET_BACK_SCREEN = -2;
inline constexpr int DX_TARGET_FRONT_SCREEN = -4;

// Texture filters.
inline constexpr int DX_TEXFILTER_POINT = 0;
inline constexpr int DX_TEXFILTER_LINEAR = 1;
inline constexpr int DX_TEXFILTER_ANISOTROPIC = 2;

// The window timer that keeps the front screen visible while it is the draw target.
inline constexpr UINT_PTR kFrontScreenTimerId = 0x7fff;
inline constexpr UINT kFrontScreenTimerPeriod = 32;

// Records of other parts of the front end and of the back ends; the dispatchers only pass them on.
struct GraphImage;
struct GraphHandleRecord;
struct ShadowMapRecord;
struct ShaderRecord;
struct BufferRecord;
struct ConstantBufferRecord;
struct GraphQuadList;
struct VERTEX2D;
struct FilterRunInfo;

// One display mode; all four -1 stands for no mode.
struct DisplayMode {
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t ColorBits;
    std::int32_t RefreshRate;
};

// One monitor of the display table.
struct DisplayInfo {
    std::int32_t Primary;
    HMONITOR Monitor;
    std::int32_t DpiX;
    std::int32_t DpiY;
    RECT DesktopRect;
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t DesktopWidth;
    std::int32_t DesktopHeight;
    std::int32_t ColorBits;
    std::int32_t RefreshRate;
    char16_t DeviceName[128];
    std::int32_t ModeCount;
    DisplayMode* Modes;  // from the process heap
};

struct ScreenModeSettingsData {
    std::int32_t RequestedWidth;
    std::int32_t RequestedHeight;
    std::int32_t Width;  // effective: the requested size, or 640 x 480 for zeros
    std::int32_t Height;
    std::int32_t ColorBitDepth;  // 8, 16 or 32; 0 = not set, read as 16
    std::int32_t RefreshRate;    // 0 = any
    std::int32_t Emulate320x240;
    std::int32_t RequestedFullScreenResolutionMode;
    std::int32_t FullScreenResolutionMode;  // in effect
    std::int32_t ScalingFilter;
    DisplayMode FullScreenMode;  // the chosen full-screen display mode
    RECT PresentRect;            // display pixels
    RECT DisplayRect;            // written by the device back ends
    std::int32_t PreviousWidth;
    std::int32_t PreviousHeight;
    std::int32_t ScreenModeChangedOnce;
    // The display table.
    std::int32_t DisplayCount;
    DisplayInfo* Displays;
    std::int32_t PrimaryDisplay;
    std::int32_t DisplayChosen;
    std::int32_t ChosenDisplay;
    std::int32_t BlackFillCountdown;
};

// The drawing state that the draw target, the draw area and the reset keep (the drawing settings
// of the draw calls continue it).
struct DrawSettingsData {
    HandleValue DrawTarget;
    std::int32_t TargetCubeFace;
    std::int32_t TargetMipLevel;
    RECT RequestedDrawArea;
    RECT DrawArea;
    float DrawAreaF[4];
    std::int32_t DrawTargetWidth;
    std::int32_t DrawTargetHeight;
    std::int32_t DrawingSuppressed;
    std::int32_t TwoDimModeInEffect;
    std::int32_t DrawSettingsChanged;
    std::int32_t BlendMode;
    std::int32_t BlendParam;
    HandleValue BlendGraph;
    std::int32_t TextureFilter;
    std::int32_t MaxAnisotropy;
    std::int32_t CullMode;
    std::int32_t TextureAddressU[16];
    std::int32_t TextureAddressV[16];
    std::int32_t TextureAddressW[16];
    std::int32_t DepthEnable[2];
    std::int32_t DepthWrite[2];
    std::int32_t DepthFunction[2];
    float TwoDimDepth;
    std::int32_t FillMode;
    std::int32_t AlphaTestMode;
    std::int32_t BrightRed, BrightGreen, BrightBlue;
    std::int32_t ColorOffsetRed, ColorOffsetGreen, ColorOffsetBlue;
    std::int32_t FogEnable;
    std::int32_t FogMode;
    std::uint32_t FogColor;
    float FogStart;
    float FogEnd;
    // The mask layer's use as the draw target and the reset see it.
    std::int32_t MaskLayerRequested;
    std::int32_t MaskLayerInUse;
    std::int32_t MaskedDrawPending;
    // The settings of the draw calls (Main/DxGraphicsDraw.cpp).
    std::int32_t AlphaTestRef;
    float ColorOffsetF[3];
    std::int32_t BlendBorderParam;
    std::int32_t BlendBorderRange;
    std::int32_t CustomBlend[6];  // colour and alpha: source factor, destination factor, operation
    HandleValue UserPixelShader;
    HandleValue UserVertexShader;
    HandleValue StageTextures[16];
    std::int32_t TextureTransformUse;
    Matrix4F TextureTransform;
    std::int32_t TextureTransformApplied;
};

// The light parameters handed to a device light slot.
struct LightParams {
    std::int32_t Type;  // 1 point, 2 spot, 3 directional
    float Diffuse[4];
    float Specular[4];
    float Ambient[4];
    float Position[3];
    float Direction[3];
    float Range;
    float Falloff;
    float Attenuation0;
    float Attenuation1;
    float Attenuation2;
    float InnerCone;
    float OuterCone;
};

struct LightRecord {
    std::int32_t Check;
    HandleValue Handle;
    LightParams Params;
    std::int32_t DeviceSlot;
    std::int32_t Enabled;
    std::int32_t Changed;
};

inline constexpr int kMaxLights = 4096;
inline constexpr int kLightDeviceSlots = 256;

struct LightTableData {
    LightRecord* Records[kMaxLights];
    std::int32_t Count;
    std::int32_t AreaEnd;
    std::int32_t NextCheck;
    std::int32_t SlotCounter;
    std::int32_t HighestSlot;
    std::int32_t DeviceSlotTable[kLightDeviceSlots];
    std::int32_t SetChanged;
    std::int32_t FullResend;
    HandleValue DefaultLight;
    std::int32_t LightingDisabled;
};

struct MaterialData {
    float Diffuse[4];
    float Ambient[4];
    float Specular[4];
    float Emissive[4];
    float Power;
};

struct MatrixChainState {
    Matrix4D World, View, Projection, Viewport;
    Matrix4F WorldF, ViewF, ProjectionF, ViewportF;
    std::int32_t ChainValid;
    Matrix4D WorldToScreen;
    Matrix4D ScreenToWorld;
    Matrix4F ScreenToWorldF;
    std::int32_t InverseValid;
    Vector3D VolumeCorners[8];
    PlaneD VolumePlanes[6];
    std::int32_t ThreeDStateApplied;
    std::int32_t WorldApplied;
    std::int32_t ViewApplied;
    std::int32_t ProjectionApplied;
    // The 2D viewport of the draw area (and its inverse), built by SetDrawClipRect.
    Matrix4D AreaViewport, AreaViewportInverse;
    Matrix4F AreaViewportF, AreaViewportInverseF;
};

struct CameraSettingsData {
    std::int32_t ProjectionKind;  // 0 perspective, 1 orthographic, 2 the caller's matrix
    double Near;
    double Far;
    double FieldOfView;
    double OrthoSize;
    double ProjectionScale;
    Matrix4D Projection;  // built or given
    Vector3D Eye, Target, Up;
    Matrix4D View;
    double HorizontalAngle, VerticalAngle, TwistAngle;
    double ScreenCenterX, ScreenCenterY;
};

// What a draw-state snapshot holds, in this order.
struct DrawStateSnapshot {
    std::int32_t DeviceInUse;
    std::int32_t Zero;
    std::int32_t BackgroundRed, BackgroundGreen, BackgroundBlue, BackgroundAlpha;
    std::int32_t BlendMode, BlendParam;
    std::int32_t TextureFilter;
    std::int32_t WaitVSync;
    HandleValue DrawTarget;
    Matrix4D View, Projection, Viewport, World;
    std::int32_t ProjectionKind;
    double FieldOfView;
    double OrthoSize;
    double Near, Far;
    double ProjectionScale;
    Matrix4D UserProjection;
    RECT DrawArea;
    std::int32_t TextureAddress[3][16];
    std::int32_t MaxAnisotropy;
    std::int32_t CullMode;
};

struct GraphicsSystemStateData {
    std::int32_t Initialised;
    std::int32_t Terminating;
    void (*RestoreCallback)();
    std::int32_t DevicePresent;
    std::int32_t HardwareForbidden;
    std::int32_t ReverseSubtractCapable;
    std::int32_t RenderTargetCount;
    std::int32_t MaxTextureWidth;
    std::int32_t MaxTextureHeight;
    std::int32_t MaxTextureSize;
    std::int32_t MaxPrimitiveCount;
    std::int32_t MaxVertexIndex;
    std::int32_t SquareTexturesOnly;
    std::int32_t PowerOfTwoTexturesOnly;
    std::int32_t NonPowerOfTwoConditional;
    std::int32_t Palette4BitTextures;
    std::int32_t MovieSurfaceSupport;
    std::int32_t ShadersUsable;
    std::int32_t VertexColorIsBgra;
    std::int32_t NoHalfPixelOffset;
    // The software screen images: the screen (the back buffer of the software path), the image
    // kept for presenting, and the two font work images.
    MEMIMG ScreenImage;
    MEMIMG PresentImage;
    MEMIMG FontWorkImage;
    MEMIMG FontWorkAlphaImage;
    ScreenModeSettingsData ScreenModeSettings;
    std::int32_t FlipInProgress;
    std::int32_t ScreenModeChangeInProgress;
    std::int32_t FlipWaitVSyncOff;
    std::int32_t DrawTargetLocked;
    // Graph-creation settings (each stores the negated flag of its setter).
    std::int32_t NoAlphaCompanionImages;
    std::int32_t NoPaletteGraphs;
    std::int32_t GraphCreateSetting;
    std::int32_t ImageLoadSetting;
    // Shared scratch buffers grown on demand.
    void* WorkBuffers[3];
    std::size_t WorkBufferSizes[3];
    DrawSettingsData DrawSettings;
    std::int32_t BackgroundRed, BackgroundGreen, BackgroundBlue, BackgroundAlpha;
    std::int32_t BackgroundColorSet;
    MEMIMG* SoftwareDrawDestination;
    MEMIMG* SoftwareBlendImage;
    MatrixChainState Matrices;
    CameraSettingsData Camera;
    MaterialData Material;
    LightTableData Lights;
    std::int32_t OnScreenLogDrawing;  // re-entry guard of the present
};

// The one record; zero at program load.
extern GraphicsSystemStateData GraphicsSystemState;
// 0 software, 1 Direct3D 9, 2 Direct3D 11; written only by SelectGraphicsBackend.
extern std::int32_t GraphicsBackendKind;
extern std::int32_t Direct3D11Forbidden;
extern std::int32_t GdiDrawingFlag;
// Whether the Direct3D 9 back end may create its object through Direct3DCreate9Ex.
extern std::int32_t Direct3D9ExAllowed;

// ---- Settings before start (-1 once the library has started) ----
int SetUseHardwareDrawing(int flag);
int SetAllowDirect3D11(int flag);
int SelectDirect3D9(int useEx);
int SelectGraphicsMode(int mode);
int SetUseHardwareDrawingMode(int flag);
int SetFlipWaitVSync(int flag);
int GetFlipWaitVSync();
int IsHardwareDrawing();
int HasExactPixelCenters();
int GetGdiDrawingFlag();
int SetGdiDrawingFlag(int flag);
int EnsureGraphicsWorkBuffer(int slot, std::size_t bytes);

// ---- Start, end and rebuild ----
int StartGraphicsSystem();
int EndGraphicsSystem();
int RebuildGraphicsSystem(int mode, int width, int height, int colorBits, int refreshRate);
int RebuildAfterDeviceLoss();
int RunGraphicsRestore();
int SetGraphicsRestoreCallback(void (*callback)());
int HasGraphicsRestoreCallback();
int FlushPendingDraws();
// The library's own names of the start and end.
int StartGraphicsModule();
int EndGraphicsModule();

// ---- Screen mode ----
int SetScreenMode(int width, int height, int colorBits, int refreshRate);
int StoreScreenSize(int width, int height);
int SetScreen320x240Emulation(int flag);
int RunScreenModeChange(int width, int height, int colorBits, int force, int refreshRate,
                        int force2);
int GetScreenSize(int* width, int* height);
int GetScreenColorBits();
int GetScreenState(int* width, int* height, int* colorBits);
int FlipScreen();
int RepaintScreen();
int PresentFrame();
int GetDrawColorOffset(int* red, int* green, int* blue);
int GetBlendMode(int* mode, int* param);
int SetLoadAlphaCompanionImages(int flag);
int SetUsePaletteGraphs(int flag);
const COLORFORMAT* GetFixedColorFormat(int kind);

// ---- Platform half (Main/Windows/DxGraphicsWin.cpp) ----
int SelectGraphicsBackend();
int TerminateGraphicsBackend();
int PresentBackBuffer();
void FrontScreenRefreshTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
int WindowPointToScreenPoint(int x, int y, int* outX, int* outY);
int ScreenPointToWindowPoint(int x, int y, int* outX, int* outY);
int QueryDisplayRefreshRate();
// Arms the front-screen timer on the main window.
int ArmFrontScreenTimer();

// The vertical-blank waiter. Without DirectDraw it cannot be made: waits return at once.
int CreateVBlankWaiter();
void CalibrateVBlankWait();
void WaitVBlank();
int ReleaseVBlankWaiter();
void* GetVBlankWaiterObject();

// ---- Displays ----
int EnumerateDisplays();
BOOL EnumerateDisplaysMonitorCallback(HMONITOR monitor, HDC dc, RECT* rect, LPARAM data);
int GetDisplayCount();
int GetDisplayModeCount(int display);
DisplayMode* GetDisplayModeEntry(DisplayMode* out, int mode, int display);
int SelectDisplay(int display);
int SelectFullScreenResolutionMode(int mode);
int GetFullScreenResolutionModeInEffect();
int IsScaledFullScreen();
int SetFullScreenScalingFilter(int filter, int unused);
int SelectFullScreenDisplayMode();
int ComputeFullScreenPresentRect();
int ChangeDisplayResolution();
// Frees the display table and its mode lists.
int FreeDisplayTable();
// The display in use: the chosen one when one was chosen, else the primary one (-1: no table).
int DisplayInUse();

// ---- Draw target, draw area, reset and snapshot ----
int SetDrawClipRect(RECT rect);
int GetDrawClipRect(RECT* out);
int SetDrawTarget(HandleValue target);
HandleValue GetDrawTarget();
int ClearDrawTarget(const RECT* rect);
int ClearWholeDrawTarget();
int ResetDrawSettings();
int SaveDrawState(DrawStateSnapshot* snapshot);
int RestoreDrawState(const DrawStateSnapshot* snapshot);
int CreateSoftwareScreenImages();
int ReleaseSoftwareScreenImages();
int SetBackgroundColor(int red, int green, int blue, int alpha);
// The size of a draw target (-1 when it has none): the screen size, or a graph's size at the
// current mip level.
int GetDrawTargetSize(HandleValue target, int* width, int* height);

// ---- Matrices, camera and lights ----
int ApplyWorldMatrix(const Matrix4D* matrix);
int ApplyWorldMatrixFloat(const Matrix4F* matrix);
int ApplyViewMatrix(const Matrix4D* matrix);
int ApplyViewMatrixFloat(const Matrix4F* matrix);
int ApplyProjectionMatrix(const Matrix4D* matrix);
int ApplyViewportMatrix(const Matrix4D* matrix);
int SetWorldMatrixToDevice(const Matrix4F* matrix);
int SetProjectionMatrixByUser(const Matrix4D* matrix);
int RebuildProjectionMatrix();
int RebuildMatrixChain();
Vector3D ConvertWorldToScreenPosition(Vector3D point);
Vector3D ConvertScreenToWorldPosition(Vector3D point);
int IsBoxOutsideView(const Vector3F* corners);
int SetCameraEyeTargetUp(Vector3F eye, Vector3F target, Vector3F up);
int SetCameraEyeTargetUpDouble(Vector3D eye, Vector3D target, Vector3D up);
int SetCameraScreenCenter(double x, double y);
int ResetCameraForTarget(HandleValue previousTarget);
int DeriveCameraAngles();
HandleValue CreateDirectionalLight(Vector3F direction);
HandleValue CreateLightRecord();
int DeleteLight(HandleValue light);
int DeleteAllLights();
int ApplyLightsToDevice();
int SwitchLighting(int flag);
// The light record of a live light handle, or null.
LightRecord* LookupLight(HandleValue light);
// Frees every light, the default light included (the graphics end).
int DeleteEveryLight();

// The filter and graph-blend passes of the shader path, one per mode (their dispatchers, in
// Main/DxGraphicsFilter.cpp, also keep the pass's result for the pass plan), and the device steps
// that the filter pass plan uses. A back end without one leaves it null; the dispatcher then
// returns 0. Each list is X(result, name, parameters, arguments, value without a back end).
#define VELK_FILTER_PASS_DISPATCHERS(X)                                                            \
    X(int, Blend_Basic, (FilterRunInfo * info, int premultiplied), (info, premultiplied), 0)       \
    X(int, Blend_RgbaMix,                                                                          \
      (FilterRunInfo * info, int red, int green, int blue, int alpha, int premultiplied),          \
      (info, red, green, blue, alpha, premultiplied), 0)                                           \
    X(int, Filter_Bicubic, (FilterRunInfo * info, int width, int height), (info, width, height),   \
      0)                                                                                           \
    X(int, Filter_BrightClip,                                                                      \
      (FilterRunInfo * info, int compare, float threshold, int fill, const float* fillColor,       \
       int premultiplied),                                                                         \
      (info, compare, threshold, fill, fillColor, premultiplied), 0)                               \
    X(int, Filter_BrightnessScale,                                                                 \
      (FilterRunInfo * info, int minimum, int maximum, int premultiplied),                         \
      (info, minimum, maximum, premultiplied), 0)                                                  \
    X(int, Filter_DownScale, (FilterRunInfo * info, int divisor), (info, divisor), 0)              \
    X(int, Filter_FloatColorScale,                                                                 \
      (FilterRunInfo * info, float a0, float a1, float a2, float a3, float b0, float b1, float b2, \
       float b3),                                                                                  \
      (info, a0, a1, a2, a3, b0, b1, b2, b3), 0)                                                   \
    X(int, Filter_Gauss,                                                                           \
      (FilterRunInfo * info, int pixelWidth, float strength, const float* weights),                \
      (info, pixelWidth, strength, weights), 0)                                                    \
    X(int, Filter_GradientMap,                                                                     \
      (FilterRunInfo * info, HandleValue gradient, int reverse, int premultiplied),                \
      (info, gradient, reverse, premultiplied), 0)                                                 \
    X(int, Filter_Hsb,                                                                             \
      (FilterRunInfo * info, int hueMode, float hue, float saturation, float brightness,           \
       int premultiplied),                                                                         \
      (info, hueMode, hue, saturation, brightness, premultiplied), 0)                              \
    X(int, Filter_InterpolatedAlpha, (FilterRunInfo * info), (info), 0)                            \
    X(int, Filter_Invert, (FilterRunInfo * info, int premultiplied), (info, premultiplied), 0)     \
    X(int, Filter_Lanczos3, (FilterRunInfo * info, int width, int height), (info, width, height),  \
      0)                                                                                           \
    X(int, Filter_Level,                                                                           \
      (FilterRunInfo * info, float minimum, float maximum, float gamma, float outMin,              \
       float outMax, int premultiplied),                                                           \
      (info, minimum, maximum, gamma, outMin, outMax, premultiplied), 0)                           \
    X(int, Filter_Mono, (FilterRunInfo * info, float cb, float cr), (info, cb, cr), 0)             \
    X(int, Filter_PremultipliedAlpha, (FilterRunInfo * info), (info), 0)                           \
    X(int, Filter_Replacement,                                                                     \
      (FilterRunInfo * info, std::uint32_t target, std::uint32_t replacement, int premultiplied),  \
      (info, target, replacement, premultiplied), 0)                                               \
    X(int, Filter_Ssao,                                                                            \
      (FilterRunInfo * info, HandleValue graph, float f0, float f1, float f2, float f3, int color, \
       float value, HandleValue colorGraph),                                                       \
      (info, graph, f0, f1, f2, f3, color, value, colorGraph), 0)                                  \
    X(int, Filter_TwoColor,                                                                        \
      (FilterRunInfo * info, float threshold, const float* low, const float* high,                 \
       int premultiplied),                                                                         \
      (info, threshold, low, high, premultiplied), 0)                                              \
    X(int, Filter_YuvToRgb, (FilterRunInfo * info, HandleValue uvGraph), (info, uvGraph), 0)

#define VELK_FILTER_DEVICE_STEPS(X)                                                              \
    X(int, FilterOpenScene, (), (), 0)                                                           \
    X(int, FilterCloseScene, (), (), 0)                                                          \
    X(int, FilterResolveMultisample, (GraphHandleRecord * target, int face), (target, face), 0)  \
    X(int, FilterPushDrawState, (int outputBlendMode), (outputBlendMode), 0)                     \
    X(int, FilterPopDrawState, (), (), 0)                                                        \
    X(int, FilterSetRenderTarget, (HandleValue graph), (graph), 0)                               \
    X(int, FilterDrawPiece, (const VERTEX2D* vertices, GraphHandleRecord* source, int piece),    \
      (vertices, source, piece), 0)                                                              \
    X(int, FilterStretchRect,                                                                    \
      (GraphHandleRecord * source, int piece, RECT sourceRect, HandleValue dest, RECT destRect), \
      (source, piece, sourceRect, dest, destRect), 0)

// ---- The back-end tables ----
//
// One table per device kind; each entry is one twin operation of that back end with its own
// arguments. An entry a back end does not have stays null: its dispatcher then returns the value
// it gives for kind 0. The list below generates the table's entries and the Backend_ dispatchers
// that forward to them unchanged: X(result, name, parameters, arguments, value without a back end).
#define VELK_GRAPHICS_DISPATCHERS(X, XV)                                                           \
    X(int, CheckTransferConversion,                                                                \
      (GraphImage * image, int sourceType, int* needsConversion, int alphaSourceType,              \
       int* alphaNeedsConversion),                                                                 \
      (image, sourceType, needsConversion, alphaSourceType, alphaNeedsConversion), 0)              \
    X(int, TransferImageToTexture,                                                                 \
      (const RECT* sourceRect, int destX, int destY, HandleValue graph, const BASEIMAGE* color,    \
       const BASEIMAGE* alpha, int blendImage, int useTransparency, int wholeImage,                \
       void* loadContext),                                                                         \
      (sourceRect, destX, destY, graph, color, alpha, blendImage, useTransparency, wholeImage,     \
       loadContext),                                                                               \
      0)                                                                                           \
    X(int, IsDeviceReady, (), (), 0)                                                               \
    X(int, ClearDrawTarget, (const RECT* rect), (rect), 0)                                         \
    X(int, CreateImageTextures, (GraphImage * image, void* loadContext), (image, loadContext), 0)  \
    X(int, ChangeViewMatrix, (const Matrix4F* matrix), (matrix), 0)                                \
    X(int, ChangeWorldMatrix, (const Matrix4F* matrix), (matrix), 0)                               \
    X(int, DrawGraphStretched,                                                                     \
      (int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,                 \
       GraphHandleRecord* graph, GraphHandleRecord* blend, int transparent, int intCoords),        \
      (x1, y1, x2, y2, fx1, fy1, fx2, fy2, graph, blend, transparent, intCoords), 0)               \
    X(int, DrawGraphAtPoint,                                                                       \
      (int x, int y, float fx, float fy, GraphHandleRecord* graph, GraphHandleRecord* blend,       \
       int transparent, int intCoords),                                                            \
      (x, y, fx, fy, graph, blend, transparent, intCoords), 0)                                     \
    X(int, DrawGraphOnQuad,                                                                        \
      (float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,             \
       GraphHandleRecord* graph, GraphHandleRecord* blend, int transparent, int flags),            \
      (x1, y1, x2, y2, x3, y3, x4, y4, graph, blend, transparent, flags), 0)                       \
    X(int, FillRectangle, (int x1, int y1, int x2, int y2, std::uint32_t color),                   \
      (x1, y1, x2, y2, color), 0)                                                                  \
    X(int, OutlineRectangle, (int x1, int y1, int x2, int y2, std::uint32_t color),                \
      (x1, y1, x2, y2, color), 0)                                                                  \
    X(int, DrawLineSegment, (int x1, int y1, int x2, int y2, std::uint32_t color),                 \
      (x1, y1, x2, y2, color), 0)                                                                  \
    X(int, DrawCircleShape,                                                                        \
      (int x, int y, int radius, std::uint32_t color, int fill, int evenWidth, int evenHeight),    \
      (x, y, radius, color, fill, evenWidth, evenHeight), 0)                                       \
    X(int, DrawThickCircle, (int x, int y, int radius, std::uint32_t color, int thickness),        \
      (x, y, radius, color, thickness), 0)                                                         \
    X(int, DrawEllipse,                                                                            \
      (int x, int y, int radiusX, int radiusY, std::uint32_t color, int fill, int evenWidth,       \
       int evenHeight),                                                                            \
      (x, y, radiusX, radiusY, color, fill, evenWidth, evenHeight), 0)                             \
    X(int, DrawThickEllipse,                                                                       \
      (int x, int y, int radiusX, int radiusY, std::uint32_t color, int thickness),                \
      (x, y, radiusX, radiusY, color, thickness), 0)                                               \
    X(int, DrawQuadShape,                                                                          \
      (float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,             \
       std::uint32_t color, int fill),                                                             \
      (x1, y1, x2, y2, x3, y3, x4, y4, color, fill), 0)                                            \
    X(int, DrawTriangleShape,                                                                      \
      (int x1, int y1, int x2, int y2, int x3, int y3, std::uint32_t color, int fill),             \
      (x1, y1, x2, y2, x3, y3, color, fill), 0)                                                    \
    X(int, DrawUserVertices2D,                                                                     \
      (const VERTEX2D* vertices, int count, int primitive, GraphHandleRecord* graph,               \
       int extraFlags, int transparent, int value1, int value2, int piece),                        \
      (vertices, count, primitive, graph, extraFlags, transparent, value1, value2, piece), 0)      \
    X(int, DrawGraphRotatedFast,                                                                   \
      (int x, int y, float fx, float fy, float scale, float angle, GraphHandleRecord* graph,       \
       GraphHandleRecord* blend, int transparent, int turnX, int turnY),                           \
      (x, y, fx, fy, scale, angle, graph, blend, transparent, turnX, turnY), 0)                    \
    X(int, DrawGraphRotated,                                                                       \
      (int x, int y, float fx, float fy, double scale, double angle, GraphHandleRecord* graph,     \
       GraphHandleRecord* blend, int transparent, int turnX, int turnY),                           \
      (x, y, fx, fy, scale, angle, graph, blend, transparent, turnX, turnY), 0)                    \
    X(int, DrawGraphList,                                                                          \
      (const GraphQuadList* list, GraphHandleRecord* graph, GraphHandleRecord* blend),             \
      (list, graph, blend), 0)                                                                     \
    X(int, FillGraphColor,                                                                         \
      (GraphHandleRecord * graph, int red, int green, int blue, int alpha, int loaderThread),      \
      (graph, red, green, blue, alpha, loaderThread), 0)                                           \
    X(int, CopyGraphRect,                                                                          \
      (GraphHandleRecord * dest, GraphHandleRecord * source, HandleValue sourceHandle, int face,   \
       int mip, int sourceWidth, int sourceHeight, int x1, int y1, int x2, int y2, int destX,      \
       int destY),                                                                                 \
      (dest, source, sourceHandle, face, mip, sourceWidth, sourceHeight, x1, y1, x2, y2, destX,    \
       destY),                                                                                     \
      0)                                                                                           \
    X(int, ReadPixelColor, (int x, int y), (x, y), 0)                                              \
    X(int, Mask_DetachTextures, (), (), 0)                                                         \
    X(int, Mask_CreateTextures, (int width, int height), (width, height), 0)                       \
    X(int, Mask_FinishCreate, (int oldWidth, int oldHeight), (oldWidth, oldHeight), 0)             \
    X(int, Mask_BeginMaskedDraw, (RECT rect), (rect), 0)                                           \
    X(int, Mask_EndMaskedDraw, (RECT rect), (rect), 0)                                             \
    X(int, Mask_Fill, (int flag), (flag), 0)                                                       \
    X(int, Mask_ReleaseTextures, (), (), 0)                                                        \
    X(int, Mask_ApplyUse, (), (), 0)                                                               \
    X(int, Mask_UploadMaskBytes, (RECT rect), (rect), 0)                                           \
    X(int, ReleaseBufferData, (BufferRecord * buffer), (buffer), 0)                                \
    X(int, ReleaseSysMemCaches, (), (), 0)                                                         \
    X(int, SetDefaultStates, (), (), 0)                                                            \
    X(int, ApplyLightEnable, (int slot, int enable), (slot, enable), 0)                            \
    X(int, ApplyLightState, (int slot, const LightParams* light), (slot, light), 0)                \
    X(int, ChangeLighting, (int flag), (flag), 0)                                                  \
    X(int, LockDrawTarget,                                                                         \
      (const RECT* rect, BASEIMAGE* out, HandleValue target, GraphHandleRecord* graph, int face,   \
       int mip, int readOnly, int option),                                                         \
      (rect, out, target, graph, face, mip, readOnly, option), 0)                                  \
    X(int, UnlockDrawTarget, (), (), 0)                                                            \
    X(int, UpdateAlphaTargetFlag, (), (), 0)                                                       \
    X(int, ReleaseImageTextures, (GraphImage * image), (image), 0)                                 \
    X(int, EnsureScalingBackBuffer, (), (), 0)                                                     \
    X(int, ApplyBlendGraph, (GraphHandleRecord * blend, int type, int border, int range),          \
      (blend, type, border, range), 0)                                                             \
    X(int, ApplyColorOffset, (int red, int green, int blue), (red, green, blue), 0)                \
    X(int, RefreshDrawColor, (), (), 0)                                                            \
    X(int, ApplyClipRect, (), (), 0)                                                               \
    X(int, ApplyTextureFilter, (int filter), (filter), 0)                                          \
    X(int, CheckDrawTargetUsable, (HandleValue graph, GraphHandleRecord * record),                 \
      (graph, record), 0)                                                                          \
    X(int, ApplyFogColor, (int value), (value), 0)                                                 \
    X(int, ApplyFogEnable, (int value), (value), 0)                                                \
    X(int, ApplyFogMode, (int value), (value), 0)                                                  \
    X(int, ApplyFogRange, (float start, float end), (start, end), 0)                               \
    X(int, SyncFogEnable, (), (), 0)                                                               \
    X(int, ApplyMaxAnisotropy, (int value), (value), 0)                                            \
    X(int, ApplyTextureAddressUV, (int u, int v, int stage), (u, v, stage), 0)                     \
    X(int, ApplyProjectionMatrix, (const Matrix4F* matrix), (matrix), 0)                           \
    X(int, ApplyViewMatrix, (const Matrix4F* matrix), (matrix), 0)                                 \
    X(int, ApplyDrawTargetDepthBuffer, (), (), 0)                                                  \
    X(int, CreateShaderObject,                                                                     \
      (HandleValue shader, int kind, const void* code, int size, int handOver, void* loadContext), \
      (shader, kind, code, size, handOver, loadContext), 0)                                        \
    X(int, ReleaseShaderObject, (ShaderRecord * shader), (shader), 0)                              \
    X(int, RefreshShaderSelection, (), (), 0)                                                      \
    XV(UpdateLightConstants, (), ())                                                               \
    XV(UpdateShadowMapConstants, (), ())                                                           \
    X(int, ReleaseShadowMapData, (ShadowMapRecord * map), (map), 0)                                \
    X(int, SetShadowMapSlot, (int slot, ShadowMapRecord* map), (slot, map), 0)                     \
    X(int, UploadMovieFrame, (void* source, GraphHandleRecord* graph), (source, graph), 0)         \
    XV(ReleaseDeviceResources, (), ())                                                             \
    XV(CheckDeviceLost, (), ())                                                                    \
    X(int, ReapplyDeviceStates, (), (), 0)                                                         \
    X(int, GetShaderModelVersion, (), (), 0)

struct GraphicsBackendTable {
#define VELK_TABLE_ENTRY(R, Name, Params, Args, Default) R(*Name) Params;
#define VELK_TABLE_ENTRY_VOID(Name, Params, Args) void(*Name) Params;
    VELK_GRAPHICS_DISPATCHERS(VELK_TABLE_ENTRY, VELK_TABLE_ENTRY_VOID)
    VELK_FILTER_PASS_DISPATCHERS(VELK_TABLE_ENTRY)
    VELK_FILTER_DEVICE_STEPS(VELK_TABLE_ENTRY)
#undef VELK_TABLE_ENTRY
#undef VELK_TABLE_ENTRY_VOID
    // Twins whose dispatchers choose between entries or change the arguments.
    int (*WriteIndexBufferData)(BufferRecord* buffer, int first, const void* data, int count);
    int (*WriteVertexBufferData)(BufferRecord* buffer, int first, const void* data, int count);
    int (*WriteBufferData)(BufferRecord* buffer, int first, const void* data, int count);
    int (*ApplyWorldMatrix)(const Matrix4F* matrix);
    int (*FlushVertexBatch)(int flag);                        // Direct3D 9
    int (*FlushVertexBatchOfType)(int vertexType, int flag);  // Direct3D 11
    int (*ApplyDrawTarget)(HandleValue target, int oldFace, int oldMip, GraphHandleRecord* graph,
                           GraphHandleRecord* oldGraph, ShadowMapRecord* map,
                           ShadowMapRecord* oldMap);  // Direct3D 9 gets null for oldMap
    int (*FinishDrawTargetChange)(HandleValue target);
    int (*BindRenderTargetSlotFace)(int slot, HandleValue graph, int face);  // Direct3D 9
    int (*BindRenderTargetSlot)(int slot, HandleValue graph, int face, int mip);
    int (*ApplyTextureTransform)(int enable, const Matrix4F* matrix, int stage);  // Direct3D 9
    int (*ApplyTextureTransformNoStage)(int enable, const Matrix4F* matrix);      // Direct3D 11
    int (*ReleaseConstantBuffer)(ConstantBufferRecord* buffer);
    void (*ExpireSysMemSurfaces)();
    void (*ExpireSysMemTextures)();
    int (*SetDialogBoxMode)(int flag);
    int (*FinishSetup)();
    // Start, end, present and rebuild of the back end.
    int (*Start)();  // reads the capabilities into GraphicsSystemState and sets DevicePresent
    int (*TerminateBackEnd)();
    int (*PresentBackBuffer)();
    int (*RebuildDevice)(int mode, int width, int height, int colorBits, int refreshRate);
    int (*DeviceExists)();
};

// Installs the table of a device kind (1 or 2); null removes it. The back ends install theirs;
// tests install a recording one.
int SetGraphicsBackendTable(int kind, const GraphicsBackendTable* table);
const GraphicsBackendTable* GetGraphicsBackendTable(int kind);

#define VELK_DECLARE_DISPATCHER(R, Name, Params, Args, Default) R Backend_##Name Params;
#define VELK_DECLARE_DISPATCHER_VOID(Name, Params, Args) void Backend_##Name Params;
VELK_GRAPHICS_DISPATCHERS(VELK_DECLARE_DISPATCHER, VELK_DECLARE_DISPATCHER_VOID)
VELK_FILTER_PASS_DISPATCHERS(VELK_DECLARE_DISPATCHER)
VELK_FILTER_DEVICE_STEPS(VELK_DECLARE_DISPATCHER)
#undef VELK_DECLARE_DISPATCHER
#undef VELK_DECLARE_DISPATCHER_VOID

int Backend_WriteIndexBufferData(BufferRecord* buffer, int first, const void* data, int count);
int Backend_WriteVertexBufferData(BufferRecord* buffer, int first, const void* data, int count);
int Backend_ApplyWorldMatrix(const Matrix4F* matrix);
int Backend_FlushVertexBatch(int flag);
int Backend_ApplyDrawTarget(HandleValue target, int oldFace, int oldMip, GraphHandleRecord* graph,
                            GraphHandleRecord* oldGraph, ShadowMapRecord* map,
                            ShadowMapRecord* oldMap);
int Backend_FinishDrawTargetChange(HandleValue target);
int Backend_BindRenderTargetSlot(int slot, HandleValue graph, int face, int mip);
int Backend_ApplyTextureTransform(int enable, const Matrix4F* matrix, int stage);
int Backend_ReleaseConstantBuffer(ConstantBufferRecord* buffer);
void Backend_ExpireSysMemCaches();
int Backend_SetDialogBoxMode(int flag);
int Backend_FinishSetup();

}  // namespace ZiDaz

#include "Main/DxGraphicsDraw.h"
#include "Main/DxGraphicsGraph.h"
#include "Main/DxGraphicsShader.h"
#include "Main/DxGraphicsSoftImage.h"
#include "Main/DxMask.h"
