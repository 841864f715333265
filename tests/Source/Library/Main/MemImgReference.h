// A slow, direct transcription of the software renderer's per-pixel blending rules: exact integer
// arithmetic computed on the spot (no lookup tables, add and subtract channel by channel). It is
// the oracle that every transfer test compares against.
#pragma once

#include <algorithm>
#include <cstdint>

namespace memimg_ref {

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}
// floor(p * v / 255)
inline std::uint32_t Scale(std::uint32_t p, std::uint32_t v) {
    return p * v / 255;
}
// p * k / 255 truncated toward zero
inline std::int32_t SignedScale(std::int32_t p, std::int32_t k) {
    return p * k / 255;
}

// The blend-image weight of one blend byte, from the border parameters.
inline std::uint8_t BlendWeight(int position, int range, int v) {
    const int q = 65536 / (range + 1) + 256;
    const int k = 256 - (position * q) / 256;
    int t = (256 * v) / (range + 1) + k;
    if (k > 0) return static_cast<std::uint8_t>(t > 255 ? 255 : t);
    return static_cast<std::uint8_t>(t < 0 ? 0 : t > 255 ? 255 : t);
}

enum SourceKind { kPlain = 0, kPalette = 1, kAlpha = 2 };

// The settings of one draw.
struct Draw {
    int colorType;  // 0 R5G6B5, 1 32-bit
    int kind;       // SourceKind
    int mode;       // BlendMode
    int param;      // BlendParam
    std::uint32_t bright;
    bool hasBlend;
    bool transparency;  // T: the transfer's flag and the source's UseTransColor
    std::uint32_t key;
    bool alphaCopiesWhole;  // plain transfer: true; stretched and triangle transfers: false
    // Triangle transfer: with T, an alpha-0 pixel under DX_BLEND_MULTIPLY is drawn by the alpha
    // formula (its colour channels become 0) instead of being skipped.
    bool keyedClearAlphaMultiplies = false;
};

// Whether the draw changes anything at all (drawn mode, no parameter shortcut).
inline bool Draws(const Draw& s) {
    switch (s.mode) {
        case 0:
        case 4:
        case 10:
        case 11:
            return true;
        case 1:
        case 2:
        case 3:
            return s.param != 0;
        default:
            return false;
    }
}

