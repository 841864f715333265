// Soft sounds: sample data held in memory under a SoftSound handle (the workbench of the loader's
// pitch and time-stretch conversion), and soft-sound players, whose one-second cyclic buffer the
// feed step keeps filled from a queue of wave bytes. Also the two whole-sound transforms: the
// correlation time stretch and the windowed-sinc resampler.
#include <cstring>
#include <limits>

#include "Main/DuZuder.h"
#include "Main/DxASyncLoad.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderWin.h"
#include "Main/Windows/DxSystemWin.h"
#include "Main/Windows/DxWindow.h"
#include "Main/Windows/DxWindowQueries.h"

namespace ZiDaz {

namespace {

HandleTypeRecord& SoftSoundType() {
    return HandleTypeTable[DX_HANDLETYPE_SOFTSOUND];
}

SoftSoundHandleData* LookupSoftSound(HandleValue handle) {
    if (handle < 0 || ((handle & kHandleTypeMask) >> kHandleTypeShift) != DX_HANDLETYPE_SOFTSOUND) {
        return nullptr;
    }
    return reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(handle));
}

// Sample data only: a player is no source or destination of sample operations.
SoftSoundHandleData* LookupSampleData(HandleValue handle) {
    SoftSoundHandleData* sound = LookupSoftSound(handle);
    return sound && !sound->isPlayer ? sound : nullptr;
}

bool SoundModuleReady() {
    return g_SoundSystem.initialised != 0;
}

// The sound output is up when the module is and either the mixer feeds an output or the platform
// plays the buffers itself.
bool SoundOutputReady() {
    return g_SoundSystem.initialised != 0 &&
           (g_SoundSystem.softwareMixing != 0 || IsSoundOutputUp() != 0);
}

// Creation from the main thread waits while the main window is inactive; a load thread (a job
// that makes work sounds) never pumps the window's messages.
void WaitForActiveWindow() {
    if (IsMainThread() && !IsMainWindowActive() && !IsWindowActivationInProgress()) {
        WaitWhileWindowInactive();
    }
}

// Finishes a pending asynchronous load of the handle: the record afterwards, or null. The record
// is first looked at under the type's lock, since a failing job deletes its handle.
SoftSoundHandleData* FinishPendingLoad(HandleValue handle) {
    if (handle < 0 || ((handle & kHandleTypeMask) >> kHandleTypeShift) != DX_HANDLETYPE_SOFTSOUND) {
        return nullptr;
    }
    HandleTypeRecord& type = SoftSoundType();
    if (!type.registered) return nullptr;
    DX_LOCK(&type.lock);
    SoftSoundHandleData* sound = LookupSoftSound(handle);
    const bool pending = sound && sound->header.asyncPending != 0;
    const int job = pending ? sound->header.jobIndex : -1;
    DX_UNLOCK(&type.lock);
    if (!sound) return nullptr;
    if (pending) {
        if (job >= 0) FinishASyncLoadJobNow(job);
        if (WaitHandleASyncLoad(handle) != 0) return nullptr;
        sound = LookupSoftSound(handle);
    }
    return sound;
}

// Queues a job for the handle and marks the handle as loading with the job's slot. The type's
// lock is held across both, so that the job cannot finish the load before it is counted. -1 (the
// job freed) when it cannot be queued.
int QueueSoftSoundJob(HandleValue handle, ASyncLoadJob* job) {
    HandleTypeRecord& type = SoftSoundType();
    DX_LOCK(&type.lock);
    if (QueueASyncLoadJob(job) != 0) {
        DX_UNLOCK(&type.lock);
        return -1;
    }
    BeginHandleASyncLoad(handle, job->slotIndex);
    DX_UNLOCK(&type.lock);
    return 0;
}

// The end of a load job: the result as the handle's load result, then the load's end; a failure
// takes the handle with it.
void EndSoftSoundJob(HandleValue handle, int result) {
    HandleTypeRecord& type = SoftSoundType();
    DX_LOCK(&type.lock);
    if (HandleHeader* record = LookupHandleRecord(handle)) {
        record->asyncResult = result;
        if (result < 0) record->deleteRequested = 1;
    }
    DX_UNLOCK(&type.lock);
    FinishHandleASyncLoad(handle);
}

std::uint32_t RoundUpToBlock(std::uint32_t bytes, std::uint32_t align) {
    return align * ((bytes + align - 1) / align);
}

// The common test of the whole-sound operations: two sample-data sounds of one count and channel
// count.
bool MatchingPair(HandleValue a, HandleValue b, SoftSoundHandleData** first,
                  SoftSoundHandleData** second) {
    *first = LookupSampleData(a);
    *second = LookupSampleData(b);
    if (!*first || !*second) return false;
    return (*first)->wave.sampleCount == (*second)->wave.sampleCount &&
           (*first)->format.channels == (*second)->format.channels;
}

// Interleaved samples of a sound, every channel of every frame. (Mono and stereo are all this
// system makes; any other count converts each of its channels.)
std::size_t InterleavedSamples(const SoftSoundHandleData* sound) {
    return static_cast<std::size_t>(static_cast<std::uint32_t>(sound->wave.sampleCount)) *
           sound->format.channels;
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------

int AddSoftSoundData(HandleValue handle, int isPlayer, int channels, int bits, int rate,
                     int isFloat, std::uint32_t countLow, std::int32_t countHigh) {
    if (!SoundModuleReady()) return -1;
    SoftSoundHandleData* sound = LookupSoftSound(handle);
    if (!sound) return -1;
    sound->isPlayer = isPlayer ? 1 : 0;
    SoundFormat& f = sound->format;
    f.formatTag = isFloat ? kSoundFormatFloat : kSoundFormatPcm;
    f.bitsPerSample = static_cast<std::uint16_t>(isFloat ? 32 : bits);
    f.channels = static_cast<std::uint16_t>(channels);
    f.samplesPerSec = static_cast<std::uint32_t>(rate);
    f.blockAlign = static_cast<std::uint16_t>(f.channels * (f.bitsPerSample / 8));
    f.avgBytesPerSec = static_cast<std::uint32_t>(f.blockAlign) * f.samplesPerSec;
    f.extraSize = 0;

    if (!sound->isPlayer) {
        const std::int64_t count = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(countHigh)) << 32) | countLow);
        // Sizes are kept in 32 bits: a sound whose bytes do not fit would be given too little
        // memory for its count, so it is refused.
        const std::uint64_t bytes = count < 0 ? std::numeric_limits<std::uint64_t>::max()
                                              : static_cast<std::uint64_t>(count) * f.blockAlign;
        if (count < 0 || bytes > 0xFFFFFFFFull) {
            WriteLogFormatUtf16(
                u"ソフトハンドルの波形を格納するメモリ領域の確保に失敗しました in "
                u"AddSoftSoundData");
            return -1;
        }
        sound->wave.sampleCount = count;
        sound->wave.samples =
            static_cast<unsigned char*>(DX_ALLOC(static_cast<std::size_t>(bytes)));
        if (!sound->wave.samples) {
            WriteLogFormatUtf16(
                u"ソフトハンドルの波形を格納するメモリ領域の確保に失敗しました in "
                u"AddSoftSoundData");
            return -1;
        }
        return 0;
    }

    // A player steps through its buffer by whole frames: a frame of no bytes is refused.
    if (f.blockAlign == 0) {
        WriteLogFormatUtf16(u"ソフトサウンドプレイヤー用サウンドバッファの作成に失敗しました");
        return -1;
    }
    InitRingBuffer(&sound->queue);
    sound->queuedSamples = 0;
    const std::uint32_t align = f.blockAlign;
    const std::uint32_t second = (f.avgBytesPerSec * 256u) / 256u;
    const std::uint32_t bufferBytes = RoundUpToBlock(second, align);
    const std::uint64_t byteRate = f.avgBytesPerSec;
    const std::uint32_t leadBytes =
        RoundUpToBlock(static_cast<std::uint32_t>(byteRate * 8 / 256), align);
    // Only the low 24 bits of the byte rate size the buffer: at byte rates of 16 MB a second and
    // more it can come out too small to hold the two leads the feed keeps ahead of the cursor.
    if (bufferBytes <= 2 * static_cast<std::uint64_t>(leadBytes) || bufferBytes > 0x7FFFFFFFu) {
        WriteLogFormatUtf16(u"ソフトサウンドプレイヤー用サウンドバッファの作成に失敗しました");
        return -1;
    }
    if (SetUpSoundBuffer(&sound->playerBuffer, static_cast<int>(bufferBytes), &f, nullptr, 0) !=
        0) {
        WriteLogFormatUtf16(u"ソフトサウンドプレイヤー用サウンドバッファの作成に失敗しました");
        return -1;
    }
    sound->bufferBytes = static_cast<std::int32_t>(bufferBytes);
    sound->writePosition = 0;
    sound->endPosition = -1;
    sound->lastPlayPosition = 0;
    sound->endPassed = 0;
    sound->playing = 0;
    sound->minimumQueueBytes = static_cast<std::int32_t>(
        RoundUpToBlock(static_cast<std::uint32_t>(byteRate * 51 / 256), align));
    sound->leadBytes = static_cast<std::int32_t>(leadBytes);
    HandleTypeRecord& type = SoftSoundType();
    DX_LOCK(&type.lock);
    InsertHandleListNodeAfter(&g_SoundSystem.softSoundPlayerListHead, &sound->playerListNode, -1,
                              sound);
    DX_UNLOCK(&type.lock);
    return 0;
}

