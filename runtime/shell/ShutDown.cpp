#include "runtime/shell/ShutDown.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "Source/Library/Main/DuZuder.h"
#include "Source/Library/Main/DxArchive_.h"
#include "Source/Library/Main/DxFont.h"
#include "Source/Library/Main/DxGraphicsGraph.h"
#include "Source/Library/Main/DxGraphicsSoftImage.h"
#include "Source/Library/Main/DxMask.h"
#include "Source/Library/Main/Windows/DxSystemWin.h"
#include "platform/Gdi32Font.h"
#include "platform/Kernel32.h"
#include "runtime/data/Game_SystemState.h"
#include "runtime/shell/ArchiveCheck.h"
#include "runtime/shell/DebugWindow.h"
#include "runtime/shell/GameIni.h"
#include "runtime/shell/StartUp.h"

void ShutDownGame(int exitCode) {
    // The debug window and the download worker arrive with their own modules; until then there
    // is neither a window to close nor a thread to stop.
    DebugWindowOpen = 0;
    for (const std::string& path : PreloadedArchives) ZiDaz::ReleasePreloadedArchive(path.c_str());
    PreloadedArchives.clear();
    ZiDaz::DeleteMaskLayer();
    ZiDaz::DeleteAllGraphs();
    ZiDaz::DeleteAllSoftImages();
    ZiDaz::ResetFontHandles();
    ZiDaz::DeleteAllSounds();
    // The MIDI player is absent on this platform: it holds no play list to clear.
    WriteGameIni(0, TheSystemState.frameSkipLevel);
    platform::kernel32::Sleep(100);
    std::error_code error;
    if (!ExeFolder.empty()) std::filesystem::current_path(ExeFolder, error);
    for (const std::u16string& name : PrivateFontFiles) {
        platform::gdi32::RemoveFontResourceExW(name.c_str(), 0x10, nullptr);
    }
    PrivateFontFiles.clear();
    ZiDaz::EndLibrary();
    std::exit(exitCode);
}
