// Image filter front end: the entry points and their one dispatcher (checks, clipping, argument
// decoding, the pass loop), the software image access every software body uses, and the pass
// plan with its program cache and work graphs for the software renderer and both device kinds.
#include "Main/DxGraphicsFilter.h"

#include <algorithm>
#include <cstring>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

int FilterShaderCache[kFilterShaderCacheSize] = {
#define VELK_M1_8 -1, -1, -1, -1, -1, -1, -1, -1
#define VELK_M1_64 \
    VELK_M1_8, VELK_M1_8, VELK_M1_8, VELK_M1_8, VELK_M1_8, VELK_M1_8, VELK_M1_8, VELK_M1_8
    VELK_M1_64, VELK_M1_64, VELK_M1_64, VELK_M1_64, VELK_M1_64, VELK_M1_64, VELK_M1_64, VELK_M1_64,
    VELK_M1_64, VELK_M1_8,  VELK_M1_8,  VELK_M1_8,  VELK_M1_8,  VELK_M1_8,  VELK_M1_8,  VELK_M1_8,
    -1,         -1,         -1,         -1,         -1,         -1,
#undef VELK_M1_64
#undef VELK_M1_8
};
static_assert(8 * 64 + 64 + 7 * 8 + 6 == kFilterShaderCacheSize);

int FilterLastPassResult = 0;

// The program names shared by both tables: indices 0-16 and 23-42.
#define VELK_FILTER_NAMES_0_16                                                             \
    "Mono.pso", "Gauss_08Pixel_PS.pso", "Gauss_16Pixel_PS.pso", "Gauss_32Pixel_PS.pso",    \
        "DownScaleX2.pso", "DownScaleX4.pso", "DownScaleX8.pso", "BrightClipLess.pso",     \
        "BrightClipLess_PMA.pso", "BrightClipFillLess.pso", "BrightClipFillLess_PMA.pso",  \
        "BrightClipGreater.pso", "BrightClipGreater_PMA.pso", "BrightClipFillGreater.pso", \
        "BrightClipFillGreater_PMA.pso", "BrightnessScale.pso", "BrightnessScale_PMA.pso"
#define VELK_FILTER_NAMES_23_42                                                                \
    "Invert.pso", "Invert_PMA.pso", "Level.pso", "Level_PMA.pso", "TwoColor.pso",              \
        "TwoColor_PMA.pso", "GradientMap.pso", "GradientMap_PMA.pso", "GradientMapRev.pso",    \
        "GradientMapRev_PMA.pso", "Replacement.pso", "Replacement_PMA.pso",                    \
        "PremultipliedAlpha.pso", "InterpolatedAlpha.pso", "Y2uv2ToRgb.pso", "Y2uv1ToRgb.pso", \
        "Y2uv2ToRgb_RRA.pso", "Y2uv1ToRgb_RRA.pso", "Bicubic.pso", "Lanczos3.pso"
// The basic graph-blend programs by blend type (none for the RGBA select mix, types 1 and 18),
// then the general RGBA-mix programs and the channel letters.
#define VELK_BLEND_NAMES                                                                        \
    "BasBF_Normal.pso", nullptr, "BasBF_Multiple.pso", "BasBF_Difference.pso", "BasBF_Add.pso", \
        "BasBF_Screen.pso", "BasBF_Overlay.pso", "BasBF_Dodge.pso", "BasBF_Burn.pso",           \
        "BasBF_Darken.pso", "BasBF_Lighten.pso", "BasBF_SoftLight.pso", "BasBF_HardLight.pso",  \
        "BasBF_Exclusion.pso", "BasBF_Normal_AlphaCh.pso", "BasBF_Add_AlphaCh.pso",             \
        "BasBF_Multiple_AOnly.pso", "BasBF_Normal_PMA.pso", nullptr, "BasBF_Multiple_PMA.pso",  \
        "BasBF_Difference_PMA.pso", "BasBF_Add_PMA.pso", "BasBF_Screen_PMA.pso",                \
        "BasBF_Overlay_PMA.pso", "BasBF_Dodge_PMA.pso", "BasBF_Burn_PMA.pso",                   \
        "BasBF_Darken_PMA.pso", "BasBF_Lighten_PMA.pso", "BasBF_SoftLight_PMA.pso",             \
        "BasBF_HardLight_PMA.pso", "BasBF_Exclusion_PMA.pso", "BasBF_Normal_AlphaCh_PMA.pso",   \
        "BasBF_Add_AlphaCh_PMA.pso", "BasBF_Multiple_AOnly_PMA.pso", "RGBAMix_Base.pso",        \
        "RGBAMix_Base_PMA.pso", "R", "G", "B", "A"

const char* const D3D9FilterProgramNames[kD3D9FilterProgramCount] = {
    VELK_FILTER_NAMES_0_16,  "Hsb_RGB_TO_HSB.pso",     "Hsb_RGB_TO_HSB_PMA.pso",
    "Hsb_HSB_TO_RGB.pso",    "Hsb_HSB_TO_RGB_PMA.pso", "Hsb_HSB_HLOCK.pso",
    "Hsb_HSB_HLOCK_PMA.pso", VELK_FILTER_NAMES_23_42,  nullptr,
    VELK_BLEND_NAMES,
};
const char* const D3D11FilterProgramNames[kD3D11FilterProgramCount] = {
    VELK_FILTER_NAMES_0_16,
    "Hsb_HSB_BASE.pso",
    "Hsb_HSB_BASE_PMA.pso",
    "Hsb_HSB_HLOCK.pso",
    "Hsb_HSB_HLOCK_PMA.pso",
    nullptr,
    nullptr,
    VELK_FILTER_NAMES_23_42,
    "SSAO.pso",
    "SSAO_Blur.pso",
    "SSAO_MIX.pso",
    "FloatColorScale.pso",
    nullptr,
    VELK_BLEND_NAMES,
};
#undef VELK_FILTER_NAMES_0_16
#undef VELK_FILTER_NAMES_23_42
#undef VELK_BLEND_NAMES

