// The matrix chain, the camera of a draw target, the view volume, the camera angles and the light
// table with its hand-over to device slots.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "RecordingGraphicsBackend.h"

using namespace ZiDaz;
using ZiDaz::testing::RecordingBackend;

namespace {

constexpr double kPi = 3.14159265358979323846;

class GraphicsCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LibrarySystem.initialised = 0;
        GraphicsSystemState = GraphicsSystemStateData{};
        GraphicsBackendKind = 0;
        StoreScreenSize(640, 480);
        DrawSettingsData& d = GraphicsSystemState.DrawSettings;
        d.DrawTarget = DX_TARGET_BACK_SCREEN;
        d.DrawTargetWidth = 640;
        d.DrawTargetHeight = 480;
        ResetCameraForTarget(DX_TARGET_BACK_SCREEN);
    }
    void TearDown() override {
        DeleteEveryLight();
        GraphicsBackendKind = 0;
        RecordingBackend::Instance().Remove();
    }
};

TEST_F(GraphicsCameraTest, TheResetCameraMapsOneUnitToOneTargetPixelAroundTheCentre) {
    const CameraSettingsData& c = GraphicsSystemState.Camera;
    double d = static_cast<float>(240 / 0.57735026f);
    EXPECT_NEAR(c.Eye.z, -d, 1e-3);
    EXPECT_NEAR(c.Near, d * 0.1, 1e-3);
    EXPECT_NEAR(c.Far, d + 20000.0, 1e-2);
    EXPECT_DOUBLE_EQ(c.FieldOfView, 1.0471975803375244);
    EXPECT_EQ(c.ScreenCenterX, 320.0);
    for (Vector3D p :
         {Vector3D{320, 240, 0}, Vector3D{0, 0, 0}, Vector3D{639, 17, 0}, Vector3D{100, 479, 0}}) {
        Vector3D s = ConvertWorldToScreenPosition(p);
        EXPECT_NEAR(s.x, p.x, 1e-3) << p.x << "," << p.y;
        EXPECT_NEAR(s.y, 480 - p.y, 1e-3) << p.x << "," << p.y;  // world y points up
        // And back again.
        Vector3D w = ConvertScreenToWorldPosition(s);
        EXPECT_NEAR(w.x, p.x, 1e-3);
        EXPECT_NEAR(w.y, p.y, 1e-3);
        EXPECT_NEAR(w.z, 0.0, 1e-3);
    }
}

TEST_F(GraphicsCameraTest, ASingularChainHasNoScreenToWorldPoint) {
    Matrix4D zero{};
    ApplyProjectionMatrix(&zero);
    Vector3D w = ConvertScreenToWorldPosition(Vector3D{10, 10, 0.5});
    EXPECT_EQ(w.x, -1);
    EXPECT_EQ(w.y, -1);
    EXPECT_EQ(w.z, -1);
    EXPECT_EQ(GraphicsSystemState.Matrices.InverseValid, 0);
}

TEST_F(GraphicsCameraTest, BoxesAgainstTheViewVolume) {
    const double farZ = GraphicsSystemState.Camera.Far;
    auto box = [](float x1, float y1, float z1, float x2, float y2, float z2) {
        std::vector<Vector3F> c;
        for (int i = 0; i < 8; ++i)
            c.push_back(Vector3F{i & 1 ? x2 : x1, i & 2 ? y2 : y1, i & 4 ? z2 : z1});
        return c;
    };
    float beyond = static_cast<float>(farZ + 1000);
    EXPECT_EQ(IsBoxOutsideView(box(300, 200, beyond, 340, 280, beyond + 10).data()), 1);
    EXPECT_EQ(IsBoxOutsideView(box(-500, 200, 0, -400, 280, 10).data()), 1);  // left of it
    EXPECT_EQ(IsBoxOutsideView(box(300, 200, 0, 340, 280, 10).data()), 0);    // inside
    EXPECT_EQ(IsBoxOutsideView(box(-500, 200, 0, 320, 280, 10).data()), 0);   // one side in
    // Corners outside the left edge only and outside the top edge only: not outside one boundary.
    std::vector<Vector3F> straddle = box(-500, 200, 0, -400, 280, 10);
    for (int i = 4; i < 8; ++i) straddle[i] = Vector3F{320, -600, 0};
    EXPECT_EQ(IsBoxOutsideView(straddle.data()), 0);
    // An empty draw area leaves every boundary zero: nothing is outside.
    SetDrawClipRect(RECT{10, 10, 10, 10});
    GraphicsSystemState.Matrices.ChainValid = 0;
    EXPECT_EQ(IsBoxOutsideView(box(300, 200, beyond, 340, 280, beyond + 10).data()), 0);
}

