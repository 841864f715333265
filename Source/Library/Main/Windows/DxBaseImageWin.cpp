// The base-image module's Windows side: packed DIBs read into base images (directly when their
// pixels can be used as they are, else drawn through GDI into 24 bits), DIB sections built from
// DIBs and image files, and the Windows Imaging Component reader, which stays without a factory
// where the component is absent and then refuses every image.
#include <algorithm>
#include <cstring>

#include "Main/DxBaseImage.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Com.h"

namespace ZiDaz {

namespace {

constexpr std::uint64_t kMaxDibBytes = 0x7FFFFFFF;

using CreateCompatibleDCFn = HDC (*)(HDC);
using CreateDIBSectionFn = HBITMAP (*)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
using SelectObjectFn = HGDIOBJ (*)(HDC, HGDIOBJ);
using GetObjectAFn = int (*)(HGDIOBJ, int, LPVOID);
using SetDIBitsToDeviceFn = int (*)(HDC, int, int, DWORD, DWORD, int, int, UINT, UINT, const void*,
                                    const BITMAPINFO*, UINT);
using StretchDIBitsFn = int (*)(HDC, int, int, int, int, int, int, int, int, const void*,
                                const BITMAPINFO*, UINT, DWORD);
using DeleteDCFn = BOOL (*)(HDC);

// The GDI entries this file calls; false when any is missing.
struct Gdi {
    CreateCompatibleDCFn CreateCompatibleDC;
    CreateDIBSectionFn CreateDIBSection;
    SelectObjectFn SelectObject;
    GetObjectAFn GetObjectA;
    SetDIBitsToDeviceFn SetDIBitsToDevice;
    StretchDIBitsFn StretchDIBits;
    DeleteDCFn DeleteDC;
    BOOL (*DeleteObject)(HGDIOBJ);

    bool Load() {
        EnsureSystemApiTable();
        CreateCompatibleDC = reinterpret_cast<CreateCompatibleDCFn>(SystemApi.CreateCompatibleDC);
        CreateDIBSection = reinterpret_cast<CreateDIBSectionFn>(SystemApi.CreateDIBSection);
        SelectObject = reinterpret_cast<SelectObjectFn>(SystemApi.SelectObject);
        GetObjectA = reinterpret_cast<GetObjectAFn>(SystemApi.GetObjectA);
        SetDIBitsToDevice = reinterpret_cast<SetDIBitsToDeviceFn>(SystemApi.SetDIBitsToDevice);
        StretchDIBits = reinterpret_cast<StretchDIBitsFn>(SystemApi.StretchDIBits);
        DeleteDC = reinterpret_cast<DeleteDCFn>(SystemApi.DeleteDC);
        DeleteObject = SystemApi.DeleteObject;
        return CreateCompatibleDC && CreateDIBSection && SelectObject && GetObjectA &&
               SetDIBitsToDevice && StretchDIBits && DeleteDC && DeleteObject;
    }
};

BITMAPINFOHEADER HeaderOf(const BITMAPINFO* info) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, info, sizeof(h));
    return h;
}

std::uint32_t MaskAfter(const BITMAPINFO* info, int index) {
    std::uint32_t m;
    std::memcpy(&m, reinterpret_cast<const std::uint8_t*>(info) + 40 + index * 4, 4);
    return m;
}

const char16_t* const kDibFailed3 = u"ＤＩＢの作成に失敗しました3\n";
const char16_t* const kDibFailed2 = u"ＤＩＢの作成に失敗しました2\n";
const char16_t* const kRgb24Memory =
    u"２４ビットカラー化したグラフィックを格納するメモリ領域の確保に失敗しました\n";

}  // namespace

