// Sound loading: a file image in memory or a path becomes a Sound handle, decoded whole into its
// buffers (shared with clones) or held as a stream sound; and the loop information that comes with
// a sound (the loop text file beside it, the loop area inside it, or the program's setters).
#include <cstring>
#include <limits>

#include "Main/DuZuder.h"
#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderWin.h"
#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz {

namespace {

bool ModuleUp() {
    return g_SoundSystem.initialised != 0 && IsSoundOutputUp() != 0;
}

bool IsSoundHandleValue(HandleValue handle) {
    return handle >= 0 && ((handle & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_SOUND;
}

// The record; a load thread does not wait for the load it is running itself.
SoundHandleData* Record(HandleValue handle, int onLoadThread) {
    if (!IsSoundHandleValue(handle)) return nullptr;
    if (onLoadThread) return reinterpret_cast<SoundHandleData*>(LookupHandleRecord(handle));
    return GetSoundHandleData(handle);
}

std::int32_t Align(const SoundHandleData* d) {
    return d->format.blockAlign ? d->format.blockAlign : 1;
}

std::int64_t LengthInSamples(const SoundHandleData* d) {
    return d->isStream ? d->totalSamples : d->pcmSize / Align(d);
}

// Copies the PCM into every buffer the loader fills.
int CopyPcmIntoBuffers(SoundHandleData* d) {
    for (int i = 0; i < d->bufferCount; ++i) {
        if (d->bufferFlags[i] == 1) continue;
        SoundBuffer* b = &d->buffers[i];
        void* first = nullptr;
        void* second = nullptr;
        std::int32_t firstLength = 0;
        std::int32_t secondLength = 0;
        if (LockSoundBuffer(b, 0, d->pcmSize, &first, &firstLength, &second, &secondLength) != 0) {
            WriteLogTextUtf16(u"サウンドデータの転送に失敗しました_1");
            return -1;
        }
        const auto* pcm = static_cast<const unsigned char*>(d->pcmData);
        if (first && firstLength > 0)
            std::memcpy(first, pcm, static_cast<std::size_t>(firstLength));
        if (second && secondLength > 0) {
            std::memcpy(second, pcm + firstLength, static_cast<std::size_t>(secondLength));
        }
        if (UnlockSoundBuffer(b, first, firstLength, second, secondLength) != 0) {
            WriteLogTextUtf16(u"サウンドデータの転送に失敗しました_2");
            return -1;
        }
    }
    return 0;
}

// Queues a load job for the handle and marks the handle as loading, both under the type's lock so
// that the job cannot finish the load before it is counted.
int QueueSoundJob(HandleValue handle, ASyncLoadJob* job) {
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_SOUND];
    DX_LOCK(&type.lock);
    if (QueueASyncLoadJob(job) != 0) {
        DX_UNLOCK(&type.lock);
        return -1;
    }
    BeginHandleASyncLoad(handle, job->slotIndex);
    DX_UNLOCK(&type.lock);
    return 0;
}

// A load job's end: its result in the handle, the load finished, and a failed load's handle gone.
void EndSoundJob(HandleValue handle, int result, int created) {
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_SOUND];
    DX_LOCK(&type.lock);
    if (HandleHeader* record = LookupHandleRecord(handle)) {
        record->asyncResult = result;
        if (result < 0 && created) record->deleteRequested = 1;
    }
    DX_UNLOCK(&type.lock);
    FinishHandleASyncLoad(handle);
}

template <typename Pack>
ASyncLoadJob* MakeJob(ASyncLoadRunFunction run, Pack pack) {
    int bytes = 0;
    pack(nullptr, &bytes);
    ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
    if (job == nullptr) return nullptr;
    job->run = run;
    int offset = 0;
    pack(job->parameters, &offset);
    return job;
}

bool EndsWithWav(const char16_t* path) {
    std::size_t n = 0;
    while (path[n]) ++n;
    if (n < 3) return false;
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; };
    return lower(path[n - 3]) == u'w' && lower(path[n - 2]) == u'a' && lower(path[n - 1]) == u'v';
}

}  // namespace

// ---- Settings --------------------------------------------------------------------------------

int SetSoundLoadMode(int mode) {
    if (static_cast<unsigned>(mode) > 3) return -1;
    g_SoundSystem.loadMode = mode == 1 ? 0 : mode;
    return 0;
}

int GetSoundLoadMode() {
    return g_SoundSystem.loadMode;
}

namespace {
std::int32_t g_IgnoreLoopInfo = 0;
}

int SetSoundLoadIgnoreLoopInfo(int flag) {
    g_IgnoreLoopInfo = flag;
    return 0;
}

void InitSoundLoadParams(SoundLoadParams* params) {
    const SoundSystemState& s = g_SoundSystem;
    *params = SoundLoadParams{};
    params->keepFlag = 0;
    params->loadMode = s.loadMode;
    params->pitchFlag = s.pitchFlag;
    params->pitchRate = s.pitchRate;
    params->timeStretchFlag = s.timeStretchFlag;
    params->timeStretchRate = s.timeStretchRate;
    params->loopPoint = 0;
    params->loopStart = 0;
    params->ignoreLoopInfo = g_IgnoreLoopInfo;
    params->skipMask = 0;
    params->vorbisSampleWidth = s.vorbisSampleWidth;
    params->movieFlag = 0;
}

