#include "runtime/world/Game_MapRenderer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Main/DxGraphicsDraw.h"
#include "Main/DxGraphicsGraph.h"
#include "Main/DxMemImg.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"

Game_MapRenderer* ActiveMapRenderer = nullptr;
std::uint8_t ImageListSkipTableRequest = 0;

namespace {

constexpr std::int32_t kEmptyTile = 100000;
constexpr std::int32_t kEmptyAutotileLast = 199999;

template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int length = std::snprintf(nullptr, 0, format, args...);
    if (length <= 0) return format;
    std::string out(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(out.data(), out.size(), format, args...);
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// A modulo that is never negative (the size is positive).
std::int32_t Wrap(std::int32_t v, std::int32_t size) {
    const std::int32_t m = v % size;
    return m < 0 ? m + size : m;
}

std::uint8_t DrawLayerOf(std::int32_t flags) {
    if (flags & TileFlag::Overhead) return 2;
    if (flags & TileFlag::DrawMiddle) return 1;
    return 0;
}

const GraphicCacheEntry* EntryAt(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= GraphicCache.entries.size()) return nullptr;
    return &GraphicCache.entries[static_cast<std::size_t>(index)];
}

// The cache entry index of a file just loaded, or -1.
std::int32_t CachedIndex(const std::string& name) {
    const auto found = GraphicCache.nameMap.find(name);
    return found == GraphicCache.nameMap.end() ? -1 : found->second;
}

void WholeSize(const GraphicCacheEntry& entry, int& width, int& height) {
    width = height = 0;
    if (!entry.handles.empty()) ZiDaz::GetGraphSize(entry.handles[0], &width, &height);
}

// The cut piece of an autotile image that a quarter draws: the image is cut into half-tile chips,
// 2F columns and 10 rows, numbered from 1 row by row after the whole image.
std::int32_t QuarterPiece(int quarter, std::int32_t digit, std::int32_t step, std::int32_t frames) {
    switch (quarter) {
        case 0:
            return 2 * (step + 2 * frames * digit) + 1;
        case 1:
            return 2 * (step + 2 * frames * digit) + 2;
        case 2:
            return 2 * (step + (2 * digit + 1) * frames) + 1;
        default:
            return 2 * (step + (2 * digit + 1) * frames) + 2;
    }
}

std::int32_t QuarterDigit(std::int32_t id, int quarter) {
    static constexpr std::int32_t kPlace[4] = {1000, 100, 10, 1};
    return (id % 10000) / kPlace[quarter] % 10;
}

}  // namespace

Game_MapRenderer::Game_MapRenderer(Game_MapState& map)
    : map_(map),
      drawnTable_(kTableSize * kTableSize, -1),
      listDrawnTable_(kTableSize * kTableSize, -1),
      skipTable_(kTableSize * kTableSize, 0) {
    autotileGraphics.fill(-1);
    drawLayers.assign(map_.tileFlags.size(), 0);
    Setup();
    pixelX = pixelY = 0;
    animationStep_ = 0;
}

Game_MapRenderer::~Game_MapRenderer() {
    if (ActiveMapRenderer == this) ActiveMapRenderer = nullptr;
}

void Game_MapRenderer::Setup() {
    LoadTilesetImages();
    if (drawLayers.size() < map_.tileFlags.size()) drawLayers.resize(map_.tileFlags.size(), 0);
    for (std::size_t i = 0; i < map_.tileFlags.size(); ++i) {
        drawLayers[i] = DrawLayerOf(map_.tileFlags[i]);
    }
}

std::int32_t Game_MapRenderer::BaseChipCount() const {
    const GraphicCacheEntry* entry = EntryAt(baseGraphic);
    if (entry == nullptr || entry->handles.empty()) return 0;
    return static_cast<std::int32_t>(entry->handles.size()) - 1;
}

