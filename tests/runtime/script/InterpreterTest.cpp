#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_Database.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ReportCapture.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

using shell_test::CapturedReport;
using shell_test::ReportCapture;

namespace {

// Codes the tests give handlers (the real command modules plug in the same way).
constexpr std::int32_t kRecord = 106;        // next: records ResolveNumber(argument 1)
constexpr std::int32_t kRecordText = 107;    // next: records ResolveString(argument 1)
constexpr std::int32_t kSet = 121;           // next: WriteNumber(argument 1, argument 2)
constexpr std::int32_t kSetText = 141;       // next: WriteString(argument 1, string 0)
constexpr std::int32_t kFlagDatabase = 125;  // next: a failed database read
constexpr std::int32_t kJump = 213;          // next: back to line argument 1 while loops remain
constexpr std::int32_t kWait = 180;          // result: wait argument 1 frames
constexpr std::int32_t kCall = 210;          // result: call common event argument 1

std::vector<std::int32_t> Recorded;
std::vector<std::string> RecordedTexts;
std::map<const Game_Interpreter*, std::int64_t> LoopsLeft;
std::int64_t LoopsPerInterpreter = -1;  // -1: endless

Game_EventCommand Command(std::vector<std::int32_t> arguments, std::string text = {}) {
    Game_EventCommand c;
    c.arguments = std::move(arguments);
    if (!text.empty()) c.strings = {text};
    return c;
}

Game_CommandList List(std::vector<Game_EventCommand> commands) {
    commands.push_back(Command({kEndOfListCode}));
    return commands;
}

std::shared_ptr<const Game_CommandList> Shared(std::vector<Game_EventCommand> commands) {
    return std::make_shared<const Game_CommandList>(List(std::move(commands)));
}

bool RecordHandler(Game_Interpreter& i) {
    Recorded.push_back(i.ResolveNumber(i.currentCommand->arguments[1]));
    return true;
}
bool RecordTextHandler(Game_Interpreter& i) {
    RecordedTexts.push_back(i.ResolveString(i.currentCommand->arguments[1]));
    return true;
}
bool SetHandler(Game_Interpreter& i) {
    i.WriteNumber(i.currentCommand->arguments[1], i.currentCommand->arguments[2]);
    return true;
}
bool SetTextHandler(Game_Interpreter& i) {
    i.WriteString(i.currentCommand->arguments[1], i.currentCommand->strings[0]);
    return true;
}
bool FlagDatabaseHandler(Game_Interpreter&) {
    DatabaseAccessFailed = 1;
    return true;
}
bool JumpHandler(Game_Interpreter& i) {
    if (LoopsPerInterpreter < 0) {
        i.line = i.currentCommand->arguments[1] - 1;
        return true;
    }
    auto it = LoopsLeft.try_emplace(&i, LoopsPerInterpreter).first;
    if (it->second < 0 || --it->second > 0) i.line = i.currentCommand->arguments[1] - 1;
    return true;
}
bool WaitHandler(Game_Interpreter& i) {
    i.waitFrames = i.currentCommand->arguments[1];
    return true;
}
bool CallHandler(Game_Interpreter& i) {
    const std::int32_t n = i.currentCommand->arguments[1];
    const Game_CommonEvent* event = TheCommonEvents.Find(n);
    Game_Interpreter& child = i.AddChild();
    child.mainFlag = i.mainFlag;
    child.parallelFlag = i.parallelFlag;
    child.callDepth = i.callDepth + 1;
    child.Start(event->commands.Shared(),
                i.currentCommand->arguments.size() > 3 ? i.currentCommand->arguments[3] : -1, n);
    if (i.currentCommand->arguments.size() > 2 && event->returnVariable >= 0) {
        i.returnTarget = i.currentCommand->arguments[2];
        i.returnSource = 15000000 + n * 100 + event->returnVariable;
    }
    return true;
}

void SetCommon(std::int32_t n, std::vector<Game_EventCommand> commands, std::uint8_t startByte = 32,
               std::int32_t returnVariable = -1) {
    if (TheCommonEvents.Count() <= static_cast<std::size_t>(n)) TheCommonEvents.Resize(n + 1);
    Game_CommonEvent& e = TheCommonEvents.events[static_cast<std::size_t>(n)];
    e.commands.Replace(List(std::move(commands)));
    e.startByte = startByte;
    e.returnVariable = returnVariable;
    // Automatic and parallel ones run while their own self variable 50 is 0 (with operator ==).
    e.conditionVariable = 1600050;
}

std::int64_t FakeNow = 0;

class InterpreterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Recorded.clear();
        RecordedTexts.clear();
        LoopsLeft.clear();
        LoopsPerInterpreter = -1;
        for (auto [code, handler] : std::initializer_list<std::pair<std::int32_t, CommandHandler>>{
                 {kRecord, RecordHandler},
                 {kRecordText, RecordTextHandler},
                 {kSet, SetHandler},
                 {kSetText, SetTextHandler},
                 {kFlagDatabase, FlagDatabaseHandler},
                 {kJump, JumpHandler},
                 {kWait, WaitHandler},
                 {kCall, CallHandler}}) {
            saved_[code] = SetCommandHandler(code, handler);
        }
        GetDataFileServices().reportRuntimeError = [](const std::string&, const std::string&,
                                                      const std::string&) {};
        TheCommonEvents = Game_CommonEventList();
        TheCommonEvents.Resize(10);
        TheVariables = Game_Variables();
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        TheGameSystem.gameState = GameState::Run;
        FrameMultiplier = 1;
        CommandStepCounter = 0;
        MainInterpreterResetRequest = 0;
        DatabaseAccessFailed = 0;
        RunningInterpreter = nullptr;
        FakeNow = 1000000;
        GetInterpreterLinks().microsecondClock = [] { return FakeNow; };
    }
    void TearDown() override {
        for (auto [code, handler] : saved_) SetCommandHandler(code, handler);
        ResetInterpreterLinks();
        ResetDataFileServices();
        TheCommonEvents = Game_CommonEventList();
        TheVariables = Game_Variables(Game_Variables::QuietConstruction{});
        TheGameSystem = Game_System(Game_System::QuietConstruction{});
        FrameMultiplier = 1;
        RunningInterpreter = nullptr;
        DebugWindowOpen = 0;
        DebugWatchedVariables.clear();
        DebugWindowText.clear();
    }
    // One frame: the map update resets the shared step counter first.
    static void Frame(std::initializer_list<Game_Interpreter*> interpreters) {
        CommandStepCounter = 0;
        for (Game_Interpreter* i : interpreters) i->Update();
    }

    ReportCapture capture_;
    std::map<std::int32_t, CommandHandler> saved_;
};

}  // namespace

