#include "Main/DuZuder.h"

#include <cmath>
#include <cstring>

#include "Main/DxLog.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

SoundSystemState g_SoundSystem;

namespace {

bool IsMixerListed(const SoundBuffer* buffer) {
    return buffer->inMixerList != 0;
}

void LinkIntoMixerList(SoundBuffer* buffer) {
    InsertPointerListNodeAfter(g_SoundSystem.mixerListTail.previous, &buffer->mixerNode, buffer);
    buffer->inMixerList = 1;
}

void UnlinkFromMixerList(SoundBuffer* buffer) {
    UnlinkPointerListNode(&buffer->mixerNode);
    buffer->inMixerList = 0;
}

void LockMixer() {
    if (g_SoundSystem.mixerLockReady) DX_LOCK(&g_SoundSystem.mixerLock);
}

void UnlockMixer() {
    if (g_SoundSystem.mixerLockReady) DX_UNLOCK(&g_SoundSystem.mixerLock);
}

int BlockAlign(const SoundBuffer* buffer) {
    return buffer->format.blockAlign ? buffer->format.blockAlign : 1;
}

// One source frame as the mixer hears it: every sample as a signed 16-bit quantity.
struct Frame {
    std::int32_t left;
    std::int32_t right;
};

Frame ReadFrame(const SoundBuffer* buffer, std::int32_t index) {
    const unsigned char* frame =
        buffer->waveData->data + static_cast<std::size_t>(index) * BlockAlign(buffer);
    int bytes;
    auto sample = [&](int channel) -> std::int32_t {
        const unsigned char* s = frame + channel * bytes;
        switch (buffer->format.bitsPerSample) {
            case 16:
                return static_cast<std::int16_t>(s[0] | (s[1] << 8));
            case 24:
                return static_cast<std::int16_t>(s[1] | (s[2] << 8));
            case 32:
                // Integer 32-bit samples are heard by their upper two bytes.
                return static_cast<std::int16_t>(s[2] | (s[3] << 8));
            default:
                return g_SoundSystem.eightBitTable[s[0]];
        }
    };
    switch (buffer->format.bitsPerSample) {
        case 16:
            bytes = 2;
            break;
        case 24:
            bytes = 3;
            break;
        case 32:
            bytes = 4;
            break;
        default:
            bytes = 1;
            break;
    }
    Frame result;
    result.left = sample(0);
    result.right = buffer->format.channels >= 2 ? sample(1) : result.left;
    return result;
}

void EndMixedBuffer(SoundBuffer* buffer) {
    buffer->position = buffer->mixPosition = buffer->length;
    if (buffer->resampling) buffer->fractionalPosition = buffer->length;
    buffer->playing = 0;
    UnlinkFromMixerList(buffer);
}

// Adds one value pair (whole 16-bit samples) to mix frame k.
inline void AddDirect(void* mixBuffer, std::uint32_t k, std::int32_t l, std::int32_t r, float gl,
                      float gr, bool floatMix, bool scaling) {
    if (floatMix) {
        float* mix = static_cast<float*>(mixBuffer) + 2 * k;
        mix[0] += static_cast<float>(l) * gl;
        mix[1] += static_cast<float>(r) * gr;
    } else if (scaling) {
        std::int32_t* mix = static_cast<std::int32_t*>(mixBuffer) + 2 * k;
        mix[0] += static_cast<std::int32_t>(static_cast<float>(l) * gl);
        mix[1] += static_cast<std::int32_t>(static_cast<float>(r) * gr);
    } else {
        std::int32_t* mix = static_cast<std::int32_t*>(mixBuffer) + 2 * k;
        mix[0] += l;
        mix[1] += r;
    }
}

inline void AddInterpolated(void* mixBuffer, std::uint32_t k, double l, double r, float gl,
                            float gr, bool floatMix, bool scaling) {
    if (floatMix) {
        float* mix = static_cast<float*>(mixBuffer) + 2 * k;
        mix[0] += static_cast<float>(l) * gl;
        mix[1] += static_cast<float>(r) * gr;
    } else if (scaling) {
        std::int32_t* mix = static_cast<std::int32_t*>(mixBuffer) + 2 * k;
        mix[0] += static_cast<std::int32_t>(l * gl);
        mix[1] += static_cast<std::int32_t>(r * gr);
    } else {
        std::int32_t* mix = static_cast<std::int32_t*>(mixBuffer) + 2 * k;
        mix[0] += static_cast<std::int32_t>(l);
        mix[1] += static_cast<std::int32_t>(r);
    }
}

void MixOneBuffer(SoundBuffer* b, std::uint32_t count) {
    SoundSystemState& s = g_SoundSystem;
    const bool floatMix = s.mixFloatSamples != 0;
    float gl = b->gainFactor;
    float gr = b->gainFactor;
    bool scaling = b->gainFactor != 1.0f;
    if (b->panFactor > 0) {
        gl = b->gainFactor * (1 - b->panFactor);
        scaling = true;
    } else if (b->panFactor < 0) {
        gr = b->gainFactor * (1 + b->panFactor);
        scaling = true;
    }
    if (floatMix) {
        gl *= 1.0f / 32768;
        gr *= 1.0f / 32768;
        scaling = true;
    }
    if (!b->resampling && b->format.samplesPerSec != s.mixFormat.samplesPerSec) {
        b->resampling = 1;
        b->fractionalPosition = b->mixPosition;
    }
    if (b->length <= 0) {
        EndMixedBuffer(b);
        return;
    }
    if (b->mixPosition >= b->length) {
        if (b->loop) {
            b->mixPosition = 0;
            b->fractionalPosition = 0;
        } else {
            EndMixedBuffer(b);
            return;
        }
    }
    void* mix = s.mixBuffer;
    if (!b->resampling) {
        std::int32_t p = b->mixPosition;
        for (std::uint32_t k = 0; k < count; ++k) {
            const Frame f = ReadFrame(b, p);
            AddDirect(mix, k, f.left, f.right, gl, gr, floatMix, scaling);
            if (++p >= b->length) {
                if (!b->loop) {
                    EndMixedBuffer(b);
                    return;
                }
                p = 0;
            }
        }
        b->position = b->mixPosition = p;
        return;
    }
    std::int32_t p = b->mixPosition;
    double f = b->fractionalPosition - p;
    const double rate = static_cast<double>(b->format.samplesPerSec);
    const double mixRate = static_cast<double>(s.mixFormat.samplesPerSec);
    double step = rate / mixRate;
    if (b->frequency > 0) step = (rate / mixRate) * (b->frequency / rate);
    auto nextOf = [&](std::int32_t at) -> Frame {
        if (at + 1 < b->length) return ReadFrame(b, at + 1);
        if (b->loop) return ReadFrame(b, 0);
        return Frame{0, 0};
    };
    Frame cur = ReadFrame(b, p);
    Frame next = nextOf(p);
    for (std::uint32_t k = 0; k < count; ++k) {
        const double l = (next.left - cur.left) * f + cur.left;
        const double r = (next.right - cur.right) * f + cur.right;
        AddInterpolated(mix, k, l, r, gl, gr, floatMix, scaling);
        f += step;
        while (f >= 1.0) {
            f -= 1.0;
            ++p;
            cur = next;
            if (p >= b->length) {
                if (!b->loop) {
                    EndMixedBuffer(b);
                    return;
                }
                p = 0;
                next = b->length > 1 ? ReadFrame(b, 1) : ReadFrame(b, 0);
            } else {
                next = nextOf(p);
            }
        }
    }
    b->position = b->mixPosition = p;
    b->fractionalPosition = p + f;
}

// Holds the sum inside the output range; the gain recovers linearly over the recovery length.
template <typename T>
void ApplyOverloadGain(T* mix, std::uint32_t count, T upper, T lower) {
    SoundSystemState& s = g_SoundSystem;
    std::int32_t active = s.overloadActive;
    float g0 = s.overloadGain;
    std::int32_t progress = s.overloadProgress;
    const std::int32_t length = s.overloadRecoveryLength > 0 ? s.overloadRecoveryLength : 1;
    auto scale = [](float g, T v) -> T { return static_cast<T>(g * static_cast<float>(v)); };
    for (std::uint32_t k = 0; k < count; ++k) {
        T& L = mix[2 * k];
        T& R = mix[2 * k + 1];
        float g = 1;
        T l = L, r = R;
        if (active) {
            g = (1 - g0) * static_cast<float>(progress) / static_cast<float>(length) + g0;
            l = scale(g, L);
            r = scale(g, R);
        }
        if (l > upper || l < lower) {
            g0 = static_cast<float>(l > upper ? upper : lower) / static_cast<float>(L);
            active = 1;
            progress = 0;
            g = g0;
            r = scale(g0, R);
        }
        if (r > upper || r < lower) {
            g0 = static_cast<float>(r > upper ? upper : lower) / static_cast<float>(R);
            active = 1;
            progress = 0;
            g = g0;
        } else if (!active) {
            continue;
        }
        L = scale(g, L);
        R = scale(g, R);
        if (++progress >= length) {
            active = 0;
            progress = 0;
        }
    }
    s.overloadActive = active;
    s.overloadGain = g0;
    s.overloadProgress = progress;
}

void WriteOutput(void* d1, void* d2, std::int32_t stride, std::uint32_t count) {
    SoundSystemState& s = g_SoundSystem;
    unsigned char* o1 = static_cast<unsigned char*>(d1);
    unsigned char* o2 = static_cast<unsigned char*>(d2);
    const bool mono = s.mixFormat.channels == 1;
    if (s.mixFloatSamples) {
        const float* mix = static_cast<const float*>(s.mixBuffer);
        for (std::uint32_t k = 0; k < count; ++k, o1 += stride, o2 += stride) {
            const float l = mix[2 * k], r = mix[2 * k + 1];
            if (mono) {
                const float v = (l + r) * 0.5f;
                std::memcpy(o1, &v, 4);
            } else {
                std::memcpy(o1, &l, 4);
                std::memcpy(o2, &r, 4);
            }
        }
        return;
    }
    const std::int32_t* mix = static_cast<const std::int32_t*>(s.mixBuffer);
    const int bits = s.mixValidBits;
    const int container = s.mixFormat.bitsPerSample;
    auto put = [&](unsigned char* out, std::int32_t v) {
        const std::uint16_t low = static_cast<std::uint16_t>(v);
        if (bits == 16) {
            std::memcpy(out, &low, 2);
        } else if (bits == 24 && container == 32) {
            // The sample keeps its sign and level as in the 32-bit form: top 16 bits.
            const std::int32_t w = static_cast<std::int32_t>(static_cast<std::uint32_t>(low) << 16);
            std::memcpy(out, &w, 4);
        } else if (bits == 24) {
            out[0] = 0;
            out[1] = static_cast<unsigned char>(low);
            out[2] = static_cast<unsigned char>(low >> 8);
        } else if (bits == 32) {
            const std::int32_t w = static_cast<std::int32_t>(static_cast<std::uint32_t>(low) << 16);
            std::memcpy(out, &w, 4);
        }
    };
    for (std::uint32_t k = 0; k < count; ++k, o1 += stride, o2 += stride) {
        const std::int32_t l = mix[2 * k], r = mix[2 * k + 1];
        if (mono) {
            put(o1, (l + r) >> 1);
        } else {
            put(o1, l);
            put(o2, r);
        }
    }
}

}  // namespace

