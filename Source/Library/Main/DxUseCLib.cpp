// The image readers and writers built on the outside libraries: PNG through libpng (the reader
// of what the own decoder refuses, and the writer), JPEG through libjpeg (reader and writer) and
// TIFF through libtiff (reader), each over the library's own streams and files; and two helpers
// of the DirectShow MP3 decode.
//
// libjpeg and libpng report failures by a long jump back into the calling function. Those
// functions therefore hold only plain values, and every pointer they change after the jump point
// is volatile, so that the failure path frees exactly what was allocated.
#include "Main/DxUseCLib.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "Main/DuZuderConvert.h"
#include "Main/DxChar.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderConvertWin.h"
#include "Main/Windows/DxFileWin.h"
#include "platform/DShow.h"

namespace ZiDaz {

namespace {

constexpr std::uint64_t kImageLimit = std::uint64_t(kMaxBaseImageBytes);
// Deflate never packs more than 1,032 bytes into one: a stream shorter than this share of the
// image data it must hold cannot be complete.
constexpr std::uint64_t kMaxDeflateRatio = 1032;

void* Allocate(std::uint64_t size, int line) {
    if (size > kImageLimit) return nullptr;
    return AllocateTrackedMemory(static_cast<std::size_t>(size), "DxUseCLib", line);
}

std::int64_t AccessTell(const ImageReaderAccess& a) {
    return a.Ops->Tell(a.Stream);
}
void AccessSeek(const ImageReaderAccess& a, std::int64_t offset, int origin) {
    a.Ops->Seek(a.Stream, offset, origin);
}
// The bytes from the current position to the end (Tell, seek to the end, Tell, seek back).
std::int64_t BytesToEnd(const ImageReaderAccess& a) {
    const std::int64_t position = AccessTell(a);
    AccessSeek(a, 0, 2);
    const std::int64_t end = AccessTell(a);
    AccessSeek(a, position, 0);
    return end > position ? end - position : 0;
}

// A wide path for the writers: the given one, or the narrow one converted into the buffer.
const char16_t* WidePath(const char16_t* path, const char* narrowPath, char16_t (&buffer)[512]) {
    if (path != nullptr) return path;
    if (narrowPath == nullptr) return nullptr;
    buffer[0] = 0;
    TranscodeString(narrowPath, -1, NarrowEncoding, buffer, sizeof(buffer), WideEncoding);
    return buffer;
}

bool WriteAll(void* file, const void* data, std::size_t size) {
    std::size_t written = 0;
    WriteFileBytes(file, data, size, &written);
    return written == size;
}

// One row of the image as red, green, blue (and alpha) bytes for the writers. Plain formats of
// 8-bit channels at whole bytes are read byte by byte (the values the pixel reader gives them);
// every other format goes through the pixel reader.
void FillRgbRow(BASEIMAGE* image, int y, std::uint8_t* row, bool alpha) {
    const COLORFORMAT& f = image->Format;
    const int bits = f.BytesPerPixel * 8;
    auto whole = [bits](int width, int position) {
        return width == 8 && position % 8 == 0 && position < bits;
    };
    const int channels = alpha ? 4 : 3;
    if (f.FormatKind == 0 && f.ChannelCount == 0 && f.BytesPerPixel >= 3 &&
        image->Pixels != nullptr && whole(f.RedWidth, f.RedPosition) &&
        whole(f.GreenWidth, f.GreenPosition) && whole(f.BlueWidth, f.BluePosition) &&
        (!alpha || whole(f.AlphaWidth, f.AlphaPosition))) {
        const int r = f.RedPosition / 8, g = f.GreenPosition / 8, b = f.BluePosition / 8;
        const int a = alpha ? f.AlphaPosition / 8 : 0;
        const int step = f.BytesPerPixel;
        const std::uint8_t* p =
            static_cast<const std::uint8_t*>(image->Pixels) + std::int64_t(y) * image->Pitch;
        for (int x = 0; x < image->Width; ++x, p += step, row += channels) {
            row[0] = p[r];
            row[1] = p[g];
            row[2] = p[b];
            if (alpha) row[3] = p[a];
        }
        return;
    }
    for (int x = 0; x < image->Width; ++x, row += channels) {
        int red = 0, green = 0, blue = 0, alphaValue = 0;
        ReadBaseImagePixelRgba(image, x, y, &red, &green, &blue, &alphaValue);
        row[0] = static_cast<std::uint8_t>(red);
        row[1] = static_cast<std::uint8_t>(green);
        row[2] = static_cast<std::uint8_t>(blue);
        if (alpha) row[3] = static_cast<std::uint8_t>(alphaValue);
    }
}

}  // namespace

// ============================================================================================
// PNG through libpng
// ============================================================================================

int AttachPngStreamReader(png_structp png, PngStreamRecord* record, ImageReaderAccess* access) {
    record->Access = *access;
    record->Start = AccessTell(*access);
    record->Size = BytesToEnd(*access);
    png_set_read_fn(png, record, PngStreamReadCallback);
    return 0;
}

void PngStreamReadCallback(png_structp png, png_bytep destination, png_size_t length) {
    auto* record = static_cast<PngStreamRecord*>(png_get_io_ptr(png));
    const std::int64_t left = record->Start + record->Size - AccessTell(record->Access);
    if (left < 0 || std::uint64_t(left) < length ||
        (length != 0 &&
         record->Access.Ops->Read(destination, length, 1, record->Access.Stream) != 1)) {
        png_error(png, "Read Error");
    }
}

void PngFileWriteCallback(png_structp png, png_bytep data, png_size_t length) {
    // A short write is a failed file, not a finished one.
    if (!WriteAll(png_get_io_ptr(png), data, length)) png_error(png, "Write Error");
}

namespace {

void PngFlushNothing(png_structp) {}

// The libpng reader's body, after the signature check.
int ReadPngThroughLibpng(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png == nullptr) return -1;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return -1;
    }
    PngStreamRecord record;
    png_bytepp volatile rows = nullptr;
    png_bytep volatile block = nullptr;
    std::uint8_t* volatile pixels = nullptr;
    std::uint8_t* volatile argb = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        if (rows != nullptr) png_free(png, rows);
        if (block != nullptr) png_free(png, block);
        FreeTrackedMemory(pixels);
        FreeTrackedMemory(argb);
        png_destroy_read_struct(&png, &info, nullptr);
        image->Pixels = nullptr;
        return -1;
    }
    AttachPngStreamReader(png, &record, access);
    png_set_sig_bytes(png, 0);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colorType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colorType, &interlace, nullptr, nullptr);
    // The palette and the key as stored, before any transformation.
    png_colorp palette = nullptr;
    int paletteEntries = 0;
    png_get_PLTE(png, info, &palette, &paletteEntries);
    png_bytep alphas = nullptr;
    int alphaCount = 0;
    png_color_16p keyColor = nullptr;
    const bool haveTrns = png_get_tRNS(png, info, &alphas, &alphaCount, &keyColor) != 0;
    // Keys compare with the sample before scaling, and with the high byte of 16-bit samples,
    // as in the own decoder.
    auto keyByte = [depth](png_uint_16 v) {
        return static_cast<std::uint8_t>(depth == 16 ? v >> 8 : v & 0xFF);
    };
    std::uint8_t key[3] = {0, 0, 0};
    if (haveTrns && keyColor != nullptr) {
        if (colorType == PNG_COLOR_TYPE_GRAY) key[0] = keyByte(keyColor->gray);
        if (colorType == PNG_COLOR_TYPE_RGB) {
            key[0] = keyByte(keyColor->red);
            key[1] = keyByte(keyColor->green);
            key[2] = keyByte(keyColor->blue);
        }
    }
    png_set_strip_16(png);
    png_set_packing(png);
    png_set_packswap(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const std::uint64_t rowBytes = png_get_rowbytes(png, info);

    // Sizes in 64 bits within the base images' limit; a stream too short for the image data it
    // claims is refused before anything is allocated.
    const std::uint64_t storedRow =
        (std::uint64_t(width) * depth * png_get_channels(png, info) + 7) / 8 + 1;
    const bool toArgb = (colorType == PNG_COLOR_TYPE_GRAY && haveTrns) ||
                        colorType == PNG_COLOR_TYPE_GRAY_ALPHA ||
                        (colorType == PNG_COLOR_TYPE_RGB && haveTrns);
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
        rowBytes * height > kImageLimit || std::uint64_t(width) * 4 * height > kImageLimit ||
        std::uint64_t(record.Size) * kMaxDeflateRatio + 1024 < storedRow * height / 2) {
        png_destroy_read_struct(&png, &info, nullptr);
        return -1;
    }
    COLORFORMAT& format = image->Format;
    image->Width = static_cast<int>(width);
    image->Height = static_cast<int>(height);
    image->Pitch = static_cast<int>(toArgb ? width * 4 : rowBytes);
    image->MipCount = 0;
    image->ImageCount = 0;
    switch (colorType) {
        case PNG_COLOR_TYPE_PALETTE: {
            InitColorFormatPal8(&format);
            if (haveTrns) {
                format.AlphaWidth = 8;
                format.AlphaPosition = 24;
                format.AlphaMask = 0xFF000000u;
                RecomputeColorFormatUnusedMask(&format);
            }
            const int entries = std::min(paletteEntries, 256);
            for (int i = 0; i < entries; ++i) {
                format.Palette[i][0] = palette[i].blue;
                format.Palette[i][1] = palette[i].green;
                format.Palette[i][2] = palette[i].red;
                format.Palette[i][3] = 0;
                if (haveTrns) format.Palette[i][3] = i < alphaCount ? alphas[i] : 255;
            }
            break;
        }
        case PNG_COLOR_TYPE_GRAY:
            if (haveTrns) {
                InitColorFormatArgb8(&format);
            } else {
                InitColorFormatGray8(&format);
            }
            break;
        case PNG_COLOR_TYPE_RGB:
            if (haveTrns) {
                InitColorFormatArgb8(&format);
            } else {
                InitColorFormatRgb24(&format);
            }
            break;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            InitColorFormatArgb8(&format);
            break;
        default:  // RGBA
            InitColorFormatRgb24(&format);
            format.BytesPerPixel = 4;
            format.BitsPerPixel = 32;
            format.AlphaWidth = 8;
            format.AlphaPosition = 24;
            format.AlphaMask = 0xFF000000u;
            RecomputeColorFormatUnusedMask(&format);
            break;
    }
    if (headerOnly) {
        png_destroy_read_struct(&png, &info, nullptr);
        return 0;
    }

    rows = static_cast<png_bytepp>(png_malloc(png, sizeof(png_bytep) * height));
    block = static_cast<png_bytep>(png_malloc(png, rowBytes * height));
    for (png_uint_32 y = 0; y < height; ++y) rows[y] = block + rowBytes * y;
    png_read_image(png, rows);
    pixels = static_cast<std::uint8_t*>(Allocate(rowBytes * height, __LINE__));
    if (pixels == nullptr) png_error(png, "Out of memory");
    std::memcpy(pixels, block, rowBytes * height);
    png_free(png, block);
    block = nullptr;
    png_free(png, rows);
    rows = nullptr;
    png_read_end(png, nullptr);

    // Samples of 1, 2 and 4 bits came unpacked: scale grey levels to the full range.
    static constexpr std::uint8_t kScale[5] = {1, 0xFF, 0x55, 1, 0x11};
    const bool grey = colorType == PNG_COLOR_TYPE_GRAY;
    const int scale = grey && depth < 8 ? kScale[depth] : 1;
    if (toArgb) {
        argb = static_cast<std::uint8_t*>(Allocate(std::uint64_t(width) * 4 * height, __LINE__));
        if (argb == nullptr) png_error(png, "Out of memory");
        for (png_uint_32 y = 0; y < height; ++y) {
            const std::uint8_t* in = pixels + rowBytes * y;
            std::uint8_t* out = argb + std::uint64_t(width) * 4 * y;
            for (png_uint_32 x = 0; x < width; ++x, out += 4) {
                if (colorType == PNG_COLOR_TYPE_GRAY) {
                    const std::uint8_t s = in[x];
                    out[0] = out[1] = out[2] = static_cast<std::uint8_t>(s * scale);
                    out[3] = s == key[0] ? 0 : 255;
                } else if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
                    out[0] = out[1] = out[2] = in[2 * x];
                    out[3] = in[2 * x + 1];
                } else {
                    const std::uint8_t* p = in + 3 * x;
                    out[0] = p[0];
                    out[1] = p[1];
                    out[2] = p[2];
                    out[3] = (p[2] == key[0] && p[1] == key[1] && p[0] == key[2]) ? 0 : 255;
                }
            }
        }
        FreeTrackedMemory(pixels);
        pixels = argb;
        argb = nullptr;
    } else if (scale != 1) {
        for (png_uint_32 y = 0; y < height; ++y) {
            std::uint8_t* row = pixels + rowBytes * y;
            for (png_uint_32 x = 0; x < width; ++x) {
                row[x] = static_cast<std::uint8_t>(row[x] * scale);
            }
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    image->Pixels = pixels;
    return 0;
}

}  // namespace

