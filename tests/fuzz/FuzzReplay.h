// Replays a fuzz target's inputs in the normal tests: every file of a folder (the seed corpus, or
// the inputs that once failed) through the same entry point as the fuzzer.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

using FuzzEntry = int (*)(const std::uint8_t* data, std::size_t size);

// Runs every file of the folder through the entry; returns how many ran.
inline std::size_t ReplayFuzzFolder(const std::filesystem::path& folder, FuzzEntry entry) {
    std::size_t count = 0;
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    if (!std::filesystem::is_directory(folder)) return 0;
    for (const auto& file : std::filesystem::directory_iterator(folder)) {
        if (!file.is_regular_file() || file.path().filename().string()[0] == '.') continue;
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        SCOPED_TRACE(file.path().string());
        entry(bytes.data(), bytes.size());
        ++count;
    }
    return count;
}

// The seeds (at least `minimumSeeds` of them) and the past failures under a target's folder.
inline void ReplayFuzzCorpus(const std::filesystem::path& root, FuzzEntry entry,
                             std::size_t minimumSeeds) {
    EXPECT_GE(ReplayFuzzFolder(root / "corpus", entry), minimumSeeds);
    ReplayFuzzFolder(root / "regressions", entry);
}
