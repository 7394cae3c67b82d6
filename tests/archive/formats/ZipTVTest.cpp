#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/formats/ztvZipTV.h"
#include "platform/Drive.h"
#include "platform/File.h"

namespace tessavar {
namespace {

using test::zip::LoadZipManifest;
using test::zip::ManifestArchive;

struct Listed {
  std::string name;
  bool dir = false;
  int64_t size = 0, packed = 0;
  uint32_t crc = 0;
  int method = 0;
  bool encrypted = false;
  std::string methodName;
};

struct Listing {
  std::vector<Listed> entries;
  std::vector<int> errors;
  bool ok = false;
  int files = -1;
  int64_t totalUnpacked = -1, totalPacked = -1;
};

Listing List(const std::string& path, bool showDirs = true, TStrings spec = {"*.*"}) {
  Listing out;
  TZipTV tv;
  tv.SetArchiveFileName(path);
  tv.SetFileSpec(spec);
  tv.SetShowEmptyDirs(showDirs);
  tv.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    out.errors.push_back(code);
  };
  tv.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  tv.OnRead = [&](TObject*, int, int) {
    Listed e;
    e.name = tv.FileName();
    e.dir = (tv.ExternalAttr & 0x10) || (!e.name.empty() && e.name.back() == '/');
    e.size = tv.UnpackedSize;
    e.packed = tv.PackedSize;
    e.crc = tv.FileCRC;
    e.method = tv.MethodId;
    e.encrypted = tv.Encrypted;
    e.methodName = tv.MethodName;
    out.entries.push_back(e);
  };
  tv.OnTotals = [&](TObject*, int64_t u, int64_t p, int, int n) {
    out.totalUnpacked = u;
    out.totalPacked = p;
    out.files = n;
  };
  out.ok = tv.Activate();
  return out;
}

TEST(ZipTV, EveryFixtureListsItsManifest) {
  int archives = 0;
  for (const ManifestArchive& m : LoadZipManifest()) {
    SCOPED_TRACE(m.file);
    Listing l = List((test::zip::ZipFixtures() / m.file).string());
    ++archives;
    EXPECT_TRUE(l.ok);
    std::map<std::string, Listed> got;
    for (const auto& e : l.entries) got[e.name] = e;
    for (const auto& want : m.entries) {
      std::string wantName = want.name;
      for (char& c : wantName)
        if (c == '\\') c = '/';  // both separators read as "/"
      auto it = got.find(wantName);
      if (it == got.end()) {
        ADD_FAILURE() << "missing " << want.name;
        continue;
      }
      const Listed& e = it->second;
      EXPECT_EQ(e.dir, want.dir) << want.name;
      EXPECT_EQ(e.size, want.size) << want.name;
      if (e.method != 99) {  // AES entries may store no CRC
        EXPECT_EQ(e.crc, want.crc32) << want.name;
      }
      EXPECT_EQ(e.method, want.method) << want.name;
      EXPECT_EQ(e.encrypted, want.encrypted) << want.name;
    }
    EXPECT_EQ(got.size(), m.entries.size());
  }
  EXPECT_GT(archives, 50);
}

std::string Fixture(const std::string& name) { return (test::zip::ZipFixtures() / name).string(); }

TEST(ZipTV, ActivateFrameEventsAndFailures) {
  TZipTV tv;
  std::vector<std::string> log;
  std::vector<int> codes;
  tv.OnError = [&](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
    codes.push_back(code);
    log.push_back("error " + std::to_string(code) + (ext.empty() ? "" : " " + ext));
  };
  tv.OnActivate = [&](TObject*) { log.push_back("activate"); };
  tv.OnDeactivate = [&](TObject*) { log.push_back("deactivate"); };
  tv.OnTotals = [&](TObject*, int64_t, int64_t, int, int n) { log.push_back("totals " + std::to_string(n)); };
  tv.OnElapsedTime = [&](TObject*, float) { log.push_back("elapsed"); };
  // No archive: raised inside, reported, and Activate answers false. A
  // name that leads nowhere is the one the report names.
  EXPECT_FALSE(tv.Activate());
  EXPECT_EQ(codes, (std::vector<int>{25192}));
  std::string missing;
  tv.OnError = [&](TObject*, const std::string& file, const std::string&, const std::string&, int) { missing = file; };
  tv.SetArchiveFileName("/no/such/archive.zip");
  EXPECT_FALSE(tv.Activate());
  EXPECT_EQ(missing, "/no/such/archive.zip");
  tv.OnError = [&](TObject*, const std::string&, const std::string& ext, const std::string&, int code) {
    codes.push_back(code);
    log.push_back("error " + std::to_string(code) + (ext.empty() ? "" : " " + ext));
  };
  // No OnRead handler.
  tv.SetArchiveFileName(Fixture("py-stored.zip"));
  log.clear();
  EXPECT_FALSE(tv.Activate());
  EXPECT_EQ(log, (std::vector<std::string>{"error 25270 OnRead"}));
  // A read: the events in their order; a second Activate inside OnRead is refused.
  log.clear();
  tv.SetFileSpec({"*.*"});
  bool nested = true;
  tv.OnReadFile = [&](TObject*, const std::string&) { log.push_back("file"); };
  tv.OnReadBegin = [&](TObject*) { log.push_back("begin"); };
  tv.OnRead = [&](TObject*, int, int n) {
    log.push_back("read " + std::to_string(n));
    nested = nested && !tv.Activate();
  };
  tv.OnReadEnd = [&](TObject*) { log.push_back("end"); };
  tv.SetFileSpec({"hello.txt"});
  EXPECT_TRUE(tv.Activate());
  EXPECT_TRUE(nested);
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log.front(), "activate");
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{"totals 1", "deactivate", "elapsed"}));
  EXPECT_NE(std::find(log.begin(), log.end(), "begin"), log.end());
  auto read = std::find(log.begin(), log.end(), "read 1");
  ASSERT_NE(read, log.end());
  EXPECT_EQ(*(read - 1), "begin");
  EXPECT_EQ(*(read + 1), "end");
}

