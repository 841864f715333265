// The window title while the game starts (a gauge of four squares) and once it runs (the game's
// title with the hint of the window-mode and information keys), and the start-up progress screen:
// an optional background picture, an optional bar picture that fills up, and optional fades.
#pragma once

#include <cstdint>
#include <string>

// Stage -1 sets the finished title; stages 0 to 4 the gauge with that many black squares.
void BuildWindowTitle(std::int32_t stage);
// The caption BuildWindowTitle sets, without setting it (for the stage and the software-mode flag).
std::string FormatWindowTitle(std::int32_t stage, std::int32_t softModeFlag);

// -1000 loads the pictures, -999 releases them, -100..199 draws the screen for that value and
// flips it (below 0 the fade-in, 0..100 the bar's percentage, above 100 the fade-out); any other
// value does nothing.
void ShowStartupProgress(std::int32_t value);

// The progress screen's pictures (-1 when not loaded) and their sizes.
extern std::int32_t ProgressBackground;
extern std::int32_t ProgressBar;
extern std::int32_t ProgressBackgroundWidth, ProgressBackgroundHeight;
extern std::int32_t ProgressBarWidth, ProgressBarHeight;
// 1 once the bar picture was named with "<LIGHT>": it is drawn additively from then on.
extern std::int32_t ProgressBarAdditive;
// 1 when the loading title holds the gauge.
extern std::int32_t TitleGaugeShown;
