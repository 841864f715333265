#include <gtest/gtest.h>
#include <samplerate.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Main/DuZuder.h"
#include "Main/DxASyncLoad.h"
#include "Main/DxFile.h"
#include "Main/DxHandle.h"
#include "Main/DxMemory.h"
#include "Main/DxRingBuffer.h"
#include "Main/DxThread.h"
#include "Main/Windows/DxSystemWin.h"
#include "tools/sound/SoundWriter.h"

using namespace ZiDaz;

namespace {

SoundFormat PcmFormat(int channels, int rate, int bits) {
    SoundFormat f{};
    f.formatTag = kSoundFormatPcm;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    return f;
}

SoftSoundHandleData* Record(HandleValue handle) {
    return reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(handle));
}

template <typename T>
T* Samples(HandleValue handle) {
    return reinterpret_cast<T*>(Record(handle)->wave.samples);
}

// The sound module up with a software-mixed output, and the SoftSound handle type registered.
class SoftSounds : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(RegisterHandleType(DX_HANDLETYPE_SOFTSOUND, sizeof(SoftSoundHandleData),
                                     kMaxSoftSoundHandles, nullptr, TerminateSoftSoundHandle,
                                     nullptr, u"SoftSound"),
                  0);
        InitHandleList(&g_SoundSystem.softSoundPlayerListHead,
                       &g_SoundSystem.softSoundPlayerListTail);
        const SoundFormat out = PcmFormat(2, 44100, 16);
        ASSERT_EQ(SetUpSoftwareMixOutput(&out, 16, 0, 3), 0);
        g_SoundSystem.initialised = 1;
    }
    void TearDown() override {
        UnregisterHandleType(DX_HANDLETYPE_SOFTSOUND);
        g_SoundSystem.initialised = 0;
        EndSoftwareMixOutput();
    }
    static HandleValue Make(int channels, int bits, int rate, std::int64_t count, int isFloat = 0) {
        return CreateSoftSound(0, channels, bits, rate, count, isFloat, -1, 0);
    }
    static HandleValue MakeFloat(int channels, int rate, const std::vector<float>& samples) {
        const HandleValue h =
            Make(channels, 32, rate, static_cast<std::int64_t>(samples.size() / channels), 1);
        if (h >= 0 && !samples.empty()) {
            std::memcpy(Samples<float>(h), samples.data(), samples.size() * 4);
        }
        return h;
    }
    static HandleValue Make16(int channels, int rate, const std::vector<std::int16_t>& samples) {
        const HandleValue h =
            Make(channels, 16, rate, static_cast<std::int64_t>(samples.size() / channels));
        if (h >= 0 && !samples.empty()) {
            std::memcpy(Samples<std::int16_t>(h), samples.data(), samples.size() * 2);
        }
        return h;
    }
    static HandleValue Make8(int channels, int rate, const std::vector<std::uint8_t>& samples) {
        const HandleValue h =
            Make(channels, 8, rate, static_cast<std::int64_t>(samples.size() / channels));
        if (h >= 0 && !samples.empty()) {
            std::memcpy(Samples<std::uint8_t>(h), samples.data(), samples.size());
        }
        return h;
    }
    static int Count() { return HandleTypeTable[DX_HANDLETYPE_SOFTSOUND].count; }
};

// ---- Creation and queries ----------------------------------------------------------------