int ConvertDibToRgb24(const BITMAPINFO* info, const void* bits, std::size_t bitsSize,
                      BASEIMAGE* image) {
    Gdi gdi;
    if (info == nullptr || bits == nullptr || !gdi.Load()) return -1;
    const BITMAPINFOHEADER h = HeaderOf(info);
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return -1;
    const std::int64_t height = h.biHeight < 0 ? -std::int64_t(h.biHeight) : h.biHeight;
    // Uncompressed rows must all be there; compressed data of a known size describes at most 256
    // pixels a byte (or 1M pixels), so that a damaged header makes no huge section.
    if (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS) {
        const std::uint64_t stride = (std::uint64_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
        if (stride * height > bitsSize) return -1;
    } else if (bitsSize != SIZE_MAX &&
               std::uint64_t(h.biWidth) * height >
                   std::max<std::uint64_t>(std::uint64_t(bitsSize) * 256, 1u << 20)) {
        return -1;
    }
    const std::uint64_t pitch = (std::uint64_t(h.biWidth) * 3 + 3) & ~3ull;
    if (pitch * height > kMaxDibBytes) return -1;

    HDC dc = gdi.CreateCompatibleDC(nullptr);
    if (dc == nullptr) return -1;
    BITMAPINFO section{};
    section.bmiHeader.biSize = 40;
    section.bmiHeader.biWidth = h.biWidth;
    section.bmiHeader.biHeight = static_cast<LONG>(-height);
    section.bmiHeader.biPlanes = 1;
    section.bmiHeader.biBitCount = 24;
    section.bmiHeader.biCompression = BI_RGB;
    void* sectionBits = nullptr;
    HBITMAP bitmap = gdi.CreateDIBSection(dc, &section, DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    if (bitmap == nullptr || sectionBits == nullptr) {
        if (bitmap) gdi.DeleteObject(bitmap);
        gdi.DeleteDC(dc);
        WriteLogTextUtf16(kDibFailed3);
        return -1;
    }
    HGDIOBJ previous = gdi.SelectObject(dc, bitmap);
    // A DIB the system cannot draw copies no line; it is then not an image of this kind.
    const int lines =
        gdi.SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(h.biWidth), static_cast<DWORD>(height),
                              0, 0, 0, static_cast<UINT>(height), bits, info, DIB_RGB_COLORS);
    BITMAP bm{};
    gdi.GetObjectA(bitmap, sizeof(bm), &bm);
    void* pixels = nullptr;
    int result = -1;
    if (lines > 0) {
        pixels = AllocateTrackedMemory(static_cast<std::size_t>(pitch * height), "DxBaseImageWin",
                                       __LINE__);
        if (pixels == nullptr) {
            WriteLogTextUtf16(kRgb24Memory);
        } else {
            const std::uint64_t rowBytes = std::min<std::uint64_t>(
                pitch, bm.bmWidthBytes > 0 ? std::uint64_t(bm.bmWidthBytes) : pitch);
            for (std::int64_t y = 0; y < height; ++y) {
                std::memcpy(static_cast<std::uint8_t*>(pixels) + y * pitch,
                            static_cast<const std::uint8_t*>(sectionBits) + y * rowBytes, rowBytes);
            }
            result = 0;
        }
    }
    gdi.SelectObject(dc, previous);
    gdi.DeleteObject(bitmap);
    gdi.DeleteDC(dc);
    if (result != 0) return -1;
    std::memset(image, 0, sizeof(*image));
    InitColorFormatRgb24(&image->Format);
    image->Width = h.biWidth;
    image->Height = static_cast<std::int32_t>(height);
    image->Pitch = static_cast<std::int32_t>(pitch);
    image->Pixels = pixels;
    return 0;
}

int ReadBitmapInfoImage(const BITMAPINFO* info, const void* bits, BASEIMAGE* image, int copy) {
    std::memset(image, 0, sizeof(*image));
    if (info == nullptr || bits == nullptr) return -1;
    const BITMAPINFOHEADER h = HeaderOf(info);
    if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return -1;
    const int bitCount = h.biBitCount;
    if (h.biHeight < 0 && (bitCount == 16 || bitCount == 24 || bitCount == 32) &&
        (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS)) {
        COLORFORMAT& f = image->Format;
        if (h.biCompression == BI_BITFIELDS) {
            InitColorFormatFromMasks(&f, bitCount, MaskAfter(info, 0), MaskAfter(info, 1),
                                     MaskAfter(info, 2), 0, 0, 0, 0);
        } else if (bitCount == 16) {
            InitColorFormatX1R5G5B5(&f);
        } else if (bitCount == 24) {
            InitColorFormatRgb24(&f);
        } else {
            // Top-down 32-bit BI_RGB: the fourth byte is not colour.
            InitColorFormatXrgb8(&f);
        }
        const std::uint64_t pitch = (std::uint64_t(bitCount / 8) * h.biWidth + 3) & ~3ull;
        const std::int64_t height = -std::int64_t(h.biHeight);
        if (pitch * height > kMaxDibBytes) return -1;
        image->Width = h.biWidth;
        image->Height = static_cast<std::int32_t>(height);
        image->Pitch = static_cast<std::int32_t>(pitch);
        if (copy == 1) {
            void* pixels = AllocateTrackedMemory(static_cast<std::size_t>(pitch * height),
                                                 "DxBaseImageWin", __LINE__);
            if (pixels == nullptr) {
                std::memset(image, 0, sizeof(*image));
                return -1;
            }
            std::memcpy(pixels, bits, static_cast<std::size_t>(pitch * height));
            image->Pixels = pixels;
            return 1;
        }
        image->Pixels = const_cast<void*>(bits);
        return copy;
    }
    if (ConvertDibToRgb24(info, bits, SIZE_MAX, image) != 0) {
        std::memset(image, 0, sizeof(*image));
        return -1;
    }
    return 1;
}

HBITMAP BuildDIBSection(const BITMAPINFO* info, const void* bits, int mirror, COLORFORMAT* format) {
    Gdi gdi;
    if (info == nullptr || bits == nullptr || !gdi.Load()) return nullptr;
    const BITMAPINFOHEADER source = HeaderOf(info);
    if (source.biWidth <= 0 || source.biHeight == 0 || source.biHeight == INT32_MIN) {
        return nullptr;
    }
    HDC dc = gdi.CreateCompatibleDC(nullptr);
    if (dc == nullptr) return nullptr;
    const int sourceBits = source.biBitCount;
    std::size_t extra = 0;
    if (format && (format->BitsPerPixel == 16 || (format->BitsPerPixel > 24 && sourceBits != 24))) {
        extra = 12;
    } else if (sourceBits <= 8) {
        extra = std::size_t(4) << sourceBits;
    }
    auto* block = static_cast<std::uint8_t*>(
        AllocateTrackedMemoryZeroed(40 + extra, "DxBaseImageWin", __LINE__));
    if (block == nullptr) {
        WriteLogTextUtf16(u"メモリの確保に失敗しました in CreateDIBGraph \n");
        gdi.DeleteDC(dc);
        return nullptr;
    }
    const std::int32_t height = source.biHeight < 0 ? -source.biHeight : source.biHeight;
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = source.biWidth;
    h.biHeight = -height;
    h.biPlanes = 1;
    auto putMasks = [&](const COLORFORMAT* f) {
        std::memcpy(block + 40, &f->RedMask, 4);
        std::memcpy(block + 44, &f->GreenMask, 4);
        std::memcpy(block + 48, &f->BlueMask, 4);
    };
    if (format == nullptr) {
        if (sourceBits == 8) {
            h.biBitCount = 8;
            h.biCompression = source.biCompression;
            std::memcpy(block + 40, reinterpret_cast<const std::uint8_t*>(info) + 40, 1024);
        } else {
            h.biBitCount = 24;
            h.biCompression = BI_RGB;
        }
    } else if (format->BitsPerPixel == 16) {
        h.biBitCount = 16;
        h.biCompression = BI_BITFIELDS;
        putMasks(format);
    } else if (format->BitsPerPixel <= 24 || sourceBits == 24) {
        if (format->BitsPerPixel == 32) InitColorFormatRgb24(format);
        h.biBitCount = format->BitsPerPixel;
        h.biCompression = BI_RGB;
    } else {
        h.biBitCount = 32;
        h.biCompression = BI_BITFIELDS;
        putMasks(format);
    }
    std::memcpy(block, &h, sizeof(h));
    void* sectionBits = nullptr;
    HBITMAP bitmap = gdi.CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(block),
                                          DIB_RGB_COLORS, &sectionBits, nullptr, 0);
    FreeTrackedMemory(block);
    if (bitmap == nullptr) {
        WriteLogTextUtf16(kDibFailed3);
        gdi.DeleteDC(dc);
        return nullptr;
    }
    if (sectionBits == nullptr) {
        WriteLogTextUtf16(kDibFailed2);
        gdi.DeleteObject(bitmap);
        gdi.DeleteDC(dc);
        return nullptr;
    }
    HGDIOBJ previous = gdi.SelectObject(dc, bitmap);
    if (mirror) {
        gdi.StretchDIBits(dc, 0, 0, source.biWidth, height, source.biWidth - 1, 0, -source.biWidth,
                          height, bits, info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        gdi.SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(source.biWidth),
                              static_cast<DWORD>(height), 0, 0, 0, static_cast<UINT>(height), bits,
                              info, DIB_RGB_COLORS);
    }
    gdi.SelectObject(dc, previous);
    gdi.DeleteDC(dc);
    return bitmap;
}

