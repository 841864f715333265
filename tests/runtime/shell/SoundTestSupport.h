// A recording stand-in for the library's Sound handles and the MIDI player, and a fixture that
// gives the sound manager a system database with five entries per sound list (and the ten spare
// ones), a data folder with files, and the settings it reads; everything is put back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "runtime/data/BasicData.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"
#include "tests/runtime/shell/ReportCapture.h"
#include "tests/runtime/shell/ShellTestSupport.h"

namespace sound_test {

struct FakeSound {
    bool playing = false;
    bool deleted = false;
    int level = -1;
    int frequency = -1;
    int baseFrequency = 22050;
    std::int64_t position = 0;
    std::int64_t loopPoint = -2;
    std::int64_t loopPositionMs = -2;
    std::int64_t loopStart = -2;
    int loadMode = -1;
    int ignoreLoopInfo = -1;
    std::size_t imageSize = 0;
    std::int32_t clonedFrom = 0;
};

// Sounds are made from any image except one that starts with "BAD" (an undecodable file).
struct FakeLibrary {
    static inline std::map<std::int32_t, FakeSound> sounds;
    static inline std::int32_t next = 1;
    static inline int loadMode = 0;
    static inline int ignoreLoopInfo = 0;
    static inline std::vector<std::string> calls;

