// Geometry of the rotated transfer: the single-precision set-up that turns a centre, an angle and
// two scales into the four 14.18 corners of the turned image, the rectangle walked, and the 14.18
// source steps of the walk. Shared by DrawMemImgRotated and its tests.
#pragma once

#include <cstdint>

#include "Main/DxMemImg.h"

namespace ZiDaz::memimg {

// One pixel in the 14.18 fixed point of the rotated transfer.
inline constexpr std::int32_t kRotateOne = 1 << 18;
// Rows of the process-wide source row table; taller sources are refused.
inline constexpr int kRotateRowTableSize = 4096;

// Corner order of the turned image: the images of the source's top-left, top-right, bottom-left
// and bottom-right corners.
enum RotatedCorner : int { kTopLeft, kTopRight, kBottomLeft, kBottomRight };

struct RotatedFrame {
    std::int32_t sinN, cosN;  // sine and cosine of the negated angle, 14.18
    std::int32_t sinA, cosA;  // of the angle
    std::int32_t x[4], y[4];  // corners, 14.18, indexed by RotatedCorner
};

// The source position of the walk: destination pixel (left + i, top + r) of the walked rectangle
// samples (uTop + r * duRow + i * duX, vTop + r * dvRow + i * dvX), all sums wrapping in 32 bits.
struct RotatedSteps {
    std::int32_t uTop, vTop;
    std::int32_t duX, dvX;
    std::int32_t duRow, dvRow;
};

// Float to integer as the processor converts: toward zero, and the most negative value for
// anything out of range or not a number.
std::int32_t TruncateFloatToInt32(float x);

RotatedFrame ComputeRotatedFrame(std::uint32_t width, std::uint32_t height, std::int32_t centerX,
                                 std::int32_t centerY, float angle, float xScale, float yScale);

// The rectangle the walk covers before clipping (right and bottom exclusive).
RECT RotatedWalkBox(const RotatedFrame& frame);

// The whole-pixel points handed to the four-corner transfer for a mirrored draw, in the order that
// transfer reads them (where the source's top-left, top-right, bottom-left and bottom-right corners
// go). Only meaningful when a turn flag is set.
void RotatedTurnedPoints(const RotatedFrame& frame, bool turnX, bool turnY, MemImgPoint points[4]);

// Narrows [*lo, *hi] to the i with 0 <= start + i * step < limit (exact integers): the run of a
// row whose positions pass the bounds test when none of them wraps.
void ClampRotatedSpan(std::int64_t start, std::int64_t step, std::int64_t limit, std::int64_t* lo,
                      std::int64_t* hi);

// The walk's steps over the non-empty clipped rectangle rect.
RotatedSteps ComputeRotatedSteps(const RotatedFrame& frame, const RECT& rect, std::uint32_t width,
                                 std::uint32_t height, std::int32_t centerX, std::int32_t centerY,
                                 float xScale, float yScale);

}  // namespace ZiDaz::memimg
