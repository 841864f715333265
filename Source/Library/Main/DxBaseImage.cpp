// Images in memory: pixel-format records, colour composition and the pixel-rectangle converter.
#include "Main/DxBaseImage.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxMemImg.h"
#include "Main/DxMemory.h"
#include "platform/Gdi32.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ZiDaz {

namespace {

// Width is the run of set bits from the lowest one; a zero mask gives width and position 0.
void DescribeMask(std::uint32_t mask, std::uint8_t* width, std::uint8_t* position) {
    if (mask == 0) {
        *width = 0;
        *position = 0;
        return;
    }
    const int low = std::countr_zero(mask);
    *position = static_cast<std::uint8_t>(low);
    *width = static_cast<std::uint8_t>(std::countr_one(mask >> low));
}

// The layout part of the fixed-format builders: everything but the palette and (unless asked)
// the unused position and width.
int SetMaskLayout(COLORFORMAT* f, int bytes, std::uint32_t red, std::uint32_t green,
                  std::uint32_t blue, std::uint32_t alpha, std::uint32_t unused,
                  bool describeUnused) {
    f->FormatKind = 0;
    f->ChannelCount = 0;
    f->BitsPerChannel = 0;
    f->FloatFlag = 0;
    f->HighestPaletteIndex = 0;
    f->BytesPerPixel = static_cast<std::uint8_t>(bytes);
    f->BitsPerPixel = static_cast<std::uint8_t>(bytes * 8);
    f->RedMask = red;
    f->GreenMask = green;
    f->BlueMask = blue;
    f->AlphaMask = alpha;
    f->UnusedMask = unused;
    DescribeMask(red, &f->RedWidth, &f->RedPosition);
    DescribeMask(green, &f->GreenWidth, &f->GreenPosition);
    DescribeMask(blue, &f->BlueWidth, &f->BluePosition);
    DescribeMask(alpha, &f->AlphaWidth, &f->AlphaPosition);
    if (describeUnused) DescribeMask(unused, &f->UnusedWidth, &f->UnusedPosition);
    return 0;
}

}  // namespace

int InitColorFormatFromMasks(COLORFORMAT* format, int bitsPerPixel, std::uint32_t redMask,
                             std::uint32_t greenMask, std::uint32_t blueMask,
                             std::uint32_t alphaMask, int channelCount, int bitsPerChannel,
                             int floatFlag) {
    std::memset(format, 0, sizeof(*format));
    if (channelCount != 0 && bitsPerChannel != 0) {
        format->ChannelCount = static_cast<std::uint8_t>(channelCount);
        format->BitsPerChannel = static_cast<std::uint8_t>(bitsPerChannel);
        format->FloatFlag = static_cast<std::uint8_t>(floatFlag);
        format->BytesPerPixel = static_cast<std::uint8_t>(channelCount * bitsPerChannel / 8);
        return 0;
    }
    format->BitsPerPixel = static_cast<std::uint8_t>(bitsPerPixel);
    format->BytesPerPixel = static_cast<std::uint8_t>(bitsPerPixel / 8);
    format->RedMask = redMask;
    format->GreenMask = greenMask;
    format->BlueMask = blueMask;
    format->AlphaMask = alphaMask;
    DescribeMask(redMask, &format->RedWidth, &format->RedPosition);
    DescribeMask(greenMask, &format->GreenWidth, &format->GreenPosition);
    DescribeMask(blueMask, &format->BlueWidth, &format->BluePosition);
    DescribeMask(alphaMask, &format->AlphaWidth, &format->AlphaPosition);
    const std::uint32_t all = bitsPerPixel >= 32 ? 0xFFFFFFFFu : ((1u << bitsPerPixel) - 1u);
    format->UnusedMask = all & ~(redMask | greenMask | blueMask | alphaMask);
    DescribeMask(format->UnusedMask, &format->UnusedWidth, &format->UnusedPosition);
    return 0;
}

int InitColorFormatArgb8(COLORFORMAT* f) {
    return SetMaskLayout(f, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0, true);
}
int InitColorFormatAbgr8(COLORFORMAT* f) {
    return SetMaskLayout(f, 4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, 0, true);
}
int InitColorFormatXrgb8(COLORFORMAT* f) {
    return SetMaskLayout(f, 4, 0xFF0000, 0xFF00, 0xFF, 0, 0xFF000000u, true);
}
int InitColorFormatRgb24(COLORFORMAT* f) {
    return SetMaskLayout(f, 3, 0xFF0000, 0xFF00, 0xFF, 0, 0, false);
}
int InitColorFormatBgr24(COLORFORMAT* f) {
    return SetMaskLayout(f, 3, 0xFF, 0xFF00, 0xFF0000, 0, 0, true);
}
int InitColorFormatR5G6B5(COLORFORMAT* f) {
    return SetMaskLayout(f, 2, 0xF800, 0x7E0, 0x1F, 0, 0, false);
}
int InitColorFormatX1R5G5B5(COLORFORMAT* f) {
    return SetMaskLayout(f, 2, 0x7C00, 0x3E0, 0x1F, 0, 0x8000, false);
}
int InitColorFormatPal8(COLORFORMAT* f) {
    SetMaskLayout(f, 1, 0xFF0000, 0xFF00, 0xFF, 0, 0xFF000000u, false);
    f->HighestPaletteIndex = 255;
    return 0;
}

std::uint32_t ComposeFormatColor(const COLORFORMAT* f, int red, int green, int blue, int alpha) {
    const auto r = static_cast<std::uint32_t>(red) & 0xFF;
    const auto g = static_cast<std::uint32_t>(green) & 0xFF;
    const auto b = static_cast<std::uint32_t>(blue) & 0xFF;
    const auto a = static_cast<std::uint32_t>(alpha) & 0xFF;
    if (f->ChannelCount != 0) {
        if (f->BitsPerChannel != 8 || f->FloatFlag != 0) return f->UnusedMask;
        switch (f->ChannelCount) {
            case 1:
                return r;
            case 2:
                return r | g << 8;
            case 3:
                return r | g << 8 | b << 16;
            default:
                return r | g << 8 | b << 16 | a << 24;
        }
    }
    if (f->BytesPerPixel == 1) {
        // Nearest palette entry by the sum of squared differences; the first one wins a tie.
        std::uint32_t best = 0xFFFFFF;
        std::uint32_t index = 0;
        for (std::uint32_t i = 0; i < 256; ++i) {
            const int db = static_cast<int>(f->Palette[i][0]) - static_cast<int>(b);
            const int dg = static_cast<int>(f->Palette[i][1]) - static_cast<int>(g);
            const int dr = static_cast<int>(f->Palette[i][2]) - static_cast<int>(r);
            const auto d = static_cast<std::uint32_t>(dg * dg + db * db + dr * dr);
            if (d < best) {
                best = d;
                index = i;
            }
        }
        return index;
    }
    auto place = [](std::uint32_t c, int width, int position) -> std::uint32_t {
        if (width == 0) return 0;
        const std::uint32_t v = width <= 8 ? c >> (8 - width) : c << (width - 8);
        return v << position;
    };
    std::uint32_t value = place(r, f->RedWidth, f->RedPosition) +
                          place(g, f->GreenWidth, f->GreenPosition) +
                          place(b, f->BlueWidth, f->BluePosition) + f->UnusedMask;
    if (f->AlphaWidth != 0) value += place(a, f->AlphaWidth, f->AlphaPosition);
    return value;
}

int DecomposeFormatColor(const COLORFORMAT* f, std::uint32_t value, int* red, int* green, int* blue,
                         int* alpha) {
    const bool bytes = f->RedWidth == 8 && f->GreenWidth == 8 && f->BlueWidth == 8;
    auto channel = [&](std::uint32_t mask, int position, int width) -> int {
        if (width == 0) return 0;
        const std::uint32_t field = (value & mask) >> position;
        if (width == 8 && bytes) return static_cast<int>(field);
        const std::uint64_t max = (std::uint64_t{1} << width) - 1;
        return static_cast<int>(std::uint64_t{field} * 255 / max);
    };
    if (red != nullptr) *red = channel(f->RedMask, f->RedPosition, f->RedWidth);
    if (green != nullptr) *green = channel(f->GreenMask, f->GreenPosition, f->GreenWidth);
    if (blue != nullptr) *blue = channel(f->BlueMask, f->BluePosition, f->BlueWidth);
    if (alpha != nullptr) *alpha = channel(f->AlphaMask, f->AlphaPosition, f->AlphaWidth);
    return 0;
}

float HalfToFloat(std::uint16_t half) {
    if (half == 0) return 0.0f;
    const std::uint32_t sign = (half >> 15) & 1u;
    const std::uint32_t exponent = (half >> 10) & 0x1Fu;
    const std::uint32_t mantissa = half & 0x3FFu;
    return std::bit_cast<float>(sign << 31 | (exponent + 112) << 23 | mantissa << 13);
}

std::uint16_t FloatToHalf(float value) {
    const auto bits = std::bit_cast<std::uint32_t>(value);
    if (bits == 0) return 0;
    int exponent = static_cast<int>((bits >> 23) & 0xFF) - 112;
    if (exponent < 0) return 0;
    exponent = std::min(exponent, 31);
    return static_cast<std::uint16_t>(((bits >> 31) << 15) |
                                      static_cast<std::uint32_t>(exponent) << 10 |
                                      ((bits >> 13) & 0x3FFu));
}

namespace {

std::uint32_t LoadPixel(const std::uint8_t* p, int bytes) {
    switch (bytes) {
        case 1:
            return p[0];
        case 2:
            return static_cast<std::uint32_t>(p[0] | p[1] << 8);
        case 3:
            return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default:
            return 0;
    }
}

void StorePixel(std::uint8_t* p, int bytes, std::uint32_t v) {
    switch (bytes) {
        case 4:
            std::memcpy(p, &v, 4);
            break;
        case 3:
            p[2] = static_cast<std::uint8_t>(v >> 16);
            [[fallthrough]];
        case 2:
            p[1] = static_cast<std::uint8_t>(v >> 8);
            [[fallthrough]];
        case 1:
            p[0] = static_cast<std::uint8_t>(v);
            break;
        default:
            break;
    }
}

// Float or 16-bit (or wider) integer channels: converted through their own paths.
bool IsWide(const COLORFORMAT& f) {
    return f.ChannelCount != 0 && (f.FloatFlag != 0 || f.BitsPerChannel > 8);
}

bool IsPaletteFormat(const COLORFORMAT& f) {
    return f.ChannelCount == 0 && f.BytesPerPixel == 1;
}

// A format as masks: 8-bit channel formats get the masks of their bytes (red first; a single
// channel is read as all three colours), wide formats the ARGB8 layout they are converted into.
struct Layout {
    std::uint32_t mask[4];  // red, green, blue, alpha
    int position[4];
    int width[4];
    std::uint32_t unused;
    int bytes;
};

Layout MakeLayout(const COLORFORMAT& f) {
    Layout l{};
    if (IsWide(f)) {
        const std::uint32_t masks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000u};
        for (int c = 0; c < 4; ++c) {
            l.mask[c] = masks[c];
            l.position[c] = std::countr_zero(masks[c]);
            l.width[c] = 8;
        }
        l.bytes = 4;
        return l;
    }
    if (f.ChannelCount == 1) {
        // One channel is grey: red, green and blue all read it.
        for (int c = 0; c < 3; ++c) {
            l.mask[c] = 0xFF;
            l.width[c] = 8;
        }
        l.bytes = 1;
        return l;
    }
    if (f.ChannelCount != 0) {
        for (int c = 0; c < f.ChannelCount && c < 4; ++c) {
            l.mask[c] = 0xFFu << (8 * c);
            l.position[c] = 8 * c;
            l.width[c] = 8;
        }
        l.bytes = f.BytesPerPixel;
        return l;
    }
    const std::uint32_t masks[4] = {f.RedMask, f.GreenMask, f.BlueMask, f.AlphaMask};
    const int positions[4] = {f.RedPosition, f.GreenPosition, f.BluePosition, f.AlphaPosition};
    const int widths[4] = {f.RedWidth, f.GreenWidth, f.BlueWidth, f.AlphaWidth};
    for (int c = 0; c < 4; ++c) {
        l.mask[c] = masks[c];
        l.position[c] = positions[c];
        l.width[c] = widths[c];
    }
    l.unused = f.UnusedMask;
    l.bytes = f.BytesPerPixel;
    return l;
}

bool HasAlpha(const COLORFORMAT& f) {
    if (f.ChannelCount != 0) return f.ChannelCount >= 4;
    return f.AlphaWidth != 0;
}

std::uint32_t PaletteEntry(const COLORFORMAT& f, std::uint32_t index) {
    const std::uint8_t* e = f.Palette[index & 0xFF];
    return static_cast<std::uint32_t>(e[0] | e[1] << 8 | e[2] << 16) |
           static_cast<std::uint32_t>(e[3]) << 24;
}

// Width conversion of a channel value: narrowing keeps the top bits; widening scales exactly,
// v * (2^d - 1) / (2^s - 1) + (v << d), so that the top value stays the top value.
std::uint32_t ScaleWidth(std::uint32_t v, int from, int to) {
    if (from == 0) return 0;
    if (from >= to) return v >> (from - to);
    const int d = to - from;
    const std::uint64_t wide =
        std::uint64_t{v} * ((std::uint64_t{1} << d) - 1) / ((std::uint64_t{1} << from) - 1) +
        (std::uint64_t{v} << d);
    return static_cast<std::uint32_t>(wide);
}

std::uint32_t FieldOf(std::uint32_t v, const Layout& l, int c) {
    return (v & l.mask[c]) >> l.position[c];
}

std::uint32_t FullOf(int width) {
    return width == 0 ? 0u : static_cast<std::uint32_t>((std::uint64_t{1} << width) - 1);
}

// ---- Dedicated loops ------------------------------------------------------------------------

enum class Kind : std::uint8_t {
    kOther,
    kChannel1,  // one 8-bit channel
    kChannel2,  // two 8-bit channels
    kPalette,
    kX1R5G5B5,
    kA1R5G5B5,
    kR5G6B5,
    kR5G5B5A1,
    kR5G5B5X1,  // R5G5B5A1's colour layout without alpha
    kA4R4G4B4,
    kRgb24,
    kBgr24,
    kXrgb8,
    kArgb8,
    kXbgr8,
    kAbgr8,
};

Kind Classify(const COLORFORMAT& f) {
    if (f.FormatKind != 0) return Kind::kOther;
    if (f.ChannelCount != 0) {
        if (f.FloatFlag != 0 || f.BitsPerChannel != 8) return Kind::kOther;
        return f.ChannelCount == 1   ? Kind::kChannel1
               : f.ChannelCount == 2 ? Kind::kChannel2
                                     : Kind::kOther;
    }
    if (f.BitsPerPixel == 8) return Kind::kPalette;
    struct Shape {
        int bits;
        std::uint32_t r, g, b, a;
        Kind kind;
    };
    static constexpr Shape kShapes[] = {
        {16, 0x7C00, 0x3E0, 0x1F, 0, Kind::kX1R5G5B5},
        {16, 0x7C00, 0x3E0, 0x1F, 0x8000, Kind::kA1R5G5B5},
        {16, 0xF800, 0x7E0, 0x1F, 0, Kind::kR5G6B5},
        {16, 0xF800, 0x7C0, 0x3E, 1, Kind::kR5G5B5A1},
        {16, 0xF800, 0x7C0, 0x3E, 0, Kind::kR5G5B5X1},
        {16, 0xF00, 0xF0, 0xF, 0xF000, Kind::kA4R4G4B4},
        {24, 0xFF0000, 0xFF00, 0xFF, 0, Kind::kRgb24},
        {24, 0xFF, 0xFF00, 0xFF0000, 0, Kind::kBgr24},
        {32, 0xFF0000, 0xFF00, 0xFF, 0, Kind::kXrgb8},
        {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, Kind::kArgb8},
        {32, 0xFF, 0xFF00, 0xFF0000, 0, Kind::kXbgr8},
        {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, Kind::kAbgr8},
    };
    for (const Shape& s : kShapes) {
        if (f.BitsPerPixel == s.bits && f.RedMask == s.r && f.GreenMask == s.g &&
            f.BlueMask == s.b && f.AlphaMask == s.a) {
            return s.kind;
        }
    }
    return Kind::kOther;
}

