// Fixture files for the tests of the version services and of their reader: a
// temporary folder removed with its contents, and minimal ELF files that carry
// a version resource, or something posing as one, in a named section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/version_resource_format.h"

namespace elf_fixture {

using Bytes = std::vector<unsigned char>;

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path; }
  // Writes bytes to the file name inside the folder; answers its path.
  std::string Write(const std::string& name, const Bytes& bytes) const;
  // Makes a FIFO called name inside the folder; answers its path.
  std::string MakeFifo(const std::string& name) const;

 private:
  std::filesystem::path path;
};

// The resource the build would embed for these strings under the table key.
Bytes Resource(std::initializer_list<version_resource::StringEntry> strings,
               std::string_view table = "040904b0");

// An ELF64 little-endian file whose section sectionName holds contents, with
// the offsets a test needs to damage it.
struct ElfImage {
  Bytes bytes;
  std::size_t contentsOffset;       // of the section's contents
  std::size_t sectionHeaderOffset;  // of the section's header
};
ElfImage MakeElf(const Bytes& contents,
                 std::string_view sectionName = version_resource::kSectionName);

// Offsets of the header fields the tests damage.
inline constexpr std::size_t kElfClass = 4;
inline constexpr std::size_t kElfData = 5;
inline constexpr std::size_t kSectionTableOffset = 0x28;  // 64 bits
inline constexpr std::size_t kNamesIndex = 0x3E;          // 16 bits
inline constexpr std::size_t kSectionType = 0x04;         // 32 bits, within a section header
inline constexpr std::size_t kSectionOffset = 0x18;       // 64 bits, within a section header
inline constexpr std::size_t kSectionSize = 0x20;         // 64 bits, within a section header

// Stores value little-endian in width bytes at offset.
void Poke(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width);

// The offset of the first occurrence of text in bytes; the test fails without one.
std::size_t Find(const Bytes& bytes, std::string_view text);

}  // namespace elf_fixture
