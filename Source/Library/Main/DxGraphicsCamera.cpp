// The 3D transformation state of the graphics front end: the world, view, projection and viewport
// matrices with their product, its inverse and the view volume; the camera that fills them; and
// the light handles with their hand-over to the device's light slots.
#include <cmath>
#include <cstring>
#include <initializer_list>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxGraphics";
constexpr double kPi = 3.14159265358979323846;

MatrixChainState& Chain() {
    return GraphicsSystemState.Matrices;
}
CameraSettingsData& Camera() {
    return GraphicsSystemState.Camera;
}
LightTableData& Lights() {
    return GraphicsSystemState.Lights;
}

bool DeviceInUse() {
    return GraphicsSystemState.DevicePresent != 0;
}

void FlushBeforeMatrixChange() {
    Backend_FlushVertexBatch(0);
    // A deferred model draw joins here with the model module.
}

Vector3D Sub(const Vector3D& a, const Vector3D& b) {
    return Vector3D{a.x - b.x, a.y - b.y, a.z - b.z};
}

Vector3D Cross(const Vector3D& a, const Vector3D& b) {
    Vector3D out;
    CrossVectorsDouble(&out, &a, &b);
    return out;
}

}  // namespace

// ---- Matrices ----

int RebuildMatrixChain() {
    MatrixChainState& m = Chain();
    if (m.ChainValid) return 0;
    Matrix4D a, b;
    MultiplyMatricesDouble(&a, &m.World, &m.View);
    MultiplyMatricesDouble(&b, &a, &m.Projection);
    MultiplyMatricesDouble(&m.WorldToScreen, &b, &m.Viewport);
    m.InverseValid = 0;
    m.ChainValid = 1;
    const RECT& area = GraphicsSystemState.DrawSettings.DrawArea;
    if (area.left == area.right || area.top == area.bottom) {
        std::memset(m.VolumeCorners, 0, sizeof(m.VolumeCorners));
        std::memset(m.VolumePlanes, 0, sizeof(m.VolumePlanes));
        return 0;
    }
    double x1 = static_cast<float>(area.left), y1 = static_cast<float>(area.top);
    double x2 = static_cast<float>(area.right), y2 = static_cast<float>(area.bottom);
    const Vector3D screen[8] = {{x1, y1, 0}, {x2, y1, 0}, {x1, y2, 0}, {x2, y2, 0},
                                {x1, y1, 1}, {x2, y1, 1}, {x1, y2, 1}, {x2, y2, 1}};
    Vector3D* p = m.VolumeCorners;
    for (int i = 0; i < 8; ++i) p[i] = ConvertScreenToWorldPosition(screen[i]);
    struct Boundary {
        int through, a1, a0, b1, b0;  // normal = (p[a1] - p[a0]) x (p[b1] - p[b0])
    };
    static const Boundary kBoundaries[6] = {
        {0, 4, 0, 2, 0},  // left
        {1, 3, 1, 5, 1},  // right
        {2, 6, 2, 3, 2},  // bottom
        {0, 1, 0, 4, 0},  // top
        {0, 2, 0, 1, 0},  // near
        {4, 5, 4, 6, 4},  // far
    };
    for (int i = 0; i < 6; ++i) {
        const Boundary& b = kBoundaries[i];
        Vector3D normal = Cross(Sub(p[b.a1], p[b.a0]), Sub(p[b.b1], p[b.b0]));
        MakePlaneFromPointNormalDouble(&m.VolumePlanes[i], &p[b.through], &normal);
    }
    return 0;
}