void Game_MapRenderer::LoadTilesetImages() {
    if (TheSystemState.mapDrawingMode == 1) {
        std::vector<TileImageEntry>& list = TheSystemState.tileImageList;
        listGraphics_.assign(list.size(), -1);
        listFrames_.assign(list.size(), {});
        for (std::size_t i = 0; i < list.size(); ++i) {
            TileImageEntry& item = list[i];
            if (item.fileName.empty()) continue;
            const std::int32_t frames = std::max(item.frameCount, 1);
            if (!LoadGraphicCached(1, frames, GraphicSizeKind::ByCount, item.fileName)) continue;
            listGraphics_[i] = CachedIndex(item.fileName);
            const GraphicCacheEntry* entry = EntryAt(listGraphics_[i]);
            if (entry == nullptr || entry->handles.size() < 2) continue;
            listFrames_[i].assign(entry->handles.begin() + 1, entry->handles.end());
            int width = 0, height = 0;
            ZiDaz::GetGraphSize(listFrames_[i][0], &width, &height);
            item.frameSize = width * 10000 + height;
        }
        return;
    }

    const std::vector<std::string>& names = map_.imageNames;
    baseImageName_ = names.empty() ? std::string() : names[0];
    baseGraphic = -1;
    if (!baseImageName_.empty() &&
        LoadGraphicCached(TileSize, TileSize, GraphicSizeKind::ByCellSize, baseImageName_)) {
        baseGraphic = CachedIndex(baseImageName_);
        int width = 0, height = 0;
        if (const GraphicCacheEntry* entry = EntryAt(baseGraphic)) WholeSize(*entry, width, height);
        if (width != 8 * TileSize) {
            ReportRuntimeError(
                true,
                Format(TranslateMessageUtf8(
                           u"基本タイルセットの横サイズが%dピクセルになっていません！ => "
                           u"横%dピクセル"),
                       8 * TileSize, width),
                TranslateMessageUtf8(u"このままでは強制終了の可能性があります。"),
                TranslateMessageUtf8(
                    u"「タイルセット設定」で適切なタイル用ファイルを選択してください"));
        }
        // Every base chip of the image gets a flag, so the chip commands and queries can reach it.
        const std::size_t needed = 32 + static_cast<std::size_t>(height / TileSize) * 8;
        if (map_.tileFlags.size() < needed) map_.tileFlags.resize(needed, 0);
    }

    for (int slot = 0; slot < kAutotileSlots; ++slot) {
        const std::size_t at = static_cast<std::size_t>(slot) + 1;
        autotileNames_[slot] = at < names.size() ? names[at] : std::string();
        autotileGraphics[slot] = -1;
        autotileFrames[slot] = 0;
        autotileLoaded[slot] = 0;
        const std::string& name = autotileNames_[slot];
        if (name.empty()) continue;
        autotileLoaded[slot] = 1;
        if (!LoadGraphicCached(TileSize / 2, TileSize / 2, GraphicSizeKind::ByCellSize, name)) {
            continue;
        }
        autotileGraphics[slot] = CachedIndex(name);
        int width = 0, height = 0;
        if (const GraphicCacheEntry* entry = EntryAt(autotileGraphics[slot])) {
            WholeSize(*entry, width, height);
        }
        autotileFrames[slot] = width / TileSize;
        if (width < TileSize || height < 5 * TileSize) {
            ReportRuntimeError(
                true,
                Format(TranslateMessageUtf8(u"オートタイル「%s」が既定値より小さいサイズです！ => "
                                            u"横%d x 縦%dピクセル(既定 %d x %d)"),
                       name.c_str(), width, height, TileSize, 5 * TileSize),
                TranslateMessageUtf8(u"このままでは強制終了の可能性があります。"),
                TranslateMessageUtf8(
                    u"「タイルセット設定」で適切なタイル用ファイルを選択してください"));
        }
    }
}

