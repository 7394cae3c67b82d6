#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "ZipWriteUtil.h"
#include "archive/formats/ztvZipTV.h"
#include "archive/write/ztvDeflate.h"
#include "archive/write/ztvJar.h"
#include "archive/write/ztvZip.h"
#include "archive/zip/ztvCrypt.h"
#include "platform/File.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

using test::TempFolder;
using test::WriteAll;
using namespace test::zipwrite;

std::string Text(int n) {
  std::string s;
  for (int i = 0; s.size() < static_cast<size_t>(n); ++i) s += "line " + std::to_string(i % 97) + " of some text\n";
  s.resize(static_cast<size_t>(n));
  return s;
}

std::string Noise(size_t n, unsigned seed = 1) {
  std::mt19937 r(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(r());
  return s;
}

uint32_t Crc(const std::string& s) {
  return Crc32Update(reinterpret_cast<const uint8_t*>(s.data()), s.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

void SetTime(const fs::path& p, int secondsAgo) {
  fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
}

// ---------------------------------------------------------------- the encoder

TEST(DeflateEncoder, StreamIsZlibRawDeflateAtTheTypesLevel) {
  const std::string data = Text(300000) + Noise(200000);
  for (auto [type, level] : {std::pair{dtDeflateF, 1}, {dtDeflateN, 6}, {dtDeflateX, 9}}) {
    SCOPED_TRACE(level);
    TMemoryStream32 out;
    {
      TCompressStream z(out, type, -15);
      for (size_t at = 0; at < data.size(); at += 131072)
        z.Write(data.data() + at, static_cast<int64_t>(std::min<size_t>(131072, data.size() - at)));
      EXPECT_EQ(z.Position(), static_cast<int64_t>(data.size()));
      EXPECT_EQ(z.Crc() ^ 0xFFFFFFFFu, Crc(data));
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.Memory()), static_cast<size_t>(out.Size())),
              test::zip::RawDeflate(data, level));
  }
  EXPECT_EQ(DeflateTypeBits(dtDeflateS), 6);
  EXPECT_EQ(DeflateTypeBits(dtDeflateF), 4);
  EXPECT_EQ(DeflateTypeBits(dtDeflateN), 0);
  EXPECT_EQ(DeflateTypeBits(dtDeflateX), 2);
}

TEST(DeflateEncoder, EncipheredBlocksEqualEncipheringTheWholeOutput) {
  TempFolder dir;
  const std::string data = Noise(600000, 7);  // several full output blocks
  WriteAll(dir / "in", data);
  TFileStream32 source((dir / "in").string(), fmShareDenyNone);
  TMemoryStream32 out;
  TSeedKeyValues keys;
  SetupDataKeys(keys, kDefaultDataSeed, "pw");
  const TSeedKeyValues start = keys;
  CoderParams p;
  p.Crc = Crc(data);
  p.Options = kCipherZipV2 << 8;
  p.Keys = &keys;
  uint32_t slot = 0x1234;
  ASSERT_TRUE(DeflateFile(source, out, p, -15, nullptr, nullptr, dtDeflateN, slot));
  EXPECT_EQ(slot, 0x1234u) << "an encrypted entry's CRC comes from the pass before";
  std::string plain(reinterpret_cast<char*>(out.Memory()), static_cast<size_t>(out.Size()));
  TSeedKeyValues k2 = start;
  DecipherBuffer(k2, reinterpret_cast<uint8_t*>(plain.data()), plain.size());
  EXPECT_EQ(plain, test::zip::RawDeflate(data, 6));
  EXPECT_GT(plain.size(), 3u * 131070u);
}

TEST(DeflateEncoder, EmptyFileGivesCrcZeroAndCancelStopsEarly) {
  TempFolder dir;
  WriteAll(dir / "empty", std::string());
  WriteAll(dir / "big", Noise(2000000, 3));
  {
    TFileStream32 source((dir / "empty").string(), fmShareDenyNone);
    TMemoryStream32 out;
    uint32_t slot = 0xFFFFFFFFu;
    ASSERT_TRUE(DeflateFile(source, out, CoderParams{}, -15, nullptr, nullptr, dtDeflateN, slot));
    EXPECT_EQ(slot, 0u);
  }
  TZip owner;
  TFileStream32 source((dir / "big").string(), fmShareDenyNone);
  TMemoryStream32 out;
  uint32_t slot = 0;
  int chunks = 0;
  CoderParams p;
  p.CancelFlag = owner.CancelFlag();
  const bool ok = DeflateFile(source, out, p, -15, [&](TStream32*) {
    if (++chunks == 2) *owner.CancelFlag() = true;
  }, &owner, dtDeflateN, slot);
  EXPECT_FALSE(ok);
  EXPECT_LE(source.Position(), 3 * 131072);
}

// ---------------------------------------------------------------- writing archives

class ZipWriter : public ::testing::Test {
 protected:
  TempFolder dir;
  std::string src() const { return (dir / "src").string() + "/"; }
  std::string archive() const { return (dir / "out.zip").string(); }
  void SetUp() override { fs::create_directories(dir / "src"); }
  void Put(const std::string& name, const std::string& data) {
    fs::create_directories((dir / "src" / name).parent_path());
    WriteAll(dir / "src" / name, data);
  }
};

TEST_F(ZipWriter, NewArchiveOfTwoTextFiles) {
  Put("a.txt", Text(5000));
  Put("b.txt", Text(7000));
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  const RunResult r = RunZip(z);
  EXPECT_EQ(r.count, 2);
  EXPECT_TRUE(r.errors.empty());
  const WrittenArchive w = ReadWritten(archive());
  ASSERT_EQ(w.entries.size(), 2u);
  EXPECT_EQ(w.end.TotalEntries, 2);
  for (const Written& e : w.entries) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.central.Method, 8);
    EXPECT_EQ(e.central.GeneralPurpose, 0);
    EXPECT_EQ(e.central.VersionMadeBy, 0x0314);
    EXPECT_EQ(e.central.VersionNeeded, 20);
    EXPECT_EQ(e.central.InternalAttributes, 1);
    EXPECT_EQ((e.central.ExternalAttributes >> 16) & 0170000, 0100000u);
    EXPECT_EQ(e.central.ExternalAttributes & 0x20, 0x20u);
    EXPECT_EQ(e.local.CRC32, e.central.CRC32);
    EXPECT_EQ(e.local.CompressedSize, e.central.CompressedSize);
  }
  const auto files = ExtractAll(archive());
  EXPECT_EQ(files.at("a.txt"), Text(5000));
  EXPECT_EQ(files.at("b.txt"), Text(7000));
}

