#include "archive/frame/ztvVolumes.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "archive/frame/ztvBase.h"
#include "platform/CodePage.h"
#include "platform/File.h"

namespace tessavar {

namespace {

// The extension of the last part of a path, with its dot ("" for none).
size_t ExtensionPos(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
  return dot;
}

std::string WithoutExtension(const std::string& name) {
  size_t dot = ExtensionPos(name);
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool IEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
           return up(x) == up(y);
         });
}

std::string Padded(long long n, size_t width) {
  std::string s = std::to_string(n);
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return s;
}


}  // namespace

std::string TZipCommon::SplitZipVolumeName(int Index, int Last) const {
  const int n = Index + 1;
  if (n >= Last) return ArchiveFile();
  return WithoutExtension(ArchiveFile()) + ".z" + Padded(n, 2);
}

std::string TZipCommon::NextVolumeName(const std::string& Name, int Index) {
  if (Name.empty() || Index < 0) return "";
  const std::string base = WithoutExtension(Name);
  const bool rar = arcType_ == atRar || arcType_ == atRarExe;
  if (rar) {
    size_t dot = ExtensionPos(base);
    if (dot != std::string::npos) {
      const std::string ext = base.substr(dot);
      const size_t digits = ext.size() - 5;
      if (ext.size() >= 6 && ext.size() <= 8 && IEquals(ext.substr(0, 5), ".part") &&
          std::all_of(ext.begin() + 5, ext.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return base.substr(0, dot) + ".part" + Padded(static_cast<long long>(Index) + 2, digits) + ".rar";
    }
  }
  long long n = Index;
  if (rar) {
    n %= 100;
    // The letter moves on for good: .r99 is followed by .s00.
    if (n == 0) volumeLetter_ = static_cast<char>(volumeLetter_ + 1);
  }
  std::string ext;
  if (n <= 9) ext = std::string(".") + volumeLetter_ + "0" + std::to_string(n);
  else if (n <= 99) ext = std::string(".") + volumeLetter_ + std::to_string(n);
  else ext = "." + std::to_string(n);
  return base + ext;
}

bool TZipCommon::RequestNextVolume(std::unique_ptr<TStream32>& Stream, int Index, int Last) {
  int number = Index + 1;
  volumeName_ = SplitZipVolumeName(Index, Last);
  if (!OnNextVolume) {
    // Set directly: the report below then arrives as "User canceled".
    *cancelFlag_ = true;
    ReportError(fileName_, "OnNextVolume", "0", E_REQUIREDEVENT);
    return false;
  }
  Stream.reset();
  THeaderTypeState localOnly;
  localOnly.Include(htLocal);
  if (zip_.FoundHeaders == localOnly && IEquals(volumeName_, ArchiveFile())) {
    volumeName_ = SplitZipVolumeName(number, Last + 1);
    ++number;
  }
  bool granted = false;
  do {
    OnNextVolume(this, volumeName_, number, platform::FileExists(volumeName_), *cancelFlag_);
    granted = !*cancelFlag_ && platform::FileExists(volumeName_);
  } while (!granted && !*cancelFlag_);
  if (granted) {
    volumeNum_ = number;
    Stream = std::make_unique<TFileStream32>(volumeName_, fmOpenRead | fmShareDenyWrite);
  } else {
    Stream = std::make_unique<TFileStream32>(ArchiveFile(), fmOpenRead | fmShareDenyWrite);
    ReportError(fileName_, "", volumeName_, E_USERCANCEL);
  }
  return granted;
}

bool TZipCommon::RequestNextVolume(std::unique_ptr<TStream32>& Stream, std::string& VolumeName) {
  if (!OnNextVolume) return false;
  VolumeName = NextVolumeName(VolumeName, volumeNum_);
  if (!RequestVolume(VolumeName, volumeNum_)) return false;
  Stream.reset();
  auto next = std::make_unique<TFileStream32>(VolumeName, fmOpenRead | fmShareDenyWrite);
  if (!next->Valid()) {
    ReportError(fileName_, "", VolumeName, E_FOPEN);
    archiveSize_ = 0;
  } else {
    archiveSize_ = next->Size();
  }
  Stream = std::move(next);
  return true;
}

bool TZipCommon::RequestVolume(std::string& VolumeName, int VolumeID) {
  if (VolumeID > 999) {
    ReportError("", "", VolumeName, E_MAXVOLUMES);
    return false;
  }
  if (VolumeName.empty()) {
    ReportError("", "", VolumeName, E_INVALIDFILENAME);
    return false;
  }
  if (VolumeName.find('/') == std::string::npos) VolumeName = platform::CurrentDir() + VolumeName;
  bool granted = false;
  if (OnNextVolume) {
    while (true) {
      bool cancel = false;
      OnNextVolume(this, VolumeName, VolumeID, platform::FileExists(VolumeName), cancel);
      if (cancel) {
        SetCancelled(true);
        break;
      }
      if (platform::FileExists(VolumeName)) {
        granted = true;
        break;
      }
    }
  } else if (platform::FileExists(VolumeName)) {
    granted = true;
  } else {
    ReportError("", "OnNextVolume", VolumeName, E_REQUIREDEVENT);
  }
  if (granted) ++volumeNum_;
  else nextHeaderOffset_ = archiveSize_;
  return granted;
}

std::string DecodeRarName(const uint8_t* NameField, size_t NameSize) {
  if (!NameField || NameSize < 2) return "";
  size_t oemLen = 0;
  while (oemLen < NameSize && NameField[oemLen] != 0) ++oemLen;
  size_t pos = oemLen + 1;  // the encoded part follows the zero byte
  if (pos >= NameSize) return "";
  const size_t maxChars = std::min<size_t>(NameSize - 1, 511);
  std::vector<uint16_t> out;
  out.reserve(maxChars);
  const uint16_t high = static_cast<uint16_t>(NameField[pos++] << 8);
  uint8_t flags = 0;
  int flagBits = 0;
  while (pos < NameSize && out.size() < maxChars) {
    if (flagBits == 0) {
      flags = NameField[pos++];
      flagBits = 8;
    }
    switch (flags >> 6) {
      case 0:
        if (pos >= NameSize) goto done;
        out.push_back(NameField[pos++]);
        break;
      case 1:
        if (pos >= NameSize) goto done;
        out.push_back(static_cast<uint16_t>(NameField[pos++] | high));
        break;
      case 2:
        if (pos + 1 >= NameSize) goto done;
        out.push_back(static_cast<uint16_t>(NameField[pos] | (NameField[pos + 1] << 8)));
        pos += 2;
        break;
      case 3: {
        if (pos >= NameSize) goto done;
        const uint8_t length = NameField[pos++];
        if (length & 0x80) {
          if (pos >= NameSize) goto done;
          const uint8_t correction = NameField[pos++];
          for (int i = 0; i < (length & 0x7F) + 2 && out.size() < maxChars; ++i) {
            const size_t j = out.size();
            out.push_back(static_cast<uint16_t>(((NameField[j] + correction) & 0xFF) | high));
          }
        } else {
          for (int i = 0; i < length + 2 && out.size() < maxChars; ++i) out.push_back(NameField[out.size()]);
        }
        break;
      }
    }
    flags = static_cast<uint8_t>(flags << 2);
    flagBits -= 2;
  }
done:
  std::string result;
  for (size_t i = 0; i < out.size(); ++i) {
    uint32_t c = out[i];
    if (c == 0) break;  // the name ends at its first zero character
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (out[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    platform::AppendUtf8(result, c);
  }
  return result;
}

}  // namespace tessavar
