#include "Main/DxHandle.h"

#include <gtest/gtest.h>

#include <vector>

#include "Main/DxLog.h"

namespace ZiDaz {
namespace {

constexpr int kType = 30;

struct TestRecord {
    HandleHeader header;
    int payload;
};

class HandleManagerTest : public ::testing::Test {
  protected:
    void SetUp() override { EnableLogOutput(0); }
    void TearDown() override {
        for (int type = 26; type < kHandleTypeCount; ++type) UnregisterHandleType(type);
    }
    void Register(int max, HandleTerminateCallback terminate = nullptr, int type = kType) {
        ASSERT_EQ(
            RegisterHandleType(type, sizeof(TestRecord), max, nullptr, terminate, nullptr, u"Test"),
            0);
    }
};

TEST_F(HandleManagerTest, HandleValuesCarryTypeCheckByteAndIndex) {
    // The check values run 1, 2, ..., 254, 0, 1, ... per type and go on across registrations, so
    // they are followed from wherever earlier tests left the type.
    auto checkOf = [](HandleValue h) { return (h & kHandleCheckMask) >> kHandleCheckShift; };
    auto next = [](int check) { return check + 1 >= 255 ? 0 : check + 1; };
    Register(300);
    const int start = HandleTypeTable[kType].checkCounter;
    HandleValue first = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(first, (next(start) << 18) | (kType << 26) | 0);
    HandleValue second = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(second, (next(next(start)) << 18) | (kType << 26) | 1);
    auto* record = reinterpret_cast<TestRecord*>(LookupHandleRecord(second));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->header.handle, second);
    EXPECT_EQ(record->header.recordSize, static_cast<int>(sizeof(TestRecord)));
    EXPECT_EQ(record->header.jobIndex, -1);
    EXPECT_EQ(HandleTypeTable[kType].count, 2);

    // 256 handles pass every check value once, 254 and the wrap to 0 included.
    std::vector<int> checks = {checkOf(first), checkOf(second)};
    for (int i = 3; i <= 256; ++i) checks.push_back(checkOf(AllocateHandle(kType, 0, -1)));
    bool wrapped = false;
    for (std::size_t i = 1; i < checks.size(); ++i) {
        EXPECT_EQ(checks[i], next(checks[i - 1])) << i;
        wrapped = wrapped || (checks[i - 1] == 254 && checks[i] == 0);
    }
    EXPECT_TRUE(wrapped);

