// Text and diagnostic services of the Win32 interface over the C library.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "platform/win32.h"

namespace {
thread_local DWORD lastError = 0;
}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD errorCode) { lastError = errorCode; }

int lstrlenA(LPCSTR text) {
  if (text == nullptr) return 0;
  const std::size_t length = std::strlen(text);
  return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

// Texts on POSIX are single-byte in the sense of this interface: every byte
// is one character, and the terminator is never stepped over.
LPSTR CharNextA(LPCSTR text) {
  if (text == nullptr) return nullptr;
  return const_cast<LPSTR>(*text != '\0' ? text + 1 : text);
}

// There is no debugger channel; standard error is where a developer looks.
// Written straight to the descriptor so that it survives a broken stream.
void OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  std::size_t length = std::strlen(text);
  const bool endsLine = length > 0 && text[length - 1] == '\n';
  while (length > 0) {
    const ssize_t written = ::write(STDERR_FILENO, text, length);
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
  if (!endsLine) {
    const char newline = '\n';
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, &newline, 1);
  }
}

void DebugBreak() { ::raise(SIGTRAP); }
