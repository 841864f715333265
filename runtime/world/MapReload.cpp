#include "runtime/world/MapReload.h"

#include "runtime/data/CommonEvent.h"
#include "runtime/data/Game_Database.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/TileSet.h"
#include "runtime/script/CallCommands.h"
#include "runtime/script/CompilePass.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/world/Game_MapState.h"

void ReloadEditedGameData() {
    Game_MapState& map = TheMapState;
    const std::int32_t displayX = map.displayX, displayY = map.displayY;
    CommonEventNameMap.clear();
    InsertedCommonFiles.clear();
    if (TheCommonEvents.Count() == 0) TheCommonEvents.Resize(1);
    LoadCommonEvents("BasicData/CommonEvent.dat");
    BuildCommonEventNameMap();
    TheSystemState.panoramaNumber = -1;
    LoadDatabases(DataPath, false);
    BuildDatabaseNameIndex();
    CompileCommonEvents();
    LoadTileSetData(map.tileSetList, DataPath);
    TheSoundManager.Reset();
    // The parallel common events are built again from the new list by the map load.
    map.runners.clear();
    TheSystemState.mainInterpreter.Setup(true);
    BuildDatabaseNameIndex();
    map.LoadMap(map.mapId);
    map.StartMapMusic();
    map.displayX = displayX;
    map.displayY = displayY;
}
