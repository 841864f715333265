// velk-archive: packs a folder into an archive of the library's format and unpacks an archive
// into a folder through the library's own reader.
//
//   velk-archive pack FOLDER ARCHIVE [--key TEXT | --no-key | --generation 10|11|12]
//                     [--compress both|lz|huffman|none] [--huffman-kb K] [--charset utf8|sjis]
//                     [--plain-head] [--always-compress]
//   velk-archive unpack ARCHIVE FOLDER [--key TEXT | --generation 10|11|12]
//
// "--generation G" writes (or reads) an archive of key generation G: the player marks, probes
// and unscrambles those with the generation's own key.
//
// A tree the library could not read back whole is refused and nothing is written; an unpack
// reports every entry it leaves out and then exits with 1.
#include <cstdlib>
#include <iostream>
#include <string>

#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "runtime/data/ArchiveGenerationKeys.h"
#include "tools/archive/ArchiveWriter.h"

namespace {

int Usage() {
    std::cerr
        << "usage:\n"
           "  velk-archive pack FOLDER ARCHIVE [--key TEXT | --no-key | --generation 10|11|12]\n"
           "                    [--compress both|lz|huffman|none] [--huffman-kb K]\n"
           "                    [--charset utf8|sjis] [--plain-head] [--always-compress]\n"
           "  velk-archive unpack ARCHIVE FOLDER [--key TEXT | --generation 10|11|12]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string command = argv[1];
    ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
    // A tool leaves no "Log.txt" behind in the folder it runs in.
    ZiDaz::EnableLogOutput(0);
    velk::archive::WriteOptions options;
    std::optional<std::string> key;
    int generation = 0;
    for (int i = 4; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--key" && hasValue) {
            key = argv[++i];
        } else if (option == "--generation" && hasValue) {
            generation = std::atoi(argv[++i]);
            if (generation < 10 || generation > 12) return Usage();
        } else if (option == "--no-key" && command == "pack") {
            options.scramble = false;
        } else if (option == "--compress" && hasValue && command == "pack") {
            const std::string value = argv[++i];
            if (value == "both") {
                options.compression = velk::archive::Compression::LzHuffman;
            } else if (value == "lz") {
                options.compression = velk::archive::Compression::Lz;
            } else if (value == "huffman") {
                options.compression = velk::archive::Compression::Huffman;
            } else if (value == "none") {
                options.compression = velk::archive::Compression::None;
            } else {
                return Usage();
            }
        } else if (option == "--huffman-kb" && hasValue && command == "pack") {
            int k = std::atoi(argv[++i]);
            if (k < 1 || k > 255) return Usage();
            options.huffmanKilobytes = static_cast<std::uint8_t>(k);
        } else if (option == "--charset" && hasValue && command == "pack") {
            const std::string value = argv[++i];
            if (value == "utf8") {
                options.charset = ZiDaz::CharEncoding::Utf8;
            } else if (value == "sjis") {
                options.charset = ZiDaz::CharEncoding::ShiftJis;
            } else {
                return Usage();
            }
        } else if (option == "--plain-head" && command == "pack") {
            options.compressHead = false;
        } else if (option == "--always-compress" && command == "pack") {
            options.keepSmaller = false;
        } else {
            return Usage();
        }
    }
    if (generation != 0) {
        if (key || !options.scramble) return Usage();
        key = archive_keys::GenerationKey(generation);
        options.generationMark = archive_keys::GenerationMark(generation);
    }
    std::string error;
    if (command == "pack") {
        if (key && !options.scramble) return Usage();
        options.key = key;
        if (!velk::archive::PackFolder(argv[2], argv[3], options, &error)) {
            std::cerr << "velk-archive: " << error << "\n";
            return 1;
        }
        return 0;
    }
    if (command == "unpack") {
        if (!velk::archive::UnpackArchive(argv[2], argv[3], key, &error)) {
            std::cerr << "velk-archive: " << error << "\n";
            return 1;
        }
        return 0;
    }
    return Usage();
}
