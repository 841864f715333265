// Key configuration of the three configurable game buttons and the queries for the key or pad
// button pressed now (the event script's key-input command).
#include <cstdint>

#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

namespace {

bool SkippedByKeyScan(int key) {
    return key == dik::Backspace || key == dik::Enter || key == dik::LeftShift ||
           key == dik::RightShift || key == dik::Space || key == dik::CapsLock || key == dik::Kana;
}

std::uint32_t PadCodeBit(int code) {
    return 0x10u << (code - 301);
}

}  // namespace

int GetPressedKeyCode(bool remember, bool newOnly, int* lastCode, int code) {
    if (remember) *lastCode = 0;
    if (code >= 100 && code <= 355) return TheInput.keys[code - 100] == 1 ? code : 0;
    for (int key = 2; key <= 146; ++key) {
        if (SkippedByKeyScan(key) || TheInput.keys[key] != 1) continue;
        if (!remember && !newOnly) return 100 + key;
        if (key == *lastCode || TheInput.prevKeys[key]) continue;
        *lastCode = remember ? key : 0;
        return 100 + key;
    }
    *lastCode = 0;
    return 0;
}

int GetPressedPadCode(bool remember, bool newOnly, int* lastCode, int code) {
    if (!remember && !newOnly) *lastCode = 0;
    const auto take = [&](int found) {
        if (found == *lastCode) return 0;
        *lastCode = remember ? found : 0;
        return found;
    };
    if (code >= 300 && code <= 320) {
        if (code >= 301 && code <= 315 && (TheInput.padMask & PadCodeBit(code))) return take(code);
        *lastCode = 0;
        return 0;
    }
    for (int c = 301; c <= 315; ++c) {
        if (TheInput.padMask & PadCodeBit(c)) return take(c);
    }
    *lastCode = 0;
    return 0;
}

void SetKeyConfig(int code, int button, bool keyboard, Game_SystemState* state) {
    if (state == nullptr) state = &TheSystemState;
    std::int32_t v = 0;
    if (keyboard) {
        if (code < 100 || code > 355) {
            if (TestPlay) {
                ReportRuntimeError(
                    true,
                    TranslateMessageUtf8(
                        u"ERROR:キー設定(キーボード)で範囲外(100～355外)の値を与えました"),
                    "", "");
            }
            return;
        }
        v = code;
    } else {
        if (code < 301 || code > 320) {
            if (TestPlay) {
                ReportRuntimeError(
                    true,
                    TranslateMessageUtf8(
                        u"ERROR:キー設定(パッド)で範囲外(301～308外)の値を与えました"),
                    "", "");
            }
            return;
        }
        if (code <= 317) {
            v = static_cast<std::int32_t>(PadCodeBit(code));
        } else if (code == 318) {
            v = 0x400;
        } else if (code == 319) {
            v = 0x2000;
        } else {
            v = 1 << 22;
        }
    }
    // Button numbers other than 0..2 have no slot.
    if (button < 0 || button > 2) return;
    std::int32_t* s = keyboard ? state->keyCodes.data() : state->padBits.data();
    if (v == s[0] && button != 0) s[0] = button == 1 ? s[1] : s[2];
    if (v == s[1] && button != 1) s[1] = button == 0 ? s[0] : s[2];
    if (v == s[2] && button != 2) s[2] = button == 0 ? s[0] : s[1];
    s[button] = v;
}

int GetConfiguredKeyCode(int button, bool keyboard, Game_SystemState* state) {
    if (state == nullptr) state = &TheSystemState;
    if (button < 0 || button > 2) return 0;
    if (keyboard) return state->keyCodes[button];
    const std::uint32_t bit = static_cast<std::uint32_t>(state->padBits[button]);
    for (int c = 301; c <= 315; ++c) {
        if (bit == PadCodeBit(c)) return c;
    }
    return 0;
}

