#include "archive/zip/ztvUnZip.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#include "archive/frame/ztvDriveCheck.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvDiskSpann.h"
#include "archive/zip/ztvInflateAhead.h"
#include "archive/zip/ztvZipNames.h"
#include "platform/Dialogs.h"
#include "platform/File.h"
#include "platform/Temp.h"
#include "platform/Time.h"

namespace tessavar {

namespace {

constexpr int kSearchSpan = 32768;

std::string FolderOf(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}


// Reads an entry's data across the volumes or disks of a set: at the end of
// one part the component is asked for the next, and reading goes on from its
// start.
class TChainedInput : public TStream32 {
 public:
  TChainedInput(std::unique_ptr<TStream32>& archive, std::function<bool(int64_t left)> next)
      : archive_(archive), next_(std::move(next)) {}
  void SetLeft(int64_t left) { left_ = left; }
  void SetSize(int64_t) override {}
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    return archive_ ? archive_->Seek(offset, origin) : -1;
  }
  int64_t Read(void* buffer, int64_t count) override {
    int64_t done = 0;
    auto* out = static_cast<uint8_t*>(buffer);
    while (done < count && archive_) {
      const int64_t n = archive_->Read(out + done, count - done);
      if (n > 0) {
        done += n;
        left_ -= n;
        continue;
      }
      if (left_ <= 0 || !next_ || !next_(left_)) break;
      if (archive_) archive_->SetPosition(0);
    }
    return done;
  }
  int64_t Write(const void*, int64_t) override { return 0; }

 private:
  std::unique_ptr<TStream32>& archive_;
  std::function<bool(int64_t)> next_;
  int64_t left_ = 0;
};

// Writes an entry inflated in memory in pieces, so progress still moves, and
// leaves the check value of what was written in the component.
bool EmitWhole(TZipCommon& c, TStream32* out, const TEntryParams& e, const TWholeEntry& w) {
  if (!w.decoded) return false;
  constexpr int64_t kPiece = 1 << 20;
  const int64_t total = static_cast<int64_t>(w.actual);
  int64_t done = 0;
  while (done < total && !c.Cancelled()) {
    const int64_t n = std::min<int64_t>(kPiece, total - done);
    if (c.WriteDecoded(out, w.plain.get() + done, false, 32, n, 0) != n) break;
    done += n;
    c.SetBytesRemaining(c.BytesRemaining() - n);
    c.ReportProgress(c.ArchiveTotal(), e.UncompressedSize, done);
  }
  // The check value covers exactly the bytes that reached the output.
  c.SetCrc32Register(done == total ? w.crc ^ 0xFFFFFFFFu : Crc32Update(w.plain.get(), static_cast<size_t>(done), 0xFFFFFFFFu));
  return done == total && w.complete;
}

// Method 8 for an entry that fits the limit: read it whole and inflate it in
// one call.
bool InflateWhole(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& e, TWholeEntry& w, bool& tried) {
  tried = false;
  if (e.CompressedSize > kWholeEntryLimit || e.UncompressedSize > kWholeEntryLimit || e.UncompressedSize < 0 ||
      e.CompressedSize < 0 || c.AsciiTranslation())
    return false;
  w.Reserve(static_cast<size_t>(e.CompressedSize), static_cast<size_t>(e.UncompressedSize));
  if (!w.packed || !w.plain) return false;  // no memory for it: stream instead
  int64_t got = 0;
  while (got < e.CompressedSize) {
    const int64_t n = c.ReadBlock(in, w.packed.get() + got, e.Decrypt, 0, e.CompressedSize - got);
    if (n <= 0) break;
    got += n;
  }
  tried = true;
  w.packedLen = static_cast<size_t>(got);
  w.uncompressed = e.UncompressedSize;
  w.Inflate();
  return EmitWhole(c, out, e, w);
}

// Method 8 through zlib's raw inflate, bounded by the entry's sizes.
bool InflateEntry(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& e, TWholeEntry& scratch) {
  bool tried = false;
  const bool whole = InflateWhole(c, in, out, e, scratch, tried);
  if (tried) return whole;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::vector<uint8_t> input(32768), output(32768);
  int64_t inLeft = e.CompressedSize, outLeft = e.UncompressedSize, produced = 0;
  bool ok = false;
  while (!c.Cancelled()) {
    if (z.avail_in == 0 && inLeft > 0) {
      const int64_t got = c.ReadBlock(in, input.data(), e.Decrypt, 0, std::min<int64_t>(inLeft, 32768));
      if (got <= 0) break;
      inLeft -= got;
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(got);
    }
    z.next_out = output.data();
    z.avail_out = static_cast<uInt>(output.size());
    const int rc = inflate(&z, Z_NO_FLUSH);
    const int64_t n = static_cast<int64_t>(output.size() - z.avail_out);
    if (n > 0) {
      const int64_t keep = std::min(n, outLeft);
      if (keep > 0 && c.WriteDecoded(out, output.data(), false, 32, keep, 1) != keep) break;
      outLeft -= keep;
      produced += keep;
      c.SetBytesRemaining(c.BytesRemaining() - keep);
      c.ReportProgress(c.ArchiveTotal(), e.UncompressedSize, produced);
      if (n > keep) break;  // more than the entry holds: damaged
    }
    if (rc == Z_STREAM_END) {
      ok = true;
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) break;
    if (rc == Z_BUF_ERROR && z.avail_in == 0 && inLeft <= 0) break;  // input ended early
  }
  inflateEnd(&z);
  return ok;
}

}  // namespace

