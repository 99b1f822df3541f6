#include <iostream>

#include "app/driver.h"
#include "platform/port.h"
#include "platform/win32.h"

int main(int argc, char* argv[]) {
  // Nothing writes through C stdio, so the console streams keep buffers of
  // their own: a line is then one write at its flush, with no stdio layer
  // underneath. Done before any output, as the streams require.
  std::ios::sync_with_stdio(false);
  PreparePortProcess();
  return PortExitStatus(PackhoundMain(argc, argv));
}