// ---- Buffers, images and clones ----------------------------------------------------------------

int CreateSoundBuffers(const SoundFormat* format, int dataSize, int isStream, int count,
                       HandleValue handle, HandleValue source, int onLoadThread) {
    if (!ModuleUp()) return -1;
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr) return -1;
    SoundHandleData* src = nullptr;
    SoundFormat fmt = format ? *format : SoundFormat{};
    if (source != -1) {
        src = Record(source, 0);
        if (src == nullptr || src->isStream) return -1;
        fmt = src->format;
        dataSize = src->pcmSize;
    }
    if (!isStream) {
        int made = 0;
        for (int i = 0; i < count && i < 10; ++i) {
            int result;
            if (i == 0 && src == nullptr) {
                result = SetUpSoundBuffer(&d->buffers[0], dataSize, &fmt, nullptr, 0);
            } else {
                const SoundBuffer* from = src ? &src->buffers[0] : &d->buffers[0];
                result = SetUpSharedSoundBuffer(&d->buffers[i], from, 0);
                if (result != 0) {
                    if (i == 0) {
                        result = SetUpSoundBuffer(&d->buffers[0], dataSize, &fmt, nullptr, 0);
                    } else {
                        break;  // the sound keeps the buffers made so far
                    }
                }
            }
            if (result != 0) {
                for (int j = 0; j < made; ++j) ReleaseSoundBuffer(&d->buffers[j]);
                WriteLogTextUtf16(u"DirectSoundBuffer の作成に失敗しました\n");
                return -1;
            }
            d->bufferFlags[i] = 0;
            ++made;
        }
        d->bufferCount = made;
    } else {
        if (SetUpSoundBuffer(&d->buffers[0], dataSize, &fmt, nullptr, 0) != 0) {
            WriteLogTextUtf16(u"ストリーム風サウンドバッファの作成に失敗しました\n");
            return -1;
        }
        d->bufferCount = 1;
    }
    d->isStream = isStream;
    if (isStream) {
        SoundSystemState& s = g_SoundSystem;
        DX_LOCK(&s.streamListLock);
        InsertHandleListNodeAfter(&s.streamListHead, &d->streamNode, handle, d);
        DX_UNLOCK(&s.streamListLock);
    }
    return 0;
}

int BuildWaveFileImage(void** image, std::uint32_t* imageSize, const SoundFormat* format,
                       int formatSize, const void* pcm, std::uint32_t pcmSize) {
    const std::uint64_t total = 28ull + static_cast<std::uint64_t>(formatSize) + pcmSize;
    auto* out = total <= 0xFFFFFFFFull ? static_cast<unsigned char*>(DX_ALLOC(total)) : nullptr;
    if (out == nullptr) {
        WriteLogTextUtf16(u"仮WAVEファイルイメージ用のメモリ確保に失敗しました\n");
        return -1;
    }
    auto put32 = [](unsigned char* at, std::uint32_t v) {
        at[0] = static_cast<unsigned char>(v);
        at[1] = static_cast<unsigned char>(v >> 8);
        at[2] = static_cast<unsigned char>(v >> 16);
        at[3] = static_cast<unsigned char>(v >> 24);
    };
    std::memcpy(out, "RIFF", 4);
    put32(out + 4, static_cast<std::uint32_t>(total - 8));
    std::memcpy(out + 8, "WAVEfmt ", 8);
    put32(out + 16, static_cast<std::uint32_t>(formatSize));
    std::memset(out + 20, 0, static_cast<std::size_t>(formatSize));
    std::memcpy(out + 20, format, static_cast<std::size_t>(formatSize < 18 ? formatSize : 18));
    std::memcpy(out + 20 + formatSize, "data", 4);
    put32(out + 24 + formatSize, pcmSize);
    if (pcmSize) std::memcpy(out + 28 + formatSize, pcm, pcmSize);
    *image = out;
    *imageSize = static_cast<std::uint32_t>(total);
    return 0;
}

int ReadFileIntoMemory(const char16_t* path, void** image, std::size_t* size, int logOpenFailure) {
    const StreamValue file = StreamOpen(path, 0, 1, 0);
    if (file == 0) {
        if (logOpenFailure) WriteLogFormatUtf16(u"File Open Error : %s", path);
        return -1;
    }
    StreamSeek(file, 0, 2);
    const std::int64_t length = static_cast<std::uint32_t>(StreamTell(file));
    StreamSeek(file, 0, 0);
    void* memory = DX_ALLOC(static_cast<std::size_t>(length) + 1);
    if (memory == nullptr) {
        StreamClose(file);
        WriteLogFormatUtf16(u"File Load : Memory Alloc Error : %s", path);
        return -1;
    }
    const std::size_t got = StreamRead(memory, 1, static_cast<std::size_t>(length), file);
    StreamClose(file);
    *image = memory;
    *size = got;
    return 0;
}

