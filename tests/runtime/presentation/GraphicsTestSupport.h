// Shared by the tests of the map drawing and the graphic cache: the game library running in
// software mode over SDL's dummy video driver, a data folder of its own with image files written
// by the library's BMP writer, and expected frames kept as PNG files.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphics.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/ShellGlobals.h"

namespace graphics_test {

// The colour the library's graphs treat as transparent unless a game sets another: black.
inline constexpr std::uint32_t kClear = 0x000000;

inline std::u16string Wide(const std::filesystem::path& path) {
    const std::string s = path.string();
    return std::u16string(s.begin(), s.end());
}

// Writes a 24-bit BMP whose pixel (x, y) is colour(x, y) as 0xRRGGBB.
inline bool WriteBmp(const std::filesystem::path& path, int w, int h,
                     const std::function<std::uint32_t(int, int)>& colour) {
    ZiDaz::BASEIMAGE image{};
    if (ZiDaz::NewBaseImageRgb24(w, h, &image) != 0) return false;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = colour(x, y);
            ZiDaz::WriteBaseImagePixelRgba(&image, x, y, c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF,
                                           255);
        }
    }
    const bool ok = ZiDaz::WriteBaseImageBmpFile(Wide(path).c_str(), &image) == 0;
    ZiDaz::DisposeBaseImage(&image);
    return ok;
}

class LibraryTest : public ::testing::Test {
  protected:
    std::filesystem::path dir;
    // The screen SetUp starts; a fixture may change it in its constructor.
    int screenWidth = 160;
    int screenHeight = 120;

    // Starts the library with a screen of w x h window pixels.
    void StartScreen(int w, int h) {
        ZiDaz::StoreWindowModeFlag(1);
        ZiDaz::SetUseHardwareDrawing(0);
        ASSERT_EQ(ZiDaz::SetScreenMode(w, h, 32, 0), 0);
        ASSERT_EQ(ZiDaz::StartLibrary(), 0);
        started_ = true;
        ScreenWidth = w;
        ScreenHeight = h;
    }
    void SetUp() override {
        savedDataPath_ = DataPath;
        savedTestPlay_ = TestPlay;
        savedScreenWidth_ = ScreenWidth;
        savedScreenHeight_ = ScreenHeight;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = std::filesystem::temp_directory_path() /
              ("velk_gfx_" + std::string(info->test_suite_name()) + "_" + info->name() + "_" +
               std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        DataPath = dir.string() + "/";
        StartScreen(screenWidth, screenHeight);
    }
    void TearDown() override {
        ClearGraphicCache();
        if (started_) ZiDaz::EndLibrary();
        // Later tests in this process see a library that was never started.
        ZiDaz::MainWindow = ZiDaz::MainWindowState{};
        ZiDaz::GraphicsSystemState = ZiDaz::GraphicsSystemStateData{};
        DataPath = savedDataPath_;
        TestPlay = savedTestPlay_;
        ScreenWidth = savedScreenWidth_;
        ScreenHeight = savedScreenHeight_;
        std::filesystem::remove_all(dir);
    }

    static std::uint32_t ScreenPixel(int x, int y) {
        const ZiDaz::MEMIMG& s = ZiDaz::GraphicsSystemState.ScreenImage;
        std::uint32_t v;
        std::memcpy(&v, s.Pixels + y * s.Shared->Pitch + x * 4, 4);
        return v & 0xFFFFFF;
    }
    static void ClearScreen(std::uint32_t colour) {
        const ZiDaz::MEMIMG& s = ZiDaz::GraphicsSystemState.ScreenImage;
        for (int y = 0; y < s.Height; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(s.Pixels + y * s.Shared->Pitch);
            for (int x = 0; x < s.Width; ++x) row[x] = colour;
        }
    }
    static bool SaveScreenPng(const std::filesystem::path& path) {
        const ZiDaz::MEMIMG& s = ZiDaz::GraphicsSystemState.ScreenImage;
        ZiDaz::BASEIMAGE image{};
        if (ZiDaz::NewBaseImageRgb24(s.Width, s.Height, &image) != 0) return false;
        for (int y = 0; y < s.Height; ++y) {
            for (int x = 0; x < s.Width; ++x) {
                const std::uint32_t c = ScreenPixel(x, y);
                ZiDaz::WriteBaseImagePixelRgba(&image, x, y, c >> 16 & 0xFF, c >> 8 & 0xFF,
                                               c & 0xFF, 255);
            }
        }
        const bool ok = ZiDaz::EncodePngFile(Wide(path).c_str(), nullptr, &image, 9) == 0;
        ZiDaz::DisposeBaseImage(&image);
        return ok;
    }
    // The number of screen pixels that differ from the PNG (-1 when it cannot be read or its size
    // differs).
    static int DifferingPixels(const std::filesystem::path& path) {
        ZiDaz::BASEIMAGE image{};
        if (ZiDaz::ReadImageToBaseImage(Wide(path).c_str(), nullptr, 0, 0, 0, 0, 0, &image, nullptr,
                                        nullptr) != 0) {
            return -1;
        }
        const ZiDaz::MEMIMG& s = ZiDaz::GraphicsSystemState.ScreenImage;
        int bad = -1;
        if (image.Width == s.Width && image.Height == s.Height) {
            bad = 0;
            for (int y = 0; y < s.Height; ++y) {
                for (int x = 0; x < s.Width; ++x) {
                    int r = 0, g = 0, b = 0;
                    ZiDaz::ReadBaseImagePixelRgba(&image, x, y, &r, &g, &b, nullptr);
                    if (static_cast<std::uint32_t>(r << 16 | g << 8 | b) != ScreenPixel(x, y)) {
                        ++bad;
                    }
                }
            }
        }
        ZiDaz::DisposeBaseImage(&image);
        return bad;
    }

  private:
    std::string savedDataPath_;
    bool savedTestPlay_ = false;
    std::int32_t savedScreenWidth_ = 640, savedScreenHeight_ = 480;
    bool started_ = false;
};

}  // namespace graphics_test
