// The console streams on POSIX: terminals by isatty, a failed write by errno.
#include "platform/posix/console_output.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

bool StandardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

const char* OutputFailureReason() {
  const int error = errno;
  switch (error) {
    case EPIPE:
      return nullptr;
    case ENOSPC:
      return "no space left on the device";
    case EDQUOT:
      return "disk quota exceeded";
    case EFBIG:
      return "file too large";
    case EIO:
      return "input/output error";
    // A closed standard output is kept open read-only (PreparePortProcess).
    case EBADF:
      return "standard output is closed";
    // Left non-blocking by whoever shares it: a full pipe fails the write.
    case EAGAIN:
      return "standard output does not wait for its reader";
    default:
      break;
  }
  // Kept for the one message that names it; the run writes on one thread.
  static char words[32] = "system error ";
  constexpr std::size_t kPrefix = sizeof "system error " - 1;
  *std::to_chars(words + kPrefix, words + sizeof words - 1, error).ptr = '\0';
  return words;
}