HandleValue CloneSoundHandle(HandleValue handle, int bufferCount) {
    if (!ModuleUp()) return -1;
    SoundHandleData* src = GetSoundHandleData(handle);
    if (src == nullptr || src->isStream) return -1;
    const HandleValue clone = AddSoundHandle(0, src->keep, 0);
    if (clone < 0) return -1;
    src = GetSoundHandleData(handle);
    SoundHandleData* d = GetSoundHandleData(clone);
    d->format = src->format;
    d->pcmData = src->pcmData;
    d->pcmSize = src->pcmSize;
    d->pcmReferenceCount = src->pcmReferenceCount;
    if (d->pcmReferenceCount) ++*d->pcmReferenceCount;
    if (CreateSoundBuffers(nullptr, 0, 0, bufferCount < 10 ? bufferCount : 10, clone, handle, 0) !=
        0) {
        WriteLogTextUtf16(u"複製サウンドの DirectSoundBuffer の作成に失敗しました\n");
        DeleteHandle(clone);
        return -1;
    }
    d->baseFrequency = static_cast<std::int32_t>(d->format.samplesPerSec);
    if (CopyPcmIntoBuffers(d) != 0) {
        DeleteHandle(clone);
        return -1;
    }
    return clone;
}

// ---- Memory-image loads ------------------------------------------------------------------------

HandleValue LoadSoundFromMemoryImage(const void* image, std::size_t size, int bufferCount,
                                     HandleValue joinHandle) {
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    return LoadSoundFromMemoryImageWithParams(&params, 1, -1, image, size, bufferCount, joinHandle,
                                              IsASyncLoadEnabled(), 0);
}

int LoadSoundFromMemoryImageWithParams(const SoundLoadParams* params, int create,
                                       HandleValue handle, const void* image, std::size_t size,
                                       int bufferCount, HandleValue joinHandle, int async,
                                       int onLoadThread) {
    if (!ModuleUp() || params == nullptr) return -1;
    if (create) {
        handle = AddSoundHandle(0, params->keepFlag, 0);
        if (handle < 0) return -1;
    }
    if (async && !onLoadThread) {
        auto pack = [&](std::uint8_t* block, int* offset) {
            PackJobBlock(block, offset, params, sizeof *params);
            PackJobInt(block, offset, create);
            PackJobInt(block, offset, handle);
            PackJobInt64(block, offset, reinterpret_cast<std::intptr_t>(image));
            PackJobInt64(block, offset, static_cast<std::int64_t>(size));
            PackJobInt(block, offset, bufferCount);
            PackJobInt(block, offset, joinHandle);
        };
        ASyncLoadJob* job = MakeJob(RunSoundMemoryImageLoadJob, pack);
        if (job == nullptr || QueueSoundJob(handle, job) != 0) {
            if (job) DX_FREE(job);
            if (create) DeleteHandle(handle);
            return -1;
        }
        return create ? handle : 0;
    }
    SoundLoadParams copy = *params;
    if (LoadSoundMemByMemImageBase(&copy, handle, image, size, bufferCount, joinHandle,
                                   onLoadThread) != 0) {
        if (create) DeleteHandle(handle);
        return -1;
    }
    return create ? handle : 0;
}

void RunSoundMemoryImageLoadJob(ASyncLoadJob* job) {
    int offset = 0;
    const std::uint8_t* p = job->parameters;
    SoundLoadParams params;
    std::memcpy(&params, UnpackJobBlock(p, &offset), sizeof params);
    const int create = UnpackJobInt(p, &offset);
    const HandleValue handle = UnpackJobInt(p, &offset);
    const void* image =
        reinterpret_cast<const void*>(static_cast<std::intptr_t>(UnpackJobInt64(p, &offset)));
    const std::size_t size = static_cast<std::size_t>(UnpackJobInt64(p, &offset));
    const int bufferCount = UnpackJobInt(p, &offset);
    const HandleValue joinHandle = UnpackJobInt(p, &offset);
    const int result =
        LoadSoundMemByMemImageBase(&params, handle, image, size, bufferCount, joinHandle, 1);
    EndSoundJob(handle, result, create);
}