TUnZip::TUnZip(TComponent* owner)
    : TUnBase(owner), diskSpann_(std::make_unique<TDiskSpannObj>()), scratch_(std::make_unique<TWholeEntry>()) {}

TUnZip::~TUnZip() = default;

void TUnZip::DoExtract(std::unique_ptr<TStream32>& Archive) {
  if (arcType_ == atZipDS || arcType_ == atZipMV) {
    TDriveInfo drive;
    if (!CheckDrive(*this, ArchiveFile(), drive)) return;
  }
  if (arcType_ == atZipDS) {
    diskSpann_->Prepare(this);
    if (!diskSpann_->RequestDisk(Archive, 0)) return;
  }
  list_.clear();
  list_.reserve(std::min<size_t>(zip_.EndOfCentralDir.TotalEntries, 65535));
  totalUnpacked_ = 0;
  openVolume_ = zip_.EndOfCentralDir.NumberOfThisDisk + 1;
  hdr_.Reset(Archive.get());
  localHdr_.Reset(Archive.get());
  aheadHdr_.Reset(Archive.get());
  checkedFolder_.clear();
  THeaderTypeState localOnly;
  localOnly.Include(htLocal);
  if (!Archive) return;
  if (zip_.FoundHeaders == localOnly || !zip_.FoundHeaders.Has(htCentral)) {
    if (LocalWalk(*Archive) > 0) ExtractListed(Archive, false);
  } else {
    if (CentralWalk(*Archive) > 0) ExtractListed(Archive, true);
  }
  list_.clear();
}

