// Process-wide set-up of the console tool on Windows.
#include <iostream>
#include <new>

#include "platform/port.h"
#include "platform/win32.h"
#include "platform/windows/console_buffer.h"

namespace {

// A stream on a console writes through a ConsoleBuffer; one on a file or a
// pipe keeps its own buffer and so its bytes exactly.
void ShowOnConsole(std::ostream& stream, DWORD standardHandle, void* storage) {
  const HANDLE handle = GetStdHandle(standardHandle);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return;
  stream.flush();
  stream.rdbuf(new (storage) ConsoleBuffer(handle, GetACP()));
}

}  // namespace

void PreparePortProcess() {
  // Never destroyed: the streams are flushed once more during exit, after
  // the static objects are gone. Placed, not allocated, so that set-up
  // cannot run out of memory.
  alignas(ConsoleBuffer) static unsigned char outStorage[sizeof(ConsoleBuffer)];
  alignas(ConsoleBuffer) static unsigned char errorStorage[sizeof(ConsoleBuffer)];
  ShowOnConsole(std::cout, STD_OUTPUT_HANDLE, outStorage);
  ShowOnConsole(std::cerr, STD_ERROR_HANDLE, errorStorage);
}
