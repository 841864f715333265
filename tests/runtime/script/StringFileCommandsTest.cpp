// The string operation, download and file commands, run in a scratch game folder.
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "CommandTestSupport.h"
#include "runtime/script/FileCommands.h"
#include "runtime/script/StringCommands.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/world/Game_MapState.h"

namespace fs = std::filesystem;
using namespace script_test;

namespace {

constexpr std::int32_t kLiteral = 0, kVariable = 1;

class StringFileTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        InstallStringCommands();
        InstallFileCommands();
        TheBasicData.utf8 = 1;
        previous_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("velk-strings-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
        StringInputActive = 0;
        TestPlay = true;
        TheGameSystem.ExtraWaitMs = 0;
        DownloadState = 0;
    }
    void TearDown() override {
        fs::current_path(previous_);
        fs::remove_all(folder_);
        ResetStringOperationServices();
        ResetFileCommandServices();
        StringInputActive = 0;
        TestPlay = false;
        TheMapState = Game_MapState();
        CommandTest::TearDown();
    }

    // Runs code 122 with a literal (or variable) source into string variable 1.
    std::string Operate(std::int32_t operation, const std::string& source,
                        const std::string& target = "", std::int32_t kind = kLiteral,
                        std::vector<std::int32_t> extra = {}) {
        TheVariables.SetString(Text(1), nullptr, target);
        std::vector<std::int32_t> arguments{122, Text(1), operation | kind, Text(2)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        if (kind == kVariable) TheVariables.SetString(Text(2), nullptr, source);
        Execute(Command(arguments, {kind == kLiteral ? source : "", "aa"}));
        return String(Text(1));
    }
    static std::string ReadBytes(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void WriteBytes(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }

    fs::path previous_, folder_;
};

TEST_F(StringFileTest, TextOperationsTransformSourceAndTarget) {
    struct Case {
        std::int32_t operation;
        std::string source, target, expected;
    };
    const Case cases[] = {
        {0x000, "abc", "old", "abc"},
        {0x100, "abc", "x", "xabc"},
        {0xF00, "abc", "x", "xabc"},
        {0x200, "a\r\nb\nc", "", "a"},
        {0x200, "whole", "", "whole"},
        {0x800, "b", "abcabc", "acac"},
        {0x800, "", "abc", "abc"},
        {0x900, "a", "aaa", "aaaaaa"},  // the inserted text is not searched again
        {0x900, "", "aaa", "aaa"},
        {0xA00, "=", "x=1", "x"},
        {0xB00, "=", "x=1", "1"},
        {0xA00, "?", "x=1", "<<NotFound>>"},
        {0xB00, "", "x=1", "<<NotFound>>"},
        {0xC00, "abc", "x", "abc"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Operate(c.operation, c.source, c.target), c.expected)
            << std::hex << c.operation << " on " << c.source;
    }
}

TEST_F(StringFileTest, TakeOperationsGiveTheRestBack) {
    EXPECT_EQ(Operate(0x300, "a\r\nb\nc", "", kVariable), "a");
    EXPECT_EQ(String(Text(2)), "b\nc");
    EXPECT_EQ(Operate(0x300, "no line feed", "", kVariable), "no line feed");
    EXPECT_EQ(String(Text(2)), "");
    EXPECT_EQ(Operate(0x400, "あいう", "", kVariable), "あ");
    EXPECT_EQ(String(Text(2)), "いう");
    EXPECT_EQ(Operate(0x40100, "あいう", "", kVariable), "う");
    EXPECT_EQ(String(Text(2)), "あい");
    EXPECT_EQ(Operate(0x400, "", "x", kVariable), "");
    EXPECT_EQ(String(Text(2)), "");
}

TEST_F(StringFileTest, IntegerTargetsTakeTheLeadingNumber) {
    for (auto [text, value] : {std::pair<const char*, int>{"12ab", 12}, {"-7", -7}, {"ab", 0}}) {
        Execute(Command({122, Normal(3), 0, 0}, {text}));
        EXPECT_EQ(Value(Normal(3)), value) << text;
    }
}

TEST_F(StringFileTest, TextFilesAreWrittenWithCrLfAndOneBomAndReadBack) {
    for (int run = 0; run < 2; ++run) {
        Operate(0x600, "out/notes.txt", "line1\nline2", kLiteral, {1});
    }
    EXPECT_EQ(ReadBytes("out/notes.txt"), "\xEF\xBB\xBFline1\r\nline2");
    // The result is expanded like every other, which drops the carriage returns.
    EXPECT_EQ(Operate(0x500, "out/notes.txt"), "line1\nline2");
    EXPECT_EQ(Operate(0x500, "missing.txt"), "<NoFile>");
    WriteBytes("abc.bin", "abc");
    EXPECT_EQ(Operate(0xE00, "abc.bin"), "YWJj");
    EXPECT_TRUE(Reports().empty());
}

TEST_F(StringFileTest, CodePageGamesWriteAndReadTheirCodePage) {
    TheBasicData.utf8 = 0;
    GameCharSetIndex = 0;  // Japanese
    Operate(0x600, "sjis.txt", "あ");
    EXPECT_EQ(ReadBytes("sjis.txt"), "\x82\xA0");
    EXPECT_EQ(Operate(0x500, "sjis.txt"), "あ");
}

TEST_F(StringFileTest, NamesOutsideTheGameFolderAreRefused) {
    WriteBytes((folder_.parent_path() / "velk-outside.txt").string(), "secret");
    for (const char* name : {"/etc/passwd", "../velk-outside.txt", "C:/x.txt"}) {
        EXPECT_EQ(Operate(0x500, name, "kept"), "kept") << name;
        EXPECT_EQ(Operate(0xE00, name, "kept"), "kept") << name;
        Operate(0x600, name, "data");
    }
    fs::remove(folder_.parent_path() / "velk-outside.txt");
    EXPECT_FALSE(fs::exists("/etc/passwd2"));
    EXPECT_GE(Reports().size(), 6u);
    Reports().clear();
    Operate(0x600, "BasicData/Game.dat", "x");
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_FALSE(fs::exists("BasicData/Game.dat"));
}

TEST_F(StringFileTest, FolderListingNamesEveryEntry) {
    fs::create_directories("list/sub");
    WriteBytes("list/a.txt", "");
    std::string listed = Operate(0x700, "list");
    std::vector<std::string> names;
    std::stringstream lines(listed);
    for (std::string line; std::getline(lines, line);) names.push_back(line);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "sub"}));
    EXPECT_EQ(Operate(0x700, "list/a.txt"), "<<ERROR>>");
    EXPECT_EQ(Operate(0x700, "nothing", "kept"), "kept");
    EXPECT_EQ(Reports().size(), 1u);
}

