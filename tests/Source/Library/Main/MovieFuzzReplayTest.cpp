// Replays the Theora movie decoder fuzz target's seed corpus and every input that once failed
// through the same entry point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/MovieFuzzEntry.h"

TEST(MovieFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_MOVIE_FUZZ_DIR, &RunMovieFuzzInput, 9);
}
