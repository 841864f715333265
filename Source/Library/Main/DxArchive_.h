// The archive's small coders: the LZ and Huffman decoders, CRC-32, the 7-byte key and its
// application, and Base64 text that carries its own size. All work on memory buffers and check
// their input against the sizes given: malformed data gives -1, never a read or write outside.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZiDaz {

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

}  // namespace ZiDaz
