#pragma once
// TZipCommon: the frame every archive component shares. File selection,
// passwords and keys, folders, overwrite and date options, the common events,
// the cancel flag, progress, the run protocol and output paths.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/frame/ztvComponent.h"
#include "archive/frame/ztvStream.h"
#include "archive/frame/ztvErrors.h"
#include "archive/frame/ztvregister.h"
#include "archive/frame/ztvTypes.h"

namespace tessavar {

// Percent(total, part): part * 100 / total rounded to the nearest integer,
// halves to the even neighbour, kept within 0..100; 0 when total <= 0.
uint8_t Percent(int64_t total, int64_t part);

class TZipCommon : public TRegisterZipTV {
 public:
  explicit TZipCommon(TComponent* owner = nullptr);
  ~TZipCommon() override;

  // ---- Published properties ----
  const TStrings& FileSpec() const { return fileSpec_; }
  void SetFileSpec(const TStrings& value) { fileSpec_ = value; }
  const TStrings& ExcludeSpec() const { return excludeSpec_; }
  void SetExcludeSpec(const TStrings& value) { excludeSpec_ = value; }
  bool RecurseDirs() const { return recurseDirs_; }
  void SetRecurseDirs(bool value) { recurseDirs_ = value; }
  bool IncludeHiddenDirs() const { return includeHiddenDirs_; }
  void SetIncludeHiddenDirs(bool value) { includeHiddenDirs_ = value; }
  TztvFileAttributes Attributes() const { return attributes_; }
  void SetAttributes(TztvFileAttributes value) { attributes_ = value; }
  TztvFileAttributes AttributesEx() const { return attributesEx_; }
  void SetAttributesEx(TztvFileAttributes value) { attributesEx_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  const TStrings& Passwords() const { return passwords_; }
  void SetPasswords(const TStrings& value) { passwords_ = value; }
  int PasswordAttempts() const { return passwordAttempts_; }
  void SetPasswordAttempts(int value) { passwordAttempts_ = value; }
  TEncryptionMethod EncryptionMethod() const { return encryptionMethod_; }
  void SetEncryptionMethod(TEncryptionMethod value) { encryptionMethod_ = value; }
  TSeedKeys& SeedDataKeys() { return *seedDataKeys_; }
  TSeedKeys& SeedHeaderKeys() { return *seedHeaderKeys_; }
  // Reading replaces a stored folder that does not exist (or none) by the
  // system's temporary folder.
  std::string TempDir();
  void SetTempDir(const std::string& value);
  const std::string& ExtractDir() const { return extractDir_; }
  void SetExtractDir(const std::string& value);
  bool UseStoredDirs() const { return useStoredDirs_; }
  void SetUseStoredDirs(bool value) { useStoredDirs_ = value; }
  TStoredDirNames StoredDirNames() const { return storedDirNames_; }
  void SetStoredDirNames(TStoredDirNames value) { storedDirNames_ = value; }
  TOverwriteMode OverwriteMode() const { return overwriteMode_; }
  void SetOverwriteMode(TOverwriteMode value) { overwriteMode_ = value; }
  bool ConfirmOverwrites() const { return confirmOverwrites_; }
  void SetConfirmOverwrites(bool value) { confirmOverwrites_ = value; }
  TDateAttribute DateAttribute() const { return dateAttribute_; }
  void SetDateAttribute(TDateAttribute value) { dateAttribute_ = value; }
  TDeleteOptions DeleteOptions() const { return deleteOptions_; }
  void SetDeleteOptions(TDeleteOptions value) { deleteOptions_ = value; }
  TCompressionMethod CompressionMethod() const { return compressionMethod_; }
  void SetCompressionMethod(TCompressionMethod value) { compressionMethod_ = value; }
  bool AsciiTranslation() const { return asciiTranslation_; }
  void SetAsciiTranslation(bool value) { asciiTranslation_ = value; }
  bool TranslateOemChar() const { return translateOemChar_; }
  void SetTranslateOemChar(bool value) { translateOemChar_ = value; }

  // ---- Events ----
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TOnBegin OnBegin;
  TOnEnd OnEnd;
  TOnProgress OnProgress;
  TOnElapsedTime OnElapsedTime;
  TOnGetPassword OnGetPassword;
  TOnExcludeFile OnExcludeFile;
  TOnDeleteFile OnDeleteFile;
  TOnRenameFile OnRenameFile;
  TOnNextVolume OnNextVolume;
  TOnInsertDisk OnInsertDisk;
  TOnGetZipFirstDisk OnGetZipFirstDisk;
  TOnGetZipNextDisk OnGetZipNextDisk;
  TOnGetZipLastDisk OnGetZipLastDisk;
  TOnCorruptZipHeader OnCorruptZipHeader;
  TOnNestedTarFile OnNestedTarFile;
  TOnRead OnRead;
  TOnProgress OnTmpFileProgress;
  TTempFileMoveBegin OnTmpFileMoveBegin;
  TNotifyEvent OnTmpFileMoveEnd;

  // ---- Error delivery and cancelling ----
  void ReportError(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                   int ECode) override;
  // Delivers the error and ends the operation with an E_RAISE carrying the
  // code's text, unless the run was cancelled (then it returns normally).
  void RaiseFatal(const std::string& FileName, const std::string& ExtendedMsg, const std::string& VolumeID,
                  int ECode);
  bool Cancelled() const { return *cancelFlag_; }
  void SetCancelled(bool value);
  // The flag scanners and streams test; it may be pointed at another owner's flag.
  bool* CancelFlag() { return cancelFlag_; }
  void SetCancelFlag(bool* flag) { cancelFlag_ = flag ? flag : &cancelled_; }

  // ---- Progress ----
  void ReportProgress(int64_t ArchiveTotal, int64_t FileTotal, int64_t FilePosition);
  uint8_t LastByFile() const { return byFile_; }
  uint8_t LastByArchive() const { return byArchive_; }
  // The total the archive percentage of ReportProgress is measured against.
  int64_t ArchiveTotal() const { return archiveTotal_; }
  int64_t BytesRemaining() const { return bytesRemaining_; }
  void SetBytesRemaining(int64_t value) { bytesRemaining_ = value; }
  int64_t* Remaining() { return &bytesRemaining_; }

  // ---- Dates, exclusion, names ----
  uint32_t FileDateFor(uint32_t FileDate);
  double DosDateToDateTime(uint32_t DosDateTime) const;
  bool IsExcluded(const std::string& FolderPath, const std::string& FileName, uint32_t Attributes) const;
  // Entry selection of the readers: the simple rule (FileSpec masks, then
  // ExcludeSpec) and the directory rule (with RecurseDirs and folder parts).
  bool SimpleSelect(const std::string& name);
  bool DirectorySelect(const std::string& name);
  std::string GetFileTypeName(const std::string& Name) const;
  // The current entry; the base turns a stored name into its output path.
  const std::string& FileName() const { return fileName_; }
  virtual void SetFileName(const std::string& Name);
  // True when the last SetFileName refused a stored name that would leave
  // ExtractDir (a ".." part); FileName is then empty.
  bool FileNameRefused() const { return fileNameRefused_; }

  // ---- Reading and writing entry data ----
  // Reads up to Count bytes (a read error counts as none), deciphers them
  // with the data keys when Decrypt is set for the ZIP-like types, and adds
  // them to the check value of CheckKind (16: CRC-16, 32: CRC-32).
  int64_t ReadBlock(TStream32& Stream, uint8_t* Buffer, bool Decrypt, int CheckKind, int64_t Count);
  // Enciphers (writers) or deciphers (readers) in place first, then the
  // shared write step: test runs write nothing, AsciiTranslation, disk full
  // ends the operation, a short write reports "Error writing to file".
  int64_t WriteEncoded(TStream32* Stream, uint8_t* Buffer, bool Encrypt, int CheckKind, int64_t Count, int Mode);
  int64_t WriteDecoded(TStream32* Stream, uint8_t* Buffer, bool Decrypt, int CheckKind, int64_t Count, int Mode);
  // Copies a stored entry of `Size` bytes; returns the bytes not copied.
  int64_t CopyStoredData(TStream32& Input, TStream32* Output, int64_t Size, uint16_t GeneralPurpose,
                         int CheckKind);
  // The running check values: preset before an entry, finished after it.
  void ResetCrc() {
    crc32Reg_ = 0xFFFFFFFFu;
    crc16Reg_ = 0;
  }
  uint32_t Crc32Register() const { return crc32Reg_; }
  uint32_t Crc32Value() const { return crc32Reg_ ^ 0xFFFFFFFFu; }
  uint16_t Crc16Value() const { return crc16Reg_; }
  void SetCrc32Register(uint32_t reg) { crc32Reg_ = reg; }
  TSeedKeyValues& DataKeys() { return dataKeys_; }
  TSeedKeyValues& HeaderKeys() { return headerKeys_; }

  // ---- Temporary archives ----
  // Puts a finished temporary archive in place of Destination. With SameDrive
  // (one mounted file system) TempName is renamed over Destination, which is
  // atomic. Otherwise, or when the rename finds another file system after
  // all, the temporary archive is copied next to Destination under a
  // temporary name, with OnTmpFileProgress and the cancel flag watched, and
  // that copy is renamed over Destination. TempName "NoName" means the
  // content is TempStream itself (an archive built in memory). Destination
  // keeps its permission bits. On failure the old archive is left as it was,
  // the error is reported (25160 disk full, else 25136; ExtendedMsg names
  // the temporary archive, which is kept) and the result is false.
  bool MoveTempFile(TStream32* TempStream, const std::string& Destination, bool SameDrive,
                    const std::string& TempName);
  void DoTmpFileMoveBegin(const std::string& Archive, const std::string& TempFileName, bool& Cancel);
  void DoTmpFileMoveEnd();
  // OnTmpFileProgress with the stream's position as the position in the file.
  void DoTmpFileProgress(TStream32* Stream);

  // ---- Volumes ----
  // The volume after Name of the multi-volume types other than split ZIP.
  virtual std::string NextVolumeName(const std::string& Name, int Index);
  // Split ZIP: the name of volume Index + 1 (the archive itself at Last).
  std::string SplitZipVolumeName(int Index, int Last) const;
  // Split ZIP: asks for volume Index + 1 through OnNextVolume and opens it
  // into Stream (the archive itself again when refused).
  bool RequestNextVolume(std::unique_ptr<TStream32>& Stream, int Index, int Last);
  // The other types: names the next volume, asks for it, opens it.
  bool RequestNextVolume(std::unique_ptr<TStream32>& Stream, std::string& VolumeName);
  bool RequestVolume(std::string& VolumeName, int VolumeID);
  int64_t NextHeaderOffset() const { return nextHeaderOffset_; }

  // ---- Run state ----
  int Count() const { return count_; }
  const std::string& VolumeName() const { return volumeName_; }
  int ProcessMode() const { return processMode_; }
  TZipTimer& Timer() { return timer_; }

  // A stored name in the form this platform's paths take: "\" becomes "/",
  // drive prefixes, leading separators, empty and "." parts are dropped.
  // `unsafe` is set when a ".." part would lead out of the destination.
  static std::string CleanStoredName(const std::string& name, bool& unsafe);

 protected:
  // The run of an operation: reset, OnActivate, timer, the work, the timer's
  // OnElapsedTime, OnDeactivate; every exception of the work is caught here.
  // Returns the count of files processed.
  int RunOperation(const std::function<void()>& work, bool restoreArchiveName);
  // Resets the counters, the cancel flag and the volume state of a run.
  virtual void ResetRunState();
  void UpdateCheck(const uint8_t* buffer, int64_t count, int CheckKind);
  int64_t SharedWrite(TStream32* Stream, const uint8_t* Buffer, int CheckKind, int64_t Count, int Mode);

  std::string fileName_;
  std::string volumeName_;
  int count_ = 0;
  int processMode_ = 0;  // 0 extract / write, 6 test
  int64_t bytesRemaining_ = 0;
  int64_t archiveTotal_ = 0;
  int64_t fileTotal_ = 0;
  uint32_t maxFileDate_ = 0;
  int64_t nextHeaderOffset_ = 0;
  uint32_t crc32Reg_ = 0xFFFFFFFFu;
  uint16_t crc16Reg_ = 0;
  bool lastWrittenWasCR_ = false;
  TSeedKeyValues dataKeys_{};
  TSeedKeyValues headerKeys_ = kDefaultHeaderSeed;

 private:
  TStrings fileSpec_;
  TStrings excludeSpec_;
  TStrings passwords_;
  bool recurseDirs_ = false;
  bool includeHiddenDirs_ = false;
  TztvFileAttributes attributes_ = kDefaultScanAttributes;
  TztvFileAttributes attributesEx_{};
  std::string password_;
  int passwordAttempts_ = 3;
  TEncryptionMethod encryptionMethod_ = emNone;
  std::unique_ptr<TSeedKeys> seedDataKeys_;
  std::unique_ptr<TSeedKeys> seedHeaderKeys_;
  std::string tempDir_;
  std::string extractDir_;
  bool useStoredDirs_ = true;
  TStoredDirNames storedDirNames_ = sdRelative;
  TOverwriteMode overwriteMode_ = omOverwrite;
  bool confirmOverwrites_ = false;
  TDateAttribute dateAttribute_ = daFileDate;
  TDeleteOptions deleteOptions_ = doAllowUndo;
  TCompressionMethod compressionMethod_ = cmTempFile;
  bool asciiTranslation_ = false;
  bool translateOemChar_ = true;

  bool cancelled_ = false;
  bool* cancelFlag_ = &cancelled_;
  bool fileNameRefused_ = false;
  uint8_t byFile_ = 0;
  uint8_t byArchive_ = 0;
  TZipTimer timer_;
};

}  // namespace tessavar
