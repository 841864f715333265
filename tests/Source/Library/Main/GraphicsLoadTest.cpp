// Loading graphs: files written by Pillow compared with Pillow's own decode in 16- and 32-bit
// screens, asynchronous loads on the load threads, reloads, transfers of base images (block images
// included) into software and device graphs, and many loads at once while some are deleted.
#include <gtest/gtest.h>

#include <tuple>

#include "GraphTestSupport.h"
#include "Main/DxASyncLoad.h"
#include "Main/Windows/DxWinAPI.h"

using namespace ZiDaz;
using namespace velk_graph_test;
using ZiDaz::testing::RecordingBackend;

namespace {

class GraphLoadTest : public GraphFixture {};

class GraphFileLoadTest : public GraphFixture,
                          public ::testing::WithParamInterface<std::tuple<const char*, int>> {};

TEST_P(GraphFileLoadTest, AFileLoadsAsAGraphEqualToPillowsDecodeInTheScreenFormat) {
    const auto [format, bits] = GetParam();
    StartSoftware(bits);
    std::string extension = std::string(".") + format;
    std::filesystem::path file = Path(std::string("picture") + extension);
    ASSERT_TRUE(WritePatternImage(file, 37, 21, format, true));
    ASSERT_TRUE(LoaderAccepts(file)) << file;
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({file})[0];
    ASSERT_EQ(rgb.size(), 37u * 21u * 3u);
    // Pillow decodes JPEG through the same libjpeg, so every format compares exactly.
    for (int transparent : {1, 0}) {
        SCOPED_TRACE(transparent ? "transparent colour on" : "transparent colour off");
        SetUseTransparentColor(transparent);
        SetTransparentColor(255, 0, 255);
        HandleValue g = LoadGraphFromImageFile(file.string().c_str(), 0);
        ASSERT_GE(g, 0);
        int w = 0, h = 0;
        GetGraphSize(g, &w, &h);
        EXPECT_EQ(w, 37);
        EXPECT_EQ(h, 21);
        EXPECT_EQ(CompareGraphWithRgb(g, rgb, 37, 21, bits, 0), 0);
        const MemImgShared* shared = GetGraphMemImg(g)->Shared;
        EXPECT_EQ(shared->UseTransColor, static_cast<std::uint32_t>(transparent));
        EXPECT_EQ(shared->TransColor & (bits == 16 ? 0xFFFFu : 0xFFFFFFu),
                  bits == 16 ? 0xF81Fu : 0xFF00FFu);
        EXPECT_EQ(LookUpGraphRecord(g, 0)->Image->FormatIndex, bits == 16 ? 51 : 53);
        DestroyGraph(g);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GraphFileLoadTest,
                         ::testing::Combine(::testing::Values("BMP", "PNG", "JPEG"),
                                            ::testing::Values(16, 32)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(GraphLoadTest, AMirroredLoadShowsTheImageMirrored) {
    StartSoftware(32);
    std::filesystem::path file = Path("m.bmp");
    ASSERT_TRUE(WritePatternImage(file, 9, 5, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({file})[0];
    HandleValue g = LoadGraphFromImageFileEx(file.string().c_str(), 1, 1, 0);
    ASSERT_GE(g, 0);
    const MEMIMG* view = GetGraphMemImg(g);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) {
            std::size_t i = (static_cast<std::size_t>(y) * 9 + (8 - x)) * 3;
            EXPECT_EQ(MemImgPixel(*view, x, y), ScreenFormatOf(rgb[i], rgb[i + 1], rgb[i + 2], 32));
        }
}

TEST_F(GraphLoadTest, ANullNameOrAMissingFileReturnsMinusOneAndLeavesNoHandle) {
    StartSoftware(32);
    int count = GetGraphHandleCount();
    EXPECT_EQ(LoadGraphFromImageFile(nullptr, 0), -1);
    EnableASyncLoad(1);
    EXPECT_EQ(LoadGraphFromImageFile(nullptr, 0), -1);
    EnableASyncLoad(0);
    EXPECT_EQ(GetGraphHandleCount(), count);
    EXPECT_EQ(LoadGraphFromImageFile("missing.png", 0), -1);
    EXPECT_EQ(GetGraphHandleCount(), count);
    EXPECT_NE(Log().find("missing.png がありません"), std::string::npos);
    // A file that exists but that no reader takes fails after its existence check.
    velk_test::WriteBytes(Path("junk.png"), {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(LoadGraphFromImageFile("junk.png", 0), -1);
    EXPECT_EQ(GetGraphHandleCount(), count);
}

TEST_F(GraphLoadTest, AnAsynchronousLoadReturnsAtOnceAndTheFirstSizeQueryWaits) {
    StartSoftware(32);
    std::filesystem::path file = Path("async.bmp");
    ASSERT_TRUE(WritePatternImage(file, 64, 48, "BMP"));
    CountingStreams& streams = CountingStreams::Instance();
    streams.Install();
    streams.hold = true;
    EnableASyncLoad(1);
    HandleValue g = LoadGraphFromImageFile("async.bmp", 0);
    ASSERT_GE(g, 0);
    // The job is held in its open: the handle is loading.
    EXPECT_EQ(IsHandleLoading(g), 1);
    // The graph knows its job's slot, so a use finishes that job rather than waiting its turn.
    EXPECT_GE(LookupHandleRecord(g)->jobIndex, 0);
    // A reload of a graph still loading is refused and changes nothing.
    EXPECT_EQ(ReloadGraphFromImageFile("async.bmp", g, 0), -1);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        streams.hold = false;
    });
    int w = 0, h = 0;
    EXPECT_EQ(GetGraphSize(g, &w, &h), 0);
    release.join();
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);
    EXPECT_EQ(IsHandleLoading(g), 0);
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({file})[0];
    EXPECT_EQ(CompareGraphWithRgb(g, rgb, 64, 48, 32), 0);
    // The job read the file by its full path, resolved when the call was made.
    EXPECT_EQ(streams.OpensOf("async.bmp"), 1);
    // A failing asynchronous load deletes its handle.
    HandleValue bad = LoadGraphFromImageFile("nothing.bmp", 0);
    ASSERT_GE(bad, 0);
    EXPECT_EQ(IsGraphHandleValid(bad), 0);
}

TEST_F(GraphLoadTest, ReloadsReplaceThePixelsOnlyWhenTheImageFits) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImages({{Path("a.bmp"), 20, 10, "BMP", false, "RGB", 0},
                                    {Path("b.bmp"), 20, 10, "BMP", false, "RGB", 40},
                                    {Path("wide.bmp"), 21, 10, "BMP", false, "RGB", 80}}));
    auto decoded = velk_test::PillowDecode({Path("a.bmp"), Path("b.bmp")});
    HandleValue g = LoadGraphFromImageFile("a.bmp", 0);
    ASSERT_GE(g, 0);
    EXPECT_EQ(ReloadGraphFromImageFile("wide.bmp", g, 0), -1);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[0], 20, 10, 32), 0);
    EXPECT_EQ(ReloadGraphFromImageFile("missing.bmp", g, 0), -1);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[0], 20, 10, 32), 0);
    EXPECT_EQ(ReloadGraphFromImageFile("b.bmp", g, 0), 0);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[1], 20, 10, 32), 0);
    // The reload's file is what the graph now remembers.
    const GraphRestoreSource* source = LookUpGraphRecord(g, 0)->Restore;
    ASSERT_NE(source, nullptr);
    std::u16string name(source->FileName);
    EXPECT_EQ(name.substr(name.size() - 6, 1).find_first_of(u"/\\"), 0u);
    EXPECT_EQ(name.substr(name.size() - 5), u"b.bmp");
    // The same from memory.
    std::vector<std::uint8_t> a = velk_test::ReadBytes(Path("a.bmp"));
    std::vector<std::uint8_t> wide = velk_test::ReadBytes(Path("wide.bmp"));
    EXPECT_EQ(RecreateGraphFromImageInMemory(wide.data(), static_cast<int>(wide.size()), g, nullptr,
                                             0, 1, 0),
              -1);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[1], 20, 10, 32), 0);
    EXPECT_EQ(
        RecreateGraphFromImageInMemory(a.data(), static_cast<int>(a.size()), g, nullptr, 0, 1, 0),
        0);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[0], 20, 10, 32), 0);
    source = LookUpGraphRecord(g, 0)->Restore;
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->FileName, nullptr);
    EXPECT_EQ(source->DataSize, static_cast<int>(a.size()));
    EXPECT_NE(source->Data, a.data());
    // A new graph from memory.
    HandleValue m =
        CreateGraphFromImageInMemory(a.data(), static_cast<int>(a.size()), nullptr, 0, 1, 0);
    ASSERT_GE(m, 0);
    EXPECT_EQ(CompareGraphWithRgb(m, decoded[0], 20, 10, 32), 0);
}

