// The graph blend kernels: every type, straight and premultiplied, against the slow reference,
// and the examples that pin the fixed-point mixing.
#include <gtest/gtest.h>

#include <string>

#include "FilterReference.h"
#include "Main/DxBaseImage.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsFilterPixels.h"

using namespace ZiDaz;
namespace fr = filterref;

namespace {

FilterPixelView ViewOf(fr::Image& im) {
    return FilterPixelView{im.bytes.data(), im.pitch};
}

// The blend parameters 0, 1, 128, 254 and 255 as the front end's ratio.
const float kRatios[] = {0.0f, 1.0f / 255.0f, 128.0f / 255.0f, 254.0f / 255.0f, 1.0f};

class GraphBlendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
    }

    // One source pixel blended with one blend pixel.
    static std::uint32_t One(int type, float ratio, std::uint32_t s, std::uint32_t b) {
        std::uint32_t d = 0xDEADBEEF;
        EXPECT_EQ(
            SoftBlendBasic(type, ratio, FilterPixelView{reinterpret_cast<std::uint8_t*>(&s), 4},
                           FilterPixelView{reinterpret_cast<std::uint8_t*>(&b), 4},
                           FilterPixelView{reinterpret_cast<std::uint8_t*>(&d), 4}, 1, 1),
            0);
        return d;
    }
    static std::uint32_t Grey(int v, int a = 255) { return fr::Pack(v, v, v, a); }
};

}  // namespace

TEST_F(GraphBlendTest, EveryTypeMatchesReference) {
    for (int type = 0; type < kGraphBlendTypeCount; ++type) {
        if (type == 1 || type == 18) continue;
        for (float ratio : kRatios) {
            for (std::uint32_t seed : {11u, 12u}) {
                fr::Image src = fr::MakeImage(37, 19, seed);
                fr::Image blend = fr::MakeImage(37, 19, seed + 50);
                fr::Image dst = fr::MakeImage(37, 19, seed + 90);
                // The blend image keeps its own pitch; the destination a different one.
                ASSERT_EQ(SoftBlendBasic(type, ratio, ViewOf(src), ViewOf(blend), ViewOf(dst),
                                         src.width, src.height),
                          0);
                for (int y = 0; y < src.height; ++y) {
                    for (int x = 0; x < src.width; ++x) {
                        ASSERT_EQ(dst.At(x, y),
                                  fr::Blend(type, ratio, src.At(x, y), blend.At(x, y)))
                            << "type " << type << " ratio " << ratio << " at " << x << "," << y
                            << std::hex << " source " << src.At(x, y) << " blend "
                            << blend.At(x, y);
                    }
                }
            }
        }
    }
    // Every pair of bytes through the formula loops, with both alphas at their extremes.
    for (int type : {2, 3, 5, 6, 7, 8, 11, 12, 13, 19, 24, 25, 28}) {
        for (int sA : {1, 255}) {
            for (int bA : {0, 254, 255}) {
                for (int x = 0; x < 256; x += 3) {
                    for (int y = 0; y < 256; ++y) {
                        const std::uint32_t s = fr::Pack(x, 255 - x, x / 2, sA);
                        const std::uint32_t b = fr::Pack(y, y / 3, 255 - y, bA);
                        ASSERT_EQ(One(type, 1.0f, s, b), fr::Blend(type, 1.0f, s, b))
                            << type << " " << x << " " << y << " " << sA << " " << bA;
                    }
                }
            }
        }
    }
}

TEST_F(GraphBlendTest, RgbaMixMatchesReference) {
    const int selections[][4] = {{4, 5, 6, 3}, {0, 1, 2, 3},   {7, 7, 7, 7},
                                 {3, 2, 1, 0}, {-1, 8, 15, 6}, {2, 6, 0, 4}};
    fr::Image src = fr::MakeImage(23, 17, 31);
    fr::Image blend = fr::MakeImage(23, 17, 32);
    for (const auto& sel : selections) {
        fr::Image dst = fr::MakeImage(23, 17, 33);
        SoftBlendRgbaMix(sel, ViewOf(src), ViewOf(blend), ViewOf(dst), src.width, src.height);
        for (int y = 0; y < src.height; ++y) {
            for (int x = 0; x < src.width; ++x) {
                ASSERT_EQ(dst.At(x, y), fr::RgbaMix(sel, src.At(x, y), blend.At(x, y)))
                    << sel[0] << sel[1] << sel[2] << sel[3] << " at " << x << "," << y;
            }
        }
    }
    // (4, 5, 6, 3): the blend graph's colours with the source's alpha.
    std::uint32_t s = 0x11223344u, b = 0x55667788u, d = 0;
    const int pick[4] = {4, 5, 6, 3};
    SoftBlendRgbaMix(pick, FilterPixelView{reinterpret_cast<std::uint8_t*>(&s), 4},
                     FilterPixelView{reinterpret_cast<std::uint8_t*>(&b), 4},
                     FilterPixelView{reinterpret_cast<std::uint8_t*>(&d), 4}, 1, 1);
    EXPECT_EQ(d, 0x11667788u);
}

