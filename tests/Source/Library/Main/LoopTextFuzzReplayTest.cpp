// Replays the loop text reader's fuzz seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/LoopTextFuzzEntry.h"

TEST(LoopTextFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_LOOPTEXT_FUZZ_DIR, &RunLoopTextFuzzInput, 8);
}
