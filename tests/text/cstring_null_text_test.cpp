// A null text is an empty text to every operation that takes one; none may
// hand the null pointer on to a copy, even for no characters.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/failing_allocator.h"
#include "text/cstring.h"

namespace {

TEST(CStringNullTextTest, EveryTextOperationTakesANullTextAsEmpty) {
  const struct {
    const char* name;
    std::function<void(CString&)> operation;
    const char* text;
  } rows[] = {
      {"assigned to an exclusive string", [](CString& s) { s = static_cast<const char*>(nullptr); },
       ""},
      {"appended", [](CString& s) { s += static_cast<const char*>(nullptr); }, "abcdef"},
      {"replaced", [](CString& s) { s.Replace(nullptr, "x"); }, "abcdef"},
      {"replacing", [](CString& s) { s.Replace("cd", nullptr); }, "abef"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CString s("abcdef");
    const char* block = s;
    failing_allocator::Scope counter;
    row.operation(s);
    EXPECT_STREQ(s, row.text);
    EXPECT_EQ(static_cast<const char*>(s), block) << "the exclusive block is kept";
    EXPECT_EQ(counter.Allocations(), 0);
  }
}

}  // namespace
