#include "Main/DxFile.h"

#include <cstring>
#include <type_traits>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxHandle.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFileWin.h"
#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz {

// ============================================================================================
// Paths
// ============================================================================================

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool IsDriveChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

// Length of a drive run ("C", "ab1", letters, digits and surrogate pairs) when a ':' follows it,
// else 0.
std::size_t DriveLength(const char16_t* path) {
    std::size_t i = 0;
    for (;;) {
        char16_t c = path[i];
        if (IsDriveChar(c)) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            i += 2;
        } else {
            break;
        }
    }
    return i > 0 && path[i] == u':' ? i : 0;
}

// The result under construction, bounded by the caller's buffer (one unit kept for the zero).
template <typename Char>
class BoundedPath {
  public:
    BoundedPath(Char* out, std::size_t outBytes)
        : out_(out),
          room_(outBytes / sizeof(Char) > 0),
          capacity_(room_ ? outBytes / sizeof(Char) - 1 : 0) {}
    void Add(Char c) {
        if (length_ < capacity_) out_[length_++] = c;
    }
    void Add(const Char* text, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) Add(text[i]);
    }
    std::size_t Length() const { return length_; }
    Char At(std::size_t i) const { return out_[i]; }
    const Char* Data() const { return out_; }
    Char Last() const { return length_ ? out_[length_ - 1] : Char(0); }
    void Cut(std::size_t length) { length_ = length < length_ ? length : length_; }
    void Finish() {
        if (room_) out_[length_] = 0;
    }

  private:
    Char* out_;
    bool room_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

// Cuts the result back by one component for "..": to its last separator (removed), or just after
// a drive's ':'. A root separator at the very start is kept, so "/home" gives "/" and a path can
// never climb from absolute to relative.
template <typename Char, typename IsSeparatorFn, typename IsSecondByteFn>
void CutLastComponent(BoundedPath<Char>& result, IsSeparatorFn isSeparator,
                      IsSecondByteFn isSecondByte) {
    std::size_t i = result.Length();
    while (i > 0) {
        --i;
        if (isSecondByte(i)) continue;
        Char c = result.At(i);
        if (c == Char(':')) {
            result.Cut(i + 1);
            return;
        }
        if (isSeparator(c)) {
            result.Cut(i == 0 ? 1 : i);
            return;
        }
    }
    result.Cut(0);
}

