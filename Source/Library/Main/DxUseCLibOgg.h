// The Ogg converters of the sound converter: Ogg Vorbis through vorbisfile (with the loop comments
// "LOOPSTART=" and "LOOPLENGTH=") and Ogg Opus through opusfile, both reading the converter's
// stream through the decoders' callback interfaces; and the Theora movie decoder
// (DxUseCLibOggTheora.cpp).
#pragma once

#include <ogg/ogg.h>
#include <theora/theora.h>

#include <cstdint>

#include "Main/DuZuderConvert.h"
#include "Main/DxBaseImage.h"
#include "Main/DxHandle.h"
#include "Main/DxThread.h"

namespace ZiDaz {

// Bytes per output sample the Vorbis converter writes when asked for 2 (signed 16-bit LE); 1
// gives unsigned 8-bit samples.
inline constexpr int kVorbisBlockBytes = 4096;
inline constexpr int kOpusBlockBytes = 4096;
inline constexpr std::uint32_t kOpusOutputRate = 48000;

int OpenVorbisConversion(SoundConvertState* state);
int FillVorbisBlock(SoundConvertState* state);
int SeekVorbisConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetVorbisConvertedSize(SoundConvertState* state);
int CloseVorbisConversion(SoundConvertState* state);
int GetVorbisLoopArea(SoundConvertState* state, std::int64_t* start, std::int64_t* end);

int OpenOpusConversion(SoundConvertState* state);
int FillOpusBlock(SoundConvertState* state);
int SeekOpusConversion(SoundConvertState* state, std::int64_t sample);
std::int64_t GetOpusConvertedSize(SoundConvertState* state);
int CloseOpusConversion(SoundConvertState* state);

}  // namespace ZiDaz

// ---- Theora movie decoding ---------------------------------------------------------------------
//
// A TheoraMovieDecoder reads an Ogg Theora file through a reader stream, indexes the whole Theora
// stream when it is opened (page table, frame table, keyframe flags), decodes frames ahead on a
// thread of its own into a ring of frame slots, and hands the frame the movie clock asks for to
// the caller as a 32-bit XRGB image, or as a Y graph and a UV graph.

