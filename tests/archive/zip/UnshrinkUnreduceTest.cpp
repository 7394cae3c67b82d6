#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvErrors.h"
#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {
namespace {

using namespace tessavar::test;
using namespace tessavar::test::zip;

class DecoderComponent : public TZipCommon {
 public:
  DecoderComponent() {
    arcType_ = atZip;
    OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
      errors.push_back(code);
    };
  }
  void TestMode() { processMode_ = 6; }
  std::vector<int> errors;
};

// An output that takes at most `limit` bytes, to make writes come up short.
class SinkStream : public TStream32 {
 public:
  std::vector<uint8_t> data;
  int64_t limit = -1;
  void SetSize(int64_t size) override { data.resize(static_cast<size_t>(size)); }
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    if (limit >= 0) count = std::max<int64_t>(0, std::min<int64_t>(count, limit - static_cast<int64_t>(data.size())));
    const auto* p = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), p, p + count);
    return count;
  }
  int64_t Seek(int64_t, TSeekOrigin) override { return static_cast<int64_t>(data.size()); }
};

struct Decoded {
  std::vector<uint8_t> bytes;
  uint32_t crc = 0;
  bool raised = false;
  std::vector<int> errors;
  std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

Decoded Decode(const std::vector<uint8_t>& stored, uint16_t method, int64_t size, bool decrypt = false,
               const TSeedKeyValues* keys = nullptr) {
  DecoderComponent c;
  if (keys) c.DataKeys() = *keys;
  TMemoryStream32 in;
  if (!stored.empty()) in.Write(stored.data(), static_cast<int64_t>(stored.size()));
  in.Seek(0, soFromBeginning);
  SinkStream out;
  TEntryParams e;
  e.Method = method;
  e.CompressedSize = static_cast<int64_t>(stored.size());
  e.UncompressedSize = size;
  e.Decrypt = decrypt;
  Decoded d;
  c.ResetCrc();
  try {
    if (method == 1) Unshrink(c, in, &out, e);
    else Unreduce(c, in, &out, e);
  } catch (const E_RAISE&) {
    d.raised = true;
  }
  d.bytes = out.data;
  d.crc = c.Crc32Value();
  d.errors = c.errors;
  return d;
}

// Codes or fields of the given widths, least significant bit first.
class BitWriter {
 public:
  BitWriter& Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (count_ % 8 == 0) bytes.push_back(0);
      if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(1u << (count_ % 8));
      ++count_;
    }
    return *this;
  }
  int Bits() const { return count_; }
  std::vector<uint8_t> bytes;

 private:
  int count_ = 0;
};

std::vector<uint8_t> Codes9(std::initializer_list<uint32_t> codes) {
  BitWriter w;
  for (uint32_t c : codes) w.Put(c, 9);
  return w.bytes;
}

// Follower sets all empty except the ones given (set byte, followers).
BitWriter ReducedHeader(const std::vector<std::pair<int, std::string>>& sets = {}) {
  BitWriter w;
  for (int s = 255; s >= 0; --s) {
    auto it = std::find_if(sets.begin(), sets.end(), [s](const auto& p) { return p.first == s; });
    if (it == sets.end()) {
      w.Put(0, 6);
      continue;
    }
    w.Put(static_cast<uint32_t>(it->second.size()), 6);
    for (unsigned char ch : it->second) w.Put(ch, 8);
  }
  return w;
}

// ---- The fixtures made by other tools ----

struct FixtureEntry {
  std::string archive;
  ManifestEntry expected;
  uint16_t method = 0;
  std::vector<uint8_t> stored;
};

