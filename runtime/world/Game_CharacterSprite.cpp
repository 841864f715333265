#include "runtime/world/Game_CharacterSprite.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Character.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/MapDrawCalls.h"

namespace {

// Shadows are rows of this system-database type (field 0 the file).
constexpr std::int32_t kShadowDatabaseType = 9;

const GraphicCacheEntry* Entry(std::int32_t entry) {
    if (entry < 0 || entry >= static_cast<std::int32_t>(GraphicCache.entries.size()))
        return nullptr;
    return &GraphicCache.entries[static_cast<std::size_t>(entry)];
}

// Pieces of an entry: its cells, or the whole graph alone when it was not cut.
std::int32_t PieceCount(std::int32_t entry) {
    const GraphicCacheEntry* e = Entry(entry);
    if (!e || e->handles.empty()) return 0;
    return e->handles.size() > 1 ? static_cast<std::int32_t>(e->handles.size()) - 1 : 1;
}

std::int32_t PieceGraph(std::int32_t entry, std::int32_t n) {
    const GraphicCacheEntry* e = Entry(entry);
    if (!e || n < 1 || e->handles.empty()) return -1;
    if (e->handles.size() == 1) return n == 1 ? e->handles[0] : -1;
    return n < static_cast<std::int32_t>(e->handles.size())
               ? e->handles[static_cast<std::size_t>(n)]
               : -1;
}

std::int32_t WholeGraph(std::int32_t entry) {
    const GraphicCacheEntry* e = Entry(entry);
    return e && !e->handles.empty() ? e->handles[0] : -1;
}

std::int32_t EntryOf(const std::string& name) {
    const auto found = GraphicCache.nameMap.find(name);
    return found == GraphicCache.nameMap.end() ? -1 : found->second;
}

std::int32_t PatternCount() {
    return std::max<std::int32_t>(1, TheBasicData.CharacterPatternCount());
}

bool ShadowsShown() {
    return TheBasicData.CharacterSpriteSetting() == 1;
}

std::int32_t SheetColumns(std::int16_t layout, bool eightDirections) {
    const std::int32_t p = PatternCount();
    std::int32_t c = 1;
    switch (layout) {
        case 0:
            c = p;
            break;
        case 1:
            c = p + 1;
            break;
        case 2:
            c = 2 * p;
            break;
        default:
            return 1;
    }
    return eightDirections ? 2 * c : c;
}

// The figure's height above its base: the jump arc and the raised draw offset.
std::int32_t HeightAboveGround(const Game_Character& c) {
    const std::int32_t j = std::abs(c.jumpFrames - c.halfJump);
    const std::int32_t arc =
        (j * j - c.halfJump * c.halfJump) * 3 / std::max(1, 160 / std::max(1, TileSize));
    return -arc + c.drawYOffset;
}

std::int32_t Scaled(std::int32_t v, std::int32_t zoom) {
    return static_cast<std::int32_t>(static_cast<std::int64_t>(v) * zoom / 100);
}

std::int32_t Zoomed(std::int32_t v, std::int32_t centre, std::int32_t zoom) {
    return static_cast<std::int32_t>(v +
                                     static_cast<std::int64_t>(v - centre) * (zoom - 100) / 100);
}

// One channel of the packed colours (biased by 100), weighted by the effect strengths.
std::int32_t ChannelEffect(std::int32_t flash, std::int32_t change, std::int32_t shift,
                           std::int64_t k1, std::int64_t k2) {
    const std::int64_t c1 = ((flash >> shift) & 0xFF) - 100;
    const std::int64_t c2 = ((change >> shift) & 0xFF) - 100;
    const double a = static_cast<double>(c2 * k2 / 1000) * 2.55;
    const double b = std::trunc(static_cast<double>(c1 * k1 / 1000) * 2.55);
    return static_cast<std::int32_t>(std::trunc(a + b));
}

}  // namespace

