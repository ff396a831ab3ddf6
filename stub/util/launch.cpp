#include "launch.h"

#include <windows.h>
#include <shellapi.h>

#include <vector>

#include "pathops.h"

namespace {

bool IsProgramFile(const std::string& file) { return UpperCaseAscii(ExtensionPart(file)) == "EXE"; }

// The program that opens `document`: the associated one, else the editor of
// `windowsDir` (not checked for presence; creation fails without it).
std::string DocumentProgram(const std::string& document, const std::string& windowsDir) {
  std::vector<char> found(4097, '\0');
  const HINSTANCE code = FindExecutableA(document.c_str(), DirectoryPart(document).c_str(), found.data());
  if (reinterpret_cast<INT_PTR>(code) > 32) return std::string(found.data());
  return windowsDir + "notepad.exe";
}

// Program, then the quoted document when it is one, then the parameters;
// nothing is quoted that the package did not quote itself.
std::string BuildCommandLine(const std::string& file, const std::string& params,
                             const std::string& windowsDir) {
  std::string commandLine;
  if (IsProgramFile(file)) {
    commandLine = file;
  } else {
    commandLine = DocumentProgram(file, windowsDir) + " \"" + file + "\"";
  }
  if (!params.empty()) commandLine += " " + params;
  return commandLine;
}

}  // namespace

HANDLE StartFile(const std::string& file, const std::string& params, const std::string& windowsDir) {
  // Without a name the steps would open an empty document in the editor and,
  // when waiting, block the run until someone closed it.
  if (file.empty()) return nullptr;

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::string commandLine = BuildCommandLine(file, params, windowsDir);
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

bool ExecuteFile(const std::string& file, const std::string& params, const std::string& windowsDir,
                 bool wait) {
  const HANDLE process = StartFile(file, params, windowsDir);
  if (!process) return false;
  if (wait) WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  return true;
}
