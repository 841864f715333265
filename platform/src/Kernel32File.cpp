// kernel32 files and folders over POSIX: open files and folder searches are kernel objects in the
// common handle table; paths are resolved through HostPath (separators, drives, loose case).
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "platform/KernelObject.h"
#include "platform/Modules.h"

namespace platform::kernel32 {

namespace {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11644473600LL;

void SetErrorFromErrno() {
    SetLastError(ErrorFromErrno(errno));
}

class FileObject : public KernelObject {
  public:
    explicit FileObject(int fd) : fd(fd) {}
    ~FileObject() override {
        if (fd >= 0) ::close(fd);
    }
    BOOL Close() override {
        int old = fd;
        fd = -1;
        if (::close(old) != 0) {
            SetErrorFromErrno();
            return FALSE;
        }
        return TRUE;
    }
    int fd;
};

struct FoundEntry {
    std::string name;  // UTF-8 as on disk
    struct stat info;
    bool haveBirth;
    struct timespec birth;
};

class FindObject : public KernelObject {
  public:
    std::vector<FoundEntry> entries;
    std::size_t next = 0;
};

std::shared_ptr<FileObject> LookupFile(HANDLE handle) {
    auto file = LookupHandleAs<FileObject>(handle);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

// Narrow (ANSI code page) text to UTF-16, as the A entries take it.
bool NarrowToWide(LPCSTR text, std::u16string& out) {
    if (!text) return false;
    int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return false;
    out.assign(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), units);
    out.pop_back();
    return true;
}

std::string WideToNarrow(std::u16string_view text) {
    int bytes = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) {
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            bytes, nullptr, nullptr);
    }
    return out;
}

// Copies a result of `units` characters the Windows way: when it fits with its terminator the
// length is returned, else the size needed including the terminator (buffer untouched).
template <typename Char>
DWORD CopyOut(std::basic_string_view<Char> text, Char* buffer, DWORD length) {
    if (!buffer || text.size() + 1 > length) return static_cast<DWORD>(text.size() + 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<DWORD>(text.size());
}

// ERROR_PATH_NOT_FOUND when the folder of a missing path is missing too, as Windows tells them.
DWORD MissingPathError(const std::string& hostPath) {
    std::size_t slash = hostPath.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
    struct stat info;
    std::string folder = hostPath.substr(0, slash);
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return ERROR_PATH_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}

FILETIME ToFileTime(const struct timespec& time) {
    std::int64_t ticks =
        (static_cast<std::int64_t>(time.tv_sec) + kEpochDifference) * 10000000 + time.tv_nsec / 100;
    if (ticks < 0) ticks = 0;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

std::int64_t Ticks(const FILETIME& time) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
                                     time.dwLowDateTime);
}

// --- Wildcards -----------------------------------------------------------------------------

// Pattern tokens after the Windows translation of "?", "*" and "." next to them.
enum class Token { Literal, Star, Qm, DosStar, DosQm, DosDot };
struct PatternChar {
    Token token;
    char32_t c;
};

std::vector<char32_t> Decode(std::string_view utf8) {
    std::u16string wide = Utf8ToUtf16(utf8);
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        }
        out.push_back(c);
    }
    return out;
}

std::vector<PatternChar> CompilePattern(std::string_view pattern) {
    std::vector<char32_t> chars = Decode(pattern);
    std::vector<PatternChar> out;
    if (chars == std::vector<char32_t>{'*', '.', '*'}) chars = {'*'};
    for (std::size_t i = 0; i < chars.size(); ++i) {
        char32_t c = chars[i];
        char32_t next = i + 1 < chars.size() ? chars[i + 1] : 0;
        if (c == '?') {
            // A run of "?" that ends at a dot or at the end may match fewer characters.
            std::size_t end = i;
            while (end < chars.size() && chars[end] == '?') ++end;
            bool dos = end == chars.size() || chars[end] == '.';
            out.push_back({dos ? Token::DosQm : Token::Qm, 0});
        } else if (c == '*') {
            out.push_back({next == '.' ? Token::DosStar : Token::Star, 0});
        } else if (c == '.' && (next == '?' || next == '*' || next == 0)) {
            out.push_back({Token::DosDot, '.'});
        } else {
            out.push_back({Token::Literal, FoldNameChar(c)});
        }
    }
    return out;
}

