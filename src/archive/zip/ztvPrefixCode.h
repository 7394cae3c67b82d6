#pragma once
// Pieces shared by the explode and inflate decoders: the bounded bit input
// over an entry's stored bytes and the table-driven prefix-code decoder.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvStream.h"
#include "archive/zip/ztvDecoders.h"

namespace tessavar::zipcode {

// Bits least significant first. Never reads more than the entry's
// compressed size; once that is used up, Need() fails instead of
// inventing bits.
class TBitInput {
 public:
  static constexpr int64_t kChunk = 32768;

  TBitInput(TZipCommon& c, TStream32& in, const TEntryParams& entry)
      : c_(c), in_(in), decrypt_(entry.Decrypt), left_(std::max<int64_t>(entry.CompressedSize, 0)),
        buf_(static_cast<size_t>(kChunk)) {}

  // Tops the bit buffer up to at least 57 bits, or as far as the input goes.
  void Fill() {
    while (count_ <= 56) {
      if (pos_ == end_ && !Refill()) return;
      bits_ |= static_cast<uint64_t>(buf_[pos_++]) << count_;
      count_ += 8;
    }
  }
  bool Need(int n) {
    if (count_ < n) Fill();
    return count_ >= n;
  }
  // Bits beyond what is held read as zeros.
  uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1)); }
  void Drop(int n) {
    bits_ >>= n;
    count_ -= n;
  }
  bool Get(int n, uint32_t& value) {
    if (!Need(n)) return false;
    value = Peek(n);
    Drop(n);
    return true;
  }
  void AlignToByte() { Drop(count_ & 7); }
  int Count() const { return count_; }
  // True once the entry's stored bytes are all taken and the buffer is empty.
  bool AtEnd() const { return exhausted_ && pos_ == end_; }

  // Copies whole bytes (after AlignToByte), first from the bit buffer, then
  // straight from the input. Returns the number copied; fewer means the
  // input ran out.
  size_t CopyBytes(uint8_t* dst, size_t n) {
    size_t done = 0;
    while (done < n && count_ >= 8) {
      dst[done++] = static_cast<uint8_t>(bits_);
      Drop(8);
    }
    while (done < n) {
      if (pos_ == end_ && !Refill()) break;
      const size_t take = std::min(n - done, end_ - pos_);
      std::memcpy(dst + done, buf_.data() + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

 private:
  bool Refill() {
    pos_ = end_ = 0;
    if (left_ <= 0) {
      exhausted_ = true;
      return false;
    }
    const int64_t got = c_.ReadBlock(in_, buf_.data(), decrypt_, 0, std::min(left_, kChunk));
    if (got <= 0) {
      // A short archive counts as the end of the entry's data.
      left_ = 0;
      exhausted_ = true;
      return false;
    }
    left_ -= got;
    c_.SetBytesRemaining(c_.BytesRemaining() - got);
    end_ = static_cast<size_t>(got);
    return true;
  }

  TZipCommon& c_;
  TStream32& in_;
  bool decrypt_;
  int64_t left_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool exhausted_ = false;
  uint64_t bits_ = 0;
  int count_ = 0;
};

// A canonical prefix code decoded by a root table of rootBits entries plus
// second-level tables for the longer codes.
class TPrefixTable {
 public:
  static constexpr int kMaxBits = 16;

  enum class TBuild { Ok, OverSubscribed, BadLength };

  // Lengths of 0 mark unused symbols. An incomplete code is accepted; the
  // bit patterns it leaves unassigned decode as invalid.
  TBuild Build(const uint8_t* lengths, int symbols, int rootBits, int maxBits = 15) {
    root_ = rootBits;
    std::array<int, kMaxBits + 1> counts{};
    for (int s = 0; s < symbols; ++s) {
      if (lengths[s] > maxBits) return TBuild::BadLength;
      ++counts[lengths[s]];
    }
    counts[0] = 0;
    int left = 1;
    for (int len = 1; len <= maxBits; ++len) {
      left = (left << 1) - counts[len];
      if (left < 0) return TBuild::OverSubscribed;
    }
    std::array<uint32_t, kMaxBits + 2> next{};
    uint32_t code = 0;
    for (int len = 1; len <= maxBits; ++len) {
      code = (code + static_cast<uint32_t>(counts[len - 1])) << 1;
      next[len] = code;
    }
    // First pass: the reversed code of every symbol and the depth each
    // second-level table needs.
    codes_.assign(static_cast<size_t>(symbols), 0);
    std::vector<uint8_t> subBits(size_t{1} << root_, 0);
    for (int s = 0; s < symbols; ++s) {
      const int len = lengths[s];
      if (len == 0) continue;
      const uint32_t rev = Reverse(next[len]++, len);
      codes_[static_cast<size_t>(s)] = rev;
      if (len > root_) {
        uint8_t& b = subBits[rev & ((1u << root_) - 1)];
        b = std::max<uint8_t>(b, static_cast<uint8_t>(len - root_));
      }
    }
    size_t total = size_t{1} << root_;
    table_.assign(total, TEntry{0, 0, kInvalid});
    for (size_t p = 0; p < subBits.size(); ++p) {
      if (subBits[p] == 0) continue;
      table_[p] = TEntry{static_cast<uint16_t>(total), subBits[p], kLink};
      total += size_t{1} << subBits[p];
    }
    table_.resize(total, TEntry{0, 0, kInvalid});
    for (int s = 0; s < symbols; ++s) {
      const int len = lengths[s];
      if (len == 0) continue;
      const uint32_t rev = codes_[static_cast<size_t>(s)];
      const TEntry e{static_cast<uint16_t>(s), static_cast<uint8_t>(len), kSymbol};
      if (len <= root_) {
        for (uint32_t i = rev; i < (1u << root_); i += 1u << len) table_[i] = e;
      } else {
        const TEntry& link = table_[rev & ((1u << root_) - 1)];
        const int sub = len - root_;
        for (uint32_t i = rev >> root_; i < (1u << link.bits); i += 1u << sub) table_[link.value + i] = e;
      }
    }
    return TBuild::Ok;
  }

  // Decodes one symbol from `bits` (the next bits of the stream, at least
  // maxBits of them, zeros past the end). Returns the symbol and its code
  // length, or -1 for a pattern no code has.
  int Decode(uint32_t bits, int& length) const {
    const TEntry* e = &table_[bits & ((1u << root_) - 1)];
    if (e->kind == kLink) e = &table_[e->value + ((bits >> root_) & ((1u << e->bits) - 1))];
    if (e->kind != kSymbol) return -1;
    length = e->bits;
    return e->value;
  }

 private:
  static constexpr uint8_t kInvalid = 0;
  static constexpr uint8_t kSymbol = 1;
  static constexpr uint8_t kLink = 2;
  struct TEntry {
    uint16_t value;  // symbol, or the start of the second-level table
    uint8_t bits;    // code length, or the index width of the second-level table
    uint8_t kind;
  };
  static uint32_t Reverse(uint32_t code, int len) {
    uint32_t r = 0;
    for (int i = 0; i < len; ++i) {
      r = (r << 1) | (code & 1);
      code >>= 1;
    }
    return r;
  }

  int root_ = 9;
  std::vector<TEntry> table_;
  std::vector<uint32_t> codes_;
};

}  // namespace tessavar::zipcode
