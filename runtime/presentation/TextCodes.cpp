// Message control codes (not built yet: texts pass unchanged).
#include "runtime/presentation/TextCodes.h"

void TokenizeTextCodes(const std::string&, std::vector<std::int32_t>&, std::vector<std::int32_t>&,
                       bool) {}

std::string ExpandTextCodes(std::string text, std::int32_t, std::int32_t, std::int32_t, bool,
                            bool addAffixes, const std::string* prefix, const std::string* suffix,
                            bool) {
    if (addAffixes) text = (prefix ? *prefix : std::string()) + text + (suffix ? *suffix : "");
    return text;
}

std::string UpgradeOldTextCodes(const std::string& text) {
    return text;
}
std::string RestoreEscapeCodes(const std::string& text) {
    return text;
}
std::string RestoreEscapeCodesForLog(const std::string& text) {
    return text;
}
std::string RestoreLiteralBackslashes(const std::string& text) {
    return text;
}
