// Text in a narrow encoding seen as UTF-16 for the wide entry points: a stack buffer for short
// text, the heap for long text, and the text itself when the two encodings agree.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Main/DxChar.h"
#include "Main/DxMemory.h"

namespace ZiDaz {

class WideText {
  public:
    explicit WideText(const char* text, std::int32_t encoding = NarrowEncoding) {
        if (text == nullptr) return;
        if (encoding == WideEncoding) {
            text_ = reinterpret_cast<const char16_t*>(text);
            return;
        }
        // A source unit never gives more UTF-16 units than it has bytes.
        const std::size_t chars = static_cast<std::size_t>(CountCodeStringUnits(encoding, text)) *
                                      static_cast<std::size_t>(UnitBytesOfCharCode(encoding)) +
                                  16;
        char16_t* target = local_;
        if (chars > kLocalChars) {
            heap_ = static_cast<char16_t*>(
                AllocateTrackedMemory(chars * sizeof(char16_t), "DxChar", __LINE__));
            if (heap_ == nullptr) {
                failed_ = true;
                return;
            }
            target = heap_;
        }
        target[0] = 0;
        TranscodeString(text, -1, encoding, target, static_cast<int>(chars * sizeof(char16_t)),
                        WideEncoding);
        text_ = target;
    }
    ~WideText() { FreeTrackedMemory(heap_); }
    WideText(const WideText&) = delete;
    WideText& operator=(const WideText&) = delete;

    // Null for null text.
    const char16_t* Get() const { return text_; }
    // The long text's buffer could not be had.
    bool Failed() const { return failed_; }

  private:
    static constexpr std::size_t kLocalChars = 512;
    char16_t local_[kLocalChars];
    char16_t* heap_ = nullptr;
    const char16_t* text_ = nullptr;
    bool failed_ = false;
};

}  // namespace ZiDaz
