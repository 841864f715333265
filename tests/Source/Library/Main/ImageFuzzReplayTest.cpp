// Replays the image readers' fuzz target's seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include "fuzz/FuzzReplay.h"
#include "fuzz/ImageFuzzEntry.h"

TEST(ImageFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_IMAGE_FUZZ_DIR, &RunImageFuzzInput, 10);
}
