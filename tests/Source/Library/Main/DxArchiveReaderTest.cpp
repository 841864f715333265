// The archive reader and its streams over archives packed by our writer: every file reads back
// byte for byte in every mode, key and coding; directories, finding, locating; damaged archives
// are refused.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "ArchiveTestSupport.h"
#include "LogCapture.h"
#include "Main/Windows/DxFileWin.h"
#include "Main/Windows/DxWinAPI.h"

namespace {

using namespace ZiDaz;
using namespace archive_test;
using velk::archive::Compression;
using velk::archive::WriteArchive;
using velk::archive::WriteOptions;

struct Variant {
    const char* name;
    WriteOptions options;
};

std::vector<Variant> Variants() {
    std::vector<Variant> variants;
    WriteOptions o;
    o.compression = Compression::None;
    variants.push_back({"stored, default key, UTF-8", o});
    o = WriteOptions{};
    o.scramble = false;
    variants.push_back({"LZ + Huffman whole, no key", o});
    o = WriteOptions{};
    o.key = "Secret key";
    o.compression = Compression::Huffman;
    o.huffmanKilobytes = 1;
    o.keepSmaller = false;
    variants.push_back({"Huffman partial (1 KB), own key, always coded", o});
    o = WriteOptions{};
    o.compression = Compression::Lz;
    o.charset = CharEncoding::ShiftJis;
    o.compressHead = false;
    o.key = "";
    variants.push_back({"LZ, Shift-JIS names, plain head, empty key", o});
    o = WriteOptions{};
    o.huffmanKilobytes = 2;
    o.keepSmaller = false;
    o.charset = CharEncoding::ShiftJis;
    variants.push_back({"LZ + Huffman partial (2 KB), Shift-JIS, always coded", o});
    return variants;
}

const char* KeyOf(const WriteOptions& options) {
    return options.key ? options.key->c_str() : nullptr;
}

class ArchiveRoundTrip : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        SetNarrowCharCode(CharEncoding::Utf8);
        files_ = new std::vector<TreeFile>(StandardTreeFiles());
    }
    static void TearDownTestSuite() {
        delete files_;
        files_ = nullptr;
    }
    static std::vector<TreeFile>* files_;
};
std::vector<TreeFile>* ArchiveRoundTrip::files_ = nullptr;

TEST_F(ArchiveRoundTrip, EveryFileReadsBackFromMemoryInEveryImageMode) {
    ASSERT_GE(files_->size(), 280u);
    for (const Variant& variant : Variants()) {
        SCOPED_TRACE(variant.name);
        const Bytes archive = WriteArchive(TreeOf(*files_), variant.options);
        struct Mode {
            const char* name;
            int copy;
            int leaveUnchanged;
        };
        for (const Mode& mode :
             {Mode{"copied", 1, 0}, Mode{"in place", 0, 0}, Mode{"left unchanged", 0, 1}}) {
            SCOPED_TRACE(mode.name);
            Bytes image = archive;
            ArchiveReader reader;
            InitArchiveReader(&reader);
            ASSERT_EQ(OpenArchiveInMemory(&reader, image.data(), image.size(), mode.copy,
                                          mode.leaveUnchanged, KeyOf(variant.options), nullptr),
                      0);
            EXPECT_EQ(reader.charset, variant.options.charset);
            for (const TreeFile& file : *files_) {
                Bytes read;
                ASSERT_TRUE(ReadThroughStream(&reader, file.path, &read)) << file.path;
                ASSERT_TRUE(read == file.data) << file.path;
            }
            EXPECT_EQ(CloseArchiveReader(&reader), 0);
            // Used in place, the caller's image comes back scrambled as it was given.
            EXPECT_TRUE(image == archive);
        }
    }
}

