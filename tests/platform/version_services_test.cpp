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

const Bytes kResource = elf_fixture::Resource({{"CompanyName", "Mistlake"},
                                               {"FileVersion", "1, 0, 1, 2"},
                                               {"Comments", ""},
                                               {"ProductVersion", "1, 0, 0, 0"}});
const char* const kKeys[] = {"CompanyName", "FileVersion", "Comments", "ProductVersion"};

// VerQueryValueA's answer: "<none>" when it fails, else the value without its
// NUL (or the raw bytes). Checks that the value lies within the first `valid`
// bytes of the block and that a text ends with its NUL there.
std::string Query(const Bytes& block, std::size_t valid, const std::string& subBlock,
                  bool text = true) {
  LPVOID value = &value;
  UINT length = 7;
  if (!VerQueryValueA(block.data(), subBlock.c_str(), &value, &length)) {
    EXPECT_TRUE(value == nullptr && length == 0) << "a failure leaves no answer";
    return "<none>";
  }
  const auto* begin = static_cast<const unsigned char*>(value);
  EXPECT_TRUE(begin >= block.data() && begin + length <= block.data() + valid) << subBlock;
  if (text && length > 0) {
    --length;
    EXPECT_EQ(begin[length], '\0') << subBlock;
  }
  return std::string(reinterpret_cast<const char*>(begin), length);
}

std::string String(const Bytes& block, std::size_t valid, const char* key) {
  return Query(block, valid, std::string("\\StringFileInfo\\040904B0\\") + key);
}

// The block as a reader gets it: sized, then copied. Empty when either fails.
Bytes ReadBlock(const std::string& path) {
  DWORD handle = 7;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
  EXPECT_EQ(handle, 0U);
  EXPECT_LE(size, version_resource::kMaxSize);
  Bytes block(size);
  if (size == 0 || !GetFileVersionInfoA(path.c_str(), handle, size, block.data())) return {};
  return block;
}

class VersionServicesTest : public ::testing::Test {
 protected:
  elf_fixture::TempFolder folder;
};

TEST_F(VersionServicesTest, PathsResolveWithoutRegardToLetterCase) {
  const Bytes block = ReadBlock(folder.Write("app", MakeElf(kResource).bytes));
  ASSERT_EQ(block, kResource);
  const std::pair<const char*, const char*> rows[] = {
      {"\\StringFileInfo\\040904B0\\FileVersion", "1, 0, 1, 2"},
      {"\\StringFileInfo\\040904b0\\ProductVersion", "1, 0, 0, 0"},
      {"\\stringfileinfo\\040904B0\\COMPANYNAME", "Mistlake"},
      {"StringFileInfo\\040904b0\\companyname", "Mistlake"},
      {"\\StringFileInfo\\040904b0\\Comments", ""},
      {"\\StringFileInfo\\040904B0\\ProductName", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVers", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVersionX", "<none>"},
      {"\\StringFileInfo\\040904B0\\FileVersion\\More", "<none>"},
      {"\\StringFileInfo\\040704B0\\FileVersion", "<none>"},
      {"\\FileVersion", "<none>"},
      {"\\", ""},  // the root carries no value here
  };
  for (const auto& [path, expected] : rows) {
    SCOPED_TRACE(path);
    EXPECT_EQ(Query(block, block.size(), path), expected);
  }
  EXPECT_EQ(Query(block, block.size(), "\\VarFileInfo\\Translation", false),
            std::string("\x09\x04\xB0\x04", 4));
  LPVOID value = nullptr;
  UINT length = 0;
  EXPECT_FALSE(VerQueryValueA(block.data(), nullptr, &value, &length));
}

TEST_F(VersionServicesTest, AShortCopyNeverLetsAQueryReadPastIt) {
  const std::string path = folder.Write("app", MakeElf(kResource).bytes);
  for (std::size_t length = 0; length <= kResource.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    Bytes guarded(length + 8, 0xCD);
    const BOOL copied =
        GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(length), guarded.data());
    EXPECT_EQ(copied != FALSE, length >= version_resource::kHeaderSize);
    EXPECT_EQ(Bytes(guarded.begin() + static_cast<std::ptrdiff_t>(length), guarded.end()),
              Bytes(8, 0xCD))
        << "wrote past the given length";
    if (!copied) continue;
    // Exactly as long as the copy, so that a sanitizer sees any overread.
    const Bytes block(guarded.begin(), guarded.begin() + static_cast<std::ptrdiff_t>(length));
    for (const char* key : kKeys) {
      const std::string got = String(block, length, key);
      if (got != "<none>") {
        EXPECT_EQ(got, String(kResource, kResource.size(), key)) << "only whole values";
      }
    }
  }
}

