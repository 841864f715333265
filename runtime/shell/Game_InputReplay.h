// The key-input replay: the eight game inputs of every frame (four directions, four buttons) as a
// run-length stream opened by the random generator's seed. The same object plays such a stream
// back, so that a deterministic game repeats itself when restarted with the recorded seed.
//
// Input byte of one frame: bit 0 up, 1 down, 2 left, 3 right, 4 Decide, 5 Cancel, 6 Sub, 7 Extra.
// Entries (count, value): count 1..249 with an input byte = that input for that many frames (the
// recorder writes at most 240); 250 = the seed where a stream (or segment) began; 251 = the seed
// play-back must find there; 0 = a run already used up.
#pragma once

#include <cstdint>
#include <vector>

class Game_InputReplay {
  public:
    static constexpr std::uint8_t kMaxRecordedRun = 240;
    static constexpr std::uint8_t kSeedTag = 250;
    static constexpr std::uint8_t kSeedCheckTag = 251;
    // Seed checks among the first entries are not compared.
    static constexpr std::uint32_t kUncheckedEntries = 10;

    std::uint8_t currentValue = 0;
    std::int32_t runLength = 0;
    std::vector<std::uint8_t> counts;
    std::vector<std::int32_t> values;
    std::uint32_t readIndex = 0;
    std::int32_t framesPlayed = 0;

    // Empty, then a seed entry with the generator's current state.
    Game_InputReplay();
    // A recorder without the seed entry, for the global built before the game starts.
    struct Quiet {};
    explicit Game_InputReplay(Quiet) {}

    void StartSegment(std::int32_t seed);
    void Flush();
    void RecordFrame(std::uint8_t up, std::uint8_t down, std::uint8_t left, std::uint8_t right,
                     std::uint8_t decide, std::uint8_t cancel, std::uint8_t sub,
                     std::uint8_t extra);
    // outputs: up, down, left, right, Decide, Cancel, Sub, Extra.
    void PlayFrame(std::uint8_t outputs[8]);

    // The save part: always written as absent (one byte 0); 1 in the measuring pass.
    static bool Save();
    // Reads the save part into this recorder; a part that is not present changes nothing.
    // False (with the stream's overrun flag) when the part is cut short or damaged.
    bool Load();
};

// The one recorder (main thread only).
extern Game_InputReplay TheInputReplay;
// Replay play is running / is to end at the next input update.
extern std::uint8_t ReplayPlaying;
extern std::uint8_t ReplayStopRequested;