int LoadSoundMemByMemImageBase(SoundLoadParams* params, HandleValue handle, const void* image,
                               std::size_t size, int bufferCount, HandleValue joinHandle,
                               int onLoadThread) {
    if (!ModuleUp() || bufferCount > 10 || image == nullptr) return -1;
    if (bufferCount < 1) bufferCount = 1;
    if (params->pitchFlag || params->timeStretchFlag) {
        const HandleValue soft = LoadSoftSoundWithParams(params, nullptr, image, size, 0);
        if (soft < 0) {
            WriteLogTextUtf16(u"LoadSoundMemByMemImageBase Error 1");
            return -1;
        }
        const int code =
            ApplyLoadPitchAndTimeStretch(handle, params, soft, bufferCount, onLoadThread);
        DeleteHandle(soft);
        if (code < 0) {
            WriteLogFormatUtf16(u"LoadSoundMemByMemImageBase Error %d", -code);
            return -1;
        }
        return 0;
    }
    if (params->loadMode == 0) {
        MemoryStream* memory = CreateMemoryStream(image, size);
        StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
        auto* convert = static_cast<SoundConvertState*>(DX_ALLOC_ZEROED(sizeof(SoundConvertState)));
        if (memory == nullptr || convert == nullptr ||
            BeginSoundConversion(convert, &binding, params->skipMask, params->vorbisSampleWidth,
                                 params->movieFlag) != 0) {
            if (memory) FreeMemoryStream(memory);
            DX_FREE(convert);
            WriteLogTextUtf16(u"音声ファイルのＰＣＭへの変換に失敗しました");
            return -1;
        }
        SoundFormat format{};
        void* pcm = nullptr;
        std::uint32_t pcmSize = 0;
        if (ConvertWholeSound(convert, &format, &pcm, &pcmSize) != 0) {
            EndSoundConversion(convert);
            DX_FREE(convert);
            FreeMemoryStream(memory);
            WriteLogTextUtf16(u"音声ファイルを格納するメモリ領域の確保に失敗しました");
            return -1;
        }
        std::int64_t loopStart = -1;
        std::int64_t loopEnd = -1;
        if (params->loopPoint == params->loopStart && !params->ignoreLoopInfo) {
            GetSoundConversionLoopArea(convert, &loopStart, &loopEnd);
        }
        EndSoundConversion(convert);
        DX_FREE(convert);
        FreeMemoryStream(memory);
        bool stream = false;
        if (loopStart >= 0 && loopEnd >= 0) {
            params->loopPoint = loopStart;
            params->loopStart = loopEnd;
            stream = true;
        } else if (format.avgBytesPerSec == 0 || pcmSize / format.avgBytesPerSec > 180 ||
                   CreateSoundBuffers(&format, static_cast<int>(pcmSize), 0, bufferCount, handle,
                                      -1, onLoadThread) != 0) {
            stream = true;
        }
        if (stream) {
            DX_FREE(pcm);
            params->loadMode = 2;
        } else {
            SoundHandleData* d = Record(handle, onLoadThread);
            d->baseFrequency = static_cast<std::int32_t>(format.samplesPerSec);
            d->pcmReferenceCount = static_cast<std::int32_t*>(DX_ALLOC(sizeof(std::int32_t)));
            if (d->pcmReferenceCount == nullptr) {
                DX_FREE(pcm);
                WriteLogTextUtf16(
                    u"サウンドデータの参照数を保存するメモリ領域の確保に失敗しました");
                return -1;
            }
            d->format = format;
            d->pcmData = pcm;
            d->pcmSize = static_cast<std::int32_t>(pcmSize);
            *d->pcmReferenceCount = 1;
            if (CopyPcmIntoBuffers(d) != 0) return -1;
        }
    }
    if (params->loadMode != 0) {
        if (AddStreamSoundFromMemoryImage(params, image, size, 0, handle, params->loadMode,
                                          joinHandle, onLoadThread) != 0) {
            return -1;
        }
        PrefillStreamSound(handle, onLoadThread);
    }
    if (params->loopPoint != params->loopStart && !params->ignoreLoopInfo) {
        ApplySoundLoopSamples(params->loopPoint, params->loopStart, handle, onLoadThread);
    }
    return 0;
}

// ---- File loads --------------------------------------------------------------------------------

HandleValue LoadBackgroundMusicFile(const char* path) {
    if (path == nullptr) return -1;
    const int units = CountNarrowStringUnits(path);
    char16_t stack[512];
    char16_t* wide = stack;
    int bytes = static_cast<int>(sizeof stack);
    void* heap = nullptr;
    if (units + 16 > 512) {
        bytes = 2 * (units + 16) * 2;
        heap = DX_ALLOC(static_cast<std::size_t>(bytes));
        if (heap == nullptr) return -1;
        wide = static_cast<char16_t*>(heap);
    }
    const std::int32_t narrow = NarrowEncoding ? NarrowEncoding : CharEncoding::Utf8;
    TranscodeString(path, -1, narrow, wide, bytes, CharEncoding::Utf16Le);
    const HandleValue handle = LoadBackgroundMusicFileWide(wide);
    if (heap) DX_FREE(heap);
    return handle;
}

HandleValue LoadBackgroundMusicFileWide(const char16_t* path) {
    if (path == nullptr) return -1;
    const int previous = g_SoundSystem.loadMode;
    g_SoundSystem.loadMode = EndsWithWav(path) ? 3 : 2;
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    const HandleValue handle =
        LoadSoundFromFileWithParams(&params, path, 1, -1, IsASyncLoadEnabled(), 0);
    SetSoundLoadMode(previous);
    return handle;
}

