// Common events: numbered command lists that belong to the whole game rather than to a map. They
// are read from "BasicData/CommonEvent.dat" at start-up and at every restart point, and event
// scripts can add more from ".common" files while the game runs. A common event starts when a
// command calls it, automatically on the main interpreter while its condition holds, or in
// parallel through a Game_CommonEventRunner.
//
// Command lists are held where growth and reloading of the list cannot free them under a running
// interpreter: every common event keeps its commands in a shared block, an interpreter that runs
// them shares that block, and reading a record over an entry gives the entry a new block instead
// of rewriting the old one in place.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/EventData.h"

class Game_Interpreter;

// A command list held in a shared block. Copies are deep (a copy never shares its commands with
// the original); Shared() hands out the block itself so that whoever runs the list keeps it alive.
class HeldCommandList {
  public:
    HeldCommandList();
    HeldCommandList(const HeldCommandList& other);
    HeldCommandList& operator=(const HeldCommandList& other);
    HeldCommandList(HeldCommandList&& other) noexcept = default;
    HeldCommandList& operator=(HeldCommandList&& other) noexcept = default;

    Game_CommandList& List() { return *block_; }
    const Game_CommandList& List() const { return *block_; }
    std::shared_ptr<const Game_CommandList> Shared() const { return block_; }
    // Gives the holder a new block with these commands; the old block lives on while shared.
    void Replace(Game_CommandList commands);

    bool operator==(const HeldCommandList& other) const { return List() == other.List(); }

  private:
    std::shared_ptr<Game_CommandList> block_;
};

// Field limits in bytes, terminating zero included.
inline constexpr std::size_t kCommonEventNameLimit = 512;
inline constexpr std::size_t kCommonEventByteTextLimit = 512;
inline constexpr std::size_t kCommonEventExtraTextLimit = 260;
inline constexpr std::size_t kCommonEventNoteLimit = 2048;
// The default sizes of the argument definitions and the extra texts.
inline constexpr std::size_t kArgumentTextCount = 11;
inline constexpr std::size_t kArgumentByteCount = 10;
inline constexpr std::size_t kArgumentTextListCount = 10;
inline constexpr std::size_t kArgumentNumberListCount = 10;
inline constexpr std::size_t kArgumentNumberCount = 5;
inline constexpr std::size_t kCommonEventExtraTextCount = 100;

// Trigger kinds (the low four bits of the start byte).
inline constexpr int kCommonTriggerCalled = 0;
inline constexpr int kCommonTriggerAutomatic = 1;
inline constexpr int kCommonTriggerParallelWhile = 2;
inline constexpr int kCommonTriggerParallelAlways = 3;

struct Game_CommonEvent {
    // Always its index in the list (the loaders renumber).
    std::int32_t number = 0;
    std::string name;
    // Low four bits the trigger kind, high four bits the condition operator.
    std::uint8_t startByte = 32;
    std::int32_t conditionVariable = 2000000;
    // A plain number, never a variable id.
    std::int32_t conditionValue = 0;
    std::uint8_t settingBytes[2] = {0, 0};
    HeldCommandList commands;
    // Kept for the editor, not used by the player.
    std::vector<std::uint8_t> byteList{0};
    std::string byteListText;
    std::vector<std::string> argumentTexts = std::vector<std::string>(kArgumentTextCount);
    std::vector<std::uint8_t> argumentBytes = std::vector<std::uint8_t>(kArgumentByteCount);
    std::vector<std::vector<std::string>> argumentTextLists =
        std::vector<std::vector<std::string>>(kArgumentTextListCount);
    std::vector<std::vector<std::int32_t>> argumentNumberLists =
        std::vector<std::vector<std::int32_t>>(kArgumentNumberListCount);
    std::vector<std::int32_t> argumentNumbers = std::vector<std::int32_t>(kArgumentNumberCount);
    std::int32_t extraNumber = 0;
    std::vector<std::string> extraTexts = std::vector<std::string>(kCommonEventExtraTextCount);
    std::string noteText;
    std::string noteText2;
    // Slot n of the common event's own self variables whose value a call hands back; -1 none.
    std::int32_t returnVariable = -1;

    int TriggerKind() const { return startByte & 0x0F; }
    int ConditionOperator() const { return startByte >> 4; }

    // Reads one record from TheDataFileBuffer over this entry. False when the start byte or one
    // of the section bytes A to D is 0, or the record does not fit into the file. Sections the
    // record does not carry keep this entry's values.
    bool Read();
    // Whether the start condition holds (variables read from the live store).
    bool CheckCondition() const;

    bool operator==(const Game_CommonEvent&) const = default;
};

// An ordered list of common events, never empty.
class Game_CommonEventList {
  public:
    std::vector<Game_CommonEvent> events{Game_CommonEvent{}};

    std::size_t Count() const { return events.size(); }
    // The common event with this number, or null when the list has none.
    Game_CommonEvent* Find(std::int32_t number);
    const Game_CommonEvent* Find(std::int32_t number) const;
    // Grows with default common events or shrinks to `count` entries, then renumbers all.
    void Resize(std::int32_t count);
    // Adds the one default common event to an empty list.
    void EnsureNotEmpty();

    bool operator==(const Game_CommonEventList&) const = default;
};

// The live list that the interpreters, the call command and the runners use.
extern Game_CommonEventList TheCommonEvents;

// The version and closing bytes of "CommonEvent.dat".
inline constexpr std::uint8_t kCommonEventVersionOld = 0x8F;
inline constexpr std::uint8_t kCommonEventVersion = 0x90;
inline constexpr std::uint8_t kCommonEventVersionNew = 0xC9;
// The magic numbers of ".common" files: text in the game's code page, or UTF-8.
inline constexpr std::int32_t kCommonFileMagicCodePage = 0x030C386C;
inline constexpr std::int32_t kCommonFileMagicUtf8 = 0x030C386D;

// Reads the file `fileName` below the data folder into the live list; true on success. Every
// refusal has shown its message first.
bool LoadCommonEvents(const std::string& fileName);
// Parses the "CommonEvent.dat" already in TheDataFileBuffer into `list` (path for messages and
// the damaged-file move).
bool ParseCommonEventFile(Game_CommonEventList& list, const std::string& path);
// Reads a ".common" file into the live list from index `first` on. Returns the number of common
// events read (it stops at the first record that fails; the entries from it on keep what they
// held), or -1 when the file cannot be opened or its magic is wrong.
std::int32_t ReadCommonFile(const std::string& path, std::int32_t first);
// Parses the ".common" file already in TheDataFileBuffer into `list`, as ReadCommonFile does.
std::int32_t ParseCommonFile(Game_CommonEventList& list, std::int32_t first);

// Runs one parallel common event on the live map.
class Game_CommonEventRunner {
  public:
    std::int32_t commonEventNumber = 0;
    // At most one.
    std::vector<Game_Interpreter> interpreters;

    explicit Game_CommonEventRunner(std::int32_t number);
    ~Game_CommonEventRunner();
    Game_CommonEventRunner(const Game_CommonEventRunner& other);
    Game_CommonEventRunner& operator=(const Game_CommonEventRunner& other);
    Game_CommonEventRunner(Game_CommonEventRunner&& other) noexcept;
    Game_CommonEventRunner& operator=(Game_CommonEventRunner&& other) noexcept;

    // Gives the runner an interpreter while the common event may run, and destroys it (stopping
    // the common event wherever it was) when it may not.
    void Refresh();
    // Starts the list again when it ran to its end, then runs the interpreter for one frame.
    void RunFrame();
    void DrawStringInput();
};
