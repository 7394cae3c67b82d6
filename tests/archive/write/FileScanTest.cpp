#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "archive/write/ztvFileScan.h"
#include "platform/Application.h"
#include "platform/Drive.h"
#include "platform/File.h"
#include "platform/Time.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::TempFolder;
using test::WriteAll;
using Names = std::set<std::string>;

// Every file of the tree below, by path relative to the root, as the
// default scan of "*.*" takes them.
const Names kAllFiles = {"a.txt", "b.doc", "README", "x.txt", "ro.txt", ".hid.txt",
                         "sub/x.txt", "sub/c.txt", "sub/noext", "sub/deeper/x.txt"};

// root/
//   a.txt b.doc README x.txt ro.txt (read-only) .hid.txt (hidden file)
//   sub/ x.txt c.txt noext deeper/x.txt up -> ..  (a link back up)
//   .dir/ h.txt                                   (hidden folder)
//   empty/
//   loop -> .                                     (a link to itself)
class FileScan : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = tmp_.str();
    WriteAll(tmp_ / "a.txt", "aaaaa");
    WriteAll(tmp_ / "b.doc", "bbb");
    WriteAll(tmp_ / "README", "rr");
    WriteAll(tmp_ / "x.txt", "x");
    WriteAll(tmp_ / "ro.txt", "ro!!");
    fs::permissions(tmp_ / "ro.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    WriteAll(tmp_ / ".hid.txt", "hidden");
    fs::create_directories(tmp_ / "sub" / "deeper");
    WriteAll(tmp_ / "sub" / "x.txt", "xxxxxxx");
    WriteAll(tmp_ / "sub" / "c.txt", "cc");
    WriteAll(tmp_ / "sub" / "noext", "n");
    WriteAll(tmp_ / "sub" / "deeper" / "x.txt", "dd");
    fs::create_directory_symlink("..", tmp_ / "sub" / "up");
    fs::create_directory(tmp_ / ".dir");
    WriteAll(tmp_ / ".dir" / "h.txt", "h");
    fs::create_directory(tmp_ / "empty");
    fs::create_directory_symlink(".", tmp_ / "loop");
  }

  // The list's entries relative to the root: "sub/x.txt", or "sub/" for a folder.
  Names Listed(const TztvFileScan& scan) const {
    Names out;
    const TFilesList& list = scan.FilesList();
    for (int i = 0; i < list.Count(); ++i) {
      std::string full = list[i].FilePath + list[i].FileName;
      EXPECT_EQ(full.compare(0, root_.size(), root_), 0) << full;
      EXPECT_TRUE(out.insert(full.substr(root_.size())).second) << "twice: " << full;
    }
    return out;
  }

  static int64_t SizeOf(const Names& names, const std::string& root) {
    int64_t total = 0;
    for (const auto& n : names) total += platform::FileSizeOf(root + n);
    return total;
  }

  TempFolder tmp_;
  std::string root_;
};

Names Without(Names all, const Names& drop) {
  for (const auto& d : drop) all.erase(d);
  return all;
}

// ---- FileSpec mode ----

TEST_F(FileScan, StarDotStarTakesEveryFileOfTheTreeWithOrWithoutPeriod) {
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  EXPECT_EQ(Listed(scan), kAllFiles);
  EXPECT_EQ(scan.FilesCount(), static_cast<int>(kAllFiles.size()));
  EXPECT_EQ(scan.FilesSize(), SizeOf(kAllFiles, root_));
  // The FileSpec line was consumed and RootDir is the group's folder.
  EXPECT_TRUE(scan.FileSpec().empty());
  EXPECT_EQ(scan.RootDir(), root_);
}

TEST_F(FileScan, ANamedFileIsAlsoFoundInEverySubfolder) {
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "x.txt"});
  scan.Scan();
  EXPECT_EQ(Listed(scan), (Names{"x.txt", "sub/x.txt", "sub/deeper/x.txt"}));
}

TEST_F(FileScan, GroupMasksFollowTheMergingRules) {
  struct Case {
    std::vector<std::string> names;  // the name parts, all in the root folder
    std::vector<std::string> masks;  // the group's mask collection
  } cases[] = {
      {{"*.txt", "x.txt"}, {"*.txt"}},   // x.txt matches *.txt: dropped
      {{"x.txt", "*.txt"}, {"*.txt"}},   // *.txt matches x.txt: replaces it
      {{"*.txt", "*.doc"}, {"*.txt", "*.doc"}},
      {{"*.*"}, {"*"}},                  // "*.*" means every name
      {{""}, {"*"}},                     // so does a folder alone
      {{"*.*", "README"}, {"*", "README"}},  // merged before "*.*" becomes "*"
      {{"a.txt", "b.doc", "*.txt"}, {"*.txt", "b.doc"}},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    TStrings spec;
    for (const auto& n : c.names) spec.push_back(root_ + n);
    scan.SetFileSpec(spec);
    std::vector<std::vector<std::string>> groups;
    scan.OnRootDirChange = [&](TObject*, const std::string& dir) {
      EXPECT_EQ(dir, root_);
      std::vector<std::string> masks;
      for (size_t i = 0; i < scan.CurrentMasks().Count(); ++i) masks.push_back(scan.CurrentMasks()[i].Text());
      groups.push_back(masks);
    };
    scan.Scan();
    ASSERT_EQ(groups.size(), 1u) << c.names[0];
    EXPECT_EQ(groups[0], c.masks) << c.names[0];
  }
}

