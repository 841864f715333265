#include "Main/DxMovie.h"

#include <cstring>

#include "Main/DuZuder.h"
#include "Main/DuZuderConvert.h"
#include "Main/DxBaseFunc.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxUseCLibOgg.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxMovieWin.h"

namespace ZiDaz {

namespace {

struct MovieSystemState {
    std::int32_t started;
};
MovieSystemState MovieSystem;

// Frame rates are kept as 16.16 fixed point in the clock, so 1,000,000 microseconds x 65,536.
constexpr std::uint64_t kMicrosecondsFixed = 65536000000ULL;

// a x b / c with the product in 128 bits; the low 64 bits of the quotient.
std::uint64_t MultiplyDivide(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    std::uint32_t product[4];
    MultiplyUInt64To128(&a, &b, product);
    std::uint64_t quotient = 0;
    DivideUInt128(product, &c, &quotient);
    return quotient;
}

bool RateIsOne(double rate) {
    return rate >= 0.999999999 && rate <= 1.0000000001;
}

// The movie time that has run since the last reading, scaled by the play rate.
std::int64_t ScaledElapsed(std::int64_t elapsed, double rate) {
    // A clock that went back (or a reading that failed) runs no movie time.
    if (elapsed <= 0) return 0;
    if (RateIsOne(rate)) return elapsed;
    const std::uint64_t r = static_cast<std::uint64_t>(rate * 65536.0);
    return static_cast<std::int64_t>(MultiplyDivide(static_cast<std::uint64_t>(elapsed), r, 65536));
}

std::int64_t FrameStartUs(int frame, double frameRate) {
    return static_cast<std::int64_t>(static_cast<double>(frame) * 1000000.0 / frameRate);
}

MovieHandleData* Record(HandleValue movie) {
    if (movie < 0 || (movie & kHandleTypeMask) >> kHandleTypeShift != DX_HANDLETYPE_MOVIE)
        return nullptr;
    HandleHeader* record = LookupHandleRecord(movie);
    if (record != nullptr && record->asyncPending != 0) {
        if (WaitHandleASyncLoad(movie) != 0) return nullptr;
        record = LookupHandleRecord(movie);
    }
    return reinterpret_cast<MovieHandleData*>(record);
}

// Play steps 3 to 5 for a Theora movie, the platform call for the others.
void BeginPlay(MovieHandleData* m, int playType, int resumeOnly) {
    m->newFrame = 0;
    m->stopped = 0;
    m->playType = playType;
    m->playRequested = 1;
    if (!m->isTheora) {
        PlayPlatformMovie(m, playType, resumeOnly);
        return;
    }
    m->lastClockReading = ReadMicrosecondClock();
    m->playTime = FrameStartUs(GetTheoraCurrentFrame(m->decoder), m->frameRate);
    if (m->sound >= 0) StartSoundPlayback(m->sound, m->soundOutlastsVideo ? playType : 1, 0);
}

// Pauses a running movie; false when the platform player refused.
bool PauseRunning(MovieHandleData* m, int keepRequest) {
    if (m->isTheora) {
        if (m->sound >= 0) StopSoundPlayback(m->sound, 0);
        AdvanceMovieFrame(m->Header.handle);
    } else if (PausePlatformMovie(m) != 0) {
        return false;
    }
    m->stopped = 1;
    if (keepRequest == 0) m->playRequested = 0;
    return true;
}

template <typename Visit>
int ForEachMovie(Visit visit) {
    if (!MovieSystem.started) return -1;
    HandleTypeRecord& type = HandleTypeTable[DX_HANDLETYPE_MOVIE];
    if (type.registered == 0 || type.count == 0) return 0;
    for (int i = type.lowestUsed; i <= type.highestUsed && i < type.max; ++i) {
        HandleHeader* record = type.slots[i];
        if (record == nullptr) continue;
        MovieHandleData* m = Record(record->handle);
        if (m != nullptr) visit(m);
    }
    return 0;
}

void CloseTheoraStream(MovieHandleData* m) {
    if (m->stream == nullptr) return;
    if (m->streamIsMemory)
        FreeMemoryStream(static_cast<MemoryStream*>(m->stream));
    else
        StreamClose(reinterpret_cast<StreamValue>(m->stream));
    m->stream = nullptr;
    m->streamIsMemory = 0;
}

// The movie's Vorbis track as a private sound that DeleteAllSounds leaves alone; -1 for none.
HandleValue LoadSoundTrack(const char16_t* path, const void* image, std::size_t size,
                           void* asyncContext) {
    SoundLoadParams params;
    InitSoundLoadParams(&params);
    params.keepFlag = 1;
    params.movieFlag = 1;
    params.skipMask = kSkipWave | kSkipOpus | kSkipAcmWave | kSkipAcmMp3 | kSkipDirectShowMp3 |
                      kSkipMediaFoundation;
    const int onLoadThread = asyncContext != nullptr ? 1 : 0;
    if (path != nullptr) {
        params.loadMode = static_cast<int>(SoundLoadMode::FileStream);
        return LoadSoundFromFileWithParams(&params, path, 1, -1, 0, onLoadThread);
    }
    params.loadMode = static_cast<int>(SoundLoadMode::MemoryStream);
    return LoadSoundFromMemoryImageWithParams(&params, 1, -1, image, size, 1, -1, 0, onLoadThread);
}

// Open steps 3 to 5: the library's own decoder. False leaves no stream open.
bool OpenTheoraMovie(MovieHandleData* m, const char16_t* path, const void* image,
                     std::size_t imageSize, void* asyncContext) {
    const StreamReaderOps* ops = nullptr;
    if (path != nullptr) {
        const StreamValue stream = StreamOpen(path, 0, 1, 0);
        if (stream != 0) {
            m->stream = reinterpret_cast<void*>(stream);
            m->streamIsMemory = 0;
            ops = GetFileStreamAccess();
        }
    } else if (image != nullptr) {
        m->stream = CreateMemoryStream(image, imageSize);
        m->streamIsMemory = 1;
        ops = GetMemoryStreamAccess();
    }
    if (m->stream != nullptr)
        m->decoder = OpenTheoraDecoder(ops, m->stream, 20, m->options.NoYuvGraphs, asyncContext);
    if (m->decoder == nullptr) {
        CloseTheoraStream(m);
        m->firstFrameShown = 0;
        return false;
    }
    TheoraMovieInfo info;
    GetTheoraMovieInfo(m->decoder, &info);
    m->frameRate = info.framesPerSecond;
    m->frameCount = info.frameCount;
    m->width = info.width;
    m->height = info.height;
    m->duration = static_cast<std::int32_t>(1000.0 / m->frameRate * m->frameCount);
    m->sound = LoadSoundTrack(path, image, imageSize, asyncContext);
    if (m->sound >= 0) {
        m->soundLength = static_cast<std::int32_t>(GetSoundLengthMs(m->sound));
        m->soundFrequency = GetSoundFrequency(m->sound);
    }
    m->soundOutlastsVideo = m->soundLength > m->duration ? 1 : 0;
    m->playRate = 1.0;
    m->isTheora = 1;
    m->currentFrameImage = GetTheoraFrameImage(m->decoder);
    return true;
}

// The Theora frame clock: the frame due now, the sound track's restart at a wrap, and the end of
// a movie that does not loop.
void AdvanceTheoraClock(MovieHandleData* m) {
    if (m->stopped || m->frameCount <= 0) return;
    const std::int64_t now = ReadMicrosecondClock();
    m->playTime += ScaledElapsed(now - m->lastClockReading, m->playRate);
    m->lastClockReading = now;
    const std::uint64_t fixedRate = static_cast<std::uint64_t>(m->frameRate * 65536.0);
    int frame = static_cast<int>(static_cast<std::uint32_t>(
        MultiplyDivide(static_cast<std::uint64_t>(m->playTime), fixedRate, kMicrosecondsFixed)));
    const bool loops = (m->playType & 2) != 0;
    if (frame < 0 || frame >= m->frameCount)
        frame = loops ? frame % m->frameCount : m->frameCount - 1;
    if (frame < 0) frame += m->frameCount;
    const int current = GetTheoraCurrentFrame(m->decoder);
    if (frame != current) {
        m->newFrame = 1;
        int steps = frame - current;
        if (frame < current) {
            steps = m->frameCount - current + frame;
            if (!m->soundOutlastsVideo && m->sound >= 0) StartSoundPlayback(m->sound, 1, 1);
        }
        AdvanceTheoraFrames(m->decoder, steps);
        m->lastFrameChange = now;
    } else if (frame == m->frameCount - 1 && !loops) {
        if (m->sound < 0 || IsSoundPlaying(m->sound) != 1) {
            m->playRequested = 0;
            m->stopped = 1;
        }
    }
}

}  // namespace

int StartMovieSystem() {
    if (MovieSystem.started) return -1;
    if (RegisterHandleType(DX_HANDLETYPE_MOVIE, sizeof(MovieHandleData), kMaxMovieHandles,
                           &InitMovieHandleRecord, &TerminateMovieHandle, nullptr, u"Movie") != 0)
        return -1;
    MovieSystem.started = 1;
    return 0;
}

int ShutdownMovieSystem() {
    if (!MovieSystem.started) return -1;
    EndPlatformMovies();
    UnregisterHandleType(DX_HANDLETYPE_MOVIE);
    MovieSystem.started = 0;
    return 0;
}

int IsMovieSystemStarted() {
    return MovieSystem.started;
}

void InitMovieOpenParams(MovieOpenParams* params) {
    // The library's defaults, which nothing in this program changes.
    params->RightHalfAlpha = 0;
    params->UseAlphaChannel = 0;
    params->NoYuvGraphs = 0;
}

void InitMovieHandleRecord(HandleHeader* record) {
    MovieHandleData* m = reinterpret_cast<MovieHandleData*>(record);
    m->yGraph = -1;
    m->uvGraph = -1;
    m->sound = -1;
    m->mediaFoundation.sound = -1;
}

int TerminateMovieHandle(HandleHeader* record) {
    MovieHandleData* m = reinterpret_cast<MovieHandleData*>(record);
    if (m->yGraph >= 0) DeleteHandle(m->yGraph);
    if (m->uvGraph >= 0) DeleteHandle(m->uvGraph);
    m->yGraph = -1;
    m->uvGraph = -1;
    ClosePlatformMovie(m);
    if (m->isTheora) {
        CloseTheoraDecoder(m->decoder);
        m->decoder = nullptr;
        CloseTheoraStream(m);
        if (m->sound >= 0) DeleteHandle(m->sound);
        m->sound = -1;
        m->isTheora = 0;
        m->currentFrameImage = nullptr;
    }
    if (!m->pixelsBorrowed && m->frameImage.Pixels != nullptr) DX_FREE(m->frameImage.Pixels);
    m->frameImage.Pixels = nullptr;
    return 0;
}

HandleValue OpenMovie(HandleValue graph, const MovieOpenParams* params, const char16_t* path,
                      const void* image, std::size_t imageSize, int* width, int* height,
                      void* asyncContext) {
    const HandleValue handle = AllocateHandle(DX_HANDLETYPE_MOVIE, asyncContext != nullptr, -1);
    if (handle < 0) return -1;
    MovieHandleData* m = reinterpret_cast<MovieHandleData*>(LookupHandleRecord(handle));
    auto fail = [&]() -> HandleValue {
        if (asyncContext != nullptr) FinishHandleASyncLoad(handle);
        DeleteHandle(handle);
        return -1;
    };
    m->graph = graph;
    if (params != nullptr) m->options = *params;
    if (OpenTheoraMovie(m, path, image, imageSize, asyncContext)) {
        if (width) *width = m->width;
        if (height) *height = m->height;
    } else if (path == nullptr) {
        // A movie in memory can only be one the library decodes itself.
        WriteLogTextUtf16(u"ムービーファイルオープン処理時に失敗しました");
        return fail();
    } else if (OpenPlatformMovie(m, path, width, height, asyncContext) != 0) {
        WriteLogTextUtf16(u"ムービーファイルオープン処理時にエラーが発生しました");
        return fail();
    } else {
        m->width = m->frameImage.Width;
        m->height = m->frameImage.Height;
        if (width) *width = m->width;
        if (height) *height = m->height;
        m->currentFrameImage = &m->frameImage;
    }
    m->newFrame = 0;
    m->stopped = 1;
    m->playRequested = 0;
    m->playType = 1;
    if (asyncContext != nullptr) FinishHandleASyncLoad(handle);
    return handle;
}

MovieHandleData* LookupMovieHandle(HandleValue movie) {
    return Record(movie);
}

int StartMoviePlayback(HandleValue movie, int playType, int resumeOnly) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (playType == -1) playType = m->playType;
    if (playType == 0) playType = 1;
    if (!m->stopped || (resumeOnly == 1 && m->playRequested == 0)) return 0;
    BeginPlay(m, playType, resumeOnly);
    return 0;
}

