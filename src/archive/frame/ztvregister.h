#pragma once
// The root of every archive component: the archive file, its detected type
// and the one operation through which errors reach the application.
#include <cstdint>
#include <string>

#include "archive/frame/ztvComponent.h"
#include "archive/frame/ztvTypes.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/File.h"

namespace tessavar {

class TRegisterZipTV : public TComponent {
 public:
  explicit TRegisterZipTV(TComponent* owner = nullptr);
  ~TRegisterZipTV() override = default;

  // Published.
  std::string ArchiveFile() const { return GetArchiveFile(); }
  // The name last given to SetArchiveFile, also when no such file exists
  // (ArchiveFile is "" then), so a "File not found" can name it.
  const std::string& RequestedArchiveFile() const { return requestedArchive_; }
  void SetArchiveFileName(const std::string& value) { SetArchiveFile(value); }
  TArcType ArcType() const { return arcType_; }
  bool EncryptHeaders() const { return encryptHeaders_; }
  void SetEncryptHeaders(bool value) { encryptHeaders_ = value; }
  int ZipCmntBufSize() const { return zipCmntBufSize_; }
  void SetZipCmntBufSize(int value);

  TOnDiskError OnDiskInDrvErr;
  TOnDiskError OnDiskWriteProtectErr;
  TOnError OnError;

  // Virtual slots, in order.
  virtual std::string GetArchiveFile() const { return archiveFile_; }
  virtual void SetArchiveFile(const std::string& value);
  virtual void SetArcType(TArcType value);
  virtual void ReportError(const std::string& FileName, const std::string& ExtendedMsg,
                           const std::string& VolumeID, int ECode);

  // Results of detection.
  int64_t ArchiveSize() const { return archiveSize_; }
  // A spanned set is read one disk at a time under one name; each disk's
  // file has its own size.
  void SetArchiveSize(int64_t value) { archiveSize_ = value; }
  int64_t StartOffset() const { return startOffset_; }
  uint32_t ArchiveDate() const { return archiveDate_; }
  int VolumeNum() const { return volumeNum_; }
  char VolumeLetter() const { return volumeLetter_; }

  // Classifies an open file by its content and fills the detection results.
  // Never throws.
  virtual TArcType DetectType(platform::FileHandle file);
  TArcType DetectType(TByteSource& source);

  // The pieces of detection, usable on their own.
  struct TSignatureMatch {
    TArcType type = atNA;   // atNA: nothing matched
    int64_t startOffset = -1;  // set by the rows that name one
  };
  TSignatureMatch MatchArchiveSignature(TByteSource& source, bool InExe, const uint8_t FourBytes[4]);
  struct TScanResult {
    TArcType type = atNA;
    int64_t offset = -1;
  };
  TScanResult ScanForArchive(TByteSource& source, int64_t From);
  TScanResult CheckFixedExeOffsets(TByteSource& source);
  TArcType CheckTextEncodings(const uint8_t* buffer, size_t length);
  TArcType CheckTar(TByteSource& source);
  TArcType CheckSpannedLabel();

  // Results of the ZIP end-record search.
  const TZipSearchState& ZipState() const { return zip_; }
  TZipSearchState& ZipState() { return zip_; }
  THeaderTypeState FoundHeaders() const { return zip_.FoundHeaders; }
  int64_t OffsetBias() const { return zip_.OffsetBias; }
  // Runs the end-record search over the source with this component's state.
  int64_t FindEndOfCentralDir(TByteSource& source);

 protected:
  // Derives the volume number and letter from the archive's name.
  virtual void SetVolumeNumbering();

  std::string archiveFile_;

  std::string requestedArchive_;
  TArcType arcType_ = atNA;
  int64_t archiveSize_ = 0;
  int64_t startOffset_ = -1;
  uint32_t archiveDate_ = 0;
  int volumeNum_ = 0;
  char volumeLetter_ = 0;
  TZipSearchState zip_;

 private:
  bool encryptHeaders_ = false;
  int zipCmntBufSize_ = 0;
};

}  // namespace tessavar
