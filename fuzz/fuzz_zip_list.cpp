// The directory reader over arbitrary bytes taken as a ZIP archive: it lists
// what it can and never crashes, hangs or reads outside the file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/formats/ztvZipTV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/tessavar-fuzz-list-" + std::to_string(getpid()) + ".zip";
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  tessavar::TZipTV reader;
  reader.SetArchiveFileName(path);
  reader.SetFileSpec({"*.*"});
  reader.SetShowEmptyDirs(true);
  reader.OnCorruptZipHeader = [](tessavar::TObject*, tessavar::THeaderTypeState, bool& cancel) { cancel = false; };
  size_t names = 0;
  reader.OnRead = [&](tessavar::TObject*, int, int) { names += reader.FileName().size(); };
  reader.Activate();
  return 0;
}
