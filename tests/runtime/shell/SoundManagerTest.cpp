// The sound manager over a recording stand-in of the library: loading by id and by file name,
// loop tags, play and cross-fades, the sound-effect schedule, freeing and releasing, and play by
// file name through the spare slots.
#include <gtest/gtest.h>

#include <climits>

#include "tests/runtime/shell/SoundTestSupport.h"

namespace sound_test {
namespace {

using Lib = FakeLibrary;

TEST_F(SoundTest, VolumePercentBecomesLevelByTheGameDataScale) {
    struct Case {
        std::int16_t version;
        std::int32_t volume;
        int level;
    };
    const Case cases[] = {{250, 100, 250}, {250, 50, 125}, {210, 100, 100}, {211, 50, 125}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.version << " " << c.volume);
        SetGameDataVersion(c.version);
        SetEntry(SoundKind::Bgm, 1, "a.ogg", c.volume);
        m().Play(SoundKind::Bgm, 1, 0, 0, 0);
        Frames(2);
        EXPECT_EQ(Lib::Of(Handle(SoundKind::Bgm, 1)).level, c.level);
        m().Play(SoundKind::Bgm, -1, 0, 0, 0);
        Frames(2);
    }
}

TEST_F(SoundTest, OnePercentAtHalfMasterKeepsTheBgsButNotTheBgm) {
    TheSystemState.bgmVolumeCorrection = TheSystemState.bgsVolumeCorrection = 50;
    SetEntry(SoundKind::Bgm, 0, "m.ogg", 1);
    SetEntry(SoundKind::Bgs, 0, "s.ogg", 1);
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    m().Play(SoundKind::Bgs, 0, 0, 0, 0);
    EXPECT_EQ(m().bgmVolume, 0);
    EXPECT_EQ(m().bgsVolume, 1);
}

TEST(MidiVolumeCurveTest, CurrentAndOldGameData) {
    Game_BasicData saved = TheBasicData;
    if (TheBasicData.settingNumbers.size() < 16) TheBasicData.settingNumbers.resize(16);
    struct Case {
        std::int16_t version;
        std::int32_t x;
        std::int32_t sent;
    };
    // 100 % sends trunc((100 - 110) x 1.27) = -12.
    const Case cases[] = {{250, -139, -125}, {210, -139, -69}, {250, -12, -12}, {250, -110, -110},
                          {250, -127, -119}, {210, 5, 5},      {210, -12, -6}};
    for (const Case& c : cases) {
        TheBasicData.settingNumbers[15] = c.version;
        EXPECT_EQ(MidiVolumeCurve(c.x), c.sent) << c.version << " " << c.x;
    }
    TheBasicData = saved;
}

TEST_F(SoundTest, FadeRunsFadePlusOneSixtiethsLinearly) {
    SetEntry(SoundKind::Bgm, 0, "old.ogg");
    SetEntry(SoundKind::Bgm, 1, "new.ogg");
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    Frames(2);
    const std::int32_t oldSound = Handle(SoundKind::Bgm, 0);
    m().Play(SoundKind::Bgm, 1, 9, 0, 0);
    const std::int32_t newSound = Handle(SoundKind::Bgm, 1);
    EXPECT_EQ(Lib::Of(newSound).level, 0);
    std::vector<int> rising, falling;
    for (int i = 0; i < 10; ++i) {
        m().Update();
        rising.push_back(Lib::Of(newSound).level);
        falling.push_back(Lib::Of(oldSound).level);
    }
    EXPECT_EQ(rising, (std::vector<int>{0, 25, 50, 75, 100, 125, 150, 175, 200, 225}));
    EXPECT_EQ(falling, (std::vector<int>{250, 225, 200, 175, 150, 125, 100, 75, 50, 25}));
    EXPECT_TRUE(Lib::Alive(oldSound));
    m().Update();  // the tenth sixtieth: full, and the old sound is gone
    EXPECT_EQ(Lib::Of(newSound).level, 250);
    EXPECT_FALSE(Lib::Alive(oldSound));
    EXPECT_EQ(Handle(SoundKind::Bgm, 0), 0);
    EXPECT_EQ(m().bgmFadeLeft, -1);

    // At 30 frames a second each frame stands for two sixtieths.
    FrameMultiplier = 2;
    m().Play(SoundKind::Bgm, 0, 9, 0, 0);
    const std::int32_t again = Handle(SoundKind::Bgm, 0);
    int frames = 0;
    while (Lib::Of(again).level != 250 && frames < 20) {
        m().Update();
        ++frames;
    }
    EXPECT_EQ(frames, 6);
}

TEST_F(SoundTest, SameBgmAgainOnlyTakesTheVolumeOrRestartsAtTheStart) {
    SetEntry(SoundKind::Bgm, 2, "loop.ogg", 80);
    m().Play(SoundKind::Bgm, 2, 0, 0, 0);
    Frames(2);
    const std::int32_t h = Handle(SoundKind::Bgm, 2);
    Lib::Of(h).position = 1234;
    TheSystemDatabase.WriteNumber(1, 2, 1, 40);
    m().Play(SoundKind::Bgm, 2, 30, 0, 0);
    EXPECT_EQ(TheGameSystem.bgmDatabaseVolume, 40);
    EXPECT_EQ(m().bgmVolume, 80);
    EXPECT_EQ(m().bgmFadeLeft, -1);
    EXPECT_EQ(Lib::Of(h).position, 1234);
    EXPECT_EQ(Lib::Starts(h), 1);

    m().Play(SoundKind::Bgm, 2, 0, 5000, 0);
    EXPECT_EQ(Lib::Of(h).position, 5000);
    EXPECT_EQ(Lib::calls.back(), "start " + std::to_string(h) + " 3 0");
    EXPECT_TRUE(Lib::Of(h).playing);
}

TEST_F(SoundTest, StopWithoutFadeDeletesAListSoundAtOnceAndAFileSoundAtTheFadeEnd) {
    SetEntry(SoundKind::Bgm, 0, "list.ogg");
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    const std::int32_t h = Handle(SoundKind::Bgm, 0);
    m().Play(SoundKind::Bgm, -1, 0, 0, 0);
    EXPECT_FALSE(Lib::Alive(h));
    EXPECT_EQ(Handle(SoundKind::Bgm, 0), 0);
    EXPECT_EQ(TheSystemState.currentBgm, -1);

    WriteSound("file.ogg");
    const std::int32_t slot = m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "file.ogg");
    m().Play(SoundKind::Bgm, slot, 0, 0, 0);
    const std::int32_t f = Handle(SoundKind::Bgm, slot);
    ASSERT_NE(f, 0);
    m().Play(SoundKind::Bgm, -1, 0, 0, 0);
    EXPECT_TRUE(Lib::Alive(f));
    EXPECT_EQ(Handle(SoundKind::Bgm, slot), 0);
    Frames(2);
    EXPECT_FALSE(Lib::Alive(f));
    EXPECT_TRUE(Game_SoundManager::musicFileSounds.empty());
}

