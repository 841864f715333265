// MultiByteToWideChar and WideCharToMultiByte. UTF-8 is converted here; the double-byte and
// Western code pages go through glibc iconv, with one converter per code page and thread, and
// the codes where Windows' tables hold more than glibc's come from our own rows.
#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::kernel32 {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The code page a caller's number stands for, or 0 when it is not one we offer.
UINT ResolveCodePage(UINT codePage) {
    switch (codePage) {
        case CP_ACP:
            return GetACP();
        case CP_OEMCP:
            return GetOEMCP();
        case 932:
        case 936:
        case 949:
        case 950:
        case 1252:
        case CP_UTF8:
            return codePage;
        default:
            return 0;
    }
}

const char* IconvName(UINT codePage) {
    switch (codePage) {
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        case 949:
            return "CP949";
        case 950:
            return "CP950";
        case 1252:
            return "CP1252";
        default:
            return nullptr;
    }
}

// Windows' code page 1252 gives the five bytes that the standard leaves unassigned to the C1
// controls of the same value; glibc refuses them.
bool Is1252Hole(unsigned char byte) {
    return byte == 0x81 || byte == 0x8D || byte == 0x8F || byte == 0x90 || byte == 0x9D;
}

class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return cd_;
    }

  private:
    iconv_t cd_;
};

Converter* ConverterFor(UINT codePage, bool toWide) {
    thread_local std::map<std::pair<UINT, bool>, std::unique_ptr<Converter>> converters;
    auto& slot = converters[{codePage, toWide}];
    if (!slot) {
        const char* name = IconvName(codePage);
        slot = toWide ? std::make_unique<Converter>("UTF-16LE", name)
                      : std::make_unique<Converter>(name, "UTF-16LE");
    }
    return slot->valid() ? slot.get() : nullptr;
}

void AppendUnit(std::u16string& out, char32_t c) {
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    } else {
        out += static_cast<char16_t>(c);
    }
}

// Strict UTF-8: overlong forms, surrogates and values above U+10FFFF are invalid.
bool DecodeUtf8(const unsigned char* text, size_t size, bool strict, std::u16string& out) {
    size_t i = 0;
    while (i < size) {
        unsigned char b = text[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        int length = 0;
        char32_t c = 0, minimum = 0;
        if ((b & 0xE0) == 0xC0) {
            length = 2, c = b & 0x1F, minimum = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            length = 3, c = b & 0x0F, minimum = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            length = 4, c = b & 0x07, minimum = 0x10000;
        }
        bool ok = length != 0 && i + length <= size;
        for (int k = 1; ok && k < length; ++k) {
            if ((text[i + k] & 0xC0) != 0x80) {
                ok = false;
            } else {
                c = (c << 6) | (text[i + k] & 0x3F);
            }
        }
        if (ok && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            if (strict) return false;
            out += kReplacement;
            ++i;
            continue;
        }
        AppendUnit(out, c);
        i += length;
    }
    return true;
}

bool EncodeUtf8(const char16_t* text, size_t units, bool strict, std::string& out) {
    for (size_t i = 0; i < units; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict) return false;
            c = kReplacement;
        }
        platform::AppendUtf8(c, out);
    }
    return true;
}

// Codes that Windows' tables hold and glibc's do not: single bytes that Windows gives to
// private-use characters (or to the C1 control of the same value), and the user-defined rows,
// numbered into the private-use area row by row. Each row runs over its trail bytes in one or two
// ranges; consecutive codes take consecutive characters.
struct ExtraRow {
    UINT codePage;
    unsigned char leadFirst, leadLast;
    unsigned char trailFirst1, trailLast1, trailFirst2, trailLast2;  // second range: 0, 0 = none
    char16_t first;
};

