#pragma once
// Builds a small Portable Executable whose only section holds a string
// table, as self-extracting archives carry one: enough for the resource
// reader and the detection of archives behind a stub.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tessavar::test {

// strings: id -> text (ASCII). The image is padded to `minSize` bytes.
std::vector<uint8_t> BuildPeWithStrings(const std::map<uint32_t, std::string>& strings, size_t minSize = 0,
                                        bool pe32Plus = false);

}  // namespace tessavar::test
