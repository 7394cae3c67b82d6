#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/zip/ztvUnZip.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Drive.h"
#include "platform/File.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::zip::LoadZipManifest;
using test::zip::ZipFixtures;

uint32_t FileCrc(const fs::path& p) {
  std::vector<uint8_t> data = test::ReadAll(p);
  return Crc32Update(data.data(), data.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

struct Outcome {
  int count = 0;
  std::map<std::string, bool> verdicts;
  std::vector<int> errors;
};

Outcome Extract(TUnZip& u, const std::string& archive, const std::string& dir, bool test = false) {
  Outcome r;
  u.SetArchiveFileName(archive);
  u.SetFileSpec({"*.*"});
  if (!dir.empty()) u.SetExtractDir(dir);
  u.OnEnd = [&](TObject*, const std::string& name, bool pass) { r.verdicts[name] = pass; };
  u.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    r.errors.push_back(code);
  };
  r.count = test ? u.Test() : u.Extract();
  return r;
}

// Methods this extractor decodes; the others must fail cleanly.
bool Supported(int method) { return method <= 6 || method == 8 || method == 9; }

TEST(UnZip, EveryFixtureExtractsToItsManifest) {
  int checked = 0;
  for (const auto& m : LoadZipManifest()) {
    if (m.file.rfind("bad-", 0) == 0) continue;
    SCOPED_TRACE(m.file);
    test::TempFolder out;
    TUnZip u;
    u.SetCreateStoredDirs(true);
    if (m.password) u.SetPassword(*m.password);
    u.OnNextVolume = [](TObject*, std::string&, int, bool, bool&) {};
    u.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
    Outcome r = Extract(u, (ZipFixtures() / m.file).string(), out.str());
    for (const auto& e : m.entries) {
      std::string name = e.name;
      for (char& c : name)
        if (c == '\\') c = '/';
      const fs::path p = out.path() / name;
      if (e.dir) {
        EXPECT_TRUE(fs::is_directory(p)) << name;
        continue;
      }
      if (!Supported(e.method) || e.method == 99) {
        EXPECT_FALSE(fs::exists(p)) << name << ": a file that could not be decoded is left behind";
        continue;
      }
      ASSERT_TRUE(fs::is_regular_file(p)) << name;
      EXPECT_EQ(static_cast<int64_t>(fs::file_size(p)), e.size) << name;
      EXPECT_EQ(FileCrc(p), e.crc32) << name;
      ++checked;
    }
    // Nothing but the entries, and no temporary left over.
    for (const auto& f : fs::recursive_directory_iterator(out.path()))
      EXPECT_EQ(f.path().filename().string().rfind(".ztv", 0), std::string::npos) << f.path();
  }
  EXPECT_GT(checked, 200);
}

TEST(UnZip, TestModeWritesNothingAndGivesVerdicts) {
  test::TempFolder out;
  TUnZip u;
  Outcome r = Extract(u, (ZipFixtures() / "hwzip-implode-8k-3trees.zip").string(), out.str(), true);
  EXPECT_EQ(r.count, 4);
  EXPECT_TRUE(fs::is_empty(out.path()));
  for (const auto& [name, pass] : r.verdicts) EXPECT_TRUE(pass) << name;
}

TEST(UnZip, NamesThatLeaveTheDestinationAreRefused) {
  test::TempFolder root;
  fs::create_directories(root / "out");
  TUnZip u;
  Outcome r = Extract(u, (ZipFixtures() / "bad-zipslip.zip").string(), root.str() + "out");
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), 25245), r.errors.end());
  // Nothing outside the folder; the harmless entries are extracted.
  for (const auto& f : fs::recursive_directory_iterator(root.path()))
    EXPECT_EQ(f.path().string().rfind((root / "out").string(), 0), 0u) << f.path();
  EXPECT_TRUE(fs::exists(root / "out" / "good.txt"));

  // A link inside the destination that points out of it is not followed.
  test::TempFolder outside;
  test::TempFolder dest;
  fs::create_directory_symlink(outside.path(), dest / "text");
  TUnZip v;
  Outcome s = Extract(v, (ZipFixtures() / "infozip-deflate-6.zip").string(), dest.str());
  EXPECT_TRUE(fs::is_empty(outside.path()));
  EXPECT_NE(std::find(s.errors.begin(), s.errors.end(), 25245), s.errors.end());
}

TEST(UnZip, ADamagedEntryNeverReplacesAFile) {
  test::TempFolder out;
  test::WriteAll(out / "flipped.txt", std::string("precious"));
  TUnZip u;
  u.SetConfirmOverwrites(false);
  Outcome r = Extract(u, (ZipFixtures() / "bad-crc-mismatch.zip").string(), out.str());
  EXPECT_EQ(test::ReadAll(out / "flipped.txt"), test::ReadAll(out / "flipped.txt"));
  std::vector<uint8_t> kept = test::ReadAll(out / "flipped.txt");
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "precious");
  bool sawFail = false;
  for (const auto& [name, pass] : r.verdicts) sawFail |= !pass;
  EXPECT_TRUE(sawFail);
}

