// PNG reading: the own decoder and the libpng reader on files of every colour type and bit depth
// (made by our byte builder, by Pillow and by ImageMagick) agree with each other and with
// Pillow's decode read out by the readers' tables; the header cases, keys and palettes; damaged
// files are refused without leaks.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ImageFileBuilders.h"
#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"
#include "PillowOracle.h"
#include "PngFileBuilder.h"

using namespace ZiDaz;
using namespace velk_test;

namespace {

// Every pixel as red, green, blue, alpha: palette images through their entries (alpha from the
// entries' fourth byte when the format has alpha), others by their format; no alpha reads 255.
Bytes ExpandRgba(const BASEIMAGE& image) {
    Bytes out;
    const COLORFORMAT& f = image.Format;
    for (int y = 0; y < image.Height; ++y) {
        const auto* row =
            static_cast<const std::uint8_t*>(image.Pixels) + std::ptrdiff_t(y) * image.Pitch;
        for (int x = 0; x < image.Width; ++x) {
            const std::uint8_t* p = row + x * f.BytesPerPixel;
            int r, g, b, a = 255;
            if (f.BytesPerPixel == 1 && f.ChannelCount == 0) {
                b = f.Palette[*p][0], g = f.Palette[*p][1], r = f.Palette[*p][2];
                if (f.AlphaWidth != 0) a = f.Palette[*p][3];
            } else {
                std::uint32_t v = 0;
                for (int i = 0; i < f.BytesPerPixel; ++i) v |= std::uint32_t(p[i]) << (8 * i);
                DecomposeFormatColor(&f, v, &r, &g, &b, &a);
                if (f.AlphaWidth == 0) a = 255;
            }
            out.insert(out.end(),
                       {std::uint8_t(r), std::uint8_t(g), std::uint8_t(b), std::uint8_t(a)});
        }
    }
    return out;
}

// Pillow's decode of each PNG read out as the readers' tables say: grey levels of 16-bit samples
// by their high byte, keys compared with the unscaled sample (the high byte for 16 bits), palette
// alphas from tRNS below its length and 255 beyond, 255 everywhere without tRNS.
constexpr const char* kPngReadout = R"(import sys
from PIL import Image
for p in sys.argv[1:]:
    try:
        data = open(p, 'rb').read()
        depth, ct = data[24], data[25]
        im = Image.open(p)
        im.load()
        t = im.info.get('transparency')
        out = bytearray()
        def kb(v):
            return v >> 8 if depth == 16 else v & 0xFF
        if ct == 3:
            pal = im.getpalette()
            for i in im.tobytes():
                if t is None: a = 255
                elif isinstance(t, int): a = 0 if i == t else 255
                else: a = t[i] if i < len(t) else 255
                out += bytes(pal[3 * i:3 * i + 3]) + bytes([a])
        elif ct == 0:
            for v in im.getdata():
                if depth == 16: raw = level = v >> 8
                elif depth < 8: level, raw = v, v // (255 // (2 ** depth - 1))
                else: level = raw = v
                a = 255 if t is None or raw != kb(t) else 0
                out += bytes([level, level, level, a])
        elif ct == 4:
            # Pillow reads 16-bit grey with alpha as RGBA.
            for v in im.getdata(): out += bytes([v[0], v[0], v[0], v[-1]])
        elif ct == 2:
            for r, g, b in im.getdata():
                a = 255 if t is None or (r, g, b) != tuple(kb(c) for c in t) else 0
                out += bytes([r, g, b, a])
        else:
            out += im.tobytes()
    except Exception as e:
        sys.stderr.write('%s: %s\n' % (p, e))
        out = b''
    sys.stdout.buffer.write(b'%d\n' % len(out) + out)
)";

