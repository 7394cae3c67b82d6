#pragma once
// Input and output of the two oldest ZIP decoders (shrink and reduce): a
// bit reader over the entry's stored bytes, least significant bit first,
// and a 32 KiB output buffer bounded by the entry's uncompressed size.
// Both raise their errors through the component, so the output buffer is
// written out before any error leaves the decoder.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvErrors.h"
#include "archive/frame/ztvStream.h"
#include "archive/zip/ztvDecoders.h"

namespace tessavar::legacy {

inline constexpr int64_t kLegacyChunk = 32768;

class TBitInput {
 public:
  TBitInput(TZipCommon& c, TStream32& in, const TEntryParams& entry)
      : c_(c), in_(in), decrypt_(entry.Decrypt), left_(std::max<int64_t>(entry.CompressedSize, 0)),
        chunk_(static_cast<size_t>(kLegacyChunk)) {}

  // False when the input ends (or the run is cancelled) before `n` bits
  // (at most 32) are there; the bits already gathered stay unread.
  bool Read(int n, uint32_t& value) {
    while (count_ < n) {
      uint8_t b = 0;
      if (!NextByte(b)) return false;
      bits_ |= static_cast<uint64_t>(b) << count_;
      count_ += 8;
    }
    value = static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
    bits_ >>= n;
    count_ -= n;
    return true;
  }

 private:
  bool NextByte(uint8_t& b) {
    // A cancelled run sees the end of its input at the next byte.
    if (c_.Cancelled()) return false;
    if (pos_ == len_) {
      if (left_ <= 0) return false;
      const int64_t want = std::min(left_, kLegacyChunk);
      const int64_t got = c_.ReadBlock(in_, chunk_.data(), decrypt_, 0, want);
      if (got <= 0) {
        left_ = 0;
        return false;
      }
      left_ -= got;
      len_ = static_cast<size_t>(got);
      pos_ = 0;
    }
    b = chunk_[pos_++];
    return true;
  }

  TZipCommon& c_;
  TStream32& in_;
  bool decrypt_;
  int64_t left_;
  std::vector<uint8_t> chunk_;
  size_t pos_ = 0;
  size_t len_ = 0;
  uint64_t bits_ = 0;
  int count_ = 0;
};

class TLegacyOutput {
 public:
  TLegacyOutput(TZipCommon& c, TStream32* out, const TEntryParams& entry)
      : c_(c), out_(out), limit_(std::max<int64_t>(entry.UncompressedSize, 0)),
        buffer_(static_cast<size_t>(kLegacyChunk)) {}

  bool Full() const { return produced_ >= limit_; }
  int64_t Produced() const { return produced_; }

  // False (and the byte dropped) once the entry's size is reached: damaged
  // data must not make a file longer than its header says.
  bool Put(uint8_t b) {
    if (produced_ >= limit_) return false;
    buffer_[fill_++] = b;
    ++produced_;
    if (fill_ == buffer_.size()) Flush();
    return true;
  }

  void Flush() {
    if (fill_ == 0) return;
    const int64_t n = static_cast<int64_t>(fill_);
    fill_ = 0;
    const int64_t w = c_.WriteDecoded(out_, buffer_.data(), false, 32, n, 1);
    *c_.Remaining() -= n;
    c_.ReportProgress(c_.ArchiveTotal(), limit_, produced_);
    if (w < n && !c_.Cancelled()) {
      // The write step has already delivered "Error writing to file"; only
      // the end of the entry is left to do.
      throw E_RAISE(MessageOf(E_FWRITE));
    }
  }

  // What was decoded goes out first, so the caller keeps every good byte.
  void Fatal(int code) {
    Flush();
    c_.RaiseFatal(c_.FileName(), "", c_.VolumeName(), code);
  }

 private:
  TZipCommon& c_;
  TStream32* out_;
  int64_t limit_;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  int64_t produced_ = 0;
};

}  // namespace tessavar::legacy