TEST_F(VersionServicesTest, FilesWithoutAUsableResourceAnswerNothing) {
  const auto section = [](ElfImage& i, std::size_t field, std::uint64_t value, std::size_t width) {
    Poke(i.bytes, i.sectionHeaderOffset + field, value, width);
  };
  const std::pair<const char*, std::function<void(ElfImage&)>> rows[] = {
      {"32-bit class", [](ElfImage& i) { i.bytes[elf_fixture::kElfClass] = 1; }},
      {"big-endian data", [](ElfImage& i) { i.bytes[elf_fixture::kElfData] = 2; }},
      {"section table past the end",
       [](ElfImage& i) { Poke(i.bytes, elf_fixture::kSectionTableOffset, i.bytes.size(), 8); }},
      {"names index out of range",
       [](ElfImage& i) { Poke(i.bytes, elf_fixture::kNamesIndex, 3, 2); }},
      {"contents past the end",
       [&](ElfImage& i) { section(i, elf_fixture::kSectionOffset, i.bytes.size(), 8); }},
      {"contents larger than the file",
       [&](ElfImage& i) { section(i, elf_fixture::kSectionSize, 1ULL << 40, 8); }},
      {"section without contents",
       [&](ElfImage& i) { section(i, elf_fixture::kSectionType, 8 /* SHT_NOBITS */, 4); }},
      {"resource longer than its section",
       [](ElfImage& i) { Poke(i.bytes, i.contentsOffset, kResource.size() + 4, 2); }},
      {"resource shorter than its own key",
       [](ElfImage& i) { Poke(i.bytes, i.contentsOffset, 8, 2); }},
      {"root key of another resource", [](ElfImage& i) { i.bytes[i.contentsOffset + 6] = 'W'; }},
      {"section of another name",
       [](ElfImage& i) { i = MakeElf(kResource, ".packhound.versioN"); }},
  };
  for (const auto& [name, damage] : rows) {
    SCOPED_TRACE(name);
    ElfImage image = MakeElf(kResource);
    damage(image);
    const std::string path = folder.Write(name, image.bytes);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0U);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_TYPE_NOT_FOUND);
    Bytes block(version_resource::kMaxSize);
    EXPECT_FALSE(
        GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  }
  for (const std::string& path :
       {folder.Path().string(), folder.MakeFifo("fifo"), folder.Write("empty", {}),
        folder.Write("text", Bytes(99, 'a'))}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0U);
  }
  EXPECT_EQ(GetFileVersionInfoSizeA((folder.Path() / "missing").c_str(), nullptr), 0U);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// The section names table ends at its size, whatever the file holds after it:
// a name counts only with its terminator inside the table.
TEST_F(VersionServicesTest, ASectionNameCountsOnlyWithItsTerminatorInsideTheNamesTable) {
  // The table: a NUL, then the name of the resource's section and its NUL.
  const std::size_t throughTerminator = 1 + std::strlen(version_resource::kSectionName) + 1;
  const struct {
    const char* name;
    std::size_t tableSize;
    bool found;
  } rows[] = {
      {"terminator the table's last byte", throughTerminator, true},
      {"terminator just past the table", throughTerminator - 1, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ElfImage image = MakeElf(kResource);
    const std::size_t namesHeader = image.sectionHeaderOffset + elf_fixture::kSectionHeaderSize;
    Poke(image.bytes, namesHeader + elf_fixture::kSectionSize, row.tableSize, 8);
    const std::string path = folder.Write("names", image.bytes);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr) != 0, row.found);
  }
}

TEST_F(VersionServicesTest, EveryDamagedByteStillAnswersOnlyValuesInsideTheBlock) {
  const Bytes image = MakeElf(kResource).bytes;
  for (std::size_t at = 0; at < image.size(); ++at) {
    for (const unsigned char value : {0x00, 0x07, 0xFF}) {
      Bytes damaged = image;
      damaged[at] = value;
      const Bytes block = ReadBlock(folder.Write("damaged", damaged));
      SCOPED_TRACE("byte " + std::to_string(at) + " = " + std::to_string(value));
      for (const char* key : kKeys) String(block, block.size(), key);
      if (!block.empty()) Query(block, block.size(), "\\VarFileInfo\\Translation", false);
    }
  }
}

}  // namespace
