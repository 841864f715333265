// The library's own Ogg Theora movie decoder (declared in DxUseCLibOgg.h): the whole-file index,
// the decode thread with its ring of frame slots, seeking and looping, the YUV to RGB conversion
// and the Y and UV graphs.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "Main/DxGraphics.h"
#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/DxUseCLibOgg.h"
#include "Main/Windows/DxClock.h"
#include "Main/Windows/DxWinAPI.h"

namespace ZiDaz {

namespace {

constexpr int kReadBlockBytes = 4096;
constexpr int kTableGrowth = 1000;
// libtheora's decoder control that sets the granule position of the frame decoded last.
constexpr int kSetGranulePositionRequest = 5;
// No sound stream names a frame ahead of its packets; a damaged keyframe shift may claim an
// interval of 2^31 frames, so the tolerance is also limited to this many frames.
constexpr std::int64_t kMaxFramesAhead = 65536;

// The Y and UV graphs are blank graphs of the current creation settings made ordinary 32-bit
// graphs of one or two 8-bit channels; the planes go in as base images of that channel format.
HandleValue CreatePlaneGraphInGraphModule(int width, int height, int channelCount,
                                          void* asyncContext) {
    GraphCreateParams params;
    InitGraphCreateParamsFromSettings(&params);
    params.ColorBits = 32;
    params.Alpha = 0;
    params.Drawable = 0;
    params.ChannelCount = channelCount;
    params.BitsPerChannel = 8;
    return CreateBlankGraph(&params, width, height, 0, 0, 0, asyncContext != nullptr ? 1 : 0,
                            asyncContext);
}

int TransferPlaneInGraphModule(HandleValue graph, const BASEIMAGE* plane, void* asyncContext) {
    RECT whole{0, 0, plane->Width, plane->Height};
    return TransferBaseImageRectToGraph(&whole, 0, 0, graph, plane, nullptr, 0, 0, 0, asyncContext);
}

const TheoraGraphOps kGraphModuleOps = {&CreatePlaneGraphInGraphModule,
                                        &TransferPlaneInGraphModule};

const TheoraGraphOps* graphOps = &kGraphModuleOps;

void Lock(TheoraMovieDecoder* d) {
    DX_LOCK(&d->lock);
}

void Unlock(TheoraMovieDecoder* d) {
    DX_UNLOCK(&d->lock);
}

// ---- Reading -----------------------------------------------------------------------------------

// 1 when more bytes came, 0 at the end of the data.
int ReadBlock(TheoraMovieDecoder* d) {
    char* buffer = ogg_sync_buffer(&d->sync, kReadBlockBytes);
    if (buffer == nullptr) return 0;
    const std::size_t got = d->ops.Read(buffer, 1, kReadBlockBytes, d->stream);
    if (got == 0 || got > static_cast<std::size_t>(kReadBlockBytes)) return 0;
    ogg_sync_wrote(&d->sync, static_cast<long>(got));
    return 1;
}

// The next page into d->page: 1, or 0 at the end of the data.
int NextPage(TheoraMovieDecoder* d) {
    for (;;) {
        const int result = ogg_sync_pageout(&d->sync, &d->page);
        if (result == 1) return 1;
        if (result < 0) continue;  // bytes skipped to the next page
        if (ReadBlock(d) == 0) return 0;
    }
}

void RestartReading(TheoraMovieDecoder* d, std::int64_t offset) {
    ogg_sync_reset(&d->sync);
    if (d->streamStarted) ogg_stream_reset(&d->theoraStream);
    d->ops.Seek(d->stream, offset, SEEK_SET);
}

// The next data packet of the Theora stream into d->packet (header packets skipped): 1, or 0 at
// the end of the data.
int NextDataPacket(TheoraMovieDecoder* d) {
    for (;;) {
        const int result = ogg_stream_packetout(&d->theoraStream, &d->packet);
        if (result == 1) {
            if (theora_packet_iskeyframe(&d->packet) < 0) continue;
            return 1;
        }
        if (result < 0) continue;  // a hole in the data: go on with the next packet
        if (NextPage(d) == 0) return 0;
        ogg_stream_pagein(&d->theoraStream, &d->page);
    }
}

// ---- Open --------------------------------------------------------------------------------------

int ReadTheoraHeaders(TheoraMovieDecoder* d) {
    // The beginning-of-stream pages: the first whose first packet is a Theora identification
    // header becomes the Theora stream.
    for (;;) {
        if (NextPage(d) == 0) return -1;
        if (ogg_page_bos(&d->page) != 0) {
            if (d->streamStarted) continue;
            ogg_stream_state scratch;
            ogg_stream_init(&scratch, ogg_page_serialno(&d->page));
            ogg_stream_pagein(&scratch, &d->page);
            ogg_packet first;
            if (ogg_stream_packetout(&scratch, &first) == 1 &&
                theora_decode_header(&d->info, &d->comment, &first) == 0) {
                d->theoraStream = scratch;
                d->streamStarted = 1;
                d->serialNumber = ogg_page_serialno(&d->page);
                d->headerCount = 1;
            } else {
                ogg_stream_clear(&scratch);
            }
            continue;
        }
        if (d->streamStarted) ogg_stream_pagein(&d->theoraStream, &d->page);
        break;
    }
    if (!d->streamStarted) {
        // Not a Theora file: read it to its end, as the header search would.
        while (NextPage(d) != 0) {
        }
        return -1;
    }
    while (d->headerCount < 3) {
        const int result = ogg_stream_packetout(&d->theoraStream, &d->packet);
        if (result < 0) return -1;
        if (result == 0) {
            if (NextPage(d) == 0) return -1;
            ogg_stream_pagein(&d->theoraStream, &d->page);
            continue;
        }
        if (theora_decode_header(&d->info, &d->comment, &d->packet) != 0) return -1;
        ++d->headerCount;
    }
    return 0;
}

template <class T>
bool GrowTable(T** table, std::int64_t* capacity, std::int64_t needed) {
    if (needed < *capacity) return true;
    const std::int64_t next = *capacity + kTableGrowth;
    if (next > std::numeric_limits<std::int32_t>::max()) return false;
    void* grown = ReallocateTrackedMemory(*table, static_cast<std::size_t>(next) * sizeof(T),
                                          __FILE__, __LINE__);
    if (grown == nullptr) return false;
    *table = static_cast<T*>(grown);
    *capacity = next;
    return true;
}

bool GrowTable32(TheoraPageEntry** table, std::int32_t* capacity, std::int64_t needed) {
    std::int64_t c = *capacity;
    const bool ok = GrowTable(table, &c, needed);
    *capacity = static_cast<std::int32_t>(c);
    return ok;
}

bool GrowTable32(std::int32_t** table, std::int32_t* capacity, std::int64_t needed) {
    std::int64_t c = *capacity;
    const bool ok = GrowTable(table, &c, needed);
    *capacity = static_cast<std::int32_t>(c);
    return ok;
}

enum IndexResult {
    IndexDone = 0,
    IndexNoMemoryPages,
    IndexNoMemoryKeys,
    IndexNoMemoryFrames,
    IndexDamaged
};

IndexResult IndexTheoraStream(TheoraMovieDecoder* d) {
    std::int64_t nextOffset = 0;
    std::int64_t lastPageStart = 0;
    bool pagePending = false;
    std::int64_t frameNumber = 0;
    const std::int64_t interval =
        std::clamp<std::int64_t>(d->info.keyframe_frequency_force, 1, kMaxFramesAhead);
    for (;;) {
        const int result = ogg_stream_packetout(&d->theoraStream, &d->packet);
        if (result < 0) continue;
        if (result == 0) {
            if (NextPage(d) == 0) break;
            lastPageStart = nextOffset;
            nextOffset += d->page.header_len + d->page.body_len;
            pagePending = true;
            ogg_stream_pagein(&d->theoraStream, &d->page);
            continue;
        }
        const int key = theora_packet_iskeyframe(&d->packet);
        if (key < 0) continue;
        if (d->packet.granulepos >= 0) {
            // The granule time is the end of the frame's presentation: the frame the packet
            // yields is the one that ends there.
            const double ends =
                theora_granule_time(&d->state, d->packet.granulepos) / d->frameDuration;
            if (!std::isfinite(ends) || ends > static_cast<double>(d->packetCount + interval + 1))
                return IndexDamaged;
            frameNumber = std::max<std::int64_t>(std::llround(ends) - 1, 0);
        }
        if (frameNumber > d->packetCount + interval) return IndexDamaged;
        if (pagePending) {
            if (!GrowTable32(&d->pageTable, &d->pageCapacity, d->pageCount))
                return IndexNoMemoryPages;
            d->pageTable[d->pageCount] = TheoraPageEntry{
                static_cast<std::int32_t>(std::min<std::int64_t>(lastPageStart, INT32_MAX)),
                static_cast<std::int32_t>(d->packetCount), 0, 0};
            ++d->pageCount;
            pagePending = false;
        }
        if (!GrowTable(&d->keyframeFlags, &d->keyframeCapacity, d->packetCount))
            return IndexNoMemoryKeys;
        d->keyframeFlags[d->packetCount] = key == 1 ? 1 : 0;
        while (frameNumber >= d->frameCount) {
            if (!GrowTable32(&d->frameTable, &d->frameCapacity, d->frameCount))
                return IndexNoMemoryFrames;
            d->frameTable[d->frameCount] = static_cast<std::int32_t>(d->packetCount);
            ++d->frameCount;
        }
        ++d->packetCount;
        if (d->pageCount > 0) ++d->pageTable[d->pageCount - 1].packetCount;
        ++frameNumber;
    }
    if (d->pageCount > 0) d->pageTable[0].offset = 0;
    return IndexDone;
}

// The Direct3D 9 surface hook: never usable in this program, so frames go by RGB image or graphs.
void CreateTheoraFrameSurface(TheoraMovieDecoder* d) {
    d->surface = nullptr;
    d->surfaceLost = 0;
    d->surfaceFormat = 0;
    d->surfaceUsable = 0;
}

// ---- The decode thread ----------------------------------------------------------------------

// Takes the next `count` data packets, whose indices follow the decode position, and gives them
// to the decoder from the second to last keyframe among them on. 1 when the last packet was a
// keyframe, 0 when not, -1 at the end of the data.
int DecodeTheoraPackets(TheoraMovieDecoder* d, int count) {
    const std::int64_t first = static_cast<std::int64_t>(d->decodePosition) + 1;
    const std::int64_t last = std::min<std::int64_t>(first + count, d->packetCount) - 1;
    std::int64_t lastKey = -1, secondKey = -1;
    for (std::int64_t i = std::max<std::int64_t>(first, 0); i <= last; ++i) {
        if (d->keyframeFlags[i]) {
            secondKey = lastKey;
            lastKey = i;
        }
    }
    for (int n = 0; n < count; ++n) {
        if (NextDataPacket(d) == 0) return -1;
        const std::int64_t index = static_cast<std::int64_t>(d->decodePosition) + 1;
        if (secondKey < 0 || index >= secondKey) theora_decode_packetin(&d->state, &d->packet);
        if (d->packet.granulepos >= 0) {
            ogg_int64_t granule = d->packet.granulepos;
            theora_control(&d->state, kSetGranulePositionRequest, &granule, sizeof(granule));
        }
        d->decodePosition = static_cast<std::int32_t>(index);
    }
    return last >= 0 && last < d->packetCount && d->keyframeFlags[last] ? 1 : 0;
}

// Copies the decoder's latest frame into a slot. false when a plane could not be allocated (the
// slot then stays empty).
bool FillSlot(TheoraMovieDecoder* d, TheoraFrameSlot* slot) {
    yuv_buffer yuv;
    std::memset(&yuv, 0, sizeof(yuv));
    if (theora_decode_YUVout(&d->state, &yuv) != 0 || yuv.y == nullptr || yuv.u == nullptr ||
        yuv.v == nullptr || yuv.y_width <= 0 || yuv.y_height <= 0 || yuv.uv_width <= 0 ||
        yuv.uv_height <= 0)
        return false;
    // libtheora may hand its planes out bottom-up with a negative stride: rows are copied one by
    // one and stored top-down.
    const int yPitch = std::abs(yuv.y_stride);
    const int uvPitch = std::abs(yuv.uv_stride) * 2;
    if (yPitch < yuv.y_width || uvPitch < yuv.uv_width * 2) return false;
    if (slot->yPlane != nullptr &&
        (slot->yPitch != yPitch || slot->yWidth != yuv.y_width || slot->yHeight != yuv.y_height)) {
        FreeTrackedMemory(slot->yPlane);
        slot->yPlane = nullptr;
    }
    if (slot->uvPlane != nullptr && (slot->uvPitch != uvPitch || slot->uvWidth != yuv.uv_width ||
                                     slot->uvHeight != yuv.uv_height)) {
        FreeTrackedMemory(slot->uvPlane);
        slot->uvPlane = nullptr;
    }
    slot->yWidth = yuv.y_width;
    slot->yHeight = yuv.y_height;
    slot->yPitch = yPitch;
    slot->uvWidth = yuv.uv_width;
    slot->uvHeight = yuv.uv_height;
    slot->uvPitch = uvPitch;
    if (slot->yPlane == nullptr) {
        slot->yPlane = static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(
            static_cast<std::size_t>(yPitch) * yuv.y_height, __FILE__, __LINE__));
    }
    if (slot->uvPlane == nullptr) {
        slot->uvPlane = static_cast<std::uint8_t*>(AllocateTrackedMemoryZeroed(
            static_cast<std::size_t>(uvPitch) * yuv.uv_height, __FILE__, __LINE__));
    }
    if (slot->yPlane == nullptr || slot->uvPlane == nullptr) return false;
    for (int row = 0; row < yuv.y_height; ++row) {
        std::memcpy(slot->yPlane + static_cast<std::size_t>(row) * yPitch,
                    yuv.y + static_cast<std::ptrdiff_t>(row) * yuv.y_stride, yuv.y_width);
    }
    for (int row = 0; row < yuv.uv_height; ++row) {
        const unsigned char* u = yuv.u + static_cast<std::ptrdiff_t>(row) * yuv.uv_stride;
        const unsigned char* v = yuv.v + static_cast<std::ptrdiff_t>(row) * yuv.uv_stride;
        std::uint8_t* out = slot->uvPlane + static_cast<std::size_t>(row) * uvPitch;
        for (int x = 0; x < yuv.uv_width; ++x) {
            out[2 * x] = u[x];
            out[2 * x + 1] = v[x];
        }
    }
    return true;
}

int FindSlot(TheoraMovieDecoder* d, std::int32_t packet) {
    for (int i = 0; i < d->slotCount; ++i)
        if (d->slots[i].filled && d->slots[i].packet == packet) return i;
    return -1;
}

// One step of the decode thread: 2 when it is to end, else 0 (or -1, which is simply repeated).
int StepTheoraDecodeThread(TheoraMovieDecoder* d) {
    Lock(d);
    if (d->exitRequest) {
        d->threadState = TheoraDecodeEnded;
        Unlock(d);
        return 2;
    }
    if (d->holdRequest) {
        d->threadState = TheoraDecodeHolding;
        Unlock(d);
        SleepMilliseconds(1);
        return 0;
    }
    if (d->seekRequest) {
        d->threadState = TheoraDecodeSeeking;
        const std::int32_t target = d->seekTarget;
        Unlock(d);
        bool found = false;
        for (int i = 0; i < d->pageCount; ++i) {
            if (static_cast<std::int64_t>(d->pageTable[i].firstPacket) +
                    d->pageTable[i].packetCount >
                target) {
                found = true;
                break;
            }
        }
        // The reading restarts at the first page; the keyframe rule decodes only what the target
        // frame needs.
        int result = -1;
        if (found && target >= 0) {
            RestartReading(d, d->pageTable[0].offset);
            d->decodePosition = d->pageTable[0].firstPacket - 1;
            result = DecodeTheoraPackets(d, target - d->pageTable[0].firstPacket + 1);
        }
        Lock(d);
        for (int i = 0; i < d->slotCount; ++i) d->slots[i].filled = 0;
        d->decodePosition = target;
        d->seekRequest = 0;
        // A target that cannot be reached ends the stream, so that no caller waits for it.
        d->endOfStream = result < 0 ? 1 : 0;
        Unlock(d);
        return 0;
    }
    if (!d->ready) {
        const bool idle = d->threadState == TheoraDecodeIdle;
        Unlock(d);
        SleepMilliseconds(idle ? 1 : 0);
        return 0;
    }
    const std::int64_t target = d->targetPacket;
    const std::int64_t windowEnd = target + d->slotCount;
    const std::int64_t wrapEnd = windowEnd - d->packetCount;  // > 0 while a loop is coming
    if (!d->endOfStream) {
        for (int i = 0; i < d->slotCount; ++i) {
            TheoraFrameSlot& s = d->slots[i];
            if (!s.filled) continue;
            if (s.packet < target) {
                if (!(wrapEnd >= 0 && s.packet <= wrapEnd)) s.filled = 0;
            } else if (s.packet > d->decodePosition && s.packet > windowEnd) {
                s.filled = 0;
            }
        }
    }
    int empty = -1;
    for (int i = 0; i < d->slotCount; ++i)
        if (!d->slots[i].filled) {
            empty = i;
            break;
        }
    if (empty < 0) {
        if (FindSlot(d, static_cast<std::int32_t>(target)) < 0) {
            for (int i = 0; i < d->slotCount; ++i) d->slots[i].filled = 0;  // a jump
        } else {
            d->threadState = TheoraDecodeIdle;
        }
    } else {
        d->threadState = TheoraDecodeDecoding;
        const bool targetHeld = FindSlot(d, static_cast<std::int32_t>(target)) >= 0;
        const bool positionHeld = FindSlot(d, d->decodePosition) >= 0;
        // A frame outside the read-ahead window would only be released again: after a jump
        // back, the decoder goes on towards the loop instead of keeping its old frame.
        const std::int64_t position = d->decodePosition;
        const bool positionInWindow =
            (position >= target && position <= windowEnd) || (wrapEnd >= 0 && position <= wrapEnd);
        if (positionHeld || !positionInWindow || target > d->decodePosition) {
            const std::int64_t steps =
                (!targetHeld && target > d->decodePosition) ? target - d->decodePosition : 1;
            if (d->decodePosition + steps < d->packetCount) {
                Unlock(d);
                const int result = DecodeTheoraPackets(d, static_cast<int>(steps));
                Lock(d);
                if (result < 0) {
                    d->endOfStream = 1;
                    Unlock(d);
                    SleepMilliseconds(1);
                    return 0;
                }
            } else {
                // Past the end: the movie loops. The first packets are decoded afresh.
                Unlock(d);
                const std::int64_t excess = d->decodePosition + steps - d->packetCount;
                RestartReading(d, d->pageTable[0].offset);
                d->decodePosition = -1;
                const int result = DecodeTheoraPackets(d, static_cast<int>(excess + 1));
                Lock(d);
                if (result < 0) {
                    d->endOfStream = 1;
                    Unlock(d);
                    SleepMilliseconds(1);
                    return 0;
                }
            }
        }
        empty = -1;
        for (int i = 0; i < d->slotCount; ++i)
            if (!d->slots[i].filled) {
                empty = i;
                break;
            }
        if (empty >= 0 && d->decodePosition >= 0) {
            Unlock(d);
            const bool filled = FillSlot(d, &d->slots[empty]);
            Lock(d);
            if (filled) {
                d->slots[empty].filled = 1;
                d->slots[empty].packet = d->decodePosition;
            } else {
                // Out of memory or no picture: the slot stays empty and the next step tries
                // again after a pause.
                Unlock(d);
                SleepMilliseconds(1);
                return 0;
            }
        }
    }
    const bool idle = d->threadState == TheoraDecodeIdle;
    Unlock(d);
    SleepMilliseconds(idle ? 1 : 0);
    return 0;
}

void TheoraDecodeThreadMain(WorkerThread*, void* parameter) {
    auto* d = static_cast<TheoraMovieDecoder*>(parameter);
    while (StepTheoraDecodeThread(d) != 2) {
    }
}

void FreeDecoder(TheoraMovieDecoder* d) {
    if (WorkerThreadExists(&d->thread)) {
        Lock(d);
        d->exitRequest = 1;
        Unlock(d);
        for (;;) {
            Lock(d);
            const bool ended = d->threadState == TheoraDecodeEnded;
            Unlock(d);
            if (ended) break;
            SleepMilliseconds(1);
        }
        // The thread may still be on its way out of the lock: let it leave before the record goes.
        EnsureSystemApiTable();
        SystemApi.WaitForSingleObject(d->thread.handle, INFINITE);
        CloseWorkerThread(&d->thread);
    }
    if (d->slots != nullptr) {
        for (int i = 0; i < d->slotCount; ++i) {
            FreeTrackedMemory(d->slots[i].yPlane);
            FreeTrackedMemory(d->slots[i].uvPlane);
        }
        FreeTrackedMemory(d->slots);
    }
    d->surface = nullptr;
    FreeTrackedMemory(d->pageTable);
    FreeTrackedMemory(d->frameTable);
    FreeTrackedMemory(d->keyframeFlags);
    DisposeBaseImage(&d->rgbImage);
    if (d->yGraph >= 0) DeleteHandle(d->yGraph);
    if (d->uvGraph >= 0) DeleteHandle(d->uvGraph);
    if (d->streamStarted) ogg_stream_clear(&d->theoraStream);
    if (d->decoderStarted) theora_clear(&d->state);
    theora_comment_clear(&d->comment);
    theora_info_clear(&d->info);
    ogg_sync_clear(&d->sync);
    DeleteTracedLock(&d->lock);
    FreeTrackedMemory(d);
}

TheoraMovieDecoder* FailOpen(TheoraMovieDecoder* d, const char16_t* message, bool locked) {
    if (message != nullptr) WriteLogTextUtf16(message);
    if (locked) Unlock(d);
    FreeDecoder(d);
    return nullptr;
}

// ---- Conversion --------------------------------------------------------------------------------

inline std::uint8_t Clamp(int value) {
    return BaseImageModuleState.ByteClampTable[value + 512];
}

inline std::uint8_t ClampFloat(float value) {
    const int v = static_cast<int>(value);
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

}  // namespace

int ConvertYuvPlanesToXrgb(const std::uint8_t* yPlane, int yWidth, int yHeight, int yPitch,
                           const std::uint8_t* uvPlane, int uvWidth, int uvHeight, int uvPitch,
                           BASEIMAGE* dest) {
    if (yPlane == nullptr || uvPlane == nullptr || dest == nullptr || dest->Pixels == nullptr)
        return -1;
    const int width = std::min(yWidth, dest->Width);
    const int height = std::min(yHeight, dest->Height);
    if (width <= 0 || height <= 0 || uvWidth <= 0 || uvHeight <= 0) return -1;
    auto* out = static_cast<std::uint8_t*>(dest->Pixels);
    if (uvWidth * 2 == yWidth && uvHeight * 2 == yHeight) {
        const auto& tables = BaseImageModuleState.YuvCoefficientTables;
        const std::int32_t* yt = tables[kYuvLuma];
        const std::int32_t* rv = tables[kYuvVToRed];
        const std::int32_t* gu = tables[kYuvUToGreen];
        const std::int32_t* gv = tables[kYuvVToGreen];
        const std::int32_t* bu = tables[kYuvUToBlue];
        for (int y = 0; y < height; y += 2) {
            const bool second = y + 1 < height;
            const std::uint8_t* y0 = yPlane + static_cast<std::ptrdiff_t>(y) * yPitch;
            const std::uint8_t* y1 = y0 + yPitch;
            const std::uint8_t* uv = uvPlane + static_cast<std::ptrdiff_t>(y / 2) * uvPitch;
            std::uint8_t* o0 = out + static_cast<std::ptrdiff_t>(y) * dest->Pitch;
            std::uint8_t* o1 = o0 + dest->Pitch;
            for (int x = 0; x < width; x += 2) {
                const int u = uv[x], v = uv[x + 1];
                const int r = rv[v], g = gu[u] + gv[v], b = bu[u];
                const int pixels = x + 1 < width ? 2 : 1;
                for (int i = 0; i < pixels; ++i) {
                    const int l0 = yt[y0[x + i]];
                    std::uint8_t* p = o0 + (x + i) * 4;
                    p[0] = Clamp((l0 + b) >> 14);
                    p[1] = Clamp((l0 + g) >> 14);
                    p[2] = Clamp((l0 + r) >> 14);
                    p[3] = 255;
                    if (second) {
                        const int l1 = yt[y1[x + i]];
                        std::uint8_t* q = o1 + (x + i) * 4;
                        q[0] = Clamp((l1 + b) >> 14);
                        q[1] = Clamp((l1 + g) >> 14);
                        q[2] = Clamp((l1 + r) >> 14);
                        q[3] = 255;
                    }
                }
            }
        }
        return 0;
    }
    // Other layouts: each pixel takes the chroma sample that covers it.
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = yPlane + static_cast<std::ptrdiff_t>(y) * yPitch;
        const int cy = static_cast<int>(static_cast<std::int64_t>(y) * uvHeight / yHeight);
        const std::uint8_t* uv = uvPlane + static_cast<std::ptrdiff_t>(cy) * uvPitch;
        std::uint8_t* o = out + static_cast<std::ptrdiff_t>(y) * dest->Pitch;
        for (int x = 0; x < width; ++x) {
            const int cx = static_cast<int>(static_cast<std::int64_t>(x) * uvWidth / yWidth);
            const float u = static_cast<float>(uv[2 * cx] - 128);
            const float v = static_cast<float>(uv[2 * cx + 1] - 128);
            const float l = static_cast<float>(row[x] - 16) * 1.164f;
            o[x * 4 + 0] = ClampFloat(l + 2.018f * u);
            o[x * 4 + 1] = ClampFloat(l - 0.391f * u - 0.813f * v);
            o[x * 4 + 2] = ClampFloat(l + 1.596f * v);
            o[x * 4 + 3] = 255;
        }
    }
    return 0;
}

