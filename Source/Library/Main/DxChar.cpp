#include "Main/DxChar.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>

#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

std::int32_t NarrowEncoding = 0;
std::int32_t WideEncoding = 0;
std::int32_t CharSetId = 0;

namespace {

using Byte = std::uint8_t;

const Byte* Bytes(const void* p) {
    return static_cast<const Byte*>(p);
}
Byte* Bytes(void* p) {
    return static_cast<Byte*>(p);
}

// ---- Encoding classes ----------------------------------------------------------------------

bool IsUtf(std::int32_t e) {
    return e == CharEncoding::Utf16Le || e == CharEncoding::Utf16Be || e == CharEncoding::Utf32Le ||
           e == CharEncoding::Utf32Be || e == CharEncoding::Utf8;
}

// Index of a table-driven encoding's code-page tables, or -1.
int TableIndex(std::int32_t e) {
    switch (e) {
        case CharEncoding::ShiftJis:
            return 0;
        case CharEncoding::Gbk:
            return 1;
        case CharEncoding::Uhc:
            return 2;
        case CharEncoding::Big5:
            return 3;
        case CharEncoding::Western:
            return 4;
        case CharEncoding::WesternEuro:
            return 5;
        default:
            return -1;
    }
}

bool IsDoubleByte(std::int32_t e) {
    return e == CharEncoding::ShiftJis || e == CharEncoding::Gbk || e == CharEncoding::Uhc ||
           e == CharEncoding::Big5;
}

bool IsShiftJisLead(Byte b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsLeadByte(std::int32_t e, Byte b) {
    return e == CharEncoding::ShiftJis ? IsShiftJisLead(b) : b >= 0x80;
}

std::uint32_t Load16(const Byte* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 8 | p[1]) : (std::uint32_t{p[1]} << 8 | p[0]);
}

std::uint32_t Load32(const Byte* p, bool bigEndian) {
    return bigEndian ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                        std::uint32_t{p[2]} << 8 | p[3])
                     : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                        std::uint32_t{p[1]} << 8 | p[0]);
}

void Store16(Byte* p, std::uint32_t v, bool bigEndian) {
    if (bigEndian) {
        p[0] = static_cast<Byte>(v >> 8), p[1] = static_cast<Byte>(v);
    } else {
        p[0] = static_cast<Byte>(v), p[1] = static_cast<Byte>(v >> 8);
    }
}

void Store32(Byte* p, std::uint32_t v, bool bigEndian) {
    for (int k = 0; k < 4; ++k) {
        p[bigEndian ? 3 - k : k] = static_cast<Byte>(v >> (8 * k));
    }
}

// Length of a UTF-8 character by its first byte, 0 for a byte that starts none.
int Utf8Length(Byte b) {
    if (b < 0x80) return 1;
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    if (b < 0xF8) return 4;
    if (b < 0xFC) return 5;
    if (b < 0xFE) return 6;
    return 0;
}

// UTF-8 sizes of a value; 0 for 0x80000000 and above.
int Utf8Size(std::uint32_t c) {
    if (c < 0x80) return 1;
    if (c < 0x800) return 2;
    if (c < 0x10000) return 3;
    if (c < 0x200000) return 4;
    if (c < 0x4000000) return 5;
    if (c < 0x80000000u) return 6;
    return 0;
}

