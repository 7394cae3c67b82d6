// Method 6: Shannon-Fano coded literals, lengths and distances over a 4 KiB
// or 8 KiB dictionary.
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "archive/zip/ztvDecoders.h"
#include "archive/zip/ztvPrefixCode.h"

namespace tessavar {
namespace {

using zipcode::TBitInput;
using zipcode::TPrefixTable;

constexpr size_t kWindow = 32768;
constexpr int kMaxCodeBits = 16;

class TExploder {
 public:
  TExploder(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry)
      : c_(c), out_(out), entry_(entry), in_(c, in, entry), window_(kWindow, 0) {}

  int Run() {
    c_.ResetCrc();
    const bool literalTree = entry_.GeneralPurpose & 4;
    const bool bigDictionary = entry_.GeneralPurpose & 2;
    const int distLowBits = bigDictionary ? 7 : 6;
    const uint32_t minMatch = literalTree ? 3 : 2;
    const int distRoot = entry_.CompressedSize > 200000 ? 8 : 7;

    TPrefixTable literals, lengths, distances;
    if (literalTree) {
      if (const int r = ReadTree(literals, 256, 9); r != kDecodeOk) return r;
    }
    if (const int r = ReadTree(lengths, 64, 7); r != kDecodeOk) return r;
    if (const int r = ReadTree(distances, 64, distRoot); r != kDecodeOk) return r;

    int result = kDecodeOk;
    int64_t left = std::max<int64_t>(entry_.UncompressedSize, 0);
    while (left > 0) {
      if (c_.Cancelled()) {
        result = kDecodeCancelled;
        break;
      }
      uint32_t flag = 0;
      if (!in_.Get(1, flag)) {
        result = kDecodeInputExhausted;
        break;
      }
      if (flag) {
        uint32_t literal = 0;
        if (literalTree) {
          const int sym = Symbol(literals, result);
          if (sym < 0) break;
          literal = static_cast<uint32_t>(sym);
        } else if (!in_.Get(8, literal)) {
          result = kDecodeInputExhausted;
          break;
        }
        window_[wpos_++] = static_cast<uint8_t>(literal);
        --left;
        if (wpos_ == kWindow && (result = Flush()) != kDecodeOk) break;
        continue;
      }
      uint32_t low = 0;
      if (!in_.Get(distLowBits, low)) {
        result = kDecodeInputExhausted;
        break;
      }
      const int dcode = Symbol(distances, result);
      if (dcode < 0) break;
      const int lcode = Symbol(lengths, result);
      if (lcode < 0) break;
      uint32_t length = static_cast<uint32_t>(lcode) + minMatch;
      if (lcode == 63) {
        uint32_t extra = 0;
        if (!in_.Get(8, extra)) {
          result = kDecodeInputExhausted;
          break;
        }
        length += extra;
      }
      const size_t distance = low + (static_cast<size_t>(dcode) << distLowBits) + 1;
      // The window starts zeroed, so a copy from before the entry's first
      // byte yields zeros, as the format expects.
      size_t src = (wpos_ + kWindow - distance) & (kWindow - 1);
      const int64_t n = std::min<int64_t>(length, left);
      left -= n;
      for (int64_t i = 0; i < n; ++i) {
        window_[wpos_++] = window_[src];
        src = (src + 1) & (kWindow - 1);
        if (wpos_ == kWindow && (result = Flush()) != kDecodeOk) break;
      }
      if (result != kDecodeOk) break;
    }
    if (const int r = Flush(); result == kDecodeOk) result = r;
    return result;
  }

 private:
  // A tree is sent as run-length coded code lengths: a count byte, then
  // bytes of (repeat - 1) << 4 | (length - 1).
  int ReadTree(TPrefixTable& table, int symbols, int rootBits) {
    uint32_t count = 0;
    if (!in_.Get(8, count)) return kDecodeInputExhausted;
    std::array<uint8_t, 256> lens{};
    int n = 0;
    for (uint32_t i = 0; i <= count; ++i) {
      uint32_t b = 0;
      if (!in_.Get(8, b)) return kDecodeInputExhausted;
      const int repeat = static_cast<int>(b >> 4) + 1;
      if (n + repeat > symbols) return kDecodeBadData;
      std::fill_n(lens.begin() + n, repeat, static_cast<uint8_t>((b & 15) + 1));
      n += repeat;
    }
    if (n != symbols) return kDecodeBadData;
    if (table.Build(lens.data(), symbols, rootBits, kMaxCodeBits) != TPrefixTable::TBuild::Ok) return kDecodeBadData;
    return kDecodeOk;
  }

  // The stream holds every code bit complemented.
  int Symbol(const TPrefixTable& t, int& result) {
    in_.Need(kMaxCodeBits);
    int len = 0;
    const int sym = t.Decode(~in_.Peek(kMaxCodeBits) & 0xFFFFu, len);
    if (sym < 0) {
      result = in_.AtEnd() && in_.Count() < kMaxCodeBits ? kDecodeInputExhausted : kDecodeBadData;
      return -1;
    }
    if (len > in_.Count()) {
      result = kDecodeInputExhausted;
      return -1;
    }
    in_.Drop(len);
    return sym;
  }

  int Flush() {
    if (wpos_ == 0) return kDecodeOk;
    const int64_t n = static_cast<int64_t>(wpos_);
    wpos_ = 0;
    if (c_.WriteDecoded(out_, window_.data(), false, 32, n, 1) != n) return kDecodeWriteFailed;
    written_ += n;
    c_.ReportProgress(c_.ArchiveTotal(), entry_.UncompressedSize, written_);
    return kDecodeOk;
  }

  TZipCommon& c_;
  TStream32* out_;
  const TEntryParams& entry_;
  TBitInput in_;
  std::vector<uint8_t> window_;
  size_t wpos_ = 0;
  int64_t written_ = 0;
};

}  // namespace

int Explode(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry) {
  TExploder exploder(c, in, out, entry);
  return exploder.Run();
}

}  // namespace tessavar
