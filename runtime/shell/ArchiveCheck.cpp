#include "runtime/shell/ArchiveCheck.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Source/Library/Main/DxArchive_.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "platform/Kernel32.h"
#include "runtime/data/ArchiveGenerationKeys.h"
#include "runtime/data/ArchiveKey.h"
#include "runtime/dictionary/MessageDictionary.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/StartUp.h"
#include "runtime/shell/TextConversion.h"

std::vector<std::string> PreloadedArchives;

namespace {

namespace fs = std::filesystem;

// The texts of the check, dictionary keys with "%s" for the names.
constexpr char16_t kFolderMissing[] =
    u"以下のゲームデータのフォルダが見つかりませんでした、起動を中止します。\r\n\r\n %s";
constexpr char16_t kReadFailed[] =
    u"以下のゲームデータの読み込みに失敗しました。起動を中止します。\r\n\r\n %s";
constexpr char16_t kMixedGenerations[] =
    u"以下の2つの暗号化データの種類が異なります。\r\n暗号化のバージョンが統一されていなければデー"
    u"タを読み込むことはできません。\r\n起動を中断します。\r\n\r\n %s\r\n\r\n %s";
constexpr char16_t kUnknownGeneration[] =
    u"以下の暗号化データは、現在の Game.exe "
    u"では\r\n動作させられない未知のバージョンのため読み込めま"
    u"せん。\r\n起動を中断します。\r\n\r\n %s";
constexpr char16_t kFormatTooOld[] =
    u"以下の暗号化データは、古すぎるフォーマットのため\r\n読み込むことができませんでした。\r\n起動"
    u"を"
    u"中断します。\r\n\r\n %s";
constexpr char16_t kNotGameData[] =
    u"以下のゲームデータが古すぎるバージョンで読み込めないか、\r\nゲームデータと認識できませんでし"
    u"た。起動を中止します。\r\n\r\n %s";

std::u16string Wide(const std::string& utf8) {
    return ConvertUtf8ToWide(utf8.c_str());
}

// The translated text with each "%s" replaced by the next name, in order.
std::u16string Format(const char16_t* key, std::initializer_list<std::string> names) {
    std::u16string text = TranslateMessageWide(key);
    std::size_t from = 0;
    for (const std::string& name : names) {
        const std::size_t at = text.find(u"%s", from);
        if (at == std::u16string::npos) break;
        const std::u16string wide = Wide(name);
        text.replace(at, 2, wide);
        from = at + wide.size();
    }
    return text;
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    if (text.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        char a = text[text.size() - tail.size() + i];
        char b = tail[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

// The names of the regular files in `folder` whose names end in `extension` (any case), in name
// order: the order in which the system's folder listing gives them.
std::vector<std::string> ListFiles(const std::string& folder, const std::string& extension) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(fs::path(folder), error), end; !error && it != end;
         it.increment(error)) {
        std::error_code kindError;
        if (!it->is_regular_file(kindError)) continue;
        std::string name = it->path().filename().string();
        if (EndsWithNoCase(name, extension)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The key file's extension (without its dot) replaces `extension` (with its dot) when one is
// found.
std::string FindKeyFile(int folder, std::string& extension, const std::string& exeFolder,
                        const std::string& dataFolder) {
    std::string bare = extension.empty() ? std::string() : extension.substr(1);
    const std::string before = bare;
    std::string key = FindArchiveKeyFile(folder, bare, exeFolder, dataFolder);
    if (bare != before) extension = "." + bare;
    return key;
}

std::uint64_t DefaultAvailablePhysicalMemory() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!platform::kernel32::GlobalMemoryStatusEx(&status)) return 0;
    return status.ullAvailPhys;
}

int DefaultLoadIntoMemory(const std::string& path) {
    return ZiDaz::LoadArchiveIntoMemory(path.c_str(), 0);
}

int DefaultPumpMessages() {
    return ZiDaz::PumpMessages();
}

ArchivePreloadCalls& PreloadCalls() {
    static ArchivePreloadCalls calls{DefaultAvailablePhysicalMemory, DefaultLoadIntoMemory,
                                     DefaultPumpMessages};
    return calls;
}

// A file's size, or -1 when it cannot be told.
std::int64_t FileSize(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(fs::path(path), error);
    if (error) return -1;
    return static_cast<std::int64_t>(size);
}

}  // namespace

std::int32_t ProbeArchiveVersion(const std::string& path) {
    std::error_code error;
    std::FILE* file =
        fs::is_directory(fs::path(path), error) ? nullptr : std::fopen(path.c_str(), "rb");
    if (!file) {
        const std::size_t dot = path.rfind('.');
        const std::string folder = dot == std::string::npos ? path : path.substr(0, dot);
        return fs::exists(fs::path(folder), error) ? kArchivePlainFolder : kArchiveMissing;
    }
    std::uint8_t header[64] = {};
    const std::size_t got = std::fread(header, 1, sizeof(header), file);
    std::fclose(file);
    return ClassifyArchiveHeader(header, got);
}

std::int32_t ClassifyArchiveHeader(const std::uint8_t* header, std::size_t size) {
    std::uint8_t h[64] = {};
    for (std::size_t i = 0; i < size && i < sizeof(h); ++i) h[i] = header[i];
    if ((h[0] | h[1] << 8) != 0x5844) return kArchiveNotArchive;
    if ((h[2] | h[3] << 8) != 8) return kArchiveTooOld;
    const std::uint16_t mark = static_cast<std::uint16_t>(h[46] | h[47] << 8);
    if (mark == archive_keys::GenerationMark(kArchiveGeneration10)) return kArchiveGeneration10;
    if (mark == kArchiveGenerationMark11) return kArchiveGeneration11;
    if (mark == kArchiveGenerationMark12) return kArchiveGeneration12;
    return kArchiveUnknownGeneration;
}

std::string ArchiveGenerationKey(std::int32_t generation) {
    return archive_keys::GenerationKey(generation);
}

ArchiveCheckResult CheckArchives(const std::string& exeFolder, const std::string& dataFolder,
                                 const std::string& extension) {
    ArchiveCheckResult result;
    result.extension = extension;
    std::string key = FindKeyFile(static_cast<int>(ArchiveKeyFolder::ExeFolder), result.extension,
                                  exeFolder, dataFolder);
    // The whole data folder as one archive beside the executable.
    std::string archivePath =
        exeFolder +
        (dataFolder.empty() ? dataFolder : dataFolder.substr(0, dataFolder.size() - 1)) +
        result.extension;
    std::int32_t g = ProbeArchiveVersion(archivePath);
    if (g == kArchiveMissing) {
        result.message = Format(kFolderMissing, {exeFolder + dataFolder});
        return result;
    }
    if (g == kArchiveUnknownGeneration) {
        result.message = Format(kReadFailed, {archivePath});
        return result;
    }
    if (g == kArchivePlainFolder) {
        // A plain folder, which may hold one archive per sub-folder; all of them must share one
        // generation. Only an accepted archive decides the generation: a stray file listed after
        // it does not.
        FindKeyFile(static_cast<int>(ArchiveKeyFolder::DataFolder), result.extension, exeFolder,
                    dataFolder);
        const std::string dataPath = exeFolder + dataFolder;
        std::int32_t accepted = 0;
        std::string acceptedFile;
        for (const std::string& name : ListFiles(dataPath, result.extension)) {
            const std::int32_t w = ProbeArchiveVersion(dataPath + name);
            if (w >= 10 && w <= 1999) {
                if (accepted != 0 && w != accepted) {
                    result.message = Format(kMixedGenerations, {acceptedFile, name});
                    return result;
                }
                accepted = w;
                acceptedFile = name;
            } else if (w == kArchiveUnknownGeneration) {
                result.message = Format(kUnknownGeneration, {name});
                return result;
            } else if (w == kArchiveTooOld) {
                result.message = Format(kFormatTooOld, {name});
                return result;
            }
        }
        if (accepted != 0) archivePath = dataFolder + acceptedFile;
        g = accepted;
    }
    if (g >= 10 && g <= 998) {
        const std::string generationKey = ArchiveGenerationKey(g);
        if (!generationKey.empty()) key = generationKey;
    }
    if (g == kArchiveNotArchive || g == kArchiveTooOld) {
        result.message = Format(kNotGameData, {archivePath});
        return result;
    }
    // The layer keeps at most 63 characters of a key.
    if (key.size() > 63) key.resize(63);
    result.ok = true;
    result.generation = g;
    result.key = std::move(key);
    return result;
}

bool RunArchiveCheck() {
    ArchiveCheckResult result = CheckArchives(ExeFolder, DataFolder, ArchiveExtension);
    ArchiveExtension = result.extension;
    if (!result.ok) {
        ShowShellMessageBox(result.message, u"Error!");
        return false;
    }
    ZiDaz::SetArchiveFileExtension(ArchiveExtension.empty() ? "" : ArchiveExtension.c_str() + 1);
    ZiDaz::SetArchiveKeyText(result.key.c_str());
    ZiDaz::SetArchiveLookupOrder(0);
    // The key does not stay in memory longer than its hand-over needs.
    for (int i = 0; i < 17; ++i) std::rand();
    for (char& c : result.key) c = static_cast<char>(std::rand() % 255);
    for (int i = 0; i < 11; ++i) std::rand();
    return true;
}

std::int64_t ArchivePreloadBudget(std::uint64_t availablePhysicalMemory) {
    const auto budget =
        static_cast<std::int64_t>(static_cast<double>(availablePhysicalMemory) * 0.6);
    return std::min<std::int64_t>(budget, 3145728000LL);
}

ArchivePreloadCalls& GetArchivePreloadCalls() {
    return PreloadCalls();
}

void ResetArchivePreloadCalls() {
    PreloadCalls() = ArchivePreloadCalls{DefaultAvailablePhysicalMemory, DefaultLoadIntoMemory,
                                         DefaultPumpMessages};
}

void PreloadArchives(const std::string& exeFolder, const std::string& dataFolder) {
    ArchivePreloadCalls& calls = PreloadCalls();
    PreloadedArchives.clear();
    std::int64_t budget = ArchivePreloadBudget(calls.availablePhysicalMemory());
    // Sizes are 64-bit; an empty file or one whose size cannot be told is never loaded.
    auto fits = [&](std::int64_t size) {
        return size > 0 && size < budget && size < kArchivePreloadLimit;
    };
    std::string single = dataFolder;
    for (std::size_t at = single.find('/'); at != std::string::npos; at = single.find('/', at)) {
        single.replace(at, 1, ".velk");
        at += 5;
    }
    single = exeFolder + single;
    std::error_code error;
    if (fs::is_regular_file(fs::path(single), error)) {
        if (fits(FileSize(single)) && calls.loadIntoMemory(single) >= 0) {
            PreloadedArchives.push_back(single);
        }
        return;
    }
    const std::string dataPath = exeFolder + dataFolder;
    for (const std::string& name : ListFiles(dataPath, ".velk")) {
        const std::string path = dataPath + name;
        const std::int64_t size = FileSize(path);
        if (!fits(size)) continue;
        budget -= size;
        if (calls.loadIntoMemory(path) >= 0) PreloadedArchives.push_back(path);
        calls.pumpMessages();
    }
}
