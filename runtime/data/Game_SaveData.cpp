#include "runtime/data/Game_SaveData.h"

#include "runtime/data/CommonEvent.h"
#include "runtime/data/SaveStream.h"
#include "runtime/presentation/FontCache.h"
#include "runtime/presentation/GraphicCache.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_Player.h"

// ---- Player and followers ----

void Game_PlayerPart::CopyFromLive() {
    if (MapPlayer != nullptr) player = *MapPlayer;
}

void Game_PlayerPart::CopyToLive() const {
    if (MapPlayer != nullptr) *MapPlayer = player;
}

// ---- Pictures ----

void Game_PictureListPart::WriteSave() const {
    TheSaveStream.WriteInt16(0);
}

bool Game_PictureListPart::ReadSave() {
    std::int16_t read = 0;
    if (!TheSaveStream.ReadInt16(read)) return false;
    if (read < 0) return false;
    count = read;
    if (read > 0) {
        // Pictures cannot be read yet: the rest of the body would be misread.
        TheSaveStream.overrun = true;
        return false;
    }
    return true;
}

// ---- The snapshot ----

Game_SaveData::Game_SaveData() {
    Relink();
    systemState.savedFlag = 0;
}

Game_SaveData::Game_SaveData(const Game_SaveData& other)
    : mapState(other.mapState),
      systemState(other.systemState),
      variables(other.variables),
      playerPart(other.playerPart),
      pictures(other.pictures),
      variableDatabase(other.variableDatabase),
      inputReplay(other.inputReplay) {
    Relink();
}

Game_SaveData& Game_SaveData::operator=(const Game_SaveData& other) {
    if (this == &other) return *this;
    mapState = other.mapState;
    systemState = other.systemState;
    variables = other.variables;
    playerPart = other.playerPart;
    pictures = other.pictures;
    variableDatabase = other.variableDatabase;
    inputReplay = other.inputReplay;
    Relink();
    return *this;
}

bool Game_SaveData::WriteSave() {
    for (const SavePart& part : SavePartTable()) part.write(*this);
    systemState.savedFlag = 1;
    return true;
}

namespace {

// Everything a load into the live game does before the parts are read (steps 1 to 7).
void PrepareLiveLoad() {
    const SnapshotLiveServices& s = GetSnapshotLiveServices();
    if (s.stopMusic) s.stopMusic();
    if (s.clearGraphicCache) s.clearGraphicCache();
    if (s.deleteAllGraphs) s.deleteAllGraphs();
    if (s.createScreenGraphs) s.createScreenGraphs();
    TheGameSystem.sceneReloadRequested = 1;
    TheMapState.Reset();
    if (s.selectDefaultFonts) s.selectDefaultFonts();
    if (s.resetFontCache) s.resetFontCache();
    if (s.loadTextIcons) s.loadTextIcons();
    for (const SavePart& part : SavePartTable())
        if (part.resetLive) part.resetLive();
    if (TestPlay && s.reloadCommonEvents) s.reloadCommonEvents();
    if (s.setFrameSkipLevel) s.setFrameSkipLevel(TheSystemState.frameSkipLevel);
    if (s.clearScheduledSounds) s.clearScheduledSounds();
    if (s.reloadDatabases) s.reloadDatabases();
}

// Steps 9 and 10, after the parts.
void FinishLiveLoad() {
    const SnapshotLiveServices& s = GetSnapshotLiveServices();
    TheMapState.refreshRequest = 1;
    if (MapPlayer != nullptr) {
        if (MapPlayer->settingBytes.empty()) MapPlayer->settingBytes.resize(1);
        MapPlayer->settingBytes[0] = static_cast<std::uint8_t>(TheSystemState.playerShadow & 0xFF);
    }
    if (s.setTransition)
        s.setTransition(TheSystemState.transitionImage, TheSystemState.transitionTime,
                        TheSystemState.transitionMode);
    if (s.setFontSlot) {
        for (std::size_t i = 0; i < TheSystemState.fontNames.size(); ++i)
            s.setFontSlot(static_cast<std::int32_t>(i), TheSystemState.fontNames[i]);
    }
    if (!TestPlay) TheGameSystem.titleInfoMode = -10;
}

}  // namespace

bool Game_SaveData::ReadSave(bool toLive) {
    auto& table = SavePartTable();
    bool ok = true;
    if (!toLive) {
        mapState.Reset();
        pictures = Game_PictureListPart{};
        // Every reader runs even after one failed: each checks the stream again, and the caller
        // judges the whole read.
        for (const SavePart& part : table) ok = part.read(*this) && ok;
        Relink();
        return ok;
    }
    PrepareLiveLoad();
    for (std::size_t i = 0; i + 1 < table.size(); ++i) ok = table[i].readLive() && ok;
    FinishLiveLoad();
    ok = table.back().readLive() && ok;
    return ok;
}

// ---- The part table ----