TEST_F(ArchiveRoundTrip, FileModeAndPreloadReadTheSameBytes) {
    TempFolder folder("file-modes");
    int n = 0;
    for (const Variant& variant : Variants()) {
        SCOPED_TRACE(variant.name);
        auto path = folder.path() / ("a" + std::to_string(n++) + ".velk");
        WriteFile(path, WriteArchive(TreeOf(*files_), variant.options));
        std::u16string wide = Wide(path.string());
        for (int preload : {0, 1}) {
            SCOPED_TRACE(preload ? "preloaded" : "file mode");
            ArchiveReader reader;
            InitArchiveReader(&reader);
            int opened =
                preload
                    ? OpenArchiveFromFileToMemory(&reader, wide.c_str(), KeyOf(variant.options), 1)
                    : OpenArchiveFromFile(&reader, wide.c_str(), KeyOf(variant.options));
            ASSERT_EQ(opened, 0);
            EXPECT_EQ(GetArchiveMemoryImage(&reader) != nullptr, preload == 1);
            for (std::size_t i = 0; i < files_->size(); i += preload ? 1 : 3) {
                const TreeFile& file = (*files_)[i];
                Bytes read;
                ASSERT_TRUE(ReadThroughStream(&reader, file.path, &read)) << file.path;
                ASSERT_TRUE(read == file.data) << file.path;
            }
            CloseArchiveReader(&reader);
        }
    }
}

TEST_F(ArchiveRoundTrip, AsynchronousStreamsDeliverOnceIdle) {
    TempFolder folder("async");
    WriteOptions options;
    options.huffmanKilobytes = 1;
    auto path = folder.path() / "a.velk";
    WriteFile(path, WriteArchive(TreeOf(*files_), options));
    std::u16string wide = Wide(path.string());
    ArchiveReader reader;
    InitArchiveReader(&reader);
    ASSERT_EQ(OpenArchiveFromFile(&reader, wide.c_str(), nullptr), 0);
    for (const char* name : {"BGM/title.ogg", "BGM/battle.ogg", "画像/ソ表/表示.txt"}) {
        SCOPED_TRACE(name);
        const TreeFile* file = nullptr;
        for (const TreeFile& f : *files_) {
            if (f.path == name) file = &f;
        }
        ArchiveStream stream;
        ASSERT_EQ(OpenArchiveStream(&stream, &reader, name, 1), 0);
        Bytes read(file->data.size());
        std::size_t half = read.size() / 2;
        EXPECT_EQ(ReadArchiveStream(&stream, read.data(), half), half);
        while (!ArchiveStreamIdleCheck(&stream)) {
        }
        EXPECT_EQ(ReadArchiveStream(&stream, read.data() + half, read.size()), read.size() - half);
        while (!ArchiveStreamIdleCheck(&stream)) {
        }
        EXPECT_TRUE(read == file->data);
        CloseArchiveStream(&stream);
    }
    CloseArchiveReader(&reader);
}

// --- Reader behaviour ----------------------------------------------------------------------

class ArchiveReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetNarrowCharCode(CharEncoding::Utf8);
        std::vector<TreeFile> files = {
            {"a.b.png", Bytes(10, 'a')},     {"x.png", Bytes(11, 'x')},
            {"pngs", Bytes(3, 'p')},         {"Sub/Inner/deep.txt", Bytes(5000, 'd')},
            {"Sub/file.txt", Bytes(7, 'f')}, {"Sub/second.png", Bytes(8, 's')},
            {"stored.bin", StoredBytes()},
        };
        WriteOptions options;
        options.key = "reader";
        options.keepSmaller = true;
        archive_ = WriteArchive(TreeOf(files), options);
        InitArchiveReader(&reader_);
        ASSERT_EQ(OpenArchiveInMemory(&reader_, archive_.data(), archive_.size(), 1, 0, "reader",
                                      nullptr),
                  0);
    }
    void TearDown() override { CloseArchiveReader(&reader_); }

    static Bytes StoredBytes() {
        std::mt19937 random(5);
        return Noise(random, 999);
    }
    std::vector<std::string> Find(const char* pattern) {
        std::vector<std::string> names;
        FindFileRecord record{};
        FileSearchValue search = ArchiveFindFirst(&reader_, pattern, &record);
        if (search == -1) return names;
        do {
            char utf8[600];
            TranscodeString(record.Name, -1, CharEncoding::Utf16Le, utf8, sizeof utf8,
                            CharEncoding::Utf8);
            names.push_back(std::string(utf8) + (record.DirectoryFlag ? "/" : ""));
        } while (ArchiveFindNext(search, &record) == 0);
        ArchiveFindClose(search);
        return names;
    }

    Bytes archive_;
    ArchiveReader reader_;
};

