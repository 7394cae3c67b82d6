#include "archive/write/ztvCompBase.h"

#include <algorithm>
#include <cctype>
#include <thread>

#include "archive/frame/ztvMask.h"
#include "archive/write/ztvFileUtils.h"
#include "archive/zip/ztvCrypt.h"
#include "platform/Dialogs.h"
#include "platform/File.h"
#include "platform/Time.h"

namespace tessavar {

namespace {

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) { return LowerAscii(a) == LowerAscii(b); }

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

std::string NameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The extension of the last part of a path, with its ".", or "".
std::string ExtensionOf(const std::string& path) {
  const std::string name = NameOf(path);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// The bits an entry and a file must agree on to be the same file.
constexpr uint32_t kCompareAttributes = 0x40BF;

// A handler that keeps proposing names already taken must not hang the run.
constexpr int kMaxRenameQuestions = 1000;

constexpr int kUnixDirectory = 0040000;
constexpr int kUnixRegular = 0100000;

}  // namespace

const TStrings& DefaultStoreFilesOfType() {
  static const TStrings list{".ACE", ".ARC", ".ARJ", ".BH",  ".CAB", ".ENC", ".GZ",  ".HA",  ".JAR",
                             ".LHA", ".LZH", ".MIM", ".PAK", ".PK3", ".PK_", ".RAR", ".TAR", ".TGZ",
                             ".UUE", ".UU",  ".WAR", ".XXE", ".Z",   ".ZIP", ".ZOO", ".ZTV"};
  return list;
}

int DefaultCompressThreads() {
  const unsigned n = std::thread::hardware_concurrency();
  return static_cast<int>(n == 0 ? 1 : n > 4 ? 4 : n);
}

// ---------------------------------------------------------------- entry list

std::string TCompressHeaderObj::Key(const std::string& s) { return LowerAscii(s); }

int TCompressHeaderObj::Add(const std::string& Name, int RootLength, const uint8_t* Header,
                            const TCompressFileInfo& Info) {
  const int index = Count();
  Names.push_back(Name);
  RootLengths.push_back(RootLength);
  Infos.push_back(Info);
  const size_t at = headers_.size();
  headers_.resize(at + static_cast<size_t>(headSize_));
  if (Header) std::copy(Header, Header + headSize_, headers_.begin() + static_cast<ptrdiff_t>(at));
  index_.emplace(Key(Name), index);
  return index;
}

void TCompressHeaderObj::SetName(int index, const std::string& Name) {
  auto range = index_.equal_range(Key(Names[static_cast<size_t>(index)]));
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == index) {
      index_.erase(it);
      break;
    }
  }
  Names[static_cast<size_t>(index)] = Name;
  index_.emplace(Key(Name), index);
}

int TCompressHeaderObj::IndexOf(const std::string& Name) const {
  auto range = index_.equal_range(Key(Name));
  int best = -1;
  for (auto it = range.first; it != range.second; ++it)
    if (best < 0 || it->second < best) best = it->second;
  return best;
}

void TCompressHeaderObj::Clear() {
  Names.clear();
  RootLengths.clear();
  Infos.clear();
  headers_.clear();
  index_.clear();
}

// ---------------------------------------------------------------- properties

TCustomCClass::TCustomCClass(TComponent* owner) : TZipCommon(owner) {
  SetRecurseDirs(true);
  storeFilesOfType_ = DefaultStoreFilesOfType();
}

TCustomCClass::~TCustomCClass() = default;

void TCustomCClass::SetSupportedMethods(std::initializer_list<TCompressMethod> methods) {
  supportedMethods_ = 0;
  for (TCompressMethod m : methods) supportedMethods_ |= 1u << m;
}

void TCustomCClass::SetCompressMethod(TCompressMethod value) {
  if (value >= 0 && value < 16 && (supportedMethods_ >> value) & 1u) compressMethod_ = value;
}

void TCustomCClass::SetOwnDefaultExt(const std::string& value) {
  ownDefaultExt_ = value;
  defaultExt_ = LowerAscii(value);
}

std::string TCustomCClass::DefaultExt() const { return defaultExt_; }

