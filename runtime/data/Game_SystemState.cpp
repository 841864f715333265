#include "runtime/data/Game_SystemState.h"

#include <algorithm>

#include "Main/DxBaseImage.h"
#include "Main/DxGraphics.h"
#include "Main/DxGraphicsDraw.h"
#include "Main/DxGraphicsFilter.h"
#include "Main/DxGraphicsGraph.h"
#include "Main/DxGraphicsSoftImage.h"
#include "Main/DxMemImg.h"
#include "Main/Windows/DxWindow.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/SaveStream.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/ShellGlobals.h"

Game_SystemState TheSystemState{Game_SystemState::QuietConstruction{}};

namespace {

std::int32_t SetLibraryDrawTarget(std::int32_t graph) {
    return ZiDaz::SetDrawTarget(graph);
}

std::uint32_t ComposeLibraryColor(std::int32_t red, std::int32_t green, std::int32_t blue) {
    return ZiDaz::ComposeScreenColor(red, green, blue);
}

std::int32_t SetLibraryMouseCursorVisible(std::int32_t visible) {
    return ZiDaz::SetMouseCursorVisible(visible);
}

std::int32_t CreateLibraryGraph(std::int32_t width, std::int32_t height, bool alpha) {
    return ZiDaz::CreateDrawableGraph(width, height, alpha ? 1 : 0);
}

std::int32_t PutLibraryGraph(std::int32_t x, std::int32_t y, std::int32_t graph, bool transparent) {
    return ZiDaz::PutGraph(x, y, graph, transparent ? 1 : 0);
}

std::int32_t PaintLibraryRectangle(std::int32_t x1, std::int32_t y1, std::int32_t x2,
                                   std::int32_t y2, std::uint32_t colour, bool fill) {
    return ZiDaz::PaintRectangle(x1, y1, x2, y2, colour, fill ? 1 : 0);
}

std::int32_t RunLibraryHsbFilter(std::int32_t graph, std::int32_t mode, std::int32_t hue,
                                 std::int32_t saturation, std::int32_t brightness) {
    return ZiDaz::RunImageFilter(graph, static_cast<int>(ZiDaz::ImageFilterMode::Hsb), mode, hue,
                                 saturation, brightness);
}

std::int32_t RunLibraryGaussFilter(std::int32_t graph, std::int32_t width, std::int32_t strength) {
    return ZiDaz::RunImageFilter(graph, static_cast<int>(ZiDaz::ImageFilterMode::Gauss), width,
                                 strength);
}

// Captures are taken as 32-bit soft images of the whole screen.
std::int32_t CopyLibraryScreen(std::int32_t softImage) {
    int width = 0, height = 0;
    ZiDaz::GetScreenSize(&width, &height);
    return ZiDaz::GetDrawScreenSoftImage(0, 0, width, height, softImage);
}

SystemStateDrawing DefaultDrawing() {
    SystemStateDrawing d{};
    d.createDrawableGraph = CreateLibraryGraph;
    d.destroyGraph = ZiDaz::DestroyGraph;
    d.putGraph = PutLibraryGraph;
    d.setDrawTarget = SetLibraryDrawTarget;
    d.setBlendMode = ZiDaz::SelectBlendMode;
    d.setDrawBrightness = ZiDaz::SetBrightnessColor;
    d.composeScreenColor = ComposeLibraryColor;
    d.paintRectangle = PaintLibraryRectangle;
    d.runHsbFilter = RunLibraryHsbFilter;
    d.runGaussFilter = RunLibraryGaussFilter;
    d.newScreenSoftImage = ZiDaz::MakeXrgb8SoftImage;
    d.copyScreenToSoftImage = CopyLibraryScreen;
    d.graphFromSoftImage = ZiDaz::CreateGraphFromSoftImage;
    d.releaseSoftImage = ZiDaz::DeleteSoftImage;
    d.setMouseCursorVisible = SetLibraryMouseCursorVisible;
    return d;
}

SystemStateDrawing& Drawing() {
    static SystemStateDrawing drawing = DefaultDrawing();
    return drawing;
}

std::int32_t ClampColour(std::int32_t value) {
    return std::clamp(value, 0, 255);
}

// The value a change from start to target shows with `left` of `total` frames to go (a total
// below 1 counts as 1).
std::int32_t Interpolate(std::int32_t target, std::int32_t start, std::int32_t left,
                         std::int32_t total) {
    const std::int64_t t = total < 1 ? 1 : total;
    const std::int64_t value = target + (static_cast<std::int64_t>(start) - target) * left / t;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// Hue of the HSB filter: -180..180 for a relative hue (mode 0), 0..360 for an absolute one.
std::int32_t NormaliseHue(std::int32_t hue, std::int32_t mode) {
    std::int64_t h = hue % 360;
    if (mode == 1) {
        if (h < 0) h += 360;
    } else {
        if (h > 180) h -= 360;
        if (h < -180) h += 360;
    }
    return static_cast<std::int32_t>(h);
}

// Tone and flash frames are 16-bit counts holding n + 1: n is kept where n + 1 still fits and is
// at least 1, so that the update never divides by zero nor runs backwards.
std::int16_t ToneFrames(std::int32_t frames) {
    return static_cast<std::int16_t>(std::clamp(frames, 0, kLongestToneFrames) + 1);
}

// The frame-skip level of the live system state and "Game.ini": 0, 1 or 2 drawing every frame,
// every second or every fourth.
void ApplyFrameSkipLevel(std::int32_t level) {
    level = std::clamp(level, 0, 2);
    static constexpr float kFactors[3] = {1.0f, 0.5f, 0.25f};
    TheSystemState.SetFrameSkipFactor(kFactors[level]);
    TheSystemState.frameSkipLevel = level;
    GameIniSettings.FrameSkip = level;
}

}  // namespace

SystemStateDrawing& GetSystemStateDrawing() {
    return Drawing();
}

void ResetSystemStateDrawing() {
    Drawing() = DefaultDrawing();
}

CaptureSoftImage& CaptureSoftImage::operator=(const CaptureSoftImage& other) {
    if (this != &other) Release();
    return *this;
}

CaptureSoftImage::~CaptureSoftImage() {
    Release();
}

void CaptureSoftImage::Release() {
    if (handle != -1 && Drawing().releaseSoftImage) Drawing().releaseSoftImage(handle);
    handle = -1;
}

Game_SystemState::Game_SystemState() {
    mainInterpreter.Setup(true);
    ResetForScreen();
}

void Game_SystemState::ResetForScreen() {
    const std::int32_t scale = WindowScale > 0 ? WindowScale : 1;
    const std::int32_t width = ScreenWidth / scale;
    baseFontSize = width >= 800 ? 28 : width >= 640 ? 22 : 12;
    rubyFontSize = width >= 640 ? 10 : 5;
    frameCount = 0;
    bgmVolumeCorrection = bgsVolumeCorrection = seVolumeCorrection = 100;
    spriteYOffset = 0;
    frameSkipFactor = 1.0f;
    pauseCursorX = static_cast<std::int16_t>(TileSize * 10);
    pauseCursorY = static_cast<std::int16_t>(TileSize * 4.3);
    keyboardEntryX = static_cast<std::int16_t>(TileSize * 4.7);
    keyboardEntryY = static_cast<std::int16_t>(TileSize * 12.5);
    frameSkipLevel = GameIniSettings.FrameSkip;
    ApplyFrameSkipLevel(frameSkipLevel);
    nextPictureUnsmoothed = 0;
    smoothMapZoom = 0;
    fontThickness = 5;
    diagonalSpeedX = diagonalSpeedY = 100;
    SetScreenEffect(-1, 0, 0, 0, 0);
    colourModes = {0, 0};
    const bool marginsCount =
        TheBasicData.settingNumbers.size() > 15 && TheBasicData.GameDataVersion() >= 230;
    choiceMarginX = choiceMarginY = marginsCount ? 14 / scale : -999;
    rememberedUiLanguage = -1;
    windowTitleOverride.clear();
    fontNames.assign(5, std::string());
    fontSelection.assign(5, 0);
}

void Game_SystemState::ApplyTone(bool additive, bool reset,
                                 std::array<std::int32_t, 3>* brightness) {
    const SystemStateDrawing& d = Drawing();
    auto bright = [&](std::int32_t r, std::int32_t g, std::int32_t b) {
        if (d.setDrawBrightness) d.setDrawBrightness(r, g, b);
    };
    if (reset) {
        bright(255, 255, 255);
        return;
    }
    if (additive) {
        if (d.setBlendMode) d.setBlendMode(ZiDaz::DX_BLEND_ADD, 255);
        bright(255, 255, 255);
        if (toneCurrent[0] <= 0 && toneCurrent[1] <= 0 && toneCurrent[2] <= 0) return;
        if (d.paintRectangle && d.composeScreenColor) {
            d.paintRectangle(
                0, 0, ScreenWidth, ScreenHeight,
                d.composeScreenColor(ClampColour(toneCurrent[0]), ClampColour(toneCurrent[1]),
                                     ClampColour(toneCurrent[2])),
                true);
        }
        return;
    }
    if (toneCurrent[0] > 0 && toneCurrent[1] > 0 && toneCurrent[2] > 0) return;
    std::array<std::int32_t, 3> values{};
    for (std::size_t i = 0; i < 3; ++i) {
        values[i] = toneCurrent[i] <= 0 ? std::max(toneCurrent[i] + 255, 0) : 255;
    }
    bright(values[0], values[1], values[2]);
    if (brightness) *brightness = values;
}

std::int32_t Game_SystemState::DrawFlash() {
    if (flashFramesLeft <= 0) return 0;
    const SystemStateDrawing& d = Drawing();
    const std::int32_t total = flashFramesTotal < 1 ? 1 : flashFramesTotal;
    if (d.setBlendMode) d.setBlendMode(ZiDaz::DX_BLEND_ALPHA, flashFramesLeft * 255 / total);
    if (d.setDrawBrightness) d.setDrawBrightness(255, 255, 255);
    if (!d.paintRectangle || !d.composeScreenColor) return 0;
    return d.paintRectangle(
        0, 0, ScreenWidth, ScreenHeight,
        d.composeScreenColor(ClampColour(flashColour[0]), ClampColour(flashColour[1]),
                             ClampColour(flashColour[2])),
        true);
}

void Game_SystemState::UpdateEffects() {
    const std::int32_t step = FrameMultiplier;
    if (toneFramesLeft >= 0) {
        for (std::size_t i = 0; i < 3; ++i) {
            toneCurrent[i] = static_cast<std::int16_t>(
                Interpolate(toneTarget[i], toneStart[i], toneFramesLeft, toneFramesTotal));
        }
        if (toneFramesLeft == 0) {
            toneFramesLeft = -1;
        } else {
            toneFramesLeft = static_cast<std::int16_t>(std::max(toneFramesLeft - step, 0));
        }
    }
    if (flashFramesLeft > 0) flashFramesLeft = static_cast<std::int16_t>(flashFramesLeft - step);
    if (effectsActive) {
        for (ScreenEffectSet& set : effectSets) {
            set.colourFramesLeft = std::max(set.colourFramesLeft - 1, 0);
            set.blurFramesLeft = std::max(set.blurFramesLeft - 1, 0);
        }
    }
    capturedThisFrame = {0, 0};
}

void Game_SystemState::SetScreenEffect(std::int32_t type, std::int32_t a, std::int32_t b,
                                       std::int32_t c, std::int32_t frames) {
    if (type == -1) {
        effectsActive = 0;
        effectSets = {};
        return;
    }
    auto startColour = [&](ScreenEffectSet& set) {
        for (std::size_t i = 0; i < 3; ++i) {
            set.colourStart[i] = Interpolate(set.colourTarget[i], set.colourStart[i],
                                             set.colourFramesLeft, set.colourFramesTotal);
        }
        set.colourTarget = {a, b, c};
        set.colourFramesLeft = set.colourFramesTotal = frames;
    };
    auto startBlur = [&](ScreenEffectSet& set) {
        set.blurStart =
            Interpolate(set.blurTarget, set.blurStart, set.blurFramesLeft, set.blurFramesTotal);
        set.blurTarget = a;
        set.blurFramesLeft = set.blurFramesTotal = frames;
    };
    switch (type) {
        case 1:
        case 2:
            startColour(effectSets[0]);
            colourModes[0] = type == 1 ? 0 : 1;
            break;
        case 3:
            startBlur(effectSets[0]);
            break;
        case 6:
        case 7:
            startColour(effectSets[1]);
            colourModes[1] = type == 6 ? 0 : 1;
            break;
        case 8:
            startBlur(effectSets[1]);
            break;
        default:
            break;
    }
    EnsureEffectScreen();
    effectsActive = 1;
}

void Game_SystemState::EnsureEffectScreen() {
    if (effectScreen != -1) return;
    const SystemStateDrawing& d = Drawing();
    if (d.createDrawableGraph)
        effectScreen = d.createDrawableGraph(ScreenWidth, ScreenHeight, false);
}

void Game_SystemState::ApplyColourFilter(std::int32_t index) {
    const SystemStateDrawing& d = Drawing();
    if (!d.runHsbFilter) return;
    const ScreenEffectSet& set = effectSets[static_cast<std::size_t>(index)];
    const std::int32_t mode = colourModes[static_cast<std::size_t>(index)];
    std::array<std::int32_t, 3> values{};
    if (set.colourFramesLeft == set.colourFramesTotal) {
        const bool anyTarget =
            set.colourTarget[0] != 0 || set.colourTarget[1] != 0 || set.colourTarget[2] != 0;
        if (!(mode == 1 || (set.colourFramesLeft <= 0 && anyTarget))) return;
        values = set.colourTarget;
    } else {
        for (std::size_t i = 0; i < 3; ++i) {
            values[i] = Interpolate(set.colourTarget[i], set.colourStart[i], set.colourFramesLeft,
                                    set.colourFramesTotal);
        }
    }
    d.runHsbFilter(effectScreen, mode, NormaliseHue(values[0], mode), values[1], values[2]);
}

void Game_SystemState::ApplyBlur(std::int32_t index) {
    const SystemStateDrawing& d = Drawing();
    if (!d.runGaussFilter) return;
    const ScreenEffectSet& set = effectSets[static_cast<std::size_t>(index)];
    if (set.blurFramesLeft == set.blurFramesTotal) {
        if (set.blurFramesLeft > 0 || set.blurTarget == 0) return;
        const std::int64_t strength = static_cast<std::int64_t>(set.blurTarget) * 100;
        d.runGaussFilter(
            effectScreen, set.blurTarget <= 8 ? 8 : 16,
            static_cast<std::int32_t>(std::clamp<std::int64_t>(strength, INT32_MIN, INT32_MAX)));
        return;
    }
    const std::int64_t total = set.blurFramesTotal < 1 ? 1 : set.blurFramesTotal;
    std::int64_t strength = static_cast<std::int64_t>(set.blurTarget) * 100 +
                            (static_cast<std::int64_t>(set.blurStart) - set.blurTarget) *
                                set.blurFramesLeft * 100 / total;
    strength = std::clamp<std::int64_t>(strength, INT32_MIN, 1600);
    d.runGaussFilter(effectScreen, strength <= 800 ? 8 : 16, static_cast<std::int32_t>(strength));
}

void Game_SystemState::ProcessScreenEffect(std::int32_t stage) {
    const SystemStateDrawing& d = Drawing();
    const bool active = effectsActive && effectScreen != -1;
    if (stage == 0) {
        if (d.setDrawTarget) d.setDrawTarget(active ? effectScreen : kBackScreen);
        return;
    }
    if (!active) return;
    if (stage == 1) {
        ApplyColourFilter(0);
        ApplyBlur(0);
    } else if (stage == 2) {
        ApplyColourFilter(1);
        ApplyBlur(1);
        if (d.setDrawTarget) d.setDrawTarget(kBackScreen);
        if (d.putGraph) d.putGraph(0, 0, effectScreen, false);
    }
}

std::int32_t Game_SystemState::CaptureScreen(std::int32_t kind) {
    const SystemStateDrawing& d = Drawing();
    if (kind == 99) {
        for (std::size_t i = 0; i < 2; ++i) {
            if (captureSoftImages[i].handle != -1 && d.graphFromSoftImage) {
                captureGraphs[i] = d.graphFromSoftImage(captureSoftImages[i].handle);
            }
        }
        return 0;
    }
    if (kind != 1 && kind != 2) return 0;
    const std::size_t i = static_cast<std::size_t>(kind - 1);
    if (captureGraphs[i] != -1 && !(captureRequests[i] && !capturedThisFrame[i])) return 0;
    CaptureSoftImage& soft = captureSoftImages[i];
    if (soft.handle == -1 && d.newScreenSoftImage) {
        soft.handle = d.newScreenSoftImage(ScreenWidth, ScreenHeight);
    }
    if (soft.handle == -1 || !d.copyScreenToSoftImage || !d.graphFromSoftImage) return 0;
    d.copyScreenToSoftImage(soft.handle);
    if (captureGraphs[i] != -1 && d.destroyGraph) d.destroyGraph(captureGraphs[i]);
    captureGraphs[i] = d.graphFromSoftImage(soft.handle);
    captureRequests[i] = 0;
    capturedThisFrame[i] = 1;
    return 1;
}

void StartToneChange(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t frames) {
    Game_SystemState& s = TheSystemState;
    s.toneFramesLeft = s.toneFramesTotal = ToneFrames(frames);
    s.toneStart = s.toneCurrent;
    s.toneTarget = {static_cast<std::int16_t>(r), static_cast<std::int16_t>(g),
                    static_cast<std::int16_t>(b)};
}

void StartFlash(std::int32_t r, std::int32_t g, std::int32_t b, std::int32_t frames) {
    Game_SystemState& s = TheSystemState;
    s.flashFramesLeft = s.flashFramesTotal = ToneFrames(frames);
    s.flashColour = {static_cast<std::int16_t>(r + 255), static_cast<std::int16_t>(g + 255),
                     static_cast<std::int16_t>(b + 255)};
}

// ---- The save part ----

namespace {

// A BGM or BGS from one of the ten spare entries of its sound list (played by file name) is
// saved as kSoundPlayedByFileName; its file name member carries it.
std::int32_t SavedSoundNumber(std::int32_t number, std::int32_t soundKind) {
    return number >= SoundListBaseCount(soundKind) ? kSoundPlayedByFileName : number;
}

// Reads the items of one save part in order; after the first failure every further read is
// skipped, so a part reader can read straight through and test the result once.
class PartReader {
  public:
    explicit PartReader(SaveStream& stream) : s_(stream) {}
    bool ok() const { return ok_; }
    std::int16_t format() const { return s_.formatNumber; }

