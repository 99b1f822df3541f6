#include "app/full_path.h"

#include <climits>
#include <new>

#include "platform/win32.h"

namespace {

// The room answered grows again only when the current directory changes
// between two calls; a few more calls let such a change settle, and a
// directory that keeps changing does not hold the run forever.
constexpr int kCalls = 4;

// Room, terminator included, beyond which a path cannot be held in a CString.
constexpr DWORD kMostRoom = INT_MAX / 2;

}  // namespace

bool MakeFullPath(const char* path, CString& full) {
  // Asked with no buffer, the platform answers the room it needs.
  DWORD room = GetFullPathNameA(path, 0, nullptr, nullptr);
  DWORD error = room == 0 ? GetLastError() : ERROR_SUCCESS;
  for (int call = 1; room != 0 && call < kCalls; ++call) {
    if (room > kMostRoom) throw std::bad_alloc();
    CString text;
    char* buffer = text.GetBuffer(static_cast<LONG>(room - 1));
    if (buffer == nullptr) throw std::bad_alloc();
    const DWORD length = GetFullPathNameA(path, room, buffer, nullptr);
    // Only a length below the room given says the buffer holds the path;
    // otherwise its content is nothing to use.
    if (length != 0 && length < room) {
      text.ReleaseBuffer();
      full = text;
      return true;
    }
    error = length == 0 ? GetLastError() : ERROR_SUCCESS;
    room = length;
  }
  if (error == ERROR_NOT_ENOUGH_MEMORY) throw std::bad_alloc();
  return false;
}