// A graph drawn with its transparent colour shows what the latest fill put into it: after a
// reload with other pixels (the keyed pixels now elsewhere) the draw keys the new pixels, not
// the old ones.
TEST_F(GraphLoadTest, AKeyedDrawAfterEachFillShowsThatFillsPixels) {
    StartSoftware(32);
    SetUseTransparentColor(1);
    SetTransparentColor(255, 0, 255);
    constexpr int kW = 40, kH = 12;
    ASSERT_TRUE(WritePatternImages({{Path("a.bmp"), kW, kH, "BMP", true, "RGB", 0},
                                    {Path("b.bmp"), kW, kH, "BMP", false, "RGB", 9}}));
    const auto decoded = velk_test::PillowDecode({Path("a.bmp"), Path("b.bmp")});
    HandleValue g = LoadGraphFromImageFile("a.bmp", 0);
    ASSERT_GE(g, 0);

    const RECT savedArea = MemImgDrawState.DrawArea;
    const int savedMode = MemImgDrawState.BlendMode, savedParam = MemImgDrawState.BlendParam;
    const std::uint32_t savedBright = MemImgDrawState.DrawBright;
    const RECT area{0, 0, kW, kH};
    SetMemImgDrawArea(&area);
    SetMemImgBlendMode(DX_BLEND_NONE, 255);
    SetMemImgDrawBright(0xFFFFFF);
    MEMIMG target{};
    ASSERT_EQ(SetupMemImgDefault(&target, kW, kH, 1), 0);
    constexpr std::uint32_t kBackground = 0x123456;
    auto drawnDiffers = [&](const std::vector<std::uint8_t>& rgb) {
        FillMemImgRect(&target, nullptr, kBackground);
        DrawMemImg(&target, GetGraphMemImg(g), 0, 0, 1, nullptr);
        int bad = 0;
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                const std::size_t i = (static_cast<std::size_t>(y) * kW + x) * 3;
                std::uint32_t want = ScreenFormatOf(rgb[i], rgb[i + 1], rgb[i + 2], 32);
                if (want == 0xFF00FF) want = kBackground;
                if (MemImgPixel(target, x, y) != want && ++bad <= 3) {
                    ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex
                                  << MemImgPixel(target, x, y) << " instead of " << want;
                }
            }
        }
        return bad;
    };
    EXPECT_EQ(drawnDiffers(decoded[0]), 0);
    EXPECT_EQ(ReloadGraphFromImageFile("b.bmp", g, 0), 0);
    EXPECT_EQ(drawnDiffers(decoded[1]), 0);
    EXPECT_EQ(ReloadGraphFromImageFile("a.bmp", g, 0), 0);
    EXPECT_EQ(drawnDiffers(decoded[0]), 0);
    ReleaseMemImg(&target);
    SetMemImgDrawArea(&savedArea);
    SetMemImgBlendMode(savedMode, savedParam);
    SetMemImgDrawBright(savedBright);
}

