#include "runtime/shell/Game_SoundManager.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "Main/DuZuder.h"
#include "Main/DxHandle.h"
#include "Main/Windows/DxClock.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"

std::string DataFolder = "Data/";
std::int32_t MidiAvailable = 1;

// The caches come before the global manager so that they outlive its destructor.
std::map<std::string, std::int32_t> Game_SoundManager::musicFileSounds;
std::map<std::string, std::int32_t> Game_SoundManager::seFileSounds;

namespace {

SoundLibraryCalls DefaultLibraryCalls() {
    SoundLibraryCalls c{};
    c.setLoadMode = &ZiDaz::SetSoundLoadMode;
    c.setLoadIgnoreLoopInfo = &ZiDaz::SetSoundLoadIgnoreLoopInfo;
    c.loadFromMemoryImage = &ZiDaz::LoadSoundFromMemoryImage;
    c.cloneSound = &ZiDaz::CloneSoundHandle;
    c.deleteSound = &ZiDaz::DeleteHandle;
    c.deleteAllSounds = &ZiDaz::DeleteAllSounds;
    c.getFrequency = &ZiDaz::GetSoundFrequency;
    c.setFrequency = &ZiDaz::SetSoundFrequency;
    c.startPlayback = &ZiDaz::StartSoundPlayback;
    c.stopPlayback = &ZiDaz::StopSoundPlayback;
    c.isPlaying = &ZiDaz::IsSoundPlaying;
    c.setPositionMs = &ZiDaz::SetSoundPositionMs;
    c.setVolumeLevel = &ZiDaz::SetSoundVolumeLevel;
    c.setLoopPoint = &ZiDaz::SetSoundLoopPoint;
    c.setLoopPositionMs = &ZiDaz::SetSoundLoopPositionMs;
    c.setLoopStart = &ZiDaz::SetSoundLoopStart;
    c.waitPumpingMessages = [](int ms) { ZiDaz::WaitPumpingMessages(ms); };
    return c;
}

SoundLibraryCalls& LibraryCallsStorage() {
    static SoundLibraryCalls calls = DefaultLibraryCalls();
    return calls;
}

MidiPlayerCalls& MidiCallsStorage() {
    static MidiPlayerCalls calls{};
    return calls;
}

SoundLibraryCalls& Lib() {
    return LibraryCallsStorage();
}
MidiPlayerCalls& Midi() {
    return MidiCallsStorage();
}

constexpr std::int32_t kBgm = 0;
constexpr std::int32_t kBgs = 1;
constexpr std::int32_t kSe = 2;
// The library's loading: BGM and BGS keep the file image and decode while playing; effects are
// decoded at load.
constexpr int kStreamFromMemory = 2;
constexpr int kDecodeAtLoad = 0;
constexpr std::size_t kLoopTagScanBytes = 1000;

std::int32_t K(SoundKind kind) {
    return static_cast<std::int32_t>(kind);
}
std::int32_t DbType(std::int32_t kind) {
    return kind + 1;
}

std::string EntryName(std::int32_t kind, std::int32_t id) {
    return TheSystemDatabase.ReadString(DbType(kind), id, 0);
}
std::int32_t EntryNumber(std::int32_t kind, std::int32_t id, std::int32_t field) {
    return TheSystemDatabase.ReadNumber(DbType(kind), id, field);
}
std::int32_t PercentOr100(std::int32_t value) {
    return value == 0 ? 100 : value;
}

// The sound list count (entries before the spare slots).
std::int32_t ListCount(std::int32_t kind) {
    return std::max(0, TheGameSystem.soundListCounts[static_cast<std::size_t>(kind)]);
}
// Every entry of the kind's database type, spare slots included.
std::int32_t TypeEntries(std::int32_t kind) {
    return std::max(0, TheSystemDatabase.DataCount(DbType(kind)));
}

bool KindEnabled(std::int32_t kind) {
    const std::int32_t s = GameIniSettings.SEandBGM;
    return kind == kSe ? (s == 1 || s == 3) : (s == 2 || s == 3);
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}
bool ContainsMidi(const std::string& text) {
    return Contains(text, ".mid") || Contains(text, ".MID");
}
// ".mid" or ".MID" starting within the last five characters.
bool EndsAsMidi(const std::string& path) {
    for (const char* tag : {".mid", ".MID"}) {
        const std::size_t at = path.rfind(tag);
        if (at != std::string::npos && at + 5 >= path.size()) return true;
    }
    return false;
}

// Replaces %d and %s in order (the format comes from the message dictionary).
std::string FormatMessage(const std::string& format, const std::vector<std::string>& values) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size() &&
            (format[i + 1] == 'd' || format[i + 1] == 's') && next < values.size()) {
            out += values[next++];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

std::string Tr(const char16_t* key) {
    return TranslateMessageUtf8(key);
}

void Report(const char16_t* title, const std::string& message, const std::string& location) {
    ReportRuntimeError(true, Tr(title), message, location);
}

constexpr char16_t kSoundLoadTitle[] = u"音声ファイル読み込みエラー";

std::int32_t FadeLength(std::int32_t fade) {
    // A negative fade from a script would make a zero or negative length: it switches at once.
    return std::max(0, fade) + 1;
}

std::int32_t ScaledFrequency(std::int32_t base, std::int32_t tempo) {
    const std::int64_t hz = static_cast<std::int64_t>(base) * tempo / 100;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(hz, INT_MIN, INT_MAX));
}

std::int32_t Find(const std::map<std::int32_t, std::int32_t>& map, std::int32_t key) {
    const auto it = map.find(key);
    return it == map.end() ? 0 : it->second;
}

bool IsGameDataOld() {
    return TheBasicData.GameDataVersion() <= 210;
}

}  // namespace

