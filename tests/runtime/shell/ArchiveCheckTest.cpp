// The archive check on archives made by our archive writer, and the preload's choice of archives.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/data/ArchiveGenerationKeys.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/ArchiveCheck.h"
#include "runtime/shell/ShellTestSupport.h"
#include "runtime/shell/TextConversion.h"
#include "tools/archive/ArchiveWriter.h"

namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// An archive of one small file, marked with `generation` and scrambled with its key.
std::vector<std::uint8_t> ArchiveOf(int generation) {
    velk::archive::Node root;
    root.directory = true;
    velk::archive::Node file;
    file.name = "a.txt";
    file.data = {'h', 'i'};
    root.children.push_back(file);
    velk::archive::WriteOptions options;
    options.key = archive_keys::GenerationKey(generation);
    options.generationMark = archive_keys::GenerationMark(generation);
    return velk::archive::WriteArchive(root, options);
}

class ArchiveCheckTest : public testing::Test {
  protected:
    void SetUp() override { UiLanguage = 0; }
    std::string Exe() const { return scratch.path().string() + "/"; }
    fs::path At(const std::string& name) const { return scratch.path() / name; }
    std::string Message(const ArchiveCheckResult& r) const {
        return ConvertWideToUtf8(r.message.c_str());
    }
    shell_test::ScratchFolder scratch;
};

TEST_F(ArchiveCheckTest, ProbeTable) {
    WriteBytes(At("g10.velk"), ArchiveOf(10));
    WriteBytes(At("g11.velk"), ArchiveOf(11));
    WriteBytes(At("g12.velk"), ArchiveOf(12));
    WriteBytes(At("text.velk"), {'h', 'e', 'l', 'l', 'o'});
    std::vector<std::uint8_t> old = ArchiveOf(10);
    old[2] = 7;
    WriteBytes(At("old.velk"), old);
    std::vector<std::uint8_t> unknown = ArchiveOf(10);
    unknown[46] = 0xE7;  // 999
    unknown[47] = 0x03;
    WriteBytes(At("unknown.velk"), unknown);
    fs::create_directories(At("Folder"));
    struct Case {
        const char* name;
        std::int32_t expected;
    };
    for (const Case& c : {Case{"missing.velk", -1}, Case{"Folder.velk", 0}, Case{"text.velk", -2},
                          Case{"old.velk", 9}, Case{"g10.velk", 10}, Case{"g11.velk", 11},
                          Case{"g12.velk", 12}, Case{"unknown.velk", -3}}) {
        EXPECT_EQ(ProbeArchiveVersion(At(c.name).string()), c.expected) << c.name;
    }
}

TEST_F(ArchiveCheckTest, PlainFolderWithoutKeyReadsPlainFiles) {
    fs::create_directories(At("Data/BasicData"));
    const ArchiveCheckResult r = CheckArchives(Exe(), "Data/", ".velk");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.generation, 0);
    EXPECT_EQ(r.key, "");
    EXPECT_EQ(r.extension, ".velk");
}

TEST_F(ArchiveCheckTest, EveryGenerationStartsWithItsKey) {
    for (int g : {10, 11, 12}) {
        SCOPED_TRACE(g);
        WriteBytes(At("Data.velk"), ArchiveOf(g));
        const ArchiveCheckResult beside = CheckArchives(Exe(), "Data/", ".velk");
        EXPECT_TRUE(beside.ok);
        EXPECT_EQ(beside.generation, g);
        EXPECT_EQ(beside.key, archive_keys::GenerationKey(g));
        fs::remove(At("Data.velk"));
        // The same archive inside a plain data folder.
        WriteBytes(At("Data/BGM.velk"), ArchiveOf(g));
        const ArchiveCheckResult inside = CheckArchives(Exe(), "Data/", ".velk");
        EXPECT_TRUE(inside.ok);
        EXPECT_EQ(inside.generation, g);
        EXPECT_EQ(inside.key, archive_keys::GenerationKey(g));
        fs::remove_all(At("Data"));
    }
    EXPECT_EQ(archive_keys::GenerationKey(10).size(), 30u);
    EXPECT_EQ(archive_keys::GenerationKey(11).size(), 40u);
    EXPECT_EQ(archive_keys::GenerationKey(12).size(), 45u);
    EXPECT_EQ(archive_keys::GenerationKey(12).find('\0'), std::string::npos);
}

