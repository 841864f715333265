// The reader of one archive: opening from a file, from a file loaded whole into memory, or from
// a memory image; its directories, its names, locating and finding files.
//
// An archive is checked whole when it is opened: every table, directory and name it holds must
// lie inside the decoded head, and every file's stored block inside the archive, with sizes its
// coders can produce. Everything after the open relies on that and reads entries through the
// bounded accessors below all the same.
#include <bit>
#include <cstring>

#include "Main/DxArchiveInternal.h"
#include "Main/DxChar.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFileWin.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

static_assert(std::endian::native == std::endian::little, "archives are read in place");

namespace archive_detail {

bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* sum) {
    if (a > ~std::uint64_t{0} - b) return false;
    *sum = a + b;
    return true;
}

bool RangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

bool ReadFileEntry(const ArchiveReader* reader, std::uint64_t offset, ArchiveFileEntry* entry) {
    std::uint64_t at;
    if (!AddChecked(reader->header.fileTableOffset, offset, &at) ||
        !RangeInside(at, sizeof(ArchiveFileEntry), reader->headSize)) {
        return false;
    }
    std::memcpy(entry, reader->head + at, sizeof(ArchiveFileEntry));
    return true;
}

bool ReadDirectoryEntry(const ArchiveReader* reader, std::uint64_t offset,
                        ArchiveDirectoryEntry* entry) {
    std::uint64_t at;
    if (!AddChecked(reader->header.directoryTableOffset, offset, &at) ||
        !RangeInside(at, sizeof(ArchiveDirectoryEntry), reader->headSize)) {
        return false;
    }
    std::memcpy(entry, reader->head + at, sizeof(ArchiveDirectoryEntry));
    return true;
}

bool ReadNameRecord(const ArchiveReader* reader, std::uint64_t offset, NameRecord* record) {
    if (!RangeInside(offset, 4, reader->headSize)) return false;
    const unsigned char* p = reader->head + offset;
    record->words = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    record->sum = static_cast<std::uint16_t>(p[2] | p[3] << 8);
    std::uint64_t upperBytes = std::uint64_t{record->words} * 4;
    if (record->words == 0 || !RangeInside(offset + 4, upperBytes, reader->headSize)) return false;
    record->upper = p + 4;
    if (record->upper[upperBytes - 1] != 0) return false;  // the padding holds a zero
    // The stored name must end, with a whole zero unit, inside the head.
    int unit = UnitBytesOfCharCode(reader->charset);
    if (unit <= 0) unit = 1;
    std::uint64_t start = offset + 4 + upperBytes;
    for (std::uint64_t at = start; at + static_cast<std::uint64_t>(unit) <= reader->headSize;
         at += static_cast<std::uint64_t>(unit)) {
        bool zero = true;
        for (int k = 0; k < unit; ++k) zero = zero && reader->head[at + k] == 0;
        if (zero) {
            record->stored = reader->head + start;
            return true;
        }
    }
    return false;
}

std::size_t UpperNameBytes(const NameRecord& record, std::int32_t charset) {
    int unit = UnitBytesOfCharCode(charset);
    if (unit <= 0) unit = 1;
    std::size_t limit = std::size_t{record.words} * 4;
    for (std::size_t at = 0; at + static_cast<std::size_t>(unit) <= limit;
         at += static_cast<std::size_t>(unit)) {
        bool zero = true;
        for (int k = 0; k < unit; ++k) zero = zero && record.upper[at + k] == 0;
        if (zero) return at;
    }
    return limit;
}

void WaitMilliseconds(unsigned int ms) {
    EnsureSystemApiTable();
    if (SystemApi.Sleep) SystemApi.Sleep(ms);
}

void ClosePlainStream(PlainFileStream* stream) {
    if (!stream) return;
    PlainFileClose(stream);
    DX_FREE(stream);
}

}  // namespace archive_detail

using namespace archive_detail;

std::uint64_t ArchiveStoredBlockSize(const ArchiveFileEntry& entry, std::uint8_t huffmanKilobytes) {
    if (entry.huffmanSize == kArchiveNone) {
        return entry.lzSize == kArchiveNone ? entry.dataSize : entry.lzSize;
    }
    std::uint64_t input = entry.lzSize == kArchiveNone ? entry.dataSize : entry.lzSize;
    std::uint64_t ends = std::uint64_t{huffmanKilobytes} * 2048;
    if (huffmanKilobytes == kArchiveHuffmanWhole || input <= ends) return entry.huffmanSize;
    std::uint64_t total;
    if (!AddChecked(entry.huffmanSize, input - ends, &total) || total == kArchiveNone) {
        return kArchiveNone;
    }
    return total;
}

