// The draw-target lock and everything built on it: copies of the draw target, single pixels and
// saved screenshots; SoftImage handles; the texture pixel-format table.
#include <cstring>

#include "Main/DxChar.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxWideText.h"

namespace ZiDaz {

namespace {

constexpr const char* kSourceFile = "DxGraphics";

int SoftImageModuleStarted = 0;

GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}
DrawSettingsData& Draw() {
    return GraphicsSystemState.DrawSettings;
}
bool DeviceInUse() {
    return GraphicsSystemState.DevicePresent != 0;
}
bool IsGraphValue(HandleValue v) {
    return v >= 0 && ((v & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_GRAPH;
}
int ScreenBits() {
    const int bits = G().ScreenModeSettings.ColorBitDepth;
    return bits != 0 ? bits : 16;
}

// The memory image a software draw target or graph shows: the graph's, else the screen's.
MEMIMG* SoftwareImageOf(HandleValue target) {
    if (IsGraphValue(target)) {
        if (MEMIMG* graph = GetGraphMemImg(target)) return graph;
        if (LookUpGraphRecord(target, 0) != nullptr) return nullptr;
    }
    return &G().ScreenImage;
}

bool RectInside(int x1, int y1, int x2, int y2, int width, int height) {
    return 0 <= x1 && x1 < x2 && x2 <= width && 0 <= y1 && y1 < y2 && y2 <= height;
}

bool SaveTypeKnown(int type) {
    return type >= DX_IMAGESAVE_BMP && type <= DX_IMAGESAVE_DDS;
}

// Writes a locked view as a file of the type; the writer's result.
int WriteView(const char16_t* name, BASEIMAGE* view, int type, int quality, int samplingFlag,
              int pngLevel) {
    switch (type) {
        case DX_IMAGESAVE_BMP:
            return WriteBaseImageBmpFile(name, view);
        case DX_IMAGESAVE_JPEG:
            return WriteBaseImageJpegFile(name, view, quality, samplingFlag);
        case DX_IMAGESAVE_PNG:
            return WriteBaseImagePngFile(name, view, pngLevel);
        case DX_IMAGESAVE_DDS:
            return WriteBaseImageDdsFile(name, view, 0, 1);
        default:
            return -1;
    }
}

// Saves every face and mip level of a device graph as one DDS file.
int SaveWholeDeviceGraphAsDds(HandleValue graph, GraphHandleRecord* r, const char16_t* name) {
    const int faces = r->Image->Format.CubeMap ? 6 : 1;
    const int levels = r->Image->MipLevels > 0 ? r->Image->MipLevels : 1;
    const std::size_t count = static_cast<std::size_t>(faces) * levels;
    auto* images = static_cast<BASEIMAGE*>(
        AllocateTrackedMemoryZeroed(count * sizeof(BASEIMAGE), kSourceFile, __LINE__));
    if (images == nullptr) {
        WriteLogTextUtf16(
            u"描画対象にできるグラフィックハンドル保存処理で使用する BASEIMAGE "
            u"構造体配列を保存するためのメモリの確保に失敗しました\n");
        return -1;
    }
    std::size_t made = 0;
    int result = 0;
    for (int face = 0; face < faces && result == 0; ++face) {
        for (int level = 0; level < levels; ++level) {
            int w = 0, h = 0;
            ComputeMipLevelSize(r->Width, r->Height, level, &w, &h);
            BASEIMAGE view{};
            if (LockDrawTargetRect(0, 0, w, h, &view, graph, face, level, 1, 0) != 0) {
                result = -1;
                break;
            }
            BASEIMAGE& copy = images[made];
            if (NewBaseImageInFormat(view.Width, view.Height, &view.Format, &copy) != 0) {
                WriteLogTextUtf16(
                    u"描画対象にできるグラフィックハンドル保存処理で使用するメモリの確保に失敗しま"
                    u"した\n");
                UnlockDrawTarget();
                result = -1;
                break;
            }
            ++made;
            CopyWholeBaseImage(0, 0, &view, &copy);
            UnlockDrawTarget();
        }
    }
    if (result == 0) result = WriteBaseImageDdsFile(name, images, faces == 6 ? 1 : 0, levels);
    for (std::size_t i = 0; i < made; ++i) DisposeBaseImage(&images[i]);
    FreeTrackedMemory(images);
    return result < 0 ? -1 : 0;
}

}  // namespace

// ---- Capture and copies ----

int LockDrawTargetRect(int x1, int y1, int x2, int y2, BASEIMAGE* image, HandleValue target,
                       int face, int mip, int readOnly, int option) {
    GraphicsSystemStateData& g = G();
    const DrawSettingsData& d = Draw();
    if (image == nullptr) return -1;
    if (target == -1) {
        target = d.DrawTarget;
        face = d.TargetCubeFace;
        mip = d.TargetMipLevel;
    } else {
        if (face == -1) face = 0;
        if (mip == -1) mip = 0;
    }
    GraphHandleRecord* graph = IsGraphValue(target) ? LookUpGraphRecord(target, 0) : nullptr;
    int width = 0, height = 0;
    if (graph != nullptr) {
        ComputeMipLevelSize(graph->Width, graph->Height, mip, &width, &height);
    } else {
        width = d.DrawTargetWidth;
        height = d.DrawTargetHeight;
    }
    if (!RectInside(x1, y1, x2, y2, width, height)) return -1;
    if (DeviceInUse()) {
        const RECT rect{x1, y1, x2, y2};
        if (Backend_LockDrawTarget(&rect, image, target, graph, face, mip, readOnly, option) < 0)
            return -1;
    } else {
        MEMIMG* source = graph != nullptr ? GetGraphMemImg(target) : &g.ScreenImage;
        if (source == nullptr || !IsMemImgValid(source) || x2 > source->Width ||
            y2 > source->Height)
            return -1;
        const int bpp = MemImgBytesPerPixel(source->Shared);
        std::memset(image, 0, sizeof(*image));
        image->Format = *source->Shared->Format;
        image->Pitch = source->Shared->Pitch;
        image->Pixels = source->Pixels + static_cast<std::ptrdiff_t>(y1) * source->Shared->Pitch +
                        static_cast<std::ptrdiff_t>(x1) * bpp;
        image->Width = x2 - x1;
        image->Height = y2 - y1;
    }
    g.DrawTargetLocked = 1;
    return 0;
}

int UnlockDrawTarget() {
    GraphicsSystemStateData& g = G();
    if (!g.DrawTargetLocked) return 0;
    if (DeviceInUse()) Backend_UnlockDrawTarget();
    g.DrawTargetLocked = 0;
    return 0;
}

int GetDrawTargetBaseImageAt(int x1, int y1, int x2, int y2, BASEIMAGE* dest, int destX,
                             int destY) {
    if (dest == nullptr || x1 < 0 || x1 >= x2 || y1 < 0 || y1 >= y2 || destX < 0 || destY < 0)
        return -1;
    if (dest->Width < std::int64_t{x2} - x1 + destX || dest->Height < std::int64_t{y2} - y1 + destY)
        return -1;
    BASEIMAGE view{};
    if (LockDrawTargetRect(x1, y1, x2, y2, &view, -1, -1, -1, 1, 0) != 0) return -1;
    CopyWholeBaseImage(destX, destY, &view, dest);
    UnlockDrawTarget();
    return 0;
}

int GetDrawTargetBaseImage(int x1, int y1, int x2, int y2, BASEIMAGE* dest) {
    return GetDrawTargetBaseImageAt(x1, y1, x2, y2, dest, 0, 0);
}

int CopyGraphRectToGraph(HandleValue source, int face, int mip, int x1, int y1, int x2, int y2,
                         int destX, int destY, HandleValue dest) {
    GraphHandleRecord* d = LookUpGraphRecord(dest, 0);
    if (d == nullptr || d->Image == nullptr) return -1;
    GraphHandleRecord* s = IsGraphValue(source) ? LookUpGraphRecord(source, 0) : nullptr;
    const int sourceWidth = s != nullptr ? s->Width : Draw().DrawTargetWidth;
    const int sourceHeight = s != nullptr ? s->Height : Draw().DrawTargetHeight;
    if (!RectInside(x1, y1, x2, y2, sourceWidth, sourceHeight) || destX < 0 || destY < 0 ||
        d->Width < std::int64_t{x2} - x1 + destX || d->Height < std::int64_t{y2} - y1 + destY)
        return -1;
    if (!d->Image->Format.DeviceImage) {
        MEMIMG* from = s != nullptr ? GetGraphMemImg(source) : &G().ScreenImage;
        MEMIMG* to = GetGraphMemImg(dest);
        if (from == nullptr || to == nullptr || !IsMemImgValid(from) || !IsMemImgValid(to))
            return -1;
        const RECT rect{x1, y1, x2, y2};
        CopyMemImgRect(to, from, &rect, destX, destY);
        return 0;
    }
    return Backend_CopyGraphRect(d, s, source, face, mip, sourceWidth, sourceHeight, x1, y1, x2, y2,
                                 destX, destY) < 0
               ? -1
               : 0;
}

int CopyDrawTargetToGraph(int x1, int y1, int x2, int y2, HandleValue graph) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Width != std::int64_t{x2} - x1 || r->Height != std::int64_t{y2} - y1)
        return -1;
    const DrawSettingsData& d = Draw();
    return CopyGraphRectToGraph(d.DrawTarget, d.TargetCubeFace, d.TargetMipLevel, x1, y1, x2, y2, 0,
                                0, graph);
}

