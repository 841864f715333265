// Graph handles and images: the cutting of images into texture pieces, the storage formats, the
// draw pieces of derived graphs, deletion with its kept graphs, the size queries, and graphs as
// draw targets on the device and in software.
#include <gtest/gtest.h>

#include "GraphTestSupport.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

std::vector<int> Sizes(int n, int max, int block) {
    int out[300];
    int count = ListTextureSizes(n, max, block, out, 300);
    return count < 0 ? std::vector<int>{} : std::vector<int>(out, out + count);
}

class GraphTest : public GraphFixture {};

TEST_F(GraphTest, TextureEdgesAreCutByTheDeviceRules) {
    GraphicsSystemStateData& g = GraphicsSystemState;
    struct Case {
        const char* what;
        int powerOfTwo, conditional, n, max, block;
        std::vector<int> want;
    } cases[] = {
        {"5000 on a 4096 power-of-two device", 1, 0, 5000, 4096, 0, {4096, 1024}},
        {"4100 on a 4096 power-of-two device", 1, 0, 4100, 4096, 0, {4096, 4}},
        {"exactly the maximum", 1, 0, 4096, 4096, 0, {4096}},
        {"one texel more", 1, 0, 4097, 4096, 0, {4096, 1}},
        {"5000 where any size is allowed", 0, 0, 5000, 8192, 0, {5000}},
        {"any size allowed conditionally", 1, 1, 5000, 8192, 0, {5000}},
        {"a 10-pixel block edge", 0, 0, 10, 4096, 1, {12}},
        {"a small power-of-two edge", 1, 0, 100, 4096, 0, {128}},
        {"a power of two stays", 1, 0, 64, 4096, 0, {64}},
        {"below the block size", 1, 0, 3, 4096, 1, {4}},
        {"twice the largest power of two below fits", 1, 0, 5000, 8192, 0, {8192}},
        {"three pieces", 1, 0, 3000, 2048, 0, {2048, 1024}},
        {"an edge longer than the any-size maximum", 0, 0, 5000, 4096, 0, {4096, 1024}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g.PowerOfTwoTexturesOnly = c.powerOfTwo;
        g.NonPowerOfTwoConditional = c.conditional;
        EXPECT_EQ(Sizes(c.n, c.max, c.block), c.want);
    }
    g.PowerOfTwoTexturesOnly = 0;
    g.NonPowerOfTwoConditional = 0;
}

TEST_F(GraphTest, FormatIndexFollowsTheDescription) {
    struct Case {
        GraphFormatDesc desc;
        int index;
    };
    auto d = [](int bits, int alpha, int key, int drawable, int channels, int perChannel, int fl,
                int block) {
        GraphFormatDesc f{};
        f.ColorBits = static_cast<std::uint8_t>(bits);
        f.Alpha = static_cast<std::uint8_t>(alpha);
        f.KeyAlpha = static_cast<std::uint8_t>(key);
        f.Drawable = static_cast<std::uint8_t>(drawable);
        f.ChannelCount = static_cast<std::uint8_t>(channels);
        f.BitsPerChannel = static_cast<std::uint8_t>(perChannel);
        f.Float = static_cast<std::uint8_t>(fl);
        f.BlockKind = static_cast<std::uint8_t>(block);
        return f;
    };
    Case cases[] = {
        {d(32, 0, 0, 0, 0, 0, 0, 1), 12},  {d(32, 0, 0, 0, 0, 0, 0, 5), 16},
        {d(16, 0, 0, 0, 0, 0, 0, 0), 6},   {d(16, 1, 0, 0, 0, 0, 0, 0), 8},
        {d(16, 0, 1, 0, 0, 0, 0, 0), 10},  {d(32, 0, 0, 0, 0, 0, 0, 0), 7},
        {d(32, 1, 0, 0, 0, 0, 0, 0), 9},   {d(32, 0, 1, 0, 0, 0, 0, 0), 11},
        {d(16, 0, 0, 1, 0, 0, 0, 0), 35},  {d(32, 0, 0, 1, 0, 0, 0, 0), 36},
        {d(32, 1, 0, 1, 0, 0, 0, 0), 37},  {d(8, 0, 0, 0, 0, 0, 0, 0), 1},
        {d(8, 1, 0, 0, 0, 0, 0, 0), 3},    {d(4, 0, 1, 0, 0, 0, 0, 0), 4},
        {d(32, 0, 0, 0, 1, 8, 0, 0), 27},  {d(32, 0, 0, 1, 1, 8, 0, 0), 41},
        {d(32, 0, 0, 0, 2, 32, 1, 0), 34}, {d(128, 0, 0, 0, 4, 32, 1, 0), 26},
        {d(64, 0, 0, 0, 4, 16, 0, 0), 24},
    };
    for (const Case& c : cases) EXPECT_EQ(ComputeTextureFormatIndex(&c.desc), c.index);
}

TEST_F(GraphTest, SoftwareGraphsAreScreenFormatViewsAndDrawable) {
    StartSoftware(16);
    HandleValue g = CreateEmptyGraph(30, 20, 0);
    ASSERT_GE(g, 0);
    GraphHandleRecord* r = LookUpGraphRecord(g, 0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Image->FormatIndex, 51);
    EXPECT_EQ(r->Image->Format.SoftwareImage, 1);
    EXPECT_EQ(r->Image->Format.Drawable, 1);
    EXPECT_EQ(r->View.Width, 30);
    EXPECT_EQ(r->View.Shared, r->Image->Image.Shared);
    int w = 0, h = 0;
    EXPECT_EQ(GetGraphSize(g, &w, &h), 0);
    EXPECT_EQ(w, 30);
    EXPECT_EQ(h, 20);
    EXPECT_EQ(GetGraphTextureSize(g, &w, &h), 0);
    EXPECT_EQ(w, 30);
    // No alpha drawable graph without a device, before anything is made.
    int count = GetGraphHandleCount();
    EXPECT_EQ(CreateDrawableGraph(8, 8, 1), -1);
    EXPECT_EQ(GetGraphHandleCount(), count);
    // A blend graph is an 8-bit single-channel image.
    GraphCreateParams p;
    InitGraphCreateParamsFromSettings(&p);
    p.BlendImage = 1;
    HandleValue blend = CreateBlankGraph(&p, 8, 8, 0, 0, 8, 0, nullptr);
    ASSERT_GE(blend, 0);
    EXPECT_EQ(LookUpGraphRecord(blend, 0)->Image->Image.Shared->ColorType, 2u);
    EXPECT_EQ(LookUpGraphRecord(blend, 0)->Image->Format.Drawable, 0);
    EXPECT_EQ(SetDrawTarget(blend), -1);
    // Bad handles.
    EXPECT_EQ(GetGraphSize(g + 1, &w, &h), -1);
    EXPECT_EQ(DestroyGraph(g), 0);
    EXPECT_EQ(DestroyGraph(g), -1);
    EXPECT_EQ(IsGraphHandleValid(g), 0);
    EXPECT_EQ(IsGraphHandleValid(blend), 1);
    EXPECT_EQ(GetGraphSize(g, &w, &h), -1);
}

TEST_F(GraphTest, TheScreenHandlesAnswerTheRequestedScreenSize) {
    StartSoftware(32);
    int count = GetGraphHandleCount();
    int w = 0, h = 0;
    EXPECT_EQ(GetGraphSize(DX_TARGET_BACK_SCREEN, &w, &h), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_EQ(GetGraphSize(DX_TARGET_FRONT_SCREEN, nullptr, &h), 0);
    EXPECT_EQ(GetGraphTextureSize(DX_TARGET_BACK_SCREEN, &w, &h), -1);
    EXPECT_EQ(GetGraphHandleCount(), count);
}

TEST_F(GraphTest, ASoftwareGraphIsADrawTargetThatClearsAndClipsToItself) {
    StartSoftware(32);
    HandleValue g = CreateEmptyGraph(40, 30, 0);
    ASSERT_GE(g, 0);
    ASSERT_EQ(SetDrawTarget(g), 0);
    EXPECT_EQ(GetDrawTarget(), g);
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, GetGraphMemImg(g));
    RECT area;
    GetDrawClipRect(&area);
    EXPECT_EQ(area.right, 40);
    EXPECT_EQ(area.bottom, 30);
    EXPECT_EQ(SetDrawClipRect(RECT{-5, -5, 100, 100}), 0);
    GetDrawClipRect(&area);
    EXPECT_EQ(area.left, 0);
    EXPECT_EQ(area.right, 40);
    EXPECT_EQ(area.bottom, 30);
    SetBackgroundColor(10, 20, 30, 0);
    ClearDrawTarget(nullptr);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 39, 29), 0x0A141Eu);
    // Deleting the target makes the front screen the target again.
    DestroyGraph(g);
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
    EXPECT_EQ(GraphicsSystemState.SoftwareDrawDestination, &GraphicsSystemState.ScreenImage);
    EXPECT_EQ(SetDrawTarget(g), -1);
}

