// The sound command's argument decoding (operation, kind, id sources, fade, start, tag, file
// playing) as it reaches the sound manager, and the speech command's report.
#include <gtest/gtest.h>

#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/SoundCommands.h"
#include "tests/runtime/shell/SoundTestSupport.h"

namespace sound_test {
namespace {

using Lib = FakeLibrary;

class SoundCommandTest : public SoundTest {
  protected:
    void SetUp() override {
        SoundTest::SetUp();
        TheSoundManager = Game_SoundManager();
        TheSoundManager.PrepareLists();
    }
    void TearDown() override {
        TheSoundManager = Game_SoundManager();
        SoundTest::TearDown();
    }

    static std::int32_t Bits(std::int32_t operation, SoundKind kind, std::int32_t id,
                             std::int32_t source) {
        return operation | static_cast<std::int32_t>(kind) << 4 | (id & 0xFFFF) << 8 | source << 24;
    }
    // Runs one sound command: numerics from 1 on, and string 0.
    void Run(std::vector<std::int32_t> numerics, const std::string& name = "") {
        Game_EventCommand command;
        command.arguments = {kSoundCommandCode};
        command.arguments.insert(command.arguments.end(), numerics.begin(), numerics.end());
        if (!name.empty()) command.strings = {name};
        Game_Interpreter interpreter;
        interpreter.currentCommand = &command;
        EXPECT_TRUE(CommandSound(interpreter));
    }
    Game_SoundManager& sm() { return TheSoundManager; }
};

TEST_F(SoundCommandTest, IdInTheCommandIsSixteenBitsUnsigned) {
    GameIniSettings.SEandBGM = 1;  // music off: the manager only records the id it was given
    Run({Bits(0, SoundKind::Bgm, 65535, 0), 0});
    EXPECT_EQ(TheSystemState.currentBgm, 65535);

    GameIniSettings.SEandBGM = 3;
    TheSystemState.currentBgm = -1;
    SetEntry(SoundKind::Bgm, 3, "m.ogg");
    Run({Bits(0, SoundKind::Bgm, 3, 0), 0});
    EXPECT_EQ(TheSystemState.currentBgm, 3);
    // 65535 reaches the manager, which takes it as a stop.
    Run({Bits(0, SoundKind::Bgm, 65535, 0), 0});
    EXPECT_EQ(TheSystemState.currentBgm, -1);
}

TEST_F(SoundCommandTest, IdSourcesOfValueAndOthers) {
    SetEntry(SoundKind::Bgs, 2, "rain.ogg");
    Run({Bits(0, SoundKind::Bgs, 0, 1), 0, 2});
    EXPECT_EQ(TheSystemState.currentBgs, 2);
    const std::int32_t h = sm().currentBgsHandle;
    // A release of -1 ends the command; a play of -1 stops.
    Run({Bits(2, SoundKind::Bgs, 0, 1), 0, -1});
    EXPECT_EQ(TheSystemState.currentBgs, 2);
    Run({Bits(0, SoundKind::Bgs, 0, 1), 0, -1});
    EXPECT_EQ(TheSystemState.currentBgs, -1);
    EXPECT_FALSE(Lib::Alive(h));

    // Sources above 2 act on -1.
    Run({Bits(0, SoundKind::Bgs, 2, 0), 0});
    ASSERT_EQ(TheSystemState.currentBgs, 2);
    Run({Bits(0, SoundKind::Bgs, 2, 5), 0});
    EXPECT_EQ(TheSystemState.currentBgs, -1);
}

TEST_F(SoundCommandTest, FileSourcePassesVolumeTempoLoopAndStart) {
    WriteSound("theme.ogg");
    // numeric 2 fade, 3 unused, 4 start, 5 volume, 6 tempo, 7 loop point.
    Run({Bits(0, SoundKind::Bgm, 0, 2), 0, 0, 2000, 0, 0, 1500}, "theme.ogg");
    const std::int32_t slot = kListCount;
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 1), 100);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 2), 100);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 3), 1500);
    EXPECT_EQ(TheSystemState.currentBgm, slot);
    const FakeSound& s = Lib::Of(sm().currentBgmHandle);
    EXPECT_EQ(s.position, 2000);
    EXPECT_EQ(s.loopPositionMs, 1500);
    EXPECT_TRUE(s.playing);

    // "INITIALIZE" resets the manager and plays nothing.
    Run({Bits(0, SoundKind::Bgm, 0, 2), 0}, "INITIALIZE");
    EXPECT_EQ(TheSystemState.currentBgm, -1);
    EXPECT_EQ(sm().currentBgmHandle, 0);
    EXPECT_EQ(TheGameSystem.addedSoundEntries[0], 1);
}

