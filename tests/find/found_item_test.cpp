#include "find/found_item.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

struct ItemCase {
  const char* name;
  DWORD attributes;
  bool isDirectory;
  bool isDot;
  bool isDotDot;
  bool isFile;
};

TEST(FindDataItemTest, PredicatesReadOnlyTheNameAndTheDirectoryBit) {
  const DWORD hiddenSystemLink = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN |
                                 FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_REPARSE_POINT;
  const ItemCase cases[] = {
      {".", FILE_ATTRIBUTE_DIRECTORY, true, true, false, false},
      {"..", FILE_ATTRIBUTE_DIRECTORY, true, false, true, false},
      {"...", FILE_ATTRIBUTE_DIRECTORY, true, false, false, false},
      {".hidden", FILE_ATTRIBUTE_DIRECTORY, true, false, false, false},
      {"..x", FILE_ATTRIBUTE_DIRECTORY, true, false, false, false},
      {"link", hiddenSystemLink, true, false, false, false},
      {"packed.txt", FILE_ATTRIBUTE_COMPRESSED, false, false, false, true},
      {"plain.txt", FILE_ATTRIBUTE_NORMAL, false, false, false, true},
      {".", FILE_ATTRIBUTE_NORMAL, false, true, false, true},
  };
  for (const ItemCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " with attributes " + std::to_string(c.attributes));
    FindDataItem item;
    item.record.dwFileAttributes = c.attributes;
    std::strcpy(item.record.cFileName, c.name);
    FoundItem& found = item;  // answered through the interface, as a sink sees it
    EXPECT_EQ(found.IsDirectory(), c.isDirectory);
    EXPECT_EQ(found.IsDot(), c.isDot);
    EXPECT_EQ(found.IsDotDot(), c.isDotDot);
    EXPECT_EQ(found.IsFile(), c.isFile);
  }
}

}  // namespace
