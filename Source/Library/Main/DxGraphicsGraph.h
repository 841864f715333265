// Graphs: the handle record of a graph, the shared image behind it with its format and texture
// pieces, the creation settings, the loading of graphs from files, memory and base images (at
// once or on a load thread), the transfers of images into graphs, the memory of what each graph
// was filled from and the refill of every graph after a device loss, and divided graphs.
// Included by Main/DxGraphics.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "Main/DxMemImg.h"

struct BITMAPINFO;

namespace ZiDaz {

struct ASyncLoadJob;

// The nineteen one-byte fields that describe a graph image's storage.
struct GraphFormatDesc {
    std::uint8_t DeviceImage;
    std::uint8_t CubeMap;
    std::uint8_t Alpha;
    std::uint8_t Drawable;
    std::uint8_t SoftwareImage;
    std::uint8_t Managed;
    std::uint8_t Reserved;
    std::uint8_t DeviceFormatOverride;
    std::uint8_t BlockKind;  // the COLORFORMAT format kind of the source; 0 plain
    std::uint8_t MipLevels;
    std::uint8_t KeyAlpha;
    std::uint8_t Float;
    std::uint8_t ColorBits;
    std::uint8_t ChannelCount;
    std::uint8_t BitsPerChannel;
    std::uint8_t BlendImage;
    std::uint8_t Palette;
    std::uint8_t MultisampleCount;
    std::uint8_t MultisampleQuality;
};
static_assert(sizeof(GraphFormatDesc) == 19);

inline constexpr int kMaxGraphTexturePieces = 256;
// The zeroed room each texture piece gets for its back end's texture record.
inline constexpr int kGraphBackendTextureRecordBytes = 256;

// One device texture of an image.
struct GraphTexturePiece {
    void* Texture;  // the back end's texture record
    std::int32_t X, Y;
    std::int32_t UsedWidth, UsedHeight;  // the part inside the image
    std::int32_t TextureWidth, TextureHeight;
};

// The pixels of one or more graphs: device textures or one MEMIMG, shared by reference count.
struct GraphImage {
    std::int32_t RefCount;
    std::int32_t FormatIndex;  // TextureFormatIndex
    GraphFormatDesc Format;
    std::uint32_t TransparentColor;  // 0x00RRGGBB
    std::int32_t Width, Height;
    std::int32_t DepthBuffer;
    std::int32_t DepthKind;
    std::int32_t Restored;
    HandleValue Movie;
    // Software image.
    MEMIMG Image;
    // Device image: the pieces, row by row, each with its back-end record in the same block.
    std::int32_t MipLevels;
    std::int32_t PieceCount;
    GraphTexturePiece* Pieces;
};

// The part of one texture piece that one graph shows.
struct GraphDrawPiece {
    std::int32_t X, Y;
    float XF, YF;
    std::int32_t TexX, TexY;
    float TexXF, TexYF;
    std::int32_t Width, Height;
    float WidthF, HeightF;
    // Top-left, top-right, bottom-left, bottom-right: x, y in graph pixels, then u, v.
    float Corners[4][4];
    // Per corner: on or above the graph's anti-diagonal.
    std::uint8_t AboveDiagonal[4];
    GraphTexturePiece* Piece;
};

struct GraphRestoreSource;

inline constexpr int kGraphRecordDrawPieces = 4;

struct GraphHandleRecord {
    HandleHeader Header;
    int* DeleteFlag;
    GraphRestoreSource* Restore;
    std::int32_t SourceX, SourceY;
    float SourceXF, SourceYF;
    GraphImage* Image;
    std::int32_t X, Y;
    float XF, YF;
    std::int32_t Width, Height;
    float WidthF, HeightF;
    std::int32_t KeptAlways;
    std::int32_t SurvivesDeleteAll;
    std::int32_t Internal;
    MEMIMG View;  // software image: the graph's rectangle of the image's MEMIMG
    std::int32_t DrawPieceCount;
    GraphDrawPiece DrawPieces[kGraphRecordDrawPieces];  // grown with the record when more
};

struct GraphCreateParams {
    std::uint32_t TransparentColor;
    std::int32_t ColorBits;
    std::int32_t Float;
    std::int32_t ChannelCount;
    std::int32_t BitsPerChannel;
    std::int32_t KeyAlpha;
    std::int32_t Alpha;
    std::int32_t CubeMap;
    std::int32_t BlendImage;
    std::int32_t Managed;
    std::int32_t Reserved1;
    std::int32_t DeviceFormatOverride;
    std::int32_t Drawable;
    std::int32_t DrawableAlpha;
    std::int32_t DrawableFloat;
    std::int32_t DrawableDepthBuffer;
    std::int32_t DrawableMipLevels;
    std::int32_t DrawableChannelCount;
    std::int32_t DepthBits;
    std::int32_t MultisampleCount, MultisampleQuality;
    std::int32_t MipLevels;  // 0 one level, -1 the full chain
    std::int32_t MaxTextureSize;
    std::int32_t Reserved2;
    std::int32_t NoAlphaFile;
    std::int32_t NoPaletteGraphs;
    std::int32_t KeptAlways;
    std::int32_t SurvivesDeleteAll;
    std::int32_t Reserved3;
    // The caller writes every pixel of a software image straight after the set-up, so the new
    // storage need not be cleared first.
    std::int32_t FilledAtOnce;
};

// The creation settings that are not kept elsewhere in GraphicsSystemState; the key-alpha format,
// alpha companion files and palette graphs are its GraphCreateSetting, NoAlphaCompanionImages and
// NoPaletteGraphs.
struct GraphCreationSettingsData {
    std::uint32_t TransparentColor;   // 0x00RRGGBB
    std::int32_t NoTransparentColor;  // the inverse of the use-transparent-colour setting
    std::int32_t BlendImage;
    std::int32_t SurvivesDeleteAll;
};
extern GraphCreationSettingsData GraphCreationSettings;

struct LoadGraphParams {
    ImageLoadParams ImageParams;
    std::int32_t MovieOptions[3];
    GraphCreateParams Create;
    std::int32_t NoTransparency;
    std::int32_t BleedTransparentEdges;
    std::int32_t TopLeftTransparent;
    std::int32_t NoRestoreData;
};

struct GraphLoadRequest {
    LoadGraphParams Params;
    std::int32_t Reuse;
    HandleValue Handle;
    HandleValue BaseHandle;
    const char16_t* FileName;
    const void* Data;
    std::int32_t DataSize;
    const void* AlphaData;
    std::int32_t AlphaSize;
    const BITMAPINFO* BitmapInfo;
    const void* BitmapBits;
    const BITMAPINFO* AlphaBitmapInfo;
    const void* AlphaBitmapBits;
    BASEIMAGE* ColorImage;
    BASEIMAGE* AlphaImage;
    std::int32_t Count, Columns, Rows;
    std::int32_t FloatPosition;
    std::int32_t CellWidth;
    float CellWidthF;
    std::int32_t CellHeight;
    float CellHeightF;
    std::int32_t StepX;
    float StepXF;
    std::int32_t StepY;
    float StepYF;
    HandleValue* Handles;
    std::int32_t TextureFlag;
    std::int32_t Mirror;
    std::int32_t MovieOption;
};

struct GraphSourceImages {
    std::int32_t Owned;
    std::int32_t Result;  // -1 nothing read, 0 colour and alpha, 1 colour only
    BASEIMAGE* Color;
    BASEIMAGE* Alpha;
    BASEIMAGE ReadColor;
    BASEIMAGE ReadAlpha;
};

struct GraphRestoreSource {
    void* Reserved;
    char16_t* FileName;
    BASEIMAGE* Color;
    BASEIMAGE* Alpha;
    const void* Data;
    std::int32_t DataSize;
    const void* AlphaData;
    std::int32_t AlphaSize;
    std::int32_t Mirror;
    std::int32_t Premultiply;
    std::int32_t NoTransparency;
    std::int32_t RefCount;
};

// ---- Handles, images, pieces ----

int InitGraphCreateParamsFromSettings(GraphCreateParams* params);
int InitGraphCreateParams(GraphCreateParams* params, int colorBits, int alpha, int keyAlpha);
int InitDrawableGraphCreateParams(GraphCreateParams* params, int colorBits, int alpha);
// The Graph type's callbacks, registered by the graphics start.
void InitGraphRecord(HandleHeader* record);
int DestroyGraphRecord(HandleHeader* record);
void LogGraphHandle(HandleHeader* record);
int IsGraphKeptByDeleteAll(HandleHeader* record);

// The sizes of the texture pieces along one edge; the count, or -1 when more than out can hold.
int ListTextureSizes(int length, int maxSize, int blockFlag, int* out, int outCount);
int SetUpGraphFormatDesc(GraphFormatDesc* desc, const GraphCreateParams* params, int width,
                         int height, int alpha, int palette, int paletteBits, int blockKind,
                         int mipLevels);
int ComputeTextureFormatIndex(const GraphFormatDesc* desc);
int ComputeMipLevelSize(int width, int height, int level, int* outWidth, int* outHeight);

GraphHandleRecord* LookUpGraphRecord(HandleValue graph, int noWait);
int IsGraphHandleValid(HandleValue value);
int GetGraphHandleCount();

HandleValue CreateBlankGraph(const GraphCreateParams* params, int width, int height, int flag,
                             int palette, int paletteBits, int async, void* loadContext);
HandleValue CreateEmptyGraph(int width, int height, int flag);
HandleValue CreateDrawableGraph(int width, int height, int alpha);
int SetUpGraphImage(const GraphCreateParams* params, HandleValue graph, int width, int height,
                    int alpha, int palette, int paletteBits, int blockKind, int mipLevels,
                    void* loadContext);
// Clears the pixels of a software graph image (not of a blend image) to 0.
void ClearGraphSoftwareImage(GraphImage* image);
int BuildGraphDrawPieces(HandleValue graph);
HandleValue DeriveGraphFromRect(int x, int y, int width, int height, HandleValue source);
HandleValue CreateDerivedGraph(int floatPosition, int x, float xf, int y, float yf, int width,
                               float widthF, int height, float heightF, HandleValue source,
                               void* loadContext);
int DeriveGraphFromGraph(HandleValue graph, int floatPosition, int x, float xf, int y, float yf,
                         int width, float widthF, int height, float heightF, HandleValue source,
                         void* loadContext);
int AttachGraphToImage(HandleValue graph, HandleValue source, int x, float xf, int y, float yf,
                       int width, float widthF, int height, float heightF, void* loadContext);
int DestroyGraph(HandleValue graph);
int DeleteAllGraphs();
int SetDeleteAllIncludesNewGraphs(int flag);
int GetDeleteAllIncludesNewGraphs();
int FlagGraphInternal(HandleValue graph, int flag);
int DeleteInternalGraphs();
int GetGraphSize(HandleValue handle, int* width, int* height);
int GetGraphTextureSize(HandleValue handle, int* width, int* height);
int IsMultisampledDrawableGraph(HandleValue graph);
int FillGraph(HandleValue graph, int red, int green, int blue, int alpha);
int CheckBlendGraphCovers(const GraphHandleRecord* graph);
int SetGraphDeleteFlag(HandleValue graph, int* flag);
// The MEMIMG a software graph shows (its view), or null.
MEMIMG* GetGraphMemImg(HandleValue graph);
// Queues a load job for graphs whose pending count was already raised, and records the job's
// slot in them so that a use from the main thread can finish it at once. 0, or -1 when it could
// not be queued (the job is then freed; the caller ends the pending loads).
int QueueGraphJob(ASyncLoadJob* job, const HandleValue* handles, int count);

// The transparent colour and its use for loads and transfers.
int SetTransparentColor(int red, int green, int blue);
int SetUseTransparentColor(int flag);

// ---- Loading and transfers ----

int InitLoadGraphParams(LoadGraphParams* params);
HandleValue LoadGraphFromImageFile(const char* fileName, int nonTexture);
HandleValue LoadGraphFromImageFileEx(const char* fileName, int textureFlag, int mirror,
                                     int movieOption);
HandleValue LoadGraphFromImageFileWide(const char16_t* fileName, int textureFlag, int mirror,
                                       int movieOption);
HandleValue LoadBlendGraph(const char* fileName);
HandleValue LoadBlendGraphWide(const char16_t* fileName);
int ReloadGraphFromImageFile(const char* fileName, HandleValue graph, int mirror);
int ReloadGraphFromImageFileWide(const char16_t* fileName, HandleValue graph, int mirror);
HandleValue CreateGraphFromImageInMemory(const void* data, int size, const void* alphaData,
                                         int alphaSize, int textureFlag, int mirror);
HandleValue CreateGraphFromImageInMemoryWithParams(const LoadGraphParams* params, int reuse,
                                                   HandleValue graph, const void* data, int size,
                                                   const void* alphaData, int alphaSize,
                                                   int textureFlag, int mirror, int async);
int RecreateGraphFromImageInMemory(const void* data, int size, HandleValue graph,
                                   const void* alphaData, int alphaSize, int textureFlag,
                                   int mirror);
HandleValue CreateGraphFromBaseImagePair(BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag,
                                         int mirror);
HandleValue CreateGraphFromBaseImage(BASEIMAGE* color);
HandleValue LoadGraphFromBaseImageWithParams(const LoadGraphParams* params, int reuse,
                                             HandleValue graph, BASEIMAGE* color, BASEIMAGE* alpha,
                                             int textureFlag, int mirror, int async,
                                             void* loadContext);
HandleValue CreateGraphFromBaseImageNow(BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag,
                                        void* loadContext);
int TransferImageToGraph(const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                         int useBitmap, BASEIMAGE* color, BASEIMAGE* alpha, int x, int y,
                         HandleValue graph);
int TransferImageRectToGraph(const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                             int useBitmap, BASEIMAGE* color, BASEIMAGE* alpha, const RECT* rect,
                             int x, int y, HandleValue graph);
int FillGraphFromImageAt(BASEIMAGE* color, BASEIMAGE* alpha, int x, int y, HandleValue graph,
                         int useTransparency, void* loadContext);
int FillGraphFromImageRect(BASEIMAGE* color, BASEIMAGE* alpha, const RECT* rect, int x, int y,
                           HandleValue graph, int useTransparency, void* loadContext);
int TransferBaseImageRectToGraph(const RECT* sourceRect, int x, int y, HandleValue graph,
                                 const BASEIMAGE* color, const BASEIMAGE* alpha, int blendImage,
                                 int useTransparency, int wholeImage, void* loadContext);
int ClipTransferToDrawPiece(const GraphDrawPiece* piece, const RECT* sourceRect, int width,
                            int height, int x, int y, RECT* textureRect, RECT* sourceRectOut,
                            int blockFlag);
int ClipTransferToTexturePiece(const GraphTexturePiece* piece, const RECT* sourceRect, int width,
                               int height, int x, int y, RECT* textureRect, RECT* sourceRectOut,
                               int blockFlag);
int StartGraphLoad(GraphLoadRequest* request, int async, void* loadContext);
int LoadGraphNow(GraphLoadRequest* request, void* loadContext);
int ReadGraphSourceImage(const GraphLoadRequest* request, GraphSourceImages* out);
int ReleaseGraphSourceImage(const GraphLoadRequest* request, GraphSourceImages* images);
int SetUpGraphFromBaseImage(const GraphCreateParams* params, int reuse, HandleValue graph,
                            BASEIMAGE* color, BASEIMAGE* alpha, int textureFlag, int noTransparency,
                            void* loadContext);
int SetUpGraphImageForBaseImage(const GraphCreateParams* params, HandleValue graph,
                                BASEIMAGE* color, BASEIMAGE* alpha, int flag, void* loadContext);
HandleValue GetWhiteGraph();
HandleValue GetSsaoNoiseGraph();

// ---- Restore ----

int SetGraphRestoreSource(int keep, HandleValue graph, const char16_t* fileName,
                          const COLORFORMAT* format, HBITMAP bitmap, HBITMAP alphaBitmap,
                          const void* data, int size, const void* alphaData, int alphaSize,
                          const BASEIMAGE* color, const BASEIMAGE* alpha, int mirror,
                          int premultiply, int noTransparency, HandleValue shareWith,
                          void* loadContext);
int LinkGraphRestoreSource(HandleValue graph, const char16_t* fileName, int mirror, int premultiply,
                           int noTransparency, HandleValue shareWith, void* loadContext);
void ReleaseGraphRestoreSource(GraphRestoreSource* source);
int RestoreAllGraphs();
int WideStringLength(const char16_t* text);

// ---- Divided graphs ----

int CreateDivGraphFromImageInMemory(const void* data, int size, int count, int columns, int rows,
                                    int cellWidth, int cellHeight, HandleValue* handles,
                                    int textureFlag, int mirror, const void* alphaData,
                                    int alphaSize);
int LoadDivGraphFromImageFile(const char* fileName, int count, int columns, int rows, int cellWidth,
                              int cellHeight, HandleValue* handles, int textureFlag, int mirror);
int LoadDivGraphFromImageFileWide(const char16_t* fileName, int count, int columns, int rows,
                                  int cellWidth, int cellHeight, HandleValue* handles,
                                  int textureFlag, int mirror);
int LoadDivGraphFromMemoryWithParams(const LoadGraphParams* params, int reuse, const void* data,
                                     int size, int count, int columns, int rows, int floatPosition,
                                     int cellWidth, float cellWidthF, int cellHeight,
                                     float cellHeightF, HandleValue* handles, int textureFlag,
                                     int mirror, const void* alphaData, int alphaSize, int async,
                                     void* loadContext);
int CreateDivGraphFromGraphImage(const GraphCreateParams* params, int reuse, HandleValue base,
                                 BASEIMAGE* color, BASEIMAGE* alpha, int count, int columns,
                                 int rows, int floatPosition, int cellWidth, float cellWidthF,
                                 int cellHeight, float cellHeightF, int stepX, float stepXF,
                                 int stepY, float stepYF, HandleValue* handles, int textureFlag,
                                 int mirror, int noTransparency, void* loadContext);
int StartDivGraphLoad(GraphLoadRequest* request, int async, void* loadContext);
int LoadDivGraphNow(GraphLoadRequest* request, void* loadContext);
int RefillDivGraphsFromImage(BASEIMAGE* color, BASEIMAGE* alpha, int count, int columns, int rows,
                             int floatPosition, int cellWidth, float cellWidthF, int cellHeight,
                             float cellHeightF, int stepX, float stepXF, int stepY, float stepYF,
                             HandleValue* handles, int mirror, int useTransparency,
                             void* loadContext);

}  // namespace ZiDaz
