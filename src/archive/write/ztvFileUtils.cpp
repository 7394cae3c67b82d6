#include "archive/write/ztvFileUtils.h"

#include "archive/zip/ztvZipNames.h"

#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Find.h"
#include "platform/Trash.h"

namespace tessavar {

namespace {

bool StartsWith(const std::string& s, const std::string& prefix) {
  return !prefix.empty() && s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Paths of this platform carry no drive; only a network path has a part
// that names where it lives ("//server/share"), and that part goes.
std::string WithoutDrive(const std::string& path) {
  if (!IsNetworkPath(path)) return path;
  const size_t server = path.find('/', 2);
  if (server == std::string::npos) return "";
  const size_t share = path.find('/', server + 1);
  return share == std::string::npos ? std::string() : path.substr(share);
}

// Strips prefix from path when path begins with it; else keeps the path.
// Comparisons keep case: two folders whose names differ in case are two
// folders here.
std::string Relative(const std::string& path, const std::string& prefix) {
  return StartsWith(path, prefix) ? path.substr(prefix.size()) : path;
}

bool IsEmptyDirAt(const std::string& folder, int depth) {
  // Deeper than any real tree: something is odd, so nothing is claimed empty.
  if (depth > 256) return false;
  platform::FindFiles find(folder + "*");
  platform::FindData entry;
  while (find.Next(entry)) {
    const std::string child = folder + entry.name;
    // A link to a folder would be followed into its target, maybe forever.
    if (entry.attributes != platform::kAttrDirectory || platform::IsSymlink(child)) return false;
    if (!IsEmptyDirAt(child + "/", depth + 1)) return false;
  }
  return true;
}

}  // namespace

std::string StoredName(const std::string& FullPath, TStoredDirNames Mode, const std::string& RootDir,
                       const std::string& DefaultDir, const std::string& BaseDir) {
  switch (Mode) {
    case sdNone:
      return NameOf(FullPath);
    case sdAbsolute:
      return FullPath;
    case sdAbsoluteNoDrv:
      return WithoutDrive(FullPath);
    case sdAbsoluteNoRoot: {
      std::string s = WithoutDrive(FullPath);
      if (!s.empty() && s.front() == '/') s.erase(0, 1);
      return s;
    }
    case sdRelative:
      // Without its "/" a root would also cut folders that merely begin
      // with its name ("/data" from "/database/...").
      return Relative(FullPath, AddTrailingSlash(RootDir));
    case sdRelativeStoreStart: {
      // The root's own folder name stays at the front of the stored name.
      // A root of "/" has no name of its own: the name is then the whole
      // path below it.
      const std::string root = AddTrailingSlash(RootDir);
      if (root == "/") return Relative(FullPath, root);
      const std::string trimmed = RemoveTrailingSlash(root);
      const size_t slash = trimmed.find_last_of('/');
      return slash == std::string::npos ? FullPath : Relative(FullPath, trimmed.substr(0, slash + 1));
    }
    case sdExplorer_Auto:
    case sdExplorer_UserDefineDefaultDir: {
      const std::string defaultDir = AddTrailingSlash(DefaultDir);
      if (!defaultDir.empty() && AddTrailingSlash(RootDir) == defaultDir) return Relative(FullPath, defaultDir);
      if (StartsWith(FullPath, defaultDir)) return FullPath.substr(defaultDir.size());
      return Relative(FullPath, AddTrailingSlash(BaseDir));
    }
  }
  return FullPath;
}

std::string CommonFolder(const TStrings& FileSpec) {
  if (FileSpec.empty()) return "";
  std::string common = FolderOf(FileSpec.front());
  for (size_t i = 1; i < FileSpec.size(); ++i) {
    const std::string folder = FolderOf(FileSpec[i]);
    size_t n = 0;
    while (n < common.size() && n < folder.size() && common[n] == folder[n]) ++n;
    common = FolderOf(common.substr(0, n));
  }
  return common;
}

std::string FallbackBaseFolder(const TStrings& FileSpec) {
  if (FileSpec.empty()) return "";
  const std::string folder = FolderOf(FileSpec.front());
  if (folder.empty()) return "";
  if (folder == "/") return folder;  // the root has no parent to go to
  return FolderOf(RemoveTrailingSlash(folder));
}

TArchiveName ToArchiveName(const std::string& Name, bool /*TranslateOemChar*/) {
  // Whether or not the OEM translation is asked for, it changes nothing
  // here: ASCII is the same in CP437, and everything else goes as UTF-8.
  TArchiveName out{Name, false};
  for (char& c : out.Name)
    if (c == '\\') c = '/';
  out.Utf8 = !platform::IsAscii(out.Name) && platform::IsValidUtf8(out.Name);
  return out;
}

std::string FromArchiveName(const std::string& Stored, bool TranslateOemChar, const TNameOrigin& Origin) {
  return ZipNameFromArchive(Stored, Origin.GeneralPurpose, Origin.VersionMadeBy, Origin.Extra, TranslateOemChar);
}

bool DeleteFileEx(const std::string& Name, TDeleteOptions Options) {
  const std::string path = RemoveTrailingSlash(Name);
  if (path.empty() || !platform::PathExists(path)) return false;
  if (Options == doAllowUndo) return platform::MoveToTrash(path);
  if (platform::IsSymlink(path)) return platform::DeleteFile(path);
  if (platform::DirExists(path)) return platform::RemoveTree(path);
  const uint32_t attributes = platform::GetFileAttributes(path);
  const bool readOnly = attributes != platform::kInvalidAttributes && (attributes & platform::kAttrReadOnly);
  if (readOnly) platform::SetFileAttributes(path, attributes & ~platform::kAttrReadOnly);
  if (platform::DeleteFile(path)) return true;
  // The file stays: it keeps the protection it had.
  if (readOnly) platform::SetFileAttributes(path, attributes);
  return false;
}

bool IsEmptyDir(const std::string& Folder) {
  const std::string folder = AddTrailingSlash(Folder);
  if (folder.empty() || !platform::DirExists(folder)) return false;
  return IsEmptyDirAt(folder, 0);
}

bool IsWriteable(const std::string& FileName) {
  const uint32_t a = platform::GetFileAttributes(FileName);
  if (a == platform::kInvalidAttributes) return false;
  return (a & (platform::kAttrDirectory | platform::kAttrReadOnly | platform::kAttrSystem | platform::kAttrHidden)) ==
         0;
}

bool FileExistsEx(const std::string& Name, uint32_t* Attributes) {
  std::string name = Name;
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  platform::FindData entry;
  bool found = false;
  if (name == "/") {
    found = platform::StatPath(name, entry);
  } else {
    platform::FindFiles find(name);
    found = find.Next(entry);
  }
  if (found && Attributes) *Attributes = entry.attributes;
  return found;
}

bool ForceFolders(const std::string& Folder) {
  if (!Folder.empty() && platform::DirExists(Folder)) return true;
  std::string full = Folder.empty() || Folder.front() != '/' ? platform::CurrentDir() + Folder : Folder;
  full = AddTrailingSlash(full);
  platform::ForceDirs(full);
  return platform::DirExists(full);
}

std::string JoinPath(const std::string& Folder, const std::string& Name) {
  if (Folder.empty()) return "";
  return Folder.back() == '/' ? Folder + Name : Folder + "/" + Name;
}

std::string AddTrailingSlash(const std::string& Path) {
  if (Path.empty() || Path.back() == '/') return Path;
  return Path + "/";
}

std::string RemoveTrailingSlash(const std::string& Path) {
  if (Path.empty() || Path.back() != '/') return Path;
  return Path.substr(0, Path.size() - 1);
}

}  // namespace tessavar