// The shared walk over a path's components (steps 3 to 6); `charUnits` gives the code units of
// the character at a position, so that no trail byte of a two-byte character is taken for a
// separator in the narrow form (it is 1 for UTF-16, where no surrogate equals a separator).
template <typename Char, typename CharUnitsFn>
int BuildFullPath(const Char* path, Char* out, std::size_t outBytes, const Char* base,
                  CharUnitsFn charUnits) {
    auto isSeparator = [](Char c) { return c == Char('\\') || c == Char('/'); };
    auto length = [](const Char* text) {
        std::size_t n = 0;
        while (text[n]) ++n;
        return n;
    };
    BoundedPath<Char> result(out, outBytes);
    // Which result positions hold the second byte of a two-byte character (narrow form only).
    std::size_t baseLength = length(base);

    if (!path) {
        result.Add(base, baseLength);
        result.Finish();
        return 0;
    }

    const Char* p = path;
    std::size_t drive = 0;
    if constexpr (sizeof(Char) == 2) {
        drive = DriveLength(reinterpret_cast<const char16_t*>(path));
    } else {
        while (p[drive] &&
               ((p[drive] >= 'A' && p[drive] <= 'Z') || (p[drive] >= 'a' && p[drive] <= 'z') ||
                (p[drive] >= '0' && p[drive] <= '9'))) {
            ++drive;
        }
        if (p[drive] != ':') drive = 0;
    }
    if (isSeparator(p[0]) && p[1] == p[0]) {
        result.Add(Char('\\'));
        p += 2;
    } else if (drive > 0) {
        result.Add(p, drive + 1);
        p += drive + 1;
        if (isSeparator(*p)) ++p;
    } else if (isSeparator(p[0])) {
        // The base's drive ("C:"); a host base without a drive ("/home/...") gives its root.
        if (baseLength >= 2 && base[1] == Char(':')) {
            result.Add(base, 2);
        } else {
            result.Add(Char('\\'));
        }
        ++p;
    } else {
        std::size_t keep = baseLength;
        // The base's own final separator goes (a bare root stays), when it is a character of
        // its own and not the second byte of a two-byte character.
        std::size_t last = 0;
        for (std::size_t i = 0; i < keep; i += charUnits(base + i)) last = i;
        if (keep > 1 && last == keep - 1 && isSeparator(base[last])) --keep;
        result.Add(base, keep);
    }
    // Second bytes of two-byte characters already in the result are never separators: in the
    // narrow form we re-scan the result from its start to know where characters begin.
    auto isSecondByte = [&](std::size_t index) {
        if constexpr (sizeof(Char) == 1) {
            std::size_t i = 0;
            while (i < index) i += charUnits(result.Data() + i);
            return i != index;
        } else {
            (void)index;
            return false;
        }
    };
    auto endsInSeparator = [&]() {
        std::size_t n = result.Length();
        return n > 0 && isSeparator(result.Last()) && !isSecondByte(n - 1);
    };

    while (*p) {
        // One component: up to the next separator, stepping over two-byte characters whole.
        const Char* start = p;
        while (*p && !isSeparator(*p)) {
            std::size_t units = charUnits(p);
            for (std::size_t k = 1; k < units; ++k) {
                if (!p[k]) units = k;
            }
            p += units;
        }
        std::size_t count = static_cast<std::size_t>(p - start);
        bool followed = *p != 0;
        while (isSeparator(*p)) ++p;
        if (count == 0) continue;
        bool dot = count == 1 && start[0] == Char('.');
        bool dotDot = count == 2 && start[0] == Char('.') && start[1] == Char('.');
        if (followed && dot) continue;
        if (followed && dotDot) {
            CutLastComponent(result, isSeparator, isSecondByte);
            continue;
        }
        if (result.Length() > 0 && !endsInSeparator()) result.Add(Char('\\'));
        result.Add(start, count);
    }
    result.Finish();
    return 0;
}

std::size_t OneUnit(const char16_t*) {
    return 1;
}

}  // namespace

int MakeFullPath(const char16_t* path, char16_t* out, std::size_t outBytes, const char16_t* base) {
    if (!out) return -1;
    char16_t current[1536];
    if (!base) {
        current[0] = 0;
        StreamGetCurrentDir(current, sizeof current);
        current[1535] = 0;
        base = current;
    }
    return BuildFullPath(path, out, outBytes, base, OneUnit);
}

namespace {

std::int32_t Narrow() {
    if (NarrowEncoding == 0) EnsureDefaultCharCodes();
    return NarrowEncoding;
}

std::int32_t Wide() {
    if (WideEncoding == 0) EnsureDefaultCharCodes();
    return WideEncoding;
}

// Narrow <-> wide conversions into fixed buffers; always terminated.
void NarrowToWide(const char* text, char16_t* out, std::size_t outBytes) {
    if (outBytes < 2) return;
    out[0] = 0;
    if (text) TranscodeString(text, -1, Narrow(), out, static_cast<int>(outBytes), Wide());
}

void WideToNarrow(const char16_t* text, char* out, std::size_t outBytes) {
    if (outBytes < 1) return;
    out[0] = 0;
    if (text) TranscodeString(text, -1, Wide(), out, static_cast<int>(outBytes), Narrow());
}

std::size_t NarrowCharUnits(const char* p) {
    int bytes = MeasureCharAt(p, Narrow());
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
}

}  // namespace

int MakeFullPathNarrow(const char* path, char* out, std::size_t outBytes, const char* base) {
    if (!out) return -1;
    char current[1536];
    if (!base) {
        char16_t wide[1536];
        wide[0] = 0;
        StreamGetCurrentDir(wide, sizeof wide);
        wide[1535] = 0;
        WideToNarrow(wide, current, sizeof current);
        base = current;
    }
    return BuildFullPath(path, out, outBytes, base, NarrowCharUnits);
}

namespace {

// Copies count units and a terminator, cut to fit `bytes` (nothing for a missing output).
void CopyUnitsBounded(const char16_t* from, std::size_t count, char16_t* to, std::size_t bytes) {
    if (!to || bytes < 2) return;
    std::size_t room = bytes / 2 - 1;
    if (count > room) count = room;
    for (std::size_t i = 0; i < count; ++i) to[i] = from[i];
    to[count] = 0;
}

}  // namespace

