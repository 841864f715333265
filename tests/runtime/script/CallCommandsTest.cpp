// Event calls: common events with numbers, texts and return values, relative targets, map event
// pages, the depth limits of both call forms, reservations and ".common" files read once.
#include "runtime/script/CallCommands.h"

#include <filesystem>

#include "CommandTestSupport.h"
#include "runtime/script/FlowCommands.h"
#include "tools/gamedata/GameDataWriter.h"

namespace script_test {
namespace {

// A spare *next* code whose handler notes its argument 1 resolved, so that a test sees which
// lines ran and what a variable held at that moment.
constexpr std::int32_t kMarkCode = 140;
std::vector<std::int32_t> gMarks;

bool NoteMark(Game_Interpreter& i) {
    gMarks.push_back(i.ResolveNumber(CommandArgument(*i.currentCommand, 1)));
    return true;
}

Game_EventCommand Mark(std::int32_t n) {
    return Command({kMarkCode, n});
}

using Marks = std::vector<std::int32_t>;

constexpr std::int32_t kThisCommonSelf = 1600000;

class CallTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        for (std::int32_t code : {210, 211, 300, kMarkCode}) saved_[code] = GetCommandHandler(code);
        InstallCallCommands();
        SetCommandHandler(kMarkCode, &NoteMark);
        gMarks.clear();
        CommonEventNameMap.clear();
        InsertedCommonFiles.clear();
        testPlay_ = TestPlay;
        TestPlay = false;
    }
    void TearDown() override {
        TestPlay = testPlay_;
        CommonEventNameMap.clear();
        InsertedCommonFiles.clear();
        CommandTest::TearDown();
    }
    void SetCommon(std::int32_t n, std::vector<Game_EventCommand> commands) {
        commands.push_back(Command({kEndOfListCode}));
        TheCommonEvents.events[static_cast<std::size_t>(n)].commands.Replace(std::move(commands));
    }
    bool testPlay_ = false;
};

TEST_F(CallTest, NumbersAndTextsArriveBeforeTheCalleeRuns) {
    SetCommon(3, {Mark(kThisCommonSelf), Mark(kThisCommonSelf + 1)});
    TheVariables.SetValue(Normal(0), 20);
    TheVariables.SetString(Text(0), nullptr, "from variable");
    // Two numbers (10 literal, 20 from a variable); text 0 literal, text 1 from a variable.
    const std::int32_t settings = 2 | 2 << 4 | 1 << 12;
    Load({Command({210, 500003, settings, 10, Normal(0), 0, Text(0)}, {"", "literal"}), Mark(77)});
    Frame();
    EXPECT_EQ(gMarks, (Marks{10, 20, 77}));
    EXPECT_EQ(String(15000305), "literal");
    EXPECT_EQ(String(15000306), "from variable");
    EXPECT_FALSE(interpreter_->IsRunning());
}

TEST_F(CallTest, ReturnValueAsNumberOrText) {
    struct Case {
        std::int32_t returnVariable, target;
    };
    for (const Case& c : {Case{2, Normal(4)}, Case{7, Text(2)}}) {
        TheCommonEvents.events[2].returnVariable = c.returnVariable;
        TheVariables.SetValue(15000202, 42);
        TheVariables.SetString(15000207, nullptr, "back");
        Load({Command({210, 500002, 1 << 24, c.target})});
        Frame();
    }
    EXPECT_EQ(Value(Normal(4)), 42);
    EXPECT_EQ(String(Text(2)), "back");
    // Without bit 24 nothing comes back.
    TheVariables.SetValue(15000202, 5);
    TheCommonEvents.events[2].returnVariable = 2;
    Load({Command({210, 500002, 0, Normal(4)})});
    Frame();
    EXPECT_EQ(Value(Normal(4)), 42);
}

TEST_F(CallTest, ReturnIntoThisEventSelfWithoutAMapEventIsReported) {
    TheCommonEvents.events[2].returnVariable = 2;
    EXPECT_TRUE(Execute(Command({210, 500002, 1 << 24, 1100003})));
    EXPECT_EQ(Reports().size(), 1u);
    EXPECT_EQ(interpreter_->returnTarget, 0);
    // The callee still runs.
    EXPECT_EQ(interpreter_->children.size(), 1u);
}