TEST_F(ArchiveReaderTest, FindsByPatternWithStarsThatBacktrack) {
    using Names = std::vector<std::string>;
    EXPECT_EQ(Find("*"), (Names{"a.b.png", "x.png", "pngs", "Sub/", "stored.bin", "./"}));
    EXPECT_EQ(Find("sub/*"), (Names{"Inner/", "file.txt", "second.png", "./", "../"}));
    // "*" skips to a later dot when the first one does not lead to a match.
    EXPECT_EQ(Find("*.png"), (Names{"a.b.png", "x.png"}));
    EXPECT_EQ(Find("*.PNG"), (Names{"a.b.png", "x.png"}));
    EXPECT_EQ(Find("?.png"), (Names{"x.png"}));
    EXPECT_EQ(Find("*png*"), (Names{"a.b.png", "x.png", "pngs"}));
    EXPECT_EQ(Find("Sub/Inner/*.txt"), (Names{"deep.txt"}));
    EXPECT_EQ(Find("*.gif"), Names{});
    EXPECT_EQ(Find("Missing/*"), Names{});
    // Sizes come with the records.
    FindFileRecord record{};
    FileSearchValue search = ArchiveFindFirst(&reader_, "sub/inner/deep.txt", &record);
    ASSERT_NE(search, -1);
    EXPECT_EQ(record.Size, 5000);
    EXPECT_EQ(record.LastWriteTime.year, 2019);
    ArchiveFindClose(search);
}

TEST_F(ArchiveReaderTest, DirectoriesChangeAndRestore) {
    unsigned char name[1536];
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "..", 1, nullptr), -1);  // at the root
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "sub", 1, nullptr), 0);
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, ".", 1, nullptr), 0);
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "inner", 1, nullptr), 0);
    EXPECT_EQ(Find("*").front(), "deep.txt");
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "..", 1, nullptr), 0);
    EXPECT_EQ(Find("f*"), std::vector<std::string>{"file.txt"});
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "/", 1, nullptr), 0);
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "Sub/Nothing/x", 1, name), -1);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "NOTHING");
    EXPECT_EQ(Find("x*").size(), 1u);  // restored: still at the root
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "/Sub/Inner/", 1, name), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(name), "INNER");
    EXPECT_EQ(ChangeArchiveDirectory(&reader_, "\\", 1, nullptr), 0);
}

TEST_F(ArchiveReaderTest, LocatesFilesAndNeverAFileInsideAFile) {
    std::uint32_t position = 0, size = 0;
    ASSERT_EQ(
        LocateFileInArchive(&reader_, CharEncoding::Utf8, "SUB\\inner/DEEP.TXT", &position, &size),
        0);
    EXPECT_EQ(size, 5000u);
    EXPECT_GE(position, 64u);
    ASSERT_EQ(LocateFileInArchive(&reader_, CharEncoding::Utf16Le, u"stored.bin", &position, &size),
              0);
    EXPECT_EQ(size, 999u);
    // The stored bytes sit at the position, scrambled with the file's key from position D.
    Bytes stored(archive_.begin() + position, archive_.begin() + position + size);
    EXPECT_FALSE(stored == StoredBytes());
    // A path whose first part is a file names nothing, nor does a folder, nor a missing name.
    for (const char* path : {"stored.bin/x", "x.png/a.b.png", "Sub", "Sub/Inner", "nothing",
                             "Sub/nothing.txt", "Sub//file.txt", ""}) {
        EXPECT_EQ(LocateFileInArchive(&reader_, CharEncoding::Utf8, path, &position, &size), -1)
            << path;
    }
}