std::vector<FixtureEntry> LegacyFixtureEntries() {
  std::vector<FixtureEntry> out;
  for (const ManifestArchive& a : LoadZipManifest()) {
    const bool legacy = std::any_of(a.entries.begin(), a.entries.end(),
                                    [](const ManifestEntry& e) { return e.method >= 1 && e.method <= 5; });
    if (!legacy) continue;
    const std::vector<uint8_t> zip = ReadAll(ZipFixtures() / a.file);
    size_t end = zip.size() - TEndOfCentralDir::kSize;
    while (end > 0 && TEndOfCentralDir::Parse(zip.data() + end).Signature != END_OF_CENTRAL_SIGNATURE) --end;
    const TEndOfCentralDir eocd = TEndOfCentralDir::Parse(zip.data() + end);
    size_t p = eocd.CentralDirOffset;
    for (int i = 0; i < eocd.TotalEntries; ++i) {
      const TCentralFileHeader ch = TCentralFileHeader::Parse(zip.data() + p);
      const std::string name(reinterpret_cast<const char*>(zip.data() + p + TCentralFileHeader::kSize),
                             ch.FileNameLength);
      p += TCentralFileHeader::kSize + ch.FileNameLength + ch.ExtraFieldLength + ch.FileCommentLength;
      if (ch.Method < 1 || ch.Method > 5) continue;
      const TLocalFileHeader lh = TLocalFileHeader::Parse(zip.data() + ch.RelativeOffset);
      const size_t data = ch.RelativeOffset + TLocalFileHeader::kSize + lh.FileNameLength + lh.ExtraFieldLength;
      FixtureEntry fe;
      fe.archive = a.file;
      fe.method = ch.Method;
      fe.stored.assign(zip.begin() + static_cast<std::ptrdiff_t>(data),
                       zip.begin() + static_cast<std::ptrdiff_t>(data + ch.CompressedSize));
      for (const ManifestEntry& me : a.entries)
        if (me.name == name) fe.expected = me;
      EXPECT_EQ(fe.expected.name, name) << a.file;
      out.push_back(std::move(fe));
    }
  }
  return out;
}

TEST(LegacyDecoders, FixturesOfOtherToolsDecodeByteExactly) {
  const auto entries = LegacyFixtureEntries();
  std::vector<int> methods;
  for (const auto& e : entries) methods.push_back(e.method);
  for (int m = 1; m <= 5; ++m) EXPECT_NE(std::count(methods.begin(), methods.end(), m), 0) << "method " << m;

  for (const auto& e : entries) {
    SCOPED_TRACE(e.archive + " " + e.expected.name);
    const Decoded d = Decode(e.stored, e.method, e.expected.size);
    EXPECT_FALSE(d.raised);
    EXPECT_TRUE(d.errors.empty());
    EXPECT_EQ(static_cast<int64_t>(d.bytes.size()), e.expected.size);
    EXPECT_EQ(d.crc, e.expected.crc32);
  }
}

TEST(LegacyDecoders, EncryptedDataIsDecipheredAsItIsRead) {
  const auto entries = LegacyFixtureEntries();
  for (uint16_t method : {1, 2, 5}) {
    auto it = std::find_if(entries.begin(), entries.end(), [&](const FixtureEntry& e) {
      return e.method == method && e.expected.size > 32768;  // more than one read chunk
    });
    ASSERT_NE(it, entries.end());
    TSeedKeyValues keys;
    SetupDataKeys(keys, DataSeed(), "secret");
    std::vector<uint8_t> enc = it->stored;
    TSeedKeyValues encKeys = keys;
    EncipherBuffer(encKeys, enc.data(), enc.size());
    const Decoded d = Decode(enc, method, it->expected.size, true, &keys);
    EXPECT_EQ(d.crc, it->expected.crc32) << "method " << method;
  }
}

