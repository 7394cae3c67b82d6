#include "archive/write/ztvZip.h"

#include <algorithm>
#include <cstring>

#include "archive/frame/ztvMask.h"
#include "archive/write/ztvFileUtils.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipNames.h"

namespace tessavar {

namespace {

constexpr uint16_t kTagZip64 = 0x0001;
constexpr uint16_t kTagSizeExtension = 0x0064;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;
// Above this a new entry's local header gets a zip64 record: its deflated
// or enciphered form may pass 4 GiB although the file does not quite.
constexpr int64_t kLocalZip64From = 0xFF000000LL;
constexpr uint16_t kVersionMadeByUnix = 0x0314;
constexpr uint16_t kVersionZip64 = 45;
constexpr uint16_t kFlagDescriptor = 0x0008;

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MethodText(uint16_t method, uint16_t flags) {
  if (method == 0) return "Stored";
  if (method != 8) return "Unknown";
  static const char* const kinds[] = {"DFLT-N", "DFLT-X", "DFLT-F", "DFLT-S"};
  return kinds[(flags >> 1) & 3];
}

uint32_t Low32(int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v)); }
uint16_t High16(int64_t v) { return static_cast<uint16_t>(static_cast<uint64_t>(v) >> 32); }

void Append(std::vector<uint8_t>& out, const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  out.insert(out.end(), b, b + n);
}

// The extra field without the records that carry sizes and offsets; those
// are written afresh for the entry's new place.
std::vector<uint8_t> WithoutSizeRecords(const std::vector<uint8_t>& extra) {
  std::vector<uint8_t> out;
  size_t pos = 0;
  while (extra.size() - pos >= 4) {
    const uint16_t tag = GetU16(&extra[pos]);
    const uint16_t size = GetU16(&extra[pos + 2]);
    if (size > extra.size() - pos - 4) break;
    if (tag != kTagZip64 && tag != kTagSizeExtension) Append(out, &extra[pos], 4u + size);
    pos += 4u + size;
  }
  return out;
}

}  // namespace

TZipBase::TZipBase(TComponent* owner) : TCompBase(owner) {
  SetSupportedMethods({cmStore, cmDeflate});
  SetCompressMethod(cmDeflate);
  arcType_ = atZip;
  SetEncryptionMethod(emNone);
  SetOwnDefaultExt(".ZTV");
  SetEncryptHeaders(false);
}

TZipBase::~TZipBase() = default;

void TZipBase::SetArcType(TArcType) {
  arcType_ = atZip;
  if (!Loading() && !archiveFile_.empty()) SetArchiveFile(archiveFile_);
}

std::string TZipBase::ZipComment() const { return comment_; }

void TZipBase::SetZipComment(const std::string& value) {
  comment_ = value.substr(0, 0xFFFF);
  commentModified_ = true;
  commentSet_ = true;
}

void TZipBase::Fail(int Code) {
  RaiseFatal(ArchiveFile(), "", "", Code);
  throw E_RAISE(MessageOf(E_USERCANCEL));
}

// ---------------------------------------------------------------- writing an entry

bool TZipBase::CompressEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List) {
  PrepareHeader(List.Infos[static_cast<size_t>(Index)]);
  if (CompressMethod() == cmStore) SetDeflateType(dtDeflateS);
  return TCustomCClass::CompressEntry(NewArchive, Index, List);
}

void TZipBase::PrepareHeader(TCompressFileInfo& Info) {
  local_ = TLocalFileHeader{};
  local_.Signature = Info.EncryptHeaders ? LOCAL_FILE_ENCRPT_SIGNATURE : LOCAL_FILE_HEADER_SIGNATURE;
  local_.VersionNeeded = 20;
  local_.Method = 8;
  local_.FileTime = FileDateFor(currentRec_.DosDateTime);
  local_.UncompressedSize = Low32(currentRec_.UncompressedSize);
  localZip64_ = false;
  localExtra_.clear();
  nameUtf8_ = false;
}

uint8_t* TZipBase::GetHeadPtr() {
  local_.Serialize(localBytes_);
  return localBytes_;
}

std::string TZipBase::ArchiveNameBytes(const std::string& Stored) {
  const TArchiveName n = ToArchiveName(Stored, TranslateOemChar());
  nameUtf8_ = n.Utf8;
  return n.Name.substr(0, 0xFFFF);
}

