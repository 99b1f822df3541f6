#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "platform/win32.h"

namespace {

// Formats through the bounded formatter into a buffer of the given size.
std::string Print(int size, const char* format, ...) {
  std::string buffer(static_cast<std::size_t>(size) + 8, '#');
  va_list args;
  va_start(args, format);
  const int written = wvnsprintfA(buffer.data(), size, format, args);
  va_end(args);
  EXPECT_EQ(buffer[static_cast<std::size_t>(size)], '#') << "wrote past the buffer";
  EXPECT_EQ(written, static_cast<int>(std::string(buffer.c_str()).size()));
  return buffer.c_str();
}

struct FormatRow {
  const char* name;
  std::string actual;
  const char* expected;
};

TEST(FormatTextTest, ConversionsOfTheDialect) {
  static const char16_t kWide[] = u"w\u00e9\u4e00";
  int stored = 7;
  const FormatRow rows[] = {
      {"decimal", Print(64, "%d|%i", -12, 34), "-12|34"},
      {"width and zero fill", Print(64, "%5d|%-5d|%05d", 1, 2, 3), "    1|2    |00003"},
      {"precision on integers", Print(64, "%.3d", 5), "005"},
      {"zero fill yields to a precision", Print(64, "%08.3d|%08.0u|%-08d", -5, 0U, 7),
       "    -005|        |7       "},
      {"unsigned and hexadecimal", Print(64, "%u %x %X %#x %o", 4000000000U, 255, 255, 255, 8),
       "4000000000 ff FF 0xff 10"},
      {"64-bit prefix", Print(64, "%I64d %I64u %s", -(1LL << 40), 1ULL << 63, "z"),
       "-1099511627776 9223372036854775808 z"},
      {"long is 32 bits", Print(64, "%ld %lu", -5, 6U), "-5 6"},
      {"text with width and precision",
       Print(64, "[%6s][%-6s][%.2s][%6.2s]", "ab", "ab", "abc", "abc"),
       "[    ab][ab    ][ab][    ab]"},
      {"null text", Print(64, "%s", static_cast<const char*>(nullptr)), "(null)"},
      {"16-bit text", Print(64, "%S|%ls|%hs", kWide, kWide, "n"), "w\xe9?|w\xe9?|n"},
      {"characters", Print(64, "%c%C%3c", 'a', u'b', 'c'), "ab  c"},
      {"percent", Print(64, "100%%"), "100%"},
      {"width from arguments", Print(64, "%*d|%.*s", 4, 9, 2, "xyz"), "   9|xy"},
      {"store-count conversion writes nothing", Print(64, "a%nb", &stored), "ab"},
      {"floating point is not a conversion", Print(64, "%f|%E"), "f|E"},
      {"format ends after percent", Print(64, "x%"), "x"},
  };
  for (const FormatRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.actual, row.expected);
  }
  EXPECT_EQ(stored, 7);
}

TEST(FormatTextTest, OutputStopsAtTheGivenSize) {
  EXPECT_EQ(Print(4, "abcdef"), "abc");
  EXPECT_EQ(Print(1, "abcdef"), "");
  EXPECT_EQ(Print(6, "%d", 123456789), "12345");
  EXPECT_EQ(Print(5, "%10s", "ab"), "    ");
  EXPECT_EQ(Print(8, "%2147483647d", 1), "       ");
}

TEST(FormatTextTest, LongTextsAreNotCutAtAnyFixedLength) {
  const std::string text(5000, 'k');
  EXPECT_EQ(Print(6000, "%s", text.c_str()).size(), 5000u);
}

TEST(FormatTextTest, RefusesAMissingBuffer) {
  va_list none{};
  EXPECT_LT(wvnsprintfA(nullptr, 10, "x", none), 0);
}

}  // namespace