TEST(FileScanRules, MergeName) {
  struct Case {
    std::vector<std::string> before;
    const char* name;
    std::vector<std::string> after;
  } cases[] = {
      {{"*.txt"}, "x.txt", {"*.txt"}},
      {{"x.txt"}, "*.txt", {"*.txt"}},
      {{"x.txt"}, "X.TXT", {"x.txt"}},  // masks ignore ASCII case
      {{"*.txt"}, "*.doc", {"*.txt", "*.doc"}},
      {{"a.txt", "b.txt"}, "*.txt", {"*.txt", "b.txt"}},  // the first one is replaced
      {{"*"}, "anything", {"*"}},
      {{"a?"}, "a", {"a?", "a"}},
  };
  for (const auto& c : cases) {
    auto names = c.before;
    TztvFileScan::MergeName(names, c.name);
    EXPECT_EQ(names, c.after) << c.name;
  }
}

TEST_F(FileScan, FileSpecLinesAreGroupedByFolderIgnoringCase) {
  TztvFileScan scan;
  // "SUB/" groups with "sub/" and is scanned as the first entry spells it.
  scan.SetFileSpec({root_ + "sub/*.txt", root_ + "*.doc", root_ + "SUB/*.doc", root_ + "README"});
  std::vector<std::string> dirs;
  std::vector<size_t> maskCounts;
  scan.OnRootDirChange = [&](TObject*, const std::string& dir) {
    dirs.push_back(dir);
    maskCounts.push_back(scan.CurrentMasks().Count());
  };
  scan.Scan();
  EXPECT_EQ(dirs, (std::vector<std::string>{root_ + "sub/", root_}));
  EXPECT_EQ(maskCounts, (std::vector<size_t>{2, 2}));
  // The first group walked sub/ for *.txt and *.doc, the second the whole tree.
  EXPECT_EQ(Listed(scan), (Names{"sub/x.txt", "sub/c.txt", "sub/deeper/x.txt", "b.doc", "README"}));
  EXPECT_EQ(scan.RootDir(), root_);
}

TEST_F(FileScan, BlankFileSpecLinesAreDroppedAndAPathlessOneUsesRootDir) {
  TztvFileScan scan;
  scan.SetRootDir(root_ + "sub");
  EXPECT_EQ(scan.RootDir(), root_ + "sub/");
  scan.SetFileSpec({"   ", "", "c.txt"});
  std::vector<std::string> dirs;
  scan.OnRootDirChange = [&](TObject*, const std::string& dir) { dirs.push_back(dir); };
  scan.Scan();
  EXPECT_EQ(dirs, (std::vector<std::string>{root_ + "sub/"}));
  EXPECT_EQ(Listed(scan), (Names{"sub/c.txt"}));
}

TEST_F(FileScan, APathlessFileSpecLineWithoutRootDirUsesTheCurrentFolder) {
  const std::string old = platform::CurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(root_ + "sub/deeper"));
  TztvFileScan scan;
  EXPECT_EQ(scan.RootDir(), "");
  scan.SetFileSpec({"*.*"});
  std::string dir;
  scan.OnRootDirChange = [&](TObject*, const std::string& d) { dir = d; };
  scan.Scan();
  platform::SetCurrentDir(old);
  EXPECT_EQ(dir, platform::RealPath(root_ + "sub/deeper/"));
  ASSERT_EQ(scan.FilesList().Count(), 1);
  EXPECT_EQ(scan.FilesList()[0].FileName, "x.txt");
}

// ---- Masks mode ----

TEST(FileScanRules, SplitMasks) {
  struct Case {
    const char* text;
    std::vector<std::string> masks;
  } cases[] = {
      {"*.txt, *.doc", {"*.txt", "*.doc"}},
      {"*.txt *.doc", {"*.txt *.doc"}},  // no comma: one mask with a blank in it
      {"  a b  ,b", {"a b", "b"}},
      {"a,,b", {"a", "b"}},
      {"a,", {"a"}},
      {",", {}},
      {"", {}},
      {"   ", {}},
      {"*.*", {"*.*"}},
  };
  for (const auto& c : cases) EXPECT_EQ(TztvFileScan::SplitMasks(c.text), c.masks) << c.text;
}

TEST_F(FileScan, MasksModeWalksRootDirWithEachMask) {
  struct Case {
    const char* masks;
    Names found;
  } cases[] = {
      {"*.txt, *.doc", Without(kAllFiles, {"README", "sub/noext"})},
      {"*", kAllFiles},
      {"*.*", Without(kAllFiles, {"README", "sub/noext"})},  // not rewritten here
      {"*.", {"README", "sub/noext"}},
      {"c*", {"sub/c.txt"}},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    scan.SetRootDir(root_);
    scan.SetMasks(c.masks);
    int rootChanges = 0;
    scan.OnRootDirChange = [&](TObject*, const std::string&) { ++rootChanges; };
    scan.Scan();
    EXPECT_EQ(Listed(scan), c.found) << c.masks;
    EXPECT_EQ(rootChanges, 0);
  }
}