TEST_F(SoundCommandTest, EffectTagNeedsEightNumerics) {
    SetEntry(SoundKind::Se, 1, "hit.wav");
    Run({Bits(0, SoundKind::Se, 1, 0), 0, 0, 0, 0, 0});
    Run({Bits(0, SoundKind::Se, 1, 0), 0, 0, 0, 0, 0, 4});
    ASSERT_EQ(sm().scheduledSeTags, (std::vector<std::int32_t>{0, 4}));
    EXPECT_EQ(sm().scheduledSeHandles[0], sm().soundsById[2][1]);
    EXPECT_NE(sm().scheduledSeHandles[1], sm().soundsById[2][1]);
    // A stop of tag 4 after a delay of 3.
    Run({Bits(0, SoundKind::Se, 0, 3), 3, 0, 0, 0, 0, 4});
    EXPECT_EQ(sm().scheduledSeHandles.back(), -1);
    EXPECT_EQ(sm().scheduledSeDelays.back(), 3);
    EXPECT_EQ(sm().scheduledSeTags.back(), 4);
}

TEST_F(SoundCommandTest, LoadReleaseAndFree) {
    SetEntry(SoundKind::Se, 0, "a.wav");
    SetEntry(SoundKind::Se, 1, "b.wav");
    Run({Bits(1, SoundKind::Se, 0, 0), 0});
    Run({Bits(1, SoundKind::Se, 1, 0), 0});
    EXPECT_EQ(sm().CountLoadedSounds(), 2);
    Run({Bits(2, SoundKind::Se, 0, 0), 0});
    EXPECT_EQ(sm().CountLoadedSounds(), 1);
    Run({Bits(3, SoundKind::Bgm, 0, 0), 0});
    EXPECT_EQ(sm().CountLoadedSounds(), 0);
    // An unknown kind or operation does nothing.
    Run({Bits(1, static_cast<SoundKind>(5), 0, 0), 0});
    Run({Bits(9, SoundKind::Se, 0, 0), 0});
    EXPECT_EQ(sm().CountLoadedSounds(), 0);
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SoundCommandTest, SpeechOnlyReports) {
    Game_EventCommand command;
    command.arguments = {kSpeechSynthesisCommandCode};
    Game_Interpreter interpreter;
    interpreter.currentCommand = &command;
    EXPECT_TRUE(CommandSpeechSynthesis(interpreter));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first,
              "【合成音声】＜エラー＞ VELK RPGエディターVer2.00より、合成音声機能は使用できなく"
              "なりました。");
    EXPECT_EQ(Reports()[0].second, "この処理は実行されません。");
    EXPECT_EQ(Reports()[0].third, GetScriptLocationText());
}

TEST_F(SoundCommandTest, InstallPlugsBothCodes) {
    const CommandHandler sound = GetCommandHandler(kSoundCommandCode);
    const CommandHandler speech = GetCommandHandler(kSpeechSynthesisCommandCode);
    InstallSoundCommands();
    EXPECT_EQ(GetCommandHandler(kSoundCommandCode), &CommandSound);
    EXPECT_EQ(GetCommandHandler(kSpeechSynthesisCommandCode), &CommandSpeechSynthesis);
    SetCommandHandler(kSoundCommandCode, sound);
    SetCommandHandler(kSpeechSynthesisCommandCode, speech);
}

}  // namespace
}  // namespace sound_test

namespace sound_test {
namespace {

TEST_F(SoundCommandTest, RestartStopsEverythingAndPreparesANewManager) {
    SetEntry(SoundKind::Bgm, 0, "m.ogg");
    SetEntry(SoundKind::Se, 0, "e.wav");
    Run({Bits(0, SoundKind::Bgm, 0, 0), 30});
    Run({Bits(0, SoundKind::Se, 0, 0), 0});
    ASSERT_TRUE(sm().listsPrepared);
    RestartSoundManager();
    EXPECT_EQ(TheSystemState.currentBgm, -1);
    EXPECT_FALSE(sm().listsPrepared);
    EXPECT_EQ(sm().bgmFadeLeft, -1);
    EXPECT_TRUE(sm().scheduledSeHandles.empty());
    EXPECT_EQ(sm().bgmMidiState.size(), static_cast<std::size_t>(kListCount + 10 + 20));
    for (const auto& [h, s] : FakeLibrary::sounds) EXPECT_TRUE(s.deleted) << h;
}

TEST(SoundListCountTest, SpareEntriesAreNotCounted) {
    Game_Database saved = TheSystemDatabase;
    Game_System system{Game_System::QuietConstruction{}};
    system.addedSoundEntries = {3, 4, 5};
    TheSystemDatabase = Game_Database();
    TheSystemDatabase.SetTypeCount(4);
    TheSystemDatabase.types[1].entries.resize(22);
    TheSystemDatabase.types[2].entries.resize(10);
    TheSystemDatabase.types[3].entries.resize(9);
    RecordSoundListCounts(system);
    EXPECT_EQ(system.soundListCounts, (std::array<std::int32_t, 3>{12, 0, 0}));
    EXPECT_EQ(system.addedSoundEntries, (std::array<std::int32_t, 3>{0, 0, 0}));
    TheSystemDatabase = saved;
}

}  // namespace
}  // namespace sound_test