void SetTheoraGraphOps(const TheoraGraphOps* ops) {
    graphOps = ops != nullptr ? ops : &kGraphModuleOps;
}

TheoraMovieDecoder* OpenTheoraDecoder(const StreamReaderOps* ops, void* stream, int slotCount,
                                      int noYuvGraphs, void* asyncContext) {
    if (ops == nullptr || ops->Read == nullptr || ops->Seek == nullptr || slotCount <= 0)
        return nullptr;
    char magic[4] = {};
    if (ops->Read(magic, 1, 4, stream) != 4 || std::memcmp(magic, "OggS", 4) != 0) return nullptr;
    ops->Seek(stream, 0, SEEK_SET);

    auto* d = static_cast<TheoraMovieDecoder*>(
        AllocateTrackedMemoryZeroed(sizeof(TheoraMovieDecoder), __FILE__, __LINE__));
    if (d == nullptr) {
        WriteLogTextUtf16(u"Theora ムービーデコード処理用のメモリ確保に失敗しました\n");
        return nullptr;
    }
    InitTracedLock(&d->lock);
    d->currentFrame = -1;
    d->targetPacket = -1;
    d->yGraph = -1;
    d->uvGraph = -1;
    d->decodePosition = -1;
    d->slotCount = slotCount;
    d->noYuvGraphs = noYuvGraphs;
    d->asyncContext = asyncContext;
    d->ops = *ops;
    d->stream = stream;
    ogg_sync_init(&d->sync);
    theora_info_init(&d->info);
    theora_comment_init(&d->comment);

    if (ReadTheoraHeaders(d) != 0) return FailOpen(d, nullptr, false);
    // A frame rate of zero has no frame duration, and a frame the RGB image cannot hold is refused
    // before the decoder allocates its own frames.
    if (d->info.fps_numerator == 0 || d->info.fps_denominator == 0 ||
        static_cast<std::int64_t>(d->info.width) * d->info.height * 4 > kMaxBaseImageBytes)
        return FailOpen(d, nullptr, false);

    Lock(d);
    if (theora_decode_init(&d->state, &d->info) != 0) return FailOpen(d, nullptr, true);
    d->decoderStarted = 1;
    d->frameDuration = 1.0 / (static_cast<double>(d->info.fps_numerator) /
                              static_cast<double>(d->info.fps_denominator));
    RestartReading(d, 0);

    d->pageTable = static_cast<TheoraPageEntry*>(
        AllocateTrackedMemory(sizeof(TheoraPageEntry) * kTableGrowth, __FILE__, __LINE__));
    if (d->pageTable == nullptr)
        return FailOpen(d, u"Theora ページ情報格納用メモリの確保に失敗しました\n", true);
    d->pageCapacity = kTableGrowth;
    d->keyframeFlags =
        static_cast<std::uint8_t*>(AllocateTrackedMemory(kTableGrowth, __FILE__, __LINE__));
    if (d->keyframeFlags == nullptr)
        return FailOpen(d, u"Theora キーフレーム情報格納用メモリの確保に失敗しました\n", true);
    d->keyframeCapacity = kTableGrowth;
    d->frameTable = static_cast<std::int32_t*>(
        AllocateTrackedMemory(sizeof(std::int32_t) * kTableGrowth, __FILE__, __LINE__));
    if (d->frameTable == nullptr)
        return FailOpen(
            d, u"Theora タイムフレームとデータフレーム対応情報格納用メモリの確保に失敗しました\n",
            true);
    d->frameCapacity = kTableGrowth;

    switch (IndexTheoraStream(d)) {
        case IndexDone:
            break;
        case IndexNoMemoryPages:
            return FailOpen(d, u"Theora ページ情報格納用メモリの確保に失敗しました\n", true);
        case IndexNoMemoryKeys:
            return FailOpen(d, u"Theora キーフレーム情報格納用メモリの確保に失敗しました\n", true);
        case IndexNoMemoryFrames:
            return FailOpen(
                d,
                u"Theora タイムフレームとデータフレーム対応情報格納用メモリの確保に失敗しました\n",
                true);
        case IndexDamaged:
            return FailOpen(d, nullptr, true);
    }
    // A stream without frames has nothing to show and nothing to loop over.
    if (d->frameCount <= 0 || d->packetCount <= 0 || d->pageCount <= 0)
        return FailOpen(d, nullptr, true);
    Unlock(d);

    CreateTheoraFrameSurface(d);

    Lock(d);
    if (NewBaseImageXrgb8(static_cast<int>(d->info.width), static_cast<int>(d->info.height),
                          &d->rgbImage) != 0) {
        return FailOpen(
            d, u"Theora ムービーデコードフレームストック用画像バッファの確保に失敗しました\n",
            true);
    }
    d->yGraph = -1;
    d->uvGraph = -1;
    d->slots = static_cast<TheoraFrameSlot*>(AllocateTrackedMemoryZeroed(
        sizeof(TheoraFrameSlot) * static_cast<std::size_t>(slotCount), __FILE__, __LINE__));
    if (d->slots == nullptr)
        return FailOpen(d, u"Theora ムービーデコードフレームストック用のメモリ確保に失敗しました\n",
                        true);

    d->holdRequest = 1;
    d->threadState = TheoraDecodeIdle;
    if (StartWorkerThread(&d->thread, &TheoraDecodeThreadMain, d) != 0) {
        d->thread.handle = nullptr;
        return FailOpen(d, u"Theora ムービーデコード用スレッドの作成に失敗しました\n", true);
    }
    while (ResumeWorkerThread(&d->thread) == 0) SleepMilliseconds(0);
    Unlock(d);

    SeekTheoraFrame(d, 0);
    Lock(d);
    d->ready = 1;
    Unlock(d);
    ConvertTheoraFrame(d, 1, 1, 1, asyncContext);
    return d;
}

