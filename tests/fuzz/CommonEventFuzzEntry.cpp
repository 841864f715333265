#include "fuzz/CommonEventFuzzEntry.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/data/CommonEvent.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "tools/gamedata/GameDataJson.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

// Every entry is numbered by its place and runs a list that ends with the end-of-list code (a
// fresh entry's one command included once it was read).
void CheckList(const Game_CommonEventList& list, std::size_t firstRead, std::size_t read) {
    for (std::size_t i = 0; i < list.Count(); ++i) {
        const Game_CommonEvent& e = list.events[i];
        Check(e.number == static_cast<std::int32_t>(i));
        Check(!e.commands.List().empty());
        if (i >= firstRead && i < firstRead + read) {
            Check(e.commands.List().back().Code() == kEndOfListCode);
            Check(e.extraTexts.size() == kCommonEventExtraTextCount);
            Check(e.argumentTexts.size() >= kArgumentTextCount);
            Check(e.argumentNumbers.size() >= kArgumentNumberCount);
        }
    }
}

struct QuietServices {
    DataFileServices saved = GetDataFileServices();
    std::int32_t savedLanguage = UiLanguage;
    std::int32_t savedCharSet = GameCharSetIndex;
    QuietServices() {
        DataFileServices& s = GetDataFileServices();
        s.showMessageBox = [](const std::string&, const std::string&) {};
        s.reportRuntimeError = [](const std::string&, const std::string&, const std::string&) {};
        s.scriptLocation = []() { return std::string(); };
        s.exitProgram = [](int) {};
        s.damagedFile = [](const std::string&) {};
    }
    ~QuietServices() {
        GetDataFileServices() = saved;
        UiLanguage = savedLanguage;
        GameCharSetIndex = savedCharSet;
    }
};

}  // namespace

int RunCommonEventFuzzInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool common = (data[0] & 1) != 0;
    const std::int32_t first = (data[0] >> 1) & 7;
    const std::vector<std::uint8_t> file(data + 1, data + size);
    bool accepted = false;
    {
        QuietServices quiet;
        Game_CommonEventList list;
        list.Resize(3);
        TheDataFileBuffer.Load(file);
        if (common) {
            const std::int32_t read = ParseCommonFile(list, first);
            Check(read >= -1);
            if (read >= 0) {
                // Never grown beyond what the file's count asked for.
                Check(list.Count() >= 3);
                CheckList(list, static_cast<std::size_t>(first), static_cast<std::size_t>(read));
            }
        } else if (file.size() >= kShortHeaderSize) {
            accepted = ParseCommonEventFile(list, "");
            if (accepted) {
                Check(list.Count() >= 1);
                CheckList(list, 0, list.Count());
            }
        }
        TheDataFileBuffer.Release();
    }
    // What the readers accept decodes to a description that encodes back to the same bytes.
    gamedata::Json decoded;
    try {
        decoded = gamedata::DecodeFile(file, common ? "common" : "commonevent");
    } catch (const std::runtime_error&) {
        Check(!accepted);
        return 0;
    }
    const auto again = gamedata::EncodeDocument(gamedata::Json::parse(decoded.dump()));
    if (again != file) std::abort();
    return 0;
}
