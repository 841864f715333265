// The draw settings and their setters, the 2D and 3D switch, the emulated subtraction, the blend
// graph, and the graph drawing operations: each runs the common frame around one device dispatch
// or one call into the software renderer.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "Main/DxBaseFunc.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsFrame.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxMask.h"
#include "Main/DxMemImgRotate.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

using drawframe::DeviceInUse;
using drawframe::G;
using drawframe::RunFrameDraw;
using drawframe::Settings;

namespace {

bool LibraryStarted() {
    return LibrarySystem.initialised != 0;
}

int Clamp255(int v) {
    return std::clamp(v, 0, 255);
}

std::uint32_t PackedBrightness() {
    const DrawSettingsData& d = Settings();
    return static_cast<std::uint32_t>(d.BrightRed << 16 | d.BrightGreen << 8 | d.BrightBlue);
}

// Sends the brightness to the renderer in use.
void SendBrightness() {
    if (DeviceInUse())
        Backend_RefreshDrawColor();
    else
        SetMemImgDrawBright(PackedBrightness());
}

void RefreshDrawAreaFloats() {
    DrawSettingsData& d = Settings();
    d.DrawAreaF[0] = static_cast<float>(d.DrawArea.left);
    d.DrawAreaF[1] = static_cast<float>(d.DrawArea.top);
    d.DrawAreaF[2] = static_cast<float>(d.DrawArea.right);
    d.DrawAreaF[3] = static_cast<float>(d.DrawArea.bottom);
}

// ---- The graph steps of the frame ----

enum GraphFrameFlags : unsigned {
    kNeedsLibrary = 1,  // -1 before the library has started
    kTileFrame = 2,     // no suppression test, blend-graph check or movie step
};

struct GraphFrame {
    GraphHandleRecord* graph = nullptr;
    GraphHandleRecord* blend = nullptr;
    bool device = false;  // the graph's image lives in device textures
};

// The checks before a graph draw. True to go on; otherwise *result is what the operation returns.
bool OpenGraphFrame(HandleValue handle, unsigned flags, GraphFrame* f, int* result) {
    const DrawSettingsData& d = Settings();
    if ((flags & kNeedsLibrary) && !LibraryStarted()) {
        *result = -1;
        return false;
    }
    if (!(flags & kTileFrame) && d.DrawingSuppressed) {
        *result = 0;
        return false;
    }
    WaitWhileWindowInactive();
    f->graph = LookUpGraphRecord(handle, 0);
    if (f->graph == nullptr || f->graph->Image == nullptr) {
        *result = -1;
        return false;
    }
    f->device = f->graph->Image->Format.DeviceImage != 0;
    if (Settings().BlendGraph > 0) {
        f->blend = LookUpGraphRecord(Settings().BlendGraph, 0);
        // Without a device the blend image is read at the drawn graph's pixels, so it must cover
        // them.
        if (!(flags & kTileFrame) && !DeviceInUse() &&
            (f->blend == nullptr || f->blend->Width < f->graph->Width ||
             f->blend->Height < f->graph->Height)) {
            *result = -1;
            return false;
        }
    }
    if (!(flags & kTileFrame)) AdvanceGraphMovie(f->graph);
    return true;
}

MEMIMG* SoftDest() {
    return G().SoftwareDrawDestination;
}

RECT OrderedRect(int x1, int y1, int x2, int y2) {
    return RECT{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
}

// The draw area narrowed for the sub-rectangle forms, and its restore.
struct SavedArea {
    RECT area;
    float areaF[4];
};

SavedArea NarrowDrawArea(RECT r) {
    DrawSettingsData& d = Settings();
    SavedArea s{d.DrawArea, {d.DrawAreaF[0], d.DrawAreaF[1], d.DrawAreaF[2], d.DrawAreaF[3]}};
    ClipRectangle(&r, &s.area);
    d.DrawArea = r;
    SetMemImgDrawArea(&d.DrawArea);
    RefreshDrawAreaFloats();
    return s;
}

void RestoreDrawArea(const SavedArea& s) {
    DrawSettingsData& d = Settings();
    if (MaskLayerInUse()) {
        SetDrawClipRect(s.area);
        return;
    }
    d.DrawArea = s.area;
    std::memcpy(d.DrawAreaF, s.areaF, sizeof(d.DrawAreaF));
    SetMemImgDrawArea(&d.DrawArea);
}

// The two triangles of a four-corner draw in software, sharing the top-right to bottom-left
// diagonal; corners in the order top-left, top-right, bottom-left, bottom-right, truncated.
void SoftwareQuad(const MEMIMG* image, const int c[8], int transparent) {
    MEMIMG* dest = SoftDest();
    if (dest == nullptr) return;
    const int w = image->Width, h = image->Height;
    const MemImgTriangleVertex first[3] = {
        {c[0], c[1], 0, 0}, {c[2], c[3], w, 0}, {c[4], c[5], 0, h}};
    const MemImgTriangleVertex second[3] = {
        {c[2], c[3], w, 0}, {c[4], c[5], 0, h}, {c[6], c[7], w, h}};
    DrawMemImgTriangle(dest, image, first, transparent, drawframe::SoftwareBlendImage(), 0);
    DrawMemImgTriangle(dest, image, second, transparent, drawframe::SoftwareBlendImage(), 0);
}

// Toward zero, as the processor converts: the most negative int for values out of range.
int TruncF(float v) {
    return memimg::TruncateFloatToInt32(v);
}
int TruncD(double v) {
    if (!(v > -2147483649.0 && v < 2147483648.0)) return INT32_MIN;
    return static_cast<int>(v);
}

// Runs a temporary derived graph through a draw and deletes it again.
template <class Draw>
int DrawDerivedGraph(int sx, int sy, int w, int h, HandleValue graph, Draw draw) {
    HandleValue derived = DeriveGraphFromRect(sx, sy, w, h, graph);
    if (derived < 0) return 0;
    draw(derived);
    DeleteHandle(derived);
    return 0;
}

}  // namespace

// ---- Draw settings ----

int SelectBlendMode(int mode, int param) {
    DrawSettingsData& d = Settings();
    // The mode comes from game data and picks a row of every blend table, which ends at the
    // custom row.
    if (mode < 0 || mode > kMaxBlendMode) return -1;
    param = Clamp255(param);
    if (mode == d.BlendMode && param == d.BlendParam) return 0;
    WaitWhileWindowInactive();
    if (mode != d.BlendMode) d.DrawSettingsChanged = 1;
    d.BlendMode = mode;
    d.BlendParam = param;
    SetMemImgBlendMode(mode, param);
    if (DeviceInUse()) Backend_RefreshDrawColor();
    return 0;
}

int SetBrightnessColor(int red, int green, int blue) {
    DrawSettingsData& d = Settings();
    red = Clamp255(red);
    green = Clamp255(green);
    blue = Clamp255(blue);
    if (red == d.BrightRed && green == d.BrightGreen && blue == d.BrightBlue) return 0;
    d.BrightRed = red;
    d.BrightGreen = green;
    d.BrightBlue = blue;
    SendBrightness();
    return 0;
}

int GetBrightnessColor(int* red, int* green, int* blue) {
    const DrawSettingsData& d = Settings();
    if (red) *red = d.BrightRed;
    if (green) *green = d.BrightGreen;
    if (blue) *blue = d.BrightBlue;
    return 0;
}

int SetDrawColorOffset(int red, int green, int blue) {
    DrawSettingsData& d = Settings();
    if (red == d.ColorOffsetRed && green == d.ColorOffsetGreen && blue == d.ColorOffsetBlue)
        return 0;
    d.ColorOffsetRed = red;
    d.ColorOffsetGreen = green;
    d.ColorOffsetBlue = blue;
    d.ColorOffsetF[0] = static_cast<float>(red) / 255.0f;
    d.ColorOffsetF[1] = static_cast<float>(green) / 255.0f;
    d.ColorOffsetF[2] = static_cast<float>(blue) / 255.0f;
    if (DeviceInUse()) Backend_ApplyColorOffset(red, green, blue);
    return 0;
}

int SetAlphaTestMode(int mode, int reference) {
    DrawSettingsData& d = Settings();
    reference = Clamp255(reference);
    if (mode == d.AlphaTestMode && reference == d.AlphaTestRef) return 0;
    WaitWhileWindowInactive();
    d.AlphaTestMode = mode;
    d.AlphaTestRef = reference;
    d.DrawSettingsChanged = 1;
    if (DeviceInUse()) Backend_RefreshDrawColor();
    return 0;
}

int SelectTextureFilter(int filter) {
    DrawSettingsData& d = Settings();
    if (filter == d.TextureFilter) return 0;
    d.TextureFilter = filter;
    d.DrawSettingsChanged = 1;
    if (DeviceInUse()) Backend_ApplyTextureFilter(filter);
    return 0;
}

int SwitchFog(int flag) {
    DrawSettingsData& d = Settings();
    if (flag == d.FogEnable) return 0;
    FlushPendingDraws();
    d.FogEnable = flag;
    d.DrawSettingsChanged = 1;
    if (DeviceInUse()) Backend_ApplyFogEnable(flag);
    return 0;
}

int ApplyFogEnableNow() {
    Backend_SyncFogEnable();
    return 0;
}

int SetTextureAddressModes(int modeU, int modeV, int stage) {
    DrawSettingsData& d = Settings();
    if (stage == -1) {
        bool same = true;
        for (int i = 0; i < 16; ++i)
            same = same && d.TextureAddressU[i] == modeU && d.TextureAddressV[i] == modeV;
        if (same) return 0;
        FlushPendingDraws();
        for (int i = 0; i < 16; ++i) {
            d.TextureAddressU[i] = modeU;
            d.TextureAddressV[i] = modeV;
        }
    } else {
        if (stage < 0 || stage > 15) return 0;
        if (d.TextureAddressU[stage] == modeU && d.TextureAddressV[stage] == modeV) return 0;
        FlushPendingDraws();
        d.TextureAddressU[stage] = modeU;
        d.TextureAddressV[stage] = modeV;
    }
    d.DrawSettingsChanged = 1;
    if (DeviceInUse()) Backend_ApplyTextureAddressUV(modeU, modeV, stage);
    return 0;
}

int SetSecondZBufferEnable(int flag) {
    DrawSettingsData& d = Settings();
    if (flag == d.DepthEnable[1]) return 0;
    FlushPendingDraws();
    d.DepthEnable[1] = flag;
    d.DrawSettingsChanged = 1;
    return 0;
}

namespace {

// A user shader of the kind the selector asks for: the kind itself is kept by the shader
// records, so here only the handle is checked.
int SelectUserShader(HandleValue shader, int kind, HandleValue* slot) {
    if (shader <= 0) {
        *slot = 0;
        return 0;
    }
    const ShaderRecord* record = LookUpShaderRecord(shader, 0);
    if (record == nullptr || record->Kind != kind) return -1;
    *slot = shader;
    return 0;
}

}  // namespace

int SelectUserPixelShader(HandleValue shader) {
    return SelectUserShader(shader, DX_SHADER_PIXEL, &Settings().UserPixelShader);
}

int SelectUserVertexShader(HandleValue shader) {
    return SelectUserShader(shader, DX_SHADER_VERTEX, &Settings().UserVertexShader);
}

int BindStageTexture(int stage, HandleValue texture) {
    if (stage < 0 || stage > 15) return -1;
    if (texture == -1) {
        Settings().StageTextures[stage] = 0;
        return 0;
    }
    bool valid = LookUpGraphRecord(texture, 0) != nullptr;
    if (!valid && texture >= 0 &&
        ((texture & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_SHADOWMAP)
        valid = LookupHandleRecord(texture) != nullptr;
    if (!valid) return -1;
    Settings().StageTextures[stage] = texture;
    return 0;
}

int SetTextureCoordTransform(int use, const Matrix4F* matrix, int stage) {
    DrawSettingsData& d = Settings();
    d.TextureTransformUse = use;
    if (matrix) d.TextureTransform = *matrix;
    Backend_ApplyTextureTransform(use, &d.TextureTransform, stage);
    d.TextureTransformApplied = 0;
    G().Matrices.ThreeDStateApplied = 0;
    return 0;
}

int SetBlendGraph(HandleValue graph, int kind, int borderParam, int borderRange) {
    if (kind > 2) return -1;
    return SetBlendGraphParams(graph, kind, borderParam, borderRange);
}

int SetBlendGraphParams(HandleValue graph, int kind, int borderParam, int borderRange) {
    DrawSettingsData& d = Settings();
    GraphHandleRecord* blend = nullptr;
    if (graph > 0) {
        blend = LookUpGraphRecord(graph, 0);
        if (blend == nullptr || blend->Image == nullptr) return -1;
        d.BlendGraph = graph;
    } else {
        d.BlendGraph = -1;
    }
    WaitWhileWindowInactive();
    if (blend != nullptr) {
        borderParam = Clamp255(borderParam);
        borderRange = Clamp255(borderRange);
        if (kind == 1) {
            d.BlendBorderParam = borderParam;
            d.BlendBorderRange = borderRange;
            if (!DeviceInUse()) BuildMemImgBlendImageTable(borderParam, borderRange);
        }
    }
    if (DeviceInUse()) {
        Backend_ApplyBlendGraph(blend, kind, borderParam, borderRange);
    } else {
        G().SoftwareBlendImage = blend != nullptr ? &blend->Image->Image : nullptr;
    }
    return 0;
}

int Enter2DDrawMode() {
    DrawSettingsData& d = Settings();
    if (!DeviceInUse() || d.TwoDimModeInEffect) return 0;
    FlushPendingDraws();
    MatrixChainState& m = G().Matrices;
    d.TwoDimModeInEffect = 1;
    m.ThreeDStateApplied = 0;
    m.ProjectionApplied = 0;
    Backend_ApplyProjectionMatrix(&m.AreaViewportF);
    return 0;
}

int Leave2DDrawMode(int keepWorld) {
    DrawSettingsData& d = Settings();
    MatrixChainState& m = G().Matrices;
    if (m.ThreeDStateApplied || !DeviceInUse()) return 0;
    if (!m.WorldApplied && keepWorld == 0) {
        Backend_ChangeWorldMatrix(&m.WorldF);
        m.WorldApplied = 1;
    }
    if (!m.ViewApplied) {
        Backend_ChangeViewMatrix(&m.ViewF);
        m.ViewApplied = 1;
    }
    if (!m.ProjectionApplied) {
        FlushPendingDraws();
        d.TwoDimModeInEffect = 0;
        m.ProjectionApplied = 1;
        Backend_ApplyProjectionMatrix(&m.ProjectionF);
    }
    if (!d.TextureTransformApplied) {
        Backend_ApplyTextureTransform(d.TextureTransformUse, &d.TextureTransform, -1);
        d.TextureTransformApplied = 1;
    }
    m.ThreeDStateApplied = m.WorldApplied;
    return 0;
}

namespace {

// Inverts the destination over the rectangle: a white fill under the inverting row, with white
// brightness; leaves the blend parameter to return.
int InvertDestination(RECT r) {
    DrawSettingsData& d = Settings();
    const int red = d.BrightRed, green = d.BrightGreen, blue = d.BrightBlue;
    const bool tinted = PackedBrightness() != 0xFFFFFF;
    if (tinted) {
        d.BrightRed = d.BrightGreen = d.BrightBlue = 255;
        SendBrightness();
    }
    const int param = d.BlendParam;
    if (d.BlendMode != DX_BLEND_SUBTRACT || d.BlendParam != 255) {
        WaitWhileWindowInactive();
        if (d.BlendMode != DX_BLEND_SUBTRACT) d.DrawSettingsChanged = 1;
        d.BlendMode = DX_BLEND_SUBTRACT;
        d.BlendParam = 255;
        SetMemImgBlendMode(DX_BLEND_SUBTRACT, 255);
        if (DeviceInUse()) Backend_RefreshDrawColor();
    }
    Backend_FillRectangle(r.left, r.top, r.right, r.bottom, ComposeScreenColor(255, 255, 255));
    if (tinted) {
        d.BrightRed = red;
        d.BrightGreen = green;
        d.BrightBlue = blue;
        SendBrightness();
    }
    return param;
}

}  // namespace

int BeginEmulatedSubtract(RECT rect) {
    const int param = InvertDestination(rect);
    SelectBlendMode(DX_BLEND_SUBTRACT_STEP, param);
    return 0;
}

int EndEmulatedSubtract(RECT rect) {
    const int param = InvertDestination(rect);
    SelectBlendMode(DX_BLEND_SUBTRACT, param);
    return 0;
}

// ---- Graph drawing ----

int PutGraph(int x, int y, HandleValue graph, int transparent) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, kNeedsLibrary, &f, &result)) return result;
    return RunFrameDraw(
        f.device, true, true,
        [&] {
            return RECT{x, y, x + f.graph->Width, y + f.graph->Height};
        },
        [&] {
            if (f.device)
                return Backend_DrawGraphAtPoint(x, y, static_cast<float>(x), static_cast<float>(y),
                                                f.graph, f.blend, transparent, 1);
            if (MEMIMG* dest = SoftDest())
                DrawMemImg(dest, &f.graph->View, x, y, transparent,
                           drawframe::SoftwareBlendImage());
            return 0;
        });
}