int SplitPathAtLastSeparator(const char16_t* path, char16_t* fileName, std::size_t fileNameBytes,
                             char16_t* folder, std::size_t folderBytes) {
    if (!path) return -1;
    std::size_t length = 0;
    std::size_t split = static_cast<std::size_t>(-1);
    for (; path[length]; ++length) {
        char16_t c = path[length];
        if (IsSeparator(c) || c == u':') split = length;
    }
    bool found = split != static_cast<std::size_t>(-1);
    CopyUnitsBounded(found ? path + split + 1 : path, found ? length - split - 1 : length, fileName,
                     fileNameBytes);
    CopyUnitsBounded(path, found ? split : 0, folder, folderBytes);
    return 0;
}

int SplitBaseNameAndExtension(const char16_t* path, char16_t* baseName, std::size_t baseNameBytes,
                              char16_t* extension, std::size_t extensionBytes) {
    if (!path) return -1;
    char16_t name[256];
    SplitPathAtLastSeparator(path, name, sizeof name, nullptr, 0);
    std::size_t length = 0;
    std::size_t dot = static_cast<std::size_t>(-1);
    for (; name[length]; ++length) {
        if (name[length] == u'.') dot = length;
    }
    bool found = dot != static_cast<std::size_t>(-1);
    CopyUnitsBounded(name, found ? dot : length, baseName, baseNameBytes);
    CopyUnitsBounded(found ? name + dot + 1 : name + length, found ? length - dot - 1 : 0,
                     extension, extensionBytes);
    return 0;
}

// ============================================================================================
// The stream function table
// ============================================================================================

namespace {

StreamFunctionTable gTable{};
bool gTableSet = false;
const StreamFunctionTable* gArchiveTable = nullptr;
int gArchiveSwitch = 1;
NarrowStreamFunctionTable gNarrowTable{};

// The table as it stands: before anything is installed it is the built-in default.
StreamFunctionTable& Table() {
    if (!gTableSet) {
        gTable = *GetDefaultStreamFunctionTable();
        gTableSet = true;
    }
    return gTable;
}

}  // namespace

const StreamFunctionTable* GetDefaultStreamFunctionTable() {
    return gArchiveSwitch && gArchiveTable ? gArchiveTable : GetPlainStreamFunctions();
}

void RegisterArchiveStreamFunctions(const StreamFunctionTable* table) {
    gArchiveTable = table;
}
int GetArchiveLookupSwitch() {
    return gArchiveSwitch;
}
void SetArchiveLookupSwitch(int on) {
    gArchiveSwitch = on ? 1 : 0;
}

int InstallStreamFunctions(const StreamFunctionTable* table) {
    gTable = table ? *table : *GetDefaultStreamFunctionTable();
    gTableSet = true;
    return 0;
}

StreamFunctionTable* GetStreamFunctionTable() {
    return &Table();
}

int IsDefaultStreamFunctionTable() {
    const StreamFunctionTable& now = Table();
    const StreamFunctionTable& builtIn = *GetDefaultStreamFunctionTable();
    return now.Open == builtIn.Open && now.Close == builtIn.Close && now.Tell == builtIn.Tell &&
                   now.Seek == builtIn.Seek && now.Read == builtIn.Read && now.Eof == builtIn.Eof &&
                   now.ChangeDir == builtIn.ChangeDir && now.GetDir == builtIn.GetDir &&
                   now.GetDirWithSize == builtIn.GetDirWithSize &&
                   now.FindFirst == builtIn.FindFirst && now.FindNext == builtIn.FindNext &&
                   now.FindClose == builtIn.FindClose
               ? 1
               : 0;
}

// ============================================================================================
// Reader records
// ============================================================================================