namespace {

constexpr int kMaxDepth = 256;
// One LZ token of 4 bytes (escape, code, length byte, distance byte) gives at most 8,195 bytes.
constexpr std::uint64_t kLzMaxRatio = 2049;
// Beyond this nothing is allocated for one file or head: 1 TB.
constexpr std::uint64_t kMaxDecodedSize = std::uint64_t{1} << 40;
// The largest head an archive may declare, exclusive.
constexpr std::uint64_t kMaxHeadSize = std::uint64_t{1} << 31;

void ClearReader(ArchiveReader* reader) {
    std::memset(static_cast<void*>(reader), 0, sizeof *reader);
}

void SetKey(ArchiveReader* reader, const char* keyString) {
    const char* text = keyString ? keyString : kDefaultArchiveKeyString;
    int length = 0;
    while (length < 63 && text[length]) {
        reader->keyString[length] = text[length];
        ++length;
    }
    reader->keyString[length] = 0;
    reader->keyStringLength = length;
    DeriveArchiveKey(reader->keyString, static_cast<std::size_t>(length), reader->key);
}

void SetPath(ArchiveReader* reader, const char16_t* path) {
    std::size_t i = 0;
    for (; path && path[i] && i + 1 < sizeof reader->path / sizeof reader->path[0]; ++i) {
        reader->path[i] = path[i];
    }
    reader->path[i] = 0;
}

std::int32_t NamesCharset(std::uint32_t value) {
    switch (value) {
        case 932:
        case 936:
        case 949:
        case 950:
        case 1200:
        case 1201:
        case 1252:
        case 32764:
        case 32766:
        case 32767:
        case 65001:
            return static_cast<std::int32_t>(value);
        default:
            return CharEncoding::ShiftJis;
    }
}

bool CheckMagic(const unsigned char* bytes) {
    return (bytes[0] | bytes[1] << 8) == kArchiveMagic &&
           (bytes[2] | bytes[3] << 8) == kArchiveVersion;
}

void TakeHeader(ArchiveReader* reader, const unsigned char* bytes) {
    std::memcpy(&reader->header, bytes, sizeof reader->header);
    reader->noKey = (reader->header.flags & kArchiveFlagNoKey) ? 1 : 0;
    reader->charset = NamesCharset(reader->header.charset);
}

// Bytes [offset, offset + length) of the archive, from the image when there is one, else from
// the file stream.
bool ReadArchiveBytes(ArchiveReader* reader, const unsigned char* image, std::uint64_t offset,
                      void* out, std::uint64_t length) {
    if (!RangeInside(offset, length, reader->archiveSize)) return false;
    if (length == 0) return true;
    if (image) {
        std::memcpy(out, image + offset, length);
        return true;
    }
    if (PlainFileSeek(reader->stream, static_cast<std::int64_t>(offset), 0) != 0) return false;
    return PlainFileRead(out, 1, length, reader->stream) == length;
}

// Decodes the head into reader->head (allocated here): 0 / -1.
int LoadHead(ArchiveReader* reader, const unsigned char* image) {
    const ArchiveHeader& h = reader->header;
    reader->headSize = h.headSize;
    // The tables of an archive stay below 2 GB; a header that claims more is damaged, and is
    // refused before anything is allocated for it.
    if (h.headSize < sizeof(ArchiveDirectoryEntry) || h.headSize >= kMaxHeadSize ||
        h.headOffset > reader->archiveSize) {
        return -1;
    }
    if (h.flags & kArchiveFlagPlainHead) {
        if (!RangeInside(h.headOffset, h.headSize, reader->archiveSize)) return -1;
        reader->head = static_cast<unsigned char*>(DX_ALLOC(h.headSize));
        if (!reader->head ||
            !ReadArchiveBytes(reader, image, h.headOffset, reader->head, h.headSize)) {
            return -1;
        }
        if (!reader->noKey) ApplyArchiveKey(reader->head, h.headSize, 0, reader->key);
        return 0;
    }
    std::uint64_t stored = reader->archiveSize - h.headOffset;
    if (stored == 0) return -1;
    auto* block = static_cast<unsigned char*>(DX_ALLOC(stored));
    if (!block) return -1;
    int result = -1;
    unsigned char* lz = nullptr;
    if (ReadArchiveBytes(reader, image, h.headOffset, block, stored)) {
        if (!reader->noKey)
            ApplyArchiveKey(block, static_cast<std::int64_t>(stored), 0, reader->key);
        std::int64_t lzSize = DecodeArchiveHuffman(block, stored, nullptr, 0);
        std::uint64_t lzBytes = static_cast<std::uint64_t>(lzSize);
        if (lzSize >= 9 && lzBytes / 8 <= stored)
            lz = static_cast<unsigned char*>(DX_ALLOC(lzBytes));
        if (lz && DecodeArchiveHuffman(block, stored, lz, lzBytes) == lzSize &&
            DecodeArchiveLz(lz, lzBytes, nullptr, 0) == h.headSize &&
            h.headSize / kLzMaxRatio <= lzBytes) {
            reader->head = static_cast<unsigned char*>(DX_ALLOC(h.headSize));
            if (reader->head &&
                DecodeArchiveLz(lz, lzBytes, reader->head, h.headSize) == h.headSize) {
                result = 0;
            }
        }
    }
    DX_FREE(lz);
    DX_FREE(block);
    return result;
}

// Whether the sizes of a file's entry can have been written by the coders, and its stored block
// lies inside the archive.
bool FileEntryFits(const ArchiveReader* reader, const ArchiveFileEntry& entry) {
    const std::uint64_t d = entry.dataSize;
    const std::uint64_t l = entry.lzSize;
    const std::uint64_t h = entry.huffmanSize;
    if (d > kMaxDecodedSize) return false;
    if (l != kArchiveNone && (l < 9 || l > kMaxDecodedSize || d / kLzMaxRatio > l - 9)) {
        return false;
    }
    if (h != kArchiveNone) {
        std::uint64_t input = l == kArchiveNone ? d : l;
        std::uint64_t k = reader->header.huffmanKilobytes;
        bool partial = k != kArchiveHuffmanWhole && input > k * 2048;
        std::uint64_t coded = partial ? k * 2048 : input;
        if (h > kMaxDecodedSize || coded / 8 > h) return false;  // a code takes a bit at least
    }
    std::uint64_t stored = ArchiveStoredBlockSize(entry, reader->header.huffmanKilobytes);
    std::uint64_t start;
    return stored != kArchiveNone &&
           AddChecked(reader->header.dataOffset, entry.dataOffset, &start) &&
           RangeInside(start, stored, reader->archiveSize);
}

bool CheckDirectory(const ArchiveReader* reader, std::uint64_t offset, int depth,
                    std::uint64_t& budget) {
    ArchiveDirectoryEntry directory;
    if (depth > kMaxDepth || !ReadDirectoryEntry(reader, offset, &directory)) return false;
    if (directory.entryCount > budget) return false;  // entries shared or looped
    budget -= directory.entryCount;
    for (std::uint64_t i = 0; i < directory.entryCount; ++i) {
        ArchiveFileEntry entry;
        NameRecord name;
        if (!ReadFileEntry(reader, directory.firstEntryOffset + i * sizeof entry, &entry) ||
            !ReadNameRecord(reader, entry.nameOffset, &name)) {
            return false;
        }
        if (entry.attributes & kArchiveDirectoryAttribute) {
            if (!CheckDirectory(reader, entry.dataOffset, depth + 1, budget)) return false;
        } else if (!FileEntryFits(reader, entry)) {
            return false;
        }
    }
    return true;
}

// The whole archive's tables, names and blocks, against the head and the archive size.
bool CheckArchive(const ArchiveReader* reader) {
    const ArchiveHeader& h = reader->header;
    if (h.fileTableOffset > reader->headSize || h.directoryTableOffset > reader->headSize ||
        h.dataOffset > reader->archiveSize) {
        return false;
    }
    std::uint64_t budget = (reader->headSize - h.fileTableOffset) / sizeof(ArchiveFileEntry);
    return CheckDirectory(reader, 0, 0, budget);
}

void FreeReaderBuffers(ArchiveReader* reader) {
    if (reader->loadingStream && reader->loadingStream != reader->stream) {
        ClosePlainStream(reader->loadingStream);
    }
    if (reader->stream) ClosePlainStream(reader->stream);
    DX_FREE(reader->head);
    if (reader->image && (!reader->callerImage || reader->imageCopied)) DX_FREE(reader->image);
    ClearReader(reader);
}

std::uint64_t MeasureStream(PlainFileStream* stream) {
    PlainFileSeek(stream, 0, 2);
    std::int64_t size = PlainFileTell(stream);
    PlainFileSeek(stream, 0, 0);
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

void CompleteLoad(ArchiveReader* reader) {
    while (reader->loadPending && !CheckArchiveIdle(reader)) WaitMilliseconds(0);
}

}  // namespace

// ============================================================================================
// Opening and closing
// ============================================================================================

int InitArchiveReader(ArchiveReader* reader) {
    if (reader) ClearReader(reader);
    return 0;
}

namespace {

// The first steps of both opens from a file: the stream, the key, the size and the header.
bool OpenFileAndHeader(ArchiveReader* reader, const char16_t* path, const char* keyString) {
    if (!reader || !path || reader->stream || reader->image) return false;
    ClearReader(reader);
    reader->stream = PlainFileOpen(path, 0, 1, 0);
    if (!reader->stream) return false;
    SetPath(reader, path);
    SetKey(reader, keyString);
    reader->archiveSize = MeasureStream(reader->stream);
    unsigned char header[sizeof(ArchiveHeader)];
    if (!ReadArchiveBytes(reader, nullptr, 0, header, sizeof header) || !CheckMagic(header)) {
        FreeReaderBuffers(reader);
        return false;
    }
    TakeHeader(reader, header);
    return true;
}

}  // namespace

int OpenArchiveFromFile(ArchiveReader* reader, const char16_t* path, const char* keyString) {
    if (!OpenFileAndHeader(reader, path, keyString)) return -1;
    if (LoadHead(reader, nullptr) != 0 || !CheckArchive(reader)) {
        FreeReaderBuffers(reader);
        return -1;
    }
    reader->currentDirectory = 0;
    return 0;
}

int OpenArchiveFromFileToMemory(ArchiveReader* reader, const char16_t* path, const char* keyString,
                                int asynchronous) {
    if (!OpenFileAndHeader(reader, path, keyString)) return -1;
    // Asynchronous: the head is read now, the image on the file thread; the image is zeroed so
    // that a file that shrank meanwhile leaves zeros rather than stale memory.
    reader->image = static_cast<unsigned char*>(asynchronous ? DX_ALLOC_ZEROED(reader->archiveSize)
                                                             : DX_ALLOC(reader->archiveSize));
    bool ok = reader->image != nullptr;
    if (ok && !asynchronous) {
        ok = ReadArchiveBytes(reader, nullptr, 0, reader->image, reader->archiveSize);
    }
    ok =
        ok && LoadHead(reader, asynchronous ? nullptr : reader->image) == 0 && CheckArchive(reader);
    if (ok && asynchronous) {
        reader->loadingStream = PlainFileOpen(path, 0, 1, 1);
        ok = reader->loadingStream != nullptr;
        if (ok) PlainFileRead(reader->image, 1, reader->archiveSize, reader->loadingStream);
    }
    if (!ok) {
        FreeReaderBuffers(reader);
        return -1;
    }
    if (asynchronous) {
        ClosePlainStream(reader->stream);
        reader->stream = nullptr;
    } else {
        reader->loadingStream = reader->stream;
        reader->stream = nullptr;
    }
    reader->imageMode = 1;
    reader->loadPending = 1;
    reader->currentDirectory = 0;
    if (!asynchronous) CompleteLoad(reader);
    return 0;
}

int OpenArchiveInMemory(ArchiveReader* reader, const void* image, std::size_t size, int copy,
                        int leaveUnchanged, const char* keyString, const char16_t* folderPath) {
    if (!reader || !image || reader->stream || reader->image) return -1;
    ClearReader(reader);
    SetKey(reader, keyString);
    SetPath(reader, folderPath);
    reader->archiveSize = size;
    if (size < sizeof(ArchiveHeader)) return -1;
    if (copy) {
        reader->image = static_cast<unsigned char*>(DX_ALLOC(size));
        if (!reader->image) return -1;
        std::memcpy(reader->image, image, size);
        reader->sourceImage = const_cast<void*>(image);
        reader->imageCopied = 1;
        leaveUnchanged = 0;
    } else {
        reader->image = static_cast<unsigned char*>(const_cast<void*>(image));
    }
    reader->callerImage = 1;
    reader->imageMode = 1;
    reader->leftScrambled = leaveUnchanged ? 1 : 0;
    // The names are read in the header's character set here as in the other modes, so that an
    // archive with UTF-8 names finds them from memory too.
    if (!CheckMagic(reader->image)) {
        FreeReaderBuffers(reader);
        return -1;
    }
    TakeHeader(reader, reader->image);
    if (LoadHead(reader, reader->image) != 0 || !CheckArchive(reader)) {
        FreeReaderBuffers(reader);
        return -1;
    }
    reader->currentDirectory = 0;
    if (!reader->noKey && !reader->leftScrambled) UnscrambleArchiveImage(reader, 0);
    return 0;
}

int CheckArchiveIdle(ArchiveReader* reader) {
    if (!reader || !reader->loadPending) return 1;
    if (reader->loadingStream) {
        if (!PlainFileIdleCheck(reader->loadingStream)) return 0;
        ClosePlainStream(reader->loadingStream);
        reader->loadingStream = nullptr;
    }
    reader->loadPending = 0;
    if (!reader->noKey) UnscrambleArchiveImage(reader, 0);
    return 1;
}

int CloseArchive(ArchiveReader* reader) {
    if (!reader || (!reader->stream && !reader->image)) return 0;
    CompleteLoad(reader);
    if (reader->callerImage && !reader->imageCopied && !reader->noKey && !reader->leftScrambled) {
        UnscrambleArchiveImage(reader, 0);  // the caller gets its scrambled bytes back
    }
    FreeReaderBuffers(reader);
    return 0;
}

int CloseArchiveReader(ArchiveReader* reader) {
    CloseArchive(reader);
    return InitArchiveReader(reader);
}

void* GetArchiveMemoryImage(ArchiveReader* reader) {
    if (!reader) return nullptr;
    CompleteLoad(reader);
    return reader->imageMode ? reader->image : nullptr;
}

// ============================================================================================
// Keys of files
// ============================================================================================

namespace archive_detail {

void DeriveFileKey(const ArchiveReader* reader, const ArchiveFileEntry& entry,
                   std::uint64_t directory, unsigned char key[7]) {
    unsigned char text[kFileKeyTextBytes] = {};
    std::size_t length = 0;
    auto append = [&](const unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count && length < kFileKeyTextLimit; ++i) {
            text[length++] = bytes[i];
        }
    };
    append(reinterpret_cast<const unsigned char*>(reader->keyString),
           static_cast<std::size_t>(reader->keyStringLength));
    NameRecord name;
    if (ReadNameRecord(reader, entry.nameOffset, &name)) {
        append(name.upper, UpperNameBytes(name, reader->charset));
    }
    // The names of the folders that hold it, innermost first, the root excluded.
    ArchiveDirectoryEntry folder;
    for (int depth = 0; depth <= kMaxDepth && ReadDirectoryEntry(reader, directory, &folder) &&
                        folder.parentOffset != kArchiveNone;
         ++depth) {
        ArchiveFileEntry own;
        if (ReadFileEntry(reader, folder.fileEntryOffset, &own) &&
            ReadNameRecord(reader, own.nameOffset, &name)) {
            append(name.upper, UpperNameBytes(name, reader->charset));
        }
        directory = folder.parentOffset;
    }
    DeriveArchiveKey(reinterpret_cast<const char*>(text), length, key);
}

}  // namespace archive_detail