SoundLibraryCalls& GetSoundLibraryCalls() {
    return LibraryCallsStorage();
}
void ResetSoundLibraryCalls() {
    LibraryCallsStorage() = DefaultLibraryCalls();
}
MidiPlayerCalls& GetMidiPlayerCalls() {
    return MidiCallsStorage();
}
void ResetMidiPlayerCalls() {
    MidiCallsStorage() = MidiPlayerCalls{};
}

Game_SoundManager TheSoundManager;

std::int32_t MidiVolumeCurve(std::int32_t x) {
    if (!IsGameDataOld()) return x >= -110 ? x : x - (x + 110) / 2;
    return x > 0 ? x : x / 2;
}

SoundLoopTags ScanLoopTags(const std::uint8_t* image, std::size_t size) {
    SoundLoopTags tags;
    if (image == nullptr) return tags;
    const std::size_t scan = std::min(size, kLoopTagScanBytes);
    auto startsWith = [&](std::size_t at, const char* word, std::size_t length) {
        return size - at >= length && std::equal(word, word + length, image + at);
    };
    auto readDigits = [&](std::size_t at) {
        std::int64_t value = 0;
        for (; at < size && image[at] >= '0' && image[at] <= '9'; ++at) {
            value = std::min<std::int64_t>(value * 10 + (image[at] - '0'), INT32_MAX);
        }
        return static_cast<std::int32_t>(value);
    };
    static constexpr char kStart[] = "LOOPSTART=";
    static constexpr char kLength[] = "LOOPLENGTH=";
    for (std::size_t i = 0; i < scan; ++i) {
        if (image[i] != 'L') continue;
        if (startsWith(i, kStart, sizeof kStart - 1)) {
            tags.loopStart = readDigits(i + sizeof kStart - 1);
        } else if (startsWith(i, kLength, sizeof kLength - 1)) {
            tags.loopLength = readDigits(i + sizeof kLength - 1);
        }
    }
    return tags;
}

// ---- Construction and loading ----

Game_SoundManager::Game_SoundManager() {
    musicFileSounds.clear();
    seFileSounds.clear();
}

Game_SoundManager::~Game_SoundManager() {
    if (Lib().deleteAllSounds) Lib().deleteAllSounds();
    scheduledSeHandles.clear();
    scheduledSeDelays.clear();
    scheduledSeValues.clear();
    scheduledSeTags.clear();
    musicFileSounds.clear();
    seFileSounds.clear();
}

std::int32_t Game_SoundManager::PrepareLists() {
    bgmMidiState.assign(static_cast<std::size_t>(TypeEntries(kBgm) + 20), 0);
    seVolumeScale = 2.5;
    return 1;
}

std::int32_t Game_SoundManager::Reset() {
    bgmMidiState.assign(static_cast<std::size_t>(TypeEntries(kBgm) + 20), 0);
    FreeSounds(true);
    previousBgmHandle = currentBgmHandle = previousBgsHandle = currentBgsHandle = 0;
    bgmFadeLeft = bgsFadeLeft = bgmFadeLength = bgsFadeLength = -1;
    bgmVolume = bgsVolume = 100;
    bgmTempo = bgsTempo = 100;
    previousBgmVolume = previousBgsVolume = 100;
    bgmFadeFromVolume = bgsFadeFromVolume = 0;
    midiPlaying = false;
    listsPrepared = false;
    musicFileSounds.clear();
    seFileSounds.clear();
    ClearScheduledSounds();
    replacedPlayingSeHandles.clear();
    return 1;
}

void Game_SoundManager::LoadMidiFiles() {
    if (bgmMidiState.empty()) PrepareLists();
    const std::int32_t count = ListCount(kBgm);
    for (std::int32_t id = 0; id < count; ++id) {
        const std::string name = EntryName(kBgm, id);
        const std::string path = DataFolder + name;
        if (!EndsAsMidi(path)) continue;
        if (bgmMidiState.size() <= static_cast<std::size_t>(id)) {
            bgmMidiState.resize(static_cast<std::size_t>(id) + 1, 0);
        }
        std::vector<std::uint8_t> image;
        if (!ReadLibraryFile(path, image)) {
            Report(u"MIDI読み込みエラー",
                   FormatMessage(Tr(u"[初期化]MIDIファイル Type%d-%d:%s が見つかりません\n"),
                                 {"1", std::to_string(id), name}),
                   "");
            bgmMidiState[static_cast<std::size_t>(id)] = -1;
            continue;
        }
        if (MidiAvailable && Midi().addListFromMemory) {
            Midi().addListFromMemory(id + 1, image.data(), image.size());
        }
        bgmMidiState[static_cast<std::size_t>(id)] = 1;
    }
    listsPrepared = true;
}

namespace {

void SetLoadSettings(std::int32_t kind) {
    if (kind == kSe) {
        Lib().setLoadIgnoreLoopInfo(1);
        Lib().setLoadMode(kDecodeAtLoad);
    } else {
        Lib().setLoadIgnoreLoopInfo(0);
        Lib().setLoadMode(kStreamFromMemory);
    }
}

std::int32_t LoadFromImage(const std::vector<std::uint8_t>& image) {
    if (image.empty()) return 0;
    const std::int32_t h = Lib().loadFromMemoryImage(image.data(), image.size(), 3, -1);
    return h > 0 ? h : 0;
}

}  // namespace

