#include "platform/HostPath.h"

#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/Kernel32.h"

namespace platform {

namespace {

// A byte that starts no valid UTF-8 sequence stands for itself as a lone low surrogate
// (U+DC80-U+DCFF), which valid UTF-8 never gives: names that differ only in such bytes stay
// distinct, and the way back restores the byte.
constexpr char32_t kRawByteBase = 0xDC00;

bool IsRawByte(char32_t c) {
    return c >= kRawByteBase + 0x80 && c <= kRawByteBase + 0xFF;
}

// Decodes one UTF-8 sequence at text[i]; an invalid byte gives its raw-byte character and
// advances by one.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
    unsigned char b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    const char32_t raw = kRawByteBase + b0;
    int length = b0 >= 0xF0 && b0 <= 0xF4 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) {
        ++i;
        return raw;
    }
    char32_t c = b0 & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        unsigned char b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return raw;
        }
        c = (c << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return raw;
    }
    i += length;
    return c;
}

locale_t Utf8Locale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

void AppendUtf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (IsRawByte(c)) {
            out += static_cast<char>(c - kRawByteBase);
            continue;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        AppendUtf8(c, out);
    }
    return true;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = DecodeUtf8(text, i);
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

char32_t FoldNameChar(char32_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 0x20 : c;
    locale_t locale = Utf8Locale();
    if (locale == static_cast<locale_t>(nullptr)) return c;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), locale));
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (FoldNameChar(DecodeUtf8(a, i)) != FoldNameChar(DecodeUtf8(b, j))) return false;
    }
    return i == a.size() && j == b.size();
}

namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The entry of folder `dir` whose name equals `name` ignoring case; the smallest such name when
// several differ only in case, so the choice does not depend on the folder's order. Returns how
// many entries match.
int FindIgnoringCase(const std::string& dir, const std::string& name, std::string& found) {
    DIR* stream = opendir(dir.empty() ? "." : dir.c_str());
    if (!stream) return 0;
    int matches = 0;
    while (dirent* entry = readdir(stream)) {
        std::string_view candidate = entry->d_name;
        if (NamesEqualIgnoringCase(candidate, name) && (matches == 0 || candidate < found)) {
            found = candidate;
        }
        if (NamesEqualIgnoringCase(candidate, name)) ++matches;
    }
    closedir(stream);
    return matches;
}

}  // namespace

std::string ResolveHostPath(std::string_view path) {
    return ResolveHostPath(path, NameLookup::Loose);
}

std::string ResolveHostPath(std::string_view path, NameLookup lookup) {
    std::string spelt(path);
    std::replace(spelt.begin(), spelt.end(), '\\', '/');
    // "C:" or "C:/..." on a host without drives: the root (or the current folder for "C:x").
    if (spelt.size() >= 2 && spelt[1] == ':' &&
        ((spelt[0] >= 'A' && spelt[0] <= 'Z') || (spelt[0] >= 'a' && spelt[0] <= 'z'))) {
        spelt.erase(0, 2);
    }
    if (spelt.empty() || Exists(spelt)) return spelt;

    std::string resolved = spelt[0] == '/' ? "/" : "";
    std::size_t start = 0;
    bool matching = true;  // once a folder is missing, everything under it is kept as spelt
    while (start < spelt.size()) {
        std::size_t end = spelt.find('/', start);
        if (end == std::string::npos) end = spelt.size();
        std::string component = spelt.substr(start, end - start);
        start = end + 1;
        if (component.empty()) continue;
        if (!resolved.empty() && resolved.back() != '/') resolved += '/';
        const bool last = spelt.find_first_not_of('/', end) == std::string::npos;
        if (matching && component != "." && component != ".." && !Exists(resolved + component) &&
            !(last && lookup == NameLookup::Exact)) {
            std::string found;
            int matches = FindIgnoringCase(resolved, component, found);
            if (matches == 1 || (matches > 1 && !(last && lookup == NameLookup::Single))) {
                component = found;
            } else {
                matching = false;
            }
        }
        resolved += component;
    }
    if (spelt.back() == '/' && !resolved.empty() && resolved.back() != '/') resolved += '/';
    return resolved;
}

bool HostPathFromWide(LPCWSTR path, std::string& out, NameLookup lookup) {
    if (!path || !Utf16ToUtf8(path, out)) {
        kernel32::SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    out = ResolveHostPath(out, lookup);
    return true;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return ERROR_SUCCESS;
        case ENOENT:
            return ERROR_FILE_NOT_FOUND;
        case ENOTDIR:
            return ERROR_PATH_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return ERROR_ACCESS_DENIED;
        case EEXIST:
            return ERROR_FILE_EXISTS;
        case EBADF:
            return ERROR_INVALID_HANDLE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case EMFILE:
        case ENFILE:
            return ERROR_TOO_MANY_OPEN_FILES;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOSPC:
            return ERROR_DISK_FULL;
        case EBUSY:
            return ERROR_SHARING_VIOLATION;
        case ENOTEMPTY:
            return ERROR_DIR_NOT_EMPTY;
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

}  // namespace platform
