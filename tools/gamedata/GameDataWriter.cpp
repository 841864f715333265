#include "tools/gamedata/GameDataWriter.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/shell/TextConversion.h"

namespace gamedata {

void ByteWriter::I16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    U8(static_cast<std::uint8_t>(u));
    U8(static_cast<std::uint8_t>(u >> 8));
}

void ByteWriter::I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(u >> (8 * i)));
}

void ByteWriter::String(const std::string& utf8Text, const char* field, std::size_t limit) {
    // A stored text ends at its first zero, so a zero inside it would cut it short.
    if (utf8Text.find('\0') != std::string::npos) {
        throw std::invalid_argument(std::string(field) + ": a text cannot hold a zero byte");
    }
    const std::string text = codePageText ? ConvertUtf8ToGameText(utf8Text, locale) : utf8Text;
    if (codePageText && ConvertCodePageToUtf8(locale.c_str(), text.c_str()) != utf8Text) {
        throw std::invalid_argument(std::string(field) + ": \"" + utf8Text +
                                    "\" cannot be stored in the code page of " + locale);
    }
    // The reader's field holds the text and its zero, both as stored and as UTF-8.
    if (limit != 0 && std::max(text.size(), utf8Text.size()) + 1 > limit) {
        throw std::invalid_argument(std::string(field) + ": a text of at most " +
                                    std::to_string(limit - 1) + " bytes, not " +
                                    std::to_string(std::max(text.size(), utf8Text.size())));
    }
    I32(static_cast<std::int32_t>(text.size() + 1));
    bytes.insert(bytes.end(), text.begin(), text.end());
    U8(0);
}

std::string ConvertUtf8ToGameText(const std::string& utf8Text, const std::string& locale) {
    if (utf8Text.empty()) return {};
    return ConvertUtf8ToCodePage(locale.c_str(), utf8Text.c_str());
}

namespace {

// Refuses a count the format stores in fewer bits than it needs.
void CheckCount(std::size_t count, std::size_t most, const char* what) {
    if (count > most) {
        throw std::invalid_argument(std::string(what) + ": at most " + std::to_string(most) +
                                    ", not " + std::to_string(count));
    }
}

}  // namespace

void WriteMoveCommand(ByteWriter& out, const Game_MoveCommand& command) {
    // One count byte for the arguments, one length byte counting the text's zero.
    CheckCount(command.arguments.size(), 255, "move command arguments");
    CheckCount(command.text.size(), 254, "move command text bytes");
    if (command.text.find('\0') != std::string::npos) {
        throw std::invalid_argument("move command text: a text cannot hold a zero byte");
    }
    out.U8(command.code);
    out.U8(static_cast<std::uint8_t>(command.arguments.size()));
    for (std::int32_t a : command.arguments) out.I32(a);
    out.U8(static_cast<std::uint8_t>(command.text.size() + 1));
    out.bytes.insert(out.bytes.end(), command.text.begin(), command.text.end());
    out.U8(0);
}

void WriteMoveRoute(ByteWriter& out, const Game_MoveRoute& route) {
    out.U8(route.setting1);
    out.U8(route.setting2);
    out.U8(route.setting3);
    out.U8(route.setting0);
    out.U8(route.options);
    out.U8(route.routeOptions);
    CheckCount(route.commands.size(), kMaxMoveRouteCommands, "move route commands");
    out.I32(static_cast<std::int32_t>(route.commands.size()));
    for (const auto& command : route.commands) WriteMoveCommand(out, command);
}

void WriteEventCommand(ByteWriter& out, const Game_EventCommand& command) {
    // Both counts are signed bytes.
    CheckCount(command.arguments.size(), 127, "command arguments");
    CheckCount(command.strings.size(), 127, "command strings");
    out.U8(static_cast<std::uint8_t>(command.arguments.size()));
    for (std::int32_t a : command.arguments) out.I32(a);
    out.U8(command.indent);
    out.U8(static_cast<std::uint8_t>(command.strings.size()));
    for (const auto& s : command.strings) out.String(s, "command string");
    if (command.moveRoute) {
        out.U8(1);
        WriteMoveRoute(out, *command.moveRoute);
    } else {
        out.U8(0);
    }
}

