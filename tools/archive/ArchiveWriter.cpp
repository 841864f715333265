#include "tools/archive/ArchiveWriter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <fstream>
#include <stdexcept>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "Main/Windows/DxFileWin.h"

namespace velk::archive {

namespace {

void PutLe(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void SetLe(Bytes& out, std::size_t at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

// ============================================================================================
// LZ
// ============================================================================================

Bytes EncodeLz(const std::uint8_t* data, std::size_t size) {
    if (size > 0xFFFFFFF0u) throw std::runtime_error("file too large for an LZ stream");
    // The escape is the rarest byte: each of its literals costs two bytes.
    std::uint64_t counts[256] = {};
    for (std::size_t i = 0; i < size; ++i) ++counts[data[i]];
    int escape = 0;
    for (int b = 1; b < 256; ++b) {
        if (counts[b] < counts[escape]) escape = b;
    }
    const auto e = static_cast<std::uint8_t>(escape);

    Bytes out;
    out.reserve(size / 2 + 64);
    PutLe(out, size, 4);
    PutLe(out, 0, 4);  // the encoded size, set at the end
    out.push_back(e);

    constexpr int kHashBits = 16;
    constexpr std::size_t kWindow = std::size_t{1} << 20;  // distances fit the 3-byte field
    constexpr std::size_t kMaxLength = 8191 + 4;
    constexpr int kChain = 24;
    std::vector<std::int64_t> head(std::size_t{1} << kHashBits, -1);
    std::vector<std::int64_t> previous(kWindow, -1);
    auto hashAt = [&](std::size_t i) {
        std::uint32_t v;
        std::memcpy(&v, data + i, 4);
        return (v * 2654435761u) >> (32 - kHashBits);
    };
    auto insert = [&](std::size_t i) {
        if (i + 4 > size) return;
        std::uint32_t h = hashAt(i);
        previous[i & (kWindow - 1)] = head[h];
        head[h] = static_cast<std::int64_t>(i);
    };

    std::size_t i = 0;
    while (i < size) {
        std::size_t bestLength = 0, bestDistance = 0;
        if (i + 4 <= size) {
            std::int64_t candidate = head[hashAt(i)];
            std::size_t limit = std::min(kMaxLength, size - i);
            for (int step = 0; step < kChain && candidate >= 0; ++step) {
                std::size_t from = static_cast<std::size_t>(candidate);
                std::size_t distance = i - from;
                if (distance > kWindow - 1 || distance == 0) break;
                if (data[from + bestLength] == data[i + bestLength]) {
                    std::size_t n = 0;
                    while (n < limit && data[from + n] == data[i + n]) ++n;
                    if (n > bestLength) {
                        bestLength = n;
                        bestDistance = distance;
                        if (n == limit) break;
                    }
                }
                candidate = previous[from & (kWindow - 1)];
            }
        }
        std::size_t field = 0;
        if (bestLength >= 4) {
            std::size_t d = bestDistance - 1;
            field = d < 0x100 ? 0 : d < 0x10000 ? 1 : 2;
        }
        std::size_t cost = 2 + (bestLength - 4 >= 32 ? 1 : 0) + field + 1;
        if (bestLength >= 4 && cost < bestLength) {
            std::size_t l = bestLength - 4;
            std::size_t d = bestDistance - 1;
            unsigned int code = static_cast<unsigned int>((l & 31) << 3) | (l >= 32 ? 4u : 0u) |
                                static_cast<unsigned int>(field);
            out.push_back(e);
            out.push_back(static_cast<std::uint8_t>(code >= e ? code + 1 : code));
            if (l >= 32) out.push_back(static_cast<std::uint8_t>(l >> 5));
            for (std::size_t k = 0; k <= field; ++k) {
                out.push_back(static_cast<std::uint8_t>(d >> (8 * k)));
            }
            for (std::size_t k = 0; k < bestLength; ++k) insert(i + k);
            i += bestLength;
        } else {
            out.push_back(data[i]);
            if (data[i] == e) out.push_back(e);
            insert(i);
            ++i;
        }
    }
    if (out.size() > 0xFFFFFFFFu) throw std::runtime_error("LZ stream too large");
    SetLe(out, 4, out.size(), 4);
    return out;
}

// ============================================================================================
// Huffman
// ============================================================================================

namespace {

class MsbWriter {
  public:
    explicit MsbWriter(Bytes& out) : out_(out) {}
    void Put(std::uint64_t value, unsigned int bits) {
        for (unsigned int i = bits; i-- > 0;) {
            if (used_ % 8 == 0) out_.push_back(0);
            if ((value >> i) & 1) out_.back() |= static_cast<std::uint8_t>(0x80 >> (used_ % 8));
            ++used_;
        }
    }

  private:
    Bytes& out_;
    std::size_t used_ = 0;
};

unsigned int BitLength(std::uint64_t value) {
    unsigned int bits = 1;
    while (bits < 64 && (value >> bits)) ++bits;
    return bits;
}

unsigned int FieldK(std::uint64_t magnitude) {  // the k of a (2k + 2)-bit field
    unsigned int k = 0;
    while (magnitude >> (2 * k + 2)) ++k;
    return k;
}

}  // namespace

Bytes EncodeHuffman(const std::uint8_t* data, std::size_t size) {
    std::uint64_t counts[256] = {};
    for (std::size_t i = 0; i < size; ++i) ++counts[data[i]];
    std::uint64_t most = *std::max_element(counts, counts + 256);
    std::uint16_t weights[256];
    for (int v = 0; v < 256; ++v) {
        std::uint64_t w = counts[v];
        if (most > 0xFFFF) w = counts[v] == 0 ? 0 : std::max<std::uint64_t>(1, w * 0xFFFF / most);
        weights[v] = static_cast<std::uint16_t>(w);
    }

    // The tree, built by the decoder's rules: the two lightest parentless nodes, lower index
    // first on ties; the first becomes child 0.
    struct TreeNode {
        std::uint64_t weight;
        int parent;
        int bit;
    } nodes[511];
    for (int v = 0; v < 256; ++v) nodes[v] = {weights[v], -1, 0};
    for (int made = 256; made < 511; ++made) {
        int pick[2] = {-1, -1};
        for (int which = 0; which < 2; ++which) {
            for (int n = 0; n < made; ++n) {
                if (nodes[n].parent != -1 || n == pick[0]) continue;
                if (pick[which] == -1 || nodes[n].weight < nodes[pick[which]].weight) {
                    pick[which] = n;
                }
            }
        }
        nodes[made] = {nodes[pick[0]].weight + nodes[pick[1]].weight, -1, 0};
        nodes[pick[0]].parent = made;
        nodes[pick[0]].bit = 0;
        nodes[pick[1]].parent = made;
        nodes[pick[1]].bit = 1;
    }
    // Codes from the root down, as bit lists.
    std::vector<std::uint8_t> codes[256];
    std::uint64_t totalBits = 0;
    for (int v = 0; v < 256; ++v) {
        for (int n = v; n != 510; n = nodes[n].parent)
            codes[v].push_back(static_cast<std::uint8_t>(nodes[n].bit));
        std::reverse(codes[v].begin(), codes[v].end());
        totalBits += counts[v] * codes[v].size();
    }
    const std::uint64_t codeBytes = (totalBits + 7) / 8;

    Bytes out;
    MsbWriter header(out);
    unsigned int sizeBits = BitLength(size);
    header.Put(sizeBits - 1, 6);
    header.Put(size, sizeBits);
    unsigned int skippedBits = BitLength(codeBytes);
    header.Put(skippedBits - 1, 6);
    header.Put(codeBytes, skippedBits);
    header.Put(FieldK(weights[0]), 3);
    header.Put(0, 1);
    header.Put(weights[0], 2 * FieldK(weights[0]) + 2);
    for (int v = 1; v < 256; ++v) {
        int diff = weights[v] - weights[v - 1];
        std::uint64_t magnitude = static_cast<std::uint64_t>(diff < 0 ? -diff : diff);
        header.Put(FieldK(magnitude), 3);
        header.Put(diff < 0 ? 1 : 0, 1);
        header.Put(magnitude, 2 * FieldK(magnitude) + 2);
    }
    // The code stream, least significant bit first.
    std::size_t start = out.size();
    out.resize(start + codeBytes, 0);
    std::uint64_t bit = 0;
    for (std::size_t i = 0; i < size; ++i) {
        for (std::uint8_t b : codes[data[i]]) {
            if (b) out[start + (bit >> 3)] |= static_cast<std::uint8_t>(1u << (bit & 7));
            ++bit;
        }
    }
    return out;
}

// ============================================================================================
// The archive
// ============================================================================================

namespace {

constexpr std::uint64_t kNone = ZiDaz::kArchiveNone;

// A name in the archive's character set and its upper-cased form (ASCII letters only).
struct ArchiveName {
    Bytes stored;
    Bytes upper;
};

ArchiveName ConvertName(const std::string& utf8, std::int32_t charset) {
    ArchiveName name;
    if (utf8.empty()) return name;
    std::vector<char> buffer(utf8.size() * 4 + 8);
    int bytes = ZiDaz::TranscodeString(utf8.c_str(), -1, ZiDaz::CharEncoding::Utf8, buffer.data(),
                                       static_cast<int>(buffer.size()), charset);
    if (bytes <= 1) throw std::runtime_error("name cannot be written: " + utf8);
    name.stored.assign(buffer.begin(), buffer.begin() + (bytes - 1));
    // Every character must have come through (no replacement of what the set cannot hold).
    std::vector<char> back(utf8.size() * 2 + 8);
    ZiDaz::TranscodeString(buffer.data(), -1, charset, back.data(), static_cast<int>(back.size()),
                           ZiDaz::CharEncoding::Utf8);
    if (utf8 != back.data()) throw std::runtime_error("name cannot be written: " + utf8);
    name.upper = name.stored;
    for (std::size_t i = 0; i < name.upper.size();) {
        int length = 0;
        std::uint32_t code = ZiDaz::ReadCharCodeAt(name.upper.data() + i, charset, &length);
        if (length <= 0) length = 1;
        if (code >= 'a' && code <= 'z' && length == 1)
            name.upper[i] = static_cast<std::uint8_t>(code - 32);
        i += static_cast<std::size_t>(length);
    }
    return name;
}

// A name record: words, sum, the padded upper-cased name, the stored name and its zero.
void PutNameRecord(Bytes& out, const ArchiveName& name) {
    Bytes padded = name.upper;
    padded.resize(padded.size() + (4 - padded.size() % 4), 0);
    if (padded.size() / 4 > 0xFFFF) throw std::runtime_error("name too long");
    std::uint16_t sum = 0;
    for (std::uint8_t b : padded) sum = static_cast<std::uint16_t>(sum + b);
    PutLe(out, padded.size() / 4, 2);
    PutLe(out, sum, 2);
    out.insert(out.end(), padded.begin(), padded.end());
    out.insert(out.end(), name.stored.begin(), name.stored.end());
    out.push_back(0);
}

struct Placed {
    const Node* node;
    ArchiveName name;
    std::uint64_t nameOffset = 0;
    std::uint64_t entryOffset = 0;      // in the file table
    std::uint64_t directoryOffset = 0;  // a folder's entry in the directory table
    int parent = -1;                    // index of the folder that holds it
};

// The stored block of one file and its L and H.
struct Block {
    Bytes bytes;
    std::uint64_t lz = kNone;
    std::uint64_t huffman = kNone;
};

Block EncodeFile(const Bytes& data, const WriteOptions& options) {
    Block plain{data, kNone, kNone};
    if (data.empty() || options.compression == Compression::None) return plain;
    Block block;
    Bytes input = data;
    if (options.compression == Compression::Lz || options.compression == Compression::LzHuffman) {
        input = EncodeLz(data.data(), data.size());
        block.lz = input.size();
    }
    if (options.compression == Compression::Huffman ||
        options.compression == Compression::LzHuffman) {
        const std::size_t k = options.huffmanKilobytes;
        const std::size_t ends = k * 1024;
        if (k != ZiDaz::kArchiveHuffmanWhole && input.size() > 2 * ends) {
            Bytes outer(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(ends));
            outer.insert(outer.end(), input.end() - static_cast<std::ptrdiff_t>(ends), input.end());
            block.bytes = EncodeHuffman(outer.data(), outer.size());
            block.huffman = block.bytes.size();
            block.bytes.insert(block.bytes.end(), input.begin() + static_cast<std::ptrdiff_t>(ends),
                               input.end() - static_cast<std::ptrdiff_t>(ends));
        } else {
            block.bytes = EncodeHuffman(input.data(), input.size());
            block.huffman = block.bytes.size();
        }
    } else {
        block.bytes = std::move(input);
    }
    if (options.keepSmaller && block.bytes.size() >= data.size()) return plain;
    return block;
}

}  // namespace

Bytes WriteArchive(const Node& root, const WriteOptions& options) {
    const std::int32_t charset = options.charset;
    std::string keyString = options.key ? *options.key : ZiDaz::kDefaultArchiveKeyString;
    if (keyString.size() > 63) keyString.resize(63);
    unsigned char archiveKey[7];
    ZiDaz::DeriveArchiveKey(keyString.c_str(), keyString.size(), archiveKey);

    // Places: the root, then every folder's entries together, folders in breadth-first order.
    std::vector<Placed> placed;
    placed.push_back({&root, {}, 0, 0, 0, -1});
    std::vector<int> folders{0};  // indices into placed, in directory-table order
    std::vector<std::pair<std::uint64_t, std::uint64_t>> folderEntries;  // first, count
    std::uint64_t nextEntry = sizeof(ZiDaz::ArchiveFileEntry);
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const Node* folder = placed[static_cast<std::size_t>(folders[f])].node;
        std::vector<const Node*> children;
        for (const Node& child : folder->children) children.push_back(&child);
        folderEntries.push_back({nextEntry, children.size()});
        for (const Node* child : children) {
            Placed p{child, ConvertName(child->name, charset), 0, nextEntry, 0, folders[f]};
            nextEntry += sizeof(ZiDaz::ArchiveFileEntry);
            if (child->directory) {
                p.directoryOffset = folders.size() * sizeof(ZiDaz::ArchiveDirectoryEntry);
                folders.push_back(static_cast<int>(placed.size()));
            }
            placed.push_back(std::move(p));
        }
    }

    Bytes names;
    for (Placed& p : placed) {
        p.nameOffset = names.size();
        PutNameRecord(names, p.name);
    }

    // The data area, and the file table with it.
    Bytes data;
    Bytes files(nextEntry, 0);
    auto putEntry = [&](const Placed& p, std::uint64_t dataOffset, std::uint64_t size,
                        std::uint64_t lz, std::uint64_t huffman) {
        std::size_t at = p.entryOffset;
        std::uint64_t attributes = p.node->directory ? ZiDaz::kArchiveDirectoryAttribute : 0x20;
        std::uint64_t values[9] = {p.nameOffset,
                                   attributes,
                                   p.node->fileTime,
                                   p.node->fileTime,
                                   p.node->fileTime,
                                   dataOffset,
                                   size,
                                   lz,
                                   huffman};
        for (int i = 0; i < 9; ++i)
            SetLe(files, at + 8 * static_cast<std::size_t>(i), values[i], 8);
    };
    for (const Placed& p : placed) {
        if (p.node->directory) {
            putEntry(p, p.directoryOffset, 0, kNone, kNone);
            continue;
        }
        Block block = EncodeFile(p.node->data, options);
        if (options.scramble && !p.node->data.empty()) {
            // The file's key text: the key string, its name, then its folders' names upwards.
            Bytes text(keyString.begin(), keyString.end());
            text.insert(text.end(), p.name.upper.begin(), p.name.upper.end());
            for (int up = p.parent; up > 0; up = placed[static_cast<std::size_t>(up)].parent) {
                const Bytes& folder = placed[static_cast<std::size_t>(up)].name.upper;
                text.insert(text.end(), folder.begin(), folder.end());
            }
            if (text.size() > 2040) text.resize(2040);
            unsigned char key[7];
            ZiDaz::DeriveArchiveKey(reinterpret_cast<const char*>(text.data()), text.size(), key);
            ZiDaz::ApplyArchiveKey(block.bytes.data(),
                                   static_cast<std::int64_t>(block.bytes.size()),
                                   static_cast<std::int64_t>(p.node->data.size()), key);
        }
        putEntry(p, data.size(), p.node->data.size(), block.lz, block.huffman);
        data.insert(data.end(), block.bytes.begin(), block.bytes.end());
    }

    Bytes directories;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const Placed& p = placed[static_cast<std::size_t>(folders[f])];
        std::uint64_t parent =
            p.parent < 0 ? kNone : placed[static_cast<std::size_t>(p.parent)].directoryOffset;
        PutLe(directories, p.entryOffset, 8);
        PutLe(directories, parent, 8);
        PutLe(directories, folderEntries[f].second, 8);
        PutLe(directories, folderEntries[f].first, 8);
    }
    // The root's own entry.
    putEntry(placed[0], 0, 0, kNone, kNone);

    Bytes head = names;
    head.insert(head.end(), files.begin(), files.end());
    head.insert(head.end(), directories.begin(), directories.end());
    if (head.size() > 0xFFFFFFFFu) throw std::runtime_error("too many files");
    Bytes storedHead = head;
    if (options.compressHead) {
        Bytes lz = EncodeLz(head.data(), head.size());
        storedHead = EncodeHuffman(lz.data(), lz.size());
    }
    if (options.scramble) {
        ZiDaz::ApplyArchiveKey(storedHead.data(), static_cast<std::int64_t>(storedHead.size()), 0,
                               archiveKey);
    }

    Bytes archive;
    PutLe(archive, ZiDaz::kArchiveMagic, 2);
    PutLe(archive, ZiDaz::kArchiveVersion, 2);
    PutLe(archive, head.size(), 4);
    PutLe(archive, 64, 8);                           // data offset
    PutLe(archive, 64 + data.size(), 8);             // head offset
    PutLe(archive, names.size(), 8);                 // file table
    PutLe(archive, names.size() + files.size(), 8);  // directory table
    PutLe(archive, static_cast<std::uint32_t>(charset), 4);
    std::uint32_t flags = (options.scramble ? 0 : ZiDaz::kArchiveFlagNoKey) |
                          (options.compressHead ? 0 : ZiDaz::kArchiveFlagPlainHead);
    PutLe(archive, flags, 4);
    archive.push_back(options.huffmanKilobytes);
    archive.resize(64, 0);
    archive.insert(archive.end(), data.begin(), data.end());
    archive.insert(archive.end(), storedHead.begin(), storedHead.end());
    return archive;
}

// ============================================================================================
// Folders on disk
// ============================================================================================

namespace {

std::uint64_t FileTimeOf(const std::filesystem::path& path) {
    std::error_code error;
    auto written = std::filesystem::last_write_time(path, error);
    if (error) return 0;
    // The file clock and the system clock differ by a constant: measured once here.
    auto system = std::chrono::system_clock::now() +
                  std::chrono::duration_cast<std::chrono::system_clock::duration>(
                      written - std::filesystem::file_time_type::clock::now());
    auto ticks =
        std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
            system.time_since_epoch())
            .count();
    return static_cast<std::uint64_t>(ticks + 116444736000000000LL);
}

}  // namespace

Node ReadFolder(const std::filesystem::path& folder) {
    Node node;
    node.directory = true;
    node.name = folder.filename().string();
    node.fileTime = FileTimeOf(folder);
    std::vector<std::filesystem::directory_entry> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        if (entry.is_directory()) {
            node.children.push_back(ReadFolder(entry.path()));
        } else if (entry.is_regular_file()) {
            Node file;
            file.name = entry.path().filename().string();
            file.fileTime = FileTimeOf(entry.path());
            std::ifstream in(entry.path(), std::ios::binary);
            file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof())
                throw std::runtime_error("cannot read " + entry.path().string());
            node.children.push_back(std::move(file));
        }
    }
    return node;
}

