#include "runtime/data/DataFileIo.h"

#include <cstdlib>
#include <iostream>

#include "platform/Kernel32.h"
#include "runtime/data/DataFileBuffer.h"
#include "runtime/shell/LibraryFile.h"
#include "runtime/shell/ShellMessages.h"
#include "runtime/shell/TextConversion.h"

// Data files are read through the library, so that a folder standing for an archive is looked
// into.
bool ReadWholeDataFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    return ReadLibraryFile(path, bytes);
}

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
    const std::u16string wideFrom = ConvertUtf8ToWide(from.c_str());
    const std::u16string wideTo = ConvertUtf8ToWide(to.c_str());
    return platform::kernel32::MoveFileW(wideFrom.c_str(), wideTo.c_str()) != FALSE;
}

std::string MoveDamagedFile(const std::string& path) {
    if (path.empty()) return {};
    std::string target = path + ".broken";
    for (int attempt = 0; attempt < kDamagedFileRenameAttempts; ++attempt) {
        if (RenameWithoutReplacing(path, target)) return target;
        target += 'x';
    }
    return {};
}

const char* const GameCodePageLocales[kGameCharSetCount] = {
    "jpn_jpn.932", "jpn_jpn.932",  "KOR_KOR.949",  "cht_hkg.950",
    "chs_chn.936", "ENU_USA.1252", "DEU_DEU.1252",
};
std::int32_t GameCharSetIndex = 1;

const char* GameCodePageLocale() {
    const std::int32_t index =
        GameCharSetIndex >= 0 && GameCharSetIndex < kGameCharSetCount ? GameCharSetIndex : 1;
    return GameCodePageLocales[index];
}

std::string ConvertGameTextToUtf8(std::string_view text) {
    if (text.empty()) return {};
    // The stored text ends at its first zero, so it holds none.
    return ConvertCodePageToUtf8(GameCodePageLocale(), std::string(text).c_str());
}

namespace {

void DefaultMessageBox(const std::string& text, const std::string& caption) {
    const std::u16string wideText = ConvertUtf8ToWide(text.c_str());
    ShowShellMessageBox(wideText, ConvertUtf8ToWide(caption.c_str()));
}

void DefaultReport(const std::string& line1, const std::string& line2, const std::string& line3) {
    std::cerr << line1 << "\n" << line2 << "\n" << line3 << "\n";
}

std::string DefaultScriptLocation() {
    return {};
}

void DefaultExit(int code) {
    std::exit(code);
}

DataFileServices& Services() {
    static DataFileServices services{DefaultMessageBox, DefaultReport, DefaultScriptLocation,
                                     DefaultExit, MoveAsideAndReportDamagedFile};
    return services;
}

}  // namespace

DataFileServices& GetDataFileServices() {
    return Services();
}

void ResetDataFileServices() {
    Services() = DataFileServices{DefaultMessageBox, DefaultReport, DefaultScriptLocation,
                                  DefaultExit, MoveAsideAndReportDamagedFile};
}
