#pragma once
// The program's version as the about window shows it.
namespace tessavar::app {
const char* ProductVersion();
const char* FileVersion();
}  // namespace tessavar::app
