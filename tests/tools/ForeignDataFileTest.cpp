// Data files written by another program: built byte by byte here (not with our writer), with
// filler, skipped bytes, odd counts and text forms that our writer never makes. Every one the
// runtime's readers accept decodes with velk-gamedata and encodes back to the same bytes, and
// the files our writer makes decode without any of it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "runtime/data/ArchiveKey.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/TileSet.h"
#include "tools/gamedata/GameDataJson.h"
#include "tools/gamedata/GameDataSamples.h"

using gamedata::Json;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian bytes and the chances a file takes.
class Builder {
  public:
    explicit Builder(std::uint32_t seed) : random_(seed) {}

    Bytes bytes;

    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    bool Chance(int percent) { return Pick(0, 99) < percent; }
    std::uint8_t AnyByte() { return static_cast<std::uint8_t>(Pick(0, 255)); }

    void U8(std::uint8_t v) { bytes.push_back(v); }
    void I16(std::int16_t v) {
        U8(static_cast<std::uint8_t>(v));
        U8(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
    }
    void I32(std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            U8(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    }
    void Raw(const Bytes& data) { bytes.insert(bytes.end(), data.begin(), data.end()); }
    // Bytes the readers pass over: usually 0, sometimes anything.
    void Filler(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) U8(Chance(50) ? AnyByte() : 0);
    }

    // A short text made of letters, code-page pairs and bytes that are neither.
    std::string Text(int most) {
        static const char* const kPieces[] = {"a",        "Z",    " ",   "\x82\xA0",
                                              "\x93\xFA", "\xFF", "\x80"};
        std::string text;
        for (int n = Pick(0, most); n > 0; --n) text += kPieces[Pick(0, 6)];
        return text;
    }
    // A stored text: mostly length, text, zero; sometimes no zero, bytes after the zero, a
    // length of 0, or several zeros.
    void StoredText(int most = 6) {
        const std::string text = Text(most);
        Bytes stored(text.begin(), text.end());
        switch (Pick(0, 9)) {
            case 0:
                stored.clear();  // length 0: the empty text without its zero
                break;
            case 1:
                break;  // no zero at all
            case 2:
                stored.push_back(0);
                stored.push_back('q');
                stored.push_back(0);
                break;
            case 3:
                stored.insert(stored.end(), 3, 0);
                break;
            default:
                stored.push_back(0);
        }
        I32(static_cast<std::int32_t>(stored.size()));
        Raw(stored);
    }
    // A move command's text: length byte, then the bytes.
    void MoveText() {
        const std::string text = Text(4);
        Bytes stored(text.begin(), text.end());
        if (Pick(0, 3) != 0) stored.push_back(0);
        if (Chance(20)) stored.push_back('r');
        U8(static_cast<std::uint8_t>(stored.size()));
        Raw(stored);
    }

  private:
    std::mt19937 random_;
};

// A 10-byte header of any filler in the given form, with its seeds, flag byte and check byte.
Bytes ShortHeader(Builder& b, const ScrambledHeaderLayout& layout, int form,
                  const std::array<std::uint8_t, 3>& seeds, std::uint8_t flag, std::uint8_t check) {
    Bytes header(kShortHeaderSize);
    for (auto& byte : header) byte = b.AnyByte();
    for (int k = 0; k < 3; ++k) header[layout.seedOffsets[k]] = seeds[k];
    header[layout.utf8Offset] = flag;
    if (layout.checkOffset >= 0) header[static_cast<std::size_t>(layout.checkOffset)] = check;
    // The form's letters (the plain "Game.dat" header has its kind letter on its second seed).
    if (form == 0) {
        header[1] = 'V', header[4] = 'E', header[5] = 'L', header[7] = 'K';
        header[8] = layout.kindLetter;
    } else if (form == 1) {
        header[1] = 'P', header[5] = 'T', header[7] = 'K';
    } else if (ClassifyShortHeader(header.data(), layout.kindLetter) !=
               ScrambledHeaderForm::Scrambled) {
        header[1] = 'x';
    }
    return header;
}

std::array<std::uint8_t, 3> Seeds(Builder& b) {
    if (b.Chance(40)) return {0, 0, 0};
    return {b.AnyByte(), static_cast<std::uint8_t>(b.Chance(30) ? 0 : b.AnyByte()), b.AnyByte()};
}

std::uint8_t FlagByte(Builder& b) {
    static const std::uint8_t kFlags[] = {'U', 'U', 'J', 0, 'x'};
    return kFlags[b.Pick(0, 4)];
}

std::uint8_t Sum(const Bytes& body, std::size_t from, std::size_t to) {
    std::uint32_t sum = 0;
    for (std::size_t i = from; i < to; ++i) sum += body[i];
    return static_cast<std::uint8_t>(sum);
}

// Puts the header in front of a body that starts at offset 10 of `b.bytes` (reserved by the
// caller), with the check over [10, checkedEnd), and scrambles the body unless plain.
Bytes FinishShortFile(Builder& b, const ScrambledHeaderLayout& layout, int form,
                      const std::array<std::uint8_t, 3>& seeds, std::uint8_t flag,
                      std::size_t checkedEnd) {
    Bytes file = b.bytes;
    const bool anySeed = seeds[0] || seeds[1] || seeds[2];
    std::array<std::uint8_t, 3> used{};
    const std::uint8_t check = anySeed ? Sum(file, kShortHeaderSize, checkedEnd) : b.AnyByte();
    const Bytes header = ShortHeader(b, layout, form, seeds, flag, check);
    std::copy(header.begin(), header.end(), file.begin());
    for (int k = 0; k < 3; ++k) used[k] = file[layout.seedOffsets[k]];
    if (form != 0) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(file.data(), kShortHeaderSize, file.size(), 3, used.data(), kNoCheck,
                           unused, {});
    }
    return file;
}

