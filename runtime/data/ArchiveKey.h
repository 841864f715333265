// The archive key file, which tells the player the key and the extension of a game's archives,
// and the small record the start-up code probes archive headers with. Both are read with plain
// C-library file calls, never through the library's file layer.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The key file's layout (our own; tools/gamedata writes it):
//   0      seed byte of the block's scrambling
//   1      extension index (0..7)
//   2      key length (1..127)
//   3..19  filler
//   20     the scrambled block of kArchiveKeyBlockSize bytes; key character i is block byte
//          kArchiveKeyFirstPick + i x kArchiveKeyStride
//   23735  closing check byte, kArchiveKeyCheckValue
inline constexpr std::size_t kArchiveKeyFileSize = 23736;
inline constexpr std::size_t kArchiveKeyBlockOffset = 20;
inline constexpr std::size_t kArchiveKeyBlockSize = 23715;
inline constexpr std::size_t kArchiveKeyFirstPick = 7;
inline constexpr std::size_t kArchiveKeyStride = 181;
inline constexpr std::size_t kArchiveKeyMaxLength = 127;
inline constexpr std::uint8_t kArchiveKeyCheckValue = 0xA7;

inline constexpr const char* kArchiveKeyBaseNames[5] = {"Game", "List", "Data2", "GameFile",
                                                        "BasicData2"};
inline constexpr const char* kArchiveExtensions[8] = {".velk",   ".data",    ".pak", ".bin",
                                                      ".assets", ".content", ".res", ".resource"};

// Where FindArchiveKeyFile looks.
enum class ArchiveKeyFolder { ExeFolder = 0, DataFolder = 1 };

// Looks for the key file in the executable's folder (`exeFolder`, ending with a separator) or in
// the data folder (`exeFolder` + `dataFolderPath`, whose trailing separator is kept as the host's
// separator). Returns the key, empty when there is none; a valid file also sets `extension`.
// The extension is set without its leading dot. Any other folder choice returns the empty key
// at once.
std::string FindArchiveKeyFile(int folderChoice, std::string& extension,
                               const std::string& exeFolder, const std::string& dataFolderPath);

// Reads the key file at `path`; empty key when it is missing or not valid (then `extension` is
// left as it was).
std::string ReadArchiveKeyFile(const std::string& path, std::string& extension);
// The same on bytes already in memory.
std::string ParseArchiveKeyFile(std::vector<std::uint8_t> bytes, std::string& extension);

// Reads `count` bytes with the C library's block read in pieces of at most 2,147,483,647 bytes;
// a count of 0 or less reads nothing. Short reads are not reported.
void ReadFileChunked(void* destination, std::FILE* file, std::int64_t count);

// The record the archive probe uses.
struct Game_Archive {
    std::FILE* file = nullptr;
    std::vector<std::uint8_t> buffers[2];

    void Reset();
    void Close();
};
