// Block-compressed decoding against a reference block decoder, premultiplication, the YUV
// converters against the Q15 formula, and the base-image rectangle copies, Windows bitmap bits
// and half-size images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"
#include "platform/Gdi32.h"

using namespace ZiDaz;

namespace {

// ---- Reference block decoder, straight from the block rules -------------------------------------

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba&) const = default;
};

void ReferenceColors(const std::uint8_t* block, bool dxt1, Rgba* entries) {
    const int w0 = block[0] | block[1] << 8;
    const int w1 = block[2] | block[3] << 8;
    auto expand = [](int w) {
        return Rgba{(w >> 11) * 255 / 31, ((w >> 5) & 63) * 255 / 63, (w & 31) * 255 / 31, 255};
    };
    const Rgba c0 = expand(w0), c1 = expand(w1);
    entries[0] = c0;
    entries[1] = c1;
    if (!dxt1 || w0 > w1) {
        entries[2] = {(2 * c0.r + c1.r) / 3, (2 * c0.g + c1.g) / 3, (2 * c0.b + c1.b) / 3, 255};
        entries[3] = {(c0.r + 2 * c1.r) / 3, (c0.g + 2 * c1.g) / 3, (c0.b + 2 * c1.b) / 3, 255};
    } else {
        entries[2] = {(c0.r + c1.r) / 2, (c0.g + c1.g) / 2, (c0.b + c1.b) / 2, 255};
        entries[3] = entries[2];
        entries[3].a = 0;
    }
}

// The 16 pixels of one block, pixel i = 4 x row + column.
std::vector<Rgba> ReferenceBlock(int kind, const std::uint8_t* block) {
    const std::uint8_t* color = kind == 1 ? block : block + 8;
    Rgba entries[4];
    ReferenceColors(color, kind == 1, entries);
    const std::uint32_t indices =
        static_cast<std::uint32_t>(color[4] | color[5] << 8 | color[6] << 16) |
        static_cast<std::uint32_t>(color[7]) << 24;
    std::vector<Rgba> out(16);
    for (int i = 0; i < 16; ++i) out[i] = entries[(indices >> (2 * i)) & 3];
    if (kind == 2 || kind == 3) {
        for (int i = 0; i < 16; ++i) out[i].a = ((block[i / 2] >> (4 * (i % 2))) & 15) * 17;
    }
    if (kind == 4 || kind == 5) {
        const int a0 = block[0], a1 = block[1];
        int table[8] = {a0, a1};
        if (a0 > a1) {
            for (int k = 1; k <= 6; ++k) table[k + 1] = ((7 - k) * a0 + k * a1) / 7;
        } else {
            for (int k = 1; k <= 4; ++k) table[k + 1] = ((5 - k) * a0 + k * a1) / 5;
            table[6] = 0;
            table[7] = 255;
        }
        std::uint64_t bits = 0;
        for (int b = 0; b < 6; ++b) bits |= std::uint64_t{block[2 + b]} << (8 * b);
        for (int i = 0; i < 16; ++i) out[i].a = table[(bits >> (3 * i)) & 7];
    }
    if (kind == 2 || kind == 4) {
        for (Rgba& p : out) {
            if (p.a == 0) {
                p.r = p.g = p.b = 0;
            } else {
                p.r = std::min(p.r * 255 / p.a, 255);
                p.g = std::min(p.g * 255 / p.a, 255);
                p.b = std::min(p.b * 255 / p.a, 255);
            }
        }
    }
    return out;
}

// A block image of random data with its faces and levels, sized exactly by the layout rules.
struct BlockImage {
    std::vector<std::uint8_t> data;
    BASEIMAGE image{};
    std::size_t faceBytes = 0;
};

BlockImage MakeBlockImage(std::mt19937& rng, int kind, int width, int height, int mips, bool cube) {
    BlockImage b;
    const int blockBytes = kind == 1 ? 8 : 16;
    for (int l = 0; l < std::max(mips, 1); ++l) {
        const int w = std::max(width >> l, 1), h = std::max(height >> l, 1);
        b.faceBytes += static_cast<std::size_t>((w + 3) / 4) * ((h + 3) / 4) * blockBytes;
    }
    const int faces = cube ? 6 : 1;
    // The decoder takes ownership of tracked memory; the exact size lets ASan see overreads.
    auto* pixels = static_cast<std::uint8_t*>(
        AllocateTrackedMemory(b.faceBytes * faces, "BaseImageDecodeTest", __LINE__));
    for (std::size_t i = 0; i < b.faceBytes * faces; ++i)
        pixels[i] = static_cast<std::uint8_t>(rng());
    b.data.assign(pixels, pixels + b.faceBytes * faces);
    InitColorFormatArgb8(&b.image.Format);
    b.image.Format.FormatKind = static_cast<std::uint8_t>(kind);
    b.image.Width = width;
    b.image.Height = height;
    b.image.Pitch = (width + 3) / 4 * blockBytes;
    b.image.Pixels = pixels;
    b.image.MipCount = mips;
    b.image.ImageCount = cube ? 6 : 0;
    return b;
}