HandleValue LoadSoundFromFileWithParams(const SoundLoadParams* params, const char16_t* path,
                                        int bufferCount, HandleValue joinHandle, int async,
                                        int onLoadThread) {
    if (!ModuleUp() || params == nullptr || path == nullptr) return -1;
    const HandleValue handle = AddSoundHandle(0, params->keepFlag, 0);
    if (handle < 0) return -1;
    char16_t full[1024] = {};
    MakeFullPath(path, full, sizeof full, nullptr);
    if (async && !onLoadThread) {
        auto pack = [&](std::uint8_t* block, int* offset) {
            PackJobBlock(block, offset, params, sizeof *params);
            PackJobInt(block, offset, handle);
            PackJobString(block, offset, full);
            PackJobInt(block, offset, bufferCount);
            PackJobInt(block, offset, joinHandle);
        };
        ASyncLoadJob* job = MakeJob(RunSoundFileLoadJob, pack);
        if (job == nullptr || QueueSoundJob(handle, job) != 0) {
            if (job) DX_FREE(job);
            DeleteHandle(handle);
            return -1;
        }
        return handle;
    }
    SoundLoadParams copy = *params;
    if (LoadSoundFileIntoHandle(&copy, handle, full, bufferCount, joinHandle, onLoadThread) != 0) {
        DeleteHandle(handle);
        return -1;
    }
    return handle;
}

void RunSoundFileLoadJob(ASyncLoadJob* job) {
    int offset = 0;
    const std::uint8_t* p = job->parameters;
    SoundLoadParams params;
    std::memcpy(&params, UnpackJobBlock(p, &offset), sizeof params);
    const HandleValue handle = UnpackJobInt(p, &offset);
    const char16_t* packed = UnpackJobString(p, &offset);
    const int bufferCount = UnpackJobInt(p, &offset);
    const HandleValue joinHandle = UnpackJobInt(p, &offset);
    // The packed path may stand unaligned: copy it unit by unit.
    char16_t path[1024] = {};
    for (std::size_t i = 0; packed && i + 1 < 1024; ++i) {
        std::memcpy(&path[i], reinterpret_cast<const unsigned char*>(packed) + 2 * i, 2);
        if (!path[i]) break;
    }
    const int result = LoadSoundFileIntoHandle(&params, handle, path, bufferCount, joinHandle, 1);
    EndSoundJob(handle, result, 1);
}

int LoadSoundFileIntoHandle(SoundLoadParams* params, HandleValue handle, const char16_t* path,
                            int bufferCount, HandleValue joinHandle, int onLoadThread) {
    if (!ModuleUp()) return -1;
    if (bufferCount > 10) bufferCount = 10;
    if (bufferCount < 1) bufferCount = 1;
    if (params->loopPoint == params->loopStart && !params->ignoreLoopInfo) {
        char16_t loopName[1536];
        MakeLoopTextFileName(path, loopName, sizeof loopName);
        std::int32_t point = 0;
        std::int32_t start = 0;
        if (ReadLoopTextFile(loopName, &point, &start) == 0) {
            params->loopPoint = point;
            params->loopStart = start;
            if (params->loadMode == 0) params->loadMode = 2;
        }
    }
    if (params->pitchFlag || params->timeStretchFlag) {
        SoundLoadParams fresh;
        InitSoundLoadParams(&fresh);
        const HandleValue soft = LoadSoftSoundWithParams(&fresh, path, nullptr, 0, 0);
        if (soft < 0) {
            WriteLogFormatUtf16(u"Sound File Load Error 2 : %s", path);
            return -1;
        }
        const int code =
            ApplyLoadPitchAndTimeStretch(handle, params, soft, bufferCount, onLoadThread);
        DeleteHandle(soft);
        if (code < 0) {
            WriteLogFormatUtf16(u"Sound File Setup Error %d : %s", -code, path);
            return -1;
        }
    } else if (params->loadMode == 0) {
        void* image = nullptr;
        std::size_t size = 0;
        if (ReadFileIntoMemory(path, &image, &size, 1) != 0) {
            WriteLogFormatUtf16(u"Sound File Load Error : %s", path);
            return -1;
        }
        int result = -1;
        if (ModuleUp()) {
            result = LoadSoundMemByMemImageBase(params, handle, image, size, bufferCount, -1,
                                                onLoadThread);
            if (result != 0) WriteLogFormatUtf16(u"Sound File Setup Error : %s", path);
        }
        DX_FREE(image);
        return result;
    } else {
        if (AddStreamSoundFromFile(params, path, 0, handle, params->loadMode, joinHandle,
                                   onLoadThread) != 0) {
            return -1;
        }
        PrefillStreamSound(handle, onLoadThread);
    }
    if (params->loopPoint != params->loopStart && !params->ignoreLoopInfo) {
        ApplySoundLoopSamples(params->loopPoint, params->loopStart, handle, onLoadThread);
    }
    return 0;
}

// ---- Pitch and time stretch at load ------------------------------------------------------------

