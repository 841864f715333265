// The sound module's shared state, its buffer layer and the software mixer. A SoundBuffer is one
// voice: in software-mixing mode it is a view on shared wave data that the mixer walks on the
// output thread; every buffer operation that moves a playing voice does so under the mixer lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DuZuderConvert.h"
#include "Main/DxHandle.h"
#include "Main/DxRingBuffer.h"
#include "Main/DxThread.h"

namespace ZiDaz {

// Wave data shared by a buffer and its duplicates; freed when the last holder lets go.
struct SoundBufferData {
    unsigned char* data;        // 16-byte aligned data area inside this block
    unsigned char* secondData;  // room for a stereo copy of mono data, or null
    std::int32_t size;          // bytes of the data area
    std::int32_t referenceCount;
};

struct SoundBuffer {
    std::int32_t setUp;
    std::int32_t playing;
    std::int32_t loop;
    std::int32_t position;      // frames
    std::int32_t mixPosition;   // frames: where the mixer goes on
    double fractionalPosition;  // mix position with the fraction of a resampled voice
    std::int32_t resampling;
    std::int32_t length;     // frames
    std::int32_t frequency;  // Hz, -1 for the format's own rate
    std::int32_t frequencySet;
    std::int32_t pan;        // -10000..10000
    std::int32_t volume[8];  // hundredths of a decibel
    float gainFactor;        // software mixing: linear gain
    float panFactor;         // software mixing: -1.0 .. 1.0, positive lowers the left channel
    SoundFormat format;
    SoundBufferData* waveData;
    std::int32_t startStampValid;
    std::int64_t
        startStamp;  // in this buffer's frames: the output frame at which position 0 played
    std::int32_t inMixerList;
    PointerListNode mixerNode;
    std::int32_t startDelay;
    std::int32_t is3D;
    std::int32_t effectTailState;
    std::int32_t effectTailTime;
    float position3D[3];
    float frontDirection[3];
    float topDirection[3];
    float velocity3D[3];
    float platform3D[4];
    float radius3D;
    float platform3DValue;
    std::int32_t changed3D;
    float gain3D;
    float pan3D;
    // The platform's side: an XAudio2 source voice or a DirectSound buffer, null when none.
    void* platformVoice;
    void* voiceCallback;          // XAudio2: the voice's callback object
    std::uint32_t voiceChannels;  // XAudio2: 2 for a mono buffer, else its channels
};

// The fixed 3D listener; only the platform's 3D step would read it.
struct SoundListener {
    float position[3];
    float front[3];
    float unused[6];
    float coneInnerAngle;
    float coneOuterAngle;
    float coneInnerVolume;
    float coneOuterVolume;
    float right[3];
};

// A mono 16-bit ring of half a second that a tone is copied into.
struct ToneBuffer {
    SoundBuffer buffer;
    std::int32_t writeCursor;
    std::int32_t waveIndex;
    std::int32_t waveLength;
    std::int16_t* waveTable;
    std::int32_t restoreVolume;
    std::int32_t restoreVolumeTime;
    std::int32_t stopFlag;
    std::int32_t stopTime;
};
inline constexpr int kToneBufferCount = 3;
inline constexpr int kToneBufferFrames = 22050;

// The parts of the module's state that the buffer layer and the mixer share.
struct SoundSystemState {
    std::int32_t initialised;
    std::int32_t outputFrequency;
    PointerListNode mixerListHead;
    PointerListNode mixerListTail;
    TracedLock mixerLock;
    std::int32_t mixerLockReady;
    SoundFormat mixFormat;
    std::int32_t mixValidBits;
    std::int32_t mixFloatSamples;
    std::int32_t mixChannelMask;
    std::uint64_t totalMixedFrames;
    std::int32_t mixerFloat;
    std::int32_t mixBufferCapacity;
    void* mixBuffer;
    std::int32_t overloadActive;
    float overloadGain;
    std::int32_t overloadRecoveryLength;
    std::int32_t overloadProgress;
    std::int32_t softwareMixing;
    std::int32_t outputChannelCount;
    std::int32_t distanceUnitSet;
    float distanceUnit;
    SoundListener listener;
    HandleListNode sound3DListHead;
    HandleListNode sound3DListTail;
    TracedLock sound3DListLock;
    HandleListNode playingListHead;
    HandleListNode playingListTail;
    TracedLock playingListLock;
    HandleListNode streamListHead;
    HandleListNode streamListTail;
    TracedLock streamListLock;
    HandleListNode deleteAfterPlayListHead;
    HandleListNode deleteAfterPlayListTail;
    HandleListNode cycleListHead;
    HandleListNode cycleListTail;
    TracedLock cycleListLock;
    std::int32_t listLocksReady;
    std::int32_t create3D;
    std::int32_t volumeCurve;
    std::int32_t musicDeviceMode;
    std::int32_t xaudio2Runs;
    // Load settings copied into every load.
    std::int32_t loadMode;
    std::int32_t pitchFlag;
    float pitchRate;
    std::int32_t timeStretchFlag;
    float timeStretchRate;
    std::int32_t vorbisSampleWidth;
    std::int32_t tonePlaying;
    std::int32_t currentTone;
    ToneBuffer tones[kToneBufferCount];
    // Every soft-sound player, newest first; walked only under the SoftSound handle type's lock.
    HandleListNode softSoundPlayerListHead;
    HandleListNode softSoundPlayerListTail;
    std::int16_t sineTable[65536];
    std::int16_t eightBitTable[256];
};

extern SoundSystemState g_SoundSystem;

// Fills the sine table (16384 x sin, single precision, truncated) and the 8-bit table.
void FillSoundTables();
// Makes the mixer ready for an output that mixes in software: the mix format, the lock, the
// tables and the overload recovery length of half a second.
int SetUpSoftwareMixOutput(const SoundFormat* format, int validBits, int floatSamples,
                           int channelMask);
// Drops the mix buffer and the software-mixing state again.
int EndSoftwareMixOutput();
int AllocateMixBuffer(int floatSamples, int frames);
std::uint64_t ConvertSamplesToMs(std::int32_t rate, std::uint64_t samples);

// Linear factors of the software mix.
float SoundVolumeToGain(std::int32_t volume);
float SoundPanToFactor(std::int32_t pan);

SoundBufferData* AllocateSoundBufferData(int size, int secondArea);
SoundBufferData* RetainSoundBufferData(SoundBufferData* block);
void ReleaseSoundBufferData(SoundBufferData* block);

int SetUpSoundBuffer(SoundBuffer* buffer, int size, const SoundFormat* format,
                     const SoundBuffer* source, int is3D);
int SetUpSharedSoundBuffer(SoundBuffer* buffer, const SoundBuffer* source, int is3D);
int ReleaseSoundBuffer(SoundBuffer* buffer);
int IsSoundBufferPlaying(SoundBuffer* buffer);
int PlaySoundBuffer(SoundBuffer* buffer, int loop);
int StopSoundBuffer(SoundBuffer* buffer, int flag);
int GetSoundBufferPosition(SoundBuffer* buffer, std::int32_t* play, std::int32_t* write);
int SetSoundBufferPosition(SoundBuffer* buffer, std::int32_t bytes);
int GetSoundBufferFrequency(SoundBuffer* buffer, std::int32_t* hz);
int SetSoundBufferFrequency(SoundBuffer* buffer, std::int32_t hz);
int GetSoundBufferPan(SoundBuffer* buffer, std::int32_t* pan);
int SetSoundBufferPan(SoundBuffer* buffer, std::int32_t pan);
int GetSoundBufferVolume(SoundBuffer* buffer, int channel, std::int32_t* volume);
int SetSoundBufferVolume(SoundBuffer* buffer, int channel, std::int32_t volume);
int SetSoundBufferVolumeAll(SoundBuffer* buffer, std::int32_t volume);
int ApplySoundBufferVolume(SoundBuffer* buffer);
int LockSoundBuffer(SoundBuffer* buffer, std::int32_t offset, std::int32_t size, void** first,
                    std::int32_t* firstLength, void** second, std::int32_t* secondLength);
int UnlockSoundBuffer(SoundBuffer* buffer, void* first, std::int32_t firstLength, void* second,
                      std::int32_t secondLength);

// Where converted bytes go within a locked buffer: the first region, then the wrapped second.
struct SoundBufferLockRegion {
    std::int32_t startOffset;
    void* first;
    void* second;
    std::int32_t firstLength;
    std::int32_t secondLength;
    std::int32_t firstWritten;
    std::int32_t secondWritten;
    std::int32_t firstFree;
    std::int32_t secondFree;
};

// Fills the regions with up to `count` converted bytes; returns the bytes written.
std::int32_t CopyConverterOutputToLockedRegion(SoundBufferLockRegion* region,
                                               SoundConvertState* converter, std::int32_t count);

// Sums every playing voice into `count` frames written at d1 (left, or the only channel) and d2
// (right), both moving on by `stride` bytes per frame. -1 when the output does not mix in software.
int MixSoundBuffers(void* d1, void* d2, std::int32_t stride, std::uint32_t count);

// ---- Sound handles ----

// One file of a stream sound, decoded while it plays.
struct StreamSoundEntry {
    std::uint8_t loopCount;   // 0 once, 255 looped
    std::int32_t sourceKind;  // 0 decoded WAVE image, 2 file image in memory, 3 the open file
    void* image;              // kinds 0 and 2: the block the conversion reads, owned by the sound
    std::int64_t imageSize;
    StreamReaderBinding source;  // kinds 0 and 2: memory access over a MemoryStream
    std::int64_t loopPoint;
    std::int64_t loopStart;  // -1: at the end of the data
    SoundConvertState conversion;
};

// The record behind a Sound handle.
struct SoundHandleData {
    HandleHeader header;
    HandleListNode node3D;
    std::int32_t is3D;
    std::int32_t inCycleList;
    HandleListNode cycleNode;
    std::int32_t inPlayingList;
    HandleListNode playingNode;
    std::int32_t deleteAfterPlay;
    HandleListNode deleteAfterPlayNode;
    std::int32_t keep;  // DeleteAllSounds leaves it alone
    std::int32_t bufferCount;
    std::int32_t pausedByDeactivation[10];
    std::int32_t wasPlaying[10];
    SoundBuffer buffers[10];
    SoundFormat format;
    std::int32_t isStream;
    // Stream state.
    std::int32_t playType;
    std::int32_t joinHandle;
    std::int32_t joinedCount;
    std::int32_t currentUser;
    std::int32_t deferredDelete;
    std::int32_t ringSize;
    std::int32_t writeOffset;
    std::int32_t windowStart;
    StreamSoundEntry entries[3];
    std::uint8_t ownsSource[3];
    std::int32_t entryCount;
    std::int32_t currentEntry;
    std::int32_t passCount;
    std::int64_t decodedBytes;
    std::int32_t fileStream;
    std::int64_t totalSamples;
    std::int64_t playBytes;
    std::uint32_t lastCursor;
    std::uint8_t streamActive;
    std::uint8_t endReached;
    std::uint8_t loopPending;
    std::uint8_t allPlayed;
    std::int64_t resumeBytes;
    std::int32_t noLoop;
    std::uint32_t endOffset;
    std::uint32_t endCursor;
    std::uint32_t jumpOffset;
    HandleListNode streamNode;
    // PCM data, shared with clones through the reference count.
    std::int32_t pcmSize;
    void* pcmData;
    std::int32_t* pcmReferenceCount;
    std::int32_t bufferFlags[10];
    std::int32_t currentBuffer;
    std::int32_t reverbFlag;
    unsigned char reverbParameters[52];
    std::int32_t channelVolumes[8];
    std::int32_t channelLevels[8];
    std::int32_t pan;
    std::int32_t baseFrequency;
    float position3D[3];
    float radius3D;
    float velocity3D[3];
    std::int32_t pitchRateFlag;
    float pitchRate;
    // Overrides for the next play, each used once.
    std::uint8_t nextVolumeFlags[8];
    std::uint8_t nextPanFlag;
    std::uint8_t nextFrequencyFlag;
    std::uint8_t nextPosition3DFlag;
    std::uint8_t nextRadius3DFlag;
    std::uint8_t nextVelocity3DFlag;
    std::int32_t nextVolumes[8];
    std::int32_t nextPan;
    std::int32_t nextFrequency;
    float nextPosition3D[3];
    float nextRadius3D;
    float nextVelocity3D[3];
};

// The record behind a Music handle; nothing in the player creates one.
struct MusicHandleData {
    HandleHeader header;
    std::int32_t playing;
    std::int32_t playStarted;
    std::int32_t volume;
    void* data;
    std::int32_t dataSize;
    void* platformMusic;
};

// The module's start and end, called by the library's start and end.
int StartSoundSystem();
int ShutdownSoundSystem();
int StopCurrentMusicPlayback();

// A new Sound handle with the 3D and keep flags, or -1.
HandleValue AddSoundHandle(int is3D, int keep, int asyncFlag);
// The record of a valid Sound handle (a pending load finished first), or null.
SoundHandleData* GetSoundHandleData(HandleValue handle);
// Deletes every Sound handle without the keep flag; -1 while the module is down.
int DeleteAllSounds();
int IsSoundKept(HandleHeader* record);
int IsSoftSoundPlayer(HandleHeader* record);
int IsPlainSoftSound(HandleHeader* record);
// Deletes a SoftSound that holds wave data; -1 for a player or an invalid handle.
int DeleteSoftSound(HandleValue handle);

// Handle-type callbacks.
void InitSoundHandle(HandleHeader* record);
int TerminateSoundHandle(HandleHeader* record);
void DumpSoundHandle(HandleHeader* record);
int TerminateSoftSoundHandle(HandleHeader* record);
void InitMusicHandle(HandleHeader* record);
int TerminateMusicHandle(HandleHeader* record);
int IsMusicPlaying(HandleValue handle);
int StopMusic(HandleValue handle);

// The three tone buffers, made and released with the module.
int CreateToneBuffers();
int ReleaseToneBuffers();

// Service steps the pump or the sound service thread runs.
int RefreshStreamSounds();
int ServiceSoundBufferCycles();
int PruneStoppedSounds();
int DeleteFinishedSounds();
int UpdateMusicPlayState();
// The steps the message pump runs after the window messages of a call: on a one-processor machine
// the refill, the soft-sound feed, the cycle step and the pruning, then always the deletion of
// finished sounds. Nothing while the module is down.
int RunPumpSoundService();
// Deactivation pause: 1 pauses every playing sound (or player), 0 resumes them.
int PauseSounds(int pause);
int PauseSoftSoundPlayers(int pause);
int IsStreamSoundPlaying(HandleValue handle);
int FillToneBuffer(int index);

// ---- Playback control ----

// How a play runs: 0 returns when the sound has ended, 1 returns at once, 3 loops until stopped.
enum SoundPlayType : int {
    DX_PLAYTYPE_NORMAL = 0,
    DX_PLAYTYPE_BACK = 1,
    DX_PLAYTYPE_LOOP = 3,
};

int StartSoundPlayback(HandleValue handle, int playType, int restart);
// Stops a sound's play (mode 0 now, 1 at the end of the pass).
int StopSoundPlayback(HandleValue handle, int mode);
int StopStreamPlayback(HandleValue handle, int mode);
int IsSoundPlaying(HandleValue handle);
std::int64_t GetSoundPositionMs(HandleValue handle);
int SetSoundPositionMs(std::int64_t ms, HandleValue handle);
std::int64_t GetSoundPositionBytes(HandleValue handle);
int SetSoundPositionBytes(std::int64_t bytes, HandleValue handle);
std::int64_t GetSoundLengthSamples(HandleValue handle);
std::int64_t GetSoundLengthMs(HandleValue handle);
int SetSoundFrequency(int hz, HandleValue handle);
int GetSoundFrequency(HandleValue handle);
int SetSoundVolumeLevel(int level, HandleValue handle);
int SetSoundVolume(int volume, HandleValue handle);
int GetSoundVolume(int channel, HandleValue handle);
int SetSoundVolumeCurve(int flag);
int SetSoundPan(int pan, HandleValue handle);
int GetSoundPan(HandleValue handle);
// The hundredths of a decibel a 0..255 level gives under the curve flag.
std::int32_t SoundLevelToVolume(int level, int curve);
std::int64_t ConvertMsToSamples(std::int32_t rate, std::int64_t ms);

// Internal steps of a play.
int PrepareNextSoundBuffer(SoundHandleData* d, int restart);
int StartStreamPlayback(HandleValue handle, int playType, int restart);
int PrepareStreamForPlay(HandleValue handle, SoundHandleData* d, int playType, int restart,
                         SoundBuffer** buffer);

// The Sound handle type's lock, which guards every stream's state.
void LockSoundType();
void UnlockSoundType();

// 3D parameters of a buffer set up with 3D processing (no buffer of the player is).
int SetSoundBuffer3DPosition(SoundBuffer* buffer, float x, float y, float z);
int SetSoundBuffer3DVelocity(SoundBuffer* buffer, float x, float y, float z);
int SetSoundBuffer3DRadius(SoundBuffer* buffer, float radius);
int ApplySoundBuffer3DParams(SoundBuffer* buffer, int force);

// ---- Soft sounds: wave data held in memory, or a player fed by the program ----

// The record behind a SoftSound handle. Sample data uses the format, count and samples; a player
// uses the list node in place of the count and samples, and the fields after them.
struct SoftSoundHandleData {
    HandleHeader header;
    std::int32_t isPlayer;
    SoundFormat format;
    union {
        struct {
            std::int64_t sampleCount;  // frames
            unsigned char* samples;    // block align x sample count bytes, tracked memory
        } wave;
        HandleListNode playerListNode;  // in the soft-sound player list, data = this record
    };
    std::int32_t queuedSamples;
    RingBuffer queue;
    std::int32_t pausedByDeactivation;
    std::int32_t wasPlaying;
    SoundBuffer playerBuffer;
    std::int32_t bufferBytes;
    std::int32_t writePosition;
    std::int32_t endPosition;
    std::int32_t lastPlayPosition;
    std::int32_t endPassed;
    std::int32_t minimumQueueBytes;
    std::int32_t leadBytes;
    std::int32_t playing;
};

struct ASyncLoadJob;

// The settings of one sound load. The soft-sound loader uses only the three converter options.
struct SoundLoadParams {
    std::int32_t keepFlag;
    std::int32_t loadMode;
    std::int32_t pitchFlag;
    float pitchRate;
    std::int32_t timeStretchFlag;
    float timeStretchRate;
    std::int64_t loopPoint;  // samples
    std::int64_t loopStart;  // samples
    std::int32_t ignoreLoopInfo;
    std::int32_t skipMask;           // handed to BeginSoundConversion
    std::int32_t vorbisSampleWidth;  // handed to BeginSoundConversion
    std::int32_t movieFlag;          // handed to BeginSoundConversion
};

// Creation. With a format handle of 0 or more the channels, bits, rate and float flag come from
// that soft sound; the count always comes from the argument. A float sound has 32 bits whatever
// the bits argument says. The new handle, or -1.
HandleValue CreateSoftSound(int isPlayer, int channels, int bits, int rate, std::int64_t count,
                            int isFloat, HandleValue formatHandle, int async);
// Sample data, asynchronous when the library-wide asynchronous-loading setting is on.
HandleValue CreateSoftSoundOfFormat(int channels, int bits, int rate, std::int64_t count,
                                    int isFloat);
// The whole decoded sound of the file at `path`, or (with a null path) of the file image.
HandleValue LoadSoftSoundWithParams(const SoundLoadParams* params, const char16_t* path,
                                    const void* image, std::size_t imageSize, int async);
// The workers of the two creating operations and their load-job functions.
int SetUpSoftSoundHandle(HandleValue handle, int isPlayer, int channels, int bits, int rate,
                         std::int64_t count, int isFloat, HandleValue formatHandle, int inJob);
int LoadSoftSoundIntoHandle(const SoundLoadParams* params, HandleValue handle, const char16_t* path,
                            const void* image, std::size_t imageSize, int inJob);
void RunCreateSoftSoundJob(ASyncLoadJob* job);
void RunSoftSoundLoadJob(ASyncLoadJob* job);
// Sets a fresh soft sound's kind and format and makes its storage: the samples (not cleared), or
// a player's queue, one-second buffer and place in the player list. 0 or -1.
int AddSoftSoundData(HandleValue handle, int isPlayer, int channels, int bits, int rate,
                     int isFloat, std::uint32_t countLow, std::int32_t countHigh);

// Queries; both wait for a pending asynchronous load of the handle and refuse players.
int GetSoftSoundFormat(HandleValue handle, int* channels, int* bits, int* rate, int* isFloat);
std::int64_t GetSoftSoundSampleCount(HandleValue handle);

// Whole-sound operations between two sample-data soft sounds of equal count and channels.
int CopySoftSoundSamples(HandleValue source, HandleValue destination);
int ConvertSoftSoundToFloat(HandleValue source, HandleValue destination);
int ConvertSoftSoundFromFloat(HandleValue source, HandleValue destination);

// One feed pass over every playing player: -1 when the sound output is not started, else 0.
int FeedSoftSoundPlayers();

// The time stretch's figures: lags and correlation length by sample rate, the ratio q (512 x S /
// D) and the source samples n that one step consumes beside its lag.
struct TimeStretchConstants {
    std::int64_t maxLag;
    std::int64_t minLag;
    std::int64_t corrLen;
};
TimeStretchConstants ComputeTimeStretchConstants(std::uint32_t rate);
std::int64_t ComputeTimeStretchRatio(std::int64_t sourceCount, std::int64_t destinationCount);
std::int64_t ComputeTimeStretchStep(std::int64_t q, std::int64_t lag);

// Whole-sound transforms into a destination of the length wanted: the time stretch keeps the
// pitch, the resampler changes pitch and duration together. 0 or -1.
int TimeStretchSoftSound(HandleValue source, HandleValue destination);
int ResampleSoftSound(HandleValue source, HandleValue destination);

// ---- end of soft sounds ----

// ---- Loading ----

enum class SoundLoadMode : int {
    DecodeToPcm = 0,
    MemoryStream = 2,
    FileStream = 3,
};

int SetSoundLoadMode(int mode);
int GetSoundLoadMode();
int SetSoundLoadIgnoreLoopInfo(int flag);
void InitSoundLoadParams(SoundLoadParams* params);
HandleValue LoadSoundFromMemoryImage(const void* image, std::size_t size, int bufferCount,
                                     HandleValue joinHandle);
int LoadSoundFromMemoryImageWithParams(const SoundLoadParams* params, int create,
                                       HandleValue handle, const void* image, std::size_t size,
                                       int bufferCount, HandleValue joinHandle, int async,
                                       int onLoadThread);
HandleValue LoadBackgroundMusicFile(const char* path);
HandleValue LoadBackgroundMusicFileWide(const char16_t* path);
HandleValue LoadSoundFromFileWithParams(const SoundLoadParams* params, const char16_t* path,
                                        int bufferCount, HandleValue joinHandle, int async,
                                        int onLoadThread);
int LoadSoundMemByMemImageBase(SoundLoadParams* params, HandleValue handle, const void* image,
                               std::size_t size, int bufferCount, HandleValue joinHandle,
                               int onLoadThread);
int LoadSoundFileIntoHandle(SoundLoadParams* params, HandleValue handle, const char16_t* path,
                            int bufferCount, HandleValue joinHandle, int onLoadThread);
void RunSoundMemoryImageLoadJob(ASyncLoadJob* job);
void RunSoundFileLoadJob(ASyncLoadJob* job);
int CreateSoundBuffers(const SoundFormat* format, int dataSize, int isStream, int count,
                       HandleValue handle, HandleValue source, int onLoadThread);
// A WAVE file image of the PCM (tracked memory): 0, or -1 when it cannot be allocated.
int BuildWaveFileImage(void** image, std::uint32_t* imageSize, const SoundFormat* format,
                       int formatSize, const void* pcm, std::uint32_t pcmSize);
int ReadFileIntoMemory(const char16_t* path, void** image, std::size_t* size, int logOpenFailure);
HandleValue CloneSoundHandle(HandleValue handle, int bufferCount);
int ApplyLoadPitchAndTimeStretch(HandleValue handle, const SoundLoadParams* params,
                                 HandleValue source, int bufferCount, int onLoadThread);

// ---- Loop information ----

int SetSoundLoopPoint(std::int64_t sample, HandleValue handle);
int SetSoundLoopPositionMs(std::int64_t ms, HandleValue handle);
int SetSoundLoopStart(std::int64_t sample, HandleValue handle);
int SetStreamLoopPoint(std::int64_t sample, HandleValue handle, int onLoadThread);
int SetStreamLoopStart(std::int64_t sample, HandleValue handle, int onLoadThread);
int ApplySoundLoopSamples(std::int64_t loopPoint, std::int64_t loopStart, HandleValue handle,
                          int onLoadThread);
int MakeLoopTextFileName(const char16_t* soundPath, char16_t* out, std::size_t outBytes);
int ReadLoopTextFile(const char16_t* path, std::int32_t* loopPoint, std::int32_t* loopStart);
// The loop text file's bytes (any encoding by its mark): 0 with both values, or -1.
int ParseLoopText(const void* bytes, std::size_t size, std::int32_t* loopPoint,
                  std::int32_t* loopStart);
int ConvertSoundToStreamSound(HandleValue handle);

// ---- Stream sounds ----

int AddSreamSound(SoundLoadParams* params, const StreamReaderBinding* source,
                  std::uint8_t loopCount, HandleValue handle, int kind, int* sourceStillNeeded,
                  HandleValue joinHandle, int onLoadThread);
int AddStreamSoundFromFile(SoundLoadParams* params, const char16_t* path, std::uint8_t loopCount,
                           HandleValue handle, int kind, HandleValue joinHandle, int onLoadThread);
int AddStreamSoundFromMemoryImage(SoundLoadParams* params, const void* image, std::size_t size,
                                  std::uint8_t loopCount, HandleValue handle, int loadMode,
                                  HandleValue joinHandle, int onLoadThread);
int ReadStreamSourceIntoMemory(const StreamReaderBinding* source, void** block, std::size_t* size);
int PrefillStreamSound(HandleValue handle, int onLoadThread);
int RefillStreamSoundBuffer(HandleValue handle, int onLoadThread);
int UpdateStreamPlayPosition(HandleValue handle, std::int32_t cursor, int onLoadThread);
int AdvanceStreamEntry(SoundHandleData* d, SoundBufferLockRegion* region, std::int32_t cursor);
void WriteStreamSilence(SoundHandleData* d, SoundBufferLockRegion* region, std::int32_t bytes);
int AcquireStreamOutputBuffer(HandleValue handle, SoundHandleData* d, SoundBuffer** buffer,
                              int takeOver);
std::int64_t GetStreamPositionBytes(HandleValue handle);
std::int64_t GetStreamPositionMs(HandleValue handle);
int MoveStreamPosition(std::int64_t bytes, HandleValue handle, int onLoadThread);
int SetStreamPositionBytes(std::int64_t bytes, HandleValue handle);
int SetStreamPositionMs(std::int64_t ms, HandleValue handle);
// Ring size, look-ahead window and low-water level (in 1/512 s) of a stream of this format.
struct StreamSizes {
    std::int32_t ring;
    std::int32_t window;
    std::int32_t lowWater;
};
StreamSizes ComputeStreamSizes(const SoundFormat& format, int fileStream);

}  // namespace ZiDaz