int SetUpSoftSoundHandle(HandleValue handle, int isPlayer, int channels, int bits, int rate,
                         std::int64_t count, int isFloat, HandleValue formatHandle, int) {
    if (!SoundOutputReady()) return -1;
    if (formatHandle >= 0) {
        if (GetSoftSoundFormat(formatHandle, &channels, &bits, &rate, &isFloat) != 0) return -1;
    }
    return AddSoftSoundData(handle, isPlayer, channels, bits, rate, isFloat,
                            static_cast<std::uint32_t>(static_cast<std::uint64_t>(count)),
                            static_cast<std::int32_t>(static_cast<std::uint64_t>(count) >> 32));
}

void RunCreateSoftSoundJob(ASyncLoadJob* job) {
    int offset = 0;
    const std::uint8_t* p = job->parameters;
    const HandleValue handle = UnpackJobInt(p, &offset);
    const int isPlayer = UnpackJobInt(p, &offset);
    const int channels = UnpackJobInt(p, &offset);
    const int bits = UnpackJobInt(p, &offset);
    const int rate = UnpackJobInt(p, &offset);
    const std::int64_t count = UnpackJobInt64(p, &offset);
    const int isFloat = UnpackJobInt(p, &offset);
    const HandleValue formatHandle = UnpackJobInt(p, &offset);
    const int result = SetUpSoftSoundHandle(handle, isPlayer, channels, bits, rate, count, isFloat,
                                            formatHandle, 1);
    EndSoftSoundJob(handle, result);
}

