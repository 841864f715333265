#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Main/DxFile.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFileWin.h"
#include "platform/HostPath.h"

namespace {

using namespace ZiDaz;

class PlainFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velk-plainfile-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    std::u16string Write(const std::string& name, const std::string& content) {
        std::ofstream(root_ + "/" + name, std::ios::binary) << content;
        return Path(name);
    }
    std::u16string Path(const std::string& name) {
        return platform::Utf8ToUtf16(root_ + "/" + name);
    }

    std::string root_;
};

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    std::uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 16);
    }
    return data;
}

// A step of a read script: seek (when origin >= 0) then read `items` of `itemSize`.
struct Step {
    int origin;
    std::int64_t offset;
    std::size_t itemSize;
    std::size_t items;
};

// Runs the script and returns every result in one transcript: bytes read, item counts,
// positions and end flags.
std::string RunScript(PlainFileStream* stream, const std::vector<Step>& script) {
    std::string transcript;
    std::vector<char> buffer;
    for (const Step& step : script) {
        if (step.origin >= 0) {
            transcript += "seek" + std::to_string(PlainFileSeek(stream, step.offset, step.origin));
        }
        buffer.assign(step.itemSize * step.items, '\0');
        std::size_t got = PlainFileRead(buffer.data(), step.itemSize, step.items, stream);
        transcript += "|" + std::to_string(got) + "@" + std::to_string(PlainFileTell(stream)) +
                      "e" + std::to_string(PlainFileEof(stream)) + ":";
        transcript.append(buffer.data(), got * step.itemSize);
    }
    return transcript;
}

TEST_F(PlainFiles, DirectAndCachedReadsDeliverTheSameBytes) {
    const std::size_t size = 0x20000 * 2 + 777;  // a little over two cache fills
    std::u16string path = Write("data.bin", Pattern(size));
    std::vector<std::vector<Step>> scripts;
    for (std::size_t piece : {1u, 3u, 100u, 4096u, 65536u, 0x20000u, 0x20001u, 300000u}) {
        scripts.push_back({{0, 0, piece, 1}, {-1, 0, piece, 1}, {-1, 0, 1, piece}});
        std::vector<Step> sequential;
        for (int i = 0; i < 12; ++i) sequential.push_back({-1, 0, piece, 1});
        scripts.push_back(sequential);
    }
    scripts.push_back({{0, 0x1FFF0, 1, 32},     // across the cache boundary
                       {0, 0x20000 - 5, 4, 3},  // items across it
                       {2, -10, 4, 10},         // at the end: 2 whole items
                       {-1, 0, 4, 1},           // then nothing, end flag
                       {0, 5, 100, 1},          // back to the start region
                       {1, -3, 7, 2},           // relative backwards
                       {0, -1, 1, 1},           // before the start: position 0
                       {0, static_cast<std::int64_t>(size) + 50, 1, 1},  // past the end
                       {0, 100, 0, 5},                                   // item size 0
                       {1, 0, 1, 0x30000}});
    for (std::size_t k = 0; k < scripts.size(); ++k) {
        SCOPED_TRACE(k);
        PlainFileStream* direct = PlainFileOpen(path.c_str(), 0, 1, 0);
        PlainFileStream* cached = PlainFileOpen(path.c_str(), 1, 1, 0);
        ASSERT_NE(direct, nullptr);
        ASSERT_NE(cached, nullptr);
        std::string expected = RunScript(direct, scripts[k]);
        // Let the cached reader's read-ahead run in between, too.
        std::string got = RunScript(cached, scripts[k]);
        EXPECT_TRUE(expected == got);
        EXPECT_EQ(PlainFileClose(direct), 0);
        EXPECT_EQ(PlainFileClose(cached), 0);
        DX_FREE(direct);
        DX_FREE(cached);
    }
}