// Whether the pattern matches the name, by a table of (pattern token, name position) that is
// filled from the ends backwards: every cell takes constant time, so a search costs at most the
// product of the two lengths however many stars the pattern holds. Each star either ends at the
// position (the next token goes on from there) or takes one more character, which is the
// pattern's own cell one position further on.
bool MatchName(const std::vector<PatternChar>& pattern, std::string_view utf8Name) {
    std::vector<char32_t> name = Decode(utf8Name);
    const std::size_t size = name.size();
    std::size_t lastDot = std::string::npos;
    for (std::size_t i = 0; i < size; ++i) {
        if (name[i] == '.') lastDot = i;
    }
    std::vector<char32_t> folded(size);
    for (std::size_t i = 0; i < size; ++i) folded[i] = FoldNameChar(name[i]);

    const std::size_t width = size + 1;
    std::vector<std::uint8_t> table((pattern.size() + 1) * width, 0);
    auto at = [&](std::size_t p, std::size_t n) -> std::uint8_t& { return table[p * width + n]; };
    at(pattern.size(), size) = 1;  // the end of the pattern matches only the end of the name
    for (std::size_t p = pattern.size(); p-- > 0;) {
        const PatternChar& token = pattern[p];
        for (std::size_t n = width; n-- > 0;) {
            const bool more = n < size;
            bool match = false;
            switch (token.token) {
                case Token::Literal:
                    match = more && folded[n] == token.c && at(p + 1, n + 1);
                    break;
                case Token::Qm:
                    match = more && at(p + 1, n + 1);
                    break;
                case Token::Star:
                    match = at(p + 1, n) || (more && at(p, n + 1));
                    break;
                case Token::DosStar:
                    // Any run that does not reach past the name's final dot: before it the star
                    // may go on, the final dot itself it may take as its last character.
                    if (lastDot == std::string::npos || n > lastDot) {
                        match = at(p + 1, n) || (more && at(p, n + 1));
                    } else if (n < lastDot) {
                        match = at(p + 1, n) || at(p, n + 1);
                    } else {
                        match = at(p + 1, n) || at(p + 1, n + 1);
                    }
                    break;
                case Token::DosQm:
                    if (!more || name[n] == '.') {
                        // At a dot or the end the whole run of them matches nothing.
                        std::size_t q = p;
                        while (q < pattern.size() && pattern[q].token == Token::DosQm) ++q;
                        match = at(q, n);
                    } else {
                        match = at(p + 1, n + 1);
                    }
                    break;
                case Token::DosDot:
                    match = more ? name[n] == '.' && at(p + 1, n + 1) : at(p + 1, n);
                    break;
            }
            at(p, n) = match ? 1 : 0;
        }
    }
    return at(0, 0) != 0;
}

// Sort key of a name in a listing: upper-cased code points, as NTFS orders a folder.
std::vector<char32_t> ListingKey(std::string_view name) {
    std::vector<char32_t> key = Decode(name);
    for (char32_t& c : key) c = FoldNameChar(c);
    return key;
}

bool FillEntryInfo(const std::string& folder, FoundEntry& entry) {
    std::string path = folder.empty() ? entry.name : folder + "/" + entry.name;
    struct statx extended;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &extended) == 0 &&
        (extended.stx_mask & STATX_BTIME)) {
        entry.haveBirth = true;
        entry.birth = {static_cast<time_t>(extended.stx_btime.tv_sec),
                       static_cast<long>(extended.stx_btime.tv_nsec)};
    } else {
        entry.haveBirth = false;
    }
    return stat(path.c_str(), &entry.info) == 0 || lstat(path.c_str(), &entry.info) == 0;
}

