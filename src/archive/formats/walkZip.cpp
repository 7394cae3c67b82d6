// The ZIP walks of the directory reader: central-directory records when the
// archive has a usable directory, local headers one after another when not.
#include <algorithm>
#include <cstdio>

#include "archive/formats/ztvZipTV.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvDiskSpann.h"
#include "archive/zip/ztvZipNames.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

namespace {
constexpr size_t kMaxEntryComment = 32767;
}

void TZipTV::ReadNameAndExtra(uint16_t nameLength, uint16_t extraLength, std::string& stored,
                              std::vector<uint8_t>& extra) {
  stored.assign(nameLength, '\0');
  const int64_t gotName = ReadAt(nextHeaderOffset_, stored.data(), nameLength);
  stored.resize(static_cast<size_t>(std::max<int64_t>(gotName, 0)));
  if (headersEncrypted_) DecipherHeaderName(headerKeys_, reinterpret_cast<uint8_t*>(stored.data()), stored.size());
  nextHeaderOffset_ += nameLength;
  extra.assign(extraLength, 0);
  const int64_t gotExtra = ReadAt(nextHeaderOffset_, extra.data(), extraLength);
  extra.resize(static_cast<size_t>(std::max<int64_t>(gotExtra, 0)));
}

void TZipTV::PrepareZip() {
  localMode_ = false;
  headersEncrypted_ = false;
  const bool zipFamily = IsZipFamily(arcType_);
  if (zip_.FoundHeaders.Has(htEnding) && !zip_.FoundHeaders.Has(htCentral) && zip_.EndOfCentralDir.TotalEntries == 0 &&
      zip_.EndOfCentralDir.CentralDirSize == 0) {
    // An empty archive: its end record says so, nothing is missing.
    headerOffset_ = archiveSize_;
    return;
  }
  if (zipFamily && (!zip_.FoundHeaders.Has(htCentral) || !zip_.FoundHeaders.Has(htEnding))) {
    if (OnCorruptZipHeader) {
      bool cancel = true;
      OnCorruptZipHeader(this, zip_.FoundHeaders, cancel);
      if (cancel) {
        headerOffset_ = archiveSize_;
        return;
      }
    } else {
      ReportError(ArchiveFile(), "OnCorruptZipHeader", "0", E_REQUIREDEVENT);
    }
  }
  if (arcType_ == atZipDS) {
    diskSpann_->Prepare(this);
    if (!diskSpann_->RequestDisk(archive_, 0)) {
      headerOffset_ = archiveSize_;
      return;
    }
    cache_.Reset(archive_.get());
    archiveSize_ = archive_ ? archive_->Size() : 0;
  }
  if (!zip_.FoundHeaders.Has(htCentral)) {
    zip_.FoundHeaders.Clear();
    zip_.FoundHeaders.Include(htLocal);
    localMode_ = true;
  }
  // Where to begin: the first central record, or the first local header.
  headerOffset_ = localMode_ ? std::max<int64_t>(startOffset_, 0) : zip_.DirectoryStart;
  if (localMode_) {
    uint8_t probe[TLocalFileHeader::kSize];
    if (ReadAt(headerOffset_, probe, sizeof probe) < static_cast<int64_t>(sizeof probe)) {
      headerOffset_ = archiveSize_;
    } else if (GetU32(probe) == SPANNED_MARKER_SIGNATURE) {
      headerOffset_ += 4;
    }
    headerLength_ = TLocalFileHeader::kSize;
  } else {
    uint8_t probe[TCentralFileHeader::kSize];
    if (ReadAt(headerOffset_, probe, sizeof probe) < static_cast<int64_t>(sizeof probe)) headerOffset_ = archiveSize_;
    headerLength_ = TCentralFileHeader::kSize;
  }
}

