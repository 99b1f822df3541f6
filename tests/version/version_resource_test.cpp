// The two generated forms of the executable's resource, the Windows resource
// script and the table embedded on POSIX, must say the same.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/version_resource_format.h"
#include "platform/win32.h"

namespace {

struct ResourceScript {
  std::string table;
  std::map<std::string, std::string> strings;
  std::string fileVersion;     // the fixed part's numbers, "1,0,1,2"
  std::string productVersion;  // likewise
  unsigned language = 0;
  unsigned codePage = 0;
};

ResourceScript ParseScript(const char* path) {
  ResourceScript script;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  const std::regex block(R"re(^\s*BLOCK\s+"([0-9A-Fa-f]{8})"\s*$)re");
  const std::regex value(R"re(^\s*VALUE\s+"([^"]+)",\s*"([^"]*)"\s*$)re");
  const std::regex version(R"re(^\s*(FILEVERSION|PRODUCTVERSION)\s+(\S+)\s*$)re");
  const std::regex translation(
      R"re(^\s*VALUE\s+"Translation",\s*0x([0-9A-Fa-f]+),\s*0x([0-9A-Fa-f]+))re");
  std::smatch match;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_match(line, match, block)) {
      script.table = match[1];
    } else if (std::regex_search(line, match, translation)) {
      script.language = std::stoul(match[1], nullptr, 16);
      script.codePage = std::stoul(match[2], nullptr, 16);
    } else if (std::regex_match(line, match, value)) {
      script.strings[match[1]] = match[2];
    } else if (std::regex_match(line, match, version)) {
      (match[1] == "FILEVERSION" ? script.fileVersion : script.productVersion) = match[2];
    }
  }
  return script;
}

std::vector<unsigned char> BlockOf(const char* path) {
  const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  std::vector<unsigned char> block(size);
  if (size == 0 || !GetFileVersionInfoA(path, 0, size, block.data())) block.clear();
  return block;
}

std::string Query(const std::vector<unsigned char>& block, const std::string& subBlock) {
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), subBlock.c_str(), &value, &length)) return "<none>";
  return std::string(static_cast<const char*>(value), length);
}

std::string WithoutSpaces(std::string text) {
  std::erase(text, ' ');
  return text;
}

TEST(VersionResourceTest, ScriptAndEmbeddedTableCarryTheSameStrings) {
  const ResourceScript script = ParseScript(PACKHOUND_VERSION_RC);
  const std::vector<unsigned char> block = BlockOf(PACKHOUND_EXECUTABLE);
  ASSERT_FALSE(block.empty());
  ASSERT_EQ(script.strings.size(), 7U);
  EXPECT_EQ(script.table, "040904b0");

  const std::string table = "\\StringFileInfo\\" + script.table + "\\";
  for (const auto& [key, value] : script.strings) {
    SCOPED_TRACE(key);
    EXPECT_EQ(Query(block, table + key), value + '\0');
  }

  // No string of the embedded table is missing from the script, and its key
  // is spelled the same, letter case included.
  const std::span<const unsigned char> bytes(block);
  version_resource::Node node;
  ASSERT_TRUE(version_resource::ReadNode(bytes, 0, bytes.size(), node));
  ASSERT_TRUE(version_resource::FindChild(bytes, node, "StringFileInfo", node));
  ASSERT_TRUE(version_resource::FindChild(bytes, node, script.table, node));
  EXPECT_EQ(node.key, script.table);
  std::map<std::string, std::string> embedded;
  version_resource::Node child;
  for (std::size_t cursor = node.childrenOffset;
       version_resource::NextChild(bytes, node, cursor, child);) {
    embedded[std::string(child.key)] = Query(block, table + std::string(child.key));
  }
  EXPECT_EQ(embedded.size(), script.strings.size());

  const std::string pair = Query(block, "\\VarFileInfo\\Translation");
  ASSERT_EQ(pair.size(), 4U);
  EXPECT_EQ(static_cast<unsigned char>(pair[0]) | static_cast<unsigned char>(pair[1]) << 8,
            script.language);
  EXPECT_EQ(static_cast<unsigned char>(pair[2]) | static_cast<unsigned char>(pair[3]) << 8,
            script.codePage);
  EXPECT_EQ(script.language, 0x0409U);
  EXPECT_EQ(script.codePage, 1200U);

  // The fixed part's numbers are the strings' numbers.
  EXPECT_EQ(script.fileVersion, WithoutSpaces(script.strings.at("FileVersion")));
  EXPECT_EQ(script.productVersion, WithoutSpaces(script.strings.at("ProductVersion")));
}

}  // namespace