template <typename FindData>
void FillFindCommon(const FoundEntry& entry, FindData& data) {
    const struct stat& info = entry.info;
    DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (!(info.st_mode & S_IWUSR)) attributes |= FILE_ATTRIBUTE_READONLY;
    if (entry.name.size() > 1 && entry.name[0] == '.' && entry.name != "..") {
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    }
    data.dwFileAttributes = attributes;
    data.ftLastWriteTime = ToFileTime(info.st_mtim);
    data.ftLastAccessTime = ToFileTime(info.st_atim);
    data.ftCreationTime = entry.haveBirth ? ToFileTime(entry.birth) : data.ftLastWriteTime;
    std::uint64_t size = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    data.dwReserved0 = 0;
    data.dwReserved1 = 0;
}

void FillFindData(const FoundEntry& entry, WIN32_FIND_DATAW& data) {
    FillFindCommon(entry, data);
    std::u16string name = Utf8ToUtf16(entry.name);
    std::size_t units = std::min<std::size_t>(name.size(), MAX_PATH - 1);
    std::copy_n(name.data(), units, data.cFileName);
    data.cFileName[units] = 0;
    data.cAlternateFileName[0] = 0;
}

void FillFindData(const FoundEntry& entry, WIN32_FIND_DATAA& data) {
    FillFindCommon(entry, data);
    std::string name = WideToNarrow(Utf8ToUtf16(entry.name));
    std::size_t bytes = std::min<std::size_t>(name.size(), MAX_PATH - 1);
    std::memcpy(data.cFileName, name.data(), bytes);
    data.cFileName[bytes] = 0;
    data.cAlternateFileName[0] = 0;
}

