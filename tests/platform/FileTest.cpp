#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "platform/File.h"

namespace fs = std::filesystem;

namespace tessavar::platform {
namespace {

using test::ReadAll;
using test::TempFolder;
using test::WriteAll;

std::string Text(const fs::path& p) {
  auto bytes = ReadAll(p);
  return std::string(bytes.begin(), bytes.end());
}

// Clears the write-fault hook even when an assertion leaves the test early.
struct FaultGuard {
  ~FaultGuard() { SetWriteFault(nullptr); }
};

TEST(File, OpenModes) {
  TempFolder tmp;
  const std::string path = (tmp / "f.bin").string();

  FileHandle h = FileOpen(path, OpenMode::Create);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileWrite(h, "hello world", 11), 11);
  EXPECT_EQ(FileSeek(h, 0, SeekOrigin::Begin), 0);
  char buf[32] = {};
  EXPECT_EQ(FileRead(h, buf, sizeof buf), 11);  // Create is read-write
  EXPECT_EQ(FileRead(h, buf, sizeof buf), 0);   // then end of file
  EXPECT_TRUE(FileClose(h));

  h = FileOpen(path, OpenMode::Read);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileWrite(h, "x", 1), -1);
  EXPECT_EQ(LastError(), EBADF);
  EXPECT_EQ(FileSize(h), 11);
  EXPECT_TRUE(FileClose(h));

  h = FileOpen(path, OpenMode::ReadWrite);  // keeps the content
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileSeek(h, 6, SeekOrigin::Begin), 6);
  EXPECT_EQ(FileWrite(h, "W", 1), 1);
  EXPECT_EQ(FileSeek(h, -2, SeekOrigin::Current), 5);
  EXPECT_TRUE(FileTruncate(h));
  EXPECT_EQ(FileSize(h), 5);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(Text(path), "hello");

  h = FileOpen(path, OpenMode::Create);  // truncates
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_EQ(FileSize(h), 0);
  EXPECT_TRUE(FileClose(h));
}

