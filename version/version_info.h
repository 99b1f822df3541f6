// Reader of an executable's version resource, for the banner. Reads once, in
// its constructor; what cannot be read stays "N/A" or empty.
#pragma once

#include "platform/win32.h"
#include "text/cstring.h"

class VersionInfo {
 public:
  // Reads the running executable's resource.
  VersionInfo();
  // Reads the resource of the file at modulePath instead.
  explicit VersionInfo(const CString& modulePath);
  ~VersionInfo();
  VersionInfo(const VersionInfo&) = delete;
  VersionInfo& operator=(const VersionInfo&) = delete;

  // The file version with every ", " replaced by ".".
  const CString& GetDottedFileVersion() const noexcept { return dottedFileVersion; }
  const CString& GetProductName() const noexcept { return productName; }
  const CString& GetFileVersion() const noexcept { return fileVersion; }
  const CString& GetProductVersion() const noexcept { return productVersion; }

 private:
  bool Load(const CString& path);
  bool ReadVersionBlock(const CString& path);
  CString QueryString(const CString& key) const;
  void ReadProductName();
  void ReadFileVersion();
  void ReadProductVersion();

  BYTE* versionBlock;  // owned; null until read
  CString productName;
  CString fileVersion;
  CString productVersion;
  CString dottedFileVersion;
};
