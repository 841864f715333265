// Texts drawn through the running library (software screen over SDL's dummy video driver, the
// installed Japanese and Western faces) compared with reviewed frames kept as small PNG fixtures.
// VELK_UPDATE_TEXT_FRAMES=1 writes the fixtures anew from what is drawn. The anti-aliased frames
// hold no spaces: the library's supersampled fonts still advance blank glyphs by their
// supersampled width.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "PresentationTestSupport.h"
#include "Source/Library/Main/DxBaseImage.h"
#include "Source/Library/Main/DxGraphics.h"
#include "Source/Library/Main/DxGraphicsDraw.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/ReportCapture.h"

namespace {

using namespace presentation_test;
using namespace ZiDaz;

constexpr int kFrameWidth = 320;
constexpr int kFrameHeight = 96;

struct Frame {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

bool WritePng(const std::string& path, int width, int height, const std::uint8_t* pixels,
              bool alpha) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr) != 0;
}

bool ReadPng(const std::string& path, Frame& frame) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
    image.format = PNG_FORMAT_RGB;
    frame.width = static_cast<int>(image.width);
    frame.height = static_cast<int>(image.height);
    frame.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    return png_image_finish_read(&image, nullptr, frame.rgb.data(), 0, nullptr) != 0;
}

class TextFramesTest : public PresentationTest {
  protected:
    void SetUp() override {
        PresentationTest::SetUp();
        ResetFontCacheLibrary();
        ResetTextDrawLibrary();
        StoreWindowModeFlag(1);
        SetUseHardwareDrawing(0);
        ASSERT_EQ(SetScreenMode(640, 480, 32, 0), 0);
        ASSERT_EQ(StartLibrary(), 0);
        folder_ = std::filesystem::temp_directory_path() /
                  ("velk-text-frames-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_ / "BasicData");
        savedDataPath_ = DataPath;
        DataPath = folder_.string() + "/";
        MakeImages();
        // A palette the frames show clearly: white, black, red, green, blue ... ruby in yellow.
        const int palette[16][3] = {
            {255, 255, 255}, {0, 0, 0},       {255, 64, 64},   {64, 220, 64},
            {80, 140, 255},  {255, 160, 0},   {200, 80, 255},  {0, 200, 200},
            {128, 128, 128}, {255, 255, 255}, {255, 255, 255}, {255, 255, 255},
            {255, 255, 255}, {255, 240, 80},  {255, 255, 255}, {255, 255, 255}};
        for (int i = 0; i < 16; ++i) {
            TheSystemDatabase.types[12].entries[i].numbers = {palette[i][0], palette[i][1],
                                                              palette[i][2]};
        }
        TheSystemState.baseFontSize = 20;
        TheSystemState.rubyFontSize = 10;
        TheSystemState.textShadow = 2;
    }
    void TearDown() override {
        ClearGraphicCache();
        EndLibrary();
        MainWindow = MainWindowState{};
        GraphicsSystemState = GraphicsSystemStateData{};
        DataPath = savedDataPath_;
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
        PresentationTest::TearDown();
    }

    // A 16 by 16 icon: a red disc on transparency; a 24 by 16 image: a green-blue gradient.
    void MakeImages() {
        std::vector<std::uint8_t> icon(16 * 16 * 4, 0);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                const int dx = 2 * x - 15, dy = 2 * y - 15;
                std::uint8_t* p = &icon[static_cast<std::size_t>((y * 16 + x) * 4)];
                if (dx * dx + dy * dy <= 196) p[0] = 230, p[1] = 40, p[2] = 40, p[3] = 255;
            }
        }
        ASSERT_TRUE(
            WritePng((folder_ / "BasicData" / "icon001.png").string(), 16, 16, icon.data(), true));
        std::vector<std::uint8_t> image(24 * 16 * 4, 255);
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 24; ++x) {
                std::uint8_t* p = &image[static_cast<std::size_t>((y * 24 + x) * 4)];
                p[0] = 20, p[1] = static_cast<std::uint8_t>(x * 10),
                p[2] = static_cast<std::uint8_t>(255 - y * 12);
            }
        }
        ASSERT_TRUE(WritePng((folder_ / "pic.png").string(), 24, 16, image.data(), true));
    }

    // Draws the text on a dark screen and compares the top-left of the screen with the fixture.
    void ExpectFrame(const std::string& name, const std::string& source, int charSet,
                     int smoothing = 0) {
        SCOPED_TRACE(name);
        TheBasicData.settingBytes[17] = static_cast<std::uint8_t>(charSet);
        TheBasicData.settingBytes[14] = static_cast<std::uint8_t>(smoothing);
        SelectDefaultFonts();
        LoadTextIcons();
        ASSERT_EQ(PaintRectangle(0, 0, 640, 480, ComposeScreenColor(24, 24, 48), 1), 0);
        Game_Text text;
        text.originX = 8;
        text.originY = 8;
        ShowWhole(text, source);
        Frame drawn{kFrameWidth, kFrameHeight, {}};
        const MEMIMG& s = GraphicsSystemState.ScreenImage;
        for (int y = 0; y < kFrameHeight; ++y) {
            for (int x = 0; x < kFrameWidth; ++x) {
                std::uint32_t v;
                std::memcpy(&v, s.Pixels + y * s.Shared->Pitch + x * 4, 4);
                drawn.rgb.push_back(static_cast<std::uint8_t>(v >> 16));
                drawn.rgb.push_back(static_cast<std::uint8_t>(v >> 8));
                drawn.rgb.push_back(static_cast<std::uint8_t>(v));
            }
        }
        const std::string path = std::string(VELK_TEXT_FRAMES_DIR) + "/" + name + ".png";
        if (const char* update = std::getenv("VELK_UPDATE_TEXT_FRAMES"); update && *update == '1') {
            ASSERT_TRUE(WritePng(path, kFrameWidth, kFrameHeight, drawn.rgb.data(), false));
        }
        Frame expected;
        ASSERT_TRUE(ReadPng(path, expected)) << path;
        ASSERT_EQ(expected.width, kFrameWidth);
        ASSERT_EQ(expected.height, kFrameHeight);
        // Glyph edges may shift by a shade between rasteriser releases; placement may not.
        int differing = 0;
        for (std::size_t i = 0; i < drawn.rgb.size(); i += 3) {
            for (std::size_t c = 0; c < 3; ++c) {
                if (std::abs(drawn.rgb[i + c] - expected.rgb[i + c]) > 24) {
                    ++differing;
                    break;
                }
            }
        }
        EXPECT_LE(differing, kFrameWidth * kFrameHeight / 200);
    }

    std::filesystem::path folder_;
    std::string savedDataPath_;
};

