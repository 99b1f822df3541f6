#include "platform/posix/wildcard.h"

#include <cstring>

#include "text/ascii_case.h"

namespace {

// The whole of name against pattern[0, end); a star retried one character
// further on each mismatch, so the cost stays linear in practice.
bool MatchRange(const char* pattern, const char* end, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name != '\0') {
    if (pattern < end && *pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (pattern < end &&
               (*pattern == '?' || FoldAsciiCase(*pattern) == FoldAsciiCase(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (pattern < end && *pattern == '*') ++pattern;
  return pattern == end;
}

}  // namespace

bool MatchesWildcard(const char* pattern, std::size_t patternLength, const char* name) {
  const char* end = pattern + patternLength;
  if (MatchRange(pattern, end, name)) return true;
  const bool endsInDotStar = patternLength >= 2 && end[-2] == '.' && end[-1] == '*';
  return endsInDotStar && MatchRange(pattern, end - 2, name);
}

bool MatchesEveryName(const char* pattern, std::size_t patternLength) {
  return (patternLength == 1 && pattern[0] == '*') ||
         (patternLength == 3 && std::memcmp(pattern, "*.*", 3) == 0);
}
