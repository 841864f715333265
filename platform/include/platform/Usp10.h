// usp10 (Uniscribe): the two calls that find the glyph of a character with a variation selector.
#pragma once

#include "platform/Com.h"
#include "platform/WinTypes.h"

struct SCRIPT_STATE {
    WORD uBidiLevel : 5;
    WORD fOverrideDirection : 1;
    WORD fInhibitSymSwap : 1;
    WORD fCharShape : 1;
    WORD fDigitSubstitute : 1;
    WORD fInhibitLigate : 1;
    WORD fDisplayZWG : 1;
    WORD fArabicNumContext : 1;
    WORD fGcpClusters : 1;
    WORD fReserved : 1;
    WORD fEngineReserved : 2;
};

struct SCRIPT_ANALYSIS {
    WORD eScript : 10;
    WORD fRTL : 1;
    WORD fLayoutRTL : 1;
    WORD fLinkBefore : 1;
    WORD fLinkAfter : 1;
    WORD fLogicalOrder : 1;
    WORD fNoGlyphIndex : 1;
    SCRIPT_STATE s;
};
static_assert(sizeof(SCRIPT_ANALYSIS) == 4);

struct SCRIPT_ITEM {
    int iCharPos;
    SCRIPT_ANALYSIS a;
};

struct SCRIPT_CONTROL {
    DWORD uDefaultLanguage : 16;
    DWORD fContextDigits : 1;
    DWORD fInvertPreBoundDir : 1;
    DWORD fInvertPostBoundDir : 1;
    DWORD fLinkStringBefore : 1;
    DWORD fLinkStringAfter : 1;
    DWORD fNeutralOverride : 1;
    DWORD fNumericOverride : 1;
    DWORD fLegacyBidiClass : 1;
    DWORD fMergeNeutralItems : 1;
    DWORD fUseStandardBidi : 1;
    DWORD fReserved : 6;
};

struct SCRIPT_VISATTR {
    WORD uJustification : 4;
    WORD fClusterStart : 1;
    WORD fDiacritic : 1;
    WORD fZeroWidth : 1;
    WORD fReserved : 1;
    WORD fShapeReserved : 8;
};

using SCRIPT_CACHE = void*;

// ScriptShape without a context and without a cache that knows the font.
inline constexpr HRESULT E_PENDING = static_cast<HRESULT>(0x8000000A);

namespace platform::usp10 {
HRESULT ScriptItemize(const WCHAR* text, int count, int maxItems, const SCRIPT_CONTROL* control,
                      const SCRIPT_STATE* state, SCRIPT_ITEM* items, int* itemCount);
HRESULT ScriptShape(HDC dc, SCRIPT_CACHE* cache, const WCHAR* text, int count, int maxGlyphs,
                    SCRIPT_ANALYSIS* analysis, WORD* glyphs, WORD* clusters,
                    SCRIPT_VISATTR* attributes, int* glyphCount);
}  // namespace platform::usp10
