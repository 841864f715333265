// The handle manager. Every library object the game holds (graph, sound, font, file, ...) is named
// by a HandleValue that packs the object's type, a check byte and a slot index:
//
//   bit 31      0 for a handle (negative values mean "no handle" or an error)
//   bits 26-30  the HandleType (0-31)
//   bits 18-25  the check byte, a copy of the record's check value (refuses stale handles)
//   bits 0-17   the slot index, below the type's maximum count
//
// Each module registers its type with a record size (HandleHeader included), a maximum count and
// callbacks, and continues its own record right behind the HandleHeader.
#pragma once

#include <cstdint>

#include "Main/DxThread.h"

namespace ZiDaz {

using HandleValue = std::int32_t;

inline constexpr int kHandleTypeCount = 32;
inline constexpr int kHandleTypeShift = 26;
inline constexpr int kHandleCheckShift = 18;
inline constexpr std::int32_t kHandleTypeMask = 0x7C000000;
inline constexpr std::int32_t kHandleCheckMask = 0x03FC0000;
inline constexpr std::int32_t kHandleIndexMask = 0x0003FFFF;
inline constexpr int kHandleMaxCount = 0x40000;  // 262,144 slots: all that 18 index bits can name

// The handle types and the maximum counts their modules register them with.
enum HandleType : int {
    DX_HANDLETYPE_GRAPH = 1,
    DX_HANDLETYPE_SOFTIMAGE = 2,
    DX_HANDLETYPE_SOUND = 3,
    DX_HANDLETYPE_SOFTSOUND = 4,
    DX_HANDLETYPE_MUSIC = 5,
    DX_HANDLETYPE_MOVIE = 6,
    DX_HANDLETYPE_GMASK = 7,
    DX_HANDLETYPE_FONT = 8,
    DX_HANDLETYPE_KEYINPUT = 9,  // built from the line-input module's own table, never registered
    DX_HANDLETYPE_LIGHT = 11,    // built from the light table, never registered
    DX_HANDLETYPE_SHADER = 12,
    DX_HANDLETYPE_MODEL_BASE = 13,
    DX_HANDLETYPE_MODEL = 14,
    DX_HANDLETYPE_VERTEX_BUFFER = 15,
    DX_HANDLETYPE_INDEX_BUFFER = 16,
    DX_HANDLETYPE_FILE = 17,
    DX_HANDLETYPE_SHADOWMAP = 18,
    DX_HANDLETYPE_SHADER_CONSTANT_BUFFER = 19,
    DX_HANDLETYPE_LIVE2D_CUBISM4_MODEL = 20,
};

inline constexpr int kMaxGraphHandles = 262144;
inline constexpr int kMaxSoftImageHandles = 8192;
inline constexpr int kMaxSoundHandles = 32768;
inline constexpr int kMaxSoftSoundHandles = 8192;
inline constexpr int kMaxMusicHandles = 256;
inline constexpr int kMaxMovieHandles = 100;
inline constexpr int kMaxMaskHandles = 32768;
inline constexpr int kMaxFontHandles = 256;
inline constexpr int kMaxKeyInputHandles = 256;
inline constexpr int kMaxLightHandles = 4096;
inline constexpr int kMaxShaderHandles = 4096;
inline constexpr int kMaxModelBaseHandles = 32768;
inline constexpr int kMaxModelHandles = 32768;
inline constexpr int kMaxVertexBufferHandles = 16384;
inline constexpr int kMaxIndexBufferHandles = 16384;
inline constexpr int kMaxFileHandles = 32768;
inline constexpr int kMaxShadowMapHandles = 8192;
inline constexpr int kMaxShaderConstantBufferHandles = 32768;
inline constexpr int kMaxLive2DModelHandles = 32768;

// A node of a doubly linked list with a head and a tail sentinel (value -1, data null).
struct HandleListNode {
    int value;
    void* data;
    HandleListNode* previous;
    HandleListNode* next;
};

struct PointerListNode {
    void* data;
    PointerListNode* previous;
    PointerListNode* next;
};

struct HandleHeader;

using HandleInitCallback = void (*)(HandleHeader* record);
// Runs before a record is freed; returning 1 keeps the record (and the handle stays valid).
using HandleTerminateCallback = int (*)(HandleHeader* record);
using HandleDumpCallback = void (*)(HandleHeader* record);
using HandleCompletionCallback = void (*)(HandleValue handle, void* userData);

// The front of every handle record; the owning module's fields follow immediately.
struct HandleHeader {
    int check;            // 0-254; its low 8 bits are the handle's check byte
    HandleValue handle;   // the record's own handle
    int recordSize;       // bytes as allocated
    int* lostFlag;        // receives -1 when the record is freed, may be null
    int asyncPending;     // asynchronous load jobs not yet finished for this record
    int asyncResult;      // written by the owning module before FinishHandleASyncLoad
    int jobIndex;         // queue slot of the pending job, -1 when none
    int deleteRequested;  // delete as soon as the last pending load finishes
    HandleCompletionCallback completionCallback;
    std::intptr_t completionUserData;
    HandleListNode listNode;  // value = handle, data = record
};

struct HandleTypeRecord {
    int registered;
    HandleHeader** slots;  // max record pointers, null = free slot
    HandleListNode listHead;
    HandleListNode listTail;
    int typeBits;  // type << 26
    int recordSize;
    int max;
    int count;
    int lowestUsed;
    int highestUsed;
    int checkCounter;  // last check value handed out; survives unregistration
    TracedLock lock;
    HandleInitCallback initCallback;
    HandleTerminateCallback terminateCallback;
    HandleDumpCallback dumpCallback;
    const char16_t* name;
    char16_t nameUtf16[64];  // 128 bytes, UTF-16LE, for "%s" in messages
};

// Indexed by type; modules read it directly to validate their own handles without a call.
extern HandleTypeRecord HandleTypeTable[kHandleTypeCount];

// The record of a valid handle, or null. Takes no lock: used on the thread that owns the object.
inline HandleHeader* LookupHandleRecord(HandleValue handle) {
    if (handle < 0) return nullptr;
    const HandleTypeRecord& type = HandleTypeTable[(handle & kHandleTypeMask) >> kHandleTypeShift];
    if (type.registered == 0 || (handle & kHandleTypeMask) != type.typeBits) return nullptr;
    int index = handle & kHandleIndexMask;
    if (index >= type.max) return nullptr;
    HandleHeader* record = type.slots[index];
    if (record == nullptr || (record->check << kHandleCheckShift) != (handle & kHandleCheckMask)) {
        return nullptr;
    }
    return record;
}

int RegisterHandleType(int type, int recordSize, int maxCount, HandleInitCallback initCallback,
                       HandleTerminateCallback terminateCallback, HandleDumpCallback dumpCallback,
                       const char16_t* name);
int UnregisterHandleType(int type);
// The new handle, or -1 (type not registered, type full, no memory). With the asynchronous flag the
// record starts with one pending load. A handle to reuse keeps its check byte (and its slot when
// free).
HandleValue AllocateHandle(int type, int asyncFlag, HandleValue reuseHandle);
int DeleteHandle(HandleValue handle);
// Deletes every record of the type for which the keep-test is null or returns 0.
int DeleteAllHandlesOfType(int type, int (*keepTest)(HandleHeader* record));
int ResizeHandleRecord(HandleValue handle, int newSize);
int SetHandleLostFlag(HandleValue handle, int* lostFlag);
int IsHandleLoading(HandleValue handle);
int BeginHandleASyncLoad(HandleValue handle, int jobIndex);
int FinishHandleASyncLoad(HandleValue handle);
// Exchanges the records behind two handles of one type: afterwards each handle value names the
// other's record. 0, or -1 when either handle is not valid.
int SwapHandleRecords(HandleValue first, HandleValue second);
int WaitHandleASyncLoad(HandleValue handle);

int InitHandleList(HandleListNode* head, HandleListNode* tail);
int InsertHandleListNodeAfter(HandleListNode* node, HandleListNode* newNode, int value, void* data);
int UnlinkHandleListNode(HandleListNode* node);
int InitPointerList(PointerListNode* head, PointerListNode* tail);
int InsertPointerListNodeAfter(PointerListNode* node, PointerListNode* newNode, void* data);
int UnlinkPointerListNode(PointerListNode* node);

}  // namespace ZiDaz