void PutUtf8(Byte* p, std::uint32_t c, int size) {
    static constexpr Byte kFirst[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    for (int k = size - 1; k > 0; --k) {
        p[k] = static_cast<Byte>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    p[0] = static_cast<Byte>(kFirst[size] | c);
}

// Decodes the UTF-8 character at p whose length is n (from Utf8Length). Returns false when a
// zero byte cuts it short, so that nothing past a terminator is read.
bool DecodeUtf8(const Byte* p, int n, std::uint32_t& code) {
    static constexpr Byte kPayload[7] = {0, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    std::uint32_t c = p[0] & kPayload[n];
    for (int k = 1; k < n; ++k) {
        if (p[k] == 0) return false;
        c = (c << 6) | (p[k] & 0x3F);
    }
    code = c;
    return true;
}

// ---- Code-page tables ------------------------------------------------------------------------

struct CodePageTable {
    std::atomic<int> built;
    std::uint16_t toUnicode[65536];
    std::uint16_t fromUnicode[65536];
};

CodePageTable g_tables[6];
std::once_flag g_tableOnce[6];

constexpr std::int32_t kTableEncodings[6] = {932, 936, 949, 950, 1252, 32764};

// The characters in which 32764 differs from 1252.
constexpr std::uint16_t kEuroReplacements[8][2] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161},
                                                   {0xB4, 0x017D}, {0xB8, 0x017E}, {0xBC, 0x0152},
                                                   {0xBD, 0x0153}, {0xBE, 0x0178}};

void BuildTable(int index) {
    EnsureSystemApiTable();
    CodePageTable& table = g_tables[index];
    const std::int32_t encoding = kTableEncodings[index];
    const UINT codePage = encoding == CharEncoding::WesternEuro ? 1252 : encoding;
    const bool singleByte = !IsDoubleByte(encoding);
    auto toWide = SystemApi.MultiByteToWideChar;
    // Candidates go in ascending order and each one overwrites the from-Unicode entry of its
    // character, so where several codes give one character the highest code keeps it (in 932
    // the NEC row 13 codes such as 8790 for U+2252, over 81E0). Names written by this rule must
    // be found by it, whatever the system's own conversion would choose.
    if (toWide != nullptr) {
        const unsigned last = singleByte ? 0xFF : 0xFFFF;
        for (unsigned i = 0; i <= last; ++i) {
            char candidate[3];
            int bytes;
            if (i < 256) {
                // A byte that the length rule takes for a lead byte cannot stand alone (936
                // reads 0x80 as the euro sign; written alone it would swallow the next byte).
                if (!singleByte && IsLeadByte(encoding, static_cast<Byte>(i))) continue;
                candidate[0] = static_cast<char>(i), candidate[1] = 0;
                bytes = 2;
            } else {
                if (!IsLeadByte(encoding, static_cast<Byte>(i >> 8))) continue;
                candidate[0] = static_cast<char>(i >> 8), candidate[1] = static_cast<char>(i);
                candidate[2] = 0;
                bytes = 3;
            }
            // Only a candidate that is exactly one character counts: a lead byte that is also a
            // character of its own must not take its terminator as a trail byte, nor a
            // two-byte candidate that reads as two characters stand for the first one.
            char16_t wide[8];
            if (toWide(codePage, MB_ERR_INVALID_CHARS, candidate, bytes, wide, 8) != 2) continue;
            table.toUnicode[i] = wide[0];
            table.fromUnicode[wide[0]] = static_cast<std::uint16_t>(i);
        }
    }

    if (encoding == CharEncoding::WesternEuro) {
        for (const auto& r : kEuroReplacements) {
            // The replaced 1252 character no longer exists in this encoding.
            if (table.fromUnicode[table.toUnicode[r[0]]] == r[0]) {
                table.fromUnicode[table.toUnicode[r[0]]] = 0;
            }
            table.toUnicode[r[0]] = r[1];
            table.fromUnicode[r[1]] = r[0];
        }
    }
    table.built.store(1, std::memory_order_release);
}

// The tables of a table-driven encoding, built on first use; null for other encodings.
const CodePageTable* TablesOf(std::int32_t encoding) {
    int index = TableIndex(encoding);
    if (index < 0) return nullptr;
    CodePageTable& table = g_tables[index];
    if (!table.built.load(std::memory_order_acquire)) {
        std::call_once(g_tableOnce[index], BuildTable, index);
    }
    return &table;
}

// Maps a code between two different supported encodings once both tables are at hand.
std::uint32_t MapChar(std::uint32_t code, std::int32_t src, const CodePageTable* srcTable,
                      std::int32_t dst, const CodePageTable* dstTable) {
    // First as a Unicode value (32765 is byte values taken as code points).
    std::uint32_t u;
    if (srcTable != nullptr) {
        if (code > 0xFFFF) return 0;
        u = srcTable->toUnicode[code];
        if (u == 0) return 0;
    } else if (IsUtf(src) || src == CharEncoding::Ascii) {
        u = code;
    } else {
        return 0;
    }
    if (IsUtf(dst)) return u;
    if (dst == CharEncoding::Ascii) return u < 256 ? u : 0;
    if (dstTable != nullptr) return u > 0xFFFF ? 0 : dstTable->fromUnicode[u];
    return 0;
}

// ---- Direct converters between Shift-JIS, the UTF encodings and 32765 ----------------------

// A reader takes the next character of its source: false at the end of the text (terminator,
// invalid first unit, or a character cut short by a zero unit); otherwise code is a Unicode value,
// 0 for a character without one, which is dropped.
struct SjisReader {
    const std::uint16_t* toUnicode;
    bool Next(const Byte*& p, std::int64_t& units, std::uint32_t& code) const {
        Byte b = p[0];
        if (b == 0) return false;
        if (IsShiftJisLead(b)) {
            if (p[1] == 0) return false;
            code = toUnicode[(unsigned{b} << 8) | p[1]];
            p += 2, units += 2;
        } else {
            code = toUnicode[b];
            ++p, ++units;
        }
        return true;
    }
};

template <bool BigEndian>
struct Utf16Reader {
    bool Next(const Byte*& p, std::int64_t& units, std::uint32_t& code) const {
        std::uint32_t first = Load16(p, BigEndian);
        if (first == 0) return false;
        if ((first >> 8) >= 0xD8 && (first >> 8) <= 0xDB) {
            std::uint32_t second = Load16(p + 2, BigEndian);
            if (second == 0) return false;
            code = (((first & 0x3FF) << 10) | (second & 0x3FF)) + 0x10000;
            p += 4, units += 2;
        } else {
            code = first;
            p += 2, ++units;
        }
        return true;
    }
};

template <bool BigEndian>
struct Utf32Reader {
    bool Next(const Byte*& p, std::int64_t& units, std::uint32_t& code) const {
        code = Load32(p, BigEndian);
        if (code == 0) return false;
        p += 4, ++units;
        return true;
    }
};

struct Utf8Reader {
    bool Next(const Byte*& p, std::int64_t& units, std::uint32_t& code) const {
        Byte b = p[0];
        if (b < 0x80) {
            if (b == 0) return false;
            code = b;
            ++p, ++units;
            return true;
        }
        int n = Utf8Length(b);
        if (n == 0 || !DecodeUtf8(p, n, code) || code == 0) return false;
        p += n, units += n;
        return true;
    }
};

// A writer gives the bytes a Unicode value takes (0: dropped) and puts them.
struct SjisWriter {
    const std::uint16_t* fromUnicode;
    int Size(std::uint32_t& c) const {
        if (c > 0xFFFF) return 0;
        c = fromUnicode[c];
        return c == 0 ? 0 : (c < 256 ? 1 : 2);
    }
    void Put(Byte* p, std::uint32_t c, int n) const {
        if (n == 1) {
            p[0] = static_cast<Byte>(c);
        } else {
            p[0] = static_cast<Byte>(c >> 8), p[1] = static_cast<Byte>(c);
        }
    }
};

template <bool BigEndian>
struct Utf16Writer {
    int Size(std::uint32_t& c) const { return c > 0x10FFFF ? 0 : (c < 0x10000 ? 2 : 4); }
    void Put(Byte* p, std::uint32_t c, int n) const {
        if (n == 2) {
            Store16(p, c, BigEndian);
        } else {
            Store16(p, 0xD800 | (((c >> 10) - 0x40) & 0x3FF), BigEndian);
            Store16(p + 2, 0xDC00 | (c & 0x3FF), BigEndian);
        }
    }
};

template <bool BigEndian>
struct Utf32Writer {
    int Size(std::uint32_t&) const { return 4; }
    void Put(Byte* p, std::uint32_t c, int) const { Store32(p, c, BigEndian); }
};

struct Utf8Writer {
    int Size(std::uint32_t& c) const { return Utf8Size(c); }
    void Put(Byte* p, std::uint32_t c, int n) const {
        if (n == 1) {
            p[0] = static_cast<Byte>(c);
        } else {
            PutUtf8(p, c, n);
        }
    }
};

struct AsciiWriter {
    int Size(std::uint32_t& c) const { return c < 256 ? 1 : 0; }
    void Put(Byte* p, std::uint32_t c, int) const { p[0] = static_cast<Byte>(c); }
};

// A character is written only when the terminator still fits after it; the first one that does
// not fit ends the conversion. With a null destination nothing limits the size.
template <typename Reader, typename Writer>
int ConvertDirect(const Reader& reader, const Writer& writer, const Byte* src, std::int64_t limit,
                  Byte* dst, std::int64_t dstBytes, int terminatorBytes) {
    std::int64_t room = dst != nullptr ? dstBytes - terminatorBytes : INT64_MAX;
    if (room < 0) return 0;
    std::int64_t units = 0, written = 0;
    std::uint32_t code;
    while (units < limit && reader.Next(src, units, code)) {
        if (code == 0) continue;
        int n = writer.Size(code);
        if (n == 0) continue;
        if (dst != nullptr) {
            if (written + n > room) break;
            writer.Put(dst + written, code, n);
        }
        written += n;
    }
    if (dst != nullptr) std::memset(dst + written, 0, terminatorBytes);
    written += terminatorBytes;
    return written > INT_MAX ? INT_MAX : static_cast<int>(written);
}

bool HasDirectRoute(std::int32_t src, std::int32_t dst) {
    auto member = [](std::int32_t e) { return e == CharEncoding::ShiftJis || IsUtf(e); };
    return member(src) && (member(dst) || dst == CharEncoding::Ascii);
}

template <typename Reader>
int ConvertFrom(const Reader& reader, const Byte* src, std::int64_t limit, Byte* dst,
                std::int64_t dstBytes, std::int32_t dstEncoding) {
    switch (dstEncoding) {
        case CharEncoding::ShiftJis:
            return ConvertDirect(reader, SjisWriter{TablesOf(932)->fromUnicode}, src, limit, dst,
                                 dstBytes, 1);
        case CharEncoding::Utf16Le:
            return ConvertDirect(reader, Utf16Writer<false>{}, src, limit, dst, dstBytes, 2);
        case CharEncoding::Utf16Be:
            return ConvertDirect(reader, Utf16Writer<true>{}, src, limit, dst, dstBytes, 2);
        case CharEncoding::Utf32Le:
            return ConvertDirect(reader, Utf32Writer<false>{}, src, limit, dst, dstBytes, 4);
        case CharEncoding::Utf32Be:
            return ConvertDirect(reader, Utf32Writer<true>{}, src, limit, dst, dstBytes, 4);
        case CharEncoding::Utf8:
            return ConvertDirect(reader, Utf8Writer{}, src, limit, dst, dstBytes, 1);
        default:
            return ConvertDirect(reader, AsciiWriter{}, src, limit, dst, dstBytes, 1);
    }
}

int ConvertDirectRoute(const Byte* src, std::int64_t limit, std::int32_t srcEncoding, Byte* dst,
                       std::int64_t dstBytes, std::int32_t dstEncoding) {
    switch (srcEncoding) {
        case CharEncoding::ShiftJis:
            return ConvertFrom(SjisReader{TablesOf(932)->toUnicode}, src, limit, dst, dstBytes,
                               dstEncoding);
        case CharEncoding::Utf16Le:
            return ConvertFrom(Utf16Reader<false>{}, src, limit, dst, dstBytes, dstEncoding);
        case CharEncoding::Utf16Be:
            return ConvertFrom(Utf16Reader<true>{}, src, limit, dst, dstBytes, dstEncoding);
        case CharEncoding::Utf32Le:
            return ConvertFrom(Utf32Reader<false>{}, src, limit, dst, dstBytes, dstEncoding);
        case CharEncoding::Utf32Be:
            return ConvertFrom(Utf32Reader<true>{}, src, limit, dst, dstBytes, dstEncoding);
        default:
            return ConvertFrom(Utf8Reader{}, src, limit, dst, dstBytes, dstEncoding);
    }
}

// Same encoding on both sides: a copy of whole characters (a character cut short by a zero unit
// ends the text; a unit that starts no character is copied as it is).
int CopySameEncoding(const Byte* src, std::int64_t limit, std::int32_t encoding, Byte* dst,
                     std::int64_t dstBytes) {
    const int unit = UnitBytesOfCharCode(encoding);
    std::int64_t room = dst != nullptr ? dstBytes - unit : INT64_MAX;
    if (room < 0) return 0;
    std::int64_t units = 0, written = 0;
    while (units < limit) {
        int n = MeasureCharAt(src, encoding);
        if (n <= 0) n = unit;
        bool cut = false;
        for (int k = 0; k < n && !cut; k += unit) {
            bool zero = true;
            for (int b = 0; b < unit; ++b) zero = zero && src[k + b] == 0;
            if (zero) cut = true;
        }
        if (cut || written + n > room) break;
        if (dst != nullptr) std::memcpy(dst + written, src, n);
        written += n, src += n, units += n / unit;
    }
    if (dst != nullptr) std::memset(dst + written, 0, unit);
    written += unit;
    return written > INT_MAX ? INT_MAX : static_cast<int>(written);
}

// Every other pair: read, map and write one character at a time.
int ConvertGeneric(const Byte* src, std::int64_t limit, std::int32_t srcEncoding, Byte* dst,
                   std::int64_t dstBytes, std::int32_t dstEncoding) {
    const int terminator = UnitBytesOfCharCode(dstEncoding);
    if (terminator <= 0) return 0;
    std::int64_t room = dst != nullptr ? dstBytes - terminator : INT64_MAX;
    if (room < 0) return 0;
    const CodePageTable* srcTable = TablesOf(srcEncoding);
    const CodePageTable* dstTable = TablesOf(dstEncoding);
    std::int64_t units = 0, written = 0;
    while (units < limit) {
        int length;
        std::uint32_t code = ReadCharCodeAtCounted(src, srcEncoding, &length, &units);
        if (length == 0 || code == 0) break;
        src += length;
        code = MapChar(code, srcEncoding, srcTable, dstEncoding, dstTable);
        if (code == 0) continue;
        int n = EncodeCharCode(code, dstEncoding, nullptr, INT_MAX);
        if (n == 0) continue;
        if (dst != nullptr) {
            if (written + n > room) break;
            EncodeCharCodeUnbounded(code, dstEncoding, dst + written);
        }
        written += n;
    }
    if (dst != nullptr) std::memset(dst + written, 0, terminator);
    written += terminator;
    return written > INT_MAX ? INT_MAX : static_cast<int>(written);
}

std::int32_t CharSetOf(std::int32_t encoding) {
    switch (encoding) {
        case CharEncoding::ShiftJis:
            return 1;
        case CharEncoding::Uhc:
            return 2;
        case CharEncoding::Big5:
            return 3;
        case CharEncoding::Gbk:
            return 4;
        case CharEncoding::Western:
            return 5;
        case CharEncoding::WesternEuro:
            return 6;
        case CharEncoding::Utf8:
            return 7;
        default:
            return 0;
    }
}

}  // namespace

