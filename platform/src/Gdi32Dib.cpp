// gdi32's device-independent bitmaps: DIB sections (bitmaps whose pixels the caller reaches
// directly), and SetDIBitsToDevice and StretchDIBits, which draw a packed DIB into whatever
// surface a device context has through one copy routine. Images, fonts and the screen output all
// come through here.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Gdi32Internal.h"
#include "platform/Modules.h"

namespace platform::gdi {

namespace {

// Above this many bytes a DIB section or a decoded run-length picture is refused.
constexpr std::uint64_t kMaxDibBytes = 0x7FFFFFFF;

// One colour channel of a bit-field pixel.
struct Channel {
    DWORD mask = 0;
    int shift = 0;
    int width = 0;
    DWORD max = 0;  // mask >> shift

    explicit Channel(DWORD m = 0) : mask(m) {
        if (m == 0) return;
        while (!(m >> shift & 1)) ++shift;
        while (shift + width < 32 && (m >> (shift + width) & 1)) ++width;
        max = m >> shift;
    }
    // The channel of a pixel as 0..255; a channel's top value is 255 (v x 255 / top, truncated).
    DWORD Read(DWORD pixel) const {
        if (max == 0) return 0;
        return static_cast<DWORD>(static_cast<std::uint64_t>((pixel & mask) >> shift) * 255 / max);
    }
    // 0..255 placed into the channel's bits.
    DWORD Write(DWORD value) const {
        if (mask == 0) return 0;
        DWORD v = width >= 8 ? value << (width - 8) : value >> (8 - width);
        return (v << shift) & mask;
    }
};

// A packed DIB as the copy routine reads it.
struct Dib {
    int width = 0;
    int height = 0;  // absolute
    bool bottomUp = true;
    int bitCount = 0;
    DWORD compression = BI_RGB;
    std::size_t stride = 0;
    Channel red, green, blue;
    bool masks = false;       // 16 or 32 bits read through red, green and blue
    DWORD palette[256] = {};  // 0x00RRGGBB
};

BITMAPINFOHEADER ReadHeader(const BITMAPINFO* info) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, info, sizeof(h));
    return h;
}

// Reads a BITMAPINFO; false for DIBs the copy routine does not draw.
bool ParseDib(const BITMAPINFO* info, Dib* dib) {
    if (info == nullptr) return false;
    BITMAPINFOHEADER h = ReadHeader(info);
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096) return false;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT_MIN) return false;
    dib->width = h.biWidth;
    dib->height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    dib->bottomUp = h.biHeight > 0;
    dib->bitCount = h.biBitCount;
    dib->compression = h.biCompression;
    switch (h.biCompression) {
        case BI_RGB:
            if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 16 &&
                h.biBitCount != 24 && h.biBitCount != 32) {
                return false;
            }
            break;
        case BI_RLE8:
            if (h.biBitCount != 8 || !dib->bottomUp) return false;
            break;
        case BI_RLE4:
            if (h.biBitCount != 4 || !dib->bottomUp) return false;
            break;
        case BI_BITFIELDS:
            if (h.biBitCount != 16 && h.biBitCount != 32) return false;
            break;
        default:
            return false;
    }
    dib->stride = (static_cast<std::size_t>(dib->width) * dib->bitCount + 31) / 32 * 4;
    const BYTE* after = reinterpret_cast<const BYTE*>(info) + sizeof(BITMAPINFOHEADER);
    if (h.biCompression == BI_BITFIELDS) {
        DWORD m[3];
        std::memcpy(m, after, sizeof(m));
        dib->red = Channel(m[0]);
        dib->green = Channel(m[1]);
        dib->blue = Channel(m[2]);
        dib->masks = true;
    } else if (h.biBitCount == 16) {
        dib->red = Channel(0x7C00);
        dib->green = Channel(0x3E0);
        dib->blue = Channel(0x1F);
        dib->masks = true;
    }
    if (h.biBitCount <= 8) {
        DWORD count = 1u << h.biBitCount;
        if (h.biClrUsed != 0 && h.biClrUsed < count) count = h.biClrUsed;
        const BYTE* table = reinterpret_cast<const BYTE*>(info) + h.biSize;
        for (DWORD i = 0; i < count; ++i) {
            const BYTE* e = table + i * 4;
            dib->palette[i] = DWORD(e[2]) << 16 | DWORD(e[1]) << 8 | e[0];
        }
    }
    return true;
}