// One dedicated pair. fillUnused sets the destination's unused bits (otherwise they are 0).
struct DedicatedPair {
    Kind source;
    Kind dest;
    bool keyed;
    bool fillUnused;
};

constexpr DedicatedPair kDedicatedPairs[] = {
    {Kind::kChannel1, Kind::kChannel1, false, false},
    {Kind::kChannel1, Kind::kChannel2, false, false},
    {Kind::kChannel1, Kind::kArgb8, false, false},
    {Kind::kChannel1, Kind::kAbgr8, false, false},
    {Kind::kChannel2, Kind::kChannel2, false, false},
    {Kind::kChannel2, Kind::kArgb8, false, false},
    {Kind::kChannel2, Kind::kAbgr8, false, false},
    {Kind::kPalette, Kind::kR5G6B5, false, false},
    {Kind::kPalette, Kind::kX1R5G5B5, false, false},
    {Kind::kPalette, Kind::kArgb8, false, false},
    {Kind::kPalette, Kind::kAbgr8, false, false},
    {Kind::kPalette, Kind::kXrgb8, false, true},
    {Kind::kRgb24, Kind::kR5G6B5, false, false},
    {Kind::kRgb24, Kind::kX1R5G5B5, false, false},
    {Kind::kRgb24, Kind::kArgb8, false, false},
    {Kind::kRgb24, Kind::kXrgb8, false, true},
    {Kind::kRgb24, Kind::kAbgr8, false, false},
    {Kind::kBgr24, Kind::kR5G6B5, false, false},
    {Kind::kBgr24, Kind::kX1R5G5B5, false, true},
    {Kind::kBgr24, Kind::kArgb8, false, false},
    {Kind::kBgr24, Kind::kXrgb8, false, true},
    {Kind::kBgr24, Kind::kAbgr8, false, false},
    {Kind::kArgb8, Kind::kAbgr8, false, false},
    {Kind::kArgb8, Kind::kXrgb8, false, false},
    {Kind::kXbgr8, Kind::kArgb8, false, false},
    {Kind::kXbgr8, Kind::kXrgb8, false, true},
    {Kind::kXbgr8, Kind::kR5G6B5, false, false},
    {Kind::kXbgr8, Kind::kX1R5G5B5, false, false},
    {Kind::kXrgb8, Kind::kR5G6B5, false, false},
    {Kind::kXrgb8, Kind::kX1R5G5B5, false, false},
    {Kind::kXrgb8, Kind::kAbgr8, false, false},
    {Kind::kA1R5G5B5, Kind::kAbgr8, false, false},
    {Kind::kX1R5G5B5, Kind::kA1R5G5B5, false, false},
    {Kind::kX1R5G5B5, Kind::kA4R4G4B4, false, false},
    {Kind::kX1R5G5B5, Kind::kR5G6B5, false, false},
    {Kind::kX1R5G5B5, Kind::kArgb8, false, false},
    {Kind::kX1R5G5B5, Kind::kAbgr8, false, false},
    {Kind::kR5G6B5, Kind::kRgb24, false, false},
    {Kind::kR5G6B5, Kind::kAbgr8, false, false},
    {Kind::kR5G6B5, Kind::kXrgb8, false, false},
    {Kind::kR5G6B5, Kind::kA1R5G5B5, false, false},
    {Kind::kR5G6B5, Kind::kX1R5G5B5, false, false},
    {Kind::kR5G5B5X1, Kind::kR5G6B5, false, false},
    {Kind::kR5G5B5X1, Kind::kX1R5G5B5, false, true},
    {Kind::kR5G5B5X1, Kind::kA1R5G5B5, false, false},
    {Kind::kR5G5B5X1, Kind::kA4R4G4B4, false, false},
    {Kind::kR5G5B5X1, Kind::kArgb8, false, false},
    {Kind::kR5G5B5X1, Kind::kAbgr8, false, false},
    {Kind::kPalette, Kind::kA1R5G5B5, true, false},
    {Kind::kPalette, Kind::kArgb8, true, false},
    {Kind::kPalette, Kind::kAbgr8, true, false},
    {Kind::kRgb24, Kind::kA1R5G5B5, true, false},
    {Kind::kRgb24, Kind::kArgb8, true, false},
    {Kind::kRgb24, Kind::kAbgr8, true, false},
    {Kind::kBgr24, Kind::kA1R5G5B5, true, false},
    {Kind::kBgr24, Kind::kArgb8, true, false},
    {Kind::kBgr24, Kind::kAbgr8, true, false},
    {Kind::kR5G6B5, Kind::kR5G5B5A1, true, false},
    {Kind::kR5G6B5, Kind::kA1R5G5B5, true, false},
    {Kind::kR5G6B5, Kind::kArgb8, true, false},
    {Kind::kR5G6B5, Kind::kAbgr8, true, false},
    {Kind::kX1R5G5B5, Kind::kR5G5B5A1, true, false},
    {Kind::kX1R5G5B5, Kind::kA1R5G5B5, true, false},
    {Kind::kX1R5G5B5, Kind::kArgb8, true, false},
    {Kind::kX1R5G5B5, Kind::kAbgr8, true, false},
    {Kind::kXrgb8, Kind::kAbgr8, true, false},
};

const DedicatedPair* FindDedicatedPair(Kind source, Kind dest, bool keyed) {
    for (const DedicatedPair& p : kDedicatedPairs) {
        if (p.source == source && p.dest == dest && p.keyed == keyed) return &p;
    }
    return nullptr;
}

// The rectangle walk shared by every loop: fn(destination pixel, source pixel, row, column).
template <class Fn>
void ForEachPixel(std::uint8_t* dest, int destPitch, int destBytes, const std::uint8_t* source,
                  int sourcePitch, int sourceBytes, int width, int height, Fn&& fn) {
    for (int y = 0; y < height; ++y) {
        std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch;
        const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * sourcePitch;
        for (int x = 0; x < width; ++x, d += destBytes, s += sourceBytes) fn(d, s, y, x);
    }
}

// The dedicated loops: the general pipeline's pixels, except that channels are widened by a plain
// left shift, a one-bit alpha becomes 0 or the full alpha and the unused bits follow the pair.
void RunDedicatedLoop(const DedicatedPair& pair, std::uint8_t* dest, int destPitch,
                      const COLORFORMAT& df, const std::uint8_t* source, int sourcePitch,
                      const COLORFORMAT& sf, int width, int height, std::uint32_t keyColor) {
    const int db = df.BytesPerPixel;
    const int sb = sf.BytesPerPixel;
    if (pair.source == Kind::kChannel1 || pair.source == Kind::kChannel2) {
        const bool one = pair.source == Kind::kChannel1;
        ForEachPixel(dest, destPitch, db, source, sourcePitch, sb, width, height,
                     [&](std::uint8_t* d, const std::uint8_t* s, int, int) {
                         const std::uint8_t c0 = s[0];
                         const std::uint8_t c1 = one ? s[0] : s[1];
                         d[0] = c0;
                         if (db >= 2) d[1] = c1;
                         if (db == 4) {
                             d[2] = c0;
                             d[3] = c1;
                         }
                     });
        return;
    }
    if (pair.source == Kind::kArgb8 && pair.dest == Kind::kXrgb8) {
        for (int y = 0; y < height; ++y) {
            std::memcpy(dest + static_cast<std::ptrdiff_t>(y) * destPitch,
                        source + static_cast<std::ptrdiff_t>(y) * sourcePitch,
                        static_cast<std::size_t>(width) * 4);
        }
        return;
    }
    const bool palette = pair.source == Kind::kPalette;
    Layout sl = MakeLayout(sf);
    if (palette) {
        // The pixel is the palette entry: blue, green, red, fourth byte.
        sl.mask[0] = 0xFF0000;
        sl.mask[1] = 0xFF00;
        sl.mask[2] = 0xFF;
        sl.mask[3] = sf.AlphaMask != 0 ? 0xFF000000u : 0u;
        for (int c = 0; c < 4; ++c) {
            sl.position[c] = 16 - 8 * c;
            sl.width[c] = 8;
        }
        sl.position[3] = 24;
        sl.width[3] = sl.mask[3] != 0 ? 8 : 0;
    }
    const Layout dl = MakeLayout(df);
    int shift[3];  // positive: left
    for (int c = 0; c < 3; ++c) shift[c] = dl.width[c] - sl.width[c];
    const std::uint32_t fullAlpha = FullOf(dl.width[3]);
    const std::uint32_t fill = pair.fillUnused ? dl.unused : 0u;
    // The key in the source's own layout, each channel keeping its top bits.
    std::uint32_t key = 0;
    std::uint32_t keyMask = sl.mask[0] | sl.mask[1] | sl.mask[2];
    if (pair.keyed) {
        const std::uint32_t k[3] = {(keyColor >> 16) & 0xFF, (keyColor >> 8) & 0xFF,
                                    keyColor & 0xFF};
        for (int c = 0; c < 3; ++c) key |= (k[c] >> (8 - sl.width[c])) << sl.position[c];
        if (sb == 2) keyMask = 0xFFFF;  // 16-bit sources compare the whole pixel
    }
    const bool repeatGreen = pair.source == Kind::kX1R5G5B5 && pair.dest == Kind::kR5G6B5;
    const bool greenLowBit = pair.source == Kind::kX1R5G5B5 && pair.dest == Kind::kA4R4G4B4;
    ForEachPixel(dest, destPitch, db, source, sourcePitch, sb, width, height,
                 [&](std::uint8_t* d, const std::uint8_t* s, int, int) {
                     const std::uint32_t v = palette ? PaletteEntry(sf, *s) : LoadPixel(s, sb);
                     std::uint32_t out = fill;
                     for (int c = 0; c < 3; ++c) {
                         if (dl.width[c] == 0) continue;
                         const std::uint32_t f = FieldOf(v, sl, c);
                         const std::uint32_t w = shift[c] >= 0 ? f << shift[c] : f >> -shift[c];
                         out |= w << dl.position[c];
                     }
                     if (repeatGreen) out |= ((v >> 5) & 1u) << 5;
                     if (greenLowBit) out |= (v >> 5) & 1u;
                     if (dl.width[3] != 0) {
                         std::uint32_t a = fullAlpha;
                         if (pair.keyed) {
                             a = (v & keyMask) == key ? 0u : fullAlpha;
                         } else if (sl.width[3] == 1) {
                             a = FieldOf(v, sl, 3) != 0 ? fullAlpha : 0u;
                         } else if (sl.width[3] != 0) {
                             const int ds = dl.width[3] - sl.width[3];
                             const std::uint32_t f = FieldOf(v, sl, 3);
                             a = ds >= 0 ? f << ds : f >> -ds;
                         }
                         out |= a << dl.position[3];
                     }
                     StorePixel(d, db, out);
                 });
}

// ---- Dedicated loops with their layouts fixed at compile time ----------------------------------

struct KindLayout {
    int bytes;
    std::uint32_t mask[4];
    int position[4];
    int width[4];
    std::uint32_t unused;
};

constexpr KindLayout LayoutOfKind(Kind k) {
    switch (k) {
        case Kind::kX1R5G5B5:
            return {2, {0x7C00, 0x3E0, 0x1F, 0}, {10, 5, 0, 0}, {5, 5, 5, 0}, 0x8000};
        case Kind::kA1R5G5B5:
            return {2, {0x7C00, 0x3E0, 0x1F, 0x8000}, {10, 5, 0, 15}, {5, 5, 5, 1}, 0};
        case Kind::kR5G6B5:
            return {2, {0xF800, 0x7E0, 0x1F, 0}, {11, 5, 0, 0}, {5, 6, 5, 0}, 0};
        case Kind::kR5G5B5A1:
            return {2, {0xF800, 0x7C0, 0x3E, 1}, {11, 6, 1, 0}, {5, 5, 5, 1}, 0};
        case Kind::kR5G5B5X1:
            return {2, {0xF800, 0x7C0, 0x3E, 0}, {11, 6, 1, 0}, {5, 5, 5, 0}, 1};
        case Kind::kA4R4G4B4:
            return {2, {0xF00, 0xF0, 0xF, 0xF000}, {8, 4, 0, 12}, {4, 4, 4, 4}, 0};
        case Kind::kRgb24:
            return {3, {0xFF0000, 0xFF00, 0xFF, 0}, {16, 8, 0, 0}, {8, 8, 8, 0}, 0};
        case Kind::kBgr24:
            return {3, {0xFF, 0xFF00, 0xFF0000, 0}, {0, 8, 16, 0}, {8, 8, 8, 0}, 0};
        case Kind::kXrgb8:
            return {4, {0xFF0000, 0xFF00, 0xFF, 0}, {16, 8, 0, 0}, {8, 8, 8, 0}, 0xFF000000u};
        case Kind::kArgb8:
            return {4, {0xFF0000, 0xFF00, 0xFF, 0xFF000000u}, {16, 8, 0, 24}, {8, 8, 8, 8}, 0};
        case Kind::kXbgr8:
            return {4, {0xFF, 0xFF00, 0xFF0000, 0}, {0, 8, 16, 0}, {8, 8, 8, 0}, 0xFF000000u};
        case Kind::kAbgr8:
            return {4, {0xFF, 0xFF00, 0xFF0000, 0xFF000000u}, {0, 8, 16, 24}, {8, 8, 8, 8}, 0};
        default:
            return {0, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, 0};
    }
}

