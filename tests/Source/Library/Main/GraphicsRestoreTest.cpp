// Divided graphs and the refill of every graph after a device loss: grids cut from one image,
// their mirrored form, refills and failures; what each graph remembers, how often a file is read
// again, and graphs whose source is gone.
#include <gtest/gtest.h>

#include "GraphTestSupport.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

class GraphRestoreTest : public GraphFixture {
  protected:
    // Each cell of a grid equals its part of the decode (mirrored within the cell when asked).
    static void ExpectCells(const std::vector<HandleValue>& cells,
                            const std::vector<std::uint8_t>& rgb, int imageWidth, int columns,
                            int cellWidth, int cellHeight, bool mirrored = false) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            SCOPED_TRACE("cell " + std::to_string(i));
            const MEMIMG* view = GetGraphMemImg(cells[i]);
            ASSERT_NE(view, nullptr);
            ASSERT_EQ(view->Width, cellWidth);
            ASSERT_EQ(view->Height, cellHeight);
            const int ox = static_cast<int>(i) % columns * cellWidth;
            const int oy = static_cast<int>(i) / columns * cellHeight;
            int bad = 0;
            for (int y = 0; y < cellHeight; ++y)
                for (int x = 0; x < cellWidth; ++x) {
                    int sx = ox + (mirrored ? cellWidth - 1 - x : x);
                    std::size_t k = (static_cast<std::size_t>(oy + y) * imageWidth + sx) * 3;
                    if (MemImgPixel(*view, x, y) !=
                        ScreenFormatOf(rgb[k], rgb[k + 1], rgb[k + 2], 32))
                        ++bad;
                }
            EXPECT_EQ(bad, 0);
        }
    }
};

TEST_F(GraphRestoreTest, A128CellGridSharesOneImageAndIsReadOnceOnRestore) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("sheet.bmp"), 128, 128, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("sheet.bmp")})[0];
    std::vector<HandleValue> cells(128, -7);
    int before = GetGraphHandleCount();
    ASSERT_EQ(LoadDivGraphFromImageFile("sheet.bmp", 128, 16, 8, 8, 16, cells.data(), 1, 0), 0);
    EXPECT_EQ(GetGraphHandleCount(), before + 128);  // the base graph is gone
    GraphImage* image = LookUpGraphRecord(cells[0], 0)->Image;
    EXPECT_EQ(image->RefCount, 128);
    const GraphRestoreSource* source = LookUpGraphRecord(cells[0], 0)->Restore;
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->RefCount, 128);
    for (HandleValue c : cells) {
        EXPECT_EQ(LookUpGraphRecord(c, 0)->Image, image);
        EXPECT_EQ(LookUpGraphRecord(c, 0)->Restore, source);
    }
    ExpectCells(cells, rgb, 128, 16, 8, 16);
    CountingStreams& streams = CountingStreams::Instance();
    streams.Install();
    WipeGraphImage(cells[0]);
    EXPECT_EQ(RunGraphicsRestore(), 0);
    EXPECT_EQ(streams.OpensOf("sheet.bmp"), 1);
    ExpectCells(cells, rgb, 128, 16, 8, 16);
    std::string log = Log();
    EXPECT_NE(log.find("グラフィックを復帰します"), std::string::npos);
    EXPECT_NE(log.find("グラフィックの復帰が完了しました"), std::string::npos);
    // Deleting one cell keeps the shared source for the others.
    EXPECT_EQ(DestroyGraph(cells[5]), 0);
    EXPECT_EQ(source->RefCount, 127);
    cells.erase(cells.begin() + 5);
    WipeGraphImage(cells[0]);
    RestoreAllGraphs();
    std::vector<HandleValue> firstFive(cells.begin(), cells.begin() + 5);
    ExpectCells(firstFive, rgb, 128, 16, 8, 16);
}

