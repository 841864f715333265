// Building and tearing down the scene, and the frame loop with its pacing. The map parts are
// built first and destroyed last, the text windows in between, so a window never outlives the
// sprites it is drawn over.
#include "runtime/shell/Game_Scene.h"

#include <algorithm>

#include "Source/Library/Main/Windows/DxClock.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/Game_Input.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/SceneServices.h"
#include "runtime/shell/ShellGlobals.h"

Game_Scene* ActiveScene = nullptr;

// ---- The clock seam ----

namespace {

std::int32_t LibraryMilliseconds() {
    return ZiDaz::ReadMillisecondClock();
}
std::int64_t LibraryMicroseconds() {
    return ZiDaz::ReadMicrosecondClock();
}
void LibraryWait(std::int32_t milliseconds) {
    ZiDaz::WaitPumpingMessages(milliseconds);
}
int LibraryPump() {
    return ZiDaz::PumpMessages();
}

FrameClock DefaultFrameClock() {
    return FrameClock{LibraryMilliseconds, LibraryMicroseconds, LibraryWait, LibraryPump};
}

FrameClock& Clock() {
    static FrameClock clock = DefaultFrameClock();
    return clock;
}

// Milliseconds from `earlier` to `later` on the 31-bit clock (never negative).
std::int32_t Elapsed(std::int32_t later, std::int32_t earlier) {
    return ClockInterval(later, earlier);
}

}  // namespace

FrameClock& GetFrameClock() {
    return Clock();
}

void ResetFrameClock() {
    Clock() = DefaultFrameClock();
}

// ---- Pacing ----

void FramePacer::Start(std::int32_t multiplier) {
    // A frame rate above 60 would give a multiplier of 0 and frames of no length.
    const std::int32_t k = std::max<std::int32_t>(1, multiplier);
    drawAccumulator = 0.0f;
    lastFrameMs = Clock().readMilliseconds();
    baseFrameLengthMs = static_cast<std::int32_t>(k * 16.6 + 0.5);
    frameLengthMs = baseFrameLengthMs;
    recentFrameMs.fill(baseFrameLengthMs);
    threeFrameLengthMs = static_cast<std::int32_t>(k * 16.6 * 3.0 + 0.5);
    skipCount = 0;
    late = 0;
}

bool FramePacer::Pace(float frameSkipFactor, std::int32_t measuredRate, bool flipPending,
                      std::int32_t& extraWaitMs) {
    const FrameClock& clock = Clock();
    bool draw = false;
    drawAccumulator += frameSkipFactor;
    auto shiftRecent = [this](std::int32_t newest) {
        recentFrameMs[2] = recentFrameMs[1];
        recentFrameMs[1] = recentFrameMs[0];
        recentFrameMs[0] = newest;
    };

    if (measuredRate >= kHighRateThreshold) {
        // The machine keeps up: hold frames 16.651 ms apart on the microsecond clock, whatever
        // the game's frame rate.
        shiftRecent(Elapsed(clock.readMilliseconds(), lastFrameMs));
        late = 0;
        clock.waitPumpingMessages(std::max(0, extraWaitMs - recentFrameMs[0] + 16));
        for (;;) {
            if (clock.pumpMessages() != 0) break;
            if (clock.readMicroseconds() - lastFrameUs > kHighRatePeriodUs) break;
        }
        extraWaitMs = 0;
        return drawAccumulator >= 1.0f;
    }

    // The millisecond path.
    auto lateness = [&]() {
        return Elapsed(clock.readMilliseconds(), lastFrameMs) - frameLengthMs;
    };
    std::int32_t d = lateness();
    if (d >= 0) d = lateness();
    late += std::max(0, d);
    // After a frame that drew nothing the lateness starts afresh (and may be negative).
    if (!flipPending) late = lateness();
    shiftRecent(Elapsed(clock.readMilliseconds(), lastFrameMs));

    if (late > 0) {
        // Behind: skip drawing, but draw at least every second late frame.
        ++skipCount;
        if (skipCount >= 2) {
            draw = drawAccumulator >= 1.0f;
            late = 0;
            skipCount = 0;
        }
        // The script's extra wait is paid out of the lateness first.
        if (extraWaitMs >= 1) {
            if (extraWaitMs < late) {
                late -= extraWaitMs;
                extraWaitMs = 0;
            } else {
                extraWaitMs -= late;
                late = 0;
                if (extraWaitMs >= 1) {
                    clock.waitPumpingMessages(extraWaitMs);
                    extraWaitMs = 0;
                }
            }
        }
        return draw;
    }

    if (flipPending) {
        // Make the last three frames together last threeFrameLengthMs.
        const std::int32_t w = std::max(
            0, threeFrameLengthMs - recentFrameMs[1] - recentFrameMs[2] - recentFrameMs[0]);
        clock.waitPumpingMessages(w);
        recentFrameMs[0] += w;
        // May go below 0; a later wait the script asks for is added to it.
        extraWaitMs -= w;
    }
    skipCount = 0;
    draw = drawAccumulator >= 1.0f;
    if (extraWaitMs >= 1) {
        clock.waitPumpingMessages(extraWaitMs);
        extraWaitMs = 0;
    }
    return draw;
}