void TCustomCClass::SetDefaultExt(const std::string& value) {
  const std::string previous = defaultExt_;
  if (value.empty() || value == ".") {
    defaultExt_ = LowerAscii(ownDefaultExt_);
  } else {
    std::string v = value.find('.') == std::string::npos ? "." + value : value;
    defaultExt_ = LowerAscii(v.substr(0, 4));
  }
  if (archiveFile_.empty()) return;
  const std::string ext = ExtensionOf(archiveFile_);
  if (ext.empty()) {
    SetArchiveFile(archiveFile_ + defaultExt_);
  } else if (SameIgnoringCase(ext, previous)) {
    SetArchiveFile(archiveFile_.substr(0, archiveFile_.size() - ext.size()) + defaultExt_);
  }
}

void TCustomCClass::SetArchiveFile(const std::string& value) {
  std::string name = value;
  for (char& c : name)
    if (c == '\\') c = '/';
  if (!name.empty() && name.back() != '/' && ExtensionOf(name).empty()) name += defaultExt_;
  archiveFile_ = name;
  isNewArchive_ = name.empty() || !FileExistsEx(name);
  startOffset_ = -1;
  bool* flag = CancelFlag();
  *flag = false;
}

std::string TCustomCClass::StoredNameOf(const std::string& FullPath, const std::string& RootDir) const {
  return StoredName(FullPath, StoredDirNames(), RootDir, defaultDir_, baseDir_);
}

bool TCustomCClass::IsStoredType(const std::string& Stored) const {
  const std::string ext = ExtensionOf(Stored);
  if (ext.empty()) return false;
  for (const std::string& t : storeFilesOfType_)
    if (SameIgnoringCase(t, ext)) return true;
  return false;
}

int TCustomCClass::GetHeadSize() {
  platform::ShowMessage("", "GetHeadSize", platform::MsgKind::Error, platform::MsgButtons::OK);
  return 0;
}

uint8_t* TCustomCClass::GetHeadPtr() {
  platform::ShowMessage("", "GetHeadPtr", platform::MsgKind::Error, platform::MsgButtons::OK);
  return nullptr;
}

void TCustomCClass::DoEntryProgress(TStream32* Sender) {
  ReportProgress(archiveTotal_, currentSize_, Sender ? Sender->Position() : 0);
}

// ---------------------------------------------------------------- the run

int TCustomCClass::Compress() {
  if (EncryptionMethod() >= emAES2_128 && EncryptionMethod() <= emAES2_256) SetEncryptionMethod(emZIP_v2);
  baseDir_.clear();
  if (StoredDirNames() == sdExplorer_Auto || StoredDirNames() == sdExplorer_UserDefineDefaultDir)
    baseDir_ = FallbackBaseFolder(FileSpec());
  if (!Prepare()) return 0;
  return Run();
}

bool TCustomCClass::Prepare() {
  filesCompressed_ = 0;
  filesDeleted_ = 0;
  somethingToDo_ = false;
  cancelledRun_ = false;
  movedFiles_.clear();
  templateInfo_ = TCompressFileInfo{};
  ResetRunState();
  currentSize_ = 0;
  if (!CheckDrive(*this, ArchiveFile(), driveInfo_)) return false;
  if (!FileSpec().empty()) {
    if (switch_ == swDelete) defaultDir_.clear();
    if (StoredDirNames() == sdExplorer_Auto) defaultDir_ = CommonFolder(FileSpec());
    if (StoredDirNames() == sdExplorer_UserDefineDefaultDir && defaultDir_.empty()) {
      ReportError(ArchiveFile(), "DefaultDir", "", E_REQUIREDPROPERTY);
      return false;
    }
  }
  return true;
}

int TCustomCClass::Run() {
  std::string folder = FolderOf(ArchiveFile());
  if (folder.empty()) folder = platform::CurrentDir();
  if (!platform::DirExists(folder)) {
    ReportError(folder, "", "", E_INVALIDDIR);
    return 0;
  }
  if (ArchiveFile().empty() || Cancelled()) return 0;
  TCompressHeaderObj list(GetHeadSize());
  list_ = &list;
  moveSafe_ = false;
  try {
    RunCompress(list);
  } catch (...) {
    // Failures were reported where they happened; the old archive stands.
    filesCompressed_ = 0;
    filesDeleted_ = 0;
    moveSafe_ = false;
  }
  // Sources go only once the archive holds them for sure: after it was
  // replaced, or when every file was in it already.
  if (switch_ == swMove && moveSafe_ && platform::FileExists(ArchiveFile()) && !Cancelled()) DeleteMovedFiles(list);
  list_ = nullptr;
  oldArchive_.reset();
  if (Cancelled()) return 0;
  return switch_ == swDelete ? filesDeleted_ : filesCompressed_;
}

