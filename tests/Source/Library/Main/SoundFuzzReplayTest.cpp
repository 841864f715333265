// Replays the sound converter fuzz target's seed corpus and every input that once failed through
// the same entry point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/SoundFuzzEntry.h"

TEST(SoundFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_SOUND_FUZZ_DIR, &RunSoundFuzzInput, 8);
}
