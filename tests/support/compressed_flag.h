// Marks files with the file system's compressed attribute, where the file
// system lets them be marked.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// False, with the reason in why, when the flag cannot be set here.
bool SetCompressedFlag(const std::string& path, std::string* why);

// Each of files, relative to root; stops at the first that cannot be marked.
inline bool SetCompressedFlags(const std::filesystem::path& root,
                               const std::vector<std::string>& files, std::string* why) {
  for (const std::string& file : files) {
    if (!SetCompressedFlag((root / file).string(), why)) return false;
  }
  return true;
}
