// The readers and writers over libjpeg, libtiff and libpng: JPEG and TIFF files written by Pillow
// and ImageMagick decode to Pillow's pixels; the JPEG source manager completes cut files; our PNG
// files decode in Pillow to their sources and our JPEG files are baseline with the quantisation
// tables of their quality; the DirectShow helpers against test doubles.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ImageFileBuilders.h"
#include "Main/DuZuderConvert.h"
#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxMemory.h"
#include "Main/DxUseCLib.h"
#include "Main/Windows/DuZuderConvertWin.h"
#include "PillowOracle.h"
#include "platform/DShow.h"

using namespace ZiDaz;
using namespace velk_test;

namespace {

std::u16string Widen(const std::filesystem::path& p) {
    const std::string s = p.string();
    return std::u16string(s.begin(), s.end());
}

// Runs a Python program (with Pillow) that writes its files into the folder.
void RunPillowScript(const ScratchDir& dir, const std::string& script) {
    { std::ofstream(dir.path / "make.py") << script; }
    const std::string command =
        "/usr/bin/python3 '" + (dir.path / "make.py").string() + "' '" + dir.path.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
}

void RunConvert(const ScratchDir& dir, const std::string& arguments) {
    // ImageMagick's convert itself, by its full path.
    const std::string command = "cd '" + dir.path.string() + "' && /usr/bin/convert " + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

constexpr const char* kSources = R"(import sys, random
from PIL import Image
d = sys.argv[1]
random.seed(9)
def img(mode, size, values):
    im = Image.new(mode, size)
    im.putdata([values() for _ in range(size[0] * size[1])])
    return im
smooth = lambda: (random.randrange(100, 140), random.randrange(0, 256, 64), random.randrange(256))
)";

TEST(UseCLibTest, JpegFilesDecodeToPillowsPixels) {
    ScratchDir dir("jpegreader");
    RunPillowScript(dir, std::string(kSources) + R"(
img('RGB', (37, 21), smooth).save(d + '/baseline.jpg', quality=90)
img('RGB', (37, 21), smooth).save(d + '/progressive.jpg', quality=75, progressive=True)
img('RGB', (16, 16), smooth).save(d + '/444.jpg', quality=95, subsampling=0)
img('L', (13, 9), lambda: random.randrange(256)).save(d + '/grey.jpg')
img('RGB', (3, 2), smooth).save(d + '/tiny.jpg')
img('CMYK', (11, 7), lambda: smooth() + (random.randrange(256),)).save(d + '/cmyk.jpg')
img('RGB', (30, 20), smooth).save(d + '/source.ppm')
)");
    RunConvert(dir, "source.ppm -quality 85 magick-baseline.jpg");
    RunConvert(dir, "source.ppm -interlace JPEG -quality 70 magick-progressive.jpg");
    RunConvert(dir, "source.ppm -colorspace CMYK magick-cmyk.jpg");
    const char* colour[] = {"baseline.jpg", "progressive.jpg",     "444.jpg",
                            "tiny.jpg",     "magick-baseline.jpg", "magick-progressive.jpg"};
    std::vector<std::filesystem::path> paths;
    for (const char* name : colour) paths.push_back(dir.path / name);
    paths.push_back(dir.path / "grey.jpg");
    const auto decoded = PillowDecode(paths);
    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i].string());
        BASEIMAGE image;
        const Bytes file = ReadBytes(paths[i]);
        ASSERT_EQ(RunReader(ReadJpegImage, file, &image), 0);
        ASSERT_FALSE(decoded[i].empty());
        EXPECT_EQ(ImagePixels(image), decoded[i]);
        EXPECT_EQ(image.Pitch, image.Width * image.Format.BytesPerPixel);
        FreeTrackedMemory(image.Pixels);
    }
    BASEIMAGE image;
    // Greyscale: one byte a pixel with the grey palette, rows unpadded.
    ASSERT_EQ(RunReader(ReadJpegImage, ReadBytes(dir.path / "grey.jpg"), &image), 0);
    EXPECT_EQ(image.Format.BytesPerPixel, 1);
    EXPECT_EQ(image.Pitch, 13);
    EXPECT_EQ(image.Format.Palette[200][1], 200);
    FreeTrackedMemory(image.Pixels);
    // 3 x 2: pitch 9.
    ASSERT_EQ(RunReader(ReadJpegImage, ReadBytes(dir.path / "tiny.jpg"), &image), 0);
    EXPECT_EQ(image.Pitch, 9);
    EXPECT_EQ(image.Format.BytesPerPixel, 3);
    FreeTrackedMemory(image.Pixels);
    // Header only: the size, no pixels.
    ASSERT_EQ(RunReader(ReadJpegImage, ReadBytes(dir.path / "baseline.jpg"), &image, 1), 0);
    EXPECT_EQ(image.Width, 37);
    EXPECT_EQ(image.Height, 21);
    EXPECT_EQ(image.Pixels, nullptr);

    // CMYK (Adobe, inverted): red, green, blue = k x c / 255, k x m / 255, k x y / 255 of the
    // stored components, which are 255 minus Pillow's CMYK values.
    for (const char* name : {"cmyk.jpg", "magick-cmyk.jpg"}) {
        SCOPED_TRACE(name);
        const Bytes cmyk = PillowDecode({dir.path / name}, "CMYK")[0];
        ASSERT_EQ(RunReader(ReadJpegImage, ReadBytes(dir.path / name), &image), 0);
        ASSERT_EQ(cmyk.size(), std::size_t(image.Width) * image.Height * 4);
        Bytes expected;
        for (std::size_t i = 0; i < cmyk.size(); i += 4) {
            const int c = 255 - cmyk[i], m = 255 - cmyk[i + 1], y = 255 - cmyk[i + 2],
                      k = 255 - cmyk[i + 3];
            expected.insert(expected.end(), {std::uint8_t(k * c / 255), std::uint8_t(k * m / 255),
                                             std::uint8_t(k * y / 255)});
        }
        EXPECT_EQ(ImagePixels(image), expected);
        FreeTrackedMemory(image.Pixels);
    }
}

