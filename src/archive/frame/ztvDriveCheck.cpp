#include "archive/frame/ztvDriveCheck.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvErrors.h"
#include "platform/Dialogs.h"
#include "platform/File.h"
#include "platform/Temp.h"

namespace tessavar {

namespace {

constexpr const char* kApplicationTitle = "Tessavar";

std::string AbsolutePath(const std::string& name) {
  if (name.empty()) return platform::CurrentDir();
  if (name.front() == '/') return name;
  return platform::CurrentDir() + name;
}

// "//server/share/" of a network path: the server and the share name.
std::string NetworkRoot(const std::string& path) {
  size_t server = path.find('/', 2);
  if (server == std::string::npos) return path + "/";
  size_t share = path.find('/', server + 1);
  return share == std::string::npos ? path + "/" : path.substr(0, share + 1);
}

// The folder the writability probe goes to: the archive's folder, or the
// nearest one above it that exists yet.
std::string ProbeFolder(const std::string& path) {
  std::string folder = path.substr(0, path.find_last_of('/') + 1);
  while (folder.size() > 1 && !platform::DirExists(folder)) {
    folder.pop_back();
    folder = folder.substr(0, folder.find_last_of('/') + 1);
  }
  return folder.empty() ? std::string("/") : folder;
}

// On this platform the root of a mount is often closed to the user while
// the archive's own folder is open, so the probe file goes next to the
// archive instead of into the root. Only a file system that takes no writes
// counts as a write-protected disk. A folder closed to the user is not one:
// readers of spanned sets run this check too, and must go on reading there;
// a writer meets the refusal when it creates its file and reports it then.
// So does a probe that fails for another reason (say a full disk).
bool WriteProtected(platform::DriveProvider& drives, const std::string& path) {
  if (drives.WriteProtected(path)) return true;
  errno = 0;
  const std::string probe = platform::CreateTempFile(ProbeFolder(path), "ztv");
  if (probe.empty()) return errno == EROFS;
  platform::DeleteFile(probe);
  return false;
}

// Asks a disk-error event; false when the check has to give up (the
// failure is then reported).
bool AskAgain(TZipCommon& c, const TOnDiskError& event, const std::string& root, const std::string& archive,
              int missingCode) {
  if (!event) {
    c.ReportError(root, archive, "0", missingCode);
    return false;
  }
  bool abort = true;
  event(&c, abort);
  if (abort) {
    c.ReportError(root, archive, "0", E_USERCANCEL);
    return false;
  }
  return true;
}

}  // namespace

bool IsNetworkPath(const std::string& Path) { return Path.size() > 2 && Path[0] == '/' && Path[1] == '/'; }

int SpannedDiskNumber(const std::string& Label) {
  static constexpr char kPrefix[] = "PKBACK# ";
  constexpr size_t kPrefixLength = sizeof kPrefix - 1;
  if (Label.size() <= kPrefixLength) return 0;
  for (size_t i = 0; i < kPrefixLength; ++i) {
    char ch = Label[i];
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    if (ch != kPrefix[i]) return 0;
  }
  // Labels of some file systems come padded with blanks.
  size_t end = Label.find_last_not_of(' ') + 1;
  if (end <= kPrefixLength) return 0;
  int number = 0;
  for (size_t i = kPrefixLength; i < end; ++i) {
    if (Label[i] < '0' || Label[i] > '9') return 0;
    number = number * 10 + (Label[i] - '0');
    if (number > 65535) return 0;  // no disk of a set can carry it
  }
  return number;
}

bool CheckDrive(TZipCommon& Component, const std::string& ArchiveName, TDriveInfo& Info) {
  Info = TDriveInfo{};
  platform::DriveProvider& drives = platform::Drives();
  const bool network = IsNetworkPath(ArchiveName);
  const std::string path = AbsolutePath(ArchiveName);
  Info.Drive = network ? NetworkRoot(path) : drives.RootOf(path);

  if (!network) {
    for (;;) {
      if (!drives.DiskPresent(path)) {
        if (!AskAgain(Component, Component.OnDiskInDrvErr, Info.Drive, ArchiveName, E_NOTACCESSIBLE)) return false;
        continue;
      }
      if (WriteProtected(drives, path)) {
        if (!AskAgain(Component, Component.OnDiskWriteProtectErr, Info.Drive, ArchiveName, E_WRITEPROTECTED))
          return false;
        continue;
      }
      break;
    }
    // A disk put in meanwhile may be mounted somewhere else.
    Info.Drive = drives.RootOf(path);
  }

  for (;;) {
    errno = 0;
    if (drives.VolumeInfo(path, Info.VolumeLabel, Info.SerialNumber)) break;
    const int error = errno != 0 ? errno : ENOMEDIUM;
    // Paths here are case-sensitive, so the root is shown as it is named.
    const std::string text = Info.Drive + MessageOf(E_NOTACCESSIBLE) + "\n\n" + std::strerror(error);
    if (platform::ShowMessage(kApplicationTitle, text, platform::MsgKind::Error, platform::MsgButtons::RetryCancel) !=
        platform::MsgResult::Retry) {
      Component.ReportError(Info.Drive, ArchiveName, "0", E_NOTACCESSIBLE);
      return false;
    }
  }
  char serial[9];
  std::snprintf(serial, sizeof serial, "%08X", static_cast<unsigned>(Info.SerialNumber));
  Info.SerialNumberText = serial;
  Info.DiskNumber = SpannedDiskNumber(Info.VolumeLabel);
  Info.FileSystemName = drives.FileSystemName(path);

  Info.DriveType = drives.TypeOf(network ? path : Info.Drive);
  if (Info.DriveType == platform::DriveType::NoRootDir) {
    Component.ReportError(Info.Drive, ArchiveName, "0", E_NOTACCESSIBLE);
    return false;
  }
  if (!network && !drives.FreeSpace(path, Info.FreeSpace, Info.TotalSpace)) Info.FreeSpace = Info.TotalSpace = 0;
  return true;
}

}  // namespace tessavar