// ---- Settings ----------------------------------------------------------------------------------

int SetNarrowCharCode(std::int32_t encoding) {
    ApplyNarrowCharCode(encoding);
    return 0;
}

void ApplyNarrowCharCode(std::int32_t encoding) {
    NarrowEncoding = encoding;
    std::int32_t id = CharSetOf(encoding);
    if (id != 0) {
        CharSetId = id;
    } else if (CharSetId == 0) {
        CharSetId = 1;
    }
    if (WideEncoding == 0) WideEncoding = CharEncoding::Utf16Le;
}

void EnsureDefaultCharCodes() {
    if (CharSetId != 0) return;
    EnsureSystemApiTable();
    WideEncoding = CharEncoding::Utf16Le;
    std::int32_t oem =
        SystemApi.GetOEMCP != nullptr ? static_cast<std::int32_t>(SystemApi.GetOEMCP()) : 0;
    switch (oem) {
        case 936:
        case 949:
        case 950:
        case 1252:
        case 32764:
            break;
        default:
            oem = CharEncoding::ShiftJis;
            break;
    }
    CharSetId = CharSetOf(oem);
    ApplyNarrowCharCode(oem);
}

std::int32_t GetCharSetId() {
    return CharSetId;
}
void StoreCharSetId(std::int32_t id) {
    CharSetId = id;
}
void StoreWideCharCode(std::int32_t encoding) {
    WideEncoding = encoding;
}

