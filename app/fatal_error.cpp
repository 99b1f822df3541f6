#include "app/fatal_error.h"

#include <cstdlib>
#include <iostream>

#include "platform/port.h"
#include "platform/win32.h"

void FatalError(const char* message, int exitCode) {
  std::cerr << "Packhound"
            << ": " << message << "; cannot continue." << '\n'
            << std::flush;
  std::exit(PortExitStatus(exitCode));
}
