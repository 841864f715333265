#include "Main/Windows/DxFileWin.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

namespace {

// Every call to the system goes through the entry-point table, loaded on first use.
const SystemApiTable& Api() {
    EnsureSystemApiTable();
    return SystemApi;
}

constexpr std::size_t kCacheBytes = 0x20000;  // 128 KB read-ahead
constexpr std::size_t kPathUnits = 1536;      // 3,072 bytes
// Reads at least this large skip the cache and trigger no read-ahead: a reader taking big pieces
// gains nothing from a second copy.
constexpr std::size_t kLargeRead = kCacheBytes / 2;

enum Command { kOpen = 0, kCloseFile = 1, kRead = 2, kSeek = 3, kEnd = 4 };

// Everything the owner and the file thread share; the mutex guards the flags and the cache
// fields, the reads themselves run outside it while the other side waits.
struct ThreadBlock {
    std::thread thread;
    std::mutex mutex;
    std::condition_variable request;  // owner -> thread
    std::condition_variable done;     // thread -> owner
    bool requestPending = false;
    bool commandRunning = false;
    bool readAheadRunning = false;
    bool ownerReading = false;
    bool threadStarted = false;  // the thread starts when first needed
    int command = kOpen;
    HANDLE file = nullptr;
    std::int64_t filePosition = 0;  // where the file's own position stands; -1 when unknown
    unsigned char* destination = nullptr;
    std::int64_t readPosition = 0;
    std::uint32_t readLength = 0;
    std::int64_t seekTarget = 0;
    unsigned char* cache = nullptr;
    std::int64_t cacheStart = 0;
    std::size_t cacheHead = 0;  // offset of the first valid byte in the cache buffer
    std::size_t cacheValid = 0;

    bool Idle() const { return !requestPending && !commandRunning; }
};

}  // namespace

struct PlainFileStream {
    int endReached;
    std::int64_t position;
    std::int64_t size;
    int asyncRead;
    HANDLE file;
    int threadMode;
    int useCache;
    ThreadBlock* block;
    std::int64_t filePosition;  // direct mode: where the file's own position stands; -1 unknown
};

