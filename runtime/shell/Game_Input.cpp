#include "runtime/shell/Game_Input.h"

#include <algorithm>
#include <cstring>

#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/ShellGlobals.h"

Game_Input TheInput;

namespace {

GameInputDevices LibraryDevices() {
    GameInputDevices d{};
    d.isMainWindowActive = &ZiDaz::IsMainWindowActive;
    d.getJoypadButtonMask = &ZiDaz::GetJoypadButtonMask;
    d.copyJoypadDInput = &ZiDaz::CopyJoypadDInputRecord;
    d.copyJoypadXInput = &ZiDaz::CopyJoypadXInputRecord;
    d.copyAllKeyStates = &ZiDaz::CopyAllKeyStates;
    d.getMouseButtonState = &ZiDaz::GetMouseButtonState;
    d.getMouseClientPosition = &ZiDaz::GetMouseClientPosition;
    d.getMouseWheelNotches = &ZiDaz::GetMouseWheelNotches;
    d.setMouseCursorVisible = &ZiDaz::SetMouseCursorVisible;
    d.getMouseCursorVisibleSetting = &ZiDaz::GetMouseCursorVisibleSetting;
    d.pumpMessages = &ZiDaz::PumpMessages;
    return d;
}

GameInputDevices gDevices = LibraryDevices();

void ReadPad(ZiDaz::JoypadDInputState& out) {
    if (gDevices.copyJoypadDInput == nullptr || gDevices.copyJoypadDInput(1, &out) != 0) {
        std::memset(&out, 0, sizeof out);
        for (std::int32_t& p : out.pov) p = -1;
    }
}

bool ReadPadX(ZiDaz::JoypadXInputState& out) {
    if (gDevices.copyJoypadXInput != nullptr && gDevices.copyJoypadXInput(1, &out) == 0) {
        return true;
    }
    std::memset(&out, 0, sizeof out);
    return false;
}

// The auto-repeat pulse of a counter that counts held frames from 1.
bool Fires(std::int32_t c, std::int32_t delay, std::int32_t interval) {
    return c == delay || (c > delay && (c - delay) % interval == 0);
}

// The cardinal angle of a POV diagonal that is not the last cardinal read.
std::int32_t DiagonalToCardinal(std::int32_t p, std::int32_t lastCardinal) {
    const std::int32_t a = p - 4500;  // the pair is a and a + 9000 (36000 = 0)
    const std::int32_t b = (p + 4500) % 36000;
    if (lastCardinal == a) return b;
    if (lastCardinal == b) return a;
    switch (p) {
        case 4500:
            return 0;
        case 13500:
            return 18000;
        case 22500:
            return 18000;
        default:
            return 0;
    }
}

}  // namespace

GameInputDevices& GetGameInputDevices() {
    return gDevices;
}

void ResetGameInputDevices() {
    gDevices = LibraryDevices();
}

Game_Input::Game_Input() {
    std::memset(static_cast<void*>(this), 0, sizeof *this);
    std::memset(keyEnabled, 1, sizeof keyEnabled);
    std::memset(buttonEnabled, 1, sizeof buttonEnabled);
    upEnabled = downEnabled = leftEnabled = rightEnabled = 1;
    std::memset(playerButtonEnabled, 1, sizeof playerButtonEnabled);
    playerUpEnabled = playerDownEnabled = playerLeftEnabled = playerRightEnabled = 1;
    mouseEnabled = 1;
    padEnabled = 1;
    povTrusted = 1;
    povRaw = povLastCardinal = povDirection = -1;
    ClearVirtualInput();
}

void Game_Input::ClearVirtualInput() {
    std::memset(forceButton, 0, sizeof forceButton);
    forceUp = forceDown = forceLeft = forceRight = 0;
    std::memset(forceKeys, 0, sizeof forceKeys);
    std::memset(forceMouse, 0, sizeof forceMouse);
    forceWheel = 0;
    forceMouseX = forceMouseY = -1000;
    forceWheelValue = -1000;
    virtualInputGiven = 0;
}

void Game_Input::CheckPovAtStart() {
    povTrusted = 1;
    if (gDevices.pumpMessages) gDevices.pumpMessages();
    ZiDaz::JoypadDInputState s;
    ReadPad(s);
    if (s.pov[0] != -1) povTrusted = 0;
}

