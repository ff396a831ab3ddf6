#include "setuplog.h"

#include <windows.h>

namespace {

HANDLE LogFile = INVALID_HANDLE_VALUE;

}  // namespace

bool OpenSetupLog(const std::string& path) {
  // Appending: runs of several packages can share one log. Others may read
  // it while the run goes on.
  LogFile = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
  return LogFile != INVALID_HANDLE_VALUE;
}

void LogNumber(const char* label, unsigned long value) {
  char digits[12];
  char* at = digits + sizeof digits;
  *--at = 0;
  do {
    *--at = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  LogLine(std::string(label) + at);
}

void LogLine(const std::string& text) {
  if (LogFile == INVALID_HANDLE_VALUE) return;
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  line += "\r\n";
  // One write per line, so that the two threads' lines never interleave.
  DWORD written = 0;
  WriteFile(LogFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
