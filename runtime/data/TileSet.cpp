#include "runtime/data/TileSet.h"

#include <cstdint>
#include <string>

#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

namespace {

// Name, eight image slots, separator, tag count, one skipped byte, flag count.
constexpr std::size_t kMinTileSetBytes = 4 + 8 * 4 + 1 + 4 + 1 + 4;

template <typename T>
void InsertZeros(std::vector<T>& list, std::size_t at, std::size_t count) {
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(at), count, T{});
}

}  // namespace

Game_TileSet::Game_TileSet() {
    chipTags.resize(kAutotileChipEntries);
    for (int i = 0; i < kAutotileChipEntries; ++i) chipTags[i] = static_cast<std::uint8_t>(i);
    chipFlags.assign(kAutotileChipEntries, 0);
}

bool Game_TileSet::Read(int generation) {
    DataFileBuffer& b = TheDataFileBuffer;
    name = b.ReadString(kTileSetTextLimit);
    const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
    imageFiles.assign(kTileSetImageSlots, std::string());
    for (int i = 0; i < slots && !b.damaged; ++i) imageFiles[i] = b.ReadString(kTileSetTextLimit);
    const std::uint8_t separator = b.ReadByte();
    if (b.damaged) return false;
    if (separator != 0xFF) {
        GetDataFileServices().showMessageBox(
            TranslateMessageUtf8(
                u"タイルセットのロードに失敗しました、ファイル破損の可能性があります"),
            "");
    }
    const std::int32_t tagCount = b.ReadCount(1, true);
    chipTags.assign(static_cast<std::size_t>(tagCount), 0);
    for (auto& tag : chipTags) tag = b.ReadByte();
    b.Skip(1);
    const std::size_t flagBytes = generation == 1 ? 1 : 4;
    const std::int32_t flagCount = b.ReadCount(flagBytes, true);
    chipFlags.assign(static_cast<std::size_t>(flagCount), 0);
    for (auto& flag : chipFlags) flag = generation == 1 ? b.ReadByte() : b.ReadInt32();
    if (b.damaged) return false;

    // Old generations carry fewer autotile entries; they must at least carry their own.
    if (generation <= 2) {
        if (chipTags.size() < 8 || chipFlags.size() < 8) {
            b.MarkDamaged();
            return false;
        }
        InsertZeros(chipTags, 8, 8);
        InsertZeros(chipFlags, 8, 8);
        for (auto& flag : chipFlags) {
            if (flag & (0x10 | 0x100)) flag |= 0x200;
        }
    }
    if (generation <= 3) {
        if (chipTags.size() < 16 || chipFlags.size() < 16) {
            b.MarkDamaged();
            return false;
        }
        InsertZeros(chipTags, 16, 16);
        InsertZeros(chipFlags, 16, 16);
    }
    return true;
}

const Game_TileSet* Game_TileSetList::Find(std::int32_t number) const {
    if (number < 0 || static_cast<std::size_t>(number) >= tileSets.size()) return nullptr;
    return &tileSets[static_cast<std::size_t>(number)];
}

bool LoadTileSetData(Game_TileSetList& list, const std::string& dataFolder) {
    const std::string path = dataFolder + "BasicData/TileSetData.dat";
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeDataFile(path, bytes)) return false;
    TheDataFileBuffer.Load(std::move(bytes));
    const bool ok = ParseTileSetData(list, path);
    TheDataFileBuffer.Release();
    return ok;
}

bool ParseTileSetData(Game_TileSetList& list, const std::string& path) {
    DataFileBuffer& b = TheDataFileBuffer;
    auto damaged = [&] {
        HandleDamagedDataFile(path);
        return false;
    };
    ScrambledHeader header;
    if (!ReadShortHeader(b, kTileSetHeader, header)) return damaged();
    const std::uint8_t version = b.ReadByte();
    if (b.damaged) return damaged();
    if (version < kTileSetFirstVersion || version > kTileSetFirstVersion + 3) return false;
    const int generation = version - kTileSetFirstVersion + 1;

    const std::int32_t count = b.ReadCount(kMinTileSetBytes, true);
    if (b.damaged) return damaged();
    list.tileSets.resize(static_cast<std::size_t>(count));
    for (auto& tileSet : list.tileSets) {
        if (!tileSet.Read(generation)) return damaged();
    }
    const std::uint8_t closing = b.ReadByte();
    if (b.damaged) return damaged();
    if (closing != kTileSetClosingByte) {
        GetDataFileServices().showMessageBox(
            TranslateMessageUtf8(u"タイルセットデータの読み込みに失敗しました"),
            TranslateMessageUtf8(u"ファイル読み込みエラー"));
        return false;
    }
    return FinalDataFileCheck(b, kShortHeaderSize, header, path);
}

std::int32_t ConvertChipNumber(std::int32_t n) {
    if (n >= 0 && n <= 7) return n;
    if (n >= 8 && n <= INT32_MAX - 24) return n + 24;
    if (n >= -34 && n <= -11) return -3 - n;
    DataFileServices& services = GetDataFileServices();
    std::string line2 = TranslateMessageUtf8(u"変換しようとしたチップ番号 [%d]");
    const std::size_t at = line2.find("%d");
    if (at != std::string::npos) line2.replace(at, 2, std::to_string(n));
    services.reportRuntimeError(
        TranslateMessageUtf8(u"チップ番号変換に失敗しました、開発者に連絡してください"), line2,
        services.scriptLocation());
    return 0;
}