TEST_F(SoundTest, EffectsWaitTheirDelayAndStopByTag) {
    SetEntry(SoundKind::Se, 0, "hit.wav", 50, 200, 9);
    SetEntry(SoundKind::Se, 1, "bell.wav");
    m().Play(SoundKind::Se, 0, 2, 0, 7);
    m().Play(SoundKind::Se, 1, 0, 0, 3);
    m().Play(SoundKind::Se, 1, 0, 0, 0);
    ASSERT_EQ(m().scheduledSeHandles.size(), 3u);
    const std::int32_t tagged7 = m().scheduledSeHandles[0];
    const std::int32_t tagged3 = m().scheduledSeHandles[1];
    const std::int32_t plain = m().scheduledSeHandles[2];
    EXPECT_EQ(Lib::Of(tagged7).clonedFrom, Handle(SoundKind::Se, 0));
    EXPECT_EQ(plain, Handle(SoundKind::Se, 1));
    EXPECT_EQ(m().scheduledSeValues[0], 9);
    EXPECT_EQ(Lib::Of(tagged7).level, 125);
    EXPECT_EQ(Lib::Of(tagged7).frequency, 44100);
    EXPECT_EQ(Lib::Of(plain).frequency, -1);
    EXPECT_EQ(Lib::Of(Handle(SoundKind::Se, 0)).loadMode, 0);
    EXPECT_EQ(Lib::Of(Handle(SoundKind::Se, 0)).ignoreLoopInfo, 1);

    m().Update();
    EXPECT_FALSE(Lib::Of(tagged7).playing);
    EXPECT_TRUE(Lib::Of(tagged3).playing);
    Frames(2);
    EXPECT_TRUE(Lib::Of(tagged7).playing);

    // A stop of tag 7 after 30 sixtieths leaves the others.
    m().Play(SoundKind::Se, -1, 30, 0, 7);
    Frames(30);
    EXPECT_TRUE(Lib::Of(tagged7).playing);
    m().Update();
    EXPECT_FALSE(Lib::Alive(tagged7));
    EXPECT_TRUE(Lib::Of(tagged3).playing);
    EXPECT_TRUE(Lib::Of(plain).playing);
    EXPECT_EQ(m().scheduledSeHandles.size(), 2u);

    // -1 with no delay stops everything at once.
    m().Play(SoundKind::Se, -1, 0, 0, -1);
    EXPECT_TRUE(m().scheduledSeHandles.empty());
    EXPECT_FALSE(Lib::Alive(tagged3));
    EXPECT_FALSE(Lib::Of(plain).playing);
}

