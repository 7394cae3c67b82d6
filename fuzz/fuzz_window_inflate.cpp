// The window inflater over arbitrary bytes, plain and Deflate64, with an
// output size chosen by the input: never a crash, a hang, more output than
// the entry holds or a read past its compressed size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/frame/ztvBase.h"
#include "archive/write/ztvStreams.h"
#include "archive/zip/ztvDecoders.h"

using namespace tessavar;

namespace {

class FuzzComponent : public TZipCommon {
 public:
  FuzzComponent() { arcType_ = atZip; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Up to 1 MiB of output keeps each run short.
  const int64_t limit = (static_cast<int64_t>(data[0]) << 12) | (static_cast<int64_t>(data[1]) << 4);
  const int64_t packed = static_cast<int64_t>(size - 2);
  for (const bool deflate64 : {false, true}) {
    FuzzComponent c;
    TMemoryStream32 in, out;
    in.Write(data + 2, packed);
    in.SetPosition(0);
    TEntryParams e;
    e.Method = deflate64 ? 9 : 8;
    e.CompressedSize = packed;
    e.UncompressedSize = limit;
    const int r = WindowInflate(c, in, &out, e, deflate64);
    if (r == kDecodeWriteFailed || r == kDecodeCancelled) std::abort();
    if (out.Size() > limit || in.Position() > packed) std::abort();
  }
  return 0;
}
