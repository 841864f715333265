// One fuzz input through the save file reader (header, scrambling, body prefix, the seven parts,
// closing byte and check byte), shared by the libFuzzer target and the test that replays the seed
// corpus and every input that once failed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The input is a whole save file. A save the reader accepts is written again and must read back;
// the entry aborts when it does not, or when the reader claims success past the bytes.
int RunSaveFileFuzzInput(const std::uint8_t* data, std::size_t size);

// Whether the save reader accepts the bytes as a save of the fuzz entry's game.
bool AcceptsSaveFile(const std::vector<std::uint8_t>& bytes);

// The seeds the corpus was made from: saves of a small game in the plain and the scrambled form,
// and one with code-page text.
std::vector<std::vector<std::uint8_t>> MakeSaveFileFuzzSeeds();