// Decodes run-length data into one palette index per pixel, stored rows (bottom row first);
// -1 marks the pixels the data skips.
bool DecodeRle(const Dib& dib, const BYTE* data, std::size_t size, std::vector<std::int16_t>* out) {
    std::uint64_t count = static_cast<std::uint64_t>(dib.width) * dib.height;
    if (count * sizeof(std::int16_t) > kMaxDibBytes) return false;
    try {
        out->assign(static_cast<std::size_t>(count), -1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const bool four = dib.compression == BI_RLE4;
    std::int64_t x = 0, y = 0;
    auto put = [&](int index) {
        if (x >= 0 && x < dib.width && y >= 0 && y < dib.height) {
            (*out)[static_cast<std::size_t>(y) * dib.width + static_cast<std::size_t>(x)] =
                static_cast<std::int16_t>(index);
        }
        ++x;
    };
    std::size_t p = 0;
    while (p + 1 < size && y < dib.height) {
        BYTE n = data[p], v = data[p + 1];
        p += 2;
        if (n > 0) {
            for (int i = 0; i < n; ++i) put(four ? ((i & 1) ? v & 0xF : v >> 4) : v);
        } else if (v == 0) {
            x = 0;
            ++y;
        } else if (v == 1) {
            break;
        } else if (v == 2) {
            if (p + 1 >= size) break;
            x += data[p];
            y += data[p + 1];
            p += 2;
        } else {
            std::size_t bytes = four ? (v + 1u) / 2 : v;
            for (int i = 0; i < v; ++i) {
                std::size_t at = p + (four ? i / 2 : i);
                if (at >= size) break;
                put(four ? ((i & 1) ? data[at] & 0xF : data[at] >> 4) : data[at]);
            }
            p += (bytes + 1) & ~std::size_t(1);
        }
    }
    return true;
}

// Reads source pixels `cols[0..n)` of one stored row as 0x00RRGGBB.
void DecodeRow(const Dib& dib, const BYTE* row, const int* cols, int n, DWORD* out) {
    switch (dib.bitCount) {
        case 1:
            for (int i = 0; i < n; ++i)
                out[i] = dib.palette[row[cols[i] >> 3] >> (7 - (cols[i] & 7)) & 1];
            break;
        case 4:
            for (int i = 0; i < n; ++i) {
                BYTE b = row[cols[i] >> 1];
                out[i] = dib.palette[(cols[i] & 1) ? b & 0xF : b >> 4];
            }
            break;
        case 8:
            for (int i = 0; i < n; ++i) out[i] = dib.palette[row[cols[i]]];
            break;
        case 16:
            for (int i = 0; i < n; ++i) {
                DWORD p = DWORD(row[cols[i] * 2]) | DWORD(row[cols[i] * 2 + 1]) << 8;
                out[i] = dib.red.Read(p) << 16 | dib.green.Read(p) << 8 | dib.blue.Read(p);
            }
            break;
        case 24:
            for (int i = 0; i < n; ++i) {
                const BYTE* s = row + cols[i] * 3;
                out[i] = DWORD(s[2]) << 16 | DWORD(s[1]) << 8 | s[0];
            }
            break;
        case 32:
            if (!dib.masks) {
                for (int i = 0; i < n; ++i) {
                    DWORD p;
                    std::memcpy(&p, row + cols[i] * 4, 4);
                    out[i] = p & 0xFFFFFF;
                }
            } else {
                for (int i = 0; i < n; ++i) {
                    DWORD p;
                    std::memcpy(&p, row + cols[i] * 4, 4);
                    out[i] = dib.red.Read(p) << 16 | dib.green.Read(p) << 8 | dib.blue.Read(p);
                }
            }
            break;
    }
}

// Writes 0x00RRGGBB pixels into a surface row from column x; pixels with a non-zero top byte are
// left as they are (run-length gaps).
class RowWriter {
  public:
    explicit RowWriter(const Surface& s) : s_(s) {
        bool m = s.redMask | s.greenMask | s.blueMask;
        if (s.bitCount == 16) {
            red_ = Channel(m ? s.redMask : 0x7C00);
            green_ = Channel(m ? s.greenMask : 0x3E0);
            blue_ = Channel(m ? s.blueMask : 0x1F);
        } else {
            red_ = Channel(m ? s.redMask : 0xFF0000);
            green_ = Channel(m ? s.greenMask : 0xFF00);
            blue_ = Channel(m ? s.blueMask : 0xFF);
        }
    }

    void Write(BYTE* row, int x, const DWORD* px, int n) {
        switch (s_.bitCount) {
            case 32:
                for (int i = 0; i < n; ++i) {
                    if (px[i] >> 24) continue;
                    DWORD v = Pack(px[i]);
                    std::memcpy(row + (x + i) * 4, &v, 4);
                }
                break;
            case 24:
                for (int i = 0; i < n; ++i) {
                    if (px[i] >> 24) continue;
                    BYTE* d = row + (x + i) * 3;
                    d[0] = static_cast<BYTE>(px[i]);
                    d[1] = static_cast<BYTE>(px[i] >> 8);
                    d[2] = static_cast<BYTE>(px[i] >> 16);
                }
                break;
            case 16:
                for (int i = 0; i < n; ++i) {
                    if (px[i] >> 24) continue;
                    auto v = static_cast<std::uint16_t>(Pack(px[i]));
                    std::memcpy(row + (x + i) * 2, &v, 2);
                }
                break;
            case 8:
            case 4:
            case 1:
                for (int i = 0; i < n; ++i) {
                    if (px[i] >> 24) continue;
                    int c = x + i;
                    DWORD index = Nearest(px[i]);
                    if (s_.bitCount == 8) {
                        row[c] = static_cast<BYTE>(index);
                    } else if (s_.bitCount == 4) {
                        BYTE& b = row[c / 2];
                        b = (c & 1) ? static_cast<BYTE>((b & 0xF0) | (index & 0xF))
                                    : static_cast<BYTE>((b & 0x0F) | (index & 0xF) << 4);
                    } else {
                        BYTE bit = static_cast<BYTE>(0x80 >> (c & 7));
                        row[c / 8] = (index & 1) ? (row[c / 8] | bit) : (row[c / 8] & ~bit);
                    }
                }
                break;
        }
    }

  private:
    DWORD Pack(DWORD rgb) const {
        return red_.Write(rgb >> 16 & 0xFF) | green_.Write(rgb >> 8 & 0xFF) |
               blue_.Write(rgb & 0xFF);
    }
    DWORD Nearest(DWORD rgb) {
        if (rgb == lastColour_) return lastIndex_;
        long best = -1;
        DWORD found = 0;
        for (int i = 0; i < s_.paletteSize && s_.palette; ++i) {
            long dr = long(s_.palette[i].rgbRed) - long(rgb >> 16 & 0xFF),
                 dg = long(s_.palette[i].rgbGreen) - long(rgb >> 8 & 0xFF),
                 db = long(s_.palette[i].rgbBlue) - long(rgb & 0xFF);
            long d = dr * dr + dg * dg + db * db;
            if (best < 0 || d < best) {
                best = d;
                found = static_cast<DWORD>(i);
            }
        }
        lastColour_ = rgb;
        lastIndex_ = found;
        return found;
    }

    const Surface& s_;
    Channel red_, green_, blue_;
    DWORD lastColour_ = 0xFFFFFFFF;
    DWORD lastIndex_ = 0;
};

// One axis of a copy: destination offsets [0, destSize) map to source offsets.
struct Axis {
    int destFirst = 0;  // first destination coordinate (lowest)
    int destSize = 0;
    bool destFlip = false;
    int srcFirst = 0;  // lowest source coordinate
    int srcSize = 0;
    bool srcFlip = false;

    Axis(int dx, int dw, int sx, int sw) {
        if (dw < 0) {
            destFirst = dx + dw + 1;
            destSize = -dw;
            destFlip = true;
        } else {
            destFirst = dx;
            destSize = dw;
        }
        if (sw < 0) {
            srcFirst = sx + sw + 1;
            srcSize = -sw;
            srcFlip = true;
        } else {
            srcFirst = sx;
            srcSize = sw;
        }
    }
    // The source offset (within the source rectangle) that destination index d shows, where d
    // counts from destFirst upwards.
    int Source(int d) const {
        std::int64_t i = destFlip ? destSize - 1 - d : d;
        auto j = static_cast<int>(i * srcSize / destSize);
        return srcFlip ? srcSize - 1 - j : j;
    }
};

// Copies n XRGB pixels with the fourth byte cleared, four at a time where the vector unit can.
void CopyClearingTop(BYTE* to, const BYTE* from, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i colour = _mm_set1_epi32(0xFFFFFF);
    for (; i + 4 <= n; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i * 4), _mm_and_si128(v, colour));
    }
#endif
    for (; i < n; ++i) {
        std::uint32_t v;
        std::memcpy(&v, from + i * 4, 4);
        v &= 0xFFFFFF;
        std::memcpy(to + i * 4, &v, 4);
    }
}

