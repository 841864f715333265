// A started sound module whose output the test drives itself: the WASAPI output runs on the pull
// device, which nobody drains, so after its first block the render thread mixes nothing more and
// the test calls the mixer (16-bit output) and the service steps by hand, frame for frame.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Main/DuZuder.h"
#include "Main/Windows/DuZuderWin.h"
#include "Main/Windows/DxWindow.h"
#include "Source/Library/Main/LogCapture.h"
#include "platform/Mmdevapi.h"
#include "tools/sound/SoundWriter.h"

namespace ZiDaz {

struct MixedFrame {
    std::int16_t left;
    std::int16_t right;
};

// The ramp's frame index: left = i & 0x7FFF, right = i >> 15.
inline std::int64_t RampIndex(const MixedFrame& f) {
    return static_cast<std::int64_t>(static_cast<std::uint16_t>(f.left) & 0x7FFF) |
           (static_cast<std::int64_t>(f.right) << 15);
}

class SoundPlayTest : public LogCaptureTest {
  protected:
    void SetUp() override {
        LogCaptureTest::SetUp();
        platform::audio::ResetAudioHooks();
        platform::audio::UsePullDevice(true);
        platform::audio::SetMixFormatKind(platform::audio::MixFormatKind::Int16Extensible);
        g_SoundOutput.useXAudio2 = 0;
        g_SoundOutput.wasapiOff = 0;
        processors_ = SystemReport.logicalProcessorCount;
        SystemReport.logicalProcessorCount = processors();
        SetSoundLoadIgnoreLoopInfo(0);
        ASSERT_EQ(StartSoundSystem(), 0);
        // The render thread's first block; nothing is drained, so it is also its last.
        for (int i = 0; i < 400 && g_SoundSystem.totalMixedFrames < g_SoundOutput.bufferFrames;
             ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    void TearDown() override {
        if (g_SoundSystem.initialised) ShutdownSoundSystem();
        SetSoundLoadIgnoreLoopInfo(0);
        SystemReport.logicalProcessorCount = processors_;
        platform::audio::ResetAudioHooks();
        LogCaptureTest::TearDown();
    }
    virtual int processors() const { return 1; }

    // Mixes `frames` frames in steps of 441 (10 ms), running the service steps before each.
    std::vector<MixedFrame> Mix(std::size_t frames) {
        std::vector<MixedFrame> out(frames);
        std::size_t done = 0;
        while (done < frames) {
            RefreshStreamSounds();
            PruneStoppedSounds();
            const std::size_t n = frames - done < 441 ? frames - done : 441;
            EXPECT_EQ(MixSoundBuffers(&out[done].left, &out[done].right, 4,
                                      static_cast<std::uint32_t>(n)),
                      0);
            done += n;
        }
        return out;
    }
    static std::vector<std::int64_t> Indices(const std::vector<MixedFrame>& frames) {
        std::vector<std::int64_t> out;
        out.reserve(frames.size());
        for (const MixedFrame& f : frames) out.push_back(RampIndex(f));
        return out;
    }
    std::filesystem::path WriteFile(const std::string& name, const velk::sound::Bytes& bytes) {
        const std::filesystem::path path = folder_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::u16string U16(const std::filesystem::path& path) {
        const std::string s = path.string();
        return std::u16string(s.begin(), s.end());
    }
    static SoundHandleData* Data(HandleValue h) { return GetSoundHandleData(h); }
    int Count(const std::string& text) const {
        const std::string log = LogBytes();
        int n = 0;
        for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
    int processors_ = 0;
};

inline SoundFormat Pcm16Format(int channels = 2, int rate = 44100) {
    SoundFormat f{};
    f.formatTag = kSoundFormatPcm;
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    f.bitsPerSample = 16;
    f.blockAlign = static_cast<std::uint16_t>(channels * 2);
    f.avgBytesPerSec = f.blockAlign * f.samplesPerSec;
    return f;
}

// A 16-bit stereo ramp WAVE at 44,100 Hz.
inline velk::sound::Bytes RampWaveFile(std::size_t frames,
                                       std::vector<velk::sound::WaveChunk> after = {}) {
    velk::sound::WaveSpec spec;
    spec.afterData = std::move(after);
    return velk::sound::WriteWave(spec, velk::sound::PcmBytes16(velk::sound::RampWave(2, frames)));
}

}  // namespace ZiDaz
