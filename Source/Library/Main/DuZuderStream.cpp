// Stream sounds: a Sound handle whose data is decoded while it plays, into one looping ring buffer
// fed from up to three files in turn. The refill keeps a margin of decoded data ahead of the play
// cursor, writes the jump back to the loop point ahead of time and remembers where it wrote it, so
// that the play position jumps only when the cursor crosses that place; after the last data it
// writes silence until the cursor has played it, then stops the buffer.
#include <cstring>

#include "Main/DuZuder.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderWin.h"

namespace ZiDaz {

namespace {

bool IsSoundHandle(HandleValue handle) {
    return handle >= 0 && ((handle & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_SOUND;
}

// The record; on a load thread the handle's own pending load is the caller, so it is not waited
// for.
SoundHandleData* Record(HandleValue handle, int onLoadThread) {
    if (!IsSoundHandle(handle)) return nullptr;
    if (onLoadThread) return reinterpret_cast<SoundHandleData*>(LookupHandleRecord(handle));
    return GetSoundHandleData(handle);
}

std::int32_t Align(const SoundHandleData* d) {
    return d->format.blockAlign ? d->format.blockAlign : 1;
}

std::int32_t RoundDown(std::int64_t bytes, std::int32_t align) {
    return static_cast<std::int32_t>(bytes / align * align);
}

std::int32_t RoundUp(std::int64_t bytes, std::int32_t align) {
    return static_cast<std::int32_t>((bytes + align - 1) / align * align);
}

// Forward distance around the ring from a to b.
std::uint32_t Forward(std::uint32_t a, std::uint32_t b, std::uint32_t ring) {
    return b >= a ? b - a : ring - a + b;
}

// Whether p lies on the way forward from a to b (both ends included).
bool Within(std::uint32_t a, std::uint32_t p, std::uint32_t b, std::uint32_t ring) {
    return Forward(a, p, ring) <= Forward(a, b, ring);
}

// Where the next byte goes in a locked region: the first part while it has room, then the second.
std::int32_t CurrentWriteOffset(const SoundHandleData* d, const SoundBufferLockRegion* region) {
    if (region->firstFree > 0 || region->second == nullptr) {
        const std::int32_t at = region->startOffset + region->firstWritten;
        return d->ringSize > 0 && at >= d->ringSize ? at - d->ringSize : at;
    }
    return region->secondWritten;
}

std::int32_t PlayCursor(SoundHandleData* d) {
    std::int32_t play = 0;
    if (GetSoundBufferPosition(&d->buffers[0], &play, nullptr) != 0) return -1;
    return play;
}

bool LockRegion(SoundHandleData* d, std::int32_t offset, std::int32_t bytes,
                SoundBufferLockRegion* region) {
    *region = SoundBufferLockRegion{};
    region->startOffset = offset;
    if (LockSoundBuffer(&d->buffers[0], offset, bytes, &region->first, &region->firstLength,
                        &region->second, &region->secondLength) != 0) {
        return false;
    }
    region->firstFree = region->firstLength;
    region->secondFree = region->secondLength;
    return true;
}

void UnlockRegion(SoundHandleData* d, SoundBufferLockRegion* region) {
    UnlockSoundBuffer(&d->buffers[0], region->first, region->firstLength, region->second,
                      region->secondLength);
}

std::int32_t Written(const SoundBufferLockRegion& region) {
    return region.firstWritten + region.secondWritten;
}

// The stream back at its start: what a finished play, a restart and a position move share.
void ResetStreamToStart(SoundHandleData* d) {
    d->endReached = 0;
    d->loopPending = 0;
    d->decodedBytes = 0;
    d->playBytes = 0;
    d->passCount = 0;
    d->currentEntry = 0;
    d->streamActive = 0;
}

void LogUtf16(const char16_t* text) {
    WriteLogTextUtf16(text);
}

}  // namespace

StreamSizes ComputeStreamSizes(const SoundFormat& format, int fileStream) {
    const std::int64_t a = format.avgBytesPerSec;
    const std::int32_t b = format.blockAlign ? format.blockAlign : 1;
    StreamSizes sizes{};
    if (fileStream) {
        sizes.ring = static_cast<std::int32_t>(b * ((a * 3328 / 256 + b - 1) / b));
        sizes.window = static_cast<std::int32_t>(a * 3264 / 256);
        sizes.lowWater = 6144;
    } else {
        sizes.ring = static_cast<std::int32_t>(b * ((a * 256 / 256 + b - 1) / b));
        sizes.window = static_cast<std::int32_t>(a * 192 / 256);
        sizes.lowWater = 192;
    }
    return sizes;
}

int ReadStreamSourceIntoMemory(const StreamReaderBinding* source, void** block, std::size_t* size) {
    BindingSeek(*source, 0, 2);
    const std::int64_t length = BindingTell(*source);
    BindingSeek(*source, 0, 0);
    void* memory = length >= 0 ? DX_ALLOC(static_cast<std::size_t>(length) + 1) : nullptr;
    if (memory == nullptr) {
        LogUtf16(u"ストリームの読み込みに必要なメモリの確保に失敗しました");
        return -1;
    }
    const std::size_t got = BindingReadBytes(*source, memory, static_cast<std::size_t>(length));
    *block = memory;
    *size = got;
    return 0;
}

int AddSreamSound(SoundLoadParams* params, const StreamReaderBinding* source,
                  std::uint8_t loopCount, HandleValue handle, int kind, int* sourceStillNeeded,
                  HandleValue, int onLoadThread) {
    SoundSystemState& s = g_SoundSystem;
    if (!s.initialised || !IsSoundOutputUp()) return -1;
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr) return -1;
    if (d->entryCount > 0) {
        if (!d->isStream) {
            LogUtf16(
                u"ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n");
            return -1;
        }
        if (IsSoundBufferPlaying(&d->buffers[0]) == 1) {
            LogUtf16(u"既に再生中のストリームサウンドデータにデータを追加しようとしました\n");
            return -1;
        }
        if (d->entryCount >= 3) {
            LogUtf16(u"ストリーム風サウンドの制御データ領域がいっぱいです\n");
            return -1;
        }
    }
    const int index = d->entryCount;
    StreamSoundEntry* e = &d->entries[index];
    std::memset(static_cast<void*>(e), 0, sizeof *e);
    d->ownsSource[index] = 0;
    e->sourceKind = kind;
    e->loopStart = -1;
    BindingSeek(*source, 0, 0);
    MemoryStream* memory = nullptr;
    const bool wantLoopArea =
        params != nullptr && params->loopPoint == params->loopStart && !params->ignoreLoopInfo;
    const int skipMask = params ? params->skipMask : 0;
    const int width = params ? params->vorbisSampleWidth : 2;
    const int movie = params ? params->movieFlag : 0;
    if (kind == 3) {
        if (BeginSoundConversion(&e->conversion, source, skipMask, width, movie) != 0) {
            LogUtf16(u"音声データのオープンに失敗しました");
            return -1;
        }
        *sourceStillNeeded = 0;
    } else if (kind == 2) {
        void* block = nullptr;
        std::size_t size = 0;
        if (ReadStreamSourceIntoMemory(source, &block, &size) != 0) {
            LogUtf16(u"音声データの読み込みに失敗しました");
            return -1;
        }
        memory = CreateMemoryStream(block, size);
        StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
        if (memory == nullptr ||
            BeginSoundConversion(&e->conversion, &binding, skipMask, width, movie) != 0) {
            if (memory) FreeMemoryStream(memory);
            DX_FREE(block);
            LogUtf16(u"音声データのオープンに失敗しました");
            return -1;
        }
        e->image = block;
        e->imageSize = static_cast<std::int64_t>(size);
        e->source = binding;
        *sourceStillNeeded = 1;
    } else {
        void* block = nullptr;
        std::size_t size = 0;
        if (ReadStreamSourceIntoMemory(source, &block, &size) != 0) {
            LogUtf16(u"音声データの読み込みに失敗しました");
            return -1;
        }
        // Decoded whole now, and read back from a WAVE image while playing.
        MemoryStream* temporary = CreateMemoryStream(block, size);
        StreamReaderBinding tempBinding{*GetMemoryStreamAccess(), temporary};
        auto* convert = static_cast<SoundConvertState*>(DX_ALLOC_ZEROED(sizeof(SoundConvertState)));
        SoundFormat format{};
        void* pcm = nullptr;
        std::uint32_t pcmSize = 0;
        int result = -1;
        if (temporary && convert &&
            BeginSoundConversion(convert, &tempBinding, skipMask, width, movie) == 0) {
            result = ConvertWholeSound(convert, &format, &pcm, &pcmSize);
            EndSoundConversion(convert);
        }
        DX_FREE(convert);
        if (temporary) FreeMemoryStream(temporary);
        DX_FREE(block);
        if (result != 0) {
            LogUtf16(u"音声データの変換に失敗しました");
            return -1;
        }
        void* image = nullptr;
        std::uint32_t imageSize = 0;
        format.extraSize = 0;
        if (BuildWaveFileImage(&image, &imageSize, &format, 18, pcm, pcmSize) != 0) {
            DX_FREE(pcm);
            return -1;
        }
        DX_FREE(pcm);
        memory = CreateMemoryStream(image, imageSize);
        StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
        if (memory == nullptr ||
            BeginSoundConversion(&e->conversion, &binding, skipMask, width, movie) != 0) {
            if (memory) FreeMemoryStream(memory);
            DX_FREE(image);
            LogUtf16(u"音声データの変換に失敗しました");
            return -1;
        }
        e->image = image;
        e->imageSize = imageSize;
        e->source = binding;
        *sourceStillNeeded = 1;
    }
    if ((kind == 3 || kind == 2) && wantLoopArea) {
        std::int64_t start = -1;
        std::int64_t end = -1;
        if (GetSoundConversionLoopArea(&e->conversion, &start, &end) == 0 && start >= 0 &&
            end >= 0) {
            params->loopPoint = start;
            params->loopStart = end;
        }
    }
    // Lets go of what the new entry holds when it cannot join the sound.
    auto dropEntry = [&]() {
        EndSoundConversion(&e->conversion);
        if (e->source.stream) FreeMemoryStream(static_cast<MemoryStream*>(e->source.stream));
        if (e->image) DX_FREE(e->image);
        std::memset(static_cast<void*>(e), 0, sizeof *e);
    };
    SoundFormat format{};
    GetSoundConversionFormat(&e->conversion, &format);
    if (index == 0) {
        if (format.blockAlign == 0 || format.avgBytesPerSec == 0) {
            dropEntry();
            LogUtf16(u"音声データのオープンに失敗しました");
            return -1;
        }
        d->format = format;
        const StreamSizes sizes = ComputeStreamSizes(format, kind == 3);
        if (CreateSoundBuffers(&format, sizes.ring, 1, 1, handle, -1, onLoadThread) != 0) {
            dropEntry();
            return -1;
        }
        d->ringSize = sizes.ring;
        d->baseFrequency = static_cast<std::int32_t>(format.samplesPerSec);
        d->currentUser = -1;
        d->joinHandle = -1;
        d->writeOffset = -800;
        d->windowStart = -1;
    } else if (std::memcmp(&format, &d->format, sizeof format) != 0) {
        dropEntry();
        LogUtf16(u"フォーマットの違う音声データは同時に使うことは出来ません");
        return -1;
    }
    if (kind == 3) d->fileStream = 1;
    e->loopCount = loopCount;
    ++d->entryCount;
    if (index > 0 && d->streamActive) {
        // The ring may already end where the earlier files ended: the next play fills it anew
        // from the top, so that the added file is heard.
        ResetStreamToStart(d);
        d->allPlayed = 0;
    }
    std::int64_t total = 0;
    for (int i = 0; i < d->entryCount; ++i) {
        total += GetConvertedSoundSize(&d->entries[i].conversion) / Align(d);
    }
    d->totalSamples = total;
    return 0;
}

int AddStreamSoundFromFile(SoundLoadParams* params, const char16_t* path, std::uint8_t loopCount,
                           HandleValue handle, int kind, HandleValue joinHandle, int onLoadThread) {
    const StreamValue file = StreamOpen(path, 0, 1, 0);
    if (file == 0) {
        WriteLogFormatUtf16(u"Sound File Open Error : %s", path);
        return -1;
    }
    StreamReaderBinding binding{*GetFileStreamAccess(), reinterpret_cast<void*>(file)};
    int stillNeeded = 0;
    if (AddSreamSound(params, &binding, loopCount, handle, kind, &stillNeeded, joinHandle,
                      onLoadThread) != 0) {
        StreamClose(file);
        WriteLogFormatUtf16(u"Sound File Setup Error : %s", path);
        return -1;
    }
    if (stillNeeded) StreamClose(file);
    if (SoundHandleData* d = Record(handle, onLoadThread)) d->ownsSource[d->entryCount - 1] = 1;
    return 0;
}

int AddStreamSoundFromMemoryImage(SoundLoadParams* params, const void* image, std::size_t size,
                                  std::uint8_t loopCount, HandleValue handle, int loadMode,
                                  HandleValue joinHandle, int onLoadThread) {
    MemoryStream* memory = CreateMemoryStream(image, size);
    if (memory == nullptr) {
        LogUtf16(u"ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました \n");
        return -1;
    }
    StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
    const int kind = loadMode == 3 ? 2 : loadMode;
    int stillNeeded = 0;
    if (AddSreamSound(params, &binding, loopCount, handle, kind, &stillNeeded, joinHandle,
                      onLoadThread) != 0) {
        FreeMemoryStream(memory);
        LogUtf16(u"ＷＡＶファイルのストリームイメージのセットアップに失敗しました \n");
        return -1;
    }
    if (stillNeeded) FreeMemoryStream(memory);
    if (SoundHandleData* d = Record(handle, onLoadThread)) d->ownsSource[d->entryCount - 1] = 1;
    return 0;
}

int AcquireStreamOutputBuffer(HandleValue handle, SoundHandleData* d, SoundBuffer** buffer, int) {
    if (d == nullptr || !d->buffers[0].setUp) return -1;
    d->currentUser = handle;
    if (buffer) *buffer = &d->buffers[0];
    return 0;
}

void WriteStreamSilence(SoundHandleData* d, SoundBufferLockRegion* region, std::int32_t bytes) {
    const int value = d->format.bitsPerSample == 8 ? 127 : 0;
    if (bytes > 0 && region->firstFree > 0) {
        const std::int32_t n = bytes < region->firstFree ? bytes : region->firstFree;
        std::memset(static_cast<unsigned char*>(region->first) + region->firstWritten, value,
                    static_cast<std::size_t>(n));
        region->firstWritten += n;
        region->firstFree -= n;
        bytes -= n;
    }
    if (bytes > 0 && region->secondFree > 0) {
        const std::int32_t n = bytes < region->secondFree ? bytes : region->secondFree;
        std::memset(static_cast<unsigned char*>(region->second) + region->secondWritten, value,
                    static_cast<std::size_t>(n));
        region->secondWritten += n;
        region->secondFree -= n;
    }
}

int AdvanceStreamEntry(SoundHandleData* d, SoundBufferLockRegion* region, std::int32_t cursor) {
    const std::int32_t b = Align(d);
    StreamSoundEntry* e = &d->entries[d->currentEntry];
    ++d->passCount;
    if (!d->noLoop && e->loopCount == 255) {
        if (d->loopPending) return -1;
        d->decodedBytes = d->resumeBytes = static_cast<std::int64_t>(b) * e->loopPoint;
        d->loopPending = 1;
        d->jumpOffset = static_cast<std::uint32_t>(CurrentWriteOffset(d, region));
    } else {
        if (d->noLoop ||
            static_cast<std::int8_t>(d->passCount) > static_cast<std::int8_t>(e->loopCount)) {
            if (d->currentEntry == d->entryCount - 1 && d->playType == DX_PLAYTYPE_LOOP &&
                d->loopPending) {
                return -1;
            }
            d->passCount = 0;
            ++d->currentEntry;
            if (d->currentEntry >= d->entryCount) {
                d->allPlayed = 1;
                if (d->playType != DX_PLAYTYPE_LOOP) {
                    d->currentEntry = d->entryCount - 1;
                    d->endReached = 1;
                    d->endOffset = static_cast<std::uint32_t>(CurrentWriteOffset(d, region));
                    d->endCursor = static_cast<std::uint32_t>(cursor);
                    WriteStreamSilence(d, region, RoundDown(d->format.avgBytesPerSec / 8, b));
                    return 0;
                }
                d->currentEntry = 0;
                d->resumeBytes = 0;
                d->loopPending = 1;
                d->jumpOffset = static_cast<std::uint32_t>(CurrentWriteOffset(d, region));
            }
        }
        d->decodedBytes = 0;
    }
    SeekSoundConversion(&d->entries[d->currentEntry].conversion, d->decodedBytes / b);
    return 0;
}

int UpdateStreamPlayPosition(HandleValue handle, std::int32_t cursor, int onLoadThread) {
    LockSoundType();
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr) {
        UnlockSoundType();
        return -1;
    }
    if (!d->isStream || !d->streamActive || !d->buffers[0].setUp) {
        UnlockSoundType();
        return 0;
    }
    const std::uint32_t ring = static_cast<std::uint32_t>(d->ringSize);
    const std::int32_t read = cursor == -1 ? PlayCursor(d) : cursor;
    if (read < 0) {
        UnlockSoundType();
        return -1;
    }
    const std::uint32_t c = static_cast<std::uint32_t>(read);
    const std::uint32_t last = d->lastCursor;
    if (c != last) {
        const std::uint32_t j = d->jumpOffset;
        const bool crossed = d->loopPending && ((last < c && last < j && j <= c) ||
                                                (c < last && (j > last || j <= c)));
        if (crossed) {
            d->playBytes = d->resumeBytes + Forward(j, c, ring);
            d->loopPending = 0;
        } else {
            d->playBytes += Forward(last, c, ring);
        }
        d->lastCursor = c;
    }
    UnlockSoundType();
    return 0;
}

int RefillStreamSoundBuffer(HandleValue handle, int onLoadThread) {
    LockSoundType();
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr) {
        UnlockSoundType();
        return -1;
    }
    if (!d->isStream || !d->streamActive || !d->buffers[0].setUp || d->entryCount <= 0) {
        UnlockSoundType();
        return 0;
    }
    struct Unlocker {
        ~Unlocker() { UnlockSoundType(); }
    } unlocker;
    UpdateStreamPlayPosition(handle, -1, onLoadThread);
    const std::int32_t b = Align(d);
    const std::int32_t a = static_cast<std::int32_t>(d->format.avgBytesPerSec);
    const std::int32_t ring = d->ringSize;
    const StreamSizes sizes = ComputeStreamSizes(d->format, d->fileStream);
    const std::int32_t eighth = RoundDown(a / 8, b);
    SoundBufferLockRegion region{};
    bool firstFill = false;
    if (d->endReached) {
        const std::int32_t p = PlayCursor(d);
        if (p < 0) return -1;
        const std::uint32_t up = static_cast<std::uint32_t>(p);
        // The cursor has played everything up to the end of the data: the play is over.
        if (Forward(d->endCursor, up, static_cast<std::uint32_t>(ring)) >=
            Forward(d->endCursor, d->endOffset, static_cast<std::uint32_t>(ring))) {
            StopSoundBuffer(&d->buffers[0], 0);
            ResetStreamToStart(d);
            return 0;
        }
        if (d->writeOffset < 0 ||
            !Within(static_cast<std::uint32_t>(d->windowStart), up,
                    static_cast<std::uint32_t>(d->writeOffset), static_cast<std::uint32_t>(ring))) {
            return -1;
        }
        if (!LockRegion(d, d->writeOffset, eighth, &region)) return -1;
        WriteStreamSilence(d, &region, eighth);
    } else {
        const int playing = IsSoundBufferPlaying(&d->buffers[0]);
        std::int32_t offset = 0;
        std::int32_t amount = 0;
        if (playing != 1) {
            if (d->writeOffset != -800) return 0;
            firstFill = true;
            offset = 0;
            amount = RoundDown(sizes.window, b);
        } else {
            if (d->writeOffset < 0) return -1;
            const std::int32_t p = PlayCursor(d);
            if (p < 0) return -1;
            const std::uint32_t up = static_cast<std::uint32_t>(p);
            const std::uint32_t w = static_cast<std::uint32_t>(d->writeOffset);
            if (!Within(static_cast<std::uint32_t>(d->windowStart), up, w,
                        static_cast<std::uint32_t>(ring))) {
                return -1;
            }
            const std::uint64_t ahead =
                static_cast<std::uint64_t>(Forward(up, w, static_cast<std::uint32_t>(ring))) * 512 /
                static_cast<std::uint64_t>(a);
            if (ahead < static_cast<std::uint64_t>(sizes.lowWater)) {
                amount = RoundDown(
                    (static_cast<std::int64_t>(sizes.lowWater) - static_cast<std::int64_t>(ahead)) *
                        a / 512,
                    b);
            } else {
                amount = eighth;
            }
            offset = d->writeOffset;
        }
        if (amount <= 0) return 0;
        if (!LockRegion(d, offset, amount, &region)) return -1;
        std::int32_t remaining = region.firstFree + region.secondFree;
        const std::int32_t cursor = firstFill ? 0 : PlayCursor(d);
        while (remaining > 0 && !d->endReached) {
            const int entryIndex = d->currentEntry;
            StreamSoundEntry* e = &d->entries[entryIndex];
            std::int32_t chunk = remaining;
            bool hitLoopStart = false;
            if (e->loopStart >= 0) {
                const std::int64_t limit = static_cast<std::int64_t>(b) * e->loopStart;
                if (d->decodedBytes + remaining > limit) {
                    const std::int64_t left = limit - d->decodedBytes;
                    chunk = static_cast<std::int32_t>(left > 0 ? left : 0);
                    hitLoopStart = true;
                }
            }
            std::int32_t copied = 0;
            if (chunk > 0)
                copied = CopyConverterOutputToLockedRegion(&region, &e->conversion, chunk);
            d->decodedBytes += copied;
            remaining -= copied;
            if (copied == 0) {
                // At the loop start, or the decoder has nothing more (it ended, or a damaged file
                // gives out without saying so: its data ends here all the same).
                (void)hitLoopStart;
                if (AdvanceStreamEntry(d, &region, cursor) != 0) break;
                remaining = region.firstFree + region.secondFree;
                continue;
            }
            if (d->currentEntry == entryIndex && e->loopStart >= 0 &&
                d->decodedBytes >= static_cast<std::int64_t>(b) * e->loopStart) {
                break;
            }
        }
    }
    UnlockRegion(d, &region);
    const std::int32_t written = Written(region);
    if (firstFill) {
        d->writeOffset = written;
        d->windowStart = 0;
        return 0;
    }
    std::int32_t w = d->writeOffset + written;
    if (w >= ring) w -= ring;
    d->writeOffset = w;
    std::int32_t x = w - RoundUp(sizes.window, b);
    if (x < 0) x += ring;
    d->windowStart = x;
    return 0;
}