TEST_F(FileScan, AssigningFileSpecEmptiesMasks) {
  TztvFileScan scan;
  EXPECT_EQ(scan.Masks(), "*");
  scan.SetFileSpec({root_ + "*.doc"});
  EXPECT_EQ(scan.Masks(), "");
}

// ---- Hidden folders, links, unreadable folders ----

TEST_F(FileScan, HiddenFoldersAreEnteredOnlyWithIncludeHiddenDirs) {
  for (bool include : {false, true}) {
    TztvFileScan scan;
    scan.SetIncludeHiddenDirs(include);
    scan.SetFileSpec({root_ + "*.*"});
    std::vector<std::string> entered;
    scan.OnRecurseDir = [&](TObject*, const std::string& d) { entered.push_back(d.substr(root_.size())); };
    scan.Scan();
    Names expected = kAllFiles;
    if (include) expected.insert(".dir/h.txt");
    EXPECT_EQ(Listed(scan), expected) << include;
    std::sort(entered.begin(), entered.end());
    std::vector<std::string> dirs{"", "empty/", "sub/", "sub/deeper/"};
    if (include) dirs.insert(dirs.begin() + 1, ".dir/");
    EXPECT_EQ(entered, dirs) << include;
  }
}

TEST_F(FileScan, AHiddenFolderReachesTheHookOnlyWhenIncludedAndAsked) {
  struct Case {
    bool includeHidden;
    TztvFileAttributes attributes;
    bool listed;
  } cases[] = {
      {false, {fsDirectory, fsHidden}, false},
      {true, kDefaultScanAttributes, false},  // walked, but a folder has no archive bit
      {true, {fsHidden}, true},
      {true, {fsDirectory}, true},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    scan.SetIncludeHiddenDirs(c.includeHidden);
    scan.SetAttributes(c.attributes);
    scan.SetFileSpec({root_ + "*.*"});
    scan.Scan();
    EXPECT_EQ(Listed(scan).count(".dir/"), c.listed ? 1u : 0u) << c.includeHidden << " " << c.attributes.Bits();
  }
}

TEST_F(FileScan, LinksToFoldersNeverMakeTheWalkLoop) {
  // loop -> . and sub/up -> .. lead back into folders being walked; every
  // file is still taken once (Listed checks that) and the walk ends.
  TztvFileScan scan;
  scan.SetAttributes({fsArchive, fsDirectory});
  scan.SetFileSpec({root_ + "*.*"});
  int entered = 0;
  scan.OnRecurseDir = [&](TObject*, const std::string&) { ++entered; };
  scan.Scan();
  Names expected = kAllFiles;
  for (const char* d : {"sub/", "sub/deeper/", "empty/", "loop/", "sub/up/"}) expected.insert(d);
  EXPECT_EQ(Listed(scan), expected);
  EXPECT_EQ(entered, 4);  // root, sub, sub/deeper, empty
}

TEST(FileScanLinks, ALinkToAFolderElsewhereIsFollowed) {
  TempFolder tmp;
  fs::create_directories(tmp / "tree");
  fs::create_directories(tmp / "other" / "in");
  WriteAll(tmp / "other" / "in" / "f.txt", "f");
  fs::create_directory_symlink("../other", tmp / "tree" / "link");
  TztvFileScan scan;
  scan.SetFileSpec({tmp.str() + "tree/*.*"});
  scan.Scan();
  ASSERT_EQ(scan.FilesList().Count(), 1);
  EXPECT_EQ(scan.FilesList()[0].FilePath, tmp.str() + "tree/link/in/");
  EXPECT_EQ(scan.FilesList()[0].FileName, "f.txt");
}

TEST(FileScanLinks, ALinkUpTheTreeIsNotEntered) {
  // Entering a parent would take in everything beside the scanned folder,
  // for a link to "/" the whole disk.
  TempFolder tmp;
  fs::create_directories(tmp / "tree" / "a");
  WriteAll(tmp / "tree" / "a" / "f.txt", "f");
  WriteAll(tmp / "tree" / "beside.txt", "b");
  fs::create_directory_symlink("/", tmp / "tree" / "a" / "slash");
  fs::create_directory_symlink("../..", tmp / "tree" / "a" / "top");
  TztvFileScan scan;
  scan.SetFileSpec({tmp.str() + "tree/a/*.*"});
  std::vector<std::string> entered;
  scan.OnRecurseDir = [&](TObject*, const std::string& d) { entered.push_back(d); };
  scan.Scan();
  ASSERT_EQ(scan.FilesList().Count(), 1);
  EXPECT_EQ(scan.FilesList()[0].FileName, "f.txt");
  EXPECT_EQ(entered, (std::vector<std::string>{tmp.str() + "tree/a/"}));
}

TEST_F(FileScan, AnUnreadableFolderIsSkippedSilently) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::permissions(tmp_ / "sub", fs::perms::none);
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  Names expected = Without(kAllFiles, {"sub/x.txt", "sub/c.txt", "sub/noext", "sub/deeper/x.txt"});
  // Without write permission the folder is read-only, and fsReadOnly (in
  // the default Attributes) takes it as a folder entry.
  expected.insert("sub/");
  EXPECT_EQ(Listed(scan), expected);
}