TEST_F(InterpreterTest, WaitFramesFollowTheFrameStep) {
    struct Case {
        std::int32_t frameStep, wait, framesWaited;
    };
    for (const Case& c : {Case{1, 0, 0}, Case{1, 1, 1}, Case{1, 4, 4}, Case{2, 3, 2}, Case{2, 4, 2},
                          Case{2, 1, 1}}) {
        FrameMultiplier = c.frameStep;
        Recorded.clear();
        Game_Interpreter i;
        i.Setup(false);
        i.Start(Shared({Command({kWait, c.wait}), Command({kRecord, 1})}), -1, 0);
        int frame = 0;
        while (Recorded.empty() && frame < 20) {
            Frame({&i});
            ++frame;
        }
        EXPECT_EQ(frame - 1, c.framesWaited) << c.frameStep << " " << c.wait;
    }
}

TEST_F(InterpreterTest, ChildFinishingInTheSameFrameHandsBackItsValue) {
    SetCommon(1, {Command({kSet, 1600002, 55})}, 32, 2);
    SetCommon(2, {Command({kSetText, 1600006, 0}, "返す")}, 32, 6);
    Game_Interpreter i;
    i.Setup(true);
    i.Start(Shared({Command({kCall, 1, 15000001}), Command({kRecord, 15000001}),
                    Command({kCall, 2, 3000001}), Command({kRecordText, 3000001}),
                    Command({kWait, 5})}),
            -1, 0);
    Frame({&i});
    EXPECT_EQ(Recorded, std::vector<std::int32_t>{55});
    EXPECT_EQ(RecordedTexts, std::vector<std::string>{"返す"});
    EXPECT_TRUE(i.children.empty());
    EXPECT_EQ(i.returnTarget, 0);
    EXPECT_EQ(i.returnSource, 0);
}

