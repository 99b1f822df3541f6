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

// The script's string table, its key, its translation and its fixed-part
// numbers, keyed as "BLOCK", "Translation", "FILEVERSION", "PRODUCTVERSION".
std::map<std::string, std::string> ParseScript(const char* path) {
  const std::regex block(R"re(^\s*(BLOCK)\s+"([0-9A-Fa-f]{8})"\s*$)re");
  const std::regex text(R"re(^\s*VALUE\s+"([^"]+)",\s*"([^"]*)"\s*$)re");
  const std::regex pair(R"re(^\s*VALUE\s+"(Translation)",\s*(0x\w+,\s*0x\w+)\s*$)re");
  const std::regex fixed(R"re(^\s*(FILEVERSION|PRODUCTVERSION)\s+(\S+)\s*$)re");
  std::map<std::string, std::string> script;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::smatch m;
  for (std::string line; std::getline(in, line);) {
    for (const std::regex* form : {&block, &text, &pair, &fixed}) {
      if (std::regex_match(line, m, *form)) script[m[1]] = m[2];
    }
  }
  return script;
}

std::string Query(const std::vector<unsigned char>& block, const std::string& subBlock) {
  LPVOID value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), subBlock.c_str(), &value, &length)) return "<none>";
  return std::string(static_cast<const char*>(value), length);
}

TEST(VersionResourceTest, ScriptAndEmbeddedTableCarryTheSameStrings) {
  std::map<std::string, std::string> script = ParseScript(PACKHOUND_VERSION_RC);
  const std::string table = script["BLOCK"];
  EXPECT_EQ(table, "040904b0");
  EXPECT_EQ(script["Translation"], "0x0409, 0x04b0");
  EXPECT_EQ(script["FILEVERSION"], "1,0,1,2");
  EXPECT_EQ(script["PRODUCTVERSION"], "1,0,0,0");

  const DWORD size = GetFileVersionInfoSizeA(PACKHOUND_EXECUTABLE, nullptr);
  std::vector<unsigned char> block(size);
  ASSERT_TRUE(size > 0 && GetFileVersionInfoA(PACKHOUND_EXECUTABLE, 0, size, block.data()));
  EXPECT_EQ(Query(block, "\\VarFileInfo\\Translation"), std::string("\x09\x04\xB0\x04", 4));

  // Every string of the embedded table, read through the services, under a
  // table key spelled exactly as in the script.
  const std::span<const unsigned char> bytes(block);
  version_resource::Node node;
  ASSERT_TRUE(version_resource::ReadNode(bytes, 0, bytes.size(), node) &&
              version_resource::FindChild(bytes, node, "StringFileInfo", node) &&
              version_resource::FindChild(bytes, node, table, node));
  EXPECT_EQ(node.key, table);
  std::map<std::string, std::string> embedded;
  version_resource::Node child;
  for (std::size_t at = node.childrenOffset; version_resource::NextChild(bytes, node, at, child);) {
    const std::string key(child.key);
    embedded[key] = Query(block, "\\StringFileInfo\\" + table + "\\" + key);
  }
  for (const char* notAString : {"BLOCK", "Translation", "FILEVERSION", "PRODUCTVERSION"}) {
    script.erase(notAString);
  }
  for (auto& [key, value] : script) value += '\0';  // the services count the NUL
  EXPECT_EQ(embedded, script);
  EXPECT_EQ(script.size(), 7U);
}

}  // namespace
