#include <gtest/gtest.h>

#include "archive/write/ztvFileScan.h"

namespace tessavar {
namespace {

struct MaskCase {
  const char* mask;
  const char* name;
  bool matches;
};

class MaskMatch : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskMatch, MatchesAsExpected) {
  const auto& c = GetParam();
  EXPECT_EQ(TInternalMask(c.mask).Matches(c.name), c.matches) << "mask '" << c.mask << "' name '" << c.name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskMatch,
    ::testing::Values(
        MaskCase{"*", "", true}, MaskCase{"*", "README", true}, MaskCase{"*", "a.b.c", true},
        // "*.*" needs a period; only the scanner's FileSpec rule rewrites it to "*".
        MaskCase{"*.*", "README", false}, MaskCase{"*.*", "a.txt", true},
        // "*." takes names without an extension.
        MaskCase{"*.", "README", true}, MaskCase{"*.", "README.TXT", false},
        MaskCase{"A?", "A", false}, MaskCase{"A?", "AB", true}, MaskCase{"A?", "ABC", false},
        MaskCase{"*?", "", true}, MaskCase{"*?", "x", true}, MaskCase{"*?x", "ax", true},
        MaskCase{"[ab]*", "[ab]c", true}, MaskCase{"[ab]*", "[AB]", true}, MaskCase{"[ab]*", "abc", false},
        MaskCase{"*.TXT", "x.txt", true}, MaskCase{"*.txt", "X.TXT", true},
        MaskCase{"\xC3\x89*", "\xC3\xA9t\xC3\xA9", false},  // only ASCII letters ignore case
        MaskCase{"a*b*c", "aXXbYYc", true}, MaskCase{"a*b*c", "aXXbYY", false},
        MaskCase{"*ab", "aab", true}, MaskCase{"*ab", "abab", true}, MaskCase{"*ab", "aba", false},
        MaskCase{"x.txt", "x.txt", true}, MaskCase{"x.txt", "x.txt2", false}, MaskCase{"x.txt", "ax.txt", false},
        MaskCase{"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
                 "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
        MaskCase{"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b",
                 "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", true}));

TEST(MaskCompile, StepsFollowTheMask) {
  TInternalMask m("*?a?*");
  // "*?" collapses, "a" carries the star, "?" is an any step, the trailing
  // "*" rides on the end step.
  const auto& s = m.States();
  ASSERT_EQ(s.size(), 3u);
  EXPECT_TRUE(s[0].SkipTo);
  EXPECT_EQ(s[0].kind, TInternalMask::kLiteral);
  EXPECT_EQ(s[0].Literal, 'A');
  EXPECT_FALSE(s[1].SkipTo);
  EXPECT_EQ(s[1].kind, TInternalMask::kAnyChar);
  EXPECT_TRUE(s[2].SkipTo);
  EXPECT_EQ(s[2].Literal, 0);
  EXPECT_FALSE(m.EndsWithDot());
  EXPECT_TRUE(TInternalMask("*.").EndsWithDot());
}

TEST(MultiMasks, AnyMaskMatches) {
  TMultiMasks masks;
  EXPECT_FALSE(masks.Matches("a.txt"));
  masks.Add("*.txt");
  masks.Add("*.doc");
  EXPECT_TRUE(masks.Matches("a.txt"));
  EXPECT_TRUE(masks.Matches("b.DOC"));
  EXPECT_FALSE(masks.Matches("c.pdf"));
}

}  // namespace
}  // namespace tessavar
