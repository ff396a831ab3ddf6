#include "hostprocess.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#ifdef _WIN32

namespace {

// One argument as the C runtime's command-line splitter reads it back.
std::string QuotedArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

// A program named without a folder, looked for in the folders of PATH only:
// CreateProcess on its own would try the current folder and the builder's
// own folder first, where anyone who can write there could plant one.
std::string ProgramOnPath(const std::string& program) {
  if (program.find_first_of("\\/:") != std::string::npos) return program;
  const std::string file = program.find('.') == std::string::npos ? program + ".exe" : program;
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(';', start);
    if (end == std::string::npos) end = folders.size();
    std::string folder = folders.substr(start, end - start);
    start = end + 1;
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
      folder = folder.substr(1, folder.size() - 2);
    // Only absolute folders: a relative one would again mean the current folder.
    if (folder.size() < 3 || !(folder[1] == ':' || (folder[0] == '\\' && folder[1] == '\\'))) continue;
    const std::string candidate = folder + (folder.back() == '\\' ? "" : "\\") + file;
    const DWORD a = GetFileAttributesA(candidate.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY)) return candidate;
  }
  return "";
}

}  // namespace

int RunHostProgram(const std::vector<std::string>& args, const std::string& input, std::string& output) {
  const std::string program = ProgramOnPath(args[0]);
  if (program.empty()) return output = "cannot run " + args[0] + " (it is not in a folder on PATH)", -1;
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + QuotedArgument(a);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0)) return output = "cannot make a pipe", -1;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) {
    CloseHandle(inRead), CloseHandle(inWrite);
    return output = "cannot make a pipe", -1;
  }
  SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = inRead;
  start.hStdOutput = start.hStdError = outWrite;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &start, &process);
  CloseHandle(inRead);
  CloseHandle(outWrite);
  if (!started) {
    CloseHandle(inWrite), CloseHandle(outRead);
    return output = "cannot run " + args[0] + " (is it installed and on PATH?)", -1;
  }
  DWORD n = 0;
  WriteFile(inWrite, input.data(), DWORD(input.size()), &n, nullptr);
  CloseHandle(inWrite);
  char buffer[4096];
  output.clear();
  while (ReadFile(outRead, buffer, sizeof buffer, &n, nullptr) && n > 0) output.append(buffer, n);
  CloseHandle(outRead);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return int(code);
}

#else

int RunHostProgram(const std::vector<std::string>& args, const std::string& input, std::string& output) {
  int in[2], out[2];
  if (pipe(in) != 0) return output = "cannot make a pipe", -1;
  if (pipe(out) != 0) {
    close(in[0]), close(in[1]);
    return output = "cannot make a pipe", -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(in[0]);
  close(out[1]);
  if (spawned != 0) {
    close(in[1]), close(out[0]);
    return output = "cannot run " + args[0] + " (" + std::strerror(spawned) + "; is it installed?)", -1;
  }
  // A program that exits without reading its input must not kill us.
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  for (size_t at = 0; at < input.size();) {
    const ssize_t n = write(in[1], input.data() + at, input.size() - at);
    if (n <= 0) break;
    at += size_t(n);
  }
  close(in[1]);
  signal(SIGPIPE, previous);
  output.clear();
  char buffer[4096];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    if (n > 0) output.append(buffer, size_t(n));
  }
  close(out[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

#endif
