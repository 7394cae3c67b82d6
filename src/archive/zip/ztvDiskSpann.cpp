#include "archive/zip/ztvDiskSpann.h"

#include "archive/frame/ztvErrors.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

bool TDiskCommon::CheckArchiveDrive() {
  return component_ && CheckDrive(*component_, component_->ArchiveFile(), driveInfo_);
}

void TDiskSpannObj::Prepare(TZipCommon* Component) {
  component_ = Component;
  wantedDisk_ = 0;
  if (component_) component_->SetCancelFlag(nullptr);
}

bool TDiskSpannObj::RequestDisk(std::unique_ptr<TStream32>& ArchiveStream, int64_t Position) {
  ArchiveStream.reset();
  if (!component_) return false;
  TZipCommon& c = *component_;

  const char* missing = nullptr;
  if (wantedDisk_ == 0 && !c.OnGetZipLastDisk) missing = "OnGetZipLastDisk";
  else if (wantedDisk_ == 1 && !c.OnGetZipFirstDisk) missing = "OnGetZipFirstDisk";
  else if (wantedDisk_ > 1 && !c.OnGetZipNextDisk) missing = "OnGetZipNextDisk";
  bool accepted = false;
  if (missing) c.ReportError("", missing, c.VolumeName(), E_REQUIREDEVENT);
  else accepted = wantedDisk_ == 0 ? LastDisk() : FollowingDisk(Position);

  if (!accepted) {
    // Set without SetCancelled: the user has answered already, a report of
    // the cancel would only repeat it.
    *c.CancelFlag() = true;
    return false;
  }
  auto stream = std::make_unique<TFileStream32>(c.ArchiveFile(), fmOpenRead | fmShareDenyWrite);
  if (!stream->Valid()) {
    c.ReportError("", "", c.ArchiveFile(), E_FOPEN);
    return false;
  }
  c.SetArchiveSize(stream->GetSize());
  ArchiveStream = std::move(stream);
  return true;
}

bool TDiskSpannObj::LastDisk() {
  TZipCommon& c = *component_;
  // Assigning a name that is missing on the disk in the drive clears it; the
  // set keeps one name on every disk, so the name of the first round is put
  // back unless a handler named another file.
  const std::string name = c.ArchiveFile();
  auto detect = [&] {
    c.ZipState().FoundHeaders.Clear();
    const std::string current = c.ArchiveFile();
    c.SetArchiveFile(current.empty() ? name : current);
  };
  detect();
  while (!c.FoundHeaders().Has(htEnding)) {
    if (!c.OnGetZipLastDisk) return false;
    bool cancel = true;
    c.OnGetZipLastDisk(this, cancel);
    if (cancel) return false;
    detect();
  }
  if (!IsValidArcType(c.ArcType())) return false;
  wantedDisk_ = 1;
  return true;
}

bool TDiskSpannObj::FollowingDisk(int64_t Position) {
  TZipCommon& c = *component_;
  // The disk in the drive is looked at first: no question when it is right.
  while (!DiskCheck(Position)) {
    bool cancel = true;
    if (wantedDisk_ == 1) {
      if (!c.OnGetZipFirstDisk) return false;
      c.OnGetZipFirstDisk(this, cancel);
    } else {
      if (!c.OnGetZipNextDisk) return false;
      c.OnGetZipNextDisk(this, std::to_string(wantedDisk_), cancel);
    }
    if (cancel) return false;
  }
  if (wantedDisk_ < UINT16_MAX) ++wantedDisk_;
  return true;
}

bool TDiskSpannObj::DiskCheck(int64_t Position) {
  TZipCommon& c = *component_;
  // Refreshes what is known of the disk; its own failures are reported by it.
  CheckArchiveDrive();
  TFileStream32 file(c.ArchiveFile(), fmOpenRead | fmShareDenyWrite);
  if (!file.Valid()) {
    c.ReportError("", "", c.VolumeName(), E_FOPEN);
    return false;
  }
  if (Position < 0) return false;
  const int64_t size = file.GetSize();
  if (size >= 30 && Position <= size - 30) {
    uint8_t sig[4];
    if (file.Seek(Position, soFromBeginning) != Position || file.Read(sig, sizeof sig) != sizeof sig) return false;
    const uint32_t value = GetU32(sig);
    // Only the plain signatures count; the disks of a header-encrypted set
    // are told by their labels alone.
    return value == SPANNED_MARKER_SIGNATURE || value == LOCAL_FILE_HEADER_SIGNATURE ||
           value == CENTRAL_FILE_HEADER_SIGNATURE;
  }
  // Too short to hold a header there: only the disk's label can tell.
  switch (c.ArcType()) {
    case atZipDS: return CheckArchiveDrive() && driveInfo_.DiskNumber == wantedDisk_;
    case atZipMV: return true;
    default: return false;
  }
}

}  // namespace tessavar
