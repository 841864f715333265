// The library's LZ and Huffman coders, inverted: streams that DecodeArchiveLz and
// DecodeArchiveHuffman turn back into the input. Kept apart from the rest of the archive writer
// so that build-time tools can use them without the library.
#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <vector>

#include "tools/archive/ArchiveWriter.h"

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

}  // namespace velk::archive
