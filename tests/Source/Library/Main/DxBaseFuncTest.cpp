#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "Main/DxBaseFunc.h"
#include "Main/Windows/DxSystemWin.h"

using namespace ZiDaz;

namespace {

TEST(BaseFunctions, SineTable) {
    ASSERT_EQ(InitBaseFunctions(), 0);
    EXPECT_EQ(SineTable[0], 0.0f);
    EXPECT_EQ(SineTable[16384], 1.0f);
    EXPECT_EQ(SineTable[49152], -1.0f);
    EXPECT_EQ(SineTable[32768], static_cast<float>(std::sin(static_cast<double>(3.1415927f))));
    EXPECT_NE(SineTable[32768], 0.0f);
    for (int i = 0; i < kSineTableSize; i += 97) {
        EXPECT_NEAR(SineTable[i], std::sin(i * 2 * M_PI / 65536), 1e-6) << i;
        EXPECT_NEAR(SineTable[(i + 16384) & 0xFFFF], std::cos(i * 2 * M_PI / 65536), 1e-6);
    }
}

TEST(BaseFunctions, RequestLibraryEndSetsTheFlag) {
    LibrarySystem.endRequested = 0;
    EXPECT_EQ(RequestLibraryEnd(), 0);
    EXPECT_EQ(LibrarySystem.endRequested, 1);
    LibrarySystem.endRequested = 0;
}

TEST(BaseFunctions, CompareByteBlocksHasTheReversedSign) {
    const unsigned char one = 0x01, two = 0x02, high = 0xF0;
    EXPECT_EQ(CompareByteBlocks(&one, &two, 1), 1);
    EXPECT_EQ(CompareByteBlocks(&two, &one, 1), -1);
    EXPECT_EQ(CompareByteBlocks(&high, &one, 1), -1);  // unsigned
    EXPECT_EQ(CompareByteBlocks("abcd", "abcd", 4), 0);
    EXPECT_EQ(CompareByteBlocks("abcx", "abcy", 3), 0);
    EXPECT_EQ(CompareByteBlocks(&one, &two, 0), 0);
}

TEST(BaseFunctions, CopyMoveAndFill) {
    const char original[] = "0123456789ABC";
    for (int shift : {3, -3}) {
        char buffer[16];
        std::memcpy(buffer, original, sizeof original);
        char* from = buffer + 3;
        char* to = from + shift;
        MoveByteBlock(to, from, 10);
        EXPECT_EQ(std::memcmp(to, original + 3, 10), 0) << shift;
    }
    char block[8] = {};
    CopyByteBlock(block, "abcdefg", 8);
    EXPECT_STREQ(block, "abcdefg");
    FillByteBlock(block, 0x1241, 3);
    EXPECT_STREQ(block, "AAAdefg");
    std::int32_t ints[3] = {};
    FillInts(ints, -7, 2);
    EXPECT_EQ(ints[0], -7);
    EXPECT_EQ(ints[1], -7);
    EXPECT_EQ(ints[2], 0);
}

TEST(BaseFunctions, Arithmetic128) {
    struct MulCase {
        std::uint64_t a, b;
        std::uint32_t words[4];
    } muls[] = {
        {~0ull, ~0ull, {1, 0, 0xFFFFFFFE, 0xFFFFFFFF}},
        {0, ~0ull, {0, 0, 0, 0}},
        {0x100000000ull, 0x100000000ull, {0, 0, 1, 0}},
        {0xFFFFFFFFull, 0xFFFFFFFFull, {1, 0xFFFFFFFE, 0, 0}},
    };
    for (const MulCase& c : muls) {
        std::uint32_t product[4];
        MultiplyUInt64To128(&c.a, &c.b, product);
        unsigned __int128 expected = static_cast<unsigned __int128>(c.a) * c.b;
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(product[k], static_cast<std::uint32_t>(expected >> (32 * k)));
        }
        EXPECT_EQ(std::memcmp(product, c.words, 16), 0) << std::hex << c.a;
    }

    struct DivCase {
        unsigned __int128 dividend;
        std::uint64_t divisor, quotient;
    } divs[] = {
        {10, 3, 3},
        {(static_cast<unsigned __int128>(1) << 64) + 5, 2, (1ull << 63) + 2},
        {static_cast<unsigned __int128>(1099511627776ull) * 1000000, 10000000, 109951162777ull},
        {static_cast<unsigned __int128>(~0ull) * 1000000000, 1000000000, ~0ull},
        {7, 7, 1},
        {6, 7, 0},
        // Beyond what callers pass: the low 64 bits of the quotient, and no endless loop.
        {~static_cast<unsigned __int128>(0), 1, ~0ull},
        {~static_cast<unsigned __int128>(0), ~0ull, 1},
    };
    for (const DivCase& c : divs) {
        std::uint32_t dividend[4];
        for (int k = 0; k < 4; ++k)
            dividend[k] = static_cast<std::uint32_t>(c.dividend >> (32 * k));
        std::uint64_t quotient = 12345;
        DivideUInt128(dividend, &c.divisor, &quotient);
        EXPECT_EQ(quotient, c.quotient) << c.divisor;
    }
    std::uint32_t dividend[4] = {5, 0, 0, 0};
    std::uint64_t zero = 0, quotient = 0;
    DivideUInt128(dividend, &zero, &quotient);  // must return
}

TEST(BaseFunctions, MathWrappers) {
    EXPECT_EQ(TruncateDoubleToInt64(-2.7), -2);
    EXPECT_EQ(TruncateDoubleToInt64(2.7), 2);
    EXPECT_EQ(TruncateDoubleToInt64(std::nan("")), std::numeric_limits<std::int64_t>::min());
    const float f[4] = {1.9f, -1.9f, 0.5f, 3e9f};
    const double d[4] = {-0.5, 7.99, -2147483648.0, 1e300};
    std::int32_t out[4];
    TruncateFloat4ToInt4(f, out);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], -1);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], std::numeric_limits<std::int32_t>::min());
    TruncateDouble4ToInt4(d, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 7);
    EXPECT_EQ(out[2], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(out[3], std::numeric_limits<std::int32_t>::min());

    float s, c;
    SinCosFloat(0.5f, &s, &c);
    EXPECT_EQ(s, static_cast<float>(std::sin(0.5)));
    EXPECT_EQ(c, static_cast<float>(std::cos(0.5)));
    double sd, cd;
    SinCosDouble(1.0, &sd, &cd);
    EXPECT_EQ(sd, std::sin(1.0));
    EXPECT_EQ(cd, std::cos(1.0));
    EXPECT_DOUBLE_EQ(ComputeAtan2(1.0, -1.0), 3 * M_PI / 4);
    EXPECT_EQ(ComputeLog10(1000.0), 3.0);
    EXPECT_EQ(PowerFloat(2.0f, 10.0f), 1024.0f);
    EXPECT_EQ(SqrtFloat(2.0f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_EQ(SqrtDouble(9.0), 3.0);
    EXPECT_EQ(ComputeAcosFloat(-1.0f), static_cast<float>(M_PI));
    EXPECT_EQ(ComputeExpFloat(1.0f), static_cast<float>(M_E));
}

}  // namespace
