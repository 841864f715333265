#include "platform/Kernel32.h"
#include "platform/Modules.h"

namespace platform::kernel32 {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace {
const ModuleExports kExports("kernel32.dll", {{"GetLastError", Export(&GetLastError)},
                                              {"SetLastError", Export(&SetLastError)}});
}

}  // namespace platform::kernel32
