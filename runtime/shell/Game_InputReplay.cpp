#include "runtime/shell/Game_InputReplay.h"

#include <cstdio>

#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/GameRandom.h"
#include "runtime/shell/RuntimeError.h"

Game_InputReplay TheInputReplay{Game_InputReplay::Quiet{}};
std::uint8_t ReplayPlaying = 0;
std::uint8_t ReplayStopRequested = 0;

Game_InputReplay::Game_InputReplay() {
    StartSegment(static_cast<std::int32_t>(GameRandom(1, 0)));
    framesPlayed = 0;
}

void Game_InputReplay::StartSegment(std::int32_t seed) {
    Flush();
    counts.push_back(kSeedTag);
    values.push_back(seed);
}

void Game_InputReplay::Flush() {
    if (runLength != 0) {
        counts.push_back(static_cast<std::uint8_t>(runLength));
        values.push_back(currentValue);
    }
    runLength = 0;
    currentValue = 0;
}

void Game_InputReplay::RecordFrame(std::uint8_t up, std::uint8_t down, std::uint8_t left,
                                   std::uint8_t right, std::uint8_t decide, std::uint8_t cancel,
                                   std::uint8_t sub, std::uint8_t extra) {
    const std::uint8_t v = static_cast<std::uint8_t>(
        (up ? 1 : 0) | (down ? 2 : 0) | (left ? 4 : 0) | (right ? 8 : 0) | (decide ? 16 : 0) |
        (cancel ? 32 : 0) | (sub ? 64 : 0) | (extra ? 128 : 0));
    if (v == currentValue) {
        ++runLength;
        if (runLength >= kMaxRecordedRun) {
            counts.push_back(kMaxRecordedRun);
            values.push_back(v);
            runLength = 0;
        }
        return;
    }
    if (runLength != 0) {
        counts.push_back(static_cast<std::uint8_t>(runLength));
        values.push_back(currentValue);
    }
    currentValue = v;
    runLength = 1;
}

void Game_InputReplay::PlayFrame(std::uint8_t outputs[8]) {
    for (int i = 0; i < 8; ++i) outputs[i] = 0;
    const std::size_t n = counts.size() < values.size() ? counts.size() : values.size();
    while (readIndex < n) {
        const std::uint32_t i = readIndex;
        const std::uint8_t count = counts[i];
        if (count == kSeedCheckTag) {
            const std::int32_t current = static_cast<std::int32_t>(GameRandom(1, 0));
            if (i >= kUncheckedEntries && values[i] != current) {
                char text[256];
                std::snprintf(text, sizeof text,
                              TranslateMessageUtf8(u"乱数シードが違います 保存=%d 現在=%d"),
                              values[i], current);
                ReportRuntimeError(true, text, "", "");
            }
        } else if (count >= 1 && count < kSeedTag) {
            const std::int32_t v = values[i];
            if (v != 0) {
                for (int b = 0; b < 8; ++b) outputs[b] = (v >> b) & 1;
            }
            counts[i] = static_cast<std::uint8_t>(count - 1);
            ++framesPlayed;
            return;
        }
        // Seed tags, unknown tags and used-up runs are passed over.
        ++readIndex;
    }
    ReportRuntimeError(true, TranslateMessageUtf8(u"リプレイデータが終了しました"), "", "");
    ReplayStopRequested = 1;
    ++framesPlayed;
}

bool Game_InputReplay::Save() {
    SaveStream& s = TheSaveStream;
    if (s.measuring) {
        s.position += 1;
    } else {
        s.WriteByte(0);
    }
    return true;
}

bool Game_InputReplay::Load() {
    SaveStream& s = TheSaveStream;
    std::uint8_t present = 0;
    if (!s.ReadByte(present)) return false;
    if (present != 1) return true;
    std::int32_t signedCount = 0;
    if (!s.ReadInt32(signedCount)) return false;
    const std::uint32_t n = static_cast<std::uint32_t>(signedCount);
    // Every entry takes at least two bytes: a count that cannot fit in what is left is damage,
    // found before anything is allocated for it.
    if (n > static_cast<std::uint32_t>(s.Remaining()) / 2) {
        s.overrun = true;
        return false;
    }
    counts.assign(n, 0);
    values.assign(n, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint8_t c = 0;
        if (!s.ReadByte(c)) return false;
        counts[i] = c;
        if (c < kSeedTag) {
            std::uint8_t v = 0;
            if (!s.ReadByte(v)) return false;
            values[i] = v;
        } else {
            std::int32_t v = 0;
            if (!s.ReadInt32(v)) return false;
            values[i] = v;
        }
    }
    return true;
}