void FillSoundTables() {
    for (int i = 0; i < 65536; ++i) {
        const float angle = static_cast<float>(i) * 3.1415927f * 2.0f * (1.0f / 65536.0f);
        g_SoundSystem.sineTable[i] = static_cast<std::int16_t>(16384.0f * std::sin(angle));
    }
    for (int i = 0; i < 256; ++i) {
        g_SoundSystem.eightBitTable[i] = static_cast<std::int16_t>(i * 257 - 32768);
    }
}

int SetUpSoftwareMixOutput(const SoundFormat* format, int validBits, int floatSamples,
                           int channelMask) {
    SoundSystemState& s = g_SoundSystem;
    if (!s.mixerLockReady) {
        if (InitTracedLock(&s.mixerLock) != 0) return -1;
        s.mixerLockReady = 1;
        InitPointerList(&s.mixerListHead, &s.mixerListTail);
    }
    if (s.outputFrequency == 0) s.outputFrequency = 44100;
    FillSoundTables();
    s.mixFormat = *format;
    s.mixValidBits = validBits;
    s.mixFloatSamples = floatSamples;
    s.mixChannelMask = channelMask;
    s.totalMixedFrames = 0;
    s.overloadActive = 0;
    s.overloadGain = 0;
    s.overloadProgress = 0;
    s.overloadRecoveryLength = static_cast<std::int32_t>(format->samplesPerSec / 2);
    s.softwareMixing = 1;
    return 0;
}

