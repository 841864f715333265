#include "runtime/shell/StringUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/User32.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/TextConversion.h"

namespace {

constexpr char kCodeByte = '\x01';

// Bytes of the code run at pos (which holds 0x01), cut at the end of the text.
std::size_t CodeRunLength(std::string_view text, std::size_t pos) {
    if (pos + 1 >= text.size()) return text.size() - pos;
    std::size_t length = static_cast<unsigned char>(text[pos + 1]) + std::size_t{1};
    return length < text.size() - pos ? length : text.size() - pos;
}

// Position just after the first ']' at or after pos, or the end of the text.
std::size_t AfterClosingBracket(std::string_view text, std::size_t pos) {
    std::size_t bracket = text.find(']', pos);
    return bracket == std::string_view::npos ? text.size() : bracket + 1;
}

template <typename Char>
std::basic_string<Char> ReplaceAll(std::basic_string_view<Char> text,
                                   std::basic_string_view<Char> search,
                                   std::basic_string_view<Char> replacement) {
    std::basic_string<Char> out(text);
    if (search.empty()) return out;
    std::size_t pos = out.find(search);
    while (pos != std::basic_string<Char>::npos) {
        out.replace(pos, search.size(), replacement);
        pos = out.find(search, pos + replacement.size());
    }
    return out;
}

void Replace(std::string& text, std::string_view search, std::string_view replacement) {
    text = ReplaceAllText(text, search, replacement);
}

}  // namespace

int FindInCodedText(std::string_view text, std::string_view needle, int start) {
    if (needle.empty() || start < 0) return -1;
    std::size_t pos = static_cast<std::size_t>(start);
    if (needle.size() > 3) {
        if (pos > text.size()) return -1;
        std::size_t found = text.find(needle, pos);
        return found == std::string_view::npos ? -1 : static_cast<int>(found);
    }
    const bool needleIsCode = needle[0] == kCodeByte;
    while (pos + needle.size() <= text.size()) {
        if (text[pos] == kCodeByte && !needleIsCode) {
            pos += CodeRunLength(text, pos);
            continue;
        }
        if (text.compare(pos, needle.size(), needle) == 0) return static_cast<int>(pos);
        ++pos;
    }
    return -1;
}

std::string StripTextCodes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != kCodeByte) {
            out += text[i++];
            continue;
        }
        const int code = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : -1;
        if (code == 1) {
            out += '\\';
            i += 3;
            continue;
        }
        i += CodeRunLength(text, i);
        if (code == 9) {
            std::size_t comma = text.find(',', i);
            if (comma == std::string_view::npos) comma = text.size();
            out.append(text.substr(i, comma - i));
            i = comma < text.size() ? AfterClosingBracket(text, comma) : comma;
        } else if (code == 23 || code == 34) {
            i = AfterClosingBracket(text, i);
        }
    }
    return out;
}

std::string ReplaceAllText(std::string_view text, std::string_view search,
                           std::string_view replacement) {
    return ReplaceAll(text, search, replacement);
}

std::u16string ReplaceAllTextWide(std::u16string_view text, std::u16string_view search,
                                  std::u16string_view replacement) {
    return ReplaceAll(text, search, replacement);
}

const char* IntToTempString(int value) {
    thread_local std::array<std::array<char, 256>, 10> buffers{};
    thread_local std::size_t index = 0;
    index = (index + 1) % buffers.size();
    std::snprintf(buffers[index].data(), buffers[index].size(), "%d", value);
    return buffers[index].data();
}