namespace ZiDaz {

enum TheoraDecodeState : std::int32_t {
    TheoraDecodeIdle = 0,  // every slot full and the current frame among them
    TheoraDecodeDecoding = 1,
    TheoraDecodeSeeking = 2,
    TheoraDecodeEnded = 3,    // the thread has left
    TheoraDecodeHolding = 4,  // acknowledges a hold request
};

struct TheoraPageEntry {
    std::int32_t offset;       // file offset of the page
    std::int32_t firstPacket;  // index of the first packet completed after the page was read
    std::int32_t reserved;
    std::int32_t packetCount;  // packets counted to this entry
};

struct TheoraFrameSlot {
    std::int32_t filled;
    std::int32_t packet;  // packet index of the frame held
    std::uint8_t* yPlane;
    std::uint8_t* uvPlane;  // U and V interleaved, U first
    std::int32_t yWidth, yHeight, yPitch;
    std::int32_t uvWidth, uvHeight, uvPitch;  // the pitch is twice the chroma stride
};

struct TheoraMovieInfo {
    double framesPerSecond;
    std::int32_t frameCount;
    std::int32_t width;  // the visible picture
    std::int32_t height;
};

// Fields flagged (L) are guarded by the lock between the caller's thread and the decode thread.
struct TheoraMovieDecoder {
    TracedLock lock;
    std::int32_t threadState;  // (L) TheoraDecodeState
    std::int32_t holdRequest;  // (L)
    std::int32_t exitRequest;  // (L)
    std::int32_t seekRequest;  // (L)
    std::int32_t ready;        // (L) the open has finished; frames are decoded only then
    std::int32_t seekTarget;   // (L) packet index to reposition to
    std::int32_t endOfStream;  // (L) the decode thread ran out of data
    WorkerThread thread;
    StreamReaderOps ops;
    void* stream;
    ogg_sync_state sync;
    ogg_page page;
    ogg_stream_state theoraStream;
    ogg_packet packet;
    theora_info info;
    theora_comment comment;
    theora_state state;
    std::int32_t decoderStarted;  // theora_decode_init succeeded
    std::int32_t streamStarted;   // theoraStream was initialised
    std::int32_t serialNumber;
    TheoraPageEntry* pageTable;
    std::int32_t pageCount;
    std::int32_t pageCapacity;
    std::int32_t* frameTable;
    std::int32_t frameCapacity;
    std::uint8_t* keyframeFlags;
    std::int64_t keyframeCapacity;
    std::int64_t packetCount;
    std::int32_t frameCount;
    std::int32_t currentFrame;  // (L)
    std::int32_t targetPacket;  // (L)
    std::int32_t decodePosition;
    std::int32_t headerCount;
    double frameDuration;
    TheoraFrameSlot* slots;
    std::int32_t slotCount;
    BASEIMAGE rgbImage;
    std::int32_t rgbReady;
    std::int32_t surfaceUsable, surfaceLost;
    std::int32_t surfaceFormat;
    std::int32_t surfaceReady;
    std::int32_t noYuvGraphs;
    HandleValue yGraph, uvGraph;
    std::int32_t graphsReady;
    void* surface;
    void* asyncContext;
};

// Opens a decoder over a stream the caller keeps open; null when the data is not Ogg Theora or
// cannot be set up (logged).
TheoraMovieDecoder* OpenTheoraDecoder(const StreamReaderOps* ops, void* stream, int slotCount,
                                      int noYuvGraphs, void* asyncContext);
int GetTheoraMovieInfo(TheoraMovieDecoder* decoder, TheoraMovieInfo* info);
int GetTheoraCurrentFrame(TheoraMovieDecoder* decoder);
int AdvanceTheoraFrames(TheoraMovieDecoder* decoder, int steps);
int SeekTheoraFrame(TheoraMovieDecoder* decoder, int frame);
int SeekTheoraTime(TheoraMovieDecoder* decoder, std::int64_t microseconds);
// 1 when something was prepared, 0 when nothing was wanted or no frame could be had.
int ConvertTheoraFrame(TheoraMovieDecoder* decoder, int wantRgb, int wantGraphs, int wantSurface,
                       void* asyncContext);
BASEIMAGE* GetTheoraFrameImage(TheoraMovieDecoder* decoder);
HandleValue GetTheoraYGraph(TheoraMovieDecoder* decoder);
HandleValue GetTheoraUvGraph(TheoraMovieDecoder* decoder);
void* GetTheoraFrameSurface(TheoraMovieDecoder* decoder);
int FlagTheoraSurfaceLost(TheoraMovieDecoder* decoder);
int CloseTheoraDecoder(TheoraMovieDecoder* decoder);

// A frame's planes into a 32-bit XRGB image (blue, green, red, 255): the integer tables of the
// base-image module for 4:2:0 layouts, floating point otherwise. Only the part both cover.
int ConvertYuvPlanesToXrgb(const std::uint8_t* yPlane, int yWidth, int yHeight, int yPitch,
                           const std::uint8_t* uvPlane, int uvWidth, int uvHeight, int uvPitch,
                           BASEIMAGE* dest);

// How the decoder makes and fills its Y and UV graphs: a blank graph of one or two 8-bit
// channels, and the transfer of a plane described as a base image into it. They are the graph
// module's own calls unless a test installs others; null puts the graph module's back.
// Deleting goes through DeleteHandle.
struct TheoraGraphOps {
    HandleValue (*CreatePlaneGraph)(int width, int height, int channelCount, void* asyncContext);
    int (*TransferPlane)(HandleValue graph, const BASEIMAGE* plane, void* asyncContext);
};
void SetTheoraGraphOps(const TheoraGraphOps* ops);

}  // namespace ZiDaz
