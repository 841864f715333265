// velk-gamedata: writes game data files from JSON descriptions and prints data files as JSON.
//
//   velk-gamedata encode DESCRIPTION.json OUTPUT   (a database: OUTPUT.dat and OUTPUT.project)
//   velk-gamedata decode [--kind basic|map|tileset|archivekey|database] FILE
//   velk-gamedata decode [--game GAMEFOLDER] FILE.sav   (GAMEFOLDER: the one holding BasicData/)
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "Main/DxChar.h"
#include "Main/DxLog.h"
#include "runtime/data/DataFileIo.h"
#include "tools/gamedata/GameDataJson.h"
#include "tools/gamedata/GameDataSave.h"

namespace {

int Usage() {
    std::cerr << "usage:\n"
                 "  velk-gamedata encode DESCRIPTION.json OUTPUT\n"
                 "  velk-gamedata decode [--kind basic|map|tileset|archivekey|database] FILE\n"
                 "  velk-gamedata decode [--game GAMEFOLDER] FILE.sav\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    // Data files are read through the game library, with UTF-8 paths as in the player; a tool
    // leaves no library log behind.
    ZiDaz::EnableLogOutput(0);
    ZiDaz::SetNarrowCharCode(ZiDaz::CharEncoding::Utf8);
    const std::string command = argv[1];
    try {
        if (command == "encode" && argc == 4) {
            std::ifstream in(argv[2]);
            if (!in) {
                std::cerr << "cannot open " << argv[2] << "\n";
                return 1;
            }
            const auto document = gamedata::Json::parse(in);
            for (const auto& [path, bytes] : gamedata::EncodeDocumentFiles(document, argv[3])) {
                if (!gamedata::SaveBytes(path, bytes)) {
                    std::cerr << "cannot write " << path << "\n";
                    return 1;
                }
            }
            return 0;
        }
        if (command == "decode" && (argc == 3 || argc == 5)) {
            std::string kind;
            std::string path = argv[2];
            std::string gameFolder;
            if (argc == 5) {
                const std::string option = argv[2];
                if (option == "--kind") {
                    kind = argv[3];
                } else if (option == "--game") {
                    gameFolder = argv[3];
                } else {
                    return Usage();
                }
                path = argv[4];
            }
            const bool save = path.size() > 4 && path.compare(path.size() - 4, 4, ".sav") == 0;
            if (kind == "save" || (kind.empty() && save)) {
                if (gameFolder.empty()) gameFolder = gamedata::GuessGameFolder(path);
                std::cout << gamedata::DecodeSave(path, gameFolder).dump(2) << "\n";
                return 0;
            }
            if (kind == "database" ||
                (kind.empty() && gamedata::GuessKind(path, {}) == "database")) {
                std::cout << gamedata::DecodeDatabase(path).dump(2) << "\n";
                return 0;
            }
            std::vector<std::uint8_t> bytes;
            if (!ReadWholeDataFile(path, bytes)) {
                std::cerr << "cannot read " << path << "\n";
                return 1;
            }
            if (kind.empty()) kind = gamedata::GuessKind(path, bytes);
            std::cout << gamedata::DecodeFile(bytes, kind, path).dump(2) << "\n";
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "velk-gamedata: " << e.what() << "\n";
        return 1;
    }
    return Usage();
}