TEST_F(FileScan, SpecialFilesAreNeverOffered) {
  ASSERT_EQ(::mkfifo((root_ + "pipe").c_str(), 0644), 0);
  TztvFileScan scan;
  scan.SetAttributes(TztvFileAttributes::FromBits(0xFFFF));
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  EXPECT_EQ(Listed(scan).count("pipe"), 0u);
  EXPECT_EQ(Listed(scan).count("a.txt"), 1u);
}

// ---- Direct mode ----

TEST_F(FileScan, WithoutRecursionOnlyTheNamedFolderIsSearched) {
  TztvFileScan scan;
  scan.SetRecurseDirs(false);
  scan.SetFileSpec({root_ + "*"});
  scan.Scan();
  EXPECT_EQ(Listed(scan), (Names{"a.txt", "b.doc", "README", "x.txt", "ro.txt", ".hid.txt"}));
  // Nothing was consumed.
  EXPECT_EQ(scan.FileSpec(), (TStrings{root_ + "*"}));
}

TEST_F(FileScan, WithoutRecursionSubfoldersReachTheHookThroughFsDirectory) {
  struct Case {
    TztvFileAttributes attributes;
    bool includeHidden;
    Names found;
  } cases[] = {
      {{fsDirectory}, false, {"sub/", "empty/", "loop/"}},
      {{fsDirectory}, true, {"sub/", "empty/", "loop/", ".dir/"}},
      {{fsDirectory, fsArchive}, false, {"sub/", "empty/", "loop/", "a.txt", "b.doc", "README", "x.txt", "ro.txt", ".hid.txt"}},
      {{fsReadOnly}, false, {"ro.txt"}},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    scan.SetRecurseDirs(false);
    scan.SetAttributes(c.attributes);
    scan.SetIncludeHiddenDirs(c.includeHidden);
    scan.SetFileSpec({root_ + "*"});
    int recursed = 0;
    scan.OnRecurseDir = [&](TObject*, const std::string&) { ++recursed; };
    scan.Scan();
    EXPECT_EQ(Listed(scan), c.found) << c.attributes.Bits();
    EXPECT_EQ(recursed, 0);
  }
}

TEST_F(FileScan, WithoutRecursionEachFileSpecLineIsItsOwnPatternAndMasksAreNotApplied) {
  TztvFileScan scan;
  scan.SetRecurseDirs(false);
  // The find pattern decides: "*.*" takes names without a period too, and
  // names keep their case.
  scan.SetFileSpec({root_ + "sub/*.*", root_ + "nothing*", root_ + "*.TXT", root_ + "b.doc"});
  std::vector<std::string> dirs;
  scan.OnRootDirChange = [&](TObject*, const std::string& d) { dirs.push_back(d); };
  scan.Scan();
  EXPECT_EQ(Listed(scan), (Names{"sub/x.txt", "sub/c.txt", "sub/noext", "b.doc"}));
  // Only the patterns that found something announce their folder.
  EXPECT_EQ(dirs, (std::vector<std::string>{root_ + "sub/", root_}));
}

// ---- Attributes ----

TEST(FileScanRules, AttributeTests) {
  const TztvFileAttributes none;
  struct Case {
    uint32_t attr;
    TztvFileAttributes include, exclude;
    bool passes;
  } cases[] = {
      {0x20, kDefaultScanAttributes, none, true},
      {0x00, kDefaultScanAttributes, none, true},   // fsZeroAttr
      {0x80, kDefaultScanAttributes, none, true},   // "normal" counts as no attribute
      {0x10, kDefaultScanAttributes, none, false},  // a plain folder
      {0x11, kDefaultScanAttributes, none, true},   // read-only
      {0x12, kDefaultScanAttributes, none, false},
      {0x10, {fsDirectory}, none, true},
      {0x02, {fsHidden}, none, true},
      {0x04, {fsSysFile}, none, true},
      {0x04, kDefaultScanAttributes, none, false},
      {0x08, {fsVolumeID}, none, false},  // takes part in no test
      {0x800, {fsCompressed}, none, true},
      {0x4000, {fsEncrypted}, none, true},
      {0x2000, none, none, true},  // not content-indexed passes whatever Attributes holds
      {0x2004, none, none, true},
      {0x2001, none, {fsReadOnly}, false},  // but not AttributesEx
      {0x21, kDefaultScanAttributes, {fsReadOnly}, false},
      {0x20, kDefaultScanAttributes, {fsHidden}, true},
      {0x22, kDefaultScanAttributes, {fsHidden}, false},
      {0x00, kDefaultScanAttributes, {fsZeroAttr}, false},
      {0x20, none, none, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TztvFileScan::PassesAttributes(c.attr, c.include, c.exclude), c.passes)
        << std::hex << c.attr << " " << c.include.Bits() << " " << c.exclude.Bits();
  }
}

