#pragma once
// The OEM code page of archive names is CP437; the ANSI code page is UTF-8.
#include <string>
#include <string_view>

namespace tessavar::platform {

// Every byte maps to one character: 0x00-0x7F stay ASCII, 0x80-0xFF take the
// CP437 glyphs. So OemToUtf8 followed by Utf8ToOem gives back every byte.
std::string OemToUtf8(std::string_view oem);
// Characters that CP437 cannot hold, and invalid UTF-8 bytes, become "_".
std::string Utf8ToOem(std::string_view utf8);
// True when every character of `utf8` has a CP437 byte.
bool OemCanHold(std::string_view utf8);
bool IsValidUtf8(std::string_view text);
// Appends one character as UTF-8.
void AppendUtf8(std::string& out, char32_t c);
bool IsAscii(std::string_view text);

}  // namespace tessavar::platform
