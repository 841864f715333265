// Graph blend bodies (not built yet).
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

int BlendGraphBasic(FilterRunInfo*, int) {
    return -1;
}
int BlendGraphRgbaMix(FilterRunInfo*, int, int, int, int, int) {
    return -1;
}

}  // namespace ZiDaz