namespace {

StreamValue AsStream(void* stream) {
    return reinterpret_cast<StreamValue>(stream);
}

std::int64_t FileReaderTell(void* stream) {
    return Table().Tell(AsStream(stream));
}
int FileReaderSeek(void* stream, std::int64_t offset, int origin) {
    return Table().Seek(AsStream(stream), offset, origin);
}
std::size_t FileReaderRead(void* buffer, std::size_t size, std::size_t count, void* stream) {
    return Table().Read(buffer, size, count, AsStream(stream));
}
int FileReaderEof(void* stream) {
    return Table().Eof(AsStream(stream));
}
int FileReaderIdleCheck(void* stream) {
    return Table().IdleCheck(AsStream(stream));
}
int FileReaderClose(void* stream) {
    return Table().Close(AsStream(stream));
}

const StreamReaderOps kFileReader = {FileReaderTell, FileReaderSeek,      FileReaderRead,
                                     FileReaderEof,  FileReaderIdleCheck, FileReaderClose};

MemoryStream* AsMemory(void* stream) {
    return static_cast<MemoryStream*>(stream);
}
std::int64_t MemoryReaderTell(void* stream) {
    return MemoryStreamTell(AsMemory(stream));
}
int MemoryReaderSeek(void* stream, std::int64_t offset, int origin) {
    return MemoryStreamSeek(AsMemory(stream), offset, origin);
}
std::size_t MemoryReaderRead(void* buffer, std::size_t size, std::size_t count, void* stream) {
    return MemoryStreamRead(buffer, size, count, AsMemory(stream));
}
int MemoryReaderEof(void* stream) {
    return MemoryStreamAtEnd(AsMemory(stream));
}
int MemoryReaderIdleCheck(void*) {
    return 1;
}
int MemoryReaderClose(void* stream) {
    return FreeMemoryStream(AsMemory(stream));
}

const StreamReaderOps kMemoryReader = {MemoryReaderTell, MemoryReaderSeek,      MemoryReaderRead,
                                       MemoryReaderEof,  MemoryReaderIdleCheck, MemoryReaderClose};

}  // namespace

const StreamReaderOps* GetFileStreamAccess() {
    return &kFileReader;
}
const StreamReaderOps* GetMemoryStreamAccess() {
    return &kMemoryReader;
}

// ============================================================================================
// Memory streams
// ============================================================================================

MemoryStream* CreateMemoryStream(const void* data, std::size_t size) {
    if (size > 0xFFFFFFFFu) return nullptr;  // positions are 32-bit
    auto* stream = static_cast<MemoryStream*>(DX_ALLOC(sizeof(MemoryStream)));
    if (!stream) return nullptr;
    stream->data = data;
    stream->size = static_cast<std::uint32_t>(size);
    stream->position = 0;
    stream->endReached = 0;
    return stream;
}

int FreeMemoryStream(MemoryStream* stream) {
    DX_FREE(stream);
    return 0;
}

int MemoryStreamAtEnd(MemoryStream* stream) {
    return stream->endReached;
}

std::int64_t MemoryStreamTell(MemoryStream* stream) {
    return stream->position;
}

bool SeekTargetWithin(std::int64_t position, std::int64_t size, std::int64_t offset, int origin,
                      std::int64_t* target) {
    std::int64_t base;
    switch (origin) {
        case 0:
            base = 0;
            break;
        case 1:
            base = position;
            break;
        case 2:
            base = size;
            break;
        default:
            return false;
    }
    std::int64_t t = base + offset;
    if (t < 0) t = 0;
    if (t > size) t = size;
    *target = t;
    return true;
}

int MemoryStreamSeek(MemoryStream* stream, std::int64_t offset, int origin) {
    std::int64_t target = 0;  // an unknown origin goes back to the start
    SeekTargetWithin(stream->position, stream->size, offset, origin, &target);
    stream->position = static_cast<std::uint32_t>(target);
    stream->endReached = 0;
    return 0;
}

std::size_t MemoryStreamRead(void* buffer, std::size_t size, std::size_t count,
                             MemoryStream* stream) {
    if (size == 0 || count == 0) return 0;
    std::size_t remaining = stream->size - stream->position;
    if (remaining == 0) {
        stream->endReached = 1;
        return 0;
    }
    if (count > remaining / size) count = remaining / size;
    const auto* from = static_cast<const unsigned char*>(stream->data) + stream->position;
    auto* to = static_cast<unsigned char*>(buffer);
    if (count == 0) {
        // Less than one item is left: hand over the tail but count no item, and stand at the end.
        for (std::size_t i = 0; i < remaining; ++i) to[i] = from[i];
        stream->position = stream->size;
        stream->endReached = 1;
        return 0;
    }
    std::size_t bytes = size * count;
    for (std::size_t i = 0; i < bytes; ++i) to[i] = from[i];
    stream->position += static_cast<std::uint32_t>(bytes);
    stream->endReached = 0;
    return count;
}