// Writes n destination XRGB pixels, each source pixel twice, with the fourth byte cleared: the
// nearest pixels of a stretch to exactly double width.
void CopyDoublingClearingTop(BYTE* to, const BYTE* from, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i colour = _mm_set1_epi32(0xFFFFFF);
    for (; i + 8 <= n; i += 8) {
        const __m128i v =
            _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i * 2)), colour);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i * 4), _mm_unpacklo_epi32(v, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i * 4 + 16), _mm_unpackhi_epi32(v, v));
    }
#endif
    for (; i < n; ++i) {
        std::uint32_t v;
        std::memcpy(&v, from + (i / 2) * 4, 4);
        v &= 0xFFFFFF;
        std::memcpy(to + i * 4, &v, 4);
    }
}

}  // namespace

namespace detail {

bool CopyDib(const Surface& dest, DibRect destRect, const BITMAPINFO* info, const void* bits,
             std::size_t bitsSize, DibRect sourceRect, int firstScan, int scanCount) {
    Dib dib;
    if (!ParseDib(info, &dib) || bits == nullptr) return false;
    if (dest.bits == nullptr || dest.width <= 0 || dest.height <= 0) return true;
    if (destRect.width == 0 || destRect.height == 0 || sourceRect.width == 0 ||
        sourceRect.height == 0) {
        return true;
    }
    const bool rle = dib.compression == BI_RLE8 || dib.compression == BI_RLE4;
    std::vector<std::int16_t> indices;
    if (rle && !DecodeRle(dib, static_cast<const BYTE*>(bits), bitsSize, &indices)) return false;

    Axis ax(destRect.x, destRect.width, sourceRect.x, sourceRect.width);
    Axis ay(destRect.y, destRect.height, sourceRect.y, sourceRect.height);

    // The destination columns inside the surface whose source column lies inside the DIB.
    std::vector<int> cols;
    int firstCol = -1;
    auto visible = [](const Axis& a, int size, int* from, int* to) {
        *from = static_cast<int>(std::max<std::int64_t>(0, -std::int64_t(a.destFirst)));
        *to =
            static_cast<int>(std::min<std::int64_t>(a.destSize, std::int64_t(size) - a.destFirst));
    };
    int dFrom, dTo;
    visible(ax, dest.width, &dFrom, &dTo);
    for (int d = dFrom; d < dTo; ++d) {
        std::int64_t x = std::int64_t(ax.destFirst) + d;
        std::int64_t c = std::int64_t(ax.srcFirst) + ax.Source(d);
        if (c < 0 || c >= dib.width) {
            if (!cols.empty()) break;
            continue;
        }
        if (cols.empty()) firstCol = static_cast<int>(x);
        cols.push_back(static_cast<int>(c));
    }
    if (cols.empty()) return true;
    const int n = static_cast<int>(cols.size());
    std::vector<DWORD> pixels(cols.size());
    RowWriter writer(dest);
    const BYTE* base = static_cast<const BYTE*>(bits);
    const std::int64_t bandEnd = std::int64_t(firstScan) + scanCount;

    // Rows and columns copied one to one between identical pixel layouts are plain copies.
    bool plain =
        !rle && !ax.destFlip && !ax.srcFlip && ax.srcSize == ax.destSize &&
        ((dib.bitCount == 24 && dest.bitCount == 24) ||
         (dib.bitCount == 32 && dest.bitCount == 32 &&
          (!dib.masks ||
           (dib.red.mask == 0xFF0000 && dib.green.mask == 0xFF00 && dib.blue.mask == 0xFF)) &&
          ((dest.redMask | dest.greenMask | dest.blueMask) == 0 ||
           (dest.redMask == 0xFF0000 && dest.greenMask == 0xFF00 && dest.blueMask == 0xFF))));

    // Stretched copies between the same 32-bit layout take each nearest pixel as it is; a
    // destination row whose source row is the one before it repeats that row.
    const bool sameXrgb =
        !rle && !plain && dib.bitCount == 32 && dest.bitCount == 32 &&
        (!dib.masks ||
         (dib.red.mask == 0xFF0000 && dib.green.mask == 0xFF00 && dib.blue.mask == 0xFF)) &&
        ((dest.redMask | dest.greenMask | dest.blueMask) == 0 ||
         (dest.redMask == 0xFF0000 && dest.greenMask == 0xFF00 && dest.blueMask == 0xFF));
    // A stretch to exactly double width whose first column starts a pair shows source column
    // cols[0] + i / 2 at column i.
    bool doubled = sameXrgb;
    for (int i = 0; doubled && i < n; ++i) doubled = cols[i] == cols[0] + i / 2;
    std::int64_t lastStored = -1;
    const BYTE* lastOut = nullptr;

    visible(ay, dest.height, &dFrom, &dTo);
    for (int d = dFrom; d < dTo; ++d) {
        std::int64_t y = std::int64_t(ay.destFirst) + d;
        // Source rows count from the DIB's origin, which is also the order they are stored in: a
        // bottom-up DIB's origin is its bottom row, so the top of the rectangle is its last row.
        std::int64_t j = ay.Source(d);
        std::int64_t stored = dib.bottomUp ? std::int64_t(ay.srcFirst) + ay.srcSize - 1 - j
                                           : std::int64_t(ay.srcFirst) + j;
        if (stored < 0 || stored >= dib.height) continue;
        BYTE* out = dest.bits + static_cast<std::ptrdiff_t>(y) * dest.pitch;
        if (rle) {
            const std::int16_t* row = indices.data() + stored * dib.width;
            for (int i = 0; i < n; ++i) {
                std::int16_t v = row[cols[i]];
                pixels[static_cast<std::size_t>(i)] = v < 0 ? 0xFF000000 : dib.palette[v];
            }
        } else {
            if (stored < firstScan || stored >= bandEnd) continue;
            const BYTE* row = base + static_cast<std::size_t>(stored - firstScan) * dib.stride;
            if (plain) {
                int bpp = dib.bitCount / 8;
                if (dib.bitCount == 32) {  // the fourth byte of an XRGB pixel is not colour
                    CopyClearingTop(out + static_cast<std::ptrdiff_t>(firstCol) * 4,
                                    row + static_cast<std::ptrdiff_t>(cols[0]) * 4, n);
                } else {
                    std::memcpy(out + static_cast<std::ptrdiff_t>(firstCol) * bpp,
                                row + static_cast<std::ptrdiff_t>(cols[0]) * bpp,
                                static_cast<std::size_t>(n) * bpp);
                }
                continue;
            }
            if (sameXrgb) {
                BYTE* to = out + static_cast<std::ptrdiff_t>(firstCol) * 4;
                if (stored == lastStored && lastOut != nullptr) {
                    std::memcpy(to, lastOut, static_cast<std::size_t>(n) * 4);
                } else if (doubled) {
                    CopyDoublingClearingTop(to, row + static_cast<std::ptrdiff_t>(cols[0]) * 4, n);
                } else {
                    for (int i = 0; i < n; ++i) {
                        std::uint32_t v;
                        std::memcpy(&v, row + static_cast<std::ptrdiff_t>(cols[i]) * 4, 4);
                        v &= 0xFFFFFF;
                        std::memcpy(to + i * 4, &v, 4);
                    }
                }
                lastStored = stored;
                lastOut = to;
                continue;
            }
            DecodeRow(dib, row, cols.data(), n, pixels.data());
        }
        writer.Write(out, firstCol, pixels.data(), n);
    }
    return true;
}

}  // namespace detail

