#include "tools/gamedata/GameDataWriter.h"

#include <algorithm>
#include <cstring>
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

bool StoredForm::Empty() const {
    return header.empty() && skipped.empty() && texts.empty() && noArguments.empty() &&
           routeFlags.empty() && lastCodes.empty() && pageCounts.empty() &&
           eventByteCounts.empty() && contactCounts.empty() && eventOrder.empty() &&
           !unmarkedEmptyLayers && chipFlagsWithoutBit200.empty() && bareFieldCounts.empty() &&
           fieldBlockCounts.empty() && listCounts.empty() && !versionAt && tail.empty() &&
           keyFile.empty() && trailing.empty() && !recordCount && sectionBytes.empty() &&
           recordNumbers.empty() && recordCounts.empty() && recordStartBytes.empty();
}

void ByteWriter::Skipped(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++skippedAt) {
        U8(stored && skippedAt < stored->skipped.size() ? stored->skipped[skippedAt] : 0);
    }
}

const std::string* ByteWriter::StoredText(const std::string& text, bool converted) {
    const std::size_t number = textNumber++;
    if (!stored) return nullptr;
    const auto it = stored->texts.find(number);
    if (it == stored->texts.end()) return nullptr;
    // What a reader makes of the stored bytes: those before the first zero, read through the
    // code page when the file's text is not UTF-8.
    const std::string& kept = it->second;
    std::string read(kept.c_str(), strnlen(kept.c_str(), kept.size()));
    if (converted && !read.empty()) read = ConvertCodePageToUtf8(locale.c_str(), read.c_str());
    return read == text ? &kept : nullptr;
}

void ByteWriter::String(const std::string& utf8Text, const char* field, std::size_t limit) {
    if (const std::string* kept = StoredText(utf8Text, codePageText)) {
        I32(static_cast<std::int32_t>(kept->size()));
        bytes.insert(bytes.end(), kept->begin(), kept->end());
        return;
    }
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
    const std::string* kept = out.StoredText(command.text, false);
    if (!kept) {
        CheckCount(command.text.size(), 254, "move command text bytes");
        if (command.text.find('\0') != std::string::npos) {
            throw std::invalid_argument("move command text: a text cannot hold a zero byte");
        }
    }
    out.U8(command.code);
    out.U8(static_cast<std::uint8_t>(command.arguments.size()));
    for (std::int32_t a : command.arguments) out.I32(a);
    if (kept) {
        out.U8(static_cast<std::uint8_t>(kept->size()));
        out.bytes.insert(out.bytes.end(), kept->begin(), kept->end());
        return;
    }
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
    const std::size_t number = out.commandNumber++;
    const StoredForm* stored = out.stored;
    // A command stored without arguments reads as the one argument 0 (-1 when it ends its list).
    const bool noArguments =
        stored && command.arguments.size() == 1 &&
        (command.arguments[0] == 0 || command.arguments[0] == kEndOfListCode) &&
        std::find(stored->noArguments.begin(), stored->noArguments.end(), number) !=
            stored->noArguments.end();
    if (noArguments) {
        out.U8(0);
    } else {
        out.U8(static_cast<std::uint8_t>(command.arguments.size()));
        for (std::int32_t a : command.arguments) out.I32(a);
    }
    out.U8(command.indent);
    out.U8(static_cast<std::uint8_t>(command.strings.size()));
    for (const auto& s : command.strings) out.String(s, "command string");
    std::int8_t flag = command.moveRoute ? 1 : 0;
    if (stored) {
        // Any flag of 1 or more carries a route.
        const auto it = stored->routeFlags.find(number);
        if (it != stored->routeFlags.end() && (it->second >= 1) == command.moveRoute.has_value()) {
            flag = it->second;
        }
    }
    out.U8(static_cast<std::uint8_t>(flag));
    if (command.moveRoute) WriteMoveRoute(out, *command.moveRoute);
}

