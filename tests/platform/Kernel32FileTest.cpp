#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/KernelObject.h"

namespace {

using namespace platform::kernel32;

std::u16string U16(const std::string& text) {
    return platform::Utf8ToUtf16(text);
}

std::string U8(const char16_t* text) {
    std::string out;
    platform::Utf16ToUtf8(text, out);
    return out;
}

class Kernel32File : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/velk-k32file-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }

    void Write(const std::string& relative, const std::string& content) {
        std::string path = root_ + "/" + relative;
        for (std::size_t slash = path.find('/', root_.size() + 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            mkdir(path.substr(0, slash).c_str(), 0755);
        }
        std::ofstream(path, std::ios::binary) << content;
    }
    std::string Read(const std::string& relative) {
        std::ifstream in(root_ + "/" + relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::u16string Path(const std::string& relative) { return U16(root_ + "/" + relative); }

    HANDLE Open(const std::string& relative, DWORD access = GENERIC_READ,
                DWORD disposition = OPEN_EXISTING) {
        return CreateFileW(Path(relative).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    // The names FindFirstFile/FindNextFile list for a pattern inside the root folder.
    std::vector<std::string> List(const std::string& pattern) {
        std::vector<std::string> names;
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW(Path(pattern).c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) return names;
        do names.push_back(U8(data.cFileName));
        while (FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(search));
        return names;
    }

    std::string root_;
};

TEST_F(Kernel32File, ReadsWritesSeeksAndMeasures) {
    HANDLE file = Open("a.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(WriteFile(file, "0123456789", 10, &done, nullptr));
    EXPECT_EQ(done, 10u);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 10u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
    char buffer[16] = {};
    EXPECT_TRUE(ReadFile(file, buffer, 4, &done, nullptr));
    EXPECT_EQ(std::string(buffer, done), "3456");
    EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), 9u);
    EXPECT_TRUE(ReadFile(file, buffer, 16, &done, nullptr));  // short at the end, not a failure
    EXPECT_EQ(done, 1u);
    EXPECT_TRUE(ReadFile(file, buffer, 16, &done, nullptr));
    EXPECT_EQ(done, 0u);

    // Errors: before the start, bad origin; the position stays where it was.
    EXPECT_EQ(SetFilePointer(file, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u);

    // 64-bit positions through the high part; without it a position past 4 GB is refused.
    LONG highPart = 1;
    EXPECT_EQ(SetFilePointer(file, 5, &highPart, FILE_BEGIN), 5u);
    EXPECT_EQ(highPart, 1);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_TRUE(CloseHandle(file));

    // A closed handle is refused, not reused.
    EXPECT_FALSE(ReadFile(file, buffer, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
    EXPECT_FALSE(CloseHandle(file));
}

TEST_F(Kernel32File, DispositionsAndTheirErrors) {
    Write("old.txt", "old");
    Write("sub/keep.txt", "x");
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        bool opens;
        DWORD error;          // GetLastError after the call
        const char* content;  // the file afterwards (null: must not exist)
    };
    const Case cases[] = {
        {"old.txt", GENERIC_WRITE, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
        {"new1.txt", GENERIC_WRITE, CREATE_NEW, true, ERROR_SUCCESS, ""},
        {"old.txt", GENERIC_READ, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
        {"missing.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"nofolder/x.txt", GENERIC_READ, OPEN_EXISTING, false, ERROR_PATH_NOT_FOUND, nullptr},
        {"nofolder/x.txt", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_PATH_NOT_FOUND, nullptr},
        {"old.txt", GENERIC_READ, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
        {"new2.txt", GENERIC_READ, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
        {"sub", GENERIC_READ, OPEN_EXISTING, false, ERROR_ACCESS_DENIED, nullptr},
        {"sub", GENERIC_WRITE, CREATE_ALWAYS, false, ERROR_ACCESS_DENIED, nullptr},
        {"old.txt", GENERIC_READ, 0, false, ERROR_INVALID_PARAMETER, "old"},
        {"old.txt", GENERIC_READ, TRUNCATE_EXISTING, false, ERROR_INVALID_PARAMETER, "old"},
        {"old.txt", GENERIC_WRITE, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " disposition " + std::to_string(c.disposition));
        HANDLE file = Open(c.name, c.access, c.disposition);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        if (file != INVALID_HANDLE_VALUE) {
            EXPECT_TRUE(CloseHandle(file));
        }
        struct stat info;
        bool isFile = stat((root_ + "/" + c.name).c_str(), &info) == 0 && S_ISREG(info.st_mode);
        if (c.content) {
            EXPECT_TRUE(isFile);
            EXPECT_EQ(Read(c.name), c.content);
        } else {
            EXPECT_FALSE(isFile);
        }
    }
}

TEST_F(Kernel32File, AccessRightsAreKept) {
    Write("f.txt", "abc");
    HANDLE reader = Open("f.txt", GENERIC_READ);
    DWORD done = 5;
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(done, 0u);
    CloseHandle(reader);
    HANDLE writer = Open("f.txt", GENERIC_WRITE);
    char c;
    EXPECT_FALSE(ReadFile(writer, &c, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(writer);
    if (geteuid() != 0) {  // root reads anything
        chmod((root_ + "/f.txt").c_str(), 0);
        EXPECT_EQ(Open("f.txt"), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    }
}

TEST_F(Kernel32File, LooselySpeltPathsResolveCaseInsensitively) {
    Write("Data/BasicData/GAME.DAT", "game");
    Write("Data/Picture/Face.png", "face");
    HANDLE file = Open("Data\\BasicData\\Game.dat");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[8];
    DWORD done = 0;
    ReadFile(file, buffer, 8, &done, nullptr);
    EXPECT_EQ(std::string(buffer, done), "game");
    CloseHandle(file);
    for (const char* spelling :
         {"data/basicdata/game.dat", "DATA\\BASICDATA/game.DAT", "Data//BasicData\\\\Game.dat",
          "data/picture/../BasicData/game.dat"}) {
        SCOPED_TRACE(spelling);
        file = Open(spelling);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        CloseHandle(file);
    }
    // A new file in a loosely spelt folder goes into the existing folder, under its own name.
    file = Open("data/PICTURE/New.png", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(access((root_ + "/Data/Picture/New.png").c_str(), F_OK), 0);
    // A drive is taken from the root.
    file = CreateFileW((u"C:" + Path("Data\\BasicData\\game.dat")).c_str(), GENERIC_READ, 0,
                       nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    // Names outside ASCII fold too.
    Write("Ärger/Öl.txt", "x");
    file = Open("äRGER/öL.TXT");
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(DeleteFileW(Path("data/picture/new.PNG").c_str()));
    EXPECT_NE(access((root_ + "/Data/Picture/New.png").c_str(), F_OK), 0);
}

TEST_F(Kernel32File, MovesNeverReplaceWhatIsThere) {
    Write("a.dat", "first");
    Write("b.dat", "second");
    // An existing target, in any spelling, stays as it was, and so does the source.
    for (const char* target : {"b.dat", "B.DAT"}) {
        SetLastError(0);
        EXPECT_FALSE(MoveFileW(Path("a.dat").c_str(), Path(target).c_str()));
        EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(Read("a.dat"), "first");
    EXPECT_EQ(Read("b.dat"), "second");

    // A free name: the file moves, found through a loosely spelt source.
    ASSERT_TRUE(MoveFileW(Path("A.Dat").c_str(), Path("a.dat.broken").c_str()));
    EXPECT_EQ(Read("a.dat.broken"), "first");
    EXPECT_NE(access((root_ + "/a.dat").c_str(), F_OK), 0);
    // Folders move too, and the narrow form takes the same paths.
    Write("sub/x.txt", "x");
    ASSERT_TRUE(MoveFileA((root_ + "/sub").c_str(), (root_ + "/moved").c_str()));
    EXPECT_EQ(Read("moved/x.txt"), "x");
    EXPECT_FALSE(MoveFileA((root_ + "/moved").c_str(), (root_ + "/b.dat").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    // Missing sources and target folders.
    EXPECT_FALSE(MoveFileW(Path("none.dat").c_str(), Path("c.dat").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFileW(Path("b.dat").c_str(), Path("nofolder/c.dat").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(Read("b.dat"), "second");
    EXPECT_FALSE(MoveFileW(nullptr, Path("c.dat").c_str()));
}

// A change lands only on the exact name or on the one file that matches ignoring case; with
// several spellings present nothing is picked among them, and a new file keeps its spelling.
TEST_F(Kernel32File, ChangesNeverPickAmongSpellings) {
    Write("one/log.txt", "only");
    EXPECT_TRUE(DeleteFileW(Path("one/Log.txt").c_str()));  // the one match, as Windows would
    EXPECT_NE(access((root_ + "/one/log.txt").c_str(), F_OK), 0);

    Write("two/log.txt", "lower");
    Write("two/LOG.TXT", "upper");
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(Path("two/Log.txt").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(MoveFileW(Path("two/Log.txt").c_str(), Path("two/moved.txt").c_str()));
    HANDLE file = Open("two/Log.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(Read("two/log.txt"), "lower");
    EXPECT_EQ(Read("two/LOG.TXT"), "upper");
    EXPECT_EQ(access((root_ + "/two/Log.txt").c_str(), F_OK), 0);
    // Reading still finds a file in any spelling, and the exact name wins when it exists.
    EXPECT_EQ(Read("two/Log.txt"), "");
    EXPECT_TRUE(DeleteFileW(Path("two/Log.txt").c_str()));
    EXPECT_EQ(Read("two/log.txt"), "lower");

    // A new file is made under its own spelling beside another one.
    Write("three/log.txt", "other");
    file = Open("three/Log.txt", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_EQ(Read("three/log.txt"), "other");
    EXPECT_EQ(access((root_ + "/three/Log.txt").c_str(), F_OK), 0);
}

// Names that are not valid UTF-8 stay distinct: each listed name opens its own file.
TEST_F(Kernel32File, NamesThatAreNotUtf8KeepTheirBytes) {
    const std::string names[] = {"x\xFF", "x\xFE", "x\xC3", "x\xED\xA0\x80", "\xE3\x81"};
    for (const std::string& name : names) Write("raw/" + name, "content of " + name);
    std::vector<std::string> listed;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(Path("raw/*").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        std::u16string name = data.cFileName;
        if (name == u"." || name == u"..") continue;
        HANDLE file = CreateFileW((Path("raw/") + name).c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        char buffer[64];
        DWORD done = 0;
        ReadFile(file, buffer, sizeof buffer, &done, nullptr);
        CloseHandle(file);
        listed.push_back(std::string(buffer, done));
    } while (FindNextFileW(search, &data));
    FindClose(search);
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected;
    for (const std::string& name : names) expected.push_back("content of " + name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    // The conversions give the bytes back, and still refuse other unpaired surrogates.
    for (const std::string& name : names) EXPECT_EQ(U8(U16(name).c_str()), name);
    std::string out;
    EXPECT_FALSE(platform::Utf16ToUtf8(u"\xDC00", out));
    EXPECT_FALSE(platform::Utf16ToUtf8(u"\xD800", out));
    EXPECT_TRUE(DeleteFileW((Path("raw/") + U16("x\xFF")).c_str()));
    EXPECT_EQ(Read("raw/x\xFE"), "content of x\xFE");
}

TEST_F(Kernel32File, HostileAndBrokenPathsFailCleanly) {
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};  // an unpaired surrogate
    EXPECT_EQ(CreateFileW(lone, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileW(u"", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    std::u16string longName = Path(std::string(5000, 'x'));
    EXPECT_EQ(CreateFileW(longName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(Path("nothing").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    Write("dir/x", "");
    EXPECT_FALSE(DeleteFileW(Path("dir").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    WIN32_FIND_DATAW data;
    EXPECT_EQ(FindFirstFileW(lone, &data), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FindNextFileW(nullptr, &data));
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(Kernel32File, WildcardsMatchAsWindowsDoes) {
    for (const char* name : {"a.png", "B.PNG", "a.b.png", "icon1.png", "icon12.png", "icon123.png",
                             "icon1234.png", "noext", "x.pngx", ".hidden", "abc", "a.c"}) {
        Write(std::string("w/") + name, "");
    }
    using Names = std::vector<std::string>;
    const Names all = {".",           "..",           ".hidden", "a.b.png",   "a.c",
                       "a.png",       "abc",          "B.PNG",   "icon1.png", "icon12.png",
                       "icon123.png", "icon1234.png", "noext",   "x.pngx"};
    struct Case {
        const char* pattern;
        Names expected;
    };
    const Case cases[] = {
        {"*", all},
        {"*.*", all},
        {"*.png",
         {"a.b.png", "a.png", "B.PNG", "icon1.png", "icon12.png", "icon123.png", "icon1234.png"}},
        {"*.PNG",
         {"a.b.png", "a.png", "B.PNG", "icon1.png", "icon12.png", "icon123.png", "icon1234.png"}},
        {"icon???.png", {"icon1.png", "icon12.png", "icon123.png"}},
        {"icon?.png", {"icon1.png"}},
        {"a?c", {"a.c", "abc"}},
        {"*.", {".", "..", "abc", "noext"}},
        {"noext.*", {"noext"}},
        {"a*", {"a.b.png", "a.c", "a.png", "abc"}},
        {"*c", {"a.c", "abc"}},
        {"ABC", {"abc"}},
        {"*.pn", {}},
        {"?bc", {"abc"}},
        {"a??", {"abc"}},  // a "?" run at the end never takes a dot
        {"zzz*", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(List(std::string("w/") + c.pattern), c.expected);
    }
}

// Stars never try every split of a long name: a name of 255 letters against many stars comes
// back at once (trying every split takes years), matched or refused as it should be.
TEST_F(Kernel32File, ManyStarsOverALongNameMatchAtOnce) {
    const std::string longName(255, 'a');
    Write("long/" + longName, "");
    Write("long/" + std::string(120, 'a') + ".txt", "");
    using Names = std::vector<std::string>;
    EXPECT_EQ(List("long/*a*a*a*a*a*b"), Names{});
    EXPECT_EQ(List("long/*a*a*a*a*a*b*"), Names{});
    EXPECT_EQ(List("long/*a*a*a*a*a"), Names{longName});
    EXPECT_EQ(List("long/*A*a*a*a*a*.txt"), Names{std::string(120, 'a') + ".txt"});
    EXPECT_EQ(List("long/a*a*a?a*a??"), Names{longName});
    EXPECT_EQ(List("long/*a*a*a*a*a*.*"), (Names{std::string(120, 'a') + ".txt", longName}));
}

TEST_F(Kernel32File, FindReportsKindSizeAttributesAndTimes) {
    Write("f/file.bin", std::string(1234, 'z'));
    Write("f/Sub/x", "");
    struct timespec times[2] = {{1000000000, 0}, {1262304000, 500000000}};  // mtime 2010-01-01
    utimensat(AT_FDCWD, (root_ + "/f/file.bin").c_str(), times, 0);
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(Path("F/FILE.BIN").c_str(), &data);  // loose folder spelling
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(U8(data.cFileName), "file.bin");
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(data.nFileSizeLow, 1234u);
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    SYSTEMTIME written;
    ASSERT_TRUE(FileTimeToSystemTime(&data.ftLastWriteTime, &written));
    EXPECT_EQ(written.wYear, 2010);
    EXPECT_EQ(written.wMonth, 1);
    EXPECT_EQ(written.wDay, 1);
    EXPECT_EQ(written.wMilliseconds, 500);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));

    search = FindFirstFileW(Path("f/sub").c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(U8(data.cFileName), "Sub");
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x3)));
    FindClose(search);

    EXPECT_EQ(FindFirstFileW(Path("f/*.none").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(Path("nofolder/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirstFileW(Path("f/file.bin/*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    WIN32_FIND_DATAA narrow;
    search = FindFirstFileA((root_ + "\\f\\*.bin").c_str(), &narrow);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(narrow.cFileName, "file.bin");
    EXPECT_EQ(narrow.nFileSizeLow, 1234u);
    FindClose(search);
}

TEST(Kernel32FileTime, ConvertsToCalendarAndLocalTime) {
    struct Case {
        std::uint64_t ticks;
        SYSTEMTIME expected;  // year, month, day of week, day, h, m, s, ms
    };
    const Case cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {116444736000000000ULL, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {125911584000000000ULL, {2000, 1, 6, 1, 0, 0, 0, 0}},
        {125963012967890000ULL, {2000, 2, 2, 29, 12, 34, 56, 789}},
        {0x7FFFFFFFFFFFFFFFULL, {30828, 9, 4, 14, 2, 48, 5, 477}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ticks);
        FILETIME time{static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
        SYSTEMTIME out;
        ASSERT_TRUE(FileTimeToSystemTime(&time, &out));
        EXPECT_EQ(std::memcmp(&out, &c.expected, sizeof out), 0)
            << out.wYear << "-" << out.wMonth << "-" << out.wDay << " dow " << out.wDayOfWeek << " "
            << out.wHour << ":" << out.wMinute << ":" << out.wSecond << "." << out.wMilliseconds;
    }
    FILETIME negative{0, 0x80000000u};
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &out));

    const char* savedTz = std::getenv("TZ");
    std::string saved = savedTz ? savedTz : "";
    setenv("TZ", "JST-9", 1);
    tzset();
    FILETIME utc{static_cast<DWORD>(116444736000000000ULL),
                 static_cast<DWORD>(116444736000000000ULL >> 32)};
    FILETIME local;
    ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &out));
    EXPECT_EQ(out.wHour, 9);
    if (savedTz) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST_F(Kernel32File, CurrentFolderTempNamesAndModuleName) {
    Write("Game/Data/x", "");
    char16_t saved[4096];
    ASSERT_GT(GetCurrentDirectoryW(4096, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(Path("GAME\\data").c_str()));
    char16_t now[4096];
    DWORD length = GetCurrentDirectoryW(4096, now);
    EXPECT_EQ(U8(now), root_ + "/Game/Data");
    EXPECT_EQ(length, root_.size() + 10);
    EXPECT_EQ(GetCurrentDirectoryW(3, now), length + 1);  // too small: the size needed
    char narrow[4096];
    EXPECT_EQ(GetCurrentDirectoryA(4096, narrow), length);
    HANDLE relative = CreateFileW(u"X", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(relative, INVALID_HANDLE_VALUE);  // relative paths resolve in the current folder
    CloseHandle(relative);
    EXPECT_FALSE(SetCurrentDirectoryW(Path("nothing").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    ASSERT_TRUE(SetCurrentDirectoryW(saved));

    char16_t temp[MAX_PATH];
    DWORD tempLength = GetTempPathW(MAX_PATH, temp);
    ASSERT_GT(tempLength, 0u);
    EXPECT_EQ(temp[tempLength - 1], u'/');
    char16_t name[MAX_PATH];
    UINT unique = GetTempFileNameW(Path("").c_str(), u"tmpx", 0, name);
    ASSERT_NE(unique, 0u);
    std::string created = U8(name);
    EXPECT_EQ(created.rfind(root_ + "/tmp", 0), 0u) << created;
    EXPECT_EQ(created.substr(created.size() - 4), ".tmp");
    EXPECT_EQ(access(created.c_str(), F_OK), 0);  // unique 0 creates the file
    UINT second = GetTempFileNameW(Path("").c_str(), u"tmp", 0, name);
    EXPECT_NE(U8(name), created);
    EXPECT_NE(second, 0u);
    EXPECT_EQ(GetTempFileNameW(Path("x").c_str(), u"ab", 0x1A2B, name), 0x1A2Bu);
    EXPECT_EQ(U8(name), root_ + "/x\\ab1A2B.tmp");
    EXPECT_EQ(GetTempFileNameW(Path("nofolder/").c_str(), u"tmp", 0, name), 0u);

    char exe[4096];
    ssize_t exeLength = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(exeLength, 0);
    char16_t module[4096];
    EXPECT_EQ(GetModuleFileNameW(nullptr, module, 4096), static_cast<DWORD>(exeLength));
    EXPECT_EQ(U8(module), std::string(exe, static_cast<std::size_t>(exeLength)));
    EXPECT_EQ(GetModuleFileNameW(nullptr, module, 4), 4u);  // cut and terminated
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(module[3], 0);
}

TEST_F(Kernel32File, ClosedFilesGiveBackTheirDescriptors) {
    Write("f", "x");
    std::size_t before = platform::OpenHandleCount();
    for (int i = 0; i < 3000; ++i) {  // more than the usual 1,024 descriptors
        HANDLE file = Open("f");
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << i;
        ASSERT_TRUE(CloseHandle(file));
    }
    EXPECT_EQ(platform::OpenHandleCount(), before);
}

}  // namespace
