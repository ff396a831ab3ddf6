#include "launch.h"

#include <windows.h>
#include <shellapi.h>

#include "pathops.h"

namespace {

bool IsProgramFile(const std::string& file) { return UpperCaseAscii(ExtensionPart(file)) == "EXE"; }

// The program's path in quotes: unquoted, a path with blanks would make the
// system try each prefix up to a blank as a program first ("C:\Program.exe"
// for "C:\Program Files\..."). Then the quoted document, when there is one,
// and the parameters as the package wrote them.
StartedFile CreateProcessFor(const std::string& program, const std::string& params,
                             const std::string* document = nullptr) {
  std::string commandLine;
  commandLine.append("\"").append(program).append("\"");
  if (document) commandLine.append(" \"").append(*document).append("\"");
  if (!params.empty()) commandLine.append(" ").append(params);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  // CreateProcessA may write into the command line: it is this call's own.
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &process))
    return {};
  CloseHandle(process.hThread);
  return {true, process.hProcess};
}

// The association's own command carries what the type needs ("msiexec /i"),
// which the program found for the type alone would lose.
StartedFile OpenDocument(const std::string& document, const std::string& params,
                         const std::string& windowsDir) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  // No box of the shell's own: the callers report a failure themselves. The
  // DDE wait keeps a conversation from being cut off when the stub ends.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_FLAG_DDEWAIT;
  info.lpFile = document.c_str();
  info.lpParameters = params.empty() ? nullptr : params.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExA(&info)) return {true, info.hProcess};
  if (reinterpret_cast<INT_PTR>(info.hInstApp) != SE_ERR_NOASSOC) return {};
  return CreateProcessFor(windowsDir + "notepad.exe", params, &document);
}

}  // namespace

StartedFile StartFile(const std::string& file, const std::string& params, const std::string& windowsDir) {
  // Without a name the steps would open an empty document in the editor and,
  // when waiting, block the run until someone closed it.
  if (file.empty()) return {};
  if (IsProgramFile(file)) return CreateProcessFor(file, params);
  return OpenDocument(file, params, windowsDir);
}

FileRun ExecuteFile(const std::string& file, const std::string& params, const std::string& windowsDir,
                    bool wait) {
  const StartedFile started = StartFile(file, params, windowsDir);
  FileRun run;
  run.Started = started.Started;
  if (!started.Process) return run;
  if (wait) {
    AwaitWithMessages(started.Process);
    run.Ended = GetExitCodeProcess(started.Process, &run.ExitCode) != FALSE;
  }
  CloseHandle(started.Process);
  return run;
}

void AwaitWithMessages(HANDLE handle) {
  while (MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
}
