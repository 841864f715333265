// Replays the text codes' fuzz seed corpus and every input that once failed through the same entry
// point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/TextCodesFuzzEntry.h"

TEST(TextCodesFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_TEXTCODES_FUZZ_DIR, &RunTextCodesFuzzInput, 8);
}
