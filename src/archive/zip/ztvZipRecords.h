#pragma once
// ZIP record layouts, signatures, the extra field, the CRC registers and the
// end-record search. This header includes nothing above the shared types and
// the platform layer, so type detection in the frame can use it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "archive/frame/ztvTypes.h"
#include "platform/File.h"

namespace tessavar {

// ---- Signatures ----
inline constexpr uint32_t LOCAL_FILE_HEADER_SIGNATURE = 0x04034B50;
inline constexpr uint32_t LOCAL_FILE_ENCRPT_SIGNATURE = 0x04034C50;
inline constexpr uint32_t CENTRAL_FILE_HEADER_SIGNATURE = 0x02014B50;
inline constexpr uint32_t CENTRAL_FILE_ENCRPT_SIGNATURE = 0x02014C50;
inline constexpr uint32_t END_OF_CENTRAL_SIGNATURE = 0x06054B50;
inline constexpr uint32_t END_OF_CENTRAL_ENCRPT_SIGNATURE = 0x06054C50;
inline constexpr uint32_t END_OF_CENTRAL_LARGE_SIGNATURE = 0x06055B50;
inline constexpr uint32_t END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE = 0x06055C50;
inline constexpr uint32_t ZIP64_END_LOCATOR_SIGNATURE = 0x07064B50;
inline constexpr uint32_t ZIP64_END_OF_CENTRAL_SIGNATURE = 0x06064B50;
inline constexpr uint32_t SPANNED_MARKER_SIGNATURE = 0x08074B50;

struct TSignatureClass {
  THeaderType kind = htNone;
  bool encrypted = false;
};
// Recognises only the signatures of `expected` (htEnding covers both sizes).
TSignatureClass ClassifySignature(uint32_t value, THeaderType expected);
// The signature to write for a kind; htEnding gives the plain 22-byte end
// signature, later kinds the spanning marker.
uint32_t HeaderSignature(THeaderType kind, bool encrypted);

// ---- Little-endian helpers ----
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) { return GetU32(p) | (static_cast<uint64_t>(GetU32(p + 4)) << 32); }
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- Records (fields in file order; Parse/Serialize use the exact sizes) ----
struct TLocalFileHeader {
  static constexpr int kSize = 30;
  uint32_t Signature = LOCAL_FILE_HEADER_SIGNATURE;
  uint16_t VersionNeeded = 20;
  uint16_t GeneralPurpose = 0;
  uint16_t Method = 0;
  uint32_t FileTime = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  static TLocalFileHeader Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

struct TCentralFileHeader {
  static constexpr int kSize = 46;
  uint32_t Signature = CENTRAL_FILE_HEADER_SIGNATURE;
  uint16_t VersionMadeBy = 20;
  uint16_t VersionNeeded = 20;
  uint16_t GeneralPurpose = 0;
  uint16_t Method = 0;
  uint32_t FileTime = 0;
  uint32_t CRC32 = 0;
  uint32_t CompressedSize = 0;
  uint32_t UncompressedSize = 0;
  uint16_t FileNameLength = 0;
  uint16_t ExtraFieldLength = 0;
  uint16_t FileCommentLength = 0;
  uint16_t DiskNumberStart = 0;
  uint16_t InternalAttributes = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t RelativeOffset = 0;
  static TCentralFileHeader Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

struct TEndOfCentralDir {
  static constexpr int kSize = 22;
  uint32_t Signature = END_OF_CENTRAL_SIGNATURE;
  uint16_t NumberOfThisDisk = 0;
  uint16_t DiskWithCentralDir = 0;
  uint16_t EntriesOnThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint32_t CentralDirOffset = 0;
  uint16_t CommentLength = 0;
  static TEndOfCentralDir Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

struct TLargeEndOfCentralDir {
  static constexpr int kSize = 26;
  uint32_t Signature = END_OF_CENTRAL_LARGE_SIGNATURE;
  uint16_t NumberOfThisDisk = 0;
  uint16_t DiskWithCentralDir = 0;
  uint16_t EntriesOnThisDisk = 0;
  uint16_t TotalEntries = 0;
  uint32_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
  uint16_t CommentLength = 0;
  static TLargeEndOfCentralDir Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

struct TZip64EndLocator {
  static constexpr int kSize = 20;
  uint32_t Signature = ZIP64_END_LOCATOR_SIGNATURE;
  uint32_t DiskWithZip64End = 0;
  uint64_t Zip64EndOffset = 0;
  uint32_t TotalDisks = 0;
  static TZip64EndLocator Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

struct TZip64EndOfCentralDir {
  static constexpr int kSize = 56;
  uint32_t Signature = ZIP64_END_OF_CENTRAL_SIGNATURE;
  uint64_t RecordSize = 44;
  uint16_t VersionMadeBy = 45;
  uint16_t VersionNeeded = 45;
  uint32_t NumberOfThisDisk = 0;
  uint32_t DiskWithCentralDir = 0;
  uint64_t EntriesOnThisDisk = 0;
  uint64_t TotalEntries = 0;
  uint64_t CentralDirSize = 0;
  uint64_t CentralDirOffset = 0;
  static TZip64EndOfCentralDir Parse(const uint8_t* p);
  void Serialize(uint8_t* p) const;
};

// High words of sizes and offsets found in the extra field; zeroed before
// each extra field is read.
struct TSizeHighWords {
  uint16_t Tag = 0;
  uint16_t Size = 0;
  uint16_t CompressedHigh = 0;
  uint16_t UncompressedHigh = 0;
  uint16_t OffsetHigh = 0;
};

// An entry's size or offset: the 32-bit header field extended by its high word.
inline int64_t Size64(uint32_t low, uint16_t high) {
  return static_cast<int64_t>(low) | (static_cast<int64_t>(high) << 32);
}

// Extra-field records the directory reader and the extractors look at later.
// They are kept as found; nothing here is validated.
struct TExtraFieldRecords {
  // 0x0017, its 4-byte head included (bounded by the 16-bit extra length).
  std::vector<uint8_t> StrongEncryption;
  // 0x9901: the 4-byte head and at most 7 data bytes; AesLength bytes are valid.
  std::array<uint8_t, 11> Aes{};
  uint8_t AesLength = 0;
  // 0x7075 Unicode path: version byte, CRC-32 of the header's name, UTF-8 name.
  bool HasUnicodePath = false;
  uint8_t UnicodePathVersion = 0;
  uint32_t UnicodePathCrc = 0;
  std::string UnicodePath;
};

// Interprets an extra field of a local (htLocal) or central (htCentral)
// header. The zip64 record replaces the 32-bit fields it stands for and sets
// their high words; `relativeOffset` is only used for a central header and
// may be null. `high` is zeroed first. A record that claims more bytes than
// are left ends the parse. `records` may be null.
void ReadExtraField(const uint8_t* data, size_t length, THeaderType kind, uint32_t& compressedSize,
                    uint32_t& uncompressedSize, uint32_t* relativeOffset, TSizeHighWords& high,
                    TExtraFieldRecords* records = nullptr);
inline void ReadExtraField(const uint8_t* data, size_t length, TLocalFileHeader& header, TSizeHighWords& high,
                           TExtraFieldRecords* records = nullptr) {
  ReadExtraField(data, length, htLocal, header.CompressedSize, header.UncompressedSize, nullptr, high, records);
}
inline void ReadExtraField(const uint8_t* data, size_t length, TCentralFileHeader& header, TSizeHighWords& high,
                           TExtraFieldRecords* records = nullptr) {
  ReadExtraField(data, length, htCentral, header.CompressedSize, header.UncompressedSize, &header.RelativeOffset,
                 high, records);
}

// ---- CRC registers: the caller presets (0xFFFFFFFF / 0) and finishes ----
uint32_t Crc32Update(const uint8_t* buffer, size_t length, uint32_t reg);
uint16_t Crc16Update(const uint8_t* buffer, size_t length, uint16_t reg);
const uint32_t* Crc32Table();
const uint16_t* Crc16Table();

// ---- Random-access input of the end-record search ----
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual int64_t Size() = 0;
  // Bytes read into `buf`; fewer than `n` only at the end of the data or on
  // a read failure, 0 for a position outside the data. Never throws.
  virtual int64_t ReadAt(int64_t pos, void* buf, int64_t n) = 0;
};

// Reads an open file; the handle stays the caller's and its position moves.
class THandleSource : public TByteSource {
 public:
  explicit THandleSource(platform::FileHandle handle) : handle_(handle) {}
  int64_t Size() override;
  int64_t ReadAt(int64_t pos, void* buf, int64_t n) override;

