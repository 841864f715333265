// usp10 over FreeType: ScriptItemize gives one left-to-right item for the whole text, and
// ScriptShape maps characters to the glyphs of the context's font, a character followed by a
// variation selector to the variant glyph of the face's format 14 character map.
#include <algorithm>

#include "Gdi32FontInternal.h"
#include "platform/Modules.h"
#include "platform/Usp10.h"

namespace platform::usp10 {

HRESULT ScriptItemize(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL*,
                      const SCRIPT_STATE*, SCRIPT_ITEM* items, int* itemCount) {
    if (text == nullptr || count <= 0 || items == nullptr || maxItems < 2) return E_INVALIDARG;
    // One item, then the closing item that marks where the text ends.
    items[0] = SCRIPT_ITEM{};
    items[1] = SCRIPT_ITEM{};
    items[1].iCharPos = count;
    if (itemCount) *itemCount = 1;
    return S_OK;
}

HRESULT ScriptShape(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs,
                    SCRIPT_ANALYSIS*, WORD* glyphs, WORD* clusters, SCRIPT_VISATTR* attributes,
                    int* glyphCount) {
    if (text == nullptr || count <= 0 || glyphs == nullptr || clusters == nullptr ||
        glyphCount == nullptr || maxGlyphs <= 0) {
        return E_INVALIDARG;
    }
    if (dc == nullptr) return E_PENDING;
    auto font = gdi::font::DcFont(dc);
    if (!font || font->face == nullptr) return E_PENDING;
    if (cache) *cache = font.get();
    std::lock_guard guard(gdi::font::Lock());
    int n = 0;
    for (int i = 0; i < count;) {
        int start = i;
        char32_t c = text[i++];
        if (c >= 0xD800 && c < 0xDC00 && i < count && text[i] >= 0xDC00 && text[i] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
        }
        char32_t selector = 0;
        if (i < count) {
            int j = i;
            char32_t next = text[j++];
            if (next >= 0xD800 && next < 0xDC00 && j < count && text[j] >= 0xDC00 &&
                text[j] < 0xE000) {
                next = 0x10000 + ((next - 0xD800) << 10) + (text[j++] - 0xDC00);
            }
            if (gdi::font::IsVariationSelector(next)) {
                selector = next;
                i = j;
            }
        }
        if (n >= maxGlyphs) return E_OUTOFMEMORY;
        UINT glyph = selector ? FT_Face_GetCharVariantIndex(font->face, c, selector) : 0;
        if (glyph == 0) glyph = gdi::font::GlyphIndex(*font, c);
        glyphs[n] = static_cast<WORD>(glyph);
        if (attributes) {
            attributes[n] = SCRIPT_VISATTR{};
            attributes[n].fClusterStart = 1;
        }
        for (int k = start; k < i; ++k) clusters[k] = static_cast<WORD>(n);
        ++n;
    }
    *glyphCount = n;
    return S_OK;
}

namespace {
const ModuleExports kExports("usp10.dll", {{"ScriptItemize", Export(&ScriptItemize)},
                                           {"ScriptShape", Export(&ScriptShape)}});
}  // namespace

}  // namespace platform::usp10