void ProtectionBlock(Builder& b, int form, std::uint8_t first = 0) {
    if (form != 1) return;
    b.Filler(5);
    const int n = b.Pick(0, 3);
    b.I32(n);
    for (int i = 0; i < n; ++i) b.U8(i == 0 ? first : b.AnyByte());
}

Bytes ForeignGameDat(std::uint32_t seed) {
    Builder b(seed);
    const int form = b.Pick(0, 2);
    const auto seeds = Seeds(b);
    const std::uint8_t flag = FlagByte(b);
    b.bytes.assign(kShortHeaderSize, 0);
    ProtectionBlock(b, form);
    static const int kByteCounts[] = {-1, 0, 18, 21, 40};
    const int byteCount = kByteCounts[b.Pick(0, 4)];
    b.I32(byteCount);
    const std::size_t settingsAt = b.bytes.size();
    for (int i = 0; i < byteCount; ++i)
        b.U8(i == 17 ? static_cast<std::uint8_t>(b.Pick(0, 8)) : b.AnyByte());
    static const int kTextCounts[] = {-2, 0, 3, 14};
    const int textCount = kTextCounts[b.Pick(0, 3)];
    b.I32(textCount);
    for (int i = 0; i < textCount; ++i) b.StoredText();
    const std::size_t versionOffsetAt = b.bytes.size();
    b.I32(0);
    b.Filler(4);
    static const int kNumberCounts[] = {-1, 0, 5, 25};
    const int numberCount = kNumberCounts[b.Pick(0, 3)];
    b.I32(numberCount);
    for (int i = 0; i < numberCount; ++i) b.I16(static_cast<std::int16_t>(b.Pick(-40000, 40000)));
    b.Filler(8);
    // The version byte right after the offsets, further on, or on a setting byte before them.
    std::size_t versionAt = b.bytes.size();
    const int place = b.Pick(0, 3);
    if (place == 1) {
        b.Filler(static_cast<std::size_t>(b.Pick(1, 3)));
        versionAt = b.bytes.size();
    } else if (place == 2 && byteCount > 0) {
        versionAt = settingsAt;
        b.bytes[versionAt] = 0xC2;
    }
    if (versionAt == b.bytes.size()) b.U8(b.Chance(50) ? 0xC2 : 0xC3);
    b.Filler(static_cast<std::size_t>(b.Pick(0, 3)));
    for (int i = 0; i < 4; ++i) {
        b.bytes[versionOffsetAt + i] = static_cast<std::uint8_t>(versionAt >> (8 * i));
    }
    return FinishShortFile(b, kBasicDataHeader, form, seeds, flag, b.bytes.size());
}

