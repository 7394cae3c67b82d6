// Updating arbitrary bytes as a ZIP archive: the writer reads the old
// directory, copies or drops its entries and adds a file, or leaves the
// file as it was; it never crashes or hangs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/write/ztvZip.h"

namespace {

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = "/tmp/tessavar-fuzz-update-" + std::to_string(getpid());
  static const std::string archive = base + ".zip";
  static const std::string added = base + ".txt";
  static bool once = [] {
    static const uint8_t text[] = "a file added to whatever the archive holds\n";
    WriteFile(added, text, sizeof text - 1);
    return true;
  }();
  (void)once;
  for (int pass = 0; pass < 2; ++pass) {
    WriteFile(archive, data, size);
    tessavar::TZip zip;
    zip.SetCompressThreads(0);
    zip.SetTempDir("/tmp/");
    zip.SetArchiveFileName(archive);
    if (pass == 0) {
      zip.SetFileSpec({added});
    } else {
      zip.SetSwitch(tessavar::swDelete);
      zip.SetFileSpec({"*.txt"});
    }
    zip.Compress();
  }
  return 0;
}