namespace {

int UnscrambleDirectory(ArchiveReader* reader, std::uint64_t offset, int depth) {
    ArchiveDirectoryEntry directory;
    if (depth > kMaxDepth || !ReadDirectoryEntry(reader, offset, &directory)) return -1;
    for (std::uint64_t i = 0; i < directory.entryCount; ++i) {
        ArchiveFileEntry entry;
        if (!ReadFileEntry(reader, directory.firstEntryOffset + i * sizeof entry, &entry)) {
            return -1;
        }
        if (entry.attributes & kArchiveDirectoryAttribute) {
            UnscrambleDirectory(reader, entry.dataOffset, depth + 1);
            continue;
        }
        if (entry.dataSize == 0 || !FileEntryFits(reader, entry)) continue;
        unsigned char key[7];
        DeriveFileKey(reader, entry, offset, key);
        std::uint64_t stored = ArchiveStoredBlockSize(entry, reader->header.huffmanKilobytes);
        ApplyArchiveKey(reader->image + reader->header.dataOffset + entry.dataOffset,
                        static_cast<std::int64_t>(stored),
                        static_cast<std::int64_t>(entry.dataSize), key);
    }
    return 0;
}

}  // namespace

int UnscrambleArchiveImage(ArchiveReader* reader, std::uint64_t directory) {
    if (!reader || !reader->imageMode || !reader->image || reader->noKey) return -1;
    return UnscrambleDirectory(reader, directory, 0);
}