TEST_F(GraphRestoreTest, AGridWiderThanItsImageFailsAtItsSeventeenthCell) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("sheet.bmp"), 128, 128, "BMP"));
    int before = GetGraphHandleCount();
    std::vector<HandleValue> cells(136, 5);
    EXPECT_EQ(LoadDivGraphFromImageFile("sheet.bmp", 136, 17, 8, 8, 16, cells.data(), 1, 0), -1);
    for (HandleValue c : cells) EXPECT_EQ(c, -1);
    EXPECT_EQ(GetGraphHandleCount(), before);
    std::string log = Log();
    EXPECT_NE(
        log.find("グラフィックの分割に失敗しました。分割後の総サイズが分割元の画像よりも大きい"
                 "指定になってしまっています。 in CreateDivGraphFromGraphImage"),
        std::string::npos);
    EXPECT_NE(log.find("の分割読み込みに失敗しました"), std::string::npos);
    // Counts that no grid can hold fail before anything is read.
    EXPECT_EQ(LoadDivGraphFromImageFile("sheet.bmp", 0, 16, 8, 8, 16, cells.data(), 1, 0), -1);
    EXPECT_EQ(LoadDivGraphFromImageFile("sheet.bmp", 129, 16, 8, 8, 16, cells.data(), 1, 0), -1);
    EXPECT_EQ(LoadDivGraphFromImageFile("none.bmp", 4, 2, 2, 8, 8, cells.data(), 1, 0), -1);
    EXPECT_NE(Log().find("none.bmp のロードに失敗しました"), std::string::npos);
    EXPECT_EQ(GetGraphHandleCount(), before);
}

TEST_F(GraphRestoreTest, AMirroredGridShowsEachCellsOwnPartMirrored) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("m.bmp"), 32, 16, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("m.bmp")})[0];
    std::vector<HandleValue> cells(8);
    ASSERT_EQ(LoadDivGraphFromImageFile("m.bmp", 8, 4, 2, 8, 8, cells.data(), 1, 1), 0);
    ExpectCells(cells, rgb, 32, 4, 8, 8, true);
    WipeGraphImage(cells[0]);
    RestoreAllGraphs();
    ExpectCells(cells, rgb, 32, 4, 8, 8, true);
}

TEST_F(GraphRestoreTest, ARefillPutsEveryCellBack) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("r.bmp"), 32, 16, "BMP"));
    std::vector<std::uint8_t> bytes = velk_test::ReadBytes(Path("r.bmp"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("r.bmp")})[0];
    for (int mirror : {0, 1}) {
        SCOPED_TRACE(mirror ? "mirrored" : "plain");
        std::vector<HandleValue> cells(8);
        ASSERT_EQ(CreateDivGraphFromImageInMemory(bytes.data(), static_cast<int>(bytes.size()), 8,
                                                  4, 2, 8, 8, cells.data(), 1, mirror, nullptr, 0),
                  0);
        std::vector<HandleValue> kept = cells;
        WipeGraphImage(cells[0]);
        LoadGraphParams params;
        InitLoadGraphParams(&params);
        ASSERT_EQ(LoadDivGraphFromMemoryWithParams(
                      &params, 1, bytes.data(), static_cast<int>(bytes.size()), 8, 4, 2, 0, 8, 8.0f,
                      8, 8.0f, cells.data(), 1, mirror, nullptr, 0, 0, nullptr),
                  0);
        EXPECT_EQ(cells, kept);
        ExpectCells(cells, rgb, 32, 4, 8, 8, mirror != 0);
        // A refill from a smaller image is refused and transfers nothing.
        ASSERT_TRUE(WritePatternImage(Path("small.bmp"), 24, 16, "BMP"));
        std::vector<std::uint8_t> small = velk_test::ReadBytes(Path("small.bmp"));
        EXPECT_EQ(LoadDivGraphFromMemoryWithParams(
                      &params, 1, small.data(), static_cast<int>(small.size()), 8, 4, 2, 0, 8, 8.0f,
                      8, 8.0f, cells.data(), 1, mirror, nullptr, 0, 0, nullptr),
                  -1);
        ExpectCells(cells, rgb, 32, 4, 8, 8, mirror != 0);
        // A later restore refills each cell from its own cell of the source.
        WipeGraphImage(cells[0]);
        RestoreAllGraphs();
        ExpectCells(cells, rgb, 32, 4, 8, 8, mirror != 0);
        for (HandleValue c : cells) DestroyGraph(c);
    }
}

TEST_F(GraphRestoreTest, TenCellsInAFourByThreeGrid) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("g.bmp"), 40, 30, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("g.bmp")})[0];
    std::vector<HandleValue> cells(10);
    ASSERT_EQ(LoadDivGraphFromImageFile("g.bmp", 10, 4, 3, 10, 10, cells.data(), 1, 0), 0);
    for (HandleValue c : cells) EXPECT_EQ(IsGraphHandleValid(c), 1);
    EXPECT_EQ(LookUpGraphRecord(cells[9], 0)->X, 10);
    EXPECT_EQ(LookUpGraphRecord(cells[9], 0)->Y, 20);
    ExpectCells(cells, rgb, 40, 4, 10, 10);
}