int PutGraphF(float fx, float fy, HandleValue graph, int transparent) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, 0, &f, &result)) return result;
    const int x = TruncF(fx), y = TruncF(fy);
    return RunFrameDraw(
        f.device, true, true,
        [&] {
            return RECT{x, y, x + f.graph->Width, y + f.graph->Height};
        },
        [&] {
            if (f.device)
                return Backend_DrawGraphAtPoint(x, y, fx, fy, f.graph, f.blend, transparent, 0);
            if (MEMIMG* dest = SoftDest())
                DrawMemImg(dest, &f.graph->View, x, y, transparent,
                           drawframe::SoftwareBlendImage());
            return 0;
        });
}

namespace {

int StretchedBody(int x1, int y1, int x2, int y2, float fx1, float fy1, float fx2, float fy2,
                  HandleValue graph, int transparent, int intCoords) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, 0, &f, &result)) return result;
    return RunFrameDraw(
        f.device, true, true, [&] { return OrderedRect(x1, y1, x2, y2); },
        [&] {
            if (f.device)
                return Backend_DrawGraphStretched(x1, y1, x2, y2, fx1, fy1, fx2, fy2, f.graph,
                                                  f.blend, transparent, intCoords);
            if (MEMIMG* dest = SoftDest()) {
                const RECT r{x1, y1, x2, y2};
                DrawMemImgStretched(dest, &f.graph->View, &r, transparent,
                                    drawframe::SoftwareBlendImage());
            }
            return 0;
        });
}

}  // namespace

