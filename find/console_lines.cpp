#include "find/console_lines.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "platform/port.h"

ConsoleLines consoleLines;

void ConsoleLines::Open() {
  outputTerminal = StandardOutputIsTerminal();
  errorTerminal = StandardErrorIsTerminal();
}

bool ConsoleLines::FlushOutput() {
  if (outputFailed) return false;
  if (std::cout.flush()) return true;
  const char* reason = OutputFailureReason();
  outputFailed = true;
  if (reason != nullptr) {
    std::cerr << "Packhound: Cannot write the output: " << reason << ".\n" << std::flush;
  }
  return false;
}

void ReplaceControlBytes(char* text, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) text[i] = '?';
  }
}

void WriteShown(std::ostream& stream, const char* text, std::size_t length, bool terminal) {
  if (!terminal) {
    stream.write(text, static_cast<std::streamsize>(length));
    return;
  }
  char shown[256];
  while (length > 0) {
    const std::size_t piece = std::min(length, sizeof shown);
    std::memcpy(shown, text, piece);
    ReplaceControlBytes(shown, piece);
    stream.write(shown, static_cast<std::streamsize>(piece));
    text += piece;
    length -= piece;
  }
}

void WriteShown(std::ostream& stream, const char* text, bool terminal) {
  WriteShown(stream, text, std::strlen(text), terminal);
}
