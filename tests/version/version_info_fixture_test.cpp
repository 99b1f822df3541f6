// The reader over fixture files: what it makes of missing, partial and
// damaged resources.
#include <gtest/gtest.h>

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
using elf_fixture::TempFolder;
using version_resource::StringEntry;

struct Fields {
  std::string productName;
  std::string fileVersion;
  std::string productVersion;
  std::string dotted;
};

Fields Read(const VersionInfo& info) {
  return {info.GetProductName().operator const char*(),
          info.GetFileVersion().operator const char*(),
          info.GetProductVersion().operator const char*(),
          info.GetDottedFileVersion().operator const char*()};
}

void ExpectFields(const Fields& actual, const Fields& expected) {
  EXPECT_EQ(actual.productName, expected.productName);
  EXPECT_EQ(actual.fileVersion, expected.fileVersion);
  EXPECT_EQ(actual.productVersion, expected.productVersion);
  EXPECT_EQ(actual.dotted, expected.dotted);
}

const Fields kNotAvailable = {"N/A", "N/A", "N/A", "N/A"};

Bytes WithFileVersion(std::string_view fileVersion) {
  return Resource(
      {{"ProductName", "Tool"}, {"FileVersion", fileVersion}, {"ProductVersion", "2, 0"}});
}

// A resource whose file version is data without a terminator, at the very end
// of the block.
Bytes FileVersionAsUnterminatedData() {
  const auto write = [](unsigned char* out) {
    version_resource::NodeWriter writer(out);
    const std::size_t root = writer.Open(version_resource::kRootKey, version_resource::kBinary, {});
    const std::size_t info = writer.Open("StringFileInfo", version_resource::kBinary, {});
    const std::size_t table = writer.Open("040904b0", version_resource::kBinary, {});
    writer.Close(writer.Open("FileVersion", version_resource::kBinary, "3, 1"));
    writer.Close(table);
    writer.Close(info);
    writer.Close(root);
    return writer.Size();
  };
  Bytes bytes(write(nullptr));
  write(bytes.data());
  return bytes;
}

class VersionInfoFixtureTest : public ::testing::Test {
 protected:
  // Writes an executable carrying resource; answers its path.
  std::string Executable(const Bytes& resource) {
    return folder.Write("app", MakeElf(resource).bytes);
  }

  TempFolder folder;
};

TEST_F(VersionInfoFixtureTest, EachFileReadsAsItsResourceAllows) {
  struct Row {
    const char* name;
    std::function<std::string()> file;
    Fields expected;
  } const rows[] = {
      {"no such file", [&] { return (folder.Path() / "missing").string(); }, kNotAvailable},
      {"not an executable", [&] { return folder.Write("text", Bytes(64, 'x')); }, kNotAvailable},
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
      {"complete table",
       [&] { return Executable(WithFileVersion("1, 0, 1, 2")); },
       {"Tool", "1, 0, 1, 2", "2, 0", "1.0.1.2"}},
      {"version already dotted",
       [&] { return Executable(WithFileVersion("1.0.1.2")); },
       {"Tool", "1.0.1.2", "2, 0", "1.0.1.2"}},
      {"only comma-space is replaced",
       [&] { return Executable(WithFileVersion("1,0, 1")); },
       {"Tool", "1,0, 1", "2, 0", "1,0.1"}},
      {"empty file version",
       [&] { return Executable(WithFileVersion("")); },
       {"Tool", "", "2, 0", ""}},
      {"table without a file version",
       [&] {
         return Executable(Resource({{"ProductName", "Tool"}, {"ProductVersion", "2, 0"}}));
       },
       {"Tool", "", "2, 0", ""}},
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
       {"Tool", "", "2, 0", ""}},
      {"string whose length runs past its table",
       [&] {
         Bytes resource = WithFileVersion("1, 0");
         elf_fixture::Poke(resource, elf_fixture::Find(resource, "ProductName") - 6, 0x7FF, 2);
         return Executable(resource);
       },
       {"", "", "", ""}},
      {"file version stored as data",
       [&] { return Executable(FileVersionAsUnterminatedData()); },
       {"", "3, 1", "", "3.1"}},
      {"path longer than the module path buffer",
       [&] {
         const Bytes image = MakeElf(WithFileVersion("1, 0")).bytes;
         return folder.Write(std::string(MAX_PATH, 'd').insert(200, "/") + "/app", image);
       },
       kNotAvailable},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const VersionInfo info(CString(row.file().c_str()));
    ExpectFields(Read(info), row.expected);
  }
}

// The root and the table carry text here, so a lookup that lost its key to a
// failed allocation would show up as one of them.
Bytes ResourceWithTextOnEveryLevel() {
  const auto write = [](unsigned char* out) {
    version_resource::NodeWriter writer(out);
    const std::size_t root =
        writer.Open(version_resource::kRootKey, version_resource::kText, "root");
    const std::size_t info = writer.Open("StringFileInfo", version_resource::kText, "info");
    const std::size_t table = writer.Open("040904b0", version_resource::kText, "table");
    writer.Close(writer.Open("ProductName", version_resource::kText, "Tool"));
    writer.Close(writer.Open("FileVersion", version_resource::kText, "1, 2"));
    writer.Close(writer.Open("ProductVersion", version_resource::kText, "3, 4"));
    writer.Close(table);
    writer.Close(info);
    writer.Close(root);
    return writer.Size();
  };
  Bytes bytes(write(nullptr));
  write(bytes.data());
  return bytes;
}

TEST_F(VersionInfoFixtureTest, AFailedAllocationLeavesFieldsTrueNotAvailableOrEmpty) {
  const CString path(Executable(ResourceWithTextOnEveryLevel()).c_str());
  const Fields truth = {"Tool", "1, 2", "3, 4", "1.2"};
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
    const auto allowed = [](const std::string& value, const std::string& trueValue) {
      return value == trueValue || value == "N/A" || value.empty();
    };
    EXPECT_TRUE(allowed(fields.productName, truth.productName)) << fields.productName;
    EXPECT_TRUE(allowed(fields.fileVersion, truth.fileVersion)) << fields.fileVersion;
    EXPECT_TRUE(allowed(fields.productVersion, truth.productVersion)) << fields.productVersion;
    EXPECT_TRUE(allowed(fields.dotted, truth.dotted)) << fields.dotted;
    if (fields.productName == "N/A" && fields.fileVersion == "N/A" &&
        fields.productVersion == "N/A" && fields.dotted == "N/A") {
      ++allNotAvailable;
    }
  }
  // Only the version block's own allocation fails the whole read; every
  // other failure costs at most one field.
  EXPECT_EQ(allNotAvailable, 1);
}

}  // namespace
