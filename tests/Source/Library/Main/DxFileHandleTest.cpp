#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/DxThread.h"
#include "Main/Windows/DxSystemWin.h"
#include "platform/KernelObject.h"

namespace {

using namespace ZiDaz;

class FileHandles : public ::testing::Test {
  protected:
    void SetUp() override {
        savedNarrow_ = NarrowEncoding;
        SetNarrowCharCode(65001);
        char pattern[] = "/tmp/velk-filehandle-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        InstallStreamFunctions(nullptr);
    }
    void TearDown() override {
        EndFileModule();
        NarrowEncoding = savedNarrow_;
        std::system(("rm -rf '" + root_ + "'").c_str());
    }
    std::string Write(const std::string& name, const std::string& content) {
        std::string path = root_ + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    std::string root_;
    std::int32_t savedNarrow_ = 0;
};

TEST_F(FileHandles, ReadAWholeFileAndRefuseWhatIsNotAFileHandle) {
    std::string path = Write("data.bin", "0123456789");
    EXPECT_EQ(GetFileSizeByPath(path.c_str()), 10);
    int handle = OpenReadFileHandle(path.c_str(), 0);
    ASSERT_GT(handle, 0);
    char buffer[32] = {};
    EXPECT_EQ(ReadFileHandle(buffer, 4, handle), 4);
    EXPECT_EQ(ReadFileHandle(buffer + 4, 32, handle), 6);  // m < n bytes: m
    EXPECT_EQ(std::string(buffer), "0123456789");
    EXPECT_EQ(ReadFileHandle(buffer, 4, handle), 0);
    EXPECT_EQ(ReadFileHandle(buffer, 0, handle), 0);
    EXPECT_EQ(CloseFileHandle(handle), 0);
    EXPECT_EQ(ReadFileHandle(buffer, 4, handle), -1);  // gone
    EXPECT_EQ(CloseFileHandle(handle), -1);
    EXPECT_EQ(ReadFileHandle(buffer, 4, -1), -1);
    EXPECT_EQ(ReadFileHandle(buffer, 4, 12345), -1);
    EXPECT_EQ(ReadFileHandle(buffer, 4, (DX_HANDLETYPE_GRAPH << kHandleTypeShift) | 1), -1);
}

TEST_F(FileHandles, MissingFilesAndFoldersGiveZero) {
    mkdir((root_ + "/folder").c_str(), 0755);
    EXPECT_EQ(OpenReadFileHandle((root_ + "/missing.dat").c_str(), 0), 0);
    EXPECT_EQ(OpenReadFileHandle((root_ + "/folder").c_str(), 0), 0);
    EXPECT_EQ(OpenReadFileHandle(nullptr, 0), 0);
    EXPECT_EQ(GetFileSizeByPath((root_ + "/missing.dat").c_str()), -1);
    EXPECT_EQ(GetFileSizeByPath((root_ + "/folder").c_str()), -1);
}

TEST_F(FileHandles, LooselySpeltDataFilesOpen) {
    mkdir((root_ + "/Data").c_str(), 0755);
    mkdir((root_ + "/Data/BasicData").c_str(), 0755);
    Write("Data/BasicData/GAME.DAT", "game");
    std::string asked = root_ + "/Data/BasicData/Game.dat";
    EXPECT_EQ(GetFileSizeByPath(asked.c_str()), 4);
    int handle = OpenReadFileHandle(asked.c_str(), 0);
    ASSERT_GT(handle, 0);
    char buffer[8] = {};
    EXPECT_EQ(ReadFileHandle(buffer, 8, handle), 4);
    EXPECT_EQ(std::string(buffer), "game");
    CloseFileHandle(handle);
}

TEST_F(FileHandles, HandlesNeverClosedStillGiveTheirFilesBack) {
    // A game opens a handle per data file and may never close it: every file read to its end
    // is released at once, so thousands of reads do not run out of open files.
    std::string path = Write("small.dat", "abc");
    std::size_t openBefore = platform::OpenHandleCount();
    for (int i = 0; i < 3000; ++i) {
        int handle = OpenReadFileHandle(path.c_str(), 0);
        ASSERT_GT(handle, 0) << i;
        char buffer[3];
        ASSERT_EQ(ReadFileHandle(buffer, 3, handle), 3);  // exactly the size: released too
    }
    EXPECT_EQ(platform::OpenHandleCount(), openBefore);
    // A handle whose file was not read to the end keeps it until closed or the module ends.
    int partial = OpenReadFileHandle(path.c_str(), 0);
    char one;
    EXPECT_EQ(ReadFileHandle(&one, 1, partial), 1);
    EXPECT_EQ(platform::OpenHandleCount(), openBefore + 1);
    EXPECT_EQ(EndFileModule(), 0);
    EXPECT_EQ(platform::OpenHandleCount(), openBefore);
    EXPECT_EQ(ReadFileHandle(&one, 1, partial), -1);
    EXPECT_EQ(EndFileModule(), -1);
}

TEST_F(FileHandles, AsynchronousReadFlagDeliversTheSameBytes) {
    std::string data(100000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
    std::string path = Write("big.dat", data);
    int handle = OpenReadFileHandle(path.c_str(), 1);
    ASSERT_GT(handle, 0);
    std::string buffer(data.size(), '\0');
    EXPECT_EQ(ReadFileHandle(buffer.data(), static_cast<int>(buffer.size()), handle), 100000);
    EXPECT_EQ(CloseFileHandle(handle), 0);  // waits for the read
    EXPECT_TRUE(buffer == data);
}

}  // namespace

namespace {

using namespace ZiDaz;

// With asynchronous loading on, opens and reads run on the load threads.
class FileHandlesLoadedAsynchronously : public FileHandles {
  protected:
    void SetUp() override {
        FileHandles::SetUp();
        EnableLogOutput(0);
        ASSERT_EQ(InitASyncLoad(QueryCurrentThreadId()), 0);
        ASSERT_EQ(StartASyncLoadThreads(4), 0);
        EnableASyncLoad(1);
    }
    void TearDown() override {
        EnableASyncLoad(0);
        EndFileModule();
        StopASyncLoadThreads();
        EndASyncLoad();
        FileHandles::TearDown();
    }
};

TEST_F(FileHandlesLoadedAsynchronously, OpensAndReadsOnLoadThreads) {
    std::string data(70000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
    std::string path = Write("async.dat", data);
    int handle = OpenReadFileHandle(path.c_str(), 0);
    ASSERT_GT(handle, 0);
    std::string buffer(data.size() + 10, '\0');
    // The read waits for the open, then is queued itself: 0 now, the count as the load's result.
    EXPECT_EQ(ReadFileHandle(buffer.data(), static_cast<int>(buffer.size()), handle), 0);
    EXPECT_EQ(WaitHandleASyncLoad(handle), 0);
    EXPECT_EQ(LookupHandleRecord(handle)->asyncResult, 70000);
    EXPECT_TRUE(buffer.compare(0, data.size(), data) == 0);
    EXPECT_EQ(CloseFileHandle(handle), 0);

    // A missing file: the handle comes back at once and is gone once its load has ended.
    int missing = OpenReadFileHandle((root_ + "/none.dat").c_str(), 0);
    ASSERT_GT(missing, 0);
    char c;
    EXPECT_EQ(ReadFileHandle(&c, 1, missing), -1);
    EXPECT_EQ(LookupHandleRecord(missing), nullptr);
}

TEST_F(FileHandlesLoadedAsynchronously, FailedOpensDeleteTheirHandlesWhileTheCallerAsks) {
    // The load thread deletes the handle of a failed open while this thread reads, closes or
    // asks about it: every answer is "no such handle", and nothing touches a freed record.
    const std::string missing = root_ + "/none.dat";
    char c = 0;
    for (int i = 0; i < 100; ++i) {
        int handle = OpenReadFileHandle(missing.c_str(), 0);
        ASSERT_GT(handle, 0);
        switch (i % 3) {
            case 0:
                EXPECT_EQ(ReadFileHandle(&c, 1, handle), -1);
                break;
            case 1:
                EXPECT_NE(IsHandleLoading(handle), 0);  // loading (1), or already gone (-1)
                EXPECT_EQ(WaitHandleASyncLoad(handle), -1);
                break;
            default:
                // Closed before its open ran, or refused because the failed open took it.
                EXPECT_LE(CloseFileHandle(handle), 0);
                EXPECT_EQ(CloseFileHandle(handle), -1);
                break;
        }
    }
}

TEST_F(FileHandlesLoadedAsynchronously, ManyHandlesFromOneThreadAllComplete) {
    std::string path = Write("small.dat", "abcdef");
    std::vector<int> handles;
    std::vector<std::string> buffers(200, std::string(6, '\0'));
    for (int i = 0; i < 200; ++i) {
        handles.push_back(OpenReadFileHandle(path.c_str(), 0));
        ASSERT_GT(handles.back(), 0);
        ReadFileHandle(buffers[static_cast<std::size_t>(i)].data(), 6, handles.back());
    }
    for (int i = 0; i < 200; ++i) {
        WaitHandleASyncLoad(handles[static_cast<std::size_t>(i)]);
        EXPECT_EQ(buffers[static_cast<std::size_t>(i)], "abcdef");
        EXPECT_EQ(CloseFileHandle(handles[static_cast<std::size_t>(i)]), 0);
    }
}

}  // namespace
