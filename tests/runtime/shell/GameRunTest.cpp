// The Game executable on writer-made games, headless: a start that reaches the shut-down, the
// starts that are abandoned, and "Game.ini" as the shut-down leaves it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/data/ArchiveGenerationKeys.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/MapData.h"
#include "runtime/data/TileSet.h"
#include "tools/archive/ArchiveWriter.h"
#include "tools/gamedata/GameDataSamples.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class GameRunTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velk_gamerun_XXXXXX";
        folder_ = mkdtemp(pattern);
        std::error_code error;
        fs::create_hard_link(VELK_GAME_EXECUTABLE, folder_ / "Game", error);
        if (error) fs::copy_file(VELK_GAME_EXECUTABLE, folder_ / "Game");
    }
    void TearDown() override { fs::remove_all(folder_); }

    // A small game made by our writers in folder/name.
    void WriteGame(const std::string& name) {
        const std::string basic = (folder_ / name / "BasicData").string() + "/";
        fs::create_directories(basic);
        gamedata::DataFileOptions options;
        Game_BasicData data;
        data.settingBytes[3] = 0;  // no MIDI
        data.settingTexts[0] = "Test";
        ASSERT_TRUE(
            gamedata::SaveBytes(basic + "Game.dat", gamedata::WriteBasicData(data, options)));
        Game_TileSetList tileSets;
        tileSets.tileSets = {gamedata::MakeSampleTileSet(8, 1)};
        ASSERT_TRUE(gamedata::SaveBytes(basic + "TileSetData.dat",
                                        gamedata::WriteTileSetData(tileSets, 4, options)));
        // One common event that runs by itself and ends the game.
        Game_CommonEventList commons;
        commons.events.resize(1);
        commons.events[0].startByte = 0x21;  // automatic, while variable 0 == 0
        Game_EventCommand end;
        end.arguments = {175};
        commons.events[0].commands.List() = {end, Game_EventCommand{}};
        ASSERT_TRUE(gamedata::SaveBytes(basic + "CommonEvent.dat",
                                        gamedata::WriteCommonEventFile(commons, {}, options)));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(
            basic + "DataBase", gamedata::MakeSampleDatabase(kUserDatabase, 3, 4), options));
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(
            basic + "CDataBase", gamedata::MakeSampleDatabase(kVariableDatabase, 3, 5), options));
        // The start position (type 7) names map 0, whose settings (type 0) name its file.
        Game_Database system = gamedata::MakeSampleDatabase(kSystemDatabase, 12, 3);
        Game_DatabaseType maps;
        maps.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                           kNumberFieldBase + 2, kNumberFieldBase + 3};
        Game_DatabaseEntry mapEntry;
        mapEntry.strings = {"Map000.mps"};
        mapEntry.numbers = {-2, -2, 0, -1};
        maps.entries = {mapEntry};
        system.types[0] = maps;
        Game_DatabaseType start;
        start.fieldKinds = {kNumberFieldBase, kNumberFieldBase + 1, kNumberFieldBase + 2};
        start.entries = {Game_DatabaseEntry{{0, 1, 1}, {}}};
        system.types[7] = start;
        ASSERT_TRUE(gamedata::SaveDatabaseFiles(basic + "SysDataBase", system, options));
        Game_MapData map;
        map.header.name = "Start";
        map.header.tileSetNumber = 0;
        map.header.width = 20;
        map.header.height = 15;
        map.ResetLayers();
        ASSERT_TRUE(gamedata::SaveBytes((folder_ / name / "Map000.mps").string(),
                                        gamedata::WriteMapFile(map, {})));
    }

    // Runs the game headless with the arguments; the exit code, standard error in `errors`.
    int Run(const std::string& arguments) {
        const std::string command = "cd '" + folder_.string() +
                                    "' && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy LANG=C "
                                    "timeout 60 ./Game " +
                                    arguments + " >/dev/null 2>errors.txt";
        const int status = std::system(command.c_str());
        errors = ReadText(folder_ / "errors.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Ini() const { return ReadText(folder_ / "Game.ini"); }

    fs::path folder_;
    std::string errors;
};

TEST_F(GameRunTest, WriterMadeGameStartsAndShutsDown) {
    WriteGame("Data");
    EXPECT_EQ(Run(""), 0) << errors;
    EXPECT_EQ(Ini().rfind("Start=0\r\n", 0), 0u) << Ini();
    EXPECT_NE(Ini().find("FrameSkip=0\r\n"), std::string::npos);
    // The same game in another folder, given with "-f".
    fs::rename(folder_ / "Data", folder_ / "Games");
    EXPECT_EQ(Run("-f Games"), 0) << errors;
}

TEST_F(GameRunTest, AbandonedStartsEndWithCodeOne) {
    EXPECT_EQ(Run(""), 1);
    EXPECT_NE(errors.find(folder_.string() + "/Data/"), std::string::npos) << errors;
    WriteGame("Data");
    velk::archive::Node a;
    a.directory = true;
    velk::archive::WriteOptions options;
    options.key = archive_keys::GenerationKey(11);
    options.generationMark = archive_keys::GenerationMark(11);
    gamedata::SaveBytes((folder_ / "Data/A.velk").string(),
                        velk::archive::WriteArchive(a, options));
    options.key = archive_keys::GenerationKey(12);
    options.generationMark = archive_keys::GenerationMark(12);
    gamedata::SaveBytes((folder_ / "Data/B.velk").string(),
                        velk::archive::WriteArchive(a, options));
    EXPECT_EQ(Run(""), 1);
    EXPECT_NE(errors.find(" A.velk"), std::string::npos) << errors;
    EXPECT_NE(errors.find(" B.velk"), std::string::npos) << errors;
    // A data file the readers cannot read ends the game with code 1 too.
    fs::remove(folder_ / "Data/B.velk");
    fs::remove(folder_ / "Data/BasicData/SysDataBase.dat");
    EXPECT_EQ(Run(""), 1);
    EXPECT_NE(errors.find("SysDataBase.dat"), std::string::npos) << errors;
}

TEST_F(GameRunTest, ArchivedGameOfEachGenerationStarts) {
    WriteGame("Pack");
    for (int g : {10, 11, 12}) {
        SCOPED_TRACE(g);
        velk::archive::WriteOptions options;
        options.key = archive_keys::GenerationKey(g);
        options.generationMark = archive_keys::GenerationMark(g);
        std::string error;
        ASSERT_TRUE(
            velk::archive::PackFolder(folder_ / "Pack", folder_ / "Data.velk", options, &error))
            << error;
        EXPECT_EQ(Run(""), 0) << errors;
    }
}

TEST_F(GameRunTest, UnfinishedStartIsDetected) {
    WriteGame("Data");
    std::ofstream(folder_ / "Game.ini")
        << "Start=1\nSoftModeFlag=1\nWindowModeFlag=0\nFrameSkip=2\n";
    EXPECT_EQ(Run(""), 0) << errors;
    EXPECT_NE(errors.find("SoftModeFlag=1"), std::string::npos) << errors;
    // The shut-down writes the level of the running game (the restart point's to set), a
    // finished start, and the window mode the hint forced.
    EXPECT_EQ(Ini().rfind("Start=0\r\nSoftModeFlag=1\r\nWindowModeFlag=1\r\n", 0), 0u) << Ini();
}

}  // namespace
