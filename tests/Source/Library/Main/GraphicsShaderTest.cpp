// Shader handles, buffer writes with their memory copies, render-target slots and shadow maps,
// on the recording back end.
#include <cmath>

#include "GraphTestSupport.h"

using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

class ShaderTest : public GraphFixture {
  protected:
    void StartWithShaders(int renderTargets = 4) {
        RecordingBackend& b = RecordingBackend::Instance();
        b.capabilities.RenderTargetCount = renderTargets;
        b.capabilities.ShadersUsable = 1;
        StartDevice(4096, false);
    }
    static HandleValue MakeBuffer(int type, int elementSize, int count) {
        HandleValue h = AllocateHandle(type, 0, -1);
        EXPECT_GE(h, 0);
        EXPECT_EQ(SetUpBufferMemory(h, 0, elementSize, count), 0);
        return h;
    }
};

TEST_F(ShaderTest, BufferWritesKeepTheMemoryCopyAndRefuseRangesPastTheEnd) {
    StartWithShaders();
    RecordingBackend& b = RecordingBackend::Instance();
    for (int type : {DX_HANDLETYPE_VERTEX_BUFFER, DX_HANDLETYPE_INDEX_BUFFER}) {
        auto write =
            type == DX_HANDLETYPE_VERTEX_BUFFER ? WriteVertexBufferData : WriteIndexBufferData;
        const char* name =
            type == DX_HANDLETYPE_VERTEX_BUFFER ? "WriteVertexBufferData" : "WriteIndexBufferData";
        HandleValue buffer = MakeBuffer(type, 4, 10);
        auto* r = reinterpret_cast<BufferRecord*>(LookupHandleRecord(buffer));
        const std::int32_t data[3] = {11, 22, 33};
        b.calls.clear();
        EXPECT_EQ(write(10, data, 0, buffer), 0);
        EXPECT_EQ(write(9, data, 2, buffer), -1);
        EXPECT_EQ(write(-1, data, 1, buffer), -1);
        EXPECT_EQ(write(0, data, 1, buffer + 1), -1);
        std::int32_t tail;
        std::memcpy(&tail, r->Memory + 36, 4);
        EXPECT_EQ(tail, 0);
        EXPECT_EQ(b.Named(name).size(), 1u);
        EXPECT_EQ(write(7, data, 3, buffer), 0);
        std::memcpy(&tail, r->Memory + 36, 4);
        EXPECT_EQ(tail, 33);
        ASSERT_EQ(b.Named(name).size(), 2u);
        EXPECT_EQ(b.Named(name)[1].args[1], "7");
        // A failed device write still leaves the memory copy updated.
        b.results = -1;
        EXPECT_EQ(write(0, data, 1, buffer), -1);
        b.results = 0;
        std::int32_t head;
        std::memcpy(&head, r->Memory, 4);
        EXPECT_EQ(head, 11);
        EXPECT_EQ(DeleteHandle(buffer), 0);
    }
}

TEST_F(ShaderTest, SlotZeroAtLevelZeroIsSetDrawTargetAndLevelOneHalvesTheSize) {
    StartWithShaders();
    RecordingBackend& b = RecordingBackend::Instance();
    HandleValue graph = CreateDrawableGraph(256, 128, 0);
    ASSERT_GE(graph, 0);
    ASSERT_EQ(SetDrawTarget(graph), 0);
    const DrawSettingsData viaSetDrawTarget = GraphicsSystemState.DrawSettings;
    const CameraSettingsData cameraViaSetDrawTarget = GraphicsSystemState.Camera;
    ASSERT_EQ(SetDrawTarget(DX_TARGET_BACK_SCREEN), 0);
    ASSERT_EQ(BindRenderTargetSlot(0, graph, 0, 0), 0);
    EXPECT_EQ(
        std::memcmp(&GraphicsSystemState.DrawSettings, &viaSetDrawTarget, sizeof(DrawSettingsData)),
        0);
    EXPECT_EQ(std::memcmp(&GraphicsSystemState.Camera, &cameraViaSetDrawTarget,
                          sizeof(CameraSettingsData)),
              0);
    b.calls.clear();
    ASSERT_EQ(BindRenderTargetSlot(0, graph, 0, 1), 0);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawTargetWidth, 128);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawTargetHeight, 64);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.TargetMipLevel, 1);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawArea.right, 128);
    ASSERT_EQ(b.Named("BindRenderTargetSlotFace").size() + b.Named("BindRenderTargetSlot").size(),
              1u);
    EXPECT_EQ(BindRenderTargetSlot(4, graph, 0, 0), -1);
    EXPECT_EQ(BindRenderTargetSlot(-1, graph, 0, 0), -1);
}

