#include "runtime/dictionary/MessageDictionary.h"

#include <mutex>
#include <unordered_map>

#include "platform/Kernel32.h"

std::int32_t UiLanguage = 1;

namespace {

// Converts one table text to UTF-8 through the code-page service.
std::string ToUtf8(std::u16string_view text) {
    if (text.empty()) return {};
    const int units = static_cast<int>(text.size());
    const int bytes = platform::kernel32::WideCharToMultiByte(CP_UTF8, 0, text.data(), units,
                                                              nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) {
        platform::kernel32::WideCharToMultiByte(CP_UTF8, 0, text.data(), units, out.data(), bytes,
                                                nullptr, nullptr);
    }
    return out;
}

// One lookup's private map from key to text, rebuilt for the language it is asked in. `Text` is
// what the map hands out: a view into the table, or the text already converted to UTF-8. The
// caller holds `lock` around Rebuild and Find, so a lookup on another thread never sees a map
// half built.
template <typename Text>
class MessageDictionary {
  public:
    std::mutex lock;

    // Returns the text of `key` in `language`, or null when the language is not one of the two or
    // the key is not in the table.
    const Text* Find(std::int32_t language, std::u16string_view key) {
        if (language != builtFor_) Rebuild(language);
        auto it = map_.find(key);
        return it == map_.end() ? nullptr : &it->second;
    }

  private:
    void Rebuild(std::int32_t language) {
        map_.clear();
        builtFor_ = language;
        if (language != 0 && language != 1) return;
        map_.reserve(MessageTable.size());
        for (const MessageTableRow& row : MessageTable) {
            const std::u16string_view text = language == 0 ? row.key : row.english;
            if constexpr (std::is_same_v<Text, std::string>) {
                map_.emplace(row.key, ToUtf8(text));
            } else {
                map_.emplace(row.key, text);
            }
        }
    }

    // -1 is no language, so the first lookup always builds.
    std::int32_t builtFor_ = -1;
    std::unordered_map<std::u16string_view, Text> map_;
};

// The ring that owns the UTF-8 results: the first hit of the run goes to slot 1.
struct MessageResultRing {
    std::array<std::string, kMessageResultRingSize> slots;
    std::size_t index = 0;

    const char* Store(const std::string& text) {
        index = (index + 1) % slots.size();
        slots[index] = text;
        return slots[index].c_str();
    }
};

}  // namespace

const char* TranslateMessageUtf8(std::u16string key) {
    static MessageDictionary<std::string> dictionary;
    static MessageResultRing ring;
    std::lock_guard<std::mutex> guard(dictionary.lock);
    const std::string* text = dictionary.Find(UiLanguage, key);
    if (text == nullptr) return kMessageErrorString;
    return ring.Store(*text);
}

const char16_t* TranslateMessageWide(std::u16string key) {
    static MessageDictionary<std::u16string_view> dictionary;
    std::lock_guard<std::mutex> guard(dictionary.lock);
    const std::u16string_view* text = dictionary.Find(UiLanguage, key);
    if (text == nullptr) return kMessageErrorStringWide;
    return text->data();
}
