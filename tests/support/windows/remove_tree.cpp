#include "tests/support/remove_tree.h"

#include <filesystem>
#include <system_error>

void RemoveTree(const std::string& root) {
  std::error_code error;
  std::filesystem::remove_all(root, error);
}
