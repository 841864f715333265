#include "runtime/data/Game_SaveManager.h"

#include <sys/statvfs.h>

#include <cstdlib>
#include <ctime>

#include "platform/HostPath.h"
#include "platform/Kernel32.h"
#include "runtime/data/BasicData.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/data/DataFileIo.h"
#include "runtime/data/SaveStream.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/script/FlowCommands.h"
#include "runtime/script/Game_Interpreter.h"
#include "runtime/shell/Game_InputReplay.h"
#include "runtime/shell/Game_System.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/RuntimeError.h"
#include "runtime/shell/ShellGlobals.h"
#include "runtime/shell/StringUtil.h"
#include "runtime/shell/TextConversion.h"

Game_SaveManager TheSaveManager;

namespace {

// How many longer names a rename tries while the names are taken.
constexpr int kRenameAttempts = 64;
// Beside the save while it is being written; renamed over the save once it is whole.
constexpr char kTemporarySuffix[] = ".writing";

std::string Translate(const char16_t* text) {
    return TranslateMessageUtf8(text);
}

std::string FormatOne(const std::string& format, const std::string& value) {
    const std::size_t at = format.find("%s");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + value + format.substr(at + 2);
}

// Set while a load has the save stream: a report made meanwhile (the databases' or a rename's)
// must not flush, since writing a save would take the stream from under the reader.
bool LoadInProgress = false;

struct LoadGuard {
    LoadGuard() { LoadInProgress = true; }
    ~LoadGuard() { LoadInProgress = false; }
    LoadGuard(const LoadGuard&) = delete;
    LoadGuard& operator=(const LoadGuard&) = delete;
};

const char16_t kBrokenMessage[] = u"セーブデータが破損しています、.brokenファイルに置き換えました";
const char16_t kCannotSaveMessage[] =
    u"エラー：セーブデータが保存できませんでした、ファイルのアクセス権限を確認してください";

std::int64_t DefaultFreeSpace(const std::string& folder) {
    struct statvfs info {};
    if (statvfs(platform::ResolveHostPath(folder.empty() ? "." : folder).c_str(), &info) != 0)
        return -1;
    return static_cast<std::int64_t>(info.f_bavail) * static_cast<std::int64_t>(info.f_frsize);
}

std::FILE* DefaultOpen(const char* path, const char* mode) {
    return std::fopen(path, mode);
}

int DefaultClose(std::FILE* file) {
    return std::fclose(file);
}

std::int64_t DefaultNow() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

SaveFileServices DefaultServices() {
    return SaveFileServices{DefaultFreeSpace, DefaultOpen, std::fwrite,
                            DefaultClose,     std::rename, DefaultNow};
}

SaveFileServices& Services() {
    static SaveFileServices services = DefaultServices();
    return services;
}

std::string BaseFolder() {
    std::string base = ExeFolder;
    for (char& c : base)
        if (c == '\\') c = '/';
    return base;
}

bool HasSeeds(const std::array<std::uint8_t, 3>& seeds) {
    return seeds[0] != 0 || seeds[1] != 0 || seeds[2] != 0;
}

// Reads the short-string title and the format number after the opening byte.
bool ReadSavePrefix(std::string& title, std::int16_t& format) {
    SaveStream& s = TheSaveStream;
    if (!s.ReadShortString(title)) return false;
    if (!s.utf8) title = ConvertOldSaveString(title);
    if (!s.ReadInt16(format)) return false;
    s.formatNumber = format;
    return true;
}

// The stream and header of a save file's bytes, unscrambled in place.
void OpenSaveBytes(std::vector<std::uint8_t> bytes, SaveFileInfo& info) {
    const std::size_t size = bytes.size();
    if (size >= kSaveHeaderSize) {
        info.seeds = {bytes[0], bytes[3], bytes[9]};
        info.check = bytes[2];
        info.utf8 = bytes[6] == 'U';
        std::uint8_t unused = 0;
        UnscrambleDataFile(bytes.data(), kSaveHeaderSize, size, 3, info.seeds.data(), kNoCheck,
                           unused, std::string());
    }
    TheSaveStream.BeginRead(std::move(bytes), info.utf8, SaveStream::kCurrentFormat);
    TheSaveStream.position = static_cast<std::int32_t>(std::min(size, kSaveHeaderSize));
}

// What the read of the parts and the closing byte found.
enum class BodyResult { Complete, Damaged, NoClosingByte, BadClosingByte };

BodyResult ReadPartsAndClose(Game_SaveData& data, bool toLive, SaveFileInfo& info) {
    SaveStream& s = TheSaveStream;
    const bool partsOk = data.ReadSave(toLive);
    info.bytesLeft = s.Remaining();
    if (!partsOk || s.overrun || s.Remaining() > kSaveSlack) return BodyResult::Damaged;
    std::uint8_t closing = 0;
    if (!s.ReadByte(closing)) return BodyResult::NoClosingByte;
    if (closing != kSaveSentinel) return BodyResult::BadClosingByte;
    return BodyResult::Complete;
}

// The sum of the plain body up to the closing byte against the stored check byte.
bool CheckSumMatches(const SaveFileInfo& info) {
    if (!HasSeeds(info.seeds)) return true;
    std::uint32_t sum = 0;
    const auto end = static_cast<std::size_t>(TheSaveStream.position);
    for (std::size_t i = kSaveHeaderSize; i < end && i < TheSaveStream.buffer.size(); ++i)
        sum += TheSaveStream.buffer[i];
    return static_cast<std::uint8_t>(sum) == info.check;
}

// Writes the encoded bytes over `path` through a temporary file; false when any step failed (the
// old file is then as it was).
bool WriteFileSafely(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const SaveFileServices& s = Services();
    const std::string target = platform::ResolveHostPath(path, platform::NameLookup::Single);
    const std::string temporary = target + kTemporarySuffix;
    std::FILE* file = s.open(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = bytes.empty() || s.write(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = s.close(file) == 0 && ok;
    ok = ok && s.replace(temporary.c_str(), target.c_str()) == 0;
    if (!ok) std::remove(temporary.c_str());
    return ok;
}

void ReportBroken(bool withPath, const std::string& path) {
    ReportRuntimeError(true, Translate(kBrokenMessage), withPath ? path : std::string(), "");
}

}  // namespace

SaveFileServices& GetSaveFileServices() {
    return Services();
}

void ResetSaveFileServices() {
    Services() = DefaultServices();
}

// ---- Names ----

std::string Game_SaveManager::SlotPath(std::int32_t slot, const std::string& name) {
    if (slot == 0) return BaseFolder() + name;
    char number[32];
    std::snprintf(number, sizeof number, "%.2i", slot);
    return BaseFolder() + name + number + ".sav";
}

Game_SaveData& Game_SaveManager::Entry(const std::string& path) {
    auto& slot = cache[path];
    if (!slot) slot = std::make_unique<Game_SaveData>();
    return *slot;
}

void Game_SaveManager::ResetEntry(const std::string& path) {
    cache[path] = std::make_unique<Game_SaveData>();
}

void Game_SaveManager::Reset() {
    cache.clear();
    loaded.clear();
    missing.clear();
}

std::string RenameSaveFile(const std::string& path, const std::string& suffix) {
    if (path.empty()) return {};
    std::string target = path + suffix;
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        const std::u16string from = ConvertUtf8ToWide(path.c_str());
        const std::u16string to = ConvertUtf8ToWide(target.c_str());
        if (platform::kernel32::MoveFileW(from.c_str(), to.c_str()) != FALSE) return target;
        if (platform::kernel32::GetLastError() != ERROR_ALREADY_EXISTS) break;
        target += 'x';
    }
    // The file stays where it is; say so rather than pretend it was moved aside.
    ReportRuntimeError(true, Translate(u"エラー：セーブファイルの名前を変更できませんでした"), path,
                       target);
    return {};
}

// ---- Header ----

bool WriteSaveHeader() {
    TheSaveStream.WriteShortString(TheBasicData.Title());
    TheSaveStream.WriteInt16(SaveStream::kCurrentFormat);
    TheSaveStream.formatNumber = SaveStream::kCurrentFormat;
    return true;
}

bool CheckSaveHeader() {
    std::string title;
    std::int16_t format = 0;
    if (!ReadSavePrefix(title, format)) {
        TheSaveStream.overrun = true;
        return false;
    }
    const std::string& path = TheSaveManager.currentFile;
    if (title != TheBasicData.Title()) {
        const std::string renamed = RenameSaveFile(path, ".anotherGame");
        ReportRuntimeError(
            true, Translate(u"【セーブエラー】"),
            FormatOne(Translate(u"異なるゲーム「%s」のセーブデータをロードしようとしました。セーブ"
                                u"ファイル名を変更します"),
                      title),
            FormatOne(Translate(u"ファイル 「%s」 を削除して下さい"), renamed));
        return false;
    }
    if (format > SaveStream::kCurrentFormat) {
        const std::string renamed = RenameSaveFile(path, ".anotherGame");
        ReportRuntimeError(
            true, FormatOne(Translate(u"ファイル 「%s」 を削除して下さい"), renamed),
            Translate(u"新しい実行ファイルで生成されたセーブデータをロードしようとしました。\n読み"
                      u"込めないためセーブファイル名を変更します。"),
            Translate(u"【セーブエラー】"));
        return false;
    }
    return true;
}

// ---- Encoding and decoding ----

std::vector<std::uint8_t> EncodeSaveFile(Game_SaveData& data,
                                         const std::array<std::uint8_t, 3>& seeds) {
    SaveStream& s = TheSaveStream;
    std::int32_t length = 0;
    for (int pass = 0; pass < 2; ++pass) {
        const bool measure = pass == 0;
        s.BeginWrite(measure, measure ? 0 : static_cast<std::size_t>(length) + 100);
        if (!measure) s.buffer[kSaveHeaderSize] = kSaveSentinel;
        s.position = static_cast<std::int32_t>(kSaveHeaderSize) + 1;
        WriteSaveHeader();
        data.WriteSave();
        s.WriteByte(kSaveSentinel);
        length = s.position;
    }
    std::vector<std::uint8_t> bytes = std::move(s.buffer);
    bytes.resize(static_cast<std::size_t>(length));
    s.BeginWrite(true);
    s.measuring = 0;
    s.Release();
    std::uint8_t check = 0;
    UnscrambleDataFile(bytes.data(), kSaveHeaderSize, bytes.size(), 3, seeds.data(), kComputeCheck,
                       check, std::string());
    for (std::size_t i = 0; i < kSaveHeaderSize; ++i)
        bytes[i] = static_cast<std::uint8_t>((std::rand() >> 8) & 0x7F);
    bytes[0] = seeds[0];
    bytes[3] = seeds[1];
    bytes[9] = seeds[2];
    bytes[2] = HasSeeds(seeds) ? check : 0;
    bytes[8] = 0;
    bytes[6] = 'U';
    return bytes;
}

bool DecodeSaveFile(std::vector<std::uint8_t> bytes, Game_SaveData& data, SaveFileInfo& info) {
    const LoadGuard guard;
    const std::size_t size = bytes.size();
    OpenSaveBytes(std::move(bytes), info);
    SaveStream& s = TheSaveStream;
    bool ok = false;
    std::uint8_t opening = 0;
    if (size > kSaveHeaderSize && s.ReadByte(opening) && opening == kSaveSentinel &&
        ReadSavePrefix(info.title, info.format) && info.format <= SaveStream::kCurrentFormat) {
        ok = ReadPartsAndClose(data, false, info) == BodyResult::Complete && CheckSumMatches(info);
    }
    data.Relink();
    data.systemState.savedFlag = ok ? 1 : 0;
    s.Release();
    return ok;
}

// ---- Saving ----

bool Game_SaveManager::Save(std::int32_t slot, std::int32_t ignored, const std::string& name) {
    (void)ignored;
    if (ReplayPlaying) return true;
    if (slot == 0 &&
        (name.find(':') != std::string::npos || name.find("..") != std::string::npos)) {
        if (TestPlay)
            ReportRuntimeError(
                true,
                Translate(
                    u"[セーブ処理] ﾃｽﾄ専用ｴﾗｰ:絶対ｱﾄﾞﾚｽ指定か上位ﾌｫﾙﾀﾞ指定(..)が行われています。"),
                Translate(u"ゲームフォルダ外部にはファイル出力できません。"),
                GetScriptLocationText());
        return false;
    }
    const std::string path = SlotPath(slot, name);
    Game_SaveData& entry = Entry(path);
    for (const SavePart& part : SavePartTable())
        if (part.copyFromLive) part.copyFromLive(entry);
    entry.Relink();
    TheSystemState.lastSlot = slot;
    return WriteSaveFile(true, path);
}

bool Game_SaveManager::WriteSaveFile(bool report, const std::string& path) {
    const SaveFileServices& services = Services();
    Game_SaveData& entry = Entry(path);
    std::srand(static_cast<unsigned>(services.now()));
    auto draw = [] {
        return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>((std::rand() & 0xFF) >> 4),
                                           static_cast<std::uint8_t>((std::rand() & 0xFF) >> 4),
                                           static_cast<std::uint8_t>((std::rand() & 0xFF) >> 4)};
    };
    std::array<std::uint8_t, 3> seeds = draw();
    if (!HasSeeds(seeds)) seeds = draw();
    const std::vector<std::uint8_t> bytes = EncodeSaveFile(entry, seeds);