int TUnZip::CentralWalk(TStream32& archive) {
  Timer().Pause();
  int64_t pos = zip_.DirectoryStart;
  int64_t shift = 0;
  bool first = true;
  const TEndOfCentralDir& end = zip_.EndOfCentralDir;
  const int rounds = end.NumberOfThisDisk >= end.DiskWithCentralDir ? end.NumberOfThisDisk - end.DiskWithCentralDir + 1 : 0;
  const int64_t limit = archive.Size();
  for (int round = 0; round < rounds && !Cancelled(); ++round) {
    uint8_t rec[TCentralFileHeader::kSize] = {};
    while (!Cancelled() && hdr_.ReadAt(pos, rec, sizeof rec) == sizeof rec) {
      const TSignatureClass sig = ClassifySignature(GetU32(rec), htCentral);
      if (sig.kind != htCentral) break;
      TSeedKeyValues keys;
      if (sig.encrypted) DecipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
      TCentralFileHeader h = TCentralFileHeader::Parse(rec);
      std::string stored(h.FileNameLength, '\0');
      stored.resize(static_cast<size_t>(hdr_.ReadAt(pos + 46, stored.data(), h.FileNameLength)));
      if (sig.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(stored.data()), stored.size());
      std::vector<uint8_t> extra(h.ExtraFieldLength);
      extra.resize(static_cast<size_t>(hdr_.ReadAt(pos + 46 + h.FileNameLength, extra.data(), h.ExtraFieldLength)));
      TSizeHighWords high;
      TExtraFieldRecords records;
      ReadExtraField(extra.data(), extra.size(), h, high, &records);
      const std::string name = ZipNameFromArchive(stored, h.GeneralPurpose, h.VersionMadeBy, &records, TranslateOemChar());
      if (DirectorySelect(name)) {
        TUnBaseHeaderObj item;
        item.ExternalAttributes = h.ExternalAttributes;
        item.Volume = static_cast<uint16_t>(h.DiskNumberStart + (arcType_ == atZipDS ? 1 : 0));
        item.LocalPosition = Size64(h.RelativeOffset, high.OffsetHigh) + zip_.OffsetBias + shift;
        bool good = true;
        if (arcType_ != atZipDS && arcType_ != atZipMV) {
          uint8_t local[TLocalFileHeader::kSize];
          const bool found = localHdr_.ReadAt(item.LocalPosition, local, sizeof local) == sizeof local &&
                             ClassifySignature(GetU32(local), htLocal).kind == htLocal;
          if (!found && first) {
            // Offsets that count from the archive data behind a stub: the first
            // local header lies a little further on.
            std::vector<uint8_t> span(kSearchSpan);
            const int64_t got = localHdr_.ReadAt(item.LocalPosition + 1, span.data(), kSearchSpan);
            good = false;
            for (int64_t k = 0; k + 4 <= got; ++k) {
              if (ClassifySignature(GetU32(&span[static_cast<size_t>(k)]), htLocal).kind == htLocal &&
                  item.LocalPosition + 1 + k + TLocalFileHeader::kSize <= limit) {
                shift = k + 1;
                item.LocalPosition += shift;
                good = true;
                break;
              }
            }
          } else if (!found) {
            good = false;
          }
          if (!good) ReportError(name, "", "0", E_BADOFFSET);
        }
        if (good) {
          item.HaveCentral = true;
          item.Central = h;
          item.CentralHigh = high;
          list_.push_back(item);
          totalUnpacked_ += Size64(h.UncompressedSize, high.UncompressedHigh);
          if (h.FileTime > maxFileDate_) maxFileDate_ = h.FileTime;
        }
      }
      first = false;
      pos += 46 + h.FileNameLength + h.ExtraFieldLength + h.FileCommentLength;
    }
  }
  Timer().Resume();
  return static_cast<int>(list_.size());
}

int TUnZip::LocalWalk(TStream32& archive) {
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(this, zip_.FoundHeaders, cancel);
    if (cancel) return 0;
  }
  int64_t pos = std::max<int64_t>(startOffset_, 0);
  uint8_t rec[TLocalFileHeader::kSize];
  int64_t got = hdr_.ReadAt(pos, rec, sizeof rec);
  if (got == sizeof rec && GetU32(rec) == SPANNED_MARKER_SIGNATURE) {
    pos += 4;
    got = hdr_.ReadAt(pos, rec, sizeof rec);
  }
  const int64_t limit = archive.Size();
  while (got == sizeof rec && !Cancelled()) {
    const TSignatureClass sig = ClassifySignature(GetU32(rec), htLocal);
    if (sig.kind != htLocal) break;
    TSeedKeyValues keys;
    if (sig.encrypted) DecipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
    TLocalFileHeader h = TLocalFileHeader::Parse(rec);
    std::string stored(h.FileNameLength, '\0');
    stored.resize(static_cast<size_t>(hdr_.ReadAt(pos + 30, stored.data(), h.FileNameLength)));
    if (sig.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(stored.data()), stored.size());
    std::vector<uint8_t> extra(h.ExtraFieldLength);
    extra.resize(static_cast<size_t>(hdr_.ReadAt(pos + 30 + h.FileNameLength, extra.data(), h.ExtraFieldLength)));
    TSizeHighWords high;
    TExtraFieldRecords records;
    ReadExtraField(extra.data(), extra.size(), h, high, &records);
    const std::string name = ZipNameFromArchive(stored, h.GeneralPurpose, 0, &records, TranslateOemChar());
    const int64_t packed = Size64(h.CompressedSize, high.CompressedHigh);
    if (!name.empty() && DirectorySelect(name)) {
      TUnBaseHeaderObj item;
      item.Volume = 1;
      item.LocalPosition = pos;
      list_.push_back(item);
      totalUnpacked_ += Size64(h.UncompressedSize, high.UncompressedHigh);
      if (h.FileTime > maxFileDate_) maxFileDate_ = h.FileTime;
    }
    const int64_t next = pos + 30 + h.FileNameLength + h.ExtraFieldLength + packed;
    if (next <= pos || next >= limit) break;
    pos = next;
    got = hdr_.ReadAt(pos, rec, sizeof rec);
  }
  return static_cast<int>(list_.size());
}

