// winmm's joystick functions over the SDL joysticks that XInput does not serve.
#include <algorithm>
#include <cstring>

#include "InputDevices.h"
#include "platform/Modules.h"
#include "platform/Winmm.h"

namespace platform::winmm {

namespace {

constexpr UINT kMaxJoysticks = 16;

bool PadOfId(UINT_PTR id, input::PadInfo* info) {
    if (id >= kMaxJoysticks) return false;
    UINT_PTR n = 0;
    for (const input::PadInfo& pad : input::ListPads()) {
        if (pad.xinputSlot >= 0) continue;
        if (n++ == id) {
            *info = pad;
            return true;
        }
    }
    return false;
}

DWORD Position(std::int32_t raw) {
    return static_cast<DWORD>(raw + 32768);
}

}  // namespace

MMRESULT joyGetDevCapsW(UINT_PTR id, JOYCAPSW* caps, UINT size) {
    if (caps == nullptr || size < sizeof(JOYCAPSW)) return MMSYSERR_INVALPARAM;
    input::PadInfo pad;
    if (!PadOfId(id, &pad)) return JOYERR_PARMS;
    std::memset(caps, 0, sizeof(*caps));
    caps->wMid = static_cast<WORD>(pad.product.Data1 & 0xFFFF);
    caps->wPid = static_cast<WORD>(pad.product.Data1 >> 16);
    std::size_t n = std::min<std::size_t>(pad.name.size(), 31);
    std::copy_n(pad.name.begin(), n, caps->szPname);
    caps->wXmax = caps->wYmax = caps->wZmax = caps->wRmax = caps->wUmax = caps->wVmax = 65535;
    caps->wNumButtons = static_cast<UINT>(pad.buttons);
    caps->wMaxButtons = 32;
    caps->wPeriodMin = 10;
    caps->wPeriodMax = 1000;
    // SDL's axes 0..5 are X, Y, Z, Rx, Ry, Rz; as winmm axes: X, Y, Z, U (Rx), V (Ry), R (Rz).
    if (pad.axes > 2) caps->wCaps |= JOYCAPS_HASZ;
    if (pad.axes > 3) caps->wCaps |= JOYCAPS_HASU;
    if (pad.axes > 4) caps->wCaps |= JOYCAPS_HASV;
    if (pad.axes > 5) caps->wCaps |= JOYCAPS_HASR;
    if (pad.hats > 0) caps->wCaps |= JOYCAPS_HASPOV | JOYCAPS_POVCTS;
    caps->wMaxAxes = 6;
    caps->wNumAxes = static_cast<UINT>(std::min(pad.axes, 6));
    return JOYERR_NOERROR;
}

MMRESULT joyGetPosEx(UINT id, JOYINFOEX* info) {
    if (info == nullptr || info->dwSize < sizeof(JOYINFOEX)) return MMSYSERR_INVALPARAM;
    input::PadInfo pad;
    if (!PadOfId(id, &pad)) return JOYERR_PARMS;
    input::PadReading r;
    if (!input::ReadPad(pad.instance, &r)) return JOYERR_UNPLUGGED;
    info->dwXpos = Position(r.axes[0]);
    info->dwYpos = Position(r.axes[1]);
    info->dwZpos = Position(r.axes[2]);
    info->dwUpos = Position(r.axes[3]);
    info->dwVpos = Position(r.axes[4]);
    info->dwRpos = Position(r.axes[5]);
    info->dwButtons = 0;
    info->dwButtonNumber = 0;
    for (int i = 0; i < 32; ++i) {
        if (r.buttons[i]) {
            info->dwButtons |= 1u << i;
            ++info->dwButtonNumber;
        }
    }
    const DWORD pov = pad.hats > 0 ? input::PovOfHat(r.hats[0]) : 0xFFFFFFFF;
    info->dwPOV = pov == 0xFFFFFFFF ? JOY_POVCENTERED : pov;
    return JOYERR_NOERROR;
}

namespace {
const ModuleExports kExports("winmm.dll", {{"joyGetDevCapsW", Export(&joyGetDevCapsW)},
                                           {"joyGetPosEx", Export(&joyGetPosEx)}});
}  // namespace

}  // namespace platform::winmm
