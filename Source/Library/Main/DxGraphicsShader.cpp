// Shader, constant-buffer, vertex- and index-buffer and shadow-map records; the render-target
// slots; the light-space camera of shadow-map drawing.
#include <algorithm>
#include <cstring>

#include "Main/DxASyncLoad.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

ShaderDrawStateData ShaderDrawState;

namespace {

constexpr const char* kSourceFile = "DxGraphics";

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}
DrawSettingsData& Draw() {
    return GraphicsSystemState.DrawSettings;
}
ShaderDrawStateData& S() {
    return ShaderDrawState;
}
bool DeviceInUse() {
    return GraphicsSystemState.DevicePresent != 0;
}

Vector3F Cross(Vector3F a, Vector3F b) {
    return Vector3F{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Puts side, up and the direction into the upper 3x3 of the light rotation and the light view.
void ApplyLightDirection(ShadowMapRecord* r, Vector3F direction) {
    Vector3F d = MakeUnitVector(direction);
    Vector3F side = Cross(Vector3F{0.0f, 1.0f, 0.0f}, d);
    if (DotVectors(side, side) <= 1e-7f) side = Cross(Vector3F{1.0f, 0.0f, 0.0f}, d);
    Vector3F up = MakeUnitVector(Cross(d, side));
    side = MakeUnitVector(side);
    for (Matrix4F* m : {&r->LightRotation, &r->LightView}) {
        const Vector3F columns[3] = {side, up, d};
        for (int c = 0; c < 3; ++c) {
            m->m[0][c] = columns[c].x;
            m->m[1][c] = columns[c].y;
            m->m[2][c] = columns[c].z;
        }
    }
    r->LightDirection = direction;
}

// Ends the drawing into this shadow map and puts back what it replaced.
int EndDrawingInto(ShadowMapRecord* r) {
    ShaderDrawStateData& s = S();
    GraphicsSystemStateData& g = G();
    r->DrawingActive = 0;
    s.ShadowMapDrawing = 0;
    s.ShadowMapDrawn = 0;
    const ShadowMapSavedState& saved = r->Saved;
    for (int slot = 0; slot < kRenderTargetSlots; ++slot) {
        if (slot >= g.RenderTargetCount && slot != 0) break;
        BindRenderTargetSlot(slot, saved.Slots[slot].Graph, saved.Slots[slot].Face,
                             saved.Slots[slot].Mip);
    }
    SetMaskLayerActive(saved.MaskUse);
    if (Draw().FogEnable != saved.Fog) {
        FlushPendingDraws();
        Draw().FogEnable = saved.Fog;
        if (DeviceInUse()) Backend_ApplyFogEnable(saved.Fog);
    }
    CameraSettingsData& c = g.Camera;
    c.Eye = saved.Eye;
    c.Target = saved.Target;
    c.Up = saved.Up;
    c.HorizontalAngle = saved.HorizontalAngle;
    c.VerticalAngle = saved.VerticalAngle;
    c.TwistAngle = saved.TwistAngle;
    c.View = saved.View;
    ApplyViewMatrix(&saved.View);
    SetCameraScreenCenter(saved.ScreenCenterX, saved.ScreenCenterY);
    c.ProjectionKind = saved.ProjectionKind;
    c.Near = saved.Near;
    c.Far = saved.Far;
    c.FieldOfView = saved.FieldOfView;
    c.Projection = saved.Projection;
    RebuildProjectionMatrix();
    Backend_RefreshShaderSelection();
    // A blur strength above 0 asks for the Gauss filter over the map; without the image filters
    // the map stays as drawn.
    return 0;
}

int PackShaderJob(std::uint8_t* block, HandleValue shader, int kind, const void* code, int size,
                  int handOver) {
    int offset = 0;
    PackJobInt(block, &offset, shader);
    PackJobInt(block, &offset, kind);
    PackJobInt64(block, &offset, static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(code)));
    PackJobInt(block, &offset, size);
    PackJobInt(block, &offset, handOver);
    return offset;
}

// Keeps the library's copy of the code and makes the device shader; the caller's block is freed
// when it was handed over. 0, or -1 when the device shader could not be made.
int CreateShaderNow(HandleValue shader, int kind, const void* code, int size, int handOver,
                    ASyncLoadJob* job) {
    auto* r = reinterpret_cast<ShaderRecord*>(LookupHandleRecord(shader));
    int result = -1;
    if (r != nullptr) {
        r->Kind = kind;
        FreeTrackedMemory(r->Code);
        r->Code = AllocateTrackedMemory(static_cast<std::size_t>(size > 0 ? size : 1), kSourceFile,
                                        __LINE__);
        if (r->Code != nullptr) {
            if (size > 0) std::memcpy(r->Code, code, static_cast<std::size_t>(size));
            r->CodeSize = size;
            result = Backend_CreateShaderObject(shader, kind, r->Code, size, 0, job) < 0 ? -1 : 0;
        }
    }
    if (handOver) FreeTrackedMemory(const_cast<void*>(code));
    return result;
}

}  // namespace

