#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Main/DuZuder.h"
#include "SoundConvertSupport.h"

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

// A software-mixed output, drained frame block by frame block like a pull device.
class SoundMixer : public ::testing::Test {
  protected:
    void SetUp() override { StartOutput(2, 16, 0); }
    void TearDown() override {
        for (SoundBuffer& b : buffers_) ReleaseSoundBuffer(&b);
        EndSoftwareMixOutput();
    }
    void StartOutput(int channels, int bits, int floatSamples, int validBits = 0) {
        SoundFormat f = PcmFormat(channels, 44100, bits);
        if (floatSamples) f.formatTag = kSoundFormatFloat;
        ASSERT_EQ(SetUpSoftwareMixOutput(&f, validBits ? validBits : bits, floatSamples, 3), 0);
        ASSERT_EQ(AllocateMixBuffer(floatSamples, 1024), 0);
    }
    SoundBuffer* Make16(int channels, int rate, const std::vector<std::int16_t>& samples) {
        SoundBuffer* b = &buffers_[used_++];
        const SoundFormat f = PcmFormat(channels, rate, 16);
        const int bytes = static_cast<int>(samples.size() * 2);
        EXPECT_EQ(SetUpSoundBuffer(b, bytes, &f, nullptr, 0), 0);
        std::memcpy(b->waveData->data, samples.data(), bytes);
        return b;
    }
    SoundBuffer* MakeRaw(int channels, int bits, const std::vector<std::uint8_t>& bytes) {
        SoundBuffer* b = &buffers_[used_++];
        const SoundFormat f = PcmFormat(channels, 44100, bits);
        EXPECT_EQ(SetUpSoundBuffer(b, static_cast<int>(bytes.size()), &f, nullptr, 0), 0);
        std::memcpy(b->waveData->data, bytes.data(), bytes.size());
        return b;
    }
    // Stereo 16-bit output frames.
    std::vector<std::int16_t> Mix(std::uint32_t frames) {
        std::vector<std::int16_t> out(frames * 2);
        EXPECT_EQ(MixSoundBuffers(out.data(), out.data() + 1, 4, frames), 0);
        return out;
    }
    SoundBuffer buffers_[4] = {};
    int used_ = 0;
};

TEST(SoundTables, SineAndEightBitEntries) {
    FillSoundTables();
    EXPECT_EQ(g_SoundSystem.sineTable[0], 0);
    EXPECT_EQ(g_SoundSystem.sineTable[8192], 11585);
    EXPECT_EQ(g_SoundSystem.sineTable[16384], 16384);
    EXPECT_EQ(g_SoundSystem.sineTable[65535], -1);
    EXPECT_EQ(g_SoundSystem.eightBitTable[0], -32768);
    EXPECT_EQ(g_SoundSystem.eightBitTable[128], 128);
    EXPECT_EQ(g_SoundSystem.eightBitTable[255], 32767);
}

TEST(SoundFactors, PanAndVolume) {
    const struct {
        std::int32_t pan;
        float factor;
    } pans[] = {{-10000, -1.0f}, {0, 0.0f}, {10000, 1.0f}, {-2000, -0.9f}, {2000, 0.9f}};
    for (const auto& c : pans) EXPECT_NEAR(SoundPanToFactor(c.pan), c.factor, 1e-6) << c.pan;
    EXPECT_EQ(SoundPanToFactor(-10000), -1.0f);
    EXPECT_EQ(SoundPanToFactor(10000), 1.0f);
    EXPECT_EQ(SoundVolumeToGain(-10000), 0.0f);
    EXPECT_EQ(SoundVolumeToGain(-20000), 0.0f);
    EXPECT_NEAR(SoundVolumeToGain(-2000), 0.1f, 1e-7);
    EXPECT_EQ(SoundVolumeToGain(0), 1.0f);
    EXPECT_EQ(ConvertSamplesToMs(44100, 44100), 1000u);
    EXPECT_EQ(ConvertSamplesToMs(48000, 0xFFFFFFFFFFFFull), 0xFFFFFFFFFFFFull * 1000 / 48000);
}

