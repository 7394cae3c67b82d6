#pragma once
// String resources of a Portable Executable, read as data: what a
// self-extracting archive's stub may store about where its archive begins.
// Every offset and length taken from the file is checked; a malformed or
// foreign file simply has no resources.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/File.h"

namespace tessavar::platform {

class PeStringTable {
 public:
  // Reads from a random-access source: (position, buffer, count) -> bytes read.
  using ReadAt = std::function<int64_t(int64_t pos, void* buffer, int64_t count)>;
  PeStringTable(ReadAt read, int64_t fileSize);
  explicit PeStringTable(FileHandle file);

  // True when the file is a PE image with a resource section.
  bool Loaded() const { return resourceRva_ != 0; }
  // The string with this id (RT_STRING), converted from UTF-16 to UTF-8 and
  // cut to maxChars characters; nullopt when missing.
  std::optional<std::string> String(uint32_t id, size_t maxChars = 255);

 private:
  bool Init();
  // File offset of an RVA inside a section, or -1.
  int64_t RvaToOffset(uint32_t rva, uint32_t length);
  bool ReadBytes(int64_t pos, void* buffer, int64_t count);
  // Looks up an id among a resource directory's entries; returns the entry's
  // OffsetToData or nullopt.
  std::optional<uint32_t> FindEntry(uint32_t dirOffset, uint32_t id, bool firstAny);

  ReadAt read_;
  int64_t size_ = 0;
  uint32_t resourceRva_ = 0;
  uint32_t resourceSize_ = 0;
  struct Section {
    uint32_t va, vsize, rawPtr, rawSize;
  };
  std::vector<Section> sections_;
};

}  // namespace tessavar::platform
