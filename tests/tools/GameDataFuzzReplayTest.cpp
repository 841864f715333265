// Replays the data-file seed corpus and every input that once failed through velk-gamedata's fuzz
// entry point: each accepted file encodes back to its own bytes.
#include <filesystem>

#include "fuzz/FuzzReplay.h"
#include "fuzz/GameDataFuzzEntry.h"

TEST(GameDataFuzzCorpusTest, SeedsAndPastFailuresEncodeBack) {
    const std::filesystem::path root = VELK_FUZZ_DIR;
    EXPECT_GE(ReplayFuzzFolder(root / "datafiles" / "corpus", &RunGameDataFuzzInput), 6u);
    ReplayFuzzFolder(root / "datafiles" / "regressions", &RunGameDataFuzzInput);
    ReplayFuzzFolder(root / "gamedata" / "regressions", &RunGameDataFuzzInput);
}
