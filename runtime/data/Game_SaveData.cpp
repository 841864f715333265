#include "runtime/data/Game_SaveData.h"

#include "runtime/data/CommonEvent.h"
#include "runtime/data/SaveStream.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/shell/FrameCounters.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/ShellGlobals.h"

// ---- Player and followers ----

Game_PlayerPart::Game_PlayerPart() {
    player.id = -2;
    player.isPlayer = 1;
    player.slide1 = 1;
    followers.resize(kFollowerCount);
    for (std::int32_t i = 0; i < kFollowerCount; ++i) {
        Game_Character& follower = followers[static_cast<std::size_t>(i)];
        follower.id = -3 - i;
        follower.passThrough = 1;
        follower.isFollower = 1;
    }
}

void Game_PlayerPart::CopyFromLive() {
    if (MapPlayer != nullptr) player = *MapPlayer;
    for (std::size_t i = 0; i < followers.size() && i < MapFollowers.size(); ++i)
        if (MapFollowers[i] != nullptr) followers[i] = *MapFollowers[i];
}

void Game_PlayerPart::CopyToLive() const {
    if (MapPlayer != nullptr) *MapPlayer = player;
    for (std::size_t i = 0; i < followers.size() && i < MapFollowers.size(); ++i)
        if (MapFollowers[i] != nullptr) *MapFollowers[i] = followers[i];
}

void Game_PlayerPart::WriteSave() const {
    SaveStream& s = TheSaveStream;
    player.WriteSave();
    // Always five: a player with fewer followers still saves the five it was made with.
    s.WriteInt32(kFollowerCount);
    for (std::int32_t i = 0; i < kFollowerCount; ++i) {
        if (static_cast<std::size_t>(i) < followers.size()) {
            followers[static_cast<std::size_t>(i)].WriteSave();
        } else {
            Game_Character().WriteSave();
        }
    }
    s.WriteByte(trailFrozen);
    s.WriteByte(player.stepped);
    s.WriteInt32(static_cast<std::int32_t>(player.footsteps.size()));
    for (std::int32_t v : player.footsteps) s.WriteInt32(v);
    const std::size_t pixels = std::min(player.pixelTrailX.size(), player.pixelTrailY.size());
    s.WriteInt32(static_cast<std::int32_t>(pixels));
    for (std::size_t i = 0; i < pixels; ++i) {
        s.WriteInt32(player.pixelTrailX[i]);
        s.WriteInt32(player.pixelTrailY[i]);
    }
}

bool Game_PlayerPart::ReadSave() {
    SaveStream& s = TheSaveStream;
    if (!player.ReadSave()) return false;
    std::int32_t count = 0;
    if (!s.ReadInt32(count)) return false;
    // A follower's part takes well over 16 bytes; a count beyond what is left is damage, never
    // a reason to allocate.
    if (count < 0 || count > s.Remaining() / 16) {
        s.overrun = true;
        return false;
    }
    followers.resize(static_cast<std::size_t>(count));
    for (Game_Character& follower : followers)
        if (!follower.ReadSave()) return false;
    if (!s.ReadByte(trailFrozen) || !s.ReadByte(player.stepped)) return false;
    if (!ReadSaveIntList(player.footsteps)) return false;
    if (s.formatNumber < 138) return true;
    std::int32_t pixels = 0;
    if (!s.ReadInt32(pixels)) return false;
    if (pixels < 0 || pixels > s.Remaining() / 8) {
        s.overrun = true;
        return false;
    }
    player.pixelTrailX.assign(static_cast<std::size_t>(pixels), 0);
    player.pixelTrailY.assign(static_cast<std::size_t>(pixels), 0);
    for (std::int32_t i = 0; i < pixels; ++i)
        if (!s.ReadInt32(player.pixelTrailX[static_cast<std::size_t>(i)]) ||
            !s.ReadInt32(player.pixelTrailY[static_cast<std::size_t>(i)]))
            return false;
    return true;
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
