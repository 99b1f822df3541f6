// Marks a file with the file system's compressed attribute, where the file
// system lets it be marked.
#pragma once

#include <string>

// False, with the reason in why, when the flag cannot be set here.
bool SetCompressedFlag(const std::string& path, std::string* why);