// ============================================================================================
// Names and directories
// ============================================================================================

namespace {

bool IsSeparatorCode(std::uint32_t code) {
    return code == '\\' || code == '/';
}

// The code at text and its byte length (at least one unit, also for an invalid unit).
std::uint32_t CharAt(const unsigned char* text, std::int32_t charset, int* length) {
    int unit = UnitBytesOfCharCode(charset);
    if (unit <= 0) unit = 1;
    int bytes = 0;
    std::uint32_t code = ReadCharCodeAt(text, charset, &bytes);
    if (bytes <= 0) {
        // An invalid unit stands for itself; it is not a terminator, since those read as 0.
        *length = unit;
        return 0xFFFFFFFFu;
    }
    *length = bytes;
    return code;
}

bool AtEnd(const unsigned char* text, std::int32_t charset) {
    int length;
    return CharAt(text, charset, &length) == 0;
}

bool ContainsSeparator(const unsigned char* text, std::int32_t charset) {
    for (;;) {
        int length;
        std::uint32_t code = CharAt(text, charset, &length);
        if (code == 0) return false;
        if (IsSeparatorCode(code)) return true;
        text += length;
    }
}

// The text is exactly this ASCII string.
bool IsText(const unsigned char* text, std::int32_t charset, const char* ascii) {
    for (;; ++ascii) {
        int length;
        std::uint32_t code = CharAt(text, charset, &length);
        if (code != static_cast<unsigned char>(*ascii)) return false;
        if (code == 0) return true;
        text += length;
    }
}

struct SearchName {
    unsigned char bytes[kSearchNameBytes];
    std::uint16_t words;
    std::uint16_t sum;
};

bool NameMatches(const ArchiveReader* reader, const ArchiveFileEntry& entry,
                 const SearchName& name) {
    NameRecord record;
    return ReadNameRecord(reader, entry.nameOffset, &record) && record.words == name.words &&
           record.sum == name.sum &&
           std::memcmp(record.upper, name.bytes, std::size_t{name.words} * 4) == 0;
}

// The first entry of a directory with this name that is (or is not) a directory.
bool FindInDirectory(const ArchiveReader* reader, std::uint64_t directoryOffset,
                     const SearchName& name, bool wantDirectory, ArchiveFileEntry* found) {
    ArchiveDirectoryEntry directory;
    if (!ReadDirectoryEntry(reader, directoryOffset, &directory)) return false;
    for (std::uint64_t i = 0; i < directory.entryCount; ++i) {
        ArchiveFileEntry entry;
        if (!ReadFileEntry(reader, directory.firstEntryOffset + i * sizeof entry, &entry)) {
            return false;
        }
        bool isDirectory = (entry.attributes & kArchiveDirectoryAttribute) != 0;
        if (isDirectory == wantDirectory && NameMatches(reader, entry, name)) {
            *found = entry;
            return true;
        }
    }
    return false;
}

enum class Walk { Whole, Stopped, Failed };

// Walks a path with separators from `directory` through its folders. Whole: every component is
// a folder. Stopped: `*stop` points at the first component that is not, whose search name is in
// `name`; `*directory` is the folder reached.
Walk WalkFolders(const ArchiveReader* reader, const unsigned char* path, std::uint64_t* directory,
                 SearchName* name, const unsigned char** stop) {
    const std::int32_t charset = reader->charset;
    const unsigned char* p = path;
    int length;
    if (IsSeparatorCode(CharAt(p, charset, &length))) {
        *directory = 0;
        p += length;
    }
    for (;;) {
        if (AtEnd(p, charset)) return Walk::Whole;
        int bytes = MakeArchiveSearchName(charset, p, name->bytes, sizeof name->bytes, &name->words,
                                          &name->sum);
        if (bytes < 0) return Walk::Failed;
        ArchiveFileEntry entry;
        if (!FindInDirectory(reader, *directory, *name, true, &entry)) {
            *stop = p;
            return Walk::Stopped;
        }
        *directory = entry.dataOffset;
        p += bytes;
        if (IsSeparatorCode(CharAt(p, charset, &length))) p += length;
    }
}

}  // namespace

