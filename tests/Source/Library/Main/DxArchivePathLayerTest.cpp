// The archive path layer: folders of ordinary paths found as archive files at every level, the
// lookup order, the extension and key settings, shared archives, preloading and the table's
// slots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ArchiveTestSupport.h"
#include "Main/DxFile.h"
#include "Main/Windows/DxFileWin.h"

namespace {

using namespace ZiDaz;
using namespace archive_test;
using velk::archive::WriteArchive;
using velk::archive::WriteOptions;

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

class ArchivePathLayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetNarrowCharCode(CharEncoding::Utf8);
        StartArchivePathLayer();
        SetArchiveFileExtension("velk");
        SetArchiveKeyText("layer key");
        SetArchiveLookupOrder(0);
        WriteOptions options;
        options.key = "layer key";
        root_ = folder_.path();
        // root/Game.velk holds the folder Game; root/Plain/Deep/Pack.velk holds Pack, three
        // levels further down; root/M.velk and root/M/N.velk both claim M/N/f.txt.
        WriteFile(root_ / "Game.velk", WriteArchive(TreeOf({{"Data/Map/m.txt", Text("map in Game")},
                                                            {"Data/画像/勇者.png", Text("hero")},
                                                            {"top.txt", Text("top")}}),
                                                    options));
        WriteFile(root_ / "Plain/Deep/Pack.velk",
                  WriteArchive(TreeOf({{"Inner/p.txt", Text("deep pack")}}), options));
        WriteFile(root_ / "M.velk", WriteArchive(TreeOf({{"N/f.txt", Text("outer")}}), options));
        WriteFile(root_ / "M/N.velk", WriteArchive(TreeOf({{"f.txt", Text("inner")}}), options));
        // Plain files beside: one also inside Game.velk, one only on disk.
        WriteFile(root_ / "Game/top.txt", Text("plain top"));
        WriteFile(root_ / "Game/disk.txt", Text("disk only"));
    }
    void TearDown() override {
        SetArchiveLookupOrder(0);
        SetArchiveFileExtension("");
        SetArchiveKeyText(nullptr);
        EndArchivePathLayer();
    }

    std::string Path(const std::string& relative) const { return (root_ / relative).string(); }

    // The whole file through the layer's table, and whether it came from an archive.
    std::string Read(const std::string& relative, int* archived = nullptr) const {
        const StreamFunctionTable& table = *GetArchiveStreamFunctions();
        StreamValue stream = table.Open(Wide(Path(relative)).c_str(), 0, 1, 0);
        if (!stream) return "<none>";
        EXPECT_EQ(stream & 0xF0000000u, 0xF0000000u);
        if (archived) *archived = table.IsArchived(stream);
        table.Seek(stream, 0, 2);
        std::int64_t size = table.Tell(stream);
        table.Seek(stream, 0, 0);
        std::string text(static_cast<std::size_t>(size), '\0');
        EXPECT_EQ(table.Read(text.data(), 1, text.size(), stream), text.size());
        char extra;
        EXPECT_EQ(table.Read(&extra, 1, 1, stream), 0u);
        EXPECT_NE(table.Eof(stream), 0);
        EXPECT_EQ(table.Close(stream), 0);
        return text;
    }

    TempFolder folder_{"layer"};
    std::filesystem::path root_;
};

TEST_F(ArchivePathLayerTest, EveryFolderLevelIsTriedFromTheTop) {
    int archived = -1;
    EXPECT_EQ(Read("Game/Data/Map/m.txt", &archived), "map in Game");
    EXPECT_EQ(archived, 1);
    EXPECT_EQ(Read("game/DATA/画像/勇者.png"), "hero");
    EXPECT_EQ(Read("Game/Data/./Map/../Map/m.txt"), "map in Game");
    EXPECT_EQ(Read("Plain/Deep/Pack/Inner/p.txt"), "deep pack");
    EXPECT_EQ(Read("M/N/f.txt"), "outer");  // the higher archive is found first
    // Not in the archive: the plain file.
    EXPECT_EQ(Read("Game/disk.txt", &archived), "disk only");
    EXPECT_EQ(archived, 0);
    EXPECT_EQ(Read("Game/Data/none.txt"), "<none>");
    // A file name is never tried as an archive: root/Game itself is no file to open.
    EXPECT_EQ(Read("Game"), "<none>");
}

TEST_F(ArchivePathLayerTest, LookupOrderDecidesBetweenArchiveAndDisk) {
    EXPECT_EQ(Read("Game/top.txt"), "top");
    SetArchiveLookupOrder(1);
    EXPECT_EQ(Read("Game/top.txt"), "plain top");
    EXPECT_EQ(Read("Game/Data/Map/m.txt"), "map in Game");
}

TEST_F(ArchivePathLayerTest, ExtensionAndKeySettings) {
    WriteOptions options;
    options.key = "";
    WriteFile(root_ / "Other.DXA", WriteArchive(TreeOf({{"o.txt", Text("dxa")}}), options));
    EXPECT_EQ(Read("Other/o.txt"), "<none>");               // the extension is "velk"
    SetArchiveFileExtension(std::string(64, 'x').c_str());  // too long: back to "DXA"
    SetArchiveKeyText("");                                  // an empty key text is a key text
    EXPECT_EQ(Read("Other/o.txt"), "dxa");
    // Without a key text the archive key is the same (a key text under 4 bytes is lengthened
    // with the default one), so the head reads; the files' keys start from another key string.
    SetArchiveKeyText(nullptr);
    EXPECT_EQ(ReleasePreloadedArchive(Path("Other.DXA").c_str()), 0);
    std::string other = Read("Other/o.txt");
    EXPECT_EQ(other.size(), 3u);
    EXPECT_NE(other, "dxa");
}

