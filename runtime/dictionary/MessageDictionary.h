// The message dictionary: every text the runtime shows stands in the program as a Japanese literal
// and is passed through one of the two lookups below, which answer in the current UI language.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The UI language: 0 Japanese, 1 English. The runtime shell writes it (system locale, game data,
// a loaded save, the system variable); the dictionary only reads it, at every lookup. It starts as
// 1, so lookups made before start-up has decided answer in English. Any other value makes every
// lookup miss until it changes back.
extern std::int32_t UiLanguage;

// One row of the message table: the Japanese key (also the Japanese text) and its English text.
// Both views are NUL-terminated (they come from string literals).
struct MessageTableRow {
    std::u16string_view key;
    std::u16string_view english;
};

inline constexpr std::size_t kMessageTableRowCount = 372;

// Every message the runtime looks up, one row per key, keys unique. The rows are kept in a fixed
// order (grouped by the code that looks them up) so that they can be referred to by position.
extern const std::array<MessageTableRow, kMessageTableRowCount> MessageTable;

// What a lookup returns for a key that is not in the table, in either language.
inline constexpr char kMessageErrorString[] = "<ERROR STRING>";
inline constexpr char16_t kMessageErrorStringWide[] = u"<ERROR STRING>";

// How many UTF-8 results stay valid at once.
inline constexpr std::size_t kMessageResultRingSize = 30;

// Looks up `key` (matched exactly, code unit by code unit) and returns its text in `UiLanguage` as
// NUL-terminated UTF-8. A hit lies in a ring of kMessageResultRingSize slots and stays valid until
// that many further hits have been made (from any thread); a language change does not touch it.
// A miss returns kMessageErrorString (valid for the whole run) and leaves the ring alone.
// Safe to call from several threads.
const char* TranslateMessageUtf8(std::u16string key);

// The same lookup answering in UTF-16, for texts handed straight to a message box. The result
// points into the constant table (or is kMessageErrorStringWide on a miss) and stays valid for the
// whole run. Safe to call from several threads.
const char16_t* TranslateMessageWide(std::u16string key);