TEST_F(SoftSounds, CreationSetsTheFormatAndAFormatHandleLendsItsOwn) {
    // A float sound is 32-bit whatever the bits argument says.
    const HandleValue f = Make(2, 8, 22050, 10, 1);
    ASSERT_GE(f, 0);
    int channels = 0, bits = 0, rate = 0, isFloat = 0;
    EXPECT_EQ(GetSoftSoundFormat(f, &channels, &bits, &rate, &isFloat), 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(isFloat, 1);
    EXPECT_EQ(Record(f)->format.blockAlign, 8);
    EXPECT_EQ(Record(f)->format.avgBytesPerSec, 8u * 22050);
    EXPECT_EQ(GetSoftSoundSampleCount(f), 10);

    // The format comes from the format handle, the count from the argument.
    const HandleValue g = CreateSoftSound(0, 1, 16, 8000, 77, 0, f, 0);
    ASSERT_GE(g, 0);
    EXPECT_EQ(GetSoftSoundFormat(g, &channels, &bits, &rate, &isFloat), 0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(bits, 32);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(isFloat, 1);
    EXPECT_EQ(GetSoftSoundSampleCount(g), 77);

    // Null out-pointers are left alone; an 8-bit mono PCM sound.
    const HandleValue p = Make(1, 8, 11025, 0);
    ASSERT_GE(p, 0);
    EXPECT_EQ(GetSoftSoundFormat(p, nullptr, &bits, nullptr, &isFloat), 0);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(isFloat, 0);
    EXPECT_EQ(GetSoftSoundSampleCount(p), 0);

    // A player is no format handle, and the queries refuse it.
    const HandleValue player = CreateSoftSound(1, 2, 16, 44100, 0, 0, -1, 0);
    ASSERT_GE(player, 0);
    const int before = Count();
    EXPECT_EQ(CreateSoftSound(0, 1, 16, 8000, 5, 0, player, 0), -1);
    EXPECT_EQ(Count(), before);  // the failed creation deleted its handle
    EXPECT_EQ(GetSoftSoundFormat(player, &channels, &bits, &rate, &isFloat), -1);
    EXPECT_EQ(GetSoftSoundSampleCount(player), -1);

    // Handles that are not SoftSounds, or are gone.
    EXPECT_EQ(GetSoftSoundSampleCount(-1), -1);
    EXPECT_EQ(GetSoftSoundSampleCount((f & ~kHandleTypeMask) | (DX_HANDLETYPE_SOUND << 26)), -1);
    EXPECT_EQ(DeleteHandle(g), 0);
    EXPECT_EQ(GetSoftSoundSampleCount(g), -1);
    EXPECT_EQ(CreateSoftSound(0, 1, 16, 8000, 5, 0, g, 0), -1);
}

TEST_F(SoftSounds, CreationNeedsTheModuleAndRefusesSizesThatDoNotFit) {
    // Block align x count must fit in 32 bits.
    EXPECT_EQ(Make(2, 16, 44100, 0x40000000LL), -1);
    EXPECT_EQ(Make(1, 16, 44100, -5), -1);
    EXPECT_EQ(Count(), 0);
    g_SoundSystem.initialised = 0;
    EXPECT_EQ(Make(1, 16, 44100, 10), -1);
    EXPECT_EQ(CreateSoftSoundOfFormat(1, 16, 44100, 10, 0), -1);
    g_SoundSystem.initialised = 1;
    const HandleValue h = CreateSoftSoundOfFormat(1, 16, 44100, 10, 0);
    EXPECT_GE(h, 0);
    EXPECT_EQ(AddSoftSoundData(-1, 0, 1, 16, 44100, 0, 1, 0), -1);
}

// ---- Copy and conversions ----------------------------------------------------------------

TEST_F(SoftSounds, ConversionsToFloat) {
    const HandleValue u8 = Make8(1, 44100, {127, 0, 255, 128});
    const HandleValue s16 = Make16(2, 44100, {0, 32767, -32768, 16384});
    const HandleValue f1 = Make(1, 32, 44100, 4, 1);
    const HandleValue f2 = Make(2, 32, 44100, 2, 1);
    ASSERT_EQ(ConvertSoftSoundToFloat(u8, f1), 0);
    const float* a = Samples<float>(f1);
    EXPECT_EQ(a[0], 0.0f);
    EXPECT_EQ(a[1], -0.9921875f);
    EXPECT_EQ(a[2], 1.0f);
    EXPECT_EQ(a[3], 0.0078125f);
    ASSERT_EQ(ConvertSoftSoundToFloat(s16, f2), 0);
    const float* b = Samples<float>(f2);
    EXPECT_EQ(b[0], 0.0f);
    EXPECT_EQ(b[1], 32767.0f / 32768.0f);
    EXPECT_EQ(b[2], -1.0f);
    EXPECT_EQ(b[3], 0.5f);
}

TEST_F(SoftSounds, ConversionsFromFloatTruncateAndClamp) {
    const struct {
        int bits;
        float in;
        int out;
    } cases[] = {
        {8, 1.0f, 255},       {8, -1.0f, 0},     {8, 0.0f, 127},        {8, 2.0f, 255},
        {8, -0.999f, 0},      {8, 0.5f, 191},    {16, 1.0f, 32767},     {16, -1.5f, -32768},
        {16, -0.00001f, 0},   {16, 0.5f, 16384}, {16, -1.0f, -32768},   {16, 1e30f, 32767},
        {16, -0.75f, -24576}, {16, NAN, 0},      {16, 0.99999f, 32767}, {8, NAN, 127},
    };
    for (const auto& c : cases) {
        const HandleValue f = MakeFloat(1, 44100, {c.in});
        const HandleValue p = Make(1, c.bits, 44100, 1);
        ASSERT_EQ(ConvertSoftSoundFromFloat(f, p), 0);
        const int got = c.bits == 8 ? *Samples<std::uint8_t>(p) : *Samples<std::int16_t>(p);
        EXPECT_EQ(got, c.out) << c.bits << " bits from " << c.in;
        DeleteHandle(f);
        DeleteHandle(p);
    }
}

TEST_F(SoftSounds, ConversionsCoverEveryChannel) {
    // Three channels: every sample of every frame is converted, none left as it was.
    const std::vector<std::int16_t> pcm = {1, 2, 3, -4, -5, -6, 100, 200, 300};
    const HandleValue s = Make16(3, 44100, pcm);
    const HandleValue f = Make(3, 32, 44100, 3, 1);
    std::memset(Samples<float>(f), 0x7F, 9 * 4);
    ASSERT_EQ(ConvertSoftSoundToFloat(s, f), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Samples<float>(f)[i], pcm[i] / 32768.0f) << i;
    const HandleValue back = Make(3, 16, 44100, 3);
    std::memset(Samples<std::int16_t>(back), 0x55, 9 * 2);
    ASSERT_EQ(ConvertSoftSoundFromFloat(f, back), 0);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(Samples<std::int16_t>(back)[i], pcm[i]) << i;
}

TEST_F(SoftSounds, WholeSoundOperationsRefuseMismatches) {
    const HandleValue a16 = Make16(2, 44100, {1, 2, 3, 4});
    const HandleValue b16 = Make16(2, 44100, {0, 0, 0, 0});
    const HandleValue short16 = Make16(2, 44100, {0, 0});
    const HandleValue mono16 = Make16(1, 44100, {0, 0});
    const HandleValue a8 = Make8(2, 44100, {0, 0, 0, 0});
    const HandleValue f2 = Make(2, 32, 44100, 2, 1);
    const HandleValue g2 = Make(2, 32, 44100, 2, 1);
    const HandleValue fshort = Make(2, 32, 44100, 1, 1);
    const HandleValue player = CreateSoftSound(1, 2, 16, 44100, 0, 0, -1, 0);
    const struct {
        const char* what;
        int (*op)(HandleValue, HandleValue);
        HandleValue s, d;
        int result;
    } cases[] = {
        {"copy", CopySoftSoundSamples, a16, b16, 0},
        {"copy of another length", CopySoftSoundSamples, a16, short16, -1},
        {"copy of another channel count", CopySoftSoundSamples, mono16, short16, -1},
        {"copy of other bits", CopySoftSoundSamples, a16, a8, -1},
        {"copy of another tag", CopySoftSoundSamples, f2, a16, -1},
        {"copy from a player", CopySoftSoundSamples, player, b16, -1},
        {"copy to a bad handle", CopySoftSoundSamples, a16, -1, -1},
        {"to float of another length", ConvertSoftSoundToFloat, a16, fshort, -1},
        {"to float from float", ConvertSoftSoundToFloat, f2, g2, -1},
        {"to float into PCM", ConvertSoftSoundToFloat, a16, b16, -1},
        {"to float with a player", ConvertSoftSoundToFloat, a16, player, -1},
        {"from float of another length", ConvertSoftSoundFromFloat, fshort, a16, -1},
        {"from float from PCM", ConvertSoftSoundFromFloat, a8, a16, -1},
        {"from float into float", ConvertSoftSoundFromFloat, f2, g2, -1},
    };
    for (const auto& c : cases) {
        std::vector<std::int16_t> before(Samples<std::int16_t>(b16),
                                         Samples<std::int16_t>(b16) + 4);
        EXPECT_EQ(c.op(c.s, c.d), c.result) << c.what;
        if (c.result != 0) {
            EXPECT_EQ(std::memcmp(before.data(), Samples<std::int16_t>(b16), 8), 0) << c.what;
        }
    }
    EXPECT_EQ(std::vector<std::int16_t>(Samples<std::int16_t>(b16), Samples<std::int16_t>(b16) + 4),
              (std::vector<std::int16_t>{1, 2, 3, 4}));

    // Sounds of no samples: every operation does nothing and succeeds.
    const HandleValue e16 = Make(2, 16, 44100, 0);
    const HandleValue e16b = Make(2, 16, 44100, 0);
    const HandleValue ef = Make(2, 32, 44100, 0, 1);
    EXPECT_EQ(CopySoftSoundSamples(e16, e16b), 0);
    EXPECT_EQ(ConvertSoftSoundToFloat(e16, ef), 0);
    EXPECT_EQ(ConvertSoftSoundFromFloat(ef, e16), 0);

    // A bit depth the conversions do not know converts nothing and succeeds.
    const HandleValue s24 = Make(2, 24, 44100, 2);
    std::memset(Samples<float>(f2), 0, 16);
    EXPECT_EQ(ConvertSoftSoundToFloat(s24, f2), 0);
    EXPECT_EQ(Samples<float>(f2)[0], 0.0f);
}

// ---- Loading -----------------------------------------------------------------------------

class SoftSoundLoads : public SoftSounds {
  protected:
    void SetUp() override {
        SoftSounds::SetUp();
        char pattern[] = "/tmp/velk-softsound-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        InstallStreamFunctions(nullptr);
        samples_ = velk::sound::RampWave(2, 3000);
        velk::sound::WaveSpec spec;
        image_ = velk::sound::WriteWave(spec, velk::sound::PcmBytes16(samples_));
        params_ = SoundLoadParams{};
        params_.vorbisSampleWidth = 2;
    }
    void TearDown() override {
        SoftSounds::TearDown();
        std::filesystem::remove_all(root_);
    }
    std::u16string WriteImage(const std::string& name) {
        const std::string path = root_ + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()),
                   static_cast<std::streamsize>(image_.size()));
        return std::u16string(path.begin(), path.end());
    }
    void ExpectRamp(HandleValue h) {
        ASSERT_GE(h, 0);
        EXPECT_EQ(GetSoftSoundSampleCount(h), 3000);
        int channels = 0, bits = 0, rate = 0, isFloat = 1;
        EXPECT_EQ(GetSoftSoundFormat(h, &channels, &bits, &rate, &isFloat), 0);
        EXPECT_EQ(channels, 2);
        EXPECT_EQ(bits, 16);
        EXPECT_EQ(rate, 44100);
        EXPECT_EQ(isFloat, 0);
        EXPECT_EQ(std::memcmp(Samples<std::int16_t>(h), samples_.data(), samples_.size() * 2), 0);
    }
    std::string root_;
    std::vector<std::int16_t> samples_;
    velk::sound::Bytes image_;
    SoundLoadParams params_{};
};