template <int Bytes>
inline std::uint32_t LoadFixed(const std::uint8_t* p) {
    if constexpr (Bytes == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (Bytes == 3) {
        return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16);
    } else {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <int Bytes>
inline void StoreFixed(std::uint8_t* p, std::uint32_t v) {
    if constexpr (Bytes == 2) {
        const auto w = static_cast<std::uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (Bytes == 3) {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
        p[2] = static_cast<std::uint8_t>(v >> 16);
    } else {
        std::memcpy(p, &v, 4);
    }
}

// Channel I of a source pixel moved to its destination place, widened by a plain shift.
template <Kind S, Kind D, int I>
inline std::uint32_t FixedChannel(std::uint32_t v) {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    if constexpr (dl.width[I] == 0) {
        return 0;
    } else {
        constexpr int shift = dl.width[I] - sl.width[I];
        const std::uint32_t f = (v & sl.mask[I]) >> sl.position[I];
        if constexpr (shift >= 0) {
            return (f << shift) << dl.position[I];
        } else {
            return (f >> -shift) << dl.position[I];
        }
    }
}

// The alpha bits of a dedicated pair's pixel: full, the key's 0, a one-bit alpha as 0 or full,
// or a wider alpha shifted.
template <Kind S, Kind D, bool Keyed>
inline std::uint32_t FixedAlpha(std::uint32_t v, std::uint32_t key) {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    if constexpr (dl.width[3] == 0) {
        return 0;
    } else {
        constexpr std::uint32_t full = (1u << dl.width[3]) - 1u;
        constexpr std::uint32_t keyMask =
            sl.bytes == 2 ? 0xFFFFu : sl.mask[0] | sl.mask[1] | sl.mask[2];
        std::uint32_t a = full;
        if constexpr (Keyed) {
            a = (v & keyMask) == key ? 0u : full;
        } else if constexpr (sl.width[3] == 1) {
            a = (v & sl.mask[3]) != 0 ? full : 0u;
        } else if constexpr (sl.width[3] != 0) {
            constexpr int ds = dl.width[3] - sl.width[3];
            const std::uint32_t f = (v & sl.mask[3]) >> sl.position[3];
            if constexpr (ds >= 0) {
                a = f << ds;
            } else {
                a = f >> -ds;
            }
        }
        return a << dl.position[3];
    }
}

// The pixel loops below are written for the vectoriser; GCC's default at -O2 only vectorises
// loops whose count it knows.
#if defined(__GNUC__) && !defined(__clang__)
#define DX_VECTOR_LOOP __attribute__((optimize("-fvect-cost-model=dynamic")))
#else
#define DX_VECTOR_LOOP
#endif

#if defined(__SSE2__) && defined(__x86_64__)
// Four pixels at once, held as 32-bit lanes: the same steps as the scalar pixel below.
template <int Shift>
inline __m128i ShiftLanes(__m128i v) {
    if constexpr (Shift > 0) {
        return _mm_slli_epi32(v, Shift);
    } else if constexpr (Shift < 0) {
        return _mm_srli_epi32(v, -Shift);
    } else {
        return v;
    }
}

constexpr std::uint32_t ShiftedMask(std::uint32_t mask, int shift) {
    return shift >= 0 ? mask << shift : mask >> -shift;
}

// Channel I moved by one shift and kept by one mask: the source channel's bits where they land,
// less what narrowing drops below the destination channel.
template <Kind S, Kind D, int I>
inline __m128i FixedChannelLanes(__m128i v) {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    if constexpr (dl.width[I] == 0) {
        return _mm_setzero_si128();
    } else {
        constexpr int shift = dl.position[I] + dl.width[I] - sl.width[I] - sl.position[I];
        constexpr std::uint32_t keep = ShiftedMask(sl.mask[I], shift) & dl.mask[I];
        return _mm_and_si128(ShiftLanes<shift>(v), _mm_set1_epi32(static_cast<int>(keep)));
    }
}

template <Kind S, Kind D, bool Keyed, bool Fill>
inline __m128i FixedPixelLanes(__m128i v, __m128i key) {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    __m128i out =
        _mm_or_si128(_mm_or_si128(FixedChannelLanes<S, D, 0>(v), FixedChannelLanes<S, D, 1>(v)),
                     FixedChannelLanes<S, D, 2>(v));
    if constexpr (Fill) out = _mm_or_si128(out, _mm_set1_epi32(static_cast<int>(dl.unused)));
    if constexpr (S == Kind::kX1R5G5B5 && D == Kind::kR5G6B5) {
        out = _mm_or_si128(out, _mm_and_si128(v, _mm_set1_epi32(1 << 5)));
    }
    if constexpr (S == Kind::kX1R5G5B5 && D == Kind::kA4R4G4B4) {
        out = _mm_or_si128(out, _mm_and_si128(_mm_srli_epi32(v, 5), _mm_set1_epi32(1)));
    }
    if constexpr (dl.width[3] != 0) {
        const __m128i full =
            _mm_set1_epi32(static_cast<int>(((1u << dl.width[3]) - 1u) << dl.position[3]));
        __m128i a = full;
        if constexpr (Keyed) {
            constexpr std::uint32_t keyMask =
                sl.bytes == 2 ? 0xFFFFu : sl.mask[0] | sl.mask[1] | sl.mask[2];
            const __m128i same =
                _mm_cmpeq_epi32(_mm_and_si128(v, _mm_set1_epi32(static_cast<int>(keyMask))), key);
            a = _mm_andnot_si128(same, full);
        } else if constexpr (sl.width[3] == 1) {
            const __m128i clear =
                _mm_cmpeq_epi32(_mm_and_si128(v, _mm_set1_epi32(static_cast<int>(sl.mask[3]))),
                                _mm_setzero_si128());
            a = _mm_andnot_si128(clear, full);
        } else if constexpr (sl.width[3] != 0) {
            a = FixedChannelLanes<S, D, 3>(v);
        }
        out = _mm_or_si128(out, a);
    }
    return out;
}

template <int Bytes>
inline __m128i LoadLanes(const std::uint8_t* p) {
    if constexpr (Bytes == 4) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_setzero_si128());
    }
}

template <int Bytes>
inline void StoreLanes(std::uint8_t* p, __m128i v) {
    if constexpr (Bytes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else {
        // Sign-extend the low halves so that the saturating pack keeps them as they are.
        const __m128i low = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(low, low));
    }
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DX_EXPAND_SSSE3 1
// 24-bit pixels widened to 32 bits where every channel is a whole byte: one byte shuffle per four
// pixels (shuffle names the source byte of each destination byte, 0x80 a zero byte) and the
// constant bits ORed in. Sixteen pixels a step from three 16-byte loads, so nothing past the
// row's last pixel is read. Returns the pixels done (a multiple of 16).
__attribute__((target("ssse3"))) int ExpandRow24To32Ssse3(const std::uint8_t* s, std::uint8_t* d,
                                                          int width, __m128i shuffle,
                                                          __m128i fill) {
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const std::uint8_t* p = s + x * 3;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        auto* out = reinterpret_cast<__m128i*>(d + x * 4);
        _mm_storeu_si128(out, _mm_or_si128(_mm_shuffle_epi8(a, shuffle), fill));
        _mm_storeu_si128(out + 1,
                         _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), shuffle), fill));
        _mm_storeu_si128(out + 2,
                         _mm_or_si128(_mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), shuffle), fill));
        _mm_storeu_si128(out + 3,
                         _mm_or_si128(_mm_shuffle_epi8(_mm_srli_si128(c, 4), shuffle), fill));
    }
    return x;
}

bool HasSsse3() {
    static const bool has = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3") != 0);
    return has;
}
#endif

// Whether a pair is a plain byte move from 24 to 32 bits: no key, whole-byte channels.
template <Kind S, Kind D, bool Keyed>
constexpr bool IsByteExpansion() {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    if (Keyed || sl.bytes != 3 || dl.bytes != 4) return false;
    for (int c = 0; c < 3; ++c) {
        if (sl.width[c] != 8 || dl.width[c] != 8 || sl.position[c] % 8 != 0 ||
            dl.position[c] % 8 != 0) {
            return false;
        }
    }
    return sl.width[3] == 0 && (dl.width[3] == 0 || dl.width[3] == 8);
}

// The byte shuffle of four pixels of such a pair.
template <Kind S, Kind D>
constexpr std::array<std::uint8_t, 16> ByteExpansionShuffle() {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    std::array<std::uint8_t, 16> shuffle{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            std::uint8_t from = 0x80;
            for (int c = 0; c < 3; ++c) {
                if (dl.position[c] == 8 * j)
                    from = static_cast<std::uint8_t>(3 * i + sl.position[c] / 8);
            }
            shuffle[static_cast<std::size_t>(4 * i + j)] = from;
        }
    }
    return shuffle;
}

// One pair's loop: the same pixels as RunDedicatedLoop, with every shift a constant.
template <Kind S, Kind D, bool Keyed, bool Fill>
DX_VECTOR_LOOP void FixedDedicatedLoop(std::uint8_t* dest, int destPitch,
                                       const std::uint8_t* source, int sourcePitch, int width,
                                       int height, std::uint32_t keyColor) {
    constexpr KindLayout sl = LayoutOfKind(S);
    constexpr KindLayout dl = LayoutOfKind(D);
    constexpr bool repeatGreen = S == Kind::kX1R5G5B5 && D == Kind::kR5G6B5;
    constexpr bool greenLowBit = S == Kind::kX1R5G5B5 && D == Kind::kA4R4G4B4;
    std::uint32_t key = 0;
    if constexpr (Keyed) {
        const std::uint32_t k[3] = {(keyColor >> 16) & 0xFF, (keyColor >> 8) & 0xFF,
                                    keyColor & 0xFF};
        for (int c = 0; c < 3; ++c) key |= (k[c] >> (8 - sl.width[c])) << sl.position[c];
    }
    auto pixel = [key](const std::uint8_t* s, std::uint8_t* d) {
        const std::uint32_t v = LoadFixed<LayoutOfKind(S).bytes>(s);
        std::uint32_t out = (Fill ? LayoutOfKind(D).unused : 0u) | FixedChannel<S, D, 0>(v) |
                            FixedChannel<S, D, 1>(v) | FixedChannel<S, D, 2>(v);
        if constexpr (repeatGreen) out |= ((v >> 5) & 1u) << 5;
        if constexpr (greenLowBit) out |= (v >> 5) & 1u;
        out |= FixedAlpha<S, D, Keyed>(v, key);
        StoreFixed<LayoutOfKind(D).bytes>(d, out);
    };
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * sourcePitch;
        std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch;
        int x = 0;
#if defined(DX_EXPAND_SSSE3)
        if constexpr (IsByteExpansion<S, D, Keyed>()) {
            if (HasSsse3()) {
                // The constant bits: the unused bits the pair fills and a full alpha (the
                // source has none).
                constexpr std::uint32_t constant =
                    (Fill ? dl.unused : 0u) |
                    (dl.width[3] != 0 ? ((1u << dl.width[3]) - 1u) << dl.position[3] : 0u);
                static constexpr std::array<std::uint8_t, 16> kShuffle =
                    ByteExpansionShuffle<S, D>();
                x = ExpandRow24To32Ssse3(
                    s, d, width, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kShuffle.data())),
                    _mm_set1_epi32(static_cast<int>(constant)));
            }
        }
#endif
#if defined(__SSE2__) && defined(__x86_64__)
        if constexpr (sl.bytes != 3 && dl.bytes != 3) {
            const __m128i keyLanes = _mm_set1_epi32(static_cast<int>(key));
            if constexpr (S == Kind::kXrgb8 && D == Kind::kR5G6B5 && !Keyed) {
                // Red and blue land in place through one multiply-add of the 16-bit halves
                // (blue times 4, red times 0x2000), green through a mask; shifting the pixel to
                // the top half and back sign-extends it for the saturating pack.
                const __m128i redBlue = _mm_set1_epi32(0x00F800F8);
                const __m128i green = _mm_set1_epi32(0x0000FC00);
                const __m128i multiplier = _mm_set1_epi32(0x20000004);
                auto lanes = [&](const std::uint8_t* p) {
                    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
                    const __m128i packed =
                        _mm_or_si128(_mm_madd_epi16(_mm_and_si128(v, redBlue), multiplier),
                                     _mm_and_si128(v, green));
                    return _mm_srai_epi32(_mm_slli_epi32(packed, 11), 16);
                };
                for (; x + 8 <= width; x += 8) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x * 2),
                                     _mm_packs_epi32(lanes(s + x * 4), lanes(s + x * 4 + 16)));
                }
            }
            if constexpr (dl.bytes == 2) {
                // Eight pixels a step into one 16-byte store; the low halves are sign-extended
                // so that the saturating pack keeps them as they are.
                for (; x + 8 <= width; x += 8) {
                    const __m128i a = FixedPixelLanes<S, D, Keyed, Fill>(
                        LoadLanes<sl.bytes>(s + x * sl.bytes), keyLanes);
                    const __m128i b = FixedPixelLanes<S, D, Keyed, Fill>(
                        LoadLanes<sl.bytes>(s + (x + 4) * sl.bytes), keyLanes);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x * 2),
                                     _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                                                     _mm_srai_epi32(_mm_slli_epi32(b, 16), 16)));
                }
            }
            for (; x + 4 <= width; x += 4) {
                StoreLanes<dl.bytes>(d + x * dl.bytes,
                                     FixedPixelLanes<S, D, Keyed, Fill>(
                                         LoadLanes<sl.bytes>(s + x * sl.bytes), keyLanes));
            }
        }
#endif
        // Eight pixels a step, a count the compiler can turn into vector code.
        for (; x + 8 <= width; x += 8) {
            for (int i = 0; i < 8; ++i) pixel(s + (x + i) * sl.bytes, d + (x + i) * dl.bytes);
        }
        for (; x < width; ++x) pixel(s + x * sl.bytes, d + x * dl.bytes);
    }
}

using FixedLoop = void (*)(std::uint8_t*, int, const std::uint8_t*, int, int, int, std::uint32_t);

template <std::size_t I>
constexpr FixedLoop FixedLoopAt() {
    constexpr DedicatedPair p = kDedicatedPairs[I];
    constexpr KindLayout sl = LayoutOfKind(p.source);
    constexpr KindLayout dl = LayoutOfKind(p.dest);
    // Palette, channel and plain-copy pairs run their own loops.
    if constexpr (sl.bytes == 0 || dl.bytes == 0 ||
                  (p.source == Kind::kArgb8 && p.dest == Kind::kXrgb8)) {
        return nullptr;
    } else {
        return &FixedDedicatedLoop<p.source, p.dest, p.keyed, p.fillUnused>;
    }
}

template <std::size_t... I>
constexpr std::array<FixedLoop, sizeof...(I)> MakeFixedLoops(std::index_sequence<I...>) {
    return {FixedLoopAt<I>()...};
}

constexpr auto kFixedLoops = MakeFixedLoops(std::make_index_sequence<std::size(kDedicatedPairs)>{});

// Palette sources: the destination pixel of each of the 256 indices is made once by the
// dedicated loop, then every pixel is a table read.
void RunPaletteLoop(const DedicatedPair& pair, std::uint8_t* dest, int destPitch,
                    const COLORFORMAT& df, const std::uint8_t* source, int sourcePitch,
                    const COLORFORMAT& sf, int width, int height, std::uint32_t keyColor) {
    std::uint8_t indices[256];
    for (int i = 0; i < 256; ++i) indices[i] = static_cast<std::uint8_t>(i);
    std::uint32_t table[256];
    RunDedicatedLoop(pair, reinterpret_cast<std::uint8_t*>(table), 256 * 4, df, indices, 256, sf,
                     256, 1, keyColor);
    const int db = df.BytesPerPixel;
    if (db == 4) {
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * sourcePitch;
            std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch;
            for (int x = 0; x < width; ++x) std::memcpy(d + 4 * x, &table[s[x]], 4);
        }
        return;
    }
    // Narrower destinations: the table's entries are packed at db bytes each.
    const auto* packed = reinterpret_cast<const std::uint8_t*>(table);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * sourcePitch;
        std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch;
        for (int x = 0; x < width; ++x) std::memcpy(d + db * x, packed + db * s[x], db);
    }
}

// The general pipeline's pixels as the sum of one table entry per source channel.
struct ChannelTables {
    std::uint32_t tables[4][256];
    std::uint32_t constant;
    std::uint32_t mask[4];
    int position[4];
};

