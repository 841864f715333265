// The colour and alpha filter kernels against the slow references, and the examples that pin
// their fixed-point behaviour.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FilterReference.h"
#include "Main/DxBaseImage.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsFilterPixels.h"

using namespace ZiDaz;
namespace fr = filterref;

namespace {

using Kernel = std::function<void(const FilterPixelView&, const FilterPixelView&, int, int)>;
using Reference = std::function<std::uint32_t(std::uint32_t src, std::uint32_t dst)>;

FilterPixelView ViewOf(fr::Image& im) {
    return FilterPixelView{im.bytes.data(), im.pitch};
}

class FilterSoftTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
    }

    // Runs the kernel over seeded random images (destination pre-filled with other random
    // pixels) and compares every pixel with the reference.
    static void ExpectMatches(const std::string& name, const Kernel& kernel, const Reference& ref) {
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            fr::Image src = fr::MakeImage(41, 23, seed);
            fr::Image dst = fr::MakeImage(41, 23, seed + 100);
            const fr::Image before = dst;
            kernel(ViewOf(src), ViewOf(dst), src.width, src.height);
            fr::Image old = before;
            for (int y = 0; y < src.height; ++y) {
                for (int x = 0; x < src.width; ++x) {
                    const std::uint32_t want = ref(src.At(x, y), old.At(x, y));
                    ASSERT_EQ(dst.At(x, y), want) << name << " seed " << seed << " at " << x << ","
                                                  << y << " source " << std::hex << src.At(x, y);
                }
                // The padding at the end of each row is never written.
                for (int b = src.width * 4; b < src.pitch; ++b) {
                    ASSERT_EQ(dst.bytes[std::size_t(y) * dst.pitch + b],
                              before.bytes[std::size_t(y) * before.pitch + b])
                        << name << " wrote past row " << y;
                }
            }
        }
    }

    // One pixel through a kernel.
    static std::uint32_t One(const Kernel& kernel, std::uint32_t pixel) {
        std::uint32_t src = pixel, dst = 0xDEADBEEF;
        kernel(FilterPixelView{reinterpret_cast<std::uint8_t*>(&src), 4},
               FilterPixelView{reinterpret_cast<std::uint8_t*>(&dst), 4}, 1, 1);
        return dst;
    }
};

const float kFill[4] = {0.2f, 0.5f, 1.0f, 0.6f};
const float kBlackOpaque[4] = {0.0f, 0.0f, 0.0f, 1.0f};
const float kLow[4] = {0.1f, 0.9f, 0.3f, 0.25f};
const float kHigh[4] = {1.5f, -0.5f, 0.7f, 1.0f};

}  // namespace

TEST_F(FilterSoftTest, MonoMatchesReference) {
    const float cases[][2] = {{0, 0}, {39.2f, -78.4f}, {100, 100}, {-100, 50}, {250, -250}};
    for (const auto& c : cases) {
        const MonoSetup setup = PrepareMono(c[0], c[1]);
        ExpectMatches(
            "Mono " + std::to_string(c[0]) + "," + std::to_string(c[1]),
            [&](auto& s, auto& d, int w, int h) { SoftMono(s, d, w, h, setup); },
            [&](std::uint32_t s, std::uint32_t) { return fr::Mono(s, c[0], c[1]); });
    }
}

TEST_F(FilterSoftTest, BrightClipMatchesReference) {
    for (int p : {0, 1}) {
        for (int cmp : {2, 5}) {
            for (int fill : {0, 1}) {
                for (float t : {0.0f, 1.0f, 128.0f, 254.5f, 255.0f, 300.0f, -4.0f}) {
                    const std::uint32_t word = FilterColorWord(kFill, p);
                    ExpectMatches(
                        "BrightClip p" + std::to_string(p) + " cmp" + std::to_string(cmp) +
                            " fill" + std::to_string(fill) + " t" + std::to_string(t),
                        [&](auto& s, auto& d, int w, int h) {
                            ASSERT_EQ(SoftBrightClip(s, d, w, h, cmp, t, fill, word, p), 0);
                        },
                        [&](std::uint32_t s, std::uint32_t d) {
                            return fr::BrightClip(s, d, cmp, t, fill, kFill, p);
                        });
                }
            }
        }
    }
}