constexpr ExtraRow kExtraRows[] = {
    // Single bytes (lead 0).
    {932, 0, 0, 0x80, 0x80, 0, 0, 0x0080},
    {932, 0, 0, 0xA0, 0xA0, 0, 0, 0xF8F0},
    {932, 0, 0, 0xFD, 0xFF, 0, 0, 0xF8F1},
    {936, 0, 0, 0xFF, 0xFF, 0, 0, 0xF8F5},
    {949, 0, 0, 0x80, 0x80, 0, 0, 0x0080},
    {949, 0, 0, 0xFF, 0xFF, 0, 0, 0xF8F7},
    {950, 0, 0, 0xFF, 0xFF, 0, 0, 0xF8F8},
    // 936: the three user-defined areas, then the GBK codes Windows gives private characters.
    {936, 0xAA, 0xAF, 0xA1, 0xFE, 0, 0, 0xE000},
    {936, 0xF8, 0xFE, 0xA1, 0xFE, 0, 0, 0xE234},
    {936, 0xA1, 0xA7, 0x40, 0x7E, 0x80, 0xA0, 0xE4C6},
    {936, 0xA2, 0xA2, 0xAB, 0xB0, 0, 0, 0xE766},
    {936, 0xA2, 0xA2, 0xE3, 0xE4, 0, 0, 0xE76C},
    {936, 0xA2, 0xA2, 0xEF, 0xF0, 0, 0, 0xE76E},
    {936, 0xA2, 0xA2, 0xFD, 0xFE, 0, 0, 0xE770},
    {936, 0xA4, 0xA4, 0xF4, 0xFE, 0, 0, 0xE772},
    {936, 0xA5, 0xA5, 0xF7, 0xFE, 0, 0, 0xE77D},
    {936, 0xA6, 0xA6, 0xB9, 0xC0, 0, 0, 0xE785},
    {936, 0xA6, 0xA6, 0xD9, 0xDF, 0, 0, 0xE78D},
    {936, 0xA6, 0xA6, 0xEC, 0xED, 0, 0, 0xE794},
    {936, 0xA6, 0xA6, 0xF3, 0xF3, 0, 0, 0xE796},
    {936, 0xA6, 0xA6, 0xF6, 0xFE, 0, 0, 0xE797},
    {936, 0xA7, 0xA7, 0xC2, 0xD0, 0, 0, 0xE7A0},
    {936, 0xA7, 0xA7, 0xF2, 0xFE, 0, 0, 0xE7AF},
    {936, 0xA8, 0xA8, 0x96, 0xA0, 0, 0, 0xE7BC},
    {936, 0xA8, 0xA8, 0xBC, 0xBC, 0, 0, 0xE7C7},
    {936, 0xA8, 0xA8, 0xBF, 0xBF, 0, 0, 0xE7C8},
    {936, 0xA8, 0xA8, 0xC1, 0xC4, 0, 0, 0xE7C9},
    {936, 0xA8, 0xA8, 0xEA, 0xFE, 0, 0, 0xE7CD},
    {936, 0xA9, 0xA9, 0x58, 0x58, 0, 0, 0xE7E2},
    {936, 0xA9, 0xA9, 0x5B, 0x5B, 0, 0, 0xE7E3},
    {936, 0xA9, 0xA9, 0x5D, 0x5F, 0, 0, 0xE7E4},
    {936, 0xA9, 0xA9, 0x89, 0x95, 0, 0, 0xE7E7},
    {936, 0xA9, 0xA9, 0x97, 0xA3, 0, 0, 0xE7F4},
    {936, 0xA9, 0xA9, 0xF0, 0xFE, 0, 0, 0xE801},
    {936, 0xD7, 0xD7, 0xFA, 0xFE, 0, 0, 0xE810},
    {936, 0xFE, 0xFE, 0x50, 0x7E, 0x80, 0xA0, 0xE815},
    // 949: two user-defined rows.
    {949, 0xC9, 0xC9, 0xA1, 0xFE, 0, 0, 0xE000},
    {949, 0xFE, 0xFE, 0xA1, 0xFE, 0, 0, 0xE05E},
    // 950: the user-defined areas glibc lacks (C6A1-C8FE it has).
    {950, 0xFA, 0xFE, 0x40, 0x7E, 0xA1, 0xFE, 0xE000},
    {950, 0x8E, 0xA0, 0x40, 0x7E, 0xA1, 0xFE, 0xE311},
    {950, 0x81, 0x8D, 0x40, 0x7E, 0xA1, 0xFE, 0xEEB8},
};