TEST(ZipTV, SelectionAndEmptyArchives) {
  // An empty FileSpec lists nothing; "*.*" also lists names without a period.
  EXPECT_TRUE(List(Fixture("py-stored.zip"), true, {}).entries.empty());
  test::TempFolder tmp;
  test::WriteAll(tmp / "s.zip", test::zip::BuildZip({{"README", "r"}, {"a.txt", "a"}, {"d/b.doc", "b"}}, {}));
  Listing all = List((tmp / "s.zip").string());
  ASSERT_EQ(all.entries.size(), 3u);
  EXPECT_EQ(all.entries[0].name, "README");
  // Header-encrypted records read back with the default header keys.
  test::zip::SynthOptions enc;
  enc.encryptHeaders = true;
  test::WriteAll(tmp / "e.zip", test::zip::BuildZip({{"README", "r"}, {"a.txt", "a"}}, enc));
  Listing hidden = List((tmp / "e.zip").string());
  ASSERT_EQ(hidden.entries.size(), 2u);
  EXPECT_EQ(hidden.entries[1].name, "a.txt");
  // With recursion a mask without a folder matches in every folder.
  Listing txt = List(Fixture("infozip-deflate-6.zip"), true, {"*.txt"});
  ASSERT_FALSE(txt.entries.empty());
  for (const auto& e : txt.entries) EXPECT_EQ(e.name.substr(e.name.size() - 4), ".txt") << e.name;
  // An empty archive: no entry, totals of zero, no error.
  Listing empty = List(Fixture("infozip-empty.zip"));
  EXPECT_TRUE(empty.entries.empty());
  EXPECT_EQ(empty.files, 0);
  EXPECT_EQ(empty.totalUnpacked, 0);
  EXPECT_TRUE(empty.errors.empty());
}

TEST(ZipTV, DirectoriesOnlyWithShowEmptyDirsAndNeverInTheTotals) {
  Listing with = List(Fixture("infozip-deflate-6.zip"), true);
  Listing without = List(Fixture("infozip-deflate-6.zip"), false);
  size_t dirs = 0;
  for (const auto& e : with.entries)
    if (e.dir) {
      ++dirs;
      EXPECT_EQ(e.methodName, "") << e.name;
      EXPECT_EQ(e.name.back(), '/');
    }
  EXPECT_GT(dirs, 0u);
  EXPECT_EQ(without.entries.size(), with.entries.size() - dirs);
  EXPECT_EQ(with.totalUnpacked, without.totalUnpacked);
  EXPECT_EQ(with.totalPacked, without.totalPacked);
}

TEST(ZipTV, EncryptedEntriesReportPackedSizeWithoutTheirHeader) {
  Listing l = List(Fixture("infozip-zipcrypto-store.zip"));
  int64_t packedSum = 0;
  for (const auto& e : l.entries) {
    if (e.dir) continue;
    EXPECT_TRUE(e.encrypted) << e.name;
    EXPECT_EQ(e.packed, e.size) << e.name;  // stored: the 12 header bytes are left out
    packedSum += e.packed + 12;
  }
  EXPECT_EQ(l.totalPacked, packedSum);  // ... but the totals keep them
}

TEST(ZipTV, DamagedAndHostileArchivesListWhatTheyCan) {
  struct Case {
    const char* file;
    size_t atLeast;
  } cases[] = {{"bad-truncated-mid-data.zip", 1}, {"py-central-dir-truncated.zip", 3},
               {"bad-cd-offset-beyond-eof.zip", 0}, {"bad-lfh-name-past-eof.zip", 1},
               {"bad-extra-field-overrun.zip", 1}, {"bad-zipslip.zip", 1}};
  for (const auto& c : cases) {
    Listing l = List(Fixture(c.file));
    EXPECT_TRUE(l.ok) << c.file;
    EXPECT_GE(l.entries.size(), c.atLeast) << c.file;
  }
  // Every cut of a real archive: never a crash or a hang.
  test::TempFolder tmp;
  std::vector<uint8_t> all = test::ReadAll(Fixture("infozip-deflate-6.zip"));
  for (size_t n = 0; n < all.size(); n += 997) {
    std::vector<uint8_t> cut(all.begin(), all.begin() + static_cast<long>(n));
    test::WriteAll(tmp / "cut.zip", cut);
    List((tmp / "cut.zip").string());
  }
}