TEST_F(StringFileTest, QueryTokens) {
    TheMapState.imageNames[0] = "base.png";
    TheMapState.eventNameIndex["Door"] = 4;
    EXPECT_EQ(Operate(0x500, "<<GET_TILE_FILENAME>>0"), "base.png");
    EXPECT_EQ(Operate(0x500, "<<GET_TILE_FILENAME>>32"), "<<NotFound>>");
    EXPECT_EQ(Operate(0x500, "<<GET_TILE_FILENAME>>-1"), "<<NotFound>>");
    EXPECT_EQ(Operate(0x500, "<<GET_MAPEVENT_ID_FROM_NAME>>Door"), "4");
    EXPECT_EQ(Operate(0x500, "<<GET_MAPEVENT_ID_FROM_NAME>>Wall"), "-1");
    EXPECT_EQ(Operate(0x500, "<<GET_STRING_WIDTH_COUNT>>aあ\n"), "3");
    EXPECT_EQ(Operate(0x500, "<<GET_FILENAME_FROM_PICTURE>>3"), "<<NotFound>>");
    GetStringOperationServices().soundLengthMs = [](const std::string& path) -> std::int64_t {
        return path == "Data/BGM/a.ogg" ? 1234 : -1;
    };
    EXPECT_EQ(Operate(0x500, "<<GET_SOUNDTIME>>Data/BGM/a.ogg"), "1234");
    EXPECT_EQ(Operate(0x500, "<<GET_SOUNDTIME>>none.ogg"), "-1");
}

TEST_F(StringFileTest, OnlyOneStringInputRunsAtATime) {
    static std::vector<int> created;
    created.clear();
    auto& services = GetStringOperationServices();
    services.setInputFont = [](int, const std::string&, int, int) {};
    services.enableIme = [](int) {};
    services.activateLineInput = [](std::int32_t) {};
    services.createLineInput = [](int maximum, int) {
        created.push_back(maximum);
        return 7;
    };
    TheVariables.SetString(Text(1), nullptr, "before");
    TheVariables.SetValue(Normal(4), 2);
    Game_Interpreter& first = Load({Command({122, Text(1), 0x100 | 3, Normal(4)})});
    first.line = 0;
    first.currentCommand = &(*first.list)[0];
    EXPECT_TRUE(CommandStringOperation(first));
    EXPECT_EQ(first.lineInputHandle, 7);
    EXPECT_EQ(first.inputPrefix, "before");
    EXPECT_EQ(String(Text(1)), "");  // emptied at once; the prefix comes back with the input
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0], 4);  // too small a maximum is raised
    Game_Interpreter second;
    second.Setup(false);
    second.Start(first.list, -1, -1);
    second.line = 0;
    second.currentCommand = &(*second.list)[0];
    EXPECT_FALSE(CommandStringOperation(second));
    EXPECT_EQ(created.size(), 1u);
    first.lineInputHandle = 0;
}

