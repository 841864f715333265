#include "Main/DxArchive_.h"

#include <cstring>

namespace ZiDaz {

namespace {

std::uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

// ============================================================================================
// LZ
// ============================================================================================

std::int64_t DecodeArchiveLz(const void* source, std::size_t sourceSize, void* destination,
                             std::size_t destinationSize) {
    if (!source || sourceSize < 9) return -1;
    const auto* in = static_cast<const unsigned char*>(source);
    std::uint32_t decoded = ReadLe32(in);
    std::uint32_t encoded = ReadLe32(in + 4);
    unsigned char escape = in[8];
    if (!destination) return decoded;
    if (encoded < 9 || encoded > sourceSize || decoded > destinationSize) return -1;
    auto* out = static_cast<unsigned char*>(destination);
    const unsigned char* end = in + encoded;
    in += 9;
    std::size_t written = 0;
    while (in < end) {
        unsigned char b = *in++;
        if (b != escape || (in < end && *in == escape)) {
            if (b == escape) ++in;  // E, E: the literal E
            if (written >= decoded) return -1;
            out[written++] = b;
            continue;
        }
        if (in >= end) return -1;
        unsigned int e = *in++;
        if (e > escape) --e;
        std::size_t length = e >> 3;
        if (e & 4) {
            if (in >= end) return -1;
            length += static_cast<std::size_t>(*in++) << 5;
        }
        length += 4;
        unsigned int fieldBytes = (e & 3) + 1;
        if (fieldBytes == 4 || static_cast<std::size_t>(end - in) < fieldBytes) return -1;
        std::size_t distance = 0;
        for (unsigned int i = 0; i < fieldBytes; ++i)
            distance |= static_cast<std::size_t>(in[i]) << (8 * i);
        in += fieldBytes;
        distance += 1;
        if (distance > written || length > decoded - written) return -1;
        unsigned char* to = out + written;
        const unsigned char* from = to - distance;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            // Overlapping: the run repeats the last `distance` bytes; copy in doubling chunks.
            std::size_t done = 0;
            std::size_t chunk = distance;
            while (done < length) {
                std::size_t n = chunk < length - done ? chunk : length - done;
                std::memcpy(to + done, from, n);
                done += n;
                chunk = done;  // everything copied so far repeats with period `distance`
                if (chunk % distance) chunk -= chunk % distance;
            }
        }
        written += length;
    }
    return written == decoded ? static_cast<std::int64_t>(decoded) : -1;
}

// ============================================================================================
// Huffman
// ============================================================================================

namespace {

class MsbBitReader {
  public:
    MsbBitReader(const unsigned char* data, std::size_t size) : data_(data), bits_(size * 8) {}
    bool Read(unsigned int count, std::uint64_t& value) {
        if (count > 64 || bits_ - position_ < count) return false;
        value = 0;
        for (unsigned int i = 0; i < count; ++i, ++position_) {
            value = (value << 1) | ((data_[position_ >> 3] >> (7 - (position_ & 7))) & 1);
        }
        return true;
    }
    bool Skip(std::uint64_t count) {
        if (bits_ - position_ < count) return false;
        position_ += count;
        return true;
    }
    std::size_t NextWholeByte() const { return (position_ + 7) >> 3; }

