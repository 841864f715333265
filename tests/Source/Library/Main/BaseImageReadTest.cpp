// The image readers and writers: BMP, TGA and DDS files made at test time decode to Pillow's
// pixels; the raw "BGRA" and "DBIM" formats, the reader driver and its post-processing, the alpha
// file name; damaged files are refused without leaks; the BMP and DDS writers' files decode in
// Pillow to their sources.
#include <gtest/gtest.h>

#include <string>

#include "ImageFileBuilders.h"
#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"
#include "PillowOracle.h"

using namespace ZiDaz;
using namespace velk_test;

namespace {

// Reads a file image through the whole driver.
int ReadMemory(const Bytes& file, BASEIMAGE* image, int mirror = 0) {
    std::memset(image, 0, sizeof(*image));
    return ReadImageToBaseImage(nullptr, file.data(), file.size(), 1, 0, mirror, 0, image, nullptr,
                                nullptr);
}

struct OracleCase {
    std::string name;
    Bytes file;
    bool mirrorExpected = false;  // Pillow's decode is mirrored left to right first
};

// Each file read by the driver equals Pillow's decode of it.
void ExpectPillowPixels(const std::vector<OracleCase>& cases, const char* extension) {
    ScratchDir dir("imagereaders");
    std::vector<std::filesystem::path> paths;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(dir.path / (std::to_string(i) + extension));
        WriteBytes(paths.back(), cases[i].file);
    }
    auto decoded = PillowDecode(paths);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        BASEIMAGE image;
        ASSERT_EQ(ReadMemory(cases[i].file, &image), 0);
        EXPECT_EQ(ImagePixels(image), decoded[i]);
        FreeTrackedMemory(image.Pixels);
    }
}

BmpSpec RandomBmp(int width, int height, int bitCount, std::uint32_t compression = 0,
                  std::vector<std::uint32_t> masks = {}) {
    BmpSpec s;
    s.width = width;
    s.height = height;
    s.bitCount = bitCount;
    s.compression = compression;
    s.masks = std::move(masks);
    s.data = RandomBytes(BmpStride(width, bitCount) * std::abs(height),
                         static_cast<std::uint32_t>(width * 7 + bitCount));
    return s;
}

TEST(BaseImageReadTest, BmpFilesReadAsPillowDecodesThem) {
    std::vector<OracleCase> cases;
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        for (int height : {3, -3}) {
            cases.push_back({std::to_string(bits) + " bits, height " + std::to_string(height),
                             MakeBmp(RandomBmp(7, height, bits))});
        }
    }
    cases.push_back({"bit fields 5-6-5", MakeBmp(RandomBmp(5, 2, 16, 3, {0xF800, 0x7E0, 0x1F}))});
    cases.push_back({"bit fields 5-5-5", MakeBmp(RandomBmp(5, -2, 16, 3, {0x7C00, 0x3E0, 0x1F}))});
    cases.push_back(
        {"bit fields 8-8-8", MakeBmp(RandomBmp(3, 2, 32, 3, {0xFF0000, 0xFF00, 0xFF}))});
    cases.push_back(
        {"bit fields high", MakeBmp(RandomBmp(3, 2, 32, 3, {0xFF000000, 0xFF0000, 0xFF00}))});
    BmpSpec rle8 = RandomBmp(10, 4, 8, 1);
    rle8.data = {3, 1, 2, 7, 0, 5, 3, 4, 5, 6, 8, 0, 0, 0, 2, 9, 0, 0, 4, 5, 0, 0, 10, 11, 0, 1};
    cases.push_back({"RLE8", MakeBmp(rle8)});
    BmpSpec rle4 = RandomBmp(10, 4, 4, 2);
    rle4.data = {3, 0x12, 1, 0x34, 0, 6,    0x56, 0x78, 0x9A, 0,    0, 0,
                 2, 0xAB, 0, 0,    4, 0xEF, 0,    0,    10,   0xCD, 0, 1};
    cases.push_back({"RLE4", MakeBmp(rle4)});
    // A version 5 header of 124 bytes with a short palette: the palette follows the header.
    BmpSpec v5 = RandomBmp(6, 2, 8);
    v5.headerSize = 124;
    v5.colorsUsed = 20;
    for (auto& b : v5.data) b %= 20;
    cases.push_back({"124-byte header, 20 colours", MakeBmp(v5)});
    ExpectPillowPixels(cases, ".bmp");
}

// Bit fields Pillow refuses go through the system conversion; a slow reader of the masks checks
// them.
TEST(BaseImageReadTest, OddBitFieldsGoThroughTheSystemTo24Bits) {
    BmpSpec s = RandomBmp(5, 3, 16, 3, {0x7C0, 0x3E0, 0x1F});
    BASEIMAGE image;
    ASSERT_EQ(ReadMemory(MakeBmp(s), &image), 0);
    EXPECT_EQ(image.Format.BytesPerPixel, 3);
    EXPECT_EQ(image.Pitch, 16);
    Bytes expected;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            const std::uint8_t* p = &s.data[(2 - y) * BmpStride(5, 16) + x * 2];
            std::uint32_t v = p[0] | p[1] << 8;
            for (std::uint32_t m : s.masks) {
                int shift = 0;
                while (!(m >> shift & 1)) ++shift;
                expected.push_back(
                    static_cast<std::uint8_t>(((v & m) >> shift) * 255 / (m >> shift)));
            }
        }
    }
    EXPECT_EQ(ImagePixels(image), expected);
    FreeTrackedMemory(image.Pixels);
}