Bytes ForeignTileSetData(std::uint32_t seed) {
    Builder b(seed);
    const int form = b.Pick(0, 2);
    const auto seeds = Seeds(b);
    const std::uint8_t flag = FlagByte(b);
    b.bytes.assign(kShortHeaderSize, 0);
    ProtectionBlock(b, form);
    const int generation = b.Pick(1, 4);
    b.U8(static_cast<std::uint8_t>(kTileSetFirstVersion + generation - 1));
    const int count = b.Pick(0, 2);
    b.I32(count);
    const int slots = generation >= 4 ? 32 : generation == 3 ? 16 : 8;
    const int autotiles = generation <= 2 ? 8 : generation == 3 ? 16 : 32;
    for (int t = 0; t < count; ++t) {
        for (int i = 0; i <= slots; ++i) b.StoredText(2);
        b.U8(0xFF);
        const int chips = autotiles + b.Pick(0, 3);
        b.I32(chips);
        for (int i = 0; i < chips; ++i) b.U8(b.AnyByte());
        b.Filler(1);
        b.I32(chips);
        static const std::int32_t kFlags[] = {0, 0x10, 0x100, 0x210, 0x200, 0x0F};
        for (int i = 0; i < chips; ++i) {
            const std::int32_t f = kFlags[b.Pick(0, 5)];
            if (generation == 1) {
                b.U8(static_cast<std::uint8_t>(f));
            } else {
                b.I32(f);
            }
        }
    }
    b.U8(kTileSetClosingByte);
    const std::size_t checkedEnd = b.bytes.size();
    b.Filler(static_cast<std::size_t>(b.Pick(0, 3)));
    return FinishShortFile(b, kTileSetHeader, form, seeds, flag, checkedEnd);
}

void MoveRoute(Builder& b) {
    b.Filler(6);
    const int count = b.Pick(0, 2);
    b.I32(count);
    for (int i = 0; i < count; ++i) {
        b.U8(b.AnyByte());
        const int arguments = b.Pick(0, 2);
        b.U8(static_cast<std::uint8_t>(arguments));
        for (int a = 0; a < arguments; ++a) b.I32(b.Pick(-5, 5));
        b.MoveText();
    }
}

void Page(Builder& b) {
    b.Filler(1);
    b.I32(b.Pick(-1, 3));
    b.StoredText();
    b.Filler(4 + 37);
    MoveRoute(b);
    const int commands = b.Pick(1, 3);
    b.I32(commands);
    for (int c = 0; c < commands; ++c) {
        const int arguments = b.Pick(0, 3);
        b.U8(static_cast<std::uint8_t>(arguments));
        for (int a = 0; a < arguments; ++a) b.I32(b.Chance(30) ? -1 : b.Pick(0, 400));
        b.U8(static_cast<std::uint8_t>(b.Pick(0, 2)));
        const int strings = b.Pick(0, 2);
        b.U8(static_cast<std::uint8_t>(strings));
        for (int s = 0; s < strings; ++s) b.StoredText();
        static const std::int8_t kFlags[] = {0, 0, 1, 2, -3};
        const std::int8_t routeFlag = kFlags[b.Pick(0, 4)];
        b.U8(static_cast<std::uint8_t>(routeFlag));
        if (routeFlag >= 1) MoveRoute(b);
    }
    const int contacts = b.Pick(-1, 4);
    b.I32(contacts);
    for (int i = 0; i < contacts; ++i) b.U8(b.AnyByte());
    b.Filler(1);
}

