#include <windows.h>
#include <winioctl.h>

#include "tests/support/compressed_flag.h"

bool SetCompressedFlag(const std::string& path, std::string* why) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *why = "cannot open " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  USHORT format = COMPRESSION_FORMAT_DEFAULT;
  DWORD returned = 0;
  const BOOL done = DeviceIoControl(file, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0,
                                    &returned, nullptr);
  const DWORD error = GetLastError();
  CloseHandle(file);
  if (!done) {
    *why = "the file system here refuses compression (error " + std::to_string(error) + ")";
    return false;
  }
  // Some systems answer yes and keep nothing: trust only the attribute itself.
  if ((GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_COMPRESSED) == 0) {
    *why = "the file system here does not report the compressed attribute";
    return false;
  }
  return true;
}