TEST_F(FilterSoftTest, BrightnessScaleMatchesReference) {
    const int cases[][2] = {{0, 255},  {30, 200},  {200, 30}, {100, 100},
                            {-5, 300}, {254, 254}, {0, 0}};
    for (int p : {0, 1}) {
        for (const auto& c : cases) {
            ExpectMatches(
                "BrightnessScale p" + std::to_string(p) + " " + std::to_string(c[0]) + "," +
                    std::to_string(c[1]),
                [&](auto& s, auto& d, int w, int h) {
                    SoftBrightnessScale(s, d, w, h, c[0], c[1], p);
                },
                [&](std::uint32_t s, std::uint32_t) {
                    return fr::BrightnessScale(s, c[0], c[1], p);
                });
        }
    }
}

TEST_F(FilterSoftTest, HsbMatchesReference) {
    // hue mode, hue, saturation, brightness (saturation and brightness as the dispatcher passes
    // them: argument x 100 / 255); the last rows leave the designed brightness range.
    const float cases[][4] = {
        {0, 0, 0, 0},      {0, 90, 0, 0},       {0, -200, 50, 20},   {0, 400, -100, -40},
        {1, 0, 0, 0},      {1, 120, 100, 10},   {1, 360, -50, -100}, {1, -30, 20, 100},
        {2, 45, 100, -20}, {0, 179, 39.2f, 60}, {0, 30, 100, 150},   {0, 30, -100, -150},
        {1, 200, 80, 400}, {0, -90, 80, -400},  {0, 10, 10, 1e7f},   {2, 10, 10, -1e7f},
    };
    for (int p : {0, 1}) {
        for (const auto& c : cases) {
            const int mode = int(c[0]);
            const HsbSetup setup = PrepareHsb(mode, c[1], c[2], c[3]);
            ExpectMatches(
                "Hsb p" + std::to_string(p) + " " + std::to_string(mode) + " " +
                    std::to_string(c[1]) + " " + std::to_string(c[2]) + " " + std::to_string(c[3]),
                [&](auto& s, auto& d, int w, int h) { SoftHsb(s, d, w, h, mode, setup, p); },
                [&](std::uint32_t s, std::uint32_t) {
                    return fr::Hsb(s, mode, c[1], c[2], c[3], p);
                });
        }
    }
}

