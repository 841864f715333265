// XInput over SDL game controllers.
#include "platform/XInput.h"

#include <cstring>
#include <mutex>

#include "InputDevices.h"
#include "platform/Modules.h"

namespace platform::xinput {

namespace {

struct Packets {
    std::mutex mutex;
    XINPUT_GAMEPAD last[XUSER_MAX_COUNT] = {};
    DWORD number[XUSER_MAX_COUNT] = {};
};

Packets& PacketState() {
    static Packets packets;
    return packets;
}

}  // namespace

DWORD XInputGetState(DWORD userIndex, XINPUT_STATE* state) {
    if (userIndex >= XUSER_MAX_COUNT || state == nullptr) return ERROR_BAD_ARGUMENTS;
    input::ControllerReading r;
    if (!input::ReadControllerSlot(static_cast<int>(userIndex), &r)) {
        std::memset(state, 0, sizeof(*state));
        return ERROR_DEVICE_NOT_CONNECTED;
    }
    XINPUT_GAMEPAD pad{r.buttons,   r.leftTrigger, r.rightTrigger, r.thumbs[0],
                       r.thumbs[1], r.thumbs[2],   r.thumbs[3]};
    Packets& p = PacketState();
    std::lock_guard lock(p.mutex);
    // The packet number changes whenever the state does.
    if (std::memcmp(&pad, &p.last[userIndex], sizeof(pad)) != 0) {
        p.last[userIndex] = pad;
        ++p.number[userIndex];
    }
    state->dwPacketNumber = p.number[userIndex];
    state->Gamepad = pad;
    return ERROR_SUCCESS;
}

DWORD XInputSetState(DWORD userIndex, XINPUT_VIBRATION* vibration) {
    if (userIndex >= XUSER_MAX_COUNT || vibration == nullptr) return ERROR_BAD_ARGUMENTS;
    bool connected = input::RumbleControllerSlot(
        static_cast<int>(userIndex), vibration->wLeftMotorSpeed, vibration->wRightMotorSpeed);
    return connected ? ERROR_SUCCESS : ERROR_DEVICE_NOT_CONNECTED;
}

namespace {
const ModuleExports kExports("xinput1_4.dll", {{"XInputGetState", Export(&XInputGetState)},
                                               {"XInputSetState", Export(&XInputSetState)}});
}  // namespace

}  // namespace platform::xinput