TEST_F(ArchiveCheckTest, FailuresStopWithTheirNames) {
    // Generations 11 and 12 together: both names, the earlier-listed first.
    WriteBytes(At("Data/A.velk"), ArchiveOf(11));
    WriteBytes(At("Data/B.velk"), ArchiveOf(12));
    ArchiveCheckResult r = CheckArchives(Exe(), "Data/", ".velk");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(Message(r).find("種類が異なります"), std::string::npos);
    EXPECT_NE(Message(r).find(" A.velk\r\n\r\n B.velk"), std::string::npos) << Message(r);
    fs::remove(At("Data/B.velk"));

    std::vector<std::uint8_t> unknown = ArchiveOf(11);
    unknown[46] = 1;
    unknown[47] = 0;
    WriteBytes(At("Data/C.velk"), unknown);
    r = CheckArchives(Exe(), "Data/", ".velk");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(Message(r).find("未知のバージョン"), std::string::npos);
    fs::remove(At("Data/C.velk"));

    r = CheckArchives(Exe(), "Missing/", ".velk");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(Message(r).find(Exe() + "Missing/"), std::string::npos) << Message(r);

    WriteBytes(At("Other.velk"), {'n', 'o'});
    r = CheckArchives(Exe(), "Other/", ".velk");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(Message(r).find("古すぎるバージョン"), std::string::npos);
    EXPECT_NE(Message(r).find(Exe() + "Other.velk"), std::string::npos);
}

TEST_F(ArchiveCheckTest, StrayFileListedLastDoesNotStopTheStart) {
    WriteBytes(At("Data/A.velk"), ArchiveOf(11));
    WriteBytes(At("Data/Z.velk"), {'n', 'o', 't', 'e'});
    ArchiveCheckResult r = CheckArchives(Exe(), "Data/", ".velk");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.generation, 11);
    EXPECT_EQ(r.key, archive_keys::GenerationKey(11));
    // A stray file alone leaves a plain folder.
    fs::remove(At("Data/A.velk"));
    r = CheckArchives(Exe(), "Data/", ".velk");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.generation, 0);
}

// Records the preload's loads.
std::vector<std::string> loaded;
std::uint64_t available = 0;

class ArchivePreloadTest : public ArchiveCheckTest {
  protected:
    void SetUp() override {
        loaded.clear();
        ArchivePreloadCalls& calls = GetArchivePreloadCalls();
        calls.availablePhysicalMemory = [] { return available; };
        calls.loadIntoMemory = [](const std::string& path) {
            loaded.push_back(fs::path(path).filename().string());
            return 0;
        };
        calls.pumpMessages = [] { return 0; };
    }
    void TearDown() override {
        ResetArchivePreloadCalls();
        PreloadedArchives.clear();
    }
    void Sized(const std::string& name, std::uintmax_t size) {
        WriteBytes(At(name), {});
        fs::resize_file(At(name), size);  // sparse: no disk is used
    }
};

TEST_F(ArchivePreloadTest, BudgetAndLimits) {
    EXPECT_EQ(ArchivePreloadBudget(1000000000), 600000000);
    EXPECT_EQ(ArchivePreloadBudget(8000000000ULL), 3145728000LL);
    available = 1000000000;
    Sized("Data/A.velk", 1000);
    Sized("Data/B.velk", 200000000);  // 200 MB: over the per-archive limit
    Sized("Data/C.velk", 0);          // empty: never loaded
    Sized("Data/D.velk", 134217727);
    Sized("Data/E.velk", 134217728);
    PreloadArchives(Exe(), "Data/");
    EXPECT_EQ(loaded, (std::vector<std::string>{"A.velk", "D.velk"}));
    EXPECT_EQ(PreloadedArchives.size(), 2u);
}

TEST_F(ArchivePreloadTest, LoadsInListingOrderWhileTheBudgetLasts) {
    available = 1000;  // a budget of 600 bytes
    Sized("Data/A.velk", 300);
    Sized("Data/B.velk", 250);
    Sized("Data/C.velk", 100);
    Sized("Data/D.velk", 40);
    PreloadArchives(Exe(), "Data/");
    EXPECT_EQ(loaded, (std::vector<std::string>{"A.velk", "B.velk", "D.velk"}));
}

TEST_F(ArchivePreloadTest, SingleArchiveBesideTheExecutable) {
    available = 1000;
    Sized("Data.velk", 500);
    Sized("Data/A.velk", 10);  // not looked at while the single archive exists
    PreloadArchives(Exe(), "Data/");
    EXPECT_EQ(loaded, std::vector<std::string>{"Data.velk"});
    // Every "/" of the folder becomes ".velk".
    loaded.clear();
    Sized("Games.velkData2.velk", 100);
    PreloadArchives(Exe(), "Games/Data2/");
    EXPECT_EQ(loaded, std::vector<std::string>{"Games.velkData2.velk"});
}

}  // namespace