namespace {

constexpr int kWorkExponents = 18;  // 2^0 .. 2^17
// [pixel class 0..3][i][j][member] for Direct3D 9, [float flag][i][j][member] for Direct3D 11.
HandleValue D3D9FilterWorkGraphs[4][kWorkExponents][kWorkExponents][2];
HandleValue D3D11FilterWorkGraphs[2][kWorkExponents][kWorkExponents][2];

ArchiveReader* FilterProgramArchives[3] = {nullptr, nullptr, nullptr};

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}

bool ShadersUsable() {
    return G().ShadersUsable == 1;
}

const GraphicsBackendTable* ActiveTable() {
    return GetGraphicsBackendTable(GraphicsBackendKind);
}

// Direct3D 9 has no ambient-occlusion or float colour-scale pass: those return 0 and draw nothing.
bool D3D9HasNoPass(const char* name) {
    return GraphicsBackendKind == DX_GRAPHICS_BACKEND_D3D9 &&
           (std::strcmp(name, "Filter_Ssao") == 0 ||
            std::strcmp(name, "Filter_FloatColorScale") == 0);
}

}  // namespace

// ---- Shader-path dispatchers: the active back end's pass, its result kept for the plan ----

#define VELK_DEFINE_FILTER_PASS(R, Name, Params, Args, Default)                                 \
    R Backend_##Name Params {                                                                   \
        const GraphicsBackendTable* t = ActiveTable();                                          \
        R result = Default;                                                                     \
        if (t != nullptr && t->Name != nullptr && !D3D9HasNoPass(#Name)) result = t->Name Args; \
        FilterLastPassResult = result;                                                          \
        return result;                                                                          \
    }
#define VELK_DEFINE_FILTER_STEP(R, Name, Params, Args, Default) \
    R Backend_##Name Params {                                   \
        const GraphicsBackendTable* t = ActiveTable();          \
        if (t == nullptr || t->Name == nullptr) return Default; \
        return t->Name Args;                                    \
    }
VELK_FILTER_PASS_DISPATCHERS(VELK_DEFINE_FILTER_PASS)
VELK_FILTER_DEVICE_STEPS(VELK_DEFINE_FILTER_STEP)
#undef VELK_DEFINE_FILTER_PASS
#undef VELK_DEFINE_FILTER_STEP

// ---- Program cache ----

int ResetFilterShaderCache() {
    for (int& entry : FilterShaderCache) entry = -1;
    ResetLevelGammaGraph();
    return 0;
}

int SetFilterProgramArchive(int kind, ArchiveReader* reader) {
    if (kind != 1 && kind != 2) return -1;
    FilterProgramArchives[kind] = reader;
    return 0;
}

HandleValue LoadFilterProgram(const char* name, int shaderKind) {
    const int kind = GraphicsBackendKind;
    ArchiveReader* archive = kind == 1 || kind == 2 ? FilterProgramArchives[kind] : nullptr;
    if (archive == nullptr || name == nullptr) return -1;
    std::uint32_t position = 0, size = 0;
    if (LocateFileInArchive(archive, CharEncoding::Ascii, name, &position, &size) != 0) return -1;
    auto* image = static_cast<const std::uint8_t*>(GetArchiveMemoryImage(archive));
    if (image == nullptr) return -1;
    return CreateShaderFromMemory(shaderKind, image + position, static_cast<int>(size), 0, 0,
                                  nullptr);
}

HandleValue GetFilterProgram(int entry, int programIndex) {
    if (entry < 0 || entry >= kFilterShaderCacheSize) return -1;
    if (FilterShaderCache[entry] >= 0) return FilterShaderCache[entry];
    const char* name = nullptr;
    if (GraphicsBackendKind == 1 && programIndex >= 0 && programIndex < kD3D9FilterProgramCount)
        name = D3D9FilterProgramNames[programIndex];
    if (GraphicsBackendKind == 2 && programIndex >= 0 && programIndex < kD3D11FilterProgramCount)
        name = D3D11FilterProgramNames[programIndex];
    const HandleValue shader = LoadFilterProgram(name, 1);
    FilterShaderCache[entry] = shader;
    if (shader < 0) {
        FilterShaderCache[entry] = -1;
        char16_t wide[64] = {};
        if (name != nullptr)
            TranscodeString(name, -1, CharEncoding::Ascii, wide, sizeof(wide),
                            CharEncoding::Utf16Le);
        WriteLogFormatUtf16(u"フィルター用シェーダーの作成に失敗しました %s", wide);
        return -1;
    }
    SetHandleLostFlag(shader, &FilterShaderCache[entry]);
    return shader;
}

// ---- Work graphs ----

int FilterWorkGraphExponent(int length) {
    int i = 0;
    while (i < kWorkExponents && (std::int64_t{1} << i) < length) ++i;
    return i < kWorkExponents ? i : -1;
}

HandleValue GetFilterWorkGraph(int floatFlag, int channelBits, int width, int height, int member) {
    const int i = FilterWorkGraphExponent(width), j = FilterWorkGraphExponent(height);
    if (i < 0 || j < 0 || member < 0 || member > 1) return -1;
    HandleValue* entry = nullptr;
    if (GraphicsBackendKind == 2) {
        entry = &D3D11FilterWorkGraphs[floatFlag ? 1 : 0][i][j][member];
    } else {
        const int pixelClass = floatFlag == 0 ? 0 : channelBits == 32 ? 3 : 2;
        entry = &D3D9FilterWorkGraphs[pixelClass][i][j][member];
    }
    if (*entry > 0 && LookUpGraphRecord(*entry, 0) != nullptr) return *entry;
    GraphCreateParams params{};
    InitDrawableGraphCreateParams(&params, 32, 1);
    if (floatFlag) {
        params.DrawableFloat = 1;
        if (GraphicsBackendKind != 2) {
            params.DrawableChannelCount = 4;
            params.BitsPerChannel = channelBits;
        }
    }
    const int w = 1 << i, h = 1 << j;
    const HandleValue graph = CreateBlankGraph(&params, w, h, 0, 0, 0, 0, nullptr);
    *entry = graph;
    if (graph < 0) {
        *entry = -1;
        WriteLogFormatUtf16(u"作業用描画可能テクスチャの作成に失敗しました Size:%dx%d", w, h);
        return -1;
    }
    SetHandleLostFlag(graph, entry);
    return graph;
}

