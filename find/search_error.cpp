#include "find/search_error.h"

#include <charconv>
#include <cstring>

namespace {

struct ErrorWords {
  DWORD error;
  const char* text;
};

// What the directory services answer for a directory that is not there to be
// searched, or not for this user, on either platform.
constexpr ErrorWords kWords[] = {
    {ERROR_PATH_NOT_FOUND, "no such directory"},
    {ERROR_DIRECTORY, "not a directory"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_FILENAME_EXCED_RANGE, "path too long"},
    {ERROR_INVALID_NAME, "invalid path"},
    {ERROR_TOO_MANY_OPEN_FILES, "too many open files"},
    {ERROR_FILE_INVALID, "changed during the search"},
    {ERROR_READ_FAULT, "input/output error"},
};

}  // namespace

bool IsEndOfListing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

const char* SearchErrorText(DWORD error, char (&room)[kSearchErrorRoom]) {
  for (const ErrorWords& words : kWords) {
    if (words.error == error) return words.text;
  }
  constexpr char kPrefix[] = "system error ";
  std::memcpy(room, kPrefix, sizeof kPrefix - 1);
  // Ten digits at most: the room always holds them and the terminator.
  char* end = std::to_chars(room + sizeof kPrefix - 1, room + kSearchErrorRoom - 1, error).ptr;
  *end = '\0';
  return room;
}