TEST_F(GraphRestoreTest, AnAsynchronousGridIsReadyWhenAnyCellIsUsed) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("a.bmp"), 32, 16, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("a.bmp")})[0];
    int before = GetGraphHandleCount();
    EnableASyncLoad(1);
    std::vector<HandleValue> cells(8, -1);
    ASSERT_EQ(LoadDivGraphFromImageFile("a.bmp", 8, 4, 2, 8, 8, cells.data(), 1, 0), 0);
    for (HandleValue c : cells) EXPECT_GE(c, 0);
    EXPECT_EQ(IsGraphHandleValid(cells[7]), 1);
    EnableASyncLoad(0);
    ExpectCells(cells, rgb, 32, 4, 8, 8);
    EXPECT_EQ(GetGraphHandleCount(), before + 8);
}

TEST_F(GraphRestoreTest, EachMirrorFlagOfOneFileIsReadOnItsOwn) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("p.bmp"), 12, 8, "BMP"));
    HandleValue plain = LoadGraphFromImageFileEx("p.bmp", 1, 0, 0);
    HandleValue mirrored = LoadGraphFromImageFileEx("p.bmp", 1, 1, 0);
    HandleValue mirroredAgain = LoadGraphFromImageFileEx("p.bmp", 1, 1, 0);
    ASSERT_GE(plain, 0);
    ASSERT_GE(mirroredAgain, 0);
    std::vector<std::uint8_t> before[3];
    HandleValue graphs[3] = {plain, mirrored, mirroredAgain};
    for (int i = 0; i < 3; ++i) {
        const MEMIMG* v = GetGraphMemImg(graphs[i]);
        before[i].assign(v->Shared->Pixels,
                         v->Shared->Pixels + static_cast<std::size_t>(v->Shared->Pitch) * 8);
        WipeGraphImage(graphs[i]);
    }
    CountingStreams& streams = CountingStreams::Instance();
    streams.Install();
    RestoreAllGraphs();
    EXPECT_EQ(streams.OpensOf("p.bmp"), 2);
    for (int i = 0; i < 3; ++i) {
        const MEMIMG* v = GetGraphMemImg(graphs[i]);
        EXPECT_EQ(std::memcmp(before[i].data(), v->Shared->Pixels, before[i].size()), 0) << i;
    }
}

TEST_F(GraphRestoreTest, AGraphFromAFreedBaseImageRestoresFromItsCopy) {
    StartSoftware(32);
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageXrgb8(9, 7, &image), 0);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) WriteBaseImagePixelRgba(&image, x, y, x * 20, y * 30, 77, 255);
    HandleValue g = CreateGraphFromBaseImage(&image);
    ASSERT_GE(g, 0);
    DisposeBaseImage(&image);
    std::vector<std::uint32_t> want;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) want.push_back(MemImgPixel(*GetGraphMemImg(g), x, y));
    WipeGraphImage(g);
    RestoreAllGraphs();
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), x, y), want[y * 9 + x]);
}

TEST_F(GraphRestoreTest, ABlockImageCopyHoldsEveryBlock) {
    // A 6 x 6 DXT5 image is four blocks of 16 bytes; the copy must hold all of them.
    StartSoftware(32);
    std::vector<std::uint8_t> storage(64);
    for (std::size_t i = 0; i < storage.size(); ++i) storage[i] = static_cast<std::uint8_t>(i * 37);
    BASEIMAGE dxt{};
    InitColorFormatFromMasks(&dxt.Format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, 0, 0);
    dxt.Format.FormatKind = 5;
    dxt.Format.BitsPerPixel = 8;
    dxt.Width = dxt.Height = 6;
    dxt.Pitch = 32;
    dxt.Pixels = storage.data();
    BASEIMAGE decoded = dxt;
    ASSERT_EQ(DecodeBlockCompressedBaseImage(&decoded, 0), 0);
    HandleValue g = CreateGraphFromBaseImage(&dxt);
    ASSERT_GE(g, 0);
    const GraphRestoreSource* source = LookUpGraphRecord(g, 0)->Restore;
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(std::memcmp(source->Color->Pixels, storage.data(), 64), 0);
    std::fill(storage.begin(), storage.end(), 0);
    WipeGraphImage(g);
    RestoreAllGraphs();
    int bad = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            if (MemImgPixel(*GetGraphMemImg(g), x, y) !=
                (ReadBaseImagePixelArgb(&decoded, x, y) & 0xFFFFFF))
                ++bad;
    EXPECT_EQ(bad, 0);
    FreeTrackedMemory(decoded.Pixels);
}