// The memory stream's functions under other names: readers take it for a stream of unknown kind
// and go through Read in blocks.
std::size_t BlockRead(void* buffer, std::size_t size, std::size_t count, void* stream) {
    return GetMemoryStreamAccess()->Read(buffer, size, count, stream);
}

int RunThroughBlocks(ImageReader reader, const Bytes& file, BASEIMAGE* image) {
    std::memset(image, 0, sizeof(*image));
    StreamReaderOps ops = *GetMemoryStreamAccess();
    ops.Read = BlockRead;
    MemoryStream* stream = CreateMemoryStream(file.data(), file.size());
    ImageReaderAccess access{&ops, stream};
    const int r = reader(&access, image, 0);
    ops.Close(stream);
    return r;
}

TEST(UseCLibTest, JpegStreamsThatEndEarlyOrAreNotJpeg) {
    ScratchDir dir("jpegcut");
    RunPillowScript(dir, std::string(kSources) + R"(
img('RGB', (24, 24), smooth).save(d + '/a.jpg', quality=80)
img('RGB', (24, 24), smooth).save(d + '/p.jpg', quality=80, progressive=True)
img('RGB', (200, 150), smooth).save(d + '/big.jpg', quality=95)
)");
    BASEIMAGE image;
    // Not starting with 0xFF: refused before libjpeg is involved.
    EXPECT_EQ(RunReader(ReadJpegImage, Bytes{0xFE, 0xD8, 0xFF}, &image), -1);
    EXPECT_EQ(RunReader(ReadJpegImage, Bytes{}, &image), -1);
    // Nothing after the first byte but the first byte: the empty-input error; no SOI: an error.
    EXPECT_EQ(RunReader(ReadJpegImage, Bytes{0xFF}, &image), -1);
    EXPECT_EQ(RunReader(ReadJpegImage, Bytes{0xFF, 0x00, 0x12}, &image), -1);
    for (const char* name : {"a.jpg", "p.jpg", "big.jpg"}) {
        const Bytes file = ReadBytes(dir.path / name);
        const bool big = std::string(name) == "big.jpg";
        const int blocks = GetTrackedMemoryCount();
        // A file cut after its header is completed with the end-of-image code and decodes.
        const Bytes half(file.begin(), file.begin() + std::ptrdiff_t(file.size() * 3 / 4));
        ASSERT_EQ(RunReader(ReadJpegImage, half, &image), 0) << name;
        EXPECT_EQ(image.Width, big ? 200 : 24);
        FreeTrackedMemory(image.Pixels);
        // Read in 4,096-byte blocks from a stream of unknown kind: the same pixels, and a cut
        // file completed the same way.
        BASEIMAGE inPlace, blocks4k;
        for (const Bytes* f : {&file, &half}) {
            ASSERT_EQ(RunReader(ReadJpegImage, *f, &inPlace), 0);
            ASSERT_EQ(RunThroughBlocks(ReadJpegImage, *f, &blocks4k), 0);
            EXPECT_EQ(ImagePixels(blocks4k), ImagePixels(inPlace));
            FreeTrackedMemory(inPlace.Pixels);
            FreeTrackedMemory(blocks4k.Pixels);
        }
        // Every cut and bit flip: -1 or a complete image, nothing left allocated.
        for (std::size_t cut = 0; cut < file.size(); cut += big ? 97 : 3) {
            const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(cut));
            if (RunReader(ReadJpegImage, part, &image) == 0) {
                EXPECT_EQ(image.Pitch, big ? 600 : 72);
                FreeTrackedMemory(image.Pixels);
            }
            if (RunThroughBlocks(ReadJpegImage, part, &image) == 0) FreeTrackedMemory(image.Pixels);
        }
        for (std::size_t bit = 16; bit < std::min<std::size_t>(file.size(), 400) * 8; bit += 7) {
            Bytes flipped = file;
            flipped[bit / 8] ^= std::uint8_t(1 << (bit % 8));
            if (RunReader(ReadJpegImage, flipped, &image) == 0) FreeTrackedMemory(image.Pixels);
        }
        EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    }
}