TEST_F(ShaderTest, DeletingAGraphUnbindsItFromTheFurtherSlots) {
    StartWithShaders();
    RecordingBackend& b = RecordingBackend::Instance();
    HandleValue graph = CreateDrawableGraph(64, 64, 0);
    ASSERT_EQ(BindRenderTargetSlot(2, graph, 0, 0), 0);
    EXPECT_EQ(ShaderDrawState.Slots[2].Graph, graph);
    b.calls.clear();
    ASSERT_EQ(DestroyGraph(graph), 0);
    EXPECT_EQ(ShaderDrawState.Slots[2].Graph, -1);
    auto binds = b.Named("BindRenderTargetSlotFace");
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(binds[0].args, (std::vector<std::string>{"2", "-1", "0"}));
}

TEST_F(ShaderTest, ShadersNeedADeviceAndDirect3D9RefusesGeometryShaders) {
    StartWithShaders();
    RecordingBackend& b = RecordingBackend::Instance();
    const std::uint8_t code[16] = {1, 2, 3};
    // The device reports itself not ready (with the graph operations on it always is).
    const bool graphOperations = b.graphOperations;
    b.graphOperations = false;
    b.results = 0;
    EXPECT_EQ(CreateShaderFromMemory(DX_SHADER_PIXEL, code, 16, 0, 0, nullptr), -1);
    b.graphOperations = graphOperations;
    b.results = 1;
    EXPECT_EQ(CreateShaderFromMemory(DX_SHADER_GEOMETRY, code, 16, 0, 0, nullptr), -1);
    EXPECT_NE(Log().find("対応していないタイプのシェーダーを作成しようとしました"),
              std::string::npos);
    HandleValue pixel = CreateShaderFromMemory(DX_SHADER_PIXEL, code, 16, 0, 0, nullptr);
    ASSERT_GE(pixel, 0);
    ShaderRecord* r = LookUpShaderRecord(pixel, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->CodeSize, 16);
    EXPECT_EQ(std::memcmp(r->Code, code, 16), 0);
    // A handed-over block belongs to the library from then on.
    void* block = AllocateTrackedMemory(8, "test", __LINE__);
    std::memset(block, 7, 8);
    HandleValue vertex = CreateShaderFromMemory(DX_SHADER_VERTEX, block, 8, 1, 0, nullptr);
    ASSERT_GE(vertex, 0);
    // Only a shader of the right kind is selected; deleting it clears the selection.
    EXPECT_EQ(SelectUserPixelShader(vertex), -1);
    EXPECT_EQ(SelectUserVertexShader(pixel), -1);
    ASSERT_EQ(SelectUserPixelShader(pixel), 0);
    ASSERT_EQ(SelectUserVertexShader(vertex), 0);
    EXPECT_EQ(DeleteHandle(pixel), 0);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.UserPixelShader, 0);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.UserVertexShader, vertex);
    EXPECT_FALSE(b.Named("ReleaseShaderObject").empty());
    // The device refusing the shader leaves no handle.
    b.results = -1;
    const int count = HandleTypeTable[DX_HANDLETYPE_SHADER].count;
    EXPECT_EQ(CreateShaderFromMemory(DX_SHADER_VERTEX, code, 16, 0, 0, nullptr), -1);
    EXPECT_EQ(HandleTypeTable[DX_HANDLETYPE_SHADER].count, count);
    b.results = 0;
}

TEST_F(ShaderTest, ShaderCreationIsRefusedWithoutADevice) {
    StartSoftware(32);
    const std::uint8_t code[4] = {};
    EXPECT_EQ(CreateShaderFromMemory(DX_SHADER_PIXEL, code, 4, 0, 0, nullptr), -1);
    EXPECT_EQ(BindRenderTargetSlot(1, -1, 0, 0), -1);
}

