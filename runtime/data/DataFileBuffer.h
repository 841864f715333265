// The read cursor every data-file reader parses with, the header forms of the data files, and the
// XOR scrambler with its one-byte sum.
//
// A data file is read whole into the one DataFileBuffer and parsed in place. The buffer never
// reads past the bytes it holds: a read that would (or a count that promises more items than the
// remaining bytes can hold, or a text longer than its field allows) marks the buffer damaged and
// yields zeros, and the reader then treats the file as damaged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class DataFileBuffer {
  public:
    std::vector<std::uint8_t> bytes;
    std::int32_t position = 0;
    // Whether the file's text is UTF-8; otherwise it is in the game's code page.
    bool utf8 = true;
    // Set by the first read that does not fit; sticky until the next Load.
    bool damaged = false;

    // Takes the file's bytes and starts at offset 0.
    void Load(std::vector<std::uint8_t> fileBytes);
    // Frees the bytes once a reader is done with its file.
    void Release();

    std::size_t Size() const { return bytes.size(); }
    std::size_t Remaining() const;
    // Whether `count` more bytes lie ahead.
    bool Has(std::size_t count) const { return !damaged && Remaining() >= count; }

    std::uint8_t ReadByte();
    std::int8_t ReadSignedByte() { return static_cast<std::int8_t>(ReadByte()); }
    std::int16_t ReadInt16();
    std::int32_t ReadInt32();
    void Skip(std::size_t count);
    // Reads `count` raw bytes.
    std::vector<std::uint8_t> ReadBytes(std::size_t count);

    // A stored text: int32 length L counting the terminating zero, then L bytes; the text is the
    // bytes before the first zero, converted to UTF-8 when the file is not UTF-8. `limit` is the
    // field's size in bytes including the zero (both the stored and the converted text must fit);
    // 0 means no limit beyond the file's own size.
    std::string ReadString(std::size_t limit);

    // Reads an int32 item count. A count whose items cannot fit into the remaining bytes (each
    // item taking at least `minItemBytes`) marks the buffer damaged and gives 0. A negative count
    // gives 0 items, or marks the buffer damaged when `negativeIsDamage` is set.
    std::int32_t ReadCount(std::size_t minItemBytes, bool negativeIsDamage = false);

    // Marks the file damaged (used by readers for values outside their field's range).
    void MarkDamaged() { damaged = true; }

    // Sum of bytes [start, end) modulo 256.
    std::uint8_t Sum(std::size_t start, std::size_t end) const;
};

// The one buffer all data-file readers share (main thread only; one file at a time).
extern DataFileBuffer TheDataFileBuffer;

// The generator whose sequence the scrambled formats are built on.
class ScrambleGenerator {
  public:
    explicit ScrambleGenerator(std::uint32_t seed) : state_(seed) {}
    // 0..32767.
    std::uint32_t Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & 0x7FFFu;
    }

  private:
    std::uint32_t state_;
};

// The header forms of the 10-byte data-file header.
enum class ScrambledHeaderForm { Plain, Protected, Scrambled };

// Where a 10-byte header keeps its seeds, check byte and UTF-8 flag, and which kind letter marks
// its plain form.
struct ScrambledHeaderLayout {
    std::array<std::uint8_t, 3> seedOffsets;
    int checkOffset;  // -1: the file has no check byte
    int utf8Offset;
    std::uint8_t kindLetter;
};

inline constexpr std::size_t kShortHeaderSize = 10;
inline constexpr std::size_t kMapHeaderSize = 20;

inline constexpr ScrambledHeaderLayout kBasicDataHeader{{0, 8, 6}, -1, 9, 'M'};
inline constexpr ScrambledHeaderLayout kCommonEventHeader{{0, 3, 9}, 2, 6, 'C'};
inline constexpr ScrambledHeaderLayout kTileSetHeader{{0, 3, 9}, 2, 6, 'M'};
inline constexpr ScrambledHeaderLayout kDatabaseHeader{{0, 3, 9}, 2, 6, 'M'};

// The front of a data file as the readers take it apart.
struct ScrambledHeader {
    ScrambledHeaderForm form = ScrambledHeaderForm::Plain;
    std::array<std::uint8_t, 3> seeds{};
    std::uint8_t check = 0;
    bool utf8 = false;
    // The first byte of a protected file's protection block (0 when the block is empty).
    std::uint8_t protectionSeed = 0;

    bool AnySeed() const { return seeds[0] || seeds[1] || seeds[2]; }
};

// The form of a 10-byte header (the bytes must hold at least 10).
ScrambledHeaderForm ClassifyShortHeader(const std::uint8_t* header, std::uint8_t kindLetter);

// Check modes of UnscrambleDataFile.
inline constexpr int kComputeCheck = -1;
inline constexpr int kNoCheck = 0;
inline constexpr int kVerifyCheck = 1;

// Scrambles or unscrambles bytes[start, end) in place with up to three seeds (strides 1, 2, 5)
// and computes (mode < 0, before the pass) or verifies (mode > 0, after it) the one-byte sum.
// With at least one seed and every seed 0 nothing happens. Returns false only when a verification
// failed; the damaged file at `path` has then been moved aside and reported (see
// HandleDamagedDataFile), and the program has ended unless the services' exit returns.
bool UnscrambleDataFile(std::uint8_t* bytes, std::size_t start, std::size_t end, int seedCount,
                        const std::uint8_t* seeds, int checkMode, std::uint8_t& check,
                        const std::string& path);

// The damaged-file path: hands the file to the data-file services' damagedFile, which in the
// player is MoveAsideAndReportDamagedFile.
void HandleDamagedDataFile(const std::string& path);
// The player's handling of a damaged data file: moves it to its ".broken" name, reports it and
// ends the program with code 1 (through the data-file services).
void MoveAsideAndReportDamagedFile(const std::string& path);

// Reads the 10-byte header at the buffer's start: takes the seeds, check byte and UTF-8 flag,
// unscrambles the body of a protected or scrambled file and skips the protection block, leaving
// the position at the first field. False when the file is too short or its protection block does
// not fit (the buffer is then marked damaged).
bool ReadShortHeader(DataFileBuffer& buffer, const ScrambledHeaderLayout& layout,
                     ScrambledHeader& header);

// The final check of a file with a check byte: when a seed is set, verifies the sum of
// [bodyStart, position) against the header's check byte.
bool FinalDataFileCheck(DataFileBuffer& buffer, std::size_t bodyStart,
                        const ScrambledHeader& header, const std::string& path);
