#include "runtime/script/SystemCommands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../shell/ShellTestSupport.h"
#include "CommandTestSupport.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/GameIni.h"

namespace {

using script_test::Command;

std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
}
std::string& BaseFolder() {
    static std::string folder;
    return folder;
}

void InstallRecorders() {
    SystemCommandServices& s = GetSystemCommandServices();
    s.flushDirtySaves = [] { Calls().push_back("flush"); };
    s.destroyDebugWindow = [] { Calls().push_back("debugWindow"); };
    s.deleteAllGraphs = [] {
        Calls().push_back("graphs");
        return 0;
    };
    s.deleteAllSounds = [] {
        Calls().push_back("sounds");
        return 0;
    };
    s.resetFontHandles = [] {
        Calls().push_back("fonts");
        return 0;
    };
    s.writeGameIni = [](std::int32_t start, std::int32_t frameSkip) {
        Calls().push_back("ini " + std::to_string(start) + " " + std::to_string(frameSkip));
        return 1;
    };
    s.baseFolder = [] { return BaseFolder(); };
    s.removePrivateFonts = [] { Calls().push_back("privateFonts"); };
    s.endLibrary = [] {
        Calls().push_back("endLibrary");
        return 0;
    };
    s.startupArguments = [] { return std::vector<std::string>{"-f", "Games/\x83\x66ata2"}; };
    s.startProcess = [](const std::vector<std::string>& arguments) {
        std::string text = "start";
        for (const std::string& a : arguments) text += " " + a;
        Calls().push_back(text);
    };
    s.exitProcess = [](int code) { Calls().push_back("exit " + std::to_string(code)); };
    s.saveScreenJpeg = [](std::int32_t w, std::int32_t h, const std::string& path,
                          std::int32_t quality) {
        Calls().push_back("jpeg " + std::to_string(w) + "x" + std::to_string(h) + " " +
                          std::filesystem::path(path).filename().string() + " " +
                          std::to_string(quality));
        return 0;
    };
}

class SystemCommandsTest : public script_test::CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        saved_[kRestartProgramCode] = GetCommandHandler(kRestartProgramCode);
        saved_[kSpecialSystemCode] = GetCommandHandler(kSpecialSystemCode);
        InstallSystemCommands();
        InstallRecorders();
        Calls().clear();
        std::filesystem::current_path(scratch_.path());
        BaseFolder() = scratch_.path().string() + "/";
        savedList_ = TheSystemState.tileImageList;
        TheSystemState.tileImageList.clear();
        savedFrameSkip_ = GameIniSettings.FrameSkip;
    }
    void TearDown() override {
        ResetSystemCommandServices();
        TheSystemState.tileImageList = savedList_;
        GameIniSettings.FrameSkip = savedFrameSkip_;
        CommandTest::TearDown();
    }

    void Special(std::int32_t operation, const std::string& text) {
        EXPECT_TRUE(Execute(Command({kSpecialSystemCode, operation}, {text})));
    }
    std::string Read(const std::string& name) { return shell_test::ReadBytes(scratch_.File(name)); }
    void Write(const std::string& name, const std::string& bytes) {
        shell_test::WriteBytes(scratch_.File(name), bytes);
    }

    shell_test::ScratchFolder scratch_;

  private:
    std::vector<TileImageEntry> savedList_;
    std::int32_t savedFrameSkip_ = 0;
};

TEST_F(SystemCommandsTest, TileImageListEntries) {
    struct Case {
        const char* text;
        std::size_t index;
        TileImageEntry entry;
    };
    const std::vector<Case> cases = {
        {"tree.png=>40,0,-16", 41, {"tree.png", 0, -16, 1, 1, 0}},
        {"water.png=>5,0,0/4,10", 6, {"water.png", 0, 0, 4, 10, 0}},
        // Text that is no number reads 0; frames and wait below 1 become 1.
        {"rock.png=>3,x,2/0,-4", 4, {"rock.png", 0, 2, 1, 1, 0}},
    };
    for (const Case& c : cases) {
        TheGameSystem.mapRendererSetupRequested = 0;
        Special(kSpecialTileImageList, c.text);
        ASSERT_GT(TheSystemState.tileImageList.size(), c.index) << c.text;
        EXPECT_EQ(TheSystemState.tileImageList[c.index], c.entry) << c.text;
        EXPECT_EQ(TheGameSystem.mapRendererSetupRequested, 1) << c.text;
    }
    // Grown once to entry 41 and never shrunk by the later, lower entries.
    EXPECT_EQ(TheSystemState.tileImageList.size(), 42u);
    EXPECT_EQ(TheSystemState.tileImageList[41].fileName, "tree.png");

    // Chip 0 (the empty autotile) and negative chips change nothing.
    const auto before = TheSystemState.tileImageList;
    for (const char* text : {"none.png=>0,1,1", "none.png=>-3,1,1"}) {
        TheGameSystem.mapRendererSetupRequested = 0;
        Special(kSpecialTileImageList, text);
        EXPECT_EQ(TheSystemState.tileImageList, before) << text;
        EXPECT_EQ(TheGameSystem.mapRendererSetupRequested, 0) << text;
    }

    Special(kSpecialTileImageList, "RESET");
    EXPECT_TRUE(TheSystemState.tileImageList.empty());
    EXPECT_TRUE(Reports().empty());
}