void TUnZip::ExtractListed(std::unique_ptr<TStream32>& archive, bool central) {
  bytesRemaining_ = totalUnpacked_;
  archiveTotal_ = totalUnpacked_;
  bool firstEntry = true;
  const int last = zip_.EndOfCentralDir.NumberOfThisDisk + 1;
  StartInflateAhead(central);
  struct StopAhead {
    std::unique_ptr<TInflateAhead>& a;
    ~StopAhead() { a.reset(); }
  } stopAhead{ahead_};
  for (entryIndex_ = 0; entryIndex_ < list_.size(); ++entryIndex_) {
    const TUnBaseHeaderObj& item = list_[entryIndex_];
    if (Cancelled()) break;
    if (arcType_ == atZipDS && firstEntry) {
      diskSpann_->SetWantedDisk(item.Volume);
      const bool granted = diskSpann_->RequestDisk(archive, item.LocalPosition);
      hdr_.Reset(archive.get());
      if (!granted) break;
    } else if (arcType_ == atZipMV && central && item.Volume + 1 != openVolume_) {
      const bool granted = RequestNextVolume(archive, item.Volume, last);
      hdr_.Reset(archive.get());
      if (!granted) break;
      openVolume_ = item.Volume + 1;
    }
    firstEntry = false;
    if (!archive) break;
    // The data of an entry a worker inflates is not read here, so its
    // header comes through a small window of its own.
    TReadCache& headers = ahead_ && ahead_->Covers(entryIndex_) ? aheadHdr_ : hdr_;
    uint8_t rec[TLocalFileHeader::kSize] = {};
    if (headers.ReadAt(item.LocalPosition, rec, sizeof rec) != sizeof rec) {
      ReportError(ArchiveFile(), "", volumeName_, E_BADOFFSET);
      continue;
    }
    const TSignatureClass sig = ClassifySignature(GetU32(rec), htLocal);
    if (sig.kind != htLocal) {
      ReportError(ArchiveFile(), "", volumeName_, E_BADOFFSET);
      continue;
    }
    TSeedKeyValues keys;
    if (sig.encrypted) DecipherHeaderRecord(rec, sizeof rec, keys, HeaderSeed());
    TLocalFileHeader local = TLocalFileHeader::Parse(rec);
    std::string stored(local.FileNameLength, '\0');
    stored.resize(static_cast<size_t>(headers.ReadAt(item.LocalPosition + 30, stored.data(), local.FileNameLength)));
    if (sig.encrypted) DecipherHeaderName(keys, reinterpret_cast<uint8_t*>(stored.data()), stored.size());
    std::vector<uint8_t> extra(local.ExtraFieldLength);
    extra.resize(static_cast<size_t>(
        headers.ReadAt(item.LocalPosition + 30 + local.FileNameLength, extra.data(), local.ExtraFieldLength)));
    TSizeHighWords localHigh;
    TExtraFieldRecords records;
    ReadExtraField(extra.data(), extra.size(), local, localHigh, &records);
    const uint16_t gp = central ? item.Central.GeneralPurpose : local.GeneralPurpose;
    const uint16_t madeBy = central ? item.Central.VersionMadeBy : 0;
    storedName_ = ZipNameFromArchive(stored, gp, madeBy, &records, TranslateOemChar());
    if (central && !item.Central.FileNameLength) storedName_.clear();
    // The entry's data; the parts of a set are read from the stream itself.
    dataPos_ = item.LocalPosition + 30 + local.FileNameLength + local.ExtraFieldLength;
    if (arcType_ == atZipDS || arcType_ == atZipMV) archive->SetPosition(dataPos_);
    ProcessEntry(archive, item, local, localHigh, localHigh.Tag, central);
  }
}