TEST_F(SoundTest, FinishedEffectsLeaveTheScheduleAndTheirSound) {
    SetEntry(SoundKind::Se, 0, "hit.wav");
    m().Play(SoundKind::Se, 0, 0, 0, 0);
    m().Play(SoundKind::Se, 0, 0, 0, 5);
    Frames(2);
    const std::int32_t listSound = m().scheduledSeHandles[0];
    const std::int32_t copy = m().scheduledSeHandles[1];
    Lib::Of(listSound).playing = Lib::Of(copy).playing = false;
    m().Update();
    EXPECT_TRUE(m().scheduledSeHandles.empty());
    EXPECT_FALSE(Lib::Alive(listSound));
    EXPECT_FALSE(Lib::Alive(copy));
    EXPECT_EQ(Handle(SoundKind::Se, 0), 0);
}

TEST_F(SoundTest, SettingOffOnlyRecordsTheMusicRequest) {
    GameIniSettings.SEandBGM = 1;
    SetEntry(SoundKind::Bgm, 4, "m.ogg");
    m().Play(SoundKind::Bgm, 4, 0, 0, 0);
    EXPECT_EQ(TheSystemState.currentBgm, 4);
    EXPECT_TRUE(Lib::sounds.empty());
    EXPECT_FALSE(m().listsPrepared);
    GameIniSettings.SEandBGM = 2;
    SetEntry(SoundKind::Se, 0, "s.wav");
    m().Play(SoundKind::Se, 0, 0, 0, 0);
    EXPECT_TRUE(m().scheduledSeHandles.empty());
    EXPECT_TRUE(Lib::sounds.empty());
}

