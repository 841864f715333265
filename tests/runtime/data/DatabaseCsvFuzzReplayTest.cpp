// Replays the database CSV reader's fuzz seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include "fuzz/DatabaseCsvFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(DatabaseCsvFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_DBCSV_FUZZ_DIR, &RunDatabaseCsvFuzzInput, 6);
}