int ReadPngImageLibpng(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    std::uint8_t signature[8];
    const bool read = access->Ops->Read(signature, 8, 1, access->Stream) == 1;
    AccessSeek(*access, 0, 0);
    if (!read || png_sig_cmp(signature, 0, 8) != 0) return -1;
    return ReadPngThroughLibpng(access, image, headerOnly);
}

int EncodePngFile(const char16_t* path, const char* narrowPath, BASEIMAGE* image,
                  int compressionLevel) {
    char16_t buffer[512];
    const char16_t* wide = WidePath(path, narrowPath, buffer);
    if (wide == nullptr || image == nullptr) return -1;
    // 1.
    void* file = CreateWriteFile(wide);
    if (file == nullptr) return -1;
    // 2.
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        if (png != nullptr) png_destroy_write_struct(&png, nullptr);
        CloseWriteFile(file);
        return -1;
    }
    const int width = image->Width;
    const int height = image->Height;
    std::uint8_t** volatile rows = nullptr;
    auto freeRows = [&]() {
        if (rows == nullptr) return;
        for (int y = 0; y < height; ++y) FreeTrackedMemory(rows[y]);
        FreeTrackedMemory(rows);
        rows = nullptr;
    };
    if (setjmp(png_jmpbuf(png))) {
        freeRows();
        CloseWriteFile(file);
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    // 3.
    png_set_write_fn(png, file, PngFileWriteCallback, PngFlushNothing);
    png_set_filter(png, 0, 0xF8);
    png_set_compression_level(png, compressionLevel);
    // 4.
    const bool alpha = image->Format.AlphaWidth != 0;
    const int channels = alpha ? 4 : 3;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // 5.
    rows = static_cast<std::uint8_t**>(AllocateTrackedMemoryZeroed(
        sizeof(std::uint8_t*) * static_cast<std::size_t>(height), "DxUseCLib", __LINE__));
    if (rows == nullptr) png_error(png, "Out of memory");
    for (int y = 0; y < height; ++y) {
        auto* row =
            static_cast<std::uint8_t*>(Allocate(std::uint64_t(width) * channels + 1, __LINE__));
        if (row == nullptr) png_error(png, "Out of memory");
        rows[y] = row;
        FillRgbRow(image, y, row, alpha);
    }
    // 6.
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    CloseWriteFile(file);
    freeRows();
    return 0;
}

