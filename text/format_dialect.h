// The printf dialect of the platform's formatter (wvsprintfA): how one
// conversion reads between its "%" and its conversion character. The counted
// string's length estimate and our POSIX formatter both read conversions
// here, so that for any format they take the same argument slots. What each
// then does with a conversion differs by purpose and stays with each.
// Nothing here depends on the operating system.
#pragma once

#include <climits>
#include <cstdarg>

namespace format_dialect {

enum class Size { kNone, kNarrow, kWide, k64 };

// Flags as a bit set.
inline constexpr unsigned kLeftAlign = 1;   // "-"
inline constexpr unsigned kPlus = 2;        // "+"
inline constexpr unsigned kSpace = 4;       // " "
inline constexpr unsigned kZeroFill = 8;    // "0"
inline constexpr unsigned kAlternate = 16;  // "#"

struct Conversion {
  unsigned flags = 0;
  int alternateCount = 0;  // "#" as often as written
  int width = 0;           // 0 when absent; from a "*" argument it may be negative
  bool hasPrecision = false;
  int precision = 0;  // 0 when absent
  Size size = Size::kNone;
};

// Decimal digits as far as they go; saturates instead of overflowing.
inline int ReadNumber(const char*& p) {
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = value * 10 + (*p - '0');
    if (value > INT_MAX) value = INT_MAX;
    ++p;
  }
  return static_cast<int>(value);
}

// Reads flags (each "*" among them takes an int argument as the width),
// width digits when no "*" gave a width, a precision ("." then digits or
// "*"), and a size prefix ("I64", "h", "l"; "F", "L" and "N" change nothing).
// p starts just past the "%" and is left on the conversion character. Flag
// characters are ASCII, never part of a double-byte character, so each is
// stepped over as one byte.
inline Conversion ReadConversion(const char*& p, va_list* arguments) {
  Conversion conversion;
  for (;; ++p) {
    const char c = *p;
    if (c == '*') {
      conversion.width = va_arg(*arguments, int);
    } else if (c == '-') {
      conversion.flags |= kLeftAlign;
    } else if (c == '+') {
      conversion.flags |= kPlus;
    } else if (c == ' ') {
      conversion.flags |= kSpace;
    } else if (c == '0') {
      conversion.flags |= kZeroFill;
    } else if (c == '#') {
      conversion.flags |= kAlternate;
      ++conversion.alternateCount;
    } else {
      break;
    }
  }
  if (conversion.width == 0) conversion.width = ReadNumber(p);
  if (*p == '.') {
    ++p;
    conversion.hasPrecision = true;
    if (*p == '*') {
      conversion.precision = va_arg(*arguments, int);
      ++p;
    } else {
      conversion.precision = ReadNumber(p);
    }
  }
  if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
    conversion.size = Size::k64;
    p += 3;
  } else if (*p == 'h') {
    conversion.size = Size::kNarrow;
    ++p;
  } else if (*p == 'l') {
    conversion.size = Size::kWide;
    ++p;
  } else if (*p == 'F' || *p == 'L' || *p == 'N') {
    ++p;
  }
  return conversion;
}

}  // namespace format_dialect
