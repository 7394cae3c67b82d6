#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Application.h"

namespace tessavar {
namespace {

using Bytes = std::vector<uint8_t>;

// Text-like runs (for matches) mixed with noise (for literals), deterministic.
Bytes Sample(size_t n, uint32_t seed = 1) {
  static const char* const words[] = {"archive ", "stream ", "deflate ", "entry ", "header ", "cipher "};
  Bytes out;
  out.reserve(n);
  uint32_t x = seed;
  auto next = [&] { return x = x * 1103515245u + 12345u; };
  while (out.size() < n) {
    if ((next() >> 16) % 4 == 0) {
      for (int i = 0; i < 16 && out.size() < n; ++i) out.push_back(static_cast<uint8_t>(next() >> 24));
    } else {
      for (const char* w = words[(next() >> 16) % 6]; *w && out.size() < n; ++w) out.push_back(static_cast<uint8_t>(*w));
    }
  }
  return out;
}

Bytes RawDeflate(const Bytes& in) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, in.size()));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

uint32_t ZCrc(const Bytes& b) { return static_cast<uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size()))); }

void Fill(TMemoryStream32& m, const Bytes& b) {
  m.Clear();
  m.Write(b.data(), static_cast<int64_t>(b.size()));
  m.SetPosition(0);
}

Bytes Content(TCustomMemoryStream32& m) { return Bytes(m.Memory(), m.Memory() + m.Size()); }