std::string GetConfiguredKeyName(int button, bool keyboard) {
    if (button < 0 || button > 2) return "";
    if (keyboard) return KeyCodeToName(TheSystemState.keyCodes[button] - 100);
    const std::uint32_t bit = static_cast<std::uint32_t>(TheSystemState.padBits[button]);
    static const char16_t* const kPadNames[15] = {
        u"ボタン1",  u"ボタン2",  u"ボタン3",  u"ボタン4",  u"ボタン5",
        u"ボタン6",  u"ボタン7",  u"ボタン8",  u"ボタン9",  u"ボタン10",
        u"ボタン11", u"ボタン12", u"ボタン13", u"ボタン14", u"ボタン15"};
    for (int n = 0; n < 15; ++n) {
        if (bit == (0x10u << n)) return TranslateMessageUtf8(kPadNames[n]);
    }
    return "";
}

std::string KeyCodeToName(int keyCode) {
    if (keyCode >= 2 && keyCode <= 10) return std::string(1, static_cast<char>('1' + keyCode - 2));
    struct Name {
        int code;
        const char* plain;
        const char16_t* translated;
    };
    static const Name kNames[] = {
        {1, "ESC", nullptr},       {11, "0", nullptr},      {12, "-", nullptr},
        {14, "BS", nullptr},       {15, "TAB", nullptr},    {16, "Q", nullptr},
        {17, "W", nullptr},        {18, "E", nullptr},      {19, "R", nullptr},
        {20, "T", nullptr},        {21, "Y", nullptr},      {22, "U", nullptr},
        {23, "I", nullptr},        {24, "O", nullptr},      {25, "P", nullptr},
        {26, "[", nullptr},        {27, "]", nullptr},      {28, "Enter", nullptr},
        {29, nullptr, u"左Ctrl"},  {30, "A", nullptr},      {31, "S", nullptr},
        {32, "D", nullptr},        {33, "F", nullptr},      {34, "G", nullptr},
        {35, "H", nullptr},        {36, "J", nullptr},      {37, "K", nullptr},
        {38, "L", nullptr},        {39, nullptr, u";"},     {42, nullptr, u"左Shift"},
        {43, "\\", nullptr},       {44, "Z", nullptr},      {45, "X", nullptr},
        {46, "C", nullptr},        {47, "V", nullptr},      {48, "B", nullptr},
        {49, "N", nullptr},        {50, "M", nullptr},      {51, nullptr, u","},
        {52, ".", nullptr},        {53, "/", nullptr},      {54, nullptr, u"右Shift"},
        {55, "Num *", nullptr},    {56, nullptr, u"左Alt"}, {57, "SPACE", nullptr},
        {58, "Caps", nullptr},     {59, "F1", nullptr},     {60, "F2", nullptr},
        {61, "F3", nullptr},       {62, "F4", nullptr},     {63, "F5", nullptr},
        {64, "F6", nullptr},       {65, "F7", nullptr},     {66, "F8", nullptr},
        {67, "F9", nullptr},       {68, "F10", nullptr},    {69, "NumLock", nullptr},
        {70, "Scroll", nullptr},   {71, "Num 7", nullptr},  {72, "Num 8", nullptr},
        {73, "Num 9", nullptr},    {74, "Num -", nullptr},  {75, "Num 4", nullptr},
        {76, "Num 5", nullptr},    {77, "Num 6", nullptr},  {78, "Num +", nullptr},
        {79, "Num 1", nullptr},    {80, "Num 2", nullptr},  {81, "Num 3", nullptr},
        {82, "Num 0", nullptr},    {83, "Num .", nullptr},  {87, "F11", nullptr},
        {88, "F12", nullptr},      {125, "\\", nullptr},    {144, "^", nullptr},
        {145, "@", nullptr},       {146, nullptr, u":"},    {156, "Num Enter", nullptr},
        {157, nullptr, u"右Ctrl"}, {181, "Num /", nullptr}, {184, nullptr, u"右Alt"},
        {197, "Pause", nullptr},   {199, "HOME", nullptr},  {200, nullptr, u"↑"},
        {201, "PageUp", nullptr},  {203, nullptr, u"←"},    {205, nullptr, u"→"},
        {207, "END", nullptr},     {208, nullptr, u"↓"},    {209, "PageDown", nullptr},
        {211, "DEL", nullptr},
    };
    for (const Name& n : kNames) {
        if (n.code == keyCode) return n.plain ? n.plain : TranslateMessageUtf8(n.translated);
    }
    return "???";
}