void TZipBase::WriteExtraField(TStream32& NewArchive, TCompressFileInfo&) {
  localExtra_.clear();
  localZip64_ = currentSize_ >= kLocalZip64From;
  if (!localZip64_) return;
  localExtra_.assign(20, 0);
  PutU16(&localExtra_[0], kTagZip64);
  PutU16(&localExtra_[2], 16);
  if (NewArchive.Write(localExtra_.data(), 20) != 20) Fail(E_FWRITE);
}

void TZipBase::FinishHeader(int64_t Compressed, int64_t Uncompressed) {
  if (Uncompressed == 0 && crcSlot_ == 0xFFFFFFFFu) crcSlot_ = 0;
  local_.CRC32 = crcSlot_;
  local_.GeneralPurpose = 0;
  if (currentEncrypted_) local_.GeneralPurpose |= 1;
  if (currentStored_) {
    local_.Method = 0;
  } else {
    local_.Method = 8;
    local_.GeneralPurpose |= DeflateTypeBits(DeflateType());
  }
  if (nameUtf8_) local_.GeneralPurpose |= kGeneralPurposeUtf8;
  if (localZip64_) {
    local_.VersionNeeded = kVersionZip64;
    local_.CompressedSize = kMax32;
    local_.UncompressedSize = kMax32;
    PutU64(&localExtra_[4], static_cast<uint64_t>(Uncompressed));
    PutU64(&localExtra_[12], static_cast<uint64_t>(std::max<int64_t>(Compressed, 0)));
  } else {
    local_.UncompressedSize = Low32(Uncompressed);
    local_.CompressedSize = Compressed > 0 ? Low32(Compressed) : 0;
  }
  if (currentIsDir_) {
    local_.Method = 0;
    local_.CRC32 = 0;
  }
  lastCompressed_ = std::max<int64_t>(Compressed, 0);
  lastUncompressed_ = Uncompressed;
}

void TZipBase::RewriteHeader(TStream32& NewArchive, int64_t HeaderPos, const std::string& NameBytes,
                             TCompressFileInfo& Info) {
  local_.FileNameLength = static_cast<uint16_t>(NameBytes.size());
  local_.ExtraFieldLength = static_cast<uint16_t>(localExtra_.size());
  std::vector<uint8_t> out(TLocalFileHeader::kSize);
  local_.Serialize(out.data());
  std::string name = NameBytes;
  if (Info.EncryptHeaders) {
    TSeedKeyValues keys;
    EncipherHeaderRecord(out.data(), out.size(), keys, HeaderSeed());
    EncipherHeaderName(keys, reinterpret_cast<uint8_t*>(name.data()), name.size());
  }
  Append(out, name.data(), name.size());
  Append(out, localExtra_.data(), localExtra_.size());
  lastNameBytes_ = NameBytes;
  NewArchive.SetPosition(HeaderPos);
  if (NewArchive.Write(out.data(), static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size()))
    Fail(E_FWRITE);
}

void TZipBase::AddCentralRecord(int Index, uint32_t Attributes, TCompressHeaderObj& List) {
  TCompressFileInfo& info = List.Infos[static_cast<size_t>(Index)];
  TCentralFileHeader c;
  c.Signature = CENTRAL_FILE_HEADER_SIGNATURE;
  c.VersionMadeBy = kVersionMadeByUnix;
  c.VersionNeeded = local_.VersionNeeded;
  c.GeneralPurpose = local_.GeneralPurpose;
  c.Method = local_.Method;
  c.FileTime = local_.FileTime;
  c.CRC32 = local_.CRC32;
  c.CompressedSize = Low32(lastCompressed_);
  c.UncompressedSize = Low32(lastUncompressed_);
  c.FileNameLength = local_.FileNameLength;
  c.ExtraFieldLength = 0;
  c.InternalAttributes = 1;
  c.ExternalAttributes = Attributes;
  c.RelativeOffset = Low32(info.Offset);
  info.CompressedHigh = High16(lastCompressed_);
  info.UncompressedHigh = High16(lastUncompressed_);
  info.ExtraField.clear();
  info.Str = lastNameBytes_;
  c.Serialize(List.Header(Index));
}

void TZipBase::EndEntry() {
  if (OnEnd) OnEnd(this, storedName_, crcSlot_ == local_.CRC32);
}

void TZipBase::StoreHeaderInfo(uint8_t* Header, const TFileInfoRec& Rec) {
  TCentralFileHeader c = TCentralFileHeader::Parse(Header);
  c.UncompressedSize = Low32(Rec.UncompressedSize);
  c.CompressedSize = Low32(Rec.UncompressedSize);
  c.FileTime = Rec.DosDateTime;
  c.ExternalAttributes = Rec.Attributes;
  c.Serialize(Header);
}