int MakeArchiveSearchName(std::int32_t charset, const void* text, unsigned char* out,
                          std::size_t outBytes, std::uint16_t* words, std::uint16_t* sum) {
    const auto* p = static_cast<const unsigned char*>(text);
    std::size_t read = 0;
    std::size_t written = 0;
    for (;;) {
        int length;
        std::uint32_t code = CharAt(p + read, charset, &length);
        if (code == 0 || IsSeparatorCode(code)) break;
        if (written + static_cast<std::size_t>(length) + 4 > outBytes) return -1;
        if (code >= 'a' && code <= 'z') {
            EncodeCharCode(code - ('a' - 'A'), charset, out + written, length);
        } else {
            std::memcpy(out + written, p + read, static_cast<std::size_t>(length));
        }
        read += static_cast<std::size_t>(length);
        written += static_cast<std::size_t>(length);
    }
    std::size_t padding = 4 - written % 4;
    std::memset(out + written, 0, padding);
    written += padding;
    if (written / 4 > 0xFFFF) return -1;
    std::uint16_t total = 0;
    for (std::size_t i = 0; i < written; ++i) total = static_cast<std::uint16_t>(total + out[i]);
    if (words) *words = static_cast<std::uint16_t>(written / 4);
    if (sum) *sum = total;
    return static_cast<int>(read);
}

