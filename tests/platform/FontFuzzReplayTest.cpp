// Replays the font fuzz target's seed corpus and every input that once failed through the same
// entry point as the fuzzer.
#include "fuzz/FontFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(FontFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_FONT_FUZZ_DIR, &RunFontFuzzInput, 3);
}
