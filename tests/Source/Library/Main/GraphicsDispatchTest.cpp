// The back-end dispatchers through the recording back end, the choice of back end and the
// settings that steer it, and the shared work buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Main/DxGraphics.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "RecordingGraphicsBackend.h"

using namespace ZiDaz;
using ZiDaz::testing::ArgTexts;
using ZiDaz::testing::RecordingBackend;

namespace {

template <typename T>
T MakeArg(int i) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(0x1000 * (i + 1)));
    } else if constexpr (std::is_same_v<T, float>) {
        return 0.5f + static_cast<float>(i);
    } else if constexpr (std::is_same_v<T, double>) {
        return 0.25 + i;
    } else if constexpr (std::is_same_v<T, RECT>) {
        return RECT{i, i + 1, i + 2, i + 3};
    } else {
        return static_cast<T>(1000 + i);
    }
}

template <typename R, typename... A, std::size_t... I>
std::pair<int, std::vector<std::string>> CallDistinct(R (*f)(A...), std::index_sequence<I...>) {
    std::tuple<A...> args{MakeArg<A>(static_cast<int>(I))...};
    std::vector<std::string> texts = ArgTexts(std::get<I>(args)...);
    if constexpr (std::is_void_v<R>) {
        std::apply(f, args);
        return {0, texts};
    } else {
        return {static_cast<int>(std::apply(f, args)), texts};
    }
}

// Calls a dispatcher with distinct arguments; returns what it returned (0 for no result) and the
// argument texts.
template <typename R, typename... A>
std::pair<int, std::vector<std::string>> Call(R (*f)(A...)) {
    return CallDistinct(f, std::index_sequence_for<A...>{});
}

struct Dispatcher {
    const char* name;
    std::function<std::pair<int, std::vector<std::string>>()> call;
};