int WriteBaseImagePngFile(const char16_t* path, BASEIMAGE* image, int compressionLevel) {
    return EncodePngFile(path, nullptr, image, compressionLevel);
}

// ============================================================================================
// JPEG through libjpeg
// ============================================================================================

namespace {

void JpegDiscardMessage(j_common_ptr) {}
void JpegSourceTerm(j_decompress_ptr) {}

JpegStreamSource* SourceOf(j_decompress_ptr decompressor) {
    return reinterpret_cast<JpegStreamSource*>(decompressor->src);
}

void InstallJpegErrorManager(JpegErrorManager* manager) {
    jpeg_std_error(&manager->Standard);
    manager->Standard.error_exit = JpegErrorExit;
    manager->Standard.output_message = JpegDiscardMessage;
}

}  // namespace

void JpegErrorExit(j_common_ptr object) {
    (*object->err->output_message)(object);
    std::longjmp(reinterpret_cast<JpegErrorManager*>(object->err)->Jump, 1);
}

void AttachJpegStreamSource(j_decompress_ptr decompressor, ImageReaderAccess* access) {
    if (decompressor->src == nullptr) {
        auto* source = static_cast<JpegStreamSource*>(
            (*decompressor->mem->alloc_small)(reinterpret_cast<j_common_ptr>(decompressor),
                                              JPOOL_PERMANENT, sizeof(JpegStreamSource)));
        source->Buffer = static_cast<JOCTET*>((*decompressor->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(decompressor), JPOOL_PERMANENT, kJpegBlockBytes));
        decompressor->src = &source->Manager;
    }
    JpegStreamSource* source = SourceOf(decompressor);
    source->Manager.init_source = JpegSourceInit;
    source->Manager.fill_input_buffer = JpegSourceFill;
    source->Manager.skip_input_data = JpegSourceSkip;
    source->Manager.resync_to_restart = jpeg_resync_to_restart;
    source->Manager.term_source = JpegSourceTerm;
    source->Access = *access;
    source->Start = AccessTell(*access);
    source->DataSize = BytesToEnd(*access);
    source->Manager.bytes_in_buffer = 0;
    source->Manager.next_input_byte = nullptr;
}

