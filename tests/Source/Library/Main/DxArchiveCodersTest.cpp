#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "Main/DxArchive_.h"

namespace {

using Bytes = std::vector<unsigned char>;
using namespace ZiDaz;

void PutLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// An LZ stream around a body.
Bytes LzStream(std::uint32_t decoded, unsigned char escape, const Bytes& body) {
    Bytes out;
    PutLe32(out, decoded);
    PutLe32(out, static_cast<std::uint32_t>(body.size() + 9));
    out.push_back(escape);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A test packer: greedy matches over a window, every token kind the format has.
Bytes LzEncode(const Bytes& data, unsigned char escape) {
    Bytes body;
    std::size_t i = 0;
    while (i < data.size()) {
        std::size_t bestLength = 0, bestDistance = 0;
        std::size_t window = i < 70000 ? i : 70000;
        for (std::size_t d = 1; d <= window; d += (d < 64 ? 1 : 97)) {
            std::size_t n = 0;
            while (i + n < data.size() && n < 8191 + 4 && data[i + n] == data[i - d + n]) ++n;
            if (n > bestLength) {
                bestLength = n;
                bestDistance = d;
            }
        }
        if (bestLength >= 4) {
            std::size_t l = bestLength - 4;
            std::size_t dist = bestDistance - 1;
            unsigned int field = dist < 0x100 ? 0 : dist < 0x10000 ? 1 : 2;
            unsigned int e = static_cast<unsigned int>((l & 31) << 3) | (l >= 32 ? 4 : 0) | field;
            body.push_back(escape);
            body.push_back(static_cast<unsigned char>(e >= escape ? e + 1 : e));
            if (l >= 32) body.push_back(static_cast<unsigned char>(l >> 5));
            for (unsigned int k = 0; k <= field; ++k)
                body.push_back(static_cast<unsigned char>(dist >> (8 * k)));
            i += bestLength;
        } else {
            body.push_back(data[i]);
            if (data[i] == escape) body.push_back(escape);
            ++i;
        }
    }
    return LzStream(static_cast<std::uint32_t>(data.size()), escape, body);
}

TEST(ArchiveLz, DecodesLiteralsEscapesAndCopies) {
    const unsigned char E = 0x40;
    // c = E + 1 stands for e = E = 0x40: length 8 + 4 = 12, one distance byte 8 -> distance 9.
    Bytes nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes repeated = nine;
    for (int k = 0; k < 12; ++k) repeated.push_back(repeated[repeated.size() - 9]);
    Bytes nineBody = nine;
    nineBody.insert(nineBody.end(), {E, E + 1, 8});
    // e = 0x0C | 0x04 with x = 2: length 1 + (2 << 5) + 4 = 69, distance 1.
    Bytes long69(70, 'q');
    struct Case {
        const char* name;
        Bytes body;
        Bytes expected;
    };
    const Case cases[] = {
        {"E E is the literal E", {E, E}, {E}},
        {"distance 1, length 6", {'a', E, 2 << 3, 0}, Bytes(7, 'a')},
        {"c = E + 1 means e = E", nineBody, repeated},
        {"length extension byte", {'q', E, (1 << 3) | 4, 2, 0}, long69},
        {"two-byte distance",
         {'x', 'y', 'z', 'w', E, 0x01, 3, 0},
         {'x', 'y', 'z', 'w', 'x', 'y', 'z', 'w'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = LzStream(static_cast<std::uint32_t>(c.expected.size()), E, c.body);
        EXPECT_EQ(DecodeArchiveLz(stream.data(), stream.size(), nullptr, 0),
                  static_cast<std::int64_t>(c.expected.size()));
        Bytes out(c.expected.size());
        ASSERT_EQ(DecodeArchiveLz(stream.data(), stream.size(), out.data(), out.size()),
                  static_cast<std::int64_t>(c.expected.size()));
        EXPECT_EQ(out, c.expected);
    }
}

TEST(ArchiveLz, RoundTripsThroughATestPacker) {
    std::mt19937 random(7);
    for (unsigned char escape : {0x00, 0x7F, 0xFF}) {
        Bytes data;
        while (data.size() < 100000) {  // runs, repeats near and far, and noise
            int kind = static_cast<int>(random() % 4);
            std::size_t n = 1 + random() % 400;
            for (std::size_t k = 0; k < n; ++k) {
                if (kind == 0) data.push_back(static_cast<unsigned char>(random()));
                if (kind == 1) data.push_back(escape);
                if (kind == 2 && data.size() > 300) data.push_back(data[data.size() - 300]);
                if (kind == 3 && data.size() > 66000) data.push_back(data[data.size() - 66000]);
            }
        }
        Bytes stream = LzEncode(data, escape);
        EXPECT_LT(stream.size(), data.size());
        Bytes out(data.size());
        ASSERT_EQ(DecodeArchiveLz(stream.data(), stream.size(), out.data(), out.size()),
                  static_cast<std::int64_t>(data.size()));
        EXPECT_TRUE(out == data);
    }
}

TEST(ArchiveLz, RejectsDamagedStreams) {
    const unsigned char E = 0x40;
    Bytes good = LzStream(7, E, {'a', E, 2 << 3, 0});
    Bytes out(64);
    struct Case {
        const char* name;
        Bytes stream;
        std::size_t capacity;
    };
    Bytes longer = good;
    longer[4] = 200;  // encoded size beyond the source
    const Case cases[] = {
        {"header only", Bytes(good.begin(), good.begin() + 8), 64},
        {"encoded size past the source", longer, 64},
        {"decoded size above the destination", good, 6},
        {"distance before the start", LzStream(5, E, {'a', E, 0 << 3, 5}), 64},
        {"distance field code 3", LzStream(5, E, {'a', E, 3, 0, 0, 0, 0}), 64},
        {"escape at the end", LzStream(2, E, {'a', E}), 64},
        {"distance field cut", LzStream(5, E, {'a', E, 1, 0}), 64},
        {"copy past the stated size", LzStream(3, E, {'a', E, 2 << 3, 0}), 64},
        {"body shorter than the stated size", LzStream(9, E, {'a', 'b'}), 64},
        {"literal past the stated size", LzStream(1, E, {'a', 'b'}), 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeArchiveLz(c.stream.data(), c.stream.size(), out.data(), c.capacity), -1);
    }
    EXPECT_EQ(DecodeArchiveLz(good.data(), 3, nullptr, 0), -1);
}

// --- Huffman ------------------------------------------------------------------------------

class MsbWriter {
  public:
    void Put(std::uint64_t value, unsigned int bits) {
        for (unsigned int i = bits; i-- > 0;) {
            if (used_ % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= static_cast<unsigned char>(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    Bytes bytes;

  private:
    std::size_t used_ = 0;
};

unsigned int BitsFor(std::uint64_t value) {  // the k of a (2k + 2)-bit field
    unsigned int k = 0;
    while (value >> (2 * k + 2)) ++k;
    return k;
}

// A test packer with the format's tree rules (the decoder must agree with it bit for bit).
Bytes HuffmanEncode(const Bytes& data, bool zeroWeights = false) {
    std::uint64_t counts[256] = {};
    for (unsigned char c : data) ++counts[c];
    std::uint16_t weights[256];
    for (int i = 0; i < 256; ++i) {
        weights[i] =
            zeroWeights ? 0 : static_cast<std::uint16_t>(counts[i] > 65535 ? 65535 : counts[i]);
    }
    MsbWriter header;
    std::uint64_t size = data.size();
    unsigned int sizeBits = 1;
    while (size >> sizeBits) ++sizeBits;
    header.Put(sizeBits - 1, 6);
    header.Put(size, sizeBits);
    header.Put(2, 6);
    header.Put(5, 3);  // the skipped value
    header.Put(BitsFor(weights[0]), 3);
    header.Put(0, 1);
    header.Put(weights[0], 2 * BitsFor(weights[0]) + 2);
    for (int i = 1; i < 256; ++i) {
        int diff = weights[i] - weights[i - 1];
        std::uint64_t magnitude = static_cast<std::uint64_t>(diff < 0 ? -diff : diff);
        header.Put(BitsFor(magnitude), 3);
        header.Put(diff < 0 ? 1 : 0, 1);
        header.Put(magnitude, 2 * BitsFor(magnitude) + 2);
    }
    struct Node {
        std::uint64_t weight;
        int parent;
    } nodes[511];
    for (int i = 0; i < 256; ++i) nodes[i] = {weights[i], -1};
    int bitOf[511] = {};
    for (int made = 256; made < 511; ++made) {
        int pick[2] = {-1, -1};
        for (int which = 0; which < 2; ++which) {
            for (int i = 0; i < made; ++i) {
                if (nodes[i].parent != -1 || i == pick[0]) continue;
                if (pick[which] == -1 || nodes[i].weight < nodes[pick[which]].weight)
                    pick[which] = i;
            }
        }
        nodes[made] = {nodes[pick[0]].weight + nodes[pick[1]].weight, -1};
        nodes[pick[0]].parent = made;
        nodes[pick[1]].parent = made;
        bitOf[pick[0]] = 0;
        bitOf[pick[1]] = 1;
    }
    Bytes out = header.bytes;
    std::size_t used = 0;
    std::size_t start = out.size();
    for (unsigned char c : data) {
        std::vector<int> code;
        for (int node = c; node != 510; node = nodes[node].parent) code.push_back(bitOf[node]);
        for (auto bit = code.rbegin(); bit != code.rend(); ++bit) {
            if (used % 8 == 0) out.push_back(0);
            if (*bit) out[start + used / 8] |= static_cast<unsigned char>(1 << (used % 8));
            ++used;
        }
    }
    return out;
}

TEST(ArchiveHuffman, RoundTripsSkewedAndFlatData) {
    std::mt19937 random(3);
    std::vector<Bytes> inputs;
    inputs.push_back(Bytes{});
    inputs.push_back(Bytes{42});
    inputs.push_back(Bytes(5000, 'z'));
    Bytes text;
    for (int i = 0; i < 30000; ++i)
        text.push_back(static_cast<unsigned char>("eeeettaoinshrdlu"[random() % 16] +
                                                  (random() % 50 == 0 ? 100 : 0)));
    inputs.push_back(text);
    Bytes noise(20000);
    for (auto& b : noise) b = static_cast<unsigned char>(random());
    inputs.push_back(noise);
    for (const Bytes& data : inputs) {
        SCOPED_TRACE(data.size());
        Bytes stream = HuffmanEncode(data);
        EXPECT_EQ(DecodeArchiveHuffman(stream.data(), stream.size(), nullptr, 0),
                  static_cast<std::int64_t>(data.size()));
        Bytes out(data.size() + 1, 0xEE);
        ASSERT_EQ(DecodeArchiveHuffman(stream.data(), stream.size(), out.data(), data.size()),
                  static_cast<std::int64_t>(data.size()));
        out.pop_back();
        EXPECT_TRUE(out == data);
    }
}

TEST(ArchiveHuffman, AllZeroWeightsGiveEightBitCodes) {
    Bytes data = {0, 1, 2, 255, 128};
    Bytes stream = HuffmanEncode(data, true);
    Bytes empty = HuffmanEncode(Bytes{}, true);
    Bytes out(5);
    ASSERT_EQ(DecodeArchiveHuffman(stream.data(), stream.size(), out.data(), out.size()), 5);
    EXPECT_EQ(out, data);
    // The header of the empty block is 2 bytes shorter (its size field is 1 bit, not 3), so
    // five 8-bit codes make 5 bytes: 5 + 0 or 1 byte of header difference.
    std::size_t codes = stream.size() - empty.size();
    EXPECT_GE(codes, 5u);
    EXPECT_LE(codes, 6u);
}

TEST(ArchiveHuffman, RejectsTruncatedAndOversizedStreams) {
    Bytes data(3000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * i % 13);
    Bytes stream = HuffmanEncode(data);
    Bytes out(data.size());
    for (std::size_t cut :
         {std::size_t{0}, std::size_t{1}, std::size_t{20}, stream.size() / 2, stream.size() - 1}) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(DecodeArchiveHuffman(stream.data(), cut, out.data(), out.size()), -1);
    }
    EXPECT_EQ(DecodeArchiveHuffman(stream.data(), stream.size(), out.data(), out.size() - 1), -1);
}

// --- CRC, keys, Base64 --------------------------------------------------------------------

TEST(ArchiveCrcAndKeys, KnownValuesAndKeyPositions) {
    EXPECT_EQ(ComputeCrc32("abc", 3), 0x352441C2u);
    EXPECT_EQ(ComputeCrc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(ComputeCrc32("", 0), 0u);
    EXPECT_EQ(UpdateCrc32(ComputeCrc32("1234", 4), "56789", 5), 0xCBF43926u);

    unsigned char key[7];
    DeriveArchiveKey("abcdefg", 0, key);
    std::uint32_t even = ComputeCrc32("aceg", 4), odd = ComputeCrc32("bdf", 3);
    const unsigned char expected[7] = {
        static_cast<unsigned char>(even),       static_cast<unsigned char>(even >> 8),
        static_cast<unsigned char>(even >> 16), static_cast<unsigned char>(even >> 24),
        static_cast<unsigned char>(odd),        static_cast<unsigned char>(odd >> 8),
        static_cast<unsigned char>(odd >> 16)};
    EXPECT_EQ(std::memcmp(key, expected, 7), 0);
    unsigned char explicitLength[7];
    DeriveArchiveKey("abcdefgXYZ", 7, explicitLength);
    EXPECT_EQ(std::memcmp(key, explicitLength, 7), 0);
    unsigned char shortKey[7], lengthened[7];
    DeriveArchiveKey("ab", 0, shortKey);
    DeriveArchiveKey("abQZTRWMPB", 0, lengthened);
    EXPECT_EQ(std::memcmp(shortKey, lengthened, 7), 0);
    DeriveArchiveKey("", 0, shortKey);
    DeriveArchiveKey("QZTRWMPB", 0, lengthened);
    EXPECT_EQ(std::memcmp(shortKey, lengthened, 7), 0);

    const unsigned char k[7] = {1, 2, 4, 8, 16, 32, 64};
    unsigned char buffer[10] = {};
    ApplyArchiveKey(buffer, 10, 5, k);
    const unsigned char positions[10] = {32, 64, 1, 2, 4, 8, 16, 32, 64, 1};
    EXPECT_EQ(std::memcmp(buffer, positions, 10), 0);
    ApplyArchiveKey(buffer, 10, 5, k);
    EXPECT_EQ(std::memcmp(buffer, Bytes(10, 0).data(), 10), 0);
    // A long buffer from an odd position equals byte-by-byte application.
    Bytes big(1000, 0x5A), single(1000, 0x5A);
    ApplyArchiveKey(big.data(), 1000, 123456789012LL, k);
    for (int j = 0; j < 1000; ++j) ApplyArchiveKey(&single[j], 1, 123456789012LL + j, k);
    EXPECT_TRUE(big == single);
}

TEST(ArchiveCrcAndKeys, Crc32EqualsZlibOnRandomBuffers) {
    std::mt19937 random(77);
    for (std::size_t size :
         {std::size_t{1}, std::size_t{7}, std::size_t{64}, std::size_t{1000}, std::size_t{65537}}) {
        Bytes data(size);
        for (auto& b : data) b = static_cast<unsigned char>(random());
        EXPECT_EQ(ComputeCrc32(data.data(), size), crc32(0, data.data(), static_cast<uInt>(size)))
            << size;
    }
}

TEST(ArchiveBase64, SizeFieldAndBody) {
    // Size 5 as bytes 05 00 00 00: "BQAA" + "AA", then "Hello" (one group + a remainder of 2).
    const char text[] = "BQAAAASGVsbG8";
    std::size_t length = sizeof text - 1;
    EXPECT_EQ(DecodeBase64WithSize(text, 6, nullptr, 0), 5);
    char out[8] = {};
    ASSERT_EQ(DecodeBase64WithSize(text, length, out, sizeof out), 5);
    EXPECT_EQ(std::string(out, 5), "Hello");
    EXPECT_EQ(DecodeBase64WithSize(text, length - 1, out, sizeof out), -1);  // text cut
    EXPECT_EQ(DecodeBase64WithSize(text, length, out, 4), -1);               // output too small
    EXPECT_EQ(DecodeBase64WithSize(text, 5, nullptr, 0), -1);
}

}  // namespace