int PrefillStreamSound(HandleValue handle, int onLoadThread) {
    if (!g_SoundSystem.initialised || !IsSoundOutputUp()) return -1;
    LockSoundType();
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr || !d->isStream || !d->buffers[0].setUp || d->streamActive ||
        d->entryCount <= 0 || (!onLoadThread && IsSoundBufferPlaying(&d->buffers[0]) == 1)) {
        UnlockSoundType();
        return 0;
    }
    SetSoundBufferPosition(&d->buffers[0], 0);
    d->writeOffset = -800;
    d->windowStart = -1;
    d->lastCursor = 0;
    d->endReached = 0;
    SeekSoundConversion(&d->entries[d->currentEntry].conversion, d->decodedBytes / Align(d));
    d->streamActive = 1;
    RefillStreamSoundBuffer(handle, onLoadThread);
    UnlockSoundType();
    return 0;
}

std::int64_t GetStreamPositionBytes(HandleValue handle) {
    LockSoundType();
    SoundHandleData* d = Record(handle, 0);
    if (d == nullptr) {
        UnlockSoundType();
        return -1;
    }
    UpdateStreamPlayPosition(handle, -1, 0);
    const std::int64_t bytes = d->playBytes;
    UnlockSoundType();
    return bytes;
}

std::int64_t GetStreamPositionMs(HandleValue handle) {
    LockSoundType();
    SoundHandleData* d = Record(handle, 0);
    if (d == nullptr) {
        UnlockSoundType();
        return -1;
    }
    UpdateStreamPlayPosition(handle, -1, 0);
    const std::int64_t samples = d->playBytes / Align(d);
    std::int64_t ms = static_cast<std::int64_t>(ConvertSamplesToMs(
        static_cast<std::int32_t>(d->format.samplesPerSec), static_cast<std::uint64_t>(samples)));
    const std::int64_t length = static_cast<std::int64_t>(
        ConvertSamplesToMs(static_cast<std::int32_t>(d->format.samplesPerSec),
                           static_cast<std::uint64_t>(d->totalSamples)));
    if (ms > length) ms = length;
    UnlockSoundType();
    return ms;
}