// A 10 x 10 DXT1 image: 3 x 3 blocks of red and blue with varied indices.
BASEIMAGE MakeDxt1(std::vector<std::uint8_t>* storage, int width = 10, int height = 10) {
    int bw = (width + 3) / 4, bh = (height + 3) / 4;
    storage->assign(static_cast<std::size_t>(bw) * bh * 8, 0);
    for (int b = 0; b < bw * bh; ++b) {
        std::uint8_t* block = storage->data() + b * 8;
        std::uint16_t c0 = 0xF800, c1 = static_cast<std::uint16_t>(0x001F + b * 0x40);
        std::memcpy(block, &c0, 2);
        std::memcpy(block + 2, &c1, 2);
        std::uint32_t indices = 0x1B1B1B1Bu * static_cast<std::uint32_t>(b + 1);
        std::memcpy(block + 4, &indices, 4);
    }
    BASEIMAGE image{};
    InitColorFormatFromMasks(&image.Format, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, 0, 0);
    image.Format.FormatKind = 1;
    image.Format.BitsPerPixel = 4;
    image.Width = width;
    image.Height = height;
    image.Pitch = bw * 8;
    image.Pixels = storage->data();
    return image;
}

TEST_F(GraphLoadTest, ABlockImageIsDecodedBeforeItReachesASoftwareGraph) {
    StartSoftware(32);
    std::vector<std::uint8_t> storage;
    BASEIMAGE dxt = MakeDxt1(&storage);
    BASEIMAGE decoded = dxt;
    ASSERT_EQ(DecodeBlockCompressedBaseImage(&decoded, 0), 0);
    HandleValue g = CreateGraphFromBaseImage(&dxt);
    ASSERT_GE(g, 0);
    int w, h;
    GetGraphSize(g, &w, &h);
    EXPECT_EQ(w, 10);
    const MEMIMG* view = GetGraphMemImg(g);
    int bad = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            if (MemImgPixel(*view, x, y) != (ReadBaseImagePixelArgb(&decoded, x, y) & 0xFFFFFF))
                ++bad;
    EXPECT_EQ(bad, 0);
    // The caller's image is untouched.
    EXPECT_EQ(dxt.Pixels, storage.data());
    EXPECT_EQ(dxt.Format.FormatKind, 1);
    FreeTrackedMemory(decoded.Pixels);
}