TEST_F(GraphicsCameraTest, LookingStraightDownGivesAVerticalAngleOfAQuarterTurn) {
    SetCameraEyeTargetUpDouble(Vector3D{0, 10, 0}, Vector3D{0, 0, 0}, Vector3D{0, 0, 1});
    const CameraSettingsData& c = GraphicsSystemState.Camera;
    const auto& m = GraphicsSystemState.Matrices.View.m;
    EXPECT_EQ(c.HorizontalAngle, 0.0);
    EXPECT_NEAR(std::fabs(c.VerticalAngle), kPi / 2, 1e-12);
    EXPECT_EQ(c.VerticalAngle > 0, m[1][2] < 0);
    SetCameraEyeTargetUpDouble(Vector3D{0, -10, 0}, Vector3D{0, 0, 0}, Vector3D{0, 0, 1});
    EXPECT_NEAR(std::fabs(c.VerticalAngle), kPi / 2, 1e-12);
    EXPECT_EQ(c.VerticalAngle > 0, m[1][2] < 0);
    // An ordinary camera turned by 30 degrees about y.
    double a = kPi / 6;
    SetCameraEyeTargetUpDouble(Vector3D{0, 0, 0}, Vector3D{std::sin(a), 0, std::cos(a)},
                               Vector3D{0, 1, 0});
    EXPECT_NEAR(c.HorizontalAngle, a, 1e-9);
    EXPECT_NEAR(c.VerticalAngle, 0, 1e-9);
    EXPECT_NEAR(c.TwistAngle, 0, 1e-9);
}

TEST_F(GraphicsCameraTest, LightHandlesSlotsAndCheckBytes) {
    std::vector<HandleValue> lights;
    for (int i = 0; i < 256; ++i) {
        HandleValue h = CreateLightRecord();
        ASSERT_GE(h, 0);
        EXPECT_EQ((h >> 26) & 31, DX_HANDLETYPE_LIGHT);
        EXPECT_EQ((h >> 18) & 0xFF, i % 255);  // 0, 1, ..., 254, 0
        EXPECT_EQ(h & 0x3FFFF, i);
        lights.push_back(h);
    }
    const LightRecord* r = LookupLight(lights[0]);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Params.Range, 2000.0f);
    EXPECT_EQ(r->Params.Ambient[2], 0.33f);
    EXPECT_EQ(r->DeviceSlot, -1);
    EXPECT_EQ(r->Enabled, 1);
    while (GraphicsSystemState.Lights.AreaEnd < kMaxLights) ASSERT_GE(CreateLightRecord(), 0);
    EXPECT_EQ(CreateLightRecord(), -1);  // full
    ASSERT_EQ(DeleteLight(lights[100]), 0);
    EXPECT_EQ(DeleteLight(lights[100]), -1);  // gone
    EXPECT_EQ(LookupLight(lights[100]), nullptr);
    HandleValue again = CreateLightRecord();
    EXPECT_EQ(again & 0x3FFFF, 100);  // the freed slot is used again
    EXPECT_NE(again, lights[100]);    // with another check byte
    EXPECT_EQ(DeleteLight(0x12345678), -1);
    EXPECT_EQ(DeleteLight(-1), -1);
}

