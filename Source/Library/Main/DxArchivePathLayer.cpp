// The archive path layer: the default stream function table. A folder of a path may be packed
// into an archive file beside it, named after the folder with "." and the archive extension; the
// rest of the path is then read inside that archive. Archives stay open, shared by reference
// counts, until a cleanup finds them unused; plain files are the fallback, before or after the
// archives as the lookup order says.
#include <cstring>

#include "Main/DxArchiveInternal.h"
#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxThread.h"
#include "Main/Windows/DxFileWin.h"

namespace ZiDaz {

using namespace archive_detail;

namespace {

constexpr int kMaxArchives = 4096;
constexpr int kMaxFiles = 0x8000;
constexpr StreamValue kStreamTag = 0xF0000000u;
constexpr std::size_t kPathUnits = 1536;        // 3,072 bytes
constexpr std::size_t kArchivePathUnits = 520;  // 1,040 bytes
constexpr std::size_t kInnerPathBytes = 1536;

struct OpenArchiveRecord {
    int references;
    ArchiveReader reader;
    char16_t path[kArchivePathUnits];  // full and upper-cased
};

struct OpenFileRecord {
    int inArchive;
    PlainFileStream* plain;
    int archiveIndex;
    ArchiveStream stream;
};

struct SearchRecord {
    int inArchive;
    int archiveIndex;
    FileSearchValue inner;
};

struct PathLayer {
    int started;
    TracedLock lock;
    OpenArchiveRecord* archives[kMaxArchives];
    int archiveCount;
    OpenFileRecord* files[kMaxFiles];
    int fileCount;
    char16_t extension[64];
    char keyString[64];
    int keySet;
    int order;
    char16_t cachedArchive[kPathUnits];
    std::size_t cachedFolderUnits;
    int cachedIndex;
};

PathLayer gLayer;

void CopyWide(char16_t* to, std::size_t units, const char16_t* from) {
    std::size_t i = 0;
    for (; from[i] && i + 1 < units; ++i) to[i] = from[i];
    to[i] = 0;
}

void UpperCaseAsciiWide(char16_t* text) {
    for (; *text; ++text) {
        if (*text >= u'a' && *text <= u'z') *text = static_cast<char16_t>(*text - (u'a' - u'A'));
    }
}

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool SameNoCase(const char16_t* a, const char16_t* b) {
    for (;; ++a, ++b) {
        char16_t x = *a >= u'a' && *a <= u'z' ? static_cast<char16_t>(*a - 32) : *a;
        char16_t y = *b >= u'a' && *b <= u'z' ? static_cast<char16_t>(*b - 32) : *b;
        if (x != y) return false;
        if (!x) return true;
    }
}

bool Same(const char16_t* a, const char16_t* b) {
    for (;; ++a, ++b) {
        if (*a != *b) return false;
        if (!*a) return true;
    }
}

std::int32_t Narrow() {
    if (NarrowEncoding == 0) EnsureDefaultCharCodes();
    return NarrowEncoding;
}

int CloseUnusedArchives(int force) {
    int visited = 0;
    for (int i = 0; i < kMaxArchives && gLayer.archiveCount > 0; ++i) {
        OpenArchiveRecord* record = gLayer.archives[i];
        if (!record) continue;
        ++visited;
        if (!force && record->references > 0) continue;
        CloseArchive(&record->reader);
        DX_FREE(record);
        gLayer.archives[i] = nullptr;
        --gLayer.archiveCount;
    }
    return visited;
}

// The archive-table index of the archive at `path` (opened when it is not open), with one more
// reference; -1 when it cannot be opened.
int GetArchive(const char16_t* path, int hint, int toMemory, int asynchronous) {
    if (hint >= 0 && hint < kMaxArchives && gLayer.archives[hint] &&
        Same(gLayer.archives[hint]->path, path)) {
        ++gLayer.archives[hint]->references;
        return hint;
    }
    int empty = -1;
    for (int i = 0; i < kMaxArchives; ++i) {
        OpenArchiveRecord* record = gLayer.archives[i];
        if (!record) {
            empty = i;
            continue;
        }
        if (SameNoCase(record->path, path)) {
            ++record->references;
            return i;
        }
    }
    if (gLayer.archiveCount >= kMaxArchives) {
        CloseUnusedArchives(0);
        if (gLayer.archiveCount >= kMaxArchives) return -1;
    }
    if (empty < 0 || gLayer.archives[empty]) {
        for (empty = 0; empty < kMaxArchives && gLayer.archives[empty]; ++empty) {
        }
    }
    auto* record = static_cast<OpenArchiveRecord*>(DX_ALLOC_ZEROED(sizeof(OpenArchiveRecord)));
    if (!record) return -1;
    const char* key = gLayer.keySet ? gLayer.keyString : nullptr;
    int opened = toMemory ? OpenArchiveFromFileToMemory(&record->reader, path, key, asynchronous)
                          : OpenArchiveFromFile(&record->reader, path, key);
    if (opened != 0) {
        DX_FREE(record);
        return -1;
    }
    record->references = 1;
    CopyWide(record->path, kArchivePathUnits, path);
    gLayer.archives[empty] = record;
    ++gLayer.archiveCount;
    return empty;
}

void DropReference(int index) {
    if (index < 0 || index >= kMaxArchives || !gLayer.archives[index]) return;
    if (gLayer.archives[index]->references > 0) --gLayer.archives[index]->references;
}

// The candidate archive path of a folder: the folder, ".", the extension.
void CandidatePath(const char16_t* folder, std::size_t units, char16_t* out) {
    std::size_t n = 0;
    for (; n < units && n + 1 < kPathUnits; ++n) out[n] = folder[n];
    const char16_t* extension = gLayer.extension[0] ? gLayer.extension : u"DXA";
    if (n + 1 < kPathUnits) out[n++] = u'.';
    for (std::size_t i = 0; extension[i] && n + 1 < kPathUnits; ++i) out[n++] = extension[i];
    out[n] = 0;
}

// The archive a path lies in and the path inside it, in the archive's character set: the
// archive-table index (holding a reference) or -1.
int ResolveArchivePath(const char16_t* path, unsigned char* inner) {
    char16_t full[kPathUnits];
    MakeFullPath(path, full, sizeof full, nullptr);
    UpperCaseAsciiWide(full);
    int index = -1;
    const char16_t* rest = nullptr;
    std::size_t cached = gLayer.cachedFolderUnits;
    if (cached > 0 && std::memcmp(full, gLayer.cachedArchive, cached * sizeof(char16_t)) == 0 &&
        IsSeparator(full[cached])) {
        index = GetArchive(gLayer.cachedArchive, gLayer.cachedIndex, 0, 0);
        if (index < 0) return -1;
        rest = full + cached + 1;
    } else {
        // A root ("\" or a "\\" host start) stays in the prefix; then each folder, top down.
        std::size_t i = 0;
        if (IsSeparator(full[0])) i = IsSeparator(full[1]) ? 2 : 1;
        for (;;) {
            std::size_t start = i;
            while (full[i] && !IsSeparator(full[i])) ++i;
            if (!full[i] || i == start) return -1;  // the file name itself is never tried
            char16_t candidate[kPathUnits];
            CandidatePath(full, i, candidate);
            index = GetArchive(candidate, -1, 0, 0);
            if (index >= 0) {
                CopyWide(gLayer.cachedArchive, kPathUnits, candidate);
                gLayer.cachedFolderUnits = i;
                gLayer.cachedIndex = index;
                rest = full + i + 1;
                break;
            }
            ++i;
        }
    }
    const ArchiveReader& reader = gLayer.archives[index]->reader;
    if (TranscodeString(rest, -1, CharEncoding::Utf16Le, inner, static_cast<int>(kInnerPathBytes),
                        reader.charset) <= 0) {
        DropReference(index);
        return -1;
    }
    return index;
}

OpenFileRecord* FileRecord(StreamValue value) {
    std::size_t slot = value & 0x0FFFFFFFu;
    if ((value & ~StreamValue{0x0FFFFFFFu}) != kStreamTag || slot >= kMaxFiles) return nullptr;
    return gLayer.files[slot];
}

// --- The table's slots ----------------------------------------------------------------------

StreamValue LayerOpen(const char16_t* path, int useCache, int blockRead, int useASyncThread) {
    if (!path) return 0;
    if (!gLayer.started) StartArchivePathLayer();
    DX_LOCK(&gLayer.lock);
    if (gLayer.fileCount >= kMaxFiles) {
        DX_UNLOCK(&gLayer.lock);
        WriteLogTextUtf16(u"同時に開けるファイルの数が限界を超えました\n");
        return 0;
    }
    int slot = 0;
    while (slot < kMaxFiles && gLayer.files[slot]) ++slot;
    auto* record = static_cast<OpenFileRecord*>(DX_ALLOC_ZEROED(sizeof(OpenFileRecord)));
    if (!record) {
        DX_UNLOCK(&gLayer.lock);
        WriteLogTextUtf16(u"ファイルの情報を格納するメモリの確保に失敗しました\n");
        return 0;
    }
    auto tryArchive = [&]() {
        unsigned char inner[kInnerPathBytes];
        int index = ResolveArchivePath(path, inner);
        if (index < 0) return false;
        if (OpenArchiveStream(&record->stream, &gLayer.archives[index]->reader, inner,
                              useASyncThread) != 0) {
            DropReference(index);
            return false;
        }
        record->inArchive = 1;
        record->archiveIndex = index;
        return true;
    };
    auto tryPlain = [&]() {
        record->plain = PlainFileOpen(path, useCache, blockRead, useASyncThread);
        return record->plain != nullptr;
    };
    bool opened = gLayer.order == 1 ? tryPlain() || tryArchive() : tryArchive() || tryPlain();
    if (!opened) {
        DX_FREE(record);
        DX_UNLOCK(&gLayer.lock);
        return 0;
    }
    gLayer.files[slot] = record;
    ++gLayer.fileCount;
    DX_UNLOCK(&gLayer.lock);
    return kStreamTag | static_cast<StreamValue>(slot);
}

int LayerClose(StreamValue value) {
    DX_LOCK(&gLayer.lock);
    OpenFileRecord* record = FileRecord(value);
    if (!record) {
        DX_UNLOCK(&gLayer.lock);
        return -1;
    }
    if (record->inArchive) {
        DropReference(record->archiveIndex);
        CloseArchiveStream(&record->stream);
    } else {
        ClosePlainStream(record->plain);
    }
    DX_FREE(record);
    gLayer.files[value & 0x0FFFFFFFu] = nullptr;
    --gLayer.fileCount;
    DX_UNLOCK(&gLayer.lock);
    return 0;
}

std::int64_t LayerTell(StreamValue value) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return -1;
    return record->inArchive ? TellArchiveStream(&record->stream) : PlainFileTell(record->plain);
}

int LayerSeek(StreamValue value, std::int64_t offset, int origin) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return -1;
    return record->inArchive ? SeekArchiveStream(&record->stream, offset, origin)
                             : PlainFileSeek(record->plain, offset, origin);
}

