// gdi32's fonts over FreeType and fontconfig: font objects (OBJ_FONT in gdi32's object table),
// their metrics and glyphs, kerning pairs, glyph indices, face enumeration and fonts a process
// registers for itself. Windows face names that games ask for are mapped to installed free faces
// by a list kept with the layer (see platform/fonts/face-names.txt).
#pragma once

#include <string>

#include "platform/Gdi32.h"

inline constexpr int LF_FACESIZE = 32;
inline constexpr int LF_FULLFACESIZE = 64;

// Character sets.
inline constexpr BYTE ANSI_CHARSET = 0;
inline constexpr BYTE DEFAULT_CHARSET = 1;
inline constexpr BYTE SHIFTJIS_CHARSET = 128;
inline constexpr BYTE HANGUL_CHARSET = 129;
inline constexpr BYTE GB2312_CHARSET = 134;
inline constexpr BYTE CHINESEBIG5_CHARSET = 136;

// Weights, quality and pitch.
inline constexpr int FW_NORMAL = 400;
inline constexpr int FW_SEMIBOLD = 600;
inline constexpr int FW_BOLD = 700;
inline constexpr BYTE NONANTIALIASED_QUALITY = 3;
inline constexpr BYTE DEFAULT_PITCH = 0;
inline constexpr BYTE FIXED_PITCH = 1;
inline constexpr BYTE VARIABLE_PITCH = 2;

// GetGlyphOutline formats.
inline constexpr UINT GGO_METRICS = 0;
inline constexpr UINT GGO_BITMAP = 1;
inline constexpr UINT GGO_NATIVE = 2;
inline constexpr UINT GGO_GRAY2_BITMAP = 4;
inline constexpr UINT GGO_GRAY4_BITMAP = 5;
inline constexpr UINT GGO_GRAY8_BITMAP = 6;
inline constexpr UINT GGO_GLYPH_INDEX = 0x80;
inline constexpr DWORD GDI_ERROR = 0xFFFFFFFF;

// GetCharacterPlacement flags.
inline constexpr DWORD GCP_GLYPHSHAPE = 0x0010;

// Private fonts.
inline constexpr DWORD FR_PRIVATE = 0x10;
inline constexpr DWORD FR_NOT_ENUM = 0x20;

// Enumerated font kinds.
inline constexpr DWORD RASTER_FONTTYPE = 0x0001;
inline constexpr DWORD DEVICE_FONTTYPE = 0x0002;
inline constexpr DWORD TRUETYPE_FONTTYPE = 0x0004;

struct LOGFONTW {  // 92 bytes
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    WCHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTW) == 92);

struct LOGFONTA {  // 60 bytes
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
};
static_assert(sizeof(LOGFONTA) == 60);

struct TEXTMETRICW {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    WCHAR tmFirstChar;
    WCHAR tmLastChar;
    WCHAR tmDefaultChar;
    WCHAR tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};
static_assert(sizeof(TEXTMETRICW) == 60);

struct TEXTMETRICA {
    LONG tmHeight;
    LONG tmAscent;
    LONG tmDescent;
    LONG tmInternalLeading;
    LONG tmExternalLeading;
    LONG tmAveCharWidth;
    LONG tmMaxCharWidth;
    LONG tmWeight;
    LONG tmOverhang;
    LONG tmDigitizedAspectX;
    LONG tmDigitizedAspectY;
    BYTE tmFirstChar;
    BYTE tmLastChar;
    BYTE tmDefaultChar;
    BYTE tmBreakChar;
    BYTE tmItalic;
    BYTE tmUnderlined;
    BYTE tmStruckOut;
    BYTE tmPitchAndFamily;
    BYTE tmCharSet;
};
static_assert(sizeof(TEXTMETRICA) == 56);

struct NEWTEXTMETRICW {
    TEXTMETRICW tm;
    DWORD ntmFlags;
    UINT ntmSizeEM;
    UINT ntmCellHeight;
    UINT ntmAvgWidth;
};

struct FONTSIGNATURE {
    DWORD fsUsb[4];
    DWORD fsCsb[2];
};