int MoveStreamPosition(std::int64_t bytes, HandleValue handle, int onLoadThread) {
    // A stream that is still loading (the call comes from its own load) cannot be playing.
    bool playing = false;
    if (!onLoadThread) {
        playing = Record(handle, 0) != nullptr && IsStreamSoundPlaying(handle) == 1;
        StopStreamPlayback(handle, 0);
    }
    if (!g_SoundSystem.initialised || !IsSoundOutputUp()) return -1;
    int result = -1;
    int playType = DX_PLAYTYPE_BACK;
    LockSoundType();
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d != nullptr && d->isStream && bytes >= 0) {
        const std::int32_t b = Align(d);
        playType = d->playType;
        if (bytes / b <= d->totalSamples && d->entryCount <= 1) {
            // Whole frames only: a position inside a frame would shift every later ring write.
            const std::int64_t whole = bytes / b * b;
            d->passCount = 0;
            d->loopPending = 0;
            d->currentEntry = 0;
            d->playBytes = d->decodedBytes = whole;
            d->streamActive = 0;
            result = 0;
        }
    }
    UnlockSoundType();
    if (playing) StartSoundPlayback(handle, playType, 0);
    return result;
}

int SetStreamPositionBytes(std::int64_t bytes, HandleValue handle) {
    return MoveStreamPosition(bytes, handle, 0);
}

int SetStreamPositionMs(std::int64_t ms, HandleValue handle) {
    SoundHandleData* d = Record(handle, 0);
    if (d == nullptr) return -1;
    const std::int64_t samples =
        ConvertMsToSamples(static_cast<std::int32_t>(d->format.samplesPerSec), ms);
    return SetStreamPositionBytes(samples * Align(d), handle);
}

}  // namespace ZiDaz