void TUnZip::StartInflateAhead(bool central) {
  ahead_.reset();
  // Worth a thread only on a machine with a second core, for a single
  // archive with a few entries the worker can take; the parts of a set are
  // swapped under the component's feet, so they are read here alone.
  if (!central || arcType_ == atZipDS || arcType_ == atZipMV || AsciiTranslation()) return;
  if (processMode_ != 0 && processMode_ != 6) return;
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores < 2) return;
  const auto takes = std::count_if(list_.begin(), list_.end(), [](const TUnBaseHeaderObj& item) {
    return TInflateAhead::Eligible(item);
  });
  if (takes < 2) return;
  ahead_ = std::make_unique<TInflateAhead>(ArchiveFile(), list_, static_cast<int>(std::min(cores, 4u)));
}

bool TUnZip::PasswordCheck(TStream32& archive, uint16_t lastExtraTag, const TLocalFileHeader& local, uint32_t crc) {
  if (lastExtraTag == 0x0017 || lastExtraTag == 0x9901) return false;
  uint8_t header[kEncryptionHeaderSize];
  if (ReadBlock(archive, header, false, 0, kEncryptionHeaderSize) != static_cast<int64_t>(kEncryptionHeaderSize))
    return false;
  auto tryPassword = [&](const std::string& pw) {
    return CheckEncryptionHeader(dataKeys_, DataSeed(), header, local.GeneralPurpose, crc, local.FileTime, pw);
  };
  if (tryPassword(Password())) return true;
  for (const std::string& p : Passwords()) {
    SetPassword(p);
    if (tryPassword(p)) return true;
  }
  if (!OnGetPassword) {
    ReportError(fileName_, "OnGetPassword", volumeName_, E_REQUIREDEVENT);
    return false;
  }
  bool tryAgain = true;
  for (int attempt = 0; attempt < PasswordAttempts() && !Cancelled(); ++attempt) {
    std::string pw = Password();
    OnGetPassword(this, fileName_, pw, HeaderSeed(), DataSeed(), tryAgain);
    SetPassword(pw);
    if (!tryAgain) {
      ReportError(fileName_, "User canceled", volumeName_, E_INVALIDPASSWORD);
      return false;
    }
    if (tryPassword(pw)) {
      TStrings list = Passwords();
      list.insert(list.begin(), pw);
      SetPasswords(list);
      return true;
    }
    ResetCrc();
    ReportError(fileName_, pw, volumeName_, E_INVALIDPASSWORD);
    SetPassword("");
  }
  return false;
}

