#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/zip/ztvZipRecords.h"

namespace tessavar {
namespace {

TEST(Signatures, ClassifyOnlyTheExpectedKind) {
  struct Case {
    uint32_t value;
    THeaderType expected;
    THeaderType kind;
    bool encrypted;
  } cases[] = {
      {0x04034B50, htLocal, htLocal, false},       {0x04034C50, htLocal, htLocal, true},
      {0x02014B50, htCentral, htCentral, false},   {0x02014C50, htCentral, htCentral, true},
      {0x06054B50, htEnding, htEnding, false},     {0x06054C50, htEnding, htEnding, true},
      {0x06055B50, htEnding, htEnding, false},     {0x06055C50, htEnding, htEnding, true},
      {0x04034B50, htCentral, htNone, false},      {0x02014B50, htLocal, htNone, false},
      {0x06054B50, htLocal, htNone, false},        {0x07064B50, htEnding, htNone, false},
      {0x06064B50, htEnding, htNone, false},       {0x08074B50, htLocal, htNone, false},
      {0x04034B50, htNone, htNone, false},         {0x04034B51, htLocal, htNone, false},
  };
  for (const Case& c : cases) {
    TSignatureClass got = ClassifySignature(c.value, c.expected);
    EXPECT_EQ(got.kind, c.kind) << std::hex << c.value << " expected " << c.expected;
    EXPECT_EQ(got.encrypted, c.encrypted) << std::hex << c.value;
  }
}

TEST(Signatures, WhatTheWriterWrites) {
  EXPECT_EQ(HeaderSignature(htLocal, false), 0x04034B50u);
  EXPECT_EQ(HeaderSignature(htLocal, true), 0x04034C50u);
  EXPECT_EQ(HeaderSignature(htCentral, false), 0x02014B50u);
  EXPECT_EQ(HeaderSignature(htCentral, true), 0x02014C50u);
  EXPECT_EQ(HeaderSignature(htEnding, true), 0x06054B50u);  // end records are never enciphered
  EXPECT_EQ(HeaderSignature(htLocator, false), 0x08074B50u);
  EXPECT_EQ(HeaderSignature(htEnding64, false), 0x08074B50u);
}

// Each record written with distinct field values: selected fields must land
// at the offsets of the format, and parsing gives every field back.
TEST(Records, LayoutAndRoundTrip) {
  {
    TLocalFileHeader h;
    h.VersionNeeded = 0x0102;
    h.GeneralPurpose = 0x0304;
    h.Method = 0x0506;
    h.FileTime = 0x0708090A;
    h.CRC32 = 0x0B0C0D0E;
    h.CompressedSize = 0x10111213;
    h.UncompressedSize = 0x14151617;
    h.FileNameLength = 0x1819;
    h.ExtraFieldLength = 0x1A1B;
    uint8_t b[TLocalFileHeader::kSize + 1] = {};
    b[30] = 0x77;
    h.Serialize(b);
    EXPECT_EQ(b[0], 0x50);
    EXPECT_EQ(b[3], 0x04);
    EXPECT_EQ(GetU32(b + 14), 0x0B0C0D0Eu);
    EXPECT_EQ(GetU16(b + 28), 0x1A1B);
    EXPECT_EQ(b[30], 0x77);
    TLocalFileHeader p = TLocalFileHeader::Parse(b);
    EXPECT_EQ(p.Signature, h.Signature);
    EXPECT_EQ(p.VersionNeeded, h.VersionNeeded);
    EXPECT_EQ(p.GeneralPurpose, h.GeneralPurpose);
    EXPECT_EQ(p.Method, h.Method);
    EXPECT_EQ(p.FileTime, h.FileTime);
    EXPECT_EQ(p.CRC32, h.CRC32);
    EXPECT_EQ(p.CompressedSize, h.CompressedSize);
    EXPECT_EQ(p.UncompressedSize, h.UncompressedSize);
    EXPECT_EQ(p.FileNameLength, h.FileNameLength);
    EXPECT_EQ(p.ExtraFieldLength, h.ExtraFieldLength);
  }
  {
    TCentralFileHeader h;
    h.VersionMadeBy = 0x0314;
    h.VersionNeeded = 20;
    h.GeneralPurpose = 0x0809;
    h.Method = 8;
    h.FileTime = 0x11223344;
    h.CRC32 = 0x55667788;
    h.CompressedSize = 0x99AABBCC;
    h.UncompressedSize = 0xDDEEFF00;
    h.FileNameLength = 0x0102;
    h.ExtraFieldLength = 0x0304;
    h.FileCommentLength = 0x0506;
    h.DiskNumberStart = 0x0708;
    h.InternalAttributes = 1;
    h.ExternalAttributes = 0x81A40020;
    h.RelativeOffset = 0xCAFEBABE;
    uint8_t b[TCentralFileHeader::kSize] = {};
    h.Serialize(b);
    EXPECT_EQ(GetU32(b), 0x02014B50u);
    EXPECT_EQ(GetU16(b + 4), 0x0314);
    EXPECT_EQ(GetU32(b + 12), 0x11223344u);
    EXPECT_EQ(GetU16(b + 34), 0x0708);
    EXPECT_EQ(GetU32(b + 38), 0x81A40020u);
    EXPECT_EQ(GetU32(b + 42), 0xCAFEBABEu);
    TCentralFileHeader p = TCentralFileHeader::Parse(b);
    uint8_t again[TCentralFileHeader::kSize] = {};
    p.Serialize(again);
    EXPECT_EQ(std::vector<uint8_t>(b, b + sizeof b), std::vector<uint8_t>(again, again + sizeof again));
    EXPECT_EQ(p.FileCommentLength, 0x0506);
    EXPECT_EQ(p.InternalAttributes, 1);
  }
  {
    TEndOfCentralDir e;
    e.NumberOfThisDisk = 1;
    e.DiskWithCentralDir = 2;
    e.EntriesOnThisDisk = 3;
    e.TotalEntries = 4;
    e.CentralDirSize = 0x05060708;
    e.CentralDirOffset = 0x090A0B0C;
    e.CommentLength = 0x0D0E;
    uint8_t b[TEndOfCentralDir::kSize] = {};
    e.Serialize(b);
    EXPECT_EQ(GetU32(b + 12), 0x05060708u);
    EXPECT_EQ(GetU32(b + 16), 0x090A0B0Cu);
    EXPECT_EQ(GetU16(b + 20), 0x0D0E);
    TEndOfCentralDir p = TEndOfCentralDir::Parse(b);
    EXPECT_EQ(p.TotalEntries, 4);
    EXPECT_EQ(p.CentralDirOffset, e.CentralDirOffset);
    EXPECT_EQ(p.CommentLength, e.CommentLength);
  }
  {
    TLargeEndOfCentralDir e;
    e.TotalEntries = 9;
    e.CentralDirSize = 0x11111111;
    e.CentralDirOffset = 0x0102030405060708ull;
    e.CommentLength = 0x2222;
    uint8_t b[TLargeEndOfCentralDir::kSize] = {};
    e.Serialize(b);
    EXPECT_EQ(GetU32(b), 0x06055B50u);
    EXPECT_EQ(GetU64(b + 16), 0x0102030405060708ull);
    EXPECT_EQ(GetU16(b + 24), 0x2222);
    TLargeEndOfCentralDir p = TLargeEndOfCentralDir::Parse(b);
    EXPECT_EQ(p.CentralDirOffset, e.CentralDirOffset);
    EXPECT_EQ(p.TotalEntries, 9);
  }
  {
    TZip64EndLocator l;
    l.DiskWithZip64End = 3;
    l.Zip64EndOffset = 0x1122334455667788ull;
    l.TotalDisks = 4;
    uint8_t b[TZip64EndLocator::kSize] = {};
    l.Serialize(b);
    EXPECT_EQ(GetU64(b + 8), l.Zip64EndOffset);
    EXPECT_EQ(TZip64EndLocator::Parse(b).TotalDisks, 4u);
    TZip64EndOfCentralDir z;
    z.TotalEntries = 70000;
    z.CentralDirSize = 0x123456789Aull;
    z.CentralDirOffset = 0xABCDEF012345ull;
    uint8_t c[TZip64EndOfCentralDir::kSize] = {};
    z.Serialize(c);
    EXPECT_EQ(GetU32(c), 0x06064B50u);
    EXPECT_EQ(GetU64(c + 40), z.CentralDirSize);
    EXPECT_EQ(GetU64(c + 48), z.CentralDirOffset);
    TZip64EndOfCentralDir q = TZip64EndOfCentralDir::Parse(c);
    EXPECT_EQ(q.TotalEntries, 70000u);
    EXPECT_EQ(q.RecordSize, 44u);
    EXPECT_EQ(q.VersionNeeded, 45);
  }
}

// ---- Extra field ----

std::vector<uint8_t> Rec(uint16_t tag, std::vector<uint8_t> data, int claimedSize = -1) {
  std::vector<uint8_t> r(4 + data.size());
  PutU16(r.data(), tag);
  PutU16(r.data() + 2, static_cast<uint16_t>(claimedSize < 0 ? data.size() : claimedSize));
  std::copy(data.begin(), data.end(), r.begin() + 4);
  return r;
}

std::vector<uint8_t> U64(uint64_t v) {
  std::vector<uint8_t> b(8);
  PutU64(b.data(), v);
  return b;
}

std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

constexpr uint32_t M = 0xFFFFFFFFu;

TEST(ExtraField, SizeTable) {
  struct Case {
    const char* what;
    THeaderType kind;
    std::vector<uint8_t> field;
    uint32_t comp, uncomp, rel;  // header fields before
    uint32_t wantComp, wantUncomp, wantRel;
    uint16_t compHigh, uncompHigh, relHigh;
  };
  const Case cases[] = {
      {"zip64 local, only the uncompressed size marked", htLocal, Rec(0x0001, U64(0x0000000512345678ull)), 100, M,
       0, 100, 0x12345678, 0, 0, 5, 0},
      {"zip64 local, both marked", htLocal, Rec(0x0001, Cat({U64(0x700000001ull), U64(0x300000002ull)})), M, M, 0, 2,
       1, 0, 3, 7, 0},
      {"zip64 local, 16 bytes, only the compressed size marked", htLocal,
       Rec(0x0001, Cat({U64(0x900000009ull), U64(0x400000004ull)})), M, 50, 0, 4, 50, 0, 4, 0, 0},
      {"zip64 local, 8 bytes, only the compressed size marked", htLocal, Rec(0x0001, U64(0x200000006ull)), M, 50, 0,
       6, 50, 0, 2, 0, 0},
      {"zip64 central, all three", htCentral,
       Rec(0x0001, Cat({U64(0x100000011ull), U64(0x200000022ull), U64(0x300000033ull)})), M, M, M, 0x22, 0x11, 0x33,
       2, 1, 3},
      {"zip64 central, only the offset", htCentral, Rec(0x0001, U64(0x0000ABCD00000044ull)), 10, 20, M, 10, 20, 0x44,
       0, 0, 0xABCD},
      {"zip64 central, value missing", htCentral, Rec(0x0001, U64(0x100000011ull)), M, M, 0, M, 0x11, 0, 0, 1, 0},
      {"size extension local", htLocal, Rec(0x0064, {0x01, 0x00, 0x02, 0x00}), 5, 6, 0, 5, 6, 0, 1, 2, 0},
      {"size extension central", htCentral, Rec(0x0064, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00}), 5, 6, 7, 5, 6, 7, 1,
       2, 3},
      {"unknown tags skipped", htCentral,
       Cat({Rec(0x5455, {1, 2, 3, 4, 5}), Rec(0x7875, {1, 4, 0, 0, 0, 0}), Rec(0x0001, U64(0x100000099ull))}), 1, M, 2,
       1, 0x99, 2, 0, 1, 0},
      {"oversize record ends the parse", htCentral,
       Cat({Rec(0x5455, {1, 2, 3}, 200), Rec(0x0064, {9, 0, 9, 0, 9, 0})}), 1, 2, 3, 1, 2, 3, 0, 0, 0},
      {"oversize zip64 record is not used", htLocal, Rec(0x0001, U64(0x100000099ull), 16), M, M, 0, M, M, 0, 0, 0, 0},
      {"trailing bytes shorter than a head", htLocal, Cat({Rec(0x0064, {4, 0, 5, 0}), {0x01, 0x00}}), 1, 2, 0, 1, 2, 0,
       4, 5, 0},
  };
  for (const Case& c : cases) {
    uint32_t comp = c.comp, uncomp = c.uncomp, rel = c.rel;
    TSizeHighWords high{1, 1, 9, 9, 9};  // must be zeroed first
    ReadExtraField(c.field.data(), c.field.size(), c.kind, comp, uncomp, &rel, high);
    EXPECT_EQ(comp, c.wantComp) << c.what;
    EXPECT_EQ(uncomp, c.wantUncomp) << c.what;
    EXPECT_EQ(rel, c.wantRel) << c.what;
    EXPECT_EQ(high.CompressedHigh, c.compHigh) << c.what;
    EXPECT_EQ(high.UncompressedHigh, c.uncompHigh) << c.what;
    EXPECT_EQ(high.OffsetHigh, c.relHigh) << c.what;
  }
}

TEST(ExtraField, LastRecordHeadOffsetPointerAndSize64) {
  auto field = Cat({Rec(0x5455, {1, 2, 3}), Rec(0xCAFE, {})});
  uint32_t comp = 0, uncomp = 0;
  TSizeHighWords high;
  ReadExtraField(field.data(), field.size(), htCentral, comp, uncomp, nullptr, high);
  EXPECT_EQ(high.Tag, 0xCAFE);
  EXPECT_EQ(high.Size, 0);

  // A central zip64 record without an offset pointer still reads both sizes.
  field = Rec(0x0001, Cat({U64(0x100000001ull), U64(0x200000002ull), U64(0x300000003ull)}));
  comp = uncomp = M;
  ReadExtraField(field.data(), field.size(), htCentral, comp, uncomp, nullptr, high);
  EXPECT_EQ(Size64(uncomp, high.UncompressedHigh), 0x100000001ll);
  EXPECT_EQ(Size64(comp, high.CompressedHigh), 0x200000002ll);
  EXPECT_EQ(Size64(0xFFFFFFFFu, 0xFFFF), (int64_t{1} << 48) - 1);

  // The header overloads pass the header's own fields.
  TCentralFileHeader c;
  c.CompressedSize = c.UncompressedSize = c.RelativeOffset = M;
  ReadExtraField(field.data(), field.size(), c, high);
  EXPECT_EQ(c.RelativeOffset, 3u);
  EXPECT_EQ(high.OffsetHigh, 3);
  TLocalFileHeader l;
  l.CompressedSize = l.UncompressedSize = M;
  field = Rec(0x0001, Cat({U64(0x500000005ull), U64(0x600000006ull)}));
  ReadExtraField(field.data(), field.size(), l, high);
  EXPECT_EQ(l.UncompressedSize, 5u);
  EXPECT_EQ(l.CompressedSize, 6u);
  EXPECT_EQ(high.OffsetHigh, 0);
}

TEST(ExtraField, StoredRecords) {
  std::vector<uint8_t> strong = Rec(0x0017, {2, 0, 0x10, 0x66, 1, 2, 3, 4, 5, 6});
  std::vector<uint8_t> aes = Rec(0x9901, {2, 0, 'A', 'E', 3, 8, 0});
  std::vector<uint8_t> longAes = Rec(0x9901, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  std::vector<uint8_t> unicode = Rec(0x7075, {1, 0x78, 0x56, 0x34, 0x12, 0xC3, 0xA4, '.', 't'});
  auto field = Cat({strong, aes, unicode});
  uint32_t comp = 0, uncomp = 0, rel = 0;
  TSizeHighWords high;
  TExtraFieldRecords rec;
  rec.HasUnicodePath = true;
  rec.UnicodePath = "stale";
  ReadExtraField(field.data(), field.size(), htLocal, comp, uncomp, &rel, high, &rec);
  EXPECT_EQ(rec.StrongEncryption, strong);
  ASSERT_EQ(rec.AesLength, 11);
  EXPECT_TRUE(std::equal(aes.begin(), aes.end(), rec.Aes.begin()));
  EXPECT_TRUE(rec.HasUnicodePath);
  EXPECT_EQ(rec.UnicodePathVersion, 1);
  EXPECT_EQ(rec.UnicodePathCrc, 0x12345678u);
  EXPECT_EQ(rec.UnicodePath, "\xC3\xA4.t");

  // A longer AES record is cut to its area; the records are reset per field.
  ReadExtraField(longAes.data(), longAes.size(), htLocal, comp, uncomp, &rel, high, &rec);
  EXPECT_EQ(rec.AesLength, 11);
  EXPECT_EQ(rec.Aes[10], 7);
  EXPECT_FALSE(rec.HasUnicodePath);
  EXPECT_TRUE(rec.StrongEncryption.empty());

  // A Unicode path record too short for its fixed part is ignored.
  std::vector<uint8_t> shortUnicode = Rec(0x7075, {1, 2, 3});
  ReadExtraField(shortUnicode.data(), shortUnicode.size(), htCentral, comp, uncomp, &rel, high, &rec);
  EXPECT_FALSE(rec.HasUnicodePath);
  ReadExtraField(nullptr, 10, htCentral, comp, uncomp, &rel, high, &rec);
  EXPECT_EQ(high.Tag, 0);
}

}  // namespace
}  // namespace tessavar
