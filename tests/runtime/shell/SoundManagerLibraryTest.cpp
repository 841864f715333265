// The sound manager over the real game library under the dummy audio driver: a WAVE file played by
// name becomes a playing Sound handle with the tempo's frequency and the fade's level.
#include <gtest/gtest.h>

#include <cstring>

#include "Main/DuZuder.h"
#include "tests/runtime/shell/SoundTestSupport.h"

namespace sound_test {
namespace {

// A mono 16-bit WAVE of `frames` silent samples with a comment chunk that carries loop tags.
std::string WaveWithLoopTags(std::uint32_t rate, std::uint32_t frames, const std::string& tags) {
    auto u32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    std::string note = tags;
    if (note.size() % 2) note += '\0';
    const std::string fmt =
        "fmt " + u32(16) + u16(1) + u16(1) + u32(rate) + u32(rate * 2) + u16(2) + u16(16);
    const std::string text = "note" + u32(static_cast<std::uint32_t>(note.size())) + note;
    const std::string data = "data" + u32(frames * 2) + std::string(frames * 2, '\0');
    const std::string body = "WAVE" + fmt + text + data;
    return "RIFF" + u32(static_cast<std::uint32_t>(body.size())) + body;
}

class SoundManagerLibraryTest : public SoundTest {
  protected:
    void SetUp() override {
        SoundTest::SetUp();
        ResetSoundLibraryCalls();
        ASSERT_EQ(ZiDaz::StartSoundSystem(), 0);
    }
    void TearDown() override {
        manager_.reset();
        ZiDaz::ShutdownSoundSystem();
        SoundTest::TearDown();
    }
};

TEST_F(SoundManagerLibraryTest, FilePlayedAsMusicRunsWithTempoLevelAndLoopTags) {
    WriteSound("theme.wav", WaveWithLoopTags(22050, 22050, "LOOPSTART=1000 LOOPLENGTH=5000"));
    const std::int32_t slot = m().PlayFile(SoundKind::Bgm, 0, 0, 50, 200, 0, "theme.wav");
    ASSERT_EQ(slot, kListCount);
    m().Play(SoundKind::Bgm, slot, 0, 0, 0);
    const std::int32_t h = m().currentBgmHandle;
    ASSERT_GT(h, 0);
    EXPECT_EQ(m().baseFrequency[h], 22050);
    EXPECT_EQ(m().loopPointByHandle[h], 1000);
    EXPECT_EQ(m().loopStartByHandle[h], 6000);
    EXPECT_EQ(ZiDaz::IsSoundPlaying(h), 1);
    EXPECT_EQ(ZiDaz::GetSoundFrequency(h), 44100);
    Frames(2);
    // 50 % is level 125, about -15.5 dB.
    EXPECT_EQ(ZiDaz::GetSoundVolume(0, h), 10000 + ZiDaz::SoundLevelToVolume(125, 0));

    m().Play(SoundKind::Bgm, -1, 0, 0, 0);
    Frames(2);
    EXPECT_EQ(ZiDaz::IsSoundPlaying(h), -1);  // deleted at the end of the fade
}

TEST_F(SoundManagerLibraryTest, EffectCopiesPlayAndDamagedFilesGiveNoSound) {
    SetEntry(SoundKind::Se, 0, "hit.wav");
    WriteSound("hit.wav", WaveWithLoopTags(44100, 4410, ""));
    SetEntry(SoundKind::Se, 1, "broken.wav");
    WriteSound("broken.wav", "RIFF\x10\0\0\0WAVEfmt ");
    m().Play(SoundKind::Se, 0, 0, 0, 3);
    m().Play(SoundKind::Se, 1, 0, 0, 0);
    m().Update();
    ASSERT_EQ(m().scheduledSeHandles.size(), 2u);
    const std::int32_t copy = m().scheduledSeHandles[0];
    EXPECT_NE(copy, m().soundsById[2][0]);
    EXPECT_EQ(ZiDaz::IsSoundPlaying(copy), 1);
    EXPECT_EQ(m().soundsById[2][1], 0);
    m().StopSoundEffects(-1);
    EXPECT_EQ(ZiDaz::IsSoundPlaying(copy), -1);
    EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace sound_test
