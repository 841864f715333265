#include "tools/gamedata/GameDataSave.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_SaveManager.h"
#include "runtime/world/Game_MapState.h"

namespace gamedata {

namespace {

// While a save is decoded nothing is shown or ended: every refusal of the database readers
// becomes an exception.
class QuietSaveServices {
  public:
    QuietSaveServices() {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string& text, const std::string&) {
            throw std::runtime_error(text);
        };
        s.reportRuntimeError = [](const std::string& line1, const std::string&,
                                  const std::string&) { throw std::runtime_error(line1); };
        s.exitProgram = [](int) {
            throw std::runtime_error("the game's databases cannot be used");
        };
        s.damagedFile = [](const std::string& path) {
            throw std::runtime_error(path + " is damaged; the file was left unchanged");
        };
    }
    ~QuietSaveServices() {
        GetDataFileServices() = saved_;
        MapLayersMissing = 0;
    }
    QuietSaveServices(const QuietSaveServices&) = delete;
    QuietSaveServices& operator=(const QuietSaveServices&) = delete;

  private:
    DataFileServices saved_ = GetDataFileServices();
};

Json CharacterJson(const Game_Character& c) {
    return Json{{"id", c.id},
                {"x", c.x},
                {"y", c.y},
                {"direction", c.direction},
                {"graphic", c.graphicName},
                {"moveSpeed", c.moveSpeed},
                {"erased", c.erased}};
}

Json PartsJson(Game_SaveData& data) {
    const Game_MapState& map = data.mapState;
    Json events = Json::array();
    for (const Game_Character& event : map.events) events.push_back(CharacterJson(event));
    Json followers = Json::array();
    for (const Game_Character& f : data.playerPart.player.followers) followers.push_back(CharacterJson(f));
    const Game_SystemState& s = data.systemState;
    const Game_Variables& v = data.variables;
    return Json{
        {"map",
         {{"id", map.mapId},
          {"displayX", map.displayX},
          {"displayY", map.displayY},
          {"width", map.GetWidth()},
          {"height", map.GetHeight()},
          {"layersSaved", MapLayersMissing == 0},
          {"images", map.imageNames},
          {"events", events},
          {"intList", map.intList}}},
        {"system",
         {{"playTimeSeconds", s.playTimeSeconds},
          {"currentBgm", s.currentBgm},
          {"currentBgs", s.currentBgs},
          {"bgmFile", s.bgmFileName},
          {"bgsFile", s.bgsFileName},
          {"messageSpeed", s.messageSpeed},
          {"transition", {s.transitionImage, s.transitionTime, s.transitionMode}},
          {"fontNames", s.fontNames},
          {"keyCodes", s.keyCodes}}},
        {"variables",
         {{"numbers", v.numberLists},
          {"strings", v.strings},
          {"mapEventSelf", v.mapEventSelf},
          {"commonSelfIntegers", v.commonSelfIntegers},
          {"commonSelfStrings", v.commonSelfStrings}}},
        {"player",
         {{"player", CharacterJson(data.playerPart.player)},
          {"followers", followers},
          {"trailFrozen", data.playerPart.player.trailFrozen},
          {"footsteps", data.playerPart.player.footsteps}}},
        {"pictures", {{"count", data.pictures.count}}},
        {"variableDatabase", ToJson(data.variableDatabase)},
        {"replay", {{"entries", data.inputReplay.counts.size()}}},
    };
}

}  // namespace

std::string GuessGameFolder(const std::string& savePath) {
    const std::filesystem::path folder = std::filesystem::path(savePath).parent_path();
    const std::filesystem::path game = folder.parent_path();
    return (game.empty() ? std::filesystem::path(".") : game).string();
}

Json DecodeSave(const std::string& path, const std::string& gameFolder) {
    QuietSaveServices quiet;
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) throw std::runtime_error(path + ": cannot read the file");
    std::string folder = gameFolder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    try {
        LoadDatabases(folder, false);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": the game's databases in " + folder +
                                 " cannot be read: " + e.what());
    }
    auto data = std::make_unique<Game_SaveData>();
    SaveFileInfo info;
    bool ok = false;
    try {
        ok = DecodeSaveFile(bytes, *data, info);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
    if (!ok)
        throw std::runtime_error(path +
                                 ": not a readable save (cut short, damaged, newer than "
                                 "format 140, or its check byte differs)");
    Json doc{{"kind", "save"},
             {"seeds", info.seeds},
             {"check", info.check},
             {"utf8", info.utf8},
             {"title", info.title},
             {"format", info.format},
             {"bytesLeft", info.bytesLeft}};
    doc.update(PartsJson(*data));
    return doc;
}

}  // namespace gamedata
