#include "tools/archive/ArchiveWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
// The archive
// ============================================================================================

namespace {

constexpr std::uint64_t kNone = ZiDaz::kArchiveNone;

// A name in the archive's character set and its upper-cased form (ASCII letters only).
struct ArchiveName {
    Bytes stored;
    Bytes upper;
};

// path: the entry's path in the tree, for messages.
ArchiveName ConvertName(const std::string& utf8, std::int32_t charset, const std::string& path) {
    ArchiveName name;
    if (utf8.empty()) return name;
    const std::string refused = "the name cannot be written in the archive's character set: ";
    std::vector<char> buffer(utf8.size() * 4 + 8);
    int bytes = ZiDaz::TranscodeString(utf8.c_str(), -1, ZiDaz::CharEncoding::Utf8, buffer.data(),
                                       static_cast<int>(buffer.size()), charset);
    if (bytes <= 1) throw std::runtime_error(refused + path);
    name.stored.assign(buffer.begin(), buffer.begin() + (bytes - 1));
    // Every character must have come through (no replacement of what the set cannot hold).
    std::vector<char> back(utf8.size() * 2 + 8);
    ZiDaz::TranscodeString(buffer.data(), -1, charset, back.data(), static_cast<int>(back.size()),
                           ZiDaz::CharEncoding::Utf8);
    if (utf8 != back.data()) throw std::runtime_error(refused + path);
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
    std::string path;                   // in the tree, UTF-8, for messages
    std::size_t innerBytes = 0;         // its inner path in the archive's character set
};

// The children of one folder, checked for what the reader could never give back.
void CheckFolderEntries(const std::vector<Placed>& placed, std::size_t first, std::size_t count) {
    for (std::size_t i = first; i < first + count; ++i) {
        const Placed& p = placed[i];
        // The reader splits paths at "\\" and "/", and its searches also at ":".
        if (p.node->name == "." || p.node->name == "..") {
            throw std::runtime_error("a name \".\" or \"..\" cannot be read back: " + p.path);
        }
        if (p.node->name.empty() || p.node->name.find_first_of("\\/:") != std::string::npos) {
            throw std::runtime_error("a name holding \"\\\", \"/\" or \":\" cannot be read back: " +
                                     p.path);
        }
        std::size_t limit = kMaxInnerPathBytes - (p.node->directory ? 2 : 0);
        if (p.innerBytes > limit) {
            throw std::runtime_error("the path inside the archive is longer than " +
                                     std::to_string(limit) + " bytes: " + p.path);
        }
        for (std::size_t j = first; j < i; ++j) {
            const Placed& other = placed[j];
            if (other.node->directory == p.node->directory && other.name.upper == p.name.upper) {
                throw std::runtime_error(
                    "two names in one folder differ only in case, so only one could be read "
                    "back: " +
                    other.path + " and " + p.path);
            }
        }
    }
}

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
    placed.push_back({&root, {}, 0, 0, 0, -1, root.name, 0});
    std::vector<int> folders{0};  // indices into placed, in directory-table order
    std::vector<std::pair<std::uint64_t, std::uint64_t>> folderEntries;  // first, count
    std::uint64_t nextEntry = sizeof(ZiDaz::ArchiveFileEntry);
    for (std::size_t f = 0; f < folders.size(); ++f) {
        const Node* folder = placed[static_cast<std::size_t>(folders[f])].node;
        std::vector<const Node*> children;
        for (const Node& child : folder->children) children.push_back(&child);
        folderEntries.push_back({nextEntry, children.size()});
        const Placed& parent = placed[static_cast<std::size_t>(folders[f])];
        const std::string parentPath = parent.path;
        const std::size_t parentBytes = parent.innerBytes;
        const std::size_t first = placed.size();
        for (const Node* child : children) {
            std::string path = parentPath.empty() ? child->name : parentPath + "/" + child->name;
            Placed p{
                child, ConvertName(child->name, charset, path), 0, nextEntry, 0, folders[f], path,
                0};
            p.innerBytes = (f == 0 ? 0 : parentBytes + 1) + p.name.stored.size();
            nextEntry += sizeof(ZiDaz::ArchiveFileEntry);
            if (child->directory) {
                p.directoryOffset = folders.size() * sizeof(ZiDaz::ArchiveDirectoryEntry);
                folders.push_back(static_cast<int>(placed.size()));
            }
            placed.push_back(std::move(p));
        }
        CheckFolderEntries(placed, first, children.size());
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
        const Node& node = *p.node;
        std::uint64_t values[9] = {p.nameOffset,
                                   attributes,
                                   node.creationTime != 0 ? node.creationTime : node.fileTime,
                                   node.accessTime != 0 ? node.accessTime : node.fileTime,
                                   node.fileTime,
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
                          (options.compressHead ? 0 : ZiDaz::kArchiveFlagPlainHead) |
                          static_cast<std::uint32_t>(options.generationMark) << 16;
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

constexpr std::uint64_t kTicksFrom1601To1970 = 116444736000000000ULL;

std::uint64_t FileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    std::int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    return static_cast<std::uint64_t>(ticks + static_cast<std::int64_t>(kTicksFrom1601To1970));
}

// The three times of a file as the file system keeps them (following links, as the platform's
// folder searches do), and its device and inode.
struct FileFacts {
    std::uint64_t creation, access, write;
    std::uint64_t device, inode;
};

FileFacts FactsOf(const std::filesystem::path& path) {
    struct statx info;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
        throw std::runtime_error("cannot read the times of " + path.string());
    }
    FileFacts facts;
    facts.write = FileTime(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    facts.access = FileTime(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
    facts.creation = (info.stx_mask & STATX_BTIME)
                         ? FileTime(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                         : facts.write;
    facts.device = (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor;
    facts.inode = info.stx_ino;
    return facts;
}

void SetTimes(Node& node, const FileFacts& facts) {
    node.fileTime = facts.write;
    node.accessTime = facts.access;
    node.creationTime = facts.creation;
}

// ancestors: device and inode of every folder above, to refuse a link that loops back.
Node ReadFolderBelow(const std::filesystem::path& folder,
                     std::vector<std::pair<std::uint64_t, std::uint64_t>>& ancestors) {
    Node node;
    node.directory = true;
    node.name = folder.filename().string();
    FileFacts facts = FactsOf(folder);
    SetTimes(node, facts);
    for (const auto& above : ancestors) {
        if (above == std::pair(facts.device, facts.inode)) {
            throw std::runtime_error("the folder contains itself through a link: " +
                                     folder.string());
        }
    }
    ancestors.push_back({facts.device, facts.inode});
    std::vector<std::filesystem::directory_entry> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) entries.push_back(entry);
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    for (const auto& entry : entries) {
        if (entry.is_directory()) {
            node.children.push_back(ReadFolderBelow(entry.path(), ancestors));
        } else if (entry.is_regular_file()) {
            Node file;
            file.name = entry.path().filename().string();
            SetTimes(file, FactsOf(entry.path()));
            std::ifstream in(entry.path(), std::ios::binary);
            file.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof())
                throw std::runtime_error("cannot read " + entry.path().string());
            node.children.push_back(std::move(file));
        }
    }
    ancestors.pop_back();
    return node;
}

}  // namespace

Node ReadFolder(const std::filesystem::path& folder) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ancestors;
    return ReadFolderBelow(folder, ancestors);
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

// A folder opened for writing into it: its descriptor, and its path for messages.
class OutputFolder {
  public:
    OutputFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    OutputFolder(const OutputFolder&) = delete;
    OutputFolder& operator=(const OutputFolder&) = delete;
    ~OutputFolder() {
        if (fd_ >= 0) close(fd_);
    }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

// Everything an unpack leaves out, one line each.
struct Problems {
    std::vector<std::string> lines;
    void Add(const std::string& line) { lines.push_back(line); }
};

// The folder `name` inside `parent`, made when missing; never a link.
int OpenSubfolder(const OutputFolder& parent, const std::string& name) {
    if (mkdirat(parent.fd(), name.c_str(), 0777) != 0 && errno != EEXIST) return -1;
    return openat(parent.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Writes a file `name` inside `folder` as a new file: an existing file of that name is removed
// first (so a second hard link of it elsewhere keeps its bytes), a link or folder there is
// left alone and the file is not written.
bool WriteNewFile(const OutputFolder& folder, const std::string& name, const Bytes& bytes,
                  std::string* why) {
    struct stat info;
    if (fstatat(folder.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISREG(info.st_mode)) {
            *why =
                S_ISLNK(info.st_mode) ? "a symbolic link is in the way" : "something is in the way";
            return false;
        }
        if (unlinkat(folder.fd(), name.c_str(), 0) != 0) {
            *why = std::string("cannot replace the existing file: ") + std::strerror(errno);
            return false;
        }
    }
    int fd = openat(folder.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            *why = std::strerror(errno);
            close(fd);
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    if (close(fd) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

// Copies every file under `folder` (a folder packed in the archive) into `out`; what cannot be
// copied safely is left out and reported.
void CopyFolder(const ZiDaz::StreamFunctionTable& table, const std::u16string& folder,
                const std::string& shown, const OutputFolder& out, bool root, Problems& problems) {
    ZiDaz::FindFileRecord record{};
    ZiDaz::FileSearchValue search = table.FindFirst((folder + u"/*").c_str(), &record);
    if (search == -1) {
        problems.Add("cannot list " + shown);
        return;
    }
    std::vector<ZiDaz::FindFileRecord> found;
    do {
        found.push_back(record);
    } while (table.FindNext(search, &record) == 0);
    table.FindClose(search);
    // The listing ends with "." and, below the root, "..", which stand for no entry; a "." or
    // ".." before them is an entry of the archive under that name.
    for (const char16_t* dots : root ? std::vector{u"."} : std::vector{u"..", u"."}) {
        if (!found.empty() && std::u16string(found.back().Name) == dots) found.pop_back();
    }
    for (const ZiDaz::FindFileRecord& entry : found) {
        std::u16string name = entry.Name;
        std::string utf8 = Utf8(entry.Name);
        const std::string entryShown = shown + "/" + utf8;
        // A name must stay a name: nothing that climbs out of the folder or into another.
        if (utf8.empty() || utf8 == "." || utf8 == ".." ||
            utf8.find_first_of("/\\:") != std::string::npos ||
            utf8.find('\0') != std::string::npos) {
            problems.Add("left out, its name is not safe to write: " + entryShown);
            continue;
        }
        std::u16string inner = folder + u"/" + name;
        if (entry.DirectoryFlag) {
            int fd = OpenSubfolder(out, utf8);
            if (fd < 0) {
                problems.Add("left out, the folder cannot be made (" +
                             std::string(std::strerror(errno)) +
                             ", or a link is in the way): " + out.path() + "/" + utf8);
                continue;
            }
            OutputFolder sub(fd, out.path() + "/" + utf8);
            CopyFolder(table, inner, entryShown, sub, false, problems);
            continue;
        }
        ZiDaz::StreamValue stream = table.Open(inner.c_str(), 0, 1, 0);
        if (!stream) {
            problems.Add("left out, it cannot be opened: " + entryShown);
            continue;
        }
        if (table.IsArchived(stream) != 1) {
            table.Close(stream);
            problems.Add("left out, it was not read from the archive: " + entryShown);
            continue;
        }
        Bytes bytes(static_cast<std::size_t>(entry.Size));
        std::size_t got = bytes.empty() ? 0 : table.Read(bytes.data(), 1, bytes.size(), stream);
        table.Close(stream);
        if (got != bytes.size()) {
            problems.Add("left out, it reads short: " + entryShown);
            continue;
        }
        std::string why;
        if (!WriteNewFile(out, utf8, bytes, &why)) {
            problems.Add("left out, " + why + ": " + out.path() + "/" + utf8);
        }
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

        std::filesystem::create_directories(folder);
        int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("cannot open the folder " + folder.string());
        OutputFolder out(fd, folder.string());

        ZiDaz::StartArchivePathLayer();
        ZiDaz::SetArchiveFileExtension(extension.substr(1).c_str());
        ZiDaz::SetArchiveKeyText(key ? key->c_str() : nullptr);
        ZiDaz::SetArchiveLookupOrder(0);
        std::filesystem::path packed = full;
        packed.replace_extension();
        Problems problems;
        CopyFolder(*ZiDaz::GetArchiveStreamFunctions(), Wide(packed.string()),
                   archive.filename().string(), out, true, problems);
        ZiDaz::ReleasePreloadedArchive(full.string().c_str());
        if (!problems.lines.empty()) {
            std::string all;
            for (const std::string& line : problems.lines) all += (all.empty() ? "" : "\n") + line;
            throw std::runtime_error(all);
        }
    } catch (const std::exception& failure) {
        if (error) *error = failure.what();
        return false;
    }
    return true;
}

}  // namespace velk::archive
