#pragma once
// The compressor frame every archive writer stands on. One operation
// (Switch) runs on ArchiveFile: the old archive's entries are read into an
// entry list, the scanner's files are matched against them, and a new
// archive is built in a temporary file that replaces the old one only when
// everything went well. The writer fills in the format: headers, copying
// and the directory.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvDriveCheck.h"
#include "archive/write/ztvDeflate.h"
#include "archive/write/ztvFileScan.h"
#include "archive/write/ztvStreams.h"

namespace tessavar {

// What the frame knows of one entry besides its header record.
struct TCompressFileInfo {
  std::string Str;  // the writer's own use (ZIP: the stored name's bytes as they are in the old archive)
  uint8_t Action = 0;  // 0 compress, 1 copy, 2 drop, 3 copy under a new name
  int64_t Offset = 0;  // local header in the old archive, later in the new one
  uint16_t UncompressedHigh = 0;
  uint16_t CompressedHigh = 0;
  uint8_t EncryptHeaders = 0;
  uint8_t EncryptionMethod = 0;
  std::string Comment;
  std::vector<uint8_t> ExtraField;
};

// The entries of one operation, index by index.
class TCompressHeaderObj {
 public:
  explicit TCompressHeaderObj(int HeadSize) : headSize_(HeadSize) {}
  TStrings Names;
  std::vector<int> RootLengths;
  std::vector<TCompressFileInfo> Infos;
  bool Modified = false;

  int Count() const { return static_cast<int>(Names.size()); }
  int HeadSize() const { return headSize_; }
  uint8_t* Header(int index) { return headers_.data() + static_cast<size_t>(index) * static_cast<size_t>(headSize_); }
  int Add(const std::string& Name, int RootLength, const uint8_t* Header, const TCompressFileInfo& Info);
  void SetName(int index, const std::string& Name);
  // The index of Name (ignoring ASCII case), -1 when none.
  int IndexOf(const std::string& Name) const;
  void Clear();

 private:
  static std::string Key(const std::string& s);
  int headSize_;
  std::vector<uint8_t> headers_;
  std::unordered_multimap<std::string, int> index_;
};

// What the frame compares of an entry and a file.
struct TFileInfoRec {
  int64_t UncompressedSize = 0;
  int64_t CompressedSize = 0;
  uint32_t DosDateTime = 0;
  uint32_t Attributes = 0;
};

using TOnNonWriteableArchive = std::function<void(TObject* Sender, const std::string& FileName, bool& WriteToFile)>;
using TOnReplaceFile = std::function<void(TObject* Sender, const std::string& FileName,
                                          const std::string& NewFileName, double Date, double NewDate,
                                          int64_t FileSize, int64_t NewFileSize, uint32_t Attr, uint32_t NewAttr,
                                          bool& Replace)>;
using TOnRenameDupeFile =
    std::function<void(TObject* Sender, const std::string& FileName, std::string& NewFileName, bool& Rename)>;
using TOnFileScanStatus =
    std::function<void(TObject* Sender, const std::string& FileName, int FilesCount, int64_t FilesSize)>;

// The 26 extensions stored without compression by default.
const TStrings& DefaultStoreFilesOfType();

int DefaultCompressThreads();

class TCustomCClass : public TZipCommon {
 public:
  explicit TCustomCClass(TComponent* owner = nullptr);
  ~TCustomCClass() override;

  // Runs the operation; the number of files compressed (entries deleted
  // with swDelete), 0 when cancelled or failed.
  int Compress();

  // ---- Properties ----
  void SetArchiveFile(const std::string& value) override;
  TSwitch Switch() const { return switch_; }
  void SetSwitch(TSwitch value) { switch_ = value; }
  bool StoreEmptySubDirs() const { return storeEmptySubDirs_; }
  void SetStoreEmptySubDirs(bool value) { storeEmptySubDirs_ = value; }
  const TStrings& StoreFilesOfType() const { return storeFilesOfType_; }
  void SetStoreFilesOfType(const TStrings& value) { storeFilesOfType_ = value; }
  TCompressMethod CompressMethod() const { return compressMethod_; }
  // Only methods the writer supports are taken.
  void SetCompressMethod(TCompressMethod value);
  TDeflateType DeflateType() const { return deflateType_; }
  void SetDeflateType(TDeflateType value) { deflateType_ = value; }
  bool VerifyBeforeDelete() const { return verifyBeforeDelete_; }
  void SetVerifyBeforeDelete(bool value) { verifyBeforeDelete_ = value; }
  std::string DefaultExt() const;
  void SetDefaultExt(const std::string& value);
  const std::string& DefaultDir() const { return defaultDir_; }
  void SetDefaultDir(const std::string& value) { defaultDir_ = value; }
  // Workers that prepare the next entries while one is written (by default
  // one per core, at most four); 0 does everything on the caller's thread.
  // The archive and the order of the events are the same either way.
  int CompressThreads() const { return compressThreads_; }
  void SetCompressThreads(int value) { compressThreads_ = value < 0 ? 0 : value; }
  const TDriveInfo& DriveInfo() const { return driveInfo_; }

  // ---- Events ----
  TOnFileScanStatus OnFileScanStatus;
  TOnRecurseDir OnRecurseDir;
  TOnNonWriteableArchive OnNonWriteableArchive;
  TOnReplaceFile OnReplaceFile;
  TOnRenameDupeFile OnRenameDupeFile;