namespace {

bool PositionFile(HANDLE file, std::int64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    DWORD low = Api().SetFilePointer(file, static_cast<LONG>(position), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && Api().GetLastError() != ERROR_SUCCESS);
}

// Reads up to `bytes` at `position`; the count really read (0 on failure). `filePosition` is
// where the file's own position stands: a sequential read (the usual case) starts there and
// needs no positioning call first.
std::size_t ReadAt(HANDLE file, std::int64_t& filePosition, std::int64_t position,
                   void* destination, std::size_t bytes) {
    if (filePosition != position) {
        if (!PositionFile(file, position)) {
            filePosition = -1;
            return 0;
        }
        filePosition = position;
    }
    std::size_t total = 0;
    while (total < bytes) {
        DWORD piece = static_cast<DWORD>(bytes - total > 0x40000000 ? 0x40000000 : bytes - total);
        DWORD got = 0;
        if (!Api().ReadFile(file, static_cast<unsigned char*>(destination) + total, piece, &got,
                            nullptr)) {
            filePosition = -1;  // a failed read may have moved it any distance
            return total;
        }
        total += got;
        filePosition += got;
        if (got == 0) break;
    }
    return total;
}

HANDLE OpenForReading(const char16_t* path) {
    EnsureSystemApiTable();
    HANDLE file = WinCreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// The read of command 2: from the cache while it starts at the read position, then directly
// from the file; the cache then starts after what was read, empty. Runs on whichever side holds
// the block (the file thread, or the owner while the thread is idle). Returns the bytes read.
std::size_t PerformRead(ThreadBlock& block) {
    std::size_t wanted = block.readLength;
    std::size_t delivered = 0;
    if (block.cache && block.readPosition == block.cacheStart && block.cacheValid > 0) {
        std::size_t n = block.cacheValid < wanted ? block.cacheValid : wanted;
        std::memcpy(block.destination, block.cache + block.cacheHead, n);
        delivered = n;
        block.readPosition += static_cast<std::int64_t>(n);
        block.cacheStart += static_cast<std::int64_t>(n);
        block.cacheHead += n;
        block.cacheValid -= n;
        if (block.cacheValid == 0) block.cacheHead = 0;
    }
    if (delivered < wanted && block.file && block.cache && wanted - delivered < kLargeRead) {
        // A small read past the cached bytes: the cache is filled from the read position with
        // one read of the file, and the request is served from it.
        std::size_t got =
            ReadAt(block.file, block.filePosition, block.readPosition, block.cache, kCacheBytes);
        std::size_t n = got < wanted - delivered ? got : wanted - delivered;
        std::memcpy(block.destination + delivered, block.cache, n);
        delivered += n;
        block.readPosition += static_cast<std::int64_t>(n);
        block.cacheStart = block.readPosition;
        block.cacheHead = got > n ? n : 0;
        block.cacheValid = got - n;
    } else if (delivered < wanted) {
        std::size_t got = 0;
        if (block.file) {
            got = ReadAt(block.file, block.filePosition, block.readPosition,
                         block.destination + delivered, wanted - delivered);
        }
        delivered += got;
        block.readPosition += static_cast<std::int64_t>(got);
        if (block.cache) {
            block.cacheStart = block.readPosition;
            block.cacheHead = 0;
            block.cacheValid = 0;
        }
    }
    block.readLength = static_cast<std::uint32_t>(delivered);
    return delivered;
}

// Fills the cache behind its valid bytes (file thread only, with the owner kept out).
void ReadAhead(ThreadBlock& block) {
    if (block.cacheHead > 0) {  // bring the valid bytes to the front to make room
        std::memmove(block.cache, block.cache + block.cacheHead, block.cacheValid);
        block.cacheHead = 0;
    }
    std::size_t room = kCacheBytes - block.cacheValid;
    std::size_t got = ReadAt(block.file, block.filePosition,
                             block.cacheStart + static_cast<std::int64_t>(block.cacheValid),
                             block.cache + block.cacheValid, room);
    block.cacheValid += got;
}

// The file thread. It starts when first needed (the first asynchronous read, or the first small
// read of a cached file, which then reads ahead in idle periods), with the file the owner opened
// and measured, and ends on command 4, after which the owner no longer touches the block: the
// thread frees it. So neither an open nor a close waits for this thread to be scheduled, which
// on a busy machine can take milliseconds, and a reader that takes big pieces never has one.
void FileThreadMain(ThreadBlock* blockPointer) {
    ThreadBlock& block = *blockPointer;
    std::unique_lock<std::mutex> lock(block.mutex);
    for (;;) {
        if (block.cache) {
            block.request.wait_for(lock, std::chrono::milliseconds(100),
                                   [&] { return block.requestPending; });
        } else {
            block.request.wait(lock, [&] { return block.requestPending; });
        }
        if (!block.requestPending) {
            // An idle period: read ahead while the file is open and the cache has room.
            if (block.cache && block.file && !block.ownerReading &&
                block.cacheValid < kCacheBytes) {
                block.readAheadRunning = true;
                lock.unlock();
                ReadAhead(block);
                lock.lock();
                block.readAheadRunning = false;
                block.done.notify_all();
            }
            continue;
        }
        int command = block.command;
        if (command == kEnd) {
            // The owner has closed the file and freed the cache, and has let go of the block.
            lock.unlock();
            delete blockPointer;
            return;
        }
        block.requestPending = false;
        block.commandRunning = true;
        lock.unlock();
        switch (command) {
            case kCloseFile:
                if (block.file) Api().CloseHandle(block.file);
                block.file = nullptr;
                break;
            case kRead:
                PerformRead(block);
                break;
            case kSeek:
                // The position lives in the record; the cache restarts at the target.
                if (block.cache) {
                    block.cacheStart = block.seekTarget;
                    block.cacheHead = 0;
                    block.cacheValid = 0;
                }
                break;
            default:
                break;
        }
        lock.lock();
        block.commandRunning = false;
        block.done.notify_all();
    }
}

// Waits until the thread is idle (its last command finished and no read-ahead is running).
void WaitIdle(ThreadBlock& block, std::unique_lock<std::mutex>& lock) {
    block.done.wait(lock, [&] { return block.Idle() && !block.readAheadRunning; });
}

// Starts the file thread unless it runs already; false (with the log line) when it cannot be.
bool StartFileThread(ThreadBlock* block) {
    if (block->threadStarted) return true;
    try {
        block->thread = std::thread(FileThreadMain, block);
    } catch (...) {
        WriteLogFormatUtf16(u"ファイルアクセス専用スレッドの作成に失敗しました\n");
        return false;
    }
    block->threadStarted = true;
    return true;
}

std::int64_t MeasureFile(HANDLE file) {
    DWORD high = 0;
    DWORD low = Api().GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && Api().GetLastError() != ERROR_SUCCESS) return -1;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

}  // namespace

// ============================================================================================
// Read-only plain files
// ============================================================================================

PlainFileStream* PlainFileOpen(const char16_t* path, int useCache, int /*blockRead*/,
                               int useASyncThread) {
    if (!path) return nullptr;
    auto* stream = static_cast<PlainFileStream*>(DX_ALLOC_ZEROED(sizeof(PlainFileStream)));
    if (!stream) return nullptr;
    stream->asyncRead = useASyncThread ? 1 : 0;
    stream->useCache = useCache ? 1 : 0;
    stream->threadMode = useCache || useASyncThread ? 1 : 0;

    HANDLE file = OpenForReading(path);
    if (!file) {
        if (stream->threadMode) WriteLogFormatUtf16(u"ファイルのオープンに失敗しました\n");
        DX_FREE(stream);
        return nullptr;
    }
    stream->size = MeasureFile(file);
    if (stream->size < 0) {
        Api().CloseHandle(file);
        DX_FREE(stream);
        return nullptr;
    }
    if (!stream->threadMode) {
        stream->file = file;
        return stream;
    }

    // Thread mode: the file opened here becomes the thread's own.
    auto* block = new (std::nothrow) ThreadBlock;
    if (!block) {
        Api().CloseHandle(file);
        DX_FREE(stream);
        return nullptr;
    }
    if (useCache) {
        block->cache = static_cast<unsigned char*>(DX_ALLOC(kCacheBytes));
        if (!block->cache) {
            WriteLogFormatUtf16(u"ファイル読み込みキャッシュ用メモリの確保に失敗しました\n");
            Api().CloseHandle(file);
            delete block;
            DX_FREE(stream);
            return nullptr;
        }
    }
    block->file = file;
    stream->block = block;
    return stream;
}

int PlainFileClose(PlainFileStream* stream) {
    if (!stream) return -1;
    if (!stream->threadMode) {
        if (!Api().CloseHandle(stream->file)) return -1;
        return 0;
    }
    ThreadBlock* block = stream->block;
    stream->block = nullptr;
    if (!block->threadStarted) {
        if (block->file) Api().CloseHandle(block->file);
        DX_FREE(block->cache);
        delete block;
        return 0;
    }
    {
        // A pending asynchronous read or read-ahead finishes first; then the file and the cache
        // go here, and the thread is told to end and free the block without being waited for.
        std::unique_lock<std::mutex> lock(block->mutex);
        WaitIdle(*block, lock);
        if (block->file) Api().CloseHandle(block->file);
        block->file = nullptr;
        DX_FREE(block->cache);
        block->cache = nullptr;
        block->command = kEnd;
        block->requestPending = true;
        block->thread.detach();
        block->request.notify_all();
    }
    return 0;
}

std::int64_t PlainFileTell(PlainFileStream* stream) {
    return stream->position;
}

int PlainFileSeek(PlainFileStream* stream, std::int64_t offset, int origin) {
    std::int64_t target;
    if (!SeekTargetWithin(stream->position, stream->size, offset, origin, &target)) return -1;
    if (!stream->threadMode) {
        if (!PositionFile(stream->file, target)) {
            stream->filePosition = -1;
            return -1;
        }
        stream->filePosition = target;
    } else {
        // The position lives in the record and the reads say where they start, so a seek only
        // restarts the cache at the target; the owner does that itself once the thread is idle.
        ThreadBlock& block = *stream->block;
        std::unique_lock<std::mutex> lock(block.mutex);
        WaitIdle(block, lock);
        block.seekTarget = target;
        if (block.cache) {
            block.cacheStart = target;
            block.cacheHead = 0;
            block.cacheValid = 0;
        }
    }
    stream->position = target;
    stream->endReached = 0;
    return 0;
}

std::size_t PlainFileRead(void* buffer, std::size_t size, std::size_t count,
                          PlainFileStream* stream) {
    if (size == 0) return 0;
    if (stream->position >= stream->size) {
        stream->endReached = 1;
        return 0;
    }
    std::uint64_t remaining = static_cast<std::uint64_t>(stream->size - stream->position);
    if (count > remaining / size) {
        count = static_cast<std::size_t>(remaining / size);
        if (count == 0) {
            stream->endReached = 1;
            return 0;
        }
    }
    std::size_t bytes = size * count;
    std::size_t got = 0;
    if (!stream->threadMode) {
        got = ReadAt(stream->file, stream->filePosition, stream->position, buffer, bytes);
    } else {
        ThreadBlock& block = *stream->block;
        std::unique_lock<std::mutex> lock(block.mutex);
        WaitIdle(block, lock);
        block.destination = static_cast<unsigned char*>(buffer);
        block.readPosition = stream->position;
        block.readLength = static_cast<std::uint32_t>(bytes);
        if (stream->asyncRead && StartFileThread(&block)) {
            // The thread reads while the caller goes on; the count is the one asked for.
            block.command = kRead;
            block.requestPending = true;
            block.request.notify_all();
            got = bytes;
        } else {
            // The thread is idle (or there is none yet, or none could be started for an
            // asynchronous read), so the owner reads through the block itself: no hand-over for
            // a read that must be waited for anyway. A file read in small pieces gets its
            // thread now, to read ahead in idle periods.
            block.ownerReading = true;
            lock.unlock();
            got = PerformRead(block);
            lock.lock();
            block.ownerReading = false;
            if (block.cache && bytes < kLargeRead) StartFileThread(&block);
        }
    }
    if (got < bytes) {
        // The file shrank since it was opened: count only the whole items really read.
        count = got / size;
        stream->endReached = 1;
    }
    stream->position += static_cast<std::int64_t>(got);
    return count;
}

int PlainFileEof(PlainFileStream* stream) {
    return stream->endReached ? -1 : 0;
}

int PlainFileIdleCheck(PlainFileStream* stream) {
    if (!stream->threadMode) return 1;
    ThreadBlock& block = *stream->block;
    std::lock_guard<std::mutex> lock(block.mutex);
    return block.Idle() ? 1 : 0;
}

// ============================================================================================
// Current folder and searches
// ============================================================================================

int PlainFileChangeDir(const char16_t* path) {
    EnsureSystemApiTable();
    return WinSetCurrentDirectoryW(path);
}

int PlainFileGetDir(char16_t* buffer) {
    EnsureSystemApiTable();
    return static_cast<int>(WinGetCurrentDirectoryW(0x3FFFFFFF, buffer));
}

int PlainFileGetDirWithSize(char16_t* buffer, std::size_t bufferBytes) {
    EnsureSystemApiTable();
    return static_cast<int>(WinGetCurrentDirectoryW(static_cast<DWORD>(bufferBytes / 2), buffer));
}

void FileTimeToLocalDateTime(std::uint64_t fileTime, LocalDateTime& out) {
    FILETIME time{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    FILETIME local;
    SYSTEMTIME parts{};
    if (!Api().FileTimeToLocalFileTime(&time, &local) ||
        !Api().FileTimeToSystemTime(&local, &parts)) {
        out = LocalDateTime{};
        return;
    }
    out.year = parts.wYear;
    out.month = parts.wMonth;
    out.day = parts.wDay;
    out.hour = parts.wHour;
    out.minute = parts.wMinute;
    out.second = parts.wSecond;
}

namespace {

struct SearchRecord {
    HANDLE search;
};

void FileTimeToLocalDateTime(const FILETIME& time, LocalDateTime& out) {
    FileTimeToLocalDateTime(
        static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime, out);
}

void FillRecord(const WIN32_FIND_DATAW& data, FindFileRecord* record) {
    if (!record) return;
    std::size_t i = 0;
    for (; i < 259 && data.cFileName[i]; ++i) record->Name[i] = data.cFileName[i];
    record->Name[i] = 0;
    record->DirectoryFlag = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
    record->Size = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    FileTimeToLocalDateTime(data.ftCreationTime, record->CreationTime);
    FileTimeToLocalDateTime(data.ftLastWriteTime, record->LastWriteTime);
}

}  // namespace

FileSearchValue PlainFileFindFirst(const char16_t* pattern, FindFileRecord* record) {
    EnsureSystemApiTable();
    auto* search = static_cast<SearchRecord*>(DX_ALLOC(sizeof(SearchRecord)));
    if (!search) return -1;
    WIN32_FIND_DATAW data;
    search->search = WinFindFirstFileW(pattern, &data);
    if (search->search == INVALID_HANDLE_VALUE) {
        DX_FREE(search);
        return -1;
    }
    FillRecord(data, record);
    return reinterpret_cast<FileSearchValue>(search);
}

int PlainFileFindNext(FileSearchValue handle, FindFileRecord* record) {
    EnsureSystemApiTable();
    auto* search = reinterpret_cast<SearchRecord*>(handle);
    if (!search || handle == -1) return -1;
    WIN32_FIND_DATAW data;
    if (!WinFindNextFileW(search->search, &data)) return -1;
    FillRecord(data, record);
    return 0;
}

int PlainFileFindClose(FileSearchValue handle) {
    auto* search = reinterpret_cast<SearchRecord*>(handle);
    if (!search || handle == -1) return -1;
    if (!Api().FindClose(search->search)) return -1;
    DX_FREE(search);
    return 0;
}

int SetCurrentDirectoryWide(const char16_t* path) {
    EnsureSystemApiTable();
    return WinSetCurrentDirectoryW(path) ? 0 : -1;
}

int GetCurrentDirectoryWide(char16_t* buffer, std::size_t bufferBytes) {
    EnsureSystemApiTable();
    char16_t local[1025];
    DWORD length = WinGetCurrentDirectoryW(1024, local);
    if (length == 0 || length > 1024) local[0] = 0;
    std::size_t room = bufferBytes / 2;
    if (!buffer || room == 0) return 0;
    std::size_t i = 0;
    for (; local[i] && i + 1 < room; ++i) buffer[i] = local[i];
    buffer[i] = 0;
    return 0;
}

// ============================================================================================
// The plain table
// ============================================================================================

namespace {

PlainFileStream* AsPlain(StreamValue stream) {
    return reinterpret_cast<PlainFileStream*>(stream);
}

StreamValue TableOpen(const char16_t* path, int useCache, int blockRead, int useASyncThread) {
    return reinterpret_cast<StreamValue>(PlainFileOpen(path, useCache, blockRead, useASyncThread));
}
int TableClose(StreamValue stream) {
    PlainFileStream* plain = AsPlain(stream);
    if (!plain || PlainFileClose(plain) != 0) return -1;
    DX_FREE(plain);
    return 0;
}
std::int64_t TableTell(StreamValue stream) {
    return PlainFileTell(AsPlain(stream));
}
int TableSeek(StreamValue stream, std::int64_t offset, int origin) {
    return PlainFileSeek(AsPlain(stream), offset, origin);
}
std::size_t TableRead(void* buffer, std::size_t size, std::size_t count, StreamValue stream) {
    return PlainFileRead(buffer, size, count, AsPlain(stream));
}
int TableEof(StreamValue stream) {
    return PlainFileEof(AsPlain(stream));
}
int TableIdleCheck(StreamValue stream) {
    return PlainFileIdleCheck(AsPlain(stream));
}
int TableIsArchived(StreamValue) {
    return 0;
}

const StreamFunctionTable kPlainTable = {TableOpen,
                                         TableClose,
                                         TableTell,
                                         TableSeek,
                                         TableRead,
                                         TableEof,
                                         TableIdleCheck,
                                         TableIsArchived,
                                         PlainFileChangeDir,
                                         PlainFileGetDir,
                                         PlainFileGetDirWithSize,
                                         PlainFileFindFirst,
                                         PlainFileFindNext,
                                         PlainFileFindClose};

}  // namespace

const StreamFunctionTable* GetPlainStreamFunctions() {
    return &kPlainTable;
}

// ============================================================================================
// Write-only files and temporary files
// ============================================================================================

void* CreateWriteFile(const char16_t* path) {
    EnsureSystemApiTable();
    WinDeleteFileW(path);
    HANDLE file =
        WinCreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int WriteFileBytes(void* handle, const void* data, std::size_t size, std::size_t* written) {
    DWORD done = 0;
    Api().WriteFile(handle, data, static_cast<DWORD>(size), &done, nullptr);
    if (written) *written = done;
    return 0;
}

int SeekWriteFile(void* handle, std::int64_t offset, int origin) {
    DWORD method = origin == 1 ? FILE_CURRENT : origin == 2 ? FILE_END : FILE_BEGIN;
    Api().SetFilePointer(handle, static_cast<LONG>(offset), nullptr, method);
    return 0;
}

int CloseWriteFile(void* handle) {
    return Api().CloseHandle(handle);
}

int RemoveFileByPath(const char16_t* path) {
    EnsureSystemApiTable();
    WinDeleteFileW(path);
    return 0;
}

void* CreateTempFileForWrite(char16_t* pathOut, std::size_t pathBytes, const char16_t* extension) {
    EnsureSystemApiTable();
    char16_t folder[kPathUnits];
    DWORD length = WinGetTempPathW(kPathUnits, folder);
    if (length == 0 || length >= kPathUnits - 1) return nullptr;
    if (folder[length - 1] != u'\\' && folder[length - 1] != u'/') {
        folder[length++] = u'\\';
        folder[length] = 0;
    }
    char16_t name[kPathUnits];
    if (WinGetTempFileNameW(folder, u"tmp", 0, name) == 0) return nullptr;
    char16_t full[kPathUnits];
    MakeFullPath(name, full, sizeof full, nullptr);
    if (extension) {
        std::size_t end = 0;
        while (full[end]) ++end;
        std::size_t extensionLength = 0;
        while (extension[extensionLength]) ++extensionLength;
        if (end + 1 + extensionLength >= kPathUnits) {
            WinDeleteFileW(name);
            return nullptr;
        }
        full[end++] = u'.';
        for (std::size_t i = 0; i < extensionLength; ++i) full[end++] = extension[i];
        full[end] = 0;
    }
    WinDeleteFileW(full);
    HANDLE file =
        WinCreateFileW(full, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    // With an extension the empty file the system made to reserve the name is not the one used:
    // remove it rather than leave one behind per call.
    if (extension) WinDeleteFileW(name);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    if (pathOut && pathBytes >= 2) {
        std::size_t room = pathBytes / 2 - 1;
        std::size_t i = 0;
        for (; full[i] && i < room; ++i) pathOut[i] = full[i];
        pathOut[i] = 0;
    }
    return file;
}

}  // namespace ZiDaz
