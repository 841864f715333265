// The device-side objects of the drawing front end that are not graphs: shader handles made from
// compiled shader code, shader constant buffers, the memory copies of vertex and index buffers,
// shadow maps with the light-space camera that draws into them, the extra render-target slots
// of shader drawing and the draw target's depth buffer. The back ends make and release the device
// objects; the records and the bookkeeping that keeps the drawing state consistent live here.
// Included by Main/DxGraphics.h.
#pragma once

#include <cstdint>

#include "Main/DxHandle.h"
#include "Main/DxMath.h"

namespace ZiDaz {

struct ASyncLoadJob;

// ShaderKind.
inline constexpr int DX_SHADER_VERTEX = 0;
inline constexpr int DX_SHADER_PIXEL = 1;
inline constexpr int DX_SHADER_GEOMETRY = 2;

// The room at the end of each record that the back end's part of it points into.
inline constexpr int kBackendRecordBytes = 256;

struct ShaderRecord {
    HandleHeader Header;
    std::int32_t Kind;
    void* Code;  // the library's copy, kept for re-creation after a device restore
    std::int32_t CodeSize;
    void* Backend;
    alignas(16) std::uint8_t BackendSpace[kBackendRecordBytes];
};

struct ConstantBufferRecord {
    HandleHeader Header;
    void* Backend;
    alignas(16) std::uint8_t BackendSpace[kBackendRecordBytes];
};

// The record of a VertexBuffer or IndexBuffer handle.
struct BufferRecord {
    HandleHeader Header;
    std::int32_t ElementType;
    std::int32_t ElementSize;
    std::int32_t ElementCount;
    std::uint8_t* Memory;  // ElementCount x ElementSize bytes
    void* Backend;
    alignas(16) std::uint8_t BackendSpace[kBackendRecordBytes];
};

// One render-target slot: the graph (or -1), its cube face and mip level.
struct RenderTargetSlot {
    HandleValue Graph;
    std::int32_t Face;
    std::int32_t Mip;
};

inline constexpr int kRenderTargetSlots = 8;
inline constexpr int kShadowMapUseSlots = 3;

// What drawing into a shadow map replaced, put back when it ends.
struct ShadowMapSavedState {
    RenderTargetSlot Slots[kRenderTargetSlots];
    std::int32_t MaskUse;
    std::int32_t Fog;
    Vector3D Eye, Target, Up;
    double HorizontalAngle, VerticalAngle, TwistAngle;
    Matrix4D View;
    double ScreenCenterX, ScreenCenterY;
    std::int32_t ProjectionKind;
    double Near, Far, FieldOfView;
    Matrix4D Projection;
};

struct ShadowMapRecord {
    HandleHeader Header;
    int* DeleteFlag;
    std::int32_t UseSecondRegion;
    Vector3F Region[2][8];  // corner points bounding what the map covers
    std::int32_t Reserved[2];
    std::int32_t DrawingActive;
    Matrix4F LightView;
    Matrix4F LightProjection;
    Matrix4F LightViewProjection;
    float BlurStrength;
    float Bias;
    float SecondBias;
    Vector3F LightDirection;  // as given
    Matrix4F LightRotation;
    ShadowMapSavedState Saved;
    std::int32_t Width, Height;
    void* Backend;
    alignas(16) std::uint8_t BackendSpace[kBackendRecordBytes];
};

// The front end's part of shader drawing: render-target slots 1 to 7 (slot 0 is the draw target,
// whose graph, face and mip level the draw settings keep), the user shader selections, the
// shadow maps 3D drawing reads, and the shadow map being drawn into.
struct ShaderDrawStateData {
    RenderTargetSlot Slots[kRenderTargetSlots];
    HandleValue UserGeometryShader;  // the vertex and pixel selections are draw settings
    HandleValue ShadowMapUse[kShadowMapUseSlots];
    std::int32_t ShadowMapUseCount;
    std::int32_t ShadowMapDrawing;
    HandleValue ShadowMapDrawn;
};

extern ShaderDrawStateData ShaderDrawState;

// Registers the five handle types with their records and callbacks (graphics start).
int RegisterShaderHandleTypes();
// Clears the slots and selections (graphics start and end).
int ResetShaderDrawState();

// ---- Shaders ----
HandleValue CreateShaderFromMemory(int kind, const void* code, int size, int handOver, int async,
                                   ASyncLoadJob* job);
void RunCreateShaderJob(ASyncLoadJob* job);
ShaderRecord* LookUpShaderRecord(HandleValue shader, int noWait);
void InitShaderRecord(HandleHeader* record);
int ReleaseShaderRecord(HandleHeader* record);
void InitConstantBufferRecord(HandleHeader* record);
int ReleaseConstantBufferRecord(HandleHeader* record);
int ReleaseBufferRecord(HandleHeader* record);

// ---- Buffers ----
// Gives a vertex or index buffer record its element layout and a zeroed memory copy; 0 or -1.
int SetUpBufferMemory(HandleValue buffer, int elementType, int elementSize, int elementCount);
int WriteVertexBufferData(int first, const void* data, int count, HandleValue buffer);
int WriteIndexBufferData(int first, const void* data, int count, HandleValue buffer);

// ---- Render targets ----
int BindRenderTargetSlot(int slot, HandleValue graph, int face, int mip);
int ApplyDrawTargetDepthBuffer();
// Unbinds a graph that is being deleted from render-target slots 1 to 7.
int ReleaseRenderTargetSlotsOf(HandleValue graph);

// ---- Shadow maps ----
ShadowMapRecord* LookUpShadowMapRecord(HandleValue map, int noWait);
void InitShadowMapRecord(HandleHeader* record);
int ReleaseShadowMapRecord(HandleHeader* record);
int SetShadowMapLightDirection(HandleValue map, Vector3F direction);
int FitShadowMapProjection(ShadowMapRecord* record);
// Makes the shadow map the draw target with the light's camera, saving what it replaces.
int BeginShadowMapDrawing(HandleValue map);
int EndShadowMapDrawing();
int ShadowMapDrawingActive();

}  // namespace ZiDaz