TEST(LegacyDecoders, TestModeCountsTheSameCrcWithoutWriting) {
  for (const auto& e : LegacyFixtureEntries()) {
    DecoderComponent c;
    c.TestMode();
    TMemoryStream32 in;
    in.Write(e.stored.data(), static_cast<int64_t>(e.stored.size()));
    in.Seek(0, soFromBeginning);
    TEntryParams p;
    p.Method = e.method;
    p.CompressedSize = static_cast<int64_t>(e.stored.size());
    p.UncompressedSize = e.expected.size;
    c.ResetCrc();
    if (e.method == 1) Unshrink(c, in, nullptr, p);
    else Unreduce(c, in, nullptr, p);
    EXPECT_EQ(c.Crc32Value(), e.expected.crc32) << e.archive << " " << e.expected.name;
  }
}

// Damaged data ends with an error or a short result, never a crash, a hang,
// an unexpected exception or more bytes than the entry holds.
TEST(LegacyDecoders, TruncatedAndCorruptedDataStaysBounded) {
  std::mt19937 rng(1234);
  for (const auto& e : LegacyFixtureEntries()) {
    SCOPED_TRACE(e.archive + " " + e.expected.name);
    const size_t step = std::max<size_t>(1, e.stored.size() / 60);
    for (size_t n = 0; n < e.stored.size(); n += step) {
      std::vector<uint8_t> prefix(e.stored.begin(), e.stored.begin() + static_cast<std::ptrdiff_t>(n));
      const Decoded d = Decode(prefix, e.method, e.expected.size);
      EXPECT_LT(static_cast<int64_t>(d.bytes.size()), e.expected.size) << "prefix " << n;
    }
    for (int round = 0; round < 60; ++round) {
      std::vector<uint8_t> bad = e.stored;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
      const Decoded d = Decode(bad, e.method, e.expected.size);
      EXPECT_LE(static_cast<int64_t>(d.bytes.size()), e.expected.size);
      if (d.raised) {
        ASSERT_EQ(d.errors.size(), 1u);
        EXPECT_TRUE(d.errors[0] == E_BADBLOCK || d.errors[0] == E_STACKOVERFLOW) << d.errors[0];
      }
    }
  }
}

// ---- Shrink ----

TEST(Unshrink, CodeBeingDefinedIsPreviousStringPlusItsFirstByte) {
  // 'a', then 257 before anything defined it: "a" + "aa".
  EXPECT_EQ(Decode(Codes9({'a', 257}), 1, 3).Text(), "aaa");
}

TEST(Unshrink, PartialClearFreesLeavesOnlyAndReusesThemLowestFirst) {
  // 257 "ab", 258 "ba", 259 "abc" (a child of 257). The clear frees the
  // leaves 258 and 259; 257 loses its only child yet stays "ab". The next
  // new code must be 258 ("ca"), the one after it 259 ("abc" again).
  const auto stream = Codes9({'a', 'b', 257, 'c', 256, 2, 257, 258, 259});
  const std::string expected = std::string("a") + "b" + "ab" + "c" + "ab" + "ca" + "abc";
  const Decoded d = Decode(stream, 1, static_cast<int64_t>(expected.size()));
  EXPECT_FALSE(d.raised);
  EXPECT_EQ(d.Text(), expected);
}

TEST(Unshrink, CodeSizeGrowsOnRequest) {
  BitWriter w;
  w.Put('x', 9).Put(256, 9).Put(1, 9).Put('y', 10).Put(257, 10).Put(256, 10).Put(1, 10).Put(258, 11);
  // 257 "xy", 258 "yx"; the 11-bit 258 after the second increase reads right.
  EXPECT_EQ(Decode(w.bytes, 1, 7).Text(), "xyxyyx");
}

