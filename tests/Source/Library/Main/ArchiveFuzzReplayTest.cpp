// Replays the archive fuzz target's seed corpus and every input that once failed through the
// same entry point as the fuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "Source/Library/Main/LogCapture.h"
#include "fuzz/ArchiveFuzzEntry.h"
#include "fuzz/FuzzReplay.h"

TEST(ArchiveFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_ARCHIVE_FUZZ_DIR, &RunArchiveFuzzInput, 4);
}

namespace ZiDaz {
namespace {

using ArchiveFuzzLogTest = LogCaptureTest;

// The fuzzer runs in some working folder with the library's default, the log on. Its inputs switch
// the log off, so that what the library reports on them (a heap that cannot grow for a hostile
// size, say) leaves no "Log.txt" there.
TEST_F(ArchiveFuzzLogTest, InputsLeaveNoLogBehind) {
    std::filesystem::path root(VELK_ARCHIVE_FUZZ_DIR);
    for (const auto& entry : std::filesystem::directory_iterator(root / "corpus")) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
        RunArchiveFuzzInput(bytes.data(), bytes.size());
        // What the library would report while reading a hostile archive.
        WriteLogTextUtf16(u"ヒープ用メモリの確保に失敗しました\n");
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "Log.txt"));
}

}  // namespace
}  // namespace ZiDaz
