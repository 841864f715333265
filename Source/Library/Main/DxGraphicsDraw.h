// Drawing: the draw settings and their setters, the common frame every graph and shape draw runs
// through (2D mode, emulated subtraction, the mask bracket, device or software path), the graph
// drawing operations and the shape drawing operations. Included by Main/DxGraphics.h.
#pragma once

#include <cstdint>

#include "Main/DxHandle.h"
#include "Main/DxMath.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

// The blend modes beyond those the software renderer draws (Main/DxMemImg.h holds 0-4, 10, 11).
inline constexpr int DX_BLEND_SUBTRACT_STEP = 5;
inline constexpr int DX_BLEND_KEEP_DEST = 8;
inline constexpr int DX_BLEND_INVERT_DEST = 9;
inline constexpr int DX_BLEND_SOURCE_COPY = 14;
inline constexpr int DX_BLEND_PREMULTIPLIED = 15;
inline constexpr int DX_BLEND_REVERSE_SUBTRACT = 16;
inline constexpr int DX_BLEND_PMA_ALPHA = 17;
inline constexpr int DX_BLEND_PMA_ADD = 18;
inline constexpr int DX_BLEND_PMA_SUBTRACT = 19;
inline constexpr int DX_BLEND_ZERO = 23;
inline constexpr int DX_BLEND_CUSTOM = 32;
// Every back-end blend table has rows 0 to this.
inline constexpr int kMaxBlendMode = 32;

// The graph value of PaintUserVertices2D that draws untextured.
inline constexpr HandleValue kUntexturedVertices = -5;

// One caller-made 2D vertex (28 bytes): screen position, z, rhw, colour bytes blue, green, red,
// alpha, texture coordinates.
struct VERTEX2D {
    float x, y, z;
    float rhw;
    std::uint8_t b, g, r, a;
    float u, v;
};
static_assert(sizeof(VERTEX2D) == 28);

// One quad of a quad list: vertices top-left, top-right, bottom-left, bottom-right of the image,
// each x, y (screen) and u, v (0..1 of the graph's texture).
struct GraphQuad {
    float v[4][4];
};

struct GraphQuadList {
    std::int32_t Count;
    const GraphQuad* Quads;
    HandleValue Graph;
    std::int32_t Transparent;
};

// One row of the thick-shape span table.
inline constexpr std::int16_t kSpanOuterLeft = 1;
inline constexpr std::int16_t kSpanOuterRight = 2;
inline constexpr std::int16_t kSpanInnerLeft = 4;
inline constexpr std::int16_t kSpanInnerRight = 8;
struct ThickSpanRow {
    std::int16_t OuterLeft, OuterRight, InnerLeft, InnerRight, Flags;
};
static_assert(sizeof(ThickSpanRow) == 10);

// ---- Draw settings ----
int SelectBlendMode(int mode, int param);
int SetBrightnessColor(int red, int green, int blue);
int GetBrightnessColor(int* red, int* green, int* blue);
int SetDrawColorOffset(int red, int green, int blue);
int SetAlphaTestMode(int mode, int reference);
int SelectTextureFilter(int filter);
int SwitchFog(int flag);
int ApplyFogEnableNow();
int SetTextureAddressModes(int modeU, int modeV, int stage);
int SetSecondZBufferEnable(int flag);
int SelectUserPixelShader(HandleValue shader);
int SelectUserVertexShader(HandleValue shader);
int BindStageTexture(int stage, HandleValue texture);
int SetTextureCoordTransform(int use, const Matrix4F* matrix, int stage);
// kind 0 takes the border parameter, 1 the border parameter and range, 2 none.
int SetBlendGraph(HandleValue graph, int kind, int borderParam, int borderRange);
int SetBlendGraphParams(HandleValue graph, int kind, int borderParam, int borderRange);
int Enter2DDrawMode();
int Leave2DDrawMode(int keepWorld);
int BeginEmulatedSubtract(RECT rect);
int EndEmulatedSubtract(RECT rect);

// ---- Graph drawing ----
int PutGraph(int x, int y, HandleValue graph, int transparent);
int PutGraphF(float x, float y, HandleValue graph, int transparent);
int PutGraphStretched(int x1, int y1, int x2, int y2, HandleValue graph, int transparent);
int PutGraphStretchedF(float x1, float y1, float x2, float y2, HandleValue graph, int transparent);
int PutGraphReversed(int x, int y, HandleValue graph, int transparent, int reverseX, int reverseY);
int PutGraphReversedF(float x, float y, HandleValue graph, int transparent, int reverseX,
                      int reverseY);
