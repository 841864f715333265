// The map and character save parts' fuzz entry over its seed corpus and past failures, and a
// check that the seeds are whole parts (so the fuzzer starts from inputs that reach the end).
#include <filesystem>
#include <fstream>

#include "fuzz/FuzzReplay.h"
#include "fuzz/WorldSaveFuzzEntry.h"
#include "runtime/data/SaveStream.h"
#include "runtime/world/Game_MapState.h"
#include "runtime/world/Game_Player.h"
#include "runtime/world/WorldTestSupport.h"

namespace {

class WorldSaveFuzzCorpusTest : public world_test::WorldTest {};

TEST_F(WorldSaveFuzzCorpusTest, SeedsAndPastFailuresReplay) {
    ReplayFuzzCorpus(VELK_WORLDSAVE_FUZZ_DIR, &RunWorldSaveFuzzInput, 20);
}

TEST_F(WorldSaveFuzzCorpusTest, EverySeedIsAWholePartAndItsDamageFailsCleanly) {
    static const std::int16_t kFormats[] = {99,  104, 105, 112, 114, 115,
                                            120, 133, 137, 138, 139, 140};
    const std::filesystem::path corpus = std::filesystem::path(VELK_WORLDSAVE_FUZZ_DIR) / "corpus";
    for (const auto& file : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                              std::istreambuf_iterator<char>()};
        ASSERT_GT(bytes.size(), 3u);
        const std::vector<std::uint8_t> body(bytes.begin() + 3, bytes.end());
        auto read = [&](const std::vector<std::uint8_t>& part) {
            TheSaveStream.BeginRead(part, true, kFormats[bytes[1] % 12]);
            if (bytes[0] % 3 == 1) {
                Game_Character c;
                return c.ReadSave();
            }
            if (bytes[0] % 3 == 2) {
                Game_Player p;
                return p.ReadSave();
            }
            Game_MapState map;
            return map.ReadSave(false);
        };
        EXPECT_TRUE(read(body)) << file.path();
        EXPECT_EQ(TheSaveStream.position, static_cast<std::int32_t>(body.size())) << file.path();
        for (std::size_t cut = 0; cut < body.size(); cut += 7)
            EXPECT_FALSE(read(std::vector<std::uint8_t>(body.begin(), body.begin() + cut)))
                << file.path() << " cut at " << cut;
        for (std::size_t at = 0; at + 4 <= body.size(); at += 5) {
            std::vector<std::uint8_t> damaged = body;
            damaged[at + 3] ^= 0x80;  // a count or size turned hugely negative or large
            read(damaged);
        }
    }
    MapLayersMissing = 0;
}

}  // namespace
