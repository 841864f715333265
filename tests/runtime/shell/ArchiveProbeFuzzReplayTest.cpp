// The archive header probe's fuzz entry over its seed corpus and past failures.
#include "fuzz/ArchiveProbeFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(ArchiveProbeFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_ARCHIVEPROBE_FUZZ_DIR, &RunArchiveProbeFuzzInput, 5);
}
