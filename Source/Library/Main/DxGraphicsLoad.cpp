// Loading graphs from image files, images in memory, Windows bitmaps and base images, at once or
// as a job on a load thread; the transfers of images into graphs; divided graphs cut from one
// image; the memory of what each graph was filled from and the refill of every graph after the
// device was lost.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsMovie.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxWideText.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWinAPI.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxGraphics";
constexpr int kFullPathBytes = 2048;
constexpr int kMaxAsyncDivCells = 16000;

std::mutex gSourceLock;

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}

bool IsBlockKind(int kind) {
    return kind >= 1 && kind <= 7;
}

int RoundUp4(int v) {
    return (v + 3) / 4 * 4;
}

// Bytes the pixels of an image really take: every face, and blocks rounded up at every level.
std::int64_t ImageStorageBytes(const BASEIMAGE* image) {
    const int faces = image->ImageCount != 0 ? image->ImageCount : 1;
    const int kind = image->Format.FormatKind;
    std::int64_t face = 0;
    if (IsBlockKind(kind)) {
        const int blockBytes = kind == 1 ? 8 : 16;
        const int levels = std::max(image->MipCount, 1);
        for (int l = 0; l < levels; ++l) {
            std::int64_t w = std::max<std::int64_t>(std::int64_t{image->Width} >> l, 1);
            std::int64_t h = std::max<std::int64_t>(std::int64_t{image->Height} >> l, 1);
            face += ((w + 3) / 4) * ((h + 3) / 4) * blockBytes;
        }
    } else {
        face = std::max<std::int64_t>(BaseImageDataSize(image),
                                      std::int64_t{image->Pitch} * image->Height);
    }
    return face < 0 ? -1 : face * faces;
}

std::size_t Align16(std::size_t v) {
    return (v + 15) / 16 * 16;
}

// A BASEIMAGE over a bitmap object's pixels.
bool ImageOverBitmap(HBITMAP bitmap, const COLORFORMAT* format, BASEIMAGE* out) {
    std::memset(out, 0, sizeof(*out));
    if (bitmap == nullptr || format == nullptr || SystemApi.GetObjectA == nullptr) return false;
    BITMAP bm{};
    if (SystemApi.GetObjectA(bitmap, sizeof(bm), &bm) == 0) return false;
    out->Format = *format;
    out->Width = bm.bmWidth;
    out->Height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    out->Pitch = (bm.bmWidth * format->BitsPerPixel / 8 + 3) / 4 * 4;
    out->Pixels = bm.bmBits;
    return true;
}

void LogWithFullPath(const char16_t* format, const char16_t* name) {
    char16_t full[kFullPathBytes / 2];
    full[0] = 0;
    if (name != nullptr) {
        MakeFullPath(name, full, sizeof(full), nullptr);
    } else {
        StreamGetCurrentDir(full, sizeof(full));
    }
    WriteLogFormatUtf16(format, full);
}

// Copies packed wide text, which may stand unaligned, into an aligned buffer.
void CopyPackedName(const char16_t* packed, char16_t* out, std::size_t chars) {
    out[0] = 0;
    for (std::size_t i = 0; packed && i + 1 < chars; ++i) {
        std::memcpy(&out[i], reinterpret_cast<const unsigned char*>(packed) + 2 * i, 2);
        out[i + 1] = 0;
        if (!out[i]) break;
    }
}

bool SourceGiven(const GraphLoadRequest* r) {
    return r->FileName || r->Data || r->BitmapInfo || r->ColorImage;
}

}  // namespace

// ---- Parameters ----

int InitLoadGraphParams(LoadGraphParams* p) {
    std::memset(p, 0, sizeof(*p));
    InitImageLoadParams(&p->ImageParams, 0);
    InitGraphCreateParamsFromSettings(&p->Create);
    p->NoTransparency = GraphCreationSettings.NoTransparentColor;
    return 0;
}

namespace {

void InitRequest(GraphLoadRequest* r, const LoadGraphParams* params) {
    std::memset(r, 0, sizeof(*r));
    if (params) {
        r->Params = *params;
    } else {
        InitLoadGraphParams(&r->Params);
    }
    r->Handle = -1;
    r->BaseHandle = -1;
}

}  // namespace

// ---- Reading the source ----

int ReadGraphSourceImage(const GraphLoadRequest* request, GraphSourceImages* out) {
    std::memset(out, 0, sizeof(*out));
    out->Result = -1;
    const LoadGraphParams& p = request->Params;
    if (request->FileName) {
        out->Owned = 1;
        out->Result = LoadBaseImageWithAlphaFile(
            &p.ImageParams, request->FileName, nullptr, 0, 0, nullptr, 0, 0, &out->ReadColor,
            p.Create.NoAlphaFile ? nullptr : &out->ReadAlpha, 0, p.NoTransparency);
    } else if (request->Data) {
        out->Owned = 1;
        out->Result = LoadBaseImageWithAlphaFile(
            &p.ImageParams, nullptr, request->Data, static_cast<std::size_t>(request->DataSize), 1,
            request->AlphaData, static_cast<std::size_t>(request->AlphaSize), 1, &out->ReadColor,
            request->AlphaData ? &out->ReadAlpha : nullptr, 0, p.NoTransparency);
    } else if (request->BitmapInfo) {
        out->Owned = 1;
        if (ReadBitmapInfoImage(request->BitmapInfo, request->BitmapBits, &out->ReadColor, 1) ==
            0) {
            out->Result = 1;
            if (request->AlphaBitmapInfo) {
                if (ReadBitmapInfoImage(request->AlphaBitmapInfo, request->AlphaBitmapBits,
                                        &out->ReadAlpha, 1) == 0) {
                    out->Result = 0;
                } else {
                    DisposeBaseImage(&out->ReadColor);
                    out->Result = -1;
                }
            }
        }
    } else if (request->ColorImage) {
        out->Owned = 0;
        out->Result = 1;
        out->Color = request->ColorImage;
        out->Alpha = request->AlphaImage;
    }
    if (out->Result < 0) return -1;
    if (out->Owned) {
        out->Color = &out->ReadColor;
        out->Alpha = out->Result == 0 ? &out->ReadAlpha : nullptr;
    }
    if (request->Mirror) {
        MirrorBaseImageHorizontally(out->Color);
        if (out->Alpha) MirrorBaseImageHorizontally(out->Alpha);
    }
    return out->Result;
}

int ReleaseGraphSourceImage(const GraphLoadRequest* request, GraphSourceImages* images) {
    if (images->Result < 0) return 0;
    if (images->Owned) {
        DisposeBaseImage(&images->ReadColor);
        if (images->Result == 0) DisposeBaseImage(&images->ReadAlpha);
    } else if (request->Mirror) {
        MirrorBaseImageHorizontally(images->Color);
        if (images->Alpha) MirrorBaseImageHorizontally(images->Alpha);
    }
    images->Result = -1;
    return 0;
}

// ---- Shaping and filling ----

