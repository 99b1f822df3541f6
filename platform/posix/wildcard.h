// File-name wildcards as Win32 applies them to a directory listing.
#pragma once

#include <cstddef>

// '*' matches any run of characters, '?' exactly one, and every other
// character itself, ASCII letter case ignored. A pattern that ends in ".*"
// may also match the end of the name, so "*.*" and "name.*" take names
// without a dot as well.
bool MatchesWildcard(const char* pattern, std::size_t patternLength, const char* name);

// True for the patterns that take every name ("*" and "*.*").
bool MatchesEveryName(const char* pattern, std::size_t patternLength);
