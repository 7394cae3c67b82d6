// Archives of many deflated entries, where the extractor inflates the coming
// entries on other threads: the results, the verdicts and the order of the
// events must be those of a one-entry-at-a-time run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/zip/ztvUnZip.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/File.h"

namespace fs = std::filesystem;

namespace tessavar {
namespace {

struct Item {
  std::string name;
  std::string data;
  bool deflate = true;
  bool badCrc = false;
  uint16_t madeBy = 0x0314;  // Unix, mode in the high word
  uint32_t mode = 0100644;
};

std::vector<uint8_t> Build(const std::vector<Item>& items) {
  using test::zip::Append;
  std::vector<uint8_t> out;
  std::vector<TCentralFileHeader> central;
  for (const Item& it : items) {
    const std::string packed = it.deflate ? test::zip::RawDeflate(it.data) : it.data;
    uint32_t crc = Crc32Update(reinterpret_cast<const uint8_t*>(it.data.data()), it.data.size(), 0xFFFFFFFFu) ^
                   0xFFFFFFFFu;
    if (it.badCrc) crc ^= 0x1234;
    TLocalFileHeader h;
    h.Method = it.deflate ? 8 : 0;
    h.FileTime = 0x58A16C20;
    h.CRC32 = crc;
    h.CompressedSize = static_cast<uint32_t>(packed.size());
    h.UncompressedSize = static_cast<uint32_t>(it.data.size());
    h.FileNameLength = static_cast<uint16_t>(it.name.size());
    TCentralFileHeader c;
    c.VersionMadeBy = it.madeBy;
    c.Method = h.Method;
    c.FileTime = h.FileTime;
    c.CRC32 = crc;
    c.CompressedSize = h.CompressedSize;
    c.UncompressedSize = h.UncompressedSize;
    c.FileNameLength = h.FileNameLength;
    c.ExternalAttributes = (it.madeBy >> 8) == 3 ? (it.mode << 16) | 0x20 : 0x20;
    c.RelativeOffset = static_cast<uint32_t>(out.size());
    central.push_back(c);
    uint8_t rec[TLocalFileHeader::kSize];
    h.Serialize(rec);
    Append(out, rec, sizeof rec);
    Append(out, it.name);
    Append(out, packed);
  }
  const size_t start = out.size();
  for (size_t i = 0; i < items.size(); ++i) {
    uint8_t rec[TCentralFileHeader::kSize];
    central[i].Serialize(rec);
    Append(out, rec, sizeof rec);
    Append(out, items[i].name);
  }
  TEndOfCentralDir end;
  end.EntriesOnThisDisk = end.TotalEntries = static_cast<uint16_t>(items.size());
  end.CentralDirSize = static_cast<uint32_t>(out.size() - start);
  end.CentralDirOffset = static_cast<uint32_t>(start);
  uint8_t rec[TEndOfCentralDir::kSize];
  end.Serialize(rec);
  Append(out, rec, sizeof rec);
  return out;
}

// Text that compresses, different for every entry.
std::string Text(size_t size, int seed) {
  std::string s;
  uint32_t x = static_cast<uint32_t>(seed) * 2654435761u + 1;
  static const char* words[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta ", "eta\n", "theta "};
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    s += words[(x >> 16) & 7];
  }
  s.resize(size);
  return s;
}

struct Outcome {
  std::vector<std::string> events;  // "begin name" / "end name pass"
  int count = 0;
};

Outcome Process(const std::string& archive, const std::string& dir, bool test) {
  Outcome r;
  TUnZip u;
  u.SetArchiveFileName(archive);
  u.SetFileSpec({"*.*"});
  u.SetConfirmOverwrites(false);
  if (!dir.empty()) u.SetExtractDir(dir);
  u.OnBegin = [&](TObject*, const std::string& name, int, bool&) { r.events.push_back("begin " + name); };
  u.OnEnd = [&](TObject*, const std::string& name, bool pass) {
    r.events.push_back("end " + name + (pass ? " pass" : " FAIL"));
  };
  r.count = test ? u.Test() : u.Extract();
  return r;
}

class InflateAhead : public ::testing::Test {
 protected:
  void SetUp() override {
    // Big entries the workers take, small ones in between, a stored one, a
    // damaged big one, one made on another system.
    for (int i = 0; i < 40; ++i) {
      Item it;
      it.name = "d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".txt";
      it.data = Text(i % 4 == 0 ? 300 : 40000 + 7919 * static_cast<size_t>(i), i);
      it.deflate = i != 5;
      it.badCrc = i == 13 || i == 14;
      if (i == 21) it.madeBy = 0x0014;
      if (i == 22) it.mode = 0100755;
      items.push_back(it);
    }
    test::WriteAll(folder / "many.zip", Build(items));
    archive = (folder / "many.zip").string();
  }
  std::vector<Item> items;
  test::TempFolder folder;
  std::string archive;
};

TEST_F(InflateAhead, ExtractionMatchesTheEntriesInOrder) {
  test::TempFolder out;
  fs::create_directories(out / "d0");
  fs::create_directories(out / "d2");
  test::WriteAll(out / "d2/f14.txt", std::string("precious"));
  test::WriteAll(out / "d0/f12.txt", std::string("old"));
  Outcome r = Process(archive, out.str(), false);
  EXPECT_EQ(r.count, 40);
  std::vector<std::string> expected;
  for (const Item& it : items) {
    expected.push_back("begin " + out.str() + it.name);
    expected.push_back("end " + out.str() + it.name + (it.badCrc ? " FAIL" : " pass"));
  }
  EXPECT_EQ(r.events, expected);
  for (const Item& it : items) {
    SCOPED_TRACE(it.name);
    const fs::path p = out / it.name;
    if (it.badCrc) {
      // Nothing made for a damaged entry, nothing spoiled that was there.
      if (it.name == "d2/f14.txt") EXPECT_EQ(test::ReadAll(p), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
      else EXPECT_FALSE(fs::exists(p));
      continue;
    }
    const std::vector<uint8_t> got = test::ReadAll(p);
    EXPECT_EQ(std::string(got.begin(), got.end()), it.data);
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    if ((it.madeBy >> 8) == 3) EXPECT_EQ(st.st_mode & 07777, it.mode & 07777);
    else EXPECT_EQ(static_cast<int>(st.st_mode & 07777), platform::NewFileMode());
  }
  for (const auto& f : fs::recursive_directory_iterator(out.path()))
    EXPECT_EQ(f.path().filename().string().rfind(".ztv", 0), std::string::npos) << f.path();
}

TEST_F(InflateAhead, TestGivesTheSameVerdicts) {
  Outcome r = Process(archive, "", true);
  std::vector<std::string> expected;
  for (const Item& it : items) {
    expected.push_back("begin " + it.name);
    expected.push_back("end " + it.name + (it.badCrc ? " FAIL" : " pass"));
  }
  EXPECT_EQ(r.events, expected);
}

TEST_F(InflateAhead, SkippedEntriesAndCancelDoNotStall) {
  // Only every third entry wanted: the results of the others are dropped.
  TUnZip u;
  u.SetArchiveFileName(archive);
  u.SetFileSpec({"*.*"});
  int ended = 0;
  int seen = 0;
  u.OnBegin = [&](TObject*, const std::string&, int, bool& extract) { extract = (seen++ % 3) == 0; };
  u.OnEnd = [&](TObject*, const std::string&, bool) { ++ended; };
  u.Test();
  EXPECT_EQ(seen, 40);
  EXPECT_EQ(ended, 14);

  // Cancelling half-way ends the run at once, workers and all.
  TUnZip v;
  v.SetArchiveFileName(archive);
  v.SetFileSpec({"*.*"});
  int begun = 0;
  v.OnBegin = [&](TObject*, const std::string&, int, bool&) {
    if (++begun == 10) v.SetCancelled(true);
  };
  v.Test();
  EXPECT_EQ(begun, 10);
}

}  // namespace
}  // namespace tessavar
