// The pixel-rectangle converter against a slow reference written straight from the conversion
// rules: which case applies, the general pipeline's per-pixel steps, and the dedicated loops'
// shifted widening, one-bit alpha and unused bits. Seeded random pixels over many format pairs,
// with every flag.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Main/DxBaseImage.h"

using namespace ZiDaz;

namespace {

struct NamedFormat {
    std::string name;
    COLORFORMAT format;
};

COLORFORMAT Masks(int bits, std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    COLORFORMAT f;
    InitColorFormatFromMasks(&f, bits, r, g, b, a, 0, 0, 0);
    return f;
}

COLORFORMAT Channels(int count, int bits, int isFloat) {
    COLORFORMAT f;
    InitColorFormatFromMasks(&f, 0, 0, 0, 0, 0, count, bits, isFloat);
    return f;
}

COLORFORMAT RandomPalette(std::mt19937& rng, bool alpha) {
    COLORFORMAT f = Masks(8, 0xFF0000, 0xFF00, 0xFF, alpha ? 0xFF000000u : 0u);
    for (auto& e : f.Palette) {
        for (auto& b : e) b = static_cast<std::uint8_t>(rng());
    }
    return f;
}

bool IsWide(const COLORFORMAT& f) {
    return f.ChannelCount != 0 && (f.FloatFlag != 0 || f.BitsPerChannel != 8);
}
bool IsByteChannels(const COLORFORMAT& f) {
    return f.ChannelCount != 0 && f.FloatFlag == 0 && f.BitsPerChannel == 8;
}
bool IsPalette(const COLORFORMAT& f) {
    return f.ChannelCount == 0 && f.BitsPerPixel == 8;
}
bool HasAlpha(const COLORFORMAT& f) {
    return f.ChannelCount != 0 ? f.ChannelCount >= 4 : f.AlphaWidth != 0;
}

std::uint32_t Load(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}
void Store(std::uint8_t* p, int bytes, std::uint32_t v) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Full(int width) {
    return width == 0 ? 0u : static_cast<std::uint32_t>((std::uint64_t{1} << width) - 1);
}

// Narrowing keeps the top bits; widening is v * (2^(s+d) - 1) / (2^s - 1).
std::uint32_t Widen(std::uint32_t v, int from, int to) {
    if (from == 0) return 0;
    if (from >= to) return v >> (from - to);
    return static_cast<std::uint32_t>(std::uint64_t{v} * Full(to) / Full(from));
}

// A format's channels as (mask, position, width), red, green, blue, alpha.
struct Channel {
    std::uint32_t mask;
    int position, width;
    std::uint32_t Field(std::uint32_t v) const { return (v & mask) >> position; }
};
struct ChannelSet {
    Channel c[4];
    std::uint32_t unused;
    int bytes;
};

ChannelSet ChannelsOf(const COLORFORMAT& f) {
    if (IsWide(f)) {
        // From here on described as 32-bit ARGB8.
        return {{{0xFF0000, 16, 8}, {0xFF00, 8, 8}, {0xFF, 0, 8}, {0xFF000000u, 24, 8}}, 0, 4};
    }
    if (IsByteChannels(f) && f.ChannelCount == 1) {
        // One channel is grey: red, green and blue all read it.
        return {{{0xFF, 0, 8}, {0xFF, 0, 8}, {0xFF, 0, 8}, {0, 0, 0}}, 0, 1};
    }
    return {{{f.RedMask, f.RedPosition, f.RedWidth},
             {f.GreenMask, f.GreenPosition, f.GreenWidth},
             {f.BlueMask, f.BluePosition, f.BlueWidth},
             {f.AlphaMask, f.AlphaPosition, f.AlphaWidth}},
            f.UnusedMask,
            f.BytesPerPixel};
}

float HalfBitsToFloat(std::uint16_t h) {
    if (h == 0) return 0.0f;
    const int exponent = (h >> 10) & 0x1F;
    const float magnitude =
        std::ldexp(1.0f + static_cast<float>(h & 0x3FF) / 1024.0f, exponent - 15);
    return (h & 0x8000) != 0 ? -magnitude : magnitude;
}

// A wide pixel's four channels: floats, or 16-bit values; missing channels 1.0 or 65535.
void ReadWide(const COLORFORMAT& f, const std::uint8_t* p, float* out) {
    for (int c = 0; c < 4; ++c) {
        if (c >= f.ChannelCount) {
            out[c] = f.FloatFlag != 0 ? 1.0f : 65535.0f;
        } else if (f.FloatFlag != 0 && f.BitsPerChannel == 32) {
            std::memcpy(&out[c], p + 4 * c, 4);
        } else {
            const auto v = static_cast<std::uint16_t>(Load(p + 2 * c, 2));
            out[c] = f.FloatFlag != 0 ? HalfBitsToFloat(v) : static_cast<float>(v);
        }
    }
}

struct Flags {
    bool alphaImage = false, key = false, toZero = false, fromRed = false;
    std::uint32_t keyColor = 0;
};

// The source pixel as a value of the source's channel layout (ARGB8 for wide formats).
std::uint32_t ReadAsValue(const COLORFORMAT& f, const std::uint8_t* p) {
    if (IsWide(f)) {
        float ch[4];
        ReadWide(f, p, ch);
        std::uint32_t out = 0;
        const int pos[4] = {16, 8, 0, 24};
        for (int c = 0; c < 4; ++c) {
            std::uint32_t v;
            if (f.FloatFlag != 0) {
                v = ch[c] > 1.0f   ? 255u
                    : ch[c] > 0.0f ? static_cast<std::uint32_t>(ch[c] * 255.0f)
                                   : 0u;
            } else {
                v = static_cast<std::uint32_t>(ch[c]) >> 8;
            }
            out |= v << pos[c];
        }
        return out;
    }
    if (IsPalette(f)) {
        const std::uint8_t* e = f.Palette[*p];
        return Load(e, 4);
    }
    return Load(p, f.BytesPerPixel);
}

// The general pipeline for one pixel.
void GeneralPixel(const COLORFORMAT& df, const COLORFORMAT& sf, const std::uint8_t* s,
                  const COLORFORMAT* af, const std::uint8_t* ap, const Flags& fl, std::uint8_t* d) {
    if (IsWide(df)) {
        const bool toFloat = df.FloatFlag != 0;
        float ch[4];
        if (IsWide(sf)) {
            ReadWide(sf, s, ch);
            for (float& x : ch) {
                if (sf.FloatFlag != 0 && !toFloat) {
                    x = x > 1.0f   ? 65535.0f
                        : x > 0.0f ? static_cast<float>(static_cast<std::uint32_t>(x * 65535.0f))
                                   : 0.0f;
                } else if (sf.FloatFlag == 0 && toFloat) {
                    x = x / 65535.0f;
                }
            }
        } else {
            const ChannelSet sc = ChannelsOf(sf);
            const std::uint32_t v = ReadAsValue(sf, s);
            for (int c = 0; c < 4; ++c) {
                const Channel& k = sc.c[c];
                if (k.width == 0) {
                    ch[c] = toFloat ? 1.0f : 65535.0f;
                } else {
                    const std::uint32_t max = k.mask >> k.position;
                    ch[c] = toFloat ? static_cast<float>(k.Field(v)) / static_cast<float>(max)
                                    : static_cast<float>(std::uint64_t{k.Field(v)} * 65535 / max);
                }
            }
        }
        if (fl.fromRed) ch[3] = ch[0];
        if (fl.toZero) ch[0] = ch[1] = ch[2] = 0.0f;
        for (int c = 0; c < df.ChannelCount; ++c) {
            if (toFloat && df.BitsPerChannel == 32) {
                std::memcpy(d + 4 * c, &ch[c], 4);
            } else if (toFloat) {
                Store(d + 2 * c, 2, FloatToHalf(ch[c]));
            } else {
                Store(d + 2 * c, 2, static_cast<std::uint32_t>(ch[c]));
            }
        }
        return;
    }
    const ChannelSet sc = ChannelsOf(sf);
    const ChannelSet dc = ChannelsOf(df);
    const std::uint32_t v = ReadAsValue(sf, s);
    const int aw = dc.c[3].width;
    std::uint32_t alpha;
    if (fl.fromRed) {
        alpha = sc.c[0].Field(v);
    } else if (fl.key) {
        std::uint32_t k = ComposeFormatColor(&sf, (fl.keyColor >> 16) & 0xFF,
                                             (fl.keyColor >> 8) & 0xFF, fl.keyColor & 0xFF, 255);
        if (IsPalette(sf)) k = Load(sf.Palette[k], 4);
        bool same = true;
        for (int c = 0; c < 3; ++c) same = same && sc.c[c].Field(v) == sc.c[c].Field(k);
        alpha = same ? 0u : Full(aw);
    } else if (fl.alphaImage) {
        const ChannelSet ac = ChannelsOf(*af);
        const std::uint32_t a = IsPalette(*af) ? Load(af->Palette[*ap], 4) : Load(ap, ac.bytes);
        alpha = Widen(ac.c[0].Field(a), ac.c[0].width, aw);
    } else if (sc.c[3].width != 0) {
        alpha = Widen(sc.c[3].Field(v), sc.c[3].width, aw);
    } else {
        alpha = Full(aw);
    }
    std::uint32_t out = (alpha << dc.c[3].position) & dc.c[3].mask;
    for (int c = 0; c < 3 && !fl.toZero; ++c) {
        out |= Widen(sc.c[c].Field(v), sc.c[c].width, dc.c[c].width) << dc.c[c].position;
    }
    if (dc.bytes == 2 || dc.bytes == 4) out |= dc.unused;
    Store(d, dc.bytes, out);
}

// ---- The dedicated loops' pairs, named by their masks ----------------------------------------

std::string KindOf(const COLORFORMAT& f) {
    if (f.ChannelCount != 0) {
        if (f.FloatFlag != 0 || f.BitsPerChannel != 8) return "";
        return f.ChannelCount == 1 ? "C1" : f.ChannelCount == 2 ? "C2" : "";
    }
    if (f.BitsPerPixel == 8) return "PAL";
    struct Shape {
        int bits;
        std::uint32_t r, g, b, a;
        const char* name;
    };
    static const Shape shapes[] = {
        {16, 0x7C00, 0x3E0, 0x1F, 0, "X1R5G5B5"},
        {16, 0x7C00, 0x3E0, 0x1F, 0x8000, "A1R5G5B5"},
        {16, 0xF800, 0x7E0, 0x1F, 0, "R5G6B5"},
        {16, 0xF800, 0x7C0, 0x3E, 1, "R5G5B5A1"},
        {16, 0xF800, 0x7C0, 0x3E, 0, "R5G5B5"},
        {16, 0xF00, 0xF0, 0xF, 0xF000, "A4R4G4B4"},
        {24, 0xFF0000, 0xFF00, 0xFF, 0, "RGB24"},
        {24, 0xFF, 0xFF00, 0xFF0000, 0, "BGR24"},
        {32, 0xFF0000, 0xFF00, 0xFF, 0, "XRGB8"},
        {32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, "ARGB8"},
        {32, 0xFF, 0xFF00, 0xFF0000, 0, "XBGR8"},
        {32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000u, "ABGR8"},
    };
    for (const Shape& s : shapes) {
        if (f.BitsPerPixel == s.bits && f.RedMask == s.r && f.GreenMask == s.g &&
            f.BlueMask == s.b && f.AlphaMask == s.a) {
            return s.name;
        }
    }
    return "";
}

bool Among(const std::string& k, std::initializer_list<const char*> names) {
    for (const char* n : names) {
        if (k == n) return true;
    }
    return false;
}

// The table of dedicated pairs: plain (keyed false) and keyed.
bool IsDedicatedPair(const std::string& s, const std::string& d, bool keyed) {
    if (keyed) {
        if (Among(s, {"PAL", "RGB24", "BGR24"})) return Among(d, {"A1R5G5B5", "ARGB8", "ABGR8"});
        if (Among(s, {"R5G6B5", "X1R5G5B5"})) {
            return Among(d, {"R5G5B5A1", "A1R5G5B5", "ARGB8", "ABGR8"});
        }
        return s == "XRGB8" && d == "ABGR8";
    }
    if (s == "C1") return Among(d, {"C1", "C2", "ARGB8", "ABGR8"});
    if (s == "C2") return Among(d, {"C2", "ARGB8", "ABGR8"});
    if (s == "PAL") return Among(d, {"R5G6B5", "X1R5G5B5", "ARGB8", "ABGR8", "XRGB8"});
    if (Among(s, {"RGB24", "BGR24"})) {
        return Among(d, {"R5G6B5", "X1R5G5B5", "ARGB8", "XRGB8", "ABGR8"});
    }
    if (s == "ARGB8") return Among(d, {"ABGR8", "XRGB8"});
    if (s == "XBGR8") return Among(d, {"ARGB8", "XRGB8", "R5G6B5", "X1R5G5B5"});
    if (s == "XRGB8") return Among(d, {"R5G6B5", "X1R5G5B5", "ABGR8"});
    if (s == "A1R5G5B5") return d == "ABGR8";
    if (s == "X1R5G5B5") return Among(d, {"A1R5G5B5", "A4R4G4B4", "R5G6B5", "ARGB8", "ABGR8"});
    if (s == "R5G6B5") return Among(d, {"RGB24", "ABGR8", "XRGB8", "A1R5G5B5", "X1R5G5B5"});
    if (s == "R5G5B5") {
        return Among(d, {"R5G6B5", "X1R5G5B5", "A1R5G5B5", "A4R4G4B4", "ARGB8", "ABGR8"});
    }
    return false;
}

// One pixel of a dedicated loop: the general pipeline's pixel but widened by a plain shift, a
// one-bit alpha 0 or full, and the destination's unused bits as the pair sets them.
void DedicatedPixel(const COLORFORMAT& df, const COLORFORMAT& sf, const std::uint8_t* s, bool keyed,
                    std::uint32_t keyColor, std::uint8_t* d) {
    const std::string sk = KindOf(sf);
    const std::string dk = KindOf(df);
    if (sk == "C1" || sk == "C2") {
        const std::uint8_t a = s[0];
        const std::uint8_t b = sk == "C1" ? s[0] : s[1];
        const std::uint8_t out[4] = {a, b, a, b};
        std::memcpy(d, out, df.BytesPerPixel);
        return;
    }
    if (sk == "ARGB8" && dk == "XRGB8") {
        std::memcpy(d, s, 4);
        return;
    }
    ChannelSet sc = ChannelsOf(sf);
    std::uint32_t v;
    if (sk == "PAL") {
        v = Load(sf.Palette[*s], 4);
        sc = {{{0xFF0000, 16, 8}, {0xFF00, 8, 8}, {0xFF, 0, 8}, {0xFF000000u, 24, 8}}, 0, 1};
        if (sf.AlphaMask == 0) sc.c[3] = {0, 0, 0};
    } else {
        v = Load(s, sf.BytesPerPixel);
    }
    const ChannelSet dc = ChannelsOf(df);
    std::uint32_t out = 0;
    for (int c = 0; c < 3; ++c) {
        const int shift = dc.c[c].width - sc.c[c].width;
        const std::uint32_t f = sc.c[c].Field(v);
        out |= (shift >= 0 ? f << shift : f >> -shift) << dc.c[c].position;
    }
    if (sk == "X1R5G5B5" && dk == "R5G6B5") out |= ((v >> 5) & 1u) << 5;
    if (sk == "X1R5G5B5" && dk == "A4R4G4B4") out |= (v >> 5) & 1u;
    const int aw = dc.c[3].width;
    if (aw != 0) {
        std::uint32_t a = Full(aw);
        if (keyed) {
            std::uint32_t key = 0;
            const std::uint32_t k[3] = {(keyColor >> 16) & 0xFF, (keyColor >> 8) & 0xFF,
                                        keyColor & 0xFF};
            for (int c = 0; c < 3; ++c) {
                key |= (k[c] >> (8 - sc.c[c].width)) << sc.c[c].position;
            }
            const std::uint32_t compared = sf.BytesPerPixel == 2
                                               ? v & 0xFFFF
                                               : v & (sc.c[0].mask | sc.c[1].mask | sc.c[2].mask);
            a = compared == key ? 0u : Full(aw);
        } else if (sc.c[3].width == 1) {
            a = sc.c[3].Field(v) != 0 ? Full(aw) : 0u;
        } else if (sc.c[3].width != 0) {
            const int shift = aw - sc.c[3].width;
            a = shift >= 0 ? sc.c[3].Field(v) << shift : sc.c[3].Field(v) >> -shift;
        }
        out |= a << dc.c[3].position;
    }
    const bool fill = (dk == "XRGB8" && Among(sk, {"PAL", "RGB24", "BGR24", "XBGR8"})) ||
                      (dk == "X1R5G5B5" && Among(sk, {"BGR24", "R5G5B5"}));
    if (fill) out |= dc.unused;
    Store(d, df.BytesPerPixel, out);
}

// The whole converter: the flags settled, then the first matching case.
int ReferenceConvert(std::uint8_t* dest, int destPitch, const COLORFORMAT& df,
                     const std::uint8_t* source, int sourcePitch, const COLORFORMAT& sf,
                     const std::uint8_t* alpha, int alphaPitch, const COLORFORMAT* af, int dx,
                     int dy, const RECT& r, bool key, std::uint32_t keyColor, bool toZero,
                     bool fromRed) {
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return -1;
    const bool wide = IsWide(df) || IsWide(sf);
    Flags fl;
    fl.alphaImage = !wide && HasAlpha(df) && alpha != nullptr && !HasAlpha(sf);
    fl.key = !wide && key && HasAlpha(df) && !HasAlpha(sf) && !fl.alphaImage && !fromRed;
    fl.toZero = toZero;
    fl.fromRed = fromRed;
    fl.keyColor = keyColor;
    const bool noFlags = !fl.alphaImage && !fl.key && !toZero && !fromRed;
    const int db = df.BytesPerPixel;
    const int sb = sf.BytesPerPixel;
    auto dp = [&](int x, int y) {
        return dest + static_cast<std::ptrdiff_t>(dy + y) * destPitch + (dx + x) * db;
    };
    auto sp = [&](int x, int y) {
        return source + static_cast<std::ptrdiff_t>(r.top + y) * sourcePitch + (r.left + x) * sb;
    };
    auto ap = [&](int x, int y) -> const std::uint8_t* {
        if (af == nullptr || alpha == nullptr) return nullptr;
        return alpha + static_cast<std::ptrdiff_t>(r.top + y) * alphaPitch +
               (r.left + x) * af->BytesPerPixel;
    };
    auto copy = [&] {
        for (int y = 0; y < h; ++y)
            std::memcpy(dp(0, y), sp(0, y), static_cast<std::size_t>(w) * db);
        return 0;
    };
    if (wide && noFlags && df.FloatFlag == sf.FloatFlag && df.BitsPerChannel == sf.BitsPerChannel &&
        df.ChannelCount == sf.ChannelCount && db == sb) {
        return copy();
    }
    if (!wide) {
        if (IsPalette(df) && !IsPalette(sf) && !fromRed) {
            if (sf.ChannelCount != 0) return 0;
            const ChannelSet sc = ChannelsOf(sf);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t v = Load(sp(x, y), sb);
                    int c8[4];
                    for (int c = 0; c < 4; ++c) {
                        c8[c] = static_cast<int>(Widen(sc.c[c].Field(v), sc.c[c].width, 8));
                    }
                    *dp(x, y) = static_cast<std::uint8_t>(
                        ComposeFormatColor(&df, c8[0], c8[1], c8[2], c8[3]));
                }
            }
            return 0;
        }
        if (IsPalette(df) && IsPalette(sf) && !toZero && !fromRed) {
            int highest = 0;
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) highest = std::max<int>(highest, *sp(x, y));
            }
            copy();
            return highest;
        }
        const bool masks =
            df.ChannelCount == 0 && sf.ChannelCount == 0 && df.BitsPerPixel == sf.BitsPerPixel;
        const bool sameColor = masks && df.RedMask == sf.RedMask && df.GreenMask == sf.GreenMask &&
                               df.BlueMask == sf.BlueMask;
        if (sameColor && df.AlphaMask == sf.AlphaMask && noFlags) return copy();
        if (sameColor && fl.key) {
            const std::uint32_t k = ComposeFormatColor(
                &df, (keyColor >> 16) & 0xFF, (keyColor >> 8) & 0xFF, keyColor & 0xFF, 255);
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const std::uint32_t v = Load(sp(x, y), sb);
                    const std::uint32_t cmp =
                        sb == 4 ? v | ~(sf.RedMask | sf.GreenMask | sf.BlueMask) : v;
                    Store(dp(x, y), db, cmp == k ? v & ~df.AlphaMask : v | df.AlphaMask);
                }
            }
            return 0;
        }
        if (!fl.alphaImage && !toZero && !fromRed &&
            IsDedicatedPair(KindOf(sf), KindOf(df), fl.key)) {
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x)
                    DedicatedPixel(df, sf, sp(x, y), fl.key, keyColor, dp(x, y));
            }
            return 0;
        }
    }
    if (IsByteChannels(sf) && sf.ChannelCount == 2) return -1;
    if (IsByteChannels(df) && df.ChannelCount <= 2) return -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) GeneralPixel(df, sf, sp(x, y), af, ap(x, y), fl, dp(x, y));
    }
    return 0;
}