void FramePacer::EndPacing() {
    lastFrameMs = Clock().readMilliseconds();
    lastFrameUs = Clock().readMicroseconds();
}

void FramePacer::ChooseFrameLength(bool replayPlaying, bool decideHeld, bool subHeld) {
    if (replayPlaying && decideHeld) {
        frameLengthMs = subHeld ? 1 : 5;
    } else {
        frameLengthMs = baseFrameLengthMs;
    }
}

// ---- The scene ----

Game_Scene::Game_Scene() {
    BuildMapParts();
    SceneServices& s = GetSceneServices();
    if (s.rebuildMapParts) s.rebuildMapParts(*this);
    pacer.drawAccumulator = TheSystemState.GetFrameSkipFactor();
    ActiveScene = this;
}

Game_Scene::~Game_Scene() {
    DestroyMapParts();
    if (ActiveScene == this) ActiveScene = nullptr;
}

void Game_Scene::ReloadWindowSkins() {
    SceneServices& s = GetSceneServices();
    if (s.reloadWindowSkins) s.reloadWindowSkins();
    if (s.createMaskLayer) s.createMaskLayer();
    if (s.setMaskLayerActive) s.setMaskLayerActive(0);
}

void Game_Scene::RunState() {
    // Entry 0 of the state operations does nothing, entry 1 is the frame loop.
    if (TheGameSystem.gameState == GameState::Run) RunFrames();
}

namespace {

void CloseWindows() {
    SceneServices& s = GetSceneServices();
    if (s.closeMessageWindow) s.closeMessageWindow();
    if (s.closeChoiceWindow) s.closeChoiceWindow();
}

}  // namespace

void Game_Scene::RunFrames() {
    const FrameClock& clock = Clock();
    SceneServices& s = GetSceneServices();

    pacer.Start(FrameMultiplier);
    if (s.rebuildMapParts) s.rebuildMapParts(*this);
    clock.pumpMessages();
    TheInput.CheckPovAtStart();

    for (;;) {
        if (clock.pumpMessages() != 0) return;
        drawThisFrame =
            pacer.Pace(TheSystemState.GetFrameSkipFactor(), TheSystemState.framesRunLastSecond,
                       flipPending != 0, TheGameSystem.ExtraWaitMs)
                ? 1
                : 0;
        pacer.EndPacing();

        if (flipPending && s.flipScreen) s.flipScreen();
        TheGameSystem.frameClearFlag = 0;
        TheInput.Update();

        if (ReplayPlaying && ReplayStopRequested) {
            ReplayPlaying = 0;
            ReplayStopRequested = 0;
            TheGameSystem.gameState = GameState::Restart;
            CloseWindows();
            return;
        }

        auto& history = TheGameSystem.frameStartHistory;
        std::copy_backward(history.begin(), history.end() - 1, history.end());
        history[0] = clock.readMicroseconds();
        UpdateFrame();

        if (TheGameSystem.gameState == GameState::Quit) return;
        if (s.handleSystemKeys) s.handleSystemKeys(0);
        UpdateFrameCounters(true);

        if (TheGameSystem.gameState != GameState::Run) {
            CloseWindows();
            if (s.stopMidi) s.stopMidi();
            TheSoundManager.StopSoundEffects(0);
            TheSoundManager.FreeSounds(true);
            return;
        }

        pacer.ChooseFrameLength(ReplayPlaying != 0, TheInput.buttonHeld[Decide] != 0,
                                TheInput.buttonHeld[Sub] != 0);
        if (ReplayPlaying && TheInput.buttonHeld[Cancel]) ReplayStopRequested = 1;
    }
}
