#include "tests/support/posix/loop_file_system.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace fs = std::filesystem;

namespace {

// One word to the shell, whatever the path holds.
std::string Quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool Succeeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

LoopFileSystem::LoopFileSystem(const std::string& type, const std::string& options,
                               const std::string& size)
    : typeName(type) {
  if (::geteuid() != 0) {
    whyNot = "mounting needs root";
    return;
  }
  mountPoint = folder.Root() / "mnt";
  fs::create_directory(mountPoint);
  ::chmod(folder.Root().c_str(), 0755);  // other users' runs reach the mount too
  if (type == "tmpfs") {
    if (::mount("packhound-test", mountPoint.c_str(), "tmpfs", 0, "size=64m") != 0) {
      whyNot = "tmpfs cannot be mounted here";
    }
    return;
  }
  const std::string mkfs = "mkfs." + type;
  if (!Succeeds("command -v " + mkfs)) {
    whyNot = mkfs + " is not installed";
    return;
  }
  const fs::path image = folder.Root() / "image";
  if (!Succeeds("truncate -s " + size + " " + Quoted(image.string())) ||
      !Succeeds(mkfs + (type == "btrfs" ? " -q -f " : " -q -F ") + Quoted(image.string()))) {
    whyNot = mkfs + " failed";
    return;
  }
  if (!Succeeds("mount -o loop," + options + " " + Quoted(image.string()) + " " +
                Quoted(mountPoint.string()))) {
    whyNot = type + " cannot be mounted from a loop device here";
  }
}

LoopFileSystem::~LoopFileSystem() {
  if (whyNot.empty()) ::umount2(mountPoint.c_str(), MNT_DETACH);
}

bool LoopFileSystem::MakeSubvolume(const fs::path& path) const {
  if (!whyNot.empty() || typeName != "btrfs") return false;
  return Succeeds("btrfs -q subvolume create " + Quoted(path.string()));
}
