// The filter pass plan on the device kinds through the recording back end (shaders usable): the
// pass counts, where each pass reads and writes, the gathering of pieced graphs into work graphs,
// the end step's copy, and the filter program cache with its archive.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "FilterTestSupport.h"
#include "Main/DxArchive_.h"
#include "tools/archive/ArchiveWriter.h"

using namespace velk_filter_test;
using velk_graph_test::GraphFixture;
using ZiDaz::testing::RecordingBackend;

namespace {

constexpr int kGauss = static_cast<int>(ImageFilterMode::Gauss);

// Every shader-path pass the plan runs, with the surfaces it was given.
struct Pass {
    std::string name;
    int index;
    HandleValue source, destination;
};
std::vector<Pass> gPasses;
int gPassResult = 0;

template <typename... A>
FilterRunInfo* FirstArg(FilterRunInfo* info, A...) {
    return info;
}

struct Capture {
#define VELK_CAPTURE(R, Name, Params, Args, Default)                             \
    static R Name Params {                                                       \
        const FilterRunInfo* i = FirstArg Args;                                  \
        gPasses.push_back(Pass{#Name, i->PassIndex, i->Source, i->Destination}); \
        RecordingBackend::Instance().Record(GraphicsBackendKind, #Name, {});     \
        return gPassResult;                                                      \
    }
    VELK_FILTER_PASS_DISPATCHERS(VELK_CAPTURE)
#undef VELK_CAPTURE
};

// The draw-target lock of the device kinds: exposes texels whose value tells their graph
// position (0xFF000000 | y << 16 | x) and records the rectangle and piece asked for.
struct Lock {
    RECT rect;
    int piece;
};
std::vector<Lock> gLocks;
std::vector<BASEIMAGE> gLockImages;

int LockTexels(const RECT* rect, BASEIMAGE* out, HandleValue, GraphHandleRecord*, int, int, int,
               int option) {
    gLocks.push_back(Lock{*rect, option});
    BASEIMAGE image{};
    NewBaseImageArgb8(rect->right - rect->left, rect->bottom - rect->top, &image);
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const std::uint32_t v = 0xFF000000u | static_cast<std::uint32_t>(rect->top + y) << 16 |
                                    static_cast<std::uint32_t>(rect->left + x);
            std::memcpy(static_cast<std::uint8_t*>(image.Pixels) +
                            static_cast<std::ptrdiff_t>(y) * image.Pitch + x * 4,
                        &v, 4);
        }
    gLockImages.push_back(image);
    *out = image;
    return 0;
}

class FilterPassTest : public GraphFixture {
  protected:
    void TearDown() override {
        for (BASEIMAGE& image : gLockImages) DisposeBaseImage(&image);
        gLockImages.clear();
        gLocks.clear();
        gPasses.clear();
        gPassResult = 0;
        SetFilterProgramArchive(1, nullptr);
        SetFilterProgramArchive(2, nullptr);
        GraphFixture::TearDown();
    }
    // Starts on the recording back end as `kind` with usable shaders and the capturing passes.
    void StartKind(int kind, int maxTexture = 4096, int shaders = 1) {
        RecordingBackend& b = RecordingBackend::Instance();
        b.Install();
        b.graphOperations = true;
        b.startSucceeds[kind] = true;
        b.capabilities.MaxTextureSize = maxTexture;
        b.capabilities.PowerOfTwoTexturesOnly = 1;
        b.capabilities.ShadersUsable = shaders;
        SetUseHardwareDrawing(1);
        if (kind == 1) SelectDirect3D9(0);
        ASSERT_EQ(SetScreenMode(640, 480, 32, 0), 0);
        ASSERT_EQ(StartLibrary(), 0);
        ASSERT_EQ(GraphicsBackendKind, kind);
        ASSERT_EQ(GraphicsSystemState.ShadersUsable, shaders);
        table_ = *GetGraphicsBackendTable(kind);
#define VELK_FILL(R, Name, Params, Args, Default) table_.Name = &Capture::Name;
        VELK_FILTER_PASS_DISPATCHERS(VELK_FILL)
#undef VELK_FILL
        table_.LockDrawTarget = &LockTexels;
        SetGraphicsBackendTable(kind, &table_);
        b.calls.clear();
    }
    // A graph of the size, with textures no wider or higher than maxTexture.
    static HandleValue DeviceGraph(int w, int h, int maxTexture = 0) {
        const Pixels px = RandomPixels(w, h, static_cast<std::uint32_t>(w * 31 + h));
        BASEIMAGE image{};
        EXPECT_EQ(NewBaseImageArgb8(w, h, &image), 0);
        for (int y = 0; y < h; ++y)
            std::memcpy(static_cast<std::uint8_t*>(image.Pixels) +
                            static_cast<std::ptrdiff_t>(y) * image.Pitch,
                        px.p.data() + static_cast<std::size_t>(y) * w,
                        static_cast<std::size_t>(w) * 4);
        GraphCreateParams params{};
        InitGraphCreateParamsFromSettings(&params);
        params.MaxTextureSize = maxTexture;
        const HandleValue graph = AllocateHandle(DX_HANDLETYPE_GRAPH, 0, -1);
        EXPECT_GE(graph, 0);
        EXPECT_EQ(SetUpGraphFromBaseImage(&params, 0, graph, &image, nullptr, 1, 1, nullptr), 0);
        DisposeBaseImage(&image);
        return graph;
    }
    static std::pair<int, int> SizeOf(HandleValue graph) {
        int w = -1, h = -1;
        GetGraphSize(graph, &w, &h);
        return {w, h};
    }
    static int Count(const std::string& name) {
        return static_cast<int>(RecordingBackend::Instance().Named(name).size());
    }
    GraphicsBackendTable table_{};
};

TEST_F(FilterPassTest, PassCountsAndWorkSurfaceFlagByRendererModeAndHueMode) {
    RecordingBackend::Instance().Install();
    struct Case {
        int kind, shaders, blend, mode, hueMode;
        bool moved;
        int passes, workSurface;
    };
    const Case cases[] = {
        {0, 0, 0, kGauss, 0, false, 1, 0}, {0, 0, 0, kGauss, 0, true, 1, 1},
        {0, 0, 0, 19, 0, false, 1, 0},     {1, 1, 0, kGauss, 0, false, 2, 1},
        {1, 1, 0, 5, 0, false, 2, 1},      {1, 1, 0, 5, 1, false, 1, 1},
        {1, 1, 0, 23, 0, false, 2, 1},     {1, 1, 0, 23, 1, false, 1, 1},
        {1, 1, 0, 6, 0, false, 1, 1},      {1, 1, 0, 19, 0, false, 1, 1},
        {1, 1, 1, 5, 0, false, 1, 1},      {1, 0, 0, kGauss, 0, false, 1, 1},
        {2, 1, 0, kGauss, 0, false, 2, 1}, {2, 1, 0, 19, 0, false, 3, 1},
        {2, 1, 0, 5, 0, false, 1, 0},      {2, 1, 0, 5, 0, true, 1, 1},
        {2, 1, 1, 0, 0, false, 1, 0},      {2, 1, 1, 0, 0, true, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "kind " << c.kind << " mode " << c.mode << " hue "
                                          << c.hueMode << " blend " << c.blend);
        GraphicsBackendKind = c.kind;
        GraphicsSystemState.ShadersUsable = c.shaders;
        FilterRunInfo info{};
        info.Mode = c.mode;
        info.BlendFlag = c.blend;
        info.X1 = 4;
        info.DestX = c.moved ? 5 : 4;
        FilterParams params{};
        params.HsbHueMode = c.hueMode;
        ASSERT_EQ(Backend_Filter_Start(&info, &params), 0);
        EXPECT_EQ(info.PassCount, c.passes);
        EXPECT_EQ(info.UsesWorkSurface, c.workSurface);
    }
    // Direct3D 9 opens a scene and saves the drawing state once per filter; the finish restores.
    RecordingBackend::Instance().calls.clear();
    GraphicsBackendKind = 1;
    FilterRunInfo info{};
    FilterParams params{};
    Backend_Filter_Start(&info, &params);
    Backend_Filter_Finish();
    EXPECT_EQ(Count("FilterOpenScene"), 1);
    EXPECT_EQ(Count("FilterPushDrawState"), 1);
    EXPECT_EQ(Count("FilterPopDrawState"), 1);
    GraphicsBackendKind = 0;
    GraphicsSystemState.ShadersUsable = 0;
}

TEST_F(FilterPassTest, GaussOnDirect3D9GoesThroughWorkMemberZeroOfTheTextureSize) {
    StartKind(1);
    const HandleValue a = DeviceGraph(640, 480), b = CreateDrawableGraph(640, 480, 1);
    ASSERT_EQ(RunImageFilterToGraph(a, b, kGauss, 12, 300), 0);
    ASSERT_EQ(gPasses.size(), 2u);
    EXPECT_EQ(gPasses[0].name, "Filter_Gauss");
    EXPECT_EQ(gPasses[0].source, a);  // one texture at its origin: read directly
    const HandleValue work = gPasses[0].destination;
    EXPECT_EQ(SizeOf(work), std::make_pair(1024, 512));
    EXPECT_EQ(work, GetFilterWorkGraph(0, 8, 640, 480, 0));
    EXPECT_EQ(gPasses[1].source, work);
    EXPECT_EQ(gPasses[1].destination, b);
    EXPECT_EQ(Count("CopyGraphRect"), 0);
    EXPECT_EQ(Count("FilterDrawPiece"), 0);
    // The kernel the passes get is the one the software body uses, at the rounded width.
    EXPECT_EQ(GaussKernel.PixelWidth, 16);
}

TEST_F(FilterPassTest, InPlaceDownScaleWritesMemberOneAndIsCopiedBack) {
    StartKind(1);
    const HandleValue a = DeviceGraph(64, 64);
    RecordingBackend::Instance().transfers.clear();
    ASSERT_EQ(RunImageFilter(a, static_cast<int>(ImageFilterMode::DownScale), 2), 0);
    ASSERT_EQ(gPasses.size(), 1u);
    EXPECT_EQ(gPasses[0].source, a);
    EXPECT_EQ(gPasses[0].destination, GetFilterWorkGraph(0, 8, 64, 64, 1));
    // The source rectangle is cleared, then the reduced image is copied back.
    ASSERT_EQ(RecordingBackend::Instance().transfers.size(), 1u);
    EXPECT_EQ(RecordingBackend::Instance().transfers[0].graph, a);
    EXPECT_EQ(RecordingBackend::Instance().transfers[0].colorWidth, 64);
    EXPECT_EQ(Count("CopyGraphRect"), 1);
    // A failed pass leaves the work graph's stale content where it is.
    gPasses.clear();
    RecordingBackend::Instance().calls.clear();
    gPassResult = -1;
    EXPECT_EQ(RunImageFilter(a, static_cast<int>(ImageFilterMode::DownScale), 2), 0);
    EXPECT_EQ(gPasses.size(), 1u);
    EXPECT_EQ(Count("CopyGraphRect"), 0);
}

TEST_F(FilterPassTest, SsaoOnDirect3D11WritesTheDestinationInPassesZeroAndTwo) {
    StartKind(2);
    const HandleValue a = DeviceGraph(256, 128), b = CreateDrawableGraph(256, 128, 1);
    ASSERT_EQ(RunImageFilterToGraph(a, b, static_cast<int>(ImageFilterMode::Ssao), a, 1.0, 2.0, 3.0,
                                    4.0, 0xFFFFFF, 0.5),
              0);
    ASSERT_EQ(gPasses.size(), 3u);
    EXPECT_EQ(gPasses[0].destination, b);
    EXPECT_EQ(gPasses[1].destination, GetFilterWorkGraph(0, 8, 256, 128, 0));
    EXPECT_EQ(gPasses[1].source, b);
    EXPECT_EQ(gPasses[2].source, gPasses[1].destination);
    EXPECT_EQ(gPasses[2].destination, b);
    EXPECT_EQ(Count("CopyGraphRect"), 0);
}

TEST_F(FilterPassTest, APiecedGraphIsGatheredIntoOnePowerOfTwoWorkGraph) {
    StartKind(1);
    const HandleValue a = DeviceGraph(3000, 200, 2048), b = DeviceGraph(3000, 200, 2048);
    GraphHandleRecord* r = LookUpGraphRecord(a, 0);
    ASSERT_NE(r, nullptr);
    ASSERT_GT(r->DrawPieceCount, 1);
    ASSERT_EQ(RunImageFilterToGraph(a, b, kGauss, 8, 100), 0);
    ASSERT_EQ(gPasses.size(), 2u);
    // Pass 0 reads the gathered copy (member 1, since its output takes member 0).
    EXPECT_EQ(gPasses[0].source, GetFilterWorkGraph(0, 8, 3000, 200, 1));
    EXPECT_EQ(SizeOf(gPasses[0].source), std::make_pair(4096, 256));
    EXPECT_EQ(gPasses[0].destination, GetFilterWorkGraph(0, 8, 3000, 200, 0));
    EXPECT_EQ(Count("FilterSetRenderTarget"), 1);
    EXPECT_EQ(Count("FilterDrawPiece"), r->DrawPieceCount);
    // The destination cannot be drawn to in pieces either, so pass 1 writes member 1 and the end
    // step copies the result.
    EXPECT_EQ(gPasses[1].source, gPasses[0].destination);
    EXPECT_EQ(gPasses[1].destination, GetFilterWorkGraph(0, 8, 4096, 256, 1));
    EXPECT_EQ(Count("CopyGraphRect"), 1);
}

TEST_F(FilterPassTest, Direct3D11GathersWithStretchRect) {
    StartKind(2);
    const HandleValue a = DeviceGraph(3000, 200, 2048), b = DeviceGraph(4096, 256);
    GraphHandleRecord* r = LookUpGraphRecord(a, 0);
    ASSERT_EQ(RunImageFilterToGraph(a, b, static_cast<int>(ImageFilterMode::Invert)), 0);
    EXPECT_EQ(Count("FilterStretchRect"), r->DrawPieceCount);
    EXPECT_EQ(Count("FilterDrawPiece"), 0);
}

TEST_F(FilterPassTest, Direct3D9HasNoSsaoOrFloatColorScalePass) {
    StartKind(1);
    const HandleValue a = DeviceGraph(64, 64), b = DeviceGraph(64, 64);
    EXPECT_EQ(RunImageFilterToGraph(a, b, static_cast<int>(ImageFilterMode::Ssao), a, 1.0, 2.0, 3.0,
                                    4.0, 0, 0.5),
              0);
    EXPECT_EQ(RunImageFilterToGraph(a, b, static_cast<int>(ImageFilterMode::FloatColorScale), 1.0,
                                    1.0, 1.0, 1.0, 0.0, 0.0, 0.0, 0.0),
              0);
    EXPECT_TRUE(gPasses.empty());
}

TEST_F(FilterPassTest, AWorkGraphThatCannotBeMadeEndsThePassLoop) {
    StartKind(1);
    const HandleValue a = DeviceGraph(64, 64), b = DeviceGraph(64, 64);
    RecordingBackend::Instance().results = -1;  // texture creation fails
    EXPECT_EQ(RunImageFilterToGraph(a, b, kGauss, 8, 100), -1);
    EXPECT_TRUE(gPasses.empty());
    RecordingBackend::Instance().results = 0;
    EXPECT_NE(Log().find("Size:64x64"), std::string::npos);
    EXPECT_EQ(FilterWorkGraphExponent(131072), 17);
    EXPECT_EQ(FilterWorkGraphExponent(131073), -1);
    EXPECT_EQ(FilterWorkGraphExponent(1), 0);
    EXPECT_EQ(FilterWorkGraphExponent(3), 2);
}

TEST_F(FilterPassTest, ProgramsComeFromTheArchiveAndAreMadeAgainForANewDevice) {
    StartKind(1);
    // Programs stored as they are, so the code can be used straight from the archive's image.
    velk::archive::Node root;
    root.directory = true;
    for (const char* name : {"Gauss_08Pixel_PS.pso", "Mono.pso"}) {
        velk::archive::Node file;
        file.name = name;
        file.data = {1, 2, 3, 4};
        root.children.push_back(file);
    }
    velk::archive::WriteOptions options;
    options.scramble = false;
    options.compression = velk::archive::Compression::None;
    options.compressHead = false;
    std::vector<std::uint8_t> image = velk::archive::WriteArchive(root, options);
    ArchiveReader reader;
    InitArchiveReader(&reader);
    ASSERT_EQ(OpenArchiveInMemory(&reader, image.data(), image.size(), 0, 1, nullptr, nullptr), 0);
    SetFilterProgramArchive(1, &reader);

    const HandleValue gauss = GetFilterProgram(0, 1);
    EXPECT_GE(gauss, 0);
    EXPECT_EQ(FilterShaderCache[0], gauss);
    EXPECT_EQ(GetFilterProgram(0, 1), gauss);  // cached
    EXPECT_EQ(Count("CreateShaderObject"), 1);
    // A missing program is logged by name and tried again on the next request.
    EXPECT_EQ(GetFilterProgram(13, 4), -1);
    EXPECT_EQ(FilterShaderCache[13], -1);
    EXPECT_EQ(GetFilterProgram(13, 4), -1);
    const std::string log = Log();
    const std::string line = "DownScaleX2.pso";
    const std::size_t first = log.find(line);
    ASSERT_NE(first, std::string::npos);
    EXPECT_NE(log.find(line, first + 1), std::string::npos);
    // A new device forgets the programs; the next use makes them again.
    RebuildAfterDeviceLoss();
    EXPECT_EQ(FilterShaderCache[0], -1);
    EXPECT_GE(GetFilterProgram(0, 1), 0);
    EXPECT_EQ(Count("CreateShaderObject"), 2);
    // Deleting a program resets its entry.
    DeleteHandle(FilterShaderCache[0]);
    EXPECT_EQ(FilterShaderCache[0], -1);
    SetFilterProgramArchive(1, nullptr);
    EXPECT_EQ(GetFilterProgram(22, 0), -1);
    CloseArchiveReader(&reader);
}

TEST_F(FilterPassTest, ProgramNameTablesAgreeWhereTheyShareIndices) {
    for (int i = 0; i <= 16; ++i)
        EXPECT_STREQ(D3D9FilterProgramNames[i], D3D11FilterProgramNames[i]);
    for (int i = 23; i <= 42; ++i)
        EXPECT_STREQ(D3D9FilterProgramNames[i], D3D11FilterProgramNames[i]);
    EXPECT_STREQ(D3D9FilterProgramNames[1], "Gauss_08Pixel_PS.pso");
    EXPECT_STREQ(D3D9FilterProgramNames[42], "Lanczos3.pso");
    EXPECT_EQ(D3D9FilterProgramNames[43], nullptr);
    EXPECT_STREQ(D3D9FilterProgramNames[44 + 2], "BasBF_Multiple.pso");
    EXPECT_STREQ(D3D11FilterProgramNames[48 + 2], "BasBF_Multiple.pso");
    EXPECT_EQ(D3D9FilterProgramNames[44 + 1], nullptr);
    EXPECT_STREQ(D3D9FilterProgramNames[78], "RGBAMix_Base.pso");
    EXPECT_STREQ(D3D11FilterProgramNames[83], "RGBAMix_Base_PMA.pso");
    EXPECT_STREQ(D3D9FilterProgramNames[83], "A");
    EXPECT_STREQ(D3D11FilterProgramNames[84], "R");
    EXPECT_STREQ(D3D11FilterProgramNames[43], "SSAO.pso");
    EXPECT_STREQ(D3D11FilterProgramNames[46], "FloatColorScale.pso");
    EXPECT_STREQ(D3D9FilterProgramNames[17], "Hsb_RGB_TO_HSB.pso");
    EXPECT_STREQ(D3D11FilterProgramNames[17], "Hsb_HSB_BASE.pso");
    EXPECT_EQ(D3D11FilterProgramNames[21], nullptr);
}

TEST_F(FilterPassTest, SoftwareBodiesOnADeviceReadTexturePiecesAndDrawIntoTheScreen) {
    StartKind(1, 4096, 0);
    const HandleValue a = DeviceGraph(3000, 20, 2048);
    GraphHandleRecord* r = LookUpGraphRecord(a, 0);
    ASSERT_EQ(r->Image->PieceCount, 2);
    const int split = r->Image->Pieces[1].X;
    // A rectangle across the two pieces is put together from both.
    BASEIMAGE image{};
    const RECT across{split - 30, 2, split + 50, 12};
    ASSERT_EQ(ReadGraphRectToBaseImage(a, &image, &across), 0);
    ASSERT_EQ(gLocks.size(), 2u);
    EXPECT_EQ(gLocks[0].piece, 0);
    EXPECT_EQ(gLocks[0].rect.right, split);
    EXPECT_EQ(gLocks[1].piece, 1);
    EXPECT_EQ(gLocks[1].rect.left, split);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 80; ++x) {
            std::uint32_t v = 0;
            std::memcpy(&v,
                        static_cast<std::uint8_t*>(image.Pixels) +
                            static_cast<std::ptrdiff_t>(y) * image.Pitch + x * 4,
                        4);
            ASSERT_EQ(v, 0xFF000000u | static_cast<std::uint32_t>(2 + y) << 16 |
                             static_cast<std::uint32_t>(split - 30 + x));
        }
    DisposeBaseImage(&image);
    // Without shaders the blur runs once in software and is drawn onto the screen as a plain
    // copy, the caller's blend mode restored afterwards.
    SelectBlendMode(DX_BLEND_ADD, 100);
    RecordingBackend::Instance().calls.clear();
    gLocks.clear();
    ASSERT_EQ(RunImageFilterOnRect(a, DX_TARGET_BACK_SCREEN, 0, 0, 64, 20, 5, 6, kGauss, 8, 300),
              0);
    EXPECT_TRUE(gPasses.empty());
    EXPECT_EQ(gLocks.size(), 1u);
    EXPECT_EQ(Count("DrawGraphAtPoint"), 1);
    int mode = 0, param = 0;
    GetBlendMode(&mode, &param);
    EXPECT_EQ(mode, DX_BLEND_ADD);
    EXPECT_EQ(param, 100);
    // A graph destination receives the result through the texture upload.
    const HandleValue d = DeviceGraph(64, 20);
    RecordingBackend::Instance().transfers.clear();
    ASSERT_EQ(RunImageFilterOnRect(a, d, 0, 0, 64, 20, 0, 0, kGauss, 8, 300), 0);
    ASSERT_EQ(RecordingBackend::Instance().transfers.size(), 1u);
    EXPECT_EQ(RecordingBackend::Instance().transfers[0].graph, d);
}

// A graph-blend request through the dispatcher (blend ratio 128, the rectangle 0, 0, 8, 8).
int Blend(HandleValue source, HandleValue blend, HandleValue dest, int type, ...) {
    const int ints[4] = {0, 0, 0, 0};
    va_list args;
    va_start(args, type);
    const int result =
        RunImageFilterBase(1, source, blend, dest, 128, type, 0, 0, 8, 8, 0, 0, ints, 0, 0, args);
    va_end(args);
    return result;
}

TEST_F(FilterPassTest, TheBlendPathTakesTypesUpTo33AndNeedsAValidBlendGraph) {
    StartKind(1);
    const HandleValue a = DeviceGraph(16, 16), b = DeviceGraph(16, 16);
    const HandleValue d = CreateDrawableGraph(16, 16, 1);
    EXPECT_EQ(Blend(a, -1, d, 0), -1);
    EXPECT_EQ(Blend(a, b, d, 34), -1);
    EXPECT_EQ(Blend(a, b, d, -1), -1);
    // On the shader path an accepted request runs its one pass and returns 0.
    EXPECT_EQ(Blend(a, b, d, 33), 0);
    EXPECT_EQ(Blend(a, b, d, 18, 4, 5, 6, 3), 0);
    EXPECT_EQ(Count("FilterOpenScene"), 2);
}

// Distinct arguments for a dispatcher (pointers are never followed by the recording back end).
template <typename T>
T DistinctArg(int i) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<std::uintptr_t>(0x1000 * (i + 1)));
    } else if constexpr (std::is_same_v<T, float>) {
        return 0.5f + static_cast<float>(i);
    } else if constexpr (std::is_same_v<T, RECT>) {
        return RECT{i, i + 1, i + 2, i + 3};
    } else {
        return static_cast<T>(1000 + i);
    }
}

