// Image filters: one dispatcher checks and clips a request, decodes the mode's arguments into
// FilterParams, asks the pass plan how many passes to run and runs the mode's body once per pass.
// A body either hands its parameters to the shader path or computes the result in software on
// 32-bit ARGB8 copies of the pixels (LockFilterImages / UnlockFilterImages).
//
// The front end, pass plan, Gaussian blur, down-scaling and YUV conversion live in
// DxGraphicsFilter.cpp, DxGraphicsFilterGauss.cpp and DxGraphicsFilterYuv.cpp; the colour and
// alpha bodies in DxGraphicsFilterSoft.cpp; the graph blend bodies in DxGraphicsFilterBlend.cpp.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "platform/WinTypes.h"

namespace ZiDaz {

struct GraphHandleRecord;

// The numbered filters; the arguments of each follow the mode in the call.
enum class ImageFilterMode : int {
    Mono = 0,
    Gauss = 1,
    DownScale = 2,
    BrightClip = 3,
    BrightnessScale = 4,
    Hsb = 5,
    Invert = 6,
    Level = 7,
    TwoColor = 8,
    GradientMap = 9,
    Replacement = 10,
    PremultipliedAlpha = 11,
    InterpolatedAlpha = 12,
    YuvToRgb = 13,         // single graph
    YuvToRgbUv = 14,       // with a UV graph
    YuvToRgbAlpha = 15,    // single graph, alpha form
    YuvToRgbUvAlpha = 16,  // with a UV graph, alpha form
    Bicubic = 17,
    Lanczos3 = 18,
    Ssao = 19,
    FloatColorScale = 20,
    PremultipliedForms = 21,  // 21..28: modes 3..10 with the premultiplied-alpha flag set
};

inline constexpr int kImageFilterModeCount = 29;  // 0..28
inline constexpr int kGraphBlendTypeCount = 34;   // 0..33 on the blend path

// The decoded arguments of every mode side by side; the dispatcher clears it and fills only the
// fields of the requested mode.
struct FilterParams {
    std::int32_t GaussPixelWidth;
    float GaussStrength;

    std::int32_t BrightClipCompare;
    float BrightClipThreshold;
    std::int32_t BrightClipFill;
    float BrightClipFillColor[4];  // r, g, b, a in 0..1

    std::int32_t BrightnessScaleMin;
    std::int32_t BrightnessScaleMax;

    std::int32_t HsbHueMode;
    float HsbHue;
    float HsbSaturation;
    float HsbBrightness;

    float MonoCb;
    float MonoCr;

    float LevelMin;
    float LevelMax;
    float LevelGamma;
    float LevelOutMin;
    float LevelOutMax;

    float TwoColorThreshold;
    float TwoColorLow[4];   // r, g, b, a in 0..1
    float TwoColorHigh[4];  // r, g, b, a in 0..1

    std::int32_t GradientMapGraph;
    std::int32_t GradientMapReverse;

    std::int32_t YuvToRgbUvGraph;

    std::int32_t ResampleWidth;  // Bicubic and Lanczos3
    std::int32_t ResampleHeight;

    std::uint32_t ReplacementTarget;  // bytes blue, green, red, alpha from the low end
    std::uint32_t ReplacementNew;

    std::int32_t SsaoGraph;
    float SsaoFloats[4];
    std::int32_t SsaoInt;
    float SsaoFloat;
    std::int32_t SsaoGraph2;

    float FloatColorScale[8];

