#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/win32.h"

namespace {

std::string CurrentDirectory() {
  char* text = ::getcwd(nullptr, 0);
  std::string directory = text != nullptr ? text : "";
  std::free(text);
  return directory;
}

std::string FullPath(const char* name) {
  char buffer[PATH_MAX];
  const DWORD length = GetFullPathNameA(name, sizeof buffer, buffer, nullptr);
  if (length == 0 || length >= sizeof buffer) return "<failed>";
  EXPECT_EQ(length, std::string(buffer).size());
  return buffer;
}

TEST(FullPathTest, FoldsTheNameIntoTheCurrentDirectoryAsText) {
  const std::string here = CurrentDirectory();
  ASSERT_FALSE(here.empty());
  const std::string parent = here == "/" ? "/" : here.substr(0, here.rfind('/'));
  const struct {
    const char* name;
    std::string expected;
  } rows[] = {
      {".", here},
      {"sub", here + "/sub"},
      {"sub/", here + "/sub/"},
      {"./sub//deeper/./x", here + "/sub/deeper/x"},
      {"sub/..", here},
      {"..", parent.empty() ? "/" : parent},
      {"/", "/"},
      {"/a/b/../c", "/a/c"},
      {"/../..", "/"},
      {"//a///b//", "/a/b/"},
      {"missing/never/created", here + "/missing/never/created"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(FullPath(row.name), row.expected);
  }
}

TEST(FullPathTest, AnswersTheRoomNeededWhenTheBufferIsTooSmall) {
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(GetFullPathNameA("/abcd", sizeof buffer, buffer, nullptr), 6u);
  EXPECT_EQ(buffer[0], '#');
  EXPECT_EQ(GetFullPathNameA("/abcd", 5, buffer, nullptr), 6u);
  char exact[6];
  EXPECT_EQ(GetFullPathNameA("/abcd", sizeof exact, exact, nullptr), 5u);
  EXPECT_STREQ(exact, "/abcd");
}

// Asked with too little room, or none, the answer is the room that then holds
// the path with its terminator: one call with that room succeeds.
TEST(FullPathTest, TheRoomAnsweredHoldsAPathOfAnyLength) {
  const std::string here = CurrentDirectory();
  ASSERT_FALSE(here.empty());
  const std::string longName(3 * PATH_MAX, 'n');
  const struct {
    const char* name;
    std::string path;
    std::string full;
  } rows[] = {
      {"absolute", "/abcd", "/abcd"},
      {"relative", "sub/name", here + "/sub/name"},
      {"relative, longer than PATH_MAX", longName, here + "/" + longName},
      {"absolute, longer than PATH_MAX", "/x/../" + longName, "/" + longName},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const DWORD room = static_cast<DWORD>(row.full.size()) + 1;
    EXPECT_EQ(GetFullPathNameA(row.path.c_str(), 0, nullptr, nullptr), room);
    std::string small(room - 1, '#');
    EXPECT_EQ(GetFullPathNameA(row.path.c_str(), room - 1, small.data(), nullptr), room);
    EXPECT_EQ(small, std::string(room - 1, '#'));  // untouched
    std::string buffer(room, '#');
    EXPECT_EQ(GetFullPathNameA(row.path.c_str(), room, buffer.data(), nullptr), room - 1);
    EXPECT_EQ(buffer.c_str(), row.full);
  }
}

TEST(FullPathTest, RefusesAnEmptyName) {
  char buffer[16];
  EXPECT_EQ(GetFullPathNameA("", sizeof buffer, buffer, nullptr), 0u);
  EXPECT_EQ(GetFullPathNameA(nullptr, sizeof buffer, buffer, nullptr), 0u);
}

TEST(FullPathTest, PointsTheFilePartAtTheLastName) {
  char buffer[64];
  char* filePart = nullptr;
  ASSERT_EQ(GetFullPathNameA("/a/b/name.txt", sizeof buffer, buffer, &filePart), 13u);
  EXPECT_STREQ(filePart, "name.txt");
  ASSERT_EQ(GetFullPathNameA("/a/b/", sizeof buffer, buffer, &filePart), 5u);
  EXPECT_EQ(filePart, nullptr);
}

}  // namespace
