#pragma once
// The file scanner: turns FileSpec lines (file patterns) into the files
// (and, when asked, folders) an archive writer adds. The wildcard masks it
// uses live in the frame (archive/frame/ztvMask.h) and come with this header.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/frame/ztvComponent.h"
#include "archive/frame/ztvMask.h"
#include "archive/frame/ztvTypes.h"
#include "platform/Find.h"

namespace tessavar {


// ---- Found entries and their list ----

enum TztvSortOptions : int { soUnsort, soByName, soByType, soBySize, soByTime, soByPath };
enum TfsScanOptions : int { soScanDir, soScanDrvs };

// One found entry.
struct TFileObject {
  std::string FileName;  // without path; empty for a folder
  std::string FilePath;  // the folder holding the file, with a trailing "/"; a folder's own path
  int64_t Size = 0;
  uint32_t Attr = 0;         // DOS attributes
  uint32_t DosDateTime = 0;  // last write, local time
};

// Owns its items.
class TBaseFilesList {
 public:
  virtual ~TBaseFilesList() = default;
  // Appends; returns the index.
  virtual int Add(std::unique_ptr<TFileObject> item);
  // An index outside 0..Count-1 does nothing.
  virtual void Delete(int index);
  virtual void Clear();
  virtual void Sort() = 0;

  int Count() const { return static_cast<int>(items_.size()); }
  TFileObject& operator[](int index) const { return *items_[static_cast<size_t>(index)]; }

 protected:
  std::vector<std::unique_ptr<TFileObject>> items_;
};

class TFilesList : public TBaseFilesList {
 public:
  TztvSortOptions SortOrder = soUnsort;
  bool CaseSensitive = false;  // text compares ignore ASCII case unless set

  // With a sort order the item goes where Find puts it, so the list stays sorted.
  int Add(std::unique_ptr<TFileObject> item) override;
  // Quicksort by SortOrder; soUnsort leaves the order as it is.
  void Sort() override;
  // Below 0, 0 or above 0 as a sorts before, with or after b.
  virtual int Compare(const TFileObject& a, const TFileObject& b) const;
  // Binary search: index = the first position whose item does not compare
  // below `item`; true when the item there compares equal.
  virtual bool Find(const TFileObject& item, int& index) const;

 private:
  void QuickSort(int left, int right);
};

// ---- The scanner ----

using TOnScanFileEvent =
    std::function<void(TObject* Sender, const std::string& FileName, int FilesCount, int64_t FilesSize)>;
using TOnFinishedEvent = std::function<void(TObject* Sender, int FilesCount, int64_t FilesSize)>;
using TOnRootDirChange = std::function<void(TObject* Sender, const std::string& Dir)>;
using TOnRecurseDir = std::function<void(TObject* Sender, const std::string& Directory)>;
// Dir: the folder holding a file (trailing "/"), or a folder entry's own
// path (trailing "/"). Returns true when the file was taken.
using TAddEntryHook =
    std::function<bool(TObject* Sender, const std::string& Dir, void* HookData, const platform::FindData& Data)>;

class TztvFileScan : public TComponent {
 public:
  explicit TztvFileScan(TComponent* owner = nullptr);
  ~TztvFileScan() override;

  // ---- Published properties ----
  TztvSortOptions Sorted() const { return sorted_; }
  // A new order re-sorts the list at once and, when it holds anything,
  // fires OnFinished.
  void SetSorted(TztvSortOptions value);
  const TStrings& FileSpec() const { return fileSpec_; }
  // Copies the lines and empties Masks.
  void SetFileSpec(const TStrings& value);
  TztvFileAttributes Attributes() const { return attributes_; }
  void SetAttributes(TztvFileAttributes value) { attributes_ = value; }
  TztvFileAttributes AttributesEx() const { return attributesEx_; }
  void SetAttributesEx(TztvFileAttributes value) { attributesEx_ = value; }
  // Folders whose name begins with "." are the hidden folders here; they
  // are walked (and offered to the attribute tests) only when this is on.
  bool IncludeHiddenDirs() const { return includeHiddenDirs_; }
  void SetIncludeHiddenDirs(bool value) { includeHiddenDirs_ = value; }
  bool UpdateList() const { return updateList_; }
  void SetUpdateList(bool value) { updateList_ = value; }
  TfsScanOptions ScanOptions() const { return scanOptions_; }
  void SetScanOptions(TfsScanOptions value) { scanOptions_ = value; }
  // Starts empty: no folder is scanned by default, and FileSpec lines
  // without a path then take the current folder. A non-empty value gets a
  // trailing "/".
  const std::string& RootDir() const { return rootDir_; }
  void SetRootDir(const std::string& value);
  bool RecurseDirs() const { return recurseDirs_; }
  void SetRecurseDirs(bool value) { recurseDirs_ = value; }

