#include "archive/frame/ztvregister.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/Drive.h"
#include "platform/PeResources.h"
#include "platform/Time.h"

namespace tessavar {

namespace {

constexpr int64_t kProbeSize = 32768;
constexpr int kScanBlocks = 11;

bool IEqualsAt(const uint8_t* p, const char* text) {
  for (size_t i = 0; text[i]; ++i) {
    auto up = [](uint8_t c) { return static_cast<uint8_t>((c >= 'a' && c <= 'z') ? c - 32 : c); };
    if (up(p[i]) != up(static_cast<uint8_t>(text[i]))) return false;
  }
  return true;
}

bool HasAceMark(const std::vector<uint8_t>& b, size_t at) { return b.size() >= at + 7 && IEqualsAt(&b[at], "**ACE**"); }

std::vector<uint8_t> ReadBytes(TByteSource& src, int64_t pos, int64_t count) {
  std::vector<uint8_t> out;
  if (pos < 0 || count <= 0) return out;
  out.resize(static_cast<size_t>(count));
  int64_t got = src.ReadAt(pos, out.data(), count);
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return out;
}

TArcType PlainOrExe(bool atZero, TArcType plain, TArcType exe) { return atZero ? plain : exe; }

// An ARC entry header whose method the signature table leaves out (1, 3-7:
// stored old-style, packed, squeezed, crunched without packing). Such
// archives are common, so they are taken when the name field that follows
// is a plausible file name: 1 to 12 printable characters and a zero byte.
bool LooksLikeArcHeader(const std::vector<uint8_t>& b, size_t at) {
  if (b.size() < at + 29 || b[at] != 0x1A) return false;
  const uint8_t method = b[at + 1];
  if (method != 1 && (method < 3 || method > 7)) return false;
  size_t n = 0;
  while (n < 13 && b[at + 2 + n] != 0) {
    if (b[at + 2 + n] < 0x20 || b[at + 2 + n] >= 0x7F) return false;
    ++n;
  }
  return n > 0 && n < 13;
}

std::string LowerExtension(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return ext;
}

}  // namespace

TRegisterZipTV::TRegisterZipTV(TComponent* owner) : TComponent(owner) {}

void TRegisterZipTV::SetZipCmntBufSize(int value) { zipCmntBufSize_ = std::clamp(value, 2000, 32767); }

void TRegisterZipTV::SetArchiveFile(const std::string& value) {
  requestedArchive_ = value;
  if (value.empty() || !platform::FileExists(value)) {
    arcType_ = atNA;
    archiveFile_.clear();
    return;
  }
  archiveFile_ = value;
  platform::FileHandle h = platform::FileOpen(value, platform::OpenMode::Read);
  if (h == platform::kInvalidHandle) {
    arcType_ = atNA;
    return;
  }
  arcType_ = DetectType(h);
  platform::FileClose(h);
  if (IsValidArcType(arcType_)) SetVolumeNumbering();
}

void TRegisterZipTV::SetArcType(TArcType /*value*/) {
  // The type always follows the file's content; writers override this.
  if (archiveFile_.empty()) {
    arcType_ = atNA;
    return;
  }
  platform::FileHandle h = platform::FileOpen(archiveFile_, platform::OpenMode::Read);
  if (h == platform::kInvalidHandle) {
    arcType_ = atFileOpenErr;
    return;
  }
  arcType_ = DetectType(h);
  platform::FileClose(h);
}

void TRegisterZipTV::ReportError(const std::string& FileName, const std::string& ExtendedMsg,
                                 const std::string& VolumeID, int ECode) {
  if (OnError) OnError(this, FileName, ExtendedMsg, VolumeID, ECode);
}

int64_t TRegisterZipTV::FindEndOfCentralDir(TByteSource& source) {
  // The seed may have been changed by a password handler since the last search.
  zip_.HeaderSeed = HeaderSeed();
  zip_.ReportError = [this](int code) { ReportError(archiveFile_, "", "0", code); };
  return tessavar::FindEndOfCentralDir(source, zip_);
}

TArcType TRegisterZipTV::DetectType(platform::FileHandle file) {
  THandleSource source(file);
  return DetectType(source);
}

TArcType TRegisterZipTV::DetectType(TByteSource& src) {
  zip_.OffsetBias = 0;
  zip_.FoundHeaders.Clear();
  startOffset_ = -1;
  archiveSize_ = std::max<int64_t>(0, src.Size());
  TArcType type = atNA;
  bool searchedEnd = false;  // an exception after the end-record search means the archive is unusable
  try {
    if (archiveSize_ >= 20) {
      const std::vector<uint8_t> buf = ReadBytes(src, 0, std::min(archiveSize_, kProbeSize));
      auto sig4 = [&](size_t at, uint8_t out[4]) {
        for (size_t i = 0; i < 4; ++i) out[i] = at + i < buf.size() ? buf[at + i] : 0;
      };
      auto searchEnd = [&]() {
        searchedEnd = true;
        return FindEndOfCentralDir(src);
      };
      if (buf.size() >= 2 && buf[0] == 'M' && buf[1] == 'Z') {
        // ---- Executables ----
        TScanResult fixed = CheckFixedExeOffsets(src);
        if (IsValidArcType(fixed.type)) {
          type = fixed.type;
          startOffset_ = fixed.offset;
          int64_t dir = searchEnd();
          if (dir > 0) startOffset_ = dir;
        } else {
          bool done = false;
          platform::PeStringTable pe([&src](int64_t pos, void* b, int64_t n) { return src.ReadAt(pos, b, n); },
                                     archiveSize_);
          if (pe.Loaded()) {
            for (uint32_t id = 1; id <= 7 && !done; ++id) {
              auto text = pe.String(id, 5);
              if (!text || text->empty() ||
                  !std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; }))
                break;
              const int64_t candidate = std::stoll(*text);
              if (candidate >= archiveSize_) break;
              const std::vector<uint8_t> head = ReadBytes(src, candidate, 14);
              if (HasAceMark(head, 7)) {
                type = atAceExe;
                startOffset_ = candidate;
                done = true;
              } else if (head.size() == 14) {
                TSignatureMatch m = MatchArchiveSignature(src, true, head.data());
                if (m.type == atNA) continue;
                type = m.type;
                startOffset_ = m.startOffset >= 0 ? m.startOffset : candidate;
                if (IsZipFamily(type)) {
                  int64_t dir = searchEnd();
                  if (!zip_.FoundHeaders.Empty()) startOffset_ = dir;
                }
                done = true;
              }
            }
          }
          if (!done) {
            // The end of the program image, from the executable header.
            const int64_t lastPage = buf.size() >= 6 ? (buf[2] | (buf[3] << 8)) : 0;
            const int64_t pages = buf.size() >= 6 ? (buf[4] | (buf[5] << 8)) : 0;
            int64_t e = (pages - 1) * 512 + lastPage;
            if (e > 0 && e + 4 <= archiveSize_) {
              std::vector<uint8_t> at = ReadBytes(src, e, 4);
              if (at.size() == 4 && at[2] == 0x60 && at[3] == 0xEA) e += 2;
              if (e + 4 <= archiveSize_) {
                at = ReadBytes(src, e, 4);
                if (at.size() == 4 && !(at[0] == 'P' && at[1] == 'K' && at[2] == 3 && at[3] == 4)) {
                  TSignatureMatch m = MatchArchiveSignature(src, true, at.data());
                  if (IsValidArcType(m.type)) {
                    type = m.type;
                    startOffset_ = m.startOffset >= 0 ? m.startOffset : e;
                    done = true;
                  }
                }
              }
            }
          }
          if (!done) {
            zip_.EndSignature = 0;
            startOffset_ = searchEnd();
            if (startOffset_ > 0) type = atZipExe;
            if (!IsValidArcType(type)) {
              TScanResult s = ScanForArchive(src, 17000);
              if (s.type != atNA) {
                type = s.type;
                startOffset_ = s.offset;
              }
            }
          }
        }
      } else {
        // ---- Plain files ----
        size_t skip = 0;
        bool decided = false;  // a final answer that skips the fall-backs
        bool scanned = false;
        if (buf[0] == 0) {
          while (skip < buf.size() && buf[skip] == 0) ++skip;
          if (buf.size() - skip > 132 && buf.size() > 131 && buf[130] == '-' && buf[131] == 'l') {
            type = atLha;
            startOffset_ = 128;
            decided = true;
          }
          if (skip == buf.size()) skip = 0;  // nothing but zeros: four zero bytes are classified
        }
        if (!decided) {
          uint8_t four[4];
          sig4(skip, four);
          TSignatureMatch m = MatchArchiveSignature(src, false, four);
          if (m.startOffset >= 0) startOffset_ = m.startOffset;
          type = m.type;
          if (type == atNA && LooksLikeArcHeader(buf, skip)) type = atArc;
          if (type == atNA) {
            if (CheckTar(src) == atTar) {
              type = atTar;
              decided = true;
            } else if (startOffset_ == -1) {
              TScanResult s = ScanForArchive(src, 0);
              scanned = true;
              type = s.type;
              if (s.type != atNA) startOffset_ = s.offset;
            }
          } else if (type == atUnsupported || type == atFileOpenErr || type == atUnknown) {
            decided = true;
          } else if (IsZipFamily(type)) {
            startOffset_ = searchEnd();
            if (startOffset_ == -1) {
              type = atUnsupported;
              decided = true;
            } else if (!zip_.FoundHeaders.Has(htLocal) && startOffset_ == 0) {
              // No end record: read the archive from its local headers.
              startOffset_ = static_cast<int64_t>(skip);
              zip_.FoundHeaders.Include(htLocal);
            }
          } else if (type == atZipDS || type == atZipMV) {
            startOffset_ = searchEnd();
            if (startOffset_ == -1) {
              type = atUnsupported;
              decided = true;
            } else if (zip_.FoundHeaders.Empty()) {
              zip_.FoundHeaders.Include(htLocal);
            }
          } else if (HasAceMark(buf, 7)) {
            type = atAce;
          }
        }
        if (!decided && !IsValidArcType(type)) {
          if (HasAceMark(buf, 7)) {
            type = atAce;
          } else if (TArcType t = CheckTextEncodings(buf.data(), buf.size()); t != atNA) {
            type = t;
          } else if (CheckTar(src) == atTar) {
            type = atTar;
          } else {
            startOffset_ = searchEnd();
            if (startOffset_ > 0) {
              type = zip_.EndOfCentralDir.NumberOfThisDisk == 0 ? atZip : CheckSpannedLabel();
            } else if (!scanned) {
              TScanResult s = ScanForArchive(src, 0);
              if (s.type != atNA) {
                type = s.type;
                startOffset_ = s.offset;
              }
            }
          }
        }
      }
    }
  } catch (...) {
    // Detection never fails: it ends with the type reached.
    if (searchedEnd && IsZipFamily(type)) type = atUnsupported;
  }
  // The last part of a split or spanned set holds an end record that names a
  // later disk, whichever way the archive was found.
  if ((type == atZip || type == atZipExe) && zip_.FoundHeaders.Has(htEnding) &&
      zip_.EndOfCentralDir.NumberOfThisDisk != 0) {
    if (TArcType split = CheckSpannedLabel(); split != atNA) {
      type = split;
      if (zip_.FoundHeaders.Has(htCentral)) startOffset_ = zip_.DirectoryStart;
    }
  }
  if (IsValidArcType(type) && startOffset_ == -1) startOffset_ = 0;
  if (type == atZip && LowerExtension(archiveFile_) == ".jar") type = atJar;
  int64_t mtime = 0;
  archiveDate_ = (!archiveFile_.empty() && platform::GetFileTime(archiveFile_, mtime))
                     ? platform::UnixToDosDateTime(mtime)
                     : platform::kDosDate1980;
  return type;
}

