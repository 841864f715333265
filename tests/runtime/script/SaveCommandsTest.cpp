#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "runtime/data/SaveTestSupport.h"
#include "runtime/script/SaveCommands.h"

namespace {

constexpr std::int32_t kVar3 = 2000003;
constexpr std::int32_t kText0 = 3000000;

class SaveCommandsTest : public save_test::SaveTest {
  protected:
    void SetUp() override {
        save_test::SaveTest::SetUp();
        InstallSaveCommands();
    }
    void TearDown() override {
        for (std::int32_t code : {220, 221, 222}) SetCommandHandler(code, nullptr);
        interpreter_.reset();
        save_test::SaveTest::TearDown();
    }

    // Runs one command through its handler, as the dispatcher does.
    void Run(std::vector<std::int32_t> arguments, std::int32_t parallel = 0) {
        auto list = std::make_shared<Game_CommandList>();
        Game_EventCommand command;
        command.arguments = std::move(arguments);
        list->push_back(command);
        interpreter_ = std::make_unique<Game_Interpreter>();
        interpreter_->Start(list, -1, -1);
        interpreter_->parallelFlag = parallel;
        interpreter_->currentCommand = &(*interpreter_->list)[0];
        ASSERT_TRUE(GetCommandHandler(interpreter_->currentCommand->Code())(*interpreter_));
    }

    std::unique_ptr<Game_Interpreter> interpreter_;
};

}  // namespace

TEST_F(SaveCommandsTest, SaveToASlotOrANamedFile) {
    FillLiveGame();
    Run({220, 0, 3});
    EXPECT_TRUE(std::filesystem::exists(dir / "Save/SaveData03.sav"));
    TheVariables.SetString(kText0, nullptr, "Save/Custom.sav");
    Run({220, 0, kText0});
    EXPECT_TRUE(std::filesystem::exists(dir / "Save/Custom.sav"));
    TheVariables.SetString(kText0, nullptr, "../Outside.sav");
    Run({220, 0, kText0});
    EXPECT_FALSE(std::filesystem::exists(dir.parent_path() / "Outside.sav"));
    ASSERT_EQ(ReportFirsts().size(), 1u);
    EXPECT_EQ(shell_test::ReportCapture::reports()[0].second, "../Outside.sav");
}

TEST_F(SaveCommandsTest, LoadIsRefusedInAParallelEvent) {
    FillLiveGame();
    Run({220, 0, 3});
    TheVariables.SetValue(kVar3, 5);
    Run({220, 1, 3}, 1);
    EXPECT_EQ(TheVariables.GetValue(kVar3), 5);
    EXPECT_EQ(ReportFirsts().size(), 1u);
    EXPECT_EQ(SaveJustLoaded, 0);
    Run({220, 1, 3});
    EXPECT_EQ(TheVariables.GetValue(kVar3), 77);
    EXPECT_EQ(SaveJustLoaded, 1);
    EXPECT_FALSE(TheSystemState.mainInterpreter.IsRunning());
}

TEST_F(SaveCommandsTest, AWrittenValueReadsBackInTheSameFrame) {
    TheVariables.SetValue(2000001, 41);
    Run({222, 2000001, 4, kVar3});
    Run({221, 2000002, 4, kVar3});
    EXPECT_EQ(TheVariables.GetValue(2000002), 41);
    EXPECT_EQ(std::filesystem::file_size(dir / "Save/SaveData04.sav"), 0u);
    // The id taken from a variable (flag bit 0), and a string.
    TheVariables.SetValue(2000005, kText0 + 2);
    TheVariables.SetString(kText0 + 1, nullptr, "word");
    Run({222, kText0 + 1, 4, 2000005, 1});
    Run({221, kText0 + 3, 4, kText0 + 2});
    EXPECT_EQ(TheVariables.GetString(kText0 + 3), "word");
    FlushDirtySaves();
    EXPECT_GT(std::filesystem::file_size(dir / "Save/SaveData04.sav"), 20u);
}

TEST_F(SaveCommandsTest, BackslashCodesReachTheFileLayerAsSingleBackslashes) {
    EXPECT_EQ(UnescapeSaveName("Save\x01\x02\x01"
                               "A.sav"),
              "Save\\A.sav");
    EXPECT_EQ(UnescapeSaveName("Save\\\\B.sav"), "Save\\B.sav");
    TheVariables.SetString(kText0, nullptr,
                           "Save\x01\x02\x01"
                           "C.sav");
    TheVariables.SetValue(2000001, 8);
    Run({222, 2000001, kText0, kVar3});
    EXPECT_EQ(TheSaveManager.dirty.begin()->first, dir.string() + "/Save\\C.sav");
    FlushDirtySaves();
    EXPECT_TRUE(std::filesystem::exists(dir / "Save/C.sav"));
}
