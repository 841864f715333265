// Archives: one file that holds a packed folder tree ("DX", version 8), its small coders (the LZ
// and Huffman decoders, CRC-32, the 7-byte key and its application, Base64 text that carries its
// own size), the reader of one archive, the stream that reads one file inside it, and the path
// layer that finds a folder of an ordinary path packed as an archive file beside it.
//
// Everything here checks what it reads against the sizes it was given: a damaged archive is
// refused with -1 when it is opened, and no table, name or stored block is ever read outside the
// archive or written outside its destination.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxFile.h"

namespace ZiDaz {

struct PlainFileStream;

// The default key text, used to lengthen key texts shorter than 4 bytes.
inline constexpr char kDefaultArchiveKeyString[] = "QZTRWMPB";

// The decoded size. With a null destination only the header is read; otherwise the stream must
// lie within sourceSize, decode to exactly its stated size, and fit destinationSize.
std::int64_t DecodeArchiveLz(const void* source, std::size_t sourceSize, void* destination,
                             std::size_t destinationSize);
std::int64_t DecodeArchiveHuffman(const void* source, std::size_t sourceSize, void* destination,
                                  std::size_t destinationSize);

std::uint32_t ComputeCrc32(const void* bytes, std::size_t length);
// Continues a CRC-32 over more bytes (start from 0), as zlib's crc32 does.
std::uint32_t UpdateCrc32(std::uint32_t crc, const void* bytes, std::size_t length);

// length 0: the text ends at its zero byte.
void DeriveArchiveKey(const char* text, std::size_t length, unsigned char key[7]);
// XORs byte j with key[(position + j) mod 7]; applying it twice restores the bytes.
void ApplyArchiveKey(void* buffer, std::int64_t length, std::int64_t position,
                     const unsigned char key[7]);

// The size stored in the first six characters; with an output, the bytes too. -1 when the text
// is shorter than the size needs or the output is too small.
std::int64_t DecodeBase64WithSize(const char* text, std::size_t textLength, void* output,
                                  std::size_t outputSize);

// ============================================================================================
// The format
// ============================================================================================

inline constexpr std::uint16_t kArchiveMagic = 0x5844;  // "DX"
inline constexpr std::uint16_t kArchiveVersion = 8;
inline constexpr std::uint64_t kArchiveNone = ~std::uint64_t{0};
inline constexpr std::uint32_t kArchiveFlagNoKey = 1;      // nothing is scrambled
inline constexpr std::uint32_t kArchiveFlagPlainHead = 2;  // the head is not compressed
inline constexpr std::uint64_t kArchiveDirectoryAttribute = 0x10;
inline constexpr std::uint8_t kArchiveHuffmanWhole = 255;  // Huffman covers whole files

// The first 64 bytes of an archive (never scrambled). All fields little-endian.
struct ArchiveHeader {
    std::uint16_t magic;
    std::uint16_t version;
    std::uint32_t headSize;              // bytes of the decoded head
    std::uint64_t dataOffset;            // where the file data begins
    std::uint64_t headOffset;            // where the stored head begins
    std::uint64_t fileTableOffset;       // inside the decoded head
    std::uint64_t directoryTableOffset;  // inside the decoded head
    std::uint32_t charset;               // CharEncoding of the names
    std::uint32_t flags;                 // kArchiveFlag...; the high 16 bits: a key generation
    std::uint8_t huffmanKilobytes;       // k; kArchiveHuffmanWhole = whole files
    std::uint8_t reserved[15];
};
static_assert(sizeof(ArchiveHeader) == 64);

// One entry of the file table (72 bytes).
struct ArchiveFileEntry {
    std::uint64_t nameOffset;    // in the name table (the head's start)
    std::uint64_t attributes;    // 0x10: a directory
    std::uint64_t creationTime;  // file times: 100-ns units since 1601, UTC
    std::uint64_t lastAccessTime;
    std::uint64_t lastWriteTime;
    std::uint64_t dataOffset;   // from the header's data offset; a directory: its directory entry
    std::uint64_t dataSize;     // D, the decoded size
    std::uint64_t lzSize;       // L, or kArchiveNone
    std::uint64_t huffmanSize;  // H, or kArchiveNone
};
static_assert(sizeof(ArchiveFileEntry) == 72);

// One entry of the directory table (32 bytes); the root is at offset 0.
struct ArchiveDirectoryEntry {
    std::uint64_t fileEntryOffset;  // its own file entry
    std::uint64_t parentOffset;     // kArchiveNone for the root
    std::uint64_t entryCount;
    std::uint64_t firstEntryOffset;  // in the file table; the entries are consecutive
};
static_assert(sizeof(ArchiveDirectoryEntry) == 32);

// A name record of the name table: n (16 bits, the words of the upper-cased name), a 16-bit sum of
// its bytes, the upper-cased name zero-padded to n words, then the name as stored, terminated.

// The size of a file's stored block for the header's Huffman kilobytes k, or kArchiveNone when
// its sizes cannot be stored (an overflow, or a partial block whose input is too short).
std::uint64_t ArchiveStoredBlockSize(const ArchiveFileEntry& entry, std::uint8_t huffmanKilobytes);

// ============================================================================================
// The reader
// ============================================================================================

struct ArchiveReader {
    ArchiveHeader header;
    std::int32_t charset;     // of the names, as used
    PlainFileStream* stream;  // file mode
    unsigned char* image;     // memory modes
    unsigned char* head;      // the decoded head
    std::uint64_t headSize;
    std::uint64_t archiveSize;       // of the file or the image
    std::uint64_t currentDirectory;  // offset in the directory table
    char16_t path[1024];             // the archive's path; a memory archive's folder path
    int noKey;
    unsigned char key[7];  // the archive key
    char keyString[64];
    int keyStringLength;
    int imageMode;      // the archive is held in memory
    int callerImage;    // ... given by the caller
    int imageCopied;    // ... and copied
    int leftScrambled;  // the caller's image stays as it was given
    void* sourceImage;
    int loadPending;  // a file-to-memory load has not completed
    PlainFileStream* loadingStream;
};

// A search inside an archive (a heap record; the search value of ArchiveFindFirst).
struct ArchiveFindState {
    ArchiveReader* reader;
    unsigned char pattern[1536];  // upper-cased, in the archive's character set
    std::uint64_t directory;      // offset of the directory searched
    std::uint64_t nextIndex;
};

int InitArchiveReader(ArchiveReader* reader);
// The key string: the given one (at most 63 bytes used), else kDefaultArchiveKeyString.
int OpenArchiveFromFile(ArchiveReader* reader, const char16_t* path, const char* keyString);
int OpenArchiveFromFileToMemory(ArchiveReader* reader, const char16_t* path, const char* keyString,
                                int asynchronous);
// copy: work on a copy of the image. leaveUnchanged: never write to the caller's image (stored
// blocks are then unscrambled as they are read). The caller's image must outlive the reader.
int OpenArchiveInMemory(ArchiveReader* reader, const void* image, std::size_t size, int copy,
                        int leaveUnchanged, const char* keyString, const char16_t* folderPath);
int CloseArchive(ArchiveReader* reader);
int CloseArchiveReader(ArchiveReader* reader);
int CheckArchiveIdle(ArchiveReader* reader);
void* GetArchiveMemoryImage(ArchiveReader* reader);
// Position (the header's data offset + the entry's) and size of a file: 0 / -1.
int LocateFileInArchive(ArchiveReader* reader, std::int32_t pathCharset, const void* path,
                        std::uint32_t* position, std::uint32_t* size);
// searchName (at least 1,536 bytes) receives the search name of the last component tried.
int ChangeArchiveDirectory(ArchiveReader* reader, const void* path, int restoreOnFailure,
                           unsigned char* searchName);
// Finds the file a path names: the entry and the offset of the directory that holds it: 0 / -1.
int FindArchiveFileEntry(ArchiveReader* reader, const void* path, ArchiveFileEntry* entry,
                         std::uint64_t* directory);
// Patterns and records as the plain searches (Main/Windows/DxFileWin.h); the pattern is in the
// archive's character set.
FileSearchValue ArchiveFindFirst(ArchiveReader* reader, const void* pattern,
                                 FindFileRecord* record);
int ArchiveFindNext(FileSearchValue search, FindFileRecord* record);
int ArchiveFindClose(FileSearchValue search);
// Combines every stored block under a directory with its file key, in place (image mode, keyed).
int UnscrambleArchiveImage(ArchiveReader* reader, std::uint64_t directory);
// The search name of the path component at text: upper-cased, zero-padded to whole words. out
// receives the words (at most outBytes); returns the component's byte length, or -1 when the
// padded name does not fit.
int MakeArchiveSearchName(std::int32_t charset, const void* text, unsigned char* out,
                          std::size_t outBytes, std::uint16_t* words, std::uint16_t* sum);
// Whether an upper-cased name matches a pattern: '?' one character, '*' any run.
bool MatchArchivePattern(std::int32_t charset, const void* pattern, const void* name);

// ============================================================================================
// A file inside an archive
// ============================================================================================

struct ArchiveStream {
    ArchiveReader* reader;
    ArchiveFileEntry entry;
    unsigned char* decoded;    // the whole decoded file (compressed files)
    unsigned char* temporary;  // a stored block being read
    PlainFileStream* file;     // a private stream on the archive (file mode)
    int noKey;
    unsigned char key[7];
    int endReached;
    std::int64_t position;
    int asynchronous;
    int pending;  // 0 none; 1 a stored block for decoding; 2 stored bytes for the caller
    std::int64_t readStart;
    unsigned char* pendingDestination;
    std::int64_t pendingLength;
};

// The path is in the archive's character set.
int OpenArchiveStream(ArchiveStream* stream, ArchiveReader* reader, const void* path,
                      int asynchronous);
std::size_t ReadArchiveStream(ArchiveStream* stream, void* buffer, std::size_t bytes);
int SeekArchiveStream(ArchiveStream* stream, std::int64_t offset, int origin);
std::int64_t TellArchiveStream(ArchiveStream* stream);
// -1 once a read found the end, else 0.
int ArchiveStreamEof(ArchiveStream* stream);
int ArchiveStreamIdleCheck(ArchiveStream* stream);
int CloseArchiveStream(ArchiveStream* stream);

// ============================================================================================
// The archive path layer (the default stream function table)
// ============================================================================================

int SetArchiveFileExtension(const char* extension);  // narrow; empty or 64+ characters: "DXA"
int SetArchiveKeyText(const char* keyText);          // null: archives use the default key
int SetArchiveLookupOrder(int order);                // 0 archives first, 1 plain files first
int EnableArchiveLookup(int on);
int LoadArchiveIntoMemory(const char* archivePath, int asynchronous);
int ReleasePreloadedArchive(const char* archivePath);
int StartArchivePathLayer();
int EndArchivePathLayer();
// The layer's table (also registered as the default table by StartArchivePathLayer).
const StreamFunctionTable* GetArchiveStreamFunctions();
// Archives open in the layer and the references one of them holds (-1: not open); for reports
// and tests.
int CountOpenArchives();
int GetArchiveReferenceCount(const char* archivePath);

}  // namespace ZiDaz
