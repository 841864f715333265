#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "SaveTestSupport.h"
#include "runtime/shell/RuntimeError.h"

using save_test::ReadBytes;
using save_test::SaveTest;
using save_test::WriteBytes;

namespace {

constexpr std::int32_t kVar3 = 2000003;
constexpr std::int32_t kSavedFlag = 9000024;

// A snapshot of the live game as Save copies it.
Game_SaveData LiveSnapshot() {
    Game_SaveData data;
    for (const SavePart& part : SavePartTable())
        if (part.copyFromLive) part.copyFromLive(data);
    data.Relink();
    return data;
}

// The bytes a snapshot encodes to, from the body on (the header's filler is random).
std::vector<std::uint8_t> Body(Game_SaveData& data) {
    auto bytes = EncodeSaveFile(data, {0, 0, 0});
    return {bytes.begin() + 20, bytes.end()};
}

}  // namespace

TEST_F(SaveTest, SlotNames) {
    const std::string base = dir.string() + "/";
    const struct {
        int slot;
        const char* name;
        const char* expected;
    } cases[] = {
        {5, "Save/SaveData", "Save/SaveData05.sav"},
        {1, "Save/SaveData", "Save/SaveData01.sav"},
        {123, "Save/SaveData", "Save/SaveData123.sav"},
        {-1, "Save/SaveData", "Save/SaveData-01.sav"},
        {0, "Save/Extra.sav", "Save/Extra.sav"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Game_SaveManager::SlotPath(c.slot, c.name), base + c.expected);
}

TEST_F(SaveTest, SlotZeroRefusesNamesOutsideTheGame) {
    TestPlay = true;
    for (const char* name : {"C:/x.sav", "../x.sav"}) {
        EXPECT_FALSE(TheSaveManager.Save(0, 0, name)) << name;
    }
    EXPECT_EQ(ReportFirsts().size(), 2u);
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "x.sav"));
    TestPlay = false;
    EXPECT_FALSE(TheSaveManager.Save(0, 0, "../x.sav"));
    EXPECT_EQ(ReportFirsts().size(), 2u);  // said only in test play
    EXPECT_TRUE(TheSaveManager.Save(0, 0, "Save/Extra.sav"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Save/Extra.sav"));
}

TEST_F(SaveTest, SavedValuesReadBackThroughTheCacheAndFromTheFile) {
    FillLiveGame();
    ASSERT_TRUE(TheSaveManager.Save(1, 0, kDefaultSavePrefix));
    EXPECT_EQ(TheSystemState.lastSlot, 1);
    const Game_SaveData* entry = TheSaveManager.cache.at(SlotFile(1)).get();
    ASSERT_TRUE(TheSaveManager.Save(1, 0, kDefaultSavePrefix));
    EXPECT_EQ(TheSaveManager.cache.at(SlotFile(1)).get(), entry);  // reused
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(1, kVar3, kDefaultSavePrefix), 77);

    TheSaveManager = Game_SaveManager();
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(1, kVar3, kDefaultSavePrefix), 77);
    EXPECT_EQ(TheSaveManager.ReadSavedString(1, 3000001, kDefaultSavePrefix), "abc");
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(1, kSavedFlag, kDefaultSavePrefix), 1);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(2, kSavedFlag, kDefaultSavePrefix), 0);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(-1, kVar3, kDefaultSavePrefix), 0);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(1, 1100005, kDefaultSavePrefix), 0);
    EXPECT_EQ(TheSaveManager.ReadSavedString(-1, 3000001, kDefaultSavePrefix),
              "ERROR -1番目以下のデータを読みに行っています");
    EXPECT_TRUE(ReportFirsts().empty());
    // The cached slot answers without the file.
    std::filesystem::remove(SlotFile(1));
    EXPECT_TRUE(TheSaveManager.Load(1, false, false, kDefaultSavePrefix));
}

TEST_F(SaveTest, AMissingFileIsOpenedOnce) {
    EXPECT_FALSE(TheSaveManager.Load(7, false, false, kDefaultSavePrefix));
    FillLiveGame();
    const auto bytes = EncodeSaveFile(*std::make_unique<Game_SaveData>(LiveSnapshot()), {1, 2, 3});
    WriteBytes(SlotFile(7), bytes);
    EXPECT_FALSE(TheSaveManager.Load(7, false, false, kDefaultSavePrefix));
    TheSaveManager = Game_SaveManager();
    EXPECT_TRUE(TheSaveManager.Load(7, false, false, kDefaultSavePrefix));
}

