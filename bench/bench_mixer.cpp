// The software mixer summing 32 stereo 16-bit voices, each with its own gain and pan, into
// 1,024-frame blocks of a 16-bit stereo output, against SDL_MixAudioFormat adding the same voices
// (with their volume) into the same block. Compare the per-voice times of the two.
#include <SDL2/SDL.h>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "Main/DuZuder.h"

using namespace ZiDaz;

namespace {

constexpr int kVoices = 32;
constexpr int kFrames = 1024;
constexpr int kVoiceFrames = 44100;

std::vector<std::int16_t> VoiceSamples(int voice) {
    std::vector<std::int16_t> samples(kVoiceFrames * 2);
    std::uint32_t state = 12345u + static_cast<std::uint32_t>(voice);
    for (std::int16_t& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>((state >> 16) % 2001) - 1000;
    }
    return samples;
}

void BM_MixSoundBuffers(benchmark::State& state) {
    SoundFormat out{};
    out.formatTag = kSoundFormatPcm;
    out.channels = 2;
    out.samplesPerSec = 44100;
    out.blockAlign = 4;
    out.avgBytesPerSec = 4 * 44100;
    out.bitsPerSample = 16;
    SetUpSoftwareMixOutput(&out, 16, 0, 3);
    AllocateMixBuffer(0, kFrames);
    std::vector<SoundBuffer> voices(kVoices);
    for (int v = 0; v < kVoices; ++v) {
        SoundBuffer& b = voices[v];
        b = SoundBuffer{};
        SetUpSoundBuffer(&b, kVoiceFrames * 4, &out, nullptr, 0);
        const std::vector<std::int16_t> samples = VoiceSamples(v);
        std::memcpy(b.waveData->data, samples.data(), samples.size() * 2);
        SetSoundBufferVolumeAll(&b, -600 - v * 10);
        SetSoundBufferPan(&b, (v % 2 ? 1 : -1) * 100 * v);
        PlaySoundBuffer(&b, 1);
    }
    std::vector<std::int16_t> block(kFrames * 2);
    for (auto _ : state) {
        MixSoundBuffers(block.data(), block.data() + 1, 4, kFrames);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * kVoices);
    for (SoundBuffer& b : voices) ReleaseSoundBuffer(&b);
    EndSoftwareMixOutput();
}
BENCHMARK(BM_MixSoundBuffers);

void BM_SdlMixAudioFormat(benchmark::State& state) {
    std::vector<std::vector<std::int16_t>> voices;
    for (int v = 0; v < kVoices; ++v) voices.push_back(VoiceSamples(v));
    std::vector<std::int16_t> block(kFrames * 2);
    int position = 0;
    for (auto _ : state) {
        std::memset(block.data(), 0, block.size() * 2);
        for (int v = 0; v < kVoices; ++v) {
            SDL_MixAudioFormat(reinterpret_cast<Uint8*>(block.data()),
                               reinterpret_cast<const Uint8*>(voices[v].data() + position * 2),
                               AUDIO_S16LSB, kFrames * 4, 64 + v);
        }
        position = (position + kFrames) % (kVoiceFrames - kFrames);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetItemsProcessed(state.iterations() * kVoices);
}
BENCHMARK(BM_SdlMixAudioFormat);

}  // namespace

BENCHMARK_MAIN();
