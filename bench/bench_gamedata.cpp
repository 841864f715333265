// Loading a game's maps: 500 map files of 100 x 100 tiles with 200 events each, written to a
// temporary folder once and read with the runtime's map reader (whole-file read, unscrambling,
// parsing, check).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "runtime/data/MapData.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

constexpr int kMapCount = 500;

class GeneratedGame {
  public:
    GeneratedGame() {
        folder_ = std::filesystem::temp_directory_path() /
                  ("velk_bench_gamedata_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder_);
        // Ten distinct maps, each written under 50 names in alternating forms.
        for (int m = 0; m < 10; ++m) {
            const Game_MapData map = gamedata::MakeSampleMap(100, 100, 200, 1000 + m);
            gamedata::MapFileOptions scrambled;
            scrambled.scrambled = true;
            scrambled.seeds = {static_cast<std::uint8_t>(m + 1), 77, 201};
            const auto plainBytes = gamedata::WriteMapFile(map, {});
            const auto scrambledBytes = gamedata::WriteMapFile(map, scrambled);
            bytes_ += plainBytes.size() * 25 + scrambledBytes.size() * 25;
            for (int k = 0; k < kMapCount / 10; ++k) {
                gamedata::SaveBytes((folder_ / Name(m * 50 + k)).string(),
                                    k % 2 ? scrambledBytes : plainBytes);
            }
        }
    }
    ~GeneratedGame() { std::filesystem::remove_all(folder_); }

    static std::string Name(int i) { return "Map" + std::to_string(i) + ".mps"; }
    std::string Folder() const { return folder_.string() + "/"; }
    std::size_t Bytes() const { return bytes_; }

  private:
    std::filesystem::path folder_;
    std::size_t bytes_ = 0;
};

void BM_LoadGeneratedGameMaps(benchmark::State& state) {
    static GeneratedGame game;
    Game_MapData map;
    for (auto _ : state) {
        for (int i = 0; i < kMapCount; ++i) {
            if (!ReadMapFile(map, GeneratedGame::Name(i), game.Folder())) {
                state.SkipWithError("a generated map did not load");
                return;
            }
            benchmark::DoNotOptimize(map.events.data());
        }
    }
    state.counters["maps_per_second"] = benchmark::Counter(
        static_cast<double>(kMapCount), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB_per_second"] = benchmark::Counter(
        static_cast<double>(game.Bytes()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadGeneratedGameMaps)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
