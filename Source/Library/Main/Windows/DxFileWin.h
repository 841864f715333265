// Plain files on disk: the read-only streams behind the plain stream function table (direct, or
// with one file thread per open file for a read-ahead cache or asynchronous reads), the current
// folder, folder searches, write-only files and temporary files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxFile.h"
#include "Main/Windows/DxClock.h"

namespace ZiDaz {

// One search result. The narrow form carries its name in the library's narrow encoding.
struct FindFileRecord {
    char16_t Name[260];
    int DirectoryFlag;
    std::int64_t Size;
    LocalDateTime CreationTime;
    LocalDateTime LastWriteTime;
};

struct NarrowFindFileRecord {
    char Name[260];
    int DirectoryFlag;
    std::int64_t Size;
    LocalDateTime CreationTime;
    LocalDateTime LastWriteTime;
};

// The plain file table (IsArchived always 0).
const StreamFunctionTable* GetPlainStreamFunctions();

// Read-only plain files (the plain table's slots).
struct PlainFileStream;
PlainFileStream* PlainFileOpen(const char16_t* path, int useCache, int blockRead,
                               int useASyncThread);
int PlainFileClose(PlainFileStream* stream);
std::int64_t PlainFileTell(PlainFileStream* stream);
int PlainFileSeek(PlainFileStream* stream, std::int64_t offset, int origin);
std::size_t PlainFileRead(void* buffer, std::size_t size, std::size_t count,
                          PlainFileStream* stream);
int PlainFileEof(PlainFileStream* stream);
int PlainFileIdleCheck(PlainFileStream* stream);
int PlainFileChangeDir(const char16_t* path);
int PlainFileGetDir(char16_t* buffer);
int PlainFileGetDirWithSize(char16_t* buffer, std::size_t bufferBytes);
FileSearchValue PlainFileFindFirst(const char16_t* pattern, FindFileRecord* record);
int PlainFileFindNext(FileSearchValue search, FindFileRecord* record);
int PlainFileFindClose(FileSearchValue search);

// A file time (100-ns units since 1601, UTC) as local date and time; zero when it has none.
void FileTimeToLocalDateTime(std::uint64_t fileTime, LocalDateTime& out);

// The current folder for the archive path layer, in the wide encoding: 0 / -1.
int SetCurrentDirectoryWide(const char16_t* path);
int GetCurrentDirectoryWide(char16_t* buffer, std::size_t bufferBytes);

// Write-only files: OS handles (null on failure).
void* CreateWriteFile(const char16_t* path);
int WriteFileBytes(void* handle, const void* data, std::size_t size, std::size_t* written);
int SeekWriteFile(void* handle, std::int64_t offset, int origin);
int CloseWriteFile(void* handle);
int RemoveFileByPath(const char16_t* path);
// A new empty file in the temporary folder, "tmp..." with the given extension; its path goes to
// pathOut (bounded by pathBytes) when given.
void* CreateTempFileForWrite(char16_t* pathOut, std::size_t pathBytes, const char16_t* extension);

}  // namespace ZiDaz