// ---- The pass plan ----

namespace {

// What a pass surface is: a graph (with its record), a shadow map or the screen, and its pixel
// class (float flag and bits per channel).
struct PassSurface {
    int kind;  // 0 graph, 1 shadow map, 2 screen
    GraphHandleRecord* graph;
    int floatFlag;
    int bits;
};

bool ClassifySurface(HandleValue handle, bool screenAllowed, PassSurface* out) {
    *out = PassSurface{};
    if (handle == DX_TARGET_BACK_SCREEN) {
        if (!screenAllowed) return false;
        out->kind = 2;
        out->bits = GetScreenColorBits();
        return true;
    }
    if (GraphHandleRecord* r = LookUpGraphRecord(handle, 0); r != nullptr && r->Image != nullptr) {
        const GraphFormatDesc& d = r->Image->Format;
        out->kind = 0;
        out->graph = r;
        if (d.DeviceFormatOverride >= 17 && d.DeviceFormatOverride <= 19) {
            out->floatFlag = 1;
            out->bits = 16;
        } else if (d.DeviceFormatOverride >= 20 && d.DeviceFormatOverride <= 22) {
            out->floatFlag = 1;
            out->bits = 32;
        } else {
            out->floatFlag = d.Float;
            out->bits = d.BitsPerChannel;
        }
        return true;
    }
    if (LookUpShadowMapRecord(handle, 0) != nullptr) {
        // Shadow maps hold depth in 16-bit floating-point channels.
        out->kind = 1;
        out->floatFlag = 1;
        out->bits = 16;
        return true;
    }
    return false;
}

// The pass counts of Direct3D 9 by mode (blend path: always 1).
int D3D9PassCount(const FilterRunInfo* info, const FilterParams* params) {
    if (info->BlendFlag) return 1;
    const int mode = info->Mode;
    int count = -1;
    if ((mode == static_cast<int>(ImageFilterMode::Hsb) || mode == 23) && params->HsbHueMode == 1)
        count = 1;
    if (mode == static_cast<int>(ImageFilterMode::GradientMap) &&
        info->MultisampledTarget != nullptr &&
        params->GradientMapGraph == G().DrawSettings.DrawTarget) {
        // The gradient is what was drawn into the multisampled target: resolve it first.
        Backend_FilterCloseScene();
        Backend_FilterResolveMultisample(info->MultisampledTarget, G().DrawSettings.TargetCubeFace);
    }
    if (count < 0) {
        count = mode == static_cast<int>(ImageFilterMode::Gauss) ||
                        mode == static_cast<int>(ImageFilterMode::Hsb) || mode == 23
                    ? 2
                    : 1;
    }
    return count;
}

}  // namespace

int Backend_Filter_Start(FilterRunInfo* info, const FilterParams* params) {
    info->PassCount = -1;
    const bool moved = info->X1 != info->DestX || info->Y1 != info->DestY;
    switch (GraphicsBackendKind) {
        case DX_GRAPHICS_BACKEND_D3D9:
            info->PassCount = D3D9PassCount(info, params);
            info->UsesWorkSurface = 1;
            if (!ShadersUsable()) info->PassCount = 1;
            Backend_FilterOpenScene();
            Backend_FilterPushDrawState(info->OutputBlendMode);
            return 0;
        case DX_GRAPHICS_BACKEND_D3D11:
            if (info->BlendFlag) {
                info->PassCount = 1;
                info->UsesWorkSurface = 0;
            } else if (info->Mode == static_cast<int>(ImageFilterMode::Gauss)) {
                info->PassCount = 2;
                info->UsesWorkSurface = 1;
            } else if (info->Mode == static_cast<int>(ImageFilterMode::Ssao)) {
                info->PassCount = 3;
                info->UsesWorkSurface = 1;
            } else {
                info->PassCount = 1;
                info->UsesWorkSurface = 0;
            }
            if (moved) info->UsesWorkSurface = 1;
            // The software bodies finish their whole effect in one call.
            if (!ShadersUsable()) info->PassCount = 1;
            return 0;
        default:
            info->PassCount = 1;
            info->UsesWorkSurface = moved ? 1 : 0;
            return 0;
    }
}