Bytes ForeignMapFile(std::uint32_t seed) {
    Builder b(seed);
    const bool scrambled = b.Chance(50);
    const auto seeds = Seeds(b);
    b.bytes.assign(kMapHeaderSize, 0);
    b.Filler(4);
    b.U8(b.Chance(50) ? 'e' : 'f');
    b.StoredText();
    b.I32(b.Pick(0, 3));
    const int width = b.Pick(0, 3);
    const int height = b.Pick(0, 2);
    const int events = b.Pick(0, 4);
    b.I32(width);
    b.I32(height);
    b.I32(events);
    if (width * height == 0 ? b.Chance(50) : b.Chance(20)) {
        b.I32(-1);
    } else {
        for (int i = 0; i < 3 * width * height; ++i)
            b.I32(i == 0 ? b.Pick(0, 9) : b.Pick(-1, 100001));
    }
    for (int e = 0; e < events; ++e) {
        b.Filler(5);
        b.I32(b.Pick(0, 3));
        b.StoredText();
        b.I32(b.Pick(-2, 20));
        b.I32(b.Pick(-2, 15));
        const int pages = b.Pick(-1, 2);
        b.I32(pages);
        const int kept = b.Pick(-1, 3);
        b.I32(kept);
        for (int i = 0; i < kept; ++i) b.U8(b.AnyByte());
        for (int p = 0; p < pages; ++p) Page(b);
        b.Filler(1);
    }
    b.Filler(1);
    const std::size_t checkedEnd = b.bytes.size();
    b.Filler(static_cast<std::size_t>(b.Pick(0, 3)));

    Bytes file = b.bytes;
    for (std::size_t i = 0; i < kMapHeaderSize; ++i) file[i] = b.AnyByte();
    file[0] = seeds[0], file[3] = seeds[1], file[9] = seeds[2];
    if (!scrambled) {
        std::copy_n("VELKM", 5, file.begin() + 10);
    } else if (std::equal(file.begin() + 10, file.begin() + 15, "VELKM")) {
        file[10] = 'x';
    }
    file[16] = FlagByte(b);
    const bool anySeed = seeds[0] || seeds[1] || seeds[2];
    file[2] = anySeed ? Sum(file, kMapHeaderSize, checkedEnd) : b.AnyByte();
    if (scrambled) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(file.data(), kMapHeaderSize, file.size(), 3, seeds.data(), kNoCheck,
                           unused, {});
    }
    return file;
}