namespace {

Game_PlayerPart LivePlayerPart() {
    Game_PlayerPart part;
    part.CopyFromLive();
    return part;
}

std::array<SavePart, kSavePartCount> DefaultParts() {
    return {{
        {"map", [](Game_SaveData& d) { d.mapState = TheMapState; },
         [](Game_SaveData& d) { d.mapState.WriteSave(); },
         [](Game_SaveData& d) { return d.mapState.ReadSave(false); }, nullptr,
         [] { return TheMapState.ReadSave(true); }},
        {"system", [](Game_SaveData& d) { d.systemState = TheSystemState; },
         [](Game_SaveData& d) { d.systemState.WriteSave(); },
         [](Game_SaveData& d) { return d.systemState.ReadSave(); },
         [] { TheSystemState = Game_SystemState(); }, [] { return TheSystemState.ReadSave(); }},
        {"variables",
         [](Game_SaveData& d) {
             d.variables = TheVariables;
             d.Relink();
         },
         [](Game_SaveData& d) { d.variables.Save(); },
         [](Game_SaveData& d) {
             const bool ok = d.variables.Load(false);
             d.Relink();
             return ok;
         },
         [] { TheVariables = Game_Variables(); },
         [] {
             const bool ok = TheVariables.Load(true);
             TheVariables.systemState = &TheSystemState;
             return ok;
         }},
        {"player", [](Game_SaveData& d) { d.playerPart = LivePlayerPart(); },
         [](Game_SaveData& d) { d.playerPart.WriteSave(); },
         [](Game_SaveData& d) { return d.playerPart.ReadSave(); },
         [] { Game_PlayerPart().CopyToLive(); },
         [] {
             Game_PlayerPart part;
             const bool ok = part.ReadSave();
             part.CopyToLive();
             return ok;
         }},
        {"pictures", [](Game_SaveData& d) { d.pictures = Game_PictureListPart{}; },
         [](Game_SaveData& d) { d.pictures.WriteSave(); },
         [](Game_SaveData& d) { return d.pictures.ReadSave(); },
         [] {
             if (const auto empty = GetSnapshotLiveServices().emptyLivePictures) empty();
         },
         [] { return Game_PictureListPart{}.ReadSave(); }},
        {"database", [](Game_SaveData& d) { d.variableDatabase = TheVariableDatabase; },
         [](Game_SaveData& d) { d.variableDatabase.WriteSave(); },
         [](Game_SaveData& d) { return d.variableDatabase.ReadSave(); },
         [] { TheVariableDatabase = Game_Database(); },
         [] { return TheVariableDatabase.ReadSave(); }},
        {"replay", nullptr, [](Game_SaveData&) { Game_InputReplay::Save(); },
         [](Game_SaveData& d) { return d.inputReplay.Load(); }, nullptr,
         [] { return TheInputReplay.Load(); }},
    }};
}

std::array<SavePart, kSavePartCount>& Table() {
    static std::array<SavePart, kSavePartCount> table = DefaultParts();
    return table;
}

void ReloadCommonEventsForTestPlay() {
    InsertedCommonFiles.clear();
    CommonEventNameMap.clear();
    TheCommonEvents.EnsureNotEmpty();
    LoadCommonEvents("BasicData/CommonEvent.dat");
    BuildCommonEventNameMap();
    CompileCommonEvents();
}

void ReloadAllDatabases() {
    LoadDatabases(DataPath, false);
    BuildDatabaseNameIndex();
}

SnapshotLiveServices DefaultLiveServices() {
    SnapshotLiveServices s{};
    s.stopMusic = [] {
        TheSoundManager.Play(SoundKind::Bgm, -1, 0, 0, 0);
        TheSoundManager.Play(SoundKind::Bgs, -1, 0, 0, 0);
    };
    s.createScreenGraphs = [] { TheGameSystem.CreateScreenGraphs(); };
    s.reloadCommonEvents = ReloadCommonEventsForTestPlay;
    s.setFrameSkipLevel = SetFrameSkipLevel;
    s.clearScheduledSounds = [] { TheSoundManager.ClearScheduledSounds(); };
    s.reloadDatabases = ReloadAllDatabases;
    s.setTransition = [](std::int32_t image, std::int32_t time, std::int32_t mode) {
        TheGameSystem.SetTransition(image, time, mode);
    };
    s.clearGraphicCache = [] { ClearGraphicCache(); };
    s.selectDefaultFonts = SelectDefaultFonts;
    s.resetFontCache = ResetFontCache;
    s.loadTextIcons = LoadTextIcons;
    s.setFontSlot = [](std::int32_t slot, const std::string& face) { SetFontSlot(slot, face); };
    return s;
}

SnapshotLiveServices& LiveServices() {
    static SnapshotLiveServices services = DefaultLiveServices();
    return services;
}

}  // namespace

std::array<SavePart, kSavePartCount>& SavePartTable() {
    return Table();
}

void ResetSavePartTable() {
    Table() = DefaultParts();
}

SnapshotLiveServices& GetSnapshotLiveServices() {
    return LiveServices();
}

void ResetSnapshotLiveServices() {
    LiveServices() = DefaultLiveServices();
}
