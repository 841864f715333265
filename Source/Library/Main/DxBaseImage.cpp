// Images in memory: pixel-format records, colour composition and the pixel-rectangle converter.
#include "Main/DxBaseImage.h"

#include <algorithm>
#include <bit>
#include <cstring>

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
                RunDedicatedLoop(*pair, dest + static_cast<std::ptrdiff_t>(destX) * db, destPitch,
                                 df, source + static_cast<std::ptrdiff_t>(sourceRect->left) * sb,
                                 sourcePitch, sf, width, height, keyColor);
                return 0;
            }
        }
    }

    // 9. The general pipeline.
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

}  // namespace ZiDaz
