#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "ZipTestUtil.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {
namespace {

using namespace tessavar::test;
using namespace tessavar::test::zip;

constexpr TSeedKeyValues kPublishedKeys{0x12345678u, 0x23456789u, 0x34567890u};

// The key update written out bit by bit, without the shared table.
uint32_t BitwiseCrcStep(uint32_t reg, uint8_t b) {
  reg ^= b;
  for (int k = 0; k < 8; ++k) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
  return reg;
}

TSeedKeyValues ReferenceKeys(const std::string& password) {
  TSeedKeyValues k = kPublishedKeys;
  for (unsigned char c : password) {
    k.Key0 = BitwiseCrcStep(k.Key0, c);
    k.Key1 = (k.Key1 + (k.Key0 & 0xFF)) * 0x08088405u + 1u;
    k.Key2 = BitwiseCrcStep(k.Key2, static_cast<uint8_t>(k.Key1 >> 24));
  }
  return k;
}

TEST(Cipher, PasswordSetUpFromTheDataSeed) {
  TSeedKeyValues keys{1, 2, 3};
  SetupDataKeys(keys, kPublishedKeys, "");
  EXPECT_EQ(keys, kPublishedKeys);

  for (const std::string& pw : std::vector<std::string>{"secret", "a", "P\xE4sswort with spaces", std::string(255, 'x')}) {
    SetupDataKeys(keys, kPublishedKeys, pw);
    EXPECT_EQ(keys, ReferenceKeys(pw)) << pw;
  }
  // The seed is the caller's, not a fixed triple.
  SetupDataKeys(keys, TSeedKeyValues{7, 8, 9}, "");
  EXPECT_EQ(keys, (TSeedKeyValues{7, 8, 9}));
}

// A length taken modulo 256 would make a 256-byte password no password.
TEST(Cipher, LongPasswordsUseEveryByte) {
  TSeedKeyValues keys;
  const std::string pw256(256, 'k');
  SetupDataKeys(keys, kPublishedKeys, pw256);
  EXPECT_NE(keys, kPublishedKeys);
  EXPECT_EQ(keys, ReferenceKeys(pw256));
  const std::string pw300 = std::string(256, 'q') + "tail";
  SetupDataKeys(keys, kPublishedKeys, pw300);
  EXPECT_EQ(keys, ReferenceKeys(pw300));
}

TEST(Cipher, KeystreamAndRoundTrip) {
  // Keystream of the published keys: t = 0x7890 | 2, (t * (t ^ 1)) >> 8.
  const uint32_t t = 0x7892;
  EXPECT_EQ(KeystreamByte(kPublishedKeys), static_cast<uint8_t>((t * (t ^ 1)) >> 8));

  std::mt19937 rng(7);
  std::vector<uint8_t> plain(5000);
  for (auto& b : plain) b = static_cast<uint8_t>(rng());
  TSeedKeyValues enc, dec, bytewise;
  SetupDataKeys(enc, kPublishedKeys, "secret");
  SetupDataKeys(bytewise, kPublishedKeys, "secret");
  std::vector<uint8_t> buf = plain;
  EncipherBuffer(enc, buf.data(), buf.size());
  EXPECT_NE(buf, plain);
  for (size_t i = 0; i < plain.size(); ++i) ASSERT_EQ(EncipherByte(bytewise, plain[i]), buf[i]) << i;
  EXPECT_EQ(enc, bytewise);

  SetupDataKeys(dec, kPublishedKeys, "secret");
  DecipherBuffer(dec, buf.data(), 1234);  // in two parts: the key stream continues
  for (size_t i = 1234; i < buf.size(); ++i) buf[i] = DecipherByte(dec, buf[i]);
  EXPECT_EQ(buf, plain);
  EXPECT_EQ(dec, enc);
}

TEST(EncryptionHeader, RandomBytesCheckByteAndContinuingKeys) {
  const uint32_t crc = 0xAB12CD34u;
  TSeedKeyValues k1, k2;
  auto h1 = MakeEncryptionHeader(k1, kPublishedKeys, "secret", crc);
  auto h2 = MakeEncryptionHeader(k2, kPublishedKeys, "secret", crc);
  EXPECT_NE(h1, h2);

  // Deciphered, both end in bits 16-31 of the CRC.
  for (auto h : {h1, h2}) {
    TSeedKeyValues d;
    SetupDataKeys(d, kPublishedKeys, "secret");
    DecipherBuffer(d, h.data(), h.size());
    EXPECT_EQ(h[10], 0x12);
    EXPECT_EQ(h[11], 0xAB);
  }

  // The data after the header continues the key stream of the header.
  std::string data = "entry data after the header";
  std::vector<uint8_t> stored(data.begin(), data.end());
  EncipherBuffer(k1, stored.data(), stored.size());
  TSeedKeyValues r;
  ASSERT_TRUE(CheckEncryptionHeader(r, kPublishedKeys, h1.data(), 0, crc, 0, "secret"));
  DecipherBuffer(r, stored.data(), stored.size());
  EXPECT_EQ(std::string(stored.begin(), stored.end()), data);
}

TEST(EncryptionHeader, CheckByteSource) {
  TSeedKeyValues k;
  const uint32_t crc = 0xAB000000u;
  auto h = MakeEncryptionHeader(k, kPublishedKeys, "pw", crc);
  struct Case {
    uint16_t gp;
    uint32_t crc;
    uint32_t time;
    bool pass;
  } cases[] = {
      {0x0000, crc, 0, true},
      {0x0000, 0x11000000u, 0x0000AB00u, false},  // without bit 3 the time does not count
      {0x0008, 0x11000000u, 0x1234AB56u, true},   // bit 3: bits 8-15 of the time
      {0x0008, crc, 0xAB000000u, false},          // not the date's high byte, not the CRC
      {0x0009, 0x11000000u, 0x0000AB00u, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CheckEncryptionHeader(k, kPublishedKeys, h.data(), c.gp, c.crc, c.time, "pw"), c.pass)
        << std::hex << c.gp << " " << c.crc << " " << c.time;
  }
  // An empty password is refused even where its check byte would match.
  auto hEmpty = MakeEncryptionHeader(k, kPublishedKeys, "", crc);
  EXPECT_FALSE(CheckEncryptionHeader(k, kPublishedKeys, hEmpty.data(), 0, crc, 0, ""));
}

TEST(HeaderCipher, RecordAndNameRoundTrip) {
  TCentralFileHeader c;
  c.Signature = CENTRAL_FILE_ENCRPT_SIGNATURE;
  c.Method = 8;
  c.FileTime = 0x5A21B3C4u;
  c.CRC32 = 0xDEADBEEFu;
  c.CompressedSize = 1000;
  c.UncompressedSize = 4000;
  c.FileNameLength = 9;
  c.RelativeOffset = 0x1234;
  std::vector<uint8_t> plain(TCentralFileHeader::kSize + 9 + 4, 0xEE);  // name, then bytes not to touch
  c.Serialize(plain.data());
  std::copy_n("dir/x.txt", 9, plain.begin() + TCentralFileHeader::kSize);

  std::vector<uint8_t> buf = plain;
  TSeedKeyValues keys;
  EncipherHeaderRecord(buf.data(), TCentralFileHeader::kSize, keys, kZipDefaultHeaderSeed);
  EncipherHeaderName(keys, buf.data() + TCentralFileHeader::kSize, 9);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 4, plain.begin()));  // signature stays plain
  EXPECT_FALSE(std::equal(buf.begin() + 4, buf.begin() + 55, plain.begin() + 4));
  EXPECT_TRUE(std::equal(buf.begin() + 55, buf.end(), plain.begin() + 55));

  std::vector<uint8_t> good = buf;
  DecipherHeaderRecord(good.data(), TCentralFileHeader::kSize, keys, kZipDefaultHeaderSeed);
  DecipherHeaderName(keys, good.data() + TCentralFileHeader::kSize, 9);
  EXPECT_EQ(good, plain);

  // Another seed (a handler changed the header keys) gives garbage.
  std::vector<uint8_t> bad = buf;
  DecipherHeaderRecord(bad.data(), TCentralFileHeader::kSize, keys, TSeedKeyValues{1, 2, 3});
  EXPECT_NE(TCentralFileHeader::Parse(bad.data()).CRC32, c.CRC32);

  // Every record starts from the seed, whatever the keys held before.
  for (size_t size : {size_t{TLocalFileHeader::kSize}, size_t{TEndOfCentralDir::kSize},
                      size_t{TLargeEndOfCentralDir::kSize}}) {
    std::vector<uint8_t> rec(size);
    for (size_t i = 0; i < size; ++i) rec[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> enc = rec;
    TSeedKeyValues a{5, 5, 5}, b{9, 9, 9};
    EncipherHeaderRecord(enc.data(), size, a, kZipDefaultHeaderSeed);
    DecipherHeaderRecord(enc.data(), size, b, kZipDefaultHeaderSeed);
    EXPECT_EQ(enc, rec) << size;
    EXPECT_EQ(a, b);
  }
}

