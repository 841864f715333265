#include <gtest/gtest.h>

#include <cstring>

#include "Main/DxMemory.h"
#include "Main/DxRingBuffer.h"

namespace {

using namespace ZiDaz;

// A ring of capacity 100 holding 30 bytes (values 0..29) from read position 90.
RingBuffer WrappedRing() {
    RingBuffer ring;
    InitRingBuffer(&ring);
    EXPECT_EQ(ReserveRingBuffer(&ring, 1), 0);
    FreeRingBuffer(&ring);
    ring.storage = static_cast<std::uint8_t*>(DX_ALLOC(100));
    ring.capacity = 100;
    ring.readPosition = 90;
    ring.stored = 30;
    ring.writePosition = 20;
    for (int i = 0; i < 30; ++i) ring.storage[(90 + i) % 100] = static_cast<std::uint8_t>(i);
    return ring;
}

TEST(RingBuffer, ReadsWrapAndPeekDoesNotConsume) {
    RingBuffer ring = WrappedRing();
    std::uint8_t out[40] = {};
    EXPECT_EQ(ReadRingBuffer(&ring, out, 31, 0), -1);
    EXPECT_EQ(ring.readPosition, 90);
    EXPECT_EQ(ring.stored, 30);
    EXPECT_EQ(ReadRingBuffer(&ring, out, 30, 1), 0);
    EXPECT_EQ(ring.readPosition, 90);
    EXPECT_EQ(ring.stored, 30);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(out[i], i);
    std::memset(out, 0, sizeof(out));
    EXPECT_EQ(ReadRingBuffer(&ring, out, 30, 0), 0);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(out[i], i);
    EXPECT_EQ(ring.readPosition, 20);
    EXPECT_EQ(ring.stored, 0);
    FreeRingBuffer(&ring);
    EXPECT_EQ(ring.storage, nullptr);
    EXPECT_EQ(ring.capacity, 0);
}

TEST(RingBuffer, ReserveGrowsByHalfTheStoredBytesPlusTheNeedPlus1000AndUnwraps) {
    RingBuffer ring = WrappedRing();
    std::uint8_t* before = ring.storage;
    EXPECT_EQ(ReserveRingBuffer(&ring, 50), 0);  // 30 + 50 fit in 100
    EXPECT_EQ(ring.storage, before);
    EXPECT_EQ(ring.capacity, 100);
    EXPECT_EQ(ReserveRingBuffer(&ring, 80), 0);
    EXPECT_EQ(ring.capacity, 30 * 3 / 2 + 80 + 1000);
    EXPECT_EQ(ring.capacity, 1125);
    EXPECT_EQ(ring.readPosition, 0);
    EXPECT_EQ(ring.writePosition, 30);
    EXPECT_EQ(ring.stored, 30);
    for (int i = 0; i < 30; ++i) ASSERT_EQ(ring.storage[i], i);

    // A producer writes at the write position; the bytes come back in order.
    for (int i = 0; i < 80; ++i)
        ring.storage[ring.writePosition++] = static_cast<std::uint8_t>(30 + i);
    ring.stored += 80;
    std::uint8_t out[110];
    ASSERT_EQ(ReadRingBuffer(&ring, out, 110, 0), 0);
    for (int i = 0; i < 110; ++i) ASSERT_EQ(out[i], i);
    FreeRingBuffer(&ring);
}

TEST(RingBuffer, PositionsAtTheCapacityAreNormalised) {
    RingBuffer ring;
    InitRingBuffer(&ring);
    ASSERT_EQ(ReserveRingBuffer(&ring, 10), 0);
    EXPECT_EQ(ring.capacity, 1010);
    ring.readPosition = ring.capacity;
    ring.writePosition = ring.capacity;
    EXPECT_EQ(ReserveRingBuffer(&ring, 5), 0);
    EXPECT_EQ(ring.readPosition, 0);
    EXPECT_EQ(ring.writePosition, 0);
    EXPECT_EQ(ReserveRingBuffer(&ring, -1), -1);
    FreeRingBuffer(&ring);
}

}  // namespace