TEST_F(ArchiveReaderTest, StoredFileReadsInPiecesAndSeeks) {
    ArchiveStream stream;
    ASSERT_EQ(OpenArchiveStream(&stream, &reader_, "stored.bin", 0), 0);
    EXPECT_EQ(stream.decoded, nullptr);  // stored: read on demand
    const Bytes expected = StoredBytes();
    Bytes read(999);
    EXPECT_EQ(ReadArchiveStream(&stream, read.data(), 500), 500u);
    EXPECT_EQ(ReadArchiveStream(&stream, read.data() + 500, 1000), 499u);
    EXPECT_TRUE(read == expected);
    EXPECT_EQ(SeekArchiveStream(&stream, 999 + 10, 0), 0);
    EXPECT_EQ(TellArchiveStream(&stream), 999);
    EXPECT_EQ(ReadArchiveStream(&stream, read.data(), 1), 0u);
    EXPECT_EQ(ArchiveStreamEof(&stream), -1);
    EXPECT_EQ(SeekArchiveStream(&stream, -3, 2), 0);
    unsigned char tail[3];
    EXPECT_EQ(ReadArchiveStream(&stream, tail, 10), 3u);
    EXPECT_EQ(std::memcmp(tail, expected.data() + 996, 3), 0);
    EXPECT_EQ(SeekArchiveStream(&stream, -5000, 1), 0);
    EXPECT_EQ(TellArchiveStream(&stream), 0);
    CloseArchiveStream(&stream);
    EXPECT_EQ(OpenArchiveStream(&stream, &reader_, "Sub", 0), -1);
}

TEST(ArchiveHeaderTest, MagicVersionCharsetAndKey) {
    SetNarrowCharCode(CharEncoding::Utf8);
    velk::archive::Node root = TreeOf({{"f.txt", Bytes(100, 'q')}});
    WriteOptions options;
    const Bytes good = WriteArchive(root, options);
    auto opens = [](Bytes image, const char* key = nullptr) {
        ArchiveReader reader;
        InitArchiveReader(&reader);
        int result = OpenArchiveInMemory(&reader, image.data(), image.size(), 1, 0, key, nullptr);
        std::int32_t charset = reader.charset;
        CloseArchiveReader(&reader);
        return result == 0 ? charset : -1;
    };
    EXPECT_EQ(opens(good), CharEncoding::Utf8);
    for (int version : {7, 9}) {
        Bytes bad = good;
        bad[2] = static_cast<std::uint8_t>(version);
        EXPECT_EQ(opens(bad), -1) << version;
    }
    Bytes magic = good;
    magic[0] = 'D';
    magic[1] = 'Y';
    EXPECT_EQ(opens(magic), -1);
    // Character sets outside the list, 32765 included, are read as Shift-JIS.
    for (std::uint32_t charset : {32765u, 12345u}) {
        Bytes other = good;
        std::memcpy(&other[40], &charset, 4);
        EXPECT_EQ(opens(other), CharEncoding::ShiftJis);
    }
    // Another key does not decode the head.
    EXPECT_EQ(opens(good, "wrong"), -1);
    EXPECT_EQ(opens(Bytes(good.begin(), good.begin() + 63)), -1);
}

TEST(ArchiveHuffmanBlocks, PartialCodingBeginsAboveTwiceTheEnds) {
    SetNarrowCharCode(CharEncoding::Utf8);
    std::mt19937 random(8);
    std::map<std::string, Bytes> files = {{"whole.bin", TextLike(random, 8192)},
                                          {"partial.bin", TextLike(random, 8193)},
                                          {"big.bin", TextLike(random, 20000)}};
    std::vector<TreeFile> tree;
    for (auto& [name, data] : files) tree.push_back({name, data});
    for (std::uint8_t k : {std::uint8_t{4}, std::uint8_t{255}}) {
        WriteOptions options;
        options.compression = Compression::Huffman;
        options.huffmanKilobytes = k;
        options.keepSmaller = false;
        Bytes archive = WriteArchive(TreeOf(tree), options);
        ArchiveReader reader;
        InitArchiveReader(&reader);
        ASSERT_EQ(
            OpenArchiveInMemory(&reader, archive.data(), archive.size(), 0, 1, nullptr, nullptr),
            0);
        for (auto& [name, data] : files) {
            SCOPED_TRACE(name + " k=" + std::to_string(k));
            ArchiveFileEntry entry;
            ASSERT_EQ(FindArchiveFileEntry(&reader, name.c_str(), &entry, nullptr), 0);
            bool partial = k == 4 && data.size() > 8192;
            std::uint64_t stored = ArchiveStoredBlockSize(entry, k);
            EXPECT_EQ(stored, partial ? entry.huffmanSize + data.size() - 8192 : entry.huffmanSize);
            Bytes read;
            ASSERT_TRUE(ReadThroughStream(&reader, name, &read));
            EXPECT_TRUE(read == data);
        }
        CloseArchiveReader(&reader);
    }
}

