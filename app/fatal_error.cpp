#include "app/fatal_error.h"

#include <cstdlib>
#include <iostream>

#include "find/console_lines.h"
#include "platform/port.h"
#include "platform/win32.h"

void FatalError(const char* message, int exitCode) {
  // A message may quote the command line or a path: shown as names are.
  consoleLines.BeginErrorLine();
  std::cerr << "Packhound: ";
  WriteShown(std::cerr, message, consoleLines.ErrorIsTerminal());
  std::cerr << "; cannot continue.\n" << std::flush;
  std::exit(PortExitStatus(exitCode));
}
