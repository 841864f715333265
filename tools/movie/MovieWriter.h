// Writers of Ogg Theora movies for fixtures and benchmarks, encoded with libtheora's encoder and
// muxed with libogg, with an optional Vorbis track from libvorbisenc. Every frame's three planes
// carry the frame's number (see FrameMarker below), so that any decoded frame tells which it is.
// The damage options make broken files on request: cut pages, headers only, no Theora stream,
// odd granule positions and a zero frame rate.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velk::movie {

using Bytes = std::vector<std::uint8_t>;

enum class Chroma { k420, k422, k444 };

struct MovieSpec {
    int width = 16;  // coded frame size, each a multiple of 16
    int height = 16;
    // The visible picture at the top left of the frame; 0 takes the whole frame.
    int pictureWidth = 0;
    int pictureHeight = 0;
    int frames = 10;  // 0 writes the headers alone
    std::uint32_t fpsNumerator = 30;
    std::uint32_t fpsDenominator = 1;
    Chroma chroma = Chroma::k420;
    int keyframeInterval = 30;
    int quality = 63;  // 0..63
    // Moving detail and noise beyond the marker blocks, so that frames cost what real frames cost.
    bool textured = false;
    bool video = true;  // false: an Ogg file of the Vorbis track alone
    bool vorbis = false;
    int audioRate = 44100;
    int audioChannels = 2;
    // The Vorbis track's length as a share of the video's (a movie whose sound ends early or runs
    // on past its last frame).
    double audioShare = 1.0;
};

struct MovieDamage {
    int keepPages = -1;           // keep only the first pages of the file (-1: all)
    std::int64_t keepBytes = -1;  // then cut the file to this many bytes (-1: as it is)
    // Granule positions written over those of pages of the Theora stream (index 0 is its first
    // page), with the page checksum made right again.
    std::vector<std::pair<int, std::int64_t>> theoraGranules;
    bool zeroFrameRate = false;  // the identification header's frame-rate numerator set to 0
};

// The whole Ogg file.
Bytes WriteTheoraMovie(const MovieSpec& spec);
Bytes DamageMovie(const Bytes& file, const MovieDamage& damage);

// One Ogg page of a file.
struct OggPageInfo {
    std::size_t offset;
    std::size_t size;  // header and body
    std::uint32_t serial;
    std::int64_t granule;
    bool beginning;
    bool continued;
    int packetsEnded;  // lacing values below 255
};
// The pages of a file up to the first damaged one.
std::vector<OggPageInfo> ListOggPages(const Bytes& file);

// The frame marker: a plane is cut into 8 x 8 blocks in raster order; block b holds the flat
// value kMarkerBase + kMarkerStep * d, where d is the (b % 3)-th hexadecimal digit of the frame
// number (digit 0 the lowest). A plane of fewer than three blocks carries the number modulo 16
// to the power of its block count. Textured frames keep the first three blocks flat.
inline constexpr int kMarkerBase = 40;
inline constexpr int kMarkerStep = 12;
inline constexpr int kMarkerDigits = 3;
// The sample at (x, y) of a plane of the given size for a frame; plane 0 Y, 1 U (Cb), 2 V (Cr).
std::uint8_t MarkerSample(int frame, int plane, int x, int y, int planeWidth, int planeHeight,
                          bool textured);
// The frame number a decoded plane carries (each block's mean rounded to the nearest digit).
int ReadFrameMarker(const std::uint8_t* samples, std::ptrdiff_t stride, int width, int height);
// The largest number a plane of that size can tell apart (16 to the power of its digits).
int MarkerModulus(int width, int height);

// Chroma plane size of a layout for a frame size.
int ChromaWidth(Chroma chroma, int width);
int ChromaHeight(Chroma chroma, int height);

}  // namespace velk::movie