TRegisterZipTV::TSignatureMatch TRegisterZipTV::MatchArchiveSignature(TByteSource& src, bool InExe,
                                                                    const uint8_t b[4]) {
  auto is4 = [&](uint8_t a, uint8_t c, uint8_t d, uint8_t e) { return b[0] == a && b[1] == c && b[2] == d && b[3] == e; };
  auto is2 = [&](uint8_t a, uint8_t c) { return b[0] == a && b[1] == c; };
  auto pick = [&](TArcType plain, TArcType exe) { return TSignatureMatch{InExe ? exe : plain, -1}; };
  if (is4('B', 'H', 5, 7)) return pick(atBh, atBhExe);
  if (is4('R', 'a', 'r', '!')) return pick(atRar, atRarExe);
  if (is4('P', 'K', 'G', '5')) return pick(atUnknown, atUnknown);
  if (is4('M', 'S', 'C', 'F')) return pick(atCab, atCabExe);
  if (is4(0xB7, 0xDF, 0x54, 0x57)) return InExe ? TSignatureMatch{atArcExe, 7716} : TSignatureMatch{atArc, -1};
  if (is4(0x13, 0x5D, 0x65, 0x8C)) return pick(atMsGZ, atUnsupported);
  if (b[2] == '-' && b[3] == 'l') return pick(atLha, atLhaExe);
  if (is2(0x1A, 0x02) || is2(0x1A, 0x1E)) return pick(atArc, atUnsupported);
  if (is2(0x1A, 0x08) || is2(0x1A, 0x09)) return pick(atArc, atArcExe);
  if (is2(0x1A, 0x0A) || is2(0x1A, 0x0B)) return pick(atPak, atPakExe);
  if (is2(0x1F, 0x1E) || is2(0x25, 0x21) || is2(0x1F, 0x8B) || is2(0x1F, 0x9D) || is2(0x1F, 0x9E) ||
      is2(0x1F, 0xA0))
    return pick(atGZip, atUnsupported);
  if (is2('H', 'A')) return pick(atHA, atUnsupported);
  if (b[0] == 'P' && (b[1] == 'K' || b[1] == 'L')) {
    if (b[2] == 1 && b[3] == 2) {
      TSignatureMatch m{CheckSpannedLabel(), -1};
      FindEndOfCentralDir(src);
      return m;
    }
    if (b[2] == 7 && b[3] == 8) return TSignatureMatch{CheckSpannedLabel(), -1};
    if ((b[2] == 'G' && b[3] == '4') || (b[2] == 'C' && b[3] == 'I')) return {};
    return pick(atZip, atZipExe);
  }
  if (is2('Z', 'O')) return pick(atZoo, atUnsupported);
  if (is2(0xB7, 0x92) || is2(0xB7, 0xDF)) return TSignatureMatch{atArcExe, 7716};
  if (is2(0x60, 0xEA)) return pick(atArj, atArjExe);
  return {};
}