TEST_F(FileScan, AttributesAndAttributesExChooseTheFiles) {
  struct Case {
    TztvFileAttributes attributes, attributesEx;
    Names found;
  } cases[] = {
      {{fsReadOnly}, {}, {"ro.txt"}},
      {kDefaultScanAttributes, {fsReadOnly}, Without(kAllFiles, {"ro.txt"})},
      {kDefaultScanAttributes, {fsHidden}, Without(kAllFiles, {".hid.txt"})},
      {{fsHidden}, {}, {".hid.txt"}},
      {{}, {}, {}},
      {{fsDirectory}, {}, {"sub/", "sub/deeper/", "empty/", "loop/", "sub/up/"}},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    scan.SetAttributes(c.attributes);
    scan.SetAttributesEx(c.attributesEx);
    scan.SetFileSpec({root_ + "*.*"});
    scan.Scan();
    EXPECT_EQ(Listed(scan), c.found) << c.attributes.Bits() << "/" << c.attributesEx.Bits();
  }
}

TEST_F(FileScan, FolderEntriesAreListedButNotCounted) {
  TztvFileScan scan;
  scan.SetAttributes({fsDirectory, fsArchive});
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), static_cast<int>(kAllFiles.size()));
  EXPECT_EQ(scan.FilesSize(), SizeOf(kAllFiles, root_));
  bool sawEmpty = false;
  for (int i = 0; i < scan.FilesList().Count(); ++i) {
    const TFileObject& o = scan.FilesList()[i];
    if (o.FilePath == root_ + "empty/") {
      sawEmpty = true;
      EXPECT_EQ(o.FileName, "");
      EXPECT_EQ(o.Attr, platform::kAttrDirectory);
      EXPECT_EQ(o.Size, 0);
    }
  }
  EXPECT_TRUE(sawEmpty);
}

TEST(FileScanRules, SetAttributeBit) {
  TztvFileScan scan;
  EXPECT_EQ(scan.Attributes().Bits(), 0x1C3);
  scan.SetAttributeBit(fsDirectory, true);
  EXPECT_TRUE(scan.Attributes().Has(fsDirectory));
  scan.SetAttributeBit(fsArchive, false);
  EXPECT_FALSE(scan.Attributes().Has(fsArchive));
  scan.SetAttributeBit(15, true);
  EXPECT_EQ(scan.Attributes().Bits(), 0x1C3 + 0x20 - 0x40 + 0x8000);
  scan.SetAttributeBit(16, false);  // ignored
  scan.SetAttributeBit(-1, false);
  EXPECT_EQ(scan.Attributes().Bits(), 0x1C3 + 0x20 - 0x40 + 0x8000);
}

TEST(FileScanRules, Defaults) {
  TztvFileScan scan;
  EXPECT_EQ(scan.Sorted(), soUnsort);
  EXPECT_TRUE(scan.FileSpec().empty());
  EXPECT_EQ(scan.Attributes(), kDefaultScanAttributes);
  EXPECT_TRUE(scan.AttributesEx().Empty());
  EXPECT_FALSE(scan.IncludeHiddenDirs());
  EXPECT_TRUE(scan.UpdateList());
  EXPECT_EQ(scan.ScanOptions(), soScanDir);
  EXPECT_EQ(scan.RootDir(), "");
  EXPECT_TRUE(scan.RecurseDirs());
  EXPECT_EQ(scan.Masks(), "*");
  EXPECT_NE(scan.CancelFlag(), nullptr);
  EXPECT_TRUE(static_cast<bool>(scan.AddEntryHook));
  EXPECT_EQ(scan.HookData, nullptr);
  scan.SetRootDir("/tmp");
  EXPECT_EQ(scan.RootDir(), "/tmp/");
  scan.SetRootDir("");
  EXPECT_EQ(scan.RootDir(), "");
}

// ---- The found entry ----

TEST_F(FileScan, TheDefaultHookRecordsSizeAttributesAndLocalDosTime) {
  const int64_t when = 1700000000;  // 2023-11-14
  ASSERT_TRUE(platform::SetFileTime(root_ + "b.doc", when));
  TztvFileScan scan;
  scan.SetRecurseDirs(false);
  scan.SetFileSpec({root_ + "b.doc", root_ + "ro.txt"});
  scan.Scan();
  ASSERT_EQ(scan.FilesList().Count(), 2);
  const TFileObject& b = scan.FilesList()[0];
  EXPECT_EQ(b.FileName, "b.doc");
  EXPECT_EQ(b.FilePath, root_);
  EXPECT_EQ(b.Size, 3);
  EXPECT_EQ(b.Attr, platform::kAttrArchive);
  EXPECT_EQ(b.DosDateTime, platform::UnixToDosDateTime(when));
  EXPECT_EQ(scan.FilesList()[1].Attr, platform::kAttrArchive | platform::kAttrReadOnly);
}

// ---- Hooks, events, cancel ----

