// Reading back what the front end draws: the draw-target lock, copies of the draw target into
// base images, soft images and graphs, single pixels, screenshots saved as BMP, JPEG, PNG or DDS
// files; the SoftImage handles; a few queries of the screen and of the texture pixel formats.
// Included by Main/DxGraphics.h.
#pragma once

#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"

namespace ZiDaz {

// ImageSaveType.
inline constexpr int DX_IMAGESAVE_BMP = 0;
inline constexpr int DX_IMAGESAVE_JPEG = 1;
inline constexpr int DX_IMAGESAVE_PNG = 2;
inline constexpr int DX_IMAGESAVE_DDS = 3;

struct SoftImageRecord {
    HandleHeader Header;
    BASEIMAGE Image;  // owned
};

inline constexpr int kTextureFormatCount = 49;

// ---- Capture and copies ----
int LockDrawTargetRect(int x1, int y1, int x2, int y2, BASEIMAGE* image, HandleValue target,
                       int face, int mip, int readOnly, int option);
int UnlockDrawTarget();
int GetDrawTargetBaseImageAt(int x1, int y1, int x2, int y2, BASEIMAGE* dest, int destX, int destY);
int GetDrawTargetBaseImage(int x1, int y1, int x2, int y2, BASEIMAGE* dest);
int CopyDrawTargetToGraph(int x1, int y1, int x2, int y2, HandleValue graph);
int CopyGraphRectToGraph(HandleValue source, int face, int mip, int x1, int y1, int x2, int y2,
                         int destX, int destY, HandleValue dest);
int GetDrawTargetPixel(int x, int y);

// ---- Saving ----
int SaveDrawTargetRectToFile(int x1, int y1, int x2, int y2, const char* fileName, int type,
                             int quality, int samplingFlag, int pngLevel);
int SaveDrawTargetRectToFileWide(int x1, int y1, int x2, int y2, const char16_t* fileName, int type,
                                 int quality, int samplingFlag, int pngLevel);
int SaveDrawTargetRectAsJpeg(int x1, int y1, int x2, int y2, const char* fileName, int quality,
                             int samplingFlag);
int SaveGraphRectToFile(HandleValue graph, int x1, int y1, int x2, int y2, const char* fileName,
                        int type, int quality, int samplingFlag, int pngLevel);
int SaveGraphRectToFileWide(HandleValue graph, int x1, int y1, int x2, int y2,
                            const char16_t* fileName, int type, int quality, int samplingFlag,
                            int pngLevel);
int SaveGraphRectAsPng(HandleValue graph, int x1, int y1, int x2, int y2, const char* fileName,
                       int level);

// ---- Soft images ----
int InitSoftImageModule();
int EndSoftImageModule();
HandleValue MakeXrgb8SoftImage(int width, int height);
int GetDrawScreenSoftImage(int x1, int y1, int x2, int y2, HandleValue softImage);
int DeleteSoftImage(HandleValue softImage);
int DeleteAllSoftImages();
int ReleaseSoftImageRecord(HandleHeader* record);
// The record of a live SoftImage handle (its pending load finished first), or null.
SoftImageRecord* LookUpSoftImageRecord(HandleValue softImage);
// A graph made from a soft image's picture; -1 for a bad handle.
HandleValue CreateGraphFromSoftImage(HandleValue softImage);

// ---- Queries ----
int GetDisplayRefreshRate();
int GetTransparentColor(int* red, int* green, int* blue);
const COLORFORMAT* GetTextureColorFormatByIndex(int index);
const COLORFORMAT* GetTextureColorFormat(int alphaChannel, int alphaTest, int bit32, int drawable);

}  // namespace ZiDaz
