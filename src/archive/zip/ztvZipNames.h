#pragma once
// How a stored ZIP name becomes a name of this platform: UTF-8 when the
// archive says so (general-purpose bit 11, a Unicode path field whose CRC
// matches the stored name, or a Unix-made entry whose name is valid UTF-8),
// else the OEM code page; both "/" and "\" separate folders.
#include <cstdint>
#include <string>

#include "archive/zip/ztvZipRecords.h"

namespace tessavar {

inline constexpr uint16_t kZipUtf8Flag = 0x0800;

// `versionMadeBy` is 0 for names from local headers (they carry no host).
std::string ZipNameFromArchive(const std::string& stored, uint16_t generalPurpose, uint16_t versionMadeBy,
                               const TExtraFieldRecords* records, bool translateOem);

}  // namespace tessavar
