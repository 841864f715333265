#include "runtime/shell/Game_System.h"

Game_System TheGameSystem;
