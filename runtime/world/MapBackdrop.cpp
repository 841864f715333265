#include "runtime/world/MapBackdrop.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Fog.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Panorama.h"
#include "runtime/world/MapDrawCalls.h"

namespace {

// A cell of the backdrop type that does not exist reads as the empty value, without a report:
// a number that names no row (or one below -2) then simply shows nothing.
bool HasBackdropField(std::int32_t row, std::int32_t field, std::int32_t fieldClass) {
    const Game_Database& db = TheSystemDatabase;
    return row >= 0 && row < db.DataCount(kBackdropDatabaseType) &&
           db.FieldKind(kBackdropDatabaseType, field) == fieldClass;
}

std::string BackdropFile(std::int32_t row) {
    return HasBackdropField(row, 0, 2) ? TheSystemDatabase.ReadString(kBackdropDatabaseType, row, 0)
                                       : std::string();
}

std::int32_t BackdropNumber(std::int32_t row, std::int32_t field) {
    return HasBackdropField(row, field, 1)
               ? TheSystemDatabase.ReadNumber(kBackdropDatabaseType, row, field)
               : 0;
}

std::int32_t ParseNumber(const std::string& line) {
    const long long v = std::strtoll(line.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(c);
    }
    return lines;
}

// The remainder with the sign of the dividend, in 64 bits so that a long scroll cannot overflow.
std::int32_t Wrap32(std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
}

std::string Message(const char16_t* japanese) {
    return TranslateMessageUtf8(japanese);
}

}  // namespace

std::int32_t& Game_MapBackdrop::NumberSetting() const {
    return IsFog() ? TheSystemState.fogNumber : TheSystemState.panoramaNumber;
}
std::int32_t& Game_MapBackdrop::SpeedX() const {
    return IsFog() ? TheSystemState.fogSpeedX : TheSystemState.panoramaSpeedX;
}
std::int32_t& Game_MapBackdrop::SpeedY() const {
    return IsFog() ? TheSystemState.fogSpeedY : TheSystemState.panoramaSpeedY;
}
std::int32_t& Game_MapBackdrop::Divisor() const {
    return IsFog() ? TheSystemState.fogParallax : TheSystemState.panoramaParallax;
}
std::string& Game_MapBackdrop::SettingsText() const {
    return IsFog() ? TheSystemState.fogSettings : TheSystemState.panoramaSettings;
}
std::uint8_t& Game_MapBackdrop::ReloadRequest() const {
    return IsFog() ? FogReloadRequest : PanoramaReloadRequest;
}

std::int32_t Game_MapBackdrop::Graph() const {
    if (graphic < 0 || graphic >= static_cast<std::int32_t>(GraphicCache.entries.size())) return -1;
    const auto& handles = GraphicCache.entries[static_cast<std::size_t>(graphic)].handles;
    return handles.empty() ? -1 : handles[0];
}

bool Game_MapBackdrop::TakeImage(const std::string& name) {
    const auto found = GraphicCache.nameMap.find(name);
    if (found == GraphicCache.nameMap.end()) return false;
    graphic = found->second;
    int w = 2, h = 2;
    if (GetMapDrawCalls().getGraphSize(Graph(), &w, &h) != 0 || w < 1 || h < 1) w = h = 2;
    width = w;
    height = h;
    return true;
}

void Game_MapBackdrop::ClearScroll() {
    accumulatorX = accumulatorY = offsetX = offsetY = 0;
}

void Game_MapBackdrop::ChangeImage() {
    width = height = 2;
    ClearScroll();
    graphic = -1;
    const std::int32_t number = NumberSetting();
    std::string name;
    if (number == -1) {
        SettingsText().clear();
    } else if (number == -2) {
        name = RestoreEscapeCodes(SettingsText());
    } else if (number >= 0) {
        name = BackdropFile(number);
        SpeedX() = BackdropNumber(number, 1);
        SpeedY() = BackdropNumber(number, 2);
        if (TheSystemDatabase.FieldCount(kBackdropDatabaseType) >= 4)
            Divisor() = BackdropNumber(number, 3);
    }
    if (!name.empty()) {
        if (!LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, name) || !TakeImage(name)) {
            graphic = -1;
            ReportRuntimeError(
                false,
                FormatDrawReport(
                    IsFog() ? Message(u"フォグ画像%d番に変更されましたが、画像がありません！")
                            : Message(u"遠景画像%d番に変更されましたが、画像がありません！"),
                    number),
                name, "");
            SettingsText().clear();
            shownNumber = number;
            return;
        }
        SettingsText() = name;
    }
    shownNumber = number;
    Update();
}