TEST_F(FileScan, AnOwnHookGetsTheFolderAndHookDataAndDecidesWhatCounts) {
  TztvFileScan scan;
  int marker = 0;
  scan.HookData = &marker;
  std::vector<std::string> files, folders;
  scan.AddEntryHook = [&](TObject* sender, const std::string& dir, void* data, const platform::FindData& f) {
    EXPECT_EQ(sender, &scan);
    EXPECT_EQ(data, &marker);
    if (f.attributes & platform::kAttrDirectory) {
      folders.push_back(dir.substr(root_.size()));
      return true;
    }
    files.push_back(dir.substr(root_.size()) + f.name);
    return f.name == "x.txt";  // only these are taken
  };
  std::vector<std::pair<std::string, int>> scanned;
  scan.OnScanFile = [&](TObject*, const std::string& name, int count, int64_t size) {
    scanned.emplace_back(name, count);
    EXPECT_EQ(size, scan.FilesSize());
  };
  scan.SetAttributes({fsArchive, fsDirectory});
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  EXPECT_EQ(Names(files.begin(), files.end()), kAllFiles);
  EXPECT_EQ(Names(folders.begin(), folders.end()), (Names{"sub/", "sub/deeper/", "empty/", "loop/", "sub/up/"}));
  EXPECT_EQ(scan.FilesCount(), 3);
  EXPECT_EQ(scan.FilesSize(), 1 + 7 + 2);
  ASSERT_EQ(scanned.size(), 3u);
  for (size_t i = 0; i < scanned.size(); ++i) {
    EXPECT_EQ(scanned[i].first, "x.txt");  // the bare name
    EXPECT_EQ(scanned[i].second, static_cast<int>(i) + 1);
  }
  EXPECT_EQ(scan.FilesList().Count(), 0);  // the default hook was replaced
}

TEST_F(FileScan, WithoutUpdateListOrHookFilesAreCountedSilently) {
  for (int variant = 0; variant < 2; ++variant) {
    TztvFileScan scan;
    if (variant == 0) scan.SetUpdateList(false);
    else scan.AddEntryHook = nullptr;
    int events = 0;
    scan.OnScanFile = [&](TObject*, const std::string&, int, int64_t) { ++events; };
    scan.SetFileSpec({root_ + "*.*"});
    scan.Scan();
    EXPECT_EQ(scan.FilesCount(), static_cast<int>(kAllFiles.size()));
    EXPECT_EQ(scan.FilesSize(), SizeOf(kAllFiles, root_));
    EXPECT_EQ(events, 0);
    EXPECT_EQ(scan.FilesList().Count(), 0);
  }
}

TEST_F(FileScan, CancelFromOnScanFileStopsAtTheNextEntry) {
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "*.*"});
  scan.OnScanFile = [&](TObject*, const std::string&, int count, int64_t) {
    if (count == 2) scan.Cancel();
  };
  std::vector<int> finished;
  scan.OnFinished = [&](TObject*, int count, int64_t) { finished.push_back(count); };
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), 2);
  EXPECT_EQ(scan.FilesList().Count(), 2);
  EXPECT_EQ(finished, (std::vector<int>{2}));
  EXPECT_EQ(*scan.CancelFlag(), 1);
}

TEST_F(FileScan, CancelStopsTheGroupsThatFollow) {
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "sub/*.*", root_ + "*.doc"});
  int groups = 0;
  scan.OnRootDirChange = [&](TObject*, const std::string&) { ++groups; };
  scan.OnScanFile = [&](TObject*, const std::string&, int, int64_t) { scan.Cancel(); };
  scan.Scan();
  EXPECT_EQ(groups, 1);
  EXPECT_EQ(scan.FilesCount(), 1);
}

TEST_F(FileScan, AnOwnersCancelByteStopsTheScanAndIsResetAtTheStart) {
  uint8_t mine = 1;  // left set from an earlier run: Scan clears it
  TztvFileScan scan;
  scan.SetCancelFlag(&mine);
  EXPECT_EQ(scan.CancelFlag(), &mine);
  scan.SetFileSpec({root_ + "*.*"});
  scan.OnScanFile = [&](TObject*, const std::string&, int count, int64_t) {
    if (count == 3) mine = 1;
  };
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), 3);
  scan.SetCancelFlag(nullptr);
  EXPECT_NE(scan.CancelFlag(), &mine);
}

TEST_F(FileScan, OnFinishedFiresOnceWhateverHappened) {
  struct Case {
    const char* what;
    std::function<void(TztvFileScan&)> setUp;
    int files;
  } cases[] = {
      {"default: no RootDir, nothing to scan", [](TztvFileScan&) {}, 0},
      {"Masks mode, RootDir missing", [&](TztvFileScan& s) { s.SetRootDir(root_ + "missing"); }, 0},
      {"empty FileSpec", [](TztvFileScan& s) { s.SetFileSpec({}); }, 0},
      {"FileSpec of a missing folder", [&](TztvFileScan& s) { s.SetFileSpec({root_ + "missing/*.*"}); }, 0},
      {"direct mode, nothing found", [&](TztvFileScan& s) { s.SetRecurseDirs(false); s.SetFileSpec({root_ + "zz*"}); }, 0},
      {"cancelled", [&](TztvFileScan& s) {
         s.SetFileSpec({root_ + "*.*"});
         s.OnScanFile = [&s](TObject*, const std::string&, int, int64_t) { s.Cancel(); };
       }, 1},
      {"whole tree", [&](TztvFileScan& s) { s.SetFileSpec({root_ + "*.*"}); }, static_cast<int>(kAllFiles.size())},
  };
  for (const auto& c : cases) {
    TztvFileScan scan;
    c.setUp(scan);
    std::vector<int> finished;
    scan.OnFinished = [&](TObject* sender, int count, int64_t) {
      EXPECT_EQ(sender, &scan);
      finished.push_back(count);
    };
    scan.Scan();
    EXPECT_EQ(finished, (std::vector<int>{c.files})) << c.what;
  }
}