TRegisterZipTV::TScanResult TRegisterZipTV::CheckFixedExeOffsets(TByteSource& src) {
  for (int64_t off : {6674, 6867, 7716, 8601, 13138}) {
    if (archiveSize_ < off + 3) break;
    std::vector<uint8_t> v = ReadBytes(src, off, 2);
    if (v.size() < 2) break;
    const uint16_t w = static_cast<uint16_t>(v[0] | (v[1] << 8));
    if (w == 0x081A || w == 0x091A) return {atArcExe, off};
    if (w == 0x0A1A || w == 0x0B1A) return {atPakExe, off};
  }
  if (archiveSize_ > 1949) {
    std::vector<uint8_t> v = ReadBytes(src, 1947, 6);
    if (v.size() == 6 && v[0] == 0x2D && v[1] == 0x6C && v[2] == 0x68 && v[4] == 0x2D) return {atLhaExe, 1945};
  }
  auto localAt = [&](int64_t off) {
    std::vector<uint8_t> v = ReadBytes(src, off, 4);
    return v.size() == 4 && v[0] == 'P' && v[1] == 'K' && v[2] == 3 && v[3] == 4;
  };
  if (archiveSize_ > 7616 && localAt(7612)) return {atZipExe, 7612};
  if (archiveSize_ > 25665 && localAt(25661)) return {atZipExe, 25661};
  return {};
}

