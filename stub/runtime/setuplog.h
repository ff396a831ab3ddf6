// The plain-text log that /log=file asks for: a line for every step, file
// and failure, and the exit code last. Without the switch nothing is written.
#pragma once
#include <string>

// Opens `path` for appending; false when it cannot be opened.
bool OpenSetupLog(const std::string& path);

// One line; line breaks inside `text` become blanks. Both threads may write.
void LogLine(const std::string& text);

// `label` followed by `value` in decimal.
void LogNumber(const char* label, unsigned long value);
