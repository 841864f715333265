// Text conversion at the runtime's edges. The runtime keeps its text in UTF-8; Windows calls and
// the library take UTF-16, and old game data, old saves and outside files use the game's legacy
// code page.
//
// The pointer-returning converters hand out a slot of a ring of ten results that belongs to the
// converter and to the calling thread: a result stays valid until the same converter has been
// called ten more times on the same thread. Callers copy what they keep.
#pragma once

#include <string>
#include <string_view>

// A legacy code page is named by a locale string "language_country.codepage"; the code page is
// the decimal number after the first '.', and 0 (the system's ANSI code page) when there is no '.'
// or no digit after it.
unsigned CodePageOfLocale(const char* locale);

// The locale string of the game's character-set setting: 0 and 1 Japanese, 2 Korean, 3 Chinese
// (traditional), 4 Chinese (simplified), 5 and 6 Western; 7 to 9 and others are empty.
const char* LocaleOfCharacterSet(int characterSet);

const char16_t* ConvertUtf8ToWide(const char* text);
const char* ConvertWideToUtf8(const char16_t* text);
const char16_t* ConvertCodePageToWide(const char* locale, const char* text);
// A leading byte-order signature (U+FEFF or U+FFFE) is dropped when the text has more than it.
const char* ConvertWideToCodePage(const char* locale, const char16_t* text);
const char* ConvertUtf8ToCodePage(const char* locale, const char* text);
// The length output, when given, receives the result's byte length.
std::string ConvertCodePageToUtf8(const char* locale, const char* text, int* length = nullptr);
// Text of an old save in the game's code page, which may hold internal code runs (0x01, a length
// byte L of at most 15, L - 1 more bytes): the plain parts are converted and the runs kept as
// they are. A length byte above 15 means the text holds no runs and it is converted whole.
std::string ConvertOldSaveText(std::string_view text, const char* locale);

// Whether the text is well-formed UTF-8 as far as lead and continuation bytes go (overlong forms
// and surrogates are not checked). Null is invalid.
bool IsValidUtf8(const char* text);
// Display columns of a UTF-8 text: printable ASCII and the half-width forms U+FF66..U+FFDF count
// one, other multi-byte characters two, control and stray bytes nothing.
int CountTextColumns(std::string_view text);
