#pragma once
// TExeInfo: the program's own version information and a few facts about the
// running system. The build embeds the version strings in the executable as
// the ELF section ".tessavar_version"; a file without it leaves every string
// at "Updated at run-time".
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive/frame/ztvComponent.h"

namespace tessavar::app {

inline constexpr const char* kVersionSectionName = ".tessavar_version";
inline constexpr const char* kUpdatedAtRunTime = "Updated at run-time";

// The content of the version section of an ELF file; empty when the file is
// not ELF, has no such section or is damaged. Every offset is checked.
std::vector<uint8_t> ReadVersionSection(const std::string& path);

// The version block: "[path]" lines open a block, "key=value" lines fill it,
// a block of bare lines (the translation) lists values. Query paths are
// those of a version resource: "\" (the fixed values), "\VarFileInfo\Translation"
// and "StringFileInfo\040904E4\ProductVersion".
class TVersionBlock {
 public:
  explicit TVersionBlock(const std::vector<uint8_t>& data);
  std::optional<std::string> Query(const std::string& path) const;
  // The fixed values of the root block, by name ("FileFlags", "FileOS", ...).
  uint32_t Fixed(const std::string& name) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> blocks_;
  std::map<std::string, std::vector<std::string>> lists_;
};

// The pieces of Text between the separators: n separators give n + 1
// pieces, empty ones kept; an empty Text gives none.
std::vector<std::string> Split(const std::string& Text, char Separator);

// The system name table (platform 1: the 9x family, 2: the NT family).
std::string OSNameOf(int platformId, int major, int minor, const std::string& servicePack);

class TExeInfo : public TComponent {
 public:
  // Reads the version information of `programFile` (the running program
  // when empty).
  explicit TExeInfo(TComponent* owner = nullptr, const std::string& programFile = "");

  const std::string& CompanyName() const { return companyName_; }
  void SetCompanyName(const std::string& v) { companyName_ = v; }
  const std::string& FileDescription() const { return fileDescription_; }
  void SetFileDescription(const std::string& v) { fileDescription_ = v; }
  const std::string& FileVersion() const { return fileVersion_; }
  void SetFileVersion(const std::string& v) { fileVersion_ = v; }
  const std::string& InternalName() const { return internalName_; }
  void SetInternalName(const std::string& v) { internalName_ = v; }
  const std::string& LegalCopyright() const { return legalCopyright_; }
  void SetLegalCopyright(const std::string& v) { legalCopyright_ = v; }
  const std::string& LegalTradeMark() const { return legalTradeMark_; }
  void SetLegalTradeMark(const std::string& v) { legalTradeMark_ = v; }
  const std::string& OriginalFileName() const { return originalFileName_; }
  void SetOriginalFileName(const std::string& v) { originalFileName_ = v; }
  const std::string& ProductName() const { return productName_; }
  void SetProductName(const std::string& v) { productName_ = v; }
  const std::string& ProductVersion() const { return productVersion_; }
  void SetProductVersion(const std::string& v) { productVersion_ = v; }
  const std::string& Comments() const { return comments_; }
  void SetComments(const std::string& v) { comments_ = v; }

  std::string ComputerName() const { return computerName_; }
  std::string OSName() const { return GetOSName(); }
  std::string WindowsDir() const { return "/"; }
  std::string SystemDir() const { return "/"; }
  std::string TempDir() const;
  std::string Version() const;

  uint32_t FileFlags() const { return fileFlags_; }
  uint32_t FileOS() const { return fileOS_; }
  uint32_t FileType() const { return fileType_; }
  double FileDate() const { return fileDate_; }
  // The size of the version information read, 0 when there was none.
  size_t VersionInfoSize() const { return infoSize_; }

  virtual uint32_t VersionNumber() const { return 0x01010000u; }
  virtual void ReadVersionInfo();
  virtual std::string GetComputerName() const;
  virtual void SetComputerName(const std::string& name);
  virtual std::string GetOSName() const;

  // Renaming the machine goes through this seam; the default calls
  // sethostname, which needs privileges the program rarely has.
  static std::function<bool(const std::string&)>& HostNameSetter();

 private:
  std::string programFile_;
  std::string companyName_, fileDescription_, fileVersion_, internalName_, legalCopyright_, legalTradeMark_,
      originalFileName_, productName_, productVersion_, comments_;
  std::string computerName_;
  uint32_t fileFlags_ = 0, fileOS_ = 0, fileType_ = 0;
  double fileDate_ = 0;
  size_t infoSize_ = 0;
};

}  // namespace tessavar::app
