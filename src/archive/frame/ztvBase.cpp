#include "archive/frame/ztvBase.h"

#include <algorithm>
#include <cstdint>
#include <cerrno>
#include <cmath>
#include <vector>

#include "archive/frame/ztvMask.h"
#include "archive/zip/ztvCrypt.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/File.h"
#include "platform/Shell.h"
#include "platform/Temp.h"
#include "platform/Time.h"

namespace tessavar {

namespace {

std::string FolderPart(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string NamePart(const std::string& path) {
  auto p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

bool IEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

// The directory part of a stored name: the text before its last separator,
// with the separator kept.
std::string DirPart(const std::string& name) {
  size_t p = name.find_last_of("/\\:");
  return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  auto e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

// The types whose entry data the traditional cipher may protect.
bool CipherType(TArcType t, bool withBh) { return IsZipType(t) || (withBh && (t == atBh || t == atBhExe)); }

std::string WithSlash(std::string s) {
  if (!s.empty() && s.back() != '/') s += '/';
  return s;
}

// Pauses the timer while an error is delivered, so a message box that stays
// open is not counted as work; resumes whatever happens.
class TimerPause {
 public:
  explicit TimerPause(TZipTimer& t) : t_(t) { t_.Pause(); }
  ~TimerPause() { t_.Resume(); }
  TimerPause(const TimerPause&) = delete;
  TimerPause& operator=(const TimerPause&) = delete;

 private:
  TZipTimer& t_;
};

}  // namespace

uint8_t Percent(int64_t total, int64_t part) {
  if (total <= 0) return 0;
  if (part <= 0) return 0;
  if (part <= INT64_MAX / 100) {
    // Exact, and cheap enough to run for every entry of a big archive.
    const int64_t n = part * 100;
    int64_t q = n / total;
    const int64_t r = n % total;
    if (r > total - r || (r == total - r && (q & 1))) ++q;
    return static_cast<uint8_t>(std::min<int64_t>(q, 100));
  }
  long double v = static_cast<long double>(part) * 100.0L / static_cast<long double>(total);
  v = std::nearbyintl(v);  // the default rounding mode takes halves to even
  if (v < 0) return 0;
  if (v > 100) return 100;
  return static_cast<uint8_t>(v);
}

TZipCommon::TZipCommon(TComponent* owner)
    : TRegisterZipTV(owner),
      seedDataKeys_(std::make_unique<TSeedKeys>(TSeedKeyKind::Data, dataKeys_)),
      seedHeaderKeys_(std::make_unique<TSeedKeys>(TSeedKeyKind::Header, headerKeys_)) {}

TZipCommon::~TZipCommon() = default;

std::string TZipCommon::TempDir() {
  if (tempDir_.empty() || !platform::DirExists(tempDir_)) tempDir_ = platform::SystemTempDir();
  return tempDir_;
}

void TZipCommon::SetTempDir(const std::string& value) {
  if (Loading()) {
    tempDir_ = value;
    return;
  }
  std::string dir = value.empty() ? platform::SystemTempDir() : WithSlash(value);
  if (!platform::DirExists(dir)) {
    auto answer = platform::ShowMessage("Confirm", dir + "\n\n" + MessageOf(E_DIRNOTEXIST),
                                        platform::MsgKind::Confirmation, platform::MsgButtons::YesNo);
    if (answer == platform::MsgResult::Yes) platform::ForceDirs(dir);
    else dir.clear();
  }
  if (dir.empty() || !platform::DirExists(dir)) dir = platform::SystemTempDir();
  tempDir_ = dir;
}

void TZipCommon::SetExtractDir(const std::string& value) {
  if (!value.empty()) extractDir_ = WithSlash(value);
  else extractDir_ = ArchiveFile().empty() ? std::string() : FolderPart(ArchiveFile());
}

void TZipCommon::ReportError(const std::string& FileName, const std::string& ExtendedMsg,
                             const std::string& VolumeID, int ECode) {
  TimerPause pause(timer_);
  if (Cancelled()) ECode = E_USERCANCEL;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
}

void TZipCommon::RaiseFatal(const std::string& FileName, const std::string& ExtendedMsg,
                            const std::string& VolumeID, int ECode) {
  TimerPause pause(timer_);
  if (Cancelled()) ECode = E_USERCANCEL;
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
  if (!Cancelled()) throw E_RAISE(MessageOf(ECode));
}

void TZipCommon::SetCancelled(bool value) {
  *cancelFlag_ = value;
  if (value) ReportError(fileName_, "", volumeName_, E_USERCANCEL);
}

void TZipCommon::ReportProgress(int64_t ArchiveTotal, int64_t FileTotal, int64_t FilePosition) {
  try {
    byFile_ = Percent(FileTotal, FilePosition);
    byArchive_ = Percent(ArchiveTotal, ArchiveTotal - bytesRemaining_);
    platform::ProcessMessages();
    if (OnProgress) OnProgress(this, byFile_, byArchive_);
  } catch (...) {
    // A failing progress handler must not end the operation it reports on.
  }
}

uint32_t TZipCommon::FileDateFor(uint32_t FileDate) {
  if (FileDate > maxFileDate_) maxFileDate_ = FileDate;
  switch (dateAttribute_) {
    case daFileDate: return FileDate;
    case daSysDate: return platform::NowDosDateTime();
    case daMaxFileDate: return maxFileDate_;
  }
  return FileDate;
}

double TZipCommon::DosDateToDateTime(uint32_t DosDateTime) const {
  // Compared signed on purpose: years from 2044 on have the top bit set and
  // count as before 1980.
  if (static_cast<int32_t>(DosDateTime) < static_cast<int32_t>(platform::kDosDate1980))
    DosDateTime = platform::kDosDate1980;
  double dt = 0;
  if (!platform::DosDateTimeToDateTime(DosDateTime, dt)) return 29221.0 + 1.0 / 1440.0;
  return dt;
}

bool TZipCommon::IsExcluded(const std::string& FolderPath, const std::string& FileName,
                            uint32_t Attributes) const {
  const std::string candidate = WithSlash(Lower(FolderPath));
  for (const std::string& line : excludeSpec_) {
    if (line.find('/') != std::string::npos) {
      std::string folder = Lower(Trim(FolderPart(line)));
      if (folder.empty() || folder.front() != '/') folder = "/" + folder;
      bool folderMatches = recurseDirs_ ? candidate.find(folder) != std::string::npos
                                        : (candidate.size() >= folder.size() &&
                                           candidate.compare(candidate.size() - folder.size(), folder.size(), folder) == 0);
      if (!folderMatches) continue;
      if (Attributes & FILE_ATTRIBUTE_DIRECTORY) return true;
      if (TInternalMask(NamePart(line)).Matches(FileName)) return true;
    } else if (TInternalMask(line).Matches(FileName)) {
      return true;
    }
  }
  return false;
}

std::string TZipCommon::GetFileTypeName(const std::string& Name) const {
  std::string shell = platform::ShellTypeName(Name);
  if (!shell.empty()) return shell;
  std::string base = NamePart(Name);
  auto dot = base.find_last_of('.');
  if (dot == std::string::npos || dot + 1 == base.size()) return "File";
  std::string ext = base.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return ext + " File";
}

std::string TZipCommon::CleanStoredName(const std::string& name, bool& unsafe) {
  unsafe = false;
  std::string s = name;
  for (char& c : s)
    if (c == '\\') c = '/';
  // A drive prefix has no meaning here; "C:dir/f" and "C:/dir/f" both keep only the path.
  if (s.size() >= 2 && s[1] == ':' && ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
    s.erase(0, 2);
  const bool isFolder = !s.empty() && s.back() == '/';
  std::string out;
  size_t i = 0;
  while (i <= s.size()) {
    size_t j = s.find('/', i);
    if (j == std::string::npos) j = s.size();
    std::string part = s.substr(i, j - i);
    if (part == "..") unsafe = true;
    else if (!part.empty() && part != ".") {
      if (!out.empty()) out += '/';
      out += part;
    }
    i = j + 1;
  }
  if (isFolder && !out.empty()) out += '/';
  return out;
}

void TZipCommon::SetFileName(const std::string& Name) {
  fileNameRefused_ = false;
  if (Name.empty()) {
    fileName_.clear();
    return;
  }
  bool unsafe = false;
  const std::string stored = CleanStoredName(Name, unsafe);
  if (unsafe) {
    // Never resolved: a ".." part could put the file anywhere.
    fileNameRefused_ = true;
    fileName_.clear();
    return;
  }
  if (extractDir_.empty()) {
    extractDir_ = FolderPart(ArchiveFile());
    if (extractDir_.empty()) extractDir_ = platform::CurrentDir();
  }
  std::string folder = useStoredDirs_ ? extractDir_ + FolderPart(stored) : extractDir_;
  // A relative destination is taken from the current folder.
  if (folder.empty() || folder.front() != '/') folder = platform::CurrentDir() + folder;
  fileName_ = WithSlash(folder) + NamePart(stored);
}

void TZipCommon::UpdateCheck(const uint8_t* buffer, int64_t count, int CheckKind) {
  if (count <= 0) return;
  if (CheckKind == 32) crc32Reg_ = Crc32Update(buffer, static_cast<size_t>(count), crc32Reg_);
  else if (CheckKind == 16) crc16Reg_ = Crc16Update(buffer, static_cast<size_t>(count), crc16Reg_);
}

int64_t TZipCommon::ReadBlock(TStream32& Stream, uint8_t* Buffer, bool Decrypt, int CheckKind, int64_t Count) {
  if (Count <= 0) return 0;
  int64_t n = Stream.Read(Buffer, Count);
  if (n <= 0) return 0;
  if (Decrypt && CipherType(arcType_, true)) DecipherBuffer(dataKeys_, Buffer, static_cast<size_t>(n));
  UpdateCheck(Buffer, n, CheckKind);
  return n;
}

int64_t TZipCommon::WriteEncoded(TStream32* Stream, uint8_t* Buffer, bool Encrypt, int CheckKind, int64_t Count,
                                 int Mode) {
  if (Encrypt && Mode == 1 && CipherType(arcType_, true))
    for (int64_t i = 0; i < Count; ++i) Buffer[i] = EncipherByte(dataKeys_, Buffer[i]);
  return SharedWrite(Stream, Buffer, CheckKind, Count, Mode);
}

int64_t TZipCommon::WriteDecoded(TStream32* Stream, uint8_t* Buffer, bool Decrypt, int CheckKind, int64_t Count,
                                 int Mode) {
  if (Decrypt && Mode == 1 && CipherType(arcType_, false) && encryptionMethod_ == emZIP_v2)
    DecipherBuffer(dataKeys_, Buffer, static_cast<size_t>(std::max<int64_t>(Count, 0)));
  return SharedWrite(Stream, Buffer, CheckKind, Count, Mode);
}

int64_t TZipCommon::SharedWrite(TStream32* Stream, const uint8_t* Buffer, int CheckKind, int64_t Count, int Mode) {
  if (Count <= 0) return 0;
  int64_t written = 0;
  int error = 0;
  auto put = [&](const uint8_t* p, int64_t n) -> bool {
    if (n <= 0) return true;
    errno = 0;
    int64_t w = Stream ? Stream->Write(p, n) : 0;
    if (w != n) {
      error = platform::LastError();
      return false;
    }
    return true;
  };
  if (processMode_ == 6) {
    written = Count;  // a test produces the bytes and throws them away
  } else if (!asciiTranslation_) {
    int64_t w = 0;
    errno = 0;
    if (Stream) w = Stream->Write(Buffer, Count);
    if (w < Count) error = platform::LastError();
    written = std::max<int64_t>(w, 0);
  } else {
    // Line feeds without a carriage return before them get one; the pieces
    // in between go out as they are.
    static const uint8_t kCR = '\r';
    int64_t start = 0;
    bool ok = true;
    for (int64_t i = 0; i < Count && ok; ++i) {
      if (Buffer[i] == '\n' && !(i > 0 ? Buffer[i - 1] == '\r' : lastWrittenWasCR_)) {
        ok = put(Buffer + start, i - start) && put(&kCR, 1);
        start = i;
      }
    }
    if (ok) ok = put(Buffer + start, Count - start);
    written = ok ? Count : 0;
  }
  if (written < Count) {
    if (platform::IsDiskFull(error)) {
      count_ = 0;
      RaiseFatal(ArchiveFile(), fileName_, "0", E_DISKFULL);
    }
    count_ = std::max(0, count_ - 1);
    ReportError(fileName_, "", ArchiveFile(), E_FWRITE);
    return written;
  }
  lastWrittenWasCR_ = Buffer[Count - 1] == '\r';
  if (Mode == 1) UpdateCheck(Buffer, Count, CheckKind);
  return written;
}

int64_t TZipCommon::CopyStoredData(TStream32& Input, TStream32* Output, int64_t Size, uint16_t GeneralPurpose,
                                   int CheckKind) {
  std::vector<uint8_t> block(32768);
  const bool decrypt = CipherType(arcType_, true) && (GeneralPurpose & 1);
  int64_t left = std::max<int64_t>(Size, 0);
  int64_t copied = 0;
  while (left > 0) {
    const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(block.size()));
    const int64_t got = ReadBlock(Input, block.data(), false, 0, want);
    if (got <= 0) break;
    bytesRemaining_ -= got;
    WriteDecoded(Output, block.data(), decrypt, CheckKind, got, 1);
    left -= got;
    copied += got;
    ReportProgress(archiveTotal_, Size, copied);
    if (Cancelled()) break;
  }
  return left;
}

void TZipCommon::DoTmpFileMoveBegin(const std::string& Archive, const std::string& TempFileName, bool& Cancel) {
  if (OnTmpFileMoveBegin) OnTmpFileMoveBegin(this, Archive, TempFileName, Cancel);
}

void TZipCommon::DoTmpFileMoveEnd() {
  if (OnTmpFileMoveEnd) OnTmpFileMoveEnd(this);
}

void TZipCommon::DoTmpFileProgress(TStream32* Stream) {
  try {
    byFile_ = Percent(fileTotal_, Stream ? Stream->Position() : 0);
    byArchive_ = Percent(archiveTotal_, archiveTotal_ - bytesRemaining_);
    if (OnTmpFileProgress) OnTmpFileProgress(this, byFile_, byArchive_);
  } catch (...) {
    // As with OnProgress: a failing handler must not break the move.
  }
}

namespace {

constexpr int64_t kMoveChunk = 100000;

// The data of a temporary archive must be on the device before its name
// replaces the archive's, or a crash could leave an empty archive.
bool SyncByName(const std::string& path, int& error) {
  platform::FileHandle h = platform::FileOpen(path, platform::OpenMode::Read);
  if (h == platform::kInvalidHandle) {
    error = platform::LastError();
    return false;
  }
  const bool ok = platform::FileSync(h);
  if (!ok) error = platform::LastError();
  platform::FileClose(h);
  return ok;
}

}  // namespace

bool TZipCommon::MoveTempFile(TStream32* TempStream, const std::string& Destination, bool SameDrive,
                              const std::string& TempName) {
  const bool inMemory = TempName.empty() || TempName == "NoName";
  if (inMemory && TempStream == nullptr) {
    ReportError(Destination, TempName, "", E_FOPEN);
    return false;
  }
  // The archive keeps its permissions; a new one gets what a newly created
  // file would (temporary files are made private).
  const int oldMode = platform::FileExists(Destination) ? platform::GetFileMode(Destination) : -1;
  const int mode = oldMode >= 0 ? oldMode : platform::NewFileMode();
  auto fail = [&](int error) {
    ReportError(Destination, TempName, "", platform::IsDiskFull(error) ? E_DISKFULL : E_FWRITE);
    return false;
  };

  if (SameDrive && !inMemory) {
    int error = 0;
    if (!SyncByName(TempName, error)) return fail(error);
    platform::SetFileMode(TempName, mode);
    // Never delete the archive first: rename replaces it in one step, so
    // the archive's name always names a whole archive.
    if (platform::MoveFile(TempName, Destination)) return true;
    error = platform::LastError();
    // Bind mounts of one file system share st_dev but refuse the rename;
    // those take the copy below.
    if (error != EXDEV) return fail(error);
  }

  std::unique_ptr<TFileStream32> file;
  TStream32* source = TempStream;
  if (!inMemory) {
    file = std::make_unique<TFileStream32>(TempName, fmShareDenyWrite);
    if (!file->Valid()) {
      ReportError(TempName, "", "", E_FOPEN);
      return false;
    }
    source = file.get();
  }
  const int64_t size = std::max<int64_t>(source->Size(), 0);
  source->SetPosition(0);
  fileTotal_ = size;
  archiveTotal_ = size;
  bytesRemaining_ = size;

  // The copy goes next to the archive and replaces it only when complete,
  // so a full disk, a cancel or a crash leaves the old archive whole.
  std::string folder = FolderPart(Destination);
  if (folder.empty()) folder = platform::CurrentDir();
  errno = 0;
  const std::string copyName = platform::CreateTempFile(folder, "ztv");
  if (copyName.empty()) return fail(errno);
  platform::FileHandle out = platform::FileOpen(copyName, platform::OpenMode::ReadWrite);
  if (out == platform::kInvalidHandle) {
    const int error = platform::LastError();
    platform::DeleteFile(copyName);
    return fail(error);
  }

  std::vector<uint8_t> chunk(static_cast<size_t>(std::clamp<int64_t>(size, 1, kMoveChunk)));
  bool ok = true;
  int error = 0;
  for (int64_t left = size; left > 0;) {
    platform::ProcessMessages();
    if (Cancelled()) {
      ok = false;
      break;
    }
    const int64_t want = std::min<int64_t>(left, static_cast<int64_t>(chunk.size()));
    const int64_t got = std::min(source->Read(chunk.data(), want), want);
    if (got <= 0) {  // the temporary archive is shorter than it was
      ok = false;
      error = platform::LastError();
      break;
    }
    if (platform::FileWrite(out, chunk.data(), got) != got) {
      ok = false;
      error = platform::LastError();
      break;
    }
    left -= got;
    bytesRemaining_ -= got;
    DoTmpFileProgress(source);
  }
  if (ok && Cancelled()) ok = false;
  if (ok && !platform::FileSync(out)) {
    ok = false;
    error = platform::LastError();
  }
  // Delayed write errors (NFS, quotas) show up at close.
  if (!platform::FileClose(out) && ok) {
    ok = false;
    error = platform::LastError();
  }
  if (ok) platform::SetFileMode(copyName, mode);
  if (ok && !platform::MoveFile(copyName, Destination)) {
    ok = false;
    error = platform::LastError();
  }
  if (!ok) {
    platform::DeleteFile(copyName);
    return fail(error);
  }
  file.reset();
  if (!inMemory) platform::DeleteFile(TempName);
  return true;
}

bool TZipCommon::SimpleSelect(const std::string& name) {
  if (name.empty()) return false;
  for (const std::string& pattern : FileSpec()) {
    std::string test = name;
    if (pattern.find('.') != std::string::npos && name.find('.') == std::string::npos) test += '.';
    if (!TInternalMask(pattern).Matches(test)) continue;
    for (const std::string& ex : ExcludeSpec()) {
      if (TInternalMask(ex).Matches(test)) {
        if (OnExcludeFile) OnExcludeFile(this, test);
        return false;
      }
    }
    return true;
  }
  return false;
}

bool TZipCommon::DirectorySelect(const std::string& name) {
  if (name.empty()) return false;
  TStrings spec = FileSpec();  // the rule may append "." to a line
  bool changed = false;
  bool selected = false;
  const std::string nameDir = DirPart(name);
  for (std::string& line : spec) {
    if (line.empty()) continue;
    bool excluded = false;
    for (const std::string& ex : ExcludeSpec()) {
      if (TInternalMask(ex).Matches(name)) {
        if (OnExcludeFile) OnExcludeFile(this, name);
        excluded = true;
        break;
      }
    }
    if (excluded) break;
    if (IEquals(line, name)) {
      selected = true;
      break;
    }
    const std::string lineDir = DirPart(line);
    if (!RecurseDirs() && !IEquals(lineDir, nameDir)) continue;
    std::string test = (RecurseDirs() && lineDir.empty()) ? name.substr(nameDir.size()) : name;
    if (TInternalMask(line).Matches(test)) {
      selected = true;
      break;
    }
    if (test.find('.') == std::string::npos) test += '.';
    if (line.find('.') == std::string::npos) {
      line += '.';
      changed = true;
    }
    if (TInternalMask(line).Matches(test)) {
      selected = true;
      break;
    }
  }
  if (changed) SetFileSpec(spec);
  return selected;
}

void TZipCommon::ResetRunState() {
  SetCancelled(false);
  count_ = 0;
  bytesRemaining_ = 0;
  archiveTotal_ = 0;
  fileTotal_ = 0;
  maxFileDate_ = 0;
  byFile_ = 0;
  byArchive_ = 0;
  volumeNum_ = -1;
  volumeName_ = ArchiveFile();
}

int TZipCommon::RunOperation(const std::function<void()>& work, bool restoreArchiveName) {
  ResetRunState();
  const std::string remembered = archiveFile_;
  try {
    if (OnActivate) OnActivate(this);
    if (OnElapsedTime) timer_.Start();
    work();
  } catch (...) {
    // Failures reach the caller through OnError and the count reached.
  }
  if (OnElapsedTime) {
    timer_.Stop();
    OnElapsedTime(this, timer_.ElapsedTime());
  }
  if (OnDeactivate) OnDeactivate(this);
  if (restoreArchiveName) archiveFile_ = remembered;
  return count_;
}

}  // namespace tessavar
