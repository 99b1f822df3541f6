#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/debug_break.h"
#include "tests/support/failing_allocator.h"
#include "text/cstring.h"

namespace {

// Each row formats into a fresh string; the reserved room shows as the
// capacity the string ends with.
struct EstimateRow {
  const char* name;
  std::function<void(CString&)> format;
  LONG capacity;
  const char* text;  // null where the exact text is the platform's business
};

TEST(CStringFormatTest, ReservesTheEstimatedLength) {
  static const char16_t kWide[] = u"wide";
  const EstimateRow rows[] = {
      {"unknown argument, three characters",
       [](CString& s) { s.Format("Unknown argument: %s", "abc"); }, 21, "Unknown argument: abc"},
      {"unknown argument, empty text", [](CString& s) { s.Format("Unknown argument: %s", ""); }, 19,
       "Unknown argument: "},
      {"null text", [](CString& s) { s.Format("%s", static_cast<const char*>(nullptr)); }, 6,
       nullptr},
      {"percent pair", [](CString& s) { s.Format("%%"); }, 1, "%"},
      {"integer with width 5", [](CString& s) { s.Format("%5d", 42); }, 32, "   42"},
      {"integer with width 40 and precision 3", [](CString& s) { s.Format("%40.3d", 7); }, 43,
       nullptr},
      {"hexadecimal with #", [](CString& s) { s.Format("%#x", 255); }, 34, "0xff"},
      {"64-bit integer takes two slots",
       [](CString& s) { s.Format("%I64d %s", static_cast<long long>(1) << 40, "ab"); }, 35,
       "1099511627776 ab"},
      {"left-aligned text within width", [](CString& s) { s.Format("%-10s", "ab"); }, 10,
       "ab        "},
      {"text cut by precision", [](CString& s) { s.Format("%.2s", "abcdef"); }, 2, "ab"},
      {"text cut and padded", [](CString& s) { s.Format("%10.3s", "abcdef"); }, 10, "       abc"},
      {"width from an argument slot", [](CString& s) { s.Format("%*d", 40, 7); }, 40, nullptr},
      {"character", [](CString& s) { s.Format("%c", 'x'); }, 2, "x"},
      {"16-bit text", [](CString& s) { s.Format("%S", kWide); }, 4, "wide"},
      {"pointer", [](CString& s) { s.Format("%p", static_cast<void*>(nullptr)); }, 32, nullptr},
      {"capital E is no conversion", [](CString& s) { s.Format("a%Eb"); }, 2, nullptr},
      {"format ending after percent", [](CString& s) { s.Format("ab%"); }, 2, "ab"},
  };
  for (const EstimateRow& row : rows) {
    SCOPED_TRACE(row.name);
    CString s;
    row.format(s);
    EXPECT_EQ(s.GetCapacity(), row.capacity);
    EXPECT_LE(s.GetLength(), s.GetCapacity());
    if (row.text != nullptr) {
      EXPECT_STREQ(s, row.text);
    }
  }
}

TEST(CStringFormatTest, EmptyFormatLeavesTheStringEmpty) {
  CString s("old text");
  s.Format("");
  EXPECT_EQ(s.GetLength(), 0);
  EXPECT_STREQ(s, "");
}

TEST(CStringFormatTest, ExclusiveRoomLargerThanTheEstimateIsKept) {
  CString s("a rather long previous text");
  const char* block = s;
  failing_allocator::Scope counter;
  s.Format("%s", "short");
  EXPECT_EQ(static_cast<const char*>(s), block);
  EXPECT_EQ(counter.Allocations(), 0);
  EXPECT_STREQ(s, "short");
}

TEST(CStringFormatTest, FailedAllocationLeavesTheStringUnchanged) {
  CString s("before");
  bool done;
  {
    failing_allocator::FailAll failing;
    done = s.Format("Unknown argument: %s", "something long");
  }
  EXPECT_FALSE(done);
  EXPECT_STREQ(s, "before");
}

TEST(CStringFormatTest, ItsOwnTextCanBeAnArgument) {
  CString s("abc");
  EXPECT_TRUE(s.Format("[%s|%s]", static_cast<const char*>(s), static_cast<const char*>(s)));
  EXPECT_STREQ(s, "[abc|abc]");
}

TEST(CStringFormatTest, LongResultsAreNeverCut) {
  const std::string option(3000, 'q');
  CString s;
  s.Format("Unknown argument: %s", option.c_str());
  EXPECT_EQ(s.GetLength(), 18 + 3000);
}

// The refusal is written to the debugger output, then DebugBreak ends the
// process: what that leaves is the platform's (see support/debug_break.h).
TEST(CStringFormatDeathTest, FloatingPointConversionIsRefused) {
  EXPECT_EXIT(
      {
        CString s;
        s.Format("%f", 1.0);
      },
      EndedByDebugBreak,
      DebugOutputOnStandardError(
          "Floating point [(]%%e, %%f, %%g, and %%G[)] is not supported by the CString class[.]"));
}

}  // namespace
