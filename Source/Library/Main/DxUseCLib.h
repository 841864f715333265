// The glue around the outside image libraries: libpng's stream and file callbacks, libjpeg's
// source and destination managers and error exit, libtiff's client procedures, and two helpers of
// the DirectShow MP3 decode (the pin search and the sample grabber's callback).
#pragma once

// The library's Windows types come first: libjpeg defines TRUE and FALSE as macros only when
// they are not names already.
#include "Main/DxBaseImage.h"

#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

struct IBaseFilter;
struct IPin;
struct IMediaSample;

namespace ZiDaz {

struct SoundConvertState;

// ---- libpng -----------------------------------------------------------------------------------

// What libpng reads through: the reader access and the bytes from the attach position to the end.
struct PngStreamRecord {
    ImageReaderAccess Access;
    std::int64_t Start;
    std::int64_t Size;
};
int AttachPngStreamReader(png_structp png, PngStreamRecord* record, ImageReaderAccess* access);
// Raises libpng's error "Read Error" when fewer than length bytes remain.
void PngStreamReadCallback(png_structp png, png_bytep destination, png_size_t length);
// Writes to the file handle that is libpng's I/O pointer; a short write raises libpng's error.
void PngFileWriteCallback(png_structp png, png_bytep data, png_size_t length);

// ---- libjpeg ----------------------------------------------------------------------------------

inline constexpr int kJpegBlockBytes = 4096;

// libjpeg's standard error manager followed by the jump buffer JpegErrorExit jumps to.
struct JpegErrorManager {
    jpeg_error_mgr Standard;
    std::jmp_buf Jump;
};
// Formats nothing and jumps back with 1; libjpeg's messages are not shown.
[[noreturn]] void JpegErrorExit(j_common_ptr object);

struct JpegStreamSource {
    jpeg_source_mgr Manager;
    JOCTET* Buffer;  // kJpegBlockBytes
    int StartOfFile;
    ImageReaderAccess Access;
    std::int64_t Start;     // stream position at attach time
    std::int64_t DataSize;  // bytes from there to the end
};
void AttachJpegStreamSource(j_decompress_ptr decompressor, ImageReaderAccess* access);
void JpegSourceInit(j_decompress_ptr decompressor);
boolean JpegSourceFill(j_decompress_ptr decompressor);
void JpegSourceSkip(j_decompress_ptr decompressor, long count);

struct JpegFileDestination {
    jpeg_destination_mgr Manager;
    void* File;
    JOCTET* Buffer;  // kJpegBlockBytes, from the per-image pool
};
void JpegDestInit(j_compress_ptr compressor);
boolean JpegDestEmpty(j_compress_ptr compressor);
void JpegDestTerm(j_compress_ptr compressor);

// ---- libtiff ----------------------------------------------------------------------------------

struct TiffStreamRecord {
    ImageReaderAccess Access;
    std::int64_t Size;  // the end position, measured at open
};
tmsize_t TiffStreamRead(thandle_t client, void* buffer, tmsize_t size);
toff_t TiffStreamSeek(thandle_t client, toff_t offset, int origin);
tmsize_t TiffStreamWrite(thandle_t client, void* buffer, tmsize_t size);

// ---- DirectShow MP3 decode --------------------------------------------------------------------

// The filter's first pin of the direction (0 input, 1 output) with a reference for the caller;
// null when there is none or the pins cannot be enumerated.
IPin* FindFilterPinByDirection(IBaseFilter* filter, int direction);
// The sample grabber's callback: appends the sample's bytes to the conversion's PCM buffer,
// growing it in steps of 1 MiB; a failed growth frees the buffer and drops later samples.
// Returns 0.
int AppendGrabbedSample(IMediaSample* sample, SoundConvertState* state);

}  // namespace ZiDaz