void TZipBase::UnpackHeader(const uint8_t* Header, const TCompressFileInfo& Info, TFileInfoRec& Rec) {
  const TCentralFileHeader c = TCentralFileHeader::Parse(Header);
  Rec.UncompressedSize = Size64(c.UncompressedSize, Info.UncompressedHigh);
  Rec.CompressedSize = Size64(c.CompressedSize, Info.CompressedHigh);
  Rec.DosDateTime = c.FileTime;
  Rec.Attributes = c.ExternalAttributes;
}

// ---------------------------------------------------------------- reading the old archive

bool TZipBase::SelectedForDelete(const std::string& Name) {
  std::string n = Name;
  for (const std::string& mask : FileSpec()) {
    std::string candidate = Name;
    if (mask.find('.') != std::string::npos && NameOf(Name).find('.') == std::string::npos) candidate += ".";
    if (!TInternalMask(mask).Matches(candidate)) continue;
    for (const std::string& ex : ExcludeSpec()) {
      if (TInternalMask(ex).Matches(Name)) {
        if (OnExcludeFile) OnExcludeFile(this, Name);
        return false;
      }
    }
    return true;
  }
  return false;
}

void TZipBase::AddOldEntry(TCompressHeaderObj& List, const TCentralFileHeader& Central, const TSizeHighWords& High,
                           const std::string& RawName, const std::vector<uint8_t>& Extra, const std::string& Comment,
                           int64_t Offset, bool EncryptedHeader) {
  TExtraFieldRecords records;
  TCentralFileHeader c = Central;
  TSizeHighWords high;
  uint32_t comp = c.CompressedSize, unc = c.UncompressedSize, off = c.RelativeOffset;
  ReadExtraField(Extra.data(), Extra.size(), htCentral, comp, unc, &off, high, &records);
  (void)High;
  const std::string name =
      ZipNameFromArchive(RawName, c.GeneralPurpose, c.VersionMadeBy, &records, TranslateOemChar());
  TCompressFileInfo info;
  info.Action = 1;
  info.Offset = Offset;
  info.CompressedHigh = high.CompressedHigh;
  info.UncompressedHigh = high.UncompressedHigh;
  info.EncryptHeaders = EncryptedHeader ? 1 : 0;
  info.EncryptionMethod = (c.GeneralPurpose & 1) ? static_cast<uint8_t>(emZIP_v2) : 0;
  info.Comment = Comment;
  info.ExtraField = Extra;
  info.Str = RawName;
  c.CompressedSize = comp;
  c.UncompressedSize = unc;
  c.RelativeOffset = off;
  if (Switch() == swDelete && SelectedForDelete(name)) {
    info.Action = 2;
    ++filesDeleted_;
  }
  uint8_t rec[TCentralFileHeader::kSize];
  c.Serialize(rec);
  archiveTotal_ += Size64(comp, high.CompressedHigh);
  List.Add(name, 0, rec, info);
}

void TZipBase::ReadCentralRecords(TStream32& OldArchive, TCompressHeaderObj& List, bool) {
  TReadCache cache;
  cache.Reset(&OldArchive);
  int64_t pos = zip_.DirectoryStart;
  uint8_t rec[TCentralFileHeader::kSize];
  while (!Cancelled() && cache.ReadAt(pos, rec, sizeof rec) == sizeof rec) {
    const TSignatureClass sig = ClassifySignature(GetU32(rec), htCentral);
    if (sig.kind != htCentral) break;
    TSeedKeyValues keys;
    if (sig.encrypted) DecipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
    const TCentralFileHeader c = TCentralFileHeader::Parse(rec);
    std::string name(c.FileNameLength, '\0');
    std::vector<uint8_t> extra(c.ExtraFieldLength);
    std::string comment(c.FileCommentLength, '\0');
    int64_t at = pos + TCentralFileHeader::kSize;
    if (cache.ReadAt(at, name.data(), c.FileNameLength) != c.FileNameLength) break;
    at += c.FileNameLength;
    if (cache.ReadAt(at, extra.data(), c.ExtraFieldLength) != c.ExtraFieldLength) break;
    at += c.ExtraFieldLength;
    if (cache.ReadAt(at, comment.data(), c.FileCommentLength) != c.FileCommentLength) break;
    at += c.FileCommentLength;
    if (sig.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(name.data()), name.size());
    TSizeHighWords high;
    uint32_t comp = c.CompressedSize, unc = c.UncompressedSize, off = c.RelativeOffset;
    ReadExtraField(extra.data(), extra.size(), htCentral, comp, unc, &off, high, nullptr);
    AddOldEntry(List, c, high, name, extra, comment, Size64(off, high.OffsetHigh) + zip_.OffsetBias, sig.encrypted);
    pos = at;
  }
}

