#include "runtime/world/MapDrawCalls.h"

#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxGraphicsGraph.h"
#include "runtime/shell/GameIni.h"

namespace {

int PutSubRect(int x, int y, int sourceX, int sourceY, int width, int height, std::int32_t graph,
               int transparent) {
    return ZiDaz::PutGraphSubRect(x, y, sourceX, sourceY, width, height, graph, transparent, 0, 0);
}

void NoMaskScreen(std::int32_t) {}

MapDrawCalls LibraryCalls() {
    MapDrawCalls c{};
    c.selectBlendMode = ZiDaz::SelectBlendMode;
    c.setBrightness = ZiDaz::SetBrightnessColor;
    c.putGraph = ZiDaz::PutGraph;
    c.putGraphStretched = ZiDaz::PutGraphStretched;
    c.putGraphSubRect = PutSubRect;
    c.deriveGraph = ZiDaz::DeriveGraphFromRect;
    c.destroyGraph = ZiDaz::DestroyGraph;
    c.getGraphSize = ZiDaz::GetGraphSize;
    c.useMaskScreen = NoMaskScreen;
    c.softMode = -1;
    return c;
}

}  // namespace

MapDrawCalls& GetMapDrawCalls() {
    static MapDrawCalls calls = LibraryCalls();
    return calls;
}

void ResetMapDrawCalls() {
    GetMapDrawCalls() = LibraryCalls();
}

std::int32_t MapSoftMode() {
    const std::int32_t forced = GetMapDrawCalls().softMode;
    if (forced >= 0) return forced ? 1 : 0;
    return GameIniSettings.SoftModeFlag == 1 || ZiDaz::IsHardwareDrawing() == 0 ? 1 : 0;
}
