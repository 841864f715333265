// What gdi32's font files and usp10 share: the one lock over FreeType and fontconfig, the face
// chosen for a LOGFONTW, and the font object with its FreeType face.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Gdi32Font.h"

namespace platform::gdi::font {

// FreeType faces and fontconfig's configuration are used under this lock only.
std::recursive_mutex& Lock();
// The FreeType library; under the lock.
FT_Library Library();

// The installed face that a font's settings resolve to.
struct FaceChoice {
    std::string file;
    int index = 0;
    // Set from the face itself once it is open (fontconfig's own configuration may already have
    // marked the match bold or oblique).
    bool emboldened = false;  // bold asked of a face that has no bold
    bool sheared = false;     // italic asked of an upright face
};
// Resolves a font's settings through fontconfig; false when no scalable face is installed at all.
// Under the lock.
bool ChooseFace(const LOGFONTW& font, FaceChoice* out);

// The language a GDI character set stands for ("ja", "en", ...); empty for none. DEFAULT_CHARSET
// stands for the system's language.
std::string CharSetLanguage(BYTE charSet);

// A rendered glyph as GetGlyphOutline hands it out.
struct Glyph {
    GLYPHMETRICS metrics{};
    std::vector<BYTE> bits;  // rows padded as the format asks
};

class FontObject : public Object {
  public:
    FontObject() : Object(OBJ_FONT) {}
    ~FontObject() override;
    int Describe(int size, void* out, bool wide) const override;

    LOGFONTW logFont{};
    FaceChoice choice;
    FT_Face face = nullptr;
    int ppem = 0;
    TEXTMETRICW metrics{};
    // Kerning pairs in pixels, read on first use.
    bool kerningRead = false;
    std::vector<KERNINGPAIR> kerning;
    // The last glyph rendered, so that a size query followed by the fetch renders once.
    UINT lastIndex = 0;
    UINT lastFormat = 0xFFFFFFFF;
    Glyph last;
};

// The font selected into a context; a default font when none (or a stock font) is selected. Null
// for an unknown context.
std::shared_ptr<FontObject> DcFont(HDC dc);
// The glyph index of a code point in the font's Unicode character map (UCS-4 where it has one).
UINT GlyphIndex(FontObject& font, char32_t code);
// Renders one glyph; format is GGO_BITMAP, a GGO_GRAY*_BITMAP or GGO_METRICS. Under the lock.
bool RenderGlyph(FontObject& font, UINT index, UINT format, Glyph* out);
// Whether a code point is a variation selector (zero width, shapes the character before it).
bool IsVariationSelector(char32_t c);

}  // namespace platform::gdi::font
