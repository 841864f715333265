// The save file reader's fuzz entry over its seeds and past failures, and a check that the seeds
// are whole saves whose damage fails cleanly.
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "DataTestSupport.h"
#include "fuzz/FuzzReplay.h"
#include "fuzz/SaveFileFuzzEntry.h"

namespace {

const std::filesystem::path kFolder = VELK_SAVEFILE_FUZZ_DIR;

TEST(SaveFileFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    // VELK_WRITE_SAVE_SEEDS=1 writes the corpus again from the seeds' makers.
    const auto seeds = MakeSaveFileFuzzSeeds();
    ASSERT_EQ(seeds.size(), 3u);
    if (std::getenv("VELK_WRITE_SAVE_SEEDS")) {
        for (std::size_t i = 0; i < seeds.size(); ++i) {
            std::ofstream out(kFolder / "corpus" / ("save-" + std::to_string(i)), std::ios::binary);
            out.write(reinterpret_cast<const char*>(seeds[i].data()),
                      static_cast<std::streamsize>(seeds[i].size()));
        }
    }
    ReplayFuzzCorpus(kFolder, &RunSaveFileFuzzInput, 3);
}

TEST(SaveFileFuzzCorpusTest, SeedsReadWholeAndTheirDamageFailsCleanly) {
    for (const auto& seed : MakeSaveFileFuzzSeeds()) {
        EXPECT_TRUE(AcceptsSaveFile(seed));
        for (std::size_t cut = 0; cut < seed.size(); cut += 5)
            EXPECT_FALSE(AcceptsSaveFile({seed.begin(), seed.begin() + cut})) << cut;
        for (std::size_t at = 20; at < seed.size(); at += 3) {
            auto damaged = seed;
            damaged[at] ^= 0x80;
            RunSaveFileFuzzInput(damaged.data(), damaged.size());
        }
    }
}

}  // namespace
