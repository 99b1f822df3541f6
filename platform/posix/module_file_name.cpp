// The running executable's path, as the kernel names it in /proc/self/exe.
#include <unistd.h>

#include "platform/win32.h"

// Only the executable itself is a module here. The link is read straight into
// the caller's buffer: when it fills all of it the path did not fit with its
// NUL, and the Win32 contract is then a path cut to size - 1 characters, the
// result size and ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (module != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const ssize_t length = ::readlink("/proc/self/exe", fileName, size);
  if (length <= 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  if (static_cast<DWORD>(length) >= size) {
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  fileName[length] = '\0';
  return static_cast<DWORD>(length);
}
