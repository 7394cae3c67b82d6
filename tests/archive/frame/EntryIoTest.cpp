#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/frame/ztvBase.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/File.h"

namespace tessavar {
namespace {

// A growable in-memory stream; `limit` makes writes beyond it come up short.
class VecStream : public TStream32 {
 public:
  std::vector<uint8_t> data;
  int64_t pos = 0;
  int64_t limit = -1;
  void SetSize(int64_t size) override { data.resize(static_cast<size_t>(size)); }
  int64_t Read(void* buffer, int64_t count) override {
    int64_t n = std::max<int64_t>(0, std::min<int64_t>(count, static_cast<int64_t>(data.size()) - pos));
    std::memcpy(buffer, data.data() + pos, static_cast<size_t>(n));
    pos += n;
    return n;
  }
  int64_t Write(const void* buffer, int64_t count) override {
    if (limit >= 0) count = std::max<int64_t>(0, std::min<int64_t>(count, limit - pos));
    if (pos + count > static_cast<int64_t>(data.size())) data.resize(static_cast<size_t>(pos + count));
    std::memcpy(data.data() + pos, buffer, static_cast<size_t>(count));
    pos += count;
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    pos = origin == soFromBeginning ? offset : origin == soFromCurrent ? pos + offset : static_cast<int64_t>(data.size()) + offset;
    return pos;
  }
  std::string Text() const { return std::string(data.begin(), data.end()); }
};

class IoComponent : public TZipCommon {
 public:
  void Use(TArcType t, int mode = 0) {
    arcType_ = t;
    processMode_ = mode;
  }
  void SetCount(int n) { count_ = n; }
  void SetTotals(int64_t archive, int64_t remaining) {
    archiveTotal_ = archive;
    bytesRemaining_ = remaining;
  }
};

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

uint32_t Crc(const std::string& s) {
  return Crc32Update(reinterpret_cast<const uint8_t*>(s.data()), s.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
}

TEST(EntryIo, ReadBlockChecksAndDeciphers) {
  const std::string plain = "The quick brown fox jumps over the lazy dog";
  // Encipher with keys from "pw"; a ZIP component deciphers with the same keys.
  TSeedKeyValues keys;
  SetupDataKeys(keys, DataSeed(), "pw");
  std::vector<uint8_t> enc = Bytes(plain);
  EncipherBuffer(keys, enc.data(), enc.size());

  IoComponent c;
  c.Use(atZip);
  SetupDataKeys(c.DataKeys(), DataSeed(), "pw");
  VecStream in;
  in.data = enc;
  std::vector<uint8_t> buf(100);
  c.ResetCrc();
  ASSERT_EQ(c.ReadBlock(in, buf.data(), true, 32, 100), static_cast<int64_t>(plain.size()));
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(plain.size())), plain);
  EXPECT_EQ(c.Crc32Value(), Crc(plain));
  EXPECT_EQ(c.ReadBlock(in, buf.data(), true, 32, 100), 0);  // end of stream
  EXPECT_EQ(c.ReadBlock(in, buf.data(), true, 32, 0), 0);

  // Other types are never deciphered; CRC-16 is the ARC register.
  IoComponent lha;
  lha.Use(atLha);
  VecStream in2;
  in2.data = Bytes("123456789");
  lha.ResetCrc();
  ASSERT_EQ(lha.ReadBlock(in2, buf.data(), true, 16, 9), 9);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + 9), "123456789");
  EXPECT_EQ(lha.Crc16Value(), 0xBB3D);
}

TEST(EntryIo, TestModeWritesNothingButCounts) {
  IoComponent c;
  c.Use(atZip, 6);
  VecStream out;
  auto data = Bytes("abc");
  c.ResetCrc();
  EXPECT_EQ(c.WriteDecoded(&out, data.data(), false, 32, 3, 1), 3);
  EXPECT_TRUE(out.data.empty());
  EXPECT_EQ(c.Crc32Value(), Crc("abc"));
}