namespace {

void SetWorld(const Matrix4D& matrix) {
    MatrixChainState& m = Chain();
    FlushBeforeMatrixChange();
    m.World = matrix;
    NarrowMatrixToFloat(&m.WorldF, &m.World);
    m.ChainValid = 0;
    RebuildMatrixChain();
    if (DeviceInUse()) {
        Backend_ApplyWorldMatrix(&m.WorldF);
        m.WorldApplied = 1;
    }
}

void SetView(const Matrix4D& matrix) {
    MatrixChainState& m = Chain();
    FlushBeforeMatrixChange();
    m.View = matrix;
    NarrowMatrixToFloat(&m.ViewF, &m.View);
    m.ChainValid = 0;
    RebuildMatrixChain();
    if (DeviceInUse()) {
        Backend_ApplyViewMatrix(&m.ViewF);
        m.ViewApplied = 1;
    }
}

}  // namespace

int ApplyWorldMatrix(const Matrix4D* matrix) {
    SetWorld(*matrix);
    return 0;
}

int ApplyWorldMatrixFloat(const Matrix4F* matrix) {
    Matrix4D wide;
    WidenMatrixToDouble(&wide, matrix);
    SetWorld(wide);
    return 0;
}

int ApplyViewMatrix(const Matrix4D* matrix) {
    SetView(*matrix);
    return 0;
}

int ApplyViewMatrixFloat(const Matrix4F* matrix) {
    Matrix4D wide;
    WidenMatrixToDouble(&wide, matrix);
    SetView(wide);
    return 0;
}

int ApplyProjectionMatrix(const Matrix4D* matrix) {
    MatrixChainState& m = Chain();
    FlushBeforeMatrixChange();
    m.Projection = *matrix;
    NarrowMatrixToFloat(&m.ProjectionF, &m.Projection);
    m.ChainValid = 0;
    RebuildMatrixChain();
    if (DeviceInUse()) {
        FlushBeforeMatrixChange();
        GraphicsSystemState.DrawSettings.TwoDimModeInEffect = 0;
        m.ProjectionApplied = 1;
        Backend_ApplyProjectionMatrix(&m.ProjectionF);
    }
    return 0;
}

int ApplyViewportMatrix(const Matrix4D* matrix) {
    MatrixChainState& m = Chain();
    FlushBeforeMatrixChange();
    m.Viewport = *matrix;
    NarrowMatrixToFloat(&m.ViewportF, &m.Viewport);
    m.ChainValid = 0;
    RebuildMatrixChain();
    if (DeviceInUse()) {
        // The back end multiplies viewport and projection itself.
        Backend_ApplyProjectionMatrix(&m.ViewportF);
        m.ViewApplied = 1;
    }
    return 0;
}

int SetWorldMatrixToDevice(const Matrix4F* matrix) {
    Backend_ChangeWorldMatrix(matrix);
    Chain().WorldApplied = 0;
    Chain().ThreeDStateApplied = 0;
    return 0;
}

int SetProjectionMatrixByUser(const Matrix4D* matrix) {
    Camera().ProjectionKind = 2;
    Camera().Projection = *matrix;
    return RebuildProjectionMatrix();
}

int RebuildProjectionMatrix() {
    CameraSettingsData& c = Camera();
    const DrawSettingsData& d = GraphicsSystemState.DrawSettings;
    double width = d.DrawTargetWidth, height = d.DrawTargetHeight;
    double aspect = width != 0 ? height / width : 0.75;
    aspect = c.ProjectionKind == 2 ? 1.0 : aspect * c.ProjectionScale;
    if (c.ProjectionKind == 0) {
        MakePerspectiveProjectionDouble(&c.Projection, c.FieldOfView, c.Near, c.Far, aspect);
    } else if (c.ProjectionKind == 1) {
        MakeOrthographicProjectionDouble(&c.Projection, c.OrthoSize, c.Near, c.Far, aspect);
    }
    return ApplyProjectionMatrix(&c.Projection);
}

Vector3D ConvertWorldToScreenPosition(Vector3D point) {
    RebuildMatrixChain();
    Vector3D out;
    double w = 1.0;
    ApplyMatrixToPoint4Double(&out, &w, &point, 1.0, &Chain().WorldToScreen);
    return Vector3D{out.x / w, out.y / w, out.z / w};
}

