// A Theora movie's Vorbis track: played through SDL's disk audio driver, nothing is heard while the
// movie is only open, and its track is heard from its first sample as the movie starts playing;
// the converter reads and seeks the track of a file that multiplexes it with the Theora stream.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "Main/DxMovie.h"
#include "Main/DxUseCLibOgg.h"
#include "PillowOracle.h"
#include "ScopedEnv.h"
#include "SoundPlaySupport.h"
#include "tools/movie/MovieWriter.h"

namespace ZiDaz {
namespace {

using velk_test::ScopedEnv;

class MovieSoundCaptureTest : public LogCaptureTest {
  protected:
    void SetUp() override {
        LogCaptureTest::SetUp();
        platform::audio::ResetAudioHooks();
        platform::audio::UsePullDevice(false);
        file_ = folder_ / "disk-audio.raw";
        driver_ = std::make_unique<ScopedEnv>("SDL_AUDIODRIVER", "disk");
        path_ = std::make_unique<ScopedEnv>("SDL_DISKAUDIOFILE", file_.c_str());
        processors_ = SystemReport.logicalProcessorCount;
        SystemReport.logicalProcessorCount = 4;  // the sound thread refills the streams
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
        ASSERT_EQ(StartSoundSystem(), 0);
        ASSERT_EQ(StartMovieSystem(), 0);
    }
    void TearDown() override {
        ShutdownMovieSystem();
        if (g_SoundSystem.initialised) ShutdownSoundSystem();
        SystemReport.logicalProcessorCount = processors_;
        path_.reset();
        driver_.reset();
        platform::audio::ResetAudioHooks();
        LogCaptureTest::TearDown();
    }
    std::uint64_t OutputFrames() {
        std::uint64_t now = 0, frequency = 0;
        ReadOutputClock(&now, &frequency);
        return now;
    }
    void Wait(std::uint64_t frames) {
        const std::uint64_t start = OutputFrames();
        for (int i = 0; i < 2000 && OutputFrames() < start + frames; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::filesystem::path file_;
    std::unique_ptr<ScopedEnv> driver_;
    std::unique_ptr<ScopedEnv> path_;
    int processors_ = 0;
};

TEST_F(MovieSoundCaptureTest, TrackIsHeardFromItsStartWhenTheMovieStarts) {
    velk::movie::MovieSpec spec;
    spec.width = 16;
    spec.height = 16;
    spec.frames = 30;
    spec.vorbis = true;
    const velk::movie::Bytes file = velk::movie::WriteTheoraMovie(spec);
    velk_test::WriteBytes(folder_ / "m.ogv", file);
    const std::string narrow = (folder_ / "m.ogv").string();
    const std::u16string wide(narrow.begin(), narrow.end());
    const HandleValue movie =
        OpenMovie(-1, nullptr, wide.c_str(), nullptr, 0, nullptr, nullptr, nullptr);
    ASSERT_GE(movie, 0);
    ASSERT_GE(LookupMovieHandle(movie)->sound, 0);
    Wait(8820);
    const std::uint64_t playedAt = OutputFrames();
    ASSERT_EQ(StartMoviePlayback(movie, 1, 0), 0);
    EXPECT_EQ(GetTheoraCurrentFrame(LookupMovieHandle(movie)->decoder), 0);
    Wait(22050);
    DeleteHandle(movie);
    ShutdownSoundSystem();

    std::ifstream in(file_, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<float> captured(bytes.size() / 4);
    std::memcpy(captured.data(), bytes.data(), captured.size() * 4);
    std::size_t first = 0;
    while (first < captured.size() && std::fabs(captured[first]) < 1e-4f) ++first;
    first /= 2;
    // Silent while only open; heard within the output's latency of the start.
    EXPECT_GE(first + 64, playedAt);
    EXPECT_LE(first, playedAt + 8820);
    // The writer's tone from its phase 0: 0.25 x sin(2 pi 440 n / 44100).
    ASSERT_GE(captured.size() / 2, first + 4410);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t n = 0; n < 4410; ++n) {
        const double want = 0.25 * std::sin(2 * M_PI * 440.0 * static_cast<double>(n) / 44100);
        const double got = captured[2 * (first + n)];
        ab += want * got;
        aa += want * want;
        bb += got * got;
    }
    EXPECT_GT(ab / std::sqrt(aa * bb), 0.9);
}

}  // namespace
}  // namespace ZiDaz

namespace ZiDaz {
namespace {

// vorbisfile's own seek refuses a file with a Theora stream beside the Vorbis one; the converter
// still lands on the sample asked for.
TEST(MovieSoundTrackSeekTest, SeeksInsideAMovieFilesTrack) {
    velk::movie::MovieSpec spec;
    spec.width = 16;
    spec.height = 16;
    spec.frames = 30;
    spec.vorbis = true;
    const velk::movie::Bytes file = velk::movie::WriteTheoraMovie(spec);
    MemoryStream* memory = CreateMemoryStream(file.data(), file.size());
    StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
    auto convert = std::make_unique<SoundConvertState>();
    std::memset(convert.get(), 0, sizeof(SoundConvertState));
    ASSERT_EQ(BeginSoundConversion(convert.get(), &binding, kSkipOpus | kSkipWave, 2, 1), 0);
    const std::size_t total = static_cast<std::size_t>(GetConvertedSoundSize(convert.get()));
    ASSERT_EQ(total, 44100u * 4);
    std::vector<std::uint8_t> whole(total);
    ASSERT_EQ(ReadConvertedSound(convert.get(), whole.data(), total), total);
    for (std::int64_t sample : {std::int64_t{0}, std::int64_t{11025}, std::int64_t{30001}}) {
        SCOPED_TRACE(sample);
        ASSERT_EQ(SeekSoundConversion(convert.get(), sample), 0);
        std::vector<std::uint8_t> rest(total - sample * 4);
        ASSERT_EQ(ReadConvertedSound(convert.get(), rest.data(), rest.size()), rest.size());
        EXPECT_EQ(std::memcmp(rest.data(), whole.data() + sample * 4, rest.size()), 0);
    }
    EndSoundConversion(convert.get());
    FreeMemoryStream(memory);
}

}  // namespace
}  // namespace ZiDaz
