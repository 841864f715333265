// Slow references of the colour, alpha and graph blend filters: one pixel at a time, straight from
// the formulas, with the multiply and divide tables recomputed by formula. The kernels must equal
// them exactly.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "Main/DxBaseFunc.h"

namespace filterref {

struct Px {
    int b, g, r, a;
};

inline Px Unpack(std::uint32_t w) {
    return Px{int(w & 255), int((w >> 8) & 255), int((w >> 16) & 255), int(w >> 24)};
}
inline std::uint32_t Pack(int b, int g, int r, int a) {
    return std::uint32_t(b & 255) | std::uint32_t(g & 255) << 8 | std::uint32_t(r & 255) << 16 |
           std::uint32_t(a & 255) << 24;
}
inline int M(int c, int a) {
    return c * a / 255;
}
inline int D(int c, int a) {
    return a == 0 ? 0 : std::min(255, c * 255 / a);
}
inline int Y(int b, int g, int r) {
    return 2404 * g + 1224 * r + 466 * b;
}
inline float Clampf(float v, float lo, float hi) {
    return v < lo ? lo : v > hi ? hi : v;
}
inline int ColorByte(float v) {
    const float s = v * 255.0f;
    if (s <= 0.0f) return 0;
    if (s >= 255.0f) return 255;
    return int(s);
}
inline std::uint32_t ColorWord(const float c[4], bool p) {
    const int a = ColorByte(c[3]);
    int r = ColorByte(c[0]), g = ColorByte(c[1]), b = ColorByte(c[2]);
    if (p) r = M(r, a), g = M(g, a), b = M(b, a);
    return Pack(b, g, r, a);
}
// The colour a body reads: stored, or un-premultiplied.
inline Px Read(std::uint32_t w, bool p) {
    Px x = Unpack(w);
    if (p) x.b = D(x.b, x.a), x.g = D(x.g, x.a), x.r = D(x.r, x.a);
    return x;
}
inline int Out(int c, int a, bool p) {
    c &= 255;
    return p ? M(c, a) : c;
}

inline std::uint32_t Mono(std::uint32_t w, float Cb, float Cr) {
    const float cb = Clampf(Cb / 200.0f, -0.5f, 0.5f);
    const float cr = Clampf(Cr / 200.0f, -0.5f, 0.5f);
    const int ro = int(cr * 1.402f * 255.0f * 4096.0f);
    const int go = int((cb * 0.34414f - cr * 0.71414f) * 255.0f * 4096.0f);
    const int bo = int(cb * 1.772f * 255.0f * 4096.0f);
    const Px x = Unpack(w);
    const int y = Y(x.b, x.g, x.r);
    auto c = [](int v) { return std::clamp(v >> 12, 0, 255); };
    return Pack(c(y + bo), c(y + go), c(y + ro), x.a);
}

// dst is the destination's current pixel (kept where the filter writes nothing).
inline std::uint32_t BrightClip(std::uint32_t src, std::uint32_t dst, int cmp, float threshold,
                                bool fill, const float fillColor[4], bool p) {
    const float t = Clampf(threshold / 255.0f, 0.0f, 1.0f);
    const int T = int(t * 255.0f * 4096.0f);
    const Px x = Read(src, p);
    const int y = Y(x.b, x.g, x.r);
    const bool passes = cmp == 5 ? y > T : y < T;
    if (!passes) return src;
    return fill ? ColorWord(fillColor, p) : dst;
}

// Saturation of the colour model shared by Hsb and BrightnessScale; 0 where the divisor is 0 or
// below.
inline int Sat(int mx, int mn, int L) {
    if (mx == mn) return 0;
    const int div = L <= 128 ? mx + mn : 512 - mx - mn;
    if (div <= 0) return 0;
    return ((mx - mn) * 256) / div;
}
inline int Light(int c, int L) {
    if (L <= 128) return ((2 * L) * c) >> 8;
    return c + ((((255 - c) * (L - 128)) * 2) >> 8);
}

inline std::uint32_t Hsb(std::uint32_t w, int mode, float hue, float sat, float bri, bool p) {
    float h = hue / 360.0f;
    h = mode == 0 ? Clampf(h, -0.5f, 0.5f) : Clampf(h, 0.0f, 1.0f);
    h = h * 6.0f;
    float s = Clampf(sat / 100.0f, -1.0f, 1.0f);
    const float b = bri / 100.0f;
    int H = int(h * 256.0f);
    if (s > 0) s = s * 5.0f;
    const int Sp = int(s * 256.0f) + 256;
    const int K = int(std::clamp(b * 256.0f, -1048576.0f, 1048576.0f));
    if (mode == 1 && H >= 1536) H -= 1536;
    Px x = Read(w, p);
    int c[3] = {x.r, x.g, x.b};
    for (int& v : c) v = K > 0 ? v + (((255 - v) * K) >> 8) : (v * (K + 256)) >> 8;
    const int R = c[0], G = c[1], B = c[2];
    const int mx = std::max({R, G, B}), mn = std::min({R, G, B});
    const int L = (mx + mn) >> 1;
    const int S = Sat(mx, mn, L);
    int hh;
    if (mode == 1) {
        hh = H;
    } else {
        int ph = 0;
        if (mx != mn) {
            const int d = mx - mn;
            const int bc = ((mx - B) * 256) / d, gc = ((mx - G) * 256) / d,
                      rc = ((mx - R) * 256) / d;
            ph = R == mx ? bc - gc : G == mx ? rc - bc + 512 : gc - rc + 1024;
            if (ph < 0) ph += 1536;
        }
        hh = ph + H;
        if (hh < 0)
            hh += 1536;
        else if (hh >= 1536)
            hh -= 1536;
    }
    const int f = hh % 256;
    int pc[3];
    if (hh < 256)
        pc[0] = 255, pc[1] = f, pc[2] = 0;
    else if (hh < 512)
        pc[0] = 255 - f, pc[1] = 255, pc[2] = 0;
    else if (hh < 768)
        pc[0] = 0, pc[1] = 255, pc[2] = f;
    else if (hh < 1024)
        pc[0] = 0, pc[1] = 255 - f, pc[2] = 255;
    else if (hh < 1280)
        pc[0] = f, pc[1] = 0, pc[2] = 255;
    else
        pc[0] = 255, pc[1] = 0, pc[2] = 255 - f;
    const int q = int(std::min<std::int64_t>(256, (std::int64_t(Sp) * S) >> 8));
    for (int& v : pc) v = v + (((128 - v) * (256 - q)) >> 8);
    return Pack(Out(Light(pc[2], L), x.a, p), Out(Light(pc[1], L), x.a, p),
                Out(Light(pc[0], L), x.a, p), x.a);
}

inline std::uint32_t BrightnessScale(std::uint32_t w, int minimum, int maximum, bool p) {
    const int lo = std::clamp(minimum, 0, 254);
    int hi = std::clamp(maximum, 1, 255);
    if (hi == lo) hi = lo + 1;
    const int F = 1044480 / (hi - lo);
    const Px x = Read(w, p);
    const int R = x.r, G = x.g, B = x.b;
    const int mx = std::max({R, G, B}), mn = std::min({R, G, B});
    const int L = (mx + mn) >> 1;
    const int S = Sat(mx, mn, L);
    int pr, pg, pb;
    if (mx == mn) {
        pr = 255, pg = 0, pb = 0;
    } else {
        const int d = mx - mn;
        const int bc = ((mx - B) * 256) / d, gc = ((mx - G) * 256) / d, rc = ((mx - R) * 256) / d;
        if (R == mx) {
            if (bc > gc)
                pr = 255, pg = bc - gc, pb = 0;
            else
                pr = 255, pg = 0, pb = gc - bc;
        } else if (G == mx) {
            if (rc <= bc)
                pr = bc - rc, pg = 255, pb = 0;
            else
                pr = 0, pg = 255, pb = rc - bc;
        } else {
            if (gc > rc)
                pr = gc - rc, pg = 0, pb = 255;
            else
                pr = 0, pg = rc - gc, pb = 255;
        }
    }
    const int L2 = std::clamp(((L - lo) * F) >> 12, 0, 255);
    auto step = [&](int c) { return Light(c + (((128 - c) * (256 - S)) >> 8), L2); };
    return Pack(Out(step(pb), x.a, p), Out(step(pg), x.a, p), Out(step(pr), x.a, p), x.a);
}

inline std::uint32_t Invert(std::uint32_t w, bool p) {
    const Px x = Unpack(w);
    if (!p) return Pack(255 - x.b, 255 - x.g, 255 - x.r, x.a);
    return Pack(M(255 - D(x.b, x.a), x.a), M(255 - D(x.g, x.a), x.a), M(255 - D(x.r, x.a), x.a),
                x.a);
}

inline std::uint32_t Level(std::uint32_t w, float minimum, float maximum, float gamma, float outMin,
                           float outMax, bool p) {
    float lo = Clampf(minimum / 255.0f, 0, 1), hi = Clampf(maximum / 255.0f, 0, 1);
    const float g = std::max(0.001f, gamma);
    float olo = Clampf(outMin / 255.0f, 0, 1), ohi = Clampf(outMax / 255.0f, 0, 1);
    lo = std::min(lo, hi);
    olo = std::min(olo, ohi);
    auto table = [g](int i) {
        const float v = ZiDaz::PowerFloat(float(i) / 255.0f, 1.0f / g) * 255.0f;
        return v > 255.0f ? 255 : int(v);
    };
    const int lo8 = int(lo * 255), hi8 = int(hi * 255), range = hi8 - lo8;
    const int olo8 = int(olo * 255), orange = int(ohi * 255) - olo8;
    const Px x = Read(w, p);
    auto ch = [&](int c) {
        int v;
        if (range == 0) {
            v = c >= lo8 ? table(255) : table(0);
        } else {
            const int k = ((c - lo8) * 256) / range;
            v = k < 0 ? table(0) : k > 255 ? table(255) : table(k);
        }
        return Out((v * orange + olo8 * 256) >> 8, x.a, p);
    };
    return Pack(ch(x.b), ch(x.g), ch(x.r), x.a);
}

inline std::uint32_t TwoColor(std::uint32_t w, float threshold, const float low[4],
                              const float high[4], bool p) {
    // Far outside the luminance range the threshold only decides which side every pixel is on.
    const float v = threshold * 4096.0f;
    const int T = v >= 1e9f ? 1000000000 : v <= -1e9f ? -1000000000 : int(v);
    const Px x = Read(w, p);
    return Y(x.b, x.g, x.r) < T ? ColorWord(low, p) : ColorWord(high, p);
}

inline std::uint32_t Gradient(std::uint32_t w, const std::vector<std::uint32_t>& row, bool reverse,
                              bool p) {
    const Px x = Read(w, p);
    const int index = Y(x.b, x.g, x.r) >> 12;
    const int i = reverse ? 255 - index : index;
    Px g = Unpack(row[(i * int(row.size())) >> 8]);
    if (p) g.b = M(g.b, g.a), g.g = M(g.g, g.a), g.r = M(g.r, g.a);
    return Pack(g.b, g.g, g.r, g.a);
}

inline std::uint32_t Replacement(std::uint32_t w, std::uint32_t target, std::uint32_t repl,
                                 bool p) {
    if (!p) return w == target ? repl : w;
    const Px x = Read(w, true), t = Unpack(target);
    if (x.b == t.b && x.g == t.g && x.r == t.r && x.a == t.a) {
        const Px n = Unpack(repl);
        return Pack(M(n.b, n.a), M(n.g, n.a), M(n.r, n.a), n.a);
    }
    return w;
}

inline std::uint32_t Premultiply(std::uint32_t w) {
    const Px x = Unpack(w);
    return Pack(x.b * x.a >> 8, x.g * x.a >> 8, x.r * x.a >> 8, x.a);
}

inline std::uint32_t Interpolate(std::uint32_t w) {
    const Px x = Unpack(w);
    if (x.a == 0) return 0;
    auto u = [&](int c) { return std::min(255, c * 255 / x.a); };
    return Pack(u(x.b), u(x.g), u(x.r), x.a);
}

// ---- Graph blend ----

inline int Formula(int t, int x, int y) {
    switch (t) {
        case 0:
            return y;
        case 2:
            return (x * y) >> 8;
        case 3:
            return x - y > 0 ? x - y : 0;
        case 4:
            return std::min(255, x + y);
        case 5:
            return 255 - (((255 - y) * (255 - x)) >> 8);
        case 6:
        case 12: {
            const int chooser = t == 6 ? x : y;
            if (chooser < 128) return (2 * x * y) >> 8;
            return std::min(255, ((2 * ((256 - y) * x + 256 * y)) >> 8) - 255);
        }
        case 7:
            return y < 255 ? std::min(255, (x * 256) / (255 - y)) : 255;
        case 8:
            return std::max(0, 255 + ((x - 255) * 256) / (y + 1));
        case 9:
            return std::min(x, y);
        case 10:
            return std::max(x, y);
        case 11: {
            const float v = float(y) / 255.0f, u = float(x) / 255.0f;
            const float e = y < 128 ? 2.0f * (1.0f - v) : 0.5f / v;
            const float f = 255.0f * std::pow(u, e);
            return std::clamp(int(f), 0, 255);
        }
        case 13:
            return std::min(255, (2 * ((128 - y) * x + 128 * y)) >> 8);
    }
    return 0;
}

inline std::uint32_t Blend(int type, float ratio, std::uint32_t sw, std::uint32_t bw) {
    const bool p = type >= 17;
    const int t = p ? type - 17 : type;
    const int r = int(Clampf(ratio, 0, 1) * 256.0f);
    const Px s = Unpack(sw), b = Unpack(bw);
    const int sA = s.a, bA = b.a;
    const int xs[3] = {s.b, s.g, s.r}, ys[3] = {b.b, b.g, b.r};
    int out[3];
    int outA = sA;
    if (t == 14 || t == 15) {
        const int a = (bA * r) >> 8;
        const unsigned Dn = unsigned(sA * (256 - a) + 256 * a);
        const unsigned A2 = t == 14 ? Dn >> 8 : Dn >> 8;
        if ((t == 14 && Dn == 0) || (t == 15 && A2 == 0)) return 0;
        outA = int(A2);
        for (int c = 0; c < 3; ++c) {
            unsigned x = unsigned(p ? D(xs[c], sA) : xs[c]);
            unsigned y = unsigned(p ? D(ys[c], bA) : ys[c]);
            unsigned q;
            if (t == 14)
                q = (x * sA * (256 - a) + y * a * 256) / Dn & 255;
            else
                q = std::min(255u, (y * a + x * sA) / A2);
            out[c] = p ? M(int(q), outA) : int(q);
        }
    } else if (t == 16) {
        outA = (sA * 65536 + (((bA * sA) >> 8) - sA) * r * 255) >> 16;
        for (int c = 0; c < 3; ++c) out[c] = p ? M(D(xs[c], sA), outA) : xs[c];
    } else {
        const int k = bA * r;
        for (int c = 0; c < 3; ++c) {
            const int x = p ? D(xs[c], sA) : xs[c];
            const int y = p ? D(ys[c], bA) : ys[c];
            const std::int64_t v = std::int64_t(x) * 65536 + std::int64_t(Formula(t, x, y) - x) * k;
            const int m = int(v >> 16) & 255;
            out[c] = p ? M(m, sA) : m;
        }
    }
    return Pack(out[0], out[1], out[2], outA);
}

inline std::uint32_t RgbaMix(const int sel[4], std::uint32_t sw, std::uint32_t bw) {
    const Px s = Unpack(sw), b = Unpack(bw);
    auto pick = [&](int code) {
        const int bytes[8] = {s.r, s.g, s.b, s.a, b.r, b.g, b.b, b.a};
        return code >= 0 && code < 8 ? bytes[code] : 0;
    };
    return Pack(pick(sel[2]), pick(sel[1]), pick(sel[0]), pick(sel[3]));
}

// ---- Images ----

// Random pixels whose alphas and channels often sit at the extremes 0, 1, 254, 255.
struct Image {
    int width, height, pitch;
    std::vector<std::uint8_t> bytes;
    std::uint32_t& At(int x, int y) {
        return *reinterpret_cast<std::uint32_t*>(
            &bytes[std::size_t(y) * pitch + std::size_t(x) * 4]);
    }
};

inline Image MakeImage(int width, int height, std::uint32_t seed) {
    Image im{width, height, width * 4 + 12, {}};
    im.bytes.resize(std::size_t(im.pitch) * height);
    std::mt19937 rng(seed);
    const int extremes[4] = {0, 1, 254, 255};
    auto value = [&]() {
        const unsigned pick = rng() % 8;
        return pick < 4 ? extremes[pick] : int(rng() % 256);
    };
    for (auto& b : im.bytes) b = std::uint8_t(rng());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) im.At(x, y) = Pack(value(), value(), value(), value());
    }
    return im;
}

}  // namespace filterref
