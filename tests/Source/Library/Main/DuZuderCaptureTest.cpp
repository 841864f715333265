// Sounds loaded as the runtime loads them and played through SDL's disk audio driver: what reaches
// the file is what the converters decode, sample for sample (Opus at 48 kHz through the mixer's
// linear resampling); a looped Ogg Vorbis BGM is heard from its start and loops at its loop
// points; an SE started three times overlapping is heard three times. Also the pitch conversion at
// load, checked against the soft-sound operations it is made of.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "Main/DxMemory.h"
#include "ScopedEnv.h"
#include "SoundPlaySupport.h"

namespace ZiDaz {
namespace {

using velk::sound::Bytes;
using velk_test::ScopedEnv;

std::vector<std::int16_t> Chirp(int channels, int rate, std::size_t frames) {
    std::vector<std::int16_t> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double v = 9000.0 * std::sin(2 * M_PI * (200.0 * t + 400.0 * t * t));
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<std::int16_t>(c ? -v : v);
        }
    }
    return out;
}

// The whole sound as the converter decodes it: 16-bit interleaved samples and the rate.
std::vector<std::int16_t> Decode(const Bytes& image, int* rate, int* channels) {
    MemoryStream* memory = CreateMemoryStream(image.data(), image.size());
    StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
    auto convert = std::make_unique<SoundConvertState>();
    std::memset(convert.get(), 0, sizeof(SoundConvertState));
    std::vector<std::int16_t> out;
    SoundFormat format{};
    void* pcm = nullptr;
    std::uint32_t bytes = 0;
    if (BeginSoundConversion(convert.get(), &binding, 0, 2, 0) == 0 &&
        ConvertWholeSound(convert.get(), &format, &pcm, &bytes) == 0) {
        out.resize(bytes / 2);
        std::memcpy(out.data(), pcm, out.size() * 2);
        FreeTrackedMemory(pcm);
        EndSoundConversion(convert.get());
    }
    FreeMemoryStream(memory);
    *rate = static_cast<int>(format.samplesPerSec);
    *channels = format.channels;
    return out;
}

class DiskCaptureTest : public LogCaptureTest {
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
        // As the library starts: the platform's codecs first (MP3 goes through them).
        if (!ArePlatformSoundDecodersStarted())
            decodersStarted_ = StartPlatformSoundDecoders() == 0;
        ASSERT_EQ(StartSoundSystem(), 0);
    }
    void TearDown() override {
        if (g_SoundSystem.initialised) ShutdownSoundSystem();
        if (decodersStarted_) EndPlatformSoundDecoders();
        SystemReport.logicalProcessorCount = processors_;
        path_.reset();
        driver_.reset();
        platform::audio::ResetAudioHooks();
        LogCaptureTest::TearDown();
    }
    // Waits until the output clock has passed `frames` frames after now.
    void Wait(std::uint64_t frames) {
        std::uint64_t start = 0;
        std::uint64_t frequency = 0;
        ReadOutputClock(&start, &frequency);
        std::uint64_t now = start;
        for (int i = 0; i < 2000 && now < start + frames; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            ReadOutputClock(&now, &frequency);
        }
    }
    // Ends the output and reads back what the device was given, as float stereo frames.
    std::vector<float> Captured() {
        ShutdownSoundSystem();
        std::ifstream in(file_, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        std::vector<float> out(bytes.size() / 4);
        std::memcpy(out.data(), bytes.data(), out.size() * 4);
        return out;
    }
    static std::size_t FirstSounding(const std::vector<float>& s) {
        std::size_t i = 0;
        while (i < s.size() && s[i] == 0.0f) ++i;
        return i & ~static_cast<std::size_t>(1);
    }
    std::filesystem::path file_;
    std::unique_ptr<ScopedEnv> driver_;
    std::unique_ptr<ScopedEnv> path_;
    int processors_ = 0;
    bool decodersStarted_ = false;
};

// What the mixer makes of a source at another rate: linear interpolation between neighbours.
std::vector<float> Resampled(const std::vector<std::int16_t>& source, int rate, int mixRate) {
    const std::size_t frames = source.size() / 2;
    const double step = static_cast<double>(rate) / mixRate;
    std::vector<float> out;
    double position = 0;
    for (;;) {
        const std::size_t p = static_cast<std::size_t>(position);
        if (p >= frames) break;
        const double f = position - static_cast<double>(p);
        for (int c = 0; c < 2; ++c) {
            const double cur = source[2 * p + c];
            const double next = p + 1 < frames ? source[2 * (p + 1) + c] : 0;
            out.push_back(static_cast<float>((next - cur) * f + cur) * (1.0f / 32768));
        }
        position += step;
    }
    return out;
}