void Game_MapRenderer::RecomputeVisibleRange(bool imageList) {
    VisibleCellRange& v = visibleRange;
    const std::int32_t s = std::max(WindowScale, 1);
    const std::int32_t gameWidth = ScreenWidth / s;
    const std::int32_t gameHeight = ScreenHeight / s;
    const std::int32_t setting = TheSystemState.showMoreWhenZoomedOut;
    if (!imageList && setting < 0) {
        v = {-1, -1, 21, 16, 1, 2};
        return;
    }
    if (!imageList && setting == 0) {
        auto end = [](std::int32_t size) {
            std::int32_t e = size / TileSize + (size % TileSize > 0 ? 1 : 0) + 1;
            if (size - e * TileSize + 32 >= 1) ++e;
            return e;
        };
        v = {-1, -1, end(gameWidth), end(gameHeight), 1, 2};
        return;
    }
    const std::int32_t z = std::max(zoom_, 1);
    const std::int32_t zc = std::min(z, 100);
    const std::int32_t a = 100 / zc;
    const std::int32_t b = 300 / zc;
    auto axis = [&](std::int32_t game, std::int32_t window, std::int32_t centre,
                    std::int32_t extraFirst, std::int32_t minBias, std::int32_t& first,
                    std::int32_t& end, std::int32_t& bias) {
        // Zoom and centre come from scripts and saves: keep the arithmetic inside 64 bits and the
        // cell offsets far from overflowing when multiplied by the tile size.
        const std::int64_t z64 = std::min<std::int64_t>(z, 100000);
        const std::int64_t c64 = std::clamp<std::int64_t>(centre, -1000000, 1000000);
        first = static_cast<std::int32_t>(((z64 - 100) * c64 / TileSize) / z64 - a - extraFirst);
        end = static_cast<std::int32_t>(((game - c64) * 100 / z64 + c64) / TileSize + b);
        if (window - static_cast<std::int64_t>(TileSize) * z * end / 100 + 32 > 0) end += a + 1;
        if (end - first >= 150) {
            const std::int32_t m = (end + first) / 2;
            first = m - 75;
            end = m + 75;
        }
        bias = std::max(-first, minBias);
        end = std::min(first + 149, end);
    };
    const auto cx = static_cast<std::int32_t>(zoomCentreX_);
    const auto cy = static_cast<std::int32_t>(zoomCentreY_);
    axis(gameWidth, ScreenWidth, cx, 0, 1, v.firstColumn, v.endColumn, v.columnBias);
    axis(gameHeight, ScreenHeight, cy, imageList ? 10 : 0, 2, v.firstRow, v.endRow, v.rowBias);
}

void Game_MapRenderer::PutPiece(std::int32_t graph, std::int32_t x, std::int32_t y,
                                std::int32_t width, std::int32_t height) const {
    if (scale_ == 1 && zoom_ == 100) {
        ZiDaz::PutGraph(x, y, graph, 1);
        return;
    }
    const double factor = (zoom_ - 100) / 100.0;
    auto zoomX = [&](double v) { return v + (v - zoomCentreX_ * scale_) * factor; };
    auto zoomY = [&](double v) { return v + (v - zoomCentreY_ * scale_) * factor; };
    // A huge zoom puts corners far outside the screen; keep them where an int can hold them.
    auto limit = [](double v) { return std::clamp(v, -1.0e9, 1.0e9); };
    const double x1 = limit(zoomX(static_cast<double>(x) * scale_));
    const double y1 = limit(zoomY(static_cast<double>(y) * scale_));
    const double x2 = limit(zoomX(static_cast<double>(x + width) * scale_));
    double y2 = limit(zoomY(static_cast<double>(y + height) * scale_));
    if (smooth_) {
        // Moving the lower edge half a pixel down closes the seams between zoomed rows.
        y2 += scale_ * zoom_ / 100.0 * 0.5;
        ZiDaz::PutGraphStretchedF(static_cast<float>(x1), static_cast<float>(y1),
                                  static_cast<float>(x2), static_cast<float>(y2), graph, 1);
    } else {
        ZiDaz::PutGraphStretched(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2),
                                 static_cast<int>(y2), graph, 1);
    }
}