void WriteCommandList(ByteWriter& out, const Game_CommandList& list) {
    out.I32(static_cast<std::int32_t>(list.size()));
    const std::size_t number = out.listNumber++;
    // Reading makes the last code the end-of-list code, whatever was stored.
    const std::int32_t* lastCode = nullptr;
    if (out.stored) {
        const auto it = out.stored->lastCodes.find(number);
        if (it != out.stored->lastCodes.end()) lastCode = &it->second;
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (lastCode && i + 1 == list.size() && !list[i].arguments.empty() &&
            list[i].arguments[0] == kEndOfListCode) {
            Game_EventCommand command = list[i];
            command.arguments[0] = *lastCode;
            WriteEventCommand(out, command);
        } else {
            WriteEventCommand(out, list[i]);
        }
    }
}

void WritePageCondition(ByteWriter& out, const Game_PageCondition& condition) {
    out.U8(condition.trigger);
    for (auto c : condition.conditions) out.U8(c);
    for (auto id : condition.variableIds) out.I32(id);
    for (auto v : condition.values) out.I32(v);
}

void WriteEventPage(ByteWriter& out, const Game_EventPage& page) {
    const std::size_t number = out.pageNumber++;
    out.Skipped(1);
    out.I32(page.graphicTile);
    out.String(page.graphicFile, "graphic file", kGraphicFileLimit);
    out.U8(page.direction);
    out.U8(page.pattern);
    out.U8(page.opacity);
    out.U8(page.blendMode);
    WritePageCondition(out, page.condition);
    WriteMoveRoute(out, page.movement);
    WriteCommandList(out, page.commands);
    // A page stored with fewer than three contact bytes reads with three, the others 0.
    std::int32_t contactCount = static_cast<std::int32_t>(page.contactBytes.size());
    if (out.stored) {
        const auto it = out.stored->contactCounts.find(number);
        if (it != out.stored->contactCounts.end() && page.contactBytes.size() == 3 &&
            std::all_of(page.contactBytes.begin() + std::clamp(it->second, 0, 3),
                        page.contactBytes.end(), [](std::uint8_t c) { return c == 0; })) {
            contactCount = it->second;
        }
    }
    out.I32(contactCount);
    for (std::int32_t i = 0; i < contactCount; ++i) out.U8(page.contactBytes[i]);
    out.Skipped(1);
}

namespace {

// The page an event has before any is read, also as a description gives it back (its command
// count set and its list ending in the end-of-list code).
bool IsDefaultPage(const Game_EventPage& page) {
    Game_EventPage plain = page;
    plain.commandCount = Game_EventPage{}.commandCount;
    if (plain.commands.size() == 1 && plain.commands[0].arguments.size() == 1 &&
        plain.commands[0].arguments[0] == kEndOfListCode) {
        plain.commands[0].arguments[0] = 0;
    }
    return plain == Game_EventPage{};
}

}  // namespace