TEST_F(FileScan, EachScanStartsAfresh) {
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "*.doc"});
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), 1);
  scan.SetFileSpec({root_ + "*.doc"});
  scan.Scan();
  EXPECT_EQ(scan.FilesCount(), 1);
  EXPECT_EQ(scan.FilesList().Count(), 1);
}

TEST_F(FileScan, MessagesAreProcessedAfterEachEntryOfTheWalkOnly) {
  int calls = 0;
  auto old = platform::SetProcessMessagesHook([&] { ++calls; });
  TztvFileScan scan;
  scan.SetFileSpec({root_ + "*.*"});
  scan.Scan();
  // 6 files, sub, empty and loop at the top (the hidden .dir is passed
  // over), 5 entries in sub (deeper and up included), 1 in deeper.
  EXPECT_EQ(calls, 15);

  calls = 0;
  TztvFileScan direct;
  direct.SetRecurseDirs(false);
  direct.SetFileSpec({root_ + "*"});
  direct.Scan();
  EXPECT_EQ(calls, 0);

  // A cancel command that arrives through the message loop stops the walk.
  TztvFileScan cancelled;
  cancelled.SetFileSpec({root_ + "*.*"});
  platform::SetProcessMessagesHook([&] { cancelled.Cancel(); });
  int entries = 0;
  cancelled.AddEntryHook = [&](TObject*, const std::string&, void*, const platform::FindData&) {
    ++entries;
    return true;
  };
  cancelled.Scan();
  EXPECT_LE(entries, 1);
  platform::SetProcessMessagesHook(old);
}

// ---- Every drive ----

TEST_F(FileScan, ScanDrvsWalksTheMountPointsOfFixedRemoteCdAndRamDrives) {
  struct Case {
    platform::DriveType type;
    bool walked;
  } cases[] = {
      {platform::DriveType::Fixed, true},     {platform::DriveType::Remote, true},
      {platform::DriveType::CdRom, true},     {platform::DriveType::RamDisk, true},
      {platform::DriveType::Removable, false}, {platform::DriveType::Unknown, false},
  };
  for (const auto& c : cases) {
    auto previous = platform::SetDriveProvider(std::make_unique<platform::FakeDriveProvider>(root_, c.type));
    TztvFileScan scan;
    scan.SetScanOptions(soScanDrvs);
    scan.SetFileSpec({"/nowhere/*.*"});  // the folder gives way to the drives
    std::vector<std::string> entered;
    scan.OnRecurseDir = [&](TObject*, const std::string& d) { entered.push_back(d); };
    scan.Scan();
    platform::SetDriveProvider(std::move(previous));
    if (c.walked) {
      EXPECT_EQ(Listed(scan), kAllFiles);
      ASSERT_FALSE(entered.empty());
      EXPECT_EQ(entered[0], root_);
    } else {
      EXPECT_EQ(scan.FilesList().Count(), 0);
      EXPECT_TRUE(entered.empty());
    }
  }
}

TEST(FileScanDrives, TheRealMountPointsStartWithTheRootAndHoldNoKernelFileSystems) {
  const auto points = platform::RealDriveProvider().MountPoints();
  ASSERT_FALSE(points.empty());
  EXPECT_EQ(points[0], "/");
  for (const auto& p : points) {
    EXPECT_EQ(p.back(), '/');
    EXPECT_NE(p.rfind("/proc/", 0), 0u) << p;
    EXPECT_NE(p.rfind("/sys/", 0), 0u) << p;
    EXPECT_NE(p.rfind("/dev/", 0), 0u) << p;
  }
}

// ---- The list ----

std::unique_ptr<TFileObject> Item(const std::string& name, const std::string& path, int64_t size, uint32_t time) {
  auto o = std::make_unique<TFileObject>();
  o->FileName = name;
  o->FilePath = path;
  o->Size = size;
  o->DosDateTime = time;
  return o;
}

std::vector<std::string> NamesOf(const TFilesList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(list[i].FileName);
  return out;
}

void Fill(TFilesList& list) {
  list.Add(Item("b.TXT", "/z/", 30, 0x50000000));
  list.Add(Item("a.doc", "/Y/", 5, 0x30000000));
  list.Add(Item("C", "/x/", 3000000000LL, 0x90000000));  // 3 GB; a 2052 date
  list.Add(Item("d.abc", "/w/", 0, 0x40000000));
}

TEST(FilesList, EverySortOrder) {
  struct Case {
    TztvSortOptions order;
    std::vector<std::string> sorted;
  } cases[] = {
      {soUnsort, {"b.TXT", "a.doc", "C", "d.abc"}},  // as added
      {soByName, {"a.doc", "b.TXT", "C", "d.abc"}},  // case ignored
      {soByType, {"C", "d.abc", "a.doc", "b.TXT"}},  // "", ".abc", ".doc", ".TXT"
      {soBySize, {"d.abc", "a.doc", "b.TXT", "C"}},
      {soByTime, {"a.doc", "d.abc", "b.TXT", "C"}},
      {soByPath, {"d.abc", "C", "a.doc", "b.TXT"}},  // /w/ /x/ /Y/ /z/
  };
  for (const auto& c : cases) {
    // Sorting a filled list and adding to a sorted one agree.
    TFilesList sortedAfter;
    Fill(sortedAfter);
    sortedAfter.SortOrder = c.order;
    sortedAfter.Sort();
    EXPECT_EQ(NamesOf(sortedAfter), c.sorted) << c.order;
    TFilesList insertedInOrder;
    insertedInOrder.SortOrder = c.order;
    Fill(insertedInOrder);
    EXPECT_EQ(NamesOf(insertedInOrder), c.sorted) << c.order;
  }
}