void Game_MapBackdrop::LoadFromText() {
    ReloadRequest() = 0;
    std::string text = SettingsText();
    if (!IsFog()) text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    const std::vector<std::string> lines = SplitLines(text);
    const std::string name = RestoreEscapeCodes(lines[0]);
    SettingsText() = name;
    if (lines.size() > 1) SpeedX() = ParseNumber(lines[1]);
    if (lines.size() > 2) SpeedY() = ParseNumber(lines[2]);
    if (lines.size() > 3) Divisor() = std::clamp(ParseNumber(lines[3]), -999, 999);
    if (name.empty()) {
        NumberSetting() = -1;
        return;
    }
    width = height = 2;
    graphic = -1;
    if (!LoadGraphicCached(1, 1, GraphicSizeKind::ByCount, name) || !TakeImage(name)) {
        graphic = -1;
        ReportRuntimeError(false,
                           IsFog()
                               ? Message(u"フォグ画像が変更されましたが、以下の画像はありません！")
                               : Message(u"遠景画像が変更されましたが、以下の画像はありません！"),
                           name, "");
        return;
    }
    const std::int32_t scale = std::max(1, WindowScale);
    const std::int32_t needW = ScreenWidth / scale, needH = ScreenHeight / scale;
    if (width < needW || height < needH) {
        ReportRuntimeError(
            false,
            FormatDrawReport(IsFog() ? Message(u"変更されたフォグ画像が、１画面以上のサイズになって"
                                               u"いません！ > 横%d 縦%d (必須 %dx%d以上)")
                                     : Message(u"変更された遠景画像が、１画面以上のサイズになってい"
                                               u"ません！ > 横%d 縦%d (必須 %dx%d以上)"),
                             width, height, needW, needH),
            name,
            Message(u"このままでは正常に表示されません、画像のサイズを１画面分に増やしてください"));
    }
    ClearScroll();
    NumberSetting() = -2;
    shownNumber = -2;
}

void Game_MapBackdrop::Update() {
    if (NumberSetting() == -1 || graphic < 0) return;
    const std::int64_t w8 = static_cast<std::int64_t>(std::max(1, width)) * 8;
    const std::int64_t h8 = static_cast<std::int64_t>(std::max(1, height)) * 8;
    const std::int64_t m = std::max(1, FrameMultiplier);
    // The panorama keeps its speed per second at any frame rate; the fog's speed is divided by
    // the frame step instead, as games made for it expect.
    const std::int64_t stepX = IsFog() ? SpeedX() / m : SpeedX() * m;
    const std::int64_t stepY = IsFog() ? SpeedY() / m : SpeedY() * m;
    std::int64_t ax = static_cast<std::int64_t>(accumulatorX) + stepX + w8;
    std::int64_t ay = static_cast<std::int64_t>(accumulatorY) + stepY + h8;
    const std::int64_t f = Divisor();
    const std::int64_t px = f == 0 ? 0 : (-2 * static_cast<std::int64_t>(TheMapState.displayX)) / f;
    const std::int64_t py = f == 0 ? 0 : (-2 * static_cast<std::int64_t>(TheMapState.displayY)) / f;
    const std::int64_t ox = ax + px + TheMapState.shakeOffsetX;
    const std::int64_t oy = py + h8 + ay + TheMapState.shakeOffsetY;
    const std::int64_t newOffsetX = (w8 + ox) % w8;
    if (ox > 0) ax = ax - (ox + w8) + newOffsetX;
    if (oy > h8) ay = ay + (oy % h8) - oy;
    offsetX = Wrap32(newOffsetX);
    offsetY = Wrap32(oy % h8);
    accumulatorX = Wrap32(ax);
    accumulatorY = Wrap32(ay);
}