TEST_F(SoftSoundLoads, FromAFileImageAndFromAFile) {
    ExpectRamp(LoadSoftSoundWithParams(&params_, nullptr, image_.data(), image_.size(), 0));
    const std::u16string path = WriteImage("ramp.wav");
    ExpectRamp(LoadSoftSoundWithParams(&params_, path.c_str(), nullptr, 0, 0));

    // The converter options come from the parameters: without the WAVE converter nothing reads
    // the image.
    params_.skipMask = ~0;
    const int before = Count();
    EXPECT_EQ(LoadSoftSoundWithParams(&params_, nullptr, image_.data(), image_.size(), 0), -1);
    EXPECT_EQ(Count(), before);
}

TEST_F(SoftSoundLoads, FailuresLeaveNoHandle) {
    const std::u16string missing = std::u16string(root_.begin(), root_.end()) + u"/none.wav";
    const velk::sound::Bytes junk(100, 0x5A);
    velk::sound::Bytes cut(image_.begin(), image_.begin() + 30);
    EXPECT_EQ(LoadSoftSoundWithParams(&params_, missing.c_str(), nullptr, 0, 0), -1);
    EXPECT_EQ(LoadSoftSoundWithParams(&params_, nullptr, junk.data(), junk.size(), 0), -1);
    EXPECT_EQ(LoadSoftSoundWithParams(&params_, nullptr, cut.data(), cut.size(), 0), -1);
    EXPECT_EQ(LoadSoftSoundWithParams(nullptr, nullptr, image_.data(), image_.size(), 0), -1);
    EXPECT_EQ(LoadSoftSoundWithParams(&params_, nullptr, nullptr, 100, 0), -1);
    EXPECT_EQ(Count(), 0);
}

// With asynchronous loading on, creation and loads run on the load threads.
class SoftSoundsLoadedAsynchronously : public SoftSoundLoads {
  protected:
    void SetUp() override {
        SoftSoundLoads::SetUp();
        ASSERT_EQ(InitASyncLoad(QueryCurrentThreadId()), 0);
        ASSERT_EQ(StartASyncLoadThreads(4), 0);
        EnableASyncLoad(1);
    }
    void TearDown() override {
        EnableASyncLoad(0);
        StopASyncLoadThreads();
        EndASyncLoad();
        SoftSoundLoads::TearDown();
    }
};

TEST_F(SoftSoundsLoadedAsynchronously, QueriesWaitForTheJob) {
    // The image is decoded by the job (it gets no path), a relative path is made whole first.
    ExpectRamp(LoadSoftSoundWithParams(&params_, nullptr, image_.data(), image_.size(), 1));
    WriteImage("ramp.wav");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    const HandleValue relative = LoadSoftSoundWithParams(&params_, u"ramp.wav", nullptr, 0, 1);
    std::filesystem::current_path(previous);
    ExpectRamp(relative);

    const HandleValue created = CreateSoftSoundOfFormat(2, 16, 48000, 1234, 0);
    ASSERT_GE(created, 0);
    EXPECT_EQ(GetSoftSoundSampleCount(created), 1234);
    const HandleValue formatted = CreateSoftSound(0, 1, 8, 8000, 9, 0, created, 1);
    int rate = 0;
    EXPECT_EQ(GetSoftSoundFormat(formatted, nullptr, nullptr, &rate, nullptr), 0);
    EXPECT_EQ(rate, 48000);
}

