#pragma once
// The traditional ZIP stream cipher. Every operation works on a key set the
// caller owns, so two components can cipher at the same time; set-ups start
// from a seed triple the caller passes in.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/frame/ztvTypes.h"

namespace tessavar {

inline constexpr size_t kEncryptionHeaderSize = 12;

void UpdateKeys(TSeedKeyValues& keys, uint8_t plain);
uint8_t KeystreamByte(const TSeedKeyValues& keys);
uint8_t EncipherByte(TSeedKeyValues& keys, uint8_t plain);
uint8_t DecipherByte(TSeedKeyValues& keys, uint8_t cipher);
void EncipherBuffer(TSeedKeyValues& keys, uint8_t* buffer, size_t count);
void DecipherBuffer(TSeedKeyValues& keys, uint8_t* buffer, size_t count);

// keys := seed, then every password byte runs through the key update. All
// bytes of the password are used, also beyond 255.
void SetupDataKeys(TSeedKeyValues& keys, const TSeedKeyValues& seed, std::string_view password);

// The enciphered 12 bytes in front of an entry's data: ten random bytes and
// bits 16-31 of the CRC. Leaves `keys` ready for the entry's data.
std::array<uint8_t, kEncryptionHeaderSize> MakeEncryptionHeader(TSeedKeyValues& keys, const TSeedKeyValues& seed,
                                                                 std::string_view password, uint32_t crc32);

// Deciphers a copy of `enc` and compares its last byte with the check byte:
// bits 8-15 of fileTime when generalPurpose bit 3 is set, else bits 24-31 of
// crc32. An empty password is refused. After a pass `keys` are ready for the
// entry's data. About one wrong password in 256 passes.
bool CheckEncryptionHeader(TSeedKeyValues& keys, const TSeedKeyValues& seed, const uint8_t enc[kEncryptionHeaderSize],
                           uint16_t generalPurpose, uint32_t crc32, uint32_t fileTime, std::string_view password);

// Header records: keys := seed, then the bytes after the 4-byte signature of
// a record of `recordSize` bytes (30 local, 46 central, 22 or 26 end) are
// ciphered in place. The keys are left where the record's name continues.
void EncipherHeaderRecord(uint8_t* record, size_t recordSize, TSeedKeyValues& keys, const TSeedKeyValues& seed);
void DecipherHeaderRecord(uint8_t* record, size_t recordSize, TSeedKeyValues& keys, const TSeedKeyValues& seed);
// The name after a header record, with the keys its record left.
void EncipherHeaderName(TSeedKeyValues& keys, uint8_t* name, size_t length);
void DecipherHeaderName(TSeedKeyValues& keys, uint8_t* name, size_t length);

}  // namespace tessavar
