#include "tests/support/temp_tree.h"

#include "tests/support/remove_tree.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

TempTree::TempTree(const std::filesystem::path& base) {
  static std::atomic<unsigned> sequence{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        (base.empty() ? fs::temp_directory_path() : base) /
        ("packhound-test-" + std::to_string(stamp) + "-" + std::to_string(sequence.fetch_add(1)));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      root = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempTree::~TempTree() { RemoveTree(root.string()); }

void TempTree::AddDirectory(const std::string& relative) const {
  fs::create_directories(root / relative);
}

void TempTree::AddFile(const std::string& relative) const {
  const fs::path file = root / relative;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).close();
  if (!fs::exists(file)) throw std::runtime_error("cannot create " + file.string());
}
