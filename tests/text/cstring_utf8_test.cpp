// The counted string over UTF-8 text, the process's code page on Windows
// (this suite runs there with the tool's manifest) and the bytes of names on
// Linux. UTF-8 is no double-byte code page: the platform steps over it a byte
// at a time, so the estimate counts bytes, which is the room the text needs;
// and a character's first byte never occurs inside another character, so a
// search for UTF-8 text starts and ends on character boundaries.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "text/cstring.h"

namespace {

struct Utf8FormatRow {
  const char* name;
  std::function<void(CString&)> format;
  LONG capacity;
  const char* text;
};

TEST(CStringUtf8Test, TheEstimateIsTheTextsLengthInBytes) {
  const Utf8FormatRow rows[] = {
      {"a CJK argument", [](CString& s) { s.Format("Unknown argument: %s", "日本"); }, 24,
       "Unknown argument: 日本"},
      {"Greek, CJK and a character outside the Basic Multilingual Plane in the format",
       [](CString& s) { s.Format("Ελλάδα %s 日本 😀", "café"); }, 30, "Ελλάδα café 日本 😀"},
      {"a conversion right after a multi-byte character",
       [](CString& s) { s.Format("日%s本", "é"); }, 8, "日é本"},
      {"a width counts bytes", [](CString& s) { s.Format("%-10s|", "é"); }, 11, "é        |"},
      {"a precision that ends on a character boundary",
       [](CString& s) { s.Format("%.3s", "日本"); }, 3, "日"},
      {"a format that ends inside a character", [](CString& s) { s.Format("ab\xE6\x97"); }, 4,
       "ab\xE6\x97"},
  };
  for (const Utf8FormatRow& row : rows) {
    SCOPED_TRACE(row.name);
    CString s;
    row.format(s);
    EXPECT_EQ(s.GetCapacity(), row.capacity);
    EXPECT_STREQ(s, row.text);
  }
}

TEST(CStringUtf8Test, ReplacementMatchesWholeCharactersOnly) {
  const struct {
    const char* name;
    const char* text;
    const char* oldText;
    const char* newText;
    int count;
    const char* result;
  } rows[] = {
      {"a CJK separator", "1、0、1、2", "、", ".", 3, "1.0.1.2"},
      {"a character next to itself", "日本本日", "本", "x", 2, "日xx日"},
      {"a two-byte character among others", "café é ©", "é", "e", 2, "cafe e ©"},
      // é (C3 A9) and © (C2 A9) share their last byte.
      {"a character whose last byte ends another", "é©é", "©", "(c)", 1, "é(c)é"},
      // 日 (E6 97 A5) and 本 (E6 9C AC) share their first byte.
      {"a character whose first byte begins another", "日本日", "本", "", 1, "日日"},
      {"four bytes, a surrogate pair in UTF-16", "a😀b😀", "😀", "🐕", 2, "a🐕b🐕"},
      {"nothing to find", "日本", "本日", "x", 0, "日本"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CString s(row.text);
    EXPECT_EQ(s.Replace(row.oldText, row.newText), row.count);
    EXPECT_STREQ(s, row.result);
    EXPECT_EQ(s.GetLength(), static_cast<LONG>(std::string(row.result).size()));
  }
}

}  // namespace