TEST_F(FilterSoftTest, InvertLevelTwoColorReplacementAndAlphaMatchReference) {
    for (int p : {0, 1}) {
        const std::string ps = " p" + std::to_string(p);
        ExpectMatches(
            "Invert" + ps, [&](auto& s, auto& d, int w, int h) { SoftInvert(s, d, w, h, p); },
            [&](std::uint32_t s, std::uint32_t) { return fr::Invert(s, p); });

        const float levels[][5] = {{0, 255, 1, 0, 255},   {30, 200, 2.2f, 10, 240},
                                   {100, 100, 1, 0, 255}, {200, 50, 0.5f, 255, 0},
                                   {0, 255, 0, 0, 255},   {-20, 400, 0.3f, -5, 500}};
        for (const auto& l : levels) {
            const LevelSetup setup = PrepareLevel(l[0], l[1], l[2], l[3], l[4]);
            ExpectMatches(
                "Level" + ps + " " + std::to_string(l[0]) + " " + std::to_string(l[1]) + " " +
                    std::to_string(l[2]),
                [&](auto& s, auto& d, int w, int h) { SoftLevel(s, d, w, h, setup, p); },
                [&](std::uint32_t s, std::uint32_t) {
                    return fr::Level(s, l[0], l[1], l[2], l[3], l[4], p);
                });
        }

        for (float t : {0.0f, 1.0f, 128.0f, 254.9f, 255.0f, 1e9f, -3.0f}) {
            const std::uint32_t lo = FilterColorWord(kLow, p), hi = FilterColorWord(kHigh, p);
            ExpectMatches(
                "TwoColor" + ps + " " + std::to_string(t),
                [&](auto& s, auto& d, int w, int h) { SoftTwoColor(s, d, w, h, t, lo, hi, p); },
                [&](std::uint32_t s, std::uint32_t) { return fr::TwoColor(s, t, kLow, kHigh, p); });
        }

        // Targets taken from the first image so that some pixels match; in the premultiplied form
        // the target is the un-premultiplied colour of such a pixel.
        fr::Image probe = fr::MakeImage(41, 23, 1);
        for (int i = 0; i < 3; ++i) {
            const fr::Px px = fr::Read(probe.At(i * 7, i), p);
            const std::uint32_t target = fr::Pack(px.b, px.g, px.r, px.a);
            const std::uint32_t repl = 0x80FF4020u + std::uint32_t(i);
            ExpectMatches(
                "Replacement" + ps + " " + std::to_string(i),
                [&](auto& s, auto& d, int w, int h) {
                    SoftReplacement(s, d, w, h, target, repl, p);
                },
                [&](std::uint32_t s, std::uint32_t) {
                    return fr::Replacement(s, target, repl, p);
                });
        }
    }
    ExpectMatches(
        "PremultipliedAlpha",
        [](auto& s, auto& d, int w, int h) { SoftPremultiplyAlpha(s, d, w, h); },
        [](std::uint32_t s, std::uint32_t) { return fr::Premultiply(s); });
    ExpectMatches(
        "InterpolatedAlpha",
        [](auto& s, auto& d, int w, int h) { SoftInterpolateAlpha(s, d, w, h); },
        [](std::uint32_t s, std::uint32_t) { return fr::Interpolate(s); });
}

TEST_F(FilterSoftTest, GradientMapMatchesReference) {
    for (int width : {1, 3, 256, 700}) {
        fr::Image gradient = fr::MakeImage(width, 2, 77u + unsigned(width));
        std::vector<std::uint32_t> row(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) row[std::size_t(x)] = gradient.At(x, 0);
        for (int reverse : {0, 1}) {
            for (int p : {0, 1}) {
                std::uint32_t table[256];
                BuildGradientTable(row.data(), width, reverse, p, table);
                ExpectMatches(
                    "GradientMap w" + std::to_string(width) + " r" + std::to_string(reverse) +
                        " p" + std::to_string(p),
                    [&](auto& s, auto& d, int w, int h) { SoftGradientMap(s, d, w, h, table, p); },
                    [&](std::uint32_t s, std::uint32_t) {
                        return fr::Gradient(s, row, reverse, p);
                    });
            }
        }
    }
}