TEST_F(GraphicsCameraTest, DeletingEveryLightButTheDefaultAndTheAreaEnd) {
    HandleValue def = CreateDirectionalLight(Vector3F{1, -1, 1});
    GraphicsSystemState.Lights.DefaultLight = def;
    const LightRecord* d = LookupLight(def);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Params.Type, 3);
    EXPECT_NEAR(d->Params.Direction[0], 1 / std::sqrt(3.0), 1e-6);
    HandleValue a = CreateLightRecord(), b = CreateLightRecord();
    ASSERT_EQ(DeleteLight(b), 0);
    EXPECT_EQ(GraphicsSystemState.Lights.AreaEnd, 2);  // one past the highest slot in use
    ASSERT_EQ(DeleteAllLights(), 0);
    EXPECT_EQ(LookupLight(a), nullptr);
    ASSERT_NE(LookupLight(def), nullptr);
    EXPECT_EQ(LookupLight(def)->Enabled, 1);
    EXPECT_EQ(GraphicsSystemState.Lights.Count, 1);
    EXPECT_EQ(GraphicsSystemState.Lights.AreaEnd, 1);
}

TEST_F(GraphicsCameraTest, LightsGoToDeviceSlotsDirectionalThenSpotThenPoint) {
    RecordingBackend& rec = RecordingBackend::Instance();
    rec.Install();
    GraphicsBackendKind = 1;
    HandleValue point = CreateLightRecord(), directional = CreateLightRecord(),
                spot = CreateLightRecord();
    LookupLight(point)->Params.Type = 1;
    LookupLight(directional)->Params.Type = 3;
    LookupLight(spot)->Params.Type = 2;
    ASSERT_EQ(ApplyLightsToDevice(), 0);
    EXPECT_EQ(LookupLight(directional)->DeviceSlot, 0);
    EXPECT_EQ(LookupLight(spot)->DeviceSlot, 1);
    EXPECT_EQ(LookupLight(point)->DeviceSlot, 2);
    auto states = rec.Named("ApplyLightState");
    ASSERT_EQ(states.size(), 3u);
    EXPECT_EQ(states[0].args[0], "0");
    EXPECT_EQ(states[2].args[0], "2");
    EXPECT_EQ(rec.Named("UpdateLightConstants").size(), 1u);
    // Nothing changed: nothing is sent again.
    rec.calls.clear();
    ApplyLightsToDevice();
    EXPECT_TRUE(rec.Named("ApplyLightState").empty());
    // The light in the highest slot goes: that slot is switched off.
    rec.calls.clear();
    ASSERT_EQ(DeleteLight(point), 0);
    ApplyLightsToDevice();
    auto enables = rec.Named("ApplyLightEnable");
    ASSERT_EQ(enables.size(), 1u);
    EXPECT_EQ(enables[0].args, (std::vector<std::string>{"2", "0"}));
    // Switching lighting off is passed on.
    rec.calls.clear();
    SwitchLighting(0);
    ASSERT_EQ(rec.Named("ChangeLighting").size(), 1u);
    EXPECT_EQ(rec.Named("ChangeLighting")[0].args[0], "0");
}

TEST_F(GraphicsCameraTest, MatrixChangesFlushAndReachTheDeviceOnlyWithOne) {
    RecordingBackend& rec = RecordingBackend::Instance();
    rec.Install();
    GraphicsBackendKind = 2;
    Matrix4D m;
    SetIdentityMatrixDouble(&m);
    m.m[3][0] = 5;
    // Without a device only the stored matrix changes.
    ApplyWorldMatrix(&m);
    EXPECT_TRUE(rec.Named("ApplyWorldMatrix").empty());
    EXPECT_EQ(rec.Named("FlushVertexBatchOfType").size(), 1u);
    EXPECT_EQ(GraphicsSystemState.Matrices.WorldF.m[3][0], 5.0f);
    GraphicsSystemState.DevicePresent = 1;
    ApplyWorldMatrix(&m);
    ApplyViewMatrix(&m);
    ApplyViewportMatrix(&m);
    EXPECT_EQ(rec.Named("ApplyWorldMatrix").size(), 1u);
    EXPECT_EQ(rec.Named("ApplyViewMatrix").size(), 1u);
    EXPECT_EQ(rec.Named("ApplyProjectionMatrix").size(), 1u);  // the viewport goes there
    EXPECT_EQ(GraphicsSystemState.Matrices.WorldApplied, 1);
    GraphicsSystemState.DevicePresent = 0;
}

}  // namespace
