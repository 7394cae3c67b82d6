#pragma once
// What the writers share about files and names: which part of a path goes
// into an archive, how names travel between the file system and an archive,
// deleting the sources of a move, and the drive check (declared with the
// frame, which the spanned-set readers also use).
#include <cstdint>
#include <string>

#include "archive/frame/ztvDriveCheck.h"
#include "archive/frame/ztvTypes.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

// ---- Stored names ----

// The name stored for FullPath (a folder's path ends in "/"). RootDir is the
// current root folder with a trailing "/"; DefaultDir and BaseDir are the
// common and the fallback base folder of the explorer modes.
std::string StoredName(const std::string& FullPath, TStoredDirNames Mode, const std::string& RootDir,
                       const std::string& DefaultDir = "", const std::string& BaseDir = "");

// The longest folder, with a trailing "/", that holds every FileSpec line
// ("" when they share none): DefaultDir of sdExplorer_Auto.
std::string CommonFolder(const TStrings& FileSpec);

// The parent, with a trailing "/", of the first FileSpec line's folder; ""
// when that line names no folder.
std::string FallbackBaseFolder(const TStrings& FileSpec);

// ---- Names inside archives ----

inline constexpr uint16_t kGeneralPurposeUtf8 = 0x0800;

struct TArchiveName {
  std::string Name;
  // The name is UTF-8 that is not plain ASCII: the writer sets bit 11 of
  // the general-purpose flags (kGeneralPurposeUtf8).
  bool Utf8 = false;
};

// A name of this platform as it is stored: "\" becomes "/". ASCII stays as
// it is (the OEM code page agrees with it); any other valid UTF-8 is stored
// as UTF-8 with Utf8 set, because CP437 cannot hold most names here. Bytes
// that are not UTF-8 go in unchanged and unflagged.
TArchiveName ToArchiveName(const std::string& Name, bool TranslateOemChar);

// Where a stored name came from; the defaults describe a name without any
// hint of its code page.
struct TNameOrigin {
  uint16_t GeneralPurpose = 0;
  uint16_t VersionMadeBy = 0;  // 0 for local headers, which carry no host
  const TExtraFieldRecords* Extra = nullptr;
};

// A stored name as a name of this platform. UTF-8 is taken as it is when the
// entry says so: bit 11, a Unicode path field (0x7075, version 1) whose CRC
// matches the stored name (its name is then used), or a Unix-made entry
// (host 3) whose name is valid UTF-8. Other names are CP437 and converted
// when TranslateOemChar is on. Both "\" and "/" become "/".
std::string FromArchiveName(const std::string& Stored, bool TranslateOemChar, const TNameOrigin& Origin = {});

// ---- Files and folders ----

// doAllowUndo moves an existing file or folder to the trash; doFinal clears
// a read-only attribute and deletes the file, or removes a folder with all
// it holds. A link is deleted itself, never what it points to.
bool DeleteFileEx(const std::string& Name, TDeleteOptions Options);

// True when the folder exists and holds no file at any depth: only plain
// folders count as holding nothing; a hidden folder or a link does not.
bool IsEmptyDir(const std::string& Folder);

// The file's attributes can be read, and it is no folder and neither
// read-only, system nor hidden.
bool IsWriteable(const std::string& FileName);

// True when a find on Name (wildcards allowed in its last part) finds an
// entry; Attributes receives that entry's attributes when given.
bool FileExistsEx(const std::string& Name, uint32_t* Attributes = nullptr);

// Creates the folder with every missing level; true when it exists afterwards.
bool ForceFolders(const std::string& Folder);

// ---- Path pieces ----

// Folder + Name with one "/" between; "" for an empty folder.
std::string JoinPath(const std::string& Folder, const std::string& Name);
// A trailing "/" added (an empty string stays empty) or one removed.
std::string AddTrailingSlash(const std::string& Path);
std::string RemoveTrailingSlash(const std::string& Path);

}  // namespace tessavar
