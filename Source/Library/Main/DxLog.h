// The library log "Log.txt". (Interim: the entry points accept and drop their text until the log
// writer lands; the signatures are final.)
#pragma once

namespace ZiDaz {

int WriteLogText(const char* text);
int LogTextAndFail(const char* text);
int WriteLogTextCp932(const char* text);
int WriteLogTextUtf16(const char16_t* text);
int WriteLogTextWide(const char16_t* text);
int WriteLogTextUtf16WithError(int code, const char16_t* text);
int WriteLogFormatCp932(const char* format, ...);
int WriteLogFormatUtf16(const char16_t* format, ...);
int WriteLogFormatWide(const char16_t* format, ...);
int WriteLogFormatUtf16WithError(int code, const char16_t* format, ...);
int IncreaseLogIndent();
int DecreaseLogIndent();

}  // namespace ZiDaz
