// A growable byte ring. Producers write at the write position themselves (wrapping at the
// capacity) after making room with ReserveRingBuffer; consumers take bytes with ReadRingBuffer.
// The ring has no lock of its own: its users guard it with theirs.
#pragma once

#include <cstdint>

namespace ZiDaz {

struct RingBuffer {
    std::uint8_t* storage;  // tracked block of `capacity` bytes, null when empty
    int readPosition;       // offset of the oldest stored byte
    int writePosition;      // offset where the next byte goes
    int stored;             // bytes held
    int capacity;
};

int InitRingBuffer(RingBuffer* buffer);
int FreeRingBuffer(RingBuffer* buffer);
// Makes sure that `needed` more bytes fit; grows to stored x 3 / 2 + needed + 1,000 bytes with
// the stored bytes moved to the start. -1 when the new storage cannot be had (the ring is then
// emptied and its bytes are lost).
int ReserveRingBuffer(RingBuffer* buffer, int needed);
// Copies `length` bytes from the read position, wrapping; without `peek` they are consumed.
// -1 (and nothing changes) when fewer than `length` bytes are stored.
int ReadRingBuffer(RingBuffer* buffer, void* destination, int length, int peek);

}  // namespace ZiDaz
