#pragma once
// Shared by the writer tests: running a TZip, reading back what it wrote
// record by record, and extracting it with our own extractor.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "archive/write/ztvZip.h"
#include "archive/zip/ztvUnZip.h"
#include "archive/zip/ztvZipRecords.h"

namespace tessavar::test::zipwrite {

struct Written {
  std::string name;
  TCentralFileHeader central;
  TLocalFileHeader local;
  std::vector<uint8_t> centralExtra;
};

struct WrittenArchive {
  std::vector<Written> entries;
  TEndOfCentralDir end;
  bool zip64End = false;
  uint64_t zip64Entries = 0;
  std::string comment;
};

// Parses an archive with plain headers: the directory from the end record
// (or the zip64 end record), each entry's local header from its offset.
inline WrittenArchive ReadWritten(const std::filesystem::path& p) {
  const std::vector<uint8_t> b = ReadAll(p);
  WrittenArchive w;
  if (b.size() < 22) return w;
  size_t endPos = b.size() - 22;
  while (endPos > 0 && GetU32(&b[endPos]) != END_OF_CENTRAL_SIGNATURE) --endPos;
  w.end = TEndOfCentralDir::Parse(&b[endPos]);
  w.comment.assign(b.begin() + static_cast<long>(endPos) + 22, b.end());
  uint64_t dir = w.end.CentralDirOffset;
  uint64_t count = w.end.TotalEntries;
  if (endPos >= 20 && GetU32(&b[endPos - 20]) == ZIP64_END_LOCATOR_SIGNATURE) {
    const TZip64EndLocator l = TZip64EndLocator::Parse(&b[endPos - 20]);
    const TZip64EndOfCentralDir z = TZip64EndOfCentralDir::Parse(&b[l.Zip64EndOffset]);
    w.zip64End = true;
    w.zip64Entries = z.TotalEntries;
    dir = z.CentralDirOffset;
    count = z.TotalEntries;
  }
  size_t pos = static_cast<size_t>(dir);
  for (uint64_t i = 0; i < count && pos + 46 <= b.size(); ++i) {
    Written e;
    e.central = TCentralFileHeader::Parse(&b[pos]);
    e.name.assign(reinterpret_cast<const char*>(&b[pos + 46]), e.central.FileNameLength);
    e.centralExtra.assign(b.begin() + static_cast<long>(pos) + 46 + e.central.FileNameLength,
                          b.begin() + static_cast<long>(pos) + 46 + e.central.FileNameLength +
                              e.central.ExtraFieldLength);
    uint64_t offset = e.central.RelativeOffset;
    TSizeHighWords high;
    TCentralFileHeader c = e.central;
    ReadExtraField(e.centralExtra.data(), e.centralExtra.size(), c, high);
    offset = static_cast<uint64_t>(Size64(c.RelativeOffset, high.OffsetHigh));
    if (offset + 30 <= b.size()) e.local = TLocalFileHeader::Parse(&b[offset]);
    pos += 46u + e.central.FileNameLength + e.central.ExtraFieldLength + e.central.FileCommentLength;
    w.entries.push_back(std::move(e));
  }
  return w;
}

inline const Written* Find(const WrittenArchive& w, const std::string& name) {
  for (const Written& e : w.entries)
    if (e.name == name) return &e;
  return nullptr;
}

struct RunResult {
  int count = 0;
  std::vector<int> errors;
};

// One run of a configured writer with its errors collected.
inline RunResult RunZip(TZipBase& z) {
  RunResult r;
  z.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
    r.errors.push_back(code);
  };
  r.count = z.Compress();
  return r;
}

// A writer set up for Folder's files with the CLI's defaults.
inline void SetupZip(TZipBase& z, const std::string& archive, const TStrings& spec) {
  z.SetDefaultExt(".zip");
  z.SetArchiveFileName(archive);
  z.SetFileSpec(spec);
  z.SetStoredDirNames(sdRelative);
}

// Stored name -> extracted bytes, through our own extractor.
inline std::map<std::string, std::string> ExtractAll(const std::string& archive, const std::string& password = "",
                                                     int* failed = nullptr) {
  TempFolder out;
  TUnZip u;
  u.SetArchiveFileName(archive);
  u.SetFileSpec({"*.*"});
  u.SetExtractDir(out.str());
  u.SetCreateStoredDirs(true);
  if (!password.empty()) u.SetPassword(password);
  int bad = 0;
  u.OnEnd = [&](TObject*, const std::string&, bool ok) { bad += ok ? 0 : 1; };
  u.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyValues&, TSeedKeyValues&, bool& again) {
    again = false;
  };
  u.Extract();
  if (failed) *failed = bad;
  std::map<std::string, std::string> files;
  for (auto& it : std::filesystem::recursive_directory_iterator(out.path())) {
    if (!it.is_regular_file()) continue;
    const auto data = ReadAll(it.path());
    files[std::filesystem::relative(it.path(), out.path()).string()] = std::string(data.begin(), data.end());
  }
  return files;
}

}  // namespace tessavar::test::zipwrite
