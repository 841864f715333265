// Drawing into base images: clearing and filling clipped rectangles, circles, flipping and
// mirroring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Main/DxBaseImage.h"

using namespace ZiDaz;

namespace {

// An image over its own bytes, of one pixel format.
struct TestImage {
    BASEIMAGE image{};
    std::vector<std::uint8_t> bytes;
    TestImage(int width, int height, int (*init)(COLORFORMAT*), std::uint8_t fill = 0xEE) {
        init(&image.Format);
        image.Width = width;
        image.Height = height;
        image.Pitch = width * image.Format.BytesPerPixel + 4;  // rows padded beyond the width
        bytes.assign(static_cast<std::size_t>(image.Pitch) * height + 4, fill);
        image.Pixels = bytes.data();
    }
    std::uint8_t* At(int x, int y) {
        return bytes.data() + y * image.Pitch + x * image.Format.BytesPerPixel;
    }
    // One character per pixel: '#' where the first byte is `mark`, '.' otherwise.
    std::string Map(std::uint8_t mark) {
        std::string s;
        for (int y = 0; y < image.Height; ++y) {
            for (int x = 0; x < image.Width; ++x) s += *At(x, y) == mark ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

TEST(BaseImageDrawTest, ZeroAndFillClipToTheImage) {
    TestImage t(4, 2, InitColorFormatRgb24);
    EXPECT_EQ(ZeroBaseImageRect(&t.image, -5, 0, 10, 1), 0);  // columns 0 to 3 only
    EXPECT_EQ(t.Map(0), "####\n....\n");
    EXPECT_EQ(t.bytes[12], 0xEE);  // the row's padding stays
    EXPECT_EQ(ZeroBaseImageRect(&t.image, -20, 0, 10, 1), -1);
    for (auto r : {std::vector<int>{0, 0, 0, 1}, {4, 0, 1, 1}, {0, 2, 1, 1}, {0, -1, 1, 1}}) {
        EXPECT_EQ(FillBaseImageRect(&t.image, r[0], r[1], r[2], r[3], 1, 2, 3, 4), -1);
    }
    EXPECT_EQ(t.Map(0), "####\n....\n");

    EXPECT_EQ(FillBaseImageRect(&t.image, 2, 1, 5, 5, 0x11, 0x22, 0x33, 0xFF), 0);
    EXPECT_EQ(t.At(2, 1)[0], 0x33);
    EXPECT_EQ(t.At(3, 1)[2], 0x11);
    EXPECT_EQ(t.At(1, 1)[0], 0xEE);

    // Palette images take the red argument as the index; 2- and 4-byte pixels their value.
    TestImage pal(3, 1, InitColorFormatPal8);
    EXPECT_EQ(FillBaseImageRect(&pal.image, 1, 0, 1, 1, 7, 200, 200, 0), 0);
    EXPECT_EQ(pal.Map(7), ".#.\n");
    TestImage r565(3, 1, InitColorFormatR5G6B5);
    FillBaseImage(&r565.image, 255, 0, 0, 255);
    EXPECT_EQ(r565.At(2, 0)[1], 0xF8);
    TestImage argb(2, 2, InitColorFormatArgb8);
    FillBaseImage(&argb.image, 1, 2, 3, 4);
    EXPECT_EQ(argb.At(1, 1)[3], 4);
    EXPECT_EQ(argb.At(1, 1)[2], 1);
}

TEST(BaseImageDrawTest, CirclesDrawTheirSpansAndOutlines) {
    struct Case {
        const char* name;
        int w, h, cx, cy, r, fill;
        const char* map;
    };
    const Case cases[] = {
        {"filled radius 2", 5, 5, 2, 2, 2, 1, ".###.\n#####\n#####\n#####\n.###.\n"},
        {"filled radius 1", 3, 3, 1, 1, 1, 1, ".#.\n###\n.#.\n"},
        {"radius 0", 3, 3, 1, 1, 0, 1, "...\n.#.\n...\n"},
        {"outline radius 2", 5, 5, 2, 2, 2, 0, ".###.\n#...#\n#...#\n#...#\n.###.\n"},
        {"outline partly outside", 4, 3, 0, 1, 2, 0, "..#.\n..#.\n..#.\n"},
        {"filled partly outside", 3, 2, 2, 0, 2, 1, "###\n###\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestImage t(c.w, c.h, InitColorFormatPal8, 0);
        EXPECT_EQ(DrawCircleInBaseImage(&t.image, c.cx, c.cy, c.r, 9, 0, 0, 0, c.fill), 0);
        EXPECT_EQ(t.Map(9), c.map);
        // Nothing is written outside the rows.
        EXPECT_EQ(t.bytes.back(), 0);
        for (int y = 0; y < c.h; ++y) EXPECT_EQ(t.bytes[y * t.image.Pitch + c.w], 0);
    }
}

TEST(BaseImageDrawTest, FlipAndMirror) {
    TestImage t(3, 3, InitColorFormatRgb24);
    for (int i = 0; i < 27; ++i) t.At(0, 0)[i + (i / 9) * 4] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(MirrorBaseImageHorizontally(&t.image), 0);
    EXPECT_EQ(t.At(0, 0)[0], 6);
    EXPECT_EQ(t.At(1, 0)[0], 3);  // the middle pixel stays
    EXPECT_EQ(t.At(2, 0)[2], 2);
    EXPECT_EQ(FlipBaseImageVertically(&t.image), 0);
    EXPECT_EQ(t.At(0, 0)[0], 24);
    EXPECT_EQ(t.At(0, 2)[0], 6);
    EXPECT_EQ(t.At(0, 1)[0], 15);

    TestImage row(4, 1, InitColorFormatArgb8);
    std::vector<std::uint8_t> before = row.bytes;
    EXPECT_EQ(FlipBaseImageVertically(&row.image), 0);
    EXPECT_EQ(row.bytes, before);
    row.image.Format.FormatKind = 1;
    EXPECT_EQ(FlipBaseImageVertically(&row.image), -1);
    row.image.Width = 0;
    EXPECT_EQ(MirrorBaseImageHorizontally(&row.image), -1);
}

}  // namespace