int SetUpGraphImageForBaseImage(const GraphCreateParams* params, HandleValue graph,
                                BASEIMAGE* color, BASEIMAGE* alpha, int flag, void* loadContext) {
    (void)flag;
    if (!G().Initialised) return -1;
    if (loadContext == nullptr) WaitWhileWindowInactive();
    if (alpha && (alpha->Width != color->Width || alpha->Height != color->Height)) return -1;
    const COLORFORMAT& f = color->Format;
    // A block image that is not whole blocks would be read past a plain alpha image.
    if (alpha && IsBlockKind(f.FormatKind) && !IsBlockKind(alpha->Format.FormatKind) &&
        (color->Width % 4 != 0 || color->Height % 4 != 0)) {
        return -1;
    }
    GraphCreateParams p = *params;
    p.CubeMap = color->ImageCount == 6 ? 1 : 0;
    const bool palette = f.FormatKind == 0 && f.BytesPerPixel == 1 && f.ChannelCount == 0 &&
                         f.RedMask == 0xFF0000 && f.GreenMask == 0xFF00 && f.BlueMask == 0xFF &&
                         alpha == nullptr && !p.NoPaletteGraphs &&
                         !(!G().DevicePresent && f.AlphaMask != 0);
    if (f.ChannelCount != 0 && f.BitsPerChannel != 0) {
        p.BitsPerChannel = f.BitsPerChannel;
        if (p.Drawable) {
            p.DrawableFloat = f.FloatFlag;
            p.DrawableChannelCount = f.ChannelCount;
        } else {
            p.Float = f.FloatFlag;
            p.ChannelCount = f.ChannelCount;
        }
    }
    const int hasAlpha = (f.AlphaMask != 0 || f.AlphaWidth != 0 || alpha != nullptr) ? 1 : 0;
    return SetUpGraphImage(&p, graph, color->Width, color->Height, hasAlpha, palette ? 1 : 0, 8,
                           f.FormatKind, color->MipCount ? color->MipCount : -1, loadContext);
}

int SetUpGraphFromBaseImage(const GraphCreateParams* params, int reuse, HandleValue graph,
                            BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag, int noTransparency,
                            void* loadContext) {
    if (color == nullptr) return -1;
    RecomputeColorFormatUnusedMask(&color->Format);
    if (alpha) RecomputeColorFormatUnusedMask(&alpha->Format);
    if (reuse) {
        GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
        if (r == nullptr || color->Width != r->Width || color->Height != r->Height) return -1;
        if (alpha && (alpha->Width != r->Width || alpha->Height != r->Height)) return -1;
        // A refill that could not be made is reported, not passed off as done.
        return FillGraphFromImageAt(color, alpha, 0, 0, graph, !noTransparency, loadContext) < 0
                   ? -1
                   : 0;
    }
    // The fill writes every pixel of the new image; only a fill that fails (and so wrote none)
    // leaves it to be cleared.
    GraphCreateParams p = *params;
    p.FilledAtOnce = 1;
    int result = SetUpGraphImageForBaseImage(&p, graph, color, alpha, textureFlag, loadContext);
    if (result == 0 &&
        FillGraphFromImageAt(color, alpha, 0, 0, graph, !noTransparency, loadContext) < 0) {
        GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
        if (r != nullptr && r->Image != nullptr) ClearGraphSoftwareImage(r->Image);
    }
    return result;
}

// ---- Transfers ----

int FillGraphFromImageAt(BASEIMAGE* color, BASEIMAGE* alpha, int x, int y, HandleValue graph,
                         int useTransparency, void* loadContext) {
    if (!G().Initialised || color == nullptr) return -1;
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr || r->Image == nullptr) return -1;
    r->SourceX = x;
    r->SourceY = y;
    r->SourceXF = static_cast<float>(x);
    r->SourceYF = static_cast<float>(y);
    RECT rect{x, y, x + color->Width, y + color->Height};
    return TransferBaseImageRectToGraph(&rect, 0, 0, graph, color, alpha,
                                        r->Image->Format.BlendImage, useTransparency, 0,
                                        loadContext);
}

int FillGraphFromImageRect(BASEIMAGE* color, BASEIMAGE* alpha, const RECT* rect, int x, int y,
                           HandleValue graph, int useTransparency, void* loadContext) {
    if (!G().Initialised || color == nullptr || rect == nullptr) return -1;
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr || r->Image == nullptr) return -1;
    r->SourceX = rect->left - x;
    r->SourceY = rect->top - y;
    r->SourceXF = static_cast<float>(r->SourceX);
    r->SourceYF = static_cast<float>(r->SourceY);
    return TransferBaseImageRectToGraph(rect, x, y, graph, color, alpha,
                                        r->Image->Format.BlendImage, useTransparency, 0,
                                        loadContext);
}

int TransferBaseImageRectToGraph(const RECT* sourceRect, int x, int y, HandleValue graph,
                                 const BASEIMAGE* color, const BASEIMAGE* alpha, int blendImage,
                                 int useTransparency, int wholeImage, void* loadContext) {
    if (!G().Initialised || color == nullptr || sourceRect == nullptr) return -1;
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr || r->Image == nullptr) return -1;
    GraphImage* image = r->Image;
    BASEIMAGE c = *color;
    BASEIMAGE a{};
    BASEIMAGE* ap = nullptr;
    if (alpha) {
        a = *alpha;
        ap = &a;
    }
    const bool block = IsBlockKind(c.Format.FormatKind);
    if (block) {
        c.Width = RoundUp4(c.Width);
        c.Height = RoundUp4(c.Height);
        if (ap) {
            a.Width = RoundUp4(a.Width);
            a.Height = RoundUp4(a.Height);
        }
    }
    if ((image->Format.CubeMap != 0) != (c.ImageCount != 0)) return -1;
    RECT rect = *sourceRect;
    if (block) {
        rect.left = RoundUp4(rect.left);
        rect.top = RoundUp4(rect.top);
        rect.right = RoundUp4(rect.right);
        rect.bottom = RoundUp4(rect.bottom);
    }
    if (rect.right - rect.left <= 0 || rect.bottom - rect.top <= 0) return 0;
    bool decodeColor = false, decodeAlpha = false;
    if (image->Format.DeviceImage) {
        int needColor = 0, needAlpha = 0;
        Backend_CheckTransferConversion(image, c.Format.FormatKind, &needColor,
                                        ap ? ap->Format.FormatKind : -1, &needAlpha);
        decodeColor = needColor != 0;
        decodeAlpha = ap && needAlpha != 0;
    } else {
        decodeColor = block;
        decodeAlpha = decodeColor && ap;
    }
    void* decodedColor = nullptr;
    void* decodedAlpha = nullptr;
    auto failDecode = [&] {
        WriteLogTextUtf16(u"標準イメージ用のメモリ確保に失敗しました\n");
        if (decodedColor) FreeTrackedMemory(decodedColor);
        return -1;
    };
    if (decodeColor && IsBlockKind(c.Format.FormatKind)) {
        if (DecodeBlockCompressedBaseImage(&c, 0) != 0) return failDecode();
        decodedColor = c.Pixels;
    }
    if (decodeAlpha && IsBlockKind(a.Format.FormatKind)) {
        if (DecodeBlockCompressedBaseImage(&a, 0) != 0) return failDecode();
        decodedAlpha = a.Pixels;
    }
    int result = 0;
    if (image->Format.SoftwareImage) {
        int width = rect.right - rect.left, height = rect.bottom - rect.top;
        int destX = x, destY = y;
        if (wholeImage) {
            width = std::min(width, image->Width - destX);
            height = std::min(height, image->Height - destY);
        } else {
            width = std::min(width, r->Width - destX);
            height = std::min(height, r->Height - destY);
            destX += r->X;
            destY += r->Y;
        }
        if (width > 0 && height > 0) {
            MEMIMG* target = &image->Image;
            if (CopyBaseImageIntoMemImg(&c, ap, target, rect.left, rect.top, width, height, destX,
                                        destY, useTransparency) < 0) {
                result = -1;
            }
            MemImgShared* shared = target->Shared;
            if (result == 0 && shared->UsePalette && shared->PaletteTable) {
                const std::uint32_t key = GraphCreationSettings.TransparentColor & 0xFFFFFF;
                const std::uint32_t key16 =
                    (key >> 16 & 0xF8) << 8 | (key >> 8 & 0xFC) << 3 | (key & 0xFF) >> 3;
                std::uint32_t found = 0;
                for (int i = 0; i < 256; ++i) {
                    bool match =
                        shared->ColorType == 1
                            ? (static_cast<std::uint32_t*>(shared->PaletteTable)[i] & 0xFFFFFF) ==
                                  key
                            : static_cast<std::uint16_t*>(shared->PaletteTable)[i] == key16;
                    if (match) {
                        found = static_cast<std::uint32_t>(i);
                        break;
                    }
                }
                shared->TransColor = found;
            }
        }
    } else {
        result = Backend_TransferImageToTexture(&rect, x, y, graph, &c, ap, blendImage,
                                                useTransparency, wholeImage, loadContext) < 0
                     ? -1
                     : 0;
    }
    if (decodedColor) FreeTrackedMemory(decodedColor);
    if (decodedAlpha) FreeTrackedMemory(decodedAlpha);
    return result;
}

