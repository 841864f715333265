// The load of a 10-second Ogg Vorbis sound effect from a file image in memory, as the runtime loads
// every SE (mode 0: decoded whole into three buffers), against the converter's whole-sound decode
// of the same image alone (compare the two times: the load adds its buffers and the copy).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "Main/DuZuder.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "platform/Mmdevapi.h"
#include "tools/sound/SoundWriter.h"

using namespace ZiDaz;

namespace {

const velk::sound::Bytes& SoundEffect() {
    static const velk::sound::Bytes image = velk::sound::EncodeVorbis(
        velk::sound::SineWave(2, 44100, 440.0, 8000.0, 10 * 44100), 2, 44100);
    return image;
}

// The sound module on an output nobody drains: the load needs it up, and nothing plays.
struct SoundModule {
    SoundModule() {
        EnableLogOutput(0);
        platform::audio::UsePullDevice(true);
        started = StartSoundSystem() == 0;
    }
    ~SoundModule() {
        if (started) ShutdownSoundSystem();
    }
    bool started = false;
};

void BM_LoadSoundMode0(benchmark::State& state) {
    static SoundModule module;
    if (!module.started) {
        state.SkipWithError("the sound output did not start");
        return;
    }
    const velk::sound::Bytes& image = SoundEffect();
    SetSoundLoadMode(0);
    for (auto _ : state) {
        const HandleValue h = LoadSoundFromMemoryImage(image.data(), image.size(), 3, -1);
        if (h < 0) {
            state.SkipWithError("the load failed");
            return;
        }
        DeleteHandle(h);
    }
}
BENCHMARK(BM_LoadSoundMode0)->Unit(benchmark::kMillisecond);

void BM_ConvertWholeSound(benchmark::State& state) {
    const velk::sound::Bytes& image = SoundEffect();
    for (auto _ : state) {
        MemoryStream* memory = CreateMemoryStream(image.data(), image.size());
        StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
        SoundConvertState convert{};
        SoundFormat format{};
        void* pcm = nullptr;
        std::uint32_t bytes = 0;
        if (BeginSoundConversion(&convert, &binding, 0, 2, 0) != 0 ||
            ConvertWholeSound(&convert, &format, &pcm, &bytes) != 0) {
            state.SkipWithError("the conversion failed");
            return;
        }
        EndSoundConversion(&convert);
        FreeTrackedMemory(pcm);
        FreeMemoryStream(memory);
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_ConvertWholeSound)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