namespace {

// A DIB section: its own zeroed pixels, selectable into memory contexts.
class DibSection : public BitmapObject {
  public:
    DibSection(const BITMAPINFOHEADER& header, const DWORD masks[3], const RGBQUAD* palette,
               int paletteSize, std::size_t stride)
        : header_(header), stride_(stride), paletteSize_(paletteSize) {
        std::memcpy(masks_, masks, sizeof(masks_));
        if (palette) std::memcpy(palette_, palette, sizeof(RGBQUAD) * paletteSize);
        header_.biSizeImage = static_cast<DWORD>(stride * Height());
    }

    bool Allocate() {
        pixels_.reset(new (std::nothrow) BYTE[header_.biSizeImage]());
        return pixels_ != nullptr;
    }
    BYTE* Bits() { return pixels_.get(); }
    int Height() const { return header_.biHeight < 0 ? -header_.biHeight : header_.biHeight; }

    bool GetSurface(Surface* out) override {
        int h = Height();
        bool bottomUp = header_.biHeight > 0;
        out->bits = pixels_.get() + (bottomUp ? (h - 1) * stride_ : 0);
        out->width = header_.biWidth;
        out->height = h;
        out->pitch = bottomUp ? -static_cast<int>(stride_) : static_cast<int>(stride_);
        out->bitCount = header_.biBitCount;
        out->redMask = masks_[0];
        out->greenMask = masks_[1];
        out->blueMask = masks_[2];
        out->palette = paletteSize_ ? palette_ : nullptr;
        out->paletteSize = paletteSize_;
        return true;
    }