TEST_F(PlainFiles, CachedReadsStayRightWhenTheThreadReadsAheadInIdlePeriods) {
    // Pauses longer than the file thread's 100 ms idle period let it fill the cache behind the
    // bytes already delivered; reads, seeks and asynchronous reads in between must still deliver
    // the file's own bytes.
    const std::string data = Pattern(0x20000 * 3 + 999);
    std::u16string path = Write("idle.bin", data);
    struct Read {
        std::int64_t seekTo;  // -1: no seek
        std::size_t bytes;
        bool pauseAfter;
    };
    const std::vector<Read> reads{{-1, 100, true},    {-1, 5000, true},     {-1, 1, false},
                                  {10, 7, true},      {-1, 300000, false},  {-1, 64, true},
                                  {0x1FFFF, 3, true}, {-1, 0x20000, false}, {-1, 4096, true},
                                  {-1, 2, false}};
    for (int async : {0, 1}) {
        SCOPED_TRACE(async);
        PlainFileStream* stream = PlainFileOpen(path.c_str(), 1, 1, async);
        ASSERT_NE(stream, nullptr);
        std::int64_t at = 0;
        for (const Read& r : reads) {
            if (r.seekTo >= 0) {
                ASSERT_EQ(PlainFileSeek(stream, r.seekTo, 0), 0);
                at = r.seekTo;
            }
            std::string buffer(r.bytes, '\0');
            ASSERT_EQ(PlainFileRead(buffer.data(), 1, r.bytes, stream), r.bytes);
            while (!PlainFileIdleCheck(stream)) usleep(100);
            ASSERT_EQ(buffer, data.substr(static_cast<std::size_t>(at), r.bytes)) << "at " << at;
            at += static_cast<std::int64_t>(r.bytes);
            EXPECT_EQ(PlainFileTell(stream), at);
            if (r.pauseAfter) usleep(150000);
        }
        EXPECT_EQ(PlainFileClose(stream), 0);
        DX_FREE(stream);
    }
}

TEST_F(PlainFiles, TheTableReadsWholeItemsAndKeepsTheEndFlag) {
    std::u16string path = Write("nine.bin", "123456789");
    const StreamFunctionTable* table = GetPlainStreamFunctions();
    for (int cache : {0, 1}) {
        SCOPED_TRACE(cache);
        StreamValue stream = table->Open(path.c_str(), cache, 1, 0);
        ASSERT_NE(stream, 0u);
        char buffer[40];
        EXPECT_EQ(table->Read(buffer, 4, 10, stream), 2u);
        EXPECT_EQ(table->Tell(stream), 8);
        EXPECT_EQ(table->Eof(stream), 0);
        EXPECT_EQ(table->Read(buffer, 4, 1, stream), 0u);
        EXPECT_EQ(table->Eof(stream), -1);
        EXPECT_EQ(table->Seek(stream, 0, 3), -1);
        EXPECT_EQ(table->Tell(stream), 8);
        EXPECT_EQ(table->Seek(stream, 0, 0), 0);
        EXPECT_EQ(table->Eof(stream), 0);
        EXPECT_EQ(table->IdleCheck(stream), 1);
        EXPECT_EQ(table->IsArchived(stream), 0);
        EXPECT_EQ(table->Close(stream), 0);
    }
}

TEST_F(PlainFiles, AShrunkFileGivesAShortCountInEveryMode) {
    std::u16string path = Write("shrink.bin", Pattern(1000));
    for (int cache : {0, 1}) {
        SCOPED_TRACE(cache);
        PlainFileStream* stream = PlainFileOpen(path.c_str(), cache, 1, 0);
        ASSERT_NE(stream, nullptr);
        ASSERT_EQ(truncate((root_ + "/shrink.bin").c_str(), 300), 0);
        std::vector<char> buffer(1000, 'x');
        EXPECT_EQ(PlainFileRead(buffer.data(), 100, 10, stream), 3u);
        EXPECT_EQ(PlainFileTell(stream), 300);
        EXPECT_EQ(PlainFileEof(stream), -1);
        PlainFileClose(stream);
        DX_FREE(stream);
        Write("shrink.bin", Pattern(1000));
    }
}