    void Byte(std::uint8_t& v) { ok_ = ok_ && s_.ReadByte(v); }
    void Int16(std::int16_t& v) { ok_ = ok_ && s_.ReadInt16(v); }
    void Int32(std::int32_t& v) { ok_ = ok_ && s_.ReadInt32(v); }
    void Skip(std::size_t bytes) {
        std::uint8_t scratch[4];
        ok_ = ok_ && bytes <= sizeof scratch && s_.ReadBlock(scratch, bytes);
    }
    void Float(float& v) { ok_ = ok_ && s_.ReadFloat(v); }
    // Texts of saves below format 125 carry the old internal codes.
    void ShortString(std::string& v, bool upgradeOld = false) {
        ok_ = ok_ && s_.ReadShortString(v);
        if (ok_ && upgradeOld) Upgrade(v);
    }
    void LongString(std::string& v, bool upgradeOld = false) {
        ok_ = ok_ && s_.ReadLongString(v);
        if (ok_ && upgradeOld) Upgrade(v);
    }
    // A list count that must leave room for `count` items of at least `itemBytes` each.
    bool Count(std::int32_t& count, std::size_t itemBytes) {
        Int32(count);
        if (!ok_) return false;
        if (count < 0 || static_cast<std::uint64_t>(count) * itemBytes >
                             static_cast<std::uint64_t>(s_.Remaining())) {
            s_.overrun = true;
            ok_ = false;
        }
        return ok_;
    }

