// The variable store and its id space. Every command argument, page condition, move-route command
// and text code that names a variable does so with one signed 32-bit id whose value alone says
// what it names: a literal, a self variable of a map event or of a common event, a normal, spare
// or string variable, a random number, a system variable or string, a property of a map
// character, or a cell of one of the three databases.
//
// The store holds the self variables, the normal and spare variables, the string variables and
// the common events' self variables; what lies elsewhere (system variables and strings,
// characters, database cells) it hands on to its owner. Ids relative to the running script ("this
// event", "this common event") are rewritten by the interpreter before they reach the store.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Game_Database;
class Game_SystemState;
class Game_Variables;

// What an id names.
enum class VariableIdKind : std::uint8_t {
    Literal,            // below 1,000,000 (negative ids too): the id is the value
    MapEventSelf,       // 1,000,000..1,499,999 (event (id mod 100,000) / 10, slot id mod 10)
    OldCommonSelf,      // 1,500,000..1,599,999: refused
    ThisCommonSelf,     // 1,600,000..1,699,999: rewritten by the interpreter
    NormalVariable,     // 2,000,000..2,099,999
    SpareVariable,      // 2,100,000..2,999,999: set (id - 2,000,000) / 100,000
    StringVariable,     // 3,000,000..3,999,999
    RandomNumber,       // 8,000,000..8,999,999: 0..n
    SystemVariable,     // 9,000,000..9,099,999
    MapEventProperty,   // 9,100,000..9,179,999: event (id - 9,100,000) / 10, property id mod 10
    PartyProperty,      // 9,180,000..9,189,999: member 0 the player, m the m-th follower
    ThisEventProperty,  // 9,190,000..9,199,999: rewritten by the interpreter
    SystemString,       // 9,900,000..9,999,999
    CommonSelf,         // 15,000,000..15,999,999: common (id mod 1,000,000) / 100, slot id mod 100
    UserDatabaseCell,   // 1,000,000,000..1,099,999,999
    VariableDatabaseCell,  // 1,100,000,000..1,199,999,999
    SystemDatabaseCell,    // 1,300,000,000..1,399,999,999
    Nothing,               // every other range
};

VariableIdKind ClassifyVariableId(std::int32_t id);

// A map character named by a property id: a map event by its id, or a party member (0 the player,
// m >= 1 the follower at position m - 1).
struct VariableCharacter {
    bool partyMember = false;
    std::int32_t number = 0;
};

// What the store hands on to other modules, and what it reads of them. An entry left null answers
// as if the thing did not exist: system variables and strings then behave as ids that name
// nothing, and no character exists.
struct VariableStoreLinks {
    // The id of the live map (-1 when none).
    std::int32_t (*liveMapId)();
    // The number of common events of the live common-event list.
    std::int32_t (*commonEventCount)();
    // System variables and strings (n from 0).
    std::int32_t (*getSystemVariable)(Game_Variables& store, std::int32_t n);
    void (*setSystemVariable)(Game_Variables& store, std::int32_t n, std::int32_t value);
    std::string (*getSystemString)(Game_Variables& store, std::int32_t n);
    void (*setSystemString)(Game_Variables& store, std::int32_t n, const std::string& text);
    // Character properties 0 to 8 on the live map. The reader returns false when the character
    // does not exist. The writer does nothing for a missing character; it applies the property's
    // side effects (see NormalizeWrittenDirection and RecordPartyShadow).
    bool (*readCharacterProperty)(VariableCharacter who, std::int32_t property,
                                  std::int32_t& value);
    void (*writeCharacterProperty)(VariableCharacter who, std::int32_t property,
                                   std::int32_t value);
    // Property 9, the chip image file name: false when the character does not exist.
    bool (*readCharacterGraphic)(VariableCharacter who, std::string& fileName);
    bool (*writeCharacterGraphic)(VariableCharacter who, const std::string& fileName);
};

VariableStoreLinks& GetVariableStoreLinks();
// Puts back the defaults.
void ResetVariableStoreLinks();

// The direction a direction property write leaves: clamped to 1..9; without diagonal graphics an
// odd value becomes 2 (for the party 7 and 9 become 8); otherwise a 5 becomes 2.
std::int32_t NormalizeWrittenDirection(std::int32_t value, bool partyMember,
                                       bool hasDiagonalGraphics);
// A shadow number written to party member `member` is also remembered by the system state: the
// player's as its low 16 bits, follower m's in entry m - 1 (m up to 5).
void RecordPartyShadow(std::int32_t member, std::int32_t value, Game_SystemState& state);