bool PackFolder(const std::filesystem::path& folder, const std::filesystem::path& archive,
                const WriteOptions& options, std::string* error) {
    try {
        if (!std::filesystem::is_directory(folder)) {
            throw std::runtime_error("not a folder: " + folder.string());
        }
        Bytes bytes = WriteArchive(ReadFolder(folder), options);
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + archive.string());
    } catch (const std::exception& failure) {
        if (error) *error = failure.what();
        return false;
    }
    return true;
}

// ============================================================================================
// Unpacking through the library
// ============================================================================================

namespace {

std::u16string Wide(const std::string& utf8) {
    std::vector<char16_t> buffer(utf8.size() + 2);
    ZiDaz::TranscodeString(utf8.c_str(), -1, ZiDaz::CharEncoding::Utf8, buffer.data(),
                           static_cast<int>(buffer.size() * 2), ZiDaz::CharEncoding::Utf16Le);
    return buffer.data();
}

std::string Utf8(const char16_t* wide) {
    std::vector<char> buffer(1100);
    ZiDaz::TranscodeString(wide, -1, ZiDaz::CharEncoding::Utf16Le, buffer.data(),
                           static_cast<int>(buffer.size()), ZiDaz::CharEncoding::Utf8);
    return buffer.data();
}

// Copies every file under `folder` (a folder packed in the archive) to `out`.
void CopyFolder(const ZiDaz::StreamFunctionTable& table, const std::u16string& folder,
                const std::filesystem::path& out) {
    std::filesystem::create_directories(out);
    ZiDaz::FindFileRecord record{};
    ZiDaz::FileSearchValue search = table.FindFirst((folder + u"/*").c_str(), &record);
    if (search == -1) throw std::runtime_error("cannot list " + Utf8(folder.c_str()));
    std::vector<ZiDaz::FindFileRecord> found;
    do {
        found.push_back(record);
    } while (table.FindNext(search, &record) == 0);
    table.FindClose(search);
    for (const ZiDaz::FindFileRecord& entry : found) {
        std::u16string name = entry.Name;
        if (name == u"." || name == u"..") continue;
        std::string utf8 = Utf8(entry.Name);
        // A name must stay a name: nothing that climbs out of the folder or into another.
        if (utf8.empty() || utf8 == "." || utf8 == ".." ||
            utf8.find_first_of("/\\:") != std::string::npos) {
            throw std::runtime_error("unsafe name in the archive: " + utf8);
        }
        std::u16string inner = folder + u"/" + name;
        if (entry.DirectoryFlag) {
            CopyFolder(table, inner, out / utf8);
            continue;
        }
        ZiDaz::StreamValue stream = table.Open(inner.c_str(), 0, 1, 0);
        if (!stream) throw std::runtime_error("cannot open " + utf8);
        if (table.IsArchived(stream) != 1) {
            table.Close(stream);
            throw std::runtime_error("not read from the archive: " + utf8);
        }
        Bytes bytes(static_cast<std::size_t>(entry.Size));
        std::size_t got = bytes.empty() ? 0 : table.Read(bytes.data(), 1, bytes.size(), stream);
        table.Close(stream);
        if (got != bytes.size()) throw std::runtime_error("short read of " + utf8);
        std::ofstream file(out / utf8, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file) throw std::runtime_error("cannot write " + (out / utf8).string());
    }
}

}  // namespace

