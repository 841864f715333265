// Gaussian blur and down-scaling (not built yet).
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

int FilterBodyGauss(FilterRunInfo*, int, float) {
    return -1;
}
int FilterBodyDownScale(FilterRunInfo*, int) {
    return -1;
}

}  // namespace ZiDaz