Game_CharacterSprite::Game_CharacterSprite(Game_Character* c) : character(c) {
    if (character) character->spriteLink = this;
    Draw();
}

Game_CharacterSprite::~Game_CharacterSprite() {
    if (character && character->spriteLink == this) character->spriteLink = nullptr;
}

bool Game_CharacterSprite::LoadSheet(const std::string& name, std::int32_t& entry, int& wholeWidth,
                                     int& wholeHeight) const {
    const bool single = layout < 0;
    if (!LoadGraphicCached(single ? 1 : columns, single ? 1 : 4, GraphicSizeKind::ByCount, name))
        return false;
    entry = EntryOf(name);
    wholeWidth = wholeHeight = 0;
    if (GetMapDrawCalls().getGraphSize(WholeGraph(entry), &wholeWidth, &wholeHeight) != 0)
        wholeWidth = wholeHeight = 0;
    return entry >= 0;
}

void Game_CharacterSprite::LoadGraphic() {
    if (!character || hidden) return;
    Game_Character& c = *character;
    const bool layoutChanged = c.layout != layout;
    const bool reload = TheGameSystem.characterGraphicsChanged != 0 ||
                        c.tileGraphic != tileGraphic || c.graphicName != graphicName ||
                        layoutChanged;
    bool sheetReloaded = false;
    if (reload) {
        tileGraphic = c.tileGraphic;
        graphicName = c.graphicName;
        layout = c.layout;
        graphic = -1;
        shadowGraphic = -1;
        if (tileGraphic >= 0) {
            const std::string& base = TheMapState.imageNames[0];
            if (!base.empty() &&
                LoadGraphicCached(TileSize, TileSize, GraphicSizeKind::ByCellSize, base))
                graphic = EntryOf(base);
            chipNumber = tileGraphic + 1;
            chipWidth = chipHeight = TileSize;
            halfWidth = TileSize / 2;
            height = TileSize;
            columns = 8;
        } else {
            columns = SheetColumns(layout, c.diagonalGraphics != 0);
            chipWidth = chipHeight = 0;
            if (!graphicName.empty()) {
                int w = 0, h = 0;
                if (!LoadSheet(graphicName, graphic, w, h)) {
                    graphic = -1;
                    hidden = true;
                    return;
                }
                chipWidth = layout < 0 ? w : w / columns;
                chipHeight = layout < 0 ? h : h / 4;
            }
            halfWidth = chipWidth / 2;
            height = chipHeight;
            sheetReloaded = true;
        }
        c.spriteValue1 = chipWidth;
        c.spriteValue2 = chipHeight;
    }
    const std::int32_t number = c.settingBytes.empty() ? 255 : c.settingBytes[0];
    if (sheetReloaded || (number != shadowNumber && !graphicName.empty())) {
        shadowNumber = number;
        LoadShadow();
    }
    if (c.overlaysChanged) {
        if (!LoadOverlays(reload || layoutChanged)) return;
        c.overlaysChanged = 0;
    }
}

void Game_CharacterSprite::LoadShadow() {
    const std::int32_t p = PatternCount();
    shadowColumns = character->diagonalGraphics ? 2 * p : p;
    shadowGraphic = -1;
    if (shadowNumber == 255 || !ShadowsShown()) return;
    const Game_Database& db = TheSystemDatabase;
    if (shadowNumber < 0 || shadowNumber >= db.DataCount(kShadowDatabaseType) ||
        db.FieldKind(kShadowDatabaseType, 0) != 2)
        return;
    const std::string file = db.ReadString(kShadowDatabaseType, shadowNumber, 0);
    if (file.empty() || !LoadGraphicCached(shadowColumns, 4, GraphicSizeKind::ByCount, file))
        return;
    shadowGraphic = EntryOf(file);
    int w = 0, h = 0;
    if (GetMapDrawCalls().getGraphSize(WholeGraph(shadowGraphic), &w, &h) != 0) w = h = 0;
    shadowHalfWidth = w / std::max(1, shadowColumns) / 2;
    shadowHeight = h / 4;
}