bool TZipBase::ReadLocal(TStream32& Archive, int64_t Offset, LocalEntry& Out) {
  uint8_t rec[TLocalFileHeader::kSize];
  Archive.SetPosition(Offset);
  if (!Archive.ReadExact(rec, sizeof rec)) return false;
  const TSignatureClass sig = ClassifySignature(GetU32(rec), htLocal);
  if (sig.kind != htLocal) return false;
  TSeedKeyValues keys;
  if (sig.encrypted) DecipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
  Out.Header = TLocalFileHeader::Parse(rec);
  Out.Encrypted = sig.encrypted;
  Out.Name.assign(Out.Header.FileNameLength, '\0');
  Out.Extra.assign(Out.Header.ExtraFieldLength, 0);
  if (!Archive.ReadExact(Out.Name.data(), Out.Header.FileNameLength)) return false;
  if (!Archive.ReadExact(Out.Extra.data(), Out.Header.ExtraFieldLength)) return false;
  if (sig.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(Out.Name.data()), Out.Name.size());
  return true;
}

void TZipBase::ReadLocalRecords(TStream32& OldArchive, TCompressHeaderObj& List, int64_t Start) {
  int64_t pos = std::max<int64_t>(Start, 0);
  const int64_t size = OldArchive.Size();
  LocalEntry le;
  while (!Cancelled() && pos < size && ReadLocal(OldArchive, pos, le)) {
    TLocalFileHeader& h = le.Header;
    TSizeHighWords high;
    ReadExtraField(le.Extra.data(), le.Extra.size(), h, high);
    // Without a directory the sizes of a streamed entry are unknown.
    if ((h.GeneralPurpose & kFlagDescriptor) && h.CompressedSize == 0) break;
    TCentralFileHeader c;
    c.VersionMadeBy = 20;
    c.VersionNeeded = h.VersionNeeded;
    c.GeneralPurpose = h.GeneralPurpose;
    c.Method = h.Method;
    c.FileTime = h.FileTime;
    c.CRC32 = h.CRC32;
    c.CompressedSize = h.CompressedSize;
    c.UncompressedSize = h.UncompressedSize;
    c.FileNameLength = h.FileNameLength;
    c.RelativeOffset = Low32(pos);
    TCompressFileInfo dummy;
    std::vector<uint8_t> extra = WithoutSizeRecords(le.Extra);
    if (high.CompressedHigh || high.UncompressedHigh) {
      // Carry the sizes' high words as a zip64 record the entry reader understands.
      std::vector<uint8_t> z(20);
      PutU16(&z[0], kTagZip64);
      PutU16(&z[2], 16);
      PutU64(&z[4], static_cast<uint64_t>(Size64(h.UncompressedSize, high.UncompressedHigh)));
      PutU64(&z[12], static_cast<uint64_t>(Size64(h.CompressedSize, high.CompressedHigh)));
      c.UncompressedSize = kMax32;
      c.CompressedSize = kMax32;
      extra.insert(extra.begin(), z.begin(), z.end());
    }
    AddOldEntry(List, c, high, le.Name, extra, "", pos, le.Encrypted);
    pos += TLocalFileHeader::kSize + h.FileNameLength + h.ExtraFieldLength +
           Size64(h.CompressedSize, high.CompressedHigh);
  }
}

