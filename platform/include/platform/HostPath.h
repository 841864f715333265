// Windows paths as the host sees them. Games are made on Windows: their paths use "\" or "/",
// may start with a drive, and spell names in any case. These helpers turn such a path into one
// that names the same file on this machine.
#pragma once

#include <string>
#include <string_view>

#include "platform/WinTypes.h"

namespace platform {

// One code point as UTF-8.
void AppendUtf8(char32_t c, std::string& out);
// UTF-16 <-> UTF-8. A byte that is not part of valid UTF-8 becomes a lone low surrogate
// U+DC80-U+DCFF and comes back as that byte, so every name on disk survives the round trip;
// other unpaired surrogates are refused.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);
std::u16string Utf8ToUtf16(std::string_view text);

// Upper-cases one code point the way name comparisons do (full Unicode where the C library knows
// it, ASCII otherwise).
char32_t FoldNameChar(char32_t c);
// Whether two UTF-8 names are equal when case is ignored.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

// How the last component of a path is looked up when it does not exist as spelt.
enum class NameLookup {
    // Reading and opening: the entry that matches ignoring case (the smallest name of several).
    Loose,
    // Deleting, renaming, overwriting: the one entry that matches ignoring case, and none when
    // several do, so a change never lands on a file picked among others.
    Single,
    // Creating a new file: the name as spelt.
    Exact,
};

// A Windows path as a host path: "\" becomes "/", a drive ("C:") is dropped (a drive path is
// taken from the root), and when the path does not exist as spelt each component is looked up
// case-insensitively, from the top down, in the folder found so far (the last one as `lookup`
// says). Components that match nothing are kept as spelt, so a path for a new file resolves its
// folder and keeps its name. Returns false (with ERROR_INVALID_NAME set) for text that cannot be
// a path.
bool HostPathFromWide(LPCWSTR path, std::string& out, NameLookup lookup = NameLookup::Loose);
// The same for an already converted UTF-8 path with either separator.
std::string ResolveHostPath(std::string_view path);
std::string ResolveHostPath(std::string_view path, NameLookup lookup);

// The Windows error code for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace platform
