// The filter pass plan: how many passes a filter takes on the active renderer and where each pass
// reads and writes (cached power-of-two work graphs stand between passes and in place of targets
// that cannot be drawn to), the cache of filter pixel programs with their name tables, and the
// Gaussian kernel that both the software body and the shader path use.
// Included by Main/DxGraphicsFilter.h.
#pragma once

#include <cstdint>

#include "Main/DxHandle.h"

namespace ZiDaz {

struct ArchiveReader;
struct FilterRunInfo;
struct FilterParams;

// ---- Filter program cache ----
// One handle per entry, -1 while not made; shared by both device back ends (one runs at a time).
// Entry 27 is the Level gamma-table graph, entry 28 the gamma it was made for (float bits).
inline constexpr int kFilterShaderCacheSize = 638;
extern int FilterShaderCache[kFilterShaderCacheSize];
inline constexpr int kD3D9FilterProgramCount = 84;
inline constexpr int kD3D11FilterProgramCount = 88;
// Null marks an index without a program.
extern const char* const D3D9FilterProgramNames[kD3D9FilterProgramCount];
extern const char* const D3D11FilterProgramNames[kD3D11FilterProgramCount];

// The archive holding the filter programs of a device kind (1 or 2); the back end sets it when it
// opens its built-in shader pack and clears it (null) when it closes it.
int SetFilterProgramArchive(int kind, ArchiveReader* reader);
// A pixel-program Shader made from the entry of that name in the active back end's archive; -1
// when the archive is not open or has no such entry. The code stays in the archive's image.
HandleValue LoadFilterProgram(const char* name, int shaderKind);
// The program of cache entry `entry`, loading program `programIndex` of the active back end's
// name table on first use. On failure the name is logged, the entry stays -1 (the next request
// tries again) and -1 is returned.
HandleValue GetFilterProgram(int entry, int programIndex);

// ---- Work graphs ----
// A drawable graph of 2^i x 2^j covering width x height, of the pixel class that the float flag
// and the bits per channel give, one of two members; made on first need and kept. -1 when it
// cannot be made (logged) or the size lies beyond 2^17.
HandleValue GetFilterWorkGraph(int floatFlag, int channelBits, int width, int height, int member);
// The power-of-two exponent covering a length (0 for 0 and 1); -1 beyond 2^17.
int FilterWorkGraphExponent(int length);

// ---- The pass plan (by GraphicsBackendKind; kind 0 plans one software pass) ----
int Backend_Filter_Start(FilterRunInfo* info, const FilterParams* params);
// In: the info's source (the filter's source, or the previous pass's destination) and destination
// (the filter's). Out: where this pass reads and writes.
int Backend_Filter_PassTargets(FilterRunInfo* info, HandleValue* source, HandleValue* destination);
int Backend_Filter_Finish();
int Backend_Filter_End(FilterRunInfo* info, HandleValue lastDestination, int lastResult);
// What the last shader-path pass operation returned (the pass dispatchers keep it).
extern int FilterLastPassResult;

// ---- Gaussian kernel ----
struct GaussKernelCache {
    float Strength;  // initially -10,000,000
    int PixelWidth;  // initially 0
    float Weights[16];
};
extern GaussKernelCache GaussKernel;
// The width the kernel uses for a requested width: 8, 16 or 32.
int GaussPixelWidth(int requested);
// Rebuilds the cached kernel when the width or the strength changed; returns the width used.
int UpdateGaussKernel(int requestedWidth, float strength);

// Releases the images a software body took without writing anything back.
int ReleaseFilterImages(FilterRunInfo* info);

}  // namespace ZiDaz