bool Game_CharacterSprite::LoadOverlays(bool reloadAll) {
    Game_Character& c = *character;
    overlays.resize(c.overlays.size());
    for (std::size_t i = 0; i < overlays.size(); ++i) {
        Overlay& o = overlays[i];
        if (!reloadAll && o.name == c.overlays[i]) continue;
        o = Overlay{};
        o.name = c.overlays[i];
        if (o.name.empty()) continue;
        int w = 0, h = 0;
        if (!LoadSheet(o.name, o.graphic, w, h)) {
            o.graphic = -1;
            hidden = true;
            return false;
        }
        const int baseW = chipWidth * (layout < 0 ? 1 : columns);
        const int baseH = chipHeight * (layout < 0 ? 1 : 4);
        if (w != baseW || h != baseH) {
            // Reported once: the overlay leaves the character, so it is not loaded again.
            ReportRuntimeError(
                false,
                FormatDrawReport(TranslateMessageUtf8(u"重ねキャラチップのサイズがベースと異なりま"
                                                      u"す！ > 横%d 縦%d (ベース %d x %d)"),
                                 w, h, baseW, baseH),
                o.name, GetScriptLocationText());
            c.overlays[i].clear();
            o = Overlay{};
            continue;
        }
        o.chipWidth = layout < 0 ? w : w / columns;
        o.chipHeight = layout < 0 ? h : h / 4;
        o.halfWidth = o.chipWidth / 2;
        o.height = o.chipHeight;
    }
    return true;
}

void Game_CharacterSprite::ComputeChipNumber(bool animating) {
    const Game_Character& c = *character;
    if (tileGraphic >= 0) return;
    if (layout < 0) {
        chipNumber = 1;
        return;
    }
    const std::int32_t d = c.direction, p = c.pattern, n = columns, pc = PatternCount();
    const std::int32_t sc = std::max(1, shadowColumns);
    const std::int32_t walk = animating ? p + 2 : 1;
    if (!c.diagonalGraphics || d % 2 == 0) {
        const std::int32_t r = (d - 2) / 2;
        chipNumber = layout == 0   ? r * n + p + 1
                     : layout == 1 ? r * n + walk
                                   : r * n + (animating ? pc : 0) + p + 1;
        shadowChipNumber = r * sc + p + 1;
    } else {
        const std::int32_t r = d < 5 ? (d - 1) / 2 : (d - 3) / 2;
        chipNumber = layout == 0   ? n / 2 + r * n + p + 1
                     : layout == 1 ? n / 2 + r * n + walk
                                   : n / 2 + (animating ? pc : 0) + r * n + p + 1;
        shadowChipNumber = sc / 2 + 1 + r * sc + p;
    }
    if (c.cellOverride > 0 && c.cellOverride <= PieceCount(graphic)) chipNumber = c.cellOverride;
}

