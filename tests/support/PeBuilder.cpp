#include "PeBuilder.h"

namespace tessavar::test {

namespace {
void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
}  // namespace

std::vector<uint8_t> BuildPeWithStrings(const std::map<uint32_t, std::string>& strings, size_t minSize,
                                        bool pe32Plus) {
  constexpr uint32_t kSectionRva = 0x1000;
  constexpr uint32_t kSectionFile = 0x200;
  // The resource tree: type 6 -> block 1 -> language 0x409 -> data.
  std::vector<uint8_t> rsrc;
  auto dir = [&](size_t at, uint32_t id, uint32_t target) {
    Put16(rsrc, at + 14, 1);  // one id entry
    Put32(rsrc, at + 16, id);
    Put32(rsrc, at + 20, target);
  };
  dir(0, 6, 0x80000000u | 24);
  dir(24, 1, 0x80000000u | 48);
  dir(48, 0x409, 72);
  const uint32_t dataAt = 88;
  std::vector<uint8_t> table;
  for (uint32_t i = 0; i < 16; ++i) {
    auto it = strings.find(i);
    const std::string s = it == strings.end() ? "" : it->second;
    size_t at = table.size();
    Put16(table, at, static_cast<uint32_t>(s.size()));
    for (size_t k = 0; k < s.size(); ++k) Put16(table, at + 2 + 2 * k, static_cast<uint8_t>(s[k]));
  }
  Put32(rsrc, 72, kSectionRva + dataAt);
  Put32(rsrc, 76, static_cast<uint32_t>(table.size()));
  rsrc.resize(dataAt);
  rsrc.insert(rsrc.end(), table.begin(), table.end());

  std::vector<uint8_t> img(kSectionFile, 0);
  img[0] = 'M';
  img[1] = 'Z';
  Put16(img, 2, 0x90);  // bytes on the last page
  Put16(img, 4, 3);     // pages
  Put32(img, 0x3C, 0x40);
  img[0x40] = 'P';
  img[0x41] = 'E';
  const size_t coff = 0x44;
  Put16(img, coff, pe32Plus ? 0x8664 : 0x14C);
  Put16(img, coff + 2, 1);
  const uint32_t optSize = pe32Plus ? 240 : 224;
  Put16(img, coff + 16, optSize);
  const size_t opt = coff + 20;
  Put16(img, opt, pe32Plus ? 0x20B : 0x10B);
  const size_t countAt = opt + (pe32Plus ? 108 : 92);
  const size_t dirsAt = opt + (pe32Plus ? 112 : 96);
  Put32(img, countAt, 16);
  Put32(img, dirsAt + 16, kSectionRva);
  Put32(img, dirsAt + 20, static_cast<uint32_t>(rsrc.size()));
  const size_t sec = opt + optSize;
  const char name[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
  for (int i = 0; i < 8; ++i) img[sec + i] = static_cast<uint8_t>(name[i]);
  Put32(img, sec + 8, static_cast<uint32_t>(rsrc.size()));
  Put32(img, sec + 12, kSectionRva);
  Put32(img, sec + 16, static_cast<uint32_t>(rsrc.size()));
  Put32(img, sec + 20, kSectionFile);
  img.resize(kSectionFile);
  img.insert(img.end(), rsrc.begin(), rsrc.end());
  if (img.size() < minSize) img.resize(minSize, 0);
  return img;
}

}  // namespace tessavar::test
