#pragma once
// The ZIP writer: the compressor frame with ZIP's local and central
// records, stored and deflated entries, the traditional cipher for data and
// (optionally) headers, zip64 records where 32 bits do not suffice, the end
// record, and archive and entry comments.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/write/ztvCompBase.h"
#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

class TZipBase : public TCompBase {
 public:
  explicit TZipBase(TComponent* owner = nullptr);
  ~TZipBase() override;

  void SetArcType(TArcType value) override;
  int LeaveSpaceOnFirstDisk() const { return leaveSpaceOnFirstDisk_; }
  void SetLeaveSpaceOnFirstDisk(int value) { leaveSpaceOnFirstDisk_ = value; }

  // The archive comment written with the end record. An update keeps the
  // old archive's comment unless it is replaced here.
  std::string ZipComment() const;
  void SetZipComment(const std::string& value);

  // ---- Comment editing ----
  // Reads the archive's directory for editing; the number of entries.
  int LoadComments();
  // The name and comment of entry Index of the loaded directory.
  void GetEntryComment(int Index, std::string& FileName, std::string& Comment);
  void SetEntryComment(int Index, const std::string& Comment);
  bool CommentsModified() const;
  // With Write and a change: writes the directory (or only the end record)
  // again in place. The loaded directory is released in every case.
  void SaveComments(bool Write);

  // ---- The entry OnRead reports after a run (ReportAddedEntries) ----
  int64_t UnpackedSize = 0;
  int64_t PackedSize = 0;
  uint32_t FileCRC = 0;
  bool Encrypted = false;
  uint16_t MethodId = 0;
  std::string MethodName;
  double FileDateTime = 0;
  uint32_t ExternalAttr = 0;
  uint16_t VersionMadeBy = 0;
  uint16_t VersionNeeded = 0;
  uint8_t EntryRatio = 0;

 protected:
  bool CompressEntry(TStream32& NewArchive, int Index, TCompressHeaderObj& List) override;
  void PrepareHeader(TCompressFileInfo& Info) override;
  void WriteExtraField(TStream32& NewArchive, TCompressFileInfo& Info) override;
  void FinishHeader(int64_t Compressed, int64_t Uncompressed) override;
  void AddCentralRecord(int Index, uint32_t Attributes, TCompressHeaderObj& List) override;
  void EndEntry() override;
  void StoreHeaderInfo(uint8_t* Header, const TFileInfoRec& Rec) override;
  void UnpackHeader(const uint8_t* Header, const TCompressFileInfo& Info, TFileInfoRec& Rec) override;
  void ReadDirectory(TStream32& OldArchive, TCompressHeaderObj& List) override;
  int64_t EntryLength(TStream32& OldArchive, TStream32& NewArchive, TCompressHeaderObj& List, int Index) override;
  void CopyEntryAs(TStream32& OldArchive, TStream32& NewArchive, TCompressHeaderObj& List, int Index) override;
  bool WriteCentralDirectory(TStream32& NewArchive, TCompressHeaderObj& List) override;
  void WriteEmptyArchive(TStream32& NewArchive) override;
  void ReportAddedEntries(TCompressHeaderObj& List) override;
  void ReadArchive() override;
  int GetHeadSize() override { return TCentralFileHeader::kSize; }
  int GetLocalHeadSize() override { return TLocalFileHeader::kSize; }
  uint8_t* GetHeadPtr() override;
  std::string ArchiveNameBytes(const std::string& Stored) override;
  void RewriteHeader(TStream32& NewArchive, int64_t HeaderPos, const std::string& NameBytes,
                     TCompressFileInfo& Info) override;

  // Whether an entry is selected by the delete masks.
  bool SelectedForDelete(const std::string& Name);

 private:
  struct LocalEntry {
    TLocalFileHeader Header;
    bool Encrypted = false;
    std::string Name;
    std::vector<uint8_t> Extra;
  };
  bool ReadLocal(TStream32& Archive, int64_t Offset, LocalEntry& Out);
  void ReadCentralRecords(TStream32& OldArchive, TCompressHeaderObj& List, bool ForComments);
  void ReadLocalRecords(TStream32& OldArchive, TCompressHeaderObj& List, int64_t Start);
  void AddOldEntry(TCompressHeaderObj& List, const TCentralFileHeader& Central, const TSizeHighWords& High,
                   const std::string& RawName, const std::vector<uint8_t>& Extra, const std::string& Comment,
                   int64_t Offset, bool EncryptedHeader);
  std::vector<uint8_t> BuildDirectory(TCompressHeaderObj& List, int64_t& Entries);
  std::vector<uint8_t> BuildEnd(int64_t Entries, int64_t DirStart, int64_t DirSize, bool ForceZip64);
  void Fail(int Code);

  TLocalFileHeader local_;
  uint8_t localBytes_[TLocalFileHeader::kSize] = {};
  bool localZip64_ = false;
  bool nameUtf8_ = false;
  std::vector<uint8_t> localExtra_;
  int leaveSpaceOnFirstDisk_ = 0;
  std::string comment_;
  bool commentModified_ = false;
  bool commentSet_ = false;
  int64_t lastCompressed_ = 0;
  int64_t lastUncompressed_ = 0;
  std::string lastNameBytes_;
  // Comment editing state.
  std::unique_ptr<TCompressHeaderObj> commentList_;
  int64_t commentDirStart_ = -1;
  int64_t commentEndStart_ = -1;
  std::string loadedComment_;
};

class TZip : public TZipBase {
 public:
  using TZipBase::TZipBase;
};

}  // namespace tessavar