// --- Damaged archives ----------------------------------------------------------------------

// Opens an image and reads every file it lists: the reader may refuse it, never overrun.
int OpenAndReadAll(Bytes image) {
    ArchiveReader reader;
    InitArchiveReader(&reader);
    if (OpenArchiveInMemory(&reader, image.data(), image.size(), 0, 1, nullptr, nullptr) != 0) {
        return -1;
    }
    int read = 0;
    for (const char* name : {"a.txt", "Sub/b.txt", "Sub/c.bin", "empty"}) {
        Bytes bytes;
        if (ReadThroughStream(&reader, name, &bytes)) ++read;
    }
    CloseArchiveReader(&reader);
    return read;
}

class DamagedArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetNarrowCharCode(CharEncoding::Utf8);
        std::mt19937 random(11);
        tree_ = {{"a.txt", TextLike(random, 3000)},
                 {"Sub/b.txt", TextLike(random, 300)},
                 {"Sub/c.bin", Noise(random, 200)},
                 {"empty", Bytes{}}};
    }
    // A plain, unkeyed archive whose tables can be patched in place.
    Bytes Plain(Compression compression) const {
        WriteOptions options;
        options.scramble = false;
        options.compressHead = false;
        options.compression = compression;
        options.keepSmaller = false;
        return WriteArchive(TreeOf(tree_), options);
    }
    static std::uint64_t Field(const Bytes& image, std::size_t at) {
        std::uint64_t value;
        std::memcpy(&value, &image[at], 8);
        return value;
    }
    static void SetField(Bytes& image, std::size_t at, std::uint64_t value) {
        std::memcpy(&image[at], &value, 8);
    }
    std::vector<TreeFile> tree_;
};

TEST_F(DamagedArchiveTest, EveryTableAndSizeIsCheckedAgainstTheArchive) {
    const Bytes good = Plain(Compression::LzHuffman);
    ASSERT_EQ(OpenAndReadAll(good), 4);
    const std::size_t headOffset = Field(good, 16);
    const std::size_t files = headOffset + Field(good, 24);
    const std::size_t directories = headOffset + Field(good, 32);
    // File entries: 0 the root, 1 a.txt, 2 Sub, 3 empty, then Sub's: 4 b.txt, 5 c.bin.
    auto entry = [&](int index, int field) { return files + 72 * index + 8 * field; };
    struct Patch {
        const char* what;
        std::size_t at;
        std::uint64_t value;
    };
    const Patch patches[] = {
        {"data offset beyond the archive", 8, good.size() + 1},
        {"head offset beyond the archive", 16, good.size() + 100},
        {"file table beyond the head", 24, 1u << 30},
        {"directory table beyond the head", 32, ~0ull - 8},
        {"name offset beyond the head", entry(1, 0), 1u << 20},
        {"file data beyond the archive", entry(1, 5), good.size()},
        {"file data offset that wraps", entry(1, 5), ~0ull - 10},
        {"decoded size far above what LZ gives", entry(1, 6), 1ull << 39},
        {"LZ size shorter than its header", entry(1, 7), 5},
        {"Huffman size beyond the archive", entry(1, 8), good.size()},
        {"folder's directory entry beyond the head", entry(2, 5), 1u << 20},
        {"folder that holds the root (a loop)", entry(2, 5), 0},
        {"entry count beyond the table", directories + 16, 1ull << 40},
        {"first entry beyond the table", directories + 24, 1ull << 33},
    };
    for (const Patch& patch : patches) {
        Bytes bad = good;
        SetField(bad, patch.at, patch.value);
        EXPECT_EQ(OpenAndReadAll(bad), -1) << patch.what;
    }
    // A head size beyond the archive, and a file whose LZ stream says another size.
    Bytes bad = good;
    std::uint32_t huge = 0x7FFFFFFF;
    std::memcpy(&bad[4], &huge, 4);
    EXPECT_EQ(OpenAndReadAll(bad), -1);
}