    int Describe(int size, void* out, bool) const override {
        if (out == nullptr) return sizeof(DIBSECTION);
        if (size < static_cast<int>(sizeof(BITMAP))) return 0;
        DIBSECTION ds{};
        ds.dsBm.bmType = 0;
        ds.dsBm.bmWidth = header_.biWidth;
        ds.dsBm.bmHeight = Height();
        ds.dsBm.bmWidthBytes = static_cast<LONG>(stride_);
        ds.dsBm.bmPlanes = 1;
        ds.dsBm.bmBitsPixel = header_.biBitCount;
        ds.dsBm.bmBits = pixels_.get();
        if (size < static_cast<int>(sizeof(DIBSECTION))) {
            std::memcpy(out, &ds.dsBm, sizeof(BITMAP));
            return sizeof(BITMAP);
        }
        ds.dsBmih = header_;
        std::memcpy(ds.dsBitfields, masks_, sizeof(masks_));
        std::memcpy(out, &ds, sizeof(ds));
        return sizeof(DIBSECTION);
    }

  private:
    BITMAPINFOHEADER header_;
    std::size_t stride_;
    DWORD masks_[3] = {};
    RGBQUAD palette_[256] = {};
    int paletteSize_;
    std::unique_ptr<BYTE[]> pixels_;
};

}  // namespace

}  // namespace platform::gdi

