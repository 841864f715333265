#include "fuzz/FontDataFuzzEntry.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "Main/DxFont.h"
#include "Main/DxMemory.h"

namespace {

using namespace ZiDaz;

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int RunFontDataFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    if (!FontSystemState.initialised) StartFontSystem();
    const int edge = (data[0] & 7) - 1;
    // The image in a block of its own size, so that a read past it is caught.
    std::vector<std::uint8_t> image(data + 1, data + size);
    const int blocks = GetTrackedMemoryCount();
    FontCreateParams params;
    InitFontCreateParams(&params);
    HandleValue h =
        CreateFontFromData(&params, image.data(), static_cast<int>(image.size()), edge, -1, 0);
    if (h >= 0) {
        FontHandleData* font = ResolveFontHandle(h);
        if (font == nullptr || !font->fromData) std::abort();
        const auto* header = static_cast<const std::uint8_t*>(font->dataHeader);
        const std::uint32_t count = Le32(header + 16);
        std::vector<std::uint32_t> codes, selectors;
        for (std::uint32_t i = 0; i < count; ++i) {
            codes.push_back(Le32(static_cast<const std::uint8_t*>(font->dataGlyphTable) + 32 * i));
            selectors.push_back(0);
        }
        // A character the image does not hold, and one with a variation selector.
        codes.push_back(0x10FFFF);
        selectors.push_back(0);
        codes.push_back('A');
        selectors.push_back(0xE0100);
        for (std::size_t at = 0; at < codes.size(); at += 64) {
            int n = static_cast<int>(std::min<std::size_t>(64, codes.size() - at));
            LoadGlyphs(n, codes.data() + at, selectors.data() + at, font, 1);
        }
        DeleteHandle(h);
    }
    if (GetTrackedMemoryCount() != blocks) std::abort();
    return 0;
}
