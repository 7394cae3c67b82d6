#include "archive/zip/ztvZipRecords.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "archive/zip/ztvCrypt.h"

namespace tessavar {

// ---- Signatures ----

TSignatureClass ClassifySignature(uint32_t value, THeaderType expected) {
  switch (expected) {
    case htLocal:
      if (value == LOCAL_FILE_HEADER_SIGNATURE) return {htLocal, false};
      if (value == LOCAL_FILE_ENCRPT_SIGNATURE) return {htLocal, true};
      break;
    case htCentral:
      if (value == CENTRAL_FILE_HEADER_SIGNATURE) return {htCentral, false};
      if (value == CENTRAL_FILE_ENCRPT_SIGNATURE) return {htCentral, true};
      break;
    case htEnding:
      if (value == END_OF_CENTRAL_SIGNATURE || value == END_OF_CENTRAL_LARGE_SIGNATURE) return {htEnding, false};
      if (value == END_OF_CENTRAL_ENCRPT_SIGNATURE || value == END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE)
        return {htEnding, true};
      break;
    default:
      break;
  }
  return {};
}

uint32_t HeaderSignature(THeaderType kind, bool encrypted) {
  switch (kind) {
    case htLocal:
      return encrypted ? LOCAL_FILE_ENCRPT_SIGNATURE : LOCAL_FILE_HEADER_SIGNATURE;
    case htCentral:
      return encrypted ? CENTRAL_FILE_ENCRPT_SIGNATURE : CENTRAL_FILE_HEADER_SIGNATURE;
    case htEnding:
      // End records are never written header-encrypted.
      return END_OF_CENTRAL_SIGNATURE;
    default:
      return SPANNED_MARKER_SIGNATURE;
  }
}

// ---- Records ----

TLocalFileHeader TLocalFileHeader::Parse(const uint8_t* p) {
  TLocalFileHeader h;
  h.Signature = GetU32(p);
  h.VersionNeeded = GetU16(p + 4);
  h.GeneralPurpose = GetU16(p + 6);
  h.Method = GetU16(p + 8);
  h.FileTime = GetU32(p + 10);
  h.CRC32 = GetU32(p + 14);
  h.CompressedSize = GetU32(p + 18);
  h.UncompressedSize = GetU32(p + 22);
  h.FileNameLength = GetU16(p + 26);
  h.ExtraFieldLength = GetU16(p + 28);
  return h;
}

void TLocalFileHeader::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU16(p + 4, VersionNeeded);
  PutU16(p + 6, GeneralPurpose);
  PutU16(p + 8, Method);
  PutU32(p + 10, FileTime);
  PutU32(p + 14, CRC32);
  PutU32(p + 18, CompressedSize);
  PutU32(p + 22, UncompressedSize);
  PutU16(p + 26, FileNameLength);
  PutU16(p + 28, ExtraFieldLength);
}

TCentralFileHeader TCentralFileHeader::Parse(const uint8_t* p) {
  TCentralFileHeader h;
  h.Signature = GetU32(p);
  h.VersionMadeBy = GetU16(p + 4);
  h.VersionNeeded = GetU16(p + 6);
  h.GeneralPurpose = GetU16(p + 8);
  h.Method = GetU16(p + 10);
  h.FileTime = GetU32(p + 12);
  h.CRC32 = GetU32(p + 16);
  h.CompressedSize = GetU32(p + 20);
  h.UncompressedSize = GetU32(p + 24);
  h.FileNameLength = GetU16(p + 28);
  h.ExtraFieldLength = GetU16(p + 30);
  h.FileCommentLength = GetU16(p + 32);
  h.DiskNumberStart = GetU16(p + 34);
  h.InternalAttributes = GetU16(p + 36);
  h.ExternalAttributes = GetU32(p + 38);
  h.RelativeOffset = GetU32(p + 42);
  return h;
}

void TCentralFileHeader::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU16(p + 4, VersionMadeBy);
  PutU16(p + 6, VersionNeeded);
  PutU16(p + 8, GeneralPurpose);
  PutU16(p + 10, Method);
  PutU32(p + 12, FileTime);
  PutU32(p + 16, CRC32);
  PutU32(p + 20, CompressedSize);
  PutU32(p + 24, UncompressedSize);
  PutU16(p + 28, FileNameLength);
  PutU16(p + 30, ExtraFieldLength);
  PutU16(p + 32, FileCommentLength);
  PutU16(p + 34, DiskNumberStart);
  PutU16(p + 36, InternalAttributes);
  PutU32(p + 38, ExternalAttributes);
  PutU32(p + 42, RelativeOffset);
}

