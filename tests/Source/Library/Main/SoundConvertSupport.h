// A sound conversion over a file image in memory, for the converter tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "Main/DuZuderConvert.h"
#include "Main/DxFile.h"
#include "Main/DxMemory.h"
#include "tools/sound/SoundWriter.h"

namespace ZiDaz {

class MemoryConversion {
  public:
    explicit MemoryConversion(velk::sound::Bytes bytes) : bytes_(std::move(bytes)) {
        stream_ = CreateMemoryStream(bytes_.data(), bytes_.size());
        binding_.ops = *GetMemoryStreamAccess();
        binding_.stream = stream_;
        std::memset(&state_, 0, sizeof(state_));
    }
    ~MemoryConversion() {
        if (state_.open) EndSoundConversion(&state_);
        FreeMemoryStream(stream_);
    }
    MemoryConversion(const MemoryConversion&) = delete;
    MemoryConversion& operator=(const MemoryConversion&) = delete;

    int Begin(int skipMask = 0, int vorbisWidth = 2) {
        return BeginSoundConversion(&state_, &binding_, skipMask, vorbisWidth, 0);
    }
    std::vector<std::uint8_t> Read(std::size_t count) {
        std::vector<std::uint8_t> out(count);
        out.resize(ReadConvertedSound(&state_, out.data(), count));
        return out;
    }
    // Everything up to the end, in pieces of the given size.
    std::vector<std::uint8_t> ReadAll(std::size_t piece = 10000) {
        std::vector<std::uint8_t> all;
        for (;;) {
            std::vector<std::uint8_t> part = Read(piece);
            all.insert(all.end(), part.begin(), part.end());
            if (part.size() < piece) return all;
        }
    }
    std::vector<std::uint8_t> Whole(SoundFormat* format = nullptr) {
        void* buffer = nullptr;
        std::uint32_t count = 0;
        SoundFormat f{};
        EXPECT_EQ(ConvertWholeSound(&state_, &f, &buffer, &count), 0);
        if (format) *format = f;
        std::vector<std::uint8_t> out;
        if (buffer) {
            auto* b = static_cast<std::uint8_t*>(buffer);
            out.assign(b, b + count);
            FreeTrackedMemory(buffer);
        }
        return out;
    }
    SoundFormat Format() {
        SoundFormat f{};
        GetSoundConversionFormat(&state_, &f);
        return f;
    }
    // For calling one converter's open directly.
    void Bind() { state_.binding = binding_; }
    SoundConvertState* state() { return &state_; }
    MemoryStream* stream() { return stream_; }

  private:
    velk::sound::Bytes bytes_;
    MemoryStream* stream_;
    StreamReaderBinding binding_{};
    SoundConvertState state_;
};

inline std::vector<std::int16_t> AsSamples(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> out(bytes.size() / 2);
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

}  // namespace ZiDaz
