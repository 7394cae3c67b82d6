#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/zip/ztvZipRecords.h"

namespace tessavar {
namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

uint32_t TableLoop32(const uint8_t* p, size_t n, uint32_t reg) {
  for (size_t i = 0; i < n; ++i) reg = Crc32Table()[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

TEST(Crc32, KnownVectors) {
  struct Case {
    std::string data;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Crc32Update(Bytes(c.data), c.data.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu, c.crc) << c.data;
  }
  EXPECT_EQ(Crc32Table()[0], 0u);
  EXPECT_EQ(Crc32Table()[1], 0x77073096u);
  EXPECT_EQ(Crc32Table()[255], 0x2D02EF8Du);
}

// The register is the caller's: any preset, any split of the data, and the
// fast path must agree with the table loop the cipher keys rely on.
TEST(Crc32, RegisterMatchesTableLoopOverRandomSplits) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> data(100000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (int round = 0; round < 50; ++round) {
    uint32_t preset = rng();
    size_t cut = rng() % data.size();
    uint32_t fast = Crc32Update(data.data(), cut, preset);
    fast = Crc32Update(data.data() + cut, data.size() - cut, fast);
    EXPECT_EQ(fast, TableLoop32(data.data(), data.size(), preset)) << "round " << round;
  }
  EXPECT_EQ(Crc32Update(nullptr, 0, 0x1234u), 0x1234u);
}

TEST(Crc16, ArcVectorsAndTable) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc16Update(Bytes(check), check.size(), 0), 0xBB3Du);
  EXPECT_EQ(Crc16Update(Bytes(check), 0, 0x5A5A), 0x5A5Au);
  EXPECT_EQ(Crc16Table()[1], 0xC0C1u);
  EXPECT_EQ(Crc16Table()[255], 0x4040u);
  // Updating in two parts continues the same register.
  uint16_t reg = Crc16Update(Bytes(check), 4, 0);
  EXPECT_EQ(Crc16Update(Bytes(check) + 4, 5, reg), 0xBB3Du);
}

}  // namespace
}  // namespace tessavar