TEST_F(GraphTest, DeviceGraphsAreCutIntoPiecesAndDerivedRectanglesFindTheirs) {
    StartDevice(4096, true);
    RecordingBackend& b = RecordingBackend::Instance();
    b.calls.clear();
    HandleValue g = CreateEmptyGraph(5000, 16, 0);
    ASSERT_GE(g, 0);
    ASSERT_EQ(b.Named("CreateImageTextures").size(), 1u);
    GraphHandleRecord* r = LookUpGraphRecord(g, 0);
    GraphImage* image = r->Image;
    ASSERT_EQ(image->PieceCount, 2);
    EXPECT_EQ(image->Pieces[0].TextureWidth, 4096);
    EXPECT_EQ(image->Pieces[1].X, 4096);
    EXPECT_EQ(image->Pieces[1].TextureWidth, 1024);
    EXPECT_EQ(image->Pieces[1].UsedWidth, 904);
    EXPECT_EQ(image->Pieces[0].TextureHeight, 16);
    EXPECT_EQ(r->DrawPieceCount, 2);
    EXPECT_EQ(image->Format.DeviceImage, 1);
    EXPECT_EQ(image->FormatIndex, 11);  // 32-bit screen, key-alpha format
    // Wholly inside the second piece: one draw piece, its texel counted from that piece.
    HandleValue inside = DeriveGraphFromRect(4100, 2, 100, 10, g);
    ASSERT_GE(inside, 0);
    GraphHandleRecord* d = LookUpGraphRecord(inside, 0);
    EXPECT_EQ(d->Image, image);
    EXPECT_EQ(image->RefCount, 2);
    ASSERT_EQ(d->DrawPieceCount, 1);
    EXPECT_EQ(d->DrawPieces[0].Piece, &image->Pieces[1]);
    EXPECT_EQ(d->DrawPieces[0].TexX, 4);
    EXPECT_EQ(d->DrawPieces[0].TexY, 2);
    EXPECT_EQ(d->DrawPieces[0].Width, 100);
    EXPECT_FLOAT_EQ(d->DrawPieces[0].Corners[3][2], 104.0f / 1024.0f);
    EXPECT_EQ(d->DrawPieces[0].AboveDiagonal[0], 1);
    EXPECT_EQ(d->DrawPieces[0].AboveDiagonal[1], 1);
    EXPECT_EQ(d->DrawPieces[0].AboveDiagonal[2], 1);
    EXPECT_EQ(d->DrawPieces[0].AboveDiagonal[3], 0);
    // Across the seam: two.
    HandleValue across = DeriveGraphFromRect(4000, 0, 200, 16, g);
    ASSERT_GE(across, 0);
    d = LookUpGraphRecord(across, 0);
    ASSERT_EQ(d->DrawPieceCount, 2);
    EXPECT_EQ(d->DrawPieces[0].Width, 96);
    EXPECT_EQ(d->DrawPieces[1].X, 96);
    EXPECT_EQ(d->DrawPieces[1].TexX, 0);
    EXPECT_EQ(d->DrawPieces[1].Width, 104);
    // A rectangle that starts outside is refused; one that runs over is clipped.
    EXPECT_EQ(DeriveGraphFromRect(5000, 0, 10, 10, g), -1);
    HandleValue clipped = DeriveGraphFromRect(4990, 10, 50, 50, g);
    int w, h;
    GetGraphSize(clipped, &w, &h);
    EXPECT_EQ(w, 10);
    EXPECT_EQ(h, 6);
    // The image lives while any graph shows it.
    b.calls.clear();
    DestroyGraph(g);
    EXPECT_TRUE(b.Named("ReleaseImageTextures").empty());
    DestroyGraph(inside);
    DestroyGraph(across);
    DestroyGraph(clipped);
    EXPECT_EQ(b.Named("ReleaseImageTextures").size(), 1u);
}

