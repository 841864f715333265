// The mask layer and the Mask handles. While masking is on every primitive is bracketed: the
// opening half saves what the target holds under the primitive (software: into the work image,
// which the renderer then draws on; device: through the back end), the closing half lets the
// result through only where the layer's byte is 0.
#include "Main/DxMask.h"

#include <algorithm>
#include <cstring>

#include "Main/DxASyncLoad.h"
#include "Main/DxBaseImage.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemImgRows.h"
#include "Main/DxMemory.h"
#include "Main/DxWideText.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"

namespace ZiDaz {

MaskLayerStateData MaskLayerState;

namespace {

constexpr const char* kSourceFile = "DxMask";
constexpr int kFullPathBytes = 2048;

MaskLayerStateData& M() {
    return MaskLayerState;
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

// The memory image the current draw target draws into without masking.
MEMIMG* TargetImage() {
    GraphicsSystemStateData& g = GraphicsSystemState;
    if (IsGraphValue(g.DrawSettings.DrawTarget)) {
        if (MEMIMG* graph = GetGraphMemImg(g.DrawSettings.DrawTarget)) return graph;
    }
    return &g.ScreenImage;
}

bool Empty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

// Clips the rectangle further into an image of the given size.
void ClipToSize(RECT* r, int width, int height) {
    RECT bound{0, 0, width, height};
    ClipRectangle(r, &bound);
}

void ReleaseWorkImage() {
    MaskLayerStateData& m = M();
    if (GraphicsSystemState.SoftwareDrawDestination == &m.WorkImage)
        GraphicsSystemState.SoftwareDrawDestination = TargetImage();
    if (m.WorkImageValid || IsMemImgValid(&m.WorkImage)) ReleaseMemImg(&m.WorkImage);
    std::memset(&m.WorkImage, 0, sizeof(m.WorkImage));
    m.WorkImageValid = 0;
}

// Copies the rectangle of one image into the same place of another of the same pixel layout row
// by row; other layouts go through the converting copy.
void CopySamePlace(MEMIMG* dest, const MEMIMG* source, const RECT& r) {
    const int bpp = MemImgBytesPerPixel(source->Shared);
    const COLORFORMAT* a = source->Shared->Format;
    const COLORFORMAT* b = dest->Shared->Format;
    if (bpp != MemImgBytesPerPixel(dest->Shared) || a->BitsPerPixel != b->BitsPerPixel ||
        a->RedMask != b->RedMask || a->GreenMask != b->GreenMask || a->BlueMask != b->BlueMask ||
        a->AlphaMask != b->AlphaMask) {
        CopyMemImgRect(dest, source, &r, r.left, r.top);
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(r.right - r.left) * bpp;
    for (LONG y = r.top; y < r.bottom; ++y) {
        std::memcpy(dest->Pixels + static_cast<std::ptrdiff_t>(y) * dest->Shared->Pitch +
                        static_cast<std::ptrdiff_t>(r.left) * bpp,
                    source->Pixels + static_cast<std::ptrdiff_t>(y) * source->Shared->Pitch +
                        static_cast<std::ptrdiff_t>(r.left) * bpp,
                    bytes);
    }
}

// Copies the pixels of the rectangle that the layer leaves open (byte 0) from one image into the
// same place of another of the same layout. Only those pixels of the work image are ever shown,
// so both ends of the bracket move just them.
template <class T>
void CopyOpenPixels(MEMIMG* dest, const MEMIMG* source, const RECT& r) {
    const MaskLayerStateData& m = M();
    const int width = r.right - r.left;
    for (LONG y = r.top; y < r.bottom; ++y) {
        const std::uint8_t* mask = m.Bytes + static_cast<std::ptrdiff_t>(y) * m.Pitch + r.left;
        T* t = reinterpret_cast<T*>(dest->Pixels +
                                    static_cast<std::ptrdiff_t>(y) * dest->Shared->Pitch) +
               r.left;
        const T* s = reinterpret_cast<const T*>(source->Pixels + static_cast<std::ptrdiff_t>(y) *
                                                                     source->Shared->Pitch) +
                     r.left;
        // The three rows lie far apart in large images: fetch the rows a few ahead early.
        if (y + 4 < r.bottom) {
            const std::ptrdiff_t ahead = 4;
            for (int x = 0; x < width; x += 64) {
                __builtin_prefetch(mask + ahead * m.Pitch + x);
            }
            for (int x = 0; x < width; x += 64 / static_cast<int>(sizeof(T))) {
                __builtin_prefetch(reinterpret_cast<const std::uint8_t*>(s + x) +
                                   ahead * source->Shared->Pitch);
                __builtin_prefetch(
                    reinterpret_cast<const std::uint8_t*>(t + x) + ahead * dest->Shared->Pitch, 1);
            }
        }
        if constexpr (sizeof(T) == 4) {
            memimg::CopyWhereMaskZeroRow32(t, s, mask, width);
        } else {
            memimg::CopyWhereMaskZeroRow(t, s, mask, width);
        }
    }
}

// False when the two images differ in pixel size; the bracket then leaves the target alone.
bool CopyOpenPixelsOfSize(MEMIMG* dest, const MEMIMG* source, const RECT& r) {
    const int bpp = MemImgBytesPerPixel(dest->Shared);
    if (bpp != MemImgBytesPerPixel(source->Shared)) return false;
    if (bpp == 2)
        CopyOpenPixels<std::uint16_t>(dest, source, r);
    else if (bpp == 4)
        CopyOpenPixels<std::uint32_t>(dest, source, r);
    else
        return false;
    return true;
}

// The part of a rectangle that the target, the work image and the layer all cover.
void ClipToBracket(RECT* rect, const MEMIMG* target) {
    const MaskLayerStateData& m = M();
    ClipToSize(rect, std::min({target->Width, m.WorkImage.Width, static_cast<int>(m.Width)}),
               std::min({target->Height, m.WorkImage.Height, static_cast<int>(m.Height)}));
}

int PackMaskJob(std::uint8_t* block, HandleValue mask, const char16_t* name) {
    int offset = 0;
    PackJobInt(block, &offset, mask);
    PackJobString(block, &offset, name);
    return offset;
}

}  // namespace

HandleHeader* LookUpLoadedHandle(HandleValue handle, int type, int noWait) {
    if (handle < 0 || ((handle & kHandleTypeMask) >> kHandleTypeShift) != type) return nullptr;
    HandleHeader* header = LookupHandleRecord(handle);
    if (header == nullptr) return nullptr;
    if (noWait || header->asyncPending == 0) return header;
    if (!IsMainThread()) {
        if (WaitHandleASyncLoad(handle) != 0) return nullptr;
    } else if (header->jobIndex >= 0) {
        FinishASyncLoadJobNow(header->jobIndex);
    } else if (WaitHandleASyncLoad(handle) != 0) {
        return nullptr;
    }
    header = LookupHandleRecord(handle);
    return header != nullptr && header->asyncPending == 0 ? header : nullptr;
}

MaskHandleRecord* LookUpMaskRecord(HandleValue mask, int noWait) {
    return reinterpret_cast<MaskHandleRecord*>(
        LookUpLoadedHandle(mask, DX_HANDLETYPE_GMASK, noWait));
}

bool MaskLayerInUse() {
    return M().Bytes != nullptr && Draw().MaskLayerInUse != 0;
}

// ---- Module ----

int InitMaskModule() {
    MaskLayerStateData& m = M();
    if (m.Initialised) return -1;
    RegisterHandleType(DX_HANDLETYPE_GMASK, static_cast<int>(sizeof(MaskHandleRecord)),
                       kMaxMaskHandles, nullptr, ReleaseMaskRecord, nullptr, u"Mask");
    m.Nesting = 0;
    m.Initialised = 1;
    return 0;
}

int EndMaskModule() {
    MaskLayerStateData& m = M();
    if (!m.Initialised) return -1;
    DeleteMaskLayer();
    DeleteAllHandlesOfType(DX_HANDLETYPE_GMASK, nullptr);
    m.Initialised = 0;
    UnregisterHandleType(DX_HANDLETYPE_GMASK);
    m.Nesting = 0;
    return 0;
}

int ReleaseMaskRecord(HandleHeader* header) {
    auto* r = reinterpret_cast<MaskHandleRecord*>(header);
    FreeTrackedMemory(r->Bytes);
    r->Bytes = nullptr;
    r->BytesPresent = 0;
    return 0;
}

int AllocateMaskBytes(std::uint8_t** bytes, std::int32_t* pitch, int width, int height,
                      std::int32_t* flag) {
    if (width < 0 || height < 0) return -1;
    const std::int64_t p = (std::int64_t{width} + 3) / 4 * 4;
    const std::int64_t size = p * height;
    if (size > kMaxBaseImageBytes) return -1;
    auto* block = static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(
        size > 0 ? static_cast<std::size_t>(size) : 1, kSourceFile, __LINE__));
    if (block == nullptr) return -1;
    *bytes = block;
    *pitch = static_cast<std::int32_t>(p);
    if (flag) *flag = 1;
    return 0;
}

// ---- The layer ----

int EnsureMaskLayerStorage(int create, int width, int height) {
    MaskLayerStateData& m = M();
    GraphicsSystemStateData& g = GraphicsSystemState;
    if (!create) return 0;
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    bool grew = false;
    std::uint8_t* oldBytes = nullptr;
    int oldPitch = 0, oldWidth = 0, oldHeight = 0;
    MEMIMG oldWork{};
    bool oldWorkValid = false;
    if (m.Bytes != nullptr) {
        width = std::max(width, static_cast<int>(m.Width));
        height = std::max(height, static_cast<int>(m.Height));
        if (width > m.Width || height > m.Height) {
            grew = true;
            oldBytes = m.Bytes;
            oldPitch = m.Pitch;
            oldWidth = m.Width;
            oldHeight = m.Height;
            m.Bytes = nullptr;
            oldWork = m.WorkImage;
            oldWorkValid = m.WorkImageValid != 0;
            std::memset(&m.WorkImage, 0, sizeof(m.WorkImage));
            m.WorkImageValid = 0;
            Backend_Mask_DetachTextures();
        }
    }
    m.Width = width;
    m.Height = height;
    if (m.Bytes == nullptr) {
        if (AllocateMaskBytes(&m.Bytes, &m.Pitch, width, height, nullptr) != 0) {
            // No layer is left: what was set aside goes too.
            m.Bytes = nullptr;
            m.Width = m.Height = 0;
            FreeTrackedMemory(oldBytes);
            if (oldWorkValid) {
                if (g.SoftwareDrawDestination == &m.WorkImage)
                    g.SoftwareDrawDestination = TargetImage();
                ReleaseMemImg(&oldWork);
            }
            if (grew) Backend_Mask_ReleaseTextures();
            return -1;
        }
    }
    if (grew) {
        for (int y = 0; y < oldHeight; ++y)
            std::memcpy(m.Bytes + static_cast<std::ptrdiff_t>(y) * m.Pitch,
                        oldBytes + static_cast<std::ptrdiff_t>(y) * oldPitch,
                        static_cast<std::size_t>(oldWidth));
        FreeTrackedMemory(oldBytes);
    }
    int result = 0;
    if (DeviceInUse()) {
        if (Backend_Mask_CreateTextures(width, height) < 0) result = -1;
        if (grew) Backend_Mask_FinishCreate(oldWidth, oldHeight);
        return result;
    }
    if (!IsMemImgValid(&m.WorkImage)) {
        if (SetupMemImgDefault(&m.WorkImage, width, height, -1) != 0) {
            WriteLogTextUtf16(u"マスク用 MEMIMG の作成に失敗しました");
            std::memset(&m.WorkImage, 0, sizeof(m.WorkImage));
            result = -1;
        } else {
            m.WorkImageValid = 1;
        }
    }
    if (oldWorkValid) {
        if (m.WorkImageValid) CopyMemImgRect(&m.WorkImage, &oldWork, nullptr, 0, 0);
        ReleaseMemImg(&oldWork);
    }
    if (!m.WorkImageValid && g.SoftwareDrawDestination == &m.WorkImage)
        g.SoftwareDrawDestination = TargetImage();
    return result;
}

int CreateMaskLayer() {
    MaskLayerStateData& m = M();
    if (!m.Initialised) return -1;
    WaitWhileWindowInactive();
    int width = 0, height = 0;
    GetScreenSize(&width, &height);
    EnsureMaskLayerStorage(1, width, height);
    // Without its bytes there is no layer to draw through: say so instead of claiming success.
    if (m.Bytes == nullptr) return -1;
    m.Created = 1;
    Draw().MaskLayerInUse = Draw().MaskLayerRequested != 0 ? 1 : 0;
    SetMaskLayerActive(1);
    return 0;
}

int DeleteMaskLayer() {
    MaskLayerStateData& m = M();
    if (!m.Initialised) return -1;
    if (Draw().MaskLayerRequested && m.Bytes != nullptr) SetMaskLayerActive(0);
    FreeTrackedMemory(m.Bytes);
    m.Bytes = nullptr;
    m.Width = m.Height = 0;
    ReleaseWorkImage();
    Backend_Mask_ReleaseTextures();
    m.Created = 0;
    Draw().MaskLayerInUse = 0;
    return 0;
}

int FillMaskLayer(int flag) {
    MaskLayerStateData& m = M();
    if (!m.Initialised || m.Bytes == nullptr) return -1;
    WaitWhileWindowInactive();
    const int rows =
        std::clamp(static_cast<int>(Draw().DrawTargetHeight), 0, static_cast<int>(m.Height));
    std::memset(m.Bytes, flag == 0 ? 0x00 : 0xFF, static_cast<std::size_t>(rows) * m.Pitch);
    if (DeviceInUse()) Backend_Mask_Fill(flag);
    return 0;
}

int SetMaskLayerActive(int flag) {
    MaskLayerStateData& m = M();
    GraphicsSystemStateData& g = GraphicsSystemState;
    if (!m.Initialised || m.Bytes == nullptr) return -1;
    CloseDeferredMaskedDraw();
    Draw().MaskLayerRequested = flag;
    Draw().MaskLayerInUse = flag != 0 && m.Created ? 1 : 0;
    if (DeviceInUse()) {
        Backend_Mask_ApplyUse();
    } else {
        g.SoftwareDrawDestination =
            Draw().MaskLayerInUse && m.WorkImageValid ? &m.WorkImage : TargetImage();
    }
    return 0;
}

int GetMaskLayerActive() {
    return Draw().MaskLayerRequested;
}

int RecreateMaskLayer() {
    MaskLayerStateData& m = M();
    if (!m.Initialised) return -1;
    EnsureMaskLayerStorage(m.Created, Draw().DrawTargetWidth, Draw().DrawTargetHeight);
    if (Draw().MaskLayerRequested) SetMaskLayerActive(1);
    return 0;
}

int ReleaseMaskLayerBuffers() {
    MaskLayerStateData& m = M();
    FreeTrackedMemory(m.Bytes);
    m.Bytes = nullptr;
    m.Width = m.Height = 0;
    ReleaseWorkImage();
    Backend_Mask_ReleaseTextures();
    return 0;
}

// ---- The bracket ----

int CloseDeferredMaskedDraw() {
    DrawSettingsData& d = Draw();
    if (!d.MaskedDrawPending) return 0;
    d.MaskedDrawPending = 0;
    if (MaskLayerInUse()) EndMaskedDraw(d.DrawArea);
    return 0;
}

int BeginMaskedDraw(RECT rect) {
    MaskLayerStateData& m = M();
    CloseDeferredMaskedDraw();
    if (m.Nesting++ != 0) return 0;
    ClipRectangle(&rect, &Draw().DrawArea);
    if (DeviceInUse()) {
        Backend_Mask_BeginMaskedDraw(rect);
        return 0;
    }
    if (!MaskLayerInUse() || !m.WorkImageValid) return 0;
    MEMIMG* target = TargetImage();
    if (!IsMemImgValid(target)) return 0;
    ClipToBracket(&rect, target);
    if (Empty(rect)) return 0;
    if (!CopyOpenPixelsOfSize(&m.WorkImage, target, rect))
        CopySamePlace(&m.WorkImage, target, rect);
    return 0;
}

int EndMaskedDraw(RECT rect) {
    MaskLayerStateData& m = M();
    if (m.Nesting > 0) --m.Nesting;
    if (m.Nesting != 0) return 0;
    ClipRectangle(&rect, &Draw().DrawArea);
    if (Empty(rect)) return 0;
    if (DeviceInUse()) {
        Backend_Mask_EndMaskedDraw(rect);
        return 0;
    }
    if (!MaskLayerInUse() || !m.WorkImageValid) return 0;
    MEMIMG* target = TargetImage();
    if (!IsMemImgValid(target)) return 0;
    ClipToBracket(&rect, target);
    if (Empty(rect)) return 0;
    CopyOpenPixelsOfSize(target, &m.WorkImage, rect);
    return 0;
}

// ---- Mask handles ----

HandleValue LoadMask(const char* fileName) {
    WideText name(fileName);
    if (name.Failed() || name.Get() == nullptr) return -1;
    return LoadMaskWide(name.Get(), IsASyncLoadEnabled());
}

HandleValue LoadMaskWide(const char16_t* fileName, int async) {
    if (!M().Initialised || fileName == nullptr) return -1;
    WaitWhileWindowInactive();
    HandleValue mask = AllocateHandle(DX_HANDLETYPE_GMASK, 0, -1);
    if (mask < 0) return -1;
    if (!async) {
        if (ReadMaskImage(mask, fileName) < 0) {
            DeleteHandle(mask);
            return -1;
        }
        return mask;
    }
    static char16_t full[kFullPathBytes / 2];
    MakeFullPath(fileName, full, sizeof(full), nullptr);
    ASyncLoadJob* job = MakeASyncLoadJob(
        RunLoadMaskJob, [&](std::uint8_t* block) { return PackMaskJob(block, mask, full); });
    if (job == nullptr) {
        DeleteHandle(mask);
        return -1;
    }
    BeginHandleASyncLoad(mask, -1);
    // The job ends the handle's load under the type's lock, so while it is held the job cannot
    // have finished before its slot is recorded on the handle.
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_GMASK];
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    if (QueueASyncLoadJob(job) != 0) {
        ReleaseTracedLock(&type.lock);
        FinishHandleASyncLoad(mask);
        DeleteHandle(mask);
        return -1;
    }
    if (HandleHeader* h = LookupHandleRecord(mask); h != nullptr && h->asyncPending != 0)
        h->jobIndex = job->slotIndex;
    ReleaseTracedLock(&type.lock);
    return mask;
}

void RunLoadMaskJob(ASyncLoadJob* job) {
    int offset = 0;
    const HandleValue mask = UnpackJobInt(job->parameters, &offset);
    const char16_t* packed = UnpackJobString(job->parameters, &offset);
    // The packed text may stand unaligned.
    static thread_local char16_t name[kFullPathBytes / 2];
    name[0] = 0;
    for (std::size_t i = 0; packed != nullptr && i + 1 < kFullPathBytes / 2; ++i) {
        std::memcpy(&name[i], reinterpret_cast<const unsigned char*>(packed) + 2 * i, 2);
        name[i + 1] = 0;
        if (name[i] == 0) break;
    }
    const int result = ReadMaskImage(mask, name) < 0 ? -1 : 0;
    if (HandleHeader* h = LookupHandleRecord(mask)) {
        h->asyncResult = result;
        if (result < 0) h->deleteRequested = 1;
    }
    FinishHandleASyncLoad(mask);
}

HandleValue ReadMaskImage(HandleValue mask, const char16_t* fileName) {
    MaskHandleRecord* r = LookUpMaskRecord(mask, 1);
    if (r == nullptr) return -1;
    BASEIMAGE image{};
    if (ReadImageToBaseImage(fileName, nullptr, 0, 0, 0, 0, 0, &image, nullptr, nullptr) != 0)
        return -1;
    if (image.Format.FormatKind != 0 && DecodeBlockCompressedBaseImage(&image, 1) != 0) {
        DisposeBaseImage(&image);
        return -1;
    }
    FreeTrackedMemory(r->Bytes);
    r->Bytes = nullptr;
    r->BytesPresent = 0;
    if (AllocateMaskBytes(&r->Bytes, &r->Pitch, image.Width, image.Height, &r->BytesPresent) != 0) {
        DisposeBaseImage(&image);
        return -1;
    }
    r->Width = image.Width;
    r->Height = image.Height;
    const int result = CopyBaseImageToMask(&image, 0, 0, mask);
    DisposeBaseImage(&image);
    return result < 0 ? -1 : mask;
}

int CopyBaseImageToMask(BASEIMAGE* image, int x, int y, HandleValue mask) {
    MaskHandleRecord* r = LookUpMaskRecord(mask, 1);
    if (r == nullptr || r->Bytes == nullptr || image == nullptr || image->Pixels == nullptr)
        return -1;
    const COLORFORMAT& f = image->Format;
    const bool plain = f.FormatKind == 0 && f.ChannelCount == 0 && f.FloatFlag == 0 &&
                       (f.BitsPerPixel == 24 || f.BitsPerPixel == 32) && f.RedMask == 0xFF0000 &&
                       f.GreenMask == 0xFF00 && f.BlueMask == 0xFF;
    BASEIMAGE converted{};
    const BASEIMAGE* source = image;
    if (!plain) {
        if (NewBaseImageRgb24(image->Width, image->Height, &converted) != 0) return -1;
        if (CopyWholeBaseImage(0, 0, image, &converted) != 0) {
            DisposeBaseImage(&converted);
            return -1;
        }
        source = &converted;
    }
    const int bpp = source->Format.BitsPerPixel / 8;
    // Only the part of the mask that the image covers is taken.
    const int columns = std::max(0, std::min(r->Width, source->Width - x));
    const int rows = std::max(0, std::min(r->Height, source->Height - y));
    if (x >= 0 && y >= 0) {
        for (int row = 0; row < rows; ++row) {
            const auto* in = static_cast<const std::uint8_t*>(source->Pixels) +
                             static_cast<std::ptrdiff_t>(y + row) * source->Pitch +
                             static_cast<std::ptrdiff_t>(x) * bpp;
            std::uint8_t* out = r->Bytes + static_cast<std::ptrdiff_t>(row) * r->Pitch;
            for (int column = 0; column < columns; ++column) out[column] = in[column * bpp];
        }
    }
    if (!plain) DisposeBaseImage(&converted);
    return 0;
}

int GetMaskSize(int* width, int* height, HandleValue mask) {
    if (!M().Initialised) return -1;
    MaskHandleRecord* r = LookUpMaskRecord(mask, 0);
    if (r == nullptr) return -1;
    if (width) *width = r->Width;
    if (height) *height = r->Height;
    return 0;
}

int DrawMask(int x, int y, HandleValue mask, int mode) {
    MaskLayerStateData& m = M();
    if (!m.Initialised) return -1;
    MaskHandleRecord* r = LookUpMaskRecord(mask, 0);
    if (r == nullptr) return -1;
    if (m.Bytes == nullptr) return 0;
    auto clampLong = [](std::int64_t v) -> LONG {
        return static_cast<LONG>(std::clamp<std::int64_t>(v, -0x40000000, 0x40000000));
    };
    RECT rect{x, y, clampLong(std::int64_t{x} + r->Width), clampLong(std::int64_t{y} + r->Height)};
    ClipRectangle(&rect, &Draw().DrawArea);
    ClipToSize(&rect, m.Width, m.Height);
    if (Empty(rect) || r->Bytes == nullptr) return 0;
    const int sx = rect.left - x, sy = rect.top - y;
    const int width = rect.right - rect.left;
    for (LONG row = 0; row < rect.bottom - rect.top; ++row) {
        const std::uint8_t* in = r->Bytes + static_cast<std::ptrdiff_t>(sy + row) * r->Pitch + sx;
        std::uint8_t* out =
            m.Bytes + static_cast<std::ptrdiff_t>(rect.top + row) * m.Pitch + rect.left;
        int i = 0;
        switch (mode) {
            case DX_MASKDRAW_AND:
                for (; i + 4 <= width; i += 4) {
                    std::uint32_t a, b;
                    std::memcpy(&a, out + i, 4);
                    std::memcpy(&b, in + i, 4);
                    a &= b;
                    std::memcpy(out + i, &a, 4);
                }
                for (; i < width; ++i) out[i] &= in[i];
                break;
            case DX_MASKDRAW_OR:
                for (; i + 4 <= width; i += 4) {
                    std::uint32_t a, b;
                    std::memcpy(&a, out + i, 4);
                    std::memcpy(&b, in + i, 4);
                    a |= b;
                    std::memcpy(out + i, &a, 4);
                }
                for (; i < width; ++i) out[i] |= in[i];
                break;
            case DX_MASKDRAW_COPY:
                std::memcpy(out, in, static_cast<std::size_t>(width));
                break;
            default:
                break;
        }
    }
    if (DeviceInUse()) Backend_Mask_UploadMaskBytes(rect);
    return 0;
}

int DeleteLibraryHandle(HandleValue handle) {
    return DeleteHandle(handle);
}

int DeleteAllMasks() {
    return DeleteAllHandlesOfType(DX_HANDLETYPE_GMASK, nullptr);
}

}  // namespace ZiDaz