TEST_F(ArchivePathLayerTest, OpensShareOneArchiveUntilACleanup) {
    const StreamFunctionTable& table = *GetArchiveStreamFunctions();
    const std::string archive = Path("Game.velk");
    StreamValue a = table.Open(Wide(Path("Game/top.txt")).c_str(), 0, 1, 0);
    StreamValue b = table.Open(Wide(Path("Game/Data/Map/m.txt")).c_str(), 0, 1, 0);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_EQ(GetArchiveReferenceCount(archive.c_str()), 2);
    table.Close(a);
    table.Close(b);
    EXPECT_EQ(GetArchiveReferenceCount(archive.c_str()), 0);  // still open, unused
    // Closed values and values that are not the layer's are refused.
    EXPECT_EQ(table.Close(a), -1);
    EXPECT_EQ(table.Tell(a), -1);
    EXPECT_EQ(table.Read(nullptr, 1, 1, 0x1234), static_cast<std::size_t>(-1));
    EXPECT_EQ(table.IsArchived(b), -1);
    // Releasing a path never preloaded closes the unused archives and nothing else.
    EXPECT_EQ(ReleasePreloadedArchive(Path("never.velk").c_str()), 0);
    EXPECT_EQ(GetArchiveReferenceCount(archive.c_str()), -1);
}

TEST_F(ArchivePathLayerTest, PreloadedArchivesServeFromMemory) {
    const std::string archive = Path("Game.velk");
    for (int asynchronous : {0, 1}) {
        ASSERT_EQ(LoadArchiveIntoMemory(archive.c_str(), asynchronous), 0);
        EXPECT_EQ(GetArchiveReferenceCount(archive.c_str()), 1);
        // The file on disk may go: the image serves.
        std::filesystem::rename(root_ / "Game.velk", root_ / "Game.moved");
        EXPECT_EQ(Read("Game/Data/Map/m.txt"), "map in Game");
        EXPECT_EQ(Read("Game/Data/画像/勇者.png"), "hero");
        std::filesystem::rename(root_ / "Game.moved", root_ / "Game.velk");
        EXPECT_EQ(ReleasePreloadedArchive(archive.c_str()), 0);
        EXPECT_EQ(GetArchiveReferenceCount(archive.c_str()), -1);
    }
    EXPECT_EQ(LoadArchiveIntoMemory(Path("none.velk").c_str(), 0), -1);
}

TEST_F(ArchivePathLayerTest, SearchesLookInsideArchives) {
    const StreamFunctionTable& table = *GetArchiveStreamFunctions();
    FindFileRecord record{};
    FileSearchValue search = table.FindFirst(Wide(Path("Game/Data/*")).c_str(), &record);
    ASSERT_NE(search, -1);
    std::vector<std::u16string> names;
    do {
        names.push_back(std::u16string(record.Name) + (record.DirectoryFlag ? u"/" : u""));
    } while (table.FindNext(search, &record) == 0);
    EXPECT_EQ(table.FindClose(search), 0);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Map/", u"画像/", u"./", u"../"}));
    // Outside archives the plain search answers.
    search = table.FindFirst(Wide(Path("Plain/Deep/*.velk")).c_str(), &record);
    ASSERT_NE(search, -1);
    EXPECT_EQ(std::u16string(record.Name), u"Pack.velk");
    table.FindClose(search);
}

TEST_F(ArchivePathLayerTest, TheOpenLimitIsKeptAndReported) {
    ASSERT_EQ(LoadArchiveIntoMemory(Path("Game.velk").c_str(), 0), 0);
    const StreamFunctionTable& table = *GetArchiveStreamFunctions();
    const std::u16string path = Wide(Path("Game/top.txt"));
    std::vector<StreamValue> open;
    for (int i = 0; i < 0x8000; ++i) {
        StreamValue stream = table.Open(path.c_str(), 0, 1, 0);
        ASSERT_NE(stream, 0u) << i;
        open.push_back(stream);
    }
    EXPECT_EQ(table.Open(path.c_str(), 0, 1, 0), 0u);
    for (StreamValue stream : open) table.Close(stream);
    EXPECT_NE(table.Open(path.c_str(), 0, 1, 0), 0u);
}

TEST(ArchiveLookupSwitch, DefaultTableFollowsTheSwitch) {
    StartArchivePathLayer();
    EnableArchiveLookup(1);  // as the library starts, whatever an earlier test switched
    InstallStreamFunctions(nullptr);
    EXPECT_EQ(GetStreamFunctionTable()->Open, GetArchiveStreamFunctions()->Open);
    EnableArchiveLookup(0);
    EXPECT_EQ(GetStreamFunctionTable()->Open, GetPlainStreamFunctions()->Open);
    EnableArchiveLookup(1);
    EXPECT_EQ(GetStreamFunctionTable()->Open, GetArchiveStreamFunctions()->Open);
    // A program's own table stays in place; only the switch changes.
    StreamFunctionTable own = *GetPlainStreamFunctions();
    InstallStreamFunctions(&own);
    EnableArchiveLookup(0);
    EXPECT_EQ(GetArchiveLookupSwitch(), 0);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 1);  // it equals the plain default now
    EnableArchiveLookup(1);
    InstallStreamFunctions(nullptr);
    EndArchivePathLayer();
}

}  // namespace