bool Game_SoundManager::LoadSound(SoundKind kind, std::int32_t id) {
    const std::int32_t k = K(kind);
    // Negative ids name no entry: nothing to load.
    if (id < 0) return true;
    if (!KindEnabled(k)) return true;
    if (k == kBgm && static_cast<std::size_t>(id) < bgmMidiState.size() &&
        bgmMidiState[static_cast<std::size_t>(id)] == 1) {
        return false;
    }
    if (id >= ListCount(k)) return true;
    SetLoadSettings(k);
    if (Find(soundsById[static_cast<std::size_t>(k)], id) != 0) return true;

    const std::string name = EntryName(k, id);
    const std::string path = DataPath + name;
    std::vector<std::uint8_t> image;
    if (!ReadLibraryFile(path, image)) {
        const std::string message =
            name.empty()
                ? FormatMessage(Tr(u"ｼｽﾃﾑDBﾀｲﾌﾟ%d-%d のファイル名を読み込もうとしましたが空欄で"
                                   u"す。ファイル名を設定してください。"),
                                {std::to_string(k + 1), std::to_string(id)})
                : FormatMessage(Tr(u"ｼｽﾃﾑDBﾀｲﾌﾟ%d-%d:%s が見つかりません"),
                                {std::to_string(k + 1), std::to_string(id), path});
        Report(kSoundLoadTitle, message, GetScriptLocationText());
        return false;
    }
    if (k != kBgm && ContainsMidi(name)) {
        Report(k == kBgs ? u"音声ファイル読み込みエラー  BGSにMIDIが設定されています"
                         : u"音声ファイル読み込みエラー　SEにMIDIが設定されています",
               name, GetScriptLocationText());
        return false;
    }
    const std::int32_t h = LoadFromImage(image);
    if (h == 0) return false;
    soundsById[static_cast<std::size_t>(k)][id] = h;
    baseFrequency[h] = Lib().getFrequency(h);
    if (k != kSe) ReadLoopTags(h, image.data(), image.size());
    return true;
}

void Game_SoundManager::LoadSoundFile(SoundKind kind, std::int32_t id, std::string name) {
    const std::int32_t k = K(kind);
    const std::string path = DataFolder + name;
    bool midi = false;
    if (k != kSe) {
        if (id < 0) return;
        if (bgmMidiState.size() <= static_cast<std::size_t>(id)) {
            bgmMidiState.resize(static_cast<std::size_t>(id) + 1, 0);
        }
        midi = EndsAsMidi(path);
        bgmMidiState[static_cast<std::size_t>(id)] = midi ? 1 : 0;
        if (!midi && musicFileSounds.count(path)) return;
    } else if (seFileSounds.count(path)) {
        return;
    }
    if (Contains(path, ".png") || Contains(path, ".PNG") || Contains(path, ".jpg") ||
        Contains(path, ".JPG")) {
        Report(u"音声ファイル読み込みエラー　強制終了の可能性があります",
               FormatMessage(Tr(u"ｻｳﾝﾄﾞ:ﾌｧｲﾙ「%s」は画像ファイルの可能性があります"), {path}),
               GetScriptLocationText());
    }
    std::vector<std::uint8_t> image;
    if (!ReadLibraryFile(path, image)) {
        Report(kSoundLoadTitle, FormatMessage(Tr(u"ｻｳﾝﾄﾞ:ﾌｧｲﾙ「%s」が見つかりません\n"), {path}),
               "");
        return;
    }
    SetLoadSettings(k);
    if (k == kBgm && midi) {
        if (Midi().addListFromMemory) Midi().addListFromMemory(id + 1, image.data(), image.size());
        return;
    }
    if (k == kBgm && Midi().deleteListItem) Midi().deleteListItem(id + 1);
    const std::int32_t h = LoadFromImage(image);
    if (h == 0) return;
    (k == kSe ? seFileSounds : musicFileSounds)[path] = h;
    baseFrequency[h] = Lib().getFrequency(h);
    if (k == kBgm) ReadLoopTags(h, image.data(), image.size());
}

void Game_SoundManager::ReadLoopTags(std::int32_t handle, const std::uint8_t* image,
                                     std::size_t size) {
    const SoundLoopTags tags = ScanLoopTags(image, size);
    if (tags.loopStart != 0) loopPointByHandle[handle] = tags.loopStart;
    if (tags.loopLength != 0) {
        loopStartByHandle[handle] = static_cast<std::int32_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(tags.loopStart) + tags.loopLength, INT32_MAX));
    }
}

// ---- Releasing ----

void Game_SoundManager::DeleteSoundHandle(std::int32_t handle) {
    if (handle <= 0) return;
    Lib().deleteSound(handle);
    baseFrequency.erase(handle);
}

bool Game_SoundManager::ReleaseSound(SoundKind kind, std::int32_t id) {
    const std::int32_t k = K(kind);
    if (id < 0) return false;
    auto& list = soundsById[static_cast<std::size_t>(k)];
    const auto it = list.find(id);
    if (it == list.end() || it->second == 0) return false;
    const std::int32_t h = it->second;
    if (h == currentBgmHandle || h == currentBgsHandle) return false;
    Lib().stopPlayback(h, 0);
    DeleteSoundHandle(h);
    it->second = 0;
    if (id >= ListCount(k)) {
        auto& cache = k == kSe ? seFileSounds : musicFileSounds;
        const auto entry = cache.find(DataFolder + EntryName(k, id));
        if (entry != cache.end()) {
            Lib().stopPlayback(entry->second, 0);
            DeleteSoundHandle(entry->second);
            cache.erase(entry);
        }
    }
    return true;
}

void Game_SoundManager::ReleaseSoundByHandle(SoundKind kind, std::int32_t handle) {
    ReleaseHandle(kind, handle, false);
}

void Game_SoundManager::ReleaseHandle(SoundKind kind, std::int32_t handle, bool endOfFade) {
    const std::int32_t k = K(kind);
    if (handle == 0) return;
    if (kind == SoundKind::Bgm && handle == currentBgmHandle) return;
    if (kind == SoundKind::Bgs && handle == currentBgsHandle) return;
    auto& list = soundsById[static_cast<std::size_t>(k)];
    const std::int32_t entries = TypeEntries(k);
    bool listed = false;
    for (auto& [id, h] : list) {
        if (id < 0 || id >= entries || h != handle) continue;
        baseFrequency.erase(handle);
        h = 0;
        Lib().stopPlayback(handle, 0);
        Lib().deleteSound(handle);
        listed = true;
        break;
    }
    auto& cache = k == kSe ? seFileSounds : musicFileSounds;
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->second != handle) continue;
        cache.erase(it);
        // A file sound that a zero-length stop took out of its list is held by nothing else once
        // its fade ends: delete it now instead of leaving it to the next reset.
        if (endOfFade && !listed && !HandleInUse(handle)) {
            Lib().stopPlayback(handle, 0);
            DeleteSoundHandle(handle);
        }
        break;
    }
}

