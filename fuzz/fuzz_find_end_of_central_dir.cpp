// The end-record search over arbitrary bytes: it must never read outside the
// input, hang or overflow, and must end in one of its defined results.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/zip/ztvZipRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessavar;
  TMemorySource src(data, size);
  TZipSearchState st;
  size_t commentBytes = 0;
  st.OnComment = [&commentBytes](uint32_t, int64_t, int64_t, const std::vector<uint8_t>& comment) {
    commentBytes += comment.size();
  };
  st.ReportError = [](int) {};
  const int64_t result = FindEndOfCentralDir(src, st);
  if (result < -1 || result > static_cast<int64_t>(size) || commentBytes > size) std::abort();
  // A found directory starts with a central header the search could read.
  if (st.FoundHeaders.Has(htCentral) && result >= 0 &&
      (static_cast<size_t>(result) + TCentralFileHeader::kSize > size ||
       ClassifySignature(GetU32(data + result), htCentral).kind != htCentral)) {
    std::abort();
  }
  return 0;
}
