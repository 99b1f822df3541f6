// A null text is an empty text to every operation that takes one; none may
// hand the null pointer on to a copy, even for no characters.
#include <gtest/gtest.h>

#include <functional>

#include "text/cstring.h"

namespace {

TEST(CStringNullTextTest, EveryTextOperationTakesANullTextAsEmpty) {
  const struct {
    const char* name;
    std::function<void(CString&)> operation;
    const char* text;
    LONG capacity;
  } rows[] = {
      {"assigned to an exclusive string", [](CString& s) { s = static_cast<const char*>(nullptr); },
       "", 6},
      {"appended", [](CString& s) { s += static_cast<const char*>(nullptr); }, "abcdef", 6},
      {"replaced", [](CString& s) { s.Replace(nullptr, "x"); }, "abcdef", 6},
      {"replacing", [](CString& s) { s.Replace("cd", nullptr); }, "abef", 6},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CString s("abcdef");
    const char* block = s;
    row.operation(s);
    EXPECT_STREQ(s, row.text);
    EXPECT_EQ(s.GetCapacity(), row.capacity);
    EXPECT_EQ(static_cast<const char*>(s), block) << "the exclusive block is kept";
  }
}

}  // namespace