int ApplyLoadPitchAndTimeStretch(HandleValue handle, const SoundLoadParams* params,
                                 HandleValue source, int bufferCount, int onLoadThread) {
    int channels = 0;
    int bits = 0;
    int rate = 0;
    int isFloat = 0;
    if (GetSoftSoundFormat(source, &channels, &bits, &rate, &isFloat) != 0) return -1;
    const std::int64_t count = GetSoftSoundSampleCount(source);
    HandleValue f = CreateSoftSound(0, channels, 32, rate, count, 1, -1, 0);
    if (f < 0) return -1;
    HandleValue work[4] = {f, -1, -1, -1};
    auto cleanUp = [&work]() {
        for (HandleValue& h : work) {
            if (h >= 0) DeleteHandle(h);
            h = -1;
        }
    };
    if (isFloat ? CopySoftSoundSamples(source, f) != 0 : ConvertSoftSoundToFloat(source, f) != 0) {
        cleanUp();
        return -1;
    }
    HandleValue result = f;
    if (params->pitchFlag) {
        float r = params->pitchRate;
        if (r > 2.0f) {
            const HandleValue t =
                CreateSoftSound(0, channels, 32, rate, GetSoftSoundSampleCount(f) * 2, 1, -1, 0);
            if (t < 0) {
                cleanUp();
                return -2;
            }
            work[1] = t;
            while (r > 2.0f) {
                TimeStretchSoftSound(f, t);
                ResampleSoftSound(t, f);
                r *= 0.5f;
            }
            DeleteHandle(t);
            work[1] = -1;
        }
        const std::int64_t stretched =
            static_cast<std::int64_t>(static_cast<float>(GetSoftSoundSampleCount(f)) * r);
        const HandleValue t2 = CreateSoftSound(0, channels, 32, rate, stretched, 1, -1, 0);
        if (t2 < 0) {
            cleanUp();
            return -3;
        }
        work[2] = t2;
        TimeStretchSoftSound(f, t2);
        ResampleSoftSound(t2, f);
    }
    if (params->timeStretchFlag) {
        const std::int64_t stretched = static_cast<std::int64_t>(
            static_cast<float>(GetSoftSoundSampleCount(f)) * params->timeStretchRate);
        const HandleValue t3 = CreateSoftSound(0, channels, 32, rate, stretched, 1, -1, 0);
        if (t3 < 0) {
            cleanUp();
            return -4;
        }
        work[3] = t3;
        TimeStretchSoftSound(f, t3);
        result = t3;
    }
    auto* sound = reinterpret_cast<SoftSoundHandleData*>(LookupHandleRecord(result));
    if (sound == nullptr || sound->isPlayer) {
        cleanUp();
        return -5;
    }
    void* image = nullptr;
    std::uint32_t imageSize = 0;
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(sound->wave.sampleCount) * sound->format.blockAlign;
    SoundFormat format = sound->format;
    format.extraSize = 0;
    if (bytes > 0xFFFFFFF0ull ||
        BuildWaveFileImage(&image, &imageSize, &format, 18, sound->wave.samples,
                           static_cast<std::uint32_t>(bytes)) != 0) {
        cleanUp();
        return -6;
    }
    SoundLoadParams plain = *params;
    plain.loadMode = 0;
    plain.pitchFlag = 0;
    plain.timeStretchFlag = 0;
    plain.pitchRate = 1.0f;
    plain.timeStretchRate = 1.0f;
    const int loaded = LoadSoundFromMemoryImageWithParams(&plain, 0, handle, image, imageSize,
                                                          bufferCount, -1, 0, onLoadThread);
    DX_FREE(image);
    cleanUp();
    return loaded != 0 ? -7 : 0;
}

// ---- Loop information --------------------------------------------------------------------------

int MakeLoopTextFileName(const char16_t* soundPath, char16_t* out, std::size_t outBytes) {
    if (outBytes < 2) return 0;
    const std::size_t capacity = outBytes / 2 - 1;
    std::size_t length = 0;
    std::size_t dot = static_cast<std::size_t>(-1);
    // Only a "." of the file name counts: one in a folder name would put the loop text beside
    // the folder instead of the sound.
    for (; soundPath[length]; ++length) {
        if (soundPath[length] == u'.') dot = length;
        if (soundPath[length] == u'/' || soundPath[length] == u'\\') {
            dot = static_cast<std::size_t>(-1);
        }
    }
    const std::size_t keep = dot == static_cast<std::size_t>(-1) ? length : dot;
    std::size_t n = 0;
    for (std::size_t i = 0; i < keep && n < capacity; ++i) out[n++] = soundPath[i];
    for (const char16_t* t = u"_loop.txt"; *t && n < capacity; ++t) out[n++] = *t;
    out[n] = 0;
    return 0;
}