std::vector<Dispatcher> GeneratedDispatchers() {
    std::vector<Dispatcher> out;
#define VELK_ROW(R, Name, Params, Args, Default) \
    out.push_back({#Name, [] { return Call(&Backend_##Name); }});
#define VELK_ROW_VOID(Name, Params, Args) \
    out.push_back({#Name, [] { return Call(&Backend_##Name); }});
    VELK_GRAPHICS_DISPATCHERS(VELK_ROW, VELK_ROW_VOID)
#undef VELK_ROW
#undef VELK_ROW_VOID
    return out;
}

class GraphicsDispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LibrarySystem.initialised = 0;
        backend().Install();
        GraphicsBackendKind = 0;
        GraphicsSystemState.HardwareForbidden = 0;
        Direct3D11Forbidden = 0;
    }
    void TearDown() override {
        GraphicsBackendKind = 0;
        GraphicsSystemState.DevicePresent = 0;
        GraphicsSystemState.HardwareForbidden = 0;
        Direct3D11Forbidden = 0;
        LibrarySystem.initialised = 0;
        backend().Remove();
    }
    static RecordingBackend& backend() { return RecordingBackend::Instance(); }
};

TEST_F(GraphicsDispatchTest, WithoutABackEndEveryDispatcherReturnsItsValueAndTouchesNothing) {
    GraphicsBackendKind = 0;
    backend().results = 77;
    for (const Dispatcher& d : GeneratedDispatchers()) {
        SCOPED_TRACE(d.name);
        EXPECT_EQ(d.call().first, 0);
    }
    Matrix4F m{};
    EXPECT_EQ(Backend_WriteIndexBufferData(nullptr, 1, nullptr, 2), 0);
    EXPECT_EQ(Backend_WriteVertexBufferData(nullptr, 1, nullptr, 2), 0);
    EXPECT_EQ(Backend_ApplyWorldMatrix(&m), 0);
    EXPECT_EQ(Backend_FlushVertexBatch(1), 0);
    EXPECT_EQ(Backend_ApplyDrawTarget(-2, 0, 0, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Backend_FinishDrawTargetChange(-2), 0);  // -4 arms the timer (window tests)
    EXPECT_EQ(Backend_BindRenderTargetSlot(0, -1, 0, 0), 0);
    EXPECT_EQ(Backend_ApplyTextureTransform(1, &m, 0), 0);
    EXPECT_EQ(Backend_ReleaseConstantBuffer(nullptr), 0);
    Backend_ExpireSysMemCaches();
    EXPECT_EQ(Backend_FinishSetup(), 0);
    EXPECT_TRUE(backend().calls.empty());
    // The one exception: the dialog-box mode always reaches the Direct3D 9 operation.
    EXPECT_EQ(Backend_SetDialogBoxMode(1), 0);
    ASSERT_EQ(backend().calls.size(), 1u);
    EXPECT_EQ(backend().calls[0].kind, 1);
    EXPECT_EQ(backend().calls[0].name, "SetDialogBoxMode");
    // Without any table a dispatcher under a device kind still returns its value.
    backend().Remove();
    GraphicsBackendKind = 2;
    for (const Dispatcher& d : GeneratedDispatchers()) EXPECT_EQ(d.call().first, 0) << d.name;
    EXPECT_EQ(Backend_SetDialogBoxMode(1), 0);
}

TEST_F(GraphicsDispatchTest, EachTwinGetsItsArgumentsUnchanged) {
    backend().results = 5;
    backend().shaderModel = 300;
    for (int kind : {1, 2}) {
        GraphicsBackendKind = kind;
        for (const Dispatcher& d : GeneratedDispatchers()) {
            SCOPED_TRACE(std::string(d.name) + " kind " + std::to_string(kind));
            backend().calls.clear();
            auto [result, args] = d.call();
            ASSERT_EQ(backend().calls.size(), 1u);
            const auto& c = backend().calls[0];
            EXPECT_EQ(c.kind, kind);
            EXPECT_EQ(c.name, d.name);
            EXPECT_EQ(c.args, args);
            bool hasResult = c.name != "UpdateLightConstants" &&
                             c.name != "UpdateShadowMapConstants" &&
                             c.name != "ReleaseDeviceResources" && c.name != "CheckDeviceLost";
            if (hasResult)
                EXPECT_EQ(result, d.name == std::string("GetShaderModelVersion") ? 300 : 5);
        }
    }
}

TEST_F(GraphicsDispatchTest, TwinsThatDifferBetweenTheBackEnds) {
    auto* buffer = reinterpret_cast<BufferRecord*>(0x40);
    const void* data = reinterpret_cast<const void*>(0x80);
    Matrix4F m{};
    auto last = [&] { return backend().calls.back(); };
    struct Case {
        int kind;
        std::function<int()> call;
        const char* name;
        std::vector<std::string> args;
    };
    std::vector<Case> cases = {
        {1, [&] { return Backend_WriteIndexBufferData(buffer, 3, data, 4); },
         "WriteIndexBufferData", ArgTexts(buffer, 3, data, 4)},
        {2, [&] { return Backend_WriteIndexBufferData(buffer, 3, data, 4); }, "WriteBufferData",
         ArgTexts(buffer, 3, data, 4)},
        {1, [&] { return Backend_WriteVertexBufferData(buffer, 5, data, 6); },
         "WriteVertexBufferData", ArgTexts(buffer, 5, data, 6)},
        {2, [&] { return Backend_WriteVertexBufferData(buffer, 5, data, 6); }, "WriteBufferData",
         ArgTexts(buffer, 5, data, 6)},
        {1, [&] { return Backend_ApplyWorldMatrix(&m); }, "ChangeWorldMatrix", ArgTexts(&m)},
        {2, [&] { return Backend_ApplyWorldMatrix(&m); }, "ApplyWorldMatrix", ArgTexts(&m)},
        {1, [&] { return Backend_FlushVertexBatch(7); }, "FlushVertexBatch", ArgTexts(7)},
        {2, [&] { return Backend_FlushVertexBatch(7); }, "FlushVertexBatchOfType", ArgTexts(-1, 7)},
        {1,
         [&] {
             return Backend_ApplyDrawTarget(9, 1, 2, reinterpret_cast<GraphHandleRecord*>(0x10),
                                            reinterpret_cast<GraphHandleRecord*>(0x20),
                                            reinterpret_cast<ShadowMapRecord*>(0x30),
                                            reinterpret_cast<ShadowMapRecord*>(0x40));
         },
         "ApplyDrawTarget",
         ArgTexts(9, 1, 2, reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x20),
                  reinterpret_cast<void*>(0x30), static_cast<void*>(nullptr))},
        {2,
         [&] {
             return Backend_ApplyDrawTarget(9, 1, 2, reinterpret_cast<GraphHandleRecord*>(0x10),
                                            reinterpret_cast<GraphHandleRecord*>(0x20),
                                            reinterpret_cast<ShadowMapRecord*>(0x30),
                                            reinterpret_cast<ShadowMapRecord*>(0x40));
         },
         "ApplyDrawTarget",
         ArgTexts(9, 1, 2, reinterpret_cast<void*>(0x10), reinterpret_cast<void*>(0x20),
                  reinterpret_cast<void*>(0x30), reinterpret_cast<void*>(0x40))},
        {1, [&] { return Backend_FinishDrawTargetChange(-4); }, "FinishDrawTargetChange",
         ArgTexts(-4)},
        {1, [&] { return Backend_BindRenderTargetSlot(1, 2, 3, 4); }, "BindRenderTargetSlotFace",
         ArgTexts(1, 2, 3)},
        {2, [&] { return Backend_BindRenderTargetSlot(1, 2, 3, 4); }, "BindRenderTargetSlot",
         ArgTexts(1, 2, 3, 4)},
        {1, [&] { return Backend_ApplyTextureTransform(1, &m, 6); }, "ApplyTextureTransform",
         ArgTexts(1, &m, 6)},
        {2, [&] { return Backend_ApplyTextureTransform(1, &m, 6); }, "ApplyTextureTransformNoStage",
         ArgTexts(1, &m)},
        {2, [&] { return Backend_ReleaseConstantBuffer(nullptr); }, "ReleaseConstantBuffer",
         ArgTexts(static_cast<void*>(nullptr))},
    };
    backend().results = 3;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " kind " + std::to_string(c.kind));
        GraphicsBackendKind = c.kind;
        backend().calls.clear();
        EXPECT_EQ(c.call(), 3);
        ASSERT_EQ(backend().calls.size(), 1u);
        EXPECT_EQ(last().kind, c.kind);
        EXPECT_EQ(last().name, c.name);
        EXPECT_EQ(last().args, c.args);
    }
    // Direct3D 9 has no constant buffers; its caches expire surfaces first, then textures.
    GraphicsBackendKind = 1;
    backend().calls.clear();
    EXPECT_EQ(Backend_ReleaseConstantBuffer(nullptr), -1);
    EXPECT_TRUE(backend().calls.empty());
    Backend_ExpireSysMemCaches();
    ASSERT_EQ(backend().calls.size(), 2u);
    EXPECT_EQ(backend().calls[0].name, "ExpireSysMemSurfaces");
    EXPECT_EQ(backend().calls[1].name, "ExpireSysMemTextures");
    GraphicsBackendKind = 2;
    backend().calls.clear();
    Backend_ExpireSysMemCaches();
    EXPECT_TRUE(backend().calls.empty());
    // The dialog-box mode goes to Direct3D 9 whatever the kind; a failed finish reads -1.
    EXPECT_EQ(Backend_SetDialogBoxMode(0), 0);
    EXPECT_EQ(backend().calls.back().kind, 1);
    backend().finishSetupResult = -5;
    EXPECT_EQ(Backend_FinishSetup(), -1);
    backend().finishSetupResult = 1;
    EXPECT_EQ(Backend_FinishSetup(), 0);
}

