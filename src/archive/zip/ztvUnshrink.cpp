// Method 1: LZW with codes of 9 to 13 bits and partial clearing, where the
// compressor frees only the codes no other code builds on.
#include <cstdint>
#include <vector>

#include "archive/frame/ztvErrors.h"
#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvLegacyIo.h"

namespace tessavar {
namespace {

constexpr int kCodes = 8192;
constexpr int kFirstFree = 257;
constexpr int kFreeCount = kCodes - kFirstFree;  // 7935
constexpr int kControl = 256;
constexpr int kStackSize = 8192;
// The bit reader takes at most 32 bits at once; no shrunk stream gets near.
constexpr int kMaxCodeSize = 32;

struct TShrinkTable {
  std::vector<int32_t> parent = std::vector<int32_t>(kCodes, -1);
  std::vector<uint8_t> suffix = std::vector<uint8_t>(kCodes, 0);
  std::vector<uint16_t> childCount = std::vector<uint16_t>(kCodes, 0);
  std::vector<uint16_t> freeList = std::vector<uint16_t>(kFreeCount);
  int nextFree = 0;

  TShrinkTable() {
    for (int i = 0; i < 256; ++i) suffix[i] = static_cast<uint8_t>(i);
    for (int i = 0; i < kFreeCount; ++i) freeList[i] = static_cast<uint16_t>(kFirstFree + i);
  }

  // Frees the leaves only. Which codes go is fixed before any is freed, so a
  // code left childless by this pass stays defined until the next one.
  void PartialClear() {
    std::vector<uint16_t> leaves;
    leaves.reserve(kFreeCount);
    for (int code = kFirstFree; code < kCodes; ++code)
      if (childCount[code] == 0) leaves.push_back(static_cast<uint16_t>(code));
    nextFree = kFreeCount;
    for (auto it = leaves.rbegin(); it != leaves.rend(); ++it) {
      const int code = *it;
      const int32_t p = parent[code];
      if (p >= 0 && childCount[p] > 0) --childCount[p];
      parent[code] = -1;
      suffix[code] = 0;
      childCount[code] = 0;
      freeList[--nextFree] = static_cast<uint16_t>(code);
    }
  }
};

}  // namespace

void Unshrink(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry) {
  legacy::TBitInput bits(c, in, entry);
  legacy::TLegacyOutput output(c, out, entry);
  if (output.Full()) return;  // an empty file needs no code at all

  TShrinkTable t;
  std::vector<uint8_t> stack(kStackSize);
  int codeSize = 9;

  uint32_t code = 0;
  if (!bits.Read(codeSize, code)) return output.Fatal(E_BADBLOCK);
  uint8_t firstChar = static_cast<uint8_t>(code);
  output.Put(firstChar);
  int32_t prev = static_cast<int32_t>(code);

  while (!output.Full()) {
    if (!bits.Read(codeSize, code)) break;
    if (code == kControl) {
      uint32_t sub = 0;
      if (!bits.Read(codeSize, sub)) break;
      if (sub == 1 && codeSize < kMaxCodeSize) {
        ++codeSize;
      } else if (sub == 2) {
        t.PartialClear();
      } else {
        return output.Fatal(E_BADBLOCK);
      }
      continue;
    }
    if (code >= static_cast<uint32_t>(kCodes)) return output.Fatal(E_BADBLOCK);

    size_t sp = 0;
    int32_t cur = static_cast<int32_t>(code);
    if (cur > kControl && t.parent[cur] == -1) {
      // Not defined yet: the compressor used the code it was just making,
      // which is the previous string followed by its own first byte.
      stack[sp++] = firstChar;
      cur = prev;
    }
    while (cur > kControl) {
      if (sp == stack.size()) return output.Fatal(E_STACKOVERFLOW);
      stack[sp++] = t.suffix[cur];
      cur = t.parent[cur];
    }
    // A chain through a freed code ends nowhere; only damaged data does that.
    if (cur < 0) return output.Fatal(E_BADBLOCK);

    firstChar = t.suffix[cur];
    bool room = output.Put(firstChar);
    while (sp > 0 && room) room = output.Put(stack[--sp]);

    if (t.nextFree < kFreeCount) {
      const int fresh = t.freeList[t.nextFree++];
      t.parent[fresh] = prev;
      t.suffix[fresh] = firstChar;
      if (prev >= 0 && prev < kCodes && t.childCount[prev] < UINT16_MAX) ++t.childCount[prev];
    }
    prev = static_cast<int32_t>(code);
  }
  output.Flush();
}

}  // namespace tessavar