int GetDrawTargetPixel(int x, int y) {
    const DrawSettingsData& d = Draw();
    if (x < 0 || y < 0 || x >= d.DrawTargetWidth || y >= d.DrawTargetHeight) return -1;
    if (DeviceInUse()) return Backend_ReadPixelColor(x, y);
    MEMIMG* image = SoftwareImageOf(d.DrawTarget);
    if (image == nullptr || !IsMemImgValid(image) || x >= image->Width || y >= image->Height)
        return -1;
    const int bits = ScreenBits();
    const int bpp = MemImgBytesPerPixel(image->Shared);
    const std::uint8_t* p = image->Pixels + static_cast<std::ptrdiff_t>(y) * image->Shared->Pitch +
                            static_cast<std::ptrdiff_t>(x) * bpp;
    if (bits == 16 && bpp == 2) {
        std::uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    if (bits == 32 && bpp == 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        return static_cast<int>(v);
    }
    return -1;
}

// ---- Saving ----

int SaveDrawTargetRectToFileWide(int x1, int y1, int x2, int y2, const char16_t* fileName, int type,
                                 int quality, int samplingFlag, int pngLevel) {
    const DrawSettingsData& d = Draw();
    // An unknown type would write nothing; that is no saved screenshot.
    if (!SaveTypeKnown(type) || fileName == nullptr) return -1;
    if (!RectInside(x1, y1, x2, y2, d.DrawTargetWidth, d.DrawTargetHeight)) return -1;
    BASEIMAGE view{};
    if (LockDrawTargetRect(x1, y1, x2, y2, &view, -1, -1, -1, 1, 0) != 0) return -1;
    const int result = WriteView(fileName, &view, type, quality, samplingFlag, pngLevel);
    UnlockDrawTarget();
    return result < 0 ? -1 : 0;
}

int SaveDrawTargetRectToFile(int x1, int y1, int x2, int y2, const char* fileName, int type,
                             int quality, int samplingFlag, int pngLevel) {
    WideText name(fileName);
    if (name.Failed() || name.Get() == nullptr) return -1;
    return SaveDrawTargetRectToFileWide(x1, y1, x2, y2, name.Get(), type, quality, samplingFlag,
                                        pngLevel);
}

int SaveDrawTargetRectAsJpeg(int x1, int y1, int x2, int y2, const char* fileName, int quality,
                             int samplingFlag) {
    return SaveDrawTargetRectToFile(x1, y1, x2, y2, fileName, DX_IMAGESAVE_JPEG, quality,
                                    samplingFlag, -1);
}

int SaveGraphRectToFileWide(HandleValue graph, int x1, int y1, int x2, int y2,
                            const char16_t* fileName, int type, int quality, int samplingFlag,
                            int pngLevel) {
    GraphHandleRecord* r = LookUpGraphRecord(graph, 0);
    if (r == nullptr || r->Image == nullptr || fileName == nullptr || !SaveTypeKnown(type))
        return -1;
    if (x1 == 0 && y1 == 0 && x2 == r->Width && y2 == r->Height && type == DX_IMAGESAVE_DDS &&
        r->Image->Format.DeviceImage)
        return SaveWholeDeviceGraphAsDds(graph, r, fileName);
    if (!RectInside(x1, y1, x2, y2, r->Width, r->Height)) return -1;
    BASEIMAGE view{};
    if (LockDrawTargetRect(x1, y1, x2, y2, &view, graph, 0, 0, 1, 0) != 0) return -1;
    const int result = WriteView(fileName, &view, type, quality, samplingFlag, pngLevel);
    UnlockDrawTarget();
    return result < 0 ? -1 : 0;
}

int SaveGraphRectToFile(HandleValue graph, int x1, int y1, int x2, int y2, const char* fileName,
                        int type, int quality, int samplingFlag, int pngLevel) {
    WideText name(fileName);
    if (name.Failed() || name.Get() == nullptr) return -1;
    return SaveGraphRectToFileWide(graph, x1, y1, x2, y2, name.Get(), type, quality, samplingFlag,
                                   pngLevel);
}

int SaveGraphRectAsPng(HandleValue graph, int x1, int y1, int x2, int y2, const char* fileName,
                       int level) {
    return SaveGraphRectToFile(graph, x1, y1, x2, y2, fileName, DX_IMAGESAVE_PNG, 80, 1, level);
}

// ---- Soft images ----

int InitSoftImageModule() {
    if (SoftImageModuleStarted) return -1;
    RegisterHandleType(DX_HANDLETYPE_SOFTIMAGE, static_cast<int>(sizeof(SoftImageRecord)),
                       kMaxSoftImageHandles, nullptr, ReleaseSoftImageRecord, nullptr,
                       u"SoftImage");
    SoftImageModuleStarted = 1;
    return 0;
}

int EndSoftImageModule() {
    if (!SoftImageModuleStarted) return -1;
    SoftImageModuleStarted = 0;
    UnregisterHandleType(DX_HANDLETYPE_SOFTIMAGE);
    return 0;
}

int ReleaseSoftImageRecord(HandleHeader* header) {
    DisposeBaseImage(&reinterpret_cast<SoftImageRecord*>(header)->Image);
    return 0;
}

SoftImageRecord* LookUpSoftImageRecord(HandleValue softImage) {
    return reinterpret_cast<SoftImageRecord*>(
        LookUpLoadedHandle(softImage, DX_HANDLETYPE_SOFTIMAGE, 0));
}

HandleValue MakeXrgb8SoftImage(int width, int height) {
    const HandleValue handle = AllocateHandle(DX_HANDLETYPE_SOFTIMAGE, 0, -1);
    if (handle < 0) return -1;
    auto* r = reinterpret_cast<SoftImageRecord*>(LookupHandleRecord(handle));
    if (r == nullptr || NewBaseImageXrgb8(width, height, &r->Image) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

int GetDrawScreenSoftImage(int x1, int y1, int x2, int y2, HandleValue softImage) {
    SoftImageRecord* r = LookUpSoftImageRecord(softImage);
    if (r == nullptr) return -1;
    return GetDrawTargetBaseImageAt(x1, y1, x2, y2, &r->Image, 0, 0);
}

int DeleteSoftImage(HandleValue softImage) {
    if (LookUpSoftImageRecord(softImage) == nullptr) return -1;
    return DeleteHandle(softImage);
}

int DeleteAllSoftImages() {
    if (!SoftImageModuleStarted) return -1;
    return DeleteAllHandlesOfType(DX_HANDLETYPE_SOFTIMAGE, nullptr);
}

HandleValue CreateGraphFromSoftImage(HandleValue softImage) {
    SoftImageRecord* r = LookUpSoftImageRecord(softImage);
    if (r == nullptr) return -1;
    return CreateGraphFromBaseImage(&r->Image);
}

// ---- Queries ----

int GetDisplayRefreshRate() {
    return QueryDisplayRefreshRate();
}

int GetTransparentColor(int* red, int* green, int* blue) {
    if (ScreenBits() == 8) return -1;
    const std::uint32_t c = GraphCreationSettings.TransparentColor;
    if (red) *red = static_cast<int>(c >> 16 & 0xFF);
    if (green) *green = static_cast<int>(c >> 8 & 0xFF);
    if (blue) *blue = static_cast<int>(c & 0xFF);
    return 0;
}

const COLORFORMAT* GetTextureColorFormatByIndex(int index) {
    static COLORFORMAT table[kTextureFormatCount];
    static bool built = false;
    if (index < 0 || index >= kTextureFormatCount) return nullptr;
    if (!built) {
        std::memset(table, 0, sizeof(table));
        auto masks = [](int i, int bits, std::uint32_t r, std::uint32_t g, std::uint32_t b,
                        std::uint32_t a) {
            InitColorFormatFromMasks(&table[i], bits, r, g, b, a, 0, 0, 0);
        };
        auto channels = [](int i, int count, int bits, int isFloat) {
            InitColorFormatFromMasks(&table[i], 0, 0, 0, 0, 0, count, bits, isFloat);
        };
        masks(6, 16, 0xF800, 0x7E0, 0x1F, 0);
        masks(7, 32, 0xFF0000, 0xFF00, 0xFF, 0);
        masks(8, 16, 0xF00, 0xF0, 0xF, 0xF000);
        masks(9, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
        masks(10, 16, 0x7C00, 0x3E0, 0x1F, 0x8000);
        masks(11, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
        for (int i = 12; i <= 22; ++i) {
            masks(i, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
            table[i].FormatKind = static_cast<std::uint8_t>(i - 11);
            table[i].BitsPerPixel = i == 12 ? 4 : 8;
        }
        channels(24, 4, 16, 0);
        channels(25, 4, 16, 1);
        channels(26, 4, 32, 1);
        channels(27, 1, 8, 0);
        channels(28, 1, 16, 0);
        channels(29, 1, 16, 1);
        channels(30, 1, 32, 1);
        channels(31, 2, 8, 0);
        channels(32, 2, 16, 0);
        channels(33, 2, 16, 1);
        channels(34, 2, 32, 1);
        masks(35, 16, 0xF800, 0x7E0, 0x1F, 0);
        masks(36, 32, 0xFF0000, 0xFF00, 0xFF, 0);
        masks(37, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000);
        channels(38, 4, 16, 0);
        channels(39, 4, 16, 1);
        channels(40, 4, 32, 1);
        channels(41, 1, 8, 0);
        channels(42, 1, 16, 0);
        channels(43, 1, 16, 1);
        channels(44, 1, 32, 1);
        channels(45, 2, 8, 0);
        channels(46, 2, 16, 0);
        channels(47, 2, 16, 1);
        channels(48, 2, 32, 1);
        built = true;
    }
    return &table[index];
}

const COLORFORMAT* GetTextureColorFormat(int alphaChannel, int alphaTest, int bit32, int drawable) {
    GraphFormatDesc desc{};
    desc.Alpha = static_cast<std::uint8_t>(alphaChannel != 0);
    desc.KeyAlpha = static_cast<std::uint8_t>(alphaTest != 0);
    desc.ColorBits = static_cast<std::uint8_t>(bit32 ? 32 : 16);
    desc.Drawable = static_cast<std::uint8_t>(drawable != 0);
    return GetTextureColorFormatByIndex(ComputeTextureFormatIndex(&desc));
}

}  // namespace ZiDaz
