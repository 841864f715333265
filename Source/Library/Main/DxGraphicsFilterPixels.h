// The pixel kernels behind the colour, alpha and graph blend filter bodies.
//
// Every body of DxGraphicsFilterSoft.cpp and DxGraphicsFilterBlend.cpp is a thin wrapper: it hands
// its converted parameters to the shader path when programmable shaders are usable, and otherwise
// takes its images with LockFilterImages, runs one kernel below over them and writes the result
// back. The kernels work on plain memory (32-bit words, bytes blue, green, red, alpha from the
// low end; pitches in bytes), so they can be checked without a graphics system. Source and
// destination may be the same memory (in-place filters).
#pragma once

#include <cstdint>

#include "Main/DxHandle.h"

namespace ZiDaz {

struct FilterRunInfo;
struct BASEIMAGE;

// A rectangle of 32-bit ARGB8 pixels.
struct FilterPixelView {
    std::uint8_t* Pixels;
    std::int32_t Pitch;  // bytes from one row to the next
};
// The view of a taken ARGB8 image.
FilterPixelView FilterViewOf(const BASEIMAGE& image);

// ---- Converted parameters, shared by the software kernels and the shader hand-off ----

struct MonoSetup {
    float Cb, Cr;  // limited to -0.5..0.5
    std::int32_t RedOffset, GreenOffset, BlueOffset;
};
MonoSetup PrepareMono(float cb, float cr);

struct HsbSetup {
    float Hue;  // in sixths of a turn
    float Saturation;
    float Brightness;
    std::int32_t H;      // hue in 1536ths of a turn
    std::int32_t SPlus;  // saturation gain, 256 = unchanged
    std::int32_t K;      // brightness, 256 = double
};
HsbSetup PrepareHsb(int hueMode, float hue, float saturation, float brightness);

struct LevelSetup {
    float Min, Max, Gamma, OutMin, OutMax;  // normalised to 0..1 (gamma at least 0.001)
    // What each input byte becomes (the gamma table, the input range and the output range).
    std::uint8_t Map[256];
};
// Builds (or reuses) the module-wide gamma table.
LevelSetup PrepareLevel(float minimum, float maximum, float gamma, float outMin, float outMax);

// One colour record of 0..1 floats (r, g, b, a) as a word (bytes blue, green, red, alpha); the
// premultiplied form premultiplies its colour with its own alpha.
std::uint32_t FilterColorWord(const float color[4], int premultiplied);

// ---- Colour and alpha kernels ----

void SoftMono(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
              const MonoSetup& setup);
// compare 2 (less) or 5 (greater); fill non-zero writes fillWord where the luminance passes the
// threshold, otherwise those pixels are not written. -1 for any other comparison.
int SoftBrightClip(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                   int compare, float threshold, int fill, std::uint32_t fillWord,
                   int premultiplied);
void SoftBrightnessScale(const FilterPixelView& src, const FilterPixelView& dst, int width,
                         int height, int minimum, int maximum, int premultiplied);
void SoftHsb(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
             int hueMode, const HsbSetup& setup, int premultiplied);
void SoftInvert(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                int premultiplied);
void SoftLevel(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
               const LevelSetup& setup, int premultiplied);
// lowWord / highWord as FilterColorWord makes them.
void SoftTwoColor(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                  float threshold, std::uint32_t lowWord, std::uint32_t highWord,
                  int premultiplied);
// The 256 colours of a gradient from its top row of gradientWidth pixels.
void BuildGradientTable(const std::uint32_t* row, int gradientWidth, int reverse, int premultiplied,
                        std::uint32_t table[256]);
void SoftGradientMap(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                     const std::uint32_t table[256], int premultiplied);
void SoftReplacement(const FilterPixelView& src, const FilterPixelView& dst, int width, int height,
                     std::uint32_t target, std::uint32_t replacement, int premultiplied);
void SoftPremultiplyAlpha(const FilterPixelView& src, const FilterPixelView& dst, int width,
                          int height);
void SoftInterpolateAlpha(const FilterPixelView& src, const FilterPixelView& dst, int width,
                          int height);

// ---- Graph blend kernels ----

// The ratio weight r (0..256) of a blend ratio of 0..1.
int BlendRatioWeight(float ratio);
// Types 0 and 2..33 except 18; -1 for any other type. ratio is the blend ratio (0..1).
int SoftBlendBasic(int type, float ratio, const FilterPixelView& src, const FilterPixelView& blend,
                   const FilterPixelView& dst, int width, int height);
// Types 1 and 18: each output channel (red, green, blue, alpha) copies the byte its selector
// names: 0..3 the source's red, green, blue, alpha, 4..7 the blend image's; any other code 0.
void SoftBlendRgbaMix(const int selectors[4], const FilterPixelView& src,
                      const FilterPixelView& blend, const FilterPixelView& dst, int width,
                      int height);

// ---- The shader path's operations of these bodies (the back-end dispatchers) ----

int Backend_Filter_Mono(FilterRunInfo* info, float cb, float cr);
int Backend_Filter_BrightClip(FilterRunInfo* info, int compare, float threshold, int fill,
                              const float* fillColor, int premultiplied);
int Backend_Filter_BrightnessScale(FilterRunInfo* info, int minimum, int maximum,
                                   int premultiplied);
int Backend_Filter_Hsb(FilterRunInfo* info, int hueMode, float hue, float saturation,
                       float brightness, int premultiplied);
int Backend_Filter_Invert(FilterRunInfo* info, int premultiplied);
int Backend_Filter_Level(FilterRunInfo* info, float minimum, float maximum, float gamma,
                         float outMin, float outMax, int premultiplied);
int Backend_Filter_TwoColor(FilterRunInfo* info, float threshold, const float* low,
                            const float* high, int premultiplied);
int Backend_Filter_GradientMap(FilterRunInfo* info, HandleValue gradient, int reverse,
                               int premultiplied);
int Backend_Filter_Replacement(FilterRunInfo* info, std::uint32_t target, std::uint32_t replacement,
                               int premultiplied);
int Backend_Filter_PremultipliedAlpha(FilterRunInfo* info);
int Backend_Filter_InterpolatedAlpha(FilterRunInfo* info);
int Backend_Blend_Basic(FilterRunInfo* info, int p);
int Backend_Blend_RgbaMix(FilterRunInfo* info, int red, int green, int blue, int alpha, int p);

// The Level gamma-table graph of the shader path (256 x 1, entry i in every byte of pixel i), or
// -1. Made and refreshed by the Level body before it hands over.
HandleValue GetLevelGammaGraph();

}  // namespace ZiDaz
