// Playback control of Sound handles (play, stop, positions, frequency, volume, pan) and the sound
// service that runs between the program's calls: the stream refill, the pruning of the playing
// list, the deletion of finished sounds, the tone buffers and the pause while the window is
// inactive.
#include <cmath>
#include <cstring>

#include "Main/DuZuder.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderWin.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "Main/Windows/DxWindowQueries.h"

namespace ZiDaz {

namespace {

bool ModuleUp() {
    return g_SoundSystem.initialised != 0 && IsSoundOutputUp() != 0;
}

bool IsSoundHandleValue(HandleValue handle) {
    return handle >= 0 && ((handle & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_SOUND;
}

std::int32_t Align(const SoundHandleData* d) {
    return d->format.blockAlign ? d->format.blockAlign : 1;
}

std::int32_t ClampPan(std::int32_t pan) {
    return pan < -10000 ? -10000 : pan > 10000 ? 10000 : pan;
}

// Puts the handle into the playing list once.
void LinkIntoPlayingList(HandleValue handle, SoundHandleData* d) {
    SoundSystemState& s = g_SoundSystem;
    DX_LOCK(&s.playingListLock);
    if (!d->inPlayingList) {
        InsertHandleListNodeAfter(&s.playingListHead, &d->playingNode, handle, d);
        d->inPlayingList = 1;
    }
    DX_UNLOCK(&s.playingListLock);
}

// A buffer plays, as far as the program is concerned: while paused by deactivation, it plays when
// it did at the pause.
int BufferCountsAsPlaying(SoundHandleData* d, int index) {
    if (d->pausedByDeactivation[index]) return d->wasPlaying[index] ? 1 : 0;
    return IsSoundBufferPlaying(&d->buffers[index]);
}

// The wait of a normal play: the pump runs until the sound ends or the library does.
void WaitForPlayEnd(HandleValue handle) {
    for (;;) {
        if (PumpMessagesUnlocked() != 0) break;
        if (IsSoundPlaying(handle) != 1) break;
        SleepMilliseconds(1);
    }
}

// Whether a sound that was started has stopped for good (the pruning tests).
bool SoundHasStopped(HandleValue handle, SoundHandleData* d) {
    if (d->isStream) return IsStreamSoundPlaying(handle) == 0;
    const int count = d->bufferCount < 10 ? d->bufferCount : 10;
    for (int i = 0; i < count; ++i) {
        if (!d->buffers[i].setUp) return false;
        if (d->pausedByDeactivation[i]) {
            if (d->wasPlaying[i]) return false;
        } else if (IsSoundBufferPlaying(&d->buffers[i]) != 0) {
            return false;
        }
    }
    return true;
}

// The record of a handle in one of the module's lists; a load still pending is not waited for
// (the lists only hold handles whose load is done).
SoundHandleData* ListedRecord(int value) {
    if (!IsSoundHandleValue(value)) return nullptr;
    return reinterpret_cast<SoundHandleData*>(LookupHandleRecord(value));
}

}  // namespace

void LockSoundType() {
    DX_LOCK(&HandleTypeTable[DX_HANDLETYPE_SOUND].lock);
}

void UnlockSoundType() {
    DX_UNLOCK(&HandleTypeTable[DX_HANDLETYPE_SOUND].lock);
}

std::int64_t ConvertMsToSamples(std::int32_t rate, std::int64_t ms) {
    const __int128 product = static_cast<__int128>(rate) * ms;
    return static_cast<std::int64_t>(product / 1000);
}

std::int32_t SoundLevelToVolume(int level, int curve) {
    if (level <= 0) return -10000;
    const double k = curve ? 10.0 : 50.0;
    std::int32_t v = static_cast<std::int32_t>(std::log10(level / 255.0) * k * 100.0);
    if (v < -10000) v = -10000;
    return v;
}

// ---- Playing and stopping --------------------------------------------------------------------

int PrepareNextSoundBuffer(SoundHandleData* d, int restart) {
    std::int32_t cursor = 0;
    GetSoundBufferPosition(&d->buffers[d->currentBuffer], &cursor, nullptr);
    int next = d->currentBuffer + 1;
    if (next >= d->bufferCount) next = 0;
    d->currentBuffer = next;
    SoundBuffer* b = &d->buffers[next];
    if (!b->setUp) return -1;
    const int playing = IsSoundBufferPlaying(b);
    if (playing == -1) return -1;
    if (playing == 1) {
        if (!restart) return 1;
        StopSoundBuffer(b, 0);
    }
    SetSoundBufferPosition(b, restart ? 0 : cursor);
    std::memcpy(b->volume, d->channelVolumes, sizeof b->volume);
    ApplySoundBufferVolume(b);
    b->pan = ClampPan(d->pan);
    ApplySoundBufferVolume(b);
    SetSoundBufferFrequency(b, d->baseFrequency);
    return 0;
}

int StartSoundPlayback(HandleValue handle, int playType, int restart) {
    if (!ModuleUp()) return -1;
    if (!IsWindowActivationInProgress() && IsInactiveWaitNeeded()) WaitWhileWindowInactive();
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return StartStreamPlayback(handle, playType, restart);
    const int prepared = PrepareNextSoundBuffer(d, restart);
    if (prepared == 1) return 0;
    if (prepared != 0) return -1;
    if (PlaySoundBuffer(&d->buffers[d->currentBuffer], playType == DX_PLAYTYPE_LOOP ? 1 : 0) != 0) {
        return -1;
    }
    LinkIntoPlayingList(handle, d);
    if (playType != DX_PLAYTYPE_NORMAL) return 0;
    WaitForPlayEnd(handle);
    return 0;
}

int StartStreamPlayback(HandleValue handle, int playType, int restart) {
    LockSoundType();
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) {
        UnlockSoundType();
        return -1;
    }
    SoundBuffer* buffer = nullptr;
    if (PrepareStreamForPlay(handle, d, playType, restart, &buffer) != 0 ||
        PlaySoundBuffer(buffer, 1) != 0) {
        UnlockSoundType();
        return -1;
    }
    LinkIntoPlayingList(handle, d);
    UnlockSoundType();
    if (playType == DX_PLAYTYPE_NORMAL) WaitForPlayEnd(handle);
    return 0;
}

int PrepareStreamForPlay(HandleValue handle, SoundHandleData* d, int playType, int restart,
                         SoundBuffer** buffer) {
    if (AcquireStreamOutputBuffer(handle, d, buffer, 1) != 0) return -1;
    if (!restart && IsSoundBufferPlaying(*buffer) == 1) return 1;
    StopStreamPlayback(handle, 0);
    auto resetToStart = [d]() {
        d->currentEntry = 0;
        d->decodedBytes = 0;
        d->playBytes = 0;
        d->passCount = 0;
        d->loopPending = 0;
        d->streamActive = 0;
    };
    if (((playType ^ d->playType) & 2) != 0 && d->allPlayed) resetToStart();
    if (restart) {
        d->allPlayed = 0;
        if (d->playBytes != 0) resetToStart();
    }
    d->playType = playType;
    d->noLoop = 0;
    PrefillStreamSound(handle, 0);
    SetSoundBufferVolumeAll(*buffer, d->channelVolumes[0]);
    (*buffer)->pan = ClampPan(d->pan);
    ApplySoundBufferVolume(*buffer);
    SetSoundBufferFrequency(*buffer, d->baseFrequency);
    return 0;
}

int StopSoundPlayback(HandleValue handle, int mode) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return StopStreamPlayback(handle, mode);
    for (int i = 0; i < 10; ++i) {
        SoundBuffer* b = &d->buffers[i];
        if (!b->setUp) continue;
        if (mode == 0) {
            d->pausedByDeactivation[i] = 0;
            d->wasPlaying[i] = 0;
            const int playing = IsSoundBufferPlaying(b);
            if (playing == -1) return -1;
            if (playing == 1) StopSoundBuffer(b, 1);
            continue;
        }
        if (IsSoundBufferPlaying(b) != 1) continue;
        if (g_SoundSystem.softwareMixing || g_SoundSystem.xaudio2Runs) {
            b->loop = 0;
        } else {
            StopSoundBuffer(b, 0);
            PlaySoundBuffer(b, 0);
        }
    }
    return 0;
}

int StopStreamPlayback(HandleValue handle, int mode) {
    LockSoundType();
    struct Unlocker {
        ~Unlocker() { UnlockSoundType(); }
    } unlocker;
    SoundHandleData* d = reinterpret_cast<SoundHandleData*>(LookupHandleRecord(handle));
    if (d == nullptr || !IsSoundHandleValue(handle)) return -1;
    UpdateStreamPlayPosition(handle, -1, 1);
    SoundBuffer* buffer = nullptr;
    if (AcquireStreamOutputBuffer(handle, d, &buffer, 0) != 0) return 0;
    if (mode == 1) {
        d->noLoop = 1;
        if (d->playType == DX_PLAYTYPE_LOOP) d->playType = DX_PLAYTYPE_BACK;
        return 0;
    }
    const int playing = IsSoundBufferPlaying(buffer);
    if (playing == -1) return -1;
    if (playing == 1) StopSoundBuffer(buffer, 1);
    d->pausedByDeactivation[0] = 0;
    d->wasPlaying[0] = 0;
    return 0;
}

int IsSoundPlaying(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return IsStreamSoundPlaying(handle);
    for (int i = 0; i < 10; ++i) {
        if (!d->buffers[i].setUp) continue;
        if (BufferCountsAsPlaying(d, i) != 0) return 1;
    }
    return 0;
}

// ---- Positions and length -------------------------------------------------------------------

std::int64_t GetSoundPositionMs(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return GetStreamPositionMs(handle);
    std::int32_t cursor = 0;
    if (GetSoundBufferPosition(&d->buffers[d->currentBuffer], &cursor, nullptr) != 0) return -1;
    return static_cast<std::int64_t>(
        ConvertSamplesToMs(static_cast<std::int32_t>(d->format.samplesPerSec),
                           static_cast<std::uint64_t>(cursor / Align(d))));
}

int SetSoundPositionMs(std::int64_t ms, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    const std::int64_t samples =
        ConvertMsToSamples(static_cast<std::int32_t>(d->format.samplesPerSec), ms);
    if (d->isStream) return MoveStreamPosition(samples * Align(d), handle, 0);
    return SetSoundBufferPosition(&d->buffers[d->currentBuffer],
                                  static_cast<std::int32_t>(samples * Align(d)));
}

std::int64_t GetSoundPositionBytes(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return GetStreamPositionBytes(handle);
    std::int32_t cursor = 0;
    if (GetSoundBufferPosition(&d->buffers[d->currentBuffer], &cursor, nullptr) != 0) return -1;
    return cursor;
}

int SetSoundPositionBytes(std::int64_t bytes, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return MoveStreamPosition(bytes, handle, 0);
    if (bytes < 0 || bytes > 0x7FFFFFFF) return -1;
    return SetSoundBufferPosition(&d->buffers[d->currentBuffer], static_cast<std::int32_t>(bytes));
}

std::int64_t GetSoundLengthSamples(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return d->totalSamples;
    return d->pcmSize / Align(d);
}

std::int64_t GetSoundLengthMs(HandleValue handle) {
    const std::int64_t samples = GetSoundLengthSamples(handle);
    if (samples < 0) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    return static_cast<std::int64_t>(ConvertSamplesToMs(
        static_cast<std::int32_t>(d->format.samplesPerSec), static_cast<std::uint64_t>(samples)));
}

// ---- Frequency, volume and pan -------------------------------------------------------------

int SetSoundFrequency(int hz, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (hz == -1) hz = 0;
    for (SoundBuffer& b : d->buffers) {
        if (b.setUp) SetSoundBufferFrequency(&b, hz);
    }
    d->baseFrequency = hz;
    return 0;
}

int GetSoundFrequency(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    std::int32_t hz = 0;
    SoundBuffer* b = d->isStream ? &d->buffers[0] : &d->buffers[d->currentBuffer];
    if (GetSoundBufferFrequency(b, &hz) != 0) return -1;
    return hz;
}

namespace {

int SetVolumeEverywhere(SoundHandleData* d, std::int32_t volume) {
    for (SoundBuffer& b : d->buffers) {
        if (b.setUp) SetSoundBufferVolumeAll(&b, volume);
    }
    for (std::int32_t& v : d->channelVolumes) v = volume;
    return 0;
}

}  // namespace

int SetSoundVolumeLevel(int level, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    return SetVolumeEverywhere(d, SoundLevelToVolume(level, g_SoundSystem.volumeCurve));
}

int SetSoundVolume(int volume, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    std::int32_t v = volume - 10000;
    if (v < -10000) v = -10000;
    return SetVolumeEverywhere(d, v);
}

int GetSoundVolume(int channel, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    std::int32_t v = 0;
    SoundBuffer* b = d->isStream ? &d->buffers[0] : &d->buffers[d->currentBuffer];
    if (GetSoundBufferVolume(b, channel, &v) != 0) return -1;
    return v + 10000;
}

int SetSoundVolumeCurve(int flag) {
    g_SoundSystem.volumeCurve = flag;
    return 0;
}

int SetSoundPan(int pan, HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    pan = ClampPan(pan);
    for (SoundBuffer& b : d->buffers) {
        if (b.setUp) SetSoundBufferPan(&b, pan);
    }
    d->pan = pan;
    return 0;
}

int GetSoundPan(HandleValue handle) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    std::int32_t pan = 0;
    SoundBuffer* b = d->isStream ? &d->buffers[0] : &d->buffers[d->currentBuffer];
    if (GetSoundBufferPan(b, &pan) != 0) return -1;
    return pan;
}