Vector3D ConvertScreenToWorldPosition(Vector3D point) {
    MatrixChainState& m = Chain();
    if (!m.InverseValid) {
        Matrix4D inverse;
        if (InvertMatrixDouble(&inverse, &m.WorldToScreen) != 0) return Vector3D{-1, -1, -1};
        m.ScreenToWorld = inverse;
        NarrowMatrixToFloat(&m.ScreenToWorldF, &inverse);
        m.InverseValid = 1;
    }
    Vector3D out;
    double w = 1.0;
    ApplyMatrixToPoint4Double(&out, &w, &point, 1.0, &m.ScreenToWorld);
    return Vector3D{out.x / w, out.y / w, out.z / w};
}

int IsBoxOutsideView(const Vector3F* corners) {
    RebuildMatrixChain();
    const PlaneD* planes = Chain().VolumePlanes;
    int outsideAll = 0x3F;  // the boundaries every point so far lies outside of
    for (int i = 0; i < 8; ++i) {
        double x = corners[i].x, y = corners[i].y, z = corners[i].z;
        int outside = 0;
        for (int b = 0; b < 6; ++b) {
            const PlaneD& p = planes[b];
            if (p.a * x + p.b * y + p.c * z + p.d < 0) outside |= 1 << b;
        }
        if (outside == 0) return 0;
        outsideAll &= outside;
    }
    return outsideAll != 0 ? 1 : 0;
}

// ---- Camera ----

int SetCameraEyeTargetUp(Vector3F eye, Vector3F target, Vector3F up) {
    return SetCameraEyeTargetUpDouble(Vector3D{eye.x, eye.y, eye.z},
                                      Vector3D{target.x, target.y, target.z},
                                      Vector3D{up.x, up.y, up.z});
}

int SetCameraEyeTargetUpDouble(Vector3D eye, Vector3D target, Vector3D up) {
    CameraSettingsData& c = Camera();
    c.Eye = eye;
    c.Target = target;
    Vector3D forward = Sub(target, eye);
    Vector3D side = Cross(forward, up);
    Vector3D rawUp = Cross(side, forward);
    MakeUnitVectorDouble(&c.Up, &rawUp);
    Matrix4D view;
    MakeViewMatrixFromEye(&view, &c.Eye, &c.Target, &c.Up);
    ApplyViewMatrix(&view);
    c.View = view;
    DeriveCameraAngles();
    return 0;
}

int SetCameraScreenCenter(double x, double y) {
    CameraSettingsData& c = Camera();
    c.ScreenCenterX = x;
    c.ScreenCenterY = y;
    const DrawSettingsData& d = GraphicsSystemState.DrawSettings;
    Matrix4D viewport;
    MakeScreenMappingMatrixDouble(&viewport, x, y, d.DrawTargetWidth, d.DrawTargetHeight);
    return ApplyViewportMatrix(&viewport);
}

int ResetCameraForTarget(HandleValue) {
    DrawSettingsData& d = GraphicsSystemState.DrawSettings;
    int width = 0, height = 0;
    GetDrawTargetSize(d.DrawTarget, &width, &height);
    if (d.DrawTarget == -3 || d.DrawTarget == -16) {
        width = d.DrawTargetWidth;
        height = d.DrawTargetHeight;
    }
    SetDrawClipRect(RECT{0, 0, width, height});
    CameraSettingsData& c = Camera();
    c.ProjectionScale = 1.0;
    RebuildProjectionMatrix();
    Matrix4F identity;
    SetIdentityMatrix(&identity);
    ApplyWorldMatrixFloat(&identity);
    double W = d.DrawTargetWidth, H = d.DrawTargetHeight;
    SetCameraScreenCenter(W * 0.5, H * 0.5);
    float distance = static_cast<float>(d.DrawTargetHeight / 2) / 0.57735026f;
    float cx = static_cast<float>(W * 0.5), cy = static_cast<float>(H * 0.5);
    SetCameraEyeTargetUp(Vector3F{cx, cy, -distance}, Vector3F{cx, cy, -distance + 1.0f},
                         Vector3F{0.0f, 1.0f, 0.0f});
    c.ProjectionKind = 0;
    c.FieldOfView = 1.0471975803375244;
    RebuildProjectionMatrix();
    c.Near = distance * 0.1f;
    c.Far = distance + 20000.0f;
    RebuildProjectionMatrix();
    return 0;
}