void Game_MapBackdrop::Draw() {
    if (shownNumber != NumberSetting()) ChangeImage();
    if (ReloadRequest()) LoadFromText();
    if (NumberSetting() == -1) return;
    const std::int32_t graph = Graph();
    if (graph < 0) return;
    MapDrawCalls& calls = GetMapDrawCalls();
    const std::int32_t soft = MapSoftMode();
    int transparent = 0;
    if (IsFog()) {
        const std::int32_t kind = TheSystemState.fogBlend;
        const int mode = kind < 1    ? MapBlend::Alpha
                         : kind == 1 ? MapBlend::Add
                         : kind == 2 ? MapBlend::Subtract
                                     : MapBlend::Multiply;
        calls.selectBlendMode(mode, std::clamp(TheSystemState.fogOpacity, 0, 255 - soft));
        transparent = 1;
    } else if (soft == 0) {
        calls.selectBlendMode(MapBlend::None, 255);
    } else {
        calls.selectBlendMode(MapBlend::Alpha, 254);
    }
    const std::int32_t scale = std::max(1, WindowScale);
    const std::int32_t zoom = TheMapState.zoom.currentPercent;
    if (static_cast<std::int64_t>(zoom) * scale == 100)
        DrawPlain(graph, transparent);
    else
        DrawZoomed(graph, transparent, scale, zoom);
}

void Game_MapBackdrop::DrawPlain(std::int32_t graph, int transparent) {
    MapDrawCalls& calls = GetMapDrawCalls();
    const int w = width, h = height, ox = offsetX / 8, oy = offsetY / 8;
    struct Piece {
        int x, y, sx, sy, sw, sh;
    };
    const Piece pieces[4] = {{ox, oy, 0, 0, w - ox, h - oy},
                             {0, 0, w - ox, h - oy, ox, oy},
                             {0, oy, w - ox, 0, ox, h - oy},
                             {ox, 0, 0, h - oy, w - ox, oy}};
    for (const Piece& p : pieces) {
        if (p.sw <= 0 || p.sh <= 0) continue;
        calls.putGraphSubRect(p.x, p.y, p.sx, p.sy, p.sw, p.sh, graph, transparent);
    }
}

void Game_MapBackdrop::DrawZoomed(std::int32_t graph, int transparent, std::int32_t scale,
                                  std::int32_t zoom) {
    if (offsetX >= 4 && offsetX <= 7) offsetX = 8;
    if (offsetY >= 4 && offsetY <= 7) offsetY = 8;
    MapDrawCalls& calls = GetMapDrawCalls();
    const std::int64_t w = width, h = height, ox = offsetX / 8, oy = offsetY / 8;
    const std::int64_t zc = zoom - 100, s = scale;
    const std::int64_t cx = TheMapState.zoom.currentX, cy = TheMapState.zoom.currentY;
    const int x0 = Wrap32(-(zc * cx * s) / 100);
    const int x1 = Wrap32(((ox - cx) * zc * s) / 100 + (offsetX * s) / 8);
    const int x2 = Wrap32(((w - cx) * zc * s) / 100 + w * s);
    const int y0 = Wrap32(-(zc * cy * s) / 100);
    const int y1 = Wrap32(((oy - cy) * zc * s) / 100 + (offsetY * s) / 8);
    const int y2 = Wrap32(((h - cy) * zc * s) / 100 + h * s);
    struct Piece {
        std::int64_t sx, sy, sw, sh;
        int x1, y1, x2, y2;
    };
    const Piece pieces[4] = {{0, 0, w - ox, h - oy, x1, y1, x2, y2},
                             {w - ox, h - oy, ox, oy, x0, y0, x1, y1},
                             {w - ox, 0, ox, h - oy, x0, y1, x1, y2},
                             {0, h - oy, w - ox, oy, x1, y0, x2, y1}};
    for (const Piece& p : pieces) {
        if (p.sw <= 0 || p.sh <= 0) continue;
        const std::int32_t part =
            calls.deriveGraph(static_cast<int>(p.sx), static_cast<int>(p.sy),
                              static_cast<int>(p.sw), static_cast<int>(p.sh), graph);
        if (part < 0) continue;
        calls.putGraphStretched(p.x1, p.y1, p.x2, p.y2, part, transparent);
        calls.destroyGraph(part);
    }
}
