// Replays the common-event fuzz target's seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include <filesystem>

#include "fuzz/CommonEventFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(CommonEventFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(std::filesystem::path(VELK_FUZZ_DIR) / "commonevents",
                     &RunCommonEventFuzzInput, 6);
}