// ---- Characters ------------------------------------------------------------------------------

int UnitBytesOfCharCode(std::int32_t encoding) {
    switch (encoding) {
        case 932:
        case 936:
        case 949:
        case 950:
        case 1252:
        case 32764:
        case 32765:
        case 65001:
            return 1;
        case 1200:
        case 1201:
            return 2;
        case 32766:
        case 32767:
            return 4;
        default:
            return -1;
    }
}

int MeasureCharAt(const void* text, std::int32_t encoding) {
    const Byte* p = Bytes(text);
    switch (encoding) {
        case CharEncoding::ShiftJis:
            return IsShiftJisLead(p[0]) ? 2 : 1;
        case CharEncoding::Gbk:
        case CharEncoding::Uhc:
        case CharEncoding::Big5:
            return p[0] >= 0x80 ? 2 : 1;
        case CharEncoding::Western:
        case CharEncoding::WesternEuro:
        case CharEncoding::Ascii:
            return 1;
        case CharEncoding::Utf16Le:
            return p[1] >= 0xD8 && p[1] <= 0xDB ? 4 : 2;
        case CharEncoding::Utf16Be:
            return p[0] >= 0xD8 && p[0] <= 0xDB ? 4 : 2;
        case CharEncoding::Utf32Le:
        case CharEncoding::Utf32Be:
            return 4;
        case CharEncoding::Utf8: {
            int n = Utf8Length(p[0]);
            return n == 0 ? -1 : n;
        }
        default:
            return -1;
    }
}

int SizeOfCharAt(std::int32_t encoding, const void* text) {
    return MeasureCharAt(text, encoding);
}

