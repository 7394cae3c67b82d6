#include "archive/formats/ztvZipTV.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "archive/frame/ztvDriveCheck.h"
#include "archive/zip/ztvDiskSpann.h"
#include "platform/Application.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Time.h"

namespace tessavar {

namespace {

constexpr double kDefaultDate = 29221.0 + 1.0 / 1440.0;  // 1980-01-01 00:01

std::string DeflateName(int flags, bool d64) {
  static const char* const kN[] = {"DFLT-N", "DFLT-X", "DFLT-F", "DFLT-S"};
  static const char* const k64[] = {"DFLT-64N", "DFLT-64X", "DFLT-64F", "DFLT-64S"};
  int i = (flags >= 0 && flags <= 6 && flags % 2 == 0) ? flags / 2 : 0;
  return d64 ? k64[i] : kN[i];
}

template <size_t N>
std::string Pick(const char* const (&names)[N], int i, int first = 0) {
  return (i >= first && i < first + static_cast<int>(N)) ? names[i - first] : "Unsupported";
}

}  // namespace

uint8_t EntryRatioOf(int64_t unpacked, int64_t packed) {
  if (unpacked <= 0 || unpacked <= packed) return 0;
  double r = std::nearbyint(static_cast<double>(unpacked - packed) * 100.0 / static_cast<double>(unpacked));
  return static_cast<uint8_t>(std::clamp(r, 0.0, 100.0));
}

double DosDateRule(uint32_t dos) {
  if (dos == 0) dos = platform::kDosDate1980;
  double dt = 0;
  return platform::DosDateTimeToDateTime(dos, dt) ? dt : kDefaultDate;
}

std::string MethodNameOf(TArcType type, int m, const TMethodContext& ctx) {
  switch (type) {
    case atAce:
    case atAceExe: {
      static const char* const n[] = {"Fastest", "Fast", "Normal", "Good", "Best"};
      return Pick(n, m);
    }
    case atArc:
    case atArcExe: {
      static const char* const n[] = {"Stored", "Stored", "Packed", "Squeezed", "Crunched", "Crunched",
                                      "Squashed", "Pack10", "Pack11", "Pack12", "Stored"};
      if (m >= 1 && m <= 11) return n[m - 1];
      if (ctx.arcMethodByte == 30) return "<Dir>";
      return "Unsupported";
    }
    case atArj:
    case atArjExe: {
      static const char* const n[] = {"Stored", "Most", "2nd Most", "2nd Fast", "Fastest"};
      if (m >= 0 && m <= 4) return n[m];
      return ctx.arjFileType == 3 ? "<Dir>" : "Unsupported";
    }
    case atBh:
    case atBhExe: {
      static const char* const n[] = {"Stored", "Fused1", "Deflate", "Fused3"};
      if (m == 8) return DeflateName(ctx.flags, false);
      return Pick(n, m);
    }
    case atCab:
    case atCabExe: {
      const int t = ctx.flags & 0x0F;
      static const char* const n[] = {"Stored", "MsZIP", "Quantum", "Lzx"};
      return t <= 3 ? n[t] : "Lzx" + std::to_string(t);
    }
    case atGZip:
      if (m == 0) return "Stored";
      if (m == 8) return "Deflate";
      if (m == 144) return "LzwMAGIC";
      if (ctx.gzipMagic[0] == 0x1F && ctx.gzipMagic[1] == 0x1E) return "PackMAGIC";
      if (ctx.gzipMagic[0] == 0x1F && ctx.gzipMagic[1] == 0xA0) return "LzhMAGIC";
      return "Unsupported";
    case atHA: {
      static const char* const n[] = {"Cpy", "Asc", "HSC"};
      if (m == 14) return "<Dir>";
      if (m == 15) return "Special";
      return Pick(n, m);
    }
    case atLha:
    case atLhaExe:
    case atLzh:
    case atLzhExe: {
      static const char* const n[] = {"Stored", "Frozen-1", "Frozen-2", "Frozen-3",
                                      "Frozen-4", "Frozen-5", "Frozen-6", "Frozen-7"};
      if (m == 'd') return "<Dir>";
      return Pick(n, m, '0');
    }
    case atPak:
    case atPakExe: {
      static const char* const n[] = {"Stored", "Stored", "RLE", "Squeezed", "FixedLen", "FixedLen",
                                      "FixedLen", "Varible", "Varible", "Crushed", "Distill"};
      return Pick(n, m, 1);
    }
    case atRar:
    case atRarExe: {
      static const char* const n[] = {"Stored", "Fastest", "Fast", "Normal", "Good", "Best"};
      if (ctx.directory) return "<Dir>";
      return Pick(n, m, 48);
    }
    case atTar:
    case atTarGZip:
      if (m == 0) return "Tarred";
      if (!ctx.name.empty() && (ctx.name.back() == '/' || ctx.name.back() == '\\')) return "<Dir>";
      return "Unsupported";
    case atZip:
    case atZipExe:
    case atJar:
    case atJarExe:
    case atZipDS:
    case atZipMV: {
      static const char* const n[] = {"Stored", "Shrunk", "Reduce-1", "Reduce-2",
                                      "Reduce-3", "Reduce-4", "Imploded", "Tokened"};
      if (m >= 0 && m <= 7) return n[m];
      if (m == 8) return DeflateName(ctx.flags, false);
      if (m == 9) return DeflateName(ctx.flags, true);
      if (m == 10) return "DCL-implode";
      if (m == 99 && ctx.aesMethod >= 0 && ctx.aesMethod != 99) {
        TMethodContext inner = ctx;
        inner.aesMethod = -1;
        return MethodNameOf(type, ctx.aesMethod, inner);
      }
      return ctx.directory ? "<Dir>" : "Unsupported";
    }
    case atZoo: {
      static const char* const n[] = {"Stored", "Fastest", "Greatest"};
      return Pick(n, m);
    }
    default:
      return "Unsupported";
  }
}

TZipTV::TZipTV(TComponent* owner) : TZipCommon(owner), diskSpann_(std::make_unique<TDiskSpannObj>()) {
  SetZipCmntBufSize(32000);
  SetRecurseDirs(true);
}

TZipTV::~TZipTV() = default;

void TZipTV::SetFileName(const std::string& Name) {
  std::string n = TranslateOemChar() ? platform::OemToUtf8(Name) : Name;
  for (char& c : n)
    if (c == '\\') c = '/';
  fileName_ = n;
}

void TZipTV::ResetRecord() {
  FileDateTime = kDefaultDate;
  FileDosDateTime = 0;
  UnpackedSize = PackedSize = 0;
  FileCRC = 0;
  EntryRatio = 0;
  Encrypted = false;
  MethodName.clear();
  MethodId = 0;
  ExternalAttr = 0;
  InternalAttr = 0;
  VersionMadeBy = VersionNeeded = 0;
  EntryComment.clear();
}

int64_t TZipTV::ReadAt(int64_t pos, void* buffer, int64_t count) { return cache_.ReadAt(pos, buffer, count); }

void TZipTV::Emit(int offset, const std::function<void()>& fill) {
  platform::ProcessMessages();
  if (Cancelled() || !OnRead) return;
  fill();
  if ((ExternalAttr & FILE_ATTRIBUTE_DIRECTORY) && (fileName_.empty() || fileName_.back() != '/')) fileName_ += '/';
  if (OnReadBegin) OnReadBegin(this);
  OnRead(this, offset, FileCount);
  if (OnReadEnd) OnReadEnd(this);
}

bool TZipTV::Activate() {
  if (busy_) return false;
  busy_ = true;
  struct BusyGuard {
    bool& b;
    ~BusyGuard() { b = false; }
  } guard{busy_};
  SetCancelled(false);
  volumeName_ = ArchiveFile();
  count_ = 0;
  bool ok = true;
  bool activated = false;
  try {
    if (ArchiveFile().empty() || !platform::FileExists(ArchiveFile()))
      RaiseFatal(ArchiveFile().empty() ? RequestedArchiveFile() : ArchiveFile(), "", "0", E_FILENOTFOUND);
    if (!OnRead) RaiseFatal(ArchiveFile(), "OnRead", "0", E_REQUIREDEVENT);
    if (Cancelled()) return false;
    if (arcType_ == atZip && startOffset_ == 0 && !zip_.FoundHeaders.Has(htCentral)) {
      // A ZIP without a directory on a removable drive is one disk of a spanned set.
      TDriveInfo drive;
      if (!CheckDrive(*this, ArchiveFile(), drive)) return true;
      if (drive.DriveType == platform::DriveType::Removable) arcType_ = atZipDS;
    }
    archive_ = std::make_unique<TFileStream32>(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
    if (!static_cast<TFileStream32*>(archive_.get())->Valid()) {
      archive_.reset();
      ReportError(ArchiveFile(), "", "0", E_FOPEN);
      return true;
    }
    cache_.Reset(archive_.get());
    if (OnActivate) OnActivate(this);
    activated = true;
    Timer().Start();
    FileCount = 0;
    TotalUnpacked = TotalPacked = 0;
    TotalRatio = 0;
    archiveSize_ = archive_->Size();
    ResetRecord();
    headerLength_ = 0;
    headerOffset_ = 0;
    if (IsZipType(arcType_)) PrepareZip();
    nextHeaderOffset_ = headerOffset_;
    while (!Cancelled() && archive_ && headerLength_ != 0 && nextHeaderOffset_ + headerLength_ < archiveSize_) {
      headerOffset_ = nextHeaderOffset_;
      headerBuffer_.resize(static_cast<size_t>(headerLength_));
      const int64_t got = ReadAt(headerOffset_, headerBuffer_.data(), headerLength_);
      if (got <= 0) break;
      nextHeaderOffset_ += got;
      EntryComment.clear();
      if (got < headerLength_) std::fill(headerBuffer_.begin() + got, headerBuffer_.end(), 0);
      if (!IsZipType(arcType_)) nextHeaderOffset_ = archiveSize_;
      else if (localMode_) ZipLocalStep();
      else ZipCentralStep();
    }
  } catch (...) {
    ok = false;
  }
  if (activated) {
    try {
      Timer().Stop();
      archive_.reset();
      if (OnTotals) {
        TotalRatio = EntryRatioOf(TotalUnpacked, TotalPacked);
        OnTotals(this, TotalUnpacked, TotalPacked, TotalRatio, FileCount);
      }
      if (OnDeactivate) OnDeactivate(this);
      if (OnElapsedTime) OnElapsedTime(this, Timer().ElapsedTime());
    } catch (...) {
      ok = false;
    }
  }
  archive_.reset();
  return ok;
}

}  // namespace tessavar
