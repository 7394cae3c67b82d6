#include "platform/PeResources.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tessavar::platform {

namespace {
uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}


constexpr uint32_t kRtString = 6;
constexpr int kMaxSections = 96;        // the loader's own limit
constexpr int kMaxDirectoryEntries = 4096;
}  // namespace

PeStringTable::PeStringTable(ReadAt read, int64_t fileSize) : read_(std::move(read)), size_(fileSize) {
  if (!Init()) resourceRva_ = 0;
}

PeStringTable::PeStringTable(FileHandle file)
    : PeStringTable(
          [file](int64_t pos, void* buffer, int64_t count) -> int64_t {
            if (FileSeek(file, pos, SeekOrigin::Begin) != pos) return -1;
            return FileRead(file, buffer, count);
          },
          FileSize(file)) {}

bool PeStringTable::ReadBytes(int64_t pos, void* buffer, int64_t count) {
  if (pos < 0 || count < 0 || pos > size_ || count > size_ - pos) return false;
  return read_(pos, buffer, count) == count;
}

bool PeStringTable::Init() {
  uint8_t mz[64];
  if (!ReadBytes(0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z') return false;
  const int64_t peOff = U32(mz + 0x3C);
  uint8_t coff[24];
  if (!ReadBytes(peOff, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return false;
  const int sections = U16(coff + 6);
  const int optSize = U16(coff + 20);
  if (sections <= 0 || sections > kMaxSections || optSize < 96) return false;
  std::vector<uint8_t> opt(static_cast<size_t>(optSize));
  if (!ReadBytes(peOff + 24, opt.data(), optSize)) return false;
  const uint16_t magic = U16(opt.data());
  size_t countAt, dirAt;
  if (magic == 0x10B) {
    countAt = 92;
    dirAt = 96;
  } else if (magic == 0x20B) {
    countAt = 108;
    dirAt = 112;
  } else {
    return false;
  }
  if (countAt + 4 > opt.size()) return false;
  const uint32_t dirs = U32(opt.data() + countAt);
  // The resource directory is the third data directory.
  if (dirs < 3 || dirAt + 3 * 8 > opt.size()) return false;
  resourceRva_ = U32(opt.data() + dirAt + 16);
  resourceSize_ = U32(opt.data() + dirAt + 20);
  if (resourceRva_ == 0 || resourceSize_ == 0) return false;
  const int64_t secTable = peOff + 24 + optSize;
  for (int i = 0; i < sections; ++i) {
    uint8_t s[40];
    if (!ReadBytes(secTable + 40 * static_cast<int64_t>(i), s, sizeof s)) return false;
    sections_.push_back({U32(s + 12), U32(s + 8), U32(s + 20), U32(s + 16)});
  }
  return RvaToOffset(resourceRva_, 16) >= 0;
}

int64_t PeStringTable::RvaToOffset(uint32_t rva, uint32_t length) {
  for (const auto& s : sections_) {
    const uint64_t span = std::max(s.vsize, s.rawSize);
    if (rva >= s.va && static_cast<uint64_t>(rva) - s.va < span) {
      const uint64_t within = static_cast<uint64_t>(rva) - s.va;
      if (within + length > s.rawSize) return -1;  // not backed by file data
      const uint64_t off = static_cast<uint64_t>(s.rawPtr) + within;
      if (off + length > static_cast<uint64_t>(size_)) return -1;
      return static_cast<int64_t>(off);
    }
  }
  return -1;
}

std::optional<uint32_t> PeStringTable::FindEntry(uint32_t dirOffset, uint32_t id, bool firstAny) {
  if (dirOffset > resourceSize_ || resourceSize_ - dirOffset < 16) return std::nullopt;
  const int64_t dirPos = RvaToOffset(resourceRva_ + dirOffset, 16);
  uint8_t dir[16];
  if (dirPos < 0 || !ReadBytes(dirPos, dir, sizeof dir)) return std::nullopt;
  const int named = U16(dir + 12);
  const int ids = U16(dir + 14);
  const int total = named + ids;
  if (total > kMaxDirectoryEntries) return std::nullopt;
  for (int i = 0; i < total; ++i) {
    const uint64_t entryRel = static_cast<uint64_t>(dirOffset) + 16 + 8 * static_cast<uint64_t>(i);
    if (entryRel + 8 > resourceSize_) return std::nullopt;
    const int64_t entryPos = RvaToOffset(resourceRva_ + static_cast<uint32_t>(entryRel), 8);
    uint8_t e[8];
    if (entryPos < 0 || !ReadBytes(entryPos, e, sizeof e)) return std::nullopt;
    const uint32_t name = U32(e);
    const uint32_t data = U32(e + 4);
    if (firstAny || (!(name & 0x80000000u) && name == id)) return data;
  }
  return std::nullopt;
}

std::optional<std::string> PeStringTable::String(uint32_t id, size_t maxChars) {
  if (!Loaded()) return std::nullopt;
  // Strings are kept in blocks of sixteen: block (id / 16) + 1, type RT_STRING.
  auto type = FindEntry(0, kRtString, false);
  if (!type || !(*type & 0x80000000u)) return std::nullopt;
  auto block = FindEntry(*type & 0x7FFFFFFFu, id / 16 + 1, false);
  if (!block || !(*block & 0x80000000u)) return std::nullopt;
  auto lang = FindEntry(*block & 0x7FFFFFFFu, 0, true);  // the first language there is
  if (!lang || (*lang & 0x80000000u)) return std::nullopt;
  if (*lang > resourceSize_ || resourceSize_ - *lang < 16) return std::nullopt;
  const int64_t dataEntryPos = RvaToOffset(resourceRva_ + *lang, 16);
  uint8_t de[16];
  if (dataEntryPos < 0 || !ReadBytes(dataEntryPos, de, sizeof de)) return std::nullopt;
  const uint32_t dataRva = U32(de);
  const uint32_t dataSize = U32(de + 4);
  if (dataSize == 0 || dataSize > (1u << 20)) return std::nullopt;
  const int64_t dataPos = RvaToOffset(dataRva, dataSize);
  if (dataPos < 0) return std::nullopt;
  std::vector<uint8_t> data(dataSize);
  if (!ReadBytes(dataPos, data.data(), dataSize)) return std::nullopt;
  size_t p = 0;
  for (uint32_t i = 0; i < 16; ++i) {
    if (p + 2 > data.size()) return std::nullopt;
    const size_t len = U16(data.data() + p);
    p += 2;
    if (len > (data.size() - p) / 2) return std::nullopt;
    if (i == id % 16) {
      if (len == 0) return std::nullopt;
      std::string out;
      size_t chars = 0;
      for (size_t k = 0; k < len && chars < maxChars; ++k, ++chars) {
        uint32_t c = U16(data.data() + p + 2 * k);
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < len) {
          uint32_t lo = U16(data.data() + p + 2 * (k + 1));
          if (lo >= 0xDC00 && lo <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
            ++k;
          } else {
            c = 0xFFFD;
          }
        } else if (c >= 0xD800 && c <= 0xDFFF) {
          c = 0xFFFD;
        }
        AppendUtf8(out, c);
      }
      return out;
    }
    p += 2 * len;
  }
  return std::nullopt;
}

}  // namespace tessavar::platform