TEST(FilesList, CaseSensitiveNames) {
  TFilesList list;
  list.CaseSensitive = true;
  list.SortOrder = soByName;
  Fill(list);
  EXPECT_EQ(NamesOf(list), (std::vector<std::string>{"C", "a.doc", "b.TXT", "d.abc"}));
}

TEST(FilesList, FindGivesTheFirstPositionNotBelow) {
  TFilesList list;
  list.SortOrder = soBySize;
  for (int64_t s : {10, 20, 20, 30}) list.Add(Item("f", "/", s, 0));
  struct Case {
    int64_t size;
    int index;
    bool found;
  } cases[] = {{5, 0, false}, {10, 0, true}, {15, 1, false}, {20, 1, true}, {30, 3, true}, {31, 4, false}};
  for (const auto& c : cases) {
    int index = -1;
    EXPECT_EQ(list.Find(*Item("f", "/", c.size, 0), index), c.found) << c.size;
    EXPECT_EQ(index, c.index) << c.size;
  }
  // Add puts a new item there and tells where.
  EXPECT_EQ(list.Add(Item("new", "/", 20, 0)), 1);
  EXPECT_EQ(list[1].FileName, "new");
  EXPECT_EQ(list.Add(Item("last", "/", 99, 0)), 5);
  TFilesList unsorted;
  unsorted.Add(Item("x", "/", 99, 0));
  EXPECT_EQ(unsorted.Add(Item("y", "/", 1, 0)), 1);
}

TEST(FilesList, QuickSortAgreesWithAReferenceSort) {
  std::mt19937 rng(1234);
  for (int n : {0, 1, 2, 3, 17, 1000}) {
    for (int distinct : {3, 1000000}) {  // many equal keys, and few
      TFilesList list;
      std::vector<int64_t> sizes;
      for (int i = 0; i < n; ++i) {
        const int64_t s = static_cast<int64_t>(rng() % static_cast<unsigned>(distinct));
        sizes.push_back(s);
        list.Add(Item("f" + std::to_string(i), "/", s, 0));
      }
      list.SortOrder = soBySize;
      list.Sort();
      std::sort(sizes.begin(), sizes.end());
      ASSERT_EQ(list.Count(), n);
      for (int i = 0; i < n; ++i) ASSERT_EQ(list[i].Size, sizes[static_cast<size_t>(i)]) << n << " " << i;
    }
  }
  // Already sorted and reversed input, the classic bad cases.
  for (bool reversed : {false, true}) {
    TFilesList list;
    for (int i = 0; i < 5000; ++i) list.Add(Item("f", "/", reversed ? 5000 - i : i, 0));
    list.SortOrder = soBySize;
    list.Sort();
    for (int i = 1; i < list.Count(); ++i) ASSERT_LE(list[i - 1].Size, list[i].Size);
  }
}

TEST(FilesList, DeleteAndClear) {
  TFilesList list;
  Fill(list);
  list.Delete(-1);
  list.Delete(4);
  EXPECT_EQ(list.Count(), 4);
  list.Delete(1);
  EXPECT_EQ(NamesOf(list), (std::vector<std::string>{"b.TXT", "C", "d.abc"}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(FileScan, SettingSortedResortsTheListAndFiresOnFinished) {
  TztvFileScan scan;
  scan.SetRecurseDirs(false);
  scan.SetFileSpec({root_ + "*"});
  scan.Scan();
  std::vector<int> finished;
  scan.OnFinished = [&](TObject*, int count, int64_t) { finished.push_back(count); };
  scan.SetSorted(soBySize);
  std::vector<int64_t> sizes;
  for (int i = 0; i < scan.FilesList().Count(); ++i) sizes.push_back(scan.FilesList()[i].Size);
  EXPECT_TRUE(std::is_sorted(sizes.begin(), sizes.end()));
  EXPECT_EQ(finished, (std::vector<int>{6}));
  scan.SetSorted(soBySize);  // no change: nothing happens
  EXPECT_EQ(finished.size(), 1u);
  scan.SetSorted(soByName);
  EXPECT_EQ(scan.FilesList()[0].FileName, ".hid.txt");
  EXPECT_EQ(scan.FilesList()[1].FileName, "a.txt");
  EXPECT_EQ(finished.size(), 2u);

  // A sorted scanner builds its list in order.
  TztvFileScan sorted;
  sorted.SetSorted(soByName);  // an empty list: no event
  sorted.SetFileSpec({root_ + "*.*"});
  sorted.Scan();
  const auto names = NamesOf(sorted.FilesList());
  auto caseLess = [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return std::toupper(static_cast<unsigned char>(x)) < std::toupper(static_cast<unsigned char>(y));
    });
  };
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), caseLess));
  EXPECT_EQ(names.size(), kAllFiles.size());
}

}  // namespace
}  // namespace tessavar