// ---- The per-frame service ------------------------------------------------------------------

int RefreshStreamSounds() {
    if (!IsSoundOutputUp()) return -1;
    SoundSystemState& s = g_SoundSystem;
    LockSoundType();
    DX_LOCK(&s.streamListLock);
    for (HandleListNode* node = s.streamListHead.next; node && node != &s.streamListTail;
         node = node->next) {
        auto* d = static_cast<SoundHandleData*>(node->data);
        // The service never waits for a load: a stream that is still loading is refilled under
        // the same lock its load takes.
        if (d != nullptr && d->streamActive) RefillStreamSoundBuffer(node->value, 1);
    }
    DX_UNLOCK(&s.streamListLock);
    const int now = ReadMillisecondClock();
    for (int i = 0; i < kToneBufferCount; ++i) {
        ToneBuffer& tone = s.tones[i];
        if (!tone.buffer.setUp || IsSoundBufferPlaying(&tone.buffer) != 1) continue;
        std::int32_t play = 0;
        GetSoundBufferPosition(&tone.buffer, &play, nullptr);
        const std::int32_t frame = play / 2;
        std::int32_t distance = tone.writeCursor - frame;
        if (tone.writeCursor <= frame) distance += kToneBufferFrames;
        if (distance <= 5512) FillToneBuffer(i);
    }
    for (ToneBuffer& tone : s.tones) {
        if (tone.restoreVolume &&
            (now - tone.restoreVolumeTime >= 16 || now < tone.restoreVolumeTime)) {
            if (tone.buffer.setUp) SetSoundBufferVolume(&tone.buffer, 0, 0);
            tone.restoreVolume = 0;
            tone.restoreVolumeTime = 0;
        }
        if (tone.stopFlag && (now - tone.stopTime >= 16 || now < tone.stopTime)) {
            if (tone.buffer.setUp) StopSoundBuffer(&tone.buffer, 0);
            tone.stopFlag = 0;
            tone.stopTime = 0;
        }
    }
    UnlockSoundType();
    return 0;
}

