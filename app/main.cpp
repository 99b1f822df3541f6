#include "app/driver.h"
#include "platform/win32.h"

int main(int argc, char* argv[]) {
  PreparePortProcess();
  return PortExitStatus(PackhoundMain(argc, argv));
}