TEST(BlockDecodeTest, RandomBlocksOfEveryKindMatchTheReference) {
    std::mt19937 rng(99);
    struct Case {
        int width, height, mips;
        bool cube;
    };
    const Case cases[] = {{16, 8, 0, false}, {6, 6, 0, false}, {13, 5, 3, false},
                          {8, 8, 4, true},   {5, 9, 2, true},  {1, 1, 0, false}};
    for (int kind = 1; kind <= 5; ++kind) {
        for (const Case& c : cases) {
            SCOPED_TRACE("kind " + std::to_string(kind) + " " + std::to_string(c.width) + "x" +
                         std::to_string(c.height) + (c.cube ? " cube" : ""));
            BlockImage b = MakeBlockImage(rng, kind, c.width, c.height, c.mips, c.cube);
            ASSERT_EQ(DecodeBlockCompressedBaseImage(&b.image, 1), 0);
            const int blocksWide = (c.width + 3) / 4, blocksHigh = (c.height + 3) / 4;
            EXPECT_EQ(b.image.Pitch, blocksWide * 16);
            EXPECT_EQ(b.image.Format.FormatKind, 0);
            EXPECT_EQ(b.image.Format.AlphaMask, 0xFF000000u);
            EXPECT_EQ(b.image.Width, c.width);
            const int blockBytes = kind == 1 ? 8 : 16;
            const auto* out = static_cast<const std::uint8_t*>(b.image.Pixels);
            for (int face = 0; face < (c.cube ? 6 : 1); ++face) {
                for (int by = 0; by < blocksHigh; ++by) {
                    for (int bx = 0; bx < blocksWide; ++bx) {
                        const std::uint8_t* block = b.data.data() + face * b.faceBytes +
                                                    (by * blocksWide + bx) * blockBytes;
                        const std::vector<Rgba> want = ReferenceBlock(kind, block);
                        for (int i = 0; i < 16; ++i) {
                            const std::uint8_t* p =
                                out +
                                static_cast<std::size_t>(face * blocksHigh * 4 + by * 4 + i / 4) *
                                    b.image.Pitch +
                                (bx * 4 + i % 4) * 4;
                            const Rgba got{p[2], p[1], p[0], p[3]};
                            ASSERT_EQ(got, want[i]) << "face " << face << " block " << bx << ","
                                                    << by << " pixel " << i;
                        }
                    }
                }
            }
            DisposeBaseImage(&b.image);
        }
    }
}

// One block of the given kind decoded through a 4 x 4 image.
std::vector<Rgba> DecodeOne(int kind, std::vector<std::uint8_t> block) {
    BASEIMAGE image{};
    InitColorFormatArgb8(&image.Format);
    image.Format.FormatKind = static_cast<std::uint8_t>(kind);
    image.Width = image.Height = 4;
    image.Pixels = block.data();
    EXPECT_EQ(DecodeBlockCompressedBaseImage(&image, 0), 0);
    std::vector<Rgba> out;
    const auto* p = static_cast<const std::uint8_t*>(image.Pixels);
    for (int i = 0; i < 16; ++i) {
        const std::uint8_t* q = p + (i / 4) * image.Pitch + (i % 4) * 4;
        out.push_back({q[2], q[1], q[0], q[3]});
    }
    FreeTrackedMemory(image.Pixels);
    return out;
}

