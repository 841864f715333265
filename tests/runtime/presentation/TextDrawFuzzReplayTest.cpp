// Replays the text engine's fuzz seed corpus and every input that once failed through the same
// entry point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/TextDrawFuzzEntry.h"

TEST(TextDrawFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_TEXTDRAW_FUZZ_DIR, &RunTextDrawFuzzInput, 8);
}
