// Movie handles: the library object behind a graph that shows a movie. Ogg Theora movies are
// decoded by the library's own decoder (Main/DxUseCLibOgg.h) and timed here on the microsecond
// clock, with their Vorbis track as a private sound; every other movie goes by path to the
// platform players (Main/Windows/DxMovieWin.h). The graphics front end opens a movie when it makes
// a graph of a movie file, advances it each time it draws that graph and copies each new frame in
// through the frame callback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"

struct IUnknown;

namespace ZiDaz {

struct TheoraMovieDecoder;

// Copied into every movie at open; all 0 in this program.
struct MovieOpenParams {
    std::int32_t RightHalfAlpha;   // colour in the left half of the frame, alpha in the right
    std::int32_t UseAlphaChannel;  // a 32-bit RGB frame of the platform renderer is ARGB
    std::int32_t NoYuvGraphs;      // the Theora decoder always converts to RGB in software
};

struct MovieHandleData;
using MovieFrameCallback = int (*)(MovieHandleData* movie, std::int32_t data);

// The Media Foundation player's part of the record (interfaces held as IUnknown: only released
// here).
struct MovieMediaFoundationState {
    IUnknown* reader;
    IUnknown* currentType;
    IUnknown* outputType;
    std::uint32_t width, height;
    std::uint32_t rateNumerator, rateDenominator;
    std::uint32_t aspectNumerator, aspectDenominator;
    std::int64_t lastSampleTime;
    std::int32_t lastSampleFrame;
    std::int64_t duration;  // 100-nanosecond units
    std::int32_t frameCount;
    void* rgbBuffer;
    std::int32_t targetFrame;
    std::int64_t lastClockReading, playTime;
    HandleValue sound;
    std::int32_t soundFrequency, soundLength;
    double playRate;
    void* yBuffer;
    void* uvBuffer;
    std::int32_t yWidth, yHeight, yPitch;
    std::int32_t uvWidth, uvHeight, uvPitch;
    std::int32_t rgbReady, graphsReady;
};

// The DirectShow player's part of the record.
struct MovieDirectShowState {
    IUnknown* graph;
    IUnknown* control;
    IUnknown* seeking;
    IUnknown* audio;
    void* renderer;
    std::int64_t frameTime;  // 100-nanosecond units per frame
    std::int64_t frameCount;
};

inline constexpr int kMoviePathUnits = 1536;

struct MovieHandleData {
    HandleHeader Header;
    HandleValue graph;
    std::int32_t playType;  // SoundPlayType of the last play request; bit 1 loops
    std::int32_t isTheora;
    TheoraMovieDecoder* decoder;
    std::int64_t lastClockReading;  // microseconds
    std::int64_t playTime;          // microseconds of movie time played
    std::int32_t duration;          // milliseconds
    std::int32_t frameCount;
    void* stream;
    std::int32_t streamIsMemory;
    double frameRate;
    std::int32_t soundOutlastsVideo;
    std::int32_t firstFrameShown;
    HandleValue sound;
    std::int32_t soundFrequency;
    std::int32_t soundLength;  // milliseconds
    double playRate;
    std::int64_t lastFrameChange;  // microseconds
    std::int64_t stopTime;         // 100-nanosecond units
    std::int32_t width, height;
    MovieOpenParams options;
    std::int32_t playRequested;
    std::int32_t stopped;
    std::int32_t callbackCalled;
    BASEIMAGE frameImage;  // filled by the platform players
    std::int32_t pixelsBorrowed;
    std::int32_t newFrame;
    BASEIMAGE* currentFrameImage;
    HandleValue yGraph, uvGraph;
    MovieFrameCallback callback;
    std::int32_t callbackData;
    MovieMediaFoundationState mediaFoundation;
    MovieDirectShowState directShow;
    std::int32_t temporaryCopy;
    char16_t path[kMoviePathUnits];
};

int StartMovieSystem();
int ShutdownMovieSystem();
int IsMovieSystemStarted();

void InitMovieOpenParams(MovieOpenParams* params);
// A movie from a wide path, or with a null path from a file image in memory that the caller keeps
// for the movie's life. The movie handle, or -1; the frame size through the out pointers.
HandleValue OpenMovie(HandleValue graph, const MovieOpenParams* params, const char16_t* path,
                      const void* image, std::size_t imageSize, int* width, int* height,
                      void* asyncContext);
MovieHandleData* LookupMovieHandle(HandleValue movie);

// playType -1 keeps the last one; resumeOnly 1 plays only a movie still asked to play.
int StartMoviePlayback(HandleValue movie, int playType, int resumeOnly);
int HaltMoviePlayback(HandleValue movie, int keepRequest);
int PauseMoviesForDeactivation();
int ResumeMoviesAfterActivation();
int MoveMoviePositionMs(HandleValue movie, int milliseconds);
int GetMoviePositionMs(HandleValue movie);
int IsMoviePlaying(HandleValue movie);
int GetMovieFrameCount(HandleValue movie);
std::int64_t GetMovieFrameTimeUs(HandleValue movie);
int SetMovieFrameCallback(HandleValue movie, MovieFrameCallback callback, std::int32_t data);
int ChangeMovieSoundVolume(int volume, HandleValue movie);
int SetMoviePlayRate(HandleValue movie, double rate);
int InvalidateMovieSurface(HandleValue movie);
// Brings the movie to the frame due now and runs its frame callback.
int AdvanceMovieFrame(HandleValue movie);

// The Movie type's callbacks.
void InitMovieHandleRecord(HandleHeader* record);
int TerminateMovieHandle(HandleHeader* record);

}  // namespace ZiDaz