TEST(BlockDecodeTest, WorkedExamples) {
    // Red over blue, four-colour mode: indices 0, 1, 2, 3 on the first row.
    auto d = DecodeOne(1, {0x00, 0xF8, 0x1F, 0x00, 0xE4, 0, 0, 0});
    EXPECT_EQ(d[0], (Rgba{255, 0, 0, 255}));
    EXPECT_EQ(d[1], (Rgba{0, 0, 255, 255}));
    EXPECT_EQ(d[2], (Rgba{170, 0, 85, 255}));
    EXPECT_EQ(d[3], (Rgba{85, 0, 170, 255}));
    // Equal words: index 3 is that colour with alpha 0.
    d = DecodeOne(1, {0x1F, 0x00, 0x1F, 0x00, 0xFF, 0, 0, 0});
    EXPECT_EQ(d[0], (Rgba{0, 0, 255, 0}));
    // DXT5 alphas: a0 255, a1 0 gives entry 2 = 218 and entry 7 = 36; a0 0, a1 255 gives 0, 255.
    std::vector<std::uint8_t> dxt5(16, 0);
    dxt5[0] = 255;
    dxt5[1] = 0;
    dxt5[2] = 2 | 7 << 3;  // pixel 0 entry 2, pixel 1 entry 7
    d = DecodeOne(5, dxt5);
    EXPECT_EQ(d[0].a, 218);
    EXPECT_EQ(d[1].a, 36);
    dxt5[0] = 0;
    dxt5[1] = 255;
    dxt5[2] = 6 | 7 << 3;
    d = DecodeOne(5, dxt5);
    EXPECT_EQ(d[0].a, 0);
    EXPECT_EQ(d[1].a, 255);
    // DXT3 nibbles.
    std::vector<std::uint8_t> dxt3(16, 0);
    dxt3[0] = 0x1F;
    d = DecodeOne(3, dxt3);
    EXPECT_EQ(d[0].a, 255);
    EXPECT_EQ(d[1].a, 17);
    // DXT4: a decoded (65, 64, 65) with alpha 128 becomes (129, 127, 129). Colour word
    // 0x4208 = red 8, green 16, blue 8: (65, 64, 65).
    std::vector<std::uint8_t> dxt4(16, 0);
    dxt4[0] = dxt4[1] = 128;
    dxt4[8] = 0x08;
    dxt4[9] = 0x42;
    d = DecodeOne(4, dxt4);
    EXPECT_EQ(d[0], (Rgba{129, 127, 129, 128}));
    // A colour above its alpha is limited to 255.
    d = DecodeOne(2, std::vector<std::uint8_t>{0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x08,
                                               0x42, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(d[0], (Rgba{255, 255, 255, 17}));
}

TEST(BlockDecodeTest, SizesRefusalsAndFaces) {
    std::mt19937 rng(3);
    BlockImage b = MakeBlockImage(rng, 1, 6, 6, 0, false);
    ASSERT_EQ(DecodeBlockCompressedBaseImage(&b.image, 1), 0);
    EXPECT_EQ(b.image.Pitch, 32);
    EXPECT_EQ(b.image.Width, 6);
    EXPECT_EQ(b.image.Height, 6);
    DisposeBaseImage(&b.image);

    // BC7 and unknown kinds are refused and leave the image as it was; plain images pass.
    for (int kind : {6, 7, 9}) {
        BlockImage c = MakeBlockImage(rng, 5, 4, 4, 0, false);
        c.image.Format.FormatKind = static_cast<std::uint8_t>(kind);
        const BASEIMAGE before = c.image;
        EXPECT_EQ(DecodeBlockCompressedBaseImage(&c.image, 1), -1);
        EXPECT_EQ(std::memcmp(&before, &c.image, sizeof(before)), 0);
        int r;
        EXPECT_EQ(ReadBaseImagePixelRgba(&c.image, 0, 0, &r, &r, &r, &r), -1);
        DisposeBaseImage(&c.image);
    }
    BASEIMAGE plain{};
    ASSERT_EQ(NewBaseImageArgb8(2, 2, &plain), 0);
    void* pixels = plain.Pixels;
    EXPECT_EQ(DecodeBlockCompressedBaseImage(&plain, 1), 0);
    EXPECT_EQ(plain.Pixels, pixels);
    DisposeBaseImage(&plain);

    // A cube map whose faces differ decodes six different faces; pixel reads decode first.
    BlockImage cube = MakeBlockImage(rng, 3, 4, 4, 3, true);
    int r = 0, g = 0, bl = 0, a = 0;
    ASSERT_EQ(ReadBaseImagePixelRgba(&cube.image, 3, 3, &r, &g, &bl, &a), 0);
    EXPECT_EQ(cube.image.Format.FormatKind, 0);
    const auto* p = static_cast<const std::uint8_t*>(cube.image.Pixels);
    for (int f = 1; f < 6; ++f) EXPECT_NE(std::memcmp(p, p + f * 64, 64), 0) << f;
    DisposeBaseImage(&cube.image);
}

TEST(PremultiplyTest, TableProductsAndConversions) {
    InitBaseImageModule();
    BASEIMAGE argb{};
    ASSERT_EQ(NewBaseImageArgb8(3, 1, &argb), 0);
    const std::uint32_t in[3] = {0x80FF8040, 0x00FFFFFF, 0xFF123456};
    std::memcpy(argb.Pixels, in, 12);
    ASSERT_EQ(PremultiplyBaseImageAlpha(&argb), 0);
    std::uint32_t out[3];
    std::memcpy(out, argb.Pixels, 12);
    EXPECT_EQ(out[0], 0x80804020u);  // 255 * 128 / 255, 128 * 128 / 255, 64 * 128 / 255
    EXPECT_EQ(out[1], 0x00000000u);
    EXPECT_EQ(out[2], 0xFF123456u);
    DisposeBaseImage(&argb);

    // No alpha: unchanged.
    BASEIMAGE xrgb{};
    ASSERT_EQ(NewBaseImageXrgb8(1, 1, &xrgb), 0);
    std::memcpy(xrgb.Pixels, &in[0], 4);
    ASSERT_EQ(PremultiplyBaseImageAlpha(&xrgb), 0);
    EXPECT_EQ(std::memcmp(xrgb.Pixels, &in[0], 4), 0);
    EXPECT_EQ(xrgb.Format.AlphaMask, 0u);
    DisposeBaseImage(&xrgb);

    // A palette with alpha becomes premultiplied ARGB8.
    BASEIMAGE pal{};
    ASSERT_EQ(NewBaseImagePal8(2, 1, &pal, 1), 0);
    pal.Format.Palette[7][3] = 51;  // red 255 at alpha 51
    static_cast<std::uint8_t*>(pal.Pixels)[0] = 7;
    static_cast<std::uint8_t*>(pal.Pixels)[1] = 0;
    ASSERT_EQ(PremultiplyBaseImageAlpha(&pal), 0);
    EXPECT_EQ(pal.Format.BitsPerPixel, 32);
    EXPECT_EQ(pal.Pitch, 8);
    std::memcpy(out, pal.Pixels, 8);
    EXPECT_EQ(out[0], 0x33330000u);
    EXPECT_EQ(out[1], 0xFF000000u);
    DisposeBaseImage(&pal);

    // A DXT3 image is decoded first.
    std::mt19937 rng(5);
    BlockImage b = MakeBlockImage(rng, 3, 4, 4, 0, false);
    ASSERT_EQ(PremultiplyBaseImageAlpha(&b.image), 0);
    const std::vector<Rgba> ref = ReferenceBlock(3, b.data.data());
    const auto* p = static_cast<const std::uint8_t*>(b.image.Pixels);
    EXPECT_EQ(p[2], ref[0].r * ref[0].a / 255);
    EXPECT_EQ(p[3], ref[0].a);
    DisposeBaseImage(&b.image);
}

// ---- YUV ----------------------------------------------------------------------------------------

int Clamp15(std::int64_t s) {
    return s < 0 ? 0 : s > 255 * 32768 ? 255 : static_cast<int>(s >> 15);
}

std::uint32_t ReferenceYuv(int y, int u, int v) {
    const int b = Clamp15((std::int64_t{y} << 15) + (u - 128) * 58064);
    const int g = Clamp15((std::int64_t{y} << 15) - (u - 128) * 11272 - (v - 128) * 23396);
    const int r = Clamp15((std::int64_t{y} << 15) + (v - 128) * 45940);
    return 0xFF000000u | static_cast<std::uint32_t>(r << 16 | g << 8 | b);
}

enum class Layout { kNv11, kNv12, kYv12, kUyvy, kYuy2, kYvyu };

std::size_t FrameBytes(Layout l, int w, int h) {
    switch (l) {
        case Layout::kNv11:
            return static_cast<std::size_t>(w) * h + static_cast<std::size_t>(w / 2) * h;
        case Layout::kNv12:
            return static_cast<std::size_t>(w) * h + static_cast<std::size_t>(w) * (h / 2);
        case Layout::kYv12:
            return static_cast<std::size_t>(w) * h + 2 * static_cast<std::size_t>(w / 2) * (h / 2);
        default:
            return static_cast<std::size_t>(w) * 2 * h;
    }
}

// Luma, U and V of pixel (x, y) with whether the pixel belongs to a whole chroma group.
bool Sample(Layout l, const std::vector<std::uint8_t>& f, int w, int h, int x, int y, int* Y,
            int* U, int* V) {
    const std::size_t lumaSize = static_cast<std::size_t>(w) * h;
    switch (l) {
        case Layout::kNv11: {
            if (x >= w / 4 * 4) return false;
            *Y = f[static_cast<std::size_t>(y) * w + x];
            const std::size_t c = lumaSize + static_cast<std::size_t>(y) * (w / 2) + x / 4 * 2;
            *U = f[c];
            *V = f[c + 1];
            return true;
        }
        case Layout::kNv12: {
            if (x >= w / 2 * 2 || y >= h / 2 * 2) return false;
            *Y = f[static_cast<std::size_t>(y) * w + x];
            const std::size_t c = lumaSize + static_cast<std::size_t>(y / 2) * w + x / 2 * 2;
            *U = f[c];
            *V = f[c + 1];
            return true;
        }
        case Layout::kYv12: {
            if (x >= w / 2 * 2 || y >= h / 2 * 2) return false;
            *Y = f[static_cast<std::size_t>(y) * w + x];
            const std::size_t at = static_cast<std::size_t>(y / 2) * (w / 2) + x / 2;
            *V = f[lumaSize + at];
            *U = f[lumaSize + static_cast<std::size_t>(w / 2) * (h / 2) + at];
            return true;
        }
        default: {
            if (x >= w / 2 * 2) return false;
            const std::size_t g = static_cast<std::size_t>(y) * 2 * w + x / 2 * 4;
            // Offsets of Y0, U, Y1, V.
            int o[4];
            if (l == Layout::kUyvy) {
                o[0] = 1, o[1] = 0, o[2] = 3, o[3] = 2;
            } else if (l == Layout::kYuy2) {
                o[0] = 0, o[1] = 1, o[2] = 2, o[3] = 3;
            } else {
                o[0] = 0, o[1] = 3, o[2] = 2, o[3] = 1;
            }
            *Y = f[g + o[x % 2 == 0 ? 0 : 2]];
            *U = f[g + o[1]];
            *V = f[g + o[3]];
            return true;
        }
    }
}

TEST(YuvFrameTest, SixLayoutsMatchTheFormulaAtOddSizes) {
    std::mt19937 rng(11);
    struct Converter {
        Layout layout;
        const char* name;
        int (*unpack)(const void*, int, int, BASEIMAGE*);
        int (*split)(const void*, int, int, void*, void*);
    };
    const Converter converters[] = {
        {Layout::kNv11, "NV11", UnpackNv11Frame, SplitNv11FrameYuv},
        {Layout::kNv12, "NV12", UnpackNv12Frame, SplitNv12FrameYuv},
        {Layout::kYv12, "YV12", UnpackYv12Frame, SplitYv12FrameYuv},
        {Layout::kUyvy, "UYVY", UnpackUyvyFrame, SplitUyvyFrameYuv},
        {Layout::kYuy2, "YUY2", UnpackYuy2Frame, SplitYuy2FrameYuv},
        {Layout::kYvyu, "YVYU", UnpackYvyuFrame, SplitYvyuFrameYuv},
    };
    // Odd sizes, and widths past the converters' 16-pixel steps with a remainder.
    const int sizes[][2] = {{7, 5}, {10, 3}, {4, 2}, {1, 1}, {13, 9}, {37, 5}, {50, 4}};
    for (const Converter& c : converters) {
        for (const auto& size : sizes) {
            const int w = size[0], h = size[1];
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(w) + "x" + std::to_string(h));
            std::vector<std::uint8_t> frame(FrameBytes(c.layout, w, h));
            for (auto& b : frame) b = static_cast<std::uint8_t>(rng());
            BASEIMAGE image{};
            ASSERT_EQ(NewBaseImageXrgb8(w, h, &image), 0);
            std::memset(image.Pixels, 0x77, static_cast<std::size_t>(image.Pitch) * h);
            ASSERT_EQ(c.unpack(frame.data(), w, h, &image), 0);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    int Y, U, V;
                    std::uint32_t got;
                    std::memcpy(&got,
                                static_cast<std::uint8_t*>(image.Pixels) + y * image.Pitch + x * 4,
                                4);
                    if (Sample(c.layout, frame, w, h, x, y, &Y, &U, &V)) {
                        ASSERT_EQ(got, ReferenceYuv(Y, U, V)) << x << "," << y;
                    } else {
                        ASSERT_EQ(got, 0x77777777u) << x << "," << y;
                    }
                }
            }
            DisposeBaseImage(&image);

            // The splitters: luma as it is, chroma as U, V pairs at the layout's resolution.
            std::vector<std::uint8_t> luma(static_cast<std::size_t>(w) * h, 0x55);
            std::vector<std::uint8_t> chroma(static_cast<std::size_t>(w) * h, 0x55);
            ASSERT_EQ(c.split(frame.data(), w, h, luma.data(), chroma.data()), 0);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    int Y, U, V;
                    if (!Sample(c.layout, frame, w, h, x, y, &Y, &U, &V)) continue;
                    ASSERT_EQ(luma[static_cast<std::size_t>(y) * w + x], Y);
                    std::size_t at;
                    if (c.layout == Layout::kNv11) {
                        at = static_cast<std::size_t>(y) * (w / 2) + x / 4 * 2;
                    } else if (c.layout == Layout::kNv12 || c.layout == Layout::kYv12) {
                        at = static_cast<std::size_t>(y / 2) * w + x / 2 * 2;
                    } else {
                        at = static_cast<std::size_t>(y) * w + x / 2 * 2;
                    }
                    ASSERT_EQ(chroma[at], U);
                    ASSERT_EQ(chroma[at + 1], V);
                }
            }
        }
    }
}