TEST(EntryIo, AsciiTranslationAddsCarriageReturns) {
  IoComponent c;
  c.Use(atGZip);
  c.SetAsciiTranslation(true);
  VecStream out;
  auto a = Bytes("a\nb\r\nc\n\n");
  c.ResetCrc();
  EXPECT_EQ(c.WriteDecoded(&out, a.data(), false, 32, static_cast<int64_t>(a.size()), 1), static_cast<int64_t>(a.size()));
  // A CR at the end of one buffer belongs with an LF at the start of the next.
  auto b = Bytes("x\r");
  auto d = Bytes("\ny");
  c.WriteDecoded(&out, b.data(), false, 32, 2, 1);
  c.WriteDecoded(&out, d.data(), false, 32, 2, 1);
  EXPECT_EQ(out.Text(), "a\r\nb\r\nc\r\n\r\nx\r\ny");
  // The check value is over the bytes as decoded, not as written.
  EXPECT_EQ(c.Crc32Value(), Crc("a\nb\r\nc\n\nx\r\ny"));
}

TEST(EntryIo, ShortWriteReportsAndDiskFullEndsTheOperation) {
  IoComponent c;
  c.Use(atZip);
  std::vector<int> codes;
  c.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    codes.push_back(code);
  };
  VecStream out;
  out.limit = 2;
  auto data = Bytes("abcdef");
  c.SetCount(3);
  EXPECT_EQ(c.WriteDecoded(&out, data.data(), false, 32, 6, 1), 2);
  EXPECT_EQ(codes, (std::vector<int>{25136}));
  EXPECT_EQ(c.Count(), 2);

  test::TempFolder tmp;
  TFileStream32 file(tmp.str() + "out.bin", fmCreate);
  ASSERT_TRUE(file.Valid());
  platform::SetWriteFault([](platform::FileHandle, int64_t, int& error) -> int64_t {
    error = ENOSPC;
    return 1;
  });
  c.SetCount(3);
  EXPECT_THROW(c.WriteDecoded(&file, data.data(), false, 32, 6, 1), E_RAISE);
  platform::SetWriteFault(nullptr);
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(codes.back(), 25160);
}

TEST(EntryIo, EncipheredWritesReadBack) {
  IoComponent w;
  w.Use(atZip);
  SetupDataKeys(w.DataKeys(), DataSeed(), "secret");
  VecStream out;
  auto data = Bytes("attack at dawn");
  w.WriteEncoded(&out, data.data(), true, 0, static_cast<int64_t>(data.size()), 1);
  EXPECT_NE(out.Text(), "attack at dawn");

  // Deciphering on write happens only for the traditional cipher.
  IoComponent r;
  r.Use(atZip);
  SetupDataKeys(r.DataKeys(), DataSeed(), "secret");
  VecStream plain;
  std::vector<uint8_t> copy = out.data;
  r.WriteDecoded(&plain, copy.data(), true, 32, static_cast<int64_t>(copy.size()), 1);
  EXPECT_EQ(plain.Text(), out.Text());
  r.SetEncryptionMethod(emZIP_v2);
  SetupDataKeys(r.DataKeys(), DataSeed(), "secret");
  VecStream plain2;
  copy = out.data;
  r.WriteDecoded(&plain2, copy.data(), true, 32, static_cast<int64_t>(copy.size()), 1);
  EXPECT_EQ(plain2.Text(), "attack at dawn");
}

TEST(EntryIo, CopyStoredDataInBlocksWithProgressAndCancel) {
  std::string big(100000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  IoComponent c;
  c.Use(atZip);
  VecStream in;
  in.data = Bytes(big);
  VecStream out;
  std::vector<int> files;
  c.OnProgress = [&](TObject*, uint8_t byFile, uint8_t) { files.push_back(byFile); };
  c.SetTotals(100000, 100000);
  c.ResetCrc();
  EXPECT_EQ(c.CopyStoredData(in, &out, 100000, 0, 32), 0);
  EXPECT_EQ(out.Text(), big);
  EXPECT_EQ(c.Crc32Value(), Crc(big));
  EXPECT_EQ(files, (std::vector<int>{33, 66, 98, 100}));
  EXPECT_EQ(c.BytesRemaining(), 0);

  // A source shorter than the entry leaves the rest uncopied.
  VecStream shortIn;
  shortIn.data = Bytes("abc");
  VecStream out2;
  EXPECT_EQ(c.CopyStoredData(shortIn, &out2, 10, 0, 32), 7);

  // Cancel from the progress handler stops after the block.
  IoComponent k;
  k.Use(atZip);
  in.pos = 0;
  VecStream out3;
  k.OnProgress = [&](TObject*, uint8_t, uint8_t) { k.SetCancelled(true); };
  EXPECT_EQ(k.CopyStoredData(in, &out3, 100000, 0, 32), 100000 - 32768);
}

}  // namespace
}  // namespace tessavar