int RegisterShaderHandleTypes() {
    RegisterHandleType(DX_HANDLETYPE_SHADER, static_cast<int>(sizeof(ShaderRecord)),
                       kMaxShaderHandles, InitShaderRecord, ReleaseShaderRecord, nullptr,
                       u"Shader");
    RegisterHandleType(DX_HANDLETYPE_SHADER_CONSTANT_BUFFER,
                       static_cast<int>(sizeof(ConstantBufferRecord)),
                       kMaxShaderConstantBufferHandles, InitConstantBufferRecord,
                       ReleaseConstantBufferRecord, nullptr, u"ShaderConstantBuffer");
    RegisterHandleType(DX_HANDLETYPE_VERTEX_BUFFER, static_cast<int>(sizeof(BufferRecord)),
                       kMaxVertexBufferHandles, nullptr, ReleaseBufferRecord, nullptr,
                       u"VertexBuffer");
    RegisterHandleType(DX_HANDLETYPE_INDEX_BUFFER, static_cast<int>(sizeof(BufferRecord)),
                       kMaxIndexBufferHandles, nullptr, ReleaseBufferRecord, nullptr,
                       u"IndexBuffer");
    RegisterHandleType(DX_HANDLETYPE_SHADOWMAP, static_cast<int>(sizeof(ShadowMapRecord)),
                       kMaxShadowMapHandles, InitShadowMapRecord, ReleaseShadowMapRecord, nullptr,
                       u"ShadowMap");
    return 0;
}

int ResetShaderDrawState() {
    ShaderDrawStateData& s = S();
    std::memset(&s, 0, sizeof(s));
    for (RenderTargetSlot& slot : s.Slots) slot.Graph = -1;
    return 0;
}

// ---- Shaders ----

HandleValue CreateShaderFromMemory(int kind, const void* code, int size, int handOver, int async,
                                   ASyncLoadJob* job) {
    GraphicsSystemStateData& g = G();
    if (Backend_IsDeviceReady() == 0 || g.ShadersUsable == 0) return -1;
    if (!g.Initialised) return -1;
    if (code == nullptr || size < 0 || kind < DX_SHADER_VERTEX || kind > DX_SHADER_GEOMETRY)
        return -1;
    if (kind == DX_SHADER_GEOMETRY && GraphicsBackendKind == DX_GRAPHICS_BACKEND_D3D9) {
        WriteLogTextUtf16(u"対応していないタイプのシェーダーを作成しようとしました\n");
        return -1;
    }
    const HandleValue shader = AllocateHandle(DX_HANDLETYPE_SHADER, job != nullptr, -1);
    if (shader < 0) return -1;
    if (async && job == nullptr) {
        ASyncLoadJob* queued = MakeASyncLoadJob(RunCreateShaderJob, [&](std::uint8_t* block) {
            return PackShaderJob(block, shader, kind, code, size, handOver);
        });
        if (queued == nullptr) {
            DeleteHandle(shader);
            return -1;
        }
        BeginHandleASyncLoad(shader, -1);
        HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_SHADER];
        AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
        if (QueueASyncLoadJob(queued) != 0) {
            ReleaseTracedLock(&type.lock);
            FinishHandleASyncLoad(shader);
            DeleteHandle(shader);
            return -1;
        }
        if (HandleHeader* h = LookupHandleRecord(shader); h != nullptr && h->asyncPending != 0)
            h->jobIndex = queued->slotIndex;
        ReleaseTracedLock(&type.lock);
        return shader;
    }
    if (CreateShaderNow(shader, kind, code, size, handOver, job) != 0) {
        DeleteHandle(shader);
        return -1;
    }
    return shader;
}