TEndOfCentralDir TEndOfCentralDir::Parse(const uint8_t* p) {
  TEndOfCentralDir e;
  e.Signature = GetU32(p);
  e.NumberOfThisDisk = GetU16(p + 4);
  e.DiskWithCentralDir = GetU16(p + 6);
  e.EntriesOnThisDisk = GetU16(p + 8);
  e.TotalEntries = GetU16(p + 10);
  e.CentralDirSize = GetU32(p + 12);
  e.CentralDirOffset = GetU32(p + 16);
  e.CommentLength = GetU16(p + 20);
  return e;
}

void TEndOfCentralDir::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU16(p + 4, NumberOfThisDisk);
  PutU16(p + 6, DiskWithCentralDir);
  PutU16(p + 8, EntriesOnThisDisk);
  PutU16(p + 10, TotalEntries);
  PutU32(p + 12, CentralDirSize);
  PutU32(p + 16, CentralDirOffset);
  PutU16(p + 20, CommentLength);
}

TLargeEndOfCentralDir TLargeEndOfCentralDir::Parse(const uint8_t* p) {
  TLargeEndOfCentralDir e;
  e.Signature = GetU32(p);
  e.NumberOfThisDisk = GetU16(p + 4);
  e.DiskWithCentralDir = GetU16(p + 6);
  e.EntriesOnThisDisk = GetU16(p + 8);
  e.TotalEntries = GetU16(p + 10);
  e.CentralDirSize = GetU32(p + 12);
  e.CentralDirOffset = GetU64(p + 16);
  e.CommentLength = GetU16(p + 24);
  return e;
}

void TLargeEndOfCentralDir::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU16(p + 4, NumberOfThisDisk);
  PutU16(p + 6, DiskWithCentralDir);
  PutU16(p + 8, EntriesOnThisDisk);
  PutU16(p + 10, TotalEntries);
  PutU32(p + 12, CentralDirSize);
  PutU64(p + 16, CentralDirOffset);
  PutU16(p + 24, CommentLength);
}

TZip64EndLocator TZip64EndLocator::Parse(const uint8_t* p) {
  TZip64EndLocator l;
  l.Signature = GetU32(p);
  l.DiskWithZip64End = GetU32(p + 4);
  l.Zip64EndOffset = GetU64(p + 8);
  l.TotalDisks = GetU32(p + 16);
  return l;
}

void TZip64EndLocator::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU32(p + 4, DiskWithZip64End);
  PutU64(p + 8, Zip64EndOffset);
  PutU32(p + 16, TotalDisks);
}

TZip64EndOfCentralDir TZip64EndOfCentralDir::Parse(const uint8_t* p) {
  TZip64EndOfCentralDir e;
  e.Signature = GetU32(p);
  e.RecordSize = GetU64(p + 4);
  e.VersionMadeBy = GetU16(p + 12);
  e.VersionNeeded = GetU16(p + 14);
  e.NumberOfThisDisk = GetU32(p + 16);
  e.DiskWithCentralDir = GetU32(p + 20);
  e.EntriesOnThisDisk = GetU64(p + 24);
  e.TotalEntries = GetU64(p + 32);
  e.CentralDirSize = GetU64(p + 40);
  e.CentralDirOffset = GetU64(p + 48);
  return e;
}

void TZip64EndOfCentralDir::Serialize(uint8_t* p) const {
  PutU32(p, Signature);
  PutU64(p + 4, RecordSize);
  PutU16(p + 12, VersionMadeBy);
  PutU16(p + 14, VersionNeeded);
  PutU32(p + 16, NumberOfThisDisk);
  PutU32(p + 20, DiskWithCentralDir);
  PutU64(p + 24, EntriesOnThisDisk);
  PutU64(p + 32, TotalEntries);
  PutU64(p + 40, CentralDirSize);
  PutU64(p + 48, CentralDirOffset);
}

// ---- Extra field ----

