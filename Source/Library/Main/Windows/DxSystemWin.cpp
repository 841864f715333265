#include "Main/Windows/DxSystemWin.h"

namespace ZiDaz {

LibrarySystemState LibrarySystem;

}  // namespace ZiDaz