int Backend_Filter_PassTargets(FilterRunInfo* info, HandleValue* source, HandleValue* destination) {
    const int kind = GraphicsBackendKind;
    if (kind != DX_GRAPHICS_BACKEND_D3D9 && kind != DX_GRAPHICS_BACKEND_D3D11) {
        *source = info->Source;
        *destination = info->Destination;
        return 0;
    }
    PassSurface from{}, to{};
    if (!ClassifySurface(info->Source, false, &from)) return -1;
    if (!ClassifySurface(info->Destination, true, &to)) return -1;
    *source = info->Source;
    *destination = info->Destination;
    // Without shaders the software bodies write the destination themselves.
    if (!ShadersUsable()) return 0;

    const bool ownTarget =
        from.kind != 1 && to.kind == 0 &&
        (to.graph->Image->Format.Drawable == 0 ||
         (info->Destination == info->Source && (kind != 1 || info->UsesWorkSurface)));
    const bool alternate = info->UsesWorkSurface && (info->PassIndex % 2) == (info->PassCount % 2);
    const GraphHandleRecord* sg = from.graph;
    const bool gather =
        from.kind == 0 && info->PassIndex == 0 &&
        (sg->DrawPieceCount != 1 || sg->DrawPieces[0].TexX != 0 || sg->DrawPieces[0].TexY != 0);
    int gatherMember = 0;
    if (alternate || ownTarget) {
        int w = 0, h = 0;
        if (from.kind == 0 && gather) {
            w = sg->Width;
            h = sg->Height;
        } else if (from.kind == 0) {
            GetGraphTextureSize(info->Source, &w, &h);
        } else {
            const ShadowMapRecord* map = LookUpShadowMapRecord(info->Source, 0);
            w = map->Width;
            h = map->Height;
        }
        const int member = alternate ? 0 : 1;
        gatherMember = alternate ? 1 : 0;
        const HandleValue work = GetFilterWorkGraph(to.floatFlag, to.bits, w, h, member);
        if (work < 0) return -1;
        *destination = work;
    }
    if (gather) {
        const HandleValue work =
            GetFilterWorkGraph(from.floatFlag, from.bits, sg->Width, sg->Height, gatherMember);
        if (work < 0) return -1;
        GraphHandleRecord* s = LookUpGraphRecord(info->Source, 0);
        if (s == nullptr) return -1;
        if (kind == DX_GRAPHICS_BACKEND_D3D9) Backend_FilterSetRenderTarget(work);
        for (int i = 0; i < s->DrawPieceCount; ++i) {
            const GraphDrawPiece& p = s->DrawPieces[i];
            if (kind == DX_GRAPHICS_BACKEND_D3D9) {
                VERTEX2D v[4];
                for (int c = 0; c < 4; ++c) {
                    v[c] = VERTEX2D{};
                    v[c].x = p.Corners[c][0] - 0.5f;
                    v[c].y = p.Corners[c][1] - 0.5f;
                    v[c].z = 0.0f;
                    v[c].rhw = 1.0f;
                    v[c].b = v[c].g = v[c].r = v[c].a = 0xFF;
                    v[c].u = p.Corners[c][2];
                    v[c].v = p.Corners[c][3];
                }
                Backend_FilterDrawPiece(v, s, i);
            } else {
                const RECT from{p.TexX, p.TexY, p.TexX + p.Width, p.TexY + p.Height};
                const RECT to{p.X, p.Y, p.X + p.Width, p.Y + p.Height};
                Backend_FilterStretchRect(s, i, from, work, to);
            }
        }
        *source = work;
    }
    return 0;
}

int Backend_Filter_Finish() {
    if (GraphicsBackendKind == DX_GRAPHICS_BACKEND_D3D9) Backend_FilterPopDrawState();
    return 0;
}

int Backend_Filter_End(FilterRunInfo* info, HandleValue lastDestination, int lastResult) {
    const int kind = GraphicsBackendKind;
    if (kind != DX_GRAPHICS_BACKEND_D3D9 && kind != DX_GRAPHICS_BACKEND_D3D11) return 0;
    if (lastResult < 0 || !ShadersUsable() || lastDestination == info->Destination) return 0;
    const int dx = info->DestX, dy = info->DestY, d = info->Divisor > 0 ? info->Divisor : 1;
    CopyGraphRectToGraph(lastDestination, 0, 0, dx, dy, dx + (info->X2 - info->X1) / d,
                         dy + (info->Y2 - info->Y1) / d, dx, dy, info->Destination);
    return 0;
}

// ---- Software image access ----

namespace {

// A BASEIMAGE over the software screen's pixels of the rectangle (no copy), or false.
bool ScreenView(const RECT& r, BASEIMAGE* view) {
    MEMIMG& screen = G().ScreenImage;
    if (!IsMemImgValid(&screen) || r.left < 0 || r.top < 0 || r.right > screen.Width ||
        r.bottom > screen.Height || r.right <= r.left || r.bottom <= r.top)
        return false;
    const int bpp = MemImgBytesPerPixel(screen.Shared);
    *view = BASEIMAGE{};
    view->Format = *screen.Shared->Format;
    view->Pitch = screen.Shared->Pitch;
    view->Pixels = screen.Pixels + static_cast<std::ptrdiff_t>(r.top) * screen.Shared->Pitch +
                   static_cast<std::ptrdiff_t>(r.left) * bpp;
    view->Width = r.right - r.left;
    view->Height = r.bottom - r.top;
    return true;
}

// Exposes one rectangle of a target through the draw-target lock and copies it into the image.
int CopyLockedRect(HandleValue target, const RECT& r, int piece, BASEIMAGE* image, int x, int y) {
    BASEIMAGE view{};
    if (LockDrawTargetRect(r.left, r.top, r.right, r.bottom, &view, target, 0, 0, 1, piece) != 0)
        return -1;
    const int result = CopyBaseImageRect(0, 0, view.Width, view.Height, x, y, &view, image);
    UnlockDrawTarget();
    return result;
}

}  // namespace

int ReadGraphRectToBaseImage(HandleValue graph, BASEIMAGE* image, const RECT* rect) {
    if (image == nullptr) return -1;
    GraphHandleRecord* r = nullptr;
    int width = 0, height = 0;
    if (graph == DX_TARGET_BACK_SCREEN) {
        GetScreenSize(&width, &height);
    } else {
        r = LookUpGraphRecord(graph, 0);
        if (r == nullptr || r->Image == nullptr) return -1;
        width = r->Width;
        height = r->Height;
    }
    const RECT area = rect != nullptr ? *rect : RECT{0, 0, width, height};
    if (area.left < 0 || area.top < 0 || area.right > width || area.bottom > height ||
        area.right <= area.left || area.bottom <= area.top)
        return -1;
    if (NewBaseImageArgb8(area.right - area.left, area.bottom - area.top, image) != 0) return -1;
    int result = 0;
    if (graph == DX_TARGET_BACK_SCREEN && !G().DevicePresent) {
        // The software screen is read straight from its image, whatever the draw target.
        BASEIMAGE view{};
        result = ScreenView(area, &view)
                     ? CopyBaseImageRect(0, 0, view.Width, view.Height, 0, 0, &view, image)
                     : -1;
    } else if (r != nullptr && r->Image->Format.DeviceImage) {
        // Piece by piece: each texture holds part of the image (in image coordinates).
        const GraphImage* gi = r->Image;
        for (int i = 0; i < gi->PieceCount && result == 0; ++i) {
            const GraphTexturePiece& p = gi->Pieces[i];
            const int left = std::max<int>(area.left + r->X, p.X);
            const int top = std::max<int>(area.top + r->Y, p.Y);
            const int right = std::min<int>(area.right + r->X, p.X + p.UsedWidth);
            const int bottom = std::min<int>(area.bottom + r->Y, p.Y + p.UsedHeight);
            if (right <= left || bottom <= top) continue;
            const RECT part{left - r->X, top - r->Y, right - r->X, bottom - r->Y};
            result =
                CopyLockedRect(graph, part, i, image, part.left - area.left, part.top - area.top);
        }
    } else {
        result = CopyLockedRect(graph, area, 0, image, 0, 0);
    }
    if (result != 0) {
        DisposeBaseImage(image);
        return -1;
    }
    return 0;
}

