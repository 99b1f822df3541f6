// Reads only the ELF header, the section headers and the section names, one
// small read at a time: a hostile file can make the search fail, never make
// it allocate or read outside the file.
#include "platform/posix/elf_section.h"

#include <elf.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

namespace {

// Fields are decoded byte by byte: the file is little-endian whatever the host is.
std::uint64_t ReadLittleEndian(const unsigned char* bytes, std::size_t width) {
  std::uint64_t value = 0;
  for (std::size_t i = width; i > 0; --i) value = (value << 8) | bytes[i - 1];
  return value;
}

// A field of an ELF record, read at its offset with its width.
#define FIELD(record, bytes, field) \
  ReadLittleEndian((bytes) + offsetof(record, field), sizeof(record::field))

// True when [offset, offset + size) lies inside a file of fileSize bytes.
bool InsideFile(std::uint64_t offset, std::uint64_t size, std::uint64_t fileSize) {
  return offset <= fileSize && size <= fileSize - offset;
}

struct SectionHeader {
  std::uint64_t name;
  std::uint64_t type;
  std::uint64_t offset;
  std::uint64_t size;
};

bool ReadSectionHeader(int fd, std::uint64_t at, SectionHeader& header) {
  unsigned char bytes[sizeof(Elf64_Shdr)];
  if (!ReadAt(fd, at, bytes, sizeof bytes)) return false;
  header.name = FIELD(Elf64_Shdr, bytes, sh_name);
  header.type = FIELD(Elf64_Shdr, bytes, sh_type);
  header.offset = FIELD(Elf64_Shdr, bytes, sh_offset);
  header.size = FIELD(Elf64_Shdr, bytes, sh_size);
  return true;
}

bool HasContents(const SectionHeader& header, std::uint64_t fileSize) {
  return header.type != SHT_NOBITS && InsideFile(header.offset, header.size, fileSize);
}

}  // namespace

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ssize_t got = ::pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return true;
}

bool FindElfSection(int fd, std::string_view name, ElfSection& section) {
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const auto fileSize = static_cast<std::uint64_t>(status.st_size);

  unsigned char file[sizeof(Elf64_Ehdr)];
  if (!ReadAt(fd, 0, file, sizeof file)) return false;
  if (std::memcmp(file, ELFMAG, SELFMAG) != 0 || file[EI_CLASS] != ELFCLASS64 ||
      file[EI_DATA] != ELFDATA2LSB) {
    return false;
  }
  const std::uint64_t tableOffset = FIELD(Elf64_Ehdr, file, e_shoff);
  const std::uint64_t entrySize = FIELD(Elf64_Ehdr, file, e_shentsize);
  const std::uint64_t count = FIELD(Elf64_Ehdr, file, e_shnum);
  const std::uint64_t namesIndex = FIELD(Elf64_Ehdr, file, e_shstrndx);
  // Extended numbering (a count of 0, an index of SHN_XINDEX) lands here too:
  // our executables never have that many sections.
  if (tableOffset == 0 || count == 0 || entrySize < sizeof(Elf64_Shdr) || namesIndex >= count ||
      !InsideFile(tableOffset, count * entrySize, fileSize)) {
    return false;
  }

  SectionHeader names;
  if (!ReadSectionHeader(fd, tableOffset + namesIndex * entrySize, names) ||
      !HasContents(names, fileSize)) {
    return false;
  }

  // A section's name matches when the name table holds name and its NUL there.
  char candidate[64];
  if (name.size() + 1 > sizeof candidate) return false;
  for (std::uint64_t index = 1; index < count; ++index) {
    SectionHeader header;
    if (!ReadSectionHeader(fd, tableOffset + index * entrySize, header)) return false;
    if (header.name >= names.size || names.size - header.name < name.size() + 1) continue;
    if (!ReadAt(fd, names.offset + header.name, candidate, name.size() + 1)) return false;
    if (candidate[name.size()] != '\0' ||
        name.compare(0, name.size(), candidate, name.size()) != 0) {
      continue;
    }
    if (!HasContents(header, fileSize)) return false;
    section.offset = header.offset;
    section.size = header.size;
    return true;
  }
  return false;
}