// A database's ".dat" and ".project" files.
std::pair<Bytes, Bytes> ForeignDatabase(std::uint32_t seed) {
    Builder b(seed);
    const int form = b.Pick(0, 2);
    const auto seeds = Seeds(b);
    const std::uint8_t flag = FlagByte(b);
    const std::uint8_t projectSeed = b.AnyByte();
    b.bytes.assign(kShortHeaderSize, 0);
    ProtectionBlock(b, form, projectSeed);
    const std::uint8_t version = static_cast<std::uint8_t>(b.Pick(0xC0, 0xC2));
    b.U8(version);
    const int types = b.Pick(0, 3);
    b.I32(types);
    for (int t = 0; t < types; ++t) {
        const int fields = b.Pick(0, 4);
        switch (b.Pick(0, 2)) {
            case 0:
                b.I32(fields);
                break;
            case 1:
                b.I32(-1);
                b.I32(fields);
                break;
            default:
                b.I32(-b.Pick(2, 9));
                b.I32(b.Pick(0, 2));
                b.I32(fields);
        }
        int numbers = 0, strings = 0;
        static const std::int32_t kKinds[] = {1000, 1001, 2000, 2001, 0, 3000};
        for (int f = 0; f < fields; ++f) {
            const std::int32_t kind = kKinds[b.Pick(0, 5)];
            numbers += kind / 1000 == 1;
            strings += kind / 1000 == 2;
            b.I32(kind);
        }
        const int entries = b.Pick(0, 2);
        b.I32(entries);
        for (int e = 0; e < entries; ++e) {
            for (int n = 0; n < numbers; ++n) b.I32(b.Pick(-9, 9));
            for (int s = 0; s < strings; ++s) b.StoredText();
        }
    }
    b.U8(static_cast<std::uint8_t>(b.Pick(0xC0, 0xC2)));
    const std::size_t checkedEnd = b.bytes.size();
    b.Filler(static_cast<std::size_t>(b.Pick(0, 3)));
    const Bytes dat = FinishShortFile(b, kDatabaseHeader, form, seeds, flag, checkedEnd);

    Builder p(seed + 1);
    const int definitions = p.Pick(0, 3);
    p.I32(definitions);
    for (int d = 0; d < definitions; ++d) {
        p.StoredText();
        const int fields = p.Pick(0, 3);
        p.I32(fields);
        for (int f = 0; f < fields; ++f) p.StoredText();
        const int names = p.Pick(0, 2);
        p.I32(names);
        for (int n = 0; n < names; ++n) p.StoredText();
        p.StoredText();
        if (version == 0xC0) continue;
        int c = p.Pick(0, fields);
        p.I32(c);
        for (int i = 0; i < c; ++i) p.U8(p.AnyByte());
        p.I32(c = p.Pick(0, fields));
        for (int i = 0; i < c; ++i) p.StoredText();
        p.I32(c = p.Pick(0, fields));
        for (int i = 0; i < c; ++i) {
            const int k = p.Pick(0, 2);
            p.I32(k);
            for (int s = 0; s < k; ++s) p.StoredText();
        }
        p.I32(c = p.Pick(0, fields));
        for (int i = 0; i < c; ++i) {
            const int k = p.Pick(0, 2);
            p.I32(k);
            for (int s = 0; s < k; ++s) p.I32(p.Pick(-3, 3));
        }
        p.I32(c = p.Pick(0, fields));
        for (int i = 0; i < c; ++i) p.I32(p.Pick(-3, 3));
    }
    p.Filler(static_cast<std::size_t>(p.Pick(0, 3)));
    Bytes project = p.bytes;
    if (form == 1) {
        // The protection block's first byte (0 when the block is empty) scrambles every byte.
        const bool empty = b.bytes[kShortHeaderSize + 5] == 0;
        ScrambleGenerator generator(empty ? 0 : projectSeed);
        for (auto& byte : project) byte ^= static_cast<std::uint8_t>(generator.Next());
    }
    return {dat, project};
}

Bytes ForeignArchiveKey(std::uint32_t seed) {
    Builder b(seed);
    Bytes file(kArchiveKeyFileSize);
    for (auto& byte : file) byte = b.AnyByte();
    file[0] = b.AnyByte();
    file[1] = static_cast<std::uint8_t>(b.Pick(0, 7));
    const int length = b.Pick(1, 12);
    file[2] = static_cast<std::uint8_t>(length);
    std::uint8_t* block = file.data() + kArchiveKeyBlockOffset;
    for (int i = 0; i < length; ++i) {
        block[kArchiveKeyFirstPick + static_cast<std::size_t>(i) * kArchiveKeyStride] =
            static_cast<std::uint8_t>(b.Pick(1, 255));
    }
    std::uint8_t unused = 0;
    UnscrambleDataFile(file.data(), kArchiveKeyBlockOffset,
                       kArchiveKeyBlockOffset + kArchiveKeyBlockSize, 1, &file[0], kNoCheck, unused,
                       {});
    file[kArchiveKeyFileSize - 1] = kArchiveKeyCheckValue;
    return file;
}

// Where two files first differ, for the failure message.
std::string Difference(const Bytes& got, const Bytes& want) {
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    if (at == got.size() && at == want.size()) return "equal";
    auto byteAt = [](const Bytes& bytes, std::size_t i) {
        return i < bytes.size() ? std::to_string(bytes[i]) : std::string("end");
    };
    return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size()) +
           ", first difference at " + std::to_string(at) + ": " + byteAt(got, at) + " instead of " +
           byteAt(want, at);
}