TEST_F(GraphLoadTest, ADeviceGraphGetsBlocksDecodedOnlyWhenTheBackEndAsks) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    std::vector<std::uint8_t> storage;
    BASEIMAGE dxt = MakeDxt1(&storage);
    for (bool decode : {false, true}) {
        SCOPED_TRACE(decode ? "decoded" : "kept");
        b.transfers.clear();
        b.transferConversion = [decode](int kind, int* needs, int, int*) {
            EXPECT_EQ(kind, 1);
            *needs = decode ? 1 : 0;
        };
        HandleValue g = CreateGraphFromBaseImage(&dxt);
        ASSERT_GE(g, 0);
        GraphImage* image = LookUpGraphRecord(g, 0)->Image;
        EXPECT_EQ(image->FormatIndex, 12);
        EXPECT_EQ(image->Pieces[0].TextureWidth, 12);
        ASSERT_EQ(b.transfers.size(), 1u);
        const auto& t = b.transfers[0];
        EXPECT_EQ(t.colorKind, decode ? 0 : 1);
        EXPECT_EQ(t.rect.right, 12);  // rounded up to whole blocks
        EXPECT_EQ(t.rect.bottom, 12);
        EXPECT_EQ(t.colorWidth, 12);
        EXPECT_EQ(t.wholeImage, 0);
        EXPECT_FALSE(t.loadThread);
    }
}

TEST_F(GraphLoadTest, TransfersOfNothingAndRefusedTransfers) {
    StartSoftware(32);
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageXrgb8(8, 8, &image), 0);
    FillBaseImage(&image, 10, 20, 30, 255);
    HandleValue g = CreateGraphFromBaseImage(&image);
    ASSERT_GE(g, 0);
    FillBaseImage(&image, 200, 100, 50, 255);
    RECT none{2, 2, 2, 6};
    EXPECT_EQ(TransferBaseImageRectToGraph(&none, 0, 0, g, &image, nullptr, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 0, 0), 0x0A141Eu);
    RECT part{0, 0, 4, 4};
    EXPECT_EQ(
        TransferImageRectToGraph(nullptr, nullptr, nullptr, 0, &image, nullptr, &part, 4, 4, g), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 5, 5), 0xC86432u);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 3, 3), 0x0A141Eu);
    // A derived graph's transfer lands inside its own rectangle of the shared image.
    HandleValue d = DeriveGraphFromRect(2, 0, 6, 8, g);
    FillBaseImage(&image, 1, 2, 3, 255);
    EXPECT_EQ(TransferImageToGraph(nullptr, nullptr, nullptr, 0, &image, nullptr, 0, 0, d), 0);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 1, 0), 0x0A141Eu);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 2, 0), 0x010203u);
    EXPECT_EQ(MemImgPixel(*GetGraphMemImg(g), 7, 7), 0x010203u);
    EXPECT_NE(LookUpGraphRecord(d, 0)->Restore, nullptr);
    EXPECT_EQ(TransferBaseImageRectToGraph(&part, 0, 0, d + 1, &image, nullptr, 0, 0, 0, nullptr),
              -1);
    // An alpha image of another size is refused.
    BASEIMAGE alpha{};
    NewBaseImageXrgb8(7, 8, &alpha);
    EXPECT_EQ(CreateGraphFromBaseImagePair(&image, &alpha, 1, 0), -1);
    // A block image that is not whole blocks with a plain alpha image is refused.
    std::vector<std::uint8_t> storage;
    BASEIMAGE dxt = MakeDxt1(&storage);
    BASEIMAGE alpha10{};
    NewBaseImageXrgb8(10, 10, &alpha10);
    EXPECT_EQ(CreateGraphFromBaseImagePair(&dxt, &alpha10, 1, 0), -1);
    DisposeBaseImage(&alpha10);
    DisposeBaseImage(&alpha);
    DisposeBaseImage(&image);
}