int ChangeArchiveDirectory(ArchiveReader* reader, const void* path, int restoreOnFailure,
                           unsigned char* searchName) {
    if (!reader || !path || !reader->head) return -1;
    CompleteLoad(reader);
    const auto* p = static_cast<const unsigned char*>(path);
    const std::int32_t charset = reader->charset;
    if (IsText(p, charset, ".")) return 0;
    if (IsText(p, charset, "\\") || IsText(p, charset, "/")) {
        reader->currentDirectory = 0;
        return 0;
    }
    if (IsText(p, charset, "..")) {
        ArchiveDirectoryEntry current;
        if (!ReadDirectoryEntry(reader, reader->currentDirectory, &current) ||
            current.parentOffset == kArchiveNone) {
            return -1;
        }
        ArchiveDirectoryEntry parent;
        if (!ReadDirectoryEntry(reader, current.parentOffset, &parent)) return -1;
        reader->currentDirectory = current.parentOffset;
        return 0;
    }
    SearchName name{};
    if (!ContainsSeparator(p, charset)) {
        if (MakeArchiveSearchName(charset, p, name.bytes, sizeof name.bytes, &name.words,
                                  &name.sum) < 0) {
            return -1;
        }
        if (searchName) std::memcpy(searchName, name.bytes, std::size_t{name.words} * 4);
        ArchiveFileEntry entry;
        if (!FindInDirectory(reader, reader->currentDirectory, name, true, &entry)) return -1;
        reader->currentDirectory = entry.dataOffset;
        return 0;
    }
    std::uint64_t directory = reader->currentDirectory;
    const unsigned char* stop = nullptr;
    Walk walk = WalkFolders(reader, p, &directory, &name, &stop);
    if (searchName && walk != Walk::Failed) {
        std::memcpy(searchName, name.bytes, std::size_t{name.words} * 4);
    }
    if (walk == Walk::Whole) {
        reader->currentDirectory = directory;
        return 0;
    }
    // Not restoring leaves the folders that were entered before the one that is missing.
    if (!restoreOnFailure && walk == Walk::Stopped) reader->currentDirectory = directory;
    return -1;
}