  // ---- Events ----
  TOnScanFileEvent OnScanFile;
  TOnFinishedEvent OnFinished;
  TOnRootDirChange OnRootDirChange;
  TOnRecurseDir OnRecurseDir;

  // ---- Public state ----
  // Comma-separated masks used with RootDir while non-empty; starts as "*".
  const std::string& Masks() const { return masks_; }
  void SetMasks(const std::string& value) { masks_ = value; }
  int FilesCount() const { return filesCount_; }
  int64_t FilesSize() const { return filesSize_; }
  // The byte that stops a scan; nullptr gives the scanner's own back.
  uint8_t* CancelFlag() const { return cancelFlag_; }
  void SetCancelFlag(uint8_t* flag) { cancelFlag_ = flag ? flag : &ownCancel_; }
  // Gets every accepted entry; the default adds it to FilesList().
  TAddEntryHook AddEntryHook;
  void* HookData = nullptr;
  TFilesList& FilesList() { return *list_; }
  const TFilesList& FilesList() const { return *list_; }
  // The mask collection of the group being scanned.
  const TMultiMasks& CurrentMasks() const { return currentMasks_; }

  // ---- Operations ----
  virtual void Scan();
  // Stops a running scan at the next entry.
  virtual void Cancel();
  // Walks one root: its folder tree, or every drive.
  virtual void ScanRoot(const std::string& Dir);
  // The default hook: a TFileObject for the entry, always taken.
  virtual bool AddFoundFile(TObject* Sender, const std::string& Dir, void* Data, const platform::FindData& F);
  // Sets or clears bit `index` of Attributes; indexes outside 0..15 are ignored.
  void SetAttributeBit(int index, bool on);

  // ---- The rules, for callers and tests ----
  // Masks text to masks: commas separate, leading and trailing blanks go,
  // empty items give nothing.
  static std::vector<std::string> SplitMasks(const std::string& text);
  // Adds a name to a group's names: dropped when an existing name, as a
  // mask, matches it; replaces the first name that it matches as a mask;
  // else appended.
  static void MergeName(std::vector<std::string>& names, const std::string& name);
  // The include test against `include` (0x2000 always passes) and the
  // exclude test against `exclude`.
  static bool AttributesMatch(uint32_t attr, TztvFileAttributes set);
  static bool PassesAttributes(uint32_t attr, TztvFileAttributes include, TztvFileAttributes exclude);

 protected:
  void ScanDirectory(const std::string& Dir);
  void ScanDrives();
  void ConsiderEntry(const std::string& Path, const platform::FindData& F);
  bool Cancelled() const { return *cancelFlag_ != 0; }

 private:
  struct Walk;
  void ScanDirect();
  void ScanFileSpecGroups();
  void WalkTree(Walk& walk, const std::string& Dir);
  std::string DirectoryOf(const std::string& spec) const;

  TztvSortOptions sorted_ = soUnsort;
  TStrings fileSpec_;
  TztvFileAttributes attributes_ = kDefaultScanAttributes;
  TztvFileAttributes attributesEx_;
  bool includeHiddenDirs_ = false;
  bool updateList_ = true;
  TfsScanOptions scanOptions_ = soScanDir;
  std::string rootDir_;
  bool recurseDirs_ = true;
  std::string masks_ = "*";
  int filesCount_ = 0;
  int64_t filesSize_ = 0;
  uint8_t ownCancel_ = 0;
  uint8_t* cancelFlag_ = &ownCancel_;
  std::unique_ptr<TFilesList> list_;
  TMultiMasks currentMasks_;
  bool scanning_ = false;
};

}  // namespace tessavar