bool TUnZip::Decode(std::unique_ptr<TStream32>& archive, TStream32* out, uint16_t generalPurpose, uint16_t method,
                    int64_t compressed, int64_t uncompressed) {
  ResetCrc();
  TEntryParams e;
  e.GeneralPurpose = generalPurpose;
  e.Method = method;
  e.Decrypt = (generalPurpose & 1) && EncryptionMethod() == emZIP_v2;
  e.CompressedSize = e.Decrypt ? std::max<int64_t>(compressed - 12, 0) : compressed;
  e.UncompressedSize = uncompressed;
  const int last = zip_.EndOfCentralDir.NumberOfThisDisk + 1;
  TChainedInput in(archive, [&](int64_t left) -> bool {
    bool granted = false;
    if (arcType_ == atZipDS) {
      granted = diskSpann_->RequestDisk(archive, left);
    } else if (arcType_ == atZipMV) {
      granted = RequestNextVolume(archive, openVolume_, last);
      if (granted) ++openVolume_;
    }
    hdr_.Reset(archive.get());
    return granted;
  });
  in.SetLeft(e.CompressedSize);
  // A single archive is read through the header window; the parts of a set
  // through the chain that moves from part to part.
  TCachedReader cached(hdr_, dataPos_);
  TStream32& src = (arcType_ == atZipDS || arcType_ == atZipMV) ? static_cast<TStream32&>(in) : cached;
  try {
    switch (method) {
      case 0: return CopyStoredData(src, out, e.CompressedSize, generalPurpose, 32) == 0;
      case 1: Unshrink(*this, src, out, e); return true;
      case 2: case 3: case 4: case 5: Unreduce(*this, src, out, e); return true;
      case 6: return Explode(*this, src, out, e) == kDecodeOk;
      case 8: {
        if (ahead_ && !e.Decrypt && !AsciiTranslation()) {
          std::unique_ptr<TWholeEntry> w = ahead_->Take(entryIndex_);
          // The worker's reading of the entry must agree with this one.
          const bool usable = w && w->dataPos == dataPos_ && w->compressed == e.CompressedSize &&
                              w->uncompressed == e.UncompressedSize;
          const bool ok = usable && EmitWhole(*this, out, e, *w);
          ahead_->Recycle(std::move(w));
          if (usable) return ok;
        }
        return InflateEntry(*this, src, out, e, *scratch_);
      }
      case 9: return WindowInflate(*this, src, out, e, true) == kDecodeOk;
      default:
        ReportError(ShownName(), "", volumeName_, E_UNKNTYPE);
        entryFailed_ = true;
        return false;
    }
  } catch (const E_RAISE& error) {
    platform::ShowMessage("Tessavar", error.what(), platform::MsgKind::Error, platform::MsgButtons::OK);
    return false;
  }
}

void TUnZip::FailEntry(uint32_t storedCrc, bool uncount, int64_t uncompressed) {
  if (uncount) count_ = std::max(0, count_ - 1);
  bytesRemaining_ -= uncompressed;
  entryFailed_ = true;
  CheckCRC(32, storedCrc);
}

void TUnZip::RestoreAttributes(TFileStream32& file, bool createdHere, uint32_t attributes, uint16_t versionMadeBy) {
  // What a new file gets here; a temporary file starts out private instead.
  static const int fresh = platform::NewFileMode();
  int mode = fresh;
  if ((versionMadeBy >> 8) == 3 && ((attributes >> 16) & 0777) != 0) {
    // Unix permission bits, never set-uid, set-gid or sticky.
    mode = static_cast<int>((attributes >> 16) & 0777);
  } else if (RestoreFileAttr() && (attributes & 0xFF) != 0x20 && (attributes & platform::kAttrReadOnly)) {
    mode = fresh & ~0222;
  }
  if (!createdHere || mode != fresh) platform::SetHandleMode(file.Handle(), mode);
}

