#include "runtime/script/SoundCommands.h"

#include <string>

#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/presentation/TextCodes.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/Game_SoundManager.h"
#include "runtime/shell/RuntimeError.h"

namespace {

enum SoundOperation : std::int32_t { kPlay = 0, kLoad = 1, kRelease = 2, kFreeUnused = 3 };
enum IdSource : std::int32_t { kIdInCommand = 0, kIdFromValue = 1, kIdFromFileName = 2 };

}  // namespace

bool CommandSound(Game_Interpreter& interpreter) {
    if (interpreter.currentCommand == nullptr) return true;
    const Game_EventCommand& command = *interpreter.currentCommand;
    const auto& a = command.arguments;
    const auto count = a.size();
    // Numeric n is argument n (argument 0 is the code); a missing one reads as 0.
    auto value = [&](std::size_t n) -> std::int32_t {
        return n < count ? interpreter.ResolveNumber(a[n]) : 0;
    };
    const std::int32_t bits = count > 1 ? a[1] : 0;
    const std::int32_t operation = bits & 0xF;
    const std::int32_t kindNumber = (bits >> 4) & 0xF;
    const std::int32_t source = (bits >> 24) & 0xF;
    // Only the three kinds exist; any other kind names nothing the manager keeps.
    if (kindNumber > 2) return true;
    const auto kind = static_cast<SoundKind>(kindNumber);

    std::int32_t id = source == kIdInCommand ? (bits >> 8) & 0xFFFF : -1;
    const std::int32_t start = count >= 5 ? value(4) : 0;
    if (source == kIdFromValue) {
        id = value(3);
        if (operation == kRelease && id == -1) return true;
    }
    if (source == kIdFromFileName) {
        const InterpreterLinks& links = GetInterpreterLinks();
        const std::int32_t mapId = links.mapId ? links.mapId() : -1;
        const std::string text = command.strings.empty() ? std::string() : command.strings[0];
        const std::string name = RestoreEscapeCodes(
            ExpandTextCodes(text, interpreter.mapEventId, interpreter.commonEventId, mapId, true,
                            false, nullptr, nullptr, false));
        const std::int32_t volume = value(5);
        const std::int32_t tempo = value(6);
        const std::int32_t result = TheSoundManager.PlayFile(
            kind, value(2), kind != SoundKind::Se ? value(7) : 0, volume == 0 ? 100 : volume,
            tempo == 0 ? 100 : tempo, start, name);
        if (result == -10) return true;
        id = result;
    }
    switch (operation) {
        case kPlay:
            if (id != -2) {
                const std::int32_t tag = kind == SoundKind::Se && count >= 8 ? value(7) : 0;
                TheSoundManager.Play(kind, id, value(2), start, tag);
            }
            break;
        case kLoad:
            if (id != -2) TheSoundManager.LoadSound(kind, id);
            break;
        case kRelease:
            TheSoundManager.ReleaseSound(kind, id);
            break;
        case kFreeUnused:
            TheSoundManager.FreeSounds(false);
            break;
        default:
            break;
    }
    return true;
}

bool CommandSpeechSynthesis(Game_Interpreter& interpreter) {
    (void)interpreter;
    ReportRuntimeError(
        false,
        TranslateMessageUtf8(u"【合成音声】＜エラー＞ VELK RPGエディターVer2.00より、"
                             u"合成音声機能は使用できなくなりました。"),
        TranslateMessageUtf8(u"この処理は実行されません。"), GetScriptLocationText());
    return true;
}

void InstallSoundCommands() {
    SetCommandHandler(kSoundCommandCode, &CommandSound);
    SetCommandHandler(kSpeechSynthesisCommandCode, &CommandSpeechSynthesis);
}