TEST(BaseImageReadTest, BmpReaderExamples) {
    // 1 bit: indices 0 and 1, highest palette index 15.
    BASEIMAGE image;
    BmpSpec one = RandomBmp(9, 2, 1);
    ASSERT_EQ(RunReader(ReadBmpImage, MakeBmp(one), &image), 0);
    EXPECT_EQ(image.Format.HighestPaletteIndex, 15);
    EXPECT_EQ(image.Pitch, 12);
    for (int x = 0; x < 9; ++x) EXPECT_LE(static_cast<std::uint8_t*>(image.Pixels)[x], 1);
    FreeTrackedMemory(image.Pixels);

    // The RLE8 delta (0, 2, 3, 1) continues three pixels to the right on the next row.
    BmpSpec rle = RandomBmp(8, 2, 8, 1);
    rle.data = {2, 5, 0, 2, 3, 1, 1, 6, 0, 1};
    ASSERT_EQ(RunReader(ReadBmpImage, MakeBmp(rle), &image), 0);
    const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
    const std::uint8_t bottom[8] = {5, 5, 0, 0, 0, 0, 0, 0}, top[8] = {0, 0, 0, 0, 0, 6, 0, 0};
    EXPECT_EQ(std::memcmp(p + image.Pitch, bottom, 8), 0);
    EXPECT_EQ(std::memcmp(p, top, 8), 0);
    FreeTrackedMemory(image.Pixels);

    // 16 bits with compression 0 and with 5-5-5 masks give the same 5-5-5 format.
    for (std::uint32_t compression : {0u, 3u}) {
        BmpSpec s = RandomBmp(2, -1, 16, compression);
        if (compression == 3) s.masks = {0x7C00, 0x3E0, 0x1F};
        ASSERT_EQ(RunReader(ReadBmpImage, MakeBmp(s), &image), 0);
        EXPECT_EQ(image.Format.RedMask, 0x7C00u);
        EXPECT_EQ(image.Format.UnusedMask, 0x8000u);
        EXPECT_EQ(image.Format.UnusedPosition, 15);
        // Top-down rows are used as they were read.
        EXPECT_EQ(std::memcmp(image.Pixels, s.data.data(), 4), 0);
        FreeTrackedMemory(image.Pixels);
    }

    // 32 bits with compression 0 keep their fourth byte as alpha.
    BmpSpec clear = RandomBmp(2, 1, 32);
    for (std::size_t i = 3; i < clear.data.size(); i += 4) clear.data[i] = 0;
    ASSERT_EQ(RunReader(ReadBmpImage, MakeBmp(clear), &image), 0);
    EXPECT_EQ(image.Format.AlphaMask, 0xFF000000u);
    EXPECT_EQ(ImagePixels(image, true)[3], 0);
    FreeTrackedMemory(image.Pixels);

    // Header-only: sizes and format, no pixels.
    ASSERT_EQ(RunReader(ReadBmpImage, MakeBmp(RandomBmp(4, 3, 24)), &image, 1), 0);
    EXPECT_EQ(image.Width, 4);
    EXPECT_EQ(image.Height, 3);
    EXPECT_EQ(image.Pixels, nullptr);
}

TEST(BaseImageReadTest, DibsTheSystemCannotDrawAreRefused) {
    // 2 bits, JPEG and PNG inside: no line copied, so the reader refuses and others are tried.
    BmpSpec two = RandomBmp(4, 2, 2);
    BmpSpec jpeg = RandomBmp(4, 2, 24, 4);
    BmpSpec png = RandomBmp(4, 2, 24, 5);
    for (const BmpSpec* s : {&two, &jpeg, &png}) {
        BASEIMAGE image;
        EXPECT_EQ(RunReader(ReadBmpImage, MakeBmp(*s), &image), -1);
        EXPECT_EQ(image.Pixels, nullptr);
    }
}

TEST(BaseImageReadTest, TgaFilesReadAsPillowDecodesThem) {
    std::vector<OracleCase> cases;
    std::uint32_t seed = 5;
    for (int type : {1, 2, 9, 10}) {
        for (int depth : {16, 24, 32}) {
            // Pillow refuses colour maps of 32-bit entries.
            if ((type == 1 || type == 9) && depth == 32) continue;
            for (int descriptor : {0x00, 0x10, 0x20, 0x30}) {
                TgaSpec s;
                s.type = type;
                s.depth = depth;
                s.width = 5;
                s.height = 3;
                s.descriptor = descriptor;
                s.footer = descriptor == 0x10;
                const bool mapped = type == 1 || type == 9;
                s.mapLength = mapped ? 40 : 0;
                const int unit = mapped ? 1 : depth / 8;
                s.pixels = RandomBytes(15 * unit, seed++);
                for (int i = 0; i < 4 * unit; ++i) s.pixels[i] = s.pixels[i % unit];  // a run
                if (mapped) {
                    for (auto& b : s.pixels) b %= 40;
                }
                cases.push_back({"type " + std::to_string(type) + ", depth " +
                                     std::to_string(depth) + ", descriptor " +
                                     std::to_string(descriptor),
                                 MakeTga(s)});
            }
        }
    }
    ExpectPillowPixels(cases, ".tga");
}

