#include "fuzz/SaveFileFuzzEntry.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SaveManager.h"
#include "runtime/data/SaveStream.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/world/Game_MapState.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

// The game the saves belong to: its databases, whose variable database's definitions the save
// reader reads again from their file.
struct FuzzGame {
    bool ready = false;
    Game_Database user, variable, system;
    DatabaseProjectSource projectSource;
    std::vector<DatabaseBaselineType> baseline;
};

const FuzzGame& Game() {
    static const FuzzGame game = [] {
        FuzzGame g;
        const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                             ("velk_savefuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder / "BasicData");
        const char* bases[] = {"CDataBase", "DataBase", "SysDataBase"};
        const std::int32_t kinds[] = {kVariableDatabase, 0, kSystemDatabase};
        for (int i = 0; i < 3; ++i) {
            const Game_Database db = gamedata::MakeSampleDatabase(kinds[i], 4, 7 + i);
            if (!gamedata::SaveDatabaseFiles((folder / "BasicData" / bases[i]).string(), db, {}))
                return g;
        }
        LoadDatabases(folder.string() + "/", false);
        g.user = TheUserDatabase;
        g.variable = TheVariableDatabase;
        g.system = TheSystemDatabase;
        g.projectSource = VariableDatabaseProjectSource;
        g.baseline = DatabaseBaseline;
        g.ready = true;
        return g;
    }();
    return game;
}

// Puts the fuzz game in place (messages and exits silenced) and the previous globals back
// afterwards, so that the entry leaves nothing behind in a test program.
class GameScope {
  public:
    GameScope()
        : services_(GetDataFileServices()),
          basicData_(TheBasicData),
          user_(TheUserDatabase),
          variable_(TheVariableDatabase),
          system_(TheSystemDatabase),
          projectSource_(VariableDatabaseProjectSource),
          baseline_(DatabaseBaseline) {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string&, const std::string&) {};
        s.reportRuntimeError = [](const std::string&, const std::string&, const std::string&) {};
        s.exitProgram = [](int) {};
        s.damagedFile = [](const std::string&) {};
        const FuzzGame& game = Game();
        ready_ = game.ready;
        TheUserDatabase = game.user;
        TheVariableDatabase = game.variable;
        TheSystemDatabase = game.system;
        VariableDatabaseProjectSource = game.projectSource;
        DatabaseBaseline = game.baseline;
        TheBasicData.settingTexts[0] = "Fuzz Game";
    }
    ~GameScope() {
        GetDataFileServices() = services_;
        TheBasicData = basicData_;
        TheUserDatabase = user_;
        TheVariableDatabase = variable_;
        TheSystemDatabase = system_;
        VariableDatabaseProjectSource = projectSource_;
        DatabaseBaseline = baseline_;
        MapLayersMissing = 0;
        TheSaveStream.Release();
    }
    GameScope(const GameScope&) = delete;
    GameScope& operator=(const GameScope&) = delete;
    bool ready() const { return ready_; }

  private:
    DataFileServices services_;
    Game_BasicData basicData_;
    Game_Database user_, variable_, system_;
    DatabaseProjectSource projectSource_;
    std::vector<DatabaseBaselineType> baseline_;
    bool ready_ = false;
};

}  // namespace

int RunSaveFileFuzzInput(const std::uint8_t* data, std::size_t size) {
    GameScope scope;
    if (!scope.ready()) return 0;
    auto snapshot = std::make_unique<Game_SaveData>();
    SaveFileInfo info;
    const bool ok = DecodeSaveFile(std::vector<std::uint8_t>(data, data + size), *snapshot, info);
    if (ok) {
        if (info.bytesLeft > kSaveSlack) std::abort();
        // What was accepted is a whole game: it writes and reads back.
        const auto again = EncodeSaveFile(*snapshot, {1, 2, 3});
        auto second = std::make_unique<Game_SaveData>();
        SaveFileInfo secondInfo;
        if (!DecodeSaveFile(again, *second, secondInfo)) std::abort();
    }
    return 0;
}

bool AcceptsSaveFile(const std::vector<std::uint8_t>& bytes) {
    GameScope scope;
    auto snapshot = std::make_unique<Game_SaveData>();
    SaveFileInfo info;
    return scope.ready() && DecodeSaveFile(bytes, *snapshot, info);
}

std::vector<std::vector<std::uint8_t>> MakeSaveFileFuzzSeeds() {
    std::vector<std::vector<std::uint8_t>> seeds;
    GameScope scope;
    if (!scope.ready()) return seeds;
    auto data = std::make_unique<Game_SaveData>();
    data->variables.SetValue(2000000, 5, &data->variableDatabase);
    data->variables.SetString(3000000, &data->variableDatabase, "text");
    data->variableDatabase = TheVariableDatabase;
    data->mapState.events.resize(2);
    data->playerPart.player.footsteps = {2, 8};
    seeds.push_back(EncodeSaveFile(*data, {0, 0, 0}));
    seeds.push_back(EncodeSaveFile(*data, {9, 4, 1}));
    auto codePage = seeds[0];
    codePage[6] = 0;
    seeds.push_back(codePage);
    return seeds;
}
