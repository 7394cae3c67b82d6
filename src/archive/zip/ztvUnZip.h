#pragma once
// TUnZip extracts and tests ZIP archives: it lists the selected entries from
// the central directory (or, without one, from the local headers) and runs
// each through the entry protocol with the decoder of its method. TUnJar is
// the same component for JAR archives.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/zip/ztvUnBase.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

class TDiskSpannObj;
class TInflateAhead;
struct TWholeEntry;

struct TUnBaseHeaderObj {
  uint32_t ExternalAttributes = 0;
  uint16_t Volume = 0;
  int64_t LocalPosition = 0;
  bool HaveCentral = false;
  TCentralFileHeader Central;
  TSizeHighWords CentralHigh;
};

class TUnZip : public TUnBase {
 public:
  explicit TUnZip(TComponent* owner = nullptr);
  ~TUnZip() override;

 protected:
  void DoExtract(std::unique_ptr<TStream32>& Archive) override;

 private:
  int CentralWalk(TStream32& archive);
  int LocalWalk(TStream32& archive);
  void ExtractListed(std::unique_ptr<TStream32>& archive, bool central);
  void StartInflateAhead(bool central);
  void ProcessEntry(std::unique_ptr<TStream32>& archive, const TUnBaseHeaderObj& item, const TLocalFileHeader& local,
                    const TSizeHighWords& localHigh, uint16_t lastExtraTag, bool central);
  bool PasswordCheck(TStream32& archive, uint16_t lastExtraTag, const TLocalFileHeader& local, uint32_t crc);
  bool Decode(std::unique_ptr<TStream32>& archive, TStream32* out, uint16_t generalPurpose, uint16_t method,
              int64_t compressed, int64_t uncompressed);
  // `createdHere`: the file was made by this run with the usual mode.
  void RestoreAttributes(TFileStream32& file, bool createdHere, uint32_t attributes, uint16_t versionMadeBy);
  bool JarType() const { return arcType_ == atJar || arcType_ == atJarExe; }
  // Ends the current entry with a false verdict.
  void FailEntry(uint32_t storedCrc, bool uncount, int64_t uncompressed);

  std::vector<TUnBaseHeaderObj> list_;
  std::unique_ptr<TDiskSpannObj> diskSpann_;
  std::unique_ptr<TWholeEntry> scratch_;       // buffers of in-memory inflation, reused
  std::unique_ptr<TInflateAhead> ahead_;       // inflates the coming entries on another core
  size_t entryIndex_ = 0;                      // the entry of list_ being processed
  int64_t totalUnpacked_ = 0;
  int openVolume_ = 0;
  int64_t dataPos_ = 0;  // where the current entry's stored bytes begin
  // Central records and the local headers they point at are read from two
  // windows, so checking one against the other does not thrash either.
  TReadCache hdr_;
  TReadCache localHdr_{64 * 1024};
  TReadCache aheadHdr_{4096};
  std::string checkedFolder_;
  bool checkedFolderInside_ = false;
};

class TUnJar : public TUnZip {
 public:
  using TUnZip::TUnZip;
};

}  // namespace tessavar
