#pragma once
// Directory enumeration: what the scanners need of a folder entry.
#include <cstdint>
#include <memory>
#include <string>

namespace tessavar::platform {

struct FindData {
  std::string name;       // entry name without path
  uint32_t attributes{};  // DOS attributes, see File.h
  int64_t size{};         // 0 for folders
  int64_t mtime{};        // modification time, Unix seconds (UTC)
  int mode{};             // Unix permission bits
  // Identity of the file the entry leads to (after following links), so a
  // walker can tell a folder it has already been in and a file system border.
  uint64_t device{};
  uint64_t inode{};
};

// Enumerates the entries of a folder whose names match a find pattern: the
// last part of `pattern` may hold "*" and "?" wildcards ("*.*" and "*" both
// take every name); without wildcards it names one entry. "." and ".." are
// never returned. Links are followed for attributes, sizes and times; a
// dangling link is returned as a plain file of size 0.
class FindFiles {
 public:
  explicit FindFiles(const std::string& pattern);
  ~FindFiles();
  FindFiles(const FindFiles&) = delete;
  FindFiles& operator=(const FindFiles&) = delete;
  // False when there are no more entries (or the folder cannot be read).
  bool Next(FindData& out);
  // The folder part of the pattern, with a trailing "/" ("" for none).
  const std::string& Folder() const { return folder_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string folder_;
};

// Find-pattern matching as the enumeration uses it (case-sensitive; "*.*"
// matches every name).
bool MatchFindPattern(const std::string& pattern, const std::string& name);

// Attributes, size and time of one path (no wildcard); false when missing.
bool StatPath(const std::string& path, FindData& out);

}  // namespace tessavar::platform
