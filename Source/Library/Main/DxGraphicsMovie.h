// Movie graphs: a graph whose pixels are a movie's current frame. The graph loader makes one when
// a source is no readable image but opens as a movie; each draw of the graph first advances its
// movie, whose frame callback copies a new frame in. The graph-handle forms of the movie controls
// are what the runtime's picture commands use.
#pragma once

#include <cstdint>

#include "Main/DxGraphicsGraph.h"
#include "Main/DxMovie.h"

namespace ZiDaz {

// Called by the graph loader on a handle it allocated: opens the source as a movie and sets the
// graph up at the movie's frame size. 0, or -1 (logged).
int SetUpMovieGraph(GraphLoadRequest* request, HandleValue graph, const char16_t* fileName,
                    const void* memory, int size, int textureFlag, int movieOption,
                    void* loadContext);
// A new movie graph shows black (0, 0, 0, 0) until its movie is first drawn. On a load thread the
// graph is still being loaded, so its record is cleared without waiting for that load.
void ClearNewMovieGraph(HandleValue graph, void* loadContext);
// The movie's frame callback: copies the movie's frame into the graph.
int UpdateGraphMovieFrame(MovieHandleData* movie, std::int32_t graph);
// Before a draw (or an image filter) reads a graph: its movie, if any, moves to the frame due now.
void AdvanceGraphMovie(const GraphHandleRecord* graph);

// The movie controls by graph: 0 for a graph without a movie, -1 for a bad graph, else the movie
// operation's own result.
int PlayGraphMovie(HandleValue graph, int playType, int resumeOnly);
int PauseGraphMovie(HandleValue graph, int keepResume);
int SeekGraphMovie(HandleValue graph, int milliseconds);
int SetGraphMovieVolume(int volume, HandleValue graph);
int SetGraphMoviePlaybackRate(HandleValue graph, double rate);
int GetGraphMoviePosition(HandleValue graph);
int IsGraphMoviePlaying(HandleValue graph);
int GetGraphMovieFrameCount(HandleValue graph);
std::int64_t GetGraphMovieFrameTime(HandleValue graph);

}  // namespace ZiDaz