TEST(BaseImageReadTest, TgaOrientationAndRefusals) {
    // Descriptor 0x20 needs no copy, 0x00 is turned over, 0x30 only mirrored.
    TgaSpec s;
    s.width = 2;
    s.height = 2;
    s.pixels = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    struct Case {
        int descriptor;
        std::vector<int> order;
    };
    for (const Case& c : {Case{0x20, {1, 2, 3, 4}}, Case{0x00, {3, 4, 1, 2}},
                          Case{0x30, {2, 1, 4, 3}}, Case{0x10, {4, 3, 2, 1}}}) {
        s.descriptor = c.descriptor;
        BASEIMAGE image;
        ASSERT_EQ(RunReader(ReadTgaImage, MakeTga(s), &image), 0);
        EXPECT_EQ(image.Pitch, 6);
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(static_cast<std::uint8_t*>(image.Pixels)[i * 3], c.order[i]) << c.descriptor;
        }
        FreeTrackedMemory(image.Pixels);
    }
    // Type 3 (grey), an origin, 32768 x 32768 x 4 with no data, and a 12-bit depth are refused.
    TgaSpec grey = s;
    grey.type = 3;
    Bytes origin = MakeTga(s);
    origin[8] = 1;
    TgaSpec huge = s;
    huge.width = huge.height = 32768;
    huge.depth = 32;
    huge.pixels.clear();
    Bytes odd = MakeTga(s);
    odd[16] = 12;
    for (const Bytes& f : {MakeTga(grey), origin, MakeTga(huge), odd}) {
        BASEIMAGE image;
        EXPECT_EQ(RunReader(ReadTgaImage, f, &image), -1);
        EXPECT_EQ(ReadMemory(f, &image), -1);
    }
    // Run-length data running past the pixel count is cut.
    TgaSpec rle = s;
    rle.type = 10;
    Bytes file = MakeTga(rle);
    file.insert(file.end(), {0x83, 9, 9, 9});
    BASEIMAGE image;
    ASSERT_EQ(RunReader(ReadTgaImage, file, &image), 0);
    FreeTrackedMemory(image.Pixels);
}

TEST(BaseImageReadTest, DdsFilesReadAsPillowDecodesThem) {
    std::vector<OracleCase> cases;
    DdsSpec rgb;
    rgb.width = 5;
    rgb.height = 3;
    rgb.bitCount = 24;
    rgb.data = RandomBytes(45, 3);
    cases.push_back({"24 bits", MakeDds(rgb)});
    // (Pillow reads 32-bit files without alpha as 3 bytes a pixel, so those are left out.)
    DdsSpec argb = rgb;
    argb.bitCount = 32;
    argb.data = RandomBytes(60, 4);
    argb.pfFlags = 0x41;
    argb.masks[3] = 0xFF000000;
    cases.push_back({"32 bits with alpha", MakeDds(argb)});
    ExpectPillowPixels(cases, ".dds");

    // Flags 0x41 with ARGB masks give that mask format.
    BASEIMAGE image;
    ASSERT_EQ(RunReader(ReadDdsImage, MakeDds(argb), &image), 0);
    EXPECT_EQ(image.Format.AlphaMask, 0xFF000000u);
    EXPECT_EQ(image.Format.RedMask, 0xFF0000u);
    EXPECT_EQ(image.Pitch, 20);
    FreeTrackedMemory(image.Pixels);
}

TEST(BaseImageReadTest, DdsBlockChainsCubesAndFourCcFormats) {
    // DXT5 256 x 256 with 9 levels reads 87,408 bytes, and needs all of them.
    DdsSpec dxt;
    dxt.width = dxt.height = 256;
    dxt.flags = 0x2100F;
    dxt.mipCount = 9;
    dxt.caps = 0x401008;
    dxt.pfFlags = 0x4;
    dxt.fourCc = FourCcOf("DXT5");
    dxt.data.assign(87408, 0xAB);
    BASEIMAGE image;
    ASSERT_EQ(RunReader(ReadDdsImage, MakeDds(dxt), &image), 0);
    EXPECT_EQ(image.Format.FormatKind, 5);
    EXPECT_EQ(image.Format.BitsPerPixel, 8);
    EXPECT_EQ(image.MipCount, 9);
    EXPECT_EQ(image.Pitch, 0);
    FreeTrackedMemory(image.Pixels);
    dxt.data.pop_back();
    EXPECT_EQ(RunReader(ReadDdsImage, MakeDds(dxt), &image), -1);

    // A cube map lacking one face bit is one image.
    DdsSpec cube;
    cube.width = cube.height = 2;
    cube.caps2 = 0x200 | (0xFC00 & ~0x800);
    cube.data = RandomBytes(16 * 6, 9);
    ASSERT_EQ(RunReader(ReadDdsImage, MakeDds(cube), &image), 0);
    EXPECT_EQ(image.ImageCount, 0);
    FreeTrackedMemory(image.Pixels);
    cube.caps2 = 0xFE00;
    ASSERT_EQ(RunReader(ReadDdsImage, MakeDds(cube), &image), 0);
    EXPECT_EQ(image.ImageCount, 6);
    FreeTrackedMemory(image.Pixels);

    // Numeric FourCC codes: R5G6B5 and four 16-bit floats.
    struct Code {
        std::uint32_t code;
        int bytes, channels, isFloat;
        std::uint32_t red;
    };
    for (const Code& c : {Code{23, 2, 0, 0, 0xF800}, Code{113, 8, 4, 1, 0}, Code{81, 2, 1, 0, 0}}) {
        DdsSpec s;
        s.width = 3;
        s.pfFlags = 0x4;
        s.fourCc = c.code;
        s.pitch = static_cast<std::uint32_t>(3 * c.bytes);
        s.data = RandomBytes(3 * c.bytes, c.code);
        ASSERT_EQ(RunReader(ReadDdsImage, MakeDds(s), &image), 0) << c.code;
        EXPECT_EQ(image.Format.BytesPerPixel, c.bytes);
        EXPECT_EQ(image.Format.ChannelCount, c.channels);
        EXPECT_EQ(image.Format.FloatFlag, c.isFloat);
        EXPECT_EQ(image.Format.RedMask, c.red);
        FreeTrackedMemory(image.Pixels);
    }

    // A pitch below a row, a short header and a zero width are refused.
    DdsSpec narrow = cube;
    narrow.flags |= 0x8;
    narrow.pitch = 7;
    Bytes shortHeader = MakeDds(cube);
    shortHeader[4] = 100;
    DdsSpec empty = cube;
    empty.width = 0;
    for (const Bytes& f : {MakeDds(narrow), shortHeader, MakeDds(empty)}) {
        EXPECT_EQ(RunReader(ReadDdsImage, f, &image), -1);
    }
}

