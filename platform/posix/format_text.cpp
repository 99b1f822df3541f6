// Bounded formatter in the Win32 dialect. Each conversion is taken apart here
// and its argument read with the type the dialect gives it; the C library only
// turns numbers into digits, and every piece is laid out here, so the output
// never passes the given size, whatever the format asks for.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"

namespace {

enum class SizeClass { kNone, kNarrow, kWide, k64 };

class BoundedWriter {
 public:
  BoundedWriter(char* dest, std::size_t room) : cursor(dest), end(dest + room) {}

  std::size_t Room() const { return static_cast<std::size_t>(end - cursor); }

  void Put(char c) {
    if (cursor < end) *cursor++ = c;
  }

  void Repeat(char c, long long times) {
    if (times <= 0) return;
    const std::size_t n = std::min(static_cast<std::size_t>(times), Room());
    std::memset(cursor, c, n);
    cursor += n;
  }

  void PutText(const char* text) {
    while (*text != '\0') Put(*text++);
  }

  char* Finish() {
    *cursor = '\0';
    return cursor;
  }

 private:
  char* cursor;
  char* end;  // where the terminator goes when the room is used up
};

// Decimal digits read as far as they go, saturating instead of overflowing.
int ReadNumber(const char*& p) {
  long long value = 0;
  while (*p >= '0' && *p <= '9') {
    value = std::min<long long>(value * 10 + (*p - '0'), INT_MAX);
    ++p;
  }
  return static_cast<int>(value);
}

// 16-bit characters become bytes where they fit and "?" where they do not.
char NarrowUnit(unsigned unit) { return unit <= 0xFF ? static_cast<char>(unit) : '?'; }

void PutPadded(BoundedWriter& out, const char* text8, const std::uint16_t* text16, bool wide,
               long long width, bool leftAlign, bool hasPrecision, int precision) {
  static const char kNullText[] = "(null)";
  static const std::uint16_t kNullText16[] = {'(', 'n', 'u', 'l', 'l', ')', 0};
  if (wide && text16 == nullptr) text16 = kNullText16;
  if (!wide && text8 == nullptr) text8 = kNullText;

  const long long limit = hasPrecision && precision >= 0 ? precision : LLONG_MAX;
  long long length = 0;
  if (wide) {
    while (length < limit && text16[length] != 0) ++length;
  } else {
    while (length < limit && text8[length] != '\0') ++length;
  }
  if (!leftAlign) out.Repeat(' ', width - length);
  for (long long i = 0; i < length; ++i) {
    out.Put(wide ? NarrowUnit(text16[i]) : text8[i]);
  }
  if (leftAlign) out.Repeat(' ', width - length);
}

// One integer conversion, laid out by hand so that widths and precisions cost
// only the room they fill, however large they are written.
void PutNumber(BoundedWriter& out, unsigned long long magnitude, bool negative, char conversion,
               const char* flags, int flagCount, long long width, bool leftAlign, bool hasPrecision,
               int precision) {
  const auto hasFlag = [&](char flag) { return std::memchr(flags, flag, flagCount) != nullptr; };
  char digits[32];
  const char* digitFormat = conversion == 'x'   ? "%llx"
                            : conversion == 'X' ? "%llX"
                            : conversion == 'o' ? "%llo"
                                                : "%llu";
  int digitCount = std::snprintf(digits, sizeof digits, digitFormat, magnitude);
  if (hasPrecision && precision == 0 && magnitude == 0) digitCount = 0;

  char prefix[3] = {};
  const bool isSigned = conversion == 'd' || conversion == 'i';
  if (isSigned && negative) {
    prefix[0] = '-';
  } else if (isSigned && hasFlag('+')) {
    prefix[0] = '+';
  } else if (isSigned && hasFlag(' ')) {
    prefix[0] = ' ';
  } else if (hasFlag('#') && magnitude != 0 && (conversion == 'x' || conversion == 'X')) {
    prefix[0] = '0';
    prefix[1] = conversion;
  } else if (hasFlag('#') && conversion == 'o' && (digitCount == 0 || digits[0] != '0')) {
    prefix[0] = '0';
  }
  const long long prefixLength = static_cast<long long>(std::strlen(prefix));
  long long zeros = hasPrecision && precision > digitCount ? precision - digitCount : 0;
  long long padding = width - prefixLength - zeros - digitCount;
  if (!leftAlign && hasFlag('0') && !hasPrecision && padding > 0) {
    zeros += padding;
    padding = 0;
  }
  if (!leftAlign) out.Repeat(' ', padding);
  out.PutText(prefix);
  out.Repeat('0', zeros);
  for (int i = 0; i < digitCount; ++i) out.Put(digits[i]);
  if (leftAlign) out.Repeat(' ', padding);
}

}  // namespace