void TZipBase::ReadDirectory(TStream32& OldArchive, TCompressHeaderObj& List) {
  auto* file = dynamic_cast<THandleStream32*>(&OldArchive);
  if (file == nullptr) return;
  THandleSource source(file->Handle());
  const TArcType own = arcType_;
  const TArcType found = DetectType(source);
  arcType_ = own;
  if (!IsZipFamily(found)) Fail(E_INVALIDARC);
  std::vector<uint8_t> oldComment;
  bool haveComment = false;
  zip_.OnComment = [&](uint32_t, int64_t, int64_t, const std::vector<uint8_t>& comment) {
    oldComment = comment;
    haveComment = true;
  };
  const int64_t start = FindEndOfCentralDir(source);
  zip_.OnComment = nullptr;
  if (start < 0) Fail(E_INVALIDARC);
  if (haveComment && !commentSet_) comment_.assign(oldComment.begin(), oldComment.end());
  const THeaderTypeState& headers = zip_.FoundHeaders;
  if (headers.Has(htEnding) || headers.Has(htCentral)) ReadCentralRecords(OldArchive, List, false);
  else ReadLocalRecords(OldArchive, List, start);
  // An archive whose entries cannot be read is not replaced by one without
  // them: only an archive that really is empty counts as a new one.
  if (List.Count() == 0 && !Cancelled() &&
      (!headers.Has(htEnding) || zip_.EndPosition < 0 ||
       oldArchiveSize_ > zip_.EndPosition + TEndOfCentralDir::kSize + static_cast<int64_t>(oldComment.size())))
    Fail(E_BADHEADER);

  // A self-extracting archive keeps its program part in front of the entries.
  int64_t first = -1;
  for (const TCompressFileInfo& info : List.Infos)
    if (first < 0 || info.Offset < first) first = info.Offset;
  if (first > 0 && newArchive_ != nullptr) {
    OldArchive.SetPosition(0);
    newArchive_->SetPosition(0);
    if (newArchive_->CopyFrom(OldArchive, first) != first && !Cancelled()) Fail(E_FWRITE);
  }
}

// ---------------------------------------------------------------- copying entries

int64_t TZipBase::EntryLength(TStream32& OldArchive, TStream32& NewArchive, TCompressHeaderObj& List, int Index) {
  TCompressFileInfo& info = List.Infos[static_cast<size_t>(Index)];
  TCentralFileHeader c = TCentralFileHeader::Parse(List.Header(Index));
  LocalEntry le;
  if (!ReadLocal(OldArchive, info.Offset, le)) {
    ReportError(List.Names[static_cast<size_t>(Index)], "", "", E_BADHEADER);
    Fail(E_BADHEADER);
  }
  const int64_t compressed = Size64(c.CompressedSize, info.CompressedHigh);
  int64_t length = TLocalFileHeader::kSize + le.Header.FileNameLength + le.Header.ExtraFieldLength + compressed;
  if (le.Header.GeneralPurpose & kFlagDescriptor) {
    // The descriptor after the data belongs to the entry: readers that walk
    // the local headers need it.
    uint8_t sig[4] = {};
    OldArchive.SetPosition(info.Offset + length);
    const bool marked = OldArchive.ReadExact(sig, 4) && GetU32(sig) == SPANNED_MARKER_SIGNATURE;
    TSizeHighWords high;
    TLocalFileHeader h = le.Header;
    ReadExtraField(le.Extra.data(), le.Extra.size(), h, high);
    const bool wide = h.CompressedSize == kMax32 || h.UncompressedSize == kMax32;
    length += (marked ? 4 : 0) + (wide ? 20 : 12);
  }
  if (info.Offset + length > oldArchiveSize_) Fail(E_BADHEADER);
  info.Offset = NewArchive.Size();
  return length;
}

void TZipBase::CopyEntryAs(TStream32& OldArchive, TStream32& NewArchive, TCompressHeaderObj& List, int Index) {
  TCompressFileInfo& info = List.Infos[static_cast<size_t>(Index)];
  const int64_t oldOffset = info.Offset;
  const int64_t length = EntryLength(OldArchive, NewArchive, List, Index);
  LocalEntry le;
  if (!ReadLocal(OldArchive, oldOffset, le)) Fail(E_FWRITE);
  const TArchiveName n = ToArchiveName(List.Names[static_cast<size_t>(Index)], TranslateOemChar());
  const std::string name = n.Name.substr(0, 0xFFFF);
  TLocalFileHeader h = le.Header;
  h.FileNameLength = static_cast<uint16_t>(name.size());
  h.GeneralPurpose = static_cast<uint16_t>((h.GeneralPurpose & ~kGeneralPurposeUtf8) | (n.Utf8 ? kGeneralPurposeUtf8 : 0));
  std::vector<uint8_t> out(TLocalFileHeader::kSize);
  h.Serialize(out.data());
  std::string nameOut = name;
  if (le.Encrypted) {
    TSeedKeyValues keys;
    EncipherHeaderRecord(out.data(), out.size(), keys, HeaderSeed());
    EncipherHeaderName(keys, reinterpret_cast<uint8_t*>(nameOut.data()), nameOut.size());
  }
  Append(out, nameOut.data(), nameOut.size());
  NewArchive.SetPosition(NewArchive.Size());
  if (NewArchive.Write(out.data(), static_cast<int64_t>(out.size())) != static_cast<int64_t>(out.size()))
    Fail(E_FWRITE);
  const int64_t tail = length - TLocalFileHeader::kSize - le.Header.FileNameLength;
  OldArchive.SetPosition(oldOffset + TLocalFileHeader::kSize + le.Header.FileNameLength);
  if (tail > 0 && NewArchive.CopyFrom(OldArchive, tail) != tail && !Cancelled()) Fail(E_FWRITE);
  TCentralFileHeader c = TCentralFileHeader::Parse(List.Header(Index));
  c.FileNameLength = h.FileNameLength;
  c.GeneralPurpose = static_cast<uint16_t>((c.GeneralPurpose & ~kGeneralPurposeUtf8) | (n.Utf8 ? kGeneralPurposeUtf8 : 0));
  c.Serialize(List.Header(Index));
  info.Str = name;
}