std::vector<NamedFormat> Formats(std::mt19937& rng) {
    COLORFORMAT defaultPalette{};
    InitDefaultPaletteFormat(&defaultPalette, 0);
    COLORFORMAT defaultPaletteAlpha{};
    InitDefaultPaletteFormat(&defaultPaletteAlpha, 1);
    COLORFORMAT argb{}, abgr{}, xrgb{}, rgb24{}, bgr24{}, r5g6b5{}, x1{};
    InitColorFormatArgb8(&argb);
    InitColorFormatAbgr8(&abgr);
    InitColorFormatXrgb8(&xrgb);
    InitColorFormatRgb24(&rgb24);
    InitColorFormatBgr24(&bgr24);
    InitColorFormatR5G6B5(&r5g6b5);
    InitColorFormatX1R5G5B5(&x1);
    return {
        {"ARGB8", argb},
        {"ABGR8", abgr},
        {"XRGB8", xrgb},
        {"XBGR8", Masks(32, 0xFF, 0xFF00, 0xFF0000, 0)},
        {"RGB24", rgb24},
        {"BGR24", bgr24},
        {"R5G6B5", r5g6b5},
        {"X1R5G5B5", x1},
        {"A1R5G5B5", Masks(16, 0x7C00, 0x3E0, 0x1F, 0x8000)},
        {"R5G5B5A1", Masks(16, 0xF800, 0x7C0, 0x3E, 1)},
        {"R5G5B5", Masks(16, 0xF800, 0x7C0, 0x3E, 0)},
        {"A4R4G4B4", Masks(16, 0xF00, 0xF0, 0xF, 0xF000)},
        {"X4R4G4B4", Masks(16, 0xF00, 0xF0, 0xF, 0)},
        {"A2R10G10B10", Masks(32, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000u)},
        {"R6G6B6A6", Masks(24, 0xFC0000, 0x3F000, 0xFC0, 0x3F)},
        {"R3G3B2", Masks(8, 0xE0, 0x1C, 0x3, 0)},  // an 8-bit format takes the palette paths
        {"palette", RandomPalette(rng, false)},
        {"palette with alpha", RandomPalette(rng, true)},
        {"default palette", defaultPalette},
        {"default palette with alpha", defaultPaletteAlpha},
        {"half x1", Channels(1, 16, 1)},
        {"half x3", Channels(3, 16, 1)},
        {"half x4", Channels(4, 16, 1)},
        {"float x1", Channels(1, 32, 1)},
        {"float x2", Channels(2, 32, 1)},
        {"float x4", Channels(4, 32, 1)},
        {"u16 x2", Channels(2, 16, 0)},
        {"u16 x4", Channels(4, 16, 0)},
        {"u8 x1", Channels(1, 8, 0)},
        {"u8 x2", Channels(2, 8, 0)},
    };
}

