// Reading the dotted file version, product name and product version out of a
// module's version resource.
#include "version/version_info.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// Every string is looked up in the U.S. English, Unicode table; the platform
// matches the table key without regard to letter case.
const CString kStringTablePrefix("\\StringFileInfo\\040904B0\\");

// Room for the module path: MAX_PATH on Windows, PATH_MAX where paths run longer.
constexpr DWORD kModulePathSize = kFullPathBufferSize;

const char kNotAvailable[] = "N/A";

// The text up to its terminator, but never past length characters: a damaged
// resource can hold a string as data without a terminator.
CString BoundedCopy(const char* text, UINT length) {
  const void* terminator = std::memchr(text, '\0', length);
  const std::size_t count =
      terminator != nullptr ? static_cast<std::size_t>(static_cast<const char*>(terminator) - text)
                            : length;
  CString copy;
  if (count > static_cast<std::size_t>(INT32_MAX)) return copy;
  char* characters = copy.GetBuffer(static_cast<LONG>(count));
  if (characters == nullptr) return copy;
  std::memcpy(characters, text, count);
  characters[count] = '\0';
  copy.ReleaseBuffer();
  return copy;
}

}  // namespace

VersionInfo::VersionInfo()
    : versionBlock(nullptr), productName(""), fileVersion(""), productVersion("") {
  char modulePath[kModulePathSize];
  const DWORD length = GetModuleFileNameA(nullptr, modulePath, kModulePathSize);
  // Without a path, or with one cut short (which names some other file, if
  // any), the module reads as one without a resource.
  if (length == 0 || length >= kModulePathSize) modulePath[0] = '\0';
  Load(CString(modulePath));
}

VersionInfo::VersionInfo(const CString& modulePath)
    : versionBlock(nullptr), productName(""), fileVersion(""), productVersion("") {
  Load(modulePath);
}

VersionInfo::~VersionInfo() { ::operator delete(versionBlock); }

bool VersionInfo::Load(const CString& path) {
  fileVersion = kNotAvailable;
  productVersion = kNotAvailable;
  productName = kNotAvailable;
  dottedFileVersion = kNotAvailable;
  if (ReadVersionBlock(path)) {
    ReadProductName();
    ReadFileVersion();
    ReadProductVersion();
  }
  return true;
}

bool VersionInfo::ReadVersionBlock(const CString& path) {
  char pathBuffer[kModulePathSize];
  const LONG pathLength = path.GetLength();
  // A path that does not fit the buffer reads as a file without a resource.
  if (pathLength <= 0 || static_cast<DWORD>(pathLength) >= kModulePathSize) return false;
  std::memcpy(pathBuffer, static_cast<const char*>(path), static_cast<std::size_t>(pathLength) + 1);

  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(pathBuffer, &handle);
  if (size == 0) return false;
  const std::size_t blockSize = std::size_t{size} + 1;
  if (blockSize == 0) return false;  // size + 1 wrapped
  try {
    versionBlock = static_cast<BYTE*>(::operator new(blockSize));
  } catch (const std::bad_alloc&) {
    versionBlock = nullptr;
  }
  if (versionBlock == nullptr) return false;
  return GetFileVersionInfoA(pathBuffer, handle, size, versionBlock) != FALSE;
}

CString VersionInfo::QueryString(const CString& key) const {
  const CString subBlock = kStringTablePrefix + key;
  // An empty key, or a path lost to a failed allocation, would name a block
  // of the resource rather than one of its strings.
  if (key.GetLength() == 0 || subBlock.GetLength() == 0) return CString("");
  LPVOID value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(versionBlock, subBlock, &value, &length) == FALSE || value == nullptr ||
      length == 0) {
    return CString("");
  }
  return BoundedCopy(static_cast<const char*>(value), length);
}

void VersionInfo::ReadProductName() { productName = QueryString("ProductName"); }

void VersionInfo::ReadFileVersion() {
  fileVersion = QueryString("FileVersion");
  // Assigned as text so that the two do not share a block and Replace leaves
  // fileVersion as it was.
  dottedFileVersion = static_cast<const char*>(fileVersion);
  dottedFileVersion.Replace(", ", ".");
}

void VersionInfo::ReadProductVersion() { productVersion = QueryString("ProductVersion"); }
