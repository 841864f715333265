// The orderly end of the process: closes the debug window, ends a download, releases the
// preloaded archives, deletes the library's graphs, fonts and sounds, writes "Game.ini" with the
// frame-skip level in use, removes the private fonts, ends the library and exits.
#pragma once

// Never returns. The exit code is 0 after a normal end and 1 after an abandoned start or when a
// damaged or missing data file ended the game.
[[noreturn]] void ShutDownGame(int exitCode = 0);