TRegisterZipTV::TScanResult TRegisterZipTV::ScanForArchive(TByteSource& src, int64_t From) {
  TScanResult result;
  if (From < 0 || From >= archiveSize_) return result;
  // The whole window at once, plus a few bytes so that the tests that look
  // past a position near its end see what the file holds there.
  const int64_t window = std::min<int64_t>(archiveSize_ - From, kScanBlocks * kProbeSize);
  const std::vector<uint8_t> w = ReadBytes(src, From, std::min<int64_t>(archiveSize_ - From, window + 16));
  const int64_t have = static_cast<int64_t>(w.size());
  auto at = [&](int64_t i) -> int { return i >= 0 && i < have ? w[static_cast<size_t>(i)] : -1; };
  auto inFile = [&](int64_t absolute) { return absolute < archiveSize_; };
  const int64_t limit = std::min(have, window);
  for (int64_t blockStart = 0; blockStart < limit; blockStart += kProbeSize) {
    const int64_t blockEnd = std::min(limit, blockStart + kProbeSize);
    for (int64_t i = blockStart; i < blockEnd; ++i) {
      const int64_t p = From + i;
      TArcType found = atNA;
      int64_t start = -1;
      if (at(i) == '*' && at(i + 1) == '*' && at(i + 2) == 'A' && at(i + 3) == 'C' && at(i + 4) == 'E' &&
          inFile(p + 5) && p >= 7) {
        start = p - 7;
        found = PlainOrExe(start == 0, atAce, atAceExe);
      } else if (at(i) == 0x2D && at(i + 1) == 0x6C && at(i + 2) == 0x68 && at(i + 4) == 0x2D && inFile(p + 5) &&
                 p >= 2) {
        start = p - 2;
        found = PlainOrExe(start == 0, atLha, atLhaExe);
      } else if (at(i) == 'B' && at(i + 1) == 'H' && at(i + 2) == 5 && at(i + 3) == 7 &&
                 !(at(i + 4) == 0x0F && at(i + 5) == 0x94 && at(i + 6) == 0xC3 && at(i + 7) == 0x84)) {
        start = p;
        found = PlainOrExe(start == 0, atBh, atBhExe);
      } else if (at(i) == 'M' && at(i + 1) == 'S' && at(i + 2) == 'C' && at(i + 3) == 'F' && at(i + 4) == 0 &&
                 at(i + 5) == 0 && at(i + 6) == 0 && at(i + 7) == 0 && inFile(p + 5)) {
        if (From != 17000) break;  // the rest of this block is left alone
        start = p;
        found = PlainOrExe(start == 0, atCab, atCabExe);
      } else if (at(i) == 'P' && at(i + 1) == 'K' && at(i + 2) == 3 && at(i + 3) == 4 &&
                 !(at(i + 4) == 0x74 && at(i + 5) == 0x0B && at(i + 6) == 0x3D && at(i + 7) == 0x00)) {
        start = p;
        found = From == 17000 ? atZipExe : atZip;
        if (FindEndOfCentralDir(src) == -1) found = atUnsupported;
      } else if (at(i) == 'R' && at(i + 1) == 'a' && at(i + 2) == 'r' && at(i + 3) == '!') {
        start = p;
        found = PlainOrExe(start == 0, atRar, atRarExe);
      } else if (at(i) == 0x60 && at(i + 1) == 0xEA && at(i + 3) >= 0) {
        const int64_t len = at(i + 2) | (at(i + 3) << 8);
        const int64_t second = i + len + 10;
        if (second + 1 < blockEnd && at(second) == 0x60 && at(second + 1) == 0xEA) {
          start = p;
          found = PlainOrExe(start == 0, atArj, atArjExe);
        }
      }
      if (found == atNA) continue;
      result = {found, start};
      if (start > 0) return result;
    }
  }
  return result;
}

