#pragma once
// Files with 64-bit positions. Nothing here throws: a failed open gives
// kInvalidHandle and the caller reports the error it stands for.
#include <cstdint>
#include <functional>
#include <string>

namespace tessavar::platform {

using FileHandle = int;
inline constexpr FileHandle kInvalidHandle = -1;

enum class OpenMode {
  Create,     // create or truncate, read-write
  Read,       // existing file, read only
  ReadWrite,  // existing file, read-write
  CreateNew,  // a new file only (fails with EEXIST, never follows a link), read-write
};

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// A folder does not open (EISDIR).
FileHandle FileOpen(const std::string& path, OpenMode mode);
// Bytes read, 0 at end of file, -1 on error. Fewer than `count` only at the
// end of the file (or after an error, which the next call reports).
int64_t FileRead(FileHandle h, void* buffer, int64_t count);
// Bytes written (short on error), -1 when nothing could be written.
int64_t FileWrite(FileHandle h, const void* buffer, int64_t count);
// New position, or -1.
int64_t FileSeek(FileHandle h, int64_t offset, SeekOrigin origin);
int64_t FileSize(FileHandle h);
// Cuts the file at the current position.
bool FileTruncate(FileHandle h);
// Flushes the file's data to the device (fsync), so that a rename that
// follows cannot leave an empty file behind after a crash.
bool FileSync(FileHandle h);
bool FileClose(FileHandle h);
// errno of the last failed call of this thread.
int LastError();
// True for the "disk full" family (ENOSPC, EDQUOT).
bool IsDiskFull(int error);

// Fault injection for tests: when set, every FileWrite asks the hook first;
// a hook that returns a value >= 0 makes the write behave as if only that
// many bytes could be written, with errno set to the hook's `error`.
void SetWriteFault(std::function<int64_t(FileHandle h, int64_t count, int& error)> hook);

// Paths. Names use "/" and folders carry a trailing "/" where the callers say so.
bool FileExists(const std::string& path);   // a non-directory entry exists
bool DirExists(const std::string& path);    // a directory exists
bool PathExists(const std::string& path);   // anything exists (no link following)
int64_t FileSizeOf(const std::string& path);  // -1 when missing
bool DeleteFile(const std::string& path);
bool RemoveDir(const std::string& path);       // an empty folder
bool RemoveTree(const std::string& path);      // a folder and all below it; links are removed, not followed
// rename(2): replaces an existing `to`; fails across file systems (EXDEV).
bool MoveFile(const std::string& from, const std::string& to);
// Creates or truncates `to`; on failure no partial `to` is left, and a `to`
// that is `from` itself is refused before anything is truncated.
bool CopyFile(const std::string& from, const std::string& to);
bool CreateDir(const std::string& path);
bool ForceDirs(const std::string& path);  // with all missing parents
std::string CurrentDir();                 // with a trailing "/"
bool SetCurrentDir(const std::string& path);
bool SameFileSystem(const std::string& a, const std::string& b);  // st_dev of the nearest existing parents
bool IsSymlink(const std::string& path);
// Resolves links and "." / ".." of an existing path; "" when it cannot.
std::string RealPath(const std::string& path);

// DOS attributes: read-only 0x01 (owner cannot write), hidden 0x02 (name
// begins with "."), directory 0x10, archive 0x20 (every regular file).
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrVolume = 0x08;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

uint32_t GetFileAttributes(const std::string& path);
// Only the read-only bit has an effect: set clears the write bits, clear
// gives the owner write permission back.
bool SetFileAttributes(const std::string& path, uint32_t attributes);
// Unix permission bits (st_mode & 07777), or -1.
int GetFileMode(const std::string& path);
bool SetFileMode(const std::string& path, int mode);
// The permission bits a newly created file gets: 0666 less the umask.
int NewFileMode();

// Modification time as Unix seconds (UTC), or false.
bool GetFileTime(const std::string& path, int64_t& unixSeconds);
bool SetFileTime(const std::string& path, int64_t unixSeconds);
// The same two on an open file, which spares the path lookups.
bool SetHandleTime(FileHandle h, int64_t unixSeconds);
bool SetHandleMode(FileHandle h, int mode);

}  // namespace tessavar::platform
