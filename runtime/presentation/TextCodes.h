// Message control codes: the escape codes a game writes in its texts ("\v[3]", "\c[2]", "<L>" ...)
// are expanded into values and into internal runs (byte 0x01 followed by a kind and parameters)
// that the text drawing engine reads; and the conversions between old and current runs and back
// to escape text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// An internal run inside an expanded text: the byte 0x01, L (the run's length minus one, 2 to 6),
// the kind, then L - 2 parameter bytes. Parameter numbers are base-64 digits, most significant
// first, each stored as digit + 14, so that no parameter byte is 0x00 or 0x01; several kinds end
// with a pad byte 0x01 after their digits. A text holds 0x01 only inside runs.
inline constexpr char kTextCodeRunByte = '\x01';
inline constexpr std::uint8_t kTextCodeDigitBase = 14;

enum class TextCodeKind : std::uint8_t {
    LiteralBackslash = 0x01,
    Colour = 0x02,      // 3 digits, pad
    FontSize = 0x03,    // 2 digits, pad
    LineHeight = 0x04,  // 2 digits, pad
    EdgeOn = 0x05,
    EdgeOff = 0x06,
    LetterSpacing = 0x07,  // one byte n + 120
    Ruby = 0x09,           // base text, "," and ruby text up to "]" follow as plain text
    InstantRevealOff = 0x0B,
    RevealSpeed = 0x0C,  // 3 digits, pad
    TimedWait = 0x0E,
    KeyPause = 0x0F,
    CloseAfterReveal = 0x10,
    FontSlot = 0x11,     // one byte n + 14, pad
    LineSpacing = 0x12,  // 2 digits of n + 1,000
    AlignLeft = 0x13,
    AlignCentre = 0x14,
    AlignRight = 0x15,
    Icon = 0x16,   // 3 digits
    Image = 0x17,  // file name and "]" follow as plain text
    MoveX = 0x18,  // 2 digits of n + 5,000, pad (so are the other cursor and margin kinds)
    MoveY = 0x19,
    AntiAliasOn = 0x1A,
    AntiAliasOff = 0x1B,
    PlaceX = 0x1D,
    PlaceY = 0x1E,
    IconNearest = 0x1F,  // 3 digits
    InstantRevealOn = 0x20,
    EdgeColour = 0x21,    // 3 digits of n + 1
    ImageNearest = 0x22,  // file name and "]" follow as plain text
    EdgeSize = 0x23,      // 2 digits, pad
    ShadowColour = 0x24,  // 3 digits of n + 1
    ImagePercent = 0x25,  // 3 digits
    LeftMargin = 0x26,
    FontSizeStep = 0x27,
    ShadowOn = 0x28,
    ShadowOff = 0x29,
};

// The bytes the run starting at `position` (a 0x01) takes: L + 1, cut at the text's end; 1 when
// the byte after it is missing or no length (below 2), so that a stray 0x01 is passed alone.
std::size_t TextCodeRunLength(std::string_view text, std::size_t position);
// The number stored in parameter digit bytes (each digit + 14), most significant first.
std::int32_t DecodeTextCodeDigits(std::string_view digits);

// Scans the text once and appends, for every code found, its token id and the byte position of
// its first character, in text order.
void TokenizeTextCodes(const std::string& text, std::vector<std::int32_t>& tokens,
                       std::vector<std::int32_t>& positions, bool valuesOnly);

// Expands the codes of a text; see the callers' option table in the message commands.
// Value codes ("\v[", "\s[", "\udb[" ...) become the value or text they name; display codes
// become internal runs. With valuesOnly only the value codes are touched. With headerAllowed a
// first line "@" + number sets system variable 0 and is removed. A database text or data name
// brought in by the expansion is expanded once more in a second pass.
std::string ExpandTextCodes(std::string text, std::int32_t mapEventId, std::int32_t commonEventId,
                            std::int32_t mapId, bool valuesOnly, bool addAffixes,
                            const std::string* prefix, const std::string* suffix,
                            bool headerAllowed);

// The text "\pic[" puts in for picture n: a string picture's text, another picture's file name,
// kPictureNotFoundText when no picture has that id. The picture list installs its reader; until
// then every picture is missing.
using PictureSourceTextReader = std::string (*)(std::int32_t pictureId);
extern PictureSourceTextReader PictureSourceTextHook;
inline constexpr char kPictureNotFoundText[] = "<<NotFound>>";

// Old saves (format below 125) kept other run numbers.
std::string UpgradeOldTextCodes(const std::string& text);
// Internal runs back to their escape text (file names, addresses, CSV texts).
std::string RestoreEscapeCodes(const std::string& text);
// RestoreEscapeCodes, then every line feed shown as a backslash and "n".
std::string RestoreEscapeCodesForLog(const std::string& text);
// Literal-backslash runs back to one backslash each (debug window text and log).
std::string RestoreLiteralBackslashes(const std::string& text);