int PutGraphStretched(int x1, int y1, int x2, int y2, HandleValue graph, int transparent) {
    return StretchedBody(x1, y1, x2, y2, static_cast<float>(x1), static_cast<float>(y1),
                         static_cast<float>(x2), static_cast<float>(y2), graph, transparent, 1);
}

int PutGraphStretchedF(float x1, float y1, float x2, float y2, HandleValue graph, int transparent) {
    return StretchedBody(TruncF(x1), TruncF(y1), TruncF(x2), TruncF(y2), x1, y1, x2, y2, graph,
                         transparent, 0);
}

int PutGraphReversed(int x, int y, HandleValue graph, int transparent, int reverseX, int reverseY) {
    if (!reverseX && !reverseY) return PutGraph(x, y, graph, transparent);
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    const int w = r->Width, h = r->Height;
    if (!reverseX) return PutGraphStretched(x, y + h, x + w, y, graph, transparent);
    return PutGraphStretched(x + w, reverseY ? y + h : y, x, reverseY ? y : y + h, graph,
                             transparent);
}

int PutGraphReversedF(float x, float y, HandleValue graph, int transparent, int reverseX,
                      int reverseY) {
    if (!reverseX && !reverseY) return PutGraphF(x, y, graph, transparent);
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    const float w = r->WidthF, h = r->HeightF;
    if (!reverseX) return PutGraphStretchedF(x, y + h, x + w, y, graph, transparent);
    return PutGraphStretchedF(x + w, reverseY ? y + h : y, x, reverseY ? y : y + h, graph,
                              transparent);
}