// ============================================================================================
// Forwarders
// ============================================================================================

StreamValue StreamOpen(const char16_t* path, int useCache, int blockRead, int useASyncThread) {
    return Table().Open(path, useCache, blockRead, useASyncThread);
}
int StreamClose(StreamValue stream) {
    return Table().Close(stream);
}
std::int64_t StreamTell(StreamValue stream) {
    return Table().Tell(stream);
}
int StreamSeek(StreamValue stream, std::int64_t offset, int origin) {
    return Table().Seek(stream, offset, origin);
}
std::size_t StreamRead(void* buffer, std::size_t size, std::size_t count, StreamValue stream) {
    return Table().Read(buffer, size, count, stream);
}
int StreamEof(StreamValue stream) {
    return Table().Eof(stream);
}
int StreamIdleCheck(StreamValue stream) {
    return Table().IdleCheck(stream);
}
int StreamIsArchived(StreamValue stream) {
    return Table().IsArchived(stream);
}
int StreamChangeDir(const char16_t* path) {
    return Table().ChangeDir(path);
}
int StreamGetCurrentDir(char16_t* buffer, std::size_t bufferBytes) {
    StreamFunctionTable& table = Table();
    return table.GetDirWithSize ? table.GetDirWithSize(buffer, bufferBytes) : table.GetDir(buffer);
}
int EndFileSearch(FileSearchValue search) {
    return Table().FindClose(search);
}

// ============================================================================================
// A program's narrow table
// ============================================================================================

namespace {

constexpr std::size_t kNarrowPathBytes = 1536;

void NarrowRecordToWide(const NarrowFindFileRecord& from, FindFileRecord* to) {
    if (!to) return;
    NarrowToWide(from.Name, to->Name, sizeof to->Name);
    to->DirectoryFlag = from.DirectoryFlag;
    to->Size = from.Size;
    to->CreationTime = from.CreationTime;
    to->LastWriteTime = from.LastWriteTime;
}

void WideRecordToNarrow(const FindFileRecord& from, NarrowFindFileRecord* to) {
    if (!to) return;
    WideToNarrow(from.Name, to->Name, sizeof to->Name);
    to->DirectoryFlag = from.DirectoryFlag;
    to->Size = from.Size;
    to->CreationTime = from.CreationTime;
    to->LastWriteTime = from.LastWriteTime;
}

StreamValue NarrowOpen(const char16_t* path, int useCache, int blockRead, int useASyncThread) {
    char narrow[kNarrowPathBytes];
    WideToNarrow(path, narrow, sizeof narrow);
    return gNarrowTable.Open(narrow, useCache, blockRead, useASyncThread);
}

int NarrowChangeDir(const char16_t* path) {
    char narrow[kNarrowPathBytes];
    WideToNarrow(path, narrow, sizeof narrow);
    return gNarrowTable.ChangeDir(narrow);
}

int NarrowGetDirWithSize(char16_t* buffer, std::size_t bufferBytes) {
    char narrow[kNarrowPathBytes];
    narrow[0] = 0;
    int result = gNarrowTable.GetDirWithSize
                     ? gNarrowTable.GetDirWithSize(
                           narrow, bufferBytes < sizeof narrow ? bufferBytes : sizeof narrow)
                     : gNarrowTable.GetDir(narrow);
    narrow[sizeof narrow - 1] = 0;
    NarrowToWide(narrow, buffer, bufferBytes);
    return result;
}

int NarrowGetDir(char16_t* buffer) {
    // The slot has no size: the text of a 1,536-byte narrow buffer fits in 1,537 wide units.
    return NarrowGetDirWithSize(buffer, (kNarrowPathBytes + 1) * sizeof(char16_t));
}

FileSearchValue NarrowFindFirst(const char16_t* pattern, FindFileRecord* record) {
    char narrow[kNarrowPathBytes];
    WideToNarrow(pattern, narrow, sizeof narrow);
    NarrowFindFileRecord found{};
    FileSearchValue search = gNarrowTable.FindFirst(narrow, &found);
    if (search != -1) NarrowRecordToWide(found, record);
    return search;
}

int NarrowFindNext(FileSearchValue search, FindFileRecord* record) {
    NarrowFindFileRecord found{};
    int result = gNarrowTable.FindNext(search, &found);
    if (result == 0) NarrowRecordToWide(found, record);
    return result;
}

}  // namespace