TEST_F(SoftSoundsLoadedAsynchronously, FailedJobsTakeTheirHandles) {
    const velk::sound::Bytes junk(100, 0x5A);
    for (int i = 0; i < 20; ++i) {
        const HandleValue h =
            LoadSoftSoundWithParams(&params_, nullptr, junk.data(), junk.size(), 1);
        ASSERT_GE(h, 0);
        EXPECT_EQ(GetSoftSoundSampleCount(h), -1);
        EXPECT_EQ(LookupHandleRecord(h), nullptr);
    }
    const HandleValue player = CreateSoftSound(1, 2, 16, 44100, 0, 0, -1, 0);
    const HandleValue h = CreateSoftSound(0, 1, 16, 8000, 5, 0, player, 1);
    ASSERT_GE(h, 0);
    EXPECT_EQ(GetSoftSoundFormat(h, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(LookupHandleRecord(h), nullptr);
    EXPECT_EQ(Count(), 1);
}

// ---- Players -----------------------------------------------------------------------------

class SoftSoundPlayers : public SoftSounds {
  protected:
    HandleValue MakePlayer(int channels, int bits, int rate) {
        const HandleValue h = CreateSoftSound(1, channels, bits, rate, 0, 0, -1, 0);
        if (h >= 0) Record(h)->playing = 1;
        return h;
    }
    // Appends wave bytes to the player's queue as a producer would.
    static void Queue(HandleValue h, const std::vector<std::uint8_t>& bytes) {
        SoftSoundHandleData* p = Record(h);
        RingBuffer& q = p->queue;
        ASSERT_EQ(ReserveRingBuffer(&q, static_cast<int>(bytes.size())), 0);
        for (std::uint8_t b : bytes) {
            q.storage[q.writePosition] = b;
            q.writePosition = (q.writePosition + 1) % q.capacity;
        }
        q.stored += static_cast<int>(bytes.size());
        p->queuedSamples += static_cast<int>(bytes.size() / p->format.blockAlign);
    }
    static void Cursor(HandleValue h, int bytes) {
        SoftSoundHandleData* p = Record(h);
        p->playerBuffer.position = bytes / p->format.blockAlign;
    }
    static const std::uint8_t* Buffer(HandleValue h) {
        return Record(h)->playerBuffer.waveData->data;
    }
};

TEST_F(SoftSoundPlayers, SizesAndTheFirstFeed) {
    const HandleValue h = MakePlayer(2, 16, 44100);
    ASSERT_GE(h, 0);
    SoftSoundHandleData* p = Record(h);
    EXPECT_EQ(p->bufferBytes, 176400);
    EXPECT_EQ(p->leadBytes, 5512);
    EXPECT_EQ(p->minimumQueueBytes, 35144);
    EXPECT_EQ(p->writePosition, 0);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(p->playerBuffer.length, 44100);
    EXPECT_EQ(g_SoundSystem.softSoundPlayerListHead.next, &p->playerListNode);

    std::vector<std::uint8_t> wave(20000 * 4);
    for (std::size_t i = 0; i < wave.size(); ++i) wave[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Queue(h, wave);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 2756 * 4);
    EXPECT_EQ(p->queuedSamples, 20000 - 2756);
    EXPECT_EQ(std::memcmp(Buffer(h), wave.data(), 2756 * 4), 0);
    EXPECT_EQ(p->endPosition, -1);

    // The same cursor again: the written data already reaches two leads ahead.
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 2756 * 4);
    // The cursor moves on within the window: written up to two leads beyond it.
    Cursor(h, 8000);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 8000 + 2 * 5512);
    EXPECT_EQ(std::memcmp(Buffer(h), wave.data(), 19024), 0);

    // Newest players first in the list; a player that is not playing is not fed.
    const HandleValue quiet = CreateSoftSound(1, 1, 8, 8000, 0, 0, -1, 0);
    ASSERT_GE(quiet, 0);
    EXPECT_EQ(g_SoundSystem.softSoundPlayerListHead.next, &Record(quiet)->playerListNode);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(Record(quiet)->writePosition, 0);
    // Deleting the player takes it out of the list.
    EXPECT_EQ(DeleteHandle(quiet), 0);
    EXPECT_EQ(g_SoundSystem.softSoundPlayerListHead.next, &p->playerListNode);
}

TEST_F(SoftSoundPlayers, ACursorOutsideTheWindowIsNotFed) {
    const HandleValue h = MakePlayer(2, 16, 44100);
    SoftSoundHandleData* p = Record(h);
    Queue(h, std::vector<std::uint8_t>(40000 * 4, 9));
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    ASSERT_EQ(p->writePosition, 11024);
    for (int cursor : {11028, 20000, 100000, 5508, 0}) {
        Cursor(h, cursor);
        ASSERT_EQ(FeedSoftSoundPlayers(), 0);
        EXPECT_EQ(p->writePosition, 11024) << cursor;
    }
    // Back within one lead behind the write position.
    Cursor(h, 5512);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 5512 + 2 * 5512);
}

TEST_F(SoftSoundPlayers, AShortQueueThenSilenceAndTheEndPosition) {
    const HandleValue h = MakePlayer(2, 16, 44100);
    SoftSoundHandleData* p = Record(h);
    std::memset(Record(h)->playerBuffer.waveData->data, 0x33, 176400);
    Queue(h, std::vector<std::uint8_t>(100 * 4, 0xAB));
    // The queue holds fewer samples than asked: only those, no silence yet.
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 400);
    EXPECT_EQ(p->queuedSamples, 0);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(Buffer(h)[399], 0xAB);
    EXPECT_EQ(Buffer(h)[400], 0x33);

    // An empty queue: silence, and the end recorded where the data ran out.
    Cursor(h, 200);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->writePosition, 200 + 2 * 5512);
    EXPECT_EQ(p->endPosition, 400);
    EXPECT_EQ(p->lastPlayPosition, 200);
    EXPECT_EQ(p->endPassed, 0);
    EXPECT_EQ(Buffer(h)[400], 0);
    EXPECT_EQ(Buffer(h)[200 + 2 * 5512 - 1], 0);
    EXPECT_EQ(Buffer(h)[200 + 2 * 5512], 0x33);

    // The cursor short of the end: not passed; beyond it: passed.
    Cursor(h, 300);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->endPassed, 0);
    EXPECT_EQ(p->lastPlayPosition, 300);
    Cursor(h, 500);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->endPassed, 1);
    EXPECT_EQ(p->lastPlayPosition, 300);

    // Real data again clears both.
    Queue(h, std::vector<std::uint8_t>(8000 * 4, 0xCD));
    Cursor(h, 8000);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->endPassed, 0);
    EXPECT_EQ(p->endPosition, -1);
    EXPECT_EQ(p->lastPlayPosition, 0);
    EXPECT_EQ(Buffer(h)[11224], 0xCD);
}

