// Graph handles and graph images: the creation settings, the storage format of an image and its
// cutting into texture pieces, blank, drawable and derived graphs, the draw pieces a graph shows,
// the lookup every graph operation goes through, deletion and the size queries.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "Main/DxASyncLoad.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

GraphCreationSettingsData GraphCreationSettings;

namespace {

constexpr const char* kSourceFile = "DxGraphics";

// Image and restore-source reference counts are changed by load threads and the main thread.
std::mutex gShareLock;

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}

int ScreenBits() {
    int bits = G().ScreenModeSettings.ColorBitDepth;
    return bits ? bits : 16;
}

int RecordSizeFor(int pieces) {
    int extra = std::max(pieces - kGraphRecordDrawPieces, 0);
    return static_cast<int>(sizeof(GraphHandleRecord) + sizeof(GraphDrawPiece) * extra);
}

bool IsGraphValue(HandleValue value) {
    return value >= 0 && ((value & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_GRAPH;
}

// Drops one reference of an image; frees it with its storage at zero.
void ReleaseGraphImage(GraphImage* image) {
    if (image == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(gShareLock);
        if (--image->RefCount > 0) return;
    }
    if (image->Movie >= 0 && image->Movie != 0) DeleteHandle(image->Movie);
    if (image->Format.SoftwareImage) {
        ReleaseMemImg(&image->Image);
    } else {
        Backend_ReleaseImageTextures(image);
    }
    FreeTrackedMemory(image);
}

}  // namespace

// ---- Creation settings ----

int InitGraphCreateParamsFromSettings(GraphCreateParams* p) {
    std::memset(p, 0, sizeof(*p));
    const GraphCreationSettingsData& s = GraphCreationSettings;
    p->TransparentColor = s.TransparentColor;
    p->KeyAlpha = G().GraphCreateSetting;
    p->BlendImage = s.BlendImage;
    p->Managed = 1;
    p->DrawableDepthBuffer = 1;
    p->NoAlphaFile = G().NoAlphaCompanionImages;
    p->NoPaletteGraphs = G().NoPaletteGraphs;
    p->SurvivesDeleteAll = s.SurvivesDeleteAll;
    return 0;
}

int InitGraphCreateParams(GraphCreateParams* p, int colorBits, int alpha, int keyAlpha) {
    std::memset(p, 0, sizeof(*p));
    p->TransparentColor = 0xFF00FF;
    p->ColorBits = colorBits;
    p->Alpha = alpha;
    p->KeyAlpha = keyAlpha;
    p->Managed = 1;
    p->MipLevels = 1;
    p->Reserved2 = 1;
    p->NoAlphaFile = 1;
    return 0;
}

int InitDrawableGraphCreateParams(GraphCreateParams* p, int colorBits, int alpha) {
    std::memset(p, 0, sizeof(*p));
    p->TransparentColor = 0xFF00FF;
    p->ColorBits = colorBits;
    p->Alpha = alpha;
    p->Drawable = 1;
    p->DrawableAlpha = alpha;
    p->MipLevels = 1;
    p->Reserved2 = 1;
    p->NoAlphaFile = 1;
    return 0;
}

int SetDeleteAllIncludesNewGraphs(int flag) {
    GraphCreationSettings.SurvivesDeleteAll = flag == 0 ? 1 : 0;
    return 0;
}

int GetDeleteAllIncludesNewGraphs() {
    return GraphCreationSettings.SurvivesDeleteAll ? 0 : 1;
}

int SetTransparentColor(int red, int green, int blue) {
    GraphCreationSettings.TransparentColor =
        static_cast<std::uint32_t>((red & 0xFF) << 16 | (green & 0xFF) << 8 | (blue & 0xFF));
    return 0;
}

int SetUseTransparentColor(int flag) {
    GraphCreationSettings.NoTransparentColor = flag == 0 ? 1 : 0;
    return 0;
}

// ---- Texture sizes and formats ----

int ListTextureSizes(int n, int maxSize, int blockFlag, int* out, int outCount) {
    const GraphicsSystemStateData& g = G();
    int M = maxSize > 0 ? maxSize : g.MaxTextureSize;
    if (M <= 0) M = 4096;
    if (outCount < 1) return -1;
    bool anySize = !g.PowerOfTwoTexturesOnly || g.NonPowerOfTwoConditional;
    if (anySize && n <= M) {
        out[0] = blockFlag ? (n + 3) / 4 * 4 : n;
        return 1;
    }
    const int d = blockFlag ? 4 : 1;
    if (n <= d) {
        out[0] = d;
        return 1;
    }
    int e = M;
    while (e > d && e > n) e /= 2;
    if (2 * static_cast<std::int64_t>(e) <= M) {
        out[0] = e < n ? 2 * e : e;
        return 1;
    }
    int count = 0;
    for (;;) {
        if (count >= outCount) return -1;
        out[count++] = e;
        n -= e;
        if (n <= 0) break;
        if (n > e / 4 * 3 && e < M) break;
        while (e > n && e > d) e /= 2;
    }
    if (n > 0) out[count - 1] *= 2;
    if (count >= 2 && out[count - 1] == out[count - 2] &&
        2 * static_cast<std::int64_t>(out[count - 1]) <= M) {
        out[count - 2] *= 2;
        --count;
    }
    return count;
}

int SetUpGraphFormatDesc(GraphFormatDesc* f, const GraphCreateParams* p, int width, int height,
                         int alpha, int palette, int paletteBits, int blockKind, int mipArgument) {
    std::memset(f, 0, sizeof(*f));
    const bool device = G().DevicePresent != 0;
    f->DeviceImage = device ? 1 : 0;
    f->Managed = static_cast<std::uint8_t>(p->Managed);
    f->CubeMap = static_cast<std::uint8_t>(p->CubeMap);
    f->Reserved = static_cast<std::uint8_t>(p->Reserved1);
    f->DeviceFormatOverride = static_cast<std::uint8_t>(p->DeviceFormatOverride);
    f->BlockKind = static_cast<std::uint8_t>(blockKind);
    int mips;
    if (mipArgument != -1) {
        mips = mipArgument;
    } else if (p->MipLevels != -1) {
        mips = p->MipLevels == 0 ? 1 : p->MipLevels;
    } else {
        mips = 1;
        int w = std::max(width, 1), h = std::max(height, 1);
        while (w > 1 || h > 1) {
            w = std::max(w / 2, 1);
            h = std::max(h / 2, 1);
            ++mips;
        }
    }
    f->MipLevels = static_cast<std::uint8_t>(std::clamp(mips, 0, 255));
    if (p->Drawable) {
        f->Drawable = 1;
        f->Alpha = static_cast<std::uint8_t>(p->DrawableAlpha != 0);
        f->MipLevels = 1;
        f->KeyAlpha = 0;
        f->BlendImage = 0;
        f->Managed = 0;
    } else {
        f->Drawable = 0;
        f->Alpha = static_cast<std::uint8_t>(alpha != 0);
        f->KeyAlpha = static_cast<std::uint8_t>(p->KeyAlpha != 0);
        f->BlendImage = static_cast<std::uint8_t>(p->BlendImage != 0);
    }
    if (device) {
        int bits = p->ColorBits ? p->ColorBits : (alpha == 1 ? 32 : ScreenBits());
        f->ColorBits = static_cast<std::uint8_t>(std::min(bits, 255));
        f->ChannelCount = static_cast<std::uint8_t>(p->ChannelCount);
        if (p->ChannelCount > 0) {
            f->Float = static_cast<std::uint8_t>(p->Float != 0);
            f->BitsPerChannel = static_cast<std::uint8_t>(p->BitsPerChannel);
        }
        f->SoftwareImage = 0;
        if (f->Alpha) f->KeyAlpha = 0;
        if (f->BlendImage) {
            f->ColorBits = 32;
            f->KeyAlpha = 0;
            f->Alpha = 1;
            f->Drawable = 0;
        } else if (f->Drawable) {
            f->MipLevels =
                static_cast<std::uint8_t>(p->DrawableMipLevels > 0 ? p->DrawableMipLevels : 1);
            f->ChannelCount = static_cast<std::uint8_t>(p->DrawableChannelCount);
            f->BitsPerChannel = static_cast<std::uint8_t>(p->BitsPerChannel);
            f->Float = static_cast<std::uint8_t>(p->DrawableFloat != 0);
            f->MultisampleCount = static_cast<std::uint8_t>(p->MultisampleCount);
            f->MultisampleQuality = static_cast<std::uint8_t>(p->MultisampleQuality);
        } else if (palette) {
            f->ColorBits = paletteBits == 4 ? 4 : 8;
        }
    } else {
        f->BlockKind = 0;
        f->ColorBits = static_cast<std::uint8_t>(p->ColorBits ? p->ColorBits : ScreenBits());
        f->Palette = static_cast<std::uint8_t>(palette != 0);
        f->ChannelCount = 0;
        f->BitsPerChannel = 0;
        f->Float = 0;
        f->KeyAlpha = 0;
        f->SoftwareImage = 1;
        f->Managed = 0;
        f->CubeMap = 0;
        f->MipLevels = 0;
        f->MultisampleCount = 0;
        f->MultisampleQuality = 0;
        f->Drawable = f->BlendImage ? 0 : 1;
    }
    return 0;
}

int ComputeTextureFormatIndex(const GraphFormatDesc* f) {
    const int bits = f->ColorBits;
    const int c = f->BitsPerChannel;
    if (f->BlockKind >= 1 && f->BlockKind <= 11) return 11 + f->BlockKind;
    if (f->ChannelCount == 1) {
        int cc = c ? c : bits;
        int index = f->Float ? (cc < 32 ? 29 : 30) : (cc < 16 ? 27 : 28);
        return f->Drawable ? index + 14 : index;
    }
    if (f->ChannelCount == 2) {
        int index;
        if (c) {
            index = f->Float ? (c < 32 ? 33 : 34) : (c < 16 ? 31 : 32);
        } else {
            index = f->Float ? (bits < 64 ? 33 : 34) : (bits < 32 ? 31 : 32);
        }
        return f->Drawable ? index + 14 : index;
    }
    if (bits == 4) return f->Alpha ? 2 : (f->KeyAlpha ? 4 : 0);
    if (bits == 8) return f->Alpha ? 3 : (f->KeyAlpha ? 5 : 1);
    if (f->Drawable) {
        if (f->Float) return c ? (c < 32 ? 39 : 40) : (bits >= 128 ? 40 : 39);
        if (c > 8) return 38;
        if (f->Alpha || f->KeyAlpha) return 37;
        return bits == 16 ? 35 : 36;
    }
    if (f->Float) return c ? (c < 32 ? 25 : 26) : (bits >= 128 ? 26 : 25);
    if (c > 8) return 24;
    if (bits == 16) return f->Alpha ? 8 : (f->KeyAlpha ? 10 : 6);
    return f->Alpha ? 9 : (f->KeyAlpha ? 11 : 7);
}

int ComputeMipLevelSize(int width, int height, int level, int* outWidth, int* outHeight) {
    for (int i = 0; i < level; ++i) {
        width /= 2;
        height /= 2;
    }
    if (outWidth) *outWidth = std::max(width, 1);
    if (outHeight) *outHeight = std::max(height, 1);
    return 0;
}

// ---- Lookup ----

GraphHandleRecord* LookUpGraphRecord(HandleValue graph, int noWait) {
    if (!IsGraphValue(graph)) return nullptr;
    HandleHeader* header = LookupHandleRecord(graph);
    if (header == nullptr) return nullptr;
    if (noWait || header->asyncPending == 0) return reinterpret_cast<GraphHandleRecord*>(header);
    if (!IsMainThread()) {
        if (WaitHandleASyncLoad(graph) != 0) return nullptr;
        return reinterpret_cast<GraphHandleRecord*>(LookupHandleRecord(graph));
    }
    // Finish the job that fills it; a job that is gone (cancelled with another cell of its grid)
    // can no longer fill it, and the graph goes with it.
    for (int round = 0; round < 4; ++round) {
        header = LookupHandleRecord(graph);
        if (header == nullptr) return nullptr;
        if (header->asyncPending == 0) return reinterpret_cast<GraphHandleRecord*>(header);
        int job = header->jobIndex;
        if (job < 0) {
            if (WaitHandleASyncLoad(graph) != 0) return nullptr;
            continue;
        }
        if (FinishASyncLoadJobNow(job) != 0) {
            header = LookupHandleRecord(graph);
            if (header == nullptr) return nullptr;
            if (header->asyncPending != 0 && header->jobIndex == job) {
                header->asyncPending = 0;
                header->jobIndex = -1;
                DeleteHandle(graph);
                return nullptr;
            }
        }
    }
    header = LookupHandleRecord(graph);
    return header && header->asyncPending == 0 ? reinterpret_cast<GraphHandleRecord*>(header)
                                               : nullptr;
}

int IsGraphHandleValid(HandleValue value) {
    return LookUpGraphRecord(value, 0) != nullptr ? 1 : 0;
}

int GetGraphHandleCount() {
    const HandleTypeRecord& t = HandleTypeTable[DX_HANDLETYPE_GRAPH];
    return t.registered ? t.count : 0;
}

int QueueGraphJob(ASyncLoadJob* job, const HandleValue* handles, int count) {
    // The job ends each graph's load under the type's lock, so while this lock is held the job
    // cannot have finished (or been freed) after it was queued.
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_GRAPH];
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    if (QueueASyncLoadJob(job) != 0) {
        ReleaseTracedLock(&type.lock);
        return -1;
    }
    const int slot = job->slotIndex;
    for (int i = 0; i < count; ++i) {
        HandleHeader* h = LookupHandleRecord(handles[i]);
        if (h != nullptr && h->asyncPending != 0) h->jobIndex = slot;
    }
    ReleaseTracedLock(&type.lock);
    return 0;
}