std::vector<Bytes> PillowPngReadout(const std::vector<std::filesystem::path>& files,
                                    const std::filesystem::path& scratch) {
    std::filesystem::create_directories(scratch);
    const auto script = scratch / "readout.py";
    { std::ofstream(script) << kPngReadout; }
    std::string command = "/usr/bin/python3 '" + script.string() + "'";
    for (const auto& f : files) command += " '" + f.string() + "'";
    std::vector<Bytes> result;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::size_t size = 0;
        while (std::fscanf(pipe, "%zu", &size) == 1) {
            std::fgetc(pipe);
            Bytes pixels(size);
            pixels.resize(std::fread(pixels.data(), 1, size, pipe));
            result.push_back(std::move(pixels));
        }
        pclose(pipe);
    }
    result.resize(files.size());
    return result;
}

PngSpec RandomPng(std::uint32_t width, std::uint32_t height, int depth, int colorType,
                  std::uint32_t seed) {
    PngSpec s;
    s.width = width;
    s.height = height;
    s.depth = depth;
    s.colorType = colorType;
    s.rows = RandomBytes(PngRowBytes(s) * height, seed);
    s.filters = {0, 1, 2, 3, 4, 4, 3, 1};
    if (colorType == 3) {
        const int entries = 1 << std::min(depth, 8);
        s.palette = RandomBytes(std::size_t(entries) * 3, seed + 1);
    }
    // Runs of equal pixels so that the filters see real neighbours and keys match somewhere.
    for (std::size_t i = 8; i < s.rows.size(); i += 5) s.rows[i] = s.rows[i - 8];
    return s;
}

struct PngCase {
    std::string name;
    Bytes file;
    bool ownReads = true;  // false: the own decoder refuses it (interlaced)
};

// Both readers (the own one where it takes the file) equal Pillow's readout and each other.
void ExpectReadersMatchPillow(const std::vector<PngCase>& cases, const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    std::vector<std::filesystem::path> paths;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        paths.push_back(dir / (std::to_string(i) + ".png"));
        if (!cases[i].file.empty()) WriteBytes(paths.back(), cases[i].file);
    }
    const auto expected = PillowPngReadout(paths, dir);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Bytes file = cases[i].file.empty() ? ReadBytes(paths[i]) : cases[i].file;
        ASSERT_FALSE(expected[i].empty());
        BASEIMAGE own, lib;
        const int blocks = GetTrackedMemoryCount();
        ASSERT_EQ(RunReader(ReadPngImageLibpng, file, &lib), 0);
        EXPECT_EQ(ExpandRgba(lib), expected[i]);
        if (cases[i].ownReads) {
            ASSERT_EQ(RunReader(ReadPngImage, file, &own), 0);
            EXPECT_EQ(ExpandRgba(own), expected[i]);
            EXPECT_EQ(own.Pitch, own.Width * own.Format.BytesPerPixel);
            FreeTrackedMemory(own.Pixels);
        } else {
            EXPECT_EQ(RunReader(ReadPngImage, file, &own), -1);
            EXPECT_EQ(own.Pixels, nullptr);
        }
        FreeTrackedMemory(lib.Pixels);
        EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    }
}