TEST_F(GraphicsDispatchTest, TheChoiceFollowsTheSettings) {
    struct Case {
        const char* what;
        std::function<void()> settings;
        bool d3d11Starts, d3d9Starts;
        int kind;
        std::vector<int> startsTried;  // kinds, in order
    };
    std::vector<Case> cases = {
        {"automatic, Direct3D 11 starts", [] {}, true, true, 2, {2}},
        {"automatic, Direct3D 11 fails", [] {}, false, true, 1, {2, 1}},
        {"both fail", [] {}, false, false, 0, {2, 1}},
        {"Direct3D 11 forbidden", [] { SetAllowDirect3D11(0); }, true, true, 1, {1}},
        {"device forbidden", [] { SetUseHardwareDrawing(0); }, true, true, 0, {}},
        {"mode 1", [] { SelectGraphicsMode(1); }, true, true, 1, {1}},
        {"mode 2", [] { SelectGraphicsMode(2); }, true, true, 1, {1}},
        {"mode 3 after mode 1",
         [] { SelectGraphicsMode(1), SelectGraphicsMode(3); },
         true,
         true,
         2,
         {2}},
        {"mode 0 means no device", [] { SelectGraphicsMode(0); }, true, true, 0, {}},
        {"hardware mode off", [] { SetUseHardwareDrawingMode(0); }, true, true, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        GraphicsSystemState.HardwareForbidden = 0;
        Direct3D11Forbidden = 0;
        GraphicsSystemState.DevicePresent = 0;
        backend().calls.clear();
        backend().startSucceeds[2] = c.d3d11Starts;
        backend().startSucceeds[1] = c.d3d9Starts;
        c.settings();
        ASSERT_EQ(SelectGraphicsBackend(), 0);
        EXPECT_EQ(GraphicsBackendKind, c.kind);
        EXPECT_EQ(GraphicsSystemState.DevicePresent, c.kind != 0 ? 1 : 0);
        std::vector<int> tried;
        for (const auto& call : backend().Named("Start")) tried.push_back(call.kind);
        EXPECT_EQ(tried, c.startsTried);
        EXPECT_EQ(IsHardwareDrawing(), GraphicsSystemState.HardwareForbidden ? 0 : 1);
        TerminateGraphicsBackend();
    }
    EXPECT_EQ(SelectGraphicsMode(4), -1);
    EXPECT_EQ(SelectGraphicsMode(-1), -1);
}

TEST_F(GraphicsDispatchTest, SettingsRefuseOnceTheLibraryHasStarted) {
    SetUseHardwareDrawing(1);
    SetAllowDirect3D11(1);
    SetFlipWaitVSync(1);
    LibrarySystem.initialised = 1;
    EXPECT_EQ(SetUseHardwareDrawing(0), -1);
    EXPECT_EQ(SetAllowDirect3D11(0), -1);
    EXPECT_EQ(SelectDirect3D9(1), -1);
    EXPECT_EQ(SelectGraphicsMode(0), -1);
    EXPECT_EQ(SetUseHardwareDrawingMode(0), -1);
    EXPECT_EQ(SetFlipWaitVSync(0), -1);
    EXPECT_EQ(SetScreen320x240Emulation(1), -1);
    EXPECT_EQ(GraphicsSystemState.HardwareForbidden, 0);
    EXPECT_EQ(Direct3D11Forbidden, 0);
    EXPECT_EQ(GetFlipWaitVSync(), 1);
    EXPECT_EQ(GraphicsSystemState.ScreenModeSettings.Emulate320x240, 0);
    // After the start the query reports the device, not the setting.
    GraphicsSystemState.DevicePresent = 0;
    EXPECT_EQ(IsHardwareDrawing(), 0);
}

TEST_F(GraphicsDispatchTest, WorkBuffersGrowAndAFailedGrowthLeavesAnEmptySlot) {
    GraphicsSystemStateData& g = GraphicsSystemState;
    EXPECT_EQ(EnsureGraphicsWorkBuffer(3, 16), -1);
    EXPECT_EQ(EnsureGraphicsWorkBuffer(-1, 16), -1);
    ASSERT_EQ(EnsureGraphicsWorkBuffer(0, 100), 0);
    ASSERT_NE(g.WorkBuffers[0], nullptr);
    std::memset(g.WorkBuffers[0], 0x5A, 100);
    void* first = g.WorkBuffers[0];
    EXPECT_EQ(EnsureGraphicsWorkBuffer(0, 50), 0);
    EXPECT_EQ(g.WorkBuffers[0], first);  // big enough already
    ASSERT_EQ(EnsureGraphicsWorkBuffer(0, 40000), 0);
    EXPECT_EQ(static_cast<unsigned char*>(g.WorkBuffers[0])[99], 0x5A);  // content kept
    EXPECT_EQ(g.WorkBufferSizes[0], 40000u);
    // A growth that cannot be had: the slot holds nothing and claims nothing.
    EXPECT_EQ(EnsureGraphicsWorkBuffer(0, std::numeric_limits<std::size_t>::max() / 2), -1);
    EXPECT_EQ(g.WorkBuffers[0], nullptr);
    EXPECT_EQ(g.WorkBufferSizes[0], 0u);
    // So the next small request allocates again instead of handing out the empty slot.
    ASSERT_EQ(EnsureGraphicsWorkBuffer(0, 10), 0);
    EXPECT_NE(g.WorkBuffers[0], nullptr);
    FreeTrackedMemory(g.WorkBuffers[0]);
    g.WorkBuffers[0] = nullptr;
    g.WorkBufferSizes[0] = 0;
}

TEST_F(GraphicsDispatchTest, ShaderModelAndExactPixelCentresFollowTheDevice) {
    GraphicsBackendKind = 0;
    EXPECT_EQ(Backend_GetShaderModelVersion(), 0);
    backend().shaderModel = 200;
    GraphicsBackendKind = 1;
    EXPECT_EQ(Backend_GetShaderModelVersion(), 200);
    backend().startSucceeds[2] = true;
    ASSERT_EQ(SelectGraphicsBackend(), 0);
    EXPECT_EQ(HasExactPixelCenters(), 1);
    TerminateGraphicsBackend();
}

}  // namespace
