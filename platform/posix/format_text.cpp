// Bounded formatter in the Win32 dialect. Each conversion is taken apart here
// and its argument read with the type the dialect gives it; the C library only
// turns numbers into digits, and every piece is laid out here, so the output
// never passes the given size, whatever the format asks for.
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/win32.h"
#include "text/format_dialect.h"

namespace {

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
               unsigned flags, long long width, bool leftAlign, bool hasPrecision, int precision) {
  const auto hasFlag = [&](unsigned flag) { return (flags & flag) != 0; };
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
  } else if (isSigned && hasFlag(format_dialect::kPlus)) {
    prefix[0] = '+';
  } else if (isSigned && hasFlag(format_dialect::kSpace)) {
    prefix[0] = ' ';
  } else if (hasFlag(format_dialect::kAlternate) && magnitude != 0 &&
             (conversion == 'x' || conversion == 'X')) {
    prefix[0] = '0';
    prefix[1] = conversion;
  } else if (hasFlag(format_dialect::kAlternate) && conversion == 'o' &&
             (digitCount == 0 || digits[0] != '0')) {
    prefix[0] = '0';
  }
  const long long prefixLength = static_cast<long long>(std::strlen(prefix));
  long long zeros = hasPrecision && precision > digitCount ? precision - digitCount : 0;
  long long padding = width - prefixLength - zeros - digitCount;
  if (!leftAlign && hasFlag(format_dialect::kZeroFill) && !hasPrecision && padding > 0) {
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

    // Read as the counted string's length estimate reads it, so that both
    // take the same argument slots; laying it out is this formatter's own.
    const format_dialect::Conversion spec = format_dialect::ReadConversion(p, &args);
    const int width = spec.width;
    const bool hasPrecision = spec.hasPrecision;
    const int precision = spec.precision;
    const format_dialect::Size size = spec.size;
    const char conversion = *p;
    if (conversion != '\0') ++p;

    const bool leftAlign = (spec.flags & format_dialect::kLeftAlign) != 0 || width < 0;
    const long long fieldWidth = width < 0 ? -static_cast<long long>(width) : width;

    switch (conversion) {
      case 'c':
      case 'C': {
        if (size == format_dialect::Size::k64) break;
        const int value = va_arg(args, int);
        const bool wide = conversion == 'C' ? size != format_dialect::Size::kNarrow
                                            : size == format_dialect::Size::kWide;
        const char c =
            wide ? NarrowUnit(static_cast<unsigned>(value) & 0xFFFF) : static_cast<char>(value);
        if (!leftAlign) out.Repeat(' ', fieldWidth - 1);
        out.Put(c);
        if (leftAlign) out.Repeat(' ', fieldWidth - 1);
        break;
      }
      case 's':
      case 'S': {
        if (size == format_dialect::Size::k64) break;
        const bool wide = conversion == 'S' ? size != format_dialect::Size::kNarrow
                                            : size == format_dialect::Size::kWide;
        const void* text = va_arg(args, const void*);
        PutPadded(out, static_cast<const char*>(text), static_cast<const std::uint16_t*>(text),
                  wide, fieldWidth, leftAlign, hasPrecision, precision);
        break;
      }
      case 'd':
      case 'i': {
        const long long value = size == format_dialect::Size::k64
                                    ? va_arg(args, long long)
                                    : static_cast<long long>(va_arg(args, int));
        const unsigned long long magnitude = value < 0
                                                 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        PutNumber(out, magnitude, value < 0, conversion, spec.flags, fieldWidth, leftAlign,
                  hasPrecision, precision);
        break;
      }
      case 'o':
      case 'u':
      case 'x':
      case 'X': {
        const unsigned long long value =
            size == format_dialect::Size::k64
                ? va_arg(args, unsigned long long)
                : static_cast<unsigned long long>(va_arg(args, unsigned));
        PutNumber(out, value, false, conversion, spec.flags, fieldWidth, leftAlign, hasPrecision,
                  precision);
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