// A memory stream that records how it is read.
class ProbeStream : public TStream32 {
 public:
  explicit ProbeStream(const Bytes& b) { Fill(mem, b); }
  int64_t Read(void* buffer, int64_t count) override {
    ++reads;
    maxAsk = std::max(maxAsk, count);
    const int64_t n = mem.Read(buffer, count);
    maxPos = std::max(maxPos, mem.Position());
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override { return mem.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return mem.Seek(offset, origin); }
  void SetSize(int64_t size) override { mem.SetSize(size); }

  TMemoryStream32 mem;
  int reads = 0;
  int64_t maxAsk = 0;
  int64_t maxPos = 0;
};

// Restores the message hook when a test leaves early.
struct HookGuard {
  std::function<void()> old;
  ~HookGuard() { platform::SetProcessMessagesHook(old); }
};

// ---------------------------------------------------------------- memory

TEST(MemoryStream, GrowsInSteps_Of8192AndReleasesAtZero) {
  TMemoryStream32 m;
  EXPECT_EQ(m.Write("a", 1), 1);
  EXPECT_EQ(m.Capacity(), 8192);
  Bytes block(8192, 7);
  m.Write(block.data(), 8192);
  EXPECT_EQ(m.Size(), 8193);
  EXPECT_EQ(m.Capacity(), 16384);
  m.SetSize(100000);
  EXPECT_EQ(m.Capacity(), 106496);  // 13 x 8192
  EXPECT_EQ(m.Memory()[8193], 0);   // grown bytes read as zeros
  m.SetSize(0);
  EXPECT_EQ(m.Capacity(), 0);
  EXPECT_EQ(m.Memory(), nullptr);
  EXPECT_EQ(m.Position(), 0);
}

TEST(MemoryStream, SeekReadWriteAndSetSize) {
  TMemoryStream32 m;
  m.Write("hello", 5);
  EXPECT_EQ(m.Seek(10, soFromBeginning), 10);
  m.Write("X", 1);
  EXPECT_EQ(Content(m), Cat(Text("hello"), Cat(Bytes(5, 0), Text("X"))));  // the gap is zeros

  EXPECT_EQ(m.Seek(-3, soFromEnd), 8);
  char buf[16] = {};
  EXPECT_EQ(m.Read(buf, sizeof buf), 3);
  EXPECT_EQ(m.Read(buf, sizeof buf), 0);
  EXPECT_EQ(m.Seek(-2, soFromCurrent), 9);

  // No range checks, but nothing outside the block is touched.
  EXPECT_EQ(m.Seek(-20, soFromBeginning), -20);
  EXPECT_EQ(m.Read(buf, 4), 0);
  EXPECT_EQ(m.Write("zz", 2), 0);
  EXPECT_EQ(m.Seek(1000, soFromBeginning), 1000);
  EXPECT_EQ(m.Read(buf, 4), 0);

  m.SetSize(4);  // below the position: the position moves to the end
  EXPECT_EQ(m.Position(), 4);
  EXPECT_EQ(Content(m), Text("hell"));
}

TEST(MemoryStream, SizesA32BitStreamCannotHoldFailCleanly) {
  TMemoryStream32 m;
  m.Write("abc", 3);
  try {
    m.SetSize(int64_t{1} << 33);
    FAIL() << "no error";
  } catch (const EStreamError& e) {
    EXPECT_STREQ(e.what(), "Out of memory while expanding memory stream");
  }
  EXPECT_THROW(m.SetSize(TMemoryStream32::kMaxSize + 1), EStreamError);
  EXPECT_THROW(m.SetSize(-1), EStreamError);
  m.Seek(TMemoryStream32::kMaxSize - 10, soFromBeginning);
  EXPECT_THROW(m.Write("0123456789abcdef", 16), EStreamError);
  m.Seek(INT64_MAX, soFromBeginning);
  EXPECT_THROW(m.Write("x", 1), EStreamError);
  EXPECT_EQ(m.Seek(INT64_MAX, soFromCurrent), INT64_MAX);  // saturates, no overflow
  // The stream is as it was.
  EXPECT_EQ(Content(m), Text("abc"));
  EXPECT_EQ(m.Capacity(), 8192);
}

TEST(MemoryStream, WriteFromItsOwnBlockSurvivesGrowth) {
  TMemoryStream32 m;
  Bytes b = Sample(8000);
  Fill(m, b);
  m.Seek(0, soFromEnd);
  m.Write(m.Memory(), m.Size());  // grows past the capacity while reading from it
  EXPECT_EQ(Content(m), Cat(b, b));
}

TEST(MemoryStream, LoadsFromStreamsAndFiles) {
  test::TempFolder tmp;
  const Bytes b = Sample(20000);
  test::WriteAll(tmp / "f.bin", b);
  TMemoryStream32 src;
  Fill(src, b);
  src.Seek(500, soFromBeginning);
  TMemoryStream32 m;
  m.LoadFromStream(src);  // from the start, whatever the position
  EXPECT_EQ(Content(m), b);

  TMemoryStream32 f;
  EXPECT_TRUE(f.LoadFromFile((tmp / "f.bin").string()));
  EXPECT_EQ(Content(f), b);
  EXPECT_FALSE(f.LoadFromFile((tmp / "missing").string()));
  EXPECT_EQ(Content(f), b);
}

TEST(MainCommentStream, ReadsWholeFromStartAndTracksModified) {
  TMainCommentStream c;
  EXPECT_FALSE(c.Modified());
  c.Write("comment", 7);
  EXPECT_TRUE(c.Modified());
  c.Seek(4, soFromBeginning);
  char buf[16] = {};
  EXPECT_EQ(c.Read(buf, sizeof buf), 7);
  EXPECT_EQ(std::string(buf, 7), "comment");
  EXPECT_EQ(c.Position(), 0);
  EXPECT_EQ(c.Read(buf, 3), 3);  // never more than the buffer the caller names

  TMemoryStream32 src;
  Fill(src, Text("ARCHIVE...the comment"));
  src.Seek(10, soFromBeginning);
  EXPECT_EQ(c.CopyFrom(src, 11), 11);
  EXPECT_EQ(Content(c), Text("the comment"));
  EXPECT_EQ(c.ArchivePosition(), 10);
  EXPECT_FALSE(c.Modified());
  EXPECT_EQ(c.Position(), 0);

  c.LoadFromStream(src);  // the comment is filled only by CopyFrom
  EXPECT_EQ(Content(c), Text("the comment"));
}

// ---------------------------------------------------------------- CopyFrom

TEST(CopyFrom, CountZeroCopiesAllFromTheStartIn128KiBChunks) {
  const Bytes b = Sample(300000);
  ProbeStream src(b);
  src.Seek(1234, soFromBeginning);
  TMemoryStream32 dst;
  EXPECT_EQ(dst.CopyFrom(src, 0), 300000);
  EXPECT_EQ(Content(dst), b);
  EXPECT_EQ(src.reads, 3);
  EXPECT_EQ(src.maxAsk, 131072);
}

TEST(CopyFrom, CancelStopsBeforeTheNextChunk) {
  const Bytes b = Sample(600000);
  TMemoryStream32 src;
  Fill(src, b);
  TMemoryStream32 dst;
  bool cancel = false;
  dst.CancelFlag = &cancel;
  int calls = 0;
  HookGuard guard{platform::SetProcessMessagesHook([&] {
    if (++calls == 3) cancel = true;
  })};
  EXPECT_EQ(dst.CopyFrom(src, 0), 2 * 131072);  // the chunks copied stay counted
  EXPECT_EQ(dst.Size(), 2 * 131072);
}

// ---------------------------------------------------------------- store

TEST(StoreStream, StoresWithCrcProgressAndRemaining) {
  test::TempFolder tmp;
  const Bytes b = Sample(250000);
  test::WriteAll(tmp / "src.bin", b);
  for (int kind : {32, 16}) {
    TFileStream32 src((tmp / "src.bin").string(), fmShareDenyNone);
    TMemoryStream32 target;
    target.Write("HDR", 3);
    int64_t remaining = 1000000;
    CoderParams p;
    p.Remaining = &remaining;
    TStoreStream store(target, p, kind);
    std::vector<int64_t> positions;
    store.ProgressHandler = [&](TStream32* s) { positions.push_back(s->Position()); };
    EXPECT_EQ(store.StoreFrom(src, 0), 250000);
    EXPECT_EQ(Content(target), Cat(Text("HDR"), b));
    if (kind == 32) EXPECT_EQ(store.Crc() ^ 0xFFFFFFFFu, ZCrc(b));
    else EXPECT_EQ(store.Crc(), Crc16Update(b.data(), b.size(), 0));
    EXPECT_EQ(remaining, 1000000 - 250000);
    EXPECT_EQ(positions, (std::vector<int64_t>{102400, 204800, 250000}));  // the source's position
    EXPECT_EQ(store.Read(nullptr, 1), -1);
    EXPECT_EQ(store.Seek(0, soFromCurrent), 0);
    EXPECT_EQ(store.Seek(4, soFromBeginning), -1);
  }
}

TEST(StoreStream, EnciphersWithTheDataKeysAndComputesNoCrc) {
  const Bytes b = Sample(300000);
  TSeedKeyValues keys;
  SetupDataKeys(keys, kDefaultDataSeed, "secret");
  const TSeedKeyValues start = keys;
  TMemoryStream32 src, target;
  Fill(src, b);
  CoderParams p;
  p.Options = 0x0400;
  p.Keys = &keys;
  p.Crc = 0xCAFEBABE;  // computed in the pass before
  TStoreStream store(target, p, 32);
  EXPECT_EQ(store.StoreFrom(src, 0), 300000);
  EXPECT_EQ(store.Crc(), 0xCAFEBABE);
  EXPECT_EQ(Content(src), b);  // the caller's bytes are not enciphered in place

  Bytes stored = Content(target);
  ASSERT_EQ(stored.size(), b.size());
  EXPECT_NE(stored, b);
  TSeedKeyValues dk = start;
  DecipherBuffer(dk, stored.data(), stored.size());
  EXPECT_EQ(stored, b);
  EXPECT_EQ(dk, keys);  // one key stream over all the chunks

  // Cipher 4 without keys never writes plain data.
  p.Keys = nullptr;
  TMemoryStream32 other;
  TStoreStream noKeys(other, p, 32);
  EXPECT_EQ(noKeys.Write(b.data(), 10), 0);
  EXPECT_EQ(other.Size(), 0);
}

TEST(StoreStream, EmptySourceStoresNothingAndCancelStops) {
  TMemoryStream32 empty, target;
  CoderParams p;
  TStoreStream store(target, p, 32);
  EXPECT_EQ(store.StoreFrom(empty, 0), 0);
  EXPECT_EQ(target.Size(), 0);
  EXPECT_EQ(store.Crc() ^ 0xFFFFFFFFu, 0u);

  bool cancel = false;
  p.CancelFlag = &cancel;
  TMemoryStream32 src, target2;
  Fill(src, Sample(500000));
  TStoreStream s2(target2, p, 32);
  s2.ProgressHandler = [&](TStream32*) { cancel = true; };
  EXPECT_EQ(s2.StoreFrom(src, 0), 102400);
}

TEST(StoreStream, WritesWhereItsLastTransferEndedOnASharedTarget) {
  TMemoryStream32 target;
  target.Write("0123456789", 10);
  target.Seek(4, soFromBeginning);
  CoderParams p;
  TStoreStream store(target, p, 32);
  target.Seek(0, soFromEnd);  // someone else used the target meanwhile
  store.Write("ab", 2);
  target.Seek(1, soFromBeginning);
  store.Write("cd", 2);
  EXPECT_EQ(Content(target), Text("0123abcd89"));
  EXPECT_EQ(store.StreamPos(), 8);
}

// ---------------------------------------------------------------- CRC

TEST(CalcStreamCRC, ComputesWithoutWritingAndCountsRemainingWithAHandler) {
  const Bytes b = Sample(200000);
  TMemoryStream32 src;
  Fill(src, b);
  int64_t remaining = 500000;
  CoderParams p;
  p.Remaining = &remaining;
  int calls = 0;
  bool cancel = false;
  {
    TCalcStreamCRC calc(src, [&](TStream32* s) { EXPECT_EQ(s, &src); ++calls; }, &cancel, p, 32, 0);
    EXPECT_EQ(calc.Crc() ^ 0xFFFFFFFFu, ZCrc(b));
    EXPECT_EQ(calc.Copied(), 200000);
    EXPECT_EQ(calc.Read(nullptr, 1), -1);
    EXPECT_EQ(calc.Seek(0, soFromCurrent), -1);
  }
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(remaining, 300000);

  TCalcStreamCRC crc16(src, nullptr, nullptr, p, 16, 0);
  EXPECT_EQ(crc16.Crc(), Crc16Update(b.data(), b.size(), 0));
  EXPECT_EQ(remaining, 300000);  // without a handler nothing is counted

  src.Seek(77, soFromBeginning);
  EXPECT_EQ(CalcFileCrc(src, nullptr, nullptr, p) ^ 0xFFFFFFFFu, ZCrc(b));
  EXPECT_EQ(src.Position(), 0);
}

// ---------------------------------------------------------------- decompress

struct DecodeRun {
  Bytes out;
  int64_t last = 0;
  int calls = 0;
};

// Reads until the stream gives 0 or less, with a cap that turns a hang into a failure.
DecodeRun ReadAllOf(TDecompressStream& d, int64_t piece, int cap = 100000) {
  DecodeRun r;
  Bytes buf(static_cast<size_t>(piece));
  while (r.calls++ < cap) {
    r.last = d.Read(buf.data(), piece);
    if (r.last <= 0) break;
    EXPECT_LE(r.last, piece);
    r.out.insert(r.out.end(), buf.begin(), buf.begin() + r.last);
  }
  EXPECT_LT(r.calls, cap) << "no end";
  return r;
}

TEST(DecompressStream, InflatesAndGivesUnreadInputBack) {
  const Bytes data = Sample(300000);
  const Bytes z = RawDeflate(data);
  ASSERT_GT(z.size(), static_cast<size_t>(TCustomStream::kBufferSize));  // more than one input chunk
  ProbeStream src(Cat(Cat(Text("JUNK..."), z), Text("TRAILER")));
  src.Seek(7, soFromBeginning);
  {
    TDecompressStream d(src, -15, 0);
    const DecodeRun r = ReadAllOf(d, 10000);
    EXPECT_EQ(r.out, data);
    EXPECT_EQ(r.last, 0);
    EXPECT_TRUE(d.StreamEnd());
    EXPECT_EQ(d.TotalIn(), static_cast<int64_t>(z.size()));
    EXPECT_EQ(d.Position(), 300000);
    EXPECT_LE(src.maxAsk, 10000);
    src.Seek(0, soFromBeginning);  // moved by someone else; the stream does not care
  }
  // The bytes read past the end of the deflate data are given back.
  EXPECT_EQ(src.Position(), static_cast<int64_t>(7 + z.size()));
  char t[7];
  EXPECT_EQ(src.Read(t, 7), 7);
  EXPECT_EQ(std::string(t, 7), "TRAILER");
}

TEST(DecompressStream, DecodeStaysWithinItsOutputAndInputLimits) {
  const Bytes data = Sample(100000);
  const Bytes z = RawDeflate(data);
  ProbeStream src(Cat(z, Bytes(1000, 0xEE)));
  TDecompressStream d(src, -15, 0);
  d.SetInputLimit(static_cast<int64_t>(z.size()) / 2);
  Bytes buf(1000 + 64, 0xA5);
  int64_t produced = 0, r = 0;
  for (int i = 0; i < 10000; ++i) {
    r = d.Decode(buf.data(), 7, 1000);
    if (r <= 0) break;
    EXPECT_EQ(r, 1000);
    EXPECT_TRUE(std::equal(data.begin() + produced, data.begin() + produced + r, buf.begin()));
    produced += r;
  }
  EXPECT_TRUE(std::all_of(buf.begin() + 1000, buf.end(), [](uint8_t c) { return c == 0xA5; }));
  EXPECT_EQ(r, Z_BUF_ERROR);  // half the input cannot finish the stream
  EXPECT_LT(produced, 100000);
  EXPECT_LE(src.maxAsk, 7);
  EXPECT_EQ(d.InputRead(), static_cast<int64_t>(z.size()) / 2);
  EXPECT_LE(src.maxPos, static_cast<int64_t>(z.size()) / 2);
}

TEST(DecompressStream, TruncatedInputEndsWithAnError) {
  const Bytes data = Sample(50000);
  const Bytes z = RawDeflate(data);
  for (size_t cut : {size_t{0}, size_t{1}, z.size() / 3, z.size() - 1}) {
    ProbeStream src(Bytes(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(cut)));
    TDecompressStream d(src, -15, 0);
    const DecodeRun r = ReadAllOf(d, 4096);
    EXPECT_EQ(r.last, Z_BUF_ERROR) << "cut " << cut;
    // Without its last bits the stream may have produced everything, yet it never ends.
    EXPECT_LE(r.out.size(), data.size());
    EXPECT_TRUE(std::equal(r.out.begin(), r.out.end(), data.begin()));
    EXPECT_FALSE(d.StreamEnd());
  }
}

TEST(DecompressStream, CorruptInputEndsWithoutCrashOrHang) {
  ProbeStream bad(Bytes{0x07, 0x00, 0x00, 0x00});  // final block of the reserved type 3
  TDecompressStream d(bad, -15, 0);
  EXPECT_EQ(ReadAllOf(d, 4096).last, Z_DATA_ERROR);
  char c;
  EXPECT_EQ(d.Read(&c, 1), Z_DATA_ERROR);  // and stays there

  // Every single-byte corruption of a small stream ends within bounds.
  const Bytes data = Sample(3000);
  const Bytes z = RawDeflate(data);
  int errors = 0;
  for (size_t i = 0; i < z.size(); ++i) {
    Bytes broken = z;
    broken[i] ^= 0x5A;
    ProbeStream src(broken);
    TDecompressStream dd(src, -15, 0);
    const DecodeRun r = ReadAllOf(dd, 4096, 2000);
    if (r.last < 0) ++errors;
    EXPECT_LE(src.maxPos, static_cast<int64_t>(broken.size()));
  }
  EXPECT_GT(errors, 0);
}

TEST(DecompressStream, SeekSkipsForwardRestartsAtZeroAndNeverGoesBack) {
  const Bytes data = Sample(40000);
  ProbeStream src(RawDeflate(data));
  TDecompressStream d(src, -15, 0);
  uint8_t buf[100];
  EXPECT_EQ(d.Seek(5000, soFromCurrent), 5000);
  EXPECT_EQ(d.Read(buf, 100), 100);
  EXPECT_TRUE(std::equal(buf, buf + 100, data.begin() + 5000));
  EXPECT_EQ(d.Seek(20000, soFromBeginning), 20000);  // beyond the output: skip
  EXPECT_EQ(d.Seek(100, soFromBeginning), 20000);    // backwards: nothing happens
  EXPECT_EQ(d.Seek(-10, soFromCurrent), 20000);
  EXPECT_EQ(d.Seek(0, soFromEnd), 20000);
  EXPECT_EQ(d.Read(buf, 100), 100);
  EXPECT_TRUE(std::equal(buf, buf + 100, data.begin() + 20000));
  EXPECT_EQ(d.Seek(0, soFromBeginning), 0);  // starts over
  EXPECT_EQ(d.StreamPos(), 0);
  EXPECT_EQ(ReadAllOf(d, 3000).out, data);
  EXPECT_EQ(d.Seek(1000, soFromCurrent), 40000);  // past the end: stays at the end
  EXPECT_THROW(d.Seek(int64_t{1} << 31, soFromBeginning), ERangeError);
  EXPECT_THROW(d.Seek(-(int64_t{1} << 31) - 1, soFromCurrent), ERangeError);
  EXPECT_EQ(d.Write(buf, 1), -1);
}

TEST(DecompressStream, DeciphersInOrderAndRewindsTheKeys) {
  const Bytes data = Sample(200000);
  const Bytes z = RawDeflate(data);
  TSeedKeyValues start;
  SetupDataKeys(start, kDefaultDataSeed, "pw");
  TSeedKeyValues afterData = start;
  Bytes enc = z;
  EncipherBuffer(afterData, enc.data(), enc.size());
  Bytes trailer = Text("MORE");
  TSeedKeyValues k = afterData;
  EncipherBuffer(k, trailer.data(), trailer.size());
  ProbeStream src(Cat(enc, trailer));

  TSeedKeyValues keys = start;
  {
    TDecompressStream d(src, -15, kCipherZipV2, &keys);
    uint8_t buf[1000];
    ASSERT_EQ(d.Read(buf, 1000), 1000);
    EXPECT_EQ(d.Seek(0, soFromBeginning), 0);  // the keys start over too
    EXPECT_EQ(ReadAllOf(d, 32768).out, data);
  }
  // Unread input is given back and the keys stand where it begins.
  EXPECT_EQ(src.Position(), static_cast<int64_t>(z.size()));
  EXPECT_EQ(keys, afterData);

  TDecompressStream noKeys(src, -15, kCipherZipV2, nullptr);
  uint8_t c;
  EXPECT_LT(noKeys.Read(&c, 1), 0);
}

TEST(DecompressStream, StreamsSharingOneFileKeepTheirOwnPositions) {
  test::TempFolder tmp;
  const Bytes a = Sample(150000, 1), b = Sample(150000, 2);
  const Bytes za = RawDeflate(a), zb = RawDeflate(b);
  test::WriteAll(tmp / "two.bin", Cat(za, zb));
  TFileStream32 file((tmp / "two.bin").string(), fmShareDenyWrite);
  ASSERT_TRUE(file.Valid());
  TDecompressStream da(file, -15, 0);
  file.Seek(static_cast<int64_t>(za.size()), soFromBeginning);
  TDecompressStream db(file, -15, 0);
  Bytes outA, outB;
  Bytes buf(7000);
  for (int i = 0; i < 1000 && (outA.size() < a.size() || outB.size() < b.size()); ++i) {
    // Small input chunks make both streams go back to the file often.
    int64_t n = da.Decode(buf.data(), 4096, 7000);
    if (n > 0) outA.insert(outA.end(), buf.begin(), buf.begin() + n);
    n = db.Decode(buf.data(), 4096, 7000);
    if (n > 0) outB.insert(outB.end(), buf.begin(), buf.begin() + n);
  }
  EXPECT_EQ(outA, a);
  EXPECT_EQ(outB, b);
}

}  // namespace
}  // namespace tessavar
