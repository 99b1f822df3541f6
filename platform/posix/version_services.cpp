// The version services of the Win32 interface over the resource that the build
// embeds in an executable's ELF section (see version_resource_format.h). They
// read the file at the given path, never the running process's memory, so any
// executable, or a test's fixture file, can be asked.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "platform/posix/elf_section.h"
#include "platform/posix/error_from_errno.h"
#include "platform/posix/version_resource_format.h"
#include "platform/win32.h"

namespace {

using version_resource::kHeaderSize;
using version_resource::kRootKey;

// Closes the descriptor it holds when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int value) : fd(value) {}
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int Get() const { return fd; }

 private:
  int fd;
};

// Opens fileName for reading; -1 with the last error set when it cannot.
// Non-blocking, so that a FIFO given as the path cannot hang the caller.
int OpenForReading(LPCSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) SetLastError(ErrorFromErrno(errno, ERROR_FILE_NOT_FOUND));
  return fd;
}

// Finds the resource in the open file: answers the offset of the block and its
// length as the block's root node states it, checked to lie inside the
// section. Sets the last error and answers 0 when the file has none.
DWORD LocateResource(int fd, std::uint64_t& offset) {
  if (fd < 0) return 0;
  unsigned char root[kHeaderSize + kRootKey.size() + 1];  // header and key of the root node
  ElfSection section;
  if (!FindElfSection(fd, version_resource::kSectionName, section) || section.size < sizeof root ||
      !ReadAt(fd, section.offset, root, sizeof root)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  const DWORD length = version_resource::Read16(root, 0);
  const std::string_view key(reinterpret_cast<const char*>(root + kHeaderSize),
                             kRootKey.size() + 1);
  if (length < sizeof root || length > section.size || key.substr(0, kRootKey.size()) != kRootKey ||
      key.back() != '\0') {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  offset = section.offset;
  return length;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  if (handle != nullptr) *handle = 0;
  const FileDescriptor file(OpenForReading(fileName));
  std::uint64_t offset = 0;
  return LocateResource(file.Get(), offset);
}

// Copies what fits of the resource. A copy shorter than the resource gets
// its root length lowered to what was copied, so that VerQueryValueA, which
// knows the block only by that length, never reads past the caller's buffer.
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD /*handle*/, DWORD length, LPVOID data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const FileDescriptor file(OpenForReading(fileName));
  std::uint64_t offset = 0;
  const DWORD size = LocateResource(file.Get(), offset);
  if (size == 0) return FALSE;
  if (length < kHeaderSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const DWORD copied = length < size ? length : size;
  auto* block = static_cast<unsigned char*>(data);
  if (!ReadAt(file.Get(), offset, block, copied)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  // Read again from the copy: the file may have changed since it was located.
  if (version_resource::Read16(block, 0) > copied) {
    block[0] = static_cast<unsigned char>(copied & 0xFF);
    block[1] = static_cast<unsigned char>(copied >> 8);
  }
  return TRUE;
}

// Resolves a path of keys separated by backslashes from the root node, such as
// \StringFileInfo\040904B0\FileVersion ("\" alone names the root), comparing
// keys without regard to letter case. A text value answers its length in
// characters, its NUL included; any other value its length in bytes; a node
// without a value answers length 0 and an empty text. The block must be one
// that GetFileVersionInfoA filled: its root length never exceeds what it holds.
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  if (buffer != nullptr) *buffer = nullptr;
  if (length != nullptr) *length = 0;
  if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto* bytes = static_cast<const unsigned char*>(block);
  const std::span<const unsigned char> all(bytes, version_resource::Read16(bytes, 0));

  version_resource::Node node;
  if (!version_resource::ReadNode(all, 0, all.size(), node)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  const std::string_view path(subBlock);
  std::size_t position = 0;
  while (position < path.size()) {
    const std::size_t separator = std::min(path.find('\\', position), path.size());
    const std::string_view key = path.substr(position, separator - position);
    position = separator + 1;
    if (key.empty()) continue;
    version_resource::Node child;
    if (!version_resource::FindChild(all, node, key, child)) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    node = child;
  }

  const unsigned char* value = bytes + node.valueOffset;
  UINT valueLength = static_cast<UINT>(node.valueLength);
  if (node.valueLength == 0) {
    value = bytes + node.offset + kHeaderSize + node.key.size();  // the key's NUL
  } else if (node.type == version_resource::kText) {
    const void* end = std::memchr(value, '\0', node.valueLength);
    if (end == nullptr) {  // a text must end inside its own node
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    valueLength = static_cast<UINT>(static_cast<const unsigned char*>(end) - value + 1);
  }
  *buffer = const_cast<unsigned char*>(value);
  *length = valueLength;
  return TRUE;
}