int HaltMoviePlayback(HandleValue movie, int keepRequest) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (m->stopped) return 0;
    PauseRunning(m, keepRequest);
    return 0;
}

int PauseMoviesForDeactivation() {
    return ForEachMovie([](MovieHandleData* m) {
        if (!m->stopped) PauseRunning(m, 1);
    });
}

int ResumeMoviesAfterActivation() {
    return ForEachMovie([](MovieHandleData* m) {
        if (m->stopped && m->playRequested) BeginPlay(m, m->playType == 0 ? 1 : m->playType, 1);
    });
}

int MoveMoviePositionMs(HandleValue movie, int milliseconds) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return SeekPlatformMovieMs(m, milliseconds);
    m->newFrame = 0;
    // Nothing before the start either: the decoder would take it as the first frame.
    if (milliseconds < 0 || milliseconds >= m->duration) return -1;
    SeekTheoraTime(m->decoder, static_cast<std::int64_t>(milliseconds) * 1000);
    m->playTime = FrameStartUs(GetTheoraCurrentFrame(m->decoder), m->frameRate);
    if (m->sound >= 0) {
        if (m->playRequested) StopSoundPlayback(m->sound, 0);
        SetSoundPositionMs(milliseconds, m->sound);
        if (m->playRequested) StartSoundPlayback(m->sound, 1, 0);
    }
    return 0;
}

