#include "app/AppVersion.h"

namespace tessavar::app {
const char* ProductVersion() { return "1.0"; }
const char* FileVersion() { return "1.0.0.2472"; }
}  // namespace tessavar::app