TEST_F(GraphRestoreTest, AnAlphaFileBesideTheImageIsReadWithItOnRestore) {
    SetLoadAlphaCompanionImages(0);
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("pic.bmp"), 8, 8, "BMP"));
    ASSERT_TRUE(WritePatternImage(Path("pic_a.bmp"), 8, 8, "BMP", false, "RGB", 3));
    CountingStreams& streams = CountingStreams::Instance();
    streams.Install();
    HandleValue g = LoadGraphFromImageFile("pic.bmp", 0);
    ASSERT_GE(g, 0);
    EXPECT_EQ(streams.OpensOf("pic_a.bmp"), 0);
    streams.Reset();
    RestoreAllGraphs();
    EXPECT_EQ(streams.OpensOf("pic.bmp"), 1);
    EXPECT_EQ(streams.OpensOf("pic_a.bmp"), 1);
}

TEST_F(GraphRestoreTest, APictureRemovedBeforeTheRestoreIsLoggedAndTheOthersAreRestored) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImage(Path("gone.bmp"), 8, 8, "BMP"));
    ASSERT_TRUE(WritePatternImage(Path("kept.bmp"), 8, 8, "BMP", false, "RGB", 9));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("kept.bmp")})[0];
    HandleValue gone = LoadGraphFromImageFile("gone.bmp", 0);
    HandleValue kept = LoadGraphFromImageFile("kept.bmp", 0);
    ASSERT_GE(kept, 0);
    std::filesystem::remove(Path("gone.bmp"));
    WipeGraphImage(gone);
    WipeGraphImage(kept);
    RestoreAllGraphs();
    EXPECT_EQ(CompareGraphWithRgb(kept, rgb, 8, 8, 32), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(gone), 0, 0), 0x5A5A5Au);
    std::string log = Log();
    std::size_t at = log.find("Image File Load Error : ");
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(log.find("gone.bmp", at), std::string::npos);
}

TEST_F(GraphRestoreTest, ADeviceRebuildRefillsThroughTheBackEnd) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    ASSERT_TRUE(WritePatternImage(Path("d.bmp"), 32, 16, "BMP"));
    std::vector<HandleValue> cells(8);
    ASSERT_EQ(LoadDivGraphFromImageFile("d.bmp", 8, 4, 2, 8, 8, cells.data(), 1, 0), 0);
    // A block image: one whole-image transfer however many graphs show it.
    std::vector<std::uint8_t> storage(4 * 4 * 8, 0x33);
    BASEIMAGE dxt{};
    InitColorFormatFromMasks(&dxt.Format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, 0, 0);
    dxt.Format.FormatKind = 1;
    dxt.Format.BitsPerPixel = 4;
    dxt.Width = dxt.Height = 16;
    dxt.Pitch = 32;
    dxt.Pixels = storage.data();
    HandleValue block = CreateGraphFromBaseImage(&dxt);
    ASSERT_GE(block, 0);
    HandleValue part = DeriveGraphFromRect(4, 4, 8, 8, block);
    ASSERT_GE(part, 0);
    // The library's own graphs are not restored: they go before the device is made again.
    HandleValue white = GetWhiteGraph();
    ASSERT_GE(white, 0);
    CountingStreams& streams = CountingStreams::Instance();
    streams.Install();
    b.transfers.clear();
    DeleteInternalGraphs();
    EXPECT_EQ(RebuildAfterDeviceLoss(), 0);
    EXPECT_EQ(b.Named("RebuildDevice").size(), 1u);
    EXPECT_EQ(streams.OpensOf("d.bmp"), 1);
    int cellTransfers = 0, wholeTransfers = 0;
    for (const auto& t : b.transfers) {
        if (t.wholeImage) {
            ++wholeTransfers;
            EXPECT_EQ(t.rect.right, 16);
            EXPECT_EQ(t.graph == block || t.graph == part, true);
        } else {
            ++cellTransfers;
        }
    }
    EXPECT_EQ(cellTransfers, 8);
    EXPECT_EQ(wholeTransfers, 1);
    EXPECT_EQ(IsGraphHandleValid(white), 0);
}

}  // namespace
