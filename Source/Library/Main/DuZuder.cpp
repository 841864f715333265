#include "Main/DuZuder.h"

#include <cmath>
#include <cstring>

#include "Main/DxLog.h"
#include "Main/DxMemory.h"
#include "Main/Windows/DuZuderWin.h"

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
    if (!source && !format) return -1;
    if (source && !source->setUp) return -1;
    buffer->waveData = nullptr;
    buffer->is3D = is3D;
    buffer->effectTailState = 0;
    buffer->effectTailTime = 0;
    if (!g_SoundSystem.softwareMixing) {
        if (CreatePlatformBuffer(buffer, size, format, source, is3D) != 0) {
            ReleaseSoundBufferData(buffer->waveData);
            buffer->waveData = nullptr;
            return -1;
        }
    } else if (source) {
        buffer->waveData = RetainSoundBufferData(source->waveData);
        if (!buffer->waveData) return -1;
    } else {
        buffer->waveData = AllocateSoundBufferData(size, 0);
        if (!buffer->waveData) return -1;
    }
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
    if (is3D) {
        buffer->changed3D = 1;
        if (!g_SoundSystem.softwareMixing && SetUpPlatformBuffer3D(buffer) != 0) {
            ReleasePlatformBuffer(buffer);
            ReleaseSoundBufferData(buffer->waveData);
            buffer->waveData = nullptr;
            return -1;
        }
        if (source) {
            std::memcpy(buffer->position3D, source->position3D, sizeof buffer->position3D);
            std::memcpy(buffer->frontDirection, source->frontDirection,
                        sizeof buffer->frontDirection);
            std::memcpy(buffer->topDirection, source->topDirection, sizeof buffer->topDirection);
            std::memcpy(buffer->velocity3D, source->velocity3D, sizeof buffer->velocity3D);
            buffer->radius3D = source->radius3D;
        } else {
            const float front[3] = {0, 0, 1};
            const float top[3] = {0, 1, 0};
            std::memset(buffer->position3D, 0, sizeof buffer->position3D);
            std::memcpy(buffer->frontDirection, front, sizeof front);
            std::memcpy(buffer->topDirection, top, sizeof top);
            std::memset(buffer->velocity3D, 0, sizeof buffer->velocity3D);
        }
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
    ReleasePlatformBuffer(buffer);
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
    if (!g_SoundSystem.softwareMixing) return IsPlatformBufferPlaying(buffer);
    LockMixer();
    const int playing = buffer->playing ? 1 : 0;
    UnlockMixer();
    return playing;
}

