// Locating a named section in an ELF file without loading or mapping it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Where a section's contents lie in its file.
struct ElfSection {
  std::uint64_t offset;
  std::uint64_t size;
};

// Finds the first section called name, with contents in the file, in the
// 64-bit little-endian ELF file open on fd. False for any other file, and for
// one whose headers point outside it.
bool FindElfSection(int fd, std::string_view name, ElfSection& section);

// Reads exactly size bytes at offset; false on a short read or an error.
bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size);
