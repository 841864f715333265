// The game's sound manager: turns the system database's sound lists (BGM, BGS and sound effects)
// into the library's Sound handles and keeps them, plays and cross-fades background music and
// sound, schedules sound effects after a delay and stops them by tag, updates volumes once per
// frame, and plays sounds named by file name through the ten spare entries at the end of every
// sound list. MIDI background music goes to the MIDI player; while no MIDI player is linked its
// calls are absent and do nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct Game_System;

enum class SoundKind : std::int32_t {
    Bgm = 0,
    Bgs = 1,
    Se = 2,
};

// The data folder relative to the current folder, ending in its separator ("Data/" by default);
// file names of sounds played by name are found below it, and it keys the file-name caches.
extern std::string DataFolder;
// 1 unless the game asked for MIDI and the MIDI player could not be loaded.
extern std::int32_t MidiAvailable;

// The library calls the manager makes. The defaults are the game library's; tests may record them.
struct SoundLibraryCalls {
    int (*setLoadMode)(int mode);
    int (*setLoadIgnoreLoopInfo)(int flag);
    // A new sound from a file image (copied by the library), or -1.
    std::int32_t (*loadFromMemoryImage)(const void* image, std::size_t size, int bufferCount,
                                        std::int32_t joinHandle);
    std::int32_t (*cloneSound)(std::int32_t handle, int bufferCount);
    int (*deleteSound)(std::int32_t handle);
    int (*deleteAllSounds)();
    int (*getFrequency)(std::int32_t handle);
    int (*setFrequency)(int hz, std::int32_t handle);
    int (*startPlayback)(std::int32_t handle, int playType, int restart);
    int (*stopPlayback)(std::int32_t handle, int mode);
    int (*isPlaying)(std::int32_t handle);
    int (*setPositionMs)(std::int64_t ms, std::int32_t handle);
    int (*setVolumeLevel)(int level, std::int32_t handle);
    int (*setLoopPoint)(std::int64_t sample, std::int32_t handle);
    int (*setLoopPositionMs)(std::int64_t ms, std::int32_t handle);
    int (*setLoopStart)(std::int64_t sample, std::int32_t handle);
    void (*waitPumpingMessages)(int milliseconds);
};
SoundLibraryCalls& GetSoundLibraryCalls();
void ResetSoundLibraryCalls();

// The MIDI player's calls. A null entry is an absent player: the call does nothing.
struct MidiPlayerCalls {
    void (*addListFromMemory)(std::int32_t listId, const void* image, std::size_t size);
    void (*deleteListItem)(std::int32_t listId);
    void (*play)(std::int32_t listId, std::int32_t seekMs, std::int32_t keyShift);
    void (*stop)();
    void (*pause)();
    void (*restart)();
    // 0 is full volume, -127 silent.
    void (*setMasterVolume)(std::int32_t volume);
    void (*setMasterTempo)(float tempo);
};
MidiPlayerCalls& GetMidiPlayerCalls();
// Every entry null again.
void ResetMidiPlayerCalls();

// The MIDI master volume sent for a value on the player's scale (0 full, -127 silent): the range
// below -110 is halved for current game data; old data (version 210 or lower) halves every
// value that is not above 0.
std::int32_t MidiVolumeCurve(std::int32_t x);

// Loop tags of a music file: the values of "LOOPSTART=" and "LOOPLENGTH=" found within the first
// 1000 bytes of the image (0 when absent). A value stops at the largest sample position the
// library keeps (a signed 32-bit number), and nothing is read outside the image.
struct SoundLoopTags {
    std::int32_t loopStart = 0;
    std::int32_t loopLength = 0;
};
SoundLoopTags ScanLoopTags(const std::uint8_t* image, std::size_t size);

class Game_SoundManager {
  public:
    // Loaded sounds per kind, by database id (a missing id reads as 0).
    std::array<std::map<std::int32_t, std::int32_t>, 3> soundsById;
    // The frequency each sound had when loaded; tempos scale it.
    std::map<std::int32_t, std::int32_t> baseFrequency;
    // "LOOPSTART=" of a BGM file, and "LOOPSTART=" + "LOOPLENGTH=" (in samples).
    std::map<std::int32_t, std::int32_t> loopPointByHandle;
    std::map<std::int32_t, std::int32_t> loopStartByHandle;
    std::int32_t previousBgmHandle = 0, currentBgmHandle = 0;
    std::int32_t previousBgsHandle = 0, currentBgsHandle = 0;
    // Sixtieths of a second left in the running fade (-1 none), and its whole length.
    std::int32_t bgmFadeLeft = -1, bgsFadeLeft = -1;
    std::int32_t bgmFadeLength = -1, bgsFadeLength = -1;
    // Target volumes in percent after the master volume.
    std::int32_t bgmVolume = 100, bgsVolume = 100;
    std::int32_t bgmTempo = 100, bgsTempo = 100;
    // Written by the event script and the map; not read here.
    std::int32_t bgmVolumeBeforeChange = 100, bgsVolumeBeforeChange = 100;
    std::int32_t previousBgmVolume = 100, previousBgsVolume = 100;
    std::int32_t bgmFadeFromVolume = 0, bgsFadeFromVolume = 0;
    // The sound-effect schedule: four lists of the same length.
    std::vector<std::int32_t> scheduledSeHandles, scheduledSeDelays, scheduledSeValues,
        scheduledSeTags;
    // Per BGM id: 1 MIDI registered under list id id + 1, -1 MIDI file missing, 0 not MIDI.
    std::vector<std::int32_t> bgmMidiState;
    bool midiPlaying = false;
    bool midiWasPlaying = false;
    bool listsPrepared = false;
    std::int32_t currentMidiListId = 0;
    // Effects replaced in a spare slot while still playing, kept so that a stop reaches them.
    std::vector<std::int32_t> replacedPlayingSeHandles;
    // Percent to the library's 0..255 level: 2.5, or 1.0 for game data of version 210 or lower.
    double seVolumeScale = 2.5;

