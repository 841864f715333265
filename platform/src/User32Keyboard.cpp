// user32's keyboard state: what the event pump has seen of keys and mouse buttons.
#include "InputDevices.h"
#include "platform/Modules.h"
#include "platform/User32.h"

namespace platform::user32 {

BOOL GetKeyboardState(BYTE* keys) {
    if (keys == nullptr) return FALSE;
    input::CopyVirtualKeys(keys);
    return TRUE;
}

namespace {
const ModuleExports kExports("User32.dll", {{"GetKeyboardState", Export(&GetKeyboardState)}});
}  // namespace

}  // namespace platform::user32