void RunCreateShaderJob(ASyncLoadJob* job) {
    int offset = 0;
    const HandleValue shader = UnpackJobInt(job->parameters, &offset);
    const int kind = UnpackJobInt(job->parameters, &offset);
    const auto code = reinterpret_cast<const void*>(
        static_cast<std::uintptr_t>(UnpackJobInt64(job->parameters, &offset)));
    const int size = UnpackJobInt(job->parameters, &offset);
    const int handOver = UnpackJobInt(job->parameters, &offset);
    const int result = CreateShaderNow(shader, kind, code, size, handOver, job);
    if (HandleHeader* h = LookupHandleRecord(shader)) {
        h->asyncResult = result;
        if (result < 0) h->deleteRequested = 1;
    }
    FinishHandleASyncLoad(shader);
}

ShaderRecord* LookUpShaderRecord(HandleValue shader, int noWait) {
    return reinterpret_cast<ShaderRecord*>(
        LookUpLoadedHandle(shader, DX_HANDLETYPE_SHADER, noWait));
}

void InitShaderRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<ShaderRecord*>(header);
    r->Backend = r->BackendSpace;
}

int ReleaseShaderRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<ShaderRecord*>(header);
    DrawSettingsData& d = Draw();
    for (HandleValue* selected : {&d.UserVertexShader, &d.UserPixelShader, &S().UserGeometryShader})
        if (*selected == header->handle) *selected = 0;
    FreeTrackedMemory(r->Code);
    r->Code = nullptr;
    r->CodeSize = 0;
    Backend_ReleaseShaderObject(r);
    return 0;
}

void InitConstantBufferRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<ConstantBufferRecord*>(header);
    r->Backend = r->BackendSpace;
}

int ReleaseConstantBufferRecord(HandleHeader* header) {
    Backend_ReleaseConstantBuffer(reinterpret_cast<ConstantBufferRecord*>(header));
    return 0;
}

int ReleaseBufferRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<BufferRecord*>(header);
    Backend_ReleaseBufferData(r);
    FreeTrackedMemory(r->Memory);
    r->Memory = nullptr;
    return 0;
}

// ---- Buffers ----

int SetUpBufferMemory(HandleValue buffer, int elementType, int elementSize, int elementCount) {
    const int type = (buffer & kHandleTypeMask) >> kHandleTypeShift;
    if (buffer < 0 || (type != DX_HANDLETYPE_VERTEX_BUFFER && type != DX_HANDLETYPE_INDEX_BUFFER))
        return -1;
    auto* r = reinterpret_cast<BufferRecord*>(LookUpLoadedHandle(buffer, type, 0));
    if (r == nullptr || elementSize <= 0 || elementCount < 0) return -1;
    const std::int64_t bytes = std::int64_t{elementSize} * elementCount;
    if (bytes > kMaxBaseImageBytes) return -1;
    auto* memory = static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(
        static_cast<std::size_t>(bytes > 0 ? bytes : 1), kSourceFile, __LINE__));
    if (memory == nullptr) return -1;
    FreeTrackedMemory(r->Memory);
    r->Memory = memory;
    r->ElementType = elementType;
    r->ElementSize = elementSize;
    r->ElementCount = elementCount;
    r->Backend = r->BackendSpace;
    return 0;
}

namespace {

BufferRecord* CheckBufferWrite(int type, HandleValue buffer, int first, int count) {
    auto* r = reinterpret_cast<BufferRecord*>(LookUpLoadedHandle(buffer, type, 0));
    if (r == nullptr || r->Memory == nullptr) return nullptr;
    if (first < 0 || count < 0 || std::int64_t{first} + count > r->ElementCount) return nullptr;
    return r;
}

void CopyIntoMemory(BufferRecord* r, int first, const void* data, int count) {
    if (count > 0 && data != nullptr)
        std::memcpy(r->Memory + static_cast<std::size_t>(first) * r->ElementSize, data,
                    static_cast<std::size_t>(count) * r->ElementSize);
}

}  // namespace

int WriteVertexBufferData(int first, const void* data, int count, HandleValue buffer) {
    BufferRecord* r = CheckBufferWrite(DX_HANDLETYPE_VERTEX_BUFFER, buffer, first, count);
    if (r == nullptr) return -1;
    CopyIntoMemory(r, first, data, count);
    return Backend_WriteVertexBufferData(r, first, data, count) < 0 ? -1 : 0;
}

int WriteIndexBufferData(int first, const void* data, int count, HandleValue buffer) {
    BufferRecord* r = CheckBufferWrite(DX_HANDLETYPE_INDEX_BUFFER, buffer, first, count);
    if (r == nullptr) return -1;
    CopyIntoMemory(r, first, data, count);
    return Backend_WriteIndexBufferData(r, first, data, count) < 0 ? -1 : 0;
}

// ---- Render targets ----