bool Game_SoundManager::HandleInUse(std::int32_t handle) const {
    if (handle == currentBgmHandle || handle == currentBgsHandle) return true;
    for (const auto& list : soundsById) {
        for (const auto& [id, h] : list) {
            if (h == handle) return true;
        }
    }
    for (const auto* cache : {&musicFileSounds, &seFileSounds}) {
        for (const auto& [path, h] : *cache) {
            if (h == handle) return true;
        }
    }
    return std::find(scheduledSeHandles.begin(), scheduledSeHandles.end(), handle) !=
           scheduledSeHandles.end();
}

void Game_SoundManager::ReleaseSoundFile(std::string path) {
    for (auto* cache : {&musicFileSounds, &seFileSounds}) {
        const auto it = cache->find(path);
        if (it == cache->end()) continue;
        DeleteSoundHandle(it->second);
        cache->erase(it);
    }
}

bool Game_SoundManager::FreeSounds(bool all) {
    for (std::int32_t k = 0; k < 3; ++k) {
        auto& list = soundsById[static_cast<std::size_t>(k)];
        auto& cache = k == kSe ? seFileSounds : musicFileSounds;
        const std::int32_t entries = TypeEntries(k);
        for (auto& [id, h] : list) {
            if (id < 0 || id >= entries || h == 0) continue;
            if (!all) {
                if (Lib().isPlaying(h) != 0) continue;
                if (k == kSe && std::find(scheduledSeHandles.begin(), scheduledSeHandles.end(),
                                          h) != scheduledSeHandles.end()) {
                    continue;
                }
            }
            const std::int32_t handle = h;
            DeleteSoundHandle(handle);
            h = 0;
            for (auto it = cache.begin(); it != cache.end();) {
                it = it->second == handle ? cache.erase(it) : std::next(it);
            }
        }
    }
    if (all) {
        Lib().deleteAllSounds();
        musicFileSounds.clear();
        seFileSounds.clear();
    }
    return true;
}

std::int32_t Game_SoundManager::CountLoadedSounds() const {
    std::int32_t n = 0;
    for (const auto& list : soundsById) {
        for (const auto& [id, h] : list) n += h != 0 ? 1 : 0;
    }
    return n;
}

// ---- Playing ----

void Game_SoundManager::Play(SoundKind kind, std::int32_t id, std::int32_t fade, std::int32_t start,
                             std::int32_t tag) {
    const std::int32_t s = GameIniSettings.SEandBGM;
    if (kind != SoundKind::Se && (s == 0 || s == 1)) {
        // Music is off: the request is only remembered, so that a save keeps it.
        if (id >= -1) {
            (kind == SoundKind::Bgm ? TheSystemState.currentBgm : TheSystemState.currentBgs) = id;
        }
        return;
    }
    if (kind == SoundKind::Se && (s == 0 || s == 2)) return;
    if (id == 65535) id = -1;
    if (!listsPrepared) LoadMidiFiles();
    switch (kind) {
        case SoundKind::Bgm:
            PlayBgm(id, fade, start);
            break;
        case SoundKind::Bgs:
            PlayBgs(id, fade, start);
            break;
        case SoundKind::Se:
            PlaySe(id, fade, tag);
            break;
    }
}

std::int32_t Game_SoundManager::MidiState(std::int32_t id) const {
    if (id < 0 || static_cast<std::size_t>(id) >= bgmMidiState.size()) return 0;
    return bgmMidiState[static_cast<std::size_t>(id)];
}

void Game_SoundManager::DeleteStoppedSoundNow(std::int32_t kind, std::int32_t id) {
    if (id < 0) return;
    auto& list = soundsById[static_cast<std::size_t>(kind)];
    const auto it = list.find(id);
    if (it == list.end()) return;
    if (id < ListCount(kind)) Lib().deleteSound(it->second);
    baseFrequency.erase(it->second);
    it->second = 0;
}