TEST_F(PlainFiles, FailuresReturnNullAndNeverCrash) {
    mkdir((root_ + "/folder").c_str(), 0755);
    for (int cache : {0, 1}) {
        for (int async : {0, 1}) {
            SCOPED_TRACE(cache * 10 + async);
            EXPECT_EQ(PlainFileOpen(Path("missing.bin").c_str(), cache, 1, async), nullptr);
            EXPECT_EQ(PlainFileOpen(Path("folder").c_str(), cache, 1, async), nullptr);
            EXPECT_EQ(PlainFileOpen(nullptr, cache, 1, async), nullptr);
        }
    }
    EXPECT_EQ(GetPlainStreamFunctions()->Open(Path("nothing").c_str(), 0, 1, 0), 0u);
    if (geteuid() != 0) {  // root reads anything
        Write("locked.bin", "secret");
        chmod((root_ + "/locked.bin").c_str(), 0);
        for (int cache : {0, 1})
            EXPECT_EQ(PlainFileOpen(Path("locked.bin").c_str(), cache, 1, 0), nullptr);
    }
}

TEST_F(PlainFiles, MixedCaseGameFoldersOpenAsSpeltOnWindows) {
    mkdir((root_ + "/Data").c_str(), 0755);
    mkdir((root_ + "/Data/BasicData").c_str(), 0755);
    Write("Data/BasicData/GAME.DAT", "game data");
    for (int cache : {0, 1}) {
        SCOPED_TRACE(cache);
        PlainFileStream* stream =
            PlainFileOpen(Path("Data\\BasicData\\Game.dat").c_str(), cache, 1, 0);
        ASSERT_NE(stream, nullptr);
        char buffer[16] = {};
        EXPECT_EQ(PlainFileRead(buffer, 1, sizeof buffer, stream), 9u);
        EXPECT_EQ(std::string(buffer), "game data");
        PlainFileClose(stream);
        DX_FREE(stream);
    }
}

TEST_F(PlainFiles, AsynchronousReadsCompleteBeforeTheNextOperation) {
    std::string data = Pattern(50000);
    std::u16string path = Write("async.bin", data);
    PlainFileStream* stream = PlainFileOpen(path.c_str(), 0, 1, 1);
    ASSERT_NE(stream, nullptr);
    std::vector<char> first(20000), second(30000);
    EXPECT_EQ(PlainFileRead(first.data(), 1, first.size(), stream), first.size());
    EXPECT_EQ(PlainFileRead(second.data(), 1, second.size(), stream), second.size());
    while (!PlainFileIdleCheck(stream)) usleep(100);
    EXPECT_EQ(std::string(first.begin(), first.end()) + std::string(second.begin(), second.end()),
              data);
    EXPECT_EQ(PlainFileClose(stream), 0);
    DX_FREE(stream);
}

TEST_F(PlainFiles, FindsFilesWithSizesAndTimes) {
    Write("a.png", "12345");
    Write("b.PNG", "");
    Write("c.txt", "");
    mkdir((root_ + "/sub.png").c_str(), 0755);
    FindFileRecord record;
    FileSearchValue search = PlainFileFindFirst(Path("*.png").c_str(), &record);
    ASSERT_NE(search, -1);
    std::vector<std::string> names;
    do {
        std::string name;
        platform::Utf16ToUtf8(record.Name, name);
        names.push_back(name + (record.DirectoryFlag ? "/" : "") + std::to_string(record.Size));
        EXPECT_GE(record.LastWriteTime.year, 2020);
    } while (PlainFileFindNext(search, &record) == 0);
    EXPECT_EQ(PlainFileFindClose(search), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"a.png5", "b.PNG0", "sub.png/0"}));
    EXPECT_EQ(PlainFileFindFirst(Path("*.none").c_str(), &record), -1);
    search = PlainFileFindFirst(Path("*.png").c_str(), nullptr);  // a record is optional
    ASSERT_NE(search, -1);
    EXPECT_EQ(PlainFileFindNext(search, nullptr), 0);
    EXPECT_EQ(PlainFileFindClose(search), 0);
}

