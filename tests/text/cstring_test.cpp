#include "text/cstring.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/failing_allocator.h"

namespace {

using failing_allocator::FailAll;
using failing_allocator::Scope;

// A string with an exclusive block of exactly the given text.
CString Exclusive(const char* text) { return CString(text); }

TEST(CStringTest, EmptyFormsShareTheEmptyInstanceAndAllocateNothing) {
  Scope counter;
  CString byDefault;
  CString fromNull(nullptr);
  CString fromEmpty("");
  for (const CString* s : {&byDefault, &fromNull, &fromEmpty}) {
    EXPECT_EQ(s->GetLength(), 0);
    EXPECT_STREQ(*s, "");
    EXPECT_EQ(static_cast<const char*>(*s), static_cast<const char*>(byDefault));
  }
  EXPECT_EQ(counter.Allocations(), 0);
}

// Header and text in one allocation, with no room to spare.
TEST(CStringTest, ConstructionFromTextAllocatesOneExactFitBlock) {
  Scope counter;
  CString s("abcdef");
  EXPECT_STREQ(s, "abcdef");
  EXPECT_EQ(s.GetLength(), 6);
  EXPECT_EQ(s.GetCapacity(), 6);
  EXPECT_EQ(counter.Allocations(), 1);
}

TEST(CStringTest, CopySharesTheBlockAndAppendSeparatesTheWriter) {
  CString original("path");
  CString copy(original);
  EXPECT_EQ(static_cast<const char*>(copy), static_cast<const char*>(original));
  EXPECT_EQ(original.GetRefCount(), 2);

  copy += "/sub";
  EXPECT_STREQ(copy, "path/sub");
  EXPECT_STREQ(original, "path");
  EXPECT_EQ(original.GetRefCount(), 1);
  EXPECT_EQ(copy.GetRefCount(), 1);
  EXPECT_NE(static_cast<const char*>(copy), static_cast<const char*>(original));
}

TEST(CStringTest, CopyOfTheEmptyStringIsEmptyAndAllocatesNothing) {
  CString empty;
  Scope counter;
  CString copy(empty);
  CString assigned("x");
  assigned = empty;
  EXPECT_STREQ(copy, "");
  EXPECT_STREQ(assigned, "");
  EXPECT_EQ(counter.Allocations(), 1);  // only "x"
}

// The room a longer text left is kept: appends that fit it, up to the last
// character, need no allocation.
TEST(CStringTest, ShorterTextReusesTheExclusiveBlockAndLaterAppendsFit) {
  CString s("a longer text");
  const char* block = s;
  Scope counter;
  s = "short";
  EXPECT_EQ(static_cast<const char*>(s), block);
  EXPECT_EQ(s.GetLength(), 5);
  s += " one";
  s += " two";
  EXPECT_STREQ(s, "short one two");
  EXPECT_EQ(static_cast<const char*>(s), block);
  EXPECT_EQ(counter.Allocations(), 0);
}

// An exclusive block keeps its room for the next text; a shared one is let
// go, and its other holder is then its only one.
TEST(CStringTest, AssigningAnEmptyCStringKeepsAnExclusiveBlocksRoomButLetsGoOfASharedOne) {
  const CString empty;
  CString exclusive("abc");
  const char* block = exclusive;
  {
    Scope counter;
    exclusive = empty;
    EXPECT_EQ(exclusive.GetLength(), 0);
    EXPECT_STREQ(exclusive, "");
    exclusive = "xyz";
    EXPECT_EQ(static_cast<const char*>(exclusive), block);
    EXPECT_EQ(counter.Allocations(), 0);
  }

  CString shared("abc");
  CString other(shared);
  shared = empty;
  EXPECT_STREQ(shared, "");
  EXPECT_NE(static_cast<const char*>(shared), static_cast<const char*>(other));
  EXPECT_EQ(other.GetRefCount(), 1);
  EXPECT_STREQ(other, "abc");
}

// Nothing is copied, and the one block outlives both holders' assignments
// and is freed exactly once, with the last of them.
TEST(CStringTest, SelfAssignmentAndAssignmentWithinOneBlockCopyNothingAndFreeTheBlockOnce) {
  Scope counter;
  {
    CString a("same");
    CString b(a);
    a = a;
    a = b;
    b = a;
    EXPECT_STREQ(a, "same");
    EXPECT_EQ(static_cast<const char*>(a), static_cast<const char*>(b));
    EXPECT_EQ(counter.Releases(), 0);
  }
  EXPECT_EQ(counter.Allocations(), 1);
  EXPECT_EQ(counter.Releases(), 1);
}

TEST(CStringTest, AssignmentFromAnotherStringSharesAndReleasesTheOldBlock) {
  CString target("old");
  CString source("new text");
  Scope counter;
  target = source;
  EXPECT_EQ(static_cast<const char*>(target), static_cast<const char*>(source));
  EXPECT_STREQ(target, "new text");
  EXPECT_EQ(counter.Allocations(), 0);
  EXPECT_EQ(counter.Releases(), 1);
}

TEST(CStringTest, AppendingNothingChangesNothing) {
  CString s("abc");
  const char* block = s;
  Scope counter;
  s += "";
  s += nullptr;
  EXPECT_EQ(static_cast<const char*>(s), block);
  EXPECT_STREQ(s, "abc");
  EXPECT_EQ(counter.Allocations(), 0);
}

TEST(CStringTest, GrowthIsExactFit) {
  CString s("abcdef");
  s += "g";
  EXPECT_EQ(s.GetCapacity(), 7);
  EXPECT_STREQ(s, "abcdefg");
}

TEST(CStringTest, ConcatenationOwnsAnExactBlock) {
  const CString left("D:");
  const CString right("\\data");
  CString joined = left + right;
  EXPECT_STREQ(joined, "D:\\data");
  EXPECT_EQ(joined.GetRefCount(), 1);
  EXPECT_EQ(joined.GetCapacity(), 7);
  Scope counter;
  EXPECT_STREQ(CString() + CString(), "");
  EXPECT_EQ(counter.Allocations(), 0);
}

TEST(CStringTest, DestroyingTheLastHolderFreesTheBlock) {
  Scope counter;
  {
    CString a("block");
    CString b(a);
    { CString c(b); }
    EXPECT_EQ(counter.Releases(), 0);
  }
  EXPECT_EQ(counter.Allocations(), 1);
  EXPECT_EQ(counter.Releases(), 1);
}

TEST(CStringTest, TextFromItsOwnBlockCanBeAssignedAndAppended) {
  CString s("prefix-tail");
  s = static_cast<const char*>(s) + 7;
  EXPECT_STREQ(s, "tail");
  CString t("ab");
  t += t;
  EXPECT_STREQ(t, "abab");
  t += static_cast<const char*>(t) + 2;
  EXPECT_STREQ(t, "ababab");
}

// Every operation that may allocate, run with every allocation failing: the
// result and the state each leaves behind. One that finds room enough in an
// exclusive block allocates nothing, and so cannot fail.
struct FailureRow {
  const char* name;
  std::function<CString()> setUp;
  std::function<long long(CString&)> operation;
  const char* expectedText;
  long long expectedResult;
};

TEST(CStringTest, AllocationFailuresLeaveTheDocumentedState) {
  const FailureRow rows[] = {
      {"construction from text", [] { return CString(); },
       [](CString& s) {
         s = CString("abc");
         return 0LL;
       },
       "", 0},
      {"assignment from longer text", [] { return Exclusive("ab"); },
       [](CString& s) {
         s = "longer";
         return 0LL;
       },
       "", 0},
      {"assignment into a shared block", [] { return Exclusive("ab"); },
       [](CString& s) {
         CString keep(s);
         s = "x";
         return 0LL;
       },
       "", 0},
      {"append", [] { return Exclusive("ab"); },
       [](CString& s) {
         s += "cd";
         return 0LL;
       },
       "ab", 0},
      {"append to a shared block", [] { return Exclusive("ab"); },
       [](CString& s) {
         CString keep(s);
         s += "c";
         return 0LL;
       },
       "ab", 0},
      {"format", [] { return Exclusive("ab"); },
       [](CString& s) { return static_cast<long long>(s.Format("%s", "long text")); }, "ab", 0},
      {"get buffer", [] { return Exclusive("ab"); },
       [](CString& s) { return static_cast<long long>(s.GetBuffer(10) == nullptr); }, "ab", 1},
      {"release buffer on a shared block", [] { return Exclusive("ab"); },
       [](CString& s) {
         CString keep(s);
         s.ReleaseBuffer();
         return 0LL;
       },
       "", 0},
      {"replace needing a private copy", [] { return Exclusive("1, 2"); },
       [](CString& s) {
         CString keep(s);
         return static_cast<long long>(s.Replace(", ", "."));
       },
       "", -1},
      {"replace needing a larger block", [] { return Exclusive("1, 2"); },
       [](CString& s) { return static_cast<long long>(s.Replace(",", ",,,")); }, "1, 2", -1},
      {"assignment that exactly fills an exclusive block", [] { return Exclusive("abc"); },
       [](CString& s) {
         s = "xyz";
         return 0LL;
       },
       "xyz", 0},
      {"append that exactly fills the room", [] { return Exclusive("abcdef") = "ab"; },
       [](CString& s) {
         s += "cdef";
         return 0LL;
       },
       "abcdef", 0},
      {"buffer of exactly the capacity", [] { return Exclusive("abcd"); },
       [](CString& s) {
         const char* block = s;
         return static_cast<long long>(s.GetBuffer(4) != block);
       },
       "abcd", 0},
      {"replace that exactly fills the block", [] { return Exclusive("a-b"); },
       [](CString& s) { return static_cast<long long>(s.Replace("-", "+")); }, "a+b", 1},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    CString s = row.setUp();
    long long result;
    {
      FailAll failing;
      result = row.operation(s);
    }
    EXPECT_EQ(result, row.expectedResult);
    EXPECT_STREQ(s, row.expectedText);
    EXPECT_EQ(s.GetLength(), static_cast<LONG>(std::string(row.expectedText).size()));
  }
}

TEST(CStringTest, ConcatenationFailureGivesAnEmptyResult) {
  const CString left("a");
  const CString right("b");
  FailAll failing;
  const CString joined = left + right;
  EXPECT_EQ(joined.GetLength(), 0);
  EXPECT_STREQ(joined, "");
}

}  // namespace