int FillToneBuffer(int index) {
    if (index < 0 || index >= kToneBufferCount) return -1;
    ToneBuffer& tone = g_SoundSystem.tones[index];
    void* first = nullptr;
    void* second = nullptr;
    std::int32_t firstLength = 0;
    std::int32_t secondLength = 0;
    if (LockSoundBuffer(&tone.buffer, tone.writeCursor * 2, 11024, &first, &firstLength, &second,
                        &secondLength) != 0) {
        WriteLogTextUtf16(u"BEEP音用のサウンドバッファのロックに失敗しました\n");
        return -1;
    }
    auto fill = [&tone](void* area, std::int32_t bytes) {
        auto* out = static_cast<unsigned char*>(area);
        for (std::int32_t i = 0; i + 1 < bytes; i += 2) {
            const std::int16_t v = tone.waveTable != nullptr && tone.waveLength > 0
                                       ? tone.waveTable[tone.waveIndex]
                                       : 0;
            std::memcpy(out + i, &v, 2);
            if (++tone.writeCursor >= kToneBufferFrames) tone.writeCursor = 0;
            if (++tone.waveIndex >= tone.waveLength) tone.waveIndex = 0;
        }
    };
    if (first) fill(first, firstLength);
    if (second) fill(second, secondLength);
    if (!g_SoundSystem.softwareMixing) {
        UnlockSoundBuffer(&tone.buffer, first, firstLength, second, secondLength);
    }
    return 0;
}