TEST(UseCLibTest, TiffStripLayoutsDecodeToPillowsPixels) {
    ScratchDir dir("tiffreader");
    RunPillowScript(dir, std::string(kSources) + R"(
img('RGB', (6, 40), smooth).save(d + '/source.ppm')
img('RGBA', (9, 13), lambda: smooth() + (random.randrange(256),)).save(d + '/source-rgba.png')
img('RGB', (8, 9), smooth).save(d + '/pillow.tif')
img('RGB', (8, 9), smooth).save(d + '/pillow-lzw.tif', compression='tiff_lzw')
img('L', (5, 4), lambda: random.randrange(256)).save(d + '/pillow-grey.tif')
)");
    RunConvert(dir, "source.ppm -define tiff:rows-per-strip=16 strips16.tif");
    RunConvert(dir, "source.ppm -define tiff:rows-per-strip=1 strips1.tif");
    RunConvert(dir, "source.ppm -define tiff:rows-per-strip=7 -compress zip strips7.tif");
    RunConvert(dir, "source.ppm -endian MSB -define tiff:rows-per-strip=40 bigendian.tif");
    RunConvert(dir, "source-rgba.png -define tiff:rows-per-strip=5 rgba.tif");
    std::vector<std::filesystem::path> paths;
    for (const char* name : {"strips16.tif", "strips1.tif", "strips7.tif", "bigendian.tif",
                             "rgba.tif", "pillow.tif", "pillow-lzw.tif", "pillow-grey.tif"}) {
        paths.push_back(dir.path / name);
    }
    // libtiff's RGBA reading premultiplies unassociated alpha: Pillow's premultiplied decode.
    auto decoded = PillowDecode(paths, "RGBA");
    decoded[4] = PillowDecode({paths[4]}, "RGBa")[0];
    for (std::size_t i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i].string());
        BASEIMAGE image;
        ASSERT_EQ(RunReader(ReadTiffImage, ReadBytes(paths[i]), &image), 0);
        ASSERT_FALSE(decoded[i].empty());
        EXPECT_EQ(ImagePixels(image, true), decoded[i]);
        EXPECT_EQ(image.Pitch, image.Width * 4);
        FreeTrackedMemory(image.Pixels);
    }
    BASEIMAGE image;
    ASSERT_EQ(RunReader(ReadTiffImage, ReadBytes(dir.path / "strips16.tif"), &image, 1), 0);
    EXPECT_EQ(image.Height, 40);
    EXPECT_EQ(image.Pixels, nullptr);
    // "IM" is no byte order.
    Bytes notTiff = ReadBytes(dir.path / "strips16.tif");
    notTiff[1] = 'M';
    EXPECT_EQ(RunReader(ReadTiffImage, notTiff, &image), -1);
    // Cut files: -1 or an image, nothing left allocated.
    const Bytes file = ReadBytes(dir.path / "strips7.tif");
    const int blocks = GetTrackedMemoryCount();
    for (std::size_t cut = 0; cut < file.size(); cut += 5) {
        const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(cut));
        if (RunReader(ReadTiffImage, part, &image) == 0) FreeTrackedMemory(image.Pixels);
    }
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
}

