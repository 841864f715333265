#include "runtime/presentation/TextCodes.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "runtime/data/Game_Database.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"

namespace {

std::string NoPicture(std::int32_t) {
    return kPictureNotFoundText;
}

}  // namespace

PictureSourceTextReader PictureSourceTextHook = &NoPicture;

namespace {

// Token ids of the scanner.
constexpr std::int32_t kTokenDoubleBackslash = 1;
constexpr std::int32_t kTokenLoneBackslash = 2;
constexpr std::int32_t kTokenLastValueCode = 52;
constexpr std::int32_t kTokenCarriageReturn = 100;

// Variable id bases of the value codes.
constexpr std::uint32_t kSelfBase = 1000000;
constexpr std::uint32_t kNormalBase = 2000000;
constexpr std::uint32_t kSpareBlock = 100000;
constexpr std::uint32_t kStringBase = 3000000;
constexpr std::uint32_t kSystemVariableBase = 9000000;
constexpr std::uint32_t kSystemStringBase = 9900000;
constexpr std::uint32_t kCommonSelfBase = 15000000;

// How a display code with a number is stored.
enum class Param : std::uint8_t {
    None,          // no number: the run replaces the name alone
    Colour,        // 0..9,999, report above
    FontSize,      // 2..999
    LineHeight,    // 1..screen width
    Spacing,       // -100..100, report in test play
    Speed,         // 60,000 at most, 0 or below the instant speed
    FontSlot,      // 0..3, report outside
    LineSpacing,   // n + 1,000 in 0..2,000
    Icon,          // 0..9,999
    Percent,       // 0..999
    Offset,        // n + 5,000 in 0..10,000
    EdgeSize,      // 1..5
    ColourOrNone,  // -1..9,999, stored plus 1
};

// One escape code: its name after the backslash (its "[" included), its token id, what it
// becomes, and the first line of the report of a missing "]".
struct CodeName {
    const char* name;
    std::int32_t id;
    std::uint8_t kind;
    Param param;
    const char16_t* missingClose;
};

// Names are matched exactly; none is a prefix of another.
constexpr CodeName kCodes[] = {
    {"v[", 10, 0, Param::None, u"エラー：\\v[の「]」が見つかりません"},
    {"v1[", 11, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v2[", 12, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v3[", 13, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v4[", 14, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v5[", 15, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v6[", 16, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v7[", 17, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v8[", 18, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"v9[", 19, 0, Param::None, u"エラー：\\v?の「]」が見つかりません"},
    {"s[", 20, 0, Param::None, u"エラー：\\sの「]」が見つかりません"},
    {"self[", 30, 0, Param::None, u"エラー：\\selfの「]」が見つかりません"},
    {"cself[", 31, 0, Param::None, u"エラー：\\cselfの「]」が見つかりません"},
    {"sys[", 40, 0, Param::None, u"エラー：\\sysの「]」が見つかりません"},
    {"sysS[", 41, 0, Param::None, u"エラー：\\sysSの「]」が見つかりません"},
    {"udb[", 50, 0, Param::None, u"エラー：\\?dbの「]」が見つかりません"},
    {"cdb[", 51, 0, Param::None, u"エラー：\\?dbの「]」が見つかりません"},
    {"sdb[", 52, 0, Param::None, u"エラー：\\?dbの「]」が見つかりません"},
    {"c[", 101, 0x02, Param::Colour, u"エラー：\\cの「]」が見つかりません"},
    {"font[", 102, 0x11, Param::FontSlot, u"エラー：\\fontの「]」が見つかりません"},
    {"f[", 103, 0x03, Param::FontSize, u"エラー：\\fの「]」が見つかりません"},
    {"m[", 104, 0x04, Param::LineHeight, u"エラー：\\mの「]」が見つかりません"},
    {"E", 105, 0x05, Param::None, nullptr},
    {"N", 106, 0x06, Param::None, nullptr},
    {"-[", 107, 0x07, Param::Spacing, u"エラー：\\-の「]」が見つかりません"},
    {"r[", 108, 0x09, Param::None, nullptr},
    {">", 112, 0x20, Param::None, nullptr},
    {"<", 113, 0x0B, Param::None, nullptr},
    {"sp[", 114, 0x0C, Param::Speed, u"エラー：\\spの「]」が見つかりません"},
    {".", 116, 0x0E, Param::None, nullptr},
    {"!", 117, 0x0F, Param::None, nullptr},
    {"^", 120, 0x10, Param::None, nullptr},
    {"space[", 122, 0x12, Param::LineSpacing, u"エラー：\\spaceの「]」が見つかりません"},
    {"i[", 126, 0x16, Param::Icon, u"エラー：\\iの「]」が見つかりません"},
    {"img[", 127, 0x17, Param::None, nullptr},
    {"mx[", 130, 0x18, Param::Offset, u"エラー：\\mxの「]」が見つかりません"},
    {"my[", 131, 0x19, Param::Offset, u"エラー：\\myの「]」が見つかりません"},
    {"A+", 132, 0x1A, Param::None, nullptr},
    {"A-", 133, 0x1B, Param::None, nullptr},
    {"ax[", 135, 0x1D, Param::Offset, u"エラー：\\axの「]」が見つかりません"},
    {"ay[", 136, 0x1E, Param::Offset, u"エラー：\\ayの「]」が見つかりません"},
    {"iS[", 137, 0x1F, Param::Icon, u"エラー：\\iの「]」が見つかりません"},
    {"cE[", 141, 0x21, Param::ColourOrNone, u"エラー：\\cE[の「]」が見つかりません"},
    {"imgS[", 142, 0x22, Param::None, nullptr},
    {"wE[", 143, 0x23, Param::EdgeSize, u"エラー：\\wE[の「]」が見つかりません"},
    {"cS[", 144, 0x24, Param::ColourOrNone, u"エラー：\\cS[の「]」が見つかりません"},
    {"isize[", 145, 0x25, Param::Percent, u"エラー：\\isize[の「]」が見つかりません"},
    {"bx[", 146, 0x26, Param::Offset, u"エラー：\\bx[の「]」が見つかりません"},
    {"f+[", 147, 0x27, Param::Offset, u"エラー：\\f+[の「]」が見つかりません"},
    {"sh+", 148, 0x28, Param::None, nullptr},
    {"sh-", 149, 0x29, Param::None, nullptr},
    {"pic[", 150, 0, Param::None, u"エラー：\\pic[の「]」が見つかりません"},
};

constexpr std::int32_t kTokenPicture = 150;

// The three alignment tags "<L>", "<C>", "<R>".
constexpr std::int32_t kTokenAlignLeft = 123;

const CodeName* FindCode(std::int32_t id) {
    for (const CodeName& code : kCodes) {
        if (code.id == id) return &code;
    }
    return nullptr;
}

std::size_t NameLength(const CodeName& code) {
    return std::strlen(code.name);
}

// The code whose name stands at `at` (right after a backslash), or null.
const CodeName* MatchCode(const std::string& text, std::size_t at) {
    for (const CodeName& code : kCodes) {
        const std::size_t length = NameLength(code);
        if (text.compare(at, length, code.name) != 0 || at + length > text.size()) continue;
        // "\v[" needs something after its bracket.
        if (code.id == 10 && at + length >= text.size()) continue;
        return &code;
    }
    return nullptr;
}

// Whether a backslash followed by this byte may begin a name; such a backslash that completes no
// name stays an ordinary character.
bool BeginsAName(char c) {
    for (const CodeName& code : kCodes) {
        if (code.name[0] == c) return true;
    }
    return false;
}

// The bytes of the UTF-8 character at i: its lead byte and as many continuation bytes as the lead
// announces and the text holds, so that a damaged character never swallows a run or a code.
std::size_t CharacterLength(const std::string& text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t want = 1;
    if (lead >= 0xFC && lead < 0xFE) {
        want = 6;
    } else if (lead >= 0xF8) {
        want = lead < 0xFC ? 5 : 1;
    } else if (lead >= 0xF0) {
        want = 4;
    } else if (lead >= 0xE0) {
        want = 3;
    } else if (lead >= 0xC0) {
        want = 2;
    }
    std::size_t length = 1;
    while (length < want && i + length < text.size() &&
           (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

// The first `target` byte at or after `from`, stepping over runs whole (a run's digit bytes may
// equal "]" or ":"), before `end`; npos when none.
std::size_t FindOutsideRuns(const std::string& text, char target, std::size_t from,
                            std::size_t end = std::string::npos) {
    end = std::min(end, text.size());
    std::size_t i = from;
    while (i < end) {
        if (text[i] == kTextCodeRunByte) {
            i += TextCodeRunLength(text, i);
        } else if (text[i] == target) {
            return i;
        } else {
            ++i;
        }
    }
    return std::string::npos;
}

// A number as the C library's atoi reads it from `from` (blanks, a sign, digits), within the
// text and before `end`; beyond the 32-bit range it stays at the nearest limit.
std::int32_t ReadNumber(const std::string& text, std::size_t from,
                        std::size_t end = std::string::npos) {
    end = std::min(end, text.size());
    if (from >= end) return 0;
    return ReadLeadingInt32(std::string_view(text).substr(from, end - from));
}

// An id computed as the 32-bit arithmetic of the game data's format does it: wrapping.
std::int32_t WrapId(std::int64_t id) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(id)));
}

std::string Decimal(std::int32_t value) {
    return std::to_string(value);
}

void Report(const char16_t* first, const std::string& second, const std::string& third) {
    ReportRuntimeError(true, TranslateMessageUtf8(first), second, third);
}

std::string FormatOne(const char16_t* format, std::int32_t value) {
    std::string text = TranslateMessageUtf8(format);
    const std::size_t at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, Decimal(value));
    return text;
}

std::string Run(std::uint8_t kind, std::initializer_list<std::uint8_t> parameters) {
    std::string run;
    run += kTextCodeRunByte;
    run += static_cast<char>(parameters.size() + 2);
    run += static_cast<char>(kind);
    for (std::uint8_t b : parameters) run += static_cast<char>(b);
    return run;
}

std::uint8_t Digit(std::int32_t d) {
    return static_cast<std::uint8_t>(d + kTextCodeDigitBase);
}

// Two digits of 0..10,000, three of 0..65,535.
std::string TwoDigitRun(std::uint8_t kind, std::int32_t v, bool pad) {
    if (pad) return Run(kind, {Digit(v / 64), Digit(v % 64), 0x01});
    return Run(kind, {Digit(v / 64), Digit(v % 64)});
}

std::string ThreeDigitRun(std::uint8_t kind, std::int32_t v, bool pad) {
    if (pad) return Run(kind, {Digit(v / 4096), Digit(v % 4096 / 64), Digit(v % 64), 0x01});
    return Run(kind, {Digit(v / 4096), Digit(v % 4096 / 64), Digit(v % 64)});
}

std::int32_t Clamp(std::int64_t n, std::int64_t low, std::int64_t high) {
    return static_cast<std::int32_t>(std::clamp(n, low, high));
}

// The game screen's width in logical pixels ("\m[" may not exceed it, nor what two digits hold).
std::int32_t GameScreenWidth() {
    const std::int32_t width = ScreenWidth / std::max(WindowScale, 1);
    return std::clamp(width, 1, 10000);
}

// The run of a display code with its number n (already read).
std::string DisplayRun(const CodeName& code, std::int32_t n) {
    const std::uint8_t kind = code.kind;
    switch (code.param) {
        case Param::Colour:
            if (n > 9999) {
                Report(u"エラー：\\cの[]内は9999以下までしか受け付けません",
                       FormatOne(u"指定色 > %d", n), GetScriptLocationText());
            }
            return ThreeDigitRun(kind, Clamp(n, 0, 9999), true);
        case Param::FontSize:
            return TwoDigitRun(kind, Clamp(n, 2, 999), true);
        case Param::LineHeight:
            return TwoDigitRun(kind, Clamp(n, 1, GameScreenWidth()), true);
        case Param::Spacing:
            if ((n < -100 || n > 100) && TestPlay) {
                Report(u"エラー：\\-の数値が-100～100の範囲を超えています", Decimal(n),
                       GetScriptLocationText());
            }
            return Run(kind, {static_cast<std::uint8_t>(Clamp(n, -100, 100) + 120)});
        case Param::Speed:
            return ThreeDigitRun(kind, n <= 0 ? 65535 : std::min(n, 60000), true);
        case Param::FontSlot:
            // The slot is one byte n + 14: outside 0..3 it could become 0x00 or 0x01 and break
            // the text, so it is clamped once reported.
            if (n < 0 || n > 3)
                Report(u"エラー：\\fontの[ ]内の値が0～3の範囲を超えています", "", "");
            return Run(kind, {Digit(Clamp(n, 0, 3)), 0x01});
        case Param::LineSpacing:
            return TwoDigitRun(kind, Clamp(std::int64_t{n} + 1000, 0, 2000), false);
        case Param::Icon:
            return ThreeDigitRun(kind, Clamp(n, 0, 9999), false);
        case Param::Percent:
            return ThreeDigitRun(kind, Clamp(n, 0, 999), false);
        case Param::Offset:
            return TwoDigitRun(kind, Clamp(std::int64_t{n} + 5000, 0, 10000), true);
        case Param::EdgeSize:
            return TwoDigitRun(kind, Clamp(n, 1, 5), true);
        case Param::ColourOrNone:
            return ThreeDigitRun(kind, Clamp(n, -1, 9999) + 1, false);
        case Param::None:
            break;
    }
    return Run(kind, {});
}

struct Expansion {
    std::int32_t mapEventId;
    std::int32_t commonEventId;
    std::int32_t mapId;
    std::int32_t passLimit = 1;
};

std::int32_t ReadValue(std::int64_t id) {
    const std::int32_t value = TheVariables.GetValue(WrapId(id));
    TheVariables.mapOverride = -1;
    return value;
}

std::string ReadText(std::int64_t id) {
    const std::string text = TheVariables.GetString(WrapId(id));
    TheVariables.mapOverride = -1;
    return text;
}

// What a value code gives for its number n.
std::string ValueText(Expansion& e, std::int32_t id, std::int32_t n) {
    if (id == 10) return Decimal(ReadValue(kNormalBase + std::int64_t{n}));
    if (id >= 11 && id <= 19) {
        return Decimal(ReadValue(kNormalBase + (id - 10) * std::int64_t{kSpareBlock} + n));
    }
    switch (id) {
        case 20:
            return ReadText(kStringBase + std::int64_t{n});
        case 30:
            TheVariables.mapOverride = e.mapId;
            return Decimal(ReadValue(kSelfBase + std::int64_t{e.mapEventId} * 10 + n));
        case 31: {
            const std::int64_t cell = kCommonSelfBase + std::int64_t{e.commonEventId} * 100 + n;
            return n >= 5 && n <= 9 ? ReadText(cell) : Decimal(ReadValue(cell));
        }
        case 40:
            return Decimal(ReadValue(kSystemVariableBase + std::int64_t{n}));
        case 41:
            return ReadText(kSystemStringBase + std::int64_t{n});
        case kTokenPicture:
            return PictureSourceTextHook ? PictureSourceTextHook(n) : kPictureNotFoundText;
        default:
            return {};
    }
}

// "\udb[", "\cdb[", "\sdb[": a type name, a data name, or a cell, by how many numbers stand
// between the brackets. The separators are sought only up to the code's own "]", so that a ":"
// later in the text is never taken for one.
void ExpandDatabaseReference(Expansion& e, std::string& text, const CodeName& code, std::size_t p) {
    const std::size_t close = FindOutsideRuns(text, ']', p);
    if (close == std::string::npos) {
        Report(code.missingClose, GetScriptLocationText(), "");
        return;
    }
    const Game_Database& database = code.id == 50   ? TheUserDatabase
                                    : code.id == 51 ? TheVariableDatabase
                                                    : TheSystemDatabase;
    const std::int64_t base = code.id == 50 ? 1000 : code.id == 51 ? 1100 : 1300;
    const std::size_t numberAt = p + 1 + NameLength(code);
    const std::size_t colon1 = FindOutsideRuns(text, ':', p, close);
    std::string result;
    if (colon1 == std::string::npos) {
        result = database.TypeName(ReadNumber(text, numberAt, close));
    } else {
        const std::int32_t type = ReadNumber(text, numberAt, close);
        const std::size_t colon2 = FindOutsideRuns(text, ':', colon1 + 1, close);
        const std::int32_t data = ReadNumber(text, colon1 + 1, close);
        if (colon2 == std::string::npos) {
            result = database.DataName(type, data);
            e.passLimit = 2;
        } else {
            const std::int32_t field = ReadNumber(text, colon2 + 1, close);
            const std::int64_t id = ((base + type) * 10000 + data) * 100 + field;
            result = ReadText(id);
            if (result == kVariableErrorText) {
                result = Decimal(ReadValue(id));
            } else {
                e.passLimit = 2;
            }
        }
    }
    text.replace(p, close - p + 1, result);
}

void HandleToken(Expansion& e, std::string& text, std::int32_t token, std::size_t p) {
    if (token == kTokenDoubleBackslash) {
        text.replace(p, 2, Run(0x01, {}));
        return;
    }
    if (token == kTokenLoneBackslash) {
        text.replace(p, 1, Run(0x01, {}));
        return;
    }
    if (token == kTokenCarriageReturn) {
        text.erase(p, 1);
        return;
    }
    if (token >= kTokenAlignLeft && token <= kTokenAlignLeft + 2) {
        text.replace(p, 3, Run(static_cast<std::uint8_t>(0x13 + token - kTokenAlignLeft), {}));
        return;
    }
    const CodeName* code = FindCode(token);
    if (!code) return;
    if (token >= 50 && token <= 52) {
        ExpandDatabaseReference(e, text, *code, p);
        return;
    }
    const std::size_t nameEnd = p + 1 + NameLength(*code);
    if (code->param == Param::None && code->kind != 0) {
        text.replace(p, nameEnd - p, Run(code->kind, {}));
        return;
    }
    std::size_t close = FindOutsideRuns(text, ']', p);
    if (close == std::string::npos) {
        // Taken as closed right after the backslash: the rest of the code stays as plain text.
        Report(code->missingClose, GetScriptLocationText(), "");
        close = p + 1;
    }
    const std::int32_t n = ReadNumber(text, nameEnd);
    const std::string result = code->kind != 0 ? DisplayRun(*code, n) : ValueText(e, token, n);
    text.replace(p, close - p + 1, result);
}

}  // namespace

std::size_t TextCodeRunLength(std::string_view text, std::size_t position) {
    if (position + 1 >= text.size()) return 1;
    const auto length = static_cast<unsigned char>(text[position + 1]);
    if (length < 2) return 1;
    return std::min<std::size_t>(std::size_t{length} + 1, text.size() - position);
}

std::int32_t DecodeTextCodeDigits(std::string_view digits) {
    std::int32_t value = 0;
    for (char c : digits) value = value * 64 + (static_cast<unsigned char>(c) - kTextCodeDigitBase);
    return value;
}

void TokenizeTextCodes(const std::string& text, std::vector<std::int32_t>& tokens,
                       std::vector<std::int32_t>& positions, bool valuesOnly) {
    const auto add = [&](std::int32_t token, std::size_t at) {
        tokens.push_back(token);
        positions.push_back(static_cast<std::int32_t>(at));
    };
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const char c = text[i];
        if (c == kTextCodeRunByte) {
            i += TextCodeRunLength(text, i);
        } else if (c == '\r') {
            if (!valuesOnly) add(kTokenCarriageReturn, i);
            ++i;
        } else if (c == '<' && i + 2 < size && text[i + 2] == '>' &&
                   (text[i + 1] == 'L' || text[i + 1] == 'C' || text[i + 1] == 'R')) {
            if (!valuesOnly) {
                add(kTokenAlignLeft + (text[i + 1] == 'L' ? 0 : text[i + 1] == 'C' ? 1 : 2), i);
            }
            i += 3;
        } else if (c == '\\') {
            if (i + 1 < size && text[i + 1] == '\\') {
                if (!valuesOnly) add(kTokenDoubleBackslash, i);
                i += 2;
                continue;
            }
            if (const CodeName* code = MatchCode(text, i + 1)) {
                if (!valuesOnly || code->id <= kTokenLastValueCode) add(code->id, i);
                i += 1 + NameLength(*code);
                continue;
            }
            if ((i + 1 >= size || !BeginsAName(text[i + 1])) && !valuesOnly) {
                add(kTokenLoneBackslash, i);
            }
            ++i;
        } else {
            i += CharacterLength(text, i);
        }
    }
}

std::string ExpandTextCodes(std::string text, std::int32_t mapEventId, std::int32_t commonEventId,
                            std::int32_t mapId, bool valuesOnly, bool addAffixes,
                            const std::string* prefix, const std::string* suffix,
                            bool headerAllowed) {
    if (headerAllowed && !text.empty() && text[0] == '@') {
        const std::size_t lineFeed = text.find('\n');
        if (lineFeed == std::string::npos) {
            text.clear();
        } else {
            std::int32_t value = 0;
            if (lineFeed - 1 > 9) {
                Report(u"＠後に数字だけでなく、文字が入っている可能性があります", "", "");
            } else {
                value = ReadNumber(text, 1, lineFeed);
            }
            TheVariables.SetValue(static_cast<std::int32_t>(kSystemVariableBase), value);
            text.erase(0, lineFeed + 1);
        }
    }
    if (addAffixes) {
        if (prefix) text.insert(0, *prefix);
        if (suffix) text += *suffix;
    }
    Expansion e{mapEventId, commonEventId, mapId};
    std::vector<std::int32_t> tokens;
    std::vector<std::int32_t> positions;
    for (std::int32_t pass = 0; pass < e.passLimit; ++pass) {
        tokens.clear();
        positions.clear();
        TokenizeTextCodes(text, tokens, positions, valuesOnly);
        // From the last code to the first: a replacement changes only the text at and after its
        // own code, so the positions before it stay valid, and a code nested in another's
        // brackets is replaced before the outer one reads them.
        for (std::size_t k = tokens.size(); k-- > 0;) {
            HandleToken(e, text, tokens[k], static_cast<std::size_t>(positions[k]));
        }
    }
    return text;
}

namespace {

struct OldCode {
    std::uint8_t oldCode;
    std::uint8_t length;
    std::uint8_t kind;
};

// Old two-byte heads (0x01, code) and the current three-byte heads they become, in search order.
// Code 0x1F of old texts was a literal backslash.
constexpr OldCode kOldCodes[] = {
    {0x01, 2, 0x01}, {0x02, 6, 0x02}, {0x11, 4, 0x11}, {0x03, 5, 0x03}, {0x04, 5, 0x04},
    {0x05, 2, 0x05}, {0x06, 2, 0x06}, {0x07, 3, 0x07}, {0x09, 2, 0x09}, {0x20, 2, 0x20},
    {0x0B, 2, 0x0B}, {0x0C, 6, 0x0C}, {0x0E, 2, 0x0E}, {0x0F, 2, 0x0F}, {0x10, 2, 0x10},
    {0x12, 4, 0x12}, {0x13, 2, 0x13}, {0x14, 2, 0x14}, {0x15, 2, 0x15}, {0x16, 5, 0x16},
    {0x17, 2, 0x17}, {0x18, 5, 0x18}, {0x19, 5, 0x19}, {0x1A, 2, 0x1A}, {0x1B, 2, 0x1B},
    {0x1D, 5, 0x1D}, {0x1E, 5, 0x1E}, {0x1F, 2, 0x01},
};

// The escape text of a three-byte run, or null when the kind has none.
const char* EscapeOf(std::uint8_t kind) {
    switch (kind) {
        case 0x01:
            return "\\";
        case 0x05:
            return "\\E";
        case 0x06:
            return "\\N";
        case 0x09:
            return "\\r[";
        case 0x0B:
            return "\\<";
        case 0x0E:
            return "\\.";
        case 0x0F:
            return "\\!";
        case 0x10:
            return "\\^";
        case 0x13:
            return "<L>";
        case 0x14:
            return "<C>";
        case 0x15:
            return "<R>";
        case 0x17:
            return "\\img[";
        case 0x1A:
            return "\\A+";
        case 0x1B:
            return "\\A-";
        case 0x20:
            return "\\>";
        case 0x22:
            return "\\imgS[";
        case 0x28:
            return "\\sh+";
        case 0x29:
            return "\\sh-";
        default:
            return nullptr;
    }
}

// Six-byte runs that file names, string operations and logs drop.
bool DroppedWhenRestored(std::uint8_t kind) {
    switch (kind) {
        case 0x03:
        case 0x16:
        case 0x18:
        case 0x19:
        case 0x1D:
        case 0x1E:
        case 0x1F:
        case 0x21:
        case 0x23:
        case 0x24:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string UpgradeOldTextCodes(const std::string& text) {
    if (text.find(kTextCodeRunByte) == std::string::npos) return text;
    std::string result = text;
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (result[i] != kTextCodeRunByte || i + 1 >= result.size()) continue;
        const auto code = static_cast<std::uint8_t>(result[i + 1]);
        for (const OldCode& row : kOldCodes) {
            if (row.oldCode != code) continue;
            // The parameter bytes stay where they are, behind the new head.
            const char head[3] = {kTextCodeRunByte, static_cast<char>(row.length),
                                  static_cast<char>(row.kind)};
            result.replace(i, 2, head, 3);
            i += row.length;
            break;
        }
    }
    return result;
}

// Runs are walked whole, one after another: a run restored or dropped is never looked at again,
// and a run without an escape text (colours, spacing, speeds, slots, line heights and the like)
// is passed on unchanged, so the walk always ends.
std::string RestoreEscapeCodes(const std::string& text) {
    if (text.find(kTextCodeRunByte) == std::string::npos) return text;
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != kTextCodeRunByte) {
            result += text[i++];
            continue;
        }
        const std::size_t length = TextCodeRunLength(text, i);
        const auto kind = length >= 3 ? static_cast<std::uint8_t>(text[i + 2]) : 0;
        if (length == 3 && text[i + 1] == 2) {
            if (const char* escape = EscapeOf(kind)) {
                result += escape;
                i += 3;
                continue;
            }
        } else if (length == 6 && text[i + 1] == 5 && DroppedWhenRestored(kind)) {
            i += 6;
            continue;
        }
        result.append(text, i, length);
        i += length;
    }
    return result;
}

std::string RestoreEscapeCodesForLog(const std::string& text) {
    std::string restored = RestoreEscapeCodes(text);
    std::string result;
    result.reserve(restored.size());
    for (char c : restored) {
        if (c == '\n') {
            result += "\\n";
        } else {
            result += c;
        }
    }
    return result;
}

std::string RestoreLiteralBackslashes(const std::string& text) {
    static const std::string kLiteral = Run(0x01, {});
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text.compare(i, kLiteral.size(), kLiteral) == 0) {
            result += '\\';
            i += kLiteral.size();
        } else {
            result += text[i++];
        }
    }
    return result;
}