class ForeignDataFileTest : public ::testing::Test {
  protected:
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("velk_foreign_" + std::to_string(::getpid()));
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Decodes one file of `kind` (false when the readers refuse it) and checks that it encodes
    // back to its bytes, also after printing and parsing the description.
    bool RoundTrips(const Bytes& bytes, const std::string& kind, Json* decoded = nullptr) {
        Json doc;
        try {
            doc = gamedata::DecodeFile(bytes, kind);
        } catch (const std::runtime_error&) {
            return false;
        }
        EXPECT_EQ(Difference(gamedata::EncodeDocument(Json::parse(doc.dump())), bytes), "equal")
            << doc.dump();
        if (decoded) *decoded = doc;
        return true;
    }

    bool DatabaseRoundTrips(const Bytes& dat, const Bytes& project, Json* decoded = nullptr) {
        const std::string base = (dir / "DataBase").string();
        EXPECT_TRUE(gamedata::SaveBytes(base + ".dat", dat));
        EXPECT_TRUE(gamedata::SaveBytes(base + ".project", project));
        Json doc;
        try {
            doc = gamedata::DecodeDatabase(base + ".dat");
        } catch (const std::runtime_error&) {
            return false;
        }
        const auto files = gamedata::EncodeDocumentFiles(Json::parse(doc.dump()), base);
        EXPECT_EQ(Difference(files.at(0).second, dat), "equal") << doc.dump();
        EXPECT_EQ(Difference(files.at(1).second, project), "equal") << doc.dump();
        if (decoded) *decoded = doc;
        return true;
    }
};

}  // namespace

// Many files of every kind, each with its own mix of oddities: each one the readers accept
// encodes back to its own bytes.
TEST_F(ForeignDataFileTest, EveryAcceptedFileEncodesBackToItsBytes) {
    constexpr std::uint32_t kFiles = 300;
    int accepted[5] = {};
    for (std::uint32_t seed = 1; seed <= kFiles; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        accepted[0] += RoundTrips(ForeignGameDat(seed), "basic");
        accepted[1] += RoundTrips(ForeignTileSetData(seed), "tileset");
        accepted[2] += RoundTrips(ForeignMapFile(seed), "map");
        const auto [dat, project] = ForeignDatabase(seed);
        accepted[3] += DatabaseRoundTrips(dat, project);
        if (seed % 10 == 0) accepted[4] += RoundTrips(ForeignArchiveKey(seed), "archivekey");
        if (HasFailure()) break;
    }
    // The files are meant to be readable: most of them must be.
    for (int kind = 0; kind < 4; ++kind) EXPECT_GT(accepted[kind], 200) << "kind " << kind;
    EXPECT_EQ(accepted[4], 30);
}

