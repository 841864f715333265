// Message control codes: the escape codes a game writes in its texts ("\v[3]", "\c[2]", "<L>" ...)
// are expanded into values and into internal runs (byte 0x01 followed by a kind and parameters)
// that the text drawing engine reads; and the conversions between old and current runs and back
// to escape text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Scans the text once and appends, for every code found, its token id and the byte position of
// its first character, in text order.
void TokenizeTextCodes(const std::string& text, std::vector<std::int32_t>& tokens,
                       std::vector<std::int32_t>& positions, bool valuesOnly);

// Expands the codes of a text; see the callers' option table in the message commands.
std::string ExpandTextCodes(std::string text, std::int32_t mapEventId, std::int32_t commonEventId,
                            std::int32_t mapId, bool valuesOnly, bool addAffixes,
                            const std::string* prefix, const std::string* suffix,
                            bool headerAllowed);

// Old saves (format below 125) kept other run numbers.
std::string UpgradeOldTextCodes(const std::string& text);
// Internal runs back to their escape text (file names, addresses, CSV texts).
std::string RestoreEscapeCodes(const std::string& text);
// RestoreEscapeCodes, then every line feed shown as a backslash and "n".
std::string RestoreEscapeCodesForLog(const std::string& text);
// Literal-backslash runs back to one backslash each (debug window text and log).
std::string RestoreLiteralBackslashes(const std::string& text);
