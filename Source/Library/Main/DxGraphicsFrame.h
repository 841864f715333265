// The common frame of the graph and shape draws: the checks before a draw and the bracket around
// it (2D mode, emulated subtraction, the mask layer). Shared by Main/DxGraphicsDraw.cpp and
// Main/DxGraphicsShape.cpp only.
#pragma once

#include "Main/DxGraphics.h"
#include "Main/DxMask.h"

namespace ZiDaz::drawframe {

inline GraphicsSystemStateData& G() {
    return GraphicsSystemState;
}
inline DrawSettingsData& Settings() {
    return GraphicsSystemState.DrawSettings;
}
inline bool DeviceInUse() {
    return GraphicsSystemState.DevicePresent != 0;
}

// The blend image of software draws: the whole image of the blend graph, while that graph lives
// (it may have been deleted since it was set).
inline const MEMIMG* SoftwareBlendImage() {
    GraphicsSystemStateData& g = GraphicsSystemState;
    if (g.SoftwareBlendImage == nullptr) return nullptr;
    const HandleValue handle = Settings().BlendGraph;
    GraphHandleRecord* blend = handle > 0 ? LookUpGraphRecord(handle, 1) : nullptr;
    g.SoftwareBlendImage =
        blend != nullptr && blend->Image != nullptr && blend->Image->Format.DeviceImage == 0
            ? &blend->Image->Image
            : nullptr;
    return g.SoftwareBlendImage;
}

// The bounding rectangle clamped into the draw area, coordinate by coordinate.
inline RECT ClampToDrawArea(RECT r) {
    const RECT& a = Settings().DrawArea;
    auto clamp = [](LONG v, LONG lo, LONG hi) { return v < lo ? lo : (v > hi ? hi : v); };
    r.left = clamp(r.left, a.left, a.right);
    r.right = clamp(r.right, a.left, a.right);
    r.top = clamp(r.top, a.top, a.bottom);
    r.bottom = clamp(r.bottom, a.top, a.bottom);
    return r;
}

// Whether a draw that goes to the device needs the three-pass subtraction: the device blends
// subtraction only as the inverting row (Direct3D 11 always subtracts in reverse).
inline bool NeedsEmulatedSubtract(bool toDevice) {
    return toDevice && Settings().BlendMode == DX_BLEND_SUBTRACT &&
           G().ReverseSubtractCapable == 0 && GraphicsBackendKind != DX_GRAPHICS_BACKEND_D3D11;
}

// Steps from the 2D switch to the end: enter 2D mode, then either draw straight away or, when the
// mask layer is in use or subtraction must be emulated, bracket the draw over the bounding
// rectangle (computed only then). bounds() gives the rectangle; clamp says whether it is clamped
// into the draw area first.
template <class Bounds, class Draw>
int RunFrameDraw(bool toDevice, bool enter2D, bool clamp, Bounds bounds, Draw draw) {
    if (enter2D && DeviceInUse() && Settings().TwoDimModeInEffect == 0) Enter2DDrawMode();
    const bool emulate = NeedsEmulatedSubtract(toDevice);
    const bool masked = MaskLayerInUse();
    if (!emulate && !masked) return draw();
    RECT r = bounds();
    if (clamp) r = ClampToDrawArea(r);
    if (masked) BeginMaskedDraw(r);
    int result;
    if (emulate) {
        BeginEmulatedSubtract(r);
        result = draw();
        EndEmulatedSubtract(r);
    } else {
        result = draw();
    }
    if (masked) EndMaskedDraw(r);
    return result;
}

}  // namespace ZiDaz::drawframe
