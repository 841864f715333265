#include "fuzz/DataFileFuzzEntry.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/MapData.h"
#include "runtime/data/SaveStream.h"
#include "runtime/data/TileSet.h"
#include "runtime/dictionary/MessageDictionary.h"

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
    }
    b.Release();
    return 0;
}