TEST(Unshrink, BadDataRaisesAfterWritingWhatWasDecoded) {
  BitWriter tooHigh;
  tooHigh.Put('q', 9);
  for (int i = 0; i < 5; ++i) tooHigh.Put(256, 9 + i).Put(1, 9 + i);
  tooHigh.Put(8192, 14);
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    int code;
    std::string before;
  } cases[] = {
      {"no first code", {0x41}, E_BADBLOCK, ""},
      {"unknown control code", Codes9({'a', 'b', 256, 3}), E_BADBLOCK, "ab"},
      {"code above 8191", tooHigh.bytes, E_BADBLOCK, "q"},
      // The first code (300) is no literal; a string built on it leads to a
      // free entry.
      {"chain through a free code", Codes9({300, 'a', 257}), E_BADBLOCK, ",a"},
      // After the clear, 257 is reused with itself as parent: a loop that
      // only the stack limit ends.
      {"endless chain", Codes9({'a', 'b', 257, 256, 2, 'x', 257}), E_STACKOVERFLOW, "ababx"},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.stream, 1, 100);
    EXPECT_TRUE(d.raised) << c.what;
    EXPECT_EQ(d.errors, std::vector<int>{c.code}) << c.what;
    EXPECT_EQ(d.Text(), c.before) << c.what;
  }
}

TEST(Unshrink, EmptyEntryNeedsNoCode) {
  const Decoded d = Decode({}, 1, 0);
  EXPECT_FALSE(d.raised);
  EXPECT_TRUE(d.bytes.empty());
}

// ---- Reduce ----

TEST(Unreduce, ExpanderEscapesCopiesAndZeroHistory) {
  struct Case {
    const char* what;
    std::vector<int> symbols;  // literal bytes fed to the expander (factor 1)
    std::string expected;
  } cases[] = {
      {"escaped DLE", {'a', 144, 0, 'b'}, std::string("a\x90") + "b"},
      // Length 1 + 3 from distance 2: the copy overlaps what it writes.
      {"overlapping copy", {'A', 'B', 144, 0x01, 1}, "ABABAB"},
      // Distance 10 from position 1 reaches 9 bytes before the file.
      {"before the start", {'A', 144, 0x02, 9}, std::string("A") + std::string(5, '\0')},
  };
  for (const Case& c : cases) {
    BitWriter w = ReducedHeader();
    for (int s : c.symbols) w.Put(static_cast<uint32_t>(s), 8);
    const Decoded d = Decode(w.bytes, 2, static_cast<int64_t>(c.expected.size()));
    EXPECT_FALSE(d.raised) << c.what;
    EXPECT_EQ(d.Text(), c.expected) << c.what;
  }
}

TEST(Unreduce, LengthMaskAndDistanceBitsFollowTheFactor) {
  std::string prefix;
  for (int i = 0; i < 600; ++i) prefix.push_back(static_cast<char>('a' + i % 23));
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    const int mask = 0xFF >> factor;
    BitWriter w = ReducedHeader();
    for (unsigned char ch : prefix) w.Put(ch, 8);
    std::string expected = prefix;
    // A long copy: the full mask takes an extra length byte; distance 1.
    w.Put(144, 8).Put(static_cast<uint32_t>(mask), 8).Put(10, 8).Put(0, 8);
    expected.append(static_cast<size_t>(mask + 13), expected.back());
    // A far copy: the bit above the mask is distance bit 8.
    w.Put(144, 8).Put(static_cast<uint32_t>((1 << (8 - factor)) | 2), 8).Put(3, 8);
    const size_t from = expected.size() - 260;
    expected += expected.substr(from, 5);
    const Decoded d = Decode(w.bytes, static_cast<uint16_t>(factor + 1), static_cast<int64_t>(expected.size()));
    EXPECT_FALSE(d.raised);
    EXPECT_EQ(d.Text(), expected);
  }
}