void JpegSourceInit(j_decompress_ptr decompressor) {
    SourceOf(decompressor)->StartOfFile = 1;
}

boolean JpegSourceFill(j_decompress_ptr decompressor) {
    JpegStreamSource* source = SourceOf(decompressor);
    const std::int64_t left = source->Start + source->DataSize - AccessTell(source->Access);
    // A file image in memory (every load reads one) is handed out in place, all of it at once:
    // libjpeg-turbo decodes on its fast path only while a few kilobytes stay buffered, which
    // 4,096-byte blocks rarely allow.
    if (left > 0 && source->Access.Ops->Read == GetMemoryStreamAccess()->Read) {
        auto* memory = static_cast<MemoryStream*>(source->Access.Stream);
        if (memory->position < memory->size) {
            const std::size_t rest =
                std::min<std::size_t>(memory->size - memory->position, std::size_t(left));
            source->Manager.next_input_byte =
                static_cast<const JOCTET*>(memory->data) + memory->position;
            source->Manager.bytes_in_buffer = rest;
            memory->position += static_cast<std::uint32_t>(rest);
            source->StartOfFile = 0;
            return TRUE;
        }
    }
    std::size_t want = left <= 0 ? 0 : std::size_t(std::min<std::int64_t>(left, kJpegBlockBytes));
    std::size_t got = 0;
    if (want != 0) {
        got = source->Access.Ops->Read(source->Buffer, 1, want, source->Access.Stream);
    }
    if (got == 0) {
        if (source->StartOfFile) ERREXIT(decompressor, JERR_INPUT_EMPTY);
        WARNMS(decompressor, JWRN_JPEG_EOF);
        // A file that ends early is completed with the end-of-image code.
        source->Buffer[0] = 0xFF;
        source->Buffer[1] = JPEG_EOI;
        got = 2;
    }
    source->Manager.next_input_byte = source->Buffer;
    source->Manager.bytes_in_buffer = got;
    source->StartOfFile = 0;
    return TRUE;
}