TEST_F(SoftSoundPlayers, TheEndIsSeenAcrossTheBufferEnd) {
    // 8-bit mono at 8,000 Hz: a buffer of 8,000 bytes, a lead of 250.
    const HandleValue h = MakePlayer(1, 8, 8000);
    SoftSoundHandleData* p = Record(h);
    ASSERT_EQ(p->bufferBytes, 8000);
    ASSERT_EQ(p->leadBytes, 250);
    Queue(h, std::vector<std::uint8_t>(7900, 200));
    // Walk the cursor up the buffer, one lead at a time, feeding as a service would.
    int cursor = 0;
    while (p->queuedSamples > 0) {
        ASSERT_EQ(FeedSoftSoundPlayers(), 0);
        cursor += 250;
        Cursor(h, cursor % 8000);
    }
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    // The data ran out at 7,900; the silence (127 for 8-bit sound) wrapped to the start.
    EXPECT_EQ(p->endPosition, 7900);
    EXPECT_EQ(Buffer(h)[7899], 200);
    EXPECT_EQ(Buffer(h)[7900], 127);
    EXPECT_EQ(Buffer(h)[7999], 127);
    EXPECT_EQ(Buffer(h)[0], 127);
    EXPECT_EQ(p->endPassed, 0);
    // The cursor wraps past the end: from 7,750 to 100.
    Cursor(h, 7750);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->endPassed, 0);
    Cursor(h, 100);
    ASSERT_EQ(FeedSoftSoundPlayers(), 0);
    EXPECT_EQ(p->endPassed, 1);
}

TEST_F(SoftSoundPlayers, RefusalsAndAnOutputThatIsDown) {
    // No frame size, no player.
    EXPECT_EQ(CreateSoftSound(1, 0, 16, 44100, 0, 0, -1, 0), -1);
    EXPECT_EQ(CreateSoftSound(1, 2, 4, 44100, 0, 0, -1, 0), -1);
    // A byte rate of 16 MB a second or more wraps the one-second size into one smaller than the
    // feed's two leads; a rate of 0 gives no buffer at all.
    EXPECT_EQ(CreateSoftSound(1, 2, 32, 2100000, 0, 1, -1, 0), -1);
    EXPECT_EQ(CreateSoftSound(1, 2, 16, 0, 0, 0, -1, 0), -1);
    EXPECT_EQ(Count(), 0);
    const HandleValue h = MakePlayer(2, 16, 44100);
    EXPECT_EQ(CopySoftSoundSamples(h, h), -1);
    EndSoftwareMixOutput();
    EXPECT_EQ(FeedSoftSoundPlayers(), -1);
    EXPECT_EQ(Record(h)->writePosition, 0);
}

// ---- Time stretch ------------------------------------------------------------------------

TEST(TimeStretchFigures, ConstantsRatiosAndStepLengths) {
    const TimeStretchConstants c44 = ComputeTimeStretchConstants(44100);
    EXPECT_EQ(c44.maxLag, 882);
    EXPECT_EQ(c44.minLag, 220);
    EXPECT_EQ(c44.corrLen, 441);
    const TimeStretchConstants c48 = ComputeTimeStretchConstants(48000);
    EXPECT_EQ(c48.maxLag, 960);
    EXPECT_EQ(c48.minLag, 240);
    EXPECT_EQ(c48.corrLen, 480);
    // Very low rates keep every figure at least 1 and a lag range of at least one.
    for (std::uint32_t rate : {0u, 1u, 50u, 150u}) {
        const TimeStretchConstants c = ComputeTimeStretchConstants(rate);
        EXPECT_GE(c.minLag, 1) << rate;
        EXPECT_GE(c.maxLag - c.minLag, 1) << rate;
        EXPECT_GE(c.corrLen, 1) << rate;
    }
    EXPECT_EQ(ComputeTimeStretchRatio(44100, 66150), 341);
    EXPECT_EQ(ComputeTimeStretchStep(341, 300), 598);
    EXPECT_EQ(ComputeTimeStretchStep(256, 300), 300);
    EXPECT_EQ(ComputeTimeStretchStep(1024, 300), 300);
    EXPECT_EQ(ComputeTimeStretchRatio(100, 200), 256);
    EXPECT_EQ(ComputeTimeStretchRatio(200, 100), 1024);
    EXPECT_EQ(ComputeTimeStretchRatio(1, 1000), 0);
    EXPECT_EQ(ComputeTimeStretchStep(0, 300), 0);
    // A shrink by less than 1/512 runs as 513.
    EXPECT_EQ(ComputeTimeStretchRatio(100001, 100000), 513);
}

class TimeStretch : public SoftSounds {};

std::vector<float> Sine(int channels, int rate, const std::vector<double>& hz, std::size_t frames,
                        double amplitude = 0.5) {
    std::vector<float> out(frames * channels);
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            out[i * channels + c] = static_cast<float>(
                amplitude * std::sin(2 * M_PI * hz[c] * static_cast<double>(i) / rate));
        }
    }
    return out;
}

// Sign changes of one channel between two frames, per second of that stretch.
template <typename T>
double CrossingFrequency(const T* y, int channels, int channel, std::size_t from, std::size_t to,
                         int rate, double middle = 0) {
    int crossings = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const bool a = static_cast<double>(y[(i - 1) * channels + channel]) >= middle;
        const bool b = static_cast<double>(y[i * channels + channel]) >= middle;
        if (a != b) ++crossings;
    }
    return crossings / 2.0 / (static_cast<double>(to - from) / rate);
}

TEST_F(TimeStretch, RefusalsAndFormatsItDoesNotProcess) {
    const HandleValue a = Make(2, 16, 44100, 100);
    const HandleValue same = Make(2, 16, 44100, 100);
    const HandleValue otherRate = Make(2, 16, 48000, 200);
    const HandleValue otherChannels = Make(1, 16, 44100, 200);
    const HandleValue otherBits = Make(2, 8, 44100, 200);
    const HandleValue otherTag = Make(2, 32, 44100, 200, 1);
    const HandleValue player = CreateSoftSound(1, 2, 16, 44100, 0, 0, -1, 0);
    for (HandleValue d : {same, otherRate, otherChannels, otherBits, otherTag, player, -1}) {
        EXPECT_EQ(TimeStretchSoftSound(a, d), -1) << d;
        EXPECT_EQ(ResampleSoftSound(a, d), -1) << d;
    }
    EXPECT_EQ(TimeStretchSoftSound(player, a), -1);
    // Three channels, or 24 bits: 0 and the destination as it was.
    const HandleValue s3 = Make(3, 32, 44100, 100, 1);
    const HandleValue d3 = Make(3, 32, 44100, 150, 1);
    const HandleValue s24 = Make(1, 24, 44100, 100);
    const HandleValue d24 = Make(1, 24, 44100, 150);
    std::memset(Samples<float>(d3), 0x44, 150 * 12);
    std::memset(Samples<std::uint8_t>(d24), 0x44, 150 * 3);
    EXPECT_EQ(TimeStretchSoftSound(s3, d3), 0);
    EXPECT_EQ(TimeStretchSoftSound(s24, d24), 0);
    EXPECT_EQ(ResampleSoftSound(s24, d24), 0);
    for (int i = 0; i < 150 * 3; ++i) ASSERT_EQ(Samples<std::uint8_t>(d24)[i], 0x44);
    for (int i = 0; i < 150 * 12; ++i) ASSERT_EQ(Samples<std::uint8_t>(d3)[i], 0x44);
}