std::uint32_t ReadCharCodeAtCounted(const void* text, std::int32_t encoding, int* length,
                                    std::int64_t* units) {
    const Byte* p = Bytes(text);
    int n = 0;
    std::int64_t used = 0;
    std::uint32_t code = 0;
    switch (encoding) {
        case CharEncoding::ShiftJis:
        case CharEncoding::Gbk:
        case CharEncoding::Uhc:
        case CharEncoding::Big5:
            if (p[0] == 0) {
                n = 1;
            } else if (IsLeadByte(encoding, p[0])) {
                if (p[1] != 0) code = (std::uint32_t{p[0]} << 8) | p[1], n = 2, used = 2;
            } else {
                code = p[0], n = 1, used = 1;
            }
            break;
        case CharEncoding::Western:
        case CharEncoding::WesternEuro:
        case CharEncoding::Ascii:
            code = p[0], n = 1, used = code != 0;
            break;
        case CharEncoding::Utf16Le:
        case CharEncoding::Utf16Be: {
            const bool be = encoding == CharEncoding::Utf16Be;
            std::uint32_t first = Load16(p, be);
            if (first == 0) {
                n = 2;
            } else if ((first >> 8) >= 0xD8 && (first >> 8) <= 0xDB) {
                std::uint32_t second = Load16(p + 2, be);
                if (second != 0) {
                    code = (((first & 0x3FF) << 10) | (second & 0x3FF)) + 0x10000;
                    n = 4, used = 2;
                }
            } else {
                code = first, n = 2, used = 1;
            }
            break;
        }
        case CharEncoding::Utf32Le:
        case CharEncoding::Utf32Be:
            code = Load32(p, encoding == CharEncoding::Utf32Be), n = 4, used = code != 0;
            break;
        case CharEncoding::Utf8:
            if (p[0] == 0) {
                n = 1;
            } else {
                int k = Utf8Length(p[0]);
                if (k != 0 && DecodeUtf8(p, k, code)) {
                    n = k, used = k;
                } else {
                    code = 0;
                }
            }
            break;
        default:
            break;
    }
    if (length != nullptr) *length = n;
    if (units != nullptr) *units += used;
    return code;
}

std::uint32_t ReadCharCodeAt(const void* text, std::int32_t encoding, int* length) {
    return ReadCharCodeAtCounted(text, encoding, length, nullptr);
}

int EncodeCharCode(std::uint32_t code, std::int32_t encoding, void* buffer, int bufferBytes) {
    int n;
    switch (encoding) {
        case CharEncoding::ShiftJis:
        case CharEncoding::Gbk:
        case CharEncoding::Uhc:
        case CharEncoding::Big5:
            // Codes are single bytes or lead << 8 | trail; wider values are no character here.
            n = code < 256 ? 1 : (code <= 0xFFFF ? 2 : 0);
            break;
        case CharEncoding::Western:
        case CharEncoding::WesternEuro:
        case CharEncoding::Ascii:
            n = code < 256 ? 1 : 0;
            break;
        case CharEncoding::Utf16Le:
        case CharEncoding::Utf16Be:
            n = code > 0x10FFFF ? 0 : (code < 0x10000 ? 2 : 4);
            break;
        case CharEncoding::Utf32Le:
        case CharEncoding::Utf32Be:
            n = 4;
            break;
        case CharEncoding::Utf8:
            n = Utf8Size(code);
            break;
        default:
            n = 0;
            break;
    }
    if (n == 0 || n > bufferBytes) return 0;
    if (buffer != nullptr) EncodeCharCodeUnbounded(code, encoding, buffer);
    return n;
}

int EncodeCharCodeUnbounded(std::uint32_t code, std::int32_t encoding, void* buffer) {
    Byte* p = Bytes(buffer);
    switch (encoding) {
        case CharEncoding::ShiftJis:
        case CharEncoding::Gbk:
        case CharEncoding::Uhc:
        case CharEncoding::Big5:
            if (code < 256) {
                if (p) p[0] = static_cast<Byte>(code);
                return 1;
            }
            if (code > 0xFFFF) return 0;
            if (p) p[0] = static_cast<Byte>(code >> 8), p[1] = static_cast<Byte>(code);
            return 2;
        case CharEncoding::Western:
        case CharEncoding::WesternEuro:
        case CharEncoding::Ascii:
            if (code > 0xFF) return 0;
            if (p) p[0] = static_cast<Byte>(code);
            return 1;
        case CharEncoding::Utf16Le:
        case CharEncoding::Utf16Be: {
            const bool be = encoding == CharEncoding::Utf16Be;
            if (code > 0x10FFFF) return 0;
            if (code < 0x10000) {
                if (p) Store16(p, code, be);
                return 2;
            }
            if (p) {
                Store16(p, 0xD800 | (((code >> 10) - 0x40) & 0x3FF), be);
                Store16(p + 2, 0xDC00 | (code & 0x3FF), be);
            }
            return 4;
        }
        case CharEncoding::Utf32Le:
        case CharEncoding::Utf32Be:
            if (p) Store32(p, code, encoding == CharEncoding::Utf32Be);
            return 4;
        case CharEncoding::Utf8: {
            int n = Utf8Size(code);
            if (n != 0 && p) PutUtf8(p, code, n);
            return n;
        }
        default:
            return 0;
    }
}

int CountCharsInCodeString(const void* text, std::int32_t encoding) {
    const Byte* p = Bytes(text);
    int count = 0;
    for (;;) {
        int n;
        std::uint32_t code = ReadCharCodeAt(p, encoding, &n);
        if (n == 0 || code == 0) return count;
        ++count;
        p += n;
    }
}

void* FindNthCharInCodeString(const void* text, std::int32_t encoding, int index) {
    if (index < 0) return nullptr;
    const Byte* p = Bytes(text);
    for (int i = 0; i < index; ++i) {
        int n;
        std::uint32_t code = ReadCharCodeAt(p, encoding, &n);
        if (n == 0 || code == 0) return nullptr;
        p += n;
    }
    return const_cast<Byte*>(p);
}

int ExpandToCodeArray(const void* text, std::int32_t encoding, std::uint32_t* output) {
    const Byte* p = Bytes(text);
    int count = 0;
    for (;;) {
        int n;
        std::uint32_t code = ReadCharCodeAt(p, encoding, &n);
        if (n == 0 || code == 0) break;
        if (output != nullptr) output[count] = code;
        ++count;
        p += n;
    }
    if (output != nullptr) output[count] = 0;
    return 4 * (count + 1);
}

// ---- Conversion ------------------------------------------------------------------------------