std::size_t LayerRead(void* buffer, std::size_t size, std::size_t count, StreamValue value) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return static_cast<std::size_t>(-1);
    if (!record->inArchive) return PlainFileRead(buffer, size, count, record->plain);
    if (size == 0) return 0;
    // Whole items only: a tail shorter than one item is left for the next read.
    std::int64_t left = static_cast<std::int64_t>(record->stream.entry.dataSize) -
                        TellArchiveStream(&record->stream);
    std::size_t fit = left > 0 ? static_cast<std::size_t>(left) / size : 0;
    if (count > fit) count = fit;
    if (count == 0) {
        if (left <= 0) record->stream.endReached = 1;
        return 0;
    }
    return ReadArchiveStream(&record->stream, buffer, size * count) / size;
}

int LayerEof(StreamValue value) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return -1;
    return record->inArchive ? ArchiveStreamEof(&record->stream) : PlainFileEof(record->plain);
}

int LayerIdleCheck(StreamValue value) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return -1;
    return record->inArchive ? ArchiveStreamIdleCheck(&record->stream)
                             : PlainFileIdleCheck(record->plain);
}

int LayerIsArchived(StreamValue value) {
    OpenFileRecord* record = FileRecord(value);
    if (!record) return -1;
    return record->inArchive;
}

