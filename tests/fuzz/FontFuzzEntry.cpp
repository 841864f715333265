#include "fuzz/FontFuzzEntry.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Gdi32Font.h"
#include "platform/HostPath.h"

namespace {

using namespace platform::gdi32;

const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};

// The family the input calls itself, read the way a game would learn it (from the file).
std::u16string FamilyOf(const std::uint8_t* data, std::size_t size) {
    FT_Library library;
    if (FT_Init_FreeType(&library) != 0) return u"";
    std::u16string family;
    FT_Face face;
    if (FT_New_Memory_Face(library, data, static_cast<FT_Long>(size), 0, &face) == 0) {
        if (face->family_name) family = platform::Utf8ToUtf16(face->family_name);
        FT_Done_Face(face);
    }
    FT_Done_FreeType(library);
    if (family.size() > 31) family.resize(31);
    return family;
}

void CheckGlyph(HDC dc, UINT code, UINT format) {
    GLYPHMETRICS gm{};
    DWORD size = GetGlyphOutlineW(dc, code, format, &gm, 0, nullptr, &kIdentity);
    if (size == GDI_ERROR) return;
    UINT kind = format & ~GGO_GLYPH_INDEX;
    if (size != 0) {
        DWORD pitch =
            kind == GGO_BITMAP ? (gm.gmBlackBoxX + 31) / 32 * 4 : (gm.gmBlackBoxX + 3) & ~3u;
        if (static_cast<std::uint64_t>(pitch) * gm.gmBlackBoxY != size) std::abort();
    }
    std::vector<BYTE> bits(size + 1);
    DWORD again = GetGlyphOutlineW(dc, code, format, &gm, size + 1, bits.data(), &kIdentity);
    if (again != size) std::abort();
    if (kind != GGO_BITMAP) {
        BYTE top = kind == GGO_GRAY8_BITMAP ? 64 : kind == GGO_GRAY4_BITMAP ? 16 : 4;
        for (DWORD i = 0; i < size; ++i) {
            if (bits[i] > top) std::abort();
        }
    }
}

}  // namespace

int RunFontFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (1u << 20)) return 0;
    std::vector<std::uint8_t> copy(data, data + size);
    DWORD fonts = 0;
    HANDLE added = AddFontMemResourceEx(copy.data(), static_cast<DWORD>(size), nullptr, &fonts);
    if (added == nullptr) return 0;
    if (fonts == 0) std::abort();
    std::u16string family = FamilyOf(data, size);
    for (int height : {16, -24, 7}) {
        HFONT font =
            CreateFontW(height, 0, 0, 0, height == 7 ? 700 : 400, height < 0, 0, 0, DEFAULT_CHARSET,
                        0, 0, NONANTIALIASED_QUALITY, FIXED_PITCH, family.c_str());
        if (font == nullptr) std::abort();  // creation always finds some face
        HDC dc = CreateCompatibleDC(nullptr);
        SelectObject(dc, font);
        TEXTMETRICW tm{};
        if (!GetTextMetricsW(dc, &tm) || tm.tmHeight < 0 || tm.tmAscent < 0) std::abort();
        DWORD pairs = GetKerningPairsW(dc, 0, nullptr);
        std::vector<KERNINGPAIR> kerning(pairs);
        if (pairs != 0 && GetKerningPairsW(dc, pairs, kerning.data()) != pairs) std::abort();
        for (UINT index = 0; index < 24; ++index) {
            CheckGlyph(dc, index, GGO_BITMAP | GGO_GLYPH_INDEX);
            CheckGlyph(dc, index, GGO_GRAY8_BITMAP | GGO_GLYPH_INDEX);
        }
        for (UINT code : {u'A', u' ', u'あ', u'漢'}) CheckGlyph(dc, code, GGO_GRAY4_BITMAP);
        SIZE extent{};
        GetTextExtentPoint32W(dc, u"Ag\U0001F600\uFE00", 5, &extent);
        DeleteDC(dc);
        DeleteObject(font);
    }
    if (!RemoveFontMemResourceEx(added)) std::abort();
    return 0;
}