template <int SB, int DB>
void ChannelTableLoop(const ChannelTables& t, std::uint8_t* dest, int destPitch,
                      const std::uint8_t* source, int sourcePitch, int width, int height) {
    // Locals, so that the stores cannot be taken to change them.
    const std::uint32_t m0 = t.mask[0], m1 = t.mask[1], m2 = t.mask[2], m3 = t.mask[3];
    const int p0 = t.position[0], p1 = t.position[1], p2 = t.position[2], p3 = t.position[3];
    const std::uint32_t constant = t.constant;
    const std::uint32_t* t0 = t.tables[0];
    const std::uint32_t* t1 = t.tables[1];
    const std::uint32_t* t2 = t.tables[2];
    const std::uint32_t* t3 = t.tables[3];
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(y) * sourcePitch;
        std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = LoadFixed<SB>(s + x * SB);
            StoreFixed<DB>(d + x * DB, constant | t0[(v & m0) >> p0] | t1[(v & m1) >> p1] |
                                           t2[(v & m2) >> p2] | t3[(v & m3) >> p3]);
        }
    }
}

void RunChannelTables(const ChannelTables& t, std::uint8_t* dest, int destPitch, int db,
                      const std::uint8_t* source, int sourcePitch, int sb, int width, int height) {
    using Loop =
        void (*)(const ChannelTables&, std::uint8_t*, int, const std::uint8_t*, int, int, int);
    static constexpr Loop kLoops[3][3] = {
        {ChannelTableLoop<2, 2>, ChannelTableLoop<2, 3>, ChannelTableLoop<2, 4>},
        {ChannelTableLoop<3, 2>, ChannelTableLoop<3, 3>, ChannelTableLoop<3, 4>},
        {ChannelTableLoop<4, 2>, ChannelTableLoop<4, 3>, ChannelTableLoop<4, 4>},
    };
    kLoops[sb - 2][db - 2](t, dest, destPitch, source, sourcePitch, width, height);
}

// ---- General pipeline -----------------------------------------------------------------------

// A source pixel read as up to four floats or four 16-bit values (wide formats).
void ReadWideChannels(const COLORFORMAT& f, const std::uint8_t* p, float* out) {
    for (int c = 0; c < 4; ++c) {
        if (c >= f.ChannelCount) {
            out[c] = -1.0f;  // marks a missing channel
            continue;
        }
        if (f.FloatFlag != 0) {
            if (f.BitsPerChannel == 16) {
                std::uint16_t h;
                std::memcpy(&h, p + 2 * c, 2);
                out[c] = HalfToFloat(h);
            } else {
                std::memcpy(&out[c], p + 4 * c, 4);
            }
        } else {
            std::uint16_t v;
            std::memcpy(&v, p + 2 * c, 2);
            out[c] = static_cast<float>(v);
        }
    }
}

struct GeneralPlan {
    const COLORFORMAT* df;
    const COLORFORMAT* sf;
    Layout dl;
    Layout sl;  // the source as read (ARGB8 for wide sources)
    bool sourceWide;
    bool destWide;
    bool sourcePalette;
    bool useAlphaImage;
    bool keyToAlpha;
    bool colorToZero;
    bool alphaFromRed;
    std::uint32_t key[3];  // raw red, green and blue of the key in the source layout
    const std::uint8_t* alphaPixels;
    int alphaPitch;
    const COLORFORMAT* af;
    Layout al;
};

// A wide source pixel as an ARGB8 value for an integer destination.
std::uint32_t WideToArgb8(const COLORFORMAT& f, const std::uint8_t* p) {
    float ch[4];
    ReadWideChannels(f, p, ch);
    std::uint32_t out = 0;
    static constexpr int kPos[4] = {16, 8, 0, 24};
    for (int c = 0; c < 4; ++c) {
        std::uint32_t v;
        if (f.FloatFlag != 0) {
            const float x = c < f.ChannelCount ? ch[c] : 1.0f;
            v = x > 1.0f ? 255u : x > 0.0f ? static_cast<std::uint32_t>(x * 255.0f) : 0u;
        } else {
            v = c < f.ChannelCount ? static_cast<std::uint32_t>(ch[c]) >> 8 : 255u;
        }
        out |= v << kPos[c];
    }
    return out;
}

std::uint32_t ReadIntegerSource(const GeneralPlan& plan, const std::uint8_t* p) {
    if (plan.sourceWide) return WideToArgb8(*plan.sf, p);
    if (plan.sourcePalette) return PaletteEntry(*plan.sf, *p);
    return LoadPixel(p, plan.sl.bytes);
}

void GeneralToInteger(const GeneralPlan& plan, std::uint8_t* d, const std::uint8_t* s, int row,
                      int column, int left, int top) {
    const Layout& sl = plan.sl;
    const Layout& dl = plan.dl;
    const std::uint32_t v = ReadIntegerSource(plan, s);
    std::uint32_t alpha;
    if (plan.alphaFromRed) {
        alpha = FieldOf(v, sl, 0);
    } else if (plan.keyToAlpha) {
        const bool match = FieldOf(v, sl, 0) == plan.key[0] && FieldOf(v, sl, 1) == plan.key[1] &&
                           FieldOf(v, sl, 2) == plan.key[2];
        alpha = match ? 0u : FullOf(dl.width[3]);
    } else if (plan.useAlphaImage) {
        std::uint32_t av = 0;
        if (plan.af != nullptr) {
            const std::uint8_t* ap = plan.alphaPixels +
                                     static_cast<std::ptrdiff_t>(top + row) * plan.alphaPitch +
                                     static_cast<std::ptrdiff_t>(left + column) * plan.al.bytes;
            av = IsPaletteFormat(*plan.af) ? PaletteEntry(*plan.af, *ap)
                                           : LoadPixel(ap, plan.al.bytes);
        }
        alpha = ScaleWidth(FieldOf(av, plan.al, 0), plan.al.width[0], dl.width[3]);
    } else if (sl.width[3] != 0) {
        alpha = ScaleWidth(FieldOf(v, sl, 3), sl.width[3], dl.width[3]);
    } else {
        alpha = FullOf(dl.width[3]);
    }
    std::uint32_t out = (alpha << dl.position[3]) & dl.mask[3];
    if (!plan.colorToZero) {
        for (int c = 0; c < 3; ++c) {
            out |= ScaleWidth(FieldOf(v, sl, c), sl.width[c], dl.width[c]) << dl.position[c];
        }
    }
    if (dl.bytes == 2 || dl.bytes == 4) out |= dl.unused;
    StorePixel(d, dl.bytes, out);
}

void GeneralToWide(const GeneralPlan& plan, std::uint8_t* d, const std::uint8_t* s) {
    const COLORFORMAT& df = *plan.df;
    const COLORFORMAT& sf = *plan.sf;
    const bool toFloat = df.FloatFlag != 0;
    // Channels in destination units: floats, or 16-bit values held in floats.
    float ch[4];
    if (plan.sourceWide) {
        ReadWideChannels(sf, s, ch);
        for (int c = 0; c < 4; ++c) {
            const bool missing = c >= sf.ChannelCount;
            if (sf.FloatFlag != 0) {
                const float x = missing ? 1.0f : ch[c];
                ch[c] = toFloat    ? x
                        : x > 1.0f ? 65535.0f
                        : x > 0.0f ? static_cast<float>(static_cast<std::uint32_t>(x * 65535.0f))
                                   : 0.0f;
            } else {
                const float x = missing ? 65535.0f : ch[c];
                ch[c] = toFloat ? x / 65535.0f : x;
            }
        }
    } else {
        const std::uint32_t v = ReadIntegerSource(plan, s);
        for (int c = 0; c < 4; ++c) {
            const Layout& sl = plan.sl;
            if (sl.width[c] == 0) {
                ch[c] = toFloat ? 1.0f : 65535.0f;
                continue;
            }
            const std::uint32_t field = FieldOf(v, sl, c);
            const std::uint32_t max = FullOf(sl.width[c]);
            ch[c] = toFloat ? static_cast<float>(field) / static_cast<float>(max)
                            : static_cast<float>(std::uint64_t{field} * 65535 / max);
        }
    }
    if (plan.alphaFromRed) ch[3] = ch[0];
    if (plan.colorToZero) ch[0] = ch[1] = ch[2] = 0.0f;
    for (int c = 0; c < df.ChannelCount && c < 4; ++c) {
        if (toFloat && df.BitsPerChannel == 32) {
            std::memcpy(d + 4 * c, &ch[c], 4);
        } else if (toFloat) {
            const std::uint16_t h = FloatToHalf(ch[c]);
            std::memcpy(d + 2 * c, &h, 2);
        } else {
            const auto v = static_cast<std::uint16_t>(ch[c]);
            std::memcpy(d + 2 * c, &v, 2);
        }
    }
}

}  // namespace

int ConvertPixelRect(void* destPixels, int destPitch, const COLORFORMAT* destFormat,
                     const void* sourcePixels, int sourcePitch, const COLORFORMAT* sourceFormat,
                     const void* alphaPixels, int alphaPitch, const COLORFORMAT* alphaFormat,
                     int destX, int destY, const RECT* sourceRect, int /*reserved1*/,
                     int keyToAlpha, std::uint32_t keyColor, int /*reserved2*/, int colorToZero,
                     int alphaFromRed, int /*reserved3*/, int paletteRemap) {
    const COLORFORMAT& df = *destFormat;
    const COLORFORMAT& sf = *sourceFormat;
    const int width = sourceRect->right - sourceRect->left;
    const int height = sourceRect->bottom - sourceRect->top;
    // Block-compressed images are decoded before they are converted.
    if (df.FormatKind != 0 || sf.FormatKind != 0) return -1;

    const bool wide = IsWide(df) || IsWide(sf);
    const bool destAlpha = HasAlpha(df);
    const bool sourceAlpha = HasAlpha(sf);
    const bool useAlphaImage = !wide && destAlpha && alphaPixels != nullptr && !sourceAlpha;
    const bool key = !wide && keyToAlpha != 0 && destAlpha && !sourceAlpha && !useAlphaImage &&
                     alphaFromRed == 0;
    const bool toZero = colorToZero != 0;
    const bool fromRed = alphaFromRed != 0;
    if (width <= 0 || height <= 0) return -1;

    const int db = df.BytesPerPixel;
    const int sb = sf.BytesPerPixel;
    auto* dest =
        static_cast<std::uint8_t*>(destPixels) + static_cast<std::ptrdiff_t>(destY) * destPitch;
    const auto* source = static_cast<const std::uint8_t*>(sourcePixels) +
                         static_cast<std::ptrdiff_t>(sourceRect->top) * sourcePitch;
    const bool noFlags = !useAlphaImage && !key && !toZero && !fromRed;
    auto copyRows = [&](int bytes) {
        for (int y = 0; y < height; ++y) {
            std::memcpy(dest + static_cast<std::ptrdiff_t>(y) * destPitch +
                            static_cast<std::ptrdiff_t>(destX) * bytes,
                        source + static_cast<std::ptrdiff_t>(y) * sourcePitch +
                            static_cast<std::ptrdiff_t>(sourceRect->left) * bytes,
                        static_cast<std::size_t>(width) * static_cast<std::size_t>(bytes));
        }
    };
    const bool destPalette = df.ChannelCount == 0 && df.BitsPerPixel == 8;
    const bool sourcePalette = sf.ChannelCount == 0 && sf.BitsPerPixel == 8;

    // 1. Identical wide formats are copied.
    if (wide && noFlags && df.FloatFlag == sf.FloatFlag && df.BitsPerChannel == sf.BitsPerChannel &&
        df.ChannelCount == sf.ChannelCount && db == sb) {
        copyRows(db);
        return 0;
    }
    if (!wide) {
        // 2. Four bits a pixel: two indices a byte.
        if (df.ChannelCount == 0 && df.BitsPerPixel == 4) {
            if (sf.BitsPerPixel != 8 || (destX & 1) != 0) return -1;
            for (int y = 0; y < height; ++y) {
                std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(y) * destPitch + destX / 2;
                const std::uint8_t* s =
                    source + static_cast<std::ptrdiff_t>(y) * sourcePitch + sourceRect->left;
                int x = 0;
                for (; x + 1 < width; x += 2) {
                    *d++ = static_cast<std::uint8_t>((s[x] & 0x0F) | (s[x + 1] << 4));
                }
                if (x < width) *d = s[x];
            }
            return 0;
        }
        // 3. Indices mapped between differing palettes.
        if (paletteRemap != 0 && destPalette && sourcePalette &&
            std::memcmp(df.Palette, sf.Palette, sizeof(df.Palette)) != 0) {
            std::uint8_t map[256];
            for (int i = 0; i < 256; ++i) {
                map[i] = static_cast<std::uint8_t>(ComposeFormatColor(
                    &df, sf.Palette[i][2], sf.Palette[i][1], sf.Palette[i][0], sf.Palette[i][3]));
            }
            ForEachPixel(dest + destX, destPitch, 1, source + sourceRect->left, sourcePitch, 1,
                         width, height,
                         [&](std::uint8_t* d, const std::uint8_t* s, int, int) { *d = map[*s]; });
            return 0;
        }
        // 4. Colours into a palette: the nearest entry. The channels are brought to eight bits
        // first so that narrower channels match the palette's colours.
        if (destPalette && !sourcePalette && !fromRed) {
            if (sb < 2 || sb > 4 || sf.ChannelCount != 0) return 0;
            const Layout sl = MakeLayout(sf);
            ForEachPixel(
                dest + destX, destPitch, 1,
                source + static_cast<std::ptrdiff_t>(sourceRect->left) * sb, sourcePitch, sb, width,
                height, [&](std::uint8_t* d, const std::uint8_t* s, int, int) {
                    const std::uint32_t v = LoadPixel(s, sb);
                    int c8[4];
                    for (int c = 0; c < 4; ++c) {
                        c8[c] = static_cast<int>(ScaleWidth(FieldOf(v, sl, c), sl.width[c], 8));
                    }
                    *d = static_cast<std::uint8_t>(
                        ComposeFormatColor(&df, c8[0], c8[1], c8[2], c8[3]));
                });
            return 0;
        }
        // 5. Plain copy of 8-bit pixels: the result is the highest value copied.
        if (destPalette && sourcePalette && !toZero && !fromRed) {
            std::uint8_t highest = 0;
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* s =
                    source + static_cast<std::ptrdiff_t>(y) * sourcePitch + sourceRect->left;
                highest = std::max(highest, *std::max_element(s, s + width));
                std::memcpy(dest + static_cast<std::ptrdiff_t>(y) * destPitch + destX, s,
                            static_cast<std::size_t>(width));
            }
            return highest;
        }
        const bool masks =
            df.ChannelCount == 0 && sf.ChannelCount == 0 && df.BitsPerPixel == sf.BitsPerPixel;
        const bool sameColor = masks && df.RedMask == sf.RedMask && df.GreenMask == sf.GreenMask &&
                               df.BlueMask == sf.BlueMask;
        // 6. Same layout: rows copied.
        if (sameColor && df.AlphaMask == sf.AlphaMask && noFlags) {
            copyRows(db);
            return 0;
        }
        // 7. Same colour layout with the key turned into alpha.
        if (sameColor && key) {
            const std::uint32_t keyValue = ComposeFormatColor(
                &df, (keyColor >> 16) & 0xFF, (keyColor >> 8) & 0xFF, keyColor & 0xFF, 255);
            const std::uint32_t outside = ~(sf.RedMask | sf.GreenMask | sf.BlueMask);
            ForEachPixel(
                dest + static_cast<std::ptrdiff_t>(destX) * db, destPitch, db,
                source + static_cast<std::ptrdiff_t>(sourceRect->left) * sb, sourcePitch, sb, width,
                height, [&](std::uint8_t* d, const std::uint8_t* s, int, int) {
                    const std::uint32_t v = LoadPixel(s, sb);
                    const std::uint32_t compared = sb == 4 ? v | outside : v;
                    StorePixel(d, db, compared == keyValue ? v & ~df.AlphaMask : v | df.AlphaMask);
                });
            return 0;
        }
        // 8. Dedicated loops for the common pairs.
        if (!useAlphaImage && !toZero && !fromRed) {
            if (const DedicatedPair* pair = FindDedicatedPair(Classify(sf), Classify(df), key)) {
                std::uint8_t* d = dest + static_cast<std::ptrdiff_t>(destX) * db;
                const std::uint8_t* s = source + static_cast<std::ptrdiff_t>(sourceRect->left) * sb;
                const FixedLoop fixed =
                    kFixedLoops[static_cast<std::size_t>(pair - kDedicatedPairs)];
                if (fixed != nullptr) {
                    fixed(d, destPitch, s, sourcePitch, width, height, keyColor);
                } else if (pair->source == Kind::kPalette) {
                    RunPaletteLoop(*pair, d, destPitch, df, s, sourcePitch, sf, width, height,
                                   keyColor);
                } else {
                    RunDedicatedLoop(*pair, d, destPitch, df, s, sourcePitch, sf, width, height,
                                     keyColor);
                }
                return 0;
            }
        }
    }

    // The general pipeline without flags between mask formats of narrow channels: every
    // channel's contribution to the destination pixel depends on that channel alone, so it
    // is looked up in a table built once per call.
    if (noFlags && sf.ChannelCount == 0 && df.ChannelCount == 0 && !sourcePalette && !destPalette &&
        sb >= 2 && sb <= 4 && db >= 2 && db <= 4) {
        const Layout sl = MakeLayout(sf);
        const Layout dl = MakeLayout(df);
        if (std::max({sl.width[0], sl.width[1], sl.width[2], sl.width[3]}) <= 8) {
            std::uint32_t tables[4][256];
            std::uint32_t constant = db == 2 || db == 4 ? dl.unused : 0u;
            for (int c = 0; c < 4; ++c) {
                const int n = 1 << sl.width[c];
                for (int f = 0; f < n; ++f) {
                    const auto v = static_cast<std::uint32_t>(f);
                    tables[c][f] =
                        c < 3 ? ScaleWidth(v, sl.width[c], dl.width[c]) << dl.position[c]
                              : (ScaleWidth(v, sl.width[3], dl.width[3]) << dl.position[3]) &
                                    dl.mask[3];
                }
            }
            if (sl.width[3] == 0) {
                constant |= (FullOf(dl.width[3]) << dl.position[3]) & dl.mask[3];
                tables[3][0] = 0;
            }
            ChannelTables t{};
            std::memcpy(t.tables, tables, sizeof(tables));
            t.constant = constant;
            for (int c = 0; c < 4; ++c) {
                t.mask[c] = sl.mask[c];
                t.position[c] = sl.position[c];
            }
            RunChannelTables(t, dest + static_cast<std::ptrdiff_t>(destX) * db, destPitch, db,
                             source + static_cast<std::ptrdiff_t>(sourceRect->left) * sb,
                             sourcePitch, sb, width, height);
            return 0;
        }
    }

    // 9. The general pipeline. It reads one 8-bit channel as grey; two 8-bit channels have no
    // colour layout it could read, and one or two 8-bit channels none it could write, so only
    // the dedicated loops convert them.
    if (sf.ChannelCount == 2 && sf.FloatFlag == 0 && sf.BitsPerChannel == 8) return -1;
    if (df.ChannelCount != 0 && df.ChannelCount <= 2 && df.FloatFlag == 0 &&
        df.BitsPerChannel == 8) {
        return -1;
    }
    GeneralPlan plan{};
    plan.df = &df;
    plan.sf = &sf;
    plan.dl = MakeLayout(df);
    plan.sl = MakeLayout(sf);
    plan.sourceWide = IsWide(sf);
    plan.destWide = IsWide(df);
    plan.sourcePalette = IsPaletteFormat(sf);
    plan.useAlphaImage = useAlphaImage;
    plan.keyToAlpha = key;
    plan.colorToZero = toZero;
    plan.alphaFromRed = fromRed;
    plan.alphaPixels = static_cast<const std::uint8_t*>(alphaPixels);
    plan.alphaPitch = alphaPitch;
    plan.af = alphaFormat;
    if (alphaFormat != nullptr) plan.al = MakeLayout(*alphaFormat);
    if (plan.destWide && df.BitsPerChannel != 16 && df.FloatFlag == 0) return -1;
    if (key) {
        const std::uint32_t k = ComposeFormatColor(&sf, (keyColor >> 16) & 0xFF,
                                                   (keyColor >> 8) & 0xFF, keyColor & 0xFF, 255);
        const std::uint32_t raw = plan.sourcePalette ? PaletteEntry(sf, k) : k;
        for (int c = 0; c < 3; ++c) plan.key[c] = FieldOf(raw, plan.sl, c);
    }
    const int left = sourceRect->left;
    const int top = sourceRect->top;
    ForEachPixel(dest + static_cast<std::ptrdiff_t>(destX) * db, destPitch, db,
                 source + static_cast<std::ptrdiff_t>(left) * sb, sourcePitch, sb, width, height,
                 [&](std::uint8_t* d, const std::uint8_t* s, int row, int column) {
                     if (plan.destWide) {
                         GeneralToWide(plan, d, s);
                     } else {
                         GeneralToInteger(plan, d, s, row, column, left, top);
                     }
                 });
    return 0;
}