void Game_MapRenderer::DrawLayers(MapDrawPass pass, std::int32_t row) {
    if (TheSystemState.mapDrawingMode == 1) {
        DrawImageListLayers(pass, row);
        return;
    }
    if (!map_.imageNames.empty() && map_.imageNames[0] != baseImageName_) Setup();
    zoom_ = map_.zoom.currentPercent;
    if (zoom_ <= 0) return;
    scale_ = std::max(WindowScale, 1);
    zoomCentreX_ = map_.zoom.currentX;
    zoomCentreY_ = map_.zoom.currentY;
    smooth_ = TheSystemState.smoothMapZoom != 0;
    ActiveMapRenderer = this;

    const std::int32_t width = map_.GetWidth();
    const std::int32_t height = map_.GetHeight();
    if (width <= 0 || height <= 0 || TileSize <= 0) return;
    const std::int32_t pixelHeight = height * TileSize;
    if (pass == MapDrawPass::Base) {
        if (pixelY < 0) pixelY += pixelHeight;
        pixelY %= pixelHeight;
        pixelX -= map_.shakeOffsetX;
        pixelY -= map_.shakeOffsetY;
        std::fill(drawnTable_.begin(), drawnTable_.end(), -1);
    } else {
        pixelY %= pixelHeight;
    }
    animationStep_ = map_.frameCounter / 20;
    ZiDaz::SelectBlendMode(ZiDaz::DX_BLEND_NONE, 255);
    if (visibleRange.firstColumn == VisibleCellRange::kStale) RecomputeVisibleRange(false);

    const std::int32_t x = pixelX, y = pixelY;
    const VisibleCellRange& v = visibleRange;
    std::int32_t firstRow = v.firstRow, endRow = v.endRow;
    if (pass == MapDrawPass::Row) {
        std::int32_t yy = y;
        if (y + map_.shakeOffsetY < 0 && y < 0) yy += pixelHeight;
        const std::int32_t r = row - yy / TileSize;
        if (r >= v.endRow) return;
        const std::int32_t mapRow = r + y / TileSize;
        if (!map_.loopY && (mapRow < 0 || mapRow >= height)) return;
        firstRow = r;
        endRow = r + 1;
    }
    for (std::int32_t r = firstRow; r < endRow; ++r) {
        const std::int32_t mapRow = r + y / TileSize;
        if (pass != MapDrawPass::Row && !map_.loopY && (mapRow < 0 || mapRow >= height)) continue;
        const std::int32_t tableRow = v.rowBias + r;
        if (tableRow < 0 || tableRow >= kTableSize) return;
        for (std::int32_t c = v.firstColumn; c < v.endColumn; ++c) {
            const std::int32_t mapColumn = x / TileSize + c;
            if (!map_.loopX && (mapColumn < 0 || mapColumn >= width)) continue;
            const std::int32_t tableColumn = v.columnBias + c;
            if (tableColumn < 0 || tableColumn >= kTableSize) continue;
            DrawCellLayers(tableRow * kTableSize + tableColumn, Wrap(mapColumn, width), r, c, pass);
        }
    }
}

