#include "platform/File.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/Find.h"

namespace tessavar::platform {
namespace {

// errno is clobbered by the clean-up calls that follow a failure (close,
// unlink), so the error that matters is kept separately.
thread_local int tLastError = 0;

void SetError(int error) {
  tLastError = error;
  errno = error;
}

// Records errno of the call that just failed and hands the caller's value back.
template <typename T>
T Failed(T value) {
  tLastError = errno;
  return value;
}

// A single read(2)/write(2) may transfer at most about 2 GiB on Linux.
constexpr int64_t kMaxChunk = int64_t{1} << 30;

using WriteFaultHook = std::function<int64_t(FileHandle, int64_t, int&)>;

// Components may write on several threads while a test swaps the hook.
std::mutex gFaultMutex;
std::shared_ptr<const WriteFaultHook> gFault;

std::shared_ptr<const WriteFaultHook> CurrentFault() {
  std::lock_guard<std::mutex> lock(gFaultMutex);
  return gFault;
}

// Writes up to `count` bytes, retrying interrupted and short writes.
// Returns the bytes written; -1 only when nothing could be written.
int64_t WriteFully(FileHandle h, const char* p, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(h, p + done, static_cast<size_t>(std::min(count - done, kMaxChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      tLastError = errno;
      return done > 0 ? done : -1;
    }
    if (n == 0) {  // should not happen for files; avoid spinning forever
      SetError(EIO);
      return done > 0 ? done : -1;
    }
    done += n;
  }
  return done;
}

// "a/b/" and "a/b" name the same entry; stat(2) would insist the first is a
// folder, which is not what callers passing a folder value mean.
std::string StripTrailingSlashes(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  return path.substr(0, end);
}

std::string ParentOf(const std::string& path) {
  std::string p = StripTrailingSlashes(path);
  size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return StripTrailingSlashes(p.substr(0, slash));
}

bool StatOf(const std::string& path, struct stat& st) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::stat(StripTrailingSlashes(path).c_str(), &st) != 0) return Failed(false);
  return true;
}

bool LstatOf(const std::string& path, struct stat& st) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::lstat(StripTrailingSlashes(path).c_str(), &st) != 0) return Failed(false);
  return true;
}

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

// Removes `name` below the folder `parentFd` without following links.
// Works on descriptors so that a link swapped in mid-way cannot redirect
// the removal outside the tree.
bool RemoveEntryAt(int parentFd, const std::string& name) {
  struct stat st {};
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return Failed(false);
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(parentFd, name.c_str(), 0) != 0) return Failed(false);
    return true;
  }
  int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) {
    // A folder marked read-only (or unreadable) is still ours to delete.
    ::fchmodat(parentFd, name.c_str(), (st.st_mode & 07777) | S_IRWXU, 0);
    fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return Failed(false);
  FdCloser closer{fd};
  if ((st.st_mode & S_IRWXU) != S_IRWXU) ::fchmod(fd, (st.st_mode & 07777) | S_IRWXU);

  // Read every name first: removing entries while readdir runs may skip some.
  std::vector<std::string> names;
  {
    int dupFd = ::dup(fd);
    if (dupFd < 0) return Failed(false);
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(dupFd));
    if (!dir) {
      tLastError = errno;
      ::close(dupFd);
      return false;
    }
    while (dirent* e = ::readdir(dir.get())) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(std::move(n));
    }
  }
  bool ok = true;
  int firstError = 0;
  for (const auto& n : names) {
    if (!RemoveEntryAt(fd, n) && ok) {
      ok = false;
      firstError = tLastError;
    }
  }
  if (!ok) {
    SetError(firstError);
    return false;
  }
  if (::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) != 0) return Failed(false);
  return true;
}

}  // namespace

FileHandle FileOpen(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::Create: flags |= O_CREAT | O_TRUNC | O_RDWR; break;
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::ReadWrite: flags |= O_RDWR; break;
    case OpenMode::CreateNew: flags |= O_CREAT | O_EXCL | O_RDWR; break;
  }
  if (path.empty()) {
    SetError(ENOENT);
    return kInvalidHandle;
  }
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Failed(kInvalidHandle);
  if (mode == OpenMode::CreateNew) return fd;  // just made: a file
  // A folder opens read-only on Linux, but no caller can use it as a file;
  // failing here gives a clear error instead of EISDIR on the first read.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    SetError(EISDIR);
    return kInvalidHandle;
  }
  return fd;
}

int64_t FileRead(FileHandle h, void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && buffer == nullptr)) {
    SetError(EINVAL);
    return -1;
  }
  // Callers treat a short read as end of file, so keep reading until the
  // request is met (pipes and some file systems return less than asked).
  auto* p = static_cast<char*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(h, p + done, static_cast<size_t>(std::min(count - done, kMaxChunk)));
    if (n < 0) {
      if (errno == EINTR) continue;
      tLastError = errno;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t FileWrite(FileHandle h, const void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && buffer == nullptr)) {
    SetError(EINVAL);
    return -1;
  }
  if (count == 0) return 0;
  int64_t allowed = count;
  int faultError = 0;
  if (auto hook = CurrentFault()) {
    int error = 0;
    int64_t n = (*hook)(h, count, error);
    if (n >= 0 && n < count) {
      allowed = n;
      faultError = error != 0 ? error : EIO;
    }
  }
  int64_t done = allowed > 0 ? WriteFully(h, static_cast<const char*>(buffer), allowed) : 0;
  if (done < 0 || done < allowed) return done;
  if (faultError != 0) {
    SetError(faultError);
    return done > 0 ? done : -1;
  }
  return done;
}