MEMIMG* GetGraphMemImg(HandleValue graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr || !r->Image->Format.SoftwareImage) return nullptr;
    return &r->View;
}

int SetGraphDeleteFlag(HandleValue graph, int* flag) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr) return -1;
    r->DeleteFlag = flag;
    return 0;
}

// ---- Callbacks ----

void InitGraphRecord(HandleHeader*) {}

int DestroyGraphRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<GraphHandleRecord*>(header);
    GraphicsSystemStateData& g = G();
    const HandleValue handle = header->handle;
    if (g.Initialised && g.DrawSettings.DrawTarget == handle) {
        if (g.Terminating) {
            // The screen images may already be gone: nothing is presented any more.
            g.DrawSettings.DrawTarget = DX_TARGET_FRONT_SCREEN;
            g.SoftwareDrawDestination = &g.ScreenImage;
        } else {
            SetDrawTarget(DX_TARGET_FRONT_SCREEN);
        }
    }
    if (g.Initialised) ReleaseRenderTargetSlotsOf(handle);
    if (r->Image != nullptr && r->Image->Format.SoftwareImage) ReleaseMemImg(&r->View);
    ReleaseGraphImage(r->Image);
    r->Image = nullptr;
    ReleaseGraphRestoreSource(r->Restore);
    r->Restore = nullptr;
    if (r->DeleteFlag) *r->DeleteFlag = 1;
    return 0;
}

