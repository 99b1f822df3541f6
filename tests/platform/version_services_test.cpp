#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "platform/win32.h"
#include "tests/platform/elf_fixture.h"

namespace {

using elf_fixture::Bytes;
using elf_fixture::ElfImage;
using elf_fixture::MakeElf;
using elf_fixture::Poke;
using elf_fixture::Resource;

const char* const kKeys[] = {"CompanyName", "FileVersion", "ProductName", "ProductVersion"};

Bytes FullResource() {
  return Resource({{"CompanyName", "Mistlake"},
                   {"FileVersion", "1, 0, 1, 2"},
                   {"ProductName", "Packhounnd"},
                   {"ProductVersion", "1, 0, 0, 0"}});
}

// What VerQueryValueA answers for subBlock: "<none>" when it fails, else the
// value up to its length. Checks that the value lies inside the first
// `valid` bytes of the block, and that a text ends there with its NUL.
std::string Query(const Bytes& block, std::size_t valid, const char* subBlock, bool text = true) {
  LPVOID value = reinterpret_cast<LPVOID>(1);
  UINT length = 7;
  if (!VerQueryValueA(block.data(), subBlock, &value, &length)) {
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(length, 0U);
    return "<none>";
  }
  const auto* begin = static_cast<const unsigned char*>(value);
  EXPECT_TRUE(begin >= block.data() && begin + length <= block.data() + valid) << subBlock;
  if (!text) return std::string(reinterpret_cast<const char*>(begin), length);
  if (length == 0) return "";
  EXPECT_EQ(begin[length - 1], '\0') << subBlock;
  return std::string(reinterpret_cast<const char*>(begin), length - 1);
}

// The block as the reader gets it: sized, then copied. Empty when either fails.
Bytes ReadBlock(const std::string& path) {
  DWORD handle = 7;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  EXPECT_EQ(handle, 0U);
  EXPECT_LE(size, version_resource::kMaxSize);
  if (size == 0) return {};
  Bytes block(size);
  if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data())) return {};
  return block;
}

class VersionServicesTest : public ::testing::Test {
 protected:
  elf_fixture::TempFolder folder;
};

TEST_F(VersionServicesTest, PathsResolveWithoutRegardToLetterCase) {
  const Bytes block = ReadBlock(folder.Write("app", MakeElf(FullResource()).bytes));
  ASSERT_FALSE(block.empty());
  struct Row {
    const char* path;
    std::string expected;
  } const rows[] = {
      {"\\StringFileInfo\\040904B0\\FileVersion", "1, 0, 1, 2"},
      {"\\StringFileInfo\\040904b0\\ProductName", "Packhounnd"},
      {"\\stringfileinfo\\040904B0\\PRODUCTVERSION", "1, 0, 0, 0"},
      {"StringFileInfo\\040904b0\\companyname", "Mistlake"},
      {"\\StringFileInfo\\040904B0\\Comments", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVers", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVersionX", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVersion\\More", "<none>"},
      {"\\StringFileInfo\\040704B0\\FileVersion", "<none>"},
      {"\\FileVersion", "<none>"},
      {"\\", ""},  // the root has no value here
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(Query(block, block.size(), row.path), row.expected);
  }
  EXPECT_EQ(Query(block, block.size(), "\\VarFileInfo\\Translation", false),
            std::string("\x09\x04\xB0\x04", 4));
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueA(block.data(), nullptr, &value, &length));
}

TEST_F(VersionServicesTest, AnEmptyStringAnswersOnlyItsTerminator) {
  const Bytes block = ReadBlock(folder.Write("app", MakeElf(Resource({{"Comments", ""}})).bytes));
  ASSERT_FALSE(block.empty());
  LPVOID value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(
      VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\Comments", &value, &length));
  EXPECT_EQ(length, 1U);
  EXPECT_STREQ(static_cast<const char*>(value), "");
}

TEST_F(VersionServicesTest, AShortCopyNeverLetsAQueryReadPastIt) {
  const Bytes resource = FullResource();
  const std::string path = folder.Write("app", MakeElf(resource).bytes);
  for (std::size_t length = 0; length <= resource.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    Bytes guarded(length + 8, 0xCD);
    const BOOL copied =
        GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(length), guarded.data());
    EXPECT_EQ(copied != FALSE, length >= version_resource::kHeaderSize);
    EXPECT_EQ(Bytes(guarded.begin() + static_cast<std::ptrdiff_t>(length), guarded.end()),
              Bytes(8, 0xCD))
        << "wrote past the given length";
    if (!copied) continue;
    // Exactly as long as what was copied, so that a sanitizer sees any overread.
    const Bytes block(guarded.begin(), guarded.begin() + static_cast<std::ptrdiff_t>(length));
    const Bytes whole(resource);
    for (const char* key : kKeys) {
      const std::string subBlock = std::string("\\StringFileInfo\\040904b0\\") + key;
      const std::string got = Query(block, length, subBlock.c_str());
      if (got != "<none>") {
        EXPECT_EQ(got, Query(whole, whole.size(), subBlock.c_str()));
      }
    }
  }
  EXPECT_EQ(ReadBlock(path), resource);
}

