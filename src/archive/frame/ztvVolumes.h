#pragma once
// Decoding of the Unicode form of RAR file names. The volume naming and
// requests themselves are operations of TZipCommon (ztvBase.h).
#include <cstddef>
#include <cstdint>
#include <string>

namespace tessavar {

// NameField holds the OEM name, a zero byte, then the encoded form; the
// result is UTF-8. Never reads past NameSize bytes.
std::string DecodeRarName(const uint8_t* NameField, size_t NameSize);

}  // namespace tessavar
