#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/failing_allocator.h"
#include "text/cstring.h"

namespace {

using failing_allocator::Scope;

TEST(CStringBufferTest, GetBufferOnASharedBlockCopiesAtLeastTheOldLength) {
  CString s("12345678");
  CString other(s);
  char* buffer = s.GetBuffer(5);
  EXPECT_NE(buffer, static_cast<const char*>(other));
  EXPECT_EQ(s.GetCapacity(), 8);
  EXPECT_EQ(s.GetLength(), 8);
  EXPECT_STREQ(buffer, "12345678");
  EXPECT_EQ(other.GetRefCount(), 1);
}

TEST(CStringBufferTest, GetBufferWithinCapacityReusesTheBlockAndReleaseBufferFindsTheEnd) {
  CString s("abcdefgh");
  const char* block = s;
  Scope counter;
  char* buffer = s.GetBuffer(6);
  EXPECT_EQ(buffer, block);
  std::strcpy(buffer, "xyz");
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 3);
  EXPECT_STREQ(s, "xyz");
  EXPECT_EQ(counter.Allocations(), 0);
}

TEST(CStringBufferTest, GetBufferGrowsToTheRequestKeepingTheText) {
  CString s("ab");
  char* buffer = s.GetBuffer(10);
  EXPECT_EQ(s.GetCapacity(), 10);
  EXPECT_STREQ(buffer, "ab");
  std::memcpy(buffer, "0123456789", 11);
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 10);
}

TEST(CStringBufferTest, GetBufferOfZeroOnTheEmptyStringHandsOutTheSharedTerminator) {
  CString s;
  Scope counter;
  char* buffer = s.GetBuffer(0);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(*buffer, '\0');
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetRefCount(), -1);
  EXPECT_EQ(counter.Allocations(), 0);
}

TEST(CStringBufferTest, ReleaseBufferStaysInsideAnUnterminatedBlock) {
  CString s("abcd");
  char* buffer = s.GetBuffer(4);
  std::memset(buffer, 'z', 5);  // the room and the terminator's place too
  s.ReleaseBuffer();
  EXPECT_EQ(s.GetLength(), 4);
  EXPECT_STREQ(s, "zzzz");
}

TEST(CStringBufferTest, ReplaceShrinksInPlaceWithoutAllocating) {
  CString s("1, 0, 1, 2");
  const char* block = s;
  Scope counter;
  EXPECT_EQ(s.Replace(", ", "."), 3);
  EXPECT_STREQ(s, "1.0.1.2");
  EXPECT_EQ(s.GetLength(), 7);
  EXPECT_EQ(static_cast<const char*>(s), block);
  EXPECT_EQ(counter.Allocations(), 0);
}

// Nothing to write, so nothing is copied.
TEST(CStringBufferTest, ReplaceWithoutAnOccurrenceLeavesASharedBlockShared) {
  CString s("1.0.1.2");
  CString other(s);
  EXPECT_EQ(s.Replace(", ", "."), 0);
  EXPECT_EQ(s.GetRefCount(), 2);
  EXPECT_EQ(s.Replace(nullptr, "x"), 0);
  EXPECT_EQ(s.Replace("", "x"), 0);
  EXPECT_EQ(s.GetRefCount(), 2);
}

TEST(CStringBufferTest, ReplaceGrowsIntoAnExactBlock) {
  CString s("a-b-c");
  EXPECT_EQ(s.Replace("-", "--"), 2);
  EXPECT_STREQ(s, "a--b--c");
  EXPECT_EQ(s.GetCapacity(), 7);
}

TEST(CStringBufferTest, ReplaceOfASharedBlockLeavesTheOtherHolderAlone) {
  CString s("x, y");
  CString other(s);
  EXPECT_EQ(s.Replace(", ", "."), 1);
  EXPECT_STREQ(s, "x.y");
  EXPECT_STREQ(other, "x, y");
}

TEST(CStringBufferTest, ReplaceTakesOccurrencesLeftToRightWithoutOverlap) {
  CString s("aaaa");
  EXPECT_EQ(s.Replace("aa", "b"), 2);
  EXPECT_STREQ(s, "bb");
  CString t("1,0, 1");
  EXPECT_EQ(t.Replace(", ", "."), 1);
  EXPECT_STREQ(t, "1,0.1");
  CString u("abc");
  EXPECT_EQ(u.Replace("b", nullptr), 1);
  EXPECT_STREQ(u, "ac");
}

TEST(CStringBufferTest, ReplaceWithTextsFromItsOwnBlockSeesThemUnchanged) {
  CString s("ab");
  EXPECT_EQ(s.Replace("b", s), 1);
  EXPECT_STREQ(s, "aab");
  CString t("xyx");
  EXPECT_EQ(t.Replace(static_cast<const char*>(t) + 2, "zz"), 2);
  EXPECT_STREQ(t, "zzyzz");
}

}  // namespace