TEST_F(SystemCommandsTest, MissingSeparatorsAreReported) {
    Special(kSpecialTileImageList, "tree.png 40,0,0");
    Special(kSpecialCopyFile, "a.txt to b.txt");
    ASSERT_EQ(Reports().size(), 2u);
    EXPECT_EQ(Reports()[0].first, "[MapSetting Error] Not found \"=>\"");
    EXPECT_EQ(Reports()[1].first, "[Copy Error] Not found \">>\"");
    EXPECT_EQ(Reports()[1].third, "");
    EXPECT_TRUE(TheSystemState.tileImageList.empty());
}

TEST_F(SystemCommandsTest, CopyReplacesTheDestinationOnlyWhenTheCopySucceeds) {
    Write("a.txt", "new");
    Write("b.txt", "old");
    Special(kSpecialCopyFile, "a.txt>>b.txt");
    EXPECT_EQ(Read("b.txt"), "new");

    // A missing source leaves the destination whole and no temporary file behind.
    Write("b.txt", "kept");
    Special(kSpecialCopyFile, "missing.txt>>b.txt");
    EXPECT_EQ(Read("b.txt"), "kept");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch_.path()),
                            std::filesystem::directory_iterator()),
              2);
    EXPECT_TRUE(Reports().empty());

    // Paths outside the game folder are refused with a report, as for the file commands.
    for (const char* text : {"a.txt>>../out.txt", "/etc/hostname>>b.txt", "a.txt>>C:x.txt"}) {
        Reports().clear();
        Special(kSpecialCopyFile, text);
        EXPECT_EQ(Reports().size(), 1u) << text;
    }
    EXPECT_EQ(Read("b.txt"), "kept");
    EXPECT_FALSE(std::filesystem::exists(scratch_.path().parent_path() / "out.txt"));
}

TEST_F(SystemCommandsTest, MakeFolderAndScreenJpegStayInsideTheGameFolder) {
    Special(kSpecialMakeFolder, "Shots");
    Special(kSpecialMakeFolder, "Shots");
    EXPECT_TRUE(std::filesystem::is_directory(scratch_.path() / "Shots"));
    EXPECT_TRUE(Reports().empty());
    Special(kSpecialMakeFolder, "../Escaped");
    EXPECT_FALSE(std::filesystem::exists(scratch_.path().parent_path() / "Escaped"));
    EXPECT_EQ(Reports().size(), 1u);

    ScreenWidth = 640;
    ScreenHeight = 480;
    Special(kSpecialSaveScreenJpeg, "Shots/one.jpg");
    Special(kSpecialSaveScreenJpeg, "../two.jpg");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"jpeg 640x480 one.jpg 95"}));
    EXPECT_EQ(Reports().size(), 2u);
}

TEST_F(SystemCommandsTest, RestartsWriteSavesAndSettingsThenStartAgain) {
    GameIniSettings.FrameSkip = 2;
    DebugWindowOpen = 1;
    EXPECT_TRUE(Execute(Command({kRestartProgramCode})));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"flush", "debugWindow", "graphs", "sounds",
                                                 "fonts", "ini 0 2", "privateFonts", "endLibrary",
                                                 "start -f Games/\x83\x66ata2", "exit 0"}));
    EXPECT_EQ(std::filesystem::current_path(), scratch_.path());

    // Sub-code 14 ends the library before writing "Game.ini", and writes pending saves first
    // too.
    Calls().clear();
    DebugWindowOpen = 0;
    Special(kSpecialRestart, "");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"flush", "graphs", "sounds", "fonts", "endLibrary",
                                                 "ini 0 2", "privateFonts",
                                                 "start -f Games/\x83\x66ata2", "exit 0"}));

    // Sub-codes 15 and 19 do nothing.
    Calls().clear();
    Special(15, "x");
    Special(19, "x");
    EXPECT_TRUE(Calls().empty());
}

}  // namespace