TEST_F(TimeStretch, ASineKeepsItsFrequencyAndFillsTheLengthAsked) {
    const int rate = 44100;
    const std::vector<float> sine = Sine(1, rate, {441}, 44100);
    std::vector<std::int16_t> sine16(sine.size());
    std::vector<std::uint8_t> sine8(sine.size());
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine16[i] = static_cast<std::int16_t>(sine[i] * 32767);
        sine8[i] = static_cast<std::uint8_t>(128 + sine[i] * 127);
    }
    for (double factor : {1.5, 0.7}) {
        const std::int64_t d = static_cast<std::int64_t>(44100 * factor);
        for (int bits : {32, 16, 8}) {
            const HandleValue s = bits == 32   ? MakeFloat(1, rate, sine)
                                  : bits == 16 ? Make16(1, rate, sine16)
                                               : Make8(1, rate, sine8);
            const HandleValue out = CreateSoftSound(0, 1, 16, 8000, d, 0, s, 0);
            ASSERT_GE(out, 0);
            const int size = bits / 8;
            // A marker no stretched sample can take: 255 is beyond this 8-bit sine's range.
            const int marker = bits == 8 ? 0xFF : 0x7E;
            std::memset(Record(out)->wave.samples, marker, static_cast<std::size_t>(d) * size);
            ASSERT_EQ(TimeStretchSoftSound(s, out), 0);
            EXPECT_EQ(GetSoftSoundSampleCount(out), d);
            double hz;
            if (bits == 32) {
                hz = CrossingFrequency(Samples<float>(out), 1, 0, 1764, d - 1764, rate);
            } else if (bits == 16) {
                hz = CrossingFrequency(Samples<std::int16_t>(out), 1, 0, 1764, d - 1764, rate);
            } else {
                hz = CrossingFrequency(Samples<std::uint8_t>(out), 1, 0, 1764, d - 1764, rate,
                                       127.5);
            }
            EXPECT_NEAR(hz, 441, 4.41) << factor << " x, " << bits << " bits";
            // Written through to the last sample: nothing of the marker is left.
            const auto* bytes = Record(out)->wave.samples;
            std::int64_t marked = 0;
            for (std::int64_t i = 0; i < d; ++i) {
                bool all = true;
                for (int k = 0; k < size; ++k) all &= bytes[i * size + k] == marker;
                marked += all;
            }
            EXPECT_EQ(marked, 0) << factor << " x, " << bits << " bits";
            DeleteHandle(s);
            DeleteHandle(out);
        }
    }
}

TEST_F(TimeStretch, StereoChannelsChooseTheirOwnLags) {
    const int rate = 44100;
    const HandleValue s = MakeFloat(2, rate, Sine(2, rate, {441, 300}, 44100));
    const std::int64_t d = 55125;  // 1.25 x
    const HandleValue out = CreateSoftSound(0, 0, 0, 0, d, 0, s, 0);
    std::vector<float> marker(static_cast<std::size_t>(d) * 2, 9.0f);
    std::memcpy(Samples<float>(out), marker.data(), marker.size() * 4);
    ASSERT_EQ(TimeStretchSoftSound(s, out), 0);
    const float* y = Samples<float>(out);
    for (std::int64_t i = 0; i < d * 2; ++i) ASSERT_NE(y[i], 9.0f) << i;
    EXPECT_NEAR(CrossingFrequency(y, 2, 0, 1764, d - 1764, rate), 441, 4.41);
    EXPECT_NEAR(CrossingFrequency(y, 2, 1, 1764, d - 1764, rate), 300, 3.0);
    // Each channel alone gives the same as in the pair.
    std::vector<float> left(44100), right(44100);
    for (int i = 0; i < 44100; ++i) {
        left[i] = Samples<float>(s)[2 * i];
        right[i] = Samples<float>(s)[2 * i + 1];
    }
    const HandleValue l = MakeFloat(1, rate, left);
    const HandleValue r = MakeFloat(1, rate, right);
    const HandleValue lo = CreateSoftSound(0, 0, 0, 0, d, 0, l, 0);
    const HandleValue ro = CreateSoftSound(0, 0, 0, 0, d, 0, r, 0);
    ASSERT_EQ(TimeStretchSoftSound(l, lo), 0);
    ASSERT_EQ(TimeStretchSoftSound(r, ro), 0);
    // The step length n is carried from one channel into the next, so only the left channel
    // must be the same sample for sample.
    for (std::int64_t i = 0; i < d; ++i) ASSERT_EQ(y[2 * i], Samples<float>(lo)[i]) << i;
    EXPECT_NEAR(CrossingFrequency(Samples<float>(ro), 1, 0, 1764, d - 1764, rate), 300, 3.0);
}

TEST_F(TimeStretch, CorrelationsThatAreNeverPositiveKeepTheSmallestLag) {
    // 8-bit samples within one step of the middle: every correlation term truncates to 0. Halving
    // then takes lag 220 and step 220 each time: output 220 s + i mixes source 440 s + i and
    // 440 s + 220 + i.
    std::vector<std::uint8_t> x(44000);
    for (std::size_t t = 0; t < x.size(); ++t) x[t] = (t % 440) < 220 ? 129 : 127;
    const HandleValue s = Make8(1, 44100, x);
    const HandleValue out = Make(1, 8, 44100, 22000);
    ASSERT_EQ(TimeStretchSoftSound(s, out), 0);
    const std::uint8_t* y = Samples<std::uint8_t>(out);
    for (int step = 0; step < 95; ++step) {
        for (int i = 0; i < 220; ++i) {
            const int expected = ((220 - i) * 129 + i * 127) / 220;
            ASSERT_EQ(y[step * 220 + i], expected) << step << " " << i;
        }
    }
    // Silence keeps silence.
    const HandleValue quiet = MakeFloat(1, 44100, std::vector<float>(10000, 0.0f));
    const HandleValue quietOut = Make(1, 32, 44100, 13000, 1);
    ASSERT_EQ(TimeStretchSoftSound(quiet, quietOut), 0);
    for (int i = 0; i < 13000; ++i) ASSERT_EQ(Samples<float>(quietOut)[i], 0.0f);
}