void WriteCommandList(ByteWriter& out, const Game_CommandList& list) {
    out.I32(static_cast<std::int32_t>(list.size()));
    for (const auto& command : list) WriteEventCommand(out, command);
}

void WritePageCondition(ByteWriter& out, const Game_PageCondition& condition) {
    out.U8(condition.trigger);
    for (auto c : condition.conditions) out.U8(c);
    for (auto id : condition.variableIds) out.I32(id);
    for (auto v : condition.values) out.I32(v);
}

void WriteEventPage(ByteWriter& out, const Game_EventPage& page) {
    out.U8(0);
    out.I32(page.graphicTile);
    out.String(page.graphicFile, "graphic file", kGraphicFileLimit);
    out.U8(page.direction);
    out.U8(page.pattern);
    out.U8(page.opacity);
    out.U8(page.blendMode);
    WritePageCondition(out, page.condition);
    WriteMoveRoute(out, page.movement);
    WriteCommandList(out, page.commands);
    out.I32(static_cast<std::int32_t>(page.contactBytes.size()));
    for (auto c : page.contactBytes) out.U8(c);
    out.U8(0);
}

void WriteEventData(ByteWriter& out, const Game_EventData& event) {
    out.U8(0);
    out.I32(0);
    out.I32(event.id);
    out.String(event.name, "event name", kEventNameLimit);
    out.I32(event.x);
    out.I32(event.y);
    out.I32(static_cast<std::int32_t>(event.pages.size()));
    out.I32(static_cast<std::int32_t>(event.extraBytes.size()));
    for (auto c : event.extraBytes) out.U8(c);
    for (const auto& page : event.pages) WriteEventPage(out, page);
    out.U8(0);
}

std::vector<std::pair<std::size_t, std::uint8_t>> HeaderFormMarks(DataFileForm form,
                                                                  std::uint8_t kindLetter) {
    switch (form) {
        case DataFileForm::Plain:
            return {{1, 'V'}, {4, 'E'}, {5, 'L'}, {7, 'K'}, {8, kindLetter}};
        case DataFileForm::Protected:
            return {{1, 'P'}, {5, 'T'}, {7, 'K'}};
        case DataFileForm::Scrambled:
            break;
    }
    // Any other header is the scrambled form; this letter keeps it from looking like another.
    return {{1, 'Z'}};
}

bool SeedHasPlace(const ScrambledHeaderLayout& layout, DataFileForm form, int seed) {
    const auto marks = HeaderFormMarks(form, layout.kindLetter);
    return std::none_of(marks.begin(), marks.end(), [&](const auto& mark) {
        return mark.first == layout.seedOffsets[static_cast<std::size_t>(seed)];
    });
}

namespace {

ByteWriter BodyWriter(bool utf8, const std::string& locale) {
    ByteWriter out;
    out.codePageText = !utf8;
    out.locale = locale;
    return out;
}

// Puts a 10-byte header in front of `body`, whose checked part ends at `checkedEnd` (trailing
// bytes follow it), and scrambles the body unless the form is plain.
std::vector<std::uint8_t> FinishShortHeaderFile(const ScrambledHeaderLayout& layout,
                                                const DataFileOptions& options,
                                                std::vector<std::uint8_t> body,
                                                std::size_t checkedEnd) {
    std::vector<std::uint8_t> file(kShortHeaderSize, 0);
    // Filler that can be neither the plain nor the protected form.
    for (std::size_t i = 0; i < kShortHeaderSize; ++i)
        file[i] = static_cast<std::uint8_t>(0x30 + i);
    // A seed whose place a letter of the form takes cannot be stored.
    const auto marks = HeaderFormMarks(options.form, layout.kindLetter);
    for (const auto& [offset, letter] : marks) file[offset] = letter;
    for (int k = 0; k < 3; ++k) {
        const std::size_t offset = layout.seedOffsets[k];
        if (SeedHasPlace(layout, options.form, k)) {
            file[offset] = options.seeds[k];
        } else if (options.seeds[k] != 0) {
            throw std::invalid_argument("seed " + std::to_string(k + 1) +
                                        " has no place in this header form (byte " +
                                        std::to_string(offset) + " marks the form); it must be 0");
        }
    }
    file[layout.utf8Offset] = options.utf8 ? 'U' : 'J';
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < checkedEnd; ++i) sum += body[i];
    if (layout.checkOffset >= 0) file[layout.checkOffset] = static_cast<std::uint8_t>(sum);
    if (options.form != DataFileForm::Plain) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(body.data(), 0, body.size(), 3, options.seeds.data(), kNoCheck, unused,
                           {});
    }
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