TEST(YuvFrameTest, WorkedExamples) {
    EXPECT_EQ(ReferenceYuv(255, 128, 128), 0xFFFFFFFFu);
    // Y 255, U 128, V 128 white; Y 0 black; Y 200, U 128, V 255 red clamped to 255.
    const std::uint8_t frame[3][4] = {{128, 255, 128, 255}, {128, 0, 128, 0}, {128, 200, 255, 200}};
    const std::uint32_t expected[3] = {0xFFFFFFFFu, 0xFF000000u, ReferenceYuv(200, 128, 255)};
    for (int i = 0; i < 3; ++i) {
        BASEIMAGE image{};
        ASSERT_EQ(NewBaseImageArgb8(2, 1, &image), 0);
        UnpackUyvyFrame(frame[i], 2, 1, &image);
        std::uint32_t px[2];
        std::memcpy(px, image.Pixels, 8);
        EXPECT_EQ(px[0], expected[i]);
        EXPECT_EQ(px[1], expected[i]);
        DisposeBaseImage(&image);
    }
    EXPECT_EQ((ReferenceYuv(200, 128, 255) >> 16) & 0xFF, 255u);
}

// ---- Rectangle copies, bitmaps, half-size images -----------------------------------------------

TEST(CopyBaseImageRectTest, ClippingAndResults) {
    BASEIMAGE src{}, dst{};
    ASSERT_EQ(NewBaseImageXrgb8(12, 4, &src), 0);
    ASSERT_EQ(NewBaseImageXrgb8(16, 4, &dst), 0);
    for (int i = 0; i < 12 * 4; ++i) static_cast<std::uint32_t*>(src.Pixels)[i] = 0xFF000000u | i;
    std::memset(dst.Pixels, 0, 16 * 4 * 4);
    // Source x -3 and width 10: 7 columns from source 0 land at destination x + 3.
    ASSERT_EQ(CopyBaseImageRect(-3, 0, 10, 1, 2, 1, &src, &dst), 0);
    const auto* d = static_cast<const std::uint32_t*>(dst.Pixels);
    for (int x = 0; x < 16; ++x) {
        EXPECT_EQ(d[16 + x], x >= 5 && x < 12 ? 0xFF000000u | (x - 5) : 0u) << x;
    }
    // Negative destination, cut at both right edges; nothing left returns 0.
    struct Case {
        int sx, sy, w, h, dx, dy;
    };
    const Case cases[] = {{
                              0,
                              0,
                              100,
                              100,
                              -2,
                              -1,
                          },
                          {10, 3, 100, 100, 15, 3},
                          {0, 0, 5, 5, 16, 0},
                          {12, 0, 5, 5, 0, 0},
                          {0, 0, -5, 5, 0, 0},
                          {-20, 0, 5, 5, 0, 0}};
    for (const Case& c : cases) {
        std::memset(dst.Pixels, 0, 16 * 4 * 4);
        EXPECT_EQ(CopyBaseImageRect(c.sx, c.sy, c.w, c.h, c.dx, c.dy, &src, &dst), 0);
    }
    // The whole image copy.
    ASSERT_EQ(CopyWholeBaseImage(4, 0, &src, &dst), 0);
    EXPECT_EQ(d[4], 0xFF000000u);
    EXPECT_EQ(d[15], 0xFF00000Bu);

    // A refused conversion is reported: two 8-bit channels into RGB24 have no loop.
    COLORFORMAT one{};
    InitColorFormatFromMasks(&one, 0, 0, 0, 0, 0, 2, 8, 0);
    BASEIMAGE grey{}, rgb{};
    ASSERT_EQ(NewBaseImageInFormat(2, 2, &one, &grey), 0);
    ASSERT_EQ(NewBaseImageRgb24(2, 2, &rgb), 0);
    EXPECT_EQ(CopyWholeBaseImage(0, 0, &grey, &rgb), -1);
    // An 8-bit copy whose highest index is 200 is a success.
    BASEIMAGE p1{}, p2{};
    ASSERT_EQ(NewBaseImagePal8(2, 1, &p1, 0), 0);
    ASSERT_EQ(NewBaseImagePal8(2, 1, &p2, 0), 0);
    static_cast<std::uint8_t*>(p1.Pixels)[0] = 200;
    static_cast<std::uint8_t*>(p1.Pixels)[1] = 3;
    EXPECT_EQ(CopyWholeBaseImage(0, 0, &p1, &p2), 0);
    EXPECT_EQ(static_cast<std::uint8_t*>(p2.Pixels)[0], 200);
    for (BASEIMAGE* i : {&src, &dst, &grey, &rgb, &p1, &p2}) DisposeBaseImage(i);
}