TEST_F(ZipWriter, DeflateTypeBitsStoredTypesAndStoreMethod) {
  Put("doc.txt", Text(4000));
  Put("report.ZIP", Text(4000));
  Put("tiny.bin", Noise(100));  // deflate would make it longer
  for (auto [type, bits] : {std::pair{dtDeflateF, 4}, {dtDeflateN, 0}, {dtDeflateX, 2}}) {
    SCOPED_TRACE(bits);
    fs::remove(archive());
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    z.SetDeflateType(type);
    ASSERT_EQ(RunZip(z).count, 3);
    const WrittenArchive w = ReadWritten(archive());
    EXPECT_EQ(Find(w, "doc.txt")->central.Method, 8);
    EXPECT_EQ(Find(w, "doc.txt")->central.GeneralPurpose, bits);
    for (const char* stored : {"report.ZIP", "tiny.bin"}) {
      EXPECT_EQ(Find(w, stored)->central.Method, 0) << stored;
      EXPECT_EQ(Find(w, stored)->central.GeneralPurpose, 0) << stored;
    }
  }
  fs::remove(archive());
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetCompressMethod(cmStore);
  ASSERT_EQ(RunZip(z).count, 3);
  EXPECT_EQ(z.DeflateType(), dtDeflateS);
  for (const Written& e : ReadWritten(archive()).entries) EXPECT_EQ(e.central.Method, 0) << e.name;
  EXPECT_EQ(ExtractAll(archive()).at("doc.txt"), Text(4000));
}

