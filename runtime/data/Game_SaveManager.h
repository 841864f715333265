// Save files and their manager.
//
// A save file is a 20-byte header (three seed bytes at 0, 3 and 9, the check byte at 2, 'U' at 6
// for UTF-8 text, 0 at 8, random filler elsewhere) and a body scrambled from offset 20 with the
// seeds: 0x19, the game's title as a short string, the int16 format number, the seven parts of a
// snapshot, 0x19. All three seeds 0 means a plain body whose check byte is not looked at.
//
// The manager keeps a cache of snapshots by full path, which files loaded and which are missing,
// and which cached snapshots were changed by single-value writes and wait for the next flush.
//
// A save never replaces the old file until the new one was written whole: the bytes go to a
// temporary file beside it, every write and the close are checked, and a rename puts it in place.
// A load into the live game is first read and checked whole in a scratch snapshot, so damage never
// leaves a half-loaded game.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/Game_SaveData.h"

inline constexpr std::uint8_t kSaveSentinel = 0x19;
inline constexpr std::size_t kSaveHeaderSize = 20;
// A body may end this many bytes after what its parts read and still count as complete.
inline constexpr std::int32_t kSaveSlack = 200;
inline constexpr char kDefaultSavePrefix[] = "Save/SaveData";

class Game_SaveManager {
  public:
    std::map<std::string, std::unique_ptr<Game_SaveData>> cache;
    std::map<std::string, std::uint8_t> loaded;
    std::map<std::string, std::uint8_t> missing;
    std::string currentFile;
    std::map<std::string, std::int32_t> dirty;
    // Full paths whose last flush failed and was logged (logged once until a flush succeeds).
    std::map<std::string, std::uint8_t> flushFailureLogged;

    // The full path of a slot: base folder + prefix + the slot with at least two digits + ".sav"
    // for slot n != 0, base folder + name for slot 0.
    static std::string SlotPath(std::int32_t slot, const std::string& name);
    // The cache entry of a path, made fresh when there is none.
    Game_SaveData& Entry(const std::string& path);

    bool Save(std::int32_t slot, std::int32_t ignored, const std::string& name);
    bool Load(std::int32_t slot, bool toLive, bool startReplay, const std::string& name);
    bool WriteSaveFile(bool report, const std::string& path);

    std::int32_t ReadSavedNumber(std::int32_t slot, std::int32_t variableId,
                                 const std::string& name);
    std::string ReadSavedString(std::int32_t slot, std::int32_t variableId,
                                const std::string& name);
    void WriteSavedNumber(std::int32_t slot, std::int32_t variableId, std::int32_t value,
                          const std::string& name);
    void WriteSavedString(std::int32_t slot, std::int32_t variableId, const std::string& value,
                          const std::string& name);

    // Empties the cache, the loaded and the missing maps (not the dirty map).
    void Reset();

  private:
    void ResetEntry(const std::string& path);
    bool PrepareWrite(std::int32_t slot, std::int32_t variableId, const std::string& name,
                      std::string& path);
};

// The one manager; replaced by a fresh one at every restart.
extern Game_SaveManager TheSaveManager;

// The body prefix: the game's title as a short string and the format number 140.
bool WriteSaveHeader();
// Reads and checks the body prefix (the stream after the opening byte).
bool CheckSaveHeader();
void SetSaveDirty(const std::string& path);
// Writes every dirty file. A file whose write failed stays dirty for the next flush; its failure
// goes once into the error log. Always true.
bool FlushDirtySaves();
// Makes the flushing kind of runtime-error report write pending saves first (start-up, once).
void InstallSaveFlushing();

// Renames a save file with a suffix, appending "x" while the name is taken. Returns the new name,
// or empty when the file could not be renamed (that failure was reported).
std::string RenameSaveFile(const std::string& path, const std::string& suffix);

// What the save files need of the machine; tests replace entries to make failures happen.
struct SaveFileServices {
    // Bytes free for this process on the file system of the folder; -1 when unknown.
    std::int64_t (*freeSpace)(const std::string& folder);
    std::FILE* (*open)(const char* path, const char* mode);
    std::size_t (*write)(const void* data, std::size_t size, std::size_t count, std::FILE* file);
    int (*close)(std::FILE* file);
    // Moves a finished temporary file over the save (replacing it); 0 on success.
    int (*replace)(const char* from, const char* to);
    // Seconds for the seed draw.
    std::int64_t (*now)();
};
SaveFileServices& GetSaveFileServices();
void ResetSaveFileServices();

// Decodes a save file's bytes into a snapshot without touching any file or the manager: the
// tool's and the fuzz target's reader. Returns false when the file is damaged, foreign or newer;
// `title` receives the title found in the body.
struct SaveFileInfo {
    std::array<std::uint8_t, 3> seeds{};
    std::uint8_t check = 0;
    bool utf8 = false;
    std::string title;
    std::int16_t format = 0;
    std::int32_t bytesLeft = 0;
};
bool DecodeSaveFile(std::vector<std::uint8_t> bytes, Game_SaveData& data, SaveFileInfo& info);
// Makes the bytes of a save file from a snapshot (the seeds given; all 0 for a plain body).
std::vector<std::uint8_t> EncodeSaveFile(Game_SaveData& data,
                                         const std::array<std::uint8_t, 3>& seeds);
