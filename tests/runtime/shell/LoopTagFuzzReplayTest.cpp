// The loop-tag scan's fuzz entry over its seed corpus and past failures.
#include "fuzz/FuzzReplay.h"
#include "fuzz/LoopTagFuzzEntry.h"

TEST(LoopTagFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_LOOPTAG_FUZZ_DIR, &RunLoopTagFuzzInput, 8);
}