TEST(File, OpenFailuresGiveInvalidHandle) {
  TempFolder tmp;
  struct Case {
    std::string path;
    OpenMode mode;
    int error;
  } cases[] = {
      {(tmp / "missing").string(), OpenMode::Read, ENOENT},
      {(tmp / "missing").string(), OpenMode::ReadWrite, ENOENT},
      {(tmp / "no" / "such" / "dir").string(), OpenMode::Create, ENOENT},
      {tmp.path().string(), OpenMode::Read, EISDIR},  // a folder is not a file
      {"", OpenMode::Read, ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(FileOpen(c.path, c.mode), kInvalidHandle);
    EXPECT_EQ(LastError(), c.error);
  }
  EXPECT_FALSE(fs::exists(tmp / "missing"));
  EXPECT_FALSE(FileClose(kInvalidHandle));
}

TEST(File, PositionsBeyond4GiB) {
  TempFolder tmp;
  const std::string path = (tmp / "sparse.bin").string();
  const int64_t far = (int64_t{5} << 30) + 7;  // past every 32-bit boundary
  FileHandle h = FileOpen(path, OpenMode::Create);
  ASSERT_NE(h, kInvalidHandle);
  ASSERT_EQ(FileSeek(h, far, SeekOrigin::Begin), far);
  ASSERT_EQ(FileWrite(h, "Z", 1), 1);
  EXPECT_EQ(FileSize(h), far + 1);
  EXPECT_EQ(FileSeek(h, 0, SeekOrigin::End), far + 1);
  EXPECT_EQ(FileSeek(h, -1, SeekOrigin::End), far);
  char c = 0;
  EXPECT_EQ(FileRead(h, &c, 1), 1);
  EXPECT_EQ(c, 'Z');
  EXPECT_EQ(FileSeek(h, (int64_t{4} << 30) + 1, SeekOrigin::Begin), (int64_t{4} << 30) + 1);
  EXPECT_TRUE(FileTruncate(h));
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(FileSizeOf(path), (int64_t{4} << 30) + 1);
  EXPECT_EQ(FileSeek(-1, 0, SeekOrigin::Begin), -1);
}

TEST(File, WriteFaultSimulatesDiskFull) {
  TempFolder tmp;
  FaultGuard guard;
  const std::string path = (tmp / "full.bin").string();
  FileHandle h = FileOpen(path, OpenMode::Create);
  ASSERT_NE(h, kInvalidHandle);

  int64_t budget = 3;
  SetWriteFault([&](FileHandle, int64_t count, int& error) -> int64_t {
    if (count <= budget) {
      budget -= count;
      return -1;  // no fault: the whole write happens
    }
    error = ENOSPC;
    int64_t n = budget;
    budget = 0;
    return n;
  });
  EXPECT_EQ(FileWrite(h, "ab", 2), 2);
  EXPECT_EQ(FileWrite(h, "cdefgh", 6), 1);  // short write...
  EXPECT_EQ(LastError(), ENOSPC);            // ...with the hook's error
  EXPECT_TRUE(IsDiskFull(LastError()));
  EXPECT_EQ(FileWrite(h, "ijk", 3), -1);  // nothing fits any more
  EXPECT_EQ(LastError(), ENOSPC);
  SetWriteFault(nullptr);
  EXPECT_EQ(FileWrite(h, "!", 1), 1);
  EXPECT_TRUE(FileClose(h));
  EXPECT_EQ(Text(path), "abc!");

  EXPECT_TRUE(IsDiskFull(EDQUOT));
  EXPECT_FALSE(IsDiskFull(EIO));
}

TEST(File, CopyFileGoesThroughTheWriteFault) {
  TempFolder tmp;
  FaultGuard guard;
  const std::string data(200000, 'q');
  WriteAll(tmp / "src", data);
  const std::string src = (tmp / "src").string(), dst = (tmp / "dst").string();

  ASSERT_TRUE(CopyFile(src, dst));
  EXPECT_EQ(Text(dst), data);

  SetWriteFault([](FileHandle, int64_t count, int& error) -> int64_t {
    error = ENOSPC;
    return count / 2;
  });
  EXPECT_FALSE(CopyFile(src, dst));
  EXPECT_TRUE(IsDiskFull(LastError()));
  EXPECT_FALSE(fs::exists(dst));  // no partial copy passes for the file
  SetWriteFault(nullptr);
  EXPECT_EQ(Text(src), data);

  // Copying a file onto itself must not truncate it first.
  EXPECT_FALSE(CopyFile(src, src));
  fs::create_symlink(tmp / "src", tmp / "alias");
  EXPECT_FALSE(CopyFile(src, (tmp / "alias").string()));
  EXPECT_EQ(Text(src), data);
  EXPECT_FALSE(CopyFile((tmp / "missing").string(), dst));
  EXPECT_FALSE(fs::exists(dst));
}

TEST(File, Attributes) {
  TempFolder tmp;
  WriteAll(tmp / "plain.txt", "x");
  WriteAll(tmp / "locked.txt", "x");
  fs::permissions(tmp / "locked.txt", fs::perms(0444));
  WriteAll(tmp / ".profile", "x");
  fs::create_directory(tmp / "dir");
  fs::create_directory(tmp / ".config");
  fs::create_directory(tmp / "ro-dir");
  fs::permissions(tmp / "ro-dir", fs::perms(0555));
  fs::create_symlink(tmp / "dir", tmp / "link-to-dir");
  fs::create_symlink(tmp / "nowhere", tmp / "dangling");

  struct Case {
    std::string name;
    uint32_t attributes;
  } cases[] = {
      {"plain.txt", kAttrArchive},
      {"locked.txt", kAttrArchive | kAttrReadOnly},
      {".profile", kAttrArchive | kAttrHidden},
      {"dir", kAttrDirectory},
      {"dir/", kAttrDirectory},
      {".config/", kAttrDirectory | kAttrHidden},
      {"ro-dir", kAttrDirectory | kAttrReadOnly},
      {"link-to-dir", kAttrDirectory},  // links are followed
      {"dangling", kAttrArchive},
      {"missing", kInvalidAttributes},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GetFileAttributes(tmp.str() + c.name), c.attributes);
  }
}

TEST(File, ReadOnlyAttributeMapsToWriteBits) {
  TempFolder tmp;
  WriteAll(tmp / "f", "x");
  const std::string f = (tmp / "f").string();
  struct Case {
    int before;
    uint32_t attributes;
    int after;
  } cases[] = {
      {0666, kAttrReadOnly, 0444},               // every write bit goes
      {0640, kAttrReadOnly | kAttrArchive, 0440},
      {0444, kAttrArchive, 0644},                // only the owner's comes back
      {0400, 0, 0600},
      {0755, kAttrArchive | kAttrHidden, 0755},  // other bits have no effect
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    ASSERT_TRUE(SetFileMode(f, c.before));
    EXPECT_TRUE(SetFileAttributes(f, c.attributes));
    EXPECT_EQ(GetFileMode(f), c.after);
  }
  EXPECT_FALSE(SetFileAttributes((tmp / "missing").string(), kAttrReadOnly));
  EXPECT_EQ(GetFileMode((tmp / "missing").string()), -1);
}

TEST(File, TimesAreWholeUnixSeconds) {
  TempFolder tmp;
  WriteAll(tmp / "f", "x");
  const std::string f = (tmp / "f").string();
  for (int64_t t : {int64_t{315532800}, int64_t{1700000001}, int64_t{4354819198}}) {
    ASSERT_TRUE(SetFileTime(f, t));
    int64_t got = 0;
    ASSERT_TRUE(GetFileTime(f, got));
    EXPECT_EQ(got, t);
  }
  int64_t unused = 0;
  EXPECT_FALSE(GetFileTime((tmp / "missing").string(), unused));
}

