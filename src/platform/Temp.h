#pragma once
// The system temporary folder and uniquely named temporary files.
#include <string>

#include "platform/File.h"

namespace tessavar::platform {

// $TMPDIR when it names an existing folder, else "/tmp/"; always with a trailing "/".
std::string SystemTempDir();

// Creates a new empty file "<folder>ztvXXXXXX" (mkstemp) and returns its
// path, or "" when it cannot. `folder` "" means SystemTempDir().
std::string CreateTempFile(const std::string& folder, const std::string& prefix = "ztv");
// The same, keeping the file open: its handle, and its path in `path`
// (kInvalidHandle and "" when it cannot).
FileHandle CreateTempFileOpen(const std::string& folder, const std::string& prefix, std::string& path);

}  // namespace tessavar::platform