int FindArchiveFileEntry(ArchiveReader* reader, const void* path, ArchiveFileEntry* entry,
                         std::uint64_t* directoryOut) {
    if (!reader || !path || !reader->head) return -1;
    CompleteLoad(reader);
    const auto* p = static_cast<const unsigned char*>(path);
    const std::int32_t charset = reader->charset;
    std::uint64_t directory = reader->currentDirectory;
    SearchName name{};
    if (ContainsSeparator(p, charset)) {
        const unsigned char* stop = nullptr;
        if (WalkFolders(reader, p, &directory, &name, &stop) != Walk::Stopped) return -1;
        // The component that is not a folder must be the last one: "file/more" names nothing.
        int bytes = MakeArchiveSearchName(charset, stop, name.bytes, sizeof name.bytes, &name.words,
                                          &name.sum);
        if (bytes < 0 || !AtEnd(stop + bytes, charset)) return -1;
    } else if (MakeArchiveSearchName(charset, p, name.bytes, sizeof name.bytes, &name.words,
                                     &name.sum) < 0) {
        return -1;
    }
    ArchiveFileEntry found;
    if (!FindInDirectory(reader, directory, name, false, &found)) return -1;
    if (entry) *entry = found;
    if (directoryOut) *directoryOut = directory;
    return 0;
}

int LocateFileInArchive(ArchiveReader* reader, std::int32_t pathCharset, const void* path,
                        std::uint32_t* position, std::uint32_t* size) {
    if (!reader || !path) return -1;
    unsigned char converted[4096];
    if (pathCharset != reader->charset) {
        if (TranscodeString(path, -1, pathCharset, converted, sizeof converted, reader->charset) <=
            0) {
            return -1;
        }
        path = converted;
    }
    ArchiveFileEntry entry;
    if (FindArchiveFileEntry(reader, path, &entry, nullptr) != 0) return -1;
    if (position) {
        *position = static_cast<std::uint32_t>(reader->header.dataOffset + entry.dataOffset);
    }
    if (size) *size = static_cast<std::uint32_t>(entry.dataSize);
    return 0;
}

// ============================================================================================
// Finding
// ============================================================================================

bool MatchArchivePattern(std::int32_t charset, const void* patternText, const void* nameText) {
    const auto* pattern = static_cast<const unsigned char*>(patternText);
    const auto* name = static_cast<const unsigned char*>(nameText);
    // A star remembers where it stood; a mismatch later lets it take one more character of the
    // name and tries again from there, so "*.PNG" finds "A.B.PNG".
    const unsigned char* starPattern = nullptr;
    const unsigned char* starName = nullptr;
    for (;;) {
        int nameLength, patternLength;
        std::uint32_t n = CharAt(name, charset, &nameLength);
        std::uint32_t c = CharAt(pattern, charset, &patternLength);
        if (c == '*') {
            while (c == '*') {
                pattern += patternLength;
                c = CharAt(pattern, charset, &patternLength);
            }
            starPattern = pattern;
            starName = name;
            continue;
        }
        if (n == 0) {
            return c == 0;  // only stars may be left, and they were skipped above
        }
        if (c != 0 &&
            (c == '?' || (c == n && patternLength == nameLength &&
                          std::memcmp(pattern, name, static_cast<std::size_t>(nameLength)) == 0))) {
            pattern += patternLength;
            name += nameLength;
            continue;
        }
        if (!starPattern) return false;
        int skipped;
        CharAt(starName, charset, &skipped);
        starName += skipped;
        name = starName;
        pattern = starPattern;
    }
}

