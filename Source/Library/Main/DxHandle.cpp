#include "Main/DxHandle.h"

#include <utility>

#include "Main/DxASyncLoad.h"
#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DxClock.h"

namespace ZiDaz {

HandleTypeRecord HandleTypeTable[kHandleTypeCount];

namespace {

constexpr const char* kSourceFile = "DxHandle";

HandleTypeRecord* RegisteredType(int type) {
    if (type < 0 || type >= kHandleTypeCount) return nullptr;
    HandleTypeRecord* record = &HandleTypeTable[type];
    return record->registered != 0 ? record : nullptr;
}

HandleTypeRecord& TypeOf(HandleValue handle) {
    return HandleTypeTable[(handle & kHandleTypeMask) >> kHandleTypeShift];
}

// The registered type a handle value names, without looking at its record: a load thread may
// delete the record at any moment (a failed load), so only a lookup under the type's lock may
// touch it from another thread.
HandleTypeRecord* TypeOfHandleValue(HandleValue handle) {
    if (handle < 0) return nullptr;
    HandleTypeRecord& type = TypeOf(handle);
    if (type.registered == 0 || (handle & kHandleTypeMask) != type.typeBits) return nullptr;
    return &type;
}

// Steps the used range after the record at index left the type.
void ShrinkUsedRange(HandleTypeRecord& type, int index) {
    if (type.count == 0) {
        type.lowestUsed = 0;
        type.highestUsed = 0;
        return;
    }
    if (index == type.highestUsed) {
        while (type.highestUsed > 0 && type.slots[type.highestUsed] == nullptr) --type.highestUsed;
    }
    if (index == type.lowestUsed) {
        while (type.lowestUsed < type.highestUsed && type.slots[type.lowestUsed] == nullptr) {
            ++type.lowestUsed;
        }
    }
}

int ChooseSlot(const HandleTypeRecord& type, HandleValue reuseHandle) {
    if (reuseHandle >= 0) {
        int index = reuseHandle & kHandleIndexMask;
        if (index < type.max && type.slots[index] == nullptr) return index;
    }
    if (type.count == 0) return 0;
    if (type.highestUsed + 1 < type.max) return type.highestUsed + 1;
    if (type.lowestUsed - 1 > 0) return type.lowestUsed - 1;
    for (int index = 0; index < type.max; ++index) {
        if (type.slots[index] == nullptr) return index;
    }
    return -1;
}

// Waits, without holding the type's lock, until no load job is pending for the handle any more (or
// the handle went away meanwhile); serves main-thread calls so that a load thread blocked on the
// main thread can finish. Returns the record when it is still valid; the lock is then held again.
HandleHeader* WaitLoadsWithoutLock(HandleTypeRecord& type, HandleValue handle, int sleepMs) {
    ReleaseTracedLock(&type.lock);
    for (;;) {
        AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
        HandleHeader* record = LookupHandleRecord(handle);
        if (record == nullptr || record->asyncPending == 0) return record;
        ReleaseTracedLock(&type.lock);
        ServeMainThreadCalls();
        SleepMilliseconds(sleepMs);
    }
}

// DeleteHandle's body; the caller holds the type's lock.
int DeleteHandleLocked(HandleTypeRecord& type, HandleValue handle) {
    HandleHeader* record = LookupHandleRecord(handle);
    if (record == nullptr) return -1;
    if (record->asyncPending != 0) {
        int result = record->jobIndex >= 0 ? DeleteASyncLoadJob(record->jobIndex, 1) : -2;
        if (record->jobIndex < 0 || result == -2) {
            record = WaitLoadsWithoutLock(type, handle, 0);
            if (record == nullptr) return -1;  // someone else deleted it while we waited
        }
    }
    if (type.terminateCallback != nullptr && type.terminateCallback(record) == 1) return 0;
    if (record->lostFlag != nullptr) *record->lostFlag = -1;
    UnlinkHandleListNode(&record->listNode);
    int index = handle & kHandleIndexMask;
    FreeTrackedMemory(record);
    type.slots[index] = nullptr;
    --type.count;
    ShrinkUsedRange(type, index);
    return 0;
}

}  // namespace

int RegisterHandleType(int type, int recordSize, int maxCount, HandleInitCallback initCallback,
                       HandleTerminateCallback terminateCallback, HandleDumpCallback dumpCallback,
                       const char16_t* name) {
    if (type < 0 || type >= kHandleTypeCount) return -1;
    HandleTypeRecord& record = HandleTypeTable[type];
    if (record.registered != 0) return -1;
    // A bad size or count would break the slot arithmetic; refuse it like an unregistrable type.
    if (maxCount <= 0 || maxCount > kHandleMaxCount ||
        recordSize < static_cast<int>(sizeof(HandleHeader))) {
        return -1;
    }
    int checkCounter = record.checkCounter;
    record = HandleTypeRecord{};
    record.checkCounter = checkCounter;
    record.initCallback = initCallback;
    record.terminateCallback = terminateCallback;
    record.dumpCallback = dumpCallback;
    record.recordSize = recordSize;
    record.max = maxCount;
    record.typeBits = type << kHandleTypeShift;
    record.name = name;
    if (name != nullptr) {
        TranscodeString(name, -1, WideEncoding, record.nameUtf16, sizeof(record.nameUtf16),
                        CharEncoding::Utf16Le);
    }
    record.slots = static_cast<HandleHeader**>(AllocateTrackedMemoryZeroed(
        sizeof(HandleHeader*) * static_cast<std::size_t>(maxCount), kSourceFile, __LINE__));
    if (record.slots == nullptr) return -1;
    InitHandleList(&record.listHead, &record.listTail);
    InitTracedLock(&record.lock);
    record.registered = 1;
    return 0;
}

int UnregisterHandleType(int type) {
    HandleTypeRecord* record = RegisteredType(type);
    if (record == nullptr) return -1;
    DeleteAllHandlesOfType(type, nullptr);
    FreeTrackedMemory(record->slots);
    DeleteTracedLock(&record->lock);
    int checkCounter = record->checkCounter;
    *record = HandleTypeRecord{};
    record->checkCounter = checkCounter;
    return 0;
}

HandleValue AllocateHandle(int type, int asyncFlag, HandleValue reuseHandle) {
    HandleTypeRecord* typeRecord = RegisteredType(type);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& t = *typeRecord;
    AcquireTracedLock(&t.lock, kSourceFile, __LINE__);
    if (t.count >= t.max) {
        ReleaseTracedLock(&t.lock);
        WriteLogFormatUtf16(
            u"%sハンドルの数が限界数( %d )に達していて新たなハンドルを作成できません", t.nameUtf16,
            t.max);
        return -1;
    }
    int index = ChooseSlot(t, reuseHandle);
    auto* record = static_cast<HandleHeader*>(
        AllocateTrackedMemoryZeroed(static_cast<std::size_t>(t.recordSize), kSourceFile, __LINE__));
    if (record == nullptr) {
        ReleaseTracedLock(&t.lock);
        WriteLogFormatUtf16(u"%sハンドルのデータを格納するメモリ領域の確保に失敗しました",
                            t.nameUtf16);
        return -1;
    }
    int check;
    if (reuseHandle >= 0) {
        check = (reuseHandle & kHandleCheckMask) >> kHandleCheckShift;
    } else {
        t.checkCounter = t.checkCounter + 1 >= 255 ? 0 : t.checkCounter + 1;
        check = t.checkCounter;
    }
    record->check = check;
    record->recordSize = t.recordSize;
    record->deleteRequested = 0;
    record->completionCallback = nullptr;
    record->completionUserData = 0;
    record->jobIndex = -1;
    if (asyncFlag != 0) record->asyncPending = 1;
    HandleValue handle = (check << kHandleCheckShift) | t.typeBits | index;
    record->handle = handle;
    t.slots[index] = record;
    if (t.count == 0) {
        t.lowestUsed = index;
        t.highestUsed = index;
    } else {
        if (index < t.lowestUsed) t.lowestUsed = index;
        if (index > t.highestUsed) t.highestUsed = index;
    }
    ++t.count;
    InsertHandleListNodeAfter(&t.listHead, &record->listNode, handle, record);
    if (t.initCallback != nullptr) t.initCallback(record);
    ReleaseTracedLock(&t.lock);
    return handle;
}

int DeleteHandle(HandleValue handle) {
    HandleTypeRecord* typeRecord = TypeOfHandleValue(handle);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& type = *typeRecord;
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    int result = DeleteHandleLocked(type, handle);
    ReleaseTracedLock(&type.lock);
    return result;
}

int DeleteAllHandlesOfType(int type, int (*keepTest)(HandleHeader* record)) {
    HandleTypeRecord* typeRecord = RegisteredType(type);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& t = *typeRecord;
    for (;;) {
        AcquireTracedLock(&t.lock, kSourceFile, __LINE__);
        HandleValue victim = -1;
        if (t.count > 0) {
            for (int index = t.lowestUsed; index <= t.highestUsed; ++index) {
                HandleHeader* record = t.slots[index];
                if (record != nullptr && (keepTest == nullptr || keepTest(record) == 0)) {
                    victim = record->handle;
                    break;
                }
            }
        }
        ReleaseTracedLock(&t.lock);
        if (victim < 0) return 0;
        DeleteHandle(victim);
    }
}

int ResizeHandleRecord(HandleValue handle, int newSize) {
    HandleHeader* record = LookupHandleRecord(handle);
    if (record == nullptr) return -1;
    if (record->recordSize == newSize) return 0;
    if (newSize < static_cast<int>(sizeof(HandleHeader))) return -1;
    HandleTypeRecord& type = TypeOf(handle);
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    auto* moved = static_cast<HandleHeader*>(
        ReallocateTrackedMemory(record, static_cast<std::size_t>(newSize), kSourceFile, __LINE__));
    if (moved == nullptr) {
        ReleaseTracedLock(&type.lock);
        return -1;
    }
    moved->recordSize = newSize;
    if (moved != record) {
        // The neighbours still point at the old node.
        moved->listNode.data = moved;
        moved->listNode.previous->next = &moved->listNode;
        moved->listNode.next->previous = &moved->listNode;
        type.slots[handle & kHandleIndexMask] = moved;
    }
    ReleaseTracedLock(&type.lock);
    return 0;
}

int SetHandleLostFlag(HandleValue handle, int* lostFlag) {
    HandleHeader* record = LookupHandleRecord(handle);
    if (record == nullptr) return -1;
    record->lostFlag = lostFlag;
    return 0;
}

int IsHandleLoading(HandleValue handle) {
    HandleTypeRecord* type = TypeOfHandleValue(handle);
    if (type == nullptr) return -1;
    AcquireTracedLock(&type->lock, kSourceFile, __LINE__);
    HandleHeader* record = LookupHandleRecord(handle);
    int result = record == nullptr ? -1 : record->asyncPending != 0 ? 1 : 0;
    ReleaseTracedLock(&type->lock);
    return result;
}

int BeginHandleASyncLoad(HandleValue handle, int jobIndex) {
    HandleTypeRecord* typeRecord = TypeOfHandleValue(handle);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& type = *typeRecord;
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    HandleHeader* record = LookupHandleRecord(handle);
    if (record != nullptr) {
        ++record->asyncPending;
        record->jobIndex = jobIndex;
    }
    ReleaseTracedLock(&type.lock);
    return record != nullptr ? 0 : -1;
}

int SwapHandleRecords(HandleValue first, HandleValue second) {
    HandleTypeRecord* typeRecord = TypeOfHandleValue(first);
    if (typeRecord == nullptr || typeRecord != TypeOfHandleValue(second)) return -1;
    HandleTypeRecord& type = *typeRecord;
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    HandleHeader* a = LookupHandleRecord(first);
    HandleHeader* b = LookupHandleRecord(second);
    if (a == nullptr || b == nullptr || a == b) {
        ReleaseTracedLock(&type.lock);
        return a != nullptr && a == b ? 0 : -1;
    }
    type.slots[first & kHandleIndexMask] = b;
    type.slots[second & kHandleIndexMask] = a;
    std::swap(a->check, b->check);
    std::swap(a->lostFlag, b->lostFlag);
    std::swap(a->completionCallback, b->completionCallback);
    std::swap(a->completionUserData, b->completionUserData);
    a->handle = second;
    b->handle = first;
    a->listNode.value = second;
    b->listNode.value = first;
    ReleaseTracedLock(&type.lock);
    return 0;
}

int FinishHandleASyncLoad(HandleValue handle) {
    HandleTypeRecord* typeRecord = TypeOfHandleValue(handle);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& type = *typeRecord;
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    HandleHeader* record = LookupHandleRecord(handle);
    if (record == nullptr) {
        ReleaseTracedLock(&type.lock);
        return -1;
    }
    if (record->asyncPending > 0) --record->asyncPending;
    if (record->asyncPending == 0) {
        record->jobIndex = -1;
        if (record->deleteRequested != 0) {
            DeleteHandleLocked(type, handle);
        } else if (record->completionCallback != nullptr) {
            record->completionCallback(handle, reinterpret_cast<void*>(record->completionUserData));
        }
    }
    ReleaseTracedLock(&type.lock);
    return 0;
}

int WaitHandleASyncLoad(HandleValue handle) {
    HandleTypeRecord* typeRecord = TypeOfHandleValue(handle);
    if (typeRecord == nullptr) return -1;
    HandleTypeRecord& type = *typeRecord;
    AcquireTracedLock(&type.lock, kSourceFile, __LINE__);
    HandleHeader* record = LookupHandleRecord(handle);
    if (record != nullptr && record->asyncPending != 0) {
        record = WaitLoadsWithoutLock(type, handle, 1);
    }
    ReleaseTracedLock(&type.lock);
    return record != nullptr ? 0 : -1;
}

int InitHandleList(HandleListNode* head, HandleListNode* tail) {
    *head = HandleListNode{-1, nullptr, nullptr, tail};
    *tail = HandleListNode{-1, nullptr, head, nullptr};
    return 0;
}

namespace {

// Links newNode into a list right after node (both list kinds share the link fields' names).
template <typename Node>
void LinkAfter(Node* node, Node* newNode) {
    newNode->previous = node;
    newNode->next = node->next;
    node->next->previous = newNode;
    node->next = newNode;
}

}  // namespace

int InsertHandleListNodeAfter(HandleListNode* node, HandleListNode* newNode, int value,
                              void* data) {
    newNode->value = value;
    newNode->data = data;
    LinkAfter(node, newNode);
    return 0;
}

int UnlinkHandleListNode(HandleListNode* node) {
    if (node->previous != nullptr) node->previous->next = node->next;
    if (node->next != nullptr) node->next->previous = node->previous;
    node->previous = nullptr;
    node->next = nullptr;
    return 0;
}

int InitPointerList(PointerListNode* head, PointerListNode* tail) {
    *head = PointerListNode{nullptr, nullptr, tail};
    *tail = PointerListNode{nullptr, head, nullptr};
    return 0;
}

int InsertPointerListNodeAfter(PointerListNode* node, PointerListNode* newNode, void* data) {
    newNode->data = data;
    LinkAfter(node, newNode);
    return 0;
}

int UnlinkPointerListNode(PointerListNode* node) {
    node->previous->next = node->next;
    node->next->previous = node->previous;
    return 0;
}

}  // namespace ZiDaz