TEST_F(CallTest, RelativeTargetsCountFromTheRunningCommonEvent) {
    struct Case {
        std::int32_t target, expected;
    };
    for (const Case& c : {Case{600100, 2}, Case{600099, 1}, Case{600200, 4}, Case{600000, 0}}) {
        EXPECT_TRUE(Execute(Command({210, c.target, 0}), -1, 2));
        ASSERT_EQ(interpreter_->children.size(), 1u) << c.target;
        EXPECT_EQ(interpreter_->children.front().commonEventId, c.expected) << c.target;
        EXPECT_EQ(interpreter_->children.front().callDepth, 1);
    }
}

TEST_F(CallTest, MissingCommonEventIsReportedInTestPlayOnly) {
    EXPECT_TRUE(Execute(Command({210, 500009, 0})));
    EXPECT_TRUE(interpreter_->children.empty());
    EXPECT_TRUE(Reports().empty());
    TestPlay = true;
    EXPECT_TRUE(Execute(Command({210, 500009, 0})));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_NE(Reports()[0].second.find("9"), std::string::npos);
}

TEST_F(CallTest, SelfCallsStopAtDepth501) {
    const std::vector<Game_EventCommand> body = {Command({210, 500000, 0}), Mark(1)};
    SetCommon(0, body);
    Load(body, -1, 0);
    Frame();
    // Depths 0 to 501 each run their list once; the call at depth 501 is refused.
    EXPECT_EQ(gMarks.size(), 502u);
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_NE(Reports()[0].second.find("0"), std::string::npos);
    EXPECT_FALSE(interpreter_->IsRunning());
}

TEST_F(CallTest, CallsByNameGoOnPast500WithReportsUpTo10000) {
    // The call by number refuses beyond 500; the call by name reports and calls up to 10,000,
    // and refuses beyond that as the call by number does.
    TheCommonEvents.events[1].name = "callee";
    BuildCommonEventNameMap();
    struct Case {
        std::int32_t code, depth;
        bool called;
        std::size_t reports;
    };
    const Case cases[] = {{210, 500, true, 0}, {210, 501, false, 1},  {300, 500, true, 0},
                          {300, 501, true, 1}, {300, 10000, true, 1}, {300, 10001, false, 1}};
    for (const Case& c : cases) {
        Reports().clear();
        Game_Interpreter& i = Load({Command({c.code, 500001, 0}, {"callee"})});
        i.callDepth = c.depth;
        i.currentCommand = &(*i.list)[0];
        EXPECT_TRUE(GetCommandHandler(c.code)(i));
        EXPECT_EQ(i.children.size(), c.called ? 1u : 0u) << c.code << " at " << c.depth;
        EXPECT_EQ(Reports().size(), c.reports) << c.code << " at " << c.depth;
        if (c.called) EXPECT_EQ(i.children.front().callDepth, c.depth + 1);
    }
    // An unknown name calls nothing, silently.
    Reports().clear();
    EXPECT_TRUE(Execute(Command({300, 0, 0}, {"nobody"})));
    EXPECT_TRUE(interpreter_->children.empty());
    EXPECT_TRUE(Reports().empty());
}

TEST_F(CallTest, NameMapKeepsTheLastOfEqualNames) {
    TheCommonEvents.events[1].name = "twin";
    TheCommonEvents.events[3].name = "twin";
    BuildCommonEventNameMap();
    EXPECT_EQ(CommonEventNameMap.at("twin"), 3);
    EXPECT_EQ(CommonEventNameMap.count(""), 0u);
}

struct FakeMap {
    static inline std::vector<std::int32_t> started;
    static std::int32_t Pages(std::int32_t id) { return id == 7 ? 2 : 0; }
    static const Game_CommandList* Page(std::int32_t id, std::int32_t page) {
        static const Game_CommandList pages[2] = {{Mark(10), Command({kEndOfListCode})},
                                                  {Mark(11), Command({kEndOfListCode})}};
        return id == 7 && page >= 0 && page < 2 ? &pages[page] : nullptr;
    }
    static const Game_CommandList* Current(std::int32_t id) {
        static const Game_CommandList current = {Mark(20), Command({kEndOfListCode})};
        return id == 7 ? &current : nullptr;
    }
    static void Start(std::int32_t id) { started.push_back(id); }
    static void Install() {
        started.clear();
        InterpreterLinks& links = GetInterpreterLinks();
        links.eventPageCount = &Pages;
        links.eventPageCommands = &Page;
        links.eventCommands = &Current;
        links.requestEventStart = &Start;
    }
};