int PutGraphSubRect(int x, int y, int sx, int sy, int w, int h, HandleValue graph, int transparent,
                    int reverseX, int reverseY) {
    if (w <= 0 || h <= 0) return -1;
    const SavedArea saved = NarrowDrawArea(RECT{x, y, x + w, y + h});
    int result;
    if (!reverseX && !reverseY) {
        result = PutGraph(x - sx, y - sy, graph, transparent);
    } else if (GraphHandleRecord* r = LookUpGraphRecord(graph, 0); r == nullptr) {
        result = -1;
    } else if (reverseX) {
        // The whole graph mirrored so that the source rectangle lands on the narrowed area.
        result = PutGraphReversed(x + sx + w - r->Width, reverseY ? y + sy + h - r->Height : y - sy,
                                  graph, transparent, 1, reverseY);
    } else {
        result = PutGraphReversed(x - sx, y + sy + h - r->Height, graph, transparent, 0, 1);
    }
    RestoreDrawArea(saved);
    return result;
}

int PutGraphSubRectF(float x, float y, float sx, float sy, float w, float h, HandleValue graph,
                     int transparent, int reverseX, int reverseY) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    if (r->DrawPieceCount != 1 || r->DrawPieces[0].Piece == nullptr) {
        return DrawDerivedGraph(
            TruncF(sx), TruncF(sy), TruncF(w), TruncF(h), graph, [&](HandleValue derived) {
                if (reverseX || reverseY)
                    PutGraphReversedF(x, y, derived, transparent, reverseX, reverseY);
                else
                    PutGraphF(x, y, derived, transparent);
            });
    }
    const GraphDrawPiece& p = r->DrawPieces[0];
    const float tw = static_cast<float>(p.Piece->TextureWidth);
    const float th = static_cast<float>(p.Piece->TextureHeight);
    float left = x, right = x + w, top = y, bottom = y + h;
    if (reverseX) std::swap(left, right);
    if (reverseY) std::swap(top, bottom);
    const float lu = (sx + p.TexXF) / tw, ru = (sx + p.TexXF + w) / tw;
    const float tv = (sy + p.TexYF) / th, bv = (sy + p.TexYF + h) / th;
    GraphQuad quad{{{left, top, lu, tv},
                    {right, top, ru, tv},
                    {left, bottom, lu, bv},
                    {right, bottom, ru, bv}}};
    GraphQuadList list{1, &quad, graph, transparent};
    PutGraphList(&list);
    return 0;
}

