#include "fuzz/LoopTagFuzzEntry.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/shell/Game_SoundManager.h"

int RunLoopTagFuzzInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy: the fuzzer's own buffer may have readable bytes after the input.
    std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(image.get(), data, size);
    const SoundLoopTags tags = ScanLoopTags(image.get(), size);
    if (tags.loopStart < 0 || tags.loopLength < 0) std::abort();
    // Without a tag's first letter in the scanned part nothing may be found.
    if (size == 0 && (tags.loopStart != 0 || tags.loopLength != 0)) std::abort();
    return 0;
}