void WriteEventData(ByteWriter& out, const Game_EventData& event) {
    const std::size_t number = out.eventNumber++;
    out.Skipped(1);
    out.Skipped(4);
    out.I32(event.id);
    out.String(event.name, "event name", kEventNameLimit);
    out.I32(event.x);
    out.I32(event.y);
    // An event stored with a page count of 0 or less reads with one default page; a negative
    // count of kept bytes reads as none.
    std::optional<std::int32_t> pageCount;
    std::int32_t byteCount = static_cast<std::int32_t>(event.extraBytes.size());
    if (out.stored) {
        const auto pages = out.stored->pageCounts.find(number);
        if (pages != out.stored->pageCounts.end() && event.pages.size() == 1 &&
            IsDefaultPage(event.pages[0])) {
            pageCount = pages->second;
        }
        const auto bytes = out.stored->eventByteCounts.find(number);
        if (bytes != out.stored->eventByteCounts.end() && event.extraBytes.empty()) {
            byteCount = bytes->second;
        }
    }
    out.I32(pageCount.value_or(static_cast<std::int32_t>(event.pages.size())));
    out.I32(byteCount);
    for (auto c : event.extraBytes) out.U8(c);
    if (!pageCount) {
        for (const auto& page : event.pages) WriteEventPage(out, page);
    }
    out.Skipped(1);
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

ByteWriter BodyWriter(bool utf8, const std::string& locale, const StoredForm& stored) {
    ByteWriter out;
    out.codePageText = !utf8;
    out.locale = locale;
    out.stored = &stored;
    return out;
}

// The UTF-8 flag byte: 'U', or for code-page text the stored byte when it is not 'U'.
std::uint8_t Utf8FlagByte(bool utf8, const std::vector<std::uint8_t>& kept, std::size_t offset) {
    if (utf8) return 'U';
    return offset < kept.size() && kept[offset] != 'U' ? kept[offset] : 'J';
}

// The check byte: the sum, unless no seed is set (nothing checks it then) and the file kept its
// own.
std::uint8_t CheckByte(const std::array<std::uint8_t, 3>& seeds,
                       const std::vector<std::uint8_t>& kept, int offset, std::uint8_t sum) {
    const bool anySeed = seeds[0] || seeds[1] || seeds[2];
    return !anySeed && offset >= 0 && static_cast<std::size_t>(offset) < kept.size()
               ? kept[static_cast<std::size_t>(offset)]
               : sum;
}

}  // namespace

std::vector<std::uint8_t> MakeShortHeader(const ScrambledHeaderLayout& layout,
                                          const DataFileOptions& options, std::uint8_t check) {
    const std::vector<std::uint8_t>& kept = options.stored.header;
    std::vector<std::uint8_t> file(kShortHeaderSize, 0);
    if (kept.size() == kShortHeaderSize) {
        file = kept;
    } else {
        // Filler that can be neither the plain nor the protected form.
        for (std::size_t i = 0; i < kShortHeaderSize; ++i)
            file[i] = static_cast<std::uint8_t>(0x30 + i);
    }
    // A seed whose place a letter of the form takes cannot be stored. A kept scrambled header
    // keeps its letters unless they spell another form.
    if (kept.size() != kShortHeaderSize || options.form != DataFileForm::Scrambled) {
        for (const auto& [offset, letter] : HeaderFormMarks(options.form, layout.kindLetter)) {
            file[offset] = letter;
        }
    }
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
    file[layout.utf8Offset] = Utf8FlagByte(options.utf8, kept, layout.utf8Offset);
    if (layout.checkOffset >= 0) {
        file[static_cast<std::size_t>(layout.checkOffset)] =
            CheckByte(options.seeds, kept, layout.checkOffset, check);
    }
    if (options.form == DataFileForm::Scrambled &&
        ClassifyShortHeader(file.data(), layout.kindLetter) != ScrambledHeaderForm::Scrambled) {
        file[1] = 'Z';
    }
    return file;
}

std::vector<std::uint8_t> MakeMapHeader(const MapFileOptions& options, std::uint8_t check) {
    const std::vector<std::uint8_t>& kept = options.stored.header;
    std::vector<std::uint8_t> file(kMapHeaderSize, 0);
    if (kept.size() == kMapHeaderSize) {
        file = kept;
    } else {
        for (std::size_t i = 0; i < kMapHeaderSize; ++i)
            file[i] = static_cast<std::uint8_t>(0x40 + i);
    }
    file[0] = options.seeds[0];
    file[3] = options.seeds[1];
    file[9] = options.seeds[2];
    const bool marked = std::equal(file.begin() + 10, file.begin() + 15, "VELKM");
    if (!options.scrambled) {
        std::copy_n("VELKM", 5, file.begin() + 10);
    } else if (marked) {
        for (std::size_t i = 10; i < 15; ++i) file[i] = static_cast<std::uint8_t>(0x40 + i);
    }
    file[16] = Utf8FlagByte(options.utf8, kept, 16);
    file[2] = CheckByte(options.seeds, kept, 2, check);
    return file;
}