TEST_F(DiskCaptureTest, EachFormatIsHeardAsItsConverterDecodesIt) {
    const std::vector<std::int16_t> chirp = Chirp(2, 44100, 8000);
    struct Case {
        const char* name;
        Bytes image;
    };
    const Case cases[] = {
        {"wave", velk::sound::WriteWave({}, velk::sound::PcmBytes16(chirp))},
        {"vorbis", velk::sound::EncodeVorbis(chirp, 2, 44100)},
        {"opus", velk::sound::EncodeOpus(chirp, 2, 44100)},
        {"mp3", velk::sound::EncodeMp3(chirp, 2, 44100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!g_SoundSystem.initialised) {
            ASSERT_EQ(StartSoundSystem(), 0);
        }
        int rate = 0;
        int channels = 0;
        const std::vector<std::int16_t> decoded = Decode(c.image, &rate, &channels);
        ASSERT_EQ(channels, 2);
        ASSERT_FALSE(decoded.empty());
        const HandleValue h = LoadSoundFromMemoryImage(c.image.data(), c.image.size(), 3, -1);
        ASSERT_GE(h, 0);
        ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
        Wait(static_cast<std::uint64_t>(decoded.size() / 2) * 44100 / rate + 8000);
        EXPECT_EQ(IsSoundPlaying(h), 0);
        const std::vector<float> got = Captured();
        std::vector<float> expected;
        if (rate == 44100) {
            for (std::int16_t s : decoded) expected.push_back(static_cast<float>(s) / 32768.0f);
        } else {
            EXPECT_EQ(rate, 48000);
            expected = Resampled(decoded, rate, 44100);
        }
        std::size_t a = FirstSounding(got);
        std::size_t b = FirstSounding(expected);
        ASSERT_LT(a, got.size());
        // Sample for sample; a silent frame the device got where the sound has none is an
        // underrun of the loaded machine, not a change of the sound, and is passed over.
        std::size_t mismatches = 0;
        std::size_t gaps = 0;
        for (; b + 1 < expected.size() && a + 1 < got.size(); a += 2, b += 2) {
            if (got[a] == 0.0f && got[a + 1] == 0.0f &&
                (expected[b] != 0.0f || expected[b + 1] != 0.0f) && gaps < 44100) {
                ++gaps;
                b -= 2;
                continue;
            }
            if (std::fabs(got[a] - expected[b]) > 1e-6f ||
                std::fabs(got[a + 1] - expected[b + 1]) > 1e-6f) {
                ++mismatches;
            }
        }
        EXPECT_GE(b + 1, expected.size());
        EXPECT_EQ(mismatches, 0u);
    }
}

// Pearson's correlation of the left channels of two stretches of interleaved samples.
double Correlation(const float* a, const std::int16_t* b, std::size_t frames) {
    const std::size_t n = 2 * frames;
    double ma = 0, mb = 0;
    for (std::size_t i = 0; i < n; i += 2) {
        ma += a[i];
        mb += b[i];
    }
    ma /= static_cast<double>(frames);
    mb /= static_cast<double>(frames);
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; i += 2) {
        const double x = a[i] - ma, y = b[i] - mb;
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// A chirp that never reaches a silent frame (each channel keeps its own offset), so that silence
// in a capture can only be an underrun.
std::vector<std::int16_t> OffsetChirp(std::size_t frames) {
    std::vector<std::int16_t> out(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100;
        const double v = 5000.0 * std::sin(2 * M_PI * (200.0 * t + 400.0 * t * t));
        out[2 * i] = static_cast<std::int16_t>(8000 + v);
        out[2 * i + 1] = static_cast<std::int16_t>(-8000 - v);
    }
    return out;
}

TEST_F(DiskCaptureTest, LoopedVorbisBgmIsHeardFromItsStartAndLoopsAtItsLoopPoints) {
    const std::vector<std::int16_t> chirp = OffsetChirp(66150);
    const Bytes image =
        velk::sound::EncodeVorbis(chirp, 2, 44100, {"LOOPSTART=22050", "LOOPLENGTH=22050"});
    int rate = 0;
    int channels = 0;
    const std::vector<std::int16_t> decoded = Decode(image, &rate, &channels);
    const HandleValue h = LoadSoundFromMemoryImage(image.data(), image.size(), 3, -1);
    ASSERT_GE(h, 0);
    ASSERT_EQ(GetSoundHandleData(h)->isStream, 1);
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_LOOP, 1), 0);
    Wait(44100 + 2 * 22050 + 4410);
    EXPECT_EQ(IsSoundPlaying(h), 1);
    const std::vector<float> captured = Captured();
    // Silent frames are underruns of the loaded machine: the sound has none.
    std::vector<float> got;
    for (std::size_t i = 0; i + 1 < captured.size(); i += 2) {
        if (captured[i] != 0.0f || captured[i + 1] != 0.0f) {
            got.push_back(captured[i]);
            got.push_back(captured[i + 1]);
        }
    }
    ASSERT_GE(got.size(), 2u * (44100 + 2 * 22050));
    const float* start = got.data();
    // The intro and the first pass, then the loop twice, each against the decoded file.
    EXPECT_GT(Correlation(start, decoded.data(), 44100), 0.99);
    EXPECT_GT(Correlation(start + 2 * 44100, decoded.data() + 2 * 22050, 22050), 0.99);
    EXPECT_GT(Correlation(start + 2 * 66150, decoded.data() + 2 * 22050, 22050), 0.99);
    // Not the file's own continuation past the loop start.
    EXPECT_LT(Correlation(start + 2 * 44100, decoded.data() + 2 * 44100, 22050), 0.5);
}