TEST(File, PathQueriesAcceptTrailingSlashes) {
  TempFolder tmp;
  WriteAll(tmp / "file", "12345");
  fs::create_directory(tmp / "dir");
  fs::create_symlink(tmp / "nowhere", tmp / "dangling");
  const std::string t = tmp.str();

  EXPECT_TRUE(FileExists(t + "file"));
  EXPECT_FALSE(FileExists(t + "dir"));
  EXPECT_FALSE(FileExists(t + "missing"));
  EXPECT_TRUE(FileExists(t + "dangling"));  // an entry that a create would follow
  EXPECT_TRUE(DirExists(t + "dir"));
  EXPECT_TRUE(DirExists(t + "dir/"));
  EXPECT_FALSE(DirExists(t + "file"));
  EXPECT_TRUE(PathExists(t + "dangling"));
  EXPECT_TRUE(IsSymlink(t + "dangling"));
  EXPECT_FALSE(IsSymlink(t + "file"));
  EXPECT_EQ(FileSizeOf(t + "file"), 5);
  EXPECT_EQ(FileSizeOf(t + "missing"), -1);
  EXPECT_EQ(FileSizeOf(t + "dir"), -1);
  EXPECT_EQ(RealPath(t + "dir/../file"), RealPath(t) + "file");
  EXPECT_EQ(RealPath(t + "dir/").back(), '/');
  EXPECT_EQ(RealPath(t + "missing"), "");

  const std::string cwd = CurrentDir();
  ASSERT_EQ(cwd.back(), '/');
  ASSERT_TRUE(SetCurrentDir(t + "dir/"));
  EXPECT_EQ(CurrentDir(), RealPath(t + "dir/"));
  ASSERT_TRUE(SetCurrentDir(cwd));
}

TEST(File, CreateMoveAndRemove) {
  TempFolder tmp;
  const std::string t = tmp.str();

  EXPECT_TRUE(ForceDirs(t + "a/b/c/"));
  EXPECT_TRUE(DirExists(t + "a/b/c"));
  EXPECT_TRUE(ForceDirs(t + "a/b/c"));  // already there
  WriteAll(tmp / "a" / "file", "x");
  EXPECT_FALSE(ForceDirs(t + "a/file/d"));  // a file is in the way
  EXPECT_TRUE(fs::is_regular_file(tmp / "a" / "file"));
  EXPECT_FALSE(CreateDir(t + "a"));
  EXPECT_EQ(LastError(), EEXIST);

  EXPECT_TRUE(MoveFile(t + "a/file", t + "a/b/moved"));
  EXPECT_TRUE(fs::exists(tmp / "a" / "b" / "moved"));
  EXPECT_FALSE(RemoveDir(t + "a/b"));  // not empty
  EXPECT_TRUE(DeleteFile(t + "a/b/moved"));
  EXPECT_FALSE(DeleteFile(t + "a/b/moved"));
  EXPECT_EQ(LastError(), ENOENT);

  // RemoveTree takes read-only folders too, and removes a link to a folder
  // outside the tree without touching what it points to.
  fs::create_directory(tmp / "keep");
  WriteAll(tmp / "keep" / "precious", "x");
  WriteAll(tmp / "a" / "b" / "c" / "deep", "x");
  fs::create_symlink(tmp / "keep", tmp / "a" / "b" / "outside");
  fs::permissions(tmp / "a" / "b" / "c", fs::perms(0555));
  fs::permissions(tmp / "a" / "b", fs::perms(0555));
  EXPECT_TRUE(RemoveTree(t + "a/"));
  EXPECT_FALSE(fs::exists(tmp / "a"));
  EXPECT_TRUE(fs::exists(tmp / "keep" / "precious"));
  EXPECT_FALSE(RemoveTree(t + "a"));
  EXPECT_FALSE(RemoveTree("/"));
}

TEST(File, SameFileSystemLooksAtTheNearestExistingParent) {
  TempFolder tmp;
  const std::string t = tmp.str();
  EXPECT_TRUE(SameFileSystem(t + "not/yet/there.zip", t));
  EXPECT_TRUE(SameFileSystem(t + "x", t + "y/z"));

  struct stat a {}, b {};
  if (::stat(tmp.path().c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev) {
    EXPECT_FALSE(SameFileSystem(t + "x", "/dev/shm/not-there/x"));
  }
}

TEST(File, SyncAndTheModeOfNewFiles) {
  TempFolder tmp;
  const std::string path = (tmp / "n.bin").string();
  FileHandle h = FileOpen(path, OpenMode::Create);
  ASSERT_NE(h, kInvalidHandle);
  EXPECT_TRUE(FileSync(h));
  FileClose(h);
  EXPECT_FALSE(FileSync(kInvalidHandle));
  EXPECT_EQ(LastError(), EBADF);
  EXPECT_EQ(GetFileMode(path), NewFileMode());  // what open(2) with 0666 gave
}

}  // namespace
}  // namespace tessavar::platform
