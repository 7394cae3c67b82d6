#pragma once
// Drives. On this platform the "drive" of a path is the mounted file system
// that holds it. Spanned archives on removable disks need the label, serial,
// free space and a way to tell a disk is present; tests replace the real
// provider with a fake whose drive is a folder.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessavar::platform {

enum class DriveType { Unknown, NoRootDir, Removable, Fixed, Remote, CdRom, RamDisk };

class DriveProvider {
 public:
  virtual ~DriveProvider() = default;
  // The mount point (with trailing "/") of the file system that holds path.
  virtual std::string RootOf(const std::string& path) = 0;
  virtual DriveType TypeOf(const std::string& path) = 0;
  // False when no disk is in the drive.
  virtual bool DiskPresent(const std::string& path) = 0;
  virtual bool WriteProtected(const std::string& path) = 0;
  virtual bool VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) = 0;
  virtual bool SetVolumeLabel(const std::string& path, const std::string& label) = 0;
  virtual bool FreeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) = 0;
  // The type of the file system that holds path ("ext4", "vfat", "nfs4");
  // "" when the provider cannot tell.
  virtual std::string FileSystemName(const std::string& /*path*/) { return ""; }
  // The mount points (with trailing "/") of the file systems that hold
  // files, for a walk over "every drive". A provider that cannot enumerate
  // its mounts offers the root alone.
  virtual std::vector<std::string> MountPoints() { return {"/"}; }
};

// The provider in use (the real one unless a test installed another).
DriveProvider& Drives();
// Installs a provider; nullptr puts the real one back. Returns the previous one.
std::unique_ptr<DriveProvider> SetDriveProvider(std::unique_ptr<DriveProvider> provider);

// statvfs, /proc/self/mountinfo, /sys/block/*/removable, /dev/disk/by-label.
class RealDriveProvider : public DriveProvider {
 public:
  std::string RootOf(const std::string& path) override;
  DriveType TypeOf(const std::string& path) override;
  bool DiskPresent(const std::string& path) override;
  bool WriteProtected(const std::string& path) override;
  bool VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) override;
  bool SetVolumeLabel(const std::string& path, const std::string& label) override;
  bool FreeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) override;
  // The type column of /proc/self/mountinfo.
  std::string FileSystemName(const std::string& path) override;
  // "/" and the mounted folders of block devices, network shares, RAM disks
  // and CDs; the kernel's own file systems (proc, sysfs, devtmpfs, cgroup,
  // ...) and anything below /proc, /sys and /dev are left out.
  std::vector<std::string> MountPoints() override;
};

// A removable drive made of a folder: every path below `root` is on it. The
// "disk" in it (label, serial, capacity, presence, write protection) can be
// changed at any time, also inside an event handler, to stand for swapping
// disks. Free space is the capacity less the bytes of the files below root.
class FakeDriveProvider : public DriveProvider {
 public:
  explicit FakeDriveProvider(std::string root, DriveType type = DriveType::Removable);
  struct Disk {
    std::string label;
    uint32_t serial = 0;
    int64_t capacity = 1457664;  // a 1.44 MB floppy
    bool present = true;
    bool writeProtected = false;
    std::string fileSystem = "vfat";
  };
  Disk disk;
  const std::string& Root() const { return root_; }

  std::string RootOf(const std::string& path) override;
  DriveType TypeOf(const std::string& path) override;
  bool DiskPresent(const std::string& path) override;
  bool WriteProtected(const std::string& path) override;
  bool VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) override;
  bool SetVolumeLabel(const std::string& path, const std::string& label) override;
  bool FreeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) override;
  std::string FileSystemName(const std::string& path) override;
  // Only the fake drive's root, so a walk over every drive stays inside it.
  std::vector<std::string> MountPoints() override;

 private:
  bool OnDrive(const std::string& path) const;
  std::string root_;
  DriveType type_;
  RealDriveProvider real_;  // answers for paths outside the fake drive
};

}  // namespace tessavar::platform
