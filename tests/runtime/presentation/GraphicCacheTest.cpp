#include <gtest/gtest.h>

#include <fstream>

#include "Main/DxGraphicsGraph.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/presentation/GraphicsTestSupport.h"
#include "runtime/shell/ReportCapture.h"

namespace {

using graphics_test::WriteBmp;
using shell_test::ReportCapture;

// Each 32 x 32 block of the image has its own colour.
std::uint32_t BlockColour(int x, int y) {
    return static_cast<std::uint32_t>((x / 32) * 60 + 10) << 16 |
           static_cast<std::uint32_t>((y / 32) * 50 + 20) << 8 | 0x40;
}

class GraphicCacheTest : public graphics_test::LibraryTest {
  protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_TRUE(WriteBmp(dir / "a.bmp", 96, 128, BlockColour));
        ASSERT_TRUE(WriteBmp(dir / "b.bmp", 64, 64, BlockColour));
    }
    void WriteJunk(const std::string& name) {
        std::ofstream(dir / name, std::ios::binary) << "not an image at all";
    }
    static int GraphWidth(std::int32_t graph) {
        int w = 0, h = 0;
        ZiDaz::GetGraphSize(graph, &w, &h);
        return w;
    }
};

TEST_F(GraphicCacheTest, TheFirstLoadFixesTheDivisionAndCellsAreViewsRowByRow) {
    ReportCapture capture;
    EXPECT_TRUE(LoadGraphicCached(4, 2, GraphicSizeKind::ByCount, "b.bmp"));
    EXPECT_TRUE(LoadGraphicCached(3, 4, GraphicSizeKind::ByCount, "b.bmp"));
    ASSERT_EQ(GraphicCache.entries.size(), 1u);
    const GraphicCacheEntry& b = GraphicCache.entries[0];
    EXPECT_EQ(b.divisionX, 4);
    EXPECT_EQ(b.divisionY, 2);
    EXPECT_EQ(b.handles.size(), 9u);

    // By cell size: 96 x 128 cut by 32 x 32 is 3 x 4 cells; cell (1, 2) is at position 8.
    ASSERT_TRUE(LoadGraphicCached(32, 32, GraphicSizeKind::ByCellSize, "a.bmp"));
    const GraphicCacheEntry* a = GraphicCache.Find("a.bmp");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(GraphicCache.nameMap.at("a.bmp"), 1);
    EXPECT_EQ(a->divisionX, 3);
    EXPECT_EQ(a->divisionY, 4);
    ASSERT_EQ(a->handles.size(), 13u);
    const std::int32_t cell = a->handles[5];
    ClearScreen(0);
    ASSERT_EQ(ZiDaz::PutGraph(0, 0, a->handles[1 + 2 * 3 + 1], 0), 0);
    EXPECT_EQ(ScreenPixel(5, 5), BlockColour(32, 64));
    EXPECT_EQ(ScreenPixel(31, 31), BlockColour(32, 64));
    EXPECT_EQ(ScreenPixel(32, 32), 0u);

    // An empty name needs nothing; a division of 0 keeps only the whole graph.
    EXPECT_TRUE(LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, ""));
    EXPECT_EQ(LoadGraphicUncached(1, 1, nullptr, false, ""), -1);
    std::filesystem::copy(dir / "b.bmp", dir / "c.bmp");
    EXPECT_TRUE(LoadGraphicCached(0, 3, GraphicSizeKind::ByCount, "c.bmp"));
    EXPECT_EQ(GraphicCache.Find("c.bmp")->handles.size(), 1u);
    EXPECT_EQ(GraphicCache.entries.size(), 3u);
    EXPECT_TRUE(capture.reports().empty());

    EXPECT_TRUE(ClearGraphicCache());
    EXPECT_TRUE(GraphicCache.entries.empty());
    EXPECT_TRUE(GraphicCache.nameMap.empty());
    EXPECT_FALSE(ZiDaz::IsGraphHandleValid(cell));
}

TEST_F(GraphicCacheTest, FilesThatAreMissingOrDoNotDecodeAreReportedWithoutAnEntry) {
    ReportCapture capture;
    EXPECT_FALSE(LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, "none.bmp"));
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0].first, "■LoadGraphic error:以下のファイルが見つかりません");
    EXPECT_NE(capture.reports()[0].second.find("none.bmp"), std::string::npos);

    struct Case {
        const char* name;
        bool movie;
    };
    for (const Case& c : {Case{"m.mp4", true}, Case{"m.OgV", true}, Case{"m.MPG", true},
                          Case{"m.avi", true}, Case{"m.png", false}, Case{"mp4", false}}) {
        SCOPED_TRACE(c.name);
        capture.reports().clear();
        WriteJunk(c.name);
        EXPECT_FALSE(LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, c.name));
        ASSERT_EQ(capture.reports().size(), 1u);
        EXPECT_EQ(capture.reports()[0].first,
                  c.movie ? "■LoadGraphic error:動画ファイルは読み込めません"
                          : "【アクセスエラー】ファイルにアクセスできませんでした。 ");
        const shell_test::CapturedReport& r = capture.reports()[0];
        EXPECT_EQ(c.movie ? r.second : r.third, c.name);
    }
    EXPECT_TRUE(GraphicCache.entries.empty());
}

