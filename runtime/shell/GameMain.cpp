// The player's entry point. The start-up sequence arrives with the runtime shell; until then the
// executable only says what it is.
#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::fprintf(stderr, "Game: the player cannot run a game yet.\n");
    return 1;
}
