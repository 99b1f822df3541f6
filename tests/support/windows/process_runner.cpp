#include <windows.h>

#include <stdexcept>
#include <thread>

#include "tests/support/process_runner.h"

const char kNativeLineEnd[] = "\r\n";

namespace {

std::string WithNewlines(const std::string& text) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

// One argument quoted so that the program's own parser gives it back as it was.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"')
      quoted.append(backslashes * 2 + 1, '\\');
    else
      quoted.append(backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

// Texts of the tests are UTF-8, whatever this binary's code page is: the
// program, its arguments and its folder reach it as they were written.
std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                         static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) throw std::runtime_error("not UTF-8: " + text);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      wide.data(), length);
  return wide;
}

// With firstLineOnly, the pipe is closed as soon as the first line is in.
std::string Drain(HANDLE pipe, const OutputWatcher& watcher = {}, bool firstLineOnly = false) {
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    text.append(buffer, read);
    if (watcher) watcher(WithNewlines(text));
    if (firstLineOnly && text.find('\n') != std::string::npos) break;
  }
  CloseHandle(pipe);
  return text;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& workingDirectory, OutputTarget output,
                         const OutputWatcher& watcher, ErrorTarget error) {
  if (output == OutputTarget::kTerminal || error == ErrorTarget::kTerminal) {
    throw std::runtime_error("no pseudo-terminal on Windows");
  }
  std::string commandLine = Quote(program);
  for (const std::string& argument : arguments) {
    commandLine += ' ';
    commandLine += Quote(argument);
  }
  const std::wstring wideProgram = Wide(program);
  std::wstring wideCommandLine = Wide(commandLine);
  const std::wstring wideDirectory = Wide(workingDirectory);

  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) throw std::runtime_error("pipe failed");
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  if (output == OutputTarget::kCaptured || output == OutputTarget::kClosedAfterFirstLine) {
    // One page holds a few lines: what follows must wait for the reader, who is gone by then.
    const DWORD room = output == OutputTarget::kCaptured ? 0 : 4096;
    if (!CreatePipe(&outRead, &outWrite, &inherit, room)) throw std::runtime_error("pipe failed");
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  } else if (output == OutputTarget::kFullDevice) {
    // A pipe whose reader is already gone: every write fails.
    HANDLE deadRead = nullptr;
    if (!CreatePipe(&deadRead, &outWrite, &inherit, 0)) throw std::runtime_error("pipe failed");
    CloseHandle(deadRead);
  }
  HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;  // null when standard output is to be closed
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessW(wideProgram.c_str(), wideCommandLine.data(), nullptr, nullptr,
                                      TRUE, 0, nullptr, wideDirectory.c_str(), &startup, &process);
  if (outWrite != nullptr) CloseHandle(outWrite);
  CloseHandle(errWrite);
  CloseHandle(nul);
  if (!started) {
    if (outRead != nullptr) CloseHandle(outRead);
    CloseHandle(errRead);
    throw std::runtime_error("cannot start " + program);
  }

  ProcessResult result;
  std::thread errors([&] { result.err = Drain(errRead); });
  if (outRead != nullptr) {
    result.out = Drain(outRead, watcher, output == OutputTarget::kClosedAfterFirstLine);
  }
  errors.join();
  result.rawOut = result.out;
  result.out = WithNewlines(result.rawOut);
  result.err = WithNewlines(result.err);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  result.exitStatus = static_cast<int>(code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}
