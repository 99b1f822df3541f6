// printf-style formatting into a CString: one walk over the format estimates
// an upper bound of the output, the buffer is made that large once, and the
// platform's bounded formatter writes into it.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>

#include "text/cstring.h"
#include "text/format_dialect.h"

namespace {

constexpr char kFloatingPointRefusal[] =
    "Floating point (%%e, %%f, %%g, and %%G) is not supported by the CString class.";

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

    // Read as the platform's formatter reads it, so that both take the same
    // argument slots. What the estimate makes of it is its own: it only
    // bounds the output, generously where the output depends on the value.
    const format_dialect::Conversion spec = format_dialect::ReadConversion(p, &args);
    total += 2 * static_cast<long long>(spec.alternateCount);  // room for a "0x" prefix each
    const int width = spec.width;
    const int precision = spec.precision;
    const format_dialect::Size size = spec.size;

    long long item = 0;
    bool isText = false;
    const char conversion = *p;
    const long long numberLength =
        std::max<long long>(32, static_cast<long long>(width) + precision);
    switch (conversion) {
      case 'c':
      case 'C':
        if (size == format_dialect::Size::k64) break;
        (void)va_arg(args, int);
        item = 2;
        isText = true;
        break;
      case 's':
      case 'S': {
        if (size == format_dialect::Size::k64) break;
        const bool wide = conversion == 'S' ? size != format_dialect::Size::kNarrow
                                            : size == format_dialect::Size::kWide;
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
        if (size == format_dialect::Size::k64) {
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
