// The run's two console streams beyond their bytes: which of them is a
// terminal (asked of the port once, before the first line), and the first
// write to standard output that failed. Every line of the run is written on
// one thread, through the one ConsoleLines.
#pragma once

#include <cstddef>
#include <iosfwd>

class ConsoleLines {
 public:
  // Asks the port which streams are terminals; before the first line.
  void Open();

  bool OutputIsTerminal() const noexcept { return outputTerminal; }
  bool ErrorIsTerminal() const noexcept { return errorTerminal; }

  // Flushes standard output. Answers false once a write to it has failed:
  // the first failure is told on standard error ("Packhound: Cannot write the
  // output: <reason>."), or not at all when the reader has gone, and the run
  // is to end at once with the error status.
  bool FlushOutput();
  bool OutputFailed() const noexcept { return outputFailed; }

 private:
  bool outputTerminal = false;
  bool errorTerminal = false;
  bool outputFailed = false;
};

extern ConsoleLines consoleLines;

// Writes the length bytes of text to stream; to a terminal, each control byte
// (below 0x20, and 0x7F) as '?', so that no name moves the cursor, clears the
// screen or sets colours. Elsewhere the bytes go out as they are.
void WriteShown(std::ostream& stream, const char* text, std::size_t length, bool terminal);
void WriteShown(std::ostream& stream, const char* text, bool terminal);
// The same replacement in place, for a line composed in a buffer.
void ReplaceControlBytes(char* text, std::size_t length) noexcept;