TEST_F(SoundTest, MidiNamesAndRefusedKinds) {
    SetEntry(SoundKind::Bgm, 0, "a.mid");
    SetEntry(SoundKind::Bgm, 1, "b.MIDI");
    SetEntry(SoundKind::Bgm, 2, "c.mid.ogg");
    SetEntry(SoundKind::Bgm, 3, "gone.mid", 0, 0, 0, false);
    MidiRecord::Install();
    m().LoadMidiFiles();
    EXPECT_EQ(m().bgmMidiState[0], 1);
    EXPECT_EQ(m().bgmMidiState[1], 1);
    EXPECT_EQ(m().bgmMidiState[2], 0);
    EXPECT_EQ(m().bgmMidiState[3], -1);
    EXPECT_EQ(MidiRecord::calls, (std::vector<std::string>{"add 1", "add 2"}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first, "MIDI読み込みエラー");
    EXPECT_EQ(Reports()[0].second, "[初期化]MIDIファイル Type1-3:gone.mid が見つかりません\n");
    EXPECT_FALSE(m().LoadSound(SoundKind::Bgm, 0));
    EXPECT_TRUE(m().LoadSound(SoundKind::Bgm, 2));
    EXPECT_NE(Handle(SoundKind::Bgm, 2), 0);

    // The missing MIDI plays nothing and says nothing more; with no MIDI player nothing plays.
    m().Play(SoundKind::Bgm, 3, 0, 0, 0);
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_FALSE(m().midiPlaying);
    MidiAvailable = 0;
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    EXPECT_EQ(TheSystemState.currentBgm, 0);
    EXPECT_FALSE(m().midiPlaying);
    MidiAvailable = 1;
    m().Play(SoundKind::Bgm, 1, 0, 0, 0);
    EXPECT_TRUE(m().midiPlaying);
    EXPECT_EQ(MidiRecord::calls.back(), "play 2 0 0");
    EXPECT_EQ(MidiRecord::calls[MidiRecord::calls.size() - 2], "volume -127");
    Frames(2);
    EXPECT_EQ(MidiRecord::calls.back(), "volume -12");

    SetEntry(SoundKind::Bgs, 0, "rain.mid");
    SetEntry(SoundKind::Se, 0, "x.MID.wav");
    EXPECT_FALSE(m().LoadSound(SoundKind::Bgs, 0));
    EXPECT_FALSE(m().LoadSound(SoundKind::Se, 0));
    ASSERT_EQ(Reports().size(), 3u);
    EXPECT_EQ(Reports()[1].first, "音声ファイル読み込みエラー  BGSにMIDIが設定されています");
    EXPECT_EQ(Reports()[1].second, "rain.mid");
    EXPECT_EQ(Reports()[2].first, "音声ファイル読み込みエラー　SEにMIDIが設定されています");
}

TEST_F(SoundTest, LoadingReportsMissingEmptyAndDamagedFiles) {
    SetEntry(SoundKind::Bgs, 1, "");
    SetEntry(SoundKind::Bgs, 2, "nowhere.ogg", 0, 0, 0, false);
    SetEntry(SoundKind::Bgm, 3, "broken.ogg", 0, 0, 0, false);
    WriteSound("broken.ogg", "BAD data");
    EXPECT_TRUE(m().LoadSound(SoundKind::Bgs, 7));  // a spare slot: nothing to load
    EXPECT_TRUE(m().LoadSound(SoundKind::Bgs, -1));
    EXPECT_TRUE(Lib::sounds.empty());
    EXPECT_FALSE(m().LoadSound(SoundKind::Bgs, 1));
    EXPECT_FALSE(m().LoadSound(SoundKind::Bgs, 2));
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[0].first, "音声ファイル読み込みエラー");
    EXPECT_EQ(Reports()[0].second,
              "ｼｽﾃﾑDBﾀｲﾌﾟ2-1 のファイル名を読み込もうとしましたが空欄です。"
              "ファイル名を設定してください。");
    EXPECT_EQ(Reports()[1].second, "ｼｽﾃﾑDBﾀｲﾌﾟ2-2:" + DataPath + "nowhere.ogg が見つかりません");

    // An undecodable file is silent when loaded; playing it as BGM says so.
    EXPECT_FALSE(m().LoadSound(SoundKind::Bgm, 3));
    EXPECT_EQ(Reports().size(), 2u);
    WriteSound("broken2.ogg", "BAD");
    const std::int32_t slot = m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "broken2.ogg");
    m().Play(SoundKind::Bgm, slot, 0, 0, 0);
    ASSERT_EQ(Reports().size(), 3u);
    EXPECT_EQ(Reports()[2].first, "サウンドデータを正常に読み込めませんでした");
    EXPECT_EQ(Reports()[2].second, "broken2.ogg");
    EXPECT_EQ(TheSystemState.currentBgm, -1);
    // The same as BGS is silent and leaves no BGS.
    const std::int32_t bgsSlot = m().PlayFile(SoundKind::Bgs, 0, 0, 100, 100, 0, "broken2.ogg");
    m().Play(SoundKind::Bgs, bgsSlot, 0, 0, 0);
    EXPECT_EQ(Reports().size(), 3u);
    EXPECT_EQ(TheSystemState.currentBgs, -1);
}