int PlaySoundBuffer(SoundBuffer* buffer, int loop) {
    if (!buffer->setUp) return -1;
    buffer->loop = loop;
    SoundSystemState& s = g_SoundSystem;
    if (!s.softwareMixing) return PlayPlatformBuffer(buffer, loop) == 0 ? 0 : -1;
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

int StopSoundBuffer(SoundBuffer* buffer, int flag) {
    if (!buffer->setUp) return -1;
    if (!g_SoundSystem.softwareMixing) return StopPlatformBuffer(buffer, flag) == 0 ? 0 : -1;
    LockMixer();
    if (IsMixerListed(buffer)) UnlinkFromMixerList(buffer);
    buffer->playing = 0;
    UnlockMixer();
    return 0;
}

int GetSoundBufferPosition(SoundBuffer* buffer, std::int32_t* play, std::int32_t* write) {
    if (!buffer->setUp) return -1;
    const std::int32_t align = BlockAlign(buffer);
    if (!g_SoundSystem.softwareMixing) {
        std::uint32_t p = 0;
        std::uint32_t w = 0;
        const int result = GetPlatformBufferPosition(buffer, &p, &w);
        if (result < 0) return -1;
        if (result == 2) p = w = static_cast<std::uint32_t>(buffer->position * align);
        if (play) *play = static_cast<std::int32_t>(p);
        if (write) *write = static_cast<std::int32_t>(w);
        return 0;
    }
    LockMixer();
    const std::int32_t position = buffer->position;
    const bool estimate =
        buffer->playing && buffer->startStampValid && !buffer->frequencySet &&
        (buffer->frequency <= 0 ||
         static_cast<std::uint32_t>(buffer->frequency) == buffer->format.samplesPerSec);
    const std::int64_t stamp = buffer->startStamp;
    const int loop = buffer->loop;
    UnlockMixer();
    std::int32_t playBytes = position * align;
    std::uint64_t clockPosition = 0;
    std::uint64_t clockFrequency = 0;
    if (play && estimate && ReadOutputClock(&clockPosition, &clockFrequency) == 0 &&
        clockFrequency != 0) {
        // The device's clock says how much it has played; the stamp says where position 0 was.
        const std::int64_t t = static_cast<std::int64_t>(
            static_cast<double>(buffer->format.samplesPerSec) * static_cast<double>(clockPosition) /
            static_cast<double>(clockFrequency));
        if (t < stamp) {
            playBytes = 0;
        } else {
            const std::int64_t d = t - stamp;
            if (d < buffer->length) {
                playBytes = static_cast<std::int32_t>(d * align);
            } else if (loop && buffer->length > 0) {
                playBytes = static_cast<std::int32_t>((d % buffer->length) * align);
            } else {
                playBytes = buffer->length * align;
            }
        }
    }
    if (play) *play = playBytes;
    if (write) *write = position * align;
    return 0;
}

int SetSoundBufferPosition(SoundBuffer* buffer, std::int32_t bytes) {
    if (!buffer->setUp) return -1;
    const std::int32_t frames = bytes / BlockAlign(buffer);
    if (frames < 0 || frames >= buffer->length) return -1;
    if (!g_SoundSystem.softwareMixing) {
        return SetPlatformBufferPosition(buffer, static_cast<std::uint32_t>(bytes)) == 0 ? 0 : -1;
    }
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
    if (!g_SoundSystem.softwareMixing) {
        const int result = GetPlatformBufferFrequency(buffer, hz);
        if (result < 0) return -1;
        if (result == 0) return 0;
    }
    *hz = buffer->frequency > 0 ? buffer->frequency
                                : static_cast<std::int32_t>(buffer->format.samplesPerSec);
    return 0;
}

int SetSoundBufferFrequency(SoundBuffer* buffer, std::int32_t hz) {
    if (!buffer->setUp) return -1;
    LockMixer();
    buffer->frequency = hz == 0 ? -1 : hz;
    if (buffer->frequency > 0 &&
        static_cast<std::uint32_t>(buffer->frequency) != buffer->format.samplesPerSec) {
        buffer->resampling = 1;
        buffer->fractionalPosition = buffer->mixPosition;
    } else if (std::fabs(buffer->fractionalPosition - buffer->mixPosition) < 0.0001) {
        buffer->resampling = 0;
    }
    buffer->frequencySet = 1;
    UnlockMixer();
    if (!g_SoundSystem.softwareMixing) return SetPlatformBufferFrequency(buffer, hz) == 0 ? 0 : -1;
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
    if (!g_SoundSystem.softwareMixing) return ApplyPlatformBufferVolume(buffer) == 0 ? 0 : -1;
    const float gain = SoundVolumeToGain(buffer->volume[0]);
    const float pan = SoundPanToFactor(buffer->pan);
    // The mixer reads the factors as a pair.
    LockMixer();
    buffer->gainFactor = gain;
    buffer->panFactor = pan;
    UnlockMixer();
    return 0;
}

namespace {

bool Differs(const float* stored, float x, float y, float z) {
    return std::fabs(stored[0] - x) >= 0.001f || std::fabs(stored[1] - y) >= 0.001f ||
           std::fabs(stored[2] - z) >= 0.001f;
}

// The platform's 3D step at once when the buffer plays; the flag clears when it succeeds.
void Apply3DWhilePlaying(SoundBuffer* buffer) {
    const int playing =
        g_SoundSystem.softwareMixing ? buffer->playing : IsPlatformBufferPlaying(buffer) == 1;
    if (playing && ApplyPlatformBuffer3D(buffer) == 0) buffer->changed3D = 0;
}

}  // namespace

int SetSoundBuffer3DPosition(SoundBuffer* buffer, float x, float y, float z) {
    if (!buffer->setUp || !buffer->is3D) return -1;
    if (!Differs(buffer->position3D, x, y, z)) return 0;
    buffer->position3D[0] = x;
    buffer->position3D[1] = y;
    buffer->position3D[2] = z;
    if (SetPlatformBuffer3DPosition(buffer, buffer->position3D) != 0) return -1;
    buffer->changed3D = 1;
    Apply3DWhilePlaying(buffer);
    return 0;
}

int SetSoundBuffer3DVelocity(SoundBuffer* buffer, float x, float y, float z) {
    if (!buffer->setUp || !buffer->is3D) return -1;
    if (!Differs(buffer->velocity3D, x, y, z)) return 0;
    buffer->velocity3D[0] = x;
    buffer->velocity3D[1] = y;
    buffer->velocity3D[2] = z;
    if (SetPlatformBuffer3DVelocity(buffer, buffer->velocity3D) != 0) return -1;
    buffer->changed3D = 1;
    Apply3DWhilePlaying(buffer);
    return 0;
}

int SetSoundBuffer3DRadius(SoundBuffer* buffer, float radius) {
    if (!buffer->setUp || !buffer->is3D) return -1;
    if (std::fabs(buffer->radius3D - radius) < 0.001f) return 0;
    buffer->radius3D = radius;
    if (SetPlatformBuffer3DRadius(buffer, radius) != 0) return -1;
    buffer->changed3D = 1;
    const int playing =
        g_SoundSystem.softwareMixing ? buffer->playing : IsPlatformBufferPlaying(buffer) == 1;
    if (playing) ApplySoundBuffer3DParams(buffer, 0);
    return 0;
}

int ApplySoundBuffer3DParams(SoundBuffer* buffer, int force) {
    if (!buffer->setUp || !buffer->is3D) return -1;
    if (force || buffer->changed3D) {
        if (ApplyPlatformBuffer3D(buffer) != 0) return -1;
        buffer->changed3D = 0;
    }
    return 0;
}

int LockSoundBuffer(SoundBuffer* buffer, std::int32_t offset, std::int32_t size, void** first,
                    std::int32_t* firstLength, void** second, std::int32_t* secondLength) {
    if (!buffer->setUp) return -1;
    if (!g_SoundSystem.softwareMixing) {
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        const int result =
            LockPlatformBuffer(buffer, static_cast<std::uint32_t>(offset),
                               static_cast<std::uint32_t>(size), first, &a, second, &b);
        if (result < 0) return -1;
        if (result == 0) {
            *firstLength = static_cast<std::int32_t>(a);
            *secondLength = static_cast<std::int32_t>(b);
            return 0;
        }
    }
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

int UnlockSoundBuffer(SoundBuffer* buffer, void* first, std::int32_t firstLength, void* second,
                      std::int32_t secondLength) {
    if (!buffer->setUp) return -1;
    if (g_SoundSystem.softwareMixing) return 0;
    return UnlockPlatformBuffer(buffer, first, static_cast<std::uint32_t>(firstLength), second,
                                static_cast<std::uint32_t>(secondLength)) == 0
               ? 0
               : -1;
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

// ---- The module's start and end, and the sound handles -------------------------------------

namespace {

bool IsHandleOfType(HandleValue handle, int type) {
    return handle >= 0 && ((handle & kHandleTypeMask) >> kHandleTypeShift) == type;
}

// The record of a valid handle of the type, a pending asynchronous load finished first.
HandleHeader* ValidRecord(HandleValue handle, int type) {
    if (!IsHandleOfType(handle, type)) return nullptr;
    HandleHeader* record = LookupHandleRecord(handle);
    if (record != nullptr && record->asyncPending != 0) {
        if (WaitHandleASyncLoad(handle) != 0) return nullptr;
        record = LookupHandleRecord(handle);
    }
    return record;
}

void InitListLocks() {
    SoundSystemState& s = g_SoundSystem;
    if (!s.listLocksReady) {
        InitTracedLock(&s.sound3DListLock);
        InitTracedLock(&s.cycleListLock);
        InitTracedLock(&s.playingListLock);
        InitTracedLock(&s.streamListLock);
        s.listLocksReady = 1;
    }
    if (!s.mixerLockReady) {
        InitTracedLock(&s.mixerLock);
        s.mixerLockReady = 1;
    }
}

void SetListenerDefaults() {
    SoundListener& l = g_SoundSystem.listener;
    l = SoundListener{};
    l.front[2] = 1.0f;
    l.coneInnerAngle = 2.617994f;
    l.coneOuterAngle = 5.759587f;
    l.coneInnerVolume = 1.0f;
    l.coneOuterVolume = 0.75f;
    l.right[0] = 1.0f;
}

// Ends a stream entry's conversion and lets go of what it reads.
void ReleaseStreamEntry(SoundHandleData* d, int index) {
    StreamSoundEntry& e = d->entries[index];
    const StreamReaderBinding converterSource = e.conversion.binding;
    EndSoundConversion(&e.conversion);
    if (e.image != nullptr) {
        DX_FREE(e.image);
        e.image = nullptr;
    }
    if (d->ownsSource[index] && e.sourceKind == 3 && converterSource.stream != nullptr &&
        converterSource.ops.Close != nullptr) {
        converterSource.ops.Close(converterSource.stream);
    }
    if (e.source.stream != nullptr && e.source.ops.Close != nullptr) {
        e.source.ops.Close(e.source.stream);
        e.source.stream = nullptr;
    }
}

}  // namespace

int StartSoundSystem() {
    SoundSystemState& s = g_SoundSystem;
    if (s.initialised) return -1;
    if (s.outputFrequency == 0) s.outputFrequency = 44100;
    if (s.distanceUnitSet == 0) s.distanceUnit = 1.0f;
    RegisterHandleType(DX_HANDLETYPE_SOUND, static_cast<int>(sizeof(SoundHandleData)),
                       kMaxSoundHandles, &InitSoundHandle, &TerminateSoundHandle, &DumpSoundHandle,
                       u"Sound");
    RegisterHandleType(DX_HANDLETYPE_SOFTSOUND, static_cast<int>(sizeof(SoftSoundHandleData)),
                       kMaxSoftSoundHandles, nullptr, &TerminateSoftSoundHandle, nullptr,
                       u"SoftSound");
    RegisterHandleType(DX_HANDLETYPE_MUSIC, static_cast<int>(sizeof(MusicHandleData)),
                       kMaxMusicHandles, &InitMusicHandle, &TerminateMusicHandle, nullptr,
                       u"Music");
    InitListLocks();
    InitHandleList(&s.sound3DListHead, &s.sound3DListTail);
    InitHandleList(&s.streamListHead, &s.streamListTail);
    InitHandleList(&s.softSoundPlayerListHead, &s.softSoundPlayerListTail);
    InitHandleList(&s.deleteAfterPlayListHead, &s.deleteAfterPlayListTail);
    InitHandleList(&s.playingListHead, &s.playingListTail);
    InitHandleList(&s.cycleListHead, &s.cycleListTail);
    InitPointerList(&s.mixerListHead, &s.mixerListTail);
    FillSoundTables();
    s.totalMixedFrames = 0;
    if (StartSoundOutput() != 0) {
        ShutdownSoundSystem();
        return -1;
    }
    SetListenerDefaults();
    s.loadMode = 0;
    s.pitchFlag = 0;
    s.pitchRate = 1.0f;
    s.timeStretchFlag = 0;
    s.timeStretchRate = 1.0f;
    s.vorbisSampleWidth = 2;
    s.initialised = 1;
    CompleteSoundOutputStart();
    if (s.softwareMixing) {
        s.overloadRecoveryLength = static_cast<std::int32_t>(s.mixFormat.samplesPerSec / 2);
        s.overloadActive = 0;
        s.overloadProgress = 0;
    }
    if (CreateToneBuffers() == 0) return 0;
    ShutdownSoundSystem();
    return -1;
}

int ShutdownSoundSystem() {
    SoundSystemState& s = g_SoundSystem;
    WriteLogTextUtf16(u"サウンド関連の終了処理... ");
    StopSoundServiceThread();
    ReleaseToneBuffers();
    if (s.initialised) {
        DeleteAllHandlesOfType(DX_HANDLETYPE_SOUND, &IsSoundKept);
        DeleteAllHandlesOfType(DX_HANDLETYPE_SOFTSOUND, &IsSoftSoundPlayer);
        DeleteAllHandlesOfType(DX_HANDLETYPE_SOFTSOUND, &IsPlainSoftSound);
    }
    DeleteAllHandlesOfType(DX_HANDLETYPE_MUSIC, nullptr);
    UnregisterHandleType(DX_HANDLETYPE_SOUND);
    UnregisterHandleType(DX_HANDLETYPE_SOFTSOUND);
    UnregisterHandleType(DX_HANDLETYPE_MUSIC);
    // Also after a start that failed, so that the next start makes them afresh.
    if (s.listLocksReady) {
        DeleteTracedLock(&s.sound3DListLock);
        DeleteTracedLock(&s.cycleListLock);
        DeleteTracedLock(&s.playingListLock);
        DeleteTracedLock(&s.streamListLock);
        s.listLocksReady = 0;
    }
    EndSoundOutput();
    EndSoftwareMixOutput();
    s.initialised = 0;
    WriteLogTextUtf16(u"完了\n");
    return 0;
}

int StopCurrentMusicPlayback() {
    // The module plays no music of its own: the player's music goes to an outside MIDI player.
    return 0;
}

HandleValue AddSoundHandle(int is3D, int keep, int asyncFlag) {
    const HandleValue handle = AllocateHandle(DX_HANDLETYPE_SOUND, asyncFlag, -1);
    if (handle < 0) return -1;
    auto* d = reinterpret_cast<SoundHandleData*>(LookupHandleRecord(handle));
    if (d == nullptr) return -1;
    d->is3D = is3D;
    d->keep = keep;
    if (is3D) {
        SoundSystemState& s = g_SoundSystem;
        DX_LOCK(&s.sound3DListLock);
        InsertHandleListNodeAfter(&s.sound3DListHead, &d->node3D, handle, d);
        DX_UNLOCK(&s.sound3DListLock);
    }
    return handle;
}

SoundHandleData* GetSoundHandleData(HandleValue handle) {
    return reinterpret_cast<SoundHandleData*>(ValidRecord(handle, DX_HANDLETYPE_SOUND));
}

int DeleteAllSounds() {
    if (!g_SoundSystem.initialised) return -1;
    DeleteAllHandlesOfType(DX_HANDLETYPE_SOUND, &IsSoundKept);
    return 0;
}

int IsSoundKept(HandleHeader* record) {
    return reinterpret_cast<SoundHandleData*>(record)->keep;
}

int IsSoftSoundPlayer(HandleHeader* record) {
    return reinterpret_cast<SoftSoundHandleData*>(record)->isPlayer ? 1 : 0;
}

int IsPlainSoftSound(HandleHeader* record) {
    return reinterpret_cast<SoftSoundHandleData*>(record)->isPlayer ? 0 : 1;
}

int DeleteSoftSound(HandleValue handle) {
    if (!g_SoundSystem.initialised || !IsSoundOutputUp()) return -1;
    HandleHeader* record = ValidRecord(handle, DX_HANDLETYPE_SOFTSOUND);
    if (record == nullptr || IsSoftSoundPlayer(record)) return -1;
    return DeleteHandle(handle);
}

void InitSoundHandle(HandleHeader* record) {
    auto* d = reinterpret_cast<SoundHandleData*>(record);
    d->reverbFlag = 0;
    // The reverb presets only matter to 3D sounds, which the player never makes.
    std::memset(d->reverbParameters, 0, sizeof d->reverbParameters);
    for (int i = 0; i < 8; ++i) {
        d->channelVolumes[i] = 0;
        d->channelLevels[i] = 255;
    }
    d->pan = 0;
    d->baseFrequency = 0;
    std::memset(d->position3D, 0, sizeof d->position3D);
    d->radius3D = 14.0f;
    std::memset(d->velocity3D, 0, sizeof d->velocity3D);
    d->pitchRateFlag = 0;
    d->pitchRate = 0;
    d->deleteAfterPlay = 0;
    d->fileStream = 0;
    d->entryCount = 0;
}

int TerminateSoundHandle(HandleHeader* record) {
    auto* d = reinterpret_cast<SoundHandleData*>(record);
    SoundSystemState& s = g_SoundSystem;
    const HandleValue handle = record->handle;
    if (d->isStream) {
        StopStreamPlayback(handle, 0);
    } else if (d->buffers[0].setUp) {
        StopSoundPlayback(handle, 0);
    }
    if (d->is3D) {
        DX_LOCK(&s.sound3DListLock);
        UnlinkHandleListNode(&d->node3D);
        DX_UNLOCK(&s.sound3DListLock);
        DX_LOCK(&s.cycleListLock);
        if (d->inCycleList) {
            UnlinkHandleListNode(&d->cycleNode);
            d->inCycleList = 0;
        }
        DX_UNLOCK(&s.cycleListLock);
    }
    DX_LOCK(&s.playingListLock);
    if (d->inPlayingList) {
        UnlinkHandleListNode(&d->playingNode);
        d->inPlayingList = 0;
    }
    DX_UNLOCK(&s.playingListLock);
    if (d->deleteAfterPlay) {
        UnlinkHandleListNode(&d->deleteAfterPlayNode);
        d->deleteAfterPlay = 0;
    }
    if (!d->isStream) {
        const int count = d->bufferCount < 10 ? d->bufferCount : 10;
        for (int i = 0; i < count; ++i) {
            if (d->buffers[i].setUp) ReleaseSoundBuffer(&d->buffers[i]);
        }
        if (d->pcmReferenceCount != nullptr && --*d->pcmReferenceCount <= 0) {
            DX_FREE(d->pcmData);
            DX_FREE(d->pcmReferenceCount);
        }
        d->pcmData = nullptr;
        d->pcmReferenceCount = nullptr;
        return 0;
    }
    DX_LOCK(&s.streamListLock);
    UnlinkHandleListNode(&d->streamNode);
    DX_UNLOCK(&s.streamListLock);
    const int entries = d->entryCount < 3 ? d->entryCount : 3;
    for (int i = 0; i < entries; ++i) ReleaseStreamEntry(d, i);
    if (d->buffers[0].setUp) ReleaseSoundBuffer(&d->buffers[0]);
    return 0;
}

void DumpSoundHandle(HandleHeader* record) {
    auto* d = reinterpret_cast<SoundHandleData*>(record);
    const unsigned handle = static_cast<unsigned>(record->handle);
    if (d->isStream) {
        WriteLogFormatUtf16(
            u"Handle:0x%08x Type:Stream SamplePerSec:%d BitsPerSample:%d Channels:%d", handle,
            static_cast<int>(d->format.samplesPerSec), d->format.bitsPerSample, d->format.channels);
    } else {
        const int align = d->format.blockAlign ? d->format.blockAlign : 1;
        WriteLogFormatUtf16(
            u"Handle:0x%08x Type:Normal SamplePerSec:%d BitsPerSample:%d Channels:%d Samples:%d",
            handle, static_cast<int>(d->format.samplesPerSec), d->format.bitsPerSample,
            d->format.channels, d->pcmSize / align);
    }
}

int TerminateSoftSoundHandle(HandleHeader* record) {
    auto* d = reinterpret_cast<SoftSoundHandleData*>(record);
    if (d->isPlayer) {
        FreeRingBuffer(&d->queue);
        ReleaseSoundBuffer(&d->playerBuffer);
        // The caller holds the SoftSound type's lock, which guards the player list.
        UnlinkHandleListNode(&d->playerListNode);
    } else {
        DX_FREE(d->wave.samples);
        d->wave.samples = nullptr;
    }
    return 0;
}

void InitMusicHandle(HandleHeader* record) {
    reinterpret_cast<MusicHandleData*>(record)->volume = 255;
}

int TerminateMusicHandle(HandleHeader* record) {
    auto* m = reinterpret_cast<MusicHandleData*>(record);
    if (IsMusicPlaying(record->handle) == 1) StopMusic(record->handle);
    ReleasePlatformMusic(m);
    if (m->data != nullptr) {
        std::memset(m->data, 0, static_cast<std::size_t>(m->dataSize > 0 ? m->dataSize : 0));
        DX_FREE(m->data);
        m->data = nullptr;
    }
    return 0;
}

int IsMusicPlaying(HandleValue handle) {
    if (!IsSoundOutputUp()) return -1;
    auto* m = reinterpret_cast<MusicHandleData*>(ValidRecord(handle, DX_HANDLETYPE_MUSIC));
    if (m == nullptr) return -1;
    return IsPlatformMusicPlaying(m);
}

int StopMusic(HandleValue handle) {
    if (!IsSoundOutputUp()) return -1;
    auto* m = reinterpret_cast<MusicHandleData*>(ValidRecord(handle, DX_HANDLETYPE_MUSIC));
    if (m == nullptr) return -1;
    StopPlatformMusic(m);
    m->playing = 0;
    m->playStarted = 0;
    return 0;
}

// ---- Tone buffers ---------------------------------------------------------------------------

int CreateToneBuffers() {
    SoundFormat format{};
    format.formatTag = kSoundFormatPcm;
    format.channels = 1;
    format.samplesPerSec = 44100;
    format.avgBytesPerSec = 88200;
    format.blockAlign = 2;
    format.bitsPerSample = 16;
    for (ToneBuffer& tone : g_SoundSystem.tones) {
        if (tone.buffer.setUp ||
            SetUpSoundBuffer(&tone.buffer, kToneBufferFrames * 2, &format, nullptr, 0) != 0) {
            WriteLogTextUtf16(u"BEEP音用のサウンドバッファの作成に失敗しました\n");
            return -1;
        }
    }
    return 0;
}

int ReleaseToneBuffers() {
    SoundSystemState& s = g_SoundSystem;
    for (ToneBuffer& tone : s.tones) {
        if (tone.buffer.setUp) ReleaseSoundBuffer(&tone.buffer);
        if (tone.waveTable != nullptr) {
            DX_FREE(tone.waveTable);
            tone.waveTable = nullptr;
        }
        tone.restoreVolume = tone.restoreVolumeTime = 0;
        tone.stopFlag = tone.stopTime = 0;
    }
    s.tonePlaying = 0;
    s.currentTone = 0;
    return 0;
}

}  // namespace ZiDaz