TEST(BaseImageReadTest, RawFormats) {
    // "BGRA" with 16-bit channels keeps each channel's high byte.
    Bytes bgra = {'B', 'G', 'R', 'A'};
    Put(bgra, 0x10101010, 4);
    Put(bgra, 1, 4);
    Put(bgra, 1, 4);
    bgra.insert(bgra.end(), {0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A, 0xF0, 0xDE});
    BASEIMAGE image;
    ASSERT_EQ(ReadMemory(bgra, &image), 0);
    const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
    EXPECT_EQ(p[0], 0x12);
    EXPECT_EQ(p[1], 0x56);
    EXPECT_EQ(p[2], 0x9A);
    EXPECT_EQ(p[3], 0xDE);
    EXPECT_EQ(image.Format.AlphaMask, 0xFF000000u);
    FreeTrackedMemory(image.Pixels);
    bgra.pop_back();
    EXPECT_EQ(ReadMemory(bgra, &image), -1);

    // "DBIM": a 32-bit plain format carries the 31-byte block, so data can start at 72; an
    // 8-bit one also carries the palette, so data can start at 1,100.
    for (int bits : {32, 8}) {
        SCOPED_TRACE(bits);
        const int bytes = bits / 8;
        const std::uint32_t offset = bits == 32 ? 72 : 1100;
        Bytes f = {'D', 'B', 'I', 'M'};
        Put(f, 2, 4);
        Put(f, 2, 4);
        Put(f, static_cast<std::uint32_t>(2 * bytes), 4);
        Put(f, 0, 4);
        Put(f, 0, 4);
        Put(f, offset, 4);
        Put(f, static_cast<std::uint32_t>(4 * bytes), 4);
        Put(f, 0, 4);
        f.insert(f.end(), {0, 0, 0, 0, static_cast<std::uint8_t>(bytes)});
        f.insert(f.end(), {static_cast<std::uint8_t>(bits), 24, std::uint8_t(bits == 32 ? 8 : 0), 8,
                           8, 8, 0, 16, 8, 0, 0});
        Put(f, 0xFF0000, 4);
        Put(f, 0xFF00, 4);
        Put(f, 0xFF, 4);
        Put(f, 0, 4);
        Put(f, bits == 32 ? 0xFF000000 : 0, 4);
        if (bits == 8) {
            Put(f, 255, 4);
            for (int i = 0; i < 256; ++i) Put(f, static_cast<std::uint32_t>(i * 0x010101), 4);
        }
        ASSERT_EQ(f.size(), offset);
        Bytes pixels = RandomBytes(4 * bytes, 12);
        f.insert(f.end(), pixels.begin(), pixels.end());
        ASSERT_EQ(ReadMemory(f, &image), 0);
        EXPECT_EQ(image.Pitch, 2 * bytes);
        EXPECT_EQ(std::memcmp(image.Pixels, pixels.data(), pixels.size()), 0);
        if (bits == 8) {
            EXPECT_EQ(image.Format.Palette[7][0], 7);
        }
        FreeTrackedMemory(image.Pixels);
        // Data the file does not hold, or smaller than the rows, is refused.
        Bytes cut(f.begin(), f.end() - 1);
        EXPECT_EQ(ReadMemory(cut, &image), -1);
        Bytes small = f;
        small[28] = static_cast<std::uint8_t>(2 * bytes);
        EXPECT_EQ(ReadMemory(small, &image), -1);
    }
}

TEST(BaseImageReadTest, DriverPostProcessingAndAlphaNames) {
    BmpSpec s = RandomBmp(3, -1, 24);
    Bytes file = MakeBmp(s);
    BASEIMAGE plain, mirrored, two;
    ASSERT_EQ(ReadMemory(file, &plain), 0);
    ASSERT_EQ(ReadMemory(file, &mirrored, 1), 0);
    ASSERT_EQ(ReadMemory(file, &two, 2), 0);
    const auto* a = static_cast<const std::uint8_t*>(plain.Pixels);
    const auto* m = static_cast<const std::uint8_t*>(mirrored.Pixels);
    EXPECT_EQ(std::memcmp(a, m + 6, 3), 0);
    EXPECT_EQ(std::memcmp(a + 3, m + 3, 3), 0);
    EXPECT_EQ(std::memcmp(a, two.Pixels, 9), 0);  // mirror flag 2 does nothing
    for (BASEIMAGE* i : {&plain, &mirrored, &two}) FreeTrackedMemory(i->Pixels);

    // Header-only runs no post-processing, even with the mirror flag.
    ImageLoadParams params;
    InitImageLoadParams(&params, 1);
    BASEIMAGE header{};
    ASSERT_EQ(ReadImageWithParams(&params, nullptr, file.data(), file.size(), 1, 0, 1, 0, &header,
                                  nullptr, nullptr),
              0);
    EXPECT_EQ(header.Pixels, nullptr);
    EXPECT_EQ(header.Width, 3);

    // Nothing reads an empty or unknown file; a null memory image fails.
    BASEIMAGE none;
    EXPECT_EQ(ReadMemory(Bytes{}, &none), -1);
    EXPECT_EQ(ReadMemory(Bytes{'x', 'y', 'z'}, &none), -1);
    EXPECT_EQ(ReadImageToBaseImage(nullptr, nullptr, 4, 1, 0, 0, 0, &none, nullptr, nullptr), -1);

    struct Name {
        const char16_t* path;
        const char16_t* alpha;
    };
    for (const Name& n :
         {Name{u"picture.png", u"picture_a.png"}, Name{u"data.dir/picture", u"data_a.dir/picture"},
          Name{u"picture", u"picture_a"}}) {
        char16_t out[64];
        MakeAlphaImageFileName(n.path, out, static_cast<int>(sizeof(out)));
        EXPECT_EQ(std::u16string(out), std::u16string(n.alpha));
    }
}