// ---- Formats and base images -------------------------------------------------------------------

BaseImageModuleStateData BaseImageModuleState{};

namespace {

constexpr const char* kAllocTag = "DxBaseImage";

// The pixel bytes of a set-up, or -1 when the size is negative, its pitch does not fit 32 bits or
// the image is larger than the library handles.
std::int64_t CheckedImageBytes(std::int64_t width, std::int64_t height, std::int64_t bytesPerPixel,
                               std::int64_t* pitch) {
    if (width < 0 || height < 0) return -1;
    const std::int64_t p = (width * bytesPerPixel + 3) & ~std::int64_t{3};
    if (p > INT32_MAX) return -1;
    const std::int64_t total = p * height;
    if (total > kMaxBaseImageBytes) return -1;
    *pitch = p;
    return total;
}

int AllocateBaseImage(BASEIMAGE* image, int width, int height, int bytesPerPixel, int line) {
    std::int64_t pitch = 0;
    const std::int64_t bytes = CheckedImageBytes(width, height, bytesPerPixel, &pitch);
    image->Width = width;
    image->Height = height;
    image->Pixels = nullptr;
    if (bytes < 0) {
        image->Pitch = 0;
        return -1;
    }
    image->Pitch = static_cast<std::int32_t>(pitch);
    image->Pixels = AllocateTrackedMemory(static_cast<std::size_t>(bytes), kAllocTag, line);
    if (image->Pixels == nullptr) return -1;
    image->MipCount = 0;
    image->ImageCount = 0;
    return 0;
}

std::uint32_t AllOnes(int bits) {
    return bits >= 32 ? 0xFFFFFFFFu : bits <= 0 ? 0u : (1u << bits) - 1u;
}

// An 8-bit integer channel format (read and written channel by channel).
bool IsByteChannelFormat(const COLORFORMAT& f) {
    return f.ChannelCount != 0 && f.FloatFlag == 0 && f.BitsPerChannel == 8;
}

}  // namespace

int InitDefaultPaletteFormat(COLORFORMAT* f, int withAlpha) {
    SetMaskLayout(f, 1, 0xFF0000, 0xFF00, 0xFF, withAlpha != 0 ? 0xFF000000u : 0u,
                  withAlpha != 0 ? 0u : 0xFF000000u, false);
    f->HighestPaletteIndex = 255;
    for (int i = 0; i < 256; ++i) {
        f->Palette[i][0] = static_cast<std::uint8_t>(((i >> 5) & 3) * 85);
        f->Palette[i][1] = static_cast<std::uint8_t>(((i >> 3) & 7) * 255 / 7);
        f->Palette[i][2] = static_cast<std::uint8_t>((i & 7) * 255 / 7);
        f->Palette[i][3] = withAlpha != 0 ? 255 : 0;
    }
    return 0;
}

int RecomputeColorFormatUnusedMask(COLORFORMAT* f) {
    const int used = f->RedWidth + f->GreenWidth + f->BlueWidth + f->AlphaWidth;
    if (used == f->BitsPerPixel) {
        f->UnusedMask = 0;
    } else {
        f->UnusedMask =
            AllOnes(f->BitsPerPixel) & ~(f->RedMask | f->GreenMask | f->BlueMask | f->AlphaMask);
    }
    return 0;
}

int NewBaseImageArgb8(int width, int height, BASEIMAGE* image) {
    InitColorFormatArgb8(&image->Format);
    return AllocateBaseImage(image, width, height, 4, __LINE__);
}

int NewBaseImageXrgb8(int width, int height, BASEIMAGE* image) {
    InitColorFormatXrgb8(&image->Format);
    return AllocateBaseImage(image, width, height, 4, __LINE__);
}

int NewBaseImageRgb24(int width, int height, BASEIMAGE* image) {
    InitColorFormatRgb24(&image->Format);
    return AllocateBaseImage(image, width, height, 3, __LINE__);
}

int NewBaseImagePal8(int width, int height, BASEIMAGE* image, int withAlpha) {
    InitDefaultPaletteFormat(&image->Format, withAlpha);
    return AllocateBaseImage(image, width, height, 1, __LINE__);
}

int NewBaseImageRgbaFloat32(int width, int height, BASEIMAGE* image) {
    InitColorFormatFromMasks(&image->Format, 0, 0, 0, 0, 0, 4, 32, 1);
    return AllocateBaseImage(image, width, height, 16, __LINE__);
}

int NewBaseImageInFormat(int width, int height, const COLORFORMAT* format, BASEIMAGE* image) {
    if (&image->Format != format) image->Format = *format;
    return AllocateBaseImage(image, width, height, format->BytesPerPixel, __LINE__);
}

int DisposeBaseImage(BASEIMAGE* image) {
    if (image->Pixels != nullptr) FreeTrackedMemory(image->Pixels);
    std::memset(image, 0, sizeof(*image));
    return 0;
}

int MakeBaseImageView(const BASEIMAGE* source, int left, int top, int right, int bottom,
                      BASEIMAGE* view) {
    if (left < 0 || left >= right || right > source->Width) return -1;
    if (top < 0 || top >= bottom || bottom > source->Height) return -1;
    if (source->Format.FormatKind != 0 || source->MipCount > 1) return -1;
    *view = *source;
    view->Width = right - left;
    view->Height = bottom - top;
    view->Pixels = static_cast<std::uint8_t*>(source->Pixels) +
                   static_cast<std::ptrdiff_t>(top) * source->Pitch +
                   static_cast<std::ptrdiff_t>(left) * source->Format.BytesPerPixel;
    return 0;
}

int BaseImageDataSize(const BASEIMAGE* image) {
    const int kind = image->Format.FormatKind;
    std::int64_t size;
    if (kind == 0) {
        size = std::int64_t{image->Pitch} * image->Height;
    } else if (kind >= 1 && kind <= 7) {
        size = std::int64_t{image->Height / 4} * (image->Width / 4) * (kind == 1 ? 8 : 16);
    } else {
        return -1;
    }
    if (image->MipCount >= 2) {
        std::int64_t total = 0;
        std::int64_t level = size;
        for (int i = 0; i < image->MipCount; ++i) {
            total += level;
            level = std::max<std::int64_t>(level / 4, 8);
        }
        size = total;
    }
    return size < 0 || size > INT32_MAX ? -1 : static_cast<int>(size);
}

int MaxUsedPaletteIndex(const BASEIMAGE* image) {
    if (image->Format.FormatKind != 0 || image->Format.BytesPerPixel != 1) return -1;
    int highest = 0;
    for (int y = 0; y < image->Height; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(image->Pixels) +
                          static_cast<std::ptrdiff_t>(y) * image->Pitch;
        for (int x = 0; x < image->Width; ++x) {
            if (row[x] > highest) {
                highest = row[x];
                if (highest == 255) return 255;
            }
        }
    }
    return highest;
}

namespace {

const COLORFORMAT* ScreenColorFormat() {
    const int depth = GraphicsSystemState.ScreenModeSettings.ColorBitDepth;
    return SelectMemImgColorFormat(depth == 0 || depth == 16 ? 0 : 1, 0, 0);
}

}  // namespace

std::uint32_t ComposeScreenColor(int red, int green, int blue) {
    if (GraphicsSystemState.DevicePresent != 0) {
        return 0xFF000000u | (static_cast<std::uint32_t>(red) & 0xFF) << 16 |
               static_cast<std::uint32_t>(green) << 8 | static_cast<std::uint32_t>(blue);
    }
    const COLORFORMAT& f = *ScreenColorFormat();
    auto place = [](int c, int width, int position) -> std::uint32_t {
        if (width == 0) return 0;
        return ((static_cast<std::uint32_t>(c) & 0xFF) >> (8 - width)) << position;
    };
    return place(red, f.RedWidth, f.RedPosition) + place(green, f.GreenWidth, f.GreenPosition) +
           place(blue, f.BlueWidth, f.BluePosition) + f.UnusedMask;
}

int DecomposeScreenColor(std::uint32_t color, int* red, int* green, int* blue) {
    if (GraphicsSystemState.DevicePresent != 0) {
        if (red != nullptr) *red = static_cast<int>((color >> 16) & 0xFF);
        if (green != nullptr) *green = static_cast<int>((color >> 8) & 0xFF);
        if (blue != nullptr) *blue = static_cast<int>(color & 0xFF);
        return 0;
    }
    const COLORFORMAT& f = *ScreenColorFormat();
    auto channel = [&](std::uint32_t mask, int position, int width) -> int {
        if (width == 0) return 0;
        return static_cast<int>(((color & mask) >> position) * 255u / AllOnes(width));
    };
    if (red != nullptr) *red = channel(f.RedMask, f.RedPosition, f.RedWidth);
    if (green != nullptr) *green = channel(f.GreenMask, f.GreenPosition, f.GreenWidth);
    if (blue != nullptr) *blue = channel(f.BlueMask, f.BluePosition, f.BlueWidth);
    return 0;
}