int PutGraphSubRectStretched(int x1, int y1, int x2, int y2, int sx, int sy, int w, int h,
                             HandleValue graph, int transparent) {
    if (w <= 0 || h <= 0) return -1;
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    const int W = r->Width, H = r->Height;
    const bool mirrorX = x2 < x1, mirrorY = y2 < y1;
    const int left = std::min(x1, x2), right = std::max(x1, x2);
    const int top = std::min(y1, y2), bottom = std::max(y1, y2);
    const SavedArea saved = NarrowDrawArea(RECT{left, top, right, bottom});
    const double u = static_cast<double>(right - left) / w;
    const double v = static_cast<double>(bottom - top) / h;
    int startX, endX, startY, endY;
    if (!mirrorX) {
        startX = left - static_cast<int>(sx * u);
        endX = left + static_cast<int>((W - sx) * u);
    } else {
        startX = right + static_cast<int>(sx * u);
        endX = right - static_cast<int>((W - sx) * u);
    }
    if (!mirrorY) {
        startY = top - static_cast<int>(sy * v);
        endY = top + static_cast<int>((H - sy) * v);
    } else {
        startY = bottom + static_cast<int>(sy * v);
        endY = bottom - static_cast<int>((H - sy) * v);
    }
    const int result = PutGraphStretched(startX, startY, endX, endY, graph, transparent);
    RestoreDrawArea(saved);
    return result;
}

int PutGraphSubRectStretchedF(float x1, float y1, float x2, float y2, int sx, int sy, int w, int h,
                              HandleValue graph, int transparent) {
    if (w <= 0 || h <= 0) return -1;
    return DrawDerivedGraph(sx, sy, w, h, graph, [&](HandleValue derived) {
        PutGraphStretchedF(x1, y1, x2, y2, derived, transparent);
    });
}

int PutGraphOnQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                    HandleValue graph, int transparent) {
    return PutGraphOnQuadBody(x1, y1, x2, y2, x3, y3, x4, y4, graph, transparent, 0);
}

int PutGraphOnQuadBody(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                       float y4, HandleValue graph, int transparent, int quadFlag) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, 0, &f, &result)) return result;
    // Top-left, top-right, bottom-left, bottom-right.
    const float c[8] = {x1, y1, x2, y2, x4, y4, x3, y3};
    return RunFrameDraw(
        f.device, true, false,
        [&] {
            RECT r{TruncF(c[0]), TruncF(c[1]), 0, 0};
            for (int i = 0; i < 4; ++i) {
                const int x = TruncF(c[2 * i]), y = TruncF(c[2 * i + 1]);
                r.left = std::min<LONG>(r.left, x);
                r.top = std::min<LONG>(r.top, y);
                r.right = std::max<LONG>(r.right, x);
                r.bottom = std::max<LONG>(r.bottom, y);
            }
            // The corner pixels themselves are drawn: the rectangle ends one past them.
            r.right = r.right == std::numeric_limits<LONG>::max() ? r.right : r.right + 1;
            r.bottom = r.bottom == std::numeric_limits<LONG>::max() ? r.bottom : r.bottom + 1;
            return r;
        },
        [&] {
            if (f.device)
                return Backend_DrawGraphOnQuad(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7],
                                               f.graph, f.blend, transparent, quadFlag);
            int ci[8];
            for (int i = 0; i < 8; ++i) ci[i] = TruncF(c[i]);
            SoftwareQuad(&f.graph->View, ci, transparent);
            return 0;
        });
}