void Game_MapRenderer::DrawCellLayers(std::int32_t tableIndex, std::int32_t cellX, std::int32_t r,
                                      std::int32_t c, MapDrawPass pass) {
    const std::int32_t height = map_.GetHeight();
    const std::int32_t x = pixelX, y = pixelY;
    const std::int32_t cellY = Wrap(r + y / TileSize, height);
    const std::size_t at = static_cast<std::size_t>(cellX) * height + cellY;
    const std::int32_t left = c * TileSize - x % TileSize;
    const std::int32_t top = r * TileSize - y % TileSize;
    const auto passNumber = static_cast<std::uint8_t>(pass);
    std::int32_t& drawn = drawnTable_[static_cast<std::size_t>(tableIndex)];
    for (int layer = drawn + 1; layer <= 2; ++layer) {
        const std::vector<std::int32_t>& cells = map_.mapData.layers[layer];
        if (at >= cells.size()) continue;
        const std::int32_t id = cells[at];
        if (id >= kEmptyTile) {
            const std::int32_t k = id / kEmptyTile;
            if (k > 32) continue;
            const std::size_t chip = static_cast<std::size_t>(k) - 1;
            if (chip < drawLayers.size() && drawLayers[chip] > passNumber) return;
            if (k == 1) continue;
            const int slot = k - 2;
            const std::int32_t frames = autotileFrames[slot];
            const GraphicCacheEntry* entry = EntryAt(autotileGraphics[slot]);
            if (!autotileLoaded[slot] || frames <= 0 || entry == nullptr) continue;
            drawn = layer;
            const std::int32_t step = animationStep_ % frames;
            const std::int32_t half = TileSize / 2;
            const std::int32_t imageRows = entry->divisionY / 2;
            for (int quarter = 0; quarter < 4; ++quarter) {
                const std::int32_t digit = QuarterDigit(id, quarter);
                // A digit naming a row the image lacks leaves its quarter empty.
                if (digit >= imageRows) continue;
                const std::int32_t piece = QuarterPiece(quarter, digit, step, frames);
                if (piece <= 0 || static_cast<std::size_t>(piece) >= entry->handles.size()) {
                    continue;
                }
                PutPiece(entry->handles[static_cast<std::size_t>(piece)],
                         left + (quarter & 1) * half, top + (quarter >> 1) * half, half, half);
            }
        } else if (id < 0) {
            ReportRuntimeError(
                true, TranslateMessageUtf8(u"【エラー】"),
                TranslateMessageUtf8(u"存在しないタイル番号でマップを表示しています、指定箇所を"
                                     u"今使用中のチップで上書きしてください"),
                Format(TranslateMessageUtf8(u"　=>　タイルID %d 　座標(レイヤー%d X:%d Y:%d)"), id,
                       layer + 1, x / TileSize + c, y / TileSize + r));
            std::exit(1);
        } else {
            if (id >= BaseChipCount()) continue;
            const std::size_t chip = static_cast<std::size_t>(id) + 32;
            if (chip < drawLayers.size() && drawLayers[chip] > passNumber) return;
            drawn = layer;
            const GraphicCacheEntry* entry = EntryAt(baseGraphic);
            PutPiece(entry->handles[static_cast<std::size_t>(id) + 1], left, top, TileSize,
                     TileSize);
        }
    }
}

void Game_MapRenderer::BuildSkipTable(std::int32_t firstColumn, std::int32_t columnCount,
                                      std::int32_t firstRow, std::int32_t rowCount) {
    const std::int32_t width = map_.GetWidth();
    const std::int32_t height = map_.GetHeight();
    if (width <= 0 || height <= 0) return;
    const std::int32_t originX = firstColumn + pixelX / TileSize;
    const std::int32_t originY = firstRow + pixelY / TileSize;
    if (!ImageListSkipTableRequest && originX == skipOriginX_ && originY == skipOriginY_) return;
    ImageListSkipTableRequest = 0;
    skipOriginX_ = originX;
    skipOriginY_ = originY;
    std::fill(skipTable_.begin(), skipTable_.end(), 0);
    columnCount = std::clamp(columnCount, 0, kTableSize - 1);
    rowCount = std::clamp(rowCount, 0, kTableSize);
    // Cells are linked by their true map position: beyond the map's edge a looping map shows the
    // opposite side and a non-looping map nothing.
    for (std::int32_t i = 0; i < rowCount; ++i) {
        const std::int32_t mapRow = originY + i;
        std::int32_t* slots = &skipTable_[static_cast<std::size_t>(i) * kTableSize];
        std::int32_t previous = 0;
        if (map_.loopY || (mapRow >= 0 && mapRow < height)) {
            const std::int32_t cellY = Wrap(mapRow, height);
            for (std::int32_t o = 0; o < columnCount; ++o) {
                const std::int32_t mapColumn = originX + o;
                if (!map_.loopX && (mapColumn < 0 || mapColumn >= width)) continue;
                const std::size_t at =
                    static_cast<std::size_t>(Wrap(mapColumn, width)) * height + cellY;
                bool any = false;
                for (const auto& cells : map_.mapData.layers) {
                    if (at < cells.size() &&
                        (cells[at] < kEmptyTile || cells[at] > kEmptyAutotileLast)) {
                        any = true;
                    }
                }
                if (!any) continue;
                slots[previous] = o;
                previous = o;
            }
        }
        slots[previous] = columnCount;
    }
}