std::uint32_t ReadBaseImagePixelArgb(const BASEIMAGE* image, int x, int y) {
    if (image->Pixels == nullptr) return 0;
    const COLORFORMAT& f = image->Format;
    const int bytes = f.BytesPerPixel;
    if (bytes < 2 || bytes > 4) return 0;
    const auto* p = static_cast<const std::uint8_t*>(image->Pixels) +
                    static_cast<std::ptrdiff_t>(y) * image->Pitch +
                    static_cast<std::ptrdiff_t>(x) * bytes;
    const std::uint32_t v = LoadPixel(p, bytes);
    auto top = [&](std::uint32_t mask, int position, int width, int byteTop) -> std::uint32_t {
        if (width == 0 || width > byteTop) return 0;
        return ((v & mask) >> position) << (byteTop - width);
    };
    std::uint32_t out = top(f.BlueMask, f.BluePosition, f.BlueWidth, 8) |
                        top(f.GreenMask, f.GreenPosition, f.GreenWidth, 16) |
                        top(f.RedMask, f.RedPosition, f.RedWidth, 24);
    if (f.AlphaWidth != 0) out |= top(f.AlphaMask, f.AlphaPosition, f.AlphaWidth, 32);
    return out;
}

int ReadBaseImagePixelRgba(BASEIMAGE* image, int x, int y, int* red, int* green, int* blue,
                           int* alpha) {
    if (image->Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(image, 1) != 0) return -1;
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(image->Width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(image->Height) ||
        image->Pixels == nullptr) {
        return -1;
    }
    const COLORFORMAT& f = image->Format;
    const auto* p = static_cast<const std::uint8_t*>(image->Pixels) +
                    static_cast<std::ptrdiff_t>(y) * image->Pitch +
                    static_cast<std::ptrdiff_t>(x) * f.BytesPerPixel;
    int* outs[4] = {red, green, blue, alpha};
    if (f.ChannelCount != 0) {
        if (f.FloatFlag != 0 && f.BitsPerChannel != 16 && f.BitsPerChannel != 32) return -1;
        if (f.FloatFlag == 0 && f.BitsPerChannel != 8) return -1;
        for (int c = 0; c < f.ChannelCount && c < 4; ++c) {
            int value;
            if (f.FloatFlag == 0) {
                value = p[c];
            } else if (f.BitsPerChannel == 16) {
                std::uint16_t h;
                std::memcpy(&h, p + 2 * c, 2);
                value = static_cast<int>(HalfToFloat(h) * 255.0f);
            } else {
                float v;
                std::memcpy(&v, p + 4 * c, 4);
                value = static_cast<int>(v * 255.0f);
            }
            if (outs[c] != nullptr) *outs[c] = value;
        }
        return 0;
    }
    switch (f.BytesPerPixel) {
        case 1: {
            const std::uint8_t* e = f.Palette[*p];
            if (red != nullptr) *red = e[2];
            if (green != nullptr) *green = e[1];
            if (blue != nullptr) *blue = e[0];
            if (alpha != nullptr) *alpha = e[3];
            return 0;
        }
        case 2:
        case 3:
        case 4:
            return DecomposeFormatColor(&f, LoadPixel(p, f.BytesPerPixel), red, green, blue, alpha);
        default:
            return -1;
    }
}

int WriteBaseImagePixelRgba(BASEIMAGE* image, int x, int y, int red, int green, int blue,
                            int alpha) {
    if (image->Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(image, 1) != 0) return -1;
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(image->Width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(image->Height) ||
        image->Pixels == nullptr) {
        return -1;
    }
    const COLORFORMAT& f = image->Format;
    auto* p = static_cast<std::uint8_t*>(image->Pixels) +
              static_cast<std::ptrdiff_t>(y) * image->Pitch +
              static_cast<std::ptrdiff_t>(x) * f.BytesPerPixel;
    if (f.ChannelCount != 0 && f.FloatFlag != 0) {
        if (f.BitsPerChannel != 16 && f.BitsPerChannel != 32) return -1;
        const int values[4] = {red, green, blue, alpha};
        for (int c = 0; c < f.ChannelCount && c < 4; ++c) {
            const float v = static_cast<float>(values[c]) / 255.0f;
            if (f.BitsPerChannel == 32) {
                std::memcpy(p + 4 * c, &v, 4);
            } else {
                const std::uint16_t h = FloatToHalf(v);
                std::memcpy(p + 2 * c, &h, 2);
            }
        }
        return 0;
    }
    if (f.ChannelCount != 0 && !IsByteChannelFormat(f)) return -1;
    if (f.BytesPerPixel < 1 || f.BytesPerPixel > 4) return -1;
    StorePixel(p, f.BytesPerPixel, ComposeFormatColor(&f, red, green, blue, alpha));
    return 0;
}

Float4* SetFloat4(Float4* record, float red, float green, float blue, float alpha) {
    record->x = red;
    record->y = green;
    record->z = blue;
    record->w = alpha;
    return record;
}

std::uint32_t PackArgbColor(int red, int green, int blue, int alpha) {
    return (static_cast<std::uint32_t>(blue) & 0xFF) |
           (static_cast<std::uint32_t>(green) & 0xFF) << 8 |
           (static_cast<std::uint32_t>(red) & 0xFF) << 16 |
           (static_cast<std::uint32_t>(alpha) & 0xFF) << 24;
}

int MakeAlphaImageFileName(const char16_t* name, char16_t* output, int bufferBytes) {
    EnsureDefaultCharCodes();
    const std::int32_t wide = CharEncoding::Utf16Le;
    if (bufferBytes < 2) return 0;
    // The offset of the last dot, in bytes (-1 without one).
    int lastDot = -1;
    int end = 0;
    for (;;) {
        int length = 0;
        const std::uint32_t code =
            ReadCharCodeAt(reinterpret_cast<const std::uint8_t*>(name) + end, wide, &length);
        if (code == 0 || length <= 0) break;
        if (code == '.') lastDot = end;
        end += length;
    }
    auto* out = reinterpret_cast<std::uint8_t*>(output);
    int written = 0;
    const int room = bufferBytes - 2;  // the terminator always fits
    bool full = false;
    auto put = [&](std::uint32_t code) {
        if (full) return;
        const int n = EncodeCharCode(code, wide, out + written, room - written);
        if (n <= 0) {
            full = true;
            return;
        }
        written += n;
    };
    const int split = lastDot < 0 ? end : lastDot;
    auto copyRange = [&](int from, int to) {
        for (int at = from; at < to && !full;) {
            int length = 0;
            const std::uint32_t code =
                ReadCharCodeAt(reinterpret_cast<const std::uint8_t*>(name) + at, wide, &length);
            if (length <= 0) break;
            put(code);
            at += length;
        }
    };
    copyRange(0, split);
    put('_');
    put('a');
    copyRange(split, end);
    out[written] = 0;
    out[written + 1] = 0;
    return 0;
}

int InitBaseImageModule() {
    BaseImageModuleStateData& s = BaseImageModuleState;
    if (s.Initialised != 0) return -1;
    if (StartWicImageReader() != 0) return -1;
    for (int k = 0; k < 1280; ++k) {
        s.ByteClampTable[k] = static_cast<std::uint8_t>(std::clamp(k - 512, 0, 255));
    }
    for (int i = 0; i < 256; ++i) {
        s.YuvCoefficientTables[kYuvVToRed][i] = (i - 128) * 26148;
        s.YuvCoefficientTables[kYuvUToGreen][i] = (i - 128) * -6406;
        s.YuvCoefficientTables[kYuvVToGreen][i] = (i - 128) * -13320;
        s.YuvCoefficientTables[kYuvUToBlue][i] = (i - 128) * 33062;
        s.YuvCoefficientTables[kYuvLuma][i] = (i - 16) * 19070;
    }
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            s.Multiply255Table[a][b] = static_cast<std::uint8_t>(a * b / 255);
            s.Divide255Table[a][b] =
                b == 0 ? 0 : static_cast<std::uint8_t>(std::min(a * 255 / b, 255));
        }
    }
    s.Initialised = 1;
    return 0;
}

int EndBaseImageModule() {
    BaseImageModuleStateData& s = BaseImageModuleState;
    if (s.Initialised == 0) return -1;
    EndWicImageReader();
    s.Initialised = 0;
    return 0;
}

// ---- Rectangle copies, Windows bitmaps and half-size images -------------------------------------

int CopyBaseImageRect(int sourceX, int sourceY, int width, int height, int destX, int destY,
                      BASEIMAGE* source, BASEIMAGE* dest) {
    if (source->Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(source, 1) != 0) {
        return -1;
    }
    if (dest->Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(dest, 1) != 0) return -1;
    // Clip in 64 bits: the caller's sizes may be anything.
    std::int64_t sx = sourceX, sy = sourceY, dx = destX, dy = destY, w = width, h = height;
    if (sx < 0) {
        w += sx;
        dx -= sx;
        sx = 0;
    }
    if (sy < 0) {
        h += sy;
        dy -= sy;
        sy = 0;
    }
    if (dx < 0) {
        w += dx;
        sx -= dx;
        dx = 0;
    }
    if (dy < 0) {
        h += dy;
        sy -= dy;
        dy = 0;
    }
    w = std::min({w, std::int64_t{dest->Width} - dx, std::int64_t{source->Width} - sx});
    h = std::min({h, std::int64_t{dest->Height} - dy, std::int64_t{source->Height} - sy});
    if (w <= 0 || h <= 0) return 0;
    const RECT rect{static_cast<LONG>(sx), static_cast<LONG>(sy), static_cast<LONG>(sx + w),
                    static_cast<LONG>(sy + h)};
    const int result =
        ConvertPixelRect(dest->Pixels, dest->Pitch, &dest->Format, source->Pixels, source->Pitch,
                         &source->Format, nullptr, 0, nullptr, static_cast<int>(dx),
                         static_cast<int>(dy), &rect, 0, 0, 0, 0, 0, 0, 0, 1);
    return result == -1 ? -1 : 0;
}

int CopyWholeBaseImage(int destX, int destY, BASEIMAGE* source, BASEIMAGE* dest) {
    return CopyBaseImageRect(0, 0, source->Width, source->Height, destX, destY, source, dest);
}

int BaseImageToBitmapInfo(BASEIMAGE* image, BITMAPINFO* info, void** bits, int copy,
                          int force24Bit) {
    if (image->Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(image, 1) != 0) return -1;
    std::memset(&info->bmiHeader, 0, sizeof(info->bmiHeader));
    std::memset(&info->bmiColors[0], 0, sizeof(info->bmiColors[0]));
    if (image->Width < 0 || image->Height < 0) return -1;
    const COLORFORMAT& f = image->Format;
    const std::int64_t width = image->Width;
    const std::int64_t height = image->Height;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = image->Width;
    info->bmiHeader.biHeight = -image->Height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biCompression = BI_RGB;
    auto* pixels = static_cast<std::uint8_t*>(image->Pixels);
    // Copies each row's used bytes into a new buffer of padded rows.
    auto copyRows = [&](std::int64_t rowBytes, std::int64_t used) -> int {
        if (rowBytes * height > kMaxBaseImageBytes) return -1;
        auto* buffer = static_cast<std::uint8_t*>(AllocateTrackedMemory(
            static_cast<std::size_t>(std::max<std::int64_t>(rowBytes * height, 1)), kAllocTag,
            __LINE__));
        if (buffer == nullptr) return -1;
        for (std::int64_t y = 0; y < height; ++y) {
            std::memcpy(buffer + y * rowBytes, pixels + y * image->Pitch,
                        static_cast<std::size_t>(used));
            std::memset(buffer + y * rowBytes + used, 0, static_cast<std::size_t>(rowBytes - used));
        }
        *bits = buffer;
        return 1;
    };
    if (f.BitsPerPixel == 8 && f.ChannelCount == 0 && force24Bit == 0) {
        info->bmiHeader.biBitCount = 8;
        for (int i = 0; i < 256; ++i) {
            RGBQUAD& q = info->bmiColors[i];
            q.rgbBlue = f.Palette[i][0];
            q.rgbGreen = f.Palette[i][1];
            q.rgbRed = f.Palette[i][2];
            q.rgbReserved = f.Palette[i][3];
        }
        const std::int64_t rowBytes = (width + 3) & ~std::int64_t{3};
        if (copy == 1 || image->Pitch != rowBytes) return copyRows(rowBytes, width);
        *bits = image->Pixels;
        return copy;
    }
    info->bmiHeader.biBitCount = 24;
    const std::int64_t rowBytes = (width * 3 + 3) & ~std::int64_t{3};
    const bool rgb24 = f.ChannelCount == 0 && f.BitsPerPixel == 24 && f.RedMask == 0xFF0000 &&
                       f.GreenMask == 0xFF00 && f.BlueMask == 0xFF;
    if (!rgb24 || copy == 1) {
        if (rowBytes * height > kMaxBaseImageBytes) return -1;
        auto* buffer = static_cast<std::uint8_t*>(AllocateTrackedMemory(
            static_cast<std::size_t>(std::max<std::int64_t>(rowBytes * height, 1)), kAllocTag,
            __LINE__));
        if (buffer == nullptr) return -1;
        if (width > 0 && height > 0) {
            COLORFORMAT rgb{};
            InitColorFormatRgb24(&rgb);
            for (std::int64_t y = 0; y < height; ++y) {
                std::memset(buffer + y * rowBytes + width * 3, 0,
                            static_cast<std::size_t>(rowBytes - width * 3));
            }
            const RECT rect{0, 0, image->Width, image->Height};
            if (ConvertPixelRect(buffer, static_cast<int>(rowBytes), &rgb, image->Pixels,
                                 image->Pitch, &f, nullptr, 0, nullptr, 0, 0, &rect, 0, 0, 0, 0, 0,
                                 0, 0, 0) == -1) {
                FreeTrackedMemory(buffer);
                return -1;
            }
        }
        *bits = buffer;
        return 1;
    }
    if (image->Pitch != rowBytes) return copyRows(rowBytes, width * 3);
    *bits = image->Pixels;
    return copy;
}

int DownsampleHalfRect(const COLORFORMAT* format, void* destPixels, int destPitch,
                       const void* sourcePixels, int sourcePitch, int destX, int destY, int sourceX,
                       int sourceY, int width, int height) {
    if ((width != 1 && (width & 1) != 0) || (height != 1 && (height & 1) != 0)) return -1;
    if (width < 0 || height < 0) return -1;
    const int bits = format->BitsPerPixel;
    const bool handled = format->ChannelCount == 0 && (bits == 16 || bits == 32);
    if (width == 1 && height == 1 && !handled) return 0;
    if (!handled) return -1;
    const int bytes = bits / 8;
    auto* dest = static_cast<std::uint8_t*>(destPixels) +
                 static_cast<std::ptrdiff_t>(destY) * destPitch +
                 static_cast<std::ptrdiff_t>(destX) * bytes;
    const auto* source = static_cast<const std::uint8_t*>(sourcePixels) +
                         static_cast<std::ptrdiff_t>(sourceY) * sourcePitch +
                         static_cast<std::ptrdiff_t>(sourceX) * bytes;
    const std::uint32_t masks[4] = {format->RedMask, format->GreenMask, format->BlueMask,
                                    format->AlphaMask};
    const int positions[4] = {format->RedPosition, format->GreenPosition, format->BluePosition,
                              format->AlphaPosition};
    auto at = [&](int x, int y) {
        return LoadPixel(source + static_cast<std::ptrdiff_t>(y) * sourcePitch +
                             static_cast<std::ptrdiff_t>(x) * bytes,
                         bytes);
    };
    auto put = [&](int x, int y, std::uint32_t v) {
        StorePixel(dest + static_cast<std::ptrdiff_t>(y) * destPitch +
                       static_cast<std::ptrdiff_t>(x) * bytes,
                   bytes, v);
    };
    // The mean of n (1, 2 or 4) pixels, channel by channel; unused bits end up 0.
    auto mean = [&](const std::uint32_t* p, int n, int shift) {
        std::uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            if (masks[c] == 0) continue;
            std::uint32_t sum = 0;
            for (int i = 0; i < n; ++i) sum += (p[i] & masks[c]) >> positions[c];
            out |= ((sum >> shift) << positions[c]) & masks[c];
        }
        return out;
    };
    if (width == 1 && height == 1) {
        put(0, 0, at(0, 0));
    } else if (width == 1) {
        for (int y = 0; y < height / 2; ++y) {
            const std::uint32_t p[2] = {at(0, 2 * y), at(0, 2 * y + 1)};
            put(0, y, mean(p, 2, 1));
        }
    } else if (height == 1) {
        for (int x = 0; x < width / 2; ++x) {
            const std::uint32_t p[2] = {at(2 * x, 0), at(2 * x + 1, 0)};
            put(x, 0, mean(p, 2, 1));
        }
    } else {
        for (int y = 0; y < height / 2; ++y) {
            for (int x = 0; x < width / 2; ++x) {
                const std::uint32_t p[4] = {at(2 * x, 2 * y), at(2 * x + 1, 2 * y),
                                            at(2 * x, 2 * y + 1), at(2 * x + 1, 2 * y + 1)};
                put(x, y, mean(p, 4, 2));
            }
        }
    }
    return 0;
}

