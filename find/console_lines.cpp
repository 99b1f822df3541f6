#include "find/console_lines.h"

#include <iostream>

#include "platform/port.h"

ConsoleLines consoleLines;

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
