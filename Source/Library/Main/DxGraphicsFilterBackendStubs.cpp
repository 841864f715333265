// Stand-ins for the filter and blend operations of the shader path until the back-end dispatchers
// (Backend_Filter_... and Backend_Blend_...) are built: each reports that nothing was drawn. The
// bodies only reach them when programmable shaders are usable, which no renderer reports yet.
// Delete this file when the real dispatchers land.
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsFilterPixels.h"

namespace ZiDaz {

int Backend_Filter_Mono(FilterRunInfo*, float, float) {
    return -1;
}
int Backend_Filter_BrightClip(FilterRunInfo*, int, float, int, const float*, int) {
    return -1;
}
int Backend_Filter_BrightnessScale(FilterRunInfo*, int, int, int) {
    return -1;
}
int Backend_Filter_Hsb(FilterRunInfo*, int, float, float, float, int) {
    return -1;
}
int Backend_Filter_Invert(FilterRunInfo*, int) {
    return -1;
}
int Backend_Filter_Level(FilterRunInfo*, float, float, float, float, float, int) {
    return -1;
}
int Backend_Filter_TwoColor(FilterRunInfo*, float, const float*, const float*, int) {
    return -1;
}
int Backend_Filter_GradientMap(FilterRunInfo*, HandleValue, int, int) {
    return -1;
}
int Backend_Filter_Replacement(FilterRunInfo*, std::uint32_t, std::uint32_t, int) {
    return -1;
}
int Backend_Filter_PremultipliedAlpha(FilterRunInfo*) {
    return -1;
}
int Backend_Filter_InterpolatedAlpha(FilterRunInfo*) {
    return -1;
}
int Backend_Blend_Basic(FilterRunInfo*, int) {
    return -1;
}
int Backend_Blend_RgbaMix(FilterRunInfo*, int, int, int, int, int) {
    return -1;
}

}  // namespace ZiDaz