TEST_F(TimeStretch, ShortAndEmptySourcesAndHugeStretches) {
    // Shorter than 2 x maxLag: phase 2 alone, reading silence beyond the source. More than 512
    // times longer (q = 0): the source position stays and the one segment repeats every lag.
    std::vector<std::int16_t> x(100);
    for (int i = 0; i < 100; ++i) x[i] = static_cast<std::int16_t>(1000 + i);
    const HandleValue s = Make16(1, 44100, x);
    const HandleValue out = Make(1, 16, 44100, 220 * 300);
    ASSERT_EQ(TimeStretchSoftSound(s, out), 0);
    const std::int16_t* y = Samples<std::int16_t>(out);
    for (int t = 0; t < 220 * 300; ++t) {
        const int phase = t % 220;
        ASSERT_EQ(y[t], phase < 100 ? x[phase] : 0) << t;
    }
    // A short stretch by 1.5 in phase 2: the first lag of output is the source itself.
    const HandleValue out2 = Make(1, 16, 44100, 150);
    ASSERT_EQ(TimeStretchSoftSound(s, out2), 0);
    for (int t = 0; t < 100; ++t) ASSERT_EQ(Samples<std::int16_t>(out2)[t], x[t]) << t;
    for (int t = 100; t < 150; ++t) ASSERT_EQ(Samples<std::int16_t>(out2)[t], 0) << t;

    // An empty source gives silence: 128 for 8-bit sound.
    const HandleValue empty = Make(2, 8, 44100, 0);
    const HandleValue silent = Make(2, 8, 44100, 500);
    std::memset(Samples<std::uint8_t>(silent), 3, 1000);
    ASSERT_EQ(TimeStretchSoftSound(empty, silent), 0);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(Samples<std::uint8_t>(silent)[i], 128) << i;
    // And a sound shrunk to nothing writes nothing.
    EXPECT_EQ(TimeStretchSoftSound(s, Make(1, 16, 44100, 0)), 0);
}

TEST_F(TimeStretch, ExtremeRatiosAndRatesFinish) {
    const std::vector<float> sine = Sine(1, 44100, {441}, 20000);
    // Shrinking by less than 1/512, and by much more than 512.
    for (std::int64_t d : {19990, 30, 1}) {
        const HandleValue s = MakeFloat(1, 44100, sine);
        const HandleValue out = Make(1, 32, 44100, d, 1);
        EXPECT_EQ(TimeStretchSoftSound(s, out), 0) << d;
        DeleteHandle(s);
        DeleteHandle(out);
    }
    const HandleValue s = MakeFloat(1, 44100, sine);
    const HandleValue out = Make(1, 32, 44100, 19990, 1);
    ASSERT_EQ(TimeStretchSoftSound(s, out), 0);
    EXPECT_NEAR(CrossingFrequency(Samples<float>(out), 1, 0, 1764, 19990 - 1764, 44100), 441, 4.41);
    // Rates below 200 Hz, where the lags would come out 0.
    for (int rate : {150, 80, 1}) {
        const HandleValue a = MakeFloat(1, rate, Sine(1, rate, {rate / 10.0}, 300));
        const HandleValue b = Make(1, 32, rate, 450, 1);
        const HandleValue c = Make(1, 32, rate, 200, 1);
        EXPECT_EQ(TimeStretchSoftSound(a, b), 0) << rate;
        EXPECT_EQ(TimeStretchSoftSound(a, c), 0) << rate;
    }
}

// ---- Resampling --------------------------------------------------------------------------

class Resample : public SoftSounds {};

TEST_F(Resample, DoublingReproducesEverySourceSample) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> x(2 * 3000);
    for (float& v : x) v = uniform(random);
    const HandleValue s = MakeFloat(2, 44100, x);
    const HandleValue out = Make(2, 32, 44100, 6000, 1);
    ASSERT_EQ(ResampleSoftSound(s, out), 0);
    const float* y = Samples<float>(out);
    for (int j = 0; j < 3000; ++j) {
        ASSERT_EQ(y[4 * j], x[2 * j]) << j;
        ASSERT_EQ(y[4 * j + 1], x[2 * j + 1]) << j;
    }
    // The odd samples lie between their neighbours' values, for a smooth signal.
    const std::vector<float> sine = Sine(1, 44100, {500}, 3000);
    const HandleValue ms = MakeFloat(1, 44100, sine);
    const HandleValue mo = Make(1, 32, 44100, 6000, 1);
    ASSERT_EQ(ResampleSoftSound(ms, mo), 0);
    for (int j = 100; j < 2900; ++j) {
        const double expected = 0.5 * std::sin(2 * M_PI * 500 * (j + 0.5) / 44100);
        ASSERT_NEAR(Samples<float>(mo)[2 * j + 1], expected, 2e-3) << j;
    }
}

TEST_F(Resample, PcmGoesThroughFloatWorkSounds) {
    std::vector<std::int16_t> x(1000);
    for (int i = 0; i < 1000; ++i) {
        x[i] = static_cast<std::int16_t>(20000 * std::sin(i * 0.05) + (i % 7) * 100);
    }
    x[500] = 32767;
    x[501] = -32768;
    const HandleValue s = Make16(1, 44100, x);
    const HandleValue out = Make(1, 16, 44100, 1733);
    const int before = Count();
    ASSERT_EQ(ResampleSoftSound(s, out), 0);
    EXPECT_EQ(Count(), before);  // the work sounds are gone
    EXPECT_EQ(GetSoftSoundSampleCount(out), 1733);
    // The same by hand: to float, resampled, back with truncation and clamping.
    const HandleValue f = Make(1, 32, 44100, 1000, 1);
    const HandleValue g = Make(1, 32, 44100, 1733, 1);
    const HandleValue expected = Make(1, 16, 44100, 1733);
    ASSERT_EQ(ConvertSoftSoundToFloat(s, f), 0);
    ASSERT_EQ(ResampleSoftSound(f, g), 0);
    ASSERT_EQ(ConvertSoftSoundFromFloat(g, expected), 0);
    EXPECT_EQ(std::memcmp(Samples<std::int16_t>(out), Samples<std::int16_t>(expected), 1733 * 2),
              0);

    // 8-bit stereo halving keeps every other frame.
    std::vector<std::uint8_t> x8(2 * 400);
    for (std::size_t i = 0; i < x8.size(); ++i) x8[i] = static_cast<std::uint8_t>(i * 37);
    const HandleValue s8 = Make8(2, 22050, x8);
    const HandleValue o8 = Make(2, 8, 22050, 800);
    ASSERT_EQ(ResampleSoftSound(s8, o8), 0);
    for (int j = 0; j < 400; ++j) {
        ASSERT_EQ(Samples<std::uint8_t>(o8)[4 * j], x8[2 * j]) << j;
        ASSERT_EQ(Samples<std::uint8_t>(o8)[4 * j + 1], x8[2 * j + 1]) << j;
    }
}