  private:
    const unsigned char* data_;
    std::uint64_t bits_;
    std::uint64_t position_ = 0;
};

struct HuffmanNode {
    std::uint64_t weight;
    int parent;
    int child[2];
};

constexpr int kLeaves = 256;
constexpr int kNodes = 511;
constexpr int kRoot = kNodes - 1;

}  // namespace

std::int64_t DecodeArchiveHuffman(const void* source, std::size_t sourceSize, void* destination,
                                  std::size_t destinationSize) {
    if (!source) return -1;
    const auto* in = static_cast<const unsigned char*>(source);
    MsbBitReader header(in, sourceSize);
    std::uint64_t a, size, b;
    if (!header.Read(6, a) || !header.Read(static_cast<unsigned int>(a + 1), size)) return -1;
    if (!destination) return static_cast<std::uint32_t>(size);
    if (!header.Read(6, b) || !header.Skip(b + 1)) return -1;
    if (size > destinationSize) return -1;

    HuffmanNode nodes[kNodes];
    std::uint16_t weight = 0;
    for (int value = 0; value < kLeaves; ++value) {
        std::uint64_t k, sign, magnitude;
        if (!header.Read(3, k) || !header.Read(1, sign) ||
            !header.Read(static_cast<unsigned int>(2 * k + 2), magnitude)) {
            return -1;
        }
        if (value == 0) {
            weight = static_cast<std::uint16_t>(magnitude);
        } else if (sign) {
            weight = static_cast<std::uint16_t>(weight - magnitude);
        } else {
            weight = static_cast<std::uint16_t>(weight + magnitude);
        }
        nodes[value] = HuffmanNode{weight, -1, {-1, -1}};
    }
    for (int made = kLeaves; made < kNodes; ++made) {
        int pick[2] = {-1, -1};
        for (int which = 0; which < 2; ++which) {
            for (int i = 0; i < made; ++i) {
                if (nodes[i].parent != -1 || i == pick[0]) continue;
                if (pick[which] == -1 || nodes[i].weight < nodes[pick[which]].weight)
                    pick[which] = i;
            }
        }
        nodes[made] =
            HuffmanNode{nodes[pick[0]].weight + nodes[pick[1]].weight, -1, {pick[0], pick[1]}};
        nodes[pick[0]].parent = made;
        nodes[pick[1]].parent = made;
    }

    // From the root, the next 9 bits (first bit lowest): the node they reach and the bits used.
    struct Jump {
        std::int16_t node;
        std::uint8_t bits;
    };
    Jump table[512];
    for (int index = 0; index < 512; ++index) {
        int node = kRoot;
        int bits = 0;
        while (node >= kLeaves && bits < 9) node = nodes[node].child[(index >> bits++) & 1];
        table[index] = Jump{static_cast<std::int16_t>(node), static_cast<std::uint8_t>(bits)};
    }

    const std::size_t streamStart = header.NextWholeByte();
    if (streamStart > sourceSize && size > 0) return -1;
    const std::uint64_t totalBits =
        (sourceSize - (streamStart < sourceSize ? streamStart : sourceSize)) * 8ull;
    const unsigned char* stream = in + (streamStart < sourceSize ? streamStart : sourceSize);
    std::uint64_t bit = 0;
    auto* out = static_cast<unsigned char*>(destination);
    for (std::uint64_t written = 0; written < size; ++written) {
        int node = kRoot;
        if (totalBits - bit >= 16) {  // two whole bytes available: use the table
            std::size_t byte = static_cast<std::size_t>(bit >> 3);
            unsigned int window = (static_cast<unsigned int>(stream[byte]) |
                                   static_cast<unsigned int>(stream[byte + 1]) << 8) >>
                                  (bit & 7);
            const Jump& jump = table[window & 511];
            node = jump.node;
            bit += jump.bits;
        }
        while (node >= kLeaves) {
            if (bit >= totalBits) return -1;
            node = nodes[node].child[(stream[bit >> 3] >> (bit & 7)) & 1];
            ++bit;
        }
        out[written] = static_cast<unsigned char>(node);
    }
    return static_cast<std::uint32_t>(size);
}

// ============================================================================================
// CRC-32 and keys
// ============================================================================================

std::uint32_t UpdateCrc32(std::uint32_t crc, const void* bytes, std::size_t length) {
    static const auto kTable = [] {
        struct Table {
            std::uint32_t entries[256];
        } table{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table.entries[i] = c;
        }
        return table;
    }();
    crc = ~crc;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < length; ++i) crc = kTable.entries[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t ComputeCrc32(const void* bytes, std::size_t length) {
    return UpdateCrc32(0, bytes, length);
}

void DeriveArchiveKey(const char* text, std::size_t length, unsigned char key[7]) {
    if (!text) text = "";
    if (length == 0) {
        while (text[length]) ++length;
    }
    unsigned char source[4 + sizeof kDefaultArchiveKeyString];
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    if (length < 4) {
        std::memcpy(source, text, length);
        std::memcpy(source + length, kDefaultArchiveKeyString, sizeof kDefaultArchiveKeyString - 1);
        length += sizeof kDefaultArchiveKeyString - 1;
        bytes = source;
    }
    // CRC-32 of the even and of the odd bytes, updated byte by byte without copying.
    std::uint32_t even = 0, odd = 0;
    for (std::size_t i = 0; i < length; i += 2) even = UpdateCrc32(even, bytes + i, 1);
    for (std::size_t i = 1; i < length; i += 2) odd = UpdateCrc32(odd, bytes + i, 1);
    for (int i = 0; i < 4; ++i) key[i] = static_cast<unsigned char>(even >> (8 * i));
    for (int i = 0; i < 3; ++i) key[4 + i] = static_cast<unsigned char>(odd >> (8 * i));
}

void ApplyArchiveKey(void* buffer, std::int64_t length, std::int64_t position,
                     const unsigned char key[7]) {
    if (!buffer || length <= 0) return;
    auto* p = static_cast<unsigned char*>(buffer);
    std::int64_t k = position % 7;
    if (k < 0) k += 7;
    for (std::int64_t j = 0; j < length; ++j) {
        p[j] ^= key[k];
        if (++k == 7) k = 0;
    }
}

// ============================================================================================
// Base64 with size
// ============================================================================================

namespace {

unsigned int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned int>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<unsigned int>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<unsigned int>(c - '0' + 52);
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

}  // namespace

std::int64_t DecodeBase64WithSize(const char* text, std::size_t textLength, void* output,
                                  std::size_t outputSize) {
    if (!text || textLength < 6) return -1;
    unsigned int v[6];
    for (int i = 0; i < 6; ++i) v[i] = Base64Value(text[i]);
    std::uint32_t b0 = (v[0] << 2) | (v[1] >> 4);
    std::uint32_t b1 = ((v[1] & 15) << 4) | (v[2] >> 2);
    std::uint32_t b2 = ((v[2] & 3) << 6) | v[3];
    std::uint32_t b3 = ((v[4] << 2) | (v[5] >> 4)) & 0xFF;
    std::uint32_t size = (b0 & 0xFF) | (b1 & 0xFF) << 8 | (b2 & 0xFF) << 16 | b3 << 24;
    if (!output) return size;
    std::uint64_t groups = size / 3;
    std::uint32_t remainder = size % 3;
    std::uint64_t needed = 6 + groups * 4 + (remainder ? remainder + 1 : 0);
    if (needed > textLength || size > outputSize) return -1;
    auto* out = static_cast<unsigned char*>(output);
    const char* p = text + 6;
    for (std::uint64_t g = 0; g < groups; ++g, p += 4, out += 3) {
        unsigned int a = Base64Value(p[0]), b = Base64Value(p[1]), c = Base64Value(p[2]),
                     d = Base64Value(p[3]);
        out[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        out[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
        out[2] = static_cast<unsigned char>(((c & 3) << 6) | d);
    }
    if (remainder >= 1) {
        unsigned int a = Base64Value(p[0]), b = Base64Value(p[1]);
        out[0] = static_cast<unsigned char>((a << 2) | (b >> 4));
        if (remainder == 2) {
            unsigned int c = Base64Value(p[2]);
            out[1] = static_cast<unsigned char>(((b & 15) << 4) | (c >> 2));
        }
    }
    return size;
}

}  // namespace ZiDaz