std::uint32_t TranscodeChar(std::uint32_t code, std::int32_t sourceEncoding,
                            std::int32_t destinationEncoding) {
    if (sourceEncoding == destinationEncoding) return code;
    const CodePageTable* srcTable = TablesOf(sourceEncoding);
    const CodePageTable* dstTable = TablesOf(destinationEncoding);
    return MapChar(code, sourceEncoding, srcTable, destinationEncoding, dstTable);
}

int TranscodeString(const void* source, int sourceUnits, std::int32_t sourceEncoding,
                    void* destination, int destinationBytes, std::int32_t destinationEncoding) {
    const Byte* src = Bytes(source);
    Byte* dst = Bytes(destination);
    const std::int64_t limit = sourceUnits < 0 ? INT64_MAX : sourceUnits;
    if (sourceEncoding == destinationEncoding) {
        if (UnitBytesOfCharCode(sourceEncoding) < 0) return -1;
        return CopySameEncoding(src, limit, sourceEncoding, dst, destinationBytes);
    }
    if (HasDirectRoute(sourceEncoding, destinationEncoding)) {
        if (dst != nullptr && destinationBytes < UnitBytesOfCharCode(destinationEncoding)) return 0;
        return ConvertDirectRoute(src, limit, sourceEncoding, dst, destinationBytes,
                                  destinationEncoding);
    }
    return ConvertGeneric(src, limit, sourceEncoding, dst, destinationBytes, destinationEncoding);
}

// ---- Encoding-aware string family ------------------------------------------------------------

namespace {

std::uint32_t UnitAt(const Byte* p, int unit) {
    switch (unit) {
        case 1:
            return p[0];
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void PutUnit(Byte* p, int unit, std::uint32_t v) {
    switch (unit) {
        case 1:
            p[0] = static_cast<Byte>(v);
            break;
        case 2: {
            std::uint16_t w = static_cast<std::uint16_t>(v);
            std::memcpy(p, &w, 2);
            break;
        }
        default:
            std::memcpy(p, &v, 4);
            break;
    }
}

std::int64_t UnitCount(const Byte* p, int unit) {
    std::int64_t n = 0;
    if (unit == 1) return static_cast<std::int64_t>(std::strlen(reinterpret_cast<const char*>(p)));
    while (UnitAt(p + n * unit, unit) != 0) ++n;
    return n;
}

bool HasMultiUnitChars(std::int32_t encoding) {
    return IsDoubleByte(encoding) || encoding == CharEncoding::Utf8 ||
           encoding == CharEncoding::Utf16Le || encoding == CharEncoding::Utf16Be;
}

// The longest prefix of at most maxUnits units of text that ends between two characters. A
// character cut short by a zero unit counts as cut.
std::int64_t WholeCharPrefix(const Byte* text, std::int32_t encoding, std::int64_t maxUnits) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (!HasMultiUnitChars(encoding)) return maxUnits;
    std::int64_t at = 0;
    while (at < maxUnits) {
        int n = MeasureCharAt(text + at * unit, encoding);
        std::int64_t units = n <= 0 ? 1 : n / unit;
        if (at + units > maxUnits) break;
        at += units;
    }
    return at;
}

// Copies at most maxUnits units of src and a terminator; a cut falls between characters.
void CopyBoundedUnits(std::int32_t encoding, Byte* dst, std::int64_t maxUnits, const Byte* src) {
    const int unit = UnitBytesOfCharCode(encoding);
    std::int64_t n = 0;
    while (n < maxUnits && UnitAt(src + n * unit, unit) != 0) ++n;
    if (n == maxUnits && UnitAt(src + n * unit, unit) != 0) n = WholeCharPrefix(src, encoding, n);
    std::memmove(dst, src, n * unit);
    PutUnit(dst + n * unit, unit, 0);
}

int Sign(std::uint32_t a, std::uint32_t b) {
    return a < b ? -1 : (a > b ? 1 : 0);
}

// A character for comparing and searching: a unit that starts no character (or a character cut
// short by the terminator) stands for itself, one unit long.
std::uint32_t ReadCharOrUnit(const Byte* p, std::int32_t encoding, int unit, int& length) {
    std::uint32_t code = ReadCharCodeAt(p, encoding, &length);
    if (length == 0) {
        length = unit;
        code = UnitAt(p, unit);
    }
    return code;
}

bool IsSpaceCode(std::uint32_t c) {
    return (c >= 9 && c <= 13) || c == 32;
}

// The sign and the digit run of a number text; false when the text is null or has no digits.
struct DigitRun {
    const Byte* first = nullptr;  // first digit
    std::int32_t count = 0;
    bool negative = false;
};

DigitRun FindDigits(std::int32_t encoding, const void* text) {
    DigitRun run;
    if (text == nullptr || UnitBytesOfCharCode(encoding) < 0) return run;
    const Byte* p = Bytes(text);
    int n;
    std::uint32_t c = ReadCharCodeAt(p, encoding, &n);
    while (n != 0 && IsSpaceCode(c)) c = ReadCharCodeAt(p += n, encoding, &n);
    if (n != 0 && (c == '+' || c == '-')) {
        run.negative = c == '-';
        c = ReadCharCodeAt(p += n, encoding, &n);
    }
    run.first = p;
    while (n != 0 && c >= '0' && c <= '9') {
        ++run.count;
        c = ReadCharCodeAt(p += n, encoding, &n);
    }
    return run;
}

// The digit values of a run, last first.
template <typename F>
void ForEachDigitFromLast(const DigitRun& run, std::int32_t encoding, F f) {
    // Digits are single units in every encoding but UTF-8 overlong forms; collect their offsets.
    const int unit = UnitBytesOfCharCode(encoding);
    bool allSingle = true;
    const Byte* p = run.first;
    for (std::int32_t i = 0; i < run.count; ++i) {
        int n;
        ReadCharCodeAt(p, encoding, &n);
        if (n != unit) allSingle = false;
        p += n;
    }
    if (allSingle) {
        for (std::int32_t i = run.count - 1; i >= 0; --i) {
            if (!f(ReadCharCodeAt(run.first + i * unit, encoding, nullptr) - '0')) return;
        }
        return;
    }
    std::unique_ptr<std::uint32_t[]> digits(new std::uint32_t[run.count]);
    p = run.first;
    for (std::int32_t i = 0; i < run.count; ++i) {
        int n;
        digits[i] = ReadCharCodeAt(p, encoding, &n) - '0';
        p += n;
    }
    for (std::int32_t i = run.count - 1; i >= 0; --i) {
        if (!f(digits[i])) return;
    }
}

}  // namespace

int CountCodeStringUnits(std::int32_t encoding, const void* text) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0 || text == nullptr) return 0;
    return static_cast<int>(UnitCount(Bytes(text), unit));
}

