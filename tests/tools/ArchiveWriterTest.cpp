// Our archive writer: its encoders are undone by the library's decoders, and a folder packed by
// it unpacks through the library's reader to the same files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "Main/DxMemory.h"
#include "tools/archive/ArchiveWriter.h"

namespace {

using velk::archive::Bytes;

std::vector<Bytes> Inputs() {
    std::mt19937 random(99);
    std::vector<Bytes> inputs = {Bytes{}, Bytes{0}, Bytes(100000, 0x41), Bytes(20, 0xFF)};
    Bytes noise(70000);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    inputs.push_back(noise);
    Bytes text;
    for (int i = 0; i < 120000; ++i)
        text.push_back(static_cast<std::uint8_t>("abcab  \n"[random() % 8]));
    inputs.push_back(text);
    // Every byte value equally often: the escape byte appears as a literal.
    Bytes all;
    for (int r = 0; r < 40; ++r) {
        for (int v = 0; v < 256; ++v) all.push_back(static_cast<std::uint8_t>(v));
    }
    inputs.push_back(all);
    // Repeats at distances beyond one and two distance bytes.
    Bytes far(300000);
    for (std::size_t i = 0; i < far.size(); ++i) {
        far[i] = i < 70000 ? static_cast<std::uint8_t>(random()) : far[i - 70000];
    }
    inputs.push_back(far);
    return inputs;
}

TEST(ArchiveWriterCoders, EncodersAreUndoneByTheLibraryDecoders) {
    for (const Bytes& input : Inputs()) {
        SCOPED_TRACE(input.size());
        Bytes lz = velk::archive::EncodeLz(input.data(), input.size());
        Bytes out(input.size());
        ASSERT_EQ(ZiDaz::DecodeArchiveLz(lz.data(), lz.size(), out.data(), out.size()),
                  static_cast<std::int64_t>(input.size()));
        EXPECT_TRUE(out == input);
        Bytes huffman = velk::archive::EncodeHuffman(input.data(), input.size());
        std::fill(out.begin(), out.end(), 0);
        ASSERT_EQ(
            ZiDaz::DecodeArchiveHuffman(huffman.data(), huffman.size(), out.data(), out.size()),
            static_cast<std::int64_t>(input.size()));
        EXPECT_TRUE(out == input);
    }
    // Long runs compress as copies, noise does not grow much.
    Bytes runs(100000, 0x41);
    EXPECT_LT(velk::archive::EncodeLz(runs.data(), runs.size()).size(), 100u);
}

class ArchiveToolFolders : public ::testing::Test {
  protected:
    void SetUp() override {
        ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
        root_ = std::filesystem::temp_directory_path() /
                ("velk-archive-tool-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root_);
        std::mt19937 random(4);
        Put("Data/BasicData/Game.dat", 3000, random);
        Put("Data/BasicData/empty.dat", 0, random);
        Put("Data/Picture/ソ表/勇者.png", 9000, random);
        Put("Data/Picture/a.b.png", 10, random);
        std::filesystem::create_directories(root_ / "Data/EmptyFolder");
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    void Put(const std::string& path, std::size_t size, std::mt19937& random) {
        std::filesystem::create_directories((root_ / path).parent_path());
        std::ofstream out(root_ / path, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>("ab \n"[random() % 4]));
    }
    static std::string Contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // Whether two folders hold the same files and folders with the same bytes.
    static void ExpectSameTree(const std::filesystem::path& a, const std::filesystem::path& b) {
        std::size_t count = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(a)) {
            auto other = b / std::filesystem::relative(entry.path(), a);
            ASSERT_TRUE(std::filesystem::exists(other)) << other;
            if (entry.is_regular_file()) {
                EXPECT_EQ(Contents(entry.path()), Contents(other)) << other;
            }
            ++count;
        }
        std::size_t otherCount = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(b)) {
            (void)entry;
            ++otherCount;
        }
        EXPECT_EQ(count, otherCount);
    }