int InstallNarrowStreamFunctions(const NarrowStreamFunctionTable* table) {
    if (!table) return InstallStreamFunctions(nullptr);
    gNarrowTable = *table;
    StreamFunctionTable& global = Table();
    global.Open = NarrowOpen;
    global.Close = table->Close;
    global.Tell = table->Tell;
    global.Seek = table->Seek;
    global.Read = table->Read;
    global.Eof = table->Eof;
    global.IdleCheck = table->IdleCheck;
    global.ChangeDir = NarrowChangeDir;
    global.GetDir = NarrowGetDir;
    global.GetDirWithSize = NarrowGetDirWithSize;
    global.FindFirst = NarrowFindFirst;
    global.FindNext = NarrowFindNext;
    global.FindClose = table->FindClose;
    return 0;
}

FileSearchValue BeginFileSearch(const char* pattern, NarrowFindFileRecord* record) {
    char16_t wide[1536];
    NarrowToWide(pattern, wide, sizeof wide);
    FindFileRecord found{};
    FileSearchValue search = Table().FindFirst(wide, record ? &found : nullptr);
    if (search != -1) WideRecordToNarrow(found, record);
    return search;
}

int ContinueFileSearch(FileSearchValue search, NarrowFindFileRecord* record) {
    FindFileRecord found{};
    int result = Table().FindNext(search, record ? &found : nullptr);
    if (result == 0) WideRecordToNarrow(found, record);
    return result;
}

// ============================================================================================
// Whole files by path
// ============================================================================================

namespace {

// A narrow path in the wide encoding: on the stack up to 496 characters, else on the heap.
class WidePath {
  public:
    explicit WidePath(const char* path) {
        if (!path) return;
        int bytes = TranscodeString(path, -1, Narrow(), nullptr, 0, Wide());
        if (bytes <= 0) return;
        char16_t* target = local_;
        if (static_cast<std::size_t>(bytes) > sizeof local_) {
            heap_ = static_cast<char16_t*>(DX_ALLOC(static_cast<std::size_t>(bytes)));
            if (!heap_) {
                outOfMemory_ = true;
                return;
            }
            target = heap_;
        }
        TranscodeString(path, -1, Narrow(), target, bytes, Wide());
        text_ = target;
    }
    ~WidePath() { DX_FREE(heap_); }
    WidePath(const WidePath&) = delete;
    WidePath& operator=(const WidePath&) = delete;
    const char16_t* Get() const { return text_; }
    bool OutOfMemory() const { return outOfMemory_; }

  private:
    char16_t local_[512];
    char16_t* heap_ = nullptr;
    const char16_t* text_ = nullptr;
    bool outOfMemory_ = false;
};

}  // namespace

std::int64_t GetFileSizeByPath(const char* path) {
    WidePath wide(path);
    if (!wide.Get()) return -1;
    StreamFunctionTable& table = Table();
    StreamValue stream = table.Open(wide.Get(), 0, 1, 0);
    if (!stream) return -1;
    table.Seek(stream, 0, 2);
    std::int64_t size = table.Tell(stream);
    table.Close(stream);
    return size;
}

// ============================================================================================
// File handles
// ============================================================================================

