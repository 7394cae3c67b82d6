// Testing arbitrary bytes as a ZIP archive: the extractor walks, decodes and
// checks what it finds, writes nothing and never crashes or hangs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/zip/ztvUnZip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/tessavar-fuzz-test-" + std::to_string(getpid()) + ".zip";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  tessavar::TUnZip unzip;
  unzip.SetArchiveFileName(path);
  unzip.SetFileSpec({"*.*"});
  unzip.SetPassword("secret");
  unzip.OnCorruptZipHeader = [](tessavar::TObject*, tessavar::THeaderTypeState, bool& cancel) { cancel = false; };
  unzip.OnNextVolume = [](tessavar::TObject*, std::string&, int, bool, bool& cancel) { cancel = true; };
  unzip.Test();
  return 0;
}
