#include <gtest/gtest.h>

#include <set>

#include "platform/CodePage.h"

namespace tessavar::platform {
namespace {

TEST(CodePage, EveryByteRoundTrips) {
  std::string all;
  std::set<std::string> glyphs;
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const std::string utf8 = OemToUtf8(byte);
    SCOPED_TRACE(b);
    EXPECT_TRUE(IsValidUtf8(utf8));
    EXPECT_TRUE(OemCanHold(utf8));
    EXPECT_EQ(Utf8ToOem(utf8), byte);
    EXPECT_EQ(utf8.size() == 1, b < 0x80);  // ASCII stays ASCII, the rest leaves it
    glyphs.insert(utf8);
    all += byte;
  }
  EXPECT_EQ(glyphs.size(), 256u);  // no two bytes share a character
  EXPECT_EQ(Utf8ToOem(OemToUtf8(all)), all);
}

TEST(CodePage, KnownGlyphs) {
  struct Case {
    unsigned char oem;
    const char* utf8;
  } cases[] = {
      {0x41, "A"},          {0x80, "\u00C7"},  // Ç
      {0x81, "\u00FC"},     {0x8E, "\u00C4"},   // ü Ä
      {0x9B, "\u00A2"},     {0x9E, "\u20A7"},   // ¢ ₧
      {0xA8, "\u00BF"},     {0xB0, "\u2591"},   // ¿ ░
      {0xC5, "\u253C"},     {0xDB, "\u2588"},   // ┼ █
      {0xE1, "\u00DF"},     {0xE6, "\u00B5"},   // ß µ
      {0xF9, "\u2219"},     {0xFA, "\u00B7"},   // ∙ ·
      {0xFE, "\u25A0"},     {0xFF, "\u00A0"},   // ■ no-break space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.oem));
    EXPECT_EQ(OemToUtf8(std::string(1, static_cast<char>(c.oem))), c.utf8);
  }
  EXPECT_EQ(OemToUtf8("M\x81nchen/Stra\xE1" "e.txt"), "M\u00FCnchen/Stra\u00DFe.txt");
}

TEST(CodePage, WhatCp437CannotHoldBecomesUnderscore) {
  struct Case {
    std::string utf8;
    std::string oem;
  } cases[] = {
      {"plain.txt", "plain.txt"},
      {"\u00FCber \u20AC5", "\x81" "ber _5"},  // the euro sign has no CP437 byte
      {"\u65E5\u672C.txt", "__.txt"},            // one "_" per character, not per byte
      {"\U0001F600", "_"},
      {"a\xFF" "b", "a_b"},                       // not UTF-8 at all
      {"\xC3(", "_("},                            // cut sequence: the next byte survives
      {"x\xE2\x82", "x_"},                        // truncated at the end
      {"\xC0\xAF", "__"},                         // overlong "/" must not become "/"
      {"\xED\xA0\x80", "___"},                    // a surrogate
      {"\u263A", "_"},                            // CP437's glyphs for control bytes are not used
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8ToOem(c.utf8), c.oem);
  }
  EXPECT_TRUE(OemCanHold("\u00C7a va \u00B1 \u2592"));
  EXPECT_FALSE(OemCanHold("\u20AC"));
  EXPECT_FALSE(OemCanHold("a\xFF"));
}

TEST(CodePage, Utf8Validation) {
  struct Case {
    std::string text;
    bool valid;
  } cases[] = {
      {"", true},
      {"ascii", true},
      {"\u00E9\u20AC\U0001F600", true},
      {"\xED\x9F\xBF", true},          // U+D7FF, just below the surrogates
      {"\xEE\x80\x80", true},          // U+E000, just above
      {"\xF4\x8F\xBF\xBF", true},      // U+10FFFF
      {"\x80", false},                 // lone continuation
      {"\xC2", false},                 // truncated
      {"\xE2\x82", false},
      {"\xC0\x80", false},             // overlong NUL
      {"\xC1\xBF", false},
      {"\xE0\x9F\xBF", false},         // overlong three-byte
      {"\xF0\x8F\xBF\xBF", false},     // overlong four-byte
      {"\xED\xA0\x80", false},         // U+D800
      {"\xED\xBF\xBF", false},         // U+DFFF
      {"\xF4\x90\x80\x80", false},     // U+110000
      {"\xF5\x80\x80\x80", false},
      {"\xFF", false},
      {"ok\xC3\xA9\xC3", false},       // valid, then cut
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(IsValidUtf8(c.text), c.valid);
  }
  EXPECT_TRUE(IsAscii("abc~\x7F"));
  EXPECT_FALSE(IsAscii("ab\x80"));
  EXPECT_TRUE(IsAscii(""));
}

}  // namespace
}  // namespace tessavar::platform
