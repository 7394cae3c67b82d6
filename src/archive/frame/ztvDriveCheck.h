#pragma once
// The check every writer runs on the drive of its archive before it writes,
// and the spanned-disk readers run on each disk inserted: is a disk there, is
// it writable, what label and space does it have. It lives in the frame
// because the readers of spanned ZIP sets need it as much as the writers,
// and both sit above the frame.
#include <cstdint>
#include <string>

#include "platform/Drive.h"

namespace tessavar {

class TZipCommon;

// What the last drive check learnt about the drive of an archive.
struct TDriveInfo {
  // The mount point with a trailing "/" ("//server/share/" for a network path).
  std::string Drive;
  std::string VolumeLabel;
  uint32_t SerialNumber = 0;
  std::string SerialNumberText;  // eight upper-case hexadecimal digits
  std::string FileSystemName;    // "" when the drive provider cannot tell
  // The number of a "PKBACK# nnn" label, 0 for any other label.
  int DiskNumber = 0;
  platform::DriveType DriveType = platform::DriveType::Unknown;
  int64_t FreeSpace = 0;
  int64_t TotalSpace = 0;
};

// Longer than two characters and beginning with "//".
bool IsNetworkPath(const std::string& Path);

// The disk number of a spanned set's label: "PKBACK# " (letters in any case)
// followed by decimal digits; 0 for any other label.
int SpannedDiskNumber(const std::string& Label);

// Checks the drive that holds ArchiveName (the current folder for an empty
// name) and fills Info. A missing disk asks OnDiskInDrvErr and a
// write-protected one OnDiskWriteProtectErr (Abort starts true); an
// unreadable volume shows a Retry/Cancel box. Failures are reported through
// the component's ReportError: 25170, 25171, 25443.
bool CheckDrive(TZipCommon& Component, const std::string& ArchiveName, TDriveInfo& Info);

}  // namespace tessavar
