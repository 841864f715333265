// gdi32's shared object and device-context table: selecting bitmaps into memory contexts, stock
// objects, deleting, and FillRect drawing through whatever surface a context has.
#include <gtest/gtest.h>

#include <vector>

#include "platform/Gdi32.h"
#include "platform/User32.h"

using namespace platform::gdi32;
namespace gdi = platform::gdi;

namespace {

// A 32-bit test bitmap of its own pixels.
class TestBitmap : public gdi::BitmapObject {
  public:
    TestBitmap(int w, int h)
        : width(w), height(h), pixels(static_cast<size_t>(w * h), 0x12345678) {}
    bool GetSurface(gdi::Surface* out) override {
        out->bits = reinterpret_cast<BYTE*>(pixels.data());
        out->width = width;
        out->height = height;
        out->pitch = width * 4;
        out->bitCount = 32;
        return true;
    }
    int width, height;
    std::vector<std::uint32_t> pixels;
};

TEST(Gdi32ObjectsTest, MemoryContextsSelectBitmapsAndFillThem) {
    auto bitmap = std::make_shared<TestBitmap>(4, 3);
    HBITMAP handle = gdi::AddObject(bitmap);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(GetObjectType(handle), OBJ_BITMAP);

    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(GetObjectType(reinterpret_cast<HGDIOBJ>(dc)), OBJ_MEMDC);
    HGDIOBJ previous = SelectObject(dc, handle);
    ASSERT_NE(previous, nullptr);
    EXPECT_EQ(GetObjectType(previous), OBJ_BITMAP);  // the default 1 x 1 bitmap

    HBRUSH red = CreateSolidBrush(0x0000FF);
    RECT r{1, 1, 10, 2};  // clipped to the bitmap
    EXPECT_EQ(platform::user32::FillRect(dc, &r, red), 1);
    EXPECT_EQ(bitmap->pixels[0], 0x12345678u);
    EXPECT_EQ(bitmap->pixels[5], 0x00FF0000u);
    EXPECT_EQ(bitmap->pixels[7], 0x00FF0000u);
    EXPECT_EQ(bitmap->pixels[9], 0x12345678u);
    r = RECT{0, 0, 1, 1};
    EXPECT_EQ(platform::user32::FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))),
              1);
    EXPECT_EQ(bitmap->pixels[0], 0u);

    // Putting the default bitmap back gives the test bitmap out again.
    EXPECT_EQ(SelectObject(dc, previous), handle);
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    EXPECT_TRUE(DeleteObject(red));
    EXPECT_TRUE(DeleteObject(handle));
    EXPECT_FALSE(DeleteObject(handle));
    EXPECT_EQ(GetObjectType(handle), 0u);
    EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));  // stock objects stay
    EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), OBJ_BRUSH);
}

TEST(Gdi32ObjectsTest, WindowContextsDrawThroughTheWindowHooks) {
    static std::vector<std::uint32_t> client(8 * 2, 0xFFFFFFFF);
    static int released = 0;
    gdi::SetWindowHooks(
        [](HWND, gdi::Surface* out) {
            out->bits = reinterpret_cast<BYTE*>(client.data());
            out->width = 8;
            out->height = 2;
            out->pitch = 32;
            out->bitCount = 32;
            return true;
        },
        [](HWND) { ++released; });
    HDC screen = platform::user32::GetDC(nullptr);  // the screen's context has no window surface
    ASSERT_NE(screen, nullptr);
    RECT all{0, 0, 8, 2};
    EXPECT_EQ(
        platform::user32::FillRect(screen, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))),
        1);
    EXPECT_EQ(client[0], 0xFFFFFFFFu);
    EXPECT_EQ(platform::user32::ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(platform::user32::ReleaseDC(nullptr, screen), 0);
    EXPECT_EQ(released, 0);
    gdi::SetWindowHooks(nullptr, nullptr);
}

}  // namespace