// One file of each kind with a named oddity: each is kept in the description's "stored" part.
TEST_F(ForeignDataFileTest, WhatTheRecordsDoNotCarryIsKept) {
    Json decoded;
    // A map whose header filler, int32 at 20, skipped bytes and trailing bytes are not ours.
    Game_MapData map = gamedata::MakeSampleMap(2, 1, 2, 9);
    Bytes file = gamedata::WriteMapFile(map, {});
    file[5] = 0x99;        // header filler
    file[16] = 0;          // a flag byte that is neither 'U' nor 'J': code-page text
    file[2] = 0x11;        // no seed: the check byte is not checked
    file[20] = 0x7F;       // the int32 at offset 20
    file.push_back(0xEE);  // after the closing byte
    ASSERT_TRUE(RoundTrips(file, "map", &decoded));
    EXPECT_EQ(decoded.at("stored").at("header").get<std::string>().substr(10, 2), "99");
    EXPECT_EQ(decoded.at("stored").at("skipped").get<std::string>().substr(0, 2), "7f");
    EXPECT_EQ(decoded.at("stored").at("trailing"), "ee");

    // A "Game.dat" whose unused offsets hold numbers and whose version byte lies two bytes on.
    Game_BasicData basic;
    Bytes game = gamedata::WriteBasicData(basic, {});
    // ... version offset, unused length, number count, the numbers, two unused offsets, version.
    const std::size_t offsetsEnd = game.size() - 1;
    const std::size_t versionOffsetAt = offsetsEnd - 8 - 2 * basic.settingNumbers.size() - 12;
    ASSERT_EQ(game[versionOffsetAt], offsetsEnd & 0xFF);
    game[offsetsEnd - 3] = 0x42;
    game.insert(game.end() - 1, {0xAB, 0xCD});
    game[versionOffsetAt] = static_cast<std::uint8_t>(offsetsEnd + 2);
    ASSERT_TRUE(RoundTrips(game, "basic", &decoded));
    EXPECT_EQ(decoded.at("stored").at("versionAt"), 2);
    EXPECT_EQ(decoded.at("stored").at("tail"), "abcdc3");

    // A database type stored with its bare field count, a closing byte that is not the version.
    Game_Database db = gamedata::MakeSampleDatabase(kUserDatabase, 2, 4);
    db.types[1].leadValue = 5;
    gamedata::DataFileOptions options;
    options.closingByte = 0xC0;
    ASSERT_TRUE(DatabaseRoundTrips(gamedata::WriteDatabaseDataFile(db, options),
                                   gamedata::WriteDatabaseProjectFile(db, options), &decoded));
    EXPECT_EQ(decoded.at("stored").at("bareFieldCounts"), Json::array({1}));
    EXPECT_EQ(decoded.at("closingByte"), 0xC0);
}

// The files our writer makes carry nothing beyond their records, so their descriptions stay as
// they were.
TEST_F(ForeignDataFileTest, OurOwnFilesNeedNothingStored) {
    for (auto form : {gamedata::DataFileForm::Plain, gamedata::DataFileForm::Protected,
                      gamedata::DataFileForm::Scrambled}) {
        for (bool utf8 : {true, false}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(form)) + (utf8 ? " utf8" : " code page"));
            gamedata::DataFileOptions options;
            options.form = form;
            options.seeds = {3, 0, 9};
            options.utf8 = utf8;
            options.protectionBlock = {7, 1};
            Json decoded;
            Game_BasicData basic;
            basic.settingNumbers[15] = 200;
            ASSERT_TRUE(RoundTrips(gamedata::WriteBasicData(basic, options), "basic", &decoded));
            EXPECT_FALSE(decoded.contains("stored")) << decoded.dump();
            Game_TileSetList tiles;
            tiles.tileSets = {gamedata::MakeSampleTileSet(4, 2)};
            ASSERT_TRUE(
                RoundTrips(gamedata::WriteTileSetData(tiles, 4, options), "tileset", &decoded));
            EXPECT_FALSE(decoded.contains("stored")) << decoded.dump();
            const Game_Database db = gamedata::MakeSampleDatabase(kUserDatabase, 3, 5);
            ASSERT_TRUE(DatabaseRoundTrips(gamedata::WriteDatabaseDataFile(db, options),
                                           gamedata::WriteDatabaseProjectFile(db, options),
                                           &decoded));
            EXPECT_FALSE(decoded.contains("stored")) << decoded.dump();
            EXPECT_FALSE(decoded.contains("projectStored")) << decoded.dump();
            gamedata::MapFileOptions mapOptions;
            mapOptions.scrambled = options.form == gamedata::DataFileForm::Scrambled;
            mapOptions.seeds = options.seeds;
            mapOptions.utf8 = utf8;
            ASSERT_TRUE(
                RoundTrips(gamedata::WriteMapFile(gamedata::MakeSampleMap(3, 2, 4, 8), mapOptions),
                           "map", &decoded));
            EXPECT_FALSE(decoded.contains("stored")) << decoded.dump();
        }
    }
    Json decoded;
    ASSERT_TRUE(RoundTrips(gamedata::WriteArchiveKeyFile("key", 1, 9), "archivekey", &decoded));
    EXPECT_FALSE(decoded.contains("stored"));
}