void JpegSourceSkip(j_decompress_ptr decompressor, long count) {
    if (count <= 0) return;
    JpegStreamSource* source = SourceOf(decompressor);
    while (count > static_cast<long>(source->Manager.bytes_in_buffer)) {
        count -= static_cast<long>(source->Manager.bytes_in_buffer);
        JpegSourceFill(decompressor);
    }
    source->Manager.next_input_byte += count;
    source->Manager.bytes_in_buffer -= static_cast<std::size_t>(count);
}

int ReadJpegImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    // 1.
    std::uint8_t first = 0;
    const bool read = access->Ops->Read(&first, 1, 1, access->Stream) == 1;
    AccessSeek(*access, 0, 0);
    if (!read || first != 0xFF) return -1;
    // 2.
    jpeg_decompress_struct decompressor;
    JpegErrorManager errors;
    std::memset(&decompressor, 0, sizeof(decompressor));
    InstallJpegErrorManager(&errors);
    decompressor.err = &errors.Standard;
    std::uint8_t* volatile pixels = nullptr;
    if (setjmp(errors.Jump)) {
        jpeg_destroy_decompress(&decompressor);
        FreeTrackedMemory(pixels);
        image->Pixels = nullptr;
        return -1;
    }
    // 3.
    jpeg_create_decompress(&decompressor);
    AttachJpegStreamSource(&decompressor, access);
    jpeg_read_header(&decompressor, TRUE);
    // 4.
    if (headerOnly) {
        image->Width = static_cast<int>(decompressor.image_width);
        image->Height = static_cast<int>(decompressor.image_height);
        image->Pitch = 0;
        image->Pixels = nullptr;
        jpeg_destroy_decompress(&decompressor);
        return 0;
    }
    // 5. libjpeg-turbo can store colour as blue, green, red itself: the same pixels as RGB
    // reversed, written straight into the image.
    bool direct = decompressor.out_color_space == JCS_GRAYSCALE;
#ifdef JCS_EXTENSIONS
    if (decompressor.out_color_space == JCS_RGB) {
        decompressor.out_color_space = JCS_EXT_BGR;
        direct = true;
    }
#endif
    jpeg_start_decompress(&decompressor);
    const int components = decompressor.output_components;
    const std::uint64_t width = decompressor.output_width;
    const std::uint64_t height = decompressor.output_height;
    const int n = components == 4 ? 3 : components;
    // Only grey, colour and CMYK come out in a known layout; the size is a 64-bit product.
    if ((components != 1 && components != 3 && components != 4) || width == 0 || height == 0 ||
        width * n * height > kImageLimit) {
        jpeg_destroy_decompress(&decompressor);
        return -1;
    }
    JSAMPARRAY row = (*decompressor.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&decompressor), JPOOL_IMAGE,
        static_cast<JDIMENSION>(width * components), 1);
    pixels = static_cast<std::uint8_t*>(Allocate(width * n * height, __LINE__));
    if (pixels == nullptr) {
        jpeg_destroy_decompress(&decompressor);
        return -1;
    }
    // 6.
    const std::uint64_t pitch = width * n;
    while (direct && decompressor.output_scanline < decompressor.output_height) {
        const std::uint64_t y = decompressor.output_scanline;
        JSAMPROW rows[16];
        const std::uint64_t count = std::min<std::uint64_t>(16, height - y);
        for (std::uint64_t i = 0; i < count; ++i) rows[i] = pixels + (y + i) * pitch;
        if (jpeg_read_scanlines(&decompressor, rows, static_cast<JDIMENSION>(count)) == 0) {
            ERREXIT(&decompressor, JERR_FILE_READ);
        }
    }
    while (decompressor.output_scanline < decompressor.output_height) {
        const std::uint64_t y = decompressor.output_scanline;
        if (jpeg_read_scanlines(&decompressor, row, 1) != 1) ERREXIT(&decompressor, JERR_FILE_READ);
        const JSAMPLE* in = row[0];
        std::uint8_t* out = pixels + y * pitch;
        if (components == 1) {
            std::memcpy(out, in, width);
        } else if (components == 3) {
            for (std::uint64_t x = 0; x < width; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        } else {
            // Inverted CMYK as Adobe stores it.
            for (std::uint64_t x = 0; x < width; ++x, in += 4, out += 3) {
                const int k = in[3];
                out[0] = static_cast<std::uint8_t>(k * in[2] / 255);
                out[1] = static_cast<std::uint8_t>(k * in[1] / 255);
                out[2] = static_cast<std::uint8_t>(k * in[0] / 255);
            }
        }
    }
    // 7.
    jpeg_finish_decompress(&decompressor);
    image->Width = static_cast<int>(width);
    image->Height = static_cast<int>(height);
    image->Pitch = static_cast<int>(pitch);
    image->MipCount = 0;
    image->ImageCount = 0;
    if (components == 1) {
        InitColorFormatGray8(&image->Format);
    } else {
        InitColorFormatRgb24(&image->Format);
    }
    image->Pixels = pixels;
    jpeg_destroy_decompress(&decompressor);
    return 0;
}

