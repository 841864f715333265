#include "fuzz/GameDataFuzzEntry.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/DataFileFuzzEntry.h"
#include "tools/gamedata/GameDataJson.h"

int RunGameDataFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const char* kind = nullptr;
    switch (data[0] % kFuzzReaderCount) {
        case kFuzzBasicData:
            kind = "basic";
            break;
        case kFuzzMapFile:
            kind = "map";
            break;
        case kFuzzTileSetData:
            kind = "tileset";
            break;
        case kFuzzArchiveKey:
            kind = "archivekey";
            break;
        default:
            return 0;
    }
    const std::vector<std::uint8_t> file(data + 1, data + size);
    gamedata::Json decoded;
    try {
        decoded = gamedata::DecodeFile(file, kind);
    } catch (const std::runtime_error&) {
        return 0;  // refused by the readers
    }
    // The description as printed and parsed again, as the tool's users get it.
    const auto again = gamedata::EncodeDocument(gamedata::Json::parse(decoded.dump()));
    if (again != file) std::abort();
    return 0;
}
