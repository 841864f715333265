#include "fuzz/SoundFuzzEntry.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "Main/DuZuderConvert.h"
#include "Main/DxFile.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace {

using namespace ZiDaz;

void Check(bool holds) {
    if (!holds) std::abort();
}

// Reads at most this much after each seek: a sound may be long, the input is not.
constexpr std::size_t kReadBudget = 1 << 18;

void ReadSome(SoundConvertState* state, std::vector<unsigned char>& buffer, std::size_t total) {
    std::size_t done = 0;
    while (done < total) {
        const std::size_t ask = buffer.size() < total - done ? buffer.size() : total - done;
        const std::size_t got = ReadConvertedSound(state, buffer.data(), ask);
        Check(got <= ask);
        done += got;
        if (got < ask) {
            Check(IsSoundConversionAtEnd(state) == 1);
            Check(ReadConvertedSound(state, buffer.data(), 1) == 0);
            return;
        }
    }
}

}  // namespace

int RunSoundFuzzInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        EnableLogOutput(0);
        return true;
    }();
    (void)quiet;
    if (!ArePlatformSoundDecodersStarted()) StartPlatformSoundDecoders();
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    MemoryStream* stream = CreateMemoryStream(data + 1, size - 1);
    if (stream == nullptr) return 0;
    StreamReaderBinding binding{*GetMemoryStreamAccess(), stream};
    int skip = 0;
    if (mode & 2) skip |= kSkipVorbis;
    if (mode & 4) skip |= kSkipOpus;
    if (mode & 8) skip |= kSkipAcmWave | kSkipAcmMp3;
    SoundConvertState state;
    std::memset(&state, 0, sizeof(state));
    if (BeginSoundConversion(&state, &binding, skip, (mode & 1) ? 1 : 2, 0) == 0) {
        const SoundFormat format = state.outputFormat;
        Check(format.formatTag == 1 && format.channels > 0 && format.blockAlign > 0);
        const std::int64_t stated = GetConvertedSoundSize(&state);
        SoundFormat wholeFormat;
        void* whole = nullptr;
        std::uint32_t count = 0;
        if (ConvertWholeSound(&state, &wholeFormat, &whole, &count) == 0) {
            Check(static_cast<std::int64_t>(count) <= stated);
            Check(std::memcmp(&wholeFormat, &format, sizeof(format)) == 0);
            if (count > 0) {
                // Every byte handed out is readable.
                unsigned char sum = 0;
                const auto* bytes = static_cast<const unsigned char*>(whole);
                for (std::uint32_t i = 0; i < count; i += 97) sum ^= bytes[i];
                sum ^= bytes[count - 1];
                volatile unsigned char sink = sum;
                (void)sink;
            }
            FreeTrackedMemory(whole);
        }
        std::int64_t loopStart = 0, loopEnd = 0;
        if (GetSoundConversionLoopArea(&state, &loopStart, &loopEnd) == 0) {
            Check(loopStart >= 0 && loopEnd >= 0);
        } else {
            Check(loopStart == -1 && loopEnd == -1);
        }
        std::vector<unsigned char> buffer(4096 + (mode & 0x30) * 37);
        const std::int64_t frames = stated / format.blockAlign;
        const std::int64_t seeks[4][3] = {{0, frames / 2, loopStart},
                                          {frames + 100, 0, frames / 3},
                                          {loopEnd, loopStart, -7},
                                          {frames / 4, frames / 5, 1}};
        SetSoundConversionLoopPoint(&state, loopStart > 0 ? loopStart : frames / 2);
        for (std::int64_t target : seeks[(mode >> 4) & 3]) {
            SeekSoundConversion(&state, target);
            ReadSome(&state, buffer, kReadBudget);
        }
        Check(EndSoundConversion(&state) == 0);
        Check(EndSoundConversion(&state) == -1);
    } else {
        Check(state.open == 0);
    }
    FreeMemoryStream(stream);
    return 0;
}