 private:
  platform::FileHandle handle_;
};

// Reads bytes held by the caller, who keeps them alive.
class TMemorySource : public TByteSource {
 public:
  explicit TMemorySource(std::span<const uint8_t> data) : data_(data) {}
  TMemorySource(const uint8_t* data, size_t size) : data_(data, size) {}
  int64_t Size() override { return static_cast<int64_t>(data_.size()); }
  int64_t ReadAt(int64_t pos, void* buf, int64_t n) override;

 private:
  std::span<const uint8_t> data_;
};

// ---- End of central directory search ----

// The frame's default header seed (kDefaultHeaderSeed); repeated here because
// this header must not include the frame's component header.
inline constexpr TSeedKeyValues kZipDefaultHeaderSeed{0x3C61A9D4u, 0x0B7E2F15u, 0x4D90C6E2u};

// What the search found about the current archive. The search resets
// FoundHeaders, OffsetBias and DirectoryStart; the stored records keep their
// last values until a record of their kind is found again.
struct TZipSearchState {
  THeaderTypeState FoundHeaders;
  int64_t DirectoryStart = 0;
  // Added to every stored local-header offset. Wider than the 32 bits it
  // stands for, so that hostile offsets cannot overflow it.
  int64_t OffsetBias = 0;
  // The end record's signature as found (plain or encrypted, 22 or 26 bytes)
  // and the file position of that signature.
  uint32_t EndSignature = 0;
  int64_t EndPosition = -1;

