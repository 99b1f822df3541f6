// ASCII letter case, the only case that the platform's file names and
// version keys, and the tool's options, ignore: A-Z are taken as a-z and
// every other byte as itself, whatever the locale or code page. Nothing here
// depends on the operating system, so the core and the POSIX layer share it.
#pragma once

#include <cstddef>

constexpr char FoldAsciiCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether the first length characters of a and b are equal, letter case
// aside. The comparison stops at the first difference, so a text shorter than
// length may be passed: it differs at its terminator, and nothing past that
// is read.
constexpr bool EqualFoldingAsciiCase(const char* a, const char* b, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i])) return false;
  }
  return true;
}