  // ---- Run results ----
  int FilesCompressed() const { return filesCompressed_; }
  int FilesDeleted() const { return filesDeleted_; }
  bool IsNewArchive() const { return isNewArchive_; }

 protected:
  // ---- The writer's operations ----
  virtual void RunCompress(TCompressHeaderObj& List);
  virtual void ReadEntryHook(const std::string&) {}
  virtual void CopyEntryAs(TStream32&, TStream32&, TCompressHeaderObj&, int) {}
  virtual void AddCentralRecord(int, uint32_t, TCompressHeaderObj&) {}
  virtual void PrepareHeader(TCompressFileInfo&) {}
  virtual bool CompressEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List);
  virtual void FinishHeader(int64_t, int64_t) {}
  virtual void StoreHeaderInfo(uint8_t*, const TFileInfoRec&) {}
  virtual void WriteEmptyArchive(TStream32&) {}
  virtual bool CompressFile(TStream32& NewArchive, int Index, TCompressHeaderObj& List);
  virtual void EndEntry() {}
  virtual int GetHeadSize();
  virtual int GetLocalHeadSize() { return 0; }
  virtual uint8_t* GetHeadPtr();
  virtual void WriteExtraField(TStream32&, TCompressFileInfo&) {}
  virtual void ReadDirectory(TStream32&, TCompressHeaderObj&) {}
  virtual void ReportAddedEntries(TCompressHeaderObj&) {}
  virtual bool WriteCentralDirectory(TStream32&, TCompressHeaderObj&) { return true; }
  virtual void UnpackHeader(const uint8_t*, const TCompressFileInfo&, TFileInfoRec&) {}
  // Action 1: the bytes the entry takes in the old archive, from its Offset;
  // the writer also records the entry's place in the new archive.
  virtual int64_t EntryLength(TStream32&, TStream32&, TCompressHeaderObj&, int) { return 0; }
  // swRead: every header of the archive through OnRead.
  virtual void ReadArchive();
  // The bytes of the stored name as they go into the archive.
  virtual std::string ArchiveNameBytes(const std::string& Stored) { return Stored; }
  // Writes the name's header pieces again after the data: called by
  // CompressFile with the header position.
  virtual void RewriteHeader(TStream32& NewArchive, int64_t HeaderPos, const std::string& NameBytes,
                             TCompressFileInfo& Info);

  // ---- Frame helpers for the writers ----
  bool CheckWriteable();
  std::string StoredNameOf(const std::string& FullPath, const std::string& RootDir) const;
  bool IsStoredType(const std::string& StoredName) const;
  void SetSupportedMethods(std::initializer_list<TCompressMethod> methods);
  void SetOwnDefaultExt(const std::string& value);
  void DoEntryProgress(TStream32* Sender);
  // The CRC-32 of the entry being written (the value, not the register).
  uint32_t crcSlot_ = 0xFFFFFFFFu;
  TFileInfoRec currentRec_;
  uint32_t currentAttributes_ = 0;
  bool currentIsDir_ = false;
  bool currentEncrypted_ = false;
  bool currentStored_ = false;
  int64_t currentSize_ = 0;
  std::string storedName_;
  TCompressFileInfo templateInfo_;
  TCompressHeaderObj* list_ = nullptr;
  std::unique_ptr<TStream32> oldArchive_;
  TStream32* newArchive_ = nullptr;
  int64_t oldArchiveSize_ = 0;
  bool cancelledRun_ = false;
  int filesCompressed_ = 0;
  int filesDeleted_ = 0;

 private:
  bool Prepare();
  int Run();
  void ScanAndWrite(TCompressHeaderObj& List);
  bool AcceptScanned(const std::string& Dir, const platform::FindData& F);
  void MatchExisting(const std::string& Folder, const platform::FindData& F, const std::string& Stored);
  void AddNewEntry(const std::string& FullPath, const platform::FindData& F, uint32_t Dos);
  bool AskReplace(int Index, const std::string& FullPath, const platform::FindData& F, uint32_t Dos);
  bool AskRenameDupe(int Index, std::string& NewName);
  void WriteEntries(TStream32& NewArchive, TCompressHeaderObj& List);
  bool BeginEntry(int Index, TCompressHeaderObj& List);
  bool WriteDirEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List);
  bool WriteData(TStream32& NewArchive, TStream32* Source, int Index, const std::string& Path, bool Deflate);
  void QueueAhead(TCompressHeaderObj& List);
  void DeleteMovedFiles(TCompressHeaderObj& List);

  TSwitch switch_ = swAdd;
  bool storeEmptySubDirs_ = false;
  TStrings storeFilesOfType_;
  TCompressMethod compressMethod_ = cmStore;
  uint32_t supportedMethods_ = 0;
  TDeflateType deflateType_ = dtDeflateN;
  bool verifyBeforeDelete_ = false;
  std::string defaultExt_;
  std::string ownDefaultExt_;
  std::string defaultDir_;
  std::string baseDir_;
  int compressThreads_ = DefaultCompressThreads();
  TDriveInfo driveInfo_;

  bool somethingToDo_ = false;
  bool moveSafe_ = false;
  bool isNewArchive_ = true;
  std::string rootDir_;
  std::vector<std::string> movedFiles_;
  std::unique_ptr<TDeflateAhead> ahead_;
};

class TCompBase : public TCustomCClass {
 public:
  using TCustomCClass::TCustomCClass;
};

}  // namespace tessavar
