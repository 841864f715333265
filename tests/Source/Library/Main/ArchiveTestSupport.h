// Fixtures of the archive tests: a tree of a few hundred files packed by our writer, temporary
// folders, and text in the archive's character sets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "tools/archive/ArchiveWriter.h"

namespace archive_test {

using Bytes = std::vector<std::uint8_t>;
using velk::archive::Node;

// A file of the tree with its path from the tree's root ("/"-separated, UTF-8).
struct TreeFile {
    std::string path;
    Bytes data;
};

inline Bytes TextLike(std::mt19937& random, std::size_t size) {
    static const char kWords[][8] = {"map ", "event ", "hero ", "slime ", "\r\n", "0123 ", "; "};
    Bytes out;
    while (out.size() < size) {
        const char* word = kWords[random() % 7];
        for (const char* p = word; *p && out.size() < size; ++p)
            out.push_back(static_cast<std::uint8_t>(*p));
    }
    return out;
}

inline Bytes Noise(std::mt19937& random, std::size_t size) {
    Bytes out(size);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

// Adds a file at a "/"-separated path under root, creating the folders on the way.
inline void AddFile(Node& root, const std::string& path, Bytes data) {
    Node* folder = &root;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos;
         start = slash + 1) {
        std::string name = path.substr(start, slash - start);
        Node* next = nullptr;
        for (Node& child : folder->children) {
            if (child.directory && child.name == name) next = &child;
        }
        if (!next) {
            Node created;
            created.name = name;
            created.directory = true;
            folder->children.push_back(std::move(created));
            next = &folder->children.back();
        }
        folder = next;
    }
    Node file;
    file.name = path.substr(start);
    file.data = std::move(data);
    file.fileTime = 132000000000000000ull;  // 2019
    folder->children.push_back(std::move(file));
}

// The standard tree: about 300 files, empty, tiny, mid-sized and larger than the decoders'
// blocks (the Huffman ends of 1 and 2 KB, the LZ copy length of 8 KB), nested folders, names
// with dots, and Japanese names (two of them with 0x5C as the second Shift-JIS byte).
inline std::vector<TreeFile> StandardTreeFiles() {
    std::mt19937 random(20240601);
    std::vector<TreeFile> files;
    for (int i = 0; i < 200; ++i) {
        std::size_t size = i % 10 == 0 ? 0 : random() % 64;
        files.push_back({"BasicData/Data" + std::to_string(i) + ".dat", TextLike(random, size)});
    }
    for (int i = 0; i < 60; ++i) {
        std::string folder = i % 3 == 0   ? "Picture/"
                             : i % 3 == 1 ? "Picture/Sub/"
                                          : "Picture/Sub/Deep/";
        files.push_back({folder + "pic" + std::to_string(i) + ".png",
                         i % 4 == 0 ? Noise(random, 300 + random() % 700)
                                    : TextLike(random, 500 + random() % 3000)});
    }
    files.push_back({"Picture/a.b.png", TextLike(random, 40)});
    files.push_back({"Picture/x.png", TextLike(random, 41)});
    files.push_back({"Picture/readme", Bytes{}});
    files.push_back({"BGM/title.ogg", TextLike(random, 40000)});
    files.push_back({"BGM/battle.ogg", Noise(random, 30000)});
    Bytes runs(50000, 'A');
    for (std::size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<std::uint8_t>(i);
    files.push_back({"BGM/runs.mid", runs});
    files.push_back({"画像/キャラ/勇者.png", TextLike(random, 2500)});
    files.push_back({"画像/キャラ/魔王 2.png", Noise(random, 100)});
    files.push_back({"画像/ソ表/表示.txt", TextLike(random, 9000)});
    files.push_back({"画像/ソ表/空.txt", Bytes{}});
    for (int i = 0; i < 30; ++i) {
        files.push_back(
            {"Map/Map" + std::to_string(1000 + i) + ".mps", TextLike(random, 5000 + 50 * i)});
    }
    return files;
}

inline Node TreeOf(const std::vector<TreeFile>& files) {
    Node root;
    root.directory = true;
    for (const TreeFile& file : files) AddFile(root, file.path, file.data);
    return root;
}

// A path in a character set (from UTF-8), zero-terminated.
inline std::string InCharset(const std::string& utf8, std::int32_t charset) {
    std::vector<char> buffer(utf8.size() * 4 + 8);
    ZiDaz::TranscodeString(utf8.c_str(), -1, ZiDaz::CharEncoding::Utf8, buffer.data(),
                           static_cast<int>(buffer.size()), charset);
    return buffer.data();
}

inline std::u16string Wide(const std::string& utf8) {
    std::vector<char16_t> buffer(utf8.size() + 2);
    ZiDaz::TranscodeString(utf8.c_str(), -1, ZiDaz::CharEncoding::Utf8, buffer.data(),
                           static_cast<int>(buffer.size() * 2), ZiDaz::CharEncoding::Utf16Le);
    return buffer.data();
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own for one test, removed afterwards.
class TempFolder {
  public:
    explicit TempFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                ("velk-archive-" + std::to_string(::getpid()) + "-" + name)) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Reads a whole file inside an open archive through an ArchiveStream: in two halves, then a
// read at the end that finds nothing.
inline bool ReadThroughStream(ZiDaz::ArchiveReader* reader, const std::string& path, Bytes* out) {
    ZiDaz::ArchiveStream stream;
    std::string inner = InCharset(path, reader->charset);
    if (ZiDaz::OpenArchiveStream(&stream, reader, inner.c_str(), 0) != 0) return false;
    std::size_t size = static_cast<std::size_t>(stream.entry.dataSize);
    out->assign(size, 0);
    std::size_t half = size / 2;
    std::size_t got = ZiDaz::ReadArchiveStream(&stream, out->data(), half);
    got += ZiDaz::ReadArchiveStream(&stream, out->data() + half, size - half + 10);
    std::uint8_t extra;
    bool ended =
        ZiDaz::ReadArchiveStream(&stream, &extra, 1) == 0 && ZiDaz::ArchiveStreamEof(&stream) == -1;
    ZiDaz::CloseArchiveStream(&stream);
    return got == size && ended;
}

}  // namespace archive_test
