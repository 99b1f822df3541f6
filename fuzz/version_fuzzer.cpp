// Arbitrary file contents through the version services and the reader built
// on them. The first byte chooses: the bytes as the whole file (the ELF
// reading), or the bytes as the resource inside a well-formed ELF file (the
// resource reading), with a sub-block path to query and the buffer size to
// copy into. Whatever the file holds, every answer must lie inside the copy,
// which is allocated to the exact size asked for so that a read past it is
// caught.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "platform/posix/version_resource_format.h"
#include "platform/win32.h"
#include "tests/platform/elf_fixture.h"
#include "text/cstring.h"
#include "version/version_info.h"

namespace {

[[noreturn]] void Fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}
#define CHECK(condition) ((condition) ? static_cast<void>(0) : Fail(__FILE__, __LINE__, #condition))

// Writes the file of one input. The fuzzing engine may end the process
// without destroying static objects, so the folder lives only as long as
// the input it holds.
void WriteInput(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  CHECK(fd >= 0);
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    CHECK(n > 0);
    written += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

// Queries subBlock and checks that a found value lies inside the block's
// first `valid` bytes; an empty value is the NUL of its key.
void Query(const unsigned char* block, std::size_t valid, const std::string& subBlock) {
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, subBlock.c_str(), &value, &length)) {
    CHECK(value == nullptr && length == 0);
    return;
  }
  const auto* begin = static_cast<const unsigned char*>(value);
  CHECK(begin >= block && begin <= block + valid && length <= valid - (begin - block));
  if (length == 0) CHECK(begin < block + valid && *begin == '\0');
}

std::string Dotted(std::string text) {
  for (std::size_t at = text.find(", "); at != std::string::npos; at = text.find(", ", at + 1)) {
    text.replace(at, 2, ".");
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const elf_fixture::TempFolder folder;
  const std::string file = (folder.Path() / "input").string();
  const std::uint8_t mode = in.Byte();
  std::string subBlock = "\\";
  if ((mode & 1) != 0) {
    subBlock = in.Bytes(64);
    subBlock = subBlock.substr(0, subBlock.find('\0'));
    const std::string resource = in.Rest();
    const elf_fixture::ElfImage image =
        elf_fixture::MakeElf(elf_fixture::Bytes(resource.begin(), resource.end()));
    WriteInput(file, std::string(image.bytes.begin(), image.bytes.end()));
  } else {
    WriteInput(file, in.Rest());
  }
  const char* path = file.c_str();

  DWORD handle = 7;
  const DWORD resourceSize = GetFileVersionInfoSizeA(path, &handle);
  CHECK(handle == 0 && resourceSize <= version_resource::kMaxSize);

  // Exactly the size, less, more, or too little for a header.
  DWORD length = resourceSize;
  switch ((mode >> 1) & 3) {
    case 1:
      length = resourceSize / 2;
      break;
    case 2:
      length = resourceSize + 16;
      break;
    case 3:
      length = static_cast<DWORD>(version_resource::kHeaderSize - 1);
      break;
    default:
      break;
  }
  const std::unique_ptr<unsigned char[]> block(new unsigned char[length == 0 ? 1 : length]);
  const BOOL copied = GetFileVersionInfoA(path, handle, length, block.get());
  if (resourceSize == 0 || length < version_resource::kHeaderSize) CHECK(!copied);
  if (copied) {
    // The copy states a length that never passes what it holds.
    const std::size_t valid = std::min<std::size_t>(length, resourceSize);
    CHECK(version_resource::Read16(block.get(), 0) <= valid);
    Query(block.get(), valid, subBlock);
    Query(block.get(), valid, "\\");
    Query(block.get(), valid, "\\StringFileInfo\\040904B0\\FileVersion");
    Query(block.get(), valid, "\\VarFileInfo\\Translation");
  }

  // The reader never fails, and what it shows is consistent with itself
  // (where nothing could be read, both are "N/A").
  const VersionInfo info{CString(path)};
  const std::string fileVersion(info.GetFileVersion());
  CHECK(std::string(info.GetDottedFileVersion()) == Dotted(fileVersion));
  if (!copied && length == resourceSize) CHECK(fileVersion == "N/A");
  return 0;
}