TEST(Unreduce, FollowerSetsAndAFullLastByte) {
  // After 'a' the set {'a','b','c'} takes 1 + 2 bits per byte; after 'c' the
  // set {'c'} takes 1 + 1 bits, so the last byte can hold four whole symbols.
  BitWriter w = ReducedHeader({{'a', "abc"}, {'c', "c"}});
  w.Put('a', 8);              // set 0 is empty: a plain byte
  w.Put(0, 1).Put(2, 2);      // 'c' from the set of 'a'
  w.Put(1, 1).Put('z', 8);    // a plain byte despite followers
  w.Put('c', 8);              // the set of 'z' is empty
  std::string expected = "aczc";
  while (w.Bits() % 8 != 0) {
    w.Put(0, 1).Put(0, 1);
    expected += 'c';
  }
  for (int i = 0; i < 4; ++i) w.Put(0, 1).Put(0, 1);
  expected += "cccc";
  const Decoded d = Decode(w.bytes, 2, static_cast<int64_t>(expected.size()));
  EXPECT_FALSE(d.raised);
  EXPECT_EQ(d.Text(), expected);
}

TEST(Unreduce, OutputStopsAtTheEntrySize) {
  BitWriter w = ReducedHeader();
  w.Put('k', 8).Put(144, 8).Put(0x7F, 8).Put(200, 8).Put(0, 8);  // 'k' then 330 more
  const Decoded d = Decode(w.bytes, 2, 50);
  EXPECT_FALSE(d.raised);
  EXPECT_EQ(d.Text(), std::string(50, 'k'));
}

TEST(Unreduce, InvalidSetsAndIndexesAreBadBlocks) {
  BitWriter tooMany;
  tooMany.Put(33, 6);
  BitWriter badIndex = ReducedHeader({{'a', "xyz"}});
  badIndex.Put('a', 8).Put(0, 1).Put(3, 2);
  for (const auto& stream : {tooMany.bytes, badIndex.bytes}) {
    const Decoded d = Decode(stream, 3, 10);
    EXPECT_TRUE(d.raised);
    EXPECT_EQ(d.errors, std::vector<int>{E_BADBLOCK});
  }
  EXPECT_EQ(Decode(badIndex.bytes, 3, 10).Text(), "a");
}

TEST(LegacyDecoders, ShortWriteEndsTheEntryWithOneReport) {
  const auto entries = LegacyFixtureEntries();
  for (uint16_t method : {1, 3}) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const FixtureEntry& e) { return e.method == method && e.expected.size > 32768; });
    ASSERT_NE(it, entries.end());
    DecoderComponent c;
    TMemoryStream32 in;
    in.Write(it->stored.data(), static_cast<int64_t>(it->stored.size()));
    in.Seek(0, soFromBeginning);
    SinkStream out;
    out.limit = 1000;
    TEntryParams p;
    p.Method = method;
    p.CompressedSize = static_cast<int64_t>(it->stored.size());
    p.UncompressedSize = it->expected.size;
    EXPECT_THROW(method == 1 ? Unshrink(c, in, &out, p) : Unreduce(c, in, &out, p), E_RAISE);
    EXPECT_EQ(c.errors, std::vector<int>{E_FWRITE});
    EXPECT_EQ(out.data.size(), 1000u);
  }
}

TEST(LegacyDecoders, CancelEndsTheInputWithoutAnError) {
  const auto entries = LegacyFixtureEntries();
  for (uint16_t method : {1, 4}) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const FixtureEntry& e) { return e.method == method && e.expected.size > 32768; });
    ASSERT_NE(it, entries.end());
    DecoderComponent c;
    c.OnProgress = [&c](TObject*, uint8_t, uint8_t) { c.SetCancelled(true); };
    TMemoryStream32 in;
    in.Write(it->stored.data(), static_cast<int64_t>(it->stored.size()));
    in.Seek(0, soFromBeginning);
    SinkStream out;
    TEntryParams p;
    p.Method = method;
    p.CompressedSize = static_cast<int64_t>(it->stored.size());
    p.UncompressedSize = it->expected.size;
    EXPECT_NO_THROW(method == 1 ? Unshrink(c, in, &out, p) : Unreduce(c, in, &out, p));
    EXPECT_GE(out.data.size(), 32768u);
    EXPECT_LT(out.data.size(), static_cast<size_t>(it->expected.size));
  }
}

}  // namespace
}  // namespace tessavar
