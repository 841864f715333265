// Colour and alpha filter bodies (not built yet).
#include "Main/DxGraphicsFilter.h"

namespace ZiDaz {

int FilterBodyMono(FilterRunInfo*, float, float) {
    return -1;
}
int FilterBodyBrightClip(FilterRunInfo*, int, float, int, const float[4], int) {
    return -1;
}
int FilterBodyBrightnessScale(FilterRunInfo*, int, int, int) {
    return -1;
}
int FilterBodyHsb(FilterRunInfo*, int, float, float, float, int) {
    return -1;
}
int FilterBodyInvert(FilterRunInfo*, int) {
    return -1;
}
int FilterBodyLevel(FilterRunInfo*, float, float, float, float, float, int) {
    return -1;
}
int FilterBodyTwoColor(FilterRunInfo*, float, const float[4], const float[4], int) {
    return -1;
}
int FilterBodyGradientMap(FilterRunInfo*, HandleValue, int, int) {
    return -1;
}
int FilterBodyReplacement(FilterRunInfo*, std::uint32_t, std::uint32_t, int) {
    return -1;
}
int FilterBodyPremultipliedAlpha(FilterRunInfo*) {
    return -1;
}
int FilterBodyInterpolatedAlpha(FilterRunInfo*) {
    return -1;
}
void ResetLevelGammaGraph() {}

}  // namespace ZiDaz
