#include "runtime/shell/FrameCounters.h"

#include <algorithm>

#include "Source/Library/Main/Windows/DxClock.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/StringUtil.h"

namespace {

std::int32_t LibraryClock() {
    return ZiDaz::ReadMillisecondClock() & 0x7FFFFFFF;
}

FrameClockFunction gClock = &LibraryClock;

struct Counters {
    bool started = false;
    std::int32_t halfWindowStart = 0;
    std::int32_t framesInHalfWindow = 0;
    std::int32_t ring[2] = {0, 0};
    int ringIndex = 0;
    std::int32_t secondStart = 0;
};
Counters gCounters;

}  // namespace

void SetFrameCounterClock(FrameClockFunction clock) {
    gClock = clock ? clock : &LibraryClock;
}

void ResetFrameCounters() {
    gCounters = Counters{};
}

int UpdateFrameCounters(bool countFrame) {
    Counters& c = gCounters;
    const std::int32_t now = gClock() & 0x7FFFFFFF;
    if (!c.started) {
        c.started = true;
        c.halfWindowStart = now;
        c.secondStart = now;
    }
    if (countFrame) {
        ++c.framesInHalfWindow;
        if (ClockInterval(now, c.halfWindowStart) >= 500) {
            c.ring[c.ringIndex] = c.framesInHalfWindow;
            c.ringIndex ^= 1;
            c.framesInHalfWindow = 0;
            c.halfWindowStart = now;
        }
    }
    const std::int32_t elapsed = ClockInterval(now, c.secondStart);
    if (elapsed >= 1000) {
        const std::int32_t n = elapsed / 1000;
        TheSystemState.playTimeSeconds += n;
        c.secondStart = static_cast<std::int32_t>(
            (static_cast<std::uint32_t>(c.secondStart) + static_cast<std::uint32_t>(n) * 1000u) &
            0x7FFFFFFFu);
    }
    TheSystemState.playTimeMilliseconds = ClockInterval(now, c.secondStart);
    TheSystemState.framesRunLastSecond = c.ring[0] + c.ring[1];
    return TheSystemState.framesRunLastSecond;
}

void SetFrameSkipLevel(int level) {
    level = std::clamp(level, 0, 2);
    static constexpr float kFactors[3] = {1.0f, 0.5f, 0.25f};
    TheSystemState.SetFrameSkipFactor(kFactors[level]);
    TheSystemState.frameSkipLevel = level;
    GameIniSettings.FrameSkip = level;
}

std::string BuildGameTitleText(const std::string& titleTemplate, const std::string& title,
                               const std::string& titlePlus, bool softwareMode,
                               const std::string& scriptTitle) {
    if (!scriptTitle.empty()) return scriptTitle;
    std::string t = titleTemplate.empty()
                        ? std::string(TranslateMessageUtf8(
                              u"<TITLE><TITLE_PLUS>　 <SOFT>　 F4:画面変更 / F8:情報変更"))
                        : titleTemplate;
    t = ReplaceAllText(t, "<TITLE>", title);
    t = ReplaceAllText(t, "<TITLE_PLUS>", titlePlus);
    t = ReplaceAllText(t, "<SOFT>",
                       softwareMode ? std::string(TranslateMessageUtf8(u"【ソフトウェアモード】"))
                                    : std::string());
    return t;
}

std::string BuildFrameLoadText(std::int64_t microseconds) {
    const std::int64_t t = std::max<std::int64_t>(0, microseconds);
    const std::int64_t ms = t / 1000;
    const std::int64_t tenths = (t - ms * 1000) / 100;
    std::string text = std::to_string(ms) + "." + std::to_string(tenths) + "ms";
    int added = 0;
    for (std::int64_t i = 0; i < ms && added < 21; ++i) {
        if (i < 10) {
            text += "|";
            ++added;
        } else if (i <= 25) {
            if (i % 3 == 0) {
                text += TranslateMessageUtf8(u"■");
                ++added;
            }
        } else if (i % 5 == 0) {
            text += TranslateMessageUtf8(u"★");
            ++added;
        }
    }
    return text;
}