// A little-endian TIFF of 8-bit RGB strips, made field by field.
Bytes MakeStripTiff(std::uint32_t width, std::uint32_t height, std::uint32_t rowsPerStrip,
                    bool writeRowsPerStrip, const Bytes& pixels) {
    const std::uint32_t strips = rowsPerStrip == 0 ? 1 : (height + rowsPerStrip - 1) / rowsPerStrip;
    const std::uint32_t stripRows = rowsPerStrip == 0 ? height : rowsPerStrip;
    Bytes f = {'I', 'I', 42, 0};
    Put(f, 8, 4);
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t count, value;
    };
    std::vector<Entry> entries;
    const std::uint32_t ifdSize = 2 + 12 * 11 + 4;
    const std::uint32_t arrays = 8 + ifdSize;
    const std::uint32_t data = arrays + strips * 8 + 8;
    entries.push_back({256, 4, 1, width});
    entries.push_back({257, 4, 1, height});
    entries.push_back({258, 3, 3, arrays + strips * 8});
    entries.push_back({259, 3, 1, 1});
    entries.push_back({262, 3, 1, 2});
    entries.push_back({273, 4, strips, strips == 1 ? data : arrays});
    entries.push_back({277, 3, 1, 3});
    if (writeRowsPerStrip) entries.push_back({278, 4, 1, rowsPerStrip});
    const std::uint32_t lastBytes = (height - (strips - 1) * stripRows) * width * 3;
    entries.push_back({279, 4, strips, strips == 1 ? lastBytes : arrays + strips * 4});
    entries.push_back({284, 3, 1, 1});
    Put(f, static_cast<std::uint32_t>(entries.size()), 2);
    for (const Entry& e : entries) {
        Put(f, e.tag, 2);
        Put(f, e.type, 2);
        Put(f, e.count, 4);
        Put(f, e.value, 4);
    }
    Put(f, 0, 4);
    f.resize(arrays, 0);
    for (std::uint32_t s = 0; s < strips; ++s) Put(f, data + s * stripRows * width * 3, 4);
    for (std::uint32_t s = 0; s < strips; ++s) {
        Put(f, s + 1 < strips ? stripRows * width * 3 : lastBytes, 4);
    }
    Put(f, 0x00080008, 4);
    Put(f, 0x00000008, 4);
    f.resize(data, 0);
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

TEST(UseCLibTest, TiffStripsFillTheirRowsAndAZeroStripHeightIsTheWholeImage) {
    const std::uint32_t width = 3, height = 40;
    const Bytes pixels = RandomBytes(width * height * 3, 41);
    auto expectRows = [&](const Bytes& file) {
        BASEIMAGE image;
        ASSERT_EQ(RunReader(ReadTiffImage, file, &image), 0);
        ASSERT_EQ(image.Height, 40);
        const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
        for (std::uint32_t y = 0; y < height; ++y) {
            for (std::uint32_t x = 0; x < width; ++x) {
                const std::uint8_t* q = p + y * image.Pitch + x * 4;
                const std::uint8_t* s = pixels.data() + (y * width + x) * 3;
                ASSERT_EQ(Bytes(q, q + 4), (Bytes{s[2], s[1], s[0], 255})) << y;
            }
        }
        FreeTrackedMemory(image.Pixels);
    };
    // Three strips of 16 rows and height 40: the last strip's 8 rows are rows 32 to 39.
    expectRows(MakeStripTiff(width, height, 16, true, pixels));
    // No tag: one strip.
    expectRows(MakeStripTiff(width, height, 0, false, pixels));
    // A RowsPerStrip of 0 would never advance the strip loop. This libtiff already refuses such
    // a file at open; the reader would take it as the whole height.
    BASEIMAGE image;
    EXPECT_EQ(RunReader(ReadTiffImage, MakeStripTiff(width, height, 0, true, pixels), &image), -1);
}