void JpegDestInit(j_compress_ptr compressor) {
    auto* destination = reinterpret_cast<JpegFileDestination*>(compressor->dest);
    destination->Buffer = static_cast<JOCTET*>((*compressor->mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(compressor), JPOOL_IMAGE, kJpegBlockBytes));
    destination->Manager.next_output_byte = destination->Buffer;
    destination->Manager.free_in_buffer = kJpegBlockBytes;
}

boolean JpegDestEmpty(j_compress_ptr compressor) {
    auto* destination = reinterpret_cast<JpegFileDestination*>(compressor->dest);
    // A short write is a failed file, not a finished one.
    if (!WriteAll(destination->File, destination->Buffer, kJpegBlockBytes)) {
        ERREXIT(compressor, JERR_FILE_WRITE);
    }
    destination->Manager.next_output_byte = destination->Buffer;
    destination->Manager.free_in_buffer = kJpegBlockBytes;
    return TRUE;
}

void JpegDestTerm(j_compress_ptr compressor) {
    auto* destination = reinterpret_cast<JpegFileDestination*>(compressor->dest);
    const std::size_t used = kJpegBlockBytes - destination->Manager.free_in_buffer;
    if (used != 0 && !WriteAll(destination->File, destination->Buffer, used)) {
        ERREXIT(compressor, JERR_FILE_WRITE);
    }
}

namespace {

// 3 or 4 when the image's rows can go to libjpeg as they are (bytes blue, green, red, and for 4 a
// fourth byte), else 0.
int BorrowedJpegRowSpace(const BASEIMAGE* image) {
#ifdef JCS_EXTENSIONS
    const COLORFORMAT& f = image->Format;
    if (image->Pixels == nullptr || image->Pitch <= 0 || f.FormatKind != 0 || f.ChannelCount != 0 ||
        f.RedMask != 0xFF0000 || f.GreenMask != 0xFF00 || f.BlueMask != 0xFF) {
        return 0;
    }
    if (f.BytesPerPixel == 3 || f.BytesPerPixel == 4) return f.BytesPerPixel;
#else
    (void)image;
#endif
    return 0;
}

}  // namespace

int EncodeJpegFile(const char16_t* path, const char* narrowPath, BASEIMAGE* image, int quality,
                   int /*samplingFlag*/) {
    char16_t buffer[512];
    const char16_t* wide = WidePath(path, narrowPath, buffer);
    if (wide == nullptr || image == nullptr) return -1;
    // 1.
    void* file = CreateWriteFile(wide);
    if (file == nullptr) return -1;
    // 2.
    jpeg_compress_struct compressor;
    JpegErrorManager errors;
    std::memset(&compressor, 0, sizeof(compressor));
    InstallJpegErrorManager(&errors);
    compressor.err = &errors.Standard;
    const int width = image->Width;
    const int height = image->Height;
    // Images whose rows are blue, green, red (and a fourth byte) are handed to libjpeg-turbo as
    // they are: the same samples as the RGB rows built from them, without the copy.
    const int borrowed = BorrowedJpegRowSpace(image);
    JSAMPROW* volatile rows = nullptr;
    auto freeRows = [&]() {
        if (rows == nullptr) return;
        if (borrowed == 0) {
            for (int y = 0; y < height; ++y) FreeTrackedMemory(rows[y]);
        }
        FreeTrackedMemory(rows);
        rows = nullptr;
    };
    if (setjmp(errors.Jump)) {
        freeRows();
        CloseWriteFile(file);
        jpeg_destroy_compress(&compressor);
        return -1;
    }
    // 3.
    jpeg_create_compress(&compressor);
    if (compressor.dest == nullptr) {
        compressor.dest = static_cast<jpeg_destination_mgr*>(
            (*compressor.mem->alloc_small)(reinterpret_cast<j_common_ptr>(&compressor),
                                           JPOOL_PERMANENT, sizeof(JpegFileDestination)));
    }
    auto* destination = reinterpret_cast<JpegFileDestination*>(compressor.dest);
    destination->Manager.init_destination = JpegDestInit;
    destination->Manager.empty_output_buffer = JpegDestEmpty;
    destination->Manager.term_destination = JpegDestTerm;
    destination->File = file;
    // 4.
    compressor.image_width = static_cast<JDIMENSION>(std::max(width, 0));
    compressor.image_height = static_cast<JDIMENSION>(std::max(height, 0));
    compressor.input_components = borrowed == 4 ? 4 : 3;
    compressor.in_color_space = JCS_RGB;
#ifdef JCS_EXTENSIONS
    if (borrowed != 0) compressor.in_color_space = borrowed == 4 ? JCS_EXT_BGRX : JCS_EXT_BGR;
#endif
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, quality, TRUE);
    jpeg_start_compress(&compressor, TRUE);
    // 5.
    rows = static_cast<JSAMPROW*>(AllocateTrackedMemoryZeroed(
        sizeof(JSAMPROW) * static_cast<std::size_t>(height), "DxUseCLib", __LINE__));
    if (rows == nullptr) ERREXIT(&compressor, JERR_OUT_OF_MEMORY);
    for (int y = 0; y < height; ++y) {
        if (borrowed != 0) {
            rows[y] = static_cast<JSAMPLE*>(image->Pixels) + std::int64_t(y) * image->Pitch;
            continue;
        }
        auto* row = static_cast<JSAMPLE*>(Allocate(std::uint64_t(width) * 3 + 1, __LINE__));
        if (row == nullptr) ERREXIT(&compressor, JERR_OUT_OF_MEMORY);
        rows[y] = row;
        FillRgbRow(image, y, row, false);
    }
    // 6.
    jpeg_write_scanlines(&compressor, rows, static_cast<JDIMENSION>(height));
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    CloseWriteFile(file);
    freeRows();
    return 0;
}