    std::filesystem::path root_;
};

TEST_F(ArchiveToolFolders, PackAndUnpackGiveTheSameFolder) {
    struct Case {
        const char* name;
        velk::archive::WriteOptions options;
        std::optional<std::string> key;
    };
    velk::archive::WriteOptions keyed;
    keyed.key = "own key";
    keyed.huffmanKilobytes = 1;
    velk::archive::WriteOptions sjis;
    sjis.charset = ZiDaz::CharEncoding::ShiftJis;
    sjis.scramble = false;
    sjis.compression = velk::archive::Compression::None;
    int n = 0;
    for (const Case& c : {Case{"default", {}, std::nullopt}, Case{"own key", keyed, "own key"},
                          Case{"Shift-JIS, stored, no key", sjis, std::nullopt}}) {
        SCOPED_TRACE(c.name);
        auto archive = root_ / ("packed" + std::to_string(n) + ".velk");
        auto out = root_ / ("out" + std::to_string(n++));
        std::string error;
        ASSERT_TRUE(velk::archive::PackFolder(root_ / "Data", archive, c.options, &error)) << error;
        ASSERT_TRUE(velk::archive::UnpackArchive(archive, out, c.key, &error)) << error;
        ExpectSameTree(root_ / "Data", out);
    }
}

TEST_F(ArchiveToolFolders, DamagedArchivesAndWrongKeysAreReported) {
    auto archive = root_ / "game.velk";
    std::string error;
    velk::archive::WriteOptions options;
    options.key = "right";
    ASSERT_TRUE(velk::archive::PackFolder(root_ / "Data", archive, options, &error));
    EXPECT_FALSE(
        velk::archive::UnpackArchive(archive, root_ / "out", std::string("wrong"), &error));
    EXPECT_NE(error.find("not a readable archive"), std::string::npos) << error;
    std::filesystem::resize_file(archive, std::filesystem::file_size(archive) - 5);
    EXPECT_FALSE(
        velk::archive::UnpackArchive(archive, root_ / "out", std::string("right"), &error));
    EXPECT_FALSE(velk::archive::PackFolder(root_ / "missing", archive, options, &error));
    // A name the character set cannot hold is refused rather than changed.
    std::mt19937 random(1);
    Put("Data/café.txt", 3, random);
    options.charset = ZiDaz::CharEncoding::ShiftJis;
    EXPECT_FALSE(velk::archive::PackFolder(root_ / "Data", archive, options, &error));
}

// Runs velk-archive with the arguments in `folder` as its current folder: its exit code, and
// what it wrote to standard error in `errors`.
int RunTool(const std::vector<std::string>& args, const std::filesystem::path& folder,
            std::string* errors) {
    std::filesystem::path errorFile = folder / "tool-errors.txt";
    std::string command = "cd '" + folder.string() + "' && '" VELK_ARCHIVE_TOOL "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    command += " 2>'" + errorFile.string() + "'";
    int status = std::system(command.c_str());
    std::ifstream in(errorFile, std::ios::binary);
    if (errors) *errors = {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(errorFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Japanese names with characters that Shift-JIS holds under two codes (≒ also in NEC row 13,
// 纊 also among the IBM extensions) pack and unpack in both character sets, through the tool.
TEST_F(ArchiveToolFolders, JapaneseNamesGoThroughTheToolInBothCharacterSets) {
    std::mt19937 random(8);
    Put("Data/≒.txt", 20, random);
    Put("Data/纊/ソ≒表.dat", 300, random);
    Put("Data/Ⅰ№㈱￢.txt", 5, random);
    for (const char* charset : {"utf8", "sjis"}) {
        SCOPED_TRACE(charset);
        auto archive = root_ / (std::string("jp-") + charset + ".velk");
        auto out = root_ / (std::string("jp-out-") + charset);
        std::string errors;
        ASSERT_EQ(
            RunTool({"pack", (root_ / "Data").string(), archive.string(), "--charset", charset},
                    root_, &errors),
            0)
            << errors;
        ASSERT_EQ(RunTool({"unpack", archive.string(), out.string()}, root_, &errors), 0) << errors;
        ExpectSameTree(root_ / "Data", out);
        // The tools leave no log behind.
        EXPECT_FALSE(std::filesystem::exists(root_ / "Log.txt"));
    }
    // In Shift-JIS the names are stored by the library's own rule: ≒ as 87 90, 纊 as FA 5C.
    ZiDaz::ArchiveReader reader;
    ZiDaz::InitArchiveReader(&reader);
    std::string full = (root_ / "jp-sjis.velk").string();
    std::vector<char16_t> wide(full.size() + 1);
    ZiDaz::TranscodeString(full.c_str(), -1, ZiDaz::CharEncoding::Utf8, wide.data(),
                           static_cast<int>(wide.size() * 2), ZiDaz::CharEncoding::Utf16Le);
    ASSERT_EQ(ZiDaz::OpenArchiveFromFile(&reader, wide.data(), nullptr), 0);
    ZiDaz::ArchiveFileEntry entry;
    EXPECT_EQ(ZiDaz::FindArchiveFileEntry(&reader, "\x87\x90.txt", &entry, nullptr), 0);
    EXPECT_EQ(ZiDaz::FindArchiveFileEntry(&reader, "\xFA\x5C/\x83\x5C\x87\x90\x95\x5C.dat", &entry,
                                          nullptr),
              0);
    ZiDaz::CloseArchiveReader(&reader);
}

// Trees the reader could not give back whole are refused, naming the entries, and nothing is
// written.
TEST_F(ArchiveToolFolders, UnreachableTreesAreRefusedAndNothingIsWritten) {
    std::mt19937 random(3);
    struct Case {
        const char* what;
        std::vector<std::string> files;
        std::vector<std::string> named;  // in the message
        const char* charset;
    };
    const std::string deep = std::string(200, 'd');
    std::string longPath;
    for (int i = 0; i < 7; ++i) longPath += deep + "/";
    longPath += std::string(200, 'f');
    const Case cases[] = {
        {"files differing in case",
         {"a/read.txt", "a/READ.txt"},
         {"a/READ.txt", "a/read.txt"},
         "utf8"},
        {"folders differing in case", {"Sub/x", "SUB/y"}, {"Sub", "SUB"}, "utf8"},
        {"a backslash", {"a\\b.txt"}, {"a\\b.txt"}, "utf8"},
        {"a colon", {"c:d.txt"}, {"c:d.txt"}, "utf8"},
        {"a path too long", {longPath}, {std::string(200, 'f')}, "utf8"},
        {"a character Shift-JIS lacks", {"café.txt"}, {"café.txt"}, "sjis"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(root_ / "Bad");
        for (const std::string& file : c.files) Put("Bad/" + file, 4, random);
        auto archive = root_ / "bad.velk";
        std::string error;
        velk::archive::WriteOptions options;
        options.charset = std::string(c.charset) == "sjis" ? ZiDaz::CharEncoding::ShiftJis
                                                           : ZiDaz::CharEncoding::Utf8;
        EXPECT_FALSE(velk::archive::PackFolder(root_ / "Bad", archive, options, &error));
        for (const std::string& name : c.named) {
            EXPECT_NE(error.find(name), std::string::npos) << error;
        }
        EXPECT_FALSE(std::filesystem::exists(archive));
        std::string errors;
        EXPECT_EQ(
            RunTool({"pack", (root_ / "Bad").string(), archive.string(), "--charset", c.charset},
                    root_, &errors),
            1);
        EXPECT_NE(errors.find(c.named.back()), std::string::npos) << errors;
        EXPECT_FALSE(std::filesystem::exists(archive));
    }
    // Names no folder on disk holds are refused in a tree too.
    for (const char* name : {".", "..", ""}) {
        velk::archive::Node tree;
        tree.directory = true;
        velk::archive::Node file;
        file.name = name;
        tree.children.push_back(file);
        EXPECT_THROW(velk::archive::WriteArchive(tree, {}), std::runtime_error) << name;
    }
    // The same names in different folders, a file and a folder of one name, and case outside
    // ASCII are all reachable.
    std::filesystem::remove_all(root_ / "Bad");
    for (const char* file : {"a/x.txt", "b/X.TXT", "x/in.txt", "X", "ä.txt", "Ä.txt"}) {
        Put(std::string("Bad/") + file, 4, random);
    }
    std::string error;
    EXPECT_TRUE(velk::archive::PackFolder(root_ / "Bad", root_ / "ok.velk", {}, &error)) << error;
    EXPECT_TRUE(velk::archive::UnpackArchive(root_ / "ok.velk", root_ / "ok", {}, &error)) << error;
    ExpectSameTree(root_ / "Bad", root_ / "ok");
}

// Each entry keeps the creation, last-access and last-write times the file system gives, to
// the 100 ns.
TEST_F(ArchiveToolFolders, EntriesKeepTheirThreeTimes) {
    auto file = root_ / "Data/BasicData/Game.dat";
    struct timespec times[2] = {{1300000000, 123456789}, {1400000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct statx info;
    ASSERT_EQ(statx(AT_FDCWD, file.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &info), 0);
    auto ticks = [](std::int64_t seconds, std::uint32_t nanoseconds) {
        return static_cast<std::uint64_t>(seconds * 10000000 + nanoseconds / 100 +
                                          116444736000000000LL);
    };
    std::uint64_t access = ticks(1300000000, 123456789);
    std::uint64_t write = ticks(1400000000, 987654321);
    std::uint64_t creation = (info.stx_mask & STATX_BTIME)
                                 ? ticks(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                                 : write;
    velk::archive::Node tree = velk::archive::ReadFolder(root_ / "Data");
    velk::archive::WriteOptions options;
    velk::archive::Bytes image = velk::archive::WriteArchive(tree, options);
    ZiDaz::ArchiveReader reader;
    ZiDaz::InitArchiveReader(&reader);
    ASSERT_EQ(
        ZiDaz::OpenArchiveInMemory(&reader, image.data(), image.size(), 1, 0, nullptr, nullptr), 0);
    ZiDaz::ArchiveFileEntry entry;
    ASSERT_EQ(ZiDaz::FindArchiveFileEntry(&reader, "BasicData/Game.dat", &entry, nullptr), 0);
    EXPECT_EQ(entry.creationTime, creation);
    EXPECT_EQ(entry.lastAccessTime, access);
    EXPECT_EQ(entry.lastWriteTime, write);
    ZiDaz::CloseArchiveReader(&reader);
}

// Unpacking never writes through a link already in the target folder, replaces an existing
// file instead of writing into it (another hard link of it keeps its bytes), and reports what
// it leaves out with a failing exit.
TEST_F(ArchiveToolFolders, UnpackNeverWritesThroughLinksAndReportsWhatItLeavesOut) {
    auto archive = root_ / "game.velk";
    std::string error;
    ASSERT_TRUE(velk::archive::PackFolder(root_ / "Data", archive, {}, &error)) << error;
    auto outside = root_ / "outside";
    std::filesystem::create_directories(outside / "dir");
    std::ofstream(outside / "victim.dat") << "keep";
    std::ofstream(outside / "linked.dat") << "keep too";
    auto out = root_ / "out";
    std::filesystem::create_directories(out / "BasicData");
    std::filesystem::create_symlink(outside / "victim.dat", out / "BasicData/Game.dat");
    std::filesystem::create_symlink(outside / "dir", out / "Picture");
    std::filesystem::create_hard_link(outside / "linked.dat", out / "BasicData/empty.dat");

    std::string errors;
    EXPECT_EQ(RunTool({"unpack", archive.string(), out.string()}, root_, &errors), 1);
    EXPECT_NE(errors.find("Game.dat"), std::string::npos) << errors;
    EXPECT_NE(errors.find("Picture"), std::string::npos) << errors;
    EXPECT_EQ(Contents(outside / "victim.dat"), "keep");
    EXPECT_EQ(Contents(outside / "linked.dat"), "keep too");
    EXPECT_TRUE(std::filesystem::is_empty(outside / "dir"));
    EXPECT_EQ(Contents(out / "BasicData/empty.dat"), "");
    EXPECT_TRUE(std::filesystem::is_directory(out / "EmptyFolder"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "Log.txt"));

    // An entry named ".." is left out and reported.
    velk::archive::Node tree;
    tree.directory = true;
    velk::archive::Node file;
    file.name = "zz";
    file.data = {1, 2, 3};
    tree.children.push_back(file);
    file.name = "fine.txt";
    tree.children.push_back(file);
    velk::archive::WriteOptions plain;
    plain.scramble = false;
    plain.compressHead = false;
    plain.compression = velk::archive::Compression::None;
    velk::archive::Bytes image = velk::archive::WriteArchive(tree, plain);
    // The name record of "zz" (one word, sum 180) becomes ".." (sum 92).
    const velk::archive::Bytes from = {1, 0, 180, 0, 'Z', 'Z', 0, 0, 'z', 'z', 0};
    const velk::archive::Bytes to = {1, 0, 92, 0, '.', '.', 0, 0, '.', '.', 0};
    auto at = std::search(image.begin(), image.end(), from.begin(), from.end());
    ASSERT_NE(at, image.end());
    std::copy(to.begin(), to.end(), at);
    auto dots = root_ / "dots.velk";
    std::ofstream(dots, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    EXPECT_FALSE(velk::archive::UnpackArchive(dots, root_ / "dots", {}, &error));
    EXPECT_NE(error.find("/.."), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::exists(root_ / "dots/fine.txt"));
    EXPECT_EQ(RunTool({"unpack", dots.string(), (root_ / "dots2").string()}, root_, &errors), 1);
    EXPECT_NE(errors.find("/.."), std::string::npos) << errors;
}

}  // namespace
