#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/Windows/DxFileWin.h"
#include "platform/HostPath.h"

namespace {

using namespace ZiDaz;

// Sets the narrow encoding for one test and puts the old one back.
class NarrowEncodingScope {
  public:
    explicit NarrowEncodingScope(std::int32_t encoding)
        : savedNarrow_(NarrowEncoding), savedWide_(WideEncoding), savedSet_(CharSetId) {
        SetNarrowCharCode(encoding);
    }
    ~NarrowEncodingScope() {
        NarrowEncoding = savedNarrow_;
        WideEncoding = savedWide_;
        CharSetId = savedSet_;
    }

  private:
    std::int32_t savedNarrow_, savedWide_, savedSet_;
};

// Puts the default table back after a test installed its own.
class TableScope {
  public:
    ~TableScope() { InstallStreamFunctions(nullptr); }
};

TEST(MakeFullPathNarrow, NeverSplitsATwoByteCharacter) {
    {
        NarrowEncodingScope scope(932);
        // "表" in code page 932 is 0x95 0x5C: its second byte is a backslash.
        const char path[] = "\x95\x5C\\x\\..\\y";
        char out[64];
        MakeFullPathNarrow(path, out, sizeof out, "C:\\base");
        EXPECT_STREQ(out, "C:\\base\\\x95\x5C\\y");
        MakeFullPathNarrow("..", out, sizeof out, "C:\\\x95\x5C");
        EXPECT_STREQ(out, "C:\\\x95\x5C\\..");
        MakeFullPathNarrow("a\\..\\b", out, sizeof out, "C:\\\x95\x5C");
        EXPECT_STREQ(out, "C:\\\x95\x5C\\b");
    }
    {
        NarrowEncodingScope scope(65001);
        // In UTF-8, "ā" is C4 81: 0x81 is a continuation byte, never a lead byte.
        char out[64];
        MakeFullPathNarrow("\xC4\x81\\x", out, sizeof out, "C:\\g");
        EXPECT_STREQ(out, "C:\\g\\\xC4\x81\\x");
        MakeFullPathNarrow("\\\xC4\x81", out, sizeof out, "C:\\g");
        EXPECT_STREQ(out, "C:\\\xC4\x81");
    }
}

// A program's narrow table that records what it was given.
struct Recorder {
    std::string opened, changed;
    std::size_t dirSize = 0;
} recorder;

StreamValue RecOpen(const char* path, int, int, int) {
    recorder.opened = path;
    return 77;
}
int RecClose(StreamValue) {
    return 0;
}
std::int64_t RecTell(StreamValue) {
    return 5;
}
int RecSeek(StreamValue, std::int64_t, int) {
    return 0;
}
std::size_t RecRead(void*, std::size_t, std::size_t, StreamValue) {
    return 0;
}
int RecEof(StreamValue) {
    return 0;
}
int RecIdle(StreamValue) {
    return 1;
}
int RecChangeDir(const char* path) {
    recorder.changed = path;
    return 0;
}
int RecGetDir(char* buffer) {
    std::strcpy(buffer, "C:\\\xE3\x83\x87");  // "C:\デ" in UTF-8
    return 0;
}
int RecGetDirWithSize(char* buffer, std::size_t size) {
    recorder.dirSize = size;
    return RecGetDir(buffer);
}
FileSearchValue RecFindFirst(const char*, NarrowFindFileRecord* record) {
    std::strcpy(record->Name, "\xE3\x83\x87.png");
    record->DirectoryFlag = 0;
    record->Size = 1234;
    record->LastWriteTime = {2020, 1, 2, 3, 4, 5};
    return 9;
}
int RecFindNext(FileSearchValue, NarrowFindFileRecord*) {
    return -1;
}
int RecFindClose(FileSearchValue) {
    return 0;
}

TEST(StreamTable, NarrowTablesSeeNarrowPathsAndGiveWideResults) {
    NarrowEncodingScope encoding(65001);
    TableScope restore;
    NarrowStreamFunctionTable table = {
        RecOpen,      RecClose,  RecTell,           RecSeek,      RecRead,     RecEof,      RecIdle,
        RecChangeDir, RecGetDir, RecGetDirWithSize, RecFindFirst, RecFindNext, RecFindClose};
    ASSERT_EQ(InstallNarrowStreamFunctions(&table), 0);
    EXPECT_EQ(StreamOpen(u"Data\\\u30C7.png", 0, 1, 0), 77u);
    EXPECT_EQ(recorder.opened, "Data\\\xE3\x83\x87.png");
    EXPECT_EQ(StreamTell(77), 5);
    StreamChangeDir(u"\u30C7");
    EXPECT_EQ(recorder.changed, "\xE3\x83\x87");
    char16_t dir[64];
    StreamGetCurrentDir(dir, sizeof dir);
    EXPECT_EQ(std::u16string(dir), u"C:\\\u30C7");
    EXPECT_EQ(recorder.dirSize, sizeof dir);
    FindFileRecord record{};
    EXPECT_EQ(GetStreamFunctionTable()->FindFirst(u"*", &record), 9);
    EXPECT_EQ(std::u16string(record.Name), u"\u30C7.png");
    EXPECT_EQ(record.Size, 1234);
    EXPECT_EQ(record.LastWriteTime.second, 5);
    // The library's own narrow search converts back.
    NarrowFindFileRecord narrow{};
    EXPECT_EQ(BeginFileSearch("*", &narrow), 9);
    EXPECT_STREQ(narrow.Name, "\xE3\x83\x87.png");
    EXPECT_EQ(EndFileSearch(9), 0);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 0);

