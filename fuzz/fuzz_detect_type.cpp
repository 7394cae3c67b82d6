// Type detection over arbitrary bytes: never a crash, a hang or a read
// outside the input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/frame/ztvregister.h"
#include "archive/zip/ztvZipRecords.h"
#include "platform/Drive.h"

namespace {

// A drive that answers at once, so the fuzzer spends its time on the parser.
class QuietDrive : public tessavar::platform::DriveProvider {
 public:
  std::string RootOf(const std::string&) override { return "/"; }
  tessavar::platform::DriveType TypeOf(const std::string&) override {
    return tessavar::platform::DriveType::Removable;
  }
  bool DiskPresent(const std::string&) override { return true; }
  bool WriteProtected(const std::string&) override { return false; }
  bool VolumeInfo(const std::string&, std::string& label, uint32_t& serial) override {
    label = "PKBACK# 001";
    serial = 1;
    return true;
  }
  bool SetVolumeLabel(const std::string&, const std::string&) override { return false; }
  bool FreeSpace(const std::string&, int64_t& f, int64_t& t) override {
    f = t = 1 << 20;
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool installed = [] {
    tessavar::platform::SetDriveProvider(std::make_unique<QuietDrive>());
    return true;
  }();
  (void)installed;
  tessavar::TMemorySource source(data, size);
  tessavar::TRegisterZipTV detector;
  detector.DetectType(source);
  return 0;
}
