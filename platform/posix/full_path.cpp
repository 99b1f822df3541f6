// Full paths as text: the current directory joined with the name, then ".",
// ".." and repeated separators folded away. Links are not resolved and the
// path need not exist, as on Windows.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// The current directory, or empty when it cannot be had. The C library's
// copy is freed however this returns, a copy that runs out of memory included.
// Throws std::bad_alloc when the library had no memory for it: that is no
// missing directory.
std::string CurrentDirectory() {
  const std::unique_ptr<char, decltype(&std::free)> text(::getcwd(nullptr, 0), &std::free);
  if (text == nullptr && errno == ENOMEM) throw std::bad_alloc();
  if (text == nullptr) return std::string();
  return std::string(text.get());
}

std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += '/' + part;
  if (result.empty()) return "/";
  // "dir/" names the directory as such: its separator stays.
  if (path.back() == '/') result += '/';
  return result;
}

}  // namespace

DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::string full;
  try {
    if (fileName[0] == '/') {
      full = Normalize(fileName);
    } else {
      const std::string current = CurrentDirectory();
      if (current.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
      }
      full = Normalize(current + '/' + fileName);
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (full.size() >= 0xFFFFFFFFu) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(full.size());
  if (buffer == nullptr || length >= bufferLength)
    return length + 1;  // room needed, terminator included
  std::memcpy(buffer, full.c_str(), static_cast<std::size_t>(length) + 1);
  if (filePart != nullptr) {
    char* lastSeparator = std::strrchr(buffer, '/');
    *filePart = lastSeparator != nullptr && lastSeparator[1] != '\0' ? lastSeparator + 1 : nullptr;
  }
  return length;
}
