// The player's entry point: the whole game runs in RunGame, and the shut-down ends the process.
#include <string>
#include <vector>

#include "runtime/shell/ShutDown.h"
#include "runtime/shell/StartUp.h"

int main(int argc, char** argv) {
    // The arguments are kept as received; the player starts itself again with them.
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    const int result = RunGame(arguments);
    // An abandoned start has said why; it ends with a failure code.
    ShutDownGame(result < 0 ? 1 : 0);
}
