#include "platform/Find.h"

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/File.h"

namespace tessavar::platform {
namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};

bool HasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Plain "*" / "?" globbing; "*" may take any run of characters, dots included.
bool Glob(const char* p, const char* pe, const char* n, const char* ne) {
  const char* starP = nullptr;
  const char* starN = nullptr;
  while (n < ne) {
    if (p < pe && (*p == '?' || *p == *n)) {
      ++p;
      ++n;
    } else if (p < pe && *p == '*') {
      starP = ++p;
      starN = n;
    } else if (starP) {
      p = starP;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pe && *p == '*') ++p;
  return p == pe;
}

// Fills `out` from the entry at `path`, whose name part is `name`.
bool Describe(const std::string& path, const std::string& name, FindData& out) {
  struct stat st {};
  bool dangling = false;
  if (::stat(path.c_str(), &st) != 0) {
    // A link to nowhere still takes up a name in the folder; reporting it
    // keeps an archive of the folder faithful to what is there.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    dangling = true;
  }
  out.name = name;
  out.attributes = 0;
  if (dangling || S_ISREG(st.st_mode)) out.attributes |= kAttrArchive;
  if (!dangling && S_ISDIR(st.st_mode)) out.attributes |= kAttrDirectory;
  if (!dangling && !(st.st_mode & S_IWUSR)) out.attributes |= kAttrReadOnly;
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") out.attributes |= kAttrHidden;
  out.size = (dangling || S_ISDIR(st.st_mode)) ? 0 : static_cast<int64_t>(st.st_size);
  out.mtime = st.st_mtim.tv_sec;
  out.mode = static_cast<int>(st.st_mode & 07777);
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

}  // namespace

struct FindFiles::Impl {
  std::unique_ptr<DIR, DirCloser> dir;
  std::string namePattern;
  bool single = false;  // pattern without wildcards: one lookup, no listing
  bool done = false;
};

FindFiles::FindFiles(const std::string& pattern) : impl_(std::make_unique<Impl>()) {
  size_t slash = pattern.find_last_of('/');
  if (slash != std::string::npos) folder_ = pattern.substr(0, slash + 1);
  impl_->namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  const std::string& np = impl_->namePattern;
  if (np.empty() || np == "." || np == "..") {
    impl_->done = true;
    return;
  }
  if (!HasWildcards(np)) {
    // A name without wildcards can be looked up even in a folder we may
    // not list.
    impl_->single = true;
    return;
  }
  impl_->dir.reset(::opendir(folder_.empty() ? "." : folder_.c_str()));
  if (!impl_->dir) impl_->done = true;
}

FindFiles::~FindFiles() = default;

bool FindFiles::Next(FindData& out) {
  if (impl_->done) return false;
  if (impl_->single) {
    impl_->done = true;
    return Describe(folder_ + impl_->namePattern, impl_->namePattern, out);
  }
  while (dirent* e = ::readdir(impl_->dir.get())) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!MatchFindPattern(impl_->namePattern, name)) continue;
    // An entry removed since readdir saw it is simply skipped.
    if (Describe(folder_ + name, name, out)) return true;
  }
  impl_->done = true;
  impl_->dir.reset();
  return false;
}

bool MatchFindPattern(const std::string& pattern, const std::string& name) {
  if (pattern == "*" || pattern == "*.*") return true;
  const char* p = pattern.data();
  const char* pe = p + pattern.size();
  const char* n = name.data();
  const char* ne = n + name.size();
  if (Glob(p, pe, n, ne)) return true;
  // As with the find calls of DOS lineage, a trailing ".*" also takes
  // names without that extension: "readme.*" finds "readme".
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    return Glob(p, pe - 2, n, ne);
  }
  return false;
}

bool StatPath(const std::string& path, FindData& out) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  std::string p = path.substr(0, end);
  if (p.empty()) return false;
  size_t slash = p.find_last_of('/');
  std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
  return Describe(p, name, out);
}

}  // namespace tessavar::platform