TEST_F(SaveTest, SeedsZeroReadPlainWithoutTheCheckByte) {
    FillLiveGame();
    Game_SaveData data = LiveSnapshot();
    auto bytes = EncodeSaveFile(data, {0, 0, 0});
    bytes[2] = 0x5A;
    WriteBytes(SlotFile(2), bytes);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(2, kVar3, kDefaultSavePrefix), 77);
    // The body is stored plain: the title follows the opening byte as it is.
    EXPECT_EQ(bytes[20], 0x19);
    EXPECT_EQ(std::string(bytes.begin() + 23, bytes.begin() + 32), "Test Game");
}

TEST_F(SaveTest, DamagedAndForeignSavesAreRenamedAndReadFresh) {
    FillLiveGame();
    Game_SaveData data = LiveSnapshot();
    const auto good = EncodeSaveFile(data, {0, 0, 0});
    const std::size_t formatAt = 20 + 1 + 2 + std::string("Test Game").size() + 1;
    auto cut = good;
    cut.resize(good.size() / 2);
    auto badOpening = good;
    badOpening[20] = 0x18;
    auto format141 = good;
    format141[formatAt] = 141;
    TheBasicData.settingTexts[0] = "Other Game";
    const auto foreign = EncodeSaveFile(data, {0, 0, 0});
    TheBasicData.settingTexts[0] = "Test Game";

    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* suffix;
        std::size_t reports;
    } cases[] = {
        {"cut body", cut, ".broken", 1},
        {"opening byte", badOpening, ".broken", 1},
        {"format 141", format141, ".anotherGame", 1},
        {"other title", foreign, ".anotherGame", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        StartCase();
        std::filesystem::create_directories(dir / "BasicData");
        GiveNormalVariables();
        shell_test::ReportCapture::reports().clear();
        TheSaveManager = Game_SaveManager();
        WriteBytes(SlotFile(3), c.bytes);
        WriteBytes(SlotFile(3) + c.suffix, {1});  // the first name is taken
        EXPECT_EQ(TheSaveManager.ReadSavedNumber(3, kVar3, kDefaultSavePrefix), 0);
        EXPECT_FALSE(std::filesystem::exists(SlotFile(3)));
        EXPECT_EQ(ReadBytes(SlotFile(3) + c.suffix + "x"), c.bytes);
        EXPECT_EQ(ReportFirsts().size(), c.reports);
        const Game_SaveData& entry = *TheSaveManager.cache.at(SlotFile(3));
        EXPECT_EQ(entry.systemState.savedFlag, 0);
        EXPECT_EQ(TheSaveManager.loaded[SlotFile(3)], 0);
    }
}

TEST_F(SaveTest, AWrongCheckByteEndsTheProgramAfterTheRename) {
    FillLiveGame();
    Game_SaveData data = LiveSnapshot();
    auto bytes = EncodeSaveFile(data, {3, 5, 7});
    bytes[2] ^= 0x40;
    WriteBytes(SlotFile(4), bytes);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(4, kVar3, kDefaultSavePrefix), 0);
    EXPECT_EQ(DataRecorder::exitCodes, std::vector<int>{1});
    EXPECT_TRUE(std::filesystem::exists(SlotFile(4) + ".broken"));
}

TEST_F(SaveTest, AValueWrittenIntoAMissingSaveWaitsForTheFlush) {
    TheSaveManager.WriteSavedNumber(6, kVar3, 9, kDefaultSavePrefix);
    ASSERT_TRUE(std::filesystem::exists(SlotFile(6)));
    EXPECT_EQ(std::filesystem::file_size(SlotFile(6)), 0u);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(6, kVar3, kDefaultSavePrefix), 9);
    TheSaveManager.WriteSavedNumber(6, 1600001, 5, kDefaultSavePrefix);  // never written
    EXPECT_TRUE(FlushDirtySaves());
    EXPECT_TRUE(TheSaveManager.dirty.empty());
    EXPECT_GT(std::filesystem::file_size(SlotFile(6)), 20u);
    TheSaveManager = Game_SaveManager();
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(6, kVar3, kDefaultSavePrefix), 9);
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(6, kSavedFlag, kDefaultSavePrefix), 1);
}

TEST_F(SaveTest, AFailedFlushKeepsTheFileDirtyAndLogsOnce) {
    TheSaveManager.WriteSavedNumber(6, kVar3, 9, kDefaultSavePrefix);
    GetSaveFileServices().open = [](const char*, const char*) -> std::FILE* { return nullptr; };
    FlushDirtySaves();
    FlushDirtySaves();
    EXPECT_EQ(TheSaveManager.dirty[SlotFile(6)], 1);
    const auto log = ReadBytes(dir / "Game_ErrorLog.txt");
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find(SlotFile(6)), std::string::npos);
    EXPECT_EQ(text.find(SlotFile(6)), text.rfind(SlotFile(6)));  // once
    EXPECT_TRUE(ReportFirsts().empty());                         // no box
    ResetSaveFileServices();
    FlushDirtySaves();
    EXPECT_TRUE(TheSaveManager.dirty.empty());
    TheSaveManager = Game_SaveManager();
    EXPECT_EQ(TheSaveManager.ReadSavedNumber(6, kVar3, kDefaultSavePrefix), 9);
}