TEST(LoopTagScanTest, TagsAreReadWithinTheImage) {
    using namespace std::string_literals;
    struct Case {
        std::string image;
        std::int32_t start, length;
    };
    const Case cases[] = {
        {"..LOOPSTART=44100\0LOOPLENGTH=88200\0"s, 44100, 88200},
        {"LOOPLENGTH=500", 0, 500},
        {"LOOPSTART=1 LOOPSTART=2", 2, 0},
        {"LOOPSTART=99999999999999999999", INT32_MAX, 0},
        {"LOOPSTAR", 0, 0},
        {"LOOPSTART=", 0, 0},
        {std::string(995, 'x') + "LOOPSTART=123456", 123456, 0},
        {std::string(1000, 'x') + "LOOPSTART=7", 0, 0},
    };
    for (const Case& c : cases) {
        // An exact-size copy, so that a read past the image is a read past the allocation.
        std::vector<std::uint8_t> image(c.image.begin(), c.image.end());
        const SoundLoopTags tags = ScanLoopTags(image.data(), image.size());
        EXPECT_EQ(tags.loopStart, c.start) << c.image.substr(0, 40);
        EXPECT_EQ(tags.loopLength, c.length) << c.image.substr(0, 40);
    }
}

TEST_F(SoundTest, LoopTagsReachTheMusicWhenTheEntryHasNoLoopPoint) {
    SetEntry(SoundKind::Bgm, 0, "tagged.ogg");
    WriteSound("tagged.ogg", std::string("OggS LOOPSTART=1000\0LOOPLENGTH=500", 34));
    SetEntry(SoundKind::Bgm, 1, "length.ogg");
    WriteSound("length.ogg", "LOOPLENGTH=300");
    SetEntry(SoundKind::Bgm, 2, "fixed.ogg", 0, 150, 2500);
    WriteSound("fixed.ogg", "LOOPSTART=1000");
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    const FakeSound& a = Lib::Of(Handle(SoundKind::Bgm, 0));
    EXPECT_EQ(a.loopPoint, 1000);
    EXPECT_EQ(a.loopStart, 1500);
    EXPECT_EQ(a.loadMode, 2);
    EXPECT_EQ(a.ignoreLoopInfo, 0);
    m().Play(SoundKind::Bgm, 1, 0, 0, 0);
    const FakeSound& b = Lib::Of(Handle(SoundKind::Bgm, 1));
    EXPECT_EQ(b.loopPositionMs, 0);
    EXPECT_EQ(b.loopStart, 300);
    EXPECT_EQ(m().loopPointByHandle.count(Handle(SoundKind::Bgm, 1)), 0u);
    m().Play(SoundKind::Bgm, 2, 0, 0, 0);
    const FakeSound& c = Lib::Of(Handle(SoundKind::Bgm, 2));
    EXPECT_EQ(c.loopPositionMs, 2500);
    EXPECT_EQ(c.loopPoint, -2);
    EXPECT_EQ(c.frequency, 22050 * 150 / 100);
    EXPECT_EQ(m().bgmTempo, 150);
    EXPECT_EQ(TheSystemState.bgmValues, (std::array<std::int32_t, 3>{100, 150, 2500}));
}