TEST(BaseImagePngTest, EveryColourTypeAndDepthFromTheByteBuilderMatchesPillow) {
    ScratchDir dir("pngbuilder");
    std::vector<PngCase> cases;
    const struct {
        int colorType;
        std::vector<int> depths;
    } kinds[] = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    std::uint32_t seed = 1;
    for (const auto& kind : kinds) {
        for (int depth : kind.depths) {
            for (bool withTrns : {false, true}) {
                if (withTrns && (kind.colorType == 4 || kind.colorType == 6)) continue;
                for (std::uint32_t width : {1u, 5u, 17u}) {
                    PngSpec s = RandomPng(width, 6, depth, kind.colorType, seed++);
                    if (withTrns) {
                        const std::size_t rowBytes = PngRowBytes(s);
                        if (kind.colorType == 3) {
                            s.trns = RandomBytes(std::size_t(1) << std::min(depth, 2), seed++);
                        } else if (kind.colorType == 0) {
                            // The key is the first pixel's sample.
                            const int sample = depth >= 8 ? s.rows[0] : s.rows[0] >> (8 - depth);
                            s.trns = depth == 16 ? Bytes{s.rows[0], s.rows[1]}
                                                 : Bytes{0, std::uint8_t(sample)};
                        } else {
                            const int step = depth / 8;
                            s.trns.clear();
                            for (int c = 0; c < 3; ++c) {
                                s.trns.push_back(depth == 16 ? s.rows[c * step] : 0);
                                s.trns.push_back(s.rows[c * step + step - 1]);
                            }
                            // The first pixel again at the start of the last row.
                            std::copy(s.rows.begin(), s.rows.begin() + 3 * step,
                                      s.rows.end() - std::ptrdiff_t(rowBytes));
                        }
                    }
                    cases.push_back({"type " + std::to_string(kind.colorType) + " depth " +
                                         std::to_string(depth) + (withTrns ? " tRNS" : "") +
                                         " width " + std::to_string(width),
                                     MakePng(s)});
                }
            }
        }
    }
    ExpectReadersMatchPillow(cases, dir.path);
}

// Files written by Pillow and ImageMagick: every mode Pillow writes, 16-bit colour from
// ImageMagick, and interlaced files, which only libpng reads.
TEST(BaseImagePngTest, FilesFromPillowAndImageMagickMatchPillow) {
    ScratchDir dir("pngtools");
    const std::string folder = dir.path.string();
    const std::string script = R"(import sys, random
from PIL import Image
d = sys.argv[1]
random.seed(7)
def img(mode, size, values):
    im = Image.new(mode, size)
    im.putdata([values() for _ in range(size[0] * size[1])])
    return im
w, h = 23, 11
rgb = lambda: (random.randrange(0, 256, 51), random.randrange(256), random.randrange(0, 256, 85))
img('1', (w, h), lambda: random.choice((0, 255))).save(d + '/p-1.png')
img('L', (w, h), lambda: random.randrange(256)).save(d + '/p-l.png')
img('L', (w, h), lambda: random.randrange(0, 256, 51)).save(d + '/p-l-key.png', transparency=102)
img('I;16', (w, h), lambda: random.randrange(65536)).save(d + '/p-i16.png')
img('RGB', (w, h), rgb).save(d + '/p-rgb.png')
img('RGB', (w, h), lambda: random.choice(((0, 0, 0), (255, 0, 85), (51, 1, 170)))).save(d + '/p-rgb-key.png', transparency=(255, 0, 85))
img('RGBA', (w, h), lambda: rgb() + (random.randrange(256),)).save(d + '/p-rgba.png')
img('LA', (w, h), lambda: (random.randrange(256), random.randrange(256))).save(d + '/p-la.png')
for bits in (1, 2, 4, 8):
    p = img('P', (w, h), lambda: random.randrange(1 << bits))
    p.putpalette([random.randrange(256) for _ in range(3 << bits)])
    p.save(d + '/p-pal%d.png' % bits, bits=bits)
    p.save(d + '/p-pal%d-trns.png' % bits, bits=bits, transparency=bytes(random.randrange(256) for _ in range(min(3, 1 << bits))))
img('RGB', (w, h), rgb).save(d + '/source.ppm')
img('RGBA', (w, h), lambda: rgb() + (random.randrange(256),)).save(d + '/source-rgba.png')
)";
    { std::ofstream(dir.path / "make.py") << script; }
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + folder + "/make.py' '" + folder + "'").c_str()),
              0);
    // ImageMagick's convert itself, by its full path.
    const std::string convert = "/usr/bin/convert ";
    const std::vector<std::pair<std::string, std::string>> magick = {
        {"source.ppm -depth 16 PNG48:", "m-rgb16.png"},
        {"source-rgba.png -depth 16 PNG64:", "m-rgba16.png"},
        {"source.ppm -interlace PNG PNG24:", "m-rgb-interlaced.png"},
        {"source-rgba.png -interlace PNG PNG32:", "m-rgba-interlaced.png"},
        {"source.ppm -colorspace Gray -depth 16 -interlace PNG PNG:", "m-grey16-interlaced.png"},
    };
    for (const auto& [args, out] : magick) {
        const std::string command = "cd '" + folder + "' && " + convert + args + out;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    std::vector<PngCase> cases;
    for (const char* name : {"p-1.png", "p-l.png", "p-l-key.png", "p-i16.png", "p-rgb.png",
                             "p-rgb-key.png", "p-rgba.png", "p-la.png", "p-pal1.png", "p-pal2.png",
                             "p-pal4.png", "p-pal8.png", "p-pal1-trns.png", "p-pal2-trns.png",
                             "p-pal4-trns.png", "p-pal8-trns.png", "m-rgb16.png", "m-rgba16.png"}) {
        cases.push_back({name, ReadBytes(dir.path / name)});
    }
    for (const char* name :
         {"m-rgb-interlaced.png", "m-rgba-interlaced.png", "m-grey16-interlaced.png"}) {
        Bytes file = ReadBytes(dir.path / name);
        ASSERT_GT(file.size(), 28u);
        EXPECT_EQ(file[28], 1) << name << " is interlaced";
        cases.push_back({name, file, false});
    }
    ExpectReadersMatchPillow(cases, dir.path / "copies");
}

