// YUV to RGB conversion filter (not built yet).
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

int FilterBodyYuvToRgb(FilterRunInfo*, HandleValue) {
    return -1;
}

}  // namespace ZiDaz