TEST_F(SaveTest, FailedWritesKeepThePreviousSave) {
    FillLiveGame();
    ASSERT_TRUE(TheSaveManager.Save(1, 0, kDefaultSavePrefix));
    const auto before = ReadBytes(SlotFile(1));
    TheVariables.SetValue(kVar3, 78);
    const struct {
        const char* what;
        void (*inject)(SaveFileServices&);
        const char* message;
    } cases[] = {
        {"full disk",
         [](SaveFileServices& s) {
             s.freeSpace = [](const std::string&) -> std::int64_t { return 100; };
         },
         "セーブ処理エラー：ハードディスク容量が足りませんでした"},
        {"cannot create",
         [](SaveFileServices& s) {
             s.open = [](const char*, const char*) -> std::FILE* { return nullptr; };
         },
         "エラー：セーブデータが保存できませんでした、ファイルのアクセス権限を確認してください"},
        {"short write",
         [](SaveFileServices& s) {
             s.write = [](const void*, std::size_t, std::size_t count, std::FILE*) -> std::size_t {
                 return count / 2;
             };
         },
         "エラー：セーブデータが保存できませんでした、ファイルのアクセス権限を確認してください"},
        {"close fails",
         [](SaveFileServices& s) {
             s.close = [](std::FILE* f) {
                 std::fclose(f);
                 return -1;
             };
         },
         "エラー：セーブデータが保存できませんでした、ファイルのアクセス権限を確認してください"},
        {"rename fails",
         [](SaveFileServices& s) { s.replace = [](const char*, const char*) { return -1; }; },
         "エラー：セーブデータが保存できませんでした、ファイルのアクセス権限を確認してください"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        shell_test::ReportCapture::reports().clear();
        ResetSaveFileServices();
        c.inject(GetSaveFileServices());
        EXPECT_FALSE(TheSaveManager.Save(1, 0, kDefaultSavePrefix));
        EXPECT_EQ(ReadBytes(SlotFile(1)), before);
        EXPECT_EQ(ReportFirsts(), std::vector<std::string>{c.message});
        for (const auto& file : std::filesystem::directory_iterator(dir / "Save"))
            EXPECT_EQ(file.path().extension(), ".sav") << file.path();
    }
}

TEST_F(SaveTest, ASnapshotWrittenAndReadBackIsEqual) {
    FillLiveGame();
    TheInputReplay.RecordFrame(1, 0, 0, 0, 0, 0, 0, 0);
    Game_SaveData written = LiveSnapshot();
    written.inputReplay = TheInputReplay;
    EXPECT_EQ(written.systemState.savedFlag, 0);
    const auto body = Body(written);
    EXPECT_EQ(written.systemState.savedFlag, 1);
    // The replay part is the byte 0 before the closing byte, whatever the recorder holds.
    EXPECT_EQ(body[body.size() - 2], 0);
    EXPECT_EQ(body.back(), 0x19);

    auto read = std::make_unique<Game_SaveData>();
    SaveFileInfo info;
    std::vector<std::uint8_t> file(20, 0);
    file[6] = 'U';
    file.insert(file.end(), body.begin(), body.end());
    ASSERT_TRUE(DecodeSaveFile(file, *read, info));
    EXPECT_EQ(info.title, "Test Game");
    EXPECT_EQ(info.format, 140);
    EXPECT_EQ(read->systemState.savedFlag, 1);
    EXPECT_EQ(read->variables.systemState, &read->systemState);
    const auto again = Body(*read);
    const auto split = std::mismatch(again.begin(), again.end(), body.begin(), body.end());
    EXPECT_EQ(split.first - again.begin(), static_cast<std::ptrdiff_t>(body.size()));
    EXPECT_EQ(again.size(), body.size());
    EXPECT_EQ(read->variables.GetValue(kVar3, &read->variableDatabase), 77);
    EXPECT_EQ(read->playerPart.player.footsteps, (std::vector<std::int32_t>{2, 4, 6}));
    EXPECT_EQ(read->playerPart.player.followers[4].y, 33);
    EXPECT_EQ(read->mapState.events[1].x, 9);
    EXPECT_EQ(read->variableDatabase.types, written.variableDatabase.types);
    EXPECT_EQ(read->systemState.effectSets, TheSystemState.effectSets);
}

TEST_F(SaveTest, ALiveLoadReplacesTheGame) {
    FillLiveGame();
    ASSERT_TRUE(TheSaveManager.Save(2, 0, kDefaultSavePrefix));
    TheVariables.SetValue(kVar3, 5);
    TheVariableDatabase.types[0].entries[0].strings[0] = "later";
    player_->x = 0;
    TheMapState.events.clear();
    ASSERT_TRUE(TheSaveManager.Load(2, true, false, kDefaultSavePrefix));
    EXPECT_EQ(TheVariables.GetValue(kVar3), 77);
    EXPECT_EQ(TheVariables.systemState, &TheSystemState);
    EXPECT_EQ(TheVariableDatabase.types[0].entries[0].strings[0], "changed");
    EXPECT_EQ(player_->x, 12);
    EXPECT_EQ(TheMapState.events.size(), 2u);
    EXPECT_EQ(TheSystemState.lastSlot, 2);
    EXPECT_EQ(TheGameSystem.sceneReloadRequested, 1);
    EXPECT_EQ(TheGameSystem.titleInfoMode, -10);
    EXPECT_TRUE(TheSaveManager.cache.empty());
}

TEST_F(SaveTest, DamagedSavesLeaveTheLiveGameAsItWas) {
    FillLiveGame();
    Game_SaveData data = LiveSnapshot();
    const auto good = EncodeSaveFile(data, {2, 4, 6});
    TheVariables.SetValue(kVar3, 5);
    const auto beforeBody = Body(*std::make_unique<Game_SaveData>(LiveSnapshot()));
    auto check = [&](const std::vector<std::uint8_t>& bytes) {
        TheSaveManager = Game_SaveManager();
        TheGameSystem.sceneReloadRequested = 0;
        TheGameSystem.gameState = GameState::Run;
        WriteBytes(SlotFile(9), bytes);
        std::filesystem::remove(SlotFile(9) + ".broken");
        EXPECT_FALSE(TheSaveManager.Load(9, true, false, kDefaultSavePrefix));
        EXPECT_EQ(TheGameSystem.sceneReloadRequested, 0);
        return Body(*std::make_unique<Game_SaveData>(LiveSnapshot())) == beforeBody;
    };
    std::size_t changed = 0;
    for (std::size_t length = 0; length < good.size(); ++length) {
        auto cut = good;
        cut.resize(length);
        if (!check(cut)) ++changed;
    }
    for (std::size_t at = 20; at < good.size(); at += 13) {
        auto flipped = good;
        flipped[at] ^= 0x21;
        if (!check(flipped)) ++changed;
    }
    auto sum = good;
    sum[2] ^= 1;
    if (!check(sum)) ++changed;
    EXPECT_EQ(changed, 0u);
}

TEST_F(SaveTest, OnlyATestPlayLiveLoadReadsTheCommonEventsAgain) {
    FillLiveGame();
    ASSERT_TRUE(TheSaveManager.Save(2, 0, kDefaultSavePrefix));
    static int reloads = 0;
    reloads = 0;
    GetSnapshotLiveServices().reloadCommonEvents = [] { ++reloads; };
    ASSERT_TRUE(TheSaveManager.Load(2, true, false, kDefaultSavePrefix));
    EXPECT_EQ(reloads, 0);
    TestPlay = true;
    ASSERT_TRUE(TheSaveManager.Save(2, 0, kDefaultSavePrefix));
    ASSERT_TRUE(TheSaveManager.Load(2, true, false, kDefaultSavePrefix));
    EXPECT_EQ(reloads, 1);
}

TEST_F(SaveTest, ARenameThatFailsForAnotherReasonIsReported) {
    // The target's folder does not exist: no longer name would help.
    WriteBytes(SlotFile(3), {1, 2, 3});
    EXPECT_EQ(RenameSaveFile(SlotFile(3), "/missing/name"), "");
    EXPECT_EQ(ReportFirsts().size(), 1u);
    EXPECT_EQ(ReadBytes(SlotFile(3)), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_FALSE(std::filesystem::exists(SlotFile(3) + "/missing/namex"));
}

TEST_F(SaveTest, AReplayStartRestartsWithTheSavesRecorder) {
    FillLiveGame();
    ASSERT_TRUE(TheSaveManager.Save(2, 0, kDefaultSavePrefix));
    TheVariables.SetValue(kVar3, 5);
    ASSERT_TRUE(TheSaveManager.Load(2, false, true, kDefaultSavePrefix));
    EXPECT_EQ(TheGameSystem.gameState, GameState::Restart);
    EXPECT_EQ(ReplayPlaying, 1);
    EXPECT_EQ(TheVariables.GetValue(kVar3), 5);  // the restart, not the load, replaces the game
    // While a replay plays, saves are not written.
    std::filesystem::remove(SlotFile(2));
    EXPECT_TRUE(TheSaveManager.Save(2, 0, kDefaultSavePrefix));
    EXPECT_FALSE(std::filesystem::exists(SlotFile(2)));
}