// A new graph is filled straight after its set-up; when that fill fails it shows black, not what
// the storage held before (a wiped graph of the same size is freed first, so that its storage is
// likely handed on).
TEST_F(GraphLoadTest, ANewGraphWhoseFirstFillFailsIsBlack) {
    StartSoftware(32);
    BASEIMAGE image{};
    ASSERT_EQ(NewBaseImageXrgb8(64, 32, &image), 0);
    HandleValue first = CreateGraphFromBaseImage(&image);
    ASSERT_GE(first, 0);
    WipeGraphImage(first);
    DestroyGraph(first);
    BASEIMAGE noPixels = image;
    noPixels.Pixels = nullptr;
    HandleValue g = CreateGraphFromBaseImageNow(&noPixels, nullptr, 1, nullptr);
    ASSERT_GE(g, 0);
    const MEMIMG* view = GetGraphMemImg(g);
    int lit = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x) lit += MemImgPixel(*view, x, y) != 0 ? 1 : 0;
    EXPECT_EQ(lit, 0);
    DisposeBaseImage(&image);
}

TEST_F(GraphLoadTest, AReloadWhoseTransferFailsSaysSo) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    ASSERT_TRUE(WritePatternImage(Path("r.bmp"), 16, 16, "BMP"));
    std::vector<std::uint8_t> bytes = velk_test::ReadBytes(Path("r.bmp"));
    HandleValue g = LoadGraphFromImageFile("r.bmp", 0);
    ASSERT_GE(g, 0);
    b.transferResult = -1;
    EXPECT_EQ(ReloadGraphFromImageFile("r.bmp", g, 0), -1);
    EXPECT_EQ(RecreateGraphFromImageInMemory(bytes.data(), static_cast<int>(bytes.size()), g,
                                             nullptr, 0, 1, 0),
              -1);
    b.transferResult = 0;
    EXPECT_EQ(ReloadGraphFromImageFile("r.bmp", g, 0), 0);
}

TEST_F(GraphLoadTest, ManyLoadsOnTheLoadThreadsWhileSomeAreDeletedEqualTheirSynchronousLoads) {
    StartSoftware(32);
    const int kFiles = 40;
    std::vector<std::filesystem::path> files;
    std::vector<PatternImage> images;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(Path("many" + std::to_string(i) + ".bmp"));
        images.push_back(PatternImage{files.back(), 8 + i, 6 + i % 7, "BMP", false, "RGB", i});
    }
    ASSERT_TRUE(WritePatternImages(images));
    // The synchronous loads first.
    std::vector<HandleValue> sync;
    for (const auto& f : files) sync.push_back(LoadGraphFromImageFile(f.string().c_str(), 0));
    int memoryBefore = GetTrackedMemoryCount();
    int handlesBefore = GetGraphHandleCount();
    EnableASyncLoad(1);
    std::vector<HandleValue> async;
    for (const auto& f : files) async.push_back(LoadGraphFromImageFile(f.string().c_str(), 0));
    for (int i = 0; i < kFiles; i += 3) EXPECT_EQ(DestroyGraph(async[i]), 0);
    EnableASyncLoad(0);
    for (int i = 0; i < kFiles; ++i) {
        if (i % 3 == 0) {
            EXPECT_EQ(IsGraphHandleValid(async[i]), 0);
            continue;
        }
        SCOPED_TRACE(i);
        ASSERT_EQ(IsGraphHandleValid(async[i]), 1);
        const MEMIMG* a = GetGraphMemImg(async[i]);
        const MEMIMG* s = GetGraphMemImg(sync[i]);
        ASSERT_EQ(a->Width, s->Width);
        ASSERT_EQ(a->Height, s->Height);
        for (int y = 0; y < a->Height; ++y)
            ASSERT_EQ(
                std::memcmp(a->Pixels + y * a->Shared->Pitch, s->Pixels + y * s->Shared->Pitch,
                            static_cast<std::size_t>(a->Width) * 4),
                0);
    }
    for (int i = 0; i < kFiles; ++i)
        if (i % 3 != 0) DestroyGraph(async[i]);
    while (CountQueuedASyncLoadJobs() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(GetGraphHandleCount(), handlesBefore);
    EXPECT_EQ(GetTrackedMemoryCount(), memoryBefore);
}