int PutGraphSubRect(int x, int y, int sourceX, int sourceY, int width, int height,
                    HandleValue graph, int transparent, int reverseX, int reverseY);
int PutGraphSubRectF(float x, float y, float sourceX, float sourceY, float width, float height,
                     HandleValue graph, int transparent, int reverseX, int reverseY);
int PutGraphSubRectStretched(int x1, int y1, int x2, int y2, int sourceX, int sourceY, int width,
                             int height, HandleValue graph, int transparent);
int PutGraphSubRectStretchedF(float x1, float y1, float x2, float y2, int sourceX, int sourceY,
                              int width, int height, HandleValue graph, int transparent);
// Corners in the order top-left, top-right, bottom-right, bottom-left of the image.
int PutGraphOnQuadF(float x1, float y1, float x2, float y2, float x3, float y3, float x4, float y4,
                    HandleValue graph, int transparent);
int PutGraphOnQuadBody(float x1, float y1, float x2, float y2, float x3, float y3, float x4,
                       float y4, HandleValue graph, int transparent, int quadFlag);
int PutGraphRotatedF(float x, float y, double scale, double angle, HandleValue graph,
                     int transparent, int reverseX, int reverseY);
int PutGraphRotatedFastF(float x, float y, float scale, float angle, HandleValue graph,
                         int transparent, int reverseX, int reverseY);
int PutGraphRotated3(int x, int y, int pivotX, int pivotY, double scaleX, double scaleY,
                     double angle, HandleValue graph, int transparent, int reverseX, int reverseY);
int PutGraphRotated3F(float x, float y, float pivotX, float pivotY, double scaleX, double scaleY,
                      double angle, HandleValue graph, int transparent, int reverseX, int reverseY,
                      int intCoords);
int PutGraphRotated3Fast(int x, int y, int pivotX, int pivotY, float scaleX, float scaleY,
                         float angle, HandleValue graph, int transparent, int reverseX,
                         int reverseY);
int PutGraphRotated3FastF(float x, float y, float pivotX, float pivotY, float scaleX, float scaleY,
                          float angle, HandleValue graph, int transparent, int reverseX,
                          int reverseY, int intCoords);
int PutGraphList(const GraphQuadList* list);
int PutGraphTiled(int x1, int y1, int x2, int y2, int offsetX, int offsetY, double scale,
                  double angle, HandleValue graph, int transparent);
int PutGraphWithBlendGraph(int x, int y, HandleValue graph, int transparent, HandleValue blendGraph,
                           int borderParam, int borderRange);
int FillGraphRect(HandleValue graph, int x, int y, int width, int height, int red, int green,
                  int blue, int alpha);
int LookUpSinCos(float angle, float* sine, float* cosine);

// ---- Shape drawing ----
int PaintRectangle(int x1, int y1, int x2, int y2, std::uint32_t color, int fill);
int PaintFilledBox(int x1, int y1, int x2, int y2, std::uint32_t color);
int PaintBoxOutline(int x1, int y1, int x2, int y2, std::uint32_t color);
int PaintLine(int x1, int y1, int x2, int y2, std::uint32_t color, int thickness);
int PaintThickLine(int x1, int y1, int x2, int y2, std::uint32_t color, int thickness);
int PaintCircle(int x, int y, int radius, std::uint32_t color, int fill, int thickness);
int PaintOval(int x, int y, int radiusX, int radiusY, std::uint32_t color, int fill, int thickness);
int PaintTriangle(int x1, int y1, int x2, int y2, int x3, int y3, std::uint32_t color, int fill);
int PaintUserVertices2D(const VERTEX2D* vertices, int count, int primitive, HandleValue graph,
                        int transparent);
// The span tables cover rows 0 up to the bottom of the draw area; only rows inside it are written.
int ComputeThickCircleSpans(int centerX, int centerY, int radius, int thickness,
                            ThickSpanRow* table);
int ComputeThickOvalSpans(int centerX, int centerY, int radiusX, int radiusY, int thickness,
                          ThickSpanRow* table);
// Frees the work buffers of the draw calls (at the graphics end).
void ReleaseDrawWorkBuffers();

}  // namespace ZiDaz
