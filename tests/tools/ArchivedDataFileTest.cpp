// The runtime's data files come out of an archive that stands for their folder, read through the
// library's file layer like plain files.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Main/DxArchive_.h"
#include "Main/DxFile.h"
#include "runtime/data/DataFileIo.h"
#include "tools/archive/ArchiveWriter.h"
#include "tools/gamedata/GameDataWriter.h"

namespace {

TEST(ArchivedDataFiles, AreReadFromTheArchiveThatStandsForTheirFolder) {
    const auto root = std::filesystem::temp_directory_path() /
                      ("velk-archived-data-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "Data" / "BasicData");
    std::vector<std::uint8_t> content(5000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(gamedata::SaveBytes((root / "Data" / "BasicData" / "Game.dat").string(), content));
    std::string error;
    ASSERT_TRUE(velk::archive::PackFolder(root / "Data", root / "Data.velk", {}, &error)) << error;
    std::filesystem::remove_all(root / "Data");

    ZiDaz::StartArchivePathLayer();
    ZiDaz::SetArchiveFileExtension("velk");
    ZiDaz::SetArchiveKeyText(nullptr);
    ZiDaz::InstallStreamFunctions(nullptr);
    std::vector<std::uint8_t> bytes;
    EXPECT_TRUE(ReadWholeDataFile((root / "Data" / "BasicData" / "Game.dat").string(), bytes));
    EXPECT_EQ(bytes, content);
    EXPECT_FALSE(ReadWholeDataFile((root / "Data" / "BasicData" / "None.dat").string(), bytes));
    EXPECT_TRUE(bytes.empty());
    ZiDaz::EndArchivePathLayer();
    ZiDaz::InstallStreamFunctions(nullptr);
    std::filesystem::remove_all(root);
}

}  // namespace