int ServiceSoundBufferCycles() {
    if (!IsSoundOutputUp()) return -1;
    SoundSystemState& s = g_SoundSystem;
    DX_LOCK(&s.cycleListLock);
    HandleListNode* node = s.cycleListHead.next;
    while (node && node != &s.cycleListTail) {
        auto* d = static_cast<SoundHandleData*>(node->data);
        bool needsMore = false;
        if (!s.softwareMixing) {
            const int count = d->bufferCount < 10 ? d->bufferCount : 10;
            for (int i = 0; i < count; ++i) {
                if (d->buffers[i].setUp && StepPlatformBufferCycle(&d->buffers[i]) == 0) {
                    needsMore = true;
                }
            }
        }
        if (needsMore) {
            node = node->next;
            continue;
        }
        d->inCycleList = 0;
        UnlinkHandleListNode(&d->cycleNode);
        node = s.cycleListHead.next;
    }
    DX_UNLOCK(&s.cycleListLock);
    return 0;
}

int PruneStoppedSounds() {
    if (!IsSoundOutputUp()) return -1;
    SoundSystemState& s = g_SoundSystem;
    DX_LOCK(&s.playingListLock);
    HandleListNode* node = s.playingListHead.next;
    while (node && node != &s.playingListTail) {
        SoundHandleData* d = ListedRecord(node->value);
        if (d == nullptr || !SoundHasStopped(node->value, d)) {
            node = node->next;
            continue;
        }
        d->inPlayingList = 0;
        UnlinkHandleListNode(&d->playingNode);
        node = s.playingListHead.next;
    }
    DX_UNLOCK(&s.playingListLock);
    return 0;
}