TEST_F(GraphicCacheTest, ReloadKeepsOrRenewsHandlesAndGoesOnPastFilesThatFail) {
    ASSERT_TRUE(LoadGraphicCached(32, 32, GraphicSizeKind::ByCellSize, "a.bmp"));
    ASSERT_TRUE(LoadGraphicCached(2, 2, GraphicSizeKind::ByCount, "b.bmp"));
    const auto before = GraphicCache.entries;
    ReportCapture capture;
    EXPECT_TRUE(ReloadCachedGraphics(0));
    EXPECT_EQ(GraphicCache.entries[0].handles, before[0].handles);
    EXPECT_EQ(GraphicCache.entries[1].handles, before[1].handles);

    EXPECT_TRUE(ReloadCachedGraphics(1));
    for (std::size_t i = 0; i < 2; ++i) {
        const GraphicCacheEntry& e = GraphicCache.entries[i];
        EXPECT_EQ(e.divisionX, before[i].divisionX);
        EXPECT_EQ(e.handles.size(), before[i].handles.size());
        EXPECT_FALSE(ZiDaz::IsGraphHandleValid(before[i].handles[0]));
        EXPECT_EQ(GraphWidth(e.handles[1]), GraphWidth(e.handles[0]) / e.divisionX);
    }
    EXPECT_TRUE(capture.reports().empty());

    // "a.bmp" goes missing and "b.bmp" no longer decodes: both are reported, and a later entry
    // is still reloaded after the first failure.
    std::filesystem::copy(dir / "b.bmp", dir / "c.bmp");
    ASSERT_TRUE(LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, "c.bmp"));
    std::filesystem::remove(dir / "a.bmp");
    WriteJunk("b.bmp");
    const std::int32_t oldC = GraphicCache.Find("c.bmp")->handles[0];
    EXPECT_FALSE(ReloadCachedGraphics(1));
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_NE(capture.reports()[0].first.find("■ReLoadGraphic error"), std::string::npos);
    EXPECT_NE(capture.reports()[1].first.find("b.bmp"), std::string::npos);
    const GraphicCacheEntry* b = GraphicCache.Find("b.bmp");
    EXPECT_EQ(b->handles, std::vector<std::int32_t>(5, -1));
    const GraphicCacheEntry* c = GraphicCache.Find("c.bmp");
    EXPECT_NE(c->handles[0], oldC);
    EXPECT_TRUE(ZiDaz::IsGraphHandleValid(c->handles[0]));
}

TEST_F(GraphicCacheTest, TheUncachedLoaderFillsTheCallersListOnlyForARealDivision) {
    for (const bool testPlay : {false, true}) {
        TestPlay = testPlay;
        ReportCapture capture;
        std::vector<std::int32_t> list{7};
        const std::int32_t whole = LoadGraphicUncached(1, 1, &list, false, "b.bmp");
        EXPECT_NE(whole, -1);
        EXPECT_EQ(list, std::vector<std::int32_t>{7});
        const std::int32_t divided = LoadGraphicUncached(2, 2, &list, false, "b.bmp");
        EXPECT_EQ(divided, list[0]);
        EXPECT_EQ(list.size(), 5u);
        EXPECT_EQ(GraphWidth(list[4]), 32);
        EXPECT_TRUE(GraphicCache.entries.empty());
        EXPECT_TRUE(capture.reports().empty());

        // Quiet keeps a missing file unreported, never a file that does not decode.
        EXPECT_EQ(LoadGraphicUncached(1, 1, nullptr, true, "none.bmp"), -1);
        EXPECT_TRUE(capture.reports().empty());
        EXPECT_EQ(LoadGraphicUncached(1, 1, nullptr, false, "none.bmp"), -1);
        EXPECT_EQ(capture.reports().size(), 1u);
        WriteJunk("j.png");
        EXPECT_EQ(LoadGraphicUncached(2, 2, &list, true, "j.png"), -1);
        ASSERT_EQ(capture.reports().size(), 2u);
        EXPECT_EQ(capture.reports()[1].first,
                  "【ERROR】 ファイル[ j.png ]が正常に読み込めませんでした。");
        EXPECT_EQ(list.size(), 5u);
    }
}

TEST(MovieFileNameTest, FourMovieExtensionsInAnyCaseAfterMoreThanThreeBytes) {
    EXPECT_TRUE(IsMovieFileName("a.mp4"));
    EXPECT_TRUE(IsMovieFileName(".Avi"));
    EXPECT_TRUE(IsMovieFileName("x/y.oGv"));
    EXPECT_TRUE(IsMovieFileName("clip.MPG"));
    EXPECT_FALSE(IsMovieFileName("mp4"));
    EXPECT_FALSE(IsMovieFileName("a.mp3"));
    EXPECT_FALSE(IsMovieFileName("amp4"));
    EXPECT_FALSE(IsMovieFileName("a.mp4 "));
}

}  // namespace