namespace {

// The rotated draw's bounding rectangle: the graph's corners about its centre, turned, scaled and
// widened by 5 on every side.
RECT RotatedBounds(const GraphHandleRecord* g, int x, int y, double scale, double sine,
                   double cosine) {
    const double w = g->Width, h = g->Height;
    const double hw = g->Width / 2, hh = g->Height / 2;
    const double cx[4] = {-hw, w - hw, -hw, w - hw};
    const double cy[4] = {-hh, -hh, h - hh, h - hh};
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    for (int i = 0; i < 4; ++i) {
        const double px = (cx[i] * cosine - cy[i] * sine) * scale + x;
        const double py = (cy[i] * cosine + cx[i] * sine) * scale + y;
        if (i == 0 || px < minX) minX = px;
        if (i == 0 || px > maxX) maxX = px;
        if (i == 0 || py < minY) minY = py;
        if (i == 0 || py > maxY) maxY = py;
    }
    return RECT{TruncD(minX - 5), TruncD(minY - 5), TruncD(maxX + 5), TruncD(maxY + 5)};
}

}  // namespace

int PutGraphRotatedF(float fx, float fy, double scale, double angle, HandleValue graph,
                     int transparent, int reverseX, int reverseY) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, 0, &f, &result)) return result;
    const int x = TruncF(fx), y = TruncF(fy);
    return RunFrameDraw(
        f.device, true, true,
        [&] { return RotatedBounds(f.graph, x, y, scale, std::sin(angle), std::cos(angle)); },
        [&] {
            if (f.device)
                return Backend_DrawGraphRotated(x, y, fx, fy, scale, angle, f.graph, f.blend,
                                                transparent, reverseX, reverseY);
            if (MEMIMG* dest = SoftDest())
                DrawMemImgRotated(dest, &f.graph->View, x, y, static_cast<float>(angle),
                                  static_cast<float>(scale), static_cast<float>(scale), transparent,
                                  reverseX, reverseY, drawframe::SoftwareBlendImage());
            return 0;
        });
}

int PutGraphRotatedFastF(float fx, float fy, float scale, float angle, HandleValue graph,
                         int transparent, int reverseX, int reverseY) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, 0, &f, &result)) return result;
    const int x = TruncF(fx), y = TruncF(fy);
    return RunFrameDraw(
        f.device, true, true,
        [&] {
            float s, c;
            LookUpSinCos(angle, &s, &c);
            return RotatedBounds(f.graph, x, y, scale, s, c);
        },
        [&] {
            if (f.device)
                return Backend_DrawGraphRotatedFast(x, y, fx, fy, scale, angle, f.graph, f.blend,
                                                    transparent, reverseX, reverseY);
            if (MEMIMG* dest = SoftDest())
                DrawMemImgRotated(dest, &f.graph->View, x, y, angle, scale, scale, transparent,
                                  reverseX, reverseY, drawframe::SoftwareBlendImage());
            return 0;
        });
}

namespace {

// The common body of the pivot rotations; fast chooses the sine table and the fast rotated draw.
template <class Real>
int PivotRotation(float x, float y, float px, float py, Real sx, Real sy, Real angle,
                  HandleValue graph, int transparent, int reverseX, int reverseY, int intCoords,
                  bool fast) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    const float W = r->WidthF, H = r->HeightF;
    float sine = 0.0f, cosine = 1.0f;
    if (angle != 0) {
        if (fast)
            LookUpSinCos(static_cast<float>(angle), &sine, &cosine);
        else
            SinCosFloat(static_cast<float>(angle), &sine, &cosine);
    }
    const bool scaled = sx != 1 || sy != 1;
    if (angle != 0 && scaled) {
        float left = static_cast<float>(-sx * px), right = static_cast<float>((W - px) * sx);
        float top = static_cast<float>(-sy * py), bottom = static_cast<float>((H - py) * sy);
        if (reverseX) std::swap(left, right);
        if (reverseY) std::swap(top, bottom);
        auto turn = [&](float dx, float dy, float* ox, float* oy) {
            *ox = cosine * dx - sine * dy + x;
            *oy = cosine * dy + sine * dx + y;
        };
        float c[8];
        turn(left, top, &c[0], &c[1]);
        turn(right, top, &c[2], &c[3]);
        turn(right, bottom, &c[4], &c[5]);
        turn(left, bottom, &c[6], &c[7]);
        // A device that samples at pixel corners is moved onto the pixel centres.
        if (intCoords && DeviceInUse() && G().NoHalfPixelOffset == 0) {
            for (float& v : c) v -= 0.5f;
        }
        return PutGraphOnQuadBody(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], graph,
                                  transparent, 1);
    }
    if (angle != 0) {
        const float dx = W * 0.5f - px, dy = H * 0.5f - py;
        const float cx = cosine * dx - sine * dy + x, cy = cosine * dy + sine * dx + y;
        if (fast)
            return PutGraphRotatedFastF(cx, cy, 1.0f, static_cast<float>(angle), graph, transparent,
                                        reverseX, reverseY);
        return PutGraphRotatedF(cx, cy, 1.0, angle, graph, transparent, reverseX, reverseY);
    }
    if (scaled) {
        float x1 = static_cast<float>(x - sx * px);
        float x2 = static_cast<float>(W * sx + x1);
        float y1 = static_cast<float>(y - sy * py);
        float y2 = static_cast<float>(H * sy + y1);
        if (reverseX) std::swap(x1, x2);
        if (reverseY) std::swap(y1, y2);
        return PutGraphStretchedF(x1, y1, x2, y2, graph, transparent);
    }
    return PutGraphReversedF(x - px, y - py, graph, transparent, reverseX, reverseY);
}

}  // namespace