bool UnpackArchive(const std::filesystem::path& archive, const std::filesystem::path& folder,
                   const std::optional<std::string>& key, std::string* error) {
    try {
        std::filesystem::path full = std::filesystem::absolute(archive);
        std::string extension = full.extension().string();
        if (extension.size() < 2) throw std::runtime_error("the archive needs an extension");
        // The archive is opened on its own first, so that a damaged one (or a wrong key) is
        // reported as such rather than as a missing folder.
        ZiDaz::ArchiveReader reader;
        ZiDaz::InitArchiveReader(&reader);
        std::u16string widePath = Wide(full.string());
        if (ZiDaz::OpenArchiveFromFile(&reader, widePath.c_str(), key ? key->c_str() : nullptr) !=
            0) {
            throw std::runtime_error("not a readable archive (damaged, or another key): " +
                                     archive.string());
        }
        ZiDaz::CloseArchiveReader(&reader);

        ZiDaz::StartArchivePathLayer();
        ZiDaz::SetArchiveFileExtension(extension.substr(1).c_str());
        ZiDaz::SetArchiveKeyText(key ? key->c_str() : nullptr);
        ZiDaz::SetArchiveLookupOrder(0);
        std::filesystem::path packed = full;
        packed.replace_extension();
        CopyFolder(*ZiDaz::GetArchiveStreamFunctions(), Wide(packed.string()), folder);
        ZiDaz::ReleasePreloadedArchive(full.string().c_str());
    } catch (const std::exception& failure) {
        if (error) *error = failure.what();
        return false;
    }
    return true;
}

}  // namespace velk::archive
