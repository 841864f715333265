#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/SaveStream.h"

using SaveStreamTest = DataFileTest;

TEST_F(SaveStreamTest, MeasuringPassAndWritingPassAgree) {
    SaveStream s;
    auto writeParts = [&s] {
        s.WriteByte(0x19);
        s.WriteShortString("タイトル");
        s.WriteInt16(SaveStream::kCurrentFormat);
        s.WriteInt32(-5);
        s.WriteFloat(1.5f);
        s.WriteLongString("");
        const std::uint8_t block[3] = {7, 8, 9};
        s.WriteBlock(block, 3);
    };
    s.BeginWrite(true);
    writeParts();
    const std::int32_t measured = s.position;
    EXPECT_TRUE(s.buffer.empty());
    s.BeginWrite(false, static_cast<std::size_t>(measured));
    writeParts();
    ASSERT_EQ(s.position, measured);
    EXPECT_EQ(s.buffer.size(), static_cast<std::size_t>(measured));
    // Short string: int16 count = length + 1, the text, its zero.
    EXPECT_EQ(s.buffer[1], 13);
    EXPECT_EQ(s.buffer[2], 0);
    EXPECT_EQ(s.buffer[15], 0);

    s.BeginRead(s.buffer, true, 140);
    std::uint8_t b;
    std::int16_t format;
    std::int32_t i;
    float f;
    std::string title, empty;
    std::uint8_t block[3];
    ASSERT_TRUE(s.ReadByte(b) && s.ReadShortString(title) && s.ReadInt16(format) &&
                s.ReadInt32(i) && s.ReadFloat(f) && s.ReadLongString(empty) &&
                s.ReadBlock(block, 3));
    EXPECT_EQ(title, "タイトル");
    EXPECT_EQ(format, 140);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(empty, "");
    EXPECT_EQ(block[2], 9);
    EXPECT_EQ(s.lastItemSize, 3);
    EXPECT_FALSE(s.overrun);
    EXPECT_FALSE(s.ReadByte(b));
    EXPECT_TRUE(s.overrun);
}

TEST_F(SaveStreamTest, ShortBuffersAndHostileCountsOverrunWithoutReading) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        bool longString;
    };
    const Case cases[] = {
        {"count beyond the bytes", {10, 0, 'a', 0}, false},
        {"negative count", {0xFF, 0xFF, 'a', 0}, false},
        {"cut inside the count", {1}, false},
        {"huge long count", {0xFF, 0xFF, 0xFF, 0x7F, 'a'}, true},
    };
    for (const Case& c : cases) {
        SaveStream s;
        s.BeginRead(c.bytes, true, 140);
        std::string text = "unchanged";
        EXPECT_FALSE(c.longString ? s.ReadLongString(text) : s.ReadShortString(text)) << c.what;
        EXPECT_TRUE(s.overrun) << c.what;
        EXPECT_EQ(text, "unchanged") << c.what;
    }
}

TEST_F(SaveStreamTest, OldSaveStringsKeepTheirCodeRunsByteForByte) {
    GameCharSetIndex = 1;
    // "日" in code page 932, a code run of length byte 3 holding bytes that are not valid in the
    // code page, then "本".
    const std::string stored = std::string("\x93\xFA") + "\x01\x03\x81\xFF" + "\x96\x7B";
    std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(stored.size() + 1), 0};
    bytes.insert(bytes.end(), stored.begin(), stored.end());
    bytes.push_back(0);
    SaveStream s;
    s.BeginRead(bytes, false, 120);
    std::string text;
    ASSERT_TRUE(s.ReadShortString(text));
    EXPECT_EQ(text, std::string("日") + "\x01\x03\x81\xFF" + "本");
}
