#pragma once
// The frame of every extractor: Extract and Test, and the protocol each
// entry follows (begin, overwrite decision, output, date and attributes, CRC
// verdict with OnEnd).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvStream.h"

namespace tessavar {

using TUnBase_OnFileExists = std::function<void(TObject* Sender, const std::string& FileName,
                                                std::string& NewFileName, TOverwriteMode& OverwriteMode)>;

class TCustomDClass : public TZipCommon {
 public:
  explicit TCustomDClass(TComponent* owner = nullptr);
  ~TCustomDClass() override;

  // The number of entries extracted or tested.
  int Extract();
  int Test();

  TCpuType CpuType() const { return cpuType_; }
  void SetCpuType(TCpuType v) { cpuType_ = v; }
  bool CreateStoredDirs() const { return createStoredDirs_; }
  void SetCreateStoredDirs(bool v) { createStoredDirs_ = v; }
  bool RestoreFileAttr() const { return restoreFileAttr_; }
  void SetRestoreFileAttr(bool v) { restoreFileAttr_ = v; }

  TUnBase_OnFileExists OnFileExists;

 protected:
  virtual void DoExtract(std::unique_ptr<TStream32>& Archive) = 0;
  virtual bool CheckCRC(int CheckKind, uint32_t StoredCrc);
  virtual bool CheckPassword(const uint8_t* /*Header12*/) { return false; }

  // Entry begin: OnRenameFile, OnBegin, the overwrite decision. The output
  // path is fileName_ (extract mode); storedName_ is the stored name.
  bool EntryBegin(bool isDirectory);
  // The name OnBegin, OnEnd and the reports carry.
  const std::string& ShownName() const { return processMode_ == 6 ? storedName_ : fileName_; }
  // A destination that stays inside ExtractDir even through links: the
  // folder of `path` resolves below the resolved ExtractDir.
  bool InsideExtractDir(const std::string& path) const;

  std::string storedName_;
  bool skip_ = false;
  // Set when the current entry could not be decoded at all; its verdict is false.
  bool entryFailed_ = false;

 private:
  int Run(int mode);
  TCpuType cpuType_ = cptAuto;
  bool createStoredDirs_ = false;
  bool restoreFileAttr_ = true;
};

class TUnBase : public TCustomDClass {
 public:
  using TCustomDClass::TCustomDClass;
};

}  // namespace tessavar