void TCustomCClass::DeleteMovedFiles(TCompressHeaderObj& List) {
  ReportProgress(0, 0, 0);
  const int total = static_cast<int>(movedFiles_.size());
  int count = 0;
  for (size_t i = 0; i < movedFiles_.size() && !Cancelled(); i += 2) {
    const std::string& file = movedFiles_[i];
    if (verifyBeforeDelete_) {
      // Each file is checked with the root of its own group, so files of
      // every group of the run can be verified.
      const std::string stored = StoredNameOf(file, movedFiles_[i + 1]);
      if (List.IndexOf(stored) < 0) continue;
    }
    if (!DeleteFileEx(file, DeleteOptions())) continue;
    ++count;
    if (OnDeleteFile) OnDeleteFile(this, file, count, total / 2);
  }
}

void TCustomCClass::RunCompress(TCompressHeaderObj& List) {
  if (switch_ == swRead) {
    ReadArchive();
    return;
  }
  const std::string archive = ArchiveFile();
  isNewArchive_ = !platform::FileExists(archive);
  if (isNewArchive_ && (switch_ == swDelete || switch_ == swRefresh)) {
    ReportError(archive, "", "", E_NOTHINGTODO2);
    return;
  }
  if (!isNewArchive_ && !CheckWriteable()) return;
  if (OnActivate) OnActivate(this);

  std::unique_ptr<TStream32> temp;
  TTempFileStream* tempFile = nullptr;
  TTempMemStream* tempMem = nullptr;
  if (CompressionMethod() == cmTempFile) {
    auto t = std::make_unique<TTempFileStream>(this, fmCreate, archive, TempDir());
    tempFile = t.get();
    if (!t->Valid()) {
      ReportError(TempDir(), "", "", E_FOPEN);
      return;
    }
    temp = std::move(t);
  } else {
    auto t = std::make_unique<TTempMemStream>(this, fmCreate, archive);
    tempMem = t.get();
    temp = std::move(t);
  }
  newArchive_ = temp.get();
  auto nothingToMove = [&] {
    if (tempFile) tempFile->SetMode(0);
    if (tempMem) tempMem->SetMode(0);
  };

  if (!isNewArchive_) {
    auto old = std::make_unique<TTempFileStream>(this, fmShareDenyWrite, archive);
    if (!old->Valid()) {
      ReportError(archive, "", "", E_FOPEN);
      nothingToMove();
      return;
    }
    oldArchiveSize_ = old->Size();
    oldArchive_ = std::move(old);
    if (switch_ == swDelete) SetExcludeSpec({});
    oldArchive_->SetPosition(0);
    ReadDirectory(*oldArchive_, List);
    if (Cancelled()) {
      nothingToMove();
      return;
    }
  }
  if (List.Count() == 0) {
    isNewArchive_ = true;
    oldArchiveSize_ = 0;
  }
  if (switch_ == swDelete && filesDeleted_ == 0 && !Cancelled()) {
    // Nothing matched: say so rather than report a deletion that did not happen.
    ReportError(archive, "", "", E_NOTHINGTODO);
    nothingToMove();
    return;
  }
  ScanAndWrite(List);

  if ((filesCompressed_ > 0 || filesDeleted_ > 0) && !Cancelled()) {
    bool allDeleted = switch_ == swDelete && List.Count() > 0;
    for (int i = 0; allDeleted && i < List.Count(); ++i) allDeleted = List.Infos[static_cast<size_t>(i)].Action == 2;
    if (allDeleted) WriteEmptyArchive(*temp);
    WriteCentralDirectory(*temp, List);
    oldArchive_.reset();
    SetArchiveSize(temp->Size());
    TTempMoveResult moved = tempFile ? tempFile->Finish() : tempMem->Finish();
    newArchive_ = nullptr;
    temp.reset();
    if (moved != TTempMoveResult::Moved) {
      filesCompressed_ = 0;
      filesDeleted_ = 0;
      return;
    }
    isNewArchive_ = false;
    moveSafe_ = true;
    ReportAddedEntries(List);
    if (OnDeactivate) OnDeactivate(this);
  } else {
    nothingToMove();
    newArchive_ = nullptr;
    temp.reset();
    oldArchive_.reset();
  }
}

