// Which path the reader hands to the version services, over fakes of the
// module and version services linked in place of the platform's: a module
// path the buffer cut short, or a path that does not fit it, is never read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "version/version_info.h"

namespace {

// The running module's path as the fake reports it; empty: no path at all.
std::string modulePath;
// The paths the version services were asked about, in order.
std::vector<std::string> askedAbout;

}  // namespace

// The platform's contract: a path that does not fit with its NUL is cut to
// size - 1 characters, and the answer is size with ERROR_INSUFFICIENT_BUFFER.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  EXPECT_EQ(module, nullptr);
  if (modulePath.empty() || size == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
  }
  const std::size_t kept = std::min<std::size_t>(modulePath.size(), size - 1);
  std::memcpy(fileName, modulePath.data(), kept);
  fileName[kept] = '\0';
  if (kept < modulePath.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  return static_cast<DWORD>(kept);
}

// Every file reads as one without a resource; only the question is kept.
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  askedAbout.emplace_back(fileName);
  if (handle != nullptr) *handle = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return 0;
}

BOOL GetFileVersionInfoA(LPCSTR, DWORD, DWORD, LPVOID) {
  ADD_FAILURE() << "a resource of size 0 was read";
  return FALSE;
}

BOOL VerQueryValueA(LPCVOID, LPCSTR, LPVOID*, PUINT) {
  ADD_FAILURE() << "a resource never read was queried";
  return FALSE;
}

namespace {

const std::string kNone = "<none>";

// A path of length characters that names a file in a folder.
std::string PathOfLength(std::size_t length) {
  std::string path = std::string("app") + kPathSeparator;
  path.resize(length, 'm');
  return path;
}

struct PathRow {
  const char* name;
  std::string module;  // what the module services report
  std::string given;   // the path given to the reader, or kNone for its own
  bool read;           // whether the version services are asked about it
};

TEST(VersionInfoPathTest, OnlyAPathThatFitsItsBufferIsRead) {
  const std::size_t room = kFullPathBufferSize;  // characters with the terminator
  const PathRow rows[] = {
      {"own path, short", PathOfLength(20), kNone, true},
      {"own path, the longest that fits", PathOfLength(room - 1), kNone, true},
      {"own path, one character too long: cut short", PathOfLength(room), kNone, false},
      {"own path, far too long", PathOfLength(3 * room), kNone, false},
      {"no own path", "", kNone, false},
      {"given path, the longest that fits", "", PathOfLength(room - 1), true},
      {"given path, exactly the buffer's size", "", PathOfLength(room), false},
  };
  for (const PathRow& row : rows) {
    SCOPED_TRACE(row.name);
    modulePath = row.module;
    askedAbout.clear();
    if (row.given == kNone) {
      const VersionInfo info;
      EXPECT_STREQ(info.GetDottedFileVersion(), "N/A");
    } else {
      const VersionInfo info{CString(row.given.c_str())};
      EXPECT_STREQ(info.GetDottedFileVersion(), "N/A");
    }
    const std::string path = row.given == kNone ? row.module : row.given;
    EXPECT_EQ(askedAbout, row.read ? std::vector<std::string>{path} : std::vector<std::string>{});
  }
}

}  // namespace