void LogGraphHandle(HandleHeader* header) {
    auto* r = reinterpret_cast<GraphHandleRecord*>(header);
    const char16_t* name = r->Restore && r->Restore->FileName ? r->Restore->FileName : u"None";
    WriteLogFormatUtf16(u"Handle:0x%08x Size:%dx%d UsePos:%d,%d File:%s", header->handle, r->Width,
                        r->Height, r->X, r->Y, name);
}

int IsGraphKeptByDeleteAll(HandleHeader* header) {
    auto* r = reinterpret_cast<GraphHandleRecord*>(header);
    if (r->KeptAlways) return 1;
    return r->SurvivesDeleteAll && !G().Terminating ? 1 : 0;
}

// ---- Image set-up ----

void ClearGraphSoftwareImage(GraphImage* image) {
    if (!image->Format.SoftwareImage || image->Format.BlendImage) return;
    const MemImgShared* shared = image->Image.Shared;
    std::memset(shared->Pixels, 0,
                static_cast<std::size_t>(shared->Pitch) * static_cast<std::size_t>(shared->Height));
}

int SetUpGraphImage(const GraphCreateParams* params, HandleValue graph, int width, int height,
                    int alpha, int palette, int paletteBits, int blockKind, int mipLevels,
                    void* loadContext) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr || width <= 0 || height <= 0) return -1;
    GraphFormatDesc f;
    SetUpGraphFormatDesc(&f, params, width, height, alpha, palette, paletteBits, blockKind,
                         mipLevels);
    GraphicsSystemStateData& g = G();
    // The pieces of a device image.
    int columns[kMaxGraphTexturePieces + 1], rows[kMaxGraphTexturePieces + 1];
    int columnCount = 0, rowCount = 0;
    struct Piece {
        int x, y, w, h;
    };
    static thread_local Piece pieces[kMaxGraphTexturePieces * 2];
    int pieceCount = 0;
    auto tooMany = [] {
        WriteLogTextUtf16(u"グラフィックのオリジナル画像データ保存用メモリの確保に失敗しました\n");
        return -1;
    };
    if (f.DeviceImage) {
        const bool block = f.BlockKind >= 1 && f.BlockKind <= 7;
        columnCount = ListTextureSizes(width, params->MaxTextureSize, block, columns,
                                       kMaxGraphTexturePieces + 1);
        rowCount = ListTextureSizes(height, params->MaxTextureSize, block, rows,
                                    kMaxGraphTexturePieces + 1);
        if (columnCount < 0 || rowCount < 0 ||
            static_cast<std::int64_t>(columnCount) * rowCount > kMaxGraphTexturePieces) {
            return tooMany();
        }
        if (f.Drawable && columnCount * rowCount > 1) return -1;
        int y = 0;
        for (int j = 0; j < rowCount; ++j) {
            int x = 0;
            for (int i = 0; i < columnCount; ++i) {
                pieces[pieceCount++] = Piece{x, y, columns[i], rows[j]};
                x += columns[i];
            }
            y += rows[j];
        }
        if (g.SquareTexturesOnly) {
            int listed = pieceCount;
            for (int k = 0; k < listed; ++k) {
                Piece& p = pieces[k];
                if (p.w == p.h) continue;
                int edge = std::min(p.w, p.h);
                int parts = std::max(p.w, p.h) / edge;
                for (int q = 1; q < parts; ++q) {
                    if (pieceCount >= kMaxGraphTexturePieces) return tooMany();
                    pieces[pieceCount++] = p.w > p.h ? Piece{p.x + q * edge, p.y, edge, edge}
                                                     : Piece{p.x, p.y + q * edge, edge, edge};
                }
                p.w = p.h = edge;
            }
        }
    }
    const std::size_t bytes =
        sizeof(GraphImage) + static_cast<std::size_t>(pieceCount) *
                                 (sizeof(GraphTexturePiece) + kGraphBackendTextureRecordBytes);
    auto* image =
        static_cast<GraphImage*>(AllocateTrackedMemoryZeroed(bytes, kSourceFile, __LINE__));
    if (image == nullptr) return tooMany();
    // A graph that had an image lets go of it first (a set-up is never a refill).
    if (r->Image != nullptr) {
        if (r->Image->Format.SoftwareImage) ReleaseMemImg(&r->View);
        ReleaseGraphImage(r->Image);
    }
    r->Image = image;
    image->Movie = -1;
    image->Format = f;
    image->TransparentColor = params->TransparentColor;
    image->Width = width;
    image->Height = height;
    image->RefCount = 1;
    r->X = r->Y = 0;
    r->XF = r->YF = 0.0f;
    r->Width = width;
    r->Height = height;
    r->WidthF = static_cast<float>(width);
    r->HeightF = static_cast<float>(height);
    r->KeptAlways = params->KeptAlways;
    r->SurvivesDeleteAll = params->SurvivesDeleteAll;
    if (f.DeviceImage) {
        image->FormatIndex = ComputeTextureFormatIndex(&f);
        image->MipLevels = f.MipLevels;
        image->PieceCount = pieceCount;
        image->Pieces = reinterpret_cast<GraphTexturePiece*>(image + 1);
        auto* records = reinterpret_cast<std::uint8_t*>(image->Pieces + pieceCount);
        for (int k = 0; k < pieceCount; ++k) {
            GraphTexturePiece& t = image->Pieces[k];
            t.Texture = records + static_cast<std::size_t>(k) * kGraphBackendTextureRecordBytes;
            t.X = pieces[k].x;
            t.Y = pieces[k].y;
            t.TextureWidth = pieces[k].w;
            t.TextureHeight = pieces[k].h;
            t.UsedWidth = std::min(t.TextureWidth, width - t.X);
            t.UsedHeight = std::min(t.TextureHeight, height - t.Y);
        }
        if (f.Drawable && params->DrawableDepthBuffer) {
            image->DepthBuffer = 1;
            image->DepthKind = params->DepthBits == 24 ? 1 : (params->DepthBits == 32 ? 2 : 0);
        }
        if (Backend_CreateImageTextures(image, loadContext) == -1) return -1;
    } else {
        int type = f.ColorBits == 32 ? 1 : 0;
        if (f.BlendImage) {
            if (SetupMemImg(&image->Image, width, height, -1, 0, 2, 0, 0, 0, nullptr) != 0) {
                WriteLogTextUtf16(u"ブレンド画像用メモリイメージの作成に失敗しました\n");
                return -1;
            }
        } else {
            std::uint32_t trans = 0xFFFF;
            if (!f.Palette) {
                const COLORFORMAT* format = SelectMemImgColorFormat(type, f.Alpha, 0);
                std::uint32_t c = GraphCreationSettings.TransparentColor;
                trans = ComposeFormatColor(format, c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF, 0);
            }
            // No run table: no drawing reads one, and encoding it at every whole-image fill
            // would cost as much as the fill's own conversion.
            if (SetupMemImg(&image->Image, width, height, -1, trans, type, f.Palette, f.Alpha, 0,
                            nullptr) != 0) {
                WriteLogTextUtf16(u"メモリイメージの作成に失敗しました\n");
                return -1;
            }
            // New storage shows black rather than what the allocator left.
            if (!params->FilledAtOnce) ClearGraphSoftwareImage(image);
        }
        image->FormatIndex = (type == 1 ? 53 : 51) + (f.Alpha ? 1 : 0);
    }
    return BuildGraphDrawPieces(graph);
}