bool TCustomCClass::CheckWriteable() {
  if (Cancelled() || OverwriteMode() == omSkip) return false;
  if (IsWriteable(ArchiveFile())) return true;
  if (!OnNonWriteableArchive) {
    ReportError(ArchiveFile(), "OnNonWriteableArchive", "", E_REQUIREDEVENT);
    return false;
  }
  bool writeToFile = false;
  OnNonWriteableArchive(this, ArchiveFile(), writeToFile);
  if (!writeToFile) return false;
  return platform::SetFileAttributes(ArchiveFile(), FILE_ATTRIBUTE_NORMAL) && IsWriteable(ArchiveFile());
}

void TCustomCClass::ReadArchive() {
  if (!OnRead) {
    ReportError(ArchiveFile(), "OnRead", "", E_REQUIREDEVENT);
    return;
  }
}

// ---------------------------------------------------------------- scanning

void TCustomCClass::ScanAndWrite(TCompressHeaderObj& List) {
  if (switch_ != swDelete) {
    TztvFileScan scan;
    scan.SetUpdateList(true);
    scan.HookData = &List;
    scan.SetFileSpec(FileSpec());
    TztvFileAttributes attributes = Attributes();
    if (storeEmptySubDirs_) attributes.Include(fsDirectory);
    scan.SetAttributes(attributes);
    scan.SetAttributesEx(AttributesEx());
    scan.SetRecurseDirs(RecurseDirs());
    scan.SetIncludeHiddenDirs(IncludeHiddenDirs());
    scan.SetScanOptions(soScanDir);
    scan.AddEntryHook = [this, &scan](TObject*, const std::string& Dir, void*, const platform::FindData& F) {
      if (Cancelled()) {
        scan.Cancel();
        return false;
      }
      return AcceptScanned(Dir, F);
    };
    scan.OnRootDirChange = [this](TObject*, const std::string& Dir) { rootDir_ = Dir; };
    scan.OnScanFile = [this, &scan](TObject*, const std::string& FileName, int Count, int64_t Size) {
      if (OnFileScanStatus) OnFileScanStatus(this, FileName, Count, Size);
      if (Cancelled()) scan.Cancel();
    };
    scan.OnRecurseDir = [this, &scan](TObject*, const std::string& Dir) {
      if (OnRecurseDir) OnRecurseDir(this, Dir);
      if (Cancelled()) scan.Cancel();
    };
    rootDir_.clear();
    scan.Scan();
    archiveTotal_ = scan.FilesSize();
    bytesRemaining_ = scan.FilesSize();
  }
  if (Cancelled() || (switch_ != swDelete && !somethingToDo_)) {
    if (!somethingToDo_ && !Cancelled()) ReportError(ArchiveFile(), "", "", E_NOTHINGTODO);
    if (switch_ == swMove) {
      moveSafe_ = !Cancelled() && !isNewArchive_;
      return;
    }
    List.Clear();
    return;
  }
  WriteEntries(*newArchive_, List);
}

bool TCustomCClass::AcceptScanned(const std::string& Dir, const platform::FindData& F) {
  const bool isDir = (F.attributes & platform::kAttrDirectory) != 0;
  std::string fullPath;
  if (isDir) {
    if (!storeEmptySubDirs_ || !IsEmptyDir(Dir)) return false;
    fullPath = Dir;
  } else {
    fullPath = Dir + F.name;
  }
  const std::string stored = StoredNameOf(fullPath, rootDir_);
  if (IsExcluded(isDir ? FolderOf(RemoveTrailingSlash(Dir)) : Dir, F.name, F.attributes)) return true;
  MatchExisting(fullPath, F, stored);
  return true;
}

void TCustomCClass::AddNewEntry(const std::string& FullPath, const platform::FindData& F, uint32_t Dos) {
  TCompressHeaderObj& list = *list_;
  somethingToDo_ = true;
  const bool isDir = (F.attributes & platform::kAttrDirectory) != 0;
  TFileInfoRec rec;
  rec.UncompressedSize = F.size;
  rec.DosDateTime = Dos;
  rec.Attributes = (F.attributes & 0xFFFF) |
                   (static_cast<uint32_t>((F.mode & 07777) | (isDir ? kUnixDirectory : kUnixRegular)) << 16);
  std::vector<uint8_t> header(static_cast<size_t>(list.HeadSize()));
  StoreHeaderInfo(header.data(), rec);
  TCompressFileInfo info = templateInfo_;
  info.Action = 0;
  info.EncryptHeaders = EncryptHeaders() ? 1 : 0;
  info.EncryptionMethod = EncryptionMethod() == emNone ? 0 : static_cast<uint8_t>(emZIP_v2);
  info.UncompressedHigh = static_cast<uint16_t>(static_cast<uint64_t>(F.size) >> 32);
  list.Add(FullPath, static_cast<int>(rootDir_.size()), header.data(), info);
}