TEST_F(DiskCaptureTest, SoundEffectStartedThreeTimesOverlappingIsHeardThreeTimes) {
    const std::vector<std::int16_t> level(2 * 22050, 1000);  // half a second at a steady level
    const Bytes image = velk::sound::WriteWave({}, velk::sound::PcmBytes16(level));
    const HandleValue h = LoadSoundFromMemoryImage(image.data(), image.size(), 3, -1);
    ASSERT_GE(h, 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
        Wait(4410);
    }
    Wait(22050 + 4410);
    const std::vector<float> got = Captured();
    int seen[4] = {};
    for (float v : got) {
        const int n = static_cast<int>(std::lround(v * 32768.0f / 1000.0f));
        if (n >= 0 && n <= 3 && std::fabs(v * 32768.0f - n * 1000.0f) < 0.01f) ++seen[n];
    }
    EXPECT_GT(seen[1], 2 * 2000);
    EXPECT_GT(seen[2], 2 * 2000);
    EXPECT_GT(seen[3], 2 * 2000);  // three at once
}

class PitchLoadTest : public SoundPlayTest {};

TEST_F(PitchLoadTest, PitchRateGivesTheStretchedAndResampledSound) {
    const std::vector<std::int16_t> chirp = Chirp(2, 44100, 8000);
    const Bytes image = velk::sound::WriteWave({}, velk::sound::PcmBytes16(chirp));
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    params.pitchFlag = 1;
    params.pitchRate = 1.5f;
    const HandleValue h = AddSoundHandle(0, 0, 0);
    ASSERT_EQ(
        LoadSoundFromMemoryImageWithParams(&params, 0, h, image.data(), image.size(), 3, -1, 0, 0),
        0);
    // The same steps by hand: float, stretched to 1.5 times, resampled back to the length.
    SoundLoadParams plain;
    InitSoundLoadParams(&plain);
    const HandleValue source =
        LoadSoftSoundWithParams(&plain, nullptr, image.data(), image.size(), 0);
    const HandleValue f = CreateSoftSound(0, 2, 32, 44100, 8000, 1, -1, 0);
    ASSERT_EQ(ConvertSoftSoundToFloat(source, f), 0);
    const HandleValue t = CreateSoftSound(0, 2, 32, 44100, 12000, 1, -1, 0);
    ASSERT_EQ(TimeStretchSoftSound(f, t), 0);
    ASSERT_EQ(ResampleSoftSound(t, f), 0);
    auto* fs = reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(f));
    void* wave = nullptr;
    std::uint32_t size = 0;
    SoundFormat format = fs->format;
    ASSERT_EQ(BuildWaveFileImage(&wave, &size, &format, 18, fs->wave.samples, 8000 * 8), 0);
    int rate = 0;
    int channels = 0;
    const Bytes waveBytes(static_cast<std::uint8_t*>(wave),
                          static_cast<std::uint8_t*>(wave) + size);
    FreeTrackedMemory(wave);
    const std::vector<std::int16_t> expected = Decode(waveBytes, &rate, &channels);
    SoundHandleData* d = Data(h);
    ASSERT_EQ(d->isStream, 0);
    ASSERT_EQ(d->pcmSize, static_cast<std::int32_t>(expected.size() * 2));
    EXPECT_EQ(std::memcmp(d->pcmData, expected.data(), expected.size() * 2), 0);
    EXPECT_NE(std::memcmp(d->pcmData, chirp.data(), chirp.size() * 2), 0);
    // And that is what plays.
    ASSERT_EQ(StartSoundPlayback(h, DX_PLAYTYPE_BACK, 1), 0);
    const std::vector<MixedFrame> got = Mix(8000);
    EXPECT_EQ(std::memcmp(got.data(), expected.data(), expected.size() * 2), 0);
}

}  // namespace
}  // namespace ZiDaz