// The destination pixel d after source pixel raw (a palette index, a 16-bit or a 32-bit value)
// is drawn onto it with blend weight q (used only with a blend image).
inline std::uint32_t BlendPixel(const Draw& s, std::uint32_t raw, const std::uint32_t* palette,
                                std::uint32_t q, std::uint32_t d) {
    if (!Draws(s)) return d;
    int mode = s.mode;
    const std::int64_t P = s.param;
    if (mode == 1 && P == 255) mode = 0;
    const bool white = (s.bright & 0xFFFFFF) == 0xFFFFFF;
    const bool ct1 = s.colorType == 1;

    // Step 1: skip test and the alpha factor.
    bool aFactor = false;
    std::int64_t a = 0;
    if (s.kind == kPlain || s.kind == kPalette) {
        if (s.transparency && raw == s.key) return d;
    } else {
        a = ct1 ? (raw >> 24) : ((raw >> 16) & 0xFF);
        if (s.transparency) {
            if (a == 0 && !(mode == 4 && s.keyedClearAlphaMultiplies)) return d;
            aFactor = a != 255;
        } else {
            aFactor = true;
            if (mode == 0 && !s.hasBlend && white && s.alphaCopiesWhole) {
                return ct1 ? raw : (raw & 0xFFFF);
            }
        }
    }
    // Step 2: source colour.
    std::uint32_t src;
    if (s.kind == kPalette) {
        src = palette[raw];
    } else if (s.kind == kAlpha && !ct1) {
        src = raw & 0xFFFF;
    } else {
        src = raw;
    }
    // Channels: red, green, blue.
    const int shift[3] = {ct1 ? 16 : 11, ct1 ? 8 : 5, 0};
    const int width[3] = {ct1 ? 8 : 5, ct1 ? 8 : 6, ct1 ? 8 : 5};
    const std::uint32_t bch[3] = {(s.bright >> 16) & 0xFF, (s.bright >> 8) & 0xFF, s.bright & 0xFF};
    std::int64_t c[3], x[3], dc[3];
    for (int i = 0; i < 3; ++i) {
        const std::uint32_t max = (1u << width[i]) - 1;
        c[i] = (src >> shift[i]) & max;
        dc[i] = (d >> shift[i]) & max;
        std::int64_t v = c[i];
        if (mode == 10) v = max - v;  // Step 3: inverted source, then the tint.
        x[i] = white ? v : Scale(bch[i], static_cast<std::uint32_t>(v));
    }
    // Step 4: the weight factors.
    const bool hasP = mode == 1 || mode == 2 || mode == 3 || mode == 10 || mode == 11;
    int count = 0;
    std::int64_t W = 1;
    if (hasP) W *= P, ++count;
    if (s.hasBlend) W *= q, ++count;
    if (aFactor) W *= a, ++count;
    const int n = 8 * count;
    const bool onlyP = hasP && count == 1;
    auto mix = [&](std::int64_t xv, std::int64_t dv) {
        return FloorDiv(dv * (std::int64_t{1} << n) + (xv - dv) * W, std::int64_t{1} << n);
    };
    auto pack = [&](const std::int64_t r[3]) {
        std::uint32_t v = 0;
        for (int i = 0; i < 3; ++i) v |= static_cast<std::uint32_t>(r[i]) << shift[i];
        return v;
    };
    const std::uint32_t top = ct1 ? (d & 0xFF000000u) : 0u;
    std::int64_t r[3];

    switch (mode) {
        case 0:
            if (count == 0 && white) return src;
            for (int i = 0; i < 3; ++i) r[i] = count == 0 ? x[i] : mix(x[i], dc[i]);
            return top | pack(r);
        case 1:
        case 10:
            for (int i = 0; i < 3; ++i) {
                r[i] = (!ct1 && onlyP)
                           ? dc[i] + SignedScale(static_cast<std::int32_t>(P),
                                                 static_cast<std::int32_t>(x[i] - dc[i]))
                           : mix(x[i], dc[i]);
            }
            return top | pack(r);
        case 4:
            for (int i = 0; i < 3; ++i) {
                r[i] = FloorDiv(x[i] * dc[i] * W, std::int64_t{1} << (width[i] + n));
            }
            return top | pack(r);
        case 11:
            for (int i = 0; i < 3; ++i) {
                const std::int64_t m = FloorDiv(x[i] * dc[i], std::int64_t{1} << width[i]);
                if (!ct1 && onlyP) {
                    r[i] = dc[i] + SignedScale(static_cast<std::int32_t>(P),
                                               static_cast<std::int32_t>(m - dc[i]));
                } else if (!ct1 && i == 1 && aFactor && !s.hasBlend && white) {
                    const std::int64_t mg = FloorDiv(x[i] * dc[i], 2);
                    r[i] = FloorDiv(dc[i] * (std::int64_t{1} << 21) + (mg - 32 * dc[i]) * P * a,
                                    std::int64_t{1} << 21);
                } else {
                    r[i] = mix(m, dc[i]);
                }
            }
            return top | pack(r);
        default:
            break;
    }

    // Add and subtract: the operand t of each channel, then saturating channel arithmetic.
    std::int64_t t[3];
    for (int i = 0; i < 3; ++i) {
        if (ct1) {
            t[i] = onlyP ? Scale(static_cast<std::uint32_t>(P), static_cast<std::uint32_t>(x[i]))
                         : FloorDiv(x[i] * W, std::int64_t{1} << n);
        } else if (onlyP) {
            t[i] = Scale(static_cast<std::uint32_t>(P), static_cast<std::uint32_t>(x[i]));
        } else if (aFactor && !s.hasBlend && !white) {
            const std::int64_t alphaFirst = FloorDiv(c[i] * a, 256);
            t[i] = Scale(static_cast<std::uint32_t>(P),
                         Scale(bch[i], static_cast<std::uint32_t>(alphaFirst)));
        } else {
            const std::int64_t V = W / P;
            const std::int64_t u = FloorDiv(x[i] * V, std::int64_t{1} << (n - 8));
            t[i] = Scale(static_cast<std::uint32_t>(P), static_cast<std::uint32_t>(u));
        }
    }
    const std::int64_t dR = dc[0], dG = dc[1], dB = dc[2];
    const std::int64_t tR = t[0], tG = t[1], tB = t[2];
    if (ct1 && mode == 2) {
        const std::int64_t blue = std::min<std::int64_t>(255, dB + tB);
        const bool blueCarry = dB + tB > 255;
        const std::int64_t g = (dG & 254) + (tG & 254);
        const std::int64_t green = g > 255 ? 255 : (g | blueCarry | (dG & 1) | (tG & 1));
        const std::int64_t rr = (dR & 254) + (tR & 254);
        const std::int64_t red = rr > 255 ? 255 : (rr | (g > 255) | (dR & 1) | (tR & 1));
        const std::uint32_t topOut = rr > 255 ? 1u : 0u;
        return (topOut << 24) | static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
    }
    if (ct1) {  // subtract
        const std::int64_t blue = std::max<std::int64_t>(0, dB - tB);
        const bool greenOk = (dG >> 1) >= (tG >> 1);
        const std::int64_t green = greenOk ? 2 * ((dG >> 1) - (tG >> 1)) + (dB >= tB ? 1 : 0) : 0;
        const std::int64_t red =
            (dR >> 1) >= (tR >> 1) ? 2 * ((dR >> 1) - (tR >> 1)) + (greenOk ? 1 : 0) : 0;
        return static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
    }
    if (mode == 2) {
        const std::int64_t blue = std::min<std::int64_t>(31, dB + tB);
        const bool blueCarry = dB + tB > 31;
        const std::int64_t g = (dG & 62) + (tG & 62);
        const std::int64_t low = blueCarry | (dG & 1) | (tG & 1);
        const std::int64_t green = g > 63 ? (62 | low) : (g | low);
        const std::int64_t rr = (dR & 30) + (tR & 30);
        const std::int64_t red = rr > 31 ? 31 : (rr | (g > 63) | (dR & 1) | (tR & 1));
        return static_cast<std::uint32_t>(red << 11 | green << 5 | blue);
    }
    const std::int64_t blue = std::max<std::int64_t>(0, dB - tB);
    const bool greenOk = (dG >> 1) >= (tG >> 1);
    const std::int64_t green = greenOk ? 2 * ((dG >> 1) - (tG >> 1)) : 0;
    const std::int64_t red =
        (dR >> 1) >= (tR >> 1) ? 2 * ((dR >> 1) - (tR >> 1)) + (greenOk ? 1 : 0) : 0;
    return static_cast<std::uint32_t>(red << 11 | green << 5 | blue);
}

}  // namespace memimg_ref