TEST_F(TextFramesTest, EnglishColoursSizesEdgesAndShadows) {
    shell_test::ReportCapture capture;
    ExpectFrame("english_styles",
                "Hello " + Colour(2) + "red " + Colour(3) + "green" + FontSize(32) + " Big\n" +
                    Colour(0) + RunOf(0x05) + RunOf(0x21, Digits(3, 3)) + "Edged " + RunOf(0x06) +
                    RunOf(0x28) + RunOf(0x24, Digits(5, 3)) + "Shadow" + RunOf(0x29) +
                    FontSize(12) + " small",
                5, 1);
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(TextFramesTest, JapaneseWithRubyAndAlignment) {
    shell_test::ReportCapture capture;
    ExpectFrame("japanese_ruby",
                "\n" + Ruby("漢字", "かんじ") + "の" + Colour(4) + "色" + Colour(0) + "と" +
                    Ruby("字", "もじのよみ") + "\n" + RunOf(0x15) + "右寄せの行\n" + RunOf(0x14) +
                    "中央",
                1);
    // The installed Japanese face answers to its Windows name.
    EXPECT_EQ(TheFontCache.defaultFace, "Meiryo");
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(TextFramesTest, IconsAndImagesInLine) {
    shell_test::ReportCapture capture;
    ExpectFrame("icons_images",
                "Icon:" + Icon(1) + "image:" + Image("pic.png") +
                    "big:" + RunOf(0x25, Digits(200, 3)) + Icon(1, true) + Image("pic.png", true) +
                    RunOf(0x25, Digits(100, 3)) + "\n" + RunOf(0x14) + "ア" + Icon(1) + "イ",
                1);
    EXPECT_TRUE(capture.reports().empty());
}

TEST_F(TextFramesTest, AtTwiceTheScreenScaleEverythingIsDoubled) {
    shell_test::ReportCapture capture;
    WindowScale = 2;
    ExpectFrame("scale2",
                "拡大" + Colour(5) + "Ab" + Icon(1) + Colour(0) + Ruby("字", "じ") + "\n" +
                    RunOf(0x15) + "右",
                1);
    EXPECT_TRUE(capture.reports().empty());
}

}  // namespace