  private:
    void Upgrade(std::string& v) const {
        if (s_.formatNumber < 125 && UpgradeOldTextCodesHook) v = UpgradeOldTextCodesHook(v);
    }
    SaveStream& s_;
    bool ok_ = true;
};

}  // namespace

bool Game_SystemState::WriteSave() {
    SaveStream& s = TheSaveStream;
    s.WriteByte(firstFlag);
    s.WriteByte(secondFlag);
    s.WriteInt32(playTimeSeconds);
    s.WriteInt32(spareValue);
    s.WriteInt32(SavedSoundNumber(currentBgm, 0));
    s.WriteInt32(SavedSoundNumber(currentBgs, 1));
    s.WriteFloat(frameSkipFactor);
    s.WriteInt32(frameSkipLevel);
    for (std::int32_t v :
         {messageFace, messageWindowX, messageWindowY, choiceWindowX, choiceWindowY}) {
        s.WriteInt32(v);
    }
    for (std::int32_t v : choiceSounds) s.WriteInt32(v);
    s.WriteInt32(choiceCursorStart);
    for (const auto* tone : {&toneCurrent, &toneTarget, &toneStart}) {
        for (std::int16_t v : *tone) s.WriteInt16(v);
    }
    s.WriteInt16(toneFramesLeft);
    s.WriteInt16(toneFramesTotal);
    for (std::int16_t v : flashColour) s.WriteInt16(v);
    s.WriteInt16(flashFramesLeft);
    s.WriteInt16(flashFramesTotal);
    s.WriteInt32(baseFontSize);
    for (std::int32_t v : {panoramaNumber, panoramaSpeedX, panoramaSpeedY}) s.WriteInt32(v);
    for (std::int32_t v : {fogNumber, fogSpeedX, fogSpeedY, fogBlend, fogOpacity}) s.WriteInt32(v);
    s.WriteByte(moveDuringEvents);
    s.WriteInt16(playerShadow);
    s.WriteInt32(keyRepeatFirstWait);
    s.WriteInt32(keyRepeatWait);
    for (std::int16_t v : {pauseCursorX, pauseCursorY, keyboardEntryX, keyboardEntryY}) {
        s.WriteInt16(v);
    }
    for (std::int32_t v : {messageSpeed, pictureTextSpeed, messageDisplayWait}) s.WriteInt32(v);
    s.WriteByte(showChoiceWindow);
    s.WriteInt32(cameraLock);
    s.WriteInt32(textShadow);
    s.WriteInt32(mouseInMessages);
    s.WriteInt32(transitionImage);
    s.WriteInt32(transitionTime);
    s.WriteByte(transitionMode);
    s.WriteInt32(static_cast<std::int32_t>(partyGraphics.size()));
    for (const std::string& name : partyGraphics) s.WriteLongString(name);
    s.WriteInt32(static_cast<std::int32_t>(followerShadows.size()));
    for (std::int32_t v : followerShadows) s.WriteInt32(v);
    for (std::int32_t v :
         {choiceCursorDrawing, panoramaParallax, fogParallax, confirmKeyRepeat, cancelKeyRepeat}) {
        s.WriteInt32(v);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        s.WriteInt32(keyCodes[i]);
        s.WriteInt32(padBits[i]);
    }
    s.WriteInt16(partyDistance);
    s.WriteShortString(messagePrefix);
    s.WriteShortString(messageSuffix);
    for (std::int32_t v :
         {frameCount, bgmVolumeCorrection, bgsVolumeCorrection, seVolumeCorrection}) {
        s.WriteInt32(v);
    }
    s.WriteShortString(bgmFileName);
    for (std::int32_t v : bgmValues) s.WriteInt32(v);
    s.WriteShortString(bgsFileName);
    for (std::int32_t v : bgsValues) s.WriteInt32(v);
    s.WriteShortString(panoramaSettings);
    s.WriteShortString(fogSettings);
    s.WriteByte(cursorVisible);
    s.WriteByte(partyFollowing);
    for (std::size_t i : {0u, 2u, 1u}) s.WriteShortString(furtherStrings[i]);
    for (std::int32_t v :
         {spriteYOffset, keyboardEntryAntialias, runMoveRoutesAtOnce, rubyFontSize, mapDrawingMode,
          nextPictureUnsmoothed, fontThickness, smoothMapZoom, mapTilesOmitted, diagonalSpeedX,
          diagonalSpeedY, playerCentreX, playerCentreY}) {
        s.WriteInt32(v);
    }
    s.WriteByte(padHatDirections);
    s.WriteByte(padStickDirections);
    for (std::int32_t v : {showMoreWhenZoomedOut, effectsActive, colourModes[0], colourModes[1]}) {
        s.WriteInt32(v);
    }
    for (const ScreenEffectSet& set : effectSets) {
        for (std::int32_t v : set.colourTarget) s.WriteInt32(v);
        s.WriteInt32(set.blurTarget);
        s.WriteInt32(set.colourFramesLeft);
        s.WriteInt32(set.blurFramesLeft);
    }
    for (const ScreenEffectSet& set : effectSets) {
        for (std::int32_t v : set.colourStart) s.WriteInt32(v);
        s.WriteInt32(set.blurStart);
        s.WriteInt32(set.colourFramesTotal);
        s.WriteInt32(set.blurFramesTotal);
    }
    for (std::int32_t v : {mapMaskScreen, choiceMarginX, choiceMarginY, rememberedUiLanguage}) {
        s.WriteInt32(v);
    }
    s.WriteLongString(windowTitleOverride);
    s.WriteInt32(static_cast<std::int32_t>(fontNames.size()));
    for (const std::string& name : fontNames) s.WriteLongString(name);
    return true;
}

bool Game_SystemState::ReadSave() {
    PartReader r(TheSaveStream);
    const std::int16_t f = r.format();
    const bool oldCodes = f < 125;
    // The frame-skip factor and level are read over: the player's own setting stays.
    float skippedFactor = 0;
    std::int32_t skippedLevel = 0;
    r.Byte(firstFlag);
    r.Byte(secondFlag);
    r.Int32(playTimeSeconds);
    r.Int32(spareValue);
    r.Int32(currentBgm);
    r.Int32(currentBgs);
    r.Float(skippedFactor);
    r.Int32(skippedLevel);
    for (std::int32_t* v :
         {&messageFace, &messageWindowX, &messageWindowY, &choiceWindowX, &choiceWindowY}) {
        r.Int32(*v);
    }
    for (std::int32_t& v : choiceSounds) r.Int32(v);
    r.Int32(choiceCursorStart);
    for (auto* tone : {&toneCurrent, &toneTarget, &toneStart}) {
        for (std::int16_t& v : *tone) r.Int16(v);
    }
    r.Int16(toneFramesLeft);
    r.Int16(toneFramesTotal);
    for (std::int16_t& v : flashColour) r.Int16(v);
    r.Int16(flashFramesLeft);
    r.Int16(flashFramesTotal);
    r.Int32(baseFontSize);
    for (std::int32_t* v : {&panoramaNumber, &panoramaSpeedX, &panoramaSpeedY}) r.Int32(*v);
    for (std::int32_t* v : {&fogNumber, &fogSpeedX, &fogSpeedY, &fogBlend, &fogOpacity}) {
        r.Int32(*v);
    }
    r.Byte(moveDuringEvents);
    r.Int16(playerShadow);
    r.Int32(keyRepeatFirstWait);
    r.Int32(keyRepeatWait);
    for (std::int16_t* v : {&pauseCursorX, &pauseCursorY, &keyboardEntryX, &keyboardEntryY}) {
        r.Int16(*v);
    }
    for (std::int32_t* v : {&messageSpeed, &pictureTextSpeed, &messageDisplayWait}) r.Int32(*v);
    r.Byte(showChoiceWindow);
    if (f <= 96) r.Skip(4);
    r.Int32(cameraLock);
    if (f >= 98) {
        r.Int32(textShadow);
        r.Int32(mouseInMessages);
    }
    if (f >= 100) {
        r.Int32(transitionImage);
        r.Int32(transitionTime);
        r.Byte(transitionMode);
        std::int32_t count = 0;
        // A long string takes at least its four-byte count.
        if (r.Count(count, 4)) {
            if (partyGraphics.size() < static_cast<std::size_t>(count)) partyGraphics.resize(count);
            for (std::int32_t i = 0; i < count && r.ok(); ++i) r.LongString(partyGraphics[i]);
        }
        if (r.Count(count, 4)) {
            if (followerShadows.size() < static_cast<std::size_t>(count)) {
                followerShadows.resize(count);
            }
            for (std::int32_t i = 0; i < count && r.ok(); ++i) r.Int32(followerShadows[i]);
        }
        for (std::int32_t* v : {&choiceCursorDrawing, &panoramaParallax, &fogParallax,
                                &confirmKeyRepeat, &cancelKeyRepeat}) {
            r.Int32(*v);
        }
    }
    if (f >= 101) {
        for (std::size_t i = 0; i < 3; ++i) {
            r.Int32(keyCodes[i]);
            r.Int32(padBits[i]);
        }
    }
    if (f >= 102) r.Int16(partyDistance);
    if (f >= 103) {
        r.ShortString(messagePrefix);
        r.ShortString(messageSuffix);
    }
    if (f >= 104) r.Int32(frameCount);
    if (f >= 106) {
        r.Int32(bgmVolumeCorrection);
        r.Int32(bgsVolumeCorrection);
        r.Int32(seVolumeCorrection);
    }
    if (f >= 108) {
        r.ShortString(bgmFileName);
        for (std::int32_t& v : bgmValues) r.Int32(v);
        r.ShortString(bgsFileName);
        for (std::int32_t& v : bgsValues) r.Int32(v);
    }
    if (f >= 109) {
        r.ShortString(panoramaSettings, oldCodes);
        r.ShortString(fogSettings, oldCodes);
        r.Byte(cursorVisible);
        if (r.ok()) {
            const SystemStateDrawing& d = Drawing();
            if (d.setMouseCursorVisible) d.setMouseCursorVisible(cursorVisible ? 1 : 0);
        }
    }
    if (f >= 110) r.Byte(partyFollowing);
    if (f >= 119) {
        for (std::size_t i : {0u, 2u, 1u}) r.ShortString(furtherStrings[i], oldCodes);
    }
    if (f >= 121) r.Int32(spriteYOffset);
    if (f >= 122) r.Int32(keyboardEntryAntialias);
    if (f >= 124) r.Int32(runMoveRoutesAtOnce);
    if (f >= 126) r.Int32(rubyFontSize);
    if (f >= 128) r.Int32(mapDrawingMode);
    if (f >= 129) {
        r.Int32(nextPictureUnsmoothed);
        r.Int32(fontThickness);
    }
    if (f >= 130) r.Int32(smoothMapZoom);
    if (f >= 131) r.Int32(mapTilesOmitted);
    if (f >= 132) {
        for (std::int32_t* v : {&diagonalSpeedX, &diagonalSpeedY, &playerCentreX, &playerCentreY}) {
            r.Int32(*v);
        }
    }
    if (f >= 134) r.Byte(padHatDirections);
    if (f >= 136) r.Byte(padStickDirections);
    if (f >= 137) {
        for (std::int32_t* v :
             {&showMoreWhenZoomedOut, &effectsActive, &colourModes[0], &colourModes[1]}) {
            r.Int32(*v);
        }
        for (ScreenEffectSet& set : effectSets) {
            for (std::int32_t& v : set.colourTarget) r.Int32(v);
            r.Int32(set.blurTarget);
            r.Int32(set.colourFramesLeft);
            r.Int32(set.blurFramesLeft);
        }
        for (ScreenEffectSet& set : effectSets) {
            for (std::int32_t& v : set.colourStart) r.Int32(v);
            r.Int32(set.blurStart);
            r.Int32(set.colourFramesTotal);
            r.Int32(set.blurFramesTotal);
        }
        if (r.ok() && effectsActive) EnsureEffectScreen();
    }
    if (f >= 138) {
        for (std::int32_t* v :
             {&mapMaskScreen, &choiceMarginX, &choiceMarginY, &rememberedUiLanguage}) {
            r.Int32(*v);
        }
        r.LongString(windowTitleOverride);
        std::int32_t count = 0;
        if (r.Count(count, 4)) {
            if (fontNames.size() < static_cast<std::size_t>(count)) fontNames.resize(count);
            for (std::int32_t i = 0; i < count && r.ok(); ++i) r.LongString(fontNames[i]);
        }
    }
    return r.ok();
}