namespace platform::gdi32 {

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section,
                         DWORD) {
    if (bits) *bits = nullptr;
    if (info == nullptr || usage != DIB_RGB_COLORS || section != nullptr) return nullptr;
    BITMAPINFOHEADER h = gdi::ReadHeader(info);
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > 4096) return nullptr;
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT_MIN || h.biPlanes != 1) {
        return nullptr;
    }
    int bitCount = h.biBitCount;
    if (h.biCompression == BI_BITFIELDS) {
        if (bitCount != 16 && bitCount != 32) return nullptr;
    } else if (h.biCompression != BI_RGB || (bitCount != 1 && bitCount != 4 && bitCount != 8 &&
                                             bitCount != 16 && bitCount != 24 && bitCount != 32)) {
        return nullptr;
    }
    std::uint64_t stride = (std::uint64_t(h.biWidth) * bitCount + 31) / 32 * 4;
    std::uint64_t height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    if (stride * height > gdi::kMaxDibBytes) return nullptr;

    DWORD masks[3] = {};
    const BYTE* after = reinterpret_cast<const BYTE*>(info) + sizeof(BITMAPINFOHEADER);
    if (h.biCompression == BI_BITFIELDS) {
        std::memcpy(masks, after, sizeof(masks));
    } else if (bitCount == 16) {
        masks[0] = 0x7C00, masks[1] = 0x3E0, masks[2] = 0x1F;
    } else if (bitCount == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }
    RGBQUAD palette[256] = {};
    int paletteSize = 0;
    if (bitCount <= 8) {
        paletteSize = 1 << bitCount;
        DWORD count = paletteSize;
        if (h.biClrUsed != 0 && h.biClrUsed < count) count = h.biClrUsed;
        std::memcpy(palette, reinterpret_cast<const BYTE*>(info) + h.biSize, count * 4);
    }
    auto dib = std::make_shared<gdi::DibSection>(h, masks, bitCount <= 8 ? palette : nullptr,
                                                 paletteSize, static_cast<std::size_t>(stride));
    if (!dib->Allocate()) return nullptr;
    void* pixels = dib->Bits();
    HBITMAP handle = gdi::AddObject(dib);
    if (handle && bits) *bits = pixels;
    return handle;
}

