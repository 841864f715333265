#include "runtime/presentation/Game_Text.h"

#include <algorithm>
#include <cmath>

#include "Main/DxFont.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/ShellGlobals.h"

TextEngineSettings TheTextEngineSettings;

namespace {

constexpr int kColourType = 12;

int GameDataVersion() {
    const auto& numbers = TheBasicData.settingNumbers;
    return numbers.size() > 15 ? numbers[15] : 0;
}

int FrameStepOf() {
    return std::max(FrameMultiplier, 1);
}

}  // namespace

Game_Text::Game_Text() {
    ZiDaz::SetDefaultFontType(ZiDaz::DX_FONTTYPE_ANTIALIASING_8X8);
    ZiDaz::SetDefaultFontThickness(5);
}

void Game_Text::CopyFrom(const Game_Text& other) {
    *this = other;
}

void Game_Text::RebuildColourTable() {
    colourTable.clear();
    const int count = TheSystemDatabase.DataCount(kColourType);
    const TextDrawLibrary& lib = GetTextDrawLibrary();
    for (int i = 0; i < count; ++i) {
        const int red = std::max(0, TheSystemDatabase.ReadNumber(kColourType, i, 0));
        const int green = std::max(0, TheSystemDatabase.ReadNumber(kColourType, i, 1));
        const int blue = std::max(0, TheSystemDatabase.ReadNumber(kColourType, i, 2));
        colourTable.push_back(static_cast<std::int32_t>(lib.composeScreenColor(red, green, blue)));
    }
}

std::int32_t Game_Text::ColorOf(int n) const {
    if (n < 0 || n >= static_cast<int>(colourTable.size())) {
        return static_cast<std::int32_t>(GetTextDrawLibrary().composeScreenColor(0, 0, 0));
    }
    return colourTable[static_cast<std::size_t>(n)];
}

int Game_Text::GetFontThickness() {
    return TheSystemState.fontThickness;
}

int Game_Text::ClampFontSize(int size) {
    const int s = std::max(WindowScale, 1);
    const int v = GameDataVersion();
    const bool oldPlatform = TheTextEngineSettings.platformId < 2;
    if (s >= 2) {
        int n = v >= 220 ? size : std::min(size, 80);
        n = std::max(n, 2);
        if (oldPlatform) {
            switch (n) {
                case 4:
                    n = 3;
                    break;
                case 5:
                    n = 6;
                    break;
                case 9:
                    n = 8;
                    break;
                case 11:
                    n = 10;
                    break;
                case 13:
                    n = 12;
                    break;
                default:
                    break;
            }
        }
        return std::min(n, 128 / s);
    }
    int n = v >= 220 ? std::max(size, 4) : std::max(std::min(size, 128), 7);
    if (oldPlatform) {
        switch (n) {
            case 8:
                n = 7;
                break;
            case 10:
            case 11:
                n = 9;
                break;
            case 13:
                n = 12;
                break;
            case 18:
                n = 17;
                break;
            case 22:
                n = 21;
                break;
            case 26:
                n = 25;
                break;
            default:
                break;
        }
    }
    return std::min(n, 128);
}

void Game_Text::Start() {
    startedText = sourceText;
    lineWidths.clear();
    lineTops.clear();
    lineHeights.clear();
    widestLine = 0;
    widestRawLine = 0;
    if (instantFlag != 0) {
        revealPosition = kInstantRevealPosition;
    } else {
        previousPosition = 0.0;
        revealPosition = 0.0;
    }
    workingText = sourceText;
    timedWaitPosition = 0;
    timedWaitCounter = 0;
    pausePosition = 0;
    skippedBytes = 0;
    paused = 0;
    closeAfterReveal = 0;
    const std::size_t speedRun = workingText.find(std::string_view("\x01\x06\x0C", 3));
    if (speedRun != std::string::npos) {
        const double limit = (static_cast<double>(speedRun) + 1.0) * 30.0 / FrameStepOf();
        revealSpeed = std::max(std::min(revealSpeed, limit), 1.0);
    }
}

void Game_Text::Step() {
    previousPosition = revealPosition;
    const int k = FrameStepOf();
    if (paused == 0 && timedWaitCounter <= 0) {
        revealPosition = std::min(kRevealPositionLimit, revealPosition + k * revealSpeed / 30.0);
    }
    if (timedWaitCounter > 0) timedWaitCounter -= k;
}

bool Game_Text::IsFinished() const {
    return static_cast<std::int64_t>(revealPosition) + skippedBytes >=
           static_cast<std::int64_t>(workingText.size());
}

bool Game_Text::WillFinishThisStep() const {
    const double shown = std::trunc(revealPosition) + skippedBytes;
    return shown - FrameStepOf() * revealSpeed / 30.0 + 1.0 >=
           static_cast<double>(workingText.size());
}

void Game_Text::Measure(int* width, int* height) {
    Draw(TextLayoutPass, 1.0, 1.0, 0.0);
    int w = 0, h = 0;
    for (const std::int32_t lineWidth : lineWidths) w = std::max(w, lineWidth);
    const std::size_t lines = std::min(lineTops.size(), lineHeights.size());
    for (std::size_t i = 0; i < lines; ++i) h = std::max(h, lineTops[i] + lineHeights[i]);
    if (width) *width = w;
    if (height) *height = h;
}

void Game_Text::RecordLineMetrics(int lineHeight) {
    const std::size_t line = static_cast<std::size_t>(std::max(lineIndex, 0));
    for (auto* v : {&lineWidths, &lineTops, &lineHeights, &lineRawWidths}) {
        if (v->size() < line + 1) v->resize(line + 1, 0);
    }
    const int f = scaleFactor != 0 ? scaleFactor : 1;
    const int w = cursorX * 2 / f;
    if (lineWidths[line] < w) {
        lineWidths[line] = w;
        lineRawWidths[line] = cursorX;
        widestLine = std::max(widestLine, lineWidths[line]);
        widestRawLine = std::max(widestRawLine, lineRawWidths[line]);
    }
    lineTops[line] = cursorY * 2 / f;
    lineHeights[line] = lineHeight;
}