HBITMAP LoadImageAsDIBSection(const char16_t* fileName, const void* memory, std::size_t memorySize,
                              int fromMemory, int mirror, COLORFORMAT* format) {
    BITMAPINFO* info = nullptr;
    void* bits = nullptr;
    BASEIMAGE unused{};
    if (ReadImageToBaseImage(fileName, memory, memorySize, fromMemory, 1, 0, 0, &unused, &info,
                             &bits) != 0) {
        return nullptr;
    }
    HBITMAP bitmap = BuildDIBSection(info, bits, mirror, format);
    FreeTrackedMemory(info);
    FreeTrackedMemory(bits);
    return bitmap;
}

HBITMAP CreateDIBGraph(const char16_t* fileName, int mirror, COLORFORMAT* format) {
    return LoadImageAsDIBSection(fileName, nullptr, 0, 0, mirror, format);
}

// --- The Windows Imaging Component ------------------------------------------------------------

namespace {

// {CACAF262-9370-4615-A13B-9F5539DA4C0A}
constexpr CLSID kImagingFactoryClass = {
    0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
// {EC5EC8A9-C395-4314-9C77-54D7A935FF70}
constexpr IID kImagingFactoryInterface = {
    0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};

IUnknown* ImagingFactory = nullptr;

}  // namespace

int StartWicImageReader() {
    void* factory = nullptr;
    if (WinCoCreateInstance(kImagingFactoryClass, nullptr, CLSCTX_INPROC_SERVER,
                            kImagingFactoryInterface, &factory, 0) < 0) {
        factory = nullptr;
    }
    ImagingFactory = static_cast<IUnknown*>(factory);
    BaseImageLoadSettings.PlatformReadersLast = 1;
    return 0;
}

int EndWicImageReader() {
    if (ImagingFactory) ImagingFactory->Release();
    ImagingFactory = nullptr;
    return 0;
}

// No platform layer offers the imaging factory, so there is never one to decode with.
int ReadWicImage(ImageReaderAccess*, BASEIMAGE*, int) {
    return -1;
}

}  // namespace ZiDaz
