// The glyph cache's pixel rules written out again, straight and slow: the levels a source kind
// gives, the edge stamps, and the cell a glyph must leave in the texture or in the memory strip.
// The oracle of the glyph cache's tests and of the text drawing tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Main/DxFont.h"

namespace glyph_ref {

using namespace ZiDaz;

struct Written {
    FontGlyphEntry* entry;
    std::uint32_t code;
    int blank, kind;
    std::vector<std::uint8_t> bits;
    int width, height, pitch, originX, top, advance;
};

inline int FloorDivide(int a, int b) {
    return static_cast<int>(std::floor(static_cast<double>(a) / b));
}

inline int Bit(const Written& g, int x, int y) {
    if (y < 0 || y >= g.height || x < 0 || x >= g.pitch * 8) return 0;
    return (g.bits[static_cast<std::size_t>(y) * g.pitch + x / 8] >> (7 - x % 8)) & 1;
}

inline int Byte(const Written& g, int x, int y) {
    if (y < 0 || y >= g.height || x < 0 || x >= g.pitch) return 0;
    return g.bits[static_cast<std::size_t>(y) * g.pitch + x];
}

struct Expected {
    int scale;  // 1, 16, 64, 255
    int ox, oy, ow, oh, advance;
    std::vector<int> levels;  // ow x oh
};

inline Expected ReferenceLevels(const FontHandleData* f, const Written& g) {
    const bool texture = f->cache.onTexture;
    const bool tex32 = texture && f->cache.textureColorDepth == 32;
    const int w = g.kind == 1 ? 4 : g.kind == 2 ? 8 : g.kind == 3 ? 16 : 1;
    Expected e{};
    e.ox = FloorDivide(g.originX + w / 4, w);
    e.advance = FloorDivide(g.advance + w / 4, w);
    e.oy = FloorDivide(g.top, w);
    const int r = g.top - e.oy * w;
    e.ow = (g.width + w - 1) / w;
    e.oh = (g.height + r + w - 1) / w;
    e.levels.assign(static_cast<std::size_t>(e.ow) * e.oh, 0);
    for (int y = 0; y < e.oh; ++y) {
        for (int x = 0; x < e.ow; ++x) {
            int v = 0;
            switch (g.kind) {
                case 0:
                    v = x < g.width ? Bit(g, x, y) : 0;
                    e.scale = 1;
                    break;
                case 5:
                    v = x < g.width && Byte(g, x, y) != 0;
                    e.scale = 1;
                    break;
                case 1:
                case 2:
                case 3: {
                    int count = 0;
                    for (int dy = 0; dy < w; ++dy)
                        for (int dx = 0; dx < w; ++dx) count += Bit(g, x * w + dx, y * w - r + dy);
                    if (tex32) {
                        v = w == 4 ? count * 4 : w == 8 ? count : std::min(count, 255);
                        e.scale = w == 16 ? 255 : 64;
                    } else {
                        v = w == 4 ? count : w == 8 ? count / 4 : 16 * std::min(count, 255) / 255;
                        e.scale = 16;
                    }
                    break;
                }
                case 4: {
                    int n = x < g.width ? (Byte(g, x / 2, y) >> (x % 2 ? 0 : 4)) & 15 : 0;
                    v = texture ? 64 * n / 15 : (n == 0 ? 0 : n + 1);
                    e.scale = texture ? 64 : 16;
                    break;
                }
                case 6:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    e.scale = 16;
                    break;
                case 7:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    if (!texture) v /= 4;
                    e.scale = texture ? 64 : 16;
                    break;
                case 8:
                    v = x < g.width ? Byte(g, x, y) : 0;
                    if (!texture) v = 16 * v / 255;
                    e.scale = texture ? 255 : 16;
                    break;
            }
            e.levels[static_cast<std::size_t>(y) * e.ow + x] = v;
        }
    }
    if (e.ow == 0 || e.oh == 0) {
        e.scale = g.kind == 0 || g.kind == 5 ? 1 : 16;
    }
    return e;
}

inline std::vector<std::pair<int, int>> ReferenceStamp(int edge, bool memory) {
    std::vector<std::pair<int, int>> out;
    std::vector<std::string> rows;
    if (edge == 1) {
        rows = memory ? std::vector<std::string>{".X.", "X.X", ".X."}
                      : std::vector<std::string>{"XXX", "XXX", "XXX"};
    } else if (edge == 2) {
        rows = {".XXX.", "XXXXX", "XXXXX", "XXXXX", ".XXX."};
    } else if (edge == 3) {
        rows = {"...X...", ".XXXXX.", ".XXXXX.", "XXXXXXX", ".XXXXX.", ".XXXXX.", "...X..."};
    } else if (edge == 4) {
        rows = {"..XXXXX..", ".XXXXXXX.", "XXXXXXXXX", "XXXXXXXXX", "XXXXXXXXX",
                "XXXXXXXXX", "XXXXXXXXX", ".XXXXXXX.", "..XXXXX.."};
    } else {
        for (int y = -edge; y <= edge; ++y) {
            std::string row;
            for (int x = -edge; x <= edge; ++x) row += x * x + y * y <= edge * edge ? 'X' : '.';
            rows.push_back(row);
        }
    }
    for (int y = 0; y < static_cast<int>(rows.size()); ++y)
        for (int x = 0; x < static_cast<int>(rows[y].size()); ++x)
            if (rows[y][x] == 'X') out.push_back({x - edge, y - edge});
    return out;
}

// The pixels the cell must hold: texture (body and edge half, pixel values) or memory strip rows.
struct Cell {
    std::vector<std::uint32_t> body, edge;
    std::vector<std::uint8_t> rows;
};

inline Cell ReferenceCell(const FontHandleData* f, const Written& g) {
    const bool texture = f->cache.onTexture;
    const int cell = f->metrics.cellSize;
    const bool edged = (f->fontType & 1) && f->edgeSize > 0;
    const int e = edged ? f->edgeSize : 0;
    const COLORFORMAT& fmt = f->cache.image.Format;
    const int ab = fmt.AlphaWidth;
    const std::uint32_t white = fmt.RedMask | fmt.GreenMask | fmt.BlueMask;
    auto pixel = [&](int alpha) {
        return white | (static_cast<std::uint32_t>(alpha) << fmt.AlphaPosition);
    };
    Cell out;
    const int pitch = f->memImagePitch;
    if (texture) {
        out.body.assign(static_cast<std::size_t>(cell) * cell, edged ? 0 : pixel(0));
        out.edge.assign(static_cast<std::size_t>(cell) * cell, 0);
    } else {
        out.rows.assign(static_cast<std::size_t>(pitch) * cell, 0);
    }
    if (g.blank || g.bits.empty() || g.width <= 0 || g.height <= 0) return out;
    Expected x = ReferenceLevels(f, g);
    const int inset = texture ? 1 : 0;
    const int cw = x.ow + 2 * e, ch = x.oh + 2 * e;
    std::vector<int> body(static_cast<std::size_t>(cw) * ch, 0), edgeLevel(body.size(), 0);
    for (int y = 0; y < x.oh; ++y)
        for (int xx = 0; xx < x.ow; ++xx)
            body[static_cast<std::size_t>(y + e) * cw + xx + e] =
                x.levels[static_cast<std::size_t>(y) * x.ow + xx];
    if (edged) {
        auto stamp = ReferenceStamp(e, !texture);
        const int L = x.scale == 255 ? 255 : x.scale, D = x.scale == 255 ? 256 : x.scale;
        for (int y = 0; y < x.oh; ++y) {
            for (int xx = 0; xx < x.ow; ++xx) {
                int a = x.levels[static_cast<std::size_t>(y) * x.ow + xx];
                if (a <= 0) continue;
                for (auto [dx, dy] : stamp) {
                    int& t = edgeLevel[static_cast<std::size_t>(y + e + dy) * cw + xx + e + dx];
                    if (x.scale == 1)
                        t = 1;
                    else if (!texture)
                        t = std::max(t, a);
                    else
                        t = t + (L - t) * a / D;
                }
            }
        }
    }
    const int full = (1 << ab) - 1;
    for (int y = 0; y < ch; ++y) {
        for (int xx = 0; xx < cw; ++xx) {
            const int cx = inset + xx, cy = inset + y;
            if (cx >= cell || cy >= cell) continue;
            const int b = body[static_cast<std::size_t>(y) * cw + xx];
            const int t = edgeLevel[static_cast<std::size_t>(y) * cw + xx];
            const std::size_t at = static_cast<std::size_t>(cy) * cell + cx;
            if (texture) {
                if (!edged) {
                    if (xx >= x.ow || y >= x.oh) continue;
                    int a = x.scale == 1    ? (b ? full : 0)
                            : x.scale == 16 ? (b ? b * (1 << (ab - 4)) - 1 : 0)
                            : x.scale == 64 ? (b ? (b - 1) * (1 << (ab - 6)) : 0)
                                            : b >> (8 - ab);
                    out.body[at] = pixel(a);
                } else {
                    int ba, ea;
                    if (x.scale == 1) {
                        ba = b ? full : 0;
                        ea = t ? full : 0;
                    } else if (x.scale == 255) {
                        ba = b;
                        ea = t;
                    } else if (b == x.scale) {
                        ba = full;
                        ea = 0;
                    } else if (x.scale == 16) {
                        ba = b ? b * 16 - 1 : 0;
                        ea = t ? t * 16 - 1 : 0;
                    } else {
                        ba = b ? 4 * b - 1 : 0;
                        ea = t ? 4 * t - 1 : 0;
                    }
                    out.body[at] = pixel(ba);
                    out.edge[at] = pixel(ea);
                }
            } else {
                std::uint8_t* row = &out.rows[static_cast<std::size_t>(cy) * pitch];
                if (f->memImageBitsPerPixel == 1) {
                    if (b) row[cx / 8] |= static_cast<std::uint8_t>(0x80 >> (cx % 8));
                } else if (!edged) {
                    row[cx] = static_cast<std::uint8_t>(b ? b - 1 : 0);
                } else if (x.scale == 1) {
                    row[cx] = static_cast<std::uint8_t>(b ? 1 : t ? 2 : 0);
                } else {
                    row[cx] = static_cast<std::uint8_t>((t ? t - 1 : 0) << 4 | (b ? b - 1 : 0));
                }
            }
        }
    }
    return out;
}

}  // namespace glyph_ref