TEST_F(GraphTest, SquareOnlyDevicesCutPiecesIntoSquares) {
    StartDevice(4096, true, true);
    HandleValue g = CreateEmptyGraph(100, 30, 0);
    ASSERT_GE(g, 0);
    GraphImage* image = LookUpGraphRecord(g, 0)->Image;
    ASSERT_EQ(image->PieceCount, 4);  // 128 x 32 cut into four 32 x 32
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image->Pieces[i].TextureWidth, 32);
        EXPECT_EQ(image->Pieces[i].X, 32 * i);
    }
    EXPECT_EQ(image->Pieces[3].UsedWidth, 4);
    EXPECT_EQ(LookUpGraphRecord(g, 0)->DrawPieceCount, 4);
}

TEST_F(GraphTest, ImagesNeedingMoreThan256PiecesAreRefused) {
    StartDevice(16, true);
    int count = GetGraphHandleCount();
    EXPECT_EQ(CreateEmptyGraph(16 * 17, 16 * 16, 0), -1);
    EXPECT_EQ(GetGraphHandleCount(), count);
    EXPECT_NE(Log().find("グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました"),
              std::string::npos);
    HandleValue g = CreateEmptyGraph(16 * 16, 16 * 16, 0);
    ASSERT_GE(g, 0);
    EXPECT_EQ(LookUpGraphRecord(g, 0)->Image->PieceCount, 256);
    // The record grew to hold every draw piece.
    EXPECT_EQ(LookUpGraphRecord(g, 0)->DrawPieceCount, 256);
    EXPECT_EQ(LookUpGraphRecord(g, 0)->DrawPieces[255].Piece->X, 240);
}

