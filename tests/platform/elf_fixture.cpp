#include "tests/platform/elf_fixture.h"

#include <elf.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <stdexcept>

namespace elf_fixture {

static_assert(kElfClass == EI_CLASS && kElfData == EI_DATA);
static_assert(kSectionTableOffset == offsetof(Elf64_Ehdr, e_shoff));
static_assert(kNamesIndex == offsetof(Elf64_Ehdr, e_shstrndx));
static_assert(kSectionType == offsetof(Elf64_Shdr, sh_type));
static_assert(kSectionOffset == offsetof(Elf64_Shdr, sh_offset));
static_assert(kSectionSize == offsetof(Elf64_Shdr, sh_size));
static_assert(kSectionHeaderSize == sizeof(Elf64_Shdr));

std::string TempFolder::Write(const std::string& name, const Bytes& bytes) const {
  const std::filesystem::path file = Path() / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
  return file.string();
}

std::string TempFolder::MakeFifo(const std::string& name) const {
  const std::string file = (Path() / name).string();
  if (::mkfifo(file.c_str(), 0600) != 0) throw std::runtime_error("cannot make " + file);
  return file;
}

Bytes Resource(std::initializer_list<version_resource::StringEntry> strings,
               std::string_view table) {
  const version_resource::StringTable contents{table, 0x0409, 0x04B0, strings};
  Bytes bytes(version_resource::Encode(contents, nullptr));
  version_resource::Encode(contents, bytes.data());
  return bytes;
}

Bytes Layout(const std::function<void(version_resource::NodeWriter&)>& write) {
  version_resource::NodeWriter measure(nullptr);
  write(measure);
  Bytes bytes(measure.Size());
  version_resource::NodeWriter writer(bytes.data());
  write(writer);
  return bytes;
}

void Poke(Bytes& bytes, std::size_t offset, std::uint64_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes.at(offset + i) = (value >> (8 * i)) & 0xFF;
}

std::size_t Find(const Bytes& bytes, std::string_view text) {
  const auto at = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
  if (at == bytes.end()) throw std::runtime_error("fixture lacks " + std::string(text));
  return static_cast<std::size_t>(at - bytes.begin());
}

ElfImage MakeElf(const Bytes& contents, std::string_view sectionName) {
  const auto align8 = [](std::size_t n) { return (n + 7) & ~std::size_t{7}; };
  const std::string names =
      std::string(1, '\0') + std::string(sectionName) + '\0' + ".shstrtab" + '\0';
  const std::size_t contentsOffset = sizeof(Elf64_Ehdr);
  const std::size_t namesOffset = align8(contentsOffset + contents.size());
  const std::size_t tableOffset = align8(namesOffset + names.size());

  ElfImage image;
  image.bytes.assign(tableOffset + 3 * sizeof(Elf64_Shdr), 0);
  image.contentsOffset = contentsOffset;
  image.sectionHeaderOffset = tableOffset + sizeof(Elf64_Shdr);
  Bytes& b = image.bytes;
  const std::string_view magic(ELFMAG, SELFMAG);
  std::copy(magic.begin(), magic.end(), b.begin());
  b[EI_CLASS] = ELFCLASS64;
  b[EI_DATA] = ELFDATA2LSB;
  b[EI_VERSION] = EV_CURRENT;
  Poke(b, offsetof(Elf64_Ehdr, e_type), ET_EXEC, 2);
  Poke(b, offsetof(Elf64_Ehdr, e_machine), EM_X86_64, 2);
  Poke(b, offsetof(Elf64_Ehdr, e_version), EV_CURRENT, 4);
  Poke(b, offsetof(Elf64_Ehdr, e_shoff), tableOffset, 8);
  Poke(b, offsetof(Elf64_Ehdr, e_ehsize), sizeof(Elf64_Ehdr), 2);
  Poke(b, offsetof(Elf64_Ehdr, e_shentsize), sizeof(Elf64_Shdr), 2);
  Poke(b, offsetof(Elf64_Ehdr, e_shnum), 3, 2);
  Poke(b, offsetof(Elf64_Ehdr, e_shstrndx), 2, 2);
  std::copy(contents.begin(), contents.end(),
            b.begin() + static_cast<std::ptrdiff_t>(contentsOffset));
  std::copy(names.begin(), names.end(), b.begin() + static_cast<std::ptrdiff_t>(namesOffset));

  // Section 0 stays null; 1 holds the contents, 2 the section names.
  const auto section = [&](std::size_t index, std::size_t name, std::uint32_t type,
                           std::size_t offset, std::size_t size) {
    const std::size_t at = tableOffset + index * sizeof(Elf64_Shdr);
    Poke(b, at + offsetof(Elf64_Shdr, sh_name), name, 4);
    Poke(b, at + offsetof(Elf64_Shdr, sh_type), type, 4);
    Poke(b, at + offsetof(Elf64_Shdr, sh_offset), offset, 8);
    Poke(b, at + offsetof(Elf64_Shdr, sh_size), size, 8);
    Poke(b, at + offsetof(Elf64_Shdr, sh_addralign), 1, 8);
  };
  section(1, 1, SHT_PROGBITS, contentsOffset, contents.size());
  section(2, sectionName.size() + 2, SHT_STRTAB, namesOffset, names.size());
  return image;
}

}  // namespace elf_fixture