namespace {

// The run-length data of a DIB ends where its header says; other DIBs are bounded by their rows.
std::size_t DataSize(const BITMAPINFO* info) {
    BITMAPINFOHEADER h = gdi::ReadHeader(info);
    if ((h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) && h.biSizeImage != 0) {
        return h.biSizeImage;
    }
    return SIZE_MAX;
}

}  // namespace

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* info,
                      UINT usage) {
    if (usage != DIB_RGB_COLORS || info == nullptr || bits == nullptr) return 0;
    if (width > INT_MAX || height > INT_MAX || startScan > INT_MAX || scanLines > INT_MAX) {
        return 0;
    }
    gdi::Surface surface;
    if (!gdi::DcSurface(dc, &surface)) return 0;
    BITMAPINFOHEADER h = gdi::ReadHeader(info);
    gdi::detail::DibRect dest{xDest, yDest, static_cast<int>(width), static_cast<int>(height)};
    gdi::detail::DibRect source{xSrc, ySrc, static_cast<int>(width), static_cast<int>(height)};
    if (!gdi::detail::CopyDib(surface, dest, info, bits, DataSize(info), source,
                              static_cast<int>(startScan), static_cast<int>(scanLines))) {
        return 0;
    }
    std::int64_t rows = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    std::int64_t lines = std::min<std::int64_t>(scanLines, rows - startScan);
    return lines > 0 ? static_cast<int>(lines) : 0;
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage,
                  DWORD rop) {
    if (usage != DIB_RGB_COLORS || rop != SRCCOPY || info == nullptr || bits == nullptr) {
        return 0;
    }
    gdi::Surface surface;
    if (!gdi::DcSurface(dc, &surface)) return 0;
    BITMAPINFOHEADER h = gdi::ReadHeader(info);
    gdi::detail::DibRect dest{xDest, yDest, destWidth, destHeight};
    gdi::detail::DibRect source{xSrc, ySrc, srcWidth, srcHeight};
    if (!gdi::detail::CopyDib(surface, dest, info, bits, DataSize(info), source, 0, INT_MAX)) {
        return 0;
    }
    return h.biHeight < 0 ? -h.biHeight : h.biHeight;
}

namespace {
const ModuleExports kExports("gdi32.dll", {{"CreateDIBSection", Export(&CreateDIBSection)},
                                           {"SetDIBitsToDevice", Export(&SetDIBitsToDevice)},
                                           {"StretchDIBits", Export(&StretchDIBits)}});
}  // namespace

}  // namespace platform::gdi32