TEST_F(GraphLoadTest, ABlankGraphMadeOnALoadThreadIsReadyWhenUsed) {
    StartSoftware(16);
    EnableASyncLoad(1);
    HandleValue g = CreateEmptyGraph(33, 17, 0);
    ASSERT_GE(g, 0);
    int w = 0, h = 0;
    EXPECT_EQ(GetGraphSize(g, &w, &h), 0);
    EXPECT_EQ(w, 33);
    EXPECT_EQ(h, 17);
    EXPECT_EQ(LookUpGraphRecord(g, 0)->Image->FormatIndex, 51);
}

TEST_F(GraphLoadTest, ANarrowNameOfManyUnitsIsConvertedInAnAllocatedBuffer) {
    StartSoftware(32);
    std::string longName(600, 'x');
    longName += ".bmp";
    std::filesystem::path dir = Path("d");
    // The name is too long for one path part; it is cut into folders.
    std::string relative;
    for (std::size_t i = 0; i < longName.size(); i += 100) {
        std::string part = longName.substr(i, 100);
        if (i + 100 < longName.size()) {
            relative += part + "/";
        } else {
            relative += part;
        }
    }
    std::filesystem::create_directories(Path(relative).parent_path());
    ASSERT_TRUE(WritePatternImage(Path(relative), 4, 4, "BMP"));
    ASSERT_GE(relative.size(), 497u);
    HandleValue g = LoadGraphFromImageFile(relative.c_str(), 0);
    EXPECT_GE(g, 0);
}

TEST_F(GraphLoadTest, AnAlphaImageInMemoryGivesTheGraphItsAlpha) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImages({{Path("c.bmp"), 6, 4, "BMP", false, "RGB", 0},
                                    {Path("c_alpha.bmp"), 6, 4, "BMP", false, "RGB", 50}}));
    std::vector<std::uint8_t> color = velk_test::ReadBytes(Path("c.bmp"));
    std::vector<std::uint8_t> alpha = velk_test::ReadBytes(Path("c_alpha.bmp"));
    auto decoded = velk_test::PillowDecode({Path("c.bmp"), Path("c_alpha.bmp")});
    HandleValue g =
        CreateGraphFromImageInMemory(color.data(), static_cast<int>(color.size()), alpha.data(),
                                     static_cast<int>(alpha.size()), 1, 0);
    ASSERT_GE(g, 0);
    GraphHandleRecord* r = LookUpGraphRecord(g, 0);
    EXPECT_EQ(r->Image->FormatIndex, 54);
    EXPECT_EQ(r->Image->Format.Alpha, 1);
    const MEMIMG* view = GetGraphMemImg(g);
    const COLORFORMAT* f = view->Shared->Format;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) {
            std::uint32_t p;
            std::memcpy(&p, view->Pixels + y * view->Shared->Pitch + x * 4, 4);
            int red, green, blue, a;
            DecomposeFormatColor(f, p, &red, &green, &blue, &a);
            std::size_t k = (static_cast<std::size_t>(y) * 6 + x) * 3;
            EXPECT_EQ(a, decoded[1][k]) << x << "," << y;
            EXPECT_EQ(red, decoded[0][k]) << x << "," << y;
        }
    // The graph keeps both files' bytes for a restore.
    EXPECT_EQ(r->Restore->AlphaSize, static_cast<int>(alpha.size()));
    WipeGraphImage(g);
    RestoreAllGraphs();
    std::uint32_t p;
    std::memcpy(&p, view->Pixels, 4);
    int red, a;
    DecomposeFormatColor(f, p, &red, nullptr, nullptr, &a);
    EXPECT_EQ(a, decoded[1][0]);
    EXPECT_EQ(red, decoded[0][0]);
}

