// The application manifest as the built executable carries it, read back from
// the file through the resource services: the settings that let every name
// through the A calls, and the version the build gave everything else.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace {

// The manifest the loader applies at process creation, or "<none>".
std::string ManifestOf(const char* executable) {
  const HMODULE module = LoadLibraryExA(executable, nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) return "<cannot load " + std::string(executable) + ">";
  std::string text = "<none>";
  const HRSRC resource = FindResourceA(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  const HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes != nullptr) {
    text.assign(static_cast<const char*>(bytes), SizeofResource(module, resource));
  }
  FreeLibrary(module);
  return text;
}

// The content of the first element <tag attributes> in text, or "" when there
// is none.
std::string Element(const std::string& text, const std::string& tag,
                    const std::string& attributes = "") {
  std::smatch match;
  const std::regex element("<" + tag + (attributes.empty() ? "" : "\\s+" + attributes) +
                           R"(\s*>([\s\S]*?)</)" + tag + ">");
  return std::regex_search(text, match, element) ? match[1].str() : std::string();
}

TEST(ManifestTest, TheBuiltToolCarriesItsManifest) {
  const std::string manifest = ManifestOf(PACKHOUND_EXECUTABLE);
  ASSERT_NE(manifest.find("<assembly"), std::string::npos) << manifest;
  const std::string settings =
      Element(Element(manifest, "application", R"(xmlns="urn:schemas-microsoft-com:asm\.v3")"),
              "windowsSettings");
  const struct {
    const char* name;
    std::string where;
    std::string pattern;
  } rows[] = {
      {"the ANSI code page is UTF-8", settings,
       R"(<activeCodePage\s+xmlns="http://schemas.microsoft.com/SMI/2019/WindowsSettings"\s*>\s*UTF-8\s*</activeCodePage>)"},
      {"paths may pass MAX_PATH", settings,
       R"(<longPathAware\s+xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings"\s*>\s*true\s*</longPathAware>)"},
      {"no elevation",
       Element(manifest, "trustInfo", R"(xmlns="urn:schemas-microsoft-com:asm\.v3")"),
       R"(<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"\s*/>)"},
      {"made for Windows 10 and 11",
       Element(manifest, "compatibility", R"(xmlns="urn:schemas-microsoft-com:compatibility\.v1")"),
       R"(<supportedOS\s+Id="\{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a\}"\s*/>)"},
      {"the project's version", manifest,
       R"(<assemblyIdentity\s[^>]*version=")" +
           std::regex_replace(std::string(PACKHOUND_VERSION), std::regex(R"(\.)"), R"(\.)") +
           R"("[^>]*/>)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_TRUE(std::regex_search(row.where, std::regex(row.pattern))) << manifest;
  }
}

// This binary links the same resource: the system applied it at start.
TEST(ManifestTest, AProcessStartedWithItRunsInTheUtf8CodePage) {
  EXPECT_EQ(GetACP(), static_cast<UINT>(CP_UTF8));
}

}  // namespace