// A reference to an integer cell that a compiled command reads and writes. It names the cell by
// list and index and finds it again at every use, so that lists that grow, shrink or are replaced
// (a load, a restart, a database edit) never leave it pointing at freed storage: a cell that no
// longer exists reads 0 and ignores writes.
class VariableCellRef {
  public:
    VariableCellRef() = default;

    // Whether it names a cell (it did when it was made).
    explicit operator bool() const { return area_ != Area::None; }
    // The cell now, or null when it no longer exists. Normal and spare variables, which compiled
    // loops touch on nearly every step, are found inline; the other areas out of line.
    std::int32_t* Get() const;
    std::int32_t Read() const {
        const std::int32_t* cell = Get();
        return cell ? *cell : 0;
    }
    // False when the cell no longer exists.
    bool Write(std::int32_t value) const {
        std::int32_t* cell = Get();
        if (!cell) return false;
        *cell = value;
        return true;
    }

    bool operator==(const VariableCellRef&) const = default;

  private:
    std::int32_t* GetOther() const;
    friend VariableCellRef ResolveVariableCell(Game_Variables& store, std::int32_t id,
                                               std::int32_t commonEventIndex);
    enum class Area : std::uint8_t { None, NumberList, CommonSelf, Database };
    Area area_ = Area::None;
    Game_Variables* store_ = nullptr;
    Game_Database* database_ = nullptr;
    std::int32_t a_ = 0;
    std::int32_t b_ = 0;
    std::int32_t c_ = 0;
};

class Game_Variables {
  public:
    // The system state whose system variables this store serves: the live one for the live
    // store, the snapshot's own for a store inside a save snapshot.
    Game_SystemState* systemState = nullptr;
    // The map whose event self variables the next call addresses; -1 for the live map. The calls
    // set it back to -1.
    std::int32_t mapOverride = -1;
    // By map id, event id and slot (0..9). Grows on write; only Reset empties it.
    std::vector<std::vector<std::vector<std::int32_t>>> mapEventSelf;
    // List 0 the normal variables, list k (1..9) spare variables k. Writes never grow them.
    std::vector<std::vector<std::int32_t>> numberLists;
    // The string variables; grows on write.
    std::vector<std::string> strings;
    // Per common event: 100 integers (slots 0..99) and 5 texts (slots 5..9).
    std::vector<std::vector<std::int32_t>> commonSelfIntegers;
    std::vector<std::vector<std::string>> commonSelfStrings;

    // Bound to the live system state, then Reset.
    Game_Variables();
    // For the long-lived global, built before anything else runs: empty lists, touching no other
    // global. The restart point replaces it with a fully built one.
    struct QuietConstruction {};
    explicit Game_Variables(QuietConstruction);
    Game_Variables(const Game_Variables&) = default;
    Game_Variables& operator=(const Game_Variables&) = default;

    // Empties everything, then sizes the common-event lists by the live common events and the
    // normal and spare lists by system-database types 14 to 23.
    void Reset();

    // The variable-database argument replaces the live variable database (null: the live one).
    void SetValue(std::int32_t id, std::int32_t value, Game_Database* variableDatabase = nullptr);
    void SetString(std::int32_t id, Game_Database* variableDatabase, const std::string& text);
    std::int32_t GetValue(std::int32_t id, Game_Database* variableDatabase = nullptr);
    std::string GetString(std::int32_t id, Game_Database* variableDatabase = nullptr);

    // The save part, through TheSaveStream. Load returns false on damaged or short data; with
    // restoreRandom the game's random generator continues from the saved state.
    bool Save();
    bool Load(bool restoreRandom);

  private:
    std::int32_t TakeMap();
};

inline std::int32_t* VariableCellRef::Get() const {
    if (area_ != Area::NumberList) return GetOther();
    auto& lists = store_->numberLists;
    if (a_ < 0 || static_cast<std::size_t>(a_) >= lists.size()) return nullptr;
    auto& list = lists[static_cast<std::size_t>(a_)];
    if (b_ < 0 || static_cast<std::size_t>(b_) >= list.size()) return nullptr;
    return &list[static_cast<std::size_t>(b_)];
}

// The live store (main thread only).
extern Game_Variables TheVariables;

// The integer cell a fixed id names, for the compile pass; empty when none. The common-event
// index is the list index of the common event being compiled (negative for none).
VariableCellRef ResolveVariableCell(Game_Variables& store, std::int32_t id,
                                    std::int32_t commonEventIndex);
// True when the id names an integer, false when it names a text.
bool IsIntegerVariableId(std::int32_t id);

// The text a string read of an id that names no text gives.
inline constexpr char kVariableErrorText[] = "<<ERROR>>";
