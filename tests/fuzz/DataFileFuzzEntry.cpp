#include "fuzz/DataFileFuzzEntry.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/data/MapData.h"
#include "runtime/data/SaveStream.h"
#include "runtime/data/TileSet.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/Game_Variables.h"
#include "runtime/shell/Game_InputReplay.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

// A page read from a file ends its commands with the end-of-list code; an event that stores no
// pages keeps its default page as it is.
void CheckPage(const Game_EventPage& page) {
    Check(page.contactBytes.size() >= 3);
    Check(page == Game_EventPage{} ||
          (!page.commands.empty() && page.commands.back().Code() == kEndOfListCode));
}

struct QuietServices {
    DataFileServices saved = GetDataFileServices();
    // Reading "Game.dat" sets the character set and the UI language; an input leaves them as
    // they were.
    std::int32_t savedLanguage = UiLanguage;
    std::int32_t savedCharSet = GameCharSetIndex;
    QuietServices() {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string&, const std::string&) {};
        s.reportRuntimeError = [](const std::string&, const std::string&, const std::string&) {};
        s.scriptLocation = []() { return std::string(); };
        s.exitProgram = [](int) {};
    }
    ~QuietServices() {
        GetDataFileServices() = saved;
        UiLanguage = savedLanguage;
        GameCharSetIndex = savedCharSet;
    }
};

// A save part's bytes with the format and text flag its prefix names.
bool BeginSavePart(std::vector<std::uint8_t>& file) {
    if (file.size() < 3) return false;
    const auto format = static_cast<std::int16_t>(90 + (file[0] | (file[1] << 8)) % 51);
    const bool utf8 = (file[2] & 1) != 0;
    TheSaveStream.BeginRead(std::vector<std::uint8_t>(file.begin() + 3, file.end()), utf8, format);
    return true;
}

// Writes a part with its measuring pass first; the two passes must agree.
template <typename Write>
std::vector<std::uint8_t> WritePart(Write write) {
    TheSaveStream.BeginWrite(true);
    write();
    const std::int32_t measured = TheSaveStream.position;
    TheSaveStream.BeginWrite(false, static_cast<std::size_t>(measured));
    write();
    Check(TheSaveStream.position == measured);
    return {TheSaveStream.buffer.begin(), TheSaveStream.buffer.begin() + measured};
}

// Nothing is drawn or shown while a system-state part is read.
struct NoDrawing {
    SystemStateDrawing saved = GetSystemStateDrawing();
    NoDrawing() { GetSystemStateDrawing() = SystemStateDrawing{}; }
    ~NoDrawing() { GetSystemStateDrawing() = saved; }
};

}  // namespace

int RunDataFileFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    QuietServices quiet;
    const int reader = data[0] % kFuzzReaderCount;
    std::vector<std::uint8_t> file(data + 1, data + size);
    DataFileBuffer& b = TheDataFileBuffer;
    switch (reader) {
        case kFuzzBasicData: {
            Game_BasicData basic;
            b.Load(std::move(file));
            if (ParseBasicData(basic, "", false)) {
                Check(basic.settingBytes.size() >= 35 && basic.settingNumbers.size() >= 22 &&
                      basic.settingTexts.size() >= 13);
                Check(GameCharSetIndex >= 0 && GameCharSetIndex < kGameCharSetCount);
            }
            break;
        }
        case kFuzzMapFile: {
            Game_MapData map;
            b.Load(std::move(file));
            if (ParseMapFile(map, "", "") == MapReadResult::Ok) {
                const auto cells = static_cast<std::size_t>(map.header.width) *
                                   static_cast<std::size_t>(map.header.height);
                for (const auto& layer : map.layers) Check(layer.size() == cells);
                Check(map.events.size() == static_cast<std::size_t>(map.header.eventCount));
                for (std::size_t i = 1; i < map.events.size(); ++i) {
                    Check(map.events[i - 1].id <= map.events[i].id);
                }
                for (const auto& event : map.events) {
                    for (const auto& page : event.pages) CheckPage(page);
                }
            }
            break;
        }
        case kFuzzTileSetData: {
            Game_TileSetList list;
            b.Load(std::move(file));
            if (ParseTileSetData(list, "")) {
                for (const auto& set : list.tileSets) {
                    Check(set.imageFiles.size() == kTileSetImageSlots);
                    Check(set.chipTags.size() >= 32 && set.chipFlags.size() >= 32);
                }
            }
            break;
        }
        case kFuzzArchiveKey: {
            // Short inputs are spread over the key file's size so that the block is reached.
            if (!file.empty() && file.size() < kArchiveKeyFileSize) {
                std::vector<std::uint8_t> grown(kArchiveKeyFileSize);
                for (std::size_t i = 0; i < grown.size(); ++i) grown[i] = file[i % file.size()];
                file = std::move(grown);
            }
            std::string extension = "velk";
            const std::string key = ParseArchiveKeyFile(std::move(file), extension);
            Check(key.size() <= kArchiveKeyMaxLength);
            break;
        }
        case kFuzzSaveMoveRoute: {
            TheSaveStream.BeginRead(std::move(file), true, SaveStream::kCurrentFormat);
            Game_MoveRoute route;
            if (route.Read(true)) {
                Check(!TheSaveStream.overrun);
                Check(route.commands.size() <= kMaxMoveRouteCommands);
                // What was read writes a record that reads back equal, and the measuring pass
                // counts exactly the bytes written.
                TheSaveStream.BeginWrite(true);
                route.WriteSave();
                const std::int32_t measured = TheSaveStream.position;
                TheSaveStream.BeginWrite(false, static_cast<std::size_t>(measured));
                route.WriteSave();
                Check(TheSaveStream.position == measured &&
                      TheSaveStream.buffer.size() == static_cast<std::size_t>(measured));
                TheSaveStream.BeginRead(TheSaveStream.buffer, true, SaveStream::kCurrentFormat);
                Game_MoveRoute again;
                Check(again.Read(true) && again == route);
            }
            TheSaveStream.Release();
            break;
        }
        case kFuzzEventRecord: {
            b.Load(std::move(file));
            b.utf8 = true;
            Game_EventData event;
            if (event.Read()) {
                for (const auto& page : event.pages) CheckPage(page);
            }
            break;
        }
        case kFuzzSystemStatePart: {
            NoDrawing quietDrawing;
            if (!BeginSavePart(file)) break;
            Game_SystemState state{Game_SystemState::QuietConstruction{}};
            if (state.ReadSave()) {
                Check(!TheSaveStream.overrun);
                // What was read writes a part that reads back to the same part.
                const std::vector<std::uint8_t> written = WritePart([&] { state.WriteSave(); });
                TheSaveStream.BeginRead(written, true, SaveStream::kCurrentFormat);
                Game_SystemState again{Game_SystemState::QuietConstruction{}};
                Check(again.ReadSave());
                Check(WritePart([&] { again.WriteSave(); }) == written);
            }
            TheSaveStream.Release();
            break;
        }
        case kFuzzVariablesPart: {
            if (!BeginSavePart(file)) break;
            Game_Variables store{Game_Variables::QuietConstruction{}};
            if (store.Load(false)) {
                Check(!TheSaveStream.overrun);
                Check(store.numberLists.size() <= 9999 && store.commonSelfIntegers.size() <= 10000);
                const std::vector<std::uint8_t> written = WritePart([&] { store.Save(); });
                TheSaveStream.BeginRead(written, true, SaveStream::kCurrentFormat);
                Game_Variables again{Game_Variables::QuietConstruction{}};
                Check(again.Load(false));
                Check(again.mapEventSelf == store.mapEventSelf &&
                      again.numberLists == store.numberLists && again.strings == store.strings &&
                      again.commonSelfIntegers == store.commonSelfIntegers &&
                      again.commonSelfStrings == store.commonSelfStrings);
            }
            TheSaveStream.Release();
            break;
        }
        case kFuzzReplayPart: {
            TheSaveStream.BeginRead(file, true, SaveStream::kCurrentFormat);
            Game_InputReplay replay{Game_InputReplay::Quiet{}};
            const bool read = replay.Load();
            Check(read != TheSaveStream.overrun);
            // Nothing is allocated beyond what the part can hold (two bytes an entry at least).
            Check(replay.counts.size() == replay.values.size());
            Check(replay.counts.size() <= file.size() / 2);
            Check(replay.runLength == 0 && replay.readIndex == 0 && replay.framesPlayed == 0);
            TheSaveStream.Release();
            break;
        }
    }
    b.Release();
    return 0;
}
