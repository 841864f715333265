// Windows DIBs and base images: packed DIBs read directly or through GDI, DIB sections built from
// DIBs and image files, and the absent Windows Imaging Component.
#include <gtest/gtest.h>

#include "../ImageFileBuilders.h"
#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"
#include "platform/Gdi32.h"

using namespace ZiDaz;
using namespace velk_test;

namespace {

// A packed DIB: the BITMAPINFO part of a BMP file and its bits.
struct Dib {
    Bytes info;
    Bytes bits;
    const BITMAPINFO* Info() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
};

Dib FromBmp(const BmpSpec& s) {
    Bytes file = MakeBmp(s);
    const std::uint32_t offset = file[10] | file[11] << 8;
    return {Bytes(file.begin() + 14, file.begin() + offset), s.data};
}

TEST(BaseImageWinTest, PackedDibsReadDirectlyOrThroughTheSystem) {
    // A bottom-up 8-bit DIB becomes RGB24 through GDI.
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.bitCount = 8;
    s.data = {1, 2, 3, 0, 4, 5, 6, 0};
    Dib dib = FromBmp(s);
    BASEIMAGE image;
    ASSERT_EQ(ReadBitmapInfoImage(dib.Info(), dib.bits.data(), &image, 0), 1);
    EXPECT_EQ(image.Format.BytesPerPixel, 3);
    EXPECT_EQ(image.Pitch, 12);
    std::uint8_t e[4];
    PaletteEntry(4, e);
    EXPECT_EQ(std::memcmp(image.Pixels, e, 3), 0);  // the top row is the second stored row
    FreeTrackedMemory(image.Pixels);

    // A top-down 5-6-5 bit-field DIB is used in place with copy flag 0, copied with 1.
    BmpSpec r565;
    r565.width = 2;
    r565.height = -2;
    r565.bitCount = 16;
    r565.compression = 3;
    r565.masks = {0xF800, 0x7E0, 0x1F};
    r565.data = RandomBytes(8, 4);
    Dib d565 = FromBmp(r565);
    ASSERT_EQ(ReadBitmapInfoImage(d565.Info(), d565.bits.data(), &image, 0), 0);
    EXPECT_EQ(image.Pixels, d565.bits.data());
    EXPECT_EQ(image.Format.RedMask, 0xF800u);
    EXPECT_EQ(image.Format.UnusedMask, 0u);
    ASSERT_EQ(ReadBitmapInfoImage(d565.Info(), d565.bits.data(), &image, 1), 1);
    EXPECT_NE(image.Pixels, d565.bits.data());
    EXPECT_EQ(std::memcmp(image.Pixels, d565.bits.data(), 8), 0);
    FreeTrackedMemory(image.Pixels);

    // A top-down 32-bit BI_RGB DIB reads as XRGB8; a 2-bit one is refused.
    BmpSpec x;
    x.width = 1;
    x.height = -1;
    x.bitCount = 32;
    x.data = {1, 2, 3, 4};
    Dib dx = FromBmp(x);
    ASSERT_EQ(ReadBitmapInfoImage(dx.Info(), dx.bits.data(), &image, 0), 0);
    EXPECT_EQ(image.Format.AlphaWidth, 0);
    EXPECT_EQ(image.Format.UnusedMask, 0xFF000000u);
    BmpSpec two;
    two.width = 4;
    two.height = 1;
    two.bitCount = 2;
    two.data = {0xFF, 0, 0, 0};
    Dib d2 = FromBmp(two);
    EXPECT_EQ(ReadBitmapInfoImage(d2.Info(), d2.bits.data(), &image, 0), -1);
}

TEST(BaseImageWinTest, DibSectionsFromDibsAndFiles) {
    BmpSpec s;
    s.width = 3;
    s.height = 1;
    s.bitCount = 24;
    s.data = {1, 1, 1, 2, 2, 2, 3, 3, 3, 0, 0, 0};
    Dib dib = FromBmp(s);
    // A 32-bit format with a 24-bit source: the record becomes RGB24.
    COLORFORMAT format{};
    InitColorFormatXrgb8(&format);
    HBITMAP section = BuildDIBSection(dib.Info(), dib.bits.data(), 0, &format);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(format.BytesPerPixel, 3);
    DIBSECTION ds{};
    ASSERT_EQ(platform::gdi32::GetObjectA(section, sizeof(ds), &ds), int(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
    EXPECT_EQ(static_cast<std::uint8_t*>(ds.dsBm.bmBits)[0], 1);
    platform::gdi32::DeleteObject(section);

    // Mirrored, with a 16-bit format: bit fields of the record.
    InitColorFormatR5G6B5(&format);
    section = BuildDIBSection(dib.Info(), dib.bits.data(), 1, &format);
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(platform::gdi32::GetObjectA(section, sizeof(ds), &ds), int(sizeof(ds)));
    EXPECT_EQ(ds.dsBmih.biCompression, BI_BITFIELDS);
    const auto* px = static_cast<const std::uint16_t*>(ds.dsBm.bmBits);
    EXPECT_EQ(px[0], 0);  // 3 in each channel is below one 5-bit step
    EXPECT_EQ(px[2], 0);
    platform::gdi32::DeleteObject(section);

    // From a BMP file image in memory, without a format record.
    BmpSpec file;
    file.width = 2;
    file.height = 2;
    file.bitCount = 8;
    file.data = {1, 2, 0, 0, 3, 4, 0, 0};
    Bytes bmp = MakeBmp(file);
    section = LoadImageAsDIBSection(nullptr, bmp.data(), bmp.size(), 1, 1, nullptr);
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(platform::gdi32::GetObjectA(section, sizeof(ds), &ds), int(sizeof(ds)));
    EXPECT_EQ(ds.dsBm.bmWidth, 2);
    // A palette image gives an 8-bit section with its palette; mirrored, the top row's first
    // pixel is index 4.
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 8);
    EXPECT_EQ(static_cast<const std::uint8_t*>(ds.dsBm.bmBits)[0], 4);
    platform::gdi32::DeleteObject(section);
    Bytes junk = {1, 2, 3};
    EXPECT_EQ(LoadImageAsDIBSection(nullptr, junk.data(), junk.size(), 1, 0, nullptr), nullptr);
    EXPECT_EQ(CreateDIBGraph(u"/nonexistent/picture.bmp", 0, nullptr), nullptr);
}

TEST(BaseImageWinTest, TheImagingComponentIsAbsentAndComesLast) {
    const int before = BaseImageLoadSettings.PlatformReadersLast;
    EXPECT_EQ(StartWicImageReader(), 0);
    EXPECT_EQ(BaseImageLoadSettings.PlatformReadersLast, 1);
    Bytes anything = {0x89, 'P', 'N', 'G'};
    MemoryStream* stream = CreateMemoryStream(anything.data(), anything.size());
    ImageReaderAccess access{GetMemoryStreamAccess(), stream};
    BASEIMAGE image{};
    EXPECT_EQ(ReadWicImage(&access, &image, 0), -1);
    GetMemoryStreamAccess()->Close(stream);
    EXPECT_EQ(EndWicImageReader(), 0);
    BaseImageLoadSettings.PlatformReadersLast = before;
}

}  // namespace