// ---------------------------------------------------------------- finishing

std::vector<uint8_t> TZipBase::BuildDirectory(TCompressHeaderObj& List, int64_t& Entries) {
  std::vector<uint8_t> out;
  Entries = 0;
  for (int i = 0; i < List.Count(); ++i) {
    const TCompressFileInfo& info = List.Infos[static_cast<size_t>(i)];
    if (info.Action == 2) continue;
    TCentralFileHeader c = TCentralFileHeader::Parse(List.Header(i));
    const int64_t compressed = Size64(c.CompressedSize, info.CompressedHigh);
    const int64_t uncompressed = Size64(c.UncompressedSize, info.UncompressedHigh);
    const int64_t offset = info.Offset;
    std::vector<uint8_t> z64;
    auto put64 = [&](int64_t v) {
      uint8_t b[8];
      PutU64(b, static_cast<uint64_t>(v));
      Append(z64, b, 8);
    };
    if (uncompressed >= kMax32) {
      put64(uncompressed);
      c.UncompressedSize = kMax32;
    }
    if (compressed >= kMax32) {
      put64(compressed);
      c.CompressedSize = kMax32;
    }
    if (offset >= kMax32) {
      put64(offset);
      c.RelativeOffset = kMax32;
    } else {
      c.RelativeOffset = Low32(offset);
    }
    std::vector<uint8_t> extra;
    if (!z64.empty()) {
      uint8_t head[4];
      PutU16(head, kTagZip64);
      PutU16(head + 2, static_cast<uint16_t>(z64.size()));
      Append(extra, head, 4);
      Append(extra, z64.data(), z64.size());
      c.VersionNeeded = std::max(c.VersionNeeded, kVersionZip64);
    }
    const std::vector<uint8_t> rest = WithoutSizeRecords(info.ExtraField);
    if (extra.size() + rest.size() <= 0xFFFF) Append(extra, rest.data(), rest.size());
    const std::string comment = info.Comment.substr(0, 0xFFFF);
    std::string name = info.Str;
    c.FileNameLength = static_cast<uint16_t>(name.size());
    c.ExtraFieldLength = static_cast<uint16_t>(extra.size());
    c.FileCommentLength = static_cast<uint16_t>(comment.size());
    c.DiskNumberStart = 0;
    c.Signature = info.EncryptHeaders ? CENTRAL_FILE_ENCRPT_SIGNATURE : CENTRAL_FILE_HEADER_SIGNATURE;
    uint8_t rec[TCentralFileHeader::kSize];
    c.Serialize(rec);
    if (info.EncryptHeaders) {
      TSeedKeyValues keys;
      EncipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
      EncipherHeaderName(keys, reinterpret_cast<uint8_t*>(name.data()), name.size());
    }
    Append(out, rec, sizeof rec);
    Append(out, name.data(), name.size());
    Append(out, extra.data(), extra.size());
    Append(out, comment.data(), comment.size());
    ++Entries;
  }
  return out;
}