int EndSoftwareMixOutput() {
    SoundSystemState& s = g_SoundSystem;
    LockMixer();
    s.softwareMixing = 0;
    DX_FREE(s.mixBuffer);
    s.mixBuffer = nullptr;
    s.mixBufferCapacity = 0;
    UnlockMixer();
    return 0;
}

int AllocateMixBuffer(int floatSamples, int frames) {
    SoundSystemState& s = g_SoundSystem;
    s.mixerFloat = floatSamples;
    if (s.mixBuffer) DX_FREE(s.mixBuffer);
    s.mixBuffer = DX_ALLOC_ZEROED(static_cast<std::size_t>(frames > 0 ? frames : 1) * 8);
    if (!s.mixBuffer) {
        s.mixBufferCapacity = 0;
        LogTextAndFail("自前ミキシング処理用のメモリの確保に失敗しました\n");
        return -1;
    }
    s.mixBufferCapacity = frames;
    return 0;
}

std::uint64_t ConvertSamplesToMs(std::int32_t rate, std::uint64_t samples) {
    const unsigned __int128 product = static_cast<unsigned __int128>(samples) * 1000u;
    const std::uint64_t divisor = static_cast<std::uint64_t>(static_cast<std::int64_t>(rate));
    if (divisor == 0) return 0;
    return static_cast<std::uint64_t>(product / divisor);
}