void CopyCodeString(std::int32_t encoding, void* dst, const void* src) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return;
    std::memmove(dst, src, (UnitCount(Bytes(src), unit) + 1) * unit);
}

void CopyCodeStringBounded(std::int32_t encoding, void* dst, int bytes, const void* src) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0 || bytes < unit) return;
    CopyBoundedUnits(encoding, Bytes(dst), bytes / unit - 1, Bytes(src));
}

void AppendCodeString(std::int32_t encoding, void* dst, const void* src) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return;
    CopyCodeString(encoding, Bytes(dst) + UnitCount(Bytes(dst), unit) * unit, src);
}

void AppendCodeStringBounded(std::int32_t encoding, void* dst, int bytes, const void* src) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return;
    std::int64_t used = UnitCount(Bytes(dst), unit) * unit;
    if (used >= std::int64_t{bytes} - unit) return;
    CopyCodeStringBounded(encoding, Bytes(dst) + used, static_cast<int>(bytes - used), src);
}

void CopyCodeStringN(std::int32_t encoding, void* dst, const void* src, int n) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0 || n <= 0) return;
    const Byte* s = Bytes(src);
    Byte* d = Bytes(dst);
    int i = 0;
    for (; i < n; ++i) {
        std::uint32_t v = UnitAt(s + i * unit, unit);
        if (v == 0) break;
        PutUnit(d + i * unit, unit, v);
    }
    std::memset(d + std::int64_t{i} * unit, 0, std::int64_t{n - i} * unit);
}

void CopyCodeStringNBounded(std::int32_t encoding, void* dst, int bytes, const void* src, int n) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0 || bytes < unit) return;
    CopyCodeStringN(encoding, dst, src, n < bytes / unit ? n : bytes / unit);
}

int CompareCodeStringsN(std::int32_t encoding, const void* a, const void* b, int n) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return 0;
    const Byte* p = Bytes(a);
    const Byte* q = Bytes(b);
    for (int i = 0; i < n; ++i, p += unit, q += unit) {
        std::uint32_t x = UnitAt(p, unit), y = UnitAt(q, unit);
        if (x != y) return Sign(x, y);
        if (x == 0) return 0;
    }
    return 0;
}

int CompareCodeStrings(std::int32_t encoding, const void* a, const void* b) {
    return CompareCodeStringsN(encoding, a, b, INT_MAX);
}

int CompareCodeStringWithAscii(std::int32_t encoding, const void* text, const char* ascii) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return 0;
    const Byte* p = Bytes(text);
    const Byte* q = reinterpret_cast<const Byte*>(ascii);
    for (;; p += unit, ++q) {
        std::uint32_t x = UnitAt(p, unit), y = *q;
        if (x != y) return Sign(x, y);
        if (x == 0) return 0;
    }
}

int CompareCodeStringsNoCase(std::int32_t encoding, const void* a, const void* b) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return 0;
    const Byte* p = Bytes(a);
    const Byte* q = Bytes(b);
    auto upper = [](std::uint32_t c) { return c >= 'a' && c <= 'z' ? c - 0x20 : c; };
    for (;;) {
        int n, m;
        std::uint32_t x = upper(ReadCharOrUnit(p, encoding, unit, n));
        std::uint32_t y = upper(ReadCharOrUnit(q, encoding, unit, m));
        if (x != y) return Sign(x, y);
        if (n != m) return n < m ? -1 : 1;
        if (x == 0 && UnitAt(p, unit) == 0) return 0;
        p += n, q += m;
    }
}

void* FindCharInCodeString(std::int32_t encoding, const void* text, std::uint32_t code) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return nullptr;
    const Byte* p = Bytes(text);
    for (;;) {
        int n;
        std::uint32_t c = ReadCharCodeAt(p, encoding, &n);
        if (n == 0) {
            if (UnitAt(p, unit) == 0) return nullptr;
            p += unit;  // a unit that starts no character
            continue;
        }
        if (c == 0 && UnitAt(p, unit) == 0) return nullptr;
        if (c == code) return const_cast<Byte*>(p);
        p += n;
    }
}

void* FindCodeSubstring(std::int32_t encoding, const void* text, const void* part) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return nullptr;
    const Byte* t = Bytes(text);
    const Byte* s = Bytes(part);
    if (UnitAt(t, unit) == 0) return nullptr;
    for (; UnitAt(t, unit) != 0; t += unit) {
        std::int64_t k = 0;
        while (UnitAt(s + k * unit, unit) != 0 &&
               UnitAt(t + k * unit, unit) == UnitAt(s + k * unit, unit)) {
            ++k;
        }
        if (UnitAt(s + k * unit, unit) == 0) return const_cast<Byte*>(t);
    }
    return nullptr;
}