    const std::string base = BaseFolder();
    const std::string relative = ReplaceAllText(path, base, "");
    CreateFolderChain(relative, base);
    // The old save stays until the new one is whole, so the whole new length must fit.
    const std::int64_t free = services.freeSpace(base);
    if (free >= 0 && free < static_cast<std::int64_t>(bytes.size())) {
        if (report)
            ReportRuntimeError(true,
                               Translate(u"セーブ処理エラー：ハードディスク容量が足りませんでした"),
                               Translate(u"不要なデータを削除して、ファイル容量を増やしてください"),
                               GetScriptLocationText());
        return false;
    }
    if (!WriteFileSafely(path, bytes)) {
        if (report)
            ReportRuntimeError(false, Translate(kCannotSaveMessage), path, GetScriptLocationText());
        return false;
    }
    loaded[path] = 1;
    missing[path] = 0;
    dirty[path] = 0;
    return true;
}

// ---- Loading ----

bool Game_SaveManager::Load(std::int32_t slot, bool toLive, bool startReplay,
                            const std::string& name) {
    const std::string path = SlotPath(slot, name);
    if (!toLive && !startReplay) {
        if (loaded[path] == 1) return true;
        if (missing[path] == 1) return false;
    }
    currentFile = path;
    const LoadGuard guard;
    TheSaveStream.overrun = false;
    std::vector<std::uint8_t> bytes;
    if (!ReadLibraryFile(path, bytes)) {
        missing[path] = 1;
        return false;
    }
    missing[path] = 0;
    ResetEntry(path);

    // Everything is read and checked in a scratch snapshot before the cache entry or the live
    // game takes any of it.
    auto scratch = std::make_unique<Game_SaveData>();
    SaveFileInfo info;
    const std::size_t size = bytes.size();
    OpenSaveBytes(std::move(bytes), info);
    SaveStream& s = TheSaveStream;
    auto release = [&s] { s.Release(); };
    std::uint8_t opening = 0;
    if (size <= kSaveHeaderSize || !s.ReadByte(opening)) {
        s.overrun = true;
        release();
        return false;
    }
    if (opening != kSaveSentinel) {
        RenameSaveFile(path, ".broken");
        ReportBroken(false, path);
        release();
        return false;
    }
    if (!CheckSaveHeader()) {
        release();
        return false;
    }
    const std::int32_t bodyStart = s.position;
    const std::int16_t format = s.formatNumber;
    const BodyResult result = ReadPartsAndClose(*scratch, false, info);
    if (result == BodyResult::Damaged || result == BodyResult::BadClosingByte) {
        RenameSaveFile(path, ".broken");
        ReportBroken(result == BodyResult::Damaged, path);
        release();
        return false;
    }
    if (result == BodyResult::NoClosingByte) {
        // Not renamed, not reported: the entry holds what was read, and is not current.
        if (!toLive) *cache[path] = *scratch;
        release();
        return false;
    }
    if (!CheckSumMatches(info)) {
        // The damaged-file path renames, reports and ends the program.
        std::uint8_t check = info.check;
        UnscrambleDataFile(s.buffer.data(), kSaveHeaderSize, static_cast<std::size_t>(s.position),
                           0, nullptr, kVerifyCheck, check, path);
        release();
        return false;
    }
    if (toLive && scratch->variableDatabase.types.empty()) {
        TheGameSystem.sceneReloadRequested = 0;
        TheGameSystem.gameState = GameState::Run;
        ReportRuntimeError(true,
                           Translate(u"マップならびに可変DB情報が保存されていないセーブデータをロー"
                                     u"ドしました、ゲームを終了します"),
                           GetScriptLocationText(), "");
        TheGameSystem.gameState = GameState::Quit;
        release();
        if (ShutDownGameHook) ShutDownGameHook();
        return false;
    }

    if (toLive) {
        // The verified body, read again into the live game.
        RunningInterpreter = nullptr;
        TheMapState.events.clear();
        TheMapState.runners.clear();
        s.position = bodyStart;
        s.formatNumber = format;
        s.overrun = false;
        cache[path]->ReadSave(true);
    } else {
        *cache[path] = *scratch;
    }
    release();
    Game_SaveData& entry = *cache[path];
    entry.Relink();
    entry.systemState.savedFlag = 1;
    loaded[path] = 1;

    if (startReplay) {
        TheGameSystem.gameState = GameState::Restart;
        ReplayPlaying = 1;
        TheInputReplay = entry.inputReplay;
    } else if (toLive) {
        TheSystemState.lastSlot = slot;
        Reset();
    }
    return true;
}