TEST(UseCLibTest, PngWriterFilesDecodeInPillowToTheirSources) {
    ScratchDir dir("pngwriter");
    BASEIMAGE argb{}, rgb{};
    InitColorFormatArgb8(&argb.Format);
    argb.Width = 2;
    argb.Height = 2;
    argb.Pitch = 8;
    Bytes argbPixels = RandomBytes(8 * 2, 51);
    argb.Pixels = argbPixels.data();
    InitColorFormatRgb24(&rgb.Format);
    rgb.Width = 5;
    rgb.Height = 3;
    rgb.Pitch = 16;  // padded rows are written unpadded
    Bytes rgbPixels = RandomBytes(16 * 3, 52);
    rgb.Pixels = rgbPixels.data();
    const auto argbPath = dir.path / "argb.png";
    const auto rgbPath = dir.path / "rgb.png";
    ASSERT_EQ(WriteBaseImagePngFile(Widen(argbPath).c_str(), &argb, 6), 0);
    // The narrow path, in the library's narrow encoding, is taken when there is no wide one.
    const std::int32_t narrow = NarrowEncoding, wide = WideEncoding;
    NarrowEncoding = CharEncoding::Utf8;
    WideEncoding = CharEncoding::Utf16Le;
    const int narrowResult = EncodePngFile(nullptr, rgbPath.string().c_str(), &rgb, 9);
    NarrowEncoding = narrow;
    WideEncoding = wide;
    ASSERT_EQ(narrowResult, 0);
    // Colour types 6 and 2.
    EXPECT_EQ(ReadBytes(argbPath)[25], 6);
    EXPECT_EQ(ReadBytes(rgbPath)[25], 2);
    EXPECT_EQ(PillowDecode({argbPath}, "RGBA")[0], ImagePixels(argb, true));
    EXPECT_EQ(PillowDecode({rgbPath})[0], ImagePixels(rgb));
    // Other formats go through the pixel reader.
    BASEIMAGE r565{};
    InitColorFormatR5G6B5(&r565.Format);
    r565.Width = 3;
    r565.Height = 2;
    r565.Pitch = 6;
    Bytes r565Pixels = RandomBytes(12, 53);
    r565.Pixels = r565Pixels.data();
    const auto r565Path = dir.path / "r565.png";
    ASSERT_EQ(WriteBaseImagePngFile(Widen(r565Path).c_str(), &r565, 6), 0);
    Bytes r565Expected;
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            int r, g, b;
            ReadBaseImagePixelRgba(&r565, x, y, &r, &g, &b, nullptr);
            r565Expected.insert(r565Expected.end(),
                                {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b)});
        }
    }
    EXPECT_EQ(PillowDecode({r565Path})[0], r565Expected);
    // Both PNG readers read them back.
    BASEIMAGE back;
    ASSERT_EQ(RunReader(ReadPngImage, ReadBytes(argbPath), &back), 0);
    EXPECT_EQ(ImagePixels(back, true), ImagePixels(argb, true));
    FreeTrackedMemory(back.Pixels);
    // A file that cannot be created, and a level zlib refuses.
    EXPECT_EQ(WriteBaseImagePngFile(Widen(dir.path / "no" / "such.png").c_str(), &rgb, 6), -1);
    const int blocks = GetTrackedMemoryCount();
    EXPECT_EQ(WriteBaseImagePngFile(Widen(dir.path / "bad.png").c_str(), &rgb, 42), -1);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
}

// The baseline luminance and chrominance tables scaled as libjpeg scales them for a quality.
std::vector<int> ScaledTable(const int (&base)[64], int quality) {
    const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
    std::vector<int> out;
    for (int v : base) out.push_back(std::clamp((v * scale + 50) / 100, 1, 255));
    return out;
}