int wvnsprintfA(LPSTR dest, int cchDest, LPCSTR format, va_list arguments) {
  if (dest == nullptr || cchDest <= 0) return -1;
  BoundedWriter out(dest, static_cast<std::size_t>(cchDest) - 1);
  if (format == nullptr) return static_cast<int>(out.Finish() - dest);

  va_list args;
  va_copy(args, arguments);
  const char* p = format;
  while (*p != '\0') {
    if (*p != '%') {
      out.Put(*p++);
      continue;
    }
    ++p;
    if (*p == '%') {
      out.Put('%');
      ++p;
      continue;
    }

    // The same reading as the length estimate, so that both take the same
    // argument slots: flags (with "*" widths), width, precision, size prefix.
    char flags[8];
    int flagCount = 0;
    int width = 0;
    for (;; ++p) {
      const char c = *p;
      if (c == '*') {
        width = va_arg(args, int);
      } else if (c == '#' || c == '-' || c == '+' || c == '0' || c == ' ') {
        if (flagCount < 5 && std::memchr(flags, c, flagCount) == nullptr) flags[flagCount++] = c;
      } else {
        break;
      }
    }
    if (width == 0) width = ReadNumber(p);
    bool hasPrecision = false;
    int precision = 0;
    if (*p == '.') {
      ++p;
      hasPrecision = true;
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
    const char conversion = *p;
    if (conversion != '\0') ++p;

    const bool leftAlign = std::memchr(flags, '-', flagCount) != nullptr || width < 0;
    const long long fieldWidth = width < 0 ? -static_cast<long long>(width) : width;

    switch (conversion) {
      case 'c':
      case 'C': {
        if (size == SizeClass::k64) break;
        const int value = va_arg(args, int);
        const bool wide = conversion == 'C' ? size != SizeClass::kNarrow : size == SizeClass::kWide;
        const char c =
            wide ? NarrowUnit(static_cast<unsigned>(value) & 0xFFFF) : static_cast<char>(value);
        if (!leftAlign) out.Repeat(' ', fieldWidth - 1);
        out.Put(c);
        if (leftAlign) out.Repeat(' ', fieldWidth - 1);
        break;
      }
      case 's':
      case 'S': {
        if (size == SizeClass::k64) break;
        const bool wide = conversion == 'S' ? size != SizeClass::kNarrow : size == SizeClass::kWide;
        const void* text = va_arg(args, const void*);
        PutPadded(out, static_cast<const char*>(text), static_cast<const std::uint16_t*>(text),
                  wide, fieldWidth, leftAlign, hasPrecision, precision);
        break;
      }
      case 'd':
      case 'i': {
        const long long value = size == SizeClass::k64 ? va_arg(args, long long)
                                                       : static_cast<long long>(va_arg(args, int));
        const unsigned long long magnitude = value < 0
                                                 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        PutNumber(out, magnitude, value < 0, conversion, flags, flagCount, fieldWidth, leftAlign,
                  hasPrecision, precision);
        break;
      }
      case 'o':
      case 'u':
      case 'x':
      case 'X': {
        const unsigned long long value =
            size == SizeClass::k64 ? va_arg(args, unsigned long long)
                                   : static_cast<unsigned long long>(va_arg(args, unsigned));
        PutNumber(out, value, false, conversion, flags, flagCount, fieldWidth, leftAlign,
                  hasPrecision, precision);
        break;
      }
      case 'p': {
        const void* pointer = va_arg(args, const void*);
        char digits[24];
        std::snprintf(digits, sizeof digits, "%0*llX", static_cast<int>(sizeof(void*) * 2),
                      static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)));
        out.PutText(digits);
        break;
      }
      case 'n':
        // Never stored through: a format must not be able to write memory.
        (void)va_arg(args, void*);
        break;
      case '\0':
        break;
      default:
        // Not a conversion of this dialect (floating point among them): the
        // character stands for itself and takes no argument.
        out.Put(conversion);
        break;
    }
  }
  va_end(args);
  return static_cast<int>(out.Finish() - dest);
}