float SoundVolumeToGain(std::int32_t volume) {
    if (volume <= -10000) return 0.0f;
    return std::pow(10.0f, static_cast<float>(volume) / 100.0f / 20.0f);
}

float SoundPanToFactor(std::int32_t pan) {
    if (pan == -10000) return -1.0f;
    if (pan == 10000) return 1.0f;
    if (pan == 0) return 0.0f;
    const float magnitude =
        1.0f - std::pow(10.0f, static_cast<float>(-std::abs(pan)) / 100.0f / 20.0f);
    return pan < 0 ? -magnitude : magnitude;
}

SoundBufferData* AllocateSoundBufferData(int size, int secondArea) {
    if (size < 0) return nullptr;
    const std::size_t header = (sizeof(SoundBufferData) + 15) & ~static_cast<std::size_t>(15);
    const std::size_t area =
        secondArea ? static_cast<std::size_t>(size) * 3 + 64 : static_cast<std::size_t>(size) + 32;
    unsigned char* block = static_cast<unsigned char*>(DX_ALLOC_ZEROED(header + area));
    if (!block) return nullptr;
    SoundBufferData* data = reinterpret_cast<SoundBufferData*>(block);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(block + header);
    data->data = reinterpret_cast<unsigned char*>((start + 31) & ~static_cast<std::uintptr_t>(15));
    data->secondData = nullptr;
    if (secondArea) {
        const std::uintptr_t after = reinterpret_cast<std::uintptr_t>(data->data) + size;
        data->secondData =
            reinterpret_cast<unsigned char*>((after + 15) & ~static_cast<std::uintptr_t>(15));
    }
    data->size = size;
    data->referenceCount = 1;
    return data;
}

SoundBufferData* RetainSoundBufferData(SoundBufferData* block) {
    if (block) ++block->referenceCount;
    return block;
}

void ReleaseSoundBufferData(SoundBufferData* block) {
    if (block && --block->referenceCount <= 0) DX_FREE(block);
}

int SetUpSoundBuffer(SoundBuffer* buffer, int size, const SoundFormat* format,
                     const SoundBuffer* source, int is3D) {
    if (buffer->setUp) return -1;
    // Platform voices are not available; only the software mix holds buffers.
    if (!g_SoundSystem.softwareMixing) return -1;
    if (!source && !format) return -1;
    buffer->waveData = nullptr;
    buffer->is3D = is3D;
    if (source) {
        if (!source->setUp) return -1;
        buffer->waveData = RetainSoundBufferData(source->waveData);
    } else {
        buffer->waveData = AllocateSoundBufferData(size, 0);
    }
    if (!buffer->waveData) return -1;
    buffer->playing = 0;
    buffer->position = buffer->mixPosition = 0;
    buffer->fractionalPosition = 0.0;
    buffer->resampling = 0;
    buffer->loop = 0;
    buffer->panFactor = 0;
    buffer->gainFactor = 1.0f;
    buffer->startStampValid = 0;
    buffer->startStamp = 0;
    buffer->frequencySet = 0;
    buffer->inMixerList = 0;
    buffer->startDelay = 0;
    if (source) {
        buffer->pan = source->pan;
        std::memcpy(buffer->volume, source->volume, sizeof buffer->volume);
        buffer->frequency = source->frequency;
        buffer->length = source->length;
        buffer->format = source->format;
    } else {
        buffer->pan = 0;
        std::memset(buffer->volume, 0, sizeof buffer->volume);
        buffer->frequency = -1;
        buffer->format = *format;
        buffer->length = size / (format->blockAlign ? format->blockAlign : 1);
    }
    buffer->setUp = 1;
    return 0;
}

