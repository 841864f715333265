// The graphics front end's state.
#include "Main/DxGraphics.h"

namespace ZiDaz {

GraphicsSystemStateData GraphicsSystemState{};

}  // namespace ZiDaz
