// Our writer of the library's archive format ("DX", version 8): the exact inverse of the reader
// in Main/DxArchive_.h. It packs a tree of files into one archive, each file stored, LZ-coded,
// Huffman-coded or both, scrambled with a key or not, and unpacks an archive again through the
// library's own reader and stream function table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velk::archive {

using Bytes = std::vector<std::uint8_t>;

enum class Compression { None, Lz, Huffman, LzHuffman };

struct WriteOptions {
    // Scrambled with this key string (at most 63 bytes are used), or with the library's default
    // key string when none is given. scramble = false writes an archive without a key.
    std::optional<std::string> key;
    bool scramble = true;
    Compression compression = Compression::LzHuffman;
    // Store a file as it is when coding does not make it smaller.
    bool keepSmaller = true;
    // 255: Huffman coding covers whole files; otherwise only the first and last k KB of each
    // file's Huffman input are coded and the middle is stored as it is.
    std::uint8_t huffmanKilobytes = 255;
    // The character set of the names: 65001 (UTF-8) or 932 (Shift-JIS).
    std::int32_t charset = 65001;
    // Write the head LZ- and Huffman-coded (else plain).
    bool compressHead = true;
    // The high 16 bits of the header's flag word: the key generation's mark (0, 300 or 314 for
    // generations 10, 11 and 12).
    std::uint16_t generationMark = 0;
};

// One file or folder of the tree; names are UTF-8. Times are file times (100-ns units since
// 1601, UTC); a creation or last-access time of 0 stands for the last-write time.
struct Node {
    std::string name;
    bool directory = false;
    Bytes data;
    std::vector<Node> children;
    std::uint64_t fileTime = 0;  // last write
    std::uint64_t creationTime = 0;
    std::uint64_t accessTime = 0;
};

// The longest path inside an archive, in bytes of its character set, that the library's archive
// path layer takes (its callers hold inner paths in 1,536 bytes with the terminator).
inline constexpr std::size_t kMaxInnerPathBytes = 1535;

// The library's coders, inverted: an LZ stream and a Huffman block that DecodeArchiveLz and
// DecodeArchiveHuffman turn back into the input.
Bytes EncodeLz(const std::uint8_t* data, std::size_t size);
Bytes EncodeHuffman(const std::uint8_t* data, std::size_t size);

// The archive of a tree (its root's name is not stored). Throws std::runtime_error, naming the
// entries, for a tree the library's reader could not give back whole: a name the chosen
// character set cannot hold, a name holding "\", "/" or ":", two names in one folder that the
// reader cannot tell apart (equal but for the case of ASCII letters), or an inner path longer than
// kMaxInnerPathBytes (a folder's with room for its listing pattern "/*").
Bytes WriteArchive(const Node& root, const WriteOptions& options);

// A folder on disk as a tree (regular files and folders, sorted by name), with the creation,
// last-access and last-write times the file system gives (creation as the last write where the
// file system keeps none). Throws std::runtime_error for a folder that contains itself.
Node ReadFolder(const std::filesystem::path& folder);

// Packs a folder into an archive file: true, or false with a message.
bool PackFolder(const std::filesystem::path& folder, const std::filesystem::path& archive,
                const WriteOptions& options, std::string* error);

// Unpacks an archive into a folder through the library's archive path layer: the archive "X.ext"
// is read as the folder "X", file by file, through the stream function table. The library's
// narrow encoding must be UTF-8. key: the key string it was written with (none: the default).
// Nothing is written through a symbolic link, and an existing file is replaced, never written
// through. An entry that cannot be written safely (a name such as ".." or one holding a
// separator, a link in the way) is left out and reported; the result is true only when every
// entry was written, else error holds one line per problem.
bool UnpackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                   const std::optional<std::string>& key, std::string* error);

}  // namespace velk::archive