struct NEWTEXTMETRICEXW {
    NEWTEXTMETRICW ntmTm;
    FONTSIGNATURE ntmFontSig;
};

struct ENUMLOGFONTEXW {
    LOGFONTW elfLogFont;
    WCHAR elfFullName[LF_FULLFACESIZE];
    WCHAR elfStyle[LF_FACESIZE];
    WCHAR elfScript[LF_FACESIZE];
};

struct ENUMLOGFONTEXA {
    LOGFONTA elfLogFont;
    BYTE elfFullName[LF_FULLFACESIZE];
    BYTE elfStyle[LF_FACESIZE];
    BYTE elfScript[LF_FACESIZE];
};

// The callback gets an ENUMLOGFONTEXW and a NEWTEXTMETRICEXW behind these pointers.
using FONTENUMPROCW = int (*)(const LOGFONTW* font, const TEXTMETRICW* metrics, DWORD fontType,
                              LPARAM data);
using FONTENUMPROCA = int (*)(const LOGFONTA* font, const TEXTMETRICA* metrics, DWORD fontType,
                              LPARAM data);

struct FIXED {
    WORD fract;
    SHORT value;
};

struct MAT2 {
    FIXED eM11;
    FIXED eM12;
    FIXED eM21;
    FIXED eM22;
};

struct GLYPHMETRICS {
    UINT gmBlackBoxX;
    UINT gmBlackBoxY;
    POINT gmptGlyphOrigin;
    SHORT gmCellIncX;
    SHORT gmCellIncY;
};

struct KERNINGPAIR {
    WORD wFirst;
    WORD wSecond;
    int iKernAmount;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct GCP_RESULTSW {
    DWORD lStructSize;
    LPWSTR lpOutString;
    UINT* lpOrder;
    int* lpDx;
    int* lpCaretPos;
    LPSTR lpClass;
    LPWSTR lpGlyphs;
    UINT nGlyphs;
    int nMaxFit;
};

struct GCP_RESULTSA {
    DWORD lStructSize;
    LPSTR lpOutString;
    UINT* lpOrder;
    int* lpDx;
    int* lpCaretPos;
    LPSTR lpClass;
    LPWSTR lpGlyphs;
    UINT nGlyphs;
    int nMaxFit;
};

namespace platform::gdi32 {
HFONT CreateFontW(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCWSTR face);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                  DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, LPCSTR face);
BOOL GetTextMetricsW(HDC dc, TEXTMETRICW* metrics);
BOOL GetTextMetricsA(HDC dc, TEXTMETRICA* metrics);
DWORD GetGlyphOutlineW(HDC dc, UINT code, UINT format, GLYPHMETRICS* metrics, DWORD size,
                       LPVOID buffer, const MAT2* matrix);
DWORD GetKerningPairsW(HDC dc, DWORD count, KERNINGPAIR* pairs);
DWORD GetCharacterPlacementW(HDC dc, LPCWSTR text, int count, int maxExtent, GCP_RESULTSW* results,
                             DWORD flags);
BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, SIZE* size);
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);
int EnumFontFamiliesExW(HDC dc, LOGFONTW* font, FONTENUMPROCW callback, LPARAM data, DWORD flags);
int AddFontResourceExW(LPCWSTR path, DWORD flags, LPVOID reserved);
BOOL RemoveFontResourceExW(LPCWSTR path, DWORD flags, LPVOID reserved);
HANDLE AddFontMemResourceEx(LPVOID data, DWORD size, LPVOID reserved, DWORD* fonts);
BOOL RemoveFontMemResourceEx(HANDLE fonts);
}  // namespace platform::gdi32

namespace platform::gdi {
// Test hook: the next `count` font creations fail (CreateFontW and CreateFontA return null), so
// that callers' retries can be driven. 0 switches it off.
void FailNextFontCreations(int count);
// The file and face index a font object was made from; false for anything else.
bool FontFileOf(HFONT font, std::string* path, int* index);
}  // namespace platform::gdi