TEST_F(VersionServicesTest, FilesWithoutAUsableResourceAnswerNothing) {
  const Bytes resource = FullResource();
  using Damage = std::function<void(ElfImage&)>;
  const auto header = [](ElfImage& image, std::size_t field, std::uint64_t value,
                         std::size_t width) {
    Poke(image.bytes, image.sectionHeaderOffset + field, value, width);
  };
  struct Row {
    const char* name;
    Damage damage;
  } const rows[] = {
      {"32-bit class", [](ElfImage& i) { i.bytes[elf_fixture::kElfClass] = 1; }},
      {"big-endian data", [](ElfImage& i) { i.bytes[elf_fixture::kElfData] = 2; }},
      {"not ELF", [](ElfImage& i) { i.bytes[1] = 'X'; }},
      {"section table past the end",
       [](ElfImage& i) { Poke(i.bytes, elf_fixture::kSectionTableOffset, i.bytes.size(), 8); }},
      {"names index out of range",
       [](ElfImage& i) { Poke(i.bytes, elf_fixture::kNamesIndex, 3, 2); }},
      {"contents past the end",
       [&](ElfImage& i) { header(i, elf_fixture::kSectionOffset, i.bytes.size(), 8); }},
      {"contents larger than the file",
       [&](ElfImage& i) { header(i, elf_fixture::kSectionSize, 1ULL << 40, 8); }},
      {"section without contents",
       [&](ElfImage& i) { header(i, elf_fixture::kSectionType, 8, 4); }},
      {"resource longer than its section",
       [&](ElfImage& i) { Poke(i.bytes, i.contentsOffset, resource.size() + 4, 2); }},
      {"resource shorter than its own key",
       [&](ElfImage& i) { Poke(i.bytes, i.contentsOffset, 8, 2); }},
      {"root key of another resource", [&](ElfImage& i) { i.bytes[i.contentsOffset + 6] = 'W'; }},
      {"file cut inside the resource", [&](ElfImage& i) { i.bytes.resize(i.contentsOffset + 10); }},
      {"section of another name",
       [&](ElfImage& i) { i = MakeElf(resource, ".packhound.versioN"); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ElfImage image = MakeElf(resource);
    row.damage(image);
    const std::string path = folder.Write(row.name, image.bytes);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0U);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    Bytes block(version_resource::kMaxSize);
    EXPECT_FALSE(
        GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  }
  for (const std::string& path :
       {folder.Path().string(), folder.MakeFifo("fifo"), folder.Write("empty", {}),
        folder.Write("text", Bytes(100, 'a'))}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0U);
  }
  EXPECT_EQ(GetFileVersionInfoSizeA((folder.Path() / "missing").c_str(), nullptr), 0U);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(VersionServicesTest, EveryDamagedByteStillAnswersOnlyValuesInsideTheBlock) {
  const Bytes image = MakeElf(FullResource()).bytes;
  for (std::size_t at = 0; at < image.size(); ++at) {
    for (const unsigned char value : {0x00, 0x07, 0xFF}) {
      Bytes damaged = image;
      damaged[at] = value;
      const Bytes block = ReadBlock(folder.Write("damaged", damaged));
      if (block.empty()) continue;
      SCOPED_TRACE("byte " + std::to_string(at) + " = " + std::to_string(value));
      for (const char* key : kKeys) {
        Query(block, block.size(), (std::string("\\StringFileInfo\\040904B0\\") + key).c_str());
      }
      Query(block, block.size(), "\\VarFileInfo\\Translation", false);
    }
  }
}

}  // namespace