// ---- Single values ----

std::int32_t Game_SaveManager::ReadSavedNumber(std::int32_t slot, std::int32_t variableId,
                                               const std::string& name) {
    if (slot < 0) return 0;
    if ((variableId >= 1100000 && variableId <= 1199999) ||
        (variableId >= 1600000 && variableId <= 1699999))
        return 0;
    if (!Load(slot, false, false, name)) return 0;
    Game_SaveData& entry = Entry(SlotPath(slot, name));
    entry.Relink();
    return entry.variables.GetValue(variableId, &entry.variableDatabase);
}

std::string Game_SaveManager::ReadSavedString(std::int32_t slot, std::int32_t variableId,
                                              const std::string& name) {
    if (slot < 0) return Translate(u"ERROR -1番目以下のデータを読みに行っています");
    if (variableId >= 1600000 && variableId <= 1699999) return {};
    if (!Load(slot, false, false, name)) return {};
    Game_SaveData& entry = Entry(SlotPath(slot, name));
    entry.Relink();
    return entry.variables.GetString(variableId, &entry.variableDatabase);
}

bool Game_SaveManager::PrepareWrite(std::int32_t slot, std::int32_t variableId,
                                    const std::string& name, std::string& path) {
    (void)variableId;
    Load(slot, false, false, name);
    path = SlotPath(slot, name);
    if (loaded[path] == 1) return true;
    ResetEntry(path);
    const std::string base = BaseFolder();
    CreateFolderChain(ReplaceAllText(path, base, ""), base);
    // Proves the file can be written. Appending creates a missing file empty and never cuts an
    // existing one, which may still be the only copy of a save that failed to read.
    const SaveFileServices& s = Services();
    std::FILE* file = s.open(platform::ResolveHostPath(path).c_str(), "ab");
    if (file == nullptr) {
        ReportRuntimeError(false, Translate(kCannotSaveMessage), path, GetScriptLocationText());
    } else {
        s.close(file);
    }
    return true;
}

