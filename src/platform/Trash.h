#pragma once
// The freedesktop.org trash: $XDG_DATA_HOME/Trash (default ~/.local/share/Trash)
// with files/ and info/<name>.trashinfo.
#include <string>

namespace tessavar::platform {

// Moves a file or folder into the trash; false (and nothing changed) when it
// cannot. Falls back to a copy and delete when the trash is on another file
// system.
bool MoveToTrash(const std::string& path);
// The trash folder in use (with trailing "/").
std::string TrashDir();

}  // namespace tessavar::platform
