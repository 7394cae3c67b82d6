// The inflating stream over arbitrary bytes, plain and enciphered, with
// input and output chunks chosen by the input: never a crash, a hang, more
// output than asked or a read past the input limit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvCrypt.h"

using namespace tessavar;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int64_t inChunk = 1 + data[0] * 64;
  const int64_t outChunk = 1 + data[1] * 128;
  const bool encrypted = data[2] & 1;
  const bool limited = data[2] & 2;
  TMemoryStream32 source;
  source.Write(data + 3, static_cast<int64_t>(size - 3));
  source.SetPosition(0);
  const int64_t limit = limited ? static_cast<int64_t>(size - 3) / 2 : -1;

  TSeedKeyValues keys;
  SetupDataKeys(keys, kDefaultDataSeed, "fuzz");
  {
    TDecompressStream d(source, -15, encrypted ? kCipherZipV2 : 0, &keys);
    d.SetInputLimit(limit);
    std::vector<uint8_t> out(static_cast<size_t>(outChunk) + 16, 0xA5);
    for (int i = 0; i < 4096; ++i) {
      const int64_t r = d.Decode(out.data(), inChunk, outChunk);
      if (r > outChunk || d.LastProduced() > outChunk) std::abort();
      for (size_t k = static_cast<size_t>(outChunk); k < out.size(); ++k)
        if (out[k] != 0xA5) std::abort();
      if (limit >= 0 && d.InputRead() > limit) std::abort();
      if (r <= 0) break;
    }
  }
  // What inflate did not take was given back, within the input.
  const int64_t pos = source.Position();
  if (pos < 0 || pos > static_cast<int64_t>(size - 3)) std::abort();
  return 0;
}
