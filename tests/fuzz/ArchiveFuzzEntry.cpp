#include "fuzz/ArchiveFuzzEntry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Main/DxArchive_.h"
#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "Main/Windows/DxFileWin.h"

namespace {

using namespace ZiDaz;

struct Walk {
    ArchiveReader* reader;
    int budget;  // entries still to visit: a hostile archive may list many
};

// A name from a search in the archive's character set.
std::vector<char> InArchiveCharset(const ArchiveReader& reader, const char16_t* name) {
    std::vector<char> out(1100, 0);
    TranscodeString(name, -1, CharEncoding::Utf16Le, out.data(), static_cast<int>(out.size()),
                    reader.charset);
    return out;
}

void ReadFile(Walk& walk, const char* name, std::int64_t listedSize) {
    ArchiveStream stream;
    if (OpenArchiveStream(&stream, walk.reader, name, 0) != 0) return;
    std::int64_t size = static_cast<std::int64_t>(stream.entry.dataSize);
    if (size != listedSize && size != 0) std::abort();
    std::vector<unsigned char> buffer(4096);
    std::int64_t total = 0;
    for (int rounds = 0; rounds < 64; ++rounds) {
        std::size_t got = ReadArchiveStream(&stream, buffer.data(), buffer.size());
        if (got > buffer.size()) std::abort();
        total += static_cast<std::int64_t>(got);
        if (got == 0) break;
    }
    if (total > size) std::abort();
    SeekArchiveStream(&stream, size / 2, 0);
    ReadArchiveStream(&stream, buffer.data(), 16);
    SeekArchiveStream(&stream, 10, 2);
    if (ReadArchiveStream(&stream, buffer.data(), 1) != 0) std::abort();
    CloseArchiveStream(&stream);
    std::uint32_t position, located;
    LocateFileInArchive(walk.reader, walk.reader->charset, name, &position, &located);
}

// An ASCII text in the archive's character set (whatever its unit size), zero-terminated.
std::vector<char> Ascii(const ArchiveReader& reader, const char* text) {
    std::vector<char> out(64, 0);
    int at = 0;
    for (; *text; ++text)
        at +=
            EncodeCharCode(static_cast<unsigned char>(*text), reader.charset, out.data() + at, 16);
    return out;
}

void WalkFolder(Walk& walk, int depth) {
    if (depth > 12) return;
    FindFileRecord record{};
    FileSearchValue search =
        ArchiveFindFirst(walk.reader, Ascii(*walk.reader, "*").data(), &record);
    if (search == -1) return;
    std::vector<FindFileRecord> found;
    do {
        found.push_back(record);
    } while (--walk.budget > 0 && ArchiveFindNext(search, &record) == 0);
    ArchiveFindClose(search);
    for (const FindFileRecord& entry : found) {
        if (walk.budget <= 0) return;
        std::u16string name = entry.Name;
        if (name == u"." || name == u"..") continue;
        std::vector<char> inArchive = InArchiveCharset(*walk.reader, entry.Name);
        if (entry.DirectoryFlag) {
            if (ChangeArchiveDirectory(walk.reader, inArchive.data(), 1, nullptr) == 0) {
                WalkFolder(walk, depth + 1);
                ChangeArchiveDirectory(walk.reader, Ascii(*walk.reader, "..").data(), 1, nullptr);
            }
        } else {
            ReadFile(walk, inArchive.data(), entry.Size);
        }
    }
}

const char* KeyFor(std::uint8_t mode) {
    switch (mode & 3) {
        case 0:
            return nullptr;
        case 1:
            return "";
        case 2:
            return "fuzz key";
        default:
            return "QZTRWMPB";
    }
}

}  // namespace

int RunArchiveFuzzInput(const std::uint8_t* data, std::size_t size) {
    // The library's log is on by default; what it would report on hostile inputs must not become
    // a "Log.txt" in the fuzzer's working folder.
    EnableLogOutput(0);
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    std::vector<std::uint8_t> image(data + 1, data + size);
    const std::vector<std::uint8_t> original = image;
    ArchiveReader reader;
    InitArchiveReader(&reader);
    int opened;
    std::string path;
    if (mode & 4) {
        path = "/tmp/velk-archive-fuzz-" + std::to_string(::getpid()) + ".bin";
        if (FILE* file = std::fopen(path.c_str(), "wb")) {
            std::fwrite(image.data(), 1, image.size(), file);
            std::fclose(file);
        }
        std::u16string wide(path.begin(), path.end());
        opened = OpenArchiveFromFile(&reader, wide.c_str(), KeyFor(mode));
    } else {
        opened = OpenArchiveInMemory(&reader, image.data(), image.size(), 0, (mode & 8) ? 1 : 0,
                                     KeyFor(mode), nullptr);
    }
    if (opened == 0) {
        Walk walk{&reader, 2000};
        WalkFolder(walk, 0);
        CloseArchiveReader(&reader);
        // An image used in place is given back as it came.
        if (!(mode & 4) && image != original) std::abort();
    }
    if (!path.empty()) std::remove(path.c_str());
    return 0;
}