void Game_SoundManager::PlayBgm(std::int32_t id, std::int32_t fade, std::int32_t start) {
    Game_SystemState& st = TheSystemState;
    Game_System& gs = TheGameSystem;
    auto& list = soundsById[kBgm];
    if (id == st.currentBgm) {
        if (id < 0) return;
        if (start != 0) {
            if (midiPlaying) {
                if (Midi().stop) Midi().stop();
                if (Midi().play) Midi().play(currentMidiListId, start, 0);
            } else {
                Lib().stopPlayback(currentBgmHandle, 0);
                Lib().setPositionMs(start, currentBgmHandle);
                Lib().startPlayback(currentBgmHandle, 3, 0);
            }
        }
        gs.bgmDatabaseVolume = PercentOr100(EntryNumber(kBgm, id, 1));
        return;
    }
    if (previousBgmHandle != 0 && previousBgmHandle != Find(list, id)) {
        Lib().setVolumeLevel(0, previousBgmHandle);
        ReleaseSoundByHandle(SoundKind::Bgm, previousBgmHandle);
    }
    if (midiWasPlaying && !midiPlaying) {
        if (Midi().stop) Midi().stop();
        Lib().waitPumpingMessages(1);
    }
    midiWasPlaying = midiPlaying;
    previousBgmHandle = currentBgmHandle;

    if (id == -1) {
        previousBgmVolume = bgmVolume;
        midiPlaying = false;
        bgmVolume = 0;
        if (fade == 0) DeleteStoppedSoundNow(kBgm, st.currentBgm);
        st.currentBgm = -1;
        currentBgmHandle = 0;
        bgmFadeLeft = bgmFadeLength = FadeLength(fade);
        bgmFadeFromVolume = 0;
        st.bgmFileName.clear();
        return;
    }
    st.currentBgm = id;
    if (id < 0) return;

    if (MidiState(id) == 1) {
        if (!MidiAvailable) return;
        midiPlaying = true;
        currentBgmHandle = 0;
        previousBgmVolume = bgmVolume;
        if (Midi().setMasterVolume) Midi().setMasterVolume(-127);
        bgmTempo = PercentOr100(EntryNumber(kBgm, id, 2));
        if (Midi().setMasterTempo) Midi().setMasterTempo(static_cast<float>(bgmTempo * 0.01));
        const std::int32_t v = PercentOr100(EntryNumber(kBgm, id, 1));
        bgmVolume = v * st.bgmVolumeCorrection / 100;
        gs.bgmDatabaseVolume = v;
        bgmFadeFromVolume = 0;
        bgmFadeLeft = bgmFadeLength = FadeLength(fade);
        const std::int32_t keyShift = std::clamp(EntryNumber(kBgm, id, 3), -24, 24);
        currentMidiListId = id + 1;
        if (Midi().play) Midi().play(id + 1, start, keyShift);
        if (bgmVolume == 0) {
            if (Midi().pause) Midi().pause();
            gs.midiPaused = 1;
        } else {
            gs.midiPaused = 0;
        }
        st.bgmFileName = EntryName(kBgm, id);
        st.bgmValues = {v, bgmTempo, 0};
        gs.midiListId = id + 1;
        return;
    }
    if (MidiState(id) == -1) return;

    midiPlaying = false;
    // Kind BGS on purpose: the outgoing sound keeps playing and fading, but its file leaves the
    // shared music cache now, so that a later play of the file loads it anew.
    if (previousBgmHandle != 0) ReleaseSoundByHandle(SoundKind::Bgs, previousBgmHandle);

    if (!LoadSound(SoundKind::Bgm, id)) {
        bgmFadeLeft = bgmFadeLength = FadeLength(fade);
        bgmVolume = EntryNumber(kBgm, id, 1);
        st.bgmValues = {bgmVolume, bgmTempo, EntryNumber(kBgm, id, 3)};
        return;
    }
    const std::int32_t h = Find(list, id);
    if (h == 0) {
        Report(u"サウンドデータを正常に読み込めませんでした", EntryName(kBgm, id), "");
        st.currentBgm = -1;
        previousBgmVolume = bgmVolume;
        bgmVolume = 0;
        currentBgmHandle = 0;
        bgmFadeFromVolume = 0;
        st.bgmFileName.clear();
        gs.bgmDatabaseVolume = 0;
        return;
    }
    currentBgmHandle = h;
    previousBgmVolume = bgmVolume;
    const std::int32_t v = PercentOr100(EntryNumber(kBgm, id, 1));
    bgmVolume = v * st.bgmVolumeCorrection / 100;
    gs.bgmDatabaseVolume = v;
    bgmFadeFromVolume = 0;
    bgmFadeLeft = bgmFadeLength = FadeLength(fade);

    const std::int32_t field3 = EntryNumber(kBgm, id, 3);
    if (field3 != 0) {
        Lib().setLoopPositionMs(field3, h);
    } else {
        const std::int32_t point = Find(loopPointByHandle, h);
        if (point != 0) {
            Lib().setLoopPoint(point, h);
        } else {
            Lib().setLoopPositionMs(0, h);
        }
        const std::int32_t loopStart = Find(loopStartByHandle, h);
        if (loopStart != 0) Lib().setLoopStart(loopStart, h);
    }
    const std::int32_t tempo = EntryNumber(kBgm, id, 2);
    std::int32_t hz = -1;
    if (tempo > 0) {
        hz = ScaledFrequency(Find(baseFrequency, h), tempo);
        bgmTempo = tempo;
    } else {
        bgmTempo = 100;
    }
    Lib().setFrequency(hz, h);
    if (previousBgmHandle != h) Lib().setVolumeLevel(0, h);
    if (start >= 1) {
        Lib().setPositionMs(start, h);
        Lib().startPlayback(h, 3, 0);
    } else if (previousBgmHandle != h) {
        Lib().startPlayback(h, 3, 1);
    }
    st.bgmFileName = EntryName(kBgm, id);
    st.bgmValues = {v, bgmTempo, field3};
}