int DeriveCameraAngles() {
    CameraSettingsData& c = Camera();
    const auto& m = Chain().View.m;
    // mRC of the text: row R, column C counted from 1.
    double m11 = m[0][0], m12 = m[0][1], m13 = m[0][2];
    double m21 = m[1][0], m22 = m[1][1], m23 = m[1][2];
    double m31 = m[2][0], m32 = m[2][1], m33 = m[2][2];
    if (-1e-8 < m13 && m13 < 1e-8 && -1e-8 < m33 && m33 < 1e-8) {
        c.HorizontalAngle = 0;
        if (m23 < 0) {
            c.VerticalAngle = kPi / 2;
            c.TwistAngle = std::atan2(-m12, m32);
        } else {
            c.VerticalAngle = -kPi / 2;
            c.TwistAngle = std::atan2(-m12, -m32);
        }
        return 0;
    }
    c.HorizontalAngle = m22 < 0 ? std::atan2(-m13, -m33) : std::atan2(m13, m33);
    double s = std::sin(-c.HorizontalAngle), co = std::cos(-c.HorizontalAngle);
    double A = co * m31 - s * m11, B = s * m31 + co * m11, C = co * m33 - s * m13;
    if (m22 < 0) {
        c.VerticalAngle = m23 > 0 ? -std::atan2(-C, m23) - kPi / 2 : std::atan2(-C, -m23) + kPi / 2;
    } else {
        c.VerticalAngle = std::atan2(-m23, C);
    }
    double s2 = std::sin(-c.VerticalAngle), c2 = std::cos(-c.VerticalAngle);
    c.TwistAngle = std::atan2(c2 * m21 - s2 * A, B);
    return 0;
}

// ---- Lights ----

LightRecord* LookupLight(HandleValue light) {
    if (light < 0) return nullptr;
    if (((light & kHandleTypeMask) >> kHandleTypeShift) != DX_HANDLETYPE_LIGHT) return nullptr;
    int index = light & kHandleIndexMask;
    if (index >= kMaxLights) return nullptr;
    LightRecord* record = Lights().Records[index];
    if (record == nullptr) return nullptr;
    if (((light & kHandleCheckMask) >> kHandleCheckShift) != record->Check) return nullptr;
    return record;
}

HandleValue CreateLightRecord() {
    LightTableData& t = Lights();
    int slot = -1;
    if (t.AreaEnd < kMaxLights) {
        slot = t.AreaEnd;
    } else {
        for (int i = 0; i < kMaxLights && slot < 0; ++i)
            if (t.Records[i] == nullptr) slot = i;
    }
    if (slot < 0) return -1;
    auto* record = static_cast<LightRecord*>(
        AllocateTrackedMemoryZeroed(sizeof(LightRecord), kSourceFile, __LINE__));
    if (record == nullptr) {
        WriteLogTextUtf16(u"ライト用のメモリの確保に失敗しました");
        return -1;
    }
    LightParams& p = record->Params;
    for (int i = 0; i < 4; ++i) {
        p.Diffuse[i] = 1.0f;
        p.Specular[i] = 1.0f;
        p.Ambient[i] = 0.33f;
    }
    p.Range = 2000.0f;
    p.Falloff = 1.0f;
    p.Attenuation0 = 0.1f;
    p.InnerCone = 2.0f;
    p.OuterCone = 2.0f;
    record->DeviceSlot = -1;
    record->Check = t.NextCheck;
    t.NextCheck = t.NextCheck >= 254 ? 0 : t.NextCheck + 1;
    record->Handle = slot | ((record->Check | 0xB00) << 18);
    t.Records[slot] = record;
    ++t.Count;
    if (slot == t.AreaEnd) ++t.AreaEnd;
    record->Enabled = 1;
    record->Changed = 1;
    t.SetChanged = 1;
    GraphicsSystemState.DrawSettings.DrawSettingsChanged = 1;
    return record->Handle;
}