int GetTheoraMovieInfo(TheoraMovieDecoder* d, TheoraMovieInfo* info) {
    info->framesPerSecond =
        static_cast<double>(d->info.fps_numerator) / static_cast<double>(d->info.fps_denominator);
    info->frameCount = d->frameCount;
    info->width = static_cast<std::int32_t>(d->info.frame_width);
    info->height = static_cast<std::int32_t>(d->info.frame_height);
    return 0;
}

int GetTheoraCurrentFrame(TheoraMovieDecoder* d) {
    Lock(d);
    const int frame = d->currentFrame;
    Unlock(d);
    return frame;
}

int AdvanceTheoraFrames(TheoraMovieDecoder* d, int steps) {
    if (steps <= 0) return 0;
    Lock(d);
    // However far the clock ran, the frame stays inside the movie.
    d->currentFrame = static_cast<std::int32_t>(
        (static_cast<std::int64_t>(d->currentFrame) + steps) % d->frameCount);
    d->targetPacket = d->frameTable[d->currentFrame];
    d->rgbReady = 0;
    d->surfaceReady = 0;
    d->graphsReady = 0;
    Unlock(d);
    return 0;
}

int SeekTheoraFrame(TheoraMovieDecoder* d, int frame) {
    Lock(d);
    frame = std::clamp(frame, 0, d->frameCount - 1);
    const std::int32_t packet = d->frameTable[frame];
    if (packet != d->targetPacket) {
        d->rgbReady = 0;
        d->surfaceReady = 0;
        d->graphsReady = 0;
        d->holdRequest = 1;
        Unlock(d);
        for (;;) {
            Lock(d);
            const std::int32_t state = d->threadState;
            Unlock(d);
            if (state == TheoraDecodeHolding || state == TheoraDecodeEnded) break;
            SleepMilliseconds(0);
        }
        Lock(d);
        d->targetPacket = packet;
        d->currentFrame = frame;
        d->seekTarget = packet;
        d->seekRequest = 1;
        d->holdRequest = 0;
    }
    Unlock(d);
    return 0;
}

