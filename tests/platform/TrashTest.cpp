#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <regex>
#include <sys/stat.h>

#include "support/TestSupport.h"
#include "platform/File.h"
#include "platform/Trash.h"

namespace fs = std::filesystem;

namespace tessavar::platform {
namespace {

using test::ReadAll;
using test::ScopedEnv;
using test::TempFolder;
using test::WriteAll;

std::string Text(const fs::path& p) {
  auto bytes = ReadAll(p);
  return std::string(bytes.begin(), bytes.end());
}

class TrashTest : public ::testing::Test {
 protected:
  TrashTest() : data_("XDG_DATA_HOME", (tmp_ / "data").string()) {
    fs::create_directory(tmp_ / "work");
    work_ = RealPath(tmp_.str() + "work/");
    trash_ = tmp_ / "data" / "Trash";
  }

  // Checks the info file of `trashName` and that it names `original`.
  void ExpectInfo(const std::string& trashName, const std::string& encodedPath) {
    const fs::path info = trash_ / "info" / (trashName + ".trashinfo");
    ASSERT_TRUE(fs::exists(info)) << info;
    const std::string text = Text(info);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m,
                                 std::regex("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\n")))
        << text;
    EXPECT_EQ(m[1].str(), encodedPath);
    // The date is local time, close to now.
    struct tm tm {};
    ASSERT_NE(::strptime(m[2].str().c_str(), "%Y-%m-%dT%H:%M:%S", &tm), nullptr);
    tm.tm_isdst = -1;
    EXPECT_LT(std::abs(std::difftime(std::mktime(&tm), std::time(nullptr))), 120.0);
  }

  TempFolder tmp_;
  ScopedEnv data_;
  std::string work_;  // resolved, with a trailing "/"
  fs::path trash_;
};

TEST_F(TrashTest, TrashFolderFollowsTheEnvironment) {
  EXPECT_EQ(TrashDir(), (tmp_ / "data" / "Trash").string() + "/");
  ScopedEnv home("HOME", tmp_.str() + "home");
  {
    ScopedEnv relative("XDG_DATA_HOME", "relative/path");  // not absolute: ignored
    EXPECT_EQ(TrashDir(), tmp_.str() + "home/.local/share/Trash/");
  }
  {
    ScopedEnv empty("XDG_DATA_HOME", "");
    EXPECT_EQ(TrashDir(), tmp_.str() + "home/.local/share/Trash/");
  }
}

TEST_F(TrashTest, FilesGetUniqueNamesAndInfo) {
  for (int i = 1; i <= 3; ++i) {
    WriteAll(fs::path(work_) / "report.txt", "version " + std::to_string(i));
    ASSERT_TRUE(MoveToTrash(work_ + "report.txt")) << i;
    EXPECT_FALSE(fs::exists(fs::path(work_) / "report.txt"));
  }
  EXPECT_EQ(Text(trash_ / "files" / "report.txt"), "version 1");
  EXPECT_EQ(Text(trash_ / "files" / "report.2.txt"), "version 2");
  EXPECT_EQ(Text(trash_ / "files" / "report.3.txt"), "version 3");
  for (const char* name : {"report.txt", "report.2.txt", "report.3.txt"}) {
    SCOPED_TRACE(name);
    ExpectInfo(name, work_ + "report.txt");
  }
  // The trash folders are private.
  EXPECT_EQ(fs::status(trash_).permissions() & fs::perms::all, fs::perms::owner_all);

  // A leftover in files/ without its info file is not overwritten either.
  WriteAll(trash_ / "files" / "orphan", "old");
  WriteAll(fs::path(work_) / "orphan", "new");
  ASSERT_TRUE(MoveToTrash(work_ + "orphan"));
  EXPECT_EQ(Text(trash_ / "files" / "orphan"), "old");
  EXPECT_EQ(Text(trash_ / "files" / "orphan.2"), "new");
  EXPECT_FALSE(fs::exists(trash_ / "info" / "orphan.trashinfo"));
}

TEST_F(TrashTest, FoldersLinksAndEncodedPaths) {
  fs::create_directories(fs::path(work_) / "my.folder" / "sub");
  WriteAll(fs::path(work_) / "my.folder" / "sub" / "deep.txt", "deep");
  ASSERT_TRUE(MoveToTrash(work_ + "my.folder/"));
  EXPECT_FALSE(fs::exists(fs::path(work_) / "my.folder"));
  EXPECT_EQ(Text(trash_ / "files" / "my.folder" / "sub" / "deep.txt"), "deep");
  ExpectInfo("my.folder", work_ + "my.folder");

  fs::create_directory(fs::path(work_) / "my.folder");
  ASSERT_TRUE(MoveToTrash(work_ + "my.folder"));
  EXPECT_TRUE(fs::is_directory(trash_ / "files" / "my.folder.2"));  // folders keep their dots

  // A link goes to the trash itself; its target stays.
  WriteAll(fs::path(work_) / "target", "t");
  fs::create_symlink(fs::path(work_) / "target", fs::path(work_) / "link");
  ASSERT_TRUE(MoveToTrash(work_ + "link"));
  EXPECT_TRUE(fs::is_symlink(trash_ / "files" / "link"));
  EXPECT_EQ(Text(fs::path(work_) / "target"), "t");

  const std::string odd = "a b%#\u00FC.txt";
  WriteAll(fs::path(work_) / odd, "x");
  ASSERT_TRUE(MoveToTrash(work_ + odd));
  ExpectInfo(odd, work_ + "a%20b%25%23%C3%BC.txt");

  // A relative path is recorded absolute.
  const std::string cwd = CurrentDir();
  ASSERT_TRUE(SetCurrentDir(work_));
  WriteAll(fs::path(work_) / "rel.txt", "r");
  const bool moved = MoveToTrash("rel.txt");
  ASSERT_TRUE(SetCurrentDir(cwd));
  ASSERT_TRUE(moved);
  ExpectInfo("rel.txt", work_ + "rel.txt");
}

