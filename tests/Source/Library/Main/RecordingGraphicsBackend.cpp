#include "RecordingGraphicsBackend.h"

#include <string_view>

#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz::testing {

namespace {

RecordingBackend& B() {
    return RecordingBackend::Instance();
}

template <int Kind>
struct Recorder {
#define VELK_RECORD(R, Name, Params, Args, Default)                         \
    static R Name Params {                                                  \
        B().Record(Kind, #Name, ArgTexts Args);                             \
        if constexpr (std::string_view(#Name) == "GetShaderModelVersion") { \
            return B().shaderModel;                                         \
        } else {                                                            \
            return static_cast<R>(B().results);                             \
        }                                                                   \
    }
#define VELK_RECORD_VOID(Name, Params, Args)    \
    static void Name Params {                   \
        B().Record(Kind, #Name, ArgTexts Args); \
    }
    VELK_GRAPHICS_DISPATCHERS(VELK_RECORD, VELK_RECORD_VOID)
    VELK_FILTER_PASS_DISPATCHERS(VELK_RECORD)
    VELK_FILTER_DEVICE_STEPS(VELK_RECORD)
#undef VELK_RECORD
#undef VELK_RECORD_VOID

    static int WriteIndexBufferData(BufferRecord* b, int first, const void* data, int count) {
        B().Record(Kind, "WriteIndexBufferData", ArgTexts(b, first, data, count));
        return B().results;
    }
    static int WriteVertexBufferData(BufferRecord* b, int first, const void* data, int count) {
        B().Record(Kind, "WriteVertexBufferData", ArgTexts(b, first, data, count));
        return B().results;
    }
    static int WriteBufferData(BufferRecord* b, int first, const void* data, int count) {
        B().Record(Kind, "WriteBufferData", ArgTexts(b, first, data, count));
        return B().results;
    }
    static int ApplyWorldMatrix(const Matrix4F* m) {
        B().Record(Kind, "ApplyWorldMatrix", ArgTexts(m));
        return B().results;
    }
    static int FlushVertexBatch(int flag) {
        B().Record(Kind, "FlushVertexBatch", ArgTexts(flag));
        return B().results;
    }
    static int FlushVertexBatchOfType(int type, int flag) {
        B().Record(Kind, "FlushVertexBatchOfType", ArgTexts(type, flag));
        return B().results;
    }
    static int ApplyDrawTarget(HandleValue target, int face, int mip, GraphHandleRecord* g,
                               GraphHandleRecord* og, ShadowMapRecord* m, ShadowMapRecord* om) {
        B().Record(Kind, "ApplyDrawTarget", ArgTexts(target, face, mip, g, og, m, om));
        return B().results;
    }
    static int FinishDrawTargetChange(HandleValue target) {
        B().Record(Kind, "FinishDrawTargetChange", ArgTexts(target));
        return B().results;
    }
    static int BindRenderTargetSlotFace(int slot, HandleValue graph, int face) {
        B().Record(Kind, "BindRenderTargetSlotFace", ArgTexts(slot, graph, face));
        return B().results;
    }
    static int BindRenderTargetSlot(int slot, HandleValue graph, int face, int mip) {
        B().Record(Kind, "BindRenderTargetSlot", ArgTexts(slot, graph, face, mip));
        return B().results;
    }
    static int ApplyTextureTransform(int enable, const Matrix4F* m, int stage) {
        B().Record(Kind, "ApplyTextureTransform", ArgTexts(enable, m, stage));
        return B().results;
    }
    static int ApplyTextureTransformNoStage(int enable, const Matrix4F* m) {
        B().Record(Kind, "ApplyTextureTransformNoStage", ArgTexts(enable, m));
        return B().results;
    }
    static int ReleaseConstantBuffer(ConstantBufferRecord* b) {
        B().Record(Kind, "ReleaseConstantBuffer", ArgTexts(b));
        return B().results;
    }
    static void ExpireSysMemSurfaces() {
        B().Record(Kind, "ExpireSysMemSurfaces", {});
    }
    static void ExpireSysMemTextures() {
        B().Record(Kind, "ExpireSysMemTextures", {});
    }
    static int SetDialogBoxMode(int flag) {
        B().Record(Kind, "SetDialogBoxMode", ArgTexts(flag));
        return 0;
    }
    static int FinishSetup() {
        B().Record(Kind, "FinishSetup", {});
        const ScreenModeSettingsData& s = GraphicsSystemState.ScreenModeSettings;
        if (B().refuseMode && B().refuseMode(s.Width, s.Height, s.ColorBitDepth)) return -1;
        return B().finishSetupResult;
    }
    static int Start() {
        B().Record(Kind, "Start", {});
        ++B().startsTried;
        if (!B().startSucceeds[Kind]) return -1;
        GraphicsSystemStateData& g = GraphicsSystemState;
        const GraphicsSystemStateData& c = B().capabilities;
        g.ReverseSubtractCapable = c.ReverseSubtractCapable;
        g.RenderTargetCount = c.RenderTargetCount;
        g.MaxTextureSize = c.MaxTextureSize;
        g.MaxTextureWidth = c.MaxTextureWidth;
        g.MaxTextureHeight = c.MaxTextureHeight;
        g.SquareTexturesOnly = c.SquareTexturesOnly;
        g.PowerOfTwoTexturesOnly = c.PowerOfTwoTexturesOnly;
        g.NonPowerOfTwoConditional = c.NonPowerOfTwoConditional;
        g.ShadersUsable = c.ShadersUsable;
        g.VertexColorIsBgra = c.VertexColorIsBgra;
        g.NoHalfPixelOffset = Kind == 2 ? 1 : 0;
        g.DevicePresent = 1;
        B().deviceExists = true;
        return 0;
    }
    static int TerminateBackEnd() {
        B().Record(Kind, "TerminateBackEnd", {});
        GraphicsSystemState.DevicePresent = 0;
        B().deviceExists = false;
        return 0;
    }
    static int PresentBackBuffer() {
        B().Record(Kind, "PresentBackBuffer", {});
        return 0;
    }
    // The Direct3D 9 rebuild: the device is made again and the restore step runs.
    static int RebuildDevice(int mode, int width, int height, int bits, int rate) {
        B().Record(Kind, "RebuildDevice", ArgTexts(mode, width, height, bits, rate));
        RunGraphicsRestore();
        return 0;
    }
    static int DeviceExists() {
        return B().deviceExists ? 1 : 0;
    }

    static int CheckConversion(GraphImage* image, int kind, int* needs, int alphaKind,
                               int* alphaNeeds) {
        B().Record(Kind, "CheckTransferConversion",
                   ArgTexts(static_cast<void*>(image), kind, static_cast<void*>(needs), alphaKind,
                            static_cast<void*>(alphaNeeds)));
        if (!B().graphOperations) return B().results;
        if (B().transferConversion) B().transferConversion(kind, needs, alphaKind, alphaNeeds);
        return 0;
    }
    static int Transfer(const RECT* rect, int x, int y, HandleValue graph, const BASEIMAGE* color,
                        const BASEIMAGE* alpha, int blend, int useTrans, int whole, void* context) {
        B().Record(
            Kind, "TransferImageToTexture",
            ArgTexts(static_cast<const void*>(rect), x, y, graph, static_cast<const void*>(color),
                     static_cast<const void*>(alpha), blend, useTrans, whole, context));
        if (!B().graphOperations) return B().results;
        B().transfers.push_back(RecordingBackend::Transfer{
            *rect, x, y, graph, color->Format.FormatKind, color->Width, color->Height,
            alpha != nullptr, blend, useTrans, whole, context != nullptr});
        return B().transferResult;
    }

    // With the graph operations on, the device counts as ready (the glyph cache asks first).
    static int DeviceReady() {
        B().Record(Kind, "IsDeviceReady", {});
        return B().graphOperations ? 1 : B().results;
    }

    static GraphicsBackendTable Table() {
        GraphicsBackendTable t{};
#define VELK_FILL(R, Name, Params, Args, Default) t.Name = &Name;
#define VELK_FILL_VOID(Name, Params, Args) t.Name = &Name;
        VELK_GRAPHICS_DISPATCHERS(VELK_FILL, VELK_FILL_VOID)
        VELK_FILTER_PASS_DISPATCHERS(VELK_FILL)
        VELK_FILTER_DEVICE_STEPS(VELK_FILL)
#undef VELK_FILL
#undef VELK_FILL_VOID
        t.WriteIndexBufferData = &WriteIndexBufferData;
        t.WriteVertexBufferData = &WriteVertexBufferData;
        t.WriteBufferData = &WriteBufferData;
        t.ApplyWorldMatrix = &ApplyWorldMatrix;
        t.FlushVertexBatch = &FlushVertexBatch;
        t.FlushVertexBatchOfType = &FlushVertexBatchOfType;
        t.ApplyDrawTarget = &ApplyDrawTarget;
        t.FinishDrawTargetChange = &FinishDrawTargetChange;
        t.BindRenderTargetSlotFace = &BindRenderTargetSlotFace;
        t.BindRenderTargetSlot = &BindRenderTargetSlot;
        t.ApplyTextureTransform = &ApplyTextureTransform;
        t.ApplyTextureTransformNoStage = &ApplyTextureTransformNoStage;
        t.ReleaseConstantBuffer = &ReleaseConstantBuffer;
        t.ExpireSysMemSurfaces = &ExpireSysMemSurfaces;
        t.ExpireSysMemTextures = &ExpireSysMemTextures;
        t.SetDialogBoxMode = &SetDialogBoxMode;
        t.FinishSetup = &FinishSetup;
        t.Start = &Start;
        t.TerminateBackEnd = &TerminateBackEnd;
        t.PresentBackBuffer = &PresentBackBuffer;
        t.RebuildDevice = &RebuildDevice;
        t.DeviceExists = &DeviceExists;
        t.CheckTransferConversion = &CheckConversion;
        t.TransferImageToTexture = &Transfer;
        t.IsDeviceReady = &DeviceReady;
        return t;
    }
};

GraphicsBackendTable gTable9 = Recorder<1>::Table();
GraphicsBackendTable gTable11 = Recorder<2>::Table();

}  // namespace

void RecordingBackend::Install() {
    SetGraphicsBackendTable(1, &gTable9);
    SetGraphicsBackendTable(2, &gTable11);
}

void RecordingBackend::Remove() {
    SetGraphicsBackendTable(1, nullptr);
    SetGraphicsBackendTable(2, nullptr);
    *this = RecordingBackend{};
}

}  // namespace ZiDaz::testing