namespace {

// An 8 x 4 DXT1 file: the left block's columns 0-1 are red and 2-3 blue, the right block green.
Bytes Dxt1File() {
    DdsSpec dxt;
    dxt.width = 8;
    dxt.height = 4;
    dxt.pfFlags = 0x4;
    dxt.fourCc = FourCcOf("DXT1");
    dxt.pitch = 32;
    dxt.data = {0x00, 0xF8, 0x1F, 0x00, 0x50, 0x50, 0x50, 0x50,
                0xE0, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    return MakeDds(dxt);
}

std::uint32_t PixelAt(const BASEIMAGE& image, int x, int y) {
    std::uint32_t v;
    std::memcpy(&v,
                static_cast<const std::uint8_t*>(image.Pixels) +
                    static_cast<std::ptrdiff_t>(y) * image.Pitch + x * 4,
                4);
    return v;
}

int ReadWith(const ImageLoadParams& params, const Bytes& file, BASEIMAGE* image, int mirror = 0,
             int separateAlpha = 0) {
    std::memset(image, 0, sizeof(*image));
    return ReadImageWithParams(&params, nullptr, file.data(), file.size(), 1, 0, mirror,
                               separateAlpha, image, nullptr, nullptr);
}

}  // namespace

TEST(BaseImageReadTest, BlockImagesDecodeBeforeMirroringAndOnRequest) {
    const Bytes file = Dxt1File();
    BASEIMAGE block, decoded;
    ASSERT_EQ(ReadMemory(file, &block), 0);
    EXPECT_EQ(block.Format.FormatKind, 1);
    FreeTrackedMemory(block.Pixels);
    ImageLoadParams params;
    InitImageLoadParams(&params, 0);
    params.DecodeBlockFormats = 1;
    ASSERT_EQ(ReadWith(params, file, &decoded), 0);
    ASSERT_EQ(decoded.Format.FormatKind, 0);
    ASSERT_EQ(decoded.Format.BytesPerPixel, 4);
    const std::uint32_t red = 0xFFFF0000u, blue = 0xFF0000FFu, green = 0xFF00FF00u;
    const std::uint32_t row[8] = {red, red, blue, blue, green, green, green, green};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelAt(decoded, x, y), row[x]) << x << "," << y;
    }

    BASEIMAGE mirrored;
    ASSERT_EQ(ReadMemory(file, &mirrored, 1), 0);
    ASSERT_EQ(mirrored.Format.FormatKind, 0);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelAt(mirrored, x, y), row[7 - x]);
    }
    for (BASEIMAGE* i : {&decoded, &mirrored}) FreeTrackedMemory(i->Pixels);
}