TEST_F(ZipWriter, IncompressibleDataGoesIntoStoredDeflateBlocks) {
  Put("noise.bin", Noise(300000, 4));
  Put("mixed.bin", Noise(100000, 5) + Text(200000));  // only the middle probe finds text
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  ASSERT_EQ(RunZip(z).count, 2);
  const WrittenArchive w = ReadWritten(archive());
  EXPECT_EQ(Find(w, "noise.bin")->central.Method, 8);
  EXPECT_EQ(Find(w, "noise.bin")->central.CompressedSize, 300000u + 5u * 5u);
  EXPECT_LT(Find(w, "mixed.bin")->central.CompressedSize, 200000u);
  const auto files = ExtractAll(archive());
  EXPECT_EQ(files.at("noise.bin"), Noise(300000, 4));
  EXPECT_EQ(files.at("mixed.bin"), Noise(100000, 5) + Text(200000));
}

TEST_F(ZipWriter, RenamesExclusionsAndReports) {
  Put("a.txt", "a");
  Put("b.log", "b");
  Put("c.txt", "c");
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetExcludeSpec({"*.log"});
  z.OnRenameFile = [](TObject*, const std::string& name, std::string& newName) {
    if (name == "a.txt") newName = "some/folder/renamed.txt";  // the name part is taken
  };
  std::vector<std::string> reported;
  z.OnRead = [&](TObject*, int, int) { reported.push_back(z.FileName() + ":" + z.MethodName); };
  EXPECT_EQ(RunZip(z).count, 2);
  const auto files = ExtractAll(archive());
  EXPECT_EQ(files.count("b.log"), 0u);
  EXPECT_EQ(files.at("renamed.txt"), "a");
  EXPECT_EQ(files.at("c.txt"), "c");
  std::sort(reported.begin(), reported.end());
  EXPECT_EQ(reported, (std::vector<std::string>{"c.txt:Stored", "renamed.txt:Stored"}));

  TZip r;
  SetupZip(r, archive(), {});
  r.SetSwitch(swRead);
  std::vector<std::string> read;
  r.OnRead = [&](TObject*, int, int n) { read.push_back(std::to_string(n) + r.FileName()); };
  RunZip(r);
  EXPECT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].substr(0, 1), "1");
}

TEST_F(ZipWriter, PasswordEncryptsEveryNonEmptyEntry) {
  Put("a.txt", Text(9000));
  Put("small.txt", "abc");
  Put("empty.txt", "");
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetPassword("secret");
  z.SetEncryptionMethod(emZIP_v2);
  ASSERT_EQ(RunZip(z).count, 3);
  const WrittenArchive w = ReadWritten(archive());
  const Written* a = Find(w, "a.txt");
  EXPECT_EQ(a->central.GeneralPurpose & 1, 1);
  EXPECT_EQ(a->central.CRC32, Crc(Text(9000)));
  EXPECT_EQ(Find(w, "small.txt")->central.CompressedSize, 3u + 12u);
  EXPECT_EQ(Find(w, "empty.txt")->central.GeneralPurpose & 1, 0);
  EXPECT_EQ(Find(w, "empty.txt")->central.CompressedSize, 0u);
  int failed = 0;
  const auto files = ExtractAll(archive(), "secret", &failed);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(files.at("a.txt"), Text(9000));
  EXPECT_EQ(files.at("small.txt"), "abc");
  ExtractAll(archive(), "wrong", &failed);
  EXPECT_GE(failed, 2);
}