std::string EncodeBase64(const void* bytes, std::size_t count) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    if (bytes == nullptr || count == 0) return out;
    const auto* in = static_cast<const unsigned char*>(bytes);
    out.reserve((count + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        std::uint32_t group = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) |
                              std::uint32_t{in[i + 2]};
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += kAlphabet[(group >> 6) & 63];
        out += kAlphabet[group & 63];
    }
    if (std::size_t rest = count - i; rest > 0) {
        std::uint32_t group = std::uint32_t{in[i]} << 16;
        if (rest == 2) group |= std::uint32_t{in[i + 1]} << 8;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string EncodeUrlForm(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool keep = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                    (byte >= '0' && byte <= '9') || byte == '&' || byte == '*' || byte == '-' ||
                    byte == '.' || byte == '=' || byte == '_';
        if (keep) {
            out += c;
        } else if (byte == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::u16string GetExeFolderWide() {
    char16_t path[1024 + 1] = {};
    DWORD length = platform::kernel32::GetModuleFileNameW(nullptr, path, 1024);
    std::u16string folder(path, length <= 1024 ? length : 0);
    std::size_t separator = folder.find_last_of(u"\\/");
    folder.erase(separator == std::u16string::npos ? 0 : separator + 1);
    return folder;
}

std::string GetExeFolderUtf8() {
    return ConvertWideToUtf8(GetExeFolderWide().c_str());
}

std::string CreateFolderChain(std::string_view relativePath, std::string_view baseFolder) {
    const std::string base(baseFolder);
    std::string path(relativePath);
    Replace(path, "\\", "/");
    Replace(path, "..", "");
    std::string folder = ReplaceAllText(base, "//", "/");
    // The folders are named from the base folder as given, so the current directory is not
    // needed while they are made; it is the base folder afterwards, as callers expect.
    std::size_t from = 0;
    if (path.size() >= 2) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', from)) {
            folder.append(path, from, slash - from);
            folder += '/';
            // An existing folder is no error; one spelt in another case is the same folder.
            mkdir(platform::ResolveHostPath(folder).c_str(), 0777);
            from = slash + 1;
        }
    }
    if (!base.empty() && chdir(base.c_str()) != 0) {
        // The base folder is gone: there is no better directory to stay in.
    }
    std::size_t last = path.rfind('/');
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool IsSafeRelativePath(std::string_view path, int flag) {
    (void)flag;  // "../" and "..\" are refused whatever the flag
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) return false;
    for (std::string_view bad : {"..", ":", "%", ".\\", "./"}) {
        if (path.find(bad) != std::string_view::npos) return false;
    }
    // Normalised, the path must never climb above the folder it starts in. With ".." refused
    // this holds already; the walk keeps the promise should the rules above ever be relaxed.
    int depth = 0;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t end = path.find_first_of("/\\", from);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(from, end - from);
        if (part == "..") {
            if (--depth < 0) return false;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        from = end + 1;
    }
    return true;
}

bool WriteTextFile(std::string_view text, const char* path) {
    std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos) text = text.substr(0, zero);
    if (path != nullptr && WriteTextModeFile(platform::ResolveHostPath(path).c_str(), text)) {
        return true;
    }
    std::array<char, 512> message{};
    std::string format =
        TranslateMessageUtf8(u"%sに書き込めませんでした。\r\nアクセス権限などをご確認下さい。");
    std::snprintf(message.data(), message.size(), format.c_str(), path ? path : "");
    std::string caption = TranslateMessageUtf8(u"書き込みエラー");
    ShowShellMessageBox(ConvertUtf8ToWide(message.data()), ConvertUtf8ToWide(caption.c_str()));
    return false;
}

bool WriteTextModeFile(const char* path, std::string_view text) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    std::string bytes = ReplaceAllText(text, "\n", "\r\n");
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    // A full disk shows at the latest when the file is closed.
    if (std::fclose(file) != 0) written = false;
    return written;
}

bool CopyTextToClipboard(std::string_view text) {
    if (text.empty()) return false;
    if (!platform::user32::OpenClipboard(nullptr)) return false;
    std::u16string wide = platform::Utf8ToUtf16(text);
    // Room for the UTF-16 form of any UTF-8 text: at most one unit per byte, and a terminator.
    SIZE_T bytes = text.size() * 4 + 4;
    HGLOBAL block = platform::kernel32::GlobalAlloc(GMEM_FIXED, bytes);
    if (block == nullptr) {
        platform::user32::CloseClipboard();
        return false;
    }
    auto* units = static_cast<char16_t*>(platform::kernel32::GlobalLock(block));
    std::copy(wide.begin(), wide.end(), units);
    units[wide.size()] = 0;
    platform::kernel32::GlobalUnlock(block);
    platform::user32::EmptyClipboard();
    platform::user32::SetClipboardData(CF_UNICODETEXT, block);
    platform::user32::CloseClipboard();
    return true;
}

std::u16string ReadClipboardText() {
    if (!platform::user32::IsClipboardFormatAvailable(CF_UNICODETEXT) ||
        !platform::user32::OpenClipboard(nullptr)) {
        return {};
    }
    std::u16string text;
    if (HANDLE block = platform::user32::GetClipboardData(CF_UNICODETEXT)) {
        const auto* units = static_cast<const char16_t*>(platform::kernel32::GlobalLock(block));
        std::size_t max = platform::kernel32::GlobalSize(block) / 2, n = 0;
        while (units && n < max && units[n]) ++n;
        if (units) text.assign(units, n);
        platform::kernel32::GlobalUnlock(block);
    }
    platform::user32::CloseClipboard();
    return text;
}

std::int32_t ReadLeadingInt32(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t{INT32_MAX} + 1);
    }
    if (negative) value = -value;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}
