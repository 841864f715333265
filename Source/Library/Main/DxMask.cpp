#include "Main/DxMask.h"

namespace ZiDaz {

// No mask layer can be made yet, so masking is never in use and the bracket does nothing.
bool MaskLayerInUse() {
    return false;
}

int BeginMaskedDraw(RECT) {
    return 0;
}

int EndMaskedDraw(RECT) {
    return 0;
}

}  // namespace ZiDaz