void Game_SoundManager::PlayBgs(std::int32_t id, std::int32_t fade, std::int32_t start) {
    Game_SystemState& st = TheSystemState;
    Game_System& gs = TheGameSystem;
    auto& list = soundsById[kBgs];
    if (id == st.currentBgs) return;
    if (previousBgsHandle != 0 && (id == -1 || (id >= 0 && Find(list, id) != previousBgsHandle))) {
        Lib().setVolumeLevel(0, previousBgsHandle);
        ReleaseSoundByHandle(SoundKind::Bgs, previousBgsHandle);
    }
    previousBgsHandle = currentBgsHandle;

    auto noBgs = [&] {
        st.currentBgs = -1;
        previousBgsVolume = bgsVolume;
        bgsVolume = 0;
        currentBgsHandle = 0;
        bgsFadeLeft = bgsFadeLength = FadeLength(fade);
        bgsFadeFromVolume = 0;
        gs.bgsDatabaseVolume = st.bgsValues[0];
        st.bgsFileName.clear();
    };
    if (id == -1) {
        previousBgsVolume = bgsVolume;
        bgsVolume = 0;
        if (fade == 0) DeleteStoppedSoundNow(kBgs, st.currentBgs);
        st.currentBgs = -1;
        currentBgsHandle = 0;
        bgsFadeLeft = bgsFadeLength = FadeLength(fade);
        bgsFadeFromVolume = 0;
        st.bgsFileName.clear();
        return;
    }
    if (id < 0) {
        noBgs();
        return;
    }
    if (!LoadSound(SoundKind::Bgs, id)) {
        bgsFadeLeft = bgsFadeLength = FadeLength(fade);
        bgsVolume = EntryNumber(kBgs, id, 1);
        st.bgsValues = {bgsVolume, bgsTempo, EntryNumber(kBgs, id, 3)};
        return;
    }
    const std::int32_t h = Find(list, id);
    if (h == 0) {
        noBgs();
        return;
    }
    st.currentBgs = id;
    currentBgsHandle = h;
    previousBgsVolume = bgsVolume;
    const std::int32_t stored = EntryNumber(kBgs, id, 1);
    const std::int32_t v = PercentOr100(stored);
    bgsFadeFromVolume = 0;
    bgsVolume = std::max(1, v * st.bgsVolumeCorrection / 100);
    bgsFadeLeft = bgsFadeLength = FadeLength(fade);
    gs.bgsDatabaseVolume = v;

    const std::int32_t field3 = EntryNumber(kBgs, id, 3);
    if (field3 != 0) {
        Lib().setLoopPositionMs(field3, h);
    } else {
        const std::int32_t point = Find(loopPointByHandle, h);
        if (point != 0) {
            Lib().setLoopPoint(point, h);
        } else {
            Lib().setLoopPositionMs(0, h);
        }
    }
    const std::int32_t tempo = EntryNumber(kBgs, id, 2);
    std::int32_t hz = -1;
    if (tempo != 0) {
        bgsTempo = tempo;
        hz = ScaledFrequency(Find(baseFrequency, h), tempo);
    } else {
        bgsTempo = 100;
    }
    Lib().setFrequency(hz, h);
    if (start >= 1) {
        Lib().setPositionMs(start, h);
        Lib().startPlayback(h, 3, 0);
    } else {
        Lib().startPlayback(h, 3, 1);
    }
    Lib().setVolumeLevel(0, h);
    st.bgsFileName = EntryName(kBgs, id);
    st.bgsValues = {stored, bgsTempo, field3};
}

void Game_SoundManager::PlaySe(std::int32_t id, std::int32_t delay, std::int32_t tag) {
    const std::int32_t master = TheSystemState.seVolumeCorrection;
    if (master <= 0) return;
    if (id >= 0) LoadSound(SoundKind::Se, id);
    if (id == -1) {
        if (delay == 0) {
            StopSoundEffects(tag);
            return;
        }
        scheduledSeHandles.push_back(-1);
        scheduledSeDelays.push_back(delay);
        scheduledSeValues.push_back(-1);
        scheduledSeTags.push_back(tag);
        return;
    }
    // Other negative ids name no entry.
    if (id < 0) return;
    const std::int32_t base = Find(soundsById[kSe], id);
    std::int32_t h = base;
    if (tag != 0) {
        // A copy that could not be made must not read as a stop entry (-1).
        h = base != 0 ? Lib().cloneSound(base, 1) : 0;
        if (h < 0) h = 0;
    }
    scheduledSeHandles.push_back(h);
    scheduledSeDelays.push_back(delay);
    scheduledSeValues.push_back(EntryNumber(kSe, id, 3));
    scheduledSeTags.push_back(tag);

    const std::int32_t v = EntryNumber(kSe, id, 1);
    const std::int32_t p = v != 0 ? std::max(1, v * master / 100) : master;
    Lib().setVolumeLevel(static_cast<int>(std::trunc(p * seVolumeScale)), h);
    const std::int32_t tempo = EntryNumber(kSe, id, 2);
    Lib().setFrequency(tempo != 0 ? ScaledFrequency(Find(baseFrequency, base), tempo) : -1, h);
}

void Game_SoundManager::StopSoundEffects(std::int32_t tag) {
    for (std::size_t i = 0; i < scheduledSeHandles.size();) {
        if (tag != -1 && scheduledSeTags[i] != tag) {
            ++i;
            continue;
        }
        const std::int32_t h = scheduledSeHandles[i];
        Lib().stopPlayback(h, 0);
        if (scheduledSeTags[i] != 0 && h > 0) DeleteSoundHandle(h);
        const auto at = static_cast<std::ptrdiff_t>(i);
        scheduledSeHandles.erase(scheduledSeHandles.begin() + at);
        scheduledSeDelays.erase(scheduledSeDelays.begin() + at);
        scheduledSeValues.erase(scheduledSeValues.begin() + at);
        scheduledSeTags.erase(scheduledSeTags.begin() + at);
    }
    if (tag == 0 || tag == -1) {
        for (const auto& [id, h] : soundsById[kSe]) {
            if (h != 0) Lib().stopPlayback(h, 0);
        }
        for (const std::int32_t h : replacedPlayingSeHandles) {
            if (Lib().isPlaying(h) > 0) Lib().stopPlayback(h, 0);
        }
        replacedPlayingSeHandles.clear();
    }
}

bool Game_SoundManager::ClearScheduledSounds() {
    scheduledSeHandles.clear();
    scheduledSeDelays.clear();
    scheduledSeValues.clear();
    scheduledSeTags.clear();
    return true;
}

void Game_SoundManager::PlaySystemSoundEffect(std::int32_t id) {
    if (id < 0 || id >= TypeEntries(kSe)) return;
    if (EntryName(kSe, id).empty()) return;
    Play(SoundKind::Se, id, 0, 0, -1);
}

// ---- The per-frame update ----

void Game_SoundManager::SendMidiFadeOut(std::int32_t left, std::int32_t length) {
    const double l = left;
    const double n = length;
    const double x = (previousBgmVolume - 110) * 1.27 - (n - l) * 127 / n;
    if (Midi().setMasterVolume) {
        Midi().setMasterVolume(MidiVolumeCurve(static_cast<std::int32_t>(std::trunc(x))));
    }
    if (left == 0 && Midi().stop) Midi().stop();
}

