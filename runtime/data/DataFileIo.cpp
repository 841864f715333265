#include "runtime/data/DataFileIo.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "runtime/shell/TextConversion.h"

// Whole-file reads and the no-replace move go straight to the host for now; once the library's
// file layer is in place the read goes through its read-file handles (so that data files inside
// archives are found) and the move through its platform entry point.
bool ReadWholeDataFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (path.empty()) return false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    bytes.resize(static_cast<std::size_t>(size));
    in.seekg(0);
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        bytes.clear();
        return false;
    }
    return true;
}

bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
#if defined(SYS_renameat2)
    if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != ENOSYS && errno != EINVAL) return false;
#endif
    // File systems without renameat2: a hard link fails on an existing target, and the old name
    // is removed only once the new one exists.
    if (link(from.c_str(), to.c_str()) != 0) return false;
    unlink(from.c_str());
    return true;
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
    std::cerr << "[" << caption << "] " << text << "\n";
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
                                     DefaultExit};
    return services;
}

}  // namespace

DataFileServices& GetDataFileServices() {
    return Services();
}

void ResetDataFileServices() {
    Services() =
        DataFileServices{DefaultMessageBox, DefaultReport, DefaultScriptLocation, DefaultExit};
}