TEST_F(SoundTest, FreeingKeepsWhatPlaysAndWhatIsScheduled) {
    for (std::int32_t id = 0; id < 3; ++id) {
        SetEntry(SoundKind::Bgm, id, "m" + std::to_string(id) + ".ogg");
        SetEntry(SoundKind::Bgs, id, "s" + std::to_string(id) + ".ogg");
        SetEntry(SoundKind::Se, id, "e" + std::to_string(id) + ".wav");
        m().LoadSound(SoundKind::Bgm, id);
        m().LoadSound(SoundKind::Bgs, id);
        m().LoadSound(SoundKind::Se, id);
    }
    m().Play(SoundKind::Bgm, 0, 0, 0, 0);
    m().Play(SoundKind::Bgs, 1, 0, 0, 0);
    m().Play(SoundKind::Se, 2, 60, 0, 0);  // scheduled, not yet playing
    EXPECT_EQ(m().CountLoadedSounds(), 9);

    EXPECT_FALSE(m().ReleaseSound(SoundKind::Bgm, 0));
    EXPECT_FALSE(m().ReleaseSound(SoundKind::Bgs, 1));
    EXPECT_FALSE(m().ReleaseSound(SoundKind::Bgm, -1));
    EXPECT_TRUE(m().ReleaseSound(SoundKind::Bgm, 2));
    EXPECT_FALSE(m().ReleaseSound(SoundKind::Bgm, 2));
    EXPECT_EQ(m().CountLoadedSounds(), 8);

    EXPECT_TRUE(m().FreeSounds(false));
    EXPECT_NE(Handle(SoundKind::Bgm, 0), 0);
    EXPECT_NE(Handle(SoundKind::Bgs, 1), 0);
    EXPECT_NE(Handle(SoundKind::Se, 2), 0);
    EXPECT_EQ(m().CountLoadedSounds(), 3);

    EXPECT_TRUE(m().FreeSounds(true));
    EXPECT_EQ(m().CountLoadedSounds(), 0);
    for (const auto& [h, s] : Lib::sounds) EXPECT_TRUE(s.deleted) << h;
}

TEST_F(SoundTest, PlayFileParsesItsTextAndRotatesTheSpareSlots) {
    EXPECT_EQ(m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "a\n50"), -1);
    EXPECT_EQ(m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "\r\n"), -1);
    EXPECT_EQ(m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, ""), -1);
    EXPECT_EQ(TheGameSystem.addedSoundEntries[0], 0);

    WriteSound("song.ogg");
    const std::int32_t slot =
        m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "song.ogg\r\n70\r\n120\r\n3000");
    EXPECT_EQ(slot, kListCount);
    EXPECT_EQ(TheSystemDatabase.ReadString(1, slot, 0), "song.ogg");
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 1), 70);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 2), 120);
    EXPECT_EQ(TheSystemDatabase.ReadNumber(1, slot, 3), 3000);
    EXPECT_EQ(TheGameSystem.playFileVolume, 70);

    std::vector<std::int32_t> slots;
    for (int i = 0; i < 10; ++i) {
        WriteSound("f" + std::to_string(i) + ".ogg");
        slots.push_back(
            m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "f" + std::to_string(i) + ".ogg"));
    }
    // The eleventh file reuses the first spare slot, and the slot before it is emptied.
    EXPECT_EQ(slots[0], kListCount + 1);
    EXPECT_EQ(slots[9], kListCount);
    EXPECT_EQ(TheSystemDatabase.ReadString(1, kListCount + 9, 0), "");
    EXPECT_EQ(TheSystemDatabase.ReadString(1, kListCount, 0), "f9.ogg");

    // An image named as a sound is reported and still tried.
    WriteSound("pic.png");
    m().PlayFile(SoundKind::Se, 0, 0, 100, 100, 0, "pic.png");
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].first, "音声ファイル読み込みエラー　強制終了の可能性があります");
    EXPECT_EQ(Reports()[0].second, "ｻｳﾝﾄﾞ:ﾌｧｲﾙ「Data/pic.png」は画像ファイルの可能性があります");
    m().PlayFile(SoundKind::Se, 0, 0, 100, 100, 0, "absent.wav");
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[1].second, "ｻｳﾝﾄﾞ:ﾌｧｲﾙ「Data/absent.wav」が見つかりません\n");
    EXPECT_EQ(Reports()[1].third, "");
}

