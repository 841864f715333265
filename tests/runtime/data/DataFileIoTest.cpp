// The data files' edge to the library: whole files read through the library's File handles and
// stream table, and the no-replace move.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Main/DxFile.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/DataTestSupport.h"
#include "runtime/shell/ShellMessages.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

// A stream table that serves the folder "Packed" from the folder "store" beside it, as the
// archive layer serves a folder from the archive that stands for it.
ZiDaz::StreamFunctionTable gPlain;
std::vector<std::u16string> gOpened;

ZiDaz::StreamValue OpenPacked(const char16_t* path, int useCache, int blockRead, int async) {
    std::u16string p(path);
    gOpened.push_back(p);
    if (std::size_t at = p.find(u"/Packed/"); at != std::u16string::npos) {
        p.replace(at, 8, u"/store/");
    }
    return gPlain.Open(p.c_str(), useCache, blockRead, async);
}

using DataFileIoTest = DataFileTest;

std::vector<std::uint8_t> Bytes(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    ReadWholeDataFile(path, bytes);
    return bytes;
}

TEST_F(DataFileIoTest, WholeFilesAreReadThroughTheLibrary) {
    const std::vector<std::uint8_t> content{'V', 0, 'E', 0xFF, 'L', 'K'};
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("データ.dat"), content));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("empty.dat"), {}));
    std::vector<std::uint8_t> bytes{1, 2, 3};
    EXPECT_TRUE(ReadWholeDataFile(PathOf("データ.dat"), bytes));
    EXPECT_EQ(bytes, content);
    // Games are made on Windows: a name spelt in another case is the same file.
    EXPECT_TRUE(ReadWholeDataFile(PathOf("データ.DAT"), bytes));
    EXPECT_EQ(bytes, content);
    EXPECT_TRUE(ReadWholeDataFile(PathOf("empty.dat"), bytes));
    EXPECT_TRUE(bytes.empty());
    for (const std::string& bad : {PathOf("missing.dat"), dir.string(), std::string()}) {
        bytes = {1};
        EXPECT_FALSE(ReadWholeDataFile(bad, bytes)) << bad;
        EXPECT_TRUE(bytes.empty()) << bad;
    }
    // Each read lets go of its handle: more reads than there may be File handles at once.
    for (int i = 0; i < 0x8000 + 4; ++i) ASSERT_TRUE(ReadWholeDataFile(PathOf("empty.dat"), bytes));
}

TEST_F(DataFileIoTest, FilesComeThroughTheInstalledStreamTable) {
    std::filesystem::create_directories(dir / "store");
    const std::vector<std::uint8_t> content{'p', 'a', 'c', 'k', 'e', 'd'};
    ASSERT_TRUE(gamedata::SaveBytes((dir / "store" / "Game.dat").string(), content));
    gPlain = *ZiDaz::GetDefaultStreamFunctionTable();
    ZiDaz::StreamFunctionTable packed = gPlain;
    packed.Open = &OpenPacked;
    gOpened.clear();
    ZiDaz::InstallStreamFunctions(&packed);
    std::vector<std::uint8_t> bytes;
    const bool read = ReadWholeDataFile(PathOf("Packed/Game.dat"), bytes);
    ZiDaz::InstallStreamFunctions(nullptr);
    EXPECT_TRUE(read);
    EXPECT_EQ(bytes, content);
    EXPECT_FALSE(gOpened.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "Packed"));
}

TEST_F(DataFileIoTest, MovesNeverReplaceAFile) {
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("a.dat"), {'a'}));
    ASSERT_TRUE(gamedata::SaveBytes(PathOf("b.dat"), {'b'}));
    EXPECT_FALSE(RenameWithoutReplacing(PathOf("a.dat"), PathOf("b.dat")));
    EXPECT_EQ(Bytes(PathOf("b.dat")), std::vector<std::uint8_t>{'b'});
    EXPECT_TRUE(RenameWithoutReplacing(PathOf("a.dat"), PathOf("壊れた.dat")));
    EXPECT_EQ(Bytes(PathOf("壊れた.dat")), std::vector<std::uint8_t>{'a'});
    EXPECT_FALSE(std::filesystem::exists(dir / "a.dat"));
    EXPECT_FALSE(RenameWithoutReplacing(PathOf("a.dat"), PathOf("c.dat")));
}

std::vector<std::u16string> gShellBoxes;

TEST(DataFileServices, TheDefaultMessageBoxIsTheShells) {
    ResetDataFileServices();
    gShellBoxes.clear();
    ShellMessageBoxHandler previous =
        SetShellMessageBoxHandler([](const std::u16string& text, const std::u16string& caption) {
            gShellBoxes.push_back(caption + u"|" + text);
        });
    GetDataFileServices().showMessageBox("ファイルがありません\nMap001.mps", "読み込みエラー");
    SetShellMessageBoxHandler(previous);
    EXPECT_EQ(gShellBoxes,
              std::vector<std::u16string>{u"読み込みエラー|ファイルがありません\nMap001.mps"});
}

}  // namespace