TEST(BaseImagePngTest, HeaderCasesKeysAndPalettes) {
    // Wrong CRCs: the own decoder never looks at them.
    PngSpec rgb = RandomPng(3, 2, 8, 2, 11);
    rgb.badCrc = true;
    BASEIMAGE image;
    ASSERT_EQ(RunReader(ReadPngImage, MakePng(rgb), &image), 0);
    // Width 3 of RGB: pitch 9, unpadded.
    EXPECT_EQ(image.Pitch, 9);
    EXPECT_EQ(image.Format.BytesPerPixel, 3);
    const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
    EXPECT_EQ(p[9], rgb.rows[11]);  // second row's first blue is the stored third byte
    FreeTrackedMemory(image.Pixels);

    // 1-bit grey: 0x00 and 0xFF in both readers.
    PngSpec bits;
    bits.width = 8;
    bits.depth = 1;
    bits.colorType = 0;
    bits.rows = {0xA5};
    for (ImageReader reader : {ReadPngImage, ReadPngImageLibpng}) {
        ASSERT_EQ(RunReader(reader, MakePng(bits), &image), 0);
        const auto* g = static_cast<const std::uint8_t*>(image.Pixels);
        EXPECT_EQ(Bytes(g, g + 8), (Bytes{0xFF, 0, 0xFF, 0, 0, 0xFF, 0, 0xFF}));
        EXPECT_EQ(image.Format.AlphaWidth, 0);
        EXPECT_EQ(image.Format.Palette[0xFF][2], 0xFF);  // the grey palette
        FreeTrackedMemory(image.Pixels);
    }

    // A palette of 16 entries with a 3-byte tRNS: entries 0 to 2 take it, the rest 255; the
    // own decoder's highest index is 15, libpng's 255.
    PngSpec pal = RandomPng(4, 4, 8, 3, 12);
    pal.palette = RandomBytes(48, 13);
    for (auto& v : pal.rows) v &= 15;
    pal.trns = {10, 20, 30};
    ASSERT_EQ(RunReader(ReadPngImage, MakePng(pal), &image), 0);
    EXPECT_EQ(image.Format.HighestPaletteIndex, 15);
    EXPECT_NE(image.Format.AlphaWidth, 0);
    EXPECT_EQ(image.Format.Palette[1][3], 20);
    EXPECT_EQ(image.Format.Palette[3][3], 255);
    EXPECT_EQ(image.Format.Palette[255][3], 255);
    EXPECT_EQ(image.Format.Palette[5][2], pal.palette[15]);  // red of entry 5
    FreeTrackedMemory(image.Pixels);
    ASSERT_EQ(RunReader(ReadPngImageLibpng, MakePng(pal), &image), 0);
    EXPECT_EQ(image.Format.HighestPaletteIndex, 255);
    EXPECT_EQ(image.Format.Palette[2][3], 30);
    EXPECT_EQ(image.Format.Palette[15][3], 255);
    FreeTrackedMemory(image.Pixels);
    // Without tRNS: every alpha 0 and no alpha in the format.
    pal.trns.clear();
    for (ImageReader reader : {ReadPngImage, ReadPngImageLibpng}) {
        ASSERT_EQ(RunReader(reader, MakePng(pal), &image), 0);
        EXPECT_EQ(image.Format.AlphaWidth, 0);
        EXPECT_EQ(image.Format.Palette[0][3], 0);
        EXPECT_EQ(image.Format.Palette[15][3], 0);
        FreeTrackedMemory(image.Pixels);
    }

    // 16-bit RGB with a tRNS colour: the high bytes decide.
    PngSpec deep;
    deep.width = 2;
    deep.depth = 16;
    deep.colorType = 2;
    deep.rows = {0x12, 0x01, 0x34, 0x02, 0x56, 0x03, 0x12, 0x00, 0x34, 0x00, 0x57, 0x00};
    deep.trns = {0x12, 0xFF, 0x34, 0xFF, 0x56, 0xFF};
    for (ImageReader reader : {ReadPngImage, ReadPngImageLibpng}) {
        ASSERT_EQ(RunReader(reader, MakePng(deep), &image), 0);
        const auto* q = static_cast<const std::uint8_t*>(image.Pixels);
        EXPECT_EQ(Bytes(q, q + 8), (Bytes{0x56, 0x34, 0x12, 0, 0x57, 0x34, 0x12, 255}));
        FreeTrackedMemory(image.Pixels);
    }

    // Header only: size and format, no pixels (libpng checks the CRCs).
    rgb.badCrc = false;
    ASSERT_EQ(RunReader(ReadPngImage, MakePng(rgb), &image, 1), 0);
    EXPECT_EQ(image.Width, 3);
    EXPECT_EQ(image.Height, 2);
    EXPECT_EQ(image.Pixels, nullptr);
    ASSERT_EQ(RunReader(ReadPngImageLibpng, MakePng(rgb), &image, 1), 0);
    EXPECT_EQ(image.Width, 3);
    EXPECT_EQ(image.Pixels, nullptr);

    // Image data split over several IDATs, with an empty one among them.
    PngSpec split = RandomPng(9, 9, 8, 6, 14);
    split.idatChunks = 4;
    Bytes file = MakePng(split);
    ASSERT_EQ(RunReader(ReadPngImage, file, &image), 0);
    FreeTrackedMemory(image.Pixels);
}

