#include "runtime/data/SaveStream.h"

#include <cstring>

#include "runtime/data/DataFileIo.h"
#include "runtime/shell/TextConversion.h"

SaveStream TheSaveStream;

void SaveStream::BeginRead(std::vector<std::uint8_t> bytes, bool utf8Text, std::int16_t format) {
    buffer = std::move(bytes);
    size = static_cast<std::int32_t>(buffer.size());
    position = 0;
    measuring = 0;
    overrun = false;
    lastItemSize = 0;
    utf8 = utf8Text;
    formatNumber = format;
}

void SaveStream::BeginWrite(bool measure, std::size_t capacity) {
    buffer.clear();
    if (!measure) buffer.resize(capacity);
    measuring = measure ? 1 : 0;
    position = 0;
    size = 0;
    overrun = false;
    lastItemSize = 0;
    formatNumber = kCurrentFormat;
    utf8 = true;
}

void SaveStream::Release() {
    buffer.clear();
    buffer.shrink_to_fit();
    position = 0;
    size = 0;
}

std::uint8_t* SaveStream::Reserve(std::size_t count) {
    lastItemSize = static_cast<std::int32_t>(count);
    const std::size_t at = static_cast<std::size_t>(position);
    position += static_cast<std::int32_t>(count);
    if (measuring) return nullptr;
    if (buffer.size() < at + count) buffer.resize(at + count);
    if (size < position) size = position;
    return buffer.data() + at;
}

void SaveStream::WriteByte(std::uint8_t value) {
    if (std::uint8_t* p = Reserve(1)) p[0] = value;
}

void SaveStream::WriteInt16(std::int16_t value) {
    if (std::uint8_t* p = Reserve(2)) {
        const auto v = static_cast<std::uint16_t>(value);
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
    }
}

void SaveStream::WriteInt32(std::int32_t value) {
    if (std::uint8_t* p = Reserve(4)) {
        const auto v = static_cast<std::uint32_t>(value);
        for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void SaveStream::WriteFloat(float value) {
    std::int32_t bits;
    std::memcpy(&bits, &value, 4);
    WriteInt32(bits);
}

void SaveStream::WriteBlock(const void* data, std::size_t count) {
    if (std::uint8_t* p = Reserve(count); p && count) std::memcpy(p, data, count);
}

void SaveStream::WriteShortString(const std::string& text) {
    // A text too long for its 16-bit count is cut so that count and bytes always agree.
    const std::size_t length = text.size() < 0x7FFE ? text.size() : 0x7FFE;
    WriteInt16(static_cast<std::int16_t>(length + 1));
    if (std::uint8_t* p = Reserve(length + 1)) {
        if (length) std::memcpy(p, text.data(), length);
        p[length] = 0;
    }
}

void SaveStream::WriteLongString(const std::string& text) {
    WriteInt32(static_cast<std::int32_t>(text.size() + 1));
    if (std::uint8_t* p = Reserve(text.size() + 1)) {
        if (!text.empty()) std::memcpy(p, text.data(), text.size());
        p[text.size()] = 0;
    }
}

bool SaveStream::Take(std::size_t count) {
    if (static_cast<std::size_t>(Remaining()) < count || position < 0) {
        overrun = true;
        return false;
    }
    lastItemSize = static_cast<std::int32_t>(count);
    return true;
}

bool SaveStream::ReadByte(std::uint8_t& value) {
    if (!Take(1)) return false;
    value = buffer[static_cast<std::size_t>(position++)];
    return true;
}

bool SaveStream::ReadInt16(std::int16_t& value) {
    if (!Take(2)) return false;
    const std::uint8_t* p = buffer.data() + position;
    value = static_cast<std::int16_t>(p[0] | (p[1] << 8));
    position += 2;
    return true;
}

bool SaveStream::ReadInt32(std::int32_t& value) {
    if (!Take(4)) return false;
    const std::uint8_t* p = buffer.data() + position;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    value = static_cast<std::int32_t>(v);
    position += 4;
    return true;
}

bool SaveStream::ReadFloat(float& value) {
    std::int32_t bits;
    if (!ReadInt32(bits)) return false;
    std::memcpy(&value, &bits, 4);
    return true;
}

bool SaveStream::ReadBlock(void* data, std::size_t count) {
    if (!Take(count)) return false;
    if (count) std::memcpy(data, buffer.data() + position, count);
    position += static_cast<std::int32_t>(count);
    return true;
}

bool SaveStream::ReadCountedText(std::int32_t count, std::string& text) {
    if (count < 0) {
        overrun = true;
        return false;
    }
    if (!Take(static_cast<std::size_t>(count))) return false;
    const char* p = reinterpret_cast<const char*>(buffer.data() + position);
    std::string raw(p, strnlen(p, static_cast<std::size_t>(count)));
    position += count;
    text = utf8 ? std::move(raw) : ConvertOldSaveString(raw);
    return true;
}

bool SaveStream::ReadShortString(std::string& text) {
    std::int16_t count;
    if (!ReadInt16(count)) return false;
    return ReadCountedText(count, text);
}

bool SaveStream::ReadLongString(std::string& text) {
    std::int32_t count;
    if (!ReadInt32(count)) return false;
    return ReadCountedText(count, text);
}

std::string ConvertOldSaveString(const std::string& text) {
    return ConvertOldSaveText(text, GameCodePageLocale());
}
