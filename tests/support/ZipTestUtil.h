#pragma once
// Shared by the ZIP record tests: the fixture manifest, a builder of small
// synthetic archives with every layout the end-record search must handle,
// and a few helpers around external tools.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "Json.h"
#include "TestSupport.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar::test::zip {

struct ManifestEntry {
  std::string name;
  bool dir = false;
  int64_t size = 0;
  uint32_t crc32 = 0;
  int method = 0;
  bool encrypted = false;
};

struct ManifestArchive {
  std::string file;
  std::optional<std::string> password;
  std::string notes;
  std::vector<ManifestEntry> entries;
};

inline std::filesystem::path ZipFixtures() { return FixturesDir() / "zip"; }

inline std::vector<ManifestArchive> LoadZipManifest() {
  Json root = Json::ParseFile(ZipFixtures() / "MANIFEST.json");
  std::vector<ManifestArchive> out;
  for (const Json& a : root.items) {
    ManifestArchive m;
    m.file = a["file"].Str();
    if (a["password"].kind == Json::Kind::String) m.password = a["password"].Str();
    m.notes = a["notes"].Str();
    for (const Json& e : a["entries"].items) {
      ManifestEntry me;
      me.name = e["name"].Str();
      me.dir = e["dir"].Bool();
      me.size = e["size"].Int();
      me.crc32 = static_cast<uint32_t>(std::stoul(e["crc32"].Str("0"), nullptr, 16));
      me.method = static_cast<int>(e["method"].Int());
      me.encrypted = e["encrypted"].Bool();
      m.entries.push_back(me);
    }
    out.push_back(std::move(m));
  }
  return out;
}