TEST_F(SoundMixer, BufferLayerLocksPositionsAndFrequency) {
    SoundBuffer* b = Make16(2, 44100, std::vector<std::int16_t>(200));  // 100 frames
    void *first, *second;
    std::int32_t firstLength, secondLength;
    ASSERT_EQ(LockSoundBuffer(b, 360, 80, &first, &firstLength, &second, &secondLength), 0);
    EXPECT_EQ(first, b->waveData->data + 360);
    EXPECT_EQ(firstLength, 40);
    EXPECT_EQ(second, b->waveData->data);
    EXPECT_EQ(secondLength, 40);
    ASSERT_EQ(LockSoundBuffer(b, 0, 40, &first, &firstLength, &second, &secondLength), 0);
    EXPECT_EQ(firstLength, 40);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(secondLength, 0);

    EXPECT_EQ(SetSoundBufferPosition(b, 400), -1);
    EXPECT_EQ(SetSoundBufferPosition(b, 404), -1);
    EXPECT_EQ(SetSoundBufferPosition(b, 396), 0);
    std::int32_t play = 0, write = 0;
    EXPECT_EQ(GetSoundBufferPosition(b, &play, &write), 0);
    EXPECT_EQ(play, 396);

    // Back to the own rate: resampling stops only when the fraction is within 0.0001.
    EXPECT_EQ(SetSoundBufferFrequency(b, 22050), 0);
    EXPECT_EQ(b->resampling, 1);
    b->fractionalPosition = b->mixPosition + 0.00005;
    EXPECT_EQ(SetSoundBufferFrequency(b, 0), 0);
    EXPECT_EQ(b->resampling, 0);
    EXPECT_EQ(SetSoundBufferFrequency(b, 22050), 0);
    b->fractionalPosition = b->mixPosition + 0.5;
    EXPECT_EQ(SetSoundBufferFrequency(b, 44100), 0);
    EXPECT_EQ(b->resampling, 1);

    EXPECT_EQ(SetSoundBufferVolume(b, 8, 0), -1);
    EXPECT_EQ(SetSoundBufferPan(b, -30000), 0);
    std::int32_t pan;
    GetSoundBufferPan(b, &pan);
    EXPECT_EQ(pan, -10000);
    EXPECT_EQ(b->panFactor, -1.0f);

    // A duplicate shares the data, which lives while any holder does.
    SoundBuffer* dup = &buffers_[used_++];
    ASSERT_EQ(SetUpSharedSoundBuffer(dup, b, 0), 0);
    EXPECT_EQ(dup->waveData, b->waveData);
    EXPECT_EQ(b->waveData->referenceCount, 2);
    EXPECT_EQ(dup->length, 100);
    EXPECT_EQ(SetUpSoundBuffer(dup, 4, &b->format, nullptr, 0), -1);
}

TEST_F(SoundMixer, ConverterOutputFillsBothLockedRegions) {
    velk::sound::WaveSpec spec;
    spec.channels = 2;
    spec.bitsPerSample = 16;
    spec.sampleRate = 44100;
    velk::sound::Bytes data(4 * 150);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    MemoryConversion conv(velk::sound::WriteWave(spec, data));
    ASSERT_EQ(conv.Begin(), 0);
    SoundBuffer* b = Make16(2, 44100, std::vector<std::int16_t>(200));  // 100-frame ring
    SoundBufferLockRegion region{};
    region.startOffset = 320;
    ASSERT_EQ(LockSoundBuffer(b, 320, 240, &region.first, &region.firstLength, &region.second,
                              &region.secondLength),
              0);
    region.firstFree = region.firstLength;
    region.secondFree = region.secondLength;
    EXPECT_EQ(CopyConverterOutputToLockedRegion(&region, conv.state(), 240), 240);
    EXPECT_EQ(region.firstWritten, 80);
    EXPECT_EQ(region.secondWritten, 160);
    EXPECT_EQ(std::memcmp(b->waveData->data + 320, data.data(), 80), 0);
    EXPECT_EQ(std::memcmp(b->waveData->data, data.data() + 80, 160), 0);
    // The rest of the sound is shorter than the room: the copy stops at its end.
    region = SoundBufferLockRegion{};
    LockSoundBuffer(b, 0, 400, &region.first, &region.firstLength, &region.second,
                    &region.secondLength);
    region.firstFree = region.firstLength;
    EXPECT_EQ(CopyConverterOutputToLockedRegion(&region, conv.state(), 400), 360);
}

TEST_F(SoundMixer, UnscaledAndHalfGain) {
    SoundBuffer* b = Make16(2, 44100, {1000, -3001, 7, -7});
    ASSERT_EQ(PlaySoundBuffer(b, 1), 0);
    std::vector<std::int16_t> out = Mix(2);
    EXPECT_EQ(out, (std::vector<std::int16_t>{1000, -3001, 7, -7}));
    b->gainFactor = 0.5f;
    out = Mix(2);
    EXPECT_EQ(out, (std::vector<std::int16_t>{500, -1500, 3, -3}));
    b->gainFactor = 1.0f;
    b->panFactor = 1.0f;
    out = Mix(1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], -3001);
}

TEST_F(SoundMixer, OverloadGainRecoversOverHalfASecond) {
    std::vector<std::int16_t> full(44100 * 2, 32767);
    SoundBuffer* a = Make16(2, 44100, full);
    SoundBuffer* b = Make16(2, 44100, full);
    a->gainFactor = b->gainFactor = 0.5f;  // exactly full scale together: no overload
    PlaySoundBuffer(a, 1);
    PlaySoundBuffer(b, 1);
    std::vector<std::int16_t> out = Mix(4);
    EXPECT_EQ(out[0], 32766);
    a->gainFactor = b->gainFactor = 1.0f;
    out = Mix(1);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], 32767);
    // Every frame overloads again, so the gain keeps restarting at 0.5.
    out = Mix(100);
    for (std::int16_t v : out) EXPECT_EQ(v, 32767);
    // Silence: the gain is tracked while it recovers linearly, and the frame after half a
    // second is unscaled again.
    StopSoundBuffer(b, 0);
    std::vector<std::int16_t> small(44100 * 2, 1000);
    std::memcpy(a->waveData->data, small.data(), small.size() * 2);
    out = Mix(22050);
    EXPECT_EQ(out[0], 500);           // just after the overload: gain 0.5
    EXPECT_EQ(out[2 * 11025], 750);   // half way
    EXPECT_EQ(out[2 * 22048], 999);   // nearly recovered
    EXPECT_EQ(out[2 * 22049], 1000);  // half a second after the overload: unscaled
    out = Mix(1);
    EXPECT_EQ(out[0], 1000);
}