void Game_Input::Update() {
    // 1.
    if (ReplayPlaying && ReplayStopRequested) return;
    const Game_SystemState& state = TheSystemState;
    // 2.
    up = down = left = right = 0;
    ctrlHeld = shiftHeld = 0;
    escapeHeld = 0;
    const bool active = gDevices.isMainWindowActive && gDevices.isMainWindowActive() != 0;
    const bool padOn = active && padEnabled;

    // 3. Pad.
    padMask = 0;
    bool xinputPad = false;
    if (padOn) {
        padMask = gDevices.getJoypadButtonMask
                      ? static_cast<std::uint32_t>(gDevices.getJoypadButtonMask(1))
                      : 0;
        ReadPad(padState);
        xinputPad = ReadPadX(padXState);
        if (xinputPad) {
            if (padXState.leftTrigger >= 10) padMask |= 0x4000;
            if (padXState.rightTrigger >= 10) padMask |= 0x8000;
        }
        ReadPad(padState);
        if (padState.pov[0] == -1) povTrusted = 1;
    } else {
        std::memset(&padState, 0, sizeof padState);
        padState.pov[0] = -1;
    }

    // 4. Keys.
    std::memcpy(prevKeys, keys, sizeof keys);
    std::memset(keys, 0, sizeof keys);
    std::memset(rawKeys, 0, sizeof rawKeys);
    if (gDevices.copyAllKeyStates) gDevices.copyAllKeyStates(rawKeys);
    if (active) std::memcpy(keys, rawKeys, sizeof keys);

    // 5. Sticks.
    if (padOn) {
        ZiDaz::JoypadDInputState s;
        ReadPad(s);
        stickX = s.x;
        stickY = s.y;
        stickZ = s.z;
        stickRX = s.rx;
        stickRY = s.ry;
        leftTrigger = xinputPad ? padXState.leftTrigger : -1;
        rightTrigger = xinputPad ? padXState.rightTrigger : -1;
    } else {
        stickX = stickY = stickZ = stickRX = stickRY = 0;
        leftTrigger = rightTrigger = -1;
    }

    // 6. POV.
    if (padOn) {
        const std::int32_t p = padState.pov[0];
        povRaw = p;
        if (p >= 0 && p % 9000 == 0) {
            povLastCardinal = povDirection = p;
        } else if (p >= 0 && p % 9000 == 4500) {
            povDirection = DiagonalToCardinal(p, povLastCardinal);
        }
    } else {
        padState.pov[0] = -1;
        povRaw = povLastCardinal = povDirection = -1;
    }

    // 7. Enable flags and virtual keys.
    for (int i = 0; i < 256; ++i) keys[i] = ((keys[i] && keyEnabled[i]) || forceKeys[i]) ? 1 : 0;
    forcedEnterCopy = forceKeys[dik::Enter];

    const auto key = [this](int code) { return keys[code] != 0; };
    const auto configuredKey = [this](std::int32_t code) {
        const std::int32_t k = code - 100;
        return k >= 0 && k < 256 && keys[k] != 0;
    };
    const std::uint32_t b0 = static_cast<std::uint32_t>(state.padBits[0]);
    const std::uint32_t b1 = static_cast<std::uint32_t>(state.padBits[1]);
    const std::uint32_t b2 = static_cast<std::uint32_t>(state.padBits[2]);

    if (!ReplayPlaying) {
        // 9. Directions.
        const bool stickOn = state.padStickDirections != 0;
        const bool povOn = state.padHatDirections != 0;
        const std::uint32_t p = static_cast<std::uint32_t>(padState.pov[0]);
        const bool pov = povTrusted && povOn;
        up = forceUp ||
             (active && upEnabled &&
              ((stickOn && stickY <= -50) || key(dik::Up) || key(dik::Numpad8))) ||
             (pov && (p <= 4500 || (p >= 31500 && p <= 36000)));
        down = forceDown ||
               (active && downEnabled &&
                ((stickOn && stickY >= 50) || key(dik::Down) || key(dik::Numpad2))) ||
               (pov && p >= 13500 && p <= 22500);
        left = forceLeft ||
               (active && leftEnabled &&
                ((stickOn && stickX <= -50) || key(dik::Left) || key(dik::Numpad4))) ||
               (pov && p >= 22500 && p <= 31500);
        right = forceRight ||
                (active && rightEnabled &&
                 ((stickOn && stickX >= 50) || key(dik::Right) || key(dik::Numpad6))) ||
                (pov && p >= 4500 && p <= 13500);

        // 10. Mouse.
        std::memset(mouseButton, 0, sizeof mouseButton);
        std::memset(mousePressed, 0, sizeof mousePressed);
        int x = mouseX;
        int y = mouseY;
        bool readX = false;
        bool readY = false;
        const bool mouseOn = active && mouseEnabled;
        if (mouseOn && gDevices.getMouseClientPosition) {
            gDevices.getMouseClientPosition(&x, &y);
            readX = readY = true;
        }
        if (forceMouseX != -1000) {
            x = forceMouseX;
            readX = true;
        }
        if (forceMouseY != -1000) {
            y = forceMouseY;
            readY = true;
        }
        const int w = ScreenWidth;
        const int h = ScreenHeight;
        const bool inside = x >= 0 && x <= w && y >= 0 && y <= h;
        const int buttons =
            mouseOn && gDevices.getMouseButtonState ? gDevices.getMouseButtonState() : 0;
        // Bits 1, 2, 4 are left, right, middle; the virtual flags are left, middle, right.
        const int bits[3] = {1, 2, 4};
        const std::uint8_t forced[3] = {forceMouse[0], forceMouse[2], forceMouse[1]};
        for (int i = 0; i < 3; ++i) {
            const bool down = (buttons & bits[i]) != 0;
            const bool held = forced[i] || (mouseOn && down && (inside || mouseHeld[i]));
            mouseButton[i] = held ? 1 : 0;
            mousePressed[i] = (held && !mouseHeld[i]) ? 1 : 0;
        }
        std::memcpy(mouseHeld, mouseButton, sizeof mouseHeld);
        if (forceWheel) {
            wheel = forceWheelValue;
        } else if (mouseOn) {
            const int notches =
                gDevices.getMouseWheelNotches ? gDevices.getMouseWheelNotches(true) : 0;
            wheel = (previous.activeLast && previous.activeBeforeLast) ? notches : 0;
        }
        rawMouseX = x;
        rawMouseY = y;
        if (state.cursorVisible == 0 && gDevices.setMouseCursorVisible) {
            const int shown =
                gDevices.getMouseCursorVisibleSetting ? gDevices.getMouseCursorVisibleSetting() : 1;
            if (!active) {
                gDevices.setMouseCursorVisible(1);
            } else if (y < -1 && shown == 0) {
                gDevices.setMouseCursorVisible(1);
            } else if (y >= 0 && shown != 0) {
                gDevices.setMouseCursorVisible(0);
            }
        }
        const int scale = WindowScale;
        if (readX) {
            x = std::clamp(x, 0, std::max(w, 0));
            if (scale >= 2) x /= scale;
            mouseX = x;
        }
        if (readY) {
            y = std::clamp(y, 0, std::max(h, 0));
            if (scale >= 2) y /= scale;
            mouseY = y;
        }
        mouseDX = mouseX - prevMouseX;
        mouseDY = mouseY - prevMouseY;
        prevMouseX = mouseX;
        prevMouseY = mouseY;

        // 11. Modifier keys.
        const bool ctrl = active && (key(dik::LeftCtrl) || key(dik::RightCtrl));
        const bool shift = active && (key(dik::LeftShift) || key(dik::RightShift));
        const bool print =
            active && (key(dik::PrintScreen) || key(dik::ScrollLock) || key(dik::Pause));
        ctrlHeld = ctrl;
        shiftHeld = shift;
        printKeyHeld = print;
        ctrlPressed = ctrl && !previous.ctrl;
        shiftPressed = shift && !previous.shift;
        printKeyPressed = print && !previous.printKey;
        previous.ctrl = ctrl;
        previous.shift = shift;
        previous.printKey = print;
        altHeld = active && (key(dik::LeftAlt) || key(dik::RightAlt));
        enterHeld = key(dik::Enter);
        enterPressed = enterHeld && !previous.enter;
        previous.enter = enterHeld;
        windowsKeyHeld = rawKeys[dik::LeftWindows] || rawKeys[dik::RightWindows];
        windowsKeyPressed = windowsKeyHeld && !previous.windowsKey;
        previous.windowsKey = windowsKeyHeld;

        // 12. Buttons.
        buttonHeld[Decide] =
            forceButton[0] ||
            (buttonEnabled[0] && ((padMask & b0) || configuredKey(state.keyCodes[0]) ||
                                  key(dik::Enter) || key(dik::Space) || key(dik::NumpadEnter)));
        buttonHeld[Cancel] =
            forceButton[1] ||
            (buttonEnabled[1] &&
             ((padMask & b1) || configuredKey(state.keyCodes[1]) || key(dik::Numpad0) ||
              key(dik::Insert) || key(dik::Escape) || key(dik::Backspace)));
        buttonHeld[Sub] =
            forceButton[2] ||
            (buttonEnabled[2] && ((padMask & b2) || key(dik::LeftShift) || key(dik::RightShift) ||
                                  configuredKey(state.keyCodes[2])));
        buttonHeld[Extra] = active && (padMask & 0x4000);
        for (int i = 0; i < 4; ++i) {
            buttonPressed[i] = buttonHeld[i] && !previous.buttonHeld[i];
        }
        escapeHeld = key(dik::Escape);
        escapePressed = escapeHeld && !previous.escapeHeld;

        // 13.
        std::memcpy(previous.buttonHeld, buttonHeld, sizeof buttonHeld);
        previous.escapeHeld = escapeHeld;
        std::memcpy(gameButton, buttonHeld, sizeof gameButton);
        previous.activeBeforeLast = previous.activeLast;
        previous.activeLast = active;

        // 14.
        TheInputReplay.RecordFrame(up, down, left, right, gameButton[0], gameButton[1],
                                   gameButton[2], gameButton[3]);
    } else {
        // 15. Live buttons steer the replay; virtual input and enable flags take no part.
        std::memset(buttonHeld, 0, sizeof buttonHeld);
        std::memset(buttonPressed, 0, sizeof buttonPressed);
        buttonHeld[Decide] = (padMask & b0) || configuredKey(state.keyCodes[0]) ||
                             key(dik::Enter) || key(dik::Space);
        buttonHeld[Cancel] = (padMask & b1) || configuredKey(state.keyCodes[1]) ||
                             key(dik::Numpad0) || key(dik::Insert) || key(dik::Kanji) ||
                             key(dik::Escape) || key(dik::Backspace);
        buttonHeld[Sub] = (padMask & b2) || key(dik::LeftShift) || key(dik::RightShift) ||
                          configuredKey(state.keyCodes[2]);
        for (int i = 0; i < 4; ++i) {
            buttonPressed[i] = buttonHeld[i] && !previous.buttonHeld[i];
        }
        // 16.
        std::uint8_t played[8];
        TheInputReplay.PlayFrame(played);
        up = played[0];
        down = played[1];
        left = played[2];
        right = played[3];
        for (int i = 0; i < 4; ++i) gameButton[i] = played[4 + i];
    }

    // 17.
    for (int i = 0; i < 4; ++i) {
        gameButtonPressed[i] = gameButton[i] && !previous.gameButton[i];
    }
    std::memcpy(previous.gameButton, gameButton, sizeof gameButton);
    for (int j = 0; j < 2; ++j) {
        buttonHoldFrames[j] = gameButton[j] ? buttonHoldFrames[j] + 1 : 0;
    }

    // 18.
    upPressed = up && !previous.up;
    downPressed = down && !previous.down;
    leftPressed = left && !previous.left;
    rightPressed = right && !previous.right;

    // 19. Per-axis choice.
    if (upPressed) {
        upActive = 1;
        downActive = 0;
    } else if (!up) {
        upActive = 0;
        if (down) downActive = 1;
    }
    if (downPressed) {
        upActive = 0;
        downActive = 1;
    } else if (!down) {
        downActive = 0;
        if (up) upActive = 1;
    }
    if (leftPressed) {
        leftActive = 1;
        rightActive = 0;
    } else if (!left) {
        leftActive = 0;
        if (right) rightActive = 1;
    }
    if (rightPressed) {
        leftActive = 0;
        rightActive = 1;
    } else if (!right) {
        rightActive = 0;
        if (left) leftActive = 1;
    }

    // 20. dir8 and its hold counter.
    if (upActive) {
        dir8 = leftActive ? 7 : rightActive ? 9 : 8;
    } else if (downActive) {
        dir8 = leftActive ? 1 : rightActive ? 3 : 2;
    } else {
        dir8 = leftActive ? 4 : rightActive ? 6 : 0;
    }
    if (dir8 == 0 || dir8 != previous.dir8) {
        previous.dirHoldFrames = 0;
    } else {
        ++previous.dirHoldFrames;
    }

    // 21. Four-way choice.
    const auto noneSet = [this] { return !dir4Up && !dir4Down && !dir4Left && !dir4Right; };
    const auto only = [this](std::uint8_t* flag) {
        dir4Up = dir4Down = dir4Left = dir4Right = 0;
        *flag = 1;
    };
    const auto handOver = [&](bool a, std::uint8_t* fa, bool b, std::uint8_t* fb, bool c,
                              std::uint8_t* fc) {
        if (!noneSet()) return;
        if (a) {
            *fa = 1;
        } else if (b) {
            *fb = 1;
        } else if (c) {
            *fc = 1;
        }
    };
    if (upPressed) {
        only(&dir4Up);
    } else if (!up) {
        dir4Up = 0;
        handOver(down, &dir4Down, left, &dir4Left, right, &dir4Right);
    }
    if (downPressed) {
        only(&dir4Down);
    } else if (!down) {
        dir4Down = 0;
        handOver(up, &dir4Up, left, &dir4Left, right, &dir4Right);
    }
    if (leftPressed) {
        only(&dir4Left);
    } else if (!left) {
        dir4Left = 0;
        handOver(right, &dir4Right, up, &dir4Up, down, &dir4Down);
    }
    if (rightPressed) {
        only(&dir4Right);
    } else if (!right) {
        dir4Right = 0;
        handOver(left, &dir4Left, up, &dir4Up, down, &dir4Down);
    }
    dir4 = dir4Up ? 8 : dir4Down ? 2 : dir4Left ? 4 : dir4Right ? 6 : 0;

    // 22.
    vertical = upActive ? 8 : downActive ? 2 : 0;
    horizontal = leftActive ? 4 : rightActive ? 6 : 0;
    dirPressed = 0;
    if (upPressed) dirPressed = 8;
    if (downPressed) dirPressed = 2;
    if (leftPressed) dirPressed = 4;
    if (rightPressed) dirPressed = 6;
    dir8Changed = dir8 != previous.dir8 ? dir8 : 0;
    verticalPressed =
        ((vertical == 8 && upPressed) || (vertical == 2 && downPressed)) ? vertical : 0;
    horizontalPressed =
        ((horizontal == 4 && leftPressed) || (horizontal == 6 && rightPressed)) ? horizontal : 0;
    dir4Repeat = dirPressed;
    dir8Repeat = dir8Changed;
    verticalRepeat = verticalPressed;
    horizontalRepeat = horizontalPressed;

    // 23. Auto-repeat.
    const std::int32_t multiplier = std::max<std::int32_t>(1, FrameMultiplier);
    const std::int32_t delay = std::max<std::int32_t>(1, state.keyRepeatFirstWait / multiplier);
    const std::int32_t interval = std::max<std::int32_t>(1, state.keyRepeatWait / multiplier);
    for (int j = 0; j < 2; ++j) {
        buttonRepeat[j] = Fires(buttonHoldFrames[j], delay, interval) ? 1 : 0;
    }
    if (Fires(previous.dirHoldFrames, delay, interval)) {
        dir4Repeat = dir4;
        dir8Repeat = dir8;
        verticalRepeat = vertical;
        horizontalRepeat = horizontal;
    }
    previous.dir8 = dir8;
    previous.up = up;
    previous.down = down;
    previous.left = left;
    previous.right = right;

    // 24. Function keys.
    static constexpr int kFunctionCodes[kFunctionKeyCount] = {
        dik::F2,     dik::F2 + 1, dik::F2 + 2, dik::F2 + 3, dik::F2 + 4,
        dik::F2 + 5, dik::F2 + 7, dik::F2 + 6, dik::F11,    dik::F12};
    for (int i = 0; i < kFunctionKeyCount; ++i) {
        const std::uint8_t held = active && keys[kFunctionCodes[i]] == 1;
        functionKeyHeld[i] = held;
        functionKeyPressed[i] = held && !previous.functionKey[i];
        previous.functionKey[i] = held;
    }
    const std::uint8_t f10 = active && keys[dik::F10] == 1;
    f10Held = f10;
    f10Pressed = f10 && !previous.f10;
    f10Released = previous.f10 && !f10;
    previous.f10 = f10;

    // 25.
    ClearVirtualInput();
}