void Game_SoundManager::SetMusicVolumeNow(SoundKind kind, std::int32_t volume) {
    auto level = [&](std::int32_t v) { return static_cast<int>(std::trunc(v * seVolumeScale)); };
    if (kind == SoundKind::Bgm) {
        bgmVolume = volume;
        if (bgmFadeLeft != -1) return;
        if (midiPlaying) {
            if (Midi().setMasterVolume) {
                const double x = (volume - 110) * 1.27;
                Midi().setMasterVolume(MidiVolumeCurve(static_cast<std::int32_t>(std::trunc(x))));
            }
        } else if (currentBgmHandle != 0) {
            Lib().setVolumeLevel(level(volume), currentBgmHandle);
        }
    } else if (kind == SoundKind::Bgs) {
        bgsVolume = volume;
        if (bgsFadeLeft == -1 && currentBgsHandle != 0)
            Lib().setVolumeLevel(level(volume), currentBgsHandle);
    }
}

void Game_SoundManager::Update() {
    seVolumeScale = IsGameDataOld() ? 1.0 : 2.5;
    const double s = seVolumeScale;
    Game_System& gs = TheGameSystem;
    const std::int32_t step = std::max(1, FrameMultiplier);
    auto level = [](double value) { return static_cast<int>(std::trunc(value)); };

    if (bgmFadeLeft != -1) {
        const std::int32_t L = bgmFadeLeft;
        const std::int32_t N = std::max(1, bgmFadeLength);
        const double l = L;
        const double n = N;
        auto fadeOutLevel = [&] { return level(std::trunc(l / n * previousBgmVolume) * s); };
        if (TheSystemState.currentBgm == -1) {
            if (midiWasPlaying) {
                SendMidiFadeOut(L, N);
            } else if (previousBgmHandle != 0) {
                Lib().setVolumeLevel(fadeOutLevel(), previousBgmHandle);
                if (L == 0) Lib().stopPlayback(previousBgmHandle, 0);
            }
        } else {
            if (midiWasPlaying && !midiPlaying) {
                SendMidiFadeOut(L, N);
            } else if (!midiWasPlaying) {
                if (previousBgmHandle == currentBgmHandle) {
                    previousBgmHandle = 0;
                } else if (previousBgmHandle != 0) {
                    Lib().setVolumeLevel(fadeOutLevel(), previousBgmHandle);
                }
            }
            if (midiPlaying) {
                if ((bgmVolume == 0 || TheSystemState.bgmVolumeCorrection == 0) && L == 0) {
                    if (!gs.midiPaused) {
                        if (Midi().pause) Midi().pause();
                        gs.midiPaused = 1;
                    }
                } else {
                    if (gs.midiPaused && bgmVolume != 0) {
                        gs.midiPaused = 0;
                        if (Midi().restart) Midi().restart();
                    }
                    const double x =
                        ((n - l) / n * bgmVolume + (L * bgmFadeFromVolume / N) - 110) * 1.27;
                    if (Midi().setMasterVolume) {
                        Midi().setMasterVolume(
                            MidiVolumeCurve(static_cast<std::int32_t>(std::trunc(x))));
                    }
                }
            } else if (currentBgmHandle != 0) {
                Lib().setVolumeLevel(
                    level((std::trunc((n - l) / n * bgmVolume) + L * bgmFadeFromVolume / N) * s),
                    currentBgmHandle);
            }
        }
        if (previousBgmHandle != 0 && L == 0) {
            ReleaseHandle(SoundKind::Bgm, previousBgmHandle, true);
            previousBgmHandle = 0;
        }
        bgmFadeLeft = L <= 0 ? -1 : std::max(0, L - step);
    }

    if (bgsFadeLeft != -1) {
        const std::int32_t L = bgsFadeLeft;
        const std::int32_t N = std::max(1, bgsFadeLength);
        const double l = L;
        const double n = N;
        if (previousBgsHandle == currentBgsHandle) {
            previousBgsHandle = 0;
        } else if (previousBgsHandle != 0) {
            Lib().setVolumeLevel(level(std::trunc(l / n * previousBgsVolume) * s),
                                 previousBgsHandle);
        }
        if (currentBgsHandle != 0) {
            Lib().setVolumeLevel(
                level(std::trunc((n - l) / n * bgsVolume + L * bgsFadeFromVolume / N) * s),
                currentBgsHandle);
        }
        if (L == 0) {
            ReleaseHandle(SoundKind::Bgs, previousBgsHandle, true);
            previousBgsHandle = 0;
        }
        bgsFadeLeft = L <= 0 ? -1 : std::max(0, L - step);
    }

    for (std::size_t i = 0; i < scheduledSeHandles.size(); ++i) {
        const std::int32_t h = scheduledSeHandles[i];
        if (Lib().isPlaying(h) <= 0) Lib().stopPlayback(h, 0);
        if (scheduledSeDelays[i] != 0) continue;
        if (h == -1) {
            StopSoundEffects(scheduledSeTags[i]);
            break;
        }
        Lib().startPlayback(h, 1, 1);
    }
    for (std::size_t i = 0; i < scheduledSeHandles.size();) {
        const std::int32_t h = scheduledSeHandles[i];
        if (scheduledSeDelays[i] < 0 && Lib().isPlaying(h) <= 0) {
            ReleaseSoundByHandle(SoundKind::Se, h);
            if (scheduledSeTags[i] != 0 && h > 0) DeleteSoundHandle(h);
            const auto at = static_cast<std::ptrdiff_t>(i);
            scheduledSeHandles.erase(scheduledSeHandles.begin() + at);
            scheduledSeDelays.erase(scheduledSeDelays.begin() + at);
            scheduledSeValues.erase(scheduledSeValues.begin() + at);
            scheduledSeTags.erase(scheduledSeTags.begin() + at);
            continue;
        }
        std::int32_t& d = scheduledSeDelays[i];
        d = d <= 0 ? -1 : std::max(0, d - step);
        ++i;
    }
}

