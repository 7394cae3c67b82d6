#include "platform/CodePage.h"

#include <array>
#include <cstdint>

namespace tessavar::platform {
namespace {

// The Unicode characters of CP437 bytes 0x80-0xFF.
constexpr std::array<char16_t, 128> kHigh = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // B0
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // C8
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // D0
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // D8
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // E0
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // E8
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // F0
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // F8
};

constexpr char32_t kInvalid = 0xFFFFFFFF;


// Decodes one character at `i` and advances past it. On a malformed
// sequence returns kInvalid and advances past the longest prefix that could
// have started a valid one, so the byte that broke it is read afresh.
char32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i++]);
  if (b0 < 0x80) return b0;
  int extra;
  char32_t c;
  uint8_t lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    extra = 1;
    c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    extra = 2;
    c = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;  // overlong
    if (b0 == 0xED) hi = 0x9F;  // surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    extra = 3;
    c = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;  // overlong
    if (b0 == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    return kInvalid;  // continuation byte, C0/C1 overlong lead, F5-FF
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= s.size()) return kInvalid;
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < (k == 0 ? lo : 0x80) || b > (k == 0 ? hi : 0xBF)) return kInvalid;
    c = (c << 6) | (b & 0x3F);
    ++i;
  }
  return c;
}

// The CP437 byte of a character, or -1 when it has none.
int OemByteOf(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  for (size_t k = 0; k < kHigh.size(); ++k) {
    if (kHigh[k] == c) return static_cast<int>(0x80 + k);
  }
  return -1;
}

}  // namespace

std::string OemToUtf8(std::string_view oem) {
  std::string out;
  out.reserve(oem.size() + oem.size() / 2);
  for (char ch : oem) {
    const auto b = static_cast<uint8_t>(ch);
    AppendUtf8(out, b < 0x80 ? char32_t{b} : char32_t{kHigh[b - 0x80]});
  }
  return out;
}

std::string Utf8ToOem(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const char32_t c = DecodeUtf8(utf8, i);
    const int b = c == kInvalid ? -1 : OemByteOf(c);
    out += b < 0 ? '_' : static_cast<char>(b);
  }
  return out;
}

bool OemCanHold(std::string_view utf8) {
  for (size_t i = 0; i < utf8.size();) {
    const char32_t c = DecodeUtf8(utf8, i);
    if (c == kInvalid || OemByteOf(c) < 0) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (DecodeUtf8(text, i) == kInvalid) return false;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (char ch : text) {
    if (static_cast<uint8_t>(ch) >= 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace tessavar::platform