int SetUpSharedSoundBuffer(SoundBuffer* buffer, const SoundBuffer* source, int is3D) {
    return SetUpSoundBuffer(buffer, 0, nullptr, source, is3D);
}

int ReleaseSoundBuffer(SoundBuffer* buffer) {
    if (!buffer->setUp) return -1;
    if (buffer->playing) StopSoundBuffer(buffer, 0);
    LockMixer();
    if (IsMixerListed(buffer)) UnlinkFromMixerList(buffer);
    UnlockMixer();
    ReleaseSoundBufferData(buffer->waveData);
    buffer->waveData = nullptr;
    buffer->setUp = 0;
    return 0;
}

int IsSoundBufferPlaying(SoundBuffer* buffer) {
    if (!buffer->setUp) return -1;
    return buffer->playing ? 1 : 0;
}

int PlaySoundBuffer(SoundBuffer* buffer, int loop) {
    if (!buffer->setUp) return -1;
    buffer->loop = loop;
    SoundSystemState& s = g_SoundSystem;
    LockMixer();
    if (!IsMixerListed(buffer)) {
        LinkIntoMixerList(buffer);
        const double rate = buffer->format.samplesPerSec;
        const double mixRate = s.mixFormat.samplesPerSec ? s.mixFormat.samplesPerSec : 1;
        buffer->startStamp =
            static_cast<std::int64_t>(rate * static_cast<double>(s.totalMixedFrames) / mixRate) -
            buffer->mixPosition;
        buffer->startStampValid = 1;
    }
    buffer->startDelay = 0;
    buffer->playing = 1;
    UnlockMixer();
    return 0;
}

int StopSoundBuffer(SoundBuffer* buffer, int) {
    if (!buffer->setUp) return -1;
    LockMixer();
    if (IsMixerListed(buffer)) UnlinkFromMixerList(buffer);
    buffer->playing = 0;
    UnlockMixer();
    return 0;
}

int GetSoundBufferPosition(SoundBuffer* buffer, std::int32_t* play, std::int32_t* write) {
    if (!buffer->setUp) return -1;
    // No output clock is read yet, so the play position is the mixer's position.
    if (play) *play = buffer->position * BlockAlign(buffer);
    if (write) *write = buffer->position * BlockAlign(buffer);
    return 0;
}

int SetSoundBufferPosition(SoundBuffer* buffer, std::int32_t bytes) {
    if (!buffer->setUp) return -1;
    const std::int32_t frames = bytes / BlockAlign(buffer);
    if (frames < 0 || frames >= buffer->length) return -1;
    LockMixer();
    buffer->position = buffer->mixPosition = frames;
    buffer->fractionalPosition = frames;
    if (buffer->frequency < 0 ||
        static_cast<std::uint32_t>(buffer->frequency) == buffer->format.samplesPerSec) {
        buffer->resampling = 0;
    }
    buffer->startStampValid = 0;
    UnlockMixer();
    return 0;
}

int GetSoundBufferFrequency(SoundBuffer* buffer, std::int32_t* hz) {
    if (!buffer->setUp) return -1;
    *hz = buffer->frequency > 0 ? buffer->frequency
                                : static_cast<std::int32_t>(buffer->format.samplesPerSec);
    return 0;
}

int SetSoundBufferFrequency(SoundBuffer* buffer, std::int32_t hz) {
    if (!buffer->setUp) return -1;
    buffer->frequency = hz == 0 ? -1 : hz;
    if (buffer->frequency > 0 &&
        static_cast<std::uint32_t>(buffer->frequency) != buffer->format.samplesPerSec) {
        buffer->resampling = 1;
        buffer->fractionalPosition = buffer->mixPosition;
    } else if (std::fabs(buffer->fractionalPosition - buffer->mixPosition) < 0.0001) {
        buffer->resampling = 0;
    }
    buffer->frequencySet = 1;
    return 0;
}

int GetSoundBufferPan(SoundBuffer* buffer, std::int32_t* pan) {
    if (!buffer->setUp) return -1;
    *pan = buffer->pan;
    return 0;
}

int SetSoundBufferPan(SoundBuffer* buffer, std::int32_t pan) {
    if (!buffer->setUp) return -1;
    buffer->pan = pan < -10000 ? -10000 : pan > 10000 ? 10000 : pan;
    return ApplySoundBufferVolume(buffer);
}

int GetSoundBufferVolume(SoundBuffer* buffer, int channel, std::int32_t* volume) {
    if (!buffer->setUp || channel < 0 || channel > 7) return -1;
    *volume = buffer->volume[channel];
    return 0;
}