int ParseLoopText(const void* bytes, std::size_t size, std::int32_t* loopPoint,
                  std::int32_t* loopStart) {
    if (bytes == nullptr || size < 3) return -1;
    const auto* b = static_cast<const unsigned char*>(bytes);
    std::int32_t encoding = CharEncoding::ShiftJis;
    std::size_t skip = 0;
    if (b[0] == 0xFF && b[1] == 0xFE) {
        encoding = CharEncoding::Utf16Le;
        skip = 2;
    } else if (b[0] == 0xFE && b[1] == 0xFF) {
        encoding = CharEncoding::Utf16Be;
        skip = 2;
    } else if (b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        encoding = CharEncoding::Utf8;
        skip = 3;
    }
    // The text with terminating zeros of its own: the file carries none. Only what fits the
    // 240-unit area can matter, so a longer file is cut first.
    std::size_t take = size - skip;
    if (take > 4096) take = 4096;
    unsigned char source[4096 + 4];
    std::memcpy(source, b + skip, take);
    std::memset(source + take, 0, 4);
    char16_t text[240] = {};
    if (TranscodeString(source, -1, encoding, text, static_cast<int>(sizeof text),
                        CharEncoding::Utf16Le) <= 0) {
        return -1;
    }
    text[239] = 0;
    const char16_t* p = text;
    auto startsWith = [](const char16_t* at, const char* word) {
        for (; *word; ++at, ++word) {
            if (*at != static_cast<char16_t>(*word)) return false;
        }
        return true;
    };
    auto wordLength = [](const char* word) { return std::strlen(word); };
    auto isDigit = [](char16_t c) { return c >= u'0' && c <= u'9'; };
    // From a key: up to "=", up to the first digit, then the digits.
    auto readNumber = [&](const char16_t*& at, std::int64_t* value) -> bool {
        while (*at && *at != u'=') ++at;
        if (!*at) return false;
        while (*at && !isDigit(*at)) ++at;
        if (!*at) return false;
        std::int64_t v = 0;
        while (isDigit(*at)) {
            v = v * 10 + (*at - u'0');
            if (v > std::numeric_limits<std::int32_t>::max()) {
                v = std::numeric_limits<std::int32_t>::max();
            }
            ++at;
        }
        *value = v;
        return true;
    };
    while (*p && *p != u'L') ++p;
    if (!*p || !startsWith(p, "LOOPSTART")) return -1;
    p += wordLength("LOOPSTART");
    std::int64_t first = 0;
    if (!readNumber(p, &first)) return -1;
    if (!*p) return -1;
    ++p;  // the character after the first number is taken with it
    while (*p && *p != u'L') ++p;
    bool isLength;
    if (startsWith(p, "LOOPEND")) {
        isLength = false;
        p += wordLength("LOOPEND");
    } else if (startsWith(p, "LOOPLENGTH")) {
        isLength = true;
        p += wordLength("LOOPLENGTH");
    } else {
        return -1;
    }
    std::int64_t second = 0;
    if (!readNumber(p, &second)) return -1;
    std::int64_t start = isLength ? first + second : second;
    if (start > std::numeric_limits<std::int32_t>::max()) {
        start = std::numeric_limits<std::int32_t>::max();
    }
    if (first >= start) return -1;
    *loopPoint = static_cast<std::int32_t>(first);
    *loopStart = static_cast<std::int32_t>(start);
    return 0;
}

int ReadLoopTextFile(const char16_t* path, std::int32_t* loopPoint, std::int32_t* loopStart) {
    void* image = nullptr;
    std::size_t size = 0;
    if (ReadFileIntoMemory(path, &image, &size, 0) != 0) return -1;
    const int result = ParseLoopText(image, size, loopPoint, loopStart);
    DX_FREE(image);
    return result;
}

int ApplySoundLoopSamples(std::int64_t loopPoint, std::int64_t loopStart, HandleValue handle,
                          int onLoadThread) {
    if (loopPoint >= loopStart) return -1;
    if (SetStreamLoopPoint(loopPoint, handle, onLoadThread) != 0) return -1;
    return SetStreamLoopStart(loopStart, handle, onLoadThread);
}

int SetSoundLoopPoint(std::int64_t sample, HandleValue handle) {
    return SetStreamLoopPoint(sample, handle, 0);
}

int SetSoundLoopPositionMs(std::int64_t ms, HandleValue handle) {
    if (ms == -1) return SetSoundLoopPoint(-1, handle);
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    return SetSoundLoopPoint(
        ConvertMsToSamples(static_cast<std::int32_t>(d->format.samplesPerSec), ms), handle);
}

int SetSoundLoopStart(std::int64_t sample, HandleValue handle) {
    return SetStreamLoopStart(sample, handle, 0);
}

namespace {

// The common front of both loop setters: the lock is held by the caller. The record of a stream
// sound of one file that takes the value, or null.
SoundHandleData* LoopTarget(std::int64_t value, HandleValue handle, int onLoadThread,
                            const char16_t* manyFilesMessage, bool* cleared) {
    *cleared = false;
    SoundHandleData* d = Record(handle, onLoadThread);
    if (d == nullptr) return nullptr;
    if (value != -1 && (value < 0 || value >= LengthInSamples(d))) return nullptr;
    if (value == -1) {
        *cleared = true;
        return d;
    }
    if (!d->isStream) {
        if (onLoadThread || ConvertSoundToStreamSound(handle) != 0) return nullptr;
        d = Record(handle, onLoadThread);
        if (d == nullptr) return nullptr;
    }
    if (d->entryCount >= 2) {
        WriteLogTextUtf16(manyFilesMessage);
        return nullptr;
    }
    return d;
}

}  // namespace