int BuildGraphDrawPieces(HandleValue graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 1);
    if (r == nullptr || r->Image == nullptr) return -1;
    GraphImage* image = r->Image;
    if (image->Format.SoftwareImage) {
        if (IsMemImgValid(&r->View)) ReleaseMemImg(&r->View);
        std::memset(&r->View, 0, sizeof(r->View));
        MakeMemImgView(&r->View, &image->Image, r->X, r->Y, r->Width, r->Height);
        return IsMemImgValid(&r->View) ? 0 : -1;
    }
    const int gx = r->X, gy = r->Y, gw = r->Width, gh = r->Height;
    auto overlaps = [&](const GraphTexturePiece& t) {
        return t.X < gx + gw && gx < t.X + t.UsedWidth && t.Y < gy + gh && gy < t.Y + t.UsedHeight;
    };
    int count = 0;
    for (int k = 0; k < image->PieceCount; ++k)
        if (overlaps(image->Pieces[k])) ++count;
    if (count == 0) {
        WriteLogTextUtf16(u"テクスチャ描画情報の作成に失敗しました\n");
        return -1;
    }
    if (count > kGraphRecordDrawPieces && r->Header.recordSize < RecordSizeFor(count)) {
        if (ResizeHandleRecord(graph, RecordSizeFor(count)) != 0) {
            WriteLogTextUtf16(u"画像描画情報格納用メモリの確保に失敗しました\n");
            return -1;
        }
        r = LookUpGraphRecord(graph, 1);
        if (r == nullptr) return -1;
    }
    r->DrawPieceCount = count;
    const float W = r->WidthF, H = r->HeightF;
    int n = 0;
    for (int k = 0; k < image->PieceCount; ++k) {
        GraphTexturePiece& t = image->Pieces[k];
        if (!overlaps(t)) continue;
        GraphDrawPiece& d = r->DrawPieces[n++];
        std::memset(&d, 0, sizeof(d));
        auto axis = [](int g0, int gLen, int p0, int pUsed, int* pos, int* tex, int* len) {
            int gEnd = g0 + gLen, pEnd = p0 + pUsed;
            if (g0 < p0) {
                *pos = p0 - g0;
                *tex = 0;
                *len = std::min(pEnd, gEnd) - p0;
            } else {
                *pos = 0;
                *tex = g0 - p0;
                *len = std::min(gEnd, pEnd) - g0;
            }
        };
        axis(gx, gw, t.X, t.UsedWidth, &d.X, &d.TexX, &d.Width);
        axis(gy, gh, t.Y, t.UsedHeight, &d.Y, &d.TexY, &d.Height);
        d.XF = static_cast<float>(d.X);
        d.YF = static_cast<float>(d.Y);
        d.TexXF = static_cast<float>(d.TexX);
        d.TexYF = static_cast<float>(d.TexY);
        d.WidthF = static_cast<float>(d.Width);
        d.HeightF = static_cast<float>(d.Height);
        d.Piece = &t;
        const float tw = static_cast<float>(t.TextureWidth),
                    th = static_cast<float>(t.TextureHeight);
        const float xs[4] = {d.XF, d.XF + d.WidthF, d.XF, d.XF + d.WidthF};
        const float ys[4] = {d.YF, d.YF, d.YF + d.HeightF, d.YF + d.HeightF};
        const float us[4] = {d.TexXF, d.TexXF + d.WidthF, d.TexXF, d.TexXF + d.WidthF};
        const float vs[4] = {d.TexYF, d.TexYF, d.TexYF + d.HeightF, d.TexYF + d.HeightF};
        for (int c = 0; c < 4; ++c) {
            d.Corners[c][0] = xs[c];
            d.Corners[c][1] = ys[c];
            d.Corners[c][2] = us[c] / tw;
            d.Corners[c][3] = vs[c] / th;
            d.AboveDiagonal[c] = ys[c] <= H - xs[c] * H / W ? 1 : 0;
        }
    }
    return 0;
}