// Raw deflate (no zlib header), as ZIP method 8 stores it.
inline std::string RawDeflate(const std::string& in, int level = 6) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, static_cast<uLong>(in.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// ---- Synthetic archives ----

struct SynthEntry {
  std::string name;
  std::string data;
};

struct SynthOptions {
  std::vector<uint8_t> prefix;     // a stub in front of the archive data
  bool adjustOffsets = false;      // offsets count from the file start (else from the archive data)
  std::string comment;
  bool largeEnd = false;           // the 26-byte end record
  bool zip64 = false;              // zip64 end record and locator, 0xFFFFFFFF in the end record
  bool zip64Offsets = false;       // central offsets as 0xFFFFFFFF with a zip64 extra field
  bool encryptHeaders = false;     // local and central headers in "PL" form
  bool encryptEnd = false;         // the end record in its encrypted form
  TSeedKeyValues seed = kZipDefaultHeaderSeed;
};

struct SynthLayout {
  std::vector<int64_t> localPos;   // file positions
  int64_t centralPos = 0;
  int64_t endPos = 0;
  int64_t zip64EndPos = -1;
  std::vector<TCentralFileHeader> central;  // as written, before header encryption
};

inline void Append(std::vector<uint8_t>& out, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
inline void Append(std::vector<uint8_t>& out, const std::string& s) {
  Append(out, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

// Stored entries, a central directory and the chosen end records.
inline std::vector<uint8_t> BuildZip(const std::vector<SynthEntry>& entries, const SynthOptions& o,
                                     SynthLayout* layout = nullptr) {
  SynthLayout lay;
  std::vector<uint8_t> out = o.prefix;
  const int64_t shift = o.adjustOffsets ? 0 : static_cast<int64_t>(o.prefix.size());
  TSeedKeyValues keys;
  for (const SynthEntry& e : entries) {
    lay.localPos.push_back(static_cast<int64_t>(out.size()));
    TLocalFileHeader h;
    h.Signature = HeaderSignature(htLocal, o.encryptHeaders);
    h.FileTime = 0x58A16C20;
    h.CRC32 = Crc32Update(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
    h.CompressedSize = h.UncompressedSize = static_cast<uint32_t>(e.data.size());
    h.FileNameLength = static_cast<uint16_t>(e.name.size());
    uint8_t rec[TLocalFileHeader::kSize];
    h.Serialize(rec);
    std::string name = e.name;
    if (o.encryptHeaders) {
      EncipherHeaderRecord(rec, sizeof rec, keys, o.seed);
      EncipherHeaderName(keys, reinterpret_cast<uint8_t*>(name.data()), name.size());
    }
    Append(out, rec, sizeof rec);
    Append(out, name);
    Append(out, e.data);
  }
  lay.centralPos = static_cast<int64_t>(out.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const SynthEntry& e = entries[i];
    TCentralFileHeader c;
    c.Signature = HeaderSignature(htCentral, o.encryptHeaders);
    c.FileTime = 0x58A16C20;
    c.CRC32 = Crc32Update(reinterpret_cast<const uint8_t*>(e.data.data()), e.data.size(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
    c.CompressedSize = c.UncompressedSize = static_cast<uint32_t>(e.data.size());
    c.FileNameLength = static_cast<uint16_t>(e.name.size());
    c.InternalAttributes = 1;
    c.ExternalAttributes = 0x20;
    const uint64_t rel = static_cast<uint64_t>(lay.localPos[i] - shift);
    uint8_t extra[12];
    if (o.zip64Offsets) {
      c.RelativeOffset = 0xFFFFFFFFu;
      c.ExtraFieldLength = sizeof extra;
      PutU16(extra, 0x0001);
      PutU16(extra + 2, 8);
      PutU64(extra + 4, rel);
    } else {
      c.RelativeOffset = static_cast<uint32_t>(rel);
    }
    lay.central.push_back(c);
    uint8_t rec[TCentralFileHeader::kSize];
    c.Serialize(rec);
    std::string name = e.name;
    if (o.encryptHeaders) {
      EncipherHeaderRecord(rec, sizeof rec, keys, o.seed);
      EncipherHeaderName(keys, reinterpret_cast<uint8_t*>(name.data()), name.size());
    }
    Append(out, rec, sizeof rec);
    Append(out, name);
    if (o.zip64Offsets) Append(out, extra, sizeof extra);
  }
  const uint64_t cdSize = out.size() - static_cast<uint64_t>(lay.centralPos);
  const uint64_t cdOffset = static_cast<uint64_t>(lay.centralPos - shift);
  if (o.zip64) {
    lay.zip64EndPos = static_cast<int64_t>(out.size());
    TZip64EndOfCentralDir z;
    z.EntriesOnThisDisk = z.TotalEntries = entries.size();
    z.CentralDirSize = cdSize;
    z.CentralDirOffset = cdOffset;
    uint8_t rec[TZip64EndOfCentralDir::kSize];
    z.Serialize(rec);
    Append(out, rec, sizeof rec);
    TZip64EndLocator l;
    l.Zip64EndOffset = static_cast<uint64_t>(lay.zip64EndPos - shift);
    l.TotalDisks = 1;
    uint8_t lrec[TZip64EndLocator::kSize];
    l.Serialize(lrec);
    Append(out, lrec, sizeof lrec);
  }
  lay.endPos = static_cast<int64_t>(out.size());
  const auto count = static_cast<uint16_t>(o.zip64 ? 0xFFFF : entries.size());
  if (o.largeEnd) {
    TLargeEndOfCentralDir e;
    e.Signature = o.encryptEnd ? END_OF_CENTRAL_LARGE_ENCRPT_SIGNATURE : END_OF_CENTRAL_LARGE_SIGNATURE;
    e.EntriesOnThisDisk = e.TotalEntries = count;
    e.CentralDirSize = static_cast<uint32_t>(cdSize);
    e.CentralDirOffset = cdOffset;
    e.CommentLength = static_cast<uint16_t>(o.comment.size());
    uint8_t rec[TLargeEndOfCentralDir::kSize];
    e.Serialize(rec);
    if (o.encryptEnd) EncipherHeaderRecord(rec, sizeof rec, keys, o.seed);
    Append(out, rec, sizeof rec);
  } else {
    TEndOfCentralDir e;
    e.Signature = o.encryptEnd ? END_OF_CENTRAL_ENCRPT_SIGNATURE : END_OF_CENTRAL_SIGNATURE;
    e.EntriesOnThisDisk = e.TotalEntries = count;
    e.CentralDirSize = o.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cdSize);
    e.CentralDirOffset = o.zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cdOffset);
    e.CommentLength = static_cast<uint16_t>(o.comment.size());
    uint8_t rec[TEndOfCentralDir::kSize];
    e.Serialize(rec);
    if (o.encryptEnd) EncipherHeaderRecord(rec, sizeof rec, keys, o.seed);
    Append(out, rec, sizeof rec);
  }
  Append(out, o.comment);
  if (layout) *layout = lay;
  return out;
}

inline std::vector<SynthEntry> ThreeEntries() {
  return {{"a.txt", "first entry"}, {"dir/b.txt", std::string(300, 'b')}, {"c.bin", std::string("\0PK\x03", 4)}};
}

// ---- Reading entries back ----

struct ListedEntry {
  TCentralFileHeader central;
  TSizeHighWords high;
  std::string name;
  int64_t localPos = 0;  // of the local header, OffsetBias applied
};

// The central directory that FindEndOfCentralDir found, entry by entry.
inline std::vector<ListedEntry> ListCentral(const std::vector<uint8_t>& zip, TZipSearchState& st) {
  TMemorySource src(zip);
  std::vector<ListedEntry> out;
  int64_t pos = FindEndOfCentralDir(src, st);
  if (!st.FoundHeaders.Has(htCentral)) return out;
  while (pos >= 0 && pos + TCentralFileHeader::kSize <= static_cast<int64_t>(zip.size())) {
    std::vector<uint8_t> rec(zip.begin() + pos, zip.begin() + pos + TCentralFileHeader::kSize);
    TSignatureClass cls = ClassifySignature(GetU32(rec.data()), htCentral);
    if (cls.kind != htCentral) break;
    TSeedKeyValues keys;
    if (cls.encrypted) DecipherHeaderRecord(rec.data(), rec.size(), keys, st.HeaderSeed);
    ListedEntry e;
    e.central = TCentralFileHeader::Parse(rec.data());
    const int64_t nameAt = pos + TCentralFileHeader::kSize;
    const int64_t extraAt = nameAt + e.central.FileNameLength;
    const int64_t next = extraAt + e.central.ExtraFieldLength + e.central.FileCommentLength;
    if (next > static_cast<int64_t>(zip.size())) break;
    e.name.assign(zip.begin() + nameAt, zip.begin() + extraAt);
    if (cls.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(e.name.data()), e.name.size());
    ReadExtraField(zip.data() + extraAt, e.central.ExtraFieldLength, e.central, e.high);
    e.localPos = Size64(e.central.RelativeOffset, e.high.OffsetHigh) + st.OffsetBias;
    out.push_back(e);
    pos = next;
  }
  return out;
}

// ---- External tools ----

inline bool HaveTool(const char* path) { return std::filesystem::exists(path); }

// Runs a shell command, true on exit status 0.
inline bool RunShell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string Quote(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

}  // namespace tessavar::test::zip