// Random pixel bytes; float channels get values around 0..1 (some outside), halves likewise.
std::vector<std::uint8_t> RandomPixels(std::mt19937& rng, const COLORFORMAT& f, std::size_t bytes) {
    std::vector<std::uint8_t> out(bytes);
    if (f.ChannelCount != 0 && f.FloatFlag != 0) {
        std::uniform_real_distribution<float> value(-0.25f, 1.25f);
        for (std::size_t i = 0; i + f.BitsPerChannel / 8 <= bytes; i += f.BitsPerChannel / 8) {
            const float v = (rng() % 8 == 0) ? 0.0f : value(rng);
            if (f.BitsPerChannel == 32) {
                std::memcpy(&out[i], &v, 4);
            } else {
                Store(&out[i], 2, FloatToHalf(v));
            }
        }
        return out;
    }
    for (auto& b : out) b = static_cast<std::uint8_t>(rng());
    return out;
}

TEST(ConvertPixelRectReferenceTest, EveryPairAndFlagMatchesTheReference) {
    std::mt19937 rng(20261211);
    const std::vector<NamedFormat> formats = Formats(rng);
    // Alpha images: grey palette entries and a 16-bit format with a 4-bit red channel.
    COLORFORMAT greyAlpha = Masks(8, 0xFF0000, 0xFF00, 0xFF, 0);
    for (int i = 0; i < 256; ++i) {
        greyAlpha.Palette[i][0] = greyAlpha.Palette[i][1] = greyAlpha.Palette[i][2] =
            static_cast<std::uint8_t>(255 - i);
    }
    const COLORFORMAT alpha16 = Masks(16, 0xF000, 0xF00, 0xF0, 0);
    // Rectangles of 11 pixels: the loops' steps of 8 and 4 pixels and a remainder.
    constexpr int kWidth = 13, kHeight = 4, kPitch = kWidth * 16 + 5;
    int compared = 0;
    for (const NamedFormat& s : formats) {
        for (const NamedFormat& d : formats) {
            for (int flags = 0; flags < 32; ++flags) {
                const bool useAlpha = (flags & 1) != 0;
                const bool key = (flags & 2) != 0;
                const bool toZero = (flags & 4) != 0;
                const bool fromRed = (flags & 8) != 0;
                const COLORFORMAT& af = (flags & 16) != 0 ? alpha16 : greyAlpha;
                if ((flags & 16) != 0 && !useAlpha) continue;
                SCOPED_TRACE(s.name + " -> " + d.name + " flags " + std::to_string(flags));
                const auto src = RandomPixels(rng, s.format, kPitch * kHeight);
                const auto alpha = RandomPixels(rng, af, kPitch * kHeight);
                // The key is the colour of one of the source pixels, so that some match.
                std::uint32_t keyColor = rng() & 0xFFFFFF;
                if (!IsWide(s.format) && s.format.ChannelCount == 0) {
                    const int bytes = s.format.BytesPerPixel;
                    const std::uint8_t* p = &src[static_cast<std::size_t>(kPitch + 2 * bytes)];
                    int r = 0, g = 0, b = 0;
                    if (IsPalette(s.format)) {
                        r = s.format.Palette[*p][2];
                        g = s.format.Palette[*p][1];
                        b = s.format.Palette[*p][0];
                    } else {
                        const std::uint32_t argb = [&] {
                            BASEIMAGE one{};
                            one.Format = s.format;
                            one.Width = one.Height = 1;
                            one.Pitch = 4;
                            one.Pixels = const_cast<std::uint8_t*>(p);
                            return ReadBaseImagePixelArgb(&one, 0, 0);
                        }();
                        r = (argb >> 16) & 0xFF;
                        g = (argb >> 8) & 0xFF;
                        b = argb & 0xFF;
                    }
                    keyColor = static_cast<std::uint32_t>(r << 16 | g << 8 | b);
                }
                const RECT rect{1, 1, 1 + kWidth - 2, kHeight};
                std::vector<std::uint8_t> got(kPitch * kHeight, 0x5A), want(kPitch * kHeight, 0x5A);
                const int gotResult = ConvertPixelRect(
                    got.data(), kPitch, &d.format, src.data(), kPitch, &s.format,
                    useAlpha ? alpha.data() : nullptr, kPitch, useAlpha ? &af : nullptr, 2, 0,
                    &rect, 0, key ? 1 : 0, keyColor, 0, toZero ? 1 : 0, fromRed ? 1 : 0, 0, 0);
                const int wantResult = ReferenceConvert(
                    want.data(), kPitch, d.format, src.data(), kPitch, s.format,
                    useAlpha ? alpha.data() : nullptr, kPitch, useAlpha ? &af : nullptr, 2, 0, rect,
                    key, keyColor, toZero, fromRed);
                ASSERT_EQ(gotResult, wantResult);
                if (gotResult == -1) {
                    ASSERT_EQ(got, std::vector<std::uint8_t>(kPitch * kHeight, 0x5A));
                    continue;
                }
                for (std::size_t i = 0; i < got.size(); ++i) {
                    ASSERT_EQ(got[i], want[i])
                        << "byte " << i << " (row " << i / kPitch << ", byte " << i % kPitch << ")";
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 10000);
}

// Images whose rows are exactly their pixels, converted at their last row and column: nothing
// outside either image is read or written (AddressSanitizer watches the exact allocations).
TEST(ConvertPixelRectReferenceTest, RectanglesAtTheEdgesOfExactImages) {
    std::mt19937 rng(7);
    const std::vector<NamedFormat> formats = Formats(rng);
    constexpr int kWidth = 5, kHeight = 3;
    for (const NamedFormat& s : formats) {
        for (const NamedFormat& d : formats) {
            SCOPED_TRACE(s.name + " -> " + d.name);
            const int sp = kWidth * s.format.BytesPerPixel;
            const int dp = kWidth * d.format.BytesPerPixel;
            const auto src = RandomPixels(rng, s.format, static_cast<std::size_t>(sp) * kHeight);
            std::vector<std::uint8_t> got(static_cast<std::size_t>(dp) * kHeight, 0x33);
            std::vector<std::uint8_t> want = got;
            const RECT rect{2, 1, kWidth, kHeight};
            const int a =
                ConvertPixelRect(got.data(), dp, &d.format, src.data(), sp, &s.format, nullptr, 0,
                                 nullptr, 2, 1, &rect, 0, 0, 0, 0, 0, 0, 0, 0);
            const int b = ReferenceConvert(want.data(), dp, d.format, src.data(), sp, s.format,
                                           nullptr, 0, nullptr, 2, 1, rect, false, 0, false, false);
            EXPECT_EQ(a, b);
            EXPECT_EQ(got, want);
        }
    }
}

// Whole rows long enough for the loops' widest steps (16 pixels and more), with and without a
// key, in images whose rows are exactly their pixels: equal to the reference, and nothing past
// a row's last pixel is read (AddressSanitizer watches the exact allocations).
TEST(ConvertPixelRectReferenceTest, LongRowsOfExactImages) {
    std::mt19937 rng(11);
    const std::vector<NamedFormat> formats = Formats(rng);
    constexpr int kHeight = 3;
    for (const int width : {16, 37}) {
        for (const NamedFormat& s : formats) {
            for (const NamedFormat& d : formats) {
                for (const bool key : {false, true}) {
                    SCOPED_TRACE(s.name + " -> " + d.name + " width " + std::to_string(width) +
                                 (key ? " keyed" : ""));
                    const int sp = width * s.format.BytesPerPixel;
                    const int dp = width * d.format.BytesPerPixel;
                    const auto src =
                        RandomPixels(rng, s.format, static_cast<std::size_t>(sp) * kHeight);
                    std::vector<std::uint8_t> got(static_cast<std::size_t>(dp) * kHeight, 0x33);
                    std::vector<std::uint8_t> want = got;
                    const RECT rect{0, 0, width, kHeight};
                    const std::uint32_t keyColor = rng() & 0xFFFFFF;
                    const int a = ConvertPixelRect(got.data(), dp, &d.format, src.data(), sp,
                                                   &s.format, nullptr, 0, nullptr, 0, 0, &rect, 0,
                                                   key ? 1 : 0, keyColor, 0, 0, 0, 0, 0);
                    const int b = ReferenceConvert(want.data(), dp, d.format, src.data(), sp,
                                                   s.format, nullptr, 0, nullptr, 0, 0, rect, key,
                                                   keyColor, false, false);
                    ASSERT_EQ(a, b);
                    ASSERT_EQ(got, want);
                }
            }
        }
    }
}

}  // namespace