// The largest block of system memory the library's heaps ask for while a test runs.
class LargestRegionProbe {
  public:
    LargestRegionProbe() : saved_(SystemApi.VirtualAlloc) {
        largest_ = 0;
        original_ = saved_;
        SystemApi.VirtualAlloc = &Probe;
    }
    ~LargestRegionProbe() { SystemApi.VirtualAlloc = saved_; }
    static SIZE_T Largest() { return largest_; }

  private:
    static LPVOID Probe(LPVOID address, SIZE_T size, DWORD type, DWORD protect) {
        if (size > largest_) largest_ = size;
        return original_(address, size, type, protect);
    }
    decltype(SystemApi.VirtualAlloc) saved_;
    static inline decltype(SystemApi.VirtualAlloc) original_ = nullptr;
    static inline SIZE_T largest_ = 0;
};

// A head of 2 GB or more is refused before anything is allocated: the heaps ask the system for
// nothing, and no failed allocation reports itself in the log.
class HugeHeadTest : public LogCaptureTest {
  protected:
    void SetUp() override {
        LogCaptureTest::SetUp();
        std::mt19937 random(11);
        tree_ = {{"a.txt", TextLike(random, 3000)}, {"Sub/b.txt", TextLike(random, 300)}};
    }
    std::vector<TreeFile> tree_;
};

TEST_F(HugeHeadTest, HeadsOfTwoGigabytesOrMoreAreRefusedBeforeAllocating) {
    EnsureSystemApiTable();
    for (bool plainHead : {true, false}) {
        WriteOptions options;
        options.scramble = false;
        options.compressHead = !plainHead;
        const Bytes good = WriteArchive(TreeOf(tree_), options);
        for (std::uint32_t size : {0x80000000u, 0xC0000000u, 0xFFFFFFFFu}) {
            SCOPED_TRACE(std::to_string(size) + (plainHead ? " plain" : " coded"));
            Bytes bad = good;
            std::memcpy(&bad[4], &size, 4);
            LargestRegionProbe probe;
            EXPECT_EQ(OpenAndReadAll(bad), -1);
            EXPECT_EQ(LargestRegionProbe::Largest(), 0u);
        }
    }
    EXPECT_EQ(LogBytes().find("Alloc memory dump"), std::string::npos);
}

TEST_F(DamagedArchiveTest, DamagedStoredBlocksAreRefusedWhenOpened) {
    Bytes good = Plain(Compression::Lz);
    ArchiveReader reader;
    InitArchiveReader(&reader);
    ASSERT_EQ(OpenArchiveInMemory(&reader, good.data(), good.size(), 1, 0, nullptr, nullptr), 0);
    ArchiveFileEntry entry;
    ASSERT_EQ(FindArchiveFileEntry(&reader, "a.txt", &entry, nullptr), 0);
    CloseArchiveReader(&reader);
    // Its LZ header claims another decoded size: the file does not open.
    Bytes bad = good;
    std::size_t block = 64 + entry.dataOffset;
    bad[block] ^= 1;
    ASSERT_EQ(OpenArchiveInMemory(&reader, bad.data(), bad.size(), 1, 0, nullptr, nullptr), 0);
    ArchiveStream stream;
    EXPECT_EQ(OpenArchiveStream(&stream, &reader, "a.txt", 0), -1);
    EXPECT_EQ(OpenArchiveStream(&stream, &reader, "empty", 0), 0);
    CloseArchiveStream(&stream);
    CloseArchiveReader(&reader);
}

TEST_F(DamagedArchiveTest, TruncatedAndFlippedArchivesNeverReadOutside) {
    for (Compression compression : {Compression::None, Compression::LzHuffman}) {
        for (bool scramble : {false, true}) {
            WriteOptions options;
            options.compression = compression;
            options.scramble = scramble;
            options.huffmanKilobytes = 1;
            const Bytes good = WriteArchive(TreeOf(tree_), options);
            ASSERT_EQ(OpenAndReadAll(good), 4);
            for (std::size_t cut = 0; cut < good.size(); cut += 7) {
                OpenAndReadAll(
                    Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
            }
            std::mt19937 random(static_cast<unsigned>(good.size()));
            for (int round = 0; round < 500; ++round) {
                Bytes bad = good;
                for (int flips = 1 + round % 3; flips > 0; --flips) {
                    bad[random() % bad.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
                }
                OpenAndReadAll(std::move(bad));
            }
        }
    }
}

}  // namespace
