#include "archive/zip/ztvUnBase.h"

#include "platform/File.h"

namespace tessavar {

namespace {
std::string FolderOf(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}
}  // namespace

TCustomDClass::TCustomDClass(TComponent* owner) : TZipCommon(owner) { SetRecurseDirs(true); }

TCustomDClass::~TCustomDClass() = default;

int TCustomDClass::Extract() { return Run(0); }
int TCustomDClass::Test() { return Run(6); }

int TCustomDClass::Run(int mode) {
  if (ArchiveFile().empty()) {
    ReportError(RequestedArchiveFile(), "", "0", E_FILENOTFOUND);
    return 0;
  }
  if (cpuType_ == cpt80486) cpuType_ = cptAuto;
  auto archive = std::make_unique<TFileStream32>(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
  if (!archive->Valid()) {
    ReportError(ArchiveFile(), "", "0", E_FOPEN);
    return 0;
  }
  archiveSize_ = archive->Size();
  std::unique_ptr<TStream32> stream = std::move(archive);
  processMode_ = mode;
  skip_ = false;
  if (arcType_ != atGZip && arcType_ != atMsGZ) SetAsciiTranslation(false);
  const int result = RunOperation([&] { DoExtract(stream); }, true);
  processMode_ = 0;
  return result;
}

bool TCustomDClass::CheckCRC(int CheckKind, uint32_t StoredCrc) {
  bool pass = false;
  if (!Cancelled() && !entryFailed_) {
    if (CheckKind == 16) pass = (StoredCrc & 0xFFFF) == Crc16Value() || (StoredCrc & 0xFFFF) == (~Crc16Value() & 0xFFFF);
    else pass = StoredCrc == Crc32Value() || StoredCrc == Crc32Register();
  }
  if (OnEnd) OnEnd(this, ShownName(), pass);
  else if (!pass && OnError) ReportError(ShownName(), "", volumeName_, E_CRCERROR);
  return pass;
}

bool TCustomDClass::InsideExtractDir(const std::string& path) const {
  std::string root = platform::RealPath(ExtractDir().empty() ? platform::CurrentDir() : ExtractDir());
  std::string folder = platform::RealPath(FolderOf(path));
  if (root.empty() || folder.empty()) return false;
  if (root.back() != '/') root += '/';
  if (folder.back() != '/') folder += '/';
  return folder.compare(0, root.size(), root) == 0;
}

bool TCustomDClass::EntryBegin(bool isDirectory) {
  if (isDirectory) return true;
  struct Pause {
    TZipTimer& t;
    explicit Pause(TZipTimer& x) : t(x) { t.Pause(); }
    ~Pause() { t.Resume(); }
  } pause(Timer());
  bool extract = true;
  if (OnBegin) {
    if (processMode_ == 0 && OnRenameFile) {
      std::string renamed = fileName_;
      OnRenameFile(this, fileName_, renamed);
      if (!renamed.empty() && renamed != fileName_) {
        fileName_ = renamed;
        platform::ForceDirs(FolderOf(fileName_));
      }
    }
    OnBegin(this, ShownName(), count_ + 1, extract);
  }
  if (Cancelled() || !extract) return false;
  if (processMode_ == 6) {
    ++count_;
    return true;
  }
  if (!ConfirmOverwrites()) {
    if (OverwriteMode() != omOverwrite) return false;
    ++count_;
    return true;
  }
  SetOverwriteMode(omOverwrite);
  if (platform::PathExists(fileName_)) {
    const uint32_t attrs = platform::GetFileAttributes(fileName_);
    if (OnFileExists) {
      do {
        std::string newName;
        TOverwriteMode mode = OverwriteMode();
        OnFileExists(this, fileName_, newName, mode);
        SetOverwriteMode(mode);
        if (newName.empty()) newName = fileName_;
        platform::ForceDirs(FolderOf(newName));
        if (mode == omOverwrite && !newName.empty()) {
          if (newName == fileName_) break;
          fileName_ = newName;
        }
      } while (!Cancelled() && OverwriteMode() != omSkip && platform::PathExists(fileName_));
    } else {
      ReportError(fileName_, "OnFileExists", "0", E_REQUIREDEVENT);
      SetOverwriteMode(omSkip);
    }
    if (!Cancelled() && OverwriteMode() != omSkip && attrs != platform::kInvalidAttributes &&
        (attrs & (platform::kAttrReadOnly | platform::kAttrHidden))) {
      if (attrs & (platform::kAttrSystem | platform::kAttrDirectory)) {
        ReportError(fileName_, "", volumeName_, E_FWRITE);
        return false;
      }
      platform::SetFileAttributes(fileName_, attrs & ~platform::kAttrReadOnly);
    }
  }
  if (Cancelled() || OverwriteMode() != omOverwrite || fileName_.empty()) return false;
  ++count_;
  return true;
}

}  // namespace tessavar