namespace {

struct FileHandleData {
    HandleHeader header;
    int kind;  // 0: a stream opened through the table
    StreamReaderOps reader;
    void* readerStream;
    StreamValue openedStream;
    std::int64_t size;      // measured at open
    std::int64_t position;  // kept for the report once the file is released
    int asyncRead;
};

int gFileModuleStarted = 0;

bool IsFileHandleValue(int handle) {
    return handle >= 0 && ((handle & kHandleTypeMask) >> kHandleTypeShift) == DX_HANDLETYPE_FILE;
}

FileHandleData* LookupFileHandle(int handle) {
    if (!IsFileHandleValue(handle)) return nullptr;
    return reinterpret_cast<FileHandleData*>(LookupHandleRecord(handle));
}

// Closes the handle's file; the handle itself stays until it is deleted.
void ReleaseFileStream(FileHandleData* file) {
    if (file->kind == 0 && file->openedStream) {
        Table().Close(file->openedStream);
        file->openedStream = 0;
        file->readerStream = nullptr;
    }
}

void InitFileHandle(HandleHeader*) {}

int TerminateFileHandle(HandleHeader* record) {
    ReleaseFileStream(reinterpret_cast<FileHandleData*>(record));
    return 0;
}

void DumpFileHandle(HandleHeader* record) {
    auto* file = reinterpret_cast<FileHandleData*>(record);
    if (file->kind != 0) return;
    std::int64_t size = file->size;
    std::int64_t position = file->position;
    if (file->readerStream) {
        position = file->reader.Tell(file->readerStream);
        file->reader.Seek(file->readerStream, 0, 2);
        size = file->reader.Tell(file->readerStream);
        file->reader.Seek(file->readerStream, position, 0);
    }
    WriteLogFormatUtf16(u"Handle:0x%08x Type:Normal    FileSize:%lld CurrentPos:%lld\n",
                        record->handle, static_cast<long long>(size),
                        static_cast<long long>(position));
}

}  // namespace

int StartFileModule() {
    if (gFileModuleStarted) return -1;
    WriteLogTextUtf16(u"ファイルアクセス処理の初期化...");
    if (RegisterHandleType(DX_HANDLETYPE_FILE, sizeof(FileHandleData), kMaxFileHandles,
                           InitFileHandle, TerminateFileHandle, DumpFileHandle, u"File") != 0) {
        WriteLogTextUtf16(u"失敗\n");
        return -1;
    }
    WriteLogTextUtf16(u"成功\n");
    gFileModuleStarted = 1;
    return 0;
}

int EndFileModule() {
    if (!gFileModuleStarted) return -1;
    UnregisterHandleType(DX_HANDLETYPE_FILE);  // deletes every remaining File handle
    gFileModuleStarted = 0;
    return 0;
}

namespace {

int ReadFileHandleNow(void* buffer, int size, int handle) {
    FileHandleData* file = LookupFileHandle(handle);
    if (!file) return -1;
    if (size <= 0 || !buffer || !file->readerStream) return 0;
    std::size_t got =
        file->reader.Read(buffer, 1, static_cast<std::size_t>(size), file->readerStream);
    file->position += static_cast<std::int64_t>(got);
    // A File handle has no seek: once its reader has reached the end nothing more can be read,
    // so the file is closed now instead of when the handle dies (a game reads hundreds of data
    // files and would otherwise hold all of them open). Asynchronous reads are still running
    // here and keep their file until the handle is closed.
    if (!file->asyncRead &&
        (got < static_cast<std::size_t>(size) || file->position >= file->size)) {
        ReleaseFileStream(file);
    }
    return static_cast<int>(got);
}

// Opens the handle's stream (the open itself, on whichever thread runs it): 0 / -1.
int OpenFileHandleStream(FileHandleData* file, const char16_t* path, int useASyncThread) {
    if (file->kind != 0 || file->openedStream) return -1;
    StreamFunctionTable& table = Table();
    StreamValue stream = table.Open(path, 0, 1, useASyncThread != 0 ? 1 : 0);
    if (!stream) return -1;
    file->openedStream = stream;
    file->readerStream = reinterpret_cast<void*>(stream);
    file->reader = *GetFileStreamAccess();
    file->asyncRead = useASyncThread != 0 ? 1 : 0;
    // The size once, so that a reader who has read to the end lets go of the file at once.
    table.Seek(stream, 0, 2);
    file->size = table.Tell(stream);
    table.Seek(stream, 0, 0);
    file->position = 0;
    return 0;
}

// Ends a load job of the handle; a failed open deletes the handle as its last load ends.
void EndFileHandleJob(int handle, int result, bool deleteOnFailure) {
    HandleHeader* record = LookupHandleRecord(handle);
    if (!record) return;
    record->asyncResult = result;
    if (deleteOnFailure && result < 0) record->deleteRequested = 1;
    FinishHandleASyncLoad(handle);
}

void RunOpenFileHandleJob(ASyncLoadJob* job) {
    int offset = 0;
    int handle = UnpackJobInt(job->parameters, &offset);
    int useASyncThread = UnpackJobInt(job->parameters, &offset);
    const char16_t* packed = UnpackJobString(job->parameters, &offset);
    char16_t path[1024] = {};
    // The packed text may stand unaligned: copy it unit by unit.
    for (std::size_t i = 0; packed && i + 1 < 1024; ++i) {
        std::memcpy(&path[i], reinterpret_cast<const unsigned char*>(packed) + 2 * i, 2);
        if (!path[i]) break;
    }
    FileHandleData* file = LookupFileHandle(handle);
    int result = file ? OpenFileHandleStream(file, path, useASyncThread) : -1;
    EndFileHandleJob(handle, result, true);
}

void RunReadFileHandleJob(ASyncLoadJob* job) {
    int offset = 0;
    int handle = UnpackJobInt(job->parameters, &offset);
    auto* buffer = reinterpret_cast<void*>(
        static_cast<std::intptr_t>(UnpackJobInt64(job->parameters, &offset)));
    int size = UnpackJobInt(job->parameters, &offset);
    EndFileHandleJob(handle, ReadFileHandleNow(buffer, size, handle), false);
}

// Queues a job and counts it as a pending load of the handle before it can run: 0 / -1.
int QueueFileHandleJob(int handle, ASyncLoadJob* job) {
    if (BeginHandleASyncLoad(handle, -1) != 0) return -1;
    if (QueueASyncLoadJob(job) != 0) {
        FinishHandleASyncLoad(handle);
        return -1;
    }
    return 0;
}

}  // namespace