void TUnZip::ProcessEntry(std::unique_ptr<TStream32>& archive, const TUnBaseHeaderObj& item,
                          const TLocalFileHeader& local, const TSizeHighWords& localHigh, uint16_t lastExtraTag,
                          bool central) {
  const uint16_t gp = central ? item.Central.GeneralPurpose : local.GeneralPurpose;
  const uint16_t method = central ? item.Central.Method : local.Method;
  int64_t compressed = Size64(local.CompressedSize, localHigh.CompressedHigh);
  int64_t uncompressed = Size64(local.UncompressedSize, localHigh.UncompressedHigh);
  if (central) EntrySizes(item, localHigh, compressed, uncompressed);
  const uint32_t storedCrc = central ? item.Central.CRC32 : local.CRC32;
  entryFailed_ = false;
  uint32_t attributes = item.ExternalAttributes;
  const uint16_t madeBy = central ? item.Central.VersionMadeBy : 0;
  const bool isDir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
                     (!storedName_.empty() && storedName_.back() == '/');
  auto skipBytes = [&] {
    bytesRemaining_ -= uncompressed;
    ReportProgress(archiveTotal_, 1, 1);
  };

  // The output path; names that would leave the destination are refused.
  if (processMode_ == 0 || !central) {
    SetFileName(storedName_);
    if (FileNameRefused() || (processMode_ == 0 && storedName_.empty())) {
      ReportError(storedName_, "", volumeName_, E_INVALIDFILENAME);
      skipBytes();
      return;
    }
    if (processMode_ == 6) fileName_ = storedName_;
  } else {
    fileName_ = storedName_;
  }
  if (processMode_ == 0 && !isDir) {
    // Entries of one folder follow each other: create and check it once.
    const std::string folder = FolderOf(fileName_);
    if (folder != checkedFolder_) {
      platform::ForceDirs(folder);
      checkedFolderInside_ = InsideExtractDir(fileName_);
      checkedFolder_ = folder;
    }
    if (!checkedFolderInside_) {
      ReportError(storedName_, "", volumeName_, E_INVALIDFILENAME);
      skipBytes();
      return;
    }
  }
  if (!EntryBegin(isDir)) {
    skipBytes();
    return;
  }
  bool encrypted = false;
  if (!isDir && (gp & 1)) {
    encrypted = true;
    if (method == 99) {
      // Entries of the AES scheme cannot be opened here; the others still can.
      ReportError(ShownName(), "", volumeName_, E_UNKNTYPE);
      FailEntry(storedCrc, true, uncompressed);
      return;
    }
    if (gp & 0x40) {
      SetEncryptionMethod(emUnsupported);
      skip_ = true;
    } else {
      SetEncryptionMethod(emZIP_v2);
    }
    if (!skip_) {
      TCachedReader header(hdr_, dataPos_);
      const bool single = arcType_ != atZipDS && arcType_ != atZipMV;
      if (!PasswordCheck(single ? static_cast<TStream32&>(header) : *archive, lastExtraTag, local, storedCrc))
        skip_ = true;
      if (single) dataPos_ = header.Position();
    }
  } else {
    SetEncryptionMethod(emNone);
  }
  if (isDir) {
    if (processMode_ == 0 && CreateStoredDirs()) {
      std::string dir = fileName_;
      if (!platform::ForceDirs(dir)) return;
    }
    ResetCrc();
    SetCrc32Register(storedCrc ^ 0xFFFFFFFFu);
    CheckCRC(32, storedCrc);
    return;
  }
  if (encrypted && skip_) {
    FailEntry(storedCrc, true, uncompressed);
    return;
  }
  // A file that is not there yet is made under its own name, exclusively,
  // so nothing that was there can be touched; one that is there is written
  // under a temporary name next to it and moved over it only when its check
  // value is right. Either way a failed entry leaves nothing behind that
  // looks complete.
  std::unique_ptr<TFileStream32> output;
  std::string target;
  bool direct = false;
  if (processMode_ == 0) {
    platform::FileHandle h = platform::FileOpen(fileName_, platform::OpenMode::CreateNew);
    if (h != platform::kInvalidHandle) {
      direct = true;
      target = fileName_;
    } else {
      h = platform::CreateTempFileOpen(FolderOf(fileName_), ".ztv", target);
    }
    if (h != platform::kInvalidHandle) output = std::make_unique<TFileStream32>(TFileStream32::Adopt{}, h, target);
    if (!output) {
      ReportError(fileName_, "", volumeName_, E_FOPEN);
      FailEntry(storedCrc, true, uncompressed);
      return;
    }
  }
  Decode(archive, output.get(), gp, method, compressed, uncompressed);
  bool pass = !Cancelled() && !entryFailed_ && (storedCrc == Crc32Value());
  if (processMode_ == 0) {
    if (pass) {
      int64_t when = 0;
      if (platform::DosDateTimeToUnix(FileDateFor(local.FileTime), when)) platform::SetHandleTime(output->Handle(), when);
      if (JarType()) attributes = 0x20;
      RestoreAttributes(*output, direct, attributes, madeBy);
      output->Close();
      if (!direct && !platform::MoveFile(target, fileName_)) {
        platform::DeleteFile(target);
        ReportError(fileName_, "", volumeName_, E_FCLOSE);
        entryFailed_ = true;
      }
    } else {
      output->Close();
      platform::DeleteFile(target);
    }
  }
  CheckCRC(32, storedCrc);
}

}  // namespace tessavar
