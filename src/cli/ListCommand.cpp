// tessavar-cli l: the directory reader's listing, as JSON lines or a table.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "archive/formats/ztvZipTV.h"
#include "cli/CliCommon.h"
#include "cli/Commands.h"
#include "platform/File.h"

namespace tessavar::cli {

namespace {

std::string FolderOf(const std::string& name) {
  std::string n = name;
  if (!n.empty() && n.back() == '/') n.pop_back();
  size_t p = n.find_last_of('/');
  return p == std::string::npos ? std::string() : n.substr(0, p + 1);
}

std::string BaseOf(const std::string& name) {
  std::string n = name;
  bool dir = !n.empty() && n.back() == '/';
  if (dir) n.pop_back();
  size_t p = n.find_last_of('/');
  return (p == std::string::npos ? n : n.substr(p + 1)) + (dir ? "/" : "");
}

}  // namespace

int ListCommand(int argc, char** argv) {
  Options o;
  if (!ParseOptions("l", argc, argv, 2, "Jp", false, o)) return kUsage;
  static char outBuffer[1 << 20];
  std::setvbuf(stdout, outBuffer, _IOFBF, sizeof outBuffer);

  ErrorSink errors;
  if (!ArchiveOpens(o.archive, errors)) return kArchiveUnusable;
  TZipTV reader;
  errors.Attach(reader);
  reader.SetArchiveFileName(o.archive);
  if (o.json) {
    std::string line = "{\"archive\":{\"file\":";
    AppendJsonString(line, o.archive);
    line += ",\"type\":\"";
    line += ArcTypeName(reader.ArcType());
    line += "\",\"start_offset\":" + std::to_string(reader.StartOffset()) +
            ",\"size\":" + std::to_string(reader.ArchiveSize()) + "}}\n";
    std::fputs(line.c_str(), stdout);
  }
  if (!IsZipType(reader.ArcType())) {
    std::fflush(stdout);
    errors.Report(E_INVALIDARC, o.archive);
    return kArchiveUnusable;
  }
  reader.SetFileSpec(o.args.empty() ? TStrings{"*.*"} : TStrings(o.args.begin(), o.args.end()));
  reader.SetShowEmptyDirs(true);
  reader.SetPassword(o.password);
  bool damaged = false;
  reader.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) {
    // List what the local headers still tell.
    damaged = true;
    cancel = false;
  };
  std::string line;
  if (!o.json) {
    std::printf("%-32s %12s %12s %-16s %-19s %-8s %s\n", "Name", "Size", "Packed", "Type", "Modified", "CRC", "Path");
  }
  reader.OnRead = [&](TObject*, int, int) {
    const std::string& name = reader.FileName();
    const bool dir = (reader.ExternalAttr & 0x10) || (!name.empty() && name.back() == '/');
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08" PRIX32, reader.FileCRC);
    line.clear();
    if (o.json) {
      line += "{\"name\":";
      AppendJsonString(line, name);
      line += dir ? ",\"dir\":true" : ",\"dir\":false";
      line += ",\"size\":" + std::to_string(reader.UnpackedSize);
      line += ",\"packed\":" + std::to_string(reader.PackedSize);
      line += ",\"crc\":\"";
      line += crc;
      line += "\",\"method\":";
      AppendJsonString(line, reader.MethodName);
      line += ",\"method_id\":" + std::to_string(reader.MethodId);
      line += reader.Encrypted ? ",\"encrypted\":true" : ",\"encrypted\":false";
      line += ",\"modified\":\"" + IsoDateTime(reader.FileDateTime) + "\"";
      line += ",\"attr\":" + std::to_string(reader.ExternalAttr) + "}\n";
    } else {
      char row[512];
      const std::string type = dir ? "File Folder" : reader.GetFileTypeName(name);
      std::snprintf(row, sizeof row, "%-32s %12" PRId64 " %12" PRId64 " %-16s %-19s %-8s ", BaseOf(name).c_str(),
                    reader.UnpackedSize, reader.PackedSize, type.c_str(),
                    IsoDateTime(reader.FileDateTime).replace(10, 1, " ").c_str(), crc);
      line = row;
      line += FolderOf(name) + "\n";
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
  };
  bool ok = reader.Activate();
  if (o.json) {
    std::printf("{\"totals\":{\"files\":%d,\"size\":%" PRId64 ",\"packed\":%" PRId64 ",\"ratio\":%d}}\n",
                reader.FileCount, reader.TotalUnpacked, reader.TotalPacked,
                static_cast<int>(EntryRatioOf(reader.TotalUnpacked, reader.TotalPacked)));
  } else {
    std::printf("%d entries, %" PRId64 " bytes, %" PRId64 " packed, %d%% saved\n", reader.FileCount,
                reader.TotalUnpacked, reader.TotalPacked,
                static_cast<int>(EntryRatioOf(reader.TotalUnpacked, reader.TotalPacked)));
  }
  std::fflush(stdout);
  if (damaged) std::fprintf(stderr, "warning: %s has no usable central directory; listed from local headers\n", o.archive.c_str());
  if (errors.Saw(E_FOPEN)) return kArchiveUnusable;
  if (!ok || (errors.Saw(E_BADHEADER) && reader.FileCount == 0)) return kArchiveUnusable;
  if (errors.Count() > 0 || damaged) return kEntriesFailed;
  return kOk;
}

}  // namespace tessavar::cli