void Game_MapRenderer::DrawImageListLayers(MapDrawPass pass, std::int32_t row) {
    const std::int32_t width = map_.GetWidth();
    const std::int32_t height = map_.GetHeight();
    if (width <= 0 || height <= 0 || TileSize <= 0) return;
    zoom_ = map_.zoom.currentPercent;
    if (zoom_ <= 0) return;
    scale_ = std::max(WindowScale, 1);
    zoomCentreX_ = map_.zoom.currentX;
    zoomCentreY_ = map_.zoom.currentY;
    if (pass == MapDrawPass::Base) {
        pixelX -= map_.shakeOffsetX;
        pixelY -= map_.shakeOffsetY;
        std::fill(listDrawnTable_.begin(), listDrawnTable_.end(), -1);
    }
    animationStep_ = map_.frameCounter / 20;
    ZiDaz::SelectBlendMode(ZiDaz::DX_BLEND_NONE, 255);
    if (visibleRange.firstColumn == VisibleCellRange::kStale) RecomputeVisibleRange(true);
    const VisibleCellRange& v = visibleRange;
    if (pass == MapDrawPass::Base) {
        BuildSkipTable(v.firstColumn, v.endColumn - v.firstColumn + 1, v.firstRow,
                       v.endRow - v.firstRow + 1);
    }
    const std::int32_t x = pixelX, y = pixelY;
    std::int32_t firstRow = v.firstRow, endRow = v.endRow;
    if (pass == MapDrawPass::Row) {
        const std::int32_t r = row - y / TileSize;
        if (r >= v.endRow) return;
        firstRow = r;
        endRow = r + 1;
    }
    const std::int32_t columnCount = std::min(v.endColumn - v.firstColumn, kTableSize - 1);
    for (std::int32_t r = firstRow; r < endRow; ++r) {
        const std::int32_t mapRow = r + y / TileSize;
        if (!map_.loopY && (mapRow < 0 || mapRow >= height)) continue;
        const std::int32_t tableRow = v.rowBias + r;
        if (tableRow < 0 || tableRow >= kTableSize) return;
        const std::int32_t skipRow = r - v.firstRow;
        if (skipRow < 0 || skipRow >= kTableSize) continue;
        const std::int32_t* slots = &skipTable_[static_cast<std::size_t>(skipRow) * kTableSize];
        for (std::int32_t o = 0; o < columnCount;) {
            const std::int32_t c = v.firstColumn + o;
            const std::int32_t mapColumn = x / TileSize + c;
            const std::int32_t tableColumn = v.columnBias + c;
            if ((map_.loopX || (mapColumn >= 0 && mapColumn < width)) && tableColumn >= 0 &&
                tableColumn < kTableSize) {
                DrawImageListCell(tableRow, tableColumn, r, c, Wrap(mapColumn, width),
                                  Wrap(mapRow, height), pass);
            }
            o = slots[o] > o ? slots[o] : o + 1;
        }
    }
}

