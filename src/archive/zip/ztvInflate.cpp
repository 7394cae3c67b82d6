// Deflate (RFC 1951) with the Deflate64 switch: 64 KiB window, length
// code 285 as base 3 with 16 extra bits, distance codes 30 and 31.
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

constexpr std::array<uint16_t, 29> kLengthBase{3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                               31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                               2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint32_t, 32> kDistBase{1,    2,    3,    4,     5,     7,     9,     13,    17,    25,   33,
                                             49,   65,   97,   129,   193,   257,   385,   513,   769,   1025, 1537,
                                             2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577, 32769, 49153};
constexpr std::array<uint8_t, 32> kDistExtra{0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::array<uint8_t, 19> kCodeLengthOrder{16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The result for a dynamic header whose repeat runs past its code counts.
constexpr int kOverlongRepeat = 1;

class TInflater {
 public:
  TInflater(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry, bool deflate64)
      : c_(c), out_(out), entry_(entry), in_(c, in, entry), deflate64_(deflate64),
        windowSize_(deflate64 ? 65536u : 32768u), window_(windowSize_, 0),
        outLeft_(entry.UncompressedSize < 0 ? INT64_MAX : entry.UncompressedSize) {}

  int Run() {
    c_.ResetCrc();
    bool final = false;
    while (!final) {
      if (c_.Cancelled()) return kDecodeCancelled;
      uint32_t header = 0;
      if (!in_.Get(3, header)) return kDecodeInputExhausted;
      final = header & 1;
      int r = kDecodeOk;
      switch (header >> 1) {
        case 0: r = Stored(); break;
        case 1: r = Fixed(); break;
        case 2: r = Dynamic(); break;
        default: return kDecodeBadData;
      }
      if (r != kDecodeOk) {
        // What was decoded stays written, so the output shows how far it got.
        Flush();
        return r;
      }
    }
    return Flush();
  }

 private:
  int Flush() {
    if (pending_ == 0) return kDecodeOk;
    const int64_t n = static_cast<int64_t>(pending_);
    const size_t from = wpos_ - pending_;
    pending_ = 0;
    if (c_.WriteDecoded(out_, window_.data() + from, false, 32, n, 1) != n) return kDecodeWriteFailed;
    written_ += n;
    c_.ReportProgress(c_.ArchiveTotal(), entry_.UncompressedSize, written_);
    return kDecodeOk;
  }

  // Called when the window is full: writes it out and starts over.
  int Wrap() {
    const int r = Flush();
    wpos_ = 0;
    filled_ = true;
    if (r == kDecodeOk && c_.Cancelled()) return kDecodeCancelled;
    return r;
  }

  int Stored() {
    in_.AlignToByte();
    uint32_t len = 0, nlen = 0;
    if (!in_.Get(16, len) || !in_.Get(16, nlen)) return kDecodeInputExhausted;
    if ((len ^ 0xFFFFu) != nlen) return kDecodeBadData;
    if (len > outLeft_) return kDecodeBadData;
    while (len > 0) {
      if (c_.Cancelled()) return kDecodeCancelled;
      const size_t take = std::min<size_t>(len, windowSize_ - wpos_);
      const size_t got = in_.CopyBytes(window_.data() + wpos_, take);
      wpos_ += got;
      pending_ += got;
      outLeft_ -= static_cast<int64_t>(got);
      len -= static_cast<uint32_t>(got);
      if (wpos_ == windowSize_) {
        if (const int r = Wrap(); r != kDecodeOk) return r;
      }
      if (got < take) return kDecodeInputExhausted;
    }
    return kDecodeOk;
  }

  int Fixed() {
    if (!fixedBuilt_) {
      std::array<uint8_t, 288> lit{};
      std::fill(lit.begin(), lit.begin() + 144, 8);
      std::fill(lit.begin() + 144, lit.begin() + 256, 9);
      std::fill(lit.begin() + 256, lit.begin() + 280, 7);
      std::fill(lit.begin() + 280, lit.end(), 8);
      // All 32 five-bit distance codes: Deflate64 encoders use 30 and 31 in
      // fixed blocks too; plain mode rejects them when they are decoded.
      std::array<uint8_t, 32> dist{};
      dist.fill(5);
      fixedLit_.Build(lit.data(), 288, 7);
      fixedDist_.Build(dist.data(), 32, 5);
      fixedBuilt_ = true;
    }
    return Codes(fixedLit_, fixedDist_);
  }

  int Dynamic() {
    uint32_t hlit = 0, hdist = 0, hclen = 0;
    if (!in_.Get(5, hlit) || !in_.Get(5, hdist) || !in_.Get(4, hclen)) return kDecodeInputExhausted;
    const int nlit = static_cast<int>(hlit) + 257;
    const int ndist = static_cast<int>(hdist) + 1;
    const int nclen = static_cast<int>(hclen) + 4;
    std::array<uint8_t, 19> clens{};
    for (int i = 0; i < nclen; ++i) {
      uint32_t v = 0;
      if (!in_.Get(3, v)) return kDecodeInputExhausted;
      clens[kCodeLengthOrder[static_cast<size_t>(i)]] = static_cast<uint8_t>(v);
    }
    TPrefixTable clTable;
    if (clTable.Build(clens.data(), 19, 7, 7) != TPrefixTable::TBuild::Ok) return kDecodeBadData;

    std::array<uint8_t, 288 + 32> lens{};
    const int total = nlit + ndist;
    int n = 0;
    while (n < total) {
      in_.Need(7);
      int clen = 0;
      const int sym = clTable.Decode(in_.Peek(7), clen);
      if (sym < 0) return in_.AtEnd() ? kDecodeInputExhausted : kDecodeBadData;
      if (clen > in_.Count()) return kDecodeInputExhausted;
      in_.Drop(clen);
      if (sym < 16) {
        lens[static_cast<size_t>(n++)] = static_cast<uint8_t>(sym);
        continue;
      }
      uint32_t extra = 0;
      uint8_t value = 0;
      int repeat = 0;
      if (sym == 16) {
        if (n == 0) return kDecodeBadData;
        value = lens[static_cast<size_t>(n - 1)];
        if (!in_.Get(2, extra)) return kDecodeInputExhausted;
        repeat = 3 + static_cast<int>(extra);
      } else if (sym == 17) {
        if (!in_.Get(3, extra)) return kDecodeInputExhausted;
        repeat = 3 + static_cast<int>(extra);
      } else {
        if (!in_.Get(7, extra)) return kDecodeInputExhausted;
        repeat = 11 + static_cast<int>(extra);
      }
      if (n + repeat > total) return kOverlongRepeat;
      std::fill_n(lens.begin() + n, repeat, value);
      n += repeat;
    }
    // Without an end-of-block code the block could never end.
    if (lens[256] == 0) return kDecodeBadData;
    if (litTable_.Build(lens.data(), nlit, 9) != TPrefixTable::TBuild::Ok ||
        distTable_.Build(lens.data() + nlit, ndist, 6) != TPrefixTable::TBuild::Ok)
      return kDecodeBadData;
    return Codes(litTable_, distTable_);
  }

  // Decodes one symbol; -1 ends with *result set.
  int Symbol(const TPrefixTable& t, int& result) {
    in_.Need(15);
    int len = 0;
    const int sym = t.Decode(in_.Peek(15), len);
    if (sym < 0) {
      result = in_.AtEnd() && in_.Count() < 15 ? kDecodeInputExhausted : kDecodeBadData;
      return -1;
    }
    if (len > in_.Count()) {
      result = kDecodeInputExhausted;
      return -1;
    }
    in_.Drop(len);
    return sym;
  }

  int Codes(const TPrefixTable& lit, const TPrefixTable& dist) {
    const size_t mask = windowSize_ - 1;
    for (;;) {
      int result = kDecodeOk;
      const int sym = Symbol(lit, result);
      if (sym < 0) return result;
      if (sym < 256) {
        if (outLeft_ <= 0) return kDecodeBadData;
        --outLeft_;
        window_[wpos_++] = static_cast<uint8_t>(sym);
        ++pending_;
        if (wpos_ == windowSize_) {
          if (const int r = Wrap(); r != kDecodeOk) return r;
        }
        continue;
      }
      if (sym == 256) return kDecodeOk;
      const int li = sym - 257;
      if (li >= 29) return kDecodeBadData;  // 286 and 287
      uint32_t length = kLengthBase[static_cast<size_t>(li)];
      int lextra = kLengthExtra[static_cast<size_t>(li)];
      if (li == 28 && deflate64_) {
        length = 3;
        lextra = 16;
      }
      if (lextra > 0) {
        uint32_t e = 0;
        if (!in_.Get(lextra, e)) return kDecodeInputExhausted;
        length += e;
      }
      const int dsym = Symbol(dist, result);
      if (dsym < 0) return result;
      if (dsym >= 30 && !deflate64_) return kDecodeBadData;
      uint32_t distance = kDistBase[static_cast<size_t>(dsym)];
      if (const int dextra = kDistExtra[static_cast<size_t>(dsym)]; dextra > 0) {
        uint32_t e = 0;
        if (!in_.Get(dextra, e)) return kDecodeInputExhausted;
        distance += e;
      }
      // Nothing before the entry's first byte can be referred to.
      if (!filled_ && distance > wpos_) return kDecodeBadData;
      if (length > outLeft_) return kDecodeBadData;
      if (c_.Cancelled()) return kDecodeCancelled;
      outLeft_ -= length;
      size_t src = (wpos_ - distance) & mask;
      if (src + length <= windowSize_ && wpos_ + length < windowSize_) {
        // Forward byte copy: overlapping matches repeat as they must.
        uint8_t* d = window_.data() + wpos_;
        const uint8_t* s = window_.data() + src;
        for (uint32_t i = 0; i < length; ++i) d[i] = s[i];
        wpos_ += length;
        pending_ += length;
        continue;
      }
      while (length-- > 0) {
        window_[wpos_++] = window_[src];
        src = (src + 1) & mask;
        ++pending_;
        if (wpos_ == windowSize_) {
          if (const int r = Wrap(); r != kDecodeOk) return r;
        }
      }
    }
  }

  TZipCommon& c_;
  TStream32* out_;
  const TEntryParams& entry_;
  TBitInput in_;
  bool deflate64_;
  size_t windowSize_;
  std::vector<uint8_t> window_;
  size_t wpos_ = 0;
  size_t pending_ = 0;   // bytes in the window not written yet
  bool filled_ = false;  // the window has wrapped once
  int64_t outLeft_;
  int64_t written_ = 0;
  bool fixedBuilt_ = false;
  TPrefixTable fixedLit_, fixedDist_, litTable_, distTable_;
};

}  // namespace

int WindowInflate(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry, bool deflate64) {
  TInflater inflater(c, in, out, entry, deflate64);
  return inflater.Run();
}

}  // namespace tessavar
