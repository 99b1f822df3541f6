// The run's two console streams beyond their bytes: which of them is a
// terminal (asked of the port once, before the first line), the first write
// to standard output that failed, and the progress line that a terminal on
// standard error shows while a search runs. Every line of the run is written
// on one thread, through the one ConsoleLines.
#pragma once

#include <chrono>
#include <cstddef>
#include <iosfwd>

struct SearchTally;

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

  // Before each line on standard error: the progress line is erased first.
  void BeginErrorLine();

  // From the start of the walk to its end, the counts of tally (not owned) on
  // one line of standard error, redrawn at most ten times a second; only
  // where standard error is a terminal that no listing goes to.
  void StartProgress(const SearchTally& tally, bool listing);
  // Called for each item the walk hands over: the clock is read only every
  // kProgressStride of them, so that the walk pays a countdown per item.
  void NoteProgress() {
    if (progressOn && --countdown == 0) CheckProgress();
  }
  // Erases the line, before whatever the run writes once the walk is over.
  void EndProgress();

  static constexpr int kProgressStride = 32;

 private:
  void CheckProgress();
  void DrawProgress();
  void EraseProgress();

  bool outputTerminal = false;
  bool errorTerminal = false;
  bool outputFailed = false;
  bool progressOn = false;
  int countdown = 0;
  const SearchTally* counts = nullptr;
  std::size_t shownLength = 0;  // of the progress line on the terminal; 0 when none is shown
  std::chrono::steady_clock::time_point lastDrawn;
};

extern ConsoleLines consoleLines;

// Writes the length bytes of text to stream; to a terminal, each control byte
// (below 0x20, and 0x7F) as '?', so that no name moves the cursor, clears the
// screen or sets colours. Elsewhere the bytes go out as they are.
void WriteShown(std::ostream& stream, const char* text, std::size_t length, bool terminal);
void WriteShown(std::ostream& stream, const char* text, bool terminal);
// The same replacement in place, for a line composed in a buffer.
void ReplaceControlBytes(char* text, std::size_t length) noexcept;