    static void Install() {
        sounds.clear();
        calls.clear();
        next = 1;
        SoundLibraryCalls& c = GetSoundLibraryCalls();
        c.setLoadMode = [](int mode) { return loadMode = mode, 0; };
        c.setLoadIgnoreLoopInfo = [](int flag) { return ignoreLoopInfo = flag, 0; };
        c.loadFromMemoryImage = [](const void* image, std::size_t size, int, std::int32_t) {
            const auto* b = static_cast<const char*>(image);
            if (size >= 3 && std::string(b, 3) == "BAD") return -1;
            FakeSound s;
            s.imageSize = size;
            s.loadMode = loadMode;
            s.ignoreLoopInfo = ignoreLoopInfo;
            sounds[next] = s;
            return next++;
        };
        c.cloneSound = [](std::int32_t h, int) {
            if (!Alive(h)) return -1;
            FakeSound s = sounds[h];
            s.playing = false;
            s.clonedFrom = h;
            sounds[next] = s;
            return next++;
        };
        c.deleteSound = [](std::int32_t h) {
            if (!Alive(h)) return -1;
            sounds[h].deleted = true;
            sounds[h].playing = false;
            calls.push_back("delete " + std::to_string(h));
            return 0;
        };
        c.deleteAllSounds = [] {
            for (auto& [h, s] : sounds) s.deleted = true, s.playing = false;
            return 0;
        };
        c.getFrequency = [](std::int32_t h) { return Alive(h) ? sounds[h].baseFrequency : -1; };
        c.setFrequency = [](int hz, std::int32_t h) {
            return Alive(h) ? sounds[h].frequency = hz, 0 : -1;
        };
        c.startPlayback = [](std::int32_t h, int type, int restart) {
            if (!Alive(h)) return -1;
            calls.push_back("start " + std::to_string(h) + " " + std::to_string(type) + " " +
                            std::to_string(restart));
            sounds[h].playing = true;
            if (restart) sounds[h].position = 0;
            return 0;
        };
        c.stopPlayback = [](std::int32_t h, int) {
            if (!Alive(h)) return -1;
            sounds[h].playing = false;
            return 0;
        };
        c.isPlaying = [](std::int32_t h) { return Alive(h) ? (sounds[h].playing ? 1 : 0) : -1; };
        c.setPositionMs = [](std::int64_t ms, std::int32_t h) {
            return Alive(h) ? sounds[h].position = ms, 0 : -1;
        };
        c.setVolumeLevel = [](int level, std::int32_t h) {
            return Alive(h) ? sounds[h].level = level, 0 : -1;
        };
        c.setLoopPoint = [](std::int64_t v, std::int32_t h) {
            return Alive(h) ? sounds[h].loopPoint = v, 0 : -1;
        };
        c.setLoopPositionMs = [](std::int64_t v, std::int32_t h) {
            return Alive(h) ? sounds[h].loopPositionMs = v, 0 : -1;
        };
        c.setLoopStart = [](std::int64_t v, std::int32_t h) {
            return Alive(h) ? sounds[h].loopStart = v, 0 : -1;
        };
        c.waitPumpingMessages = [](int) {};
    }
    static bool Alive(std::int32_t h) {
        const auto it = sounds.find(h);
        return it != sounds.end() && !it->second.deleted;
    }
    static FakeSound& Of(std::int32_t h) { return sounds[h]; }
    static int Starts(std::int32_t h) {
        int n = 0;
        for (const std::string& c : calls) n += c.rfind("start " + std::to_string(h) + " ", 0) == 0;
        return n;
    }
};

struct MidiRecord {
    static inline std::vector<std::string> calls;
    static void Install() {
        calls.clear();
        MidiPlayerCalls& m = GetMidiPlayerCalls();
        m.addListFromMemory = [](std::int32_t id, const void*, std::size_t) {
            calls.push_back("add " + std::to_string(id));
        };
        m.play = [](std::int32_t id, std::int32_t seek, std::int32_t key) {
            calls.push_back("play " + std::to_string(id) + " " + std::to_string(seek) + " " +
                            std::to_string(key));
        };
        m.stop = [] { calls.push_back("stop"); };
        m.pause = [] { calls.push_back("pause"); };
        m.restart = [] { calls.push_back("restart"); };
        m.setMasterVolume = [](std::int32_t v) { calls.push_back("volume " + std::to_string(v)); };
        m.setMasterTempo = [](float) {};
    }
};

inline constexpr std::int32_t kListCount = 5;

class SoundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedDatabase_ = TheSystemDatabase;
        savedState_ = TheSystemState;
        savedSystem_ = TheGameSystem;
        savedIni_ = GameIniSettings;
        savedBasic_ = TheBasicData;
        savedFrame_ = FrameMultiplier;
        savedDataPath_ = DataPath;
        savedDataFolder_ = DataFolder;
        savedMidi_ = MidiAvailable;
        std::filesystem::current_path(scratch_.path());
        std::filesystem::create_directories(scratch_.path() / "Data");
        DataPath = (scratch_.path() / "Data").string() + "/";
        DataFolder = "Data/";
        MidiAvailable = 1;
        FrameMultiplier = 1;
        GameIniSettings.SEandBGM = 3;
        SetGameDataVersion(250);
        TheSystemState.currentBgm = TheSystemState.currentBgs = -1;
        TheSystemState.bgmVolumeCorrection = TheSystemState.bgsVolumeCorrection =
            TheSystemState.seVolumeCorrection = 100;
        TheSystemDatabase = Game_Database();
        TheSystemDatabase.kind = kSystemDatabase;
        TheSystemDatabase.SetTypeCount(4);
        for (std::int32_t t = 1; t <= 3; ++t) {
            Game_DatabaseType& type = TheSystemDatabase.types[static_cast<std::size_t>(t)];
            type.fieldKinds = {kStringFieldBase, kNumberFieldBase, kNumberFieldBase + 1,
                               kNumberFieldBase + 2};
            Game_DatabaseEntry entry;
            entry.numbers = {0, 0, 0};
            entry.strings = {""};
            type.entries.assign(kListCount + kSpareSoundEntries, entry);
        }
        TheGameSystem.soundListCounts = {kListCount, kListCount, kListCount};
        TheGameSystem.addedSoundEntries = {0, 0, 0};
        FakeLibrary::Install();
        ResetMidiPlayerCalls();
        manager_ = std::make_unique<Game_SoundManager>();
        manager_->PrepareLists();
    }
    void TearDown() override {
        manager_.reset();
        ResetSoundLibraryCalls();
        ResetMidiPlayerCalls();
        Game_SoundManager::musicFileSounds.clear();
        Game_SoundManager::seFileSounds.clear();
        TheSystemDatabase = savedDatabase_;
        TheSystemState = savedState_;
        TheGameSystem = savedSystem_;
        GameIniSettings = savedIni_;
        TheBasicData = savedBasic_;
        FrameMultiplier = savedFrame_;
        DataPath = savedDataPath_;
        DataFolder = savedDataFolder_;
        MidiAvailable = savedMidi_;
    }

    Game_SoundManager& m() { return *manager_; }
    static void SetGameDataVersion(std::int16_t version) {
        if (TheBasicData.settingNumbers.size() < 16) TheBasicData.settingNumbers.resize(16);
        TheBasicData.settingNumbers[15] = version;
    }

    // A file in the data folder (any bytes: the stand-in library does not decode).
    void WriteSound(const std::string& name, const std::string& bytes = "RIFF sound") {
        const std::filesystem::path path = scratch_.path() / "Data" / name;
        std::filesystem::create_directories(path.parent_path());
        shell_test::WriteBytes(path.string(), bytes);
    }
    // Entry `id` of the kind's list, with its file written unless told otherwise.
    void SetEntry(SoundKind kind, std::int32_t id, const std::string& name, std::int32_t volume = 0,
                  std::int32_t tempo = 0, std::int32_t field3 = 0, bool write = true) {
        const std::int32_t type = static_cast<std::int32_t>(kind) + 1;
        TheSystemDatabase.WriteString(type, id, 0, name);
        TheSystemDatabase.WriteNumber(type, id, 1, volume);
        TheSystemDatabase.WriteNumber(type, id, 2, tempo);
        TheSystemDatabase.WriteNumber(type, id, 3, field3);
        if (write && !name.empty()) WriteSound(name);
    }
    std::int32_t Handle(SoundKind kind, std::int32_t id) {
        const auto& list = m().soundsById[static_cast<std::size_t>(kind)];
        const auto it = list.find(id);
        return it == list.end() ? 0 : it->second;
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) m().Update();
    }
    const std::vector<shell_test::CapturedReport>& Reports() {
        return shell_test::ReportCapture::reports();
    }

    shell_test::ScratchFolder scratch_;
    shell_test::ReportCapture capture_;
    std::unique_ptr<Game_SoundManager> manager_;

  private:
    Game_Database savedDatabase_;
    Game_SystemState savedState_;
    Game_System savedSystem_{Game_System::QuietConstruction{}};
    GameIniValues savedIni_;
    Game_BasicData savedBasic_;
    std::int32_t savedFrame_ = 1;
    std::string savedDataPath_, savedDataFolder_;
    std::int32_t savedMidi_ = 1;
};

}  // namespace sound_test
