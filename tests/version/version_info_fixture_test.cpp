// The reader over fixture files: what it makes of missing, partial and
// damaged resources, and of allocations that fail.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "tests/platform/elf_fixture.h"
#include "tests/support/failing_allocator.h"
#include "version/version_info.h"

namespace {

using elf_fixture::Bytes;
using elf_fixture::MakeElf;
using elf_fixture::Resource;
using version_resource::kBinary;
using version_resource::kText;
using version_resource::NodeWriter;

// Product name, file version, product version, dotted file version.
using Fields = std::array<std::string, 4>;
const Fields kNotAvailable = {"N/A", "N/A", "N/A", "N/A"};

Fields Read(const VersionInfo& info) {
  const auto text = [](const CString& s) { return std::string(static_cast<const char*>(s)); };
  return {text(info.GetProductName()), text(info.GetFileVersion()), text(info.GetProductVersion()),
          text(info.GetDottedFileVersion())};
}

Bytes WithFileVersion(std::string_view fileVersion) {
  return Resource({{"ProductName", "Tool"}, {"FileVersion", fileVersion}, {"ProductVersion", "2"}});
}

// One table of the given strings, with root, file information and table
// carrying a value of kind type.
Bytes Tree(std::uint16_t type, std::initializer_list<std::array<const char*, 2>> strings,
           std::uint16_t stringType = kText) {
  return elf_fixture::Layout([&](NodeWriter& w) {
    const std::size_t root = w.Open(version_resource::kRootKey, type, "root");
    const std::size_t info = w.Open("StringFileInfo", type, "info");
    const std::size_t table = w.Open("040904b0", type, "table");
    for (const auto& [key, value] : strings) w.Close(w.Open(key, stringType, value));
    w.Close(table);
    w.Close(info);
    w.Close(root);
  });
}

class VersionInfoFixtureTest : public ::testing::Test {
 protected:
  std::string Executable(const Bytes& resource) {
    return folder.Write("app", MakeElf(resource).bytes);
  }

  elf_fixture::TempFolder folder;
};

TEST_F(VersionInfoFixtureTest, EachFileReadsAsItsResourceAllows) {
  struct Row {
    const char* name;
    std::function<std::string()> file;
    Fields expected;
  } const rows[] = {
      {"no such file", [&] { return (folder.Path() / "missing").string(); }, kNotAvailable},
      {"executable without a resource",
       [&] { return folder.Write("app", MakeElf(WithFileVersion("1"), ".data").bytes); },
       kNotAvailable},
      {"resource longer than its section",
       [&] {
         elf_fixture::ElfImage image = MakeElf(WithFileVersion("1"));
         elf_fixture::Poke(image.bytes, image.contentsOffset, 0xFFF0, 2);
         return folder.Write("app", image.bytes);
       },
       kNotAvailable},
      {"path longer than the module path buffer",
       [&] { return (folder.Path() / std::string(kFullPathBufferSize, 'd')).string(); },
       kNotAvailable},
      {"complete table",
       [&] { return Executable(WithFileVersion("1, 0, 1, 2")); },
       {"Tool", "1, 0, 1, 2", "2", "1.0.1.2"}},
      {"version already dotted",
       [&] { return Executable(WithFileVersion("1.0.1.2")); },
       {"Tool", "1.0.1.2", "2", "1.0.1.2"}},
      {"only comma-space is replaced",
       [&] { return Executable(WithFileVersion("1,0, 1")); },
       {"Tool", "1,0, 1", "2", "1,0.1"}},
      {"empty file version",
       [&] { return Executable(WithFileVersion("")); },
       {"Tool", "", "2", ""}},
      {"table without a file version",
       [&] {
         return Executable(Resource({{"ProductName", "Tool"}, {"ProductVersion", "2"}}));
       },
       {"Tool", "", "2", ""}},
      {"table of another language",
       [&] {
         return Executable(Resource({{"FileVersion", "1, 2"}}, "040704b0"));
       },
       {"", "", "", ""}},
      {"table key in upper case",
       [&] {
         return Executable(Resource({{"FileVersion", "1, 2"}}, "040904B0"));
       },
       {"", "1, 2", "", "1.2"}},
      {"string without its terminator",
       [&] {
         Bytes resource = WithFileVersion("1, 0");
         resource[elf_fixture::Find(resource, std::string_view("1, 0\0", 5)) + 4] = '!';
         return Executable(resource);
       },
       {"Tool", "", "2", ""}},
      {"string whose length runs past its table",
       [&] {
         Bytes resource = WithFileVersion("1, 0");
         elf_fixture::Poke(resource, elf_fixture::Find(resource, "ProductName") - 6, 0x7FF, 2);
         return Executable(resource);
       },
       {"", "", "", ""}},
      // Data without a terminator, last in the block: only its length bounds it.
      {"file version stored as data",
       [&] {
         return Executable(Tree(kBinary, {{"FileVersion", "3, 1"}}, kBinary));
       },
       {"", "3, 1", "", "3.1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const VersionInfo info(CString(row.file().c_str()));
    EXPECT_EQ(Read(info), row.expected);
  }
}

TEST_F(VersionInfoFixtureTest, AFailedAllocationLeavesFieldsTrueNotAvailableOrEmpty) {
  // Root and table carry text, so a lookup that lost its key to a failed
  // allocation would read one of them.
  const CString path(
      Executable(
          Tree(kText, {{"ProductName", "Tool"}, {"FileVersion", "1, 2"}, {"ProductVersion", "3"}}))
          .c_str());
  const Fields truth = {"Tool", "1, 2", "3", "1.2"};
  int allNotAvailable = 0;
  for (std::int64_t failing = 0; failing < 100; ++failing) {
    std::optional<VersionInfo> info;
    bool failed = false;
    {
      failing_allocator::Scope scope(failing, 1);
      info.emplace(path);
      failed = scope.Failures() > 0;
    }
    if (!failed) break;  // every allocation has had its turn
    SCOPED_TRACE("allocation " + std::to_string(failing));
    const Fields fields = Read(*info);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      EXPECT_TRUE(fields[i] == truth[i] || fields[i] == "N/A" || fields[i].empty()) << fields[i];
    }
    if (fields == kNotAvailable) ++allNotAvailable;
  }
  // Only the version block's own allocation fails the whole read; any other
  // costs at most one field.
  EXPECT_EQ(allNotAvailable, 1);
}

}  // namespace
