#pragma once
// What every tessavar-cli command shares: argument parsing, the error line
// format, JSON text and the exit codes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tessavar {
class TZipCommon;
}

namespace tessavar::cli {

enum ExitCode { kOk = 0, kEntriesFailed = 1, kArchiveUnusable = 2, kUsage = 3 };

struct Options {
  bool json = false;
  std::string password;
  bool havePassword = false;
  std::string outDir;
  bool overwrite = false;    // -y
  bool skipExisting = false; // -n
  bool junkPaths = false;    // -j
  std::string type = "zip";  // -t
  bool encryptHeaders = false;
  int level = 6;             // -0 -1 -6 -9
  bool recurse = false;      // -r
  std::string archive;
  std::vector<std::string> args;  // patterns or paths
};

// Parses the options a command accepts ("jp" = --json and -p, ...); returns
// false (after printing why) on wrong usage.
bool ParseOptions(const std::string& command, int argc, char** argv, int first, const std::string& accepted,
                  bool needArgs, Options& out);

// Collects the component's errors, prints them as "error CODE: TEXT: FILE"
// and remembers the worst outcome.
class ErrorSink {
 public:
  void Attach(TZipCommon& component);
  void Report(int code, const std::string& file, const std::string& extended = "");
  int Count() const { return count_; }
  bool Saw(int code) const;

 private:
  int count_ = 0;
  std::vector<int> codes_;
};

// The archive exists and can be opened for reading; else the reason is
// reported (25192 or 25235) and the answer is false.
bool ArchiveOpens(const std::string& archive, ErrorSink& errors);

void AppendJsonString(std::string& out, const std::string& text);
// "2024-05-01T12:30:00" from a date-time in days since 1899-12-30.
std::string IsoDateTime(double dateTime);
void PrintUsage(FILE* to);

}  // namespace tessavar::cli
