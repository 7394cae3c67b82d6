#include "archive/zip/ztvZipNames.h"

#include "platform/CodePage.h"

namespace tessavar {

std::string ZipNameFromArchive(const std::string& stored, uint16_t generalPurpose, uint16_t versionMadeBy,
                               const TExtraFieldRecords* records, bool translateOem) {
  std::string name;
  const bool unixHost = (versionMadeBy >> 8) == 3;
  if (generalPurpose & kZipUtf8Flag) {
    name = stored;
  } else if (records && records->HasUnicodePath && records->UnicodePathVersion == 1 &&
             (Crc32Update(reinterpret_cast<const uint8_t*>(stored.data()), stored.size(), 0xFFFFFFFFu) ^
              0xFFFFFFFFu) == records->UnicodePathCrc) {
    name = records->UnicodePath;
  } else if (unixHost && platform::IsValidUtf8(stored)) {
    name = stored;
  } else {
    name = translateOem ? platform::OemToUtf8(stored) : stored;
  }
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

}  // namespace tessavar
