// Methods 2 to 5: bytes coded against a set of likely followers of the byte
// before, then run through a DLE-escaped copy expander over a 4 KiB history.
#include <array>
#include <cstdint>
#include <vector>

#include "archive/frame/ztvErrors.h"
#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvLegacyIo.h"

namespace tessavar {
namespace {

constexpr uint8_t kDle = 144;
constexpr int kHistory = 4096;
constexpr int kMaxFollowers = 32;

struct TFollowerSet {
  uint8_t count = 0;
  std::array<uint8_t, kMaxFollowers> bytes{};
};

// Bits of an index into a set of n followers.
int IndexBits(int n) {
  if (n <= 2) return 1;
  if (n <= 4) return 2;
  if (n <= 8) return 3;
  if (n <= 16) return 4;
  if (n <= 32) return 5;
  return 6;
}

class TExpander {
 public:
  TExpander(legacy::TLegacyOutput& out, int factor)
      : out_(out), factor_(factor), lengthMask_(0xFF >> factor), history_(kHistory, 0) {}

  // False once the output is full.
  bool Feed(uint8_t ch) {
    switch (state_) {
      case 0:
        if (ch == kDle) {
          state_ = 1;
          return true;
        }
        return Emit(ch);
      case 1:
        if (ch == 0) {
          state_ = 0;
          return Emit(kDle);
        }
        v_ = ch;
        len_ = ch & lengthMask_;
        state_ = len_ == lengthMask_ ? 2 : 3;
        return true;
      case 2:
        len_ += ch;
        state_ = 3;
        return true;
      default: {
        state_ = 0;
        const int dist = ((v_ >> (8 - factor_)) << 8) + ch + 1;
        // Reaching before the start of the file reads the zero-filled history.
        int from = (pos_ - dist) & (kHistory - 1);
        for (int i = 0; i < len_ + 3; ++i) {
          if (!Emit(history_[static_cast<size_t>(from)])) return false;
          from = (from + 1) & (kHistory - 1);
        }
        return true;
      }
    }
  }

 private:
  bool Emit(uint8_t b) {
    if (!out_.Put(b)) return false;
    history_[static_cast<size_t>(pos_)] = b;
    pos_ = (pos_ + 1) & (kHistory - 1);
    return true;
  }

  legacy::TLegacyOutput& out_;
  int factor_;
  int lengthMask_;
  std::vector<uint8_t> history_;
  int pos_ = 0;
  int state_ = 0;
  int v_ = 0;
  int len_ = 0;
};

}  // namespace

void Unreduce(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry) {
  legacy::TBitInput bits(c, in, entry);
  legacy::TLegacyOutput output(c, out, entry);
  const int factor = entry.Method >= 2 && entry.Method <= 5 ? entry.Method - 1 : 0;
  if (factor == 0) return output.Fatal(E_BADBLOCK);
  if (output.Full()) return;

  std::vector<TFollowerSet> sets(256);
  for (int s = 255; s >= 0; --s) {
    uint32_t n = 0;
    if (!bits.Read(6, n)) return output.Flush();
    if (n > kMaxFollowers) return output.Fatal(E_BADBLOCK);
    TFollowerSet& set = sets[static_cast<size_t>(s)];
    set.count = static_cast<uint8_t>(n);
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t b = 0;
      if (!bits.Read(8, b)) return output.Flush();
      set.bytes[i] = static_cast<uint8_t>(b);
    }
  }

  TExpander expander(output, factor);
  uint8_t last = 0;
  while (!output.Full()) {
    const TFollowerSet& set = sets[last];
    uint32_t ch = 0;
    uint32_t literal = 1;
    if (set.count > 0 && !bits.Read(1, literal)) break;
    if (literal) {
      if (!bits.Read(8, ch)) break;
    } else {
      uint32_t index = 0;
      if (!bits.Read(IndexBits(set.count), index)) break;
      // The compressor only sends indexes into the set; a larger one would
      // pick a byte that was never sent.
      if (index >= set.count) return output.Fatal(E_BADBLOCK);
      ch = set.bytes[index];
    }
    if (!expander.Feed(static_cast<uint8_t>(ch))) break;
    last = static_cast<uint8_t>(ch);
  }
  output.Flush();
}

}  // namespace tessavar
