// Image filter front end and pass plan (not built yet: every request is refused).
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

int RunImageFilter(HandleValue, int, ...) {
    return -1;
}
int RunImageFilterToGraph(HandleValue, HandleValue, int, ...) {
    return -1;
}
int RunImageFilterOnRect(HandleValue, HandleValue, int, int, int, int, int, int, int, ...) {
    return -1;
}
int ResetFilterShaderCache() {
    return 0;
}
int LockFilterImages(FilterRunInfo*, int, int, int, const RECT*) {
    return -1;
}
int UnlockFilterImages(FilterRunInfo*) {
    return 0;
}
int ReadGraphRectToBaseImage(HandleValue, BASEIMAGE*, const RECT*) {
    return -1;
}

}  // namespace ZiDaz
