// Report helpers shared by the database sources: printf-style formatting of looked-up message
// texts and the three-line runtime-error report.
#pragma once

#include <string>

// Formats a UTF-8 printf format (%d, %s) into a string.
std::string FormatDatabaseText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reports three lines through the data-file services.
void ReportDatabaseError(const std::string& line1, const std::string& line2,
                         const std::string& line3);

// The location of the running script, for the reports.
std::string DatabaseScriptLocation();