int BindRenderTargetSlot(int slot, HandleValue graph, int face, int mip) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = Draw();
    ShaderDrawStateData& s = S();
    if (slot < 0 || slot >= g.RenderTargetCount || slot >= kRenderTargetSlots) {
        // Without a device no count is known, yet slot 0 is always the draw target.
        if (!(slot == 0 && !DeviceInUse())) return -1;
    }
    if (slot == 0 && face == 0 && mip == 0) return SetDrawTarget(graph);
    if (!DeviceInUse()) return -1;
    HandleValue previous;
    if (slot == 0) {
        previous = d.DrawTarget;
        d.DrawTarget = graph;
        d.TargetCubeFace = face;
        d.TargetMipLevel = mip;
        int w = 0, h = 0;
        if (GraphHandleRecord* r = LookUpGraphRecord(graph, 0)) {
            ComputeMipLevelSize(r->Width, r->Height, mip > 0 ? mip : 0, &w, &h);
        } else {
            GetScreenSize(&w, &h);
        }
        d.DrawTargetWidth = w;
        d.DrawTargetHeight = h;
    } else {
        previous = s.Slots[slot].Graph;
        s.Slots[slot] = RenderTargetSlot{graph, face, mip};
    }
    Backend_UpdateAlphaTargetFlag();
    if (Backend_BindRenderTargetSlot(slot, graph, face, mip) < 0) return -1;
    if (slot == 0) ResetCameraForTarget(previous);
    return 0;
}

int ApplyDrawTargetDepthBuffer() {
    return Backend_ApplyDrawTargetDepthBuffer();
}

int ReleaseRenderTargetSlotsOf(HandleValue graph) {
    GraphicsSystemStateData& g = G();
    ShaderDrawStateData& s = S();
    const int count = std::min<int>(g.RenderTargetCount, kRenderTargetSlots);
    for (int slot = 1; slot < count; ++slot) {
        if (s.Slots[slot].Graph != graph) continue;
        if (!DeviceInUse()) continue;
        s.Slots[slot] = RenderTargetSlot{-1, 0, 0};
        Backend_UpdateAlphaTargetFlag();
        Backend_BindRenderTargetSlot(slot, -1, 0, 0);
    }
    return 0;
}

// ---- Shadow maps ----

ShadowMapRecord* LookUpShadowMapRecord(HandleValue map, int noWait) {
    return reinterpret_cast<ShadowMapRecord*>(
        LookUpLoadedHandle(map, DX_HANDLETYPE_SHADOWMAP, noWait));
}

void InitShadowMapRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<ShadowMapRecord*>(header);
    r->Reserved[0] = r->Reserved[1] = -1;
    r->Backend = r->BackendSpace;
    r->Bias = 0.002f;
    r->BlurStrength = 0.0f;
    r->SecondBias = 0.0007f;
    r->LightView.m[3][3] = 1.0f;
    r->LightProjection.m[3][3] = 1.0f;
    r->LightRotation.m[3][3] = 1.0f;
    MultiplyMatrices(&r->LightViewProjection, &r->LightView, &r->LightProjection);
    ApplyLightDirection(r, Vector3F{0.0f, -1.0f, 0.0f});
}

int ReleaseShadowMapRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<ShadowMapRecord*>(header);
    ShaderDrawStateData& s = S();
    for (int slot = 0; slot < kShadowMapUseSlots; ++slot) {
        if (s.ShadowMapUse[slot] != header->handle) continue;
        if (s.ShadowMapUseCount > 0) --s.ShadowMapUseCount;
        s.ShadowMapUse[slot] = 0;
        Backend_SetShadowMapSlot(slot, nullptr);
        Backend_UpdateShadowMapConstants();
        ApplyLightsToDevice();
        Backend_UpdateLightConstants();
    }
    // The record is on its way out and can no longer be looked up by its handle.
    if (r->DrawingActive) EndDrawingInto(r);
    Backend_ReleaseShadowMapData(r);
    if (r->DeleteFlag) *r->DeleteFlag = 1;
    return 0;
}

int SetShadowMapLightDirection(HandleValue map, Vector3F direction) {
    ShadowMapRecord* r = LookUpShadowMapRecord(map, 0);
    if (r == nullptr) return -1;
    ApplyLightDirection(r, direction);
    if (r->DrawingActive) FitShadowMapProjection(r);
    return 0;
}