int LayerChangeDir(const char16_t* path) {
    return SetCurrentDirectoryWide(path);
}

int LayerGetDirWithSize(char16_t* buffer, std::size_t bufferBytes) {
    GetCurrentDirectoryWide(buffer, bufferBytes);
    return 0;
}

int LayerGetDir(char16_t* buffer) {
    return LayerGetDirWithSize(buffer, 0x7FFFFFFF);
}

FileSearchValue LayerFindFirst(const char16_t* pattern, FindFileRecord* record) {
    if (!pattern) return -1;
    auto* search = static_cast<SearchRecord*>(DX_ALLOC_ZEROED(sizeof(SearchRecord)));
    if (!search) return -1;
    unsigned char inner[kInnerPathBytes];
    int index = ResolveArchivePath(pattern, inner);
    if (index >= 0) {
        search->inArchive = 1;
        search->archiveIndex = index;
        search->inner = ArchiveFindFirst(&gLayer.archives[index]->reader, inner, record);
        if (search->inner == -1) DropReference(index);
    } else {
        search->inner = PlainFileFindFirst(pattern, record);
    }
    if (search->inner == -1) {
        DX_FREE(search);
        return -1;
    }
    return reinterpret_cast<FileSearchValue>(search);
}

int LayerFindNext(FileSearchValue value, FindFileRecord* record) {
    if (value == -1 || value == 0) return -1;
    auto* search = reinterpret_cast<SearchRecord*>(value);
    return search->inArchive ? ArchiveFindNext(search->inner, record)
                             : PlainFileFindNext(search->inner, record);
}

int LayerFindClose(FileSearchValue value) {
    if (value == -1 || value == 0) return -1;
    auto* search = reinterpret_cast<SearchRecord*>(value);
    if (search->inArchive) {
        ArchiveFindClose(search->inner);
        DropReference(search->archiveIndex);
    } else {
        PlainFileFindClose(search->inner);
    }
    DX_FREE(search);
    return 0;
}

