// Reading the nodes of a version resource. Every offset is checked against the
// node that contains it before it is used, so a corrupt block can only make a
// lookup fail.
#include "platform/posix/version_resource_format.h"

#include <cstring>

#include "text/ascii_case.h"

namespace version_resource {

std::uint16_t Read16(const unsigned char* bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

bool ReadNode(std::span<const unsigned char> block, std::size_t offset, std::size_t limit,
              Node& node) {
  if (limit > block.size() || offset > limit || limit - offset < kHeaderSize) return false;
  const std::size_t length = Read16(block.data(), offset);
  // Room for at least the key's NUL also guarantees that walking siblings advances.
  if (length <= kHeaderSize || length > limit - offset) return false;
  node.offset = offset;
  node.end = offset + length;

  const char* keyBegin = reinterpret_cast<const char*>(block.data() + offset + kHeaderSize);
  const void* keyEnd = std::memchr(keyBegin, '\0', length - kHeaderSize);
  if (keyEnd == nullptr) return false;
  node.key = std::string_view(keyBegin, static_cast<const char*>(keyEnd) - keyBegin);
  node.type = Read16(block.data(), offset + 4);

  node.valueOffset = Align4(offset + kHeaderSize + node.key.size() + 1);
  node.valueLength = Read16(block.data(), offset + 2);
  if (node.valueLength > 0 &&
      (node.valueOffset > node.end || node.valueLength > node.end - node.valueOffset)) {
    return false;
  }
  node.childrenOffset = Align4(node.valueOffset + node.valueLength);
  return true;
}

bool NextChild(std::span<const unsigned char> block, const Node& parent, std::size_t& cursor,
               Node& child) {
  if (cursor >= parent.end || !ReadNode(block, cursor, parent.end, child)) return false;
  cursor = Align4(child.end);
  return true;
}

bool FindChild(std::span<const unsigned char> block, const Node& parent, std::string_view key,
               Node& child) {
  std::size_t cursor = parent.childrenOffset;
  while (NextChild(block, parent, cursor, child)) {
    if (child.key.size() == key.size() &&
        EqualFoldingAsciiCase(child.key.data(), key.data(), key.size())) {
      return true;
    }
  }
  return false;
}

}  // namespace version_resource
