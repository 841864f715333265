// The library's file layer: the stream function table through which every file is read, the
// reader records that let decoders read files and memory alike, memory streams, File handles, and
// the small path routines (full paths, splitting).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ZiDaz {

struct FindFileRecord;        // wide find result (Main/Windows/DxFileWin.h)
struct NarrowFindFileRecord;  // the same with a narrow name

// A stream is an opaque pointer-sized value from a table's Open; 0 means failure.
using StreamValue = std::uintptr_t;
// A search is a value from a table's FindFirst; -1 means failure or no match.
using FileSearchValue = std::intptr_t;

// Fourteen file functions; paths are UTF-16.
struct StreamFunctionTable {
    StreamValue (*Open)(const char16_t* path, int useCache, int blockRead, int useASyncThread);
    int (*Close)(StreamValue stream);
    std::int64_t (*Tell)(StreamValue stream);
    int (*Seek)(StreamValue stream, std::int64_t offset, int origin);
    std::size_t (*Read)(void* buffer, std::size_t size, std::size_t count, StreamValue stream);
    int (*Eof)(StreamValue stream);
    int (*IdleCheck)(StreamValue stream);
    int (*IsArchived)(StreamValue stream);
    int (*ChangeDir)(const char16_t* path);
    int (*GetDir)(char16_t* buffer);
    int (*GetDirWithSize)(char16_t* buffer, std::size_t bufferBytes);  // may be null
    FileSearchValue (*FindFirst)(const char16_t* pattern, FindFileRecord* record);
    int (*FindNext)(FileSearchValue search, FindFileRecord* record);
    int (*FindClose)(FileSearchValue search);
};

// A program's own table over narrow paths (the library's narrow encoding); no IsArchived slot.
struct NarrowStreamFunctionTable {
    StreamValue (*Open)(const char* path, int useCache, int blockRead, int useASyncThread);
    int (*Close)(StreamValue stream);
    std::int64_t (*Tell)(StreamValue stream);
    int (*Seek)(StreamValue stream, std::int64_t offset, int origin);
    std::size_t (*Read)(void* buffer, std::size_t size, std::size_t count, StreamValue stream);
    int (*Eof)(StreamValue stream);
    int (*IdleCheck)(StreamValue stream);
    int (*ChangeDir)(const char* path);
    int (*GetDir)(char* buffer);
    int (*GetDirWithSize)(char* buffer, std::size_t bufferBytes);  // may be null
    FileSearchValue (*FindFirst)(const char* pattern, NarrowFindFileRecord* record);
    int (*FindNext)(FileSearchValue search, NarrowFindFileRecord* record);
    int (*FindClose)(FileSearchValue search);
};

// What a decoder reads through: six functions paired with a stream pointer.
struct StreamReaderOps {
    std::int64_t (*Tell)(void* stream);
    int (*Seek)(void* stream, std::int64_t offset, int origin);
    std::size_t (*Read)(void* buffer, std::size_t size, std::size_t count, void* stream);
    int (*Eof)(void* stream);
    int (*IdleCheck)(void* stream);
    int (*Close)(void* stream);
};

// A file image in memory read as a stream; the caller keeps the image.
struct MemoryStream {
    const void* data;
    std::uint32_t size;
    std::uint32_t position;
    int endReached;
};

// --- Table management ---------------------------------------------------------------------

int InstallStreamFunctions(const StreamFunctionTable* table);
int InstallNarrowStreamFunctions(const NarrowStreamFunctionTable* table);
StreamFunctionTable* GetStreamFunctionTable();
int IsDefaultStreamFunctionTable();
// The built-in default for the current archive switch: the archive path layer's table when the
// switch is on and that layer has registered itself, else the plain file table.
const StreamFunctionTable* GetDefaultStreamFunctionTable();
// For the archive path layer: its table, and the use-archive switch (on unless turned off).
void RegisterArchiveStreamFunctions(const StreamFunctionTable* table);
int GetArchiveLookupSwitch();
void SetArchiveLookupSwitch(int on);

const StreamReaderOps* GetFileStreamAccess();
const StreamReaderOps* GetMemoryStreamAccess();

// --- Memory streams -----------------------------------------------------------------------

MemoryStream* CreateMemoryStream(const void* data, std::size_t size);
int FreeMemoryStream(MemoryStream* stream);
int MemoryStreamAtEnd(MemoryStream* stream);
std::int64_t MemoryStreamTell(MemoryStream* stream);
int MemoryStreamSeek(MemoryStream* stream, std::int64_t offset, int origin);
// Where a seek by offset from origin (0 start, 1 current position, 2 end) lands in a stream of
// the given size, kept within 0..size; false, leaving target alone, for any other origin.
bool SeekTargetWithin(std::int64_t position, std::int64_t size, std::int64_t offset, int origin,
                      std::int64_t* target);
// Whole items only: a tail shorter than one item is copied but not counted (the result is 0 and
// the end is reached).
std::size_t MemoryStreamRead(void* buffer, std::size_t size, std::size_t count,
                             MemoryStream* stream);

// --- Forwarders to the current table ------------------------------------------------------

StreamValue StreamOpen(const char16_t* path, int useCache, int blockRead, int useASyncThread);
int StreamClose(StreamValue stream);
std::int64_t StreamTell(StreamValue stream);
int StreamSeek(StreamValue stream, std::int64_t offset, int origin);
std::size_t StreamRead(void* buffer, std::size_t size, std::size_t count, StreamValue stream);
int StreamEof(StreamValue stream);
int StreamIdleCheck(StreamValue stream);
int StreamIsArchived(StreamValue stream);
int StreamChangeDir(const char16_t* path);
int StreamGetCurrentDir(char16_t* buffer, std::size_t bufferBytes);
// A search with a narrow pattern and record (the runtime's file listing).
FileSearchValue BeginFileSearch(const char* pattern, NarrowFindFileRecord* record);
int ContinueFileSearch(FileSearchValue search, NarrowFindFileRecord* record);
int EndFileSearch(FileSearchValue search);

// --- File handles (handle type 17, "File") ------------------------------------------------

// 0 on failure (-1 only when the path could not be converted for lack of memory).
int OpenReadFileHandle(const char* path, int useASyncThread);
// Bytes read, -1 for a handle that is not a File handle.
int ReadFileHandle(void* buffer, int size, int handle);
// Releases a File handle and closes its file: 0, or -1 for a handle that is not a File handle.
int CloseFileHandle(int handle);
// The whole size of the file, or -1 when it cannot be opened.
std::int64_t GetFileSizeByPath(const char* path);
int StartFileModule();
int EndFileModule();

// --- Paths (UTF-16; "\\" and "/" both separate) --------------------------------------------

// A full path from a relative one and a base folder (null: the current folder as the table
// reports it). Always terminated within outBytes.
int MakeFullPath(const char16_t* path, char16_t* out, std::size_t outBytes, const char16_t* base);
// The same over narrow paths in the library's narrow encoding.
int MakeFullPathNarrow(const char* path, char* out, std::size_t outBytes, const char* base);
int SplitPathAtLastSeparator(const char16_t* path, char16_t* fileName, std::size_t fileNameBytes,
                             char16_t* folder, std::size_t folderBytes);
int SplitBaseNameAndExtension(const char16_t* path, char16_t* baseName, std::size_t baseNameBytes,
                              char16_t* extension, std::size_t extensionBytes);

}  // namespace ZiDaz