// ---- Block-compressed images
// ---------------------------------------------------------------------

namespace {

// The four colours of a colour block as ARGB8 values.
void BuildColorTable(const std::uint8_t* block, bool dxt1, std::uint32_t* table) {
    const std::uint32_t w0 = static_cast<std::uint32_t>(block[0] | block[1] << 8);
    const std::uint32_t w1 = static_cast<std::uint32_t>(block[2] | block[3] << 8);
    std::uint32_t c[2][3];  // red, green, blue
    const std::uint32_t words[2] = {w0, w1};
    for (int i = 0; i < 2; ++i) {
        c[i][0] = (words[i] >> 11) * 255 / 31;
        c[i][1] = ((words[i] >> 5) & 0x3F) * 255 / 63;
        c[i][2] = (words[i] & 0x1F) * 255 / 31;
    }
    auto pack = [](std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
        return a << 24 | r << 16 | g << 8 | b;
    };
    table[0] = pack(c[0][0], c[0][1], c[0][2], 255);
    table[1] = pack(c[1][0], c[1][1], c[1][2], 255);
    if (!dxt1 || w0 > w1) {
        table[2] = pack((2 * c[0][0] + c[1][0]) / 3, (2 * c[0][1] + c[1][1]) / 3,
                        (2 * c[0][2] + c[1][2]) / 3, 255);
        table[3] = pack((c[0][0] + 2 * c[1][0]) / 3, (c[0][1] + 2 * c[1][1]) / 3,
                        (c[0][2] + 2 * c[1][2]) / 3, 255);
    } else {
        const std::uint32_t r = (c[0][0] + c[1][0]) / 2;
        const std::uint32_t g = (c[0][1] + c[1][1]) / 2;
        const std::uint32_t b = (c[0][2] + c[1][2]) / 2;
        table[2] = pack(r, g, b, 255);
        table[3] = pack(r, g, b, 0);
    }
}

// The eight alphas of a DXT4/DXT5 alpha block.
void BuildAlphaTable(const std::uint8_t* block, std::uint32_t* table) {
    const std::uint32_t a0 = block[0];
    const std::uint32_t a1 = block[1];
    table[0] = a0;
    table[1] = a1;
    if (a0 > a1) {
        for (std::uint32_t i = 1; i <= 6; ++i) table[i + 1] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (std::uint32_t i = 1; i <= 4; ++i) table[i + 1] = ((5 - i) * a0 + i * a1) / 5;
        table[6] = 0;
        table[7] = 255;
    }
}

// Straight colour from premultiplied colour; a colour above its alpha (invalid data) is limited
// to 255, and alpha 0 gives black.
inline std::uint32_t Unpremultiply(std::uint32_t p) {
    const std::uint32_t a = p >> 24;
    if (a == 0) return 0;
    auto un = [a](std::uint32_t c) { return std::min<std::uint32_t>(c * 255 / a, 255); };
    return a << 24 | un((p >> 16) & 0xFF) << 16 | un((p >> 8) & 0xFF) << 8 | un(p & 0xFF);
}

// Decodes one block into 4 rows of 4 ARGB8 pixels at dest.
template <int Kind>
inline void DecodeBlock(const std::uint8_t* block, std::uint8_t* dest, std::ptrdiff_t pitch) {
    std::uint32_t colors[4];
    const std::uint8_t* colorBlock = Kind == 1 ? block : block + 8;
    BuildColorTable(colorBlock, Kind == 1, colors);
    std::uint32_t indices;  // sixteen 2-bit colour indices, pixel 0 lowest
    std::memcpy(&indices, colorBlock + 4, 4);
    if constexpr (Kind == 1) {
        for (int row = 0; row < 4; ++row) {
            std::uint32_t out[4];
            for (int column = 0; column < 4; ++column) {
                out[column] = colors[(indices >> (2 * (4 * row + column))) & 3];
            }
            std::memcpy(dest + row * pitch, out, 16);
        }
    } else if constexpr (Kind == 4 || Kind == 5) {
        // The block's alphas replace the colour table's, so the colours are kept without them
        // and each pixel is one OR of two table entries.
        std::uint32_t alphas[8];
        BuildAlphaTable(block, alphas);
        for (std::uint32_t& a : alphas) a <<= 24;
        for (std::uint32_t& c : colors) c &= 0xFFFFFFu;
        std::uint64_t alphaBits;  // sixteen 3-bit alpha indices after the two alphas
        std::memcpy(&alphaBits, block, 8);
        alphaBits >>= 16;
        for (int row = 0; row < 4; ++row) {
            std::uint32_t out[4];
            for (int column = 0; column < 4; ++column) {
                const int i = 4 * row + column;
                std::uint32_t p =
                    colors[(indices >> (2 * i)) & 3] | alphas[(alphaBits >> (3 * i)) & 7];
                if constexpr (Kind == 4) p = Unpremultiply(p);
                out[column] = p;
            }
            std::memcpy(dest + row * pitch, out, 16);
        }
    } else {
        std::uint64_t alphaBits;  // sixteen nibbles, pixel 0 lowest
        std::memcpy(&alphaBits, block, 8);
        for (int row = 0; row < 4; ++row) {
            std::uint32_t out[4];
            for (int column = 0; column < 4; ++column) {
                const int i = 4 * row + column;
                std::uint32_t p = (colors[(indices >> (2 * i)) & 3] & 0xFFFFFFu) |
                                  static_cast<std::uint32_t>((alphaBits >> (4 * i)) & 0xF) * 17
                                      << 24;
                if constexpr (Kind == 2) p = Unpremultiply(p);
                out[column] = p;
            }
            std::memcpy(dest + row * pitch, out, 16);
        }
    }
}

template <int Kind>
void DecodeBlockRows(const std::uint8_t* blocks, std::uint8_t* out, std::int64_t blocksWide,
                     std::int64_t blocksHigh, std::ptrdiff_t pitch) {
    constexpr int kBlockBytes = Kind == 1 ? 8 : 16;
    for (std::int64_t by = 0; by < blocksHigh; ++by) {
        const std::uint8_t* b = blocks + by * blocksWide * kBlockBytes;
        std::uint8_t* d = out + by * 4 * pitch;
        for (std::int64_t bx = 0; bx < blocksWide; ++bx) {
            DecodeBlock<Kind>(b + bx * kBlockBytes, d + bx * 16, pitch);
        }
    }
}

}  // namespace

int DecodeBlockCompressedBaseImage(BASEIMAGE* image, int freeOld) {
    const int kind = image->Format.FormatKind;
    if (kind == 0) return 0;
    if (kind < 1 || kind > 5) return -1;
    if (image->Width < 0 || image->Height < 0) return -1;
    const int faces = image->ImageCount != 0 ? 6 : 1;
    const std::int64_t blocksWide = (std::int64_t{image->Width} + 3) / 4;
    const std::int64_t blocksHigh = (std::int64_t{image->Height} + 3) / 4;
    const std::int64_t pitch = blocksWide * 16;
    const std::int64_t faceBytes = blocksHigh * 4 * pitch;
    if (pitch > INT32_MAX || faceBytes * faces > kMaxBaseImageBytes) return -1;
    auto* buffer = static_cast<std::uint8_t*>(AllocateTrackedMemory(
        static_cast<std::size_t>(std::max<std::int64_t>(faceBytes * faces, 1)), kAllocTag,
        __LINE__));
    if (buffer == nullptr) return -1;
    const int blockBytes = kind == 1 ? 8 : 16;
    // The compressed bytes of one face: all its levels.
    std::int64_t faceSource = 0;
    const int levels = std::max(image->MipCount, 1);
    for (int l = 0; l < levels; ++l) {
        const std::int64_t w = std::max<std::int64_t>(std::int64_t{image->Width} >> l, 1);
        const std::int64_t h = std::max<std::int64_t>(std::int64_t{image->Height} >> l, 1);
        faceSource += ((w + 3) / 4) * ((h + 3) / 4) * blockBytes;
    }
    const auto* source = static_cast<const std::uint8_t*>(image->Pixels);
    for (int face = 0; face < faces; ++face) {
        const std::uint8_t* blocks = source + face * faceSource;
        std::uint8_t* out = buffer + face * faceBytes;
        using Rows = void (*)(const std::uint8_t*, std::uint8_t*, std::int64_t, std::int64_t,
                              std::ptrdiff_t);
        static constexpr Rows kRows[5] = {DecodeBlockRows<1>, DecodeBlockRows<2>,
                                          DecodeBlockRows<3>, DecodeBlockRows<4>,
                                          DecodeBlockRows<5>};
        kRows[kind - 1](blocks, out, blocksWide, blocksHigh, static_cast<std::ptrdiff_t>(pitch));
    }
    if (freeOld != 0 && image->Pixels != nullptr) FreeTrackedMemory(image->Pixels);
    image->Pixels = buffer;
    InitColorFormatArgb8(&image->Format);
    image->Pitch = static_cast<std::int32_t>(pitch);
    return 0;
}

int PremultiplyBaseImageAlpha(BASEIMAGE* image) {
    const COLORFORMAT& f = image->Format;
    const bool hasAlpha = f.ChannelCount != 0 ? f.ChannelCount >= 4 : f.AlphaWidth != 0;
    if (!hasAlpha) return 0;
    if (f.FormatKind != 0 && DecodeBlockCompressedBaseImage(image, 1) != 0) return -1;
    const bool argb8 = f.ChannelCount == 0 && f.BitsPerPixel == 32 && f.BytesPerPixel == 4 &&
                       f.FloatFlag == 0 && f.UnusedMask == 0 && f.AlphaMask == 0xFF000000u &&
                       f.RedMask == 0xFF0000 && f.GreenMask == 0xFF00 && f.BlueMask == 0xFF;
    if (!argb8) {
        BASEIMAGE old = *image;
        if (NewBaseImageArgb8(old.Width, old.Height, image) != 0 ||
            CopyBaseImageRect(0, 0, old.Width, old.Height, 0, 0, &old, image) != 0) {
            if (image->Pixels != nullptr) FreeTrackedMemory(image->Pixels);
            *image = old;
            return -1;
        }
        if (old.Pixels != nullptr) FreeTrackedMemory(old.Pixels);
    }
    const BaseImageModuleStateData& s = BaseImageModuleState;
    for (int y = 0; y < image->Height; ++y) {
        auto* p = static_cast<std::uint8_t*>(image->Pixels) +
                  static_cast<std::ptrdiff_t>(y) * image->Pitch;
        for (int x = 0; x < image->Width; ++x, p += 4) {
            const std::uint8_t a = p[3];
            for (int c = 0; c < 3; ++c) {
                p[c] = s.Initialised != 0 ? s.Multiply255Table[p[c]][a]
                                          : static_cast<std::uint8_t>(p[c] * a / 255);
            }
        }
    }
    return 0;
}

// ---- YUV frames
// -----------------------------------------------------------------------------------

namespace {

// Full-range YUV with 15 fraction bits: clamp((Y << 15) + T) >> 15 for a chroma term T. As
// Y << 15 is a multiple of 2^15 this equals Y + (T >> 15) limited to 0..255, so each chroma
// sample gives three small terms once, and each pixel adds its luma to them.
struct ChromaTerms {
    std::int16_t blue, green, red;
};

inline ChromaTerms MakeChromaTerms(int u, int v) {
    return {static_cast<std::int16_t>(((u - 128) * 58064) >> 15),
            static_cast<std::int16_t>((-(u - 128) * 11272 - (v - 128) * 23396) >> 15),
            static_cast<std::int16_t>(((v - 128) * 45940) >> 15)};
}

inline void PutYuvPixel(std::uint8_t* d, int luma, const ChromaTerms& t) {
    d[0] = static_cast<std::uint8_t>(std::clamp(luma + t.blue, 0, 255));
    d[1] = static_cast<std::uint8_t>(std::clamp(luma + t.green, 0, 255));
    d[2] = static_cast<std::uint8_t>(std::clamp(luma + t.red, 0, 255));
    d[3] = 255;
}

inline std::uint8_t* DestRow(BASEIMAGE* dest, int y) {
    return static_cast<std::uint8_t*>(dest->Pixels) + static_cast<std::ptrdiff_t>(y) * dest->Pitch;
}

#if defined(__SSE2__) && defined(__x86_64__)
// The terms of four chroma samples, as 16-bit lanes 0 to 3, from four (first, second) pairs of
// 16-bit chroma values: U first unless vFirst. The multipliers are halved where they exceed 16
// bits, with one bit less shifted off: the same quotients.
struct TermLanes {
    __m128i blue, green, red;
};

inline __m128i PairLanes(int first, int second) {
    return _mm_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(second) << 16 |
                                           (static_cast<std::uint32_t>(first) & 0xFFFF)));
}

template <bool VFirst>
inline TermLanes TermsOfPairs(__m128i pairs) {
    const __m128i c = _mm_sub_epi16(pairs, _mm_set1_epi16(128));
    const __m128i blue = VFirst ? PairLanes(0, 29032) : PairLanes(29032, 0);
    const __m128i green = VFirst ? PairLanes(-23396, -11272) : PairLanes(-11272, -23396);
    const __m128i red = VFirst ? PairLanes(22970, 0) : PairLanes(0, 22970);
    return {_mm_srai_epi32(_mm_madd_epi16(c, blue), 14),
            _mm_srai_epi32(_mm_madd_epi16(c, green), 15),
            _mm_srai_epi32(_mm_madd_epi16(c, red), 14)};
}

// The terms of eight samples as 16-bit lanes, from two registers of four pairs each.
template <bool VFirst>
inline TermLanes TermsOfEightPairs(__m128i first, __m128i second) {
    const TermLanes a = TermsOfPairs<VFirst>(first);
    const TermLanes b = TermsOfPairs<VFirst>(second);
    return {_mm_packs_epi32(a.blue, b.blue), _mm_packs_epi32(a.green, b.green),
            _mm_packs_epi32(a.red, b.red)};
}