namespace {

void DotRecord(const char16_t* name, FindFileRecord* record) {
    if (!record) return;
    *record = FindFileRecord{};
    for (int i = 0; name[i]; ++i) record->Name[i] = name[i];
    record->DirectoryFlag = 1;
}

// The next candidate of the search that matches, into the record: 0 / -1 at the end.
int NextMatch(ArchiveFindState* state, FindFileRecord* record) {
    ArchiveReader* reader = state->reader;
    ArchiveDirectoryEntry directory;
    if (!ReadDirectoryEntry(reader, state->directory, &directory)) return -1;
    const std::uint64_t count = directory.entryCount;
    const bool root = directory.parentOffset == kArchiveNone;
    const std::int32_t charset = reader->charset;
    while (state->nextIndex < count + (root ? 1 : 2)) {
        std::uint64_t index = state->nextIndex++;
        if (index >= count) {
            // "." and ".." in the archive's character set.
            unsigned char dots[16] = {};
            int unit = EncodeCharCode('.', charset, dots, 8);
            if (index > count) EncodeCharCode('.', charset, dots + unit, 8);
            if (!MatchArchivePattern(charset, state->pattern, dots)) continue;
            DotRecord(index == count ? u"." : u"..", record);
            return 0;
        }
        ArchiveFileEntry entry;
        NameRecord name;
        if (!ReadFileEntry(reader, directory.firstEntryOffset + index * sizeof entry, &entry) ||
            !ReadNameRecord(reader, entry.nameOffset, &name)) {
            return -1;
        }
        if (!MatchArchivePattern(charset, state->pattern, name.upper)) continue;
        if (record) {
            *record = FindFileRecord{};
            TranscodeString(name.stored, -1, charset, record->Name, sizeof record->Name,
                            CharEncoding::Utf16Le);
            record->DirectoryFlag = (entry.attributes & kArchiveDirectoryAttribute) ? 1 : 0;
            record->Size = static_cast<std::int64_t>(entry.dataSize);
            FileTimeToLocalDateTime(entry.creationTime, record->CreationTime);
            FileTimeToLocalDateTime(entry.lastWriteTime, record->LastWriteTime);
        }
        return 0;
    }
    return -1;
}

// Upper-cases ASCII letters of a text in place.
void UpperCaseAscii(unsigned char* text, std::int32_t charset) {
    for (;;) {
        int length;
        std::uint32_t code = CharAt(text, charset, &length);
        if (code == 0) return;
        if (code >= 'a' && code <= 'z') EncodeCharCode(code - ('a' - 'A'), charset, text, length);
        text += length;
    }
}

}  // namespace

FileSearchValue ArchiveFindFirst(ArchiveReader* reader, const void* pattern,
                                 FindFileRecord* record) {
    if (!reader || !pattern || !reader->head) return -1;
    CompleteLoad(reader);
    const std::int32_t charset = reader->charset;
    const auto* text = static_cast<const unsigned char*>(pattern);
    // Split at the last '\\', '/' or ':'.
    const unsigned char* split = nullptr;
    int splitLength = 0;
    std::size_t total = 0;
    for (const unsigned char* p = text;;) {
        int length;
        std::uint32_t code = CharAt(p, charset, &length);
        if (code == 0) {
            total = static_cast<std::size_t>(p - text);
            break;
        }
        if (IsSeparatorCode(code) || code == ':') {
            split = p;
            splitLength = length;
        }
        p += length;
    }
    auto* state = static_cast<ArchiveFindState*>(DX_ALLOC_ZEROED(sizeof(ArchiveFindState)));
    if (!state) return -1;
    state->reader = reader;
    const unsigned char* namePattern = split ? split + splitLength : text;
    std::size_t nameBytes = total - static_cast<std::size_t>(namePattern - text);
    int unit = UnitBytesOfCharCode(charset);
    if (unit <= 0) unit = 1;
    if (nameBytes + 4 > sizeof state->pattern) {
        DX_FREE(state);
        return -1;
    }
    std::memcpy(state->pattern, namePattern, nameBytes);
    UpperCaseAscii(state->pattern, charset);
    state->directory = reader->currentDirectory;
    if (split) {
        // The folder; a pattern that starts with its only separator searches the root.
        unsigned char folder[sizeof state->pattern] = {};
        std::size_t folderBytes = static_cast<std::size_t>(split - text);
        if (folderBytes + 4 > sizeof folder) {
            DX_FREE(state);
            return -1;
        }
        std::memcpy(folder, text, folderBytes);
        if (folderBytes == 0) std::memcpy(folder, split, static_cast<std::size_t>(splitLength));
        UpperCaseAscii(folder, charset);
        std::uint64_t saved = reader->currentDirectory;
        int changed = ChangeArchiveDirectory(reader, folder, 1, nullptr);
        state->directory = reader->currentDirectory;
        reader->currentDirectory = saved;
        if (changed != 0) {
            DX_FREE(state);
            return -1;
        }
    }
    if (NextMatch(state, record) != 0) {
        DX_FREE(state);
        return -1;
    }
    return reinterpret_cast<FileSearchValue>(state);
}

int ArchiveFindNext(FileSearchValue search, FindFileRecord* record) {
    if (search == -1 || search == 0) return -1;
    return NextMatch(reinterpret_cast<ArchiveFindState*>(search), record);
}

int ArchiveFindClose(FileSearchValue search) {
    if (search == -1 || search == 0) return -1;
    DX_FREE(reinterpret_cast<ArchiveFindState*>(search));
    return 0;
}

}  // namespace ZiDaz
