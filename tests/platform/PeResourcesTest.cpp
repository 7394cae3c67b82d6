#include <gtest/gtest.h>

#include <cstring>

#include "PeBuilder.h"
#include "platform/PeResources.h"

namespace tessavar::platform {
namespace {

PeStringTable Over(const std::vector<uint8_t>& img) {
  return PeStringTable(
      [&img](int64_t pos, void* buf, int64_t n) -> int64_t {
        if (pos < 0 || pos >= static_cast<int64_t>(img.size())) return 0;
        int64_t k = std::min<int64_t>(n, static_cast<int64_t>(img.size()) - pos);
        std::memcpy(buf, img.data() + pos, static_cast<size_t>(k));
        return k;
      },
      static_cast<int64_t>(img.size()));
}

TEST(PeResources, ReadsStringsOfBothImageKinds) {
  for (bool plus : {false, true}) {
    auto img = test::BuildPeWithStrings({{1, "4096"}, {2, "123456789"}, {7, "x"}}, 0, plus);
    PeStringTable t = Over(img);
    ASSERT_TRUE(t.Loaded()) << plus;
    EXPECT_EQ(t.String(1).value_or("?"), "4096");
    EXPECT_EQ(t.String(2, 5).value_or("?"), "12345");
    EXPECT_EQ(t.String(7).value_or("?"), "x");
    EXPECT_FALSE(t.String(3).has_value());   // empty in its block
    EXPECT_FALSE(t.String(20).has_value());  // a block that does not exist
  }
}

TEST(PeResources, MalformedImagesHaveNoResources) {
  auto img = test::BuildPeWithStrings({{1, "4096"}});
  // Every truncation and a flip of every header byte: never a crash, and
  // a string only when it can be read whole.
  for (size_t n = 0; n < img.size(); ++n) {
    std::vector<uint8_t> cut(img.begin(), img.begin() + static_cast<long>(n));
    PeStringTable t = Over(cut);
    auto s = t.String(1);
    if (s) {
      EXPECT_EQ(*s, "4096");
    }
  }
  for (size_t i = 0; i < img.size(); ++i) {
    std::vector<uint8_t> bad = img;
    bad[i] ^= 0xFF;
    PeStringTable t = Over(bad);
    (void)t.String(1);
  }
  std::vector<uint8_t> notPe(300, 0);
  notPe[0] = 'M';
  notPe[1] = 'Z';
  EXPECT_FALSE(Over(notPe).Loaded());
}

}  // namespace
}  // namespace tessavar::platform