TEST_F(InterpreterTest, ChildWithoutMapEventReadsThisEventSelfAsPlainNumbers) {
    SetCommon(3, {Command({kRecord, 1100003}), Command({kSet, 1100004, 9})});
    Game_Interpreter i;
    i.Setup(false);
    i.Start(Shared({Command({kCall, 3, 0, -1})}), 5, -1);
    Frame({&i});
    EXPECT_EQ(Recorded, std::vector<std::int32_t>{999993});
    // The write had no map event: reported, nothing written.
    ASSERT_EQ(ReportCapture::reports().size(), 1u);
    const CapturedReport& r = ReportCapture::reports()[0];
    EXPECT_EQ(r.first,
              "マップEvのセルフ変数に格納しようとしましたが、呼出元マップEvがありませんでした => "
              "1100004");
    EXPECT_EQ(r.second, "処理地点:【コモンEv 3 行 1 】       <=[ Ev5  line0 ]");
    EXPECT_EQ(r.third, "");
    EXPECT_TRUE(TheVariables.mapEventSelf.empty());
}

TEST_F(InterpreterTest, EndOfListLetsTheMainInterpreterStartTheNextInTheSameFrame) {
    // Common 0 runs automatically while its own self variable 50 is 0 (operator ==, kind 1).
    SetCommon(0, {Command({kRecord, 2}), Command({kSet, 1600050, 1})}, 0x21);
    SetCommon(3, {Command({kRecord, 1})});
    TheGameSystem.requestedCommonEvent = 3;
    Game_Interpreter main;
    main.Setup(true);
    ASSERT_EQ(main.autoRunCommonEvents.size(), 1u);
    Frame({&main});
    EXPECT_EQ(Recorded, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(TheGameSystem.requestedCommonEvent, -1);
    EXPECT_FALSE(main.IsRunning());
    Frame({&main});
    EXPECT_EQ(Recorded.size(), 2u);
}

TEST_F(InterpreterTest, MainInterpreterStartsFlaggedMapEventsAndReleasesThem) {
    static std::vector<std::string> calls;
    static Game_CommandList page = List({Command({kRecord, 1100002})});
    static int flagged = 4;
    calls.clear();
    flagged = 4;
    InterpreterLinks& links = GetInterpreterLinks();
    links.mapId = [] { return 7; };
    links.firstStartingEvent = [] { return std::exchange(flagged, -1); };
    links.eventTrigger = [](std::int32_t) { return 0; };
    links.clearStartFlag = [](std::int32_t id) { calls.push_back("clear" + std::to_string(id)); };
    links.lockFacingForEvent = [](std::int32_t id) {
        calls.push_back("lock" + std::to_string(id));
    };
    links.unlockFacing = [](std::int32_t id) { calls.push_back("unlock" + std::to_string(id)); };
    links.eventCommands = [](std::int32_t) -> const Game_CommandList* { return &page; };
    links.event = [](std::int32_t id) {
        return id == 4 ? reinterpret_cast<Game_Character*>(&page) : nullptr;
    };
    TheVariables.mapOverride = 7;
    TheVariables.SetValue(1000042, 13);
    Game_Interpreter main;
    main.Setup(true);
    Frame({&main});
    EXPECT_EQ(calls, (std::vector<std::string>{"clear4", "lock4", "unlock4"}));
    // This event's self variable 2 on map 7.
    EXPECT_EQ(Recorded, std::vector<std::int32_t>{13});
    EXPECT_EQ(main.mapEventId, -1);
}

TEST_F(InterpreterTest, RunawayLoopIsReportedOncePerBudgetAndPausesThreeFrames) {
    for (bool slow : {true, false}) {
        ReportCapture::reports().clear();
        TheGameSystem.frameStartHistory[0] = FakeNow - (slow ? 20000 : 1000);
        Game_Interpreter i;
        i.Setup(false);
        i.Start(Shared({Command({1}), Command({kJump, 0})}), -1, 4);
        Frame({&i});
        ASSERT_EQ(ReportCapture::reports().size(), 1u);
        const CapturedReport& r = ReportCapture::reports()[0];
        EXPECT_EQ(r.first,
                  "1フレームあたりの処理が500万回を越えました！ 無限ループに入った疑いがあります");
        EXPECT_EQ(r.second, slow ? "1フレームの処理時間が 20 msになっています、1フレームの処理は"
                                   "なるべく16ms以下にしてください"
                                 : "");
        EXPECT_EQ(i.waitFrames, 2);
        Frame({&i});
        Frame({&i});
        EXPECT_EQ(ReportCapture::reports().size(), 1u);
        Frame({&i});
        EXPECT_EQ(ReportCapture::reports().size(), 2u);
    }
}

TEST_F(InterpreterTest, ParallelInterpretersShareOneBudget) {
    // Each loops 1,500,000 times (3,000,000 steps), then waits: the second runs out of the
    // frame's 5,000,000 steps.
    LoopsPerInterpreter = 1500000;
    Game_Interpreter a, b;
    for (auto [it, common] : {std::pair{&a, 1}, std::pair{&b, 2}}) {
        it->Setup(false);
        it->parallelFlag = 1;
        it->Start(Shared({Command({1}), Command({kJump, 0}), Command({kWait, 1})}), -1, common);
    }
    Frame({&a, &b});
    ASSERT_EQ(ReportCapture::reports().size(), 1u);
    EXPECT_EQ(ReportCapture::reports()[0].third.rfind("処理地点:【コモンEv 2 行 ", 0), 0u);
}

TEST_F(InterpreterTest, DatabaseReadFailureIsReportedOnceAfterTheStep) {
    Game_Interpreter i;
    i.Setup(false);
    i.Start(Shared({Command({kFlagDatabase}), Command({kFlagDatabase}), Command({kWait, 1})}), -1,
            5);
    Frame({&i});
    EXPECT_EQ(ReportCapture::reports(),
              (std::vector<CapturedReport>{
                  {"Ev-1 Common5 Line2 DBの存在しない部分を読みに行こうとしました", "", ""}}));
    EXPECT_EQ(DatabaseAccessFailed, 0);
}

TEST_F(InterpreterTest, WatchedVariableWritesItsLine) {
    DebugWindowOpen = 1;
    DebugWatchedVariables = {15000501};
    DebugWindowText.clear();
    Game_Interpreter i;
    i.Setup(false);
    i.Start(
        Shared({Command({kWait, 0}), Command({kSet, 1600001, 42}), Command({kSet, 1600002, 1})}),
        -1, 5);
    Frame({&i});
    const std::string line = "# ValWatch=>  15000501 = 42\r\n     -->[ｺﾓﾝ5/1行]";
    EXPECT_EQ(DebugWindowText,
              std::string(ConvertUtf8ToCodePage(GameCodePageLocale(), line.c_str())) + "\r\n");
    EXPECT_EQ(DebugWindowDirty, 1);
}

TEST_F(InterpreterTest, CallStackTextOfAThreeLevelChain) {
    Game_Interpreter a;
    a.mapEventId = 4;
    a.line = 10;
    Game_Interpreter& b = a.AddChild();
    b.commonEventId = 7;
    b.line = 3;
    Game_Interpreter& c = b.AddChild();
    c.commonEventId = 9;
    c.line = 2;
    EXPECT_EQ(BuildCallStackText(&c, true), "Common9 line2 <- \r\nCommon7 line2 <- \r\nEv4  line9");
    for (const Game_Interpreter* from : {&a, &b, &c}) {
        EXPECT_EQ(BuildCallStackText(from, false),
                  "Ev4  line9 -> \r\nCommon7 line2 -> \r\nCommon9 line2");
    }
    RunningInterpreter = &c;
    EXPECT_EQ(GetScriptLocationText(),
              "処理地点:【コモンEv 9 行 2 】       <=[ Common7 line2 <- Ev4  line9 ]");
}

TEST_F(InterpreterTest, DeepChainsUpdateAndDieWithoutDeepRecursion) {
    // Far deeper than the call stack could hold as recursion.
    constexpr int kDepth = 100000;
    auto top = std::make_unique<Game_Interpreter>();
    Game_Interpreter* deepest = top.get();
    const auto endOnly = Shared({});
    for (int d = 0; d < kDepth; ++d) {
        deepest->list = endOnly;
        deepest = &deepest->AddChild();
    }
    deepest->Start(Shared({Command({kRecord, 5}), Command({kWait, 2})}), -1, 1);
    Frame({top.get()});
    EXPECT_EQ(Recorded, std::vector<std::int32_t>{5});
    // The deepest finishes; every level collapses in the same frame.
    Frame({top.get()});
    Frame({top.get()});
    EXPECT_TRUE(top->children.empty());
    // A chain is also destroyed without recursion.
    deepest = top.get();
    for (int d = 0; d < kDepth; ++d) deepest = &deepest->AddChild();
    top.reset();
}

TEST_F(InterpreterTest, LineOutsideTheListEndsIt) {
    Game_Interpreter i;
    i.Setup(false);
    // A jump beyond the end.
    LoopsPerInterpreter = -1;
    i.Start(Shared({Command({kJump, 50})}), -1, 0);
    Frame({&i});
    EXPECT_FALSE(i.IsRunning());
    EXPECT_EQ(i.line, 0);
}

TEST_F(InterpreterTest, UnknownAndUnpluggedCodesGoOn) {
    Game_Interpreter i;
    i.Setup(false);
    // 103 (comment), 999 (not listed) and 101 (listed, no handler here) all go on.
    const CommandHandler message = SetCommandHandler(101, nullptr);
    i.Start(Shared({Command({103}), Command({999}), Command({101}), Command({kRecord, 3})}), -1, 0);
    Frame({&i});
    SetCommandHandler(101, message);
    EXPECT_EQ(Recorded, std::vector<std::int32_t>{3});
    EXPECT_EQ(CommandKindOf(101), CommandResultKind::Result);
    EXPECT_EQ(CommandKindOf(210041), CommandResultKind::Next);
    EXPECT_EQ(CommandKindOf(210042), CommandResultKind::Unknown);
    EXPECT_EQ(CommandKindOf(999), CommandResultKind::Unknown);
}

TEST_F(InterpreterTest, MainResetStopsTheScriptAtOnce) {
    SetCommon(1, {Command({kWait, 100})});
    Game_Interpreter main;
    main.Setup(true);
    main.Start(Shared({Command({kCall, 1}), Command({kRecord, 1})}), -1, 0);
    Frame({&main});
    ASSERT_EQ(main.children.size(), 1u);
    main.waitingForWindow = 1;
    MainInterpreterResetRequest = 1;
    Frame({&main});
    EXPECT_EQ(MainInterpreterResetRequest, 0);
    EXPECT_TRUE(main.children.empty());
    EXPECT_FALSE(main.IsRunning());
    EXPECT_TRUE(Recorded.empty());
}

TEST_F(InterpreterTest, RunnersRefreshRestartAndKeepTheirListsAlive) {
    // Kind 2 while self variable 50 of common 1 is 0.
    SetCommon(1, {Command({kRecord, 1})}, 0x22);
    Game_CommonEventRunner runner(1);
    ASSERT_EQ(runner.interpreters.size(), 1u);
    EXPECT_EQ(runner.interpreters[0].parallelFlag, 1);
    runner.RunFrame();
    runner.RunFrame();
    // Restarted in the frame after it ended.
    EXPECT_EQ(Recorded, (std::vector<std::int32_t>{1, 1}));
    TheVariables.SetValue(15000150, 1);
    runner.RunFrame();
    EXPECT_EQ(Recorded.size(), 3u);  // runs on until the next refresh
    runner.Refresh();
    EXPECT_TRUE(runner.interpreters.empty());
    runner.RunFrame();
    EXPECT_EQ(Recorded.size(), 3u);

    // Kind 3 always runs; its list survives growth, overwriting and reloading of the live list.
    SetCommon(2, {Command({kWait, 1}), Command({kRecord, 2})}, 0x03);
    Game_CommonEventRunner always(2);
    CommandStepCounter = 0;
    always.RunFrame();
    TheCommonEvents.Resize(5000);
    SetCommon(2, {Command({kRecord, 99})}, 0x03);
    TheCommonEvents = Game_CommonEventList();
    CommandStepCounter = 0;
    always.RunFrame();
    EXPECT_EQ(Recorded.back(), 2);
    always.RunFrame();  // the common event is gone: nothing to start
    EXPECT_EQ(Recorded.back(), 2);
    EXPECT_FALSE(always.interpreters.front().IsRunning());
}

TEST_F(InterpreterTest, StringInputCompletesFinishesOrCancels) {
    static std::int32_t state = 0;
    static std::vector<std::int32_t> deleted;
    deleted.clear();
    InterpreterLinks& links = GetInterpreterLinks();
    links.checkLineInputState = [](std::int32_t) { return state; };
    links.getLineInputText = [](std::int32_t) {
        return std::string(
            "a\\b\x01"
            "c");
    };
    links.deleteLineInputHandle = [](std::int32_t handle) { deleted.push_back(handle); };
    const auto open = [](Game_Interpreter& i) {
        i.Setup(false);
        i.Start(Shared({Command({kRecordText, 3000002})}), -1, 0);
        i.lineInputHandle = 5;
        i.inputTarget = 3000002;
        i.inputPrefix = "名前:";
        StringInputActive = 1;
        LineInputInUse = 1;
    };
    {
        Game_Interpreter i;
        open(i);
        state = 0;
        Frame({&i});
        EXPECT_TRUE(RecordedTexts.empty());  // still editing
        state = 1;
        Frame({&i});
        EXPECT_EQ(RecordedTexts, std::vector<std::string>{"名前:a\x01\x02\x01"
                                                          "bc"});
        EXPECT_EQ(i.lineInputHandle, 0);
        EXPECT_EQ(LineInputInUse, 0);
        EXPECT_EQ(StringInputActive, 0);
    }
    // Escape cancels at once: the target receives the prefix alone.
    RecordedTexts.clear();
    {
        Game_Interpreter i;
        open(i);
        state = 0;
        TheInput.escapePressed = 1;
        Frame({&i});
        TheInput.escapePressed = 0;
        EXPECT_EQ(RecordedTexts, std::vector<std::string>{"名前:"});
        EXPECT_EQ(LineInputInUse, -1);
    }
    // An interpreter destroyed with its input open cancels it; its copies never do.
    RecordedTexts.clear();
    TheVariables.SetString(3000002, nullptr, "old");
    {
        Game_Interpreter i;
        open(i);
        { Game_Interpreter copy = i; }
        EXPECT_EQ(TheVariables.GetString(3000002), "old");
    }
    EXPECT_EQ(TheVariables.GetString(3000002), "名前:");
    EXPECT_EQ(deleted, (std::vector<std::int32_t>{5, 5, 5}));
}
