// One file inside an open archive, read with random access. A compressed file is decoded whole
// when it is opened, so that later reads and seeks are memory copies; a stored file is read on
// demand from the image or through a private stream on the archive file, unscrambled on the way.
#include <cstring>

#include "Main/DxArchiveInternal.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxFileWin.h"

namespace ZiDaz {

using namespace archive_detail;

namespace {

std::uint64_t BlockStart(const ArchiveStream* stream) {
    return stream->reader->header.dataOffset + stream->entry.dataOffset;
}

std::uint64_t StoredSize(const ArchiveStream* stream) {
    return ArchiveStoredBlockSize(stream->entry, stream->reader->header.huffmanKilobytes);
}

bool IsCompressed(const ArchiveFileEntry& entry) {
    return entry.lzSize != kArchiveNone || entry.huffmanSize != kArchiveNone;
}

// Decodes an unscrambled stored block into stream->decoded: true when it gives exactly D bytes.
bool DecodeBlock(ArchiveStream* stream, const unsigned char* block, std::uint64_t blockSize) {
    const ArchiveFileEntry& e = stream->entry;
    const std::uint64_t d = e.dataSize;
    if (e.huffmanSize == kArchiveNone) {
        return DecodeArchiveLz(block, e.lzSize, stream->decoded, d) == static_cast<std::int64_t>(d);
    }
    const bool lz = e.lzSize != kArchiveNone;
    const std::uint64_t s = lz ? e.lzSize : d;
    unsigned char* target = stream->decoded;
    if (lz) {
        target = static_cast<unsigned char*>(DX_ALLOC(s));
        if (!target) return false;
    }
    const std::uint64_t k = stream->reader->header.huffmanKilobytes;
    const std::uint64_t ends = k * 1024;
    bool ok;
    if (k == kArchiveHuffmanWhole || s <= 2 * ends) {
        ok = DecodeArchiveHuffman(block, e.huffmanSize, target, s) == static_cast<std::int64_t>(s);
    } else {
        // The Huffman block holds the first and the last k KB; the middle follows it as it is.
        ok = e.huffmanSize + (s - 2 * ends) <= blockSize &&
             DecodeArchiveHuffman(block, e.huffmanSize, target, 2 * ends) ==
                 static_cast<std::int64_t>(2 * ends);
        if (ok) {
            std::memmove(target + s - ends, target + ends, ends);
            std::memcpy(target + ends, block + e.huffmanSize, s - 2 * ends);
        }
    }
    if (ok && lz) {
        ok = DecodeArchiveLz(target, s, stream->decoded, d) == static_cast<std::int64_t>(d);
    }
    if (lz) DX_FREE(target);
    return ok;
}

// A compressed file whose stored block turned out damaged reads as empty.
void DropDecoded(ArchiveStream* stream) {
    DX_FREE(stream->decoded);
    stream->decoded = nullptr;
    stream->entry.dataSize = 0;
    stream->entry.lzSize = kArchiveNone;
    stream->entry.huffmanSize = kArchiveNone;
    stream->position = 0;
}

// Completes a pending step; without `wait` only when the private stream is idle already.
bool CompletePending(ArchiveStream* stream, bool wait) {
    if (stream->pending == 0) return true;
    while (!PlainFileIdleCheck(stream->file)) {
        if (!wait) return false;
        WaitMilliseconds(1);
    }
    if (stream->pending == 1) {
        std::uint64_t stored = StoredSize(stream);
        if (!stream->noKey) {
            ApplyArchiveKey(stream->temporary, static_cast<std::int64_t>(stored),
                            static_cast<std::int64_t>(stream->entry.dataSize), stream->key);
        }
        if (!DecodeBlock(stream, stream->temporary, stored)) DropDecoded(stream);
        DX_FREE(stream->temporary);
        stream->temporary = nullptr;
    } else if (!stream->noKey) {
        ApplyArchiveKey(stream->pendingDestination, stream->pendingLength,
                        static_cast<std::int64_t>(stream->entry.dataSize) + stream->readStart,
                        stream->key);
    }
    stream->pending = 0;
    return true;
}

void FreeStream(ArchiveStream* stream) {
    DX_FREE(stream->decoded);
    DX_FREE(stream->temporary);
    if (stream->file) ClosePlainStream(stream->file);
    std::memset(static_cast<void*>(stream), 0, sizeof *stream);
}

// Reads the stored block into stream->temporary from the private stream: true when started (or,
// synchronously, done).
bool ReadStoredBlock(ArchiveStream* stream, std::uint64_t stored) {
    stream->temporary = static_cast<unsigned char*>(DX_ALLOC(stored));
    if (!stream->temporary ||
        PlainFileSeek(stream->file, static_cast<std::int64_t>(BlockStart(stream)), 0) != 0) {
        return false;
    }
    return PlainFileRead(stream->temporary, 1, stored, stream->file) == stored;
}

}  // namespace

int OpenArchiveStream(ArchiveStream* stream, ArchiveReader* reader, const void* path,
                      int asynchronous) {
    if (!stream || !reader || !path) return -1;
    while (!CheckArchiveIdle(reader)) WaitMilliseconds(0);
    std::memset(static_cast<void*>(stream), 0, sizeof *stream);
    stream->asynchronous = asynchronous ? 1 : 0;
    std::uint64_t directory = 0;
    if (FindArchiveFileEntry(reader, path, &stream->entry, &directory) != 0) return -1;
    stream->reader = reader;
    if (!reader->imageMode) {
        stream->file = PlainFileOpen(reader->path, 0, 1, stream->asynchronous);
        if (!stream->file) {
            FreeStream(stream);
            return -1;
        }
    }
    stream->noKey = reader->noKey;
    if (!stream->noKey) DeriveFileKey(reader, stream->entry, directory, stream->key);
    const std::uint64_t d = stream->entry.dataSize;
    if (!IsCompressed(stream->entry) || d == 0) return 0;  // read on demand

    const std::uint64_t stored = StoredSize(stream);
    stream->decoded = static_cast<unsigned char*>(DX_ALLOC(d));
    if (!stream->decoded) {
        FreeStream(stream);
        return -1;
    }
    bool ok = true;
    if (reader->imageMode) {
        const unsigned char* block = reader->image + BlockStart(stream);
        if (reader->leftScrambled && !stream->noKey) {
            stream->temporary = static_cast<unsigned char*>(DX_ALLOC(stored));
            ok = stream->temporary != nullptr;
            if (ok) {
                std::memcpy(stream->temporary, block, stored);
                ApplyArchiveKey(stream->temporary, static_cast<std::int64_t>(stored),
                                static_cast<std::int64_t>(d), stream->key);
                block = stream->temporary;
            }
        }
        ok = ok && DecodeBlock(stream, block, stored);
    } else if (stream->asynchronous) {
        // The block arrives on the file thread; it is unscrambled and decoded once it is there.
        ok = ReadStoredBlock(stream, stored);
        if (ok) {
            stream->pending = 1;
            return 0;
        }
    } else {
        ok = ReadStoredBlock(stream, stored);
        if (ok && !stream->noKey) {
            ApplyArchiveKey(stream->temporary, static_cast<std::int64_t>(stored),
                            static_cast<std::int64_t>(d), stream->key);
        }
        ok = ok && DecodeBlock(stream, stream->temporary, stored);
    }
    DX_FREE(stream->temporary);
    stream->temporary = nullptr;
    if (!ok) {
        FreeStream(stream);
        return -1;
    }
    return 0;
}

std::size_t ReadArchiveStream(ArchiveStream* stream, void* buffer, std::size_t bytes) {
    if (!stream || !stream->reader || !buffer) return 0;
    CompletePending(stream, true);
    if (stream->endReached) return 0;
    const std::int64_t d = static_cast<std::int64_t>(stream->entry.dataSize);
    if (stream->position >= d) {
        stream->endReached = 1;
        return 0;
    }
    std::uint64_t remaining = static_cast<std::uint64_t>(d - stream->position);
    std::size_t count = bytes < remaining ? bytes : static_cast<std::size_t>(remaining);
    auto* out = static_cast<unsigned char*>(buffer);
    const ArchiveReader* reader = stream->reader;
    if (stream->decoded) {
        std::memcpy(out, stream->decoded + stream->position, count);
    } else if (reader->imageMode) {
        std::memcpy(out, reader->image + BlockStart(stream) + stream->position, count);
        if (reader->leftScrambled && !stream->noKey) {
            ApplyArchiveKey(out, static_cast<std::int64_t>(count), d + stream->position,
                            stream->key);
        }
    } else {
        std::int64_t at = static_cast<std::int64_t>(BlockStart(stream)) + stream->position;
        if (PlainFileTell(stream->file) != at && PlainFileSeek(stream->file, at, 0) != 0) {
            return 0;
        }
        std::size_t got = PlainFileRead(out, 1, count, stream->file);
        if (stream->asynchronous) {
            stream->pending = 2;
            stream->pendingDestination = out;
            stream->pendingLength = static_cast<std::int64_t>(got);
            stream->readStart = stream->position;
        } else if (!stream->noKey) {
            ApplyArchiveKey(out, static_cast<std::int64_t>(got), d + stream->position, stream->key);
        }
        count = got;  // less only when the archive file shrank since it was opened
    }
    stream->endReached = 0;
    stream->position += static_cast<std::int64_t>(count);
    return count;
}

int SeekArchiveStream(ArchiveStream* stream, std::int64_t offset, int origin) {
    if (!stream || !stream->reader) return -1;
    CompletePending(stream, true);
    const std::int64_t d = static_cast<std::int64_t>(stream->entry.dataSize);
    std::int64_t target;
    // An unknown origin counts from the start.
    if (!SeekTargetWithin(stream->position, d, offset, origin, &target)) {
        SeekTargetWithin(stream->position, d, offset, 0, &target);
    }
    stream->position = target;
    stream->endReached = 0;
    return 0;
}

std::int64_t TellArchiveStream(ArchiveStream* stream) {
    if (!stream || !stream->reader) return -1;
    CompletePending(stream, true);
    return stream->position;
}

int ArchiveStreamEof(ArchiveStream* stream) {
    if (!stream || !stream->reader) return -1;
    CompletePending(stream, true);
    return stream->endReached ? -1 : 0;
}

int ArchiveStreamIdleCheck(ArchiveStream* stream) {
    if (!stream || !stream->asynchronous || stream->pending == 0) return 1;
    return CompletePending(stream, false) ? 1 : 0;
}

int CloseArchiveStream(ArchiveStream* stream) {
    if (!stream) return -1;
    if (stream->reader) CompletePending(stream, true);
    FreeStream(stream);
    return 0;
}

}  // namespace ZiDaz