void Game_CharacterSprite::Draw() {
    if (!character) return;
    LoadGraphic();
    Game_Character& c = *character;
    c.spriteLink = this;
    if (hidden) return;
    MapDrawCalls& calls = GetMapDrawCalls();
    calls.useMaskScreen(c.masked);
    ComputeChipNumber(c.IsMoving() || c.steppingMode == 1);

    const Game_MapState& map = TheMapState;
    screenX = c.GetDrawX(true) + map.shakeOffsetX;
    screenY = c.GetDrawY(true) + map.shakeOffsetY;
    baseY = c.GetDrawBaseY(true) + map.shakeOffsetY;
    depth = c.GetDrawPriority();

    opacity = std::min<std::int32_t>(c.opacity, 255 - MapSoftMode()) + c.OpacityOffset();
    opacity = std::clamp(opacity, 0, 255);
    if (opacity == 0) return;
    const std::int32_t lift = HeightAboveGround(c);
    const bool submerged = map.IsHalfHiddenAt(c.x, c.y) && lift <= 0;
    const std::int32_t param = submerged ? opacity / 3 : opacity;
    blendKind = c.blendMode;
    switch (blendKind) {
        case 0:
            if (opacity == 255 && !submerged)
                calls.selectBlendMode(MapBlend::None, 255);
            else
                calls.selectBlendMode(MapBlend::Alpha, param);
            break;
        case 1:
            calls.selectBlendMode(MapBlend::Add, param);
            break;
        case 2:
            calls.selectBlendMode(MapBlend::Subtract, param);
            break;
        case 3:
            calls.selectBlendMode(MapBlend::MultiplyAlpha, param);
            break;
        default:
            break;
    }
    if (graphic < 0 || chipNumber > PieceCount(graphic) || chipNumber < 1) return;

    const std::int32_t zoom = map.zoom.currentPercent;
    const std::int32_t scale = std::max(1, WindowScale);
    std::int32_t x = Zoomed(screenX, map.zoom.currentX, zoom);
    std::int32_t y = Zoomed(screenY, map.zoom.currentY, zoom);
    std::int32_t by = Zoomed(baseY, map.zoom.currentY, zoom);
    const std::int32_t w = Scaled(chipWidth, zoom), h = Scaled(chipHeight, zoom);
    if (x + w < -TileSize || x - w > ScreenWidth / scale + TileSize || by < -4 * TileSize ||
        y - h > ScreenHeight / scale + TileSize)
        return;
    y += TheSystemState.spriteYOffset;
    by += TheSystemState.spriteYOffset;

    if (shadowGraphic >= 0 && ShadowsShown()) DrawShadow(x, by, zoom, scale, lift);

    const bool effect = c.flashRemaining > 0 || c.blinkPeriod > 0;
    std::int32_t e[3] = {0, 0, 0};
    if (effect) {
        const std::int64_t k1 =
            static_cast<std::int64_t>(c.flashRemaining) * 1000 / std::max(c.flashDuration, 1);
        const std::int64_t period = std::max(c.blinkPeriod, 1);
        const std::int64_t k2 =
            c.blinkMode == 0 ? std::llabs(static_cast<std::int64_t>(c.blinkPhase) - c.blinkPeriod) *
                                   1000 / period
            : c.blinkMode == 1
                ? (static_cast<std::int64_t>(c.blinkPeriod) - c.blinkPhase) * 1000 / period
                : k1;
        for (int i = 0; i < 3; ++i)
            e[i] = ChannelEffect(c.flashColour, c.blinkColour, 16 - 8 * i, k1, k2);
        calls.setBrightness(std::min(255, 255 + e[0]), std::min(255, 255 + e[1]),
                            std::min(255, 255 + e[2]));
    }
    DrawFigure(x, y, zoom, scale, submerged, param);
    if (effect) {
        calls.selectBlendMode(MapBlend::Add, 255);
        calls.setBrightness(std::min(e[0], 255), std::min(e[1], 255), std::min(e[2], 255));
        DrawFigure(x, y, zoom, scale, false, 255);
        TheSystemState.ApplyTone(false, false);
    }
}

void Game_CharacterSprite::DrawShadow(std::int32_t x, std::int32_t by, std::int32_t zoom,
                                      std::int32_t scale, std::int32_t lift) {
    const std::int32_t n = std::clamp(shadowChipNumber, 1, std::max(1, PieceCount(shadowGraphic)));
    const std::int32_t sw = Scaled(shadowHalfWidth, zoom), sh = Scaled(shadowHeight, zoom);
    const std::int32_t j = std::max(lift, 0);
    const std::int32_t a = std::min(j / 4, 4 * sw / 5), b = std::min(j / 8, sw / 2);
    GetMapDrawCalls().putGraphStretched((x - sw + a) * scale, (by - sh + b) * scale,
                                        (x + sw - a) * scale, (by - b) * scale,
                                        PieceGraph(shadowGraphic, n), 1);
}

