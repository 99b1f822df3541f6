// A directory tree in a fresh temporary folder, removed with everything in it
// when the object goes.
#pragma once

#include <filesystem>
#include <string>

class TempTree {
 public:
  // Under base, which must exist: the system's temporary folder when empty.
  explicit TempTree(const std::filesystem::path& base = {});
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::filesystem::path& Root() const { return root; }
  std::filesystem::path operator/(const std::string& relative) const { return root / relative; }

  // Creates the directory and any missing parents.
  void AddDirectory(const std::string& relative) const;
  // Creates an empty file (and missing parents).
  void AddFile(const std::string& relative) const;

 private:
  std::filesystem::path root;
};
