// Small text, path and clipboard services of the runtime: texts that carry internal code runs,
// replacing, integer formatting, Base64 and form encoding, the executable's folder, folder
// creation, the safety test for paths named by game data, text files and the clipboard.
// Texts are UTF-8 unless said otherwise.
//
// An internal code run inside a runtime text is the byte 0x01, a length byte L, then L - 1 bytes
// beginning with the code number: L + 1 bytes in all. Some codes are followed by a plain-text
// argument that ends with ']'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Position of needle in text from start, or -1. A needle of one to three bytes never matches
// inside a code run (unless it begins with 0x01 itself); a longer needle is a plain substring.
int FindInCodedText(std::string_view text, std::string_view needle, int start);

// The text without its code runs: code 1 (a backslash) becomes "\", code 9 keeps its argument up
// to the first ',' and hides the rest through ']', codes 23 and 34 hide their argument through
// ']', every other run is dropped.
std::string StripTextCodes(std::string_view text);

// A number as the C library's atoi reads it: leading white space, an optional sign, the digits
// that follow; 0 when there are none. Beyond the 32-bit range it stays at the nearest limit.
std::int32_t ReadLeadingInt32(std::string_view text);

// Replaces every occurrence, left to right, never searching inside an inserted replacement. An
// empty search text leaves the text unchanged.
std::string ReplaceAllText(std::string_view text, std::string_view search,
                           std::string_view replacement);
std::u16string ReplaceAllTextWide(std::u16string_view text, std::u16string_view search,
                                  std::u16string_view replacement);

// The value in decimal, in a ring of ten buffers per thread: valid for ten more calls.
const char* IntToTempString(int value);

// Standard Base64 with '=' padding and no line breaks; empty when there is nothing to encode.
std::string EncodeBase64(const void* bytes, std::size_t count);

// HTTP form encoding of a whole query string: letters, digits and "&*-.=_" stay, a blank becomes
// '+', every other byte "%XX" in capitals.
std::string EncodeUrlForm(std::string_view text);

// The executable's folder, ending in its separator.
std::u16string GetExeFolderWide();
std::string GetExeFolderUtf8();

// Creates every folder of a relative path's folder part below the base folder ("\" counts as
// "/", ".." is removed) and returns the file-name part. The base folder is the current directory
// afterwards.
std::string CreateFolderChain(std::string_view relativePath, std::string_view baseFolder);

// Whether a path named by game data stays inside the game's folder: it must not be rooted ("/",
// "\"), name a drive or stream (":"), hold "%", "./", ".\" or "..", nor leave the folder once
// normalised. The flag is kept for callers; every flag gets the same, strict, test.
bool IsSafeRelativePath(std::string_view path, int flag);

// Writes the text, up to its first zero byte, with every line feed written as CR LF. A file that
// cannot be opened or written gets a message box and false.
bool WriteTextFile(std::string_view text, const char* path);

// Writes the text as a C text-mode file does on Windows: every line feed as CR LF (a CR LF in the
// text becomes CR CR LF). Truncates; false when the file cannot be opened or fully written.
bool WriteTextModeFile(const char* path, std::string_view text);

// The clipboard's Unicode text. Copying an empty text, or when the clipboard cannot be opened,
// returns false; reading gives an empty text when there is none.
bool CopyTextToClipboard(std::string_view text);
std::u16string ReadClipboardText();
