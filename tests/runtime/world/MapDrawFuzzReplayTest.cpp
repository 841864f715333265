// The map renderer's fuzz entry over its seed corpus and past failures.
#include "fuzz/FuzzReplay.h"
#include "fuzz/MapDrawFuzzEntry.h"
#include "runtime/presentation/GraphicsTestSupport.h"

namespace {

class MapDrawFuzzCorpusTest : public graphics_test::LibraryTest {};

TEST_F(MapDrawFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_MAPDRAW_FUZZ_DIR, &RunMapDrawFuzzInput, 8);
}

}  // namespace