TEST_F(SoundTest, InitializeStopsAndResets) {
    WriteSound("m.ogg");
    WriteSound("s.ogg");
    m().Play(SoundKind::Bgm, m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "m.ogg"), 0, 0, 0);
    m().Play(SoundKind::Bgs, m().PlayFile(SoundKind::Bgs, 0, 0, 100, 100, 0, "s.ogg"), 0, 0, 0);
    ASSERT_NE(m().currentBgmHandle, 0);
    EXPECT_EQ(m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "INITIALIZE"), -10);
    EXPECT_EQ(TheSystemState.currentBgm, -1);
    EXPECT_EQ(TheSystemState.currentBgs, -1);
    EXPECT_EQ(m().currentBgmHandle, 0);
    EXPECT_EQ(m().currentBgsHandle, 0);
    EXPECT_FALSE(m().listsPrepared);
    EXPECT_TRUE(Game_SoundManager::musicFileSounds.empty());
    for (const auto& [h, s] : Lib::sounds) EXPECT_FALSE(s.playing && !s.deleted) << h;
}

TEST_F(SoundTest, SameFileAsCurrentMusicGlidesInsteadOfRestarting) {
    WriteSound("theme.ogg");
    const std::int32_t slot = m().PlayFile(SoundKind::Bgm, 0, 0, 100, 100, 0, "theme.ogg");
    m().Play(SoundKind::Bgm, slot, 0, 0, 0);
    Frames(2);
    const std::int32_t h = m().currentBgmHandle;
    Lib::Of(h).position = 777;
    EXPECT_EQ(m().PlayFile(SoundKind::Bgm, 3, 0, 50, 200, 0, "theme.ogg"), -10);
    EXPECT_EQ(m().currentBgmHandle, h);
    EXPECT_EQ(Lib::Of(h).position, 777);
    EXPECT_EQ(Lib::Starts(h), 1);
    EXPECT_EQ(Lib::Of(h).frequency, 44100);
    EXPECT_EQ(m().bgmFadeFromVolume, 100);
    EXPECT_EQ(m().bgmFadeLength, 4);
    std::vector<int> levels;
    for (int i = 0; i < 4; ++i) {
        m().Update();
        levels.push_back(Lib::Of(h).level);
    }
    EXPECT_EQ(levels, (std::vector<int>{250, 217, 187, 155}));
    m().Update();
    EXPECT_EQ(Lib::Of(h).level, 125);
    EXPECT_EQ(TheSystemState.bgmValues[0], 50);
    EXPECT_EQ(TheSystemState.bgmValues[1], 200);
}

TEST_F(SoundTest, ReplacedEffectOfASpareSlotCanStillBeStopped) {
    WriteSound("a.wav");
    WriteSound("b.wav");
    const std::int32_t slot = m().PlayFile(SoundKind::Se, 0, 0, 100, 100, 0, "a.wav");
    m().Play(SoundKind::Se, slot, 0, 0, 0);
    m().Update();
    const std::int32_t first = Handle(SoundKind::Se, slot);
    ASSERT_TRUE(Lib::Of(first).playing);
    m().ClearScheduledSounds();
    for (int i = 0; i < 9; ++i) m().PlayFile(SoundKind::Se, 0, 0, 100, 100, 0, "b.wav");
    EXPECT_TRUE(m().replacedPlayingSeHandles.empty());
    // The tenth comes round to the playing effect's slot.
    EXPECT_EQ(m().PlayFile(SoundKind::Se, 0, 0, 100, 100, 0, "b.wav"), slot);
    EXPECT_EQ(m().replacedPlayingSeHandles, (std::vector<std::int32_t>{first}));
    m().StopSoundEffects(0);
    EXPECT_FALSE(Lib::Of(first).playing);
    EXPECT_TRUE(m().replacedPlayingSeHandles.empty());
}

}  // namespace
}  // namespace sound_test