void TCustomCClass::MatchExisting(const std::string& FullPath, const platform::FindData& F,
                                  const std::string& Stored) {
  TCompressHeaderObj& list = *list_;
  const bool isDir = (F.attributes & platform::kAttrDirectory) != 0;
  const uint32_t dos = platform::UnixToDosDateTime(F.mtime);
  if (!isDir && dos > maxFileDate_) maxFileDate_ = dos;
  const int index = isNewArchive_ ? -1 : list.IndexOf(Stored);
  if (index < 0) {
    if (switch_ != swRefresh) AddNewEntry(FullPath, F, dos);
    return;
  }
  TCompressFileInfo& info = list.Infos[static_cast<size_t>(index)];
  if (info.Action == 0) return;
  TFileInfoRec entry;
  UnpackHeader(list.Header(index), info, entry);
  const bool same = entry.UncompressedSize == F.size && entry.DosDateTime == dos &&
                    (entry.Attributes & kCompareAttributes) == (F.attributes & kCompareAttributes);
  bool added = false;
  if (same) {
    if (switch_ != swRefresh) {
      std::string newName;
      if (AskRenameDupe(index, newName)) {
        list.Infos[static_cast<size_t>(index)].Action = 3;
        list.SetName(index, newName);
        AddNewEntry(FullPath, F, dos);
        added = true;
      }
    }
  } else if (switch_ == swRefresh) {
    if (entry.DosDateTime < dos) {
      info.Action = 0;
      info.EncryptHeaders = EncryptHeaders() ? 1 : 0;
      info.EncryptionMethod = EncryptionMethod() == emNone ? 0 : static_cast<uint8_t>(emZIP_v2);
      info.ExtraField.clear();
      info.UncompressedHigh = static_cast<uint16_t>(static_cast<uint64_t>(F.size) >> 32);
      TFileInfoRec rec;
      rec.UncompressedSize = F.size;
      rec.DosDateTime = dos;
      rec.Attributes = (F.attributes & 0xFFFF) | (static_cast<uint32_t>((F.mode & 07777) | kUnixRegular) << 16);
      StoreHeaderInfo(list.Header(index), rec);
      list.SetName(index, FullPath);
      list.RootLengths[static_cast<size_t>(index)] = static_cast<int>(rootDir_.size());
      somethingToDo_ = true;
      return;
    }
  } else if (AskReplace(index, FullPath, F, dos)) {
    list.Infos[static_cast<size_t>(index)].Action = 2;
    AddNewEntry(FullPath, F, dos);
    added = true;
  } else {
    std::string newName;
    if (AskRenameDupe(index, newName)) {
      list.Infos[static_cast<size_t>(index)].Action = 3;
      list.SetName(index, newName);
      AddNewEntry(FullPath, F, dos);
      added = true;
    }
  }
  // A file the archive holds already goes with the moved ones; one that
  // differs from its entry and was not taken stays, or its content is lost.
  if (switch_ == swMove && !added && same && !isDir) {
    movedFiles_.push_back(FullPath);
    movedFiles_.push_back(rootDir_);
  }
}

bool TCustomCClass::AskReplace(int Index, const std::string& FullPath, const platform::FindData& F, uint32_t Dos) {
  TCompressHeaderObj& list = *list_;
  if (!OnReplaceFile) {
    ReportError(list.Names[static_cast<size_t>(Index)], "OnReplaceFile", "", E_REQUIREDEVENT);
    return false;
  }
  TFileInfoRec entry;
  UnpackHeader(list.Header(Index), list.Infos[static_cast<size_t>(Index)], entry);
  bool replace = false;
  OnReplaceFile(this, list.Names[static_cast<size_t>(Index)], FullPath, DosDateToDateTime(entry.DosDateTime),
                DosDateToDateTime(Dos), entry.UncompressedSize, F.size, entry.Attributes & 0xFFFF, F.attributes,
                replace);
  return replace;
}