int SetSoundBufferVolume(SoundBuffer* buffer, int channel, std::int32_t volume) {
    if (!buffer->setUp || channel < 0 || channel > 7) return -1;
    buffer->volume[channel] = volume;
    return ApplySoundBufferVolume(buffer);
}

int SetSoundBufferVolumeAll(SoundBuffer* buffer, std::int32_t volume) {
    if (!buffer->setUp) return -1;
    for (std::int32_t& v : buffer->volume) v = volume;
    return ApplySoundBufferVolume(buffer);
}

int ApplySoundBufferVolume(SoundBuffer* buffer) {
    if (!buffer->setUp) return -1;
    buffer->gainFactor = SoundVolumeToGain(buffer->volume[0]);
    buffer->panFactor = SoundPanToFactor(buffer->pan);
    return 0;
}

int LockSoundBuffer(SoundBuffer* buffer, std::int32_t offset, std::int32_t size, void** first,
                    std::int32_t* firstLength, void** second, std::int32_t* secondLength) {
    if (!buffer->setUp) return -1;
    const std::int32_t align = BlockAlign(buffer);
    const std::int32_t s = offset / align;
    const std::int32_t n = size / align;
    if (offset < 0 || size < 0 || s > buffer->length) return -1;
    *first = buffer->waveData->data + offset;
    if (s + n > buffer->length) {
        *firstLength = (buffer->length - s) * align;
        *second = buffer->waveData->data;
        std::int32_t rest = n - (buffer->length - s);
        if (rest > buffer->length) rest = buffer->length;  // never beyond the data area
        *secondLength = rest * align;
    } else {
        *firstLength = size;
        *second = nullptr;
        *secondLength = 0;
    }
    return 0;
}

int UnlockSoundBuffer(SoundBuffer* buffer, void*, std::int32_t, void*, std::int32_t) {
    return buffer->setUp ? 0 : -1;
}

std::int32_t CopyConverterOutputToLockedRegion(SoundBufferLockRegion* region,
                                               SoundConvertState* converter, std::int32_t count) {
    std::int32_t total = 0;
    while (count > 0) {
        const bool useFirst = region->firstFree > 0;
        if (!useFirst && region->secondFree <= 0) break;  // both regions full
        std::int32_t& written = useFirst ? region->firstWritten : region->secondWritten;
        std::int32_t& free = useFirst ? region->firstFree : region->secondFree;
        unsigned char* base =
            static_cast<unsigned char*>(useFirst ? region->first : region->second);
        const std::int32_t ask = count < free ? count : free;
        const std::size_t got = ReadConvertedSound(converter, base + written, ask);
        // A converter that gives nothing has no more to give, whether or not it says so.
        if (got == 0) break;
        written += static_cast<std::int32_t>(got);
        free -= static_cast<std::int32_t>(got);
        count -= static_cast<std::int32_t>(got);
        total += static_cast<std::int32_t>(got);
    }
    return total;
}

int MixSoundBuffers(void* d1, void* d2, std::int32_t stride, std::uint32_t count) {
    SoundSystemState& s = g_SoundSystem;
    if (!s.softwareMixing) return -1;
    LockMixer();
    if (count > static_cast<std::uint32_t>(s.mixBufferCapacity) || !s.mixBuffer) {
        void* grown = DX_REALLOC(s.mixBuffer, static_cast<std::size_t>(count ? count : 1) * 8);
        if (!grown) {
            UnlockMixer();
            return -1;
        }
        s.mixBuffer = grown;
        s.mixBufferCapacity = static_cast<std::int32_t>(count);
    }
    std::memset(s.mixBuffer, 0, static_cast<std::size_t>(s.mixBufferCapacity) * 8);
    PointerListNode* node = s.mixerListHead.next;
    while (node && node != &s.mixerListTail) {
        PointerListNode* following = node->next;
        MixOneBuffer(static_cast<SoundBuffer*>(node->data), count);
        node = following;
    }
    if (s.mixFloatSamples) {
        ApplyOverloadGain<float>(static_cast<float*>(s.mixBuffer), count, 1.0f, -1.0f);
    } else {
        ApplyOverloadGain<std::int32_t>(static_cast<std::int32_t*>(s.mixBuffer), count, 32767,
                                        -32768);
    }
    WriteOutput(d1, d2, stride, count);
    s.totalMixedFrames += count;
    UnlockMixer();
    return 0;
}

}  // namespace ZiDaz