TEST_F(GraphTest, ADrawableDeviceGraphIsATargetAndItsDeletionFallsBackToTheFrontScreen) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    HandleValue g = CreateDrawableGraph(64, 32, 1);
    ASSERT_GE(g, 0);
    GraphImage* image = LookUpGraphRecord(g, 0)->Image;
    EXPECT_EQ(image->Format.Drawable, 1);
    EXPECT_EQ(image->Format.Alpha, 1);
    EXPECT_EQ(image->DepthBuffer, 1);
    EXPECT_EQ(image->FormatIndex, 37);
    b.calls.clear();
    ASSERT_EQ(SetDrawTarget(g), 0);
    auto applied = b.Named("ApplyDrawTarget");
    ASSERT_EQ(applied.size(), 1u);
    EXPECT_EQ(applied[0].args[0], std::to_string(g));
    EXPECT_EQ(applied[0].args[3],
              ZiDaz::testing::ArgText(static_cast<const void*>(LookUpGraphRecord(g, 0))));
    int w, h;
    GetDrawTargetSize(g, &w, &h);
    EXPECT_EQ(w, 64);
    ClearDrawTarget(nullptr);
    EXPECT_EQ(b.Named("ClearDrawTarget").size(), 1u);
    DestroyGraph(g);
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
    // A non-drawable graph is no target; neither is a drawable one needing two textures.
    HandleValue plain = CreateEmptyGraph(8, 8, 0);
    EXPECT_EQ(SetDrawTarget(plain), -1);
    EXPECT_EQ(GetDrawTarget(), DX_TARGET_FRONT_SCREEN);
    GraphicsSystemState.MaxTextureSize = 64;
    EXPECT_EQ(CreateDrawableGraph(100, 10, 0), -1);
}