int LockFilterImages(FilterRunInfo* info, int freshDestination, int width, int height,
                     const RECT* rect) {
    const RECT area = rect != nullptr ? *rect : RECT{info->X1, info->Y1, info->X2, info->Y2};
    if (width >= 0 && height >= 0) {
        info->WorkWidth = width;
        info->WorkHeight = height;
    } else {
        info->WorkWidth = area.right - area.left;
        info->WorkHeight = area.bottom - area.top;
    }
    auto fail = [&] {
        ReleaseFilterImages(info);
        return -1;
    };
    // Only graphs and the screen have software access (a shadow map has none).
    if (info->Destination != DX_TARGET_BACK_SCREEN &&
        LookUpGraphRecord(info->Destination, 0) == nullptr)
        return fail();
    if (ReadGraphRectToBaseImage(info->Source, &info->SourceImage, &area) != 0) return fail();
    if (info->BlendFlag &&
        ReadGraphRectToBaseImage(info->BlendGraph, &info->BlendImage, &area) != 0)
        return fail();
    if (freshDestination) {
        if (NewBaseImageArgb8(info->WorkWidth, info->WorkHeight, &info->DestImage) != 0)
            return fail();
    } else {
        const RECT d{info->DestX, info->DestY, info->DestX + info->WorkWidth,
                     info->DestY + info->WorkHeight};
        if (ReadGraphRectToBaseImage(info->Destination, &info->DestImage, &d) != 0) return fail();
    }
    return 0;
}

int ReleaseFilterImages(FilterRunInfo* info) {
    if (info->SourceImage.Pixels) DisposeBaseImage(&info->SourceImage);
    if (info->BlendImage.Pixels) DisposeBaseImage(&info->BlendImage);
    if (info->DestImage.Pixels) DisposeBaseImage(&info->DestImage);
    info->SourceImage = BASEIMAGE{};
    info->BlendImage = BASEIMAGE{};
    info->DestImage = BASEIMAGE{};
    return 0;
}

namespace {

// An in-place down-scale clears its whole source rectangle before the reduced image lands.
void ClearSourceRect(const FilterRunInfo* info) {
    BASEIMAGE clear{};
    const int w = info->X2 - info->X1, h = info->Y2 - info->Y1;
    if (NewBaseImageArgb8(w, h, &clear) != 0) return;
    for (int y = 0; y < h; ++y)
        std::memset(
            static_cast<std::uint8_t*>(clear.Pixels) + static_cast<std::ptrdiff_t>(y) * clear.Pitch,
            0, static_cast<std::size_t>(w) * 4);
    const RECT all{0, 0, w, h};
    TransferBaseImageRectToGraph(&all, info->X1, info->Y1, info->Source, &clear, nullptr, 0, 0, 0,
                                 nullptr);
    DisposeBaseImage(&clear);
}

bool InPlaceClearDue(const FilterRunInfo* info) {
    return info->ClearAfterFirstPass && info->PassIndex == 0 && info->Source == info->Destination &&
           info->Source != DX_TARGET_BACK_SCREEN;
}

// Writes the destination image to the screen at the destination position.
void WriteImageToScreen(FilterRunInfo* info) {
    BASEIMAGE& image = info->DestImage;
    if (!G().DevicePresent) {
        // The software renderer does not draw a source copy: the pixels go straight into the
        // screen's image, clipped to it.
        MEMIMG& screen = G().ScreenImage;
        const int w = std::min(info->WorkWidth, screen.Width - info->DestX);
        const int h = std::min(info->WorkHeight, screen.Height - info->DestY);
        BASEIMAGE view{};
        if (w > 0 && h > 0 &&
            ScreenView(RECT{info->DestX, info->DestY, info->DestX + w, info->DestY + h}, &view))
            CopyBaseImageRect(0, 0, w, h, 0, 0, &image, &view);
        return;
    }
    int mode = 0, param = 0;
    GetBlendMode(&mode, &param);
    SelectBlendMode(DX_BLEND_SOURCE_COPY, 255);
    const HandleValue temporary = CreateGraphFromBaseImage(&image);
    if (temporary >= 0) {
        PutGraph(info->DestX, info->DestY, temporary, image.Format.AlphaWidth != 0 ? 1 : 0);
        DestroyGraph(temporary);
    }
    SelectBlendMode(mode, param);
}

}  // namespace

int UnlockFilterImages(FilterRunInfo* info) {
    if (info->SourceImage.Pixels) DisposeBaseImage(&info->SourceImage);
    if (info->BlendImage.Pixels) DisposeBaseImage(&info->BlendImage);
    info->SourceImage = BASEIMAGE{};
    info->BlendImage = BASEIMAGE{};
    if (info->DestImage.Pixels == nullptr) return 0;
    if (InPlaceClearDue(info)) ClearSourceRect(info);
    if (info->Destination == DX_TARGET_BACK_SCREEN) {
        WriteImageToScreen(info);
    } else {
        const RECT all{0, 0, info->WorkWidth, info->WorkHeight};
        TransferBaseImageRectToGraph(&all, info->DestX, info->DestY, info->Destination,
                                     &info->DestImage, nullptr, 0, 0, 0, nullptr);
    }
    DisposeBaseImage(&info->DestImage);
    info->DestImage = BASEIMAGE{};
    return 0;
}

// ---- The dispatcher ----

