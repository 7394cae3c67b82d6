#pragma once
// The system temporary folder and uniquely named temporary files.
#include <string>

namespace tessavar::platform {

// $TMPDIR when it names an existing folder, else "/tmp/"; always with a trailing "/".
std::string SystemTempDir();

// Creates a new empty file "<folder>ztvXXXXXX" (mkstemp) and returns its
// path, or "" when it cannot. `folder` "" means SystemTempDir().
std::string CreateTempFile(const std::string& folder, const std::string& prefix = "ztv");

}  // namespace tessavar::platform