int OpenReadFileHandle(const char* path, int useASyncThread) {
    if (!path) return 0;
    WidePath wide(path);
    if (!wide.Get()) return wide.OutOfMemory() ? -1 : 0;
    if (!gFileModuleStarted) StartFileModule();
    int handle = AllocateHandle(DX_HANDLETYPE_FILE, 0, -1);
    if (handle < 0) return 0;
    auto* file = reinterpret_cast<FileHandleData*>(LookupHandleRecord(handle));
    file->kind = 0;
    if (IsASyncLoadEnabled()) {
        char16_t full[1024];
        MakeFullPath(wide.Get(), full, sizeof full, nullptr);
        int bytes = 0;
        PackJobInt(nullptr, &bytes, handle);
        PackJobInt(nullptr, &bytes, useASyncThread);
        PackJobString(nullptr, &bytes, full);
        ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
        if (job) {
            job->run = RunOpenFileHandleJob;
            int offset = 0;
            PackJobInt(job->parameters, &offset, handle);
            PackJobInt(job->parameters, &offset, useASyncThread);
            PackJobString(job->parameters, &offset, full);
        }
        if (!job || QueueFileHandleJob(handle, job) != 0) {
            DeleteHandle(handle);
            return 0;
        }
        return handle;
    }
    if (OpenFileHandleStream(file, wide.Get(), useASyncThread) != 0) {
        DeleteHandle(handle);
        return 0;
    }
    return handle;
}

int ReadFileHandle(void* buffer, int size, int handle) {
    if (!IsFileHandleValue(handle)) return -1;
    // A pending load of the handle (its open, or an earlier read) ends first, under the handle
    // type's lock; a failed open takes the handle with it. Only then is the record looked at.
    if (WaitHandleASyncLoad(handle) != 0 || !LookupFileHandle(handle)) return -1;
    if (IsASyncLoadEnabled()) {
        int bytes = 0;
        PackJobInt(nullptr, &bytes, handle);
        PackJobInt64(nullptr, &bytes, 0);
        PackJobInt(nullptr, &bytes, size);
        ASyncLoadJob* job = AllocateASyncLoadJob(bytes);
        if (job) {
            job->run = RunReadFileHandleJob;
            int offset = 0;
            PackJobInt(job->parameters, &offset, handle);
            PackJobInt64(job->parameters, &offset, reinterpret_cast<std::intptr_t>(buffer));
            PackJobInt(job->parameters, &offset, size);
            if (QueueFileHandleJob(handle, job) == 0) return 0;
        }
        // A job that cannot be had: read at once.
    }
    return ReadFileHandleNow(buffer, size, handle);
}

int CloseFileHandle(int handle) {
    // DeleteHandle looks the record up under the lock (a failed open may be deleting it).
    if (!IsFileHandleValue(handle)) return -1;
    return DeleteHandle(handle);
}

}  // namespace ZiDaz
