// The version resource as this platform's executables carry it: one block in
// the ELF section kSectionName, a tree of nodes, all numbers little-endian.
//
// A node is
//   16 bits  length        bytes of the node, its children included
//   16 bits  value length  bytes of the value; a text value counts its NUL
//   16 bits  type          kText or kBinary
//   key      8-bit text with its NUL
//   padding  to a multiple of 4 from the start of the block
//   value
//   children, each starting at a multiple of 4 from the start of the block
//
// The root node (key kRootKey) carries no value; below it "StringFileInfo"
// holds one table per language and code page ("040904b0") with one text node
// per string, and "VarFileInfo" holds "Translation", the pairs of 16-bit
// language and code page the tables are written in. The block carries its
// own total length in the root node, so a reader given only a pointer knows
// where it ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace version_resource {

inline constexpr char kSectionName[] = ".packhound.version";
inline constexpr std::string_view kRootKey = "VS_VERSION_INFO";
inline constexpr std::size_t kHeaderSize = 6;
inline constexpr std::size_t kMaxSize = 0xFFFF;  // the root's length field is 16 bits
inline constexpr std::uint16_t kBinary = 0;
inline constexpr std::uint16_t kText = 1;

constexpr std::size_t Align4(std::size_t offset) { return (offset + 3) & ~std::size_t{3}; }

// Lays nodes out into out, or only measures them when out is null, so that one
// path both sizes the constant array of the build and fills it.
class NodeWriter {
 public:
  constexpr explicit NodeWriter(unsigned char* destination) : out(destination) {}

  // Starts a node and answers its offset; nodes opened before its Close are
  // its children. A text value gets its NUL here.
  constexpr std::size_t Open(std::string_view key, std::uint16_t type, std::string_view value) {
    PadTo4();
    const std::size_t start = size;
    Put16(0);  // the length, known at Close
    Put16(value.size() + (type == kText ? 1 : 0));
    Put16(type);
    PutText(key);
    PadTo4();
    if (type == kText) {
      PutText(value);
    } else {
      for (const char c : value) Put8(static_cast<unsigned char>(c));
    }
    return start;
  }

  constexpr void Close(std::size_t start) { Patch16(start, size - start); }

  // Bytes written so far; 0 when some length overflowed its 16 bits.
  constexpr std::size_t Size() const { return fits ? size : 0; }

 private:
  constexpr void Put8(unsigned char byte) {
    if (out != nullptr) out[size] = byte;
    ++size;
  }
  constexpr void Put16(std::size_t value) {
    Put8(static_cast<unsigned char>(value & 0xFF));
    Put8(static_cast<unsigned char>((value >> 8) & 0xFF));
    if (value > 0xFFFF) fits = false;
  }
  constexpr void Patch16(std::size_t at, std::size_t value) {
    if (value > 0xFFFF) fits = false;
    if (out == nullptr) return;
    out[at] = static_cast<unsigned char>(value & 0xFF);
    out[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  }
  constexpr void PutText(std::string_view text) {
    for (const char c : text) Put8(static_cast<unsigned char>(c));
    Put8(0);
  }
  constexpr void PadTo4() {
    while (size % 4 != 0) Put8(0);
  }

  unsigned char* out;
  std::size_t size = 0;
  bool fits = true;
};

struct StringEntry {
  std::string_view key;
  std::string_view value;
};

// One string table with the translation pair that names it.
struct StringTable {
  std::string_view key;  // language and code page in hexadecimal, "040904b0"
  std::uint16_t language;
  std::uint16_t codePage;
  std::span<const StringEntry> strings;
};

// Writes the whole resource for table into out (or measures it when out is
// null); answers its size, 0 when it does not fit kMaxSize.
constexpr std::size_t Encode(const StringTable& table, unsigned char* out) {
  NodeWriter writer(out);
  const std::size_t root = writer.Open(kRootKey, kBinary, {});
  const std::size_t fileInfo = writer.Open("StringFileInfo", kBinary, {});
  const std::size_t strings = writer.Open(table.key, kBinary, {});
  for (const StringEntry& entry : table.strings) {
    writer.Close(writer.Open(entry.key, kText, entry.value));
  }
  writer.Close(strings);
  writer.Close(fileInfo);
  const char pair[] = {
      static_cast<char>(table.language & 0xFF), static_cast<char>(table.language >> 8),
      static_cast<char>(table.codePage & 0xFF), static_cast<char>(table.codePage >> 8)};
  const std::size_t varInfo = writer.Open("VarFileInfo", kBinary, {});
  writer.Close(writer.Open("Translation", kBinary, std::string_view(pair, sizeof pair)));
  writer.Close(varInfo);
  writer.Close(root);
  return writer.Size();
}

// The resource as a constant array; N must be Encode(table, nullptr).
template <std::size_t N>
constexpr std::array<unsigned char, N> EncodeArray(const StringTable& table) {
  std::array<unsigned char, N> bytes{};
  Encode(table, bytes.data());
  return bytes;
}

// One node read back from a block; every part lies inside the block.
struct Node {
  std::size_t offset;  // of its header
  std::size_t end;     // one past its last byte
  std::string_view key;
  std::uint16_t type;
  std::size_t valueOffset;
  std::size_t valueLength;  // bytes
  std::size_t childrenOffset;
};

// The 16-bit little-endian number at offset; the caller checked the bounds.
std::uint16_t Read16(const unsigned char* bytes, std::size_t offset);

// Reads the node that starts at offset and has to end by limit (limit is at
// most block.size()). False when its header, key or value would not fit.
bool ReadNode(std::span<const unsigned char> block, std::size_t offset, std::size_t limit,
              Node& node);

// Steps through the children of parent: cursor starts at parent.childrenOffset.
// False after the last child, or at a child that is malformed.
bool NextChild(std::span<const unsigned char> block, const Node& parent, std::size_t& cursor,
               Node& child);

// The child whose key equals key without regard to ASCII letter case.
bool FindChild(std::span<const unsigned char> block, const Node& parent, std::string_view key,
               Node& child);

}  // namespace version_resource
