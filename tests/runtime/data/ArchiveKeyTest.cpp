#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "runtime/data/ArchiveKey.h"
#include "tools/gamedata/GameDataWriter.h"

using ArchiveKeyTest = DataFileTest;

TEST_F(ArchiveKeyTest, KeyFilesReadBackInTheirSearchOrder) {
    const std::string exeFolder = dir.string() + "/";
    std::filesystem::create_directories(dir / "Data");
    std::string extension = "unchanged";
    EXPECT_EQ(FindArchiveKeyFile(0, extension, exeFolder, "Data/"), "");
    EXPECT_EQ(extension, "unchanged");
    // "Game" with ".data" comes before "List" with ".velk": base names first.
    ASSERT_TRUE(
        gamedata::SaveBytes(PathOf("List.velk"), gamedata::WriteArchiveKeyFile("second", 0, 5)));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("Game.data"),
                                    gamedata::WriteArchiveKeyFile("first key", 6, 200)));
    EXPECT_EQ(FindArchiveKeyFile(0, extension, exeFolder, "Data/"), "first key");
    EXPECT_EQ(extension, "res");
    // The data folder is searched on its own.
    const std::string longKey(127, 'k');
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("Data/BasicData2.resource"),
                                    gamedata::WriteArchiveKeyFile(longKey, 7, 0)));
    EXPECT_EQ(FindArchiveKeyFile(1, extension, exeFolder, "Data/"), longKey);
    EXPECT_EQ(extension, "resource");
    // Any other folder choice: the empty key without looking.
    extension = "kept";
    EXPECT_EQ(FindArchiveKeyFile(2, extension, exeFolder, "Data/"), "");
    EXPECT_EQ(extension, "kept");
}

TEST_F(ArchiveKeyTest, InvalidKeyFilesGiveTheEmptyKeyAndKeepTheExtension) {
    const auto good = gamedata::WriteArchiveKeyFile("secret", 2, 9);
    std::string extension;
    EXPECT_EQ(ParseArchiveKeyFile(good, extension), "secret");
    EXPECT_EQ(extension, "pak");
    auto badCheck = good;
    badCheck.back() ^= 1;
    auto badIndex = good;
    badIndex[1] = 8;
    auto badLength = good;
    badLength[2] = 128;
    auto zeroLength = good;
    zeroLength[2] = 0;
    auto shortFile = good;
    shortFile.resize(100);
    for (const auto& bytes :
         {badCheck, badIndex, badLength, zeroLength, shortFile, std::vector<std::uint8_t>{}}) {
        extension = "velk";
        EXPECT_EQ(ParseArchiveKeyFile(bytes, extension), "");
        EXPECT_EQ(extension, "velk");
    }
    // The key does not lie in the file in one piece.
    const std::string text(good.begin(), good.end());
    EXPECT_EQ(text.find("secret"), std::string::npos);
}

TEST_F(ArchiveKeyTest, ChunkedReadAndProbeRecord) {
    std::vector<std::uint8_t> bytes(100);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.velk"), bytes));
    Game_Archive archive;
    archive.Reset();
    archive.file = std::fopen(PathOf("a.velk").c_str(), "rb");
    ASSERT_NE(archive.file, nullptr);
    std::uint8_t header[64] = {};
    ReadFileChunked(header, archive.file, 0);
    EXPECT_EQ(header[5], 0);
    ReadFileChunked(header, archive.file, 64);
    EXPECT_EQ(header[63], 63);
    EXPECT_EQ(std::ftell(archive.file), 64);
    archive.Close();
    EXPECT_EQ(archive.file, nullptr);
}