TEST_F(SoundMixer, ResamplesHalfRateToMidpoints) {
    SoundBuffer* b = Make16(1, 22050, {0, 1000, 3000, 2000});
    PlaySoundBuffer(b, 0);
    std::vector<std::int16_t> out = Mix(8);
    const std::int16_t left[] = {0, 500, 1000, 2000, 3000, 2500, 2000, 1000};
    for (int k = 0; k < 8; ++k) EXPECT_EQ(out[2 * k], left[k]) << k;
    // The step past the last frame ends the voice within the same block.
    EXPECT_EQ(IsSoundBufferPlaying(b), 0);
    EXPECT_EQ(b->position, 4);
}

TEST_F(SoundMixer, SourceDepths) {
    // 24-bit: the top two bytes; 32-bit integer: the top two bytes; 8-bit through the table.
    SoundBuffer* b24 = MakeRaw(1, 24, {0xFF, 0x34, 0x12});
    PlaySoundBuffer(b24, 1);
    EXPECT_EQ(Mix(1)[0], 0x1234);
    StopSoundBuffer(b24, 0);
    SoundBuffer* b32 = MakeRaw(1, 32, {0xFF, 0xFF, 0x00, 0x80});
    PlaySoundBuffer(b32, 1);
    EXPECT_EQ(Mix(1)[0], -32768);
    StopSoundBuffer(b32, 0);
    SoundBuffer* b8 = MakeRaw(1, 8, {128, 0, 255});
    PlaySoundBuffer(b8, 0);
    std::vector<std::int16_t> out = Mix(3);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[2], -32768);
    EXPECT_EQ(out[4], 32767);
}

TEST_F(SoundMixer, LoopWrapsAndEndingBufferLeavesList) {
    std::vector<std::int16_t> ramp(100);
    for (int i = 0; i < 100; ++i) ramp[i] = static_cast<std::int16_t>(i);
    SoundBuffer* loop = Make16(1, 44100, ramp);
    PlaySoundBuffer(loop, 1);
    std::vector<std::int16_t> out = Mix(441);
    for (int k = 0; k < 441; ++k) ASSERT_EQ(out[2 * k], k % 100) << k;
    EXPECT_EQ(loop->position, 41);
    StopSoundBuffer(loop, 0);

    SoundBuffer* once = Make16(1, 44100, std::vector<std::int16_t>(30, 5));
    PlaySoundBuffer(once, 0);
    out = Mix(64);
    EXPECT_EQ(out[2 * 29], 5);
    EXPECT_EQ(out[2 * 30], 0);
    EXPECT_EQ(IsSoundBufferPlaying(once), 0);
    EXPECT_EQ(once->inMixerList, 0);
    EXPECT_EQ(once->position, 30);
    EXPECT_EQ(g_SoundSystem.mixerListHead.next, &g_SoundSystem.mixerListTail);
}

TEST_F(SoundMixer, MonoAndFloatOutputs) {
    EndSoftwareMixOutput();
    StartOutput(1, 16, 0);
    SoundBuffer* b = Make16(2, 44100, {1001, 2000});
    PlaySoundBuffer(b, 1);
    std::int16_t mono[2] = {};
    ASSERT_EQ(MixSoundBuffers(mono, mono, 2, 2), 0);
    EXPECT_EQ(mono[0], 1500);
    StopSoundBuffer(b, 0);

    EndSoftwareMixOutput();
    StartOutput(1, 32, 1);
    PlaySoundBuffer(b, 1);
    float f[1] = {};
    ASSERT_EQ(MixSoundBuffers(f, f, 4, 1), 0);
    EXPECT_FLOAT_EQ(f[0], (1001.0f + 2000.0f) / 32768 * 0.5f);
    StopSoundBuffer(b, 0);

    // 24 valid bits in 32-bit containers keep sign and level.
    EndSoftwareMixOutput();
    StartOutput(2, 32, 0, 24);
    SoundBuffer* n = Make16(2, 44100, {-2, 3});
    PlaySoundBuffer(n, 1);
    std::int32_t out[2] = {};
    ASSERT_EQ(MixSoundBuffers(out, out + 1, 8, 1), 0);
    EXPECT_EQ(out[0], -2 * 65536);
    EXPECT_EQ(out[1], 3 * 65536);

    EndSoftwareMixOutput();
    EXPECT_EQ(MixSoundBuffers(out, out + 1, 8, 1), -1);
    StartOutput(2, 16, 0);
}

}  // namespace