void WriteProtectionBlock(ByteWriter& out, const DataFileOptions& options) {
    if (options.form != DataFileForm::Protected) return;
    for (int i = 0; i < 5; ++i) out.U8(0);
    out.I32(static_cast<std::int32_t>(options.protectionBlock.size()));
    out.Raw(options.protectionBlock);
}

}  // namespace

std::vector<std::uint8_t> WriteBasicData(const Game_BasicData& data,
                                         const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale);
    WriteProtectionBlock(out, options);
    out.I32(static_cast<std::int32_t>(data.settingBytes.size()));
    for (auto v : data.settingBytes) out.U8(v);
    out.I32(static_cast<std::int32_t>(data.settingTexts.size()));
    for (const auto& text : data.settingTexts)
        out.String(text, "setting text", kBasicDataTextLimit);
    const std::size_t versionOffsetAt = out.Size();
    out.I32(0);
    out.I32(0);
    out.I32(static_cast<std::int32_t>(data.settingNumbers.size()));
    for (auto v : data.settingNumbers) out.I16(v);
    out.I32(0);
    out.I32(0);
    const auto versionOffset = static_cast<std::int32_t>(kShortHeaderSize + out.Size());
    for (int i = 0; i < 4; ++i) {
        out.bytes[versionOffsetAt + i] = static_cast<std::uint8_t>(versionOffset >> (8 * i));
    }
    out.U8(options.versionByte.value_or(0xC3));
    const std::size_t checkedEnd = out.Size();
    out.Raw(options.trailingBytes);
    return FinishShortHeaderFile(kBasicDataHeader, options, std::move(out.bytes), checkedEnd);
}

std::vector<std::uint8_t> WriteMapFile(const Game_MapData& map, const MapFileOptions& options) {
    std::vector<std::uint8_t> file(kMapHeaderSize, 0);
    for (std::size_t i = 0; i < kMapHeaderSize; ++i) file[i] = static_cast<std::uint8_t>(0x40 + i);
    file[0] = options.seeds[0];
    file[3] = options.seeds[1];
    file[9] = options.seeds[2];
    if (!options.scrambled) std::copy_n("VELKM", 5, file.begin() + 10);
    file[16] = options.utf8 ? 'U' : 'J';

    ByteWriter out = BodyWriter(options.utf8, options.locale);
    out.I32(0);
    out.U8(options.formatLetter);
    out.String(map.header.name, "map name", kMapNameLimit);
    out.I32(map.header.tileSetNumber);
    out.I32(map.header.width);
    out.I32(map.header.height);
    out.I32(static_cast<std::int32_t>(map.events.size()));
    const bool anyCells = !map.layers[0].empty();
    // Layer data that starts with -1 reads as a map that stores no layers.
    if (options.storeLayers && anyCells && map.layers[0][0] == -1) {
        throw std::invalid_argument(
            "layers: the first tile (layer 0, x 0, y 0) cannot be -1, which marks a map without "
            "layers");
    }
    if (options.storeLayers && anyCells) {
        out.bytes.reserve(out.Size() + 12 * map.layers[0].size() + 256 * map.events.size());
        for (const auto& layer : map.layers) {
            for (std::int32_t tile : layer) out.I32(tile);
        }
    } else {
        out.I32(-1);
    }
    for (const auto& event : map.events) WriteEventData(out, event);
    out.U8(0);
    std::uint32_t sum = 0;
    for (auto c : out.bytes) sum += c;
    file[2] = static_cast<std::uint8_t>(sum);
    out.Raw(options.trailingBytes);
    if (options.scrambled) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(out.bytes.data(), 0, out.Size(), 3, options.seeds.data(), kNoCheck,
                           unused, {});
    }
    file.insert(file.end(), out.bytes.begin(), out.bytes.end());
    return file;
}