    // Without GetDirWithSize the current folder comes through GetDir.
    table.GetDirWithSize = nullptr;
    InstallNarrowStreamFunctions(&table);
    dir[0] = 0;
    StreamGetCurrentDir(dir, sizeof dir);
    EXPECT_EQ(std::u16string(dir), u"C:\\\u30C7");
    InstallNarrowStreamFunctions(nullptr);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 1);
}

TEST(StreamTable, DefaultFollowsTheArchiveSwitch) {
    TableScope restore;
    StreamFunctionTable archive = *GetPlainStreamFunctions();
    archive.Open = [](const char16_t*, int, int, int) -> StreamValue { return 0; };
    RegisterArchiveStreamFunctions(&archive);
    SetArchiveLookupSwitch(1);
    InstallStreamFunctions(nullptr);
    EXPECT_EQ(GetStreamFunctionTable()->Open, archive.Open);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 1);
    SetArchiveLookupSwitch(0);  // the plain table is now the default
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 0);
    InstallStreamFunctions(nullptr);
    EXPECT_EQ(GetStreamFunctionTable()->Open, GetPlainStreamFunctions()->Open);
    // A table differing only in IdleCheck and IsArchived still counts as the default.
    StreamFunctionTable custom = *GetPlainStreamFunctions();
    custom.IsArchived = [](StreamValue) { return 1; };
    InstallStreamFunctions(&custom);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 1);
    custom.Read = [](void*, std::size_t, std::size_t, StreamValue) -> std::size_t { return 0; };
    InstallStreamFunctions(&custom);
    EXPECT_EQ(IsDefaultStreamFunctionTable(), 0);
    RegisterArchiveStreamFunctions(nullptr);
    SetArchiveLookupSwitch(1);
}

TEST(StreamTable, FileReaderForwardsToTheTableOfTheMoment) {
    NarrowEncodingScope encoding(65001);
    TableScope restore;
    char folder[] = "/tmp/velk-reader-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string path = std::string(folder) + "/r.bin";
    std::ofstream(path, std::ios::binary) << "0123456789";
    InstallStreamFunctions(nullptr);
    std::u16string wide = platform::Utf8ToUtf16(path);
    StreamValue stream = StreamOpen(wide.c_str(), 0, 1, 0);
    ASSERT_NE(stream, 0u);
    const StreamReaderOps& reader = *GetFileStreamAccess();
    void* handle = reinterpret_cast<void*>(stream);
    char buffer[4];
    EXPECT_EQ(reader.Read(buffer, 2, 2, handle), 2u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(reader.Seek(handle, -1, 2), 0);
    EXPECT_EQ(reader.Tell(handle), 9);
    EXPECT_EQ(reader.Read(buffer, 4, 1, handle), 0u);
    EXPECT_NE(reader.Eof(handle), 0);
    EXPECT_EQ(reader.IdleCheck(handle), 1);
    EXPECT_EQ(StreamIsArchived(stream), 0);
    EXPECT_EQ(GetFileSizeByPath(path.c_str()), 10);
    EXPECT_EQ(GetFileSizeByPath((std::string(folder) + "/none").c_str()), -1);
    EXPECT_EQ(reader.Close(handle), 0);
    std::system(("rm -rf " + std::string(folder)).c_str());
}

}  // namespace
