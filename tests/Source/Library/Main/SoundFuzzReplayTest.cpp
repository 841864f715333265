// Replays the sound converter fuzz target's seed corpus and every input that once failed through
// the same entry point as the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/SoundFuzzEntry.h"

namespace {

std::size_t ReplayFolder(const std::filesystem::path& folder) {
    std::size_t count = 0;
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    if (!std::filesystem::is_directory(folder)) return 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        SCOPED_TRACE(entry.path().string());
        RunSoundFuzzInput(bytes.data(), bytes.size());
        ++count;
    }
    return count;
}

}  // namespace

TEST(SoundFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    std::filesystem::path root(VELK_SOUND_FUZZ_DIR);
    EXPECT_GE(ReplayFolder(root / "corpus"), 8u);
    ReplayFolder(root / "regressions");
}
