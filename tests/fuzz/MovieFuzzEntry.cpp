#include "fuzz/MovieFuzzEntry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Main/DxBaseImage.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxUseCLibOgg.h"

namespace {

using namespace ZiDaz;

void Check(bool holds) {
    if (!holds) std::abort();
}

// The frame size a Theora identification header in the data declares, in macroblocks; 0 when
// there is none.
long DeclaredMacroblocks(const std::uint8_t* data, std::size_t size) {
    long largest = 0;
    for (std::size_t i = 0; i + 14 <= size; ++i) {
        if (std::memcmp(data + i, "\x80theora", 7) != 0) continue;
        const long width = data[i + 10] << 8 | data[i + 11];
        const long height = data[i + 12] << 8 | data[i + 13];
        if (width * height > largest) largest = width * height;
    }
    return largest;
}

void ConvertAndCheck(TheoraMovieDecoder* decoder) {
    ConvertTheoraFrame(decoder, 1, 1, 1, nullptr);
    const BASEIMAGE* image = GetTheoraFrameImage(decoder);
    Check(image != nullptr && image->Pixels != nullptr);
    // Every row of the image is readable.
    unsigned sum = 0;
    for (int y = 0; y < image->Height; ++y)
        sum += static_cast<const std::uint8_t*>(image->Pixels)[y * image->Pitch];
    volatile unsigned sink = sum;
    (void)sink;
    const int frame = GetTheoraCurrentFrame(decoder);
    TheoraMovieInfo info;
    GetTheoraMovieInfo(decoder, &info);
    Check(frame >= 0 && frame < info.frameCount);
}

}  // namespace

int RunMovieFuzzInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        EnableLogOutput(0);
        if (BaseImageModuleState.Initialised == 0) InitBaseImageModule();
        return true;
    }();
    (void)ready;
    if (size < 1) return 0;
    if (DeclaredMacroblocks(data + 1, size - 1) > 32 * 32) return 0;
    const std::uint8_t mode = data[0];
    static const int kSlots[4] = {20, 1, 2, 5};
    MemoryStream* stream = CreateMemoryStream(data + 1, size - 1);
    if (stream == nullptr) return 0;
    const int blocksBefore = GetTrackedMemoryCount();
    TheoraMovieDecoder* decoder = OpenTheoraDecoder(GetMemoryStreamAccess(), stream,
                                                    kSlots[mode & 3], (mode >> 2) & 1, nullptr);
    if (decoder != nullptr) {
        TheoraMovieInfo info;
        Check(GetTheoraMovieInfo(decoder, &info) == 0);
        Check(info.frameCount > 0);
        const int pattern = (mode >> 3) & 7;
        ConvertAndCheck(decoder);
        AdvanceTheoraFrames(decoder, 1 + pattern);
        ConvertAndCheck(decoder);
        AdvanceTheoraFrames(decoder, info.frameCount);
        ConvertAndCheck(decoder);
        SeekTheoraFrame(decoder, info.frameCount - 1 - pattern);
        ConvertAndCheck(decoder);
        AdvanceTheoraFrames(decoder, 1);
        ConvertAndCheck(decoder);
        if (pattern & 1) {
            SeekTheoraTime(decoder, 1000000LL * pattern);
            ConvertAndCheck(decoder);
        }
        if (pattern & 2) {
            SeekTheoraFrame(decoder, info.frameCount / 2);
            ConvertAndCheck(decoder);
        }
        CloseTheoraDecoder(decoder);
    }
    Check(GetTrackedMemoryCount() == blocksBefore);
    FreeMemoryStream(stream);
    return 0;
}