TEST_F(ZipWriter, EncryptedHeadersAreReadBackByOurReaders) {
  Put("secret-name.txt", Text(3000));
  Put("d/other.txt", "x");
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetRecurseDirs(true);
  z.SetEncryptHeaders(true);
  ASSERT_EQ(RunZip(z).count, 2);
  const auto bytes = test::ReadAll(archive());
  const std::string raw(bytes.begin(), bytes.end());
  EXPECT_EQ(raw.substr(0, 4), std::string("PL\x03\x04", 4));
  EXPECT_NE(raw.find(std::string("PL\x01\x02", 4)), std::string::npos);
  EXPECT_EQ(raw.find("secret-name"), std::string::npos);
  EXPECT_EQ(raw.substr(raw.size() - 22, 4), std::string("PK\x05\x06", 4));
  TZipTV tv;
  tv.SetArchiveFileName(archive());
  tv.SetFileSpec({"*.*"});
  std::vector<std::string> names;
  tv.OnRead = [&](TObject*, int, int) { names.push_back(tv.FileName()); };
  tv.Activate();
  EXPECT_EQ(names.size(), 2u);
  const auto files = ExtractAll(archive());
  EXPECT_EQ(files.at("secret-name.txt"), Text(3000));
  EXPECT_EQ(files.at("d/other.txt"), "x");
}

TEST_F(ZipWriter, RefreshRecompressesOnlyNewerFilesInPlace) {
  Put("a.txt", Text(1000));
  Put("b.txt", Text(2000));
  Put("c.txt", Text(3000));
  for (auto n : {"a.txt", "b.txt", "c.txt"}) SetTime(dir / "src" / n, 3600);
  {
    TZip z;
    SetupZip(z, archive(), {(dir / "src" / "a.txt").string(), (dir / "src" / "b.txt").string()});
    ASSERT_EQ(RunZip(z).count, 2);
  }
  const auto before = test::ReadAll(archive());
  const std::string firstName = ReadWritten(archive()).entries[0].name;
  {
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    z.SetSwitch(swRefresh);
    const RunResult r = RunZip(z);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.errors, std::vector<int>{E_NOTHINGTODO});
    EXPECT_EQ(test::ReadAll(archive()), before);
  }
  Put("a.txt", Text(1500));
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetSwitch(swRefresh);
  EXPECT_EQ(RunZip(z).count, 1);
  const WrittenArchive w = ReadWritten(archive());
  ASSERT_EQ(w.entries.size(), 2u) << "a refresh adds no new files";
  EXPECT_EQ(w.entries[0].name, firstName) << "the refreshed entry stays at its place";
  EXPECT_EQ(Find(w, "a.txt")->central.UncompressedSize, 1500u);
  EXPECT_EQ(ExtractAll(archive()).at("b.txt"), Text(2000));
}

TEST_F(ZipWriter, AddKeepsTheSameFileAndNeedsOnReplaceFileForAChangedOne) {
  Put("a.txt", Text(1000));
  SetTime(dir / "src" / "a.txt", 3600);
  TZip first;
  SetupZip(first, archive(), {src() + "*.*"});
  ASSERT_EQ(RunZip(first).count, 1);
  const auto before = test::ReadAll(archive());
  TZip same;
  SetupZip(same, archive(), {src() + "*.*"});
  EXPECT_EQ(RunZip(same).errors, std::vector<int>{E_NOTHINGTODO});
  EXPECT_EQ(test::ReadAll(archive()), before);

  SetTime(dir / "src" / "a.txt", 60);
  TZip changed;
  SetupZip(changed, archive(), {src() + "*.*"});
  const RunResult r = RunZip(changed);
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), E_REQUIREDEVENT), r.errors.end());
  EXPECT_EQ(test::ReadAll(archive()), before);

  TZip replace;
  SetupZip(replace, archive(), {src() + "*.*"});
  std::string asked;
  replace.OnReplaceFile = [&](TObject*, const std::string& name, const std::string&, double, double, int64_t,
                              int64_t, uint32_t, uint32_t, bool& yes) {
    asked = name;
    yes = true;
  };
  EXPECT_EQ(RunZip(replace).count, 1);
  EXPECT_EQ(asked, "a.txt");
  EXPECT_EQ(ReadWritten(archive()).entries.size(), 1u);

  // A duplicate kept under a new name: both entries end up in the archive.
  SetTime(dir / "src" / "a.txt", 30);
  TZip rename;
  SetupZip(rename, archive(), {src() + "*.*"});
  rename.OnReplaceFile = [](TObject*, const std::string&, const std::string&, double, double, int64_t, int64_t,
                            uint32_t, uint32_t, bool& yes) { yes = false; };
  rename.OnRenameDupeFile = [](TObject*, const std::string&, std::string& newName, bool&) { newName = "old-a.txt"; };
  EXPECT_EQ(RunZip(rename).count, 1);
  const auto files = ExtractAll(archive());
  EXPECT_EQ(files.size(), 2u);
  EXPECT_EQ(files.at("old-a.txt"), Text(1000));
}

