// The console streams on Windows: consoles by their mode, a failed write by
// the last error of the call that made it.
#include "platform/windows/console_output.h"

#include <charconv>

#include "platform/win32.h"

namespace {

bool IsConsole(DWORD standardHandle) {
  const HANDLE handle = GetStdHandle(standardHandle);
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

}  // namespace

bool StandardOutputIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }

bool StandardErrorIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }

const char* OutputFailureReason() {
  const DWORD error = GetLastError();
  // Without a handle the C library fails the write itself, and no system
  // call leaves an error to read.
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return "standard output is closed";
  switch (error) {
    case ERROR_NO_DATA:
    case ERROR_BROKEN_PIPE:
      return nullptr;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "no space left on the device";
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return "input/output error";
    case ERROR_INVALID_HANDLE:
      return "standard output is closed";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    default:
      break;
  }
  // Kept for the one message that names it; the run writes on one thread.
  static char words[32] = "system error ";
  constexpr std::size_t kPrefix = sizeof "system error " - 1;
  *std::to_chars(words + kPrefix, words + sizeof words - 1, error).ptr = '\0';
  return words;
}