    std::int32_t BlendInts[4];  // the four ints of the blend path (RGBA select mix selectors)
};

// What every mode body receives.
struct FilterRunInfo {
    std::int32_t SettingsFlag;         // always 1
    std::int32_t OutputBlendMode;      // 0: plain source copy
    std::int32_t BlendFlag;            // non-zero on the graph blend path
    std::int32_t Mode;                 // ImageFilterMode, or the blend type on the blend path
    HandleValue Source;                // of the current pass
    HandleValue BlendGraph;            // -1 outside the blend path
    HandleValue Destination;           // of the current pass; -2 is the screen
    std::int32_t ClearAfterFirstPass;  // DownScale
    float BlendRatio;                  // 0..1
    std::int32_t PassIndex;
    std::int32_t X1, Y1, X2, Y2;  // source rectangle after clipping
    std::int32_t Divisor;         // 1, or 2, 4, 8 for DownScale
    std::int32_t BlendX, BlendY;
    std::int32_t BlendInts[4];
    std::int32_t DestX, DestY;
    std::int32_t PassCount;
    std::int32_t UsesWorkSurface;
    std::int32_t WorkWidth, WorkHeight;
    BASEIMAGE SourceImage;  // ARGB8 while taken; null Pixels means not taken
    BASEIMAGE BlendImage;
    BASEIMAGE DestImage;
    GraphHandleRecord* SourceGraph;  // null when that handle is not a graph
    GraphHandleRecord* DestGraph;
    GraphHandleRecord* BlendGraphRecord;
    GraphHandleRecord* MultisampledTarget;  // the draw target when it is a multisampled graph
};

// ---- Public entry points ----
int RunImageFilter(HandleValue graph, int mode, ...);
int RunImageFilterToGraph(HandleValue source, HandleValue destination, int mode, ...);
int RunImageFilterOnRect(HandleValue source, HandleValue destination, int x1, int y1, int x2,
                         int y2, int destX, int destY, int mode, ...);
int ResetFilterShaderCache();
// The dispatcher behind the entry points and the graph blend (blendFlag 1, mode = blend type,
// blendParam 0..255, blendInts the RGBA select mix selectors); args holds the mode's arguments.
int RunImageFilterBase(int blendFlag, HandleValue source, HandleValue blendGraph,
                       HandleValue destination, int blendParam, int mode, int x1, int y1, int x2,
                       int y2, int blendX, int blendY, const int blendInts[4], int destX, int destY,
                       va_list args);

// ---- Software image access, shared by every software body ----
// rect null: the info's source rectangle. width/height below 0: the rectangle's size.
int LockFilterImages(FilterRunInfo* info, int freshDestination, int width, int height,
                     const RECT* rect);
int UnlockFilterImages(FilterRunInfo* info);
// graph -2 is the screen; rect null: the whole graph.
int ReadGraphRectToBaseImage(HandleValue graph, BASEIMAGE* image, const RECT* rect);

// ---- Mode bodies, called by the dispatcher's pass loop ----
// Colour and alpha bodies (software forms and their shader hand-off).
int FilterBodyMono(FilterRunInfo* info, float cb, float cr);
int FilterBodyBrightClip(FilterRunInfo* info, int compare, float threshold, int fill,
                         const float fillColor[4], int premultiplied);
int FilterBodyBrightnessScale(FilterRunInfo* info, int minimum, int maximum, int premultiplied);
int FilterBodyHsb(FilterRunInfo* info, int hueMode, float hue, float saturation, float brightness,
                  int premultiplied);
int FilterBodyInvert(FilterRunInfo* info, int premultiplied);
int FilterBodyLevel(FilterRunInfo* info, float minimum, float maximum, float gamma, float outMin,
                    float outMax, int premultiplied);
int FilterBodyTwoColor(FilterRunInfo* info, float threshold, const float low[4],
                       const float high[4], int premultiplied);
int FilterBodyGradientMap(FilterRunInfo* info, HandleValue gradient, int reverse,
                          int premultiplied);
int FilterBodyReplacement(FilterRunInfo* info, std::uint32_t target, std::uint32_t replacement,
                          int premultiplied);
int FilterBodyPremultipliedAlpha(FilterRunInfo* info);
int FilterBodyInterpolatedAlpha(FilterRunInfo* info);
// Forgets the Level gamma table graph (called by ResetFilterShaderCache and at library end).
void ResetLevelGammaGraph();

// Gaussian blur, down-scaling and YUV conversion.
int FilterBodyGauss(FilterRunInfo* info, int pixelWidth, float strength);
int FilterBodyDownScale(FilterRunInfo* info, int divisor);
int FilterBodyYuvToRgb(FilterRunInfo* info, HandleValue uvGraph);

// Graph blend bodies (types 0..33); p is the premultiplied flag.
int BlendGraphBasic(FilterRunInfo* info, int p);
int BlendGraphRgbaMix(FilterRunInfo* info, int red, int green, int blue, int alpha, int p);

}  // namespace ZiDaz

#include "Main/DxGraphicsFilterPass.h"