TEST_F(FilterSoftTest, ExamplesHold) {
    // Invert twice, in place, restores the image; alpha is never touched.
    fr::Image im = fr::MakeImage(17, 9, 5);
    const fr::Image original = im;
    SoftInvert(ViewOf(im), ViewOf(im), im.width, im.height, 0);
    for (int x = 0; x < im.width; ++x) EXPECT_EQ(im.At(x, 0) >> 24, original.bytes[x * 4 + 3]);
    SoftInvert(ViewOf(im), ViewOf(im), im.width, im.height, 0);
    EXPECT_EQ(im.bytes, original.bytes);

    // Mono (0, 0): white becomes 254, alpha kept.
    const MonoSetup mono = PrepareMono(0, 0);
    EXPECT_EQ(One([&](auto& s, auto& d, int w, int h) { SoftMono(s, d, w, h, mono); }, 0x7FFFFFFFu),
              0x7FFEFEFEu);

    // Level (0, 255, gamma 1, 0, 255): 255 to 254, 0 to 0.
    const LevelSetup level = PrepareLevel(0, 255, 1.0f, 0, 255);
    auto levelK = [&](auto& s, auto& d, int w, int h) { SoftLevel(s, d, w, h, level, 0); };
    EXPECT_EQ(One(levelK, 0xFFFFFFFFu), 0xFFFEFEFEu);
    EXPECT_EQ(One(levelK, 0xFF000000u), 0xFF000000u);

    // Hsb in hue mode 1 keeps greys grey: 100 stays, 255 becomes 254.
    const HsbSetup abs = PrepareHsb(1, 200, 0, 0);
    auto absK = [&](auto& s, auto& d, int w, int h) { SoftHsb(s, d, w, h, 1, abs, 0); };
    EXPECT_EQ(One(absK, 0xFF646464u), 0xFF646464u);
    EXPECT_EQ(One(absK, 0x80FFFFFFu), 0x80FEFEFEu);

    // Hsb (0, 0, 0, 0) and BrightnessScale (0, 255) both turn pure red into (253, 0, 0).
    const HsbSetup zero = PrepareHsb(0, 0, 0, 0);
    EXPECT_EQ(
        One([&](auto& s, auto& d, int w, int h) { SoftHsb(s, d, w, h, 0, zero, 0); }, 0xFFFF0000u),
        0xFFFD0000u);
    EXPECT_EQ(
        One([](auto& s, auto& d, int w, int h) { SoftBrightnessScale(s, d, w, h, 0, 255, 0); },
            0xFFFF0000u),
        0xFFFD0000u);

    // Saturation -255 (-100 after the dispatcher) turns every pixel grey.
    const HsbSetup grey = PrepareHsb(0, 45, -100, 0);
    fr::Image colours = fr::MakeImage(31, 7, 9);
    SoftHsb(ViewOf(colours), ViewOf(colours), colours.width, colours.height, 0, grey, 0);
    for (int y = 0; y < colours.height; ++y) {
        for (int x = 0; x < colours.width; ++x) {
            const fr::Px px = fr::Unpack(colours.At(x, y));
            EXPECT_TRUE(px.r == px.g && px.g == px.b) << x << "," << y;
        }
    }

    // A one-pixel gradient maps every pixel to that pixel, alpha included.
    const std::uint32_t only = 0x3380C0F0u;
    std::uint32_t table[256];
    BuildGradientTable(&only, 1, 0, 0, table);
    fr::Image mapped = fr::MakeImage(13, 5, 4);
    SoftGradientMap(ViewOf(mapped), ViewOf(mapped), mapped.width, mapped.height, table, 0);
    for (int y = 0; y < mapped.height; ++y) {
        for (int x = 0; x < mapped.width; ++x) EXPECT_EQ(mapped.At(x, y), only);
    }

    // InterpolatedAlpha after PremultipliedAlpha is not the identity (the premultiply shifts by 8).
    const std::uint32_t start = 0xC8FF6432u;
    auto pre = [](auto& s, auto& d, int w, int h) { SoftPremultiplyAlpha(s, d, w, h); };
    auto inter = [](auto& s, auto& d, int w, int h) { SoftInterpolateAlpha(s, d, w, h); };
    EXPECT_NE(One(inter, One(pre, start)), start);
    EXPECT_EQ(One(inter, 0x00FFFFFFu), 0u);
}

TEST_F(FilterSoftTest, BrightClipInPlaceAndWithFill) {
    // Greater 128 without fill, in place: clipped pixels keep the destination, which is the
    // source, so nothing changes.
    fr::Image im = fr::MakeImage(29, 11, 21);
    const fr::Image original = im;
    ASSERT_EQ(SoftBrightClip(ViewOf(im), ViewOf(im), im.width, im.height, 5, 128, 0, 0, 0), 0);
    EXPECT_EQ(im.bytes, original.bytes);

    // Less 128 with opaque black fill: every darker pixel becomes opaque black, the rest are
    // copied whole.
    fr::Image out = fr::MakeImage(29, 11, 22);
    const std::uint32_t black = FilterColorWord(kBlackOpaque, 0);
    EXPECT_EQ(black, 0xFF000000u);
    ASSERT_EQ(SoftBrightClip(ViewOf(im), ViewOf(out), im.width, im.height, 2, 128, 1, black, 0), 0);
    const int T = int(128.0f / 255.0f * 255.0f * 4096.0f);
    for (int y = 0; y < im.height; ++y) {
        for (int x = 0; x < im.width; ++x) {
            const fr::Px px = fr::Unpack(im.At(x, y));
            const bool darker = fr::Y(px.b, px.g, px.r) < T;
            EXPECT_EQ(out.At(x, y), darker ? 0xFF000000u : im.At(x, y)) << x << "," << y;
        }
    }

    // Only comparisons 2 and 5 exist.
    EXPECT_EQ(SoftBrightClip(ViewOf(im), ViewOf(out), 1, 1, 3, 128, 0, 0, 0), -1);
}

