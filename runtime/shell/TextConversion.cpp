#include "runtime/shell/TextConversion.h"

#include <array>
#include <cstddef>

#include "platform/Kernel32.h"

namespace {

using platform::kernel32::MultiByteToWideChar;
using platform::kernel32::WideCharToMultiByte;

constexpr unsigned kUtf8CodePage = 65001;

// Ten results per converter and thread: the download worker converts on its own thread while the
// game runs, and each caller still sees the ten-call lifetime of its results.
template <typename String>
class ResultRing {
  public:
    // Stores a result in the next slot, reusing the slot's buffer where it is large enough.
    const typename String::value_type* Store(const String& result) {
        index_ = (index_ + 1) % slots_.size();
        slots_[index_].assign(result);
        return slots_[index_].c_str();
    }

  private:
    std::array<String, 10> slots_{};
    std::size_t index_ = 0;
};

// Zero-terminated input; measures, then converts. A failed conversion gives an empty text.
std::u16string ToWide(unsigned codePage, const char* text) {
    std::u16string out;
    if (text == nullptr || *text == '\0') return out;
    int units = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (units <= 0) return out;
    out.resize(static_cast<std::size_t>(units));
    units = MultiByteToWideChar(codePage, 0, text, -1, out.data(), units);
    out.resize(units > 0 ? static_cast<std::size_t>(units) - 1 : 0);  // drop the terminator
    return out;
}

std::string ToNarrow(unsigned codePage, const char16_t* text) {
    std::string out;
    if (text == nullptr || *text == u'\0') return out;
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return out;
    out.resize(static_cast<std::size_t>(bytes) + 2);
    bytes = WideCharToMultiByte(codePage, 0, text, -1, out.data(), bytes + 2, nullptr, nullptr);
    out.resize(bytes > 0 ? static_cast<std::size_t>(bytes) - 1 : 0);
    return out;
}

std::string CodePageToUtf8(unsigned codePage, const char* text) {
    std::u16string wide = ToWide(codePage, text);
    return ToNarrow(kUtf8CodePage, wide.c_str());
}

}  // namespace

unsigned CodePageOfLocale(const char* locale) {
    if (locale == nullptr) return 0;
    const char* p = locale;
    while (*p != '\0' && *p != '.') ++p;
    if (*p != '.') return 0;
    ++p;
    unsigned value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 1000000) return 0;  // no code page is that large
    }
    return value;
}

const char* LocaleOfCharacterSet(int characterSet) {
    static constexpr const char* kLocales[10] = {"jpn_jpn.932",
                                                 "jpn_jpn.932",
                                                 "KOR_KOR.949",
                                                 "cht_hkg.950",
                                                 "chs_chn.936",
                                                 "ENU_USA.1252",
                                                 "DEU_DEU.1252",
                                                 "",
                                                 "",
                                                 ""};
    if (characterSet < 0 || characterSet >= 10) return "";
    return kLocales[characterSet];
}

const char16_t* ConvertUtf8ToWide(const char* text) {
    thread_local ResultRing<std::u16string> ring;
    return ring.Store(ToWide(kUtf8CodePage, text));
}

const char* ConvertWideToUtf8(const char16_t* text) {
    thread_local ResultRing<std::string> ring;
    return ring.Store(ToNarrow(kUtf8CodePage, text));
}

const char16_t* ConvertCodePageToWide(const char* locale, const char* text) {
    thread_local ResultRing<std::u16string> ring;
    return ring.Store(ToWide(CodePageOfLocale(locale), text));
}

const char* ConvertWideToCodePage(const char* locale, const char16_t* text) {
    thread_local ResultRing<std::string> ring;
    if (text != nullptr && (text[0] == 0xFEFF || text[0] == 0xFFFE) && text[1] != u'\0') ++text;
    return ring.Store(ToNarrow(CodePageOfLocale(locale), text));
}

const char* ConvertUtf8ToCodePage(const char* locale, const char* text) {
    thread_local ResultRing<std::string> ring;
    std::u16string wide = ToWide(kUtf8CodePage, text);
    return ring.Store(ToNarrow(CodePageOfLocale(locale), wide.c_str()));
}

std::string ConvertCodePageToUtf8(const char* locale, const char* text, int* length) {
    std::string result = CodePageToUtf8(CodePageOfLocale(locale), text);
    if (length != nullptr) *length = static_cast<int>(result.size());
    return result;
}

std::string ConvertOldSaveText(std::string_view text, const char* locale) {
    const unsigned codePage = CodePageOfLocale(locale);
    // Conversion stops at a zero byte, as for any zero-terminated text.
    auto convertWhole = [&] { return CodePageToUtf8(codePage, std::string(text).c_str()); };
    if (text.find('\x01') == std::string_view::npos) return convertWhole();

    std::string out;
    out.reserve(text.size() * 4 + 2);
    std::string pending;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '\x01') {
            pending += text[i++];
            continue;
        }
        if (!pending.empty()) {
            out += CodePageToUtf8(codePage, pending.c_str());
            pending.clear();
        }
        // A run is 0x01, its length byte L and L - 1 more bytes; a truncated run at the end of
        // the text is kept only as far as the text goes.
        std::size_t runLength = 1;
        if (i + 1 < text.size()) {
            unsigned length = static_cast<unsigned char>(text[i + 1]);
            if (length > 15) return convertWhole();
            runLength = length + 1;
        }
        if (runLength > text.size() - i) runLength = text.size() - i;
        out.append(text.substr(i, runLength));
        i += runLength;
    }
    if (!pending.empty()) out += CodePageToUtf8(codePage, pending.c_str());
    return out;
}

bool IsValidUtf8(const char* text) {
    if (text == nullptr) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        int following;
        if (*p < 0x80) {
            following = 0;
        } else if ((*p & 0xE0) == 0xC0) {
            following = 1;
        } else if ((*p & 0xF0) == 0xE0) {
            following = 2;
        } else if ((*p & 0xF8) == 0xF0) {
            following = 3;
        } else {
            return false;
        }
        ++p;
        for (int k = 0; k < following; ++k, ++p) {
            // The terminating zero fails this test, so the walk never passes the end.
            if (*p < 0x80 || *p > 0xBF) return false;
        }
    }
    return true;
}

int CountTextColumns(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    int columns = 0;
    std::size_t i = 0;
    while (i < size) {
        unsigned char lead = p[i];
        std::size_t length;
        if (lead >= 0x20 && lead <= 0x7E) {
            ++columns;
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
        } else {
            ++i;  // control, stray continuation or invalid lead byte: no column
            continue;
        }
        // A character cut off by the end of the text still counts; the walk ends with it.
        bool halfWidth = false;
        if (length == 3 && lead == 0xEF && i + 2 < size) {
            unsigned char b1 = p[i + 1], b2 = p[i + 2];
            halfWidth = (b1 == 0xBD && b2 >= 0xA6 && b2 <= 0xBF) ||
                        (b1 == 0xBE && b2 >= 0x80 && b2 <= 0xBF) ||
                        (b1 == 0xBF && b2 >= 0x80 && b2 <= 0x9F);
        }
        columns += halfWidth ? 1 : 2;
        i += length;
    }
    return columns;
}