TEST(UseCLibTest, JpegWriterFilesAreBaselineWithTheirQualitysTables) {
    ScratchDir dir("jpegwriter");
    static const int kLuminance[64] = {
        16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
    static const int kChrominance[64] = {
        17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
        99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
        99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
    BASEIMAGE image{};
    InitColorFormatXrgb8(&image.Format);
    image.Width = 19;
    image.Height = 11;
    image.Pitch = 19 * 4;
    Bytes pixels = RandomBytes(19 * 4 * 11, 61);
    image.Pixels = pixels.data();
    const std::string tables = R"(import sys
from PIL import Image
for p in sys.argv[1:]:
    im = Image.open(p)
    q = im.quantization
    print(' '.join(str(v) for t in (q[0], q[1]) for v in t))
)";
    { std::ofstream(dir.path / "tables.py") << tables; }
    for (int quality : {100, 90, 10}) {
        SCOPED_TRACE(quality);
        const auto path = dir.path / ("q" + std::to_string(quality) + ".jpg");
        ASSERT_EQ(WriteBaseImageJpegFile(Widen(path).c_str(), &image, quality, 0), 0);
        const Bytes file = ReadBytes(path);
        // Baseline: a SOF0 frame and no progressive or extended one.
        bool sof0 = false, other = false;
        for (std::size_t i = 0; i + 1 < file.size(); ++i) {
            if (file[i] != 0xFF) continue;
            sof0 |= file[i + 1] == 0xC0;
            other |= file[i + 1] == 0xC1 || file[i + 1] == 0xC2;
        }
        EXPECT_TRUE(sof0);
        EXPECT_FALSE(other);
        // The sampling flag makes no difference.
        const auto flagged = dir.path / "flagged.jpg";
        ASSERT_EQ(WriteBaseImageJpegFile(Widen(flagged).c_str(), &image, quality, 1), 0);
        EXPECT_EQ(ReadBytes(flagged), file);
        // Pillow lists the tables in natural order, as the standard's tables are written here.
        std::vector<int> expected = ScaledTable(kLuminance, quality);
        const std::vector<int> chroma = ScaledTable(kChrominance, quality);
        expected.insert(expected.end(), chroma.begin(), chroma.end());
        std::vector<int> got;
        if (FILE* pipe = popen(("/usr/bin/python3 '" + (dir.path / "tables.py").string() + "' '" +
                                path.string() + "'")
                                   .c_str(),
                               "r")) {
            int v;
            while (std::fscanf(pipe, "%d", &v) == 1) got.push_back(v);
            pclose(pipe);
        }
        EXPECT_EQ(got, expected);
        // Our reader and Pillow agree on the written file.
        BASEIMAGE back;
        ASSERT_EQ(RunReader(ReadJpegImage, file, &back), 0);
        EXPECT_EQ(ImagePixels(back), PillowDecode({path})[0]);
        FreeTrackedMemory(back.Pixels);
    }
    // A file that cannot be created, and an empty image.
    EXPECT_EQ(WriteBaseImageJpegFile(Widen(dir.path / "none" / "x.jpg").c_str(), &image, 90, 0),
              -1);
    BASEIMAGE empty{};
    InitColorFormatXrgb8(&empty.Format);
    const int blocks = GetTrackedMemoryCount();
    EXPECT_EQ(WriteBaseImageJpegFile(Widen(dir.path / "empty.jpg").c_str(), &empty, 90, 0), -1);
    EXPECT_EQ(GetTrackedMemoryCount(), blocks);
}

// ---- The DirectShow helpers, against test doubles ------------------------------------------

struct FakePin : IPin {
    PIN_DIRECTION direction;
    int references = 1;
    explicit FakePin(PIN_DIRECTION d) : direction(d) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ULONG(++references); }
    ULONG Release() override { return ULONG(--references); }
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override { return E_NOTIMPL; }
    HRESULT ConnectedTo(IPin**) override { return E_NOTIMPL; }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT QueryDirection(PIN_DIRECTION* d) override {
        *d = direction;
        return S_OK;
    }
    HRESULT QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override { return E_NOTIMPL; }
    HRESULT BeginFlush() override { return E_NOTIMPL; }
    HRESULT EndFlush() override { return E_NOTIMPL; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }
};

struct FakeEnumPins : IEnumPins {
    std::vector<FakePin*> pins;
    std::size_t next = 0;
    int references = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ULONG(++references); }
    ULONG Release() override { return ULONG(--references); }
    HRESULT Next(ULONG, IPin** out, ULONG* fetched) override {
        if (next == pins.size()) {
            *fetched = 0;
            return S_FALSE;
        }
        *out = pins[next++];
        (*out)->AddRef();
        *fetched = 1;
        return S_OK;
    }
    HRESULT Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT Reset() override { return E_NOTIMPL; }
    HRESULT Clone(IEnumPins**) override { return E_NOTIMPL; }
};

