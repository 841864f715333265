// The platform movie players: Media Foundation's source reader first, a DirectShow filter graph
// second, for movies the library's own Theora decoder does not take. Neither exists on this
// platform: the Media Foundation open stops at its entry-point check, DirectShow's filter graph
// cannot be created, and every operation answers for a record that holds neither.
#pragma once

#include <cstdint>

#include "Main/DxMovie.h"

namespace ZiDaz {

// Set before the one MFStartup call of the process.
extern std::int32_t MediaFoundationStarted;

int OpenPlatformMovie(MovieHandleData* movie, const char16_t* path, int* width, int* height,
                      void* asyncContext);
int OpenMediaFoundationMovie(MovieHandleData* movie, const char16_t* path, int* width, int* height,
                             void* asyncContext);
int OpenDirectShowMovie(MovieHandleData* movie, const char16_t* path, int* width, int* height,
                        void* asyncContext);
int IsPlatformMoviePlaying(MovieHandleData* movie);
int GetPlatformMovieFrameCount(MovieHandleData* movie);
std::int64_t GetPlatformMovieFrameTimeUs(MovieHandleData* movie);
int PausePlatformMovie(MovieHandleData* movie);
int PlayPlatformMovie(MovieHandleData* movie, int playType, int resumeOnly);
int SeekPlatformMovieFrame(MovieHandleData* movie, int frame);
int SeekPlatformMovieMs(MovieHandleData* movie, int milliseconds);
int SetPlatformMovieVolume(MovieHandleData* movie, int volume);
int SetPlatformMoviePlayRate(MovieHandleData* movie, double rate);
int GetPlatformMoviePositionMs(MovieHandleData* movie);
int UpdatePlatformMovie(MovieHandleData* movie);
int ClosePlatformMovie(MovieHandleData* movie);
int EndPlatformMovies();

}  // namespace ZiDaz