// ---- Against archives made by other programs ----

std::vector<uint8_t> InflateRaw(const uint8_t* p, size_t n, size_t expected) {
  std::vector<uint8_t> out(expected + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return {};
  z.next_in = const_cast<uint8_t*>(p);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return rc == Z_STREAM_END ? out : std::vector<uint8_t>{};
}

struct Decrypted {
  bool checkPassed = false;
  std::vector<uint8_t> data;  // empty when decoding failed
};

// Checks the password on one entry and decodes its data (stored or deflated).
Decrypted DecryptEntry(const std::vector<uint8_t>& zip, const ListedEntry& e, const std::string& password) {
  Decrypted out;
  const int64_t lp = e.localPos;
  if (lp < 0 || lp + TLocalFileHeader::kSize > static_cast<int64_t>(zip.size())) return out;
  TLocalFileHeader l = TLocalFileHeader::Parse(zip.data() + lp);
  const int64_t dataAt = lp + TLocalFileHeader::kSize + l.FileNameLength + l.ExtraFieldLength;
  const int64_t packed = Size64(e.central.CompressedSize, e.high.CompressedHigh);
  if (packed < 12 || dataAt + packed > static_cast<int64_t>(zip.size())) return out;
  TSeedKeyValues keys;
  out.checkPassed = CheckEncryptionHeader(keys, kPublishedKeys, zip.data() + dataAt, l.GeneralPurpose, e.central.CRC32,
                                          l.FileTime, password);
  // Decode whatever the check said, so a false pass shows up as bad data.
  TSeedKeyValues d;
  SetupDataKeys(d, kPublishedKeys, password);
  std::vector<uint8_t> buf(zip.begin() + dataAt, zip.begin() + dataAt + packed);
  DecipherBuffer(d, buf.data(), buf.size());
  buf.erase(buf.begin(), buf.begin() + 12);
  if (e.central.Method == 0) out.data = buf;
  else if (e.central.Method == 8) out.data = InflateRaw(buf.data(), buf.size(), e.central.UncompressedSize);
  return out;
}

uint32_t CrcOf(const std::vector<uint8_t>& v) { return Crc32Update(v.data(), v.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu; }

// Both check-byte sources occur: Info-ZIP writes data descriptors (time
// byte), 7-Zip does not (CRC byte).
TEST(CipherInterop, FixturesDecryptWithTheirPassword) {
  int archives = 0;
  for (const ManifestArchive& m : LoadZipManifest()) {
    if (!m.password) continue;
    std::vector<uint8_t> zip = ReadAll(ZipFixtures() / m.file);
    TZipSearchState st;
    std::vector<ListedEntry> listed = ListCentral(zip, st);
    ASSERT_EQ(listed.size(), m.entries.size()) << m.file;
    int traditional = 0, wrongPassed = 0;
    for (size_t i = 0; i < listed.size(); ++i) {
      const ListedEntry& e = listed[i];
      const ManifestEntry& me = m.entries[i];
      // Only the traditional cipher; AES entries are someone else's business.
      if (!(e.central.GeneralPurpose & 1) || e.central.Method == 99) continue;
      ++traditional;
      Decrypted good = DecryptEntry(zip, e, *m.password);
      EXPECT_TRUE(good.checkPassed) << m.file << " " << me.name;
      EXPECT_EQ(good.data.size(), static_cast<size_t>(me.size)) << m.file << " " << me.name;
      EXPECT_EQ(CrcOf(good.data), me.crc32) << m.file << " " << me.name;
      Decrypted wrong = DecryptEntry(zip, e, "wrong");
      if (wrong.checkPassed) {
        ++wrongPassed;
        if (me.size > 0) {
        EXPECT_NE(CrcOf(wrong.data), me.crc32) << m.file << " " << me.name;
      }
      }
    }
    if (traditional == 0) continue;
    ++archives;
    EXPECT_LT(wrongPassed, traditional) << m.file;
  }
  EXPECT_GE(archives, 2);
}

TEST(CipherInterop, ZipMinusPRoundTrip) {
  if (!HaveTool("/usr/bin/zip")) GTEST_SKIP() << "zip is not installed";
  TempFolder tmp;
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of the secret text\n";
  WriteAll(tmp / "plain.txt", text);
  for (const char* level : {"-0", "-6"}) {
    std::filesystem::remove(tmp / "enc.zip");
    ASSERT_TRUE(RunShell("cd " + Quote(tmp.path()) + " && zip -q " + level + " -P secret enc.zip plain.txt"));
    std::vector<uint8_t> zip = ReadAll(tmp / "enc.zip");
    TZipSearchState st;
    std::vector<ListedEntry> listed = ListCentral(zip, st);
    ASSERT_EQ(listed.size(), 1u);
    Decrypted good = DecryptEntry(zip, listed[0], "secret");
    EXPECT_TRUE(good.checkPassed) << level;
    EXPECT_EQ(std::string(good.data.begin(), good.data.end()), text) << level;
    // The check byte lets one wrong password in 256 through; the data never.
    Decrypted wrong = DecryptEntry(zip, listed[0], "wrong");
    EXPECT_NE(std::string(wrong.data.begin(), wrong.data.end()), text) << level;
  }
}

// What this cipher writes, another program reads.
TEST(CipherInterop, UnzipReadsOurCipher) {
  if (!HaveTool("/usr/bin/unzip")) GTEST_SKIP() << "unzip is not installed";
  TempFolder tmp;
  const std::string text = "enciphered by the traditional cipher\n";
  const uint32_t crc = Crc32Update(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
  TSeedKeyValues keys;
  auto head = MakeEncryptionHeader(keys, kPublishedKeys, "secret", crc);
  std::vector<uint8_t> body(head.begin(), head.end());
  body.insert(body.end(), text.begin(), text.end());
  EncipherBuffer(keys, body.data() + 12, text.size());

  const std::string name = "t.txt";
  std::vector<uint8_t> zip(TLocalFileHeader::kSize);
  TLocalFileHeader l;
  l.GeneralPurpose = 1;
  l.FileTime = 0x58A16C20;
  l.CRC32 = crc;
  l.CompressedSize = static_cast<uint32_t>(body.size());
  l.UncompressedSize = static_cast<uint32_t>(text.size());
  l.FileNameLength = static_cast<uint16_t>(name.size());
  l.Serialize(zip.data());
  Append(zip, name);
  zip.insert(zip.end(), body.begin(), body.end());
  const auto cdPos = static_cast<uint32_t>(zip.size());
  TCentralFileHeader c;
  c.GeneralPurpose = 1;
  c.FileTime = l.FileTime;
  c.CRC32 = crc;
  c.CompressedSize = l.CompressedSize;
  c.UncompressedSize = l.UncompressedSize;
  c.FileNameLength = l.FileNameLength;
  c.ExternalAttributes = 0x20;
  std::vector<uint8_t> rec(TCentralFileHeader::kSize);
  c.Serialize(rec.data());
  zip.insert(zip.end(), rec.begin(), rec.end());
  Append(zip, name);
  TEndOfCentralDir e;
  e.EntriesOnThisDisk = e.TotalEntries = 1;
  e.CentralDirSize = static_cast<uint32_t>(zip.size()) - cdPos;
  e.CentralDirOffset = cdPos;
  rec.assign(TEndOfCentralDir::kSize, 0);
  e.Serialize(rec.data());
  zip.insert(zip.end(), rec.begin(), rec.end());
  WriteAll(tmp / "ours.zip", zip);
  EXPECT_TRUE(RunShell("unzip -t -P secret " + Quote(tmp / "ours.zip")));
  EXPECT_FALSE(RunShell("unzip -t -P wrong " + Quote(tmp / "ours.zip")));
}

}  // namespace
}  // namespace tessavar