int TrailIndex(const ExtraRow& row, unsigned trail) {
    if (trail >= row.trailFirst1 && trail <= row.trailLast1) return trail - row.trailFirst1;
    if (row.trailLast2 != 0 && trail >= row.trailFirst2 && trail <= row.trailLast2) {
        return row.trailLast1 - row.trailFirst1 + 1 + (trail - row.trailFirst2);
    }
    return -1;
}

int RowWidth(const ExtraRow& row) {
    int width = row.trailLast1 - row.trailFirst1 + 1;
    if (row.trailLast2 != 0) width += row.trailLast2 - row.trailFirst2 + 1;
    return width;
}

// The character of a code (a byte below 0x100, else lead << 8 | trail) from the rows, or 0.
char16_t ExtraToWide(UINT codePage, unsigned code) {
    unsigned lead = code >> 8, trail = code & 0xFF;
    for (const ExtraRow& row : kExtraRows) {
        if (row.codePage != codePage || lead < row.leadFirst || lead > row.leadLast) continue;
        int index = TrailIndex(row, trail);
        if (index < 0) continue;
        return static_cast<char16_t>(row.first + (lead - row.leadFirst) * RowWidth(row) + index);
    }
    return 0;
}

// The code of a character from the rows, or 0.
unsigned ExtraFromWide(UINT codePage, char16_t c) {
    for (const ExtraRow& row : kExtraRows) {
        if (row.codePage != codePage || c < row.first) continue;
        int width = RowWidth(row);
        unsigned offset = c - row.first;
        if (offset >= static_cast<unsigned>(width) * (row.leadLast - row.leadFirst + 1)) continue;
        unsigned lead = row.leadFirst + offset / width;
        int index = static_cast<int>(offset % width);
        int first = row.trailLast1 - row.trailFirst1 + 1;
        unsigned trail =
            index < first ? row.trailFirst1 + index : row.trailFirst2 + (index - first);
        return lead << 8 | trail;
    }
    return 0;
}

bool IsLeadByte(UINT codePage, unsigned char byte) {
    if (codePage == 932) return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    return byte >= 0x81 && byte <= 0xFE;
}

// The character a code page shows for a byte sequence it cannot read.
char16_t DefaultWideChar(UINT codePage) {
    return codePage == 932 ? 0x30FB : 0x003F;
}