int DeleteFinishedSounds() {
    if (!IsSoundOutputUp()) return -1;
    SoundSystemState& s = g_SoundSystem;
    HandleListNode* node = s.deleteAfterPlayListHead.next;
    while (node && node != &s.deleteAfterPlayListTail) {
        SoundHandleData* d = ListedRecord(node->value);
        if (d == nullptr || !SoundHasStopped(node->value, d)) {
            node = node->next;
            continue;
        }
        DeleteHandle(node->value);
        node = s.deleteAfterPlayListHead.next;
    }
    return 0;
}

int UpdateMusicPlayState() {
    if (!IsSoundOutputUp()) return -1;
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_MUSIC];
    if (!type.registered) return -1;
    if (type.count == 0) return 0;
    for (int i = type.lowestUsed; i <= type.highestUsed; ++i) {
        auto* m = reinterpret_cast<MusicHandleData*>(type.slots[i]);
        if (m == nullptr || !m->playing) continue;
        if (UpdatePlatformMusicState(m) != 0) return -1;
    }
    return 0;
}

int RunPumpSoundService() {
    if (!g_SoundSystem.initialised) return 0;
    if (SystemReport.logicalProcessorCount <= 1) {
        RefreshStreamSounds();
        FeedSoftSoundPlayers();
        ServiceSoundBufferCycles();
        PruneStoppedSounds();
    }
    DeleteFinishedSounds();
    return 0;
}