struct FakeFilter : IBaseFilter {
    FakeEnumPins* enumerator = nullptr;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT Stop() override { return E_NOTIMPL; }
    HRESULT Pause() override { return E_NOTIMPL; }
    HRESULT Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT GetState(DWORD, FILTER_STATE*) override { return E_NOTIMPL; }
    HRESULT SetSyncSource(IReferenceClock*) override { return E_NOTIMPL; }
    HRESULT GetSyncSource(IReferenceClock**) override { return E_NOTIMPL; }
    HRESULT EnumPins(IEnumPins** out) override {
        if (enumerator == nullptr) return E_OUTOFMEMORY;
        enumerator->AddRef();
        *out = enumerator;
        return S_OK;
    }
    HRESULT FindPin(LPCWSTR, IPin**) override { return E_NOTIMPL; }
    HRESULT QueryFilterInfo(FILTER_INFO*) override { return E_NOTIMPL; }
    HRESULT JoinFilterGraph(IFilterGraph*, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }
};

TEST(UseCLibTest, FilterPinSearchHoldsOnlyTheFoundPin) {
    FakePin in1(PINDIR_INPUT), in2(PINDIR_INPUT), out(PINDIR_OUTPUT);
    FakeEnumPins pins;
    pins.pins = {&in1, &in2, &out};
    FakeFilter filter;
    filter.enumerator = &pins;
    EXPECT_EQ(FindFilterPinByDirection(&filter, PINDIR_OUTPUT), &out);
    EXPECT_EQ(out.references, 2);  // the caller's reference
    EXPECT_EQ(in1.references, 1);
    EXPECT_EQ(in2.references, 1);
    EXPECT_EQ(pins.references, 1);  // the enumerator released
    pins.next = 0;
    EXPECT_EQ(FindFilterPinByDirection(&filter, PINDIR_INPUT), &in1);
    EXPECT_EQ(in1.references, 2);
    EXPECT_EQ(in2.references, 1);
    pins.pins = {&in1};
    pins.next = 0;
    EXPECT_EQ(FindFilterPinByDirection(&filter, PINDIR_OUTPUT), nullptr);
    EXPECT_EQ(in1.references, 2);
    filter.enumerator = nullptr;
    EXPECT_EQ(FindFilterPinByDirection(&filter, PINDIR_INPUT), nullptr);
}

struct FakeSample : IMediaSample {
    Bytes data;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetPointer(BYTE** p) override {
        *p = data.data();
        return S_OK;
    }
    LONG GetSize() override { return LONG(data.size()); }
    HRESULT GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT IsSyncPoint() override { return S_OK; }
    HRESULT SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    HRESULT IsPreroll() override { return S_FALSE; }
    HRESULT SetPreroll(BOOL) override { return E_NOTIMPL; }
    LONG GetActualDataLength() override { return LONG(data.size()); }
    HRESULT SetActualDataLength(LONG) override { return E_NOTIMPL; }
    HRESULT GetMediaType(AM_MEDIA_TYPE**) override { return E_NOTIMPL; }
    HRESULT SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT IsDiscontinuity() override { return S_FALSE; }
    HRESULT SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    HRESULT GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
};

TEST(UseCLibTest, GrabbedSamplesAppendAndGrowInMegabyteSteps) {
    SoundConvertState state{};
    auto* pcm = ConverterArea<DirectShowMp3ConvertData>(&state);
    FakeSample sample;
    // Without a buffer the sample is dropped.
    sample.data = RandomBytes(100, 71);
    EXPECT_EQ(AppendGrabbedSample(&sample, &state), 0);
    EXPECT_EQ(pcm->pcmSize, 0u);
    pcm->pcmBuffer = static_cast<unsigned char*>(DX_ALLOC(1000));
    pcm->capacity = 1000;
    EXPECT_EQ(AppendGrabbedSample(&sample, &state), 0);
    EXPECT_EQ(pcm->pcmSize, 100u);
    EXPECT_EQ(pcm->capacity, 1000u);
    // 100 + 0x180000 bytes need two steps of 1 MiB beyond the 1,000.
    FakeSample big;
    big.data = RandomBytes(0x180000, 72);
    EXPECT_EQ(AppendGrabbedSample(&big, &state), 0);
    EXPECT_EQ(pcm->capacity, 1000u + 2 * 0x100000);
    EXPECT_EQ(pcm->pcmSize, 100u + 0x180000);
    EXPECT_EQ(std::memcmp(pcm->pcmBuffer, sample.data.data(), 100), 0);
    EXPECT_EQ(std::memcmp(pcm->pcmBuffer + 100, big.data.data(), big.data.size()), 0);
    DX_FREE(pcm->pcmBuffer);
}

}  // namespace
