// The tile image list's fuzz entry over its seed corpus and past failures.
#include "fuzz/FuzzReplay.h"
#include "fuzz/TileImageListFuzzEntry.h"

TEST(TileImageListFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_TILEIMAGELIST_FUZZ_DIR, &RunTileImageListFuzzInput, 6);
}