namespace {

// The chip lists as a generation stores them.
template <typename T>
std::vector<T> NarrowChipList(std::vector<T> list, int generation) {
    if (generation <= 3 && list.size() >= 32) list.erase(list.begin() + 16, list.begin() + 32);
    if (generation <= 2 && list.size() >= 16) list.erase(list.begin() + 8, list.begin() + 16);
    return list;
}

}  // namespace

std::vector<std::uint8_t> WriteTileSetData(const Game_TileSetList& list, int generation,
                                           const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale);
    WriteProtectionBlock(out, options);
    out.U8(options.versionByte.value_or(
        static_cast<std::uint8_t>(kTileSetFirstVersion + generation - 1)));
    out.I32(static_cast<std::int32_t>(list.tileSets.size()));
    const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
    for (const auto& tileSet : list.tileSets) {
        out.String(tileSet.name, "tileset name", kTileSetTextLimit);
        for (int i = 0; i < slots; ++i) {
            out.String(static_cast<std::size_t>(i) < tileSet.imageFiles.size()
                           ? tileSet.imageFiles[static_cast<std::size_t>(i)]
                           : std::string(),
                       "tileset image file", kTileSetTextLimit);
        }
        out.U8(0xFF);
        const auto tags = NarrowChipList(tileSet.chipTags, generation);
        out.I32(static_cast<std::int32_t>(tags.size()));
        for (auto t : tags) out.U8(t);
        out.U8(0);
        const auto flags = NarrowChipList(tileSet.chipFlags, generation);
        out.I32(static_cast<std::int32_t>(flags.size()));
        for (auto f : flags) {
            if (generation == 1) {
                out.U8(static_cast<std::uint8_t>(f));
            } else {
                out.I32(f);
            }
        }
    }
    out.U8(options.closingByte.value_or(kTileSetClosingByte));
    const std::size_t checkedEnd = out.Size();
    out.Raw(options.trailingBytes);
    return FinishShortHeaderFile(kTileSetHeader, options, std::move(out.bytes), checkedEnd);
}

std::vector<std::uint8_t> WriteDatabaseDataFile(const Game_Database& database,
                                                const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale);
    WriteProtectionBlock(out, options);
    const std::uint8_t version = options.versionByte.value_or(0xC2);
    out.U8(version);
    out.I32(static_cast<std::int32_t>(database.types.size()));
    for (const auto& type : database.types) {
        const auto fieldCount = static_cast<std::int32_t>(type.fieldKinds.size());
        if (type.leadValue <= -2) {
            out.I32(type.leadValue);
            out.I32(type.nameMode);
            out.I32(fieldCount);
        } else if (type.leadValue == -1) {
            out.I32(-1);
            out.I32(fieldCount);
        } else {
            out.I32(fieldCount);
        }
        for (std::int32_t kind : type.fieldKinds) out.I32(kind);
        out.I32(static_cast<std::int32_t>(type.entries.size()));
        const std::int32_t numbers = type.NumberFieldCount();
        const std::int32_t strings = type.StringFieldCount();
        for (const auto& entry : type.entries) {
            for (std::int32_t i = 0; i < numbers; ++i) {
                out.I32(static_cast<std::size_t>(i) < entry.numbers.size()
                            ? entry.numbers[static_cast<std::size_t>(i)]
                            : 0);
            }
            for (std::int32_t i = 0; i < strings; ++i) {
                out.String(static_cast<std::size_t>(i) < entry.strings.size()
                               ? entry.strings[static_cast<std::size_t>(i)]
                               : std::string());
            }
        }
    }
    out.U8(options.closingByte.value_or(version));
    const std::size_t checkedEnd = out.Size();
    out.Raw(options.trailingBytes);
    return FinishShortHeaderFile(kDatabaseHeader, options, std::move(out.bytes), checkedEnd);
}