namespace {

// The size of a filter source (a graph or a shadow map) or destination (also the screen, -2),
// and the record when it is a graph; false for anything else.
bool TakeFilterTarget(HandleValue handle, bool screenAllowed, int* width, int* height,
                      GraphHandleRecord** graph) {
    *graph = nullptr;
    if (handle == DX_TARGET_BACK_SCREEN) {
        if (!screenAllowed) return false;
        GetScreenSize(width, height);
        return true;
    }
    if (GraphHandleRecord* r = LookUpGraphRecord(handle, 0); r != nullptr) {
        *width = r->Width;
        *height = r->Height;
        *graph = r;
        return true;
    }
    if (ShadowMapRecord* m = LookUpShadowMapRecord(handle, 0); m != nullptr) {
        *width = m->Width;
        *height = m->Height;
        return true;
    }
    return false;
}

int RoundDownScaleDivisor(int divisor) {
    return divisor <= 2 ? 2 : divisor <= 4 ? 4 : 8;
}

// Splits a colour value and an alpha into four floats 0..1.
void ColorToFloats(int color, int alpha, float out[4]) {
    int r = 0, g = 0, b = 0;
    DecomposeScreenColor(static_cast<std::uint32_t>(color), &r, &g, &b);
    out[0] = static_cast<float>(r) / 255.0f;
    out[1] = static_cast<float>(g) / 255.0f;
    out[2] = static_cast<float>(b) / 255.0f;
    out[3] = static_cast<float>(alpha) / 255.0f;
}

float ArgFloat(va_list& args) {
    return static_cast<float>(va_arg(args, double));
}

// Reads the mode's arguments; false when the request must be refused.
bool DecodeFilterArguments(int mode, va_list& args, HandleValue source, FilterParams* p) {
    switch (mode) {
        case 0:  // Mono
            p->MonoCb = static_cast<float>(va_arg(args, int)) * 100.0f / 255.0f;
            p->MonoCr = static_cast<float>(va_arg(args, int)) * 100.0f / 255.0f;
            return true;
        case 1:  // Gauss
            p->GaussPixelWidth = va_arg(args, int);
            p->GaussStrength = static_cast<float>(va_arg(args, int)) / 100.0f;
            return true;
        case 2:  // DownScale: read (and rounded) while fitting the result
            return true;
        case 3:
        case 21: {  // BrightClip
            p->BrightClipCompare = va_arg(args, int);
            p->BrightClipThreshold = static_cast<float>(va_arg(args, int));
            p->BrightClipFill = va_arg(args, int);
            const int color = va_arg(args, int);
            const int alpha = va_arg(args, int);
            if (p->BrightClipFill) ColorToFloats(color, alpha, p->BrightClipFillColor);
            return true;
        }
        case 4:
        case 22:  // BrightnessScale
            p->BrightnessScaleMin = va_arg(args, int);
            p->BrightnessScaleMax = va_arg(args, int);
            return true;
        case 5:
        case 23:  // Hsb
            p->HsbHueMode = va_arg(args, int);
            p->HsbHue = static_cast<float>(va_arg(args, int));
            p->HsbSaturation = static_cast<float>(va_arg(args, int)) * 100.0f / 255.0f;
            p->HsbBrightness = static_cast<float>(va_arg(args, int)) * 100.0f / 255.0f;
            return true;
        case 7:
        case 25:  // Level
            p->LevelMin = static_cast<float>(va_arg(args, int));
            p->LevelMax = static_cast<float>(va_arg(args, int));
            p->LevelGamma = static_cast<float>(va_arg(args, int)) / 100.0f;
            p->LevelOutMin = static_cast<float>(va_arg(args, int));
            p->LevelOutMax = static_cast<float>(va_arg(args, int));
            return true;
        case 8:
        case 26: {  // TwoColor
            p->TwoColorThreshold = static_cast<float>(va_arg(args, int));
            const int low = va_arg(args, int);
            const int lowAlpha = va_arg(args, int);
            const int high = va_arg(args, int);
            const int highAlpha = va_arg(args, int);
            ColorToFloats(low, lowAlpha, p->TwoColorLow);
            ColorToFloats(high, highAlpha, p->TwoColorHigh);
            return true;
        }
        case 9:
        case 27:  // GradientMap
            p->GradientMapGraph = va_arg(args, int);
            p->GradientMapReverse = va_arg(args, int);
            return true;
        case 10:
        case 28: {  // Replacement
            std::uint32_t c[8];
            for (std::uint32_t& v : c) v = static_cast<std::uint32_t>(va_arg(args, int)) & 0xFF;
            p->ReplacementTarget = c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2];
            p->ReplacementNew = c[7] << 24 | c[4] << 16 | c[5] << 8 | c[6];
            return true;
        }
        case 13:
        case 15:  // YuvToRgb without a UV graph
            p->YuvToRgbUvGraph = -1;
            return true;
        case 14:
        case 16: {  // YuvToRgb with a UV graph of the source's size, half or quarter
            p->YuvToRgbUvGraph = va_arg(args, int);
            int sw = 0, sh = 0, uw = 0, uh = 0;
            if (GetGraphSize(source, &sw, &sh) != 0 ||
                GetGraphSize(p->YuvToRgbUvGraph, &uw, &uh) != 0)
                return false;
            const bool widthFits = uw == sw || uw == sw / 2 || uw == sw / 4;
            const bool heightFits = uh == sh || uh == sh / 2 || uh == sh / 4;
            return widthFits && heightFits;
        }
        case 17:
        case 18:  // Bicubic, Lanczos3
            p->ResampleWidth = va_arg(args, int);
            p->ResampleHeight = va_arg(args, int);
            return true;
        case 19:  // Ssao
            p->SsaoGraph = va_arg(args, int);
            for (float& f : p->SsaoFloats) f = ArgFloat(args);
            p->SsaoInt = va_arg(args, int);
            p->SsaoFloat = ArgFloat(args);
            p->SsaoGraph2 = p->SsaoGraph;
            return true;
        case 20:  // FloatColorScale
            for (float& f : p->FloatColorScale) f = ArgFloat(args);
            return true;
        default:  // 6, 11, 12, 24: no arguments
            return true;
    }
}

