#include "runtime/shell/Game_System.h"

#include <algorithm>

#include "Source/Library/Main/DxGraphicsDraw.h"
#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxGraphicsSoftImage.h"
#include "Source/Library/Main/Windows/DxWinAPI.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/TextConversion.h"

Game_System TheGameSystem{Game_System::QuietConstruction{}};

namespace {

std::int32_t MakeLibraryGraph(std::int32_t width, std::int32_t height, std::int32_t alpha) {
    return ZiDaz::CreateDrawableGraph(width, height, alpha);
}

// Paths are UTF-8 whatever the game's code page, so they reach the library as UTF-16.
std::int32_t LoadLibraryBlendGraph(const std::string& path) {
    return ZiDaz::LoadBlendGraphWide(ConvertUtf8ToWide(path.c_str()));
}

GameSystemGraphics LibraryGraphics() {
    GameSystemGraphics g{};
    g.makeGraph = MakeLibraryGraph;
    g.destroyGraph = ZiDaz::DestroyGraph;
    g.loadBlendGraph = LoadLibraryBlendGraph;
    g.setDrawBright = ZiDaz::SetBrightnessColor;
    g.setBlendMode = ZiDaz::SelectBlendMode;
    g.drawGraph = ZiDaz::PutGraph;
    g.drawBlendGraph = ZiDaz::PutGraphWithBlendGraph;
    g.copyDrawTargetToGraph = ZiDaz::CopyDrawTargetToGraph;
    return g;
}

GameSystemGraphics gGraphics = LibraryGraphics();

bool LibraryIsWindowed() {
    return ZiDaz::MainWindow.windowMode != 0;
}

bool LibraryIsActive() {
    return ZiDaz::IsMainWindowActive() != 0;
}

bool LibraryClientOrigin(std::int32_t* x, std::int32_t* y) {
    ZiDaz::EnsureSystemApiTable();
    if (ZiDaz::SystemApi.ClientToScreen == nullptr) return false;
    POINT p{0, 0};
    if (!ZiDaz::SystemApi.ClientToScreen(ZiDaz::MainWindow.mainWindow, &p)) return false;
    *x = p.x;
    *y = p.y;
    return true;
}

double LibraryScaleFactor() {
    double x = 1.0;
    double y = 1.0;
    ZiDaz::GetWindowScaleFactors(&x, &y);
    return x;
}

std::int32_t LibraryClipCursor(const std::int32_t* rect) {
    ZiDaz::EnsureSystemApiTable();
    if (ZiDaz::SystemApi.ClipCursor == nullptr) return 0;
    if (rect == nullptr) return ZiDaz::SystemApi.ClipCursor(nullptr);
    const RECT r{rect[0], rect[1], rect[2], rect[3]};
    return ZiDaz::SystemApi.ClipCursor(&r);
}

GameSystemWindow LibraryWindow() {
    return GameSystemWindow{&LibraryIsWindowed, &LibraryIsActive, &LibraryClientOrigin,
                            &LibraryScaleFactor, &LibraryClipCursor};
}

GameSystemWindow gWindow = LibraryWindow();

void DeleteGraph(std::int32_t graph) {
    if (gGraphics.destroyGraph) gGraphics.destroyGraph(graph);
}

}  // namespace

GameSystemGraphics& GetGameSystemGraphics() {
    return gGraphics;
}

GameSystemWindow& GetGameSystemWindow() {
    return gWindow;
}

void ResetGameSystemWindow() {
    gWindow = LibraryWindow();
}

void Game_System::ResetHooks() {
    secondMessageText.clear();
    messageWaitMode = -1;
    messageSettings = {99, 0, 0, 0};
    choiceWaitIndent = -1;
    choiceCancelCase = -1;
    choicePendingResult = 99;
    choiceCount = 0;
    choiceFlags = 0;
    messageWaiter = nullptr;
    choiceWaiter = nullptr;
    graphSlot = -1;
    legacyPair = TheBasicData.GameDataVersion() <= 202 ? std::array<std::int32_t, 2>{1, -1}
                                                       : std::array<std::int32_t, 2>{0, 0};
    mapOffsets.fill(-99999);
}

void Game_System::CreateScreenGraphs() {
    DeleteGraph(captureGraph);
    DeleteGraph(storedScreenGraph);
    graphSlot = -1;
    const std::int32_t scale = std::max<std::int32_t>(1, WindowScale);
    const std::int32_t w = scale * (ScreenWidth / scale);
    const std::int32_t h = scale * (ScreenHeight / scale);
    captureGraph = gGraphics.makeGraph ? gGraphics.makeGraph(w, h, 0) : -1;
    storedScreenGraph = gGraphics.makeGraph ? gGraphics.makeGraph(w, h, 0) : -1;
}

void Game_System::SetMessageWaiter(std::int32_t mode, Game_Interpreter* interpreter) {
    messageWaitMode = mode;
    messageWaiter = interpreter;
}

void Game_System::SetChoiceWaiter(std::int32_t indent, Game_Interpreter* interpreter) {
    choiceWaitIndent = indent;
    choiceWaiter = interpreter;
}

void Game_System::ReleaseMessageWaiter() {
    if (messageWaitMode == 1 && messageWaiter) messageWaiter->waitingForWindow = 0;
}