int64_t FileSeek(FileHandle h, int64_t offset, SeekOrigin origin) {
  int whence = SEEK_SET;
  switch (origin) {
    case SeekOrigin::Begin: whence = SEEK_SET; break;
    case SeekOrigin::Current: whence = SEEK_CUR; break;
    case SeekOrigin::End: whence = SEEK_END; break;
  }
  off_t pos = ::lseek(h, static_cast<off_t>(offset), whence);
  if (pos < 0) return Failed(int64_t{-1});
  return pos;
}

int64_t FileSize(FileHandle h) {
  struct stat st {};
  if (::fstat(h, &st) != 0) return Failed(int64_t{-1});
  return st.st_size;
}

bool FileTruncate(FileHandle h) {
  off_t pos = ::lseek(h, 0, SEEK_CUR);
  if (pos < 0) return Failed(false);
  int rc;
  do {
    rc = ::ftruncate(h, pos);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return Failed(false);
  return true;
}

bool FileSync(FileHandle h) {
  int rc;
  do {
    rc = ::fsync(h);
  } while (rc != 0 && errno == EINTR);
  // Some file systems (pipes, a few FUSE ones) cannot sync; that is no
  // reason to fail a write that otherwise went through.
  if (rc != 0 && errno != EINVAL && errno != EROFS) return Failed(false);
  return true;
}

bool FileClose(FileHandle h) {
  if (h < 0) {
    SetError(EBADF);
    return false;
  }
  // Linux releases the descriptor even when close reports EINTR; retrying
  // could close a descriptor another thread has just been given.
  if (::close(h) != 0 && errno != EINTR) return Failed(false);
  return true;
}

int LastError() { return tLastError; }

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

void SetWriteFault(std::function<int64_t(FileHandle h, int64_t count, int& error)> hook) {
  std::shared_ptr<const WriteFaultHook> next;
  if (hook) next = std::make_shared<const WriteFaultHook>(std::move(hook));
  std::lock_guard<std::mutex> lock(gFaultMutex);
  gFault = std::move(next);
}

bool FileExists(const std::string& path) {
  struct stat st {};
  if (StatOf(path, st)) return !S_ISDIR(st.st_mode);
  // A dangling link is an entry too: treating it as absent would let a
  // later create follow it to wherever it points.
  int error = tLastError;
  if (LstatOf(path, st) && S_ISLNK(st.st_mode)) return true;
  SetError(error);
  return false;
}

bool DirExists(const std::string& path) {
  struct stat st {};
  return StatOf(path, st) && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return LstatOf(path, st);
}

int64_t FileSizeOf(const std::string& path) {
  struct stat st {};
  if (StatOf(path, st)) {
    if (S_ISDIR(st.st_mode)) {
      SetError(EISDIR);
      return -1;
    }
    return st.st_size;
  }
  if (LstatOf(path, st) && S_ISLNK(st.st_mode)) return 0;  // dangling link, as Find reports it
  return -1;
}

bool DeleteFile(const std::string& path) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::unlink(StripTrailingSlashes(path).c_str()) != 0) return Failed(false);
  return true;
}

bool RemoveDir(const std::string& path) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::rmdir(StripTrailingSlashes(path).c_str()) != 0) return Failed(false);
  return true;
}

bool RemoveTree(const std::string& path) {
  std::string p = StripTrailingSlashes(path);
  if (p.empty()) {
    SetError(ENOENT);
    return false;
  }
  size_t slash = p.find_last_of('/');
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (p == "/" || name == "." || name == "..") {
    SetError(EINVAL);
    return false;
  }
  int parentFd = ::open(ParentOf(p).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parentFd < 0) return Failed(false);
  FdCloser closer{parentFd};
  return RemoveEntryAt(parentFd, name);
}

bool MoveFile(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::rename(StripTrailingSlashes(from).c_str(), StripTrailingSlashes(to).c_str()) != 0) return Failed(false);
  return true;
}

bool CopyFile(const std::string& from, const std::string& to) {
  FileHandle in = FileOpen(from, OpenMode::Read);
  if (in == kInvalidHandle) return false;
  FdCloser inCloser{in};
  // Opening the destination truncates it; when it is the source itself
  // that would destroy the very data being copied.
  struct stat srcSt {}, dstSt {};
  if (::fstat(in, &srcSt) == 0 && ::stat(to.c_str(), &dstSt) == 0 && srcSt.st_dev == dstSt.st_dev &&
      srcSt.st_ino == dstSt.st_ino) {
    SetError(EINVAL);
    return false;
  }
  FileHandle out = FileOpen(to, OpenMode::Create);
  if (out == kInvalidHandle) return false;

  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (;;) {
    int64_t n = FileRead(in, buffer.data(), static_cast<int64_t>(buffer.size()));
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    if (FileWrite(out, buffer.data(), n) != n) {
      ok = false;
      break;
    }
  }
  int error = tLastError;
  if (::close(out) != 0 && ok) {  // delayed write errors (NFS, quotas) show up here
    ok = false;
    error = errno;
  }
  if (!ok) {
    // A partial copy must not pass for the file.
    ::unlink(to.c_str());
    SetError(error);
  }
  return ok;
}

