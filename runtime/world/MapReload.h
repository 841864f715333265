// The test-play reload: the data the editor may have changed while the game runs is read again
// and the current map is loaded anew, keeping the view where it was.
#pragma once

void ReloadEditedGameData();