TArcType TRegisterZipTV::CheckTextEncodings(const uint8_t* buffer, size_t length) {
  static const char kBase64[] = "Content-Transfer-Encoding: Base64";
  for (size_t line = 0; line + 3 <= length;) {
    const size_t left = length - line;
    if (left >= sizeof kBase64 - 1 && IEqualsAt(buffer + line, kBase64)) return atB64;
    if (left >= 7 && (IEqualsAt(buffer + line, "begin 6") || IEqualsAt(buffer + line, "begin 7"))) return atUUE;
    const void* lf = std::memchr(buffer + line, '\n', left);
    if (!lf) break;
    line = static_cast<size_t>(static_cast<const uint8_t*>(lf) - buffer) + 1;
  }
  return atNA;
}

TArcType TRegisterZipTV::CheckTar(TByteSource& src) {
  if (archiveSize_ <= 512) return atNA;
  std::vector<uint8_t> h = ReadBytes(src, 0, 512);
  if (h.size() < 512) return atNA;
  if (h[156] == 'V') {
    startOffset_ = 512;
    if (archiveSize_ >= 1024) {
      h = ReadBytes(src, 512, 512);
      if (h.size() < 512) {
        startOffset_ = -1;
        return atNA;
      }
    }
  }
  uint32_t stored = 0;
  for (int i = 148; i < 156; ++i)
    if (h[i] >= '0' && h[i] <= '7') stored = stored * 8 + static_cast<uint32_t>(h[i] - '0');
  uint32_t sum = 0;
  for (int i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? 32u : h[i];
  if (stored == sum) return atTar;
  startOffset_ = -1;
  return atNA;
}

TArcType TRegisterZipTV::CheckSpannedLabel() {
  const std::string where = archiveFile_.empty() ? platform::CurrentDir() : archiveFile_;
  platform::DriveProvider& drives = platform::Drives();
  std::string label;
  uint32_t serial = 0;
  if (!drives.VolumeInfo(where, label, serial)) return atNA;
  if (drives.TypeOf(where) == platform::DriveType::Removable) {
    std::string word = label.substr(0, label.find(' '));
    for (char& c : word)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (word == "PKBACK#") return atZipDS;
  }
  return atZipMV;
}

void TRegisterZipTV::SetVolumeNumbering() {
  char letter;
  const char* fallback;
  switch (arcType_) {
    case atAce: letter = 'C'; fallback = "Ace"; break;
    case atArj: letter = 'a'; fallback = "Arj"; break;
    case atJar:
    case atJarExe: letter = 'j'; fallback = "Jar"; break;
    case atRar:
    case atRarExe: letter = 'q'; fallback = "Rar"; break;
    default: return;
  }
  std::string ext = LowerExtension(archiveFile_).empty() ? std::string(fallback) : std::string();
  if (ext.empty()) {
    size_t dot = archiveFile_.find_last_of('.');
    ext = archiveFile_.substr(dot + 1);
  }
  size_t digits = 0;
  while (digits < ext.size() && ext[ext.size() - 1 - digits] >= '0' && ext[ext.size() - 1 - digits] <= '9') ++digits;
  volumeLetter_ = letter;
  if (digits > 0) {
    long long n = 0;
    for (size_t i = ext.size() - digits; i < ext.size(); ++i) n = std::min<long long>(n * 10 + (ext[i] - '0'), 1000000);
    volumeLetter_ = ext[0];
    volumeNum_ = static_cast<int>(n) + 1;
  } else {
    volumeNum_ = arcType_ == atArj ? 1 : 0;
  }
}

}  // namespace tessavar