std::vector<std::uint8_t> WriteDatabaseProjectFile(const Game_Database& database,
                                                   const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale);
    const bool extended = options.versionByte.value_or(0xC2) != 0xC0;
    out.I32(static_cast<std::int32_t>(database.typeInfos.size()));
    for (const auto& info : database.typeInfos) {
        out.String(info.typeName);
        out.I32(static_cast<std::int32_t>(info.fieldNames.size()));
        for (const auto& name : info.fieldNames) out.String(name);
        out.I32(static_cast<std::int32_t>(info.dataNames.size()));
        for (const auto& name : info.dataNames) out.String(name);
        out.String(info.typeNote);
        if (!extended) continue;
        const std::size_t flags = std::min(info.fieldNames.size(), info.fieldFlags.size());
        out.I32(static_cast<std::int32_t>(flags));
        for (std::size_t i = 0; i < flags; ++i) out.U8(info.fieldFlags[i]);
        out.I32(static_cast<std::int32_t>(info.fieldTexts.size()));
        for (const auto& text : info.fieldTexts) out.String(text);
        out.I32(static_cast<std::int32_t>(info.fieldStringLists.size()));
        for (const auto& list : info.fieldStringLists) {
            out.I32(static_cast<std::int32_t>(list.size()));
            for (const auto& text : list) out.String(text);
        }
        out.I32(static_cast<std::int32_t>(info.fieldNumberLists.size()));
        for (const auto& list : info.fieldNumberLists) {
            out.I32(static_cast<std::int32_t>(list.size()));
            for (std::int32_t n : list) out.I32(n);
        }
        out.I32(static_cast<std::int32_t>(info.initialValues.size()));
        for (std::int32_t v : info.initialValues) out.I32(v);
    }
    if (options.form == DataFileForm::Protected) {
        const std::uint8_t seed = options.protectionBlock.empty() ? 0 : options.protectionBlock[0];
        ScrambleGenerator generator(seed);
        for (auto& byte : out.bytes) byte ^= static_cast<std::uint8_t>(generator.Next());
    }
    return std::move(out.bytes);
}

bool SaveDatabaseFiles(const std::string& base, const Game_Database& database,
                       const DataFileOptions& options) {
    return SaveBytes(base + ".dat", WriteDatabaseDataFile(database, options)) &&
           SaveBytes(base + ".project", WriteDatabaseProjectFile(database, options));
}

Game_TileSet ExpectedTileSetAfterGeneration(const Game_TileSet& tileSet, int generation) {
    Game_TileSet expected = tileSet;
    const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
    expected.imageFiles.resize(kTileSetImageSlots);
    for (int i = slots; i < kTileSetImageSlots; ++i) expected.imageFiles[i].clear();
    auto clearRange = [](auto& list, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to && i < list.size(); ++i) list[i] = 0;
    };
    if (generation <= 3) {
        clearRange(expected.chipTags, 16, 32);
        clearRange(expected.chipFlags, 16, 32);
    }
    if (generation <= 2) {
        clearRange(expected.chipTags, 8, 16);
        clearRange(expected.chipFlags, 8, 16);
        for (auto& flag : expected.chipFlags) {
            if (generation == 1) flag &= 0xFF;
            if (flag & (0x10 | 0x100)) flag |= 0x200;
        }
    }
    return expected;
}

std::vector<std::uint8_t> WriteArchiveKeyFile(const std::string& key, int extensionIndex,
                                              std::uint8_t seed) {
    std::vector<std::uint8_t> file(kArchiveKeyFileSize, 0);
    file[0] = seed;
    file[1] = static_cast<std::uint8_t>(extensionIndex);
    file[2] = static_cast<std::uint8_t>(key.size());
    // Filler everywhere, so that the key does not stand out in the block.
    ScrambleGenerator filler(0x5EEDu + seed);
    for (std::size_t i = 3; i < kArchiveKeyFileSize - 1; ++i) {
        file[i] = static_cast<std::uint8_t>(filler.Next());
    }
    std::uint8_t* block = file.data() + kArchiveKeyBlockOffset;
    for (std::size_t i = 0; i < key.size() && i < kArchiveKeyMaxLength; ++i) {
        block[kArchiveKeyFirstPick + i * kArchiveKeyStride] = static_cast<std::uint8_t>(key[i]);
    }
    std::uint8_t unused = 0;
    UnscrambleDataFile(file.data(), kArchiveKeyBlockOffset,
                       kArchiveKeyBlockOffset + kArchiveKeyBlockSize, 1, &seed, kNoCheck, unused,
                       {});
    file[kArchiveKeyFileSize - 1] = kArchiveKeyCheckValue;
    return file;
}

bool SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace gamedata