int PutGraphRotated3(int x, int y, int px, int py, double sx, double sy, double angle,
                     HandleValue graph, int transparent, int reverseX, int reverseY) {
    if (angle == 0 && sx == 1 && sy == 1)
        return PutGraphReversed(x - px, y - py, graph, transparent, reverseX, reverseY);
    return PutGraphRotated3F(static_cast<float>(x), static_cast<float>(y), static_cast<float>(px),
                             static_cast<float>(py), sx, sy, angle, graph, transparent, reverseX,
                             reverseY, 1);
}

int PutGraphRotated3F(float x, float y, float px, float py, double sx, double sy, double angle,
                      HandleValue graph, int transparent, int reverseX, int reverseY,
                      int intCoords) {
    return PivotRotation<double>(x, y, px, py, sx, sy, angle, graph, transparent, reverseX,
                                 reverseY, intCoords, false);
}

int PutGraphRotated3Fast(int x, int y, int px, int py, float sx, float sy, float angle,
                         HandleValue graph, int transparent, int reverseX, int reverseY) {
    if (angle == 0 && sx == 1 && sy == 1)
        return PutGraphReversed(x - px, y - py, graph, transparent, reverseX, reverseY);
    return PutGraphRotated3FastF(static_cast<float>(x), static_cast<float>(y),
                                 static_cast<float>(px), static_cast<float>(py), sx, sy, angle,
                                 graph, transparent, reverseX, reverseY, 1);
}

int PutGraphRotated3FastF(float x, float y, float px, float py, float sx, float sy, float angle,
                          HandleValue graph, int transparent, int reverseX, int reverseY,
                          int intCoords) {
    return PivotRotation<float>(x, y, px, py, sx, sy, angle, graph, transparent, reverseX, reverseY,
                                intCoords, true);
}

int PutGraphList(const GraphQuadList* list) {
    if (list == nullptr) return -1;
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(list->Graph, kNeedsLibrary, &f, &result)) return result;
    return RunFrameDraw(
        f.device, true, false,
        [&] {
            RECT r{0, 0, 0, 0};
            bool first = true;
            for (int i = 0; i < list->Count; ++i) {
                for (const float* v : list->Quads[i].v) {
                    const int x = TruncF(v[0]), y = TruncF(v[1]);
                    r.left = first ? x : std::min<LONG>(r.left, x);
                    r.top = first ? y : std::min<LONG>(r.top, y);
                    r.right = std::max<LONG>(r.right, x);
                    r.bottom = std::max<LONG>(r.bottom, y);
                    first = false;
                }
            }
            return RECT{r.left - 1, r.top - 1, r.right + 1, r.bottom + 1};
        },
        [&] {
            // The quads address the graph's texture, which only a device has.
            if (!f.device) return 0;
            return Backend_DrawGraphList(list, f.graph, f.blend);
        });
}

int PutGraphTiled(int x1, int y1, int x2, int y2, int ox, int oy, double scale, double angle,
                  HandleValue graph, int transparent) {
    GraphFrame f;
    int result;
    if (!OpenGraphFrame(graph, kTileFrame, &f, &result)) return result;
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    if (x1 == x2 || y1 == y2) return 0;
    // A scale of 0 or less shows nothing (a device would draw only empty quads).
    if (!(scale > 0)) return 0;
    const int W = f.graph->Width, H = f.graph->Height;
    if (W <= 0 || H <= 0) return 0;
    return RunFrameDraw(
        f.device, false, true,
        [&] {
            return RECT{x1, y1, x2, y2};
        },
        [&] {
            const int offX = ox % W, offY = oy % H;
            float sine, cosine, sine2, cosine2;
            SinCosFloat(static_cast<float>(angle), &sine, &cosine);
            SinCosFloat(static_cast<float>(angle) + 1.5707964f, &sine2, &cosine2);
            const double colX = W * cosine * scale, colY = W * sine * scale;
            const double rowX = H * cosine2 * scale, rowY = H * sine2 * scale;
            const double dxr = x2 - x1, dyr = y2 - y1;
            const double diagonal = std::sqrt(dxr * dxr + dyr * dyr);
            // Never less than one pixel per tile, so the count stays within the rectangle's size.
            const int side = std::min(W, H);
            const double perTile = std::max(side * scale, 1.0);
            // A rectangle far larger than any target cannot ask for more than this.
            constexpr double kMaxTilesPerSide = 2049.0;
            int n = static_cast<int>(std::min(diagonal / perTile + 2.0, kMaxTilesPerSide));
            if (n % 2 == 0) ++n;
            const RECT savedArea = Settings().DrawArea;
            SetDrawClipRect(RECT{x1, y1, x2, y2});
            if (f.device) Enter2DDrawMode();
            const double startX = -offX - static_cast<double>(n * W / 2);
            const double startY = -offY - static_cast<double>(n * H / 2);
            const double centreX = (x1 + x2) * 0.5, centreY = (y1 + y2) * 0.5;
            double rowStartX = centreX + (startX * cosine - startY * sine) * scale;
            double rowStartY = centreY + (startY * cosine + startX * sine) * scale;
            MEMIMG* dest = SoftDest();
            for (int row = 0; row < n; ++row) {
                double px = rowStartX, py = rowStartY;
                for (int col = 0; col < n; ++col) {
                    const float c[8] = {static_cast<float>(px),
                                        static_cast<float>(py),
                                        static_cast<float>(px + colX),
                                        static_cast<float>(py + colY),
                                        static_cast<float>(px + rowX),
                                        static_cast<float>(py + rowY),
                                        static_cast<float>(px + colX + rowX),
                                        static_cast<float>(py + colY + rowY)};
                    if (f.device) {
                        Backend_DrawGraphOnQuad(c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7],
                                                f.graph, f.blend, transparent, 1);
                    } else if (dest != nullptr && angle != 0) {
                        int ci[8];
                        for (int i = 0; i < 8; ++i) ci[i] = TruncF(c[i]);
                        SoftwareQuad(&f.graph->View, ci, transparent);
                    } else if (dest != nullptr) {
                        const RECT r{TruncD(px), TruncD(py), TruncD(px + W * scale),
                                     TruncD(py + H * scale)};
                        DrawMemImgStretched(dest, &f.graph->View, &r, transparent,
                                            drawframe::SoftwareBlendImage());
                    }
                    px += colX;
                    py += colY;
                }
                rowStartX += rowX;
                rowStartY += rowY;
            }
            SetDrawClipRect(savedArea);
            if (f.device) Enter2DDrawMode();
            return 0;
        });
}