TEST(BaseImageReadTest, PremultiplyAndColourKeySteps) {
    ImageLoadParams params;
    InitImageLoadParams(&params, 0);
    params.ConvertToPremultipliedAlpha = 1;

    // An image with alpha is premultiplied.
    DdsSpec argb;
    argb.width = 2;
    argb.pfFlags = 0x41;
    argb.masks[3] = 0xFF000000;
    argb.data = {200, 100, 50, 128, 10, 20, 30, 0};
    BASEIMAGE image;
    ASSERT_EQ(ReadWith(params, MakeDds(argb), &image), 0);
    EXPECT_EQ(PixelAt(image, 0, 0), 0x80193264u);  // 200*128/255 = 100, 50, 25
    EXPECT_EQ(PixelAt(image, 1, 0), 0u);
    FreeTrackedMemory(image.Pixels);

    // Without alpha, the key colour becomes transparent black in ARGB8, the rest opaque.
    BmpSpec s;
    s.width = 3;
    s.height = -1;
    s.bitCount = 24;
    s.data = {1, 2, 3, 4, 5, 6, 1, 2, 4, 0, 0, 0};
    const Bytes bmp = MakeBmp(s);
    params.UseTransparentColor = 1;
    params.TransparentColor = 0x060504;  // the middle pixel (stored blue, green, red)
    ASSERT_EQ(ReadWith(params, bmp, &image), 0);
    EXPECT_EQ(image.Format.AlphaMask, 0xFF000000u);
    EXPECT_EQ(PixelAt(image, 0, 0), 0xFF030201u);
    EXPECT_EQ(PixelAt(image, 1, 0), 0u);
    EXPECT_EQ(PixelAt(image, 2, 0), 0xFF040201u);
    FreeTrackedMemory(image.Pixels);

    // With separate alpha the key is not applied; an image without alpha stays as it is.
    ASSERT_EQ(ReadWith(params, bmp, &image, 0, 1), 0);
    EXPECT_EQ(image.Format.BytesPerPixel, 3);
    FreeTrackedMemory(image.Pixels);

    // Block images carry alpha, so even with a key they are decoded and premultiplied.
    params.TransparentColor = 0x00FF00;
    ASSERT_EQ(ReadWith(params, Dxt1File(), &image), 0);
    ASSERT_EQ(image.Format.FormatKind, 0);
    EXPECT_EQ(PixelAt(image, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(image, 7, 3), 0xFF00FF00u);
    FreeTrackedMemory(image.Pixels);
}

TEST(BaseImageReadTest, DibsAreMadeFromTheDecodedImage) {
    const int before = GetTrackedMemoryCount();
    BASEIMAGE unused{};
    BITMAPINFO* info = nullptr;
    void* bits = nullptr;
    const Bytes dxt = Dxt1File();
    ASSERT_EQ(
        ReadImageToBaseImage(nullptr, dxt.data(), dxt.size(), 1, 1, 1, 0, &unused, &info, &bits),
        0);
    EXPECT_EQ(unused.Pixels, nullptr);
    EXPECT_EQ(info->bmiHeader.biBitCount, 24);
    EXPECT_EQ(info->bmiHeader.biWidth, 8);
    EXPECT_EQ(info->bmiHeader.biHeight, -4);
    const auto* row = static_cast<const std::uint8_t*>(bits);
    // Mirrored: green first, red last (blue, green, red bytes).
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(row[1], 255);
    EXPECT_EQ(row[2], 0);
    EXPECT_EQ(row[7 * 3 + 2], 255);
    FreeTrackedMemory(info);
    FreeTrackedMemory(bits);

    // A palette image keeps its palette and indices.
    BmpSpec s;
    s.width = 2;
    s.height = -2;
    s.bitCount = 8;
    s.data = {1, 2, 0, 0, 3, 4, 0, 0};
    const Bytes bmp = MakeBmp(s);
    ASSERT_EQ(
        ReadImageToBaseImage(nullptr, bmp.data(), bmp.size(), 1, 1, 0, 0, &unused, &info, &bits),
        0);
    EXPECT_EQ(info->bmiHeader.biBitCount, 8);
    BASEIMAGE plain;
    ASSERT_EQ(ReadMemory(bmp, &plain), 0);
    EXPECT_EQ(std::memcmp(bits, plain.Pixels, 2), 0);
    EXPECT_EQ(info->bmiColors[3].rgbRed, plain.Format.Palette[3][2]);
    FreeTrackedMemory(plain.Pixels);
    FreeTrackedMemory(info);
    FreeTrackedMemory(bits);
    EXPECT_EQ(GetTrackedMemoryCount(), before);
}

TEST(BaseImageReadTest, RegisteredUserReadersRunFirst) {
    // A user reader that takes any file as a 1 x 1 image.
    UserImageReader reader = [](ImageReaderAccess*, BASEIMAGE* image) {
        image->Width = image->Height = 1;
        return 0;
    };
    BaseImageModuleState.UserReaders[0] = reinterpret_cast<UserImageReaderEntry>(reader);
    BaseImageModuleState.UserReaderCount = 1;
    ImageLoadParams params;
    InitImageLoadParams(&params, 1);
    BaseImageModuleState.UserReaderCount = 0;
    BaseImageModuleState.UserReaders[0] = nullptr;
    EXPECT_EQ(params.UserReaderCount, 1);
    EXPECT_EQ(params.HeaderOnly, 1);
    BASEIMAGE image;
    const Bytes junk = {'x', 'y', 'z'};
    EXPECT_EQ(ReadWith(params, junk, &image), 0);
    EXPECT_EQ(image.Width, 1);
}

TEST(BaseImageReadTest, AlphaFilesAreReadBesideTheImage) {
    ScratchDir dir("alphafile");
    Bytes main = MakeBmp(RandomBmp(2, 2, 24));
    Bytes alpha = MakeBmp(RandomBmp(2, 2, 8));
    WriteBytes(dir.path / "pic.bmp", main);
    auto widen = [](const std::string& s) { return std::u16string(s.begin(), s.end()); };
    std::u16string path = widen((dir.path / "pic.bmp").string());
    ImageLoadParams params;
    InitImageLoadParams(&params, 0);
    BASEIMAGE image{}, alphaImage{};
    EXPECT_EQ(LoadBaseImageWithAlphaFile(&params, path.c_str(), nullptr, 0, 0, nullptr, 0, 0,
                                         &image, &alphaImage, 0, 0),
              1);
    EXPECT_NE(image.Pixels, nullptr);
    FreeTrackedMemory(image.Pixels);
    WriteBytes(dir.path / "pic_a.bmp", alpha);
    EXPECT_EQ(LoadBaseImageWithAlphaFile(&params, path.c_str(), nullptr, 0, 0, nullptr, 0, 0,
                                         &image, &alphaImage, 0, 0),
              0);
    EXPECT_EQ(alphaImage.Format.BytesPerPixel, 1);
    FreeTrackedMemory(image.Pixels);
    FreeTrackedMemory(alphaImage.Pixels);
    // From memory with alpha mode 1; a null alpha image is simply not read.
    EXPECT_EQ(LoadBaseImageWithAlphaFile(&params, nullptr, main.data(), main.size(), 1,
                                         alpha.data(), alpha.size(), 1, &image, &alphaImage, 0, 0),
              0);
    FreeTrackedMemory(image.Pixels);
    FreeTrackedMemory(alphaImage.Pixels);
    EXPECT_EQ(LoadBaseImageWithAlphaFile(&params, nullptr, main.data(), main.size(), 1, nullptr, 0,
                                         1, &image, &alphaImage, 0, 0),
              1);
    FreeTrackedMemory(image.Pixels);
    EXPECT_EQ(LoadBaseImageWithAlphaFile(&params, (path + u"x").c_str(), nullptr, 0, 0, nullptr, 0,
                                         0, &image, &alphaImage, 0, 0),
              -1);
}

TEST(BaseImageReadTest, DamagedFilesAreRefusedWithoutLeaks) {
    std::vector<Bytes> files = {MakeBmp(RandomBmp(6, 4, 24)), MakeBmp(RandomBmp(6, 4, 4)),
                                MakeBmp(RandomBmp(6, -4, 16, 3, {0x7C0, 0x3E0, 0x1F}))};
    TgaSpec t;
    t.type = 10;
    t.width = 6;
    t.height = 4;
    t.pixels = RandomBytes(72, 3);
    files.push_back(MakeTga(t));
    DdsSpec d;
    d.width = 4;
    d.height = 4;
    d.flags = 0x2100F;
    d.mipCount = 3;
    d.caps = 0x401008;
    d.data = RandomBytes(64 + 16 + 4, 4);
    files.push_back(MakeDds(d));
    const int blocks = GetTrackedMemoryCount();
    std::uint32_t seed = 99;
    for (const Bytes& file : files) {
        for (std::size_t cut = 0; cut < file.size(); cut += 3) {
            BASEIMAGE image;
            if (ReadMemory(Bytes(file.begin(), file.begin() + cut), &image) == 0) {
                FreeTrackedMemory(image.Pixels);
            }
        }
        for (int round = 0; round < 200; ++round) {
            Bytes damaged = file;
            for (int i = 0; i < 3; ++i) damaged[NextRandom(seed) % damaged.size()] ^= 0xFF;
            BASEIMAGE image;
            if (ReadMemory(damaged, &image) == 0) FreeTrackedMemory(image.Pixels);
        }
    }
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    // Oversized headers: a BMP of 0x7FFFFFFF x 2 rows, a width of -4.
    BmpSpec wide = RandomBmp(4, 2, 24);
    Bytes big = MakeBmp(wide);
    Put(big, 0, 0);
    big[18] = 0xFF, big[19] = 0xFF, big[20] = 0xFF, big[21] = 0x7F;
    Bytes negative = MakeBmp(wide);
    negative[21] = 0xFF;
    BASEIMAGE image;
    EXPECT_EQ(ReadMemory(big, &image), -1);
    EXPECT_EQ(ReadMemory(negative, &image), -1);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
}

// --- Writers ------------------------------------------------------------------------------

TEST(BaseImageReadTest, BmpWriterFilesDecodeToTheirSources) {
    ScratchDir dir("bmpwriter");
    auto widen = [](const std::filesystem::path& p) {
        std::string s = p.string();
        return std::u16string(s.begin(), s.end());
    };
    struct Source {
        std::string name;
        COLORFORMAT format;
    };
    std::vector<Source> sources;
    auto add = [&](const std::string& name, int (*init)(COLORFORMAT*)) {
        Source s{name, {}};
        init(&s.format);
        sources.push_back(s);
    };
    add("ARGB8", InitColorFormatArgb8);
    add("ABGR8", InitColorFormatAbgr8);
    add("RGB24", InitColorFormatRgb24);
    add("BGR24", InitColorFormatBgr24);
    add("R5G6B5", InitColorFormatR5G6B5);
    add("X1R5G5B5", InitColorFormatX1R5G5B5);
    add("Gray8", InitColorFormatGray8);
    Source channels{"4 x 8-bit channels", {}};
    InitColorFormatFromMasks(&channels.format, 0, 0, 0, 0, 0, 4, 8, 0);
    sources.push_back(channels);
    std::vector<std::filesystem::path> paths;
    std::vector<Bytes> expected;
    std::vector<Bytes> keep;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        BASEIMAGE image{};
        image.Format = sources[i].format;
        image.Width = 5;
        image.Height = 3;
        image.Pitch = 5 * image.Format.BytesPerPixel + 4;
        keep.push_back(RandomBytes(image.Pitch * 3, static_cast<std::uint32_t>(i + 40)));
        image.Pixels = keep.back().data();
        paths.push_back(dir.path / (std::to_string(i) + ".bmp"));
        ASSERT_EQ(WriteBaseImageBmpFile(widen(paths.back()).c_str(), &image), 0) << sources[i].name;
        Bytes e;
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                const std::uint8_t* p =
                    keep.back().data() + y * image.Pitch + x * image.Format.BytesPerPixel;
                const COLORFORMAT& f = image.Format;
                if (f.ChannelCount) {
                    e.insert(e.end(), {p[0], p[1], p[2]});
                } else if (f.BytesPerPixel == 1) {
                    e.insert(e.end(), {f.Palette[p[0]][2], f.Palette[p[0]][1], f.Palette[p[0]][0]});
                } else if (f.BytesPerPixel == 2) {
                    // 16-bit channels move to the top of their byte.
                    std::uint32_t v = p[0] | p[1] << 8;
                    auto top = [&](std::uint32_t mask, int width, int position) {
                        return static_cast<std::uint8_t>(((v & mask) >> position) << (8 - width));
                    };
                    e.insert(e.end(), {top(f.RedMask, f.RedWidth, f.RedPosition),
                                       top(f.GreenMask, f.GreenWidth, f.GreenPosition),
                                       top(f.BlueMask, f.BlueWidth, f.BluePosition)});
                } else {
                    Bytes rgb =
                        ImagePixels(BASEIMAGE{f, 1, 1, 4, const_cast<std::uint8_t*>(p), 0, 0});
                    e.insert(e.end(), rgb.begin(), rgb.end());
                }
            }
        }
        expected.push_back(e);
    }
    auto decoded = PillowDecode(paths);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        EXPECT_EQ(decoded[i], expected[i]) << sources[i].name;
    }

    // 4 x 1 ARGB8 gives a 66-byte file; 5 x 1 a 16-byte row ending in one zero byte.
    for (int width : {4, 5}) {
        BASEIMAGE image{};
        InitColorFormatArgb8(&image.Format);
        image.Width = width;
        image.Height = 1;
        image.Pitch = width * 4;
        Bytes pixels = RandomBytes(width * 4, 1);
        image.Pixels = pixels.data();
        auto path = dir.path / "row.bmp";
        ASSERT_EQ(WriteBaseImageBmpFile(widen(path).c_str(), &image), 0);
        Bytes file = ReadBytes(path);
        EXPECT_EQ(file.size(), width == 4 ? 66u : 70u);
        if (width == 5) {
            EXPECT_EQ(file.back(), 0);
        }
    }
    // Block images are written decoded and stay as they were; a block kind the decoder refuses
    // makes no file.
    BASEIMAGE block{};
    InitColorFormatArgb8(&block.Format);
    block.Format.FormatKind = 1;
    block.Width = block.Height = 4;
    // Red and blue, index 0 on rows 0 and 2, index 1 on rows 1 and 3.
    Bytes blockBytes = {0x00, 0xF8, 0x1F, 0x00, 0x00, 0x55, 0x00, 0x55};
    block.Pixels = blockBytes.data();
    auto blockPath = dir.path / "block.bmp";
    ASSERT_EQ(WriteBaseImageBmpFile(widen(blockPath).c_str(), &block), 0);
    EXPECT_EQ(block.Pixels, blockBytes.data());
    EXPECT_EQ(block.Format.FormatKind, 1);
    Bytes expectedBlock;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            if (y % 2 == 0) {
                expectedBlock.insert(expectedBlock.end(), {255, 0, 0});
            } else {
                expectedBlock.insert(expectedBlock.end(), {0, 0, 255});
            }
        }
    }
    EXPECT_EQ(PillowDecode({blockPath})[0], expectedBlock);
    block.Format.FormatKind = 6;
    auto refusedPath = dir.path / "refused.bmp";
    EXPECT_EQ(WriteBaseImageBmpFile(widen(refusedPath).c_str(), &block), -1);
    EXPECT_FALSE(std::filesystem::exists(refusedPath));
}