int WriteBaseImageJpegFile(const char16_t* path, BASEIMAGE* image, int quality, int samplingFlag) {
    return EncodeJpegFile(path, nullptr, image, quality, samplingFlag);
}

// ============================================================================================
// TIFF through libtiff
// ============================================================================================

namespace {

TiffStreamRecord* RecordOf(thandle_t client) {
    return static_cast<TiffStreamRecord*>(client);
}
int TiffStreamClose(thandle_t) {
    return 0;
}
toff_t TiffStreamSize(thandle_t client) {
    return static_cast<toff_t>(RecordOf(client)->Size);
}
int TiffStreamMap(thandle_t, void**, toff_t*) {
    return 0;
}
void TiffStreamUnmap(thandle_t, void*, toff_t) {}
// libtiff's messages are not shown; its calls report the failures.
int TiffDiscardMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

}  // namespace

tmsize_t TiffStreamRead(thandle_t client, void* buffer, tmsize_t size) {
    TiffStreamRecord* record = RecordOf(client);
    const std::int64_t left = record->Size - AccessTell(record->Access);
    if (size > left) size = static_cast<tmsize_t>(left);
    if (size <= 0) return 0;
    return static_cast<tmsize_t>(
        record->Access.Ops->Read(buffer, 1, static_cast<std::size_t>(size), record->Access.Stream));
}

toff_t TiffStreamSeek(thandle_t client, toff_t offset, int origin) {
    TiffStreamRecord* record = RecordOf(client);
    AccessSeek(record->Access, static_cast<std::int64_t>(offset),
               origin == 1   ? 1
               : origin == 2 ? 2
                             : 0);
    return static_cast<toff_t>(AccessTell(record->Access));
}

tmsize_t TiffStreamWrite(thandle_t, void*, tmsize_t size) {
    return size;
}

