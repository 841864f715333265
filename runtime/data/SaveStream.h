// The one serialization buffer of every save writer and reader.
//
// Saving runs the same part writers twice: first with `measuring` set, when they only advance the
// position, then for real. Readers check every item against the bytes left and set `overrun`
// instead of reading past the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SaveStream {
  public:
    // The save format number written with every body prefix.
    static constexpr std::int16_t kCurrentFormat = 140;

    std::vector<std::uint8_t> buffer;
    std::int32_t position = 0;
    // Valid bytes when reading.
    std::int32_t size = 0;
    std::int32_t measuring = 0;
    bool overrun = false;
    std::int32_t lastItemSize = 0;
    std::int16_t formatNumber = kCurrentFormat;
    // Strings of the body being read are UTF-8; otherwise they are in the game's code page.
    bool utf8 = true;
    // Tells the database item readers and writers to use this stream instead of the data file.
    bool readFromSave = false;

    // Starts reading `bytes` from offset 0.
    void BeginRead(std::vector<std::uint8_t> bytes, bool utf8Text, std::int16_t format);
    // Starts a measuring pass (measure = true) or a writing pass into a buffer of `capacity`
    // bytes. Writes beyond the capacity grow the buffer.
    void BeginWrite(bool measure, std::size_t capacity = 0);
    // Releases the buffer.
    void Release();

    std::int32_t Remaining() const { return size > position ? size - position : 0; }

    void WriteByte(std::uint8_t value);
    void WriteInt16(std::int16_t value);
    void WriteInt32(std::int32_t value);
    void WriteFloat(float value);
    void WriteBlock(const void* data, std::size_t count);
    // int16 count (byte length + 1), the text and its zero.
    void WriteShortString(const std::string& text);
    // int32 count (byte length + 1), the text and its zero.
    void WriteLongString(const std::string& text);

    // Each reader returns false and sets `overrun` when the item does not fit.
    bool ReadByte(std::uint8_t& value);
    bool ReadInt16(std::int16_t& value);
    bool ReadInt32(std::int32_t& value);
    bool ReadFloat(float& value);
    bool ReadBlock(void* data, std::size_t count);
    bool ReadShortString(std::string& text);
    bool ReadLongString(std::string& text);

  private:
    std::uint8_t* Reserve(std::size_t count);
    bool Take(std::size_t count);
    bool ReadCountedText(std::int32_t count, std::string& text);
};

// The one stream of the program (main thread only).
extern SaveStream TheSaveStream;

// Converts a string of an old save (game code page) to UTF-8, keeping 0x01-prefixed code runs.
std::string ConvertOldSaveString(const std::string& text);