TEST_F(StringFileTest, FileOperationsStayInsideTheGameFolder) {
    WriteBytes("a.txt", "new");
    WriteBytes("b.txt", "old");
    Execute(Command({1000, 2}, {"a.txt", "b.txt"}));
    EXPECT_EQ(ReadBytes("b.txt"), "new");
    Execute(Command({1000, 2}, {"missing.txt", "b.txt"}));
    EXPECT_EQ(ReadBytes("b.txt"), "new");  // a failed copy keeps the destination
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].second, "missing.txt => b.txt");
    fs::create_directories("Data");
    WriteBytes("Data/keep.txt", "");
    for (const char* name : {"data/keep.txt", "DATA/keep.txt", "Data/keep.txt", "x/../a.txt"}) {
        Execute(Command({1000, 3}, {name}));
    }
    EXPECT_TRUE(fs::exists("Data/keep.txt"));
    EXPECT_TRUE(fs::exists("a.txt"));
    Execute(Command({1000, 3}, {"a.txt"}));
    EXPECT_FALSE(fs::exists("a.txt"));
    Execute(Command({1000, 1}, {"made"}));
    EXPECT_TRUE(fs::is_directory("made"));
    TheGameSystem.ExtraWaitMs = 30;
    Execute(Command({1000, 5, 20}));
    EXPECT_EQ(TheGameSystem.ExtraWaitMs, 50);
    Execute(Command({1000, 5, -100}));
    EXPECT_EQ(TheGameSystem.ExtraWaitMs, 0);
}

TEST_F(StringFileTest, ScreenshotsReportFailuresAndRenewCachedPictures) {
    static std::vector<std::string> dropped;
    dropped.clear();
    DropCachedPictureImageHook = [](const std::string& name) { dropped.push_back(name); };
    GetFileCommandServices().saveScreenPng = [](const std::string& name) {
        return name != "fail.png";
    };
    Execute(Command({1000, 4}, {"Data/Picture/shot.png"}));
    Execute(Command({1000, 4}, {"shot.png"}));
    Execute(Command({1000, 4}, {"fail.png"}));
    Execute(Command({1000, 4}, {"../up.png"}));
    DropCachedPictureImageHook = nullptr;
    EXPECT_EQ(dropped, (std::vector<std::string>{"Data/Picture/shot.png", "../shot.png"}));
    EXPECT_EQ(Reports().size(), 2u);
}

TEST_F(StringFileTest, DownloadsHandOverWhatTheCommandAsks) {
    static std::vector<DownloadRequest> requests;
    static std::vector<std::string> opened;
    requests.clear();
    opened.clear();
    auto& services = GetFileCommandServices();
    services.startDownload = [](const DownloadRequest& r, std::int32_t*) {
        requests.push_back(r);
        return requests.size() < 2;
    };
    services.openUrl = [](const std::string& url) { opened.push_back(url); };
    Execute(Command({260, 0, 1600005, 0x4 | 0x2}, {"http://h/p?a b&c=é", "dl"}), -1, 12);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].url, "http://h/p?a+b&c=%C3%A9");
    EXPECT_EQ(requests[0].resultVariable, 15001205);
    EXPECT_TRUE(Reports().empty());
    Execute(Command({260, 0, 3}, {"http://busy", "dl"}));
    ASSERT_EQ(Reports().size(), 1u);
    EXPECT_EQ(Reports()[0].second, "http://busy");
    Execute(Command({260, 0, -4}, {"ftp://h/", ""}));
    Execute(Command({260, 0, -4}, {"https://h/", ""}));
    EXPECT_EQ(opened, (std::vector<std::string>{"https://h/"}));
    EXPECT_EQ(Reports().size(), 2u);
    Execute(Command({260, 0, 3}, {"http://h/", "../x"}));
    EXPECT_EQ(requests.size(), 2u);  // the unsafe path never reached the worker
}

TEST(DownloadWorker, RequestsFailAtOnceUntilTheWorkerExists) {
    std::int32_t wait = 1;
    DownloadState = 0;
    EXPECT_TRUE(StartDownload(DownloadRequest{}, &wait));
    EXPECT_EQ(DownloadState, -1);
    EXPECT_EQ(wait, 0);
}

}  // namespace