bool DecodeCodePage(UINT codePage, const char* text, size_t size, bool strict,
                    std::u16string& out) {
    Converter* converter = ConverterFor(codePage, true);
    if (converter == nullptr) return false;
    iconv_t cd = converter->get();
    char* in = const_cast<char*>(text);
    size_t inLeft = size;
    char16_t buffer[1024];
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer);
        size_t outLeft = sizeof buffer;
        size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, (sizeof buffer - outLeft) / sizeof(char16_t));
        if (result != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: the byte at `in` starts no character that glibc knows.
        unsigned char bad = static_cast<unsigned char>(*in);
        std::size_t taken = 1;
        char16_t extra = ExtraToWide(codePage, bad);
        if (extra == 0 && inLeft >= 2 && IsLeadByte(codePage, bad)) {
            extra = ExtraToWide(codePage, unsigned{bad} << 8 | static_cast<unsigned char>(in[1]));
            if (extra != 0) taken = 2;
        }
        if (extra != 0) {
            out += extra;
        } else if (codePage == 1252 && Is1252Hole(bad)) {
            out += static_cast<char16_t>(bad);
        } else if (strict) {
            return false;
        } else {
            out += DefaultWideChar(codePage);
        }
        in += taken;
        inLeft -= taken;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

bool EncodeCodePage(UINT codePage, const char16_t* text, size_t units, const char* defaultChar,
                    bool& usedDefault, std::string& out) {
    Converter* converter = ConverterFor(codePage, false);
    if (converter == nullptr) return false;
    iconv_t cd = converter->get();
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text));
    size_t inLeft = units * sizeof(char16_t);
    char buffer[2048];
    std::string fallback = defaultChar ? std::string(defaultChar) : std::string("?");
    while (inLeft > 0) {
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, sizeof buffer - outLeft);
        if (result != static_cast<size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        char16_t bad = *reinterpret_cast<const char16_t*>(in);
        size_t skip = sizeof(char16_t);
        if (bad >= 0xD800 && bad <= 0xDBFF && inLeft >= 4) {
            char16_t next = reinterpret_cast<const char16_t*>(in)[1];
            if (next >= 0xDC00 && next <= 0xDFFF) skip = 2 * sizeof(char16_t);
        }
        unsigned extra = skip == sizeof(char16_t) ? ExtraFromWide(codePage, bad) : 0;
        if (extra >= 0x100) {
            out += static_cast<char>(extra >> 8);
            out += static_cast<char>(extra & 0xFF);
        } else if (extra != 0) {
            out += static_cast<char>(extra);
        } else if (codePage == 1252 && bad < 0x100 && Is1252Hole(static_cast<unsigned char>(bad))) {
            out += static_cast<char>(bad);
        } else {
            out += fallback;
            usedDefault = true;
        }
        in += skip;
        inLeft -= skip < inLeft ? skip : inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

size_t Utf16Length(const char16_t* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR out,
                        int outUnits) {
    UINT resolved = ResolveCodePage(codePage);
    if (text == nullptr || bytes == 0 || bytes < -1 || outUnits < 0 || resolved == 0 ||
        (out == nullptr && outUnits != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t size = bytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    std::u16string wide;
    wide.reserve(size);
    bool ok = resolved == CP_UTF8
                  ? DecodeUtf8(reinterpret_cast<const unsigned char*>(text), size, strict, wide)
                  : DecodeCodePage(resolved, text, size, strict, wide);
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (outUnits == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(outUnits)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, wide.data(), wide.size() * sizeof(char16_t));
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int units, LPSTR out,
                        int outBytes, LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    UINT resolved = ResolveCodePage(codePage);
    if (text == nullptr || units == 0 || units < -1 || outBytes < 0 || resolved == 0 ||
        (out == nullptr && outBytes != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = units == -1 ? Utf16Length(text) + 1 : static_cast<size_t>(units);
    std::string narrow;
    narrow.reserve(count * 2);
    bool usedDefault = false;
    bool ok = resolved == CP_UTF8
                  ? EncodeUtf8(text, count, (flags & WC_ERR_INVALID_CHARS) != 0, narrow)
                  : EncodeCodePage(resolved, text, count, defaultChar, usedDefault, narrow);
    if (!ok) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    if (outBytes == 0) return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<size_t>(outBytes)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, narrow.data(), narrow.size());
    return static_cast<int>(narrow.size());
}

UINT GetOEMCP() {
    const char* lang = std::getenv("LANG");
    return (lang != nullptr && std::strncmp(lang, "ja", 2) == 0) ? 932 : 1252;
}

UINT GetACP() {
    return GetOEMCP();
}

namespace {
const ModuleExports kExports("kernel32.dll", {{"MultiByteToWideChar", Export(&MultiByteToWideChar)},
                                              {"WideCharToMultiByte", Export(&WideCharToMultiByte)},
                                              {"GetOEMCP", Export(&GetOEMCP)},
                                              {"GetACP", Export(&GetACP)}});
}

}  // namespace platform::kernel32