int PutGraphWithBlendGraph(int x, int y, HandleValue graph, int transparent, HandleValue blendGraph,
                           int borderParam, int borderRange) {
    const DrawSettingsData& d = Settings();
    const HandleValue oldGraph = d.BlendGraph;
    const int oldParam = d.BlendBorderParam, oldRange = d.BlendBorderRange;
    SetBlendGraph(blendGraph, 1, borderParam, borderRange);
    PutGraph(x, y, graph, transparent);
    SetBlendGraph(oldGraph, 1, oldParam, oldRange);
    return 0;
}

int FillGraphRect(HandleValue graph, int x, int y, int w, int h, int red, int green, int blue,
                  int alpha) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr) return -1;
    if (x < 0 || y < 0 || x + w > r->Width || y + h > r->Height) return -1;
    red = Clamp255(red);
    green = Clamp255(green);
    blue = Clamp255(blue);
    alpha = Clamp255(alpha);
    GraphImage* image = r->Image;
    if (x == 0 && y == 0 && w == r->Width && h == r->Height && r->X == 0 && r->Y == 0 &&
        r->Width == image->Width && r->Height == image->Height)
        return FillGraph(graph, red, green, blue, alpha);
    if (w <= 0 || h <= 0) return 0;
    if (!image->Format.DeviceImage) {
        // A fill of graph pixels, whatever the draw area and blend mode of the screen are.
        MemImgDrawStateRecord& s = MemImgDrawState;
        const RECT area = s.DrawArea;
        const int mode = s.BlendMode, param = s.BlendParam;
        const std::uint32_t bright = s.DrawBright;
        const RECT whole{0, 0, r->View.Width, r->View.Height};
        SetMemImgDrawArea(&whole);
        SetMemImgBlendMode(DX_BLEND_NONE, 255);
        SetMemImgDrawBright(0xFFFFFF);
        const RECT box{x, y, x + w, y + h};
        FillMemImgBox(&r->View, &box, ComposeScreenColor(red, green, blue));
        SetMemImgDrawArea(&area);
        SetMemImgBlendMode(mode, param);
        SetMemImgDrawBright(bright);
        return 0;
    }
    if (image->Format.Drawable && image->Width == r->Width && image->Height == r->Height) {
        DrawStateSnapshot state;
        SaveDrawState(&state);
        SetDrawTarget(graph);
        SetDrawClipRect(RECT{0, 0, r->Width, r->Height});
        SelectBlendMode(DX_BLEND_SOURCE_COPY, alpha);
        PaintFilledBox(x, y, x + w, y + h, ComposeScreenColor(red, green, blue));
        RestoreDrawState(&state);
        return 0;
    }
    BASEIMAGE fill{};
    if (NewBaseImageArgb8(w, h, &fill) != 0) return -1;
    FillBaseImage(&fill, red, green, blue, alpha);
    const RECT source{0, 0, w, h};
    TransferImageRectToGraph(nullptr, nullptr, nullptr, 0, &fill, nullptr, &source, x, y, graph);
    DisposeBaseImage(&fill);
    return 0;
}

int LookUpSinCos(float angle, float* sine, float* cosine) {
    if (angle >= -10.0f && angle <= 10.0f) {
        const float scaled = angle * 10430.378f;
        const int index = static_cast<int>(std::lrint(scaled)) & 0xFFFF;
        *sine = SineTable[index];
        *cosine = SineTable[(index + 16384) & 0xFFFF];
        return 0;
    }
    SinCosFloat(angle, sine, cosine);
    return 0;
}

}  // namespace ZiDaz