void Game_SaveManager::WriteSavedNumber(std::int32_t slot, std::int32_t variableId,
                                        std::int32_t value, const std::string& name) {
    if ((variableId >= 1600000 && variableId <= 1699999) ||
        (variableId >= 1100000 && variableId <= 1199999))
        return;
    std::string path;
    PrepareWrite(slot, variableId, name, path);
    Game_SaveData& entry = Entry(path);
    entry.Relink();
    entry.variables.SetValue(variableId, value, &entry.variableDatabase);
    SetSaveDirty(path);
    missing[path] = 0;
    loaded[path] = 1;
}

void Game_SaveManager::WriteSavedString(std::int32_t slot, std::int32_t variableId,
                                        const std::string& value, const std::string& name) {
    if (variableId >= 1600000 && variableId <= 1699999) return;
    std::string path;
    PrepareWrite(slot, variableId, name, path);
    Game_SaveData& entry = Entry(path);
    entry.Relink();
    entry.variables.SetString(variableId, &entry.variableDatabase, value);
    SetSaveDirty(path);
    missing[path] = 0;
    loaded[path] = 1;
}

void SetSaveDirty(const std::string& path) {
    TheSaveManager.dirty[path] = 1;
}

bool FlushDirtySaves() {
    // The files stay dirty for the flush after the load.
    if (LoadInProgress) return true;
    Game_SaveManager& m = TheSaveManager;
    for (auto it = m.dirty.begin(); it != m.dirty.end();) {
        const std::string path = it->first;
        if (it->second == 1 && !m.WriteSaveFile(false, path)) {
            // Kept for the next flush; the log hears of it once, never a box in the middle of
            // play.
            if (!m.flushFailureLogged[path]) {
                m.flushFailureLogged[path] = 1;
                AppendErrorLogLine(Translate(kCannotSaveMessage));
                AppendErrorLogLine(path);
                AppendErrorLogLine(kErrorLogSeparator);
            }
            ++it;
            continue;
        }
        m.flushFailureLogged.erase(path);
        it = m.dirty.erase(it);
    }
    return true;
}

void InstallSaveFlushing() {
    GetRuntimeErrorServices().flushDirtySaves = [] { FlushDirtySaves(); };
}