Game_Interpreter* Game_System::DeliverChoice(std::int32_t index) {
    Game_Interpreter* waiter = choiceWaiter;
    if (!waiter) return nullptr;
    if (choiceWaitIndent >= 0 &&
        choiceWaitIndent < static_cast<std::int32_t>(waiter->branchStates.size())) {
        waiter->branchStates[static_cast<std::size_t>(choiceWaitIndent)] = index;
    }
    waiter->waitingForWindow = 0;
    return waiter;
}

std::int32_t Game_System::ClipMouseCursor(std::int32_t setting) {
    if (setting != -1) mouseConfine = std::clamp(setting, 0, 1);
    if (gWindow.clipCursor == nullptr) return 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (gWindow.isWindowed && gWindow.isWindowed() && mouseConfine == 1 &&
        mouseConfineAllowed != 0 && gWindow.clientOrigin && gWindow.clientOrigin(&x, &y)) {
        const double s = gWindow.scaleFactor ? gWindow.scaleFactor() : 1.0;
        const std::int32_t rect[4] = {x, y, x + static_cast<std::int32_t>(s * ScreenWidth),
                                      y + static_cast<std::int32_t>(s * ScreenHeight)};
        return gWindow.clipCursor(rect);
    }
    return gWindow.clipCursor(nullptr);
}

void Game_System::SetTransition(std::int32_t n, std::int32_t time, std::int32_t mode) {
    if (transitionImage >= 1 && transitionImage != transitionGraph) DeleteGraph(transitionImage);
    transitionImage = 0;
    if (n >= 0) {
        transitionImagePath = DataPath + TheSystemDatabase.ReadString(11, n, 0);
        transitionImage =
            gGraphics.loadBlendGraph ? gGraphics.loadBlendGraph(transitionImagePath) : -1;
        transitionWithoutImage = 0;
        transitionTime = time;
        transitionMode = static_cast<std::uint8_t>(mode);
    } else if (n == -2) {
        // After a graphics reload: the same image again.
        if (!transitionImagePath.empty() && gGraphics.loadBlendGraph) {
            transitionImage = gGraphics.loadBlendGraph(transitionImagePath);
        }
    } else {
        transitionImagePath.clear();
        transitionWithoutImage = 1;
        transitionTime = time;
        transitionMode = static_cast<std::uint8_t>(mode);
    }
}

void Game_System::DrawTransition() {
    if (transitionActive == 0) return;
    if (gGraphics.setDrawBright) gGraphics.setDrawBright(255, 255, 255);
    if (transitionRemaining >= 0 && transitionTotal > 0) {
        const std::int32_t faded = static_cast<std::int32_t>(
            static_cast<std::int64_t>(transitionRemaining) * 255 / transitionTotal);
        if (transitionKind != 0) {
            if (gGraphics.setBlendMode) gGraphics.setBlendMode(1, faded);
            if (gGraphics.drawGraph) gGraphics.drawGraph(0, 0, captureGraph, 0);
        } else {
            if (gGraphics.setBlendMode) gGraphics.setBlendMode(1, 255);
            if (gGraphics.drawBlendGraph) {
                gGraphics.drawBlendGraph(0, 0, captureGraph, 0, transitionGraph, 255 - faded, 64);
            }
        }
        return;
    }
    if (transitionPrepared) {
        transitionPrepared = 0;
        if (gGraphics.copyDrawTargetToGraph) {
            gGraphics.copyDrawTargetToGraph(0, 0, ScreenWidth, ScreenHeight, captureGraph);
        }
        drawingSuspended = 0;
        transitionActive = 1;
        transitionCountdown = transitionRemaining = transitionTotal;
        return;
    }
    transitionActive = 0;
    transitionKind = -1;
    if (transitionGraph != transitionImage) {
        DeleteGraph(transitionGraph);
        transitionGraph = -1;
    }
}

void Game_System::EndTransition() {
    transitionPrepared = 0;
    transitionActive = 0;
    transitionKind = -1;
    if (transitionGraph != transitionImage) {
        DeleteGraph(transitionGraph);
        transitionGraph = -1;
    }
}

bool Game_System::IsTransitionFree() const {
    const bool windowOpen = !messageText.empty() || !choiceText.empty();
    const bool running = transitionActive && (bytes2[0] || bytes2[1]);
    return !windowOpen && !running;
}

void Game_System::StartTransitionNow() {
    if (gGraphics.copyDrawTargetToGraph) {
        gGraphics.copyDrawTargetToGraph(0, 0, ScreenWidth, ScreenHeight, captureGraph);
    }
    transitionPrepared = 0;
    transitionActive = 1;
    transitionCountdown = transitionTime;
    if (transitionGraph != transitionImage) DeleteGraph(transitionGraph);
    transitionGraph = transitionImage;
    transitionKind = transitionMode;
    transitionRemaining = transitionTotal = transitionTime;
}

void Game_System::DrawStoredScreen() {
    if (gGraphics.setBlendMode) gGraphics.setBlendMode(0, 255);
    if (gGraphics.drawGraph) gGraphics.drawGraph(0, 0, storedScreenGraph, 0);
}

void Game_System::UpdateTimers() {
    transitionCountdown = std::max(-10, transitionCountdown - FrameMultiplier);
    transitionRemaining = std::max(-10, transitionCountdown - FrameMultiplier);
    if (gWindow.isActive && gWindow.isActive()) ClipMouseCursor(-1);
}
