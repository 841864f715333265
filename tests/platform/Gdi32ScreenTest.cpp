// gdi32's screen: display device contexts and their device caps, the DPI of monitors, the display
// switch rule, and window contexts drawing into the client image that each release shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Gdi32.h"
#include "platform/Modules.h"
#include "platform/User32.h"

using namespace platform;
namespace test = platform::gdi32test;

namespace {

TEST(Gdi32ScreenTest, DisplayContextsAnswerTheirDisplaysCaps) {
    for (const char16_t* name : {u"\\\\.\\DISPLAY1", u"DISPLAY"}) {
        HDC dc = gdi32::CreateDCW(nullptr, name, nullptr, nullptr);
        ASSERT_NE(dc, nullptr);
        struct Cap {
            int index, value;
        };
        for (Cap c : {Cap{8, 1024}, Cap{10, 768}, Cap{12, 32}, Cap{14, 1}, Cap{116, 60},
                      Cap{117, 768}, Cap{118, 1024}}) {
            EXPECT_EQ(gdi32::GetDeviceCaps(dc, c.index), c.value) << c.index;
        }
        EXPECT_TRUE(gdi32::DeleteDC(dc));
        EXPECT_FALSE(gdi32::DeleteDC(dc));
    }
    EXPECT_EQ(gdi32::CreateDCW(u"WINSPOOL", u"Printer", nullptr, nullptr), nullptr);
    // Window contexts are not ended by DeleteDC.
    HDC screen = user32::GetDC(nullptr);
    EXPECT_FALSE(gdi32::DeleteDC(screen));
    EXPECT_EQ(user32::ReleaseDC(nullptr, screen), 1);
}

TEST(Gdi32ScreenTest, EntriesByNameDpiAndTheDisplaySwitchRule) {
    HMODULE gdi = LoadLibraryA("gdi32.dll");
    ASSERT_NE(gdi, nullptr);
    EXPECT_NE(GetProcAddress(gdi, "CreateDCW"), nullptr);
    EXPECT_NE(GetProcAddress(gdi, "SetDIBitsToDevice"), nullptr);
    HMODULE shcore = LoadLibraryA("Shcore.dll");
    ASSERT_NE(shcore, nullptr);
    auto dpi = reinterpret_cast<HRESULT (*)(HMONITOR, int, UINT*, UINT*)>(
        GetProcAddress(shcore, "GetDpiForMonitor"));
    ASSERT_NE(dpi, nullptr);
    UINT x = 0, y = 0;
    EXPECT_EQ(dpi(reinterpret_cast<HMONITOR>(1), 0, &x, &y), S_OK);
    EXPECT_EQ(x, 96u);
    EXPECT_EQ(y, 96u);
    EXPECT_LT(dpi(reinterpret_cast<HMONITOR>(1), 0, nullptr, &y), 0);

    // Only the desktop's own mode is accepted.
    DEVMODEA mode{};
    mode.dmSize = sizeof(mode);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = 32;
    mode.dmPelsWidth = 1024;
    mode.dmPelsHeight = 768;
    EXPECT_EQ(user32::ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
    mode.dmPelsWidth = 800;
    mode.dmPelsHeight = 600;
    EXPECT_EQ(user32::ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);
    mode.dmPelsWidth = 1024;
    mode.dmPelsHeight = 768;
    mode.dmBitsPerPel = 16;
    EXPECT_EQ(user32::ChangeDisplaySettingsA(&mode, 0), DISP_CHANGE_BADMODE);
    EXPECT_EQ(user32::ChangeDisplaySettingsA(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
}

TEST(Gdi32ScreenTest, WindowContextsDrawIntoTheClientImageThatEachReleaseShows) {
    test::InstallWindowScreen();
    test::CapturePresentedImages(true);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &user32::DefWindowProcW;
    wc.lpszClassName = u"Gdi32ScreenTest";
    ASSERT_NE(user32::RegisterClassExW(&wc), 0);
    HWND window = user32::CreateWindowExW(0, u"Gdi32ScreenTest", u"screen", WS_POPUP | WS_VISIBLE,
                                          0, 0, 64, 32, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(test::LastPresentedImage(window, nullptr, nullptr, nullptr));

    HDC dc = user32::GetDC(window);
    RECT all{0, 0, 64, 32};
    user32::FillRect(dc, &all, static_cast<HBRUSH>(gdi32::GetStockObject(WHITE_BRUSH)));
    RECT part{4, 4, 8, 8};
    user32::FillRect(dc, &part, static_cast<HBRUSH>(gdi32::GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(test::PresentCount(window), 0);
    user32::ReleaseDC(window, dc);
    EXPECT_EQ(test::PresentCount(window), 1);
    std::vector<std::uint32_t> pixels;
    int w = 0, h = 0;
    ASSERT_TRUE(test::LastPresentedImage(window, &pixels, &w, &h));
    ASSERT_EQ(w, 64);
    ASSERT_EQ(h, 32);
    EXPECT_EQ(pixels[0] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(pixels[4 * 64 + 4] & 0xFFFFFF, 0u);
    EXPECT_EQ(pixels[8 * 64 + 8] & 0xFFFFFF, 0xFFFFFFu);

    // A 2 x 2 bit-field DIB, 1:1 and stretched to 4 x 4 with the nearest pixel.
    struct {
        BITMAPINFOHEADER header;
        DWORD masks[3];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = 2;
    info.header.biHeight = -2;
    info.header.biPlanes = 1;
    info.header.biBitCount = 32;
    info.header.biCompression = BI_BITFIELDS;
    info.masks[0] = 0xFF0000;
    info.masks[1] = 0xFF00;
    info.masks[2] = 0xFF;
    const std::uint32_t dib[4] = {0x112233, 0x445566, 0x778899, 0xAABBCC};
    auto* bmi = reinterpret_cast<const BITMAPINFO*>(&info);
    dc = user32::GetDC(window);
    EXPECT_EQ(gdi32::SetDIBitsToDevice(dc, 10, 0, 2, 2, 0, 0, 0, 2, dib, bmi, DIB_RGB_COLORS), 2);
    EXPECT_EQ(gdi32::StretchDIBits(dc, 20, 0, 4, 4, 0, 0, 2, 2, dib, bmi, DIB_RGB_COLORS, SRCCOPY),
              2);
    user32::ReleaseDC(window, dc);
    ASSERT_TRUE(test::LastPresentedImage(window, &pixels, &w, &h));
    auto at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y) * 64 + x] & 0xFFFFFF; };
    EXPECT_EQ(at(10, 0), 0x112233u);
    EXPECT_EQ(at(11, 1), 0xAABBCCu);
    EXPECT_EQ(at(20, 0), 0x112233u);
    EXPECT_EQ(at(21, 1), 0x112233u);
    EXPECT_EQ(at(22, 1), 0x445566u);
    EXPECT_EQ(at(23, 3), 0xAABBCCu);
    EXPECT_EQ(at(24, 0), 0xFFFFFFu);
    EXPECT_EQ(test::PresentCount(window), 2);
    // A context released without drawing shows the same image again.
    user32::ReleaseDC(window, user32::GetDC(window));
    EXPECT_EQ(test::PresentCount(window), 3);
    ASSERT_TRUE(test::LastPresentedImage(window, &pixels, &w, &h));
    EXPECT_EQ(at(10, 0), 0x112233u);
    EXPECT_EQ(at(24, 0), 0xFFFFFFu);

    EXPECT_TRUE(user32::DestroyWindow(window));
    EXPECT_FALSE(test::LastPresentedImage(window, nullptr, nullptr, nullptr));
    user32::UnregisterClassW(u"Gdi32ScreenTest", nullptr);
    test::CapturePresentedImages(false);
}

}  // namespace