TEST_F(CallTest, MapEventPagesRunInAChildWithoutDepth) {
    FakeMap::Install();
    TestPlay = true;
    Load({Command({210, 7, -1}), Command({210, 7, 0}), Command({210, -1, 1}), Command({210, 7, 2}),
          Command({210, 8, 0}), Mark(99)},
         7);
    interpreter_->callDepth = 3;
    Frame();
    EXPECT_EQ(gMarks, (Marks{20, 10, 11, 99}));
    EXPECT_EQ(Reports().size(), 2u);
}

TEST_F(CallTest, OnlyTheLastReservationStarts) {
    SetCommon(1, {Mark(1)});
    SetCommon(3, {Mark(3)});
    EXPECT_TRUE(Execute(Command({211, 500001, 0})));
    EXPECT_TRUE(Execute(Command({211, 500003, 0})));
    EXPECT_EQ(TheGameSystem.requestedCommonEvent, 3);
    Game_Interpreter main;
    main.Setup(true);
    CommandStepCounter = 0;
    main.Update();
    EXPECT_EQ(gMarks, Marks{3});
    EXPECT_EQ(TheGameSystem.requestedCommonEvent, -1);
}

TEST_F(CallTest, ReservingAMapEventFlagsItWhenThePageExists) {
    FakeMap::Install();
    for (std::int32_t page : {0, 1, 2, -1}) EXPECT_TRUE(Execute(Command({211, 7, page})));
    EXPECT_TRUE(Execute(Command({211, 8, 0})));
    EXPECT_EQ(FakeMap::started, (std::vector<std::int32_t>{7, 7, 7}));
}

TEST_F(CallTest, CommonFileIsReadOnceAndItsFirstEventCalled) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("call_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "extra.common").string();
    Game_CommonEventList file;
    file.events.resize(2);
    file.events[0].name = "ext first";
    file.events[0].commands.Replace({Mark(55), Command({kEndOfListCode})});
    file.events[1].name = "ext second";
    file.events[1].commands.Replace({Mark(56), Command({kEndOfListCode})});
    ASSERT_TRUE(gamedata::SaveBytes(path, gamedata::WriteCommonFile(file, {}, {})));

    const Game_EventCommand insert = Command({300, 0, 0}, {path});
    // Only the main interpreter may read a file.
    Load({insert});
    Frame();
    EXPECT_EQ(TheCommonEvents.Count(), 5u);
    ASSERT_EQ(Reports().size(), 1u);
    Reports().clear();

    for (int round = 0; round < 2; ++round) {
        Load({insert, Mark(1)});
        interpreter_->mainFlag = 1;
        Frame();
        // The second round runs with the file gone: it is not read again.
        std::filesystem::remove(path);
    }
    EXPECT_EQ(gMarks, (Marks{55, 1, 55, 1}));
    EXPECT_EQ(TheCommonEvents.Count(), 7u);
    EXPECT_EQ(InsertedCommonFiles.at(path), 5);
    EXPECT_EQ(CommonEventNameMap.at("ext second"), 6);
    EXPECT_GE(TheVariables.commonSelfIntegers.size(), 7u);
    EXPECT_EQ(TheVariables.commonSelfIntegers[6].size(), 100u);
    EXPECT_TRUE(Reports().empty());
    // After the list was read afresh (a restart), the file is read again.
    ASSERT_TRUE(gamedata::SaveBytes(path, gamedata::WriteCommonFile(file, {}, {})));
    TheCommonEvents.Resize(5);
    Load({insert});
    interpreter_->mainFlag = 1;
    Frame();
    EXPECT_EQ(gMarks.back(), 55);
    EXPECT_EQ(TheCommonEvents.Count(), 7u);
    // A file that cannot be read calls nothing.
    Load({Command({300, 0, 0}, {(dir / "missing.common").string()}), Mark(2)});
    interpreter_->mainFlag = 1;
    Frame();
    EXPECT_EQ(gMarks.back(), 2);
    EXPECT_EQ(TheCommonEvents.Count(), 7u);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace script_test