void Game_CharacterSprite::DrawFigure(std::int32_t x, std::int32_t y, std::int32_t zoom,
                                      std::int32_t scale, bool split, std::int32_t lowerParam) {
    MapDrawCalls& calls = GetMapDrawCalls();
    const bool plain = scale == 1 && zoom == 100;
    const std::int32_t col = (chipNumber - 1) % std::max(1, columns);
    const std::int32_t row = (chipNumber - 1) / std::max(1, columns);
    struct Layer {
        std::int32_t entry, halfWidth, height, chipWidth, chipHeight;
    };
    std::vector<Layer> layers{{graphic, halfWidth, height, chipWidth, chipHeight}};
    for (const Overlay& o : overlays)
        if (o.graphic >= 0)
            layers.push_back({o.graphic, o.halfWidth, o.height, o.chipWidth, o.chipHeight});
    static constexpr int kLowerModes[4] = {MapBlend::Alpha, MapBlend::Add, MapBlend::Subtract,
                                           MapBlend::MultiplyAlpha};
    static constexpr int kUpperModes[4] = {MapBlend::Alpha, MapBlend::Add, MapBlend::Subtract,
                                           MapBlend::Multiply};
    const bool knownKind = blendKind >= 0 && blendKind <= 3;
    for (const Layer& l : layers) {
        const std::int32_t hw = Scaled(l.halfWidth, zoom), hh = Scaled(l.height, zoom);
        if (!split) {
            const std::int32_t piece = PieceGraph(l.entry, chipNumber);
            if (piece < 0) continue;
            if (plain)
                calls.putGraph(x - l.halfWidth, y - l.height, piece, 1);
            else
                calls.putGraphStretched((x - hw) * scale, (y - hh) * scale, (x + hw) * scale,
                                        y * scale, piece, 1);
            continue;
        }
        // Half-submerged: the bottom half tile at a third of the opacity, the rest in full.
        const std::int32_t whole = WholeGraph(l.entry);
        const std::int32_t lower = std::min(TileSize / 2, l.chipHeight);
        const std::int32_t sx = col * l.chipWidth, sy = row * l.chipHeight;
        const std::int32_t band = y - TileSize * zoom / 200;
        if (knownKind) calls.selectBlendMode(kLowerModes[blendKind], lowerParam);
        if (plain) {
            calls.putGraphSubRect(x - l.halfWidth, y - lower, sx, sy + l.chipHeight - lower,
                                  l.chipWidth, lower, whole, 1);
        } else {
            const std::int32_t part =
                calls.deriveGraph(sx, sy + l.chipHeight - lower, l.chipWidth, lower, whole);
            if (part >= 0) {
                calls.putGraphStretched((x - hw) * scale, band * scale, (x + hw) * scale, y * scale,
                                        part, 1);
                calls.destroyGraph(part);
            }
        }
        if (knownKind) calls.selectBlendMode(kUpperModes[blendKind], opacity);
        if (l.chipHeight - lower <= 0) continue;
        if (plain) {
            calls.putGraphSubRect(x - l.halfWidth, y - l.height, sx, sy, l.chipWidth,
                                  l.chipHeight - lower, whole, 1);
        } else {
            const std::int32_t part =
                calls.deriveGraph(sx, sy, l.chipWidth, l.chipHeight - lower, whole);
            if (part >= 0) {
                calls.putGraphStretched((x - hw) * scale, (y - hh) * scale, (x + hw) * scale,
                                        band * scale, part, 1);
                calls.destroyGraph(part);
            }
        }
    }
}

std::int32_t Game_CharacterSprite::GetChipInfo(std::int32_t kind) const {
    switch (kind) {
        case 0:
            return tileGraphic >= 0 ? 1 : columns;
        case 1:
            return tileGraphic >= 0 ? 1 : 4;
        case 2:
            return chipNumber;
        default:
            return kind - 2;
    }
}
