// Replays the font data reader's fuzz target's seed corpus and every input that once failed
// through the same entry point as the fuzzer.
#include <cstring>

#include "Main/DxFont.h"
#include "fuzz/FontDataFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(FontDataFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_FONTDATA_FUZZ_DIR, &RunFontDataFuzzInput, 8);
    // Later tests find the font module as a fresh program has it.
    ZiDaz::ShutdownFontSystem();
    std::memset(&ZiDaz::FontSystemState, 0, sizeof(ZiDaz::FontSystemState));
}