    // Re-registration continues the sequence instead of starting again at 1.
    ASSERT_EQ(UnregisterHandleType(kType), 0);
    EXPECT_EQ(LookupHandleRecord(first), nullptr);
    Register(300);
    HandleValue again = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(checkOf(again), next(checks.back()));
    EXPECT_EQ(again & kHandleIndexMask, 0);
}

TEST_F(HandleManagerTest, StaleDoubleAndForeignHandlesAreRefused) {
    Register(16);
    Register(16, nullptr, kType + 1);
    HandleValue a = AllocateHandle(kType, 0, -1);
    ASSERT_GE(a, 0);
    EXPECT_EQ(DeleteHandle(a), 0);
    EXPECT_EQ(DeleteHandle(a), -1);
    EXPECT_EQ(LookupHandleRecord(a), nullptr);

    // The slot is reused by a newer record with another check byte: the old handle stays dead.
    HandleValue b = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(b & kHandleIndexMask, a & kHandleIndexMask);
    EXPECT_NE(b, a);
    EXPECT_EQ(LookupHandleRecord(a), nullptr);
    EXPECT_EQ(IsHandleLoading(a), -1);
    EXPECT_EQ(SetHandleLostFlag(a, nullptr), -1);

    HandleValue wrongType = (b & ~kHandleTypeMask) | ((kType + 1) << kHandleTypeShift);
    const HandleValue bad[] = {-1, wrongType, b | 0x3FFFF, (b & ~kHandleTypeMask) | (29 << 26),
                               static_cast<HandleValue>(b | 0x80000000u)};
    for (HandleValue h : bad) {
        EXPECT_EQ(LookupHandleRecord(h), nullptr) << std::hex << h;
        EXPECT_EQ(DeleteHandle(h), -1) << std::hex << h;
    }
    EXPECT_NE(LookupHandleRecord(b), nullptr);
    EXPECT_EQ(AllocateHandle(29, 0, -1), -1);  // unregistered
    EXPECT_EQ(RegisterHandleType(kType, sizeof(TestRecord), 4, nullptr, nullptr, nullptr, u"X"),
              -1);
}

TEST_F(HandleManagerTest, FullTypeAndSlotChoice) {
    Register(8);
    std::vector<HandleValue> handles;
    for (int i = 0; i < 8; ++i) {
        handles.push_back(AllocateHandle(kType, 0, -1));
        EXPECT_EQ(handles.back() & kHandleIndexMask, i);
    }
    EXPECT_EQ(AllocateHandle(kType, 0, -1), -1);

    // A hole in the middle is found by the scan from 0.
    ASSERT_EQ(DeleteHandle(handles[4]), 0);
    HandleValue filled = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(filled & kHandleIndexMask, 4);

    // Deleting the top lowers the highest used index; the next record goes right above it.
    ASSERT_EQ(DeleteHandle(handles[7]), 0);
    ASSERT_EQ(DeleteHandle(handles[6]), 0);
    EXPECT_EQ(HandleTypeTable[kType].highestUsed, 5);
    EXPECT_EQ(AllocateHandle(kType, 0, -1) & kHandleIndexMask, 6);

    // With the top taken, the slot below the lowest used one is chosen.
    ASSERT_EQ(DeleteHandle(handles[0]), 0);
    ASSERT_EQ(DeleteHandle(handles[1]), 0);
    EXPECT_EQ(HandleTypeTable[kType].lowestUsed, 2);
    EXPECT_EQ(AllocateHandle(kType, 0, -1) & kHandleIndexMask, 7);
    EXPECT_EQ(AllocateHandle(kType, 0, -1) & kHandleIndexMask, 1);

    // A handle to reuse keeps its check byte and, when free, its slot.
    ASSERT_EQ(DeleteHandle(filled), 0);
    EXPECT_EQ(AllocateHandle(kType, 0, filled), filled);
    HandleValue other = AllocateHandle(kType, 0, filled);  // slot 4 taken: another slot, same check
    EXPECT_EQ(other & kHandleCheckMask, filled & kHandleCheckMask);
    EXPECT_EQ(other & kHandleIndexMask, 0);

    ASSERT_EQ(DeleteAllHandlesOfType(kType, nullptr), 0);
    EXPECT_EQ(HandleTypeTable[kType].count, 0);
    EXPECT_EQ(HandleTypeTable[kType].lowestUsed, 0);
    EXPECT_EQ(HandleTypeTable[kType].highestUsed, 0);
    EXPECT_EQ(HandleTypeTable[kType].listHead.next, &HandleTypeTable[kType].listTail);
}

TEST_F(HandleManagerTest, ListRunsNewestFirstAndSurvivesAMovingResize) {
    Register(16);
    HandleValue a = AllocateHandle(kType, 0, -1);
    HandleValue b = AllocateHandle(kType, 0, -1);
    HandleValue c = AllocateHandle(kType, 0, -1);
    EXPECT_EQ(ResizeHandleRecord(b, sizeof(TestRecord)), 0);
    reinterpret_cast<TestRecord*>(LookupHandleRecord(b))->payload = 77;
    ASSERT_EQ(ResizeHandleRecord(b, 64 * 1024), 0);
    auto* moved = reinterpret_cast<TestRecord*>(LookupHandleRecord(b));
    EXPECT_EQ(moved->payload, 77);
    EXPECT_EQ(moved->header.recordSize, 64 * 1024);
    std::vector<HandleValue> order;
    std::vector<void*> data;
    for (HandleListNode* n = HandleTypeTable[kType].listHead.next;
         n != &HandleTypeTable[kType].listTail; n = n->next) {
        order.push_back(n->value);
        data.push_back(n->data);
    }
    EXPECT_EQ(order, (std::vector<HandleValue>{c, b, a}));
    EXPECT_EQ(data[1], moved);
    EXPECT_EQ(ResizeHandleRecord(-1, 100), -1);
    EXPECT_EQ(DeleteHandle(b), 0);
    EXPECT_EQ(HandleTypeTable[kType].listHead.next->next->value, a);
}

int keepCount = 0;
int KeepTwice(HandleHeader*) {
    return keepCount-- > 0 ? 1 : 0;
}
int KeepOdd(HandleHeader* record) {
    return reinterpret_cast<TestRecord*>(record)->payload % 2;
}

TEST_F(HandleManagerTest, TerminateCallbackKeepTestAndLostFlag) {
    Register(16, &KeepTwice);
    HandleValue a = AllocateHandle(kType, 0, -1);
    int lost = 0;
    ASSERT_EQ(SetHandleLostFlag(a, &lost), 0);
    keepCount = 1;
    EXPECT_EQ(DeleteHandle(a), 0);  // kept
    EXPECT_NE(LookupHandleRecord(a), nullptr);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(DeleteHandle(a), 0);
    EXPECT_EQ(LookupHandleRecord(a), nullptr);
    EXPECT_EQ(lost, -1);

    // The sweep offers a kept record again until its callback lets it go.
    for (int i = 0; i < 3; ++i) AllocateHandle(kType, 0, -1);
    keepCount = 2;
    EXPECT_EQ(DeleteAllHandlesOfType(kType, nullptr), 0);
    EXPECT_EQ(HandleTypeTable[kType].count, 0);

    // Records the keep-test holds on to stay.
    std::vector<HandleValue> handles;
    for (int i = 0; i < 6; ++i) {
        handles.push_back(AllocateHandle(kType, 0, -1));
        reinterpret_cast<TestRecord*>(LookupHandleRecord(handles.back()))->payload = i;
    }
    keepCount = 0;
    EXPECT_EQ(DeleteAllHandlesOfType(kType, &KeepOdd), 0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(LookupHandleRecord(handles[i]) != nullptr, i % 2 == 1);
    EXPECT_EQ(DeleteAllHandlesOfType(29, nullptr), -1);
}

std::vector<HandleValue> completed;
void OnComplete(HandleValue handle, void* data) {
    completed.push_back(handle);
    *static_cast<int*>(data) += 1;
}

TEST_F(HandleManagerTest, PendingLoadsCompleteOrDeleteOnTheLastFinish) {
    Register(16);
    HandleValue a = AllocateHandle(kType, 1, -1);
    EXPECT_EQ(IsHandleLoading(a), 1);
    int calls = 0;
    LookupHandleRecord(a)->completionCallback = &OnComplete;
    LookupHandleRecord(a)->completionUserData = reinterpret_cast<std::intptr_t>(&calls);
    EXPECT_EQ(BeginHandleASyncLoad(a, -1), 0);
    EXPECT_EQ(FinishHandleASyncLoad(a), 0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(IsHandleLoading(a), 1);
    EXPECT_EQ(FinishHandleASyncLoad(a), 0);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(completed.back(), a);
    EXPECT_EQ(IsHandleLoading(a), 0);
    EXPECT_EQ(WaitHandleASyncLoad(a), 0);

    HandleValue b = AllocateHandle(kType, 1, -1);
    LookupHandleRecord(b)->deleteRequested = 1;
    EXPECT_EQ(FinishHandleASyncLoad(b), 0);
    EXPECT_EQ(LookupHandleRecord(b), nullptr);
    EXPECT_EQ(FinishHandleASyncLoad(b), -1);
}

}  // namespace
}  // namespace ZiDaz
