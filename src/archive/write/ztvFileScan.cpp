#include "archive/write/ztvFileScan.h"

#include <set>
#include <utility>

#include "platform/Application.h"
#include "platform/Drive.h"
#include "platform/File.h"
#include "platform/Time.h"

namespace tessavar {

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string WithSlash(const std::string& path) {
  return path.empty() || path.back() == '/' ? path : path + '/';
}

// The folder part of a FileSpec line, with its trailing "/" ("" for none).
std::string PathPart(const std::string& spec) {
  const size_t slash = spec.find_last_of('/');
  return slash == std::string::npos ? std::string() : spec.substr(0, slash + 1);
}

std::string NamePart(const std::string& spec) {
  const size_t slash = spec.find_last_of('/');
  return slash == std::string::npos ? spec : spec.substr(slash + 1);
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

int CompareTextAscii(const std::string& a, const std::string& b, bool caseSensitive) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(caseSensitive ? a[i] : Upper(a[i]));
    const auto cb = static_cast<unsigned char>(caseSensitive ? b[i] : Upper(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The extension from the last ".", the period included; "" for none.
std::string Extension(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

template <typename T>
int Order(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}
}  // namespace


// ---- TBaseFilesList / TFilesList ----

int TBaseFilesList::Add(std::unique_ptr<TFileObject> item) {
  items_.push_back(std::move(item));
  return Count() - 1;
}

void TBaseFilesList::Delete(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
}

void TBaseFilesList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
}

int TFilesList::Add(std::unique_ptr<TFileObject> item) {
  if (SortOrder == soUnsort) return TBaseFilesList::Add(std::move(item));
  int index = 0;
  Find(*item, index);
  items_.insert(items_.begin() + index, std::move(item));
  return index;
}

int TFilesList::Compare(const TFileObject& a, const TFileObject& b) const {
  switch (SortOrder) {
    case soUnsort:
      return 0;
    case soByName:
      return CompareTextAscii(a.FileName, b.FileName, CaseSensitive);
    case soByType:
      return CompareTextAscii(Extension(a.FileName), Extension(b.FileName), CaseSensitive);
    case soBySize:
      // The whole 64-bit size: files of 2 GiB and more sort after smaller ones.
      return Order(a.Size, b.Size);
    case soByTime:
      // Unsigned, so dates from 2044 on (year field >= 64) still sort last.
      return Order(a.DosDateTime, b.DosDateTime);
    case soByPath:
      return CompareTextAscii(a.FilePath, b.FilePath, CaseSensitive);
  }
  return 0;
}

bool TFilesList::Find(const TFileObject& item, int& index) const {
  int lo = 0, hi = Count();
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (Compare(*items_[static_cast<size_t>(mid)], item) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  index = lo;
  return lo < Count() && Compare(*items_[static_cast<size_t>(lo)], item) == 0;
}

void TFilesList::Sort() {
  // Every item compares equal without an order; partitioning would only
  // shuffle them.
  if (SortOrder == soUnsort || Count() < 2) return;
  QuickSort(0, Count() - 1);
}

// Middle element as pivot. The smaller part is sorted by recursion and the
// larger one by the loop, so the depth stays logarithmic whatever the input.
void TFilesList::QuickSort(int left, int right) {
  while (left < right) {
    int i = left, j = right;
    const TFileObject* pivot = items_[static_cast<size_t>(left + (right - left) / 2)].get();
    do {
      while (Compare(*items_[static_cast<size_t>(i)], *pivot) < 0) ++i;
      while (Compare(*items_[static_cast<size_t>(j)], *pivot) > 0) --j;
      if (i <= j) {
        std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j - left < right - i) {
      if (left < j) QuickSort(left, j);
      left = i;
    } else {
      if (i < right) QuickSort(i, right);
      right = j;
    }
  }
}

// ---- TztvFileScan ----

// One folder tree being walked: the folders not to enter (those already
// walked, and the root with all its parents, so a link back up the tree can
// neither loop for ever nor lead the walk out to the whole disk) and, for a
// drive, the file system it must not leave.
struct TztvFileScan::Walk {
  std::set<std::pair<uint64_t, uint64_t>> visited;
  bool oneFileSystem = false;
  uint64_t device = 0;

  // False when the root cannot be found.
  bool Start(const std::string& root) {
    platform::FindData self;
    if (!platform::StatPath(root, self)) return false;
    device = self.device;
    visited.insert({self.device, self.inode});
    std::string up = platform::RealPath(root);
    while (up.size() > 1) {
      while (up.size() > 1 && up.back() == '/') up.pop_back();
      const size_t slash = up.find_last_of('/');
      if (slash == std::string::npos) break;
      up = slash == 0 ? "/" : up.substr(0, slash);
      platform::FindData parent;
      if (platform::StatPath(up, parent)) visited.insert({parent.device, parent.inode});
    }
    return true;
  }
};

TztvFileScan::TztvFileScan(TComponent* owner) : TComponent(owner), list_(std::make_unique<TFilesList>()) {
  list_->SortOrder = sorted_;
  AddEntryHook = [this](TObject* Sender, const std::string& Dir, void* Data, const platform::FindData& F) {
    return AddFoundFile(Sender, Dir, Data, F);
  };
}

TztvFileScan::~TztvFileScan() = default;

void TztvFileScan::SetSorted(TztvSortOptions value) {
  if (value == sorted_) return;
  sorted_ = value;
  list_->SortOrder = value;
  list_->Sort();
  if (list_->Count() > 0 && OnFinished) OnFinished(this, filesCount_, filesSize_);
}

void TztvFileScan::SetFileSpec(const TStrings& value) {
  fileSpec_ = value;
  masks_.clear();
}

void TztvFileScan::SetRootDir(const std::string& value) { rootDir_ = WithSlash(value); }

void TztvFileScan::SetAttributeBit(int index, bool on) {
  if (index < 0 || index > 15) return;
  const auto bit = static_cast<uint16_t>(1u << index);
  const uint16_t bits = on ? static_cast<uint16_t>(attributes_.Bits() | bit)
                           : static_cast<uint16_t>(attributes_.Bits() & ~bit);
  attributes_ = TztvFileAttributes::FromBits(bits);
}

void TztvFileScan::Cancel() { *cancelFlag_ = 1; }

void TztvFileScan::Scan() {
  if (scanning_) return;  // an event handler asked again: the running scan goes on
  struct Running {
    bool& flag;
    ~Running() { flag = false; }
  } running{scanning_};
  scanning_ = true;

  list_->Clear();
  filesCount_ = 0;
  filesSize_ = 0;
  *cancelFlag_ = 0;
  currentMasks_.Clear();

  if (!recurseDirs_) {
    ScanRoot("");
  } else if (!masks_.empty()) {
    if (!rootDir_.empty() && platform::DirExists(rootDir_)) {
      for (const std::string& m : SplitMasks(masks_)) currentMasks_.Add(m);
      ScanRoot(rootDir_);
    }
  } else {
    ScanFileSpecGroups();
  }
  if (OnFinished) OnFinished(this, filesCount_, filesSize_);
}

std::string TztvFileScan::DirectoryOf(const std::string& spec) const {
  std::string dir = PathPart(spec);
  if (dir.empty()) dir = rootDir_;
  if (dir.empty()) dir = platform::CurrentDir();
  return dir;
}

void TztvFileScan::ScanFileSpecGroups() {
  std::erase_if(fileSpec_, [](const std::string& line) {
    for (char c : line)
      if (!IsBlank(c)) return false;
    return true;
  });
  while (!fileSpec_.empty() && !Cancelled()) {
    const std::string dir = DirectoryOf(fileSpec_[0]);
    std::vector<std::string> names{NamePart(fileSpec_[0])};
    for (size_t i = 1; i < fileSpec_.size();) {
      // Folders are grouped ignoring case, as the callers expect; the walk
      // itself then sees the names as the file system has them.
      if (SameTextAscii(DirectoryOf(fileSpec_[i]), dir)) {
        MergeName(names, NamePart(fileSpec_[i]));
        fileSpec_.erase(fileSpec_.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
    currentMasks_.Clear();
    for (const std::string& n : names) currentMasks_.Add(n.empty() || n == "*.*" ? "*" : n);
    SetRootDir(dir);
    if (OnRootDirChange) OnRootDirChange(this, rootDir_);
    fileSpec_.erase(fileSpec_.begin());
    ScanRoot(rootDir_);
  }
}

void TztvFileScan::ScanRoot(const std::string& Dir) {
  // Without recursion the FileSpec lines name their own places, so there
  // is no drive to go through.
  if (scanOptions_ == soScanDrvs && recurseDirs_) {
    ScanDrives();
  } else {
    ScanDirectory(Dir);
  }
}

void TztvFileScan::ScanDirectory(const std::string& Dir) {
  if (!recurseDirs_) {
    ScanDirect();
    return;
  }
  Walk walk;
  const std::string root = WithSlash(Dir);
  walk.Start(root);
  WalkTree(walk, root);
}

void TztvFileScan::ScanDrives() {
  for (const std::string& point : platform::Drives().MountPoints()) {
    if (Cancelled()) return;
    const platform::DriveType type = platform::Drives().TypeOf(point);
    if (type != platform::DriveType::Fixed && type != platform::DriveType::Remote &&
        type != platform::DriveType::CdRom && type != platform::DriveType::RamDisk)
      continue;
    // Each file system is walked from its own mount point, so a walk stays
    // on its own: that keeps /proc and /sys out and nothing is taken twice.
    Walk walk;
    walk.oneFileSystem = true;
    if (!walk.Start(point)) continue;
    WalkTree(walk, WithSlash(point));
  }
}

void TztvFileScan::WalkTree(Walk& walk, const std::string& Dir) {
  if (OnRecurseDir) OnRecurseDir(this, Dir);
  platform::FindFiles find(Dir + "*");
  platform::FindData f;
  while (!Cancelled() && find.Next(f)) {
    const bool isDir = (f.attributes & platform::kAttrDirectory) != 0;
    if (isDir) {
      if (f.name == "." || f.name == "..") continue;
      // A hidden folder is one whose name begins with "."; it is left out
      // whole unless hidden folders are asked for.
      if ((f.attributes & platform::kAttrHidden) && !includeHiddenDirs_) continue;
    }
    ConsiderEntry(Dir, f);
    if (isDir && !(walk.oneFileSystem && f.device != walk.device) &&
        walk.visited.insert({f.device, f.inode}).second) {
      WalkTree(walk, Dir + f.name + "/");
    }
    platform::ProcessMessages();
  }
}

void TztvFileScan::ScanDirect() {
  // A handler may assign FileSpec while the scan runs.
  const TStrings specs = fileSpec_;
  for (const std::string& spec : specs) {
    if (Cancelled()) return;
    const std::string path = PathPart(spec);
    platform::FindFiles find(spec);
    platform::FindData f;
    bool first = true;
    while (!Cancelled() && find.Next(f)) {
      if (first) {
        if (OnRootDirChange) OnRootDirChange(this, path);
        first = false;
      }
      if ((f.attributes & platform::kAttrDirectory) && (f.attributes & platform::kAttrHidden) && !includeHiddenDirs_)
        continue;
      ConsiderEntry(path, f);
    }
  }
}

bool TztvFileScan::AttributesMatch(uint32_t attr, TztvFileAttributes set) {
  return (set.Has(fsArchive) && (attr & FILE_ATTRIBUTE_ARCHIVE)) ||
         (set.Has(fsZeroAttr) && (attr == 0 || attr == FILE_ATTRIBUTE_NORMAL)) ||
         (set.Has(fsDirectory) && (attr & FILE_ATTRIBUTE_DIRECTORY)) ||
         (set.Has(fsReadOnly) && (attr & FILE_ATTRIBUTE_READONLY)) ||
         (set.Has(fsHidden) && (attr & FILE_ATTRIBUTE_HIDDEN)) ||
         (set.Has(fsSysFile) && (attr & FILE_ATTRIBUTE_SYSTEM)) ||
         (set.Has(fsCompressed) && (attr & FILE_ATTRIBUTE_COMPRESSED)) ||
         (set.Has(fsEncrypted) && (attr & FILE_ATTRIBUTE_ENCRYPTED));
}

bool TztvFileScan::PassesAttributes(uint32_t attr, TztvFileAttributes include, TztvFileAttributes exclude) {
  if (!(attr & FILE_ATTRIBUTE_NOT_CONTENT_INDEXED) && !AttributesMatch(attr, include)) return false;
  return !AttributesMatch(attr, exclude);
}

void TztvFileScan::ConsiderEntry(const std::string& Path, const platform::FindData& F) {
  const bool isDir = (F.attributes & platform::kAttrDirectory) != 0;
  // Neither folder nor regular file: a FIFO, socket or device. Reading one
  // would block or never end, so it is never offered.
  if (!isDir && !(F.attributes & platform::kAttrArchive)) return;
  if (!PassesAttributes(F.attributes, attributes_, attributesEx_)) return;
  const std::string path = WithSlash(Path);
  if (isDir) {
    if (updateList_ && AddEntryHook) AddEntryHook(this, path + F.name + "/", HookData, F);
    return;
  }
  if (recurseDirs_ && !currentMasks_.Matches(F.name)) return;
  if (updateList_ && AddEntryHook) {
    if (!AddEntryHook(this, path, HookData, F)) return;
    ++filesCount_;
    filesSize_ += F.size;
    if (OnScanFile) OnScanFile(this, F.name, filesCount_, filesSize_);
  } else {
    ++filesCount_;
    filesSize_ += F.size;
  }
}

bool TztvFileScan::AddFoundFile(TObject*, const std::string& Dir, void*, const platform::FindData& F) {
  auto item = std::make_unique<TFileObject>();
  item->DosDateTime = platform::UnixToDosDateTime(F.mtime);
  if (F.attributes & platform::kAttrDirectory) {
    item->FilePath = Dir;
  } else {
    item->FileName = F.name;
    item->FilePath = WithSlash(Dir);
  }
  item->Size = F.size;
  item->Attr = F.attributes;
  list_->Add(std::move(item));
  return true;
}

std::vector<std::string> TztvFileScan::SplitMasks(const std::string& text) {
  std::vector<std::string> masks;
  std::string current;
  auto finish = [&] {
    while (!current.empty() && IsBlank(current.back())) current.pop_back();
    if (!current.empty()) masks.push_back(current);
    current.clear();
  };
  for (char c : text) {
    if (c == ',') {
      finish();
    } else if (!(current.empty() && IsBlank(c))) {
      current += c;
    }
  }
  finish();
  return masks;
}

void TztvFileScan::MergeName(std::vector<std::string>& names, const std::string& name) {
  const TInternalMask asMask(name);
  for (const std::string& existing : names)
    if (TInternalMask(existing).Matches(name)) return;
  for (std::string& existing : names) {
    if (asMask.Matches(existing)) {
      existing = name;
      return;
    }
  }
  names.push_back(name);
}

}  // namespace tessavar
