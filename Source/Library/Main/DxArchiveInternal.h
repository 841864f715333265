// What the archive reader, its streams and the path layer share among themselves: bounded access
// to the decoded head and the derivation of a file's key.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxArchive_.h"

namespace ZiDaz::archive_detail {

inline constexpr std::size_t kSearchNameBytes = 1536;
// A file's key text: the key string, the file's name and its folders' names.
inline constexpr std::size_t kFileKeyTextBytes = 2048;
inline constexpr std::size_t kFileKeyTextLimit = 2040;

bool AddChecked(std::uint64_t a, std::uint64_t b, std::uint64_t* sum);
// Whether [offset, offset + length) lies inside [0, size).
bool RangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t size);

// Entries and names read out of the head; false when they do not lie inside it.
bool ReadFileEntry(const ArchiveReader* reader, std::uint64_t offset, ArchiveFileEntry* entry);
bool ReadDirectoryEntry(const ArchiveReader* reader, std::uint64_t offset,
                        ArchiveDirectoryEntry* entry);
struct NameRecord {
    std::uint16_t words;
    std::uint16_t sum;
    const unsigned char* upper;   // words x 4 bytes, zero-padded
    const unsigned char* stored;  // terminated inside the head
};
bool ReadNameRecord(const ArchiveReader* reader, std::uint64_t offset, NameRecord* record);
// Bytes of the upper-cased name before its padding.
std::size_t UpperNameBytes(const NameRecord& record, std::int32_t charset);

// The key of a file in the directory at `directory`.
void DeriveFileKey(const ArchiveReader* reader, const ArchiveFileEntry& entry,
                   std::uint64_t directory, unsigned char key[7]);

void WaitMilliseconds(unsigned int ms);
// Closes a plain read-only stream and frees its record.
void ClosePlainStream(PlainFileStream* stream);

}  // namespace ZiDaz::archive_detail
