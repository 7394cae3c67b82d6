#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/File.h"

namespace tessavar {
namespace {

using namespace tessavar::test;
using namespace tessavar::test::zip;

THeaderTypeState Set(std::initializer_list<THeaderType> members) {
  THeaderTypeState s;
  for (auto m : members) s.Include(m);
  return s;
}

const THeaderTypeState kNormal = Set({htEnding, htCentral, htLocal});

struct Found {
  int64_t result;
  TZipSearchState st;
  std::vector<int> errors;
  int comments = 0;
  std::vector<uint8_t> comment;
  int64_t commentEndPos = 0, commentCandidate = 0;
  uint32_t commentSignature = 0;
};

Found Search(const std::vector<uint8_t>& bytes, TSeedKeyValues seed = kZipDefaultHeaderSeed) {
  Found f;
  f.st.HeaderSeed = seed;
  f.st.ReportError = [&f](int code) { f.errors.push_back(code); };
  f.st.OnComment = [&f](uint32_t sig, int64_t endPos, int64_t candidate, const std::vector<uint8_t>& c) {
    ++f.comments;
    f.commentSignature = sig;
    f.commentEndPos = endPos;
    f.commentCandidate = candidate;
    f.comment = c;
  };
  TMemorySource src(bytes);
  f.result = FindEndOfCentralDir(src, f.st);
  // The callbacks point into this frame; the copy returned must not keep them.
  f.st.ReportError = nullptr;
  f.st.OnComment = nullptr;
  return f;
}

std::vector<uint8_t> Junk(size_t n, char c = 'x') { return std::vector<uint8_t>(n, static_cast<uint8_t>(c)); }

// ---- The fixture corpus ----

// The manifest notes carry markers for the layouts that change the outcome.
TEST(FindEndOfCentralDir, EveryFixtureArchive) {
  const std::set<std::string> noEndRecord = {"py-central-dir-truncated.zip", "bad-truncated-mid-data.zip"};
  const std::regex shiftNote(R"(offset shift (\d+))");
  const std::regex commentNote(R"(archive comment (\d+) bytes, CRC-32 ([0-9A-F]{8}))");
  int checked = 0;
  for (const ManifestArchive& m : LoadZipManifest()) {
    SCOPED_TRACE(m.file);
    std::vector<uint8_t> zip = ReadAll(ZipFixtures() / m.file);
    Found f = Search(zip);
    ++checked;
    if (m.entries.empty()) {  // the end record alone, at the file's first byte
      EXPECT_EQ(f.result, 0);
      EXPECT_EQ(f.st.FoundHeaders, Set({htEnding}));
      EXPECT_EQ(f.st.EndOfCentralDir.TotalEntries, 0);
      continue;
    }
    if (noEndRecord.count(m.file)) {
      EXPECT_EQ(f.result, 0);
      EXPECT_TRUE(f.st.FoundHeaders.Empty());
      continue;
    }
    ASSERT_TRUE(f.st.FoundHeaders.Has(htEnding));
    ASSERT_TRUE(f.st.FoundHeaders.Has(htCentral));
    ASSERT_GE(f.result, 0);
    EXPECT_EQ(ClassifySignature(GetU32(&zip[static_cast<size_t>(f.result)]), htCentral).kind, htCentral);
    EXPECT_EQ(f.st.DirectoryStart, f.result);
    EXPECT_TRUE(f.errors.empty());
    EXPECT_EQ(f.comments, 1);

    const bool zip64 = m.notes.find("Zip64 EOCD present") != std::string::npos;
    EXPECT_EQ(f.st.FoundHeaders.Has(htLocator), zip64);
    EXPECT_EQ(f.st.FoundHeaders.Has(htEnding64), zip64);
    std::smatch match;
    if (std::regex_search(m.notes, match, shiftNote)) {
      // Offsets count from the archive data behind the stub: the directory is
      // found where it ends, and the same shift finds the local headers.
      EXPECT_EQ(f.st.FoundHeaders, kNormal);
      EXPECT_EQ(f.result, f.st.EndOfCentralDir.CentralDirOffset + std::stoll(match[1]));
      EXPECT_EQ(f.st.OffsetBias, std::stoll(match[1]));
      std::vector<ListedEntry> listed = ListCentral(zip, f.st);
      EXPECT_EQ(listed.size(), m.entries.size());
    } else if (f.st.EndOfCentralDir.NumberOfThisDisk == 0) {
      EXPECT_EQ(f.st.OffsetBias, 0);
      EXPECT_TRUE(f.st.FoundHeaders.Has(htLocal));
      std::vector<ListedEntry> listed = ListCentral(zip, f.st);
      ASSERT_EQ(listed.size(), m.entries.size());
      for (size_t i = 0; i < listed.size(); ++i) EXPECT_EQ(listed[i].name, m.entries[i].name);
    }
    if (std::regex_search(m.notes, match, commentNote)) {
      EXPECT_EQ(f.comment.size(), std::stoul(match[1]));
      EXPECT_EQ(Crc32Update(f.comment.data(), f.comment.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu,
                std::stoul(match[2], nullptr, 16));
    }
  }
  EXPECT_GT(checked, 40);
}

// The handle source reads a real file the same way.
TEST(FindEndOfCentralDir, HandleSourceOverAFile) {
  platform::FileHandle h = platform::FileOpen((ZipFixtures() / "infozip-comment.zip").string(), platform::OpenMode::Read);
  ASSERT_NE(h, platform::kInvalidHandle);
  THandleSource src(h);
  TZipSearchState st;
  int64_t r = FindEndOfCentralDir(src, st);
  platform::FileClose(h);
  Found mem = Search(ReadAll(ZipFixtures() / "infozip-comment.zip"));
  EXPECT_EQ(r, mem.result);
  EXPECT_EQ(st.FoundHeaders, kNormal);
  EXPECT_EQ(st.CentralHeader.CRC32, mem.st.CentralHeader.CRC32);
  THandleSource closed(platform::kInvalidHandle);
  EXPECT_EQ(FindEndOfCentralDir(closed, st), 0);
  EXPECT_TRUE(st.FoundHeaders.Empty());
}

// ---- Where the end record may stand ----

TEST(FindEndOfCentralDir, CommentLengthsAroundTheSearchWindow) {
  // 40000 bytes of data, so the window is the whole 32768 bytes.
  const std::vector<SynthEntry> entries = {{"big.bin", std::string(40000, 'd')}};
  struct Case {
    size_t comment;
    bool found;
  } cases[] = {{0, true}, {30000, true}, {32746, true}, {32747, false}, {40000, false}};
  for (const Case& c : cases) {
    SynthOptions o;
    o.comment = std::string(c.comment, 'c');
    if (!o.comment.empty()) o.comment[0] = '!';
    SynthLayout lay;
    std::vector<uint8_t> zip = BuildZip(entries, o, &lay);
    Found f = Search(zip);
    if (c.found) {
      EXPECT_EQ(f.st.FoundHeaders, kNormal) << c.comment;
      EXPECT_EQ(f.result, lay.centralPos) << c.comment;
      EXPECT_EQ(f.st.EndPosition, lay.endPos) << c.comment;
      EXPECT_EQ(std::string(f.comment.begin(), f.comment.end()), o.comment) << c.comment;
    } else {
      EXPECT_EQ(f.result, 0) << c.comment;
      EXPECT_TRUE(f.st.FoundHeaders.Empty()) << c.comment;
      EXPECT_EQ(f.comments, 0) << c.comment;
    }
  }
}

TEST(FindEndOfCentralDir, TinyAndEmptyInputs) {
  SynthOptions o;
  std::vector<uint8_t> empty = BuildZip({}, o);
  ASSERT_EQ(empty.size(), 22u);
  for (size_t n : {0, 1, 3, 4, 5, 21}) {
    Found f = Search(std::vector<uint8_t>(empty.begin(), empty.begin() + static_cast<long>(n)));
    EXPECT_EQ(f.result, 0) << n;
    EXPECT_TRUE(f.st.FoundHeaders.Empty()) << n;
  }
  // The whole empty archive: its record is found at the first byte.
  Found whole = Search(empty);
  EXPECT_EQ(whole.result, 0);
  EXPECT_EQ(whole.st.FoundHeaders, Set({htEnding}));
  // Behind two bytes of junk too.
  std::vector<uint8_t> shifted = Junk(2);
  shifted.insert(shifted.end(), empty.begin(), empty.end());
  Found f = Search(shifted);
  EXPECT_TRUE(f.st.FoundHeaders.Has(htEnding));
  EXPECT_FALSE(f.st.FoundHeaders.Has(htCentral));
}

// A signature too close to the end cannot start a whole record; the search
// goes on to the real one instead of reading past the file.
TEST(FindEndOfCentralDir, TruncatedRecordAtTheEndIsPassedOver) {
  SynthLayout lay;
  std::vector<uint8_t> zip = BuildZip(ThreeEntries(), SynthOptions{}, &lay);
  for (uint32_t sig : {END_OF_CENTRAL_SIGNATURE, END_OF_CENTRAL_LARGE_SIGNATURE}) {
    std::vector<uint8_t> v = zip;
    v.resize(v.size() + 10, 0);
    PutU32(&v[v.size() - 10], sig);
    Found f = Search(v);
    EXPECT_EQ(f.st.FoundHeaders, kNormal);
    EXPECT_EQ(f.st.EndPosition, lay.endPos);
  }
}

// ---- Stubs in front of the archive ----

std::vector<uint8_t> Stub(size_t n) {
  std::vector<uint8_t> s = Junk(n, 's');
  s[0] = 'M';
  s[1] = 'Z';
  return s;
}

TEST(FindEndOfCentralDir, StubInFrontOfTheArchive) {
  struct Case {
    const char* what;
    bool large;
    bool zip64;
    bool adjust;
    THeaderTypeState headers;
    bool biased;  // OffsetBias is the stub's size
  } cases[] = {
      {"22-byte record, offsets adjusted", false, false, true, kNormal, false},
      {"22-byte record, offsets not adjusted", false, false, false, kNormal, true},
      {"26-byte record, offsets adjusted", true, false, true, kNormal, false},
      {"26-byte record, offsets not adjusted", true, false, false, kNormal, true},
      {"zip64, offsets adjusted", false, true, true, Set({htEnding, htCentral, htLocal, htLocator, htEnding64}),
       false},
      {"zip64, offsets not adjusted", false, true, false,
       Set({htEnding, htCentral, htLocal, htLocator, htEnding64}), true},
  };
  for (const Case& c : cases) {
    SynthOptions o;
    o.prefix = Stub(17408);
    o.adjustOffsets = c.adjust;
    o.largeEnd = c.large;
    o.zip64 = c.zip64;
    SynthLayout lay;
    std::vector<uint8_t> zip = BuildZip(ThreeEntries(), o, &lay);
    Found f = Search(zip);
    EXPECT_EQ(f.st.FoundHeaders, c.headers) << c.what;
    EXPECT_EQ(f.result, lay.centralPos) << c.what;
    EXPECT_EQ(f.st.OffsetBias, c.biased ? 17408 : 0) << c.what;
    EXPECT_TRUE(f.errors.empty()) << c.what;
    EXPECT_EQ(f.st.LargeEndFound, c.large) << c.what;
    if (c.headers.Has(htLocal)) {
      // Every entry's local header is where offset plus bias says.
      std::vector<ListedEntry> listed = ListCentral(zip, f.st);
      ASSERT_EQ(listed.size(), 3u) << c.what;
      for (size_t i = 0; i < 3; ++i) EXPECT_EQ(listed[i].localPos, lay.localPos[i]) << c.what;
    }
  }
}

TEST(FindEndOfCentralDir, ZipMinusAAdjustsAStub) {
  if (!HaveTool("/usr/bin/zip")) GTEST_SKIP() << "zip is not installed";
  TempFolder tmp;
  WriteAll(tmp / "a.txt", std::string(1000, 'a'));
  ASSERT_TRUE(RunShell("cd " + Quote(tmp.path()) + " && zip -q plain.zip a.txt"));
  std::vector<uint8_t> sfx = Stub(5000);
  std::vector<uint8_t> plain = ReadAll(tmp / "plain.zip");
  sfx.insert(sfx.end(), plain.begin(), plain.end());
  WriteAll(tmp / "sfx.exe", sfx);

  Found before = Search(sfx);
  EXPECT_EQ(before.st.FoundHeaders, kNormal);
  EXPECT_EQ(before.st.OffsetBias, 5000);
  ASSERT_TRUE(RunShell("zip -q -A " + Quote(tmp / "sfx.exe")));
  Found after = Search(ReadAll(tmp / "sfx.exe"));
  EXPECT_EQ(after.st.FoundHeaders, kNormal);
  EXPECT_EQ(after.result, before.result);
  EXPECT_EQ(after.st.OffsetBias, 0);
}

// ---- zip64 ----

TEST(FindEndOfCentralDir, Zip64RecordsAreStored) {
  SynthOptions o;
  o.zip64 = true;
  o.zip64Offsets = true;  // the first entry's offset lives in its extra field
  SynthLayout lay;
  std::vector<uint8_t> zip = BuildZip(ThreeEntries(), o, &lay);
  Found f = Search(zip);
  EXPECT_EQ(f.st.FoundHeaders, Set({htEnding, htCentral, htLocal, htLocator, htEnding64}));
  EXPECT_EQ(f.result, lay.centralPos);
  EXPECT_EQ(f.st.Zip64Locator.Zip64EndOffset, static_cast<uint64_t>(lay.zip64EndPos));
  EXPECT_EQ(f.st.Zip64EndOfCentralDir.TotalEntries, 3u);
  EXPECT_EQ(f.st.EndOfCentralDir.CentralDirOffset, 0xFFFFFFFFu);
  EXPECT_EQ(f.commentCandidate, lay.centralPos);
  EXPECT_TRUE(f.errors.empty());

  // A locator without its zip64 end record: the 22-byte record's own fields.
  std::vector<uint8_t> broken = zip;
  broken[static_cast<size_t>(lay.zip64EndPos)] = 'X';
  Found g = Search(broken);
  EXPECT_TRUE(g.st.FoundHeaders.Has(htLocator));
  EXPECT_FALSE(g.st.FoundHeaders.Has(htEnding64));
  EXPECT_FALSE(g.st.FoundHeaders.Has(htCentral));
}

TEST(FindEndOfCentralDir, ZipMinusFz) {
  if (!HaveTool("/usr/bin/zip")) GTEST_SKIP() << "zip is not installed";
  TempFolder tmp;
  WriteAll(tmp / "a.txt", std::string(5000, 'a'));
  WriteAll(tmp / "b.txt", "bee");
  ASSERT_TRUE(RunShell("cd " + Quote(tmp.path()) + " && zip -q -fz z64.zip a.txt b.txt"));
  std::vector<uint8_t> zip = ReadAll(tmp / "z64.zip");
  Found f = Search(zip);
  EXPECT_EQ(f.st.FoundHeaders, Set({htEnding, htCentral, htLocal, htLocator, htEnding64}));
  EXPECT_EQ(ListCentral(zip, f.st).size(), 2u);
}

// ---- Header-encrypted records ----

TEST(FindEndOfCentralDir, EncryptedHeadersAndEndRecords) {
  for (bool large : {false, true}) {
    SynthOptions o;
    o.encryptHeaders = true;
    o.encryptEnd = true;
    o.largeEnd = large;
    SynthLayout lay;
    std::vector<uint8_t> zip = BuildZip(ThreeEntries(), o, &lay);
    ASSERT_EQ(zip[1], 'L');
    Found f = Search(zip);
    EXPECT_EQ(f.st.FoundHeaders, kNormal) << large;
    EXPECT_EQ(f.result, lay.centralPos) << large;
    EXPECT_EQ(f.st.EndSignature, large ? END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE : END_OF_CENTRAL_ENCRPT_SIGNATURE);
    EXPECT_EQ(f.st.EndOfCentralDir.TotalEntries, 3) << large;
    EXPECT_EQ(f.st.CentralHeader.Signature, CENTRAL_FILE_ENCRPT_SIGNATURE);
    EXPECT_EQ(f.st.CentralHeader.CRC32, lay.central[0].CRC32) << large;
    EXPECT_EQ(f.st.CentralHeader.FileNameLength, lay.central[0].FileNameLength) << large;
    EXPECT_EQ(f.st.LocalHeader.CRC32, lay.central[0].CRC32) << large;
    std::vector<ListedEntry> listed = ListCentral(zip, f.st);
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[1].name, "dir/b.txt");
  }

  // Headers read with another seed are garbage: the directory is not usable.
  SynthOptions o;
  o.encryptHeaders = true;
  SynthLayout lay;
  std::vector<uint8_t> zip = BuildZip(ThreeEntries(), o, &lay);
  Found f = Search(zip, TSeedKeyValues{0x11111111u, 0x22222222u, 0x33333333u});
  EXPECT_NE(f.st.CentralHeader.CRC32, lay.central[0].CRC32);
  EXPECT_FALSE(f.st.FoundHeaders.Has(htLocal));
}

// ---- No usable central directory ----

TEST(FindEndOfCentralDir, LocalScanWhenTheDirectoryIsDamaged) {
  struct Case {
    const char* what;
    size_t junk;
    bool encryptHeaders;
    int64_t result;
    THeaderTypeState headers;
  } cases[] = {
      {"local header after junk", 5000, false, 5000, Set({htLocal})},
      {"encrypted local signature", 5000, true, 5000, Set({htLocal})},
      {"local signature across a block boundary", 32766, false, 32766, Set({htLocal})},
      {"last position of the fourth block", 4 * 32768 - 1, false, 4 * 32768 - 1, Set({htLocal})},
      {"beyond four blocks", 4 * 32768, false, -1, Set({htEnding})},
      {"at the very start", 0, false, 0, Set({htLocal})},
  };
  for (const Case& c : cases) {
    SynthOptions o;
    o.prefix = Junk(c.junk);
    o.encryptHeaders = c.encryptHeaders;
    SynthLayout lay;
    // Big enough data that the window is the full block length.
    std::vector<uint8_t> zip = BuildZip({{"a.bin", std::string(40000, 'a')}}, o, &lay);
    PutU32(&zip[static_cast<size_t>(lay.centralPos)], 0x12345678);  // the directory is gone
    Found f = Search(zip);
    EXPECT_EQ(f.result, c.result) << c.what;
    EXPECT_EQ(f.st.FoundHeaders, c.headers) << c.what;
    EXPECT_EQ(f.st.DirectoryStart, c.result) << c.what;
  }
}

TEST(FindEndOfCentralDir, FirstLocalHeaderOutsideTheFile) {
  SynthLayout lay;
  std::vector<uint8_t> zip = BuildZip(ThreeEntries(), SynthOptions{}, &lay);
  struct Case {
    uint32_t offset;
    int64_t result;
    bool error;
    bool local;
  } cases[] = {
      {0x7FFFFFF0u, -1, true, false},
      {static_cast<uint32_t>(zip.size()) + 1, -1, true, false},
      {static_cast<uint32_t>(zip.size()), lay.centralPos, false, false},  // at the end: nothing to read
      {static_cast<uint32_t>(lay.localPos[1]), lay.centralPos, false, true},
      {5, lay.centralPos, false, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> v = zip;
    PutU32(&v[static_cast<size_t>(lay.centralPos) + 42], c.offset);
    Found f = Search(v);
    EXPECT_EQ(f.result, c.result) << c.offset;
    EXPECT_EQ(f.errors, c.error ? std::vector<int>{25114} : std::vector<int>{}) << c.offset;
    EXPECT_EQ(f.st.FoundHeaders.Has(htLocal), c.local) << c.offset;
    EXPECT_TRUE(f.st.FoundHeaders.Has(htCentral)) << c.offset;
  }
  // Without a handler the outcome is the same.
  std::vector<uint8_t> v = zip;
  PutU32(&v[static_cast<size_t>(lay.centralPos) + 42], 0xFFFFFF00u);
  TMemorySource src(v);
  TZipSearchState st;
  EXPECT_EQ(FindEndOfCentralDir(src, st), -1);
}

TEST(FindEndOfCentralDir, CommentSinkSeesEveryEndRecord) {
  SynthOptions o;
  o.comment = "an archive comment";
  SynthLayout lay;
  Found f = Search(BuildZip(ThreeEntries(), o, &lay));
  EXPECT_EQ(f.comments, 1);
  EXPECT_EQ(f.commentSignature, END_OF_CENTRAL_SIGNATURE);
  EXPECT_EQ(f.commentEndPos, lay.endPos);
  EXPECT_EQ(f.commentCandidate, lay.centralPos);
  EXPECT_EQ(std::string(f.comment.begin(), f.comment.end()), o.comment);

  o.comment.clear();
  o.largeEnd = true;
  Found g = Search(BuildZip(ThreeEntries(), o, &lay));
  EXPECT_EQ(g.comments, 1);
  EXPECT_EQ(g.commentSignature, END_OF_CENTRAL_LARGE_SIGNATURE);
  EXPECT_TRUE(g.comment.empty());
}

// ---- Hostile input ----

class LyingSource : public TByteSource {
 public:
  LyingSource(std::vector<uint8_t> data, int64_t size) : data_(std::move(data)), mem_(data_), size_(size) {}
  int64_t Size() override { return size_; }
  int64_t ReadAt(int64_t pos, void* buf, int64_t n) override { return mem_.ReadAt(pos, buf, n); }

 private:
  std::vector<uint8_t> data_;
  TMemorySource mem_;
  int64_t size_;
};

TEST(FindEndOfCentralDir, SourcesThatLieAboutTheirSize) {
  std::vector<uint8_t> zip = BuildZip(ThreeEntries(), SynthOptions{});
  for (int64_t size : {int64_t{-5}, int64_t{1} << 62, std::numeric_limits<int64_t>::max(),
                       static_cast<int64_t>(zip.size()) + 7, static_cast<int64_t>(zip.size()) - 7}) {
    LyingSource src(zip, size);
    TZipSearchState st;
    int64_t r = FindEndOfCentralDir(src, st);
    EXPECT_GE(r, -1) << size;
    EXPECT_LE(r, std::max<int64_t>(size, 0)) << size;
  }
}

// Hostile fields: huge sizes and offsets in every end-record form.
TEST(FindEndOfCentralDir, HostileFieldValues) {
  SynthOptions forms[4];
  forms[1].largeEnd = true;
  forms[2].zip64 = true;
  forms[3].zip64 = forms[3].zip64Offsets = true;
  const uint64_t values[] = {0, 1, 0x7FFFFFFFu, 0xFFFFFFFFu, 0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull,
                             0xFFFFFFFFFFFFFFFFull};
  for (const SynthOptions& o : forms) {
    SynthLayout lay;
    const std::vector<uint8_t> zip = BuildZip(ThreeEntries(), o, &lay);
    // Fields: end record size and offset, zip64 locator offset, zip64 size and offset.
    std::vector<std::pair<int64_t, int>> fields = {{lay.endPos + 12, 4}, {lay.endPos + 16, o.largeEnd ? 8 : 4}};
    if (o.zip64) {
      fields.push_back({lay.zip64EndPos + 56 + 8, 8});
      fields.push_back({lay.zip64EndPos + 40, 8});
      fields.push_back({lay.zip64EndPos + 48, 8});
    }
    for (auto [at, width] : fields) {
      for (uint64_t v : values) {
        std::vector<uint8_t> bad = zip;
        if (width == 4) PutU32(&bad[static_cast<size_t>(at)], static_cast<uint32_t>(v));
        else PutU64(&bad[static_cast<size_t>(at)], v);
        Found f = Search(bad);
        EXPECT_GE(f.result, -1);
        EXPECT_LT(f.result, static_cast<int64_t>(bad.size()));
        if (f.st.FoundHeaders.Has(htCentral) && f.result >= 0) {
          EXPECT_EQ(ClassifySignature(GetU32(&bad[static_cast<size_t>(f.result)]), htCentral).kind, htCentral);
        }
      }
    }
  }
}

// Truncations and random damage of real and synthetic archives must end in
// one of the defined results (the sanitizer build checks the reads).
TEST(FindEndOfCentralDir, TruncatedAndMutatedInputs) {
  std::vector<std::vector<uint8_t>> inputs;
  for (const char* name : {"infozip-comment.zip", "infozip-zip64-fz.zip", "sfx-stub-unadjusted.exe",
                           "bad-cd-offset-beyond-eof.zip", "infozip-empty.zip"}) {
    inputs.push_back(ReadAll(ZipFixtures() / name));
  }
  SynthOptions enc;
  enc.encryptHeaders = enc.encryptEnd = enc.largeEnd = true;
  inputs.push_back(BuildZip(ThreeEntries(), enc));
  SynthOptions z64;
  z64.zip64 = z64.zip64Offsets = true;
  inputs.push_back(BuildZip(ThreeEntries(), z64));

  std::mt19937 rng(2024);
  auto check = [](const std::vector<uint8_t>& v) {
    Found f = Search(v);
    ASSERT_GE(f.result, -1);
    ASSERT_LE(f.result, static_cast<int64_t>(v.size()));
  };
  for (const auto& in : inputs) {
    const size_t n = in.size();
    // Every cut near the end (where the records are), a sample elsewhere.
    for (size_t cut = 0; cut <= n; cut += (cut + 200 >= n || cut < 64) ? 1 : 1 + rng() % 997) {
      check(std::vector<uint8_t>(in.begin(), in.begin() + static_cast<long>(cut)));
    }
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> v = in;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int k = 0; k < flips; ++k) {
        // Mostly in the last 2 KiB, where the directory and end records are.
        size_t at = (rng() % 4 != 0 && n > 2048) ? n - 1 - rng() % 2048 : rng() % std::max<size_t>(n, 1);
        if (n) v[at] = static_cast<uint8_t>(rng());
      }
      check(v);
    }
  }
  // Garbage strewn with signatures.
  const uint32_t sigs[] = {END_OF_CENTRAL_SIGNATURE,   END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE, CENTRAL_FILE_HEADER_SIGNATURE,
                           LOCAL_FILE_ENCRPT_SIGNATURE, ZIP64_END_LOCATOR_SIGNATURE,          ZIP64_END_OF_CENTRAL_SIGNATURE};
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> v(1 + rng() % 3000);
    for (auto& b : v) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0xFF);
    for (int k = 0; k < 12 && v.size() >= 4; ++k) PutU32(&v[rng() % (v.size() - 3)], sigs[rng() % 6]);
    check(v);
  }
}

}  // namespace
}  // namespace tessavar
