#include "fuzz/TextCodesFuzzEntry.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_System.h"

namespace {

// For one input: variables and database names that hold codes themselves, with the game not
// running, so that reports are dropped. Everything is put back afterwards.
class FuzzWorld {
  public:
    FuzzWorld()
        : variables_(TheVariables),
          userDatabase_(TheUserDatabase),
          state_(TheGameSystem.gameState) {
        TheGameSystem.gameState = GameState::Restart;
        GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                      const std::string&) {};
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheVariables.numberLists.assign(10, std::vector<std::int32_t>(10, 3));
        TheVariables.strings = {"\\v[1]\\c[2]", "\\s[0]\\udb[0:0]", "<L>\\", "]:["};
        TheUserDatabase = Game_Database(Game_Database::QuietConstruction{});
        TheUserDatabase.kind = kUserDatabase;
        TheUserDatabase.types.resize(1);
        TheUserDatabase.typeInfos.resize(1);
        TheUserDatabase.typeInfos[0].typeName = "\\v[2]";
        TheUserDatabase.typeInfos[0].dataNames = {"\\s[1]\\f[9]", "\\\\"};
    }
    ~FuzzWorld() {
        TheVariables = variables_;
        TheUserDatabase = userDatabase_;
        TheGameSystem.gameState = state_;
        GetDataFileServices().reportRuntimeError = report_;
    }
    FuzzWorld(const FuzzWorld&) = delete;
    FuzzWorld& operator=(const FuzzWorld&) = delete;

  private:
    Game_Variables variables_;
    Game_Database userDatabase_;
    GameState state_;
    decltype(DataFileServices::reportRuntimeError) report_ =
        GetDataFileServices().reportRuntimeError;
};

// Every 0x01 starts a run whose length byte is 2 to 6, which ends inside the text, and whose
// parameter bytes are digits (14 or more) except a closing pad 0x01.
bool RunsWellFormed(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != kTextCodeRunByte) {
            ++i;
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const auto length = static_cast<unsigned char>(text[i + 1]);
        const auto kind = static_cast<unsigned char>(text[i + 2]);
        if (length < 2 || length > 6 || i + length >= text.size()) return false;
        if (kind < 0x01 || kind > 0x29) return false;
        for (std::size_t k = i + 3; k <= i + length; ++k) {
            const auto b = static_cast<unsigned char>(text[k]);
            if (b < 14 && !(b == 1 && k == i + length)) return false;
        }
        i += length + 1u;
    }
    return true;
}

}  // namespace

int RunTextCodesFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const FuzzWorld world;
    const std::uint8_t options = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    for (const bool valuesOnly : {false, true}) {
        std::vector<std::int32_t> tokens, positions;
        TokenizeTextCodes(text, tokens, positions, valuesOnly);
        if (tokens.size() != positions.size()) std::abort();
        for (std::size_t k = 0; k < positions.size(); ++k) {
            if (positions[k] < 0 || static_cast<std::size_t>(positions[k]) >= text.size()) {
                std::abort();
            }
            if (k > 0 && positions[k] <= positions[k - 1]) std::abort();
        }
    }

    const std::string prefix = "\\c[1]";
    const std::string suffix = "\\v[0]";
    const std::string expanded =
        ExpandTextCodes(text, 1, 0, 0, (options & 1) != 0, (options & 4) != 0, &prefix, &suffix,
                        (options & 2) != 0);
    if (text.find(kTextCodeRunByte) == std::string::npos && !RunsWellFormed(expanded)) {
        std::abort();
    }
    // A well-formed text stays well-formed through the restore.
    const std::string restored = RestoreEscapeCodes(expanded);
    if (RunsWellFormed(expanded) && !RunsWellFormed(restored)) std::abort();
    RestoreEscapeCodesForLog(text);
    RestoreLiteralBackslashes(text);
    RestoreEscapeCodes(text);
    RestoreEscapeCodes(UpgradeOldTextCodes(text));
    ExpandTextCodes(UpgradeOldTextCodes(text), 0, 0, 0, false, false, nullptr, nullptr, false);
    return 0;
}