namespace {

// Sizes the job's parameters with `pack`, writes them into a new job and queues it for the
// handle; on any failure the handle is deleted and -1 returned.
template <typename Pack>
HandleValue QueuePackedSoftSoundJob(HandleValue handle, ASyncLoadRunFunction run, Pack pack) {
    int bytes = 0;
    pack(nullptr, &bytes);
    ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
    if (!job) {
        DeleteHandle(handle);
        return -1;
    }
    job->run = run;
    int offset = 0;
    pack(job->parameters, &offset);
    if (QueueSoftSoundJob(handle, job) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

}  // namespace

HandleValue CreateSoftSound(int isPlayer, int channels, int bits, int rate, std::int64_t count,
                            int isFloat, HandleValue formatHandle, int async) {
    if (!SoundModuleReady()) return -1;
    WaitForActiveWindow();
    const HandleValue handle = AllocateHandle(DX_HANDLETYPE_SOFTSOUND, 0, -1);
    if (handle < 0) return -1;
    if (async) {
        auto pack = [&](std::uint8_t* block, int* offset) {
            PackJobInt(block, offset, handle);
            PackJobInt(block, offset, isPlayer);
            PackJobInt(block, offset, channels);
            PackJobInt(block, offset, bits);
            PackJobInt(block, offset, rate);
            PackJobInt64(block, offset, count);
            PackJobInt(block, offset, isFloat);
            PackJobInt(block, offset, formatHandle);
        };
        return QueuePackedSoftSoundJob(handle, RunCreateSoftSoundJob, pack);
    }
    if (SetUpSoftSoundHandle(handle, isPlayer, channels, bits, rate, count, isFloat, formatHandle,
                             0) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

HandleValue CreateSoftSoundOfFormat(int channels, int bits, int rate, std::int64_t count,
                                    int isFloat) {
    return CreateSoftSound(0, channels, bits, rate, count, isFloat, -1, IsASyncLoadEnabled());
}

// ---- Loading -----------------------------------------------------------------------------

int LoadSoftSoundIntoHandle(const SoundLoadParams* params, HandleValue handle, const char16_t* path,
                            const void* image, std::size_t imageSize, int) {
    if (!SoundOutputReady() || !params || (!path && !image)) return -1;
    StreamValue file = 0;
    MemoryStream* memory = nullptr;
    StreamReaderBinding binding{};
    if (path) {
        file = StreamOpen(path, 0, 1, 0);
        if (!file) return -1;
        binding.ops = *GetFileStreamAccess();
        binding.stream = reinterpret_cast<void*>(file);
    } else {
        memory = CreateMemoryStream(image, imageSize);
        if (!memory) return -1;
        binding.ops = *GetMemoryStreamAccess();
        binding.stream = memory;
    }
    auto* convert = static_cast<SoundConvertState*>(DX_ALLOC_ZEROED(sizeof(SoundConvertState)));
    void* decoded = nullptr;
    int result = -1;
    SoundFormat format{};
    std::uint32_t bytes = 0;
    if (!convert) {
        WriteLogFormatUtf16(u"ソフトサウンド用の音声ファイルのＰＣＭへの変換に失敗しました");
    } else if (BeginSoundConversion(convert, &binding, params->skipMask, params->vorbisSampleWidth,
                                    params->movieFlag) != 0) {
        WriteLogFormatUtf16(u"ソフトサウンド用の音声ファイルのＰＣＭへの変換に失敗しました");
    } else if (ConvertWholeSound(convert, &format, &decoded, &bytes) != 0) {
        WriteLogFormatUtf16(
            u"ソフトサウンド用の音声ファイルを格納するメモリ領域の確保に失敗しました");
    } else {
        result = 0;
    }
    if (convert) {
        EndSoundConversion(convert);
        DX_FREE(convert);
    }
    if (file) StreamClose(file);
    if (memory) FreeMemoryStream(memory);
    if (result == 0) {
        const std::uint32_t align = format.blockAlign;
        const std::uint32_t count = align ? bytes / align : 0;
        result = AddSoftSoundData(handle, 0, format.channels, format.bitsPerSample,
                                  static_cast<int>(format.samplesPerSec),
                                  format.formatTag == kSoundFormatFloat ? 1 : 0, count, 0);
        if (result == 0) {
            SoftSoundHandleData* sound = LookupSoftSound(handle);
            if (sound && count) {
                std::memcpy(sound->wave.samples, decoded, static_cast<std::size_t>(count) * align);
            }
        }
    }
    DX_FREE(decoded);
    return result;
}

void RunSoftSoundLoadJob(ASyncLoadJob* job) {
    int offset = 0;
    const std::uint8_t* p = job->parameters;
    const std::uint8_t* packedParams = UnpackJobBlock(p, &offset);
    SoundLoadParams params;
    std::memcpy(&params, packedParams, sizeof params);
    const HandleValue handle = UnpackJobInt(p, &offset);
    const char16_t* packedPath = UnpackJobString(p, &offset);
    const void* image =
        reinterpret_cast<const void*>(static_cast<std::intptr_t>(UnpackJobInt64(p, &offset)));
    const std::size_t imageSize = static_cast<std::size_t>(UnpackJobInt64(p, &offset));
    // The packed path may stand unaligned: copy it unit by unit.
    char16_t path[1024] = {};
    for (std::size_t i = 0; packedPath && i + 1 < 1024; ++i) {
        std::memcpy(&path[i], reinterpret_cast<const unsigned char*>(packedPath) + 2 * i, 2);
        if (!path[i]) break;
    }
    const int result =
        LoadSoftSoundIntoHandle(&params, handle, packedPath ? path : nullptr, image, imageSize, 1);
    EndSoftSoundJob(handle, result);
}

HandleValue LoadSoftSoundWithParams(const SoundLoadParams* params, const char16_t* path,
                                    const void* image, std::size_t imageSize, int async) {
    if (!SoundModuleReady() || !params) return -1;
    WaitForActiveWindow();
    const HandleValue handle = AllocateHandle(DX_HANDLETYPE_SOFTSOUND, 0, -1);
    if (handle < 0) return -1;
    if (async) {
        char16_t full[1024] = {};
        const char16_t* packedPath = nullptr;
        if (path) {
            MakeFullPath(path, full, sizeof full, nullptr);
            packedPath = full;
        }
        auto pack = [&](std::uint8_t* block, int* offset) {
            PackJobBlock(block, offset, params, sizeof *params);
            PackJobInt(block, offset, handle);
            PackJobString(block, offset, packedPath);
            PackJobInt64(block, offset, reinterpret_cast<std::intptr_t>(image));
            PackJobInt64(block, offset, static_cast<std::int64_t>(imageSize));
        };
        return QueuePackedSoftSoundJob(handle, RunSoftSoundLoadJob, pack);
    }
    if (LoadSoftSoundIntoHandle(params, handle, path, image, imageSize, 0) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

// ---- Queries -----------------------------------------------------------------------------

int GetSoftSoundFormat(HandleValue handle, int* channels, int* bits, int* rate, int* isFloat) {
    SoftSoundHandleData* sound = FinishPendingLoad(handle);
    if (!sound || sound->isPlayer) return -1;
    if (channels) *channels = sound->format.channels;
    if (bits) *bits = sound->format.bitsPerSample;
    if (rate) *rate = static_cast<int>(sound->format.samplesPerSec);
    if (isFloat) *isFloat = sound->format.formatTag == kSoundFormatFloat ? 1 : 0;
    return 0;
}

std::int64_t GetSoftSoundSampleCount(HandleValue handle) {
    SoftSoundHandleData* sound = FinishPendingLoad(handle);
    if (!sound || sound->isPlayer) return -1;
    return sound->wave.sampleCount;
}

// ---- Whole-sound copy and conversions ----------------------------------------------------

int CopySoftSoundSamples(HandleValue source, HandleValue destination) {
    SoftSoundHandleData* s;
    SoftSoundHandleData* d;
    if (!MatchingPair(source, destination, &s, &d)) return -1;
    if (s->format.bitsPerSample != d->format.bitsPerSample ||
        s->format.formatTag != d->format.formatTag) {
        return -1;
    }
    if (s->wave.sampleCount == 0) return 0;
    std::memcpy(d->wave.samples, s->wave.samples,
                static_cast<std::size_t>(s->format.blockAlign) *
                    static_cast<std::uint32_t>(s->wave.sampleCount));
    return 0;
}

int ConvertSoftSoundToFloat(HandleValue source, HandleValue destination) {
    SoftSoundHandleData* s;
    SoftSoundHandleData* d;
    if (!MatchingPair(source, destination, &s, &d)) return -1;
    if (s->format.formatTag == kSoundFormatFloat || d->format.formatTag != kSoundFormatFloat) {
        return -1;
    }
    const std::size_t total = InterleavedSamples(s);
    float* out = reinterpret_cast<float*>(d->wave.samples);
    if (s->format.bitsPerSample == 8) {
        const unsigned char* in = s->wave.samples;
        for (std::size_t i = 0; i < total; ++i) {
            out[i] = static_cast<float>(static_cast<int>(in[i]) - 127) * 0.0078125f;
        }
    } else if (s->format.bitsPerSample == 16) {
        const unsigned char* in = s->wave.samples;
        for (std::size_t i = 0; i < total; ++i) {
            std::int16_t v;
            std::memcpy(&v, in + 2 * i, 2);
            out[i] = static_cast<float>(v) * 0.000030517578125f;
        }
    }
    return 0;
}

int ConvertSoftSoundFromFloat(HandleValue source, HandleValue destination) {
    SoftSoundHandleData* s;
    SoftSoundHandleData* d;
    if (!MatchingPair(source, destination, &s, &d)) return -1;
    if (s->format.formatTag == kSoundFormatPcm || d->format.formatTag != kSoundFormatPcm) {
        return -1;
    }
    const std::size_t total = InterleavedSamples(s);
    const float* in = reinterpret_cast<const float*>(s->wave.samples);
    if (d->format.bitsPerSample == 8) {
        unsigned char* out = d->wave.samples;
        for (std::size_t i = 0; i < total; ++i) {
            const float v = in[i] * 128.0f + 127.0f;
            // Clamped before the conversion, so that no value is out of the integer's range; a
            // NaN gives the middle.
            int r = v >= 255.0f ? 255 : v > 0.0f ? static_cast<int>(v) : v <= 0.0f ? 0 : 127;
            out[i] = static_cast<unsigned char>(r);
        }
    } else if (d->format.bitsPerSample == 16) {
        unsigned char* out = d->wave.samples;
        for (std::size_t i = 0; i < total; ++i) {
            const float v = in[i] * 32768.0f;
            const int r = v >= 32767.0f    ? 32767
                          : v > -32768.0f  ? static_cast<int>(v)
                          : v <= -32768.0f ? -32768
                                           : 0;
            const std::int16_t w = static_cast<std::int16_t>(r);
            std::memcpy(out + 2 * i, &w, 2);
        }
    }
    return 0;
}

// ---- Players -----------------------------------------------------------------------------

namespace {

void FeedPlayer(SoftSoundHandleData* player) {
    const std::uint32_t align = player->format.blockAlign;
    const std::int32_t bufferBytes = player->bufferBytes;
    if (align == 0 || bufferBytes <= 0) return;
    std::int32_t cursor = 0;
    if (GetSoundBufferPosition(&player->playerBuffer, &cursor, nullptr) != 0) return;
    const std::uint32_t p = static_cast<std::uint32_t>(cursor);

    // Has the cursor passed the point where the queued data ran out?
    if (player->endPosition != -1 && player->endPassed == 0) {
        const std::uint32_t l = static_cast<std::uint32_t>(player->lastPlayPosition);
        const std::uint32_t e = static_cast<std::uint32_t>(player->endPosition);
        bool passed = false;
        if (p > l) passed = l <= e && e <= p;
        if (p < l) passed = l <= e || e <= p;
        if (passed) {
            player->endPassed = 1;
        } else {
            player->lastPlayPosition = static_cast<std::int32_t>(p);
        }
    }

    // Fed only while the cursor lies within one lead behind the write position.
    const std::int32_t w = player->writePosition;
    std::int32_t g = w - player->leadBytes;
    if (g < 0) g += bufferBytes;
    const std::int32_t pc = static_cast<std::int32_t>(p);
    bool inside;
    if (g < w) {
        inside = g <= pc && pc <= w;
    } else if (g > w) {
        inside = pc >= g || pc <= w;
    } else {
        inside = true;
    }
    if (!inside) return;
    std::int32_t d = (pc - g) % bufferBytes;
    if (d < 0) d += bufferBytes;
    const std::int32_t n = (player->leadBytes + d) / static_cast<std::int32_t>(align);
    if (n < 0) return;

    std::int32_t real = n;
    std::int32_t silence = 0;
    if (n > player->queuedSamples) {
        if (player->queuedSamples > 0) {
            real = player->queuedSamples;
        } else {
            real = 0;
            silence = n;
        }
    }
    void* first = nullptr;
    void* second = nullptr;
    std::int32_t firstLength = 0;
    std::int32_t secondLength = 0;
    const std::int32_t total = (real + silence) * static_cast<std::int32_t>(align);
    if (LockSoundBuffer(&player->playerBuffer, w, total, &first, &firstLength, &second,
                        &secondLength) != 0) {
        return;
    }
    if (silence > 0 && player->endPosition == -1) {
        std::int32_t end = w + real * static_cast<std::int32_t>(align);
        if (end > bufferBytes) end -= bufferBytes;
        player->endPosition = end;
        player->lastPlayPosition = static_cast<std::int32_t>(p);
        player->endPassed = 0;
    }
    if (player->endPassed == 1 && real > 0) {
        player->endPassed = 0;
        player->lastPlayPosition = 0;
        player->endPosition = -1;
    }
    player->queuedSamples -= real;

    // Real bytes from the queue, then the silence, first region first.
    const std::int32_t realBytes = real * static_cast<std::int32_t>(align);
    const std::int32_t intoFirst = realBytes < firstLength ? realBytes : firstLength;
    if (intoFirst > 0) ReadRingBuffer(&player->queue, first, intoFirst, 0);
    if (realBytes > intoFirst && second) {
        std::int32_t rest = realBytes - intoFirst;
        if (rest > secondLength) rest = secondLength;
        ReadRingBuffer(&player->queue, second, rest, 0);
    }
    const int fill = player->format.bitsPerSample == 8 ? 127 : 0;
    std::int32_t silenceBytes = silence * static_cast<std::int32_t>(align);
    if (silenceBytes > 0) {
        std::int32_t at = realBytes;
        if (at < firstLength) {
            const std::int32_t part =
                silenceBytes < firstLength - at ? silenceBytes : firstLength - at;
            std::memset(static_cast<unsigned char*>(first) + at, fill, part);
            silenceBytes -= part;
            at = firstLength;
        }
        const std::int32_t inSecond = at - firstLength;
        if (silenceBytes > 0 && second && inSecond < secondLength) {
            const std::int32_t part =
                silenceBytes < secondLength - inSecond ? silenceBytes : secondLength - inSecond;
            std::memset(static_cast<unsigned char*>(second) + inSecond, fill, part);
        }
    }
    UnlockSoundBuffer(&player->playerBuffer, first, firstLength, second, secondLength);
    std::int32_t next = w + total;
    if (next >= bufferBytes) next -= bufferBytes;
    player->writePosition = next;
}

}  // namespace

int FeedSoftSoundPlayers() {
    if (!SoundOutputReady()) return -1;
    HandleTypeRecord& type = SoftSoundType();
    if (!type.registered) return 0;
    // The walk itself is under the lock as well, so that no player leaves the list under it.
    DX_LOCK(&type.lock);
    HandleListNode* node = g_SoundSystem.softSoundPlayerListHead.next;
    while (node && node != &g_SoundSystem.softSoundPlayerListTail) {
        auto* player = static_cast<SoftSoundHandleData*>(node->data);
        node = node->next;
        if (!player || player->playing == 0 || !SoundModuleReady()) continue;
        DX_LOCK(&type.lock);
        FeedPlayer(player);
        DX_UNLOCK(&type.lock);
    }
    DX_UNLOCK(&type.lock);
    return 0;
}

// ---- Time stretch ------------------------------------------------------------------------

TimeStretchConstants ComputeTimeStretchConstants(std::uint32_t rate) {
    const double r = static_cast<double>(rate);
    TimeStretchConstants c;
    c.maxLag = static_cast<std::int64_t>(r * 0.02);
    c.minLag = static_cast<std::int64_t>(r * 0.005);
    c.corrLen = static_cast<std::int64_t>(r * 0.01);
    // At very low rates these come out 0, and a step of no lag and no length would never end.
    if (c.minLag < 1) c.minLag = 1;
    if (c.maxLag - c.minLag < 1) c.maxLag = c.minLag + 1;
    if (c.corrLen < 1) c.corrLen = 1;
    return c;
}

std::int64_t ComputeTimeStretchRatio(std::int64_t sourceCount, std::int64_t destinationCount) {
    if (destinationCount <= 0) return 0;
    const double ratio = static_cast<double>(sourceCount) / static_cast<double>(destinationCount);
    std::int64_t q = static_cast<std::int64_t>(ratio * 512.0);
    // A shrink by less than 1/512 comes out as 512, which would divide by zero: shrink at the
    // least step that can be told apart.
    if (sourceCount > destinationCount && q <= 512) q = 513;
    return q;
}

std::int64_t ComputeTimeStretchStep(std::int64_t q, std::int64_t lag) {
    if (q < 512) return ((q * lag * 512) / (512 - q) + 256) / 512;
    if (q > 512) return ((lag * 262144) / (q - 512) + 256) / 512;
    return lag;
}

namespace {

struct Unsigned8 {
    using Sample = std::uint8_t;
    using Sum = std::int32_t;
    static constexpr Sample kSilence = 128;
    static Sum Add(Sum sum, Sample a, Sample b) {
        const std::int32_t term =
            ((static_cast<std::int32_t>(a) - 128) * (static_cast<std::int32_t>(b) - 128)) / 128;
        return static_cast<Sum>(static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(term));
    }
    static Sample Mix(Sample a, Sample b, std::int64_t i, std::int64_t lag) {
        return static_cast<Sample>(((lag - i) * a + i * b) / lag);
    }
};

struct Signed16 {
    using Sample = std::int16_t;
    using Sum = std::int32_t;
    static constexpr Sample kSilence = 0;
    static Sum Add(Sum sum, Sample a, Sample b) {
        const std::int32_t term = (static_cast<std::int32_t>(a) * b) / 32768;
        return static_cast<Sum>(static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(term));
    }
    static Sample Mix(Sample a, Sample b, std::int64_t i, std::int64_t lag) {
        return static_cast<Sample>(((lag - i) * a + i * b) / lag);
    }
};

struct Float32 {
    using Sample = float;
    using Sum = float;
    static constexpr float kSilence = 0.0f;
    static Sum Add(Sum sum, Sample a, Sample b) { return sum + a * b; }
    static Sample Mix(Sample a, Sample b, std::int64_t i, std::int64_t lag) {
        const float first = static_cast<float>(lag - i) * a;
        const float second = static_cast<float>(i) * b;
        return (first + second) / static_cast<float>(lag);
    }
};

// One channel of a stretch: the channel's samples lie `stride` apart. Phase 1 steps read and
// write without bounds tests; phase 2 steps read silence beyond the source and skip writes beyond
// the destination.
template <typename Traits>
class ChannelStretch {
  public:
    using Sample = typename Traits::Sample;
    using Sum = typename Traits::Sum;

    ChannelStretch(const Sample* x, Sample* y, int stride, std::int64_t s, std::int64_t d,
                   const TimeStretchConstants& c, std::int64_t q, std::int64_t* n)
        : x_(x), y_(y), stride_(stride), s_(s), d_(d), c_(c), q_(q), n_(n) {}

    void Run() {
        std::int64_t sp = 0;
        std::int64_t dp = 0;
        const std::int64_t twoMax = 2 * c_.maxLag;
        if (twoMax < s_) {
            while (dp + twoMax < d_) {
                Step<false>(sp, dp);
                if (sp + twoMax >= s_) break;
            }
        }
        if (dp >= d_) return;
        while (sp < s_) {
            Step<true>(sp, dp);
            if (dp >= d_) return;
        }
        for (std::int64_t k = dp; k < d_; ++k) y_[k * stride_] = Traits::kSilence;
    }

  private:
    template <bool Checked>
    Sample Read(std::int64_t k) const {
        if (Checked && k >= s_) return Traits::kSilence;
        return x_[k * stride_];
    }
    template <bool Checked>
    void Write(std::int64_t k, Sample v) {
        if (Checked && k >= d_) return;
        y_[k * stride_] = v;
    }

    template <bool Checked>
    std::int64_t FindLag(std::int64_t sp) const {
        Sum best = 0;
        std::int64_t lag = c_.minLag;
        auto consider = [&](Sum sum, std::int64_t candidate) {
            if (sum > best) {
                best = sum;
                lag = candidate;
            }
        };
        std::int64_t candidate = c_.minLag;
        if (!Checked) {
            // Four lags at a time: each sum still runs in the order of j, and the lags are
            // weighed in rising order, so the choice is the same as one lag at a time.
            const Sample* a = x_ + sp * stride_;
            for (; candidate + 3 <= c_.maxLag; candidate += 4) {
                const Sample* b = x_ + (sp + candidate) * stride_;
                Sum s0 = 0, s1 = 0, s2 = 0, s3 = 0;
                for (std::int64_t j = 0; j < c_.corrLen; ++j) {
                    const Sample v = a[j * stride_];
                    const Sample* w = b + j * stride_;
                    s0 = Traits::Add(s0, v, w[0]);
                    s1 = Traits::Add(s1, v, w[stride_]);
                    s2 = Traits::Add(s2, v, w[2 * stride_]);
                    s3 = Traits::Add(s3, v, w[3 * stride_]);
                }
                consider(s0, candidate);
                consider(s1, candidate + 1);
                consider(s2, candidate + 2);
                consider(s3, candidate + 3);
            }
            for (; candidate <= c_.maxLag; ++candidate) {
                const Sample* b = x_ + (sp + candidate) * stride_;
                Sum sum = 0;
                for (std::int64_t j = 0; j < c_.corrLen; ++j) {
                    sum = Traits::Add(sum, a[j * stride_], b[j * stride_]);
                }
                consider(sum, candidate);
            }
            return lag;
        }
        for (; candidate <= c_.maxLag; ++candidate) {
            Sum sum = 0;
            for (std::int64_t j = 0; j < c_.corrLen; ++j) {
                sum = Traits::Add(sum, Read<true>(sp + j), Read<true>(sp + candidate + j));
            }
            consider(sum, candidate);
        }
        return lag;
    }

    template <bool Checked>
    void Step(std::int64_t& sp, std::int64_t& dp) {
        const std::int64_t lag = FindLag<Checked>(sp);
        std::int64_t& n = *n_;
        if (s_ < d_) {
            // Stretching: the segment, then a fade from one lag later back into it.
            for (std::int64_t i = 0; i < lag; ++i) {
                const Sample a = Read<Checked>(sp + i);
                Write<Checked>(dp + i, a);
                Write<Checked>(dp + lag + i, Traits::Mix(Read<Checked>(sp + lag + i), a, i, lag));
            }
            if (dp + 2 * lag < d_ && sp + lag < s_) {
                n = ComputeTimeStretchStep(q_, lag);
                std::int64_t k = n - lag;
                if (sp + n > s_) {
                    n = s_ - sp;
                    k = n - lag;
                }
                if (dp + 2 * lag + k > d_) {
                    k = d_ - 2 * lag - dp;
                    n = k + lag;
                }
                for (std::int64_t j = 0; j < k; ++j) {
                    Write<Checked>(dp + 2 * lag + j, Read<Checked>(sp + lag + j));
                }
            }
            sp += n;
            dp += lag + n;
        } else {
            // Shrinking: a fade from the segment into the one a lag later, dropping a lag.
            for (std::int64_t i = 0; i < lag; ++i) {
                Write<Checked>(dp + i, Traits::Mix(Read<Checked>(sp + i),
                                                   Read<Checked>(sp + lag + i), i, lag));
            }
            if (dp + lag < d_ && sp + 2 * lag < s_) {
                n = ComputeTimeStretchStep(q_, lag);
                std::int64_t k = n - lag;
                if (sp + 2 * lag + k > s_) {
                    k = s_ - 2 * lag - sp;
                    n = k + lag;
                }
                if (dp + lag + k > d_) {
                    k = d_ - lag - dp;
                    n = k + lag;
                }
                for (std::int64_t j = 0; j < k; ++j) {
                    Write<Checked>(dp + lag + j, Read<Checked>(sp + 2 * lag + j));
                }
            }
            sp += lag + n;
            dp += n;
        }
    }

    const Sample* x_;
    Sample* y_;
    int stride_;
    std::int64_t s_;
    std::int64_t d_;
    TimeStretchConstants c_;
    std::int64_t q_;
    std::int64_t* n_;
};

template <typename Traits>
void StretchChannels(const SoftSoundHandleData* source, SoftSoundHandleData* destination,
                     const TimeStretchConstants& c, std::int64_t q) {
    using Sample = typename Traits::Sample;
    const int channels = source->format.channels;
    const auto* x = reinterpret_cast<const Sample*>(source->wave.samples);
    auto* y = reinterpret_cast<Sample*>(destination->wave.samples);
    std::int64_t n = 0;  // carried from step to step and from one channel to the next
    for (int channel = 0; channel < channels; ++channel) {
        ChannelStretch<Traits>(x + channel, y + channel, channels, source->wave.sampleCount,
                               destination->wave.sampleCount, c, q, &n)
            .Run();
    }
}

// Two sample-data sounds that a transform may join: different lengths, one format.
bool TransformPair(HandleValue source, HandleValue destination, SoftSoundHandleData** s,
                   SoftSoundHandleData** d) {
    *s = LookupSampleData(source);
    *d = LookupSampleData(destination);
    if (!*s || !*d) return false;
    if ((*s)->wave.sampleCount == (*d)->wave.sampleCount) return false;
    const SoundFormat& a = (*s)->format;
    const SoundFormat& b = (*d)->format;
    return a.formatTag == b.formatTag && a.channels == b.channels &&
           a.samplesPerSec == b.samplesPerSec && a.bitsPerSample == b.bitsPerSample;
}

}  // namespace

int TimeStretchSoftSound(HandleValue source, HandleValue destination) {
    SoftSoundHandleData* s;
    SoftSoundHandleData* d;
    if (!TransformPair(source, destination, &s, &d)) return -1;
    const SoundFormat& f = s->format;
    if (f.formatTag != kSoundFormatPcm && f.formatTag != kSoundFormatFloat) return 0;
    if (f.formatTag == kSoundFormatPcm && f.bitsPerSample != 8 && f.bitsPerSample != 16) return 0;
    if (f.channels != 1 && f.channels != 2) return 0;
    const TimeStretchConstants c = ComputeTimeStretchConstants(f.samplesPerSec);
    const std::int64_t q = ComputeTimeStretchRatio(s->wave.sampleCount, d->wave.sampleCount);
    if (f.formatTag == kSoundFormatFloat) {
        StretchChannels<Float32>(s, d, c, q);
    } else if (f.bitsPerSample == 8) {
        StretchChannels<Unsigned8>(s, d, c, q);
    } else {
        StretchChannels<Signed16>(s, d, c, q);
    }
    return 0;
}

// ---- Resampling --------------------------------------------------------------------------

namespace {

// Window half-width in source samples, and the kernel's resolution per sample.
constexpr std::int64_t kResampleReach = 64;
constexpr std::int32_t kResampleSteps = 128;
// Every distance m a window can reach: |m| < (reach + 1) x steps.
constexpr std::int32_t kResampleWeightSpan = (kResampleReach + 1) * kResampleSteps;

// The sinc weight at a distance of m / 128 samples, with its raised-cosine window, from the sine
// table (every division truncating toward zero).
std::int32_t ResampleWeight(std::int32_t m) {
    const std::int16_t* t = g_SoundSystem.sineTable;
    const std::int32_t denominator = m * 402;
    std::int32_t b;
    if (denominator == 0) {
        b = 16384;
    } else {
        b = static_cast<std::int32_t>(t[static_cast<std::uint16_t>(m * 256)]) * 16384 / denominator;
    }
    const std::int64_t turn = static_cast<std::int64_t>(m) * 65536 / 32896;
    const std::int32_t c = t[static_cast<std::uint16_t>(turn + 16384)];
    return (b * (c * 8192 / 16384 + 8192)) / 16384;
}

template <int Channels>
void ResampleFloat(const float* x, float* y, std::int64_t s, std::int64_t d, const float* weights) {
    std::int64_t i = 0;
    std::int64_t a = 0;
    for (std::int64_t k = 0; k < d; ++k) {
        std::int64_t u0 = a > 0 ? i + 1 - kResampleReach : i - kResampleReach;
        std::int64_t u1 = i + kResampleReach;
        if (u0 < 0) u0 = 0;
        if (u0 >= s) u0 = s - 1;
        if (u1 < 0) u1 = 0;
        if (u1 >= s) u1 = s - 1;
        std::int64_t m = (i - u0) * kResampleSteps + a * kResampleSteps / d;
        float sum[Channels] = {};
        for (std::int64_t u = u0; u <= u1; ++u, m -= kResampleSteps) {
            const float w = weights
                                ? weights[m]
                                : static_cast<float>(ResampleWeight(static_cast<std::int32_t>(m)));
            for (int ch = 0; ch < Channels; ++ch) {
                sum[ch] = sum[ch] + (w * x[u * Channels + ch]) * 0.00006103515625f;
            }
        }
        for (int ch = 0; ch < Channels; ++ch) y[k * Channels + ch] = sum[ch];
        a += s;
        while (a >= d) {
            a -= d;
            ++i;
        }
    }
}

}  // namespace

int ResampleSoftSound(HandleValue source, HandleValue destination) {
    SoftSoundHandleData* s;
    SoftSoundHandleData* d;
    if (!TransformPair(source, destination, &s, &d)) return -1;
    const SoundFormat f = s->format;
    const std::int64_t sourceCount = s->wave.sampleCount;
    const std::int64_t destinationCount = d->wave.sampleCount;
    if (f.formatTag == kSoundFormatPcm) {
        // Other bit depths have no float conversion: nothing to do.
        if (f.bitsPerSample != 8 && f.bitsPerSample != 16) return 0;
        // The work sounds are used at once, so they are made here and now, never by a job.
        const HandleValue first = CreateSoftSound(
            0, f.channels, 32, static_cast<int>(f.samplesPerSec), sourceCount, 1, -1, 0);
        if (first < 0) return -1;
        const HandleValue second = CreateSoftSound(
            0, f.channels, 32, static_cast<int>(f.samplesPerSec), destinationCount, 1, -1, 0);
        if (second < 0) {
            DeleteHandle(first);
            return -1;
        }
        ConvertSoftSoundToFloat(source, first);
        ResampleSoftSound(first, second);
        ConvertSoftSoundFromFloat(second, destination);
        DeleteHandle(first);
        DeleteHandle(second);
        return 0;
    }
    if (f.formatTag != kSoundFormatFloat) return 0;
    std::memset(
        d->wave.samples, 0,
        static_cast<std::size_t>(static_cast<std::uint32_t>(destinationCount)) * f.channels * 4);
    if ((f.channels != 1 && f.channels != 2) || destinationCount == 0) return 0;
    // An empty source has nothing to interpolate: the destination stays silent.
    if (sourceCount <= 0) return 0;
    if (g_SoundSystem.sineTable[16384] != 16384) FillSoundTables();
    // Every weight the windows can ask for, once: W(m) for -span <= m <= span. Without the
    // memory for the table each weight is worked out where it is needed.
    auto* table = static_cast<float*>(DX_ALLOC(sizeof(float) * (2 * kResampleWeightSpan + 1)));
    if (table) {
        for (std::int32_t m = -kResampleWeightSpan; m <= kResampleWeightSpan; ++m) {
            table[m + kResampleWeightSpan] = static_cast<float>(ResampleWeight(m));
        }
    }
    const float* weights = table ? table + kResampleWeightSpan : nullptr;
    const auto* x = reinterpret_cast<const float*>(s->wave.samples);
    auto* y = reinterpret_cast<float*>(d->wave.samples);
    if (f.channels == 1) {
        ResampleFloat<1>(x, y, sourceCount, destinationCount, weights);
    } else {
        ResampleFloat<2>(x, y, sourceCount, destinationCount, weights);
    }
    DX_FREE(table);
    return 0;
}

}  // namespace ZiDaz
