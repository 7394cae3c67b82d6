#include "cli/CliCommon.h"

#include <algorithm>
#include <cstring>

#include "archive/frame/ztvBase.h"
#include "archive/frame/ztvErrors.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/Time.h"

namespace tessavar::cli {

void PrintUsage(FILE* to) {
  std::fputs(
      "usage: tessavar-cli COMMAND [OPTIONS] ARCHIVE [ARGS...]\n"
      "  l [--json] [-p PASSWORD] ARCHIVE [PATTERN...]              list\n"
      "  t [-p PASSWORD] ARCHIVE [PATTERN...]                       test\n"
      "  x [-o DIR] [-p PASSWORD] [-y|-n] [-j] ARCHIVE [PATTERN...] extract\n"
      "  a [-t zip|jar|lha|cab] [-p PASSWORD] [--encrypt-headers] [-0|-1|-6|-9] [-r] ARCHIVE PATH...  add\n"
      "  u ARCHIVE PATH...      refresh (replace older entries)\n"
      "  m ARCHIVE PATH...      move (add, then delete the files)\n"
      "  d ARCHIVE PATTERN...   delete entries\n"
      "Patterns are wildcard masks (default *.*). Exit status: 0 everything worked,\n"
      "1 some entries failed, 2 the archive could not be used, 3 wrong usage.\n",
      to);
}

bool ParseOptions(const std::string& command, int argc, char** argv, int first, const std::string& accepted,
                  bool needArgs, Options& out) {
  auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "tessavar-cli %s: %s\n", command.c_str(), why.c_str());
    PrintUsage(stderr);
    return false;
  };
  auto accepts = [&](char c) { return accepted.find(c) != std::string::npos; };
  bool optionsDone = false;
  for (int i = first; i < argc; ++i) {
    std::string a = argv[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
      continue;
    }
    if (!optionsDone && a.size() > 1 && a[0] == '-') {
      auto value = [&](std::string& into) {
        if (i + 1 >= argc) return false;
        into = argv[++i];
        return true;
      };
      if (a == "--json" && accepts('J')) out.json = true;
      else if (a == "--encrypt-headers" && accepts('E')) out.encryptHeaders = true;
      else if (a == "-p" && accepts('p')) {
        if (!value(out.password)) return fail("-p needs a password");
        out.havePassword = true;
      } else if (a == "-o" && accepts('o')) {
        if (!value(out.outDir)) return fail("-o needs a folder");
      } else if (a == "-t" && accepts('t')) {
        if (!value(out.type)) return fail("-t needs a type");
        if (out.type != "zip" && out.type != "jar" && out.type != "lha" && out.type != "cab")
          return fail("unknown archive type '" + out.type + "'");
      } else if (a == "-y" && accepts('y')) out.overwrite = true;
      else if (a == "-n" && accepts('n')) out.skipExisting = true;
      else if (a == "-j" && accepts('j')) out.junkPaths = true;
      else if (a == "-r" && accepts('r')) out.recurse = true;
      else if ((a == "-0" || a == "-1" || a == "-6" || a == "-9") && accepts('0')) out.level = a[1] - '0';
      else return fail("unknown option '" + a + "'");
      continue;
    }
    if (out.archive.empty()) out.archive = a;
    else out.args.push_back(a);
  }
  if (out.archive.empty()) return fail("no archive given");
  if (out.overwrite && out.skipExisting) return fail("-y and -n exclude each other");
  if (needArgs && out.args.empty()) return fail("nothing given to work on");
  return true;
}

void ErrorSink::Attach(TZipCommon& component) {
  component.OnError = [this](TObject*, const std::string& file, const std::string& extended, const std::string&,
                             int code) { Report(code, file, extended); };
}

void ErrorSink::Report(int code, const std::string& file, const std::string& extended) {
  ++count_;
  codes_.push_back(code);
  std::string line = "error " + std::to_string(code) + ": " + MessageOf(code);
  if (!extended.empty() && code == E_REQUIREDEVENT) line += " (" + extended + ")";
  if (!file.empty()) line += ": " + file;
  std::fprintf(stderr, "%s\n", line.c_str());
}

bool ErrorSink::Saw(int code) const { return std::find(codes_.begin(), codes_.end(), code) != codes_.end(); }

bool ArchiveOpens(const std::string& archive, ErrorSink& errors) {
  if (!platform::FileExists(archive)) {
    errors.Report(E_FILENOTFOUND, archive);
    return false;
  }
  const platform::FileHandle probe = platform::FileOpen(archive, platform::OpenMode::Read);
  if (probe == platform::kInvalidHandle) {
    errors.Report(E_FOPEN, archive);
    return false;
  }
  platform::FileClose(probe);
  return true;
}

void AppendJsonString(std::string& out, const std::string& text) {
  out += '"';
  const std::string valid = platform::IsValidUtf8(text) ? text : platform::OemToUtf8(text);
  for (unsigned char c : valid) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

std::string IsoDateTime(double dateTime) {
  platform::DateTimeParts p = platform::DecodeDateTime(dateTime);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

}  // namespace tessavar::cli
