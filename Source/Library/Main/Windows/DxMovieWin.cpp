#include "Main/Windows/DxMovieWin.h"

#include <cstring>

#include "Main/DuZuder.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"
#include "platform/Com.h"

namespace ZiDaz {

std::int32_t MediaFoundationStarted = 0;

namespace {

// {E436EBB3-524F-11CE-9F53-0020AF0BA770}
constexpr CLSID kClsidFilterGraph = {
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// {56A868A9-0AD4-11CE-B03A-0020AF0BA770}
constexpr IID kIidGraphBuilder = {
    0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

void ReleaseInterface(IUnknown** object) {
    if (*object != nullptr) (*object)->Release();
    *object = nullptr;
}

void FreeBuffer(void** buffer) {
    if (*buffer != nullptr) DX_FREE(*buffer);
    *buffer = nullptr;
}

bool PlayedByMediaFoundation(const MovieHandleData* m) {
    return m->mediaFoundation.reader != nullptr;
}

void ReleaseDirectShow(MovieDirectShowState& ds) {
    ReleaseInterface(&ds.audio);
    ReleaseInterface(&ds.seeking);
    ReleaseInterface(&ds.control);
    ReleaseInterface(&ds.graph);
}

}  // namespace

int OpenPlatformMovie(MovieHandleData* m, const char16_t* path, int* width, int* height,
                      void* asyncContext) {
    m->temporaryCopy = 0;
    if (OpenMediaFoundationMovie(m, path, width, height, asyncContext) == 0) return 0;
    m->temporaryCopy = 0;
    return OpenDirectShowMovie(m, path, width, height, asyncContext) == 0 ? 0 : -1;
}

int OpenMediaFoundationMovie(MovieHandleData* m, const char16_t*, int*, int*, void*) {
    MovieMediaFoundationState& mf = m->mediaFoundation;
    m->frameImage.Pixels = nullptr;
    m->callbackCalled = 0;
    mf.rgbBuffer = nullptr;
    mf.yBuffer = nullptr;
    mf.uvBuffer = nullptr;
    mf.lastSampleTime = -1;
    mf.lastSampleFrame = -1;
    EnsureSystemApiTable();
    const SystemApiTable& api = SystemApi;
    if (api.mfplatModule == nullptr || api.mfreadwriteModule == nullptr ||
        api.MFStartup == nullptr || api.MFCreateSourceReaderFromURL == nullptr ||
        api.MFCreateMediaType == nullptr)
        return -1;
    if (!MediaFoundationStarted) {
        MediaFoundationStarted = 1;
        auto startup = reinterpret_cast<HRESULT (*)(ULONG, DWORD)>(api.MFStartup);
        if (FAILED(startup(0x20070, 0))) return -1;
    }
    // The source reader's interfaces are not declared on this platform, whose Media Foundation
    // libraries never load: a movie cannot be read through them.
    return -1;
}

int OpenDirectShowMovie(MovieHandleData* m, const char16_t*, int*, int*, void* asyncContext) {
    MovieDirectShowState& ds = m->directShow;
    m->frameImage.Pixels = nullptr;
    m->callbackCalled = 0;
    void* object = nullptr;
    if (FAILED(WinCoCreateInstance(kClsidFilterGraph, nullptr, 3, kIidGraphBuilder, &object,
                                   asyncContext != nullptr ? 1 : 0)) ||
        object == nullptr) {
        WriteLogTextWide(u"CoCreateInstance Error : CLSID_FilterGraph\n");
        return -1;
    }
    ds.graph = static_cast<IUnknown*>(object);
    // The library's own renderer filter is not built on this platform, so no graph can end in
    // it.
    ReleaseDirectShow(ds);
    WriteLogTextWide(u"Could not add renderer filter to graph!\n");
    return -1;
}

int IsPlatformMoviePlaying(MovieHandleData* m) {
    // Media Foundation, or DirectShow without seeking: the request is the answer.
    return m->playRequested;
}

int GetPlatformMovieFrameCount(MovieHandleData* m) {
    if (PlayedByMediaFoundation(m)) return m->mediaFoundation.frameCount;
    if (m->directShow.seeking != nullptr)
        return static_cast<int>(static_cast<std::uint32_t>(m->directShow.frameCount));
    return -1;
}

std::int64_t GetPlatformMovieFrameTimeUs(MovieHandleData* m) {
    return m->directShow.frameTime / 10;
}

int PausePlatformMovie(MovieHandleData* m) {
    if (PlayedByMediaFoundation(m)) {
        StopSoundPlayback(m->mediaFoundation.sound, 0);
        AdvanceMovieFrame(m->Header.handle);
        return 0;
    }
    return m->directShow.control != nullptr ? 0 : -1;
}

int PlayPlatformMovie(MovieHandleData*, int, int) {
    // Neither player can hold a movie here: there is nothing to run.
    return 0;
}

int SeekPlatformMovieFrame(MovieHandleData*, int) {
    return -1;
}

int SeekPlatformMovieMs(MovieHandleData*, int) {
    return -1;  // DirectShow without seeking
}

int SetPlatformMovieVolume(MovieHandleData* m, int volume) {
    volume = volume < 0 ? 0 : (volume > 10000 ? 10000 : volume);
    if (PlayedByMediaFoundation(m)) return SetSoundVolume(volume, m->mediaFoundation.sound);
    return -1;  // no IBasicAudio
}

int SetPlatformMoviePlayRate(MovieHandleData* m, double rate) {
    if (PlayedByMediaFoundation(m)) {
        m->mediaFoundation.playRate = rate;
        return 0;
    }
    return -1;  // no IMediaSeeking
}

int GetPlatformMoviePositionMs(MovieHandleData*) {
    return -1;
}

int UpdatePlatformMovie(MovieHandleData*) {
    return 0;
}

int ClosePlatformMovie(MovieHandleData* m) {
    MovieMediaFoundationState& mf = m->mediaFoundation;
    if (m->temporaryCopy) {
        WinDeleteFileW(m->path);
        m->temporaryCopy = 0;
    }
    if (mf.sound > 0) DeleteHandle(mf.sound);
    mf.sound = 0;
    ReleaseInterface(&mf.reader);
    ReleaseInterface(&mf.currentType);
    ReleaseInterface(&mf.outputType);
    FreeBuffer(&mf.rgbBuffer);
    FreeBuffer(&mf.yBuffer);
    FreeBuffer(&mf.uvBuffer);
    ReleaseDirectShow(m->directShow);
    m->directShow.renderer = nullptr;
    return 0;
}

int EndPlatformMovies() {
    if (MediaFoundationStarted) {
        MediaFoundationStarted = 0;
        EnsureSystemApiTable();
        if (SystemApi.MFShutdown != nullptr)
            reinterpret_cast<HRESULT (*)()>(SystemApi.MFShutdown)();
    }
    return 0;
}

}  // namespace ZiDaz