namespace {

constexpr uint16_t kTagZip64 = 0x0001;
constexpr uint16_t kTagSizeExtension = 0x0064;
constexpr uint16_t kTagStrongEncryption = 0x0017;
constexpr uint16_t kTagAes = 0x9901;
constexpr uint16_t kTagUnicodePath = 0x7075;
constexpr uint32_t kZip64Marker = 0xFFFFFFFFu;

// One 8-byte zip64 value: the low 4 bytes replace the header field, the next
// 2 become its high word; the top 2 bytes are beyond what sizes may use.
void TakeZip64Value(const uint8_t* p, uint32_t& field, uint16_t& high) {
  field = GetU32(p);
  high = GetU16(p + 4);
}

void ReadZip64Record(const uint8_t* body, size_t size, THeaderType kind, uint32_t& compressedSize,
                     uint32_t& uncompressedSize, uint32_t* relativeOffset, TSizeHighWords& high) {
  const bool wantUncompressed = uncompressedSize == kZip64Marker;
  const bool wantCompressed = compressedSize == kZip64Marker;
  if (kind == htLocal && size >= 16) {
    // A local zip64 record of 16 bytes holds both sizes whichever header
    // field is marked, so each value has its fixed place.
    if (wantUncompressed) TakeZip64Value(body, uncompressedSize, high.UncompressedHigh);
    if (wantCompressed) TakeZip64Value(body + 8, compressedSize, high.CompressedHigh);
    return;
  }
  const bool wantOffset = kind != htLocal && relativeOffset != nullptr && *relativeOffset == kZip64Marker;
  size_t at = 0;
  if (wantUncompressed) {
    if (size - at < 8) return;
    TakeZip64Value(body + at, uncompressedSize, high.UncompressedHigh);
    at += 8;
  }
  if (wantCompressed) {
    if (size - at < 8) return;
    TakeZip64Value(body + at, compressedSize, high.CompressedHigh);
    at += 8;
  }
  if (wantOffset) {
    if (size - at < 8) return;
    TakeZip64Value(body + at, *relativeOffset, high.OffsetHigh);
  }
}

}  // namespace

void ReadExtraField(const uint8_t* data, size_t length, THeaderType kind, uint32_t& compressedSize,
                    uint32_t& uncompressedSize, uint32_t* relativeOffset, TSizeHighWords& high,
                    TExtraFieldRecords* records) {
  high = TSizeHighWords{};
  if (records) *records = TExtraFieldRecords{};
  if (data == nullptr) return;
  size_t pos = 0;
  while (length - pos >= 4) {
    const uint16_t tag = GetU16(data + pos);
    const uint16_t size = GetU16(data + pos + 2);
    high.Tag = tag;
    high.Size = size;
    const size_t left = length - pos - 4;
    if (size > left) break;  // the rest of the field cannot be trusted
    const uint8_t* body = data + pos + 4;
    switch (tag) {
      case kTagZip64:
        ReadZip64Record(body, size, kind, compressedSize, uncompressedSize, relativeOffset, high);
        break;
      case kTagSizeExtension:
        if (size >= 2) high.CompressedHigh = GetU16(body);
        if (size >= 4) high.UncompressedHigh = GetU16(body + 2);
        if (kind != htLocal && size >= 6) high.OffsetHigh = GetU16(body + 4);
        break;
      case kTagStrongEncryption:
        if (records) records->StrongEncryption.assign(data + pos, body + size);
        break;
      case kTagAes:
        if (records) {
          const size_t n = 4 + std::min<size_t>(size, records->Aes.size() - 4);
          std::memcpy(records->Aes.data(), data + pos, n);
          records->AesLength = static_cast<uint8_t>(n);
        }
        break;
      case kTagUnicodePath:
        if (records && size >= 5) {
          records->HasUnicodePath = true;
          records->UnicodePathVersion = body[0];
          records->UnicodePathCrc = GetU32(body + 1);
          records->UnicodePath.assign(reinterpret_cast<const char*>(body + 5), size - 5);
        }
        break;
      default:
        break;
    }
    pos += 4 + size;
  }
}

// ---- CRC ----

namespace {

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[i] = c;
  }
  return t;
}

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
  std::array<uint16_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001u : c >> 1;
    t[i] = static_cast<uint16_t>(c);
  }
  return t;
}

constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();
constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();

}  // namespace

const uint32_t* Crc32Table() { return kCrc32Table.data(); }
const uint16_t* Crc16Table() { return kCrc16Table.data(); }

uint32_t Crc32Update(const uint8_t* buffer, size_t length, uint32_t reg) {
  if (length == 0) return reg;
  // libdeflate (carry-less multiplication where the processor has it) presets
  // and finishes the register itself; undo both so callers keep the raw
  // register of the table loop.
  return libdeflate_crc32(reg ^ 0xFFFFFFFFu, buffer, length) ^ 0xFFFFFFFFu;
}

