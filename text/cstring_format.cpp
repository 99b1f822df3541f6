// printf-style formatting into a CString: one walk over the format estimates
// an upper bound of the output, the buffer is made that large once, and the
// platform's bounded formatter writes into it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>

#include "text/cstring.h"

namespace {

enum class SizeClass { kNone, kNarrow, kWide, k64 };

constexpr char kFloatingPointRefusal[] =
    "Floating point (%%e, %%f, %%g, and %%G) is not supported by the CString class.";

// Decimal digits as far as they go; saturates instead of overflowing.
int ReadNumber(const char*& p) {
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = std::min<long long>(value * 10 + (*p - '0'), INT_MAX);
    ++p;
  }
  return static_cast<int>(value);
}

long long TextLength16(const std::uint16_t* text) {
  long long length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// Upper bound of the formatted length, read from a copy of the arguments.
// Also tells whether a text argument points into [ownBegin, ownEnd].
long long EstimateLength(const char* format, va_list arguments, const char* ownBegin,
                         const char* ownEnd, bool& aliased) {
  va_list args;
  va_copy(args, arguments);
  long long total = 0;
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      const char* next = CharNextA(p);
      total += next - p;
      p = next;
      continue;
    }
    ++p;
    if (*p == '%') {
      total += 1;
      ++p;
      continue;
    }

    int width = 0;
    int precision = 0;
    for (;; p = CharNextA(p)) {
      if (*p == '#') {
        total += 2;  // room for a "0x" prefix
      } else if (*p == '*') {
        width = va_arg(args, int);
      } else if (*p != '-' && *p != '+' && *p != '0' && *p != ' ') {
        break;
      }
    }
    if (width == 0) width = ReadNumber(p);
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        precision = va_arg(args, int);
        ++p;
      } else {
        precision = ReadNumber(p);
      }
    }
    SizeClass size = SizeClass::kNone;
    if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      size = SizeClass::k64;
      p += 3;
    } else if (*p == 'h') {
      size = SizeClass::kNarrow;
      ++p;
    } else if (*p == 'l') {
      size = SizeClass::kWide;
      ++p;
    } else if (*p == 'F' || *p == 'L' || *p == 'N') {
      ++p;
    }

    long long item = 0;
    bool isText = false;
    const char conversion = *p;
    const long long numberLength =
        std::max<long long>(32, static_cast<long long>(width) + precision);
    switch (conversion) {
      case 'c':
      case 'C':
        if (size == SizeClass::k64) break;
        (void)va_arg(args, int);
        item = 2;
        isText = true;
        break;
      case 's':
      case 'S': {
        if (size == SizeClass::k64) break;
        const bool wide = conversion == 'S' ? size != SizeClass::kNarrow : size == SizeClass::kWide;
        const void* text = va_arg(args, const void*);
        const char* address = static_cast<const char*>(text);
        if (std::less_equal<const char*>()(ownBegin, address) &&
            std::less_equal<const char*>()(address, ownEnd)) {
          aliased = true;
        }
        if (text == nullptr) {
          item = 6;
        } else {
          item = wide ? TextLength16(static_cast<const std::uint16_t*>(text))
                      : lstrlenA(static_cast<const char*>(text));
          item = std::max<long long>(item, 1);
        }
        isText = true;
        break;
      }
      case 'd':
      case 'i':
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        if (size == SizeClass::k64) {
          (void)va_arg(args, long long);
        } else {
          (void)va_arg(args, int);
        }
        item = numberLength;
        break;
      case 'p':
        (void)va_arg(args, void*);
        item = numberLength;
        break;
      case 'n':
        (void)va_arg(args, void*);
        break;
      case 'e':
      case 'f':
      case 'g':
      case 'G':
        OutputDebugStringA(kFloatingPointRefusal);
        DebugBreak();
        break;
      default:
        break;
    }
    if (isText) {
      if (precision != 0) item = std::min<long long>(item, precision);
      item = std::max<long long>(item, width);
    }
    total += item;
    if (*p != '\0') ++p;
  }
  va_end(args);
  return total;
}

}  // namespace

bool CString::Format(const char* format, ...) noexcept {
  va_list arguments;
  va_start(arguments, format);
  const bool done = FormatV(format, arguments);
  va_end(arguments);
  return done;
}

bool CString::FormatV(const char* format, va_list arguments) noexcept {
  if (format == nullptr) format = "";
  bool aliased = false;
  const long long estimate =
      EstimateLength(format, arguments, chars, chars + GetCapacity(), aliased);
  if (estimate > INT_MAX - static_cast<long long>(sizeof(CStringHeader)) - 1) return false;

  // The format or a text argument may live in this string's own block, which
  // the formatter is about to overwrite or replace: a second holder keeps the
  // old text alive and readable, and GetBuffer then writes into a new block.
  CString keepAlive;
  if (Owns(format) || (aliased && !IsSharedEmpty())) {
    keepAlive = *this;
  }

  char* buffer = GetBuffer(static_cast<LONG>(estimate));
  if (buffer == nullptr) return false;
  wvnsprintfA(buffer, GetCapacity() + 1, format, arguments);
  ReleaseBuffer();
  return true;
}