TEST_F(GraphLoadTest, ABlendGraphIsOneChannelOfTheImagesRed) {
    StartSoftware(16);
    ASSERT_TRUE(WritePatternImage(Path("blend.bmp"), 10, 6, "BMP"));
    std::vector<std::uint8_t> rgb = velk_test::PillowDecode({Path("blend.bmp")})[0];
    HandleValue g = LoadBlendGraph("blend.bmp");
    ASSERT_GE(g, 0);
    EXPECT_EQ(GraphCreationSettings.BlendImage, 0);
    const MEMIMG* view = GetGraphMemImg(g);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->Shared->ColorType, 2u);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(view->Pixels[y * view->Shared->Pitch + x], rgb[(y * 10 + x) * 3]);
    // A later load is an ordinary graph again.
    HandleValue plain = LoadGraphFromImageFile("blend.bmp", 0);
    EXPECT_EQ(GetGraphMemImg(plain)->Shared->ColorType, 0u);
}

TEST_F(GraphLoadTest, AnAsynchronousRecreateFromMemoryRefillsWhenTheGraphIsNextUsed) {
    StartSoftware(32);
    ASSERT_TRUE(WritePatternImages({{Path("a.bmp"), 12, 12, "BMP", false, "RGB", 0},
                                    {Path("b.bmp"), 12, 12, "BMP", false, "RGB", 99}}));
    auto decoded = velk_test::PillowDecode({Path("a.bmp"), Path("b.bmp")});
    std::vector<std::uint8_t> b = velk_test::ReadBytes(Path("b.bmp"));
    HandleValue g = LoadGraphFromImageFile("a.bmp", 0);
    EnableASyncLoad(1);
    EXPECT_EQ(
        RecreateGraphFromImageInMemory(b.data(), static_cast<int>(b.size()), g, nullptr, 0, 1, 0),
        0);
    EnableASyncLoad(0);
    EXPECT_EQ(IsGraphHandleValid(g), 1);
    EXPECT_EQ(CompareGraphWithRgb(g, decoded[1], 12, 12, 32), 0);
}

TEST_F(GraphLoadTest, ALoadThreadHandsItsContextToTheBackEnd) {
    StartDevice(4096, false);
    RecordingBackend& b = RecordingBackend::Instance();
    ASSERT_TRUE(WritePatternImage(Path("t.bmp"), 16, 16, "BMP"));
    b.transfers.clear();
    EnableASyncLoad(1);
    HandleValue g = LoadGraphFromImageFile("t.bmp", 0);
    EnableASyncLoad(0);
    int w = 0;
    EXPECT_EQ(GetGraphSize(g, &w, nullptr), 0);
    EXPECT_EQ(w, 16);
    ASSERT_EQ(b.transfers.size(), 1u);
    EXPECT_TRUE(b.transfers[0].loadThread);
    auto created = b.Named("CreateImageTextures");
    ASSERT_FALSE(created.empty());
    EXPECT_NE(created.back().args[1], ZiDaz::testing::ArgText(static_cast<const void*>(nullptr)));
}

TEST_F(GraphLoadTest, ABitmapObjectIsTransferredAndKeptForTheRestore) {
    StartSoftware(32);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 5;
    info.bmiHeader.biHeight = -3;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> bits(16 * 3, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) {
            std::uint8_t* p = &bits[y * 16 + x * 3];
            p[0] = static_cast<std::uint8_t>(x * 50);  // blue
            p[1] = static_cast<std::uint8_t>(y * 80);  // green
            p[2] = static_cast<std::uint8_t>(200 - x * 10);
        }
    COLORFORMAT format;
    InitColorFormatRgb24(&format);
    HBITMAP bitmap = BuildDIBSection(&info, bits.data(), 0, &format);
    ASSERT_NE(bitmap, nullptr);
    HandleValue g = CreateEmptyGraph(5, 3, 0);
    ASSERT_GE(g, 0);
    ASSERT_EQ(TransferImageToGraph(&format, bitmap, nullptr, 1, nullptr, nullptr, 0, 0, g), 0);
    auto check = [&] {
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(
                    MemImgPixel(*GetGraphMemImg(g), x, y),
                    static_cast<std::uint32_t>((200 - x * 10) << 16 | (y * 80) << 8 | (x * 50)))
                    << x << "," << y;
    };
    check();
    const GraphRestoreSource* source = LookUpGraphRecord(g, 0)->Restore;
    ASSERT_NE(source, nullptr);
    ASSERT_NE(source->Color, nullptr);
    SystemApi.DeleteObject(bitmap);
    WipeGraphImage(g);
    RestoreAllGraphs();
    check();
}

}  // namespace