TEST(CopyBaseImageRectTest, BlockImagesAreDecodedFirst) {
    std::mt19937 rng(1);
    BlockImage b = MakeBlockImage(rng, 1, 6, 6, 0, false);
    const std::vector<Rgba> ref = ReferenceBlock(1, b.data.data());
    BASEIMAGE dst{};
    ASSERT_EQ(NewBaseImageArgb8(6, 6, &dst), 0);
    ASSERT_EQ(CopyWholeBaseImage(0, 0, &b.image, &dst), 0);
    const auto* p = static_cast<const std::uint8_t*>(dst.Pixels);
    EXPECT_EQ((Rgba{p[2], p[1], p[0], p[3]}), ref[0]);
    DisposeBaseImage(&b.image);
    DisposeBaseImage(&dst);
}

struct BitmapInfo256 {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[256];
};

TEST(BitmapInfoTest, OwnPixelsOrConvertedCopies) {
    BitmapInfo256 info{};
    auto* bi = reinterpret_cast<BITMAPINFO*>(&info);
    void* bits = nullptr;

    BASEIMAGE argb{};
    ASSERT_EQ(NewBaseImageArgb8(3, 2, &argb), 0);
    for (int i = 0; i < 6; ++i) static_cast<std::uint32_t*>(argb.Pixels)[i] = 0x80102030u + i;
    ASSERT_EQ(BaseImageToBitmapInfo(&argb, bi, &bits, 0, 0), 1);
    EXPECT_EQ(info.bmiHeader.biSize, 40u);
    EXPECT_EQ(info.bmiHeader.biWidth, 3);
    EXPECT_EQ(info.bmiHeader.biHeight, -2);
    EXPECT_EQ(info.bmiHeader.biBitCount, 24);
    EXPECT_EQ(info.bmiHeader.biCompression, BI_RGB);
    const auto* b = static_cast<const std::uint8_t*>(bits);
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2], b[12 + 3], b[12 + 5]}),
              (std::vector<int>{0x30, 0x20, 0x10, 0x34, 0x10}));
    FreeTrackedMemory(bits);
    DisposeBaseImage(&argb);

    // RGB24 with the padded pitch: its own pixels.
    BASEIMAGE rgb{};
    ASSERT_EQ(NewBaseImageRgb24(5, 2, &rgb), 0);
    ASSERT_EQ(BaseImageToBitmapInfo(&rgb, bi, &bits, 0, 0), 0);
    EXPECT_EQ(bits, rgb.Pixels);
    ASSERT_EQ(BaseImageToBitmapInfo(&rgb, bi, &bits, 1, 0), 1);
    EXPECT_NE(bits, rgb.Pixels);
    FreeTrackedMemory(bits);
    // Rows of exactly width x 3 bytes (as some readers store them) are copied to padded rows.
    rgb.Pitch = 15;
    for (int i = 0; i < 30; ++i)
        static_cast<std::uint8_t*>(rgb.Pixels)[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(BaseImageToBitmapInfo(&rgb, bi, &bits, 0, 0), 1);
    b = static_cast<const std::uint8_t*>(bits);
    EXPECT_EQ(b[16], 15);
    EXPECT_EQ(b[15], 0);
    FreeTrackedMemory(bits);
    DisposeBaseImage(&rgb);

    // 8-bit images: the palette as colour table; forced to 24 bits on request.
    BASEIMAGE pal{};
    ASSERT_EQ(NewBaseImagePal8(3, 2, &pal, 0), 0);
    std::memset(pal.Pixels, 7, 8);
    ASSERT_EQ(BaseImageToBitmapInfo(&pal, bi, &bits, 0, 0), 0);
    EXPECT_EQ(info.bmiHeader.biBitCount, 8);
    EXPECT_EQ(info.bmiColors[7].rgbRed, 255);
    EXPECT_EQ(info.bmiColors[64].rgbBlue, 170);
    EXPECT_EQ(bits, pal.Pixels);
    ASSERT_EQ(BaseImageToBitmapInfo(&pal, bi, &bits, 0, 1), 1);
    EXPECT_EQ(info.bmiHeader.biBitCount, 24);
    b = static_cast<const std::uint8_t*>(bits);
    EXPECT_EQ((std::vector<int>{b[0], b[1], b[2]}), (std::vector<int>{0, 0, 255}));
    FreeTrackedMemory(bits);
    DisposeBaseImage(&pal);
}