std::vector<uint8_t> TZipBase::BuildEnd(int64_t Entries, int64_t DirStart, int64_t DirSize, bool ForceZip64) {
  std::vector<uint8_t> out;
  const bool zip64 = ForceZip64 || Entries > 0xFFFF || DirStart >= kMax32 || DirSize >= kMax32;
  if (zip64) {
    TZip64EndOfCentralDir z;
    z.VersionMadeBy = static_cast<uint16_t>(0x0300 | kVersionZip64);
    z.EntriesOnThisDisk = static_cast<uint64_t>(Entries);
    z.TotalEntries = static_cast<uint64_t>(Entries);
    z.CentralDirSize = static_cast<uint64_t>(DirSize);
    z.CentralDirOffset = static_cast<uint64_t>(DirStart);
    uint8_t b[TZip64EndOfCentralDir::kSize];
    z.Serialize(b);
    Append(out, b, sizeof b);
    TZip64EndLocator l;
    l.Zip64EndOffset = static_cast<uint64_t>(DirStart + DirSize);
    l.TotalDisks = 1;
    uint8_t lb[TZip64EndLocator::kSize];
    l.Serialize(lb);
    Append(out, lb, sizeof lb);
  }
  TEndOfCentralDir e;
  e.EntriesOnThisDisk = Entries > 0xFFFF ? 0xFFFF : static_cast<uint16_t>(Entries);
  e.TotalEntries = e.EntriesOnThisDisk;
  e.CentralDirSize = DirSize >= kMax32 ? kMax32 : Low32(DirSize);
  e.CentralDirOffset = DirStart >= kMax32 ? kMax32 : Low32(DirStart);
  const std::string comment = ZipComment();
  e.CommentLength = static_cast<uint16_t>(comment.size());
  uint8_t eb[TEndOfCentralDir::kSize];
  e.Serialize(eb);
  Append(out, eb, sizeof eb);
  Append(out, comment.data(), comment.size());
  return out;
}

bool TZipBase::WriteCentralDirectory(TStream32& NewArchive, TCompressHeaderObj& List) {
  if (Cancelled() || (filesCompressed_ == 0 && filesDeleted_ == 0)) return true;
  ReportProgress(0, 0, 0);
  if (Switch() == swDelete) {
    bool all = true;
    for (const TCompressFileInfo& info : List.Infos) all = all && info.Action == 2;
    if (all) return true;
  }
  const int64_t dirStart = NewArchive.Size();
  int64_t entries = 0;
  std::vector<uint8_t> dir = BuildDirectory(List, entries);
  const std::vector<uint8_t> end = BuildEnd(entries, dirStart, static_cast<int64_t>(dir.size()), false);
  Append(dir, end.data(), end.size());
  NewArchive.SetPosition(dirStart);
  if (NewArchive.Write(dir.data(), static_cast<int64_t>(dir.size())) != static_cast<int64_t>(dir.size()))
    Fail(E_FWRITE);
  return true;
}

void TZipBase::WriteEmptyArchive(TStream32& NewArchive) {
  uint8_t b[TEndOfCentralDir::kSize];
  TEndOfCentralDir{}.Serialize(b);
  NewArchive.SetPosition(NewArchive.Size());
  if (NewArchive.Write(b, sizeof b) != static_cast<int64_t>(sizeof b)) Fail(E_FWRITE);
}

// ---------------------------------------------------------------- reporting and reading

namespace {

void FillEntry(TZipBase& z, const TCentralFileHeader& c, const TCompressFileInfo& info) {
  z.VersionMadeBy = c.VersionMadeBy;
  z.VersionNeeded = c.VersionNeeded;
  z.Encrypted = (c.GeneralPurpose & 1) != 0;
  z.UnpackedSize = Size64(c.UncompressedSize, info.UncompressedHigh);
  z.PackedSize = Size64(c.CompressedSize, info.CompressedHigh);
  if (z.Encrypted) z.PackedSize = std::max<int64_t>(z.PackedSize - 12, 0);
  z.FileCRC = c.CRC32;
  z.MethodId = c.Method;
  z.MethodName = MethodText(c.Method, c.GeneralPurpose);
  z.FileDateTime = z.DosDateToDateTime(c.FileTime);
  z.ExternalAttr = c.ExternalAttributes;
  z.EntryRatio = z.UnpackedSize > 0 && z.UnpackedSize > z.PackedSize
                     ? static_cast<uint8_t>((z.UnpackedSize - z.PackedSize) * 100 / z.UnpackedSize)
                     : 0;
}

}  // namespace

void TZipBase::ReportAddedEntries(TCompressHeaderObj& List) {
  if (!OnRead || Cancelled() || Switch() == swDelete) return;
  for (int i = 0; i < List.Count(); ++i) {
    const TCompressFileInfo& info = List.Infos[static_cast<size_t>(i)];
    if (info.Action != 0) continue;
    FillEntry(*this, TCentralFileHeader::Parse(List.Header(i)), info);
    fileName_ = List.Names[static_cast<size_t>(i)];
    OnRead(this, static_cast<int>(info.Offset), i);
  }
}