void TZipTV::ZipCentralStep() {
  uint8_t* rec = headerBuffer_.data();
  const TSignatureClass sig = ClassifySignature(GetU32(rec), htCentral);
  if (sig.kind != htCentral) {
    if (FileCount == 0) ReportError(ArchiveFile(), "", "0", E_BADHEADER);
    nextHeaderOffset_ = archiveSize_;
    return;
  }
  headersEncrypted_ = sig.encrypted;
  if (headersEncrypted_) DecipherHeaderRecord(rec, TCentralFileHeader::kSize, headerKeys_, HeaderSeed());
  TCentralFileHeader h = TCentralFileHeader::Parse(rec);

  std::string stored;
  std::vector<uint8_t> extra;
  ReadNameAndExtra(h.FileNameLength, h.ExtraFieldLength, stored, extra);
  TSizeHighWords high;
  TExtraFieldRecords records;
  ReadExtraField(extra.data(), extra.size(), h, high, &records);

  fileName_ = ZipNameFromArchive(stored, h.GeneralPurpose, h.VersionMadeBy, &records, TranslateOemChar());
  if (OnReadFile) OnReadFile(this, fileName_);

  if (arcType_ != atZipDS && arcType_ != atZipMV && !zip_.FoundHeaders.Has(htLocal))
    ReportError(fileName_, "", "0", E_BADHEADER);

  EntryComment.clear();
  if (h.FileCommentLength > 0) {
    const size_t keep = std::min<size_t>(h.FileCommentLength, kMaxEntryComment);
    EntryComment.resize(keep);
    const int64_t got = ReadAt(nextHeaderOffset_ + h.ExtraFieldLength, EntryComment.data(), static_cast<int64_t>(keep));
    EntryComment.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    nextHeaderOffset_ += h.FileCommentLength;
  }

  const int64_t unpacked = Size64(h.UncompressedSize, high.UncompressedHigh);
  const int64_t packed = Size64(h.CompressedSize, high.CompressedHigh);
  const bool isDir = (h.ExternalAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (DirectorySelect(fileName_)) {
    auto fill = [&] {
      FileDosDateTime = h.FileTime;
      FileDateTime = DosDateRule(h.FileTime);
      VersionMadeBy = h.VersionMadeBy;
      VersionNeeded = h.VersionNeeded;
      FileCRC = h.CRC32;
      Encrypted = (h.GeneralPurpose & 1) != 0;
      UnpackedSize = unpacked;
      PackedSize = packed;
      if (Encrypted && h.Method != 99 && h.CompressedSize >= 12) PackedSize -= 12;
      const uint16_t low = static_cast<uint16_t>(h.ExternalAttributes & 0xFFFF);
      TMethodContext ctx;
      ctx.flags = h.GeneralPurpose;
      ctx.directory = (low & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (records.AesLength >= 11) ctx.aesMethod = records.Aes[9] | (records.Aes[10] << 8);
      MethodName = (low & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_VOLUME)) ? "" : MethodNameOf(arcType_, h.Method, ctx);
      MethodId = h.Method;
      InternalAttr = h.InternalAttributes;
      ExternalAttr = low;
      EntryRatio = EntryRatioOf(h.UncompressedSize, h.CompressedSize);
      if (arcType_ == atZipDS) {
        char label[32];
        std::snprintf(label, sizeof label, "PKBACK# %.3d", h.DiskNumberStart + 1);
        volumeName_ = label;
      } else if (arcType_ == atZipMV) {
        const int last = zip_.EndOfCentralDir.NumberOfThisDisk + 1;
        volumeName_ = SplitZipVolumeName(h.DiskNumberStart, last);
      }
    };
    if (isDir) {
      if (ShowEmptyDirs()) {
        ++FileCount;
        Emit(static_cast<int>(static_cast<int64_t>(h.RelativeOffset) + zip_.OffsetBias), fill);
      }
    } else {
      ++FileCount;
      TotalUnpacked += unpacked;
      TotalPacked += packed;
      Emit(static_cast<int>(Size64(h.RelativeOffset, high.OffsetHigh) + zip_.OffsetBias), fill);
    }
  }
  nextHeaderOffset_ += h.ExtraFieldLength;
}

void TZipTV::ZipLocalStep() {
  uint8_t* rec = headerBuffer_.data();
  const TSignatureClass sig = ClassifySignature(GetU32(rec), htLocal);
  if (sig.kind != htLocal) {
    if (FileCount == 0) ReportError(ArchiveFile(), "", "0", E_BADHEADER);
    nextHeaderOffset_ = archiveSize_;
    return;
  }
  headersEncrypted_ = sig.encrypted;
  if (headersEncrypted_) DecipherHeaderRecord(rec, TLocalFileHeader::kSize, headerKeys_, HeaderSeed());
  TLocalFileHeader h = TLocalFileHeader::Parse(rec);

  std::string stored;
  std::vector<uint8_t> extra;
  ReadNameAndExtra(h.FileNameLength, h.ExtraFieldLength, stored, extra);
  TSizeHighWords high;
  TExtraFieldRecords records;
  ReadExtraField(extra.data(), extra.size(), h, high, &records);

  fileName_ = ZipNameFromArchive(stored, h.GeneralPurpose, 0, &records, TranslateOemChar());
  if (OnReadFile) OnReadFile(this, fileName_);
  const int64_t unpacked = Size64(h.UncompressedSize, high.UncompressedHigh);
  const int64_t packed = Size64(h.CompressedSize, high.CompressedHigh);
  if (SimpleSelect(fileName_)) {
    ++FileCount;
    TotalUnpacked += unpacked;
    TotalPacked += packed;
    Emit(static_cast<int>(headerOffset_), [&] {
      FileDosDateTime = h.FileTime;
      FileDateTime = DosDateRule(h.FileTime);
      VersionMadeBy = VersionNeeded = h.VersionNeeded;
      FileCRC = h.CRC32;
      Encrypted = (h.GeneralPurpose & 1) != 0;
      PackedSize = h.CompressedSize;
      if (Encrypted && h.CompressedSize >= 12) PackedSize -= 12;
      UnpackedSize = unpacked;
      TMethodContext ctx;
      ctx.flags = h.GeneralPurpose;
      if (records.AesLength >= 11) ctx.aesMethod = records.Aes[9] | (records.Aes[10] << 8);
      MethodName = MethodNameOf(arcType_, h.Method, ctx);
      MethodId = h.Method;
      InternalAttr = 0;
      ExternalAttr = 0;
      EntryRatio = EntryRatioOf(h.UncompressedSize, h.CompressedSize);
    });
  }
  nextHeaderOffset_ += packed + h.ExtraFieldLength;
}

}  // namespace tessavar