uint16_t Crc16Update(const uint8_t* buffer, size_t length, uint16_t reg) {
  for (size_t i = 0; i < length; ++i) reg = static_cast<uint16_t>(kCrc16Table[(reg ^ buffer[i]) & 0xFF] ^ (reg >> 8));
  return reg;
}

// ---- Byte sources ----

int64_t THandleSource::Size() {
  int64_t size = platform::FileSize(handle_);
  return size < 0 ? 0 : size;
}

int64_t THandleSource::ReadAt(int64_t pos, void* buf, int64_t n) {
  if (pos < 0 || n <= 0 || handle_ == platform::kInvalidHandle) return 0;
  if (platform::FileSeek(handle_, pos, platform::SeekOrigin::Begin) != pos) return 0;
  auto* out = static_cast<uint8_t*>(buf);
  int64_t done = 0;
  while (done < n) {
    int64_t got = platform::FileRead(handle_, out + done, n - done);
    if (got <= 0) break;
    done += got;
  }
  return done;
}

int64_t TMemorySource::ReadAt(int64_t pos, void* buf, int64_t n) {
  const auto size = static_cast<int64_t>(data_.size());
  if (pos < 0 || n <= 0 || pos >= size) return 0;
  const int64_t count = std::min(n, size - pos);
  std::memcpy(buf, data_.data() + pos, static_cast<size_t>(count));
  return count;
}

// ---- End-record search ----

namespace {

constexpr int64_t kSearchBlockSize = 32768;
constexpr int kLocalScanBlocks = 4;
constexpr int kBadFileHeaderCode = 25114;
// The zip64 end record sits directly before its locator, which sits
// directly before the end record.
constexpr int64_t kZip64EndDistance = TZip64EndOfCentralDir::kSize + TZip64EndLocator::kSize;

// A position outside the file (negative or past the end) is a short read.
bool ReadExact(TByteSource& src, int64_t pos, uint8_t* buf, int64_t n) {
  return pos >= 0 && src.ReadAt(pos, buf, n) == n;
}

// A 64-bit value read from the file as a file position; -1 when it cannot be one.
int64_t AsPosition(uint64_t value) {
  return value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? -1 : static_cast<int64_t>(value);
}

// end - size for a directory that ends at `end`; -1 when it would start before the file.
int64_t DirectoryBefore(int64_t end, uint64_t size) {
  return (end < 0 || size > static_cast<uint64_t>(end)) ? -1 : end - static_cast<int64_t>(size);
}

bool IsLargeEndSignature(uint32_t sig) {
  return sig == END_OF_CENTRAL_LARGE_SIGNATURE || sig == END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE;
}

int64_t Finish(TZipSearchState& st, int64_t result) {
  st.DirectoryStart = result;
  return result;
}

// No usable central directory: the first local header near the start of
// the file. The blocks are scanned as one stretch so that a signature across
// a block boundary is not missed.
int64_t LocalScan(TByteSource& src, int64_t blockLen, TZipSearchState& st) {
  std::vector<uint8_t> buf(static_cast<size_t>(blockLen) + 3);
  for (int b = 0; b < kLocalScanBlocks; ++b) {
    const int64_t start = b * blockLen;
    const int64_t got = src.ReadAt(start, buf.data(), static_cast<int64_t>(buf.size()));
    if (got <= 0) return b == 0 ? 0 : -1;
    const int64_t own = std::min(got, blockLen);
    for (int64_t p = 0; p < own && p + 4 <= got; ++p) {
      if (buf[static_cast<size_t>(p)] != 'P') continue;
      if (ClassifySignature(GetU32(&buf[static_cast<size_t>(p)]), htLocal).kind == htLocal) {
        st.FoundHeaders.Clear();
        st.FoundHeaders.Include(htLocal);
        return start + p;
      }
    }
    if (got < blockLen) break;
  }
  return -1;
}

}  // namespace