// ---- Blank and drawable graphs ----

namespace {

void RunBlankGraphJob(ASyncLoadJob* job) {
    int offset = 0;
    GraphCreateParams params;
    std::memcpy(&params, UnpackJobBlock(job->parameters, &offset), sizeof(params));
    HandleValue handle = UnpackJobInt(job->parameters, &offset);
    int width = UnpackJobInt(job->parameters, &offset);
    int height = UnpackJobInt(job->parameters, &offset);
    UnpackJobInt(job->parameters, &offset);
    int palette = UnpackJobInt(job->parameters, &offset);
    int paletteBits = UnpackJobInt(job->parameters, &offset);
    int alpha = UnpackJobInt(job->parameters, &offset);
    int result =
        SetUpGraphImage(&params, handle, width, height, alpha, palette, paletteBits, 0, -1, job);
    if (HandleHeader* h = LookupHandleRecord(handle)) {
        h->asyncResult = result < 0 ? -1 : 0;
        if (result < 0) h->deleteRequested = 1;
    }
    FinishHandleASyncLoad(handle);
}

int PackBlankGraphJob(std::uint8_t* block, const GraphCreateParams* params, HandleValue handle,
                      int width, int height, int flag, int palette, int paletteBits) {
    int offset = 0;
    PackJobBlock(block, &offset, params, sizeof(*params));
    PackJobInt(block, &offset, handle);
    PackJobInt(block, &offset, width);
    PackJobInt(block, &offset, height);
    PackJobInt(block, &offset, flag);
    PackJobInt(block, &offset, palette);
    PackJobInt(block, &offset, paletteBits);
    PackJobInt(block, &offset, params->Alpha);
    return offset;
}

}  // namespace

