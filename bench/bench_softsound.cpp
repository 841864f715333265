// The soft-sound transforms on 10 s of float stereo at 44,100 Hz: the resampler to 48,000 Hz
// against libsamplerate's medium sinc converter on the same samples (compare the two times), and
// the time stretch by 1.25 (its items are output samples, one per channel).
#include <benchmark/benchmark.h>
#include <samplerate.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Main/DuZuder.h"
#include "Main/DxHandle.h"
#include "Main/DxMemory.h"

using namespace ZiDaz;

namespace {

constexpr int kRate = 44100;
constexpr std::int64_t kFrames = 10 * kRate;
constexpr std::int64_t kResampledFrames = 10 * 48000;
constexpr std::int64_t kStretchedFrames = kFrames * 5 / 4;

// Music-like material: a few tones with a little noise.
std::vector<float> Material() {
    std::vector<float> samples(kFrames * 2);
    std::mt19937 random(1);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    for (std::int64_t i = 0; i < kFrames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double tone = 0.3 * std::sin(2 * M_PI * 220 * t) +
                            0.2 * std::sin(2 * M_PI * 330 * t) +
                            0.1 * std::sin(2 * M_PI * 1250 * t);
        samples[2 * i] = static_cast<float>(tone) + noise(random);
        samples[2 * i + 1] = static_cast<float>(0.8 * tone) + noise(random);
    }
    return samples;
}

// The sound module with a software-mixed output and the SoftSound handle type, for one benchmark.
struct SoftSoundModule {
    SoftSoundModule() {
        RegisterHandleType(DX_HANDLETYPE_SOFTSOUND, sizeof(SoftSoundHandleData),
                           kMaxSoftSoundHandles, nullptr, TerminateSoftSoundHandle, nullptr,
                           u"SoftSound");
        InitHandleList(&g_SoundSystem.softSoundPlayerListHead,
                       &g_SoundSystem.softSoundPlayerListTail);
        SoundFormat out{};
        out.formatTag = kSoundFormatPcm;
        out.channels = 2;
        out.samplesPerSec = kRate;
        out.blockAlign = 4;
        out.avgBytesPerSec = 4 * kRate;
        out.bitsPerSample = 16;
        SetUpSoftwareMixOutput(&out, 16, 0, 3);
        g_SoundSystem.initialised = 1;
        const std::vector<float> samples = Material();
        source = CreateSoftSound(0, 2, 32, kRate, kFrames, 1, -1, 0);
        std::memcpy(
            reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(source))->wave.samples,
            samples.data(), samples.size() * 4);
    }
    ~SoftSoundModule() {
        UnregisterHandleType(DX_HANDLETYPE_SOFTSOUND);
        g_SoundSystem.initialised = 0;
        EndSoftwareMixOutput();
    }
    HandleValue source = -1;
};

void BM_ResampleSoftSound(benchmark::State& state) {
    SoftSoundModule module;
    const HandleValue out = CreateSoftSound(0, 0, 0, 0, kResampledFrames, 0, module.source, 0);
    for (auto _ : state) {
        ResampleSoftSound(module.source, out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kResampledFrames * 2);
}
BENCHMARK(BM_ResampleSoftSound)->Unit(benchmark::kMillisecond);

void BM_LibsamplerateMediumSinc(benchmark::State& state) {
    const std::vector<float> in = Material();
    std::vector<float> out((kResampledFrames + 100) * 2);
    for (auto _ : state) {
        SRC_DATA data{};
        data.data_in = in.data();
        data.input_frames = static_cast<long>(kFrames);
        data.data_out = out.data();
        data.output_frames = static_cast<long>(out.size() / 2);
        data.src_ratio = 48000.0 / kRate;
        src_simple(&data, SRC_SINC_MEDIUM_QUALITY, 2);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kResampledFrames * 2);
}
BENCHMARK(BM_LibsamplerateMediumSinc)->Unit(benchmark::kMillisecond);

void BM_TimeStretchSoftSound(benchmark::State& state) {
    SoftSoundModule module;
    const HandleValue out = CreateSoftSound(0, 0, 0, 0, kStretchedFrames, 0, module.source, 0);
    for (auto _ : state) {
        TimeStretchSoftSound(module.source, out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kStretchedFrames * 2);
}
BENCHMARK(BM_TimeStretchSoftSound)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
