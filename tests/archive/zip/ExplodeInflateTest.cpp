#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "../../support/TestSupport.h"
#include "../../support/ZipTestUtil.h"
#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {
namespace {

class DecoderComponent : public TZipCommon {
 public:
  DecoderComponent() { arcType_ = atZip; }
};

struct Decoded {
  int result = 0;
  std::vector<uint8_t> data;
  uint32_t crc = 0;
};

enum class Method { Inflate, Inflate64, Explode };

Decoded Decode(Method m, const std::vector<uint8_t>& packed, int64_t size, uint16_t flags = 0) {
  DecoderComponent c;
  TMemoryStream32 in, out;
  if (!packed.empty()) in.Write(packed.data(), static_cast<int64_t>(packed.size()));
  in.SetPosition(0);
  TEntryParams e;
  e.GeneralPurpose = flags;
  e.Method = m == Method::Explode ? 6 : m == Method::Inflate64 ? 9 : 8;
  e.CompressedSize = static_cast<int64_t>(packed.size());
  e.UncompressedSize = size;
  c.ResetCrc();
  Decoded d;
  d.result = m == Method::Explode ? Explode(c, in, &out, e) : WindowInflate(c, in, &out, e, m == Method::Inflate64);
  d.crc = c.Crc32Value();
  d.data.resize(static_cast<size_t>(out.Size()));
  out.SetPosition(0);
  if (!d.data.empty()) out.Read(d.data.data(), static_cast<int64_t>(d.data.size()));
  // Never more than the entry holds, and never more input than it has.
  EXPECT_LE(static_cast<int64_t>(d.data.size()), std::max<int64_t>(size, 0));
  EXPECT_LE(in.Position(), static_cast<int64_t>(packed.size()));
  return d;
}

std::vector<uint8_t> ZlibRaw(const std::vector<uint8_t>& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
  std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

uint32_t Crc(const std::vector<uint8_t>& d) {
  return static_cast<uint32_t>(crc32(0, d.data(), static_cast<uInt>(d.size())));
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

std::vector<uint8_t> Text(size_t n) {
  static const char* words[] = {"archive ", "window ", "deflate ", "the ", "of ", "tree\n", "Huffman ", "a "};
  std::mt19937 rng(7);
  std::vector<uint8_t> v;
  while (v.size() < n) {
    const char* w = words[rng() % 8];
    v.insert(v.end(), w, w + std::strlen(w));
  }
  v.resize(n);
  return v;
}

// ---- Entries of the fixture archives ----

struct FixtureEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  std::vector<uint8_t> packed;
  int64_t size = 0;
};

std::vector<FixtureEntry> ReadEntries(const std::string& file) {
  const std::vector<uint8_t> z = test::ReadAll(test::zip::ZipFixtures() / file);
  std::vector<FixtureEntry> out;
  size_t end = std::string::npos;
  for (size_t i = z.size() >= 22 ? z.size() - 22 : 0; i + 1 > 0; --i) {
    if (z[i] == 'P' && z[i + 1] == 'K' && z[i + 2] == 5 && z[i + 3] == 6) {
      end = i;
      break;
    }
  }
  if (end == std::string::npos) {
    ADD_FAILURE() << file << ": no end record";
    return out;
  }
  const TEndOfCentralDir eocd = TEndOfCentralDir::Parse(z.data() + end);
  size_t p = eocd.CentralDirOffset;
  for (int i = 0; i < eocd.TotalEntries && p + TCentralFileHeader::kSize <= z.size(); ++i) {
    const TCentralFileHeader ch = TCentralFileHeader::Parse(z.data() + p);
    FixtureEntry e;
    e.name.assign(reinterpret_cast<const char*>(z.data() + p + TCentralFileHeader::kSize), ch.FileNameLength);
    e.flags = ch.GeneralPurpose;
    e.method = ch.Method;
    e.size = ch.UncompressedSize;
    const TLocalFileHeader lh = TLocalFileHeader::Parse(z.data() + ch.RelativeOffset);
    const size_t data = ch.RelativeOffset + TLocalFileHeader::kSize + lh.FileNameLength + lh.ExtraFieldLength;
    e.packed.assign(z.begin() + static_cast<std::ptrdiff_t>(data),
                    z.begin() + static_cast<std::ptrdiff_t>(data + ch.CompressedSize));
    out.push_back(std::move(e));
    p += TCentralFileHeader::kSize + ch.FileNameLength + ch.ExtraFieldLength + ch.FileCommentLength;
  }
  return out;
}

// Checks every entry of `method` in the fixture against the manifest;
// returns how many were checked.
int CheckFixture(const std::string& file, uint16_t method, Method decoder) {
  int checked = 0;
  for (const auto& archive : test::zip::LoadZipManifest()) {
    if (archive.file != file) continue;
    const std::vector<FixtureEntry> entries = ReadEntries(file);
    for (const auto& m : archive.entries) {
      if (m.method != method) continue;
      const auto it =
          std::find_if(entries.begin(), entries.end(), [&](const FixtureEntry& e) { return e.name == m.name; });
      if (it == entries.end()) {
        ADD_FAILURE() << file << ": " << m.name << " not in the directory";
        continue;
      }
      const Decoded d = Decode(decoder, it->packed, it->size, it->flags);
      EXPECT_EQ(d.result, kDecodeOk) << file << ": " << m.name;
      EXPECT_EQ(static_cast<int64_t>(d.data.size()), m.size) << file << ": " << m.name;
      EXPECT_EQ(d.crc, m.crc32) << file << ": " << m.name;
      EXPECT_EQ(Crc(d.data), m.crc32) << file << ": " << m.name;
      ++checked;
    }
  }
  return checked;
}

// ---- Hand-made deflate streams ----

class BitWriter {
 public:
  void Put(uint32_t value, int n) {
    for (int i = 0; i < n; ++i) PutBit((value >> i) & 1);
  }
  // Prefix codes go out most significant bit first.
  void Code(uint32_t code, int n) {
    for (int i = n - 1; i >= 0; --i) PutBit((code >> i) & 1);
  }
  // A symbol of the fixed literal/length code.
  void Fixed(int sym) {
    if (sym < 144) Code(0x30 + sym, 8);
    else if (sym < 256) Code(0x190 + sym - 144, 9);
    else if (sym < 280) Code(sym - 256, 7);
    else Code(0xC0 + sym - 280, 8);
  }
  void Align() {
    while (bit_ != 0) PutBit(0);
  }
  void Bytes(const std::vector<uint8_t>& b) {
    Align();
    out_.insert(out_.end(), b.begin(), b.end());
  }
  std::vector<uint8_t> Done() {
    Align();
    return out_;
  }

 private:
  void PutBit(uint32_t b) {
    if (bit_ == 0) out_.push_back(0);
    out_.back() |= static_cast<uint8_t>(b << bit_);
    bit_ = (bit_ + 1) & 7;
  }
  std::vector<uint8_t> out_;
  int bit_ = 0;
};

void StoredBlock(BitWriter& w, const std::vector<uint8_t>& data, bool final, bool badNlen = false) {
  w.Put(final ? 1 : 0, 1);
  w.Put(0, 2);
  w.Align();
  const uint32_t len = static_cast<uint32_t>(data.size());
  w.Put(len, 16);
  w.Put((len ^ 0xFFFFu) ^ (badNlen ? 1u : 0u), 16);
  w.Bytes(data);
}

// ---- Inflate ----

TEST(WindowInflate, MatchesZlibAcrossLevelsAndStrategies) {
  struct Case {
    const char* what;
    std::vector<uint8_t> data;
    int level;
    int strategy;
  };
  const std::vector<uint8_t> text = Text(300000);
  const std::vector<uint8_t> random = RandomBytes(200000, 1);
  std::vector<uint8_t> runs(150000, 'x');
  for (size_t i = 0; i < runs.size(); i += 997) runs[i] = static_cast<uint8_t>(i);
  const Case cases[] = {
      {"text level 6", text, 6, Z_DEFAULT_STRATEGY},
      {"text level 9", text, 9, Z_DEFAULT_STRATEGY},
      {"text level 1", text, 1, Z_DEFAULT_STRATEGY},
      {"text fixed codes", text, 6, Z_FIXED},
      {"text huffman only", text, 6, Z_HUFFMAN_ONLY},
      {"runs rle", runs, 6, Z_RLE},
      {"runs level 9", runs, 9, Z_DEFAULT_STRATEGY},
      {"random level 6", random, 6, Z_DEFAULT_STRATEGY},
      {"text stored", text, 0, Z_DEFAULT_STRATEGY},
      {"empty", {}, 6, Z_DEFAULT_STRATEGY},
      {"one byte", {'q'}, 9, Z_DEFAULT_STRATEGY},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> packed = ZlibRaw(c.data, c.level, c.strategy);
    const Decoded d = Decode(Method::Inflate, packed, static_cast<int64_t>(c.data.size()));
    EXPECT_EQ(d.result, kDecodeOk) << c.what;
    EXPECT_TRUE(d.data == c.data) << c.what;
    EXPECT_EQ(d.crc, Crc(c.data)) << c.what;
  }
}

TEST(WindowInflate, Deflate64FixtureIsByteExact) {
  EXPECT_EQ(CheckFixture("7z-deflate64.zip", 9, Method::Inflate64), 6);
}

TEST(WindowInflate, Deflate64LongMatchAndFarDistance) {
  // 40000 stored bytes, then one match 32769 + 1231 back of 3 + 65535 bytes.
  const std::vector<uint8_t> head = RandomBytes(40000, 2);
  BitWriter w;
  StoredBlock(w, head, false);
  w.Put(1, 1);
  w.Put(1, 2);
  w.Fixed(285);
  w.Put(65535, 16);
  w.Code(30, 5);
  w.Put(1231, 14);
  w.Fixed(256);
  const std::vector<uint8_t> packed = w.Done();

  std::vector<uint8_t> expected = head;
  size_t src = expected.size() - (32769 + 1231);
  for (int i = 0; i < 3 + 65535; ++i) expected.push_back(expected[src++]);

  const Decoded d64 = Decode(Method::Inflate64, packed, static_cast<int64_t>(expected.size()));
  EXPECT_EQ(d64.result, kDecodeOk);
  EXPECT_TRUE(d64.data == expected);
  EXPECT_EQ(d64.crc, Crc(expected));
  // In plain deflate the same bits mean length 258 and an invalid distance code.
  EXPECT_EQ(Decode(Method::Inflate, packed, static_cast<int64_t>(expected.size())).result, kDecodeBadData);

  // Length code 285 itself is 258 in plain mode and 3 + extra in Deflate64.
  BitWriter v;
  v.Put(1, 1);
  v.Put(1, 2);
  v.Fixed('z');
  v.Fixed(285);
  v.Put(5, 16);  // read as extra bits only by Deflate64
  v.Code(0, 5);
  v.Fixed(256);
  const std::vector<uint8_t> p2 = v.Done();
  const Decoded d = Decode(Method::Inflate64, p2, 9);
  EXPECT_EQ(d.result, kDecodeOk);
  EXPECT_EQ(d.data, std::vector<uint8_t>(9, 'z'));
}

TEST(WindowInflate, InvalidStreamsEndWithTheirResult) {
  struct Case {
    const char* what;
    std::vector<uint8_t> packed;
    int64_t size;
    int result;
  };
  auto fixed = [](auto body) {
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    body(w);
    return w.Done();
  };
  auto dynamicHeader = [](BitWriter& w, int hlit, int hdist, const std::vector<int>& clens) {
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(static_cast<uint32_t>(hlit - 257), 5);
    w.Put(static_cast<uint32_t>(hdist - 1), 5);
    w.Put(static_cast<uint32_t>(clens.size() - 4), 4);
    for (int l : clens) w.Put(static_cast<uint32_t>(l), 3);
  };
  std::vector<Case> cases;
  {
    BitWriter w;
    StoredBlock(w, {1, 2, 3}, true, true);
    cases.push_back({"stored NLEN not the complement", w.Done(), 3, kDecodeBadData});
  }
  cases.push_back({"block type 3", {0x07, 0x00}, 0, kDecodeBadData});
  cases.push_back({"distance before the first byte", fixed([](BitWriter& w) {
                     w.Fixed('a');
                     w.Fixed(257);
                     w.Code(1, 5);  // distance 2, one byte written
                     w.Fixed(256);
                   }),
                   4, kDecodeBadData});
  cases.push_back({"literal/length symbol 286", fixed([](BitWriter& w) { w.Fixed(286); }), 10, kDecodeBadData});
  cases.push_back({"distance code 30 in plain mode", fixed([](BitWriter& w) {
                     for (int i = 0; i < 4; ++i) w.Fixed('a');
                     w.Fixed(257);
                     w.Code(30, 5);
                     w.Put(0, 14);
                   }),
                   10, kDecodeBadData});
  cases.push_back({"more output than the entry holds", fixed([](BitWriter& w) {
                     w.Fixed('a');
                     w.Fixed(258);
                     w.Code(0, 5);
                     w.Fixed(256);
                   }),
                   3, kDecodeBadData});
  {
    // Code-length code: symbol 18 alone at length 1, then a zero run of
    // 138 for 257 + 1 codes, another 138 overruns the count.
    BitWriter w;
    dynamicHeader(w, 257, 1, {0, 0, 1, 1});  // 18 (code 1) and 0 (code 0) at length 1
    w.Code(1, 1);
    w.Put(127, 7);
    w.Code(1, 1);
    w.Put(127, 7);
    cases.push_back({"repeat past the code counts", w.Done(), 10, 1});
  }
  {
    BitWriter w;
    dynamicHeader(w, 257, 1, {1, 1, 1, 1});  // four codes of length 1
    cases.push_back({"over-subscribed code-length code", w.Done(), 10, kDecodeBadData});
  }
  {
    BitWriter w;
    dynamicHeader(w, 257, 1, {1, 0, 0, 1});  // 16 (code 1) and 0 (code 0) at length 1
    w.Code(1, 1);  // 16 with no length before it
    w.Put(0, 2);
    cases.push_back({"repeat of no previous length", w.Done(), 10, kDecodeBadData});
  }
  {
    // All literal/length codes zero: no end-of-block code.
    BitWriter w;
    dynamicHeader(w, 257, 1, {0, 0, 1, 1});
    w.Code(1, 1);
    w.Put(127, 7);  // 138 zeros
    w.Code(1, 1);
    w.Put(109, 7);  // 120 zeros: 258 in all
    cases.push_back({"no end-of-block code", w.Done(), 10, kDecodeBadData});
  }
  cases.push_back({"nothing at all", {}, 10, kDecodeInputExhausted});
  {
    BitWriter w;
    StoredBlock(w, std::vector<uint8_t>(100, 9), true);
    std::vector<uint8_t> p = w.Done();
    p.resize(p.size() - 10);
    cases.push_back({"stored block cut short", p, 100, kDecodeInputExhausted});
  }
  for (const Case& c : cases) {
    for (const Method m : {Method::Inflate, Method::Inflate64}) {
      EXPECT_EQ(Decode(m, c.packed, c.size).result, c.result) << c.what;
    }
  }
}

// The input is deciphered chunk by chunk as it is read, across chunk ends.
TEST(WindowInflate, DeciphersEncryptedEntries) {
  int checked = 0;
  for (const auto& archive : test::zip::LoadZipManifest()) {
    if (archive.file != "infozip-zipcrypto-deflate.zip" && archive.file != "7z-zipcrypto.zip") continue;
    for (const auto& e : ReadEntries(archive.file)) {
      if (e.method != 8 || !(e.flags & 1)) continue;
      const auto m = std::find_if(archive.entries.begin(), archive.entries.end(),
                                  [&](const test::zip::ManifestEntry& x) { return x.name == e.name; });
      ASSERT_NE(m, archive.entries.end());
      DecoderComponent c;
      SetupDataKeys(c.DataKeys(), kDefaultDataSeed, archive.password.value_or(""));
      std::vector<uint8_t> header(e.packed.begin(), e.packed.begin() + 12);
      DecipherBuffer(c.DataKeys(), header.data(), header.size());
      TMemoryStream32 in, out;
      in.Write(e.packed.data() + 12, static_cast<int64_t>(e.packed.size() - 12));
      in.SetPosition(0);
      TEntryParams p;
      p.GeneralPurpose = e.flags;
      p.CompressedSize = static_cast<int64_t>(e.packed.size() - 12);
      p.UncompressedSize = e.size;
      p.Decrypt = true;
      EXPECT_EQ(WindowInflate(c, in, &out, p, false), kDecodeOk) << archive.file << ": " << e.name;
      EXPECT_EQ(out.Size(), m->size) << archive.file << ": " << e.name;
      EXPECT_EQ(c.Crc32Value(), m->crc32) << archive.file << ": " << e.name;
      ++checked;
    }
  }
  EXPECT_GE(checked, 3);
}

// ---- Explode ----

TEST(Explode, ImplodeFixturesOfEveryVariantAreByteExact) {
  const struct {
    const char* file;
    int entries;
  } cases[] = {
      {"pkzip-implode-4k-2trees.zip", 1},  {"pkzip-implode-8k-3trees.zip", 1}, {"hwzip-implode-4k-2trees.zip", 2},
      {"hwzip-implode-4k-3trees.zip", 2},  {"hwzip-implode-8k-2trees.zip", 2}, {"hwzip-implode-8k-3trees.zip", 2},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckFixture(c.file, 6, Method::Explode), c.entries) << c.file;
}

// The variant comes from the entry's flags, not from the data: decoding an
// entry under the wrong flags must fail or differ, never pass.
TEST(Explode, FlagsSelectDictionaryAndTrees) {
  for (const auto& e : ReadEntries("hwzip-implode-8k-3trees.zip")) {
    if (e.method != 6) continue;
    const Decoded right = Decode(Method::Explode, e.packed, e.size, e.flags);
    ASSERT_EQ(right.result, kDecodeOk);
    for (const uint16_t wrong : {uint16_t{0}, uint16_t{2}, uint16_t{4}}) {
      const Decoded d = Decode(Method::Explode, e.packed, e.size, wrong);
      EXPECT_TRUE(d.result != kDecodeOk || d.data != right.data) << e.name << " flags " << wrong;
    }
  }
}

TEST(Explode, BadTreeListsAreInvalid) {
  // Two-tree entry, so the length tree (64 codes) comes first: a list of 65
  // codes, one of 48, and 64 codes of length 1.
  const std::vector<uint8_t> tooMany = {4, 0xF5, 0xF5, 0xF5, 0xF5, 0x05};
  const std::vector<uint8_t> tooFew = {2, 0xF5, 0xF5, 0xF5};
  const std::vector<uint8_t> overSubscribed = {3, 0xF0, 0xF0, 0xF0, 0xF0};  // 64 codes of length 1
  for (const auto& p : {tooMany, tooFew, overSubscribed}) EXPECT_EQ(Decode(Method::Explode, p, 10).result, kDecodeBadData);
}

// ---- Damaged input, both decoders ----

TEST(DamagedInput, PrefixesAndFlipsNeverOverrunOrSucceedWrongly) {
  struct Sample {
    Method m;
    FixtureEntry e;
  };
  std::vector<Sample> samples;
  for (const auto& e : ReadEntries("hwzip-implode-4k-3trees.zip")) {
    if (e.method == 6) samples.push_back({Method::Explode, e});
  }
  for (const auto& e : ReadEntries("hwzip-implode-8k-2trees.zip")) {
    if (e.method == 6) samples.push_back({Method::Explode, e});
  }
  for (const auto& e : ReadEntries("7z-deflate64.zip")) {
    if (e.method == 9 && e.name == "text/lines.txt") samples.push_back({Method::Inflate64, e});
  }
  {
    FixtureEntry e;
    const std::vector<uint8_t> text = Text(70000);
    e.packed = ZlibRaw(text, 9, Z_DEFAULT_STRATEGY);
    e.size = static_cast<int64_t>(text.size());
    samples.push_back({Method::Inflate, e});
  }
  ASSERT_GE(samples.size(), 4u);
  std::mt19937 rng(99);
  for (const Sample& s : samples) {
    const size_t n = s.e.packed.size();
    const size_t step = std::max<size_t>(1, n / 60);
    for (size_t len = 0; len < n; len += step) {
      const std::vector<uint8_t> prefix(s.e.packed.begin(), s.e.packed.begin() + static_cast<std::ptrdiff_t>(len));
      const Decoded d = Decode(s.m, prefix, s.e.size, s.e.flags);
      if (s.m != Method::Explode) {
        EXPECT_NE(d.result, kDecodeOk) << s.e.name << " prefix " << len;
      }
    }
    for (int i = 0; i < 150; ++i) {
      std::vector<uint8_t> p = s.e.packed;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) p[rng() % n] ^= static_cast<uint8_t>(1u << (rng() % 8));
      Decode(s.m, p, s.e.size, s.e.flags);
    }
  }
}

// ---- Write failure and cancel ----

class RefusingStream : public TStream32 {
 public:
  void SetSize(int64_t) override {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t, TSeekOrigin) override { return 0; }
};

TEST(DecoderResults, WriteFailureAndCancel) {
  const std::vector<uint8_t> text = Text(50000);
  const std::vector<uint8_t> deflated = ZlibRaw(text, 6, Z_DEFAULT_STRATEGY);
  FixtureEntry imploded;
  for (const auto& e : ReadEntries("pkzip-implode-8k-3trees.zip")) {
    if (e.method == 6) imploded = e;
  }
  ASSERT_FALSE(imploded.packed.empty());
  for (const bool cancel : {false, true}) {
    for (const Method m : {Method::Inflate, Method::Inflate64, Method::Explode}) {
      DecoderComponent c;
      c.SetCancelled(cancel);
      const std::vector<uint8_t>& packed = m == Method::Explode ? imploded.packed : deflated;
      TMemoryStream32 in;
      in.Write(packed.data(), static_cast<int64_t>(packed.size()));
      in.SetPosition(0);
      RefusingStream out;
      TEntryParams e;
      e.GeneralPurpose = m == Method::Explode ? imploded.flags : 0;
      e.CompressedSize = static_cast<int64_t>(packed.size());
      e.UncompressedSize = m == Method::Explode ? imploded.size : static_cast<int64_t>(text.size());
      const int r = m == Method::Explode ? Explode(c, in, &out, e) : WindowInflate(c, in, &out, e, m == Method::Inflate64);
      EXPECT_EQ(r, cancel ? kDecodeCancelled : kDecodeWriteFailed) << static_cast<int>(m);
    }
  }
}

}  // namespace
}  // namespace tessavar