namespace {

// Puts a 10-byte header in front of `body`, whose checked part ends at `checkedEnd` (trailing
// bytes follow it), and scrambles the body unless the form is plain.
std::vector<std::uint8_t> FinishShortHeaderFile(const ScrambledHeaderLayout& layout,
                                                const DataFileOptions& options,
                                                std::vector<std::uint8_t> body,
                                                std::size_t checkedEnd) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < checkedEnd; ++i) sum += body[i];
    std::vector<std::uint8_t> file =
        MakeShortHeader(layout, options, static_cast<std::uint8_t>(sum));
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
    out.Skipped(5);
    out.I32(static_cast<std::int32_t>(options.protectionBlock.size()));
    out.Raw(options.protectionBlock);
}

}  // namespace

std::vector<std::uint8_t> WriteBasicData(const Game_BasicData& data,
                                         const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    WriteProtectionBlock(out, options);
    // An empty list may have been stored with a negative count, which reads as none.
    const auto count = [&](int list, std::size_t size) {
        const auto it = options.stored.listCounts.find(list);
        return size == 0 && it != options.stored.listCounts.end() ? it->second
                                                                  : static_cast<std::int32_t>(size);
    };
    out.I32(count(0, data.settingBytes.size()));
    for (auto v : data.settingBytes) out.U8(v);
    out.I32(count(1, data.settingTexts.size()));
    for (const auto& text : data.settingTexts)
        out.String(text, "setting text", kBasicDataTextLimit);
    const std::size_t versionOffsetAt = out.Size();
    out.I32(0);
    out.Skipped(4);
    out.I32(count(2, data.settingNumbers.size()));
    for (auto v : data.settingNumbers) out.I16(v);
    out.Skipped(8);
    // The version byte follows the two offsets, unless the file had it elsewhere.
    const auto end = static_cast<std::int32_t>(kShortHeaderSize + out.Size());
    const std::int32_t versionOffset = end + options.stored.versionAt.value_or(0);
    for (int i = 0; i < 4; ++i) {
        out.bytes[versionOffsetAt + i] = static_cast<std::uint8_t>(versionOffset >> (8 * i));
    }
    if (options.stored.versionAt) {
        out.Raw(options.stored.tail);
    } else {
        out.U8(options.versionByte.value_or(0xC3));
        out.Raw(options.trailingBytes);
    }
    const std::size_t checkedEnd = out.Size();
    return FinishShortHeaderFile(kBasicDataHeader, options, std::move(out.bytes), checkedEnd);
}

