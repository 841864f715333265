// Replays the fuzz target's seed corpus and every input that once failed through the same entry
// point as the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/DataFileFuzzEntry.h"

namespace {

void ReplayFolder(const std::filesystem::path& folder, std::size_t& count) {
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        SCOPED_TRACE(entry.path().string());
        RunDataFileFuzzInput(bytes.data(), bytes.size());
        ++count;
    }
}

}  // namespace

TEST(DataFileFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    std::size_t count = 0;
    ReplayFolder(std::filesystem::path(VELK_FUZZ_CORPUS_DIR) / "corpus", count);
    ReplayFolder(std::filesystem::path(VELK_FUZZ_CORPUS_DIR) / "regressions", count);
    EXPECT_GE(count, 6u);
}