bool CreateDir(const std::string& path) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::mkdir(StripTrailingSlashes(path).c_str(), 0777) != 0) return Failed(false);
  return true;
}

bool ForceDirs(const std::string& path) {
  std::string p = StripTrailingSlashes(path);
  if (p.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (DirExists(p)) return true;
  // Create from the top down; a part that exists as a file stops the walk.
  for (size_t pos = p.find('/', 1); ; pos = p.find('/', pos + 1)) {
    std::string part = pos == std::string::npos ? p : p.substr(0, pos);
    if (!part.empty() && part.back() != '/' && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      return Failed(false);
    }
    if (pos == std::string::npos) break;
  }
  if (!DirExists(p)) {
    if (tLastError == 0 || tLastError == ENOENT) SetError(ENOTDIR);
    return false;
  }
  return true;
}

std::string CurrentDir() {
  std::vector<char> buf(4096);
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) break;
    if (errno != ERANGE) return Failed(std::string());
    buf.resize(buf.size() * 2);
  }
  std::string dir = buf.data();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool SetCurrentDir(const std::string& path) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::chdir(path.c_str()) != 0) return Failed(false);
  return true;
}

bool SameFileSystem(const std::string& a, const std::string& b) {
  // The paths are often files about to be created; their nearest existing
  // parent is what decides where they will land.
  auto deviceOf = [](const std::string& path, dev_t& dev) {
    std::string p = path.empty() ? std::string(".") : path;
    for (int guard = 0; guard < 4096; ++guard) {
      struct stat st {};
      if (::stat(p.c_str(), &st) == 0) {
        dev = st.st_dev;
        return true;
      }
      std::string parent = ParentOf(p);
      if (parent == StripTrailingSlashes(p)) return false;
      p = parent;
    }
    return false;
  };
  dev_t da{}, db{};
  return deviceOf(a, da) && deviceOf(b, db) && da == db;
}

bool IsSymlink(const std::string& path) {
  struct stat st {};
  return LstatOf(path, st) && S_ISLNK(st.st_mode);
}

std::string RealPath(const std::string& path) {
  if (path.empty()) {
    SetError(ENOENT);
    return "";
  }
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  if (!resolved) return Failed(std::string());
  std::string result = resolved.get();
  // Keep a folder value a folder value.
  if (path.back() == '/' && result.back() != '/') result += '/';
  return result;
}

uint32_t GetFileAttributes(const std::string& path) {
  FindData data;
  if (!StatPath(path, data)) return kInvalidAttributes;
  return data.attributes;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  struct stat st {};
  if (!StatOf(path, st)) return false;
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return true;
  if (::chmod(StripTrailingSlashes(path).c_str(), mode) != 0) return Failed(false);
  return true;
}

int GetFileMode(const std::string& path) {
  struct stat st {};
  if (!StatOf(path, st)) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

bool SetFileMode(const std::string& path, int mode) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  if (::chmod(StripTrailingSlashes(path).c_str(), static_cast<mode_t>(mode) & 07777) != 0) return Failed(false);
  return true;
}

int NewFileMode() {
  // umask(2) can only be read by setting it, which would briefly change it
  // for every thread; the kernel shows it in /proc instead.
  int mask = 022;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      unsigned value = 0;
      if (std::sscanf(line, "Umask: %o", &value) == 1) {
        mask = static_cast<int>(value & 0777);
        break;
      }
    }
    std::fclose(f);
  }
  return 0666 & ~mask;
}

bool GetFileTime(const std::string& path, int64_t& unixSeconds) {
  struct stat st {};
  if (!StatOf(path, st)) return false;
  unixSeconds = st.st_mtim.tv_sec;
  return true;
}

bool SetFileTime(const std::string& path, int64_t unixSeconds) {
  if (path.empty()) {
    SetError(ENOENT);
    return false;
  }
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;  // leave the access time alone
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  times[1].tv_nsec = 0;
  if (::utimensat(AT_FDCWD, StripTrailingSlashes(path).c_str(), times, 0) != 0) return Failed(false);
  return true;
}

bool SetHandleTime(FileHandle h, int64_t unixSeconds) {
  struct timespec times[2] {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(unixSeconds);
  if (::futimens(h, times) != 0) return Failed(false);
  return true;
}

bool SetHandleMode(FileHandle h, int mode) {
  if (::fchmod(h, static_cast<mode_t>(mode) & 07777) != 0) return Failed(false);
  return true;
}

}  // namespace tessavar::platform