template <typename FindData>
HANDLE FindFirst(LPCWSTR pattern, FindData* data) {
    std::string utf8;
    if (!pattern || !data || !Utf16ToUtf8(pattern, utf8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    std::size_t slash = utf8.find_last_of('/');
    std::string folderPart = slash == std::string::npos ? "" : utf8.substr(0, slash + 1);
    std::string namePart = slash == std::string::npos ? utf8 : utf8.substr(slash + 1);
    if (folderPart.empty() && namePart.size() >= 2 && namePart[1] == ':') {  // "C:*.png"
        folderPart = namePart.substr(0, 2);
        namePart.erase(0, 2);
    }
    if (namePart.empty()) {  // "folder\\" names no file
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string folder = folderPart.empty() ? "" : ResolveHostPath(folderPart);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    DIR* stream = opendir(folder.empty() ? "." : folder.c_str());
    if (!stream) {
        SetLastError(errno == ENOTDIR || errno == ENOENT ? ERROR_PATH_NOT_FOUND
                                                         : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::vector<PatternChar> compiled = CompilePattern(namePart);
    auto search = std::make_shared<FindObject>();
    bool atRoot = folder == "/";
    while (dirent* entry = readdir(stream)) {
        std::string_view name = entry->d_name;
        if (atRoot && (name == "." || name == "..")) continue;
        if (!MatchName(compiled, name)) continue;
        FoundEntry found{std::string(name), {}, false, {}};
        if (FillEntryInfo(folder, found)) search->entries.push_back(std::move(found));
    }
    closedir(stream);
    if (search->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(search->entries.begin(), search->entries.end(),
              [](const FoundEntry& a, const FoundEntry& b) {
                  return std::pair(ListingKey(a.name), a.name) <
                         std::pair(ListingKey(b.name), b.name);
              });
    FillFindData(search->entries[0], *data);
    search->next = 1;
    return RegisterHandle(std::move(search));
}

template <typename FindData>
BOOL FindNext(HANDLE handle, FindData* data) {
    auto search = LookupHandleAs<FindObject>(handle);
    if (!search) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (search->next >= search->entries.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    FillFindData(search->entries[search->next++], *data);
    return TRUE;
}

std::string CurrentFolder() {
    std::string buffer(256, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return "";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string ExecutablePath() {
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) return "";
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// GetModuleFileName's copy: a name that does not fit is cut, terminated, and reported with the
// buffer's length and ERROR_INSUFFICIENT_BUFFER.
template <typename Char>
DWORD CopyTruncated(std::basic_string_view<Char> text, Char* buffer, DWORD length) {
    if (!buffer || length == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < length) {
        std::copy(text.begin(), text.end(), buffer);
        buffer[text.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(text.size());
    }
    std::copy_n(text.begin(), length - 1, buffer);
    buffer[length - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return length;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD /*shareMode*/,
                   LPSECURITY_ATTRIBUTES /*security*/, DWORD disposition, DWORD flagsAndAttributes,
                   HANDLE /*templateFile*/) {
    // Opening finds an existing file in any spelling; overwriting takes only the one file that
    // matches, and a new file gets the name as spelt.
    NameLookup lookup = disposition == CREATE_NEW ? NameLookup::Exact
                        : disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING
                            ? NameLookup::Single
                            : NameLookup::Loose;
    std::string host;
    if (!HostPathFromWide(path, host, lookup)) return INVALID_HANDLE_VALUE;
    if (host.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    bool read = (access & GENERIC_READ) != 0;
    bool write = (access & GENERIC_WRITE) != 0;
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    switch (disposition) {
        case CREATE_NEW:
            flags |= O_CREAT | O_EXCL;
            break;
        case CREATE_ALWAYS:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OPEN_EXISTING:
            break;
        case OPEN_ALWAYS:
            flags |= O_CREAT;
            break;
        case TRUNCATE_EXISTING:
            if (!write) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            flags |= O_TRUNC;
            break;
        default:
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
    }
    struct stat before;
    bool existed = stat(host.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {  // a folder is never a file
        SetLastError(disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    int fd;
    do {
        fd = ::open(host.c_str(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == ENOENT) {
            SetLastError(MissingPathError(host));
        } else {
            SetErrorFromErrno();
        }
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = RegisterHandle(std::make_shared<FileObject>(fd));
    bool reportsExisting = disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    std::u16string wide;
    if (!NarrowToWide(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileW(wide.c_str(), access, shareMode, security, disposition, flagsAndAttributes,
                       templateFile);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD bytes, LPDWORD bytesRead,
              LPOVERLAPPED overlapped) {
    if (bytesRead) *bytesRead = 0;
    auto file = LookupFile(handle);
    if (!file) return FALSE;
    if (overlapped || (!buffer && bytes != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    while (done < bytes) {  // a read stops short only at the end of the file
        ssize_t got = ::read(file->fd, static_cast<char*>(buffer) + done, bytes - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
            if (bytesRead) *bytesRead = done;
            return FALSE;
        }
        if (got == 0) break;
        done += static_cast<DWORD>(got);
    }
    if (bytesRead) *bytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD bytes, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped) {
    if (bytesWritten) *bytesWritten = 0;
    auto file = LookupFile(handle);
    if (!file) return FALSE;
    if (overlapped || (!data && bytes != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD done = 0;
    while (done < bytes) {
        ssize_t put = ::write(file->fd, static_cast<const char*>(data) + done, bytes - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
            if (bytesWritten) *bytesWritten = done;
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    if (bytesWritten) *bytesWritten = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
    auto file = LookupFile(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    std::int64_t offset =
        distanceHigh ? static_cast<std::int64_t>(
                           (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                           static_cast<DWORD>(distance))
                     : distance;
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    off_t base = 0;
    if (whence == SEEK_CUR) base = lseek(file->fd, 0, SEEK_CUR);
    if (whence == SEEK_END) {
        struct stat info;
        base = fstat(file->fd, &info) == 0 ? info.st_size : -1;
    }
    if (base < 0) {
        SetErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    std::int64_t target = static_cast<std::int64_t>(base) + offset;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (!distanceHigh && target > 0xFFFFFFFELL) {  // would not fit the 32-bit answer
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(target >> 32);
    SetLastError(ERROR_SUCCESS);  // callers tell a position of 0xFFFFFFFF from failure by this
    return static_cast<DWORD>(target);
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
    auto file = LookupFile(handle);
    if (!file) return INVALID_FILE_SIZE;
    struct stat info;
    if (fstat(file->fd, &info) != 0) {
        SetErrorFromErrno();
        return INVALID_FILE_SIZE;
    }
    std::uint64_t size = static_cast<std::uint64_t>(info.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL DeleteFileW(LPCWSTR path) {
    std::string host;
    if (!HostPathFromWide(path, host, NameLookup::Single)) return FALSE;
    struct stat info;
    if (lstat(host.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (unlink(host.c_str()) != 0) {
        SetLastError(errno == ENOENT ? MissingPathError(host) : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL DeleteFileA(LPCSTR path) {
    std::u16string wide;
    if (!NarrowToWide(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return DeleteFileW(wide.c_str());
}

namespace {

// rename() that never replaces what is at `to`: 0, or -1 with errno (EEXIST when `to` exists).
int RenameNoReplace(const char* from, const char* to) {
#if defined(SYS_renameat2)
    if (syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1;
#endif
    // File systems without renameat2: a hard link fails on an existing target, and the old name
    // goes only once the new one exists. A folder cannot be linked; it is moved after a look at
    // the target (such file systems leave no race-free way).
    struct stat info;
    if (lstat(from, &info) != 0) return -1;
    if (!S_ISDIR(info.st_mode)) {
        if (link(from, to) != 0) return -1;
        unlink(from);
        return 0;
    }
    if (lstat(to, &info) == 0) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

}  // namespace

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
    std::string hostFrom, hostTo;
    if (!HostPathFromWide(from, hostFrom, NameLookup::Single) || !HostPathFromWide(to, hostTo)) {
        return FALSE;
    }
    if (hostFrom.empty() || hostTo.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    struct stat info;
    if (lstat(hostFrom.c_str(), &info) != 0) {
        SetLastError(errno == ENOENT ? MissingPathError(hostFrom) : ErrorFromErrno(errno));
        return FALSE;
    }
    if (RenameNoReplace(hostFrom.c_str(), hostTo.c_str()) != 0) {
        if (errno == EEXIST || errno == ENOTEMPTY) {
            SetLastError(ERROR_ALREADY_EXISTS);
        } else if (errno == ENOENT) {
            SetLastError(MissingPathError(hostTo));
        } else {
            SetErrorFromErrno();
        }
        return FALSE;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL MoveFileA(LPCSTR from, LPCSTR to) {
    std::u16string wideFrom, wideTo;
    if (!NarrowToWide(from, wideFrom) || !NarrowToWide(to, wideTo)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return MoveFileW(wideFrom.c_str(), wideTo.c_str());
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    return FindFirst(pattern, data);
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    std::u16string wide;
    if (!NarrowToWide(pattern, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return FindFirst(wide.c_str(), data);
}

BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* data) {
    return FindNext(search, data);
}
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data) {
    return FindNext(search, data);
}

BOOL FindClose(HANDLE search) {
    if (!LookupHandleAs<FindObject>(search) || !UnregisterHandle(search)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (!utc || !local) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::int64_t ticks = Ticks(*utc);
    time_t seconds = static_cast<time_t>(ticks / 10000000 - kEpochDifference);
    struct tm parts;
    if (!localtime_r(&seconds, &parts)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ticks += static_cast<std::int64_t>(parts.tm_gmtoff) * 10000000;
    if (ticks < 0) ticks = 0;
    *local = FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* out) {
    if (!time || !out || (time->dwHighDateTime & 0x80000000u)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::int64_t ticks = Ticks(*time);
    std::int64_t days = ticks / (86400LL * 10000000);
    std::int64_t rest = ticks % (86400LL * 10000000);
    // Civil date from days since 1601-01-01 (a Monday), through days since 0000-03-01.
    std::int64_t z = days + 584694;  // 1601-01-01 counted from 0000-03-01
    std::int64_t era = z / 146097;
    std::int64_t dayOfEra = z - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t mp = (5 * dayOfYear + 2) / 153;
    std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    out->wYear = static_cast<WORD>(year);
    out->wMonth = static_cast<WORD>(month);
    out->wDay = static_cast<WORD>(day);
    out->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 0 Sunday; 1601-01-01 was a Monday
    out->wHour = static_cast<WORD>(rest / (3600LL * 10000000));
    out->wMinute = static_cast<WORD>(rest / (60LL * 10000000) % 60);
    out->wSecond = static_cast<WORD>(rest / 10000000 % 60);
    out->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
    return TRUE;
}

DWORD GetCurrentDirectoryW(DWORD length, LPWSTR buffer) {
    std::string folder = CurrentFolder();
    if (folder.empty()) {
        SetErrorFromErrno();
        return 0;
    }
    std::u16string wide = Utf8ToUtf16(folder);
    return CopyOut<char16_t>(wide, buffer, length);
}

DWORD GetCurrentDirectoryA(DWORD length, LPSTR buffer) {
    std::string folder = CurrentFolder();
    if (folder.empty()) {
        SetErrorFromErrno();
        return 0;
    }
    std::string narrow = WideToNarrow(Utf8ToUtf16(folder));
    return CopyOut<char>(narrow, buffer, length);
}

BOOL SetCurrentDirectoryW(LPCWSTR path) {
    std::string host;
    if (!HostPathFromWide(path, host)) return FALSE;
    if (host.empty() || chdir(host.c_str()) != 0) {
        SetLastError(host.empty() || errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                                         : ErrorFromErrno(errno));
        return FALSE;
    }
    return TRUE;
}

BOOL SetCurrentDirectoryA(LPCSTR path) {
    std::u16string wide;
    if (!NarrowToWide(path, wide)) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return SetCurrentDirectoryW(wide.c_str());
}

DWORD GetTempPathW(DWORD length, LPWSTR buffer) {
    std::u16string wide = Utf8ToUtf16(TempFolder());
    return CopyOut<char16_t>(wide, buffer, length);
}

DWORD GetTempPathA(DWORD length, LPSTR buffer) {
    std::string narrow = WideToNarrow(Utf8ToUtf16(TempFolder()));
    return CopyOut<char>(narrow, buffer, length);
}

UINT GetTempFileNameW(LPCWSTR folder, LPCWSTR prefix, UINT unique, LPWSTR name) {
    if (!folder || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string base = folder;
    if (!base.empty() && base.back() != u'\\' && base.back() != u'/') base += u'\\';
    if (prefix) base += std::u16string_view(prefix).substr(0, 3);
    auto makeName = [&](UINT number) {
        static const char16_t kHex[] = u"0123456789ABCDEF";
        std::u16string digits;
        for (UINT n = number & 0xFFFF; n != 0 || digits.empty(); n >>= 4) digits += kHex[n & 15];
        std::reverse(digits.begin(), digits.end());
        return base + digits + u".tmp";
    };
    auto fits = [&](const std::u16string& full) {
        if (full.size() < MAX_PATH) return true;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return false;
    };
    if (unique != 0) {
        std::u16string full = makeName(unique);
        if (!fits(full)) return 0;
        std::copy(full.begin(), full.end(), name);
        name[full.size()] = 0;
        return unique & 0xFFFF;
    }
    static std::minstd_rand generator(static_cast<unsigned>(std::time(nullptr)) ^
                                      static_cast<unsigned>(getpid()));
    UINT start = static_cast<UINT>(generator() % 0xFFFF) + 1;
    for (UINT k = 0; k < 0xFFFF; ++k) {
        UINT number = (start + k - 1) % 0xFFFF + 1;
        std::u16string full = makeName(number);
        if (!fits(full)) return 0;
        HANDLE created = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            CloseHandle(created);
            std::copy(full.begin(), full.end(), name);
            name[full.size()] = 0;
            SetLastError(ERROR_SUCCESS);
            return number;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) return 0;
    }
    SetLastError(ERROR_FILE_EXISTS);
    return 0;
}

UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR name) {
    std::u16string wideFolder, widePrefix;
    if (!name || !NarrowToWide(folder, wideFolder) ||
        (prefix && !NarrowToWide(prefix, widePrefix))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char16_t wideName[MAX_PATH];
    UINT result = GetTempFileNameW(wideFolder.c_str(), prefix ? widePrefix.c_str() : nullptr,
                                   unique, wideName);
    if (result == 0) return 0;
    std::string narrow = WideToNarrow(wideName);
    if (narrow.size() >= MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return 0;
    }
    std::memcpy(name, narrow.c_str(), narrow.size() + 1);
    return result;
}

DWORD GetModuleFileNameW(HMODULE /*module*/, LPWSTR buffer, DWORD length) {
    std::string path = ExecutablePath();
    if (path.empty()) {
        SetErrorFromErrno();
        return 0;
    }
    std::u16string wide = Utf8ToUtf16(path);
    return CopyTruncated<char16_t>(wide, buffer, length);
}

DWORD GetModuleFileNameA(HMODULE /*module*/, LPSTR buffer, DWORD length) {
    std::string path = ExecutablePath();
    if (path.empty()) {
        SetErrorFromErrno();
        return 0;
    }
    std::string narrow = WideToNarrow(Utf8ToUtf16(path));
    return CopyTruncated<char>(narrow, buffer, length);
}

namespace {
const ModuleExports kExports("kernel32.dll",
                             {{"CreateFileA", Export(&CreateFileA)},
                              {"CreateFileW", Export(&CreateFileW)},
                              {"ReadFile", Export(&ReadFile)},
                              {"WriteFile", Export(&WriteFile)},
                              {"SetFilePointer", Export(&SetFilePointer)},
                              {"GetFileSize", Export(&GetFileSize)},
                              {"DeleteFileA", Export(&DeleteFileA)},
                              {"DeleteFileW", Export(&DeleteFileW)},
                              {"MoveFileA", Export(&MoveFileA)},
                              {"MoveFileW", Export(&MoveFileW)},
                              {"FindFirstFileA", Export(&FindFirstFileA)},
                              {"FindFirstFileW", Export(&FindFirstFileW)},
                              {"FindNextFileA", Export(&FindNextFileA)},
                              {"FindNextFileW", Export(&FindNextFileW)},
                              {"FindClose", Export(&FindClose)},
                              {"FileTimeToLocalFileTime", Export(&FileTimeToLocalFileTime)},
                              {"FileTimeToSystemTime", Export(&FileTimeToSystemTime)},
                              {"GetCurrentDirectoryA", Export(&GetCurrentDirectoryA)},
                              {"GetCurrentDirectoryW", Export(&GetCurrentDirectoryW)},
                              {"SetCurrentDirectoryA", Export(&SetCurrentDirectoryA)},
                              {"SetCurrentDirectoryW", Export(&SetCurrentDirectoryW)},
                              {"GetTempPathA", Export(&GetTempPathA)},
                              {"GetTempPathW", Export(&GetTempPathW)},
                              {"GetTempFileNameA", Export(&GetTempFileNameA)},
                              {"GetTempFileNameW", Export(&GetTempFileNameW)},
                              {"GetModuleFileNameA", Export(&GetModuleFileNameA)},
                              {"GetModuleFileNameW", Export(&GetModuleFileNameW)}});
}

}  // namespace platform::kernel32
