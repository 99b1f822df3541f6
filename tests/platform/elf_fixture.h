// Fixture files for the version services and their reader: a temporary folder
// to write them in, and minimal ELF files that carry a version
// resource, or something posing as one, in a named section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/version_resource_format.h"
#include "tests/support/temp_tree.h"

namespace elf_fixture {

using Bytes = std::vector<unsigned char>;

class TempFolder : public TempTree {
 public:
  const std::filesystem::path& Path() const { return Root(); }
  // Both answer the path of the file made inside the folder.
  std::string Write(const std::string& name, const Bytes& bytes) const;
  std::string MakeFifo(const std::string& name) const;
};

// The resource the build would embed for these strings under the table key.
Bytes Resource(std::initializer_list<version_resource::StringEntry> strings,
               std::string_view table = "040904b0");
// A resource of any shape: write opens and closes its nodes.
Bytes Layout(const std::function<void(version_resource::NodeWriter&)>& write);

// An ELF64 little-endian file whose section sectionName holds contents.
struct ElfImage {
  Bytes bytes;
  std::size_t contentsOffset;
  std::size_t sectionHeaderOffset;
};
ElfImage MakeElf(const Bytes& contents,
                 std::string_view sectionName = version_resource::kSectionName);

// Header fields the tests damage; section fields are relative to a section
// header. The header of the section names follows that of the contents.
inline constexpr std::size_t kElfClass = 4;
inline constexpr std::size_t kElfData = 5;
inline constexpr std::size_t kSectionTableOffset = 0x28;  // 64 bits
inline constexpr std::size_t kNamesIndex = 0x3E;          // 16 bits
inline constexpr std::size_t kSectionType = 0x04;         // 32 bits
inline constexpr std::size_t kSectionOffset = 0x18;       // 64 bits
inline constexpr std::size_t kSectionSize = 0x20;         // 64 bits
inline constexpr std::size_t kSectionHeaderSize = 0x40;

// Stores value little-endian in width bytes at offset.
void Poke(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width);
// The offset of the first occurrence of text; throws when there is none.
std::size_t Find(const Bytes& bytes, std::string_view text);

}  // namespace elf_fixture
