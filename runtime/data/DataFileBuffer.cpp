#include "runtime/data/DataFileBuffer.h"

#include <cstdio>
#include <cstring>

#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"

DataFileBuffer TheDataFileBuffer;

void DataFileBuffer::Load(std::vector<std::uint8_t> fileBytes) {
    bytes = std::move(fileBytes);
    position = 0;
    damaged = false;
}

void DataFileBuffer::Release() {
    bytes.clear();
    bytes.shrink_to_fit();
    position = 0;
}

std::size_t DataFileBuffer::Remaining() const {
    const std::size_t pos = static_cast<std::size_t>(position);
    return position >= 0 && pos < bytes.size() ? bytes.size() - pos : 0;
}

std::uint8_t DataFileBuffer::ReadByte() {
    if (!Has(1)) {
        damaged = true;
        return 0;
    }
    return bytes[static_cast<std::size_t>(position++)];
}

std::int16_t DataFileBuffer::ReadInt16() {
    if (!Has(2)) {
        damaged = true;
        return 0;
    }
    const std::uint8_t* p = bytes.data() + position;
    position += 2;
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

std::int32_t DataFileBuffer::ReadInt32() {
    if (!Has(4)) {
        damaged = true;
        return 0;
    }
    const std::uint8_t* p = bytes.data() + position;
    position += 4;
    return static_cast<std::int32_t>(
        static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
        (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

void DataFileBuffer::Skip(std::size_t count) {
    if (!Has(count)) {
        damaged = true;
        return;
    }
    position += static_cast<std::int32_t>(count);
}

std::vector<std::uint8_t> DataFileBuffer::ReadBytes(std::size_t count) {
    if (!Has(count)) {
        damaged = true;
        return {};
    }
    std::vector<std::uint8_t> out(bytes.begin() + position, bytes.begin() + position + count);
    position += static_cast<std::int32_t>(count);
    return out;
}

std::string DataFileBuffer::ReadString(std::size_t limit) {
    const std::int32_t length = ReadInt32();
    if (damaged) return {};
    if (length < 0 || !Has(static_cast<std::size_t>(length)) ||
        (limit != 0 && static_cast<std::size_t>(length) > limit)) {
        damaged = true;
        return {};
    }
    const char* text = reinterpret_cast<const char*>(bytes.data() + position);
    const std::size_t stored = strnlen(text, static_cast<std::size_t>(length));
    position += length;
    if (utf8) {
        // The field holds the text and its terminating zero, stored or not.
        if (limit != 0 && stored + 1 > limit) {
            damaged = true;
            return {};
        }
        return std::string(text, stored);
    }
    std::string converted = ConvertGameTextToUtf8(std::string_view(text, stored));
    if (limit != 0 && converted.size() + 1 > limit) {
        damaged = true;
        return {};
    }
    return converted;
}

std::int32_t DataFileBuffer::ReadCount(std::size_t minItemBytes, bool negativeIsDamage) {
    const std::int32_t count = ReadInt32();
    if (damaged) return 0;
    if (count < 0) {
        if (negativeIsDamage) damaged = true;
        return 0;
    }
    if (minItemBytes != 0 && static_cast<std::size_t>(count) > Remaining() / minItemBytes) {
        damaged = true;
        return 0;
    }
    return count;
}

std::uint8_t DataFileBuffer::Sum(std::size_t start, std::size_t end) const {
    std::uint32_t sum = 0;
    if (end > bytes.size()) end = bytes.size();
    for (std::size_t i = start; i < end; ++i) sum += bytes[i];
    return static_cast<std::uint8_t>(sum);
}

ScrambledHeaderForm ClassifyShortHeader(const std::uint8_t* header, std::uint8_t kindLetter) {
    if (header[1] == 'V' && header[4] == 'E' && header[5] == 'L' && header[7] == 'K' &&
        header[8] == kindLetter) {
        return ScrambledHeaderForm::Plain;
    }
    if (header[1] == 'P' && header[5] == 'T' && header[7] == 'K') {
        return ScrambledHeaderForm::Protected;
    }
    return ScrambledHeaderForm::Scrambled;
}

namespace {

// bytes[i] ^= (next value >> 12) for i = start, start + stride, ... below end. The generator's
// chain is split into eight interleaved lanes (each lane jumps eight steps at a time), which gives
// the same values in the same places several times faster than one step after another.
void XorWithGenerator(std::uint8_t* bytes, std::size_t start, std::size_t end, std::size_t stride,
                      std::uint32_t seed) {
    constexpr int kLanes = 8;
    std::uint32_t multiplier = 1, increment = 0;  // one lane jump: kLanes steps
    for (int i = 0; i < kLanes; ++i) {
        increment = increment * 214013u + 2531011u;
        multiplier *= 214013u;
    }
    std::uint32_t lane[kLanes];
    std::uint32_t state = seed;
    for (int j = 0; j < kLanes; ++j) lane[j] = state = state * 214013u + 2531011u;
    std::size_t i = start;
    const std::size_t block = stride * kLanes;
    if (end > start) {
        for (; end - i >= block; i += block) {
            for (int j = 0; j < kLanes; ++j) {
                bytes[i + j * stride] ^=
                    static_cast<std::uint8_t>(((lane[j] >> 16) & 0x7FFFu) >> 12);
                lane[j] = lane[j] * multiplier + increment;
            }
        }
    }
    for (int j = 0; i < end; ++j, i += stride) {
        bytes[i] ^= static_cast<std::uint8_t>(((lane[j] >> 16) & 0x7FFFu) >> 12);
    }
}

}  // namespace

bool UnscrambleDataFile(std::uint8_t* bytes, std::size_t start, std::size_t end, int seedCount,
                        const std::uint8_t* seeds, int checkMode, std::uint8_t& check,
                        const std::string& path) {
    if (seedCount >= 1) {
        bool anySeed = false;
        for (int k = 0; k < seedCount; ++k) anySeed = anySeed || seeds[k] != 0;
        if (!anySeed) return true;
    }
    auto sum = [&] {
        std::uint32_t s = 0;
        for (std::size_t i = start; i < end; ++i) s += bytes[i];
        return static_cast<std::uint8_t>(s);
    };
    if (checkMode < 0) check = sum();
    static constexpr std::size_t kStrides[3] = {1, 2, 5};
    for (int k = 0; k < seedCount && k < 3; ++k) {
        XorWithGenerator(bytes, start, end, kStrides[k], seeds[k]);
    }
    if (checkMode > 0 && sum() != check) {
        HandleDamagedDataFile(path);
        return false;
    }
    return true;
}

void HandleDamagedDataFile(const std::string& path) {
    GetDataFileServices().damagedFile(path);
}

void MoveAsideAndReportDamagedFile(const std::string& path) {
    MoveDamagedFile(path);
    DataFileServices& services = GetDataFileServices();
    const std::string format = TranslateMessageUtf8(
        u"ファイル %s が改竄されたか、破損している可能性があります。\nファイル名を変更しました。");
    // The message holds one %s; the path is put in its place.
    std::string message;
    const std::size_t at = format.find("%s");
    if (at == std::string::npos) {
        message = format;
    } else {
        message = format.substr(0, at) + path + format.substr(at + 2);
    }
    services.reportRuntimeError(message, "", "");
    services.exitProgram(1);
}

bool ReadShortHeader(DataFileBuffer& buffer, const ScrambledHeaderLayout& layout,
                     ScrambledHeader& header) {
    if (buffer.Size() < kShortHeaderSize) {
        buffer.MarkDamaged();
        return false;
    }
    const std::uint8_t* raw = buffer.bytes.data();
    header.form = ClassifyShortHeader(raw, layout.kindLetter);
    for (int k = 0; k < 3; ++k) header.seeds[k] = raw[layout.seedOffsets[k]];
    header.check = layout.checkOffset >= 0 ? raw[layout.checkOffset] : 0;
    header.utf8 = raw[layout.utf8Offset] == 'U';
    buffer.position = static_cast<std::int32_t>(kShortHeaderSize);
    if (header.form != ScrambledHeaderForm::Plain) {
        std::uint8_t unused = 0;
        UnscrambleDataFile(buffer.bytes.data(), kShortHeaderSize, buffer.Size(), 3,
                           header.seeds.data(), kNoCheck, unused, {});
    }
    buffer.utf8 = header.utf8;
    if (header.form == ScrambledHeaderForm::Protected) {
        buffer.Skip(5);
        const std::int32_t length = buffer.ReadInt32();
        if (length < 0) buffer.MarkDamaged();
        if (length > 0 && buffer.Has(1)) header.protectionSeed = buffer.bytes[buffer.position];
        if (!buffer.damaged) buffer.Skip(static_cast<std::size_t>(length));
    }
    return !buffer.damaged;
}

bool FinalDataFileCheck(DataFileBuffer& buffer, std::size_t bodyStart,
                        const ScrambledHeader& header, const std::string& path) {
    if (!header.AnySeed()) return true;
    std::uint8_t check = header.check;
    const std::size_t end = static_cast<std::size_t>(buffer.position);
    if (end < bodyStart || end > buffer.Size()) return false;
    return UnscrambleDataFile(buffer.bytes.data(), bodyStart, end, 0, nullptr, kVerifyCheck, check,
                              path);
}
