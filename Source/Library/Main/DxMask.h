// The mask layer: one byte per screen pixel that decides, while masking is on, whether drawing
// reaches the draw target; and the mask images (Mask handles) drawn onto it.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

namespace ZiDaz {

// True while the mask layer exists and masking is switched on: every drawing primitive then
// brackets its draw with BeginMaskedDraw and EndMaskedDraw over its clamped bounding rectangle.
bool MaskLayerInUse();

// The two halves of the bracket; only the outermost pair of nested calls does work.
int BeginMaskedDraw(RECT rect);
int EndMaskedDraw(RECT rect);

}  // namespace ZiDaz