namespace {

// One axis of a clip against a piece: false when they miss each other.
bool ClipAxis(int destStart, int length, int pieceStart, int pieceLength, int* textureOffset,
              int* sourceOffset, int* extent) {
    if (destStart + length <= pieceStart || pieceStart + pieceLength <= destStart) return false;
    if (destStart < pieceStart) {
        *textureOffset = 0;
        *sourceOffset = pieceStart - destStart;
    } else {
        *textureOffset = destStart - pieceStart;
        *sourceOffset = 0;
    }
    *extent =
        std::min(destStart + length, pieceStart + pieceLength) - std::max(destStart, pieceStart);
    return true;
}

int ClipTransfer(int pieceX, int pieceY, int pieceWidth, int pieceHeight, int texelX, int texelY,
                 const RECT* sourceRect, int width, int height, int x, int y, RECT* textureRect,
                 RECT* sourceOut, int blockFlag) {
    int tx, ty, sx, sy, w, h;
    if (!ClipAxis(x, width, pieceX, pieceWidth, &tx, &sx, &w) ||
        !ClipAxis(y, height, pieceY, pieceHeight, &ty, &sy, &h)) {
        return -1;
    }
    *textureRect = RECT{tx + texelX, ty + texelY, tx + texelX + w, ty + texelY + h};
    *sourceOut = RECT{sourceRect->left + sx, sourceRect->top + sy, sourceRect->left + sx + w,
                      sourceRect->top + sy + h};
    if (blockFlag) {
        for (RECT* rc : {textureRect, sourceOut}) {
            rc->left = RoundUp4(rc->left);
            rc->top = RoundUp4(rc->top);
            rc->right = RoundUp4(rc->right);
            rc->bottom = RoundUp4(rc->bottom);
        }
    }
    return 0;
}

}  // namespace

int ClipTransferToDrawPiece(const GraphDrawPiece* piece, const RECT* sourceRect, int width,
                            int height, int x, int y, RECT* textureRect, RECT* sourceRectOut,
                            int blockFlag) {
    return ClipTransfer(piece->X, piece->Y, piece->Width, piece->Height, piece->TexX, piece->TexY,
                        sourceRect, width, height, x, y, textureRect, sourceRectOut, blockFlag);
}

int ClipTransferToTexturePiece(const GraphTexturePiece* piece, const RECT* sourceRect, int width,
                               int height, int x, int y, RECT* textureRect, RECT* sourceRectOut,
                               int blockFlag) {
    return ClipTransfer(piece->X, piece->Y, piece->UsedWidth, piece->UsedHeight, 0, 0, sourceRect,
                        width, height, x, y, textureRect, sourceRectOut, blockFlag);
}

namespace {

// The colour and alpha bitmaps of a transfer described as images; false when the colour bitmap
// has no image.
bool ImagesOverBitmaps(HBITMAP bitmap, HBITMAP alphaBitmap, const COLORFORMAT* format,
                       BASEIMAGE* colorImage, BASEIMAGE* alphaImage, BASEIMAGE** color,
                       BASEIMAGE** alpha) {
    if (!ImageOverBitmap(bitmap, format, colorImage)) return false;
    *color = colorImage;
    *alpha = ImageOverBitmap(alphaBitmap, format, alphaImage) ? alphaImage : nullptr;
    return true;
}

}  // namespace

int TransferImageToGraph(const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                         int useBitmap, BASEIMAGE* color, BASEIMAGE* alpha, int x, int y,
                         HandleValue graph) {
    if (!G().Initialised) return -1;
    BASEIMAGE bc{}, ba{};
    if (useBitmap && !ImagesOverBitmaps(bitmap, alphaBitmap, format, &bc, &ba, &color, &alpha))
        return -1;
    const int useTransparency = GraphCreationSettings.NoTransparentColor ? 0 : 1;
    if (FillGraphFromImageAt(color, alpha, x, y, graph, useTransparency, nullptr) != 0) return -1;
    SetGraphRestoreSource(1, graph, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0,
                          color, alpha, 0, 0, GraphCreationSettings.NoTransparentColor, -1,
                          nullptr);
    return 0;
}

int TransferImageRectToGraph(const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                             int useBitmap, BASEIMAGE* color, BASEIMAGE* alpha, const RECT* rect,
                             int x, int y, HandleValue graph) {
    if (!G().Initialised) return -1;
    BASEIMAGE bc{}, ba{};
    if (useBitmap && !ImagesOverBitmaps(bitmap, alphaBitmap, format, &bc, &ba, &color, &alpha))
        return -1;
    const int useTransparency = GraphCreationSettings.NoTransparentColor ? 0 : 1;
    return FillGraphFromImageRect(color, alpha, rect, x, y, graph, useTransparency, nullptr);
}

// ---- Single loads ----

int LoadGraphNow(GraphLoadRequest* request, void* loadContext) {
    GraphSourceImages images;
    const LoadGraphParams& p = request->Params;
    if (ReadGraphSourceImage(request, &images) >= 0) {
        int result = SetUpGraphFromBaseImage(&p.Create, request->Reuse, request->Handle,
                                             images.Color, images.Alpha, request->TextureFlag,
                                             p.NoTransparency, loadContext);
        if (result == 0) {
            const bool baseImages = !request->FileName && !request->Data;
            SetGraphRestoreSource(1, request->Handle, request->FileName, nullptr, nullptr, nullptr,
                                  request->FileName ? nullptr : request->Data, request->DataSize,
                                  request->FileName ? nullptr : request->AlphaData,
                                  request->AlphaSize, baseImages ? images.Color : nullptr,
                                  baseImages ? images.Alpha : nullptr, request->Mirror,
                                  p.ImageParams.ConvertToPremultipliedAlpha, p.NoTransparency, -1,
                                  loadContext);
        }
        ReleaseGraphSourceImage(request, &images);
        return result;
    }
    if (request->Reuse) return -1;
    if (!request->FileName && !request->Data) return -1;
    if (request->FileName) {
        StreamValue stream = StreamOpen(request->FileName, 0, 1, 0);
        if (!stream) {
            LogWithFullPath(u"画像ファイル %s がありません", request->FileName);
            return -1;
        }
        StreamClose(stream);
    }
    // A source that is no readable image may still be a movie.
    if (SetUpMovieGraph(request, request->Handle, request->FileName,
                        request->FileName ? nullptr : request->Data, request->DataSize,
                        request->TextureFlag, request->MovieOption, loadContext) != 0)
        return -1;
    ClearNewMovieGraph(request->Handle, loadContext);
    return 0;
}

