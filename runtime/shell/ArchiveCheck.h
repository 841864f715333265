// Which form the game's data has (a plain folder, one archive beside the executable for the whole
// data folder, or archives inside it), the archive key by the archives' key generation, and the
// preload of the archives into memory within a budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What ProbeArchiveVersion finds.
inline constexpr std::int32_t kArchiveMissing = -1;     // neither the file nor the folder
inline constexpr std::int32_t kArchivePlainFolder = 0;  // no file, but the folder
inline constexpr std::int32_t kArchiveNotArchive = -2;  // no "DX" magic
inline constexpr std::int32_t kArchiveTooOld = 9;       // format other than 8
inline constexpr std::int32_t kArchiveUnknownGeneration = -3;
// Key generations of format-8 archives and the high 16 bits of the header value at offset 44
// that mark them.
inline constexpr std::int32_t kArchiveGeneration10 = 10;
inline constexpr std::int32_t kArchiveGeneration11 = 11;
inline constexpr std::int32_t kArchiveGeneration12 = 12;
inline constexpr std::uint16_t kArchiveGenerationMark11 = 300;
inline constexpr std::uint16_t kArchiveGenerationMark12 = 314;

// The generation the first `size` bytes of an archive file tell (at most 64 are looked at; a
// shorter file counts its missing bytes as 0): -2, 9, 10, 11, 12 or -3.
std::int32_t ClassifyArchiveHeader(const std::uint8_t* header, std::size_t size);
// Probes the archive at `path` (UTF-8; read with plain file calls): the generation, or 0 / -1 when
// it cannot be opened and the folder named like it without its extension exists / does not.
std::int32_t ProbeArchiveVersion(const std::string& path);

// The key every archive of generation 10, 11 or 12 is scrambled with (30, 40 and 45 characters,
// no zero among them); empty for any other generation.
std::string ArchiveGenerationKey(std::int32_t generation);

// The outcome of the archive check.
struct ArchiveCheckResult {
    bool ok = false;
    std::int32_t generation = 0;  // of the archive beside the executable or the accepted one inside
    std::string key;              // handed to the archive layer (empty: its default)
    std::string extension;        // with its dot
    std::u16string message;       // the reason when the start is abandoned
};
// The check of the data folder `dataFolder` (ending in "/") below `exeFolder`, with the archive
// extension `extension` (with its dot). Reads the archive key file, probes, and picks the key; it
// shows no message and sets nothing in the library.
ArchiveCheckResult CheckArchives(const std::string& exeFolder, const std::string& dataFolder,
                                 const std::string& extension);
// CheckArchives on the start-up's globals, then the message box or the hand-over of extension
// and key to the archive layer. False when the start is abandoned.
bool RunArchiveCheck();

// The preload budget: 60 % of the available physical memory, at most 3,145,728,000 bytes.
std::int64_t ArchivePreloadBudget(std::uint64_t availablePhysicalMemory);
// Archives at or above this size are never preloaded.
inline constexpr std::int64_t kArchivePreloadLimit = 134217728;

// The preload's calls; the defaults are the library's and the system's, tests record them.
struct ArchivePreloadCalls {
    std::uint64_t (*availablePhysicalMemory)();
    // 0 or more on success.
    int (*loadIntoMemory)(const std::string& path);
    int (*pumpMessages)();
};
ArchivePreloadCalls& GetArchivePreloadCalls();
void ResetArchivePreloadCalls();

// Loads the archive beside the executable, or else each archive inside the data folder, into
// memory while they fit the budget; the loaded ones go to PreloadedArchives.
void PreloadArchives(const std::string& exeFolder, const std::string& dataFolder);
// The archives loaded into memory, released at shut-down.
extern std::vector<std::string> PreloadedArchives;
