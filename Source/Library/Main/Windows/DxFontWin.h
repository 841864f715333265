// The Windows side of fonts: the GDI font of a font handle and the metrics taken from it, its
// kerning pairs, glyphs rendered with GetGlyphOutlineW (or drawn with TextOutW into a small DIB
// for fonts GetGlyphOutlineW cannot render) and handed to the glyph cache, glyph indices of
// characters above U+FFFF and of characters with a variation selector, and face enumeration.
// Every GDI and Uniscribe call goes through the system API table.
#pragma once

#include <cstdint>

#include "Main/DxFont.h"

namespace ZiDaz {

// The GDI character set of a CharSetId (0..7); DEFAULT_CHARSET for anything else.
int GdiCharSetOf(int charSetId);
// The supersampling factor of a FontType: 4, 8 or 16 for the supersampled kinds, else 1.
int FontSupersampling(int fontType);

// Makes the font's GDI font and sets its height, cell size, ascent, leading adjustment, face
// name, kerning pairs and text-output mode; faceCheck checks the face against the faces of the
// font's character set first. 0 or -1 (everything made is released again).
int CreateFontGdiSide(const FontCreateParams* params, FontHandleData* font, int faceCheck);
// Deletes only the GDI font (the glyph cache could not be made). 0.
int ReleaseFontGdiHandle(FontHandleData* font);
// Frees the glyph buffer, the GDI font, the DIB and the ranges block. 0.
int ReleaseFontGdiSide(FontHandleData* font);
// In text-output mode, the 8-bit DIB of one cache cell that glyphs are drawn into. 0 or -1.
int CreateFontCacheDib(const FontCreateParams* params, FontHandleData* font, int async);

// One rendering batch at a time: begin, render glyphs, end.
int BeginGlyphRendering(FontHandleData* font);
int RenderGlyphWithGdi(FontHandleData* font, FontGlyphEntry* entry, std::uint32_t code,
                       std::uint32_t selector, int upload);
int EndGlyphRendering(FontHandleData* font);

// Listing mode (names not null): appends each face not yet listed as a 128-byte wide entry, up to
// maxCount (0 = no limit), and returns the count. Search mode (names null): 1 when a face whose
// full name does not start with '@' is enumerated, else 0.
int EnumFontFacesOfCharSet(char16_t* names, int maxCount, const char16_t* face, int charSetId);
// 1 when the face (NarrowEncoding) is installed for the character set, else 0.
int IsFontFaceInstalled(const char* face, int charSetId);
int IsFontFaceInstalledWide(const char16_t* face, int charSetId);

}  // namespace ZiDaz
