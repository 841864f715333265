// Interim log: accepts every line and writes nothing.
#include "Main/DxLog.h"

namespace ZiDaz {

int WriteLogText(const char*) { return 0; }
int LogTextAndFail(const char*) { return -1; }
int WriteLogTextCp932(const char*) { return 0; }
int WriteLogTextUtf16(const char16_t*) { return 0; }
int WriteLogTextWide(const char16_t*) { return 0; }
int WriteLogTextUtf16WithError(int code, const char16_t*) { return code != 0 ? -1 : 0; }
int WriteLogFormatCp932(const char*, ...) { return 0; }
int WriteLogFormatUtf16(const char16_t*, ...) { return 0; }
int WriteLogFormatWide(const char16_t*, ...) { return 0; }
int WriteLogFormatUtf16WithError(int code, const char16_t*, ...) { return code != 0 ? -1 : 0; }
int IncreaseLogIndent() { return 0; }
int DecreaseLogIndent() { return 0; }

}  // namespace ZiDaz
