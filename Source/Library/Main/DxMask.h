// The mask layer: one byte per screen pixel that decides, while masking is on, whether drawing
// reaches the draw target; and the mask images (Mask handles) drawn onto it.
#pragma once

#include <cstdint>

#include "Main/DxHandle.h"
#include "Main/DxMemImg.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

struct ASyncLoadJob;
struct BASEIMAGE;

// The one layer of the module. The requested and effective use flags and the deferred-close flag
// live with the draw settings (MaskLayerRequested, MaskLayerInUse, MaskedDrawPending), because the
// draw target and the reset change them too.
struct MaskLayerStateData {
    std::int32_t Initialised;
    std::int32_t Width;  // only grows while the bytes exist
    std::int32_t Height;
    std::uint8_t* Bytes;  // Pitch x Height bytes, null while no layer exists
    std::int32_t Pitch;   // Width rounded up to a multiple of 4
    std::int32_t Created;
    std::int32_t Nesting;  // open BeginMaskedDraw calls
    std::int32_t WorkImageValid;
    MEMIMG WorkImage;  // software path: what the primitives draw into while masking is on
};

extern MaskLayerStateData MaskLayerState;

// The record behind a Mask handle.
struct MaskHandleRecord {
    HandleHeader Header;
    std::uint8_t* Bytes;
    std::int32_t Pitch;
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t BytesPresent;
};

// The modes of DrawMask.
inline constexpr int DX_MASKDRAW_AND = 0;
inline constexpr int DX_MASKDRAW_OR = 1;
inline constexpr int DX_MASKDRAW_COPY = 2;

// True while the mask layer exists and masking is switched on: every drawing primitive then
// brackets its draw with BeginMaskedDraw and EndMaskedDraw over its clamped bounding rectangle.
bool MaskLayerInUse();

// The two halves of the bracket; only the outermost pair of nested calls does work.
int BeginMaskedDraw(RECT rect);
int EndMaskedDraw(RECT rect);
// Closes a masked draw left open over the whole draw area (by the 3D model drawing), as the next
// bracket, clip change, clear, use change or present must before they act.
int CloseDeferredMaskedDraw();

// ---- Public operations ----
int CreateMaskLayer();
int DeleteMaskLayer();
int FillMaskLayer(int flag);
int SetMaskLayerActive(int flag);
int GetMaskLayerActive();
HandleValue LoadMask(const char* fileName);
HandleValue LoadMaskWide(const char16_t* fileName, int async);
int GetMaskSize(int* width, int* height, HandleValue mask);
int DrawMask(int x, int y, HandleValue mask, int mode);
int DeleteLibraryHandle(HandleValue handle);
int DeleteAllMasks();

// ---- Module and library-internal operations ----
int InitMaskModule();
int EndMaskModule();
int ReleaseMaskRecord(HandleHeader* record);
int EnsureMaskLayerStorage(int create, int width, int height);
int AllocateMaskBytes(std::uint8_t** bytes, std::int32_t* pitch, int width, int height,
                      std::int32_t* flag);
int RecreateMaskLayer();
int ReleaseMaskLayerBuffers();
HandleValue ReadMaskImage(HandleValue mask, const char16_t* fileName);
void RunLoadMaskJob(ASyncLoadJob* job);
int CopyBaseImageToMask(BASEIMAGE* image, int x, int y, HandleValue mask);
// The record of a live Mask handle (its pending load finished first unless noWait), or null.
MaskHandleRecord* LookUpMaskRecord(HandleValue mask, int noWait);

// A live handle of the type, with a pending asynchronous load finished first unless noWait (null
// when that fails or the handle went away). Shared by the handle types of the drawing front end
// that may be filled on a load thread.
HandleHeader* LookUpLoadedHandle(HandleValue handle, int type, int noWait);

}  // namespace ZiDaz