const StreamFunctionTable kLayerTable = {LayerOpen,      LayerClose,          LayerTell,
                                         LayerSeek,      LayerRead,           LayerEof,
                                         LayerIdleCheck, LayerIsArchived,     LayerChangeDir,
                                         LayerGetDir,    LayerGetDirWithSize, LayerFindFirst,
                                         LayerFindNext,  LayerFindClose};

// The same path form as a lookup: full against the current folder and upper-cased.
void ArchiveKeyPath(const char* archivePath, char16_t* out) {
    char16_t wide[kPathUnits] = {};
    if (archivePath) {
        TranscodeString(archivePath, -1, Narrow(), wide, sizeof wide, CharEncoding::Utf16Le);
    }
    char16_t full[kPathUnits];
    MakeFullPath(wide, full, sizeof full, nullptr);
    UpperCaseAsciiWide(full);
    CopyWide(out, kArchivePathUnits, full);
}

}  // namespace

const StreamFunctionTable* GetArchiveStreamFunctions() {
    return &kLayerTable;
}

int StartArchivePathLayer() {
    if (gLayer.started) return -1;
    InitTracedLock(&gLayer.lock);
    gLayer.started = 1;
    RegisterArchiveStreamFunctions(&kLayerTable);
    return 0;
}

int EndArchivePathLayer() {
    if (!gLayer.started) return -1;
    for (int i = 0; i < kMaxFiles && gLayer.fileCount > 0; ++i) {
        if (gLayer.files[i]) LayerClose(kStreamTag | static_cast<StreamValue>(i));
    }
    DX_LOCK(&gLayer.lock);
    CloseUnusedArchives(1);
    gLayer.cachedFolderUnits = 0;
    DX_UNLOCK(&gLayer.lock);
    DeleteTracedLock(&gLayer.lock);
    gLayer.started = 0;
    return 0;
}

int SetArchiveFileExtension(const char* extension) {
    char16_t wide[1024] = {};
    if (extension) {
        TranscodeString(extension, -1, Narrow(), wide, sizeof wide, CharEncoding::Utf16Le);
    }
    std::size_t length = 0;
    while (wide[length]) ++length;
    gLayer.cachedFolderUnits = 0;  // the archive found last may not be the one to find now
    if (length == 0 || length >= 64) {
        gLayer.extension[0] = 0;
    } else {
        CopyWide(gLayer.extension, 64, wide);
    }
    return 0;
}

int SetArchiveKeyText(const char* keyText) {
    if (!keyText) {
        gLayer.keySet = 0;
        return 0;
    }
    int i = 0;
    for (; i < 63 && keyText[i]; ++i) gLayer.keyString[i] = keyText[i];
    gLayer.keyString[i] = 0;
    gLayer.keySet = 1;
    return 0;
}

int SetArchiveLookupOrder(int order) {
    gLayer.order = order == 1 ? 1 : 0;
    return 0;
}

int EnableArchiveLookup(int on) {
    on = on ? 1 : 0;
    if (!gLayer.started) StartArchivePathLayer();
    if (GetArchiveLookupSwitch() == on) return 0;
    bool builtIn = IsDefaultStreamFunctionTable() != 0;
    SetArchiveLookupSwitch(on);
    if (builtIn) InstallStreamFunctions(nullptr);
    return 0;
}

int LoadArchiveIntoMemory(const char* archivePath, int asynchronous) {
    if (!gLayer.started) StartArchivePathLayer();
    char16_t path[kArchivePathUnits];
    ArchiveKeyPath(archivePath, path);
    DX_LOCK(&gLayer.lock);
    int index = GetArchive(path, -1, 1, asynchronous);
    DX_UNLOCK(&gLayer.lock);
    return index >= 0 ? 0 : -1;
}

int ReleasePreloadedArchive(const char* archivePath) {
    if (!gLayer.started) return 0;
    char16_t path[kArchivePathUnits];
    ArchiveKeyPath(archivePath, path);
    DX_LOCK(&gLayer.lock);
    for (int i = 0; i < kMaxArchives; ++i) {
        if (gLayer.archives[i] && Same(gLayer.archives[i]->path, path)) {
            DropReference(i);
            break;
        }
    }
    CloseUnusedArchives(0);
    DX_UNLOCK(&gLayer.lock);
    return 0;
}

int CountOpenArchives() {
    return gLayer.archiveCount;
}

int GetArchiveReferenceCount(const char* archivePath) {
    char16_t path[kArchivePathUnits];
    ArchiveKeyPath(archivePath, path);
    for (int i = 0; i < kMaxArchives; ++i) {
        if (gLayer.archives[i] && SameNoCase(gLayer.archives[i]->path, path)) {
            return gLayer.archives[i]->references;
        }
    }
    return -1;
}

}  // namespace ZiDaz