TEST_F(ZipWriter, DeleteSelectsByMaskAndDeletingAllLeavesAnEndRecord) {
  Put("a.txt", "a");
  Put("b.dat", "b");
  Put("c", "c");
  {
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    ASSERT_EQ(RunZip(z).count, 3);
  }
  TZip d;
  SetupZip(d, archive(), {"*.txt"});
  d.SetSwitch(swDelete);
  std::vector<std::string> deleted;
  d.OnDeleteFile = [&](TObject*, const std::string& name, int, int) { deleted.push_back(name); };
  EXPECT_EQ(RunZip(d).count, 1);
  EXPECT_EQ(deleted, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(ExtractAll(archive()).size(), 2u);

  TZip none;
  SetupZip(none, archive(), {"*.zzz"});
  none.SetSwitch(swDelete);
  EXPECT_EQ(RunZip(none).errors, std::vector<int>{E_NOTHINGTODO});

  TZip all;
  SetupZip(all, archive(), {"*.*"});  // "*.*" takes names without a dot too
  all.SetSwitch(swDelete);
  EXPECT_EQ(RunZip(all).count, 2);
  EXPECT_EQ(fs::file_size(archive()), 22u);

  TZip missing;
  SetupZip(missing, (dir / "nothere.zip").string(), {"*.*"});
  missing.SetSwitch(swDelete);
  EXPECT_EQ(RunZip(missing).errors, std::vector<int>{E_NOTHINGTODO2});
  EXPECT_FALSE(fs::exists(dir / "nothere.zip"));
}

TEST_F(ZipWriter, SelfExtractingPartIsKept) {
  Put("a.txt", Text(2000));
  {
    TZip z;
    SetupZip(z, archive(), {(dir / "src" / "a.txt").string()});
    ASSERT_EQ(RunZip(z).count, 1);
  }
  // A program part in front, the entry offsets still counting from the archive data.
  const std::string stub = "\x7f" "ELF" + Noise(4000, 9);
  auto zipBytes = test::ReadAll(archive());
  std::string sfx = stub + std::string(zipBytes.begin(), zipBytes.end());
  const std::string exe = (dir / "setup.zip").string();
  WriteAll(exe, sfx);
  Put("b.txt", Text(3000));
  TZip z;
  SetupZip(z, exe, {(dir / "src" / "b.txt").string()});
  ASSERT_EQ(RunZip(z).count, 1);
  const auto after = test::ReadAll(exe);
  EXPECT_EQ(std::string(after.begin(), after.begin() + static_cast<long>(stub.size())), stub);
  const auto files = ExtractAll(exe);
  EXPECT_EQ(files.at("a.txt"), Text(2000));
  EXPECT_EQ(files.at("b.txt"), Text(3000));
}

TEST_F(ZipWriter, CancelLeavesTheOldArchiveByteForByte) {
  Put("a.txt", Text(2000));
  {
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    ASSERT_EQ(RunZip(z).count, 1);
  }
  const auto before = test::ReadAll(archive());
  for (int threads : {0, 2}) {
    Put("b.txt", Text(300000));
    Put("c.txt", Text(300000) + "c");
    Put("d.txt", Text(300000) + "d");
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    z.SetCompressThreads(threads);
    z.OnBegin = [&](TObject*, const std::string& name, int, bool&) {
      if (name.find("c.txt") != std::string::npos) z.SetCancelled(true);
    };
    EXPECT_EQ(RunZip(z).count, 0);
    EXPECT_EQ(test::ReadAll(archive()), before);
    int others = 0;
    for (auto& it : fs::directory_iterator(dir.path())) others += it.path().filename().string().rfind("ztv", 0) == 0;
    EXPECT_EQ(others, 0) << "no temporary archive stays behind";
  }
}

TEST_F(ZipWriter, WorkerThreadsWriteTheSameBytes) {
  for (int i = 0; i < 40; ++i) Put("f" + std::to_string(i) + (i % 5 == 0 ? ".gz" : ".txt"), Text(100 + i * 3000));
  Put("noise.bin", Noise(700000));
  Put("empty", "");
  std::vector<std::vector<uint8_t>> results;
  std::vector<std::vector<std::string>> events;
  for (int threads : {0, 1, 3}) {
    const std::string out = (dir / ("t" + std::to_string(threads) + ".zip")).string();
    TZip z;
    SetupZip(z, out, {src() + "*.*"});
    z.SetDateAttribute(daMaxFileDate);
    z.SetCompressThreads(threads);
    std::vector<std::string> seen;
    z.OnBegin = [&](TObject*, const std::string& n, int c, bool&) { seen.push_back("b" + std::to_string(c) + n); };
    z.OnEnd = [&](TObject*, const std::string& n, bool ok) { seen.push_back((ok ? "e" : "E") + n); };
    ASSERT_EQ(RunZip(z).count, 42);
    results.push_back(test::ReadAll(out));
    events.push_back(seen);
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(results[0], results[2]);
  EXPECT_EQ(events[0], events[2]);
}

TEST_F(ZipWriter, StoredNamesFoldersAndNonAsciiNames) {
  Put("b/x/y.txt", "y");
  Put("b/naïve.txt", "n");
  fs::create_directories(dir / "src" / "b" / "empty");
  fs::create_directories(dir / "src" / "b" / "outer" / "inner");
  TZip z;
  SetupZip(z, archive(), {src() + "b/*.*"});
  z.SetRecurseDirs(true);
  z.SetStoredDirNames(sdRelativeStoreStart);
  z.SetStoreEmptySubDirs(true);
  RunZip(z);
  const WrittenArchive w = ReadWritten(archive());
  ASSERT_NE(Find(w, "b/x/y.txt"), nullptr);
  ASSERT_NE(Find(w, "b/empty/"), nullptr);
  EXPECT_EQ(Find(w, "b/empty/")->central.ExternalAttributes & 0x10, 0x10u);
  EXPECT_NE(Find(w, "b/outer/inner/"), nullptr);
  const Written* n = Find(w, "b/naïve.txt");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->central.GeneralPurpose & 0x0800, 0x0800);
  EXPECT_EQ(Find(w, "b/x/y.txt")->central.GeneralPurpose & 0x0800, 0);
}

TEST_F(ZipWriter, DefaultExtAndArchiveNames) {
  TZip z;
  EXPECT_EQ(z.DefaultExt(), ".ztv");
  z.SetDefaultExt("jpeg");
  EXPECT_EQ(z.DefaultExt(), ".jpe");
  z.SetDefaultExt("zip");
  EXPECT_EQ(z.DefaultExt(), ".zip");
  z.SetArchiveFileName((dir / "a.b").string());
  EXPECT_EQ(z.ArchiveFile(), (dir / "a.b").string());
  WriteAll(dir / "data.zip", "");
  z.SetArchiveFileName((dir / "data").string());
  EXPECT_EQ(z.ArchiveFile(), (dir / "data.zip").string());
  EXPECT_FALSE(z.IsNewArchive());
  z.SetDefaultExt(".tgz");
  EXPECT_EQ(z.ArchiveFile(), (dir / "data.tgz").string()) << "the old default extension is replaced";
  TJar j;
  j.SetArchiveFileName((dir / "lib").string());
  EXPECT_EQ(j.ArchiveFile(), (dir / "lib.jar").string());
  EXPECT_EQ(j.ArcType(), atJar);
}

TEST_F(ZipWriter, JarWritesTheBytesOfAZip) {
  Put("a.txt", Text(3000));
  TZip z;
  SetupZip(z, (dir / "z.zip").string(), {src() + "*.*"});
  TJar j;
  SetupZip(j, (dir / "j.zip").string(), {src() + "*.*"});
  ASSERT_EQ(RunZip(z).count, 1);
  ASSERT_EQ(RunZip(j).count, 1);
  EXPECT_EQ(test::ReadAll(dir / "z.zip"), test::ReadAll(dir / "j.zip"));
}

TEST_F(ZipWriter, MoveDeletesOnlyFilesThatReachedTheArchive) {
  Put("a.txt", "a");
  Put("skip.txt", "s");
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetSwitch(swMove);
  z.SetDeleteOptions(doFinal);
  z.SetVerifyBeforeDelete(true);
  z.OnBegin = [](TObject*, const std::string& name, int, bool& take) {
    take = name.find("skip") == std::string::npos;
  };
  EXPECT_EQ(RunZip(z).count, 1);
  EXPECT_FALSE(fs::exists(dir / "src" / "a.txt"));
  EXPECT_TRUE(fs::exists(dir / "src" / "skip.txt"));
  EXPECT_EQ(ExtractAll(archive()).at("a.txt"), "a");
}

TEST_F(ZipWriter, AFailedMoveDeletesNoSourceAndKeepsTheArchive) {
  Put("a.txt", Text(1000));
  {
    TZip z;
    SetupZip(z, archive(), {src() + "*.*"});
    ASSERT_EQ(RunZip(z).count, 1);
  }
  const auto before = test::ReadAll(archive());
  Put("b.txt", Text(200000));
  Put("a.txt", Text(1200));  // differs from its entry
  TZip z;
  SetupZip(z, archive(), {src() + "*.*"});
  z.SetSwitch(swMove);
  z.SetDeleteOptions(doFinal);
  z.OnReplaceFile = [](TObject*, const std::string&, const std::string&, double, double, int64_t, int64_t,
                       uint32_t, uint32_t, bool& yes) { yes = false; };
  int writes = 0;
  platform::SetWriteFault([&](platform::FileHandle, int64_t count, int& error) -> int64_t {
    if (++writes < 3) return -1;
    error = ENOSPC;
    return count / 2;
  });
  const RunResult r = RunZip(z);
  platform::SetWriteFault(nullptr);
  EXPECT_EQ(r.count, 0);
  EXPECT_NE(std::find(r.errors.begin(), r.errors.end(), E_DISKFULL), r.errors.end());
  EXPECT_EQ(test::ReadAll(archive()), before);
  EXPECT_TRUE(fs::exists(dir / "src" / "a.txt"));
  EXPECT_TRUE(fs::exists(dir / "src" / "b.txt"));

  // Without the fault b moves; a, whose replacement was declined, stays.
  EXPECT_EQ(RunZip(z).count, 1);
  EXPECT_TRUE(fs::exists(dir / "src" / "a.txt"));
  EXPECT_FALSE(fs::exists(dir / "src" / "b.txt"));
}

TEST_F(ZipWriter, CommentsAreKeptAndEdited) {
  Put("a.txt", "a");
  Put("b.txt", "b");
  {
    TZip z;
    SetupZip(z, archive(), {(dir / "src" / "a.txt").string()});
    z.SetZipComment("archive note");
    ASSERT_EQ(RunZip(z).count, 1);
  }
  {
    TZip z;
    SetupZip(z, archive(), {(dir / "src" / "b.txt").string()});
    ASSERT_EQ(RunZip(z).count, 1);
  }
  EXPECT_EQ(ReadWritten(archive()).comment, "archive note") << "an update keeps the comment";
  TZip e;
  e.SetDefaultExt(".zip");
  e.SetArchiveFileName(archive());
  ASSERT_EQ(e.LoadComments(), 2);
  std::string name, comment;
  e.GetEntryComment(1, name, comment);
  EXPECT_EQ(name, "b.txt");
  e.SetEntryComment(1, "about b");
  e.SetZipComment("new note");
  EXPECT_TRUE(e.CommentsModified());
  e.SaveComments(true);
  const WrittenArchive w = ReadWritten(archive());
  EXPECT_EQ(w.comment, "new note");
  EXPECT_EQ(w.entries.at(1).central.FileCommentLength, 7);
  EXPECT_EQ(ExtractAll(archive()).size(), 2u);
}

// Every archive of the corpus, also the damaged ones, either takes a new
// file and still tests clean where it did before, or stays as it was.
TEST_F(ZipWriter, EveryFixtureIsUpdatedOrLeftAsItWas) {
  Put("added.txt", Text(5000));
  int updated = 0;
  for (auto& it : fs::directory_iterator(test::FixturesDir() / "zip")) {
    const std::string ext = it.path().extension().string();
    if (ext != ".zip" && ext != ".jar") continue;
    SCOPED_TRACE(it.path().filename().string());
    const fs::path copy = dir / ("copy" + ext);
    fs::copy_file(it.path(), copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write);
    const auto before = test::ReadAll(copy);
    TZip z;
    SetupZip(z, copy.string(), {(dir / "src" / "added.txt").string()});
    const RunResult r = RunZip(z);
    if (r.count == 0) {
      EXPECT_EQ(test::ReadAll(copy), before);
      continue;
    }
    ++updated;
    TUnZip u;
    u.SetArchiveFileName(copy.string());
    u.SetFileSpec({"added.txt"});
    bool ok = false;
    u.OnEnd = [&](TObject*, const std::string&, bool pass) { ok = pass; };
    u.Test();
    EXPECT_TRUE(ok);
  }
  EXPECT_GT(updated, 30);
}

TEST_F(ZipWriter, FailuresReportTheirCodes) {
  Put("a.txt", "a");
  TZip z;
  SetupZip(z, (dir / "no" / "such" / "out.zip").string(), {src() + "*.*"});
  EXPECT_EQ(RunZip(z).errors, std::vector<int>{E_INVALIDDIR});

  TZip u;
  SetupZip(u, archive(), {src() + "*.*"});
  u.SetStoredDirNames(sdExplorer_UserDefineDefaultDir);
  EXPECT_EQ(RunZip(u).errors, std::vector<int>{E_REQUIREDPROPERTY});

  WriteAll(dir / "not.zip", "this is not an archive at all");
  TZip n;
  SetupZip(n, (dir / "not.zip").string(), {src() + "*.*"});
  EXPECT_EQ(RunZip(n).count, 0);
  EXPECT_EQ(test::ReadAll(dir / "not.zip").size(), 29u) << "a file of another kind is never overwritten";

  TZip r;
  SetupZip(r, archive(), {});
  r.SetSwitch(swRead);
  EXPECT_EQ(RunZip(r).errors, std::vector<int>{E_REQUIREDEVENT});

  // A read-only archive is written only when OnNonWriteableArchive says so.
  {
    TZip first;
    SetupZip(first, archive(), {(dir / "src" / "a.txt").string()});
    ASSERT_EQ(RunZip(first).count, 1);
  }
  fs::permissions(archive(), fs::perms::owner_read);
  Put("b.txt", "b");
  TZip ro;
  SetupZip(ro, archive(), {(dir / "src" / "b.txt").string()});
  EXPECT_EQ(RunZip(ro).errors, std::vector<int>{E_REQUIREDEVENT});
  bool asked = false;
  ro.OnNonWriteableArchive = [&](TObject*, const std::string&, bool& write) {
    asked = true;
    write = true;
  };
  EXPECT_EQ(RunZip(ro).count, 1);
  EXPECT_TRUE(asked);
  EXPECT_EQ(ExtractAll(archive()).size(), 2u);
}

}  // namespace
}  // namespace tessavar