int ReadTiffImage(ImageReaderAccess* access, BASEIMAGE* image, int headerOnly) {
    // 1.
    TiffStreamRecord record;
    record.Access = *access;
    {
        const std::int64_t position = AccessTell(*access);
        AccessSeek(*access, 0, 2);
        record.Size = AccessTell(*access);
        AccessSeek(*access, position, 0);
    }
    char order[2];
    if (access->Ops->Read(order, 2, 1, access->Stream) != 1) return -1;
    if (!((order[0] == 'I' && order[1] == 'I') || (order[0] == 'M' && order[1] == 'M'))) {
        return -1;
    }
    AccessSeek(*access, -2, 1);
    // 2. Messages are dropped per open. No single allocation of libtiff's exceeds what a base
    // image may hold, nor 65,536 times the file's bytes (more than any coding packs, bar fax
    // coding of vast blank pages), so that damaged headers cannot make libtiff clear large blocks
    // it never fills.
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) return -1;
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffDiscardMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffDiscardMessage, nullptr);
    const std::uint64_t fileBytes = record.Size > 0 ? std::uint64_t(record.Size) : 0;
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(
                     std::min(kImageLimit, std::max<std::uint64_t>(fileBytes * 65536, 1 << 20))));
    TIFF* tiff =
        TIFFClientOpenExt("Read", "r", &record, TiffStreamRead, TiffStreamWrite, TiffStreamSeek,
                          TiffStreamClose, TiffStreamSize, TiffStreamMap, TiffStreamUnmap, options);
    TIFFOpenOptionsFree(options);
    if (tiff == nullptr) return -1;
    // 3.
    std::uint32_t height = 0, width = 0, rowsPerStrip = 0;
    std::uint16_t bitsPerSample = 0, samplesPerPixel = 0, photometric = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    const bool haveStrips = TIFFGetField(tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) != 0;
    TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    // A strip of 0 rows would never advance: it is the whole height, like a missing tag.
    if (!haveStrips || rowsPerStrip == 0 || rowsPerStrip > height) rowsPerStrip = height;
    // Sizes in 64 bits within the base images' limit; an empty image is no image.
    const std::uint64_t pitch = std::uint64_t(width) * 4;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF ||
        pitch * height > kImageLimit || pitch * rowsPerStrip > kImageLimit) {
        TIFFClose(tiff);
        return -1;
    }
    // 4.
    std::uint8_t* strip = nullptr;
    std::uint8_t* pixels = nullptr;
    if (!headerOnly) {
        strip = static_cast<std::uint8_t*>(Allocate(pitch * rowsPerStrip, __LINE__));
        pixels = static_cast<std::uint8_t*>(Allocate(pitch * height, __LINE__));
        if (strip == nullptr || pixels == nullptr) {
            FreeTrackedMemory(strip);
            FreeTrackedMemory(pixels);
            TIFFClose(tiff);
            return -1;
        }
    }
    // 5.
    image->Width = static_cast<int>(width);
    image->Height = static_cast<int>(height);
    image->Pitch = static_cast<int>(pitch);
    image->MipCount = 0;
    image->ImageCount = 0;
    InitColorFormatArgb8(&image->Format);
    if (headerOnly) {
        TIFFClose(tiff);
        return 0;
    }
    // 6. libtiff hands each strip bottom row first, red in the lowest byte of each pixel.
    for (std::uint32_t r = 0; r < height; r += rowsPerStrip) {
        if (!TIFFReadRGBAStrip(tiff, r, reinterpret_cast<std::uint32_t*>(strip))) {
            FreeTrackedMemory(pixels);
            FreeTrackedMemory(strip);
            TIFFClose(tiff);
            image->Pixels = nullptr;
            return -1;
        }
        const std::uint32_t rows = std::min(rowsPerStrip, height - r);
        for (std::uint32_t i = 0; i < rows; ++i) {
            const std::uint8_t* in = strip + pitch * i;
            std::uint8_t* out = pixels + pitch * (r + rows - 1 - i);
            for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 4) {
                std::uint32_t v;
                std::memcpy(&v, in, 4);
                out[0] = static_cast<std::uint8_t>(TIFFGetB(v));
                out[1] = static_cast<std::uint8_t>(TIFFGetG(v));
                out[2] = static_cast<std::uint8_t>(TIFFGetR(v));
                out[3] = static_cast<std::uint8_t>(TIFFGetA(v));
            }
        }
    }
    TIFFClose(tiff);
    FreeTrackedMemory(strip);
    image->Pixels = pixels;
    return 0;
}

// ============================================================================================
// DirectShow MP3 decode helpers
// ============================================================================================

IPin* FindFilterPinByDirection(IBaseFilter* filter, int direction) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || pins == nullptr) return nullptr;
    IPin* found = nullptr;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (found == nullptr && pins->Next(1, &pin, &fetched) == S_OK && pin != nullptr) {
        PIN_DIRECTION pinDirection;
        if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction) {
            found = pin;
        } else {
            pin->Release();
        }
        pin = nullptr;
    }
    pins->Release();
    return found;
}

int AppendGrabbedSample(IMediaSample* sample, SoundConvertState* state) {
    auto* pcm = ConverterArea<DirectShowMp3ConvertData>(state);
    if (pcm->pcmBuffer == nullptr) return 0;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const LONG length = sample->GetActualDataLength();
    if (data == nullptr || length <= 0) return 0;
    const std::uint64_t needed = std::uint64_t(pcm->pcmSize) + std::uint64_t(length);
    if (needed > pcm->capacity) {
        constexpr std::uint64_t kStep = 0x100000;
        std::uint64_t capacity = pcm->capacity;
        while (capacity < needed) capacity += kStep;
        // The buffer's size is a 32-bit field; a sound that outgrows it is cut off like a
        // failed growth.
        auto* grown = capacity > 0xFFFFFFFFu
                          ? nullptr
                          : static_cast<unsigned char*>(AllocateTrackedMemory(
                                static_cast<std::size_t>(capacity), "DxUseCLib", __LINE__));
        if (grown == nullptr) {
            FreeTrackedMemory(pcm->pcmBuffer);
            pcm->pcmBuffer = nullptr;
            return 0;
        }
        std::memcpy(grown, pcm->pcmBuffer, pcm->pcmSize);
        FreeTrackedMemory(pcm->pcmBuffer);
        pcm->pcmBuffer = grown;
        pcm->capacity = static_cast<std::uint32_t>(capacity);
    }
    std::memcpy(pcm->pcmBuffer + pcm->pcmSize, data, static_cast<std::size_t>(length));
    pcm->pcmSize += static_cast<std::uint32_t>(length);
    return 0;
}

}  // namespace ZiDaz