namespace {

// Sets a loop value of a one-file stream under the Sound type's lock: set(sound, its entry,
// whether the value was cleared). message is the refusal for a stream of several files.
template <class Set>
int EditStreamLoop(std::int64_t sample, HandleValue handle, int onLoadThread,
                   const char16_t* message, Set set) {
    if (!ModuleUp()) return -1;
    // A pending load is finished before the lock is taken: the load itself needs the lock.
    if (!onLoadThread && GetSoundHandleData(handle) == nullptr) return -1;
    LockSoundType();
    bool cleared = false;
    SoundHandleData* d = LoopTarget(sample, handle, onLoadThread, message, &cleared);
    if (d != nullptr) set(d, d->entries[0], cleared);
    UnlockSoundType();
    return d != nullptr ? 0 : -1;
}

}  // namespace

int SetStreamLoopPoint(std::int64_t sample, HandleValue handle, int onLoadThread) {
    return EditStreamLoop(sample, handle, onLoadThread,
                          u"二つ以上の音声ファイルから作成されたサウンドハンドルにループ"
                          u"ポイントを指定する事は出来ません\n",
                          [&](SoundHandleData*, StreamSoundEntry& e, bool cleared) {
                              if (cleared) {
                                  e.loopPoint = 0;
                                  e.loopCount = 0;
                              } else {
                                  e.loopPoint = sample;
                                  SetSoundConversionLoopPoint(&e.conversion, sample);
                                  e.loopCount = 255;
                              }
                          });
}

int SetStreamLoopStart(std::int64_t sample, HandleValue handle, int onLoadThread) {
    return EditStreamLoop(
        sample, handle, onLoadThread,
        u"二つ以上の音声ファイルから作成されたサウンドハンドルにループ"
        u"開始位置を指定する事は出来ません\n",
        [&](SoundHandleData* d, StreamSoundEntry& e, bool cleared) {
            if (cleared) {
                e.loopStart = -1;
            } else {
                e.loopStart = sample;
                if (d->decodedBytes > static_cast<std::int64_t>(Align(d)) * sample) {
                    // Decoded past the new loop start: decode again from where the play stands.
                    UpdateStreamPlayPosition(handle, -1, onLoadThread);
                    MoveStreamPosition(d->playBytes, handle, onLoadThread);
                }
            }
        });
}

int ConvertSoundToStreamSound(HandleValue handle) {
    SoundHandleData* d = GetSoundHandleData(handle);
    if (d == nullptr) return -1;
    if (d->isStream) return 0;
    void* image = nullptr;
    std::uint32_t imageSize = 0;
    SoundFormat format = d->format;
    format.extraSize = 0;
    if (d->pcmSize < 0 || BuildWaveFileImage(&image, &imageSize, &format, 18, d->pcmData,
                                             static_cast<std::uint32_t>(d->pcmSize)) != 0) {
        return -1;
    }
    const int volume = GetSoundVolume(0, handle);
    const std::int64_t position = GetSoundPositionBytes(handle);
    const int frequency = GetSoundFrequency(handle);
    const int pan = GetSoundPan(handle);
    // The stream is made first under a handle of its own, so that a failure leaves the sound as
    // it was; only then does it take the sound's handle value.
    const HandleValue stream = AddSoundHandle(0, d->keep, 0);
    MemoryStream* memory = stream >= 0 ? CreateMemoryStream(image, imageSize) : nullptr;
    int result = -1;
    if (memory != nullptr) {
        SoundLoadParams params;
        InitSoundLoadParams(&params);
        StreamReaderBinding binding{*GetMemoryStreamAccess(), memory};
        int stillNeeded = 0;
        result = AddSreamSound(&params, &binding, 0, stream, 0, &stillNeeded, -1, 0);
        FreeMemoryStream(memory);
    }
    DX_FREE(image);
    if (result != 0) {
        if (stream >= 0) DeleteHandle(stream);
        WriteLogTextUtf16(u"ストリームサウンドハンドルの作成に失敗しました\n");
        return -1;
    }
    StopSoundPlayback(handle, 0);
    LockSoundType();
    if (SwapHandleRecords(handle, stream) != 0) {
        UnlockSoundType();
        DeleteHandle(stream);
        WriteLogTextUtf16(u"ストリームサウンドハンドルの作成に失敗しました\n");
        return -1;
    }
    // The lists name their members by handle value: the stream now goes by the sound's.
    SoundHandleData* now = reinterpret_cast<SoundHandleData*>(LookupHandleRecord(handle));
    now->streamNode.value = handle;
    SoundHandleData* old = reinterpret_cast<SoundHandleData*>(LookupHandleRecord(stream));
    if (old->inPlayingList) old->playingNode.value = stream;
    UnlockSoundType();
    DeleteHandle(stream);
    SetSoundVolume(volume, handle);
    if (position > 0) SetSoundPositionBytes(position, handle);
    SetSoundFrequency(frequency, handle);
    SetSoundPan(pan, handle);
    return 0;
}

}  // namespace ZiDaz
