#include "runtime/shell/TitleScreen.h"

#include "Source/Library/Main/DxBaseImage.h"
#include "Source/Library/Main/DxFont.h"
#include "Source/Library/Main/DxFontDraw.h"
#include "Source/Library/Main/DxGraphics.h"
#include "Source/Library/Main/DxGraphicsDraw.h"
#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxMemImg.h"
#include "Source/Library/Main/Windows/DxClock.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "Source/Library/Main/Windows/DxWindow.h"
#include "runtime/data/BasicData.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"

std::int32_t ProgressBackground = -1;
std::int32_t ProgressBar = -1;
std::int32_t ProgressBackgroundWidth = 0, ProgressBackgroundHeight = 0;
std::int32_t ProgressBarWidth = 0, ProgressBarHeight = 0;
std::int32_t ProgressBarAdditive = 0;
std::int32_t TitleGaugeShown = 0;

namespace {

const std::string& Text(std::size_t index) {
    static const std::string empty;
    return index < TheBasicData.settingTexts.size() ? TheBasicData.settingTexts[index] : empty;
}

std::int32_t Number(std::size_t index) {
    return index < TheBasicData.settingNumbers.size() ? TheBasicData.settingNumbers[index] : 0;
}

std::uint8_t Byte(std::size_t index) {
    return index < TheBasicData.settingBytes.size() ? TheBasicData.settingBytes[index] : 0;
}

std::string SoftModeText(std::int32_t softModeFlag) {
    return softModeFlag >= 1 ? TranslateMessageUtf8(u"【ソフトウェアモード】") : std::string();
}

std::string FillTitleNames(const std::string& text) {
    return ReplaceAllText(ReplaceAllText(text, "<TITLE>", Text(0)), "<TITLE_PLUS>", Text(8));
}

}  // namespace

std::string FormatWindowTitle(std::int32_t stage, std::int32_t softModeFlag) {
    std::string t;
    if (TheBasicData.IsUtf8() == 1) t = stage == -1 ? Text(12) : Text(11);
    if (!t.empty()) {
        t = FillTitleNames(t);
        if (stage == -1) return ReplaceAllText(t, "<SOFT>", "");
        if (t.find("<GUAGE>") != std::string::npos) TitleGaugeShown = 1;
    } else if (stage == -1) {
        t = TranslateMessageUtf8(u"<TITLE><TITLE_PLUS>　 <SOFT>　 F4:画面変更 / F8:情報変更");
        return ReplaceAllText(FillTitleNames(t), "<SOFT>", "");
    } else {
        t = std::string(TranslateMessageUtf8(u"起動中です、初期化処理を行っています")) +
            " <GUAGE>" + "  <SOFT>";
        TitleGaugeShown = 1;
    }
    if (TitleGaugeShown == 1) {
        std::string gauge;
        const std::int32_t black = stage < 0 ? 0 : stage > 4 ? 4 : stage;
        for (std::int32_t i = 0; i < black; ++i) gauge += TranslateMessageUtf8(u"■ ");
        for (std::int32_t i = black; i < 4; ++i) gauge += TranslateMessageUtf8(u"□ ");
        t = ReplaceAllText(t, "<GUAGE>", gauge);
    }
    return ReplaceAllText(t, "<SOFT>", SoftModeText(softModeFlag));
}

void BuildWindowTitle(std::int32_t stage) {
    const std::string caption = FormatWindowTitle(stage, GameIniSettings.SoftModeFlag);
    ZiDaz::SetWindowCaption(caption.c_str());
    ZiDaz::PumpMessages();
}

namespace {

// Loads one progress picture; on failure adds its line to `missing`.
std::int32_t LoadProgressPicture(const std::string& path, const std::string& name,
                                 std::string& missing, std::int32_t& width, std::int32_t& height) {
    const std::int32_t graph = ZiDaz::LoadGraphFromImageFile(path.c_str(), 0);
    if (graph < 0) {
        missing += ReplaceAllText(TranslateMessageUtf8(u"%s が見つかりません"), "%s", name);
        missing += "\r\n\r\n";
        return -1;
    }
    ZiDaz::GetGraphSize(graph, &width, &height);
    return graph;
}

void LoadProgressPictures() {
    std::string missing;
    if (!Text(9).empty()) {
        ProgressBackground = LoadProgressPicture(DataFolder + Text(9), Text(9), missing,
                                                 ProgressBackgroundWidth, ProgressBackgroundHeight);
    }
    if (!Text(10).empty()) {
        std::string path = DataFolder + Text(10);
        if (path.find("<LIGHT>") != std::string::npos) {
            ProgressBarAdditive = 1;
            path = ReplaceAllText(path, "<LIGHT>", "");
        }
        ProgressBar =
            LoadProgressPicture(path, Text(10), missing, ProgressBarWidth, ProgressBarHeight);
    }
    if (!missing.empty()) {
        ZiDaz::SetDefaultFontSize(14);
        ZiDaz::DrawTextDefaultFont(10, 120, missing.c_str(),
                                   ZiDaz::ComposeScreenColor(255, 255, 255), 0);
        ZiDaz::WaitPumpingMessages(1500);
    }
}

void ReleaseProgressPictures() {
    if (ProgressBackground >= 0) ZiDaz::DestroyGraph(ProgressBackground);
    ProgressBackground = -1;
    if (ProgressBar >= 0) {
        ZiDaz::DestroyGraph(ProgressBar);
        ProgressBar = -1;
        ProgressBarWidth = 0;
        ProgressBarHeight = 0;
    }
}

void DrawProgress(std::int32_t v) {
    const std::int32_t scale = WindowScale;
    ZiDaz::ClearDrawTarget(nullptr);
    ZiDaz::SelectBlendMode(ZiDaz::DX_BLEND_ALPHA, 255);
    if (ProgressBackground >= 0) {
        ZiDaz::PutGraphStretched(0, 0, ProgressBackgroundWidth * scale,
                                 ProgressBackgroundHeight * scale, ProgressBackground, 1);
    }
    if (ProgressBar >= 0 && v >= 0) {
        ZiDaz::SelectBlendMode(
            ProgressBarAdditive == 1 ? ZiDaz::DX_BLEND_ADD : ZiDaz::DX_BLEND_ALPHA, 255);
        const std::int32_t w = v * ProgressBarWidth / 100;
        const std::int32_t x = Number(19);
        const std::int32_t y = Number(20);
        ZiDaz::PutGraphSubRectStretched(x * scale, y * scale, (x + w) * scale,
                                        (y + ProgressBarHeight) * scale, 0, 0, w, ProgressBarHeight,
                                        ProgressBar, 1);
    }
    const std::uint8_t fades = Byte(33);
    std::int32_t alpha = -1;
    if (v < 0 && (fades & 1) != 0) alpha = -v * 255 / 100;
    if (v > 100 && (fades & 2) != 0) alpha = (v - 100) * 255 / 100;
    if (alpha >= 0) {
        ZiDaz::SelectBlendMode(ZiDaz::DX_BLEND_ALPHA, alpha);
        ZiDaz::PaintRectangle(0, 0, ScreenWidth, ScreenHeight, ZiDaz::ComposeScreenColor(0, 0, 0),
                              1);
    }
    ZiDaz::FlipScreen();
}

}  // namespace

void ShowStartupProgress(std::int32_t value) {
    if (value == -1000) {
        LoadProgressPictures();
    } else if (value == -999) {
        ReleaseProgressPictures();
    } else if (value >= -100 && value <= 199) {
        DrawProgress(value);
    }
}