// Runs one pass of the mode's body.
int RunFilterBody(FilterRunInfo* info, const FilterParams& p) {
    if (info->BlendFlag) {
        const int type = info->Mode;
        if (type == 1 || type == 18)
            return BlendGraphRgbaMix(info, p.BlendInts[0], p.BlendInts[1], p.BlendInts[2],
                                     p.BlendInts[3], type == 18 ? 1 : 0);
        return BlendGraphBasic(info, type >= 17 ? 1 : 0);
    }
    const int mode = info->Mode;
    const int pm = mode >= 21 ? 1 : 0;
    switch (mode) {
        case 0:
            return FilterBodyMono(info, p.MonoCb, p.MonoCr);
        case 1:
            return FilterBodyGauss(info, p.GaussPixelWidth, p.GaussStrength);
        case 2:
            return FilterBodyDownScale(info, info->Divisor);
        case 3:
        case 21:
            return FilterBodyBrightClip(info, p.BrightClipCompare, p.BrightClipThreshold,
                                        p.BrightClipFill, p.BrightClipFillColor, pm);
        case 4:
        case 22:
            return FilterBodyBrightnessScale(info, p.BrightnessScaleMin, p.BrightnessScaleMax, pm);
        case 5:
        case 23:
            return FilterBodyHsb(info, p.HsbHueMode, p.HsbHue, p.HsbSaturation, p.HsbBrightness,
                                 pm);
        case 6:
        case 24:
            return FilterBodyInvert(info, pm);
        case 7:
        case 25:
            return FilterBodyLevel(info, p.LevelMin, p.LevelMax, p.LevelGamma, p.LevelOutMin,
                                   p.LevelOutMax, pm);
        case 8:
        case 26:
            return FilterBodyTwoColor(info, p.TwoColorThreshold, p.TwoColorLow, p.TwoColorHigh, pm);
        case 9:
        case 27:
            return FilterBodyGradientMap(info, p.GradientMapGraph, p.GradientMapReverse, pm);
        case 10:
        case 28:
            return FilterBodyReplacement(info, p.ReplacementTarget, p.ReplacementNew, pm);
        case 11:
            return FilterBodyPremultipliedAlpha(info);
        case 12:
            return FilterBodyInterpolatedAlpha(info);
        case 13:
        case 14:
        case 15:
        case 16:
            return FilterBodyYuvToRgb(info, p.YuvToRgbUvGraph);
        // The resamplers, the ambient occlusion and the float colour scale have only a shader form;
        // without shaders they do nothing.
        case 17:
            if (ShadersUsable()) Backend_Filter_Bicubic(info, p.ResampleWidth, p.ResampleHeight);
            return 0;
        case 18:
            if (ShadersUsable()) Backend_Filter_Lanczos3(info, p.ResampleWidth, p.ResampleHeight);
            return 0;
        case 19:
            if (ShadersUsable())
                Backend_Filter_Ssao(info, p.SsaoGraph, p.SsaoFloats[0], p.SsaoFloats[1],
                                    p.SsaoFloats[2], p.SsaoFloats[3], p.SsaoInt, p.SsaoFloat,
                                    p.SsaoGraph2);
            return 0;
        case 20:
            if (ShadersUsable())
                Backend_Filter_FloatColorScale(info, p.FloatColorScale[0], p.FloatColorScale[1],
                                               p.FloatColorScale[2], p.FloatColorScale[3],
                                               p.FloatColorScale[4], p.FloatColorScale[5],
                                               p.FloatColorScale[6], p.FloatColorScale[7]);
            return 0;
        default:
            return -1;
    }
}

bool ValidPassDestination(HandleValue handle) {
    if (handle == DX_TARGET_BACK_SCREEN) return true;
    return LookUpGraphRecord(handle, 0) != nullptr || LookUpShadowMapRecord(handle, 0) != nullptr;
}

}  // namespace