    // Sounds played by file name, by path (DataFolder + name): BGM and BGS share the first.
    static std::map<std::string, std::int32_t> musicFileSounds;
    static std::map<std::string, std::int32_t> seFileSounds;

    Game_SoundManager();
    ~Game_SoundManager();
    Game_SoundManager(const Game_SoundManager&) = default;
    Game_SoundManager& operator=(const Game_SoundManager&) = default;

    std::int32_t PrepareLists();
    std::int32_t Reset();
    void LoadMidiFiles();
    bool LoadSound(SoundKind kind, std::int32_t id);
    void LoadSoundFile(SoundKind kind, std::int32_t id, std::string name);
    void ReadLoopTags(std::int32_t handle, const std::uint8_t* image, std::size_t size);
    bool ReleaseSound(SoundKind kind, std::int32_t id);
    void ReleaseSoundByHandle(SoundKind kind, std::int32_t handle);
    void ReleaseSoundFile(std::string path);
    bool FreeSounds(bool all);
    std::int32_t CountLoadedSounds() const;

    // Plays id of the kind (-1 stops; 65535 is -1). fade: fade time (BGM, BGS) or delay (SE) in
    // sixtieths of a second; start: position in milliseconds (BGM, BGS); tag: SE only.
    void Play(SoundKind kind, std::int32_t id, std::int32_t fade, std::int32_t start,
              std::int32_t tag);
    // Sets the BGM or BGS target volume (percent after the master volume) without starting a
    // volume change; with no fade running the playing sound takes it at once.
    void SetMusicVolumeNow(SoundKind kind, std::int32_t volume);
    // Once per frame.
    void Update();
    // Stops the scheduled effects of the tag (-1 all).
    void StopSoundEffects(std::int32_t tag);
    // Empties the schedule without stopping anything; true.
    bool ClearScheduledSounds();
    // Plays a sound effect of the list unless its id is negative or its file name empty.
    void PlaySystemSoundEffect(std::int32_t id);
    // Registers a file in the kind's next spare slot and returns the slot; -1 for an empty name,
    // -10 when nothing more is to be played ("INITIALIZE", or the current BGM or BGS glided).
    std::int32_t PlayFile(SoundKind kind, std::int32_t fade, std::int32_t loop, std::int32_t volume,
                          std::int32_t tempo, std::int32_t start, std::string text);

  private:
    // A BGM or BGS stopped without a fade: the list sound `id` of `kind` is deleted at once (a
    // spare slot's sound stays for the file-name cache) and its entry emptied.
    void DeleteStoppedSoundNow(std::int32_t kind, std::int32_t id);
    void PlayBgm(std::int32_t id, std::int32_t fade, std::int32_t start);
    void PlayBgs(std::int32_t id, std::int32_t fade, std::int32_t start);
    void PlaySe(std::int32_t id, std::int32_t delay, std::int32_t tag);
    void SendMidiFadeOut(std::int32_t left, std::int32_t length);
    void DeleteSoundHandle(std::int32_t handle);
    // ReleaseSoundByHandle; at the end of a fade it also deletes a file sound that nothing holds.
    void ReleaseHandle(SoundKind kind, std::int32_t handle, bool endOfFade);
    bool HandleInUse(std::int32_t handle) const;
    // bgmMidiState of the id; 0 outside the list.
    std::int32_t MidiState(std::int32_t id) const;
};

// The one sound manager.
extern Game_SoundManager TheSoundManager;

// Stores each kind's sound list count (the entries of system database type kind + 1 before the
// ten spare ones, never negative) and starts each kind's spare slots at the first. Run after the
// system database was read.
void RecordSoundListCounts(Game_System& system);

// The restart point's part: stops BGM, BGS and every effect, lets three updates run, deletes every
// library sound and puts a new manager with prepared lists in place of the old one.
void RestartSoundManager();