namespace {

struct PackedImages {
    char16_t name[kFullPathBytes / 2];
    BASEIMAGE color, alpha;
};

int PackRequest(std::uint8_t* block, const GraphLoadRequest* r, const char16_t* fullName,
                const HandleValue* handles, int handleCount) {
    int offset = 0;
    PackJobBlock(block, &offset, r, sizeof(*r));
    PackJobInt(block, &offset, handleCount);
    if (handleCount > 0) PackJobBlock(block, &offset, handles, handleCount * 4);
    PackJobInt(block, &offset, fullName ? 1 : 0);
    if (fullName) PackJobString(block, &offset, fullName);
    PackJobInt(block, &offset, r->ColorImage ? 1 : 0);
    if (r->ColorImage) PackJobBlock(block, &offset, r->ColorImage, sizeof(BASEIMAGE));
    PackJobInt(block, &offset, r->AlphaImage ? 1 : 0);
    if (r->AlphaImage) PackJobBlock(block, &offset, r->AlphaImage, sizeof(BASEIMAGE));
    return offset;
}

void UnpackRequest(const std::uint8_t* block, GraphLoadRequest* r, PackedImages* images,
                   std::vector<HandleValue>* handles) {
    int offset = 0;
    std::memcpy(r, UnpackJobBlock(block, &offset), sizeof(*r));
    int count = UnpackJobInt(block, &offset);
    if (count > 0) {
        handles->resize(static_cast<std::size_t>(count));
        std::memcpy(handles->data(), UnpackJobBlock(block, &offset),
                    static_cast<std::size_t>(count) * 4);
        r->Handles = handles->data();
    }
    if (UnpackJobInt(block, &offset)) {
        CopyPackedName(UnpackJobString(block, &offset), images->name,
                       sizeof(images->name) / sizeof(char16_t));
        r->FileName = images->name;
    }
    if (UnpackJobInt(block, &offset)) {
        std::memcpy(&images->color, UnpackJobBlock(block, &offset), sizeof(BASEIMAGE));
        r->ColorImage = &images->color;
    }
    if (UnpackJobInt(block, &offset)) {
        std::memcpy(&images->alpha, UnpackJobBlock(block, &offset), sizeof(BASEIMAGE));
        r->AlphaImage = &images->alpha;
    }
}

void EndHandleJob(HandleValue handle, int result, bool deleteIt) {
    if (HandleHeader* h = LookupHandleRecord(handle)) {
        h->asyncResult = result < 0 ? -1 : 0;
        if (deleteIt) h->deleteRequested = 1;
    }
    FinishHandleASyncLoad(handle);
}

void RunGraphLoadJob(ASyncLoadJob* job) {
    GraphLoadRequest request;
    static thread_local PackedImages images;
    std::vector<HandleValue> handles;
    UnpackRequest(job->parameters, &request, &images, &handles);
    int result = LoadGraphNow(&request, job);
    EndHandleJob(request.Handle, result, result < 0 && !request.Reuse);
}

// Allocates a job for the request; null when none can be had.
ASyncLoadJob* PackJob(const GraphLoadRequest* r, const HandleValue* handles, int count,
                      ASyncLoadRunFunction run) {
    static thread_local char16_t full[kFullPathBytes / 2];
    const char16_t* name = nullptr;
    if (r->FileName) {
        MakeFullPath(r->FileName, full, sizeof(full), nullptr);
        name = full;
    }
    int bytes = PackRequest(nullptr, r, name, handles, count);
    ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
    if (job == nullptr) return nullptr;
    PackRequest(job->parameters, r, name, handles, count);
    job->run = run;
    return job;
}

bool IsLoading(HandleValue handle) {
    HandleHeader* h = LookupHandleRecord(handle);
    return h && h->asyncPending != 0;
}

bool IsGraphValue(HandleValue v) {
    return v >= 0 && ((v & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_GRAPH;
}

}  // namespace

int StartGraphLoad(GraphLoadRequest* request, int async, void* loadContext) {
    if (loadContext == nullptr) WaitWhileWindowInactive();
    // A request without any source can give nothing; no handle is made for it.
    if (!SourceGiven(request)) return -1;
    bool fresh = false;
    if (request->Reuse) {
        if (!IsGraphValue(request->Handle) || LookupHandleRecord(request->Handle) == nullptr)
            return -1;
        if (loadContext == nullptr && IsLoading(request->Handle)) return -1;
        if (loadContext != nullptr) BeginHandleASyncLoad(request->Handle, -1);
    } else {
        request->Handle = AllocateHandle(DX_HANDLETYPE_GRAPH, loadContext != nullptr, -1);
        if (request->Handle < 0) return -1;
        fresh = true;
    }
    const HandleValue handle = request->Handle;
    if (async && loadContext == nullptr) {
        ASyncLoadJob* job = PackJob(request, nullptr, 0, RunGraphLoadJob);
        if (job == nullptr) {
            if (fresh) DeleteHandle(handle);
            return -1;
        }
        BeginHandleASyncLoad(handle, -1);
        if (QueueGraphJob(job, &handle, 1) != 0) {
            FinishHandleASyncLoad(handle);
            if (fresh) DeleteHandle(handle);
            return -1;
        }
        return request->Reuse ? 0 : handle;
    }
    int result = LoadGraphNow(request, loadContext);
    if (loadContext != nullptr) FinishHandleASyncLoad(handle);
    if (result < 0) {
        if (fresh) DeleteHandle(handle);
        return -1;
    }
    return request->Reuse ? 0 : handle;
}

// ---- Entry points ----

HandleValue LoadGraphFromImageFile(const char* fileName, int nonTexture) {
    return LoadGraphFromImageFileEx(fileName, nonTexture ? 0 : 1, 0, 0);
}

HandleValue LoadGraphFromImageFileEx(const char* fileName, int textureFlag, int mirror,
                                     int movieOption) {
    WideText name(fileName);
    if (name.Failed()) return -1;
    return LoadGraphFromImageFileWide(name.Get(), textureFlag, mirror, movieOption);
}

HandleValue LoadGraphFromImageFileWide(const char16_t* fileName, int textureFlag, int mirror,
                                       int movieOption) {
    GraphLoadRequest request;
    InitRequest(&request, nullptr);
    request.FileName = fileName;
    request.TextureFlag = textureFlag;
    request.Mirror = mirror;
    request.MovieOption = movieOption;
    return StartGraphLoad(&request, IsASyncLoadEnabled(), nullptr);
}

HandleValue LoadBlendGraph(const char* fileName) {
    WideText name(fileName);
    if (name.Failed()) return -1;
    return LoadBlendGraphWide(name.Get());
}

HandleValue LoadBlendGraphWide(const char16_t* fileName) {
    int previous = GraphCreationSettings.BlendImage;
    GraphCreationSettings.BlendImage = 1;
    HandleValue result = LoadGraphFromImageFileWide(fileName, 1, 0, 0);
    GraphCreationSettings.BlendImage = previous;
    return result;
}

int ReloadGraphFromImageFile(const char* fileName, HandleValue graph, int mirror) {
    WideText name(fileName);
    if (name.Failed()) return -1;
    return ReloadGraphFromImageFileWide(name.Get(), graph, mirror);
}

int ReloadGraphFromImageFileWide(const char16_t* fileName, HandleValue graph, int mirror) {
    GraphLoadRequest request;
    InitRequest(&request, nullptr);
    request.Reuse = 1;
    request.Handle = graph;
    request.FileName = fileName;
    request.TextureFlag = 1;
    request.Mirror = mirror;
    return StartGraphLoad(&request, IsASyncLoadEnabled(), nullptr) < 0 ? -1 : 0;
}

HandleValue CreateGraphFromImageInMemoryWithParams(const LoadGraphParams* params, int reuse,
                                                   HandleValue graph, const void* data, int size,
                                                   const void* alphaData, int alphaSize,
                                                   int textureFlag, int mirror, int async) {
    GraphLoadRequest request;
    InitRequest(&request, params);
    request.Reuse = reuse;
    request.Handle = reuse ? graph : -1;
    request.Data = data;
    request.DataSize = size;
    request.AlphaData = alphaData;
    request.AlphaSize = alphaSize;
    request.TextureFlag = textureFlag;
    request.Mirror = mirror;
    return StartGraphLoad(&request, async, nullptr);
}

HandleValue CreateGraphFromImageInMemory(const void* data, int size, const void* alphaData,
                                         int alphaSize, int textureFlag, int mirror) {
    return CreateGraphFromImageInMemoryWithParams(nullptr, 0, -1, data, size, alphaData, alphaSize,
                                                  textureFlag, mirror, IsASyncLoadEnabled());
}

int RecreateGraphFromImageInMemory(const void* data, int size, HandleValue graph,
                                   const void* alphaData, int alphaSize, int textureFlag,
                                   int mirror) {
    return CreateGraphFromImageInMemoryWithParams(nullptr, 1, graph, data, size, alphaData,
                                                  alphaSize, textureFlag, mirror,
                                                  IsASyncLoadEnabled()) < 0
               ? -1
               : 0;
}

HandleValue LoadGraphFromBaseImageWithParams(const LoadGraphParams* params, int reuse,
                                             HandleValue graph, BASEIMAGE* color, BASEIMAGE* alpha,
                                             int textureFlag, int mirror, int async,
                                             void* loadContext) {
    GraphLoadRequest request;
    InitRequest(&request, params);
    request.Reuse = reuse;
    request.Handle = reuse ? graph : -1;
    request.ColorImage = color;
    request.AlphaImage = alpha;
    request.TextureFlag = textureFlag;
    request.Mirror = mirror;
    return StartGraphLoad(&request, async, loadContext);
}

HandleValue CreateGraphFromBaseImagePair(BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag,
                                         int mirror) {
    return LoadGraphFromBaseImageWithParams(nullptr, 0, -1, color, alpha, textureFlag, mirror,
                                            IsASyncLoadEnabled(), nullptr);
}

HandleValue CreateGraphFromBaseImage(BASEIMAGE* color) {
    return CreateGraphFromBaseImagePair(color, nullptr, 1, 0);
}

HandleValue CreateGraphFromBaseImageNow(BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag,
                                        void* loadContext) {
    GraphCreateParams params;
    InitGraphCreateParamsFromSettings(&params);
    HandleValue handle = AllocateHandle(DX_HANDLETYPE_GRAPH, loadContext != nullptr, -1);
    if (handle < 0) return -1;
    int result = SetUpGraphFromBaseImage(&params, 0, handle, color, alpha, textureFlag,
                                         GraphCreationSettings.NoTransparentColor, loadContext);
    if (loadContext != nullptr) FinishHandleASyncLoad(handle);
    if (result != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

// ---- Internal graphs ----

namespace {

HandleValue gWhiteGraph = -1;
HandleValue gSsaoNoiseGraph = -1;

HandleValue LoadInternalGraph(BASEIMAGE* image, const GraphCreateParams* create,
                              HandleValue* store) {
    GraphLoadRequest request;
    InitRequest(&request, nullptr);
    request.Params.Create = *create;
    request.Params.Create.TransparentColor = 0xFF00FF;
    request.ColorImage = image;
    request.Handle = AllocateHandle(DX_HANDLETYPE_GRAPH, 0, -1);
    HandleValue handle = request.Handle;
    if (handle >= 0 && LoadGraphNow(&request, nullptr) != 0) {
        DeleteHandle(handle);
        handle = -1;
    }
    *store = handle;
    if (handle >= 0) {
        SetHandleLostFlag(handle, store);
        FlagGraphInternal(handle, 1);
    }
    return handle;
}

}  // namespace

HandleValue GetWhiteGraph() {
    if (gWhiteGraph > 0) return gWhiteGraph;
    BASEIMAGE image{};
    if (NewBaseImageArgb8(8, 8, &image) != 0) return -1;
    for (int y = 0; y < 8; ++y)
        std::memset(static_cast<std::uint8_t*>(image.Pixels) + y * image.Pitch, 255, 32);
    GraphCreateParams create;
    InitGraphCreateParams(&create, 16, 1, 0);
    HandleValue handle = LoadInternalGraph(&image, &create, &gWhiteGraph);
    DisposeBaseImage(&image);
    return handle;
}

HandleValue GetSsaoNoiseGraph() {
    if (gSsaoNoiseGraph > 0) return gSsaoNoiseGraph;
    static const float kValues[16] = {-0.5724406f, 0.1975985f,  0.5750929f,  -0.5183226f,
                                      -0.2671914f, 0.3733715f,  0.570049f,   0.1687963f,
                                      -0.4004638f, -0.7277528f, -0.8991244f, -0.2343576f,
                                      -0.2822068f, 0.2226072f,  0.4695217f,  0.7438251f};
    BASEIMAGE image{};
    if (NewBaseImageRgbaFloat32(4, 4, &image) != 0) return -1;
    for (int k = 0; k < 16; ++k) {
        float* p = reinterpret_cast<float*>(static_cast<std::uint8_t*>(image.Pixels) +
                                            (k / 4) * image.Pitch) +
                   (k % 4) * 4;
        p[0] = p[1] = p[2] = kValues[k];
        p[3] = 1.0f;
    }
    GraphCreateParams create;
    InitGraphCreateParams(&create, 32, 0, 0);
    create.Float = 1;
    create.ChannelCount = 4;
    create.BitsPerChannel = 32;
    HandleValue handle = LoadInternalGraph(&image, &create, &gSsaoNoiseGraph);
    DisposeBaseImage(&image);
    return handle;
}

// ---- Restore sources ----

int WideStringLength(const char16_t* text) {
    int n = 0;
    while (text && text[n]) ++n;
    return n;
}

void ReleaseGraphRestoreSource(GraphRestoreSource* source) {
    if (source == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(gSourceLock);
        if (--source->RefCount > 0) return;
    }
    FreeTrackedMemory(source);
}

int SetGraphRestoreSource(int keep, HandleValue graph, const char16_t* fileName,
                          const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                          const void* data, int size, const void* alphaData, int alphaSize,
                          const BASEIMAGE* color, const BASEIMAGE* alpha, int mirror,
                          int premultiply, int noTransparency, HandleValue shareWith,
                          void* loadContext) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, loadContext != nullptr);
    if (r == nullptr) return -1;
    GraphHandleRecord* share =
        shareWith >= 0 ? LookUpGraphRecord(shareWith, loadContext != nullptr) : nullptr;
    GraphRestoreSource* old = r->Restore;
    r->Restore = nullptr;
    ReleaseGraphRestoreSource(old);
    BASEIMAGE bc{}, ba{};
    if (bitmap) {
        if (ImageOverBitmap(bitmap, format, &bc)) color = &bc;
        if (ImageOverBitmap(alphaBitmap, format, &ba)) alpha = &ba;
    }
    if (!keep) return 0;
    if ((fileName || data || color) && share == nullptr) {
        const std::size_t header = Align16(sizeof(GraphRestoreSource));
        GraphRestoreSource* s = nullptr;
        if (fileName) {
            char16_t full[kFullPathBytes / 2];
            MakeFullPath(fileName, full, sizeof(full), nullptr);
            std::size_t chars = static_cast<std::size_t>(WideStringLength(full)) + 1;
            s = static_cast<GraphRestoreSource*>(AllocateTrackedMemoryZeroed(
                header + chars * sizeof(char16_t), kSourceFile, __LINE__));
            if (s == nullptr) {
                WriteLogTextUtf16(
                    u"転送する画像ファイルのファイル名を保存するメモリ領域の確保に失敗しました\n");
                return -1;
            }
            s->FileName = reinterpret_cast<char16_t*>(reinterpret_cast<std::uint8_t*>(s) + header);
            std::memcpy(s->FileName, full, chars * sizeof(char16_t));
        } else if (data) {
            std::size_t a = alphaData ? static_cast<std::size_t>(std::max(alphaSize, 0)) : 0;
            std::size_t d = static_cast<std::size_t>(std::max(size, 0));
            s = static_cast<GraphRestoreSource*>(
                AllocateTrackedMemoryZeroed(header + d + a, kSourceFile, __LINE__));
            if (s == nullptr) {
                WriteLogTextUtf16(u"転送する画像データを保存するメモリ領域の確保に失敗しました\n");
                return -1;
            }
            auto* bytes = reinterpret_cast<std::uint8_t*>(s) + header;
            std::memcpy(bytes, data, d);
            s->Data = bytes;
            s->DataSize = static_cast<int>(d);
            if (alphaData) {
                std::memcpy(bytes + d, alphaData, a);
                s->AlphaData = bytes + d;
                s->AlphaSize = static_cast<int>(a);
            }
        } else {
            const std::int64_t colorBytes = ImageStorageBytes(color);
            const std::int64_t alphaBytes = alpha ? ImageStorageBytes(alpha) : 0;
            if (colorBytes < 0 || alphaBytes < 0 ||
                colorBytes + alphaBytes > 2 * kMaxBaseImageBytes) {
                WriteLogTextUtf16(
                    u"転送する基本イメージを保存するメモリ領域の確保に失敗しました\n");
                return -1;
            }
            const std::size_t record = Align16(sizeof(BASEIMAGE));
            std::size_t total = header + record + Align16(static_cast<std::size_t>(colorBytes));
            if (alpha) total += record + static_cast<std::size_t>(alphaBytes);
            s = static_cast<GraphRestoreSource*>(
                AllocateTrackedMemoryZeroed(total, kSourceFile, __LINE__));
            if (s == nullptr) {
                WriteLogTextUtf16(
                    u"転送する基本イメージを保存するメモリ領域の確保に失敗しました\n");
                return -1;
            }
            auto* at = reinterpret_cast<std::uint8_t*>(s) + header;
            auto copyImage = [&](const BASEIMAGE* image, std::int64_t bytes) {
                auto* copy = reinterpret_cast<BASEIMAGE*>(at);
                *copy = *image;
                at += record;
                if (image->Pixels) std::memcpy(at, image->Pixels, static_cast<std::size_t>(bytes));
                copy->Pixels = at;
                at += Align16(static_cast<std::size_t>(bytes));
                return copy;
            };
            s->Color = copyImage(color, colorBytes);
            if (alpha) s->Alpha = copyImage(alpha, alphaBytes);
        }
        s->Mirror = mirror;
        s->Premultiply = premultiply;
        s->NoTransparency = noTransparency;
        s->RefCount = 1;
        r = LookUpGraphRecord(graph, 1);
        r->Restore = s;
        return 0;
    }
    if (share != nullptr && share->Restore != nullptr) {
        std::lock_guard<std::mutex> lock(gSourceLock);
        ++share->Restore->RefCount;
        r->Restore = share->Restore;
    }
    return 0;
}

int LinkGraphRestoreSource(HandleValue graph, const char16_t* fileName, int mirror, int premultiply,
                           int noTransparency, HandleValue shareWith, void* loadContext) {
    return SetGraphRestoreSource(1, graph, fileName, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                 0, nullptr, nullptr, mirror, premultiply, noTransparency,
                                 shareWith, loadContext);
}

int RestoreAllGraphs() {
    WriteLogTextUtf16(u"グラフィックを復帰します\n");
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_GRAPH];
    if (type.registered && type.count > 0) {
        for (int i = type.lowestUsed; i <= type.highestUsed; ++i) {
            auto* r = reinterpret_cast<GraphHandleRecord*>(type.slots[i]);
            if (r && r->Image) r->Image->Restored = 0;
        }
    }
    BASEIMAGE heldColor{}, heldAlpha{};
    bool haveColor = false, haveAlpha = false;
    // What the held images were read from.
    int heldKind = 0;  // 1 file, 2 memory
    const GraphRestoreSource* held = nullptr;
    auto dropHeld = [&] {
        if (haveColor) DisposeBaseImage(&heldColor);
        if (haveAlpha) DisposeBaseImage(&heldAlpha);
        haveColor = haveAlpha = false;
    };
    const int useTransparency = GraphCreationSettings.NoTransparentColor ? 0 : 1;
    for (int i = type.registered ? type.lowestUsed : 1; type.registered && i <= type.highestUsed;
         ++i) {
        auto* r = reinterpret_cast<GraphHandleRecord*>(type.slots[i]);
        if (r == nullptr || r->Restore == nullptr || r->Image == nullptr || r->Image->Restored)
            continue;
        const HandleValue handle = r->Header.handle;
        GraphImage* image = r->Image;
        const GraphRestoreSource* s = r->Restore;
        const bool whole =
            image->Format.DeviceImage && image->FormatIndex >= 12 && image->FormatIndex <= 18;
        BASEIMAGE* color = nullptr;
        BASEIMAGE* alpha = nullptr;
        if (s->FileName || s->Data) {
            const int kind = s->FileName ? 1 : 2;
            bool same = haveColor && held != nullptr && heldKind == kind &&
                        held->Mirror == s->Mirror && held->Premultiply == s->Premultiply &&
                        (kind == 1 ? CompareWideString(held->FileName, s->FileName) == 0
                                   : held->Data == s->Data && held->AlphaData == s->AlphaData);
            if (!same) {
                dropHeld();
                ImageLoadParams params;
                InitImageLoadParams(&params, 0);
                params.ConvertToPremultipliedAlpha = s->Premultiply;
                int read;
                if (kind == 1) {
                    read = LoadBaseImageWithAlphaFile(&params, s->FileName, nullptr, 0, 0, nullptr,
                                                      0, 0, &heldColor, &heldAlpha, s->Mirror,
                                                      s->NoTransparency);
                } else {
                    read = LoadBaseImageWithAlphaFile(
                        &params, nullptr, s->Data, static_cast<std::size_t>(s->DataSize), 1,
                        s->AlphaData, static_cast<std::size_t>(s->AlphaSize), 1, &heldColor,
                        s->AlphaData ? &heldAlpha : nullptr, s->Mirror, s->NoTransparency);
                }
                held = s;
                heldKind = kind;
                if (read < 0) {
                    std::memset(&heldColor, 0, sizeof(heldColor));
                    std::memset(&heldAlpha, 0, sizeof(heldAlpha));
                    if (kind == 1) {
                        WriteLogFormatUtf16(u"Image File Load Error : %s", s->FileName);
                    } else {
                        WriteLogTextUtf16(u"メモリからの画像データのローができませんでした");
                    }
                    continue;
                }
                haveColor = true;
                haveAlpha = read == 0;
                if (!haveAlpha) std::memset(&heldAlpha, 0, sizeof(heldAlpha));
            }
            color = &heldColor;
            alpha = haveAlpha ? &heldAlpha : nullptr;
        } else if (s->Color) {
            color = s->Color;
            alpha = s->Alpha;
        } else {
            continue;
        }
        if (whole) {
            RECT rect{0, 0, image->Width, image->Height};
            TransferBaseImageRectToGraph(&rect, 0, 0, handle, color, alpha, 0, 0, 1, nullptr);
            image->Restored = 1;
        } else {
            FillGraphFromImageAt(color, alpha, r->SourceX, r->SourceY, handle, useTransparency,
                                 nullptr);
        }
    }
    dropHeld();
    WriteLogTextUtf16(u"グラフィックの復帰が完了しました\n");
    return 0;
}

// ---- Divided graphs ----

int RefillDivGraphsFromImage(BASEIMAGE* color, BASEIMAGE* alpha, int count, int columns, int rows,
                             int floatPosition, int cellWidth, float cellWidthF, int cellHeight,
                             float cellHeightF, int stepX, float stepXF, int stepY, float stepYF,
                             HandleValue* handles, int mirror, int useTransparency,
                             void* loadContext) {
    (void)floatPosition;
    (void)cellWidth;
    (void)cellWidthF;
    (void)cellHeight;
    (void)cellHeightF;
    if (count <= 0 || columns <= 0 || count > columns * rows || !G().Initialised) return -1;
    const int wait = loadContext != nullptr;
    for (int i = 0; i < count; ++i)
        if (LookUpGraphRecord(handles[i], wait) == nullptr) return -1;
    bool shared = true;
    GraphImage* first = LookUpGraphRecord(handles[0], 1)->Image;
    for (int i = 0; i < count; ++i) {
        GraphHandleRecord* r = LookUpGraphRecord(handles[i], 1);
        int j = i % columns, m = i / columns;
        if (mirror) j = columns - 1 - j;
        r->SourceX = j * stepX;
        r->SourceY = m * stepY;
        r->SourceXF = static_cast<float>(j) * stepXF;
        r->SourceYF = static_cast<float>(m) * stepYF;
        if (r->Image != first) shared = false;
    }
    if (shared) {
        RECT rect{0, 0, first->Width, first->Height};
        return TransferBaseImageRectToGraph(&rect, 0, 0, handles[0], color, alpha,
                                            first->Format.BlendImage, useTransparency, 1,
                                            loadContext) < 0
                   ? -1
                   : 0;
    }
    int result = 0;
    for (int i = 0; i < count; ++i) {
        GraphHandleRecord* r = LookUpGraphRecord(handles[i], 1);
        RECT rect{r->SourceX, r->SourceY, r->SourceX + r->Width, r->SourceY + r->Height};
        if (TransferBaseImageRectToGraph(&rect, 0, 0, handles[i], color, alpha,
                                         r->Image->Format.BlendImage, useTransparency, 0,
                                         loadContext) < 0) {
            result = -1;
        }
    }
    return result;
}

int CreateDivGraphFromGraphImage(const GraphCreateParams* params, int reuse, HandleValue base,
                                 BASEIMAGE* color, BASEIMAGE* alpha, int count, int columns,
                                 int rows, int floatPosition, int cellWidth, float cellWidthF,
                                 int cellHeight, float cellHeightF, int stepX, float stepXF,
                                 int stepY, float stepYF, HandleValue* handles, int textureFlag,
                                 int mirror, int noTransparency, void* loadContext) {
    if (count <= 0 || columns <= 0 || rows <= 0 || count > columns * rows) return -1;
    if (stepX == 0) stepX = cellWidth;
    if (stepXF == 0.0f) stepXF = cellWidthF;
    if (stepY == 0) stepY = cellHeight;
    if (stepYF == 0.0f) stepYF = cellHeightF;
    if (reuse) {
        RecomputeColorFormatUnusedMask(&color->Format);
        if (alpha) RecomputeColorFormatUnusedMask(&alpha->Format);
        if (LookUpGraphRecord(handles[0], loadContext != nullptr) == nullptr) return -1;
        if (color->Width < static_cast<std::int64_t>(stepX) * columns ||
            color->Height < static_cast<std::int64_t>(stepY) * rows)
            return -1;
        if (alpha && (alpha->Width != color->Width || alpha->Height != color->Height)) return -1;
        return RefillDivGraphsFromImage(color, alpha, count, columns, rows, floatPosition,
                                        cellWidth, cellWidthF, cellHeight, cellHeightF, stepX,
                                        stepXF, stepY, stepYF, handles, mirror, !noTransparency,
                                        loadContext);
    }
    if (SetUpGraphFromBaseImage(params, 0, base, color, alpha, textureFlag, noTransparency,
                                loadContext) != 0) {
        return -1;
    }
    for (int i = 0; i < count; ++i) {
        const int m = i / columns, j = i % columns;
        const int column = mirror ? columns - 1 - j : j;
        const int x = column * stepX, y = m * stepY;
        const float xf = static_cast<float>(column) * stepXF, yf = static_cast<float>(m) * stepYF;
        if (std::int64_t{x} + stepX > color->Width || std::int64_t{m + 1} * stepY > color->Height) {
            WriteLogTextUtf16(
                u"グラフィックの分割に失敗しました。分割後の総サイズが分割元の画像よりも大きい指定"
                u"になってしまっています。 in CreateDivGraphFromGraphImage\n");
            return -1;
        }
        if (DeriveGraphFromGraph(handles[i], floatPosition, x, xf, y, yf, cellWidth, cellWidthF,
                                 cellHeight, cellHeightF, base, loadContext) != 0) {
            WriteLogTextUtf16(
                u"グラフィックの分割に失敗しました in CreateDivGraphFromGraphImage\n");
            return -1;
        }
    }
    return 0;
}

int LoadDivGraphNow(GraphLoadRequest* request, void* loadContext) {
    GraphSourceImages images;
    const LoadGraphParams& p = request->Params;
    if (ReadGraphSourceImage(request, &images) < 0) {
        if (request->FileName)
            LogWithFullPath(u"画像ファイル %s のロードに失敗しました", request->FileName);
        return -1;
    }
    int result = CreateDivGraphFromGraphImage(
        &p.Create, request->Reuse, request->BaseHandle, images.Color, images.Alpha, request->Count,
        request->Columns, request->Rows, request->FloatPosition, request->CellWidth,
        request->CellWidthF, request->CellHeight, request->CellHeightF, request->StepX,
        request->StepXF, request->StepY, request->StepYF, request->Handles, request->TextureFlag,
        request->Mirror, p.NoTransparency, loadContext);
    if (result < 0) {
        LogWithFullPath(u"画像ファイル %s の分割読み込みに失敗しました", request->FileName);
    } else {
        const bool baseImages = !request->FileName && !request->Data;
        SetGraphRestoreSource(1, request->Handles[0], request->FileName, nullptr, nullptr, nullptr,
                              request->FileName ? nullptr : request->Data, request->DataSize,
                              request->FileName ? nullptr : request->AlphaData, request->AlphaSize,
                              baseImages ? images.Color : nullptr,
                              baseImages ? images.Alpha : nullptr, request->Mirror,
                              p.ImageParams.ConvertToPremultipliedAlpha, p.NoTransparency, -1,
                              loadContext);
        for (int i = 1; i < request->Count; ++i) {
            LinkGraphRestoreSource(request->Handles[i], nullptr, request->Mirror,
                                   p.ImageParams.ConvertToPremultipliedAlpha, p.NoTransparency,
                                   request->Handles[0], loadContext);
        }
    }
    ReleaseGraphSourceImage(request, &images);
    return result;
}

namespace {

void RunDivGraphLoadJob(ASyncLoadJob* job) {
    GraphLoadRequest request;
    static thread_local PackedImages images;
    std::vector<HandleValue> handles;
    UnpackRequest(job->parameters, &request, &images, &handles);
    int result = LoadDivGraphNow(&request, job);
    const bool failed = result < 0;
    for (int i = 0; i < request.Count; ++i)
        EndHandleJob(request.Handles[i], result, failed && !request.Reuse);
    if (request.BaseHandle >= 0) EndHandleJob(request.BaseHandle, result, !request.Reuse);
}

}  // namespace

int StartDivGraphLoad(GraphLoadRequest* request, int async, void* loadContext) {
    if (loadContext == nullptr) WaitWhileWindowInactive();
    const int count = request->Count;
    if (count <= 0 || request->Columns <= 0 || request->Rows <= 0 ||
        static_cast<std::int64_t>(request->Columns) * request->Rows < count ||
        request->Handles == nullptr || !SourceGiven(request)) {
        return -1;
    }
    HandleValue* handles = request->Handles;
    request->BaseHandle = -1;
    if (request->Reuse) {
        for (int i = 0; i < count; ++i) {
            if (!IsGraphValue(handles[i]) || LookupHandleRecord(handles[i]) == nullptr) return -1;
            if (loadContext == nullptr && IsLoading(handles[i])) return -1;
        }
        if (loadContext != nullptr)
            for (int i = 0; i < count; ++i) BeginHandleASyncLoad(handles[i], -1);
    } else {
        for (int i = 0; i < count; ++i) handles[i] = -1;
        auto undo = [&] {
            for (int i = 0; i < count; ++i) {
                if (handles[i] >= 0) DeleteHandle(handles[i]);
                handles[i] = -1;
            }
            if (request->BaseHandle >= 0) DeleteHandle(request->BaseHandle);
            request->BaseHandle = -1;
            return -1;
        };
        for (int i = 0; i < count; ++i) {
            handles[i] = AllocateHandle(DX_HANDLETYPE_GRAPH, loadContext != nullptr, -1);
            if (handles[i] < 0) return undo();
        }
        request->BaseHandle = AllocateHandle(DX_HANDLETYPE_GRAPH, loadContext != nullptr, -1);
        if (request->BaseHandle < 0) return undo();
    }
    auto finishAll = [&] {
        for (int i = 0; i < count; ++i) FinishHandleASyncLoad(handles[i]);
        if (request->BaseHandle >= 0) FinishHandleASyncLoad(request->BaseHandle);
    };
    auto deleteAll = [&] {
        if (request->Reuse) return;
        for (int i = 0; i < count; ++i) {
            DeleteHandle(handles[i]);
            handles[i] = -1;
        }
        DeleteHandle(request->BaseHandle);
        request->BaseHandle = -1;
    };
    // The cell handles travel in one packed block of at most 64 KB; larger grids load at once.
    if (async && loadContext == nullptr && count <= kMaxAsyncDivCells) {
        ASyncLoadJob* job = PackJob(request, handles, count, RunDivGraphLoadJob);
        if (job == nullptr) {
            deleteAll();
            return -1;
        }
        std::vector<HandleValue> all(handles, handles + count);
        if (request->BaseHandle >= 0) all.push_back(request->BaseHandle);
        for (HandleValue h : all) BeginHandleASyncLoad(h, -1);
        if (QueueGraphJob(job, all.data(), static_cast<int>(all.size())) != 0) {
            finishAll();
            deleteAll();
            return -1;
        }
        return 0;
    }
    int result = LoadDivGraphNow(request, loadContext);
    if (loadContext != nullptr) finishAll();
    if (result == 0) {
        if (!request->Reuse) {
            DeleteHandle(request->BaseHandle);
            request->BaseHandle = -1;
        }
        return 0;
    }
    deleteAll();
    return -1;
}

int LoadDivGraphFromMemoryWithParams(const LoadGraphParams* params, int reuse, const void* data,
                                     int size, int count, int columns, int rows, int floatPosition,
                                     int cellWidth, float cellWidthF, int cellHeight,
                                     float cellHeightF, HandleValue* handles, int textureFlag,
                                     int mirror, const void* alphaData, int alphaSize, int async,
                                     void* loadContext) {
    GraphLoadRequest request;
    InitRequest(&request, params);
    request.Reuse = reuse;
    request.Data = data;
    request.DataSize = size;
    request.AlphaData = alphaData;
    request.AlphaSize = alphaSize;
    request.Count = count;
    request.Columns = columns;
    request.Rows = rows;
    request.FloatPosition = floatPosition;
    request.CellWidth = cellWidth;
    request.CellWidthF = cellWidthF;
    request.CellHeight = cellHeight;
    request.CellHeightF = cellHeightF;
    request.Handles = handles;
    request.TextureFlag = textureFlag;
    request.Mirror = mirror;
    return StartDivGraphLoad(&request, async, loadContext);
}

int CreateDivGraphFromImageInMemory(const void* data, int size, int count, int columns, int rows,
                                    int cellWidth, int cellHeight, HandleValue* handles,
                                    int textureFlag, int mirror, const void* alphaData,
                                    int alphaSize) {
    return LoadDivGraphFromMemoryWithParams(
        nullptr, 0, data, size, count, columns, rows, 0, cellWidth, static_cast<float>(cellWidth),
        cellHeight, static_cast<float>(cellHeight), handles, textureFlag, mirror, alphaData,
        alphaSize, IsASyncLoadEnabled(), nullptr);
}

int LoadDivGraphFromImageFileWide(const char16_t* fileName, int count, int columns, int rows,
                                  int cellWidth, int cellHeight, HandleValue* handles,
                                  int textureFlag, int mirror) {
    GraphLoadRequest request;
    InitRequest(&request, nullptr);
    request.FileName = fileName;
    request.Count = count;
    request.Columns = columns;
    request.Rows = rows;
    request.CellWidth = cellWidth;
    request.CellWidthF = static_cast<float>(cellWidth);
    request.CellHeight = cellHeight;
    request.CellHeightF = static_cast<float>(cellHeight);
    request.Handles = handles;
    request.TextureFlag = textureFlag;
    request.Mirror = mirror;
    return StartDivGraphLoad(&request, IsASyncLoadEnabled(), nullptr);
}

int LoadDivGraphFromImageFile(const char* fileName, int count, int columns, int rows, int cellWidth,
                              int cellHeight, HandleValue* handles, int textureFlag, int mirror) {
    WideText name(fileName);
    if (name.Failed()) return -1;
    return LoadDivGraphFromImageFileWide(name.Get(), count, columns, rows, cellWidth, cellHeight,
                                         handles, textureFlag, mirror);
}

}  // namespace ZiDaz
