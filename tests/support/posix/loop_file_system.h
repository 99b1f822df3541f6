// A file system made for a test on an image file, mounted through a loop
// device (or tmpfs, which needs none) for the object's lifetime. Needs root
// and the type's mkfs; why it could not be mounted, when it was not.
#pragma once

#include <filesystem>
#include <string>

#include "tests/support/temp_tree.h"

// Runs command through the shell, its output thrown away; answers whether it
// exited with status 0.
bool Succeeds(const std::string& command);

class LoopFileSystem {
 public:
  // type names the mkfs to run ("btrfs", "ext4"), or is "ntfs" (mkntfs, then
  // ntfs-3g through FUSE), or "tmpfs"; options go to mount as they are; size
  // is the image's, as truncate reads it.
  LoopFileSystem(const std::string& type, const std::string& options,
                 const std::string& size = "300M");
  ~LoopFileSystem();
  LoopFileSystem(const LoopFileSystem&) = delete;
  LoopFileSystem& operator=(const LoopFileSystem&) = delete;

  // A new subvolume at path, inside the mounted btrfs; false when it could
  // not be made (or this is no mounted btrfs).
  bool MakeSubvolume(const std::filesystem::path& path) const;
  // Unmounts and mounts the image again, so that nothing the driver keeps
  // in memory says otherwise than the image; false when it cannot.
  bool Remount() const;

  std::string whyNot;  // empty when mounted
  std::filesystem::path mountPoint;

 private:
  bool MountImage() const;

  std::string typeName;
  std::string mountOptions;
  TempTree folder;              // holds the image and the mount point
  std::filesystem::path image;  // none for tmpfs
};