bool TCustomCClass::AskRenameDupe(int Index, std::string& NewName) {
  if (!OnRenameDupeFile) return false;
  TCompressHeaderObj& list = *list_;
  const std::string current = list.Names[static_cast<size_t>(Index)];
  std::string proposed = current;
  for (int round = 0; round < kMaxRenameQuestions; ++round) {
    std::string answer = proposed;
    bool rename = true;
    OnRenameDupeFile(this, current, answer, rename);
    if (!rename) return false;
    if (!NameOf(answer).empty()) proposed = answer;
    if (SameIgnoringCase(proposed, current)) return false;
    const int other = list.IndexOf(proposed);
    if (other < 0 || other == Index) {
      NewName = proposed;
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------- writing

void TCustomCClass::QueueAhead(TCompressHeaderObj& List) {
  ahead_.reset();
  if (compressThreads_ <= 0 || deflateType_ == dtDeflateS || compressMethod_ == cmStore) return;
  auto ahead = std::make_unique<TDeflateAhead>(compressThreads_, 256 * 1024 * 1024);
  int queued = 0;
  for (int i = 0; i < List.Count(); ++i) {
    const TCompressFileInfo& info = List.Infos[static_cast<size_t>(i)];
    const std::string& path = List.Names[static_cast<size_t>(i)];
    if (info.Action != 0 || path.empty() || path.back() == '/') continue;
    TFileInfoRec rec;
    UnpackHeader(List.Header(i), info, rec);
    if (rec.UncompressedSize > kWholeEntryLimit || rec.UncompressedSize == 0) continue;
    const std::string root = path.substr(0, static_cast<size_t>(List.RootLengths[static_cast<size_t>(i)]));
    const bool deflate = !IsStoredType(StoredNameOf(path, root));
    if (!deflate) continue;  // storing costs no more than reading
    ahead->Queue(i, path, rec.UncompressedSize, deflate, deflateType_);
    ++queued;
  }
  if (queued < 2) return;  // one entry gains nothing from a second thread
  ahead->Start();
  ahead_ = std::move(ahead);
}

void TCustomCClass::WriteEntries(TStream32& NewArchive, TCompressHeaderObj& List) {
  int marked = 0;
  for (const TCompressFileInfo& info : List.Infos)
    if (info.Action == 2) ++marked;
  filesDeleted_ = 0;
  if (OnElapsedTime) Timer().Start();
  // The workers stop with the loop, also when a failure ends it.
  struct StopAhead {
    std::unique_ptr<TDeflateAhead>& ahead;
    ~StopAhead() { ahead.reset(); }
  } stopAhead{ahead_};
  QueueAhead(List);
  for (int i = 0; i < List.Count() && !Cancelled(); ++i) {
    TCompressFileInfo& info = List.Infos[static_cast<size_t>(i)];
    TFileInfoRec rec;
    UnpackHeader(List.Header(i), info, rec);
    currentRec_ = rec;
    switch (info.Action) {
      case 0: {
        const std::string path = List.Names[static_cast<size_t>(i)];
        if (!path.empty() && path.back() == '/' && !storeEmptySubDirs_) {
          info.Action = 2;
          break;
        }
        const int64_t before = NewArchive.Size();
        const bool ok = CompressEntry(NewArchive, i, List);
        if (ok) {
          ++filesCompressed_;
          if (switch_ == swMove && !(path.back() == '/')) {
            movedFiles_.push_back(path);
            movedFiles_.push_back(path.substr(0, static_cast<size_t>(List.RootLengths[static_cast<size_t>(i)])));
          }
          List.SetName(i, storedName_);
        } else {
          if (Cancelled()) {
            NewArchive.SetSize(before);
            NewArchive.SetPosition(before);
            for (int k = i; k < List.Count(); ++k) List.Infos[static_cast<size_t>(k)].Action = 2;
          }
          List.Infos[static_cast<size_t>(i)].Action = 2;
        }
        break;
      }
      case 1: {
        const int64_t oldOffset = info.Offset;
        const int64_t length = EntryLength(*oldArchive_, NewArchive, List, i);
        oldArchive_->SetPosition(oldOffset);
        NewArchive.SetPosition(NewArchive.Size());
        if (length > 0 && NewArchive.CopyFrom(*oldArchive_, length) != length && !Cancelled())
          RaiseFatal(ArchiveFile(), "", "", E_FWRITE);
        break;
      }
      case 2:
        ++filesDeleted_;
        if (OnDeleteFile) OnDeleteFile(this, List.Names[static_cast<size_t>(i)], filesDeleted_, marked);
        break;
      case 3:
        oldArchive_->SetPosition(info.Offset);
        CopyEntryAs(*oldArchive_, NewArchive, List, i);
        break;
      default:
        break;
    }
  }
  ahead_.reset();
  if (OnElapsedTime) {
    Timer().Stop();
    OnElapsedTime(this, Timer().ElapsedTime());
  }
}

bool TCustomCClass::BeginEntry(int Index, TCompressHeaderObj& List) {
  const std::string path = List.Names[static_cast<size_t>(Index)];
  bool extract = true;
  if (OnBegin) OnBegin(this, path, Index + 1, extract);
  const std::string root = path.substr(0, static_cast<size_t>(List.RootLengths[static_cast<size_t>(Index)]));
  storedName_ = StoredNameOf(path, root);
  fileName_ = storedName_;
  if (extract && List.Infos[static_cast<size_t>(Index)].Action != 3 && OnRenameFile) {
    for (int round = 0; round < kMaxRenameQuestions; ++round) {
      std::string answer = storedName_;
      OnRenameFile(this, storedName_, answer);
      if (NameOf(answer).empty()) break;
      const std::string candidate = FolderOf(storedName_) + NameOf(answer);
      if (SameIgnoringCase(candidate, storedName_)) break;
      const int other = List.IndexOf(candidate);
      if (other >= 0 && other != Index) continue;
      storedName_ = candidate;
      fileName_ = storedName_;
      break;
    }
  }
  return extract;
}

bool TCustomCClass::CompressEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List) {
  const std::string path = List.Names[static_cast<size_t>(Index)];
  if (auto* t = dynamic_cast<TTempFileStream*>(&NewArchive); t && t->TempName() == path) return false;
  if (!BeginEntry(Index, List)) return false;
  List.Infos[static_cast<size_t>(Index)].Offset = NewArchive.Size();
  NewArchive.SetPosition(NewArchive.Size());
  const bool ok = CompressFile(NewArchive, Index, List);
  EndEntry();
  return ok;
}

namespace {

// A write that did not go through completely ends the run.
void WriteOrFail(TZipCommon& c, TStream32& s, const void* p, int64_t n) {
  if (n <= 0) return;
  errno = 0;
  const int64_t w = s.Write(p, n);
  if (w == n) return;
  const int error = platform::LastError();
  c.RaiseFatal(c.ArchiveFile(), "", "", platform::IsDiskFull(error) ? E_DISKFULL : E_FWRITE);
  throw E_RAISE(MessageOf(E_USERCANCEL));
}

}  // namespace

void TCustomCClass::RewriteHeader(TStream32& NewArchive, int64_t HeaderPos, const std::string& NameBytes,
                                  TCompressFileInfo&) {
  NewArchive.SetPosition(HeaderPos);
  WriteOrFail(*this, NewArchive, GetHeadPtr(), GetLocalHeadSize());
  WriteOrFail(*this, NewArchive, NameBytes.data(), static_cast<int64_t>(NameBytes.size()));
}

bool TCustomCClass::WriteDirEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List) {
  if (!storeEmptySubDirs_) return false;
  const std::string path = List.Names[static_cast<size_t>(Index)];
  if (!IsEmptyDir(path)) return false;
  crcSlot_ = 0xFFFFFFFFu;
  ResetCrc();
  currentStored_ = true;
  currentEncrypted_ = false;
  currentSize_ = 0;
  const std::string nameBytes = ArchiveNameBytes(storedName_);
  const int64_t headerPos = NewArchive.Position();
  FinishHeader(0, 0);
  RewriteHeader(NewArchive, headerPos, nameBytes, List.Infos[static_cast<size_t>(Index)]);
  TFileInfoRec rec;
  UnpackHeader(List.Header(Index), List.Infos[static_cast<size_t>(Index)], rec);
  AddCentralRecord(Index, rec.Attributes, List);
  return true;
}

bool TCustomCClass::WriteData(TStream32& NewArchive, TStream32* Source, int Index, const std::string& Path,
                              bool Deflate) {
  TCompressFileInfo& info = list_->Infos[static_cast<size_t>(Index)];
  const TStreamEvent progress = [this](TStream32* s) { DoEntryProgress(s); };
  CoderParams params;
  params.Crc = 0xFFFFFFFFu;
  params.Remaining = Remaining();
  params.CancelFlag = CancelFlag();
  params.Options = currentEncrypted_ ? static_cast<uint16_t>(kCipherZipV2 << 8) : 0;
  params.Keys = &DataKeys();

  auto writeEncryptionHeader = [&](uint32_t crc) {
    const auto header = MakeEncryptionHeader(DataKeys(), DataSeed(), Password(), crc);
    WriteOrFail(*this, NewArchive, header.data(), static_cast<int64_t>(header.size()));
  };

  if (currentSize_ <= kWholeEntryLimit) {
    // The entry is read and prepared in one piece, by a worker when one
    // has it ready; the archive gets the same bytes either way.
    std::unique_ptr<TPreparedEntry> prepared;
    if (ahead_) prepared = ahead_->Take(Index, Deflate, deflateType_);
    if (!prepared) prepared = std::make_unique<TPreparedEntry>(PrepareEntry(Path, Deflate, deflateType_));
    if (!prepared->Ok) {
      ReportError(Path, "", "", E_FOPEN);
      return false;
    }
    crcSlot_ = prepared->Crc;
    currentStored_ = !prepared->Deflated;
    currentSize_ = prepared->SourceSize;
    if (currentEncrypted_ && currentSize_ == 0) currentEncrypted_ = false;
    if (currentEncrypted_) {
      writeEncryptionHeader(prepared->Crc);
      EncipherBuffer(DataKeys(), prepared->Data.data(), prepared->Data.size());
    }
    WriteOrFail(*this, NewArchive, prepared->Data.data(), static_cast<int64_t>(prepared->Data.size()));
    bytesRemaining_ -= currentSize_;
    ReportProgress(archiveTotal_, currentSize_, currentSize_);
    (void)info;
    return !Cancelled();
  }

  // Too large to hold: the data streams through, in one pass or, for an
  // encrypted entry, after a pass that computes its CRC.
  if (currentEncrypted_) {
    const int64_t remainingBefore = bytesRemaining_;
    const uint32_t reg = CalcFileCrc(*Source, progress, CancelFlag(), params);
    if (Cancelled()) return false;
    crcSlot_ = reg ^ 0xFFFFFFFFu;
    bytesRemaining_ = remainingBefore;
    params.Crc = crcSlot_;
    writeEncryptionHeader(crcSlot_);
  }
  Source->SetPosition(0);
  if (!Deflate) {
    TStoreStream store(NewArchive, params, 32);
    store.ProgressHandler = progress;
    store.StoreFrom(*Source, 0);
    if (!currentEncrypted_) crcSlot_ = store.Crc() ^ 0xFFFFFFFFu;
    currentStored_ = true;
    return !Cancelled();
  }
  currentStored_ = false;
  return DeflateFile(*Source, NewArchive, params, -15, progress, this, deflateType_, crcSlot_);
}

bool TCustomCClass::CompressFile(TStream32& NewArchive, int Index, TCompressHeaderObj& List) {
  TCompressFileInfo& info = List.Infos[static_cast<size_t>(Index)];
  const std::string path = List.Names[static_cast<size_t>(Index)];
  TFileInfoRec rec;
  UnpackHeader(List.Header(Index), info, rec);
  currentAttributes_ = rec.Attributes;
  currentIsDir_ = !path.empty() && path.back() == '/';
  if (currentIsDir_) return WriteDirEntry(NewArchive, Index, List);

  bool stored = deflateType_ == dtDeflateS;
  if (!stored && IsStoredType(storedName_)) stored = true;
  TFileStream32 source(path, fmShareDenyNone);
  if (!source.Valid()) {
    ReportError(path, "", "", E_FOPEN);
    return false;
  }
  currentSize_ = source.Size();
  currentEncrypted_ = currentSize_ > 0 && info.EncryptionMethod != 0;
  if (currentSize_ == 0) stored = true;
  currentStored_ = stored;
  crcSlot_ = 0xFFFFFFFFu;
  fileTotal_ = currentSize_;

  const int64_t headerPos = NewArchive.Position();
  const std::string nameBytes = ArchiveNameBytes(storedName_);
  WriteOrFail(*this, NewArchive, GetHeadPtr(), GetLocalHeadSize());
  WriteOrFail(*this, NewArchive, nameBytes.data(), static_cast<int64_t>(nameBytes.size()));
  WriteExtraField(NewArchive, info);
  const int64_t dataStart = NewArchive.Position();

  bool ok = WriteData(NewArchive, &source, Index, path, !stored);
  const int64_t end = NewArchive.Position();
  const int64_t compressed = end - dataStart;
  FinishHeader(compressed, currentSize_);
  info.CompressedHigh = static_cast<uint16_t>(static_cast<uint64_t>(compressed) >> 32);
  RewriteHeader(NewArchive, headerPos, nameBytes, info);
  NewArchive.SetPosition(end);
  if (ok && Cancelled()) ok = false;
  if (ok) AddCentralRecord(Index, currentAttributes_, List);
  return ok;
}

}  // namespace tessavar
