#pragma once
// The ZIP decoders, one per method family. Each reads the entry's stored
// bytes through the component's ReadBlock (deciphering when asked) and
// writes the decoded bytes through its WriteDecoded (CRC-32, test mode,
// AsciiTranslation), reporting progress after each block. Every decoder is
// bounded by the entry: it never reads more than CompressedSize bytes and
// never writes more than UncompressedSize bytes, and bad data ends it with
// an error instead of undefined behaviour.
#include <cstdint>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvStream.h"

namespace tessavar {

struct TEntryParams {
  uint16_t GeneralPurpose = 0;
  uint16_t Method = 0;
  int64_t CompressedSize = 0;    // without the 12-byte encryption header
  int64_t UncompressedSize = 0;
  bool Decrypt = false;          // bit 0 of GeneralPurpose: decipher with the data keys
};

// Results of Explode and WindowInflate.
inline constexpr int kDecodeOk = 0;
inline constexpr int kDecodeWriteFailed = -2;
inline constexpr int kDecodeInputExhausted = -3;
inline constexpr int kDecodeBadData = -4;
inline constexpr int kDecodeCancelled = -5;

// Method 1. Bad data raises 25116 "Bad block" (or 25305 "Stack overflow")
// through the component's RaiseFatal.
void Unshrink(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry);
// Methods 2 to 5 (factor = Method - 1).
void Unreduce(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry);
// Method 6: 4K or 8K window (bit 1), two or three trees (bit 2).
int Explode(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry);
// Methods 8 and 9 in our own decoder: deflate64 selects the 64 KiB window
// and the Deflate64 length and distance codes. Also serves GZIP members.
int WindowInflate(TZipCommon& c, TStream32& in, TStream32* out, const TEntryParams& entry, bool deflate64);

}  // namespace tessavar
