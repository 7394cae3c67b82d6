#include "platform/Drive.h"

#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace tessavar::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

struct Mount {
  std::string point;   // without trailing "/" except for "/"
  std::string fsType;
  std::string source;  // "/dev/sda1", "server:/export", "tmpfs", ...
  unsigned major = 0, minor = 0;
};

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string UnescapeOctal(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
        s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

// udev escapes unsafe label characters as \xNN.
std::string UnescapeHex(const std::string& s) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' && hex(s[i + 2]) >= 0 &&
        hex(s[i + 3]) >= 0) {
      out += static_cast<char>(hex(s[i + 2]) * 16 + hex(s[i + 3]));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::vector<Mount> ReadMounts() {
  std::vector<Mount> mounts;
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  while (std::getline(in, line)) {
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::istringstream fields(line);
    std::string id, parent, devno, root, point, options, word;
    if (!(fields >> id >> parent >> devno >> root >> point >> options)) continue;
    while (fields >> word && word != "-") {
    }
    Mount m;
    if (!(fields >> m.fsType >> m.source)) continue;
    m.point = UnescapeOctal(point);
    m.source = UnescapeOctal(m.source);
    if (std::sscanf(devno.c_str(), "%u:%u", &m.major, &m.minor) != 2) m.major = m.minor = 0;
    mounts.push_back(std::move(m));
  }
  return mounts;
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return CurrentDir() + path;
}

// The resolved form of the nearest part of `path` that exists: a file yet to
// be written lies on the file system of its folder.
std::string NearestExisting(const std::string& path) {
  std::string p = Absolute(path);
  for (int guard = 0; guard < 4096 && !p.empty(); ++guard) {
    std::string real = RealPath(p);
    if (!real.empty()) return real;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.find_last_of('/');
    if (slash == std::string::npos) break;
    p = slash == 0 ? "/" : p.substr(0, slash);
  }
  return "/";
}

bool Below(const std::string& path, const std::string& point) {
  if (point == "/") return true;
  return path.compare(0, point.size(), point) == 0 && (path.size() == point.size() || path[point.size()] == '/');
}

bool FindMount(const std::string& path, Mount& out) {
  const std::string real = NearestExisting(path);
  // Containers bind-mount single files (/etc/hosts); such a file is no root.
  const bool realIsDir = DirExists(real);
  bool found = false;
  for (auto& m : ReadMounts()) {
    if (!realIsDir && m.point == real) continue;
    // A later mount on the same point hides the earlier one.
    if (Below(real, m.point) && (!found || m.point.size() >= out.point.size())) {
      out = std::move(m);
      found = true;
    }
  }
  return found;
}

std::string ReadFirstLine(const std::string& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

// The whole-disk folder in /sys of a mount's block device ("" for none).
std::string DiskSysDir(const Mount& m) {
  if (m.major == 0) return "";  // anonymous devices: tmpfs, btrfs subvolumes, fuse ...
  std::string dir = RealPath("/sys/dev/block/" + std::to_string(m.major) + ":" + std::to_string(m.minor));
  if (dir.empty()) return "";
  struct stat st {};
  if (::stat((dir + "/partition").c_str(), &st) == 0) dir = dir.substr(0, dir.find_last_of('/'));
  return dir;
}

bool StatvfsOf(const std::string& path, struct statvfs& vfs) {
  return ::statvfs(NearestExisting(path).c_str(), &vfs) == 0;
}

int64_t Bytes(uint64_t blocks, uint64_t size) {
  constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (size != 0 && blocks > kMax / size) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(blocks * size);
}

// Bytes of the regular files below `dir`; links are not followed so a
// link cannot make the fake disk count something twice or loop.
int64_t BytesBelow(const std::string& dir, int depth) {
  if (depth > 256) return 0;
  std::unique_ptr<DIR, DirCloser> d(::opendir(dir.c_str()));
  if (!d) return 0;
  int64_t total = 0;
  while (dirent* e = ::readdir(d.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string child = dir + (dir.back() == '/' ? "" : "/") + name;
    struct stat st {};
    if (::lstat(child.c_str(), &st) != 0) continue;
    if (S_ISREG(st.st_mode)) total += st.st_size;
    else if (S_ISDIR(st.st_mode)) total += BytesBelow(child, depth + 1);
  }
  return total;
}

std::mutex gProviderMutex;
std::unique_ptr<DriveProvider> gProvider;

}  // namespace

// --- RealDriveProvider ------------------------------------------------------

std::string RealDriveProvider::RootOf(const std::string& path) {
  Mount m;
  if (!FindMount(path, m)) return "/";
  return m.point == "/" ? "/" : m.point + "/";
}

DriveType RealDriveProvider::TypeOf(const std::string& path) {
  if (path.empty()) return DriveType::NoRootDir;
  Mount m;
  if (!FindMount(path, m)) return DriveType::NoRootDir;
  static const char* const kRemote[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs"};
  for (const char* t : kRemote) {
    if (m.fsType == t) return DriveType::Remote;
  }
  if (m.fsType == "tmpfs" || m.fsType == "ramfs") return DriveType::RamDisk;
  const std::string disk = DiskSysDir(m);
  const std::string diskName = disk.substr(disk.find_last_of('/') + 1);
  if ((m.fsType == "iso9660" || m.fsType == "udf") && diskName.compare(0, 2, "sr") == 0) return DriveType::CdRom;
  if (!disk.empty() && ReadFirstLine(disk + "/removable") == "1") return DriveType::Removable;
  return DriveType::Fixed;
}

bool RealDriveProvider::DiskPresent(const std::string& path) {
  const std::string root = RootOf(path);
  struct statvfs vfs {};
  return DirExists(root) && ::statvfs(root.c_str(), &vfs) == 0;
}

bool RealDriveProvider::WriteProtected(const std::string& path) {
  struct statvfs vfs {};
  return StatvfsOf(path, vfs) && (vfs.f_flag & ST_RDONLY) != 0;
}

bool RealDriveProvider::VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) {
  struct statvfs vfs {};
  if (!StatvfsOf(path, vfs)) return false;
  const auto fsid = static_cast<uint64_t>(vfs.f_fsid);
  serial = static_cast<uint32_t>(fsid ^ (fsid >> 32));
  label.clear();
  Mount m;
  if (!FindMount(path, m)) return true;
  const std::string source = RealPath(m.source);
  const dev_t device = makedev(m.major, m.minor);
  std::unique_ptr<DIR, DirCloser> dir(::opendir("/dev/disk/by-label"));
  if (!dir) return true;  // no udev, or no labelled disks: an empty label
  while (dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string link = "/dev/disk/by-label/" + name;
    struct stat st {};
    if (::stat(link.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    if ((m.major != 0 && st.st_rdev == device) || (!source.empty() && RealPath(link) == source)) {
      label = UnescapeHex(name);
      break;
    }
  }
  return true;
}

bool RealDriveProvider::SetVolumeLabel(const std::string&, const std::string&) {
  // Relabelling needs a file-system specific tool and usually root rights.
  return false;
}

bool RealDriveProvider::FreeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) {
  struct statvfs vfs {};
  if (!StatvfsOf(path, vfs)) return false;
  const uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
  freeBytes = Bytes(vfs.f_bavail, unit);
  totalBytes = Bytes(vfs.f_blocks, unit);
  return true;
}

std::string RealDriveProvider::FileSystemName(const std::string& path) {
  Mount m;
  return FindMount(path, m) ? m.fsType : std::string();
}

std::vector<std::string> RealDriveProvider::MountPoints() {
  static const char* const kKept[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "sshfs", "fuse.sshfs",
                                      "tmpfs", "ramfs", "iso9660", "udf"};
  std::vector<std::string> points{"/"};
  for (const Mount& m : ReadMounts()) {
    if (m.point.empty() || m.point == "/") continue;
    if (Below(m.point, "/proc") || Below(m.point, "/sys") || Below(m.point, "/dev")) continue;
    bool keep = m.source.compare(0, 5, "/dev/") == 0;  // a file system on a block device
    for (const char* t : kKept) keep = keep || m.fsType == t;
    // Containers bind-mount single files (/etc/hosts) from the host's disk.
    if (!keep || !DirExists(m.point)) continue;
    std::string point = m.point + "/";
    bool seen = false;
    for (const auto& p : points) seen = seen || p == point;
    if (!seen) points.push_back(std::move(point));
  }
  return points;
}

// --- FakeDriveProvider ------------------------------------------------------

FakeDriveProvider::FakeDriveProvider(std::string root, DriveType type) : root_(std::move(root)), type_(type) {
  root_ = Absolute(root_);
  if (root_.empty() || root_.back() != '/') root_ += '/';
}

bool FakeDriveProvider::OnDrive(const std::string& path) const {
  std::string p = Absolute(path);
  if (p.back() != '/') p += '/';
  if (p.compare(0, root_.size(), root_) == 0) return true;
  // The same folder reached through a link (say /tmp -> /private/tmp).
  const std::string realRoot = RealPath(root_);
  if (realRoot.empty()) return false;
  std::string real = NearestExisting(path);
  if (real.back() != '/') real += '/';
  return real.compare(0, realRoot.size(), realRoot) == 0;
}

std::string FakeDriveProvider::RootOf(const std::string& path) {
  return OnDrive(path) ? root_ : real_.RootOf(path);
}

DriveType FakeDriveProvider::TypeOf(const std::string& path) { return OnDrive(path) ? type_ : real_.TypeOf(path); }

bool FakeDriveProvider::DiskPresent(const std::string& path) {
  return OnDrive(path) ? disk.present : real_.DiskPresent(path);
}

bool FakeDriveProvider::WriteProtected(const std::string& path) {
  return OnDrive(path) ? disk.writeProtected : real_.WriteProtected(path);
}

bool FakeDriveProvider::VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) {
  if (!OnDrive(path)) return real_.VolumeInfo(path, label, serial);
  if (!disk.present) return false;
  label = disk.label;
  serial = disk.serial;
  return true;
}

bool FakeDriveProvider::SetVolumeLabel(const std::string& path, const std::string& label) {
  if (!OnDrive(path)) return real_.SetVolumeLabel(path, label);
  if (!disk.present || disk.writeProtected) return false;
  disk.label = label;
  return true;
}

bool FakeDriveProvider::FreeSpace(const std::string& path, int64_t& freeBytes, int64_t& totalBytes) {
  if (!OnDrive(path)) return real_.FreeSpace(path, freeBytes, totalBytes);
  if (!disk.present) return false;
  const int64_t used = BytesBelow(root_, 0);
  totalBytes = disk.capacity;
  freeBytes = used >= disk.capacity ? 0 : disk.capacity - used;
  return true;
}

std::string FakeDriveProvider::FileSystemName(const std::string& path) {
  if (!OnDrive(path)) return real_.FileSystemName(path);
  return disk.present ? disk.fileSystem : std::string();
}

std::vector<std::string> FakeDriveProvider::MountPoints() { return {root_}; }

// --- the provider in use ----------------------------------------------------

DriveProvider& Drives() {
  static RealDriveProvider real;
  std::lock_guard<std::mutex> lock(gProviderMutex);
  return gProvider ? *gProvider : static_cast<DriveProvider&>(real);
}

std::unique_ptr<DriveProvider> SetDriveProvider(std::unique_ptr<DriveProvider> provider) {
  std::lock_guard<std::mutex> lock(gProviderMutex);
  return std::exchange(gProvider, std::move(provider));
}

}  // namespace tessavar::platform
