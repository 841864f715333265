// A live game small enough for command tests: a system database whose type 14 gives 20 normal
// variables, an empty variable store, the system object running, Japanese reports captured, and
// an interpreter that runs one command list through the real dispatcher.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/script/InterpreterOperations.h"
#include "runtime/script/MessageCommands.h"
#include "runtime/script/VariableCommands.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

namespace script_test {

inline Game_EventCommand Command(std::vector<std::int32_t> arguments,
                                 std::vector<std::string> strings = {}) {
    Game_EventCommand c;
    c.arguments = std::move(arguments);
    c.strings = std::move(strings);
    return c;
}

inline std::int32_t Normal(std::int32_t n) {
    return 2000000 + n;
}
inline std::int32_t Text(std::int32_t n) {
    return 3000000 + n;
}

class CommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (std::int32_t code : {101, 102, 106, 121, 123, 125, 126}) {
            saved_[code] = GetCommandHandler(code);
        }
        InstallVariableCommands();
        InstallMessageCommands();
        GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                      const std::string&) {};
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(24);
        Game_DatabaseType normal;
        normal.fieldKinds = {kNumberFieldBase};
        normal.entries.assign(20, Game_DatabaseEntry{{0}, {}});
        TheSystemDatabase.types[14] = normal;
        TheCommonEvents = Game_CommonEventList();
        TheCommonEvents.Resize(5);
        TheVariables = Game_Variables();
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        TheGameSystem.gameState = GameState::Run;
        TheInput = Game_Input();
        TheBasicData = Game_BasicData();
        CommandStepCounter = 0;
        DatabaseAccessFailed = 0;
        SaveJustLoaded = 0;
        LineInputInUse = 0;
        RunningInterpreter = nullptr;
        screen_ = {ScreenWidth, ScreenHeight, WindowScale};
    }
    void TearDown() override {
        ScreenWidth = screen_[0];
        ScreenHeight = screen_[1];
        WindowScale = screen_[2];
        for (auto [code, handler] : saved_) SetCommandHandler(code, handler);
        ResetInterpreterLinks();
        ResetDataFileServices();
        ResetTouchInput();
        ResetLineInputServices();
        interpreter_.reset();
        TheSystemDatabase = Game_Database();
        TheCommonEvents = Game_CommonEventList();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        TheInput = Game_Input();
        TheBasicData = Game_BasicData();
        RunningInterpreter = nullptr;
        DebugWindowOpen = 0;
        DebugWindowDirty = 0;
        DebugWatchedVariables.clear();
        DebugWatchedPictures.clear();
        DebugWindowText.clear();
    }

    // A fresh interpreter (map event `eventId`, common event `commonId`) on the list, which gets
    // its end code appended.
    Game_Interpreter& Load(std::vector<Game_EventCommand> commands, std::int32_t eventId = -1,
                           std::int32_t commonId = -1) {
        commands.push_back(Command({kEndOfListCode}));
        interpreter_ = std::make_unique<Game_Interpreter>();
        interpreter_->Setup(false);
        interpreter_->Start(std::make_shared<const Game_CommandList>(std::move(commands)), eventId,
                            commonId);
        return *interpreter_;
    }

    // Runs one command by its handler, as the dispatcher does at line 0.
    bool Execute(Game_EventCommand command, std::int32_t eventId = -1, std::int32_t commonId = -1) {
        Game_Interpreter& i = Load({std::move(command)}, eventId, commonId);
        i.line = 0;
        i.currentCommand = &(*i.list)[0];
        return GetCommandHandler(i.currentCommand->Code())(i);
    }

    // One frame of the interpreter.
    void Frame() {
        CommandStepCounter = 0;
        interpreter_->Update();
    }

    std::int32_t Value(std::int32_t id) { return TheVariables.GetValue(id); }
    std::string String(std::int32_t id) { return TheVariables.GetString(id); }
    std::vector<shell_test::CapturedReport>& Reports() {
        return shell_test::ReportCapture::reports();
    }

    shell_test::ReportCapture capture_;
    std::unique_ptr<Game_Interpreter> interpreter_;
    std::map<std::int32_t, CommandHandler> saved_;
    std::array<std::int32_t, 3> screen_{};
};

}  // namespace script_test