HandleValue CreateBlankGraph(const GraphCreateParams* params, int width, int height, int flag,
                             int palette, int paletteBits, int async, void* loadContext) {
    if (loadContext == nullptr) WaitWhileWindowInactive();
    HandleValue handle = AllocateHandle(DX_HANDLETYPE_GRAPH, loadContext != nullptr, -1);
    if (handle < 0) return -1;
    if (async && loadContext == nullptr) {
        int bytes =
            PackBlankGraphJob(nullptr, params, handle, width, height, flag, palette, paletteBits);
        ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
        if (job == nullptr) {
            DeleteHandle(handle);
            return -1;
        }
        PackBlankGraphJob(job->parameters, params, handle, width, height, flag, palette,
                          paletteBits);
        job->run = RunBlankGraphJob;
        BeginHandleASyncLoad(handle, -1);
        if (QueueGraphJob(job, &handle, 1) != 0) {
            FinishHandleASyncLoad(handle);
            DeleteHandle(handle);
            return -1;
        }
        return handle;
    }
    int result = SetUpGraphImage(params, handle, width, height, params->Alpha, palette, paletteBits,
                                 0, -1, loadContext);
    if (loadContext != nullptr) FinishHandleASyncLoad(handle);
    if (result < 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

HandleValue CreateEmptyGraph(int width, int height, int flag) {
    GraphCreateParams params;
    InitGraphCreateParamsFromSettings(&params);
    return CreateBlankGraph(&params, width, height, flag, 0, 8, IsASyncLoadEnabled(), nullptr);
}

HandleValue CreateDrawableGraph(int width, int height, int alpha) {
    if (alpha && !G().DevicePresent) return -1;
    GraphCreateParams params;
    InitGraphCreateParamsFromSettings(&params);
    params.Drawable = 1;
    params.DrawableAlpha = alpha;
    return CreateBlankGraph(&params, width, height, 0, 0, 8, IsASyncLoadEnabled(), nullptr);
}

// ---- Derived graphs ----

int AttachGraphToImage(HandleValue graph, HandleValue source, int x, float xf, int y, float yf,
                       int width, float widthF, int height, float heightF, void* loadContext) {
    GraphHandleRecord* s = LookUpGraphRecord(source, loadContext != nullptr);
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (s == nullptr || r == nullptr || s->Image == nullptr) return -1;
    {
        std::lock_guard<std::mutex> lock(gShareLock);
        ++s->Image->RefCount;
    }
    r->Image = s->Image;
    LinkGraphRestoreSource(graph, nullptr, 0, 0, 0, source, loadContext);
    s = LookUpGraphRecord(source, 1);
    r = LookUpGraphRecord(graph, 1);
    r->SourceX = s->SourceX + x;
    r->SourceY = s->SourceY + y;
    r->SourceXF = s->SourceXF + xf;
    r->SourceYF = s->SourceYF + yf;
    r->X = s->X + x;
    r->Y = s->Y + y;
    r->XF = s->XF + xf;
    r->YF = s->YF + yf;
    r->Width = width;
    r->Height = height;
    r->WidthF = widthF;
    r->HeightF = heightF;
    r->KeptAlways = s->KeptAlways;
    r->SurvivesDeleteAll = s->SurvivesDeleteAll;
    return BuildGraphDrawPieces(graph);
}

int DeriveGraphFromGraph(HandleValue graph, int floatPosition, int x, float xf, int y, float yf,
                         int width, float widthF, int height, float heightF, HandleValue source,
                         void* loadContext) {
    (void)floatPosition;
    GraphHandleRecord* s = LookUpGraphRecord(source, loadContext != nullptr);
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (s == nullptr || r == nullptr) return -1;
    if (x < 0 || y < 0 || x >= s->Width || y >= s->Height || xf < 0.0f || yf < 0.0f ||
        xf >= s->WidthF || yf >= s->HeightF || width <= 0 || height <= 0) {
        return -1;
    }
    width = std::min(width, s->Width - x);
    height = std::min(height, s->Height - y);
    widthF = std::min(widthF, s->WidthF - xf);
    heightF = std::min(heightF, s->HeightF - yf);
    return AttachGraphToImage(graph, source, x, xf, y, yf, width, widthF, height, heightF,
                              loadContext);
}

HandleValue CreateDerivedGraph(int floatPosition, int x, float xf, int y, float yf, int width,
                               float widthF, int height, float heightF, HandleValue source,
                               void* loadContext) {
    HandleValue handle = AllocateHandle(DX_HANDLETYPE_GRAPH, 0, -1);
    if (handle < 0) return -1;
    if (DeriveGraphFromGraph(handle, floatPosition, x, xf, y, yf, width, widthF, height, heightF,
                             source, loadContext) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

HandleValue DeriveGraphFromRect(int x, int y, int width, int height, HandleValue source) {
    return CreateDerivedGraph(0, x, static_cast<float>(x), y, static_cast<float>(y), width,
                              static_cast<float>(width), height, static_cast<float>(height), source,
                              nullptr);
}

// ---- Deletion ----

int DestroyGraph(HandleValue graph) {
    if (!IsGraphValue(graph)) return -1;
    return DeleteHandle(graph);
}

int DeleteAllGraphs() {
    if (!HandleTypeTable[DX_HANDLETYPE_GRAPH].registered) return 0;
    DeleteAllHandlesOfType(DX_HANDLETYPE_GRAPH, IsGraphKeptByDeleteAll);
    int result = HandleTypeTable[DX_HANDLETYPE_SHADOWMAP].registered
                     ? DeleteAllHandlesOfType(DX_HANDLETYPE_SHADOWMAP, nullptr)
                     : 0;
    Backend_ReleaseSysMemCaches();
    return result;
}

int FlagGraphInternal(HandleValue graph, int flag) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 1);
    if (r == nullptr) return -1;
    r->Internal = flag ? 1 : 0;
    return 0;
}

int DeleteInternalGraphs() {
    if (!HandleTypeTable[DX_HANDLETYPE_GRAPH].registered) return 0;
    DeleteAllHandlesOfType(DX_HANDLETYPE_GRAPH, [](HandleHeader* h) {
        auto* r = reinterpret_cast<GraphHandleRecord*>(h);
        return r->Image != nullptr && r->Internal ? 0 : 1;
    });
    return 0;
}

// ---- Queries ----

int GetGraphSize(HandleValue handle, int* width, int* height) {
    if (handle == DX_TARGET_BACK_SCREEN || handle == DX_TARGET_FRONT_SCREEN) {
        const ScreenModeSettingsData& s = G().ScreenModeSettings;
        if (width) *width = s.RequestedWidth ? s.RequestedWidth : s.Width;
        if (height) *height = s.RequestedHeight ? s.RequestedHeight : s.Height;
        return 0;
    }
    GraphHandleRecord* r = LookUpGraphRecord(handle, 0);
    if (r == nullptr) return -1;
    if (width) *width = r->Width;
    if (height) *height = r->Height;
    return 0;
}

int GetGraphTextureSize(HandleValue handle, int* width, int* height) {
    GraphHandleRecord* r = LookUpGraphRecord(handle, 0);
    if (r == nullptr || r->Image == nullptr) return -1;
    if (r->Image->Format.SoftwareImage || r->Image->PieceCount == 0) {
        if (width) *width = r->Width;
        if (height) *height = r->Height;
    } else {
        if (width) *width = r->Image->Pieces[0].TextureWidth;
        if (height) *height = r->Image->Pieces[0].TextureHeight;
    }
    return 0;
}

int IsMultisampledDrawableGraph(HandleValue graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr) return 0;
    return r->Image->Format.DeviceImage && r->Image->Format.MultisampleCount ? 1 : 0;
}

int FillGraph(HandleValue graph, int red, int green, int blue, int alpha) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr) return -1;
    red = std::clamp(red, 0, 255);
    green = std::clamp(green, 0, 255);
    blue = std::clamp(blue, 0, 255);
    alpha = std::clamp(alpha, 0, 255);
    if (r->Image->Format.SoftwareImage) {
        RECT whole{0, 0, r->Width, r->Height};
        FillMemImgBox(&r->View, &whole, ComposeScreenColor(red, green, blue));
        return 0;
    }
    int result = Backend_FillGraphColor(r, red, green, blue, alpha, 0);
    if (result != 2) return result < 0 ? -1 : 0;
    BASEIMAGE image{};
    if (NewBaseImageArgb8(r->Width, r->Height, &image) != 0) return -1;
    FillBaseImage(&image, red, green, blue, alpha);
    result = TransferImageToGraph(nullptr, nullptr, nullptr, 0, &image, nullptr, 0, 0, graph);
    DisposeBaseImage(&image);
    return result;
}

int CheckBlendGraphCovers(const GraphHandleRecord* graph) {
    if (G().DevicePresent) return 0;
    GraphHandleRecord* blend = LookUpGraphRecord(G().DrawSettings.BlendGraph, 0);
    if (blend == nullptr || graph == nullptr) return -1;
    return blend->Width >= graph->Width && blend->Height >= graph->Height ? 0 : -1;
}

}  // namespace ZiDaz
