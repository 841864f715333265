#include <gtest/gtest.h>

#include <cstring>

#include "DataTestSupport.h"
#include "runtime/data/DataFileBuffer.h"

namespace {

std::vector<std::uint8_t> Le32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    return {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)};
}

std::vector<std::uint8_t> Cat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

}  // namespace

TEST(ScrambleGeneratorTest, SeedOneGivesTheFormatsSequence) {
    ScrambleGenerator g(1);
    const std::uint32_t raw[4] = {41, 18467, 6334, 26500};
    for (std::uint32_t expected : raw) EXPECT_EQ(g.Next(), expected);
    ScrambleGenerator h(1);
    const std::uint32_t xors[10] = {0, 4, 1, 6, 4, 3, 2, 7, 6, 5};
    for (std::uint32_t expected : xors) EXPECT_EQ(h.Next() >> 12, expected);
}

TEST(ScrambleGeneratorTest, FirstDrawOfEverySeedLeavesTheFirstByteAlone) {
    for (std::uint32_t seed = 0; seed < 256; ++seed) {
        EXPECT_EQ(ScrambleGenerator(seed).Next() >> 12, 0u) << seed;
    }
}

TEST(UnscrambleDataFileTest, TwelveZeroBytesWithSeedsOneTwoThree) {
    std::vector<std::uint8_t> bytes(12, 0);
    const std::uint8_t seeds[3] = {1, 2, 3};
    std::uint8_t check = 0;
    ASSERT_TRUE(UnscrambleDataFile(bytes.data(), 0, 12, 3, seeds, kNoCheck, check, {}));
    const std::vector<std::uint8_t> expected = {0x00, 0x04, 0x06, 0x06, 0x01, 0x02,
                                                0x06, 0x07, 0x01, 0x05, 0x07, 0x06};
    EXPECT_EQ(bytes, expected);
}

TEST(UnscrambleDataFileTest, StridesReachOffsetsAsTheFormatSays) {
    // The first pass touches every byte, the second every other byte from 0, the third every
    // fifth: offset 10 is changed by all three, offset 1 by the first only.
    std::vector<std::uint8_t> bytes(12, 0);
    const std::uint8_t seeds[3] = {7, 9, 11};
    std::uint8_t check = 0;
    UnscrambleDataFile(bytes.data(), 0, 12, 3, seeds, kNoCheck, check, {});
    auto draw = [](std::uint32_t seed, int n) {
        ScrambleGenerator g(seed);
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = g.Next() >> 12;
        return v;
    };
    EXPECT_EQ(bytes[1], draw(7, 2));
    EXPECT_EQ(bytes[3], draw(7, 4));
    EXPECT_EQ(bytes[4], draw(7, 5) ^ draw(9, 3));
    EXPECT_EQ(bytes[5], draw(7, 6) ^ draw(11, 2));
    EXPECT_EQ(bytes[10], draw(7, 11) ^ draw(9, 6) ^ draw(11, 3));
}

TEST_F(DataFileTest, ScrambleRoundTripsAndItsCheckVerifies) {
    std::vector<std::uint8_t> body(300);
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<std::uint8_t>(i * 37);
    const auto original = body;
    const std::uint8_t seeds[3] = {200, 13, 77};
    std::uint8_t check = 0;
    UnscrambleDataFile(body.data(), 0, body.size(), 3, seeds, kComputeCheck, check, {});
    EXPECT_NE(body, original);
    std::uint8_t sum = 0;
    for (auto c : original) sum = static_cast<std::uint8_t>(sum + c);
    EXPECT_EQ(check, sum);
    UnscrambleDataFile(body.data(), 0, body.size(), 3, seeds, kNoCheck, check, {});
    EXPECT_EQ(body, original);
    EXPECT_TRUE(UnscrambleDataFile(body.data(), 0, body.size(), 0, nullptr, kVerifyCheck, check,
                                   PathOf("x")));
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST_F(DataFileTest, AllZeroSeedsNeitherScrambleNorCheck) {
    std::vector<std::uint8_t> body = {1, 2, 3, 4, 5, 6};
    const auto original = body;
    const std::uint8_t seeds[3] = {0, 0, 0};
    std::uint8_t check = 99;
    EXPECT_TRUE(UnscrambleDataFile(body.data(), 0, body.size(), 3, seeds, kVerifyCheck, check,
                                   PathOf("x")));
    EXPECT_EQ(body, original);
    EXPECT_EQ(check, 99);
    EXPECT_TRUE(DataRecorder::reports.empty());
}

TEST(ScrambledHeaderTest, FormsOfTheShortHeader) {
    struct Case {
        const char* header;
        std::uint8_t kind;
        ScrambledHeaderForm form;
    };
    const Case cases[] = {
        {"\x05VxxELxKMx", 'M', ScrambledHeaderForm::Plain},
        {"\x05VxxELxKCx", 'C', ScrambledHeaderForm::Plain},
        {"\x05VxxELxKCx", 'M', ScrambledHeaderForm::Scrambled},  // another file's kind
        {"\x05PxxxTxKxx", 'M', ScrambledHeaderForm::Protected},
        {"\x05VxxEL\x00KMx", 'M', ScrambledHeaderForm::Plain},
        {"\x05QxxELxKMx", 'M', ScrambledHeaderForm::Scrambled},
        {"\x05PxxxTxJxx", 'M', ScrambledHeaderForm::Scrambled},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyShortHeader(reinterpret_cast<const std::uint8_t*>(c.header), c.kind),
                  c.form)
            << c.header;
    }
}

