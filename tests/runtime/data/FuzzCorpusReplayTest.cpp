// Replays the data-file fuzz target's seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include "fuzz/DataFileFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(DataFileFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_FUZZ_CORPUS_DIR, &RunDataFileFuzzInput, 10);
}