std::vector<std::uint8_t> WriteMapFile(const Game_MapData& map, const MapFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    out.Skipped(4);
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
    } else if (!(options.storeLayers && options.stored.unmarkedEmptyLayers)) {
        out.I32(-1);
    }
    // The events in the order the file had them (a reader sorts them by id).
    const auto& order = options.stored.eventOrder;
    std::vector<bool> seen(map.events.size());
    bool permutation = order.size() == map.events.size();
    for (std::size_t i = 0; permutation && i < order.size(); ++i) {
        permutation = order[i] >= 0 && static_cast<std::size_t>(order[i]) < seen.size() &&
                      !seen[static_cast<std::size_t>(order[i])];
        if (permutation) seen[static_cast<std::size_t>(order[i])] = true;
    }
    for (std::size_t i = 0; i < map.events.size(); ++i) {
        WriteEventData(out, map.events[permutation ? static_cast<std::size_t>(order[i]) : i]);
    }
    out.Skipped(1);
    std::uint32_t sum = 0;
    for (auto c : out.bytes) sum += c;
    std::vector<std::uint8_t> file = MakeMapHeader(options, static_cast<std::uint8_t>(sum));
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
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    WriteProtectionBlock(out, options);
    out.U8(options.versionByte.value_or(
        static_cast<std::uint8_t>(kTileSetFirstVersion + generation - 1)));
    out.I32(static_cast<std::int32_t>(list.tileSets.size()));
    const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
    for (std::size_t t = 0; t < list.tileSets.size(); ++t) {
        const Game_TileSet& tileSet = list.tileSets[t];
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
        out.Skipped(1);
        auto flags = NarrowChipList(tileSet.chipFlags, generation);
        // Reading a generation-2 file gives bit 0x200 to flags with bit 0x10 or 0x100.
        for (const auto& [set, index] : options.stored.chipFlagsWithoutBit200) {
            if (generation == 2 && set == t && index < flags.size() && (flags[index] & 0x200) &&
                (flags[index] & (0x10 | 0x100))) {
                flags[index] &= ~0x200;
            }
        }
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

namespace {

// The section bytes the writer stores: A to E continuing, and ending the record.
constexpr std::uint8_t kSectionContinues[5] = {0x90, 0x90, 0x91, 0x92, 0x92};
constexpr std::uint8_t kSectionEnds[5] = {0x8E, 0x8F, 0x90, 0x91, 0x92};

// Whether a stored section byte still reads as continuing (or ending) at that section.
bool SectionByteContinues(int section, std::uint8_t byte) {
    if (section == 0) return byte != 0 && byte != 0x8E;
    if (section == 4) return false;
    return byte == kSectionContinues[section];
}

}  // namespace

void WriteCommonEventRecord(ByteWriter& out, const Game_CommonEvent& event, int sections) {
    if (sections < 1 || sections > 5) {
        throw std::invalid_argument("common event sections: 1 to 5, not " +
                                    std::to_string(sections));
    }
    const std::size_t record = out.eventNumber++;
    const StoredForm* stored = out.stored;
    const auto storedCount = [&](int list, std::size_t size, auto isDefault) {
        if (stored) {
            const auto it = stored->recordCounts.find({record, list});
            // A negative count reads as none.
            if (it != stored->recordCounts.end() &&
                static_cast<std::size_t>(std::max(it->second, 0)) < size &&
                isDefault(std::max(it->second, 0))) {
                return it->second;
            }
        }
        return static_cast<std::int32_t>(size);
    };
    // An empty inner list may have been stored with a negative count, which reads as none.
    const auto negativeCount = [&](int list) {
        if (stored) {
            const auto it = stored->recordCounts.find({record, list});
            if (it != stored->recordCounts.end() && it->second < 0) return it->second;
        }
        return 0;
    };
    const auto sectionByte = [&](int section, bool continues) {
        if (stored) {
            const auto it = stored->sectionBytes.find(record);
            if (it != stored->sectionBytes.end() &&
                static_cast<std::size_t>(section) < it->second.size()) {
                const std::uint8_t byte = it->second[static_cast<std::size_t>(section)];
                // A last section byte of 0 still ends the record.
                if ((byte != 0 || section == 4) &&
                    SectionByteContinues(section, byte) == continues) {
                    return byte;
                }
            }
        }
        return continues ? kSectionContinues[section] : kSectionEnds[section];
    };
    std::uint8_t start = 1;
    if (stored) {
        const auto it = stored->recordStartBytes.find(record);
        if (it != stored->recordStartBytes.end() && it->second != 0) start = it->second;
    }
    out.U8(start);
    std::int32_t number = event.number;
    if (stored) {
        const auto it = stored->recordNumbers.find(record);
        if (it != stored->recordNumbers.end()) number = it->second;
    }
    out.I32(number);
    out.U8(event.startByte);
    out.I32(event.conditionVariable);
    out.I32(event.conditionValue);
    out.U8(event.settingBytes[0]);
    out.U8(event.settingBytes[1]);
    out.String(event.name, "common event name", kCommonEventNameLimit);
    if (event.commands.List().empty()) {
        throw std::invalid_argument("common event commands: at least one command");
    }
    WriteCommandList(out, event.commands.List());
    const std::int32_t byteCount = storedCount(0, event.byteList.size(), [&](std::int32_t n) {
        return std::all_of(event.byteList.begin() + n, event.byteList.end(),
                           [](std::uint8_t b) { return b == 0; }) &&
               (n > 0 || event.byteListText.empty());
    });
    out.I32(byteCount);
    for (std::int32_t i = 0; i < std::max(byteCount, 0); ++i)
        out.U8(event.byteList[static_cast<std::size_t>(i)]);
    if (byteCount >= 1)
        out.String(event.byteListText, "common event byte text", kCommonEventByteTextLimit);
    out.U8(sectionByte(0, sections > 1));
    if (sections == 1) return;

    const auto emptyFrom = [](const auto& list, std::int32_t n) {
        return std::all_of(list.begin() + n, list.end(),
                           [](const auto& v) { return v == std::decay_t<decltype(v)>{}; });
    };
    const std::int32_t texts = storedCount(1, event.argumentTexts.size(), [&](std::int32_t n) {
        return emptyFrom(event.argumentTexts, n);
    });
    out.I32(texts);
    for (std::int32_t i = 0; i < std::max(texts, 0); ++i) {
        out.String(event.argumentTexts[static_cast<std::size_t>(i)], "argument text");
    }
    const std::int32_t bytes = storedCount(2, event.argumentBytes.size(), [&](std::int32_t n) {
        return emptyFrom(event.argumentBytes, n);
    });
    out.I32(bytes);
    for (std::int32_t i = 0; i < std::max(bytes, 0); ++i)
        out.U8(event.argumentBytes[static_cast<std::size_t>(i)]);
    const std::int32_t textLists =
        storedCount(3, event.argumentTextLists.size(),
                    [&](std::int32_t n) { return emptyFrom(event.argumentTextLists, n); });
    out.I32(textLists);
    for (std::int32_t i = 0; i < std::max(textLists, 0); ++i) {
        const auto& list = event.argumentTextLists[static_cast<std::size_t>(i)];
        out.I32(list.empty() ? negativeCount(kInnerTextListBase + i)
                             : static_cast<std::int32_t>(list.size()));
        for (const auto& text : list) out.String(text, "argument text list");
    }
    const std::int32_t numberLists =
        storedCount(4, event.argumentNumberLists.size(),
                    [&](std::int32_t n) { return emptyFrom(event.argumentNumberLists, n); });
    out.I32(numberLists);
    for (std::int32_t i = 0; i < std::max(numberLists, 0); ++i) {
        const auto& list = event.argumentNumberLists[static_cast<std::size_t>(i)];
        out.I32(list.empty() ? negativeCount(kInnerNumberListBase + i)
                             : static_cast<std::int32_t>(list.size()));
        for (std::int32_t v : list) out.I32(v);
    }
    const std::int32_t numbers = storedCount(5, event.argumentNumbers.size(), [&](std::int32_t n) {
        return emptyFrom(event.argumentNumbers, n);
    });
    out.I32(numbers);
    for (std::int32_t i = 0; i < std::max(numbers, 0); ++i) {
        out.I32(event.argumentNumbers[static_cast<std::size_t>(i)]);
    }
    out.U8(sectionByte(1, sections > 2));
    if (sections == 2) return;

    out.I32(event.extraNumber);
    if (event.extraTexts.size() != kCommonEventExtraTextCount) {
        throw std::invalid_argument("common event extra texts: exactly 100");
    }
    for (const auto& text : event.extraTexts) {
        out.String(text, "common event extra text", kCommonEventExtraTextLimit);
    }
    out.U8(sectionByte(2, sections > 3));
    if (sections == 3) return;

    out.String(event.noteText, "common event note", kCommonEventNoteLimit);
    out.U8(sectionByte(3, sections > 4));
    if (sections == 4) return;

    out.String(event.noteText2, "common event second note", kCommonEventNoteLimit);
    out.I32(event.returnVariable);
    out.U8(sectionByte(4, false));
}

namespace {

void WriteCommonEventRecords(ByteWriter& out, const Game_CommonEventList& list,
                             const std::vector<int>& sections) {
    // No records may have been stored with a negative count.
    const bool negative = list.events.empty() && out.stored && out.stored->recordCount &&
                          *out.stored->recordCount < 0;
    out.I32(negative ? *out.stored->recordCount : static_cast<std::int32_t>(list.events.size()));
    for (std::size_t i = 0; i < list.events.size(); ++i) {
        WriteCommonEventRecord(out, list.events[i], i < sections.size() ? sections[i] : 5);
    }
}

}  // namespace

std::vector<std::uint8_t> WriteCommonEventFile(const Game_CommonEventList& list,
                                               const std::vector<int>& sections,
                                               const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    WriteProtectionBlock(out, options);
    const std::uint8_t version = options.versionByte.value_or(kCommonEventVersion);
    out.U8(version);
    WriteCommonEventRecords(out, list, sections);
    out.U8(options.closingByte.value_or(version == kCommonEventVersionOld ? kCommonEventVersionOld
                                                                          : kCommonEventVersion));
    const std::size_t checkedEnd = out.Size();
    out.Raw(options.trailingBytes);
    return FinishShortHeaderFile(kCommonEventHeader, options, std::move(out.bytes), checkedEnd);
}

std::vector<std::uint8_t> WriteCommonFile(const Game_CommonEventList& list,
                                          const std::vector<int>& sections,
                                          const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    out.I32(options.utf8 ? kCommonFileMagicUtf8 : kCommonFileMagicCodePage);
    WriteCommonEventRecords(out, list, sections);
    out.Raw(options.trailingBytes);
    return std::move(out.bytes);
}

std::vector<std::uint8_t> WriteDatabaseDataFile(const Game_Database& database,
                                                const DataFileOptions& options) {
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.stored);
    WriteProtectionBlock(out, options);
    const std::uint8_t version = options.versionByte.value_or(0xC2);
    out.U8(version);
    // The description has as many types as the longer of the two files has records.
    std::size_t typeCount = database.types.size();
    if (options.stored.recordCount && *options.stored.recordCount >= 0 &&
        static_cast<std::size_t>(*options.stored.recordCount) < typeCount &&
        std::all_of(database.types.begin() + *options.stored.recordCount, database.types.end(),
                    [](const Game_DatabaseType& t) { return t == Game_DatabaseType{}; })) {
        typeCount = static_cast<std::size_t>(*options.stored.recordCount);
    }
    out.I32(static_cast<std::int32_t>(typeCount));
    const auto& bare = options.stored.bareFieldCounts;
    for (std::size_t t = 0; t < typeCount; ++t) {
        const Game_DatabaseType& type = database.types[t];
        const auto fieldCount = static_cast<std::int32_t>(type.fieldKinds.size());
        if (type.leadValue == -2 && type.nameMode == 0 &&
            std::find(bare.begin(), bare.end(), t) != bare.end()) {
            out.I32(fieldCount);
        } else if (type.leadValue <= -2) {
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
            for (std::int32_t i = 0; i < std::max(numbers, 0); ++i) {
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
    ByteWriter out = BodyWriter(options.utf8, options.locale, options.projectStored);
    const bool extended = options.versionByte.value_or(0xC2) != 0xC0;
    std::size_t definitionCount = database.typeInfos.size();
    const auto& kept = options.projectStored.recordCount;
    if (kept && *kept >= 0 && static_cast<std::size_t>(*kept) < definitionCount &&
        std::all_of(database.typeInfos.begin() + *kept, database.typeInfos.end(),
                    [](const Game_DatabaseTypeInfo& i) { return i == Game_DatabaseTypeInfo{}; })) {
        definitionCount = static_cast<std::size_t>(*kept);
    }
    out.I32(static_cast<std::int32_t>(definitionCount));
    for (std::size_t d = 0; d < definitionCount; ++d) {
        const Game_DatabaseTypeInfo& info = database.typeInfos[d];
        out.String(info.typeName);
        out.I32(static_cast<std::int32_t>(info.fieldNames.size()));
        for (const auto& name : info.fieldNames) out.String(name);
        out.I32(static_cast<std::int32_t>(info.dataNames.size()));
        for (const auto& name : info.dataNames) out.String(name);
        out.String(info.typeNote);
        if (!extended) continue;
        // A block may have been stored with fewer entries than fields; the others read as empty
        // or 0 and are written only while they still are.
        const auto blockCount = [&](int block, std::size_t size, auto isEmpty) {
            const auto it = options.projectStored.fieldBlockCounts.find({d, block});
            if (it == options.projectStored.fieldBlockCounts.end() || it->second < 0 ||
                static_cast<std::size_t>(it->second) > size) {
                return size;
            }
            for (std::size_t i = static_cast<std::size_t>(it->second); i < size; ++i) {
                if (!isEmpty(i)) return size;
            }
            return static_cast<std::size_t>(it->second);
        };
        const std::size_t flags =
            blockCount(0, std::min(info.fieldNames.size(), info.fieldFlags.size()),
                       [&](std::size_t i) { return info.fieldFlags[i] == 0; });
        out.I32(static_cast<std::int32_t>(flags));
        for (std::size_t i = 0; i < flags; ++i) out.U8(info.fieldFlags[i]);
        const std::size_t texts = blockCount(
            1, info.fieldTexts.size(), [&](std::size_t i) { return info.fieldTexts[i].empty(); });
        out.I32(static_cast<std::int32_t>(texts));
        for (std::size_t i = 0; i < texts; ++i) out.String(info.fieldTexts[i]);
        const std::size_t stringLists =
            blockCount(2, info.fieldStringLists.size(),
                       [&](std::size_t i) { return info.fieldStringLists[i].empty(); });
        out.I32(static_cast<std::int32_t>(stringLists));
        for (std::size_t i = 0; i < stringLists; ++i) {
            const auto& list = info.fieldStringLists[i];
            out.I32(static_cast<std::int32_t>(list.size()));
            for (const auto& text : list) out.String(text);
        }
        const std::size_t numberLists =
            blockCount(3, info.fieldNumberLists.size(),
                       [&](std::size_t i) { return info.fieldNumberLists[i].empty(); });
        out.I32(static_cast<std::int32_t>(numberLists));
        for (std::size_t i = 0; i < numberLists; ++i) {
            const auto& list = info.fieldNumberLists[i];
            out.I32(static_cast<std::int32_t>(list.size()));
            for (std::int32_t n : list) out.I32(n);
        }
        const std::size_t initials = blockCount(4, info.initialValues.size(), [&](std::size_t i) {
            return info.initialValues[i] == 0;
        });
        out.I32(static_cast<std::int32_t>(initials));
        for (std::size_t i = 0; i < initials; ++i) out.I32(info.initialValues[i]);
    }
    out.Raw(options.projectStored.trailing);
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
                                              std::uint8_t seed,
                                              const std::vector<std::uint8_t>& stored) {
    std::vector<std::uint8_t> file(kArchiveKeyFileSize, 0);
    if (stored.size() == kArchiveKeyFileSize) {
        file = stored;
    } else {
        // Filler everywhere, so that the key does not stand out in the block.
        ScrambleGenerator filler(0x5EEDu + seed);
        for (std::size_t i = 3; i < kArchiveKeyFileSize - 1; ++i) {
            file[i] = static_cast<std::uint8_t>(filler.Next());
        }
    }
    file[0] = seed;
    file[1] = static_cast<std::uint8_t>(extensionIndex);
    file[2] = static_cast<std::uint8_t>(key.size());
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
