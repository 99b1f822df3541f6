// The run's two console streams beyond their bytes: the first write to
// standard output that failed. Every line of the run is written on one
// thread, through the one ConsoleLines.
#pragma once

class ConsoleLines {
 public:
  // Flushes standard output. Answers false once a write to it has failed:
  // the first failure is told on standard error ("Packhound: Cannot write the
  // output: <reason>."), or not at all when the reader has gone, and the run
  // is to end at once with the error status.
  bool FlushOutput();
  bool OutputFailed() const noexcept { return outputFailed; }

 private:
  bool outputFailed = false;
};

extern ConsoleLines consoleLines;