void Game_MapRenderer::DrawImageListCell(std::int32_t tableRow, std::int32_t tableColumn,
                                         std::int32_t r, std::int32_t c, std::int32_t mapX,
                                         std::int32_t mapY, MapDrawPass pass) {
    const std::int32_t height = map_.GetHeight();
    const std::size_t at = static_cast<std::size_t>(mapX) * height + mapY;
    std::int32_t& drawn =
        listDrawnTable_[static_cast<std::size_t>(tableRow) * kTableSize + tableColumn];
    const auto passNumber = static_cast<std::uint8_t>(pass);
    const std::vector<TileImageEntry>& list = TheSystemState.tileImageList;
    for (int layer = drawn + 1; layer <= 2; ++layer) {
        const std::vector<std::int32_t>& cells = map_.mapData.layers[layer];
        if (at >= cells.size()) continue;
        const std::int32_t id = cells[at];
        if (id == kEmptyTile || id == 104444 || id < 0) continue;
        // The entry of chip number n has index n + 1.
        const std::int32_t index = id < kEmptyTile ? id + 33 : id / kEmptyTile;
        if (static_cast<std::size_t>(index) >= list.size() ||
            static_cast<std::size_t>(index) >= listFrames_.size() || listFrames_[index].empty()) {
            continue;
        }
        // The chip-flag command writes the flag of index n + 1 in this mode; its byte governs.
        if (static_cast<std::size_t>(index) < drawLayers.size() &&
            drawLayers[static_cast<std::size_t>(index)] > passNumber) {
            return;
        }
        drawn = layer;
        const TileImageEntry& item = list[static_cast<std::size_t>(index)];
        const std::vector<std::int32_t>& frames = listFrames_[static_cast<std::size_t>(index)];
        const std::int32_t wait = std::max(item.frameWait, 1);
        const std::int32_t count = std::max<std::int32_t>(
            1, std::min<std::int32_t>(std::max(item.frameCount, 1),
                                      static_cast<std::int32_t>(frames.size())));
        const std::int32_t graph =
            frames[static_cast<std::size_t>(map_.frameCounter / wait % count)];
        const std::int32_t left = c * TileSize - pixelX % TileSize;
        const std::int32_t top = r * TileSize - pixelY % TileSize;
        if (scale_ == 1 && zoom_ == 100) {
            ZiDaz::PutGraph(left + item.offsetX, top + item.offsetY, graph, 1);
            continue;
        }
        const double factor = (zoom_ - 100) / 100.0;
        const double x1 = static_cast<double>(left) * scale_ + item.offsetX;
        const double y1 = static_cast<double>(top) * scale_ + item.offsetY;
        const double x2 = x1 + static_cast<double>(item.frameSize / 10000) * scale_;
        const double y2 = y1 + static_cast<double>(item.frameSize % 10000) * scale_;
        auto zoomX = [&](double p) { return p + (p - zoomCentreX_ * scale_) * factor; };
        auto zoomY = [&](double p) { return p + (p - zoomCentreY_ * scale_) * factor; };
        ZiDaz::PutGraphStretchedF(static_cast<float>(zoomX(x1)), static_cast<float>(zoomY(y1)),
                                  static_cast<float>(zoomX(x2)), static_cast<float>(zoomY(y2)),
                                  graph, 1);
    }
}

std::int32_t Game_MapRenderer::GetTileChipInfo(std::int32_t kind, std::int32_t value,
                                               std::int32_t x, std::int32_t y, std::int32_t layer,
                                               bool quarter) const {
    if (kind == 5) return value;
    if (kind < 0 || kind > 4) return kind;
    const std::int32_t width = map_.GetWidth();
    const std::int32_t height = map_.GetHeight();
    const std::int32_t cellX = x / 2, cellY = y / 2;
    // No autotile here (outside the map, another layer number, a base chip): nothing to answer.
    if (layer < 0 || layer > 2 || x < 0 || y < 0 || cellX >= width || cellY >= height) return -1;
    const std::vector<std::int32_t>& cells = map_.mapData.layers[layer];
    const std::size_t at = static_cast<std::size_t>(cellX) * height + cellY;
    if (at >= cells.size()) return -1;
    const std::int32_t id = cells[at];
    if (id < kEmptyTile) return -1;
    const std::int32_t k = id / kEmptyTile;
    const int q = (x % 2) + 2 * (y % 2);
    std::int32_t frames = 0;
    if (k >= 2 && k <= 32 && autotileLoaded[k - 2]) frames = autotileFrames[k - 2];
    switch (kind) {
        case 0:
            return quarter ? QuarterDigit(id, q) + 1 : id % 10000 + 1111;
        case 1:
            return animationStep_ % std::max(frames, 1) + 1;
        case 2:
            return frames;
        case 3:
            if (!quarter || frames <= 0) return -1;
            return QuarterPiece(q, QuarterDigit(id, q), animationStep_ % frames, frames);
        default:
            return frames * 20;
    }
}