namespace {

void* ChangeCase(std::int32_t encoding, void* text, std::uint32_t from, std::uint32_t to) {
    const int unit = UnitBytesOfCharCode(encoding);
    if (unit < 0) return text;
    Byte* p = Bytes(text);
    for (;;) {
        int n;
        std::uint32_t c = ReadCharOrUnit(p, encoding, unit, n);
        if (UnitAt(p, unit) == 0) return text;
        // Only letters that are one unit long; trail bytes are never touched.
        if (n == unit && c >= from && c < from + 26) PutUnit(p, unit, c - from + to);
        p += n;
    }
}

}  // namespace

void* LowerCaseCodeString(std::int32_t encoding, void* text) {
    return ChangeCase(encoding, text, 'A', 'a');
}

void* UpperCaseCodeString(std::int32_t encoding, void* text) {
    return ChangeCase(encoding, text, 'a', 'A');
}

std::int32_t ParseCodeStringInt(std::int32_t encoding, const void* text) {
    DigitRun run = FindDigits(encoding, text);
    if (run.count == 0) return 0;
    constexpr std::int64_t kMax = 0x7FFFFFFF;
    constexpr std::int64_t kMinMagnitude = 0x80000000LL;
    const std::int64_t limit = run.negative ? kMinMagnitude : kMax;
    std::int64_t sum = 0, place = 1;
    bool saturated = false;
    ForEachDigitFromLast(run, encoding, [&](std::uint32_t d) {
        if (d != 0) {
            if (place >= limit) {
                saturated = true;
                return false;
            }
            sum += d * place;
            if (sum >= limit) {
                saturated = true;
                return false;
            }
        }
        if (place < limit) place *= 10;
        return true;
    });
    if (saturated) return run.negative ? INT32_MIN : INT32_MAX;
    return static_cast<std::int32_t>(run.negative ? -sum : sum);
}

std::int64_t ParseCodeStringInt64(std::int32_t encoding, const void* text) {
    DigitRun run = FindDigits(encoding, text);
    if (run.count == 0) return 0;
    if (run.count >= 256) return -1;
    std::uint64_t sum = 0, place = 1;
    ForEachDigitFromLast(run, encoding, [&](std::uint32_t d) {
        sum += d * place;
        place *= 10;
        return true;
    });
    if (run.negative) sum = 0 - sum;
    return static_cast<std::int64_t>(sum);
}

void* IntToCodeString(std::int32_t encoding, std::int32_t value, void* buffer, int radix) {
    if (UnitBytesOfCharCode(encoding) < 0) return buffer;
    Byte* p = Bytes(buffer);
    if (radix < 2 || radix > 36) {
        EncodeCharCodeUnbounded(0, encoding, p);  // no such radix: an empty text
        return buffer;
    }
    if (value < 0) p += EncodeCharCodeUnbounded('-', encoding, p);
    std::uint32_t magnitude =
        value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    char digits[33];
    int count = 0;
    do {
        std::uint32_t d = magnitude % static_cast<std::uint32_t>(radix);
        digits[count++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        magnitude /= static_cast<std::uint32_t>(radix);
    } while (magnitude != 0);
    while (count > 0) p += EncodeCharCodeUnbounded(digits[--count], encoding, p);
    EncodeCharCodeUnbounded(0, encoding, p);
    return buffer;
}

// ---- Wrappers --------------------------------------------------------------------------------

namespace {

std::int32_t Narrow() {
    if (NarrowEncoding == 0) EnsureDefaultCharCodes();
    return NarrowEncoding;
}

std::int32_t Wide() {
    if (WideEncoding == 0) EnsureDefaultCharCodes();
    return WideEncoding;
}

}  // namespace

int CountNarrowStringUnits(const char* text) {
    return CountCodeStringUnits(Narrow(), text);
}
void CopyNarrowString(char* dst, const char* src) {
    CopyCodeString(Narrow(), dst, src);
}
void CopyNarrowStringBounded(char* dst, int bytes, const char* src) {
    CopyCodeStringBounded(Narrow(), dst, bytes, src);
}
void AppendNarrowStringBounded(char* dst, int bytes, const char* src) {
    AppendCodeStringBounded(Narrow(), dst, bytes, src);
}
int CompareNarrowString(const char* a, const char* b) {
    return CompareCodeStrings(Narrow(), a, b);
}

void CopyWideString(char16_t* dst, const char16_t* src) {
    CopyCodeString(Wide(), dst, src);
}
void CopyWideStringBounded(char16_t* dst, int bytes, const char16_t* src) {
    CopyCodeStringBounded(Wide(), dst, bytes, src);
}
void AppendWideString(char16_t* dst, const char16_t* src) {
    AppendCodeString(Wide(), dst, src);
}
void AppendWideStringBounded(char16_t* dst, int bytes, const char16_t* src) {
    AppendCodeStringBounded(Wide(), dst, bytes, src);
}
void CopyWideStringPrefixBounded(char16_t* dst, int bytes, const char16_t* src, int n) {
    CopyCodeStringNBounded(Wide(), dst, bytes, src, n);
}
int CompareWideString(const char16_t* a, const char16_t* b) {
    return CompareCodeStrings(Wide(), a, b);
}
int CompareWideStringNoCase(const char16_t* a, const char16_t* b) {
    return CompareCodeStringsNoCase(Wide(), a, b);
}
char16_t* FindWideChar(const char16_t* text, char16_t unit) {
    return static_cast<char16_t*>(FindCharInCodeString(Wide(), text, unit));
}
char16_t* FindWideSubstring(const char16_t* text, const char16_t* part) {
    return static_cast<char16_t*>(FindCodeSubstring(Wide(), text, part));
}
char16_t* UpperCaseWideString(char16_t* text) {
    return static_cast<char16_t*>(UpperCaseCodeString(Wide(), text));
}
char16_t* IntToWideString(std::int32_t value, char16_t* buffer, int radix) {
    return static_cast<char16_t*>(IntToCodeString(Wide(), value, buffer, radix));
}

}  // namespace ZiDaz
