// Our archive writer: its encoders are undone by the library's decoders, and a folder packed by
// it unpacks through the library's reader to the same files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
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

}  // namespace