TEST_F(PlainFiles, WriteFilesAndTemporaryFiles) {
    std::u16string path = Write("out.bin", "old content");
    void* file = CreateWriteFile(path.c_str());
    ASSERT_NE(file, nullptr);
    std::size_t written = 0;
    EXPECT_EQ(WriteFileBytes(file, "abcdef", 6, &written), 0);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(SeekWriteFile(file, 1, 0), 0);
    WriteFileBytes(file, "X", 1, nullptr);
    EXPECT_EQ(SeekWriteFile(file, 0, 2), 0);
    WriteFileBytes(file, "!", 1, nullptr);
    EXPECT_NE(CloseWriteFile(file), 0);
    std::ifstream in(root_ + "/out.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "aXcdef!");
    EXPECT_EQ(RemoveFileByPath(path.c_str()), 0);
    EXPECT_NE(access((root_ + "/out.bin").c_str(), F_OK), 0);

    const char* saved = std::getenv("TMPDIR");
    std::string savedValue = saved ? saved : "";
    setenv("TMPDIR", root_.c_str(), 1);
    char16_t made[1024];
    void* temp = CreateTempFileForWrite(made, sizeof made, u"avi");
    ASSERT_NE(temp, nullptr);
    CloseWriteFile(temp);
    std::string name;
    platform::Utf16ToUtf8(made, name);
    std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(name.rfind(root_ + "/tmp", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".avi");
    EXPECT_EQ(access(platform::ResolveHostPath(name).c_str(), F_OK), 0);
    // Only the file handed out is left in the folder.
    int files = 0;
    FindFileRecord record;
    FileSearchValue search = PlainFileFindFirst(Path("tmp*").c_str(), &record);
    if (search != -1) {
        do ++files;
        while (PlainFileFindNext(search, &record) == 0);
        PlainFileFindClose(search);
    }
    EXPECT_EQ(files, 1);
    if (saved) {
        setenv("TMPDIR", savedValue.c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
}

TEST(MemoryStreams, ReadWholeItemsAndClampSeeks) {
    const char data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryStream* stream = CreateMemoryStream(data, 10);
    ASSERT_NE(stream, nullptr);
    const StreamReaderOps& ops = *GetMemoryStreamAccess();
    char buffer[16] = {};
    EXPECT_EQ(ops.Read(buffer, 4, 3, stream), 2u);
    EXPECT_EQ(ops.Tell(stream), 8);
    // Less than an item left: the tail is handed over but no item is counted.
    EXPECT_EQ(ops.Read(buffer, 4, 1, stream), 0u);
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(buffer[1], 9);
    EXPECT_NE(ops.Eof(stream), 0);
    EXPECT_EQ(ops.Tell(stream), 10);
    EXPECT_EQ(ops.Read(buffer, 1, 1, stream), 0u);
    EXPECT_EQ(ops.Seek(stream, -5, 0), 0);
    EXPECT_EQ(ops.Tell(stream), 0);
    EXPECT_EQ(ops.Eof(stream), 0);
    EXPECT_EQ(ops.Seek(stream, 5, 2), 0);
    EXPECT_EQ(ops.Tell(stream), 10);
    EXPECT_EQ(ops.Seek(stream, 3, 0), 0);
    EXPECT_EQ(ops.Seek(stream, 2, 1), 0);
    EXPECT_EQ(ops.Tell(stream), 5);
    EXPECT_EQ(ops.Seek(stream, 2, 9), 0);  // an unknown origin goes to the start
    EXPECT_EQ(ops.Tell(stream), 0);
    EXPECT_EQ(ops.Read(buffer, 4, 0, stream), 0u);
    EXPECT_EQ(ops.Tell(stream), 0);
    EXPECT_EQ(ops.IdleCheck(stream), 1);
    EXPECT_EQ(ops.Close(stream), 0);
}

}  // namespace
