#include "Main/DxRingBuffer.h"

#include "Main/DxBaseFunc.h"

#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

namespace {

void Normalise(RingBuffer* buffer) {
    if (buffer->readPosition == buffer->capacity) buffer->readPosition = 0;
    if (buffer->writePosition == buffer->capacity) buffer->writePosition = 0;
}

}  // namespace

int InitRingBuffer(RingBuffer* buffer) {
    buffer->storage = nullptr;
    buffer->readPosition = 0;
    buffer->writePosition = 0;
    buffer->stored = 0;
    buffer->capacity = 0;
    return 0;
}

int FreeRingBuffer(RingBuffer* buffer) {
    if (buffer->storage != nullptr) DX_FREE(buffer->storage);
    return InitRingBuffer(buffer);
}

int ReserveRingBuffer(RingBuffer* buffer, int needed) {
    if (needed < 0) return -1;
    Normalise(buffer);
    if (static_cast<std::int64_t>(buffer->capacity) >=
        static_cast<std::int64_t>(needed) + buffer->stored) {
        return 0;
    }
    std::int64_t wanted = static_cast<std::int64_t>(buffer->stored) * 3 / 2 + needed + 1000;
    auto* storage = wanted <= 0x7FFFFFFF
                        ? static_cast<std::uint8_t*>(DX_ALLOC(static_cast<std::size_t>(wanted)))
                        : nullptr;
    if (storage == nullptr) {
        FreeRingBuffer(buffer);
        WriteLogFormatUtf16(u"リングバッファの再確保に失敗しました(確保しようとしたサイズ %d byte)",
                            static_cast<int>(wanted > 0x7FFFFFFF ? 0x7FFFFFFF : wanted));
        return -1;
    }
    if (buffer->stored > 0) {
        int first = buffer->capacity - buffer->readPosition;
        if (first >= buffer->stored) {
            CopyByteBlock(storage, buffer->storage + buffer->readPosition, buffer->stored);
        } else {
            CopyByteBlock(storage, buffer->storage + buffer->readPosition, first);
            CopyByteBlock(storage + first, buffer->storage, buffer->stored - first);
        }
    }
    if (buffer->storage != nullptr) DX_FREE(buffer->storage);
    buffer->storage = storage;
    buffer->capacity = static_cast<int>(wanted);
    buffer->readPosition = 0;
    buffer->writePosition = buffer->stored;
    return 0;
}

int ReadRingBuffer(RingBuffer* buffer, void* destination, int length, int peek) {
    if (length < 0 || buffer->stored < length) return -1;
    if (length == 0) return 0;
    Normalise(buffer);
    auto* out = static_cast<std::uint8_t*>(destination);
    int first = buffer->capacity - buffer->readPosition;
    if (first >= length) {
        CopyByteBlock(out, buffer->storage + buffer->readPosition, length);
    } else {
        CopyByteBlock(out, buffer->storage + buffer->readPosition, first);
        CopyByteBlock(out + first, buffer->storage, length - first);
    }
    if (!peek) {
        buffer->readPosition += length;
        if (buffer->readPosition >= buffer->capacity) buffer->readPosition -= buffer->capacity;
        buffer->stored -= length;
    }
    return 0;
}

}  // namespace ZiDaz