int64_t FindEndOfCentralDir(TByteSource& src, TZipSearchState& st) {
  st.FoundHeaders.Clear();
  st.OffsetBias = 0;
  st.DirectoryStart = 0;

  const int64_t size = src.Size();
  if (size <= 0) return Finish(st, 0);

  // The whole file when it is small: an empty archive is an end record at
  // the very first byte, and must read as intact rather than damaged.
  const int64_t blockLen = std::min(kSearchBlockSize, size);
  const int64_t blockStart = size - blockLen;
  std::vector<uint8_t> block(static_cast<size_t>(blockLen));
  if (blockLen < 4 || src.ReadAt(blockStart, block.data(), blockLen) != blockLen) return Finish(st, 0);

  // The end record nearest the end of the file whose fixed part fits in it;
  // a signature too close to the end cannot start a whole record.
  int64_t at = -1;
  uint32_t sig = 0;
  TSignatureClass cls;
  for (int64_t i = blockLen - 4; i >= 0; --i) {
    const uint32_t value = GetU32(&block[static_cast<size_t>(i)]);
    const TSignatureClass c = ClassifySignature(value, htEnding);
    if (c.kind != htEnding) continue;
    const int64_t recordSize = IsLargeEndSignature(value) ? TLargeEndOfCentralDir::kSize : TEndOfCentralDir::kSize;
    if (i + recordSize > blockLen) continue;
    at = i;
    sig = value;
    cls = c;
    break;
  }
  if (at < 0) return Finish(st, 0);

  const bool large = IsLargeEndSignature(sig);
  const int64_t recordSize = large ? TLargeEndOfCentralDir::kSize : TEndOfCentralDir::kSize;
  uint8_t* record = &block[static_cast<size_t>(at)];
  const int64_t endPos = blockStart + at;
  st.FoundHeaders.Include(htEnding);
  st.EndSignature = sig;
  st.EndPosition = endPos;
  if (cls.encrypted) {
    TSeedKeyValues keys;
    DecipherHeaderRecord(record, static_cast<size_t>(recordSize), keys, st.HeaderSeed);
  }

  st.Zip64Locator = TZip64EndLocator{};
  st.Zip64EndOfCentralDir = TZip64EndOfCentralDir{};
  uint8_t locator[TZip64EndLocator::kSize];
  if (ReadExact(src, endPos - TZip64EndLocator::kSize, locator, TZip64EndLocator::kSize) &&
      GetU32(locator) == ZIP64_END_LOCATOR_SIGNATURE) {
    st.FoundHeaders.Include(htLocator);
    st.Zip64Locator = TZip64EndLocator::Parse(locator);
    uint8_t end64[TZip64EndOfCentralDir::kSize];
    if (ReadExact(src, endPos - kZip64EndDistance, end64, TZip64EndOfCentralDir::kSize) &&
        GetU32(end64) == ZIP64_END_OF_CENTRAL_SIGNATURE) {
      st.FoundHeaders.Include(htEnding64);
      st.Zip64EndOfCentralDir = TZip64EndOfCentralDir::Parse(end64);
    }
  }

  // The candidate directory start, and for the fallback the place where the
  // directory must end, its size and the offset the record claims for it.
  int64_t candidate = -1;
  int64_t directoryEnd = endPos;
  uint64_t directorySize = 0;
  uint64_t claimedOffset = 0;
  if (large) {
    const TLargeEndOfCentralDir e = TLargeEndOfCentralDir::Parse(record);
    st.LargeEndOfCentralDir = e;
    st.LargeEndFound = true;
    TEndOfCentralDir& d = st.EndOfCentralDir;
    d.Signature = e.Signature;
    d.NumberOfThisDisk = e.NumberOfThisDisk;
    d.DiskWithCentralDir = e.DiskWithCentralDir;
    d.EntriesOnThisDisk = e.EntriesOnThisDisk;
    d.TotalEntries = e.TotalEntries;
    d.CentralDirSize = e.CentralDirSize;
    d.CentralDirOffset = static_cast<uint32_t>(std::min<uint64_t>(e.CentralDirOffset, 0xFFFFFFFFu));
    d.CommentLength = e.CommentLength;
    candidate = AsPosition(e.CentralDirOffset);
    directorySize = e.CentralDirSize;
    claimedOffset = e.CentralDirOffset;
  } else {
    const TEndOfCentralDir e = TEndOfCentralDir::Parse(record);
    st.EndOfCentralDir = e;
    st.LargeEndFound = false;
    if (st.FoundHeaders.Has(htEnding64)) {
      const TZip64EndOfCentralDir& z = st.Zip64EndOfCentralDir;
      candidate = DirectoryBefore(AsPosition(st.Zip64Locator.Zip64EndOffset), z.CentralDirSize);
      directoryEnd = endPos - kZip64EndDistance;
      directorySize = z.CentralDirSize;
      claimedOffset = z.CentralDirOffset;
    } else {
      candidate = DirectoryBefore(endPos, e.CentralDirSize);
      directorySize = e.CentralDirSize;
      claimedOffset = e.CentralDirOffset;
    }
  }
  const int64_t fallback = DirectoryBefore(directoryEnd, directorySize);

  if (st.OnComment) {
    const int64_t commentStart = endPos + recordSize;  // within the block: the record fits in it
    std::vector<uint8_t> comment(block.begin() + (commentStart - blockStart), block.end());
    st.OnComment(sig, endPos, candidate, comment);
  }

  uint8_t central[TCentralFileHeader::kSize];
  if (!ReadExact(src, candidate, central, TCentralFileHeader::kSize)) {
    candidate = fallback;
    if (!ReadExact(src, candidate, central, TCentralFileHeader::kSize)) return Finish(st, 0);
  }
  TSignatureClass centralClass = ClassifySignature(GetU32(central), htCentral);
  if (centralClass.kind != htCentral) {
    // The offsets may count from the start of archive data that was put
    // behind a stub: look where the directory must end instead.
    candidate = fallback;
    if (!ReadExact(src, candidate, central, TCentralFileHeader::kSize)) return Finish(st, 0);
    centralClass = ClassifySignature(GetU32(central), htCentral);
    if (centralClass.kind != htCentral || claimedOffset > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      return Finish(st, LocalScan(src, blockLen, st));
    st.OffsetBias = candidate - static_cast<int64_t>(claimedOffset);
  }

  st.FoundHeaders.Include(htCentral);
  const int64_t result = candidate;
  if (centralClass.encrypted) {
    TSeedKeyValues keys;
    DecipherHeaderRecord(central, TCentralFileHeader::kSize, keys, st.HeaderSeed);
  }
  st.CentralHeader = TCentralFileHeader::Parse(central);

  // The first entry's local header offset, with the high word its extra
  // field may give (zip64 writers store 0xFFFFFFFF in the fixed field).
  uint32_t compressed = st.CentralHeader.CompressedSize;
  uint32_t uncompressed = st.CentralHeader.UncompressedSize;
  uint32_t relative = st.CentralHeader.RelativeOffset;
  TSizeHighWords high;
  if (st.CentralHeader.ExtraFieldLength > 0) {
    std::vector<uint8_t> extra(st.CentralHeader.ExtraFieldLength);
    const int64_t got = src.ReadAt(result + TCentralFileHeader::kSize + st.CentralHeader.FileNameLength, extra.data(),
                                   static_cast<int64_t>(extra.size()));
    ReadExtraField(extra.data(), static_cast<size_t>(std::max<int64_t>(got, 0)), htCentral, compressed, uncompressed,
                   &relative, high);
  }
  int64_t localPos = 0;
  if (__builtin_add_overflow(Size64(relative, high.OffsetHigh), st.OffsetBias, &localPos) || localPos < 0 ||
      localPos > size) {
    if (st.ReportError) st.ReportError(kBadFileHeaderCode);
    return Finish(st, -1);
  }
  uint8_t local[TLocalFileHeader::kSize];
  auto localAt = [&](int64_t pos) {
    return ReadExact(src, pos, local, TLocalFileHeader::kSize) &&
           ClassifySignature(GetU32(local), htLocal).kind == htLocal;
  };
  if (!localAt(localPos) && st.OffsetBias == 0 && claimedOffset < static_cast<uint64_t>(candidate)) {
    // A stub was put in front of an archive whose offsets still count from
    // its own start: the directory lies as far behind its recorded offset as
    // every local header does. Taking that shift lets readers use the
    // offsets instead of searching for the headers.
    const int64_t shift = candidate - static_cast<int64_t>(claimedOffset);
    int64_t shifted = 0;
    if (!__builtin_add_overflow(localPos, shift, &shifted) && shifted <= size && localAt(shifted)) {
      st.OffsetBias = shift;
      localPos = shifted;
    }
  }
  if (ReadExact(src, localPos, local, TLocalFileHeader::kSize)) {
    const TSignatureClass localClass = ClassifySignature(GetU32(local), htLocal);
    if (localClass.kind == htLocal) {
      st.FoundHeaders.Include(htLocal);
      if (localClass.encrypted) {
        TSeedKeyValues keys;
        DecipherHeaderRecord(local, TLocalFileHeader::kSize, keys, st.HeaderSeed);
      }
      st.LocalHeader = TLocalFileHeader::Parse(local);
    }
  }
  return Finish(st, result);
}

}  // namespace tessavar