TEST_F(GraphBlendTest, ExamplesHold) {
    // Ratio 0 leaves every colour of types 0 and 2..13 at the source.
    for (int type : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}) {
        EXPECT_EQ(One(type, 0.0f, 0x80304050u, 0xFF90A0B0u), 0x80304050u) << type;
    }
    // Normal at 255 puts black under white at 254.
    EXPECT_EQ(One(0, 1.0f, Grey(0), Grey(255)), Grey(254));
    // Difference of 10 and 30 is 0, never negative: mixed fully it lands at 0 (plus rounding).
    EXPECT_EQ(One(3, 1.0f, Grey(10), Grey(30)) & 0xFF, 0u);
    // Dodge with 255 gives 255 (254 after the full mix); Burn with 0 gives 0, and 255 for 255.
    for (int x : {0, 1, 100, 254, 255}) {
        EXPECT_EQ(One(7, 1.0f, Grey(x), Grey(255)) & 0xFF,
                  std::uint32_t(x + ((255 - x) * 65280 >> 16)));
    }
    EXPECT_EQ(One(8, 1.0f, Grey(200), Grey(0)) & 0xFF,
              std::uint32_t((200 * 65536 - 200 * 65280) >> 16));
    EXPECT_EQ(One(8, 1.0f, Grey(255), Grey(0)) & 0xFF, 255u);
    // Overlay and HardLight differ only where exactly one value is below 128.
    for (int x = 0; x < 256; x += 5) {
        for (int y = 0; y < 256; y += 7) {
            const bool oneBelow = (x < 128) != (y < 128);
            const std::uint32_t overlay = One(6, 1.0f, Grey(x), Grey(y));
            const std::uint32_t hard = One(12, 1.0f, Grey(x), Grey(y));
            if (!oneBelow) EXPECT_EQ(overlay, hard) << x << " " << y;
        }
    }
    EXPECT_NE(One(6, 1.0f, Grey(40), Grey(200)), One(12, 1.0f, Grey(40), Grey(200)));
    // Normal_AlphaCh of a transparent source under an opaque blend pixel: the blend colour, opaque.
    EXPECT_EQ(One(14, 1.0f, 0x00123456u, 0xFF89ABCDu), 0xFF89ABCDu);
    // Multiple_AOnly keeps the colours; opaque blend at full ratio gives about sA x 255 / 256.
    EXPECT_EQ(One(16, 1.0f, 0xC8102030u, 0xFF405060u), 0xC7102030u);
}

TEST_F(GraphBlendTest, ZeroCombinedAlphaGivesTransparentBlack) {
    for (int type : {14, 15, 31, 32}) {
        EXPECT_EQ(One(type, 1.0f, 0x00FFFFFFu, 0x00FFFFFFu), 0u) << type;
        EXPECT_EQ(One(type, 0.0f, 0x00ABCDEFu, 0xFFFFFFFFu), 0u) << type;
    }
}

TEST_F(GraphBlendTest, UnknownTypesAreRefused) {
    std::uint32_t s = 0, b = 0, d = 0x12345678u;
    const FilterPixelView vs{reinterpret_cast<std::uint8_t*>(&s), 4};
    const FilterPixelView vb{reinterpret_cast<std::uint8_t*>(&b), 4};
    const FilterPixelView vd{reinterpret_cast<std::uint8_t*>(&d), 4};
    for (int type : {-1, 1, 18, 34, 1000}) {
        EXPECT_EQ(SoftBlendBasic(type, 1.0f, vs, vb, vd, 1, 1), -1) << type;
    }
    EXPECT_EQ(d, 0x12345678u);
    FilterRunInfo info{};
    info.Mode = 1;
    EXPECT_EQ(BlendGraphBasic(&info, 0), -1);
    EXPECT_EQ(BlendRatioWeight(0.0f), 0);
    EXPECT_EQ(BlendRatioWeight(128.0f / 255.0f), 128);
    EXPECT_EQ(BlendRatioWeight(1.0f), 256);
}