// Each term of samples 0-3 (Low) or 4-7 for two neighbouring pixels: t0 t0 t1 t1 ...
template <bool Low>
inline TermLanes Doubled(const TermLanes& t) {
    if constexpr (Low) {
        return {_mm_unpacklo_epi16(t.blue, t.blue), _mm_unpacklo_epi16(t.green, t.green),
                _mm_unpacklo_epi16(t.red, t.red)};
    } else {
        return {_mm_unpackhi_epi16(t.blue, t.blue), _mm_unpackhi_epi16(t.green, t.green),
                _mm_unpackhi_epi16(t.red, t.red)};
    }
}

// Sixteen pixels: two groups of eight luma lanes with their terms, packed together.
inline void StoreYuvLanes16(std::uint8_t* d, __m128i lumaLow, __m128i lumaHigh,
                            const TermLanes& low, const TermLanes& high) {
    auto channel = [&](__m128i termsLow, __m128i termsHigh) {
        return _mm_packus_epi16(_mm_add_epi16(lumaLow, termsLow),
                                _mm_add_epi16(lumaHigh, termsHigh));  // limits to 0..255
    };
    const __m128i b = channel(low.blue, high.blue);
    const __m128i g = channel(low.green, high.green);
    const __m128i r = channel(low.red, high.red);
    const __m128i opaque = _mm_set1_epi8(-1);
    const __m128i bgLow = _mm_unpacklo_epi8(b, g), bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i raLow = _mm_unpacklo_epi8(r, opaque), raHigh = _mm_unpackhi_epi8(r, opaque);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi16(bgLow, raLow));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_unpackhi_epi16(bgLow, raLow));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), _mm_unpacklo_epi16(bgHigh, raHigh));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48), _mm_unpackhi_epi16(bgHigh, raHigh));
}

inline __m128i LumaLanes(const std::uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_setzero_si128());
}
#endif

// 4:2:0 with interleaved (U, V) pairs (NV12, chromaStep 2) or separate planes (YV12, 1).
void Unpack420(const std::uint8_t* luma, const std::uint8_t* u, const std::uint8_t* v,
               int chromaStep, std::ptrdiff_t chromaPitch, int width, int height, BASEIMAGE* dest) {
    const int pixels = width / 2 * 2;
    for (int y = 0; y < height / 2; ++y) {
        const std::uint8_t* l0 = luma + static_cast<std::ptrdiff_t>(2 * y) * width;
        const std::uint8_t* l1 = l0 + width;
        const std::uint8_t* ur = u + y * chromaPitch;
        const std::uint8_t* vr = v + y * chromaPitch;
        std::uint8_t* d0 = DestRow(dest, 2 * y);
        std::uint8_t* d1 = DestRow(dest, 2 * y + 1);
        int x = 0;
#if defined(__SSE2__) && defined(__x86_64__)
        for (; x + 16 <= pixels; x += 16) {
            __m128i bytes;  // eight U, V pairs
            if (chromaStep == 2) {
                bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ur + x));
            } else {
                bytes = _mm_unpacklo_epi8(
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(ur + x / 2)),
                    _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vr + x / 2)));
            }
            const __m128i zero = _mm_setzero_si128();
            const TermLanes t = TermsOfEightPairs<false>(_mm_unpacklo_epi8(bytes, zero),
                                                         _mm_unpackhi_epi8(bytes, zero));
            const TermLanes low = Doubled<true>(t);
            const TermLanes high = Doubled<false>(t);
            StoreYuvLanes16(d0 + 4 * x, LumaLanes(l0 + x), LumaLanes(l0 + x + 8), low, high);
            StoreYuvLanes16(d1 + 4 * x, LumaLanes(l1 + x), LumaLanes(l1 + x + 8), low, high);
        }
#endif
        for (; x < pixels; x += 2) {
            const int c = x / 2 * chromaStep;
            const ChromaTerms t = MakeChromaTerms(ur[c], vr[c]);
            PutYuvPixel(d0 + 4 * x, l0[x], t);
            PutYuvPixel(d0 + 4 * x + 4, l0[x + 1], t);
            PutYuvPixel(d1 + 4 * x, l1[x], t);
            PutYuvPixel(d1 + 4 * x + 4, l1[x + 1], t);
        }
    }
}

// 4:2:2 packed: 4 bytes per 2 pixels with Y0, U, Y1, V at the given offsets (luma either at the
// even bytes, YUY2 and YVYU, or at the odd ones, UYVY; chroma at the others).
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define DX_YUV_AVX2 1
// The 4:2:2 step with 256-bit registers where the processor has AVX2: each 128-bit half does
// what the SSE2 step does for its own pixels, and the halves are put in order when stored.
// Returns the pixels done (a multiple of 32).
template <bool LumaEven, bool VFirst>
__attribute__((target("avx2"))) int Unpack422RowAvx2(const std::uint8_t* row, std::uint8_t* d,
                                                     int pixels) {
    const __m256i mask = _mm256_set1_epi16(0xFF);
    const __m256i centre = _mm256_set1_epi16(128);
    const __m256i blue = _mm256_set1_epi32(VFirst ? 29032 << 16 : 29032);
    const __m256i green = _mm256_set1_epi32(
        VFirst ? static_cast<int>(static_cast<std::uint32_t>(-11272) << 16 | (-23396 & 0xFFFF))
               : static_cast<int>(static_cast<std::uint32_t>(-23396) << 16 | (-11272 & 0xFFFF)));
    const __m256i red = _mm256_set1_epi32(VFirst ? 22970 : 22970 << 16);
    const __m256i opaque = _mm256_set1_epi8(-1);
    int x = 0;
    for (; x + 32 <= pixels; x += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * x));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 2 * x + 32));
        const __m256i evenA = _mm256_and_si256(a, mask), oddA = _mm256_srli_epi16(a, 8);
        const __m256i evenB = _mm256_and_si256(b, mask), oddB = _mm256_srli_epi16(b, 8);
        const __m256i lumaA = LumaEven ? evenA : oddA, lumaB = LumaEven ? evenB : oddB;
        const __m256i cA = _mm256_sub_epi16(LumaEven ? oddA : evenA, centre);
        const __m256i cB = _mm256_sub_epi16(LumaEven ? oddB : evenB, centre);
        const __m256i tb = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(cA, blue), 14),
                                              _mm256_srai_epi32(_mm256_madd_epi16(cB, blue), 14));
        const __m256i tg = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(cA, green), 15),
                                              _mm256_srai_epi32(_mm256_madd_epi16(cB, green), 15));
        const __m256i tr = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_madd_epi16(cA, red), 14),
                                              _mm256_srai_epi32(_mm256_madd_epi16(cB, red), 14));
        const __m256i bv =
            _mm256_packus_epi16(_mm256_add_epi16(lumaA, _mm256_unpacklo_epi16(tb, tb)),
                                _mm256_add_epi16(lumaB, _mm256_unpackhi_epi16(tb, tb)));
        const __m256i gv =
            _mm256_packus_epi16(_mm256_add_epi16(lumaA, _mm256_unpacklo_epi16(tg, tg)),
                                _mm256_add_epi16(lumaB, _mm256_unpackhi_epi16(tg, tg)));
        const __m256i rv =
            _mm256_packus_epi16(_mm256_add_epi16(lumaA, _mm256_unpacklo_epi16(tr, tr)),
                                _mm256_add_epi16(lumaB, _mm256_unpackhi_epi16(tr, tr)));
        const __m256i bgLow = _mm256_unpacklo_epi8(bv, gv), bgHigh = _mm256_unpackhi_epi8(bv, gv);
        const __m256i raLow = _mm256_unpacklo_epi8(rv, opaque);
        const __m256i raHigh = _mm256_unpackhi_epi8(rv, opaque);
        const __m256i p0 = _mm256_unpacklo_epi16(bgLow, raLow);
        const __m256i p1 = _mm256_unpackhi_epi16(bgLow, raLow);
        const __m256i p2 = _mm256_unpacklo_epi16(bgHigh, raHigh);
        const __m256i p3 = _mm256_unpackhi_epi16(bgHigh, raHigh);
        auto* out = reinterpret_cast<__m256i*>(d + 4 * x);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(p0, p1, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
        _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p2, p3, 0x20));
        _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
    }
    return x;
}
#endif

template <int Y0At, int UAt, int Y1At, int VAt>
void Unpack422(const std::uint8_t* frame, int width, int height, BASEIMAGE* dest) {
#if defined(DX_YUV_AVX2)
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
#endif
    const int pixels = width / 2 * 2;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = frame + static_cast<std::ptrdiff_t>(y) * 2 * width;
        std::uint8_t* d = DestRow(dest, y);
        int x = 0;
#if defined(DX_YUV_AVX2)
        if (avx2) x = Unpack422RowAvx2<Y0At == 0, (VAt < UAt)>(row, d, pixels);
#endif
#if defined(__SSE2__) && defined(__x86_64__)
        const __m128i mask = _mm_set1_epi16(0xFF);
        for (; x + 16 <= pixels; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x + 16));
            const __m128i evenA = _mm_and_si128(a, mask), oddA = _mm_srli_epi16(a, 8);
            const __m128i evenB = _mm_and_si128(b, mask), oddB = _mm_srli_epi16(b, 8);
            constexpr bool lumaEven = Y0At == 0;
            const TermLanes t =
                TermsOfEightPairs<(VAt < UAt)>(lumaEven ? oddA : evenA, lumaEven ? oddB : evenB);
            StoreYuvLanes16(d + 4 * x, lumaEven ? evenA : oddA, lumaEven ? evenB : oddB,
                            Doubled<true>(t), Doubled<false>(t));
        }
#endif
        for (; x < pixels; x += 2) {
            const std::uint8_t* s = row + 2 * x;
            const ChromaTerms t = MakeChromaTerms(s[UAt], s[VAt]);
            PutYuvPixel(d + 4 * x, s[Y0At], t);
            PutYuvPixel(d + 4 * x + 4, s[Y1At], t);
        }
    }
}

void Split422(const std::uint8_t* frame, int y0At, int uAt, int y1At, int vAt, int width,
              int height, std::uint8_t* luma, std::uint8_t* chroma) {
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* s = frame + static_cast<std::ptrdiff_t>(y) * 2 * width;
        std::uint8_t* l = luma + static_cast<std::ptrdiff_t>(y) * width;
        std::uint8_t* c = chroma + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < width / 2; ++x, s += 4) {
            l[2 * x] = s[y0At];
            l[2 * x + 1] = s[y1At];
            c[2 * x] = s[uAt];
            c[2 * x + 1] = s[vAt];
        }
    }
}

const std::uint8_t* Bytes(const void* p) {
    return static_cast<const std::uint8_t*>(p);
}

std::size_t LumaBytes(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

}  // namespace

int UnpackNv11Frame(const void* frame, int width, int height, BASEIMAGE* dest) {
    const std::uint8_t* luma = Bytes(frame);
    const std::uint8_t* chroma = luma + LumaBytes(width, height);
    const int pixels = width / 4 * 4;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* l = luma + static_cast<std::ptrdiff_t>(y) * width;
        const std::uint8_t* c = chroma + static_cast<std::ptrdiff_t>(y) * (width / 2);
        std::uint8_t* d = DestRow(dest, y);
        int x = 0;
#if defined(__SSE2__) && defined(__x86_64__)
        for (; x + 16 <= pixels; x += 16) {
            // Four pairs serve sixteen pixels, four each.
            const TermLanes t = TermsOfEightPairs<false>(LumaLanes(c + x / 2), _mm_setzero_si128());
            const TermLanes two = Doubled<true>(t);
            const TermLanes first = {_mm_unpacklo_epi32(two.blue, two.blue),
                                     _mm_unpacklo_epi32(two.green, two.green),
                                     _mm_unpacklo_epi32(two.red, two.red)};
            const TermLanes second = {_mm_unpackhi_epi32(two.blue, two.blue),
                                      _mm_unpackhi_epi32(two.green, two.green),
                                      _mm_unpackhi_epi32(two.red, two.red)};
            StoreYuvLanes16(d + 4 * x, LumaLanes(l + x), LumaLanes(l + x + 8), first, second);
        }
#endif
        for (; x < pixels; x += 4) {
            const ChromaTerms t = MakeChromaTerms(c[x / 2], c[x / 2 + 1]);
            for (int i = 0; i < 4; ++i) PutYuvPixel(d + 4 * (x + i), l[x + i], t);
        }
    }
    return 0;
}

int UnpackNv12Frame(const void* frame, int width, int height, BASEIMAGE* dest) {
    const std::uint8_t* luma = Bytes(frame);
    const std::uint8_t* chroma = luma + LumaBytes(width, height);
    Unpack420(luma, chroma, chroma + 1, 2, width, width, height, dest);
    return 0;
}

int UnpackYv12Frame(const void* frame, int width, int height, BASEIMAGE* dest) {
    const std::uint8_t* luma = Bytes(frame);
    const std::uint8_t* v = luma + LumaBytes(width, height);
    const std::uint8_t* u = v + LumaBytes(width / 2, height / 2);
    Unpack420(luma, u, v, 1, width / 2, width, height, dest);
    return 0;
}

int UnpackUyvyFrame(const void* frame, int width, int height, BASEIMAGE* dest) {
    Unpack422<1, 0, 3, 2>(Bytes(frame), width, height, dest);
    return 0;
}

int UnpackYuy2Frame(const void* frame, int width, int height, BASEIMAGE* dest) {
    Unpack422<0, 1, 2, 3>(Bytes(frame), width, height, dest);
    return 0;
}

int UnpackYvyuFrame(const void* frame, int width, int height, BASEIMAGE* dest) {
    Unpack422<0, 3, 2, 1>(Bytes(frame), width, height, dest);
    return 0;
}

int SplitNv11FrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    std::memcpy(luma, frame, LumaBytes(width, height));
    std::memcpy(chroma, Bytes(frame) + LumaBytes(width, height), LumaBytes(width / 2, height));
    return 0;
}

int SplitNv12FrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    std::memcpy(luma, frame, LumaBytes(width, height));
    std::memcpy(chroma, Bytes(frame) + LumaBytes(width, height), LumaBytes(width, height / 2));
    return 0;
}

int SplitYv12FrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    std::memcpy(luma, frame, LumaBytes(width, height));
    const std::uint8_t* v = Bytes(frame) + LumaBytes(width, height);
    const std::uint8_t* u = v + LumaBytes(width / 2, height / 2);
    auto* c = static_cast<std::uint8_t*>(chroma);
    for (int y = 0; y < height / 2; ++y) {
        std::uint8_t* row = c + static_cast<std::ptrdiff_t>(y) * width;
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * (width / 2);
        for (int x = 0; x < width / 2; ++x) {
            row[2 * x] = u[at + x];
            row[2 * x + 1] = v[at + x];
        }
    }
    return 0;
}

int SplitUyvyFrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    Split422(Bytes(frame), 1, 0, 3, 2, width, height, static_cast<std::uint8_t*>(luma),
             static_cast<std::uint8_t*>(chroma));
    return 0;
}

int SplitYuy2FrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    Split422(Bytes(frame), 0, 1, 2, 3, width, height, static_cast<std::uint8_t*>(luma),
             static_cast<std::uint8_t*>(chroma));
    return 0;
}

int SplitYvyuFrameYuv(const void* frame, int width, int height, void* luma, void* chroma) {
    Split422(Bytes(frame), 0, 3, 2, 1, width, height, static_cast<std::uint8_t*>(luma),
             static_cast<std::uint8_t*>(chroma));
    return 0;
}

}  // namespace ZiDaz