TEST(BaseImagePngTest, RefusedFilesAndTheDriverFallingBackToLibpng) {
    BASEIMAGE image;
    const PngSpec good = RandomPng(6, 5, 8, 6, 21);
    struct Refusal {
        const char* name;
        Bytes file;
        bool libpngReads;
    };
    std::vector<Refusal> refusals;
    PngSpec s = good;
    s.filters = {0, 5};
    refusals.push_back({"filter type 5", MakePng(s), false});
    // One pixel: its interlaced data is its plain data.
    PngSpec one = RandomPng(1, 1, 8, 6, 23);
    one.interlace = 1;
    const Bytes interlaced = MakePng(one);
    refusals.push_back({"interlaced", interlaced, true});
    s = good;
    s.depth = 4;
    refusals.push_back({"RGBA of depth 4", MakePng(s), false});
    s = RandomPng(4, 4, 8, 3, 22);
    s.palette.clear();
    refusals.push_back({"palette without PLTE", MakePng(s), false});
    Bytes twoHeaders = MakePng(good);
    twoHeaders.insert(twoHeaders.begin() + 33, twoHeaders.begin() + 8, twoHeaders.begin() + 33);
    refusals.push_back({"second IHDR", twoHeaders, false});
    Bytes noEnd = MakePng(good);
    noEnd.resize(noEnd.size() - 12);
    refusals.push_back({"no IEND", noEnd, false});
    Bytes longChunk = MakePng(good);
    longChunk[33] = 0x7F;  // the IDAT's length runs past the end
    refusals.push_back({"chunk past the end", longChunk, false});
    Bytes notPng = MakePng(good);
    notPng[1] = 'Q';
    refusals.push_back({"signature", notPng, false});
    Bytes huge = MakePng(good);
    huge[16] = 0x40;  // width 0x40000006
    refusals.push_back({"width beyond the limit", huge, false});
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.name);
        const int blocks = GetTrackedMemoryCount();
        EXPECT_EQ(RunReader(ReadPngImage, r.file, &image), -1);
        EXPECT_EQ(image.Pixels, nullptr);
        const int lib = RunReader(ReadPngImageLibpng, r.file, &image);
        EXPECT_EQ(lib, r.libpngReads ? 0 : -1);
        FreeTrackedMemory(image.Pixels);
        EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    }
    // The own decoder reads only memory streams.
    const Bytes file = MakePng(good);
    ImageReaderAccess fileAccess{GetFileStreamAccess(), nullptr};
    EXPECT_EQ(ReadPngImage(&fileAccess, &image, 0), -1);
    // The driver reads the interlaced file through libpng.
    std::memset(&image, 0, sizeof(image));
    ASSERT_EQ(ReadImageToBaseImage(nullptr, interlaced.data(), interlaced.size(), 1, 0, 0, 0,
                                   &image, nullptr, nullptr),
              0);
    EXPECT_EQ(image.Width, 1);
    EXPECT_EQ(image.Format.AlphaWidth, 8);
    FreeTrackedMemory(image.Pixels);
}