TEST_F(Resample, UnprocessedShapesLeaveTheDestinationCleared) {
    // Three channels: cleared, 0.
    const HandleValue s3 = MakeFloat(3, 44100, std::vector<float>(30, 0.5f));
    const HandleValue d3 = Make(3, 32, 44100, 20, 1);
    std::memset(Samples<float>(d3), 0x44, 20 * 12);
    EXPECT_EQ(ResampleSoftSound(s3, d3), 0);
    for (int i = 0; i < 60; ++i) ASSERT_EQ(Samples<float>(d3)[i], 0.0f) << i;
    // An empty source: cleared, 0.
    const HandleValue empty = Make(2, 32, 44100, 0, 1);
    const HandleValue d2 = Make(2, 32, 44100, 50, 1);
    std::memset(Samples<float>(d2), 0x44, 50 * 8);
    EXPECT_EQ(ResampleSoftSound(empty, d2), 0);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Samples<float>(d2)[i], 0.0f) << i;
    // A single source sample, spread over the whole destination.
    const HandleValue one = MakeFloat(1, 44100, {0.25f});
    const HandleValue many = Make(1, 32, 44100, 7, 1);
    EXPECT_EQ(ResampleSoftSound(one, many), 0);
    EXPECT_EQ(Samples<float>(many)[0], 0.25f);
    // Shrunk to nothing.
    EXPECT_EQ(ResampleSoftSound(one, Make(1, 32, 44100, 0, 1)), 0);
}

// White noise low-passed by a long windowed sinc, scaled to a peak of 0.5.
std::vector<float> BandLimitedNoise(std::size_t frames, double cutHz, int rate) {
    std::mt19937 random(12345);
    std::normal_distribution<double> gauss(0.0, 1.0);
    const int half = 1024;
    std::vector<double> white(frames + 2 * half);
    for (double& v : white) v = gauss(random);
    std::vector<double> taps(2 * half + 1);
    const double cut = cutHz / rate;
    for (int k = 0; k <= 2 * half; ++k) {
        const double t = k - half;
        const double sinc = t == 0 ? 2 * cut : std::sin(2 * M_PI * cut * t) / (M_PI * t);
        const double window =
            0.42 + 0.5 * std::cos(M_PI * t / half) + 0.08 * std::cos(2 * M_PI * t / half);
        taps[k] = sinc * window;
    }
    std::vector<double> filtered(frames);
    double peak = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        double sum = 0;
        for (int k = 0; k <= 2 * half; ++k) sum += taps[k] * white[i + k];
        filtered[i] = sum;
        peak = std::max(peak, std::fabs(sum));
    }
    std::vector<float> x(frames);
    for (std::size_t i = 0; i < frames; ++i) x[i] = static_cast<float>(0.5 * filtered[i] / peak);
    return x;
}

// Error energy over signal energy in decibels, leaving out a margin at both ends.
double ErrorDecibels(const float* y, const std::vector<double>& reference, std::size_t margin) {
    double error = 0, signal = 0;
    for (std::size_t k = margin; k + margin < reference.size(); ++k) {
        const double e = static_cast<double>(y[k]) - reference[k];
        error += e * e;
        signal += reference[k] * reference[k];
    }
    return 10 * std::log10(error / signal);
}

TEST_F(Resample, FollowsItsKernelAndAgreesWithLibsamplerate) {
    const int rate = 44100;
    const std::int64_t s = 44100;
    const std::int64_t d = 48000;
    const std::vector<float> x = BandLimitedNoise(static_cast<std::size_t>(s), 2000, rate);
    const HandleValue source = MakeFloat(1, rate, x);
    const HandleValue out = Make(1, 32, rate, d, 1);
    ASSERT_EQ(ResampleSoftSound(source, out), 0);
    const float* y = Samples<float>(out);

    // The kernel in double precision: a sinc under a raised cosine that reaches zero at 128.5
    // samples, cut to the 128 or 129 source samples nearest the position, which is quantised down
    // to 1/128 sample. What is left is the truncation of the integer weights (about -69 dB).
    std::vector<double> ideal(static_cast<std::size_t>(d));
    for (std::int64_t k = 0; k < d; ++k) {
        const std::int64_t i = k * s / d;
        const std::int64_t a = k * s % d;
        const double position = static_cast<double>(i) + static_cast<double>(a * 128 / d) / 128;
        double sum = 0;
        for (std::int64_t u = std::max<std::int64_t>(a > 0 ? i - 63 : i - 64, 0);
             u <= std::min<std::int64_t>(i + 64, s - 1); ++u) {
            const double t = position - static_cast<double>(u);
            const double sinc = t == 0 ? 1 : std::sin(M_PI * t) / (M_PI * t);
            sum +=
                x[static_cast<std::size_t>(u)] * sinc * (0.5 + 0.5 * std::cos(2 * M_PI * t / 257));
        }
        ideal[static_cast<std::size_t>(k)] = sum;
    }
    EXPECT_LT(ErrorDecibels(y, ideal, 0), -65.0);

    // Against libsamplerate's best converter. The kernel's cut-off, where its window still stands
    // at one half, leaves a gain that varies with the position by up to -52 dB (half-sample
    // positions): on noise this comes to about -57 dB, the limit of this agreement.
    std::vector<float> reference(static_cast<std::size_t>(d) + 100);
    SRC_DATA data{};
    data.data_in = x.data();
    data.input_frames = static_cast<long>(s);
    data.data_out = reference.data();
    data.output_frames = static_cast<long>(reference.size());
    data.src_ratio = 48000.0 / 44100.0;
    ASSERT_EQ(src_simple(&data, SRC_SINC_BEST_QUALITY, 1), 0);
    ASSERT_GE(data.output_frames_gen, d - 10);
    const std::vector<double> best(reference.begin(), reference.begin() + d);
    const double db = ErrorDecibels(y, best, 1000);
    EXPECT_LT(db, -55.0);
    // The same limit holds for the exact kernel: the difference is the kernel's, not the code's.
    const std::vector<float> idealSamples(ideal.begin(), ideal.end());
    EXPECT_NEAR(db, ErrorDecibels(idealSamples.data(), best, 1000), 0.5);
}

}  // namespace