int RunImageFilterBase(int blendFlag, HandleValue source, HandleValue blendGraph,
                       HandleValue destination, int blendParam, int mode, int x1, int y1, int x2,
                       int y2, int blendX, int blendY, const int blendInts[4], int destX, int destY,
                       va_list args) {
    va_list list;
    va_copy(list, args);
    struct EndList {
        va_list* l;
        ~EndList() { va_end(*l); }
    } endList{&list};

    int sourceWidth = 0, sourceHeight = 0, destWidth = 0, destHeight = 0;
    GraphHandleRecord* sourceGraph = nullptr;
    GraphHandleRecord* destGraph = nullptr;
    if (!TakeFilterTarget(source, false, &sourceWidth, &sourceHeight, &sourceGraph)) return -1;
    AdvanceGraphMovie(sourceGraph);
    if (!TakeFilterTarget(destination, true, &destWidth, &destHeight, &destGraph)) return -1;
    GraphHandleRecord* multisampled = nullptr;
    const HandleValue drawTarget = G().DrawSettings.DrawTarget;
    if (drawTarget != DX_TARGET_BACK_SCREEN && IsMultisampledDrawableGraph(drawTarget))
        multisampled = LookUpGraphRecord(drawTarget, 0);
    if (x2 <= x1 || y2 <= y1) return -1;
    GraphHandleRecord* blendRecord = nullptr;
    if (blendFlag) {
        blendRecord = LookUpGraphRecord(blendGraph, 0);
        if (blendRecord == nullptr) return -1;
        if (mode < 0 || mode >= kGraphBlendTypeCount) return -1;
        AdvanceGraphMovie(blendRecord);
    } else if (mode < 0 || mode >= kImageFilterModeCount) {
        return -1;
    }
    const float blendRatio = static_cast<float>(std::clamp(blendParam, 0, 255)) / 255.0f;

    // Negative positions: the part left of (or above) the origin is dropped on both sides.
    if (x1 < 0) {
        destX -= x1;
        blendX -= x1;
        x1 = 0;
    }
    if (y1 < 0) {
        destY -= y1;
        blendY -= y1;
        y1 = 0;
    }
    if (destX < 0) {
        x1 -= destX;
        blendX -= destX;
        destX = 0;
    }
    if (destY < 0) {
        y1 -= destY;
        blendY -= destY;
        destY = 0;
    }
    if (x2 <= x1 || y2 <= y1) return 0;
    x2 = std::min(x2, sourceWidth);
    y2 = std::min(y2, sourceHeight);
    if (x1 >= sourceWidth || y1 >= sourceHeight || x2 <= 0 || y2 <= 0 || destX >= destWidth ||
        destY >= destHeight)
        return 0;
    int w = x2 - x1, h = y2 - y1;
    int divisor = 1;
    const bool downScale = !blendFlag && mode == static_cast<int>(ImageFilterMode::DownScale);
    if (downScale) {
        divisor = RoundDownScaleDivisor(va_arg(list, int));
        if (w / divisor + destX > destWidth) {
            w = (destWidth - destX) * divisor;
            x2 = x1 + w;
        }
        if (h / divisor + destY > destHeight) {
            h = (destHeight - destY) * divisor;
            y2 = y1 + h;
        }
    } else {
        if (w + destX > destWidth) {
            w = destWidth - destX;
            x2 = x1 + w;
        }
        if (h + destY > destHeight) {
            h = destHeight - destY;
            y2 = y1 + h;
        }
    }
    if (w <= 0 || h <= 0) return 0;

    FilterParams params{};
    if (blendFlag) {
        // The RGBA select mix takes its four channel selectors from the argument list.
        if (mode == 1 || mode == 18)
            for (int& selector : params.BlendInts) selector = va_arg(list, int);
    } else if (!DecodeFilterArguments(mode, list, source, &params)) {
        return -1;
    }

    FilterRunInfo info{};
    info.SettingsFlag = 1;
    info.OutputBlendMode = 0;
    info.BlendFlag = blendFlag;
    info.Mode = mode;
    info.Source = source;
    info.BlendGraph = blendFlag ? blendGraph : -1;
    info.Destination = destination;
    info.ClearAfterFirstPass = downScale ? 1 : 0;
    info.BlendRatio = blendRatio;
    info.PassIndex = 0;
    info.X1 = x1;
    info.Y1 = y1;
    info.X2 = x2;
    info.Y2 = y2;
    info.Divisor = divisor;
    info.BlendX = blendX;
    info.BlendY = blendY;
    for (int i = 0; i < 4; ++i) info.BlendInts[i] = blendInts != nullptr ? blendInts[i] : 0;
    info.DestX = destX;
    info.DestY = destY;
    info.SourceGraph = sourceGraph;
    info.DestGraph = destGraph;
    info.BlendGraphRecord = blendRecord;
    info.MultisampledTarget = multisampled;
    if (Backend_Filter_Start(&info, &params) != 0 || info.PassCount < 0) {
        Backend_Filter_Finish();
        return -1;
    }

    const bool shaderPath = ShadersUsable();
    HandleValue previous = -1;
    HandleValue lastDestination = -1;
    int lastResult = -1;
    bool complete = true;
    for (int pass = 0; pass < info.PassCount; ++pass) {
        info.PassIndex = pass;
        info.Source = pass == 0 ? source : previous;
        info.Destination = destination;
        HandleValue passSource = -1, passDestination = -1;
        if (Backend_Filter_PassTargets(&info, &passSource, &passDestination) != 0 ||
            !ValidPassDestination(passDestination)) {
            complete = false;
            break;
        }
        info.Source = passSource;
        info.Destination = passDestination;
        FilterLastPassResult = 0;
        const int bodyResult = RunFilterBody(&info, params);
        // On the shader path the body hands over and returns 0; the plan needs the pass's own.
        lastResult = shaderPath ? (bodyResult < 0 ? bodyResult : FilterLastPassResult) : bodyResult;
        lastDestination = passDestination;
        previous = passDestination;
        // The shader path leaves the reduced image in a work graph until the end step, so the
        // source rectangle can be cleared now (the software bodies clear before writing back).
        if (shaderPath && pass == 0 && lastResult == 0 && info.ClearAfterFirstPass &&
            source == destination && passDestination != destination) {
            info.Source = source;
            info.Destination = destination;
            ClearSourceRect(&info);
        }
    }
    Backend_Filter_Finish();
    info.Source = source;
    info.Destination = destination;
    Backend_Filter_End(&info, lastDestination, lastResult);
    if (!complete) return -1;
    // A software body that could not do its work fails the request.
    if (!shaderPath && lastResult < 0) return -1;
    return 0;
}

// ---- Entry points ----

namespace {

const int kNoBlendInts[4] = {0, 0, 0, 0};

// The whole size of a graph or shadow map.
int FilterSourceSize(HandleValue source, int* width, int* height) {
    GraphHandleRecord* graph = nullptr;
    return TakeFilterTarget(source, false, width, height, &graph) ? 0 : -1;
}

}  // namespace

int RunImageFilter(HandleValue graph, int mode, ...) {
    int w = 0, h = 0;
    if (FilterSourceSize(graph, &w, &h) != 0) return -1;
    va_list args;
    va_start(args, mode);
    const int result = RunImageFilterBase(0, graph, -1, graph, 0, mode, 0, 0, w, h, 0, 0,
                                          kNoBlendInts, 0, 0, args);
    va_end(args);
    return result;
}

int RunImageFilterToGraph(HandleValue source, HandleValue destination, int mode, ...) {
    int w = 0, h = 0;
    if (FilterSourceSize(source, &w, &h) != 0) return -1;
    va_list args;
    va_start(args, mode);
    const int result = RunImageFilterBase(0, source, -1, destination, 0, mode, 0, 0, w, h, 0, 0,
                                          kNoBlendInts, 0, 0, args);
    va_end(args);
    return result;
}

int RunImageFilterOnRect(HandleValue source, HandleValue destination, int x1, int y1, int x2,
                         int y2, int destX, int destY, int mode, ...) {
    va_list args;
    va_start(args, mode);
    const int result = RunImageFilterBase(0, source, -1, destination, 0, mode, x1, y1, x2, y2, 0, 0,
                                          kNoBlendInts, destX, destY, args);
    va_end(args);
    return result;
}

}  // namespace ZiDaz