// Every cut of a file and every single bit flipped in its first bytes: -1 or an image, nothing
// left allocated, in both readers.
TEST(BaseImagePngTest, CutAndBitFlippedFilesLeaveNothingBehind) {
    std::vector<Bytes> files;
    PngSpec a = RandomPng(5, 4, 8, 2, 31);
    a.idatChunks = 2;
    files.push_back(MakePng(a));
    PngSpec b = RandomPng(7, 3, 2, 3, 32);
    b.trns = {1, 2};
    files.push_back(MakePng(b));
    files.push_back(MakePng(RandomPng(3, 3, 16, 4, 33)));
    BASEIMAGE image;
    for (const Bytes& file : files) {
        const int blocks = GetTrackedMemoryCount();
        for (std::size_t cut = 0; cut < file.size(); ++cut) {
            const Bytes part(file.begin(), file.begin() + std::ptrdiff_t(cut));
            for (ImageReader reader : {ReadPngImage, ReadPngImageLibpng}) {
                const int r = RunReader(reader, part, &image);
                if (r == 0) FreeTrackedMemory(image.Pixels);
                // Only the own decoder needs IEND; libpng still needs every row.
                if (reader == ReadPngImage) EXPECT_EQ(r, -1) << cut;
            }
        }
        for (std::size_t bit = 8 * 8; bit < std::min<std::size_t>(file.size(), 80) * 8; ++bit) {
            Bytes flipped = file;
            flipped[bit / 8] ^= std::uint8_t(1 << (bit % 8));
            for (ImageReader reader : {ReadPngImage, ReadPngImageLibpng}) {
                if (RunReader(reader, flipped, &image) == 0) FreeTrackedMemory(image.Pixels);
            }
        }
        EXPECT_EQ(GetTrackedMemoryCount(), blocks);
    }
}

}  // namespace
