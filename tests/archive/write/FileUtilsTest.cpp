#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "TestSupport.h"
#include "archive/frame/ztvBase.h"
#include "archive/write/ztvFileUtils.h"
#include "platform/Dialogs.h"
#include "platform/Drive.h"
#include "platform/File.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::TempFolder;
using test::WriteAll;

// ---- Stored names ----

TEST(StoredName, EveryMode) {
  struct Case {
    TStoredDirNames mode;
    std::string path, root, defaultDir, baseDir, expected;
  } cases[] = {
      {sdNone, "/data/sub/f.txt", "/data/", "", "", "f.txt"},
      {sdNone, "/data/sub/", "/data/", "", "", ""},
      {sdAbsolute, "/data/sub/f.txt", "/data/", "", "", "/data/sub/f.txt"},
      {sdAbsoluteNoDrv, "/data/f.txt", "/", "", "", "/data/f.txt"},
      // A colon is an ordinary character in names here, no drive separator.
      {sdAbsoluteNoDrv, "/data/a:b.txt", "/", "", "", "/data/a:b.txt"},
      {sdAbsoluteNoDrv, "//server/share/dir/f.txt", "/", "", "", "/dir/f.txt"},
      {sdAbsoluteNoRoot, "/data/f.txt", "/", "", "", "data/f.txt"},
      {sdAbsoluteNoRoot, "//server/share/dir/f.txt", "/", "", "", "dir/f.txt"},
      {sdRelative, "/data/sub/f.txt", "/data/", "", "", "sub/f.txt"},
      {sdRelative, "/data/sub/", "/data/", "", "", "sub/"},
      {sdRelative, "/other/f.txt", "/data/", "", "", "/other/f.txt"},
      // Case counts in paths of this platform: /Data is another folder.
      {sdRelative, "/Data/sub/f.txt", "/data/", "", "", "/Data/sub/f.txt"},
      {sdRelative, "/database/f.txt", "/data", "", "", "/database/f.txt"},
      {sdRelativeStoreStart, "/a/b/x/y.txt", "/a/b/", "", "", "b/x/y.txt"},
      {sdRelativeStoreStart, "/a/b/x/y.txt", "/", "", "", "a/b/x/y.txt"},
      {sdRelativeStoreStart, "/c/y.txt", "/a/b/", "", "", "/c/y.txt"},
      // Root equals DefaultDir: relative to the root.
      {sdExplorer_Auto, "/a/b/x.txt", "/a/", "/a/", "/", "b/x.txt"},
      // Below DefaultDir, whatever the root.
      {sdExplorer_Auto, "/a/b/x.txt", "/a/b/", "/a/", "/", "b/x.txt"},
      // Elsewhere: relative to the fallback base folder.
      {sdExplorer_Auto, "/c/d/x.txt", "/c/d/", "/a/", "/c/", "d/x.txt"},
      {sdExplorer_Auto, "/e/x.txt", "/e/", "/a/", "/c/", "/e/x.txt"},
      {sdExplorer_UserDefineDefaultDir, "/home/u/docs/r.txt", "/home/u/docs/", "/home/u/", "/home/", "docs/r.txt"},
      {sdExplorer_UserDefineDefaultDir, "/srv/x.txt", "/srv/", "/home/u/", "/", "srv/x.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + c.path + " root " + c.root);
    EXPECT_EQ(StoredName(c.path, c.mode, c.root, c.defaultDir, c.baseDir), c.expected);
  }
}

TEST(StoredName, CommonAndBaseFolder) {
  EXPECT_EQ(CommonFolder({"/a/b/x.txt", "/a/bc/y.txt"}), "/a/");
  EXPECT_EQ(CommonFolder({"/a/b/*.*"}), "/a/b/");
  EXPECT_EQ(CommonFolder({"/a/b/*.*", "/a/b/c/d.txt", "/a/b/e/"}), "/a/b/");
  EXPECT_EQ(CommonFolder({"/a/x.txt", "/b/y.txt"}), "/");
  EXPECT_EQ(CommonFolder({"x.txt", "/a/y.txt"}), "");
  EXPECT_EQ(CommonFolder({}), "");

  EXPECT_EQ(FallbackBaseFolder({"/a/b/x.txt", "/z/y.txt"}), "/a/");
  EXPECT_EQ(FallbackBaseFolder({"/x.txt"}), "/");
  EXPECT_EQ(FallbackBaseFolder({"sub/x.txt"}), "");
  EXPECT_EQ(FallbackBaseFolder({"x.txt"}), "");
  EXPECT_EQ(FallbackBaseFolder({}), "");
}

// ---- Names inside archives ----

TEST(ArchiveNames, Writing) {
  struct Case {
    std::string name, stored;
    bool utf8;
  } cases[] = {
      {"dir\\sub/f.txt", "dir/sub/f.txt", false},
      {"caf\xC3\xA9/\xC3\xBC.txt", "caf\xC3\xA9/\xC3\xBC.txt", true},  // CP437 could hold these, UTF-8 anyway
      {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt", true},
      {"raw\xFF.bin", "raw\xFF.bin", false},  // not UTF-8: the bytes go as they are
  };
  for (const Case& c : cases) {
    for (bool translate : {true, false}) {
      SCOPED_TRACE(c.name + (translate ? " translated" : ""));
      TArchiveName n = ToArchiveName(c.name, translate);
      EXPECT_EQ(n.Name, c.stored);
      EXPECT_EQ(n.Utf8, c.utf8);
    }
  }
}

TEST(ArchiveNames, Reading) {
  const std::string cafe = "caf\xC3\xA9";
  TExtraFieldRecords unicode;
  unicode.HasUnicodePath = true;
  unicode.UnicodePathVersion = 1;
  const std::string euro = cafe + " \xE2\x82\xAC";  // more than CP437 holds
  unicode.UnicodePath = euro + "\\x.txt";
  const std::string dosName = "caf\x82\\x.txt";  // "é" is 0x82 in CP437
  unicode.UnicodePathCrc =
      Crc32Update(reinterpret_cast<const uint8_t*>(dosName.data()), dosName.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
  TExtraFieldRecords stale = unicode;
  stale.UnicodePathCrc ^= 1;

  struct Case {
    const char* what;
    std::string stored;
    bool translate;
    TNameOrigin origin;
    std::string expected;
  } cases[] = {
      {"CP437 from DOS", dosName, true, {}, cafe + "/x.txt"},
      {"no translation", dosName, false, {}, "caf\x82/x.txt"},
      {"flag 11", cafe + "/x.txt", true, {kGeneralPurposeUtf8, 0, nullptr}, cafe + "/x.txt"},
      {"Unix host, UTF-8", cafe + "/x.txt", true, {0, 0x031E, nullptr}, cafe + "/x.txt"},
      // The same bytes from a DOS host are CP437 characters.
      {"DOS host, UTF-8 bytes", cafe, true, {0, 0x0014, nullptr}, "caf\xE2\x94\x9C\xE2\x8C\x90"},
      {"Unix host, not UTF-8", "caf\x82", true, {0, 0x031E, nullptr}, cafe},
      {"Unicode path field", dosName, true, {0, 0x0014, &unicode}, euro + "/x.txt"},
      {"Unicode path field, no translation", dosName, false, {0, 0x0014, &unicode}, euro + "/x.txt"},
      {"Unicode path of another name", dosName, true, {0, 0x0014, &stale}, cafe + "/x.txt"},
      {"Unicode path of another name, no translation", dosName, false, {0, 0x0014, &stale}, "caf\x82/x.txt"},
      {"separators", "a\\b/c\\", true, {}, "a/b/c/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FromArchiveName(c.stored, c.translate, c.origin), c.expected);
  }
}

TEST(ArchiveNames, RoundTrip) {
  for (const std::string name : {"plain/name.txt", "caf\xC3\xA9/\xE2\x82\xAC.txt", "\xD0\x96/\xE6\x97\xA5"}) {
    TArchiveName stored = ToArchiveName(name, true);
    TNameOrigin origin;
    origin.GeneralPurpose = stored.Utf8 ? kGeneralPurposeUtf8 : 0;
    EXPECT_EQ(FromArchiveName(stored.Name, true, origin), name);
  }
}

// ---- Files and folders ----

TEST(FileUtils, DeleteFileExFinal) {
  TempFolder tmp;
  const std::string ro = (tmp / "ro.txt").string();
  WriteAll(ro, "x");
  ASSERT_TRUE(platform::SetFileAttributes(ro, platform::kAttrReadOnly));
  EXPECT_TRUE(DeleteFileEx(ro, doFinal));
  EXPECT_FALSE(fs::exists(ro));
  EXPECT_FALSE(DeleteFileEx(ro, doFinal));

  fs::create_directories(tmp / "tree/a/b");
  WriteAll(tmp / "tree/a/b/f.txt", "x");
  EXPECT_TRUE(DeleteFileEx(tmp.str() + "tree/", doFinal));
  EXPECT_FALSE(fs::exists(tmp / "tree"));

  // A link goes; its target keeps its content and its protection.
  const std::string target = (tmp / "target.txt").string();
  WriteAll(target, "keep");
  ASSERT_TRUE(platform::SetFileAttributes(target, platform::kAttrReadOnly));
  fs::create_symlink(target, tmp / "link");
  EXPECT_TRUE(DeleteFileEx((tmp / "link").string(), doFinal));
  EXPECT_FALSE(fs::is_symlink(tmp / "link"));
  EXPECT_EQ(test::ReadAll(target).size(), 4u);
  EXPECT_TRUE(platform::GetFileAttributes(target) & platform::kAttrReadOnly);
  fs::create_directory(tmp / "dir");
  fs::create_directory_symlink(tmp / "dir", tmp / "dirlink");
  WriteAll(tmp / "dir/inside.txt", "x");
  EXPECT_TRUE(DeleteFileEx((tmp / "dirlink").string(), doFinal));
  EXPECT_TRUE(fs::exists(tmp / "dir/inside.txt"));
}

TEST(FileUtils, DeleteFileExToTrash) {
  TempFolder tmp;
  test::ScopedEnv xdg("XDG_DATA_HOME", tmp.str() + "xdg");
  const std::string ro = (tmp / "ro.txt").string();
  WriteAll(ro, "undo me");
  ASSERT_TRUE(platform::SetFileAttributes(ro, platform::kAttrReadOnly));
  EXPECT_TRUE(DeleteFileEx(ro, doAllowUndo));
  EXPECT_FALSE(fs::exists(ro));
  EXPECT_EQ(test::ReadAll(tmp / "xdg/Trash/files/ro.txt").size(), 7u);
  EXPECT_TRUE(fs::exists(tmp / "xdg/Trash/info/ro.txt.trashinfo"));

  fs::create_directories(tmp / "folder/sub");
  EXPECT_TRUE(DeleteFileEx((tmp / "folder").string(), doAllowUndo));
  EXPECT_TRUE(fs::is_directory(tmp / "xdg/Trash/files/folder/sub"));

  EXPECT_FALSE(DeleteFileEx((tmp / "missing.txt").string(), doAllowUndo));
}

TEST(FileUtils, IsEmptyDir) {
  TempFolder tmp;
  struct Case {
    const char* what;
    std::vector<std::string> dirs, files;
    bool empty;
  } cases[] = {
      {"nothing", {}, {}, true},
      {"empty folders only", {"a", "a/b/c", "d"}, {}, true},
      {"a file deep down", {"a/b/c"}, {"a/b/c/f.txt"}, false},
      {"a file at the top", {}, {"f"}, false},
      // Hidden folders carry more than the folder attribute.
      {"a hidden empty folder", {".hidden"}, {}, false},
      {"a hidden file", {"a"}, {"a/.keep"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path root = tmp / c.what;
    fs::create_directory(root);
    for (const auto& d : c.dirs) fs::create_directories(root / d);
    for (const auto& f : c.files) WriteAll(root / f, "x");
    EXPECT_EQ(IsEmptyDir(root.string()), c.empty);
    EXPECT_EQ(IsEmptyDir(root.string() + "/"), c.empty);
  }
  // A link to a folder, even one that leads back up, is something.
  fs::create_directory(tmp / "loop");
  fs::create_directory_symlink(tmp / "loop", tmp / "loop/self");
  EXPECT_FALSE(IsEmptyDir((tmp / "loop").string()));
  EXPECT_FALSE(IsEmptyDir((tmp / "missing").string()));
  WriteAll(tmp / "file", "x");
  EXPECT_FALSE(IsEmptyDir((tmp / "file").string()));
}

TEST(FileUtils, IsWriteableAndFileExistsEx) {
  TempFolder tmp;
  WriteAll(tmp / "w.txt", "x");
  WriteAll(tmp / "ro.txt", "x");
  ASSERT_TRUE(platform::SetFileAttributes((tmp / "ro.txt").string(), platform::kAttrReadOnly));
  WriteAll(tmp / ".hidden", "x");
  fs::create_directory(tmp / "dir");

  EXPECT_TRUE(IsWriteable((tmp / "w.txt").string()));
  for (const char* name : {"ro.txt", ".hidden", "dir", "missing"}) EXPECT_FALSE(IsWriteable((tmp / name).string())) << name;

  // Attributes 0: found, whichever entry it is.
  struct Case {
    std::string name;
    bool found;
    uint32_t attributes;
  } cases[] = {
      {"w.txt", true, platform::kAttrArchive},
      {"ro.txt", true, platform::kAttrArchive | platform::kAttrReadOnly},
      {"*.txt", true, 0},
      {"w.*", true, platform::kAttrArchive},
      {"*.doc", false, 0},
      {"dir", true, platform::kAttrDirectory},
      {"dir/", true, platform::kAttrDirectory},
      {"missing", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t attributes = 0xDEAD;
    EXPECT_EQ(FileExistsEx(tmp.str() + c.name, &attributes), c.found);
    if (c.attributes != 0) {
      EXPECT_EQ(attributes, c.attributes);
    }
    if (!c.found) {
      EXPECT_EQ(attributes, 0xDEADu);
    }
  }
  EXPECT_TRUE(FileExistsEx((tmp / "w.txt").string()));
  EXPECT_FALSE(FileExistsEx(""));
}

TEST(FileUtils, ForceFolders) {
  TempFolder tmp;
  EXPECT_TRUE(ForceFolders(tmp.str() + "a/b/c"));
  EXPECT_TRUE(fs::is_directory(tmp / "a/b/c"));
  EXPECT_TRUE(ForceFolders(tmp.str() + "a/b/c/"));
  EXPECT_TRUE(ForceFolders(tmp.str() + "a/b/d/"));
  EXPECT_TRUE(fs::is_directory(tmp / "a/b/d"));
  // A file in the way stays a file.
  WriteAll(tmp / "file", "data");
  EXPECT_FALSE(ForceFolders(tmp.str() + "file/sub"));
  EXPECT_EQ(test::ReadAll(tmp / "file").size(), 4u);
}

TEST(FileUtils, PathPieces) {
  EXPECT_EQ(JoinPath("/a", "b.txt"), "/a/b.txt");
  EXPECT_EQ(JoinPath("/a/", "b.txt"), "/a/b.txt");
  EXPECT_EQ(JoinPath("", "b.txt"), "");
  EXPECT_EQ(AddTrailingSlash("/a"), "/a/");
  EXPECT_EQ(AddTrailingSlash("/a/"), "/a/");
  EXPECT_EQ(AddTrailingSlash(""), "");
  EXPECT_EQ(RemoveTrailingSlash("/a/"), "/a");
  EXPECT_EQ(RemoveTrailingSlash("/a//"), "/a/");
  EXPECT_EQ(RemoveTrailingSlash("/a"), "/a");
  EXPECT_TRUE(IsNetworkPath("//server/share"));
  EXPECT_TRUE(IsNetworkPath("//s"));
  EXPECT_FALSE(IsNetworkPath("//"));
  EXPECT_FALSE(IsNetworkPath("/server/share"));
}

TEST(FileUtils, SpannedDiskNumber) {
  struct Case {
    const char* label;
    int number;
  } cases[] = {{"PKBACK# 001", 1},  {"pkback# 012", 12}, {"PKBACK# 002   ", 2}, {"PKBACK# 65535", 65535},
               {"PKBACK#001", 0},   {"PKBACK# ", 0},     {"PKBACK# 1a", 0},    {"PKBACK# 99999999999", 0},
               {"BACKUP", 0},       {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(SpannedDiskNumber(c.label), c.number) << c.label;
}

// ---- Drive check ----

// The fake drive, with a volume that can refuse to be read a few times and
// a count of the medium and write-protection tests.
class TestDrive : public platform::FakeDriveProvider {
 public:
  using FakeDriveProvider::FakeDriveProvider;
  int volumeFailures = 0;
  int mediumTests = 0;
  int protectionTests = 0;
  bool DiskPresent(const std::string& path) override {
    ++mediumTests;
    return FakeDriveProvider::DiskPresent(path);
  }
  bool WriteProtected(const std::string& path) override {
    ++protectionTests;
    return FakeDriveProvider::WriteProtected(path);
  }
  bool VolumeInfo(const std::string& path, std::string& label, uint32_t& serial) override {
    if (volumeFailures > 0) {
      --volumeFailures;
      errno = EIO;
      return false;
    }
    return FakeDriveProvider::VolumeInfo(path, label, serial);
  }
};

class DriveCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(tmp_ / "floppy");
    auto drive = std::make_unique<TestDrive>(tmp_.str() + "floppy");
    drive_ = drive.get();
    previous_ = platform::SetDriveProvider(std::move(drive));
    drive_->disk.label = "PKBACK# 003";
    drive_->disk.serial = 0x0012ABCD;
    drive_->disk.capacity = 10000;
    c_.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
      codes_.push_back(code);
    };
  }
  void TearDown() override {
    platform::SetMessageBoxHook(nullptr);
    platform::SetDriveProvider(std::move(previous_));
  }
  std::string Root() const { return tmp_.str() + "floppy/"; }
  std::string Archive() const { return Root() + "set.zip"; }

  TempFolder tmp_;
  TestDrive* drive_ = nullptr;
  std::unique_ptr<platform::DriveProvider> previous_;
  TZipCommon c_;
  std::vector<int> codes_;
  TDriveInfo info_;
};

TEST_F(DriveCheck, RecordsTheDrive) {
  WriteAll(Root() + "old.bin", std::string(1000, 'x'));
  ASSERT_TRUE(CheckDrive(c_, Archive(), info_));
  EXPECT_TRUE(codes_.empty());
  EXPECT_EQ(info_.Drive, Root());
  EXPECT_EQ(info_.VolumeLabel, "PKBACK# 003");
  EXPECT_EQ(info_.SerialNumber, 0x0012ABCDu);
  EXPECT_EQ(info_.SerialNumberText, "0012ABCD");
  EXPECT_EQ(info_.DiskNumber, 3);
  EXPECT_EQ(info_.FileSystemName, "vfat");
  EXPECT_EQ(info_.DriveType, platform::DriveType::Removable);
  EXPECT_EQ(info_.TotalSpace, 10000);
  EXPECT_EQ(info_.FreeSpace, 9000);
  // The writability probe leaves nothing behind, also for an archive whose
  // folder is yet to be made.
  ASSERT_TRUE(CheckDrive(c_, Root() + "not/yet/set.zip", info_));
  int entries = 0;
  for (const auto& e : fs::directory_iterator(tmp_ / "floppy")) entries += e.path().filename() != "old.bin";
  EXPECT_EQ(entries, 0);

  drive_->disk.label = "DATA";
  ASSERT_TRUE(CheckDrive(c_, Archive(), info_));
  EXPECT_EQ(info_.DiskNumber, 0);
}

TEST_F(DriveCheck, FolderClosedToTheUserIsNoWriteProtectedDisk) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into every folder";
  fs::create_directory(tmp_ / "floppy/closed");
  fs::permissions(tmp_ / "floppy/closed", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_TRUE(CheckDrive(c_, Root() + "closed/set.zip", info_));
  fs::permissions(tmp_ / "floppy/closed", fs::perms::owner_all);
  EXPECT_TRUE(codes_.empty());
}

TEST_F(DriveCheck, MissingOrProtectedDisk) {
  struct Case {
    const char* what;
    bool present, writeProtected;
    int handler;  // 0 none, 1 leaves Abort true, 2 mends the disk and retries
    bool ok;
    std::vector<int> codes;
  } cases[] = {
      {"no disk, no handler", false, false, 0, false, {E_NOTACCESSIBLE}},
      {"no disk, aborted", false, false, 1, false, {E_USERCANCEL}},
      {"no disk, inserted", false, false, 2, true, {}},
      {"protected, no handler", true, true, 0, false, {E_WRITEPROTECTED}},
      {"protected, aborted", true, true, 1, false, {E_USERCANCEL}},
      {"protected, released", true, true, 2, true, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    codes_.clear();
    drive_->disk.present = k.present;
    drive_->disk.writeProtected = k.writeProtected;
    int asked = 0;
    TOnDiskError handler;
    if (k.handler != 0) {
      handler = [&, mend = k.handler == 2](TObject* sender, bool& abort) {
        EXPECT_EQ(sender, &c_);
        EXPECT_TRUE(abort);
        ++asked;
        if (mend) {
          drive_->disk.present = true;
          drive_->disk.writeProtected = false;
          abort = false;
        }
      };
    }
    c_.OnDiskInDrvErr = k.present ? TOnDiskError() : handler;
    c_.OnDiskWriteProtectErr = k.present ? handler : TOnDiskError();
    EXPECT_EQ(CheckDrive(c_, Archive(), info_), k.ok);
    EXPECT_EQ(codes_, k.codes);
    EXPECT_EQ(asked, k.handler != 0 ? 1 : 0);
  }
}

TEST_F(DriveCheck, UnreadableVolumeAsksRetryOrCancel) {
  drive_->volumeFailures = 1;
  EXPECT_FALSE(CheckDrive(c_, Archive(), info_));  // no user interface: Cancel
  EXPECT_EQ(codes_, std::vector<int>{E_NOTACCESSIBLE});

  std::vector<std::string> texts;
  std::vector<platform::MsgResult> answers;
  platform::SetMessageBoxHook([&](const std::string& caption, const std::string& text, platform::MsgKind kind,
                                  platform::MsgButtons buttons) {
    EXPECT_EQ(caption, "Tessavar");
    EXPECT_EQ(kind, platform::MsgKind::Error);
    EXPECT_EQ(buttons, platform::MsgButtons::RetryCancel);
    texts.push_back(text);
    if (answers.empty()) return platform::MsgResult::Cancel;
    const platform::MsgResult answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  });
  codes_.clear();
  drive_->volumeFailures = 1;
  answers = {platform::MsgResult::Retry};
  EXPECT_TRUE(CheckDrive(c_, Archive(), info_));
  EXPECT_TRUE(codes_.empty());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], Root() + "is not accessible\n\n" + std::strerror(EIO));
  EXPECT_EQ(info_.VolumeLabel, "PKBACK# 003");

  // Retry reads again; Cancel ends the check even though the volume would
  // come back with the next read.
  texts.clear();
  drive_->volumeFailures = 3;
  answers = {platform::MsgResult::Retry, platform::MsgResult::Retry, platform::MsgResult::Cancel};
  EXPECT_FALSE(CheckDrive(c_, Archive(), info_));
  EXPECT_EQ(texts.size(), 3u);
  EXPECT_EQ(codes_, std::vector<int>{E_NOTACCESSIBLE});
}

TEST_F(DriveCheck, NetworkPathSkipsMediumAndProtection) {
  drive_->disk.present = false;  // would stop any medium test on the fake drive
  ASSERT_TRUE(CheckDrive(c_, "//server/share/dir/set.zip", info_));
  EXPECT_EQ(drive_->mediumTests, 0);
  EXPECT_EQ(drive_->protectionTests, 0);
  EXPECT_EQ(info_.Drive, "//server/share/");
  EXPECT_EQ(info_.FreeSpace, 0);
  EXPECT_TRUE(codes_.empty());
}

}  // namespace
}  // namespace tessavar