// ---- Playing by file name ----

std::int32_t Game_SoundManager::PlayFile(SoundKind kind, std::int32_t fade, std::int32_t loop,
                                         std::int32_t volume, std::int32_t tempo,
                                         std::int32_t start, std::string text) {
    if (text == "INITIALIZE") {
        Play(SoundKind::Bgm, -1, 0, 0, -1);
        Play(SoundKind::Bgs, -1, 0, 0, -1);
        Reset();
        return -10;
    }
    Game_System& gs = TheGameSystem;
    Game_SystemState& st = TheSystemState;
    const std::int32_t k = K(kind);
    gs.playFileVolume = volume;
    auto& next = gs.addedSoundEntries[static_cast<std::size_t>(k)];
    next = ((next % 10) + 10) % 10;
    const std::int32_t slot = ListCount(k) + next;
    if (TheSystemDatabase.DataCount(DbType(k)) <= slot) {
        TheSystemDatabase.ResizeType(DbType(k), slot + 1);
    }

    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (text.empty()) return -1;
    const std::size_t firstBreak = text.find('\n');
    if (firstBreak == 0 || firstBreak == 1) return -1;

    std::vector<std::string> lines;
    std::size_t from = 0;
    while (lines.size() < 3) {
        const std::size_t at = text.find('\n', from);
        if (at == std::string::npos) break;
        lines.push_back(text.substr(from, at - from));
        from = at + 1;
    }
    lines.push_back(text.substr(from));
    const std::string name = lines[0];
    if (lines.size() > 1) volume = std::atoi(lines[1].c_str());
    if (lines.size() > 2) {
        tempo = std::atoi(lines[2].c_str());
        gs.playFileVolume = volume;
    }
    if (lines.size() > 3) loop = std::atoi(lines[3].c_str());

    const std::string path = DataFolder + name;
    if (start != 0) ReleaseSoundFile(path);
    LoadSoundFile(kind, slot, name);
    const auto& cache = k == kSe ? seFileSounds : musicFileSounds;
    const auto found = cache.find(path);
    const std::int32_t h = found == cache.end() ? 0 : found->second;

    auto& list = soundsById[static_cast<std::size_t>(k)];
    if (k == kBgm) {
        const bool inPlace =
            midiPlaying ? name == st.bgmFileName : (h != 0 && h == currentBgmHandle);
        if (inPlace) {
            const std::int32_t f = std::max(1, fade + 1);
            bgmFadeFromVolume = previousBgmVolume = bgmVolume;
            bgmFadeLeft = bgmFadeLength = f;
            bgmTempo = tempo;
            bgmVolume = volume * st.bgmVolumeCorrection / 100;
            if (midiPlaying) {
                if (Midi().setMasterTempo) Midi().setMasterTempo(static_cast<float>(tempo * 0.01));
                if (start != 0) {
                    if (Midi().stop) Midi().stop();
                    if (Midi().play) Midi().play(currentMidiListId, start, 0);
                }
            } else {
                if (start != 0) {
                    Lib().stopPlayback(currentBgmHandle, 0);
                    Lib().setPositionMs(start, currentBgmHandle);
                    Lib().startPlayback(currentBgmHandle, 3, 0);
                }
                Lib().setFrequency(ScaledFrequency(Find(baseFrequency, currentBgmHandle), tempo),
                                   currentBgmHandle);
            }
            st.bgmValues[0] = bgmVolume;
            st.bgmValues[1] = bgmTempo;
            return -10;
        }
    } else if (k == kBgs) {
        // A file that gave no sound is not the current BGS even when there is none.
        if (h != 0 && h == currentBgsHandle) {
            const std::int32_t f = std::max(1, fade + 1);
            bgsFadeFromVolume = previousBgsVolume = bgsVolume;
            bgsFadeLeft = bgsFadeLength = f;
            bgsTempo = tempo;
            bgsVolume = volume * st.bgsVolumeCorrection / 100;
            Lib().setFrequency(ScaledFrequency(Find(baseFrequency, currentBgsHandle), tempo),
                               currentBgsHandle);
            st.bgsValues[0] = bgsVolume;
            st.bgsValues[1] = bgsTempo;
            return -10;
        }
    } else {
        const std::int32_t old = Find(list, slot);
        if (old != 0 && Lib().isPlaying(old) > 0 &&
            std::find(replacedPlayingSeHandles.begin(), replacedPlayingSeHandles.end(), old) ==
                replacedPlayingSeHandles.end()) {
            replacedPlayingSeHandles.push_back(old);
        }
    }

    list[slot] = h;
    Game_Database& db = TheSystemDatabase;
    db.WriteString(DbType(k), slot, 0, name);
    db.WriteNumber(DbType(k), slot, 1, volume);
    db.WriteNumber(DbType(k), slot, 2, tempo);
    if (k != kSe) db.WriteNumber(DbType(k), slot, 3, loop);
    db.WriteString(DbType(k), ListCount(k) + (next + 9) % 10, 0, "");
    next = (next + 1) % 10;
    return slot;
}

// ---- Start-up and restart ----

void RecordSoundListCounts(Game_System& system) {
    for (std::int32_t k = 0; k < 3; ++k) {
        system.soundListCounts[static_cast<std::size_t>(k)] = SoundListBaseCount(k);
        system.addedSoundEntries[static_cast<std::size_t>(k)] = 0;
    }
}

void RestartSoundManager() {
    TheSoundManager.Play(SoundKind::Bgm, -1, 0, 0, -1);
    TheSoundManager.Play(SoundKind::Bgs, -1, 0, 0, -1);
    TheSoundManager.Play(SoundKind::Se, -1, 0, 0, -1);
    for (int i = 0; i < 3; ++i) TheSoundManager.Update();
    Lib().deleteAllSounds();
    TheSoundManager = Game_SoundManager();
    TheSoundManager.PrepareLists();
}