  TLocalFileHeader LocalHeader;      // deciphered when it was in encrypted form
  TCentralFileHeader CentralHeader;  // the first central header, deciphered
  // Always the found end record's fields (for a 26-byte record its offset is
  // clipped to 0xFFFFFFFF), so readers find the disk numbers in one place.
  TEndOfCentralDir EndOfCentralDir;
  TLargeEndOfCentralDir LargeEndOfCentralDir;  // valid when LargeEndFound
  bool LargeEndFound = false;
  TZip64EndLocator Zip64Locator;              // valid with htLocator
  TZip64EndOfCentralDir Zip64EndOfCentralDir;  // valid with htEnding64

  // Header-encrypted end and central records are deciphered with fresh keys
  // from this seed.
  TSeedKeyValues HeaderSeed = kZipDefaultHeaderSeed;

  // Called with 25114 (E_BADHEADER, "Bad file header") when the first local
  // header lies outside the file.
  std::function<void(int code)> ReportError;
  // Receives the archive comment: every byte after the end record's fixed
  // part. Called once per found end record, with an empty comment too.
  std::function<void(uint32_t signature, int64_t endPos, int64_t candidate, const std::vector<uint8_t>& comment)>
      OnComment;
};

// Returns the start of the central directory, the first local header in
// local-only mode (FoundHeaders exactly {htLocal}), 0 when no end record was
// found, or -1 when the archive cannot be used. Never throws (apart from
// what the callbacks throw) and reads nothing outside the source.
int64_t FindEndOfCentralDir(TByteSource& src, TZipSearchState& st);

}  // namespace tessavar