HandleValue CreateDirectionalLight(Vector3F direction) {
    HandleValue handle = CreateLightRecord();
    LightRecord* record = LookupLight(handle);
    if (record == nullptr) return -1;
    record->Params.Type = 3;
    float length = std::sqrt(direction.x * direction.x + direction.y * direction.y +
                             direction.z * direction.z);
    record->Params.Direction[0] = direction.x / length;
    record->Params.Direction[1] = direction.y / length;
    record->Params.Direction[2] = direction.z / length;
    return handle;
}

int DeleteLight(HandleValue light) {
    LightRecord* record = LookupLight(light);
    if (record == nullptr) return -1;
    LightTableData& t = Lights();
    int slot = light & kHandleIndexMask;
    --t.Count;
    t.Records[slot] = nullptr;
    if (slot == t.AreaEnd - 1) {
        int end = slot;
        while (end > 0 && t.Records[end - 1] == nullptr) --end;
        t.AreaEnd = t.Count == 0 ? 0 : end;
    }
    FreeTrackedMemory(record);
    t.SetChanged = 1;
    GraphicsSystemState.DrawSettings.DrawSettingsChanged = 1;
    return 0;
}

int DeleteAllLights() {
    LightTableData& t = Lights();
    for (int i = t.AreaEnd - 1; i >= 0; --i) {
        LightRecord* record = t.Records[i];
        if (record && record->Handle != t.DefaultLight) DeleteLight(record->Handle);
    }
    return 0;
}

int DeleteEveryLight() {
    LightTableData& t = Lights();
    for (int i = 0; i < kMaxLights; ++i) {
        FreeTrackedMemory(t.Records[i]);
        t.Records[i] = nullptr;
    }
    t.Count = 0;
    t.AreaEnd = 0;
    t.DefaultLight = -1;
    t.SetChanged = 1;
    return 0;
}

int SwitchLighting(int flag) {
    Lights().LightingDisabled = flag == 0;
    Backend_ChangeLighting(flag);
    Lights().SetChanged = 1;
    GraphicsSystemState.DrawSettings.DrawSettingsChanged = 1;
    return 0;
}

int ApplyLightsToDevice() {
    LightTableData& t = Lights();
    Backend_ChangeLighting(t.LightingDisabled ? 0 : 1);
    if (!t.SetChanged && !t.FullResend) return 0;
    int previousHighest = t.HighestSlot;
    t.SlotCounter = 0;
    t.HighestSlot = -1;
    for (int type : {3, 2, 1}) {
        int seen = 0;
        for (int i = 0; i < t.AreaEnd && seen < t.Count; ++i) {
            LightRecord* r = t.Records[i];
            if (r == nullptr) continue;
            ++seen;
            if (!r->Enabled || r->Params.Type != type) continue;
            int s = t.SlotCounter;
            if (s < kLightDeviceSlots) t.DeviceSlotTable[s] = i;
            if (r->DeviceSlot != s || r->Changed || t.FullResend) {
                r->DeviceSlot = s;
                r->Changed = 0;
                Backend_ApplyLightState(s, &r->Params);
                Backend_ApplyLightEnable(s, 1);
            }
            t.HighestSlot = s;
            ++t.SlotCounter;
        }
    }
    for (int s = t.HighestSlot + 1; s <= previousHighest; ++s) Backend_ApplyLightEnable(s, 0);
    t.SetChanged = 0;
    t.FullResend = 0;
    GraphicsSystemState.DrawSettings.DrawSettingsChanged = 1;
    Backend_ChangeLighting(t.LightingDisabled ? 0 : 1);
    Backend_UpdateLightConstants();
    return 0;
}

}  // namespace ZiDaz