int IsStreamSoundPlaying(HandleValue handle) {
    if (!IsSoundOutputUp()) return -1;
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    SoundBuffer* buffer = nullptr;
    if (AcquireStreamOutputBuffer(handle, d, &buffer, 0) != 0) return 0;
    if (d->pausedByDeactivation[0]) return d->wasPlaying[0] ? 1 : 0;
    return IsSoundBufferPlaying(buffer) != 0 ? 1 : 0;
}

// ---- Deactivation pause ---------------------------------------------------------------------

int PauseSounds(int pause) {
    SoundSystemState& s = g_SoundSystem;
    if (!s.initialised || !IsSoundOutputUp()) return -1;
    LockSoundType();
    for (HandleListNode* node = s.playingListHead.next; node && node != &s.playingListTail;
         node = node->next) {
        SoundHandleData* d = ListedRecord(node->value);
        if (d == nullptr) continue;
        for (int i = 0; i < 10; ++i) {
            SoundBuffer* b = &d->buffers[i];
            if (!b->setUp || (!s.softwareMixing && !HasPlatformVoice(b))) continue;
            if (pause) {
                if (d->pausedByDeactivation[i]) continue;
                const int playing = IsSoundBufferPlaying(b);
                if (playing == -1) {
                    d->pausedByDeactivation[i] = 0;
                    continue;
                }
                d->pausedByDeactivation[i] = 1;
                if (playing == 1) {
                    d->wasPlaying[i] = 1;
                    StopSoundBuffer(b, 1);
                } else {
                    d->wasPlaying[i] = 0;
                }
            } else {
                if (d->pausedByDeactivation[i] && d->wasPlaying[i]) PlaySoundBuffer(b, b->loop);
                d->pausedByDeactivation[i] = 0;
            }
        }
    }
    if (s.tonePlaying) {
        SoundBuffer* tone = &s.tones[s.currentTone].buffer;
        if (pause) {
            StopSoundBuffer(tone, 0);
        } else {
            PlaySoundBuffer(tone, 1);
        }
    }
    UnlockSoundType();
    return 0;
}

int PauseSoftSoundPlayers(int pause) {
    SoundSystemState& s = g_SoundSystem;
    if (!s.initialised || !IsSoundOutputUp()) return -1;
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_SOFTSOUND];
    DX_LOCK(&type.lock);
    for (HandleListNode* node = s.softSoundPlayerListHead.next;
         node && node != &s.softSoundPlayerListTail; node = node->next) {
        auto* p = static_cast<SoftSoundHandleData*>(node->data);
        if (p == nullptr) continue;
        SoundBuffer* b = &p->playerBuffer;
        const bool usable = b->setUp && (s.softwareMixing || HasPlatformVoice(b));
        if (pause) {
            if (!usable || p->pausedByDeactivation) continue;
            const int playing = IsSoundBufferPlaying(b);
            if (playing == -1) {
                p->pausedByDeactivation = 0;
                continue;
            }
            p->pausedByDeactivation = 1;
            if (playing == 1) {
                p->wasPlaying = 1;
                StopSoundBuffer(b, 1);
            } else {
                p->wasPlaying = 0;
            }
        } else {
            if (!p->playing) {
                p->pausedByDeactivation = 0;
                continue;
            }
            if (!usable) continue;
            if (p->pausedByDeactivation && p->wasPlaying) PlaySoundBuffer(b, b->loop);
            p->pausedByDeactivation = 0;
        }
    }
    DX_UNLOCK(&type.lock);
    return 0;
}

}  // namespace ZiDaz
