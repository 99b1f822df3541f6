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
  // NTFS is made by mkntfs and mounted by ntfs-3g, through FUSE.
  const bool ntfs = type == "ntfs";
  const std::string mkfs = ntfs ? "mkntfs" : "mkfs." + type;
  if (!Succeeds("command -v " + mkfs) || (ntfs && !Succeeds("command -v ntfs-3g"))) {
    whyNot = (ntfs ? "mkntfs or ntfs-3g" : mkfs) + " is not installed";
    return;
  }
  image = folder.Root() / "image";
  const char* quiet = type == "btrfs" ? " -q -f " : ntfs ? " -q -F -f " : " -q -F ";
  if (!Succeeds("truncate -s " + size + " " + Quoted(image.string())) ||
      !Succeeds(mkfs + quiet + Quoted(image.string()))) {
    whyNot = mkfs + " failed";
    return;
  }
  mountOptions = options;
  if (!MountImage()) whyNot = type + " cannot be mounted from an image here";
}

bool LoopFileSystem::MountImage() const {
  if (typeName == "ntfs") {
    return Succeeds("ntfs-3g -o " + mountOptions + " " + Quoted(image.string()) + " " +
                    Quoted(mountPoint.string()));
  }
  return Succeeds("mount -o loop," + mountOptions + " " + Quoted(image.string()) + " " +
                  Quoted(mountPoint.string()));
}

bool LoopFileSystem::Remount() const {
  if (!whyNot.empty() || image.empty()) return false;
  return ::umount2(mountPoint.c_str(), 0) == 0 && MountImage();
}

LoopFileSystem::~LoopFileSystem() {
  if (whyNot.empty()) ::umount2(mountPoint.c_str(), MNT_DETACH);
}

bool LoopFileSystem::MakeSubvolume(const fs::path& path) const {
  if (!whyNot.empty() || typeName != "btrfs") return false;
  return Succeeds("btrfs -q subvolume create " + Quoted(path.string()));
}
