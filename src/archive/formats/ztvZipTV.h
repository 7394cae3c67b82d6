#pragma once
// TZipTV: lists the entries of an archive without extracting anything. One
// read walks the headers from first to last and reports every selected entry
// through OnRead, with the current-entry record filled while it runs.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

class TDiskSpannObj;

using TOnReadFile = std::function<void(TObject* Sender, const std::string& FileName)>;
using TOnTotals = std::function<void(TObject* Sender, int64_t UnpackSize, int64_t PackSize, int Ratio, int NumFiles)>;

// Ratio rule: the percentage saved, 0 unless U > 0 and U > P.
uint8_t EntryRatioOf(int64_t unpacked, int64_t packed);
// DOS date rule: 0 reads as 1980-01-01 00:01, an invalid value gives the same.
double DosDateRule(uint32_t dosDateTime);

// What the method-name rule looks at besides the type and the method code.
struct TMethodContext {
  int flags = 0;            // ZIP general-purpose flags, BH flags or the CAB folder type
  bool directory = false;   // ZIP, RAR: the entry has the directory attribute
  int aesMethod = -1;       // ZIP method 99: the real method from the AES field
  int arcMethodByte = -1;   // ARC: the header's method byte
  int arjFileType = -1;     // ARJ: the header's file type
  uint8_t gzipMagic[2] = {0, 0};
  std::string name;         // TAR: the entry's name
};
std::string MethodNameOf(TArcType type, int method, const TMethodContext& ctx);

class TZipTV : public TZipCommon {
 public:
  explicit TZipTV(TComponent* owner = nullptr);
  ~TZipTV() override;

  bool ShowEmptyDirs() const { return showEmptyDirs_; }
  void SetShowEmptyDirs(bool v) { showEmptyDirs_ = v; }
  bool Busy() const { return busy_; }

  TOnReadFile OnReadFile;
  TNotifyEvent OnReadBegin;
  TNotifyEvent OnReadEnd;
  TOnTotals OnTotals;

  // Runs one read. False when a read is already running or a raised error
  // ended it; true otherwise, also when the archive could not be opened.
  bool Activate();

  // Converts from the OEM code page (TranslateOemChar) and stores the name
  // with "/" as the only separator.
  void SetFileName(const std::string& Name) override;

  // The current-entry record, valid from OnReadBegin to OnReadEnd.
  double FileDateTime = 29221.0 + 1.0 / 1440.0;
  int64_t UnpackedSize = 0;
  int64_t PackedSize = 0;
  uint8_t EntryRatio = 0;
  uint32_t FileCRC = 0;
  bool Encrypted = false;
  std::string MethodName;
  uint16_t MethodId = 0;
  uint32_t ExternalAttr = 0;
  uint16_t InternalAttr = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  std::string EntryComment;
  uint32_t FileDosDateTime = 0;  // the packed value FileDateTime came from
  // Totals of the read.
  int FileCount = 0;
  int64_t TotalUnpacked = 0;
  int64_t TotalPacked = 0;
  uint8_t TotalRatio = 0;

  // The volume name of the current entry (ArchiveFile unless a multi-volume set says otherwise).
  const std::string& EntryVolumeName() const { return volumeName_; }
  int64_t HeaderOffset() const { return headerOffset_; }


 protected:
  void ResetRecord();
  // Reads at an absolute position through the read cache; returns bytes read.
  int64_t ReadAt(int64_t pos, void* buffer, int64_t count);
  // Fill-and-emit: process messages, then report unless cancelled.
  void Emit(int offset, const std::function<void()>& fill);

  // Format walks: a preparation sets headerLength_ and headerOffset_, a step
  // processes the header just read into headerBuffer_.
  void PrepareZip();
  void ZipCentralStep();
  void ZipLocalStep();
  // The name (deciphered when the headers are) and the extra field that
  // follow a fixed header part; advances past the name only.
  void ReadNameAndExtra(uint16_t nameLength, uint16_t extraLength, std::string& stored, std::vector<uint8_t>& extra);

  std::unique_ptr<TStream32> archive_;
  std::vector<uint8_t> headerBuffer_;
  int64_t headerLength_ = 0;
  int64_t headerOffset_ = 0;
  bool headersEncrypted_ = false;
  bool localMode_ = false;
  bool showEmptyDirs_ = false;
  bool busy_ = false;
  std::unique_ptr<TDiskSpannObj> diskSpann_;

 protected:
  // A read-ahead window over the archive: one read fetches many headers.
  TReadCache cache_;
};

}  // namespace tessavar
