#include "runtime/shell/ShellGlobals.h"

std::int32_t UiLanguage = 1;