int SeekTheoraTime(TheoraMovieDecoder* d, std::int64_t microseconds) {
    // microseconds / (1,000,000 / frames per second), worked out exactly: a frame's own start
    // time must give that frame, not the one before it.
    const __int128 frame = static_cast<__int128>(microseconds) * d->info.fps_numerator /
                           (static_cast<__int128>(1000000) * d->info.fps_denominator);
    const __int128 limited = std::clamp<__int128>(frame, -1, INT32_MAX);
    return SeekTheoraFrame(d, static_cast<int>(limited));
}

int ConvertTheoraFrame(TheoraMovieDecoder* d, int wantRgb, int wantGraphs, int wantSurface,
                       void* asyncContext) {
    const bool surface = wantSurface && !d->surfaceReady && d->surfaceUsable;
    const bool graphs = wantGraphs && !d->graphsReady && d->noYuvGraphs != 1;
    const bool rgb = wantRgb && !d->rgbReady;
    if (!surface && !graphs && !rgb) return 0;
    int index = -1;
    for (;;) {
        Lock(d);
        const std::int32_t state = d->threadState;
        if (state == TheoraDecodeSeeking || d->seekRequest) {
            Unlock(d);
            SleepMilliseconds(1);
            continue;
        }
        if (state == TheoraDecodeEnded) {
            Unlock(d);
            return 0;
        }
        index = FindSlot(d, d->targetPacket);
        if (index >= 0) {
            Unlock(d);
            break;
        }
        const bool ended = d->endOfStream != 0;
        Unlock(d);
        if (ended) return 0;
        SleepMilliseconds(0);
    }
    const TheoraFrameSlot& slot = d->slots[index];
    if (surface && d->surfaceLost) CreateTheoraFrameSurface(d);
    if (graphs && graphOps != nullptr && Backend_GetShaderModelVersion() > 199) {
        if (d->yGraph < 0) {
            d->yGraph = graphOps->CreatePlaneGraph(slot.yWidth, slot.yHeight, 1, asyncContext);
            if (d->yGraph >= 0) SetHandleLostFlag(d->yGraph, &d->yGraph);
        }
        if (d->uvGraph < 0) {
            d->uvGraph = graphOps->CreatePlaneGraph(slot.uvWidth, slot.uvHeight, 2, asyncContext);
            if (d->uvGraph >= 0) SetHandleLostFlag(d->uvGraph, &d->uvGraph);
        }
        if (d->yGraph >= 0 && d->uvGraph >= 0) {
            BASEIMAGE plane;
            std::memset(&plane, 0, sizeof(plane));
            InitColorFormatFromMasks(&plane.Format, 8, 0, 0, 0, 0, 1, 8, 0);
            plane.Width = slot.yWidth;
            plane.Height = slot.yHeight;
            plane.Pitch = slot.yPitch;
            plane.Pixels = slot.yPlane;
            const int yResult = graphOps->TransferPlane(d->yGraph, &plane, asyncContext);
            std::memset(&plane, 0, sizeof(plane));
            InitColorFormatFromMasks(&plane.Format, 16, 0, 0, 0, 0, 2, 8, 0);
            plane.Width = slot.uvWidth;
            plane.Height = slot.uvHeight;
            plane.Pitch = slot.uvPitch;
            plane.Pixels = slot.uvPlane;
            const int uvResult = graphOps->TransferPlane(d->uvGraph, &plane, asyncContext);
            if (yResult >= 0 && uvResult >= 0) d->graphsReady = 1;
        }
    }
    if (rgb) {
        ConvertYuvPlanesToXrgb(slot.yPlane, slot.yWidth, slot.yHeight, slot.yPitch, slot.uvPlane,
                               slot.uvWidth, slot.uvHeight, slot.uvPitch, &d->rgbImage);
        d->rgbReady = 1;
    }
    return 1;
}

BASEIMAGE* GetTheoraFrameImage(TheoraMovieDecoder* d) {
    if (d->rgbReady == 0) ConvertTheoraFrame(d, 1, 0, 0, nullptr);
    return &d->rgbImage;
}

HandleValue GetTheoraYGraph(TheoraMovieDecoder* d) {
    return d->yGraph;
}

HandleValue GetTheoraUvGraph(TheoraMovieDecoder* d) {
    return d->uvGraph;
}

void* GetTheoraFrameSurface(TheoraMovieDecoder* d) {
    return d->surface;
}

int FlagTheoraSurfaceLost(TheoraMovieDecoder* d) {
    d->surfaceLost = 1;
    return 0;
}

int CloseTheoraDecoder(TheoraMovieDecoder* d) {
    if (d == nullptr) return -1;
    FreeDecoder(d);
    return 0;
}

}  // namespace ZiDaz