TEST_F(DataFileTest, StringPrimitive) {
    DataFileBuffer b;
    // Length 1 (only the zero), length 0 (no zero stored), a text with bytes after its zero.
    b.Load(Cat({Le32(1), {0}, Le32(0), Le32(5), {'a', 'b', 0, 'z', 'z'}, Le32(3), {'x', 'y', 0}}));
    b.utf8 = true;
    EXPECT_EQ(b.ReadString(16), "");
    EXPECT_EQ(b.ReadString(16), "");
    EXPECT_EQ(b.ReadString(16), "ab");
    EXPECT_EQ(b.ReadString(3), "xy");
    EXPECT_FALSE(b.damaged);
    EXPECT_EQ(b.Remaining(), 0u);
}

TEST_F(DataFileTest, BrokenStringsAndCountsMarkTheBufferDamaged) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool count;
    };
    const Case cases[] = {
        {"length beyond the end", Cat({Le32(9), {'a', 0}}), false},
        {"negative length", Cat({Le32(-2), {'a', 0}}), false},
        {"longer than the field", Cat({Le32(5), {'a', 'b', 'c', 'd', 0}}), false},
        // Four bytes without their zero need a field of five.
        {"at the limit without its zero", Cat({Le32(4), {'a', 'b', 'c', 'd'}}), false},
        {"cut inside the length", {3, 0}, false},
        {"count beyond the bytes", Cat({Le32(1000), {1, 2, 3}}), true},
        {"huge count", Cat({Le32(0x7FFFFFFF)}), true},
    };
    for (const Case& c : cases) {
        DataFileBuffer b;
        b.Load(c.bytes);
        if (c.count) {
            EXPECT_EQ(b.ReadCount(4), 0) << c.what;
        } else {
            EXPECT_EQ(b.ReadString(4), "") << c.what;
        }
        EXPECT_TRUE(b.damaged) << c.what;
        // Once damaged, every read gives zero and the position stays in the buffer.
        EXPECT_EQ(b.ReadInt32(), 0);
        EXPECT_LE(static_cast<std::size_t>(b.position), b.Size());
    }
}

TEST_F(DataFileTest, CodePageStringsAreConvertedAndStillFitTheirField) {
    GameCharSetIndex = 1;  // code page 932
    DataFileBuffer b;
    // "日本" in code page 932 (4 bytes) becomes 6 bytes of UTF-8.
    b.Load(Cat({Le32(5), {0x93, 0xFA, 0x96, 0x7B, 0}, Le32(5), {0x93, 0xFA, 0x96, 0x7B, 0}}));
    b.utf8 = false;
    EXPECT_EQ(b.ReadString(16), "日本");
    EXPECT_FALSE(b.damaged);
    // The converted text needs 7 bytes: a 6-byte field cannot take it.
    EXPECT_EQ(b.ReadString(6), "");
    EXPECT_TRUE(b.damaged);
}

TEST_F(DataFileTest, ReadsAreLittleEndianAndSigned) {
    DataFileBuffer b;
    b.Load({0xFE, 0xFF, 0x01, 0x02, 0x03, 0x84, 0x80});
    EXPECT_EQ(b.ReadInt16(), -2);
    EXPECT_EQ(b.ReadInt32(), static_cast<std::int32_t>(0x84030201u));
    EXPECT_EQ(b.ReadSignedByte(), -128);
    EXPECT_EQ(b.ReadByte(), 0);
    EXPECT_TRUE(b.damaged);
}