TEST(BaseImageReadTest, DdsWriterFilesReadBackAndDecodeInPillow) {
    ScratchDir dir("ddswriter");
    auto widen = [](const std::filesystem::path& p) {
        std::string s = p.string();
        return std::u16string(s.begin(), s.end());
    };
    // A mip chain of 4 x 4, 2 x 2 and 1 x 1 ARGB8 levels: the 4-byte last level is not padded.
    std::vector<Bytes> levels = {RandomBytes(64, 1), RandomBytes(16, 2), RandomBytes(4, 3)};
    BASEIMAGE images[3] = {};
    for (int i = 0; i < 3; ++i) {
        InitColorFormatArgb8(&images[i].Format);
        images[i].Width = images[i].Height = 4 >> i;
        images[i].Pitch = (4 >> i) * 4;
        images[i].Pixels = levels[i].data();
    }
    auto path = dir.path / "chain.dds";
    ASSERT_EQ(WriteBaseImageDdsFile(widen(path).c_str(), images, 0, 3), 0);
    Bytes file = ReadBytes(path);
    EXPECT_EQ(file.size(), 128u + 64 + 16 + 4);
    BASEIMAGE back;
    ASSERT_EQ(ReadMemory(file, &back), 0);
    EXPECT_EQ(back.MipCount, 3);
    EXPECT_EQ(std::memcmp(back.Pixels, levels[0].data(), 64), 0);
    EXPECT_EQ(std::memcmp(static_cast<std::uint8_t*>(back.Pixels) + 80, levels[2].data(), 4), 0);
    FreeTrackedMemory(back.Pixels);

    // Single images of mask formats decode in Pillow to their source.
    std::vector<std::filesystem::path> paths;
    std::vector<Bytes> expected;
    std::vector<Bytes> keep;
    for (int (*init)(COLORFORMAT*) :
         {InitColorFormatArgb8, InitColorFormatAbgr8, InitColorFormatRgb24}) {
        BASEIMAGE image{};
        init(&image.Format);
        image.Width = 3;
        image.Height = 2;
        image.Pitch = 3 * image.Format.BytesPerPixel + 2;  // padded rows are written unpadded
        keep.push_back(RandomBytes(image.Pitch * 2, static_cast<std::uint32_t>(paths.size() + 5)));
        image.Pixels = keep.back().data();
        paths.push_back(dir.path / (std::to_string(paths.size()) + ".dds"));
        ASSERT_EQ(WriteBaseImageDdsFile(widen(paths.back()).c_str(), &image, 0, 0), 0);
        expected.push_back(ImagePixels(image, true));
    }
    auto decoded = PillowDecode(paths, "RGBA");
    for (std::size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(decoded[i], expected[i]) << i;
}

}  // namespace