void TZipBase::ReadArchive() {
  if (!OnRead) {
    ReportError(ArchiveFile(), "OnRead", "", E_REQUIREDEVENT);
    return;
  }
  TFileStream32 archive(ArchiveFile(), fmShareDenyWrite);
  if (!archive.Valid()) {
    ReportError(ArchiveFile(), "", "", E_FOPEN);
    return;
  }
  THandleSource source(archive.Handle());
  if (FindEndOfCentralDir(source) < 0) return;
  TCompressHeaderObj list(GetHeadSize());
  const TSwitch saved = Switch();
  SetSwitch(swAdd);
  ReadCentralRecords(archive, list, true);
  SetSwitch(saved);
  for (int i = 0; i < list.Count() && !Cancelled(); ++i) {
    const TCompressFileInfo& info = list.Infos[static_cast<size_t>(i)];
    FillEntry(*this, TCentralFileHeader::Parse(list.Header(i)), info);
    fileName_ = list.Names[static_cast<size_t>(i)];
    ReadEntryHook(fileName_);
    OnRead(this, static_cast<int>(info.Offset), i + 1);
  }
}

// ---------------------------------------------------------------- comments

int TZipBase::LoadComments() {
  commentList_.reset();
  TFileStream32 archive(ArchiveFile(), fmShareDenyWrite);
  if (!archive.Valid()) {
    ReportError(ArchiveFile(), "", "", E_FOPEN);
    return 0;
  }
  SetArchiveSize(archive.Size());
  THandleSource source(archive.Handle());
  std::vector<uint8_t> comment;
  zip_.OnComment = [&](uint32_t, int64_t, int64_t, const std::vector<uint8_t>& c) { comment = c; };
  const int64_t start = FindEndOfCentralDir(source);
  zip_.OnComment = nullptr;
  if (start < 0 || !zip_.FoundHeaders.Has(htEnding)) {
    ReportError(ArchiveFile(), "", "", E_INVALIDARC);
    return 0;
  }
  commentList_ = std::make_unique<TCompressHeaderObj>(GetHeadSize());
  const TSwitch saved = Switch();
  SetSwitch(swAdd);
  ReadCentralRecords(archive, *commentList_, true);
  SetSwitch(saved);
  commentDirStart_ = zip_.DirectoryStart;
  commentEndStart_ = zip_.EndPosition;
  comment_.assign(comment.begin(), comment.end());
  commentModified_ = false;
  commentSet_ = true;
  return commentList_->Count();
}

void TZipBase::GetEntryComment(int Index, std::string& FileName, std::string& Comment) {
  if (!commentList_ || Index < 0 || Index >= commentList_->Count()) return;
  FileName = commentList_->Names[static_cast<size_t>(Index)];
  Comment = commentList_->Infos[static_cast<size_t>(Index)].Comment;
}

void TZipBase::SetEntryComment(int Index, const std::string& Comment) {
  if (!commentList_ || Index < 0 || Index >= commentList_->Count()) return;
  TCompressFileInfo& info = commentList_->Infos[static_cast<size_t>(Index)];
  if (info.Comment == Comment) return;
  info.Comment = Comment.substr(0, 0xFFFF);
  commentList_->Modified = true;
}

bool TZipBase::CommentsModified() const { return (commentList_ && commentList_->Modified) || commentModified_; }

void TZipBase::SaveComments(bool Write) {
  if (Write && commentList_ && CommentsModified()) {
    TFileStream32 archive(ArchiveFile(), fmOpenReadWrite);
    if (!archive.Valid()) {
      ReportError(ArchiveFile(), "", "", E_FOPEN);
    } else {
      // The directory and end records are written again from where the
      // directory began; the entries' data stays where it is.
      int64_t entries = 0;
      std::vector<uint8_t> dir = BuildDirectory(*commentList_, entries);
      const std::vector<uint8_t> end = BuildEnd(entries, commentDirStart_, static_cast<int64_t>(dir.size()), false);
      Append(dir, end.data(), end.size());
      archive.SetPosition(commentDirStart_);
      if (archive.Write(dir.data(), static_cast<int64_t>(dir.size())) != static_cast<int64_t>(dir.size())) {
        ReportError(ArchiveFile(), "", "", E_FWRITE);
      } else {
        archive.SetSize(commentDirStart_ + static_cast<int64_t>(dir.size()));
      }
    }
  }
  commentList_.reset();
  commentModified_ = false;
}

}  // namespace tessavar