TEST_F(FilterSoftTest, OutOfRangeParametersAreSafe) {
    // An empty input range is a threshold at the minimum.
    const LevelSetup level = PrepareLevel(100, 100, 1.0f, 0, 255);
    auto k = [&](auto& s, auto& d, int w, int h) { SoftLevel(s, d, w, h, level, 0); };
    EXPECT_EQ(One(k, 0xFF636363u), 0xFF000000u);  // 99
    EXPECT_EQ(One(k, 0xFF646464u), 0xFFFEFEFEu);  // 100
    // Huge brightness keeps the arithmetic in range (checked against the reference above too):
    // light greys at brightness 4 x 255 have no saturation to divide by.
    const HsbSetup bright = PrepareHsb(0, 0, 100, 400);
    EXPECT_EQ(bright.K, 1024);
    const std::uint32_t out = One(
        [&](auto& s, auto& d, int w, int h) { SoftHsb(s, d, w, h, 0, bright, 0); }, 0xFFC8C8C8u);
    EXPECT_EQ(out, fr::Hsb(0xFFC8C8C8u, 0, 0, 100, 400, false));
}

TEST_F(FilterSoftTest, BodiesRefuseBadParameters) {
    FilterRunInfo info{};
    // Refused before any image is taken.
    EXPECT_EQ(FilterBodyBrightClip(&info, 3, 128, 0, nullptr, 0), -1);
    EXPECT_EQ(FilterBodyBrightClip(&info, 2, 128, 1, nullptr, 0), -1);
    EXPECT_EQ(FilterBodyTwoColor(&info, 128, nullptr, kHigh, 0), -1);
    EXPECT_EQ(FilterBodyTwoColor(&info, 128, kLow, nullptr, 0), -1);
    // An invalid gradient graph.
    EXPECT_EQ(FilterBodyGradientMap(&info, -1, 0, 0), -1);
}

TEST_F(FilterSoftTest, BodiesFailWhenImagesCannotBeTaken) {
    // No graphs behind the handles: the software path cannot take its images.
    FilterRunInfo info{};
    info.SettingsFlag = 1;
    info.Source = -1;
    info.BlendGraph = -1;
    info.Destination = -1;
    info.X2 = 4;
    info.Y2 = 4;
    EXPECT_EQ(FilterBodyMono(&info, 0, 0), -1);
    EXPECT_EQ(FilterBodyBrightClip(&info, 5, 128, 1, kFill, 0), -1);
    EXPECT_EQ(FilterBodyBrightnessScale(&info, 0, 255, 1), -1);
    EXPECT_EQ(FilterBodyHsb(&info, 0, 10, 0, 0, 0), -1);
    EXPECT_EQ(FilterBodyInvert(&info, 0), -1);
    EXPECT_EQ(FilterBodyLevel(&info, 0, 255, 1, 0, 255, 1), -1);
    EXPECT_EQ(FilterBodyTwoColor(&info, 128, kLow, kHigh, 0), -1);
    EXPECT_EQ(FilterBodyReplacement(&info, 0, 0, 0), -1);
    EXPECT_EQ(FilterBodyPremultipliedAlpha(&info), -1);
    EXPECT_EQ(FilterBodyInterpolatedAlpha(&info), -1);
    info.BlendFlag = 1;
    info.Mode = 6;
    EXPECT_EQ(BlendGraphBasic(&info, 0), -1);
    info.Mode = 1;
    EXPECT_EQ(BlendGraphRgbaMix(&info, 4, 5, 6, 3, 0), -1);
}