TEST_F(TrashTest, LongNamesStillFit) {
  const std::string name = std::string(240, 'n') + ".dat";  // with ".trashinfo" beyond 255 bytes
  WriteAll(fs::path(work_) / name, "x");
  ASSERT_TRUE(MoveToTrash(work_ + name));
  EXPECT_FALSE(fs::exists(fs::path(work_) / name));
  int files = 0;
  for (const auto& e : fs::directory_iterator(trash_ / "files")) {
    ++files;
    EXPECT_EQ(e.path().extension(), ".dat");
    EXPECT_TRUE(fs::exists(trash_ / "info" / (e.path().filename().string() + ".trashinfo")));
  }
  EXPECT_EQ(files, 1);
}

TEST_F(TrashTest, FailuresChangeNothing) {
  EXPECT_FALSE(MoveToTrash(work_ + "missing"));
  EXPECT_FALSE(MoveToTrash(""));
  EXPECT_FALSE(MoveToTrash(work_ + "."));
  EXPECT_FALSE(MoveToTrash("/"));
  if (fs::exists(trash_ / "info")) {
    EXPECT_TRUE(fs::is_empty(trash_ / "info"));
  }

  // Nor can the trash swallow the folder it lives in.
  fs::create_directories(trash_ / "files");
  fs::create_directories(trash_ / "info");
  EXPECT_FALSE(MoveToTrash(tmp_.str() + "data"));
  EXPECT_TRUE(fs::is_directory(trash_ / "files"));
  EXPECT_TRUE(fs::is_empty(trash_ / "info"));

  // The trash cannot be created: a file is where it should go.
  ScopedEnv blocked("XDG_DATA_HOME", work_ + "blocker");
  WriteAll(fs::path(work_) / "blocker", "");
  WriteAll(fs::path(work_) / "keep.txt", "k");
  EXPECT_FALSE(MoveToTrash(work_ + "keep.txt"));
  EXPECT_EQ(Text(fs::path(work_) / "keep.txt"), "k");
}

// /dev/shm is a separate file system on most Linux systems: the move there
// cannot be a rename.
class TrashAcrossFileSystems : public TrashTest {
 protected:
  void SetUp() override {
    struct stat a {}, b {};
    if (::stat(tmp_.path().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0) {
      GTEST_SKIP() << "no second writable file system";
    }
    other_ = "/dev/shm/tessavar-trash-" + std::to_string(::getpid()) + "/";
    fs::remove_all(other_);
    fs::create_directories(fs::path(other_) / "tree" / "sub");
    WriteAll(fs::path(other_) / "tree" / "sub" / "a.bin", std::string(100000, 'a'));
    WriteAll(fs::path(other_) / "tree" / "b.txt", "b");
    fs::create_symlink("sub/a.bin", fs::path(other_) / "tree" / "rel-link");
    fs::permissions(fs::path(other_) / "tree" / "b.txt", fs::perms(0640));
  }
  void TearDown() override {
    SetWriteFault(nullptr);
    if (!other_.empty()) fs::remove_all(other_);
  }
  std::string other_;
};

TEST_F(TrashAcrossFileSystems, CopiesThenDeletes) {
  ASSERT_TRUE(MoveToTrash(other_ + "tree"));
  EXPECT_FALSE(fs::exists(fs::path(other_) / "tree"));
  const fs::path t = trash_ / "files" / "tree";
  EXPECT_EQ(Text(t / "sub" / "a.bin"), std::string(100000, 'a'));
  EXPECT_EQ(Text(t / "b.txt"), "b");
  EXPECT_EQ(fs::read_symlink(t / "rel-link"), "sub/a.bin");
  EXPECT_EQ(fs::status(t / "b.txt").permissions() & fs::perms::all, fs::perms(0640));
  ExpectInfo("tree", other_ + "tree");
}

TEST_F(TrashAcrossFileSystems, AFailedCopyLeavesTheOriginal) {
  SetWriteFault([](FileHandle, int64_t count, int& error) -> int64_t {
    error = ENOSPC;
    return count / 2;
  });
  EXPECT_FALSE(MoveToTrash(other_ + "tree"));
  SetWriteFault(nullptr);
  EXPECT_EQ(Text(fs::path(other_) / "tree" / "sub" / "a.bin"), std::string(100000, 'a'));
  EXPECT_EQ(Text(fs::path(other_) / "tree" / "b.txt"), "b");
  EXPECT_TRUE(fs::is_empty(trash_ / "files"));
  EXPECT_TRUE(fs::is_empty(trash_ / "info"));
}

}  // namespace
}  // namespace tessavar::platform
