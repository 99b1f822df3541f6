// Full paths: the current directory joined with the name, then ".", ".."
// and repeated separators folded away. A ".." is taken as the system takes
// it, from wherever the path before it leads, links included, so that a
// search of the full path is a search of the directory the path names; only
// where the path before the last ".." does not exist is it folded as text.
// Links elsewhere in the path are not resolved, and the path need not
// exist, as on Windows.
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

// Where the last ".." of path ends, or npos when it has none.
std::size_t EndOfLastDotDot(const std::string& path) {
  for (std::size_t at = path.rfind(".."); at != std::string::npos;
       at = at == 0 ? std::string::npos : path.rfind("..", at - 1)) {
    const std::size_t end = at + 2;
    if ((at == 0 || path[at - 1] == '/') && (end == path.size() || path[end] == '/')) return end;
  }
  return std::string::npos;
}

// "link/.." is the parent of the link's target, as for the system: the path
// up to the last ".." is resolved by the system, the rest folded as text.
std::string Resolve(const std::string& path) {
  const std::size_t end = EndOfLastDotDot(path);
  if (end == std::string::npos) return Normalize(path);
  const std::unique_ptr<char, decltype(&std::free)> real(
      ::realpath(path.substr(0, end).c_str(), nullptr), &std::free);
  if (real == nullptr && errno == ENOMEM) throw std::bad_alloc();
  if (real == nullptr) return Normalize(path);
  return Normalize(real.get() + path.substr(end));
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
      full = Resolve(fileName);
    } else {
      const std::string current = CurrentDirectory();
      if (current.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
      }
      full = Resolve(current + '/' + fileName);
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
