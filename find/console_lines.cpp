#include "find/console_lines.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <iostream>

#include "find/search_tally.h"
#include "platform/port.h"

ConsoleLines consoleLines;

namespace {

constexpr std::chrono::milliseconds kRedrawInterval(100);

// Appends text, or a number, to the line ending at end, as far as room goes.
char* Append(char* end, char* limit, const char* text) {
  const std::size_t length = std::min(std::strlen(text), static_cast<std::size_t>(limit - end));
  std::memcpy(end, text, length);
  return end + length;
}

template <typename Number>
char* Append(char* end, char* limit, Number number) {
  const std::to_chars_result result = std::to_chars(end, limit, number);
  return result.ec == std::errc() ? result.ptr : end;
}

}  // namespace

void ConsoleLines::Open() {
  outputTerminal = StandardOutputIsTerminal();
  errorTerminal = StandardErrorIsTerminal();
}

bool ConsoleLines::FlushOutput() {
  if (outputFailed) return false;
  if (std::cout.flush()) return true;
  // Asked at once: the next call may change errno, or the last error.
  const char* reason = OutputFailureReason();
  outputFailed = true;
  if (reason != nullptr) {
    BeginErrorLine();
    std::cerr << "Packhound: Cannot write the output: " << reason << ".\n" << std::flush;
  }
  return false;
}

void ConsoleLines::BeginErrorLine() {
  if (shownLength != 0) EraseProgress();
}

void ConsoleLines::StartProgress(const SearchTally& tally, bool listing) {
  // A listing on the same terminal would be torn by the line drawn under it.
  progressOn = errorTerminal && !(listing && outputTerminal);
  counts = &tally;
  countdown = kProgressStride;
  lastDrawn = std::chrono::steady_clock::now();
}

void ConsoleLines::EndProgress() {
  progressOn = false;
  BeginErrorLine();
}

// A run shorter than the interval shows no line at all.
void ConsoleLines::CheckProgress() {
  countdown = kProgressStride;
  const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  if (now - lastDrawn < kRedrawInterval) return;
  lastDrawn = now;
  DrawProgress();
}

// Drawn over the line before, from the first column; short, so that it
// fits a narrow terminal and a carriage return still reaches its start.
void ConsoleLines::DrawProgress() {
  char line[128];
  char* const limit = line + sizeof line;
  char* end = Append(line, limit, "Packhound: ");
  end = Append(end, limit, counts->examinedCount);
  end = Append(end, limit, " items examined, ");
  end = Append(end, limit, counts->directoryCount);
  end = Append(end, limit, " directories searched, ");
  end = Append(end, limit, counts->foundCount);
  end = Append(end, limit, " found");
  const std::size_t length = static_cast<std::size_t>(end - line);
  std::cerr.put('\r');
  std::cerr.write(line, static_cast<std::streamsize>(length));
  if (kEraseToLineEnd[0] != '\0') {
    std::cerr << kEraseToLineEnd;
  } else {
    for (std::size_t column = length; column < shownLength; ++column) std::cerr.put(' ');
  }
  std::cerr.flush();
  shownLength = std::max(length, shownLength);
}

void ConsoleLines::EraseProgress() {
  std::cerr.put('\r');
  if (kEraseToLineEnd[0] != '\0') {
    std::cerr << kEraseToLineEnd;
  } else {
    for (std::size_t column = 0; column < shownLength; ++column) std::cerr.put(' ');
    std::cerr.put('\r');
  }
  std::cerr.flush();
  shownLength = 0;
}

void ReplaceControlBytes(char* text, std::size_t length) noexcept {
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) text[i] = '?';
  }
}

void WriteShown(std::ostream& stream, const char* text, std::size_t length, bool terminal) {
  if (!terminal) {
    stream.write(text, static_cast<std::streamsize>(length));
    return;
  }
  // Flushed once, at the end, as a write of the whole text would be: a
  // unit-buffered stream (standard error) would otherwise put out each piece,
  // and a console would be handed a character cut at its end.
  const std::ios_base::fmtflags flags = stream.flags();
  stream.unsetf(std::ios_base::unitbuf);
  char shown[256];
  while (length > 0) {
    const std::size_t piece = std::min(length, sizeof shown);
    std::memcpy(shown, text, piece);
    ReplaceControlBytes(shown, piece);
    stream.write(shown, static_cast<std::streamsize>(piece));
    text += piece;
    length -= piece;
  }
  stream.flags(flags);
  if ((flags & std::ios_base::unitbuf) != 0) stream.flush();
}

void WriteShown(std::ostream& stream, const char* text, bool terminal) {
  WriteShown(stream, text, std::strlen(text), terminal);
}
