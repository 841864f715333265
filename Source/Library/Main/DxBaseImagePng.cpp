// The library's own PNG decoder: it walks the chunks of a PNG file held in memory, inflates all
// image data in one pass into one buffer and reconstructs the rows straight into the base image
// in the library's pixel formats. Interlaced files and files it cannot take are left to the
// libpng reader, which the driver tries next.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "Main/DxBaseImage.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// Deflate never packs more than 1,032 bytes into one, so image data shorter than this share of
// the rows it must fill cannot be complete; such files are refused before anything is allocated.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}

bool IsType(const std::uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

struct PngChunk {
    const std::uint8_t* type;
    const std::uint8_t* data;
    std::uint32_t length;
};

// Steps through the chunks in place from the end of the signature. The CRCs are not looked at.
struct ChunkWalk {
    const std::uint8_t* bytes;
    std::uint64_t size;
    std::uint64_t offset = 8;
    // 1 with the next chunk, 0 at the end of the data, -1 for a chunk that runs past the end.
    int Next(PngChunk* chunk) {
        if (offset == size) return 0;
        if (size - offset < 12) return -1;
        const std::uint32_t length = Be32(bytes + offset);
        if (length > size - offset - 12) return -1;
        chunk->type = bytes + offset + 4;
        chunk->data = bytes + offset + 8;
        chunk->length = length;
        offset += 12 + std::uint64_t(length);
        return 1;
    }
};

// How the stored samples become output pixels.
enum class PngLayout { Gray, GrayKey, Rgb, RgbKey, Palette, GrayAlpha, Rgba };

// Output byte of each stored channel, and what completes a pixel once its channels are in place.
template <PngLayout L>
struct LayoutOf;
template <>
struct LayoutOf<PngLayout::Gray> {
    static constexpr int kChannels = 1, kBytes = 1;
    static constexpr int kOffset[1] = {0};
    static void Finish(std::uint8_t*, const std::uint8_t*) {}
};
template <>
struct LayoutOf<PngLayout::GrayKey> {
    static constexpr int kChannels = 1, kBytes = 4;
    static constexpr int kOffset[1] = {0};
    static void Finish(std::uint8_t* p, const std::uint8_t* key) {
        p[1] = p[2] = p[0];
        p[3] = p[0] == key[0] ? 0 : 255;
    }
};
template <>
struct LayoutOf<PngLayout::Rgb> {
    static constexpr int kChannels = 3, kBytes = 3;
    static constexpr int kOffset[3] = {2, 1, 0};
    static void Finish(std::uint8_t*, const std::uint8_t*) {}
};
template <>
struct LayoutOf<PngLayout::RgbKey> {
    static constexpr int kChannels = 3, kBytes = 4;
    static constexpr int kOffset[3] = {2, 1, 0};
    static void Finish(std::uint8_t* p, const std::uint8_t* key) {
        p[3] = (p[2] == key[0] && p[1] == key[1] && p[0] == key[2]) ? 0 : 255;
    }
};
template <>
struct LayoutOf<PngLayout::Palette> {
    static constexpr int kChannels = 1, kBytes = 1;
    static constexpr int kOffset[1] = {0};
    static void Finish(std::uint8_t*, const std::uint8_t*) {}
};
template <>
struct LayoutOf<PngLayout::GrayAlpha> {
    static constexpr int kChannels = 2, kBytes = 4;
    static constexpr int kOffset[2] = {0, 3};
    static void Finish(std::uint8_t* p, const std::uint8_t*) { p[1] = p[2] = p[0]; }
};
template <>
struct LayoutOf<PngLayout::Rgba> {
    static constexpr int kChannels = 4, kBytes = 4;
    static constexpr int kOffset[4] = {2, 1, 0, 3};
    static void Finish(std::uint8_t*, const std::uint8_t*) {}
};

inline std::uint8_t Paeth(int a, int b, int c) {
    const int pa = std::abs(b - c);
    const int pb = std::abs(a - c);
    const int pc = std::abs(a + b - 2 * c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Reconstructs 8-bit samples (or the high bytes of 16-bit samples, kSample 2) straight into the
// image: the left neighbour and the row above are the image's own bytes of the same channel.
// `zeroRow` stands for the row above the first. False for an unknown filter type.
template <PngLayout L, int kSample>
bool ReconstructIntoImage(const std::uint8_t* inflated, std::uint64_t rowBytes, std::uint8_t* out,
                          std::uint64_t pitch, int width, int height, const std::uint8_t* zeroRow,
                          const std::uint8_t* key) {
    using Lay = LayoutOf<L>;
    constexpr int kN = Lay::kChannels;
    constexpr int kB = Lay::kBytes;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = inflated + std::uint64_t(y) * (rowBytes + 1);
        const std::uint8_t filter = row[0];
        const std::uint8_t* in = row + 1;
        std::uint8_t* cur = out + std::uint64_t(y) * pitch;
        const std::uint8_t* up = y > 0 ? cur - pitch : zeroRow;
        switch (filter) {
            case 0:
                for (int x = 0; x < width; ++x) {
                    std::uint8_t* p = cur + x * kB;
                    for (int c = 0; c < kN; ++c) p[Lay::kOffset[c]] = in[(x * kN + c) * kSample];
                    Lay::Finish(p, key);
                }
                break;
            case 1:
                for (int c = 0; c < kN; ++c) cur[Lay::kOffset[c]] = in[c * kSample];
                Lay::Finish(cur, key);
                for (int x = 1; x < width; ++x) {
                    std::uint8_t* p = cur + x * kB;
                    for (int c = 0; c < kN; ++c) {
                        p[Lay::kOffset[c]] = static_cast<std::uint8_t>(in[(x * kN + c) * kSample] +
                                                                       p[Lay::kOffset[c] - kB]);
                    }
                    Lay::Finish(p, key);
                }
                break;
            case 2:
                for (int x = 0; x < width; ++x) {
                    std::uint8_t* p = cur + x * kB;
                    const std::uint8_t* u = up + x * kB;
                    for (int c = 0; c < kN; ++c) {
                        p[Lay::kOffset[c]] = static_cast<std::uint8_t>(in[(x * kN + c) * kSample] +
                                                                       u[Lay::kOffset[c]]);
                    }
                    Lay::Finish(p, key);
                }
                break;
            case 3:
                for (int c = 0; c < kN; ++c) {
                    cur[Lay::kOffset[c]] =
                        static_cast<std::uint8_t>(in[c * kSample] + (up[Lay::kOffset[c]] >> 1));
                }
                Lay::Finish(cur, key);
                for (int x = 1; x < width; ++x) {
                    std::uint8_t* p = cur + x * kB;
                    const std::uint8_t* u = up + x * kB;
                    for (int c = 0; c < kN; ++c) {
                        const int o = Lay::kOffset[c];
                        p[o] = static_cast<std::uint8_t>(in[(x * kN + c) * kSample] +
                                                         ((p[o - kB] + u[o]) >> 1));
                    }
                    Lay::Finish(p, key);
                }
                break;
            case 4:
                for (int c = 0; c < kN; ++c) {
                    cur[Lay::kOffset[c]] =
                        static_cast<std::uint8_t>(in[c * kSample] + up[Lay::kOffset[c]]);
                }
                Lay::Finish(cur, key);
                for (int x = 1; x < width; ++x) {
                    std::uint8_t* p = cur + x * kB;
                    const std::uint8_t* u = up + x * kB;
                    for (int c = 0; c < kN; ++c) {
                        const int o = Lay::kOffset[c];
                        p[o] = static_cast<std::uint8_t>(in[(x * kN + c) * kSample] +
                                                         Paeth(p[o - kB], u[o], u[o - kB]));
                    }
                    Lay::Finish(p, key);
                }
                break;
            default:
                return false;
        }
    }
    return true;
}

template <PngLayout L>
bool ReconstructIntoImage(int sample, const std::uint8_t* inflated, std::uint64_t rowBytes,
                          std::uint8_t* out, std::uint64_t pitch, int width, int height,
                          const std::uint8_t* zeroRow, const std::uint8_t* key) {
    return sample == 2 ? ReconstructIntoImage<L, 2>(inflated, rowBytes, out, pitch, width, height,
                                                    zeroRow, key)
                       : ReconstructIntoImage<L, 1>(inflated, rowBytes, out, pitch, width, height,
                                                    zeroRow, key);
}

// Reconstructs the packed rows of 1-, 2- and 4-bit images in the inflated buffer itself (the left
// neighbour is the byte before).
bool ReconstructPackedRows(std::uint8_t* inflated, std::uint64_t rowBytes, int height,
                           const std::uint8_t* zeroRow) {
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = inflated + std::uint64_t(y) * (rowBytes + 1);
        std::uint8_t* cur = row + 1;
        const std::uint8_t* up = y > 0 ? row - rowBytes : zeroRow;
        switch (row[0]) {
            case 0:
                break;
            case 1:
                for (std::uint64_t i = 1; i < rowBytes; ++i) cur[i] += cur[i - 1];
                break;
            case 2:
                for (std::uint64_t i = 0; i < rowBytes; ++i) cur[i] += up[i];
                break;
            case 3:
                cur[0] += up[0] >> 1;
                for (std::uint64_t i = 1; i < rowBytes; ++i) {
                    cur[i] += static_cast<std::uint8_t>((cur[i - 1] + up[i]) >> 1);
                }
                break;
            case 4:
                cur[0] += up[0];
                for (std::uint64_t i = 1; i < rowBytes; ++i) {
                    cur[i] += Paeth(cur[i - 1], up[i], up[i - 1]);
                }
                break;
            default:
                return false;
        }
    }
    return true;
}

// Inflates every IDAT in file order into the buffer, which the data must fill exactly.
bool InflateImageData(const std::uint8_t* bytes, std::uint64_t size, std::uint8_t* out,
                      std::uint64_t outSize) {
    z_stream z;
    std::memset(&z, 0, sizeof(z));
    if (inflateInit(&z) != Z_OK) return false;
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outSize);
    ChunkWalk walk{bytes, size};
    PngChunk chunk;
    int result = Z_OK;
    while (walk.Next(&chunk) == 1) {
        if (IsType(chunk.type, "IEND")) break;
        // An empty IDAT carries nothing; zlib would call it a stalled stream.
        if (!IsType(chunk.type, "IDAT") || chunk.length == 0) continue;
        z.next_in = const_cast<Bytef*>(chunk.data);
        z.avail_in = chunk.length;
        result = inflate(&z, Z_NO_FLUSH);
        if (result == Z_STREAM_END) break;
        if (result != Z_OK) break;
    }
    const bool ok = result == Z_STREAM_END && z.total_out == outSize;
    inflateEnd(&z);
    return ok;
}

}  // namespace

int ReadPngImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    // 1. Only file images in memory, read in place.
    if (access->Ops->Read != GetMemoryStreamAccess()->Read) return -1;
    const auto* stream = static_cast<const MemoryStream*>(access->Stream);
    const auto* bytes = static_cast<const std::uint8_t*>(stream->data);
    const std::uint64_t size = stream->size;
    if (size < 8 || std::memcmp(bytes, kPngSignature, 8) != 0) return -1;

    // 2. The chunk walk.
    const std::uint8_t* ihdr = nullptr;
    const std::uint8_t* plte = nullptr;
    std::uint32_t plteLength = 0;
    const std::uint8_t* trns = nullptr;
    std::uint32_t trnsLength = 0;
    bool haveData = false;
    std::uint64_t dataBytes = 0;
    {
        ChunkWalk walk{bytes, size};
        PngChunk chunk;
        bool ended = false;
        int step;
        while ((step = walk.Next(&chunk)) == 1) {
            if (IsType(chunk.type, "IHDR")) {
                // A header too short for its fields is as bad as a second one.
                if (ihdr != nullptr || chunk.length < 13) return -1;
                ihdr = chunk.data;
            } else if (IsType(chunk.type, "PLTE")) {
                if (plte != nullptr) return -1;
                plte = chunk.data;
                plteLength = chunk.length;
            } else if (IsType(chunk.type, "tRNS")) {
                trns = chunk.data;
                trnsLength = chunk.length;
            } else if (IsType(chunk.type, "IDAT")) {
                haveData = true;
                dataBytes += chunk.length;
            } else if (IsType(chunk.type, "IEND")) {
                ended = true;
                break;
            }
        }
        if (!ended) return -1;
    }

    // 3. The header.
    if (ihdr == nullptr || !haveData) return -1;
    const std::uint32_t width32 = Be32(ihdr);
    const std::uint32_t height32 = Be32(ihdr + 4);
    const int depth = ihdr[8];
    const int colorType = ihdr[9];
    if (ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] != 0) return -1;
    if (width32 == 0 || height32 == 0 || width32 > 0x7FFFFFFF || height32 > 0x7FFFFFFF) return -1;
    const int width = static_cast<int>(width32);
    const int height = static_cast<int>(height32);

    // 4. The output format.
    auto depthIn = [depth](std::initializer_list<int> allowed) {
        for (int d : allowed) {
            if (d == depth) return true;
        }
        return false;
    };
    PngLayout layout;
    int channels;
    // A grey or colour key shorter than its samples is no key.
    const bool grayKey = trns != nullptr && trnsLength >= 2;
    const bool rgbKey = trns != nullptr && trnsLength >= 6;
    switch (colorType) {
        case 0:
            if (!depthIn({1, 2, 4, 8, 16})) return -1;
            layout = grayKey ? PngLayout::GrayKey : PngLayout::Gray;
            channels = 1;
            break;
        case 2:
            if (!depthIn({8, 16})) return -1;
            layout = rgbKey ? PngLayout::RgbKey : PngLayout::Rgb;
            channels = 3;
            break;
        case 3:
            if (!depthIn({1, 2, 4, 8}) || plte == nullptr) return -1;
            layout = PngLayout::Palette;
            channels = 1;
            break;
        case 4:
            if (!depthIn({8, 16})) return -1;
            layout = PngLayout::GrayAlpha;
            channels = 2;
            break;
        case 6:
            if (!depthIn({8, 16})) return -1;
            layout = PngLayout::Rgba;
            channels = 4;
            break;
        default:
            return -1;
    }
    COLORFORMAT& format = image->Format;
    std::uint8_t key[3] = {0, 0, 0};
    switch (layout) {
        case PngLayout::Gray:
            InitColorFormatGray8(&format);
            break;
        case PngLayout::GrayKey:
            InitColorFormatArgb8(&format);
            key[0] = depth == 16 ? trns[0] : trns[1];
            break;
        case PngLayout::Rgb:
            InitColorFormatRgb24(&format);
            break;
        case PngLayout::RgbKey:
            InitColorFormatArgb8(&format);
            for (int i = 0; i < 3; ++i) key[i] = depth == 16 ? trns[2 * i] : trns[2 * i + 1];
            break;
        case PngLayout::Palette: {
            InitDefaultPaletteFormat(&format, trns != nullptr ? 1 : 0);
            const int entries = static_cast<int>(std::min<std::uint32_t>(plteLength / 3, 256));
            for (int i = 0; i < entries; ++i) {
                format.Palette[i][0] = plte[3 * i + 2];
                format.Palette[i][1] = plte[3 * i + 1];
                format.Palette[i][2] = plte[3 * i];
            }
            format.HighestPaletteIndex = entries - 1;
            if (trns != nullptr) {
                const std::uint32_t alphas = std::min<std::uint32_t>(trnsLength, 256);
                for (std::uint32_t i = 0; i < 256; ++i) {
                    format.Palette[i][3] = i < alphas ? trns[i] : 255;
                }
            } else {
                for (auto& entry : format.Palette) entry[3] = 0;
            }
            break;
        }
        case PngLayout::GrayAlpha:
        case PngLayout::Rgba:
            InitColorFormatArgb8(&format);
            break;
    }
    const int bitsPerPixel = channels * depth;

    // 5. Sizes, in 64 bits and within the base images' limit.
    const std::uint64_t pitch = std::uint64_t(width) * format.BytesPerPixel;
    const std::uint64_t rowBytes = (std::uint64_t(bitsPerPixel) * width + 7) / 8;
    const std::uint64_t inflatedSize = (rowBytes + 1) * std::uint64_t(height);
    const std::uint64_t limit = std::uint64_t(kMaxBaseImageBytes);
    if (pitch * height > limit || inflatedSize > limit ||
        dataBytes * kMaxDeflateRatio + 64 < inflatedSize) {
        return -1;
    }
    image->Width = width;
    image->Height = height;
    image->Pitch = static_cast<std::int32_t>(pitch);
    image->MipCount = 0;
    image->ImageCount = 0;
    if (headerOnly) return 0;

    // 6.
    auto* pixels =
        static_cast<std::uint8_t*>(AllocateTrackedMemory(pitch * height, "DxBaseImage", __LINE__));
    auto* inflated =
        static_cast<std::uint8_t*>(AllocateTrackedMemory(inflatedSize, "DxBaseImage", __LINE__));
    // The row above the first reads as zeros.
    auto* zeroRow = static_cast<std::uint8_t*>(
        AllocateTrackedMemoryZeroed(std::max(pitch, rowBytes) + 8, "DxBaseImage", __LINE__));
    bool ok = pixels != nullptr && inflated != nullptr && zeroRow != nullptr;

    // 7.
    ok = ok && InflateImageData(bytes, size, inflated, inflatedSize);

    // 8, 9. A row filter type above 4 refuses the file.
    if (ok && depth < 8) {
        ok = ReconstructPackedRows(inflated, rowBytes, height, zeroRow);
        if (ok) {
            static constexpr std::uint8_t kScale[5] = {0, 0xFF, 0x55, 0, 0x11};
            const int perByte = 8 / depth;
            const int mask = (1 << depth) - 1;
            const bool scale = colorType == 0;
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* in = inflated + std::uint64_t(y) * (rowBytes + 1) + 1;
                std::uint8_t* out = pixels + std::uint64_t(y) * pitch;
                for (int x = 0; x < width; ++x) {
                    const int shift = 8 - depth * (x % perByte + 1);
                    const int sample = (in[x / perByte] >> shift) & mask;
                    const auto level =
                        static_cast<std::uint8_t>(scale ? sample * kScale[depth] : sample);
                    if (layout == PngLayout::GrayKey) {
                        std::uint8_t* p = out + x * 4;
                        p[0] = p[1] = p[2] = level;
                        p[3] = sample == key[0] ? 0 : 255;
                    } else {
                        out[x] = level;
                    }
                }
            }
        }
    } else if (ok) {
        const int sample = depth == 16 ? 2 : 1;
        switch (layout) {
#define VELK_PNG_LAYOUT(name)                                                                 \
    case PngLayout::name:                                                                     \
        ok = ReconstructIntoImage<PngLayout::name>(sample, inflated, rowBytes, pixels, pitch, \
                                                   width, height, zeroRow, key);              \
        break;
            VELK_PNG_LAYOUT(Gray)
            VELK_PNG_LAYOUT(GrayKey)
            VELK_PNG_LAYOUT(Rgb)
            VELK_PNG_LAYOUT(RgbKey)
            VELK_PNG_LAYOUT(Palette)
            VELK_PNG_LAYOUT(GrayAlpha)
            VELK_PNG_LAYOUT(Rgba)
#undef VELK_PNG_LAYOUT
        }
    }

    // 10.
    FreeTrackedMemory(inflated);
    FreeTrackedMemory(zeroRow);
    if (!ok) {
        FreeTrackedMemory(pixels);
        image->Pixels = nullptr;
        return -1;
    }
    image->Pixels = pixels;
    return 0;
}

}  // namespace ZiDaz