TEST_F(ShaderTest, TheLightDirectionIsNormalisedForTheRotationAndKeptAsGiven) {
    StartWithShaders();
    HandleValue map = AllocateHandle(DX_HANDLETYPE_SHADOWMAP, 0, -1);
    ASSERT_GE(map, 0);
    ShadowMapRecord* r = LookUpShadowMapRecord(map, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_FLOAT_EQ(r->Bias, 0.002f);
    EXPECT_FLOAT_EQ(r->LightDirection.y, -1.0f);
    const Matrix4F unit = r->LightRotation;
    ASSERT_EQ(SetShadowMapLightDirection(map, Vector3F{0.0f, -5.0f, 0.0f}), 0);
    EXPECT_EQ(std::memcmp(&r->LightRotation, &unit, sizeof(unit)), 0);
    EXPECT_FLOAT_EQ(r->LightDirection.x, 0.0f);
    EXPECT_FLOAT_EQ(r->LightDirection.y, -5.0f);
    EXPECT_FLOAT_EQ(r->LightDirection.z, 0.0f);
    // A slanted light gives orthonormal columns with the direction last.
    ASSERT_EQ(SetShadowMapLightDirection(map, Vector3F{3.0f, -4.0f, 0.0f}), 0);
    const auto& m = r->LightRotation.m;
    for (int a = 0; a < 3; ++a)
        for (int c = 0; c < 3; ++c) {
            float dot = m[0][a] * m[0][c] + m[1][a] * m[1][c] + m[2][a] * m[2][c];
            EXPECT_NEAR(dot, a == c ? 1.0f : 0.0f, 1e-5f);
        }
    EXPECT_NEAR(m[0][2], 0.6f, 1e-6f);
    EXPECT_NEAR(m[1][2], -0.8f, 1e-6f);
    EXPECT_EQ(SetShadowMapLightDirection(map + 1, Vector3F{0, 1, 0}), -1);
}

TEST_F(ShaderTest, DeletingAShadowMapWhileDrawingIntoItRestoresTargetAndCamera) {
    StartWithShaders();
    HandleValue graph = CreateDrawableGraph(320, 200, 0);
    ASSERT_EQ(SetDrawTarget(graph), 0);
    const CameraSettingsData camera = GraphicsSystemState.Camera;
    const RECT area = GraphicsSystemState.DrawSettings.DrawArea;
    EXPECT_EQ(EndShadowMapDrawing(), -1);
    HandleValue map = AllocateHandle(DX_HANDLETYPE_SHADOWMAP, 0, -1);
    ShadowMapRecord* r = LookUpShadowMapRecord(map, 0);
    ASSERT_NE(r, nullptr);
    r->Width = r->Height = 512;
    for (int i = 0; i < 8; ++i)
        r->Region[0][i] =
            Vector3F{(i & 1) ? 10.0f : -10.0f, (i & 2) ? 4.0f : -4.0f, (i & 4) ? 30.0f : 2.0f};
    int deleted = 0;
    r->DeleteFlag = &deleted;
    ASSERT_EQ(BeginShadowMapDrawing(map), 0);
    EXPECT_EQ(ShadowMapDrawingActive(), 1);
    EXPECT_EQ(GetDrawTarget(), map);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawArea.right, 512);
    EXPECT_EQ(GraphicsSystemState.Camera.ProjectionKind, 2);
    int w = 0, h = 0;
    EXPECT_EQ(GetDrawTargetSize(map, &w, &h), 0);
    EXPECT_EQ(w, 512);
    ASSERT_EQ(DeleteHandle(map), 0);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(ShadowMapDrawingActive(), 0);
    EXPECT_EQ(GetDrawTarget(), graph);
    const CameraSettingsData& now = GraphicsSystemState.Camera;
    EXPECT_EQ(now.ProjectionKind, camera.ProjectionKind);
    EXPECT_DOUBLE_EQ(now.Eye.z, camera.Eye.z);
    EXPECT_DOUBLE_EQ(now.Near, camera.Near);
    EXPECT_DOUBLE_EQ(now.FieldOfView, camera.FieldOfView);
    EXPECT_EQ(std::memcmp(&now.View, &camera.View, sizeof(camera.View)), 0);
    EXPECT_EQ(GraphicsSystemState.DrawSettings.DrawArea.right, area.right);
    EXPECT_EQ(EndShadowMapDrawing(), -1);
}

TEST_F(ShaderTest, TheProjectionFitMapsTheRegionOntoTheUnitBox) {
    StartWithShaders();
    HandleValue map = AllocateHandle(DX_HANDLETYPE_SHADOWMAP, 0, -1);
    ShadowMapRecord* r = LookUpShadowMapRecord(map, 0);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(SetShadowMapLightDirection(map, Vector3F{0.0f, 0.0f, 1.0f}), 0);
    for (int i = 0; i < 8; ++i)
        r->Region[0][i] =
            Vector3F{(i & 1) ? 10.0f : -6.0f, (i & 2) ? 4.0f : -4.0f, (i & 4) ? 30.0f : 2.0f};
    ASSERT_EQ(FitShadowMapProjection(r), 0);
    for (int i = 0; i < 8; ++i) {
        Vector3F p;
        ApplyMatrixToPoint(&p, &r->Region[0][i], &r->LightViewProjection);
        EXPECT_NEAR(std::fabs(p.x), 1.0f, 1e-5f);
        EXPECT_NEAR(std::fabs(p.y), 1.0f, 1e-5f);
        EXPECT_NEAR(p.z, (i & 4) ? 1.0f : 0.0f, 1e-5f);
    }
    // A region flat along an axis is no division by zero.
    for (Vector3F& p : r->Region[0]) p = Vector3F{1.0f, 1.0f, 1.0f};
    ASSERT_EQ(FitShadowMapProjection(r), 0);
    EXPECT_TRUE(std::isfinite(r->LightProjection.m[0][0]));
}

}  // namespace