TEST_F(GraphTest, DeleteAllKeepsGraphsMadeUnderTheSettingButTheEndTakesThem) {
    StartSoftware(32);
    HandleValue normal = CreateEmptyGraph(4, 4, 0);
    SetDeleteAllIncludesNewGraphs(0);
    EXPECT_EQ(GetDeleteAllIncludesNewGraphs(), 0);
    HandleValue survivor = CreateEmptyGraph(4, 4, 0);
    HandleValue derived = DeriveGraphFromRect(1, 1, 2, 2, survivor);
    SetDeleteAllIncludesNewGraphs(1);
    static int survivorDeleted = 0;
    survivorDeleted = 0;
    SetGraphDeleteFlag(survivor, &survivorDeleted);
    EXPECT_EQ(DeleteAllGraphs(), 0);
    EXPECT_EQ(IsGraphHandleValid(normal), 0);
    EXPECT_EQ(IsGraphHandleValid(survivor), 1);
    EXPECT_EQ(IsGraphHandleValid(derived), 1);
    EXPECT_EQ(survivorDeleted, 0);
    // A graph kept always (a font page) goes with the type; it may even be the draw target.
    GraphCreateParams kept;
    InitGraphCreateParamsFromSettings(&kept);
    kept.KeptAlways = 1;
    HandleValue page = CreateBlankGraph(&kept, 16, 16, 0, 0, 8, 0, nullptr);
    ASSERT_GE(page, 0);
    DeleteAllGraphs();
    EXPECT_EQ(IsGraphHandleValid(page), 1);
    ASSERT_EQ(SetDrawTarget(page), 0);
    int before = GetTrackedMemoryCount();
    EndLibrary();
    EXPECT_EQ(survivorDeleted, 1);
    EXPECT_LT(GetTrackedMemoryCount(), before);
}

TEST_F(GraphTest, InternalGraphsGoWithDeleteInternalGraphs) {
    StartSoftware(32);
    HandleValue white = GetWhiteGraph();
    ASSERT_GE(white, 0);
    EXPECT_EQ(GetWhiteGraph(), white);
    EXPECT_TRUE(IsMemImgValid(GetGraphMemImg(white)));
    HandleValue other = CreateEmptyGraph(4, 4, 0);
    EXPECT_EQ(DeleteInternalGraphs(), 0);
    EXPECT_EQ(IsGraphHandleValid(white), 0);
    EXPECT_EQ(IsGraphHandleValid(other), 1);
    HandleValue again = GetWhiteGraph();
    EXPECT_GE(again, 0);
    EXPECT_EQ(IsGraphHandleValid(again), 1);
}

TEST_F(GraphTest, FillGraphPaintsTheWholeGraph) {
    StartSoftware(32);
    HandleValue g = CreateEmptyGraph(10, 10, 0);
    EXPECT_EQ(FillGraph(g, 300, 128, -5, 255), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 9, 9), 0xFF8000u);
    EXPECT_EQ(FillGraph(g + 1, 0, 0, 0, 0), -1);
}

TEST_F(GraphTest, TheGraphLogLineNamesSizePositionAndFile) {
    StartSoftware(32);
    HandleValue g = CreateEmptyGraph(12, 7, 0);
    HandleValue d = DeriveGraphFromRect(3, 2, 4, 4, g);
    LogGraphHandle(LookupHandleRecord(d));
    char expected[128];
    std::snprintf(expected, sizeof expected, "Handle:0x%08x Size:4x4 UsePos:3,2 File:None", d);
    EXPECT_NE(Log().find(expected), std::string::npos);
}

}  // namespace
