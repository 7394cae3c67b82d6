// Unshrink, unreduce (every factor) and explode (every window and tree
// choice) over arbitrary bytes: never a crash, a hang, more output than the
// entry holds or a read past its compressed size. Bad data may end a decoder
// with its error; that is the point.
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
  if (size < 3) return 0;
  const int64_t limit = (static_cast<int64_t>(data[0]) << 12) | (static_cast<int64_t>(data[1]) << 4);
  const uint8_t which = data[2];
  const int64_t packed = static_cast<int64_t>(size - 3);
  FuzzComponent c;
  TMemoryStream32 in, out;
  in.Write(data + 3, packed);
  in.SetPosition(0);
  TEntryParams e;
  e.CompressedSize = packed;
  e.UncompressedSize = limit;
  try {
    switch (which % 6) {
      case 0:
        e.Method = 1;
        Unshrink(c, in, &out, e);
        break;
      case 1: case 2: case 3: case 4:
        e.Method = static_cast<uint16_t>(2 + which % 6 - 1);
        Unreduce(c, in, &out, e);
        break;
      default:
        e.Method = 6;
        e.GeneralPurpose = static_cast<uint16_t>((which >> 3) & 0x6);
        Explode(c, in, &out, e);
        break;
    }
  } catch (const E_RAISE&) {
    // "Bad block" and "Stack overflow" end these decoders by design.
  }
  if (out.Size() > limit || in.Position() > packed) std::abort();
  return 0;
}