TEST(DownsampleHalfRectTest, MeansOfPairsAndBlocks) {
    COLORFORMAT x1{};
    InitColorFormatX1R5G5B5(&x1);
    COLORFORMAT argb{};
    InitColorFormatArgb8(&argb);
    std::uint32_t dst[4] = {};
    const std::uint32_t src[4] = {0xFF000000u, 0x01030507u, 0x00FF0001u, 0x00000002u};
    // 2 x 2 of ARGB8: each channel's sum shifted right by 2.
    ASSERT_EQ(DownsampleHalfRect(&argb, dst, 8, src, 8, 0, 0, 0, 0, 2, 2), 0);
    EXPECT_EQ(dst[0], 0x40400102u);
    // A row: pairs; a column: pairs.
    ASSERT_EQ(DownsampleHalfRect(&argb, dst, 16, src, 16, 0, 0, 0, 0, 4, 1), 0);
    EXPECT_EQ(dst[0], 0x80010203u);
    EXPECT_EQ(dst[1], 0x007F0001u);
    ASSERT_EQ(DownsampleHalfRect(&argb, dst, 4, src, 4, 0, 0, 0, 0, 1, 4), 0);
    EXPECT_EQ(dst[0], 0x80010203u);
    // X1R5G5B5: unused bit 0 in the result.
    const std::uint16_t s16[2] = {0xFFFF, 0x8000 | 1 << 10};
    std::uint16_t d16[1] = {0};
    ASSERT_EQ(DownsampleHalfRect(&x1, d16, 2, s16, 4, 0, 0, 0, 0, 2, 1), 0);
    EXPECT_EQ(d16[0], (16 << 10) | (15 << 5) | 15);
    // Odd sizes above 1 and other pixel sizes are refused; a 1 x 1 of another size passes.
    EXPECT_EQ(DownsampleHalfRect(&argb, dst, 16, src, 16, 0, 0, 0, 0, 3, 2), -1);
    COLORFORMAT rgb{};
    InitColorFormatRgb24(&rgb);
    EXPECT_EQ(DownsampleHalfRect(&rgb, dst, 16, src, 16, 0, 0, 0, 0, 2, 2), -1);
    dst[0] = 0x12345678;
    EXPECT_EQ(DownsampleHalfRect(&rgb, dst, 16, src, 16, 0, 0, 0, 0, 1, 1), 0);
    EXPECT_EQ(dst[0], 0x12345678u);
}

}  // namespace
