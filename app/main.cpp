#include <iostream>

#include "platform/win32.h"

int main(int argc, char* argv[]) {
  PreparePortProcess();
  (void)argc;
  (void)argv;
  std::cout << "Packhound: the search is not built yet." << '\n' << std::flush;
  return PortExitStatus(0);
}