TEST(ZipTV, SpannedSetNamesTheDiskOfEachEntry) {
  test::TempFolder tmp;
  auto fake = std::make_unique<platform::FakeDriveProvider>(tmp.str());
  fake->disk.label = "PKBACK# 001";
  auto old = platform::SetDriveProvider(std::move(fake));
  test::WriteAll(tmp / "set.zip", test::ReadAll(test::FixturesDir() / "detect/zip_spanning_marker.zip"));
  TZipTV tv;
  tv.SetArchiveFileName(tmp.str() + "set.zip");
  EXPECT_EQ(tv.ArcType(), atZipDS);
  tv.SetFileSpec({"*.*"});
  std::vector<std::string> volumes;
  int asked = 0;
  tv.OnGetZipLastDisk = [&](TObject*, bool&) { ++asked; };
  tv.OnRead = [&](TObject*, int, int) { volumes.push_back(tv.EntryVolumeName()); };
  EXPECT_TRUE(tv.Activate());
  EXPECT_EQ(asked, 0);  // the last disk was already in the drive
  ASSERT_FALSE(volumes.empty());
  for (const auto& v : volumes) EXPECT_EQ(v, "PKBACK# 001");
  // Without the last-disk event nothing is listed.
  TZipTV bare;
  bare.SetArchiveFileName(tmp.str() + "set.zip");
  bare.SetFileSpec({"*.*"});
  std::vector<int> codes;
  bare.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    codes.push_back(code);
  };
  int reads = 0;
  bare.OnRead = [&](TObject*, int, int) { ++reads; };
  bare.Activate();
  EXPECT_EQ(reads, 0);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 25270);
  platform::SetDriveProvider(std::move(old));
}

TEST(ReaderRules, RatioDateAndMethodNames) {
  EXPECT_EQ(EntryRatioOf(1000, 250), 75);
  EXPECT_EQ(EntryRatioOf(3, 2), 33);
  EXPECT_EQ(EntryRatioOf(0, 0), 0);
  EXPECT_EQ(EntryRatioOf(10, 12), 0);
  EXPECT_NEAR(DosDateRule(0), 29221.000694, 1e-6);
  EXPECT_NEAR(DosDateRule((1u << 25) | (13u << 21) | (1u << 16)), 29221.000694, 1e-6);

  struct Case {
    TArcType type;
    int method;
    int flags;
    const char* want;
  } cases[] = {
      {atZip, 8, 2, "DFLT-X"},      {atZip, 8, 3, "DFLT-N"},     {atZip, 8, 6, "DFLT-S"},
      {atZip, 9, 4, "DFLT-64F"},    {atZip, 0, 0, "Stored"},     {atZip, 6, 0, "Imploded"},
      {atZip, 10, 0, "DCL-implode"}, {atZip, 12, 0, "Unsupported"}, {atJar, 1, 0, "Shrunk"},
      {atAce, 4, 0, "Best"},        {atArc, 9, 0, "Pack11"},     {atArj, 3, 0, "2nd Fast"},
      {atBh, 8, 2, "DFLT-X"},       {atCab, 0, 0x1203, "Lzx"},   {atCab, 0, 0x0F15, "Lzx5"},
      {atGZip, 8, 0, "Deflate"},    {atHA, 14, 0, "<Dir>"},      {atLha, '5', 0, "Frozen-5"},
      {atLha, 'd', 0, "<Dir>"},     {atPak, 11, 0, "Distill"},   {atRar, 51, 0, "Normal"},
      {atTar, 0, 0, "Tarred"},      {atZoo, 2, 0, "Greatest"},   {atUUE, 0, 0, "Unsupported"},
  };
  for (const auto& c : cases) {
    TMethodContext ctx;
    ctx.flags = c.flags;
    EXPECT_EQ(MethodNameOf(c.type, c.method, ctx), c.want) << ArcTypeName(c.type) << " " << c.method;
  }
  TMethodContext aes;
  aes.aesMethod = 8;
  EXPECT_EQ(MethodNameOf(atZip, 99, aes), "DFLT-N");
  TMethodContext dir;
  dir.directory = true;
  EXPECT_EQ(MethodNameOf(atRar, 48, dir), "<Dir>");
  EXPECT_EQ(MethodNameOf(atZip, 77, dir), "<Dir>");
  TMethodContext gz;
  gz.gzipMagic[0] = 0x1F;
  gz.gzipMagic[1] = 0xA0;
  EXPECT_EQ(MethodNameOf(atGZip, 3, gz), "LzhMAGIC");
}

}  // namespace
}  // namespace tessavar
