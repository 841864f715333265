// Character encodings, transcoding and the encoding-aware string functions.
//
// Every text function of the library takes the encoding of its strings (a code-page number) and
// works for 1-, 2- and 4-byte code units alike. A string ends with one zero code unit. Lengths are
// counted in code units, buffer sizes in bytes. Text pointers point at the first byte of a
// character.
#pragma once

#include <cstdint>

namespace ZiDaz {

// The encodings, by code-page number. Any other value is unsupported: its unit size and character
// length are -1 and nothing can be read or written in it.
namespace CharEncoding {
inline constexpr std::int32_t ShiftJis = 932;
inline constexpr std::int32_t Gbk = 936;
inline constexpr std::int32_t Uhc = 949;
inline constexpr std::int32_t Big5 = 950;
inline constexpr std::int32_t Western = 1252;
inline constexpr std::int32_t WesternEuro = 32764;  // 1252 with eight ISO 8859-15 characters
inline constexpr std::int32_t Ascii = 32765;        // bytes 0-255 taken as code points
inline constexpr std::int32_t Utf16Le = 1200;
inline constexpr std::int32_t Utf16Be = 1201;
inline constexpr std::int32_t Utf32Le = 32766;
inline constexpr std::int32_t Utf32Be = 32767;
inline constexpr std::int32_t Utf8 = 65001;
}  // namespace CharEncoding

// ---- Process-wide settings (0 = not set yet) ----------------------------------------------------

// The encoding of the library's narrow strings.
extern std::int32_t NarrowEncoding;
// The encoding of wide strings; always 1200 once set.
extern std::int32_t WideEncoding;
// The character set the fonts choose: 1 Japanese, 2 Korean, 3 traditional Chinese, 4 simplified
// Chinese, 5 Western, 6 Western with euro, 7 UTF-8.
extern std::int32_t CharSetId;

int SetNarrowCharCode(std::int32_t encoding);
void ApplyNarrowCharCode(std::int32_t encoding);
// Chooses the narrow encoding from the system's OEM code page unless a character set is set.
void EnsureDefaultCharCodes();
std::int32_t GetCharSetId();
void StoreCharSetId(std::int32_t id);
void StoreWideCharCode(std::int32_t encoding);

// ---- Characters ------------------------------------------------------------------------------

// 1, 2 or 4, or -1 for an unsupported encoding.
int UnitBytesOfCharCode(std::int32_t encoding);
// Bytes of the character at text by its first unit, or -1 (invalid first unit or encoding).
int MeasureCharAt(const void* text, std::int32_t encoding);
int SizeOfCharAt(std::int32_t encoding, const void* text);
// The character code at text; its length in bytes goes to *length (the unit size at the
// terminator; 0 for an invalid first unit, a character cut short by a zero unit, or an unsupported
// encoding, which all return 0). length may be null.
std::uint32_t ReadCharCodeAt(const void* text, std::int32_t encoding, int* length);
// As ReadCharCodeAt, and adds the code units consumed to *units.
std::uint32_t ReadCharCodeAtCounted(const void* text, std::int32_t encoding, int* length,
                                    std::int64_t* units);
// Bytes the character takes in the encoding, written to buffer when it is not null; 0 when they
// exceed bufferBytes or the code cannot be written in the encoding.
int EncodeCharCode(std::uint32_t code, std::int32_t encoding, void* buffer, int bufferBytes);
// As EncodeCharCode for a buffer the caller has sized.
int EncodeCharCodeUnbounded(std::uint32_t code, std::int32_t encoding, void* buffer);
// Characters before the terminator (or before an invalid unit).
int CountCharsInCodeString(const void* text, std::int32_t encoding);
// The character with that index (from 0); the character count gives the terminator; null beyond.
void* FindNthCharInCodeString(const void* text, std::int32_t encoding, int index);
// Writes the character codes as 32-bit values and a 0; returns 4 x (characters + 1).
int ExpandToCodeArray(const void* text, std::int32_t encoding, std::uint32_t* output);

// ---- Conversion ------------------------------------------------------------------------------

// Maps one character code; 0 when it has no mapping.
std::uint32_t TranscodeChar(std::uint32_t code, std::int32_t sourceEncoding,
                            std::int32_t destinationEncoding);
// Converts a string. sourceUnits < 0 converts up to the terminator, else at most that many
// source code units (a character that starts inside the limit is converted whole). Returns the
// bytes written including the terminator; with a null destination the bytes needed; 0 when the
// destination cannot hold the terminator; -1 when both encodings are the same unsupported value.
// Output is cut only between characters and always terminated.
int TranscodeString(const void* source, int sourceUnits, std::int32_t sourceEncoding,
                    void* destination, int destinationBytes, std::int32_t destinationEncoding);

// ---- Encoding-aware string family ------------------------------------------------------------

int CountCodeStringUnits(std::int32_t encoding, const void* text);
void CopyCodeString(std::int32_t encoding, void* dst, const void* src);
void CopyCodeStringBounded(std::int32_t encoding, void* dst, int bytes, const void* src);
void AppendCodeString(std::int32_t encoding, void* dst, const void* src);
void AppendCodeStringBounded(std::int32_t encoding, void* dst, int bytes, const void* src);
void CopyCodeStringN(std::int32_t encoding, void* dst, const void* src, int n);
void CopyCodeStringNBounded(std::int32_t encoding, void* dst, int bytes, const void* src, int n);
int CompareCodeStrings(std::int32_t encoding, const void* a, const void* b);
int CompareCodeStringsN(std::int32_t encoding, const void* a, const void* b, int n);
int CompareCodeStringWithAscii(std::int32_t encoding, const void* text, const char* ascii);
int CompareCodeStringsNoCase(std::int32_t encoding, const void* a, const void* b);
void* FindCharInCodeString(std::int32_t encoding, const void* text, std::uint32_t code);
void* FindCodeSubstring(std::int32_t encoding, const void* text, const void* part);
void* LowerCaseCodeString(std::int32_t encoding, void* text);
void* UpperCaseCodeString(std::int32_t encoding, void* text);
std::int32_t ParseCodeStringInt(std::int32_t encoding, const void* text);
std::int64_t ParseCodeStringInt64(std::int32_t encoding, const void* text);
void* IntToCodeString(std::int32_t encoding, std::int32_t value, void* buffer, int radix);

// Wrappers with the library's narrow encoding.
int CountNarrowStringUnits(const char* text);
void CopyNarrowString(char* dst, const char* src);
void CopyNarrowStringBounded(char* dst, int bytes, const char* src);
void AppendNarrowStringBounded(char* dst, int bytes, const char* src);
int CompareNarrowString(const char* a, const char* b);

// Wrappers with the wide encoding.
void CopyWideString(char16_t* dst, const char16_t* src);
void CopyWideStringBounded(char16_t* dst, int bytes, const char16_t* src);
void AppendWideString(char16_t* dst, const char16_t* src);
void AppendWideStringBounded(char16_t* dst, int bytes, const char16_t* src);
void CopyWideStringPrefixBounded(char16_t* dst, int bytes, const char16_t* src, int n);
int CompareWideString(const char16_t* a, const char16_t* b);
int CompareWideStringNoCase(const char16_t* a, const char16_t* b);
char16_t* FindWideChar(const char16_t* text, char16_t unit);
char16_t* FindWideSubstring(const char16_t* text, const char16_t* part);
char16_t* UpperCaseWideString(char16_t* text);
char16_t* IntToWideString(std::int32_t value, char16_t* buffer, int radix);

}  // namespace ZiDaz