TEST(UnZip, OverwriteRules) {
  test::TempFolder out;
  const std::string archive = (ZipFixtures() / "py-stored.zip").string();
  // omSkip without confirmation extracts nothing, even into an empty folder.
  TUnZip skip;
  skip.SetOverwriteMode(omSkip);
  EXPECT_EQ(Extract(skip, archive, out.str()).count, 0);
  // With confirmation, the handler decides per existing file.
  TUnZip first;
  Outcome all = Extract(first, archive, out.str());
  ASSERT_GT(all.count, 0);
  TUnZip again;
  again.SetConfirmOverwrites(true);
  int asked = 0;
  again.OnFileExists = [&](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
    ++asked;
    mode = asked == 1 ? omOverwrite : omSkip;
  };
  Outcome r = Extract(again, archive, out.str());
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(asked, all.count);
  // Without the handler: 25270 and nothing is replaced.
  TUnZip bare;
  bare.SetConfirmOverwrites(true);
  Outcome b = Extract(bare, archive, out.str());
  EXPECT_EQ(b.count, 0);
  EXPECT_NE(std::find(b.errors.begin(), b.errors.end(), 25270), b.errors.end());
}

TEST(UnZip, PasswordsListsAndAsking) {
  const std::string archive = (ZipFixtures() / "infozip-zipcrypto-deflate.zip").string();
  {
    test::TempFolder out;
    TUnZip u;
    u.SetPasswords({"nope", "secret"});
    Outcome r = Extract(u, archive, out.str());
    for (const auto& [name, pass] : r.verdicts) EXPECT_TRUE(pass) << name;
  }
  {
    // A right password from the handler is kept first in Passwords: asked once.
    test::TempFolder out;
    TUnZip u;
    int asked = 0;
    u.OnGetPassword = [&](TObject*, const std::string&, std::string& pw, TSeedKeyValues&, TSeedKeyValues&, bool&) {
      ++asked;
      pw = "secret";
    };
    Outcome r = Extract(u, archive, out.str());
    EXPECT_EQ(asked, 1);
    ASSERT_FALSE(u.Passwords().empty());
    EXPECT_EQ(u.Passwords().front(), "secret");
    for (const auto& [name, pass] : r.verdicts) EXPECT_TRUE(pass) << name;
  }
  {
    // Refused once: every later encrypted entry is skipped without asking.
    test::TempFolder out;
    TUnZip u;
    int asked = 0;
    u.OnGetPassword = [&](TObject*, const std::string&, std::string&, TSeedKeyValues&, TSeedKeyValues&,
                          bool& tryAgain) {
      ++asked;
      tryAgain = false;
    };
    Outcome r = Extract(u, archive, out.str());
    EXPECT_EQ(asked, 1);
    EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), 26517), r.errors.end());
    for (const auto& [name, pass] : r.verdicts) {
      if (name.back() != '/') {
        EXPECT_FALSE(pass) << name;  // folders need no password
      }
    }
  }
}

TEST(UnZip, AesEntriesAreReportedAndTheRestExtracted) {
  test::TempFolder out;
  TUnZip u;
  u.SetPassword("secret");
  Outcome r = Extract(u, (ZipFixtures() / "7z-aes256.zip").string(), out.str());
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), 25326), r.errors.end());
  EXPECT_EQ(r.count, 0);
}

TEST(UnZip, SplitSetsAskForEachPart) {
  test::TempFolder out;
  TUnZip u;
  std::vector<std::string> asked;
  u.OnNextVolume = [&](TObject*, std::string& name, int, bool exists, bool&) {
    EXPECT_TRUE(exists);
    asked.push_back(fs::path(name).filename().string());
  };
  Outcome r = Extract(u, (ZipFixtures() / "infozip-split-64k.zip").string(), out.str());
  EXPECT_EQ(r.count, 2);
  for (const auto& [name, pass] : r.verdicts) EXPECT_TRUE(pass) << name;
  EXPECT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), "infozip-split-64k.z01");
}

}  // namespace
}  // namespace tessavar

namespace tessavar {
namespace {

TEST(UnZip, SpannedSetOnARemovableDisk) {
  test::TempFolder drive;
  auto fake = std::make_unique<platform::FakeDriveProvider>(drive.str());
  fake->disk.label = "PKBACK# 001";
  auto old = platform::SetDriveProvider(std::move(fake));
  test::WriteAll(drive / "set.zip", test::ReadAll(test::FixturesDir() / "detect/zip_spanning_marker.zip"));
  test::TempFolder out;
  TUnZip u;
  int last = 0, firstDisk = 0;
  u.OnGetZipLastDisk = [&](TObject*, bool&) { ++last; };
  u.OnGetZipFirstDisk = [&](TObject*, bool&) { ++firstDisk; };
  u.SetArchiveFileName(drive.str() + "set.zip");
  EXPECT_EQ(u.ArcType(), atZipDS);
  Outcome r = Extract(u, drive.str() + "set.zip", out.str());
  // The one disk of the set is already in the drive: nothing is asked.
  EXPECT_EQ(last, 0);
  EXPECT_EQ(firstDisk, 0);
  EXPECT_GT(r.count, 0);
  for (const auto& [name, pass] : r.verdicts) EXPECT_TRUE(pass) << name;
  // Without the disk events nothing is extracted.
  TUnZip bare;
  Outcome b = Extract(bare, drive.str() + "set.zip", out.str());
  EXPECT_EQ(b.count, 0);
  EXPECT_NE(std::find(b.errors.begin(), b.errors.end(), 25270), b.errors.end());
  platform::SetDriveProvider(std::move(old));
}

}  // namespace
}  // namespace tessavar
