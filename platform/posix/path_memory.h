// The path of the directory a walk is in, kept from one request to the next:
// the next directory the walk asks for shares a leading part with it, which
// is neither copied again nor compared again character by character with
// every directory held.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

class PathMemory {
 public:
  // Holds the first length characters of path, of which the first keep are
  // held already and are not copied again. False when memory is short: what
  // was held is then held still.
  bool Remember(const char* path, std::size_t keep, std::size_t length);

  // Whether path begins with the first prefix characters held.
  bool Leads(const char* path, std::size_t prefix) const {
    return prefix <= length && std::memcmp(path, text.get(), prefix) == 0;
  }

 private:
  std::unique_ptr<char[]> text;
  std::size_t capacity = 0;
  std::size_t length = 0;
};
