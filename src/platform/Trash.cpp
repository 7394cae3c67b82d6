#include "platform/Trash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/File.h"

namespace tessavar::platform {
namespace {

constexpr size_t kNameMax = 255;  // NAME_MAX of the common Linux file systems
constexpr const char* kInfoSuffix = ".trashinfo";

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

std::string HomeDir() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir) {
    return result->pw_dir;
  }
  return "";
}

// Bytes other than RFC 2396 unreserved characters and "/" are escaped;
// trash readers decode any escape, so escaping more than needed is safe.
std::string PercentEncode(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : path) {
    const auto b = static_cast<unsigned char>(ch);
    const bool keep = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') ||
                      std::string_view("-_.!~*'()/").find(ch) != std::string_view::npos;
    if (keep) {
      out += ch;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return out;
}

// Cuts `s` to at most `max` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& s, size_t max) {
  if (s.size() <= max) return s;
  size_t end = max;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

// The name in the trash for attempt `n` (1 = the original name), short
// enough that "<name>.trashinfo" still fits in a folder entry.
std::string CandidateName(const std::string& stem, const std::string& ext, int n) {
  const std::string number = n > 1 ? "." + std::to_string(n) : "";
  const size_t room = kNameMax - std::string_view(kInfoSuffix).size();
  std::string tail = number + ext;
  if (tail.size() >= room) tail = number;  // an absurdly long extension goes first
  return CutUtf8(stem, room - tail.size()) + tail;
}

std::string LocalTimestamp() {
  std::time_t now = std::time(nullptr);
  struct tm tm {};
  char buf[32] = "1970-01-01T00:00:00";
  if (::localtime_r(&now, &tm) != nullptr) std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

bool WriteAllTo(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool EnsureDir(const std::string& path) {
  // The trash holds other people's deleted files; keep it private.
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  return errno == EEXIST && DirExists(path);
}

// Copies a file, link or folder tree for the move to another file system.
// Regular files go through CopyFile so the write-fault seam covers them.
bool CopyTree(const std::string& from, const std::string& to) {
  struct stat st {};
  if (::lstat(from.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) return false;
    return ::symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), to.c_str()) == 0;
  }
  if (S_ISREG(st.st_mode)) {
    if (!CopyFile(from, to)) return false;
  } else if (S_ISDIR(st.st_mode)) {
    if (::mkdir(to.c_str(), 0700) != 0) return false;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(from.c_str()));
    if (!dir) return false;
    while (dirent* e = ::readdir(dir.get())) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      if (!CopyTree(from + "/" + name, to + "/" + name)) return false;
    }
  } else {
    errno = EPERM;  // devices, pipes and sockets are not carried over
    return false;
  }
  ::chmod(to.c_str(), st.st_mode & 07777);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
  return true;
}

bool RemoveAny(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  return S_ISDIR(st.st_mode) ? RemoveTree(path) : DeleteFile(path);
}

}  // namespace

std::string TrashDir() {
  std::string base;
  // XDG base-directory rules ignore a relative XDG_DATA_HOME.
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    std::string home = HomeDir();
    if (home.empty()) return "";
    base = home + "/.local/share";
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + (base == "/" ? "" : "/") + "Trash/";
}

bool MoveToTrash(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || p == "/") return false;
  struct stat st {};
  if (::lstat(p.c_str(), &st) != 0) return false;

  // Path= must be absolute. Resolving the parent (not the entry itself)
  // trashes a link rather than what it points to.
  const size_t slash = p.find_last_of('/');
  const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  if (name == "." || name == "..") return false;
  std::string parent = RealPath(slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash)));
  if (parent.empty()) return false;
  if (parent.back() != '/') parent += '/';
  const std::string original = parent + name;

  const std::string trash = TrashDir();
  if (trash.empty()) return false;
  const std::string trashNoSlash = trash.substr(0, trash.size() - 1);
  const size_t baseEnd = trashNoSlash.find_last_of('/');
  if (baseEnd != std::string::npos && baseEnd > 0 && !ForceDirs(trashNoSlash.substr(0, baseEnd))) return false;
  if (!EnsureDir(trashNoSlash) || !EnsureDir(trash + "files") || !EnsureDir(trash + "info")) return false;
  // Trashing the trash (or a folder holding it) would move it into itself.
  const std::string realTrash = RealPath(trash);
  if (realTrash.compare(0, original.size() + 1, original + "/") == 0) return false;

  std::string stem = name, ext;
  if (!S_ISDIR(st.st_mode)) {
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
      stem = name.substr(0, dot);
      ext = name.substr(dot);
    }
  }

  // The info file is created first with O_EXCL: that reserves the name
  // against another program trashing a file of the same name meanwhile.
  std::string trashName, infoPath;
  int fd = -1;
  for (int n = 1; n <= 100000 && fd < 0; ++n) {
    trashName = CandidateName(stem, ext, n);
    infoPath = trash + "info/" + trashName + kInfoSuffix;
    fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno != EEXIST) return false;
      continue;
    }
    struct stat clash {};
    if (::lstat((trash + "files/" + trashName).c_str(), &clash) == 0) {  // left over without its info file
      ::close(fd);
      ::unlink(infoPath.c_str());
      fd = -1;
    }
  }
  if (fd < 0) return false;

  const std::string info =
      "[Trash Info]\nPath=" + PercentEncode(original) + "\nDeletionDate=" + LocalTimestamp() + "\n";
  const bool written = WriteAllTo(fd, info);
  if (::close(fd) != 0 || !written) {
    ::unlink(infoPath.c_str());
    return false;
  }

  const std::string target = trash + "files/" + trashName;
  if (::rename(original.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV) {
    ::unlink(infoPath.c_str());
    return false;
  }
  // Another file system: copy, then delete. Without the right to remove the
  // original the copy would only duplicate it, so check that first.
  if (::access(parent.c_str(), W_OK | X_OK) != 0 || !CopyTree(original, target)) {
    RemoveAny(target);
    ::unlink(infoPath.c_str());
    return false;
  }
  if (!RemoveAny(original)) {
    // A file or link that could not be unlinked is still whole: undo. Of a
    // folder some part may be gone already, and all of it is in the trash,
    // so the trashed copy stays to lose nothing; the failure is reported.
    if (!S_ISDIR(st.st_mode)) {
      RemoveAny(target);
      ::unlink(infoPath.c_str());
    }
    return false;
  }
  return true;
}

}  // namespace tessavar::platform