int FitShadowMapProjection(ShadowMapRecord* r) {
    float low[3] = {1e8f, 1e8f, 1e8f}, high[3] = {-1e8f, -1e8f, -1e8f};
    for (const Vector3F& point : r->Region[r->UseSecondRegion ? 1 : 0]) {
        Vector3F p;
        ApplyMatrixToDirection(&p, &point, &r->LightRotation);
        const float v[3] = {p.x, p.y, p.z};
        for (int i = 0; i < 3; ++i) {
            low[i] = std::min(low[i], v[i]);
            high[i] = std::max(high[i], v[i]);
        }
    }
    // A region flat along an axis would divide by zero: that axis keeps a unit scale.
    auto span = [](float a, float b) { return b - a > 1e-6f ? b - a : 1.0f; };
    r->LightView.m[3][0] = -(high[0] + low[0]) * 0.5f;
    r->LightView.m[3][1] = -(high[1] + low[1]) * 0.5f;
    r->LightView.m[3][2] = -low[2];
    r->LightProjection.m[0][0] = 2.0f / span(low[0], high[0]);
    r->LightProjection.m[1][1] = 2.0f / span(low[1], high[1]);
    r->LightProjection.m[2][2] = 1.0f / span(low[2], high[2]);
    MultiplyMatrices(&r->LightViewProjection, &r->LightView, &r->LightProjection);
    ApplyViewMatrixFloat(&r->LightView);
    CameraSettingsData& c = G().Camera;
    c.ProjectionKind = 2;
    WidenMatrixToDouble(&c.Projection, &r->LightProjection);
    RebuildProjectionMatrix();
    return 0;
}

int BeginShadowMapDrawing(HandleValue map) {
    GraphicsSystemStateData& g = G();
    DrawSettingsData& d = Draw();
    ShaderDrawStateData& s = S();
    if (!g.Initialised || !DeviceInUse()) return -1;
    ShadowMapRecord* r = LookUpShadowMapRecord(map, 0);
    if (r == nullptr) return -1;
    if (s.ShadowMapDrawing) EndShadowMapDrawing();
    ShadowMapSavedState& saved = r->Saved;
    saved.Slots[0] = RenderTargetSlot{d.DrawTarget, d.TargetCubeFace, d.TargetMipLevel};
    for (int slot = 1; slot < kRenderTargetSlots; ++slot) saved.Slots[slot] = s.Slots[slot];
    saved.MaskUse = d.MaskLayerRequested;
    saved.Fog = d.FogEnable;
    const CameraSettingsData& c = g.Camera;
    saved.Eye = c.Eye;
    saved.Target = c.Target;
    saved.Up = c.Up;
    saved.HorizontalAngle = c.HorizontalAngle;
    saved.VerticalAngle = c.VerticalAngle;
    saved.TwistAngle = c.TwistAngle;
    saved.View = g.Matrices.View;
    saved.ScreenCenterX = c.ScreenCenterX;
    saved.ScreenCenterY = c.ScreenCenterY;
    saved.ProjectionKind = c.ProjectionKind;
    saved.Near = c.Near;
    saved.Far = c.Far;
    saved.FieldOfView = c.FieldOfView;
    saved.Projection = c.Projection;
    SetMaskLayerActive(0);
    const HandleValue oldTarget = d.DrawTarget;
    GraphHandleRecord* oldGraph = LookUpGraphRecord(oldTarget, 1);
    const int oldFace = d.TargetCubeFace, oldMip = d.TargetMipLevel;
    d.DrawTarget = map;
    d.TargetCubeFace = 0;
    d.TargetMipLevel = 0;
    d.DrawTargetWidth = r->Width;
    d.DrawTargetHeight = r->Height;
    Backend_UpdateAlphaTargetFlag();
    Backend_ApplyDrawTarget(map, oldFace, oldMip, nullptr, oldGraph, r, nullptr);
    SetDrawClipRect(RECT{0, 0, r->Width, r->Height});
    r->DrawingActive = 1;
    s.ShadowMapDrawing = 1;
    s.ShadowMapDrawn = map;
    FitShadowMapProjection(r);
    return 0;
}

int EndShadowMapDrawing() {
    ShaderDrawStateData& s = S();
    if (!s.ShadowMapDrawing) return -1;
    ShadowMapRecord* r = LookUpShadowMapRecord(s.ShadowMapDrawn, 1);
    if (r == nullptr) {
        s.ShadowMapDrawing = 0;
        return -1;
    }
    if (!r->DrawingActive) return -1;
    return EndDrawingInto(r);
}

int ShadowMapDrawingActive() {
    return S().ShadowMapDrawing;
}

}  // namespace ZiDaz