int GetMoviePositionMs(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return GetPlatformMoviePositionMs(m);
    AdvanceMovieFrame(movie);
    return static_cast<int>(static_cast<double>(GetTheoraCurrentFrame(m->decoder)) * 1000.0 /
                            m->frameRate);
}

int IsMoviePlaying(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return IsPlatformMoviePlaying(m);
    return m->playRequested ? 1 : 0;
}

int GetMovieFrameCount(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return GetPlatformMovieFrameCount(m);
    return m->frameCount;
}

std::int64_t GetMovieFrameTimeUs(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return GetPlatformMovieFrameTimeUs(m);
    return static_cast<int>(1000000.0 / m->frameRate);
}

int SetMovieFrameCallback(HandleValue movie, MovieFrameCallback callback, std::int32_t data) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    m->callback = callback;
    m->callbackData = data;
    return 0;
}

int ChangeMovieSoundVolume(int volume, HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return SetPlatformMovieVolume(m, volume);
    if (m->sound >= 0) SetSoundVolume(volume, m->sound);
    return 0;
}

int SetMoviePlayRate(HandleValue movie, double rate) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return SetPlatformMoviePlayRate(m, rate);
    m->playRate = rate;
    if (m->sound >= 0) SetSoundFrequency(static_cast<int>(m->soundFrequency * rate), m->sound);
    return 0;
}

int InvalidateMovieSurface(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (m->isTheora) FlagTheoraSurfaceLost(m->decoder);
    return 0;
}

int AdvanceMovieFrame(HandleValue movie) {
    MovieHandleData* m = Record(movie);
    if (m == nullptr) return -1;
    if (!m->isTheora) return UpdatePlatformMovie(m);
    AdvanceTheoraClock(m);
    if (m->callback != nullptr) {
        m->callback(m, m->callbackData);
        m->callbackCalled = 1;
    }
    return 0;
}

}  // namespace ZiDaz