template <typename R, typename... A, std::size_t... I>
std::pair<int, std::vector<std::string>> CallWith(R (*f)(A...), std::index_sequence<I...>) {
    std::tuple<A...> args{DistinctArg<A>(static_cast<int>(I))...};
    std::vector<std::string> texts = ZiDaz::testing::ArgTexts(std::get<I>(args)...);
    return {static_cast<int>(std::apply(f, args)), texts};
}

template <typename R, typename... A>
std::pair<int, std::vector<std::string>> CallDistinct(R (*f)(A...)) {
    return CallWith(f, std::index_sequence_for<A...>{});
}

struct FilterDispatcher {
    std::string name;
    bool pass;
    std::function<std::pair<int, std::vector<std::string>>()> call;
};

std::vector<FilterDispatcher> FilterDispatchers() {
    std::vector<FilterDispatcher> out;
#define VELK_PASS_ROW(R, Name, Params, Args, Default) \
    out.push_back({#Name, true, [] { return CallDistinct(&Backend_##Name); }});
#define VELK_STEP_ROW(R, Name, Params, Args, Default) \
    out.push_back({#Name, false, [] { return CallDistinct(&Backend_##Name); }});
    VELK_FILTER_PASS_DISPATCHERS(VELK_PASS_ROW)
    VELK_FILTER_DEVICE_STEPS(VELK_STEP_ROW)
#undef VELK_PASS_ROW
#undef VELK_STEP_ROW
    return out;
}

TEST_F(FilterPassTest, DispatchersForwardToTheActiveKindAndKeepThePassResult) {
    RecordingBackend& b = RecordingBackend::Instance();
    b.Install();
    b.results = 5;
    for (int kind : {0, 1, 2}) {
        GraphicsBackendKind = kind;
        for (const FilterDispatcher& d : FilterDispatchers()) {
            SCOPED_TRACE(d.name + " kind " + std::to_string(kind));
            b.calls.clear();
            FilterLastPassResult = 77;
            auto [result, args] = d.call();
            const bool absent =
                kind == 0 ||
                (kind == 1 && (d.name == "Filter_Ssao" || d.name == "Filter_FloatColorScale"));
            if (absent) {
                EXPECT_TRUE(b.calls.empty());
                EXPECT_EQ(result, 0);
            } else {
                ASSERT_EQ(b.calls.size(), 1u);
                EXPECT_EQ(b.calls[0].kind, kind);
                EXPECT_EQ(b.calls[0].name, d.name);
                EXPECT_EQ(b.calls[0].args, args);
                EXPECT_EQ(result, 5);
            }
            if (d.pass)
                EXPECT_EQ(FilterLastPassResult, result);
            else
                EXPECT_EQ(FilterLastPassResult, 77);
        }
    }
    GraphicsBackendKind = 0;
}

}  // namespace
