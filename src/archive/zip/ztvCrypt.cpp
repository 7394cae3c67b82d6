#include "archive/zip/ztvCrypt.h"

#include <random>

#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

void UpdateKeys(TSeedKeyValues& keys, uint8_t plain) {
  const uint32_t* table = Crc32Table();
  keys.Key0 = table[(keys.Key0 ^ plain) & 0xFF] ^ (keys.Key0 >> 8);
  keys.Key1 = (keys.Key1 + (keys.Key0 & 0xFF)) * 134775813u + 1u;
  keys.Key2 = table[(keys.Key2 ^ (keys.Key1 >> 24)) & 0xFF] ^ (keys.Key2 >> 8);
}

uint8_t KeystreamByte(const TSeedKeyValues& keys) {
  uint32_t t = (keys.Key2 & 0xFFFF) | 2u;
  return static_cast<uint8_t>(((t * (t ^ 1u)) >> 8) & 0xFF);
}

uint8_t EncipherByte(TSeedKeyValues& keys, uint8_t plain) {
  uint8_t k = KeystreamByte(keys);
  UpdateKeys(keys, plain);
  return static_cast<uint8_t>(plain ^ k);
}

uint8_t DecipherByte(TSeedKeyValues& keys, uint8_t cipher) {
  uint8_t plain = static_cast<uint8_t>(cipher ^ KeystreamByte(keys));
  UpdateKeys(keys, plain);
  return plain;
}

void EncipherBuffer(TSeedKeyValues& keys, uint8_t* buffer, size_t count) {
  for (size_t i = 0; i < count; ++i) buffer[i] = EncipherByte(keys, buffer[i]);
}

void DecipherBuffer(TSeedKeyValues& keys, uint8_t* buffer, size_t count) {
  for (size_t i = 0; i < count; ++i) buffer[i] = DecipherByte(keys, buffer[i]);
}

// Taking the length modulo 256 would turn a 256-byte password into no
// password at all (keys = seed, readable by anyone), so every byte counts;
// that is also what other ZIP programs do.
void SetupDataKeys(TSeedKeyValues& keys, const TSeedKeyValues& seed, std::string_view password) {
  keys = seed;
  for (char c : password) UpdateKeys(keys, static_cast<uint8_t>(c));
}

std::array<uint8_t, kEncryptionHeaderSize> MakeEncryptionHeader(TSeedKeyValues& keys, const TSeedKeyValues& seed,
                                                                 std::string_view password, uint32_t crc32) {
  std::array<uint8_t, kEncryptionHeaderSize> header{};
  // The random bytes keep equal plain texts under one password from giving
  // equal key streams, so they must not repeat between entries or runs.
  std::random_device rd;
  for (size_t i = 0; i < 10; i += 4) {
    uint32_t r = rd();
    for (size_t j = i; j < i + 4 && j < 10; ++j) {
      header[j] = static_cast<uint8_t>(r);
      r >>= 8;
    }
  }
  header[10] = static_cast<uint8_t>(crc32 >> 16);
  header[11] = static_cast<uint8_t>(crc32 >> 24);
  SetupDataKeys(keys, seed, password);
  EncipherBuffer(keys, header.data(), header.size());
  return header;
}

bool CheckEncryptionHeader(TSeedKeyValues& keys, const TSeedKeyValues& seed, const uint8_t enc[kEncryptionHeaderSize],
                           uint16_t generalPurpose, uint32_t crc32, uint32_t fileTime, std::string_view password) {
  if (password.empty()) return false;
  SetupDataKeys(keys, seed, password);
  std::array<uint8_t, kEncryptionHeaderSize> copy;
  for (size_t i = 0; i < copy.size(); ++i) copy[i] = enc[i];
  DecipherBuffer(keys, copy.data(), copy.size());
  // With a data descriptor the CRC was unknown when the header was written,
  // so writers put the time's high byte there instead.
  uint8_t check = (generalPurpose & 0x0008) ? static_cast<uint8_t>(fileTime >> 8) : static_cast<uint8_t>(crc32 >> 24);
  return copy[11] == check;
}

void EncipherHeaderRecord(uint8_t* record, size_t recordSize, TSeedKeyValues& keys, const TSeedKeyValues& seed) {
  keys = seed;
  if (recordSize > 4) EncipherBuffer(keys, record + 4, recordSize - 4);
}

void DecipherHeaderRecord(uint8_t* record, size_t recordSize, TSeedKeyValues& keys, const TSeedKeyValues& seed) {
  keys = seed;
  if (recordSize > 4) DecipherBuffer(keys, record + 4, recordSize - 4);
}

void EncipherHeaderName(TSeedKeyValues& keys, uint8_t* name, size_t length) { EncipherBuffer(keys, name, length); }

void DecipherHeaderName(TSeedKeyValues& keys, uint8_t* name, size_t length) { DecipherBuffer(keys, name, length); }

}  // namespace tessavar
