#pragma once
// Reading a ZIP set spanned over removable disks: one disk at a time, always
// from the same drive under the same file name. The reader asks for a disk
// through its component's events, checks that the disk in the drive is the
// one wanted and reopens the archive on it.
#include <cstdint>
#include <memory>
#include <string>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvDriveCheck.h"
#include "archive/frame/ztvStream.h"

namespace tessavar {

// What the disk objects of reading and of writing spanned sets share: the
// component they serve and what the drive check last learnt.
class TDiskCommon : public TObject {
 public:
  explicit TDiskCommon(TZipCommon* Component = nullptr) : component_(Component) {}
  TDiskCommon(const TDiskCommon&) = delete;
  TDiskCommon& operator=(const TDiskCommon&) = delete;

  TZipCommon* Component() const { return component_; }
  const TDriveInfo& DriveInfo() const { return driveInfo_; }

 protected:
  // The drive check of the component's archive, with its disk-error events.
  bool CheckArchiveDrive();

  TZipCommon* component_;
  TDriveInfo driveInfo_;
};

class TDiskSpannObj : public TDiskCommon {
 public:
  using TDiskCommon::TDiskCommon;

  // Starts a read of a spanned set for Component: the next request asks for
  // the last disk, and the component's own cancel flag is the one in use.
  void Prepare(TZipCommon* Component);

  // Closes ArchiveStream, obtains the wanted disk and reopens the archive on
  // it, recording its size in the component. Position is where the caller
  // reads next on that disk (not examined for the last disk). A refused or
  // unanswerable request sets the component's cancel flag.
  bool RequestDisk(std::unique_ptr<TStream32>& ArchiveStream, int64_t Position);

  // 0 the last disk of the set, 1 the first, n the n-th (counted from 1, as
  // the volume labels count).
  uint16_t WantedDisk() const { return wantedDisk_; }
  void SetWantedDisk(uint16_t value) { wantedDisk_ = value; }

 private:
  bool LastDisk();
  bool FollowingDisk(int64_t Position);
  bool DiskCheck(int64_t Position);

  uint16_t wantedDisk_ = 0;
};

}  // namespace tessavar
